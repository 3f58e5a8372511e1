// The data formats inside runs: the regional refresh at the start of a run, formats changed by
// the host while a run is going, and names left to user-defined functions.
#include <gtest/gtest.h>

#include "EngineTestKit.h"
#include "core/FormatSettings.h"
#include "expr/QelPars.h"

namespace qel::test {
namespace {

class ConvertInRun : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        table.AddField("F", ftFloat);
        table.AddField("D", ftDate);
        table.AddField("S", ftString, 40);
        table.Open();
        comp.SetDataSet(&table);
        comp.SetAnimatedStatus(false);
        comp.SetOptions(TQelOptions{});
    }
    // Runs the mapping lines over `rows`; returns the stored values of field `field`.
    std::vector<Variant> Run(const std::string& lines,
                             const std::vector<std::vector<std::string>>& rows, int field) {
        table.EmptyTable();
        comp.Mappings().SetText(lines);
        comp.records = rows;
        comp.Execute();
        EXPECT_EQ(comp.Statistic().Result(), irExecuted);
        std::vector<std::vector<Variant>> records;
        table.ReadRecords(0, table.RecordCount(), records);
        std::vector<Variant> out;
        for (const auto& r : records) out.push_back(r[static_cast<std::size_t>(field)]);
        return out;
    }

    ScopedFormatSettings english_{FormatSettings::English()};
    TMemTable table;
    TMemorySource comp;
};

FormatSettings GermanStyle() {
    FormatSettings fs = FormatSettings::English();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
    fs.DateSeparator = '.';
    fs.CurrencyString = "EUR";
    return fs;
}

TEST_F(ConvertInRun, RegionalSettingsAreReadAtTheStartOfEveryRunWhenAsked) {
    TQelDataFormats& f = comp.DataFormats();
    f.SetUseRegionalSettings(true);
    f.SetBooleanTrue("ja");
    f.SetDecimalSeparator('#');
    f.SetCustomDateTimeFormat("yyyy");
    {
        ScopedFormatSettings regional(GermanStyle());
        EXPECT_EQ(Run("F=Field1", {{"1.234,5EUR"}}, 0), (std::vector<Variant>{Variant(1234.5)}));
    }
    EXPECT_EQ(f.DecimalSeparator(), ',');
    EXPECT_EQ(f.ThousandSeparator(), '.');
    EXPECT_EQ(f.CurrencyString(), "EUR");
    EXPECT_EQ(f.CustomDateTimeFormat(), "");
    EXPECT_EQ(f.BooleanTrue(), "ja");

    // The next run reads the settings again.
    EXPECT_EQ(Run("F=Field1", {{"1,234.5"}}, 0), (std::vector<Variant>{Variant(1234.5)}));
    EXPECT_EQ(f.DecimalSeparator(), '.');
}

TEST_F(ConvertInRun, FormatsSetByTheHostStayWithoutRegionalSettings) {
    TQelDataFormats& f = comp.DataFormats();
    f.SetUseRegionalSettings(false);
    f.SetDecimalSeparator(',');
    f.SetThousandSeparator(' ');
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Run("F=Field1", {{"1 234,5"}}, 0), (std::vector<Variant>{Variant(1234.5)}));
        EXPECT_EQ(f.DecimalSeparator(), ',');
    }
    EXPECT_EQ(DefaultFormatSettings().DecimalSeparator, '.');
}

TEST_F(ConvertInRun, FormatsChangedDuringARunApplyFromTheNextRowOn) {
    TQelDataFormats& f = comp.DataFormats();
    f.SetUseRegionalSettings(false);
    f.SetDateOrder(doMDY);
    f.SetDateSeparator('/');
    f.SetFourDigitYear(true);
    f.SetDecimalSeparator('.');
    f.SetThousandSeparator(',');
    comp.OnAfterRecordEvent = [&f](TQelBaseComponent&, bool&) {
        f.SetDateOrder(doDMY);
        f.SetDecimalSeparator(',');
        f.SetThousandSeparator('.');
    };
    const auto floats =
        Run("F=Field1\nD=Field2", {{"1,002.5", "12/25/2003"}, {"1.002,5", "25/12/2003"}}, 0);
    EXPECT_EQ(floats, (std::vector<Variant>{Variant(1002.5), Variant(1002.5)}));
    const auto dates = Run("F=Field1\nD=Field2", {{"1", "25/12/2003"}}, 1);
    ASSERT_EQ(dates.size(), 1u);
    EXPECT_EQ(dates[0].AsReal(), EncodeDate(2003, 12, 25));
}

TEST_F(ConvertInRun, SubstituteAndLookupNamesOnlyWithTheirArgumentCounts) {
    EXPECT_EQ(Run("S=SUBSTITUTE(Field1, 'a', 'o')", {{"banana"}}, 2),
              (std::vector<Variant>{Variant("SUBSTITUTE")}));
    // A column whose text is LOOKUP is a value, not a call.
    EXPECT_EQ(Run("S=Field1", {{"LOOKUP"}}, 2), (std::vector<Variant>{Variant("LOOKUP")}));

    // A user-defined function of that name computes the call from its resolved arguments.
    const int index = ParserFunctions().AddFunction("SUBSTITUTE(s, a, b)=s + a + b");
    const auto values = Run("S=SUBSTITUTE(Field1, Field2, Field3)", {{"ban", "an", "a"}}, 2);
    ParserFunctions().DeleteFunction(index);
    EXPECT_EQ(values, (std::vector<Variant>{Variant("banana")}));
}

}  // namespace
}  // namespace qel::test
