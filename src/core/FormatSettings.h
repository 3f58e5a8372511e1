// The regional settings: one process-wide record, read from the C library's locale at first use
// with an English fallback. Tests set it explicitly.
#pragma once

#include <array>
#include <string>

namespace qel {

struct FormatSettings {
    std::string ShortDateFormat = "M/d/yyyy";  // letters y, m (M), d, as in "dd/mm/yyyy"
    std::string LongTimeFormat = "h:nn:ss AMPM";
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    std::string CurrencyString = "$";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";

    // The English settings used when the C library's locale is "C"/"POSIX" or unreadable.
    static FormatSettings English() { return FormatSettings{}; }
    // The settings of the C library's current LC_ALL locale (after setlocale(LC_ALL, "")).
    static FormatSettings FromCLocale();
};

// The process-wide settings. The float conversion of the import engine changes DecimalSeparator
// for the length of one conversion; nothing else writes it during a run.
FormatSettings& DefaultFormatSettings();

// Restores the previous process-wide settings when it goes out of scope (tests, conversions).
class ScopedFormatSettings {
  public:
    explicit ScopedFormatSettings(const FormatSettings& s) : saved_(DefaultFormatSettings()) {
        DefaultFormatSettings() = s;
    }
    ~ScopedFormatSettings() { DefaultFormatSettings() = saved_; }
    ScopedFormatSettings(const ScopedFormatSettings&) = delete;
    ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;

  private:
    FormatSettings saved_;
};

}  // namespace qel
