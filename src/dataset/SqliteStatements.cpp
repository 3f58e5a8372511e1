#include "dataset/SqliteStatements.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/DateTime.h"
#include "core/Errors.h"

namespace qel {

namespace {

Variant IntegerVariant(sqlite3_int64 v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<std::int32_t>(v));
    return Variant(static_cast<double>(v));  // beyond 32 bits: kept as a number, not cut
}

}  // namespace

void TSqliteStmtDeleter::operator()(sqlite3_stmt* s) const {
    sqlite3_finalize(s);
}

TStatementUse::~TStatementUse() {
    sqlite3_reset(s_);
    if (clear_) sqlite3_clear_bindings(s_);
}

std::string SqliteColumnText(sqlite3_stmt* s, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)))
             : std::string();
}

int BindSqliteValue(sqlite3_stmt* s, int param, const Variant& v, TFieldType type) {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            return sqlite3_bind_null(s, param);
        case Variant::vkInteger:
            return sqlite3_bind_int64(s, param, v.IntegerValue());
        case Variant::vkReal:
            if (IsIntegerFieldType(type)) {
                return sqlite3_bind_int64(s, param,
                                          static_cast<sqlite3_int64>(std::llround(v.RealValue())));
            }
            return sqlite3_bind_double(s, param, v.RealValue());
        case Variant::vkBoolean:
            return sqlite3_bind_int(s, param, v.BooleanValue() ? 1 : 0);
        case Variant::vkDateTime: {
            // Dates and times as ISO-8601 text, which SQLite's date functions read.
            std::string iso = DateTimeToIso(v.RealValue(), type != ftTime, type != ftDate);
            return sqlite3_bind_text(s, param, iso.data(), static_cast<int>(iso.size()),
                                     SQLITE_TRANSIENT);
        }
        case Variant::vkText: {
            const std::string& t = v.TextValue();
            if (IsBinaryFieldType(type))
                return sqlite3_bind_blob64(s, param, t.data(), t.size(), SQLITE_STATIC);
            return sqlite3_bind_text64(s, param, t.data(), t.size(), SQLITE_STATIC, SQLITE_UTF8);
        }
        case Variant::vkArray:
            break;
    }
    throw EVariantError(msg::kInvalidVarCast);
}

Variant SqliteColumnValue(sqlite3_stmt* s, int col, TFieldType type) {
    switch (sqlite3_column_type(s, col)) {
        case SQLITE_NULL:
            return Variant::Null();
        case SQLITE_INTEGER: {
            sqlite3_int64 v = sqlite3_column_int64(s, col);
            if (type == ftBoolean) return Variant(v != 0);
            if (IsTextFieldType(type)) return Variant(SqliteColumnText(s, col));
            return IntegerVariant(v);
        }
        case SQLITE_FLOAT: {
            double d = sqlite3_column_double(s, col);
            if (type == ftBoolean) return Variant(d != 0.0);
            if (IsTextFieldType(type)) return Variant(SqliteColumnText(s, col));
            return Variant(d);
        }
        case SQLITE_TEXT: {
            std::string text = SqliteColumnText(s, col);
            if (type == ftDate || type == ftTime || type == ftDateTime) {
                TDateTime dt;
                if (TryIsoToDateTime(text, dt)) return Variant::FromDateTime(dt);
            }
            return Variant(std::move(text));  // anything else stored there is shown as it is
        }
        default: {  // BLOB: bytes
            const auto* p = static_cast<const char*>(sqlite3_column_blob(s, col));
            return Variant(
                std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, col))));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The statements of one table

void TSqliteStatements::Attach(sqlite3* db, std::string quotedTable, std::string rowid,
                               std::vector<std::string> quotedColumns) {
    Release();
    db_ = db;
    quotedTable_ = std::move(quotedTable);
    rowid_ = std::move(rowid);
    quotedColumns_ = std::move(quotedColumns);
}

void TSqliteStatements::Release() noexcept {
    begin_.reset();
    commit_.reset();
    rollback_.reset();
    first_.reset();
    last_.reset();
    next_.reset();
    prior_.reset();
    read_.reset();
    delete_.reset();
    recNo_.reset();
    page_.reset();
    pageFrom_.reset();
    inserts_.clear();
    lastInsert_ = nullptr;
    lastInsertPattern_.clear();
    insertRows_.clear();
    lastInsertRows_ = nullptr;
    lastInsertRowsPattern_.clear();
    updates_.clear();
    lastUpdate_ = nullptr;
    lastUpdatePattern_.clear();
    locates_.clear();
    lastLocate_ = nullptr;
    lastLocateKey_.clear();
    keyWalks_.clear();
    db_ = nullptr;
}

sqlite3_stmt* TSqliteStatements::Prepare(TSqliteStmt& slot, const std::string& sql) {
    if (slot) return slot.get();
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        prepareError_ = rc;
        return nullptr;
    }
    slot.reset(s);
    return s;
}

std::string TSqliteStatements::ColumnList() const {
    std::string out;
    for (const std::string& c : quotedColumns_) out += ", " + c;
    return out;
}

sqlite3_stmt* TSqliteStatements::Begin() {
    return Prepare(begin_, "BEGIN IMMEDIATE");
}

sqlite3_stmt* TSqliteStatements::Commit() {
    return Prepare(commit_, "COMMIT");
}

sqlite3_stmt* TSqliteStatements::Rollback() {
    return Prepare(rollback_, "ROLLBACK");
}

sqlite3_stmt* TSqliteStatements::First() {
    return Prepare(
        first_, "SELECT " + rowid_ + " FROM " + quotedTable_ + " ORDER BY " + rowid_ + " LIMIT 1");
}

sqlite3_stmt* TSqliteStatements::Last() {
    return Prepare(last_, "SELECT " + rowid_ + " FROM " + quotedTable_ + " ORDER BY " + rowid_ +
                              " DESC LIMIT 1");
}

sqlite3_stmt* TSqliteStatements::Next() {
    return Prepare(next_, "SELECT " + rowid_ + " FROM " + quotedTable_ + " WHERE " + rowid_ +
                              " > ?1 ORDER BY " + rowid_ + " LIMIT 1");
}

sqlite3_stmt* TSqliteStatements::Prior() {
    return Prepare(prior_, "SELECT " + rowid_ + " FROM " + quotedTable_ + " WHERE " + rowid_ +
                               " < ?1 ORDER BY " + rowid_ + " DESC LIMIT 1");
}

sqlite3_stmt* TSqliteStatements::Read() {
    return Prepare(read_, "SELECT " + rowid_ + ColumnList() + " FROM " + quotedTable_ + " WHERE " +
                              rowid_ + " = ?1");
}

sqlite3_stmt* TSqliteStatements::Page(bool fromAnchor) {
    const std::string select = "SELECT " + rowid_ + ColumnList() + " FROM " + quotedTable_;
    if (fromAnchor) {
        return Prepare(pageFrom_, select + " WHERE " + rowid_ + " >= ?1 ORDER BY " + rowid_ +
                                      " LIMIT ?2 OFFSET ?3");
    }
    return Prepare(page_, select + " ORDER BY " + rowid_ + " LIMIT ?2 OFFSET ?3");
}

sqlite3_stmt* TSqliteStatements::RecNo() {
    return Prepare(recNo_, "SELECT count(*) FROM " + quotedTable_ + " WHERE " + rowid_ + " <= ?1");
}

TSqliteStmt& TSqliteStatements::PatternSlot(std::unordered_map<std::string, TSqliteStmt>& map,
                                            const TFieldFlags& assigned, TSqliteStmt*& last,
                                            TFieldFlags& lastPattern) {
    if (last == nullptr || assigned != lastPattern) {
        key_.assign(assigned.size(), '0');
        for (std::size_t i = 0; i < assigned.size(); ++i) key_[i] = assigned[i] ? '1' : '0';
        last = &map[key_];
        lastPattern = assigned;
    }
    return *last;
}

std::string TSqliteStatements::InsertSql(const TFieldFlags& assigned, int rows) const {
    std::string cols, params;
    int n = 0;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        cols += (n ? ", " : "") + quotedColumns_[i];
        params += n ? ", ?" : "?";
        params += std::to_string(++n);
    }
    if (n == 0) return "INSERT INTO " + quotedTable_ + " DEFAULT VALUES";
    std::string values = "(" + params + ")";
    for (int r = 1; r < rows; ++r) {
        values += ", (";
        for (int k = 1; k <= n; ++k) values += (k > 1 ? ", ?" : "?") + std::to_string(r * n + k);
        values += ")";
    }
    return "INSERT INTO " + quotedTable_ + " (" + cols + ") VALUES " + values;
}

sqlite3_stmt* TSqliteStatements::Insert(const TFieldFlags& assigned) {
    TSqliteStmt& slot = PatternSlot(inserts_, assigned, lastInsert_, lastInsertPattern_);
    if (slot) return slot.get();
    return Prepare(slot, InsertSql(assigned, 1));
}

sqlite3_stmt* TSqliteStatements::InsertRows(const TFieldFlags& assigned, int rows) {
    TSqliteStmt& slot = PatternSlot(insertRows_, assigned, lastInsertRows_, lastInsertRowsPattern_);
    // The kept statement is of the row count asked for when it has that many parameters.
    const auto fields = static_cast<int>(
        std::count_if(assigned.begin(), assigned.end(), [](char a) { return a != 0; }));
    if (slot && sqlite3_bind_parameter_count(slot.get()) != rows * fields) slot.reset();
    if (slot) return slot.get();
    return Prepare(slot, InsertSql(assigned, rows));
}

sqlite3_stmt* TSqliteStatements::Update(const TFieldFlags& assigned) {
    TSqliteStmt& slot = PatternSlot(updates_, assigned, lastUpdate_, lastUpdatePattern_);
    if (slot) return slot.get();
    std::string sets;
    int k = 0;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        sets += (k ? ", " : "") + quotedColumns_[i] + " = ?";
        sets += std::to_string(++k);
    }
    return Prepare(slot, "UPDATE " + quotedTable_ + " SET " + sets + " WHERE " + rowid_ + " = ?" +
                             std::to_string(k + 1));
}

sqlite3_stmt* TSqliteStatements::Delete() {
    return Prepare(delete_, "DELETE FROM " + quotedTable_ + " WHERE " + rowid_ + " = ?1");
}

sqlite3_stmt* TSqliteStatements::Locate(const std::vector<int>& fieldIndexes,
                                        const std::vector<Variant>& values) {
    // The key: per key field its index and whether the value is null, text or another value.
    key_.clear();
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        key_.append(reinterpret_cast<const char*>(&fieldIndexes[k]), sizeof(int));
        key_ += values[k].IsNull() ? 'n' : values[k].IsText() ? 't' : 'v';
    }
    if (lastLocate_ == nullptr || key_ != lastLocateKey_) {
        lastLocate_ = &locates_[key_];
        lastLocateKey_ = key_;
    }
    TSqliteStmt& slot = *lastLocate_;
    if (slot) return slot.get();
    std::string where;
    int n = 0;
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        where += k ? " AND " : "";
        where += quotedColumns_[static_cast<std::size_t>(fieldIndexes[k])];
        if (values[k].IsNull()) {
            where += " IS NULL";
        } else {
            where += " = ?" + std::to_string(++n);
            // Exact, whatever collation the column declares.
            if (values[k].IsText()) where += " COLLATE BINARY";
        }
    }
    std::string columns;
    for (int f : fieldIndexes) columns += ", " + quotedColumns_[static_cast<std::size_t>(f)];
    return Prepare(slot, "SELECT " + rowid_ + columns + " FROM " + quotedTable_ + " WHERE " +
                             where + " ORDER BY " + rowid_ + " LIMIT 1");
}

std::string TSqliteStatements::KeyWalkSql(int field) const {
    const std::string& column = quotedColumns_[static_cast<std::size_t>(field)];
    return "SELECT " + rowid_ + ColumnList() + " FROM " + quotedTable_ + " WHERE " + column +
           " >= ?1 COLLATE BINARY ORDER BY " + column + " COLLATE BINARY, " + rowid_;
}

sqlite3_stmt* TSqliteStatements::KeyWalk(int field) {
    TSqliteStmt& slot = keyWalks_[field];
    if (slot) return slot.get();
    return Prepare(slot, KeyWalkSql(field));
}

TSqliteStmt TSqliteStatements::Rewrite(TReplayLog::TWriteKind kind,
                                       const std::vector<std::size_t>& fields) {
    std::string sql;
    if (kind == TReplayLog::wkInsert) {
        std::string cols = rowid_, params = "?1";
        for (std::size_t k = 0; k < fields.size(); ++k) {
            cols += ", " + quotedColumns_[fields[k]];
            params += ", ?" + std::to_string(k + 2);
        }
        sql = "INSERT INTO " + quotedTable_ + " (" + cols + ") VALUES (" + params + ")";
    } else if (kind == TReplayLog::wkUpdate) {
        std::string sets;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            sets += (k ? ", " : "") + quotedColumns_[fields[k]] + " = ?" + std::to_string(k + 2);
        }
        sql = "UPDATE " + quotedTable_ + " SET " + sets + " WHERE " + rowid_ + " = ?1";
    } else {
        sql = "DELETE FROM " + quotedTable_ + " WHERE " + rowid_ + " = ?1";
    }
    TSqliteStmt stmt;
    Prepare(stmt, sql);
    return stmt;
}

}  // namespace qel
