// Value evaluation: EvaluateValue computes a mapped value or a load condition from its source
// text, and ResolveSourceName answers the names the text refers to (source references,
// LOOKUP), trimmed, with empty text as null and converted for the destination field.
#include <memory>
#include <utility>

#include "core/TextUtil.h"
#include "engine/QelBase.h"
#include "engine/QelMIME.h"

namespace qel {

// What the value evaluation keeps for the length of a row loop.
struct TQelEvalState {
    Variant conditions[2];  // LoadWhen and SkipIf as values
};

void TQelEvalStateDeleter::operator()(TQelEvalState* p) const { std::default_delete<TQelEvalState>()(p); }

namespace {

bool ReadsAsEmptyText(const Variant& v) {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull: return true;
        case Variant::vkText: return v.TextValue().empty();
        case Variant::vkInteger:
        case Variant::vkReal: return false;
        default: return VarToStr(v).empty();
    }
}

const TQelArgs& NoArgs() {
    static const TQelArgs none{};
    return none;
}

}  // namespace

void TQelBaseComponent::BeginEvaluation() { eval_.reset(std::make_unique<TQelEvalState>().release()); }

void TQelBaseComponent::EndEvaluation() { eval_.reset(); }

void TQelBaseComponent::BeginRowEvaluation() {}

const Variant& TQelBaseComponent::ConditionText(int slot, const std::string& text) {
    if (!eval_) BeginEvaluation();
    Variant& v = eval_->conditions[slot];
    if (!v.IsText() || v.TextValue() != text) v = Variant(text);
    return v;
}

void TQelBaseComponent::EvaluateValue(const Variant& expr, int /*fieldIndex*/, Variant& result) {
    const std::string text = VarToStr(expr);
    bool done = false;
    // Until the expression language is wired in, the whole text is one source name.
    result = Variant(text);
    ResolveSourceName(text, NoArgs(), 0, result, done);
}

void TQelBaseComponent::ResolveSourceName(const std::string& /*Eval*/, const TQelArgs& Args, int ArgCount,
                                          Variant& Value, bool& Done) {
    Done = ArgCount == 0;

    // [Name] and "Name" stand for Name.
    if (Value.IsText() && !Value.TextValue().empty()) {
        const std::string& t = Value.TextValue();
        if ((t.front() == '[' && t.back() == ']') || (t.front() == '"' && t.back() == '"')) {
            Value = Variant(t.size() >= 2 ? t.substr(1, t.size() - 2) : std::string());
        }
    }

    Variant source;
    GetSourceValue(Value, source);
    Value = std::move(source);

    if (Value.IsText()) {
        switch (trimSpaces_) {
            case tsNoTrim: break;
            case tsTrimRight: Value = Variant(TrimRight(Value.TextValue())); break;
            case tsTrimLeft: Value = Variant(TrimLeft(Value.TextValue())); break;
            case tsTrimLeftRight: Value = Variant(Trim(Value.TextValue())); break;
        }
    }
    if (ReadsAsEmptyText(Value)) {
        Value = Variant::Null();
        return;
    }

    if (ArgCount == 4 && SameText(VarToStr(Value), "LOOKUP")) {
        // The dataset is named by a component name, or "Form.Component".
        const std::string reference = VarToStr(Args[0]);
        const TComponent* container = nullptr;
        std::string name = reference;
        const std::size_t dot = reference.find('.');
        if (dot != std::string::npos) {
            container = Application().FindComponent(reference.substr(0, dot));
            name = reference.substr(dot + 1);
        } else {
            container = Owner();
        }
        TComponent* found = container ? container->FindComponent(name) : FindComponent(name);
        if (found == nullptr) return;
        auto* lookup = dynamic_cast<TDataSet*>(found);
        if (lookup == nullptr) throw EInvalidCast(msg::kInvalidCast);
        if (lookup->Locate(VarToStr(Args[1]), Args[2], 0)) Value = lookup->FieldValues(VarToStr(Args[3]));
        return;
    }
    if (ArgCount == 3 && SameText(VarToStr(Value), "SUBSTITUTE")) return;
    if (currentFieldIndex_ < 0) return;

    // Conversion for the destination field: nothing in it reports an error.
    try {
        TDataSet& ds = Destination();
        TField& field = *ds.Fields(currentFieldIndex_);
        if (DecodesValues() && Value.IsText()) {
            const std::string& t = Value.TextValue();
            if (StartsWith(t, "[CDATA[")) {
                Value = Variant(Base64Decode(std::string_view(t).substr(7, t.size() - 8)));
            } else if (field.IsBlob()) {
                Value = Variant(Base64Decode(t));
            }
        }
    } catch (...) {
    }
}

}  // namespace qel
