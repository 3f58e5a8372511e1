// The reader against the reference reader on random sources that are mostly separators,
// qualifiers, delimiters and NUL bytes: the cutter's scanning and step-by-step searches, the
// splitter's fast and step-by-step scans, the source references (read and bound), and whole
// runs of the text component.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "ReferenceReader.h"
#include "dataset/MemTable.h"
#include "text/Qel2TXT.h"
#include "text/TextReader.h"

namespace qel {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// One layout of the text: record separator, qualifier, delimiter.
struct Layout {
    std::string separator;
    char qualifier;
    char delimiter;
};

// Separators with and without the qualifier in them (the cutter scans only when the separator
// holds no qualifier), of one and more characters, empty, and holding a NUL (never matches);
// qualifiers equal to the delimiter (the splitter goes step by step then), and none of either.
const Layout kLayouts[] = {
    {"\r\n", '"', ','},   {"\n", '"', ' '},     {"\r", '\'', '\t'}, {"||", '"', '|'},
    {"\n", '\0', ','},    {"\n", '"', '\0'},    {"\"\n", '"', ','}, {"\n\"", '"', ' '},
    {"\"", '"', ','},     {",\n", '"', ','},    {"\n", ',', ','},   {"", '"', ','},
    {"a\0b"s, '"', ','},  {"\r\n", '\0', '\0'}, {"ab", 'a', 'b'},   {"\n", '\0', '\n'},
    {"\x1A\n", '"', ' '}, {"\n", '"', '"'},     {"\r\n", ' ', ' '}, {"\n\n", '"', ','},
};

// Random text made mostly of the layout's own characters, NULs and line ends.
std::string RandomText(std::mt19937& rng, const Layout& l, std::size_t maxLength) {
    const std::string pieces[] = {l.separator,
                                  l.separator,
                                  std::string(1, l.qualifier),
                                  std::string(1, l.qualifier),
                                  std::string(1, l.delimiter),
                                  std::string(1, l.delimiter),
                                  "\0"s,
                                  "\r",
                                  "\n",
                                  " ",
                                  "a",
                                  "b",
                                  "\xE9",
                                  "\x1A"};
    std::string text;
    const std::size_t length = rng() % (maxLength + 1);
    while (text.size() < length) text += pieces[rng() % std::size(pieces)];
    return text;
}

ref::Rules RandomRules(std::mt19937& rng, const Layout& l) {
    const std::int32_t rows[] = {-1, 0, 1, 1, 1, 2, 3, 5, 2147483647};
    ref::Rules r;
    r.SkipEmptyRow = rng() % 2 == 0;
    r.RowFirst = rows[rng() % std::size(rows)];
    r.RowLast = rng() % 3 == 0 ? 2147483647 : rows[rng() % std::size(rows)];
    r.RowFieldNames = rows[rng() % std::size(rows)];
    r.Delimiter = l.delimiter;
    r.Qualifier = l.qualifier;
    r.Separator = l.separator;
    return r;
}

// References of every kind: the line, fields in and out of range, ranges, constants, numbers
// as the integer reading takes them, prefixes in the wrong letter case.
const char* const kReferences[] = {
    "Text",   "Field1",    "Field2",   "Field3",   "Field4",  "Field7",   "Field0",
    "Field",  "Field-1",   "Field 2",  "Field+2",  "Field$3", "Field2x",  "Field99999999999",
    "field1", "Text1-1",   "Text1-5",  "Text2-4",  "Text3-2", "Text0-5",  "Text5-0",
    "Text4-", "Text-2",    "Text 1-3", "Text2- 6", "Text2",   "Text1-99", "TEXT",
    "Host",   "Text$2-$4", ""};

Strings Texts(const std::vector<TRecordRange>& ranges, std::string_view text) {
    Strings out;
    for (const TRecordRange& r : ranges) out.emplace_back(text.substr(r.Offset, r.Length));
    return out;
}

std::vector<std::int32_t> Packed(const std::vector<TFieldPosition>& fields) {
    std::vector<std::int32_t> out;
    for (const TFieldPosition& f : fields)
        out.push_back(static_cast<std::int32_t>(f.Start * 10000 + f.End));
    return out;
}

TEST(ReferenceReader, CuttingAndKeepingAgreeOnRandomSources) {
    std::mt19937 rng(20261209);
    int scanning = 0, stepwise = 0;
    for (const Layout& l : kLayouts) {
        for (int round = 0; round < 600; ++round) {
            std::string text = RandomText(rng, l, 60);
            if (round % 7 == 0) text += "\x1A\x1B\x1A";  // end marks after the last record
            SCOPED_TRACE("text " + testing::PrintToString(text) + " separator " +
                         testing::PrintToString(l.separator) + " qualifier " +
                         testing::PrintToString(l.qualifier) + " delimiter " +
                         testing::PrintToString(l.delimiter));
            // Cutting alone.
            TRecordCutter cutter(text, l.separator, l.qualifier, l.delimiter);
            (cutter.Scanning() ? scanning : stepwise)++;
            Strings cut;
            for (TRecordRange r; cutter.Next(r);) cut.emplace_back(text.substr(r.Offset, r.Length));
            ASSERT_EQ(cut, ref::CutRecords(text, l.separator, l.qualifier, l.delimiter));

            // Reading with the keeping rules.
            const ref::Rules rules = RandomRules(rng, l);
            TRecordRules r;
            r.SkipEmptyRow = rules.SkipEmptyRow;
            r.RowFieldNames = rules.RowFieldNames;
            r.RowFirst = rules.RowFirst;
            r.RowLast = rules.RowLast;
            r.Delimiter = rules.Delimiter;
            r.Qualifier = rules.Qualifier;
            r.Separator = rules.Separator;
            std::string header = "before", wantHeader = "before";
            std::vector<TRecordRange> kept;
            Strings want;
            ReadRecords(text, r, header, kept);
            ref::ReadLines(text, rules, wantHeader, want);
            ASSERT_EQ(Texts(kept, text), want)
                << "first " << r.RowFirst << " last " << r.RowLast << " skip " << r.SkipEmptyRow;
            ASSERT_EQ(header, wantHeader) << "header record " << r.RowFieldNames;
        }
    }
    // Both searches of the cutter were compared.
    EXPECT_GT(scanning, 1000);
    EXPECT_GT(stepwise, 1000);
}

TEST(ReferenceReader, SplittingAndReferencesAgreeOnRandomLines) {
    std::mt19937 rng(1209);
    int stepwise = 0;
    std::vector<TFieldPosition> fields;
    std::string value;
    for (const Layout& l : kLayouts) {
        if (l.qualifier != '\0' && l.qualifier == l.delimiter) ++stepwise;
        for (int round = 0; round < 800; ++round) {
            // Lines long enough for the word-at-a-time scan, never holding the separator.
            const std::string line = RandomText(rng, {"", l.qualifier, l.delimiter}, 90);
            SCOPED_TRACE("line " + testing::PrintToString(line) + " qualifier " +
                         testing::PrintToString(l.qualifier) + " delimiter " +
                         testing::PrintToString(l.delimiter));
            SplitDelimited(line, l.delimiter, l.qualifier, fields);
            const std::vector<std::int32_t> want = ref::SplitFields(line, l.delimiter, l.qualifier);
            ASSERT_EQ(Packed(fields), want);
            for (bool fixed : {false, true}) {
                const std::vector<TFieldPosition> none;
                const std::vector<TFieldPosition>& got = fixed ? none : fields;
                const std::vector<std::int32_t> wantFields =
                    fixed ? std::vector<std::int32_t>{} : want;
                for (const char* reference : kReferences) {
                    const std::string expected =
                        ref::GetSourceValue(reference, line, fixed, wantFields, l.delimiter);
                    ResolveSourceReference(reference, line, fixed, got, l.delimiter, value);
                    ASSERT_EQ(value, expected) << reference << (fixed ? " fixed" : "");
                    ReadSourceReference(ParseSourceReference(reference, fixed), line, got,
                                        l.delimiter, value);
                    ASSERT_EQ(value, expected) << reference << (fixed ? " fixed, bound" : " bound");
                }
            }
        }
    }
    EXPECT_GE(stepwise, 2);  // the splitter's step-by-step scan was compared too
}

// Whole runs of the text component from a stream: the rows it loads, what every reference gives
// for each of them (asked by name and through a binding), and the header line.
TEST(ReferenceReader, TextComponentRunsAgree) {
    std::mt19937 rng(771209);
    TMemTable table;
    table.AddField("A", ftString, 20);
    table.Open();
    for (const Layout& l : kLayouts) {
        for (int round = 0; round < 60; ++round) {
            const std::string text = RandomText(rng, l, 80);
            const ref::Rules rules = RandomRules(rng, l);
            const bool fixed = round % 4 == 3;
            SCOPED_TRACE("text " + testing::PrintToString(text) + " separator " +
                         testing::PrintToString(l.separator) + " qualifier " +
                         testing::PrintToString(l.qualifier) + " delimiter " +
                         testing::PrintToString(l.delimiter) + " first " +
                         std::to_string(rules.RowFirst) + " last " + std::to_string(rules.RowLast) +
                         " header " + std::to_string(rules.RowFieldNames) +
                         (rules.SkipEmptyRow ? " skip" : "") + (fixed ? " fixed" : ""));

            std::string wantHeader;
            Strings wantLines;
            ref::ReadLines(text, rules, wantHeader, wantLines);
            Strings want;
            for (std::size_t i = 0;
                 i < wantLines.size() &&
                 static_cast<std::int64_t>(i) <= std::int64_t{rules.RowLast} - rules.RowFirst;
                 ++i) {
                const std::string& line = wantLines[i];
                const std::vector<std::int32_t> positions =
                    fixed ? std::vector<std::int32_t>{}
                          : ref::SplitFields(line, rules.Delimiter, rules.Qualifier);
                std::string row = line + " =>";
                for (const char* reference : kReferences)
                    row += " [" +
                           ref::GetSourceValue(reference, line, fixed, positions, rules.Delimiter) +
                           "]";
                want.push_back(row);
            }

            TQelFromText source;
            source.SetDataSet(&table);
            source.SetAnimatedStatus(false);
            TQelOptions options = TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor);
            if (!rules.SkipEmptyRow) options.Exclude(soSkipEmptyRow);
            source.SetOptions(options);
            source.SetFixed(fixed);
            source.SetRowFirst(rules.RowFirst);
            source.SetRowLast(rules.RowLast);
            source.SetRowFieldNames(rules.RowFieldNames);
            source.SetFieldDelimiterCustom(rules.Delimiter);
            source.SetTextQualifierCustom(rules.Qualifier);
            source.SetRecordSeparatorCustom(rules.Separator);
            source.Mappings().Add("A=Text");
            Strings got;
            source.OnBeforeRecordEvent = [&](TQelBaseComponent& sender, const std::string&,
                                             Variant&, bool& accept) {
                auto& s = static_cast<TQelFromText&>(sender);
                std::string row = std::string(s.CurrentLine()) + " =>";
                for (const char* reference : kReferences) {
                    Variant byName, bound;
                    s.GetSourceValue(Variant(reference), byName);
                    s.GetBoundSourceValue(s.BindSourceName(reference), bound);
                    EXPECT_EQ(bound, byName) << reference;
                    row += " [" + VarToStr(byName) + "]";
                }
                got.push_back(row);
                accept = false;  // nothing is written: the rows are compared here
            };
            std::istringstream in(text);
            source.ImportFromStream(in);
            ASSERT_EQ(source.Statistic().Result(), irExecuted);
            ASSERT_EQ(got, want);
            ASSERT_EQ(source.HeaderLine(), wantHeader);
        }
    }
}

}  // namespace
}  // namespace qel
