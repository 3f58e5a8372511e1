// The SQLite table engine: a dataset over one table of an SQLite database file.
//
// DatabaseName is a folder and TableName a file in it ("log.db"); the table inside the file is
// the file's only table, or else the one named after the file's stem. Fields and their types
// come from the table's declared column types. Records are kept in rowid order and addressed by
// rowid. Writes are grouped in one write transaction that FlushBuffers, the end of the outermost
// DisableControls stretch and Close commit; outside such a stretch every Post commits at once.
// The writes of an open transaction are also kept in memory: when a failure (a full disk, a
// size cap) makes SQLite take back the whole transaction, they are written again and committed
// at once, so only the failing write is lost. A stretch commits on its own after
// kMaxPendingWrites writes, which bounds that memory.
// The file is never created or altered by opening it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataset/DataSet.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qel {

class TSqliteTable : public TDataSet {
  public:
    // The writes a bulk stretch keeps uncommitted at most; the next write commits them first.
    static constexpr std::size_t kMaxPendingWrites = 65536;

    explicit TSqliteTable(TComponent* owner = nullptr);
    ~TSqliteTable() override;
    const char* ClassName() const override { return "TSqliteTable"; }

    // The folder of the database file (with or without a trailing separator; empty: the
    // current folder). Set while closed.
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& name);
    // The database file, relative to DatabaseName (or an absolute path). Set while closed.
    const std::string& TableName() const { return tableName_; }
    void SetTableName(const std::string& name);
    // DatabaseName joined with TableName.
    std::string FileName() const;
    // The name of the table inside the file (known once open).
    const std::string& SqlTableName() const { return sqlTable_; }
    // Chooses the table inside the file (letter case ignored); empty (the default): the file's
    // only table, else the one named after the file's stem. Set while closed.
    const std::string& RequestedTable() const { return requestedTable_; }
    void SetRequestedTable(const std::string& name);

    // How long a write or the opening waits for another connection's lock, in milliseconds.
    int BusyTimeout() const { return busyTimeout_; }
    void SetBusyTimeout(int ms);
    // Opens the file for reading only; editing is then refused. Set while closed.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);

    // The connection while open (nullptr when closed), for callers that need SQLite itself.
    sqlite3* Handle() const { return db_; }
    // Whether posted records wait in an open write transaction.
    bool InTransaction() const;

    void ReadRecords(std::int64_t first, std::int64_t count,
                     std::vector<std::vector<Variant>>& out) override;

    // Creates the file (when missing) and a table of the given fields in it; raises when the
    // table exists. Column types: INTEGER, SMALLINT, VARCHAR(n)/TEXT, REAL, MONEY, NUMERIC,
    // BOOLEAN, DATE, TIME, DATETIME, BLOB; an auto-increment field becomes
    // INTEGER PRIMARY KEY AUTOINCREMENT and a required one NOT NULL.
    static void CreateTable(const std::string& fileName, const std::string& tableName,
                            const std::vector<TFieldDef>& fields);
    // The field type of a declared column type ("VARCHAR(40)" gives ftString and size 40).
    static TFieldType FieldTypeOf(const std::string& declaredType, int& size);
    // An identifier for SQL: in double quotes, inner quotes doubled.
    static std::string QuoteName(const std::string& name);

  protected:
    std::vector<TFieldDef> InternalOpen() override;
    void InternalClose() override;
    std::int64_t InternalRecordCount() override { return count_; }
    bool InternalSeek(TSeek how, TRecordId& id) override;
    bool InternalRead(TRecordId id, std::vector<Variant>& values) override;
    TRecordId InternalInsert(const std::vector<Variant>& values,
                             const TFieldFlags& assigned) override;
    void InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                        const TFieldFlags& assigned) override;
    void InternalDelete(TRecordId id) override;
    bool InternalLocate(const std::vector<int>& fieldIndexes, const std::vector<Variant>& values,
                        TLocateOptions options, TRecordId& found) override;
    std::int64_t InternalRecNo(TRecordId id) override;
    void InternalFlush() override;

  private:
    struct StmtDeleter {
        void operator()(sqlite3_stmt* s) const;
    };
    using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

    sqlite3_stmt* Prepare(Stmt& slot, const std::string& sql);
    // Runs a statement to its first row (true) or its end (false); raises on failure.
    bool Step(sqlite3_stmt* s, const char* action);
    void WriteStep(sqlite3_stmt* s,
                   const char* action);  // a write; ends an empty transaction on failure
    [[noreturn]] void Fail(const char* action, int rc);
    void Bind(sqlite3_stmt* s, int param, const Variant& v, TFieldType type);
    Variant Column(sqlite3_stmt* s, int col, TFieldType type) const;
    void CheckWritable() const;
    void BeginWrite();
    void EndWrite();
    void Commit();
    // In a WAL file a bulk stretch commits with synchronous=NORMAL (a commit no longer waits
    // for the disk; a crash can take back only the last commits, never corrupt the file). The
    // end of the stretch and Close checkpoint the log into the file, which syncs it, and go
    // back to synchronous=FULL, so a finished run is on disk.
    void EndBulkSync() noexcept;
    void ReleaseConnection() noexcept;
    // Keeps a write of the open transaction for ReplayPending (in a bulk stretch only).
    void RememberWrite(char kind, TRecordId id, const std::vector<Variant>* values,
                       const TFieldFlags* assigned);
    void ForgetWrites();
    // Writes the kept writes again in a new transaction and commits it; false (and nothing
    // written) when that fails too.
    bool ReplayPending() noexcept;
    void ReplayWrite(std::size_t index);
    std::string ColumnList() const;
    void ForgetAnchorsFrom(TRecordId id);

    std::string databaseName_;
    std::string tableName_;
    std::string sqlTable_;
    int busyTimeout_ = 5000;
    bool readOnly_ = false;
    std::string requestedTable_;

    sqlite3* db_ = nullptr;
    std::string quotedTable_;
    std::string rowid_;  // the rowid's name in SQL (an alias column or rowid/_rowid_/oid)
    std::vector<TFieldDef> defs_;
    std::vector<std::string> quotedColumns_;
    std::int64_t count_ = 0;        // records in the table, kept up to date by our writes
    std::int64_t pendingRows_ = 0;  // records written in the open transaction

    // The writes of the open transaction, in order: 'i' insert, 'u' update, 'd' delete. The
    // values of an insert or update are packed into pendingValues_ from offset First: per
    // field a kind byte (kNotAssigned for a field left out) and the value's bytes.
    struct PendingWrite {
        char Kind;
        TRecordId Id;
        std::size_t First;
    };
    std::vector<PendingWrite> pendingWrites_;
    std::string pendingValues_;
    bool pendingReplayable_ = true;  // false once a value was kept that cannot be packed
    bool replaying_ = false;
    bool wal_ = false;       // the file is in WAL mode
    bool bulkSync_ = false;  // synchronous=NORMAL for the current stretch

    Stmt begin_, commit_, rollback_, first_, last_, next_, prior_, read_, delete_, recNo_, page_,
        pageFrom_;
    std::unordered_map<std::string, Stmt> inserts_;  // by the pattern of assigned fields
    // The statement of the last insert and its pattern: an import assigns the same fields on
    // every row. (Elements of an unordered_map keep their address.)
    Stmt* lastInsert_ = nullptr;
    TFieldFlags lastInsertPattern_;
    std::unordered_map<std::string, Stmt> updates_;
    std::unordered_map<std::string, Stmt> locates_;  // by key fields and which keys are null
    std::string key_;                                // reused key buffer for the maps above
    // Known positions of records (0-based position -> rowid) for paging views.
    std::map<std::int64_t, TRecordId> anchors_;
};

}  // namespace qel
