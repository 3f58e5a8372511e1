// The import component TQelBaseComponent: a non-visual engine that reads rows from a source,
// turns each row into the values of one destination record through mapping lines, and writes
// the records into a dataset in one of five modes. A source subclass (the text source) supplies
// the rows; this class holds the settings, the events, the run and the record writing.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Component.h"
#include "core/Errors.h"
#include "core/Variant.h"
#include "dataset/DataSet.h"
#include "engine/QelDataFormats.h"
#include "engine/QelStat.h"

namespace qel {

// ---------------------------------------------------------------------------------------------
// Enumerations

enum TImportMode : std::uint8_t { imAppend, imUpdate, imAppendUpdate, imDelete, imCopy };

// Whether a mode locates each row's record by its key values (DatasetKeys): update,
// append-or-update and delete do; append and copy never search.
constexpr bool ModeUsesKeys(TImportMode mode) {
    return mode == imUpdate || mode == imAppendUpdate || mode == imDelete;
}

enum TQelOption : std::uint8_t {
    soShowMessage,         // bit value 1
    soExtendedStatistic,   // 2
    soSkipEmptyRow,        // 4
    soUseAnimatedControl,  // 8
    soWaitCursor           // 16
};

// A set of TQelOption flags; flag i is bit value 1 << i.
class TQelOptions {
  public:
    constexpr TQelOptions() = default;
    constexpr TQelOptions(std::initializer_list<TQelOption> flags) {
        for (TQelOption f : flags) bits_ = static_cast<std::uint8_t>(bits_ | Bit(f));
    }
    static constexpr TQelOptions FromBits(std::uint8_t bits) {
        TQelOptions o;
        o.bits_ = static_cast<std::uint8_t>(bits & kAllBits);
        return o;
    }
    static constexpr TQelOptions All() { return FromBits(kAllBits); }

    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool Contains(TQelOption f) const { return (bits_ & Bit(f)) != 0; }
    constexpr TQelOptions& Include(TQelOption f) {
        bits_ = static_cast<std::uint8_t>(bits_ | Bit(f));
        return *this;
    }
    constexpr TQelOptions& Exclude(TQelOption f) {
        bits_ = static_cast<std::uint8_t>(bits_ & ~Bit(f));
        return *this;
    }
    friend constexpr bool operator==(TQelOptions a, TQelOptions b) { return a.bits_ == b.bits_; }

  private:
    static constexpr std::uint8_t kAllBits = 31;
    static constexpr std::uint8_t Bit(TQelOption f) { return static_cast<std::uint8_t>(1u << f); }
    std::uint8_t bits_ = 0;
};

enum TQelCharacterSet : std::uint8_t { csiANSI_WINDOWS, csiASCII_MSDOS };
enum TQelTrimSpaces : std::uint8_t { tsNoTrim, tsTrimRight, tsTrimLeft, tsTrimLeftRight };

// Trims a source value in place as `how` says (bytes up to blank are trimmed): most values have
// nothing to trim, and those that do keep their buffer.
inline void TrimSourceText(std::string& t, TQelTrimSpaces how) {
    if (how == tsTrimRight || how == tsTrimLeftRight) {
        std::size_t e = t.size();
        while (e > 0 && static_cast<unsigned char>(t[e - 1]) <= 32) --e;
        t.resize(e);
    }
    if (how == tsTrimLeft || how == tsTrimLeftRight) {
        std::size_t b = 0;
        while (b < t.size() && static_cast<unsigned char>(t[b]) <= 32) ++b;
        t.erase(0, b);
    }
}
enum TQelAction : std::uint8_t { iaUnknown, iaAdd, iaUpdate, iaDelete };
enum TQelResult : std::uint8_t { irUnknown, irExecuted, irCanceled, irFailed };
enum TQelFieldDelimiter : std::uint8_t { fdNone, fdCustom, fdTab, fdSemicolon, fdComma, fdSpace };
enum TQelTextQualifier : std::uint8_t { tqNone, tqCustom, tqQuot, tqApos };
enum TQelRecordSeparator : std::uint8_t { rsCustom, rsCRLF, rsCR, rsLF };
enum TQelDataType : std::uint8_t {
    itString,
    itInteger,
    itFloat,
    itDateTime,
    itDate,
    itTime,
    itBoolean
};

// ---------------------------------------------------------------------------------------------
// A list of text lines (the mapping lines).

class TQelStrings {
  public:
    TQelStrings() = default;
    TQelStrings(std::initializer_list<std::string> lines) : lines_(lines) {}

    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Insert(int index, std::string line);  // "List index out of bounds (%d)"
    void Delete(int index);                    // "List index out of bounds (%d)"
    void Clear() { lines_.clear(); }
    const std::string& operator[](int index) const;  // "List index out of bounds (%d)"
    std::string& operator[](int index);
    const std::vector<std::string>& Lines() const { return lines_; }

    // The lines, each followed by a line feed.
    std::string Text() const;
    // Replaces the lines by the text cut at CR LF, CR or LF (a final line end adds no line).
    void SetText(std::string_view text);
    // Replaces the lines by a copy of `other`'s.
    void Assign(const TQelStrings& other) {
        if (&other != this) lines_ = other.lines_;
    }

    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }

  private:
    std::vector<std::string> lines_;
};

// ---------------------------------------------------------------------------------------------
// Owned objects

// The counters and the outcome of the last run.
class TQelStatistic : public TPersistent {
  public:
    const char* ClassName() const override { return "TQelStatistic"; }
    // Another TQelStatistic: copies all nine values.
    void Assign(const TPersistent& source) override;

    int TotalCount() const { return totalCount_; }
    void SetTotalCount(int v) { totalCount_ = v; }
    int TotalImported() const { return totalImported_; }
    void SetTotalImported(int v) { totalImported_ = v; }
    int TotalAdded() const { return totalAdded_; }
    void SetTotalAdded(int v) { totalAdded_ = v; }
    int TotalDeleted() const { return totalDeleted_; }
    void SetTotalDeleted(int v) { totalDeleted_ = v; }
    int TotalUpdated() const { return totalUpdated_; }
    void SetTotalUpdated(int v) { totalUpdated_ = v; }
    int TotalErrors() const { return totalErrors_; }
    void SetTotalErrors(int v) { totalErrors_ = v; }
    // Rows between two refreshes of the progress dialog.
    int UpdateStep() const { return updateStep_; }
    void SetUpdateStep(int v) { updateStep_ = v; }
    TQelAction LastAction() const { return lastAction_; }
    void SetLastAction(TQelAction v) { lastAction_ = v; }
    TQelResult Result() const { return result_; }
    void SetResult(TQelResult v) { result_ = v; }

  private:
    int totalCount_ = 0;
    int totalImported_ = 0;
    int totalAdded_ = 0;
    int totalDeleted_ = 0;
    int totalUpdated_ = 0;
    int totalErrors_ = 0;
    int updateStep_ = 1;
    TQelAction lastAction_ = iaUnknown;
    TQelResult result_ = irUnknown;
};

// Row filter expressions: a row is loaded when LoadWhen is true and SkipIf is not.
class TQelLoadCondition : public TPersistent {
  public:
    const char* ClassName() const override { return "TQelLoadCondition"; }
    void Assign(const TPersistent& source) override;

    const std::string& LoadWhen() const { return loadWhen_; }
    void SetLoadWhen(std::string v) { loadWhen_ = std::move(v); }
    const std::string& SkipIf() const { return skipIf_; }
    void SetSkipIf(std::string v) { skipIf_ = std::move(v); }

  private:
    std::string loadWhen_;
    std::string skipIf_;
};

class TQelColumns;

// One column of the source: what default mappings match against destination field names.
class TQelColumn : public TPersistent {
  public:
    explicit TQelColumn(TQelColumns* collection) : collection_(collection) {}
    const char* ClassName() const override { return "TQelColumn"; }
    // Another TQelColumn: copies the six properties inside one update bracket of the owning
    // collection.
    void Assign(const TPersistent& source) override;

    TQelColumns* Collection() const { return collection_; }
    int Index() const;

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string v) { fieldName_ = std::move(v); }
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string v) { caption_ = std::move(v); }
    TQelDataType DataType() const { return dataType_; }
    void SetDataType(TQelDataType v) { dataType_ = v; }
    std::int32_t Size() const { return size_; }
    void SetSize(std::int32_t v) { size_ = v; }
    std::int32_t Precision() const { return precision_; }
    void SetPrecision(std::int32_t v) { precision_ = v; }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v) { alignment_ = v; }

  private:
    TQelColumns* collection_;
    std::string fieldName_;
    std::string caption_;
    TQelDataType dataType_ = itString;
    std::int32_t size_ = 0;
    std::int32_t precision_ = 0;
    TAlignment alignment_ = taLeftJustify;
};

// The ordered collection of the source's columns.
class TQelColumns : public TPersistent {
  public:
    explicit TQelColumns(TComponent* owner) : owner_(owner) {}
    TQelColumns(const TQelColumns&) = delete;
    TQelColumns& operator=(const TQelColumns&) = delete;
    const char* ClassName() const override { return "TQelColumns"; }

    TComponent* Owner() const { return owner_; }
    // Appends a column with the initial values and returns it.
    TQelColumn& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TQelColumn& Items(int index) const;  // "List index out of bounds (%d)"
    TQelColumn& operator[](int index) const { return Items(index); }
    void Delete(int index);
    void Clear();
    int IndexOf(const TQelColumn* column) const;

    // Change notification: sent after Add, Delete, Clear and a column's Assign, once per
    // outermost update bracket.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    std::function<void()> OnChange;

  private:
    void Changed();

    TComponent* owner_;
    std::vector<std::unique_ptr<TQelColumn>> items_;
    int updateCount_ = 0;
};

// The column type for a destination field type.
TQelDataType FieldTypeToDataType(TFieldType type);

// ---------------------------------------------------------------------------------------------
// Events

class TQelBaseComponent;

using TNotifyEvent = std::function<void(TQelBaseComponent& Sender)>;
using TQelOnCreateStructure = std::function<void(TQelBaseComponent& Sender, TQelColumns& Columns)>;
// Field may be nullptr (an entry whose destination field the dataset lacks).
using TGetCellParamsEvent =
    std::function<void(TQelBaseComponent& Sender, TField* Field, Variant& Value)>;
// Fields is always empty; Values is the row's RowValues table.
using TBeforeRecordEvent = std::function<void(TQelBaseComponent& Sender, const std::string& Fields,
                                              Variant& Values, bool& Accept)>;
using TLocateRecordEvent =
    std::function<void(TQelBaseComponent& Sender, const std::string& KeyFields,
                       const Variant& Values, bool& Exist, bool& ExecuteLocate)>;
// The value is read-only: the handler can veto the write but not change what is written.
using TBeforeFieldEvent = std::function<void(TQelBaseComponent& Sender, TField* Field,
                                             const Variant& Values, bool& Accept)>;
using TErrorEvent =
    std::function<void(TQelBaseComponent& Sender, const Exception& Error, bool& Abort)>;
using TAfterRecordEvent = std::function<void(TQelBaseComponent& Sender, bool& Abort)>;
using TQelSpecificationEvent =
    std::function<void(TQelBaseComponent& Sender, std::string& AFileName)>;

// Element 3 of a run-table entry (a field or row-value index) as a number.
inline std::int32_t EntryIndex(const Variant& v) {
    return v.kind() == Variant::vkInteger ? v.IntegerValue() : v.AsInteger();
}

// Run state of the value evaluation (parsers kept per expression text); defined with the
// evaluation code.
struct TQelEvalState;
struct TQelEvalSlot;
struct TQelEvalStateDeleter {
    void operator()(TQelEvalState* p) const;
};

// Evaluation ahead of the row loop (engine/QelAhead.h).
class TQelAhead;
class TQelRowReader;
struct TQelAheadRow;
struct TQelAheadRules;
struct TQelAheadDeleter {
    void operator()(TQelAhead* p) const;
};

// ---------------------------------------------------------------------------------------------
// The import component

class TQelBaseComponent : public TComponent {
  public:
    explicit TQelBaseComponent(TComponent* owner = nullptr);
    ~TQelBaseComponent() override;
    const char* ClassName() const override { return "TQelBaseComponent"; }

    // Another TQelBaseComponent: copies the settings, the mapping lines (appended) and six of
    // the event handlers. Anything else: "Cannot assign a %s to a %s".
    void Assign(const TPersistent& source) override;

    // Shows the about box.
    void ShowAbout();

    // --- The run ------------------------------------------------------------------------------

    // Performs one whole import run. The required-setting checks and the opening of the source
    // raise to the caller; every later error becomes the outcome irFailed. Raises at once when
    // a run of this component is already in progress.
    void Execute();
    // Runs Execute with `stream` as the source instead of SourceFileName. The stream is used by
    // this run only; the caller keeps ownership.
    virtual void ImportFromStream(std::istream& stream);
    bool Running() const { return running_; }
    // The message of the error that made the last run fail (irFailed); empty after a run that
    // did not fail, and while a run is in progress. Errors that Execute raises to its caller
    // (the checks, the opening of the source) are not kept here.
    const std::string& LastError() const { return lastError_; }

    // --- Virtual steps (base behaviour; a source subclass overrides the source half) -----------

    virtual void ImportData();
    virtual void OpenSource();  // refreshes DataFormats from the regional settings when asked to
    virtual void CloseSource() {}
    virtual void PrepareRowValues();
    virtual void PrepareMappings();
    // Computes the current row's values; returns whether the row is to be written.
    virtual bool ImportRow();
    virtual void FirstRow() {}
    virtual void NextRow() {}
    virtual bool HasRow() { return false; }
    virtual int RowCount() { return 0; }
    virtual void GetColumnValue(int position, Variant& value);
    // The value of a source reference for the current row; the base returns the name itself.
    virtual void GetSourceValue(const Variant& name, Variant& value);
    // A name the source answers for every row without reading the name again: BindSourceName
    // gives a handle for it, or -1 to have it asked through GetSourceValue every time, and
    // GetBoundSourceValue gives for the current row exactly what GetSourceValue gives for the
    // name. A source that overrides GetSourceValue answers bindings of its own or none.
    virtual int BindSourceName(const std::string& /*name*/) { return -1; }
    virtual void GetBoundSourceValue(int /*handle*/, Variant& /*value*/) {}
    // Whether a source text is as a whole one reference of this source: EvaluateValue then
    // resolves it as it is and never parses it as an expression. The base knows no references.
    virtual bool IsWholeReference(const std::string& /*text*/) const { return false; }
    // Computes the value of an expression for the current row (the destination field is
    // CurrentFieldIndex; fieldIndex is passed along but not used).
    virtual void EvaluateValue(const Variant& expr, int fieldIndex, Variant& result);
    virtual bool ShortSourceNames() { return false; }
    // True with the name of the first required setting that is missing.
    virtual bool CheckRequired(std::string& name);
    virtual bool DecodesValues() { return false; }
    virtual std::string GetDefaultExt() { return ".QEL"; }
    virtual std::string GetFileFilter();
    virtual void CreateColumns();
    virtual void CreateMappings();

    // Answers the expression language's questions about names: fetches the source value,
    // trims it, turns empty text into null, performs LOOKUP, converts for the current field.
    // Args holds the eleven argument slots of a call (slot i is argument i + 1), ArgCount the
    // number of arguments written (0 for a bare name); Value holds the name on entry.
    void ResolveSourceName(const std::string& Eval, const Variant* Args, int ArgCount,
                           Variant& Value, bool& Done);

    // --- Progress dialog ------------------------------------------------------------------------

    bool ShowProgress(const std::string& caption, const std::string& status,
                      const std::string& cancelText, const std::string& processedTitle,
                      const std::string& errorsTitle, const std::string& addedTitle,
                      const std::string& updatedTitle, const std::string& deletedTitle,
                      bool animation, bool counters);
    void SetProgressRange(int minimum, int maximum, int position);
    bool UpdateProgress(const std::string& status, int processed, int errors, int added,
                        int deleted, int updated);
    bool CloseProgress();
    bool ProgressCanceled() const;
    TfrmQelProcess* ProgressDialog() const { return progressDialog_.get(); }

    // --- Settings -------------------------------------------------------------------------------

    std::string About() const { return {}; }
    void SetAbout(const std::string&) {}  // the text is discarded
    bool AbortOnProblem() const { return abortOnProblem_; }
    void SetAbortOnProblem(bool v) { abortOnProblem_ = v; }
    bool AnimatedStatus() const { return animatedStatus_; }
    void SetAnimatedStatus(bool v) { animatedStatus_ = v; }
    TQelCharacterSet CharacterSet() const { return characterSet_; }
    void SetCharacterSet(TQelCharacterSet v) { characterSet_ = v; }
    TQelDataFormats& DataFormats() { return *dataFormats_; }
    const TQelDataFormats& DataFormats() const { return *dataFormats_; }
    void SetDataFormats(const TQelDataFormats& v) { dataFormats_->Assign(v); }
    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* v);
    const std::string& DatasetKeys() const { return datasetKeys_; }
    void SetDatasetKeys(std::string v) { datasetKeys_ = std::move(v); }
    TQelLoadCondition& LoadCondition() { return *loadCondition_; }
    const TQelLoadCondition& LoadCondition() const { return *loadCondition_; }
    void SetLoadCondition(const TQelLoadCondition& v) { loadCondition_->Assign(v); }
    TQelStrings& Mappings() { return mappings_; }
    const TQelStrings& Mappings() const { return mappings_; }
    void SetMappings(const TQelStrings& v) { mappings_.Assign(v); }
    TImportMode Mode() const { return mode_; }
    void SetMode(TImportMode v) { mode_ = v; }
    TQelOptions Options() const { return options_; }
    void SetOptions(TQelOptions v) { options_ = v; }
    const std::string& TitleStatus() const { return titleStatus_; }
    void SetTitleStatus(std::string v) { titleStatus_ = std::move(v); }
    TQelStatistic& Statistic() { return *statistic_; }
    const TQelStatistic& Statistic() const { return *statistic_; }
    void SetStatistic(const TQelStatistic& v) { statistic_->Assign(v); }
    const std::string& SpecificationDir() const { return specificationDir_; }
    void SetSpecificationDir(std::string v) { specificationDir_ = std::move(v); }
    bool UseDisplayNames() const { return useDisplayNames_; }
    void SetUseDisplayNames(bool v) { useDisplayNames_ = v; }
    TQelTrimSpaces TrimSpaces() const { return trimSpaces_; }
    void SetTrimSpaces(TQelTrimSpaces v) { trimSpaces_ = v; }
    // A value that is exactly "-" becomes null for a numeric destination field (a web log's
    // missing size), right after OnGetCellParams. Off by default.
    bool DashNull() const { return dashNull_; }
    void SetDashNull(bool v) { dashNull_ = v; }
    // Whether a second thread may read and evaluate rows ahead of the row loop where nothing
    // observable can differ from evaluating them in the loop (engine/QelAhead.h). On by
    // default; off keeps the whole run on the calling thread.
    bool EvaluateAhead() const { return evaluateAhead_; }
    void SetEvaluateAhead(bool v) { evaluateAhead_ = v; }
    TQelColumns& Columns() { return *columns_; }
    const TQelColumns& Columns() const { return *columns_; }

    // Text layout (published by the text source). The named choice and the character or
    // string it stands for follow each other.
    const std::string& SourceFileName() const { return sourceFileName_; }
    void SetSourceFileName(std::string v) { sourceFileName_ = std::move(v); }
    bool Fixed() const { return fixed_; }
    void SetFixed(bool v) { fixed_ = v; }
    std::int32_t RowFirst() const { return rowFirst_; }
    void SetRowFirst(std::int32_t v) { rowFirst_ = v; }
    std::int32_t RowLast() const { return rowLast_; }
    void SetRowLast(std::int32_t v) { rowLast_ = v; }
    std::int32_t RowFieldNames() const { return rowFieldNames_; }
    void SetRowFieldNames(std::int32_t v) { rowFieldNames_ = v; }
    TQelFieldDelimiter FieldDelimiter() const { return fieldDelimiter_; }
    void SetFieldDelimiter(TQelFieldDelimiter v);
    char FieldDelimiterCustom() const { return fieldDelimiterCustom_; }
    void SetFieldDelimiterCustom(char v);
    TQelTextQualifier TextQualifier() const { return textQualifier_; }
    void SetTextQualifier(TQelTextQualifier v);
    char TextQualifierCustom() const { return textQualifierCustom_; }
    void SetTextQualifierCustom(char v);
    TQelRecordSeparator RecordSeparator() const { return recordSeparator_; }
    void SetRecordSeparator(TQelRecordSeparator v);
    const std::string& RecordSeparatorCustom() const { return recordSeparatorCustom_; }
    void SetRecordSeparatorCustom(std::string v);

    // --- Run state ------------------------------------------------------------------------------

    std::uint8_t SourceKind() const { return sourceKind_; }
    // The stream of the run started by ImportFromStream, or nullptr.
    std::istream* SourceStream() const { return sourceStream_; }
    const Variant& KeyEntries() const {
        if (entriesPending_) TakePendingEntries();
        return keyEntries_;
    }
    const Variant& MappingEntries() const {
        if (entriesPending_) TakePendingEntries();
        return mappingEntries_;
    }
    const Variant& RowValues() const { return rowValues_; }
    int CurrentFieldIndex() const { return currentFieldIndex_; }
    bool AbortRequested() const { return abortRequested_; }
    // Rows of the last (or running) loop whose values were evaluated ahead.
    std::int64_t RowsEvaluatedAhead() const { return aheadRows_; }

    // --- Events ---------------------------------------------------------------------------------

    TNotifyEvent OnBeforeExecute;
    TNotifyEvent OnAfterExecute;
    TQelOnCreateStructure OnCreateStructure;
    TGetCellParamsEvent OnGetCellParams;
    TBeforeRecordEvent OnBeforeRecordEvent;
    TLocateRecordEvent OnLocateRecord;
    TNotifyEvent OnBeforeUpdate;
    TBeforeFieldEvent OnBeforeFieldUpdate;
    TErrorEvent OnErrorEvent;
    TAfterRecordEvent OnAfterRecordEvent;
    // Kept for hosts; no operation of the component fires them.
    TQelSpecificationEvent OnBeforeLoadSpecification;
    TQelSpecificationEvent OnAfterLoadSpecification;
    TQelSpecificationEvent OnBeforeSaveSpecification;
    TQelSpecificationEvent OnAfterSaveSpecification;

  protected:
    void Notification(TComponent* component, TOperation operation) override;

    // Sets SourceFileName to "Qel" and the class's default extension. The constructor calls it
    // with this class's extension; a subclass with another extension calls it again from its
    // own constructor.
    void ApplyDefaultSourceFileName() { SetSourceFileName("Qel" + GetDefaultExt()); }
    void SetSourceKind(std::uint8_t v) { sourceKind_ = v; }

    // The destination dataset; raises the required-setting error when there is none.
    TDataSet& Destination() const;
    // Whether the destination of the row loop in progress has been destroyed (by a handler).
    bool DestinationGone() const { return looping_ && runDataSet_ == nullptr; }
    // Raises the required-setting error naming DataSet when the destination is gone; called
    // after every host event of a row, which may destroy it.
    void CheckDestination() const;
    static EImportError DestinationGoneError();

    // Ahead evaluation. A source whose rows another thread can read gives a reader of its
    // rows from row `first` of the loop on, answering its bound names `handles` as
    // GetBoundSourceValue would, or nullptr (the base: none). The source lends the reader its
    // reading state and must not touch it until the helper is stopped (StopAhead, DropAhead).
    virtual std::unique_ptr<TQelRowReader> AheadReader(const std::vector<int>& handles,
                                                       std::int64_t first);
    // Called by the source's ImportRow before the base step with the position of the row in
    // hand (0 for the first row of the loop): true when that row's values were evaluated
    // ahead, so that the base step takes them and the source need not split the row.
    bool PrepareAheadRow(std::int64_t position);
    // Whether a helper exists, running or stopped with rows the source has not taken yet.
    bool AheadActive() const { return ahead_ != nullptr; }
    // The row at `position` the helper read (waiting for it while the helper runs), whose
    // record the source takes; nullptr when the helper has not got it.
    TQelAheadRow* AheadRow(std::int64_t position);
    // Stops the helper; its values are no longer used, the rows it read stay for AheadRow.
    void StopAhead() noexcept;
    // Stops the helper and throws away what it read; gives what reading raised in it.
    std::exception_ptr DropAhead() noexcept;

    // Run tables, for source subclasses that build their own. After a row evaluated ahead the
    // key and mapping entries take its values only when asked (entriesPending_).
    mutable Variant keyEntries_;
    mutable Variant mappingEntries_;
    Variant rowValues_;
    int currentFieldIndex_ = -1;
    bool abortRequested_ = false;

  private:
    // The counters, the emptying of an imCopy destination and the loop over the rows.
    void RunRows();
    // Writes the record of an accepted row.
    void WriteRecord();
    // Remembers a write of the run that succeeded (its action raised a counter).
    void RememberWrite(TQelAction action);
    // The destination may lose writes after they succeeded (a failed commit): takes back the
    // counters of as many of the latest remembered writes as it reports lost since last asked,
    // and counts them in TotalErrors.
    void TakeBackLostWrites(const TDataSet& ds);
    // Offers a row error to OnErrorEvent; true when the handler asks to stop the run.
    bool OfferError(const std::exception_ptr& error);
    // Starts and ends the per-run state of the value evaluation.
    void BeginEvaluation();
    void EndEvaluation();
    void BeginRowEvaluation();
    // Fills in what a parser slot of the run evaluates through: the plain name of its text
    // and the source's binding of that name.
    void BindSlot(TQelEvalSlot& slot, char separator);
    // The steps of ResolveSourceName after the source value is fetched: trimming, empty text
    // as null, LOOKUP and SUBSTITUTE, the conversion for the current field.
    void FinishSourceValue(const Variant* Args, int ArgCount, Variant& Value);
    // The text of load condition `slot` (0 LoadWhen, 1 SkipIf) as a value, kept between rows.
    const Variant& ConditionText(int slot, const std::string& text);
    // Starts the helper after a row evaluated in the loop, when the run allows it.
    void TryStartAhead();
    // Whether everything the helper's work follows is as it was when it started.
    bool AheadStillValid() const;
    // The RowValues entry a mapping entry takes its value from and the field that entry is
    // bound to; false when the entry writes no field.
    bool MappedField(const Variant& entry, std::size_t& rowIndex, int& fieldIndex) const;
    // The fields whose record the helper may prepare (rules.Fields), and aheadAssigned_.
    void PlanAheadFields(const TDataSet& ds, TQelAheadRules& rules);
    // ImportRow for a row whose values were evaluated ahead.
    bool ImportAheadRow();
    // Gives the key and mapping entries the values of the row evaluated ahead.
    void TakePendingEntries() const;
    // The key entries only: the mapping entries stay pending.
    void TakePendingKeys() const;

    // Owned objects.
    std::unique_ptr<TQelColumns> columns_;
    TQelStrings mappings_;
    std::unique_ptr<TQelLoadCondition> loadCondition_;
    std::unique_ptr<TQelDataFormats> dataFormats_;
    std::unique_ptr<TQelStatistic> statistic_;

    // Settings.
    bool abortOnProblem_ = true;
    bool animatedStatus_ = true;
    TQelCharacterSet characterSet_ = csiANSI_WINDOWS;
    TDataSet* dataSet_ = nullptr;
    std::string datasetKeys_;
    TImportMode mode_ = imAppend;
    TQelOptions options_ = TQelOptions::All();
    std::string titleStatus_;
    std::string specificationDir_;
    bool useDisplayNames_ = false;
    TQelTrimSpaces trimSpaces_ = tsNoTrim;
    bool dashNull_ = false;
    bool evaluateAhead_ = true;
    std::string sourceFileName_;
    bool fixed_ = false;
    std::int32_t rowFirst_ = 1;
    std::int32_t rowLast_ = 2147483647;
    std::int32_t rowFieldNames_ = 1;
    TQelFieldDelimiter fieldDelimiter_ = fdTab;
    char fieldDelimiterCustom_ = '\t';
    TQelTextQualifier textQualifier_ = tqQuot;
    char textQualifierCustom_ = '"';
    TQelRecordSeparator recordSeparator_ = rsCRLF;
    std::string recordSeparatorCustom_ = "\r\n";

    // Run state.
    std::uint8_t sourceKind_ = 2;
    std::istream* sourceStream_ = nullptr;
    std::unique_ptr<TfrmQelProcess> progressDialog_;
    bool running_ = false;
    std::string lastError_;
    // The destination of the row loop in progress (cleared if it is destroyed meanwhile).
    TDataSet* runDataSet_ = nullptr;
    bool looping_ = false;
    // Destination names of RowValues entries that were looked up by name and not found, so a
    // row does not search the dataset's fields again for the same name.
    std::vector<std::string> unboundNames_;
    std::array<Variant, 2> conditionTexts_;  // LoadWhen and SkipIf as values, kept between rows
    std::unique_ptr<TQelEvalState, TQelEvalStateDeleter> eval_;
    Variant rowValue_;  // a row's value while it is evaluated, its buffer kept between rows
    // Ahead evaluation: the helper, the position of the row in hand, whether the helper was
    // tried in this loop, the values of the row in hand when they came from the helper, and
    // the rows taken from it.
    std::unique_ptr<TQelAhead, TQelAheadDeleter> ahead_;
    std::int64_t aheadPosition_ = -1;
    bool aheadTried_ = false;
    std::vector<Variant>* aheadValues_ = nullptr;
    // The record the helper prepared for the row in hand (nullptr when it did not), and the
    // fields such a record sets.
    std::vector<Variant>* aheadFields_ = nullptr;
    TFieldFlags aheadAssigned_;
    Variant keyValues_;  // the key values of the row being written
    std::int64_t aheadRows_ = 0;
    // The entries have not taken the values of the row evaluated ahead yet (the key entries
    // too when pendingKeys_).
    mutable bool entriesPending_ = false;
    mutable bool pendingKeys_ = false;
    // What the helper's work follows, as it was when it started.
    struct AheadGuard {
        TDataSet* DataSet = nullptr;
        std::uint64_t FieldsVersion = 0;
        std::uint64_t FormatsVersion = 0;
        char DecimalSeparator = '.';
        TQelTrimSpaces TrimSpaces = tsNoTrim;
        bool DashNull = false;
        bool Fixed = false;
        char Delimiter = 0;
        char Qualifier = 0;
    } aheadGuard_;
    // The run's writes that succeeded, newest last, as runs of one action: the action in the
    // top two bits, the run's length below. A run of one mode is one entry.
    std::vector<std::uint32_t> writes_;
    std::int64_t lostSeen_ = 0;  // the destination's LostRecords when last asked
};

}  // namespace qel
