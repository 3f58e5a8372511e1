// Faults around a run: a source that cannot be read, a database locked by another process
// before and during the run, and Cancel pressed at any row.
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "ReliabilityKit.h"
#include "engine/QelStat.h"
#include "engine/WindowSystem.h"

namespace qel::rel {
namespace {

// ---------------------------------------------------------------------------------------------
// The source cannot be read: the run does not start, says why, and leaves the table alone.

struct SourceFaultCase {
    const char* name;
    std::function<std::string(const TempDir&)> makeSource;  // returns the source file name
    const char* message;  // the error's text, with %s for the file name
    bool rootReads;       // the fault does not hold for the superuser
};
void PrintTo(const SourceFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class SourceFault : public ::testing::TestWithParam<SourceFaultCase> {};

TEST_P(SourceFault, RunDoesNotStartAndTheTableIsUnchanged) {
    const SourceFaultCase& c = GetParam();
    if (c.rootReads && ::geteuid() == 0) GTEST_SKIP() << "the superuser reads any file";
    TempDir dir;
    const std::string db = dir.File("log.db");
    CreateNumberedTable(db);
    const std::string source = c.makeSource(dir);
    {
        // Two rows are there before the run.
        TSqliteTable table;
        OpenTable(table, db);
        TQelFromText first;
        WriteFile(dir.File("two.txt"), NumberedText(2));
        SetUpNumberedSource(first, table, dir.File("two.txt"));
        first.Execute();
        ASSERT_EQ(first.Statistic().TotalAdded(), 2);

        TQelFromText run;
        SetUpNumberedSource(run, table, source);
        bool after = false;
        run.OnAfterExecute = [&](TQelBaseComponent&) { after = true; };
        try {
            run.Execute();
            FAIL() << "the run started";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message(), Format(c.message, source));
        }
        EXPECT_EQ(run.Statistic().Result(), irUnknown);
        EXPECT_FALSE(after);
        EXPECT_EQ(table.RecordCount(), 2);
    }
    SqliteReader reader(db);
    ExpectNumberedRows(reader.Rows(), Numbers(1, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, SourceFault,
    ::testing::Values(SourceFaultCase{"Missing",
                                      [](const TempDir& d) { return d.File("no-such.txt"); },
                                      "Cannot open file %s", false},
                      SourceFaultCase{"Directory",
                                      [](const TempDir& d) {
                                          std::filesystem::create_directory(d.File("logs"));
                                          return d.File("logs");
                                      },
                                      "Cannot open file %s", false},
                      SourceFaultCase{"OpensButReadFails",
                                      [](const TempDir&) { return std::string("/proc/self/mem"); },
                                      "Cannot read file %s", false},
                      SourceFaultCase{"NoReadPermission",
                                      [](const TempDir& d) {
                                          WriteFile(d.File("secret.txt"), NumberedText(3));
                                          ::chmod(d.File("secret.txt").c_str(), 0);
                                          return d.File("secret.txt");
                                      },
                                      "Cannot open file %s", true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Another process locks the database.

class LockedDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        src_ = dir_.File("log.txt");
        db_ = dir_.File("log.db");
        WriteFile(src_, NumberedText(kLines));
        CreateNumberedTable(db_);
    }
    static constexpr int kLines = 30;
    TempDir dir_;
    std::string src_, db_;
};

TEST_F(LockedDatabase, ExclusiveLockBeforeTheRunKeepsTheTableFromOpening) {
    SqliteShell other(db_);
    ASSERT_EQ(other.Run("BEGIN EXCLUSIVE; INSERT INTO log (Id) VALUES (0);"), "");
    TSqliteTable table;
    try {
        OpenTable(table, db_, 50);
        FAIL() << "opened a database another process holds exclusively";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("database is locked"), std::string::npos) << e.what();
    }
    other.Quit();  // its transaction is rolled back
    OpenTable(table, db_, 50);
    TQelFromText run;
    SetUpNumberedSource(run, table, src_);
    run.Execute();
    EXPECT_EQ(run.Statistic().Result(), irExecuted);
    table.Close();
    SqliteReader reader(db_);
    ExpectNumberedRows(reader.Rows(), Numbers(1, kLines));
}

// The table is open when the other process takes the write lock; the lock goes at row `release`.
// Rows posted while it is held fail after the lock wait and are counted as errors; the others
// are stored.
struct LockWindow {
    const char* name;
    int take;     // the other process locks after this row (0: before the run)
    int release;  // and lets go after this row
    bool stopOnError;
};
void PrintTo(const LockWindow& c, std::ostream* os) {
    *os << c.name;
}

class LockDuringRun : public LockedDatabase, public ::testing::WithParamInterface<LockWindow> {};

TEST_P(LockDuringRun, RowsPostedWhileLockedAreCountedAndTheRestStored) {
    const LockWindow& c = GetParam();
    SqliteShell other(db_);
    std::vector<std::string> errors;
    int added = 0, failed = 0, imported = 0;
    TQelResult result = irUnknown;
    {
        TSqliteTable table;
        OpenTable(table, db_, 20);
        TQelFromText run;
        SetUpNumberedSource(run, table, src_);
        run.SetAbortOnProblem(c.stopOnError);
        run.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool&) {
            errors.push_back(e.Message());
        };
        auto lock = [&] {
            ASSERT_EQ(other.Run("BEGIN IMMEDIATE; INSERT INTO log (Id) VALUES (0);"), "");
        };
        if (c.take == 0) lock();
        run.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool&) {
            const int row = s.Statistic().TotalImported();
            if (row == c.take) {
                table.FlushBuffers();  // the host commits, then the other process gets in
                lock();
            }
            if (row == c.release) other.Run("ROLLBACK;");
        };
        run.Execute();
        result = run.Statistic().Result();
        added = run.Statistic().TotalAdded();
        failed = run.Statistic().TotalErrors();
        imported = run.Statistic().TotalImported();
    }
    other.Quit();

    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.front().find("database is locked"), std::string::npos) << errors.front();
    std::vector<int> stored = Numbers(1, c.take);
    if (c.stopOnError) {
        EXPECT_EQ(result, irFailed);
        EXPECT_EQ(imported, c.take + 1);
    } else {
        EXPECT_EQ(result, irExecuted);
        EXPECT_EQ(failed, c.release - c.take);
        for (int n : Numbers(c.release + 1, kLines)) stored.push_back(n);
    }
    EXPECT_EQ(added + failed, imported);
    SqliteReader reader(db_);
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    EXPECT_EQ(static_cast<int>(reader.Count()), added);
    ExpectNumberedRows(reader.Rows(), stored);
}

INSTANTIATE_TEST_SUITE_P(Reliability, LockDuringRun,
                         ::testing::Values(LockWindow{"BeforeTheRun", 0, 10, false},
                                           LockWindow{"MidRun", 12, 20, false},
                                           LockWindow{"UntilTheLastRow", 25, 30, false},
                                           LockWindow{"MidRunStop", 12, 20, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LockedDatabase, ReaderAcrossTheFinalCommitFailsTheRunButCloseSavesTheRows) {
    SqliteShell reader(db_);
    TQelResult result = irUnknown;
    int added = 0;
    {
        TSqliteTable table;
        OpenTable(table, db_, 20);
        TQelFromText run;
        SetUpNumberedSource(run, table, src_);
        // After the first row another process starts reading and keeps its read transaction,
        // so the commit at the end of the run cannot take the exclusive lock.
        run.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool&) {
            if (s.Statistic().TotalImported() == 1) reader.Run("BEGIN; SELECT count(*) FROM log;");
        };
        run.Execute();
        result = run.Statistic().Result();
        added = run.Statistic().TotalAdded();
        EXPECT_TRUE(table.InTransaction());  // the records wait; nothing was thrown away
        reader.Quit();
        table.Close();  // now the commit goes through
    }
    EXPECT_EQ(result, irFailed);
    EXPECT_EQ(added, kLines);
    SqliteReader check(db_);
    ExpectNumberedRows(check.Rows(), Numbers(1, kLines));
}

// ---------------------------------------------------------------------------------------------
// Cancel pressed in the progress dialog once `cancelAfter` rows are through. Every tenth line
// holds an Id that is no integer: that row fails when written and is counted as an error.

struct CancelCase {
    int cancelAfter;
    int updateStep;
};
void PrintTo(const CancelCase& c, std::ostream* os) {
    *os << "cancel after " << c.cancelAfter << ", step " << c.updateStep;
}

class CancelAtRow : public ::testing::TestWithParam<CancelCase> {
  protected:
    void SetUp() override { installed_.emplace(ws_); }
    void TearDown() override { installed_.reset(); }
    THeadlessWindowSystem ws_;
    std::optional<TScopedWindowSystem> installed_;
};

TEST_P(CancelAtRow, TheTableHoldsExactlyTheRowsCountedAsAdded) {
    const CancelCase& c = GetParam();
    const int kLines = 60;
    TempDir dir;
    std::string text;
    std::vector<int> good;
    for (int n = 1; n <= kLines; ++n) {
        if (n % 10 == 0) {
            text += "x" + std::to_string(n) + ",bad,bad\n";
        } else {
            text += NumberedLine(n) + "\n";
        }
    }
    WriteFile(dir.File("log.txt"), text);
    CreateNumberedTable(dir.File("log.db"));
    int added = 0, failed = 0, imported = 0;
    TQelResult result = irUnknown;
    {
        TSqliteTable table;
        OpenTable(table, dir.File("log.db"));
        TQelFromText run;
        SetUpNumberedSource(run, table, dir.File("log.txt"));
        run.SetAnimatedStatus(true);
        run.Statistic().SetUpdateStep(c.updateStep);
        ws_.onProcessMessages = [&] {
            if (ws_.dialog != nullptr && run.Statistic().TotalImported() >= c.cancelAfter) {
                ws_.dialog->btnCancelClick();
            }
        };
        run.Execute();
        result = run.Statistic().Result();
        added = run.Statistic().TotalAdded();
        failed = run.Statistic().TotalErrors();
        imported = run.Statistic().TotalImported();
    }
    // The click reaches the dialog at its next refresh, which comes every UpdateStep rows while
    // rows are left, before the next row; the run stops once that row is through.
    const int step = std::max(c.updateStep, 1);
    const int noticedAt = (c.cancelAfter + step - 1) / step * step;
    const bool canceled = noticedAt < kLines;
    EXPECT_EQ(result, canceled ? irCanceled : irExecuted);
    EXPECT_EQ(imported, canceled ? noticedAt + 1 : kLines);
    EXPECT_EQ(failed, imported / 10);
    EXPECT_EQ(added + failed, imported);

    std::vector<int> expected;
    for (int n = 1; n <= imported; ++n) {
        if (n % 10 != 0) expected.push_back(n);
    }
    SqliteReader reader(dir.File("log.db"));
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    EXPECT_EQ(static_cast<int>(reader.Count()), added);
    ExpectNumberedRows(reader.Rows(), expected);
}

INSTANTIATE_TEST_SUITE_P(Reliability, CancelAtRow,
                         ::testing::Values(CancelCase{1, 1}, CancelCase{2, 1}, CancelCase{9, 1},
                                           CancelCase{10, 1}, CancelCase{11, 1}, CancelCase{59, 1},
                                           CancelCase{60, 1}, CancelCase{7, 5}, CancelCase{20, 0},
                                           CancelCase{33, 200}),
                         [](const auto& info) {
                             return "After" + std::to_string(info.param.cancelAfter) + "Step" +
                                    std::to_string(info.param.updateStep);
                         });

}  // namespace
}  // namespace qel::rel
