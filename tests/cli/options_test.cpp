// The command line of `qel import` reaching the component: every option sets what it names,
// the named choices and the custom characters stay coupled, and wrong values are usage errors.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ImportOptions.h"
#include "dataset/MemTable.h"
#include "text/Qel2TXT.h"

namespace qel::cli {
namespace {

// Parses `args` as `qel import args... in.txt out.db` and applies them to a fresh component.
void ParseAndApply(std::vector<std::string> args, TQelBaseComponent& component) {
    const TQelBaseComponent defaults;
    CLI::App app("test");
    ImportOptions options;
    RegisterImportOptions(app, options, defaults);
    args.push_back("in.txt");
    args.push_back("out.db");
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
    ApplyImportOptions(options, component);
}

// Loads `text` (space-delimited, LF records) into a table S (string), I (integer),
// F (float) with the given options, and returns the rows as "S|I|F" (null as "~"); a row that
// failed shows as "failed".
std::vector<std::string> LoadSIF(const std::string& text, std::vector<std::string> args) {
    TMemTable table;
    table.AddField("S", ftString, 10);
    table.AddField("I", ftInteger);
    table.AddField("F", ftFloat);
    table.Open();
    TQelFromText q;
    q.SetAnimatedStatus(false);
    q.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
    q.SetDataSet(&table);
    q.SetSourceFileName("in.txt");
    for (const char* m : {"S=Field1", "I=Field2", "F=Field3"}) {
        args.push_back("--map");
        args.push_back(m);
    }
    for (const char* a : {"--delimiter", "space", "--record-separator", "lf"}) args.push_back(a);
    ParseAndApply(args, q);
    std::vector<std::string> rows;
    q.OnErrorEvent = [&](TQelBaseComponent&, const Exception&, bool& abort) {
        rows.push_back("failed");
        abort = false;
    };
    std::size_t seen = 0;
    q.OnAfterRecordEvent = [&](TQelBaseComponent&, bool&) {
        // A row that was written shows as the table's new last record.
        if (static_cast<std::size_t>(table.RecordCount()) > seen) {
            seen = static_cast<std::size_t>(table.RecordCount());
            table.Last();
            std::string row;
            for (int i = 0; i < 3; ++i) {
                const Variant v = table.Fields(i)->Value();
                row += (i ? "|" : "") + (v.IsNull() ? std::string("~") : VarToStr(v));
            }
            rows.push_back(row);
        }
    };
    std::istringstream in(text);
    q.ImportFromStream(in);
    return rows;
}

TEST(DashNull, ExactlyADashIsNullForNumericFieldsOnly) {
    const struct {
        const char* line;
        std::vector<std::string> with, without;
    } cases[] = {
        {"- - -", {"-|~|~"}, {"failed"}},
        {"a 5 -", {"a|5|~"}, {"failed"}},
        {"b - 2.5", {"b|~|2.5"}, {"failed"}},
        {"c 7 1", {"c|7|1"}, {"c|7|1"}},
        // Not exactly a dash: still a bad number.
        {"d -- 1", {"failed"}, {"failed"}},
        {"e \"-1\" 1", {"e|-1|1"}, {"e|-1|1"}},
        {"f 1 -5", {"f|1|-5"}, {"f|1|-5"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadSIF(std::string(c.line) + "\n",
                          {"--dash-null", "--qualifier", "quot", "--trim", "none"}),
                  c.with)
            << c.line;
        EXPECT_EQ(LoadSIF(std::string(c.line) + "\n", {"--qualifier", "quot", "--trim", "none"}),
                  c.without)
            << c.line;
    }
}

TEST(DashNull, IsTheComponentsSettingAndLeavesHandlersAlone) {
    TQelFromText q;
    bool earlier = false;
    q.OnGetCellParams = [&](TQelBaseComponent&, TField*, Variant&) { earlier = true; };
    ParseAndApply({"--dash-null"}, q);
    EXPECT_TRUE(q.DashNull());
    Variant value("-");
    q.OnGetCellParams(q, nullptr, value);
    EXPECT_TRUE(earlier);
    EXPECT_EQ(value.TextValue(), "-");  // the handler is the one set before, unwrapped
    TQelFromText plain;
    ParseAndApply({}, plain);
    EXPECT_FALSE(plain.DashNull());
    EXPECT_FALSE(plain.OnGetCellParams);
}

TEST(Escapes, DecodeTheFourEscapesOnly) {
    const struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"\\n", "\n"},  {"\\r\\n", "\r\n"}, {"a\\tb", "a\tb"}, {"\\\\n", "\\n"},
        {"\\x", "\\x"}, {"end\\", "end\\"}, {"", ""},          {"||", "||"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeEscapes(c.in), c.out) << c.in;
}

TEST(Escapes, CharacterOptionsTakeOneByteOrNone) {
    const struct {
        const char* in;
        char out;
    } good[] = {{",", ','}, {"\\t", '\t'}, {"none", '\0'}, {"\\\\", '\\'}, {" ", ' '}};
    for (const auto& c : good) EXPECT_EQ(ParseCharacter("--x", c.in), c.out) << c.in;
    for (const char* bad : {"", "ab", "\\t\\t", "no"}) {
        EXPECT_THROW(ParseCharacter("--x", bad), EUsageError) << bad;
    }
}

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const TQelBaseComponent&)> check;
};

TEST(ImportOptions, EachOptionSetsItsSetting) {
    const std::vector<OptionCase> cases = {
        {"comma",
         {"--delimiter", "comma"},
         [](auto& c) {
             EXPECT_EQ(c.FieldDelimiter(), fdComma);
             EXPECT_EQ(c.FieldDelimiterCustom(), ',');
         }},
        {"none",
         {"--delimiter", "none"},
         [](auto& c) {
             EXPECT_EQ(c.FieldDelimiter(), fdNone);
             EXPECT_EQ(c.FieldDelimiterCustom(), '\0');
         }},
        {"custom delimiter",
         {"--delimiter", "|"},
         [](auto& c) {
             EXPECT_EQ(c.FieldDelimiter(), fdCustom);
             EXPECT_EQ(c.FieldDelimiterCustom(), '|');
         }},
        {"escaped tab",
         {"--delimiter", "\\t"},
         [](auto& c) { EXPECT_EQ(c.FieldDelimiter(), fdTab); }},
        {"apos",
         {"--qualifier", "apos"},
         [](auto& c) {
             EXPECT_EQ(c.TextQualifier(), tqApos);
             EXPECT_EQ(c.TextQualifierCustom(), '\'');
         }},
        {"no qualifier",
         {"--qualifier", "none"},
         [](auto& c) {
             EXPECT_EQ(c.TextQualifier(), tqNone);
             EXPECT_EQ(c.TextQualifierCustom(), '\0');
         }},
        {"custom qualifier",
         {"--qualifier", "#"},
         [](auto& c) {
             EXPECT_EQ(c.TextQualifier(), tqCustom);
             EXPECT_EQ(c.TextQualifierCustom(), '#');
         }},
        {"lf",
         {"--record-separator", "lf"},
         [](auto& c) {
             EXPECT_EQ(c.RecordSeparator(), rsLF);
             EXPECT_EQ(c.RecordSeparatorCustom(), "\n");
         }},
        {"escaped lf is the named one",
         {"--record-separator", "\\n"},
         [](auto& c) { EXPECT_EQ(c.RecordSeparator(), rsLF); }},
        {"custom separator",
         {"--record-separator", "\\n--\\n"},
         [](auto& c) {
             EXPECT_EQ(c.RecordSeparator(), rsCustom);
             EXPECT_EQ(c.RecordSeparatorCustom(), "\n--\n");
         }},
        {"empty separator",
         {"--record-separator", ""},
         [](auto& c) {
             EXPECT_EQ(c.RecordSeparator(), rsCustom);
             EXPECT_EQ(c.RecordSeparatorCustom(), "");
         }},
        {"append-update",
         {"--mode", "append-update", "--keys", "Host;Code"},
         [](auto& c) {
             EXPECT_EQ(c.Mode(), imAppendUpdate);
             EXPECT_EQ(c.DatasetKeys(), "Host;Code");
         }},
        {"rows",
         {"--first", "3", "--last", "9", "--header", "2", "--fixed"},
         [](auto& c) {
             EXPECT_EQ(c.RowFirst(), 3);
             EXPECT_EQ(c.RowLast(), 9);
             EXPECT_EQ(c.RowFieldNames(), 2);
             EXPECT_TRUE(c.Fixed());
         }},
        {"keep empty clears only that flag",
         {"--keep-empty"},
         [](auto& c) {
             EXPECT_FALSE(c.Options().Contains(soSkipEmptyRow));
             EXPECT_EQ(c.Options().Bits(), 31 - 4);
         }},
        {"maps in order",
         {"--map", "Host=Field1", "--map", "Code=Field2", "--map", "Host=Field3"},
         [](auto& c) {
             ASSERT_EQ(c.Mappings().Count(), 3);
             EXPECT_EQ(c.Mappings()[0], "Host=Field1");
             EXPECT_EQ(c.Mappings()[2], "Host=Field3");
         }},
        {"conditions",
         {"--load-when", "Field2 = '200'", "--skip-if", "Field1 = 'x'"},
         [](auto& c) {
             EXPECT_EQ(c.LoadCondition().LoadWhen(), "Field2 = '200'");
             EXPECT_EQ(c.LoadCondition().SkipIf(), "Field1 = 'x'");
         }},
        {"trim both",
         {"--trim", "both"},
         [](auto& c) { EXPECT_EQ(c.TrimSpaces(), tsTrimLeftRight); }},
        {"oem", {"--oem"}, [](auto& c) { EXPECT_EQ(c.CharacterSet(), csiASCII_MSDOS); }},
        {"data formats",
         {"--date-order", "ymd", "--date-separator", "-", "--time-separator", ".",
          "--two-digit-year", "--decimal-separator", ",", "--thousand-separator", "none",
          "--currency", "EUR", "--true", "yes", "--false", "no"},
         [](auto& c) {
             const TQelDataFormats& f = c.DataFormats();
             EXPECT_EQ(f.DateOrder(), doYMD);
             EXPECT_EQ(f.DateSeparator(), '-');
             EXPECT_EQ(f.TimeSeparator(), '.');
             EXPECT_FALSE(f.FourDigitYear());
             EXPECT_EQ(f.DecimalSeparator(), ',');
             EXPECT_EQ(f.ThousandSeparator(), '\0');
             EXPECT_EQ(f.CurrencyString(), "EUR");
             EXPECT_EQ(f.BooleanTrue(), "yes");
             EXPECT_EQ(f.BooleanFalse(), "no");
             EXPECT_EQ(f.DatePattern(), "YY-MM-DD HH.NN.SS");
         }},
        {"custom date-time format",
         {"--datetime-format", "dd.mm.yyyy"},
         [](auto& c) { EXPECT_EQ(c.DataFormats().DatePattern(), "DD.MM.YYYY"); }},
        {"regional",
         {"--regional", "--true", "ja"},
         [](auto& c) {
             EXPECT_TRUE(c.DataFormats().UseRegionalSettings());
             EXPECT_EQ(c.DataFormats().BooleanTrue(), "ja");
         }},
        {"update step",
         {"--update-step", "200"},
         [](auto& c) { EXPECT_EQ(c.Statistic().UpdateStep(), 200); }},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TQelBaseComponent component;
        ParseAndApply(c.args, component);
        c.check(component);
    }
}

TEST(ImportOptions, NothingGivenLeavesTheComponentsDefaults) {
    TQelBaseComponent component;
    const TQelBaseComponent fresh;
    ParseAndApply({}, component);
    EXPECT_EQ(component.Mode(), fresh.Mode());
    EXPECT_EQ(component.Options(), fresh.Options());
    EXPECT_EQ(component.FieldDelimiterCustom(), fresh.FieldDelimiterCustom());
    EXPECT_EQ(component.RecordSeparatorCustom(), fresh.RecordSeparatorCustom());
    EXPECT_EQ(component.DataFormats().DatePattern(), fresh.DataFormats().DatePattern());
    EXPECT_EQ(component.Statistic().UpdateStep(), fresh.Statistic().UpdateStep());
    EXPECT_TRUE(component.Mappings().Empty());
}

TEST(ImportOptions, WrongValuesAreUsageErrors) {
    const std::vector<std::vector<std::string>> applyErrors = {
        {"--mode", "insert"},       {"--mode", "Append"},        {"--delimiter", "ab"},
        {"--qualifier", "double"},  {"--trim", "all"},           {"--date-order", "dd"},
        {"--date-separator", "//"}, {"--decimal-separator", ""},
    };
    for (const auto& args : applyErrors) {
        TQelBaseComponent component;
        EXPECT_THROW(ParseAndApply(args, component), EUsageError) << args[0] << " " << args[1];
    }
    const std::vector<std::vector<std::string>> parseErrors = {
        {"--first", "abc"},
        {"--update-step", "1.5"},
        {"--regional", "--decimal-separator", ","},
        {"--date-order", "dmy", "--regional"},
        {"--unknown"},
    };
    for (const auto& args : parseErrors) {
        TQelBaseComponent component;
        EXPECT_THROW(ParseAndApply(args, component), CLI::ParseError) << args[0];
    }
}

}  // namespace
}  // namespace qel::cli
