// Cutting, keeping and splitting of text, and reading the bytes of files and streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>

#include "core/Errors.h"
#include "text/ByteInput.h"
#include "text/TextReader.h"

namespace qel {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

Strings Cut(std::string_view text, std::string_view sep, char q, char d) {
    Strings out;
    TRecordCutter cutter(text, sep, q, d);
    TRecordRange r;
    while (cutter.Next(r)) out.emplace_back(text.substr(r.Offset, r.Length));
    return out;
}

Strings Split(std::string_view line, char d, char q) {
    std::vector<TFieldPosition> fields;
    SplitDelimited(line, d, q, fields);
    Strings out;
    for (const auto& f : fields) out.emplace_back(FieldText(line, f));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Cutting records

TEST(CutRecords, SeparatorsQuotesAndOddBytes) {
    struct Case {
        const char* name;
        std::string text;
        std::string sep;
        char q, d;
        Strings want;
    } cases[] = {
        {"blank record in the middle", "a b\n\nc\n", "\n", '"', ' ', {"a b", "", "c"}},
        {"no final separator", "a\nb", "\n", '"', ' ', {"a", "b"}},
        {"only separators", "\n\n\n", "\n", '"', ' ', {"", "", ""}},
        {"empty separator keeps one record", "a\nb\n", "", '"', ' ', {"a\nb\n"}},
        {"separator with a NUL never matches", "a\0b\0c"s, "\0"s, '"', ' ', {"a\0b\0c"s}},
        {"two-character separator", "a||b||c", "||", '"', ' ', {"a", "b", "c"}},
        {"half a separator is text", "a|b||c|", "||", '"', ' ', {"a|b", "c|"}},
        {"CRLF inside a quoted field",
         "\"a\r\nb\",c\r\nd",
         "\r\n",
         '"',
         ',',
         {"\"a\r\nb\",c", "d"}},
        {"CR-only ends under CRLF", "a\rb\rc", "\r\n", '"', ',', {"a\rb\rc"}},
        {"mixed line ends under CRLF", "a\r\nb\nc\r\n", "\r\n", '"', ',', {"a", "b\nc"}},
        {"LF on CRLF text keeps the CR", "a b\r\nc\r\n", "\n", '"', ' ', {"a b\r", "c\r"}},
        {"quoted field before CR runs on", "x \"q\"\r\ny\nz", "\n", '"', ' ', {"x \"q\"\r\ny\nz"}},
        {"qualifier then delimiter closes", "\"a b\" c\nd", "\n", '"', ' ', {"\"a b\" c", "d"}},
        {"separator right after a qualifier", "\"a\nb\"\nc", "\n", '"', ' ', {"\"a\nb\"", "c"}},
        {"separator right after an opening qualifier",
         "a\"\nb\n\"\nc",
         "\n",
         '"',
         ' ',
         {"a\"", "b", "\"", "c"}},
        {"qualifier in an unquoted field", "5\" disk\nx", "\n", '"', ',', {"5\" disk\nx"}},
        {"unbalanced qualifier runs to the end", "a \"b\nc\nd", "\n", '"', ' ', {"a \"b\nc\nd"}},
        {"no qualifier: quotes are text", "\"a\nb", "\n", '\0', ' ', {"\"a", "b"}},
        {"NUL is an ordinary byte", "a\0b\n\0\n"s, "\n", '\0', ' ', {"a\0b"s, "\0"s}},
        {"no delimiter: any qualifier closes", "\"a\"x\ny", "\n", '"', '\0', {"\"a\"x", "y"}},
        {"invalid UTF-8 passes", "\xff\xfe\n\xc3", "\n", '"', ' ', {"\xff\xfe", "\xc3"}},
        {"separator containing the qualifier", "a\"\"|b", "\"|", '"', ',', {"a\"", "b"}},
        {"empty text", "", "\n", '"', ' ', {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cut(c.text, c.sep, c.q, c.d), c.want) << c.name;
    }
}

// A character-by-character transcription of the cutting rules, the oracle for the scanning
// search on random text.
Strings CutOneByOne(std::string_view t, std::string_view sep, char q, char d) {
    Strings out;
    const bool usable = !sep.empty() && sep.find('\0') == sep.npos;
    std::size_t r = 0;
    while (r < t.size()) {
        bool in = q != '\0' && t[r] == q;
        std::size_t p = r;
        for (;;) {
            if (p >= t.size()) {
                out.emplace_back(t.substr(r));
                r = t.size();
                break;
            }
            if (usable && t.substr(p, sep.size()) == sep && (!in || (p > 0 && t[p - 1] == q))) {
                out.emplace_back(t.substr(r, p - r));
                r = p + sep.size();
                break;
            }
            ++p;
            if (p < t.size() && q != '\0' && t[p] == q) {
                if (!in)
                    in = true;
                else if (d == '\0' || (p + 1 < t.size() && t[p + 1] == d))
                    in = false;
            }
        }
    }
    return out;
}

TEST(CutRecords, ScanningAgreesWithStepwiseCuttingOnRandomText) {
    std::mt19937 rng(12345);
    const std::string alphabet = "ab \",\r\n|\0"s;
    struct Layout {
        std::string sep;
        char q, d;
    } layouts[] = {{"\n", '"', ' '},  {"\r\n", '"', ','},   {"||", '"', '|'},   {"\n", '\0', ' '},
                   {"\n", '"', '\0'}, {"\r\n|", '"', '\n'}, {"\"\n", '"', ' '}, {"a", 'a', ','}};
    for (const auto& l : layouts) {
        for (int round = 0; round < 800; ++round) {
            // Short texts dense with special bytes, and long ones where they are rare, so that
            // searches cross the scanner's 64-byte blocks and long stretches without a hit.
            const bool sparse = round % 2 == 1;
            std::string text(sparse ? rng() % 700 : rng() % 40, ' ');
            for (char& ch : text) {
                ch = sparse && rng() % 16 != 0 ? 'a' : alphabet[rng() % alphabet.size()];
            }
            ASSERT_EQ(Cut(text, l.sep, l.q, l.d), CutOneByOne(text, l.sep, l.q, l.d))
                << "text: " << testing::PrintToString(text)
                << " sep: " << testing::PrintToString(l.sep);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Keeping records

TEST(ReadRecords, RowRangeHeaderAndBlankRecords) {
    struct Case {
        const char* name;
        std::string text;
        TRecordRules rules;
        Strings want;
        std::string header;  // "old" when the header line must stay unchanged
    };
    auto rules = [](bool skip, int first, int last, int header) {
        TRecordRules r;
        r.SkipEmptyRow = skip;
        r.RowFirst = first;
        r.RowLast = last;
        r.RowFieldNames = header;
        r.Separator = "\n";
        r.Delimiter = ' ';
        return r;
    };
    const int kMax = 2147483647;
    const Case cases[] = {
        {"blank record dropped but numbered",
         "a b\n\nc\n",
         rules(true, 1, kMax, 1),
         {"a b", "c"},
         "a b"},
        {"range 3..4 of five", "1\n2\n3\n4\n5", rules(true, 3, 4, 1), {"3", "4"}, "1"},
        {"last before first keeps nothing", "1\n2\n3", rules(true, 3, 2, 2), {}, "2"},
        {"blank record counts for RowFirst", "h\n\na", rules(true, 3, kMax, 1), {"a"}, "h"},
        {"kept untrimmed without skipping",
         "a\n \n\n\tb ",
         rules(false, 1, kMax, 9),
         {"a", " ", "", "\tb "},
         "old"},
        {"blank header record is dropped", "\nb\nc", rules(true, 1, kMax, 1), {"b", "c"}, "old"},
        {"blank header kept without skipping", "\nb", rules(false, 1, kMax, 1), {"", "b"}, ""},
        {"stop at RowLast: header after it unread",
         "a\nb\nh\nd",
         rules(true, 1, 2, 3),
         {"a", "b"},
         "old"},
        {"header after the range is read", "a\nb\nh\nd", rules(true, 2, 2, 3), {"b"}, "h"},
        {"RowFirst below 1 starts at 1", "a\nb", rules(true, -5, kMax, 1), {"a", "b"}, "a"},
        {"RowLast 0 keeps nothing, header read", "a\nb", rules(true, 1, 0, 2), {}, "b"},
        {"end marks removed before cutting",
         "a\nb\n\x1a\x1b\x1a",
         rules(false, 1, kMax, 1),
         {"a", "b"},
         "a"},
        {"end mark inside the text stays",
         "a\x1a\nb",
         rules(true, 1, kMax, 0),
         {"a\x1a", "b"},
         "old"},
        {"only end marks: no records", "\x1a\x1a", rules(false, 1, kMax, 1), {}, "old"},
        {"only separators", "\n\n", rules(true, 1, kMax, 1), {}, "old"},
        {"empty text", "", rules(false, 1, kMax, 1), {}, "old"},
    };
    for (const auto& c : cases) {
        std::string header = "old";
        std::vector<TRecordRange> kept{{1, 1}};  // replaced, not appended to
        ReadRecords(c.text, c.rules, header, kept);
        Strings got;
        for (const auto& r : kept) got.push_back(c.text.substr(r.Offset, r.Length));
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(header, c.header) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Splitting fields

TEST(SplitDelimited, FieldsOfALine) {
    struct Case {
        const char* name;
        std::string line;
        char d, q;
        Strings want;
    } cases[] = {
        {"access log line",
         R"(127.0.0.1 - - [10/Oct/2000:13:55:36 -0700] "GET /a.gif" 200 2326 "/prev.html")",
         ' ',
         '"',
         {"127.0.0.1", "-", "-", "[10/Oct/2000:13:55:36", "-0700]", "GET /a.gif", "200", "2326",
          "/prev.html"}},
        {"empty and quoted fields", R"(x,,"y,z",)", ',', '"', {"x", "", "y,z", ""}},
        {"runs of delimiters are not merged", "a  b", ' ', '"', {"a", "", "b"}},
        {"leading delimiter", ",a", ',', '"', {"", "a"}},
        {"lone delimiter", ",", ',', '"', {"", ""}},
        {"doubled qualifiers stay", R"("a ""b"" c")", ',', '"', {R"(a ""b"" c)"}},
        {"no delimiter: one field", "a,b c", '\0', '"', {"a,b c"}},
        {"no qualifier: quotes are text", R"("a",b)", ',', '\0', {R"("a")", "b"}},
        {"unclosed qualifier runs to the end", R"(a,"b,c)", ',', '"', {"a", "b,c"}},
        {"qualifier inside an unquoted field", R"(5" disk,x)", ',', '"', {R"(5" disk,x)"}},
        {"qualifier dropped only at the edges", R"(a"b",c)", ',', '"', {R"(a"b)", "c"}},
        {"lone qualifier", "\"", ',', '"', {""}},
        {"empty quoted field", "\"\",a", ',', '"', {"", "a"}},
        {"CR stays in the last field", "a b\r", ' ', '"', {"a", "b\r"}},
        {"CR keeps a quoted field open", "a \"b\"\r", ' ', '"', {"a", "b\"\r"}},
        {"NUL is an ordinary byte", "a\0b,\0"s, ',', '"', {"a\0b"s, "\0"s}},
        {"UTF-8 passes", "\xc3\xa4,\xe2\x82\xac", ',', '"', {"\xc3\xa4", "\xe2\x82\xac"}},
        {"qualifier equal to the delimiter", "a,b", ',', ',', {"a,b"}},
        {"empty line has no fields", "", ',', '"', {}},
    };
    for (const auto& c : cases) EXPECT_EQ(Split(c.line, c.d, c.q), c.want) << c.name;
}

// A character-by-character transcription of the splitting rules, 1-based as they are written.
std::vector<TFieldPosition> SplitOneByOne(std::string_view line, char d, char q) {
    std::vector<TFieldPosition> out;
    const std::size_t n = line.size();
    auto at = [&](std::size_t i) { return i >= 1 && i <= n ? line[i - 1] : '\0'; };
    auto isD = [&](std::size_t i) { return d != '\0' && at(i) == d; };
    auto isQ = [&](std::size_t i) { return q != '\0' && at(i) == q; };
    std::size_t s = 1;
    bool in = false;
    for (std::size_t i = 1; i <= n; ++i) {
        if (isQ(i)) {
            if (!in)
                in = true;
            else if (isD(i + 1))
                in = false;
        }
        if ((isD(i) && !in) || i == n) {
            std::size_t e = i == n ? (isD(n) ? n - 1 : n) : i - 1;
            out.push_back({s + (isQ(s) || isD(s) ? 1 : 0), e - (isQ(e) ? 1 : 0)});
            s = e + 1 + (isD(e + 1) ? 1 : 0);
        }
    }
    if (n > 0 && isD(n)) out.push_back({n + 1, n + 1});
    return out;
}

TEST(SplitDelimited, AgreesWithStepwiseSplittingOnRandomLines) {
    std::mt19937 rng(777);
    // Bytes above 0x7F too, and lines long enough to be scanned several bytes at a time.
    const std::string alphabet = "ab ,\"'\0\x80\xE9"s;
    const std::pair<char, char> layouts[] = {{',', '"'},  {' ', '"'},  {',', '\0'},
                                             {'\0', '"'}, {'\'', '"'}, {',', ','}};
    std::vector<TFieldPosition> got;
    for (auto [d, q] : layouts) {
        for (int round = 0; round < 500; ++round) {
            std::string line(rng() % 70, ' ');
            for (char& ch : line) ch = alphabet[rng() % alphabet.size()];
            SplitDelimited(line, d, q, got);
            const std::vector<TFieldPosition> all = SplitOneByOne(line, d, q);
            ASSERT_EQ(got, all) << testing::PrintToString(line);
            // Stopping after some fields gives the same first fields.
            const std::size_t limit = rng() % 6;
            SplitDelimited(line, d, q, got, limit);
            const std::size_t kept = std::min(limit, all.size());
            ASSERT_EQ(got, std::vector<TFieldPosition>(all.begin(), all.begin() + kept))
                << testing::PrintToString(line) << " limit " << limit;
        }
    }
}

TEST(SplitDelimited, LinesOfAnyLengthKeepExactPositions) {
    // Positions far beyond four digits: a 5 MB quoted field between short ones.
    const std::string big(5'000'000, 'x');
    const std::string line = "a,\"" + big + "\",b";
    std::vector<TFieldPosition> fields;
    SplitDelimited(line, ',', '"', fields);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[1], (TFieldPosition{4, 5'000'003}));
    EXPECT_EQ(FieldText(line, fields[2]), "b");
    EXPECT_EQ(ResolveSourceReference("Field3", line, false, fields, ','), "b");
    EXPECT_EQ(ResolveSourceReference("Field2", line, false, fields, ',').size(), big.size());

    // 30,000 short fields: the 12,345th sits past position 10,000.
    std::string many;
    for (int i = 1; i <= 30000; ++i) many += std::to_string(i) + ' ';
    SplitDelimited(many, ' ', '"', fields);
    ASSERT_EQ(fields.size(), 30001u);  // the trailing delimiter adds an empty field
    EXPECT_EQ(ResolveSourceReference("Field12345", many, false, fields, ' '), "12345");
    EXPECT_EQ(ResolveSourceReference("Field30001", many, false, fields, ' '), "");
}

TEST(SplitFixed, PiecesByDisplayWidth) {
    struct Case {
        const char* name;
        std::string line;
        std::vector<int> widths;
        char d, q;
        std::vector<TFieldPosition> want;
    } cases[] = {
        {"no qualifier: exact widths", "ABCDE123", {5, 3}, '\0', '\0', {{1, 5}, {6, 8}}},
        {"delimiter after each piece",
         "ABCDE 123 XY",
         {5, 3, 2},
         ' ',
         '"',
         {{1, 5}, {7, 9}, {11, 12}}},
        {"piece takes the next character", "ABCDEFGH", {3, 3}, ' ', '"', {{1, 4}, {5, 8}}},
        {"stops when the line is used up", "AB CD", {2, 2, 2, 2}, ' ', '"', {{1, 2}, {4, 5}}},
        {"no widths, no pieces", "ABC", {}, ' ', '"', {}},
        {"empty line", "", {4}, ' ', '"', {{1, 0}}},
    };
    std::vector<TFieldPosition> got;
    for (const auto& c : cases) {
        SplitFixed(c.line, c.widths, c.d, c.q, got);
        EXPECT_EQ(got, c.want) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Source references

TEST(ResolveSourceReference, DelimitedAndFixedReferences) {
    const std::string log =
        R"(127.0.0.1 - - [10/Oct/2000:13:55:36 -0700] "GET /a.gif" 200 2326 "/prev.html")";
    struct Case {
        const char* ref;
        std::string line;
        bool fixed;
        char d;
        std::string want;
    } cases[] = {
        {"Text", log, false, ' ', log},
        {"Field1", log, false, ' ', "127.0.0.1"},
        {"Field6", log, false, ' ', "GET /a.gif"},
        {"Field9", log, false, ' ', "/prev.html"},
        {"Field10", log, false, ' ', ""},
        {"Field0", log, false, ' ', ""},
        {"Field", log, false, ' ', ""},
        {"Fieldx", log, false, ' ', ""},
        {"field1", log, false, ' ', "field1"},    // prefixes are case-sensitive
        {"Text1-5", log, false, ' ', "Text1-5"},  // no ranges in delimited mode
        {"Host", log, false, ' ', "Host"},
        {"Host ", log, false, ' ', "Host"},       // a constant loses a trailing delimiter too
        {"Text", "a b ", false, ' ', "a b "},     // but the whole line does not
        {"Field1", "\"a,\",b", false, ',', "a"},  // a field's trailing delimiter goes
        {"Field2", "x,,y", false, ',', ""},
        {"Text1-5", "ABCDE 123", true, ' ', "ABCDE"},
        {"Text1-6", "ABCDE 123", true, ' ', "ABCDE"},
        {"Text7-9", "ABCDE 123", true, ' ', "123"},
        {"Text7-99", "ABCDE 123", true, ' ', "123"},
        {"Text50-60", "ABCDE 123", true, ' ', ""},
        {"Text3-2", "ABCDE 123", true, ' ', ""},
        {"Text5-0", "ABCDE 123", true, ' ', ""},
        {"Text0-5", "ABCDE 123", true, ' ', "Text0-5"},
        {"Text1", "ABCDE 123", true, ' ', "Text1"},
        {"Textx-3", "ABCDE 123", true, ' ', "Textx-3"},
        {"Field1", "ABCDE 123", true, ' ', ""},  // fixed-width lines have no fields
    };
    std::vector<TFieldPosition> fields;
    for (const auto& c : cases) {
        fields.clear();
        if (!c.fixed) SplitDelimited(c.line, c.d, '"', fields);
        EXPECT_EQ(ResolveSourceReference(c.ref, c.line, c.fixed, fields, c.d), c.want)
            << c.ref << " in " << c.line;
    }
}

// ---------------------------------------------------------------------------------------------
// Loading a source

class TempDir : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qel_text_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::filesystem::path dir_;
};

using LoadSource = TempDir;

// Every byte of an input, read in pieces of `piece` bytes.
std::string ReadAll(TByteInput& input, std::size_t piece = 7) {
    std::string out;
    std::string buffer(piece, '\0');
    for (std::size_t got; (got = input.Read(buffer.data(), piece)) > 0;) out.append(buffer, 0, got);
    return out;
}

TEST_F(LoadSource, FileBytesArrivePrecisely) {
    const std::string content = "a\0b\r\n\xff\x1a"s;
    for (const std::string& text : {content, ""s, std::string(300'000, 'z')}) {
        auto input = OpenFileInput(Write("t.txt", text));
        EXPECT_EQ(ReadAll(*input, 4096), text);
        input->Rewind();  // a second pass reads the same bytes
        EXPECT_EQ(ReadAll(*input), text);
        input->Rewind();
        input->Skip(2);
        EXPECT_EQ(ReadAll(*input), text.substr(std::min<std::size_t>(2, text.size())));
    }
}

TEST_F(LoadSource, UnreadableFilesRaiseClearErrors) {
    const std::string missing = (dir_ / "missing.txt").string();
    const std::string folder = dir_.string();
    struct Case {
        std::string name;
        std::string message;
    } cases[] = {
        {missing, "Cannot open file " + missing},
        {folder, "Cannot open file " + folder},
        {"", "Cannot open file "},
        // Opens, but its first bytes cannot be read (the unmapped page at address 0).
        {"/proc/self/mem", "Cannot read file /proc/self/mem"},
    };
    for (const auto& c : cases) {
        try {
            auto input = OpenFileInput(c.name);
            ReadAll(*input);
            ADD_FAILURE() << c.name;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

// A stream that cannot seek and hands out its text a few bytes at a time, like a pipe.
class TrickleBuf : public std::streambuf {
  public:
    explicit TrickleBuf(std::string text) : text_(std::move(text)) {}

  protected:
    int_type underflow() override {
        if (pos_ >= text_.size()) return traits_type::eof();
        const std::size_t n = std::min<std::size_t>(3, text_.size() - pos_);
        setg(&text_[pos_], &text_[pos_], &text_[pos_] + n);
        pos_ += n;
        return traits_type::to_int_type(*gptr());
    }

  private:
    std::string text_;
    std::size_t pos_ = 0;
};

TEST(StreamInput, ReadsFromTheCurrentPositionAndLeavesTheStreamAtItsEnd) {
    std::istringstream in("skip|rest\nmore");
    in.seekg(5);
    auto input = OpenStreamInput(in);
    EXPECT_EQ(ReadAll(*input), "rest\nmore");
    input->Rewind();  // back to where the stream stood, not to its start
    EXPECT_EQ(ReadAll(*input), "rest\nmore");
    input->Rewind();
    input->Finish();
    auto again = OpenStreamInput(in);
    EXPECT_EQ(ReadAll(*again), "");  // a second read finds the stream at its end
    again->Finish();
    in.seekg(0);
    EXPECT_EQ(ReadAll(*OpenStreamInput(in)), "skip|rest\nmore");

    std::istringstream broken("x");
    broken.setstate(std::ios::badbit);
    EXPECT_THROW(OpenStreamInput(broken), EInOutError);
}

TEST(StreamInput, PipesAreReadAgainFromTheirCopy) {
    // Small and large (the copy moves from memory to a temporary file past a megabyte).
    for (const std::size_t size : {std::size_t{10}, std::size_t{3'000'000}}) {
        std::string big(size, 'q');
        for (std::size_t i = 0; i < big.size(); i += 1000) big[i] = static_cast<char>('a' + i % 26);
        TrickleBuf pipe("head" + big + "tail");
        std::istream piped(&pipe);
        piped.ignore(4);
        auto input = OpenStreamInput(piped);
        // The first pass stops part-way; the second reads the copy, then the pipe on.
        std::string first(size / 2, '\0');
        std::size_t at = 0;
        while (at < first.size()) at += input->Read(first.data() + at, first.size() - at);
        EXPECT_EQ(first, big.substr(0, size / 2));
        input->Rewind();
        EXPECT_EQ(ReadAll(*input, 65536), big + "tail");
        input->Rewind();
        input->Skip(size);
        EXPECT_EQ(ReadAll(*input), "tail");
        input->Finish();
        EXPECT_TRUE(piped.eof());
    }
}

}  // namespace
}  // namespace qel
