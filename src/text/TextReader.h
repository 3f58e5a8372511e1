// Reading delimited and fixed-width text: the source bytes in one buffer, records cut from it
// and kept as offsets into that buffer, and the fields of one record located by position.
// Text is bytes: UTF-8 passes untouched and a NUL byte is an ordinary character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qel {

// Frees a text buffer's memory. Large buffers are anonymous mappings with transparent huge pages
// requested (filling 170 MB of fresh 4 KB pages costs far more than the read itself); small
// ones come from the heap.
struct TextBufferRelease {
    std::size_t mapped = 0;  // length of the mapping; 0 for heap memory
    void operator()(char* p) const;
};

// The whole content of a source, read with one read into one buffer. A file is read from its
// start, a stream from its current position to its end.
class TTextBuffer {
  public:
    // Raises EFOpenError "Cannot open file %s" when the file cannot be opened or is a directory,
    // EInOutError when reading fails part-way. The file is closed in every case.
    void LoadFile(const std::string& fileName);
    // Raises EInOutError when the stream is broken or a read fails.
    void LoadStream(std::istream& stream);
    void Assign(std::string_view text);
    void Clear();

    std::string_view View() const { return {data_.get(), size_}; }
    std::size_t Size() const { return size_; }

  private:
    void Reserve(std::size_t capacity);

    std::unique_ptr<char, TextBufferRelease> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The text without the end marks (#26, #27) that trail it.
std::string_view StripEndMarks(std::string_view text);

// A record: its first byte and its length within the text it was cut from.
struct TRecordRange {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    friend bool operator==(const TRecordRange&, const TRecordRange&) = default;
};

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
    // Whether the scanning search (memchr over the separator's first byte and the qualifier)
    // is used; it is, unless the separator contains the qualifier.
    bool Scanning() const { return scanning_; }

  private:
    bool SeparatorAt(std::size_t p) const;
    std::size_t FindSeparator(std::size_t from);
    std::size_t FindQualifier(std::size_t from);
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
    // Cached results of the last searches; valid while not behind the search start.
    std::size_t nextSeparator_ = 0;
    std::size_t nextQualifier_ = 0;
    bool separatorKnown_ = false;
    bool qualifierKnown_ = false;
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

// Cuts the text (after removing its trailing end marks) and replaces `kept` with the records
// numbered RowFirst..RowLast, as offsets into `text`. The record numbered RowFieldNames is
// copied to `headerLine`; an empty text leaves it unchanged. Cutting stops once RowLast
// records are kept, or once no later record could be kept or become the header.
void ReadRecords(std::string_view text, const TRecordRules& rules, std::string& headerLine,
                 std::vector<TRecordRange>& kept);

// The kept records of a source: the source's bytes and the records' offsets into them.
class TTextLines {
  public:
    int Count() const { return static_cast<int>(ranges_.size()); }
    bool Empty() const { return ranges_.empty(); }
    // Record i (0-based); "List index out of bounds (%d)" outside 0..Count()-1.
    std::string_view operator[](int index) const;
    void Clear();

    TTextBuffer& Buffer() { return buffer_; }
    std::vector<TRecordRange>& Ranges() { return ranges_; }
    // Keeps only the bytes of the kept records when they are less than half of the buffer
    // (a short row range of a large source), so the rest of the source is not held.
    void Compact();

  private:
    TTextBuffer buffer_;
    std::vector<TRecordRange> ranges_;
};

// Reads a whole source and keeps its records by the rules (see ReadRecords). The stream is
// read from its current position to its end; the file from its start.
void ReadLines(const TRecordRules& rules, std::string& headerLine, std::istream& stream,
               TTextLines& lines);
void ReadLines(const TRecordRules& rules, std::string& headerLine, const std::string& fileName,
               TTextLines& lines);

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
// line has no fields.
void SplitDelimited(std::string_view line, char delimiter, char qualifier,
                    std::vector<TFieldPosition>& fields);

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
