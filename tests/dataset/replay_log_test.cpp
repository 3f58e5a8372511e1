// The replay log keeps the writes of a transaction packed into one buffer; what it gives back
// must be exactly what was kept, or a recovered transaction would store other values.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "dataset/ReplayLog.h"

namespace qel {
namespace {

struct Kept {
    TReplayLog::TWriteKind kind;
    TRecordId id;
    std::vector<Variant> values;  // empty for a delete
    TFieldFlags assigned;
};

void ExpectSame(const Variant& got, const Variant& want, std::size_t write, std::size_t field) {
    EXPECT_EQ(got.kind(), want.kind()) << "write " << write << " field " << field;
    EXPECT_EQ(got, want) << "write " << write << " field " << field;
}

TEST(ReplayLog, GivesBackEveryWriteAsItWasKept) {
    const std::string bytes("a\0b\xFF\x01", 5);  // a zero and a byte like the "not assigned" mark
    const std::vector<Kept> kept = {
        {TReplayLog::wkInsert,
         7,
         {Variant(42), Variant(std::string("text")), Variant::Null(), Variant(true)},
         {1, 1, 1, 1}},
        {TReplayLog::wkUpdate,
         std::numeric_limits<TRecordId>::max(),
         {Variant(-1.5), Variant(), Variant::FromDateTime(45000.25), Variant(false)},
         {1, 0, 1, 1}},
        {TReplayLog::wkDelete, 3, {}, {}},
        {TReplayLog::wkInsert,
         -2,
         {Variant(std::numeric_limits<std::int32_t>::min()), Variant(bytes), Variant(std::string()),
          Variant()},
         {1, 1, 1, 1}},
        {TReplayLog::wkUpdate, 8, {Variant(1), Variant(2), Variant(3), Variant(4)}, {0, 0, 0, 0}},
    };
    TReplayLog log;
    for (const Kept& k : kept) {
        const bool del = k.kind == TReplayLog::wkDelete;
        log.Add(k.kind, k.id, del ? nullptr : &k.values, del ? nullptr : &k.assigned);
    }
    ASSERT_EQ(log.Size(), kept.size());
    EXPECT_TRUE(log.Replayable());
    TReplayLog::TWrite w;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        log.Get(i, w);
        EXPECT_EQ(w.Kind, kept[i].kind) << "write " << i;
        EXPECT_EQ(w.Id, kept[i].id) << "write " << i;
        ASSERT_EQ(w.Assigned, kept[i].assigned) << "write " << i;
        ASSERT_EQ(w.Values.size(), kept[i].values.size()) << "write " << i;
        for (std::size_t f = 0; f < w.Values.size(); ++f) {
            if (kept[i].assigned[f]) ExpectSame(w.Values[f], kept[i].values[f], i, f);
        }
    }
}

TEST(ReplayLog, AnArrayValueMakesTheLogUnusableUntilCleared) {
    TReplayLog log;
    const std::vector<Variant> values = {Variant(1),
                                         Variant(Variant::Array{Variant(1), Variant(2)})};
    const TFieldFlags assigned = {1, 1};
    const TFieldFlags first = {1, 0};
    log.Add(TReplayLog::wkInsert, 1, &values, &first);  // the array left out: still usable
    EXPECT_TRUE(log.Replayable());
    log.Add(TReplayLog::wkInsert, 2, &values, &assigned);
    EXPECT_FALSE(log.Replayable());
    log.Clear();
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_TRUE(log.Replayable());
}

}  // namespace
}  // namespace qel
