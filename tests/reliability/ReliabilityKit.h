// Shared pieces of the reliability suite: a temporary folder, generated sources, an SQLite
// destination read back through a second connection, and a text source set up for them.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../common/TempDir.h"
#include "dataset/SqliteTable.h"
#include "text/Qel2TXT.h"

namespace qel::rel {

using TempDir = test::TempDir;

void WriteFile(const std::string& fileName, std::string_view bytes);

// Line n of the numbered source: "n,name-n,note of line n" (n from 1). Every field of the
// record can be checked against its line number.
std::string NumberedLine(int n);
// Lines 1..count, each ended by a line feed.
std::string NumberedText(int count);

// A row of the destination as another connection reads it.
struct StoredRow {
    long long Id = 0;
    std::string Name;
    std::string Note;
    bool NameNull = false;
    bool NoteNull = false;
};

// Creates `fileName` with the table "log" (Id INTEGER, Name VARCHAR(40), Note TEXT).
void CreateNumberedTable(const std::string& fileName);

// Reads a database file through its own read-only connection.
class SqliteReader {
  public:
    explicit SqliteReader(const std::string& fileName);
    ~SqliteReader();
    SqliteReader(const SqliteReader&) = delete;
    SqliteReader& operator=(const SqliteReader&) = delete;

    // The first column of the first row of `sql` as text ("" for none or null).
    std::string Scalar(const std::string& sql);
    long long Count(const std::string& quotedTable = "log");
    std::string IntegrityCheck() { return Scalar("PRAGMA integrity_check"); }
    // Every row of "log" in rowid order.
    std::vector<StoredRow> Rows();

  private:
    sqlite3* db_ = nullptr;
};

// Expects the rows to be the numbered lines whose numbers are listed, complete, in order.
void ExpectNumberedRows(const std::vector<StoredRow>& rows, const std::vector<int>& numbers);
// 1..count.
std::vector<int> Numbers(int first, int last);

// A text source for the numbered lines: comma-delimited, LF-separated, no header, blank lines
// skipped, quiet (no dialog, no message box), mapping Id, Name and Note from fields 1 to 3.
void SetUpNumberedSource(TQelFromText& source, TDataSet& table, const std::string& fileName);

// Opens an SQLite table on `fileName` with a short lock wait.
void OpenTable(TSqliteTable& table, const std::string& fileName, int busyTimeoutMs = 100);

}  // namespace qel::rel

namespace qel::rel {

// Another process: the sqlite3 shell on a database, fed statements through its standard input.
// It keeps whatever lock its statements took until Quit.
class SqliteShell {
  public:
    explicit SqliteShell(const std::string& fileName);
    ~SqliteShell();
    SqliteShell(const SqliteShell&) = delete;
    SqliteShell& operator=(const SqliteShell&) = delete;

    // Runs the statements and waits until the shell has run them; returns what it printed
    // (its error messages included).
    std::string Run(const std::string& statements);
    // Ends the shell (and with it any lock it held) and waits for it.
    void Quit();

  private:
    int pid_ = -1;
    int in_ = -1;   // the shell's standard input
    int out_ = -1;  // its standard output and error
};

}  // namespace qel::rel
