#include "dataset/DataSet.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/TextUtil.h"

namespace qel {

namespace {

constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53

std::vector<std::string> SplitNames(const std::string& names) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t end = names.find(';', start);
        std::string name =
            Trim(names.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!name.empty()) out.push_back(std::move(name));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

// Integer text of up to 64 bits (decimal, optional sign, blanks around).
bool TryTextToInt64(const std::string& text, long long& out) {
    std::string s = Trim(text);
    if (s.empty()) return false;
    std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i >= s.size()) return false;
    for (std::size_t k = i; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9') return false;
    }
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end != s.c_str() + s.size()) return false;
    out = v;
    return true;
}

}  // namespace

const char* FieldTypeName(TFieldType t) {
    static const char* kNames[] = {
        "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",   "ftBoolean",
        "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",   "ftDateTime",
        "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",   "ftGraphic",
        "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar",
        "ftWideString", "ftLargeint"};
    return t < std::size(kNames) ? kNames[t] : "ftUnknown";
}

bool operator==(const TFieldDef& a, const TFieldDef& b) {
    return a.Name == b.Name && a.DataType == b.DataType && a.Size == b.Size &&
           a.Required == b.Required;
}

// ---------------------------------------------------------------------------------------------
// TField

namespace {

// A number no earlier call in the process has given.
std::uint64_t NewSerial() {
    static std::atomic<std::uint64_t> made{0};
    return ++made;
}

}  // namespace

TField::TField(TDataSet* dataSet, TFieldDef def, int index)
    : dataSet_(dataSet), def_(std::move(def)), index_(index), serial_(NewSerial()) {}

TAlignment TField::Alignment() const {
    return IsNumeric() ? taRightJustify : taLeftJustify;
}

bool IsBinaryFieldType(TFieldType t) {
    switch (t) {
        case ftBlob:
        case ftBytes:
        case ftVarBytes:
        case ftGraphic:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
            return true;
        default:
            return false;
    }
}

bool IsIntegerFieldType(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}

bool IsLargeObjectFieldType(TFieldType t) {
    switch (t) {
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
            return true;
        default:
            return false;
    }
}

bool TField::IsNumeric() const {
    const TFieldType t = def_.DataType;
    return IsIntegerFieldType(t) || t == ftFloat || t == ftCurrency || t == ftBCD;
}

bool TField::IsDateTime() const {
    return def_.DataType == ftDate || def_.DataType == ftTime || def_.DataType == ftDateTime;
}

bool TField::IsFloat() const {
    return def_.DataType == ftFloat || def_.DataType == ftCurrency;
}

bool IsTextFieldType(TFieldType t) {
    return t == ftString || t == ftFixedChar || t == ftWideString || t == ftMemo || t == ftFmtMemo;
}

bool TField::IsBlob() const {
    return IsLargeObjectFieldType(def_.DataType);
}

bool TField::IsString() const {
    return IsTextFieldType(def_.DataType);
}

int TField::DisplayWidth() const {
    switch (def_.DataType) {
        case ftString:
        case ftFixedChar:
        case ftWideString:
            return def_.Size > 0 ? def_.Size : 20;
        case ftSmallint:
            return 6;
        case ftWord:
            return 5;
        case ftInteger:
        case ftAutoInc:
            return 11;
        case ftLargeint:
            return 15;
        case ftBoolean:
            return 5;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return 10;
        case ftDate:
        case ftTime:
            return 10;
        case ftDateTime:
            return 18;
        default:
            return 10;
    }
}

Variant TField::Value() const {
    if (index_ < 0 || dataSet_ == nullptr) return Variant::Null();
    return dataSet_->CurrentValue(index_);
}

void TField::SetValue(const Variant& v) {
    if (index_ < 0 || dataSet_ == nullptr) throw EDatabaseError(msg::kNotEditing);
    dataSet_->CheckEditing();
    if (v.IsText() && IsString()) {
        // A text for a text field is stored as it is: copied into the record's own value,
        // whose buffer the next record reuses.
        dataSet_->StoreValue(index_, v);
        return;
    }
    dataSet_->StoreValue(index_, Convert(v));
}

void TField::Clear() {
    SetValue(Variant::Null());
}

void TField::InvalidValue() const {
    throw EDatabaseError(Format(msg::kInvalidFieldValue, DisplayLabel()));
}

Variant TField::Convert(const Variant& v) const {
    if (v.IsNullOrEmpty()) return Variant::Null();
    if (v.IsArray()) InvalidValue();
    const TFieldType type = def_.DataType;
    if (v.IsText() && v.TextValue().empty() && !IsString() && type != ftUnknown) {
        return Variant::Null();
    }
    switch (type) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint: {
            double lo = -2147483648.0, hi = 2147483647.0;
            if (type == ftSmallint) lo = -32768.0, hi = 32767.0;
            if (type == ftWord) lo = 0.0, hi = 65535.0;
            if (type == ftLargeint) lo = -kMaxExactInteger, hi = kMaxExactInteger;
            double d = 0;
            switch (v.kind()) {
                case Variant::vkInteger:
                    d = v.IntegerValue();
                    break;
                case Variant::vkBoolean:
                    d = v.BooleanValue() ? -1.0 : 0.0;
                    break;
                case Variant::vkReal:
                    d = v.RealValue();
                    if (!std::isfinite(d) || d != std::trunc(d)) InvalidValue();
                    break;
                case Variant::vkText: {
                    long long ll;
                    std::int32_t i;
                    if (type == ftLargeint && TryTextToInt64(v.TextValue(), ll)) {
                        d = static_cast<double>(ll);
                        if (std::fabs(d) > kMaxExactInteger) InvalidValue();
                    } else if (TryStrToInt(Trim(v.TextValue()), i)) {
                        d = i;
                    } else {
                        InvalidValue();
                    }
                    break;
                }
                default:
                    InvalidValue();
            }
            if (d < lo || d > hi) InvalidValue();
            if (d >= -2147483648.0 && d <= 2147483647.0)
                return Variant(static_cast<std::int32_t>(d));
            return Variant(d);  // a large integer beyond 32 bits, exact as a double
        }
        case ftFloat:
        case ftCurrency:
        case ftBCD: {
            double d = 0;
            switch (v.kind()) {
                case Variant::vkInteger:
                    d = v.IntegerValue();
                    break;
                case Variant::vkReal:
                    d = v.RealValue();
                    break;
                case Variant::vkText:
                    if (!TryStrToFloat(Trim(v.TextValue()), d)) InvalidValue();
                    break;
                default:
                    InvalidValue();
            }
            if (!std::isfinite(d)) InvalidValue();
            return Variant(d);
        }
        case ftDate:
        case ftTime:
        case ftDateTime: {
            TDateTime dt = 0;
            switch (v.kind()) {
                case Variant::vkDateTime:
                case Variant::vkReal:
                    dt = v.RealValue();
                    break;
                case Variant::vkInteger:
                    dt = v.IntegerValue();
                    break;
                case Variant::vkText:
                    if (!TryIsoToDateTime(v.TextValue(), dt) && !TryStrToDate(v.TextValue(), dt)) {
                        InvalidValue();
                    }
                    break;
                default:
                    InvalidValue();
            }
            if (!IsInDateRange(dt)) InvalidValue();
            // Kept to the millisecond, as stored: the day and the time of day are rebuilt from
            // their parts, so a value reads back exactly as it was written.
            DateParts d = DecodeDate(dt);
            TimeParts t = DecodeTime(dt);
            TDateTime day = 0, time = 0;
            if (!TryEncodeDate(d.Year, d.Month, d.Day, day)) InvalidValue();
            TryEncodeTime(t.Hour, t.Minute, t.Second, t.MSec, time);
            if (type == ftDate) return Variant::FromDateTime(day);
            if (type == ftTime) return Variant::FromDateTime(time);
            return Variant::FromDateTime(day < 0 ? day - time : day + time);
        }
        case ftBoolean:
            switch (v.kind()) {
                case Variant::vkBoolean:
                    return v;
                case Variant::vkInteger:
                    return Variant(v.IntegerValue() != 0);
                case Variant::vkReal:
                    return Variant(v.RealValue() != 0.0);
                case Variant::vkText: {
                    std::string t = Trim(v.TextValue());
                    if (SameText(t, "True")) return Variant(true);
                    if (SameText(t, "False")) return Variant(false);
                    InvalidValue();
                }
                default:
                    InvalidValue();
            }
        case ftString:
        case ftFixedChar:
        case ftWideString:
        case ftMemo:
        case ftFmtMemo:
            if (v.IsText()) return v;
            try {
                return Variant(v.AsText());
            } catch (const EVariantError&) {
                InvalidValue();
            }
        case ftUnknown:
            return v;
        default:  // bytes and blobs hold text as bytes
            if (v.IsText()) return v;
            InvalidValue();
    }
}

// ---------------------------------------------------------------------------------------------
// TDataSet

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), fieldsVersion_(NewSerial()) {}

TDataSet::~TDataSet() {
    // Engines close in their own destructor (CloseQuietly); here only the views are told.
    std::vector<TDataLink*> links = links_;
    links_.clear();
    for (TDataLink* link : links) link->DataSetDestroyed();
    for (auto& f : fields_) f->dataSet_ = nullptr, f->index_ = -1;
}

void TDataSet::CheckActive() const {
    if (state_ == dsInactive) throw EDatabaseError(msg::kDataSetClosed);
}

void TDataSet::CheckInactive() const {
    if (state_ != dsInactive) throw EDatabaseError(msg::kDataSetOpen);
}

void TDataSet::CheckEditing() const {
    if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey) {
        throw EDatabaseError(msg::kNotEditing);
    }
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    if (state_ == dsEdit || state_ == dsInsert) Post();
}

void TDataSet::SetFieldDefs(const std::vector<TFieldDef>& defs) {
    // Fields that did not change survive (a reopening, another field defined), so pointers to
    // them stay valid.
    std::size_t keep = 0;
    while (keep < defs.size() && keep < fields_.size() && fields_[keep]->def_ == defs[keep]) ++keep;
    for (std::size_t i = keep; i < fields_.size(); ++i)
        fields_[i]->dataSet_ = nullptr, fields_[i]->index_ = -1;
    if (keep < fields_.size() || keep < defs.size()) fieldsVersion_ = NewSerial();
    fields_.resize(keep);
    for (std::size_t i = keep; i < defs.size(); ++i) {
        fields_.push_back(std::make_unique<TField>(this, defs[i], static_cast<int>(i)));
    }
    locateNames_.reset();
}

void TDataSet::Open() {
    if (state_ != dsInactive) return;
    SetFieldDefs(InternalOpen());
    buffer_.assign(fields_.size(), Variant::Null());
    assigned_.assign(fields_.size(), false);
    loaded_ = true;
    state_ = dsBrowse;
    try {
        First();
    } catch (...) {
        state_ = dsInactive;
        try {
            InternalClose();
        } catch (...) {
        }
        throw;
    }
}

namespace {
// Tells the bound views when the scope ends, whether or not the store raised: a view's failure
// to refresh must not hide the store's own outcome.
struct NotifyLinksOnExit {
    TDataSet* ds;
    ~NotifyLinksOnExit() {
        try {
            ds->NotifyDataLinks();
        } catch (...) {
        }
    }
};
}  // namespace

void TDataSet::Close() {
    if (state_ == dsInactive) return;
    if (state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) Cancel();
    state_ = dsInactive;
    SetNoCurrent();
    // A failed commit is reported after the dataset is closed; the engine has already
    // released the store.
    NotifyLinksOnExit notify{this};
    InternalClose();
}

void TDataSet::CloseQuietly() noexcept {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report: Close has released the store either way.
    }
}

void TDataSet::SetCurrent(TRecordId id) {
    hasCurrent_ = true;
    current_ = id;
    loaded_ = false;
    std::fill(assigned_.begin(), assigned_.end(), false);
}

void TDataSet::SetNoCurrent() {
    hasCurrent_ = false;
    recNo_ = 0;
    eof_ = bof_ = true;
    buffer_.assign(fields_.size(), Variant::Null());
    assigned_.assign(fields_.size(), false);
    loaded_ = true;
}

void TDataSet::EnsureLoaded() const {
    if (loaded_) return;
    loaded_ = true;
    if (!hasCurrent_) return;
    std::vector<Variant> values;
    auto* self = const_cast<TDataSet*>(this);
    if (!self->InternalRead(current_, values)) values.clear();
    values.resize(fields_.size(), Variant::Null());
    // Values written since Edit stay; the rest come from the store.
    for (std::size_t i = 0; i < buffer_.size(); ++i) {
        if (!assigned_[i]) buffer_[i] = std::move(values[i]);
    }
}

Variant TDataSet::CurrentValue(int index) const {
    if (state_ == dsInactive) return Variant::Null();
    EnsureLoaded();
    return buffer_[static_cast<std::size_t>(index)];
}

void TDataSet::StoreValue(int index, Variant&& v) {
    buffer_[static_cast<std::size_t>(index)] = std::move(v);
    assigned_[static_cast<std::size_t>(index)] = true;
}

void TDataSet::StoreValue(int index, const Variant& v) {
    buffer_[static_cast<std::size_t>(index)] = v;
    assigned_[static_cast<std::size_t>(index)] = true;
}

void TDataSet::First() {
    CheckBrowseMode();
    TRecordId id = 0;
    if (InternalSeek(skFirst, id)) {
        SetCurrent(id);
        recNo_ = 1;
        bof_ = true;
        eof_ = false;
    } else {
        SetNoCurrent();
    }
    NotifyDataLinks();
}

void TDataSet::Last() {
    CheckBrowseMode();
    TRecordId id = 0;
    if (InternalSeek(skLast, id)) {
        SetCurrent(id);
        recNo_ = -1;
        eof_ = true;
        bof_ = false;
    } else {
        SetNoCurrent();
    }
    NotifyDataLinks();
}

void TDataSet::Next() {
    CheckBrowseMode();
    if (!hasCurrent_ || eof_) return;
    TRecordId id = current_;
    if (InternalSeek(skNext, id)) {
        SetCurrent(id);
        if (recNo_ > 0) ++recNo_;
        bof_ = false;
    } else {
        eof_ = true;
    }
    NotifyDataLinks();
}

void TDataSet::Prior() {
    CheckBrowseMode();
    if (!hasCurrent_ || bof_) return;
    TRecordId id = current_;
    if (InternalSeek(skPrior, id)) {
        SetCurrent(id);
        if (recNo_ > 0) --recNo_;
        eof_ = false;
    } else {
        bof_ = true;
    }
    NotifyDataLinks();
}

bool TDataSet::IsEmpty() {
    return RecordCount() == 0;
}

std::int64_t TDataSet::RecordCount() {
    CheckActive();
    return InternalRecordCount();
}

std::int64_t TDataSet::RecNo() const {
    if (state_ == dsInactive || !hasCurrent_) return 0;
    if (state_ == dsInsert) return 0;
    if (recNo_ < 0) recNo_ = const_cast<TDataSet*>(this)->InternalRecNo(current_);
    return recNo_;
}

void TDataSet::Append() {
    CheckBrowseMode();
    savedHasCurrent_ = hasCurrent_;
    savedCurrent_ = current_;
    savedRecNo_ = recNo_;
    savedEof_ = eof_;
    savedBof_ = bof_;
    // The record buffer is emptied in place: its values keep their text buffers for the next
    // record's values.
    buffer_.resize(fields_.size());
    for (Variant& v : buffer_) v.ClearToNull();
    assigned_.assign(fields_.size(), false);
    loaded_ = true;
    state_ = dsInsert;
    NotifyDataLinks();
}

void TDataSet::Edit() {
    CheckActive();
    if (state_ == dsEdit || state_ == dsInsert) return;
    if (!hasCurrent_) throw EDatabaseError(msg::kEmptyDataSet);
    std::fill(assigned_.begin(), assigned_.end(), false);
    state_ = dsEdit;
    NotifyDataLinks();
}

void TDataSet::TakeRecordValues(std::vector<Variant>& values, const TFieldFlags& assigned) {
    CheckEditing();
    const std::size_t n = buffer_.size();
    if (values.size() != n || assigned.size() != n || assigned_.size() != n)
        throw EVariantError(msg::kVarArrayBounds);
    for (std::size_t i = 0; i < n; ++i) {
        if (!assigned[i]) continue;
        buffer_[i].Swap(values[i]);
        assigned_[i] = true;
    }
}

void TDataSet::Post() {
    CheckActive();
    CheckEditing();
    for (const auto& f : fields_) {
        if (!f->Required()) continue;
        auto i = static_cast<std::size_t>(f->Index());
        if (state_ == dsEdit && !assigned_[i]) continue;  // the stored value stands
        if (buffer_[i].IsNull())
            throw EDatabaseError(Format(msg::kFieldRequired, f->DisplayLabel()));
    }
    if (state_ == dsInsert) {
        TRecordId id = InternalInsert(buffer_, assigned_);
        SetCurrent(id);
        recNo_ = -1;
        eof_ = bof_ = false;
    } else {
        if (std::find(assigned_.begin(), assigned_.end(), true) != assigned_.end()) {
            InternalUpdate(current_, buffer_, assigned_);
        }
        SetCurrent(current_);
    }
    state_ = dsBrowse;
    NotifyDataLinks();
}

void TDataSet::Cancel() {
    CheckActive();
    if (state_ == dsBrowse) return;
    if (state_ == dsInsert) {
        if (savedHasCurrent_) {
            SetCurrent(savedCurrent_);
            recNo_ = savedRecNo_;
            eof_ = savedEof_;
            bof_ = savedBof_;
        } else {
            SetNoCurrent();
        }
    } else if (hasCurrent_) {
        SetCurrent(current_);
    }
    state_ = dsBrowse;
    NotifyDataLinks();
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert) {
        Cancel();
        return;
    }
    if (!hasCurrent_) throw EDatabaseError(msg::kEmptyDataSet);
    TRecordId id = current_;
    InternalDelete(id);
    state_ = dsBrowse;
    std::int64_t recNo = recNo_;
    TRecordId next = id;
    if (InternalSeek(skNext, next)) {
        SetCurrent(next);
        recNo_ = recNo;
        eof_ = bof_ = false;
    } else if (TRecordId prior = id; InternalSeek(skPrior, prior)) {
        SetCurrent(prior);
        recNo_ = recNo > 0 ? recNo - 1 : -1;
        eof_ = true;
        bof_ = false;
    } else {
        SetNoCurrent();
    }
    NotifyDataLinks();
}

TField* TDataSet::FindField(const std::string& name) const {
    for (const auto& f : fields_) {
        if (SameText(f->FieldName(), name)) return f.get();
    }
    return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
    TField* f = FindField(name);
    if (f == nullptr) throw EDatabaseError(Format(msg::kFieldNotFound, name));
    return f;
}

std::vector<int> TDataSet::FieldIndexes(const std::string& names) const {
    std::vector<int> out;
    for (const std::string& name : SplitNames(names)) out.push_back(FieldByName(name)->Index());
    if (out.empty()) throw EDatabaseError(Format(msg::kFieldNotFound, names));
    return out;
}

Variant TDataSet::FieldValues(const std::string& names) const {
    std::vector<int> indexes = FieldIndexes(names);
    if (indexes.size() == 1) return CurrentValue(indexes[0]);
    Variant::Array values;
    values.reserve(indexes.size());
    for (int i : indexes) values.push_back(CurrentValue(i));
    return Variant(std::move(values));
}

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues,
                      TLocateOptions options) {
    CheckBrowseMode();
    // A keyed run searches by the same names on every row: their fields are looked up once.
    if (!locateNames_ || *locateNames_ != keyFields) {
        locateNames_.reset();
        locateIndexes_ = FieldIndexes(keyFields);
        locateNames_ = keyFields;
    }
    const std::vector<int>& indexes = locateIndexes_;
    // The kept vector and its values' text buffers serve every search of the run.
    std::vector<Variant>& keys = locateKeys_;
    if (indexes.size() == 1) {
        // One key takes the value itself; a one-element array is read as that element.
        if (keyValues.IsArray() && keyValues.Count() != 1)
            throw EVariantError(msg::kInvalidVarCast);
        keys.resize(1);
        keys[0] = keyValues.IsArray() ? keyValues[0] : keyValues;
    } else {
        if (!keyValues.IsArray() || keyValues.Count() != indexes.size()) {
            throw EVariantError(msg::kInvalidVarCast);
        }
        keys = keyValues.Elements();
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
        TField* f = fields_[static_cast<std::size_t>(indexes[k])].get();
        // A text for a text field converts to itself.
        if (f->IsString() && keys[k].IsText()) continue;
        try {
            keys[k] = f->Convert(keys[k]);
        } catch (const EDatabaseError&) {
            return false;  // no stored value of this field can equal it
        }
    }
    TRecordId found = 0;
    if (!InternalLocate(indexes, keys, options, found)) return false;
    SetCurrent(found);
    recNo_ = -1;
    eof_ = bof_ = false;
    NotifyDataLinks();
    return true;
}

bool TDataSet::KeyMatches(const Variant& stored, const Variant& key, TLocateOptions options) {
    if (key.IsNull() || stored.IsNull()) return key.IsNull() && stored.IsNull();
    if (stored.IsText() && key.IsText()) {
        const std::string& s = stored.TextValue();
        const std::string& k = key.TextValue();
        if (options & loPartialKey) {
            if (s.size() < k.size()) return false;
            std::string_view prefix(s.data(), k.size());
            return (options & loCaseInsensitive) ? SameText(prefix, k) : prefix == k;
        }
        return (options & loCaseInsensitive) ? SameText(s, k) : s == k;
    }
    bool sNum = stored.IsNumeric() || stored.kind() == Variant::vkDateTime;
    bool kNum = key.IsNumeric() || key.kind() == Variant::vkDateTime;
    if (sNum && kNum) {
        double a = stored.kind() == Variant::vkInteger ? stored.IntegerValue() : stored.RealValue();
        double b = key.kind() == Variant::vkInteger ? key.IntegerValue() : key.RealValue();
        return a == b;
    }
    return stored == key;
}

bool TDataSet::InternalLocate(const std::vector<int>& fieldIndexes,
                              const std::vector<Variant>& values, TLocateOptions options,
                              TRecordId& found) {
    TRecordId id = 0;
    std::vector<Variant> record;
    for (bool ok = InternalSeek(skFirst, id); ok; ok = InternalSeek(skNext, id)) {
        if (!InternalRead(id, record)) continue;
        bool match = true;
        for (std::size_t k = 0; match && k < fieldIndexes.size(); ++k) {
            match =
                KeyMatches(record[static_cast<std::size_t>(fieldIndexes[k])], values[k], options);
        }
        if (match) {
            found = id;
            return true;
        }
    }
    return false;
}

std::int64_t TDataSet::InternalRecNo(TRecordId target) {
    TRecordId id = 0;
    std::int64_t n = 0;
    for (bool ok = InternalSeek(skFirst, id); ok; ok = InternalSeek(skNext, id)) {
        ++n;
        if (id == target) return n;
    }
    return 0;
}

void TDataSet::ReadRecords(std::int64_t first, std::int64_t count,
                           std::vector<std::vector<Variant>>& out) {
    out.clear();
    CheckActive();
    if (first < 0 || count <= 0) return;
    TRecordId id = 0;
    bool ok = InternalSeek(skFirst, id);
    for (std::int64_t i = 0; ok && i < first; ++i) ok = InternalSeek(skNext, id);
    for (; ok && static_cast<std::int64_t>(out.size()) < count; ok = InternalSeek(skNext, id)) {
        std::vector<Variant> values;
        if (!InternalRead(id, values)) continue;
        values.resize(fields_.size(), Variant::Null());
        out.push_back(std::move(values));
    }
}

void TDataSet::DisableControls() {
    ++disableCount_;
}

void TDataSet::EnableControls() {
    if (disableCount_ == 0) return;
    if (--disableCount_ > 0) return;
    // The views are refreshed even when the commit fails; the failure is then reported.
    NotifyLinksOnExit notify{this};
    if (Active()) InternalFlush();
}

void TDataSet::FlushBuffers() {
    if (Active()) InternalFlush();
}

void TDataSet::AddDataLink(TDataLink* link) {
    if (link != nullptr && std::find(links_.begin(), links_.end(), link) == links_.end()) {
        links_.push_back(link);
    }
}

void TDataSet::RemoveDataLink(TDataLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TDataSet::NotifyDataLinks() {
    if (disableCount_ > 0) return;
    std::vector<TDataLink*> links = links_;  // a view may unbind itself while being told
    for (TDataLink* link : links) {
        if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataSetChanged();
    }
}

}  // namespace qel
