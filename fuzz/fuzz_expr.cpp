// The expression language end to end: tokenizing, building the tree and evaluating it, with a
// host that resolves names, optionally a user-defined function, and a second evaluation of the
// kept tree that must give the same outcome as the first.
// Input: flags, then (with flag 2) a function definition line, then the expression text.
#include <cctype>
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "expr/QelPars.h"

namespace {

// Names starting with I, R, D, N, B resolve to an integer, a real, a date, null and a Boolean;
// the others keep their text. Calls pass their first argument through.
void Resolve(qel::TQelParser&, const std::string& name, const qel::Variant* args, int argCount,
             qel::Variant& value, bool&) {
    if (argCount > 0) {
        value = args[0];
        return;
    }
    switch (name.empty() ? 0 : name[0]) {
        case 'I':
            value = qel::Variant(std::int32_t(static_cast<std::int32_t>(name.size()) - 3));
            break;
        case 'R':
            value = qel::Variant(static_cast<double>(name.size()) / 3.0);
            break;
        case 'D':
            value = qel::Variant::FromDateTime(45000.25);
            break;
        case 'N':
            value = qel::Variant::Null();
            break;
        case 'B':
            value = qel::Variant(name.size() % 2 == 0);
            break;
        default:
            break;
    }
}

struct Outcome {
    bool failed = false;
    std::string text;  // the error message or the value's text
};

Outcome Evaluate(qel::TQelParser& parser) {
    Outcome out;
    try {
        qel::Variant v;
        parser.GetValue(v);
        try {
            out.text = qel::VarToStr(v);
        } catch (const qel::Exception& e) {
            out.text = std::string("unprintable: ") + e.what();
        }
    } catch (const qel::Exception& e) {
        out.failed = true;
        out.text = e.what();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qel::fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    qel::FormatSettings settings = qel::DefaultFormatSettings();
    settings.DecimalSeparator = (flags & 4) ? ',' : '.';
    qel::ScopedFormatSettings regional(settings);

    int added = -1;
    if (flags & 2) {
        try {
            added = qel::ParserFunctions().AddFunction(std::string(in.Until('\n')));
        } catch (const qel::Exception&) {
        }
    }

    qel::TQelParser parser;
    parser.SetProcessBeforeEvent(flags & 1);
    parser.SetOnEvaluate(Resolve);
    parser.SetText(std::string(in.Rest()));
    Outcome first = Evaluate(parser);
    // The kept tree gives the same result as the first evaluation, unless the result depends on
    // the clock or the random generator.
    Outcome second = Evaluate(parser);
    // Names are matched without regard to case, and blanks inside a word are dropped.
    std::string t;
    for (char c : parser.Text()) {
        if (static_cast<unsigned char>(c) > 32)
            t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const bool volatileText =
        t.find("RANDOM") != std::string::npos || t.find("GETDATE") != std::string::npos;
    if (!volatileText) {
        QEL_FUZZ_CHECK(first.failed == second.failed);
        QEL_FUZZ_CHECK(first.text == second.text);
    }

    if (added >= 0) qel::ParserFunctions().DeleteFunction(added);
    return 0;
}
