// Creates an open table of the given fields on each dataset implementation, so that one suite
// of contract tests runs against all of them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../common/PgServer.h"
#include "../common/TempDir.h"
#include "dataset/DataSet.h"
#include "dataset/MemTable.h"
#include "dataset/PgTable.h"
#include "dataset/SqliteTable.h"

namespace qel::test {

// Whether a table refuses a text longer than its field's Size (SQLite and the memory table keep
// it whole; a PostgreSQL varchar(n) cannot).
template <typename Factory>
inline constexpr bool kRefusesLongText = false;

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

// A table on the run's PostgreSQL server, made by TPgTable::CreateTable.
struct PgFactory {
    std::unique_ptr<TDataSet> Make(const std::vector<TFieldDef>& defs) {
        const std::string name = TPgServer::UniqueName("contract");
        TPgTable::CreateTable(TPgServer::Shared(), name, defs);
        auto t = std::make_unique<TPgTable>();
        t->SetDatabaseName(TPgServer::Shared());
        t->SetTableName(name);
        t->Open();
        return t;
    }
};
template <>
inline constexpr bool kRefusesLongText<PgFactory> = true;

}  // namespace qel::test
