// Helpers shared by the fuzz targets: reading option bytes off the front of an input and
// stopping the fuzzer on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace qel::fuzz {

// Consumes the input from the front: single option bytes, then the rest as text.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    // The next byte, or `fallback` once the input is used up.
    std::uint8_t Byte(std::uint8_t fallback = 0) {
        if (rest_.empty()) return fallback;
        auto b = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    // Up to the next `mark` byte (dropped), or everything that is left.
    std::string_view Until(char mark) {
        std::size_t p = rest_.find(mark);
        std::string_view part = rest_.substr(0, p);
        rest_.remove_prefix(p == std::string_view::npos ? rest_.size() : p + 1);
        return part;
    }
    std::string_view Rest() const { return rest_; }

  private:
    std::string_view rest_;
};

[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

#define QEL_FUZZ_CHECK(cond)                     \
    do {                                         \
        if (!(cond)) ::qel::fuzz::Broken(#cond); \
    } while (0)

}  // namespace qel::fuzz
