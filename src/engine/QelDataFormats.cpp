#include "engine/QelDataFormats.h"

#include "core/FormatSettings.h"
#include "core/TextUtil.h"

namespace qel {

TQelDataFormats::TQelDataFormats() {
    RefreshFromRegionalSettings();
}

void TQelDataFormats::Assign(const TPersistent& source) {
    const auto* src = dynamic_cast<const TQelDataFormats*>(&source);
    if (src == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (src == this) return;
    dateOrder_ = src->dateOrder_;
    dateSeparator_ = src->dateSeparator_;
    timeSeparator_ = src->timeSeparator_;
    fourDigitYear_ = src->fourDigitYear_;
    leadingZerosInDate_ = src->leadingZerosInDate_;
    customDateTimeFormat_ = src->customDateTimeFormat_;
    thousandSeparator_ = src->thousandSeparator_;
    decimalSeparator_ = src->decimalSeparator_;
    currencyString_ = src->currencyString_;
    booleanTrue_ = src->booleanTrue_;
    booleanFalse_ = src->booleanFalse_;
    useRegionalSettings_ = src->useRegionalSettings_;
    ++version_;
}

void TQelDataFormats::RefreshFromRegionalSettings() {
    const FormatSettings& fs = DefaultFormatSettings();
    dateOrder_ = doMDY;  // the regional part order is deliberately not followed
    dateSeparator_ = fs.DateSeparator;
    timeSeparator_ = fs.TimeSeparator;
    decimalSeparator_ = fs.DecimalSeparator;
    thousandSeparator_ = fs.ThousandSeparator;
    currencyString_ = fs.CurrencyString;
    fourDigitYear_ = ContainsText(fs.ShortDateFormat, "yyyy");
    leadingZerosInDate_ = ContainsText(fs.ShortDateFormat, "dd");
    customDateTimeFormat_.clear();
    ++version_;
}

namespace {

void AppendSeparator(std::string& out, char sep) {
    if (sep != '\0') out += sep;  // character 0 stands for "no separator"
}

}  // namespace

std::string TQelDataFormats::TimePattern() const {
    std::string out = "HH";
    AppendSeparator(out, timeSeparator_);
    out += "NN";
    AppendSeparator(out, timeSeparator_);
    out += "SS";
    return out;
}

std::string TQelDataFormats::DatePattern() const {
    if (!customDateTimeFormat_.empty()) return UpperCase(customDateTimeFormat_);
    const char* year = fourDigitYear_ ? "YYYY" : "YY";
    const char* parts[3];
    switch (dateOrder_) {
        case doDMY:
            parts[0] = "DD";
            parts[1] = "MM";
            parts[2] = year;
            break;
        case doYMD:
            parts[0] = year;
            parts[1] = "MM";
            parts[2] = "DD";
            break;
        case doYDM:
            parts[0] = year;
            parts[1] = "DD";
            parts[2] = "MM";
            break;
        case doDYM:
            parts[0] = "DD";
            parts[1] = year;
            parts[2] = "MM";
            break;
        case doMYD:
            parts[0] = "MM";
            parts[1] = year;
            parts[2] = "DD";
            break;
        case doMDY:
        default:
            parts[0] = "MM";
            parts[1] = "DD";
            parts[2] = year;
            break;
    }
    std::string out = parts[0];
    AppendSeparator(out, dateSeparator_);
    out += parts[1];
    AppendSeparator(out, dateSeparator_);
    out += parts[2];
    out += ' ';
    out += TimePattern();
    return out;
}

}  // namespace qel
