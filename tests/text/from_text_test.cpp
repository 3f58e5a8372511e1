// TQelFromText: settings, the source half of a run, columns and default mappings, from files
// and streams into a table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/Errors.h"
#include "dataset/MemTable.h"
#include "text/Qel2TXT.h"

namespace qel {
namespace {

using Strings = std::vector<std::string>;

class FromText : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qel_fromtext_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        // A quiet component: no dialog, no message box.
        qel_.SetAnimatedStatus(false);
        qel_.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        qel_.SetDataSet(&table_);
    }
    void TearDown() override {
        table_.Close();
        std::filesystem::remove_all(dir_);
    }

    std::string Write(const std::string& content, const std::string& name = "src.txt") {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // A table of string fields, opened and empty.
    void Fields(const std::vector<std::pair<std::string, int>>& fields) {
        table_.Close();
        table_.ClearFields();
        for (const auto& [name, size] : fields) table_.AddField(name, ftString, size);
        table_.Open();
    }
    // Every record of the table, its first `columns` fields (all when negative) joined by "|",
    // null as "~".
    Strings Rows(int columns = -1) {
        Strings out;
        const int n = columns < 0 ? table_.FieldCount() : columns;
        for (table_.First(); !table_.Eof(); table_.Next()) {
            std::string row;
            for (int i = 0; i < n; ++i) {
                const Variant v = table_.Fields(i)->Value();
                row += (i ? "|" : "") + (v.IsNull() ? std::string("~") : VarToStr(v));
            }
            out.push_back(row);
        }
        return out;
    }

    std::filesystem::path dir_;
    TMemTable table_;
    TQelFromText qel_;
};

TEST_F(FromText, NewComponentDefaults) {
    TQelFromText fresh;
    EXPECT_EQ(fresh.SourceFileName(), "Qel.TXT");
    EXPECT_EQ(fresh.SourceKind(), 2);
    EXPECT_EQ(fresh.Options().Bits(), 31);
    EXPECT_EQ(fresh.RowLast(), 2147483647);
    EXPECT_EQ(fresh.FieldDelimiter(), fdTab);
    EXPECT_EQ(fresh.FieldDelimiterCustom(), '\t');
    EXPECT_EQ(fresh.TextQualifier(), tqQuot);
    EXPECT_EQ(fresh.TextQualifierCustom(), '"');
    EXPECT_EQ(fresh.RecordSeparator(), rsCRLF);
    EXPECT_EQ(fresh.RecordSeparatorCustom(), "\r\n");
    EXPECT_EQ(fresh.GetDefaultExt(), ".TXT");
    EXPECT_EQ(fresh.GetFileFilter(),
              "Text file (*.txt)|*.TXT|Comma-delimited file (*.csv)|*.CSV|Data file (*.dat)|*.DAT|"
              "Text file (*.prn)|*.PRN|Tabular file (*.tab)|*.TAB|ASCII file (*.asc)|*.ASC|"
              "All files (*.*)|*.*");
}

TEST_F(FromText, NamedChoicesAndCharactersFollowEachOther) {
    struct Delim {
        TQelFieldDelimiter set;
        char want;
    } delims[] = {
        {fdNone, '\0'}, {fdTab, '\t'}, {fdSemicolon, ';'}, {fdComma, ','}, {fdSpace, ' '}};
    for (auto c : delims) {
        qel_.SetFieldDelimiterCustom('#');
        qel_.SetFieldDelimiter(c.set);
        EXPECT_EQ(qel_.FieldDelimiterCustom(), c.want) << int(c.set);
    }
    struct DelimChar {
        char set;
        TQelFieldDelimiter want;
    } delimChars[] = {{'\0', fdNone}, {'\t', fdTab},      {' ', fdSpace},
                      {',', fdComma}, {';', fdSemicolon}, {'|', fdCustom}};
    for (auto c : delimChars) {
        qel_.SetFieldDelimiterCustom(c.set);
        EXPECT_EQ(qel_.FieldDelimiter(), c.want) << int(c.set);
    }
    qel_.SetFieldDelimiterCustom('|');
    qel_.SetFieldDelimiter(fdCustom);
    EXPECT_EQ(qel_.FieldDelimiterCustom(), '|');

    struct Qual {
        TQelTextQualifier set;
        char want;
    } quals[] = {{tqNone, '\0'}, {tqQuot, '"'}, {tqApos, '\''}};
    for (auto c : quals) {
        qel_.SetTextQualifierCustom('`');
        qel_.SetTextQualifier(c.set);
        EXPECT_EQ(qel_.TextQualifierCustom(), c.want) << int(c.set);
    }
    struct QualChar {
        char set;
        TQelTextQualifier want;
    } qualChars[] = {{'\0', tqNone}, {'"', tqQuot}, {'\'', tqApos}, {'`', tqCustom}};
    for (auto c : qualChars) {
        qel_.SetTextQualifierCustom(c.set);
        EXPECT_EQ(qel_.TextQualifier(), c.want) << int(c.set);
    }
    qel_.SetTextQualifier(tqCustom);
    EXPECT_EQ(qel_.TextQualifierCustom(), '`');

    struct Sep {
        TQelRecordSeparator set;
        std::string want;
    } seps[] = {{rsCRLF, "\r\n"}, {rsCR, "\r"}, {rsLF, "\n"}, {rsCustom, "\n"}};
    for (const auto& c : seps) {
        qel_.SetRecordSeparator(c.set);
        EXPECT_EQ(qel_.RecordSeparatorCustom(), c.want) << int(c.set);
    }
    struct SepText {
        std::string set;
        TQelRecordSeparator want;
    } sepTexts[] = {{"\r\n", rsCRLF},       {"\r", rsCR},   {"\n", rsLF},    {"\n\r", rsCustom},
                    {"\r\n\r\n", rsCustom}, {"", rsCustom}, {"||", rsCustom}};
    for (const auto& c : sepTexts) {
        qel_.SetRecordSeparatorCustom(c.set);
        EXPECT_EQ(qel_.RecordSeparator(), c.want) << testing::PrintToString(c.set);
    }
}

TEST_F(FromText, RequiredSettings) {
    TQelFromText q;
    std::string name;
    EXPECT_TRUE(q.CheckRequired(name));
    EXPECT_EQ(name, "DataSet");
    q.SetDataSet(&table_);
    q.SetSourceFileName("");
    EXPECT_TRUE(q.CheckRequired(name));
    EXPECT_EQ(name, "SourceFileName");
    q.SetSourceFileName("x.txt");
    EXPECT_FALSE(q.CheckRequired(name));

    // Also a stream run needs a file name.
    Fields({{"A", 10}});
    qel_.SetSourceFileName("");
    std::istringstream in("a\r\n");
    try {
        qel_.ImportFromStream(in);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Property SourceFileName wasn't specified.");
    }
}

TEST_F(FromText, UnreadableSourcesStopTheRunBeforeItsRows) {
    Fields({{"A", 10}});
    bool after = false;
    qel_.OnAfterExecute = [&](TQelBaseComponent&) { after = true; };
    for (const std::string& name : {(dir_ / "missing.txt").string(), dir_.string()}) {
        qel_.SetSourceFileName(name);
        try {
            qel_.Execute();
            ADD_FAILURE() << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + name);
        }
    }
    EXPECT_FALSE(after);
    EXPECT_TRUE(Rows().empty());
}

// Runs over files: the settings of each case, the mapping lines, the rows that arrive.
TEST_F(FromText, RunsFromFiles) {
    const std::string log =
        "127.0.0.1 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.gif\" 200 2326 \"/prev.html\"\n"
        "\n"
        "10.0.0.2 - - [10/Oct/2000:13:55:37 -0700] \"GET /b c.html\" 404 - \"-\"\n";
    struct Case {
        const char* name;
        std::string text;
        std::function<void(TQelFromText&)> settings;
        Strings mappings;
        Strings want;
        int imported;  // rows the run took from the source
    } cases[] = {
        {"access log",
         log,
         [](TQelFromText& q) {
             q.SetFieldDelimiterCustom(' ');
             q.SetRecordSeparator(rsLF);
         },
         {"A=Field1", "B=Field6", "C=Field9", "D=Field10"},
         {"127.0.0.1|GET /a.gif|/prev.html|~", "10.0.0.2|GET /b c.html|-|~"},
         2},
        {"row range 3..4",
         "h\r\n1\r\n2\r\n3\r\n4\r\n",
         [](TQelFromText& q) {
             q.SetRowFirst(3);
             q.SetRowLast(4);
         },
         {"A=Field1", "B=Text"},
         {"2|2", "3|3"},
         2},
        {"last before first",
         "1\r\n2\r\n3\r\n",
         [](TQelFromText& q) {
             q.SetRowFirst(3);
             q.SetRowLast(2);
         },
         {"A=Field1"},
         {},
         0},
        {"quoted separators in CSV",
         "\"a\r\nb\",c\r\n\"x,y\",\"z\"\r\n",
         [](TQelFromText& q) { q.SetFieldDelimiter(fdComma); },
         {"A=Field1", "B=Field2"},
         {"a\r\nb|c", "x,y|z"},
         2},
        {"fixed width",
         "ABCDE 123\nVWXYZ 4\n",
         [](TQelFromText& q) {
             q.SetFixed(true);
             q.SetFieldDelimiter(fdSpace);
             q.SetRecordSeparator(rsLF);
         },
         {"A=Text1-6", "B=Text7-9", "C=Field1"},
         {"ABCDE|123|~", "VWXYZ|4|~"},
         2},
        {"blank records kept without skipping",
         "a\n \nb",
         [](TQelFromText& q) {
             q.SetRecordSeparator(rsLF);
             q.SetOptions(q.Options().Exclude(soSkipEmptyRow));
         },
         {"A=Text"},
         {"a", " ", "b"},
         3},
        {"empty file", "", [](TQelFromText&) {}, {"A=Text"}, {}, 0},
        {"end marks only", "\x1a", [](TQelFromText&) {}, {"A=Text"}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fields({{"A", 40}, {"B", 40}, {"C", 40}, {"D", 40}});
        TQelFromText q;
        q.SetAnimatedStatus(false);
        q.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        q.SetDataSet(&table_);
        q.SetSourceFileName(Write(c.text));
        c.settings(q);
        for (const auto& m : c.mappings) q.Mappings().Add(m);
        q.Execute();
        EXPECT_EQ(q.Statistic().Result(), irExecuted);
        EXPECT_EQ(q.Statistic().TotalImported(), c.imported);
        EXPECT_EQ(Rows(static_cast<int>(c.mappings.size())), c.want);
    }
}

// A source that answers names its own way binds none: every value goes through GetSourceValue.
class UnboundText : public TQelFromText {
  public:
    int BindSourceName(const std::string&) override { return -1; }
};

TEST_F(FromText, BoundNamesGiveWhatTheNamesGive) {
    // Every kind of reference, delimited and fixed, with a handler that switches the mode and
    // the trimming between rows: the bound run must store what the unbound run stores.
    const std::string text =
        "a1;  b2 ;c3;;\"e;5\";\r\nxyzzy;0;;;\r\n;\r\nlonger line with no delimiter at all\r\n"
        "q;w;e;r;t;y;u;i;o;p;\r\n";
    const Strings mappings = {"A=Field1", "B=[Field2]", "C=\"Field5\"", "D=Field0", "E=Field11",
                              "F=Text",   "G=Text2-4",  "H=Fieldx",     "I=Host",   "J=Field3"};
    std::vector<std::pair<std::string, int>> fields;
    for (char c = 'A'; c <= 'J'; ++c) fields.push_back({std::string(1, c), 60});
    auto load = [&](TQelFromText& q, bool switching) {
        Fields(fields);
        q.SetAnimatedStatus(false);
        q.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        q.SetDataSet(&table_);
        q.SetSourceFileName(Write(text));
        q.SetFieldDelimiter(fdSemicolon);
        q.SetTrimSpaces(tsTrimLeftRight);
        for (const auto& m : mappings) q.Mappings().Add(m);
        if (switching) {
            q.OnAfterRecordEvent = [](TQelBaseComponent& sender, bool&) {
                auto& t = static_cast<TQelFromText&>(sender);
                t.SetFixed(!t.Fixed());
                t.SetTrimSpaces(t.TrimSpaces() == tsNoTrim ? tsTrimLeftRight : tsNoTrim);
            };
        }
        q.Execute();
        EXPECT_EQ(q.Statistic().Result(), irExecuted);
        return Rows();
    };
    for (bool switching : {false, true}) {
        SCOPED_TRACE(switching ? "mode switched between rows" : "one mode");
        TQelFromText bound;
        UnboundText unbound;
        const Strings got = load(bound, switching);
        const Strings want = load(unbound, switching);
        ASSERT_EQ(got.size(), 5u);
        EXPECT_EQ(got, want);
        if (!switching) {
            EXPECT_EQ(got[0], "a1|b2|e;5|~|~|a1;  b2 ;c3;;\"e;5\";|Text2-4|~|Host|c3");
        }
    }
}

TEST_F(FromText, RowOperationsSeeTheCurrentRecord) {
    Fields({{"A", 10}});
    qel_.SetSourceFileName(Write("x;1;\"q;r\"\r\n\r\ny;2;\r\n"));
    qel_.SetFieldDelimiter(fdSemicolon);
    qel_.Mappings().Add("A=Field1");
    Strings seen;
    qel_.OnBeforeRecordEvent = [&](TQelBaseComponent& sender, const std::string&, Variant&, bool&) {
        auto& q = static_cast<TQelFromText&>(sender);
        Variant v;
        std::string row = std::to_string(q.CurrentRow()) + ":" + std::string(q.CurrentLine()) + ":";
        for (const char* ref : {"Field2", "Field3", "Field4", "Text", "Host"}) {
            q.GetSourceValue(Variant(ref), v);
            row += "[" + VarToStr(v) + "]";
        }
        seen.push_back(row + ":" + std::to_string(q.RowCount()));
    };
    // After the run the source is closed, yet the row last loaded is still what it answers.
    std::string after;
    qel_.OnAfterExecute = [&](TQelBaseComponent& sender) {
        Variant v;
        for (const char* ref : {"Text", "Field2"}) {
            sender.GetSourceValue(Variant(ref), v);
            after += "[" + VarToStr(v) + "]";
        }
    };
    qel_.Execute();
    EXPECT_EQ(seen, (Strings{"0:x;1;\"q;r\":[1][q;r][][x;1;\"q;r\"][Host]:2",
                             "1:y;2;:[2][][][y;2;][Host]:2"}));
    EXPECT_EQ(after, "[y;2;][2]");
    // Closing the source lets go of the rows but not of the last one loaded.
    EXPECT_EQ(qel_.RowCount(), 0);
    EXPECT_EQ(qel_.CurrentLine(), "y;2;");
    // A run that loads no row has no last row.
    qel_.SetSourceFileName(Write(""));
    after.clear();
    qel_.Execute();
    EXPECT_EQ(after, "[][]");
    EXPECT_EQ(qel_.CurrentLine(), "");
}

TEST_F(FromText, StreamsAreReadFromTheirPosition) {
    Fields({{"A", 10}, {"B", 10}});
    std::istringstream in("skip me\r\na\tb\r\nc\td\r\n");
    in.seekg(9);
    qel_.Mappings().Add("A=Field1");
    qel_.Mappings().Add("B=Field2");
    qel_.ImportFromStream(in);
    EXPECT_EQ(Rows(), (Strings{"a|b", "c|d"}));
}

TEST_F(FromText, HeaderLineOutlivesTheRun) {
    Fields({{"A", 10}});
    qel_.Mappings().Add("A=Field1");
    qel_.SetSourceFileName(Write("h1\r\nv1\r\n"));
    qel_.Execute();
    EXPECT_EQ(qel_.HeaderLine(), "h1");
    // A run that stops before the header record leaves the last one read.
    qel_.SetSourceFileName(Write("v2\r\nv3\r\nh2\r\n"));
    qel_.SetRowLast(1);
    qel_.SetRowFieldNames(3);
    qel_.Execute();
    EXPECT_EQ(qel_.HeaderLine(), "h1");
    EXPECT_EQ(Rows(), (Strings{"h1", "v1", "v2"}));
}

TEST_F(FromText, MultiMegabyteLinesSplitExactly) {
    Fields({{"A", 10}, {"B", 10}});
    const std::string huge(3'000'000, 'x');
    qel_.SetSourceFileName(Write("a\t\"" + huge + "\"\tb\r\nc\t\td\r\n"));
    qel_.Mappings().Add("A=Field1");
    qel_.Mappings().Add("B=Field3");
    std::size_t size = 0;
    qel_.OnBeforeRecordEvent = [&](TQelBaseComponent& sender, const std::string&, Variant&, bool&) {
        Variant v;
        sender.GetSourceValue(Variant("Field2"), v);
        size += VarToStr(v).size();
    };
    qel_.Execute();
    EXPECT_EQ(size, huge.size());
    EXPECT_EQ(Rows(), (Strings{"a|b", "c|d"}));
}

// Columns and default mappings when the run starts without mapping lines.
TEST_F(FromText, GeneratedColumnsAndMappings) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, int>> fields;
        std::string text;
        std::function<void(TQelFromText&)> settings;
        Strings columns;  // "name=caption/size"
        Strings mappings;
        Strings rows;
    } cases[] = {
        {"by position",
         {{"A", 5}, {"B", 3}, {"C", 8}},
         "1\t2\t3\r\n",
         [](TQelFromText&) {},
         {"A=Field1/5", "B=Field2/3", "C=Field3/8"},
         {"A=Field1", "B=Field2", "C=Field3"},
         {"1|2|3"}},
        {"fixed by position",
         {{"A", 5}, {"B", 3}, {"C", 8}},
         "aaaaa bbb cccccccc\r\n",
         [](TQelFromText& q) {
             q.SetFixed(true);
             q.SetFieldDelimiter(fdSpace);
         },
         {"A=Text1-6/5", "B=Text7-10/3", "C=Text11-19/8"},
         {"A=Text1-6", "B=Text7-10", "C=Text11-19"},
         {"aaaaa|bbb|cccccccc"}},
        {"header line names the columns",
         {{"HOST", 10}, {"AGENT", 10}, {"CODE", 10}},
         "Host;Bytes;;Agent\r\nh;1;x;ag\r\n",
         [](TQelFromText& q) {
             q.SetRowFirst(2);
             q.SetFieldDelimiter(fdSemicolon);
         },
         {"Host=Field1/0", "Bytes=Field2/0", "Agent=Field4/0"},
         {"HOST=Field1", "AGENT=Field4"},
         {"h|ag|~"}},
        {"fixed header line",
         {{"NAME", 4}, {"CODE", 4}},
         "NAME CODE\r\nabcd wxyz\r\n",
         [](TQelFromText& q) {
             q.SetRowFirst(2);
             q.SetFixed(true);
             q.SetFieldDelimiter(fdSpace);
         },
         {"NAME=Text1-4/4", "CODE=Text6-9/4"},
         {"NAME=Text1-4", "CODE=Text6-9"},
         {"abcd|wxyz"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fields(c.fields);
        TQelFromText q;
        q.SetAnimatedStatus(false);
        q.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        q.SetDataSet(&table_);
        q.SetSourceFileName(Write(c.text));
        c.settings(q);
        Strings columns, mappings;
        q.OnCreateStructure = [&](TQelBaseComponent&, TQelColumns& cols) {
            for (int i = 0; i < cols.Count(); ++i) {
                columns.push_back(cols[i].FieldName() + "=" + cols[i].Caption() + "/" +
                                  std::to_string(cols[i].Size()));
            }
        };
        q.OnBeforeRecordEvent = [&](TQelBaseComponent& sender, const std::string&, Variant&,
                                    bool&) {
            if (mappings.empty()) mappings = sender.Mappings().Lines();
        };
        q.Execute();
        EXPECT_EQ(q.Statistic().Result(), irExecuted);
        EXPECT_EQ(columns, c.columns);
        EXPECT_EQ(mappings, c.mappings);
        EXPECT_EQ(Rows(), c.rows);
        EXPECT_TRUE(q.Mappings().Empty());  // generated lines go again after the run
    }
}

}  // namespace
}  // namespace qel
