// Reading delimited and fixed-width text: records cut from the bytes of a source a chunk at a
// time, the rules that keep records of a row range, and the fields of one record located by
// position. Text is bytes: UTF-8 passes untouched and a NUL byte is an ordinary character.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qel {

// The text without the end marks (#26, #27) that trail it.
std::string_view StripEndMarks(std::string_view text);

// A record: its first byte and its length within the text it was cut from.
struct TRecordRange {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    friend bool operator==(const TRecordRange&, const TRecordRange&) = default;
};

// Finds either of two byte values in a text, 64 bytes at a time: the positions of the bytes in
// a block of the text are one 64-bit mask, so that the many short searches of cutting records
// (a few qualifiers and one separator in a line of a log) cost a few instructions each.
class TByteFinder {
  public:
    TByteFinder() = default;
    TByteFinder(const char* text, std::size_t size, char first, char second)
        : text_(text), size_(size), first_(first), second_(second) {}
    // The first position at or after `from` that holds either byte; the text's size when none.
    std::size_t Find(std::size_t from) {
        const std::size_t block = from & ~std::size_t{63};
        if (block == block_ && from < size_) {
            const std::uint64_t m = mask_ & (~std::uint64_t{0} << (from - block));
            if (m != 0) return block + static_cast<std::size_t>(std::countr_zero(m));
        }
        return FindBeyond(from);
    }

  private:
    std::size_t FindBeyond(std::size_t from);
    std::uint64_t BlockMask(std::size_t block) const;

    const char* text_ = nullptr;
    std::size_t size_ = 0;
    char first_ = '\0';
    char second_ = '\0';
    std::size_t block_ = std::numeric_limits<std::size_t>::max();  // where mask_ starts
    std::uint64_t mask_ = 0;
};

// Whether a record separator can match at all: it is not empty and holds no NUL byte.
inline bool SeparatorUsable(std::string_view separator) {
    return !separator.empty() && separator.find('\0') == std::string_view::npos;
}

// Cuts a text into records at a separator of any length. A separator inside a quoted stretch
// ends the record only when the qualifier stands right before it; a qualifier anywhere opens
// a stretch, which a qualifier followed by the delimiter (or any qualifier when there is no
// delimiter) closes. A separator that is empty or holds a NUL byte never matches. A qualifier
// or delimiter of #0 means none.
class TRecordCutter {
  public:
    TRecordCutter(std::string_view text, std::string_view separator, char qualifier,
                  char delimiter);
    // The next record; false once the text is used up. A text that ends with the separator
    // gives no empty record after it.
    bool Next(TRecordRange& record);
    // Whether the scanning search (over the separator's first byte and the qualifier) is used; it
    // is, unless the separator contains the qualifier.
    bool Scanning() const { return scanning_; }
    // Where the next record starts: just past the separator of the last one.
    std::size_t Position() const { return pos_; }

  private:
    bool SeparatorAt(std::size_t p) const {
        const std::size_t k = separator_.size();
        if (!separatorUsable_ || p >= size_ || size_ - p < k) return false;
        return k == 1 ? text_[p] == separator_[0] : MultiByteSeparatorAt(p);
    }
    bool MultiByteSeparatorAt(std::size_t p) const;
    bool NextScanning(TRecordRange& record);
    bool NextStepwise(TRecordRange& record);

    const char* text_;
    std::size_t size_;
    std::string_view separator_;
    char qualifier_;
    char delimiter_;
    bool separatorUsable_;
    bool scanning_;
    std::size_t pos_ = 0;
    TByteFinder finder_;  // the separator's first byte and the qualifier
};

// Which records are kept. Records are numbered from 1 in text order; every record takes a
// number, also one that is dropped as blank and the header record.
struct TRecordRules {
    bool SkipEmptyRow = true;  // records of blanks and control characters only are dropped
    std::int32_t RowFieldNames = 1;
    std::int32_t RowFirst = 1;
    std::int32_t RowLast = std::numeric_limits<std::int32_t>::max();
    char Delimiter = '\t';
    char Qualifier = '"';
    std::string_view Separator = "\r\n";
};

// The keeping rules applied to records offered one by one in text order.
class TRecordKeeper {
  public:
    explicit TRecordKeeper(const TRecordRules& rules);
    // Numbers the next record and says whether it is kept. The record numbered RowFieldNames
    // is copied to `headerLine` unless that is null.
    bool Offer(std::string_view record, std::string* headerLine);
    // No later record can be kept or become the header line: RowLast records are kept, or the
    // numbers have passed both RowLast and RowFieldNames.
    bool Done() const { return done_; }
    std::int64_t Kept() const { return kept_; }
    std::int64_t Numbered() const { return number_; }  // the records offered so far

  private:
    bool skipEmpty_;
    std::int64_t first_;
    std::int64_t last_;
    std::int64_t header_;
    std::int64_t number_ = 0;
    std::int64_t kept_ = 0;
    bool done_ = false;
};

// Cuts the text (after removing its trailing end marks) and replaces `kept` with the records
// numbered RowFirst..RowLast, as offsets into `text`. The record numbered RowFieldNames is
// copied to `headerLine`; an empty text leaves it unchanged. Cutting stops once RowLast
// records are kept, or once no later record could be kept or become the header.
void ReadRecords(std::string_view text, const TRecordRules& rules, std::string& headerLine,
                 std::vector<TRecordRange>& kept);

class TByteInput;

// Cuts the records of a byte input as TRecordCutter cuts a whole text, holding only a chunk
// of it: a record may cross any number of chunks and be of any length (the buffer grows to
// hold it). The end marks that trail the input are removed, as StripEndMarks does.
//
// A record's bytes stay valid until the next call of Next, or, once Pin is called for it,
// until the call of Next after the next record is pinned (two buffers take turns then).
class TRecordStream {
  public:
    // Reads `input` from where it stands; `origin` is the offset of that byte in the input,
    // which the record offsets count from. At most `limit` bytes are read; when `limitEnds`,
    // the limit counts as the end of the input (its end marks are removed), else records are
    // cut as the bytes before it give them.
    TRecordStream(TByteInput& input, std::string_view separator, char qualifier, char delimiter,
                  std::size_t chunkSize, std::uint64_t origin = 0,
                  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max(),
                  bool limitEnds = true);
    TRecordStream(const TRecordStream&) = delete;
    TRecordStream& operator=(const TRecordStream&) = delete;

    // The next record; false once the input is used up.
    bool Next(std::string_view& record);
    // Keeps the last record's bytes valid past the next call of Next (see above).
    void Pin() { pinned_ = current_; }
    // The offsets of the last record: its first byte, and just past its separator (the input's
    // end for a last record without one).
    std::uint64_t RecordStart() const { return recordStart_; }
    std::uint64_t RecordEnd() const { return recordEnd_; }
    // The offset just past the last record handed out; once Next has returned false, the
    // offset of the input's end (or of the limit).
    std::uint64_t Position() const { return position_; }
    // Whether the input ended before the limit; a last record cut off by that early end is
    // not handed out.
    bool EndedShort() const { return endedShort_; }
    // Starts over from the first record without reading again when no byte has been let go
    // yet (the input so far fits in the buffer); false otherwise.
    bool Restart();

  private:
    void Refill(std::size_t keepFrom);
    void Cut(std::size_t from);

    TByteInput& input_;
    std::string separator_;
    char qualifier_;
    char delimiter_;
    std::size_t chunkSize_;
    std::uint64_t origin_;
    std::uint64_t limit_;
    bool limitEnds_;
    std::vector<char> buffers_[2];
    int current_ = 0;
    int pinned_ = -1;
    std::size_t size_ = 0;      // bytes in the current buffer
    std::size_t solidEnd_ = 0;  // just past the last byte that is no end mark
    std::uint64_t base_ = 0;    // input offset of the current buffer's first byte
    std::uint64_t read_ = 0;    // bytes read from the input
    std::size_t cutFrom_ = 0;   // where the cutter's text starts in the buffer
    TRecordCutter cutter_{{}, {}, '\0', '\0'};
    bool ended_ = false;
    bool endedShort_ = false;
    bool dropped_ = false;  // bytes of the input have been let go
    std::uint64_t recordStart_ = 0;
    std::uint64_t recordEnd_ = 0;
    std::uint64_t position_ = 0;
};

// What the counting pass over a source found.
struct TRecordCount {
    std::int64_t Kept = 0;       // the records the keeper kept
    std::uint64_t Position = 0;  // just past the last record cut, as TRecordStream::Position
    bool ToTheEnd = false;       // the input was read to its end
};

// The counting pass: offers the records of `stream`, which reads `input`, to `keeper` until it
// is done or the input ends, the header line going to `headerLine`. A large input that can be
// shared (ByteInput ShareFrom) is counted in two halves at once when only blank records can be
// dropped past the first half: the second half, from just after the first separator past the
// middle, on a thread of its own. Its count stands only when the first half's records end
// exactly there (the separator may stand inside a quoted stretch); otherwise the first half is
// counted on to the end. Either way the result is the one counting alone gives. `stream` is
// left where the first half's count stopped. Inputs smaller than `halvesFrom` bytes are
// counted in one pass.
TRecordCount CountRecords(TByteInput& input, TRecordStream& stream, TRecordKeeper& keeper,
                          const TRecordRules& rules, std::size_t chunkSize, std::string& headerLine,
                          std::uint64_t halvesFrom = std::uint64_t{16} << 20);

// A field of a line: first and last byte, 1-based and inclusive. End < Start is an empty field.
// Positions are not limited in size: a line may be of any length.
struct TFieldPosition {
    std::size_t Start = 0;
    std::size_t End = 0;
    friend bool operator==(const TFieldPosition&, const TFieldPosition&) = default;
};

// Splits a delimited line. Runs of delimiters are not merged; a leading or trailing delimiter
// gives an empty field; a qualifier is dropped only as a field's first or last character;
// doubled qualifiers stay as they are. A delimiter of #0 makes the line one field; an empty
// line has no fields. With `maxFields`, gives only that many first fields, the same as without,
// and stops looking where they end.
void SplitDelimited(std::string_view line, char delimiter, char qualifier,
                    std::vector<TFieldPosition>& fields,
                    std::size_t maxFields = static_cast<std::size_t>(-1));

// Cuts a line into consecutive pieces of the given display widths. Each piece starts where the
// cut before it left off (the first at 1) and ends as the widths, the qualifier and the
// delimiter say; cutting stops at the end of the widths or when the next start reaches the
// line's length.
void SplitFixed(std::string_view line, std::span<const int> widths, char delimiter, char qualifier,
                std::vector<TFieldPosition>& pieces);

// The bytes Start..End of the line (fewer when the line is shorter, none when End < Start).
std::string_view FieldText(std::string_view line, const TFieldPosition& field);

// The value of a source reference for a line:
// - "Text": the whole line;
// - "Text<a>-<b>" (fixed mode only): bytes a..b;
// - "Field<n>" (delimited mode): the n-th field; out of range, or in fixed mode, the empty text;
// - anything else: the reference itself, as a constant text.
// A value that ends with the delimiter loses that one character ("Text" excepted).
// The value goes to `out`, whose buffer is reused.
void ResolveSourceReference(std::string_view reference, std::string_view line, bool fixed,
                            std::span<const TFieldPosition> fields, char delimiter,
                            std::string& out);
std::string ResolveSourceReference(std::string_view reference, std::string_view line, bool fixed,
                                   std::span<const TFieldPosition> fields, char delimiter);

// A source reference read once, for reading its value from many lines.
struct TSourceReference {
    enum TKind : std::uint8_t {
        srLine,      // "Text"
        srRange,     // bytes Start..End
        srField,     // field number Start, or the reference itself when that field starts at 0
        srConstant,  // Reference itself (empty for a field that can never exist)
    };
    TKind Kind = srConstant;
    std::int64_t Start = 0;
    std::int64_t End = 0;
    std::string Reference;
};
TSourceReference ParseSourceReference(std::string_view reference, bool fixed);
// The value of a parsed reference for a line, as ResolveSourceReference gives it.
void ReadSourceReference(const TSourceReference& reference, std::string_view line,
                         std::span<const TFieldPosition> fields, char delimiter, std::string& out);

}  // namespace qel
