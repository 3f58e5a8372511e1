#include "FormatSettings.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace qel {

namespace {

// Converts a strftime date format ("%m/%d/%Y") into the letter form ("mm/dd/yyyy") and picks the
// date separator from it.
void ReadDateFormat(FormatSettings& fs) {
    const char* f = nl_langinfo(D_FMT);
    if (f == nullptr || *f == '\0') return;
    std::string out;
    char sep = 0;
    for (const char* p = f; *p; ++p) {
        if (*p == '%' && p[1]) {
            ++p;
            switch (*p) {
                case 'd':
                    out += "dd";
                    break;
                case 'e':
                    out += "d";
                    break;
                case 'm':
                    out += "mm";
                    break;
                case 'Y':
                    out += "yyyy";
                    break;
                case 'y':
                    out += "yy";
                    break;
                case 'D':
                    out += "mm/dd/yy";
                    sep = '/';
                    break;
                case 'F':
                    out += "yyyy-mm-dd";
                    sep = '-';
                    break;
                default:
                    return;  // a format we do not understand: keep the English one
            }
        } else {
            out += *p;
            if (sep == 0) sep = *p;
        }
    }
    if (out.empty() || sep == 0) return;
    fs.ShortDateFormat = out;
    fs.DateSeparator = sep;
}

}  // namespace

FormatSettings FormatSettings::FromCLocale() {
    FormatSettings fs = English();
    const char* name = std::setlocale(LC_ALL, nullptr);
    if (name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) {
        return fs;
    }
    if (const lconv* lc = std::localeconv()) {
        if (lc->decimal_point && std::strlen(lc->decimal_point) == 1) {
            fs.DecimalSeparator = lc->decimal_point[0];
        }
        if (lc->thousands_sep && std::strlen(lc->thousands_sep) == 1) {
            fs.ThousandSeparator = lc->thousands_sep[0];
        }
        if (lc->currency_symbol && *lc->currency_symbol) fs.CurrencyString = lc->currency_symbol;
    }
    ReadDateFormat(fs);
    static const nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                       ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static const nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                     MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    for (int i = 0; i < 12; ++i) {
        if (const char* s = nl_langinfo(kAbMon[i]); s && *s) fs.ShortMonthNames[i] = s;
        if (const char* s = nl_langinfo(kMon[i]); s && *s) fs.LongMonthNames[i] = s;
    }
    if (const char* s = nl_langinfo(T_FMT); s && std::strlen(s) >= 5 && s[2] != '%') {
        fs.TimeSeparator = s[2];
    }
    if (const char* s = nl_langinfo(AM_STR)) fs.TimeAMString = s;
    if (const char* s = nl_langinfo(PM_STR)) fs.TimePMString = s;
    return fs;
}

FormatSettings& DefaultFormatSettings() {
    static FormatSettings settings = [] {
        // Read the user's locale without leaving it installed: number formatting of the C
        // library must stay "C" so that the program's own conversions are predictable.
        std::string previous =
            std::setlocale(LC_ALL, nullptr) ? std::setlocale(LC_ALL, nullptr) : "C";
        FormatSettings fs = FormatSettings::English();
        if (std::setlocale(LC_ALL, "") != nullptr) fs = FormatSettings::FromCLocale();
        std::setlocale(LC_ALL, previous.c_str());
        return fs;
    }();
    return settings;
}

}  // namespace qel
