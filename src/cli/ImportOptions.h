// The settings of `qel import` as given on the command line, how they are registered with the
// option parser (with the component's own defaults in the help), and how they are applied to
// an import component.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Errors.h"
#include "engine/QelBase.h"

namespace CLI {
class App;
}

namespace qel::cli {

// A value the command line cannot use (an unknown mode name, a two-letter separator...).
// The tool answers it with exit status 2, like any other usage error.
class EUsageError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EUsageError"; }
};

// Everything `qel import` was told. An empty optional is a setting left at the component's
// default.
struct ImportOptions {
    // File names, shell patterns (expanded when no file has that name), "-" for standard input;
    // loaded one after the other in this order.
    std::vector<std::string> Sources;
    std::string Database;  // the SQLite file
    std::string Table;     // the table inside Database; empty: the one the table engine picks
    std::string Create;    // column list for creating a missing table; empty: never create
    // An access-log format (preset name or format string); empty: delimited or fixed text.
    std::string Format;
    std::optional<int> MaxErrors;  // end the run once more lines than this were rejected
    bool Resume = false;           // load only what the destination has not seen of each file
    std::vector<std::string> Maps;

    std::optional<std::string> Mode;
    std::optional<std::string> Keys;
    std::optional<std::string> Delimiter;
    std::optional<std::string> Qualifier;
    std::optional<std::string> RecordSeparator;
    bool Fixed = false;
    std::optional<int> First;
    std::optional<int> Last;
    std::optional<int> Header;
    bool KeepEmpty = false;
    std::optional<std::string> LoadWhen;
    std::optional<std::string> SkipIf;
    std::optional<std::string> Trim;
    bool Oem = false;
    bool DashNull = false;

    std::optional<std::string> DateOrder;
    std::optional<std::string> DateSeparator;
    std::optional<std::string> TimeSeparator;
    bool TwoDigitYear = false;
    std::optional<std::string> DateTimeFormat;
    std::optional<std::string> DecimalSeparator;
    std::optional<std::string> ThousandSeparator;
    std::optional<std::string> Currency;
    std::optional<std::string> True;
    std::optional<std::string> False;
    bool Regional = false;

    std::optional<int> UpdateStep;
    bool StopOnError = false;
    std::string Rejects;
    bool Quiet = false;
    bool Json = false;
};

// Adds the options and the two positionals of `qel import` to `command`, storing into
// `options`. The help of every option names its default, read from `defaults` (a component as
// constructed). `options` and `command` must outlive the parse.
void RegisterImportOptions(CLI::App& command, ImportOptions& options,
                           const TQelBaseComponent& defaults);

// Sets every given option on `component`. Raises EUsageError for a value it cannot take.
// --dash-null is the component's DashNull: a value that is exactly "-" is null for a numeric
// field (access logs write "-" for a size when no body was sent); " -" or "--" are left for
// the conversion to judge.
void ApplyImportOptions(const ImportOptions& options, TQelBaseComponent& component);

// --- Pieces, shared with `qel eval` and the help --------------------------------------------

// Replaces the escapes \n, \r, \t and \\ by the characters they stand for; any other
// backslash is kept as it is.
std::string DecodeEscapes(std::string_view text);
// One character for a separator option: the escapes above are decoded, "none" is character 0
// (no separator). Raises EUsageError naming `option` when the result is not one byte.
char ParseCharacter(std::string_view option, std::string_view text);
// How the help shows a character: "none" for 0, escapes for control characters, ' ' quoted.
std::string CharacterText(char c);

TImportMode ParseMode(std::string_view text);
TQelTrimSpaces ParseTrim(std::string_view text);
TQelDateOrder ParseDateOrder(std::string_view text);
// A named choice, or else one character (escapes decoded) for the custom one.
void ApplyDelimiter(TQelBaseComponent& component, std::string_view text);
void ApplyQualifier(TQelBaseComponent& component, std::string_view text);
// A named choice, or else any text (escapes decoded, the empty text included).
void ApplyRecordSeparator(TQelBaseComponent& component, std::string_view text);

// The command-line spelling of the component's current settings (for the help).
std::string ModeText(TImportMode mode);
std::string TrimText(TQelTrimSpaces trim);
std::string DateOrderText(TQelDateOrder order);
std::string DelimiterText(const TQelBaseComponent& component);
std::string QualifierText(const TQelBaseComponent& component);
std::string RecordSeparatorText(const TQelBaseComponent& component);

}  // namespace qel::cli
