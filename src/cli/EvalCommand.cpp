#include "cli/EvalCommand.h"

#include <charconv>
#include <ostream>

#include "cli/ImportOptions.h"
#include "cli/RunReport.h"
#include "core/FormatSettings.h"
#include "expr/QelParser.h"

namespace qel::cli {

namespace {

std::string ValueText(const Variant& v) {
    switch (v.kind()) {
        case Variant::vkEmpty:
        case Variant::vkNull:
            return {};
        case Variant::vkInteger:
            return std::to_string(v.IntegerValue());
        case Variant::vkReal:
            return RealText(v.RealValue());
        case Variant::vkDateTime:
            return DateTimeToIso(v.RealValue(), true, true);
        case Variant::vkBoolean:
            return v.BooleanValue() ? "True" : "False";
        case Variant::vkText:
            return v.TextValue();
        case Variant::vkArray: {
            std::string out = "[";
            for (std::size_t i = 0; i < v.Count(); ++i) {
                if (i > 0) out += ", ";
                out += ValueText(v[i]);
            }
            return out + "]";
        }
    }
    return {};
}

}  // namespace

std::string RealText(double value) {
    // to_chars ignores the C locale, so the point is "." whatever the regional settings say.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    if (ec != std::errc()) return "NaN";
    return std::string(buf, end);
}

std::string EvalResultText(const Variant& value) {
    return std::string(value.KindName()) + "\t" + ValueText(value);
}

int RunEval(const EvalOptions& o, std::ostream& out, std::ostream& err) {
    try {
        if (!o.DecimalSeparator.empty()) {
            DefaultFormatSettings().DecimalSeparator =
                ParseCharacter("--decimal-separator", o.DecimalSeparator);
        }
        for (const std::string& definition : o.Defines) ParserFunctions().AddFunction(definition);
        TQelParser parser;
        parser.SetText(o.Expression);
        Variant value;
        parser.GetValue(value);
        out << EvalResultText(value) << '\n' << std::flush;
        return esExecuted;
    } catch (const EUsageError& e) {
        err << "qel: " << e.what() << '\n';
        return esUsage;
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return esFailed;
    }
}

}  // namespace qel::cli
