// A write that fails because the database file may grow no more makes SQLite take back the
// whole open transaction. The table writes the transaction's earlier inserts, updates and
// deletes again and commits them, so only the failing write is lost.
#include "ReliabilityKit.h"

namespace qel::rel {
namespace {

void Exec(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

void Add(TSqliteTable& t, int id, const std::string& name) {
    t.Append();
    t.FieldByName("Id")->SetValue(id);
    t.FieldByName("Name")->SetValue(name);
    t.Post();
}

struct ReplayCase {
    const char* name;
    const char* schema;    // the table "log" with Id, Name, Note
    const char* expected;  // Id:Name of every row after the failure, in rowid order
};
void PrintTo(const ReplayCase& c, std::ostream* os) {
    *os << c.name;
}

class TableReplay : public ::testing::TestWithParam<ReplayCase> {};

TEST_P(TableReplay, EarlierWritesOfTheTransactionSurviveAFullDatabase) {
    const ReplayCase& c = GetParam();
    TempDir dir;
    const std::string db = dir.File("t.db");
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        Exec(h, c.schema);
        Exec(h, "INSERT INTO log (Id, Name) VALUES (1, 'one'), (2, 'two'), (3, 'three')");
        sqlite3_close(h);
    }
    TSqliteTable t;
    OpenTable(t, db);
    t.DisableControls();
    // Within one transaction: an update, a delete and new records.
    ASSERT_TRUE(t.Locate("Id", Variant(2)));
    t.Edit();
    t.FieldByName("Name")->SetValue("TWO");
    t.Post();
    ASSERT_TRUE(t.Locate("Id", Variant(3)));
    t.Delete();
    Add(t, 4, "four");
    Add(t, 5, "five");
    ASSERT_TRUE(t.InTransaction());

    // The file may not grow: a record of 64 KB needs new pages.
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(t.Handle(), "PRAGMA page_count", -1, &s, nullptr);
    sqlite3_step(s);
    const std::string cap = "PRAGMA max_page_count = " + std::to_string(sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    Exec(t.Handle(), cap.c_str());
    t.Append();
    t.FieldByName("Id")->SetValue(6);
    t.FieldByName("Note")->SetValue(std::string(65536, 'x'));
    try {
        t.Post();
        FAIL() << "the oversized record was stored";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("database or disk is full"), std::string::npos)
            << e.what();
        EXPECT_EQ(std::string(e.what()).find("lost"), std::string::npos) << e.what();
    }
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 4);
    t.EnableControls();

    SqliteReader reader(db);
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    EXPECT_EQ(
        reader.Scalar(
            "SELECT group_concat(Id || ':' || Name, ' ') FROM (SELECT * FROM log ORDER BY rowid)"),
        c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, TableReplay,
    ::testing::Values(
        ReplayCase{"RowidTable", "CREATE TABLE log (Id INTEGER, Name VARCHAR(40), Note TEXT)",
                   "1:one 2:TWO 4:four 5:five"},
        ReplayCase{"IntegerKey",
                   "CREATE TABLE log (Id INTEGER PRIMARY KEY, Name VARCHAR(40), Note TEXT)",
                   "1:one 2:TWO 4:four 5:five"},
        ReplayCase{
            "AutoIncrementAndIndex",
            "CREATE TABLE log (Id INTEGER PRIMARY KEY AUTOINCREMENT, Name VARCHAR(40), Note TEXT);"
            "CREATE INDEX log_name ON log (Name)",
            "1:one 2:TWO 4:four 5:five"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::rel
