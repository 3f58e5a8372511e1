// Columns of the source, the default mappings generated from them, and RowValues, the table of
// a row's values bound to the destination fields by position.
#include <algorithm>

#include "core/TextUtil.h"
#include "engine/QelBase.h"
#include "engine/QelConvert.h"

namespace qel {

// ---------------------------------------------------------------------------------------------
// TQelColumn, TQelColumns

int TQelColumn::Index() const {
    return collection_ ? collection_->IndexOf(this) : -1;
}

void TQelColumn::Assign(const TPersistent& source) {
    const auto* s = dynamic_cast<const TQelColumn*>(&source);
    if (!s) return TPersistent::Assign(source);
    // One change notification for the whole copy, sent also when copying fails.
    struct Bracket {
        TQelColumns* c;
        explicit Bracket(TQelColumns* cols) : c(cols) {
            if (c) c->BeginUpdate();
        }
        ~Bracket() {
            if (c) c->EndUpdate();
        }
    } bracket(collection_);
    fieldName_ = s->fieldName_;
    caption_ = s->caption_;
    dataType_ = s->dataType_;
    size_ = s->size_;
    precision_ = s->precision_;
    alignment_ = s->alignment_;
}

TQelColumn& TQelColumns::Add() {
    items_.push_back(std::make_unique<TQelColumn>(this));
    TQelColumn& c = *items_.back();
    Changed();
    return c;
}

TQelColumn& TQelColumns::Items(int index) const {
    CheckListIndex(index, Count());
    return *items_[static_cast<std::size_t>(index)];
}

void TQelColumns::Delete(int index) {
    CheckListIndex(index, Count());
    items_.erase(items_.begin() + index);
    Changed();
}

void TQelColumns::Clear() {
    items_.clear();
    Changed();
}

int TQelColumns::IndexOf(const TQelColumn* column) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == column) return static_cast<int>(i);
    }
    return -1;
}

void TQelColumns::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TQelColumns::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange();
}

// A column describes a field by the conversion its values get; only the date kind is told
// apart into date and date-time.
TQelDataType FieldTypeToDataType(TFieldType type) {
    switch (ConversionKindOf(type)) {
        case ckInteger:
            return itInteger;
        case ckBoolean:
            return itBoolean;
        case ckFloat:
            return itFloat;
        case ckDate:
            return type == ftDate ? itDate : itDateTime;
        case ckTime:
            return itTime;
        case ckNone:
            break;
    }
    return itString;
}

// ---------------------------------------------------------------------------------------------
// Columns and default mappings

void TQelBaseComponent::CreateColumns() {
    TDataSet& ds = Destination();
    for (int i = 0; i < ds.FieldCount(); ++i) {
        const TField& f = *ds.Fields(i);
        TQelColumn& c = columns_->Add();
        c.SetFieldName(f.FieldName());
        c.SetCaption(f.DisplayLabel());
        c.SetDataType(FieldTypeToDataType(f.DataType()));
        c.SetAlignment(f.Alignment());
        c.SetSize(f.Size());
        c.SetPrecision(f.IsFloat() ? f.Precision() : 0);
    }
}

void TQelBaseComponent::CreateMappings() {
    TDataSet& ds = Destination();
    mappings_.Clear();
    const int columnCount = columns_->Count();
    for (int c = 0; c < columnCount; ++c) {
        const std::string& name = columns_->Items(c).FieldName();
        for (int i = 0; i < ds.FieldCount(); ++i) {
            const TField& f = *ds.Fields(i);
            if (SameText(f.FieldName(), name) ||
                (useDisplayNames_ && SameText(f.DisplayLabel(), name))) {
                mappings_.Add(f.FieldName() + "=" + name);
                break;
            }
        }
    }
    if (mappings_.Count() > 0) return;
    // Nothing matched by name: pair columns and fields by position.
    for (int c = 0; c < columnCount && c < ds.FieldCount(); ++c) {
        mappings_.Add(ds.Fields(c)->FieldName() + "=" + columns_->Items(c).FieldName());
    }
}

// ---------------------------------------------------------------------------------------------
// RowValues

namespace {

// Element 0 of an entry (its destination name), or nullptr when the slot holds no entry.
const Variant* EntryName(const Variant& entry) {
    return entry.IsArray() && entry.Count() == 4 ? &entry.Elements()[0] : nullptr;
}

}  // namespace

void TQelBaseComponent::PrepareRowValues() {
    const std::size_t m = mappingEntries_.Count();
    const bool keysCount = ModeUsesKeys(mode_);
    const std::size_t k = keysCount ? keyEntries_.Count() : 0;
    unboundNames_.clear();
    if (m == 0 && k == 0) {
        rowValues_ = Variant::Null();
        return;
    }
    static const Variant::Array kNone;
    const Variant::Array& mapping = m ? mappingEntries_.Elements() : kNone;
    const Variant::Array& keys = k ? keyEntries_.Elements() : kNone;

    auto mappedName = [&](const Variant& name) {
        return std::any_of(mapping.begin(), mapping.end(), [&](const Variant& e) {
            const Variant* n = EntryName(e);
            return n && n->SameAs(name);
        });
    };

    std::size_t size = m;
    for (const Variant& key : keys) {
        const Variant* n = EntryName(key);
        if (n && !mappedName(*n)) ++size;
    }
    Variant::Array rows(size);
    for (std::size_t i = 0; i < m; ++i) rows[i] = mapping[i];
    for (const Variant& key : keys) {
        const Variant* n = EntryName(key);
        if (!n) continue;
        for (Variant& slot : rows) {
            const Variant* sn = EntryName(slot);
            if (slot.IsEmpty() || (sn && sn->SameAs(*n))) {
                slot = key;
                break;
            }
        }
    }
    // Bind every entry to its destination field.
    TDataSet* ds = dataSet_;
    for (Variant& row : rows) {
        const Variant* n = EntryName(row);
        if (!n) continue;
        TField* f = ds ? ds->FindField(VarToStr(*n)) : nullptr;
        row[3] = std::int32_t{f ? f->Index() : -1};
    }
    // Point every mapping and key entry at the RowValues entry that carries its value.
    for (std::size_t j = 0; j < rows.size() && m > 0; ++j) {
        const Variant* n = EntryName(rows[j]);
        if (!n) continue;
        for (Variant& entry : mappingEntries_.MutableElements()) {
            const Variant* en = EntryName(entry);
            if (en && en->SameAs(*n)) {
                entry[3] = static_cast<std::int32_t>(j);
                break;
            }
        }
    }
    if (keysCount && k) {
        Variant::Array& keyOut = keyEntries_.MutableElements();
        for (Variant& key : keyOut) {
            const Variant* n = EntryName(key);
            if (!n) continue;
            for (std::size_t j = 0; j < rows.size(); ++j) {
                const Variant* rn = EntryName(rows[j]);
                if (rn && rn->SameAs(*n)) {
                    key[3] = static_cast<std::int32_t>(j);
                    break;
                }
            }
        }
    }
    rowValues_ = Variant(std::move(rows));
    unboundNames_.assign(rowValues_.Count(), std::string());
}

}  // namespace qel
