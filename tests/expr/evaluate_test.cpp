#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "ExprTestUtil.h"
#include "core/FormatSettings.h"

namespace qel {
namespace {

using testing::ErrorOf;
using testing::Eval;

Variant Int(std::int32_t v) {
    return Variant(v);
}
Variant Real(double v) {
    return Variant(v);
}
Variant Text(const char* v) {
    return Variant(v);
}
Variant Bool(bool v) {
    return Variant(v);
}

struct ValueCase {
    const char* text;
    Variant want;
};

void ExpectValues(const ValueCase* begin, const ValueCase* end) {
    for (const ValueCase* c = begin; c != end; ++c) {
        try {
            EXPECT_EQ(Eval(c->text), c->want) << "text: " << c->text;
        } catch (const Exception& e) {
            ADD_FAILURE() << "text: " << c->text << " raised " << e.Message();
        }
    }
}
#define EXPECT_VALUES(cases) ExpectValues(std::begin(cases), std::end(cases))

struct ErrorCase {
    const char* text;
    const char* want;
};
#define EXPECT_ERRORS(cases) \
    for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.text), c.want) << "text: " << c.text

TEST(Evaluate, NumbersAndOperators) {
    const ValueCase cases[] = {
        {"1 + 2", Real(3)},  // number literals are Real
        {"10 - 4 - 3", Real(9)},
        {"8 / 4 / 2", Real(4)},
        {"10 / 4", Real(2.5)},
        {"(0 - 2) ^ 3", Real(-8)},
        {"2 ^ (0 - 2)", Real(0.25)},
        {"0 ^ 5", Real(0)},
        {"0 ^ 0", Real(1)},
        {"1.2.3 + 0", Real(1.2)},
        {"1 = 1", Bool(true)},
        {"'abc' + 'def'", Text("abcdef")},
        {"'12' + 3", Real(15)},
        {"'a' < 'B'", Bool(false)},
        {"'ab' < 'abc'", Bool(true)},
        {"'ab' = 'AB'", Bool(false)},
        {"'10' = 10", Bool(true)},
        {"2 <> 3", Bool(true)},
        {"2 != 2", Bool(false)},
        {"3 <= 3", Bool(true)},
        {"3 >= 4", Bool(false)},
        {"(1 = 1) AND (2 = 2)", Bool(true)},
        {"(1 = 1) AND (2 = 3)", Bool(false)},
        {"(1 = 2) OR (2 = 2)", Bool(true)},
        {"NOT (1 = 2)", Bool(true)},
        {"(12) AND (10)", Int(8)},  // bitwise on integers
        {"(12) OR (3)", Int(15)},
        {"NOT (0)", Int(-1)},
        {"NOT ('5')", Int(-6)},
        {"(1 = 1) + 1", Real(0)},  // true counts as -1
        {"()", Variant::Null()},
        {"", Variant::Null()},
        {"(", Text("(")},
    };
    EXPECT_VALUES(cases);
    EXPECT_NEAR(Eval("2 ^ 0.5").RealValue(), std::sqrt(2.0), 1e-15);
}

TEST(Evaluate, FactorialAndIntegerOverflow) {
    const ValueCase cases[] = {
        {"5!", Int(120)},        {"0!", Int(1)},  // mended: 0! is 1
        {"1!", Int(1)},          {"(0 - 3)!", Int(-3)},
        {"2.5!", Int(2)},  // rounded, ties to even
        {"12!", Int(479001600)}, {"13!", Real(6227020800.0)},
        {"5! + 1", Real(121)},   {"MOD(12!, 1000)", Int(600)},
    };
    EXPECT_VALUES(cases);
    EXPECT_TRUE(std::isinf(Eval("200!").RealValue()));
    EXPECT_EQ(Eval("1000000000!").kind(), Variant::vkReal);  // stops once the product is infinite
}

TEST(Evaluate, OperatorErrors) {
    const ErrorCase cases[] = {
        {"-5", "EExpressionError: Calculate error: syntax tree fault."},
        {"a=-1", "EExpressionError: Calculate error: syntax tree fault."},
        {"+", "EExpressionError: Calculate error: syntax tree fault."},
        {"1 +", "EExpressionError: Calculate error: syntax tree fault."},
        {"NOT", "no error"},  // a word at the end of the text, not an operator
        {"(1) NOT (2)", "EExpressionError: Calculate error: syntax tree fault."},
        {"'abc' + 3", "EVariantError: Invalid variant type conversion"},
        {"1 / 0", "EZeroDivide: Floating point division by zero"},
        {"0 / 0", "EInvalidOp: Invalid floating point operation"},
        {"(0 - 8) ^ (1/3)", "EInvalidOp: Invalid floating point operation"},
        {"0 ^ (0 - 1)", "EZeroDivide: Floating point division by zero"},
    };
    EXPECT_ERRORS(cases);
}

TEST(Evaluate, TextFunctions) {
    const ValueCase cases[] = {
        {"SUBSTR('abcdef', 2, 3)", Text("bcd")},
        {"SUBSTRING('abcdef', 0, 2)", Text("ab")},
        {"SUBSTR('abc', 3, 10)", Text("c")},
        {"SUBSTR('abc', 4, 1)", Text("")},
        {"SUBSTR('abc', 1, 0 - 1)", Text("")},
        {"CHR(65)", Text("A")},
        {"CHR(321)", Text("A")},  // the low byte
        {"UPPER('ab1c')", Text("AB1C")},
        {"upper('ab')", Text("AB")},
        {"LOWER('AbC')", Text("abc")},
        {"TRIM('  a b  ')", Text("a b")},
        {"TRIMLEFT('  a  ')", Text("a  ")},
        {"TRIMRIGHT('  a  ')", Text("  a")},
        {"POS('c', 'abcabc')", Int(3)},
        {"POS('x', 'abc')", Int(0)},
        {"LENGTH('abcd')", Int(4)},
        {"ORD('A')", Int(65)},
        {"ORD('')", Int(0)},  // the empty text has code 0
        {"INTTOSTR(2.5)", Text("2")},
        {"FLOATTOSTR(2.5)", Text("2.5")},
        {"STRTOINT('$1F')", Int(31)},
        {"STRTOINT(' -12')", Int(-12)},
        {"STRTOFLOAT('2.5')", Real(2.5)},
    };
    EXPECT_VALUES(cases);
}

TEST(Evaluate, NumericFunctions) {
    const ValueCase cases[] = {
        {"MAX(3, 5)", Real(5)},
        {"MAX(0 - 3, 0 - 5)", Real(-3)},  // mended: the first argument starts the running value
        {"MIN(3, 5)", Real(3)},           // mended
        {"MIN(5, 3, 4)", Real(3)},
        {"MAX('b', 'a')", Text("b")},
        {"MAX(7)", Real(7)},
        {"MAX", Int(0)},  // no arguments: the running value's start
        {"MIN", Int(0)},
        {"COUNT(1, 2, 3)", Int(3)},  // mended: the number of arguments
        {"COUNT(1)", Int(1)},
        {"COUNT(1/0, x)", Int(2)},  // arguments are not evaluated
        {"SUM(1, 2, 3)", Real(6)},
        {"AVG(1, 2, 3, 4)", Real(2.5)},
        {"FRAC(2.75)", Real(0.75)},
        {"FRAC(0 - 2.75)", Real(-0.75)},
        {"INT(0 - 2.75)", Real(-2)},
        {"ROUND(2.5)", Int(2)},
        {"ROUND(3.5)", Int(4)},
        {"ROUND(10000000000)", Real(10000000000.0)},
        {"DIV(10, 4)", Int(2)},
        {"DIV(0 - 7, 2)", Int(-3)},
        {"MOD(0 - 7, 2)", Int(-1)},
        {"ABS(0 - 2)", Real(2)},
        {"POWER(2, 10)", Real(1024)},
        {"EXP(0)", Real(1)},
        {"LN(1)", Real(0)},
        {"SQR(3)", Real(9)},
        {"SQRT(16)", Real(4)},
        {"IIF(1 = 1, 'yes', 1/0)", Text("yes")},
        {"IIF(1 = 2, 1/0, 'no')", Text("no")},
        {"ISNULL(1/0, 5)", Bool(false)},
        {"ISNULL(0, ())", Bool(true)},
    };
    EXPECT_VALUES(cases);
    EXPECT_NEAR(Eval("LOG(1000)").RealValue(), 3.0, 1e-15);
}

TEST(Evaluate, FunctionErrors) {
    const ErrorCase cases[] = {
        {"ISNULL(x)", "EListError: List index out of bounds (1)"},
        {"'UPPER'", "EListError: List index out of bounds (0)"},
        {"SUBSTR('abc', 1)", "EListError: List index out of bounds (2)"},
        {"DIV(1, 0)", "EDivByZero: Division by zero"},
        {"MOD(1, 0)", "EDivByZero: Division by zero"},
        {"LN(0 - 1)", "EInvalidOp: Invalid floating point operation"},
        {"LOG(0 - 1)", "EInvalidOp: Invalid floating point operation"},
        {"SQRT(0 - 1)", "EInvalidOp: Invalid floating point operation"},
        {"STRTOINT('1x')", "EConvertError: '1x' is not a valid integer value"},
        {"STRTOFLOAT('x')", "EConvertError: 'x' is not a valid floating point value"},
        {"STRTODATE('x')", "EConvertError: 'x' is not a valid date"},
        {"UPPER(())", "EVariantError: Invalid variant type conversion"},  // Null fails conversions
        {"()!", "EVariantError: Invalid variant type conversion"},  // rounded to an integer first
        {"IIF((), 1, 2)", "EVariantError: Invalid variant type conversion"},
        {"SUM('a')", "EVariantError: Invalid variant type conversion"},
        {"YEAR(99999999)", "EVariantError: Invalid variant type conversion"},
    };
    EXPECT_ERRORS(cases);
}

// Arguments are evaluated when read, in each function's own order.
TEST(Evaluate, ArgumentReadingOrder) {
    struct Case {
        const char* text;
        const char* order;
    } cases[] = {
        {"SUBSTR(a, b, c)", "c b a"},
        {"POS(a, b)", "b a"},
        {"DATETIMEFROMSTRING(a, b, c, d)", "d c b a"},
        {"DIV(a, b)", "a b"},
        {"MAX(a, b, c)", "a b c"},
        {"IIF(a, b, c)", "a b"},
        {"IIF(n, b, c)", "n c"},
        {"ISNULL(a, b)", "b"},
        {"COUNT(a, b)", ""},
        {"F(a, G(b), c)", "a b G c F"},
        {"a + b * c", "a b c"},
    };
    for (const auto& c : cases) {
        std::string order;
        TQelParser p;
        p.SetOnEvaluate([&](TQelParser&, const std::string& name, const Variant*, int, Variant& v,
                            bool& done) {
            order += (order.empty() ? "" : " ") + name;
            v = name == "n" ? Variant(false) : name == "a" || name == "b" ? Variant(1) : Variant(2);
            done = true;
        });
        p.SetText(c.text);
        Variant v;
        try {
            p.GetValue(v);
        } catch (const Exception&) {
        }
        EXPECT_EQ(order, c.order) << c.text;
    }
}

TEST(Evaluate, DateFunctions) {
    const TDateTime xmas = EncodeDate(2003, 12, 25) + EncodeTime(10, 15, 42, 0);
    struct Case {
        const char* fn;
        Variant want;
    } cases[] = {
        {"YEAR", Int(2003)},
        {"MONTH", Int(12)},
        {"DAY", Int(25)},
        {"HOUR", Int(10)},
        {"MINUTE", Int(15)},
        {"SECOND", Int(42)},
        {"DATEPART", Real(EncodeDate(2003, 12, 25))},
        {"TIMEPART", Real(xmas - EncodeDate(2003, 12, 25))},
    };
    for (const auto& c : cases) {
        TQelParser p;
        p.SetOnEvaluate(
            [&](TQelParser&, const std::string&, const Variant*, int, Variant& v, bool& done) {
                v = Variant::FromDateTime(xmas);
                done = true;
            });
        p.SetText(std::string(c.fn) + "(d)");
        Variant v;
        p.GetValue(v);
        EXPECT_EQ(v, c.want) << c.fn;
    }
    // Without arguments the date-part names are ordinary names.
    EXPECT_EQ(Eval("YEAR"), Text("YEAR"));
    EXPECT_EQ(Eval("GETDATE").kind(), Variant::vkDateTime);
    EXPECT_EQ(Eval("'GETDATE'").kind(), Variant::vkDateTime);
    EXPECT_EQ(Eval("DATETIMEFROMSTRING('2003-12-25', 'YYYY-MM-DD', '-', ':')"),
              Variant::FromDateTime(EncodeDate(2003, 12, 25)));
    // The separators extend the separator set; a non-text one counts as a blank.
    EXPECT_EQ(Eval("DATETIMEFROMSTRING('2003-1-5', 'YYYY-MM-DD', '-', ':')"),
              Variant::FromDateTime(EncodeDate(2003, 1, 5)));
    EXPECT_EQ(Eval("DATETIMEFROMSTRING('2003-1-5', 'YYYY-MM-DD', 1, 2)"), Variant::FromDateTime(0));
    EXPECT_EQ(Eval("DATETOSTR(37980)"), Text(DateToStr(37980).c_str()));
}

TEST(Evaluate, RandomStaysInRange) {
    for (int i = 0; i < 200; ++i) {
        Variant r = Eval("RANDOM");
        ASSERT_EQ(r.kind(), Variant::vkReal);
        EXPECT_GE(r.RealValue(), 0.0);
        EXPECT_LT(r.RealValue(), 1.0);
        Variant n = Eval("RANDOM(3)");
        ASSERT_EQ(n.kind(), Variant::vkInteger);
        EXPECT_GE(n.IntegerValue(), 0);
        EXPECT_LT(n.IntegerValue(), 3);
    }
}

TEST(Evaluate, NamesReachTheOwner) {
    struct Call {
        std::string name;
        int argCount;
        std::vector<std::string> args;
    };
    std::vector<Call> calls;
    TQelParser p;
    p.SetOnEvaluate([&](TQelParser&, const std::string& name, const Variant* args, int argCount,
                        Variant& v, bool& done) {
        Call c{name, argCount, {}};
        for (int i = 0; i < kMaxArgs; ++i) c.args.push_back(DebugString(args[i]));
        calls.push_back(c);
        if (name == "F") v = Variant(42);
        done = argCount == 0;
    });
    p.SetText("F(1, ' a ')");
    Variant v;
    p.GetValue(v);
    EXPECT_EQ(v, Variant(42));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, " a ");  // a quoted text is offered as a name, blanks kept
    EXPECT_EQ(calls[0].argCount, 0);
    EXPECT_EQ(calls[1].name, "F");
    EXPECT_EQ(calls[1].argCount, 2);
    EXPECT_EQ(calls[1].args[0], "Real 1");
    EXPECT_EQ(calls[1].args[1], "Text ' a '");
    for (int i = 2; i < kMaxArgs; ++i)
        EXPECT_EQ(calls[1].args[static_cast<std::size_t>(i)], "Empty");
}

TEST(Evaluate, CallsOfNamesTakeAtMostElevenArguments) {
    EXPECT_EQ(Eval("F(1,2,3,4,5,6,7,8,9,10,11)"), Text("F"));
    EXPECT_EQ(ErrorOf("F(1,2,3,4,5,6,7,8,9,10,11,12)"),
              "EExpressionError: Calculate error: \"F\" is called with 12 arguments; a call takes "
              "at most 11.");
    EXPECT_EQ(Eval("SUM(1,2,3,4,5,6,7,8,9,10,11,12)"), Real(78));  // built-ins take any number
}

TEST(Evaluate, EmptyOperandsFail) {
    TQelParser p;
    p.SetOnEvaluate(
        [](TQelParser&, const std::string&, const Variant*, int, Variant& v, bool& done) {
            v = Variant();  // Empty
            done = true;
        });
    for (const char* text : {"e + 1", "e = 1", "NOT (e)", "e!", "e ^ 2", "(e) AND (1)"}) {
        p.SetText(text);
        Variant v;
        try {
            p.GetValue(v);
            ADD_FAILURE() << text;
        } catch (const EVariantError& e) {
            EXPECT_EQ(e.Message(), "Invalid variant operation") << text;
        }
    }
}

TEST(Evaluate, BindingShowsInValues) {
    TQelParser p;
    p.SetOnEvaluate(
        [](TQelParser&, const std::string&, const Variant*, int, Variant& v, bool& done) {
            v = Variant(10);
            done = true;
        });
    struct Case {
        const char* text;
        Variant want;
    } cases[] = {
        {"x + 1 > 5", Int(10)},  // x + (1 > 5): 10 + false
        {"(x + 1) > 5", Bool(true)},
        {"x = (10) AND (x)", Bool(true)},  // x = (10 AND 10)
        {"x - 4 - 3", Real(9)},
    };
    for (const auto& c : cases) {
        p.SetText(c.text);
        Variant v;
        p.GetValue(v);
        EXPECT_EQ(v, c.want) << c.text;
    }
}

TEST(Evaluate, NullOperands) {
    TQelParser p;
    p.SetOnEvaluate(
        [](TQelParser&, const std::string& name, const Variant*, int, Variant& v, bool& done) {
            if (name == "n") v = Variant::Null();
            done = true;
        });
    struct Case {
        const char* text;
        Variant want;
    } cases[] = {
        {"n + 1", Variant::Null()},
        {"NOT (n)", Variant::Null()},
        {"n ^ 2", Variant::Null()},
        {"n = n", Bool(true)},
        {"n < 1", Bool(true)},
        {"'' > n", Bool(true)},
        {"(n) AND (1 = 1)", Variant::Null()},
        {"POS(n, 'abc')", Int(0)},
        {"MIN(3, n, 1)", Real(1)},
        {"MAX(n, 2)", Real(2)},
    };
    for (const auto& c : cases) {
        p.SetText(c.text);
        Variant v;
        p.GetValue(v);
        EXPECT_EQ(v, c.want) << c.text;
    }
}

}  // namespace
}  // namespace qel
