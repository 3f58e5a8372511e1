// An in-memory table: fields defined in code, records kept in memory in the order they were
// added. Used as a lookup table and as a destination in tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dataset/DataSet.h"

namespace qel {

class TMemTable : public TDataSet {
  public:
    explicit TMemTable(TComponent* owner = nullptr);
    ~TMemTable() override;
    const char* ClassName() const override { return "TMemTable"; }

    // Defines a field; only while the table is closed. Changing the fields empties the table.
    // An auto-increment field left empty in a new record gets the next number.
    TField* AddField(const std::string& name, TFieldType type, int size = 0, bool required = false);
    void ClearFields();
    // Removes every record (the table may be open; the cursor then has no record).
    void EmptyTable();

    // Counts the FlushBuffers calls (the table has no cache; tests watch the calls). The end
    // of a DisableControls stretch is not such a call.
    void FlushBuffers() override { ++flushCount_; }
    int FlushCount() const { return flushCount_; }

  protected:
    std::vector<TFieldDef> InternalOpen() override;
    void InternalClose() override {}
    std::int64_t InternalRecordCount() override {
        return static_cast<std::int64_t>(records_.size());
    }
    bool InternalSeek(TSeek how, TRecordId& id) override;
    bool InternalRead(TRecordId id, std::vector<Variant>& values) override;
    TRecordId InternalInsert(const std::vector<Variant>& values,
                             const TFieldFlags& assigned) override;
    void InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                        const TFieldFlags& assigned) override;
    void InternalDelete(TRecordId id) override;
    std::int64_t InternalRecNo(TRecordId id) override;

  private:
    std::vector<TFieldDef> defs_;
    std::map<TRecordId, std::vector<Variant>> records_;
    TRecordId nextId_ = 1;
    std::int32_t nextAutoInc_ = 1;
    int flushCount_ = 0;
};

}  // namespace qel
