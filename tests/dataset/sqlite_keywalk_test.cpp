// Searches of a text key in a bulk stretch, answered by walking the key's index, and updates
// that store nothing new, which are not run: whatever the schema, the order of the keys sought
// and what a caller writes between searches, a stretch must find the records, answer every
// read and leave the file as searching and posting record by record does.
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

struct WalkSchema {
    const char* name;
    const char* sql;  // table t with the columns K (the key), V (integer), C (text)
    bool walks;       // whether a stretch's searches may walk the index of K
};
void PrintTo(const WalkSchema& s, std::ostream* os) {
    *os << s.name;
}

// Counts the starts of the walk's statement and the updates run.
struct Statements {
    int walks = 0;
    int updates = 0;
};
int CountStatements(unsigned, void* counts, void*, void* text) {
    auto* c = static_cast<Statements*>(counts);
    const std::string sql = text ? static_cast<const char*>(text) : "";
    if (sql.rfind("UPDATE", 0) == 0) ++c->updates;
    if (sql.find(">= ?1 COLLATE BINARY") != std::string::npos) ++c->walks;
    return 0;
}

// Keys in byte order as `i` goes up, but for the empty text now and then, with what a byte
// comparison can get wrong: keys that are prefixes of others, a byte above 0x7F.
std::string Key(int i) {
    if (i % 50 == 7) return "";
    std::string k = std::to_string(1000 + i / 3);  // in byte order as in number order
    k[0] = 'k';
    if (i % 3 == 1) k += "0";
    if (i % 3 == 2) k += "\xC3\xA9";  // é
    return k;
}

// The first line where two transcripts differ, with its number, or empty when they are equal.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::size_t line = 1, start = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i]) {
            auto lineOf = [&](const std::string& s) {
                return s.substr(start, s.find('\n', start) - start);
            };
            return "line " + std::to_string(line) + ": '" + lineOf(a) + "' against '" + lineOf(b) +
                   "'";
        }
        if (a[i] == '\n') {
            ++line;
            start = i + 1;
        }
    }
    return a.size() == b.size() ? std::string() : "one ends at line " + std::to_string(line);
}

// The walk's statements and the updates run, and the searches, of a stretch (index 1) and of
// the same sequence run record by record (index 0).
struct Counts {
    Statements statements[2];
    int searches = 0;
};

// One seeded sequence over a table filled with records of keys in order (some keys held by
// several records, some by none, a blob among them): searches (`inOrder`: whose keys mostly go
// forward a little, sometimes stay, jump back or far ahead; else keys in no order); after a
// search an update storing the same values, the values the record was filled with, a changed
// value, a new key, or a delete; appends; reads; flushes; direct writes through the
// connection. Run record by record and in one stretch; transcripts and files must match.
void ExpectTheStretchToDoAsRecordByRecord(const WalkSchema& schema, bool inOrder, unsigned seed,
                                          Counts& counted) {
    TempDir dir;
    {
        std::string transcripts[2], dumps[2];
        Statements* counts = counted.statements;
        int& searches = counted.searches;
        for (int stretch = 0; stretch < 2; ++stretch) {
            const std::string name = "w" + std::to_string(seed) + "-" + std::to_string(stretch);
            const std::string file = dir.File(name + ".db");
            Sql(file, schema.sql);
            std::string fill = "BEGIN;";
            std::mt19937 fillRng(seed);
            for (int i = 0; i < 400; ++i) {
                const int copies = static_cast<int>(fillRng() % 4);  // 0: a key no record holds
                for (int c = 0; c < copies; ++c) {
                    fill += "INSERT INTO t (K, V, C) VALUES ('" + Key(i) + "', " +
                            std::to_string(i) + ", 'c" + std::to_string(c) + "');";
                }
                if (i == 200) fill += "INSERT INTO t (K, V) VALUES (x'6b3636', -1);";  // a blob
            }
            Sql(file, fill + "COMMIT;");
            TSqliteTable t;
            OpenTable(t, dir, name + ".db");
            sqlite3_trace_v2(t.Handle(), SQLITE_TRACE_STMT, CountStatements, &counts[stretch]);
            sqlite3_exec(t.Handle(), "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
            std::string& out = transcripts[stretch];
            std::mt19937 rng(seed * 7919);
            auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
            auto record = [&]() {
                return t.FieldByName("K")->AsString() + "|" + t.FieldByName("V")->AsString() + "|" +
                       t.FieldByName("C")->AsString();
            };
            if (stretch) t.DisableControls();
            int at = 0;
            for (int op = 0; op < 1500; ++op) {
                const int what = pick(100);
                try {
                    if (what < 88) {
                        const int move = pick(100);
                        if (move < 15) {
                        } else if (move < 94) {
                            at += 1 + pick(2);
                        } else if (move < 97) {
                            at -= pick(30);
                        } else {
                            at += 10 + pick(40);
                        }
                        if (at < 0 || at >= 420 || !inOrder) at = pick(420);
                        const bool found = t.Locate("K", Variant(Key(at)), TLocateOptions{});
                        if (!stretch) ++searches;
                        out += "search " + std::to_string(at) + " " +
                               (found ? record() : std::string("-")) + "\n";
                        if (!found) continue;
                        const int then = pick(20);
                        if (then < 7) {  // the same values: stores nothing new
                            t.Edit();
                            t.FieldByName("K")->SetValue(Variant(Key(at)));
                            t.FieldByName("V")->SetValue(t.FieldByName("V")->Value());
                            t.FieldByName("C")->SetValue(t.FieldByName("C")->Value());
                            t.Post();
                        } else if (then < 11) {  // the values the record was filled with
                            t.Edit();
                            t.FieldByName("V")->SetValue(Variant(at));
                            t.FieldByName("C")->SetValue(Variant("c0"));
                            t.Post();
                        } else if (then < 18) {  // a new value, the key as it is
                            t.Edit();
                            t.FieldByName("K")->SetValue(Variant(Key(at)));
                            t.FieldByName("V")->SetValue(Variant(pick(1000)));
                            t.FieldByName("C")->SetValue(Variant("u" + std::to_string(op)));
                            t.Post();
                        } else if (then < 19) {  // a new key
                            t.Edit();
                            t.FieldByName("K")->SetValue(Variant(Key(pick(420))));
                            t.Post();
                        } else {
                            t.Delete();
                        }
                        out += "then " + std::to_string(then) + "\n";
                    } else if (what < 93) {
                        t.Append();
                        t.FieldByName("K")->SetValue(Variant(Key(pick(420))));
                        t.FieldByName("V")->SetValue(Variant(pick(1000)));
                        t.FieldByName("C")->SetValue(Variant("a" + std::to_string(op)));
                        t.Post();
                        out += "append\n";
                    } else if (what < 96) {
                        t.Last();
                        out += "last " + record() + "\n";
                    } else if (what < 98) {
                        t.FlushBuffers();
                    } else {
                        const std::string sql =
                            pick(2) ? "DELETE FROM t WHERE V = " + std::to_string(pick(400))
                                    : "INSERT INTO t (K, V) VALUES ('" + Key(at + 1) + "', 7)";
                        sqlite3_exec(t.Handle(), sql.c_str(), nullptr, nullptr, nullptr);
                        out += "direct " + std::to_string(sqlite3_changes(t.Handle())) + "\n";
                    }
                } catch (const Exception& e) {
                    out += "error " + e.Message() + "\n";
                    if (t.State() != dsBrowse) t.Cancel();
                }
            }
            if (stretch) t.EnableControls();
            out += "lost " + std::to_string(t.LostRecords()) + "\n";
            t.Close();
            dumps[stretch] =
                Sql(file, "SELECT rowid, quote(K), V, quote(C) FROM t ORDER BY rowid;");
            if (std::string(schema.sql).find("TRIGGER") != std::string::npos)
                dumps[stretch] += Sql(file, "SELECT * FROM seen ORDER BY rowid;");  // its writes
        }
        EXPECT_EQ(FirstDifference(transcripts[1], transcripts[0]), "");
        EXPECT_EQ(FirstDifference(dumps[1], dumps[0]), "");
        EXPECT_GT(searches, 1000);
        EXPECT_EQ(counts[0].walks, 0);  // record by record: no stretch, no walk
    }
}

class SqliteKeyWalk : public ::testing::TestWithParam<WalkSchema> {};

TEST_P(SqliteKeyWalk, AStretchFindsAndStoresAsSearchingRecordByRecord) {
    const WalkSchema& schema = GetParam();
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Counts c;
        ExpectTheStretchToDoAsRecordByRecord(schema, true, seed, c);
        if (schema.walks) {
            // Many searches go on from where the one before stopped, and a good part of the
            // updates store nothing new.
            EXPECT_LT(c.statements[1].walks, c.searches / 2);
            EXPECT_LT(c.statements[1].updates, c.statements[0].updates * 3 / 4);
        } else {
            EXPECT_EQ(c.statements[1].walks, 0);
            EXPECT_EQ(c.statements[1].updates, c.statements[0].updates);
        }
    }
}

// Keys sought in no order: the answers stay those of record by record, and the walk, which
// would have to start again for nearly every search, soon leaves them to the search by
// equality.
TEST(SqliteKeyWalkInNoOrder, TheAnswersStayAndTheWalkSoonRests) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Counts c;
        ExpectTheStretchToDoAsRecordByRecord(
            WalkSchema{"IndexedText",
                       "CREATE TABLE t (K TEXT, V INTEGER, C TEXT); CREATE INDEX tk ON t (K);",
                       true},
            false, seed, c);
        EXPECT_GT(c.statements[1].walks, 0);
        EXPECT_LT(c.statements[1].walks, c.searches / 5);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Schemas, SqliteKeyWalk,
    ::testing::Values(
        WalkSchema{"IndexedText",
                   "CREATE TABLE t (K TEXT, V INTEGER, C TEXT); CREATE INDEX tk ON t (K);", true},
        WalkSchema{"IndexedVarcharWithRowidAlias",
                   "CREATE TABLE t (Id INTEGER PRIMARY KEY, K VARCHAR(20), V INTEGER, C TEXT);"
                   "CREATE INDEX tk ON t (K);",
                   true},
        WalkSchema{"NoIndex", "CREATE TABLE t (K TEXT, V INTEGER, C TEXT);", false},
        WalkSchema{"IndexInAnotherOrder",
                   "CREATE TABLE t (K TEXT COLLATE NOCASE, V INTEGER, C TEXT);"
                   "CREATE INDEX tk ON t (K);",
                   false},
        WalkSchema{"KeyFirstOfTwoColumns",
                   "CREATE TABLE t (K TEXT, V INTEGER, C TEXT); CREATE INDEX tk ON t (K, C);",
                   false},
        WalkSchema{"UniqueReplacingAnotherRow",
                   "CREATE TABLE t (K TEXT, V INTEGER UNIQUE ON CONFLICT REPLACE, C TEXT);"
                   "CREATE INDEX tk ON t (K);",
                   false},
        WalkSchema{"UpdateTrigger",
                   "CREATE TABLE t (K TEXT, V INTEGER, C TEXT); CREATE INDEX tk ON t (K);"
                   "CREATE TABLE seen (V INTEGER); CREATE TRIGGER up AFTER UPDATE ON t BEGIN "
                   "INSERT INTO seen VALUES (new.V); END;",
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel
