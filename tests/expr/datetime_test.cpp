#include <gtest/gtest.h>

#include "ExprTestUtil.h"
#include "core/FormatSettings.h"

namespace qel {
namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return EncodeDate(y, m, d) + EncodeTime(h, n, s, 0);
}

struct Case {
    const char* text;
    const char* layout;
    TDateTime want;
    char dateSep = '/';
    char timeSep = ':';
};

void ExpectCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        try {
            EXPECT_DOUBLE_EQ(DateTimeFromString(c.text, c.layout, c.dateSep, c.timeSep), c.want)
                << c.text << " / " << c.layout;
        } catch (const Exception& e) {
            ADD_FAILURE() << c.text << " / " << c.layout << " raised " << e.Message();
        }
    }
}

TEST(DateTimeFromString, WorkedExamples) {
    ScopedCurrentYear year(2026);
    ScopedFormatSettings fs(FormatSettings::English());
    ExpectCases({
        {"25/Dec/2003:10:15:42", "DD/MMM/YYYY:HH:NN:SS", At(2003, 12, 25, 10, 15, 42)},
        {"1/2/2003", "MM/DD/YYYY", At(2003, 1, 2)},
        {"12/31/99 11:05 PM", "MM/DD/YY HH:NN", At(1999, 12, 31, 23, 5)},
        {"20031225", "YYYYMMDD", At(2003, 12, 25)},
        {"7/4/76", "M/D/YY", At(1976, 7, 4)},
        {"7/4/75", "M/D/YY", At(2075, 7, 4)},
        {"12:30 PM", "HH:NN", EncodeTime(12, 30, 0, 0)},
        {"25/12/03", "dd/mm/yy", 0},
        {"5 March 2004", "D MMM YYYY", At(2020, 3, 5)},
    });
}

TEST(DateTimeFromString, MonthNamesHoursAndSeparators) {
    ScopedCurrentYear year(2026);
    FormatSettings regional = FormatSettings::English();
    regional.ShortMonthNames[2] = "Mrz";
    regional.LongMonthNames[9] = "Oktober";
    regional.TimePMString = "nachm";
    ScopedFormatSettings fs(regional);
    ExpectCases({
        {"dec 1 2003", "MMM D YYYY", At(2003, 12, 1)},
        {"Dec 1 2003", "MMM D YYYY", At(2003, 12, 1)},
        {"DECEMBER 1 2003", "MMMMMMMM D YYYY", At(2003, 12, 1)},
        {"mrz 1 2003", "MMM D YYYY", At(2003, 3, 1)},
        {"Oktober 1 2003", "MMMMMMM D YYYY", At(2003, 10, 1)},
        {"Sept 1 2003", "MMMM D YYYY", 0},  // no such name: no date
        {"11:00 nachm", "HH:NN", EncodeTime(23, 0, 0, 0)},
        {"12:00 nachm", "HH:NN", EncodeTime(12, 0, 0, 0)},
        {"13:00 nachm", "HH:NN", EncodeTime(13, 0, 0, 0)},
        {"11:00 PM", "HH:NN", EncodeTime(11, 0, 0, 0)},  // the regional designator only
        {"10:15", "HH:NN", EncodeTime(10, 15, 0, 0)},
        {"10:15", "HH", 0},  // a time needs hours and minutes
        {"2003-12-25", "YYYY-MM-DD", At(2003, 12, 25), '-', ':'},
        {"2003-1-5", "YYYY-MM-DD", At(2003, 1, 5), '-', ':'},
        {"2003-1-5", "YYYY-MM-DD", 0},  // "-" separates only when passed in
        {"10.15.30", "HH.NN.SS", EncodeTime(10, 15, 30, 0), '/', '.'},
        {"", "DD/MM/YYYY", 0},
        {"25/12/2003", "", 0},
        {"0/12/2003", "DD/MM/YYYY", 0},  // out of range: no date, no error
        {"25/13/2003", "DD/MM/YYYY", 0},
        {"10:60", "HH:NN", 0},
        {"25/12/2003 10:60", "DD/MM/YYYY HH:NN", At(2003, 12, 25)},
        {"25/12/0 10:15", "DD/MM/Y HH:NN",
         At(2000, 12, 25) + EncodeTime(10, 15, 0, 0)},  // a one-digit year is windowed
    });

    // Without a regional designator the text "PM" counts.
    regional.TimePMString = "";
    ScopedFormatSettings noPm(regional);
    ExpectCases({{"11:00 PM", "HH:NN", EncodeTime(23, 0, 0, 0)},
                 {"11:00 pm", "HH:NN", EncodeTime(11, 0, 0, 0)}});
}

TEST(DateTimeFromString, TwoDigitYearWindow) {
    struct WindowCase {
        int current;
        const char* yy;
        int want;
    } cases[] = {
        {2026, "76", 1976}, {2026, "75", 2075}, {2026, "01", 2001}, {2026, "99", 1999},
        {2050, "01", 2001}, {2050, "99", 2099}, {2049, "99", 1999}, {1990, "40", 1940},
        {1990, "39", 2039}, {1990, "41", 1941}, {2026, "100", 100}, {2026, "00", 2000},
        {2060, "00", 2100}, {2026, "000", 0},  // "00" is a two-digit year
    };
    for (const auto& c : cases) {
        ScopedCurrentYear year(c.current);
        std::string text = std::string("1/1/") + c.yy;
        EXPECT_DOUBLE_EQ(DateTimeFromString(text, "M/D/YYY", '/', ':'),
                         c.want ? At(c.want, 1, 1) : 0)
            << c.current << " " << c.yy;
    }
}

TEST(DateTimeFromString, Errors) {
    ScopedFormatSettings fs(FormatSettings::English());
    struct ErrorCase {
        const char* text;
        const char* layout;
        const char* want;
    } cases[] = {
        {"Ja/1/2003", "MM/D/YYYY", "'Ja' is not a valid integer value"},
        {"ab/12/2003", "DD/MM/YYYY", "'ab' is not a valid integer value"},
        {"31/04/2003", "DD/MM/YYYY", "Invalid argument to date encode"},
        {"29/02/2003", "DD/MM/YYYY", "Invalid argument to date encode"},
        {"12:00", "HH:NN", nullptr},
        {"24:00", "HH:NN", "Invalid argument to time encode"},
        {"12:00 PM", "HH:NN", nullptr},
        {"1/1/10000", "D/M/YYYYY", "Invalid argument to date encode"},
    };
    for (const auto& c : cases) {
        std::string got = "no error";
        try {
            (void)DateTimeFromString(c.text, c.layout, '/', ':');
        } catch (const EConvertError& e) {
            got = e.Message();
        }
        EXPECT_EQ(got, c.want ? c.want : "no error") << c.text;
    }
    EXPECT_DOUBLE_EQ(DateTimeFromString("29/02/2004", "DD/MM/YYYY", '/', ':'), At(2004, 2, 29));
}

TEST(DateTimeFromString, LongTextsStayLinear) {
    // Every character a separator against a letter: both alignment passes delete on every step.
    std::string text(200000, '/');
    std::string layout(200000, 'D');
    EXPECT_DOUBLE_EQ(DateTimeFromString(text, layout, '-', ':'), 0);
    EXPECT_DOUBLE_EQ(DateTimeFromString(layout, text, '-', ':'), 0);
}

}  // namespace
}  // namespace qel
