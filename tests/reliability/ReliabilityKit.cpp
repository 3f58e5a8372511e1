#include "ReliabilityKit.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace qel::rel {

void WriteFile(const std::string& fileName, std::string_view bytes) {
    std::ofstream out(fileName, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + fileName);
}

std::string NumberedLine(int n) {
    return std::to_string(n) + ",name-" + std::to_string(n) + ",note of line " + std::to_string(n);
}

std::string NumberedText(int count) {
    std::string text;
    for (int n = 1; n <= count; ++n) text += NumberedLine(n) + "\n";
    return text;
}

void CreateNumberedTable(const std::string& fileName) {
    TSqliteTable::CreateTable(fileName, "log",
                              {{"Id", ftInteger, 0}, {"Name", ftString, 40}, {"Note", ftMemo, 0}});
}

SqliteReader::SqliteReader(const std::string& fileName) {
    if (sqlite3_open_v2(fileName.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open " + fileName + ": " + why);
    }
    sqlite3_busy_timeout(db_, 2000);
}

SqliteReader::~SqliteReader() {
    sqlite3_close(db_);
}

std::string SqliteReader::Scalar(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
        std::string why = sqlite3_errmsg(db_);
        throw std::runtime_error(sql + ": " + why);
    }
    std::string out;
    if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL) {
        out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    return out;
}

long long SqliteReader::Count(const std::string& quotedTable) {
    return std::stoll(Scalar("SELECT count(*) FROM " + quotedTable));
}

std::vector<StoredRow> SqliteReader::Rows() {
    std::vector<StoredRow> rows;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT Id, Name, Note FROM log ORDER BY rowid", -1, &s, nullptr) !=
        SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db_));
    }
    auto text = [&](int col, bool& isNull) {
        isNull = sqlite3_column_type(s, col) == SQLITE_NULL;
        return isNull ? std::string()
                      : std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, col)));
    };
    while (sqlite3_step(s) == SQLITE_ROW) {
        StoredRow r;
        r.Id = sqlite3_column_int64(s, 0);
        r.Name = text(1, r.NameNull);
        r.Note = text(2, r.NoteNull);
        rows.push_back(std::move(r));
    }
    sqlite3_finalize(s);
    return rows;
}

void ExpectNumberedRows(const std::vector<StoredRow>& rows, const std::vector<int>& numbers) {
    ASSERT_EQ(rows.size(), numbers.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int n = numbers[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + ", line " + std::to_string(n));
        EXPECT_EQ(rows[i].Id, n);
        EXPECT_EQ(rows[i].Name, "name-" + std::to_string(n));
        EXPECT_EQ(rows[i].Note, "note of line " + std::to_string(n));
        if (::testing::Test::HasFailure()) return;  // one broken row says enough
    }
}

std::vector<int> Numbers(int first, int last) {
    std::vector<int> out;
    for (int n = first; n <= last; ++n) out.push_back(n);
    return out;
}

void SetUpNumberedSource(TQelFromText& source, TDataSet& table, const std::string& fileName) {
    source.SetDataSet(&table);
    source.SetSourceFileName(fileName);
    source.SetFieldDelimiter(fdComma);
    source.SetTextQualifier(tqQuot);
    source.SetRecordSeparator(rsLF);
    source.SetRowFieldNames(0);
    source.SetAnimatedStatus(false);
    source.SetOptions(TQelOptions{soSkipEmptyRow});
    for (const char* m : {"Id=Field1", "Name=Field2", "Note=Field3"}) source.Mappings().Add(m);
}

void OpenTable(TSqliteTable& table, const std::string& fileName, int busyTimeoutMs) {
    table.SetTableName(fileName);
    table.SetBusyTimeout(busyTimeoutMs);
    table.Open();
}

}  // namespace qel::rel

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace qel::rel {

SqliteShell::SqliteShell(const std::string& fileName) {
    int toShell[2], fromShell[2];
    if (::pipe(toShell) != 0 || ::pipe(fromShell) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toShell[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromShell[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fromShell[1], 2);
    posix_spawn_file_actions_addclose(&actions, toShell[1]);
    posix_spawn_file_actions_addclose(&actions, fromShell[0]);
    std::string file = fileName;
    char arg0[] = "sqlite3", arg1[] = "-batch";
    char* argv[] = {arg0, arg1, file.data(), nullptr};
    int rc = ::posix_spawnp(&pid_, "sqlite3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toShell[0]);
    ::close(fromShell[1]);
    in_ = toShell[1];
    out_ = fromShell[0];
    if (rc != 0) throw std::runtime_error("cannot start the sqlite3 shell");
}

SqliteShell::~SqliteShell() {
    Quit();
}

std::string SqliteShell::Run(const std::string& statements) {
    static int serial = 0;
    const std::string mark = "--done " + std::to_string(++serial) + "--";
    const std::string input = statements + "\n.print " + mark + "\n";
    if (::write(in_, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        throw std::runtime_error("cannot feed the sqlite3 shell");
    }
    std::string out;
    char buf[512];
    while (out.find(mark) == std::string::npos) {
        ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) throw std::runtime_error("the sqlite3 shell ended: " + out);
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out.substr(0, out.find(mark));
}

void SqliteShell::Quit() {
    if (pid_ < 0) return;
    ::close(in_);  // end of input: the shell rolls back what is open and exits
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(out_);
    pid_ = -1;
}

}  // namespace qel::rel
