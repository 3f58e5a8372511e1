#include "QelParser.h"

#include "ExpMessages.h"
#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "core/TextUtil.h"

namespace qel {

namespace {
// Bounds the calculations running inside one another on this thread (a handler or a function
// body that leads back into an evaluation), so that a cycle ends in an error and not in a stack
// overflow.
thread_local int t_calcNesting = 0;

}  // namespace

TCalculationGuard::TCalculationGuard() {
    if (++t_calcNesting > kMaxCalculationNesting) {
        --t_calcNesting;
        throw EExpressionError(Format(msg::kExpCalculationTooDeep, kMaxCalculationNesting));
    }
}

TCalculationGuard::~TCalculationGuard() {
    --t_calcNesting;
}

// A parse of one text: the tree, or the error the parse raised.
struct TQelParser::Compiled {
    std::string text;
    char separator = 0;
    std::unique_ptr<TExpTree> tree;
    std::exception_ptr error;
};

TQelParser::TQelParser(TComponent* owner) : TComponent(owner) {}

TQelParser::~TQelParser() = default;

void TQelParser::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TQelParser*>(&source);
    if (!other) AssignError(&source);
    processBeforeEvent_ = other->processBeforeEvent_;
    SetText(other->text_);
    onEvaluate_ = other->onEvaluate_;
}

void TQelParser::SetText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    compiled_.reset();
}

std::shared_ptr<const TQelParser::Compiled> TQelParser::Compile() {
    const char separator = DefaultFormatSettings().DecimalSeparator;
    if (compiled_ && compiled_->separator == separator && compiled_->text == text_) {
        return compiled_;
    }
    auto c = std::make_shared<Compiled>();
    c->text = text_;
    c->separator = separator;
    try {
        c->tree = std::make_unique<TExpTree>(static_cast<TExpNameResolver*>(this), text_);
    } catch (const Exception&) {
        c->error = std::current_exception();  // parse errors are the same on every try
    }
    compiled_ = c;
    return c;
}

void TQelParser::Calculate() {
    TCalculationGuard guard;
    // The tree stays alive through the evaluation even if a handler changes Text meanwhile.
    std::shared_ptr<const Compiled> c = Compile();
    if (c->error) std::rethrow_exception(c->error);
    Variant result;
    c->tree->Evaluate(result);
    value_ = std::move(result);
}

const std::string* TQelParser::PlainName() {
    std::shared_ptr<const Compiled> c = Compile();
    if (c->error || !c->tree || !c->tree->Root().IsPlainName()) return nullptr;
    return &c->tree->Root().Token()->Text;
}

void TQelParser::GetValue(Variant& v) {
    Calculate();
    v = value_;
}

void TQelParser::ResolveNodeName(const TExpNode&, const std::string& eval, const Variant* args,
                                 int argCount, Variant& value) {
    ResolveName(eval, args, argCount, value);
}

void TQelParser::ResolveName(const std::string& eval, const Variant* args, int argCount,
                             Variant& value) {
    bool done = false;
    if (!processBeforeEvent_ && onEvaluate_) {
        onEvaluate_(*this, eval, args, argCount, value, done);
        if (done) return;
    } else {
        value = Variant(eval);
    }
    if (TQelParserFunction* f = ParserFunctions().FindFunction(eval)) {
        f->SetArgs(args);
        Variant result;
        f->Calculate(result);
        value = std::move(result);
        return;
    }
    if (processBeforeEvent_ && onEvaluate_) onEvaluate_(*this, eval, args, argCount, value, done);
}

TQelParserFunction::TQelParserFunction(TQelParser* owner) : owner_(owner) {}

TQelParserFunction::~TQelParserFunction() = default;

void TQelParserFunction::SetDefinition(const std::string& text) {
    params_.clear();
    definition_ = text;
    body_.clear();
    name_.clear();
    tree_.reset();
    treeError_ = nullptr;
    treeReady_ = false;

    const std::size_t eq = definition_.find('=');
    if (eq == std::string::npos) return;
    const std::string header = definition_.substr(0, eq);
    body_ = definition_.substr(eq + 1);

    TExpParser parser;
    parser.SetText(header);
    const TExpToken* t = parser.FirstToken();
    if (!t || t->Kind != tkWord)
        throw EExpressionError(Format(msg::kExpFunctionNotValid, definition_));
    name_ = t->Text;

    t = parser.NextToken();
    if (!t) return;
    bool parenthesised = false;
    if (t->Kind == tkBracket) {
        if (t->Text != "(") throw EExpressionError(Format(msg::kExpFunctionHeaderNotValid, header));
        parenthesised = true;
    }
    bool commaExpected = false;
    while ((t = parser.NextToken()) != nullptr) {
        if (t->Kind == tkBracket) {
            if (parenthesised && t->Text == ")") return;
            throw EExpressionError(Format(msg::kExpFunctionHeaderNotValid, header));
        }
        if (commaExpected) {
            if (t->Kind != tkComma) throw EExpressionError(msg::kExpFunctionDelimiter);
            commaExpected = false;
        } else if (t->Kind == tkWord) {
            params_.push_back(t->Text);
            commaExpected = true;
        }
    }
    if (parenthesised) throw EExpressionError(Format(msg::kExpFunctionHeaderNotValid, header));
}

void TQelParserFunction::SetArgs(const Variant* args) {
    for (int i = 0; i < kMaxArgs; ++i) argValues_[static_cast<std::size_t>(i)] = args[i];
}

void TQelParserFunction::Calculate(Variant& value) {
    TCalculationGuard guard;
    const char separator = DefaultFormatSettings().DecimalSeparator;
    if (!treeReady_ || treeSeparator_ != separator) {
        tree_.reset();
        treeError_ = nullptr;
        try {
            tree_ = std::make_unique<TExpTree>(static_cast<TExpNameResolver*>(this), body_);
        } catch (const Exception&) {
            treeError_ = std::current_exception();
        }
        treeReady_ = true;
        treeSeparator_ = separator;
    }
    if (treeError_) std::rethrow_exception(treeError_);
    Variant result;
    tree_->Evaluate(result);
    value = std::move(result);
}

void TQelParserFunction::ResolveNodeName(const TExpNode& sender, const std::string& eval,
                                         const Variant* args, int argCount, Variant& value) {
    ResolveName(sender, eval, args, argCount, value);
}

void TQelParserFunction::ResolveName(const TExpNode&, const std::string& eval, const Variant* args,
                                     int argCount, Variant& value) {
    for (std::size_t i = 0; i < params_.size(); ++i) {
        if (SameText(params_[i], eval)) {
            value = i < argValues_.size() ? argValues_[i] : Variant();
            return;
        }
    }
    if (owner_) owner_->ResolveName(eval, args, argCount, value);
}

TQelParserFunctions::~TQelParserFunctions() {
    while (!items_.empty()) items_.pop_back();  // last to first
}

int TQelParserFunctions::AddFunction(const std::string& definition) {
    auto f = std::make_unique<TQelParserFunction>();
    f->SetDefinition(definition);
    items_.push_back(std::move(f));
    return Count() - 1;
}

void TQelParserFunctions::DeleteFunction(int index) {
    CheckListIndex(index, Count());
    items_.erase(items_.begin() + index);
}

TQelParserFunction* TQelParserFunctions::FunctionAt(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(index)].get();
}

TQelParserFunction* TQelParserFunctions::FindFunction(const std::string& name) const {
    for (const auto& f : items_) {
        if (SameText(f->Name(), name)) return f.get();
    }
    return nullptr;
}

TQelParserFunctions& ParserFunctions() {
    static TQelParserFunctions list;
    static const bool filled = [] {
        list.AddFunction("SQR(x)=x*x");
        list.AddFunction("SQRT(x)=x^(1/2)");
        list.AddFunction("PI=3.14");
        return true;
    }();
    (void)filled;
    return list;
}

}  // namespace qel
