// `qel import` into PostgreSQL: the same rows as into SQLite, table creation in PostgreSQL's
// types, keyed modes and what the tool says about their index, and a server it cannot reach.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../common/PgServer.h"
#include "../common/TempDir.h"
#include "cli/TableSetup.h"

namespace qel {
namespace {

using test::TempDir;
using test::TPgServer;

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome Qel(const TempDir& dir, const std::vector<std::string>& args) {
    std::string cmd = std::string("'") + QEL_BINARY + "'";
    for (const std::string& a : args) {
        std::string quoted = "'";
        for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        cmd += " " + quoted + "'";
    }
    cmd += " >'" + dir.File("out") + "' 2>'" + dir.File("err") + "' </dev/null";
    Outcome o;
    int raw = std::system(cmd.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    auto read = [](const std::string& f) {
        std::stringstream ss;
        ss << std::ifstream(f).rdbuf();
        return ss.str();
    };
    o.out = read(dir.File("out"));
    o.err = read(dir.File("err"));
    return o;
}

// Every row of a query as text, columns joined by '|' (null as "<null>").
std::vector<std::string> PgRows(const std::string& sql) {
    PGconn* c = PQconnectdb(TPgServer::Shared().c_str());
    PGresult* r = PQexec(c, sql.c_str());
    std::vector<std::string> rows;
    if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK)
        ADD_FAILURE() << PQerrorMessage(c);
    for (int i = 0; i < PQntuples(r); ++i) {
        std::string row;
        for (int k = 0; k < PQnfields(r); ++k)
            row +=
                (k ? "|" : "") + std::string(PQgetisnull(r, i, k) ? "<null>" : PQgetvalue(r, i, k));
        rows.push_back(row);
    }
    PQclear(r);
    PQfinish(c);
    return rows;
}

std::vector<std::string> SqliteRows(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
        ADD_FAILURE() << sqlite3_errmsg(db);
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        std::string row;
        for (int k = 0; k < sqlite3_column_count(s); ++k) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, k));
            row += (k ? "|" : "") + std::string(t ? t : "<null>");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

std::string Uri() {
    const std::string& c = TPgServer::Shared();
    std::string port = c.substr(c.find("port=") + 5);
    return "postgresql://qel@127.0.0.1:" + port.substr(0, port.find(' ')) + "/postgres";
}

const char* kLog =
    "10.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.gif HTTP/1.0\" 200 2326 \"-\" \"curl\"\n"
    "10.0.0.2 - frank [10/Oct/2000:13:55:37 -0700] \"POST /f\xC3\xBCr?x=1\\t HTTP/1.1\" 404 - "
    "\"http://e.com/\" \"Mozilla \\\"5.0\\\"\"\n"
    "10.0.0.1 - - [10/Oct/2000:13:55:38 -0700] \"GET /back\\\\slash HTTP/1.0\" 304 0 \"-\" \"x\"\n";

TEST(PgImport, SameRowsAsIntoSqliteInEveryAppendingMode) {
    TempDir dir;
    std::ofstream(dir.File("access.log")) << kLog << kLog;
    const std::string table = TPgServer::UniqueName("access");
    const std::vector<std::string> common = {
        "--map",
        "Host=Field1",
        "--map",
        "DateTime=Field4",
        "--map",
        "URL=Field6",
        "--map",
        "Code=Field7",
        "--map",
        "Size=Field8",
        "--map",
        "Ref=Field9",
        "--delimiter",
        "space",
        "--record-separator",
        "lf",
        "--qualifier",
        "quot",
        "--dash-null",
        "--quiet",
        "--create",
        "Host VARCHAR(40), DateTime TEXT, URL TEXT, Code INTEGER, Size INTEGER, "
        "Ref TEXT, Seen DATETIME",
        "--table",
        table};
    for (const char* mode : {"append", "copy"}) {
        SCOPED_TRACE(mode);
        for (const std::string& db : {dir.File("log.db"), Uri()}) {
            std::vector<std::string> args = {"import", "--mode", mode};
            args.insert(args.end(), common.begin(), common.end());
            args.push_back(dir.File("access.log"));
            args.push_back(db);
            Outcome o = Qel(dir, args);
            EXPECT_EQ(o.status, 0) << o.err;
            EXPECT_NE(o.out.find("Added: 6"), std::string::npos) << o.out;
        }
        const std::string cols = "host, datetime, url, code, size, ref, seen";
        std::vector<std::string> pg =
            PgRows("SELECT " + cols + " FROM " + table + " ORDER BY ctid");
        std::vector<std::string> lite =
            SqliteRows(dir.File("log.db"), "SELECT " + cols + " FROM " + table + " ORDER BY rowid");
        // The same rows; a PostgreSQL heap keeps no insertion order (COPY may put a later row
        // into room left on an earlier page), so both sides are compared sorted.
        std::sort(pg.begin(), pg.end());
        std::sort(lite.begin(), lite.end());
        EXPECT_EQ(pg, lite);
        EXPECT_EQ(pg.size(), 6u);  // copy empties the table first
    }
    // The SQLite types of the column list were given PostgreSQL's.
    EXPECT_EQ(
        PgRows("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '" +
               table + "'::regclass AND attnum > 0 ORDER BY attnum"),
        (std::vector<std::string>{"character varying(40)", "text", "text", "integer", "integer",
                                  "text", "timestamp without time zone"}));
}

TEST(PgImport, FormatCreatesTheAccessTableInPostgresTypes) {
    TempDir dir;
    std::ofstream(dir.File("access.log")) << kLog;
    const std::string table = TPgServer::UniqueName("combined");
    for (const std::string& db : {dir.File("log.db"), Uri()}) {
        Outcome o = Qel(dir, {"import", "--quiet", "--format", "combined", "--table", table,
                              dir.File("access.log"), db});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.out.find("Added: 3"), std::string::npos) << o.out;
    }
    EXPECT_EQ(
        PgRows("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '" +
               table + "'::regclass AND attname IN ('time', 'status')  ORDER BY attnum"),
        (std::vector<std::string>{"timestamp without time zone", "integer"}));
    std::vector<std::string> pg = PgRows(
        "SELECT host, to_char(time, 'YYYY-MM-DD HH24:MI:SS'), "
        "path, status, bytes, agent FROM " +
        table);
    std::vector<std::string> lite = SqliteRows(
        dir.File("log.db"), "SELECT host, time, path, status, bytes, agent FROM " + table);
    std::sort(pg.begin(), pg.end());
    std::sort(lite.begin(), lite.end());
    EXPECT_EQ(pg, lite);
    EXPECT_EQ(pg.size(), 3u);
}

TEST(PgImport, KeyedModesSayWhenNoIndexServesTheKey) {
    TempDir dir;
    std::ofstream(dir.File("access.log")) << kLog;
    const std::string table = TPgServer::UniqueName("keyed");
    const std::vector<std::string> args = {"import",
                                           "--map",
                                           "Host=Field1",
                                           "--map",
                                           "Code=Field7",
                                           "--delimiter",
                                           "space",
                                           "--record-separator",
                                           "lf",
                                           "--qualifier",
                                           "quot",
                                           "--quiet",
                                           "--mode",
                                           "append-update",
                                           "--keys",
                                           "Host",
                                           "--create",
                                           "Host TEXT, Code INTEGER",
                                           "--table",
                                           table,
                                           dir.File("access.log"),
                                           Uri()};
    Outcome first = Qel(dir, args);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("has no index on the key Host"), std::string::npos) << first.err;
    EXPECT_NE(first.out.find("Added: 2"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("Updated: 1"), std::string::npos) << first.out;
    PgRows("CREATE INDEX ON " + table + " (host)");
    Outcome second = Qel(dir, args);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err.find("no index"), std::string::npos) << second.err;
    EXPECT_NE(second.out.find("Updated: 3"), std::string::npos) << second.out;
    EXPECT_EQ(PgRows("SELECT host, code FROM " + table + " ORDER BY host"),
              (std::vector<std::string>{"10.0.0.1|304", "10.0.0.2|404"}));
}

TEST(PgImport, ServerThatCannotBeReachedIsAClearError) {
    TempDir dir;
    std::ofstream(dir.File("access.log")) << kLog;
    // A port nothing listens on: the shared server's own, plus one, is not promised free, so a
    // closed server of our own is used.
    std::string uri;
    {
        TPgServer gone;
        uri = gone.Uri();
    }
    Outcome o =
        Qel(dir, {"import", "--map", "Host=Field1", "--table", "t", dir.File("access.log"), uri});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Cannot open table 't': connection to server at \"127.0.0.1\""),
              std::string::npos)
        << o.err;
}

TEST(PgImport, CreateColumnListInPostgresTerms) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"Host TEXT, Code INTEGER", "Host TEXT, Code INTEGER"},
        {"At DATETIME NOT NULL, R REAL", "At timestamp NOT NULL, R double precision"},
        {"\"Odd, name\" DATETIME, B BLOB(10)", "\"Odd, name\" timestamp, B bytea"},
        {"N NVARCHAR(20), P NUMERIC(10,2)", "N varchar(20), P NUMERIC(10,2)"},
        {"Realm TEXT, Reality REALLY", "Realm TEXT, Reality REALLY"},
        {"d datetime default now()", "d timestamp default now()"},
    };
    for (const Case& c : cases) EXPECT_EQ(cli::PostgresColumnList(c.in), c.out) << c.in;
    EXPECT_TRUE(cli::IsPostgresDatabase("postgresql://u@h:1/d"));
    EXPECT_TRUE(cli::IsPostgresDatabase("postgres://h/d"));
    EXPECT_FALSE(cli::IsPostgresDatabase("log.db"));
}

}  // namespace
}  // namespace qel
