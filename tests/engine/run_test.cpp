// Whole runs, headless: the order of events, the five modes with their counters, error
// offering, cancelling through the dialog, the outcome and the generated mappings.
#include <gtest/gtest.h>

#include <sstream>

#include "EngineTestKit.h"

namespace qel::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

// A destination ID (integer), NAME (string), NOTE (string) holding `records` ("1|a|x").
void Fill(TTraceTable& t, const Lines& records) {
    Trace* trace = t.trace;  // the filling is no part of a run
    t.trace = nullptr;
    t.AddField("ID", ftInteger);
    t.AddField("NAME", ftString, 20);
    t.AddField("NOTE", ftString, 20);
    t.Open();
    for (const std::string& r : records) {
        TQelStrings parts;
        std::string line = r;
        for (char& ch : line) {
            if (ch == '|') ch = '\n';
        }
        parts.SetText(line);
        t.Append();
        for (int i = 0; i < parts.Count(); ++i) t.Fields(i)->SetValue(Variant(parts[i]));
        t.Post();
    }
    t.trace = trace;
}

// A destination filled with `before` and a source bound to it through `mappings`.
struct Rig {
    TTraceTable t;
    TMemorySource run;
    Rig(const Lines& before, const std::string& mappings, TImportMode mode = imAppend,
        const std::string& keys = "", bool animated = true) {
        Fill(t, before);
        run.SetDataSet(&t);
        run.Mappings().SetText(mappings);
        run.SetMode(mode);
        run.SetDatasetKeys(keys);
        run.SetAnimatedStatus(animated);
    }
};

class RunTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        comp.SetDataSet(&table);
        comp.trace = &trace;
        table.trace = &trace;
        comp.Mappings().SetText("ID=Field1\nName=Field2\nNote=Field3\n");
    }
    // The status line of every refresh, read while the dialog pumps messages.
    void WatchStatus() {
        ws.onProcessMessages = [this] {
            if (ws.dialog) statuses.push_back(ws.dialog->lblStatus.Caption);
        };
    }

    Trace trace;
    TTraceTable table;
    TMemorySource comp;
    std::vector<std::string> statuses;
};

// ---------------------------------------------------------------------------------------------
// Order of events

TEST_F(RunTest, EventOrderOfARun) {
    Fill(table, {"1|a|x"});
    comp.Mappings().SetText("ID=Field1\nName=Field2\nExtra=Field3\n");
    comp.records = {{"1", "one", "True"}, {"2", "two", "True"}};
    comp.SetMode(imAppendUpdate);
    comp.SetDatasetKeys("ID");
    comp.LoadCondition().SetLoadWhen("Field3");
    ws.onProcessMessages = [this] { trace.Add("Pump"); };
    comp.OnBeforeExecute = [this](TQelBaseComponent&) { trace.Add("BeforeExecute"); };
    comp.OnAfterExecute = [this](TQelBaseComponent&) { trace.Add("AfterExecute"); };
    comp.OnGetCellParams = [this](TQelBaseComponent&, TField* f, Variant& v) {
        trace.Add("GetCellParams " + (f ? f->FieldName() : std::string("-")) + " " + VarToStr(v));
    };
    comp.OnBeforeRecordEvent = [this](TQelBaseComponent&, const std::string& fields,
                                      Variant& values, bool& accept) {
        trace.Add("BeforeRecord [" + fields + "] " + std::to_string(values.Count()) +
                  " accept=" + std::to_string(accept));
    };
    comp.OnLocateRecord = [this](TQelBaseComponent&, const std::string& keys, const Variant& values,
                                 bool& exist, bool& executeLocate) {
        trace.Add("LocateRecord " + keys + " " + VarToStr(values) + " " + std::to_string(exist) +
                  std::to_string(executeLocate));
    };
    comp.OnBeforeUpdate = [this](TQelBaseComponent&) { trace.Add("BeforeUpdate"); };
    comp.OnBeforeFieldUpdate = [this](TQelBaseComponent&, TField* f, const Variant& v, bool&) {
        trace.Add("BeforeFieldUpdate " + f->FieldName() + " " + VarToStr(v));
    };
    comp.OnAfterRecordEvent = [this](TQelBaseComponent& c, bool&) {
        trace.Add("AfterRecord " + std::to_string(c.Statistic().LastAction()));
    };

    comp.Execute();

    const Lines row1 = {"ImportRow 1",
                        "Evaluate Field1 @0",
                        "Evaluate Field2 @1",
                        "Evaluate Field3 @-1",
                        "GetCellParams ID 1",
                        "GetCellParams NAME one",
                        "GetCellParams - True",
                        "Evaluate Field3 @-1",
                        "BeforeRecord [] 3 accept=1",
                        "LocateRecord ID 1 11",
                        "Locate",
                        "BeforeUpdate",
                        "BeforeFieldUpdate ID 1",
                        "BeforeFieldUpdate NAME one",
                        "Store update",
                        "AfterRecord 2"};
    Lines expected = {"BeforeExecute", "OpenSource", "Pump", "Pump"};
    expected.insert(expected.end(), row1.begin(), row1.end());
    expected.push_back("Pump");  // the refresh before the second row
    for (const std::string& l : row1) {
        std::string s = l;
        if (s == "ImportRow 1") s = "ImportRow 2";
        if (s == "GetCellParams ID 1") s = "GetCellParams ID 2";
        if (s == "GetCellParams NAME one") s = "GetCellParams NAME two";
        if (s == "LocateRecord ID 1 11") s = "LocateRecord ID 2 11";
        if (s == "BeforeFieldUpdate ID 1") s = "BeforeFieldUpdate ID 2";
        if (s == "BeforeFieldUpdate NAME one") s = "BeforeFieldUpdate NAME two";
        if (s == "Store update") s = "Store insert";
        if (s == "AfterRecord 2") s = "AfterRecord 1";
        expected.push_back(s);
    }
    expected.insert(expected.end(), {"Pump", "Pump", "CloseSource", "AfterExecute"});
    EXPECT_EQ(trace.lines, expected);
    EXPECT_EQ(Dump(table), (Lines{"1|one|x", "2|two|<null>"}));
    EXPECT_EQ(comp.Statistic().Result(), irExecuted);
}

TEST_F(RunTest, ControlsAreFrozenDuringTheLoopAndTheFirstRecordIsCurrentAfterwards) {
    Fill(table, {});
    comp.records = {{"1", "a"}, {"2", "b"}, {"3", "c"}};
    std::vector<bool> frozen;
    comp.OnAfterRecordEvent = [&](TQelBaseComponent&, bool&) {
        frozen.push_back(table.ControlsDisabled());
    };
    comp.Execute();
    EXPECT_EQ(frozen, (std::vector<bool>{true, true, true}));
    EXPECT_FALSE(table.ControlsDisabled());
    EXPECT_EQ(table.RecNo(), 1);

    // Also when the run fails.
    comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) { throw Exception("host failure"); };
    comp.Execute();
    EXPECT_EQ(comp.Statistic().Result(), irFailed);
    EXPECT_FALSE(table.ControlsDisabled());
    EXPECT_EQ(table.RecNo(), 1);
}

// ---------------------------------------------------------------------------------------------
// Modes and counters

struct ModeCase {
    const char* name;
    TImportMode mode;
    std::string keys;
    Lines before;
    Rows rows;
    Lines after;
    int added, updated, deleted, errors;
    TQelAction lastAction;
};

TEST_F(RunTest, ModesAndCounters) {
    const std::vector<ModeCase> cases = {
        {"append",
         imAppend,
         "",
         {"1|a|x"},
         {{"2", "b", "y"}, {"1", "c", "z"}},
         {"1|a|x", "2|b|y", "1|c|z"},
         2,
         0,
         0,
         0,
         iaAdd},
        {"update",
         imUpdate,
         "ID",
         {"1|a|x", "2|b|y"},
         {{"2", "B", "Y"}, {"3", "C", "Z"}},
         {"1|a|x", "2|B|Y"},
         0,
         1,
         0,
         0,
         iaUnknown},
        {"append or update",
         imAppendUpdate,
         "ID",
         {"1|a|x"},
         {{"1", "A", "X"}, {"2", "b", "y"}},
         {"1|A|X", "2|b|y"},
         1,
         1,
         0,
         0,
         iaAdd},
        {"delete",
         imDelete,
         "ID",
         {"1|a|x", "2|b|y", "3|c|z"},
         {{"2"}, {"9"}},
         {"1|a|x", "3|c|z"},
         0,
         0,
         1,
         0,
         iaUnknown},
        {"copy empties first",
         imCopy,
         "",
         {"1|a|", "2|b|", "3|c|", "4|d|", "5|e|"},
         {{"7", "g", "1"}, {"8", "h", "2"}, {"9", "i", "3"}},
         {"7|g|1", "8|h|2", "9|i|3"},
         3,
         0,
         5,
         0,
         iaAdd},
        {"two keys",
         imUpdate,
         "ID;Name",
         {"1|a|x", "1|b|y"},
         {{"1", "b", "new"}},
         {"1|a|x", "1|b|new"},
         0,
         1,
         0,
         0,
         iaUpdate},
        {"key compared exactly",
         imAppendUpdate,
         "Name",
         {"1|a|x"},
         {{"2", "A", "y"}},
         {"1|a|x", "2|A|y"},
         1,
         0,
         0,
         0,
         iaAdd},
        {"empty text clears",
         imUpdate,
         "ID",
         {"1|a|x"},
         {{"1", "", "  "}},
         {"1|<null>|  "},
         0,
         1,
         0,
         0,
         iaUpdate},
        {"a value the field cannot take",
         imAppend,
         "",
         {},
         {{"abc", "a", "x"}, {"2", "b", "y"}},
         {"2|b|y"},
         1,
         0,
         0,
         1,
         iaAdd},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.before, "ID=Field1\nName=Field2\nNote=Field3\n", c.mode, c.keys, false);
        auto& [t, run] = rig;
        run.records = c.rows;
        run.Execute();
        const TQelStatistic& st = run.Statistic();
        EXPECT_EQ(Dump(t), c.after);
        EXPECT_EQ(st.TotalImported(), static_cast<int>(c.rows.size()));
        EXPECT_EQ(st.TotalAdded(), c.added);
        EXPECT_EQ(st.TotalUpdated(), c.updated);
        EXPECT_EQ(st.TotalDeleted(), c.deleted);
        EXPECT_EQ(st.TotalErrors(), c.errors);
        EXPECT_EQ(st.LastAction(), c.lastAction);
        EXPECT_EQ(st.Result(), irExecuted);
        EXPECT_EQ(t.State(), dsBrowse);
    }
}

TEST_F(RunTest, LocateReceivesTheKeysAsWrittenAndTheValuesInKeyOrder) {
    Fill(table, {"1|a|x"});
    comp.SetMode(imUpdate);
    comp.SetDatasetKeys("Name;id");
    comp.records = {{"1", "a", "y"}};
    Variant seen;
    std::string keys;
    comp.OnLocateRecord = [&](TQelBaseComponent&, const std::string& k, const Variant& v, bool&,
                              bool&) {
        keys = k;
        seen = v;
    };
    comp.Execute();
    EXPECT_EQ(keys, "Name;id");
    ASSERT_EQ(seen.Count(), 2u);
    EXPECT_EQ(VarToStr(seen[0]), "a");
    EXPECT_EQ(VarToStr(seen[1]), "1");
    EXPECT_EQ(Dump(table), (Lines{"1|a|y"}));
}

struct LocateCase {
    const char* name;
    TImportMode mode;
    bool exist, executeLocate;
    int locateCalls;
    Lines after;
    int added, updated;
};

// The host may take over the search.
TEST_F(RunTest, OnLocateRecordTakesOverTheSearch) {
    const std::vector<LocateCase> cases = {
        {"own search found: the current record is edited",
         imAppendUpdate,
         true,
         false,
         0,
         {"1|a|x", "5|new|y"},
         0,
         1},
        {"not found without searching",
         imAppendUpdate,
         false,
         true,
         0,
         {"1|a|x", "2|b|y", "5|new|<null>"},
         1,
         0},
        {"not found, own search", imUpdate, false, false, 0, {"1|a|x", "2|b|y"}, 0, 0},
        {"left alone: the dataset searches",
         imAppendUpdate,
         true,
         true,
         1,
         {"1|a|x", "2|b|y", "5|new|<null>"},
         1,
         0},
    };
    for (const LocateCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig({"1|a|x", "2|b|y"}, "ID=Field1\nName=Field2\n", c.mode, "ID", false);
        auto& [t, run] = rig;
        run.records = {{"5", "new"}};
        run.OnLocateRecord = [&](TQelBaseComponent&, const std::string&, const Variant&,
                                 bool& exist, bool& executeLocate) {
            if (!c.executeLocate) t.Last();  // the host's own search lands on the last record
            exist = c.exist;
            executeLocate = c.executeLocate;
        };
        run.Execute();
        EXPECT_EQ(t.locateCalls, c.locateCalls);
        EXPECT_EQ(Dump(t), c.after);
        EXPECT_EQ(run.Statistic().TotalAdded(), c.added);
        EXPECT_EQ(run.Statistic().TotalUpdated(), c.updated);
    }
}

TEST_F(RunTest, BeforeUpdateFiresForEveryAcceptedRowEvenWithoutAction) {
    Fill(table, {"1|a|x"});
    comp.SetMode(imUpdate);
    comp.SetDatasetKeys("ID");
    comp.records = {{"1", "b"}, {"2", "c"}};
    int calls = 0;
    comp.OnBeforeUpdate = [&](TQelBaseComponent&) { ++calls; };
    comp.Execute();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(comp.Statistic().LastAction(), iaUnknown);
}

TEST_F(RunTest, FieldUpdateVetoKeepsTheOldValue) {
    Fill(table, {"1|a|x"});
    comp.SetMode(imAppendUpdate);
    comp.SetDatasetKeys("ID");
    comp.records = {{"1", "b", "y"}, {"2", "c", "z"}};
    comp.OnBeforeFieldUpdate = [](TQelBaseComponent&, TField* f, const Variant&, bool& accept) {
        if (f->FieldName() == "NAME") accept = false;
    };
    comp.Execute();
    EXPECT_EQ(Dump(table), (Lines{"1|a|y", "2|<null>|z"}));
}

TEST_F(RunTest, GetCellParamsChangesTheWrittenValue) {
    Fill(table, {});
    comp.Mappings().SetText("ID=Field1\nName=Field2\nNope=Field2\n");
    comp.records = {{"", "a"}};
    std::vector<std::string> fields;
    comp.OnGetCellParams = [&](TQelBaseComponent&, TField* f, Variant& v) {
        fields.push_back(f ? f->FieldName() : "-");
        if (f && f->DataType() == ftInteger && v.IsNull()) v = Variant(std::int32_t{0});
        if (f && f->FieldName() == "NAME") v = Variant("changed");
    };
    comp.Execute();
    EXPECT_EQ(fields, (Lines{"ID", "NAME", "-"}));
    EXPECT_EQ(Dump(table), (Lines{"0|changed|<null>"}));
}

// ---------------------------------------------------------------------------------------------
// Load conditions and OnBeforeRecordEvent

struct FilterCase {
    const char* name;
    std::string loadWhen, skipIf;
    bool forceAccept;
    Lines after;
};

TEST_F(RunTest, LoadConditionsAndTheHostDecide) {
    const std::vector<FilterCase> cases = {
        {"load when", "Field3", "", false, {"1|a|True"}},
        {"skip if", "", "Field3", false, {"2|b|False"}},
        {"both", "Field3", "Field3", false, {}},
        {"host accepts a refused row", "Field3", "", true, {"1|a|True", "2|b|False"}},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig({}, "ID=Field1\nName=Field2\nNote=Field3\n", imAppend, "", false);
        auto& [t, run] = rig;
        run.LoadCondition().SetLoadWhen(c.loadWhen);
        run.LoadCondition().SetSkipIf(c.skipIf);
        run.records = {{"1", "a", "True"}, {"2", "b", "False"}};
        std::vector<bool> offered;
        run.OnBeforeRecordEvent = [&](TQelBaseComponent&, const std::string&, Variant&,
                                      bool& accept) {
            offered.push_back(accept);
            if (c.forceAccept) accept = true;
        };
        run.Execute();
        EXPECT_EQ(Dump(t), c.after);
        EXPECT_EQ(offered.size(), 2u);
        EXPECT_EQ(run.Statistic().TotalImported(), 2);
    }
}

// ---------------------------------------------------------------------------------------------
// Errors

struct ErrorCase {
    const char* name;
    std::string badCell;  // NAME of the second row
    bool handler;
    bool abortOnProblem;
    bool handlerClears;
    int calls;
    TQelResult result;
    int imported, errors, added;
    Lines after;
};

TEST_F(RunTest, ErrorsAreOfferedToTheHost) {
    const std::vector<ErrorCase> cases = {
        {"posting error, handler keeps Abort: asked twice, run fails",
         "bad",
         true,
         true,
         false,
         2,
         irFailed,
         2,
         1,
         1,
         {"1|ok|<null>"}},
        {"posting error, handler clears Abort",
         "bad",
         true,
         true,
         true,
         1,
         irExecuted,
         3,
         1,
         2,
         {"1|ok|<null>", "3|ok|<null>"}},
        {"posting error, Abort starts false",
         "bad",
         true,
         false,
         false,
         1,
         irExecuted,
         3,
         1,
         2,
         {"1|ok|<null>", "3|ok|<null>"}},
        {"posting error, no handler",
         "bad",
         false,
         true,
         false,
         0,
         irExecuted,
         3,
         1,
         2,
         {"1|ok|<null>", "3|ok|<null>"}},
        {"row error, handler keeps Abort: asked once, run fails",
         "#boom",
         true,
         true,
         false,
         1,
         irFailed,
         2,
         0,
         1,
         {"1|ok|<null>"}},
        {"row error, no handler",
         "#boom",
         false,
         true,
         false,
         0,
         irExecuted,
         3,
         0,
         2,
         {"1|ok|<null>", "3|ok|<null>"}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig({}, "ID=Field1\nName=Field2\n");
        auto& [t, run] = rig;
        t.refuse = [](const std::vector<Variant>& v) {
            return VarToStr(v[1]) == "bad" ? std::string("Key violation") : std::string();
        };
        run.records = {{"1", "ok"}, {"2", c.badCell}, {"3", "ok"}};
        run.SetAbortOnProblem(c.abortOnProblem);
        std::vector<std::string> messages;
        std::vector<bool> abortOnEntry;
        if (c.handler) {
            run.OnErrorEvent = [&](TQelBaseComponent&, const Exception& e, bool& abort) {
                messages.push_back(e.Message());
                abortOnEntry.push_back(abort);
                if (c.handlerClears) abort = false;
            };
        }
        ws.onProcessMessages = [&] {
            if (ws.dialog) statuses.push_back(ws.dialog->lblStatus.Caption);
        };
        statuses.clear();
        run.Execute();
        EXPECT_EQ(static_cast<int>(messages.size()), c.calls);
        for (const std::string& m : messages)
            EXPECT_EQ(m, c.badCell == "bad" ? "Key violation" : "Cannot read #boom");
        for (bool a : abortOnEntry) EXPECT_EQ(a, c.abortOnProblem);
        const TQelStatistic& st = run.Statistic();
        EXPECT_EQ(st.Result(), c.result);
        EXPECT_EQ(st.TotalImported(), c.imported);
        EXPECT_EQ(st.TotalErrors(), c.errors);
        EXPECT_EQ(st.TotalAdded(), c.added);
        // A failed run keeps why: the error that left the loop.
        EXPECT_EQ(run.LastError(), c.result != irFailed ? ""
                                   : c.badCell == "bad" ? "Key violation"
                                                        : "Cannot read #boom");
        EXPECT_EQ(Dump(t), c.after);
        EXPECT_EQ(t.State(), dsBrowse);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), c.result == irFailed
                                       ? "An error has occurred during the data import process."
                                       : "The data import process has completed successfully.");
    }
}

// LastError holds the message of the error that failed the last run, and only that.
TEST_F(RunTest, LastErrorTellsWhyTheLastRunFailed) {
    Fill(table, {});
    comp.records = {{"1", "a"}, {"2", "b"}};
    const struct {
        const char* name;
        std::function<void()> arrange;
        TQelResult result;
        const char* lastError;
    } cases[] = {
        {"a handler's error ends the loop",
         [&] {
             comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) {
                 throw EDatabaseError("disk I/O error");
             };
         },
         irFailed, "disk I/O error"},
        {"a run that succeeds empties it", [] {}, irExecuted, ""},
        {"an error that is no std::exception",
         [&] { comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) { throw 42; }; }, irFailed,
         "Unknown error"},
        {"a canceled run empties it",
         [&] { comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool& abort) { abort = true; }; },
         irCanceled, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comp.OnAfterRecordEvent = nullptr;
        c.arrange();
        comp.Execute();
        EXPECT_EQ(comp.Statistic().Result(), c.result);
        EXPECT_EQ(comp.LastError(), c.lastError);
    }
    // An error that Execute raises to the caller is not kept: the run never started.
    comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) { throw Exception("x"); };
    comp.Execute();
    comp.SetDataSet(nullptr);
    EXPECT_THROW(comp.Execute(), EImportError);
    EXPECT_EQ(comp.LastError(), "");
}

// A table that holds writes back and can lose the latest of them afterwards, as a failed commit
// does: it takes the records out again and reports them in LostRecords.
class TLosingTable : public TTraceTable {
  public:
    std::int64_t LostRecords() const override { return lost_; }
    // Loses the latest `n` stored records at the next post whose NAME is "lose", or at the
    // end-of-run flush when `atFlush`.
    int loseAtPost = 0;
    int loseAtFlush = 0;

  protected:
    TRecordId InternalInsert(const std::vector<Variant>& values,
                             const TFieldFlags& assigned) override {
        if (loseAtPost > 0 && VarToStr(values[1]) == "lose") {
            Lose(loseAtPost);
            throw EDatabaseError("database or disk is full; earlier records were lost");
        }
        const TRecordId id = TTraceTable::InternalInsert(values, assigned);
        stored_.push_back(id);
        return id;
    }
    void InternalFlush() override {
        if (loseAtFlush > 0) {
            Lose(loseAtFlush);
            loseAtFlush = 0;
            throw EDatabaseError("Cannot commit: database or disk is full");
        }
    }

  private:
    void Lose(int n) {
        for (; n > 0 && !stored_.empty(); --n) {
            TTraceTable::InternalDelete(stored_.back());
            stored_.pop_back();
            ++lost_;
        }
    }
    std::vector<TRecordId> stored_;
    std::int64_t lost_ = 0;
};

// Records lost after they were counted are taken back from their counters and counted as
// errors: the counters equal what the table holds, whether the loss shows at a later post
// (offered to the host) or at the run's last commit (the run fails).
TEST_F(RunTest, LostWritesAreTakenBackFromTheCounters) {
    struct Case {
        const char* name;
        int atPost, atFlush;
        bool handler;
        TQelResult result;
        int added, errors, offered;
    } cases[] = {
        {"lost at a post, no handler", 2, 0, false, irExecuted, 2, 3, 0},
        {"lost at a post, the host goes on", 2, 0, true, irExecuted, 2, 3, 1},
        {"lost at the last commit", 0, 3, true, irFailed, 2, 3, 0},
        {"more lost than the run wrote", 0, 9, false, irFailed, 0, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLosingTable t;
        Fill(t, {});
        t.loseAtPost = c.atPost;
        t.loseAtFlush = c.atFlush;
        TMemorySource run;
        run.SetDataSet(&t);
        run.SetAnimatedStatus(false);
        run.SetOptions(TQelOptions::All().Exclude(soShowMessage).Exclude(soWaitCursor));
        run.Mappings().SetText("ID=Field1\nName=Field2\n");
        run.records = {
            {"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", c.atPost ? "lose" : "d"}, {"5", "e"}};
        int offered = 0;
        if (c.handler) {
            run.OnErrorEvent = [&](TQelBaseComponent&, const Exception&, bool& abort) {
                ++offered;
                abort = false;
            };
        }
        run.Execute();
        const TQelStatistic& st = run.Statistic();
        EXPECT_EQ(st.Result(), c.result);
        EXPECT_EQ(st.TotalAdded(), c.added);
        EXPECT_EQ(st.TotalAdded(), t.RecordCount());
        EXPECT_EQ(st.TotalErrors(), c.errors);
        EXPECT_EQ(st.TotalImported(), 5);
        EXPECT_EQ(offered, c.offered);
    }
}

// The counter of the failed action is taken back in every mode.
TEST_F(RunTest, FailedWriteTakesBackItsCounter) {
    struct Case {
        TImportMode mode;
        Rows rows;
        int added, updated;
    };
    for (const Case& c : {Case{imAppend, {{"5", "bad"}}, 0, 0}, Case{imCopy, {{"5", "bad"}}, 0, 0},
                          Case{imUpdate, {{"1", "bad"}}, 0, 0},
                          Case{imAppendUpdate, {{"1", "bad"}, {"7", "bad"}}, 0, 0},
                          Case{imAppendUpdate, {{"1", "bad"}, {"7", "ok"}}, 1, 0}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        Rig rig({"1|a|x"}, "ID=Field1\nName=Field2\n", c.mode, "ID", false);
        auto& [t, run] = rig;
        t.refuse = [](const std::vector<Variant>& v) {
            return VarToStr(v[1]) == "bad" ? std::string("refused") : std::string();
        };
        run.records = c.rows;
        run.Execute();
        EXPECT_EQ(run.Statistic().TotalAdded(), c.added);
        EXPECT_EQ(run.Statistic().TotalUpdated(), c.updated);
        int failures = 0;
        for (const auto& r : c.rows) failures += r[1] == "bad";
        EXPECT_EQ(run.Statistic().TotalErrors(), failures);
        EXPECT_EQ(run.Statistic().TotalImported(), static_cast<int>(c.rows.size()));
    }
}

TEST_F(RunTest, AfterRecordAbortCancelsTheRun) {
    Fill(table, {});
    comp.records = {{"1"}, {"2"}, {"3"}, {"4"}};
    comp.OnAfterRecordEvent = [](TQelBaseComponent& c, bool& abort) {
        abort = c.Statistic().TotalImported() == 2;
    };
    WatchStatus();
    comp.Execute();
    EXPECT_EQ(comp.Statistic().TotalImported(), 2);
    EXPECT_EQ(comp.Statistic().Result(), irCanceled);
    EXPECT_EQ(statuses.back(), "The data import process was canceled by the user.");
}

// ---------------------------------------------------------------------------------------------
// Cancel and refresh

struct CancelCase {
    int updateStep;
    int clickAfterRow;
    bool closeInstead;
    int imported;
};

TEST_F(RunTest, CancelTakesEffectWithinUpdateStepRows) {
    const std::vector<CancelCase> cases = {{1, 5, false, 6}, {3, 4, false, 7}, {3, 6, false, 7},
                                           {5, 1, true, 6},  {0, 2, false, 3}, {200, 3, false, 20}};
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "step " << c.updateStep << " click after " << c.clickAfterRow);
        Rig rig({}, "ID=Field1\n");
        TMemorySource& run = rig.run;
        for (int i = 1; i <= 20; ++i) run.records.push_back({std::to_string(i)});
        run.Statistic().SetUpdateStep(c.updateStep);
        bool pending = false;
        run.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool&) {
            if (s.Statistic().TotalImported() == c.clickAfterRow) pending = true;
        };
        ws.onProcessMessages = [&] {
            // A click reaches the dialog only while it pumps messages.
            if (pending && ws.dialog) {
                c.closeInstead ? ws.dialog->FormClose() : ws.dialog->btnCancelClick();
                pending = false;
            }
        };
        run.Execute();
        const int expected = std::min(c.imported, 20);
        EXPECT_EQ(run.Statistic().TotalImported(), expected);
        EXPECT_LE(run.Statistic().TotalImported(), c.clickAfterRow + std::max(c.updateStep, 1));
        EXPECT_EQ(run.Statistic().Result(), expected < 20 ? irCanceled : irExecuted);
        EXPECT_EQ(run.ProgressDialog(), nullptr);
    }
}

TEST_F(RunTest, RefreshCadence) {
    struct Case {
        int updateStep;
        Lines shown;  // processed counts shown by the refreshes inside the loop
    };
    for (const Case& c :
         {Case{1, {"1", "2", "3", "4"}}, Case{2, {"2", "4"}}, Case{3, {"3"}},
          Case{0, {"0", "1", "2", "3", "4"}}, Case{-4, {"0", "1", "2", "3", "4"}}, Case{5, {}}}) {
        SCOPED_TRACE(c.updateStep);
        Rig rig({}, "ID=Field1\n");
        TMemorySource& run = rig.run;
        run.records = {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}};
        run.Statistic().SetUpdateStep(c.updateStep);
        Lines shown;
        const int repaintsBefore = ws.repaintCount;
        int lastRepaint = ws.repaintCount;
        ws.onProcessMessages = [&] {
            if (ws.repaintCount == lastRepaint) return;  // not a refresh
            lastRepaint = ws.repaintCount;
            if (ws.dialog->lblStatus.Caption == "Importing...")
                shown.push_back(ws.dialog->lblTotalImported.Caption);
        };
        run.Execute();
        EXPECT_EQ(shown, c.shown);
        // One repaint per refresh, plus the last one with the outcome.
        EXPECT_EQ(ws.repaintCount - repaintsBefore, static_cast<int>(c.shown.size()) + 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Checks before the run

struct CheckCase {
    const char* name;
    bool dataSet;
    TImportMode mode;
    std::string keys;
    std::string message;
};

TEST_F(RunTest, RequiredSettingsAreCheckedFirst) {
    const std::vector<CheckCase> cases = {
        {"no dataset", false, imAppend, "", "Property DataSet wasn't specified."},
        {"update without keys", true, imUpdate, "", "Property DatasetKeys wasn't specified."},
        {"append or update without keys", true, imAppendUpdate, "",
         "Property DatasetKeys wasn't specified."},
        {"delete without keys", true, imDelete, "", "Property DatasetKeys wasn't specified."},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        Trace tr;
        TTraceTable t;
        Fill(t, {});
        TMemorySource run;
        run.trace = &tr;
        if (c.dataSet) run.SetDataSet(&t);
        run.SetMode(c.mode);
        run.SetDatasetKeys(c.keys);
        run.Statistic().SetResult(irExecuted);
        run.OnBeforeExecute = [&](TQelBaseComponent&) { tr.Add("BeforeExecute"); };
        run.OnAfterExecute = [&](TQelBaseComponent&) { tr.Add("AfterExecute"); };
        const int boxes = static_cast<int>(ws.boxes.size());
        try {
            run.Execute();
            FAIL() << "no error";
        } catch (const EImportError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(tr.lines, (Lines{"BeforeExecute"}));
        EXPECT_EQ(run.Statistic().Result(), irUnknown);
        EXPECT_EQ(ws.dialog, nullptr);
        EXPECT_EQ(static_cast<int>(ws.boxes.size()), boxes);
        EXPECT_FALSE(run.Running());
    }
}

TEST_F(RunTest, SourceThatCannotOpenRaisesAsIs) {
    Fill(table, {});
    comp.failOpen = true;
    comp.SetSourceFileName("missing.txt");
    comp.OnAfterExecute = [this](TQelBaseComponent&) { trace.Add("AfterExecute"); };
    EXPECT_THROW(comp.Execute(), EFOpenError);
    EXPECT_EQ(trace.lines, (Lines{"OpenSource"}));
    EXPECT_TRUE(ws.cursorHistory.empty());
    EXPECT_FALSE(comp.Running());
}

// ---------------------------------------------------------------------------------------------
// Outcome presentation

struct PresentationCase {
    const char* name;
    bool animated;
    TQelOptions options;
    bool failDialog;
    Lines boxes;  // kind: text
    std::vector<TCursor> cursors;
};

TEST_F(RunTest, OutcomeIsShownOnceWhereItBelongs) {
    const std::string done = "The data import process has completed successfully.";
    const std::vector<PresentationCase> cases = {
        {"message box without dialog",
         false,
         TQelOptions::All(),
         false,
         {"information: " + done},
         {crHourGlass, crDefault}},
        {"no box with the dialog", true, TQelOptions::All(), false, {}, {crHourGlass, crDefault}},
        {"no box when not asked",
         false,
         TQelOptions{soWaitCursor},
         false,
         {},
         {crHourGlass, crDefault}},
        {"no wait cursor", false, TQelOptions{soShowMessage}, false, {"information: " + done}, {}},
        {"dialog that cannot be made",
         true,
         TQelOptions::All(),
         true,
         {"error: Can't create a process dialog"},
         {crHourGlass, crDefault}},
    };
    for (const PresentationCase& c : cases) {
        SCOPED_TRACE(c.name);
        THeadlessWindowSystem local;
        local.failDialogCreation = c.failDialog;
        Rig rig({}, "ID=Field1\n");
        TMemorySource& run = rig.run;
        run.records = {{"1"}, {"2"}};
        run.SetAnimatedStatus(c.animated);
        run.SetOptions(c.options);
        {
            const TScopedWindowSystem installed(local);
            run.Execute();
        }
        Lines boxes;
        for (const auto& b : local.boxes) boxes.push_back(b.Kind + ": " + b.Text);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(local.cursorHistory, c.cursors);
        EXPECT_EQ(run.Statistic().Result(), irExecuted);
        EXPECT_EQ(run.Statistic().TotalAdded(), 2);
        EXPECT_EQ(local.dialog, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Generated mappings

TEST_F(RunTest, GeneratedMappingsServeOneSuccessfulRun) {
    Fill(table, {});
    comp.Mappings().Clear();
    comp.records = {{"1", "a", "x"}};
    Lines during;
    comp.OnAfterRecordEvent = [&](TQelBaseComponent& c, bool&) { during = c.Mappings().Lines(); };
    comp.OnCreateStructure = [this](TQelBaseComponent&, TQelColumns& cols) {
        trace.Add("CreateStructure " + std::to_string(cols.Count()));
    };
    // The base columns carry the field names: the default lines map a field onto itself.
    comp.Execute();
    EXPECT_EQ(trace.Only({"Create"}),
              (Lines{"CreateColumns", "CreateStructure 3", "CreateMappings"}));
    EXPECT_EQ(during, (Lines{"ID=ID", "NAME=NAME", "NOTE=NOTE"}));
    EXPECT_EQ(comp.Mappings().Count(), 0);
    EXPECT_EQ(comp.Columns().Count(), 3);
    EXPECT_EQ(comp.Statistic().Result(), irExecuted);

    // A failed run keeps them.
    comp.OnAfterRecordEvent = [](TQelBaseComponent&, bool&) { throw Exception("stop"); };
    comp.Execute();
    EXPECT_EQ(comp.Statistic().Result(), irFailed);
    EXPECT_EQ(comp.Mappings().Lines(), (Lines{"ID=ID", "NAME=NAME", "NOTE=NOTE"}));
    // The next run uses them as the host's own lines and does not generate again.
    trace.lines.clear();
    comp.OnAfterRecordEvent = nullptr;
    comp.Execute();
    EXPECT_TRUE(trace.Only({"Create"}).empty());
    EXPECT_EQ(comp.Mappings().Count(), 3);
}

TEST_F(RunTest, LinesAddedByTheHostPreventGeneratedOnes) {
    Fill(table, {});
    comp.Mappings().Clear();
    comp.records = {{"7", "a"}};
    comp.OnCreateStructure = [](TQelBaseComponent& c, TQelColumns&) {
        c.Mappings().Add("ID=Field1");
    };
    comp.Execute();
    EXPECT_TRUE(trace.Only({"CreateMappings"}).empty());
    EXPECT_EQ(comp.Mappings().Lines(), (Lines{"ID=Field1"}));
    EXPECT_EQ(Dump(table), (Lines{"7|<null>|<null>"}));
}

// ---------------------------------------------------------------------------------------------
// Faults of the row range, the stream and re-entry

struct RangeCase {
    int records, rowFirst, rowLast;
    int totalCount, imported;
};

TEST_F(RunTest, TotalCountIsTheNumberOfRowsTheRunProcesses) {
    const std::vector<RangeCase> cases = {
        {10, 1, 2147483647, 10, 10},
        {10, 3, 2147483647, 8, 8},
        {10, 3, 4, 2, 2},
        {10, 8, 3, 0, 0},
        {10, 12, 2147483647, 0, 0},
        {0, 1, 2147483647, 0, 0},
        {10, -5, 2147483647, 10, 10},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rowFirst << ".." << c.rowLast);
        Rig rig({}, "ID=Field1\n");
        TMemorySource& run = rig.run;
        for (int i = 1; i <= c.records; ++i) run.records.push_back({std::to_string(i)});
        run.SetRowFirst(c.rowFirst);
        run.SetRowLast(c.rowLast);
        int maximum = -1;
        ws.onProcessMessages = [&] {
            if (ws.dialog) maximum = ws.dialog->ProgressMax;
        };
        run.Execute();
        EXPECT_EQ(run.Statistic().Result(), irExecuted);
        EXPECT_EQ(run.Statistic().TotalCount(), c.totalCount);
        EXPECT_EQ(run.Statistic().TotalImported(), c.imported);
        EXPECT_EQ(maximum, c.totalCount);
    }
}

TEST_F(RunTest, StreamServesOnlyTheRunItStarts) {
    Fill(table, {});
    comp.records = {{"1"}};
    {
        std::istringstream stream("from the stream\n");
        comp.ImportFromStream(stream);
        EXPECT_EQ(comp.seenStream, "from the stream");
        EXPECT_EQ(comp.SourceStream(), nullptr);
    }
    // The stream is gone; a plain run reads its file setting.
    comp.Execute();
    EXPECT_EQ(comp.seenStream, "");
    EXPECT_EQ(comp.Statistic().Result(), irExecuted);

    // Also forgotten when the run raises before it begins.
    comp.SetDataSet(nullptr);
    std::istringstream again("x\n");
    EXPECT_THROW(comp.ImportFromStream(again), EImportError);
    EXPECT_EQ(comp.SourceStream(), nullptr);
}

TEST_F(RunTest, SecondExecuteDuringARunIsRefused) {
    Fill(table, {});
    comp.records = {{"1"}, {"2"}, {"3"}};
    std::vector<std::string> refusals;
    std::istringstream other("other\n");
    ws.onProcessMessages = [&] {
        if (!ws.dialog) return;
        // A host button reached while the dialog pumps messages.
        try {
            comp.Execute();
        } catch (const EImportError& e) {
            refusals.push_back(e.Message());
        }
        try {
            comp.ImportFromStream(other);
        } catch (const EImportError& e) {
            refusals.push_back(e.Message());
        }
    };
    comp.Execute();
    ASSERT_FALSE(refusals.empty());
    for (const std::string& r : refusals)
        EXPECT_EQ(r, "The data import process is already running.");
    EXPECT_EQ(comp.seenStream, "");
    EXPECT_EQ(comp.Statistic().Result(), irExecuted);
    EXPECT_EQ(comp.Statistic().TotalImported(), 3);
    EXPECT_EQ(Dump(table), (Lines{"1|<null>|<null>", "2|<null>|<null>", "3|<null>|<null>"}));
    EXPECT_FALSE(comp.Running());
    // Once over, the component runs again.
    ws.onProcessMessages = nullptr;
    comp.Execute();
    EXPECT_EQ(table.RecordCount(), 6);
}

// A handler may destroy the destination in any event of a row (or while the dialog pumps
// messages). The engine must not touch the freed dataset again (run under the sanitizer build),
// must not offer that to OnErrorEvent or fire any further row event, and the run fails.
TEST_F(RunTest, DestinationDestroyedInAnyEventFailsTheRun) {
    struct Case {
        const char* event;
        const char* failing;  // "": no row fails; "post": the store refuses; "row": a cell fails
        int row;              // the row whose event destroys the destination
    } cases[] = {
        {"ProcessMessages", "", 2},     {"OnGetCellParams", "", 1},
        {"OnGetCellParams", "", 2},     {"OnBeforeRecordEvent", "", 1},
        {"OnLocateRecord", "", 1},      {"OnBeforeUpdate", "", 1},
        {"OnBeforeUpdate", "", 2},      {"OnBeforeFieldUpdate", "", 1},
        {"OnBeforeFieldUpdate", "", 2}, {"OnErrorEvent", "post", 1},
        {"OnErrorEvent", "row", 1},     {"OnAfterRecordEvent", "", 1},
        {"OnAfterRecordEvent", "", 2},  // the last row: the loop would end by itself
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.event) + " of row " + std::to_string(c.row) +
                                 (*c.failing ? std::string(" (") + c.failing + ")" : "");
        SCOPED_TRACE(name);
        auto doomed = std::make_unique<TTraceTable>();
        Fill(*doomed, {"1|a|x"});
        TMemorySource run;
        run.SetDataSet(doomed.get());
        run.Mappings().SetText("ID=Field1\nName=Field2\nNote=Field3\n");
        run.SetMode(imAppendUpdate);
        run.SetDatasetKeys("ID");
        run.records = {{"1", "b", "y"}, {"2", "c", "z"}};
        if (std::string(c.failing) == "row") run.records[0][1] = "#boom";
        if (std::string(c.failing) == "post")
            doomed->refuse = [](const std::vector<Variant>&) { return std::string("refused"); };

        int row = 1;
        std::vector<std::string> afterwards;  // events that fired once the dataset was gone
        auto event = [&](const char* which) {
            if (!doomed) {
                afterwards.push_back(which);
                return;
            }
            if (row == c.row && std::string(which) == c.event) doomed.reset();
        };
        // (The dialog pumps messages also after the loop, when there is no row event.)
        ws.onProcessMessages = [&] {
            if (doomed && row == c.row && std::string(c.event) == "ProcessMessages") doomed.reset();
        };
        run.OnGetCellParams = [&](TQelBaseComponent&, TField*, Variant&) {
            event("OnGetCellParams");
        };
        run.OnBeforeRecordEvent = [&](TQelBaseComponent&, const std::string&, Variant&, bool&) {
            event("OnBeforeRecordEvent");
        };
        run.OnLocateRecord = [&](TQelBaseComponent&, const std::string&, const Variant&, bool&,
                                 bool&) { event("OnLocateRecord"); };
        run.OnBeforeUpdate = [&](TQelBaseComponent&) { event("OnBeforeUpdate"); };
        run.OnBeforeFieldUpdate = [&](TQelBaseComponent&, TField*, const Variant&, bool&) {
            event("OnBeforeFieldUpdate");
        };
        run.OnErrorEvent = [&](TQelBaseComponent&, const Exception&, bool& abort) {
            abort = false;
            event("OnErrorEvent");
        };
        run.OnAfterRecordEvent = [&](TQelBaseComponent&, bool&) {
            event("OnAfterRecordEvent");
            ++row;
        };
        run.Execute();

        EXPECT_EQ(doomed, nullptr);
        EXPECT_EQ(run.Statistic().Result(), irFailed);
        EXPECT_EQ(run.DataSet(), nullptr);
        EXPECT_EQ(afterwards, std::vector<std::string>{});
        EXPECT_FALSE(run.Running());
    }
}

}  // namespace
}  // namespace qel::test
