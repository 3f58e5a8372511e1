// TQelFromText: the text-file source of the import component. It reads a delimited or
// fixed-width text file (or a stream; plain or gzip) a chunk at a time, cuts it into records,
// keeps the records of the row range and the header line, splits the current record into
// fields, and answers the source references "Text", "Field<n>" and "Text<a>-<b>" for the
// current row.
//
// Opening the source makes a counting pass over it (the same cutting and keeping rules, so
// RowCount and the header line are known before the first row); the run then reads it a second
// time, record by record, holding a chunk of it (and the longest record) rather than the file.
// The second pass reads the bytes the first one saw: a file that grew meanwhile gives the
// records that were counted, one that shrank or changed so that a counted record is missing
// ends the run with EInOutError "The source %s changed while it was read".
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/QelBase.h"
#include "text/ByteInput.h"
#include "text/TextReader.h"

namespace qel {

class TQelFromText : public TQelBaseComponent {
  public:
    // The SourceKind of a text source.
    static constexpr std::uint8_t kTextSourceKind = 2;

    explicit TQelFromText(TComponent* owner = nullptr);
    ~TQelFromText() override;
    const char* ClassName() const override { return "TQelFromText"; }

    // --- Source half of the run --------------------------------------------------------------

    std::string GetDefaultExt() override { return ".TXT"; }
    std::string GetFileFilter() override;
    // The dataset first, then a non-empty SourceFileName (checked also for a stream source).
    bool CheckRequired(std::string& name) override;
    // Opens the source (the run's stream, else SourceFileName), counts its kept records and
    // reads HeaderLine. A file that cannot be opened raises EFOpenError "Cannot open file %s";
    // damaged gzip data raises EInOutError (see Decompressed).
    void OpenSource() override;
    void CloseSource() override;
    void FirstRow() override { currentRow_ = 0; }
    void NextRow() override { ++currentRow_; }
    // Reads the record of CurrentRow when it is within the kept records and the row range; a
    // counted record that is no longer there raises EInOutError (the source changed).
    bool HasRow() override;
    int RowCount() override { return rowCount_; }
    // Loads the kept record numbered CurrentRow as CurrentLine and, unless Fixed, splits it;
    // then the base step.
    bool ImportRow() override;
    // The kept record numbered CurrentRow, read as ImportRow reads it (for a subclass that
    // looks at the record before the base step); valid until the next row is read.
    // "List index out of bounds (%d)" outside the kept records.
    std::string_view CurrentRecord();
    void GetSourceValue(const Variant& name, Variant& value) override;
    // Binds the names GetSourceValue answers. A subclass that answers names its own way (its
    // own GetSourceValue) overrides this too and binds its own names or none (-1).
    int BindSourceName(const std::string& name) override;
    void GetBoundSourceValue(int handle, Variant& value) override;
    // A text of a text source's kind that begins with "Text" is one reference: "Text" or a
    // character range "Text<a>-<b>" (Text12-20 is never a subtraction).
    bool IsWholeReference(const std::string& text) const override;
    void CreateColumns() override;
    void CreateMappings() override;

    // --- Reading settings ----------------------------------------------------------------------

    // How the source is stored; cmNone (the default) reads its bytes as they are.
    TQelCompression Compression() const { return compression_; }
    void SetCompression(TQelCompression v) { compression_ = v; }
    // The byte offset in the source (after decompression; for a stream, from its position when
    // the run starts) at which reading starts; 0 by default. The first record is cut from
    // there and records are numbered from there, so RowFirst, RowLast and RowFieldNames count
    // records from that offset: a run resumed at CurrentRecordEnd of an earlier run that must
    // not take its first record as the header sets RowFieldNames to 0. An offset past the end
    // gives no records.
    std::int64_t StartOffset() const { return startOffset_; }
    void SetStartOffset(std::int64_t v) { startOffset_ = v < 0 ? 0 : v; }
    // The size of the pieces the source is read in (tests use tiny ones; a record longer than
    // a piece is read whole all the same).
    std::size_t ReadChunkSize() const { return chunkSize_; }
    void SetReadChunkSize(std::size_t v) { chunkSize_ = v < 1 ? 1 : v; }
    static constexpr std::size_t kDefaultReadChunkSize = std::size_t{1} << 18;

    // --- Run members ---------------------------------------------------------------------------

    int CurrentRow() const { return currentRow_; }
    // The record last loaded by ImportRow; it stays after the source is closed.
    std::string_view CurrentLine() const { return currentLine_; }
    // The byte offsets of CurrentLine in the source (after decompression; counted as
    // StartOffset counts): its first byte, and just past the separator that ends it (the end
    // of the source for a last record without one), which is where the next record starts.
    // A run resumed with StartOffset = CurrentRecordEnd() goes on with the records after it.
    // Both are StartOffset until a record is loaded; they outlive the run.
    std::int64_t CurrentRecordStart() const { return currentStart_; }
    std::int64_t CurrentRecordEnd() const { return currentEnd_; }
    // The fields of CurrentLine in delimited mode; field n is entry n - 1.
    const std::vector<TFieldPosition>& FieldPositions() const {
        SplitCurrentLine();
        return fieldPositions_;
    }
    // The record numbered RowFieldNames, as last read; it outlives the run.
    const std::string& HeaderLine() const { return headerLine_; }

    // Cuts `line` into `positions`. Delimited (fixed false): the fields of the line. Fixed: one
    // piece per field of `dataSet`, by the fields' display widths; none without a dataset.
    static void SplitFields(const TDataSet* dataSet, bool fixed, char delimiter,
                            std::vector<TFieldPosition>& positions, std::string_view line,
                            char qualifier);

  protected:
    // Reads the records after the current one on the helper thread, from the run's record
    // stream, which the source lends it (see Fetch).
    std::unique_ptr<TQelRowReader> AheadReader(const std::vector<int>& handles,
                                               std::int64_t first) override;

  private:
    TRecordRules Rules() const;
    // Splits CurrentLine when a row evaluated ahead left it unsplit.
    void SplitCurrentLine() const;
    // Stops the helper and forgets what it read (before the record stream changes hands).
    void TakeBackStream() noexcept;
    std::string SourceName() const;
    // Opens the source's bytes, decompressed, at StartOffset.
    void OpenInput();
    std::uint64_t StartOffsetBytes() const;
    // The run's pass over the source: the counting pass's stream when it still holds the
    // whole input, else a new pass over the bytes the counting pass read.
    void StartReading(std::unique_ptr<TRecordStream> counted);
    // Reads on to the kept record numbered `row` (from the start when it lies behind). While
    // the helper holds the record stream, the records come from the helper's rows; once it
    // has none left, from the stream where the helper left off.
    void Fetch(int row);

    TQelCompression compression_ = cmNone;
    std::int64_t startOffset_ = 0;
    std::size_t chunkSize_ = kDefaultReadChunkSize;

    std::string separator_;
    TRecordRules rules_;  // Separator refers to separator_
    std::unique_ptr<TByteInput> input_;
    std::unique_ptr<TRecordStream> records_;
    std::unique_ptr<TRecordKeeper> keeper_;
    std::uint64_t countedBytes_ = 0;  // the bytes the counting pass read
    bool countedToTheEnd_ = false;    // the counting pass reached the end of the source
    int rowCount_ = 0;
    int fetched_ = -1;  // the kept record the run has read up to
    std::string_view fetchedLine_;
    std::int64_t fetchedStart_ = 0;
    std::int64_t fetchedEnd_ = 0;
    std::int64_t currentStart_ = 0;
    std::int64_t currentEnd_ = 0;
    // The fields of the current line; not yet split while fieldsPending_ is set (a row whose
    // values were evaluated ahead is split only when something asks for its fields).
    mutable std::vector<TFieldPosition> fieldPositions_;
    mutable bool fieldsPending_ = false;
    char pendingDelimiter_ = 0;
    char pendingQualifier_ = 0;
    // The record stream and keeper are lent to the helper thread.
    bool lent_ = false;
    // Records taken from the helper, two in turn (the previous one stays valid while the next
    // is fetched, as the stream's pinned record does).
    std::string held_[2];
    int heldTurn_ = 0;
    std::exception_ptr readError_;  // what reading raised in the helper, raised again by Fetch
    std::vector<TFieldPosition> pieces_;
    // Bound names, parsed for the fixed-width setting they were bound with.
    struct Binding {
        std::string Name;
        TSourceReference Reference;
        bool Fixed = false;
    };
    std::vector<Binding> bindings_;
    std::unordered_map<std::string, int> bindingIndex_;  // by name and fixed-width setting
    std::string headerLine_;
    std::string_view currentLine_;
    std::string lastLine_;  // CurrentLine's copy once the source's buffer is released
    int currentRow_ = 0;
};

}  // namespace qel
