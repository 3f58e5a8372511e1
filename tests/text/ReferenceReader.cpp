#include "ReferenceReader.h"

#include <optional>

namespace qel::ref {

namespace {

// Whether the separator stands at 0-based position p of the text: compared character by
// character; an empty separator never matches, and neither does a #0 of the text.
bool SeparatorAt(const std::string& text, std::size_t p, const std::string& separator) {
    if (separator.empty()) return false;
    for (std::size_t k = 0; k < separator.size(); ++k) {
        if (p + k >= text.size()) return false;
        const char c = text[p + k];
        if (c == '\0' || c != separator[k]) return false;
    }
    return true;
}

// Only spaces and control characters (codes up to 32).
bool Blank(const std::string& s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) > 32) return false;
    }
    return true;
}

// An integer as the system reads one: leading blanks, an optional sign, then decimal digits,
// or "$" and hexadecimal digits; the value must fit in 32 bits.
std::optional<std::int32_t> Integer(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    }
    if (i == s.size()) return std::nullopt;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        v = v * base + digit;
        if (v > 4294967296LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < -2147483648LL || v > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<std::string> CutRecords(const std::string& text, const std::string& separator,
                                    char qualifier, char delimiter) {
    const char Q = qualifier;
    const char D = delimiter;
    std::vector<std::string> records;
    std::size_t start = 0;
    while (start < text.size()) {
        // At the start of a record the flag says whether its first character is Q.
        bool inQuote = Q != '\0' && text[start] == Q;
        std::size_t p = start;
        for (;;) {
            if (p == text.size()) {
                records.push_back(text.substr(start));
                start = text.size();
                break;
            }
            if (SeparatorAt(text, p, separator)) {
                const bool counts = !inQuote || (Q != '\0' && p > 0 && text[p - 1] == Q);
                if (counts) {
                    records.push_back(text.substr(start, p - start));
                    start = p + separator.size();
                    break;
                }
            }
            ++p;
            // The new character is examined.
            if (p < text.size() && Q != '\0' && text[p] == Q) {
                if (!inQuote) {
                    inQuote = true;
                } else if (D == '\0' || (p + 1 < text.size() && text[p + 1] == D)) {
                    inQuote = false;
                }
            }
        }
    }
    return records;
}

void ReadLines(const std::string& source, const Rules& rules, std::string& header,
               std::vector<std::string>& lines) {
    lines.clear();
    std::string text = source;
    while (!text.empty() && (text.back() == '\x1A' || text.back() == '\x1B')) text.pop_back();
    if (text.empty()) return;
    std::int64_t n = 0;
    for (const std::string& record :
         CutRecords(text, rules.Separator, rules.Qualifier, rules.Delimiter)) {
        ++n;
        if (rules.SkipEmptyRow && Blank(record)) continue;
        if (n == rules.RowFieldNames) header = record;
        if (rules.RowFirst <= n && n <= rules.RowLast) {
            lines.push_back(record);
            if (static_cast<std::int64_t>(lines.size()) == rules.RowLast) return;
        }
    }
}

std::vector<std::int32_t> SplitFields(const std::string& line, char delimiter, char qualifier) {
    const char D = delimiter;
    const char Q = qualifier;
    const std::int32_t L = static_cast<std::int32_t>(line.size());
    auto at = [&](std::int32_t i) { return i >= 1 && i <= L ? line[i - 1] : '\0'; };
    auto isQ = [&](std::int32_t i) { return Q != '\0' && at(i) == Q; };
    auto isD = [&](std::int32_t i) { return D != '\0' && at(i) == D; };
    std::vector<std::int32_t> positions;
    std::int32_t s = 1;
    bool inQuote = false;
    for (std::int32_t i = 1; i <= L; ++i) {
        if (isQ(i)) {
            if (!inQuote) {
                inQuote = true;
            } else if (isD(i + 1)) {
                inQuote = false;
            }
        }
        if ((isD(i) && !inQuote) || i == L) {
            std::int32_t e = i - 1;
            if (i == L) e = isD(L) ? L - 1 : L;
            const std::int32_t start = s + (isQ(s) || isD(s) ? 1 : 0);
            const std::int32_t end = e - (isQ(e) ? 1 : 0);
            positions.push_back(start * 10000 + end);
            s = e + 1 + (e + 1 <= L && isD(e + 1) ? 1 : 0);
        }
    }
    if (L > 0 && isD(L)) positions.push_back((L + 1) * 10000 + (L + 1));
    return positions;
}

std::string GetSourceValue(const std::string& reference, const std::string& line, bool fixed,
                           const std::vector<std::int32_t>& positions, char delimiter) {
    std::string r = reference;
    if (r == "Text") return line;
    std::int64_t start = 0;
    std::int64_t end = 0;
    if (fixed && StartsWith(r, "Text")) {
        const std::size_t dash = r.find('-');
        if (dash != std::string::npos) {
            start = Integer(r.substr(4, dash - 4)).value_or(0);
            end = Integer(r.substr(dash + 1)).value_or(0);
        }
    } else if (StartsWith(r, "Field")) {
        const std::int64_t n = Integer(r.substr(5)).value_or(-1);
        if (n >= 1 && n <= static_cast<std::int64_t>(positions.size())) {
            const std::int32_t entry = positions[static_cast<std::size_t>(n - 1)];
            start = entry / 10000;
            end = entry % 10000;
        } else {
            r.clear();
        }
    }
    std::string value;
    if (start <= 0) {
        value = r;
    } else if (end <= 0) {
        value.clear();
    } else {
        for (std::int64_t i = start; i <= end && i <= static_cast<std::int64_t>(line.size()); ++i)
            value += line[static_cast<std::size_t>(i - 1)];
    }
    if (!value.empty() && delimiter != '\0' && value.back() == delimiter) value.pop_back();
    return value;
}

}  // namespace qel::ref
