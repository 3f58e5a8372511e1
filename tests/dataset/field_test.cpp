// The field's conversion of a value to its type and the field's descriptive properties.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "dataset/MemTable.h"

namespace qel {
namespace {

struct ConvertCase {
    TFieldType type;
    Variant input;
    std::optional<Variant> expected;  // nullopt: "Invalid value for field"
};

void PrintTo(const ConvertCase& c, std::ostream* os) {
    *os << FieldTypeName(c.type) << " <- " << DebugString(c.input);
}

class FieldConvert : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(FieldConvert, ConvertsOrRefuses) {
    const ConvertCase& c = GetParam();
    FormatSettings fs = FormatSettings::English();
    fs.DecimalSeparator = ',';
    fs.ShortDateFormat = "dd/mm/yyyy";
    ScopedFormatSettings scoped(fs);
    TMemTable t;
    TField* f = t.AddField("Fld", c.type, 10);
    if (c.expected) {
        EXPECT_EQ(f->Convert(c.input), *c.expected);
    } else {
        try {
            f->Convert(c.input);
            ADD_FAILURE() << "accepted";
        } catch (const EDatabaseError& e) {
            EXPECT_STREQ(e.what(), "Invalid value for field 'Fld'");
        }
    }
}

const TDateTime kXmas = EncodeDate(2003, 12, 25);
const TDateTime kTea = EncodeTime(16, 30, 5, 0);
const std::nullopt_t kInvalid = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Integers, FieldConvert,
    ::testing::Values(ConvertCase{ftInteger, Variant(42), Variant(42)},
                      ConvertCase{ftInteger, Variant(" 42 "), Variant(42)},
                      ConvertCase{ftInteger, Variant("-"), kInvalid},
                      ConvertCase{ftInteger, Variant("4.5"), kInvalid},
                      ConvertCase{ftInteger, Variant("2147483648"), kInvalid},
                      ConvertCase{ftInteger, Variant(3.0), Variant(3)},
                      ConvertCase{ftInteger, Variant(3.5), kInvalid},
                      ConvertCase{ftInteger, Variant(true), Variant(-1)},
                      ConvertCase{ftInteger, Variant::FromDateTime(kXmas), kInvalid},
                      ConvertCase{ftInteger, Variant(""), Variant::Null()},
                      ConvertCase{ftInteger, Variant::Empty(), Variant::Null()},
                      ConvertCase{ftInteger, VarArrayOf({1}), kInvalid},
                      ConvertCase{ftSmallint, Variant(32767), Variant(32767)},
                      ConvertCase{ftSmallint, Variant(32768), kInvalid},
                      ConvertCase{ftWord, Variant(-1), kInvalid},
                      ConvertCase{ftWord, Variant("65535"), Variant(65535)},
                      ConvertCase{ftAutoInc, Variant("7"), Variant(7)},
                      ConvertCase{ftLargeint, Variant("6227020800"), Variant(6227020800.0)},
                      ConvertCase{ftLargeint, Variant("12"), Variant(12)}));

INSTANTIATE_TEST_SUITE_P(
    Floats, FieldConvert,
    ::testing::Values(ConvertCase{ftFloat, Variant("2,5"), Variant(2.5)},  // the regional separator
                      ConvertCase{ftFloat, Variant("2.5"), kInvalid},
                      ConvertCase{ftFloat, Variant(7), Variant(7.0)},
                      ConvertCase{ftCurrency, Variant(" -1,25 "), Variant(-1.25)},
                      ConvertCase{ftBCD, Variant("1E3"), Variant(1000.0)},
                      ConvertCase{ftFloat, Variant(std::nan("")), kInvalid},
                      ConvertCase{ftFloat, Variant(true), kInvalid},
                      ConvertCase{ftFloat, Variant("abc"), kInvalid}));

INSTANTIATE_TEST_SUITE_P(
    DatesAndBooleans, FieldConvert,
    ::testing::Values(
        ConvertCase{ftDateTime, Variant("2003-12-25 16:30:05"),
                    Variant::FromDateTime(kXmas + kTea)},
        ConvertCase{ftDateTime, Variant("25/12/2003"), Variant::FromDateTime(kXmas)},
        ConvertCase{ftDateTime, Variant(37980), Variant::FromDateTime(37980.0)},
        ConvertCase{ftDate, Variant::FromDateTime(kXmas + kTea), Variant::FromDateTime(kXmas)},
        ConvertCase{ftTime, Variant::FromDateTime(kXmas + kTea), Variant::FromDateTime(kTea)},
        ConvertCase{ftTime, Variant("16:30:05"), Variant::FromDateTime(kTea)},
        ConvertCase{ftDate, Variant("12/25/2003"), kInvalid},  // not the regional order
        ConvertCase{ftDate, Variant("soon"), kInvalid},
        ConvertCase{ftDateTime, Variant(1e9), kInvalid},
        ConvertCase{ftDate, Variant(false), kInvalid},
        ConvertCase{ftBoolean, Variant("true"), Variant(true)},
        ConvertCase{ftBoolean, Variant("False"), Variant(false)},
        ConvertCase{ftBoolean, Variant(0), Variant(false)},
        ConvertCase{ftBoolean, Variant(2.5), Variant(true)},
        ConvertCase{ftBoolean, Variant("yes"), kInvalid},
        ConvertCase{ftBoolean, Variant::FromDateTime(kXmas), kInvalid}));

INSTANTIATE_TEST_SUITE_P(
    TextAndBlobs, FieldConvert,
    ::testing::Values(ConvertCase{ftString, Variant(42), Variant("42")},
                      ConvertCase{ftString, Variant(2.5), Variant("2,5")},
                      ConvertCase{ftString, Variant(true), Variant("True")},
                      ConvertCase{ftString, Variant(""), Variant("")},  // empty text stays text
                      ConvertCase{ftString, Variant("a much longer text than ten"),
                                  Variant("a much longer text than ten")},
                      ConvertCase{ftString, VarArrayOf({"a"}), kInvalid},
                      ConvertCase{ftBlob, Variant(std::string("\0\x01", 2)),
                                  Variant(std::string("\0\x01", 2))},
                      ConvertCase{ftBlob, Variant(5), kInvalid},
                      ConvertCase{ftUnknown, Variant(5), Variant(5)}));

TEST(Field, DescriptiveProperties) {
    TMemTable t;
    TField* s = t.AddField("Name", ftString, 30);
    TField* i = t.AddField("Code", ftInteger);
    TField* c = t.AddField("Price", ftCurrency);
    TField* d = t.AddField("Day", ftDate);
    TField* m = t.AddField("Notes", ftMemo);
    EXPECT_EQ(s->Index(), 0);
    EXPECT_EQ(m->Index(), 4);
    EXPECT_EQ(s->DisplayWidth(), 30);
    EXPECT_EQ(s->Alignment(), taLeftJustify);
    EXPECT_EQ(i->Alignment(), taRightJustify);
    EXPECT_EQ(c->Precision(), 15);
    EXPECT_TRUE(c->IsNumeric() && c->IsFloat() && !c->IsDateTime());
    EXPECT_TRUE(i->IsNumeric() && !i->IsFloat());
    EXPECT_TRUE(d->IsDateTime() && !d->IsNumeric());
    EXPECT_TRUE(m->IsBlob() && !s->IsBlob());
    EXPECT_EQ(s->DisplayLabel(), "Name");
    s->SetDisplayLabel("Customer");
    EXPECT_EQ(s->DisplayLabel(), "Customer");
    EXPECT_STREQ(FieldTypeName(ftAutoInc), "ftAutoInc");
    EXPECT_EQ(static_cast<int>(ftAutoInc), 14);
    EXPECT_EQ(static_cast<int>(ftBlob), 15);
}

// The families overlap on purpose: a memo is text and a large object but not bytes; bytes are
// binary but no large object; a large integer is a whole number.
TEST(Field, TypeFamilies) {
    struct Case {
        TFieldType type;
        bool text, largeObject, binary, integer;
    };
    const Case cases[] = {
        {ftString, true, false, false, false},     {ftFixedChar, true, false, false, false},
        {ftWideString, true, false, false, false}, {ftMemo, true, true, false, false},
        {ftFmtMemo, true, true, false, false},     {ftBlob, false, true, true, false},
        {ftGraphic, false, true, true, false},     {ftTypedBinary, false, true, true, false},
        {ftBytes, false, false, true, false},      {ftVarBytes, false, false, true, false},
        {ftInteger, false, false, false, true},    {ftLargeint, false, false, false, true},
        {ftAutoInc, false, false, false, true},    {ftFloat, false, false, false, false},
        {ftDateTime, false, false, false, false},  {ftUnknown, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FieldTypeName(c.type));
        EXPECT_EQ(IsTextFieldType(c.type), c.text);
        EXPECT_EQ(IsLargeObjectFieldType(c.type), c.largeObject);
        EXPECT_EQ(IsBinaryFieldType(c.type), c.binary);
        EXPECT_EQ(IsIntegerFieldType(c.type), c.integer);
        TMemTable t;
        const TField* f = t.AddField("F", c.type, 10);
        EXPECT_EQ(f->IsString(), c.text);
        EXPECT_EQ(f->IsBlob(), c.largeObject);
    }
}

TEST(MemTable, FieldsKeepTheirObjectsAndAutoIncNumbers) {
    TMemTable t;
    TField* id = t.AddField("ID", ftAutoInc);
    TField* name = t.AddField("Name", ftString, 10);
    EXPECT_EQ(t.FieldByName("id"), id);  // the first field survived the second definition
    t.Open();
    EXPECT_EQ(t.Fields(1), name);
    for (const char* n : {"a", "b"}) {
        t.Append();
        name->SetValue(n);
        t.Post();
    }
    t.Append();
    id->SetValue(10);
    t.Post();
    t.Append();
    t.Post();
    std::vector<std::vector<Variant>> rows;
    t.ReadRecords(0, 10, rows);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][0], Variant(1));
    EXPECT_EQ(rows[1][0], Variant(2));
    EXPECT_EQ(rows[3][0], Variant(11));
    EXPECT_THROW(t.AddField("Late", ftInteger), EDatabaseError);
    t.Close();
    t.Open();  // records survive closing
    EXPECT_EQ(t.RecordCount(), 4);
    EXPECT_EQ(t.Fields(1), name);
    t.EmptyTable();
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Active());
}

}  // namespace
}  // namespace qel
