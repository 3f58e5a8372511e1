// The component model: initial values, coupled settings, Assign, free-notification, the owned
// objects and the string list of the mapping lines.
#include <gtest/gtest.h>

#include <memory>

#include "EngineTestKit.h"
#include "engine/ImpCnst.h"

namespace qel::test {
namespace {

class TTextLike : public TMemorySource {
  public:
    explicit TTextLike(TComponent* owner = nullptr) : TMemorySource(owner) {
        ApplyDefaultSourceFileName();
    }
    std::string GetDefaultExt() override { return ".TXT"; }
};

TEST(ComponentModel, InitialValues) {
    TMemorySource base;
    TTextLike text;  // the default extension of a subclass reaches SourceFileName
    EXPECT_EQ(base.SourceFileName(), "Qel.QEL");
    EXPECT_EQ(text.SourceFileName(), "Qel.TXT");
    EXPECT_EQ(text.Options().Bits(), 31);
    EXPECT_EQ(text.Mode(), imAppend);
    EXPECT_EQ(text.RowLast(), 2147483647);
    EXPECT_EQ(text.Statistic().UpdateStep(), 1);
    EXPECT_EQ(text.TitleStatus(), "Importing...");
    EXPECT_EQ(text.DataFormats().BooleanTrue(), "True");
    EXPECT_EQ(text.DataFormats().BooleanFalse(), "False");
    EXPECT_EQ(text.RecordSeparatorCustom(), "\r\n");
    text.SetAbout("anything");
    EXPECT_EQ(text.About(), "");
}

TEST(ComponentModel, ShowAboutShowsTheTitledBox) {
    THeadlessWindowSystem ws;
    {
        const TScopedWindowSystem installed(ws);
        TMemorySource c;
        c.ShowAbout();
    }
    ASSERT_EQ(ws.boxes.size(), 1u);
    EXPECT_EQ(ws.boxes[0].Kind, "titled");
    EXPECT_EQ(ws.boxes[0].Title, "About Qel v2.06");
    EXPECT_FALSE(ws.boxes[0].Text.empty());
}

TEST(ComponentModel, ScopedWindowSystemsNestAndComeOffWhenAnErrorLeavesTheScope) {
    TWindowSystem* const before = &WindowSystem();
    THeadlessWindowSystem outer;
    THeadlessWindowSystem inner;
    {
        const TScopedWindowSystem a(outer);
        EXPECT_EQ(&WindowSystem(), &outer);
        try {
            const TScopedWindowSystem b(inner);
            EXPECT_EQ(&WindowSystem(), &inner);
            throw Exception("leaving");
        } catch (const Exception&) {
        }
        EXPECT_EQ(&WindowSystem(), &outer);
    }
    EXPECT_EQ(&WindowSystem(), before);
}

// The named choice and its character follow each other in both directions; the custom choice
// keeps the character, and any other character (compared exactly) makes the choice custom.
TEST(ComponentModel, LayoutChoicesAndTheirCharacters) {
    struct Case {
        int kind;
        std::string text;  // one character for delimiter and qualifier
    };
    const std::vector<Case> delimiters = {{fdNone, std::string(1, '\0')},
                                          {fdTab, "\t"},
                                          {fdSemicolon, ";"},
                                          {fdComma, ","},
                                          {fdSpace, " "},
                                          {fdCustom, "|"}};
    const std::vector<Case> qualifiers = {
        {tqNone, std::string(1, '\0')}, {tqQuot, "\""}, {tqApos, "'"}, {tqCustom, "#"}};
    const std::vector<Case> separators = {{rsCRLF, "\r\n"},   {rsCR, "\r"},
                                          {rsLF, "\n"},       {rsCustom, ""},
                                          {rsCustom, "\n\r"}, {rsCustom, "\r\n\r\n"}};
    for (const Case& c : delimiters) {
        TMemorySource a;
        a.SetFieldDelimiterCustom('|');
        a.SetFieldDelimiter(static_cast<TQelFieldDelimiter>(c.kind));
        EXPECT_EQ(a.FieldDelimiterCustom(), c.text[0]) << c.kind;
        a.SetFieldDelimiterCustom(c.text[0]);
        EXPECT_EQ(a.FieldDelimiter(), c.kind) << c.text;
    }
    for (const Case& c : qualifiers) {
        TMemorySource a;
        a.SetTextQualifierCustom('#');
        a.SetTextQualifier(static_cast<TQelTextQualifier>(c.kind));
        EXPECT_EQ(a.TextQualifierCustom(), c.text[0]) << c.kind;
        a.SetTextQualifierCustom(c.text[0]);
        EXPECT_EQ(a.TextQualifier(), c.kind) << c.text;
    }
    for (const Case& c : separators) {
        TMemorySource a;
        a.SetRecordSeparatorCustom(c.text);
        EXPECT_EQ(a.RecordSeparator(), c.kind) << c.text.size();
        a.SetRecordSeparator(static_cast<TQelRecordSeparator>(c.kind));
        EXPECT_EQ(a.RecordSeparatorCustom(), c.text);
    }
}

// ---------------------------------------------------------------------------------------------
// Assign

TEST(ComponentAssign, CopiesSettingsAndSixHandlersButNotTheRest) {
    TMemTable table;
    TMemorySource source;
    source.SetDataSet(&table);
    source.SetAnimatedStatus(false);
    source.SetDatasetKeys("ID");
    source.SetFixed(true);
    source.SetUseDisplayNames(true);
    source.SetRecordSeparatorCustom("\n");
    source.SetFieldDelimiterCustom(';');
    source.SetTextQualifierCustom('\'');
    source.SetRowFirst(3);
    source.SetRowLast(9);
    source.SetRowFieldNames(2);
    source.Mappings().Add("A=Field1");
    source.Mappings().Add("B=Field2");
    source.SetMode(imCopy);
    source.SetOptions(TQelOptions{soWaitCursor});
    source.SetSourceFileName("in.txt");
    source.SetCharacterSet(csiASCII_MSDOS);
    source.SetTrimSpaces(tsTrimLeft);
    source.SetTitleStatus("Loading");
    source.SetAbortOnProblem(false);
    source.SetSpecificationDir("/import-settings");
    source.Statistic().SetTotalAdded(7);
    source.Statistic().SetUpdateStep(200);
    source.DataFormats().SetDateOrder(doYMD);
    source.LoadCondition().SetLoadWhen("Field1");
    int errorCalls = 0, beforeExecuteCalls = 0, beforeFieldCalls = 0;
    source.OnErrorEvent = [&](TQelBaseComponent&, const Exception&, bool&) { ++errorCalls; };
    source.OnBeforeExecute = [&](TQelBaseComponent&) { ++beforeExecuteCalls; };
    source.OnBeforeFieldUpdate = [&](TQelBaseComponent&, TField*, const Variant&, bool&) {
        ++beforeFieldCalls;
    };
    source.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) {};
    source.OnCreateStructure = [](TQelBaseComponent&, TQelColumns&) {};
    source.OnGetCellParams = [](TQelBaseComponent&, TField*, Variant&) {};
    source.OnBeforeRecordEvent = [](TQelBaseComponent&, const std::string&, Variant&, bool&) {};
    source.OnLocateRecord = [](TQelBaseComponent&, const std::string&, const Variant&, bool&,
                               bool&) {};

    TMemorySource target;
    target.Mappings().Add("C=Field3");
    target.Assign(source);

    EXPECT_EQ(target.DataSet(), &table);
    EXPECT_FALSE(target.AnimatedStatus());
    EXPECT_EQ(target.DatasetKeys(), "ID");
    EXPECT_TRUE(target.Fixed());
    EXPECT_TRUE(target.UseDisplayNames());
    EXPECT_EQ(target.RecordSeparator(), rsLF);
    EXPECT_EQ(target.FieldDelimiter(), fdSemicolon);
    EXPECT_EQ(target.TextQualifier(), tqApos);
    EXPECT_EQ(target.RowFirst(), 3);
    EXPECT_EQ(target.RowLast(), 9);
    EXPECT_EQ(target.RowFieldNames(), 2);
    EXPECT_EQ(target.Mappings().Lines(),
              (std::vector<std::string>{"C=Field3", "A=Field1", "B=Field2"}));
    EXPECT_EQ(target.Mode(), imCopy);
    EXPECT_EQ(target.Options(), TQelOptions{soWaitCursor});
    EXPECT_EQ(target.SourceFileName(), "in.txt");
    EXPECT_EQ(target.CharacterSet(), csiASCII_MSDOS);
    EXPECT_EQ(target.TrimSpaces(), tsTrimLeft);
    EXPECT_EQ(target.TitleStatus(), "Loading");
    EXPECT_EQ(target.Statistic().TotalAdded(), 7);
    EXPECT_EQ(target.Statistic().UpdateStep(), 200);
    EXPECT_EQ(target.DataFormats().DateOrder(), doYMD);
    EXPECT_EQ(target.LoadCondition().LoadWhen(), "Field1");
    EXPECT_TRUE(target.OnErrorEvent && target.OnAfterRecordEvent && target.OnCreateStructure &&
                target.OnGetCellParams && target.OnBeforeRecordEvent && target.OnLocateRecord);
    // Not copied.
    EXPECT_TRUE(target.AbortOnProblem());
    EXPECT_EQ(target.SpecificationDir(), "");
    EXPECT_FALSE(target.OnBeforeExecute);
    EXPECT_FALSE(target.OnBeforeFieldUpdate);
    // The copied handler is the source's.
    bool abort = false;
    target.OnErrorEvent(target, Exception("x"), abort);
    EXPECT_EQ(errorCalls, 1);
}

TEST(ComponentAssign, UnrelatedSourceFailsAndCopiesNothing) {
    TMemorySource target;
    target.Mappings().Add("A=Field1");
    TQelStatistic stat;
    try {
        target.Assign(stat);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TQelStatistic to a TMemorySource");
    }
    EXPECT_EQ(target.Mappings().Count(), 1);
    TMemTable table;
    EXPECT_THROW(target.Statistic().Assign(table), EComponentError);
    EXPECT_THROW(target.LoadCondition().Assign(stat), EComponentError);
}

// ---------------------------------------------------------------------------------------------
// Free-notification

TEST(ComponentDataSet, DestroyedDatasetIsForgotten) {
    TMemorySource a, b;
    {
        TMemTable table;
        a.SetDataSet(&table);
        b.Assign(a);  // b refers to it too, through the setter
        ASSERT_EQ(b.DataSet(), &table);
    }
    EXPECT_EQ(a.DataSet(), nullptr);
    EXPECT_EQ(b.DataSet(), nullptr);
    a.SetAnimatedStatus(false);
    try {
        a.Execute();
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Property DataSet wasn't specified.");
    }
}

TEST(ComponentDataSet, ReplacedDatasetNoLongerClearsTheSetting) {
    TMemorySource c;
    TMemTable kept;
    {
        TMemTable old;
        c.SetDataSet(&old);
        c.SetDataSet(&kept);
    }
    EXPECT_EQ(c.DataSet(), &kept);
}

// ---------------------------------------------------------------------------------------------
// The string list

TEST(Strings, TextAndIndexes) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    for (const Case& c :
         {Case{"", {}}, Case{"a", {"a"}}, Case{"a\n", {"a"}},
          Case{"a\r\nb\rc\nd", {"a", "b", "c", "d"}}, Case{"a\n\nb\n", {"a", "", "b"}}}) {
        TQelStrings s;
        s.SetText(c.text);
        EXPECT_EQ(s.Lines(), c.lines) << c.text;
        TQelStrings back;
        back.SetText(s.Text());
        EXPECT_EQ(back.Lines(), c.lines);
    }
    TQelStrings s{"a", "b"};
    s.Insert(1, "x");
    s.Delete(0);
    EXPECT_EQ(s.Lines(), (std::vector<std::string>{"x", "b"}));
    try {
        (void)s[2];
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (2)");
    }
    EXPECT_THROW(s.Delete(-1), EListError);
    EXPECT_THROW(s.Insert(3, "y"), EListError);

    TMemorySource c;
    c.Mappings().Add("old");
    c.SetMappings(s);
    EXPECT_EQ(c.Mappings().Lines(), s.Lines());
    s.Add("later");
    EXPECT_EQ(c.Mappings().Count(), 2);  // a copy, not the caller's list
}

// ---------------------------------------------------------------------------------------------
// Columns

TEST(Columns, AddAssignAndChangeNotification) {
    TMemorySource owner;
    TQelColumns& cols = owner.Columns();
    int changes = 0;
    cols.OnChange = [&] { ++changes; };
    TQelColumn& a = cols.Add();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(a.FieldName(), "");
    EXPECT_EQ(a.DataType(), itString);
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(a.Alignment(), taLeftJustify);
    a.SetFieldName("Host");
    a.SetCaption("Field1");
    a.SetDataType(itFloat);
    a.SetSize(12);
    a.SetPrecision(4);
    a.SetAlignment(taRightJustify);
    TQelColumn& b = cols.Add();
    changes = 0;
    b.Assign(a);
    EXPECT_EQ(changes, 1);  // one notification for the whole copy
    EXPECT_EQ(b.FieldName(), "Host");
    EXPECT_EQ(b.Caption(), "Field1");
    EXPECT_EQ(b.DataType(), itFloat);
    EXPECT_EQ(b.Size(), 12);
    EXPECT_EQ(b.Precision(), 4);
    EXPECT_EQ(b.Alignment(), taRightJustify);
    EXPECT_EQ(b.Index(), 1);
    try {
        b.Assign(owner.Statistic());
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TQelStatistic to a TQelColumn");
    }
    cols.Delete(0);
    EXPECT_EQ(b.Index(), 0);
    EXPECT_THROW(cols.Items(1), EListError);
    cols.Clear();
    EXPECT_EQ(cols.Count(), 0);
}

}  // namespace
}  // namespace qel::test
