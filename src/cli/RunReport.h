// What `qel import` tells at the end of a run: the result lines (or one JSON object) on
// standard output, and the exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>
#include <string_view>

#include "engine/QelBase.h"

namespace qel::cli {

// Exit statuses of the tool.
enum TExitStatus : int {
    esExecuted = 0,
    esFailed = 1,  // a failed run, or an error raised before the run
    esUsage = 2,
    esCanceled = 3,
};

struct TRunSummary {
    TQelResult Result = irUnknown;
    int Processed = 0;
    int Errors = 0;
    int Added = 0;
    int Updated = 0;
    int Deleted = 0;
    std::int64_t ElapsedMs = 0;
    // Lines of a log that did not fit its format; told only for log runs.
    int Rejected = 0;
    bool ShowRejected = false;
    std::string Error;  // why a failed run failed; empty otherwise
};

TRunSummary SummaryOf(const TQelStatistic& statistic, std::int64_t elapsedMs);
// The summary of several runs one after the other: counters added, the first result that is
// not Executed (else Executed), the elapsed time of `later`'s end.
void AddRun(TRunSummary& total, const TRunSummary& run);
// "Executed", "Canceled", "Failed", "Unknown".
const char* ResultText(TQelResult result);
// Seven lines "Result: Executed", "Processed: N", ..., "Elapsed: N ms" ("Rejected: N" after
// "Errors" when the summary shows rejected lines); or, with `json`, one object with the same
// keys (Elapsed in milliseconds) on one line, and "Error" after them when the run failed for a
// known reason.
void PrintSummary(std::ostream& out, const TRunSummary& summary, bool json);
TExitStatus ExitStatusOf(TQelResult result);

// Failing rows kept for a later look: each one is appended to the file as its source line, a
// tab and the error message. A row offered more than once (a posting error the handler asked
// to stop on is offered twice) is written once.
class TRejectsFile {
  public:
    // Opens (creates) the file for appending; raises EFOpenError "Cannot open file %s".
    explicit TRejectsFile(const std::string& fileName);
    ~TRejectsFile();
    TRejectsFile(const TRejectsFile&) = delete;
    TRejectsFile& operator=(const TRejectsFile&) = delete;

    // `row` tells the rows apart (the run's count of processed rows).
    void Write(std::int64_t row, std::string_view line, std::string_view message);
    int Count() const { return count_; }
    // Flushes and closes; raises EInOutError when anything could not be written.
    void Close();

  private:
    std::string fileName_;
    std::FILE* file_ = nullptr;
    std::int64_t lastRow_ = -1;
    int count_ = 0;
    bool failed_ = false;
};

}  // namespace qel::cli
