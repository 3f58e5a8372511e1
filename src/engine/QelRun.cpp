// The run: Execute, the row loop ImportData and the base ImportRow.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/TextUtil.h"
#include "engine/CodePage.h"
#include "engine/ImpCnst.h"
#include "engine/QelBase.h"
#include "engine/WindowSystem.h"

namespace qel {

namespace {

// What an error that is no std::exception is reported as.
constexpr const char* kUnknownError = "Unknown error";

const char* OutcomeMessage(TQelResult outcome) {
    switch (outcome) {
        case irExecuted:
            return impcnst::SImportCompleted;
        case irCanceled:
            return impcnst::SImportCanceled;
        default:
            return impcnst::SImportFailed;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Execute

void TQelBaseComponent::Execute() {
    // A second run while one is in progress (a host button reached while the dialog pumps
    // messages) would tear the running run's state apart: refuse it before touching anything.
    if (running_) throw EImportError(impcnst::SImportRunning);
    running_ = true;
    struct RunningFlag {
        bool& flag;
        ~RunningFlag() { flag = false; }
    } runningFlag{running_};

    statistic_->SetResult(irUnknown);
    lastError_.clear();
    if (OnBeforeExecute) OnBeforeExecute(*this);
    std::string missing;
    if (CheckRequired(missing)) throw EImportError(Format(impcnst::SPropertyNotSpecified, missing));
    if (datasetKeys_.empty() && ModeUsesKeys(mode_)) {
        throw EImportError(Format(impcnst::SPropertyNotSpecified, "DatasetKeys"));
    }
    OpenSource();

    TQelResult outcome = irUnknown;
    bool waitCursor = false;
    try {
        if (options_.Contains(soWaitCursor)) {
            WindowSystem().SetCursor(crHourGlass);
            waitCursor = true;
        }
        if (animatedStatus_) {
            ShowProgress(titleStatus_, impcnst::SImporting, impcnst::SCancel, impcnst::SProcessed,
                         impcnst::SErrors, impcnst::SAdded, impcnst::SUpdated, impcnst::SDeleted,
                         options_.Contains(soUseAnimatedControl),
                         options_.Contains(soExtendedStatistic));
        }
        bool generated = false;
        if (mappings_.Count() == 0) {
            columns_->Clear();
            CreateColumns();
            if (OnCreateStructure) OnCreateStructure(*this, *columns_);
            if (mappings_.Count() == 0) {
                CreateMappings();
                generated = true;
            }
        }
        ImportData();
        // Generated lines serve this run only; after a failure they stay for inspection.
        if (generated) mappings_.Clear();
        outcome = (ProgressCanceled() || abortRequested_) ? irCanceled : irExecuted;
    } catch (const std::exception& e) {
        outcome = irFailed;
        lastError_ = e.what();
    } catch (...) {
        outcome = irFailed;
        lastError_ = kUnknownError;
    }
    statistic_->SetResult(outcome);

    const char* message = OutcomeMessage(outcome);
    if (animatedStatus_ || progressDialog_) {
        const TQelStatistic& st = *statistic_;
        UpdateProgress(message, st.TotalImported(), st.TotalErrors(), st.TotalAdded(),
                       st.TotalDeleted(), st.TotalUpdated());
        CloseProgress();
    } else if (options_.Contains(soShowMessage)) {
        WindowSystem().ShowInformation(message);
    }
    if (waitCursor) WindowSystem().SetCursor(crDefault);
    CloseSource();
    if (OnAfterExecute) OnAfterExecute(*this);
}

void TQelBaseComponent::ImportFromStream(std::istream& stream) {
    if (running_) throw EImportError(impcnst::SImportRunning);
    // The stream belongs to the caller and serves this run only: a later Execute reads
    // SourceFileName again instead of a stream that may be gone or spent.
    sourceStream_ = &stream;
    struct ForgetStream {
        std::istream*& stream;
        ~ForgetStream() { stream = nullptr; }
    } forget{sourceStream_};
    Execute();
}

// ---------------------------------------------------------------------------------------------
// The row loop

void TQelBaseComponent::ImportData() {
    PrepareMappings();
    PrepareRowValues();

    TDataSet& ds = Destination();
    ds.DisableControls();
    runDataSet_ = &ds;
    FreeNotification(&ds);
    looping_ = true;
    std::exception_ptr failure;
    try {
        RunRows();
    } catch (...) {
        failure = std::current_exception();
    }
    looping_ = false;
    EndEvaluation();
    // However the loop ended: the destination's first record, and its views follow it again.
    // (A destination destroyed by a handler during the run is left alone.)
    if (runDataSet_ != nullptr) {
        try {
            ds.First();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        try {
            ds.EnableControls();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        // The last commit may have lost what the counters count.
        TakeBackLostWrites(ds);
    }
    if (runDataSet_ != nullptr && runDataSet_ != dataSet_) RemoveFreeNotification(runDataSet_);
    // A destination destroyed by a handler fails the run however the loop ended.
    if (runDataSet_ == nullptr && !failure)
        failure = std::make_exception_ptr(DestinationGoneError());
    runDataSet_ = nullptr;
    if (failure) std::rethrow_exception(failure);
}

void TQelBaseComponent::RunRows() {
    TQelStatistic& st = *statistic_;
    st.SetTotalCount(0);
    st.SetTotalImported(0);
    st.SetTotalAdded(0);
    st.SetTotalDeleted(0);
    st.SetTotalUpdated(0);
    st.SetTotalErrors(0);
    st.SetLastAction(iaUnknown);
    writes_.clear();
    lostSeen_ = Destination().LostRecords();

    if (mode_ == imCopy) {
        TDataSet& ds = Destination();
        ds.First();
        while (!ds.Eof()) {
            ds.Delete();
            st.SetTotalDeleted(st.TotalDeleted() + 1);
            RememberWrite(iaDelete);
        }
    }

    FirstRow();
    // The rows this run will process: those the source keeps, at most the row range.
    const std::int64_t range = std::max<std::int64_t>(0, std::int64_t{rowLast_} - rowFirst_ + 1);
    const std::int64_t rows = std::clamp<std::int64_t>(RowCount(), 0, range);
    st.SetTotalCount(static_cast<int>(std::min<std::int64_t>(rows, INT32_MAX)));
    if (animatedStatus_) SetProgressRange(0, st.TotalCount(), 0);

    BeginEvaluation();
    abortRequested_ = false;
    int step = 0;
    while (!abortRequested_ && !ProgressCanceled() && HasRow()) {
        if (animatedStatus_ && step >= st.UpdateStep()) {
            UpdateProgress(impcnst::SImporting, st.TotalImported(), st.TotalErrors(),
                           st.TotalAdded(), st.TotalDeleted(), st.TotalUpdated());
            step = 0;
        }
        // Host code runs while the dialog pumps messages, and in every event of the row: a
        // destination destroyed there ends the run as a failure, not as rows written into
        // freed memory or silently going nowhere.
        CheckDestination();
        ++step;
        st.SetTotalImported(st.TotalImported() + 1);
        st.SetLastAction(iaUnknown);
        try {
            if (ImportRow()) WriteRecord();
        } catch (...) {
            // Without a destination nothing is offered to the host and nothing dropped.
            if (DestinationGone()) throw;
            TakeBackLostWrites(Destination());
            std::exception_ptr error = std::current_exception();
            if (OfferError(error)) std::rethrow_exception(error);
            CheckDestination();
        }
        abortRequested_ = false;
        if (OnAfterRecordEvent) OnAfterRecordEvent(*this, abortRequested_);
        CheckDestination();
        TakeBackLostWrites(Destination());  // a flush by the host may have failed
        NextRow();
    }
}

void TQelBaseComponent::RememberWrite(TQelAction action) {
    constexpr std::uint32_t kCount = (1u << 30) - 1;
    const std::uint32_t tag = static_cast<std::uint32_t>(action) << 30;
    if (!writes_.empty() && (writes_.back() & ~kCount) == tag &&
        (writes_.back() & kCount) < kCount) {
        ++writes_.back();
    } else {
        writes_.push_back(tag | 1u);
    }
}

void TQelBaseComponent::TakeBackLostWrites(const TDataSet& ds) {
    const std::int64_t lost = ds.LostRecords();
    if (lost <= lostSeen_) return;
    std::int64_t n = lost - lostSeen_;
    lostSeen_ = lost;
    constexpr std::uint32_t kCount = (1u << 30) - 1;
    TQelStatistic& st = *statistic_;
    // Writes the run did not make (a host's) cannot be taken back from its counters.
    while (n > 0 && !writes_.empty()) {
        const auto action = static_cast<TQelAction>(writes_.back() >> 30);
        const std::int64_t take = std::min<std::int64_t>(n, writes_.back() & kCount);
        const int k = static_cast<int>(take);
        switch (action) {
            case iaAdd:
                st.SetTotalAdded(st.TotalAdded() - k);
                break;
            case iaUpdate:
                st.SetTotalUpdated(st.TotalUpdated() - k);
                break;
            case iaDelete:
                st.SetTotalDeleted(st.TotalDeleted() - k);
                break;
            case iaUnknown:
                break;
        }
        st.SetTotalErrors(st.TotalErrors() + k);
        writes_.back() -= static_cast<std::uint32_t>(take);
        if ((writes_.back() & kCount) == 0) writes_.pop_back();
        n -= take;
    }
}

bool TQelBaseComponent::OfferError(const std::exception_ptr& error) {
    if (!OnErrorEvent) return false;
    abortRequested_ = abortOnProblem_;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        OnErrorEvent(*this, e, abortRequested_);
    } catch (const std::exception& e) {
        const Exception wrapped(e.what());
        OnErrorEvent(*this, wrapped, abortRequested_);
    } catch (...) {
        const Exception wrapped(kUnknownError);
        OnErrorEvent(*this, wrapped, abortRequested_);
    }
    return abortRequested_;
}

// ---------------------------------------------------------------------------------------------
// One row

namespace {

// Copies name, source text and value of the RowValues entry each entry points at.
void TakeRowValues(Variant& table, const Variant& rowValues) {
    if (!table.IsArray()) return;
    for (Variant& entry : table.MutableElements()) {
        if (!entry.IsArray()) continue;
        const std::int32_t index = EntryIndex(std::as_const(entry)[3]);
        if (index < 0) continue;
        const Variant& source = rowValues[static_cast<std::size_t>(index)];
        if (source.Count() < 4) throw EVariantError(msg::kVarArrayBounds);
        const Variant::Array& from = source.Elements();
        Variant::Array& e = entry.MutableElements();
        e[0] = from[0];
        e[1] = from[1];
        e[2] = from[2];
    }
}

}  // namespace

bool TQelBaseComponent::ImportRow() {
    if (aheadValues_ != nullptr) return ImportAheadRow();
    if (entriesPending_) TakePendingEntries();  // before this row's values replace the last's
    TDataSet& ds = Destination();
    BeginRowEvaluation();

    // 1. Every entry's value from its source text.
    const std::size_t count = rowValues_.Count();
    if (unboundNames_.size() < count) unboundNames_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        Variant& entry = rowValues_[i];
        if (!entry.IsArray()) continue;
        if (entry.Count() < 4) throw EVariantError(msg::kVarArrayBounds);
        Variant::Array& e = entry.MutableElements();
        const std::int32_t stored = EntryIndex(e[3]);
        int current = stored;
        if (current < 0) {
            // The name may have been changed by a handler: bind it by name when it now names
            // a field (names already known to name none are not searched again).
            const Variant& name = e[0];
            if (!(name.IsText() && name.TextValue() == unboundNames_[i])) {
                if (TField* f = ds.FindField(VarToStr(name))) {
                    current = f->Index();
                } else {
                    unboundNames_[i] = VarToStr(name);
                }
            }
        }
        currentFieldIndex_ = current;
        // Evaluated into a value kept between rows and copied into the entry, so that neither
        // allocates once their buffers have grown to the row's texts.
        rowValue_.Clear();
        EvaluateValue(e[1], stored, rowValue_);
        rowValues_[i][2] = rowValue_;
    }

    // 2. Character set, the host's last word on every value, and a dash as null.
    const bool oem = characterSet_ == csiASCII_MSDOS;
    if (oem || OnGetCellParams || dashNull_) {
        for (std::size_t i = 0; i < rowValues_.Count(); ++i) {
            const Variant& entry = std::as_const(rowValues_)[i];
            if (!entry.IsArray()) continue;
            const std::int32_t index = EntryIndex(entry[3]);
            TField* field = index >= 0 ? ds.Fields(index) : nullptr;
            // The handler works on a copy (the entry keeps its value if it raises), made in
            // the kept buffer so that it does not allocate for every value of every row.
            Variant& value = rowValue_;
            value = entry[2];
            if (oem && !value.IsNullOrEmpty() &&
                (field == nullptr || (!field->IsNumeric() && !field->IsDateTime()))) {
                value = Variant(OemToAnsi(VarToStr(value)));
            }
            if (OnGetCellParams) {
                OnGetCellParams(*this, field, value);
                CheckDestination();
            }
            if (dashNull_ && field != nullptr && field->IsNumeric() && value.IsText() &&
                value.TextValue() == "-") {
                value = Variant::Null();
            }
            rowValues_[i][2] = value;
        }
    }
    currentFieldIndex_ = -1;

    // 3. Load conditions.
    bool accept = true;
    const TQelLoadCondition& lc = *loadCondition_;
    if (!lc.LoadWhen().empty()) {
        Variant result;
        EvaluateValue(ConditionText(0, lc.LoadWhen()), -1, result);
        accept = result.AsBoolean();
    }
    if (accept && !lc.SkipIf().empty()) {
        Variant result;
        EvaluateValue(ConditionText(1, lc.SkipIf()), -1, result);
        accept = !result.AsBoolean();
    }

    if (OnBeforeRecordEvent) {
        OnBeforeRecordEvent(*this, std::string(), rowValues_, accept);
        CheckDestination();
    }

    // 4. The values of an accepted row go to the entries that write and find the record.
    if (accept && rowValues_.Count() > 0) {
        TakeRowValues(mappingEntries_, rowValues_);
        if (ModeUsesKeys(mode_)) TakeRowValues(keyEntries_, rowValues_);
    }
    // The rows after this one may be evaluated ahead once this one has bound every name.
    if (accept && !aheadTried_ && aheadPosition_ >= 0) TryStartAhead();
    return accept;
}

}  // namespace qel
