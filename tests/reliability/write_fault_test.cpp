// The destination stops taking records in the middle of a run: the file may not grow (a page
// cap, a file-size limit as on a full disk) or the database refuses writes. Whatever the
// moment, the records posted before stay intact and committed, no partial record exists, every
// row is either in the table or counted in TotalErrors, and the error reaches the host.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "ReliabilityKit.h"

namespace qel::rel {
namespace {

enum class Fault { PageCap, QueryOnly, FileSizeLimit };

// Keeps the process's file-size limit at `bytes` while it lives (writes beyond it fail with
// EFBIG, as on a full disk, instead of raising SIGXFSZ).
class ScopedFileSizeLimit {
  public:
    ScopedFileSizeLimit() {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    void Limit(rlim_t bytes) {
        rlimit l = saved_;
        l.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string why = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(sql + ": " + why);
    }
}

long long PageCount(sqlite3* db) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &s, nullptr);
    sqlite3_step(s);
    long long n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return n;
}

struct WriteFaultCase {
    const char* name;
    Fault fault;
    int faultAfterRow;  // the fault starts once this many rows are through
    int flushEvery;     // the host commits every n rows (0: only the end of the run commits)
    bool stopOnError;   // the host's OnErrorEvent leaves Abort set
};
void PrintTo(const WriteFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteFault : public ::testing::TestWithParam<WriteFaultCase> {};

TEST_P(WriteFault, PostedRecordsSurviveAndEveryRowIsAccountedFor) {
    const WriteFaultCase& c = GetParam();
    const int kLines = 3000;  // enough rows that the page cap is reached within a few pages
    TempDir dir;
    const std::string src = dir.File("log.txt");
    const std::string db = dir.File("log.db");
    WriteFile(src, NumberedText(kLines));
    CreateNumberedTable(db);

    std::vector<std::string> errors;
    TQelResult result = irUnknown;
    int added = 0, imported = 0, errorCount = 0;
    int committed = 0;  // rows through at the host's last successful flush
    {
        ScopedFileSizeLimit sizeLimit;  // also covers the commit of Close
        TSqliteTable table;
        OpenTable(table, db);
        TQelFromText source;
        SetUpNumberedSource(source, table, src);
        source.SetAbortOnProblem(c.stopOnError);
        source.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool&) {
            errors.push_back(e.Message());
        };
        source.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool&) {
            const int done = s.Statistic().TotalImported();
            if (c.flushEvery > 0 && done % c.flushEvery == 0) {
                try {
                    table.FlushBuffers();
                    committed = done;
                } catch (const Exception& e) {
                    errors.push_back(e.Message());  // the host learns of it; the run ends
                    throw;
                }
            }
            if (done != c.faultAfterRow) return;
            switch (c.fault) {
                case Fault::PageCap:
                    Exec(table.Handle(),
                         "PRAGMA max_page_count = " + std::to_string(PageCount(table.Handle())));
                    break;
                case Fault::QueryOnly:
                    Exec(table.Handle(), "PRAGMA query_only = 1");
                    break;
                case Fault::FileSizeLimit:
                    sizeLimit.Limit(static_cast<rlim_t>(std::filesystem::file_size(db)));
                    break;
            }
        };
        source.Execute();
        result = source.Statistic().Result();
        added = source.Statistic().TotalAdded();
        imported = source.Statistic().TotalImported();
        errorCount = source.Statistic().TotalErrors();
        try {
            table.Close();
        } catch (const Exception& e) {
            errors.push_back(e.Message());
        }
    }

    SqliteReader reader(db);
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    const std::vector<StoredRow> rows = reader.Rows();

    if (c.fault == Fault::FileSizeLimit) {
        // The file cannot grow when a transaction commits: that transaction is lost as a whole
        // (the table says so in its error), the run fails, and everything committed before it
        // is intact. The lost rows are taken back from TotalAdded and counted as errors, so
        // the counters still equal what the table holds.
        EXPECT_EQ(result, irFailed);
        ExpectNumberedRows(rows, Numbers(1, committed));
        for (const std::string& e : errors) EXPECT_NE(e.find("were lost"), std::string::npos) << e;
        EXPECT_EQ(static_cast<long long>(rows.size()), added);
        EXPECT_EQ(reader.Count(), added);  // SELECT count(*)
        EXPECT_EQ(added + errorCount, imported);
        return;
    }

    // The failure reached the host.
    ASSERT_FALSE(errors.empty());
    // A host that stops on the first error fails the run; one that goes on finishes it with the
    // failed rows counted.
    EXPECT_EQ(result, c.stopOnError ? irFailed : irExecuted);
    if (!c.stopOnError) {
        EXPECT_EQ(imported, kLines);
    }
    // Nothing lost: every row read is in the table or counted as an error, and the rows before
    // the fault are all there, complete and in order.
    EXPECT_EQ(static_cast<long long>(rows.size()), added);
    EXPECT_EQ(added + errorCount, imported);
    EXPECT_GE(added, c.faultAfterRow);
    ExpectNumberedRows(rows, Numbers(1, added));
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, WriteFault,
    ::testing::Values(
        WriteFaultCase{"PageCapMidTransaction", Fault::PageCap, 1000, 0, false},
        WriteFaultCase{"PageCapAfterFlushes", Fault::PageCap, 1000, 200, false},
        WriteFaultCase{"PageCapStop", Fault::PageCap, 1000, 200, true},
        WriteFaultCase{"QueryOnlyMidTransaction", Fault::QueryOnly, 1000, 0, false},
        WriteFaultCase{"QueryOnlyStop", Fault::QueryOnly, 1000, 200, true},
        WriteFaultCase{"FileSizeMidTransaction", Fault::FileSizeLimit, 1000, 0, false},
        WriteFaultCase{"FileSizeAfterFlushes", Fault::FileSizeLimit, 1000, 200, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The destination refuses every write from the start. A table opened read-only: every row fails
// at its post, is counted and reported, and the table is left as it was. A database file
// without write permission: the table does not open, so no run starts.
struct ReadOnlyCase {
    const char* name;
    bool fileReadOnly;  // the file's permission; otherwise the table's ReadOnly setting
};
void PrintTo(const ReadOnlyCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadOnlyDestination : public ::testing::TestWithParam<ReadOnlyCase> {};

TEST_P(ReadOnlyDestination, EveryRowIsCountedAndTheTableIsUnchanged) {
    const ReadOnlyCase& c = GetParam();
    if (c.fileReadOnly && ::geteuid() == 0) GTEST_SKIP() << "the superuser writes any file";
    TempDir dir;
    const std::string db = dir.File("log.db");
    WriteFile(dir.File("log.txt"), NumberedText(20));
    CreateNumberedTable(db);
    if (c.fileReadOnly) ::chmod(db.c_str(), 0444);
    std::vector<std::string> errors;
    if (c.fileReadOnly) {
        // The table will not open a file it could not write: the run cannot start.
        TSqliteTable table;
        try {
            OpenTable(table, db);
            FAIL() << "a read-only file was opened for writing";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Cannot open table file '" + db + "': the file is read-only");
        }
        SqliteReader reader(db);
        EXPECT_EQ(reader.Count(), 0);
        return;
    }
    {
        TSqliteTable table;
        table.SetReadOnly(true);
        OpenTable(table, db);
        TQelFromText run;
        SetUpNumberedSource(run, table, dir.File("log.txt"));
        run.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool& abort) {
            abort = false;
            errors.push_back(e.Message());
        };
        run.Execute();
        EXPECT_EQ(run.Statistic().Result(), irExecuted);
        EXPECT_EQ(run.Statistic().TotalAdded(), 0);
        EXPECT_EQ(run.Statistic().TotalErrors(), 20);
    }
    ASSERT_EQ(errors.size(), 20u);
    EXPECT_EQ(errors.front(), "Cannot modify a read-only dataset");
    SqliteReader reader(db);
    EXPECT_EQ(reader.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Reliability, ReadOnlyDestination,
                         ::testing::Values(ReadOnlyCase{"ReadOnlyOpening", false},
                                           ReadOnlyCase{"ReadOnlyFile", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::rel
