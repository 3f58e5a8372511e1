// Evaluation ahead of the row loop: the helper thread and its ring, and the component's side of
// it (when the helper may start, what it must find unchanged, and taking a row from it).
#include "engine/QelAhead.h"

#include <utility>

#include "core/FormatSettings.h"
#include "core/TextUtil.h"
#include "engine/QelBase.h"
#include "engine/QelEvalState.h"

namespace qel {

namespace {

// Rings the bell a thread sleeps on, once: the first to find `waiting` set clears it, so that
// the rows filled or given back before the sleeper is up again do not each cost a system call.
void Ring(std::atomic<bool>& waiting, std::atomic<std::uint32_t>& bell) {
    if (!waiting.exchange(false, std::memory_order_seq_cst)) return;
    bell.fetch_add(1, std::memory_order_seq_cst);
    bell.notify_one();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The helper

TQelAhead::TQelAhead(std::unique_ptr<TQelRowReader> reader, TQelAheadRules rules,
                     std::int64_t first)
    : reader_(std::move(reader)),
      rules_(std::move(rules)),
      first_(first),
      ring_(kSlots),
      sizes_(kSlots, 0) {
    thread_ = std::thread([this] { Run(); });
}

TQelAhead::~TQelAhead() {
    Stop();
}

void TQelAhead::Stop() noexcept {
    if (!thread_.joinable()) return;
    stop_.store(true, std::memory_order_seq_cst);
    helperBell_.fetch_add(1, std::memory_order_seq_cst);
    helperBell_.notify_one();
    thread_.join();
}

bool TQelAhead::Full(std::uint64_t n) const {
    const std::uint64_t filled = n - consumed_.load(std::memory_order_seq_cst);
    const std::uint64_t bytes =
        bytesIn_.load(std::memory_order_relaxed) - bytesOut_.load(std::memory_order_seq_cst);
    return filled >= kSlots || (filled > 0 && bytes >= kMaxBytes);
}

bool TQelAhead::Resumable(std::uint64_t n) const {
    const std::uint64_t filled = n - consumed_.load(std::memory_order_seq_cst);
    const std::uint64_t bytes =
        bytesIn_.load(std::memory_order_seq_cst) - bytesOut_.load(std::memory_order_seq_cst);
    return filled <= kSlots / 2 && (filled == 0 || bytes < kMaxBytes / 2);
}

void TQelAhead::Run() noexcept {
    for (std::uint64_t n = 0;; ++n) {
        if (Full(n)) {
            // The ring is full: sleep until the loop has given back half of it. A loop waiting
            // for more rows than the ring holds now takes what there is.
            if (loopWaiting_.load(std::memory_order_seq_cst)) Ring(loopWaiting_, loopBell_);
            for (;;) {
                helperWaiting_.store(true, std::memory_order_seq_cst);
                const std::uint32_t bell = helperBell_.load(std::memory_order_seq_cst);
                if (stop_.load(std::memory_order_seq_cst) || Resumable(n)) break;
                helperBell_.wait(bell, std::memory_order_seq_cst);
            }
            helperWaiting_.store(false, std::memory_order_seq_cst);
        }
        if (stop_.load(std::memory_order_acquire)) break;
        TQelAheadRow& row = ring_[n & (kSlots - 1)];
        // A slot that once held a very long record does not keep its memory.
        if (row.Record.capacity() > (std::size_t{1} << 20)) std::string().swap(row.Record);
        try {
            if (!reader_->ReadRow(row)) break;
        } catch (...) {
            // Raised by the loop when it comes to this row, as reading it there would.
            readFailure_ = std::current_exception();
            break;
        }
        bool more = true;
        try {
            Evaluate(row);
            row.Evaluated = true;
        } catch (...) {
            // Whatever failed (memory): the loop evaluates this row and the ones after it.
            row.Evaluated = false;
            more = false;
        }
        sizes_[n & (kSlots - 1)] = row.Record.size();
        bytesIn_.store(bytesIn_.load(std::memory_order_relaxed) + row.Record.size(),
                       std::memory_order_seq_cst);
        produced_.store(n + 1, std::memory_order_seq_cst);
        if (loopWaiting_.load(std::memory_order_seq_cst) &&
            n + 1 >= loopWakeAt_.load(std::memory_order_seq_cst))
            Ring(loopWaiting_, loopBell_);
        if (!more) break;
    }
    ended_.store(true, std::memory_order_seq_cst);
    Ring(loopWaiting_, loopBell_);
}

void TQelAhead::Evaluate(TQelAheadRow& row) {
    const std::size_t count = rules_.Values.size();
    row.Values.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const TQelAheadValue& rule = rules_.Values[i];
        Variant& value = row.Values[i];
        // What FinishSourceValue does to a bound name's value, and then DashNull.
        value.AssignText({});
        std::string& t = value.MutableText();
        reader_->ReadBound(rule.Handle, t);
        TrimSourceText(t, static_cast<TQelTrimSpaces>(rules_.TrimSpaces));
        if (t.empty()) {
            value.ClearToNull();
            continue;
        }
        if (rule.Convert) rule.Plan.ApplyPure(value, rules_.DecimalSeparator);
        if (rules_.DashNull && rule.NumericField && value.IsText() && value.TextValue() == "-")
            value.ClearToNull();
    }
    PrepareFields(row);
}

void TQelAhead::PrepareFields(TQelAheadRow& row) const {
    row.FieldsReady = false;
    if (rules_.Fields.empty()) return;
    row.Fields.resize(rules_.FieldCount);
    // What the write step does with each value: empty text clears the field, and a value the
    // field stores unchanged is stored; any other value is left to the write step, which
    // converts it or says why it cannot.
    for (const TQelAheadField& f : rules_.Fields) {
        const Variant& value = row.Values[f.Value];
        Variant& out = row.Fields[f.Field];
        if (IsEmptyText(value)) {
            out.ClearToNull();
            continue;
        }
        const Variant::Kind kind = value.kind();
        const bool unchanged =
            (f.Stores == TQelAheadField::fsText && kind == Variant::vkText) ||
            (f.Stores == TQelAheadField::fsInteger && kind == Variant::vkInteger) ||
            (f.Stores == TQelAheadField::fsBoolean && kind == Variant::vkBoolean);
        if (!unchanged) return;
        out = value;
    }
    row.FieldsReady = true;
}

bool TQelAhead::WaitFor(std::uint64_t index) {
    if (index < seenProduced_) return true;
    seenProduced_ = produced_.load(std::memory_order_acquire);
    if (index < seenProduced_) return true;
    // The helper may be waiting for the slots taken since the last give-back.
    GiveBack();
    for (int spin = 0;; ++spin) {
        seenProduced_ = produced_.load(std::memory_order_acquire);
        if (index < seenProduced_) return true;
        if (ended_.load(std::memory_order_seq_cst)) {
            seenProduced_ = produced_.load(std::memory_order_seq_cst);
            return index < seenProduced_;
        }
        if (spin < 64) continue;
        loopWakeAt_.store(index + kWakeBatch, std::memory_order_seq_cst);
        loopWaiting_.store(true, std::memory_order_seq_cst);
        const std::uint32_t bell = loopBell_.load(std::memory_order_seq_cst);
        if (produced_.load(std::memory_order_seq_cst) <= index &&
            !ended_.load(std::memory_order_seq_cst)) {
            loopBell_.wait(bell, std::memory_order_seq_cst);
        }
        loopWaiting_.store(false, std::memory_order_seq_cst);
    }
}

void TQelAhead::GiveBack() {
    if (givenBack_ == taken_) return;
    bytesOut_.store(bytesTaken_, std::memory_order_seq_cst);
    consumed_.store(taken_, std::memory_order_seq_cst);
    givenBack_ = taken_;
    if (helperWaiting_.load(std::memory_order_seq_cst) &&
        Resumable(produced_.load(std::memory_order_seq_cst)))
        Ring(helperWaiting_, helperBell_);
}

TQelAheadRow* TQelAhead::Row(std::int64_t position) {
    if (position < first_ + static_cast<std::int64_t>(taken_)) return nullptr;
    const auto index = static_cast<std::uint64_t>(position - first_);
    // The rows before it are done with: their slots go back to the helper.
    while (taken_ < index) {
        if (!WaitFor(taken_)) return nullptr;
        bytesTaken_ += sizes_[taken_ & (kSlots - 1)];
        ++taken_;
        if (taken_ - givenBack_ >= kGiveBack) GiveBack();
    }
    if (!WaitFor(index)) return nullptr;
    return &ring_[index & (kSlots - 1)];
}

void TQelAheadDeleter::operator()(TQelAhead* p) const {
    std::default_delete<TQelAhead>()(p);
}

// ---------------------------------------------------------------------------------------------
// The component's side

std::unique_ptr<TQelRowReader> TQelBaseComponent::AheadReader(const std::vector<int>&,
                                                              std::int64_t) {
    return nullptr;
}

void TQelBaseComponent::StopAhead() noexcept {
    if (ahead_) ahead_->Stop();
    aheadValues_ = nullptr;
    aheadFields_ = nullptr;
}

std::exception_ptr TQelBaseComponent::DropAhead() noexcept {
    std::exception_ptr failure;
    if (ahead_) {
        ahead_->Stop();
        failure = ahead_->ReadFailure();
    }
    ahead_.reset();
    aheadValues_ = nullptr;
    aheadFields_ = nullptr;
    return failure;
}

TQelAheadRow* TQelBaseComponent::AheadRow(std::int64_t position) {
    return ahead_ ? ahead_->Row(position) : nullptr;
}

void TQelBaseComponent::TryStartAhead() {
    aheadTried_ = true;
    // Rows whose values pass through handlers, code-page conversion or load conditions are
    // evaluated in the loop.
    if (!evaluateAhead_ || OnGetCellParams || OnBeforeRecordEvent ||
        characterSet_ != csiANSI_WINDOWS || !loadCondition_->LoadWhen().empty() ||
        !loadCondition_->SkipIf().empty() || !eval_ || runDataSet_ == nullptr) {
        return;
    }
    TDataSet& ds = *runDataSet_;
    const std::size_t count = rowValues_.Count();
    // Every value must be one plain name that the source has bound, evaluated through the
    // parser slot of its own position.
    if (count == 0 || eval_->cursor != count || eval_->slots.size() < count) return;
    TQelAheadRules rules;
    rules.Values.resize(count);
    std::vector<int> handles(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Variant& entry = std::as_const(rowValues_)[i];
        if (!entry.IsArray() || entry.Count() < 4 || !entry[1].IsText()) return;
        const TQelEvalSlot& slot = eval_->slots[i];
        if (slot.text == nullptr || *slot.text != entry[1].TextValue() ||
            slot.plainName == nullptr || slot.binding < 0) {
            return;
        }
        TQelAheadValue& rule = rules.Values[i];
        rule.Handle = handles[i] = slot.binding;
        // The field the value is converted for: the entry's own, or the one its name finds.
        const std::int32_t stored = EntryIndex(entry[3]);
        TField* field = nullptr;
        if (stored >= 0) {
            field = ds.Fields(stored);
            rule.NumericField = field->IsNumeric();
        } else {
            field = ds.FindField(VarToStr(entry[0]));
        }
        if (field != nullptr) {
            rule.Convert = true;
            rule.Plan =
                TQelFieldConversion::Make(field->DataType(), field->FieldName(), *dataFormats_);
            if (!rule.Plan.Pure()) return;
        }
    }
    // The entries that write and find the record take their values by position.
    for (const Variant* table : {&mappingEntries_, &keyEntries_}) {
        if (!table->IsArray()) continue;
        for (const Variant& entry : table->Elements()) {
            if (!entry.IsArray() || entry.Count() < 4) return;
            const std::int32_t index = EntryIndex(entry[3]);
            if (index >= static_cast<std::int32_t>(count)) return;
        }
    }
    PlanAheadFields(ds, rules);
    std::unique_ptr<TQelRowReader> reader = AheadReader(handles, aheadPosition_ + 1);
    if (!reader) return;
    rules.TrimSpaces = trimSpaces_;
    rules.DashNull = dashNull_;
    rules.DecimalSeparator = DefaultFormatSettings().DecimalSeparator;

    AheadGuard& g = aheadGuard_;
    g.DataSet = &ds;
    g.FieldsVersion = ds.FieldsVersion();
    g.FormatsVersion = dataFormats_->Version();
    g.DecimalSeparator = rules.DecimalSeparator;
    g.TrimSpaces = trimSpaces_;
    g.DashNull = dashNull_;
    g.Fixed = fixed_;
    g.Delimiter = fieldDelimiterCustom_;
    g.Qualifier = textQualifierCustom_;
    ahead_.reset(new TQelAhead(std::move(reader), std::move(rules), aheadPosition_ + 1));
}

void TQelBaseComponent::PlanAheadFields(const TDataSet& ds, TQelAheadRules& rules) {
    // The fields an add sets, as the write step finds them: every mapping entry in order, its
    // RowValues entry, and the field that entry is bound to. A field whose values the write
    // step converts leaves the record to it.
    aheadAssigned_.assign(static_cast<std::size_t>(ds.FieldCount()), 0);
    if (!mappingEntries_.IsArray()) return;
    for (const Variant& entry : mappingEntries_.Elements()) {
        std::size_t rowIndex = 0;
        int fieldIndex = 0;
        if (!MappedField(entry, rowIndex, fieldIndex)) continue;
        const TField& field = *ds.Fields(fieldIndex);
        TQelAheadField f;
        f.Value = rowIndex;
        f.Field = static_cast<std::size_t>(fieldIndex);
        if (field.IsString()) {
            f.Stores = TQelAheadField::fsText;
        } else if (field.DataType() == ftInteger || field.DataType() == ftLargeint) {
            // (Small integer and word fields check their range when they store: left out.)
            f.Stores = TQelAheadField::fsInteger;
        } else if (field.DataType() == ftBoolean) {
            f.Stores = TQelAheadField::fsBoolean;
        } else {
            rules.Fields.clear();
            return;
        }
        rules.Fields.push_back(f);
        aheadAssigned_[f.Field] = 1;
    }
    rules.FieldCount = static_cast<std::size_t>(ds.FieldCount());
}

bool TQelBaseComponent::AheadStillValid() const {
    const AheadGuard& g = aheadGuard_;
    if (OnGetCellParams || OnBeforeRecordEvent || characterSet_ != csiANSI_WINDOWS ||
        !loadCondition_->LoadWhen().empty() || !loadCondition_->SkipIf().empty() ||
        !evaluateAhead_ || runDataSet_ != g.DataSet || trimSpaces_ != g.TrimSpaces ||
        dashNull_ != g.DashNull || fixed_ != g.Fixed || fieldDelimiterCustom_ != g.Delimiter ||
        textQualifierCustom_ != g.Qualifier || dataFormats_->Version() != g.FormatsVersion ||
        DefaultFormatSettings().DecimalSeparator != g.DecimalSeparator) {
        return false;
    }
    return g.DataSet->FieldsVersion() == g.FieldsVersion;
}

bool TQelBaseComponent::PrepareAheadRow(std::int64_t position) {
    aheadPosition_ = position;
    aheadValues_ = nullptr;
    aheadFields_ = nullptr;
    if (!ahead_ || !ahead_->Running()) return false;
    TQelAheadRow* row = AheadStillValid() ? ahead_->Row(position) : nullptr;
    // Something changed, or the helper has not got this row: the loop evaluates from here on
    // (the source still takes the records the helper read).
    if (row == nullptr || !row->Evaluated) {
        StopAhead();
        return false;
    }
    aheadValues_ = &row->Values;
    aheadFields_ = row->FieldsReady ? &row->Fields : nullptr;
    return true;
}

bool TQelBaseComponent::ImportAheadRow() {
    std::vector<Variant>& values = *aheadValues_;
    aheadValues_ = nullptr;
    Variant::Array& rows = rowValues_.MutableElements();
    for (std::size_t i = 0; i < values.size(); ++i) rows[i].MutableElements()[2].Swap(values[i]);
    ++aheadRows_;
    currentFieldIndex_ = -1;
    // The entries that write and find the record take the values when someone looks at them
    // (TakePendingEntries); the write step reads them from RowValues meanwhile.
    entriesPending_ = true;
    pendingKeys_ = ModeUsesKeys(mode_);
    return true;
}

namespace {

// What TakeRowValues does: the entries' names and source texts are those they took from the
// same RowValues entries at the row the helper started after, and nothing can have changed
// either since, so only the values are copied.
void TakeValues(Variant& table, const Variant::Array& rows) {
    if (!table.IsArray()) return;
    for (Variant& entry : table.MutableElements()) {
        const std::int32_t index = EntryIndex(std::as_const(entry)[3]);
        if (index < 0) continue;
        entry.MutableElements()[2] = rows[static_cast<std::size_t>(index)][2];
    }
}

}  // namespace

void TQelBaseComponent::TakePendingEntries() const {
    entriesPending_ = false;
    TakeValues(mappingEntries_, rowValues_.Elements());
    TakePendingKeys();
}

void TQelBaseComponent::TakePendingKeys() const {
    if (!pendingKeys_) return;
    pendingKeys_ = false;
    TakeValues(keyEntries_, rowValues_.Elements());
}

}  // namespace qel
