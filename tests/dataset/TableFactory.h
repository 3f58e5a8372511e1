// Creates an open table of the given fields on each dataset implementation, so that one suite
// of contract tests runs against all of them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../common/TempDir.h"
#include "dataset/DataSet.h"
#include "dataset/MemTable.h"
#include "dataset/SqliteTable.h"

namespace qel::test {

struct MemTableFactory {
    std::unique_ptr<TDataSet> Make(const std::vector<TFieldDef>& defs) {
        auto t = std::make_unique<TMemTable>();
        for (const auto& d : defs) t->AddField(d.Name, d.DataType, d.Size, d.Required);
        t->Open();
        return t;
    }
};

struct SqliteFactory {
    std::unique_ptr<TDataSet> Make(const std::vector<TFieldDef>& defs) {
        std::string name = "t" + std::to_string(made_++) + ".db";
        TSqliteTable::CreateTable(dir_.File(name), "data", defs);
        auto t = std::make_unique<TSqliteTable>();
        t->SetDatabaseName(dir_.Path().string());
        t->SetTableName(name);
        t->Open();
        return t;
    }
    TempDir dir_;
    int made_ = 0;
};

}  // namespace qel::test
