// The syntax tree of the expression language and its evaluation.
//
// A node's token list is split at the operator that stands first in the operator table (the
// leftmost of equal ones) or opened as a function call `NAME(arg, ...)`; evaluation walks the
// built tree and hands every word that is not a built-in function to the tree's owner.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ExpToken.h"
#include "core/Variant.h"

namespace qel {

// The number of argument slots a name resolution receives; a call of a name that is not a
// built-in may have at most this many arguments.
inline constexpr int kMaxArgs = 11;
using TArgSlots = std::array<Variant, kMaxArgs>;

// The deepest a tree may nest (a child's Level). Deeper texts fail to build with
// "Compile error: expression nested deeper than %d levels." instead of exhausting the stack.
inline constexpr int kMaxNodeLevel = 1000;
// The deepest evaluation may nest on one thread, counting the nodes of trees evaluated from
// inside other evaluations (user functions, handlers that evaluate again).
inline constexpr int kMaxEvaluationDepth = 2 * kMaxNodeLevel;
// How many calculations (TQelParser, user functions) may run inside one another on one thread.
inline constexpr int kMaxCalculationNesting = 64;

class TExpNode;

// Resolves the names of a tree: a word that is neither a number, an operator nor a built-in.
class TExpNameResolver {
  public:
    virtual ~TExpNameResolver() = default;
    // On entry `value` holds the name's text; on return the resolved value (or the text
    // unchanged). `args` points at kMaxArgs slots; `argCount` is the number of written
    // arguments (0 for a bare name).
    virtual void ResolveNodeName(const TExpNode& sender, const std::string& eval,
                                 const Variant* args, int argCount, Variant& value) = 0;
};

class TExpNode {
  public:
    // `tokens` must outlive the node and its subtree; the node covers them all until Build.
    TExpNode(TExpNameResolver* owner, std::span<const TExpToken* const> tokens,
             TExpNode* parent = nullptr);
    ~TExpNode();
    TExpNode(const TExpNode&) = delete;
    TExpNode& operator=(const TExpNode&) = delete;

    // Turns the node into a subtree. Raises EExpressionError "Compile error: ..." and
    // "Function parse error.".
    void Build();

    // Computes the node's value. A node without a token (an empty text, "()", the empty first
    // argument of "F(,a)") gives Null.
    void Evaluate(Variant& value) const;
    // The hand-over of a word to the owner: the arguments are evaluated into the slots in order.
    void EvaluateName(Variant& value) const;
    // A word that is neither a call nor a built-in function: its evaluation is the hand-over
    // of its text, with no arguments, to the owner.
    bool IsPlainName() const {
        return token_ != nullptr && token_->Kind == tkWord && builtin_ < 0 && children_.empty();
    }

    TExpNameResolver* Owner() const { return owner_; }
    TExpNode* Parent() const { return parent_; }
    int Level() const { return level_; }
    const TExpToken* Token() const { return token_; }
    int TokenCount() const { return static_cast<int>(tokens_.size()); }
    const TExpToken* TokenAt(int i) const;  // "List index out of bounds (%d)"
    int ChildCount() const { return static_cast<int>(children_.size()); }
    TExpNode& Child(int i) const;  // "List index out of bounds (%d)"

  private:
    friend class TExpBuilder;
    friend class TExpEvaluator;

    void Prepare();  // caches what evaluation needs from the token
    void EvaluateChild(int i, Variant& value) const;

    TExpNameResolver* owner_;
    TExpNode* parent_;
    int level_;
    std::span<const TExpToken* const> tokens_;
    const TExpToken* token_ = nullptr;
    std::vector<std::unique_ptr<TExpNode>> children_;

    // Evaluation cache, derived from token_ and the children count.
    std::int8_t builtin_ = -1;   // index into the built-in function table, -1 for none
    std::uint8_t operator_ = 0;  // operator table index, 0 for an unknown operator
    double number_ = 0.0;
    Variant text_;  // the token text (names), trimmed for brackets and commas
};

// A parsed expression: the tokens and the tree over them. Parse once, evaluate many times.
class TExpTree {
  public:
    // Reads every token of `text` and builds the tree. Raises the parse and compile errors.
    TExpTree(TExpNameResolver* owner, std::string_view text);
    void Evaluate(Variant& value) const { root_->Evaluate(value); }
    const TExpNode& Root() const { return *root_; }
    // The regional decimal separator the tokenizer's number test read.
    char DecimalSeparator() const { return parser_.DecimalSeparator(); }

  private:
    TExpParser parser_;
    std::vector<const TExpToken*> list_;
    std::unique_ptr<TExpNode> root_;
};

}  // namespace qel
