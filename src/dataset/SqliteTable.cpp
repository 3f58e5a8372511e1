#include "dataset/SqliteTable.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "core/Errors.h"
#include "core/TextUtil.h"
#include "dataset/SqliteJoinedWrites.h"

namespace qel {

namespace {

namespace fs = std::filesystem;

constexpr int kAnchorStep = 64;  // every 64th position read by a view is remembered
constexpr std::size_t kMaxAnchors = 65536;

}  // namespace

void TSqliteTable::ConfigureProcess() {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

TSqliteTable::TSqliteTable(TComponent* owner) : TDataSet(owner) {}

TSqliteTable::~TSqliteTable() {
    CloseQuietly();
    ReleaseConnection();
}

void TSqliteTable::SetDatabaseName(const std::string& name) {
    CheckInactive();
    databaseName_ = name;
}

void TSqliteTable::SetTableName(const std::string& name) {
    CheckInactive();
    tableName_ = name;
}

void TSqliteTable::SetBusyTimeout(int ms) {
    busyTimeout_ = ms < 0 ? 0 : ms;
    if (db_ != nullptr) sqlite3_busy_timeout(db_, busyTimeout_);
}

void TSqliteTable::SetReadOnly(bool readOnly) {
    CheckInactive();
    readOnly_ = readOnly;
}

void TSqliteTable::SetRequestedTable(const std::string& name) {
    CheckInactive();
    requestedTable_ = name;
}

std::string TSqliteTable::FileName() const {
    if (databaseName_.empty()) return tableName_;
    return (fs::path(databaseName_) / fs::path(tableName_)).string();
}

sqlite3* TSqliteTable::Handle() {
    FlushInserts();
    // What the caller does through the connection is unknown to the table: what it knows of
    // the records (their count, positions, the next rowid, the last search) is read again.
    walk_.Stop();
    ++serial_;
    count_ = -1;
    anchors_.clear();
    nextRowid_ = 0;
    return db_;
}

bool TSqliteTable::InTransaction() const {
    return db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
}

std::string TSqliteTable::ChooseTable(const std::vector<std::string>& tables,
                                      const std::string& requested, const std::string& fileName,
                                      std::string& wanted) {
    if (requested.empty() && tables.size() == 1) {
        wanted = tables[0];
        return wanted;
    }
    wanted = requested.empty() ? fs::path(fileName).stem().string() : requested;
    // SQLite matches table names without regard to ASCII letter case.
    for (const std::string& t : tables) {
        if (SameText(t, wanted)) return t;
    }
    return {};
}

std::string TSqliteTable::QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

TFieldType TSqliteTable::FieldTypeOf(const std::string& declared, int& size) {
    size = 0;
    std::string decl = UpperCase(Trim(declared));
    std::string base = decl;
    if (auto paren = decl.find('('); paren != std::string::npos) {
        base = Trim(decl.substr(0, paren));
        std::int32_t n = 0;
        std::string arg = decl.substr(paren + 1);
        arg = arg.substr(0, arg.find_first_of(",)"));
        if (TryStrToInt(Trim(arg), n) && n > 0) size = n;
    }
    // Collapse inner runs of blanks ("DOUBLE  PRECISION").
    std::string name;
    for (char c : base) {
        if (c == ' ' && (name.empty() || name.back() == ' ')) continue;
        name += c;
    }
    struct Entry {
        const char* name;
        TFieldType type;
    };
    static const Entry kTypes[] = {
        {"INTEGER", ftInteger},
        {"INT", ftInteger},
        {"MEDIUMINT", ftInteger},
        {"SMALLINT", ftSmallint},
        {"TINYINT", ftSmallint},
        {"INT2", ftSmallint},
        {"BIGINT", ftLargeint},
        {"INT8", ftLargeint},
        {"UNSIGNED BIG INT", ftLargeint},
        {"REAL", ftFloat},
        {"FLOAT", ftFloat},
        {"DOUBLE", ftFloat},
        {"DOUBLE PRECISION", ftFloat},
        {"NUMERIC", ftBCD},
        {"DECIMAL", ftBCD},
        {"MONEY", ftCurrency},
        {"CURRENCY", ftCurrency},
        {"BOOLEAN", ftBoolean},
        {"BOOL", ftBoolean},
        {"DATE", ftDate},
        {"TIME", ftTime},
        {"DATETIME", ftDateTime},
        {"TIMESTAMP", ftDateTime},
        {"CHAR", ftString},
        {"CHARACTER", ftString},
        {"VARCHAR", ftString},
        {"VARYING CHARACTER", ftString},
        {"NCHAR", ftString},
        {"NATIVE CHARACTER", ftString},
        {"NVARCHAR", ftString},
        {"TEXT", ftString},
        {"CLOB", ftMemo},
        {"MEMO", ftMemo},
        {"BLOB", ftBlob},
    };
    for (const Entry& e : kTypes) {
        if (name == e.name) {
            if (e.type != ftString) size = 0;
            return e.type;
        }
    }
    // Other names by SQLite's own affinity rules.
    if (ContainsText(name, "CHAR") || ContainsText(name, "CLOB") || ContainsText(name, "TEXT")) {
        return ContainsText(name, "INT") ? (size = 0, ftInteger) : ftString;
    }
    size = 0;
    if (name.empty()) return ftUnknown;
    if (ContainsText(name, "INT")) return ftInteger;
    if (ContainsText(name, "BLOB")) return ftBlob;
    if (ContainsText(name, "REAL") || ContainsText(name, "FLOA") || ContainsText(name, "DOUB"))
        return ftFloat;
    return ftUnknown;
}

// ---------------------------------------------------------------------------------------------
// Statements and errors

sqlite3_stmt* TSqliteTable::Ready(sqlite3_stmt* s) {
    if (s == nullptr) {
        throw EDatabaseError(FailureText("prepare a statement for", statements_.PrepareError()));
    }
    return s;
}

std::string TSqliteTable::FailureText(const char* action, int rc) const {
    std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
        detail += Format(" (another connection holds the lock; waited %d ms)", busyTimeout_);
    }
    return Format("Cannot %s table '%s': %s", action, sqlTable_, detail);
}

std::int64_t TSqliteTable::InternalRecordCount() {
    if (count_ < 0) {
        FlushInserts();
        sqlite3_stmt* s = nullptr;
        const std::string sql = "SELECT count(*) FROM " + quotedTable_;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
            throw EDatabaseError(FailureText("read", sqlite3_errcode(db_)));
        TSqliteStmt guard(s);
        Step(s, "read");
        count_ = sqlite3_column_int64(s, 0);
    }
    return count_;
}

bool TSqliteTable::Step(sqlite3_stmt* s, const char* action) {
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // The statement's own error code (sqlite3_step already returns it with v2/v3 statements).
    std::string text = FailureText(action, rc);
    text += RecoverTakenBackWrites();
    throw EDatabaseError(text);
}

void TSqliteTable::Bind(sqlite3_stmt* s, int param, const Variant& v, TFieldType type) {
    const int rc = BindSqliteValue(s, param, v, type);
    if (rc != SQLITE_OK) throw EDatabaseError(FailureText("bind a value for", rc));
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

std::vector<TFieldDef> TSqliteTable::InternalOpen() {
    std::string file = FileName();
    if (tableName_.empty()) throw EDatabaseError("Cannot open table: TableName is not set");
    std::error_code ec;
    if (!fs::exists(fs::path(file), ec)) {
        throw EDatabaseError(Format("Cannot open table file '%s': the file does not exist", file));
    }
    if (fs::is_directory(fs::path(file), ec)) {
        throw EDatabaseError(Format("Cannot open table file '%s': it is a folder", file));
    }
    // Never SQLITE_OPEN_CREATE: opening must not make or change a file.
    // A table, like every dataset, is used by one thread at a time, so its connection goes
    // without a mutex of its own (SQLite would otherwise take one on every call).
    int flags = (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    // Through the layer that joins consecutive page writes into one (SqliteJoinedWrites.h).
    int rc = sqlite3_open_v2(file.c_str(), &db_, flags, SqliteJoinedWritesVfs());
    auto fail = [&](const std::string& why) {
        ReleaseConnection();
        throw EDatabaseError(Format("Cannot open table file '%s': %s", file, why));
    };
    if (rc != SQLITE_OK) fail(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_busy_timeout(db_, busyTimeout_);
    sqlite3_extended_result_codes(db_, 1);

    // The table, by ChooseTable.
    std::vector<std::string> tables;
    std::string createSql;
    {
        sqlite3_stmt* s = nullptr;
        const char* sql =
            "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
            "'sqlite\\_%' ESCAPE '\\'";
        rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
        TSqliteStmt guard(s);
        if (rc != SQLITE_OK) {
            std::string why = sqlite3_errmsg(db_);
            if ((rc & 0xFF) == SQLITE_BUSY) why += Format(" (waited %d ms)", busyTimeout_);
            fail(why);
        }
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) tables.push_back(SqliteColumnText(s, 0));
        if (rc != SQLITE_DONE) {
            std::string why = sqlite3_errmsg(db_);
            if ((rc & 0xFF) == SQLITE_BUSY) why += Format(" (waited %d ms)", busyTimeout_);
            fail(why);
        }
    }
    std::string wanted;
    sqlTable_ = ChooseTable(tables, requestedTable_, tableName_, wanted);
    if (sqlTable_.empty()) {
        ReleaseConnection();
        throw EDatabaseError(Format("Table '%s' not found in '%s'", wanted, file));
    }
    if (!readOnly_ && sqlite3_db_readonly(db_, "main") == 1) {
        fail("the file is read-only");
    }
    quotedTable_ = QuoteName(sqlTable_);

    // The columns and their declared types.
    defs_.clear();
    quotedColumns_.clear();
    notNull_.clear();
    std::string aliasColumn;
    {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1",
                           -1, &s, nullptr);
        TSqliteStmt guard(s);
        sqlite3_bind_text(s, 1, sqlTable_.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(s) == SQLITE_ROW) createSql = UpperCase(SqliteColumnText(s, 0));
    }
    {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(
            db_, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1)", -1,
            &s, nullptr);
        TSqliteStmt guard(s);
        if (rc != SQLITE_OK) fail(sqlite3_errmsg(db_));
        sqlite3_bind_text(s, 1, sqlTable_.c_str(), -1, SQLITE_TRANSIENT);
        int pkColumns = 0;
        std::string pkName, pkType;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            TFieldDef def;
            def.Name = SqliteColumnText(s, 0);
            std::string declared = SqliteColumnText(s, 1);
            def.DataType = FieldTypeOf(declared, def.Size);
            bool notNull = sqlite3_column_int(s, 2) != 0;
            notNull_.push_back(notNull ? 1 : 0);
            bool hasDefault = sqlite3_column_type(s, 3) != SQLITE_NULL;
            def.Required = notNull && !hasDefault;
            if (sqlite3_column_int(s, 4) > 0) {
                ++pkColumns;
                pkName = def.Name;
                pkType = UpperCase(Trim(declared));
            }
            defs_.push_back(std::move(def));
        }
        if (rc != SQLITE_DONE) fail(sqlite3_errmsg(db_));
        // INTEGER PRIMARY KEY makes the column the rowid itself: SQLite fills it when left empty.
        if (pkColumns == 1 && pkType == "INTEGER") aliasColumn = pkName;
    }
    for (TFieldDef& def : defs_) {
        quotedColumns_.push_back(QuoteName(def.Name));
        if (!aliasColumn.empty() && def.Name == aliasColumn) {
            def.Required = false;
            if (ContainsText(createSql, "AUTOINCREMENT")) def.DataType = ftAutoInc;
        }
    }
    // The rowid: the alias column, or a rowid name no column hides.
    rowid_.clear();
    if (!aliasColumn.empty()) {
        rowid_ = QuoteName(aliasColumn);
    } else {
        for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
            bool hidden = false;
            for (const TFieldDef& d : defs_) hidden = hidden || SameText(d.Name, candidate);
            if (!hidden) {
                rowid_ = candidate;
                break;
            }
        }
    }
    {
        // The table is read once here (its last record); its records are counted only when
        // someone asks, since counting reads the whole table.
        sqlite3_stmt* s = nullptr;
        std::string sql = "SELECT max(" + (rowid_.empty() ? std::string("rowid") : rowid_) +
                          ") FROM " + quotedTable_;
        rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
        TSqliteStmt guard(s);
        if (rc != SQLITE_OK || rowid_.empty()) {
            ReleaseConnection();
            throw EDatabaseError(
                Format("Cannot open table '%s' in '%s': only tables with a rowid are supported",
                       sqlTable_, file));
        }
        rc = sqlite3_step(s);
        if (rc != SQLITE_ROW) fail(sqlite3_errmsg(db_));
        count_ = -1;
    }
    {
        sqlite3_stmt* s = nullptr;
        wal_ = false;
        bulkSync_ = false;
        if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            wal_ = SameText(SqliteColumnText(s, 0), "wal");
        }
        sqlite3_finalize(s);
    }
    cacheWidened_ = false;
    openedCacheSize_ = PragmaValue("cache_size");
    statements_.Attach(db_, quotedTable_, rowid_, quotedColumns_);
    rowidField_ = -1;
    for (std::size_t i = 0; i < quotedColumns_.size(); ++i) {
        if (quotedColumns_[i] == rowid_) rowidField_ = static_cast<int>(i);
    }
    batchFailed_ = false;
    pendingRows_ = 0;
    ForgetWrites();
    anchors_.clear();
    return defs_;
}

void TSqliteTable::ReleaseConnection() noexcept {
    ++serial_;
    ++transactions_;
    located_.Forget();
    walk_.Stop();
    batchRows_ = 0;
    nextRowid_ = 0;
    statements_.Release();
    anchors_.clear();
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void TSqliteTable::InternalClose() {
    if (db_ == nullptr) return;
    // The connection is released whatever happens; a commit that fails is reported after.
    std::string failure;
    if (InTransaction()) {
        try {
            Commit();
        } catch (const Exception& e) {
            failure = e.Message();
            std::int64_t lost = pendingRows_;
            if (sqlite3_get_autocommit(db_) == 0) {
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            lostRecords_ += lost;
            if (lost > 0)
                failure +=
                    Format("; %lld posted record(s) were not saved", static_cast<long long>(lost));
        }
    }
    pendingRows_ = 0;
    ForgetWrites();
    EndBulkSync();
    ReleaseConnection();
    if (!failure.empty()) throw EDatabaseError(failure);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TSqliteTable::CheckWritable() const {
    if (readOnly_) throw EDatabaseError(msg::kDataSetReadOnly);
}

bool TSqliteTable::BeginWrite() {
    CheckWritable();
    ++serial_;
    if (sqlite3_get_autocommit(db_) == 0) {
        if (log_.Size() < kMaxPendingWrites && log_.Bytes() < kMaxPendingBytes) return true;
        // A long stretch commits on its own before its next write, which bounds what a failure
        // can take back. When this commit fails, the record about to be written is not
        // written, so its caller's Cancel discards it.
        Commit();
    }
    if (wal_ && !bulkSync_ && ControlsDisabled() && !readOnly_) {
        bulkSync_ = sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) ==
                    SQLITE_OK;
    }
    sqlite3_stmt* s = Ready(statements_.Begin());
    TStatementUse use(s);
    Step(s, "start writing to");
    ++transactions_;
    pendingRows_ = 0;
    nextRowid_ = 0;  // another connection may have written since our last transaction
    ForgetWrites();
    return false;
}

void TSqliteTable::EndWrite() {
    ++pendingRows_;
    // A single edit outside a bulk run is committed at once, so no lock stays held by it.
    if (ControlsDisabled()) return;
    const std::int64_t lostBefore = lostRecords_;
    try {
        Commit();
    } catch (...) {
        // This write fails in its caller's hands: it is no lost posted record.
        if (lostRecords_ > lostBefore) --lostRecords_;
        // The transaction holds only this write: take it back, so that the caller's Cancel
        // (or a second Post) does not leave the record stored after all.
        RollBack();
        pendingRows_ = 0;
        ForgetWrites();
        throw;
    }
}

void TSqliteTable::RollBack() noexcept {
    walk_.Stop();
    ++serial_;
    ++transactions_;
    batchRows_ = 0;
    nextRowid_ = 0;
    if (!InTransaction()) return;
    sqlite3_stmt* r = statements_.Rollback();
    if (r == nullptr) return;
    TStatementUse use(r);
    sqlite3_step(r);
}

void TSqliteTable::InternalFlush() {
    Commit();
    if (!ControlsDisabled()) EndBulkSync();  // the end of the stretch, not a FlushBuffers in it
}

void TSqliteTable::EndBulkSync() noexcept {
    if (!bulkSync_ || db_ == nullptr || sqlite3_get_autocommit(db_) == 0) return;
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    bulkSync_ = false;
}

std::int64_t TSqliteTable::PragmaValue(const char* name) const {
    sqlite3_stmt* s = nullptr;
    std::int64_t value = 0;
    if (sqlite3_prepare_v2(db_, (std::string("PRAGMA ") + name).c_str(), -1, &s, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        value = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return value;
}

// A stretch that updates or deletes records rewrites pages all over the file, each first copied
// to the rollback journal. With SQLite's default cache (about 2 MB) the changed pages are
// written out long before the commit, each time after a sync of the journal. A cache of
// kRewriteCacheKiB holds the pages a keyed load of a log changes between two commits (measured:
// 1 to 13 % less time for the keyed run; an append gains nothing from it and keeps the
// default). A size the caller set through Handle() stays.
void TSqliteTable::WidenCacheForRewrites() {
    if (cacheWidened_ || !ControlsDisabled() || db_ == nullptr) return;
    cacheWidened_ = true;
    const std::int64_t current = PragmaValue("cache_size");
    if (current != openedCacheSize_) return;
    const std::int64_t kib = current < 0 ? -current : current * PragmaValue("page_size") / 1024;
    if (kib >= kRewriteCacheKiB) return;
    const std::string sql = "PRAGMA cache_size = -" + std::to_string(kRewriteCacheKiB);
    sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
}

void TSqliteTable::Commit() {
    walk_.Stop();  // no read of ours stays open across the transaction's end
    if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) return;
    // Records of a batch that cannot be written are lost; the others are committed all the
    // same, and then the loss is raised.
    std::string lost;
    try {
        FlushInserts();
    } catch (const EDatabaseError& e) {
        lost = e.Message();
    }
    if (sqlite3_get_autocommit(db_) == 0) {
        ++serial_;
        ++transactions_;
        if (beforeCommit_) beforeCommit_(db_);
        sqlite3_stmt* s = Ready(statements_.Commit());
        TStatementUse use(s);
        Step(s, "commit the records of");
        pendingRows_ = 0;
        ForgetWrites();
    }
    if (!lost.empty()) throw EDatabaseError(lost);
}

void TSqliteTable::WriteStep(sqlite3_stmt* s, const char* action) {
    try {
        Step(s, action);
    } catch (...) {
        // Outside a bulk stretch the transaction holds nothing posted: end it so that no lock
        // stays held after the failure. In a stretch the records posted before stay pending.
        if (!ControlsDisabled() && pendingRows_ == 0 && InTransaction()) {
            sqlite3_reset(s);
            RollBack();
        }
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Recovering the writes of a transaction SQLite took back

void TSqliteTable::RememberWrite(TReplayLog::TWriteKind kind, TRecordId id,
                                 const std::vector<Variant>* values, const TFieldFlags* assigned) {
    if (!ControlsDisabled()) return;  // committed at once; nothing to write again
    log_.Add(kind, id, values, assigned);
}

void TSqliteTable::ForgetWrites() {
    log_.Clear();
}

std::string TSqliteTable::RecoverTakenBackWrites() {
    walk_.Stop();
    // Still in the transaction, or nothing posted in it: nothing was taken back.
    if (pendingRows_ == 0 || db_ == nullptr || sqlite3_get_autocommit(db_) == 0) return {};
    if (ReplayLog()) return {};
    std::string lost =
        Format("; the write transaction was rolled back and %lld posted record(s) were lost",
               static_cast<long long>(pendingRows_));
    lostRecords_ += pendingRows_;
    pendingRows_ = 0;
    ForgetWrites();
    count_ = -1;  // counted again when asked
    anchors_.clear();
    return lost;
}

bool TSqliteTable::ReplayLog() noexcept {
    // Outside a stretch nothing is kept, so a posted record taken back cannot be written again.
    if (!log_.Replayable() || log_.Size() != static_cast<std::size_t>(pendingRows_)) return false;
    walk_.Stop();
    ++serial_;
    ++transactions_;
    batchRows_ = 0;
    nextRowid_ = 0;
    bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    try {
        TReplayLog::TWrite w;
        for (std::size_t i = 0; ok && i < log_.Size(); ++i) {
            log_.Get(i, w);
            Rewrite(w);
        }
        if (ok && beforeCommit_) beforeCommit_(db_);
    } catch (...) {
        ok = false;
    }
    ok = ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok && sqlite3_get_autocommit(db_) == 0)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (ok) {
        pendingRows_ = 0;
        ForgetWrites();
    }
    return ok;
}

void TSqliteTable::Rewrite(const TReplayLog::TWrite& w) {
    std::vector<std::size_t> fields;  // the assigned fields, bound in this order
    for (std::size_t i = 0; i < w.Assigned.size(); ++i) {
        // An insert gives the record the rowid it was given the first time, as ?1.
        if (w.Assigned[i] && !(w.Kind == TReplayLog::wkInsert && quotedColumns_[i] == rowid_))
            fields.push_back(i);
    }
    TSqliteStmt stmt = statements_.Rewrite(w.Kind, fields);
    sqlite3_stmt* s = Ready(stmt.get());
    sqlite3_bind_int64(s, 1, w.Id);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        Bind(s, static_cast<int>(k) + 2, w.Values[fields[k]], defs_[fields[k]].DataType);
    }
    if (sqlite3_step(s) != SQLITE_DONE) throw EDatabaseError("replay");
}

// ---------------------------------------------------------------------------------------------
// Records

bool TSqliteTable::InternalSeek(TSeek how, TRecordId& id) {
    FlushInserts();
    sqlite3_stmt* s = nullptr;
    switch (how) {
        case skFirst:
            s = Ready(statements_.First());
            break;
        case skLast:
            s = Ready(statements_.Last());
            break;
        case skNext:
            s = Ready(statements_.Next());
            break;
        case skPrior:
            s = Ready(statements_.Prior());
            break;
    }
    TStatementUse use(s);
    if (how == skNext || how == skPrior) sqlite3_bind_int64(s, 1, id);
    if (!Step(s, "read")) return false;
    id = sqlite3_column_int64(s, 0);
    return true;
}

bool TSqliteTable::InternalRead(TRecordId id, std::vector<Variant>& values) {
    FlushInserts();
    sqlite3_stmt* s = Ready(statements_.Read());
    TStatementUse use(s);
    sqlite3_bind_int64(s, 1, id);
    if (!Step(s, "read")) return false;
    values.resize(defs_.size());
    for (std::size_t i = 0; i < defs_.size(); ++i)
        values[i] = SqliteColumnValue(s, static_cast<int>(i) + 1, defs_[i].DataType);
    return true;
}

TRecordId TSqliteTable::InternalInsert(const std::vector<Variant>& values,
                                       const TFieldFlags& assigned) {
    BeginWrite();
    TRecordId id = 0;
    const std::vector<Variant>* posted = &values;
    if (BatchesInsert(values, assigned)) {
        id = BatchInsert(values, assigned);
        posted = &batch_[batchRows_ - 1];  // where BatchInsert keeps the values
    } else {
        FlushInserts();
        sqlite3_stmt* s = Ready(statements_.Insert(assigned));
        {
            TStatementUse use(s, TStatementUse::bsRebound);
            int param = 0;
            for (std::size_t i = 0; i < assigned.size(); ++i) {
                if (assigned[i]) Bind(s, ++param, values[i], defs_[i].DataType);
            }
            WriteStep(s, "post a record to");
        }
        id = sqlite3_last_insert_rowid(db_);
        nextRowid_ = 0;  // the record may have been given its rowid
    }
    RememberWrite(TReplayLog::wkInsert, id, posted, &assigned);
    EndWrite();
    if (count_ >= 0) ++count_;
    ForgetAnchorsFrom(id);
    return id;
}

bool TSqliteTable::BatchesInsert(const std::vector<Variant>& values, const TFieldFlags& assigned) {
    if (!ControlsDisabled() || !log_.Replayable() || batchFailed_) return false;
    std::size_t fields = 0, bytes = 0;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (!assigned[i]) continue;
        ++fields;
        const Variant& v = values[i];
        if (v.IsArray()) return false;
        if (v.IsNullOrEmpty()) {
            if (notNull_[i] != 0) return false;
        } else if (static_cast<int>(i) == rowidField_) {
            return false;
        } else if (v.IsText()) {
            bytes += v.TextValue().size();
        }
    }
    if (fields == 0 || bytes > kMaxBatchedBytes || !PlainInserts()) return false;
    constexpr TRecordId kLastPredicted = INT64_MAX - static_cast<TRecordId>(kInsertBatch);
    if (batchRows_ == 0 && nextRowid_ == 0) {
        // Nothing waits: SQLite gives the table's largest rowid plus one (1 to an empty table).
        // Below zero or near the end of the range (where SQLite picks one at random) no rowid
        // is predicted, and the inserts go one by one.
        sqlite3_stmt* s = Ready(statements_.Last());
        TStatementUse use(s);
        const TRecordId last = Step(s, "read") ? sqlite3_column_int64(s, 0) : 0;
        nextRowid_ = last >= 0 && last < kLastPredicted ? last + 1 : -1;
    }
    return nextRowid_ > 0 && nextRowid_ < kLastPredicted;
}

TRecordId TSqliteTable::BatchInsert(const std::vector<Variant>& values,
                                    const TFieldFlags& assigned) {
    if (batchRows_ > 0 && (batchRows_ == batchCapacity_ || assigned != batchPattern_))
        FlushInserts();
    if (batchRows_ == 0) {
        batchPattern_ = assigned;
        const auto fields = static_cast<std::size_t>(
            std::count_if(assigned.begin(), assigned.end(), [](char a) { return a != 0; }));
        const auto variables =
            static_cast<std::size_t>(sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
        batchCapacity_ = std::clamp<std::size_t>(variables / fields, 1, kInsertBatch);
        batchFirst_ = nextRowid_;
    }
    if (batch_.size() <= batchRows_) batch_.emplace_back();
    std::vector<Variant>& kept = batch_[batchRows_++];
    kept.resize(values.size());
    if (!TakePostedValues(values, kept)) kept = values;  // `values` may now hold what `kept` held
    return nextRowid_++;
}

void TSqliteTable::FlushInserts() {
    if (batchRows_ == 0) return;
    const std::size_t rows = batchRows_;
    batchRows_ = 0;
    ++serial_;
    int rc = SQLITE_OK;
    bool otherRowid = false;
    const char* action = "post a record to";
    // A full batch in one statement; the records of a shorter one each by the insert of one row.
    const std::size_t piece = rows == batchCapacity_ ? rows : 1;
    std::size_t written = 0;  // the records written before a failure
    while (written < rows && rc == SQLITE_OK && !otherRowid) {
        sqlite3_stmt* s = piece > 1 ? statements_.InsertRows(batchPattern_, static_cast<int>(piece))
                                    : statements_.Insert(batchPattern_);
        if (s == nullptr) {
            rc = statements_.PrepareError();
            action = "prepare a statement for";
            break;
        }
        TStatementUse use(s, TStatementUse::bsRebound);
        int param = 0;
        for (std::size_t r = written; r < written + piece && rc == SQLITE_OK; ++r) {
            for (std::size_t i = 0; i < batchPattern_.size() && rc == SQLITE_OK; ++i) {
                if (batchPattern_[i])
                    rc = BindSqliteValue(s, ++param, batch_[r][i], defs_[i].DataType);
            }
        }
        if (rc == SQLITE_OK && sqlite3_step(s) != SQLITE_DONE) rc = sqlite3_errcode(db_);
        if (rc != SQLITE_OK) break;
        const TRecordId last = batchFirst_ + static_cast<TRecordId>(written + piece - 1);
        otherRowid = sqlite3_last_insert_rowid(db_) != last;
        if (!otherRowid) written += piece;
    }
    if (rc == SQLITE_OK && !otherRowid) return;
    if (otherRowid) {
        // Cannot happen while the transaction holds the lock; should it, the transaction is
        // written again from the replay log, which gives every record its posted rowid.
        std::string text = Format(
            "Cannot post a record to table '%s': SQLite did not give the records the rowids "
            "they were posted with",
            sqlTable_);
        RollBack();
        text += RecoverTakenBackWrites();
        throw EDatabaseError(text);
    }
    // From here on every insert goes alone again, so that a failure that lasts (a full disk)
    // fails each record at its own Post.
    batchFailed_ = true;
    std::string text = FailureText(action, rc);
    if (WriteBatchAlone(rows, written, text)) return;
    throw EDatabaseError(text);
}

bool TSqliteTable::WriteBatchAlone(std::size_t rows, std::size_t written, std::string& text) {
    // The batch's writes that were not written leave the replay log and the pending rows.
    log_.Truncate(log_.Size() - (rows - written));
    pendingRows_ -= static_cast<std::int64_t>(rows - written);
    const std::int64_t lostBefore = lostRecords_;
    // What SQLite took back with the failure is written again, as after a failing Post.
    if (!InTransaction()) text += RecoverTakenBackWrites();
    std::int64_t lost = 0;
    TReplayLog::TWrite w;
    w.Kind = TReplayLog::wkInsert;
    w.Assigned = batchPattern_;
    for (std::size_t r = written; r < rows; ++r) {
        w.Id = batchFirst_ + static_cast<TRecordId>(r);
        w.Values.swap(batch_[r]);
        bool written = false;
        try {
            BeginWrite();
            Rewrite(w);  // with the rowid it was posted with, whatever became of the others
            written = true;
        } catch (const Exception&) {
        }
        if (written) {
            log_.Add(TReplayLog::wkInsert, w.Id, &w.Values, &w.Assigned);
            ++pendingRows_;
            continue;
        }
        ++lost;
        if (!InTransaction()) text += RecoverTakenBackWrites();
    }
    lostRecords_ += lost;
    if (count_ >= 0) count_ -= lost;
    if (lost > 0) {
        anchors_.clear();
        text += Format("; %lld posted record(s) could not be written and were lost",
                       static_cast<long long>(lost));
    }
    return lostRecords_ == lostBefore;
}

bool TSqliteTable::TableFact(const char* sql, const std::string* second) const {
    bool fact = false;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(s, 1, sqlTable_.c_str(), -1, SQLITE_TRANSIENT);
        if (second != nullptr)
            sqlite3_bind_text(s, 2, second->data(), static_cast<int>(second->size()),
                              SQLITE_TRANSIENT);
        fact = sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == 1;
    }
    sqlite3_finalize(s);
    return fact;
}

bool TSqliteTable::SchemaFact(const char* sql, std::uint64_t& checked, bool& fact) {
    if (checked == transactions_) return fact;
    checked = transactions_;
    fact = TableFact(sql, nullptr);
    return fact;
}

bool TSqliteTable::PlainInserts() {
    const char* sql =
        "SELECT (SELECT foreign_keys FROM pragma_foreign_keys) = 0 AND NOT EXISTS (SELECT 1 FROM "
        "sqlite_master WHERE (type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE) OR (type = "
        "'table' AND name = ?1 COLLATE NOCASE AND (sql LIKE '%check%' OR sql LIKE '%strict%' OR "
        "sql LIKE '%autoincrement%' OR sql LIKE 'create virtual%'))) AND NOT EXISTS (SELECT 1 FROM "
        "sqlite_temp_master WHERE "
        "type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE) AND NOT EXISTS (SELECT 1 FROM "
        "pragma_index_list(?1) AS l WHERE l.\"unique\" OR l.partial OR EXISTS (SELECT 1 FROM "
        "pragma_index_xinfo(l.name) WHERE cid = -2)) AND NOT EXISTS (SELECT 1 FROM "
        "pragma_table_xinfo(?1) WHERE hidden IN (2, 3))";
    return SchemaFact(sql, plainInsertsChecked_, plainInserts_);
}

void TSqliteTable::InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                                  const TFieldFlags& assigned) {
    if (std::find(assigned.begin(), assigned.end(), true) == assigned.end()) return;
    WidenCacheForRewrites();
    FlushInserts();
    // The record the last search found, when nothing has been written since and the search ran
    // in this same transaction (which holds the write lock, so no other connection wrote
    // either): its key columns that would be written as they are stay out of the update.
    const bool located = located_.Holds(id, serial_);
    // The record the walk of the last search stands on, as read since the last write: when it
    // holds every new value already, the update would store nothing new and is not run (the
    // schema of a walk has no trigger to see it). It is kept for the commit points all the
    // same.
    const int walkField = walk_.Field();
    const bool walkHolds = walkField >= 0 && walk_.Holds(walkField, serial_);
    const bool walked = walkHolds && walk_.StandsOnRecordAsRead(id);
    const bool sameTransaction = BeginWrite();  // a commit in it would end the walk
    const TFieldFlags* columns = &assigned;
    const bool storesNothing =
        walked && sameTransaction &&
        RowHoldsValues(walk_.Statement(), TSqliteKeyWalk::kFirstField, values, defs_, assigned);
    if (!storesNothing && located && sameTransaction &&
        located_.LeaveOutUnchanged(values, defs_, assigned, unchanged_)) {
        columns = &unchanged_;
    }
    int n = 0;
    if (!storesNothing) {
        for (char a : *columns) n += a ? 1 : 0;
    }
    if (n > 0) {
        sqlite3_stmt* s = Ready(statements_.Update(*columns));
        TStatementUse use(s, TStatementUse::bsRebound);
        int param = 0;
        for (std::size_t i = 0; i < columns->size(); ++i) {
            if ((*columns)[i]) Bind(s, ++param, values[i], defs_[i].DataType);
        }
        sqlite3_bind_int64(s, n + 1, id);
        WriteStep(s, "post a record to");
    }
    // A new value of the rowid column moves the record.
    bool movesEntries = false;
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (assigned[i] && quotedColumns_[i] == rowid_) {
            anchors_.clear();
            nextRowid_ = 0;
            movesEntries = true;
        }
    }
    // An update that writes neither the walked key nor the rowid leaves every index entry of
    // the key where it was (the walk's schema has no trigger, cascade or replacing conflict).
    if (walkHolds && sameTransaction &&
        (n == 0 || (!movesEntries && !(*columns)[static_cast<std::size_t>(walkField)])))
        walk_.Carry(serial_, n > 0);
    RememberWrite(TReplayLog::wkUpdate, id, &values, &assigned);
    EndWrite();
}

void TSqliteTable::InternalDelete(TRecordId id) {
    WidenCacheForRewrites();
    FlushInserts();
    BeginWrite();
    nextRowid_ = 0;  // the largest rowid may be the one deleted
    sqlite3_stmt* s = Ready(statements_.Delete());
    {
        TStatementUse use(s);
        sqlite3_bind_int64(s, 1, id);
        WriteStep(s, "delete a record of");
    }
    bool removed = sqlite3_changes(db_) > 0;
    RememberWrite(TReplayLog::wkDelete, id, nullptr, nullptr);
    EndWrite();
    if (removed && count_ >= 0) --count_;
    ForgetAnchorsFrom(id);
}

bool TSqliteTable::InternalLocate(const std::vector<int>& fieldIndexes,
                                  const std::vector<Variant>& values, TLocateOptions options,
                                  TRecordId& found) {
    if (options != 0) return TDataSet::InternalLocate(fieldIndexes, values, options, found);
    FlushInserts();
    located_.Forget();
    // Only a search after a write of the open transaction, which then holds the write lock.
    const bool keep = pendingRows_ > 0 && InTransaction() && UpdatesStayInTheRow();
    if (keep && fieldIndexes.size() == 1 && values[0].IsText() &&
        !IsBinaryFieldType(defs_[static_cast<std::size_t>(fieldIndexes[0])].DataType) &&
        PlainInserts() && KeyWalkable(fieldIndexes[0]) && walk_.Worthwhile()) {
        bool hit = false;
        if (WalkLocate(fieldIndexes[0], values[0].TextValue(), found, hit)) {
            if (hit) located_.KeepText(found, serial_, fieldIndexes[0], values[0].TextValue());
            return hit;
        }
    }
    walk_.Stop();
    sqlite3_stmt* s = Ready(statements_.Locate(fieldIndexes, values));
    TStatementUse use(s, TStatementUse::bsRebound);  // a statement per set of null values
    int param = 0;
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        if (!values[k].IsNull())
            Bind(s, ++param, values[k], defs_[static_cast<std::size_t>(fieldIndexes[k])].DataType);
    }
    if (!Step(s, "search")) return false;
    found = sqlite3_column_int64(s, 0);
    if (keep) located_.Keep(found, serial_, s, 1, fieldIndexes);
    return true;
}

bool TSqliteTable::WalkLocate(int field, const std::string& key, TRecordId& found, bool& hit) {
    try {
        int c = -1;
        bool goOn = walk_.Holds(field, serial_) && walk_.MayGoOnTo(key);
        for (int steps = 0; goOn && (c = walk_.Compare(key)) < 0; ++steps) {
            if (steps == TSqliteKeyWalk::kMaxSteps)
                goOn = false;  // far ahead: seek it instead
            else
                walk_.Stepped(!Step(walk_.Statement(), "search"));
        }
        walk_.Tried(!goOn);
        if (!goOn) {
            walk_.Stop();
            sqlite3_stmt* s = Ready(statements_.KeyWalk(field));
            if (sqlite3_bind_text64(s, 1, key.data(), key.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
                SQLITE_OK)
                throw EDatabaseError(FailureText("bind a value for", sqlite3_errcode(db_)));
            walk_.Started(s, field, serial_);
            walk_.Stepped(!Step(s, "search"));
            c = walk_.Compare(key);
        }
        if (c == TSqliteKeyWalk::kIncomparable) {
            walk_.Stop();
            return false;
        }
        walk_.Sought(key);
        hit = c == 0;
        if (hit) found = sqlite3_column_int64(walk_.Statement(), 0);
        return true;
    } catch (...) {
        walk_.Stop();
        throw;
    }
}

bool TSqliteTable::KeyWalkable(int field) {
    if (walkChecked_ == transactions_ && walkCheckedField_ == field) return walkable_;
    walkChecked_ = transactions_;
    walkCheckedField_ = field;
    walkable_ = false;
    // Text affinity, by SQLite's rules for the declared type: the column then holds only text,
    // blobs and nulls, and its text compares by bytes in the walk.
    const char* affinity =
        "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE AND type NOT LIKE "
        "'%int%' AND (type LIKE '%char%' OR type LIKE '%clob%' OR type LIKE '%text%')";
    if (!TableFact(affinity, &defs_[static_cast<std::size_t>(field)].Name)) return false;
    // SQLite's plan: one search of an index, which then gives the order; a table scan or a sort
    // would make every start of the walk read the whole table.
    const std::string plan = "EXPLAIN QUERY PLAN " + statements_.KeyWalkSql(field);
    sqlite3_stmt* s = nullptr;
    int rows = 0;
    bool searchesIndex = false;
    if (sqlite3_prepare_v2(db_, plan.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
            const auto* d = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
            const std::string detail = d ? d : "";
            ++rows;
            searchesIndex = detail.rfind("SEARCH ", 0) == 0 &&
                            detail.find(" INDEX ") != std::string::npos &&
                            detail.find("TEMP B-TREE") == std::string::npos;
        }
    }
    sqlite3_finalize(s);
    walkable_ = rows == 1 && searchesIndex;
    return walkable_;
}

bool TSqliteTable::UpdatesStayInTheRow() {
    const char* sql =
        "SELECT (SELECT foreign_keys FROM pragma_foreign_keys) = 0 AND (SELECT encoding FROM "
        "pragma_encoding) = 'UTF-8' AND NOT EXISTS (SELECT 1 FROM sqlite_master WHERE (type = "
        "'trigger' AND tbl_name = ?1 COLLATE NOCASE) OR (type = 'table' AND name = ?1 COLLATE "
        "NOCASE AND sql LIKE '%check%')) AND NOT EXISTS (SELECT 1 FROM sqlite_temp_master WHERE "
        "type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE)";
    return SchemaFact(sql, plainUpdatesChecked_, plainUpdates_);
}

std::int64_t TSqliteTable::InternalRecNo(TRecordId id) {
    FlushInserts();
    sqlite3_stmt* s = Ready(statements_.RecNo());
    TStatementUse use(s);
    sqlite3_bind_int64(s, 1, id);
    if (!Step(s, "read")) return 0;
    return sqlite3_column_int64(s, 0);
}

void TSqliteTable::ForgetAnchorsFrom(TRecordId id) {
    // Positions of records after `id` have moved; those before it have not.
    while (!anchors_.empty() && std::prev(anchors_.end())->second >= id)
        anchors_.erase(std::prev(anchors_.end()));
}

void TSqliteTable::ReadRecords(std::int64_t first, std::int64_t count,
                               std::vector<std::vector<Variant>>& out) {
    out.clear();
    if (!Active()) throw EDatabaseError(msg::kDataSetClosed);
    if (first < 0 || count <= 0) return;
    FlushInserts();
    // Start from the nearest known position at or before `first` (a keyset on the rowid), so
    // paging through millions of rows does not count them again for every page.
    std::int64_t pos = 0;
    sqlite3_stmt* s = nullptr;
    auto anchor = anchors_.upper_bound(first);
    if (anchor != anchors_.begin()) {
        --anchor;
        pos = anchor->first;
        s = Ready(statements_.Page(true));
        sqlite3_bind_int64(s, 1, anchor->second);
    } else {
        s = Ready(statements_.Page(false));
    }
    TStatementUse use(s);
    sqlite3_bind_int64(s, 2, count);
    sqlite3_bind_int64(s, 3, first - pos);
    std::int64_t at = first;
    while (Step(s, "read")) {
        if (at % kAnchorStep == 0 && anchors_.size() < kMaxAnchors)
            anchors_[at] = sqlite3_column_int64(s, 0);
        std::vector<Variant> row(defs_.size());
        for (std::size_t i = 0; i < defs_.size(); ++i)
            row[i] = SqliteColumnValue(s, static_cast<int>(i) + 1, defs_[i].DataType);
        out.push_back(std::move(row));
        ++at;
    }
}

// ---------------------------------------------------------------------------------------------
// Creating a table file

void TSqliteTable::CreateTable(const std::string& fileName, const std::string& tableName,
                               const std::vector<TFieldDef>& fields) {
    std::string sql = "CREATE TABLE " + QuoteName(tableName) + " (";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TFieldDef& f = fields[i];
        std::string type;
        switch (f.DataType) {
            case ftAutoInc:
                type = "INTEGER PRIMARY KEY AUTOINCREMENT";
                break;
            case ftSmallint:
            case ftWord:
                type = "SMALLINT";
                break;
            case ftInteger:
                type = "INTEGER";
                break;
            case ftLargeint:
                type = "BIGINT";
                break;
            case ftFloat:
                type = "REAL";
                break;
            case ftCurrency:
                type = "MONEY";
                break;
            case ftBCD:
                type = "NUMERIC";
                break;
            case ftBoolean:
                type = "BOOLEAN";
                break;
            case ftDate:
                type = "DATE";
                break;
            case ftTime:
                type = "TIME";
                break;
            case ftDateTime:
                type = "DATETIME";
                break;
            case ftString:
            case ftFixedChar:
            case ftWideString:
                type = f.Size > 0 ? "VARCHAR(" + std::to_string(f.Size) + ")" : "TEXT";
                break;
            case ftMemo:
            case ftFmtMemo:
                type = "TEXT";
                break;
            case ftUnknown:
                type = "";
                break;
            default:
                type = "BLOB";
                break;
        }
        sql += (i ? ", " : "") + QuoteName(f.Name) + (type.empty() ? "" : " " + type);
        if (f.Required && f.DataType != ftAutoInc) sql += " NOT NULL";
    }
    sql += ")";
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(fileName.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::string error;
    if (rc == SQLITE_OK) {
        char* err = nullptr;
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) error = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
    } else {
        error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    sqlite3_close_v2(db);
    if (!error.empty()) {
        throw EDatabaseError(
            Format("Cannot create table '%s' in '%s': %s", tableName, fileName, error));
    }
}

}  // namespace qel
