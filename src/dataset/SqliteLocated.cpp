#include "dataset/SqliteLocated.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

#include "core/DateTime.h"

namespace qel {

void TSqliteStored::Read(sqlite3_stmt* s, int col) {
    Type = sqlite3_column_type(s, col);
    Integer = 0;
    Bytes.clear();
    if (Type == SQLITE_INTEGER) {
        Integer = sqlite3_column_int64(s, col);
    } else if (Type == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
        Bytes.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
    } else if (Type == SQLITE_BLOB) {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
        Bytes.assign(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, col)));
    }
}

// Follows BindSqliteValue (SqliteStatements.cpp) case by case; a test binds every case both ways.
bool BindsStoredValue(const Variant& v, TFieldType type, int storage, std::int64_t integer,
                      std::string_view bytes) {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            return storage == SQLITE_NULL;
        case Variant::vkInteger:
            return storage == SQLITE_INTEGER && integer == v.IntegerValue();
        case Variant::vkReal:
            // Bound as a rounded integer for an integer field, else as a float (never matched).
            return IsIntegerFieldType(type) && std::isfinite(v.RealValue()) &&
                   std::fabs(v.RealValue()) < 9.2e18 && storage == SQLITE_INTEGER &&
                   integer == static_cast<std::int64_t>(std::llround(v.RealValue()));
        case Variant::vkBoolean:
            return storage == SQLITE_INTEGER && integer == (v.BooleanValue() ? 1 : 0);
        case Variant::vkDateTime:
            return storage == SQLITE_TEXT &&
                   bytes == DateTimeToIso(v.RealValue(), type != ftTime, type != ftDate);
        case Variant::vkText:
            return storage == (IsBinaryFieldType(type) ? SQLITE_BLOB : SQLITE_TEXT) &&
                   bytes == v.TextValue();
        case Variant::vkArray:
            break;
    }
    return false;
}

bool TSqliteStored::IsBindingOf(const Variant& v, TFieldType type) const {
    return BindsStoredValue(v, type, Type, Integer, Bytes);
}

bool RowHoldsValues(sqlite3_stmt* s, int firstColumn, const std::vector<Variant>& values,
                    const std::vector<TFieldDef>& defs, const TFieldFlags& assigned) {
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        const int col = firstColumn + static_cast<int>(i);
        const int storage = sqlite3_column_type(s, col);
        std::int64_t integer = 0;
        std::string_view bytes;
        if (storage == SQLITE_INTEGER) {
            integer = sqlite3_column_int64(s, col);
        } else if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
            const void* p =
                storage == SQLITE_TEXT ? sqlite3_column_text(s, col) : sqlite3_column_blob(s, col);
            const auto n = static_cast<std::size_t>(sqlite3_column_bytes(s, col));
            if (n > 0) bytes = std::string_view(static_cast<const char*>(p), n);
        }
        if (!BindsStoredValue(values[i], defs[i].DataType, storage, integer, bytes)) return false;
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
