// Making the destination table of `qel import --create` when it is missing.
#pragma once

#include <string>
#include <vector>

#include "logformat/LogFormat.h"

namespace qel::cli {

// The SQL column list of a log format's columns for an SQLite table ("host TEXT, ..., status
// INTEGER, ..."), for EnsureTable.
std::string SqliteColumnList(const std::vector<logformat::TLogColumn>& columns);

// Makes sure the SQLite file `fileName` (created when missing) holds the table the import will
// write to, creating it from `columns` (an SQL column list such as "Host TEXT, Code INTEGER")
// when it is not there. The table is `table`, or without a name the one the table engine
// would open: the file's only table, else the one named after the file's stem. Returns the
// table's name. A column list that carries anything after the table definition (a second
// statement) is refused with EUsageError; SQLite's own complaints raise EDatabaseError.
std::string EnsureTable(const std::string& fileName, const std::string& table,
                        const std::string& columns);

}  // namespace qel::cli
