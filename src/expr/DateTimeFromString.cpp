#include "DateTimeFromString.h"

#include <array>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "core/TextUtil.h"

namespace qel {

namespace {

int g_fixedYear = 0;  // 0: read the clock

constexpr std::array<std::string_view, 12> kShortMonths{"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr std::array<std::string_view, 12> kLongMonths{
    "JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
    "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

struct Separators {
    char extra1, extra2;
    bool operator()(char c) const {
        return c == ' ' || c == '/' || c == ':' || c == extra1 || c == extra2;
    }
};

// Deletes, walking from the last index of `probe` down to the first, the character of `target`
// at the same index when probe's character is a separator and target's is not. Deleting at i
// moves only the characters after i, which the walk has passed, so the character seen at each
// index is the original one and one pass over the text is enough.
std::string AlignPass(const std::string& probe, const std::string& target, const Separators& sep) {
    std::vector<bool> drop(target.size(), false);
    std::size_t len = target.size();
    for (std::size_t k = probe.size(); k-- > 0;) {
        if (sep(probe[k]) && k < len && !sep(target[k])) {
            drop[k] = true;
            --len;
        }
    }
    std::string out;
    out.reserve(len);
    for (std::size_t k = 0; k < target.size(); ++k) {
        if (!drop[k]) out.push_back(target[k]);
    }
    return out;
}

int MonthFromName(const std::string& m) {
    const std::string up = UpperCase(m);
    const FormatSettings& fs = DefaultFormatSettings();
    for (std::size_t i = 0; i < 12; ++i) {
        if (up == kShortMonths[i] || up == kLongMonths[i] ||
            up == UpperCase(fs.ShortMonthNames[i]) || up == UpperCase(fs.LongMonthNames[i])) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

}  // namespace

int DateTimeWindowYear() {
    return g_fixedYear != 0 ? g_fixedYear : CurrentYear();
}

ScopedCurrentYear::ScopedCurrentYear(int year) : saved_(g_fixedYear) {
    g_fixedYear = year;
}
ScopedCurrentYear::~ScopedCurrentYear() {
    g_fixedYear = saved_;
}

TDateTime DateTimeFromString(std::string_view textIn, std::string_view layoutIn, char dateSep,
                             char timeSep) {
    const Separators sep{dateSep, timeSep};
    TDateTime result = 0;
    std::string text(textIn);
    std::string layout = AlignPass(text, std::string(layoutIn), sep);
    text = AlignPass(layout, text, sep);

    std::string d, m, y, h, n, s;
    const std::size_t count = std::min(text.size(), layout.size());
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[i];
        if (sep(c)) continue;
        switch (layout[i]) {
            case 'D':
                d.push_back(c);
                break;
            case 'M':
                m.push_back(c);
                break;
            case 'Y':
                y.push_back(c);
                break;
            case 'H':
                h.push_back(c);
                break;
            case 'N':
                n.push_back(c);
                break;
            case 'S':
                s.push_back(c);
                break;
            default:
                break;
        }
    }

    if (!d.empty() && !m.empty() && !y.empty()) {
        const int day = StrToInt(d);
        const int month = m.size() <= 2 ? StrToInt(m) : MonthFromName(m);
        int year = StrToInt(y);
        // A year written with one or two digits goes through the window, "00" included (the
        // year 2000 of a 2026 window), rather than being dropped as the year 0.
        const bool shortYear = y.size() <= 2 && year >= 0;
        if (day >= 1 && day <= 31 && month >= 1 && month <= 12 && (year >= 1 || shortYear)) {
            if (year < 100) {
                const int pivot = DateTimeWindowYear() - 50;
                year += pivot / 100 * 100;
                if (year < pivot) year += 100;
            }
            result = EncodeDate(year, month, day);
        }
    }

    if (!h.empty() && !n.empty()) {
        int hour = StrToInt(h);
        const int minute = StrToInt(n);
        const int second = s.empty() ? 0 : StrToInt(s);
        const std::string& pm = DefaultFormatSettings().TimePMString;
        if (hour < 12 && ContainsText(text, pm.empty() ? std::string_view("PM") : pm)) hour += 12;
        if (hour >= 0 && hour <= 24 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59) {
            result += EncodeTime(hour, minute, second, 0);
        }
    }
    return result;
}

}  // namespace qel
