#include "cli/TableSetup.h"

#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/ImportOptions.h"
#include "core/TextUtil.h"
#include "dataset/PgTable.h"
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

// The column list split at its top-level commas (a type's "(10,2)" stays whole).
std::vector<std::string> SplitColumns(const std::string& columns) {
    std::vector<std::string> out(1);
    int depth = 0;
    char quote = 0;
    for (char c : columns) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 0) {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    return out;
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

bool IsPostgresDatabase(const std::string& database) {
    return StartsWith(database, "postgresql://") || StartsWith(database, "postgres://");
}

std::unique_ptr<TDataSet> MakeDestination(const std::string& database, const std::string& table) {
    if (IsPostgresDatabase(database)) {
        auto t = std::make_unique<TPgTable>();
        t->SetDatabaseName(database);
        t->SetTableName(table);
        return t;
    }
    auto t = std::make_unique<TSqliteTable>();
    t->SetTableName(database);
    t->SetRequestedTable(table);
    return t;
}

std::string PostgresColumnList(const std::string& columns) {
    // SQLite type names PostgreSQL lacks or reads otherwise (its REAL has 4 bytes), and
    // whether the PostgreSQL type takes the size that may follow.
    struct Type {
        const char* sqlite;
        const char* pg;
        bool keepsSize;
    };
    static const Type kTypes[] = {
        {"UNSIGNED BIG INT", "bigint", false},
        {"DATETIME", "timestamp", false},
        {"DOUBLE", "double precision", false},
        {"REAL", "double precision", false},
        {"FLOAT", "double precision", false},
        {"BLOB", "bytea", false},
        {"TINYINT", "smallint", false},
        {"MEDIUMINT", "integer", false},
        {"CLOB", "text", false},
        {"MEMO", "text", false},
        {"NVARCHAR", "varchar", true},
        {"NCHAR", "char", true},
        {"MONEY", "numeric(19,4)", false},
    };
    const char* blanks = " \t\r\n";
    std::string out;
    for (std::string column : SplitColumns(columns)) {
        // The name (quoted or one word), then the type.
        std::size_t pos = column.find_first_not_of(blanks);
        if (pos != std::string::npos && column[pos] == '"') {
            pos = column.find('"', pos + 1);
            pos = pos == std::string::npos ? column.size() : pos + 1;
        } else if (pos != std::string::npos) {
            pos = column.find_first_of(blanks, pos);
        }
        const std::size_t start =
            pos == std::string::npos ? pos : column.find_first_not_of(blanks, pos);
        if (start != std::string::npos) {
            const std::string upper = UpperCase(column.substr(start));
            for (const Type& t : kTypes) {
                const std::size_t n = std::strlen(t.sqlite);
                if (upper.compare(0, n, t.sqlite) != 0 ||
                    (upper.size() > n && std::isalnum(static_cast<unsigned char>(upper[n]))))
                    continue;
                std::size_t end = start + n;
                const std::size_t next = column.find_first_not_of(blanks, end);
                if (!t.keepsSize && next != std::string::npos && column[next] == '(') {
                    const std::size_t close = column.find(')', next);
                    if (close != std::string::npos) end = close + 1;
                }
                column = column.substr(0, start) + t.pg + column.substr(end);
                break;
            }
        }
        out += (out.empty() ? "" : ",") + column;
    }
    return out;
}

std::string EnsureTable(const std::string& fileName, const std::string& table,
                        const std::string& columns) {
    if (IsPostgresDatabase(fileName)) {
        if (table.empty()) throw EUsageError("--create with a PostgreSQL database needs --table");
        TPgTable::CreateTableIfMissing(fileName, table, PostgresColumnList(columns));
        return table;
    }
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

    // The table the import will open, made when the file lacks it.
    std::string name;
    std::string existing =
        TSqliteTable::ChooseTable(TableNames(db.get(), fileName), table, fileName, name);
    if (!existing.empty()) return existing;

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
