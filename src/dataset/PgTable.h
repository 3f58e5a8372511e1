// The PostgreSQL table engine: a dataset over one table of a PostgreSQL database, through libpq.
//
// DatabaseName is a libpq connection string (a URI such as postgresql://user@host:5432/db, or a
// keyword list) and TableName the table, "name" or "schema.name" by PostgreSQL's own rules
// (unquoted names fold to lower case; double quotes keep them). Fields and their types come from
// the columns' types. A record is addressed by the table's integer primary key when it has a
// one-column one, and then kept in key order; otherwise by its physical place (ctid), in the
// table's physical order, where an updated record moves to the new version's place (and a
// COPY may put a later record into room left on an earlier page: a heap has no insertion order).
//
// Writes are grouped in one transaction that FlushBuffers, the end of the outermost
// DisableControls stretch and Close commit; outside such a stretch every Post commits at once.
// A stretch commits on its own after kMaxPendingWrites writes; that commit is sent without
// waiting for its answer, and the records posted meanwhile are kept (up to kCommitAheadBytes of
// COPY text) until the answer is in: when the commit fails, they are lost with its records and
// counted with them. Records appended one after the other in a stretch are streamed with
// COPY ... FROM STDIN rather than one INSERT each: every value is checked against its column
// before it goes into the stream (a value the column cannot take fails at its own Post), and
// the last record posted is held back and written with an INSERT when the table is next read,
// so that it can be current as the contract asks.
// When the server fails the transaction (a key violation found in the stream, a lost
// connection, a read-only server), everything posted in it is rolled back and the count is
// reported (LostRecords); the table then refuses writes until the stretch ends, and the end of
// the stretch raises the failure, so a run into it ends failed with its counters true.
// The table is never created or altered by opening it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataset/DataSet.h"

struct pg_conn;
struct pg_result;

namespace qel {

class TPgTable : public TDataSet {
  public:
    // The writes a stretch keeps uncommitted at most (as the SQLite table does).
    static constexpr std::size_t kMaxPendingWrites = 65536;
    // COPY data handed to the connection at a time.
    static constexpr std::size_t kCopyChunkBytes = 256 * 1024;
    // COPY text kept at most while a stretch's own commit is on its way.
    static constexpr std::size_t kCommitAheadBytes = 16 * 1024 * 1024;

    explicit TPgTable(TComponent* owner = nullptr);
    ~TPgTable() override;
    const char* ClassName() const override { return "TPgTable"; }

    // The libpq connection string. Set while closed.
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& conninfo);
    // "name" or "schema.name"; empty: the only table the connection's search path shows.
    // Set while closed.
    const std::string& TableName() const { return tableName_; }
    void SetTableName(const std::string& name);
    // The table as SQL, schema-qualified and quoted (known once open).
    const std::string& SqlTableName() const { return quotedTable_; }
    // Opens for reading only; editing is then refused. Set while closed.
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);

    // The connection while open (nullptr when closed).
    pg_conn* Handle() const { return conn_; }
    // Whether posted records wait in an open write transaction.
    bool InTransaction() const { return inTransaction_; }
    // Posted records that a failed transaction took back, counted since the table was opened.
    std::int64_t LostRecords() const override { return lostRecords_; }
    // Whether a Locate on these key fields ("A;B") can use an index of the table: a valid
    // b-tree index whose first column is one of them.
    bool HasIndexFor(const std::string& keyFields) const;

    // Creates a table of the given fields; raises when it exists. Column types: integer,
    // smallint, bigint, double precision, numeric, money, boolean, date, time, timestamp,
    // varchar(n)/text, bytea; an auto-increment field becomes an integer identity primary key
    // and a required one NOT NULL. `tableName` is "name" or "schema.name" as for TableName.
    static void CreateTable(const std::string& conninfo, const std::string& tableName,
                            const std::vector<TFieldDef>& fields);
    // Runs CREATE TABLE IF NOT EXISTS with a column list in PostgreSQL's own terms ("host
    // text, code integer"); one statement only.
    static void CreateTableIfMissing(const std::string& conninfo, const std::string& tableName,
                                     const std::string& columnList);
    // The field type of a column type by its name in pg_type ("int4", "varchar"...) and its
    // type modifier (the declared length of a varchar, -1 when none).
    static TFieldType FieldTypeOf(const std::string& typeName, int typmod, int& size);
    // An identifier for SQL: in double quotes, inner quotes doubled.
    static std::string QuoteName(const std::string& name);
    // "schema.name" or "name" as SQL: each part quoted as PostgreSQL would read it unquoted
    // (folded to lower case) unless it is already in double quotes.
    static std::string QuoteQualifiedName(const std::string& name);

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
    struct ResultDeleter {
        void operator()(pg_result* r) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;

    // What a column takes, beyond its field type.
    struct Column {
        std::string Quoted;
        std::string TypeName;  // pg_type name of the column's (base) type
        int Size = 0;          // characters of a varchar/char column (0: no limit)
        int Precision = 0;     // numeric(p, s): digits in all and after the point (0: none;
        int Scale = 0;         // a negative scale rounds before the point)
        bool NotNull = false;
        bool Real4 = false;  // float4
        bool Int2 = false;
        bool Int4 = false;
        bool Text = false;     // a value that is text is written as it is (text types, unknown)
        bool Integer = false;  // int2, int4, int8
        bool Plain = false;    // the value's text never needs an escape (numbers, dates, boolean)
        bool Generated = false;
    };
    // One record's values as text for the server, one per field.
    struct RowText {
        std::vector<std::string> Text;
        TFieldFlags Null;
        TFieldFlags Assigned;
    };

    // Statements: prepared once by their SQL, run with text parameters.
    Result Run(const std::string& sql, const std::vector<const std::string*>& params,
               const TFieldFlags* nulls, const char* action);
    Result RunPlain(const std::string& sql, const char* action);
    // Formats the server's complaint; when it ended the write transaction, rolls back and
    // counts what was lost. Always raises.
    [[noreturn]] void Fail(const char* action, const pg_result* r);
    [[noreturn]] void FailText(const char* action, std::string detail);
    void LoseTransaction(std::string& text);
    // Appends the value as the server's text for the field's column; raises EDatabaseError
    // (naming the field) for a value the column cannot take.
    void ValueText(std::size_t field, const Variant& v, std::string& out, char& isNull) const;
    // Raises unless `text` suits the field's column (UTF-8 without NUL, within its length);
    // with `out`, appends it as COPY text.
    void AppendText(std::size_t field, std::string_view text, std::string* out) const;
    [[noreturn]] void ComputedField(std::size_t field) const;
    [[noreturn]] void RequiredField(std::size_t field) const;
    void RowToText(const std::vector<Variant>& values, const TFieldFlags& assigned, RowText& out);
    // The record as one line of COPY text (the assigned fields, tab-separated), and back.
    void RowToLine(const std::vector<Variant>& values, const TFieldFlags& assigned,
                   std::string& line);
    void LineToText(std::string_view line, const TFieldFlags& assigned, RowText& out);
    Variant ReadValue(std::size_t field, const char* text, int length, bool isNull) const;

    void CheckWritable() const;
    void BeginWrite();
    void EndWrite();
    void CheckTransaction();
    void Commit();
    // A long stretch's own commit: COMMIT and the next BEGIN are sent, their answer is taken
    // by AwaitCommit, which everything that talks to the server calls first.
    void CommitAhead();
    void AwaitCommit();
    // Brings the server's table up to date: the streamed records are ended and the held record
    // is written, so that any other statement sees every posted record.
    void Sync();
    // The held record, which ends at `heldEnd` in the buffer, joins the stream.
    void PushHeld(std::size_t heldEnd);
    void StartCopy(const TFieldFlags& pattern);
    void SendCopy();
    void EndCopy();
    // The id of a record as the server knows it now (a held record is written first).
    TRecordId Resolve(TRecordId id);
    void Alias(TRecordId from, TRecordId to);
    std::string IdText(TRecordId id) const;
    TRecordId IdOf(const char* text) const;
    std::string ColumnList() const;
    std::string InsertSql(const TFieldFlags& assigned) const;
    // Forgets the record stream and the held record (the connection is left as it is).
    void DropStream() noexcept;
    void ReleaseConnection() noexcept;

    std::string databaseName_;
    std::string tableName_;
    bool readOnly_ = false;

    pg_conn* conn_ = nullptr;
    std::string quotedTable_;
    std::string tableOid_;
    std::vector<TFieldDef> defs_;
    std::vector<Column> columns_;
    std::string idExpr_;  // "ctid" or the quoted integer key column
    int idField_ = -1;    // the key column's field, -1 with ctid
    std::int64_t count_ = 0;
    std::unordered_map<std::string, std::string> prepared_;  // SQL -> statement name

    bool inTransaction_ = false;
    std::int64_t pendingRows_ = 0;  // writes of the open transaction
    std::int64_t pendingAdded_ = 0;
    std::int64_t pendingDeleted_ = 0;
    std::int64_t lostRecords_ = 0;
    std::string failure_;  // a stretch whose transaction was lost refuses writes until its end
    // A commit sent and not yet answered, with the writes it holds.
    bool committing_ = false;
    std::int64_t committingRows_ = 0;
    std::int64_t committingAdded_ = 0;
    std::int64_t committingDeleted_ = 0;

    // The record stream.
    bool copying_ = false;  // a COPY is in progress on the connection
    TFieldFlags copyPattern_;
    // COPY text: the stream not yet sent, [0, streamEnd_), then the held record's line.
    std::string copyBuffer_;
    std::size_t streamEnd_ = 0;
    std::size_t sendAt_ = kCopyChunkBytes;  // stream length at which it is next sent
    bool held_ = false;                     // the last posted record, not yet in the stream
    TFieldFlags heldPattern_;
    bool heldKeyKnown_ = false;  // the held record carries its integer key
    TRecordId heldKey_ = 0;
    RowText nextRow_;      // values as text for a single statement
    std::string scratch_;  // one value's text
    TRecordId heldId_ = 0;
    TRecordId nextProvisional_ = 0;
    std::vector<std::pair<TRecordId, TRecordId>> aliases_;  // provisional or moved ids
};

}  // namespace qel
