// Writing the record of an accepted row: the key search, the action of the import mode, the
// field values, the post, and the bookkeeping when writing fails.
#include <utility>

#include "engine/QelBase.h"

namespace qel {

namespace {

bool IsEditing(TDataSetState s) {
    return s == dsEdit || s == dsInsert || s == dsSetKey;
}

}  // namespace

bool TQelBaseComponent::MappedField(const Variant& entry, std::size_t& rowIndex,
                                    int& fieldIndex) const {
    if (!entry.IsArray()) return false;
    const std::int32_t row = EntryIndex(entry[3]);
    if (row < 0) return false;
    rowIndex = static_cast<std::size_t>(row);
    fieldIndex = EntryIndex(std::as_const(rowValues_)[rowIndex][3]);
    return fieldIndex >= 0;
}

void TQelBaseComponent::WriteRecord() {
    TDataSet& ds = Destination();
    TQelStatistic& st = *statistic_;
    // The entries of a row evaluated ahead take its values now when a handler of this step
    // may look at them; otherwise the values are read from RowValues.
    if (entriesPending_ && (OnLocateRecord || OnBeforeUpdate || OnBeforeFieldUpdate)) {
        TakePendingEntries();
    } else if (entriesPending_) {
        TakePendingKeys();  // the key search reads them
    }
    const bool pending = entriesPending_;
    // The record the helper prepared for a row evaluated ahead: what the field values below
    // would store, at once.
    std::vector<Variant>* prepared = std::exchange(aheadFields_, nullptr);

    // 1. Find the record the row's key values name.
    bool exist = false;
    if (ModeUsesKeys(mode_) && !datasetKeys_.empty()) {
        const std::size_t k = keyEntries_.Count();
        if (k > 0) {
            const Variant& keys = keyEntries_;
            // Kept between rows, so that the key's text reuses its buffer.
            Variant& keyValues = keyValues_;
            if (k == 1) {
                keyValues = keys[0][2];
            } else {
                Variant::Array values(k);
                for (std::size_t i = 0; i < k; ++i) values[i] = keys[i][2];
                keyValues = Variant(std::move(values));
            }
            exist = true;
            bool executeLocate = true;
            if (OnLocateRecord) {
                OnLocateRecord(*this, datasetKeys_, keyValues, exist, executeLocate);
                CheckDestination();
            }
            if (exist && executeLocate) exist = ds.Locate(datasetKeys_, keyValues, 0);
        }
    }

    if (OnBeforeUpdate) {
        OnBeforeUpdate(*this);
        CheckDestination();
    }

    // 2. The action of the mode, performed; a counter goes up once its operation returned.
    TQelAction action = iaUnknown;
    switch (mode_) {
        case imAppend:
        case imCopy:
            action = iaAdd;
            break;
        case imUpdate:
            action = exist ? iaUpdate : iaUnknown;
            break;
        case imAppendUpdate:
            action = exist ? iaUpdate : iaAdd;
            break;
        case imDelete:
            action = exist ? iaDelete : iaUnknown;
            break;
    }
    st.SetLastAction(action);
    switch (action) {
        case iaAdd:
            ds.Append();
            st.SetTotalAdded(st.TotalAdded() + 1);
            break;
        case iaUpdate:
            ds.Edit();
            st.SetTotalUpdated(st.TotalUpdated() + 1);
            break;
        case iaDelete:
            ds.Delete();
            st.SetTotalDeleted(st.TotalDeleted() + 1);
            RememberWrite(iaDelete);
            break;
        case iaUnknown:
            break;
    }

    // 3. The field values and the post, after an add or an update.
    if (!IsEditing(ds.State())) return;
    try {
        // (The handlers of the steps above cannot change the row's values; a field replaced
        // meanwhile, or a handler that sees each field's value, leaves it to the loop below.)
        if (prepared != nullptr && !OnBeforeFieldUpdate && &ds == aheadGuard_.DataSet &&
            ds.FieldsVersion() == aheadGuard_.FieldsVersion) {
            ds.TakeRecordValues(*prepared, aheadAssigned_);
        } else if (mappingEntries_.IsArray()) {
            const Variant::Array& entries = mappingEntries_.Elements();
            for (const Variant& entry : entries) {
                std::size_t rowIndex = 0;
                int fieldIndex = 0;
                if (!MappedField(entry, rowIndex, fieldIndex)) continue;
                TField* field = ds.Fields(fieldIndex);
                const Variant& value = pending ? std::as_const(rowValues_)[rowIndex][2] : entry[2];
                bool accept = true;
                if (OnBeforeFieldUpdate) {
                    OnBeforeFieldUpdate(*this, field, value, accept);
                    CheckDestination();
                }
                if (!accept) continue;
                // Empty text (null and unassigned read as empty text) clears the field.
                if (IsEmptyText(value)) {
                    field->Clear();
                } else {
                    field->SetValue(value);
                }
            }
        }
        ds.Post();
        RememberWrite(action);
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        // A destination destroyed meanwhile holds nothing of the record and cannot be asked.
        const bool gone = DestinationGone();
        if (!gone && IsEditing(ds.State())) ds.Cancel();
        st.SetTotalErrors(st.TotalErrors() + 1);
        // The record did not get stored: take back the counter its action raised.
        switch (mode_) {
            case imAppend:
            case imCopy:
                st.SetTotalAdded(st.TotalAdded() - 1);
                break;
            case imUpdate:
                if (exist) st.SetTotalUpdated(st.TotalUpdated() - 1);
                break;
            case imAppendUpdate:
                if (exist) {
                    st.SetTotalUpdated(st.TotalUpdated() - 1);
                } else {
                    st.SetTotalAdded(st.TotalAdded() - 1);
                }
                break;
            case imDelete:
                if (exist) st.SetTotalDeleted(st.TotalDeleted() - 1);
                break;
        }
        // Writes posted before this one may have been lost with it (a transaction taken back).
        if (!gone) TakeBackLostWrites(ds);
        if (gone || OfferError(error)) std::rethrow_exception(error);
        CheckDestination();
    }
}

}  // namespace qel
