#include "cli/RunReport.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "core/Errors.h"

namespace qel::cli {

TRunSummary SummaryOf(const TQelStatistic& s, std::int64_t elapsedMs) {
    TRunSummary summary;
    summary.Result = s.Result();
    summary.Processed = s.TotalImported();
    summary.Errors = s.TotalErrors();
    summary.Added = s.TotalAdded();
    summary.Updated = s.TotalUpdated();
    summary.Deleted = s.TotalDeleted();
    summary.ElapsedMs = elapsedMs;
    return summary;
}

void AddRun(TRunSummary& total, const TRunSummary& run) {
    if (total.Result == irUnknown || total.Result == irExecuted) {
        total.Result = run.Result;
        total.Error = run.Error;
    }
    total.Processed += run.Processed;
    total.Errors += run.Errors;
    total.Added += run.Added;
    total.Updated += run.Updated;
    total.Deleted += run.Deleted;
    total.Rejected += run.Rejected;
    total.ShowRejected = total.ShowRejected || run.ShowRejected;
    total.ElapsedMs = run.ElapsedMs;
}

const char* ResultText(TQelResult result) {
    switch (result) {
        case irExecuted:
            return "Executed";
        case irCanceled:
            return "Canceled";
        case irFailed:
            return "Failed";
        case irUnknown:
            break;
    }
    return "Unknown";
}

void PrintSummary(std::ostream& out, const TRunSummary& s, bool json) {
    if (json) {
        nlohmann::ordered_json j;
        j["Result"] = ResultText(s.Result);
        j["Processed"] = s.Processed;
        j["Errors"] = s.Errors;
        if (s.ShowRejected) j["Rejected"] = s.Rejected;
        j["Added"] = s.Added;
        j["Updated"] = s.Updated;
        j["Deleted"] = s.Deleted;
        j["Elapsed"] = s.ElapsedMs;
        if (!s.Error.empty()) j["Error"] = s.Error;
        // A message may quote source bytes that are not UTF-8: those become U+FFFD.
        out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        out << "Result: " << ResultText(s.Result) << '\n'
            << "Processed: " << s.Processed << '\n'
            << "Errors: " << s.Errors << '\n';
        if (s.ShowRejected) out << "Rejected: " << s.Rejected << '\n';
        out << "Added: " << s.Added << '\n'
            << "Updated: " << s.Updated << '\n'
            << "Deleted: " << s.Deleted << '\n'
            << "Elapsed: " << s.ElapsedMs << " ms\n";
    }
    out.flush();
}

TExitStatus ExitStatusOf(TQelResult result) {
    switch (result) {
        case irExecuted:
            return esExecuted;
        case irCanceled:
            return esCanceled;
        default:
            return esFailed;
    }
}

TRejectsFile::TRejectsFile(const std::string& fileName) : fileName_(fileName) {
    file_ = std::fopen(fileName.c_str(), "ab");
    if (!file_) throw EFOpenError(Format(msg::kFOpenError, fileName));
}

TRejectsFile::~TRejectsFile() {
    if (file_) std::fclose(file_);
}

void TRejectsFile::Write(std::int64_t row, std::string_view line, std::string_view message) {
    if (!file_ || row == lastRow_) return;
    lastRow_ = row;
    ++count_;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
        std::fputc('\t', file_) == EOF ||
        std::fwrite(message.data(), 1, message.size(), file_) != message.size() ||
        std::fputc('\n', file_) == EOF) {
        failed_ = true;
    }
}

void TRejectsFile::Close() {
    if (!file_) return;
    if (std::fflush(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (failed_) throw EInOutError("Cannot write to the rejects file " + fileName_);
}

}  // namespace qel::cli
