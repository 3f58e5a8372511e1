// Evaluation ahead of the row loop against the loop's own evaluation: the same random logs with
// random settings and handler sets, run once with EvaluateAhead off and once on, must give the
// same events in the same order with the same arguments, the same counters at every event, the
// same Statistic and the same table, whatever the outcome (executed, cancelled, failed).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../engine/EngineTestKit.h"
#include "text/Qel2TXT.h"

namespace qel {
namespace {

using test::Dump;
using test::TTraceTable;

std::string Describe(const Variant& v) {
    if (v.IsEmpty()) return "<empty>";
    if (v.IsNull()) return "<null>";
    if (v.IsArray()) {
        std::string s = "(";
        for (std::size_t i = 0; i < v.Count(); ++i) s += (i ? "," : "") + Describe(v[i]);
        return s + ")";
    }
    return std::string(v.KindName()) + ":" + VarToStr(v);
}

// A random field of a log line: words, numbers, dashes, blanks, quoted stretches, empties.
std::string RandomField(std::mt19937& rng) {
    static const char* const pieces[] = {"-",   "0",     "42",         "007",  "-5",   "abc", "T",
                                         "N",   "12 34", " 7",         "7 ",   "x-y",  "1e3", "",
                                         "3.5", "True",  "2147483648", "Text", "aa\tb"};
    std::uniform_int_distribution<int> pick(0, std::size(pieces) - 1), kind(0, 9);
    std::string piece = pieces[pick(rng)];
    switch (kind(rng)) {
        case 0:
            return "\"" + piece + " " + pieces[pick(rng)] + "\"";
        case 1:
            return std::string(static_cast<std::size_t>(pick(rng)) * 7, 'w');
        default:
            return piece;
    }
}

std::string RandomLog(std::mt19937& rng, int lines) {
    std::uniform_int_distribution<int> fields(0, 7), blank(0, 40);
    std::string log;
    for (int i = 0; i < lines; ++i) {
        if (blank(rng) == 0) log += "\n";
        const int n = fields(rng);
        for (int f = 0; f < n; ++f) log += (f ? " " : "") + RandomField(rng);
        log += "\n";
    }
    return log;
}

struct Outcome {
    std::vector<std::string> events;
    std::vector<std::string> rows;
    std::string statistic;
    std::int64_t ahead = 0;
};

// One run of case `seed` with the ahead evaluation on or off.
Outcome RunCase(unsigned seed, const std::string& logFile, const std::string& log, bool ahead) {
    std::mt19937 rng(seed);
    auto chance = [&rng](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(rng) < percent;
    };
    auto number = [&rng](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    std::ofstream(logFile, std::ios::binary) << log;

    Outcome out;
    THeadlessWindowSystem ws;
    const TScopedWindowSystem installed(ws);

    TTraceTable table;
    table.AddField("A", ftString);
    table.AddField("B", ftInteger);
    table.AddField("C", ftInteger);
    table.AddField("D", ftBoolean);
    table.AddField("E", ftString);
    table.Open();
    for (int i = 0; i < 3; ++i) {
        table.Append();
        table.Fields(0)->SetValue(Variant(std::to_string(i)));
        table.Fields(1)->SetValue(Variant(std::int32_t{i}));
        table.Post();
    }

    TQelFromText q;
    q.SetEvaluateAhead(ahead);
    q.SetDataSet(&table);
    q.SetSourceFileName(logFile);
    q.SetFieldDelimiterCustom(' ');
    q.SetTextQualifier(tqQuot);
    q.SetRecordSeparator(rsLF);
    q.SetOptions(q.Options().Exclude(soShowMessage));
    q.SetAnimatedStatus(chance(70));
    q.Statistic().SetUpdateStep(number(0, 40));
    q.SetTrimSpaces(static_cast<TQelTrimSpaces>(number(0, 3)));
    q.SetDashNull(chance(50));
    static const char* const sources[] = {"Field1", "Field2",   "Field3", "Field4",
                                          "Field5", "[Field6]", "Field9", "Field0"};
    static const char* const names[] = {"A", "B", "C", "D", "E", "X"};
    const int mappings = number(1, 7);
    for (int i = 0; i < mappings; ++i) {
        q.Mappings().Add(std::string(names[number(0, 5)]) + "=" + sources[number(0, 7)]);
    }
    const TImportMode modes[] = {imAppend,       imAppend, imAppend, imUpdate,
                                 imAppendUpdate, imDelete, imCopy};
    q.SetMode(modes[number(0, 6)]);
    q.SetDatasetKeys(chance(50) ? "A" : "B;A");
    if (chance(10)) q.SetRowFirst(number(1, 5));
    if (chance(10)) q.SetRowLast(number(1, 200));
    if (chance(20)) q.SetAbortOnProblem(false);
    // Records that cross chunk boundaries, and runs resumed part-way into the log.
    static const std::size_t chunks[] = {1, 7, 64, 1000, TQelFromText::kDefaultReadChunkSize};
    q.SetReadChunkSize(chunks[number(0, 4)]);
    if (chance(20)) {
        q.SetStartOffset(number(0, static_cast<int>(log.size())));
        q.SetRowFieldNames(0);
    }

    auto counters = [&q] {
        const TQelStatistic& s = q.Statistic();
        return " #" + std::to_string(s.TotalImported()) + " +" + std::to_string(s.TotalAdded()) +
               " ~" + std::to_string(s.TotalUpdated()) + " -" + std::to_string(s.TotalDeleted()) +
               " !" + std::to_string(s.TotalErrors()) + " a" + std::to_string(s.LastAction()) +
               " row" + std::to_string(q.CurrentRow());
    };
    auto log_ = [&out](std::string s) { out.events.push_back(std::move(s)); };

    // Which rows the handlers act at, drawn now so that both runs draw the same.
    const int changeAt = chance(40) ? number(1, 150) : -1;
    const int changeKind = number(0, 7);
    const int abortAt = chance(15) ? number(1, 150) : -1;
    const int cancelAt = chance(15) ? number(1, 20) : -1;
    const int stopOnErrorAt = chance(15) ? number(1, 5) : -1;
    int errors = 0;
    int refreshes = 0;

    if (chance(80)) {
        q.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool& abort) {
            // What a rejects file takes: the line and its fields, as the loop has them.
            std::string fields;
            for (const TFieldPosition& p : q.FieldPositions())
                fields += std::string(FieldText(q.CurrentLine(), p)) + "|";
            log_("Error " + e.Message() + counters() + " line " + std::string(q.CurrentLine()) +
                 " fields " + fields + " values " + Describe(q.RowValues()) + " mapped " +
                 Describe(q.MappingEntries()));
            abort = ++errors == stopOnErrorAt;
        };
    }
    if (chance(60)) {
        q.OnAfterRecordEvent = [&](TQelBaseComponent&, bool& abort) {
            const int row = q.Statistic().TotalImported();
            log_("After" + counters() + " " + Describe(q.RowValues()) + " at " +
                 std::to_string(q.CurrentRecordStart()) + "-" +
                 std::to_string(q.CurrentRecordEnd()) + " " + std::string(q.CurrentLine()));
            if (row == abortAt) abort = true;
            if (row != changeAt) return;
            // A setting the evaluation follows changes in the middle of the run.
            switch (changeKind) {
                case 0:
                    q.SetTrimSpaces(q.TrimSpaces() == tsNoTrim ? tsTrimLeftRight : tsNoTrim);
                    break;
                case 1:
                    q.SetDashNull(!q.DashNull());
                    break;
                case 2:
                    q.SetFieldDelimiterCustom('-');
                    break;
                case 3:
                    q.OnGetCellParams = [&](TQelBaseComponent&, TField* f, Variant& v) {
                        log_("Cell " + (f ? f->FieldName() : std::string("-")) + " " + Describe(v));
                        if (v.IsNull()) v = Variant("was null");
                    };
                    break;
                case 4:
                    q.LoadCondition().SetSkipIf("Field1 = '42'");
                    break;
                case 5:
                    q.DataFormats().SetBooleanTrue("abc");
                    break;
                case 6:
                    q.SetRowLast(row + 5);  // the loop ends early; the helper read on
                    break;
                case 7:
                    table.RetypeField(2, ftString);  // C's values are converted otherwise
                    break;
            }
        };
    }
    if (chance(30)) {
        q.OnBeforeFieldUpdate = [&](TQelBaseComponent&, TField* f, const Variant& v, bool& accept) {
            log_("Field " + f->FieldName() + " " + Describe(v));
            accept = !(v.IsText() && v.TextValue() == "abc");
        };
    }
    if (chance(30)) {
        q.OnLocateRecord = [&](TQelBaseComponent&, const std::string& keys, const Variant& values,
                               bool&, bool&) { log_("Locate " + keys + " " + Describe(values)); };
    }
    if (chance(20))
        q.OnBeforeUpdate = [&](TQelBaseComponent&) { log_("BeforeUpdate" + counters()); };
    // Some integers the table refuses, as a full disk or a constraint would.
    if (chance(40)) {
        table.refuse = [](const std::vector<Variant>& values) {
            return values[2].kind() == Variant::vkInteger && values[2].IntegerValue() == 7
                       ? std::string("refused 7")
                       : std::string();
        };
    }
    ws.onProcessMessages = [&] {
        log_("Refresh" + counters());
        if (++refreshes == cancelAt && ws.dialog) ws.dialog->btnCancelClick();
    };

    try {
        q.Execute();
    } catch (const std::exception& e) {
        log_(std::string("Raised ") + e.what());
    }
    const TQelStatistic& s = q.Statistic();
    out.statistic = "result " + std::to_string(s.Result()) + " count " +
                    std::to_string(s.TotalCount()) + counters() + " last " +
                    std::string(q.CurrentLine()) + " ends " + std::to_string(q.CurrentRecordEnd()) +
                    " error " + q.LastError();
    out.rows = Dump(table);
    out.ahead = q.RowsEvaluatedAhead();
    return out;
}

TEST(AheadEvaluation, RandomRunsMatchTheLoopsOwnEvaluation) {
    char tmpl[] = "/tmp/qel_ahead_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    const std::string logFile = (dir / "log.txt").string();

    std::int64_t aheadRows = 0, rows = 0;
    for (unsigned seed = 1; seed <= 150; ++seed) {
        std::mt19937 rng(seed * 7919u);
        const std::string log = RandomLog(rng, std::uniform_int_distribution<int>(0, 600)(rng));
        const Outcome plain = RunCase(seed, logFile, log, false);
        const Outcome ahead = RunCase(seed, logFile, log, true);
        EXPECT_EQ(plain.ahead, 0);
        ASSERT_EQ(ahead.events, plain.events) << "seed " << seed;
        ASSERT_EQ(ahead.rows, plain.rows) << "seed " << seed;
        ASSERT_EQ(ahead.statistic, plain.statistic) << "seed " << seed;
        aheadRows += ahead.ahead;
        rows += static_cast<std::int64_t>(plain.rows.size());
    }
    // The comparison means something only when most rows did come from the helper.
    EXPECT_GT(aheadRows, rows / 3);
    std::filesystem::remove_all(dir);
}

// The cases where the helper must not start, or must stop: each still loads what the loop
// loads, and the helper's share says which way the rows went.
// The source settings of the runs below: the log's space-delimited lines into `table`.
void SpaceDelimitedRun(TQelFromText& q, TMemTable& table, const std::string& logFile) {
    q.SetDataSet(&table);
    q.SetSourceFileName(logFile);
    q.SetAnimatedStatus(false);
    q.SetOptions({});
    q.SetFieldDelimiterCustom(' ');
    q.SetRecordSeparator(rsLF);
}

TEST(AheadEvaluation, StartsOnlyWhereNothingObservableDepends) {
    char tmpl[] = "/tmp/qel_ahead_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;
    const std::string logFile = (dir / "log.txt").string();
    std::string log;
    for (int i = 1; i <= 500; ++i)
        log += "h" + std::to_string(i) + " " + std::to_string(i) + " -\n";
    std::ofstream(logFile, std::ios::binary) << log;

    const struct {
        const char* name;
        std::function<void(TQelFromText&)> setup;
        bool all;  // every row but the first from the helper; otherwise none
    } cases[] = {
        {"plain names", [](TQelFromText&) {}, true},
        {"dash as null", [](TQelFromText& q) { q.SetDashNull(true); }, true},
        {"trimmed", [](TQelFromText& q) { q.SetTrimSpaces(tsTrimLeftRight); }, true},
        {"a cell handler", [](TQelFromText& q) { q.OnGetCellParams = [](auto&, auto*, auto&) {}; },
         false},
        {"a record handler",
         [](TQelFromText& q) { q.OnBeforeRecordEvent = [](auto&, auto&, auto&, bool&) {}; }, false},
        {"a load condition", [](TQelFromText& q) { q.LoadCondition().SetLoadWhen("1 = 1"); },
         false},
        {"an expression", [](TQelFromText& q) { q.Mappings()[0] = "A=Field1 + 'x'"; }, false},
        {"a whole-line reference", [](TQelFromText& q) { q.Mappings()[0] = "A=Text"; }, false},
        {"a float field", [](TQelFromText& q) { q.Mappings()[1] = "F=Field2"; }, false},
        {"OEM text", [](TQelFromText& q) { q.SetCharacterSet(csiASCII_MSDOS); }, false},
        {"switched off", [](TQelFromText& q) { q.SetEvaluateAhead(false); }, false},
    };
    for (const auto& c : cases) {
        TMemTable table;
        table.AddField("A", ftString);
        table.AddField("B", ftInteger);
        table.AddField("C", ftInteger);
        table.AddField("F", ftFloat);
        table.Open();
        TQelFromText q;
        SpaceDelimitedRun(q, table, logFile);
        q.Mappings().Add("A=Field1");
        q.Mappings().Add("B=Field2");
        q.Mappings().Add("C=Field3");
        c.setup(q);
        q.Execute();
        EXPECT_EQ(q.Statistic().Result(), irExecuted) << c.name;
        EXPECT_EQ(q.RowsEvaluatedAhead(), c.all ? 499 : 0) << c.name;
    }

    // A handler that changes a setting the helper follows stops it: the rows after the change
    // are evaluated in the loop, with the new setting.
    TMemTable table;
    table.AddField("A", ftString);
    table.Open();
    TQelFromText q;
    SpaceDelimitedRun(q, table, logFile);
    q.Mappings().Add("A=Field1");
    q.OnAfterRecordEvent = [&q](TQelBaseComponent&, bool&) {
        if (q.Statistic().TotalImported() == 100) q.SetFieldDelimiterCustom('h');
    };
    q.Execute();
    EXPECT_EQ(q.RowsEvaluatedAhead(), 99);
    const std::vector<std::string> rows = Dump(table);
    ASSERT_EQ(rows.size(), 500u);
    EXPECT_EQ(rows[99], "h100");
    EXPECT_EQ(rows[100], "<null>");  // "h101 101 -" cut at 'h': the first field is empty
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qel
