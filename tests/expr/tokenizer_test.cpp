#include <gtest/gtest.h>

#include "ExprTestUtil.h"
#include "core/FormatSettings.h"

namespace qel {
namespace {

// Tokens as "kind:text" separated by blanks; kinds w n b o c.
std::string Tokens(const std::string& text) {
    TExpParser p;
    try {
        p.ReadAll(text);
    } catch (const Exception& e) {
        return e.Message();
    }
    std::string out;
    for (const TExpToken& t : p.Tokens()) {
        const char* kind = "?";
        switch (t.Kind) {
            case tkWord:
                kind = "w";
                break;
            case tkNumber:
                kind = "n";
                break;
            case tkBracket:
                kind = "b";
                break;
            case tkOperator:
                kind = "o";
                break;
            case tkComma:
                kind = "c";
                break;
            default:
                break;
        }
        out += (out.empty() ? "" : " ") + std::string(kind) + ":" + t.Text;
    }
    return out;
}

TEST(Tokenizer, LexicalRules) {
    struct Case {
        const char* text;
        const char* want;
    } cases[] = {
        // trimming and blanks
        {"  a  ", "w:a"},
        {"", ""},
        {" \t ", ""},
        {"Field 1 = 2", "w:Field1 o:= n:2"},
        {"a b", "w:ab"},
        {"5 x", "n:5 w:x"},
        {"1 2", "n:1 n:2"},
        {"[Host Name]", "w:[HostName]"},
        {"a\tb", "w:a\tb"},  // only code 32 is dropped inside words
        // numbers
        {"12.5", "n:12.5"},
        {"1e5", "n:1 w:e5"},
        {"x1.5", "w:x1.5"},
        {"1.2.3", "n:1.2.3"},
        // quoted texts
        {"'x y'", "w:x y"},
        {"\"x y\"", "w:x y"},
        {"'ab'cd", "w:abcd"},
        {"'a\"b", "w:ab"},  // either quote closes; the word goes on
        {"'never closed", "w:never closed"},
        {"ab'c d'", "w:ab'cd'"},  // quotes inside an unquoted word are ordinary
        {"'(a, b)'", "w:(a, b)"},
        {"''", "w:"},
        // operators
        {"a<>b", "w:a o:<> w:b"},
        {"a!=b", "w:a o:!= w:b"},
        {"a<=b", "w:a o:<= w:b"},
        {"a< =b", "w:a o:< o:= w:b"},
        {"a=-1", "w:a o:=- n:1"},
        {"2*-3", "n:2 o:*- n:3"},
        {"5!", "n:5 o:!"},
        // keywords only in upper case, only where neighbours end the word
        {"(a = 1) AND (b = 2)", "b:( w:a o:= n:1 b:) o:AND b:( w:b o:= n:2 b:)"},
        {"(a) and (b)", "b:( w:a b:) w:and b:( w:b b:)"},
        {"a = 1 AND b = 2", "w:a o:= n:1 w:ANDb o:= n:2"},
        {"a AND b", "w:aANDb"},
        {"(a) AND NOT (b)", "b:( w:a b:) w:ANDNOT b:( w:b b:)"},
        {"'AND'", "w:AND"},
        {"(x) 'OR' (y)", "b:( w:x b:) w:OR b:( w:y b:)"},
        {"NOT", "w:NOT"},  // at the end of the text the operator check is not made
        // brackets and commas
        {"((", "b:( b:("},
        {"F(a,,b)", "w:F b:( w:a c:,, w:b b:)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.want) << "text: " << c.text;
}

TEST(Tokenizer, CharacterOfCodeZeroIsIllegal) {
    struct Case {
        std::string text, want;
    } cases[] = {
        {std::string("ab\0c", 4), "Parse error: illegal character \"\" at position 3."},
        {std::string("  1 +\0", 6), "n:1 o:+"},  // trailing control characters are trimmed
        {std::string("'a\0b'", 5), std::string("w:a\0b", 5)},  // ordinary inside quotes
    };
    for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.want);
}

TEST(Tokenizer, NumberTestFollowsTheRegionalDecimalSeparator) {
    struct Case {
        char sep;
        const char* text;
        const char* want;
    } cases[] = {
        {'.', "1.5", "n:1.5"},
        {',', "1,5", "n:1 c:, n:5"},  // the comma stays the argument separator
        {'#', "1#5", "n:1#5"},
        {'#', "a#", "w:a#"},
    };
    for (const auto& c : cases) {
        FormatSettings fs;
        fs.DecimalSeparator = c.sep;
        ScopedFormatSettings scope(fs);
        EXPECT_EQ(Tokens(c.text), c.want) << c.text;
    }
}

TEST(Tokenizer, ClassifyTextMatchesTheCharacterClasses) {
    struct Case {
        char c;
        bool quoted;
        TExpTokenKind want;
    } cases[] = {
        {'(', false, tkBracket}, {'(', true, tkWord},      {',', false, tkComma},
        {',', true, tkWord},     {'^', false, tkOperator}, {'+', true, tkWord},
        {'7', false, tkNumber},  {'7', true, tkNumber},    {'.', false, tkNumber},
        {'E', false, tkWord},    {' ', false, tkWord},     {'\0', false, tkInvalid},
        {'$', false, tkWord},    {'&', false, tkWord},     {'|', false, tkWord},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyText(c.c, c.quoted, '.'), c.want)
            << "char " << int(c.c) << " quoted " << c.quoted;
    }
}

TEST(Tokenizer, FirstTokenRestarts) {
    TExpParser p;
    p.SetText("  a + b ");
    EXPECT_EQ(p.Text(), "a + b");
    ASSERT_NE(p.FirstToken(), nullptr);
    while (p.NextToken()) {
    }
    EXPECT_EQ(p.Tokens().size(), 3u);
    const TExpToken* t = p.FirstToken();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Text, "a");
    EXPECT_EQ(p.Tokens().size(), 1u);
}

}  // namespace
}  // namespace qel
