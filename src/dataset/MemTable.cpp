#include "dataset/MemTable.h"

#include <iterator>

namespace qel {

TMemTable::TMemTable(TComponent* owner) : TDataSet(owner) {}

TMemTable::~TMemTable() {
    CloseQuietly();
}

TField* TMemTable::AddField(const std::string& name, TFieldType type, int size, bool required) {
    CheckInactive();
    defs_.push_back(TFieldDef{name, type, size, required});
    records_.clear();
    SetFieldDefs(defs_);
    return Fields(FieldCount() - 1);
}

void TMemTable::ClearFields() {
    CheckInactive();
    defs_.clear();
    records_.clear();
    SetFieldDefs(defs_);
}

void TMemTable::EmptyTable() {
    bool active = Active();
    if (active) Close();
    records_.clear();
    nextAutoInc_ = 1;
    if (active) Open();
}

std::vector<TFieldDef> TMemTable::InternalOpen() {
    return defs_;
}

bool TMemTable::InternalSeek(TSeek how, TRecordId& id) {
    if (records_.empty()) return false;
    switch (how) {
        case skFirst:
            id = records_.begin()->first;
            return true;
        case skLast:
            id = records_.rbegin()->first;
            return true;
        case skNext: {
            auto it = records_.upper_bound(id);
            if (it == records_.end()) return false;
            id = it->first;
            return true;
        }
        case skPrior: {
            auto it = records_.lower_bound(id);
            if (it == records_.begin()) return false;
            id = std::prev(it)->first;
            return true;
        }
    }
    return false;
}

bool TMemTable::InternalRead(TRecordId id, std::vector<Variant>& values) {
    auto it = records_.find(id);
    if (it == records_.end()) return false;
    values = it->second;
    return true;
}

TRecordId TMemTable::InternalInsert(const std::vector<Variant>& values, const TFieldFlags&) {
    std::vector<Variant> record = values;
    for (std::size_t i = 0; i < defs_.size() && i < record.size(); ++i) {
        if (defs_[i].DataType != ftAutoInc) continue;
        if (record[i].IsNull()) {
            record[i] = Variant(nextAutoInc_++);
        } else if (record[i].kind() == Variant::vkInteger &&
                   record[i].IntegerValue() >= nextAutoInc_) {
            nextAutoInc_ = record[i].IntegerValue() + 1;
        }
    }
    TRecordId id = nextId_++;
    records_.emplace(id, std::move(record));
    return id;
}

void TMemTable::InternalUpdate(TRecordId id, const std::vector<Variant>& values,
                               const TFieldFlags& assigned) {
    auto it = records_.find(id);
    if (it == records_.end()) return;
    for (std::size_t i = 0; i < values.size() && i < it->second.size(); ++i) {
        if (assigned[i]) it->second[i] = values[i];
    }
}

void TMemTable::InternalDelete(TRecordId id) {
    records_.erase(id);
}

std::int64_t TMemTable::InternalRecNo(TRecordId id) {
    auto it = records_.find(id);
    if (it == records_.end()) return 0;
    return std::distance(records_.begin(), it) + 1;
}

}  // namespace qel
