// The PostgreSQL table engine against a real server: column types, the record stream, values
// checked before they go into it, and faults (a key violation found by the server, a server
// that stops, a read-only transaction). A second connection checks what is really stored.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <functional>
#include <string>

#include "TableFactory.h"
#include "core/DateTime.h"
#include "core/Errors.h"

namespace qel {
namespace {

using test::TPgServer;

// A connection of the test's own.
class Sql {
  public:
    explicit Sql(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {}
    ~Sql() { PQfinish(conn_); }
    void Exec(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        const ExecStatusType st = PQresultStatus(r);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
            ADD_FAILURE() << sql << ": " << PQerrorMessage(conn_);
        PQclear(r);
    }
    std::string Value(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        std::string v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0
                            ? PQgetvalue(r, 0, 0)
                            : "(error: " + std::string(PQerrorMessage(conn_)) + ")";
        PQclear(r);
        return v;
    }
    long long Count(const std::string& table) {
        return std::stoll(Value("SELECT count(*) FROM " + table));
    }

  private:
    PGconn* conn_;
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

std::unique_ptr<TPgTable> OpenTable(const std::string& conninfo, const std::string& name) {
    auto t = std::make_unique<TPgTable>();
    t->SetDatabaseName(conninfo);
    t->SetTableName(name);
    t->Open();
    return t;
}

void AppendRow(TDataSet& t, int id, const std::string& host) {
    t.Append();
    t.FieldByName("id")->SetValue(id);
    t.FieldByName("host")->SetValue(host);
    t.Post();
}

TEST(PgTable, ColumnTypesBecomeFieldTypesAndValuesReadBack) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("types");
    sql.Exec("CREATE TABLE " + name +
             " (a int2, b int4, c int8, d float4, e float8, f numeric(8,2), g boolean, h date, "
             "i time, j timestamp, k timestamptz, l varchar(10), m char(3), n text, o bytea, "
             "p uuid)");
    auto t = OpenTable(TPgServer::Shared(), name);
    struct Case {
        const char* field;
        TFieldType type;
        int size;
        Variant written;
        Variant read;  // Empty: the written value
    };
    const TDateTime when = EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 58, 250);
    const Case cases[] = {
        {"a", ftSmallint, 0, Variant(-32768), {}},
        {"b", ftInteger, 0, Variant(std::int32_t{-2147483647 - 1}), {}},
        {"c", ftLargeint, 0, Variant("9007199254740992"), Variant(9007199254740992.0)},
        {"d", ftFloat, 0, Variant(0.5), {}},
        {"e", ftFloat, 0, Variant(0.1), {}},
        {"f", ftBCD, 0, Variant(123456.78), {}},
        {"g", ftBoolean, 0, Variant(true), {}},
        {"h", ftDate, 0, Variant::FromDateTime(when),
         Variant::FromDateTime(EncodeDate(2024, 2, 29))},
        {"i", ftTime, 0, Variant::FromDateTime(when),
         Variant::FromDateTime(EncodeTime(23, 59, 58, 250))},
        {"j", ftDateTime, 0, Variant::FromDateTime(when), {}},
        {"k", ftDateTime, 0, Variant::FromDateTime(when), {}},
        {"l", ftString, 10, Variant("tab\there"), {}},
        {"m", ftString, 3, Variant("ab"), Variant("ab ")},
        {"n", ftString, 0, Variant("line\nbreak \\ and \xC3\xA9"), {}},
        {"o", ftBlob, 0, Variant(std::string("\x00\x01\xFF\\", 4)), {}},
        {"p", ftUnknown, 0, Variant("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"), {}},
    };
    for (int stretch = 0; stretch < 2; ++stretch) {  // one INSERT, then through the stream
        if (stretch) t->DisableControls();
        t->Append();
        for (const Case& c : cases) t->FieldByName(c.field)->SetValue(c.written);
        t->Post();
        if (stretch) t->EnableControls();
    }
    t->Close();
    t->Open();
    ASSERT_EQ(t->RecordCount(), 2);
    for (int row = 0; row < 2; ++row) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.field) + " row " + std::to_string(row));
            TField* f = t->FieldByName(c.field);
            EXPECT_EQ(f->DataType(), c.type);
            EXPECT_EQ(f->Size(), c.size);
            EXPECT_EQ(f->Value(), c.read.IsEmpty() ? c.written : c.read);
        }
        t->Next();
    }
    EXPECT_EQ(sql.Value("SELECT k FROM " + name + " LIMIT 1"), "2024-02-29 23:59:58.25+00");
}

TEST(PgTable, StreamedRecordsAreCommittedAtTheEndOfTheStretch) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("stream");
    sql.Exec("CREATE TABLE " + name + " (id integer, host text)");
    auto t = OpenTable(TPgServer::Shared(), name);
    const int rows = 20000;  // more than one chunk of the stream
    t->DisableControls();
    for (int i = 1; i <= rows; ++i) AppendRow(*t, i, "host-" + std::to_string(i));
    EXPECT_TRUE(t->InTransaction());
    EXPECT_EQ(sql.Count(name), 0);  // nothing visible before the commit
    // The record posted last is current, readable and editable in the stretch.
    EXPECT_EQ(t->FieldByName("id")->Value(), Variant(rows));
    t->Edit();
    t->FieldByName("host")->SetValue("last");
    t->Post();
    AppendRow(*t, rows + 1, "deleted");
    t->Delete();
    t->EnableControls();
    EXPECT_FALSE(t->InTransaction());
    EXPECT_EQ(sql.Count(name), rows);
    EXPECT_EQ(t->RecordCount(), rows);
    EXPECT_EQ(sql.Value("SELECT sum(id) FROM " + name), std::to_string(rows * (rows + 1LL) / 2));
    EXPECT_EQ(sql.Value("SELECT host FROM " + name + " WHERE id = 123"), "host-123");
    EXPECT_EQ(sql.Value("SELECT host FROM " + name + " WHERE id = " + std::to_string(rows)),
              "last");
    EXPECT_TRUE(t->Locate("id", Variant(777)));
    EXPECT_EQ(t->FieldByName("host")->Value(), Variant("host-777"));
}

TEST(PgTable, ValueTheColumnCannotTakeFailsAtItsOwnPostInTheStream) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("checks");
    sql.Exec("CREATE TABLE " + name +
             " (id integer, host varchar(8), price numeric(5,2), ratio real, note text NOT NULL "
             "DEFAULT 'n', hundreds numeric(3,-2))");
    auto t = OpenTable(TPgServer::Shared(), name);
    struct Case {
        const char* field;
        Variant value;
        const char* error;
    };
    const Case cases[] = {
        {"host", Variant("nine char"), "Invalid value for field 'host' (longer than 8 characters)"},
        {"host", Variant("bad \xFF byte"), "Invalid value for field 'host' (not UTF-8 text)"},
        {"host", Variant(std::string("nul\0", 4)),
         "Invalid value for field 'host' (not UTF-8 text)"},
        {"price", Variant(1000.0),
         "Invalid value for field 'price' (out of range for numeric(5, 2))"},
        {"price", Variant(999.995),
         "Invalid value for field 'price' (out of range for numeric(5, 2))"},
        {"ratio", Variant(1e39), "Invalid value for field 'ratio' (out of range for real)"},
        {"ratio", Variant(1e-50), "Invalid value for field 'ratio' (out of range for real)"},
        {"note", Variant::Null(), "Field 'note' must have a value"},
        {"hundreds", Variant(99950),
         "Invalid value for field 'hundreds' (out of range for numeric(3, -2))"},
    };
    t->DisableControls();
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + DebugString(c.value));
        AppendRow(*t, ++id, "before");
        t->Append();
        t->FieldByName("id")->SetValue(++id);
        t->FieldByName(c.field)->SetValue(c.value);
        EXPECT_EQ(ErrorOf([&] { t->Post(); }), c.error);
        t->Cancel();
        AppendRow(*t, ++id, "after");
    }
    t->Append();
    t->FieldByName("id")->SetValue(++id);
    t->FieldByName("price")->SetValue(999.99);
    t->FieldByName("ratio")->SetValue(3.4e38);
    t->FieldByName("hundreds")->SetValue(99949);                 // rounded to hundreds: 99900
    t->FieldByName("host")->SetValue("\xC3\xA9t\xC3\xA9     ");  // 3 characters, blanks dropped
    t->Post();
    t->EnableControls();
    const long long expected = 2 * static_cast<long long>(std::size(cases)) + 1;
    EXPECT_EQ(sql.Count(name), expected);
    EXPECT_EQ(t->RecordCount(), expected);
    EXPECT_EQ(sql.Value("SELECT count(*) FROM " + name + " WHERE host NOT IN ('before', 'after')"),
              "1");
    EXPECT_EQ(sql.Value("SELECT price FROM " + name + " WHERE price IS NOT NULL"), "999.99");
    EXPECT_EQ(sql.Value("SELECT hundreds FROM " + name + " WHERE hundreds IS NOT NULL"), "99900");
    EXPECT_EQ(t->LostRecords(), 0);
}

std::vector<std::string> Column(PGconn* conn, const std::string& sql) {
    std::vector<std::string> out;
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) ADD_FAILURE() << sql << ": " << PQerrorMessage(conn);
    for (int i = 0; i < PQntuples(r); ++i) out.emplace_back(PQgetvalue(r, i, 0));
    PQclear(r);
    return out;
}

// Text goes into the stream checked and escaped eight bytes at a time: every character that
// needs an escape or a closer look, at every place around a word's edge and at a text's end,
// arrives as it was written, and a text that is not UTF-8 fails wherever its fault is.
TEST(PgTable, StreamedTextArrivesAsWrittenAndFaultyTextFailsWhereverTheFaultIs) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("text");
    sql.Exec("CREATE TABLE " + name + " (id integer, t text, v varchar(5))");
    auto t = OpenTable(TPgServer::Shared(), name);
    struct Written {
        std::string t;
        const char* v;  // nullptr: v not assigned (another column list in the stream)
    };
    std::vector<Written> good;
    const std::string specials[] = {
        "\\", "\t", "\n", "\r", "\x01", "\x7F", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
        "\\N"};
    for (const std::string& special : specials) {
        // Up to two 16-byte blocks and a tail around the special.
        for (std::size_t length = 1; length <= 40; ++length) {
            for (std::size_t at = 0; at < length; ++at) {
                std::string text(length, 'a');
                text.replace(at, 1, special);
                good.push_back({text, at % 3 == 0 ? nullptr : "x"});
            }
        }
    }
    for (const char* v : {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xE2\x82\xAC\xE2\x82\xAC   ",
                          "abcde     ", "\xF0\x9F\x98\x80\\\t\n\r"})
        good.push_back({"fits", v});
    struct Faulty {
        std::string t;
        std::string v;
        const char* error;
    };
    std::vector<Faulty> faulty;
    const std::string bad[] = {
        "\xFF",    "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", std::string("\0", 1),
        "\xE2\x82"};
    for (const std::string& b : bad) {
        for (std::size_t at = 0; at <= 35; ++at) {
            std::string text(35, 'b');
            text.insert(at, b);
            faulty.push_back({text, "x", "Invalid value for field 't' (not UTF-8 text)"});
        }
    }
    for (const char* v : {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "abcd\xE2\x82\xACx",
                          "abcdef", "a\tb\tc\t"})
        faulty.push_back({"long", v, "Invalid value for field 'v' (longer than 5 characters)"});

    t->DisableControls();
    int id = 0;
    std::size_t nextFaulty = 0;
    for (const Written& w : good) {
        t->Append();
        t->FieldByName("id")->SetValue(++id);
        t->FieldByName("t")->SetValue(w.t);
        if (w.v) t->FieldByName("v")->SetValue(w.v);
        t->Post();
        if (nextFaulty < faulty.size() && id % 5 == 0) {
            const Faulty& f = faulty[nextFaulty++];
            SCOPED_TRACE(DebugString(Variant(f.t)) + " " + DebugString(Variant(f.v)));
            t->Append();
            t->FieldByName("id")->SetValue(-1);
            t->FieldByName("t")->SetValue(f.t);
            t->FieldByName("v")->SetValue(f.v);
            EXPECT_EQ(ErrorOf([&] { t->Post(); }), f.error);
            t->Cancel();
        }
    }
    ASSERT_EQ(nextFaulty, faulty.size());
    t->EnableControls();

    PGconn* check = PQconnectdb(TPgServer::Shared().c_str());
    const auto ts = Column(check, "SELECT t FROM " + name + " ORDER BY id");
    const auto vs = Column(check, "SELECT coalesce(v, '(null)') FROM " + name + " ORDER BY id");
    PQfinish(check);
    ASSERT_EQ(ts.size(), good.size());
    ASSERT_EQ(vs.size(), good.size());
    for (std::size_t i = 0; i < good.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(ts[i], good[i].t);
        std::string v = good[i].v ? good[i].v : "(null)";
        // Blanks beyond the length are dropped.
        auto characters = [](const std::string& x) {
            return std::count_if(x.begin(), x.end(), [](char c) { return (c & 0xC0) != 0x80; });
        };
        while (characters(v) > 5 && v.back() == ' ') v.pop_back();
        EXPECT_EQ(vs[i], v);
    }
    EXPECT_EQ(sql.Value("SELECT count(*) FROM " + name + " WHERE id < 0"), "0");
}

TEST(PgTable, KeyViolationFoundByTheServerLosesTheTransactionAndEndsTheStretchFailed) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("unique");
    sql.Exec("CREATE TABLE " + name + " (id integer PRIMARY KEY, host text)");
    auto t = OpenTable(TPgServer::Shared(), name);
    t->DisableControls();
    for (int i = 1; i <= 100; ++i) AppendRow(*t, i, "committed");
    t->FlushBuffers();
    // The stream holds 50 more, one of them a key the table already has: the server finds it
    // when the stream ends, here at the next search.
    for (int i = 101; i <= 150; ++i) AppendRow(*t, i == 120 ? 7 : i, "lost");
    const std::string error = ErrorOf([&] { t->Locate("id", Variant(5)); });
    EXPECT_NE(error.find("duplicate key value violates unique constraint"), std::string::npos)
        << error;
    EXPECT_NE(error.find("50 posted record(s) were lost"), std::string::npos) << error;
    EXPECT_EQ(t->LostRecords(), 50);
    EXPECT_EQ(t->RecordCount(), 100);
    // The stretch refuses writes until it ends, and its end reports the failure.
    t->Append();
    t->FieldByName("id")->SetValue(500);
    EXPECT_NE(ErrorOf([&] { t->Post(); }).find("write transaction failed earlier"),
              std::string::npos);
    t->Cancel();
    EXPECT_NE(ErrorOf([&] { t->EnableControls(); }).find("duplicate key"), std::string::npos);
    EXPECT_EQ(sql.Count(name), 100);
    // After the stretch the table takes writes again.
    AppendRow(*t, 500, "after");
    EXPECT_EQ(sql.Count(name), 101);
    EXPECT_EQ(t->RecordCount(), 101);
}

// A long stretch commits on its own every kMaxPendingWrites writes without waiting for the
// answer. A deferred key is checked by the server at that commit, so a repeated key makes the
// commit itself fail after later records were posted: those are lost with it and counted.
TEST(PgTable, StretchCommitsOnItsOwnAndAFailedCommitLosesWhatWasPostedAfterIt) {
    constexpr int kWrites = static_cast<int>(TPgTable::kMaxPendingWrites);
    constexpr int kRows = 2 * kWrites + 5000;
    struct Case {
        const char* name;
        int repeatAt;   // the row that repeats the key of row 5; 0: none
        int committed;  // rows the table keeps
    };
    const Case cases[] = {
        {"all committed", 0, kRows},
        {"first commit fails", 100, 0},
        {"second commit fails", kWrites + 100, kWrites},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sql sql(TPgServer::Shared());
        const std::string name = TPgServer::UniqueName("ahead");
        sql.Exec("CREATE TABLE " + name +
                 " (id integer UNIQUE DEFERRABLE INITIALLY DEFERRED, host text)");
        auto t = OpenTable(TPgServer::Shared(), name);
        t->DisableControls();
        // The failure shows at a later Post or at the end of the stretch; the Posts that
        // succeeded before it count.
        int posted = 0;
        std::string error;
        for (int i = 1; i <= kRows && error.empty(); ++i) {
            error =
                ErrorOf([&] { AppendRow(*t, i == c.repeatAt ? 5 : i, "h" + std::to_string(i)); });
            if (error != "(no error)") {
                t->Cancel();
                break;
            }
            error.clear();
            ++posted;
            if (c.repeatAt == 0 && i == kWrites + 10) {
                // A search while the commit may still be on its way sees the records after it.
                EXPECT_TRUE(t->Locate("id", Variant(kWrites + 3)));
                EXPECT_EQ(t->FieldByName("host")->Value(),
                          Variant("h" + std::to_string(kWrites + 3)));
            }
        }
        const std::string end = ErrorOf([&] { t->EnableControls(); });
        if (error.empty()) error = end;
        if (c.repeatAt == 0) {
            EXPECT_EQ(error, "(no error)");
            EXPECT_EQ(posted, kRows);
            EXPECT_EQ(t->LostRecords(), 0);
        } else {
            EXPECT_NE(error.find("duplicate key value violates unique constraint"),
                      std::string::npos)
                << error;
            EXPECT_NE(end, "(no error)");  // the end of the stretch reports it as well
            EXPECT_GT(posted, c.repeatAt);
            EXPECT_EQ(t->LostRecords(), posted - c.committed);
        }
        EXPECT_EQ(t->RecordCount(), c.committed);
        EXPECT_EQ(sql.Count(name), c.committed);
        // The table takes writes again after the stretch.
        AppendRow(*t, -1, "after");
        EXPECT_EQ(sql.Count(name), c.committed + 1);
    }
}

TEST(PgTable, ReadOnlyTransactionsRefuseTheWritesAndCountWhatWasLost) {
    Sql sql(TPgServer::Shared());
    const std::string name = TPgServer::UniqueName("readonly");
    sql.Exec("CREATE TABLE " + name + " (id integer, host text)");
    // A server that takes no writes at all is refused when the table is opened.
    TPgTable refused;
    refused.SetDatabaseName(TPgServer::Shared() + " options='-c default_transaction_read_only=on'");
    refused.SetTableName(name);
    EXPECT_EQ(ErrorOf([&] { refused.Open(); }),
              "Cannot open table '" + name + "': the database is read-only");
    refused.SetReadOnly(true);
    refused.Open();
    EXPECT_EQ(refused.RecordCount(), 0);
    refused.Close();

    // One whose transactions turn read-only during a run (as after a fail-over to a standby).
    auto t = OpenTable(TPgServer::Shared(), name);
    t->DisableControls();
    for (int i = 1; i <= 10; ++i) AppendRow(*t, i, "committed");
    t->FlushBuffers();
    PQclear(PQexec(t->Handle(), "SET default_transaction_read_only = on"));
    int posted = 0;
    std::string error;
    for (int i = 11; i <= 30000 && error.empty(); ++i) {
        error = ErrorOf([&] { AppendRow(*t, i, "lost"); });
        if (error == "(no error)") {
            error.clear();
            ++posted;
        } else {
            t->Cancel();
        }
    }
    if (error.empty()) error = ErrorOf([&] { t->EnableControls(); });
    EXPECT_NE(error.find("read-only transaction"), std::string::npos) << error;
    EXPECT_EQ(t->LostRecords(), posted);
    EXPECT_EQ(t->RecordCount(), 10);
    EXPECT_EQ(sql.Count(name), 10);
}

TEST(PgTable, ServerStoppedMidRunKeepsTheCommittedRecordsAndCountsTheLostOnes) {
    TPgServer server;
    Sql admin(server.ConnInfo());
    admin.Exec("CREATE TABLE log (id integer, host text)");
    auto t = OpenTable(server.ConnInfo(), "log");
    t->DisableControls();
    for (int i = 1; i <= 1000; ++i) AppendRow(*t, i, "committed");
    t->FlushBuffers();
    for (int i = 1001; i <= 1500; ++i) AppendRow(*t, i, "lost");
    server.Halt();
    // Posts go on into the stream until the connection is found gone; every one after that
    // fails at its own Post.
    int posted = 500, failed = 0;
    for (int i = 1501; i <= 40000; ++i) {
        try {
            AppendRow(*t, i, "lost");
            ++posted;
        } catch (const EDatabaseError&) {
            t->Cancel();
            ++failed;
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_FALSE(t->InTransaction());
    EXPECT_EQ(t->LostRecords(), posted);
    EXPECT_EQ(t->RecordCount(), 1000);
    EXPECT_NE(ErrorOf([&] { t->EnableControls(); }), "(no error)");
    t->Close();
    server.Resume();
    Sql again(server.ConnInfo());
    EXPECT_EQ(again.Count("log"), 1000);
    EXPECT_EQ(again.Value("SELECT count(*) FROM log WHERE host = 'lost'"), "0");
}

TEST(PgTable, TablesAreFoundByPostgresRulesAndKeyedSearchesKnowTheirIndex) {
    Sql sql(TPgServer::Shared());
    const std::string schema = TPgServer::UniqueName("s");
    sql.Exec("CREATE SCHEMA " + schema);
    sql.Exec("CREATE TABLE " + schema +
             ".\"Mixed Case\" (id bigint PRIMARY KEY, host text, "
             "code integer)");
    sql.Exec("CREATE INDEX ON " + schema + ".\"Mixed Case\" (host, code)");
    auto t = OpenTable(TPgServer::Shared(), schema + ".\"Mixed Case\"");
    EXPECT_EQ(t->SqlTableName(), schema + ".\"Mixed Case\"");
    EXPECT_TRUE(t->HasIndexFor("id"));
    EXPECT_TRUE(t->HasIndexFor("Host;code"));
    EXPECT_FALSE(t->HasIndexFor("code"));
    // Keyed by its primary key: the records are in key order whatever the order of writing.
    t->DisableControls();
    for (int id : {30, 10, 20}) AppendRow(*t, id, "h" + std::to_string(id));
    t->EnableControls();
    std::vector<int> ids;
    for (t->First(); !t->Eof(); t->Next()) ids.push_back(t->FieldByName("id")->Value().AsInteger());
    EXPECT_EQ(ids, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(ErrorOf([&] { OpenTable(TPgServer::Shared(), schema + ".nothing"); }),
              "Cannot open table '" + schema + ".nothing': the table does not exist");
}

}  // namespace
}  // namespace qel
