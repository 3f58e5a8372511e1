#include "dataset/SqliteTable.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/TextUtil.h"

namespace qel {

namespace {

namespace fs = std::filesystem;

constexpr int kAnchorStep = 64;  // every 64th position read by a view is remembered
constexpr std::size_t kMaxAnchors = 65536;

bool IsBlobType(TFieldType t) {
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

bool IsIntegerType(TFieldType t) {
    return t == ftSmallint || t == ftInteger || t == ftWord || t == ftAutoInc || t == ftLargeint;
}

bool IsStringType(TFieldType t) {
    return t == ftString || t == ftFixedChar || t == ftWideString || t == ftMemo || t == ftFmtMemo;
}

Variant IntegerVariant(sqlite3_int64 v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant(static_cast<std::int32_t>(v));
    return Variant(static_cast<double>(v));  // beyond 32 bits: kept as a number, not cut
}

// Runs a statement through a scope: reset and unbound however the scope ends.
class Using {
  public:
    explicit Using(sqlite3_stmt* s) : s_(s) {}
    ~Using() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Using(const Using&) = delete;
    Using& operator=(const Using&) = delete;

  private:
    sqlite3_stmt* s_;
};

std::string ColumnText(sqlite3_stmt* s, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, col)))
             : std::string();
}

}  // namespace

void TSqliteTable::StmtDeleter::operator()(sqlite3_stmt* s) const {
    sqlite3_finalize(s);
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

bool TSqliteTable::InTransaction() const {
    return db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
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

sqlite3_stmt* TSqliteTable::Prepare(Stmt& slot, const std::string& sql) {
    if (slot) return slot.get();
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        Fail("prepare a statement for", rc);
    }
    slot.reset(s);
    return s;
}

void TSqliteTable::Fail(const char* action, int rc) {
    std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
        detail += Format(" (another connection holds the lock; waited %d ms)", busyTimeout_);
    }
    std::string text = Format("Cannot %s table '%s': %s", action, sqlTable_, detail);
    // Some failures (disk full, I/O errors) roll the whole write transaction back: the writes
    // posted before are written again and committed, or else reported as lost.
    if (pendingRows_ > 0 && db_ && sqlite3_get_autocommit(db_) && !replaying_ && ReplayPending()) {
        throw EDatabaseError(text);
    }
    if (pendingRows_ > 0 && db_ && sqlite3_get_autocommit(db_)) {
        text +=
            Format("; the write transaction was rolled back and %lld posted record(s) were lost",
                   static_cast<long long>(pendingRows_));
        pendingRows_ = 0;
        ForgetWrites();
        sqlite3_stmt* s = nullptr;
        std::string sql = "SELECT count(*) FROM " + quotedTable_;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            count_ = sqlite3_column_int64(s, 0);
        }
        sqlite3_finalize(s);
        anchors_.clear();
    }
    throw EDatabaseError(text);
}

bool TSqliteTable::Step(sqlite3_stmt* s, const char* action) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // The statement's own error code (sqlite3_step already returns it with v2/v3 statements).
    Fail(action, rc);
}

void TSqliteTable::Bind(sqlite3_stmt* s, int param, const Variant& v, TFieldType type) {
    int rc = SQLITE_OK;
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            rc = sqlite3_bind_null(s, param);
            break;
        case Variant::vkInteger:
            rc = sqlite3_bind_int64(s, param, v.IntegerValue());
            break;
        case Variant::vkReal:
            if (IsIntegerType(type)) {
                rc = sqlite3_bind_int64(s, param,
                                        static_cast<sqlite3_int64>(std::llround(v.RealValue())));
            } else {
                rc = sqlite3_bind_double(s, param, v.RealValue());
            }
            break;
        case Variant::vkBoolean:
            rc = sqlite3_bind_int(s, param, v.BooleanValue() ? 1 : 0);
            break;
        case Variant::vkDateTime: {
            // Dates and times as ISO-8601 text, which SQLite's date functions read.
            std::string iso = DateTimeToIso(v.RealValue(), type != ftTime, type != ftDate);
            rc = sqlite3_bind_text(s, param, iso.data(), static_cast<int>(iso.size()),
                                   SQLITE_TRANSIENT);
            break;
        }
        case Variant::vkText: {
            const std::string& t = v.TextValue();
            if (IsBlobType(type)) {
                rc = sqlite3_bind_blob64(s, param, t.data(), t.size(), SQLITE_STATIC);
            } else {
                rc = sqlite3_bind_text64(s, param, t.data(), t.size(), SQLITE_STATIC, SQLITE_UTF8);
            }
            break;
        }
        case Variant::vkArray:
            throw EVariantError(msg::kInvalidVarCast);
    }
    if (rc != SQLITE_OK) Fail("bind a value for", rc);
}

Variant TSqliteTable::Column(sqlite3_stmt* s, int col, TFieldType type) const {
    switch (sqlite3_column_type(s, col)) {
        case SQLITE_NULL:
            return Variant::Null();
        case SQLITE_INTEGER: {
            sqlite3_int64 v = sqlite3_column_int64(s, col);
            if (type == ftBoolean) return Variant(v != 0);
            if (IsStringType(type)) return Variant(ColumnText(s, col));
            return IntegerVariant(v);
        }
        case SQLITE_FLOAT: {
            double d = sqlite3_column_double(s, col);
            if (type == ftBoolean) return Variant(d != 0.0);
            if (IsStringType(type)) return Variant(ColumnText(s, col));
            return Variant(d);
        }
        case SQLITE_TEXT: {
            std::string text = ColumnText(s, col);
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

std::string TSqliteTable::ColumnList() const {
    std::string out;
    for (const std::string& c : quotedColumns_) out += ", " + c;
    return out;
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
    // SQLite's memory statistics take a process-wide mutex on every allocation, and nothing
    // here reads them. They can be switched off only before SQLite's first use (later calls
    // are refused, which leaves them on and is harmless).
    static const bool statisticsOff = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)statisticsOff;
    int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
    auto fail = [&](const std::string& why) {
        ReleaseConnection();
        throw EDatabaseError(Format("Cannot open table file '%s': %s", file, why));
    };
    if (rc != SQLITE_OK) fail(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_busy_timeout(db_, busyTimeout_);
    sqlite3_extended_result_codes(db_, 1);

    // The table: the file's only table, or the one named after the file's stem.
    std::vector<std::string> tables;
    std::string createSql;
    {
        sqlite3_stmt* s = nullptr;
        const char* sql =
            "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
            "'sqlite\\_%' ESCAPE '\\'";
        rc = sqlite3_prepare_v2(db_, sql, -1, &s, nullptr);
        Stmt guard(s);
        if (rc != SQLITE_OK) {
            std::string why = sqlite3_errmsg(db_);
            if ((rc & 0xFF) == SQLITE_BUSY) why += Format(" (waited %d ms)", busyTimeout_);
            fail(why);
        }
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) tables.push_back(ColumnText(s, 0));
        if (rc != SQLITE_DONE) {
            std::string why = sqlite3_errmsg(db_);
            if ((rc & 0xFF) == SQLITE_BUSY) why += Format(" (waited %d ms)", busyTimeout_);
            fail(why);
        }
    }
    std::string stem = fs::path(tableName_).stem().string();
    if (!requestedTable_.empty()) {
        sqlTable_.clear();
        for (const std::string& t : tables) {
            if (SameText(t, requestedTable_)) sqlTable_ = t;
        }
        if (sqlTable_.empty()) {
            ReleaseConnection();
            throw EDatabaseError(Format("Table '%s' not found in '%s'", requestedTable_, file));
        }
    } else if (tables.size() == 1) {
        sqlTable_ = tables[0];
    } else {
        sqlTable_.clear();
        for (const std::string& t : tables) {
            if (SameText(t, stem)) sqlTable_ = t;
        }
        if (sqlTable_.empty()) {
            ReleaseConnection();
            throw EDatabaseError(Format("Table '%s' not found in '%s'", stem, file));
        }
    }
    if (!readOnly_ && sqlite3_db_readonly(db_, "main") == 1) {
        fail("the file is read-only");
    }
    quotedTable_ = QuoteName(sqlTable_);

    // The columns and their declared types.
    defs_.clear();
    quotedColumns_.clear();
    std::string aliasColumn;
    {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db_, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1",
                           -1, &s, nullptr);
        Stmt guard(s);
        sqlite3_bind_text(s, 1, sqlTable_.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(s) == SQLITE_ROW) createSql = UpperCase(ColumnText(s, 0));
    }
    {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(
            db_, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1)", -1,
            &s, nullptr);
        Stmt guard(s);
        if (rc != SQLITE_OK) fail(sqlite3_errmsg(db_));
        sqlite3_bind_text(s, 1, sqlTable_.c_str(), -1, SQLITE_TRANSIENT);
        int pkColumns = 0;
        std::string pkName, pkType;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            TFieldDef def;
            def.Name = ColumnText(s, 0);
            std::string declared = ColumnText(s, 1);
            def.DataType = FieldTypeOf(declared, def.Size);
            bool notNull = sqlite3_column_int(s, 2) != 0;
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
        sqlite3_stmt* s = nullptr;
        std::string sql = "SELECT count(*), max(" +
                          (rowid_.empty() ? std::string("rowid") : rowid_) + ") FROM " +
                          quotedTable_;
        rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
        Stmt guard(s);
        if (rc != SQLITE_OK || rowid_.empty()) {
            ReleaseConnection();
            throw EDatabaseError(
                Format("Cannot open table '%s' in '%s': only tables with a rowid are supported",
                       sqlTable_, file));
        }
        rc = sqlite3_step(s);
        if (rc != SQLITE_ROW) fail(sqlite3_errmsg(db_));
        count_ = sqlite3_column_int64(s, 0);
    }
    {
        sqlite3_stmt* s = nullptr;
        wal_ = false;
        bulkSync_ = false;
        if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            wal_ = SameText(ColumnText(s, 0), "wal");
        }
        sqlite3_finalize(s);
    }
    pendingRows_ = 0;
    ForgetWrites();
    anchors_.clear();
    return defs_;
}

void TSqliteTable::ReleaseConnection() noexcept {
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
    updates_.clear();
    locates_.clear();
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

void TSqliteTable::BeginWrite() {
    CheckWritable();
    if (sqlite3_get_autocommit(db_) == 0) {
        if (pendingWrites_.size() < kMaxPendingWrites) return;
        // A long stretch commits on its own before its next write, which bounds what a failure
        // can take back. When this commit fails, the record about to be written is not
        // written, so its caller's Cancel discards it.
        Commit();
    }
    if (wal_ && !bulkSync_ && ControlsDisabled() && !readOnly_) {
        bulkSync_ = sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) ==
                    SQLITE_OK;
    }
    sqlite3_stmt* s = Prepare(begin_, "BEGIN IMMEDIATE");
    Using use(s);
    Step(s, "start writing to");
    pendingRows_ = 0;
    ForgetWrites();
}

void TSqliteTable::EndWrite() {
    ++pendingRows_;
    // A single edit outside a bulk run is committed at once, so no lock stays held by it.
    if (ControlsDisabled()) return;
    try {
        Commit();
    } catch (...) {
        // The transaction holds only this write: take it back, so that the caller's Cancel
        // (or a second Post) does not leave the record stored after all.
        if (InTransaction()) {
            sqlite3_stmt* r = Prepare(rollback_, "ROLLBACK");
            Using use(r);
            sqlite3_step(r);
        }
        pendingRows_ = 0;
        ForgetWrites();
        throw;
    }
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

void TSqliteTable::Commit() {
    if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) return;
    sqlite3_stmt* s = Prepare(commit_, "COMMIT");
    Using use(s);
    Step(s, "commit the records of");
    pendingRows_ = 0;
    ForgetWrites();
}

namespace {

constexpr char kNotAssigned = '\xFF';

template <typename T>
T Unpack(const std::string& in, std::size_t& pos) {
    T v;
    std::memcpy(&v, in.data() + pos, sizeof v);
    pos += sizeof v;
    return v;
}

}  // namespace

void TSqliteTable::RememberWrite(char kind, TRecordId id, const std::vector<Variant>* values,
                                 const TFieldFlags* assigned) {
    if (!ControlsDisabled()) return;  // committed at once; nothing to write again
    pendingWrites_.push_back({kind, id, pendingValues_.size()});
    if (values == nullptr) return;
    // The record's bytes are counted first and written into the buffer grown once.
    const std::size_t n = values->size();
    std::size_t bytes = n;  // a kind byte per field
    for (std::size_t i = 0; i < n; ++i) {
        if (!(*assigned)[i]) continue;
        const Variant& v = (*values)[i];
        switch (v.kind()) {
            case Variant::vkInteger:
                bytes += sizeof(std::int32_t);
                break;
            case Variant::vkReal:
            case Variant::vkDateTime:
                bytes += sizeof(double);
                break;
            case Variant::vkBoolean:
                bytes += 1;
                break;
            case Variant::vkText:
                bytes += sizeof(std::size_t) + v.TextValue().size();
                break;
            case Variant::vkArray:
                pendingReplayable_ = false;
                break;
            default:
                break;
        }
    }
    const std::size_t first = pendingValues_.size();
    pendingValues_.resize(first + bytes);
    char* out = pendingValues_.data() + first;
    auto put = [&out](const void* p, std::size_t size) {
        std::memcpy(out, p, size);
        out += size;
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (!(*assigned)[i]) {
            *out++ = kNotAssigned;
            continue;
        }
        const Variant& v = (*values)[i];
        *out++ = static_cast<char>(v.kind());
        switch (v.kind()) {
            case Variant::vkInteger: {
                const std::int32_t x = v.IntegerValue();
                put(&x, sizeof x);
                break;
            }
            case Variant::vkReal:
            case Variant::vkDateTime: {
                const double x = v.RealValue();
                put(&x, sizeof x);
                break;
            }
            case Variant::vkBoolean:
                *out++ = static_cast<char>(v.BooleanValue());
                break;
            case Variant::vkText: {
                const std::size_t size = v.TextValue().size();
                put(&size, sizeof size);
                put(v.TextValue().data(), size);
                break;
            }
            default:
                break;
        }
    }
}

void TSqliteTable::ForgetWrites() {
    pendingWrites_.clear();
    pendingValues_.clear();
    pendingReplayable_ = true;
}

bool TSqliteTable::ReplayPending() noexcept {
    if (!pendingReplayable_ || pendingWrites_.size() != static_cast<std::size_t>(pendingRows_))
        return false;
    replaying_ = true;
    bool ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    try {
        for (std::size_t i = 0; ok && i < pendingWrites_.size(); ++i) ReplayWrite(i);
    } catch (...) {
        ok = false;
    }
    ok = ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok && sqlite3_get_autocommit(db_) == 0)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    replaying_ = false;
    if (ok) {
        pendingRows_ = 0;
        ForgetWrites();
    }
    return ok;
}

void TSqliteTable::ReplayWrite(std::size_t index) {
    const PendingWrite& w = pendingWrites_[index];
    const std::size_t n = defs_.size();
    std::string sql;
    std::vector<std::size_t> fields;  // the assigned fields, bound in this order
    std::vector<Variant> values(n);
    if (w.Kind != 'd') {
        std::size_t pos = w.First;
        for (std::size_t i = 0; i < n; ++i) {
            const char kind = pendingValues_[pos++];
            if (kind == kNotAssigned) continue;
            switch (static_cast<Variant::Kind>(kind)) {
                case Variant::vkNull:
                    values[i] = Variant::Null();
                    break;
                case Variant::vkInteger:
                    values[i] = Variant(Unpack<std::int32_t>(pendingValues_, pos));
                    break;
                case Variant::vkReal:
                    values[i] = Variant(Unpack<double>(pendingValues_, pos));
                    break;
                case Variant::vkDateTime:
                    values[i] = Variant::FromDateTime(Unpack<double>(pendingValues_, pos));
                    break;
                case Variant::vkBoolean:
                    values[i] = Variant(pendingValues_[pos++] != 0);
                    break;
                case Variant::vkText: {
                    const auto size = Unpack<std::size_t>(pendingValues_, pos);
                    values[i] = Variant(std::string_view(pendingValues_).substr(pos, size));
                    pos += size;
                    break;
                }
                default:
                    break;
            }
            if (!(w.Kind == 'i' && quotedColumns_[i] == rowid_)) fields.push_back(i);
        }
    }
    if (w.Kind == 'i') {
        // The record keeps the rowid it was given the first time.
        std::string cols = rowid_, params = "?1";
        for (std::size_t k = 0; k < fields.size(); ++k) {
            cols += ", " + quotedColumns_[fields[k]];
            params += ", ?" + std::to_string(k + 2);
        }
        sql = "INSERT INTO " + quotedTable_ + " (" + cols + ") VALUES (" + params + ")";
    } else if (w.Kind == 'u') {
        std::string sets;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            sets += (k ? ", " : "") + quotedColumns_[fields[k]] + " = ?" + std::to_string(k + 2);
        }
        sql = "UPDATE " + quotedTable_ + " SET " + sets + " WHERE " + rowid_ + " = ?1";
    } else {
        sql = "DELETE FROM " + quotedTable_ + " WHERE " + rowid_ + " = ?1";
    }
    Stmt stmt;
    sqlite3_stmt* s = Prepare(stmt, sql);
    sqlite3_bind_int64(s, 1, w.Id);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        Bind(s, static_cast<int>(k) + 2, values[fields[k]], defs_[fields[k]].DataType);
    }
    if (sqlite3_step(s) != SQLITE_DONE) throw EDatabaseError("replay");
}

void TSqliteTable::WriteStep(sqlite3_stmt* s, const char* action) {
    try {
        Step(s, action);
    } catch (...) {
        // Outside a bulk stretch the transaction holds nothing posted: end it so that no lock
        // stays held after the failure. In a stretch the records posted before stay pending.
        if (!ControlsDisabled() && pendingRows_ == 0 && InTransaction()) {
            sqlite3_reset(s);
            sqlite3_stmt* r = Prepare(rollback_, "ROLLBACK");
            Using use(r);
            sqlite3_step(r);
        }
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Records

bool TSqliteTable::InternalSeek(TSeek how, TRecordId& id) {
    const std::string from = " FROM " + quotedTable_;
    sqlite3_stmt* s = nullptr;
    switch (how) {
        case skFirst:
            s = Prepare(first_, "SELECT " + rowid_ + from + " ORDER BY " + rowid_ + " LIMIT 1");
            break;
        case skLast:
            s = Prepare(last_, "SELECT " + rowid_ + from + " ORDER BY " + rowid_ + " DESC LIMIT 1");
            break;
        case skNext:
            s = Prepare(next_, "SELECT " + rowid_ + from + " WHERE " + rowid_ + " > ?1 ORDER BY " +
                                   rowid_ + " LIMIT 1");
            break;
        case skPrior:
            s = Prepare(prior_, "SELECT " + rowid_ + from + " WHERE " + rowid_ + " < ?1 ORDER BY " +
                                    rowid_ + " DESC LIMIT 1");
            break;
    }
    Using use(s);
    if (how == skNext || how == skPrior) sqlite3_bind_int64(s, 1, id);
    if (!Step(s, "read")) return false;
    id = sqlite3_column_int64(s, 0);
    return true;
}

bool TSqliteTable::InternalRead(TRecordId id, std::vector<Variant>& values) {
    std::string cols = ColumnList();
    sqlite3_stmt* s = Prepare(
        read_, "SELECT " + rowid_ + cols + " FROM " + quotedTable_ + " WHERE " + rowid_ + " = ?1");
    Using use(s);
    sqlite3_bind_int64(s, 1, id);
    if (!Step(s, "read")) return false;
    values.resize(defs_.size());
    for (std::size_t i = 0; i < defs_.size(); ++i)
        values[i] = Column(s, static_cast<int>(i) + 1, defs_[i].DataType);
    return true;
}

TRecordId TSqliteTable::InternalInsert(const std::vector<Variant>& values,
                                       const TFieldFlags& assigned) {
    BeginWrite();
    // One prepared statement per pattern of assigned fields (an import assigns the same fields
    // on every row); the fields left out take the table's defaults.
    if (lastInsert_ == nullptr || assigned != lastInsertPattern_) {
        key_.assign(assigned.size(), '0');
        for (std::size_t i = 0; i < assigned.size(); ++i) key_[i] = assigned[i] ? '1' : '0';
        lastInsert_ = &inserts_[key_];
        lastInsertPattern_ = assigned;
    }
    Stmt& slot = *lastInsert_;
    if (!slot) {
        std::string cols, params;
        int n = 0;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            if (!assigned[i]) continue;
            cols += (n ? ", " : "") + quotedColumns_[i];
            params += n ? ", ?" : "?";
            params += std::to_string(++n);
        }
        Prepare(slot,
                n == 0 ? "INSERT INTO " + quotedTable_ + " DEFAULT VALUES"
                       : "INSERT INTO " + quotedTable_ + " (" + cols + ") VALUES (" + params + ")");
    }
    sqlite3_stmt* s = slot.get();
    {
        Using use(s);
        int param = 0;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            if (assigned[i]) Bind(s, ++param, values[i], defs_[i].DataType);
        }
        WriteStep(s, "post a record to");
    }
    TRecordId id = sqlite3_last_insert_rowid(db_);
    RememberWrite('i', id, &values, &assigned);
    EndWrite();
    ++count_;
    ForgetAnchorsFrom(id);
    return id;
}

void TSqliteTable::InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                                  const TFieldFlags& assigned) {
    int n = 0;
    key_.assign(assigned.size(), '0');
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (assigned[i]) key_[i] = '1', ++n;
    }
    if (n == 0) return;
    BeginWrite();
    Stmt& slot = updates_[key_];
    if (!slot) {
        std::string sets;
        int k = 0;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            if (!assigned[i]) continue;
            sets += (k ? ", " : "") + quotedColumns_[i] + " = ?";
            sets += std::to_string(++k);
        }
        Prepare(slot, "UPDATE " + quotedTable_ + " SET " + sets + " WHERE " + rowid_ + " = ?" +
                          std::to_string(n + 1));
    }
    sqlite3_stmt* s = slot.get();
    {
        Using use(s);
        int param = 0;
        for (std::size_t i = 0; i < assigned.size(); ++i) {
            if (assigned[i]) Bind(s, ++param, values[i], defs_[i].DataType);
        }
        sqlite3_bind_int64(s, n + 1, id);
        WriteStep(s, "post a record to");
    }
    // A new value of the rowid column moves the record.
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        if (assigned[i] && quotedColumns_[i] == rowid_) anchors_.clear();
    }
    RememberWrite('u', id, &values, &assigned);
    EndWrite();
}

void TSqliteTable::InternalDelete(TRecordId id) {
    BeginWrite();
    sqlite3_stmt* s =
        Prepare(delete_, "DELETE FROM " + quotedTable_ + " WHERE " + rowid_ + " = ?1");
    {
        Using use(s);
        sqlite3_bind_int64(s, 1, id);
        WriteStep(s, "delete a record of");
    }
    bool removed = sqlite3_changes(db_) > 0;
    RememberWrite('d', id, nullptr, nullptr);
    EndWrite();
    if (removed) --count_;
    ForgetAnchorsFrom(id);
}

bool TSqliteTable::InternalLocate(const std::vector<int>& fieldIndexes,
                                  const std::vector<Variant>& values, TLocateOptions options,
                                  TRecordId& found) {
    if (options != 0) return TDataSet::InternalLocate(fieldIndexes, values, options, found);
    // One statement per key field list and pattern of null keys: "=" for values (an index on
    // the key columns serves it), "IS NULL" for nulls.
    key_.clear();
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        key_ += std::to_string(fieldIndexes[k]);
        key_ += values[k].IsNull() ? 'n' : values[k].IsText() ? 't' : 'v';
    }
    Stmt& slot = locates_[key_];
    if (!slot) {
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
        Prepare(slot, "SELECT " + rowid_ + " FROM " + quotedTable_ + " WHERE " + where +
                          " ORDER BY " + rowid_ + " LIMIT 1");
    }
    sqlite3_stmt* s = slot.get();
    Using use(s);
    int param = 0;
    for (std::size_t k = 0; k < fieldIndexes.size(); ++k) {
        if (!values[k].IsNull())
            Bind(s, ++param, values[k], defs_[static_cast<std::size_t>(fieldIndexes[k])].DataType);
    }
    if (!Step(s, "search")) return false;
    found = sqlite3_column_int64(s, 0);
    return true;
}

std::int64_t TSqliteTable::InternalRecNo(TRecordId id) {
    sqlite3_stmt* s =
        Prepare(recNo_, "SELECT count(*) FROM " + quotedTable_ + " WHERE " + rowid_ + " <= ?1");
    Using use(s);
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
    // Start from the nearest known position at or before `first` (a keyset on the rowid), so
    // paging through millions of rows does not count them again for every page.
    std::int64_t pos = 0;
    sqlite3_stmt* s = nullptr;
    std::string select = "SELECT " + rowid_ + ColumnList() + " FROM " + quotedTable_;
    auto anchor = anchors_.upper_bound(first);
    if (anchor != anchors_.begin()) {
        --anchor;
        pos = anchor->first;
        s = Prepare(pageFrom_, select + " WHERE " + rowid_ + " >= ?1 ORDER BY " + rowid_ +
                                   " LIMIT ?2 OFFSET ?3");
        sqlite3_bind_int64(s, 1, anchor->second);
    } else {
        s = Prepare(page_, select + " ORDER BY " + rowid_ + " LIMIT ?2 OFFSET ?3");
    }
    Using use(s);
    sqlite3_bind_int64(s, 2, count);
    sqlite3_bind_int64(s, 3, first - pos);
    std::int64_t at = first;
    while (Step(s, "read")) {
        if (at % kAnchorStep == 0 && anchors_.size() < kMaxAnchors)
            anchors_[at] = sqlite3_column_int64(s, 0);
        std::vector<Variant> row(defs_.size());
        for (std::size_t i = 0; i < defs_.size(); ++i)
            row[i] = Column(s, static_cast<int>(i) + 1, defs_[i].DataType);
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
