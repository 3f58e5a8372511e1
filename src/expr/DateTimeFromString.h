// Reading a date-time out of text by a layout of the letters D, M, Y, H, N, S
// ("25/Dec/2003:10:15:42" with "DD/MMM/YYYY:HH:NN:SS").
#pragma once

#include <string_view>

#include "core/DateTime.h"

namespace qel {

// Lines the text up with the layout character by character, collects the characters under
// each letter (upper case only) and reads the parts as numbers; month parts of three or more
// characters are English or regional month names. Two-digit years land in the window from 50
// years before to 49 years after the current year; the regional PM designator adds 12 hours to
// an hour below 12. The blank, "/", ":", dateSep and timeSep separate fields.
// Returns 0 when nothing is recognised. Raises EConvertError "'%s' is not a valid integer
// value" for a part that is no number, "Invalid argument to date encode" for a day beyond its
// month and "Invalid argument to time encode" for the hour 24.
TDateTime DateTimeFromString(std::string_view text, std::string_view layout, char dateSep,
                             char timeSep);

// The year the two-digit window is built around: CurrentYear(), unless a ScopedCurrentYear is
// active.
int DateTimeWindowYear();

// Fixes the year of the two-digit window while it lives (tests; runs that must not depend on
// the clock). Scopes nest.
class ScopedCurrentYear {
  public:
    explicit ScopedCurrentYear(int year);
    ~ScopedCurrentYear();
    ScopedCurrentYear(const ScopedCurrentYear&) = delete;
    ScopedCurrentYear& operator=(const ScopedCurrentYear&) = delete;

  private:
    int saved_;
};

}  // namespace qel
