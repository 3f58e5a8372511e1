// Reading a source in chunks: records across chunk boundaries, gzip inputs, byte offsets for
// resuming, sources that change while they are read, and pipes read twice.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <streambuf>

#include "core/Errors.h"
#include "dataset/MemTable.h"
#include "text/ByteInput.h"
#include "text/Qel2TXT.h"
#include "text/TextReader.h"

namespace qel {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// A text handed out at most `piece` bytes a read, like a pipe, that can go back.
class PieceInput : public TByteInput {
  public:
    PieceInput(std::string text, std::size_t piece) : text_(std::move(text)), piece_(piece) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, piece_, text_.size() - pos_});
        text_.copy(buffer, n, pos_);
        pos_ += n;
        return n;
    }
    void Rewind() override { pos_ = 0; }

  private:
    std::string text_;
    std::size_t piece_;
    std::size_t pos_ = 0;
};

struct Cut {
    Strings records;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> offsets;  // start, end
    friend bool operator==(const Cut&, const Cut&) = default;
};

Cut CutWhole(std::string_view text, std::string_view sep, char q, char d) {
    Cut out;
    text = StripEndMarks(text);
    TRecordCutter cutter(text, sep, q, d);
    TRecordRange r;
    while (cutter.Next(r)) {
        out.records.emplace_back(text.substr(r.Offset, r.Length));
        out.offsets.emplace_back(r.Offset, cutter.Position());
    }
    return out;
}

Cut CutStreamed(const std::string& text, std::string_view sep, char q, char d, std::size_t chunk,
                std::size_t piece, bool pin) {
    Cut out;
    PieceInput input(text, piece);
    TRecordStream stream(input, sep, q, d, chunk);
    std::string_view record, pinned;
    std::string pinnedCopy;
    while (stream.Next(record)) {
        // A pinned record stays intact while the next one is read.
        EXPECT_EQ(pinned, pinnedCopy);
        out.records.emplace_back(record);
        out.offsets.emplace_back(stream.RecordStart(), stream.RecordEnd());
        if (pin) {
            stream.Pin();
            pinned = record;
            pinnedCopy = record;
        }
    }
    return out;
}

TEST(RecordStream, CutsAsTheWholeTextAtEveryChunkSize) {
    std::mt19937 rng(2024);
    struct Layout {
        std::string sep;
        char q, d;
        std::string alphabet;
    } layouts[] = {
        {"\n", '"', ' ', "ab \"\n\x1a"},
        {"\r\n", '"', ',', "a,\"\r\n\x1a\x1b"},
        {"||", '"', '|', "ab|\""},
        {"\"\n", '"', ' ', "a \"\n"},        // separator holding the qualifier
        {"\x1a", '\0', ',', "a,\x1a\x1b"},   // separator made of an end mark
        {"\n\x1a", '"', ' ', "a\"\n\x1a "},  // separator ending in one
        {"", '"', ' ', "ab\n"},              // no separator: one record
    };
    for (const auto& l : layouts) {
        for (int round = 0; round < 300; ++round) {
            std::string text(rng() % 60, ' ');
            for (char& ch : text) ch = l.alphabet[rng() % l.alphabet.size()];
            const Cut want = CutWhole(text, l.sep, l.q, l.d);
            for (const std::size_t chunk : {1, 2, 3, 8, 4096}) {
                for (const std::size_t piece : {1, 5, 1 << 20}) {
                    ASSERT_EQ(CutStreamed(text, l.sep, l.q, l.d, chunk, piece, round % 2 == 0),
                              want)
                        << "text: " << testing::PrintToString(text)
                        << " sep: " << testing::PrintToString(l.sep) << " chunk " << chunk
                        << " piece " << piece;
                }
            }
        }
    }
}

// One counting pass over a file: its result, the header line, and whether the halves met.
struct Count {
    TRecordCount result;
    std::string header;
    bool halves = false;
};

Count CountFile(const std::string& path, const TRecordRules& rules, std::size_t chunk,
                std::uint64_t halvesFrom) {
    std::unique_ptr<TByteInput> input = OpenFileInput(path);
    TRecordStream stream(*input, rules.Separator, rules.Qualifier, rules.Delimiter, chunk);
    TRecordKeeper keeper(rules);
    Count out;
    out.result = CountRecords(*input, stream, keeper, rules, chunk, out.header, halvesFrom);
    out.halves = stream.Position() != out.result.Position;
    return out;
}

TEST(CountRecords, HalvesGiveTheCountOfOnePass) {
    std::mt19937 rng(4711);
    char tmpl[] = "/tmp/qel_count_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    const std::string path = (dir / "log.txt").string();
    struct Layout {
        std::string sep;
        char q, d;
    } layouts[] = {{"\n", '"', ' '}, {"\r\n", '"', ','}, {"||", '"', '|'}, {"\n", '\0', ' '}};
    int met = 0, cases = 0;
    for (const auto& l : layouts) {
        for (int round = 0; round < 60; ++round) {
            // Lines of words, quoted stretches (some holding a separator, some left open),
            // blank lines and end marks at the end.
            std::string text;
            const int lines = 20 + static_cast<int>(rng() % 400);
            for (int i = 0; i < lines; ++i) {
                const int kind = static_cast<int>(rng() % 20);
                if (kind == 0) {
                    text += "  ";  // a blank record
                } else if (kind == 1) {
                    text += std::string(1, l.q == '\0' ? 'x' : l.q) + "a" + l.sep + "b";
                } else if (kind == 2 && l.q != '\0') {
                    text += std::string(1, l.q) + "open";
                } else {
                    for (int w = 0; w < 4; ++w)
                        text += std::string(rng() % 8, 'w') + std::string(1, l.d);
                    if (l.q != '\0') text += std::string(1, l.q) + "x y" + l.q;
                }
                text += l.sep;
            }
            if (rng() % 4 == 0) text += "\x1a";
            std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
            TRecordRules rules;
            rules.Separator = l.sep;
            rules.Qualifier = l.q;
            rules.Delimiter = l.d;
            rules.SkipEmptyRow = rng() % 2 == 0;
            rules.RowFieldNames = static_cast<int>(rng() % 3);
            rules.RowFirst = 1 + static_cast<int>(rng() % 4);
            // Past the middle: no halves.
            if (rng() % 8 == 0) rules.RowFirst = lines;
            if (rng() % 8 == 0) rules.RowFieldNames = lines - 2;
            if (rng() % 8 == 0) rules.RowLast = static_cast<int>(rng() % 50);
            for (const std::size_t chunk : {7, 4096}) {
                const Count one = CountFile(path, rules, chunk, ~std::uint64_t{0});
                const Count two = CountFile(path, rules, chunk, 1);
                ++cases;
                met += two.halves ? 1 : 0;
                const std::string what = "layout " + testing::PrintToString(l.sep) + " round " +
                                         std::to_string(round) + " chunk " + std::to_string(chunk);
                ASSERT_FALSE(one.halves) << what;
                EXPECT_EQ(two.result.Kept, one.result.Kept) << what;
                EXPECT_EQ(two.result.Position, one.result.Position) << what;
                EXPECT_EQ(two.result.ToTheEnd, one.result.ToTheEnd) << what;
                EXPECT_EQ(two.header, one.header) << what;
            }
        }
    }
    std::filesystem::remove_all(dir);
    // Most cases are counted in halves; the others are those the halves cannot serve.
    EXPECT_GT(met, cases / 2) << met << " of " << cases;
}

TEST(RecordStream, LongRecordsAndLimits) {
    const std::string huge(1'000'000, 'x');
    const std::string text = "a\n\"" + huge + "\n" + huge + "\"\nb\n";
    PieceInput input(text, 1000);
    TRecordStream stream(input, "\n", '"', ' ', 16);
    std::string_view r;
    ASSERT_TRUE(stream.Next(r));
    EXPECT_EQ(r, "a");
    ASSERT_TRUE(stream.Next(r));
    EXPECT_EQ(r.size(), 2 * huge.size() + 3);
    ASSERT_TRUE(stream.Next(r));
    EXPECT_EQ(r, "b");
    EXPECT_FALSE(stream.Next(r));
    EXPECT_EQ(stream.Position(), text.size());
    EXPECT_FALSE(stream.EndedShort());

    // A limit that ends the input (its end marks go) and one that does not; an input shorter
    // than its limit says so.
    struct Case {
        std::string text;
        std::uint64_t limit;
        bool ends;
        Strings want;
        bool shortEnd;
    } cases[] = {
        {"a\nb\x1a\x1a\nc", 5, true, {"a", "b"}, false},
        {"a\nb\x1a\x1a\nc", 5, false, {"a", "b\x1a\x1a"}, false},
        {"a\nbc\nd", 4, true, {"a", "bc"}, false},
        {"a\nb", 10, true, {"a"}, true},  // "b" may have gone on: it was cut off
    };
    for (const auto& c : cases) {
        PieceInput in(c.text, 2);
        TRecordStream limited(in, "\n", '"', ' ', 3, 0, c.limit, c.ends);
        Strings got;
        while (limited.Next(r)) got.emplace_back(r);
        EXPECT_EQ(got, c.want) << c.text;
        EXPECT_EQ(limited.EndedShort(), c.shortEnd) << c.text;
    }
}

// ---------------------------------------------------------------------------------------------
// Runs of the text source

// A stream that cannot seek and hands out its text a few bytes at a time, like a pipe.
class TrickleBuf : public std::streambuf {
  public:
    explicit TrickleBuf(std::string text) : text_(std::move(text)) {}

  protected:
    int_type underflow() override {
        if (pos_ >= text_.size()) return traits_type::eof();
        const std::size_t n = std::min<std::size_t>(4093, text_.size() - pos_);
        setg(&text_[pos_], &text_[pos_], &text_[pos_] + n);
        pos_ += n;
        return traits_type::to_int_type(*gptr());
    }

  private:
    std::string text_;
    std::size_t pos_ = 0;
};

std::string Gzip(const std::string& text, int members = 1) {
    std::string out;
    const std::size_t part = text.size() / static_cast<std::size_t>(members) + 1;
    for (std::size_t at = 0; at < text.size() || out.empty(); at += part) {
        z_stream z{};
        EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
        const std::string piece = text.substr(std::min(at, text.size()), part);
        std::string buffer(deflateBound(&z, piece.size()), '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        z.avail_in = static_cast<uInt>(piece.size());
        z.next_out = reinterpret_cast<Bytef*>(buffer.data());
        z.avail_out = static_cast<uInt>(buffer.size());
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        buffer.resize(z.total_out);
        deflateEnd(&z);
        out += buffer;
        if (text.empty()) break;
    }
    return out;
}

class StreamedRuns : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qel_stream_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        qel_.SetAnimatedStatus(false);
        qel_.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        qel_.SetDataSet(&table_);
        qel_.SetFieldDelimiter(fdSpace);
        qel_.SetRecordSeparator(rsLF);
        table_.AddField("A", ftString, 5000);
        table_.AddField("B", ftString, 50);
        table_.Open();
        qel_.Mappings().Add("A=Field1");
        qel_.Mappings().Add("B=Field2");
    }
    void TearDown() override {
        table_.Close();
        std::filesystem::remove_all(dir_);
    }
    std::string Write(const std::string& content, const std::string& name = "src.txt") {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // The run's outcome: every row as "A|B", the header line, TotalCount, the result.
    std::string Run() {
        for (table_.First(); !table_.Eof();) table_.Delete();
        qel_.Execute();
        std::string out = "header " + qel_.HeaderLine() + "; count " +
                          std::to_string(qel_.Statistic().TotalCount()) + "; result " +
                          std::to_string(qel_.Statistic().Result()) + ";";
        for (table_.First(); !table_.Eof(); table_.Next()) {
            out += " " + VarToStr(table_.Fields(0)->Value()) + "|" +
                   VarToStr(table_.Fields(1)->Value());
        }
        return out;
    }

    std::filesystem::path dir_;
    TMemTable table_;
    TQelFromText qel_;
};

TEST_F(StreamedRuns, TinyChunksGiveTheRowsOfOneWholeRead) {
    const std::string longField(20'000, 'L');
    struct Case {
        const char* name;
        std::string text;
        std::string sep;
        char d;
        int first, last, header;
        bool skipEmpty;
    } cases[] = {
        {"plain lines", "h1 h2\na 1\n\nb 2\nc 3\n", "\n", ' ', 2, INT32_MAX, 1, true},
        {"quoted separators", "\"a\nx\" 1\n\"b\" 2\r\n\"c\r\n\" 3", "\n", ' ', 1, INT32_MAX, 1,
         true},
        {"two-byte separator", "a 1||b 2||||c 3||", "||", ' ', 1, INT32_MAX, 3, false},
        {"CRLF and a long record", "a 1\r\n" + longField + " 2\r\nc 3\r\n", "\r\n", ' ', 1,
         INT32_MAX, 2, true},
        {"row range with header after it", "a 1\nb 2\nc 3\nh 4\nd 5\n", "\n", ' ', 2, 3, 4, true},
        {"range ends before the header", "a 1\nb 2\nc 3\nh 4\n", "\n", ' ', 1, 2, 4, true},
        {"end marks", "a 1\nb 2\x1a\x1b\x1a", "\n", ' ', 1, INT32_MAX, 0, true},
        {"no separator", "a 1\nb 2", "", ' ', 1, INT32_MAX, 1, true},
        {"empty source", "", "\n", ' ', 1, INT32_MAX, 1, true},
    };
    for (const auto& c : cases) {
        qel_.SetSourceFileName(Write(c.text));
        qel_.SetRecordSeparatorCustom(c.sep);
        qel_.SetFieldDelimiterCustom(c.d);
        qel_.SetRowFirst(c.first);
        qel_.SetRowLast(c.last);
        qel_.SetRowFieldNames(c.header);
        qel_.SetOptions(c.skipEmpty ? qel_.Options().Include(soSkipEmptyRow)
                                    : qel_.Options().Exclude(soSkipEmptyRow));
        qel_.SetReadChunkSize(TQelFromText::kDefaultReadChunkSize);
        const std::string want = Run();
        for (const std::size_t chunk : {1, 2, 5, 64}) {
            qel_.SetReadChunkSize(chunk);
            EXPECT_EQ(Run(), want) << c.name << ", chunk " << chunk;
        }
    }
}

TEST_F(StreamedRuns, GzipSourcesGiveTheRowsOfThePlainFile) {
    std::string text;
    for (int i = 1; i <= 3000; ++i)
        text += "r" + std::to_string(i) + " \"v " + std::to_string(i) + "\"\n";
    const std::string plain = Write(text);
    qel_.SetFieldDelimiter(fdSpace);
    qel_.SetRecordSeparator(rsLF);
    qel_.SetSourceFileName(plain);
    const std::string want = Run();
    ASSERT_NE(want.find("r3000|v 3000"), std::string::npos);

    struct Case {
        const char* name;
        std::string bytes;
        TQelCompression compression;
        std::size_t chunk;
    } cases[] = {
        {"gzip", Gzip(text), cmGzip, TQelFromText::kDefaultReadChunkSize},
        {"gzip, tiny chunks", Gzip(text), cmGzip, 3},
        {"several members", Gzip(text, 5), cmGzip, 100},
        {"auto on gzip", Gzip(text), cmAuto, 1000},
        {"auto on plain", text, cmAuto, 1000},
    };
    for (const auto& c : cases) {
        qel_.SetSourceFileName(Write(c.bytes, "src.gz"));
        qel_.SetCompression(c.compression);
        qel_.SetReadChunkSize(c.chunk);
        EXPECT_EQ(Run(), want) << c.name;
    }
    // A stream of gzip data.
    std::istringstream in(Gzip(text));
    qel_.SetCompression(cmGzip);
    for (table_.First(); !table_.Eof();) table_.Delete();
    qel_.ImportFromStream(in);
    EXPECT_EQ(table_.RecordCount(), 3000);
}

TEST_F(StreamedRuns, DamagedGzipSourcesRaiseClearErrorsBeforeTheRun) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    const std::string gz = Gzip(text);
    std::string flipped = gz;
    flipped[gz.size() / 2] = static_cast<char>(flipped[gz.size() / 2] ^ 0x55);
    std::string badCrc = gz;
    badCrc[gz.size() - 6] = static_cast<char>(badCrc[gz.size() - 6] ^ 1);
    struct Case {
        const char* name;
        std::string bytes;
        TQelCompression compression;
        const char* message;
    } cases[] = {
        {"truncated", gz.substr(0, gz.size() / 2), cmGzip, "Truncated gzip data in "},
        {"truncated in the trailer", gz.substr(0, gz.size() - 3), cmAuto,
         "Truncated gzip data in "},
        {"damaged", flipped, cmGzip, "Damaged gzip data in "},
        {"checksum wrong", badCrc, cmGzip, "Damaged gzip data in "},
        {"garbage after a member", gz + "junk", cmGzip, "Damaged gzip data in "},
        {"not gzip at all", text, cmGzip, "Not gzip data: "},
        {"empty file", "", cmGzip, "Truncated gzip data in "},
    };
    bool after = false;
    qel_.OnAfterExecute = [&](TQelBaseComponent&) { after = true; };
    for (const auto& c : cases) {
        const std::string path = Write(c.bytes, "bad.gz");
        qel_.SetSourceFileName(path);
        qel_.SetCompression(c.compression);
        qel_.SetReadChunkSize(4096);
        try {
            qel_.Execute();
            ADD_FAILURE() << c.name;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message(), c.message + path) << c.name;
        }
        EXPECT_EQ(table_.RecordCount(), 0) << c.name;
    }
    EXPECT_FALSE(after);
}

TEST_F(StreamedRuns, OffsetsResumeARunWhereItLeftOff) {
    const std::string text = "h1 h2\r\na 1\r\n\r\n\"b\r\nx\" 2\r\nc 3\r\nd 4";
    for (const bool gz : {false, true}) {
        qel_.SetSourceFileName(Write(gz ? Gzip(text) : text));
        qel_.SetCompression(gz ? cmGzip : cmNone);
        qel_.SetRecordSeparator(rsCRLF);
        qel_.SetStartOffset(0);
        qel_.SetRowFirst(2);
        qel_.SetRowFieldNames(1);
        qel_.SetReadChunkSize(4);
        std::vector<std::pair<std::int64_t, std::int64_t>> offsets;
        Strings lines;
        qel_.OnBeforeRecordEvent = [&](TQelBaseComponent&, const std::string&, Variant&, bool&) {
            offsets.emplace_back(qel_.CurrentRecordStart(), qel_.CurrentRecordEnd());
            lines.emplace_back(qel_.CurrentLine());
        };
        Run();
        ASSERT_EQ(lines, (Strings{"a 1", "\"b\r\nx\" 2", "c 3", "d 4"})) << gz;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(text.substr(static_cast<std::size_t>(offsets[i].first), lines[i].size()),
                      lines[i]);
        }
        EXPECT_EQ(offsets.back().second, static_cast<std::int64_t>(text.size()));
        EXPECT_EQ(qel_.CurrentRecordEnd(), static_cast<std::int64_t>(text.size()));

        // Resumed after the second row: the records after it, numbered from there.
        qel_.OnBeforeRecordEvent = nullptr;
        qel_.SetStartOffset(offsets[1].second);
        qel_.SetRowFirst(1);
        qel_.SetRowFieldNames(0);
        EXPECT_EQ(Run(), "header h1 h2; count 2; result 1; c|3 d|4") << gz;
        // Past the end: nothing.
        qel_.SetStartOffset(1'000'000);
        EXPECT_EQ(Run(), "header h1 h2; count 0; result 1;") << gz;
    }
}

TEST_F(StreamedRuns, SourcesChangedDuringTheRunEndItOrGiveTheCountedRows) {
    std::string text;
    for (int i = 1; i <= 200; ++i) text += "r" + std::to_string(i) + " x\n";
    struct Case {
        const char* name;
        std::uintmax_t size;  // what the file is cut to after the third row; 0: it grows
        bool emptied;
    } cases[] = {{"shrinks", 100, false}, {"emptied", 0, true}, {"grows", 0, false}};
    // Rows evaluated ahead are read ahead, too: a change may then come after the helper has
    // read every counted record, and the run loads them all.
    for (const bool ahead : {false, true}) {
        for (const auto& c : cases) {
            const std::string path = Write(text);
            qel_.SetSourceFileName(path);
            qel_.SetReadChunkSize(16);
            qel_.SetEvaluateAhead(ahead);
            qel_.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool&) {
                if (s.Statistic().TotalImported() != 3) return;
                if (c.size > 0 || c.emptied) {
                    std::filesystem::resize_file(path, c.size);
                } else {
                    std::ofstream(path, std::ios::app) << "more x\n";
                }
            };
            Run();
            Strings rows;
            for (table_.First(); !table_.Eof(); table_.Next())
                rows.push_back(VarToStr(table_.Fields(0)->Value()) + "|" +
                               VarToStr(table_.Fields(1)->Value()));
            const std::string name = std::string(c.name) + (ahead ? " ahead" : "");
            EXPECT_EQ(qel_.Statistic().TotalCount(), 200) << name;
            const bool failed = qel_.Statistic().Result() == irFailed;
            if (c.size == 0 && !c.emptied) {
                EXPECT_EQ(qel_.Statistic().Result(), irExecuted) << name;
                EXPECT_EQ(rows.size(), 200u) << name;
            } else if (!ahead || failed) {
                // The rows read before the change, every one whole, then the run fails.
                EXPECT_EQ(qel_.Statistic().Result(), irFailed) << name;
                EXPECT_NE(qel_.LastError().find("changed while it was read"), std::string::npos)
                    << name;
                EXPECT_GE(rows.size(), 3u) << name;
                EXPECT_LT(rows.size(), 200u) << name;
            } else {
                EXPECT_EQ(qel_.Statistic().Result(), irExecuted) << name;
                EXPECT_EQ(rows.size(), 200u) << name;
            }
            for (std::size_t i = 0; i < rows.size(); ++i)
                EXPECT_EQ(rows[i], "r" + std::to_string(i + 1) + "|x") << name;
        }
    }
    qel_.OnAfterRecordEvent = nullptr;
    qel_.SetEvaluateAhead(true);
}

TEST_F(StreamedRuns, PipesAreCopiedForTheSecondPass) {
    std::string text;
    for (int i = 1; i <= 150'000; ++i) text += "p" + std::to_string(i) + "\tv\r\n";
    ASSERT_GT(text.size(), 1u << 20);  // beyond the copy held in memory
    qel_.SetFieldDelimiter(fdTab);
    qel_.SetRecordSeparator(rsCRLF);
    for (const std::size_t chunk : {std::size_t{7}, TQelFromText::kDefaultReadChunkSize}) {
        TrickleBuf pipe("skipped\r\n" + text);
        std::istream piped(&pipe);
        piped.ignore(9);
        qel_.SetReadChunkSize(chunk);
        for (table_.First(); !table_.Eof();) table_.Delete();
        qel_.ImportFromStream(piped);
        EXPECT_EQ(qel_.Statistic().TotalCount(), 150'000);
        EXPECT_EQ(table_.RecordCount(), 150'000);
        table_.First();
        EXPECT_EQ(VarToStr(table_.Fields(0)->Value()), "p1");
        EXPECT_TRUE(piped.eof());  // left at its end, as a whole read leaves it
    }
}

}  // namespace
}  // namespace qel
