// SQL run on an SQLite file through a connection of its own, for checking what a table wrote,
// and the opening of a test's table t.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "../common/TempDir.h"
#include "dataset/SqliteTable.h"

namespace qel::test {

// Opens the table t of the file `name` in `dir`.
inline void OpenTable(TSqliteTable& t, const TempDir& dir, const std::string& name) {
    t.SetDatabaseName(dir.Path().string());
    t.SetTableName(name);
    t.SetRequestedTable("t");
    t.Open();
}

// Runs SQL on a file through a connection of its own; returns the rows as "a|b" lines.
inline std::string Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::string out;
    char* error = nullptr;
    auto row = [](void* p, int n, char** values, char**) {
        auto& text = *static_cast<std::string*>(p);
        for (int i = 0; i < n; ++i)
            text += (i ? "|" : "") + std::string(values[i] ? values[i] : "");
        text += "\n";
        return 0;
    };
    if (sqlite3_exec(db, sql.c_str(), row, &out, &error) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << (error ? error : "");
        sqlite3_free(error);
    }
    sqlite3_close_v2(db);
    return out;
}

}  // namespace qel::test
