#include "cli/ImportCommand.h"

#include <glob.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

#include "cli/ResumeBook.h"
#include "cli/RunReport.h"
#include "cli/TableSetup.h"
#include "cli/TerminalProgress.h"
#include "core/DateTime.h"
#include "core/TextUtil.h"
#include "dataset/PgTable.h"
#include "dataset/SqliteTable.h"
#include "engine/ImpCnst.h"
#include "logformat/LogSource.h"
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
    if (!ModeUsesKeys(importer.Mode())) return;
    const auto* pg = dynamic_cast<const TPgTable*>(&table);
    if (pg == nullptr || importer.DatasetKeys().empty() || pg->HasIndexFor(importer.DatasetKeys()))
        return;
    err << "qel: table " << pg->SqlTableName() << " has no index on the key "
        << importer.DatasetKeys()
        << ": every row searches the whole table (CREATE INDEX ON the key columns makes this "
           "run fast)\n";
}

// The sources in the order given: a name no file has that holds *, ? or [ is a shell pattern
// and stands for the files it matches, in the order of their names.
std::vector<std::string> ExpandSources(const std::vector<std::string>& given) {
    std::vector<std::string> out;
    for (const std::string& s : given) {
        std::error_code ec;
        if (s == "-" || std::filesystem::exists(s, ec) ||
            s.find_first_of("*?[") == std::string::npos) {
            out.push_back(s);
            continue;
        }
        glob_t found{};
        if (glob(s.c_str(), 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) out.emplace_back(found.gl_pathv[i]);
        } else {
            out.push_back(s);  // reported as a file that cannot be opened
        }
        globfree(&found);
    }
    if (std::count(out.begin(), out.end(), "-") > 1)
        throw EUsageError("SOURCE: standard input (-) can be read only once");
    return out;
}

// What the runs of one `qel import` share: the rejects file and the row errors seen.
struct TRunErrors {
    std::unique_ptr<TRejectsFile> Rejects;
    std::string FirstRowError;  // the first row error, for the note on skipped rows
    std::int64_t LastFailedRow = -1;
    int FailedRows = 0;     // rows that failed evaluation, conversion or their write
    int RejectedLines = 0;  // lines that did not fit the log format
    bool TooManyRejected = false;
};

// --resume: the file being loaded and how far its lines are dealt with. Every commit of the
// destination writes that position into the resume book inside the same transaction.
struct TResumeState {
    std::unique_ptr<TResumeBook> Book;
    TSqliteTable* Table = nullptr;
    bool Active = false;  // a file is being loaded
    TFileIdentity File;
    std::string Name;
    TResumePoint Settled;   // the lines before the row being worked on
    TResumePoint Recorded;  // what the book holds for the file

    void Record() {
        if (!Active || (Settled.Offset == Recorded.Offset && Settled.Lines == Recorded.Lines))
            return;
        Book->Record(File, Name, Settled);
        Recorded = Settled;
    }
};

}  // namespace

int RunImport(const ImportOptions& o, std::istream& input, std::ostream& out, std::ostream& err,
              ProgressTarget progress) {
    std::optional<logformat::TLogFormat> format;
    std::vector<std::string> sources;
    // The options are checked once before anything is opened.
    TQelFromText check;
    try {
        ApplyImportOptions(o, check);
        if (!o.Format.empty()) format = logformat::TLogFormat::Parse(o.Format);
        if (!format && (o.MaxErrors || o.Resume))
            throw EUsageError(Format("%s needs --format", o.Resume ? "--resume" : "--max-errors"));
        sources = ExpandSources(o.Sources);
    } catch (const EUsageError& e) {
        err << "qel: " << e.what() << '\n';
        return esUsage;
    } catch (const logformat::ELogFormatError& e) {
        err << "qel: --format: " << e.what() << '\n';
        return esUsage;
    }

    const std::uint64_t start = TickCountMs();
    TRunSummary total;
    total.ShowRejected = format.has_value();
    TRunErrors errors;
    TResumeState resume;          // outlives the destination, whose commits call into it
    std::int64_t rowsBefore = 0;  // rows of the earlier runs, so that row numbers stay apart
    std::unique_ptr<TQelFromText> importer;
    const auto runSummary = [&] {
        TRunSummary s = SummaryOf(importer->Statistic(), MillisecondsSince(start));
        s.Error = importer->LastError();
        return s;
    };
    try {
        std::string tableName = o.Table;
        if (format) {
            if (tableName.empty()) tableName = "access";
            EnsureTable(o.Database, tableName,
                        o.Create.empty() ? SqliteColumnList(format->Columns()) : o.Create);
        } else if (!o.Create.empty()) {
            EnsureTable(o.Database, o.Table, o.Create);
        }
        std::unique_ptr<TDataSet> destination = MakeDestination(o.Database, tableName);
        TDataSet& table = *destination;
        table.Open();
        NoteKeySearch(check, table, err);
        if (format && o.Maps.empty()) {
            bool any = false;
            for (const auto& column : format->Columns()) any = any || table.FindField(column.Name);
            if (!any)
                throw EUsageError(
                    Format("--format: the table %s has none of the format's columns", tableName));
        }
        if (!o.Rejects.empty()) errors.Rejects = std::make_unique<TRejectsFile>(o.Rejects);
        if (o.Resume) {
            resume.Table = dynamic_cast<TSqliteTable*>(&table);
            if (resume.Table == nullptr)
                throw EUsageError("--resume needs an SQLite database as DATABASE");
            if (std::find(sources.begin(), sources.end(), "-") != sources.end())
                throw EUsageError("--resume cannot be used with standard input (-)");
            resume.Book = std::make_unique<TResumeBook>(resume.Table->Handle());
            resume.Table->SetBeforeCommit([&resume](sqlite3*) { resume.Record(); });
        }

        TTerminalWindowSystem ws(o.Quiet ? nullptr : progress.Stream, progress.Columns, err);
        TScopedWindowSystem installed(ws);
        for (const std::string& source : sources) {
            TQelFromLog* log = nullptr;
            if (format) {
                auto logSource = std::make_unique<TQelFromLog>();
                log = logSource.get();
                log->SetLogFormat(&*format);
                importer = std::move(logSource);
            } else {
                importer = std::make_unique<TQelFromText>();
            }
            ApplyImportOptions(o, *importer);
            importer->SetDataSet(&table);
            if (source != "-") importer->SetSourceFileName(source);
            importer->SetCompression(cmAuto);  // a gzip file or stream is unpacked as it is read
            if (resume.Book) {
                // From where the book says this file was loaded to; the position moves on as
                // each row is dealt with (stored, skipped or rejected alike).
                resume.File = IdentifyFile(source);
                resume.Name = source;
                resume.Recorded = resume.Book->Find(resume.File);
                resume.Settled = resume.Recorded;
                resume.Active = true;
                importer->SetStartOffset(resume.Settled.Offset);
                log->SetFirstLineNumber(resume.Settled.Lines + 1);
                importer->OnAfterRecordEvent = [&resume, log](TQelBaseComponent&, bool&) {
                    resume.Settled = {log->CurrentRecordEnd(), log->LineNumber()};
                };
            }
            const std::string sourceName = source == "-" ? "standard input" : source;
            // Every row error is offered here: the rejects file keeps each failing row once,
            // and --stop-on-error keeps Abort as it comes (AbortOnProblem) so that the first
            // failure ends the run; otherwise the row is skipped and counted, and the run goes
            // on. A line that does not fit the log format is a rejected line; more of them than
            // --max-errors end the run.
            importer->SetAbortOnProblem(true);
            importer->OnErrorEvent = [&, log](TQelBaseComponent& sender, const Exception& error,
                                              bool& abort) {
                const std::int64_t row = rowsBefore + sender.Statistic().TotalImported();
                const bool rejectedLine = dynamic_cast<const ELogLineError*>(&error) != nullptr;
                if (row != errors.LastFailedRow) {
                    errors.LastFailedRow = row;
                    if (rejectedLine) {
                        ++errors.RejectedLines;
                    } else {
                        ++errors.FailedRows;
                        if (errors.FirstRowError.empty()) errors.FirstRowError = error.Message();
                    }
                }
                if (errors.Rejects) {
                    if (log != nullptr) {
                        errors.Rejects->Write(row, log->LogLine(),
                                              sourceName + " " + error.Message());
                    } else {
                        errors.Rejects->Write(row, importer->CurrentLine(), error.Message());
                    }
                }
                if (!o.StopOnError) abort = false;
                if (rejectedLine && o.MaxErrors && errors.RejectedLines > *o.MaxErrors) {
                    errors.TooManyRejected = true;
                    abort = true;
                }
            };
            {
                TInterruptScope interrupts;
                if (source == "-") {
                    importer->ImportFromStream(input);
                } else {
                    importer->Execute();
                }
            }
            TRunSummary run = runSummary();
            // Lines dealt with after the last commit (rejected or skipped ones) are kept too.
            if (resume.Active && run.Result == irExecuted) resume.Record();
            resume.Active = false;
            rowsBefore += run.Processed;
            AddRun(total, run);
            importer.reset();
            if (run.Result != irExecuted) break;
        }
        table.Close();
        if (errors.Rejects) errors.Rejects->Close();
    } catch (const EUsageError& e) {
        err << "qel: " << e.what() << '\n';
        return esUsage;
    } catch (const std::exception& e) {
        // Raised before a run (a missing file, a required setting, the database) or while
        // closing: the run did not happen or its outcome is in doubt.
        err << e.what() << '\n';
        if (importer) AddRun(total, runSummary());
        if (total.Result == irExecuted || total.Result == irCanceled) total.Result = irFailed;
        if (total.Error.empty()) total.Error = e.what();
        total.Rejected = errors.RejectedLines;
        total.ElapsedMs = MillisecondsSince(start);
        PrintSummary(out, total, o.Json);
        return esFailed;
    }

    total.Rejected = errors.RejectedLines;
    total.ElapsedMs = MillisecondsSince(start);
    if (total.Result == irFailed) {
        err << impcnst::SImportFailed << '\n';
        if (errors.TooManyRejected) {
            err << "More than " << *o.MaxErrors << (*o.MaxErrors == 1 ? " line was" : " lines were")
                << " rejected (--max-errors)" << '\n';
        } else if (!total.Error.empty()) {
            // Why (with --stop-on-error, the row error that ended the run).
            err << total.Error << '\n';
        }
    } else if (total.Result == irCanceled && !o.Quiet) {
        err << impcnst::SImportCanceled << '\n';
    }
    // Failing rows are skipped, and those that failed before their write (evaluation,
    // conversion, conditions) are not even in the Errors count: say so rather than let them go
    // unnoticed.
    if (!o.StopOnError && errors.FailedRows > 0) {
        err << errors.FailedRows
            << (errors.FailedRows == 1 ? " row failed and was skipped"
                                       : " rows failed and were skipped")
            << "; the first error: " << errors.FirstRowError << '\n';
    }
    PrintSummary(out, total, o.Json);
    return ExitStatusOf(total.Result);
}

}  // namespace qel::cli
