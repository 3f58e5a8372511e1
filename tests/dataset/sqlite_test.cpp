// The SQLite table engine: opening, the schema, durability, locking and paging, checked through
// a second connection (the sqlite3 shell or the SQLite library itself).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "TableFactory.h"
#include "core/Errors.h"

namespace qel {
namespace {

using test::TempDir;

// Runs SQL through the sqlite3 shell, a separate process, and returns what it printed.
std::string Shell(const TempDir& dir, const std::string& file, const std::string& sql) {
    std::string in = dir.File("shell.sql"), out = dir.File("shell.out");
    std::ofstream(in) << sql << "\n";
    std::string cmd =
        "/usr/bin/sqlite3 -batch -bail '" + file + "' < '" + in + "' > '" + out + "' 2>&1";
    int rc = std::system(cmd.c_str());
    std::stringstream ss;
    ss << std::ifstream(out).rdbuf();
    std::string text = ss.str();
    if (rc != 0) ADD_FAILURE() << "sqlite3 failed: " << text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

std::string FileBytes(const std::string& file) {
    std::stringstream ss;
    ss << std::ifstream(file, std::ios::binary).rdbuf();
    return ss.str();
}

// A second connection inside the test process, for holding locks.
class Connection {
  public:
    explicit Connection(const std::string& file) {
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~Connection() { sqlite3_close_v2(db_); }
    int Exec(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }

  private:
    sqlite3* db_ = nullptr;
};

class SqliteTable : public ::testing::Test {
  protected:
    std::unique_ptr<TSqliteTable> OpenTable(const std::string& file) {
        auto t = std::make_unique<TSqliteTable>();
        t->SetDatabaseName(dir_.Path().string() + "/");
        t->SetTableName(file);
        t->SetBusyTimeout(100);
        t->Open();
        return t;
    }
    std::string Path(const std::string& file) const { return dir_.File(file); }
    // The demo's table: a log of requests.
    void CreateLog(const std::string& file = "log.db") {
        Shell(dir_, Path(file),
              "CREATE TABLE log (Host VARCHAR(80), DateTime DATETIME, URL TEXT, Code INTEGER, Size "
              "INTEGER, Ref TEXT);");
    }
    static void AppendLog(TDataSet& t, const std::string& host, const Variant& code,
                          const Variant& size) {
        t.Append();
        t.FieldByName("Host")->SetValue(host);
        t.FieldByName("DateTime")
            ->SetValue(Variant::FromDateTime(EncodeDate(2003, 12, 25) + EncodeTime(10, 15, 42, 0)));
        t.FieldByName("Code")->SetValue(code);
        t.FieldByName("Size")->SetValue(size);
        t.Post();
    }
    TempDir dir_;
};

TEST_F(SqliteTable, OpeningFailuresNameTheFileAndChangeNothing) {
    std::ofstream(Path("notes.db")) << "this is plain text, not a database\n";
    Shell(dir_, Path("two.db"), "CREATE TABLE a (x INTEGER); CREATE TABLE b (y INTEGER);");
    struct Case {
        const char* file;
        const char* expected;  // the message contains this
    };
    const Case cases[] = {
        {"missing.db", "missing.db': the file does not exist"},
        {"notes.db", "notes.db': file is not a database"},
        {"two.db", "Table 'two' not found in '"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        bool existed = std::filesystem::exists(Path(c.file));
        std::string before = existed ? FileBytes(Path(c.file)) : "";
        TSqliteTable t;
        t.SetDatabaseName(dir_.Path().string());
        t.SetTableName(c.file);
        std::string error = ErrorOf([&] { t.Open(); });
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_FALSE(t.Active());
        EXPECT_EQ(t.Handle(), nullptr);
        EXPECT_EQ(std::filesystem::exists(Path(c.file)), existed);
        if (existed) {
            EXPECT_EQ(FileBytes(Path(c.file)), before);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(Path("missing.db-journal")));
}

TEST_F(SqliteTable, TheTableIsTheOnlyOneOrTheOneNamedAfterTheFile) {
    Shell(dir_, Path("single.db"), "CREATE TABLE anything (A INTEGER);");
    Shell(dir_, Path("Log.db"), "CREATE TABLE other (B INTEGER); CREATE TABLE LOG (C INTEGER);");
    EXPECT_EQ(OpenTable("single.db")->SqlTableName(), "anything");
    auto t = OpenTable("Log.db");
    EXPECT_EQ(t->SqlTableName(), "LOG");
    EXPECT_EQ(t->Fields(0)->FieldName(), "C");
}

// The rule both the table and `qel import --create` follow.
TEST(SqliteTableChoice, RequestedElseOnlyElseNamedAfterTheFile) {
    struct Case {
        std::vector<std::string> tables;
        const char* requested;
        const char* file;
        const char* chosen;  // "": none
        const char* wanted;
    };
    const Case cases[] = {
        {{"anything"}, "", "dir/log.db", "anything", "anything"},
        {{"other", "LOG"}, "", "dir/Log.db", "LOG", "Log"},
        {{"a", "b"}, "", "two.db", "", "two"},
        {{}, "", "fresh.db", "", "fresh"},
        {{"only"}, "Other", "x.db", "", "Other"},
        {{"x", "Other"}, "OTHER", "x.db", "Other", "OTHER"},
        {{"x", "y"}, "x", "y.db", "x", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.requested);
        std::string wanted;
        EXPECT_EQ(TSqliteTable::ChooseTable(c.tables, c.requested, c.file, wanted), c.chosen);
        EXPECT_EQ(wanted, c.wanted);
    }
}

TEST_F(SqliteTable, FieldsAndTypesComeFromTheSchema) {
    Shell(
        dir_, Path("types.db"),
        "CREATE TABLE types (id INTEGER PRIMARY KEY AUTOINCREMENT, i INT NOT NULL, s SMALLINT, "
        "r REAL, f FLOAT, d2 DOUBLE, n NUMERIC(10,2), dc DECIMAL, m MONEY, c CURRENCY, b BOOLEAN, "
        "dd DATE, tt TIME, dt DATETIME, ts TIMESTAMP, ch CHAR(3), vc VARCHAR(40), tx TEXT, bl "
        "BLOB, "
        "nv NVARCHAR(12) NOT NULL DEFAULT 'x', big BIGINT, untyped, odd WHATEVER);");
    auto t = OpenTable("types.db");
    struct Expect {
        const char* name;
        TFieldType type;
        int size;
        bool required;
    };
    const Expect expected[] = {
        {"id", ftAutoInc, 0, false},   {"i", ftInteger, 0, true},
        {"s", ftSmallint, 0, false},   {"r", ftFloat, 0, false},
        {"f", ftFloat, 0, false},      {"d2", ftFloat, 0, false},
        {"n", ftBCD, 0, false},        {"dc", ftBCD, 0, false},
        {"m", ftCurrency, 0, false},   {"c", ftCurrency, 0, false},
        {"b", ftBoolean, 0, false},    {"dd", ftDate, 0, false},
        {"tt", ftTime, 0, false},      {"dt", ftDateTime, 0, false},
        {"ts", ftDateTime, 0, false},  {"ch", ftString, 3, false},
        {"vc", ftString, 40, false},   {"tx", ftString, 0, false},
        {"bl", ftBlob, 0, false},      {"nv", ftString, 12, false},
        {"big", ftLargeint, 0, false}, {"untyped", ftUnknown, 0, false},
        {"odd", ftUnknown, 0, false},
    };
    ASSERT_EQ(t->FieldCount(), static_cast<int>(std::size(expected)));
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.name);
        TField* f = t->FindField(e.name);
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(FieldTypeName(f->DataType()), FieldTypeName(e.type));
        EXPECT_EQ(f->Size(), e.size);
        EXPECT_EQ(f->Required(), e.required);
    }
    int size = 0;
    EXPECT_EQ(TSqliteTable::FieldTypeOf("integer primary key", size), ftInteger);
    EXPECT_EQ(TSqliteTable::FieldTypeOf("varchar ( 25 )", size), ftString);
    EXPECT_EQ(size, 25);
}

TEST_F(SqliteTable, PostedRecordsReachAnotherConnectionAsTypedValues) {
    CreateLog();
    auto t = OpenTable("log.db");
    t->DisableControls();
    AppendLog(*t, "a.example", 200, 512);
    AppendLog(*t, "b.example", Variant("404"), Variant::Null());
    t->FlushBuffers();
    AppendLog(*t, "c.example", 304, 0);
    EXPECT_TRUE(t->InTransaction());
    // The third record waits in the open transaction; the first two are committed.
    EXPECT_EQ(Shell(dir_, Path("log.db"), "SELECT count(*) FROM log;"), "2");
    t->EnableControls();
    EXPECT_FALSE(t->InTransaction());
    EXPECT_EQ(Shell(dir_, Path("log.db"),
                    "SELECT Host, typeof(Code), Code, quote(Size), date(DateTime), time(DateTime) "
                    "FROM log ORDER BY rowid;"),
              "a.example|integer|200|512|2003-12-25|10:15:42\n"
              "b.example|integer|404|NULL|2003-12-25|10:15:42\n"
              "c.example|integer|304|0|2003-12-25|10:15:42");
    // Outside a DisableControls stretch every Post is committed at once.
    AppendLog(*t, "d.example", 200, 1);
    EXPECT_FALSE(t->InTransaction());
    EXPECT_EQ(Shell(dir_, Path("log.db"), "SELECT count(*) FROM log;"), "4");
    t->DisableControls();
    AppendLog(*t, "e.example", 200, 1);
    t.reset();  // destroyed without Close: still committed
    EXPECT_EQ(Shell(dir_, Path("log.db"), "SELECT count(*) FROM log;"), "5");
}

TEST_F(SqliteTable, ValuesWrittenElsewhereReadBackAsTheirFieldsTypes) {
    Shell(
        dir_, Path("vals.db"),
        "CREATE TABLE vals (i INTEGER, b BOOLEAN, d DATE, dt DATETIME, s TEXT, r REAL);"
        "INSERT INTO vals VALUES (6227020800, 1, '2003-12-25', '2003-12-25T10:15:42.500', 42, 1.5);"
        "INSERT INTO vals VALUES ('-', 0, 'not a date', datetime('2004-01-02 03:04:05'), 'x', "
        "NULL);");
    auto t = OpenTable("vals.db");
    EXPECT_EQ(t->FieldByName("i")->Value(), Variant(6227020800.0));  // not cut to 32 bits
    EXPECT_EQ(t->FieldByName("b")->Value(), Variant(true));
    EXPECT_EQ(t->FieldByName("d")->Value(), Variant::FromDateTime(EncodeDate(2003, 12, 25)));
    EXPECT_EQ(t->FieldByName("dt")->Value(),
              Variant::FromDateTime(EncodeDate(2003, 12, 25) + EncodeTime(10, 15, 42, 500)));
    EXPECT_EQ(t->FieldByName("s")->Value(), Variant("42"));
    t->Next();
    EXPECT_EQ(t->FieldByName("i")->Value(), Variant("-"));  // shown as stored, not hidden
    EXPECT_EQ(t->FieldByName("d")->Value(), Variant("not a date"));
    EXPECT_EQ(t->FieldByName("dt")->Value(),
              Variant::FromDateTime(EncodeDate(2004, 1, 2) + EncodeTime(3, 4, 5, 0)));
    EXPECT_TRUE(t->FieldByName("r")->Value().IsNull());
}

TEST_F(SqliteTable, DefaultsAndAutoIncrementFillFieldsLeftEmpty) {
    Shell(dir_, Path("auto.db"),
          "CREATE TABLE auto (ID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT NOT NULL, Kind TEXT "
          "DEFAULT 'plain');");
    auto t = OpenTable("auto.db");
    t->Append();
    t->FieldByName("Name")->SetValue("first");
    t->Post();
    EXPECT_EQ(t->FieldByName("ID")->Value(), Variant(1));
    EXPECT_EQ(t->FieldByName("Kind")->Value(), Variant("plain"));
    t->Append();
    t->FieldByName("Name")->SetValue("second");
    t->FieldByName("Kind")->Clear();  // cleared on purpose: null, not the default
    t->Post();
    EXPECT_EQ(t->FieldByName("ID")->Value(), Variant(2));
    EXPECT_TRUE(t->FieldByName("Kind")->Value().IsNull());
    EXPECT_EQ(t->RecNo(), 2);
    EXPECT_EQ(Shell(dir_, Path("auto.db"), "SELECT ID, Name, quote(Kind) FROM auto;"),
              "1|first|'plain'\n2|second|NULL");
}

TEST_F(SqliteTable, FailedPostStoresNothingAndKeepsEarlierRecords) {
    Shell(dir_, Path("keys.db"), "CREATE TABLE keys (K INTEGER UNIQUE, V TEXT);");
    auto t = OpenTable("keys.db");
    t->DisableControls();
    for (int k : {1, 2}) {
        t->Append();
        t->FieldByName("K")->SetValue(k);
        t->Post();
    }
    t->Append();
    t->FieldByName("K")->SetValue(1);
    t->FieldByName("V")->SetValue("duplicate");
    std::string error = ErrorOf([&] { t->Post(); });
    EXPECT_NE(error.find("Cannot post a record to table 'keys': UNIQUE constraint failed"),
              std::string::npos)
        << error;
    EXPECT_EQ(t->State(), dsInsert);
    t->Cancel();
    EXPECT_EQ(t->RecordCount(), 2);
    t->EnableControls();
    EXPECT_EQ(Shell(dir_, Path("keys.db"), "SELECT count(*), count(V) FROM keys;"), "2|0");
    // Outside a stretch the failed record leaves no transaction (and no lock) behind.
    t->Append();
    t->FieldByName("K")->SetValue(2);
    EXPECT_THROW(t->Post(), EDatabaseError);
    EXPECT_FALSE(t->InTransaction());
    t->Cancel();
}

// A stretch of long records commits on its own once their values reach kMaxPendingBytes, long
// before kMaxPendingWrites records: what it keeps for writing again stays bounded in memory.
TEST_F(SqliteTable, AStretchOfLongRecordsCommitsOnceTheirBytesReachTheBound) {
    Shell(dir_, Path("long.db"), "CREATE TABLE long (V TEXT);");
    auto t = OpenTable("long.db");
    const std::size_t kBytes = 256 * 1024;
    const std::size_t kPerCommit = TSqliteTable::kMaxPendingBytes / kBytes;
    int commits = 0;
    t->SetBeforeCommit([&](sqlite3*) { ++commits; });
    t->DisableControls();
    for (std::size_t i = 0; i < kPerCommit + 10; ++i) {
        t->Append();
        t->FieldByName("V")->SetValue(
            Variant(std::string(kBytes, static_cast<char>('a' + i % 26))));
        t->Post();
    }
    EXPECT_EQ(commits, 1);
    t->EnableControls();
    EXPECT_EQ(commits, 2);
    EXPECT_EQ(Shell(dir_, Path("long.db"), "SELECT count(*) FROM long;"),
              std::to_string(kPerCommit + 10));
}

// A stretch that changes records in place gets a larger page cache; one that only appends, a
// single edit outside a stretch, and a cache the caller set keep theirs.
TEST_F(SqliteTable, OnlyAStretchThatRewritesRecordsWidensThePageCache) {
    struct Case {
        const char* name;
        const char* callerSql;  // run through Handle() before the stretch
        bool stretch;
        char write;  // 'a' append, 'u' update, 'd' delete
        std::int64_t expected;
    };
    const std::int64_t wide = -TSqliteTable::kRewriteCacheKiB;
    const Case cases[] = {
        {"append", "", true, 'a', -2000},
        {"update", "", true, 'u', wide},
        {"delete", "", true, 'd', wide},
        {"update outside a stretch", "", false, 'u', -2000},
        {"caller's cache", "PRAGMA cache_size = 300", true, 'u', 300},
        {"caller's larger cache", "PRAGMA cache_size = -40000", true, 'u', -40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell(dir_, Path("cache.db"),
              "DROP TABLE IF EXISTS cache; CREATE TABLE cache (V TEXT);"
              "INSERT INTO cache VALUES ('a'), ('b');");
        auto t = OpenTable("cache.db");
        auto cacheSize = [&] {
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(t->Handle(), "PRAGMA cache_size", -1, &s, nullptr);
            sqlite3_step(s);
            const std::int64_t n = sqlite3_column_int64(s, 0);
            sqlite3_finalize(s);
            return n;
        };
        ASSERT_EQ(cacheSize(), -2000);  // SQLite's default, as this machine's library has it
        if (*c.callerSql) sqlite3_exec(t->Handle(), c.callerSql, nullptr, nullptr, nullptr);
        if (c.stretch) t->DisableControls();
        if (c.write == 'a') {
            t->Append();
            t->FieldByName("V")->SetValue(Variant("c"));
            t->Post();
        } else {
            ASSERT_TRUE(t->Locate("V", Variant("b")));
            if (c.write == 'u') {
                t->Edit();
                t->FieldByName("V")->SetValue(Variant("B"));
                t->Post();
            } else {
                t->Delete();
            }
        }
        if (c.stretch) t->EnableControls();
        EXPECT_EQ(cacheSize(), c.expected);
        t->Close();
    }
}

// The writes a bulk transaction keeps for writing again after a full disk come back with
// every kind of value as it was posted (the rows before the failing one are compared with a
// stretch that did not fail).
TEST_F(SqliteTable, WritesTakenBackByAFullDatabaseComeBackWithEveryKindOfValue) {
    const char* schema =
        "CREATE TABLE t (I INTEGER, R REAL, D DATETIME, B BOOLEAN, S TEXT, N TEXT, U TEXT DEFAULT "
        "'dflt', X BLOB);";
    const struct {
        Variant I, R, D, B, S;
    } rows[] = {
        {Variant(-7), Variant(2.5),
         Variant::FromDateTime(EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 0)), Variant(true),
         Variant("plain")},
        {Variant(2147483647), Variant(-1e300), Variant::FromDateTime(EncodeDate(2024, 2, 29)),
         Variant(false), Variant(std::string("nul\0inside", 10))},
        {Variant::Null(), Variant("3.25"), Variant::Null(), Variant::Null(),
         Variant(std::string(300, 'y'))},
    };
    std::string dumps[2];
    for (int fail = 0; fail < 2; ++fail) {
        const std::string file = fail ? "failed.db" : "clean.db";
        Shell(dir_, Path(file), schema);
        auto t = OpenTable(file);
        t->DisableControls();
        for (const auto& r : rows) {
            t->Append();
            t->FieldByName("I")->SetValue(r.I);
            t->FieldByName("R")->SetValue(r.R);
            t->FieldByName("D")->SetValue(r.D);
            t->FieldByName("B")->SetValue(r.B);
            t->FieldByName("S")->SetValue(r.S);
            t->FieldByName("N")->SetValue(Variant::Null());
            t->Post();
        }
        if (fail) {
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(t->Handle(), "PRAGMA page_count", -1, &s, nullptr);
            sqlite3_step(s);
            const std::string cap =
                "PRAGMA max_page_count = " + std::to_string(sqlite3_column_int64(s, 0));
            sqlite3_finalize(s);
            ASSERT_EQ(sqlite3_exec(t->Handle(), cap.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            t->Append();
            t->FieldByName("X")->SetValue(std::string(65536, 'x'));
            EXPECT_NE(ErrorOf([&] { t->Post(); }).find("full"), std::string::npos);
            t->Cancel();
        }
        t->EnableControls();
        t.reset();
        dumps[fail] =
            Shell(dir_, Path(file),
                  "SELECT quote(I), quote(R), quote(D), quote(B), hex(S), typeof(S), quote(N), U, "
                  "quote(X) FROM t ORDER BY rowid;");
    }
    EXPECT_EQ(dumps[1], dumps[0]);
    EXPECT_EQ(std::count(dumps[0].begin(), dumps[0].end(), '\n'), 2) << dumps[0];
}

// In a WAL file a bulk stretch commits without waiting for the disk; its end checkpoints the
// log into the file and restores full syncing. A file with a rollback journal keeps full
// syncing throughout.
TEST_F(SqliteTable, BulkStretchInAWalFileEndsCheckpointedWithFullSync) {
    auto pragma = [](TSqliteTable& t, const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(t.Handle(), sql, -1, &s, nullptr);
        std::string out;
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                out += (i ? "|" : "") +
                       std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i)));
            }
        }
        sqlite3_finalize(s);
        return out;
    };
    const struct {
        const char* file;
        bool wal;
        const char* during;  // PRAGMA synchronous in the stretch: 1 NORMAL, 2 FULL
    } cases[] = {{"wal.db", true, "1"}, {"journal.db", false, "2"}};
    for (const auto& c : cases) {
        CreateLog(c.file);
        if (c.wal) {
            EXPECT_EQ(Shell(dir_, Path(c.file), "PRAGMA journal_mode = WAL;"), "wal");
        }
        auto t = OpenTable(c.file);
        EXPECT_EQ(pragma(*t, "PRAGMA synchronous"), "2") << c.file;
        t->DisableControls();
        for (int i = 0; i < 3; ++i) {
            AppendLog(*t, "h", 200, i);
            t->FlushBuffers();
            EXPECT_EQ(pragma(*t, "PRAGMA synchronous"), c.during) << c.file;
        }
        t->EnableControls();
        EXPECT_EQ(pragma(*t, "PRAGMA synchronous"), "2") << c.file;
        if (c.wal) {
            // Nothing left in the log that the file does not hold: busy 0, every frame copied.
            const std::string ckpt = pragma(*t, "PRAGMA wal_checkpoint(PASSIVE)");
            const auto bar = ckpt.find('|');
            EXPECT_EQ(ckpt.substr(0, bar), "0") << ckpt;
            EXPECT_EQ(ckpt.substr(ckpt.find('|', bar + 1) + 1),
                      ckpt.substr(bar + 1, ckpt.find('|', bar + 1) - bar - 1))
                << ckpt;
        }
        // A single edit outside the stretch is committed under full syncing too.
        AppendLog(*t, "h", 200, 9);
        EXPECT_EQ(pragma(*t, "PRAGMA synchronous"), "2") << c.file;
        t.reset();
        EXPECT_EQ(Shell(dir_, Path(c.file), "SELECT count(*) FROM log;"), "4") << c.file;
    }
}

TEST_F(SqliteTable, LockedDatabaseFailsAfterABoundedWaitThenRecovers) {
    CreateLog();
    auto t = OpenTable("log.db");
    Connection other(Path("log.db"));
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);  // another writer holds the write lock
    t->Append();
    t->FieldByName("Host")->SetValue("h");
    std::string error = ErrorOf([&] { t->Post(); });
    EXPECT_NE(error.find("database is locked"), std::string::npos) << error;
    EXPECT_EQ(t->State(), dsInsert);
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    t->Post();  // the same record goes through once the lock is gone
    EXPECT_EQ(t->RecordCount(), 1);

    // A reader keeps the commit from going through: the record is taken back, not kept for a
    // later commit, so Cancel really discards it.
    ASSERT_EQ(other.Exec("BEGIN; SELECT count(*) FROM log;"), SQLITE_OK);
    t->Append();
    t->FieldByName("Host")->SetValue("blocked");
    error = ErrorOf([&] { t->Post(); });
    EXPECT_NE(error.find("Cannot commit the records of table 'log': database is locked"),
              std::string::npos)
        << error;
    EXPECT_EQ(t->State(), dsInsert);
    EXPECT_FALSE(t->InTransaction());
    t->Cancel();
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    t->Append();
    t->FieldByName("Host")->SetValue("later");
    t->Post();
    EXPECT_EQ(Shell(dir_, Path("log.db"), "SELECT Host FROM log ORDER BY rowid;"), "h\nlater");
    EXPECT_EQ(t->RecordCount(), 2);

    ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);  // not even readers may enter
    TSqliteTable second;
    second.SetDatabaseName(dir_.Path().string());
    second.SetTableName("log.db");
    second.SetBusyTimeout(50);
    error = ErrorOf([&] { second.Open(); });
    EXPECT_NE(error.find("log.db': database is locked"), std::string::npos) << error;
    other.Exec("ROLLBACK");
    second.Open();
    EXPECT_EQ(second.RecordCount(), 2);
}

TEST_F(SqliteTable, QuotesAndSemicolonsInNamesAreIdentifiers) {
    Shell(dir_, Path("odd.db"),
          "CREATE TABLE \"we\"\"ird;name\" (\"a\"\"b\" INTEGER, \"c;d\" TEXT, \"select\" TEXT);");
    auto t = OpenTable("odd.db");
    EXPECT_EQ(t->SqlTableName(), "we\"ird;name");
    t->Append();
    t->FieldByName("a\"b")->SetValue(1);
    t->FieldByName("c;d")->SetValue("x'); DROP TABLE t; --");
    t->FieldByName("select")->SetValue("s");
    t->Post();
    EXPECT_TRUE(t->Locate("a\"b", Variant(1)));
    EXPECT_FALSE(t->Locate("select", Variant("S")));
    t->Close();
    EXPECT_EQ(Shell(dir_, Path("odd.db"), "SELECT \"a\"\"b\", \"c;d\" FROM \"we\"\"ird;name\";"),
              "1|x'); DROP TABLE t; --");
}

TEST_F(SqliteTable, PagingViewsStayRightAcrossInsertsAndDeletes) {
    Shell(dir_, Path("page.db"),
          "CREATE TABLE page (N INTEGER);"
          "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 1000) "
          "INSERT INTO page SELECT x FROM c;");
    auto t = OpenTable("page.db");
    std::vector<int> model(1000);
    for (int i = 0; i < 1000; ++i) model[static_cast<std::size_t>(i)] = i + 1;
    auto check = [&](std::int64_t first, std::int64_t count) {
        SCOPED_TRACE("page at " + std::to_string(first));
        std::vector<std::vector<Variant>> rows;
        t->ReadRecords(first, count, rows);
        std::size_t expect =
            first >= static_cast<std::int64_t>(model.size())
                ? 0
                : std::min<std::size_t>(static_cast<std::size_t>(count),
                                        model.size() - static_cast<std::size_t>(first));
        ASSERT_EQ(rows.size(), expect);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i][0], Variant(model[static_cast<std::size_t>(first) + i]))
                << "row " << i;
        }
    };
    for (std::int64_t first : {0, 50, 640, 700, 130, 999, 1000, 300}) check(first, 40);
    // Delete record 200 (position 199) and append one: later positions shift, earlier ones stay.
    ASSERT_TRUE(t->Locate("N", Variant(200)));
    t->Delete();
    model.erase(model.begin() + 199);
    EXPECT_EQ(t->FieldByName("N")->Value(), Variant(201));
    EXPECT_EQ(t->RecNo(), 200);
    t->Append();
    t->FieldByName("N")->SetValue(5000);
    t->Post();
    model.push_back(5000);
    for (std::int64_t first : {640, 130, 190, 960, 0, 999}) check(first, 64);
    EXPECT_EQ(t->RecordCount(), 1000);
}

TEST_F(SqliteTable, ReadOnlyOpeningRefusesEdits) {
    CreateLog();
    TSqliteTable t;
    t.SetDatabaseName(dir_.Path().string());
    t.SetTableName("log.db");
    t.SetReadOnly(true);
    t.Open();
    t.Append();
    t.FieldByName("Host")->SetValue("h");
    EXPECT_EQ(ErrorOf([&] { t.Post(); }), msg::kDataSetReadOnly);
    t.Cancel();
    EXPECT_EQ(ErrorOf([&] { t.SetTableName("x.db"); }), msg::kDataSetOpen);
}

}  // namespace
}  // namespace qel
