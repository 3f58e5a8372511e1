#include "cli/SniffCommand.h"

#include <algorithm>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>

#include "cli/TableSetup.h"
#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/TextUtil.h"
#include "dataset/SqliteTable.h"
#include "logformat/LogSniff.h"
#include "text/ByteInput.h"
#include "text/TextReader.h"

namespace qel::cli {

namespace {

constexpr std::size_t kMaxLines = 200;
constexpr std::size_t kMaxBytes = 1 << 20;

// Up to kMaxLines whole lines from the start of the stream, line ends taken off (a CR too,
// which `crlf` then reports).
std::vector<std::string> FirstLines(std::istream& in, bool& crlf) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t bytes = 0;
    crlf = false;
    while (lines.size() < kMaxLines && bytes < kMaxBytes && std::getline(in, line)) {
        bytes += line.size() + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            crlf = true;
        }
        lines.push_back(line);
    }
    return lines;
}

// The first kMaxBytes of a file (unpacked when it is gzip data), up to the end of its last whole
// line.
std::string FileHead(const std::string& name) {
    std::unique_ptr<TByteInput> in = Decompressed(OpenFileInput(name), cmAuto, name);
    std::string head;
    char buffer[1 << 16];
    while (head.size() < kMaxBytes) {
        const std::size_t n = in->Read(buffer, std::min(sizeof buffer, kMaxBytes - head.size()));
        if (n == 0) break;
        head.append(buffer, n);
    }
    if (head.size() >= kMaxBytes) {
        const std::size_t eol = head.rfind('\n');
        if (eol != std::string::npos) head.resize(eol + 1);
    }
    in->Finish();
    return head;
}

std::vector<std::string> SplitLine(std::string_view line, char delimiter, char qualifier) {
    std::vector<TFieldPosition> positions;
    SplitDelimited(line, delimiter, qualifier, positions);
    std::vector<std::string> out;
    for (const TFieldPosition& p : positions) out.emplace_back(FieldText(line, p));
    return out;
}

bool IsIntegerText(std::string_view s) {
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    return !s.empty() && s.size() <= 18 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TFieldType TypeOf(const std::string& value) {
    if (IsIntegerText(value)) return ftInteger;
    if (IsNumberText(value, '.')) return ftFloat;
    TDateTime dt = 0;
    if (value.size() >= 8 && value[4] == '-' && TryIsoToDateTime(value, dt)) return ftDateTime;
    return ftString;
}

// The narrowest type all the values fit; empty values fit any.
TFieldType Widen(TFieldType have, TFieldType next) {
    if (have == ftUnknown || have == next) return next;
    if ((have == ftInteger && next == ftFloat) || (have == ftFloat && next == ftInteger))
        return ftFloat;
    return ftString;
}

const char* DelimiterName(char d) {
    switch (d) {
        case '\t':
            return "tab";
        case ',':
            return "comma";
        case ';':
            return "semicolon";
        case ' ':
            return "space";
        default:
            return nullptr;
    }
}

std::string TypeName(TFieldType t) {
    switch (t) {
        case ftInteger:
            return "INTEGER";
        case ftFloat:
            return "REAL";
        case ftDateTime:
            return "DATETIME";
        default:
            return "TEXT";
    }
}

std::size_t CharacterCount(std::string_view s) {
    return static_cast<std::size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `n` characters of `s` (whole UTF-8 sequences).
std::string_view FirstCharacters(std::string_view s, std::size_t n) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (seen == n) return s.substr(0, i);
            ++seen;
        }
    }
    return s;
}

std::string Printable(std::string_view s) {
    std::string out;
    for (char c : s) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    return out;
}

std::string CellText(const Variant& v) {
    if (v.IsNullOrEmpty()) return "NULL";
    if (v.kind() == Variant::vkDateTime) return DateTimeToIso(v.RealValue(), true, true);
    if (v.kind() == Variant::vkInteger) return IntToStr(v.IntegerValue());
    if (v.kind() == Variant::vkReal) return FloatToStr(v.RealValue(), '.');
    return v.TextValue();
}

}  // namespace

bool GuessDelimited(const std::vector<std::string>& all, TDelimitedGuess& guess) {
    std::vector<std::string> lines;
    for (const std::string& l : all) {
        if (!IsBlank(l)) lines.push_back(l);
    }
    if (lines.empty()) return false;
    // The delimiter: most lines with the same field count, more fields on a tie.
    double bestShare = 0;
    std::size_t bestCount = 0;
    char best = '\0';
    for (char d : {'\t', ',', ';', '|', ' '}) {
        std::map<std::size_t, std::size_t> counts;
        for (const std::string& l : lines) ++counts[SplitLine(l, d, '"').size()];
        const auto mode = std::max_element(counts.begin(), counts.end(),
                                           [](auto& a, auto& b) { return a.second < b.second; });
        const double share = static_cast<double>(mode->second) / static_cast<double>(lines.size());
        if (mode->first < 2 || share < 0.8) continue;
        if (share > bestShare || (share == bestShare && mode->first > bestCount)) {
            bestShare = share;
            bestCount = mode->first;
            best = d;
        }
    }
    if (best == '\0') return false;
    guess.Delimiter = best;

    // The qualifier the fields start with, if any.
    guess.Qualifier = '\0';
    for (char q : {'"', '\''}) {
        for (const std::string& l : lines) {
            for (const std::string& f : SplitLine(l, best, '\0')) {
                if (f.size() >= 2 && f.front() == q) guess.Qualifier = q;
            }
        }
        if (guess.Qualifier != '\0') break;
    }

    std::vector<std::vector<std::string>> rows;
    for (const std::string& l : lines) rows.push_back(SplitLine(l, best, guess.Qualifier));
    const std::size_t width = bestCount;
    const auto typesOf = [&](std::size_t from) {
        std::vector<TFieldType> types(width, ftUnknown);
        for (std::size_t r = from; r < rows.size(); ++r) {
            for (std::size_t c = 0; c < width && c < rows[r].size(); ++c) {
                if (!rows[r][c].empty()) types[c] = Widen(types[c], TypeOf(rows[r][c]));
            }
        }
        for (TFieldType& t : types) {
            if (t == ftUnknown) t = ftString;
        }
        return types;
    };
    const std::vector<TFieldType> below = typesOf(1);
    const std::vector<std::string>& first = rows[0];
    bool allText = first.size() == width;
    for (const std::string& f : first) allText = allText && !f.empty() && TypeOf(f) == ftString;
    bool typedBelow = false;
    for (TFieldType t : below) typedBelow = typedBelow || t != ftString;
    bool repeated = false;  // a first-line value seen again in its column further down
    for (std::size_t r = 1; r < rows.size() && !repeated; ++r) {
        for (std::size_t c = 0; c < width && c < rows[r].size() && c < first.size(); ++c) {
            repeated = repeated || rows[r][c] == first[c];
        }
    }
    guess.Header = allText && rows.size() > 1 && (typedBelow || !repeated);
    guess.Types = guess.Header ? below : typesOf(0);
    guess.Names.clear();
    for (std::size_t c = 0; c < width; ++c)
        guess.Names.push_back(guess.Header ? first[c] : "field" + IntToStr(c + 1));
    return true;
}

std::string ShellQuote(const std::string& text) {
    const bool safe = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-_./:=,+@%").find(c) != std::string_view::npos;
    });
    if (safe) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string AlignedTable(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows, std::size_t maxWidth) {
    const auto cut = [maxWidth](const std::string& s) {
        const std::string p = Printable(s);
        if (CharacterCount(p) <= maxWidth) return p;
        return std::string(FirstCharacters(p, maxWidth - 3)) + "...";
    };
    std::vector<std::size_t> widths(header.size(), 0);
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = CharacterCount(cut(header[c]));
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], CharacterCount(cut(row[c])));
    }
    std::string out;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            const std::string cell = c < cells.size() ? cut(cells[c]) : std::string();
            if (c > 0) text += "  ";
            text += cell;
            if (c + 1 < widths.size()) text.append(widths[c] - CharacterCount(cell), ' ');
        }
        out += TrimRight(text) + "\n";
    };
    line(header);
    std::vector<std::string> rule;
    for (std::size_t w : widths) rule.emplace_back(w, '-');
    line(rule);
    for (const auto& row : rows) line(row);
    return out;
}

int RunSniff(const SniffOptions& o, std::istream& input, std::ostream& out, std::ostream& err) {
    std::istringstream file;
    std::istream* in = &input;
    if (o.Source != "-") {
        try {
            file.str(FileHead(o.Source));
        } catch (const Exception& e) {
            err << e.Message() << '\n';
            return 1;
        }
        in = &file;
    }
    bool crlf = false;
    const std::vector<std::string> lines = FirstLines(*in, crlf);
    if (lines.empty()) {
        err << "qel: " << (o.Source == "-" ? std::string("standard input") : o.Source)
            << " holds no line\n";
        return 1;
    }
    const std::string source = ShellQuote(o.Source);
    const std::size_t previewRows = static_cast<std::size_t>(std::max(0, o.Rows));

    if (const auto sniffed = logformat::SniffLogFormat(lines)) {
        const logformat::TLogFormat format = logformat::TLogFormat::Parse(sniffed->Argument);
        out << "Log format: " << sniffed->Name << " (" << sniffed->Fitting << " of "
            << sniffed->Lines << " lines fit)\n";
        if (sniffed->Argument != sniffed->Name) out << "Format string: " << format.Text() << '\n';
        out << "Command: qel import --format " << ShellQuote(sniffed->Argument) << ' ' << source
            << " logs.db\n\n";
        std::vector<std::string> header;
        for (const auto& c : format.Columns()) header.push_back(c.Name);
        std::vector<std::vector<std::string>> rows;
        std::vector<Variant> values;
        std::string reason;
        for (const std::string& line : lines) {
            if (rows.size() >= previewRows) break;
            if (!format.Match(line, values, reason)) continue;
            std::vector<std::string> row;
            for (const Variant& v : values) row.push_back(CellText(v));
            rows.push_back(std::move(row));
        }
        out << AlignedTable(header, rows, 24);
        return 0;
    }

    TDelimitedGuess guess;
    if (!GuessDelimited(lines, guess)) {
        out << "Format: plain text lines (no log format and no delimiter fits)\n"
            << "Command: qel import --delimiter none --qualifier none --record-separator "
            << (crlf ? "crlf" : "lf") << " --create 'line TEXT' " << source << " lines.db\n";
        return 0;
    }
    guess.CrLf = crlf;
    std::vector<logformat::TLogColumn> columns;
    for (std::size_t c = 0; c < guess.Names.size(); ++c)
        columns.push_back({guess.Names[c], guess.Types[c]});
    const char* delimiterName = DelimiterName(guess.Delimiter);
    const std::string delimiter =
        delimiterName ? std::string(delimiterName) : ShellQuote(std::string(1, guess.Delimiter));
    const std::string qualifier = guess.Qualifier == '"'    ? "quot"
                                  : guess.Qualifier == '\'' ? "apos"
                                                            : "none";
    out << "Delimited text: delimiter " << delimiter << ", qualifier " << qualifier << ", "
        << (guess.Header ? "a header line" : "no header line") << ", " << guess.Names.size()
        << " columns\n";
    out << "Columns:";
    for (std::size_t c = 0; c < columns.size(); ++c)
        out << (c ? ", " : " ") << columns[c].Name << ' ' << TypeName(columns[c].Type);
    out << '\n';
    out << "Command: qel import --delimiter " << delimiter << " --qualifier " << qualifier
        << " --record-separator " << (crlf ? "crlf" : "lf")
        << (guess.Header ? " --header 1 --first 2" : "")
        // Dates are recognised in their ISO form only, which the default layout does not read.
        << (std::count(guess.Types.begin(), guess.Types.end(), ftDateTime) > 0
                ? " --datetime-format 'yyyy-mm-dd hh:nn:ss'"
                : "")
        << " --create " << ShellQuote(SqliteColumnList(columns)) << ' ' << source << " data.db\n\n";
    std::vector<std::vector<std::string>> rows;
    for (std::size_t r = guess.Header ? 1 : 0; r < lines.size() && rows.size() < previewRows; ++r) {
        if (IsBlank(lines[r])) continue;
        rows.push_back(SplitLine(lines[r], guess.Delimiter, guess.Qualifier));
    }
    out << AlignedTable(guess.Names, rows, 24);
    return 0;
}

}  // namespace qel::cli
