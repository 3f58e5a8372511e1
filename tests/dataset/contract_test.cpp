// The dataset contract, run against every implementation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TableFactory.h"
#include "core/Errors.h"

namespace qel {
namespace {

using test::MemTableFactory;
using test::PgFactory;
using test::SqliteFactory;

class CountingLink : public TDataLink {
  public:
    void DataSetChanged() override { ++changes; }
    int changes = 0;
};

template <typename Factory>
class DataSetContract : public ::testing::Test {
  protected:
    // A small log table: ID, Host, Code (integer), Size (integer), Day (date-time), Ok (Boolean).
    std::unique_ptr<TDataSet> MakeLog(int rows = 0) {
        auto ds = factory_.Make({{"ID", ftInteger, 0, false},
                                 {"Host", ftString, 40, false},
                                 {"Code", ftInteger, 0, false},
                                 {"Size", ftFloat, 0, false},
                                 {"Day", ftDateTime, 0, false},
                                 {"Ok", ftBoolean, 0, false}});
        for (int i = 1; i <= rows; ++i) AppendRow(*ds, i, "host" + std::to_string(i), 200 + i % 2);
        if (rows > 0) ds->First();
        return ds;
    }
    static void AppendRow(TDataSet& ds, int id, const std::string& host, int code) {
        ds.Append();
        ds.FieldByName("ID")->SetValue(id);
        ds.FieldByName("Host")->SetValue(host);
        ds.FieldByName("Code")->SetValue(code);
        ds.Post();
    }
    static std::vector<int> Ids(TDataSet& ds) {
        std::vector<int> ids;
        for (ds.First(); !ds.Eof(); ds.Next())
            ids.push_back(ds.FieldByName("ID")->Value().AsInteger());
        return ids;
    }
    static std::string ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }
    Factory factory_;
};

using Implementations = ::testing::Types<MemTableFactory, SqliteFactory, PgFactory>;
TYPED_TEST_SUITE(DataSetContract, Implementations);

TYPED_TEST(DataSetContract, NavigationFlagsOnEmptyAndFilledTables) {
    auto empty = this->MakeLog();
    EXPECT_TRUE(empty->Eof());
    EXPECT_TRUE(empty->Bof());
    EXPECT_TRUE(empty->IsEmpty());
    empty->Next();
    empty->Last();
    EXPECT_TRUE(empty->Eof());
    EXPECT_TRUE(empty->FieldByName("ID")->Value().IsNull());
    EXPECT_EQ(empty->RecNo(), 0);

    auto ds = this->MakeLog(3);
    EXPECT_EQ(ds->RecordCount(), 3);
    EXPECT_FALSE(ds->Eof());
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(ds->RecNo(), 1);
    ds->Next();
    ds->Next();
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(3));
    ds->Next();  // past the last: Eof, the last record stays current
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(3));
    ds->Prior();
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(2));
    ds->First();
    ds->Prior();
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(1));
    ds->Last();
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(3));
}

TYPED_TEST(DataSetContract, DeleteMakesTheNextRecordCurrent) {
    struct Case {
        const char* name;
        int rows;
        int deleteAt;  // 1-based position of the record deleted
        int expectCurrent;
        bool expectEof;
        std::vector<int> remaining;
    };
    const Case cases[] = {
        {"middle", 3, 2, 3, false, {1, 3}},
        {"first", 3, 1, 2, false, {2, 3}},
        {"last: the new last is current, Eof", 3, 3, 2, true, {1, 2}},
        {"only record: empty, Eof", 1, 1, 0, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto ds = this->MakeLog(c.rows);
        for (int i = 1; i < c.deleteAt; ++i) ds->Next();
        ds->Delete();
        EXPECT_EQ(ds->State(), dsBrowse);
        EXPECT_EQ(ds->Eof(), c.expectEof);
        if (c.expectCurrent != 0) {
            EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(c.expectCurrent));
        } else {
            EXPECT_TRUE(ds->FieldByName("ID")->Value().IsNull());
        }
        EXPECT_EQ(ds->RecordCount(), static_cast<std::int64_t>(c.remaining.size()));
        EXPECT_EQ(this->Ids(*ds), c.remaining);
    }
}

TYPED_TEST(DataSetContract, EmptyingDeletesExactlyEveryRecord) {
    auto ds = this->MakeLog(5);
    int deleted = 0;
    ds->First();
    while (!ds->Eof()) {
        ds->Delete();
        ++deleted;
        ASSERT_LE(deleted, 5);
    }
    EXPECT_EQ(deleted, 5);
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_EQ(this->ErrorOf([&] { ds->Delete(); }), msg::kEmptyDataSet);
    EXPECT_EQ(this->ErrorOf([&] { ds->Edit(); }), msg::kEmptyDataSet);
    EXPECT_EQ(ds->State(), dsBrowse);
}

TYPED_TEST(DataSetContract, PostedAppendIsCurrentAndCancelRestoresTheCursor) {
    auto ds = this->MakeLog(2);
    ds->Next();  // on record 2
    ds->Append();
    EXPECT_EQ(ds->State(), dsInsert);
    EXPECT_TRUE(ds->FieldByName("ID")->Value().IsNull());
    ds->FieldByName("ID")->SetValue(9);
    ds->Cancel();
    EXPECT_EQ(ds->State(), dsBrowse);
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(2));
    EXPECT_EQ(ds->RecordCount(), 2);

    ds->Append();
    ds->FieldByName("ID")->SetValue(7);
    ds->FieldByName("Host")->SetValue("new");
    ds->Post();
    EXPECT_EQ(ds->State(), dsBrowse);
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(7));
    EXPECT_EQ(ds->FieldByName("Host")->Value(), Variant("new"));
    EXPECT_TRUE(ds->FieldByName("Code")->Value().IsNull());
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_EQ(this->Ids(*ds), (std::vector<int>{1, 2, 7}));
}

TYPED_TEST(DataSetContract, EditWritesOnlyWhatWasPostedAndCancelDiscards) {
    auto ds = this->MakeLog(2);
    ds->Edit();
    ds->FieldByName("Host")->SetValue("changed");
    EXPECT_EQ(ds->FieldByName("Host")->Value(), Variant("changed"));
    EXPECT_EQ(ds->FieldByName("Code")->Value(), Variant(201));  // unassigned fields still read
    ds->Cancel();
    EXPECT_EQ(ds->FieldByName("Host")->Value(), Variant("host1"));

    ds->Edit();
    ds->FieldByName("Code")->Clear();
    ds->FieldByName("Size")->SetValue(1.5);
    ds->Post();
    // Read back from the store (an updated record may move in a table kept in physical order).
    ds->Last();
    ASSERT_TRUE(ds->Locate("ID", Variant(1)));
    EXPECT_TRUE(ds->FieldByName("Code")->Value().IsNull());
    EXPECT_EQ(ds->FieldByName("Size")->Value(), Variant(1.5));
    EXPECT_EQ(ds->FieldByName("Host")->Value(), Variant("host1"));
    EXPECT_EQ(ds->RecordCount(), 2);
}

TYPED_TEST(DataSetContract, WritingOutsideEditOrInsertIsRefused) {
    auto ds = this->MakeLog(1);
    EXPECT_EQ(this->ErrorOf([&] { ds->FieldByName("Host")->SetValue("x"); }), msg::kNotEditing);
    EXPECT_EQ(this->ErrorOf([&] { ds->Post(); }), msg::kNotEditing);
    ds->Close();
    EXPECT_EQ(this->ErrorOf([&] { ds->First(); }), msg::kDataSetClosed);
    EXPECT_EQ(this->ErrorOf([&] { ds->Append(); }), msg::kDataSetClosed);
}

TYPED_TEST(DataSetContract, ValueTheFieldCannotTakeFailsAndStoresNothing) {
    auto ds = this->MakeLog(1);
    ds->FieldByName("Code")->SetDisplayLabel("Status code");
    ds->Append();
    ds->FieldByName("ID")->SetValue(2);
    EXPECT_EQ(this->ErrorOf([&] { ds->FieldByName("Code")->SetValue("-"); }),
              "Invalid value for field 'Status code'");
    EXPECT_EQ(ds->State(), dsInsert);
    EXPECT_TRUE(ds->FieldByName("Code")->Value().IsNull());
    ds->Cancel();
    EXPECT_EQ(ds->RecordCount(), 1);
    EXPECT_EQ(this->Ids(*ds), (std::vector<int>{1}));
}

TYPED_TEST(DataSetContract, FailedPostStaysInInsertAndCancelDiscards) {
    auto ds = this->factory_.Make({{"Key", ftInteger, 0, true}, {"Note", ftString, 10, false}});
    ds->Append();
    ds->FieldByName("Note")->SetValue("no key");
    EXPECT_EQ(this->ErrorOf([&] { ds->Post(); }), "Field 'Key' must have a value");
    EXPECT_EQ(ds->State(), dsInsert);
    EXPECT_EQ(ds->FieldByName("Note")->Value(), Variant("no key"));
    ds->Cancel();
    EXPECT_EQ(ds->State(), dsBrowse);
    EXPECT_EQ(ds->RecordCount(), 0);
    EXPECT_TRUE(ds->Eof());
}

TYPED_TEST(DataSetContract, FieldLookupIgnoresLetterCase) {
    auto ds = this->MakeLog(1);
    ASSERT_NE(ds->FindField("host"), nullptr);
    EXPECT_EQ(ds->FindField("HOST")->Index(), 1);
    EXPECT_EQ(ds->FindField("Hostname"), nullptr);
    EXPECT_EQ(this->ErrorOf([&] { ds->FieldByName("Nope"); }), "Field 'Nope' not found");
    EXPECT_EQ(this->ErrorOf([&] { ds->Fields(6); }), "List index out of bounds (6)");
    EXPECT_EQ(ds->FieldValues("code"), Variant(201));
    EXPECT_EQ(ds->FieldValues("Host; ID"), VarArrayOf({"host1", 1}));
    EXPECT_EQ(this->ErrorOf([&] { ds->FieldValues("Host;Nope"); }), "Field 'Nope' not found");
}

TYPED_TEST(DataSetContract, LocateWithOneOrSeveralKeys) {
    auto ds = this->MakeLog(4);  // codes: 201 200 201 200
    ds->Append();
    ds->FieldByName("ID")->SetValue(5);
    ds->Post();  // Host and Code null
    struct Case {
        const char* keys;
        Variant values;
        bool found;
        int id;
    };
    const Case cases[] = {
        {"ID", Variant(3), true, 3},
        {"id", Variant("3"), true, 3},    // text converted to the key's type
        {"Code", Variant(200), true, 2},  // the first match in stored order
        {"Code;Host", VarArrayOf({200, "host4"}), true, 4},
        {"Host;Code", VarArrayOf({"host4", 201}), false, 0},
        {"Host", Variant("HOST2"), false, 0},  // case-sensitive
        {"Host", Variant("host"), false, 0},   // exact, not a prefix
        {"Code", Variant("abc"), false, 0},    // not an integer: nothing matches
        {"Code", Variant::Null(), true, 5},    // null finds a null field
        {"ID", VarArrayOf({2}), true, 2},      // a one-element array for one key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keys) + " " + DebugString(c.values));
        ds->First();
        ds->Next();  // on ID 2
        EXPECT_EQ(ds->Locate(c.keys, c.values), c.found);
        EXPECT_EQ(ds->FieldByName("ID")->Value(),
                  Variant(c.found ? c.id : 2));  // no match: cursor stays
    }
    EXPECT_TRUE(ds->Locate("Host", Variant("HOST2"), loCaseInsensitive));
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(2));
    EXPECT_TRUE(ds->Locate("Host", Variant("HOST3"), loCaseInsensitive | loPartialKey));
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(3));
    EXPECT_EQ(this->ErrorOf([&] { ds->Locate("Nope", Variant(1)); }), "Field 'Nope' not found");
    EXPECT_EQ(this->ErrorOf([&] { ds->Locate("ID;Code", Variant(1)); }), msg::kInvalidVarCast);
}

TYPED_TEST(DataSetContract, DisabledControlsFreezeViewsUntilTheOutermostEnable) {
    auto ds = this->MakeLog(2);
    CountingLink link;
    ds->AddDataLink(&link);
    ds->Next();
    EXPECT_EQ(link.changes, 1);
    ds->DisableControls();
    ds->DisableControls();
    ds->First();
    this->AppendRow(*ds, 3, "h", 200);
    ds->Delete();
    ds->EnableControls();
    EXPECT_EQ(link.changes, 1);
    EXPECT_TRUE(ds->ControlsDisabled());
    ds->EnableControls();
    EXPECT_EQ(link.changes, 2);  // refreshed once
    EXPECT_FALSE(ds->ControlsDisabled());
    if (auto* mem = dynamic_cast<TMemTable*>(ds.get())) {
        EXPECT_EQ(mem->FlushCount(), 0);  // the end of the stretch is not a FlushBuffers call
    }
    ds->EnableControls();  // unbalanced: ignored
    EXPECT_FALSE(ds->ControlsDisabled());
    ds->RemoveDataLink(&link);
    ds->First();
    EXPECT_EQ(link.changes, 2);
}

TYPED_TEST(DataSetContract, ReadRecordsLeavesTheCursorAlone) {
    auto ds = this->MakeLog(5);
    ds->Next();
    std::vector<std::vector<Variant>> rows;
    ds->ReadRecords(3, 10, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Variant(4));
    EXPECT_EQ(rows[1][1], Variant("host5"));
    ds->ReadRecords(0, 2, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][0], Variant(2));
    ds->ReadRecords(5, 2, rows);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(ds->FieldByName("ID")->Value(), Variant(2));
    EXPECT_EQ(ds->RecNo(), 2);
}

TYPED_TEST(DataSetContract, StoredValuesReadBackWithTheirTypes) {
    auto ds = this->factory_.Make({{"S", ftString, 5, false},
                                   {"I", ftInteger, 0, false},
                                   {"W", ftSmallint, 0, false},
                                   {"F", ftFloat, 0, false},
                                   {"B", ftBoolean, 0, false},
                                   {"D", ftDate, 0, false},
                                   {"T", ftTime, 0, false},
                                   {"DT", ftDateTime, 0, false}});
    const TDateTime when = EncodeDate(2003, 12, 25) + EncodeTime(10, 15, 42, 123);
    ds->Append();
    ds->FieldByName("S")->SetValue("longer than five");  // never cut to the size
    ds->FieldByName("I")->SetValue("-2147483648");
    ds->FieldByName("W")->SetValue(-32768);
    ds->FieldByName("F")->SetValue(0.1);
    ds->FieldByName("B")->SetValue(false);
    ds->FieldByName("D")->SetValue(Variant::FromDateTime(when));
    ds->FieldByName("T")->SetValue(Variant::FromDateTime(when));
    ds->FieldByName("DT")->SetValue(Variant::FromDateTime(when));
    std::string s = "longer than five";
    if constexpr (test::kRefusesLongText<TypeParam>) {
        // The record fails at its own Post and can be mended.
        EXPECT_EQ(this->ErrorOf([&] { ds->Post(); }),
                  "Invalid value for field 'S' (longer than 5 characters)");
        EXPECT_EQ(ds->State(), dsInsert);
        ds->FieldByName("S")->SetValue("five  ");  // blanks beyond the size are dropped
    }
    ds->Post();
    ds->Close();
    ds->Open();
    EXPECT_EQ(ds->RecordCount(), 1);
    if constexpr (test::kRefusesLongText<TypeParam>) s = "five ";
    EXPECT_EQ(ds->FieldByName("S")->Value(), Variant(s));
    EXPECT_EQ(ds->FieldByName("I")->Value(), Variant(std::int32_t{-2147483647 - 1}));
    EXPECT_EQ(ds->FieldByName("W")->Value(), Variant(-32768));
    EXPECT_EQ(ds->FieldByName("F")->Value(), Variant(0.1));
    EXPECT_EQ(ds->FieldByName("B")->Value(), Variant(false));
    EXPECT_EQ(ds->FieldByName("D")->Value(), Variant::FromDateTime(EncodeDate(2003, 12, 25)));
    EXPECT_EQ(ds->FieldByName("T")->Value(), Variant::FromDateTime(EncodeTime(10, 15, 42, 123)));
    EXPECT_EQ(ds->FieldByName("DT")->Value(), Variant::FromDateTime(when));
}

}  // namespace
}  // namespace qel
