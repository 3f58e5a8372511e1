// The component model: construction, settings and their couplings, Assign, free-notification,
// the about box and the base behaviour of the simple virtual operations.
#include "engine/QelBase.h"

#include "core/TextUtil.h"
#include "engine/ImpCnst.h"
#include "engine/WindowSystem.h"

namespace qel {

// ---------------------------------------------------------------------------------------------
// TQelStrings

void TQelStrings::Insert(int index, std::string line) {
    CheckListIndex(index, Count() + 1);  // a line may be inserted after the last
    lines_.insert(lines_.begin() + index, std::move(line));
}

void TQelStrings::Delete(int index) {
    CheckListIndex(index, Count());
    lines_.erase(lines_.begin() + index);
}

const std::string& TQelStrings::operator[](int index) const {
    CheckListIndex(index, Count());
    return lines_[static_cast<std::size_t>(index)];
}

std::string& TQelStrings::operator[](int index) {
    CheckListIndex(index, Count());
    return lines_[static_cast<std::size_t>(index)];
}

std::string TQelStrings::Text() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += '\n';
    }
    return out;
}

void TQelStrings::SetText(std::string_view text) {
    lines_.clear();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines_.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines_.emplace_back(text.substr(start));
}

// ---------------------------------------------------------------------------------------------
// TQelStatistic, TQelLoadCondition

void TQelStatistic::Assign(const TPersistent& source) {
    const auto* s = dynamic_cast<const TQelStatistic*>(&source);
    if (!s) return TPersistent::Assign(source);
    totalCount_ = s->totalCount_;
    totalImported_ = s->totalImported_;
    totalAdded_ = s->totalAdded_;
    totalDeleted_ = s->totalDeleted_;
    totalUpdated_ = s->totalUpdated_;
    totalErrors_ = s->totalErrors_;
    updateStep_ = s->updateStep_;
    lastAction_ = s->lastAction_;
    result_ = s->result_;
}

void TQelLoadCondition::Assign(const TPersistent& source) {
    const auto* s = dynamic_cast<const TQelLoadCondition*>(&source);
    if (!s) return TPersistent::Assign(source);
    loadWhen_ = s->loadWhen_;
    skipIf_ = s->skipIf_;
}

// ---------------------------------------------------------------------------------------------
// TQelBaseComponent: life cycle

TQelBaseComponent::TQelBaseComponent(TComponent* owner) : TComponent(owner) {
    columns_ = std::make_unique<TQelColumns>(this);
    mappings_.Clear();
    loadCondition_ = std::make_unique<TQelLoadCondition>();
    mode_ = imAppend;
    characterSet_ = csiANSI_WINDOWS;
    // The data formats start from the regional settings.
    dataFormats_ = std::make_unique<TQelDataFormats>();
    dataFormats_->SetBooleanTrue(impcnst::STrue);
    dataFormats_->SetBooleanFalse(impcnst::SFalse);
    animatedStatus_ = true;
    titleStatus_ = impcnst::SImporting;
    options_ = TQelOptions::All();
    SetTextQualifier(tqQuot);
    SetTextQualifierCustom('"');
    SetFieldDelimiter(fdTab);
    SetFieldDelimiterCustom('\t');
    SetRecordSeparator(rsCRLF);
    ApplyDefaultSourceFileName();
    rowFirst_ = 1;
    rowLast_ = 2147483647;
    rowFieldNames_ = 1;
    statistic_ = std::make_unique<TQelStatistic>();
    statistic_->SetUpdateStep(1);
    sourceKind_ = 2;
    trimSpaces_ = tsNoTrim;
    abortOnProblem_ = true;
}

TQelBaseComponent::~TQelBaseComponent() {
    // A dialog left over from an interrupted run goes first (it holds views of the host).
    progressDialog_.reset();
    mappings_.Clear();
    loadCondition_.reset();
    statistic_.reset();
    dataFormats_.reset();
    columns_.reset();
    if (dataSet_) RemoveFreeNotification(dataSet_);
    dataSet_ = nullptr;
}

void TQelBaseComponent::SetDataSet(TDataSet* v) {
    if (v == dataSet_) return;
    // The destination of a loop in progress stays watched until the loop ends.
    if (dataSet_ && dataSet_ != runDataSet_) RemoveFreeNotification(dataSet_);
    dataSet_ = v;
    if (dataSet_) FreeNotification(dataSet_);
}

void TQelBaseComponent::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove || component == nullptr) return;
    if (component == dataSet_) dataSet_ = nullptr;
    if (component == runDataSet_) runDataSet_ = nullptr;
}

EImportError TQelBaseComponent::DestinationGoneError() {
    return EImportError(Format(impcnst::SPropertyNotSpecified, "DataSet"));
}

TDataSet& TQelBaseComponent::Destination() const {
    TDataSet* ds = looping_ ? runDataSet_ : dataSet_;
    if (!ds) throw DestinationGoneError();
    return *ds;
}

void TQelBaseComponent::CheckDestination() const {
    if (DestinationGone()) throw DestinationGoneError();
}

void TQelBaseComponent::Assign(const TPersistent& source) {
    const auto* s = dynamic_cast<const TQelBaseComponent*>(&source);
    if (!s) return TPersistent::Assign(source);
    sourceKind_ = s->sourceKind_;
    animatedStatus_ = s->animatedStatus_;
    SetDataSet(s->dataSet_);
    datasetKeys_ = s->datasetKeys_;
    fixed_ = s->fixed_;
    useDisplayNames_ = s->useDisplayNames_;
    SetRecordSeparatorCustom(s->recordSeparatorCustom_);
    SetFieldDelimiterCustom(s->fieldDelimiterCustom_);
    SetTextQualifierCustom(s->textQualifierCustom_);
    rowFirst_ = s->rowFirst_;
    rowLast_ = s->rowLast_;
    rowFieldNames_ = s->rowFieldNames_;
    // The lines are appended; a snapshot keeps an assignment to itself finite.
    const std::vector<std::string> lines = s->mappings_.Lines();
    for (const std::string& line : lines) mappings_.Add(line);
    mode_ = s->mode_;
    options_ = s->options_;
    sourceFileName_ = s->sourceFileName_;
    characterSet_ = s->characterSet_;
    trimSpaces_ = s->trimSpaces_;
    dashNull_ = s->dashNull_;
    evaluateAhead_ = s->evaluateAhead_;
    titleStatus_ = s->titleStatus_;
    OnCreateStructure = s->OnCreateStructure;
    OnErrorEvent = s->OnErrorEvent;
    OnGetCellParams = s->OnGetCellParams;
    OnBeforeRecordEvent = s->OnBeforeRecordEvent;
    OnAfterRecordEvent = s->OnAfterRecordEvent;
    OnLocateRecord = s->OnLocateRecord;
    statistic_->Assign(*s->statistic_);
    dataFormats_->Assign(*s->dataFormats_);
    loadCondition_->Assign(*s->loadCondition_);
}

void TQelBaseComponent::ShowAbout() {
    WindowSystem().ShowTitledMessage(impcnst::SAboutTitle, impcnst::SAboutText);
}

// ---------------------------------------------------------------------------------------------
// Text layout: the named choice and its character follow each other.

void TQelBaseComponent::SetFieldDelimiter(TQelFieldDelimiter v) {
    switch (v) {
        case fdNone:
            fieldDelimiterCustom_ = '\0';
            break;
        case fdCustom:
            break;
        case fdTab:
            fieldDelimiterCustom_ = '\t';
            break;
        case fdSemicolon:
            fieldDelimiterCustom_ = ';';
            break;
        case fdComma:
            fieldDelimiterCustom_ = ',';
            break;
        case fdSpace:
            fieldDelimiterCustom_ = ' ';
            break;
    }
    fieldDelimiter_ = v;
}

void TQelBaseComponent::SetFieldDelimiterCustom(char v) {
    switch (v) {
        case '\0':
            fieldDelimiter_ = fdNone;
            break;
        case '\t':
            fieldDelimiter_ = fdTab;
            break;
        case ' ':
            fieldDelimiter_ = fdSpace;
            break;
        case ',':
            fieldDelimiter_ = fdComma;
            break;
        case ';':
            fieldDelimiter_ = fdSemicolon;
            break;
        default:
            fieldDelimiter_ = fdCustom;
            break;
    }
    fieldDelimiterCustom_ = v;
}

void TQelBaseComponent::SetTextQualifier(TQelTextQualifier v) {
    switch (v) {
        case tqNone:
            textQualifierCustom_ = '\0';
            break;
        case tqCustom:
            break;
        case tqQuot:
            textQualifierCustom_ = '"';
            break;
        case tqApos:
            textQualifierCustom_ = '\'';
            break;
    }
    textQualifier_ = v;
}

void TQelBaseComponent::SetTextQualifierCustom(char v) {
    switch (v) {
        case '\0':
            textQualifier_ = tqNone;
            break;
        case '"':
            textQualifier_ = tqQuot;
            break;
        case '\'':
            textQualifier_ = tqApos;
            break;
        default:
            textQualifier_ = tqCustom;
            break;
    }
    textQualifierCustom_ = v;
}

void TQelBaseComponent::SetRecordSeparator(TQelRecordSeparator v) {
    switch (v) {
        case rsCustom:
            break;
        case rsCRLF:
            recordSeparatorCustom_ = "\r\n";
            break;
        case rsCR:
            recordSeparatorCustom_ = "\r";
            break;
        case rsLF:
            recordSeparatorCustom_ = "\n";
            break;
    }
    recordSeparator_ = v;
}

void TQelBaseComponent::SetRecordSeparatorCustom(std::string v) {
    if (v == "\r\n") {
        recordSeparator_ = rsCRLF;
    } else if (v == "\r") {
        recordSeparator_ = rsCR;
    } else if (v == "\n") {
        recordSeparator_ = rsLF;
    } else {
        recordSeparator_ = rsCustom;
    }
    recordSeparatorCustom_ = std::move(v);
}

// ---------------------------------------------------------------------------------------------
// Base behaviour of the simple virtual operations

void TQelBaseComponent::OpenSource() {
    if (dataFormats_->UseRegionalSettings()) dataFormats_->RefreshFromRegionalSettings();
}

bool TQelBaseComponent::CheckRequired(std::string& name) {
    if (dataSet_ == nullptr) {
        name = "DataSet";
        return true;
    }
    return false;
}

std::string TQelBaseComponent::GetFileFilter() {
    return impcnst::SAllFilesFilter;
}

void TQelBaseComponent::GetColumnValue(int, Variant& value) {
    value = Variant::Null();
}

void TQelBaseComponent::GetSourceValue(const Variant& name, Variant& value) {
    value = name;
}

}  // namespace qel
