// Hostile sources and settings, each through a whole run of the text source into an SQLite
// table: nothing crashes, every byte of a stored field is the source's byte, and every row read
// is either in the table or offered to the host as a failed row.
#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "ReliabilityKit.h"
#include "dataset/MemTable.h"
#include "expr/QelPars.h"

namespace qel::rel {
namespace {

// A run of `text` into the table "t" (A, B, C: TEXT) of a fresh file, mapping fields 1 to 3.
struct HostileRun {
    TQelResult Result = irUnknown;
    int Imported = 0;
    int Added = 0;
    int Errors = 0;            // TotalErrors: failed writes
    std::set<int> FailedRows;  // every row offered to OnErrorEvent
    std::vector<std::string> Messages;
};

struct Settings {
    std::vector<std::string> mappings{"A=Field1", "B=Field2", "C=Field3"};
    std::string loadWhen;
};

HostileRun RunInto(const TempDir& dir, std::string_view text, const Settings& settings = {}) {
    WriteFile(dir.File("in.txt"), text);
    TSqliteTable::CreateTable(dir.File("t.db"), "t",
                              {{"A", ftMemo, 0}, {"B", ftMemo, 0}, {"C", ftMemo, 0}});
    TSqliteTable table;
    OpenTable(table, dir.File("t.db"));
    TQelFromText run;
    SetUpNumberedSource(run, table, dir.File("in.txt"));
    run.Mappings().Clear();
    for (const std::string& m : settings.mappings) run.Mappings().Add(m);
    run.LoadCondition().SetLoadWhen(settings.loadWhen);
    HostileRun out;
    run.OnErrorEvent = [&](TQelBaseComponent& s, const Exception& e, bool& abort) {
        abort = false;  // the host goes on with the next row
        out.FailedRows.insert(s.Statistic().TotalImported());
        if (out.Messages.size() < 5) out.Messages.push_back(e.Message());
    };
    run.Execute();
    out.Result = run.Statistic().Result();
    out.Imported = run.Statistic().TotalImported();
    out.Added = run.Statistic().TotalAdded();
    out.Errors = run.Statistic().TotalErrors();
    table.Close();
    return out;
}

// Nothing lost: the rows in the table are the ones counted as added, and each row read was
// either added, left out by the load condition, or reported to the host.
void ExpectAccounted(const TempDir& dir, const HostileRun& r, int filtered = 0) {
    EXPECT_EQ(r.Result, irExecuted);
    SqliteReader reader(dir.File("t.db"));
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    EXPECT_EQ(reader.Count("t"), r.Added);
    EXPECT_EQ(r.Added + static_cast<int>(r.FailedRows.size()) + filtered, r.Imported);
    EXPECT_LE(r.Errors, static_cast<int>(r.FailedRows.size()));
}

std::string Garbage(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

// ---------------------------------------------------------------------------------------------

struct SourceCase {
    const char* name;
    std::function<std::string()> text;
    int rows;  // rows the run reads
    // Checks of the stored rows: SQL over "t" and the text it must give.
    std::vector<std::pair<std::string, std::string>> checks;
};
void PrintTo(const SourceCase& c, std::ostream* os) {
    *os << c.name;
}

class HostileSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(HostileSource, StoresTheBytesAndLosesNoRow) {
    const SourceCase& c = GetParam();
    TempDir dir;
    HostileRun r = RunInto(dir, c.text());
    if (c.rows >= 0) {
        EXPECT_EQ(r.Imported, c.rows);
    }
    ExpectAccounted(dir, r);
    SqliteReader reader(dir.File("t.db"));
    for (const auto& [sql, expected] : c.checks) EXPECT_EQ(reader.Scalar(sql), expected) << sql;
}

const std::string kMB(1 << 20, 'x');

INSTANTIATE_TEST_SUITE_P(
    Reliability, HostileSource,
    ::testing::Values(
        SourceCase{"EmptyFile", [] { return std::string(); }, 0, {}},
        SourceCase{"OnlyRecordSeparators", [] { return std::string(1000, '\n'); }, 0, {}},
        SourceCase{"OnlyDelimiters",
                   [] { return std::string(",,\n,,,,,\n,\n"); },
                   3,
                   {{"SELECT count(*) FROM t WHERE A IS NULL AND B IS NULL AND C IS NULL", "3"}}},
        SourceCase{"NulBytes",
                   [] { return std::string("a\0b,c\0,\0\n\0\0\0,x,y\n", 17); },
                   2,
                   {{"SELECT group_concat(hex(A) || '.' || hex(B) || '.' || ifnull(hex(C), '-'), ' "
                     "') FROM t",
                     "610062.6300.00 000000.78.79"}}},
        SourceCase{
            "InvalidUtf8",
            [] {
                return std::string(
                    "\xff\xfe,\xc3\x28,\xe2\x82\n\xed\xa0\x80,\xc0\xaf,\xf8\x88\x80\x80\x80\n");
            },
            2,
            {{"SELECT group_concat(hex(A) || '.' || hex(B) || '.' || hex(C), ' ') FROM t",
              "FFFE.C328.E282 EDA080.C0AF.F888808080"}}},
        SourceCase{
            "LinesOfOneMegabyte",
            [] { return kMB + "," + kMB + ",end\n" + "short,line,2\n" + "\"" + kMB + "\"\n"; },
            3,
            {{"SELECT group_concat(length(A) || '.' || ifnull(length(B), 0) || '.' || ifnull(C, "
              "'-'), ' ') FROM t",
              "1048576.1048576.end 5.4.2 1048576.0.-"}}},
        SourceCase{"UnbalancedQualifier",
                   // The open quote takes the rest of the file into its record: nothing is dropped.
                   [] { return std::string("a,b,c\n\"open,x\nd,e,f\ng,h,i\n"); },
                   2,
                   {{"SELECT A || '|' || B || '|' || C FROM t WHERE rowid = 1", "a|b|c"},
                    {"SELECT instr(ifnull(A, '') || ifnull(B, '') || ifnull(C, ''), 'g,h,i') > 0 "
                     "FROM t WHERE rowid = 2",
                     "1"}}},
        SourceCase{"QualifierAtEveryPlace",
                   [] { return std::string("\"\"\"\n\",\",\"\n,\"\n\"\",\"\"\",\n"); },
                   -1,
                   {}},
        SourceCase{"BinaryGarbage", [] { return Garbage(256 * 1024, 1); }, -1, {}},
        SourceCase{"GarbageWithManyLineFeeds",
                   [] {
                       std::string g = Garbage(64 * 1024, 2);
                       for (std::size_t i = 0; i < g.size(); i += 7) g[i] = '\n';
                       return g;
                   },
                   -1,
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Expressions that are too deep or too many: each row fails alone and is reported; the run
// goes on and nothing crashes.

std::string Nested(int depth, const std::string& open, const std::string& inner,
                   const std::string& close) {
    std::string s;
    s.reserve(static_cast<std::size_t>(depth) * (open.size() + close.size()) + inner.size());
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

struct DeepCase {
    const char* name;
    std::function<Settings()> settings;
    const char* message;  // what the host is told for every row; empty: the rows are stored
};
void PrintTo(const DeepCase& c, std::ostream* os) {
    *os << c.name;
}

class DeepExpression : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeepExpression, EveryRowFailsAloneAndIsReported) {
    const DeepCase& c = GetParam();
    TempDir dir;
    HostileRun r = RunInto(dir, NumberedText(5), c.settings());
    EXPECT_EQ(r.Imported, 5);
    ExpectAccounted(dir, r);
    if (*c.message == '\0') {
        EXPECT_EQ(r.Added, 5);
        SqliteReader reader(dir.File("t.db"));
        EXPECT_EQ(reader.Scalar("SELECT group_concat(A, ' ') FROM t"), "1 2 3 4 5");
        return;
    }
    EXPECT_EQ(r.Added, 0);
    EXPECT_EQ(static_cast<int>(r.FailedRows.size()), 5);
    ASSERT_FALSE(r.Messages.empty());
    EXPECT_EQ(r.Messages.front(), c.message);
}

constexpr int kDeep = 100000;

INSTANTIATE_TEST_SUITE_P(
    Reliability, DeepExpression,
    ::testing::Values(
        // Brackets around one operand are taken off without nesting the tree.
        DeepCase{"BracketsAroundOneOperand",
                 [] {
                     return Settings{{"A=" + Nested(kDeep, "(", "Field1", ")"), "B=Field2"}, ""};
                 },
                 ""},
        DeepCase{"BracketsAroundSums",
                 [] {
                     return Settings{{"A=" + Nested(kDeep, "(1+", "Field1", ")")}, ""};
                 },
                 "Compile error: expression nested deeper than 1000 levels."},
        DeepCase{"CallsInAMapping",
                 [] {
                     return Settings{{"A=" + Nested(kDeep, "UPPER(", "Field1", ")")}, ""};
                 },
                 "Compile error: expression nested deeper than 1000 levels."},
        DeepCase{"OperatorsInTheLoadCondition",
                 [] {
                     return Settings{{"A=Field1"}, Nested(kDeep, "NOT (", "Field1 = 1", ")")};
                 },
                 "Compile error: expression nested deeper than 1000 levels."},
        DeepCase{"SignsInAMapping",
                 [] {
                     return Settings{{"A=" + Nested(kDeep, "-(", "1", ")")}, ""};
                 },
                 "Compile error: expression nested deeper than 1000 levels."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ManyMappings, TenThousandMappingLinesFillTenThousandFields) {
    const int kFields = 10000;
    TempDir dir;
    WriteFile(dir.File("in.txt"), "a,b,c\nd,e,f\n");
    TMemTable table;
    for (int i = 1; i <= kFields; ++i) table.AddField("F" + std::to_string(i), ftString, 20);
    table.Open();
    TQelFromText run;
    SetUpNumberedSource(run, table, dir.File("in.txt"));
    run.Mappings().Clear();
    for (int i = 1; i <= kFields; ++i) {
        run.Mappings().Add("F" + std::to_string(i) + "=Field" + std::to_string(i % 3 + 1));
    }
    run.Execute();
    EXPECT_EQ(run.Statistic().Result(), irExecuted);
    EXPECT_EQ(run.Statistic().TotalAdded(), 2);
    ASSERT_EQ(table.RecordCount(), 2);
    table.Last();
    for (int i : {1, 2, 3, 4999, 10000}) {
        EXPECT_EQ(table.FieldByName("F" + std::to_string(i))->AsString(),
                  std::string(1, "def"[i % 3]))
            << "F" << i;
    }
}

TEST(ManyMappings, TenThousandLinesForOneFieldWriteTheLastValue) {
    TempDir dir;
    Settings s;
    s.mappings.clear();
    for (int i = 1; i <= 10000; ++i) s.mappings.push_back("A=Field" + std::to_string(i % 3 + 1));
    HostileRun r = RunInto(dir, "a,b,c\n", s);
    ExpectAccounted(dir, r);
    SqliteReader reader(dir.File("t.db"));
    EXPECT_EQ(reader.Scalar("SELECT A FROM t"), "b");  // line 10000 maps Field2
}

// ---------------------------------------------------------------------------------------------
// Names with quotes and semicolons reach SQL only as quoted identifiers.

TEST(HostileNames, TableAndFieldNamesWithQuotesAndSemicolonsAreIdentifiers) {
    TempDir dir;
    const std::string stem = "lo\"g'; DROP TABLE keep; --";
    const std::string db = dir.File(stem + ".db");
    TSqliteTable::CreateTable(
        db, stem, {{"Ho\"st", ftString, 40}, {"a;b", ftString, 40}, {"it's", ftString, 40}});
    TSqliteTable::CreateTable(db, "keep", {{"K", ftString, 10}});
    {
        sqlite3* h = nullptr;
        sqlite3_open(db.c_str(), &h);
        sqlite3_exec(h, "INSERT INTO keep VALUES ('kept')", nullptr, nullptr, nullptr);
        sqlite3_close(h);
    }
    WriteFile(dir.File("in.txt"), "h1,x;y,z'\"\nh2,\"; DELETE FROM keep; --\",w\nh1,second,v\n");
    TSqliteTable table;
    OpenTable(table, db);
    EXPECT_EQ(table.SqlTableName(), stem);
    TQelFromText run;
    SetUpNumberedSource(run, table, dir.File("in.txt"));
    run.Mappings().Clear();
    for (const char* m : {"Ho\"st=Field1", "a;b=Field2", "it's=Field3"}) run.Mappings().Add(m);
    run.SetMode(imAppendUpdate);
    run.SetDatasetKeys("Ho\"st");
    run.Execute();
    EXPECT_EQ(run.Statistic().Result(), irExecuted);
    EXPECT_EQ(run.Statistic().TotalAdded(), 2);
    EXPECT_EQ(run.Statistic().TotalUpdated(), 1);
    table.Close();

    SqliteReader reader(db);
    EXPECT_EQ(reader.Scalar("SELECT K FROM keep"), "kept");
    EXPECT_EQ(
        reader.Scalar(
            "SELECT group_concat(\"Ho\"\"st\" || '|' || \"a;b\" || '|' || \"it's\", ' / ') FROM " +
            TSqliteTable::QuoteName(stem)),
        "h1|second|v / h2|; DELETE FROM keep; --|w");
}

// ---------------------------------------------------------------------------------------------
// Values the expression language can make but no date can hold: every form of them is an
// error of the row, never undefined behaviour.

TEST(OutOfRangeDates, ComputedDatesBeyondTheCalendarAreErrors) {
    struct Case {
        const char* text;
        const char* message;  // empty: a value
    };
    const Case cases[] = {
        {"D + 10^400", "Invalid floating point operation"},  // infinite
        {"D - 10^400", "Invalid floating point operation"},
        {"D + 100000000", "Invalid floating point operation"},  // far beyond any calendar
        {"YEAR(D * 10^300)", "Invalid variant type conversion"},
        {"D + 1000", ""},
    };
    for (const Case& c : cases) {
        TQelParser parser;
        parser.SetOnEvaluate(
            [](TQelParser&, const std::string& name, const Variant*, int, Variant& v, bool&) {
                if (name == "D") v = Variant::FromDateTime(45000.25);
            });
        parser.SetText(c.text);
        std::string got;
        try {
            Variant v;
            parser.GetValue(v);
            (void)VarToStr(v);
        } catch (const Exception& e) {
            got = e.Message();
        }
        EXPECT_EQ(got, c.message) << c.text;
    }
    for (double d :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN(), 1e7 + 1, -1e300}) {
        EXPECT_THROW(VarToStr(Variant::FromDateTime(d)), EInvalidOp) << d;
        EXPECT_THROW(DecodeTime(d), EInvalidOp) << d;
    }
}

}  // namespace
}  // namespace qel::rel
