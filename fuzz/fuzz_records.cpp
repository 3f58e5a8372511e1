// Record cutting and field splitting on arbitrary text. Input: separator length (1..3) and its
// bytes, qualifier, delimiter, row rules, three fixed widths, then the text. Every record and
// field must lie inside the text it was cut from, in order.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "core/Errors.h"
#include "text/TextReader.h"

namespace {

// Delimited fields start at 1 and in order; fixed pieces may be cut with negative widths, which
// give positions of 0 (read as empty), but their text still lies inside the line.
void CheckFields(std::string_view line, const std::vector<qel::TFieldPosition>& fields,
                 bool ordered) {
    std::size_t lastStart = 0;
    for (const auto& f : fields) {
        if (ordered) {
            QEL_FUZZ_CHECK(f.Start >= 1);
            QEL_FUZZ_CHECK(f.Start >= lastStart);
            QEL_FUZZ_CHECK(f.End <= line.size() + 1);  // the empty field after a trailing delimiter
        }
        lastStart = f.Start;
        std::string_view text = qel::FieldText(line, f);
        QEL_FUZZ_CHECK(text.size() <= line.size());
        if (!text.empty()) {
            QEL_FUZZ_CHECK(text.data() >= line.data());
            QEL_FUZZ_CHECK(text.data() + text.size() <= line.data() + line.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qel::fuzz::Input in(data, size);
    std::string separator;
    for (int n = in.Byte() % 3 + 1; n > 0; --n) separator += static_cast<char>(in.Byte('\n'));
    const char qualifier = static_cast<char>(in.Byte('"'));
    const char delimiter = static_cast<char>(in.Byte(' '));
    const std::uint8_t flags = in.Byte();
    std::array<int, 3> widths{};
    for (int& w : widths) w = static_cast<std::int8_t>(in.Byte(4));  // negative widths too
    const std::string_view text = in.Rest();

    // Cutting alone: records in order, inside the text.
    qel::TRecordCutter cutter(text, separator, qualifier, delimiter);
    qel::TRecordRange record;
    std::size_t end = 0;
    int count = 0;
    while (cutter.Next(record)) {
        QEL_FUZZ_CHECK(record.Offset >= end);
        QEL_FUZZ_CHECK(record.Offset + record.Length <= text.size());
        end = record.Offset + record.Length;
        QEL_FUZZ_CHECK(++count <= static_cast<int>(text.size()) + 1);
    }

    // Keeping rows by the rules, then splitting and resolving every kept row.
    qel::TRecordRules rules;
    rules.SkipEmptyRow = flags & 1;
    rules.RowFieldNames = (flags >> 1) & 3;
    rules.RowFirst = ((flags >> 3) & 3) + 1;
    rules.RowLast = (flags & 0x80) ? rules.RowFirst + 2 : rules.RowLast;
    rules.Delimiter = delimiter;
    rules.Qualifier = qualifier;
    rules.Separator = separator;
    std::string header;
    std::vector<qel::TRecordRange> kept;
    qel::ReadRecords(text, rules, header, kept);
    QEL_FUZZ_CHECK(header.size() <= text.size());

    std::vector<qel::TFieldPosition> fields, pieces;
    for (const auto& r : kept) {
        QEL_FUZZ_CHECK(r.Offset + r.Length <= text.size());
        std::string_view line = text.substr(r.Offset, r.Length);
        qel::SplitDelimited(line, delimiter, qualifier, fields);
        CheckFields(line, fields, true);
        qel::SplitFixed(line, widths, delimiter, qualifier, pieces);
        QEL_FUZZ_CHECK(pieces.size() <= widths.size());
        CheckFields(line, pieces, false);

        for (const char* ref : {"Text", "Field1", "Field3", "Field0", "Field99999999999", "Text2-5",
                                "Text5-2", "Text0-0", "Text-1", "Textx-y"}) {
            for (bool fixed : {false, true}) {
                std::string value =
                    qel::ResolveSourceReference(ref, line, fixed, fields, delimiter);
                QEL_FUZZ_CHECK(value.size() <= std::max(line.size(), std::string_view(ref).size()));
            }
        }
    }
    return 0;
}
