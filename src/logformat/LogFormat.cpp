#include "logformat/LogFormat.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>

#include "core/TextUtil.h"

namespace qel::logformat {

namespace {

struct TPreset {
    const char* Name;
    const char* Format;
};

// Apache's own definitions of its named formats, and nginx's predefined "combined".
constexpr TPreset kPresets[] = {
    {"combined", "%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-agent}i\""},
    {"common", "%h %l %u %t \"%r\" %>s %b"},
    {"vhost_combined", "%v:%p %h %l %u %t \"%r\" %>s %O \"%{Referer}i\" \"%{User-Agent}i\""},
    {"nginx",
     "$remote_addr - $remote_user [$time_local] \"$request\" $status $body_bytes_sent "
     "\"$http_referer\" \"$http_user_agent\""},
};

// The columns that come first, in this order, whatever the order of the fields in the line.
constexpr std::array<const char*, 12> kLeadingColumns = {
    "host", "ident",    "user",   "time",  "tz",      "method",
    "path", "protocol", "status", "bytes", "referer", "agent",
};

// A field as the format describes it, before its columns are placed.
struct TFieldPlan {
    TLogValue Value = TLogValue::Text;
    std::vector<TLogColumn> Columns;
};

TFieldPlan One(const std::string& name, TFieldType type, TLogValue value) {
    return {value, {{name, type}}};
}
TFieldPlan TextField(const std::string& name) {
    return One(name, ftString, TLogValue::Text);
}
TFieldPlan IntegerField(const std::string& name) {
    return One(name, ftInteger, TLogValue::Integer);
}
TFieldPlan TimeField(TLogValue value) {
    return {value, {{"time", ftDateTime}, {"tz", ftString}}};
}
TFieldPlan RequestField() {
    return {TLogValue::Request, {{"method", ftString}, {"path", ftString}, {"protocol", ftString}}};
}

// A header, cookie or variable name as a column name: lower case, anything but letters and
// digits as "_".
std::string ColumnName(std::string_view name) {
    std::string out;
    for (char c : name) {
        const bool word =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        out += word ? static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) : '_';
    }
    return out.empty() ? std::string("field") : out;
}

// The column of a request header: the two every combined log has get their short names.
std::string HeaderColumn(std::string_view header) {
    if (SameText(header, "Referer")) return "referer";
    if (SameText(header, "User-Agent")) return "agent";
    return ColumnName(header);
}

TFieldPlan ApacheDirective(char letter, std::string_view argument, const std::string& written) {
    const bool hasArgument = !argument.empty();
    switch (letter) {
        case 'h':
        case 'a':
            return TextField(hasArgument ? ColumnName(argument) + "_ip" : "host");
        case 'A':
            return TextField("local_ip");
        case 'l':
            return TextField("ident");
        case 'u':
            return TextField("user");
        case 't':
            if (!hasArgument) return TimeField(TLogValue::LocalTime);
            break;
        case 'r':
            return RequestField();
        case 's':
            return IntegerField("status");
        case 'b':
        case 'B':
            return IntegerField("bytes");
        case 'O':
            return IntegerField("bytes_sent");
        case 'I':
            return IntegerField("bytes_received");
        case 'S':
            return IntegerField("bytes_transferred");
        case 'v':
            return TextField("vhost");
        case 'V':
            return TextField("server_name");
        case 'p':
            return IntegerField(hasArgument && !SameText(argument, "canonical")
                                    ? ColumnName(argument) + "_port"
                                    : "port");
        case 'P':
            return IntegerField("pid");
        case 'D':
            return IntegerField("duration_us");
        case 'T':
            if (!hasArgument || SameText(argument, "s")) return IntegerField("duration_s");
            if (SameText(argument, "ms")) return IntegerField("duration_ms");
            if (SameText(argument, "us")) return IntegerField("duration_us");
            break;
        case 'U':
            return TextField("path");
        case 'q':
            return {TLogValue::QueryString, {{"query", ftString}}};
        case 'm':
            return TextField("method");
        case 'H':
            return TextField("protocol");
        case 'f':
            return TextField("filename");
        case 'k':
            return IntegerField("keepalive");
        case 'L':
            return TextField("log_id");
        case 'R':
            return TextField("handler");
        case 'X':
            return TextField("connection_status");
        case 'i':
            if (hasArgument) return TextField(HeaderColumn(argument));
            break;
        case 'o':
        case 'e':
        case 'n':
        case 'C':
        case 'x':
            if (hasArgument) return TextField(ColumnName(argument));
            break;
        default:
            break;
    }
    throw ELogFormatError(Format("Unknown log format directive %s", written));
}

TFieldPlan NginxVariable(const std::string& name) {
    if (name == "remote_addr") return TextField("host");
    if (name == "remote_user") return TextField("user");
    if (name == "time_local") return TimeField(TLogValue::LocalTime);
    if (name == "time_iso8601") return TimeField(TLogValue::IsoTime);
    if (name == "request") return RequestField();
    if (name == "status") return IntegerField("status");
    if (name == "body_bytes_sent") return IntegerField("bytes");
    if (name == "bytes_sent") return IntegerField("bytes_sent");
    if (name == "request_length") return IntegerField("request_length");
    if (name == "connection" || name == "connection_requests") return IntegerField(name);
    if (name == "server_port") return IntegerField("port");
    if (name == "host") return TextField("vhost");
    if (name == "request_method") return TextField("method");
    if (name == "request_uri" || name == "uri") return TextField("path");
    if (name == "server_protocol") return TextField("protocol");
    if (name == "args" || name == "query_string") return TextField("query");
    if (name == "request_time" || name == "msec") return One(name, ftFloat, TLogValue::Real);
    if (StartsWith(name, "http_") && name.size() > 5) {
        const std::string header = name.substr(5);
        if (header == "referer") return TextField("referer");
        if (header == "user_agent") return TextField("agent");
        return TextField(header);
    }
    return TextField(ColumnName(name));
}

// The escapes a format string may carry when copied from a server configuration.
char FormatEscape(char c) {
    switch (c) {
        case 'n':
            return '\n';
        case 't':
            return '\t';
        default:
            return c;
    }
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

// Collects literals and fields while a format string is read, then places the columns.
class TLogFormatBuilder {
  public:
    void Literal(char c) { literal_ += c; }
    void Field(TFieldPlan plan, std::string written, bool bracketed) {
        if (!literal_.empty() || format_.fields_.empty()) {
            format_.literals_.push_back(literal_);
        } else if (plan.Value != TLogValue::QueryString) {
            // Two fields with nothing between them cannot be told apart (a query string after
            // a path can: it starts with "?").
            throw ELogFormatError(Format("Log format fields %s and %s have no text between them",
                                         format_.fields_.back().Directive, written));
        } else {
            format_.literals_.push_back(std::string());
        }
        literal_.clear();
        TLogField field;
        field.Value = plan.Value;
        field.Directive = std::move(written);
        field.Bracketed = bracketed;
        format_.fields_.push_back(std::move(field));
        plans_.push_back(std::move(plan));
    }

    TLogFormat Finish(std::string text) {
        if (format_.fields_.empty()) throw ELogFormatError("A log format needs at least one field");
        format_.literals_.push_back(literal_);
        format_.text_ = std::move(text);
        auto& fields = format_.fields_;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string& before = format_.literals_[i];
            const std::string& after = format_.literals_[i + 1];
            fields[i].Quoted = !fields[i].Bracketed && !before.empty() && before.back() == '"' &&
                               !after.empty() && after.front() == '"';
        }
        PlaceColumns();
        return std::move(format_);
    }

  private:
    void PlaceColumns() {
        // Names in field order, a repeated one numbered (path, path_2).
        struct Placed {
            TLogColumn Column;
            std::size_t Field;
            int Part;
            int Rank;  // position among the leading columns, or past them
        };
        std::vector<Placed> placed;
        std::vector<std::string> seen;
        for (std::size_t f = 0; f < plans_.size(); ++f) {
            for (std::size_t part = 0; part < plans_[f].Columns.size(); ++part) {
                TLogColumn column = plans_[f].Columns[part];
                std::string name = column.Name;
                for (int n = 2;
                     std::any_of(seen.begin(), seen.end(),
                                 [&](const std::string& s) { return SameText(s, name); });
                     ++n) {
                    name = column.Name + "_" + IntToStr(n);
                }
                seen.push_back(name);
                const bool renamed = name != column.Name;
                column.Name = name;
                int rank = static_cast<int>(kLeadingColumns.size());
                for (std::size_t k = 0; k < kLeadingColumns.size() && !renamed; ++k) {
                    if (column.Name == kLeadingColumns[k]) rank = static_cast<int>(k);
                }
                placed.push_back({std::move(column), f, static_cast<int>(part), rank});
            }
        }
        std::stable_sort(placed.begin(), placed.end(),
                         [](const Placed& a, const Placed& b) { return a.Rank < b.Rank; });
        for (std::size_t f = 0; f < plans_.size(); ++f)
            format_.fields_[f].Columns.resize(plans_[f].Columns.size());
        for (std::size_t i = 0; i < placed.size(); ++i) {
            format_.fields_[placed[i].Field].Columns[static_cast<std::size_t>(placed[i].Part)] =
                static_cast<int>(i);
            format_.columns_.push_back(placed[i].Column);
        }
    }

    TLogFormat format_;
    std::vector<TFieldPlan> plans_;
    std::string literal_;
};

const std::vector<std::string>& TLogFormat::PresetNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const TPreset& p : kPresets) out.emplace_back(p.Name);
        return out;
    }();
    return names;
}

std::string TLogFormat::PresetFormat(std::string_view name) {
    for (const TPreset& p : kPresets) {
        if (name == p.Name) return p.Format;
    }
    return {};
}

TLogFormat TLogFormat::Parse(std::string_view nameOrFormat) {
    const std::string preset = PresetFormat(nameOrFormat);
    if (!preset.empty()) {
        TLogFormat format = preset.front() == '$' ? ParseNginx(preset) : ParseApache(preset);
        format.name_ = std::string(nameOrFormat);
        return format;
    }
    if (nameOrFormat.find('%') != std::string_view::npos) return ParseApache(nameOrFormat);
    if (nameOrFormat.find('$') != std::string_view::npos) return ParseNginx(nameOrFormat);
    std::string names;
    for (const std::string& n : PresetNames()) names += (names.empty() ? "" : ", ") + n;
    throw ELogFormatError(
        Format("Unknown log format '%s': give one of %s, an Apache LogFormat string or an nginx "
               "log_format string",
               std::string(nameOrFormat), names));
}

TLogFormat TLogFormat::ParseApache(std::string_view s) {
    TLogFormatBuilder b;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            b.Literal(FormatEscape(s[++i]));
            continue;
        }
        if (c != '%') {
            b.Literal(c);
            continue;
        }
        const std::size_t start = i;
        if (i + 1 < s.size() && s[i + 1] == '%') {
            b.Literal('%');
            ++i;
            continue;
        }
        // Modifiers: < or > (original or final request), ! and status codes (when to log).
        ++i;
        while (i < s.size() && (s[i] == '<' || s[i] == '>' || s[i] == '!' || s[i] == ',' ||
                                (s[i] >= '0' && s[i] <= '9'))) {
            ++i;
        }
        std::string_view argument;
        if (i < s.size() && s[i] == '{') {
            const std::size_t close = s.find('}', i);
            if (close == std::string_view::npos)
                throw ELogFormatError(
                    Format("Unclosed { in log format directive %s", std::string(s.substr(start))));
            argument = s.substr(i + 1, close - i - 1);
            i = close + 1;
        }
        if (i >= s.size())
            throw ELogFormatError(
                Format("Incomplete log format directive %s", std::string(s.substr(start))));
        const std::string written(s.substr(start, i - start + 1));
        b.Field(ApacheDirective(s[i], argument, written), written, s[i] == 't');
    }
    return b.Finish(std::string(s));
}

TLogFormat TLogFormat::ParseNginx(std::string_view s) {
    TLogFormatBuilder b;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            b.Literal(FormatEscape(s[++i]));
            continue;
        }
        if (c != '$') {
            b.Literal(c);
            continue;
        }
        std::size_t end = i + 1;
        std::string name;
        if (end < s.size() && s[end] == '{') {
            const std::size_t close = s.find('}', end);
            if (close == std::string_view::npos)
                throw ELogFormatError(
                    Format("Unclosed { in log format variable %s", std::string(s.substr(i))));
            name = std::string(s.substr(end + 1, close - end - 1));
            end = close + 1;
        } else {
            while (end < s.size() && IsNameChar(s[end])) ++end;
            name = std::string(s.substr(i + 1, end - i - 1));
        }
        if (name.empty()) {
            b.Literal('$');
            continue;
        }
        const std::string written(s.substr(i, end - i));
        b.Field(NginxVariable(name), written, false);
        i = end - 1;
    }
    return b.Finish(std::string(s));
}

int TLogFormat::ColumnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (SameText(columns_[i].Name, name)) return static_cast<int>(i);
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Matching a line

namespace {

bool ReadDigits(std::string_view s, std::size_t& pos, std::size_t minCount, std::size_t maxCount,
                int& out) {
    std::size_t n = 0;
    int v = 0;
    while (pos + n < s.size() && n < maxCount && s[pos + n] >= '0' && s[pos + n] <= '9') {
        v = v * 10 + (s[pos + n] - '0');
        ++n;
    }
    if (n < minCount) return false;
    pos += n;
    out = v;
    return true;
}

bool Expect(std::string_view s, std::size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

// The calendar moment, less the offset east of UTC, as a date-time exact to the second.
bool ComposeUtc(int year, int month, int day, int hour, int minute, int second, int offsetMinutes,
                TDateTime& out) {
    using namespace std::chrono;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59)
        return false;
    const sys_days date =
        year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                       std::chrono::day{static_cast<unsigned>(day)}};
    const sys_seconds moment =
        date + hours{hour} + minutes{minute} + seconds{second} - minutes{offsetMinutes};
    const sys_days utcDay = floor<days>(moment);
    const year_month_day ymd{utcDay};
    const hh_mm_ss<seconds> hms{moment - utcDay};
    TDateTime d = 0, t = 0;
    if (!TryEncodeDate(static_cast<int>(ymd.year()), static_cast<int>(unsigned(ymd.month())),
                       static_cast<int>(unsigned(ymd.day())), d) ||
        !TryEncodeTime(static_cast<int>(hms.hours().count()),
                       static_cast<int>(hms.minutes().count()),
                       static_cast<int>(hms.seconds().count()), 0, t))
        return false;
    // Before the epoch the time of day counts away from zero.
    out = d < 0 ? d - t : d + t;
    return true;
}

bool ReadOffset(std::string_view s, std::size_t& pos, bool colon, int& minutes) {
    if (pos >= s.size() || (s[pos] != '+' && s[pos] != '-')) return false;
    const int sign = s[pos] == '-' ? -1 : 1;
    ++pos;
    int h = 0, m = 0;
    if (!ReadDigits(s, pos, 2, 2, h)) return false;
    if (colon && !Expect(s, pos, ':')) return false;
    if (!ReadDigits(s, pos, 2, 2, m) || h > 23 || m > 59) return false;
    minutes = sign * (h * 60 + m);
    return true;
}

}  // namespace

bool ParseLocalTime(std::string_view s, TDateTime& utc, std::string& zone) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::size_t pos = 0;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, month = 0, offset = 0;
    if (!ReadDigits(s, pos, 1, 2, day) || !Expect(s, pos, '/') || pos + 3 > s.size()) return false;
    for (int m = 0; m < 12; ++m) {
        if (SameText(s.substr(pos, 3), kMonths[m])) month = m + 1;
    }
    if (month == 0) return false;
    pos += 3;
    if (!Expect(s, pos, '/') || !ReadDigits(s, pos, 4, 4, year) || !Expect(s, pos, ':') ||
        !ReadDigits(s, pos, 2, 2, hour) || !Expect(s, pos, ':') ||
        !ReadDigits(s, pos, 2, 2, minute) || !Expect(s, pos, ':') ||
        !ReadDigits(s, pos, 2, 2, second) || !Expect(s, pos, ' '))
        return false;
    const std::size_t zoneStart = pos;
    if (!ReadOffset(s, pos, false, offset) || pos != s.size()) return false;
    if (!ComposeUtc(year, month, day, hour, minute, second, offset, utc)) return false;
    zone.assign(s.substr(zoneStart));
    return true;
}

bool ParseIsoTime(std::string_view s, TDateTime& utc, std::string& zone) {
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offset = 0;
    if (!ReadDigits(s, pos, 4, 4, year) || !Expect(s, pos, '-') ||
        !ReadDigits(s, pos, 2, 2, month) || !Expect(s, pos, '-') ||
        !ReadDigits(s, pos, 2, 2, day) || !Expect(s, pos, 'T') || !ReadDigits(s, pos, 2, 2, hour) ||
        !Expect(s, pos, ':') || !ReadDigits(s, pos, 2, 2, minute) || !Expect(s, pos, ':') ||
        !ReadDigits(s, pos, 2, 2, second))
        return false;
    const std::size_t zoneStart = pos;
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else {
        const bool colon = pos + 3 < s.size() && s[pos + 3] == ':';
        if (!ReadOffset(s, pos, colon, offset)) return false;
    }
    if (pos != s.size() || !ComposeUtc(year, month, day, hour, minute, second, offset, utc))
        return false;
    zone.assign(s.substr(zoneStart));
    return true;
}

TRequestParts SplitRequest(std::string_view r) {
    TRequestParts parts;
    if (r.empty() || r == "-") return parts;
    const std::size_t first = r.find(' ');
    if (first == std::string_view::npos) {
        parts.Path = r;
        parts.HasPath = true;
        return parts;
    }
    parts.Method = r.substr(0, first);
    parts.HasMethod = true;
    const std::size_t last = r.rfind(' ');
    if (last > first && StartsWith(r.substr(last + 1), "HTTP/")) {
        parts.Path = r.substr(first + 1, last - first - 1);
        parts.Protocol = r.substr(last + 1);
        parts.HasProtocol = true;
    } else {
        parts.Path = r.substr(first + 1);
    }
    parts.HasPath = true;
    return parts;
}

std::string UnescapeQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
            out += text[++i];
        } else {
            out += text[i];
        }
    }
    return out;
}

namespace {

bool ReadInteger(std::string_view text, Variant& value) {
    if (text == "-") {
        value = Variant::Null();
        return true;
    }
    if (text.empty() || text.size() > 18) return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    // Values beyond 32 bits (sizes of large files) go on as exact doubles.
    if (v <= std::numeric_limits<std::int32_t>::max()) {
        value = Variant(static_cast<std::int32_t>(v));
    } else {
        value = Variant(static_cast<double>(v));
    }
    return true;
}

bool ReadReal(std::string_view text, Variant& value) {
    if (text == "-") {
        value = Variant::Null();
        return true;
    }
    double d = 0;
    if (text.empty() || !IsNumberText(text, '.') || !TryTextToFloat(text, d, '.') ||
        !std::isfinite(d))
        return false;
    value = Variant(d);
    return true;
}

std::string Shown(std::string_view text) {
    constexpr std::size_t kMax = 60;
    return text.size() <= kMax ? std::string(text) : std::string(text.substr(0, kMax)) + "...";
}

}  // namespace

bool TLogFormat::Match(std::string_view line, std::vector<Variant>& values,
                       std::string& reason) const {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    values.assign(columns_.size(), Variant::Null());
    if (IsBlank(line)) {
        reason = "empty line";
        return false;
    }
    if (line.front() == '#' && (literals_.front().empty() || literals_.front()[0] != '#')) {
        reason = "comment line";
        return false;
    }
    const auto name = [&](const TLogField& f) {
        return f.Value == TLogValue::Request ? std::string("request")
                                             : columns_[f.Columns.front()].Name;
    };
    std::size_t pos = 0;
    std::string text;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const TLogField& field = fields_[i];
        const std::string& before = literals_[i];
        const std::string& after = literals_[i + 1];
        const bool last = i + 1 == fields_.size();
        if (line.compare(pos, before.size(), before) != 0) {
            reason = pos >= line.size() ? Format("the line ends before the %s field", name(field))
                                        : Format("expected '%s' before the %s field at byte %d",
                                                 before, name(field), static_cast<int>(pos + 1));
            return false;
        }
        pos += before.size();

        std::size_t end = std::string::npos;  // where the field's text ends
        if (field.Bracketed) {
            const std::size_t close =
                pos < line.size() && line[pos] == '[' ? line.find(']', pos) : std::string::npos;
            if (close == std::string::npos) {
                reason = Format("no [time] where the %s field should be", name(field));
                return false;
            }
            text.assign(line.substr(pos + 1, close - pos - 1));
            pos = close + 1;
        } else if (field.Quoted) {
            // The closing quote is the first one (not escaped) that the text after the field
            // follows, so a quote the server did not escape stays in the field. The last
            // field ends at the first such quote: what follows it is more than the format has.
            for (std::size_t j = pos; j < line.size(); ++j) {
                if (line[j] == '\\') {
                    ++j;
                    continue;
                }
                if (line[j] != '"' || line.compare(j, after.size(), after) != 0) continue;
                end = j;
                break;
            }
            if (end == std::string::npos) {
                reason = Format("the line ends inside the quoted %s field", name(field));
                return false;
            }
            text = UnescapeQuoted(line.substr(pos, end - pos));
            pos = end;
        } else {
            if (!after.empty()) {
                end = line.find(after, pos);
            } else if (last) {
                end = line.size();
            } else {
                // A path followed at once by its query string: the query starts at "?".
                const std::string& further = literals_[i + 2];
                end = std::min(line.find('?', pos),
                               further.empty() ? line.size() : line.find(further, pos));
            }
            if (field.Value == TLogValue::QueryString && (pos >= line.size() || line[pos] != '?'))
                end = pos;
            if (end == std::string::npos) {
                reason = after.empty() || last
                             ? Format("the line ends inside the %s field", name(field))
                             : Format("the line ends inside the %s field (no '%s' after it)",
                                      name(field), after);
                return false;
            }
            text.assign(line.substr(pos, end - pos));
            pos = end;
        }

        const std::vector<int>& cols = field.Columns;
        switch (field.Value) {
            case TLogValue::Text:
            case TLogValue::QueryString:
                values[cols[0]] = Variant(text);
                break;
            case TLogValue::Integer:
                if (!ReadInteger(text, values[cols[0]])) {
                    reason = Format("'%s' is not a whole number (the %s field)", Shown(text),
                                    name(field));
                    return false;
                }
                break;
            case TLogValue::Real:
                if (!ReadReal(text, values[cols[0]])) {
                    reason =
                        Format("'%s' is not a number (the %s field)", Shown(text), name(field));
                    return false;
                }
                break;
            case TLogValue::LocalTime:
            case TLogValue::IsoTime: {
                TDateTime utc = 0;
                std::string zone;
                const bool ok = field.Value == TLogValue::LocalTime
                                    ? ParseLocalTime(text, utc, zone)
                                    : ParseIsoTime(text, utc, zone);
                if (!ok) {
                    reason = Format("'%s' is not a time (the %s field)", Shown(text), name(field));
                    return false;
                }
                values[cols[0]] = Variant::FromDateTime(utc);
                values[cols[1]] = Variant(zone);
                break;
            }
            case TLogValue::Request: {
                const TRequestParts parts = SplitRequest(text);
                if (parts.HasMethod) values[cols[0]] = Variant(parts.Method);
                if (parts.HasPath) values[cols[1]] = Variant(parts.Path);
                if (parts.HasProtocol) values[cols[2]] = Variant(parts.Protocol);
                break;
            }
        }
    }
    const std::string& tail = literals_.back();
    if (line.compare(pos, tail.size(), tail) != 0) {
        reason = pos >= line.size()
                     ? Format("the line ends before '%s'", tail)
                     : Format("expected '%s' at byte %d", tail, static_cast<int>(pos + 1));
        return false;
    }
    pos += tail.size();
    if (pos != line.size()) {
        reason = Format("unexpected text after the last field: '%s'", Shown(line.substr(pos)));
        return false;
    }
    return true;
}

}  // namespace qel::logformat
