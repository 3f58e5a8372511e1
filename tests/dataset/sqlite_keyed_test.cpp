// Keyed updates of the SQLite table: an update right after the search that found the record
// leaves out the key columns it would write unchanged. The table must end exactly as with every
// column written, in value and storage class, whatever the column types and stored values.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "SqlOnFile.h"
#include "TableFactory.h"
#include "core/DateTime.h"
#include "core/Errors.h"
#include "dataset/SqliteLocated.h"

namespace qel {
namespace {

using test::Sql;
using test::TempDir;

// Every binding BindSqliteValue makes is recognised from what SQLite then holds, and nothing
// else is: each case's value is bound and read back, then compared with every case's binding.
TEST(SqliteStored, RecognisesExactlyTheValueABindingStores) {
    const TDateTime when = EncodeDate(2023, 11, 14) + EncodeTime(22, 13, 22, 0);
    struct Case {
        Variant value;
        TFieldType type;
    };
    const Case cases[] = {
        {Variant::Null(), ftString},
        {Variant(), ftInteger},
        {Variant(5), ftInteger},
        {Variant(5), ftString},
        {Variant(6), ftInteger},
        {Variant(0), ftInteger},
        {Variant(5.0), ftInteger},  // a real for an integer field binds the rounded integer
        {Variant(5.4), ftLargeint},
        {Variant(5.0), ftFloat},  // a float: never recognised
        {Variant(-0.0), ftFloat},
        {Variant(true), ftBoolean},
        {Variant(false), ftBoolean},
        {Variant(1), ftBoolean},
        {Variant::FromDateTime(when), ftDateTime},
        {Variant::FromDateTime(when), ftDate},
        {Variant::FromDateTime(when), ftTime},
        {Variant("2023-11-14T22:13:22"), ftDateTime},
        {Variant("5"), ftString},
        {Variant("5"), ftInteger},  // text stays text in the binding
        {Variant("5"), ftBlob},
        {Variant(""), ftString},
        {Variant(std::string("a\0b", 3)), ftString},
        {Variant(std::string("a\0b", 3)), ftBlob},
        {Variant("14/Nov/2023:22:13:22 +0000"), ftString},
    };
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?1", -1, &s, nullptr), SQLITE_OK);
    auto stored = [&](const Case& c) {
        TSqliteStored out;
        EXPECT_EQ(BindSqliteValue(s, 1, c.value, c.type), SQLITE_OK);
        EXPECT_EQ(sqlite3_step(s), SQLITE_ROW);
        out.Read(s, 0);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return out;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const TSqliteStored held = stored(cases[i]);
        for (std::size_t j = 0; j < std::size(cases); ++j) {
            SCOPED_TRACE(std::to_string(i) + " holds, " + std::to_string(j) + " bound");
            const TSqliteStored bound = stored(cases[j]);
            const bool same = held.Type == bound.Type && held.Integer == bound.Integer &&
                              held.Bytes == bound.Bytes && held.Type != SQLITE_FLOAT;
            EXPECT_EQ(held.IsBindingOf(cases[j].value, cases[j].type), same);
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}

// One keyed write as a run makes it: search the key; edit the record found, else append; write
// the values; post.
struct Upsert {
    std::vector<Variant> keys;    // searched for
    std::vector<Variant> values;  // written: the key fields first, then V
};

void Apply(TSqliteTable& t, const std::string& keyNames, const std::vector<Upsert>& rows) {
    t.DisableControls();
    for (const Upsert& r : rows) {
        const Variant key = r.keys.size() == 1 ? r.keys[0] : Variant(Variant::Array(r.keys));
        if (t.Locate(keyNames, key))
            t.Edit();
        else
            t.Append();
        try {
            for (std::size_t i = 0; i < r.values.size(); ++i)
                t.Fields(static_cast<int>(i))->SetValue(r.values[i]);
            t.Post();
        } catch (const Exception&) {
            t.Cancel();  // a value the field refuses: the row is dropped, as in a run
        }
    }
    t.EnableControls();
}

// The UPDATE statements the connection ran, as their SQL.
int TraceUpdates(unsigned, void* p, void*, void* text) {
    // The statement's text; a trigger's program comes as "-- TRIGGER name".
    const std::string sql = static_cast<const char*>(text);
    if (sql.rfind("UPDATE", 0) == 0) static_cast<std::vector<std::string>*>(p)->push_back(sql);
    return 0;
}

TEST(SqliteKeyedUpdate, EndsAsWithEveryColumnWrittenForEveryKeyType) {
    const TDateTime day = EncodeDate(2024, 2, 29);
    struct Case {
        const char* name;
        const char* columns;  // the key columns first, then V
        const char* stored;   // rows there before the run, as SQL values
        const char* keyNames;
        std::vector<Upsert> rows;
        bool leavesOut;  // some update leaves the key out
    };
    const Case cases[] = {
        {"text key with repeats",
         "K TEXT, V TEXT",
         "('a', 'old'), ('b', 'old'), ('A', 'old'), (NULL, 'null key')",
         "K",
         {{{Variant("a")}, {Variant("a"), Variant("1")}},
          {{Variant("a")}, {Variant("a"), Variant("2")}},
          {{Variant("A")}, {Variant("A"), Variant("3")}},
          {{Variant("c")}, {Variant("c"), Variant("4")}},
          {{Variant("c")}, {Variant("c"), Variant("5")}},
          {{Variant::Null()}, {Variant::Null(), Variant("6")}},
          {{Variant("b")}, {Variant("B"), Variant("key changed")}},
          {{Variant("b")}, {Variant("b"), Variant("not found")}}},
         true},
        {"integer key from text, numbers and reals",
         "K INTEGER, V TEXT",
         "(5, 'old'), ('x', 'old'), (7, 'old')",
         "K",
         {{{Variant("5")}, {Variant("5"), Variant("1")}},
          {{Variant(5)}, {Variant(5.0), Variant("2")}},
          {{Variant("x")}, {Variant("x"), Variant("3")}},
          {{Variant(7)}, {Variant(7.4), Variant("4")}},
          {{Variant(7)}, {Variant("7"), Variant("5")}}},
         true},
        {"real key",
         "K REAL, V TEXT",
         "(2.5, 'old'), (0.0, 'old')",
         "K",
         {{{Variant(2.5)}, {Variant(2.5), Variant("1")}},
          {{Variant(0)}, {Variant(-0.0), Variant("2")}},
          {{Variant("2.5")}, {Variant("2.5"), Variant("3")}}},
         false},
        {"key column without a type holding numbers and texts",
         "K, V TEXT",
         "(5, 'int'), ('5', 'text'), (5.0, 'real'), (X'35', 'blob')",
         "K",
         {{{Variant(5)}, {Variant(5), Variant("1")}},
          {{Variant("5")}, {Variant("5"), Variant("2")}},
          {{Variant(5)}, {Variant(5.0), Variant("3")}},
          {{Variant("5")}, {Variant(5), Variant("4")}}},
         true},
        {"date key",
         "K DATETIME, V TEXT",
         "('2024-02-29', 'old'), ('2024-02-29T00:00:00', 'old')",
         "K",
         {{{Variant::FromDateTime(day)}, {Variant::FromDateTime(day), Variant("1")}},
          {{Variant("2024-02-29")}, {Variant("2024-02-29"), Variant("2")}}},
         true},
        {"two keys, one of them changed",
         "A TEXT, B INTEGER, V TEXT",
         "('x', 1, 'old'), ('x', 2, 'old')",
         "A;B",
         {{{Variant("x"), Variant(1)}, {Variant("x"), Variant(1), Variant("1")}},
          {{Variant("x"), Variant(2)}, {Variant("x"), Variant(3), Variant("2")}},
          {{Variant("x"), Variant(1)}, {Variant("y"), Variant(1), Variant("3")}}},
         true},
        {"rowid key",
         "K INTEGER PRIMARY KEY, V TEXT",
         "(3, 'old'), (9, 'old')",
         "K",
         {{{Variant(3)}, {Variant(3), Variant("1")}},
          {{Variant(9)}, {Variant(9), Variant("2")}},
          {{Variant(9)}, {Variant(10), Variant("moved")}},
          {{Variant(3)}, {Variant(3), Variant("3")}}},
         true},
        {"blob key",
         "K BLOB, V TEXT",
         "(X'00FF', 'old'), ('ab', 'text')",
         "K",
         {{{Variant(std::string("\0\xff", 2))}, {Variant(std::string("\0\xff", 2)), Variant("1")}},
          {{Variant("ab")}, {Variant("ab"), Variant("2")}}},
         true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dumps[2];
        std::vector<std::string> updates[2];
        for (int plain = 0; plain < 2; ++plain) {
            const std::string name = plain ? "plain.db" : "short.db";
            std::remove(dir.File(name).c_str());
            Sql(dir.File(name), std::string("CREATE TABLE t (") + c.columns +
                                    "); INSERT INTO t VALUES " + c.stored + ";");
            // A trigger that does nothing makes every update write all its columns.
            if (plain)
                Sql(dir.File(name),
                    "CREATE TRIGGER keep AFTER UPDATE ON t WHEN 0 BEGIN SELECT 1; END;");
            TSqliteTable t;
            t.SetDatabaseName(dir.Path().string());
            t.SetTableName(name);
            t.Open();
            sqlite3_trace_v2(t.Handle(), SQLITE_TRACE_STMT, TraceUpdates, &updates[plain]);
            // The first row once more in front: as in a run, the first search comes before the
            // transaction opens, the later ones inside it.
            std::vector<Upsert> rows = c.rows;
            rows.insert(rows.begin(), c.rows[0]);
            Apply(t, c.keyNames, rows);
            t.Close();
            std::string columns;
            for (int i = 0; i < t.FieldCount(); ++i) {
                const std::string f = t.Fields(i)->FieldName();
                columns += ", quote(" + f + "), typeof(" + f + ")";
            }
            dumps[plain] =
                Sql(dir.File(name), "SELECT rowid" + columns + " FROM t ORDER BY rowid;");
        }
        EXPECT_EQ(dumps[0], dumps[1]);
        EXPECT_EQ(updates[0].size(), updates[1].size());
        // Whether an update sets the first key column.
        const std::string firstKey = "\"" + std::string(c.columns).substr(0, 1) + "\" = ";
        auto setsKey = [&](const std::string& sql) {
            return sql.substr(0, sql.find(" WHERE ")).find(firstKey) != std::string::npos;
        };
        int leftOut = 0;
        for (const std::string& sql : updates[0]) leftOut += !setsKey(sql);
        for (const std::string& sql : updates[1]) EXPECT_TRUE(setsKey(sql)) << sql;
        EXPECT_EQ(leftOut > 0, c.leavesOut) << dumps[0] << testing::PrintToString(updates[0]);
    }
}

// What the search read counts only until anything else is written or committed: after a
// commit another connection may change the record before the update.
TEST(SqliteKeyedUpdate, AKeyChangedElsewhereAfterACommitIsWrittenAgain) {
    TempDir dir;
    const std::string file = dir.File("t.db");
    Sql(file, "CREATE TABLE t (K TEXT, V TEXT); INSERT INTO t VALUES ('a', 'old'), ('b', 'old');");
    TSqliteTable t;
    t.SetDatabaseName(dir.Path().string());
    t.SetTableName("t.db");
    t.Open();
    t.DisableControls();
    ASSERT_TRUE(t.Locate("K", Variant("b")));
    t.Edit();
    t.FieldByName("V")->SetValue("first");
    t.Post();  // the transaction is open from here
    ASSERT_TRUE(t.Locate("K", Variant("a")));
    t.FlushBuffers();
    Sql(file, "UPDATE t SET K = 'changed' WHERE K = 'a';");
    t.Edit();
    t.FieldByName("K")->SetValue("a");
    t.FieldByName("V")->SetValue("new");
    t.Post();
    t.EnableControls();
    t.Close();
    EXPECT_EQ(Sql(file, "SELECT K, V FROM t ORDER BY rowid;"), "a|new\nb|first\n");
}

}  // namespace
}  // namespace qel
