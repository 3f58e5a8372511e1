// The SQLite table engine: a dataset over one table of an SQLite database file.
//
// DatabaseName is a folder and TableName a file in it ("log.db"); the table inside the file is
// the file's only table, or else the one named after the file's stem. Fields and their types
// come from the table's declared column types. Records are kept in rowid order and addressed by
// rowid. Writes are grouped in one write transaction that FlushBuffers, the end of the outermost
// DisableControls stretch and Close commit; outside such a stretch every Post commits at once.
// The writes of an open stretch are also kept in a replay log (ReplayLog.h): when a failure (a
// full disk, a size cap) makes SQLite take back the whole transaction, they are written again
// and committed at once, so only the failing write is lost. A stretch commits on its own after
// kMaxPendingWrites writes or kMaxPendingBytes of values, which bounds that memory. In such a
// stretch, inserts that cannot fail on their own (see BatchesInsert) wait in a batch and go to
// SQLite kInsertBatch at a time, in one statement: SQLite's work per statement is then paid once
// per batch. Every read, every other write, a commit and Handle() write the waiting inserts first,
// so nothing that reads the table sees a difference. A stretch's searches of a text key walk
// the key's index forward (SqliteKeyWalk.h). The prepared statements live in
// TSqliteStatements (SqliteStatements.h). The file is never created or altered by opening it, and
// opening changes no process-wide setting of SQLite: that is ConfigureProcess, called once by the
// programs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/ReplayLog.h"
#include "dataset/SqliteKeyWalk.h"
#include "dataset/SqliteLocated.h"
#include "dataset/SqliteStatements.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qel {

class TSqliteTable : public TDataSet {
  public:
    // The writes a bulk stretch keeps uncommitted at most, and the bytes of their values; the
    // next write commits them first.
    static constexpr std::size_t kMaxPendingWrites = 65536;
    static constexpr std::size_t kMaxPendingBytes = 32 * 1024 * 1024;
    // The page cache of a stretch that updates or deletes records, in KiB.
    static constexpr std::int64_t kRewriteCacheKiB = 16384;
    // The inserts of a bulk stretch written together at most, in one statement.
    static constexpr std::size_t kInsertBatch = 64;
    // A record of more text than this is written at its own Post, never batched: a batch stays
    // small, and a large record that does not fit fails where it is posted.
    static constexpr std::size_t kMaxBatchedBytes = 8192;

    // Sets SQLite up for the whole process: its memory statistics, which take a process-wide
    // mutex on every allocation and which nothing here reads, are switched off. Due once, at
    // the program's start, before SQLite's first use; SQLite refuses (and ignores) a later
    // call. A program that skips it works the same, a little slower.
    static void ConfigureProcess();

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
    // Inserts waiting in a batch are written first, so that the connection holds every record
    // posted; that write may fail, as a Post would (EDatabaseError).
    sqlite3* Handle();
    // Whether posted records wait in an open write transaction.
    bool InTransaction() const;
    // Called on the connection inside every write transaction right before it commits (also
    // the one that writes records again after SQLite took a transaction back), so that a
    // caller's own bookkeeping is stored together with the records, or not at all. An error it
    // raises fails the commit.
    void SetBeforeCommit(std::function<void(sqlite3*)> hook) { beforeCommit_ = std::move(hook); }

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
    // Which table of a file opens, among `tables` (the file's tables): `requested` when given,
    // else the file's only table, else the table named after the file's stem. `wanted` gets
    // the name looked for; the result is that table's name as the file spells it, or empty
    // when the file has no table of that name (letter case ignored).
    static std::string ChooseTable(const std::vector<std::string>& tables,
                                   const std::string& requested, const std::string& fileName,
                                   std::string& wanted);
    // An identifier for SQL: in double quotes, inner quotes doubled.
    static std::string QuoteName(const std::string& name);

  protected:
    std::vector<TFieldDef> InternalOpen() override;
    void InternalClose() override;
    std::int64_t InternalRecordCount() override;
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

  public:
    std::int64_t LostRecords() const override { return lostRecords_; }

  private:
    // A statement of statements_ ready to run; raises when SQLite refused to prepare it.
    sqlite3_stmt* Ready(sqlite3_stmt* s);
    // Runs a statement to its first row (true) or its end (false). On a failure it raises,
    // after RecoverTakenBackWrites.
    bool Step(sqlite3_stmt* s, const char* action);
    // A write; outside a bulk stretch a failure also ends the (empty) transaction.
    void WriteStep(sqlite3_stmt* s, const char* action);
    // The error text of a failed SQLite call on this table: "Cannot <action> table '<name>':
    // <SQLite's message>", with the wait when another connection holds the lock. It only
    // formats, from the connection's last error, so it is read before anything else runs.
    std::string FailureText(const char* action, int rc) const;
    // Some failures (a full disk, an I/O error) make SQLite take back the whole open write
    // transaction. When that happened, the writes of the replay log are written again and
    // committed; when that fails too, they are lost, the record count is read again, and the
    // text to add to the error says how many records were lost (else it is empty).
    std::string RecoverTakenBackWrites();
    // Writes the kept writes again in a new transaction and commits it; false (and nothing
    // written) when that fails too.
    bool ReplayLog() noexcept;
    void Rewrite(const TReplayLog::TWrite& w);
    void Bind(sqlite3_stmt* s, int param, const Variant& v, TFieldType type);
    void CheckWritable() const;
    // Opens a write transaction unless one is open; true when it goes on in the open one.
    bool BeginWrite();
    void EndWrite();
    void Commit();
    void RollBack() noexcept;
    // In a WAL file a bulk stretch commits with synchronous=NORMAL (a commit no longer waits
    // for the disk; a crash can take back only the last commits, never corrupt the file). The
    // end of the stretch and Close checkpoint the log into the file, which syncs it, and go
    // back to synchronous=FULL, so a finished run is on disk.
    void EndBulkSync() noexcept;
    // Gives a stretch that changes records in place a page cache of kRewriteCacheKiB (once
    // while the connection is open, and only while the cache is as the connection opened).
    void WidenCacheForRewrites();
    // The value of a PRAGMA that answers with one number (0 when it gives none).
    std::int64_t PragmaValue(const char* name) const;
    void ReleaseConnection() noexcept;
    // Keeps a write of the open transaction in the replay log (in a bulk stretch only).
    void RememberWrite(TReplayLog::TWriteKind kind, TRecordId id,
                       const std::vector<Variant>* values, const TFieldFlags* assigned);
    void ForgetWrites();
    void ForgetAnchorsFrom(TRecordId id);
    // Whether this insert may wait in the batch: in a bulk stretch whose writes can be written
    // again, into a table whose inserts cannot fail on a record's values (PlainInserts), a
    // record of at least one field with no value that could fail it: no array, no null for a
    // NOT NULL column, no value for the rowid column, and not too large.
    bool BatchesInsert(const std::vector<Variant>& values, const TFieldFlags& assigned);
    // Keeps an insert in the batch and returns the rowid SQLite gives it: the table's largest
    // rowid plus one, as SQLite's own choice for a table without AUTOINCREMENT (the write
    // transaction holds the lock, so no other connection inserts meanwhile).
    TRecordId BatchInsert(const std::vector<Variant>& values, const TFieldFlags& assigned);
    // Writes the batch's inserts, which were posted already and are in the replay log. When
    // that fails, WriteBatchAlone writes them again; what it could not write is raised.
    void FlushInserts();
    // After the batch of `rows` records failed, the first `written` of them written: writes each
    // other record on its own, as its Post would have, with the rowid it was posted with;
    // first, when SQLite took back the whole transaction, the writes before are written again
    // from the replay log. A record that fails is lost (LostRecords, and what SQLite took back
    // with it is written again). Adds to `text` what was lost; true when nothing was.
    bool WriteBatchAlone(std::size_t rows, std::size_t written, std::string& text);
    // Whether no insert into this table can fail on the values of its record: no trigger, no
    // CHECK or STRICT table, no AUTOINCREMENT, no unique, partial or expression index, no
    // generated column, foreign keys not enforced (a SchemaFact).
    bool PlainInserts();
    // A fact of the table's schema, read by `sql` (the table's name bound as ?1, true when it
    // gives 1) once per write transaction, in which no other connection can change the schema;
    // `checked` and `fact` keep the transaction it was read in and the answer.
    bool SchemaFact(const char* sql, std::uint64_t& checked, bool& fact);
    // Whether `sql`, with the table's name bound as ?1 (and `second`, when given, as ?2), gives
    // a first row whose first column is 1.
    bool TableFact(const char* sql, const std::string* second) const;
    // Whether updating a column of this table does nothing beyond storing the value: no
    // trigger on the table, no CHECK constraint, no foreign keys enforced, a UTF-8 file. Read
    // once per write transaction, in which no other connection can change the schema.
    bool UpdatesStayInTheRow();
    // Whether a search of the text key field `field` may walk its index (SqliteKeyWalk.h): the
    // column has text affinity and SQLite reads the walk from an index in its order, with no
    // sort. Read once per write transaction, for the last field asked about.
    bool KeyWalkable(int field);
    // Answers a search for the text `key` of field `field` by the walk: true with `hit` and
    // `found` set, or false when the walk cannot tell (an entry that is no text).
    bool WalkLocate(int field, const std::string& key, TRecordId& found, bool& hit);

    std::string databaseName_;
    std::string tableName_;
    std::string sqlTable_;
    int busyTimeout_ = 5000;
    bool readOnly_ = false;
    std::string requestedTable_;

    sqlite3* db_ = nullptr;
    std::function<void(sqlite3*)> beforeCommit_;
    std::string quotedTable_;
    std::string rowid_;  // the rowid's name in SQL (an alias column or rowid/_rowid_/oid)
    std::vector<TFieldDef> defs_;
    std::vector<std::string> quotedColumns_;
    // Records in the table, kept up to date by our writes; -1 until someone asks.
    std::int64_t count_ = -1;
    std::int64_t pendingRows_ = 0;  // records written in the open transaction
    std::int64_t lostRecords_ = 0;  // posted records lost by failed commits (LostRecords)
    // Counts writes, transaction ends and reopenings: what a search read holds while it stays.
    std::uint64_t serial_ = 0;
    std::uint64_t transactions_ = 0;                  // counts transactions begun and ended
    std::uint64_t plainUpdatesChecked_ = UINT64_MAX;  // transactions_ when last read
    bool plainUpdates_ = false;
    TLocatedRecord located_;  // the last search's record, in the open transaction
    TSqliteKeyWalk walk_;     // the walk of the last text key searched, in the open transaction
    std::uint64_t walkChecked_ = UINT64_MAX;  // transactions_ when KeyWalkable last read
    int walkCheckedField_ = -1;
    bool walkable_ = false;
    TFieldFlags unchanged_;  // reused: an update's fields less the unchanged key fields

    std::vector<char> notNull_;  // per field: the column is NOT NULL
    int rowidField_ = -1;        // the field that is the rowid (an alias column), else -1
    std::uint64_t plainInsertsChecked_ = UINT64_MAX;  // transactions_ when last read
    bool plainInserts_ = false;
    // The batch: copies of the records waiting (buffers kept between batches), their count,
    // their assigned fields, how many one statement takes, and the rowid of the first.
    std::vector<std::vector<Variant>> batch_;
    std::size_t batchRows_ = 0;
    TFieldFlags batchPattern_;
    std::size_t batchCapacity_ = 0;
    TRecordId batchFirst_ = 0;
    TRecordId nextRowid_ = 0;   // the rowid SQLite gives the next insert; 0: to be read
    bool batchFailed_ = false;  // a batch failed since the table opened: no more batches

    TReplayLog log_;    // the writes of the open transaction (in a bulk stretch)
    bool wal_ = false;  // the file is in WAL mode
    // PRAGMA cache_size as the connection opened, and whether a rewrite widened it since.
    std::int64_t openedCacheSize_ = 0;
    bool cacheWidened_ = false;
    bool bulkSync_ = false;  // synchronous=NORMAL for the current stretch

    TSqliteStatements statements_;
    // Known positions of records (0-based position -> rowid) for paging views.
    std::map<std::int64_t, TRecordId> anchors_;
};

}  // namespace qel
