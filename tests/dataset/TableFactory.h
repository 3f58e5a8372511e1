// Creates an open table of the given fields on each dataset implementation, so that one suite
// of contract tests runs against all of them.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "dataset/DataSet.h"
#include "dataset/MemTable.h"
#include "dataset/SqliteTable.h"

namespace qel::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("qel_dataset_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

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
