#include "text/Qel2TXT.h"

#include <algorithm>
#include <utility>

#include "core/Errors.h"
#include "core/TextUtil.h"
#include "engine/ImpCnst.h"
#include "engine/QelAhead.h"

namespace qel {

namespace {
constexpr const char* kSourceChanged = "The source %s changed while it was read";
}  // namespace

TQelFromText::TQelFromText(TComponent* owner) : TQelBaseComponent(owner) {
    // The base constructor could only see its own extension.
    ApplyDefaultSourceFileName();
    SetSourceKind(kTextSourceKind);
}

TQelFromText::~TQelFromText() {
    // The helper reads this source's record stream: it stops before the stream goes.
    TakeBackStream();
}

void TQelFromText::TakeBackStream() noexcept {
    DropAhead();
    lent_ = false;
}

std::string TQelFromText::GetFileFilter() {
    std::string filter;
    for (const char* part : {impcnst::STextFile, "|*.TXT|", impcnst::SCommaDelimitedFile, "|*.CSV|",
                             impcnst::SDataFile, "|*.DAT|", impcnst::SPrnTextFile, "|*.PRN|",
                             impcnst::STabularFile, "|*.TAB|", impcnst::SAsciiFile, "|*.ASC|"}) {
        filter += part;
    }
    return filter + TQelBaseComponent::GetFileFilter();
}

bool TQelFromText::CheckRequired(std::string& name) {
    if (TQelBaseComponent::CheckRequired(name)) return true;
    if (SourceFileName().empty()) {
        name = "SourceFileName";
        return true;
    }
    return false;
}

TRecordRules TQelFromText::Rules() const {
    TRecordRules rules;
    rules.SkipEmptyRow = Options().Contains(soSkipEmptyRow);
    rules.RowFieldNames = RowFieldNames();
    rules.RowFirst = RowFirst();
    rules.RowLast = RowLast();
    rules.Delimiter = FieldDelimiterCustom();
    rules.Qualifier = TextQualifierCustom();
    rules.Separator = RecordSeparatorCustom();
    return rules;
}

std::string TQelFromText::SourceName() const {
    return SourceStream() != nullptr ? std::string("stream") : SourceFileName();
}

void TQelFromText::OpenInput() {
    std::unique_ptr<TByteInput> raw = SourceStream() != nullptr ? OpenStreamInput(*SourceStream())
                                                                : OpenFileInput(SourceFileName());
    input_ = Decompressed(std::move(raw), compression_, SourceName());
    if (startOffset_ > 0) input_->Skip(static_cast<std::uint64_t>(startOffset_));
}

void TQelFromText::OpenSource() {
    TQelBaseComponent::OpenSource();
    CloseSource();
    currentLine_ = {};
    fieldPositions_.clear();
    fieldsPending_ = false;
    currentRow_ = 0;
    currentStart_ = currentEnd_ = startOffset_;
    // Bindings serve one run's evaluations.
    bindings_.clear();
    bindingIndex_.clear();
    // The settings of this run; a handler that changes them later does not change the reading.
    separator_ = RecordSeparatorCustom();
    rules_ = Rules();
    rules_.Separator = separator_;
    try {
        OpenInput();
        // The counting pass: the kept records and the header line.
        auto counter =
            std::make_unique<TRecordStream>(*input_, rules_.Separator, rules_.Qualifier,
                                            rules_.Delimiter, chunkSize_, StartOffsetBytes());
        TRecordKeeper keeper(rules_);
        const TRecordCount count =
            CountRecords(*input_, *counter, keeper, rules_, chunkSize_, headerLine_);
        rowCount_ = static_cast<int>(std::min<std::int64_t>(count.Kept, INT32_MAX));
        countedBytes_ = count.Position - StartOffsetBytes();
        countedToTheEnd_ = count.ToTheEnd;
        // A count in halves left the stream in the middle: the run reads from the start.
        if (count.Position != counter->Position()) counter.reset();
        StartReading(std::move(counter));
    } catch (...) {
        CloseSource();
        throw;
    }
}

std::uint64_t TQelFromText::StartOffsetBytes() const {
    return static_cast<std::uint64_t>(startOffset_);
}

void TQelFromText::StartReading(std::unique_ptr<TRecordStream> counted) {
    TakeBackStream();
    readError_ = nullptr;
    fetched_ = -1;
    fetchedLine_ = {};
    if (counted != nullptr && counted->Restart()) {
        // The whole counted input is still at hand.
        records_ = std::move(counted);
    } else {
        counted.reset();
        records_.reset();
        input_->Rewind();
        if (startOffset_ > 0) input_->Skip(StartOffsetBytes());
        records_ = std::make_unique<TRecordStream>(*input_, rules_.Separator, rules_.Qualifier,
                                                   rules_.Delimiter, chunkSize_, StartOffsetBytes(),
                                                   countedBytes_, countedToTheEnd_);
    }
    keeper_ = std::make_unique<TRecordKeeper>(rules_);
}

void TQelFromText::Fetch(int row) {
    if (row == fetched_) return;
    // A helper dropped before it gave back what it read leaves the stream past fetched_.
    if (lent_ && !AheadActive()) StartReading(nullptr);
    if (row < fetched_) StartReading(nullptr);
    while (fetched_ < row) {
        if (lent_) {
            if (TQelAheadRow* ahead = AheadRow(fetched_ + 1)) {
                std::string& held = held_[heldTurn_ ^= 1];
                held.swap(ahead->Record);
                ++fetched_;
                fetchedLine_ = held;
                fetchedStart_ = ahead->Start;
                fetchedEnd_ = ahead->End;
                continue;
            }
            // The helper has no more rows: the stream goes on from where it left off.
            readError_ = DropAhead();
            lent_ = false;
        }
        if (readError_) std::rethrow_exception(readError_);
        std::string_view record;
        bool kept = false;
        while (!kept && !keeper_->Done() && records_->Next(record))
            kept = keeper_->Offer(record, nullptr);
        if (!kept) throw EInOutError(Format(kSourceChanged, SourceName()));
        records_->Pin();
        ++fetched_;
        fetchedLine_ = record;
        fetchedStart_ = static_cast<std::int64_t>(records_->RecordStart());
        fetchedEnd_ = static_cast<std::int64_t>(records_->RecordEnd());
    }
}

void TQelFromText::CloseSource() {
    TakeBackStream();
    SplitCurrentLine();  // the fields of a row evaluated ahead describe the copy too
    // The row last loaded stays readable after the run (an OnAfterExecute handler may ask for
    // it): its text is copied out of the buffer that is released here, and its field positions
    // still describe the copy.
    lastLine_.assign(currentLine_);
    currentLine_ = lastLine_;
    fetchedLine_ = {};
    records_.reset();
    keeper_.reset();
    if (input_ != nullptr) {
        // A stream is left at its end; a failure to get there changes nothing that was read.
        try {
            input_->Finish();
        } catch (const std::exception&) {
        }
        input_.reset();
    }
    rowCount_ = 0;
    fetched_ = -1;
}

bool TQelFromText::HasRow() {
    const std::int64_t span = static_cast<std::int64_t>(RowLast()) - RowFirst();
    if (currentRow_ < 0 || currentRow_ >= rowCount_ || currentRow_ > span) return false;
    Fetch(currentRow_);
    return true;
}

std::string_view TQelFromText::CurrentRecord() {
    CheckListIndex(currentRow_, rowCount_);
    Fetch(currentRow_);
    return fetchedLine_;
}

bool TQelFromText::ImportRow() {
    currentLine_ = CurrentRecord();
    currentStart_ = fetchedStart_;
    currentEnd_ = fetchedEnd_;
    fieldsPending_ = false;
    if (PrepareAheadRow(currentRow_)) {
        // Split later, if at all, as it would have been split now.
        fieldsPending_ = !Fixed();
        pendingDelimiter_ = FieldDelimiterCustom();
        pendingQualifier_ = TextQualifierCustom();
    } else if (!Fixed()) {
        SplitFields(nullptr, false, FieldDelimiterCustom(), fieldPositions_, currentLine_,
                    TextQualifierCustom());
    }
    return TQelBaseComponent::ImportRow();
}

void TQelFromText::SplitCurrentLine() const {
    if (!fieldsPending_) return;
    fieldsPending_ = false;
    SplitDelimited(currentLine_, pendingDelimiter_, pendingQualifier_, fieldPositions_);
}

namespace {

// The kept records after the current one, read from the run's record stream on the helper
// thread, split and answered as the source answers bound names, with a split buffer and the
// references of its own.
class TTextRowReader : public TQelRowReader {
  public:
    TTextRowReader(TRecordStream& records, TRecordKeeper& keeper, std::int64_t next,
                   std::int64_t rows, bool fixed, char delimiter, char qualifier,
                   std::vector<TSourceReference> references)
        : records_(records),
          keeper_(keeper),
          next_(next),
          rows_(rows),
          fixed_(fixed),
          delimiter_(delimiter),
          qualifier_(qualifier),
          references_(std::move(references)) {
        // Only fields up to the last one a reference names are located.
        maxFields_ = 0;
        for (const TSourceReference& r : references_) {
            if (r.Kind == TSourceReference::srField)
                maxFields_ = std::max(maxFields_, static_cast<std::size_t>(r.Start));
        }
    }

    bool ReadRow(TQelAheadRow& row) override {
        if (next_ >= rows_) return false;
        std::string_view record;
        bool kept = false;
        while (!kept && !keeper_.Done() && records_.Next(record))
            kept = keeper_.Offer(record, nullptr);
        // A counted record that is missing: the loop reads on by itself and finds out.
        if (!kept) return false;
        ++next_;
        row.Record.assign(record);
        row.Start = static_cast<std::int64_t>(records_.RecordStart());
        row.End = static_cast<std::int64_t>(records_.RecordEnd());
        line_ = row.Record;
        if (!fixed_) SplitDelimited(line_, delimiter_, qualifier_, fields_, maxFields_);
        return true;
    }
    void ReadBound(int handle, std::string& out) override {
        out.clear();
        ReadSourceReference(references_[static_cast<std::size_t>(handle)], line_, fields_,
                            delimiter_, out);
    }

  private:
    TRecordStream& records_;
    TRecordKeeper& keeper_;
    std::int64_t next_;
    std::int64_t rows_;
    bool fixed_;
    char delimiter_;
    char qualifier_;
    std::vector<TSourceReference> references_;
    std::size_t maxFields_ = 0;
    std::string_view line_;
    std::vector<TFieldPosition> fields_;
};

}  // namespace

std::unique_ptr<TQelRowReader> TQelFromText::AheadReader(const std::vector<int>& handles,
                                                         std::int64_t first) {
    if (lent_ || records_ == nullptr || keeper_ == nullptr || first != fetched_ + 1 ||
        currentRow_ != fetched_) {
        return nullptr;
    }
    std::vector<TSourceReference> references(bindings_.size());
    for (int handle : handles) {
        if (handle < 0 || static_cast<std::size_t>(handle) >= bindings_.size()) return nullptr;
        const Binding& b = bindings_[static_cast<std::size_t>(handle)];
        if (b.Fixed != Fixed()) return nullptr;
        references[static_cast<std::size_t>(handle)] = b.Reference;
    }
    auto reader = std::make_unique<TTextRowReader>(*records_, *keeper_, first, rowCount_, Fixed(),
                                                   FieldDelimiterCustom(), TextQualifierCustom(),
                                                   std::move(references));
    // The record in hand lives in the stream's buffer, which the helper reads on into.
    std::string& held = held_[heldTurn_ ^= 1];
    held.assign(fetchedLine_);
    fetchedLine_ = currentLine_ = held;
    lent_ = true;
    return reader;
}

void TQelFromText::GetSourceValue(const Variant& name, Variant& value) {
    SplitCurrentLine();
    const std::string reference = VarToStr(name);
    value.AssignText({});
    ResolveSourceReference(reference, currentLine_, Fixed(), fieldPositions_,
                           FieldDelimiterCustom(), value.MutableText());
}

bool TQelFromText::IsWholeReference(const std::string& text) const {
    return SourceKind() == kTextSourceKind && StartsWith(text, impcnst::STextPrefix);
}

int TQelFromText::BindSourceName(const std::string& name) {
    std::string key = name;
    key += Fixed() ? '\1' : '\0';
    auto [it, added] =
        bindingIndex_.try_emplace(std::move(key), static_cast<int>(bindings_.size()));
    if (added) bindings_.push_back({name, ParseSourceReference(name, Fixed()), Fixed()});
    return it->second;
}

void TQelFromText::GetBoundSourceValue(int handle, Variant& value) {
    SplitCurrentLine();
    const Binding& b = bindings_.at(static_cast<std::size_t>(handle));
    if (b.Fixed != Fixed()) {
        // The setting changed since the name was bound: read the name afresh.
        TQelFromText::GetSourceValue(Variant(b.Name), value);
        return;
    }
    value.AssignText({});
    ReadSourceReference(b.Reference, currentLine_, fieldPositions_, FieldDelimiterCustom(),
                        value.MutableText());
}

void TQelFromText::SplitFields(const TDataSet* dataSet, bool fixed, char delimiter,
                               std::vector<TFieldPosition>& positions, std::string_view line,
                               char qualifier) {
    if (!fixed) {
        SplitDelimited(line, delimiter, qualifier, positions);
        return;
    }
    positions.clear();
    if (dataSet == nullptr) return;
    std::vector<int> widths;
    widths.reserve(static_cast<std::size_t>(dataSet->FieldCount()));
    for (int i = 0; i < dataSet->FieldCount(); ++i)
        widths.push_back(dataSet->Fields(i)->DisplayWidth());
    SplitFixed(line, widths, delimiter, qualifier, positions);
}

void TQelFromText::CreateColumns() {
    TQelColumns& columns = Columns();
    if (RowFirst() <= 1) {
        // No header row before the data: one column per destination field, addressed by
        // position.
        TQelBaseComponent::CreateColumns();
        std::int64_t a = 1;
        for (int k = 0; k < columns.Count(); ++k) {
            TQelColumn& column = columns[k];
            if (!Fixed()) {
                column.SetCaption(impcnst::SFieldPrefix + IntToStr(k + 1));
            } else {
                const std::int64_t b = a + column.Size();
                column.SetCaption(impcnst::STextPrefix + IntToStr(a) + "-" + IntToStr(b));
                a = b + 1;
            }
        }
        return;
    }
    // The header line names the columns; empty pieces make no column but keep their number.
    const char qualifier = TextQualifierCustom();
    SplitFields(DataSet(), Fixed(), FieldDelimiterCustom(), pieces_, headerLine_, qualifier);
    for (std::size_t k = 0; k < pieces_.size(); ++k) {
        const TFieldPosition& piece = pieces_[k];
        std::string_view name = FieldText(headerLine_, piece);
        if (Fixed() && qualifier != '\0') {
            // Qualifiers go as in field splitting: one at either edge.
            if (!name.empty() && name.front() == qualifier) name.remove_prefix(1);
            if (!name.empty() && name.back() == qualifier) name.remove_suffix(1);
        }
        if (name.empty()) continue;
        TQelColumn& column = columns.Add();
        column.SetFieldName(std::string(name));
        column.SetDataType(itString);
        if (!Fixed()) {
            column.SetCaption(impcnst::SFieldPrefix + IntToStr(static_cast<std::int64_t>(k) + 1));
        } else {
            column.SetCaption(impcnst::STextPrefix +
                              IntToStr(static_cast<std::int64_t>(piece.Start)) + "-" +
                              IntToStr(static_cast<std::int64_t>(piece.End)));
            column.SetSize(static_cast<std::int32_t>(piece.End - piece.Start + 1));
        }
    }
}

void TQelFromText::CreateMappings() {
    const TDataSet* dataSet = DataSet();
    if (dataSet == nullptr) return;
    for (int c = 0; c < Columns().Count(); ++c) {
        const TQelColumn& column = Columns()[c];
        for (int i = 0; i < dataSet->FieldCount(); ++i) {
            const TField& field = *dataSet->Fields(i);
            if (SameText(field.FieldName(), column.FieldName()) ||
                (UseDisplayNames() && SameText(field.DisplayLabel(), column.FieldName()))) {
                Mappings().Add(field.FieldName() + "=" + column.Caption());
                break;
            }
        }
    }
}

}  // namespace qel
