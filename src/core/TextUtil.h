// Text helpers shared by every module: trimming by character code, ASCII case, number reading
// and writing with the regional decimal separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qel {

// Trimming removes characters with codes up to 32 (blanks and control characters).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
inline bool IsBlank(std::string_view s) {
    for (unsigned char c : s) {
        if (c > 32) return false;
    }
    return true;
}

// Letter case: only a-z / A-Z change; other bytes (UTF-8 included) pass untouched.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);  // equal ignoring ASCII letter case
bool ContainsText(std::string_view haystack, std::string_view needle);  // case-sensitive
inline bool StartsWith(std::string_view s, std::string_view prefix) {   // case-sensitive
    return s.starts_with(prefix);
}

std::string IntToStr(std::int64_t v);
// General format with up to 15 significant digits ("2.5", "6227020800", "1E20", "1E-5").
std::string FloatToStr(double v, char decimalSeparator);
std::string FloatToStr(double v);  // with the process-wide decimal separator

// Integer text: leading blanks, an optional sign, then decimal digits or "$" and hex digits,
// nothing after; must fit in 32 bits.
bool TryStrToInt(std::string_view s, std::int32_t& out);
std::int32_t StrToInt(std::string_view s);  // EConvertError "'%s' is not a valid integer value"

// Float text: optional blanks, sign, digits with the given decimal separator, exponent,
// optional trailing blanks. The period is not accepted unless it is the separator.
bool TryTextToFloat(std::string_view s, double& out, char decimalSeparator);
bool TryStrToFloat(std::string_view s, double& out);  // process-wide separator
double StrToFloat(std::string_view s);  // EConvertError "'%s' is not a valid floating point value"

// The numeric test: the first occurrence of the decimal separator (when it is not the period)
// read as ".", then optional leading blanks, an optional sign, digits with at most one ".",
// an optional exponent, and nothing after. At least one character must follow blanks and sign;
// a lone "." passes.
bool IsNumberText(std::string_view s, char decimalSeparator);
bool IsNumberText(std::string_view s);  // process-wide separator

}  // namespace qel
