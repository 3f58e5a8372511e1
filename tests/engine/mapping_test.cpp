// Mapping lines into the run tables, RowValues and its index links, and the columns and
// default mappings of a run that starts without mapping lines.
#include <gtest/gtest.h>

#include "EngineTestKit.h"

namespace qel::test {
namespace {

// "NAME=source@index" for every entry of a run table; "-" for a slot without an entry.
std::vector<std::string> Entries(const Variant& table) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < table.Count(); ++i) {
        const Variant& e = table[i];
        if (!e.IsArray()) {
            out.push_back("-");
            continue;
        }
        out.push_back(VarToStr(e[0]) + "=" + VarToStr(e[1]) + "@" + VarToStr(e[3]));
    }
    return out;
}

class TShortNames : public TMemorySource {
  public:
    bool ShortSourceNames() override { return true; }
};

struct MappingCase {
    const char* name;
    std::vector<std::string> lines;
    std::string keys;
    TImportMode mode;
    std::vector<std::string> mapping;
    std::vector<std::string> keyEntries;
};

TEST(PrepareMappings, Lines) {
    const std::vector<MappingCase> cases = {
        {"trimmed and upper-cased", {"Host = Field1 "}, "", imAppend, {"HOST=Field1@-1"}, {}},
        {"first line wins the source",
         {"Host=Field1", "host=Field2"},
         "",
         imAppend,
         {"HOST=Field1@-1", "HOST=Field1@-1"},
         {}},
        {"source taken from the first line with that destination",
         {"A=", "a=Field2"},
         "",
         imAppend,
         {},
         {}},
        {"empty source", {"Host="}, "", imAppend, {}, {}},
        {"no equals sign", {"Host"}, "", imAppend, {}, {}},
        {"no equals sign takes a line that begins with one",
         {"Host", "=Field3"},
         "",
         imAppend,
         {"=Field3@-1", "=Field3@-1"},
         {}},
        {"only the first equals sign splits", {"A=B=C"}, "", imAppend, {"A=B=C@-1"}, {}},
        {"destination compared untrimmed",
         {"Host =Field1", "Host=Field2"},
         "",
         imAppend,
         {"HOST=Field1@-1", "HOST=Field2@-1"},
         {}},
        {"two keys in order",
         {"Url=Field2", "Host=Field1"},
         "Host;URL",
         imUpdate,
         {"URL=Field2@-1", "HOST=Field1@-1"},
         {"HOST=Field1@-1", "URL=Field2@-1"}},
        {"key names keep their blanks",
         {"Host=Field1", "Url=Field2"},
         "Host; URL",
         imAppendUpdate,
         {"HOST=Field1@-1", "URL=Field2@-1"},
         {"HOST=Field1@-1"}},
        {"key matched against the trimmed destination",
         {" id =Field1"},
         "ID",
         imDelete,
         {"ID=Field1@-1"},
         {"ID=Field1@-1"}},
        {"key without a usable source still counts",
         {"ID=", "Name=Field2"},
         "ID",
         imUpdate,
         {"NAME=Field2@-1"},
         {"ID=@-1"}},
        {"key without a line", {"Name=Field2"}, "ID", imUpdate, {"NAME=Field2@-1"}, {}},
        {"keys ignored when appending", {"ID=Field1"}, "ID", imAppend, {"ID=Field1@-1"}, {}},
        {"keys ignored when copying", {"ID=Field1"}, "ID", imCopy, {"ID=Field1@-1"}, {}},
    };
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(c.name);
        TMemorySource comp;
        for (const auto& l : c.lines) comp.Mappings().Add(l);
        comp.SetDatasetKeys(c.keys);
        comp.SetMode(c.mode);
        comp.PrepareMappings();
        EXPECT_EQ(Entries(comp.MappingEntries()), c.mapping);
        EXPECT_EQ(Entries(comp.KeyEntries()), c.keyEntries);
        if (c.mapping.empty()) {
            EXPECT_TRUE(comp.MappingEntries().IsEmpty());
        }
        for (std::size_t i = 0; i < comp.MappingEntries().Count(); ++i) {
            EXPECT_TRUE(comp.MappingEntries()[i][2].IsEmpty());
        }
    }
}

TEST(PrepareMappings, ShortSourceNamesCutToTenCharacters) {
    TShortNames comp;
    comp.Mappings().Add("A= Field1234  5678");
    comp.Mappings().Add("B=Field1234 X");
    comp.Mappings().Add("C=Field2");
    comp.SetDatasetKeys("a");
    comp.SetMode(imUpdate);
    comp.PrepareMappings();
    EXPECT_EQ(Entries(comp.MappingEntries()),
              (std::vector<std::string>{"A=Field1234@-1", "B=Field1234@-1", "C=Field2@-1"}));
    EXPECT_EQ(Entries(comp.KeyEntries()), (std::vector<std::string>{"A=Field1234@-1"}));
}

TEST(PrepareMappings, ReplacesTheTablesOfTheLastRun) {
    TMemorySource comp;
    comp.Mappings().Add("A=Field1");
    comp.SetDatasetKeys("A");
    comp.SetMode(imUpdate);
    comp.PrepareMappings();
    comp.Mappings().Clear();
    comp.Mappings().Add("B=Field2");
    comp.PrepareMappings();
    EXPECT_EQ(Entries(comp.MappingEntries()), (std::vector<std::string>{"B=Field2@-1"}));
    EXPECT_TRUE(comp.KeyEntries().IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// RowValues

struct RowValuesCase {
    const char* name;
    std::vector<std::string> lines;
    std::string keys;
    TImportMode mode;
    std::vector<std::string> rowValues;  // NAME=source@field index
    std::vector<std::string> mapping;    // NAME=source@row-value index
    std::vector<std::string> keyEntries;
};

TEST(PrepareRowValues, BindsEntriesByPosition) {
    const std::vector<RowValuesCase> cases = {
        {"mapped fields",
         {"B=Field2", "A=Field1"},
         "",
         imAppend,
         {"B=Field2@1", "A=Field1@0"},
         {"B=Field2@0", "A=Field1@1"},
         {}},
        {"unknown destination keeps -1",
         {"Nope=Field1", "C=Field3"},
         "",
         imAppend,
         {"NOPE=Field1@-1", "C=Field3@2"},
         {"NOPE=Field1@0", "C=Field3@1"},
         {}},
        {"a key that is also mapped has one entry",
         {"A=Field1", "B=Field2"},
         "B",
         imUpdate,
         {"A=Field1@0", "B=Field2@1"},
         {"A=Field1@0", "B=Field2@1"},
         {"B=Field2@1"}},
        {"a key without a usable source gets its own entry",
         {"A=", "B=Field2"},
         "A",
         imAppendUpdate,
         {"B=Field2@1", "A=@0"},
         {"B=Field2@0"},
         {"A=@1"}},
        {"a destination named twice: the first entry points at the last",
         {"A=Field1", "a=Field2"},
         "",
         imAppend,
         {"A=Field1@0", "A=Field1@0"},
         {"A=Field1@1", "A=Field1@-1"},
         {}},
        {"keys only", {"A="}, "A", imDelete, {"A=@0"}, {}, {"A=@0"}},
    };
    for (const RowValuesCase& c : cases) {
        SCOPED_TRACE(c.name);
        TMemTable table;
        table.AddField("A", ftString, 10);
        table.AddField("B", ftString, 10);
        table.AddField("C", ftString, 10);
        table.Open();
        TMemorySource comp;
        comp.SetDataSet(&table);
        for (const auto& l : c.lines) comp.Mappings().Add(l);
        comp.SetDatasetKeys(c.keys);
        comp.SetMode(c.mode);
        comp.PrepareMappings();
        comp.PrepareRowValues();
        EXPECT_EQ(Entries(comp.RowValues()), c.rowValues);
        EXPECT_EQ(Entries(comp.MappingEntries()), c.mapping);
        EXPECT_EQ(Entries(comp.KeyEntries()), c.keyEntries);
    }
}

TEST(PrepareRowValues, NullWithoutEntries) {
    TMemTable table;
    table.AddField("A", ftString, 10);
    table.Open();
    for (TImportMode mode : {imAppend, imCopy}) {
        TMemorySource comp;
        comp.SetDataSet(&table);
        comp.Mappings().Add("A=");  // a key entry, but keys do not count in these modes
        comp.SetDatasetKeys("A");
        comp.SetMode(mode);
        comp.PrepareMappings();
        comp.PrepareRowValues();
        EXPECT_TRUE(comp.RowValues().IsNull());
    }
}

// ---------------------------------------------------------------------------------------------
// Columns and default mappings

TEST(CreateColumns, OneColumnPerDestinationField) {
    TMemTable table;
    table.AddField("Host", ftString, 40)->SetDisplayLabel("Host name");
    table.AddField("Size", ftInteger);
    table.AddField("Price", ftCurrency);
    table.AddField("When", ftDateTime);
    table.Open();
    TMemorySource comp;
    comp.SetDataSet(&table);
    comp.CreateColumns();
    ASSERT_EQ(comp.Columns().Count(), 4);
    struct Expect {
        std::string name, caption;
        TQelDataType type;
        int size, precision;
        TAlignment alignment;
    };
    const std::vector<Expect> expected = {{"Host", "Host name", itString, 40, 0, taLeftJustify},
                                          {"Size", "Size", itInteger, 0, 0, taRightJustify},
                                          {"Price", "Price", itFloat, 0, 15, taRightJustify},
                                          {"When", "When", itDateTime, 0, 0, taLeftJustify}};
    for (int i = 0; i < 4; ++i) {
        const TQelColumn& c = comp.Columns()[i];
        const Expect& e = expected[static_cast<std::size_t>(i)];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(c.FieldName(), e.name);
        EXPECT_EQ(c.Caption(), e.caption);
        EXPECT_EQ(c.DataType(), e.type);
        EXPECT_EQ(c.Size(), e.size);
        EXPECT_EQ(c.Precision(), e.precision);
        EXPECT_EQ(c.Alignment(), e.alignment);
    }
}

// A column's type follows the conversion its field's values get: a large integer is not
// converted, so its column is text.
TEST(CreateColumns, ColumnTypeFollowsTheFieldsConversion) {
    const std::pair<TFieldType, TQelDataType> cases[] = {
        {ftSmallint, itInteger}, {ftAutoInc, itInteger},   {ftLargeint, itString},
        {ftBCD, itFloat},        {ftCurrency, itFloat},    {ftDate, itDate},
        {ftTime, itTime},        {ftDateTime, itDateTime}, {ftBoolean, itBoolean},
        {ftMemo, itString},      {ftBlob, itString},       {ftUnknown, itString},
    };
    for (const auto& [field, column] : cases) {
        SCOPED_TRACE(FieldTypeName(field));
        EXPECT_EQ(FieldTypeToDataType(field), column);
    }
}

struct DefaultMappingCase {
    const char* name;
    std::vector<std::string> columns;
    bool useDisplayNames;
    std::vector<std::string> lines;
};

TEST(CreateMappings, ByNameThenByPosition) {
    const std::vector<DefaultMappingCase> cases = {
        {"by name, letter case ignored", {"host", "code"}, false, {"Host=host", "Code=code"}},
        {"one match: the others get no line", {"x", "CODE", "y"}, false, {"Code=CODE"}},
        {"no match: by position as far as the fields reach",
         {"p", "q", "r", "s"},
         false,
         {"Host=p", "Code=q", "Ref=r"}},
        {"display labels when asked", {"referrer", "y"}, true, {"Ref=referrer"}},
        {"display labels not used otherwise", {"referrer"}, false, {"Host=referrer"}},
        {"no columns", {}, false, {}},
    };
    for (const DefaultMappingCase& c : cases) {
        SCOPED_TRACE(c.name);
        TMemTable table;
        table.AddField("Host", ftString, 40);
        table.AddField("Code", ftInteger);
        table.AddField("Ref", ftString, 40)->SetDisplayLabel("Referrer");
        table.Open();
        TMemorySource comp;
        comp.SetDataSet(&table);
        comp.SetUseDisplayNames(c.useDisplayNames);
        comp.Mappings().Add("stale=line");
        for (const auto& name : c.columns) comp.Columns().Add().SetFieldName(name);
        comp.CreateMappings();
        EXPECT_EQ(comp.Mappings().Lines(), c.lines);
    }
}

}  // namespace
}  // namespace qel::test
