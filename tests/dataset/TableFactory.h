// Creates an open table of the given fields on each dataset implementation, so that one suite
// of contract tests runs against all of them.
#pragma once

#include <memory>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/MemTable.h"

namespace qel::test {

struct MemTableFactory {
    static constexpr const char* kName = "MemTable";
    std::unique_ptr<TDataSet> Make(const std::vector<TFieldDef>& defs) {
        auto t = std::make_unique<TMemTable>();
        for (const auto& d : defs) t->AddField(d.Name, d.DataType, d.Size, d.Required);
        t->Open();
        return t;
    }
};

}  // namespace qel::test
