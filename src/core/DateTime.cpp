#include "DateTime.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>

#include "Errors.h"
#include "TextUtil.h"

namespace qel {

bool IsInDateRange(TDateTime dt) {
    return std::isfinite(dt) && dt > -693594.0 && dt < 2958466.0;
}

namespace {
using namespace std::chrono;
constexpr sys_days kEpoch = sys_days{year{1899} / December / 30};
constexpr double kMsPerDay = 86400000.0;

// The largest day count a date-time may have to be taken apart (about the year 29000, within
// the calendar's range); beyond it, and for infinities and NaN, there is no date.
constexpr double kMaxDays = 1e7;

// Splits a date-time into whole days and milliseconds of the day (negative dates keep their
// time of day as a positive fraction, as the value's sign applies to the day count only).
// Raises EInvalidOp for a value that is no date (out of range, infinite, NaN).
void Split(TDateTime dt, long long& days, long long& ms) {
    if (!(std::fabs(dt) <= kMaxDays)) throw EInvalidOp(msg::kInvalidOp);
    double whole = std::trunc(dt);
    double frac = std::fabs(dt - whole);
    days = static_cast<long long>(whole);
    ms = std::llround(frac * kMsPerDay);
    if (ms >= 86400000LL) {
        ms -= 86400000LL;
        days += dt < 0 ? -1 : 1;
    }
}
}  // namespace

bool IsLeapYear(int y) {
    return (y % 4 == 0) && (y % 100 != 0 || y % 400 == 0);
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
    sys_days sd{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}};
    out = static_cast<double>((sd - kEpoch).count());
    return true;
}

TDateTime EncodeDate(int y, int m, int d) {
    TDateTime r;
    if (!TryEncodeDate(y, m, d, r)) throw EConvertError(msg::kDateEncodeError);
    return r;
}

bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out) {
    if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
    out = (h * 3600000.0 + n * 60000.0 + s * 1000.0 + ms) / kMsPerDay;
    return true;
}

TDateTime EncodeTime(int h, int n, int s, int ms) {
    TDateTime r;
    if (!TryEncodeTime(h, n, s, ms, r)) throw EConvertError(msg::kTimeEncodeError);
    return r;
}

DateParts DecodeDate(TDateTime dt) {
    long long days, ms;
    Split(dt, days, ms);
    year_month_day ymd{kEpoch + std::chrono::days{days}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

TimeParts DecodeTime(TDateTime dt) {
    long long days, ms;
    Split(dt, days, ms);
    TimeParts t;
    t.Hour = static_cast<int>(ms / 3600000);
    t.Minute = static_cast<int>(ms / 60000 % 60);
    t.Second = static_cast<int>(ms / 1000 % 60);
    t.MSec = static_cast<int>(ms % 1000);
    return t;
}

TDateTime Now() {
    auto now = system_clock::now();
    std::time_t tt = system_clock::to_time_t(now);
    std::tm lt{};
    localtime_r(&tt, &lt);
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
           EncodeTime(lt.tm_hour, lt.tm_min, std::min(lt.tm_sec, 59), static_cast<int>(ms));
}

int CurrentYear() {
    return DecodeDate(Now()).Year;
}

std::uint64_t TickCountMs() {
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::int64_t MillisecondsSince(std::uint64_t startTick) {
    return static_cast<std::int64_t>(TickCountMs() - startTick);
}

std::string FormatDateTime(const std::string& f, TDateTime dt, const FormatSettings& fs) {
    DateParts d = DecodeDate(dt);
    TimeParts t = DecodeTime(dt);
    static const char* kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
    // Day of the week: 30 December 1899 was a Saturday.
    long long days, ms;
    Split(dt, days, ms);
    int dow = static_cast<int>(((days % 7) + 7 + 6) % 7);
    bool hasAmPm = ContainsText(UpperCase(f), "AMPM") || ContainsText(UpperCase(f), "AM/PM");
    std::string out;
    auto two = [](int v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02d", v);
        return std::string(buf);
    };
    bool lastWasHour = false;
    for (std::size_t i = 0; i < f.size();) {
        char c = f[i];
        char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t run = 1;
        while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == lc &&
               run < 4) {
            ++run;
        }
        if (c == '"' || c == '\'') {
            std::size_t end = f.find(c, i + 1);
            if (end == std::string::npos) end = f.size();
            out += f.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        switch (lc) {
            case 'y':
                out += run >= 3 ? std::to_string(d.Year) : two(d.Year % 100);
                if (run == 3) run = 3;
                break;
            case 'm':
                if (lastWasHour && run <= 2) {
                    out += run == 2 ? two(t.Minute) : std::to_string(t.Minute);
                } else if (run == 1) {
                    out += std::to_string(d.Month);
                } else if (run == 2) {
                    out += two(d.Month);
                } else if (run == 3) {
                    out += fs.ShortMonthNames[d.Month - 1];
                } else {
                    out += fs.LongMonthNames[d.Month - 1];
                }
                break;
            case 'd':
                if (run == 1)
                    out += std::to_string(d.Day);
                else if (run == 2)
                    out += two(d.Day);
                else if (run == 3)
                    out += kShortDays[dow];
                else
                    out += kLongDays[dow];
                break;
            case 'h': {
                int h = t.Hour;
                if (hasAmPm) h = h % 12 == 0 ? 12 : h % 12;
                out += run >= 2 ? two(h) : std::to_string(h);
                if (run > 2) run = 2;
                break;
            }
            case 'n':
                out += run >= 2 ? two(t.Minute) : std::to_string(t.Minute);
                if (run > 2) run = 2;
                break;
            case 's':
                out += run >= 2 ? two(t.Second) : std::to_string(t.Second);
                if (run > 2) run = 2;
                break;
            case 'z': {
                std::string z = std::to_string(t.MSec);
                out += run >= 3 ? std::string(3 - z.size(), '0') + z : z;
                break;
            }
            case 'a':
                if (UpperCase(f.substr(i, 4)) == "AMPM") {
                    out += t.Hour < 12 ? fs.TimeAMString : fs.TimePMString;
                    run = 4;
                } else if (UpperCase(f.substr(i, 5)) == "AM/PM") {
                    out += t.Hour < 12 ? "AM" : "PM";
                    run = 5;
                } else {
                    out += c;
                    run = 1;
                }
                break;
            case '/':
                out.append(run, fs.DateSeparator);
                break;
            case ':':
                out.append(run, fs.TimeSeparator);
                break;
            default:
                out.append(f, i, run);
                break;
        }
        if (lc == 'h')
            lastWasHour = true;
        else if (lc != ':' && lc != ' ')
            lastWasHour = false;
        i += run;
    }
    return out;
}

std::string DateToStr(TDateTime dt, const FormatSettings& fs) {
    return FormatDateTime(fs.ShortDateFormat, dt, fs);
}

std::string DateTimeToStr(TDateTime dt, const FormatSettings& fs) {
    std::string s = DateToStr(dt, fs);
    if (dt != std::trunc(dt)) {
        s.push_back(' ');
        s.append(FormatDateTime(fs.LongTimeFormat, dt, fs));
    }
    return s;
}

bool TryStrToDate(const std::string& text, TDateTime& out, const FormatSettings& fs) {
    // Part order from the short date format: the first of d, m, y met in the format.
    std::string order;
    for (char c : UpperCase(fs.ShortDateFormat)) {
        if ((c == 'D' || c == 'M' || c == 'Y') && order.find(c) == std::string::npos) order += c;
    }
    if (order.size() != 3) order = "MDY";
    std::string s = Trim(text);
    int parts[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    std::size_t i = 0;
    int count = 0;
    while (count < 3) {
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        long long v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            v = v * 10 + (s[i] - '0');
            if (v > 99999) return false;
            ++i;
            ++digits[count];
        }
        parts[count++] = static_cast<int>(v);
        if (count < 3) {
            if (i >= s.size() || s[i] != fs.DateSeparator) {
                // Two parts only: the year is the current one.
                if (count == 2 && i >= s.size()) break;
                return false;
            }
            ++i;
        }
    }
    int y = 0, m = 0, d = 0;
    if (count == 2) {
        std::string o2;
        for (char c : order)
            if (c != 'Y') o2 += c;
        for (int k = 0; k < 2; ++k) (o2[k] == 'M' ? m : d) = parts[k];
        y = CurrentYear();
    } else {
        for (int k = 0; k < 3; ++k) {
            if (order[k] == 'Y') {
                y = parts[k];
                if (digits[k] <= 2) {
                    int pivot = CurrentYear() - 50;
                    y += (pivot / 100) * 100;
                    if (y < pivot) y += 100;
                }
            } else if (order[k] == 'M') {
                m = parts[k];
            } else {
                d = parts[k];
            }
        }
    }
    TDateTime date;
    if (!TryEncodeDate(y, m, d, date)) return false;
    // An optional time of day after a blank: h:n[:s].
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size()) {
        int tp[3] = {0, 0, 0};
        int tc = 0;
        while (tc < 3 && i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            int v = 0;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && v < 1000) {
                v = v * 10 + (s[i++] - '0');
            }
            tp[tc++] = v;
            if (i < s.size() && s[i] == fs.TimeSeparator)
                ++i;
            else
                break;
        }
        while (i < s.size() && s[i] == ' ') ++i;
        std::string rest = UpperCase(s.substr(i));
        if (tc < 2) return false;
        if (!rest.empty()) {
            if (rest == UpperCase(fs.TimePMString) || rest == "PM") {
                if (tp[0] < 12) tp[0] += 12;
            } else if (rest == UpperCase(fs.TimeAMString) || rest == "AM") {
                if (tp[0] == 12) tp[0] = 0;
            } else {
                return false;
            }
        }
        TDateTime time;
        if (!TryEncodeTime(tp[0], tp[1], tp[2], 0, time)) return false;
        date += time;
    }
    out = date;
    return true;
}

TDateTime StrToDate(const std::string& s, const FormatSettings& fs) {
    TDateTime r;
    if (!TryStrToDate(s, r, fs)) throw EConvertError(Format(msg::kInvalidDate, s));
    return r;
}

std::string DateTimeToIso(TDateTime dt, bool withDate, bool withTime) {
    DateParts d = DecodeDate(dt);
    TimeParts t = DecodeTime(dt);
    char buf[64];
    std::string out;
    if (withDate) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
        out = buf;
    }
    if (withTime) {
        if (!out.empty()) out += ' ';
        if (t.MSec != 0) {
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.Hour, t.Minute, t.Second,
                          t.MSec);
        } else {
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
        }
        out += buf;
    }
    return out;
}

bool TryIsoToDateTime(const std::string& text, TDateTime& out) {
    std::string s = Trim(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, ms = 0;
    std::size_t pos = 0;
    auto num = [&](int width, int& v) {
        if (pos + width > s.size()) return false;
        v = 0;
        for (int k = 0; k < width; ++k) {
            char c = s[pos + k];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        pos += width;
        return true;
    };
    auto lit = [&](char c) {
        if (pos < s.size() && s[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    };
    TDateTime result = 0;
    bool any = false;
    if (s.size() >= 10 && s[4] == '-') {
        if (!num(4, y) || !lit('-') || !num(2, mo) || !lit('-') || !num(2, d)) return false;
        if (!TryEncodeDate(y, mo, d, result)) return false;
        any = true;
        if (pos < s.size() && !lit(' ') && !lit('T')) return false;
    }
    if (pos < s.size()) {
        if (!num(2, h) || !lit(':') || !num(2, mi)) return false;
        if (lit(':') && !num(2, se)) return false;
        if (lit('.')) {
            std::size_t start = pos;
            int frac = 0, digits = 0;
            while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
                if (digits < 3) {
                    frac = frac * 10 + (s[pos] - '0');
                    ++digits;
                }
                ++pos;
            }
            if (pos == start) return false;
            while (digits < 3) {
                frac *= 10;
                ++digits;
            }
            ms = frac;
        }
        if (pos != s.size()) return false;
        TDateTime t;
        if (!TryEncodeTime(h, mi, se, ms, t)) return false;
        result += result < 0 ? -t : t;
        any = true;
    }
    if (!any) return false;
    out = result;
    return true;
}

}  // namespace qel
