// The public face of the expression language: the TQelParser component, which evaluates its
// Text and asks its host for the values of names through OnEvaluate, and the user-defined
// functions (`name(params)=body`) of the process-wide list ParserFunctions.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ExpNode.h"
#include "core/Component.h"
#include "core/Variant.h"

namespace qel {

class TQelParser;

// The host's resolution of a name.
//   Sender   the parser evaluating the text
//   Eval     the name as written (a quoted text's content)
//   Args     exactly kMaxArgs (11) slots: slot i holds argument i + 1 of the call; unused
//            slots are Empty
//   ArgCount the number of arguments written in the call (0 for a bare name)
//   Value    on entry the name's own text; the handler stores the name's value here
//   Done     false on entry; true stops further resolution (the user functions)
using TOnEvaluate =
    std::function<void(TQelParser& Sender, const std::string& Eval, const Variant* Args,
                       int ArgCount, Variant& Value, bool& Done)>;

// Counts the calculations in progress on this thread: one more than kMaxCalculationNesting
// raises "Calculate error: calculations nested deeper than 64 levels."-style
// EExpressionError (a name resolution that evaluates again without end).
class TCalculationGuard {
  public:
    TCalculationGuard();
    ~TCalculationGuard();
    TCalculationGuard(const TCalculationGuard&) = delete;
    TCalculationGuard& operator=(const TCalculationGuard&) = delete;
};

// An expression with its resolution of names. The tree of Text is built on the first
// evaluation and reused while Text and the regional decimal separator stay the same; a text
// that fails to parse fails the same way on every evaluation. Every evaluation asks the
// handler again for every name, in the same order as a fresh parse would.
class TQelParser : public TComponent, private TExpNameResolver {
  public:
    explicit TQelParser(TComponent* owner = nullptr);
    ~TQelParser() override;
    const char* ClassName() const override { return "TQelParser"; }
    void Assign(const TPersistent& source) override;  // the three published properties

    // false (the default): the handler is asked first and can override user functions by
    // setting Done; true: user functions first, the handler only for other names.
    bool ProcessBeforeEvent() const { return processBeforeEvent_; }
    void SetProcessBeforeEvent(bool v) { processBeforeEvent_ = v; }
    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    const TOnEvaluate& OnEvaluate() const { return onEvaluate_; }
    void SetOnEvaluate(TOnEvaluate handler) { onEvaluate_ = std::move(handler); }

    // The result of the last successful Calculate.
    const Variant& Value() const { return value_; }

    // Parses (or reuses the parse of) Text and evaluates it into Value. On an error Value keeps
    // its previous content and the error propagates.
    void Calculate();
    // Calculate, then copies Value into v.
    void GetValue(Variant& v);
    // The name Text consists of when it is one plain name (no call, no operator, not a
    // built-in function): evaluating it is asking OnEvaluate for that name with no arguments
    // and the name as the value. nullptr for any other text, or one that does not parse. The
    // pointer is valid while Text and the decimal separator stay the same.
    const std::string* PlainName();
    // Name resolution for the trees owned by this parser (see TOnEvaluate).
    void ResolveName(const std::string& eval, const Variant* args, int argCount, Variant& value);

  private:
    struct Compiled;
    void ResolveNodeName(const TExpNode& sender, const std::string& eval, const Variant* args,
                         int argCount, Variant& value) override;
    std::shared_ptr<const Compiled> Compile();

    bool processBeforeEvent_ = false;
    std::string text_;
    TOnEvaluate onEvaluate_;
    Variant value_;
    std::shared_ptr<const Compiled> compiled_;
};

// A user-defined function `name(params)=body`.
class TQelParserFunction : private TExpNameResolver {
  public:
    explicit TQelParserFunction(TQelParser* owner = nullptr);
    ~TQelParserFunction() override;
    TQelParserFunction(const TQelParserFunction&) = delete;
    TQelParserFunction& operator=(const TQelParserFunction&) = delete;

    // Reads a definition. Without "=" the function keeps an empty name and body. Raises
    // EExpressionError "Function "%s" is not valid." (no name), "Function header "%s" is not
    // valid." (a bracket out of place, no ")") and "Function parse error: delimitor ","
    // expected between arguments.".
    void SetDefinition(const std::string& text);
    const std::string& Definition() const { return definition_; }
    const std::string& Name() const { return name_; }
    const std::string& Body() const { return body_; }
    TQelParser* Owner() const { return owner_; }
    int ParamCount() const { return static_cast<int>(params_.size()); }
    const std::vector<std::string>& Params() const { return params_; }
    const TArgSlots& ArgValues() const { return argValues_; }

    // Copies the kMaxArgs slots at args.
    void SetArgs(const Variant* args);
    // Evaluates Body with the current arguments. An empty body gives Null.
    virtual void Calculate(Variant& value);
    // A parameter name gives its argument (a parameter past the 11th, which no call can pass,
    // gives Empty); other names go to Owner, or keep their text when there is none.
    void ResolveName(const TExpNode& sender, const std::string& eval, const Variant* args,
                     int argCount, Variant& value);

  private:
    void ResolveNodeName(const TExpNode& sender, const std::string& eval, const Variant* args,
                         int argCount, Variant& value) override;

    TQelParser* owner_;
    std::string definition_, name_, body_;
    std::vector<std::string> params_;
    TArgSlots argValues_;
    // The parse of Body, reused while Body and the decimal separator stay the same.
    std::unique_ptr<TExpTree> tree_;
    std::exception_ptr treeError_;
    bool treeReady_ = false;
    char treeSeparator_ = 0;
};

// The list of user-defined functions; owns its entries.
class TQelParserFunctions {
  public:
    TQelParserFunctions() = default;
    ~TQelParserFunctions();
    TQelParserFunctions(const TQelParserFunctions&) = delete;
    TQelParserFunctions& operator=(const TQelParserFunctions&) = delete;

    // Creates a function without owner from the definition and appends it; returns its index.
    // A definition error propagates and nothing is appended.
    int AddFunction(const std::string& definition);
    void DeleteFunction(int index);                   // "List index out of bounds (%d)"
    TQelParserFunction* FunctionAt(int index) const;  // nullptr outside the list
    // The first function whose name equals `name` ignoring letter case, or nullptr.
    TQelParserFunction* FindFunction(const std::string& name) const;
    int Count() const { return static_cast<int>(items_.size()); }

  private:
    std::vector<std::unique_ptr<TQelParserFunction>> items_;
};

// The process-wide list every TQelParser consults. Created on first use with "SQR(x)=x*x",
// "SQRT(x)=x^(1/2)" and "PI=3.14"; freed at shutdown.
TQelParserFunctions& ParserFunctions();

}  // namespace qel
