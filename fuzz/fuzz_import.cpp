// A whole import run of arbitrary bytes: the text source reads them from a stream into an
// in-memory table of typed fields, with settings and mapping lines taken from the input.
// Input: five option bytes, then mapping lines up to the first byte 0x01, then the source.
// Every row read must end up in the table, be left out by the load condition, or be offered to
// the host as a failed row; the table must hold exactly the records counted as added.
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "FuzzInput.h"
#include "core/Errors.h"
#include "dataset/MemTable.h"
#include "expr/DateTimeFromString.h"
#include "text/Qel2TXT.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qel::ScopedCurrentYear year(2024);
    qel::fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    const char delimiter = static_cast<char>(in.Byte(' '));
    const char qualifier = static_cast<char>(in.Byte('"'));
    const std::uint8_t separator = in.Byte();
    const std::uint8_t rows = in.Byte();
    const std::string_view mappingText = in.Until('\x01');
    const std::string source(in.Rest());

    qel::TMemTable table;
    table.AddField("A", qel::ftString, 20);
    table.AddField("B", qel::ftInteger);
    table.AddField("C", qel::ftFloat);
    table.AddField("D", qel::ftDateTime);
    table.AddField("E", qel::ftBoolean);
    table.AddField("F", qel::ftMemo);
    table.Open();

    qel::TQelFromText run;
    run.SetDataSet(&table);
    run.SetSourceFileName("fuzz.txt");  // required, though the stream is read
    run.SetAnimatedStatus(false);
    run.SetOptions(flags & 1 ? qel::TQelOptions{qel::soSkipEmptyRow} : qel::TQelOptions{});
    run.SetFixed(flags & 2);
    run.SetFieldDelimiterCustom(delimiter);
    run.SetTextQualifierCustom(qualifier);
    switch (separator % 5) {
        case 0:
            run.SetRecordSeparator(qel::rsLF);
            break;
        case 1:
            run.SetRecordSeparator(qel::rsCRLF);
            break;
        case 2:
            run.SetRecordSeparator(qel::rsCR);
            break;
        case 3:
            run.SetRecordSeparatorCustom(std::string(1, static_cast<char>(separator)));
            break;
        default:
            run.SetRecordSeparatorCustom(std::string(2, static_cast<char>(separator)));
            break;
    }
    run.SetRowFieldNames(rows & 3);
    run.SetRowFirst((rows >> 2) & 3);
    if (rows & 0x80) run.SetRowLast(((rows >> 4) & 7) + 1);
    run.SetCharacterSet(flags & 4 ? qel::csiASCII_MSDOS : qel::csiANSI_WINDOWS);
    run.SetTrimSpaces(static_cast<qel::TQelTrimSpaces>((flags >> 3) & 3));
    const bool keyed = flags & 0x20;
    if (keyed) {
        run.SetMode(qel::imAppendUpdate);
        run.SetDatasetKeys("A");
    }
    // Mapping lines from the input; without any the run generates them from the columns.
    run.Mappings().SetText(mappingText);
    if (flags & 0x40) run.LoadCondition().SetLoadWhen("Field1 <> \"skip\"");

    std::set<int> failed, refused;
    run.OnErrorEvent = [&](qel::TQelBaseComponent& s, const qel::Exception&, bool& abort) {
        abort = false;
        failed.insert(s.Statistic().TotalImported());
    };
    run.OnBeforeRecordEvent = [&](qel::TQelBaseComponent& s, const std::string&, qel::Variant&,
                                  bool& accept) {
        if (!accept) refused.insert(s.Statistic().TotalImported());
    };

    std::istringstream stream(source);
    run.ImportFromStream(stream);

    const qel::TQelStatistic& st = run.Statistic();
    QEL_FUZZ_CHECK(st.Result() == qel::irExecuted);
    QEL_FUZZ_CHECK(st.TotalErrors() <= static_cast<int>(failed.size()));
    if (!keyed) {
        QEL_FUZZ_CHECK(table.RecordCount() == st.TotalAdded());
        QEL_FUZZ_CHECK(st.TotalUpdated() == 0);
    } else {
        QEL_FUZZ_CHECK(table.RecordCount() <= st.TotalAdded());
    }
    // Each row read is written, refused by the condition, or reported; a failed write may come
    // after the condition accepted the row, never after it refused it.
    for (int r : failed) QEL_FUZZ_CHECK(refused.count(r) == 0);
    QEL_FUZZ_CHECK(st.TotalAdded() + st.TotalUpdated() + static_cast<int>(failed.size()) +
                       static_cast<int>(refused.size()) ==
                   st.TotalImported());
    return 0;
}
