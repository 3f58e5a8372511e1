// Inserts of a bulk stretch that wait in a batch: whatever the table's schema and whatever a
// caller does between posts, the stretch must give every record the rowid, every failure, every
// search and count the answer, and the file the rows that posting record by record gives.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "SqlOnFile.h"
#include "TableFactory.h"
#include "core/Errors.h"

namespace qel {
namespace {

using test::OpenTable;
using test::Sql;
using test::TempDir;

// Counts the insert statements run (a trigger's program reports itself as a "--" comment).
int CountInserts(unsigned, void* count, void*, void* text) {
    const char* sql = static_cast<const char*>(text);
    if (sql != nullptr && std::string(sql).rfind("INSERT", 0) == 0) ++*static_cast<int*>(count);
    return 0;
}

struct BatchSchema {
    const char* name;
    const char* sql;  // table t with the columns A (text), B (integer), C (text), maybe Id
    bool hasId;
    bool batches;  // whether its inserts may wait in a batch
};
void PrintTo(const BatchSchema& s, std::ostream* os) {
    *os << s.name;
}

class SqliteBatch : public ::testing::TestWithParam<BatchSchema> {};

// One seeded sequence of appends (random fields, nulls, long texts, failing values), deletes,
// updates, searches, counts, reads, flushes and direct queries, run record by record (outside
// a stretch every post commits) and in one bulk stretch; the transcripts and files must match.
TEST_P(SqliteBatch, AStretchAnswersAndStoresAsPostingRecordByRecord) {
    const BatchSchema& schema = GetParam();
    TempDir dir;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::string transcripts[2], dumps[2];
        int inserts[2] = {0, 0}, posted[2] = {0, 0};  // inserts: those of the last 500 appends
        for (int stretch = 0; stretch < 2; ++stretch) {
            const std::string name = "s" + std::to_string(seed) + "-" + std::to_string(stretch);
            Sql(dir.File(name + ".db"), schema.sql);
            TSqliteTable t;
            OpenTable(t, dir, name + ".db");
            sqlite3_trace_v2(t.Handle(), SQLITE_TRACE_STMT, CountInserts, &inserts[stretch]);
            // A commit for every post outside the stretch: not waiting for the disk keeps the
            // test quick and changes nothing else.
            sqlite3_exec(t.Handle(), "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
            std::string& out = transcripts[stretch];
            std::mt19937 rng(seed);
            auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
            auto text = [&]() -> Variant {
                switch (pick(6)) {
                    case 0:
                        return Variant::Null();
                    case 1:
                        return Variant(std::string(9000 + pick(100), 'x'));  // not batched
                    case 2:
                        return Variant("[" + std::to_string(pick(1000)) + "]");  // JSON too
                    default:
                        return Variant("t" + std::to_string(pick(1000)));
                }
            };
            auto locate = [&](int b) { return t.Locate("B", Variant(b), TLocateOptions{}); };
            if (stretch) t.DisableControls();
            for (int op = 0; op < 600; ++op) {
                const int what = pick(100);
                try {
                    if (what < 70) {
                        t.Append();
                        if (pick(4) != 0) t.FieldByName("A")->SetValue(text());
                        if (pick(5) != 0) t.FieldByName("B")->SetValue(Variant(pick(40)));
                        if (pick(3) != 0) t.FieldByName("C")->SetValue(text());
                        if (schema.hasId && pick(8) == 0)
                            t.FieldByName("Id")->SetValue(pick(2) ? Variant::Null()
                                                                  : Variant(pick(700)));
                        t.Post();
                        ++posted[stretch];
                        out += "post\n";
                        // The record just posted, read back or deleted by the rowid it was
                        // given.
                        if (pick(10) == 0) {
                            out += "posted " + t.FieldByName("A")->AsString().substr(0, 9) + "|" +
                                   t.FieldByName("C")->AsString().substr(0, 9) + "\n";
                        } else if (pick(30) == 0) {
                            t.Delete();
                        }
                    } else if (what < 76) {
                        if (locate(pick(40))) {
                            out += "delete " + t.FieldByName("A")->AsString().substr(0, 9) + "\n";
                            t.Delete();
                        }
                    } else if (what < 82) {
                        if (locate(pick(40))) {
                            t.Edit();
                            t.FieldByName("C")->SetValue(text());
                            t.Post();
                            out += "update\n";
                        }
                    } else if (what < 88) {
                        const bool found = locate(pick(40));
                        out += "found " +
                               (found ? t.FieldByName("C")->AsString().substr(0, 9) : "-") + "\n";
                    } else if (what < 91) {
                        out += "count " + std::to_string(t.RecordCount()) + "\n";
                    } else if (what < 94) {
                        t.Last();
                        out += "last " + t.FieldByName("C")->AsString() + "\n";
                    } else if (what < 98) {
                        t.FlushBuffers();
                    } else {
                        sqlite3_stmt* s = nullptr;
                        sqlite3_prepare_v2(t.Handle(), "SELECT count(*), max(rowid) FROM t", -1, &s,
                                           nullptr);
                        sqlite3_step(s);
                        out += "direct " + std::to_string(sqlite3_column_int64(s, 0)) + " " +
                               std::to_string(sqlite3_column_int64(s, 1)) + "\n";
                        sqlite3_finalize(s);
                    }
                } catch (const Exception& e) {
                    out += "error " + e.Message() + "\n";
                    if (t.State() != dsBrowse) t.Cancel();
                }
            }
            // Then appends of one pattern with nothing read between them.
            const int before = inserts[stretch];
            for (int i = 0; i < 500; ++i) {
                t.Append();
                t.FieldByName("A")->SetValue(Variant("a" + std::to_string(i)));
                t.FieldByName("B")->SetValue(Variant(100 + i));
                t.FieldByName("C")->SetValue(Variant("[" + std::to_string(i) + "]"));
                t.Post();
            }
            if (stretch) t.EnableControls();
            inserts[stretch] -= before;
            out += "lost " + std::to_string(t.LostRecords()) + "\n";
            t.Close();
            dumps[stretch] =
                Sql(dir.File(name + ".db"),
                    "SELECT rowid, quote(A), quote(B), quote(C) FROM t ORDER BY rowid;");
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(transcripts[1], transcripts[0]);
        EXPECT_EQ(dumps[1], dumps[0]);
        EXPECT_GT(posted[1], 100);
        // The 500 appends of one pattern: posting record by record runs an insert for each; a
        // stretch into a table whose inserts cannot fail runs a statement for many.
        EXPECT_EQ(inserts[0], 500);
        if (schema.batches) {
            EXPECT_LT(inserts[1], 500 / 4);
        } else {
            EXPECT_EQ(inserts[1], 500);
        }
    }
}

// A batch that no longer fits (the file may not grow) when a flush writes it: the records
// that fit are written in their order and committed with those before, the others are lost and
// counted, the flush raises the loss, and from then on each record fails at its own post.
TEST(SqliteBatchFailure, TheRecordsThatFitAreCommittedAndTheOthersCountedLost) {
    TempDir dir;
    const std::string file = dir.File("t.db");
    Sql(file, "CREATE TABLE t (A TEXT, B INTEGER, C TEXT);");
    TSqliteTable t;
    OpenTable(t, dir, "t.db");
    auto post = [&](int i) {
        t.Append();
        t.FieldByName("A")->SetValue(Variant(std::string(100, 'a')));
        t.FieldByName("B")->SetValue(Variant(i));
        t.Post();
    };
    t.DisableControls();
    for (int i = 1; i <= 10; ++i) post(i);
    t.FlushBuffers();
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(t.Handle(), "PRAGMA page_count", -1, &s, nullptr);
    sqlite3_step(s);
    const std::string cap = "PRAGMA max_page_count = " + std::to_string(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    ASSERT_EQ(sqlite3_exec(t.Handle(), cap.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const int kBatched = static_cast<int>(TSqliteTable::kInsertBatch) - 4;
    for (int i = 11; i < 11 + kBatched; ++i) post(i);  // more than the last page holds
    EXPECT_EQ(t.LostRecords(), 0);
    std::string error;
    try {
        t.FlushBuffers();
    } catch (const Exception& e) {
        error = e.Message();
    }
    EXPECT_NE(error.find("could not be written and were lost"), std::string::npos) << error;
    const std::int64_t lost = t.LostRecords();
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, kBatched);
    // Committed: another connection sees the first records in their order, and no others.
    std::string expected;
    for (int i = 1; i <= 10 + kBatched - lost; ++i) expected += std::to_string(i) + "\n";
    EXPECT_EQ(Sql(file, "SELECT B FROM t ORDER BY rowid;"), expected);
    // The next record fails where it is posted.
    std::string next;
    try {
        post(1000);
    } catch (const Exception& e) {
        next = e.Message();
        t.Cancel();
    }
    EXPECT_NE(next.find("full"), std::string::npos) << next;
    EXPECT_EQ(t.LostRecords(), lost);
    t.EnableControls();
    t.Close();
    EXPECT_EQ(Sql(file, "SELECT count(*) FROM t;"), std::to_string(10 + kBatched - lost) + "\n");
}

// A batch whose statement fails on some of its records while the transaction goes on (here
// texts over a length limit set meanwhile): the others are written, the flush commits them and
// then raises the loss, and a record over the limit then fails at its own post.
TEST(SqliteBatchFailure, AFlushCommitsWhatItWroteBeforeItRaisesTheLoss) {
    TempDir dir;
    const std::string file = dir.File("t.db");
    Sql(file, "CREATE TABLE t (A TEXT, B INTEGER);");
    TSqliteTable t;
    OpenTable(t, dir, "t.db");
    auto post = [&](int i) {
        t.Append();
        t.FieldByName("A")->SetValue(Variant(std::string(i % 3 == 0 ? 2000 : 10, 'a')));
        t.FieldByName("B")->SetValue(Variant(i));
        t.Post();
    };
    t.DisableControls();
    sqlite3_limit(t.Handle(), SQLITE_LIMIT_LENGTH, 1000);  // after the batch's first record
    for (int i = 1; i <= 30; ++i) post(i);
    std::string error;
    try {
        t.FlushBuffers();
    } catch (const Exception& e) {
        error = e.Message();
    }
    EXPECT_NE(error.find("10 posted record(s) could not be written"), std::string::npos) << error;
    EXPECT_EQ(t.LostRecords(), 10);
    std::string expected;
    for (int i = 1; i <= 30; ++i) {
        if (i % 3 != 0) expected += std::to_string(i) + "\n";
    }
    EXPECT_EQ(Sql(file, "SELECT B FROM t ORDER BY rowid;"), expected);  // committed
    std::string next;
    try {
        post(33);
    } catch (const Exception& e) {
        next = e.Message();
        t.Cancel();
    }
    EXPECT_NE(next.find("too big"), std::string::npos) << next;
    t.EnableControls();
    t.Close();
    EXPECT_EQ(t.LostRecords(), 10);
}

INSTANTIATE_TEST_SUITE_P(
    Schemas, SqliteBatch,
    ::testing::Values(
        BatchSchema{"Plain", "CREATE TABLE t (A TEXT, B INTEGER, C TEXT);", false, true},
        BatchSchema{"IndexedAndDefaults",
                    "CREATE TABLE t (A TEXT DEFAULT 'a', B INTEGER, C TEXT NOT NULL DEFAULT 'c');"
                    "CREATE INDEX tb ON t (B);",
                    false, true},
        BatchSchema{"RowidAlias",
                    "CREATE TABLE t (Id INTEGER PRIMARY KEY, A TEXT, B INTEGER, C TEXT);", true,
                    true},
        BatchSchema{"Unique", "CREATE TABLE t (A TEXT, B INTEGER UNIQUE, C TEXT);", false, false},
        BatchSchema{"Check", "CREATE TABLE t (A TEXT, B INTEGER CHECK (B <> 13), C TEXT);", false,
                    false},
        BatchSchema{"Trigger",
                    "CREATE TABLE t (A TEXT, B INTEGER, C TEXT); CREATE TRIGGER no13 BEFORE "
                    "INSERT ON t WHEN new.B = 13 BEGIN SELECT RAISE(ABORT, 'thirteen'); END;",
                    false, false},
        BatchSchema{"AutoIncrement",
                    "CREATE TABLE t (Id INTEGER PRIMARY KEY AUTOINCREMENT, A TEXT, B INTEGER, C "
                    "TEXT);",
                    true, false},
        BatchSchema{"ExpressionIndex",
                    "CREATE TABLE t (A TEXT, B INTEGER, C TEXT); CREATE INDEX tx ON t "
                    "(json_extract(C, '$'));",
                    false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel
