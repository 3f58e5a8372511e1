// Base64Decode on arbitrary text, and the decoding of a correct encoding of arbitrary bytes.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "engine/QelMIME.h"

namespace {

std::string Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (std::uint32_t(std::uint8_t(bytes[i])) << 16) |
                          (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                          std::uint8_t(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
    }
    if (bytes.size() - i == 1) {
        std::uint32_t v = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (bytes.size() - i == 2) {
        std::uint32_t v = (std::uint32_t(std::uint8_t(bytes[i])) << 16) |
                          (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    // Any text: only whole groups are read, at most three bytes each.
    std::string decoded = qel::Base64Decode(text);
    QEL_FUZZ_CHECK(decoded.size() <= size / 4 * 3);

    // A correct encoding of the same bytes decodes to them exactly.
    QEL_FUZZ_CHECK(qel::Base64Decode(Encode(text)) == text);
    return 0;
}
