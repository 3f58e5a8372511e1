#include <gtest/gtest.h>

#include <functional>

#include "ExprTestUtil.h"
#include "core/FormatSettings.h"

namespace qel {
namespace {

using testing::Eval;

// Removes the functions a test added, whatever happens.
struct AddedFunction {
    explicit AddedFunction(const std::string& definition)
        : index(ParserFunctions().AddFunction(definition)) {}
    ~AddedFunction() { ParserFunctions().DeleteFunction(index); }
    int index;
};

TEST(QelParser, StartUpFunctions) {
    EXPECT_EQ(Eval("PI * 2"), Variant(6.28));
    EXPECT_EQ(Eval("pi"), Variant(3.14));
    EXPECT_EQ(Eval("SQR(3)"), Variant(9.0));  // the built-in wins over the user function
    ASSERT_GE(ParserFunctions().Count(), 3);
    const char* names[] = {"SQR", "SQRT", "PI"};
    const char* bodies[] = {"x*x", "x^(1/2)", "3.14"};
    for (int i = 0; i < 3; ++i) {
        TQelParserFunction* f = ParserFunctions().FunctionAt(i);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->Name(), names[i]);
        EXPECT_EQ(f->Body(), bodies[i]);
    }
    EXPECT_EQ(ParserFunctions().FindFunction("pi"), ParserFunctions().FunctionAt(2));
    EXPECT_EQ(ParserFunctions().FunctionAt(-1), nullptr);
    EXPECT_EQ(ParserFunctions().FunctionAt(ParserFunctions().Count()), nullptr);
}

TEST(QelParser, UnresolvedNamesAreTheirOwnText) {
    EXPECT_EQ(Eval("Host = 'Host'"), Variant(true));
    EXPECT_EQ(Eval("and"), Variant("and"));
}

TEST(QelParser, UserFunctions) {
    AddedFunction avg3("AVG3(a, b, c)=(a+b+c)/3");
    AddedFunction tag("Tag(x)=x + Host");
    AddedFunction noArgs("Answer=42");
    EXPECT_EQ(Eval("AVG3(1, 2, 3)"), Variant(2.0));
    EXPECT_EQ(Eval("avg3(3, 3, 3, 99)"), Variant(3.0));  // surplus arguments ignored
    EXPECT_EQ(Eval("Tag('a')"), Variant("aHost"));       // other names keep their text
    EXPECT_EQ(Eval("Answer + 1"), Variant(43.0));
    // A missing argument is Empty, which fails an operator.
    EXPECT_EQ(testing::ErrorOf("AVG3(1, 2)"), "EVariantError: Invalid variant operation");
}

TEST(QelParser, FunctionDefinitions) {
    struct Case {
        const char* def;
        const char* name;
        const char* params;
        const char* error;
    } cases[] = {
        {"F(a, b)=a", "F", "a,b", nullptr},
        {"F(a b)=a", "F", "ab", nullptr},
        {"PI=3.14", "PI", "", nullptr},
        {"F(a)x=1", "F", "a", nullptr},    // tokens after ")" are ignored
        {"F x, y=1", "Fx", "y", nullptr},  // unparenthesised: blanks join words
        {"F(,a)=1", "F", "a", nullptr},
        {"no equals sign", "", "", nullptr},
        {"F(a + b)=a", nullptr, nullptr,
         "Function parse error: delimitor \",\" expected between arguments."},
        {"F(a=a", nullptr, nullptr, "Function header \"F(a\" is not valid."},
        {"F)a(=1", nullptr, nullptr, "Function header \"F)a(\" is not valid."},
        {"F(a(=1", nullptr, nullptr, "Function header \"F(a(\" is not valid."},
        {"(a)=1", nullptr, nullptr, "Function \"(a)=1\" is not valid."},
        {"=1", nullptr, nullptr, "Function \"=1\" is not valid."},
        {"5(a)=1", nullptr, nullptr, "Function \"5(a)=1\" is not valid."},
    };
    for (const auto& c : cases) {
        TQelParserFunction f;
        try {
            f.SetDefinition(c.def);
            ASSERT_EQ(c.error, nullptr) << c.def;
            EXPECT_EQ(f.Name(), c.name) << c.def;
            std::string params;
            for (const auto& p : f.Params()) params += (params.empty() ? "" : ",") + p;
            EXPECT_EQ(params, c.params) << c.def;
            EXPECT_EQ(f.ParamCount(), static_cast<int>(f.Params().size()));
        } catch (const EExpressionError& e) {
            ASSERT_NE(c.error, nullptr) << c.def << " raised " << e.Message();
            EXPECT_EQ(e.Message(), c.error);
        }
    }
    // A failed definition adds nothing.
    const int before = ParserFunctions().Count();
    EXPECT_THROW(ParserFunctions().AddFunction("(a)=1"), EExpressionError);
    EXPECT_EQ(ParserFunctions().Count(), before);
    EXPECT_THROW(ParserFunctions().DeleteFunction(before), EListError);
}

TEST(QelParser, FunctionsWithAnOwnerAskIt) {
    TQelParser owner;
    owner.SetOnEvaluate(
        [](TQelParser&, const std::string& name, const Variant*, int, Variant& v, bool& done) {
            if (name == "Host") v = Variant("h");
            done = true;
        });
    TQelParserFunction f(&owner);
    f.SetDefinition("F(x)=x + Host");
    TArgSlots args;
    args[0] = Variant("a");
    f.SetArgs(args.data());
    Variant v;
    f.Calculate(v);
    EXPECT_EQ(v, Variant("ah"));
    TQelParserFunction empty;
    empty.SetDefinition("E=");
    empty.Calculate(v);
    EXPECT_TRUE(v.IsNull());
}

// The order of the handler and the user functions.
TEST(QelParser, ProcessBeforeEvent) {
    struct Case {
        bool before;
        bool setDone;
        const char* text;
        Variant want;
        const char* asked;
    } cases[] = {
        {false, true, "PI", Variant(7), "PI"},      // the handler overrides
        {false, false, "PI", Variant(3.14), "PI"},  // not done: the function replaces it
        {true, true, "PI", Variant(3.14), ""},      // function first, handler not asked
        {true, true, "Host", Variant(7), "Host"},
        {false, false, "Host", Variant(7), "Host"},
        {true, false, "PI + Host", Variant(3.14 + 7), "Host"},
    };
    for (const auto& c : cases) {
        std::string asked;
        TQelParser p;
        p.SetProcessBeforeEvent(c.before);
        p.SetOnEvaluate([&](TQelParser& sender, const std::string& name, const Variant* args,
                            int argCount, Variant& v, bool& done) {
            EXPECT_EQ(&sender, &p);
            EXPECT_EQ(argCount, 0);
            for (int i = 0; i < kMaxArgs; ++i) EXPECT_TRUE(args[i].IsEmpty());
            EXPECT_FALSE(done);
            EXPECT_EQ(v, Variant(name));  // the name's own text on entry
            asked += name;
            v = Variant(7);
            done = c.setDone;
        });
        p.SetText(c.text);
        Variant v;
        p.GetValue(v);
        EXPECT_EQ(v, c.want) << c.text << " before=" << c.before;
        EXPECT_EQ(asked, c.asked) << c.text << " before=" << c.before;
    }
}

TEST(QelParser, ErrorsKeepThePreviousValue) {
    TQelParser p;
    p.SetText("1 + 1");
    p.Calculate();
    p.SetText("1 / 0");
    EXPECT_THROW(p.Calculate(), EZeroDivide);
    EXPECT_EQ(p.Value(), Variant(2.0));
    Variant v(5);
    p.SetText("(1");
    EXPECT_THROW(p.GetValue(v), EExpressionError);
    EXPECT_EQ(v, Variant(5));
}

TEST(QelParser, HandlerErrorsPropagate) {
    TQelParser p;
    p.SetOnEvaluate([](TQelParser&, const std::string&, const Variant*, int, Variant&, bool&) {
        throw EConvertError("handler failed");
    });
    p.SetText("UPPER(x)");
    Variant v;
    EXPECT_THROW(p.GetValue(v), EConvertError);
}

// Everything a caller can observe of one evaluation: the handler calls and the outcome.
std::string Trace(TQelParser& p) {
    std::string log;
    p.SetOnEvaluate([&log](TQelParser&, const std::string& name, const Variant* args, int argCount,
                           Variant& v, bool& done) {
        log += name + "/" + std::to_string(argCount);
        for (int i = 0; i < argCount; ++i) log += " " + DebugString(args[i]);
        log += ";";
        if (name == "Code") v = Variant("200");
        if (name == "Size") v = Variant(0);
        if (name == "Field1") v = Variant("GET /x");
        done = argCount == 0;
    });
    try {
        Variant v;
        p.GetValue(v);
        log += " => " + DebugString(v);
    } catch (const Exception& e) {
        log += std::string(" => ") + e.ClassName() + " " + e.Message();
    }
    p.SetOnEvaluate(nullptr);
    return log;
}

// A parser kept for many evaluations behaves as a fresh parser per evaluation.
TEST(QelParser, ReusedParserMatchesFreshParses) {
    const char* texts[] = {
        "(Code = 200) AND (Size > 0)",
        "UPPER(SUBSTR(Field1, 1, 3))",
        "F(Code, G(Size), 'q') + PI",
        "IIF(Size = 0, Code, 1/0)",
        "1 / Size",
        "(1 + Code",
        "a=-1",
        "",
        "F(1,2,3,4,5,6,7,8,9,10,11,12)",
    };
    TQelParser kept;
    for (int round = 0; round < 3; ++round) {
        for (const char* text : texts) {
            TQelParser fresh;
            fresh.SetText(text);
            kept.SetText(text);
            const std::string want = Trace(fresh);
            EXPECT_EQ(Trace(kept), want) << text;
            EXPECT_EQ(Trace(kept), want) << text << " (second evaluation)";
        }
    }
}

TEST(QelParser, ReparsesWhenTheDecimalSeparatorChanges) {
    TQelParser p;
    p.SetText("F(1#5)");
    std::string dotted = Trace(p);
    EXPECT_EQ(dotted, " => EExpressionError Compile error: syntax fault.");  // "1", "#5"
    FormatSettings fs;
    fs.DecimalSeparator = '#';
    {
        ScopedFormatSettings scope(fs);
        EXPECT_EQ(Trace(p), "F/1 Real 1; => Text 'F'");  // "1#5" is one number token
    }
    EXPECT_EQ(Trace(p), dotted);
}

TEST(QelParser, HandlerMayChangeTextWhileEvaluating) {
    TQelParser p;
    p.SetText("a + b");
    p.SetOnEvaluate(
        [&p](TQelParser&, const std::string& name, const Variant*, int, Variant& v, bool& done) {
            if (name == "a") p.SetText("'other'");
            v = Variant(1);
            done = true;
        });
    Variant v;
    p.GetValue(v);
    EXPECT_EQ(v, Variant(2));
    p.GetValue(v);
    EXPECT_EQ(v, Variant(1));
}

// A handler that leads back into evaluation without end fails instead of exhausting the stack.
TEST(QelParser, EndlessReentryFails) {
    TQelParser p;
    p.SetText("UPPER(again)");
    p.SetOnEvaluate(
        [&p](TQelParser&, const std::string&, const Variant*, int, Variant& v, bool& done) {
            p.GetValue(v);
            done = true;
        });
    Variant v;
    try {
        p.GetValue(v);
        ADD_FAILURE() << "no error";
    } catch (const EExpressionError& e) {
        EXPECT_EQ(e.Message(),
                  "Calculate error: more than 64 calculations nested inside one another.");
    }
    // The guards unwound: the same thread evaluates normally afterwards.
    EXPECT_EQ(Eval("1 + 1"), Variant(2.0));
}

TEST(QelParser, AssignCopiesThePublishedProperties) {
    TQelParser a, b;
    a.SetText("1 + 2");
    a.SetProcessBeforeEvent(true);
    b.Assign(a);
    EXPECT_EQ(b.Text(), "1 + 2");
    EXPECT_TRUE(b.ProcessBeforeEvent());
    TComponent other;
    EXPECT_THROW(b.Assign(other), Exception);
}

// Malformed texts give a value or a defined error, never a crash or a hang.
TEST(QelParser, MalformedTextsFailCleanly) {
    const std::string pieces[] = {"(",
                                  ")",
                                  ",",
                                  "'",
                                  "\"",
                                  "F",
                                  "1",
                                  "+",
                                  "!",
                                  "NOT",
                                  " ",
                                  "=-",
                                  "AND",
                                  "x",
                                  ".",
                                  "SUBSTR",
                                  "IIF",
                                  "^",
                                  std::string(1, '\0')};
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        const int n = static_cast<int>(next() % 24);
        for (int k = 0; k < n; ++k) text += pieces[next() % std::size(pieces)];
        try {
            (void)Eval(text);
        } catch (const Exception&) {
            // a defined error; anything else escapes and fails the test
        }
    }
}

}  // namespace
}  // namespace qel
