// Text from DOS programs comes in the OEM code page 437. This platform's "ANSI" code page is
// UTF-8, so the OEM conversion of the import engine turns code page 437 bytes into UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace qel {

// Bytes below 128 are copied unchanged; every other byte becomes the UTF-8 form of its code
// page 437 character (two or three bytes), so the result may be longer than the input.
std::string OemToAnsi(std::string_view text);

// The character-set step of a row: the text translated from the OEM code page when `convert`
// is true, otherwise the text unchanged.
inline std::string ConvertCharacterSet(bool convert, std::string_view text) {
    return convert ? OemToAnsi(text) : std::string(text);
}

}  // namespace qel
