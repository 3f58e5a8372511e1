// Evaluation of the syntax tree: numbers, operators, the built-in function library and the
// hand-over of every other word to the tree's owner.
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#include "DateTimeFromString.h"
#include "ExpMessages.h"
#include "ExpNode.h"
#include "core/Errors.h"
#include "core/TextUtil.h"
#include "core/VariantOps.h"

namespace qel {

namespace {

// The built-in functions, in the order their names are matched.
enum Builtin : std::int8_t {
    bfSubstr,
    bfSubstring,
    bfChr,
    bfUpper,
    bfLower,
    bfTrim,
    bfTrimLeft,
    bfTrimRight,
    bfPos,
    bfStrToFloat,
    bfStrToInt,
    bfStrToDate,
    bfDateTimeFromString,
    bfLength,
    bfOrd,
    bfIntToStr,
    bfFloatToStr,
    bfMax,
    bfMin,
    bfSum,
    bfAvg,
    bfCount,
    bfFrac,
    bfInt,
    bfRound,
    bfDiv,
    bfMod,
    bfRandom,
    bfAbs,
    bfPower,
    bfExp,
    bfLn,
    bfLog,
    bfSqr,
    bfSqrt,
    bfIif,
    bfIsNull,
    bfDateToStr,
    bfGetDate,
    bfDatePart,
    bfTimePart,
    bfYear,
    bfMonth,
    bfDay,
    bfHour,
    bfMinute,
    bfSecond,
    bfCount_
};

constexpr std::string_view kBuiltinNames[bfCount_] = {"SUBSTR",
                                                      "SUBSTRING",
                                                      "CHR",
                                                      "UPPER",
                                                      "LOWER",
                                                      "TRIM",
                                                      "TRIMLEFT",
                                                      "TRIMRIGHT",
                                                      "POS",
                                                      "STRTOFLOAT",
                                                      "STRTOINT",
                                                      "STRTODATE",
                                                      "DATETIMEFROMSTRING",
                                                      "LENGTH",
                                                      "ORD",
                                                      "INTTOSTR",
                                                      "FLOATTOSTR",
                                                      "MAX",
                                                      "MIN",
                                                      "SUM",
                                                      "AVG",
                                                      "COUNT",
                                                      "FRAC",
                                                      "INT",
                                                      "ROUND",
                                                      "DIV",
                                                      "MOD",
                                                      "RANDOM",
                                                      "ABS",
                                                      "POWER",
                                                      "EXP",
                                                      "LN",
                                                      "LOG",
                                                      "SQR",
                                                      "SQRT",
                                                      "IIF",
                                                      "ISNULL",
                                                      "DATETOSTR",
                                                      "GETDATE",
                                                      "DATEPART",
                                                      "TIMEPART",
                                                      "YEAR",
                                                      "MONTH",
                                                      "DAY",
                                                      "HOUR",
                                                      "MINUTE",
                                                      "SECOND"};

int FindBuiltin(std::string_view name, int childCount) {
    for (int i = 0; i < bfCount_; ++i) {
        if (SameText(name, kBuiltinNames[i])) {
            // The date-part names are built-ins only when called with arguments.
            if (i >= bfYear && childCount == 0) return -1;
            return i;
        }
    }
    return -1;
}

// Keeps the evaluation of nested trees on one thread within a fixed depth.
thread_local int t_evalDepth = 0;

struct DepthGuard {
    DepthGuard() {
        if (++t_evalDepth > kMaxEvaluationDepth) {
            --t_evalDepth;
            throw EExpressionError(Format(msg::kExpEvaluationTooDeep, kMaxEvaluationDepth));
        }
    }
    ~DepthGuard() { --t_evalDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

double RealOf(const Variant& v) {
    return v.AsReal();
}

std::int32_t IntOf(const Variant& v) {
    return v.AsInteger();
}

std::string TextOf(const Variant& v) {
    return v.AsText();
}

char CharOf(const Variant& v) {
    if (v.IsText() && !v.TextValue().empty()) return v.TextValue()[0];
    return ' ';
}

// A date-time argument for the date-part functions: text is read as a date first.
TDateTime DateOf(const Variant& v) {
    TDateTime d = v.AsDateTime();
    if (!IsInDateRange(d)) throw EVariantError(msg::kInvalidVarCast);
    return d;
}

// Integer results that do not fit in 32 bits stay Real.
Variant IntegralResult(double r) {
    if (r >= -2147483648.0 && r <= 2147483647.0) return Variant(static_cast<std::int32_t>(r));
    return Variant(r);
}

double CheckedLn(double x) {
    if (std::isnan(x) || x < 0) throw EInvalidOp(msg::kInvalidOp);
    if (x == 0) throw EZeroDivide(msg::kZeroDivide);
    return std::log(x);
}

std::mt19937& Rng() {
    thread_local std::mt19937 rng{std::random_device{}()};
    return rng;
}

}  // namespace

// base ^ exponent: 1 for the exponent 0, 0 for the base 0 under a positive exponent, repeated
// squaring for whole exponents, exp(e * ln b) otherwise (a negative base fails there).
double Power(double base, double exponent) {
    if (exponent == 0) return 1;
    if (base == 0 && exponent > 0) return 0;
    if (std::trunc(exponent) == exponent && std::fabs(exponent) <= 2147483647.0) {
        std::uint32_t e = static_cast<std::uint32_t>(std::fabs(exponent));
        double result = 1, sq = base;
        while (e != 0) {
            if (e & 1u) result *= sq;
            e >>= 1;
            if (e != 0) sq *= sq;
        }
        if (exponent < 0) {
            if (result == 0) throw EZeroDivide(msg::kZeroDivide);
            result = 1 / result;
        }
        return result;
    }
    if (std::isnan(base) || base < 0) throw EInvalidOp(msg::kInvalidOp);
    return std::exp(exponent * CheckedLn(base));
}

// n! by the integer rule: an Integer while the product fits in 32 bits, a Real beyond.
// 0! and 1! are 1; a negative n gives n itself.
Variant Factorial(std::int32_t n) {
    if (n < 0) return Variant(n);
    std::int64_t exact = 1;
    int k = 2;
    for (; k <= n; ++k) {
        exact *= k;
        if (exact > 2147483647) break;
    }
    if (k > n) return Variant(static_cast<std::int32_t>(exact));
    double real = static_cast<double>(exact);
    for (++k; k <= n && std::isfinite(real); ++k) real *= k;
    return Variant(real);
}

class TExpEvaluator {
  public:
    explicit TExpEvaluator(const TExpNode& node) : node_(node) {}

    void Operator(Variant& value) const {
        const int arity = OperatorArity(node_.operator_);
        if (arity == 0 || arity != node_.ChildCount()) {
            throw EExpressionError(msg::kExpSyntaxTreeFault);
        }
        Variant a;
        node_.EvaluateChild(0, a);
        if (arity == 1) {
            if (a.IsEmpty() || a.IsArray()) throw EVariantError(msg::kInvalidVarOp);
            if (node_.operator_ == 16) {
                value = VarNot(a);
            } else {
                // The operand is rounded to an integer first (ties to even); Null cannot be.
                value = Factorial(IntOf(a));
            }
            return;
        }
        Variant b;
        node_.EvaluateChild(1, b);
        switch (node_.operator_) {
            case 1:
                value = VarAdd(a, b);
                break;
            case 2:
                value = VarSubtract(a, b);
                break;
            case 3:
                value = VarMultiply(a, b);
                break;
            case 4:
                value = VarDivide(a, b);
                break;
            case 5: {
                // The operand rules first: an Empty operand fails, a Null one gives Null.
                if (a.IsEmpty() || b.IsEmpty() || a.IsArray() || b.IsArray()) {
                    throw EVariantError(msg::kInvalidVarOp);
                }
                if (a.IsNull() || b.IsNull()) {
                    value = Variant::Null();
                } else {
                    value = Variant(Power(RealOf(a), RealOf(b)));
                }
                break;
            }
            case 7:
                value = Variant(VarIsEqual(a, b));
                break;
            case 8:
                value = Variant(VarIsLess(a, b));
                break;
            case 9:
                value = Variant(VarIsGreater(a, b));
                break;
            case 10:
                value = Variant(VarIsLessOrEqual(a, b));
                break;
            case 11:
                value = Variant(VarIsGreaterOrEqual(a, b));
                break;
            case 12:
            case 13:
                value = Variant(!VarIsEqual(a, b));
                break;
            case 14:
                value = VarAnd(a, b);
                break;
            case 15:
                value = VarOr(a, b);
                break;
            default:
                throw EExpressionError(msg::kExpSyntaxTreeFault);
        }
    }

    void Function(int id, Variant& value) const {
        switch (static_cast<Builtin>(id)) {
            case bfSubstr:
            case bfSubstring: {
                const std::int32_t count = IntOf(Arg(2));
                std::int32_t start = IntOf(Arg(1));
                const std::string s = TextOf(Arg(0));
                if (start < 1) start = 1;
                const auto from = static_cast<std::size_t>(start - 1);
                if (count <= 0 || from >= s.size()) {
                    value = Variant(std::string());
                } else {
                    value = Variant(s.substr(from, static_cast<std::size_t>(count)));
                }
                break;
            }
            case bfChr:
                value = Variant(std::string(1, static_cast<char>(IntOf(Arg(0)) & 0xFF)));
                break;
            case bfUpper:
                value = Variant(UpperCase(TextOf(Arg(0))));
                break;
            case bfLower:
                value = Variant(LowerCase(TextOf(Arg(0))));
                break;
            case bfTrim:
                value = Variant(Trim(TextOf(Arg(0))));
                break;
            case bfTrimLeft:
                value = Variant(TrimLeft(TextOf(Arg(0))));
                break;
            case bfTrimRight:
                value = Variant(TrimRight(TextOf(Arg(0))));
                break;
            case bfPos: {
                const std::string s = VarToStr(Arg(1));
                const std::string sub = VarToStr(Arg(0));
                // The empty text occurs nowhere.
                const std::size_t p = sub.empty() ? std::string::npos : s.find(sub);
                value = Variant(p == std::string::npos ? 0 : static_cast<std::int32_t>(p + 1));
                break;
            }
            case bfStrToFloat:
                value = Variant(StrToFloat(TextOf(Arg(0))));
                break;
            case bfStrToInt:
                value = Variant(StrToInt(TextOf(Arg(0))));
                break;
            case bfStrToDate:
                value = Variant::FromDateTime(StrToDate(TextOf(Arg(0))));
                break;
            case bfDateTimeFromString: {
                const char timeSep = CharOf(Arg(3));
                const char dateSep = CharOf(Arg(2));
                const std::string layout = TextOf(Arg(1));
                const std::string text = TextOf(Arg(0));
                value = Variant::FromDateTime(DateTimeFromString(text, layout, dateSep, timeSep));
                break;
            }
            case bfLength:
                value = Variant(static_cast<std::int32_t>(
                    std::min<std::size_t>(TextOf(Arg(0)).size(), 2147483647u)));
                break;
            case bfOrd: {
                // The empty text has no first character; its code counts as 0.
                const std::string s = TextOf(Arg(0));
                value = Variant(
                    s.empty() ? 0 : static_cast<std::int32_t>(static_cast<unsigned char>(s[0])));
                break;
            }
            case bfIntToStr:
                value = Variant(IntToStr(IntOf(Arg(0))));
                break;
            case bfFloatToStr:
                value = Variant(FloatToStr(RealOf(Arg(0))));
                break;
            case bfMax:
            case bfMin: {
                // The first argument starts the running value and the rest are compared with
                // it; without arguments the value is the Integer 0.
                if (node_.ChildCount() == 0) {
                    value = Variant(static_cast<std::int32_t>(0));
                    break;
                }
                Variant run = Arg(0);
                for (int i = 1; i < node_.ChildCount(); ++i) {
                    Variant v = Arg(i);
                    if (id == bfMax) {
                        if (!VarIsGreaterOrEqual(run, v)) run = std::move(v);
                    } else if (run.IsNull() || VarIsGreater(run, v)) {
                        run = std::move(v);
                    }
                }
                value = std::move(run);
                break;
            }
            case bfSum:
                value = Sum();
                break;
            case bfAvg:
                value = VarDivide(Sum(), Variant(static_cast<std::int32_t>(node_.ChildCount())));
                break;
            case bfCount:
                value = Variant(static_cast<std::int32_t>(node_.ChildCount()));
                break;
            case bfFrac: {
                const double x = RealOf(Arg(0));
                value = Variant(x - std::trunc(x));
                break;
            }
            case bfInt:
                value = Variant(std::trunc(RealOf(Arg(0))));
                break;
            case bfRound:
                value = IntegralResult(std::nearbyint(RealOf(Arg(0))));
                break;
            case bfDiv:
            case bfMod: {
                const Variant a(IntOf(Arg(0)));
                const Variant b(IntOf(Arg(1)));
                value = id == bfDiv ? VarIntDivide(a, b) : VarModulus(a, b);
                break;
            }
            case bfRandom:
                if (node_.ChildCount() == 0) {
                    value = Variant(std::uniform_real_distribution<double>(0.0, 1.0)(Rng()));
                } else {
                    const std::int32_t n = IntOf(Arg(0));
                    value = Variant(
                        n <= 1 ? 0 : std::uniform_int_distribution<std::int32_t>(0, n - 1)(Rng()));
                }
                break;
            case bfAbs:
                value = Variant(std::fabs(RealOf(Arg(0))));
                break;
            case bfPower: {
                const double base = RealOf(Arg(0));
                value = Variant(Power(base, RealOf(Arg(1))));
                break;
            }
            case bfExp:
                value = Variant(std::exp(RealOf(Arg(0))));
                break;
            case bfLn:
                value = Variant(CheckedLn(RealOf(Arg(0))));
                break;
            case bfLog:
                value = Variant(CheckedLn(RealOf(Arg(0))) / std::log(10.0));
                break;
            case bfSqr: {
                const double x = RealOf(Arg(0));
                value = Variant(x * x);
                break;
            }
            case bfSqrt: {
                const double x = RealOf(Arg(0));
                if (std::isnan(x) || x < 0) throw EInvalidOp(msg::kInvalidOp);
                value = Variant(std::sqrt(x));
                break;
            }
            case bfIif:
                if (Arg(0).AsBoolean()) {
                    node_.EvaluateChild(1, value);
                } else {
                    node_.EvaluateChild(2, value);
                }
                break;
            case bfIsNull:
                value = Variant(Arg(1).IsNullOrEmpty());
                break;
            case bfDateToStr: {
                const double d = RealOf(Arg(0));
                if (!IsInDateRange(d)) throw EVariantError(msg::kInvalidVarCast);
                value = Variant(DateToStr(d));
                break;
            }
            case bfGetDate:
                value = Variant::FromDateTime(Now());
                break;
            case bfDatePart:
                value = Variant(std::trunc(RealOf(Arg(0))));
                break;
            case bfTimePart: {
                const double d = RealOf(Arg(0));
                value = Variant(d - std::trunc(d));
                break;
            }
            case bfYear:
                value = Variant(DecodeDate(DateOf(Arg(0))).Year);
                break;
            case bfMonth:
                value = Variant(DecodeDate(DateOf(Arg(0))).Month);
                break;
            case bfDay:
                value = Variant(DecodeDate(DateOf(Arg(0))).Day);
                break;
            case bfHour:
                value = Variant(DecodeTime(DateOf(Arg(0))).Hour);
                break;
            case bfMinute:
                value = Variant(DecodeTime(DateOf(Arg(0))).Minute);
                break;
            case bfSecond:
                value = Variant(DecodeTime(DateOf(Arg(0))).Second);
                break;
            case bfCount_:
                break;
        }
    }

  private:
    // Evaluates argument i (0-based) when it is read; "List index out of bounds (i)" when the
    // call does not have it.
    Variant Arg(int i) const {
        Variant v;
        node_.EvaluateChild(i, v);
        return v;
    }

    Variant Sum() const {
        Variant total(static_cast<std::int32_t>(0));
        for (int i = 0; i < node_.ChildCount(); ++i) total = VarAdd(total, Arg(i));
        return total;
    }

    const TExpNode& node_;
};

void TExpNode::Prepare() {
    builtin_ = -1;
    operator_ = 0;
    number_ = 0;
    if (!token_) return;
    switch (token_->Kind) {
        case tkNumber: {
            // The period is the decimal point; a text that is no number as a whole (such as
            // "1.2.3") reads as far as it is one, and as 0 when no part of it is.
            const std::string t = Trim(token_->Text);
            const char* end = t.data() + t.size();
            const std::errc ec = std::from_chars(t.data(), end, number_).ec;
            if (ec == std::errc::result_out_of_range) {
                number_ = std::numeric_limits<double>::infinity();
            } else if (ec != std::errc()) {
                number_ = 0;
            }
            break;
        }
        case tkWord:
            builtin_ = static_cast<std::int8_t>(FindBuiltin(Trim(token_->Text), ChildCount()));
            text_ = Variant(token_->Text);
            break;
        case tkOperator:
            operator_ = static_cast<std::uint8_t>(IndexOfText(token_->Text));
            break;
        default:
            text_ = Variant(Trim(token_->Text));
            break;
    }
}

void TExpNode::EvaluateChild(int i, Variant& value) const {
    Child(i).Evaluate(value);
}

void TExpNode::Evaluate(Variant& value) const {
    DepthGuard guard;
    if (!token_) {
        value = Variant::Null();
        return;
    }
    switch (token_->Kind) {
        case tkNumber:
            value = Variant(number_);
            break;
        case tkWord:
            if (builtin_ >= 0) {
                TExpEvaluator(*this).Function(builtin_, value);
            } else {
                EvaluateName(value);
            }
            break;
        case tkOperator:
            TExpEvaluator(*this).Operator(value);
            break;
        default:
            value = text_;
            break;
    }
}

void TExpNode::EvaluateName(Variant& value) const {
    value = text_;
    const int argCount = ChildCount();
    if (argCount > kMaxArgs) {
        throw EExpressionError(Format(msg::kExpTooManyArgs, token_->Text, argCount, kMaxArgs));
    }
    TArgSlots args;
    for (int i = 0; i < argCount; ++i)
        children_[static_cast<std::size_t>(i)]->Evaluate(args[static_cast<std::size_t>(i)]);
    if (owner_) owner_->ResolveNodeName(*this, token_->Text, args.data(), argCount, value);
}

}  // namespace qel
