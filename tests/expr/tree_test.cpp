#include <gtest/gtest.h>

#include "ExprTestUtil.h"

namespace qel {
namespace {

using testing::ShapeOf;

TEST(Tree, BindingByRankAndLeftmostOperator) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"1 + 2 * 3", "(1 + (2 * 3))"},
        {"2 * 3 + 1", "((2 * 3) + 1)"},
        {"10 - 4 - 3", "(10 - (4 - 3))"},
        {"8 / 4 / 2", "(8 / (4 / 2))"},
        {"a - b + c", "((a - b) + c)"},
        {"2 ^ 3 ^ 2", "(2 ^ (3 ^ 2))"},
        {"x + 1 > 5", "(x + (1 > 5))"},
        {"x = (1) AND (y)", "(x = (1 AND y))"},
        {"(a = 1) AND (b = 2)", "((a = 1) AND (b = 2))"},
        {"NOT (a = b)", "(NOT (a = b))"},
        {"NOT (a) = b", "((NOT a) = b)"},
        {"(a) AND (NOT (b))", "(a AND (NOT b))"},
        {"5!", "(5 !)"},
        {"5! + 1", "((5 !) + 1)"},
        {"-5", "(- 5)"},
        {"a< =b", "((< a) = b)"},  // "<" with its one operand, a
        {"a=-1", "(a =- 1)"},      // the unknown operator beats every known one
        {"a + b =- c * d", "((a + b) =- (c * d))"},
        {"((1 + 2))", "(1 + 2)"},
        {"(1 + 2) * (3)", "((1 + 2) * 3)"},
        {"(a) + (b)", "(a + b)"},
        {"((a))", "a"},
        {"UPPER(SUBSTR(s, 1, 3)) = 'ABC'", "(UPPER[SUBSTR[s; 1; 3]] = ABC)"},
        {"F(a, G(b, c))", "F[a; G[b; c]]"},
        {"F(a,)", "F[a]"},
        {"F(,a)", "F[<>; a]"},
        {"F(a,,b)", "F[a; b]"},  // ",," is one comma token
        {"F((a), b)", "F[a; b]"},
        {"F(a + (b), c)", "F[(a + b); c]"},
        {"F(a(", "F[a]"},  // the last bracket of a call need not close it
        {"()", "<>"},
        {"", "<>"},
        {"(", "("},
        {")", ")"},
    };
    for (const auto& c : cases) EXPECT_EQ(ShapeOf(c.text), c.want) << "text: " << c.text;
}

TEST(Tree, CompileErrors) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        {"(1 + 2))", "Compile error: parenthesis mismatch."},
        {"a)", "Compile error: parenthesis mismatch."},
        {")(", "Compile error: parenthesis mismatch."},
        {"1 + (2))", "Compile error: parenthesis mismatch."},
        {"(1 + 2", "Compile error: syntax fault."},
        {"5 x", "Compile error: syntax fault."},
        {"1 2", "Compile error: syntax fault."},
        {"F()", "Compile error: syntax fault."},
        {"GETDATE()", "Compile error: syntax fault."},
        {"F(a, (b, c))", "Compile error: syntax fault."},
        {"a = 1 AND b = 2", "Compile error: syntax fault."},
        {"(a) AND NOT (b)", "Compile error: syntax fault."},
        {"F(a),(b)", "Function parse error."},
        {"F(a)(b)", "Function parse error."},
        {"((a + b)", "Compile error: syntax fault."},
    };
    for (const auto& c : cases) EXPECT_EQ(ShapeOf(c.text), c.want) << "text: " << c.text;
}

TEST(Tree, NodesKnowTheirPlace) {
    TExpTree tree(nullptr, "F(a, b + c)");
    const TExpNode& root = tree.Root();
    EXPECT_EQ(root.Level(), 0);
    EXPECT_EQ(root.Parent(), nullptr);
    ASSERT_EQ(root.ChildCount(), 2);
    EXPECT_EQ(root.TokenCount(), 1);
    EXPECT_EQ(root.TokenAt(0), root.Token());
    const TExpNode& sum = root.Child(1);
    EXPECT_EQ(sum.Parent(), &root);
    EXPECT_EQ(sum.Child(0).Level(), 2);
    EXPECT_EQ(sum.Token()->Text, "+");
    try {
        (void)root.Child(2);
        ADD_FAILURE() << "Child(2) of a two-argument call";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (2)");
    }
}

// Long texts must build in about linear time and nesting beyond the limit must fail cleanly
// rather than exhaust the stack.
TEST(Tree, DeepAndLongTexts) {
    const int deep = 100000;
    struct Case {
        std::string text;
        std::string want;
    } cases[] = {
        {std::string(deep, '(') + "1" + std::string(deep, ')'), "1"},
        {std::string(deep, '(') + "1", "Compile error: syntax fault."},
        {"1" + std::string(deep, ')'), "Compile error: parenthesis mismatch."},
        {[&] {
             std::string s;
             for (int i = 0; i < deep; ++i) s += "F(";
             return s + "1" + std::string(deep, ')');
         }(),
         "Compile error: expression nested deeper than 1000 levels."},
        {[&] {
             std::string s;
             for (int i = 0; i < deep; ++i) s += "1+(";
             return s + "1" + std::string(deep, ')');
         }(),
         "Compile error: expression nested deeper than 1000 levels."},
    };
    for (const auto& c : cases) EXPECT_EQ(ShapeOf(c.text), c.want) << c.text.substr(0, 40);

    // Operators of equal rank group to the right, so a chain of n terms is n levels deep.
    auto chain = [](int n) {
        std::string s = "1";
        for (int i = 1; i < n; ++i) s += " + 1";
        return s;
    };
    EXPECT_EQ(testing::Eval(chain(900)), Variant(900.0));
    EXPECT_EQ(testing::ErrorOf(chain(1500)),
              "EExpressionError: Compile error: expression nested deeper than 1000 levels.");
}

TEST(Tree, NestingAtTheLimitStillBuilds) {
    std::string s;
    for (int i = 0; i < kMaxNodeLevel; ++i) s += "F(";
    s += "1" + std::string(kMaxNodeLevel, ')');
    TExpTree tree(nullptr, s);  // 1000 nested calls: levels 0..1000
    EXPECT_EQ(tree.Root().Child(0).Level(), 1);
    Variant v;
    tree.Evaluate(v);  // and evaluates without exhausting the stack
    EXPECT_EQ(v, Variant("F"));
    std::string t;
    for (int i = 0; i < kMaxNodeLevel + 1; ++i) t += "F(";
    t += "1" + std::string(kMaxNodeLevel + 1, ')');
    EXPECT_THROW(TExpTree(nullptr, t), EExpressionError);
}

}  // namespace
}  // namespace qel
