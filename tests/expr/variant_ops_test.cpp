#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "core/VariantOps.h"

namespace qel {
namespace {

const Variant kNull = Variant::Null();
Variant Date(double d) {
    return Variant::FromDateTime(d);
}

std::string Outcome(const std::function<Variant()>& f) {
    try {
        return DebugString(f());
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
}

TEST(VariantOps, OperandClassesOfAddition) {
    struct Case {
        Variant a, b;
        const char* want;
    } cases[] = {
        {Variant(2), Variant(3), "Integer 5"},
        {Variant(2147483647), Variant(1), "Real 2147483648"},  // overflow switches to real
        {Variant(2), Variant(0.5), "Real 2.5"},
        {Variant(2), Date(1.5), "DateTime 1900-01-02 12:00:00"},
        {Variant(2), Variant("3"), "Real 5"},
        {Variant(2), Variant(true), "Integer 1"},
        {Variant(0.5), Variant(true), "Real -0.5"},
        {Date(1), Date(1), "DateTime 1900-01-01 00:00:00"},
        {Variant("a"), Variant("b"), "Text 'ab'"},
        {Variant("2"), Variant(0.5), "Real 2.5"},
        {Variant("True"), Variant(true), "Integer -2"},  // text read as a Boolean
        {Variant(true), Variant(true), "Integer -2"},
        {kNull, Variant(1), "Null"},
        {Variant("x"), kNull, "Null"},
        {Variant(), Variant(1), "EVariantError: Invalid variant operation"},
        {kNull, Variant(), "EVariantError: Invalid variant operation"},
        {Variant("x"), Variant(1), "EVariantError: Invalid variant type conversion"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome([&] { return VarAdd(c.a, c.b); }), c.want)
            << DebugString(c.a) << " + " << DebugString(c.b);
    }
}

TEST(VariantOps, OtherArithmetic) {
    struct Case {
        const char* name;
        std::function<Variant()> op;
        const char* want;
    } cases[] = {
        {"date - date", [] { return VarSubtract(Date(3.5), Date(1)); }, "Real 2.5"},
        {"date - int", [] { return VarSubtract(Date(3.5), Variant(1)); },
         "DateTime 1900-01-01 12:00:00"},
        {"date * 2", [] { return VarMultiply(Date(2), Variant(2)); }, "Real 4"},
        {"text - text", [] { return VarSubtract(Variant("5"), Variant("2")); }, "Real 3"},
        {"int * int overflow", [] { return VarMultiply(Variant(65536), Variant(65536)); },
         "Real 4294967296"},
        {"int - int", [] { return VarSubtract(Variant(-2147483647), Variant(2)); },
         "Real -2147483649"},
        {"int / int", [] { return VarDivide(Variant(10), Variant(4)); }, "Real 2.5"},
        {"x / 0", [] { return VarDivide(Variant(1), Variant(0)); },
         "EZeroDivide: Floating point division by zero"},
        {"0 / 0", [] { return VarDivide(Variant(0.0), Variant(0)); },
         "EInvalidOp: Invalid floating point operation"},
        {"null / 0", [] { return VarDivide(kNull, Variant(0)); }, "Null"},
        {"div", [] { return VarIntDivide(Variant(-7), Variant(2)); }, "Integer -3"},
        {"div real", [] { return VarIntDivide(Variant(7.5), Variant(2)); },
         "Integer 4"},  // 7.5 rounds to 8
        {"div 0", [] { return VarIntDivide(Variant(1), Variant(0)); },
         "EDivByZero: Division by zero"},
        {"div overflow", [] { return VarIntDivide(Variant(-2147483647 - 1), Variant(-1)); },
         "EOverflow: Integer overflow"},
        {"mod", [] { return VarModulus(Variant(-7), Variant(2)); }, "Integer -1"},
        {"mod min", [] { return VarModulus(Variant(-2147483647 - 1), Variant(-1)); }, "Integer 0"},
        {"and bool", [] { return VarAnd(Variant(true), Variant("False")); }, "Boolean False"},
        {"or bool", [] { return VarOr(Variant(false), Variant(true)); }, "Boolean True"},
        {"and int", [] { return VarAnd(Variant(6), Variant(3)); }, "Integer 2"},
        {"and int bool", [] { return VarAnd(Variant(6), Variant(true)); },
         "Integer 6"},  // true is -1
        {"or real", [] { return VarOr(Variant(2.5), Variant(1)); }, "Integer 3"},
        {"and null", [] { return VarAnd(kNull, Variant(false)); }, "Null"},
        {"not bool", [] { return VarNot(Variant(true)); }, "Boolean False"},
        {"not int", [] { return VarNot(Variant(5)); }, "Integer -6"},
        {"not text", [] { return VarNot(Variant("5")); }, "Integer -6"},
        {"not null", [] { return VarNot(kNull); }, "Null"},
        {"not empty", [] { return VarNot(Variant()); }, "EVariantError: Invalid variant operation"},
    };
    for (const auto& c : cases) EXPECT_EQ(Outcome(c.op), c.want) << c.name;
}

TEST(VariantOps, Comparisons) {
    struct Case {
        Variant a, b;
        TVarRelationship want;
    } cases[] = {
        {Variant(1), Variant(2), vrLessThan},
        {Variant("200"), Variant(200), vrEqual},    // text and number compare as numbers
        {Variant("10"), Variant("9"), vrLessThan},  // two texts compare bytes
        {Variant("a"), Variant("B"), vrGreaterThan},
        {Variant("ab"), Variant("abc"), vrLessThan},
        {Variant("\xC3\xA9"), Variant("z"), vrGreaterThan},  // bytes are unsigned
        {kNull, Variant(-1000), vrLessThan},
        {Variant(""), kNull, vrGreaterThan},
        {kNull, kNull, vrEqual},
        {Date(2), Variant(2), vrEqual},
        {Variant(true), Variant(false), vrLessThan},  // true is -1
        {Variant("True"), Variant(true), vrEqual},
        {Variant(1), Variant(std::nan("")), vrNotEqual},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VarCompare(c.a, c.b), c.want) << DebugString(c.a) << " vs " << DebugString(c.b);
    }
    EXPECT_THROW(VarCompare(Variant(), Variant(1)), EVariantError);
    EXPECT_THROW(VarCompare(Variant("x"), Variant(1)), EVariantError);
}

TEST(VariantOps, TextToNumberUsesTheRegionalSeparator) {
    FormatSettings fs;
    fs.DecimalSeparator = ',';
    ScopedFormatSettings scope(fs);
    EXPECT_EQ(VarAdd(Variant("1,5"), Variant(1)), Variant(2.5));
    EXPECT_THROW(VarAdd(Variant("1.5"), Variant(1)), EVariantError);
}

TEST(VariantOps, PlainEquality) {
    struct Case {
        Variant a, b;
        bool want;
    } cases[] = {
        {Variant(""), Variant(""), true}, {kNull, Variant(""), false},
        {Variant(""), kNull, false},      {kNull, kNull, true},
        {Variant(), Variant(""), false},  {Variant(), Variant(), true},
        {Variant(5), Variant(""), false},  // would fail to convert: simply unequal
        {Variant(5), Variant("5"), true}, {Variant("a"), Variant("A"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VarEquals(c.a, c.b), c.want) << DebugString(c.a) << " vs " << DebugString(c.b);
    }
}

}  // namespace
}  // namespace qel
