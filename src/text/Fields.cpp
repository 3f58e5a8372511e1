// Locating the fields of one line and answering source references.
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/TextUtil.h"
#include "text/TextReader.h"

namespace qel {

namespace {

// The byte at a 1-based position; #0 outside the line.
inline char At(std::string_view line, std::size_t i) {
    return i >= 1 && i <= line.size() ? line[i - 1] : '\0';
}

// Appends the field that ends at position i (1-based) and returns the start of the next one.
// Inlined at its every call: a call per field is a large share of splitting a line.
[[gnu::always_inline]] inline std::size_t EndField(std::string_view line, std::size_t s,
                                                   std::size_t i, char delimiter, char qualifier,
                                                   std::vector<TFieldPosition>& fields) {
    const std::size_t n = line.size();
    const bool hasQualifier = qualifier != '\0';
    const bool hasDelimiter = delimiter != '\0';
    std::size_t e = i - 1;
    if (i == n) e = hasDelimiter && line[n - 1] == delimiter ? n - 1 : n;
    const char first = At(line, s);
    const std::size_t start =
        s + ((hasQualifier && first == qualifier) || (hasDelimiter && first == delimiter) ? 1 : 0);
    const std::size_t end = e - (hasQualifier && e >= 1 && line[e - 1] == qualifier ? 1 : 0);
    fields.push_back({start, end});
    return e + 1 + (hasDelimiter && e + 1 <= n && line[e] == delimiter ? 1 : 0);
}

// The first byte at or after j that is `a` or `b` (n when there is none), eight bytes at a
// time: a byte equal to `a` is a zero byte of the word XOR `a` in every byte, and the lowest
// flagged byte of the zero-byte test is always a real one.
inline std::size_t FindEither(const char* text, std::size_t j, std::size_t n, char a, char b) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        const std::uint64_t ma = kOnes * static_cast<unsigned char>(a);
        const std::uint64_t mb = kOnes * static_cast<unsigned char>(b);
        for (; j + 8 <= n; j += 8) {
            std::uint64_t w;
            std::memcpy(&w, text + j, 8);
            const std::uint64_t xa = w ^ ma;
            const std::uint64_t xb = w ^ mb;
            const std::uint64_t hit = ((xa - kOnes) & ~xa & kHighs) | ((xb - kOnes) & ~xb & kHighs);
            if (hit != 0) return j + static_cast<std::size_t>(std::countr_zero(hit) / 8);
        }
    }
    while (j < n && text[j] != a && text[j] != b) ++j;
    return j;
}

// The next delimiter or qualifier (whichever the line has) at or after j, or n.
inline std::size_t FindStop(const char* text, std::size_t j, std::size_t n, bool hasDelimiter,
                            char delimiter, bool hasQualifier, char qualifier) {
    if (hasDelimiter && hasQualifier) return FindEither(text, j, n, delimiter, qualifier);
    if (!hasDelimiter && !hasQualifier) return n;
    const void* hit = std::memchr(text + j, hasDelimiter ? delimiter : qualifier, n - j);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text) : n;
}

// Character by character, for a qualifier that is also the delimiter.
void SplitStepwise(std::string_view line, char delimiter, char qualifier,
                   std::vector<TFieldPosition>& fields) {
    const std::size_t n = line.size();
    std::size_t s = 1;
    bool inQuote = false;
    for (std::size_t i = 1; i <= n; ++i) {
        const char c = line[i - 1];
        if (c == qualifier) {
            if (!inQuote) {
                inQuote = true;
            } else if (At(line, i + 1) == delimiter) {
                inQuote = false;
            }
        }
        if ((c == delimiter && !inQuote) || i == n) {
            s = EndField(line, s, i, delimiter, qualifier, fields);
        }
    }
}

}  // namespace

void SplitDelimited(std::string_view line, char delimiter, char qualifier,
                    std::vector<TFieldPosition>& fields, std::size_t maxFields) {
    fields.clear();
    const std::size_t n = line.size();
    if (n == 0 || maxFields == 0) return;
    if (qualifier != '\0' && qualifier == delimiter) {
        SplitStepwise(line, delimiter, qualifier, fields);
    } else {
        const char* const text = line.data();
        const bool hasQualifier = qualifier != '\0';
        const bool hasDelimiter = delimiter != '\0';
        std::size_t s = 1;
        std::size_t j = 0;  // 0-based index of the next byte to look at
        bool inQuote = false;
        for (;;) {
            if (inQuote) {
                // Only a qualifier can change anything inside a quoted stretch.
                const void* hit = std::memchr(text + j, qualifier, n - j);
                if (hit == nullptr) {
                    EndField(line, s, n, delimiter, qualifier, fields);
                    break;
                }
                j = static_cast<std::size_t>(static_cast<const char*>(hit) - text);
                if (hasDelimiter && j + 1 < n && text[j + 1] == delimiter) inQuote = false;
                if (++j == n) {
                    EndField(line, s, n, delimiter, qualifier, fields);
                    break;
                }
            } else {
                j = FindStop(text, j, n, hasDelimiter, delimiter, hasQualifier, qualifier);
                if (j == n) {
                    EndField(line, s, n, delimiter, qualifier, fields);
                    break;
                }
                if (text[j] == delimiter && hasDelimiter) {
                    s = EndField(line, s, j + 1, delimiter, qualifier, fields);
                    if (fields.size() == maxFields) return;  // the rest is not asked for
                    if (++j == n) break;
                } else {
                    inQuote = true;
                    if (++j == n) {
                        EndField(line, s, n, delimiter, qualifier, fields);
                        break;
                    }
                }
            }
        }
    }
    if (delimiter != '\0' && line[n - 1] == delimiter) fields.push_back({n + 1, n + 1});
    if (fields.size() > maxFields) fields.resize(maxFields);
}

void SplitFixed(std::string_view line, std::span<const int> widths, char delimiter, char qualifier,
                std::vector<TFieldPosition>& pieces) {
    pieces.clear();
    const auto n = static_cast<std::int64_t>(line.size());
    const bool hasQualifier = qualifier != '\0';
    const bool hasDelimiter = delimiter != '\0';
    auto at = [&](std::int64_t i) { return At(line, i >= 1 ? static_cast<std::size_t>(i) : 0); };
    std::int64_t s = 1;
    for (int width : widths) {
        std::int64_t t = s + width;
        std::int64_t end;
        if (t > n) {
            end = n;
            t = n;
        } else {
            const char c = at(t);
            end = !hasQualifier || c == qualifier || (hasDelimiter && c == delimiter) ? t - 1 : t;
        }
        pieces.push_back({static_cast<std::size_t>(std::max<std::int64_t>(s, 0)),
                          static_cast<std::size_t>(std::max<std::int64_t>(end, 0))});
        s = t + (hasQualifier ? 1 : 0);
        if (hasDelimiter && at(s) == delimiter) ++s;
        if (s >= n) break;
    }
}

std::string_view FieldText(std::string_view line, const TFieldPosition& field) {
    if (field.Start < 1 || field.Start > line.size()) return {};
    const std::size_t end = field.End < line.size() ? field.End : line.size();
    if (end < field.Start) return {};
    return line.substr(field.Start - 1, end - field.Start + 1);
}

TSourceReference ParseSourceReference(std::string_view reference, bool fixed) {
    TSourceReference r;
    r.Reference.assign(reference);
    if (reference == "Text") {
        r.Kind = TSourceReference::srLine;
    } else if (fixed && StartsWith(reference, "Text")) {
        const std::size_t dash = reference.find('-');
        if (dash != reference.npos) {
            std::int32_t a = 0;
            std::int32_t b = 0;
            r.Start = TryStrToInt(reference.substr(4, dash - 4), a) ? a : 0;
            r.End = TryStrToInt(reference.substr(dash + 1), b) ? b : 0;
            // A range that starts before the line's first byte names no bytes: the reference
            // stands for itself.
            if (r.Start > 0) r.Kind = TSourceReference::srRange;
        }
    } else if (StartsWith(reference, "Field")) {
        std::int32_t n = -1;
        if (!TryStrToInt(reference.substr(5), n)) n = -1;
        // Fixed-width lines have no fields: every number is out of range there.
        if (!fixed && n >= 1) {
            r.Kind = TSourceReference::srField;
            r.Start = n;
        } else {
            r.Reference.clear();
        }
    }
    return r;
}

void ReadSourceReference(const TSourceReference& reference, std::string_view line,
                         std::span<const TFieldPosition> fields, char delimiter, std::string& out) {
    std::int64_t start = reference.Start;
    std::int64_t end = reference.End;
    switch (reference.Kind) {
        case TSourceReference::srLine:
            out.assign(line);
            return;
        case TSourceReference::srConstant:
            out.assign(reference.Reference);
            break;
        case TSourceReference::srField:
            if (static_cast<std::size_t>(reference.Start) > fields.size()) {
                out.clear();
                return;
            }
            start = static_cast<std::int64_t>(
                fields[static_cast<std::size_t>(reference.Start) - 1].Start);
            end = static_cast<std::int64_t>(
                fields[static_cast<std::size_t>(reference.Start) - 1].End);
            if (start <= 0) {
                out.assign(reference.Reference);
                break;
            }
            [[fallthrough]];
        case TSourceReference::srRange:
            if (end > 0) {
                out.assign(FieldText(
                    line, {static_cast<std::size_t>(start), static_cast<std::size_t>(end)}));
            } else {
                out.clear();
            }
            break;
    }
    if (!out.empty() && delimiter != '\0' && out.back() == delimiter) out.pop_back();
}

void ResolveSourceReference(std::string_view reference, std::string_view line, bool fixed,
                            std::span<const TFieldPosition> fields, char delimiter,
                            std::string& out) {
    ReadSourceReference(ParseSourceReference(reference, fixed), line, fields, delimiter, out);
}

std::string ResolveSourceReference(std::string_view reference, std::string_view line, bool fixed,
                                   std::span<const TFieldPosition> fields, char delimiter) {
    std::string value;
    ResolveSourceReference(reference, line, fixed, fields, delimiter, value);
    return value;
}

}  // namespace qel
