// The fixed English texts of the expression language's errors.
#pragma once

namespace qel::msg {

inline constexpr const char* kExpIllegalChar =
    "Parse error: illegal character \"%s\" at position %d.";
inline constexpr const char* kExpParenthesisMismatch = "Compile error: parenthesis mismatch.";
inline constexpr const char* kExpSyntaxFault = "Compile error: syntax fault.";
inline constexpr const char* kExpTooDeep =
    "Compile error: expression nested deeper than %d levels.";
inline constexpr const char* kExpFunctionParse = "Function parse error.";
inline constexpr const char* kExpSyntaxTreeFault = "Calculate error: syntax tree fault.";
inline constexpr const char* kExpTooManyArgs =
    "Calculate error: \"%s\" is called with %d arguments; a call takes at most %d.";
inline constexpr const char* kExpEvaluationTooDeep =
    "Calculate error: evaluation nested deeper than %d levels.";
inline constexpr const char* kExpCalculationTooDeep =
    "Calculate error: more than %d calculations nested inside one another.";
inline constexpr const char* kExpFunctionNotValid = "Function \"%s\" is not valid.";
inline constexpr const char* kExpFunctionHeaderNotValid = "Function header \"%s\" is not valid.";
inline constexpr const char* kExpFunctionDelimiter =
    "Function parse error: delimitor \",\" expected between arguments.";

}  // namespace qel::msg
