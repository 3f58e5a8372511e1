// Making the destination table of `qel import --create` when it is missing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "logformat/LogFormat.h"

namespace qel::cli {

// The SQL column list of a log format's columns for an SQLite table ("host TEXT, ..., status
// INTEGER, ..."), for EnsureTable.
std::string SqliteColumnList(const std::vector<logformat::TLogColumn>& columns);

// Whether DATABASE names a PostgreSQL database (a postgresql:// or postgres:// connection URI)
// rather than an SQLite file.
bool IsPostgresDatabase(const std::string& database);

// The destination table of an import, not yet open: a TPgTable for a PostgreSQL URI (`table`
// is then "name" or "schema.name"), else a TSqliteTable of the file.
std::unique_ptr<TDataSet> MakeDestination(const std::string& database, const std::string& table);

// The --create column list in PostgreSQL's terms: each column's SQLite type that PostgreSQL
// spells otherwise (DATETIME, REAL, BLOB...) is given its PostgreSQL type, anything else stays
// as written. "Host TEXT, DateTime DATETIME" gives "Host TEXT, DateTime timestamp".
std::string PostgresColumnList(const std::string& columns);

// Makes sure the SQLite file `fileName` (created when missing) holds the table the import will
// write to, creating it from `columns` (an SQL column list such as "Host TEXT, Code INTEGER")
// when it is not there. The table is `table`, or without a name the one the table engine
// would open: the file's only table, else the one named after the file's stem. Returns the
// table's name. A column list that carries anything after the table definition (a second
// statement) is refused with EUsageError; SQLite's own complaints raise EDatabaseError.
// For a PostgreSQL `database` the table (which must be named) is created when missing from
// the column list in PostgreSQL's terms.
std::string EnsureTable(const std::string& fileName, const std::string& table,
                        const std::string& columns);

}  // namespace qel::cli
