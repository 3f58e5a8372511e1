// Value evaluation inside runs: expressions over source references, the "Text" shortcut, name
// resolution (brackets, quotes, trimming, empty as null), LOOKUP, the conversion for the
// destination field, the OEM conversion and Base64 decoding.
#include <gtest/gtest.h>

#include "EngineTestKit.h"

namespace qel::test {
namespace {

using Lines = std::vector<std::string>;

// Logs every source reference the run asks for.
class TLoggingSource : public TMemorySource {
  public:
    using TMemorySource::TMemorySource;
    Lines asked;
    bool decodes = false;
    void GetSourceValue(const Variant& name, Variant& value) override {
        asked.push_back(VarToStr(name));
        TMemorySource::GetSourceValue(name, value);
    }
    bool DecodesValues() override { return decodes; }
};

class EvaluateTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        table.AddField("S", ftString, 40);
        table.AddField("N", ftInteger);
        table.AddField("CODE", ftInteger);
        table.AddField("F", ftFloat);
        table.AddField("B", ftBlob);
        table.Open();
        comp.SetDataSet(&table);
        comp.SetAnimatedStatus(false);
        comp.SetOptions(TQelOptions{});
    }
    // Runs `line` as the only mapping line over `rows` and returns the field's values.
    Lines Run(const std::string& line, const std::vector<std::vector<std::string>>& rows) {
        table.EmptyTable();
        comp.Mappings().Clear();
        comp.Mappings().Add(line);
        comp.records = rows;
        comp.asked.clear();
        comp.Execute();
        const int field = table.FindField(line.substr(0, line.find('=')))->Index();
        Lines out;
        for (const std::string& r : Dump(table)) {
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (std::size_t bar = r.find('|');; bar = r.find('|', start)) {
                parts.push_back(
                    r.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
                if (bar == std::string::npos) break;
                start = bar + 1;
            }
            out.push_back(parts[static_cast<std::size_t>(field)]);
        }
        return out;
    }

    TMemTable table;
    TLoggingSource comp;
};

struct ExprCase {
    const char* name;
    std::string line;
    std::vector<std::vector<std::string>> rows;
    Lines values;
};

TEST_F(EvaluateTest, SourceTextsAndTheirValues) {
    const std::vector<ExprCase> cases = {
        {"a reference", "S=Field2", {{"red", "42", "x"}}, {"42"}},
        {"an expression over references", "S=UPPER(Field1)", {{"red"}}, {"RED"}},
        {"arithmetic on a converted argument", "N=Field2 + 1", {{"red", "42"}}, {"43"}},
        {"square brackets are dropped", "S=[Field2]", {{"a", "b"}}, {"b"}},
        {"a quoted word is still a word", "S='Field2'", {{"a", "b"}}, {"b"}},
        {"any other word stands for itself", "S=blue", {{"a"}}, {"blue"}},
        {"Field in other letter case is no reference", "S=field1", {{"a"}}, {"field1"}},
        {"out of range and malformed references give null", "S=Field9", {{"a"}}, {"<null>"}},
        {"Field0", "S=Field0", {{"a"}}, {"<null>"}},
        {"a Text reference is one name, not arithmetic", "S=Text1-3", {{"a"}}, {"Text1-3"}},
        {"a header line imported as data gives 0", "CODE=Field1", {{"code"}, {"7"}}, {"0", "7"}},
        {"blank text for an integer is 0", "N=Field1", {{"   "}}, {"0"}},
        {"text with a fraction stays text and fails at the field",
         "N=Field1",
         {{"4.5"}, {"4"}},
         {"4"}},
        {"the parse is kept, the values are per row",
         "S=Field1 + Field2",
         {{"a", "b"}, {"c", "d"}, {"e", "f"}},
         {"ab", "cd", "ef"}},
    };
    for (const ExprCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.line, c.rows), c.values);
        EXPECT_EQ(comp.Statistic().Result(), irExecuted);
    }
}

TEST_F(EvaluateTest, NamesAreAskedForInTheSameOrderAtEveryRow) {
    comp.LoadCondition().SetLoadWhen("Field3 = 'y'");
    Run("S=Field2 + Field1", {{"a", "b", "y"}, {"c", "d", "n"}, {"e", "f", "y"}});
    EXPECT_EQ(comp.asked, (Lines{"Field2", "Field1", "Field3", "y", "Field2", "Field1", "Field3",
                                 "y", "Field2", "Field1", "Field3", "y"}));
    EXPECT_EQ(Dump(table).size(), 2u);
}

TEST_F(EvaluateTest, ParseErrorsFailEveryRowAlike) {
    std::vector<std::string> errors;
    comp.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool& abort) {
        errors.push_back(e.Message());
        abort = false;
    };
    Run("S=(Field1", {{"a"}, {"b"}});
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], errors[1]);
    EXPECT_FALSE(errors[0].empty());
    EXPECT_EQ(comp.Statistic().TotalErrors(), 0);
}

TEST_F(EvaluateTest, ChangedSourceTextIsEvaluatedFromTheNextRowOn) {
    comp.OnBeforeRecordEvent = [](TQelBaseComponent&, const std::string&, Variant& values, bool&) {
        values[0][1] = Variant("UPPER(Field2)");
    };
    EXPECT_EQ(Run("S=Field1", {{"a", "b"}, {"c", "d"}}), (Lines{"a", "D"}));
}

struct TrimCase {
    TQelTrimSpaces trim;
    std::string cell;
    Lines string, integer;  // what reaches a string and an integer field (no record: refused)
};

TEST_F(EvaluateTest, TrimmingAndEmptyText) {
    const std::vector<TrimCase> cases = {
        {tsNoTrim, " x ", {" x "}, {}},      {tsTrimLeft, " x ", {"x "}, {}},
        {tsTrimRight, " x ", {" x"}, {}},    {tsTrimLeftRight, " x ", {"x"}, {}},
        {tsNoTrim, "   ", {"   "}, {"0"}},   {tsTrimLeftRight, "   ", {"<null>"}, {"<null>"}},
        {tsTrimRight, " 5 ", {" 5"}, {"5"}}, {tsTrimLeft, "\t5", {"5"}, {"5"}},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.trim) << " '" << c.cell << "'");
        comp.SetTrimSpaces(c.trim);
        EXPECT_EQ(Run("S=Field1", {{c.cell}}), c.string);
        EXPECT_EQ(Run("N=Field1", {{c.cell}}), c.integer);
    }
}

TEST_F(EvaluateTest, QuotedAndBracketedNames) {
    struct Case {
        std::string name;
        std::string value;
    };
    for (const Case& c : {Case{"Field1", "a"}, Case{"[Field1]", "a"}, Case{"\"Field1\"", "a"},
                          Case{"\"", "<null>"}, Case{"[x", "[x"}, Case{"[]", "<null>"}}) {
        SCOPED_TRACE(c.name);
        comp.records = {{"a"}};
        comp.FirstRow();
        comp.OpenSource();
        Variant v(c.name);
        bool done = false;
        comp.ResolveSourceName(c.name, nullptr, 0, v, done);
        EXPECT_TRUE(done);
        EXPECT_EQ(v.IsNull() ? "<null>" : VarToStr(v), c.value);
    }
}

TEST_F(EvaluateTest, LoadConditionsAreNotConverted) {
    // Texts join: converted for the integer field they would add up to 14.
    comp.LoadCondition().SetLoadWhen("(Field1 + Field1) = '77'");
    EXPECT_EQ(Run("N=Field1", {{"7"}, {"8"}}), (Lines{"7"}));
}

// ---------------------------------------------------------------------------------------------
// LOOKUP

class LookupTest : public EvaluateTest {
  protected:
    void SetUp() override {
        EvaluateTest::SetUp();
        form = &Application().Create<TComponent>();
        form->SetName("frmColors");
        TMemTable& colors = form->Create<TMemTable>();
        colors.SetName("Colors");
        colors.AddField("Name", ftString, 10);
        colors.AddField("Code", ftString, 10);
        colors.Open();
        for (auto [name, code] : {std::pair{"red", "R1"}, std::pair{"blue", "B2"}}) {
            colors.Append();
            colors.Fields(0)->SetValue(Variant(name));
            colors.Fields(1)->SetValue(Variant(code));
            colors.Post();
        }
        TMemTable& local = comp.Create<TMemTable>();
        local.SetName("Local");
        local.AddField("K", ftString, 10);
        local.AddField("V", ftString, 10);
        local.Open();
        local.Append();
        local.Fields(0)->SetValue(Variant("red"));
        local.Fields(1)->SetValue(Variant("own"));
        local.Post();
        comp.Create<TComponent>().SetName("NotATable");
    }
    void TearDown() override {
        Application().DestroyOwned(form);
        EvaluateTest::TearDown();
    }
    TComponent* form = nullptr;
};

TEST_F(LookupTest, FindsTheRecordOfTheNamedDataset) {
    std::vector<std::string> errors;
    comp.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool& abort) {
        errors.push_back(e.Message());
        abort = false;
    };
    const std::vector<ExprCase> cases = {
        {"form and component",
         "S=LOOKUP(frmColors.Colors, Name, Field1, Code)",
         {{"blue"}, {"red"}},
         {"B2", "R1"}},
        {"letter case of names ignored",
         "S=LOOKUP(FRMCOLORS.colors, Name, Field1, Code)",
         {{"red"}},
         {"R1"}},
        {"no record: the call's name",
         "S=LOOKUP(frmColors.Colors, Name, Field1, Code)",
         {{"green"}},
         {"LOOKUP"}},
        {"a component of the import component",
         "S=LOOKUP(Local, K, Field1, V)",
         {{"red"}},
         {"own"}},
        {"no such component: the call's name",
         "S=LOOKUP(Nowhere, K, Field1, V)",
         {{"red"}},
         {"LOOKUP"}},
        {"three arguments are no lookup", "S=LOOKUP(Local, K, Field1)", {{"red"}}, {"LOOKUP"}},
    };
    for (const ExprCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.line, c.rows), c.values);
    }
    EXPECT_TRUE(errors.empty());
    Run("S=LOOKUP(NotATable, K, Field1, V)", {{"red"}});
    EXPECT_EQ(errors, (Lines{"Invalid class typecast"}));
}

// ---------------------------------------------------------------------------------------------
// Character set and Base64

TEST_F(EvaluateTest, OemTextIsConvertedForTextFieldsOnly) {
    comp.SetCharacterSet(csiASCII_MSDOS);
    EXPECT_EQ(Run("S=Field1", {{"caf\x82"}, {""}}), (Lines{"caf\xC3\xA9", "<null>"}));
    EXPECT_EQ(Run("N=Field1", {{"12"}}), (Lines{"12"}));
    comp.SetCharacterSet(csiANSI_WINDOWS);
    EXPECT_EQ(Run("S=Field1", {{"caf\x82"}}), (Lines{"caf\x82"}));
}

TEST_F(EvaluateTest, Base64ValuesOfASourceThatEncodesThem) {
    comp.decodes = true;
    EXPECT_EQ(Run("S=Field1", {{"[CDATA[aGVsbG8=]"}, {"aGVsbG8="}}), (Lines{"hello", "aGVsbG8="}));
    EXPECT_EQ(Run("B=Field1", {{"aGVsbG8="}}), (Lines{"hello"}));
    comp.decodes = false;
    EXPECT_EQ(Run("B=Field1", {{"aGVsbG8="}}), (Lines{"aGVsbG8="}));
}

}  // namespace
}  // namespace qel::test
