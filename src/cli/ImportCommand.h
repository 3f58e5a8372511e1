// `qel import`: one run of the text source into a table of an SQLite file.
#pragma once

#include <iosfwd>

#include "cli/ImportOptions.h"

namespace qel::cli {

// Where the progress bar goes: a stream and its width in columns, or nowhere.
struct ProgressTarget {
    std::ostream* Stream = nullptr;
    int Columns = 0;
};

// Performs the import and prints the result on `out` (messages on `err`). `input` is read when
// the source is "-". Returns the exit status.
int RunImport(const ImportOptions& options, std::istream& input, std::ostream& out,
              std::ostream& err, ProgressTarget progress);

}  // namespace qel::cli
