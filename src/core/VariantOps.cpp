#include "VariantOps.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Errors.h"

namespace qel {

namespace {

enum Way : std::uint8_t { wNull, wInteger, wReal, wDate, wText, wBoolean };

[[noreturn]] void InvalidOp() {
    throw EVariantError(msg::kInvalidVarOp);
}

void CheckOperand(const Variant& v) {
    if (v.IsEmpty() || v.IsArray()) InvalidOp();
}

// The way an operation on the pair (a, b) is done; raises for Empty and Array operands.
Way WayOf(const Variant& a, const Variant& b) {
    CheckOperand(a);
    CheckOperand(b);
    using K = Variant::Kind;
    K ka = a.kind(), kb = b.kind();
    if (ka == K::vkNull || kb == K::vkNull) return wNull;
    if (ka == K::vkDateTime || kb == K::vkDateTime) return wDate;
    switch (ka) {
        case K::vkInteger:
            return kb == K::vkInteger || kb == K::vkBoolean ? wInteger : wReal;
        case K::vkReal:
            return wReal;
        case K::vkText:
            if (kb == K::vkText) return wText;
            return kb == K::vkBoolean ? wBoolean : wReal;
        case K::vkBoolean:
            if (kb == K::vkInteger) return wInteger;
            if (kb == K::vkReal) return wReal;
            return wBoolean;
        default:
            InvalidOp();
    }
}

// In the boolean way a text side is read as a Boolean; both then count as integers.
std::int32_t BooleanWayInt(const Variant& v) {
    if (v.IsText()) return v.AsBoolean() ? -1 : 0;
    return v.AsInteger();
}

Variant FromInt64(std::int64_t r) {
    if (r >= std::numeric_limits<std::int32_t>::min() &&
        r <= std::numeric_limits<std::int32_t>::max()) {
        return Variant(static_cast<std::int32_t>(r));
    }
    return Variant(static_cast<double>(r));
}

enum Arith : std::uint8_t { aAdd, aSub, aMul };

Variant Arithmetic(Arith op, const Variant& a, const Variant& b) {
    Way w = WayOf(a, b);
    auto ints = [op](std::int64_t x, std::int64_t y) {
        switch (op) {
            case aAdd:
                return FromInt64(x + y);
            case aSub:
                return FromInt64(x - y);
            default:
                return FromInt64(x * y);
        }
    };
    auto reals = [op](double x, double y) {
        switch (op) {
            case aAdd:
                return x + y;
            case aSub:
                return x - y;
            default:
                return x * y;
        }
    };
    switch (w) {
        case wNull:
            return Variant::Null();
        case wInteger:
            return ints(a.AsInteger(), b.AsInteger());
        case wBoolean:
            return ints(BooleanWayInt(a), BooleanWayInt(b));
        case wText:
            if (op == aAdd) return Variant(a.TextValue() + b.TextValue());
            return Variant(reals(a.AsReal(), b.AsReal()));
        case wDate: {
            double r = reals(a.AsReal(), b.AsReal());
            if (op == aAdd) return Variant::FromDateTime(r);
            if (op == aSub) {
                bool both = a.kind() == Variant::vkDateTime && b.kind() == Variant::vkDateTime;
                return both ? Variant(r) : Variant::FromDateTime(r);
            }
            return Variant(r);
        }
        case wReal:
            return Variant(reals(a.AsReal(), b.AsReal()));
    }
    InvalidOp();
}

// Both sides as Integer for DIV, MOD and the bitwise AND / OR.
void IntegerPair(const Variant& a, const Variant& b, std::int32_t& x, std::int32_t& y) {
    x = a.AsInteger();
    y = b.AsInteger();
}

int CompareBytes(const std::string& x, const std::string& y) {
    std::size_t n = std::min(x.size(), y.size());
    int c = n ? std::memcmp(x.data(), y.data(), n) : 0;  // memcmp compares unsigned bytes
    if (c != 0) return c;
    return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
}

template <typename T>
TVarRelationship Order(T x, T y) {
    if (x < y) return vrLessThan;
    if (y < x) return vrGreaterThan;
    if (x == y) return vrEqual;
    return vrNotEqual;
}

}  // namespace

Variant VarAdd(const Variant& a, const Variant& b) {
    return Arithmetic(aAdd, a, b);
}
Variant VarSubtract(const Variant& a, const Variant& b) {
    return Arithmetic(aSub, a, b);
}
Variant VarMultiply(const Variant& a, const Variant& b) {
    return Arithmetic(aMul, a, b);
}

Variant VarDivide(const Variant& a, const Variant& b) {
    Way w = WayOf(a, b);
    if (w == wNull) return Variant::Null();
    double x = w == wBoolean ? BooleanWayInt(a) : a.AsReal();
    double y = w == wBoolean ? BooleanWayInt(b) : b.AsReal();
    if (y == 0.0) {
        if (x == 0.0 || std::isnan(x)) throw EInvalidOp(msg::kInvalidOp);
        throw EZeroDivide(msg::kZeroDivide);
    }
    return Variant(x / y);
}

Variant VarIntDivide(const Variant& a, const Variant& b) {
    if (WayOf(a, b) == wNull) return Variant::Null();
    std::int32_t x, y;
    IntegerPair(a, b, x, y);
    if (y == 0) throw EDivByZero(msg::kDivByZero);
    std::int64_t q = static_cast<std::int64_t>(x) / y;
    if (q > std::numeric_limits<std::int32_t>::max()) throw EOverflow(msg::kIntOverflow);
    return Variant(static_cast<std::int32_t>(q));
}

Variant VarModulus(const Variant& a, const Variant& b) {
    if (WayOf(a, b) == wNull) return Variant::Null();
    std::int32_t x, y;
    IntegerPair(a, b, x, y);
    if (y == 0) throw EDivByZero(msg::kDivByZero);
    return Variant(static_cast<std::int32_t>(static_cast<std::int64_t>(x) % y));
}

Variant VarAnd(const Variant& a, const Variant& b) {
    Way w = WayOf(a, b);
    if (w == wNull) return Variant::Null();
    if (w == wBoolean) {
        bool x = a.AsBoolean();
        bool y = b.AsBoolean();
        return Variant(x && y);
    }
    std::int32_t x, y;
    IntegerPair(a, b, x, y);
    return Variant(static_cast<std::int32_t>(x & y));
}

Variant VarOr(const Variant& a, const Variant& b) {
    Way w = WayOf(a, b);
    if (w == wNull) return Variant::Null();
    if (w == wBoolean) {
        bool x = a.AsBoolean();
        bool y = b.AsBoolean();
        return Variant(x || y);
    }
    std::int32_t x, y;
    IntegerPair(a, b, x, y);
    return Variant(static_cast<std::int32_t>(x | y));
}

Variant VarNot(const Variant& a) {
    CheckOperand(a);
    switch (a.kind()) {
        case Variant::vkNull:
            return Variant::Null();
        case Variant::vkBoolean:
            return Variant(!a.BooleanValue());
        default:
            return Variant(static_cast<std::int32_t>(~a.AsInteger()));
    }
}

TVarRelationship VarCompare(const Variant& a, const Variant& b) {
    switch (WayOf(a, b)) {
        case wNull:
            if (a.IsNull() && b.IsNull()) return vrEqual;
            return a.IsNull() ? vrLessThan : vrGreaterThan;
        case wInteger:
            return Order(a.AsInteger(), b.AsInteger());
        case wBoolean:
            return Order(BooleanWayInt(a), BooleanWayInt(b));
        case wText: {
            int c = CompareBytes(a.TextValue(), b.TextValue());
            return c < 0 ? vrLessThan : (c > 0 ? vrGreaterThan : vrEqual);
        }
        case wReal:
        case wDate:
            return Order(a.AsReal(), b.AsReal());
    }
    InvalidOp();
}

bool VarEquals(const Variant& a, const Variant& b) noexcept {
    if (a.IsNullOrEmpty() || b.IsNullOrEmpty() || a.IsArray() || b.IsArray()) return a.SameAs(b);
    try {
        return VarCompare(a, b) == vrEqual;
    } catch (...) {
        return false;
    }
}

}  // namespace qel
