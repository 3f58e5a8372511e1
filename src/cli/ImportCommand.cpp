#include "cli/ImportCommand.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/RunReport.h"
#include "cli/TableSetup.h"
#include "cli/TerminalProgress.h"
#include "core/TextUtil.h"
#include "dataset/PgTable.h"
#include "engine/ImpCnst.h"
#include "text/Qel2TXT.h"

namespace qel::cli {

namespace {

// Keeps the interrupt handlers installed for the length of a run.
struct TInterruptScope {
    TInterruptScope() {
        ClearInterrupt();
        InstallInterruptHandlers();
    }
    ~TInterruptScope() { RestoreInterruptHandlers(); }
};

// A keyed run searches the destination for every row: over a server's table without an index
// on the keys each search reads the whole table, which the user should hear about first.
void NoteKeySearch(const TQelBaseComponent& importer, const TDataSet& table, std::ostream& err) {
    const TImportMode mode = importer.Mode();
    if (mode != imUpdate && mode != imAppendUpdate && mode != imDelete) return;
    const auto* pg = dynamic_cast<const TPgTable*>(&table);
    if (pg == nullptr || importer.DatasetKeys().empty() || pg->HasIndexFor(importer.DatasetKeys()))
        return;
    err << "qel: table " << pg->SqlTableName() << " has no index on the key "
        << importer.DatasetKeys()
        << ": every row searches the whole table (CREATE INDEX ON the key columns makes this "
           "run fast)\n";
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

int RunImport(const ImportOptions& o, std::istream& input, std::ostream& out, std::ostream& err,
              ProgressTarget progress) {
    TQelFromText importer;
    try {
        ApplyImportOptions(o, importer);
    } catch (const EUsageError& e) {
        err << "qel: " << e.what() << '\n';
        return esUsage;
    }

    const auto start = std::chrono::steady_clock::now();
    std::string lastRowError;   // the error that ended the run, with --stop-on-error
    std::string firstRowError;  // the first row error, for the note on skipped rows
    std::int64_t lastFailedRow = -1;
    int failedRows = 0;
    try {
        if (!o.Create.empty()) EnsureTable(o.Database, o.Table, o.Create);
        std::unique_ptr<TDataSet> destination = MakeDestination(o.Database, o.Table);
        TDataSet& table = *destination;
        table.Open();
        NoteKeySearch(importer, table, err);

        std::unique_ptr<TRejectsFile> rejects;
        if (!o.Rejects.empty()) rejects = std::make_unique<TRejectsFile>(o.Rejects);

        importer.SetDataSet(&table);
        if (o.Source != "-") importer.SetSourceFileName(o.Source);
        // Every row error is offered here: the rejects file keeps each failing row once, and
        // --stop-on-error keeps Abort as it comes (AbortOnProblem) so that the first failure
        // ends the run; otherwise the row is skipped and counted, and the run goes on.
        importer.SetAbortOnProblem(true);
        importer.OnErrorEvent = [&](TQelBaseComponent& sender, const Exception& error,
                                    bool& abort) {
            const std::int64_t row = sender.Statistic().TotalImported();
            if (row != lastFailedRow) {
                lastFailedRow = row;
                ++failedRows;
                if (firstRowError.empty()) firstRowError = error.Message();
            }
            if (rejects) rejects->Write(row, importer.CurrentLine(), error.Message());
            lastRowError = error.Message();
            if (!o.StopOnError) abort = false;
        };

        TTerminalWindowSystem ws(o.Quiet ? nullptr : progress.Stream, progress.Columns, err);
        TScopedWindowSystem installed(ws);
        {
            TInterruptScope interrupts;
            if (o.Source == "-") {
                importer.ImportFromStream(input);
            } else {
                importer.Execute();
            }
        }
        table.Close();
        if (rejects) rejects->Close();
    } catch (const EUsageError& e) {
        err << "qel: " << e.what() << '\n';
        return esUsage;
    } catch (const std::exception& e) {
        // Raised before the run (a missing file, a required setting, the database) or while
        // closing: the run did not happen or its outcome is in doubt.
        err << e.what() << '\n';
        TRunSummary summary = SummaryOf(importer.Statistic(), MillisecondsSince(start));
        if (summary.Result == irExecuted || summary.Result == irCanceled) summary.Result = irFailed;
        PrintSummary(out, summary, o.Json);
        return esFailed;
    }

    TRunSummary summary = SummaryOf(importer.Statistic(), MillisecondsSince(start));
    if (summary.Result == irFailed) {
        err << impcnst::SImportFailed << '\n';
        if (o.StopOnError && !lastRowError.empty()) err << lastRowError << '\n';
    } else if (summary.Result == irCanceled && !o.Quiet) {
        err << impcnst::SImportCanceled << '\n';
    }
    // Failing rows are skipped, and those that failed before their write (evaluation,
    // conversion, conditions) are not even in the Errors count: say so rather than let them go
    // unnoticed.
    if (!o.StopOnError && failedRows > 0) {
        err << failedRows
            << (failedRows == 1 ? " row failed and was skipped" : " rows failed and were skipped")
            << "; the first error: " << firstRowError << '\n';
    }
    PrintSummary(out, summary, o.Json);
    return ExitStatusOf(summary.Result);
}

}  // namespace qel::cli
