// Date-time values: a double counting days since 30 December 1899; the fraction is the time of
// day. Calendar arithmetic goes through <chrono>.
#pragma once

#include <cstdint>
#include <string>

#include "FormatSettings.h"

namespace qel {

using TDateTime = double;

struct DateParts {
    int Year = 0, Month = 0, Day = 0;
};
struct TimeParts {
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Raise EConvertError "Invalid argument to date encode" / "... time encode" when out of range.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);

// Whether a value is a date of the calendar kept here: 1 January 1, 00:00 to 31 December 9999,
// 23:59:59.999. (A negative value's fraction is the time of its day, so the values above -693594
// down to -693593 are all 1 January 1.)
bool IsInDateRange(TDateTime dt);

// Raise EInvalidOp "Invalid floating point operation" for a value that is no date: infinite,
// NaN, or more than 10,000,000 days from the epoch (so do the formatting functions below).
DateParts DecodeDate(TDateTime dt);
TimeParts DecodeTime(TDateTime dt);

TDateTime Now();    // current local date and time
int CurrentYear();  // current local year
// The one millisecond clock of the system: monotonic, unaffected by changes of the wall clock.
std::uint64_t TickCountMs();
// Milliseconds from a TickCountMs() reading until now.
std::int64_t MillisecondsSince(std::uint64_t startTick);

// Formats with the letter codes of the regional formats: yyyy yy m mm mmm mmmm d dd ddd dddd
// h hh n nn s ss z zzz am/pm ampm, "/" and ":" as the regional separators, quoted literals.
std::string FormatDateTime(const std::string& format, TDateTime dt,
                           const FormatSettings& fs = DefaultFormatSettings());
// Short date, then the long time when the value has a time of day.
std::string DateTimeToStr(TDateTime dt, const FormatSettings& fs = DefaultFormatSettings());
std::string DateToStr(TDateTime dt, const FormatSettings& fs = DefaultFormatSettings());
// Reads a date in the short date form's part order (with the date separator); an optional time
// may follow. Raises EConvertError "'%s' is not a valid date".
TDateTime StrToDate(const std::string& s, const FormatSettings& fs = DefaultFormatSettings());
bool TryStrToDate(const std::string& s, TDateTime& out,
                  const FormatSettings& fs = DefaultFormatSettings());
// ISO-8601 text ("2003-12-25", "10:15:42", "2003-12-25 10:15:42[.123]") and back, for storage.
std::string DateTimeToIso(TDateTime dt, bool withDate, bool withTime);
bool TryIsoToDateTime(const std::string& s, TDateTime& out);

}  // namespace qel
