#include <gtest/gtest.h>

#include <cmath>

#include "core/Component.h"
#include "core/DateTime.h"
#include "core/Errors.h"
#include "core/FormatSettings.h"
#include "core/TextUtil.h"
#include "core/Variant.h"

namespace qel {
namespace {

TEST(Variant, IntegerConversionRoundsTiesToEven) {
    struct Case {
        Variant in;
        std::int32_t want;
    } cases[] = {
        {Variant(2.5), 2},    {Variant(3.5), 4},   {Variant(-2.5), -2}, {Variant(2.4999), 2},
        {Variant(true), -1},  {Variant(false), 0}, {Variant("42"), 42}, {Variant(" -7"), -7},
        {Variant("$1F"), 31}, {Variant("2.5"), 2}, {Variant(), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.in.AsInteger(), c.want) << DebugString(c.in);
}

TEST(Variant, FailedConversionsRaiseTheVariantError) {
    const Variant bad[] = {Variant::Null(), Variant("abc"), Variant(3e10), VarArrayOf({1, 2})};
    for (const auto& v : bad) {
        try {
            (void)v.AsInteger();
            ADD_FAILURE() << DebugString(v);
        } catch (const EVariantError& e) {
            EXPECT_EQ(e.Message(), "Invalid variant type conversion");
        }
    }
    EXPECT_THROW((void)Variant::Null().AsText(), EVariantError);
    EXPECT_EQ(VarToStr(Variant::Null()), "");
}

TEST(Variant, TextToNumberFollowsTheRegionalDecimalSeparator) {
    FormatSettings fs;
    fs.DecimalSeparator = ',';
    ScopedFormatSettings scope(fs);
    EXPECT_DOUBLE_EQ(Variant("2,5").AsReal(), 2.5);
    EXPECT_THROW((void)Variant("2.5").AsReal(), EVariantError);
    EXPECT_EQ(Variant(2.5).AsText(), "2,5");
}

TEST(Variant, ArraysCopyAsValues) {
    Variant a = VarArrayOf({1, "x"});
    Variant b = a;
    b[0] = Variant(7);
    EXPECT_EQ(a[0].AsInteger(), 1);
    EXPECT_EQ(b[0].AsInteger(), 7);
    EXPECT_EQ(a.Count(), 2u);
}

TEST(Variant, SwapExchangesEveryKindWhole) {
    const std::string longText(100, 'x');  // beyond the string's inline buffer
    const Variant values[] = {Variant(),
                              Variant::Null(),
                              Variant(std::int32_t{-7}),
                              Variant(2.5),
                              Variant(true),
                              Variant::FromDateTime(45000.25),
                              Variant("short"),
                              Variant(longText),
                              Variant(Variant::Array{Variant(std::int32_t{1}), Variant("a")})};
    for (const Variant& a : values) {
        for (const Variant& b : values) {
            Variant x = a, y = b;
            x.Swap(y);
            EXPECT_TRUE(x.SameAs(b) && x.kind() == b.kind()) << a.KindName() << b.KindName();
            EXPECT_TRUE(y.SameAs(a) && y.kind() == a.kind()) << a.KindName() << b.KindName();
        }
    }
}

TEST(TextUtil, FloatToStrGeneralForm) {
    struct Case {
        double v;
        const char* want;
    } cases[] = {
        {9, "9"},       {2.5, "2.5"},   {6227020800.0, "6227020800"},
        {1e20, "1E20"}, {1e-5, "1E-5"}, {0.1 + 0.2, "0.3"},
        {-0.0, "0"},    {3.14, "3.14"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.v, '.'), c.want);
}

TEST(TextUtil, NumberTests) {
    struct Case {
        const char* s;
        char sep;
        bool want;
    } cases[] = {
        {"12.5", '.', true},   {".", '.', true},   {" -3", '.', true},    {"1e5", '.', true},
        {"E", '.', false},     {"e", '.', false},  {" ", '.', false},     {"1e", '.', false},
        {"1.2.3", '.', false}, {"3,5", ',', true}, {"3.5", ',', true},    {"12 ", '.', false},
        {"-", '.', false},     {"", '.', false},   {"1,2,3", ',', false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsNumberText(c.s, c.sep), c.want) << c.s;
    double d = 0;
    EXPECT_FALSE(TryTextToFloat("3.5", d, ','));
    EXPECT_TRUE(TryTextToFloat(" 3,5 ", d, ','));
    EXPECT_DOUBLE_EQ(d, 3.5);
    std::int32_t i = 0;
    EXPECT_FALSE(TryStrToInt("2147483648", i));
    EXPECT_TRUE(TryStrToInt("-2147483648", i));
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_FALSE(TryStrToInt("12 ", i));
}

TEST(DateTime, EncodeDecodeRoundTrip) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
    TDateTime dt = EncodeDate(2003, 12, 25) + EncodeTime(10, 15, 42, 0);
    EXPECT_EQ(DateTimeToIso(dt, true, true), "2003-12-25 10:15:42");
    TDateTime back = 0;
    ASSERT_TRUE(TryIsoToDateTime("2003-12-25 10:15:42", back));
    EXPECT_NEAR(back, dt, 1e-9);
    EXPECT_THROW(EncodeDate(2003, 2, 29), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss", dt), "25/12/2003 10:15:42");
}

TEST(DateTime, TheDateRangeIsYear1ToYear9999) {
    struct Case {
        double value;
        bool inRange;
    };
    const Case cases[] = {
        {-693594.0, false},                        // 31 December of the year 0
        {-693593.999, true}, {-693593.0, true},    // 1 January 1, late and at midnight
        {0.0, true},         {2958465.999, true},  // 31 December 9999, late
        {2958466.0, false},  {std::nan(""), false}, {INFINITY, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsInDateRange(c.value), c.inRange) << c.value;
        if (c.inRange) {
            EXPECT_GE(DecodeDate(c.value).Year, 1) << c.value;
        }
    }
}

TEST(DateTime, StrToDateUsesTheShortDateOrder) {
    FormatSettings fs;
    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.DateSeparator = '.';
    EXPECT_DOUBLE_EQ(StrToDate("25.12.2003", fs), EncodeDate(2003, 12, 25));
    EXPECT_THROW(StrToDate("31.02.2003", fs), EConvertError);
    EXPECT_THROW(StrToDate("abc", fs), EConvertError);
}

class Probe : public TComponent {
  public:
    using TComponent::TComponent;
    std::vector<TComponent*> removed;

  protected:
    void Notification(TComponent* c, TOperation op) override {
        if (op == opRemove) removed.push_back(c);
    }
};

TEST(Component, OwnershipNamesAndFreeNotification) {
    Probe owner;
    auto& a = owner.Create<TComponent>();
    a.SetName("Alpha");
    EXPECT_EQ(owner.FindComponent("ALPHA"), &a);
    auto& b = owner.Create<TComponent>();
    EXPECT_THROW(b.SetName("alpha"), EComponentError);
    Probe watcher;
    {
        TComponent outsider;
        outsider.FreeNotification(&watcher);
    }
    EXPECT_EQ(watcher.removed.size(), 1u);
    owner.DestroyOwned(&a);
    EXPECT_EQ(owner.FindComponent("Alpha"), nullptr);
    EXPECT_EQ(owner.ComponentCount(), 1);
    try {
        TPersistent p;
        TComponent c;
        c.Assign(p);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPersistent to a TComponent");
    }
}

TEST(Component, WatcherDestroyedFirstIsForgotten) {
    TComponent subject;
    {
        Probe watcher;
        subject.FreeNotification(&watcher);
    }
    SUCCEED();  // destroying `subject` must not reach the dead watcher (checked under ASan)
}

TEST(Errors, ListIndexCheckAcceptsExactlyZeroToCountMinusOne) {
    struct Case {
        int index, count;
        bool inside;
    };
    const Case cases[] = {
        {0, 0, false},
        {-1, 0, false},
        {0, 3, true},
        {2, 3, true},
        {3, 3, false},
        {-1, 3, false},
        {-2147483647 - 1, 3, false},
        {2147483647, 2147483647, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " of " << c.count);
        if (c.inside) {
            EXPECT_NO_THROW(CheckListIndex(c.index, c.count));
            continue;
        }
        try {
            CheckListIndex(c.index, c.count);
            ADD_FAILURE() << "no error";
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(c.index) + ")");
        }
    }
}

}  // namespace
}  // namespace qel
