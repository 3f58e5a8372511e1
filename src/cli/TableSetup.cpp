#include "cli/TableSetup.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "cli/ImportOptions.h"
#include "core/TextUtil.h"
#include "dataset/SqliteTable.h"

namespace qel::cli {

namespace {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

[[noreturn]] void Fail(sqlite3* db, const std::string& fileName) {
    throw EDatabaseError(
        Format("Cannot prepare table file '%s': %s", fileName, std::string(sqlite3_errmsg(db))));
}

std::vector<std::string> TableNames(sqlite3* db, const std::string& fileName) {
    sqlite3_stmt* raw = nullptr;
    const char* sql =
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE "
        "'\\'";
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Fail(db, fileName);
    Stmt s(raw);
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
    }
    if (rc != SQLITE_DONE) Fail(db, fileName);
    return names;
}

}  // namespace

std::string SqliteColumnList(const std::vector<logformat::TLogColumn>& columns) {
    std::string out;
    for (const logformat::TLogColumn& column : columns) {
        if (!out.empty()) out += ", ";
        out += TSqliteTable::QuoteName(column.Name);
        switch (column.Type) {
            case ftInteger:
                out += " INTEGER";
                break;
            case ftFloat:
                out += " REAL";
                break;
            case ftDateTime:
                out += " DATETIME";
                break;
            default:
                out += " TEXT";
                break;
        }
    }
    return out;
}

std::string EnsureTable(const std::string& fileName, const std::string& table,
                        const std::string& columns) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) {
        if (!db)
            throw EDatabaseError(Format("Cannot prepare table file '%s': %s", fileName,
                                        std::string(sqlite3_errstr(rc))));
        Fail(db.get(), fileName);
    }
    sqlite3_busy_timeout(db.get(), 5000);

    std::vector<std::string> tables = TableNames(db.get(), fileName);
    std::string name = table;
    if (name.empty()) {
        if (tables.size() == 1) return tables[0];
        name = std::filesystem::path(fileName).stem().string();
    }
    // SQLite matches table names without regard to ASCII letter case.
    for (const std::string& existing : tables) {
        if (SameText(existing, name)) return existing;
    }

    const std::string sql = "CREATE TABLE " + TSqliteTable::QuoteName(name) + " (" + columns + ")";
    sqlite3_stmt* stmtRaw = nullptr;
    const char* tail = nullptr;
    rc = sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &stmtRaw, &tail);
    Stmt stmt(stmtRaw);
    if (rc != SQLITE_OK) Fail(db.get(), fileName);
    if (tail && !IsBlank(tail)) {
        throw EUsageError(Format("--create: '%s' is not a column list", columns));
    }
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) Fail(db.get(), fileName);
    return name;
}

}  // namespace qel::cli
