// Data formats: the date and time patterns, the regional refresh and copying.
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "engine/QelDataFormats.h"

namespace qel {
namespace {

struct PatternCase {
    TQelDateOrder order;
    char dateSep;
    char timeSep;
    bool fourDigitYear;
    const char* custom;
    const char* datePattern;
    const char* timePattern;
};

class DataFormatsPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(DataFormatsPattern, BuildsPatternsFromTheFormats) {
    const PatternCase& c = GetParam();
    TQelDataFormats f;
    f.SetDateOrder(c.order);
    f.SetDateSeparator(c.dateSep);
    f.SetTimeSeparator(c.timeSep);
    f.SetFourDigitYear(c.fourDigitYear);
    f.SetCustomDateTimeFormat(c.custom);
    EXPECT_EQ(f.DatePattern(), c.datePattern);
    EXPECT_EQ(f.TimePattern(), c.timePattern);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, DataFormatsPattern,
    ::testing::Values(
        PatternCase{doMDY, '/', ':', true, "", "MM/DD/YYYY HH:NN:SS", "HH:NN:SS"},
        PatternCase{doDMY, '/', ':', true, "", "DD/MM/YYYY HH:NN:SS", "HH:NN:SS"},
        PatternCase{doYMD, '-', ':', false, "", "YY-MM-DD HH:NN:SS", "HH:NN:SS"},
        PatternCase{doYDM, '.', '.', false, "", "YY.DD.MM HH.NN.SS", "HH.NN.SS"},
        PatternCase{doDYM, '/', ':', true, "", "DD/YYYY/MM HH:NN:SS", "HH:NN:SS"},
        PatternCase{doMYD, '/', ':', false, "", "MM/YY/DD HH:NN:SS", "HH:NN:SS"},
        // Character 0 is no separator at all.
        PatternCase{doYMD, '\0', '\0', true, "", "YYYYMMDD HHNNSS", "HHNNSS"},
        // A custom format replaces the whole date pattern (upper-cased) but not the time one.
        PatternCase{doMDY, '/', ':', true, "dd.mm.yyyy", "DD.MM.YYYY", "HH:NN:SS"},
        PatternCase{doYMD, '-', '.', false, "dd/Mmm/yyyy:hh:nn:ss", "DD/MMM/YYYY:HH:NN:SS",
                    "HH.NN.SS"}));

struct RegionalCase {
    const char* shortDateFormat;
    bool fourDigitYear;
    bool leadingZeros;
};

class DataFormatsRegional : public ::testing::TestWithParam<RegionalCase> {};

TEST_P(DataFormatsRegional, RefreshTakesTheRegionalSettings) {
    const RegionalCase& c = GetParam();
    FormatSettings fs = FormatSettings::English();
    fs.ShortDateFormat = c.shortDateFormat;
    fs.DateSeparator = '.';
    fs.TimeSeparator = '-';
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = ' ';
    fs.CurrencyString = "EUR";
    ScopedFormatSettings scoped(fs);

    TQelDataFormats f;
    f.SetDateOrder(doYDM);
    f.SetCustomDateTimeFormat("yyyy");
    f.SetFourDigitYear(!c.fourDigitYear);
    f.SetLeadingZerosInDate(!c.leadingZeros);
    f.SetBooleanTrue("Ja");
    f.SetBooleanFalse("Nein");
    f.SetUseRegionalSettings(true);
    f.RefreshFromRegionalSettings();

    EXPECT_EQ(f.DateOrder(), doMDY);
    EXPECT_EQ(f.DateSeparator(), '.');
    EXPECT_EQ(f.TimeSeparator(), '-');
    EXPECT_EQ(f.DecimalSeparator(), ',');
    EXPECT_EQ(f.ThousandSeparator(), ' ');
    EXPECT_EQ(f.CurrencyString(), "EUR");
    EXPECT_EQ(f.FourDigitYear(), c.fourDigitYear);
    EXPECT_EQ(f.LeadingZerosInDate(), c.leadingZeros);
    EXPECT_EQ(f.CustomDateTimeFormat(), "");
    EXPECT_EQ(f.BooleanTrue(), "Ja");
    EXPECT_EQ(f.BooleanFalse(), "Nein");
    EXPECT_TRUE(f.UseRegionalSettings());
}

INSTANTIATE_TEST_SUITE_P(ShortDateFormats, DataFormatsRegional,
                         ::testing::Values(RegionalCase{"dd/mm/yyyy", true, true},
                                           RegionalCase{"M/d/yy", false, false},
                                           RegionalCase{"d.M.yyyy", true, false},
                                           // Letter case counts.
                                           RegionalCase{"DD.MM.YYYY", false, false}));

TEST(DataFormats, CreationStartsFromTheRegionalSettings) {
    FormatSettings fs = FormatSettings::English();
    fs.DateSeparator = '-';
    fs.DecimalSeparator = ',';
    ScopedFormatSettings scoped(fs);
    TQelDataFormats f;
    EXPECT_EQ(f.DateSeparator(), '-');
    EXPECT_EQ(f.DecimalSeparator(), ',');
}

TEST(DataFormats, AssignCopiesAllTwelveProperties) {
    TQelDataFormats a;
    a.SetDateOrder(doDYM);
    a.SetDateSeparator('#');
    a.SetTimeSeparator('%');
    a.SetFourDigitYear(false);
    a.SetLeadingZerosInDate(true);
    a.SetCustomDateTimeFormat("yy/mm/dd");
    a.SetThousandSeparator('\'');
    a.SetDecimalSeparator('|');
    a.SetCurrencyString("CHF");
    a.SetBooleanTrue("oui");
    a.SetBooleanFalse("non");
    a.SetUseRegionalSettings(true);

    TQelDataFormats b;
    const auto before = b.Version();
    b.Assign(a);
    EXPECT_NE(b.Version(), before);
    EXPECT_EQ(b.DateOrder(), doDYM);
    EXPECT_EQ(b.DateSeparator(), '#');
    EXPECT_EQ(b.TimeSeparator(), '%');
    EXPECT_FALSE(b.FourDigitYear());
    EXPECT_TRUE(b.LeadingZerosInDate());
    EXPECT_EQ(b.CustomDateTimeFormat(), "yy/mm/dd");
    EXPECT_EQ(b.ThousandSeparator(), '\'');
    EXPECT_EQ(b.DecimalSeparator(), '|');
    EXPECT_EQ(b.CurrencyString(), "CHF");
    EXPECT_EQ(b.BooleanTrue(), "oui");
    EXPECT_EQ(b.BooleanFalse(), "non");
    EXPECT_TRUE(b.UseRegionalSettings());
}

TEST(DataFormats, AssignFromAnotherClassFails) {
    TQelDataFormats f;
    TComponent other;
    try {
        f.Assign(other);
        FAIL() << "Assign from a TComponent succeeded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComponent to a TQelDataFormats");
    }
}

}  // namespace
}  // namespace qel
