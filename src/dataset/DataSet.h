// The dataset contract: a table of records with named, typed fields and one current record.
// TDataSet keeps the state machine (browse / edit / insert), the record buffer and the bound
// views; a storage engine (the in-memory table, the SQLite table) supplies the records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Component.h"
#include "core/Variant.h"

namespace qel {

// Ordinals 0-14 are fixed: the import engine switches on them.
enum TFieldType : std::uint8_t {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
    ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
    ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
    ftLargeint
};
// "ftInteger" etc.
const char* FieldTypeName(TFieldType t);

enum TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey };
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = std::uint8_t;

class TDataSet;

// The description of one field, as a storage engine reports it.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = ftString;
    int Size = 0;  // characters of a string field
    bool Required = false;
};

class TField {
public:
    TField(TDataSet* dataSet, TFieldDef def, int index);

    const std::string& FieldName() const { return def_.Name; }
    const std::string& DisplayLabel() const { return displayLabel_.empty() ? def_.Name : displayLabel_; }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    TFieldType DataType() const { return def_.DataType; }
    int Index() const { return index_; }  // position in the dataset's Fields, -1 when none
    TAlignment Alignment() const;          // numeric fields right, others left
    int Size() const { return def_.Size; }
    int Precision() const { return precision_; }  // float fields; default 15
    int DisplayWidth() const;  // characters shown: the size of a string field, else by type
    bool Required() const { return def_.Required; }
    bool IsBlob() const;
    bool IsNumeric() const;   // small integer, integer, word, auto-increment, float, currency, BCD
    bool IsDateTime() const;  // date, time, date-time
    bool IsFloat() const;     // float, currency
    TDataSet* DataSet() const { return dataSet_; }

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
    Variant Convert(const Variant& v) const;

private:
    TDataSet* dataSet_;
    TFieldDef def_;
    std::string displayLabel_;
    int index_;
    int precision_ = 15;
};

// A view bound to a dataset (a grid). It is told when the data changed, except while the
// dataset's controls are disabled; it is refreshed once when they are enabled again.
class TDataLink {
public:
    virtual ~TDataLink() = default;
    virtual void DataSetChanged() = 0;  // records or the active state changed
};

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

    // Navigation over the records in their stored order.
    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty();
    std::int64_t RecordCount();
    std::int64_t RecNo() const { return recNo_; }  // 1-based position of the current record, 0 when none

    // Record editing.
    void Append();  // a new record at the end: State insert, fields empty (or their defaults)
    void Insert() { Append(); }
    void Edit();    // the current record: State edit ("Cannot perform this operation on an empty dataset")
    void Post();    // stores the record; on failure raises and stays in edit/insert state
    void Cancel();  // discards the record being edited; State browse
    void Delete();  // removes the current record; the next becomes current

    // Fields.
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    TField* Fields(int index) const;             // "List index out of bounds (%d)"
    TField* FindField(const std::string& name) const;  // letter case ignored; nullptr when none
    TField* FieldByName(const std::string& name) const;  // "Field '%s' not found"
    // Values of the current record: one name gives the value, "A;B" gives an array.
    Variant FieldValues(const std::string& names) const;

    // Searches from the first record for one whose key fields equal keyValues (one value for
    // one name, an array with one value per name for "A;B"). Exact and case-sensitive without
    // options. On success the record becomes current.
    bool Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options = 0);

    // Bound views stop following the dataset; calls nest, the outermost EnableControls
    // refreshes the views once. The end of the outermost stretch also commits pending writes.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }
    void AddDataLink(TDataLink* link);
    void RemoveDataLink(TDataLink* link);

    // Writes cached changes to the table's store (commits the open write transaction).
    virtual void FlushBuffers() {}

    // Rows for views, read without moving the cursor: up to `count` records from the 0-based
    // position `first`, each as one value per field.
    virtual void ReadRecords(std::int64_t first, std::int64_t count,
                             std::vector<std::vector<Variant>>& out) = 0;

protected:
    // Hooks of a storage engine. Records are addressed by a 0-based position in stored order.
    virtual std::vector<TFieldDef> InternalOpen() = 0;   // the fields; raise when it cannot open
    virtual void InternalClose() = 0;
    virtual std::int64_t InternalRecordCount() = 0;
    virtual void InternalRead(std::int64_t position, std::vector<Variant>& values) = 0;
    // Stores a new record at the end (insert) or replaces the record at `position` (edit).
    virtual void InternalInsert(const std::vector<Variant>& values) = 0;
    virtual void InternalUpdate(std::int64_t position, const std::vector<Variant>& values) = 0;
    virtual void InternalDelete(std::int64_t position) = 0;
    // Position of the first record at or after `from` whose fields equal the values, or -1.
    // The default reads record by record; an engine with indexes overrides it.
    virtual std::int64_t InternalLocate(const std::vector<int>& fieldIndexes,
                                        const std::vector<Variant>& values, TLocateOptions options);
    // Called when the outermost DisableControls stretch ends.
    virtual void ControlsEnabled() {}

    void NotifyDataLinks();
    const std::vector<Variant>& Buffer() const { return buffer_; }

private:
    friend class TField;
    void CheckActive() const;
    void CheckBrowse() const;
    void LoadCurrent();
    void SetEmptyCursor();

    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<Variant> buffer_;  // the current record (or the one being edited)
    std::vector<TDataLink*> links_;
    TDataSetState state_ = dsInactive;
    std::int64_t recNo_ = 0;  // 1-based, 0 when there is no current record
    bool eof_ = true;
    bool bof_ = true;
    int disableCount_ = 0;
};

}  // namespace qel
