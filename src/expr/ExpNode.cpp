// Building the syntax tree.
//
// Every node covers a contiguous range of the root's token list, so the bracket structure is
// worked out once for the whole list: the partner of every bracket, the number of brackets
// open around every token, and the operators sorted by (nesting, rank, position). With these a
// node strips its outer parentheses and finds its split operator without scanning its tokens,
// so building stays fast on very long texts.
#include "ExpNode.h"

#include <algorithm>
#include <tuple>

#include "ExpMessages.h"
#include "core/Errors.h"

namespace qel {

namespace {
bool IsOpen(const TExpToken* t) {
    return t->Kind == tkBracket && t->Text == "(";
}
bool IsClose(const TExpToken* t) {
    return t->Kind == tkBracket && t->Text == ")";
}
}  // namespace

class TExpBuilder {
  public:
    explicit TExpBuilder(std::span<const TExpToken* const> all) : all_(all) {
        const int n = static_cast<int>(all.size());
        partner_.assign(static_cast<std::size_t>(n), -1);
        depth_.resize(static_cast<std::size_t>(n));
        strayClose_.assign(static_cast<std::size_t>(n) + 1, 0);
        std::vector<int> open;
        for (int k = 0; k < n; ++k) {
            const TExpToken* t = all[static_cast<std::size_t>(k)];
            depth_[static_cast<std::size_t>(k)] = static_cast<int>(open.size());
            int stray = 0;
            if (IsOpen(t)) {
                open.push_back(k);
            } else if (IsClose(t)) {
                if (open.empty()) {
                    stray = 1;
                } else {
                    partner_[static_cast<std::size_t>(k)] = open.back();
                    partner_[static_cast<std::size_t>(open.back())] = k;
                    open.pop_back();
                }
            } else if (t->Kind == tkOperator) {
                ops_.push_back({depth_[static_cast<std::size_t>(k)], IndexOfText(t->Text), k});
            }
            strayClose_[static_cast<std::size_t>(k) + 1] =
                strayClose_[static_cast<std::size_t>(k)] + stray;
        }
        std::sort(ops_.begin(), ops_.end());
    }

    void Build(TExpNode& node) {
        int b = Offset(node), e = b + node.TokenCount();
        if (e - b < 2) return Finish(node);
        StripOuterParentheses(b, e);
        node.tokens_ = all_.subspan(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b));
        if (e - b < 2) {
            node.token_ = e - b == 1 ? node.tokens_[0] : nullptr;
            return Finish(node);
        }
        int i = FindSplitOperator(b, e);
        if (i >= 0) {
            SplitAt(node, b, i, e);
        } else if (!ParseFunctionCall(node, b, e)) {
            throw EExpressionError(msg::kExpSyntaxFault);
        }
        Finish(node);
    }

  private:
    struct Op {
        int depth, rank, pos;
        bool operator<(const Op& o) const {
            return std::tie(depth, rank, pos) < std::tie(o.depth, o.rank, o.pos);
        }
    };

    int Offset(const TExpNode& node) const {
        return static_cast<int>(node.tokens_.data() - all_.data());
    }
    const TExpToken* At(int k) const { return all_[static_cast<std::size_t>(k)]; }
    int Partner(int k) const { return partner_[static_cast<std::size_t>(k)]; }

    // Drops an enclosing "(" ... ")" while the first parenthesis does not close before the last
    // token: "((a))" becomes "a", "(a) + (b)" stays.
    void StripOuterParentheses(int& b, int& e) const {
        while (e - b >= 2 && IsOpen(At(b)) && IsClose(At(e - 1))) {
            int p = Partner(b);
            if (p >= 0 && p < e - 1) break;  // closes before the last token
            ++b;
            --e;
        }
    }

    // The loosest-binding operator outside parentheses, the leftmost of equal ones; an unknown
    // operator (rank 0) beats every known one. -1 when there is none.
    int FindSplitOperator(int b, int e) const {
        // A ")" without its "(" inside the range makes the running depth negative. Sub-ranges
        // never hold one whose "(" lies before them (the split, stripping and argument cuts
        // keep pairs together), so the stray ones of the whole list are all there is to count.
        if (strayClose_[static_cast<std::size_t>(e)] != strayClose_[static_cast<std::size_t>(b)]) {
            throw EExpressionError(msg::kExpParenthesisMismatch);
        }
        // Brackets opened before the range enclose all of it, so a token stands at depth 0
        // within the range exactly when it has as many brackets open around it as the first one.
        const int base = depth_[static_cast<std::size_t>(b)];
        for (int rank = 0; rank <= kOperatorCount; ++rank) {
            auto it = std::lower_bound(ops_.begin(), ops_.end(), Op{base, rank, b});
            if (it != ops_.end() && it->depth == base && it->rank == rank && it->pos < e) {
                return it->pos;
            }
        }
        return -1;
    }

    void SplitAt(TExpNode& node, int b, int i, int e) {
        node.tokens_ = all_.subspan(static_cast<std::size_t>(i), 1);
        node.token_ = At(i);
        if (i > b) AddChild(node, b, i);
        if (e > i + 1) AddChild(node, i + 1, e);
    }

    bool ParseFunctionCall(TExpNode& node, int b, int e) {
        if (e - b < 4 || At(b)->Kind != tkWord || At(b + 1)->Kind != tkBracket ||
            At(e - 1)->Kind != tkBracket) {
            return false;
        }
        node.tokens_ = all_.subspan(static_cast<std::size_t>(b), 1);
        node.token_ = At(b);
        int start = b + 2;
        const int end = e - 1;
        while (start < end) {
            int k = start, stop = end, next = end;
            while (k < end) {
                const TExpToken* t = At(k);
                if (IsOpen(t)) {
                    int p = Partner(k);
                    if (p < 0 || p >= end) break;  // never closes: no comma at depth 0 follows
                    k = p + 1;
                    continue;
                }
                if (IsClose(t)) throw EExpressionError(msg::kExpFunctionParse);
                if (t->Kind == tkComma) {
                    stop = k;
                    next = k + 1;
                    break;
                }
                ++k;
            }
            AddChild(node, start, stop);
            start = next;
        }
        return true;
    }

    void AddChild(TExpNode& node, int b, int e) {
        if (node.level_ >= kMaxNodeLevel) {
            throw EExpressionError(Format(msg::kExpTooDeep, kMaxNodeLevel));
        }
        auto child = std::make_unique<TExpNode>(
            node.owner_, all_.subspan(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b)),
            &node);
        TExpNode& ref = *child;
        node.children_.push_back(std::move(child));
        Build(ref);
    }

    static void Finish(TExpNode& node) { node.Prepare(); }

    std::span<const TExpToken* const> all_;
    std::vector<int> partner_;     // the matching bracket of every bracket, -1 for none
    std::vector<int> depth_;       // brackets open before each token
    std::vector<int> strayClose_;  // prefix counts of ")" without a "("
    std::vector<Op> ops_;
};

TExpNode::TExpNode(TExpNameResolver* owner, std::span<const TExpToken* const> tokens,
                   TExpNode* parent)
    : owner_(owner), parent_(parent), level_(parent ? parent->level_ + 1 : 0), tokens_(tokens) {
    if (tokens_.size() == 1) {
        token_ = tokens_[0];
        Prepare();
    }
}

TExpNode::~TExpNode() {
    while (!children_.empty()) children_.pop_back();  // last to first
}

void TExpNode::Build() {
    if (tokens_.size() < 2) return;
    TExpBuilder builder(tokens_);  // the bracket structure of this node's own list
    builder.Build(*this);
}

const TExpToken* TExpNode::TokenAt(int i) const {
    CheckListIndex(i, TokenCount());
    return tokens_[static_cast<std::size_t>(i)];
}

TExpNode& TExpNode::Child(int i) const {
    CheckListIndex(i, ChildCount());
    return *children_[static_cast<std::size_t>(i)];
}

TExpTree::TExpTree(TExpNameResolver* owner, std::string_view text) {
    parser_.ReadAll(text);
    list_.reserve(parser_.Tokens().size());
    for (const TExpToken& t : parser_.Tokens()) list_.push_back(&t);
    root_ = std::make_unique<TExpNode>(owner, std::span<const TExpToken* const>(list_));
    root_->Build();
}

}  // namespace qel
