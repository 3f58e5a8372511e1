#include "TextUtil.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "Errors.h"
#include "FormatSettings.h"

namespace qel {

std::string Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && static_cast<unsigned char>(s[b]) <= 32) ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    std::size_t e = s.size();
    while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(0, e));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool ContainsText(std::string_view h, std::string_view n) {
    return h.find(n) != h.npos;
}
std::string IntToStr(std::int64_t v) {
    return std::to_string(v);
}

std::string FloatToStr(double v, char sep) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";  // also -0
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    std::string s = buf;
    // "1E+20" -> "1E20", "1E-05" -> "1E-5".
    if (auto e = s.find('E'); e != std::string::npos) {
        std::size_t d = e + 1;
        bool neg = d < s.size() && s[d] == '-';
        if (d < s.size() && (s[d] == '+' || s[d] == '-')) ++d;
        while (d + 1 < s.size() && s[d] == '0') ++d;
        std::string out(s, 0, e + 1);
        if (neg) out.push_back('-');
        out.append(s, d, std::string::npos);
        s.swap(out);
    }
    if (sep != '.') {
        if (auto p = s.find('.'); p != std::string::npos) s[p] = sep;
    }
    return s;
}

std::string FloatToStr(double v) {
    return FloatToStr(v, DefaultFormatSettings().DecimalSeparator);
}

bool TryStrToInt(std::string_view s, std::int32_t& out) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    }
    if (i >= s.size()) return false;
    std::uint64_t v = 0;
    for (; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFULL) return false;
    }
    if (hex) {
        // Hexadecimal text covers the whole 32-bit pattern ($FFFFFFFF is -1).
        std::int32_t r = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        out = neg ? -r : r;
        return true;
    }
    if (neg ? v > 2147483648ULL : v > 2147483647ULL) return false;
    out = neg ? static_cast<std::int32_t>(-static_cast<std::int64_t>(v))
              : static_cast<std::int32_t>(v);
    return true;
}

std::int32_t StrToInt(std::string_view s) {
    std::int32_t v;
    if (!TryStrToInt(s, v)) throw EConvertError(Format(msg::kInvalidInteger, std::string(s)));
    return v;
}

bool TryTextToFloat(std::string_view s, double& out, char sep) {
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    while (n > i && s[n - 1] == ' ') --n;
    std::string buf;
    buf.reserve(n - i);
    if (i < n && (s[i] == '+' || s[i] == '-')) buf += s[i++];
    bool digits = false;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        buf += s[i++];
        digits = true;
    }
    if (i < n && s[i] == sep) {
        buf += '.';
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            buf += s[i++];
            digits = true;
        }
    }
    if (!digits) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        buf += 'e';
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) buf += s[i++];
        bool ed = false;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            buf += s[i++];
            ed = true;
        }
        if (!ed) return false;
    }
    if (i != n) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(buf.c_str(), &end);
    if (end != buf.c_str() + buf.size() || std::isinf(v)) return false;
    out = v;
    return true;
}

bool TryStrToFloat(std::string_view s, double& out) {
    return TryTextToFloat(s, out, DefaultFormatSettings().DecimalSeparator);
}

double StrToFloat(std::string_view s) {
    double v;
    if (!TryStrToFloat(s, v)) throw EConvertError(Format(msg::kInvalidFloat, std::string(s)));
    return v;
}

bool IsNumberText(std::string_view text, char sep) {
    std::string s(text);
    if (sep != '.') {
        if (auto p = s.find(sep); p != std::string::npos) s[p] = '.';
    }
    std::size_t i = 0, n = s.size();
    while (i < n && s[i] == ' ') ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= n) return false;
    bool dot = false;
    while (i < n && ((s[i] >= '0' && s[i] <= '9') || (s[i] == '.' && !dot))) {
        if (s[i] == '.') dot = true;
        ++i;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t mark = i;
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        bool ed = false;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            ++i;
            ed = true;
        }
        if (!ed || mark == 0) return false;
    }
    return i == n;
}

bool IsNumberText(std::string_view s) {
    return IsNumberText(s, DefaultFormatSettings().DecimalSeparator);
}

}  // namespace qel
