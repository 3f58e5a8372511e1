// Web-server access-log formats: the presets, Apache `LogFormat` and nginx `log_format` strings
// read into a list of fields, the typed columns those fields give, and the matching of one log
// line against a format into one value per column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/Variant.h"
#include "dataset/DataSet.h"

namespace qel::logformat {

// A format string (or preset name) that cannot be read.
class ELogFormatError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ELogFormatError"; }
};

// A destination column a format fills: its name and its type family (ftString, ftInteger,
// ftFloat or ftDateTime); a table engine gives the family its own type name.
struct TLogColumn {
    std::string Name;
    TFieldType Type = ftString;
    friend bool operator==(const TLogColumn&, const TLogColumn&) = default;
};

// What a field of the line holds, and so how its text becomes values.
enum class TLogValue : std::uint8_t {
    Text,        // the text as written
    Integer,     // digits; "-" is null
    Real,        // a decimal number; "-" is null
    LocalTime,   // 10/Oct/2000:13:55:36 -0700 -> time (UTC) and tz
    IsoTime,     // 2000-10-10T13:55:36-07:00 -> time (UTC) and tz
    Request,     // "GET /a HTTP/1.1" -> method, path, protocol
    QueryString  // "?a=1" or nothing, right after a path
};

// One field of a format: what it holds, the columns it fills (by index into Columns()), and
// how it is written in the line.
struct TLogField {
    TLogValue Value = TLogValue::Text;
    std::string Directive;     // as written in the format, e.g. "%>s" or "$status"
    std::vector<int> Columns;  // one, or two for a time, or three for a request
    bool Bracketed = false;    // Apache's %t writes its own [ ]
    bool Quoted = false;       // written between double quotes: \" and \\ are escapes
};

class TLogFormat {
  public:
    // A preset name (common, combined, vhost_combined, nginx), an Apache LogFormat string
    // (with % directives) or an nginx log_format string (with $ variables). Raises
    // ELogFormatError naming what it cannot read.
    static TLogFormat Parse(std::string_view nameOrFormat);
    static TLogFormat ParseApache(std::string_view format);
    static TLogFormat ParseNginx(std::string_view format);
    // The preset names, in the order sniffing tries them.
    static const std::vector<std::string>& PresetNames();
    // The format string of a preset, empty for an unknown name.
    static std::string PresetFormat(std::string_view name);

    // The preset name this format was made from, or empty for a format string.
    const std::string& Name() const { return name_; }
    // The format string (the preset's own for a preset).
    const std::string& Text() const { return text_; }
    // The columns in table order: host, ident, user, time, tz, method, path, protocol, status,
    // bytes, referer, agent (those the format has), then the other fields' columns in the order
    // of the format.
    const std::vector<TLogColumn>& Columns() const { return columns_; }
    int ColumnIndex(std::string_view name) const;  // by name without regard to case; -1: none
    const std::vector<TLogField>& Fields() const { return fields_; }

    // Reads one line (a trailing CR is ignored) into one value per column. False when the line
    // does not fit the format, with the reason in `reason`; `values` is then partly filled.
    bool Match(std::string_view line, std::vector<Variant>& values, std::string& reason) const;

  private:
    // The literal text before field i is literals_[i]; literals_.back() follows the last field.
    std::vector<std::string> literals_;
    std::vector<TLogField> fields_;
    std::vector<TLogColumn> columns_;
    std::string name_;
    std::string text_;

    friend class TLogFormatBuilder;
};

// --- The pieces of a line, also used on their own -----------------------------------------

// "10/Oct/2000:13:55:36 -0700" (day, English month abbreviation, year, time, offset): the
// moment in UTC, exact to the second, and the offset as written. False for anything else.
bool ParseLocalTime(std::string_view text, TDateTime& utc, std::string& zone);
// "2000-10-10T13:55:36-07:00" or "...Z": the moment in UTC and the offset as written.
bool ParseIsoTime(std::string_view text, TDateTime& utc, std::string& zone);

// A request line split at its first and last blank: "GET /a b HTTP/1.1" gives GET, "/a b" and
// HTTP/1.1. Without a protocol (the last word does not start with "HTTP/") the path runs to the
// end; a single word is the path alone. "-" and the empty text are no request at all.
struct TRequestParts {
    std::string_view Method, Path, Protocol;
    bool HasMethod = false, HasPath = false, HasProtocol = false;
};
TRequestParts SplitRequest(std::string_view request);

// The text of a quoted field with the server's escapes read: \" is ", \\ is \, any other
// backslash is kept as written (so \x22 stays \x22).
std::string UnescapeQuoted(std::string_view text);

}  // namespace qel::logformat
