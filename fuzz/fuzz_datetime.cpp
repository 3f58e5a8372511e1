// DateTimeFromString on arbitrary text and layouts: input = dateSep, timeSep, then
// "text \n layout". Errors for texts that are no date are expected; crashes, hangs and other
// exception types are not.
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "core/Errors.h"
#include "expr/DateTimeFromString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qel::ScopedCurrentYear year(2024);  // the two-digit window must not follow the clock
    qel::fuzz::Input in(data, size);
    char dateSep = static_cast<char>(in.Byte('/'));
    char timeSep = static_cast<char>(in.Byte(':'));
    std::string text(in.Until('\n'));
    std::string layout(in.Rest());
    try {
        qel::TDateTime value = qel::DateTimeFromString(text, layout, dateSep, timeSep);
        QEL_FUZZ_CHECK(!std::isnan(value));
    } catch (const qel::Exception&) {
    }
    return 0;
}
