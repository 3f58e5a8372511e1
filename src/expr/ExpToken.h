// The tokenizer of the expression language: cuts an expression text into words, numbers,
// brackets, operators and commas.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace qel {

enum TExpTokenKind : std::uint8_t {
    tkInvalid = 0,   // the character of code 0
    tkWord = 1,      // a name, a function name or a quoted text
    tkNumber = 2,    // a numeric literal
    tkBracket = 4,   // "(" or ")", always alone
    tkOperator = 5,  // an operator, known or not
    tkComma = 6,     // the argument separator
};

struct TExpToken {
    std::string Text;  // quoted texts without their quotes; blanks outside quotes dropped
    TExpTokenKind Kind = tkInvalid;
};

// The operator table. The 1-based index is the binding rank: the lower, the looser.
inline constexpr int kOperatorCount = 16;
inline constexpr std::array<std::string_view, kOperatorCount> Operators{
    "+", "-", "*", "/", "^", "!", "=", "<", ">", "<=", ">=", "<>", "!=", "AND", "OR", "NOT"};
// 1-based index of the first entry equal to text (letter case counts), 0 when there is none.
int IndexOfText(std::string_view text);
// The number of operands of the operator with that 1-based index; 0 for index 0.
int OperatorArity(int index);

// The kind of a one-character text; `quoted` is true while a quoted text is open.
// `decimalSeparator` is the regional one the number test reads.
TExpTokenKind ClassifyText(char c, bool quoted, char decimalSeparator);

class TExpParser {
  public:
    TExpParser() = default;
    TExpParser(const TExpParser&) = delete;
    TExpParser& operator=(const TExpParser&) = delete;

    // Stores s without leading and trailing characters of code 32 or below.
    void SetText(std::string_view s);
    const std::string& Text() const { return text_; }
    int Position() const { return static_cast<int>(pos_) + 1; }

    // Clears the tokens, starts at the first character and reads one token. Reads the process-wide
    // decimal separator for the number test of this pass.
    const TExpToken* FirstToken();
    // Reads the next token and appends it to Tokens; nullptr at the end of the text. Raises
    // EExpressionError for the character of code 0.
    const TExpToken* NextToken();
    // SetText, then every token.
    void ReadAll(std::string_view s);

    void ClearTokens() { tokens_.clear(); }
    // Tokens keep their addresses while more are read (the tree refers to them).
    const std::deque<TExpToken>& Tokens() const { return tokens_; }
    char DecimalSeparator() const { return decimalSeparator_; }

  private:
    std::string text_;
    std::size_t pos_ = 0;  // 0-based index of the next character
    std::deque<TExpToken> tokens_;
    char decimalSeparator_ = '.';
    std::array<TExpTokenKind, 256> classes_{};  // unquoted kind of every byte for this pass
};

}  // namespace qel
