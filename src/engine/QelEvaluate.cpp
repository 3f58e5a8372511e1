// Value evaluation: EvaluateValue computes a mapped value or a load condition from its source
// text with the expression language, and ResolveSourceName answers the names the text refers
// to (source references, LOOKUP), trimmed, with empty text as null and converted for the
// destination field.
#include <array>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/TextUtil.h"
#include "engine/QelAhead.h"
#include "engine/QelBase.h"
#include "engine/QelConvert.h"
#include "engine/QelEvalState.h"
#include "engine/QelMIME.h"
#include "expr/QelPars.h"

namespace qel {

void TQelEvalStateDeleter::operator()(TQelEvalState* p) const {
    std::default_delete<TQelEvalState>()(p);
}

namespace {

const Variant* NoArgs() {
    static const std::array<Variant, 11> none{};
    return none.data();
}

// [Name] and "Name" stand for Name.
bool IsEnclosedName(std::string_view t) {
    return !t.empty() &&
           ((t.front() == '[' && t.back() == ']') || (t.front() == '"' && t.back() == '"'));
}

std::string_view NameInside(std::string_view t) {
    if (!IsEnclosedName(t)) return t;
    return t.size() >= 2 ? t.substr(1, t.size() - 2) : std::string_view();
}

std::unique_ptr<TQelParser> MakeParser(TQelBaseComponent& host, const std::string& text) {
    auto parser = std::make_unique<TQelParser>();
    parser->SetOnEvaluate([&host](TQelParser&, const std::string& eval, const Variant* args,
                                  int argCount, Variant& value, bool& done) {
        host.ResolveSourceName(eval, args, argCount, value, done);
    });
    parser->SetText(text);
    return parser;
}

}  // namespace

void TQelBaseComponent::BeginEvaluation() {
    DropAhead();
    aheadPosition_ = -1;
    aheadTried_ = false;
    aheadRows_ = 0;
    eval_.reset(std::make_unique<TQelEvalState>().release());
}

void TQelBaseComponent::EndEvaluation() {
    StopAhead();  // the source may still take the records the helper read
    eval_.reset();
}

void TQelBaseComponent::BeginRowEvaluation() {
    if (eval_) eval_->cursor = 0;
}

const Variant& TQelBaseComponent::ConditionText(int slot, const std::string& text) {
    Variant& v = conditionTexts_[static_cast<std::size_t>(slot)];
    if (!v.IsText() || v.TextValue() != text) v = Variant(text);
    return v;
}

void TQelBaseComponent::BindSlot(TQelEvalSlot& slot, char separator) {
    slot.plainName = slot.parser->PlainName();
    slot.separator = separator;
    slot.binding = slot.plainName ? BindSourceName(std::string(NameInside(*slot.plainName))) : -1;
}

void TQelBaseComponent::EvaluateValue(const Variant& expr, int /*fieldIndex*/, Variant& result) {
    std::string converted;
    const std::string& text = expr.IsText() ? expr.TextValue() : (converted = VarToStr(expr));

    // A whole reference of the source is one name, never an expression.
    if (IsWholeReference(text)) {
        bool done = false;
        result = Variant(text);
        ResolveSourceName(text, NoArgs(), 0, result, done);
        return;
    }

    if (!eval_) {
        // Outside a run: a parser for this evaluation only.
        MakeParser(*this, text)->GetValue(result);
        return;
    }
    TQelEvalState& st = *eval_;
    if (st.cursor < st.slots.size()) {
        TQelEvalSlot& slot = st.slots[st.cursor];
        if (slot.parser != nullptr && *slot.text == text) {
            ++st.cursor;
            const char separator = DefaultFormatSettings().DecimalSeparator;
            if (slot.separator != separator) {
                // A new separator is a new parse, which may read the text differently.
                BindSlot(slot, separator);
            }
            if (slot.plainName != nullptr) {
                // What the tree of a plain name does: the name's text as the value, handed to
                // the name resolution with no arguments (which always settles it).
                TCalculationGuard guard;
                if (slot.binding >= 0) {
                    GetBoundSourceValue(slot.binding, result);
                    FinishSourceValue(NoArgs(), 0, result);
                    return;
                }
                result.AssignText(*slot.plainName);
                bool done = false;
                ResolveSourceName(*slot.plainName, NoArgs(), 0, result, done);
                return;
            }
            slot.parser->GetValue(result);
            return;
        }
    }
    auto it = st.parsers.find(text);
    if (it == st.parsers.end()) {
        if (st.parsers.size() >= TQelEvalState::kMaxParsers) {
            MakeParser(*this, text)->GetValue(result);
            return;
        }
        it = st.parsers.emplace(text, MakeParser(*this, text)).first;
    }
    if (st.cursor >= st.slots.size()) st.slots.resize(st.cursor + 1);
    TQelEvalSlot& slot = st.slots[st.cursor];
    slot = {&it->first, it->second.get()};
    BindSlot(slot, DefaultFormatSettings().DecimalSeparator);
    ++st.cursor;
    it->second->GetValue(result);
}

void TQelBaseComponent::ResolveSourceName(const std::string& /*Eval*/, const Variant* Args,
                                          int ArgCount, Variant& Value, bool& Done) {
    Done = ArgCount == 0;

    if (Value.IsText() && IsEnclosedName(Value.TextValue()))
        Value = Variant(NameInside(Value.TextValue()));

    if (eval_) {
        // A reused value per nesting level: its buffer takes the next row's text without
        // allocating, and trades places with Value's.
        TQelEvalState& st = *eval_;
        if (st.sourceDepth == st.sourceValues.size()) st.sourceValues.emplace_back();
        Variant& source = st.sourceValues[st.sourceDepth];
        source.Clear();
        ++st.sourceDepth;
        struct Leave {
            std::size_t& depth;
            ~Leave() { --depth; }
        } leave{st.sourceDepth};
        GetSourceValue(Value, source);
        std::swap(Value, source);
    } else {
        Variant source;
        GetSourceValue(Value, source);
        Value = std::move(source);
    }

    FinishSourceValue(Args, ArgCount, Value);
}

void TQelBaseComponent::FinishSourceValue(const Variant* Args, int ArgCount, Variant& Value) {
    if (Value.IsText() && trimSpaces_ != tsNoTrim) TrimSourceText(Value.MutableText(), trimSpaces_);
    if (IsEmptyText(Value)) {
        Value = Variant::Null();
        return;
    }

    if (ArgCount == 4 && SameText(VarToStr(Value), "LOOKUP")) {
        // The dataset is named by a component name, or "Form.Component" for a component on
        // another form of the application.
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
        if (lookup->Locate(VarToStr(Args[1]), Args[2], 0))
            Value = lookup->FieldValues(VarToStr(Args[3]));
        return;
    }
    if (ArgCount == 3 && SameText(VarToStr(Value), "SUBSTITUTE")) return;
    if (currentFieldIndex_ < 0) return;

    // Conversion for the destination field: nothing in it reports an error.
    try {
        TField& field = *Destination().Fields(currentFieldIndex_);
        if (DecodesValues() && Value.IsText()) {
            const std::string& t = Value.TextValue();
            if (StartsWith(t, "[CDATA[")) {
                Value = Variant(Base64Decode(std::string_view(t).substr(7, t.size() - 8)));
            } else if (field.IsBlob()) {
                Value = Variant(Base64Decode(t));
            }
        }
        if (eval_) {
            eval_->conversions.For(currentFieldIndex_, field, *dataFormats_).Apply(Value);
        } else {
            ConvertFieldValue(field.DataType(), field.FieldName(), *dataFormats_, Value);
        }
    } catch (...) {
    }
}

}  // namespace qel
