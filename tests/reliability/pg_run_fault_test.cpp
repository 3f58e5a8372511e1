// Runs into PostgreSQL that the server ends: a server stopped in the middle of a run, a key the
// table already has, found by the server in the record stream or only at a commit answered
// later, and transactions that turn read-only. Each run ends irFailed, keeps the rows committed
// before, and its counters equal what the table holds.
#include <libpq-fe.h>

#include "../common/PgServer.h"
#include "ReliabilityKit.h"
#include "dataset/PgTable.h"

namespace qel::rel {
namespace {

using test::TPgServer;

long long PgCount(const std::string& conninfo, const std::string& sql) {
    PGconn* c = PQconnectdb(conninfo.c_str());
    PGresult* r = PQexec(c, sql.c_str());
    long long n = PQresultStatus(r) == PGRES_TUPLES_OK ? std::stoll(PQgetvalue(r, 0, 0)) : -1;
    if (n < 0) ADD_FAILURE() << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    return n;
}

void PgExec(const std::string& conninfo, const std::string& sql) {
    PGconn* c = PQconnectdb(conninfo.c_str());
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
}

struct PgFaultCase {
    const char* name;
    const char* key;  // the table's key constraint
    // At the row number, with the table the run writes into and the server.
    std::function<void(int row, TPgTable& table, TPgServer* own)> fault;
    bool ownServer;
    const char* error;  // part of the message of the error that ended the run
};
void PrintTo(const PgFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class PgRunFault : public ::testing::TestWithParam<PgFaultCase> {};

// The numbered lines 1..lines in `dir`'s rows.txt, where line `repeatAt` repeats the key of
// line 5.
std::string WriteRowsRepeatingAKey(const TempDir& dir, int lines, int repeatAt) {
    std::string text = NumberedText(lines);
    const std::string line = NumberedLine(repeatAt) + "\n";
    text.replace(text.find(line), line.size(), "5,again,note\n");
    WriteFile(dir.File("rows.txt"), text);
    return dir.File("rows.txt");
}

// Opens the table and sets up a run of `file` into it that skips a failing row and goes on, as
// qel does without --stop-on-error.
void SetUpRun(TPgTable& table, TQelFromText& run, const std::string& conninfo,
              const std::string& name, const std::string& file) {
    table.SetDatabaseName(conninfo);
    table.SetTableName(name);
    table.Open();
    SetUpNumberedSource(run, table, file);
    run.OnErrorEvent = [](TQelBaseComponent&, const Exception&, bool& abort) { abort = false; };
}

TEST_P(PgRunFault, RunEndsFailedWithItsCountersEqualToTheTable) {
    const PgFaultCase& c = GetParam();
    std::unique_ptr<TPgServer> own;
    if (c.ownServer) own = std::make_unique<TPgServer>();
    const std::string conninfo = own ? own->ConnInfo() : TPgServer::Shared();
    const std::string name = TPgServer::UniqueName("fault");
    PgExec(conninfo,
           "CREATE TABLE " + name + " (id integer " + c.key + ", name varchar(40), note text)");
    TempDir dir;
    TPgTable table;
    TQelFromText run;
    SetUpRun(table, run, conninfo, name, WriteRowsRepeatingAKey(dir, 4000, 2600));
    run.OnAfterRecordEvent = [&](TQelBaseComponent& sender, bool&) {
        const int row = sender.Statistic().TotalImported();
        if (row % 1000 == 0) table.FlushBuffers();  // committed every 1000 rows
        if (c.fault) c.fault(row, table, own.get());
    };
    run.Execute();
    EXPECT_EQ(run.Statistic().Result(), irFailed);
    EXPECT_NE(run.LastError().find(c.error), std::string::npos) << run.LastError();
    table.Close();
    if (own) own->Resume();
    const long long stored = PgCount(conninfo, "SELECT count(*) FROM " + name);
    EXPECT_EQ(run.Statistic().TotalAdded(), stored);
    EXPECT_GE(stored, 2000);  // the commits before the fault stay
    EXPECT_EQ(run.Statistic().TotalAdded() + run.Statistic().TotalErrors(),
              run.Statistic().TotalImported());
}

// A run longer than a stretch's own commit, into a table whose key the server checks only at
// commit: the commit after the first 65,536 rows fails when the run has posted more rows behind
// it. The run ends failed, the rows behind the failed commit are counted as errors with its own,
// and its counters equal the table (the second commit's rows stay).
TEST(PgRunFaultAtCommit, CommitAnsweredLaterFailsTheRunWithItsCountersEqualToTheTable) {
    constexpr int kWrites = static_cast<int>(TPgTable::kMaxPendingWrites);
    struct Case {
        const char* name;
        int repeatAt;  // the line that repeats the key of line 5
        long long stored;
    };
    for (const Case& c :
         {Case{"first commit", 100, 0}, Case{"second commit", kWrites + 100, kWrites}}) {
        SCOPED_TRACE(c.name);
        const std::string conninfo = TPgServer::Shared();
        const std::string name = TPgServer::UniqueName("atcommit");
        PgExec(conninfo, "CREATE TABLE " + name +
                             " (id integer UNIQUE DEFERRABLE INITIALLY DEFERRED, name varchar(40), "
                             "note text)");
        TempDir dir;
        TPgTable table;
        TQelFromText run;
        SetUpRun(table, run, conninfo, name,
                 WriteRowsRepeatingAKey(dir, 2 * kWrites + 3000, c.repeatAt));
        run.Execute();
        EXPECT_EQ(run.Statistic().Result(), irFailed);
        EXPECT_NE(run.LastError().find("duplicate key value violates unique constraint"),
                  std::string::npos)
            << run.LastError();
        table.Close();
        const long long stored = PgCount(conninfo, "SELECT count(*) FROM " + name);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(run.Statistic().TotalAdded(), stored);
        EXPECT_EQ(run.Statistic().TotalAdded() + run.Statistic().TotalErrors(),
                  run.Statistic().TotalImported());
        EXPECT_EQ(run.Statistic().TotalImported(), 2 * kWrites + 3000);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, PgRunFault,
    ::testing::Values(PgFaultCase{"ServerStopped", "",
                                  [](int row, TPgTable&, TPgServer* own) {
                                      if (row == 2500) own->Halt();
                                  },
                                  true, "Cannot"},
                      PgFaultCase{"KeyViolation", "PRIMARY KEY", nullptr, false,
                                  "duplicate key value violates unique constraint"},
                      PgFaultCase{"ReadOnlyTransaction", "",
                                  [](int row, TPgTable& table, TPgServer*) {
                                      if (row == 2500)
                                          PQclear(PQexec(table.Handle(),
                                                         "SET default_transaction_read_only = on"));
                                  },
                                  false, "read-only transaction"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::rel
