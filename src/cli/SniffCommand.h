// `qel sniff`: looks at the first lines of a file, names its log format (or, for delimited text,
// its delimiter, qualifier, header and column types), prints the `qel import` command that
// would load it and an aligned preview of its first rows.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "dataset/DataSet.h"

namespace qel::cli {

struct SniffOptions {
    std::string Source;  // a file (a .gz one is unpacked), or - for standard input
    int Rows = 5;        // rows in the preview
};

// What delimited text looks like.
struct TDelimitedGuess {
    char Delimiter = ',';
    char Qualifier = '\0';
    bool Header = false;
    bool CrLf = false;
    std::vector<std::string> Names;  // from the header, else field1, field2, ...
    std::vector<TFieldType> Types;   // ftString, ftInteger, ftFloat or ftDateTime
};

// The delimiter that gives most lines the same number of fields (more than one), the
// qualifier the fields start with, a header when the first line is all text above a column of
// numbers or dates (or above rows that repeat none of its values), and the column types of the
// other lines. False when no delimiter gives the lines a steady shape.
bool GuessDelimited(const std::vector<std::string>& lines, TDelimitedGuess& guess);

// A text as one shell word: as it is when it holds only safe characters, else in single quotes.
std::string ShellQuote(const std::string& text);

// Rows of cells as an aligned table: a header row, a rule, the rows; cells wider than
// `maxWidth` characters (UTF-8 counted by character) are cut and end in "...".
std::string AlignedTable(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows, std::size_t maxWidth);

// Prints the findings on `out`; errors on `err`. Returns the exit status (0; 1 when the file
// cannot be read or holds no line).
int RunSniff(const SniffOptions& options, std::istream& input, std::ostream& out,
             std::ostream& err);

}  // namespace qel::cli
