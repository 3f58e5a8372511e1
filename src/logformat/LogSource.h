// TQelFromLog: the text source for access logs. A record is a line (quotes never join two),
// each line is matched against a log format, and the source references are the format's column
// names ("host", "time", ...), answered with typed values: a time in UTC, numbers, null for "-".
// A line that does not fit the format is a row error (ELogLineError) carrying the line's
// number and the reason, so the run's error handling sees it like any failing row.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "logformat/LogFormat.h"
#include "text/Qel2TXT.h"

namespace qel {

class ELogLineError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ELogLineError"; }
};

class TQelFromLog : public TQelFromText {
  public:
    explicit TQelFromLog(TComponent* owner = nullptr);
    const char* ClassName() const override { return "TQelFromLog"; }

    // The format lines are matched against; it must outlive the run.
    void SetLogFormat(const logformat::TLogFormat* format) { format_ = format; }
    const logformat::TLogFormat* LogFormat() const { return format_; }
    // The number given to the first line read (a run that starts part-way into a file).
    void SetFirstLineNumber(std::int64_t n) { firstLineNumber_ = n; }

    // Matches the current line; a line that does not fit raises ELogLineError.
    bool ImportRow() override;
    // A column name of the format (without regard to case) gives that column's value; "Text"
    // the whole line; anything else is answered as the text source answers it.
    void GetSourceValue(const Variant& name, Variant& value) override;
    int BindSourceName(const std::string& name) override;
    void GetBoundSourceValue(int handle, Variant& value) override;
    // One mapping line "column=[column]" for every column of the format that the destination
    // has (matched by name without regard to case).
    void CreateMappings() override;

    // The line of the current row (also when it did not fit the format) and its number.
    std::string_view LogLine() const { return line_; }
    std::int64_t LineNumber() const { return firstLineNumber_ + CurrentRow(); }

  protected:
    // The values come from matching the line in ImportRow: no row is evaluated ahead.
    std::unique_ptr<TQelRowReader> AheadReader(const std::vector<int>& handles,
                                               std::int64_t first) override;

  private:
    const logformat::TLogFormat* format_ = nullptr;
    std::vector<Variant> values_;
    std::string reason_;
    std::string_view line_;
    std::int64_t firstLineNumber_ = 1;
};

}  // namespace qel
