#include "ExpToken.h"

#include "ExpMessages.h"
#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "core/TextUtil.h"

namespace qel {

int IndexOfText(std::string_view text) {
    for (int i = 0; i < kOperatorCount; ++i) {
        if (Operators[static_cast<std::size_t>(i)] == text) return i + 1;
    }
    return 0;
}

int OperatorArity(int index) {
    if (index < 1 || index > kOperatorCount) return 0;
    return index == 6 || index == 16 ? 1 : 2;  // "!" and "NOT" take one operand
}

TExpTokenKind ClassifyText(char c, bool quoted, char decimalSeparator) {
    if (!quoted) {
        if (c == '(' || c == ')') return tkBracket;
        if (c == ',') return tkComma;
        if (IndexOfText(std::string_view(&c, 1)) > 0) return tkOperator;
    }
    if (IsNumberText(std::string_view(&c, 1), decimalSeparator)) return tkNumber;
    if (c == '\0') return tkInvalid;
    return tkWord;
}

void TExpParser::SetText(std::string_view s) {
    text_ = Trim(s);
}

void TExpParser::ReadAll(std::string_view s) {
    SetText(s);
    if (FirstToken()) {
        while (NextToken()) {
        }
    }
}

const TExpToken* TExpParser::FirstToken() {
    tokens_.clear();
    pos_ = 0;
    decimalSeparator_ = DefaultFormatSettings().DecimalSeparator;
    // The table depends on the separator only; keep the last one built on this thread.
    thread_local std::array<TExpTokenKind, 256> table{};
    thread_local int tableSeparator = -1;
    if (tableSeparator != static_cast<unsigned char>(decimalSeparator_)) {
        for (int c = 0; c < 256; ++c) {
            table[static_cast<std::size_t>(c)] =
                ClassifyText(static_cast<char>(c), false, decimalSeparator_);
        }
        tableSeparator = static_cast<unsigned char>(decimalSeparator_);
    }
    classes_ = table;
    return NextToken();
}

const TExpToken* TExpParser::NextToken() {
    const std::size_t n = text_.size();
    if (pos_ >= n) return nullptr;
    auto classOf = [this](char c) { return classes_[static_cast<unsigned char>(c)]; };

    char ch;
    do {
        ch = text_[pos_++];
    } while (ch == ' ' && pos_ < n);

    const TExpTokenKind first = classOf(ch);
    if (first == tkInvalid) {
        throw EExpressionError(
            Format(msg::kExpIllegalChar, std::string(1, ch), static_cast<int>(pos_)));
    }
    TExpToken tok;
    if (first == tkBracket) {
        tok.Text.assign(1, ch);
        tok.Kind = tkBracket;
        tokens_.push_back(std::move(tok));
        return &tokens_.back();
    }

    bool quoted = ch == '"' || ch == '\'';
    const bool wasQuoted = quoted;
    if (!quoted) tok.Text.assign(1, ch);
    TExpTokenKind next = tkWord;  // while a quote is open the characters count as word ones
    while (pos_ < n) {
        const char c = text_[pos_];
        if (!quoted) next = classOf(c);
        if (next != first && !(first == tkWord && next == tkNumber)) {
            tok.Kind = !wasQuoted && IndexOfText(tok.Text) > 0 ? tkOperator : first;
            tokens_.push_back(std::move(tok));
            return &tokens_.back();
        }
        if (quoted && (c == '"' || c == '\'')) {
            quoted = false;
        } else if (c != ' ' || quoted) {
            tok.Text.push_back(c);
        }
        ++pos_;
    }
    tok.Kind = first;
    tokens_.push_back(std::move(tok));
    return &tokens_.back();
}

}  // namespace qel
