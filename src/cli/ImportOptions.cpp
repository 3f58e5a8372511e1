#include "cli/ImportOptions.h"

#include <CLI/CLI.hpp>

#include "core/TextUtil.h"

namespace qel::cli {

namespace {

template <typename E>
struct Named {
    const char* Name;
    E Value;
};

constexpr Named<TImportMode> kModes[] = {
    {"append", imAppend}, {"update", imUpdate}, {"append-update", imAppendUpdate},
    {"delete", imDelete}, {"copy", imCopy},
};
constexpr Named<TQelTrimSpaces> kTrims[] = {
    {"none", tsNoTrim},
    {"right", tsTrimRight},
    {"left", tsTrimLeft},
    {"both", tsTrimLeftRight},
};
constexpr Named<TQelDateOrder> kDateOrders[] = {
    {"mdy", doMDY}, {"dmy", doDMY}, {"ymd", doYMD}, {"ydm", doYDM}, {"dym", doDYM}, {"myd", doMYD},
};
constexpr Named<TQelFieldDelimiter> kDelimiters[] = {
    {"tab", fdTab},   {"space", fdSpace}, {"comma", fdComma}, {"semicolon", fdSemicolon},
    {"none", fdNone},
};
constexpr Named<TQelTextQualifier> kQualifiers[] = {
    {"quot", tqQuot},
    {"apos", tqApos},
    {"none", tqNone},
};
constexpr Named<TQelRecordSeparator> kSeparators[] = {
    {"crlf", rsCRLF},
    {"lf", rsLF},
    {"cr", rsCR},
};

template <typename E, std::size_t N>
std::string Choices(const Named<E> (&table)[N]) {
    std::string out;
    for (const auto& entry : table) {
        if (!out.empty()) out += '|';
        out += entry.Name;
    }
    return out;
}

template <typename E, std::size_t N>
const Named<E>* Find(const Named<E> (&table)[N], std::string_view text) {
    for (const auto& entry : table) {
        if (text == entry.Name) return &entry;
    }
    return nullptr;
}

template <typename E, std::size_t N>
E Lookup(const Named<E> (&table)[N], const char* option, std::string_view text) {
    if (const Named<E>* entry = Find(table, text)) return entry->Value;
    throw EUsageError(
        Format("%s: '%s' is not one of %s", option, std::string(text), Choices(table)));
}

template <typename E, std::size_t N>
std::string NameOf(const Named<E> (&table)[N], E value) {
    for (const auto& entry : table) {
        if (entry.Value == value) return entry.Name;
    }
    return {};
}

// Help text of an option: its description and its default.
std::string Describe(const std::string& what, const std::string& defaultText) {
    return what + " (default: " + defaultText + ")";
}

}  // namespace

std::string DecodeEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            switch (text[i + 1]) {
                case 'n':
                    out += '\n';
                    ++i;
                    continue;
                case 'r':
                    out += '\r';
                    ++i;
                    continue;
                case 't':
                    out += '\t';
                    ++i;
                    continue;
                case '\\':
                    out += '\\';
                    ++i;
                    continue;
                default:
                    break;
            }
        }
        out += c;
    }
    return out;
}

char ParseCharacter(std::string_view option, std::string_view text) {
    if (text == "none") return '\0';
    std::string decoded = DecodeEscapes(text);
    if (decoded.size() != 1) {
        throw EUsageError(
            Format("%s: '%s' is not one character", std::string(option), std::string(text)));
    }
    return decoded[0];
}

std::string CharacterText(char c) {
    switch (c) {
        case '\0':
            return "none";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case ' ':
            return "' '";
        case '\\':
            return "\\\\";
        default:
            return std::string(1, c);
    }
}

TImportMode ParseMode(std::string_view text) {
    return Lookup(kModes, "--mode", text);
}
TQelTrimSpaces ParseTrim(std::string_view text) {
    return Lookup(kTrims, "--trim", text);
}
TQelDateOrder ParseDateOrder(std::string_view text) {
    return Lookup(kDateOrders, "--date-order", text);
}

void ApplyDelimiter(TQelBaseComponent& component, std::string_view text) {
    if (const auto* entry = Find(kDelimiters, text)) {
        component.SetFieldDelimiter(entry->Value);
    } else {
        component.SetFieldDelimiterCustom(ParseCharacter("--delimiter", text));
    }
}

void ApplyQualifier(TQelBaseComponent& component, std::string_view text) {
    if (const auto* entry = Find(kQualifiers, text)) {
        component.SetTextQualifier(entry->Value);
    } else {
        component.SetTextQualifierCustom(ParseCharacter("--qualifier", text));
    }
}

void ApplyRecordSeparator(TQelBaseComponent& component, std::string_view text) {
    if (const auto* entry = Find(kSeparators, text)) {
        component.SetRecordSeparator(entry->Value);
    } else {
        component.SetRecordSeparatorCustom(DecodeEscapes(text));
    }
}

std::string ModeText(TImportMode mode) {
    return NameOf(kModes, mode);
}
std::string TrimText(TQelTrimSpaces trim) {
    return NameOf(kTrims, trim);
}
std::string DateOrderText(TQelDateOrder order) {
    return NameOf(kDateOrders, order);
}

std::string DelimiterText(const TQelBaseComponent& component) {
    if (component.FieldDelimiter() == fdCustom)
        return CharacterText(component.FieldDelimiterCustom());
    return NameOf(kDelimiters, component.FieldDelimiter());
}

std::string QualifierText(const TQelBaseComponent& component) {
    if (component.TextQualifier() == tqCustom)
        return CharacterText(component.TextQualifierCustom());
    return NameOf(kQualifiers, component.TextQualifier());
}

std::string RecordSeparatorText(const TQelBaseComponent& component) {
    if (component.RecordSeparator() != rsCustom)
        return NameOf(kSeparators, component.RecordSeparator());
    std::string out;
    for (char c : component.RecordSeparatorCustom())
        out += c == ' ' ? std::string(" ") : CharacterText(c);
    return "'" + out + "'";
}

void RegisterImportOptions(CLI::App& cmd, ImportOptions& o, const TQelBaseComponent& d) {
    const TQelDataFormats& f = d.DataFormats();
    const auto text = [](std::optional<std::string>& slot) {
        return [&slot](const std::string& v) { slot = v; };
    };
    const auto number = [](std::optional<int>& slot) {
        return [&slot](const int& v) { slot = v; };
    };
    const auto quoted = [](const std::string& s) {
        return s.empty() ? std::string("none") : "'" + s + "'";
    };

    cmd.add_option("SOURCE", o.Sources,
                   "Text files to import in this order (.gz ones are unpacked as they are read), "
                   "shell patterns, or - for standard input")
        ->required();
    cmd.add_option("DATABASE", o.Database,
                   "SQLite database file, or a PostgreSQL connection URI "
                   "(postgresql://user@host:port/dbname)")
        ->required();
    // The last positional is the database, however many sources come before it.
    cmd.positionals_at_end(true);

    cmd.add_option("--table", o.Table,
                   Describe("Table inside DATABASE (schema.name for PostgreSQL)",
                            "the file's only table, else the one named after the file"));
    cmd.add_option("--create", o.Create,
                   Describe("Create the table with this column list when it does not exist, "
                            "e.g. 'Host TEXT, Code INTEGER'",
                            "never create"));
    cmd.add_option("--map", o.Maps,
                   Describe("Mapping line DEST=SOURCE; repeat for more, in order",
                            "mappings generated from the header line"))
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    auto* format = cmd.add_option(
        "--format", o.Format,
        Describe("Access-log format: common, combined, vhost_combined, nginx, an Apache LogFormat "
                 "string or an nginx log_format string. Lines are matched against it into typed "
                 "columns (host, ident, user, time in UTC, tz, method, path, protocol, status, "
                 "bytes, referer, agent, ...); the table (access unless --table says otherwise) "
                 "is created with them when missing",
                 "none: delimited text"));
    cmd.add_option_function<int>(
        "--max-errors", number(o.MaxErrors),
        Describe("With --format, end the run (exit status 1, rows so far kept) once "
                 "more than this many lines were rejected",
                 "no limit"));
    cmd.add_flag("--resume", o.Resume,
                 Describe("With --format, load only the lines of each file that the database "
                          "has not seen yet (files are known by device, inode and first line, "
                          "so a rotated file is not loaded again)",
                          "off"));
    cmd.add_option_function<std::string>(
        "--mode", text(o.Mode),
        Describe("How rows are written: " + Choices(kModes), ModeText(d.Mode())));
    cmd.add_option_function<std::string>(
        "--keys", text(o.Keys),
        Describe("Key fields 'A;B' for update, append-update and delete", quoted(d.DatasetKeys())));
    cmd.add_option_function<std::string>(
        "--delimiter", text(o.Delimiter),
        Describe("Field delimiter: " + Choices(kDelimiters) + " or one character",
                 DelimiterText(d)));
    cmd.add_option_function<std::string>(
        "--qualifier", text(o.Qualifier),
        Describe("Text qualifier: " + Choices(kQualifiers) + " or one character",
                 QualifierText(d)));
    cmd.add_option_function<std::string>("--record-separator", text(o.RecordSeparator),
                                         Describe("Record separator: " + Choices(kSeparators) +
                                                      " or any text (\\n, \\r, \\t escapes)",
                                                  RecordSeparatorText(d)));
    cmd.add_flag("--fixed", o.Fixed,
                 Describe("Fixed-width text addressed as Text<a>-<b>", d.Fixed() ? "on" : "off"));
    cmd.add_option_function<int>(
        "--first", number(o.First),
        Describe("Number of the first record loaded", IntToStr(d.RowFirst())));
    cmd.add_option_function<int>(
        "--last", number(o.Last),
        Describe("Number of the last record loaded", IntToStr(d.RowLast())));
    cmd.add_option_function<int>(
        "--header", number(o.Header),
        Describe("Number of the record holding the field names", IntToStr(d.RowFieldNames())));
    cmd.add_flag(
        "--keep-empty", o.KeepEmpty,
        Describe("Keep empty records", d.Options().Contains(soSkipEmptyRow) ? "skipped" : "kept"));
    cmd.add_option_function<std::string>(
        "--load-when", text(o.LoadWhen),
        Describe("Load only rows for which this expression is true",
                 quoted(d.LoadCondition().LoadWhen())));
    cmd.add_option_function<std::string>("--skip-if", text(o.SkipIf),
                                         Describe("Skip rows for which this expression is true",
                                                  quoted(d.LoadCondition().SkipIf())));
    cmd.add_option_function<std::string>(
        "--trim", text(o.Trim),
        Describe("Trim spaces of source values: " + Choices(kTrims), TrimText(d.TrimSpaces())));
    cmd.add_flag("--oem", o.Oem,
                 Describe("Source text is in the OEM code page (437)",
                          d.CharacterSet() == csiASCII_MSDOS ? "on" : "off"));

    cmd.add_flag(
        "--dash-null", o.DashNull,
        Describe("A value that is exactly - is null for numeric fields", "off: it fails the row"));

    std::vector<CLI::Option*> formats;
    formats.push_back(cmd.add_option_function<std::string>(
        "--date-order", text(o.DateOrder),
        Describe("Order of date parts: " + Choices(kDateOrders), DateOrderText(f.DateOrder()))));
    formats.push_back(cmd.add_option_function<std::string>(
        "--date-separator", text(o.DateSeparator),
        Describe("Date separator character, or none", CharacterText(f.DateSeparator()))));
    formats.push_back(cmd.add_option_function<std::string>(
        "--time-separator", text(o.TimeSeparator),
        Describe("Time separator character, or none", CharacterText(f.TimeSeparator()))));
    formats.push_back(
        cmd.add_flag("--two-digit-year", o.TwoDigitYear,
                     Describe("Dates carry a two-digit year", f.FourDigitYear() ? "off" : "on")));
    formats.push_back(cmd.add_option_function<std::string>(
        "--datetime-format", text(o.DateTimeFormat),
        Describe(
            "Layout of date-times, e.g. dd.mm.yyyy hh:nn:ss",
            quoted(f.CustomDateTimeFormat()) + " (built from the date order and separators)")));
    formats.push_back(cmd.add_option_function<std::string>(
        "--decimal-separator", text(o.DecimalSeparator),
        Describe("Decimal separator character", CharacterText(f.DecimalSeparator()))));
    formats.push_back(cmd.add_option_function<std::string>(
        "--thousand-separator", text(o.ThousandSeparator),
        Describe("Thousand separator character, or none", CharacterText(f.ThousandSeparator()))));
    formats.push_back(cmd.add_option_function<std::string>(
        "--currency", text(o.Currency),
        Describe("Currency text removed from numbers", quoted(f.CurrencyString()))));
    cmd.add_option_function<std::string>("--true", text(o.True),
                                         Describe("Word read as true", quoted(f.BooleanTrue())));
    cmd.add_option_function<std::string>("--false", text(o.False),
                                         Describe("Word read as false", quoted(f.BooleanFalse())));
    auto* regional = cmd.add_flag(
        "--regional", o.Regional,
        Describe("Take dates, times and numbers from the regional settings at the start of the run",
                 f.UseRegionalSettings() ? "on" : "off"));
    // The regional refresh would silently overwrite these, so they cannot be combined.
    for (CLI::Option* opt : formats) regional->excludes(opt);

    cmd.add_option_function<int>(
        "--update-step", number(o.UpdateStep),
        Describe("Rows between two progress refreshes", IntToStr(d.Statistic().UpdateStep())));
    cmd.add_flag("--stop-on-error", o.StopOnError,
                 Describe("End the run at the first failing row", "failing rows are skipped"));
    cmd.add_option(
        "--rejects", o.Rejects,
        Describe("Append every failing row to this file: its source line, a tab, the error",
                 "none"));
    // A log format decides how lines are cut and read.
    for (const char* name : {"--delimiter", "--qualifier", "--record-separator", "--fixed",
                             "--header", "--keep-empty"})
        format->excludes(cmd.get_option(name));

    cmd.add_flag("--quiet", o.Quiet, Describe("No progress display", "progress on a terminal"));
    cmd.add_flag("--json", o.Json,
                 Describe("Print the result as one JSON object", "one line per value"));
}

void ApplyImportOptions(const ImportOptions& o, TQelBaseComponent& c) {
    for (const std::string& line : o.Maps) c.Mappings().Add(line);
    if (o.Mode) c.SetMode(ParseMode(*o.Mode));
    if (o.Keys) c.SetDatasetKeys(*o.Keys);
    if (o.Delimiter) ApplyDelimiter(c, *o.Delimiter);
    if (o.Qualifier) ApplyQualifier(c, *o.Qualifier);
    if (o.RecordSeparator) ApplyRecordSeparator(c, *o.RecordSeparator);
    if (o.Fixed) c.SetFixed(true);
    if (o.First) c.SetRowFirst(*o.First);
    if (o.Last) c.SetRowLast(*o.Last);
    if (o.Header) c.SetRowFieldNames(*o.Header);
    if (o.KeepEmpty) c.SetOptions(c.Options().Exclude(soSkipEmptyRow));
    if (o.LoadWhen) c.LoadCondition().SetLoadWhen(*o.LoadWhen);
    if (o.SkipIf) c.LoadCondition().SetSkipIf(*o.SkipIf);
    if (o.Trim) c.SetTrimSpaces(ParseTrim(*o.Trim));
    if (o.Oem) c.SetCharacterSet(csiASCII_MSDOS);
    if (o.DashNull) c.SetDashNull(true);

    TQelDataFormats& f = c.DataFormats();
    if (o.DateOrder) f.SetDateOrder(ParseDateOrder(*o.DateOrder));
    if (o.DateSeparator) f.SetDateSeparator(ParseCharacter("--date-separator", *o.DateSeparator));
    if (o.TimeSeparator) f.SetTimeSeparator(ParseCharacter("--time-separator", *o.TimeSeparator));
    if (o.TwoDigitYear) f.SetFourDigitYear(false);
    if (o.DateTimeFormat) f.SetCustomDateTimeFormat(*o.DateTimeFormat);
    if (o.DecimalSeparator)
        f.SetDecimalSeparator(ParseCharacter("--decimal-separator", *o.DecimalSeparator));
    if (o.ThousandSeparator)
        f.SetThousandSeparator(ParseCharacter("--thousand-separator", *o.ThousandSeparator));
    if (o.Currency) f.SetCurrencyString(*o.Currency);
    if (o.True) f.SetBooleanTrue(*o.True);
    if (o.False) f.SetBooleanFalse(*o.False);
    if (o.Regional) f.SetUseRegionalSettings(true);

    if (o.UpdateStep) c.Statistic().SetUpdateStep(*o.UpdateStep);
}

}  // namespace qel::cli
