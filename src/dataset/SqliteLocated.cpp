#include "dataset/SqliteLocated.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

#include "core/DateTime.h"

namespace qel {

TSqliteStoredView TSqliteStoredView::Of(sqlite3_stmt* s, int col) {
    // One call into the statement, then the value's own accessors: each sqlite3_column_* call
    // checks the statement and its error state again, and the walk reads every column of every
    // record it stands on.
    sqlite3_value* x = sqlite3_column_value(s, col);
    TSqliteStoredView v;
    v.Type = sqlite3_value_type(x);
    if (v.Type == SQLITE_INTEGER) {
        v.Integer = sqlite3_value_int64(x);
    } else if (v.Type == SQLITE_TEXT || v.Type == SQLITE_BLOB) {
        const void* p = v.Type == SQLITE_TEXT ? sqlite3_value_text(x) : sqlite3_value_blob(x);
        const auto n = static_cast<std::size_t>(sqlite3_value_bytes(x));
        if (p != nullptr && n > 0) v.Bytes = std::string_view(static_cast<const char*>(p), n);
    }
    return v;
}

void TSqliteStored::Read(sqlite3_stmt* s, int col) {
    const TSqliteStoredView v = TSqliteStoredView::Of(s, col);
    Type = v.Type;
    Integer = v.Integer;
    Bytes.assign(v.Bytes);
}

// Follows BindSqliteValue (SqliteStatements.cpp) case by case; a test binds every case both ways.
bool TSqliteStoredView::IsBindingOf(const Variant& v, TFieldType type) const {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            return Type == SQLITE_NULL;
        case Variant::vkInteger:
            return Type == SQLITE_INTEGER && Integer == v.IntegerValue();
        case Variant::vkReal:
            // Bound as a rounded integer for an integer field, else as a float (never matched).
            return IsIntegerFieldType(type) && std::isfinite(v.RealValue()) &&
                   std::fabs(v.RealValue()) < 9.2e18 && Type == SQLITE_INTEGER &&
                   Integer == static_cast<std::int64_t>(std::llround(v.RealValue()));
        case Variant::vkBoolean:
            return Type == SQLITE_INTEGER && Integer == (v.BooleanValue() ? 1 : 0);
        case Variant::vkDateTime:
            return Type == SQLITE_TEXT &&
                   Bytes == DateTimeToIso(v.RealValue(), type != ftTime, type != ftDate);
        case Variant::vkText:
            return Type == (IsBinaryFieldType(type) ? SQLITE_BLOB : SQLITE_TEXT) &&
                   Bytes == v.TextValue();
        case Variant::vkArray:
            break;
    }
    return false;
}

bool RowHoldsValues(sqlite3_stmt* s, int firstColumn, const std::vector<Variant>& values,
                    const std::vector<TFieldDef>& defs, const TFieldFlags& assigned) {
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (assigned[i] && !TSqliteStoredView::Of(s, firstColumn + static_cast<int>(i))
                                .IsBindingOf(values[i], defs[i].DataType))
            return false;
    }
    return true;
}

void TLocatedRecord::KeepText(TRecordId id, std::uint64_t serial, int field,
                              const std::string& text) {
    kept_ = true;
    id_ = id;
    serial_ = serial;
    fields_.assign(1, field);
    if (stored_.empty()) stored_.resize(1);
    stored_[0].Type = SQLITE_TEXT;
    stored_[0].Integer = 0;
    stored_[0].Bytes.assign(text);
}

void TLocatedRecord::Keep(TRecordId id, std::uint64_t serial, sqlite3_stmt* s, int firstColumn,
                          const std::vector<int>& fieldIndexes) {
    kept_ = true;
    id_ = id;
    serial_ = serial;
    fields_ = fieldIndexes;
    if (stored_.size() < fields_.size()) stored_.resize(fields_.size());
    for (std::size_t k = 0; k < fields_.size(); ++k)
        stored_[k].Read(s, firstColumn + static_cast<int>(k));
}

bool TLocatedRecord::LeaveOutUnchanged(const std::vector<Variant>& values,
                                       const std::vector<TFieldDef>& defs,
                                       const TFieldFlags& assigned, TFieldFlags& out) const {
    if (!kept_) return false;
    bool leftOut = false;
    for (std::size_t k = 0; k < fields_.size(); ++k) {
        const auto f = static_cast<std::size_t>(fields_[k]);
        if (f >= assigned.size() || !assigned[f]) continue;
        if (!stored_[k].IsBindingOf(values[f], defs[f].DataType)) continue;
        if (!leftOut) out = assigned;
        out[f] = false;
        leftOut = true;
    }
    if (!leftOut) return false;
    // With every assigned field unchanged the update is written as it is.
    return std::find(out.begin(), out.end(), true) != out.end();
}

}  // namespace qel
