// A reference reader for the randomized tests: reading, cutting, keeping, splitting and the
// value of a source reference, written rule by rule as the reader is meant to behave, with
// nothing taken from the product's code. It is slow and plain on purpose: positions are 1-based,
// every character is looked at one by one, and fields are packed as start * 10000 + end (lines
// of the tests stay below 9,999 bytes). A delimiter or qualifier of #0 means none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel::ref {

struct Rules {
    bool SkipEmptyRow = true;
    std::int32_t RowFieldNames = 1;
    std::int32_t RowFirst = 1;
    std::int32_t RowLast = 2147483647;
    char Delimiter = '\t';
    char Qualifier = '"';
    std::string Separator = "\r\n";
};

// The records of a text, cut at the separator with the in-quote rule (end marks not removed).
std::vector<std::string> CutRecords(const std::string& text, const std::string& separator,
                                    char qualifier, char delimiter);

// Reads a whole source text: drops its trailing end marks, cuts it and keeps the records of the
// row range in `lines` (replaced); the header record goes to `header`, which an empty text, or a
// reading that stops before the header record, leaves as it was.
void ReadLines(const std::string& text, const Rules& rules, std::string& header,
               std::vector<std::string>& lines);

// The packed positions of the fields of a delimited line.
std::vector<std::int32_t> SplitFields(const std::string& line, char delimiter, char qualifier);

// The value of a source reference for a line and its packed field positions.
std::string GetSourceValue(const std::string& reference, const std::string& line, bool fixed,
                           const std::vector<std::int32_t>& positions, char delimiter);

}  // namespace qel::ref
