// Helpers shared by the expression tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/Errors.h"
#include "core/Variant.h"
#include "expr/QelPars.h"

namespace qel::testing {

// The value of `text` evaluated by a parser without handler.
inline Variant Eval(const std::string& text) {
    TQelParser p;
    p.SetText(text);
    Variant v;
    p.GetValue(v);
    return v;
}

// The class and message of the error `text` raises, or "no error".
inline std::string ErrorOf(const std::string& text) {
    try {
        (void)Eval(text);
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

// The tree of `text` in fully parenthesised form: "(a + (b * c))", "F[a; b]"; an operator
// with one operand shows it after the operator ("(NOT x)", "(- 5)") except "!" ("(5 !)"); a
// node without a token is "<>".
inline std::string Shape(const TExpNode& n) {
    const TExpToken* t = n.Token();
    if (!t) return "<>";
    if (t->Kind == tkOperator) {
        if (n.ChildCount() == 2)
            return "(" + Shape(n.Child(0)) + " " + t->Text + " " + Shape(n.Child(1)) + ")";
        if (n.ChildCount() == 1) {
            // A postfix or prefix operator: its one child sits on the side it was written.
            return t->Text == "!" ? "(" + Shape(n.Child(0)) + " !)"
                                  : "(" + t->Text + " " + Shape(n.Child(0)) + ")";
        }
        return t->Text;
    }
    if (n.ChildCount() == 0) return t->Text;
    std::string s = t->Text + "[";
    for (int i = 0; i < n.ChildCount(); ++i) s += (i ? "; " : "") + Shape(n.Child(i));
    return s + "]";
}

inline std::string ShapeOf(const std::string& text) {
    try {
        TExpTree tree(nullptr, text);
        return Shape(tree.Root());
    } catch (const Exception& e) {
        return e.Message();
    }
}

}  // namespace qel::testing
