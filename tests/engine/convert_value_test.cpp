// Conversion of source text to the type of its destination field.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/FormatSettings.h"
#include "engine/QelConvert.h"

namespace qel {
namespace {

Variant Text(const char* s) {
    return Variant(std::string(s));
}
Variant Int(std::int32_t i) {
    return Variant(i);
}
Variant Real(double d) {
    return Variant(d);
}
Variant Date(int y, int m, int d, int hh = 0, int nn = 0, int ss = 0) {
    return Variant::FromDateTime(EncodeDate(y, m, d) + EncodeTime(hh, nn, ss, 0));
}
Variant Time(int hh, int nn, int ss) {
    return Variant::FromDateTime(EncodeTime(hh, nn, ss, 0));
}

struct Case {
    Variant in;
    Variant out;
};

// Every case starts from the English regional settings ("." as the decimal separator) and the
// formats a component starts with.
class ConvertValue : public ::testing::Test {
  protected:
    ScopedFormatSettings english_{FormatSettings::English()};
    TQelDataFormats formats_;

    ConvertValue() {
        formats_.SetBooleanTrue("True");
        formats_.SetBooleanFalse("False");
    }

    Variant Convert(TFieldType type, const char* fieldName, Variant v) {
        ConvertFieldValue(type, fieldName, formats_, v);
        return v;
    }

    // Converts each case and checks that the process-wide separator is back where it was.
    void Check(TFieldType type, const char* fieldName, const std::vector<Case>& cases) {
        const char separator = DefaultFormatSettings().DecimalSeparator;
        for (const Case& c : cases) {
            EXPECT_EQ(Convert(type, fieldName, c.in), c.out)
                << FieldTypeName(type) << " from " << DebugString(c.in);
            EXPECT_EQ(DefaultFormatSettings().DecimalSeparator, separator)
                << "separator not put back";
        }
    }
};

TEST_F(ConvertValue, IntegerFamily) {
    const std::vector<Case> cases = {
        {Text("42"), Int(42)},
        {Text("0"), Int(0)},
        {Text("000000042"), Int(42)},
        {Text("999999999"), Int(999999999)},
        {Text("1234567890"), Int(1234567890)},
        {Text("  -7"), Int(-7)},
        {Text("+2147483647"), Int(2147483647)},
        {Text("-2147483648"), Int(-2147483647 - 1)},
        // Blank or the field's own name (a header line taken as data) reads as 0.
        {Text(""), Int(0)},
        {Text(" \t "), Int(0)},
        {Text("code"), Int(0)},
        {Text("CODE"), Int(0)},
        // Passes the numeric test but is no 32-bit integer: the text stays.
        {Text("4.5"), Text("4.5")},
        {Text("1e3"), Text("1e3")},
        {Text("2147483648"), Text("2147483648")},
        // Fails the numeric test: unchanged.
        {Text("abc"), Text("abc")},
        {Text("$10"), Text("$10")},
        {Text("42 "), Text("42 ")},
        {Text("-"), Text("-")},
        // Values that are not text are left alone.
        {Real(2.5), Real(2.5)},
        {Variant(true), Variant(true)},
    };
    for (TFieldType t : {ftSmallint, ftInteger, ftWord, ftAutoInc}) Check(t, "Code", cases);
}

TEST_F(ConvertValue, IntegerReadsWithTheProcessSeparator) {
    FormatSettings fs = FormatSettings::English();
    fs.DecimalSeparator = ',';
    ScopedFormatSettings comma(fs);
    EXPECT_EQ(Convert(ftInteger, "Code", Text("4,5")), Text("4,5"));
    EXPECT_EQ(Convert(ftInteger, "Code", Text("4.5")), Text("4.5"));
    EXPECT_EQ(Convert(ftInteger, "Code", Text("45")), Int(45));
}

TEST_F(ConvertValue, FloatWithCommaDecimalsDotThousandsAndCurrency) {
    formats_.SetDecimalSeparator(',');
    formats_.SetThousandSeparator('.');
    formats_.SetCurrencyString("$");
    const std::vector<Case> cases = {
        {Text("$1.234,50"), Real(1234.5)},
        {Text("1.234"), Real(1234.0)},
        {Text("-0,25"), Real(-0.25)},
        {Text("1,5E3"), Real(1500.0)},
        {Text("abc"), Text("abc")},
        {Text(""), Int(0)},
        {Text("SIZE"), Int(0)},
        // The field name is also recognised once the separators and currency are gone.
        {Text("$Size"), Int(0)},
        // Text that is not a number comes back cleaned.
        {Text("$$5"), Text("$5")},
        {Text("1.000 kg"), Text("1000 kg")},
        {Text("3,5 "), Text("3,5 ")},
        {Int(5), Int(5)},
    };
    for (TFieldType t : {ftFloat, ftCurrency, ftBCD}) Check(t, "Size", cases);
}

TEST_F(ConvertValue, FloatNumericTextThatTheSeparatorCannotRead) {
    formats_.SetDecimalSeparator(',');
    formats_.SetThousandSeparator('\0');  // no thousand separator: nothing removed
    formats_.SetCurrencyString("");
    Check(ftFloat, "Size",
          {
              // The numeric test reads "." but the reading with "," fails: the original text.
              {Text("3.5"), Text("3.5")},
              {Text("3,5"), Real(3.5)},
              {Text("1 000"), Text("1 000")},
          });
}

TEST_F(ConvertValue, FloatCurrencyWordAndDefaultSeparators) {
    formats_.SetDecimalSeparator('.');
    formats_.SetThousandSeparator(',');
    formats_.SetCurrencyString("EUR");
    Check(ftFloat, "Size",
          {
              {Text("EUR 1,000.25"), Real(1000.25)},
              {Text("1,5,0"), Real(150.0)},
              {Text("2.5EUR"), Real(2.5)},
              {Text("USD5"), Text("USD5")},
          });
}

TEST_F(ConvertValue, FloatReadingUsesTheFormatsSeparatorAndRestoresTheProcessOne) {
    FormatSettings fs = FormatSettings::English();
    fs.DecimalSeparator = ';';
    ScopedFormatSettings odd(fs);
    formats_.SetDecimalSeparator(',');
    formats_.SetThousandSeparator('\0');
    EXPECT_EQ(Convert(ftFloat, "Size", Text("2,5")), Real(2.5));
    EXPECT_EQ(Convert(ftFloat, "Size", Text("2;5")), Text("2;5"));
    EXPECT_EQ(DefaultFormatSettings().DecimalSeparator, ';');
}

TEST_F(ConvertValue, Booleans) {
    const std::vector<Case> cases = {
        {Text("True"), Variant(true)},
        {Text("1"), Variant(true)},
        {Text("T"), Variant(true)},
        {Text("Y"), Variant(true)},
        {Text("False"), Variant(false)},
        {Text("0"), Variant(false)},
        {Text("F"), Variant(false)},
        {Text("N"), Variant(false)},
        // Exact comparisons: letter case counts and nothing is trimmed.
        {Text("y"), Text("y")},
        {Text("yes"), Text("yes")},
        {Text("true"), Text("true")},
        {Text(" Y"), Text(" Y")},
        // Every value is read as text.
        {Int(1), Variant(true)},
        {Int(0), Variant(false)},
        {Int(2), Int(2)},
        {Variant(true), Variant(true)},
    };
    Check(ftBoolean, "Flag", cases);
}

TEST_F(ConvertValue, BooleanWordsOfTheFormatsAndTheirOrder) {
    formats_.SetBooleanTrue("yes");
    formats_.SetBooleanFalse("no");
    Check(ftBoolean, "Flag",
          {{Text("yes"), Variant(true)},
           {Text("no"), Variant(false)},
           {Text("True"), Text("True")},
           {Text("Y"), Variant(true)}});
    // The true words are tested first.
    formats_.SetBooleanTrue("0");
    Check(ftBoolean, "Flag", {{Text("0"), Variant(true)}});
}

TEST_F(ConvertValue, OtherTypesPassUnchanged) {
    for (TFieldType t : {ftUnknown, ftString, ftBytes, ftVarBytes, ftBlob, ftMemo, ftLargeint}) {
        Check(t, "Host",
              {{Text("42"), Text("42")}, {Text(""), Text("")}, {Text("host"), Text("host")}});
    }
}

TEST_F(ConvertValue, Dates) {
    formats_.SetDateOrder(doDMY);
    formats_.SetDateSeparator('/');
    formats_.SetTimeSeparator(':');
    formats_.SetFourDigitYear(true);
    const std::vector<Case> cases = {
        {Text("25/12/2003"), Date(2003, 12, 25)},
        {Text("25/12/2003 10:15:42"), Date(2003, 12, 25, 10, 15, 42)},
        {Text("  1/2/2003 "), Date(2003, 2, 1)},
        {Text(""), Int(0)},
        {Text("stamp"), Int(0)},
        // Recognition errors are swallowed: the text goes on.
        {Text("31/04/2003"), Text("31/04/2003")},
        {Text("xx/12/2003"), Text("xx/12/2003")},
        // Values an expression has already typed are not touched.
        {Date(2001, 1, 1), Date(2001, 1, 1)},
        {Real(3.25), Real(3.25)},
        {Int(7), Int(7)},
    };
    for (TFieldType t : {ftDate, ftDateTime}) Check(t, "Stamp", cases);
}

TEST_F(ConvertValue, DatesWithOtherOrdersAndSeparators) {
    formats_.SetDateOrder(doYMD);
    formats_.SetDateSeparator('-');
    formats_.SetTimeSeparator('.');
    formats_.SetFourDigitYear(true);
    Check(ftDateTime, "Stamp", {{Text("2003-12-25 10.15.42"), Date(2003, 12, 25, 10, 15, 42)}});
    formats_.SetCustomDateTimeFormat("dd.mm.yyyy");
    Check(ftDate, "Stamp", {{Text("24.12.2003"), Date(2003, 12, 24)}});
}

TEST_F(ConvertValue, TimesIgnoreTheCustomFormat) {
    formats_.SetCustomDateTimeFormat("yyyymmdd");
    formats_.SetTimeSeparator(':');
    Check(ftTime, "At",
          {{Text("10:15:42"), Time(10, 15, 42)},
           {Text("23:05"), Time(23, 5, 0)},
           {Text(" "), Int(0)},
           {Text("at"), Int(0)},
           {Text("25:00:00"), Variant::FromDateTime(0.0)}});
}

// A run converts through cached plans; a plan must follow every change that alters results.
TEST_F(ConvertValue, CachedPlansFollowTheFormatsAndTheField) {
    TField stamp(nullptr, TFieldDef{"Stamp", ftDate, 0, false}, 0);
    TField size(nullptr, TFieldDef{"Size", ftFloat, 0, false}, 1);
    formats_.SetDateOrder(doMDY);
    formats_.SetDateSeparator('/');
    formats_.SetFourDigitYear(true);
    formats_.SetDecimalSeparator('.');
    formats_.SetThousandSeparator(',');
    TQelConversionCache cache;

    auto convert = [&](int pos, const TField& f, const char* text) {
        Variant v = Text(text);
        cache.For(pos, f, formats_).Apply(v);
        return v;
    };
    EXPECT_EQ(convert(0, stamp, "12/25/2003"), Date(2003, 12, 25));
    EXPECT_EQ(convert(1, size, "1,000.5"), Real(1000.5));

    // A host handler may change the formats in the middle of a run.
    formats_.SetDateOrder(doDMY);
    formats_.SetDecimalSeparator(',');
    formats_.SetThousandSeparator('.');
    EXPECT_EQ(convert(0, stamp, "25/12/2003"), Date(2003, 12, 25));
    EXPECT_EQ(convert(1, size, "1.000,5"), Real(1000.5));

    // Another field at the same position (the destination was reopened with other fields).
    TField flag(nullptr, TFieldDef{"Flag", ftBoolean, 0, false}, 0);
    EXPECT_EQ(convert(0, flag, "Y"), Variant(true));
    TField code(nullptr, TFieldDef{"Code", ftInteger, 0, false}, 0);
    EXPECT_EQ(convert(0, code, "code"), Int(0));
    EXPECT_EQ(convert(0, code, "Flag"), Text("Flag"));

    // A field object made where an earlier one was, with another name and type.
    std::optional<TField> slot;
    slot.emplace(nullptr, TFieldDef{"Count", ftInteger, 0, false}, 2);
    const TField* first = &*slot;
    EXPECT_EQ(convert(2, *slot, "Count"), Int(0));
    slot.emplace(nullptr, TFieldDef{"Ratio", ftFloat, 0, false}, 2);
    ASSERT_EQ(&*slot, first);
    EXPECT_EQ(convert(2, *slot, "2,5"), Real(2.5));
    EXPECT_EQ(convert(2, *slot, "Ratio"), Int(0));
}

}  // namespace
}  // namespace qel
