#include "engine/QelMIME.h"

#include <array>
#include <cstdint>

namespace qel {

namespace {

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> t{};  // anything outside the alphabet reads as 0
    constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
    return t;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
        const char* g = text.data() + i;
        if (g[0] == '=') continue;
        const std::uint32_t bits =
            (std::uint32_t{kDecode[static_cast<unsigned char>(g[0])]} << 18) |
            (std::uint32_t{kDecode[static_cast<unsigned char>(g[1])]} << 12) |
            (std::uint32_t{kDecode[static_cast<unsigned char>(g[2])]} << 6) |
            std::uint32_t{kDecode[static_cast<unsigned char>(g[3])]};
        out += static_cast<char>((bits >> 16) & 0xFF);
        if (g[2] == '=') continue;
        out += static_cast<char>((bits >> 8) & 0xFF);
        if (g[3] == '=') continue;
        out += static_cast<char>(bits & 0xFF);
    }
    return out;
}

}  // namespace qel
