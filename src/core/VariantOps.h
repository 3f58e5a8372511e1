// Operators and comparisons on Variant values: the one set of rules every module uses.
//
// The pair of operand kinds selects the way an operation is done:
//
//   left \ right | Null  Integer  Real  DateTime  Text  Boolean
//   Null         | null  null     null  null      null  null
//   Integer      | null  integer  real  date      real  integer
//   Real         | null  real     real  date      real  real
//   DateTime     | null  date     date  date      date  date
//   Text         | null  real     real  date      text  boolean
//   Boolean      | null  integer  real  date      boolean boolean
//
// - An Empty (or Array) operand fails with EVariantError "Invalid variant operation".
// - null: arithmetic and logic give Null; comparisons order Null before everything else and
//   equal to Null.
// - integer: both sides as Integer; + - * give an Integer, or a Real when the exact result
//   does not fit in 32 bits; / always gives a Real.
// - real: both sides as Real (text read with the regional decimal separator; text that is no
//   number fails with "Invalid variant type conversion").
// - date: as real, but + gives a DateTime, and - gives a DateTime unless both sides are
//   DateTime (then the Real difference in days).
// - text: + concatenates, other arithmetic reads both texts as numbers (real way); comparisons
//   compare bytes.
// - boolean: AND/OR are logical; other operators read a text side as a Boolean and then work
//   the integer way (true is -1).
// - DIV, MOD, and AND/OR outside the boolean way take both sides as Integer (a Real rounds to
//   nearest, ties to even; true is -1).
#pragma once

#include <cstdint>

#include "Variant.h"

namespace qel {

enum TVarRelationship : std::uint8_t { vrLessThan, vrEqual, vrGreaterThan, vrNotEqual };

Variant VarAdd(const Variant& a, const Variant& b);
Variant VarSubtract(const Variant& a, const Variant& b);
Variant VarMultiply(const Variant& a, const Variant& b);
// Real quotient. Division by zero raises EZeroDivide "Floating point division by zero"; 0 / 0
// raises EInvalidOp "Invalid floating point operation".
Variant VarDivide(const Variant& a, const Variant& b);
// Integer quotient truncated toward zero and the remainder with the sign of a. A zero divisor
// raises EDivByZero "Division by zero"; a quotient beyond 32 bits raises EOverflow.
Variant VarIntDivide(const Variant& a, const Variant& b);
Variant VarModulus(const Variant& a, const Variant& b);
Variant VarAnd(const Variant& a, const Variant& b);
Variant VarOr(const Variant& a, const Variant& b);
// Logical for a Boolean, bitwise complement for anything else read as Integer; Null stays Null.
Variant VarNot(const Variant& a);

// Orders two values by the table above. vrNotEqual only for an unordered pair of reals (NaN).
TVarRelationship VarCompare(const Variant& a, const Variant& b);
inline bool VarIsEqual(const Variant& a, const Variant& b) {
    return VarCompare(a, b) == vrEqual;
}
inline bool VarIsLess(const Variant& a, const Variant& b) {
    return VarCompare(a, b) == vrLessThan;
}
inline bool VarIsGreater(const Variant& a, const Variant& b) {
    return VarCompare(a, b) == vrGreaterThan;
}
inline bool VarIsLessOrEqual(const Variant& a, const Variant& b) {
    TVarRelationship r = VarCompare(a, b);
    return r == vrLessThan || r == vrEqual;
}
inline bool VarIsGreaterOrEqual(const Variant& a, const Variant& b) {
    TVarRelationship r = VarCompare(a, b);
    return r == vrGreaterThan || r == vrEqual;
}

// Plain equality that never raises: Null equals only Null, Empty only Empty (so Null is not
// equal to the empty text); other pairs compare by the rules above, and a pair that cannot be
// compared (text that is no number against a number) is unequal.
bool VarEquals(const Variant& a, const Variant& b) noexcept;

}  // namespace qel
