// The dataset contract: a table of records with named, typed fields and one current record.
// TDataSet keeps the state machine (browse / edit / insert), the record buffer and the bound
// views; a storage engine (the in-memory table, the SQLite table) supplies the records.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Errors.h"
#include "core/Variant.h"

namespace qel {

// Ordinals 0-14 are fixed: the import engine switches on them.
enum TFieldType : std::uint8_t {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint
};

// Field types held as bytes (stored as a blob or bytea, written from Base64 text).
bool IsBinaryFieldType(TFieldType t);
// Field types held as a whole number.
bool IsIntegerFieldType(TFieldType t);
// Field types held as text: the character strings and the memos.
bool IsTextFieldType(TFieldType t);
// Field types of large objects, read and written whole: binary blobs and the memos.
bool IsLargeObjectFieldType(TFieldType t);
// "ftInteger" etc.
const char* FieldTypeName(TFieldType t);

enum TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey };
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = std::uint8_t;

// Messages of the dataset layer besides the shared ones in core/Errors.h.
namespace msg {
inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kFieldRequired = "Field '%s' must have a value";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
}  // namespace msg

class TDataSet;

// The description of one field, as a storage engine reports it.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = ftString;
    int Size = 0;           // characters of a string field (0: no declared limit)
    bool Required = false;  // the store rejects a record without a value for it
};
bool operator==(const TFieldDef& a, const TFieldDef& b);

// One flag per field of a record (a byte each, so that patterns compare and index cheaply).
using TFieldFlags = std::vector<char>;

class TField {
  public:
    TField(TDataSet* dataSet, TFieldDef def, int index);

    const std::string& FieldName() const { return def_.Name; }
    const std::string& DisplayLabel() const {
        return displayLabel_.empty() ? def_.Name : displayLabel_;
    }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    TFieldType DataType() const { return def_.DataType; }
    int Index() const { return index_; }  // position in the dataset's Fields, -1 when none
    TAlignment Alignment() const;         // numeric fields right, others left
    int Size() const { return def_.Size; }
    int Precision() const { return precision_; }  // float fields; default 15
    int DisplayWidth() const;  // characters shown: the size of a string field, else by type
    bool Required() const { return def_.Required; }
    bool IsBlob() const;
    bool IsNumeric() const;   // small integer, integer, word, auto-increment, float, currency, BCD
    bool IsDateTime() const;  // date, time, date-time
    bool IsFloat() const;     // float, currency
    bool IsString() const;    // string, fixed char, wide string, memo
    TDataSet* DataSet() const { return dataSet_; }
    const TFieldDef& Def() const { return def_; }
    // A number no other field object of the process has had: what was worked out for a field
    // can be kept by it, even where a later field object takes the same address.
    std::uint64_t Serial() const { return serial_; }

    // The current record's value (Null when the field is empty).
    Variant Value() const;
    // Converts v to the field's type and stores it in the current record; Null or Empty clears
    // the field. Only in edit or insert state. A value the field cannot take raises
    // EDatabaseError "Invalid value for field '%s'" (the display name).
    void SetValue(const Variant& v);
    void Clear();
    bool IsNull() const { return Value().IsNull(); }
    std::string AsString() const { return VarToStr(Value()); }

    // The field's conversion of a value to its type, without storing it (raises as SetValue).
    // Null, Empty, and empty text for a field that is not a string field, give Null.
    //  - integer family: Integer, Boolean (-1/0), Real without fraction, integer text; in the
    //    range of the type (small integer 16 bits, word 0..65535, large integer 2^53);
    //  - float family: Integer, Real (finite), numeric text (process-wide decimal separator);
    //  - date and time: DateTime, numbers, ISO-8601 text, regional date text; a date field keeps
    //    the day, a time field the time of day;
    //  - Boolean: Boolean, numbers (non-zero is true), "True" / "False" in any letter case;
    //  - string family: any single value as text, never cut to Size;
    //  - blobs and bytes: text (bytes);
    //  - unknown type: any single value unchanged.
    Variant Convert(const Variant& v) const;

  private:
    friend class TDataSet;
    [[noreturn]] void InvalidValue() const;

    TDataSet* dataSet_;
    TFieldDef def_;
    std::string displayLabel_;
    int index_;
    int precision_ = 15;
    std::uint64_t serial_;
};

// A view bound to a dataset (a grid). It is told when the data changed, except while the
// dataset's controls are disabled; it is refreshed once when they are enabled again.
class TDataLink {
  public:
    virtual ~TDataLink() = default;
    virtual void DataSetChanged() = 0;  // records, the cursor or the active state changed
    virtual void DataSetDestroyed() {}  // the dataset is going away; forget it
};

// Key of a stored record, chosen by the engine: stable while the record exists and ordered like
// the stored order (the rowid of an SQLite table).
using TRecordId = std::int64_t;

class TDataSet : public TComponent {
  public:
    explicit TDataSet(TComponent* owner = nullptr);
    ~TDataSet() override;
    const char* ClassName() const override { return "TDataSet"; }

    void Open();
    void Close();  // commits pending writes, posts nothing: an open edit is cancelled first
    bool Active() const { return state_ != dsInactive; }
    void SetActive(bool active) { active ? Open() : Close(); }
    TDataSetState State() const { return state_; }

    // Navigation over the records in their stored order. A record being edited is posted first.
    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty();
    std::int64_t RecordCount();
    // 1-based position of the current record, 0 when none (worked out on demand).
    std::int64_t RecNo() const;

    // Record editing.
    void Append();  // a new record at the end: State insert, fields empty (or their defaults)
    void Insert() { Append(); }
    void
    Edit();  // the current record: State edit ("Cannot perform this operation on an empty dataset")
    // Sets the fields flagged in `assigned` (one flag per field) of the record being edited
    // to the values at their index in `values`, as SetValue of each would store them; the
    // values must be of the field's own kind (text for a text field, an integer for an integer
    // field, ...) or Null. They are swapped in: `values` takes what those fields held.
    void TakeRecordValues(std::vector<Variant>& values, const TFieldFlags& assigned);
    void Post();    // stores the record; on failure raises and stays in edit/insert state
    void Cancel();  // discards the record being edited; State browse
    // Removes the current record; the next becomes current. When the last record was removed,
    // the new last record is current and Eof is true; Eof is true once the table is empty.
    void Delete();

    // Fields.
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    // A number that changes whenever a field object of this dataset is replaced, added or
    // removed, and that no other dataset of the process has had: what was worked out for the
    // fields stays valid while it is the same.
    std::uint64_t FieldsVersion() const { return fieldsVersion_; }
    // "List index out of bounds (%d)" for an index outside the fields.
    TField* Fields(int index) const {
        CheckListIndex(index, FieldCount());
        return fields_[static_cast<std::size_t>(index)].get();
    }
    TField* FindField(const std::string& name) const;    // letter case ignored; nullptr when none
    TField* FieldByName(const std::string& name) const;  // "Field '%s' not found"
    // Values of the current record: one name gives the value, "A;B" gives an array.
    Variant FieldValues(const std::string& names) const;

    // Searches from the first record for one whose key fields equal keyValues (one value for
    // one name, an array with one value per name for "A;B"). Exact and case-sensitive without
    // options. Key values are converted to their fields' types first (text "200" finds the
    // integer 200); a key value a field cannot take matches nothing. On success the record
    // becomes current.
    bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options = 0);

    // Bound views stop following the dataset; calls nest, the outermost EnableControls
    // refreshes the views once. The end of the outermost stretch also commits pending writes.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }
    void AddDataLink(TDataLink* link);
    void RemoveDataLink(TDataLink* link);
    // Tells every bound view that the data changed (nothing while controls are disabled).
    void NotifyDataLinks();

    // Writes cached changes to the table's store (commits the open write transaction).
    virtual void FlushBuffers();
    // How many writes (posted records and deletions) that had succeeded were lost afterwards,
    // counted over the dataset's life: an engine that holds writes back (a transaction, a
    // batch) and then fails to store them (a commit, a flush or the replay of a taken-back
    // transaction that fails) adds their number here before it raises. The lost writes are
    // always the latest ones that succeeded. A write that fails itself is not counted (its
    // caller sees it fail). An engine that stores every write at once keeps the default, 0.
    virtual std::int64_t LostRecords() const { return 0; }

    // Rows for views, read without moving the cursor: up to `count` records from the 0-based
    // position `first`, each as one value per field. The default walks the records from the
    // first; an engine with a faster way overrides it.
    virtual void ReadRecords(std::int64_t first, std::int64_t count,
                             std::vector<std::vector<Variant>>& out);

  protected:
    enum TSeek : std::uint8_t { skFirst, skLast, skNext, skPrior };

    // Hooks of a storage engine.
    virtual std::vector<TFieldDef> InternalOpen() = 0;  // the fields; raise when it cannot open
    virtual void InternalClose() = 0;  // commits pending writes; must not raise when closing twice
    virtual std::int64_t InternalRecordCount() = 0;
    // Moves `id` to the first / last record, or to the one after / before `id` (which need not
    // exist any more). False, with `id` unchanged, when there is none.
    virtual bool InternalSeek(TSeek how, TRecordId& id) = 0;
    // The record's values, one per field; false when the record no longer exists.
    virtual bool InternalRead(TRecordId id, std::vector<Variant>& values) = 0;
    // Stores a new record and returns its id. `assigned` tells which fields were given a value
    // (or cleared) since Append; the others take the store's defaults. Values are already
    // converted to their fields' types.
    virtual TRecordId InternalInsert(const std::vector<Variant>& values,
                                     const TFieldFlags& assigned) = 0;
    // Writes the assigned fields of an existing record.
    virtual void InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                                const TFieldFlags& assigned) = 0;
    virtual void InternalDelete(TRecordId id) = 0;
    // The first record in stored order whose fields equal the (converted) values; Null matches
    // Null. The default reads record by record; an engine with indexes overrides it.
    virtual bool InternalLocate(const std::vector<int>& fieldIndexes,
                                const std::vector<Variant>& values, TLocateOptions options,
                                TRecordId& found);
    // 1-based position of a record. The default counts from the first record.
    virtual std::int64_t InternalRecNo(TRecordId id);
    // Commits writes the engine holds back (FlushBuffers, the end of a DisableControls stretch).
    virtual void InternalFlush() {}

    // Whether a stored value equals a key value under the Locate options.
    static bool KeyMatches(const Variant& stored, const Variant& key, TLocateOptions options);

    // Engines call this before they go away (their destructor): closes while the engine exists.
    void CloseQuietly() noexcept;
    void CheckInactive() const;
    // Makes the fields match the definitions; unchanged leading fields keep their objects.
    void SetFieldDefs(const std::vector<TFieldDef>& defs);
    // For InternalInsert: when `values` is the record being posted, swaps it with `other` (of
    // as many values) and returns true. The record is not read again once posted, so an engine
    // that keeps the values takes them instead of copying them.
    bool TakePostedValues(const std::vector<Variant>& values,
                          std::vector<Variant>& other) noexcept {
        if (&values != &buffer_ || other.size() != buffer_.size()) return false;
        buffer_.swap(other);
        return true;
    }

  private:
    friend class TField;
    void CheckActive() const;
    void CheckBrowseMode();  // posts a record being edited
    void CheckEditing() const;
    void EnsureLoaded() const;
    void SetCurrent(TRecordId id);
    void SetNoCurrent();
    std::vector<int> FieldIndexes(const std::string& names) const;
    Variant CurrentValue(int index) const;
    void StoreValue(int index, Variant&& v);
    void StoreValue(int index, const Variant& v);

    std::vector<std::unique_ptr<TField>> fields_;
    std::uint64_t fieldsVersion_;
    // The key names of the last Locate and their field indexes (until the fields change), and
    // its key values, kept between calls.
    std::optional<std::string> locateNames_;
    std::vector<int> locateIndexes_;
    std::vector<Variant> locateKeys_;
    mutable std::vector<Variant> buffer_;  // the current record (or the one being edited)
    TFieldFlags assigned_;                 // fields written since Append / Edit
    mutable bool loaded_ = false;          // buffer_ holds the current record's stored values
    std::vector<TDataLink*> links_;
    TDataSetState state_ = dsInactive;
    bool hasCurrent_ = false;
    TRecordId current_ = 0;
    mutable std::int64_t recNo_ = 0;  // 1-based; -1 while not worked out
    bool eof_ = true;
    bool bof_ = true;
    int disableCount_ = 0;
    // The cursor before Append, restored by Cancel.
    bool savedHasCurrent_ = false;
    TRecordId savedCurrent_ = 0;
    std::int64_t savedRecNo_ = 0;
    bool savedEof_ = true, savedBof_ = true;
};

}  // namespace qel
