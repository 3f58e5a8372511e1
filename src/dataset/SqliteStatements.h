// The prepared statements of an open SQLite table, and values between Variant and SQLite.
//
// TSqliteStatements builds the SQL of each statement the table runs from the table's quoted
// names, prepares it once (SQLITE_PREPARE_PERSISTENT) and keeps it for reuse until Release.
// Inserts and updates are kept per pattern of assigned fields, searches per key fields and
// pattern of null keys. A statement SQLite refuses comes back as nullptr with SQLite's result
// code in PrepareError(); raising the error is the table's part.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/ReplayLog.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qel {

struct TSqliteStmtDeleter {
    void operator()(sqlite3_stmt* s) const;
};
using TSqliteStmt = std::unique_ptr<sqlite3_stmt, TSqliteStmtDeleter>;

// Runs a statement through a scope: reset and unbound however the scope ends. A statement whose
// every parameter is bound again before each step (the writes of a record) may keep its
// bindings: clearing them costs more than the binds that replace them.
class TStatementUse {
  public:
    enum TBindings { bsClear, bsRebound };
    explicit TStatementUse(sqlite3_stmt* s, TBindings bindings = bsClear)
        : s_(s), clear_(bindings == bsClear) {}
    ~TStatementUse();
    TStatementUse(const TStatementUse&) = delete;
    TStatementUse& operator=(const TStatementUse&) = delete;

  private:
    sqlite3_stmt* s_;
    bool clear_;
};

// The text of a column of the current row (empty for NULL).
std::string SqliteColumnText(sqlite3_stmt* s, int col);
// Binds a value for a field of the given type and returns SQLite's result code: null and empty
// as NULL, integers as integers (a real for an integer field rounded), dates and times as
// ISO-8601 text, text as a blob for a byte field and as UTF-8 text otherwise. The text is bound
// without a copy, so the value must outlive the statement's step. Raises EVariantError for an
// array.
int BindSqliteValue(sqlite3_stmt* s, int param, const Variant& v, TFieldType type);
// The value of a column read for a field of the given type.
Variant SqliteColumnValue(sqlite3_stmt* s, int col, TFieldType type);

class TSqliteStatements {
  public:
    // The connection and the table's names in SQL (`rowid` is the rowid's name: an alias
    // column or rowid/_rowid_/oid). Finalizes the statements of an earlier table.
    void Attach(sqlite3* db, std::string quotedTable, std::string rowid,
                std::vector<std::string> quotedColumns);
    // Finalizes every statement; due before the connection closes.
    void Release() noexcept;
    // SQLite's result code of the last statement that could not be prepared.
    int PrepareError() const { return prepareError_; }

    sqlite3_stmt* Begin();  // BEGIN IMMEDIATE
    sqlite3_stmt* Commit();
    sqlite3_stmt* Rollback();
    // The rowid of the first, last, next or prior record (?1: the rowid to go on from).
    sqlite3_stmt* First();
    sqlite3_stmt* Last();
    sqlite3_stmt* Next();
    sqlite3_stmt* Prior();
    // The rowid and every column of the record ?1.
    sqlite3_stmt* Read();
    // The rowid and every column of ?2 records in rowid order from offset ?3; `fromAnchor`
    // counts the offset from rowid ?1 instead of the table's start.
    sqlite3_stmt* Page(bool fromAnchor);
    // The records up to and including rowid ?1.
    sqlite3_stmt* RecNo();
    // Inserts the assigned fields, bound as ?1..?n in field order; the fields left out take
    // the table's defaults.
    sqlite3_stmt* Insert(const TFieldFlags& assigned);
    // Inserts `rows` records of the same assigned fields in one statement (at least one field):
    // the first record's values as ?1..?n, the next one's from ?n+1, and so on. One statement is
    // kept per pattern, of the last row count asked for with it.
    sqlite3_stmt* InsertRows(const TFieldFlags& assigned, int rows);
    // Updates the assigned fields (?1..?n in field order) of the record ?n+1, n being the
    // number of assigned fields (at least one).
    sqlite3_stmt* Update(const TFieldFlags& assigned);
    sqlite3_stmt* Delete();  // the record ?1
    // The first rowid whose key fields equal the values: "=" and an exact comparison for a
    // value (bound as ?1.. in key order, nulls skipped), "IS NULL" for a null. The key columns
    // follow the rowid, in key order, as they are stored.
    sqlite3_stmt* Locate(const std::vector<int>& fieldIndexes, const std::vector<Variant>& values);
    // The rowid, the key field `field` and every column of the records whose key is at least ?1
    // (a text, by bytes), in that order and then by rowid: the walk of SqliteKeyWalk.h.
    // KeyWalkSql is its text, for asking SQLite how it will run it.
    sqlite3_stmt* KeyWalk(int field);
    std::string KeyWalkSql(int field) const;
    // A statement for writing one kept write again, not kept: an insert that gives the record
    // its rowid ?1 back, an update of the record ?1, or a delete of it. The listed fields are
    // bound as ?2.. in that order.
    TSqliteStmt Rewrite(TReplayLog::TWriteKind kind, const std::vector<std::size_t>& fields);

  private:
    sqlite3_stmt* Prepare(TSqliteStmt& slot, const std::string& sql);
    // The slot of `map` for a pattern of assigned fields, through the last one asked for.
    TSqliteStmt& PatternSlot(std::unordered_map<std::string, TSqliteStmt>& map,
                             const TFieldFlags& assigned, TSqliteStmt*& last,
                             TFieldFlags& lastPattern);
    // INSERT INTO the table (the assigned columns) VALUES, `rows` records of parameters.
    std::string InsertSql(const TFieldFlags& assigned, int rows) const;
    std::string ColumnList() const;

    sqlite3* db_ = nullptr;
    std::string quotedTable_;
    std::string rowid_;
    std::vector<std::string> quotedColumns_;
    int prepareError_ = 0;

    TSqliteStmt begin_, commit_, rollback_, first_, last_, next_, prior_, read_, delete_, recNo_,
        page_, pageFrom_;
    std::unordered_map<std::string, TSqliteStmt> inserts_;  // by the pattern of assigned fields
    // The statement of the last insert and its pattern: an import assigns the same fields on
    // every row. (Elements of an unordered_map keep their address.)
    TSqliteStmt* lastInsert_ = nullptr;
    TFieldFlags lastInsertPattern_;
    std::unordered_map<std::string, TSqliteStmt> insertRows_;  // as inserts_, many rows
    TSqliteStmt* lastInsertRows_ = nullptr;
    TFieldFlags lastInsertRowsPattern_;
    std::unordered_map<std::string, TSqliteStmt> updates_;
    TSqliteStmt* lastUpdate_ = nullptr;  // as lastInsert_: a keyed run repeats its pattern
    TFieldFlags lastUpdatePattern_;
    std::unordered_map<std::string, TSqliteStmt> locates_;  // by key fields and null keys
    TSqliteStmt* lastLocate_ = nullptr;                     // and the last one's key
    std::string lastLocateKey_;
    std::unordered_map<int, TSqliteStmt> keyWalks_;  // by key field
    std::string key_;                                // reused key buffer for the maps above
};

}  // namespace qel
