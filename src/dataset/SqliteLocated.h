// The record a key search of the SQLite table found, with what its key columns hold.
//
// A keyed run searches a record by its key values and then updates it with the row's values,
// which include the same key values. Written through the update, an indexed key column costs
// SQLite taking the record's index entry out and putting it back, most of the update's work,
// although the column ends as it was. TLocatedRecord keeps the key columns' stored values as
// the search read them, so that the update can leave out a key column whose new value binds to
// exactly what it holds (the same storage class and the same bytes): the stored row is the
// same either way. The table uses it only when nothing can have changed the record in between
// and an update of a column has no effect beyond the row (see TSqliteTable::InternalUpdate).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/DataSet.h"

struct sqlite3_stmt;

namespace qel {

// A value as SQLite stores it, seen in place: its storage class and its content. A float is
// kept as its class only, and never matches (0.0 and -0.0 compare equal but are two values).
struct TSqliteStoredView {
    int Type = 0;  // SQLITE_NULL, SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT or SQLITE_BLOB
    std::int64_t Integer = 0;
    std::string_view Bytes;  // a text's UTF-8 bytes or a blob's bytes

    // Column `col` of the statement's current row (the bytes stay valid until its next step).
    static TSqliteStoredView Of(sqlite3_stmt* s, int col);
    // Whether binding `v` for a field of type `type` (BindSqliteValue) binds exactly this value.
    bool IsBindingOf(const Variant& v, TFieldType type) const;
};

// As TSqliteStoredView, with the bytes kept.
struct TSqliteStored {
    int Type = 0;
    std::int64_t Integer = 0;
    std::string Bytes;

    // Reads column `col` of the statement's current row.
    void Read(sqlite3_stmt* s, int col);
    bool IsBindingOf(const Variant& v, TFieldType type) const {
        return TSqliteStoredView{Type, Integer, Bytes}.IsBindingOf(v, type);
    }
};

// Whether the statement's current row, field i read from column `firstColumn` + i, holds for
// every assigned field what binding its new value (`values`, typed by `defs`) would store.
bool RowHoldsValues(sqlite3_stmt* s, int firstColumn, const std::vector<Variant>& values,
                    const std::vector<TFieldDef>& defs, const TFieldFlags& assigned);

class TLocatedRecord {
  public:
    // Keeps the record `id` as found at `serial` (the table's count of writes and transaction
    // ends), with the stored values of the key fields `fieldIndexes`, read from the columns
    // `firstColumn`.. of the search's current row.
    void Keep(TRecordId id, std::uint64_t serial, sqlite3_stmt* s, int firstColumn,
              const std::vector<int>& fieldIndexes);
    // As Keep, for a search of the one key field `field` that found the text `text` stored.
    void KeepText(TRecordId id, std::uint64_t serial, int field, const std::string& text);
    void Forget() { kept_ = false; }
    // Whether the kept search found `id` at `serial`, nothing having been written since.
    bool Holds(TRecordId id, std::uint64_t serial) const {
        return kept_ && id_ == id && serial_ == serial;
    }
    // The assigned fields of an update of the kept record less the key fields whose new value
    // (`values`, typed by `defs`) binds to what they hold. False when no field would be left
    // out, or every one would; `out` is then of no use.
    bool LeaveOutUnchanged(const std::vector<Variant>& values, const std::vector<TFieldDef>& defs,
                           const TFieldFlags& assigned, TFieldFlags& out) const;

  private:
    bool kept_ = false;
    TRecordId id_ = 0;
    std::uint64_t serial_ = 0;
    std::vector<int> fields_;
    std::vector<TSqliteStored> stored_;  // reused between searches
};

}  // namespace qel
