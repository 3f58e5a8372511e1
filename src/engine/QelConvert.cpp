#include "engine/QelConvert.h"

#include "core/FormatSettings.h"
#include "core/TextUtil.h"
#include "expr/DateTimeFromString.h"

namespace qel {

namespace {

// Sets the process-wide decimal separator for the life of the object and puts the previous one
// back however the scope is left.
class ScopedDecimalSeparator {
  public:
    explicit ScopedDecimalSeparator(char sep) : saved_(DefaultFormatSettings().DecimalSeparator) {
        DefaultFormatSettings().DecimalSeparator = sep;
    }
    ~ScopedDecimalSeparator() { DefaultFormatSettings().DecimalSeparator = saved_; }
    ScopedDecimalSeparator(const ScopedDecimalSeparator&) = delete;
    ScopedDecimalSeparator& operator=(const ScopedDecimalSeparator&) = delete;

  private:
    char saved_;
};

// Blank text, or the destination field's own name (a header line imported as data), reads as 0.
bool IsZeroText(const std::string& text, const std::string& fieldName) {
    return IsBlank(text) || SameText(text, fieldName);
}

// One to nine decimal digits and nothing else: the common integer text, which the general
// number test and parse would accept with this same value.
bool ShortDigits(const std::string& text, std::int32_t& out) {
    if (text.empty() || text.size() > 9) return false;
    std::int32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// The integer rule; `separator` is the process-wide decimal separator the number test reads.
void ConvertInteger(Variant& value, const std::string& fieldName, char separator) {
    if (!value.IsText()) return;
    const std::string& text = value.TextValue();
    std::int32_t i;
    if (IsZeroText(text, fieldName)) {
        value = Variant(std::int32_t{0});
    } else if (ShortDigits(text, i)) {
        value = Variant(i);
    } else if (IsNumberText(text, separator)) {
        if (TryStrToInt(text, i)) value = Variant(i);
    }
}

void ConvertBoolean(Variant& value, const std::string& trueText, const std::string& falseText) {
    const std::string text = value.IsText() ? value.TextValue() : value.AsText();
    if (text == trueText || text == "1" || text == "T" || text == "Y") {
        value = Variant(true);
    } else if (text == falseText || text == "0" || text == "F" || text == "N") {
        value = Variant(false);
    }
}

}  // namespace

TQelConversionKind ConversionKindOf(TFieldType type) {
    switch (type) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            return ckInteger;
        case ftFloat:
        case ftCurrency:
        case ftBCD:
            return ckFloat;
        case ftDate:
        case ftDateTime:
            return ckDate;
        case ftTime:
            return ckTime;
        case ftBoolean:
            return ckBoolean;
        default:
            return ckNone;
    }
}

TQelFieldConversion TQelFieldConversion::Make(TFieldType type, std::string fieldName,
                                              const TQelDataFormats& formats) {
    TQelFieldConversion c;
    c.Kind = ConversionKindOf(type);
    c.FieldName = std::move(fieldName);
    if (c.Kind == ckDate) c.Layout = formats.DatePattern();
    if (c.Kind == ckTime) c.Layout = formats.TimePattern();
    c.DateSeparator = formats.DateSeparator();
    c.TimeSeparator = formats.TimeSeparator();
    c.DecimalSeparator = formats.DecimalSeparator();
    c.ThousandSeparator = formats.ThousandSeparator();
    c.CurrencyString = formats.CurrencyString();
    c.BooleanTrue = formats.BooleanTrue();
    c.BooleanFalse = formats.BooleanFalse();
    return c;
}

Variant ConvertFloatText(const std::string& text, const std::string& fieldName,
                         char decimalSeparator, char thousandSeparator,
                         const std::string& currencyString) {
    ScopedDecimalSeparator scoped(decimalSeparator);
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (thousandSeparator == '\0' || c != thousandSeparator) clean += c;
    }
    if (!currencyString.empty()) {
        if (auto p = clean.find(currencyString); p != std::string::npos) {
            clean.erase(p, currencyString.size());
        }
    }
    if (SameText(clean, fieldName)) return Variant(std::int32_t{0});
    if (IsNumberText(clean)) {
        double d;
        if (TryStrToFloat(clean, d)) return Variant(d);
        return Variant(text);
    }
    return Variant(std::move(clean));
}

void TQelFieldConversion::Apply(Variant& value) const {
    try {
        switch (Kind) {
            case ckNone:
                return;
            case ckInteger:
                ConvertInteger(value, FieldName, DefaultFormatSettings().DecimalSeparator);
                return;
            case ckFloat: {
                if (!value.IsText()) return;
                const std::string& text = value.TextValue();
                if (IsZeroText(text, FieldName)) {
                    value = Variant(std::int32_t{0});
                } else {
                    value = ConvertFloatText(text, FieldName, DecimalSeparator, ThousandSeparator,
                                             CurrencyString);
                }
                return;
            }
            case ckDate:
            case ckTime: {
                if (!value.IsText()) return;
                const std::string& text = value.TextValue();
                if (IsZeroText(text, FieldName)) {
                    value = Variant(std::int32_t{0});
                } else {
                    value = Variant::FromDateTime(
                        DateTimeFromString(Trim(text), Layout, DateSeparator, TimeSeparator));
                }
                return;
            }
            case ckBoolean:
                ConvertBoolean(value, BooleanTrue, BooleanFalse);
                return;
        }
    } catch (const std::exception&) {
        // Not reported: the value goes on as it is and the field decides when it is written.
    }
}

void TQelFieldConversion::ApplyPure(Variant& value, char processSeparator) const {
    try {
        if (Kind == ckInteger) {
            ConvertInteger(value, FieldName, processSeparator);
        } else if (Kind == ckBoolean) {
            ConvertBoolean(value, BooleanTrue, BooleanFalse);
        }
    } catch (const std::exception&) {
        // As in Apply.
    }
}

void ConvertFieldValue(TFieldType type, const std::string& fieldName,
                       const TQelDataFormats& formats, Variant& value) {
    TQelFieldConversion::Make(type, fieldName, formats).Apply(value);
}

const TQelFieldConversion& TQelConversionCache::For(int position, const TField& field,
                                                    const TQelDataFormats& formats) {
    const auto index = static_cast<std::size_t>(position < 0 ? 0 : position);
    if (index >= entries_.size()) entries_.resize(index + 1);
    Entry& e = entries_[index];
    // A field's name and type never change; a field object made in place of another has a
    // serial of its own.
    if (e.field != field.Serial() || e.formats != &formats || e.version != formats.Version()) {
        e.plan = TQelFieldConversion::Make(field.DataType(), field.FieldName(), formats);
        e.field = field.Serial();
        e.formats = &formats;
        e.version = formats.Version();
    }
    return e.plan;
}

}  // namespace qel
