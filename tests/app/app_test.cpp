// The log loader window end to end on the offscreen platform: a real SQLite "log.db" and a
// generated "log.txt" in a temporary program directory, the Qt window system with its boxes
// recorded.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "app/Main.h"
#include "dataset/SqliteTable.h"
#include "engine/QelStat.h"
#include "text/Qel2TXT.h"
#include "ui/DataSource.h"
#include "ui/ProcessView.h"
#include "ui_test_support.h"

namespace qel {
namespace {

// Calls `onPump` at every pump of pending messages: the only moments a running import lets
// the user act, which is where these tests act.
class TPumpingWindowSystem : public test::TRecordingWindowSystem {
  public:
    std::function<void()> onPump;
    void ProcessMessages() override {
        TRecordingWindowSystem::ProcessMessages();
        if (onPump) {
            auto pump = onPump;  // a handler may replace itself
            pump();
        }
    }
    std::vector<Box> Boxes(TBoxKind kind) const {
        std::vector<Box> out;
        for (const Box& b : boxes)
            if (b.kind == kind) out.push_back(b);
        return out;
    }
};

// One combined-format line; `size` goes into the size field as written ("-" for none).
std::string LogLine(int i, const std::string& code, const std::string& size,
                    const std::string& ref = "-") {
    return "host" + std::to_string(i) + ".example.net - - [10/Oct/2023:13:55:36 +0000] \"GET /p" +
           std::to_string(i) + " HTTP/1.1\" " + code + " " + size + " \"" + ref +
           "\" \"Agent/1.0 (X11)\"\n";
}

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApplication();
        ASSERT_TRUE(dir_.isValid());
        programDir_ = dir_.path().toStdString() + "/";
        ws_.SetRepaintInterval(0);
        installed_.emplace(ws_);
    }
    void TearDown() override {
        form_.reset();
        installed_.reset();
    }

    void CreateTable() {
        TSqliteTable::CreateTable(programDir_ + "log.db", "log",
                                  {{"Host", ftString},
                                   {"DateTime", ftString},
                                   {"URL", ftString},
                                   {"Code", ftInteger},
                                   {"Size", ftInteger},
                                   {"Ref", ftString}});
    }
    void WriteLog(int lines) {
        std::string text;
        for (int i = 1; i <= lines; ++i)
            text +=
                LogLine(i, i % 7 == 0 ? "304" : "200", i % 7 == 0 ? "-" : std::to_string(i * 3));
        WriteLogText(text);
    }
    void WriteLogText(const std::string& text) {
        std::ofstream(programDir_ + "log.txt", std::ios::binary) << text;
    }
    TfrmMain& Form() {
        if (!form_) {
            form_ = std::make_unique<TfrmMain>(programDir_);
            // Commits wait for the disk by default; the tests need the flushes, not the waiting.
            if (form_->tblLog.Handle())
                sqlite3_exec(form_->tblLog.Handle(), "PRAGMA synchronous=OFF", nullptr, nullptr,
                             nullptr);
            form_->show();
        }
        return *form_;
    }
    std::int64_t Rows() { return Form().tblLog.RecordCount(); }
    const TQelStatistic& Stat() { return Form().QelFromText1.Statistic(); }
    TfrmQelProcessWindow* DialogWindow() {
        TfrmQelProcess* d = Form().QelFromText1.ProgressDialog();
        auto* view = d ? dynamic_cast<TQtProgressView*>(d->View.get()) : nullptr;
        return view ? &view->Window() : nullptr;
    }

    QTemporaryDir dir_;
    std::string programDir_;
    TPumpingWindowSystem ws_;
    std::optional<TScopedWindowSystem> installed_;
    std::unique_ptr<TfrmMain> form_;
};

const QRegularExpression kElapsed(
    QStringLiteral("^Data loaded in \\d+ msec\r\n \\(1000 msec=1sec\\)$"));

bool IsElapsedMessage(const std::string& text) {
    return kElapsed.match(QString::fromStdString(text)).hasMatch();
}

TEST_F(LoaderTest, WindowLayoutAndGridColumns) {
    CreateTable();
    TfrmMain& f = Form();
    EXPECT_EQ(f.windowTitle(), "Norvast Qel: large file loading");
    EXPECT_EQ(f.size(), QSize(688, 446));
    EXPECT_EQ(f.DBGrid1->geometry(), QRect(0, 56, 688, 390));

    struct Column {
        const char* title;
        int width;
    } columns[] = {
        {"Host", 149}, {"DateTime", 99}, {"URL", 161}, {"Code", 64}, {"Size", 64}, {"Ref", 144},
    };
    ASSERT_EQ(f.dSrcLog->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(f.dSrcLog->headerData(c, Qt::Horizontal).toString(), columns[c].title);
        EXPECT_EQ(f.DBGrid1->columnWidth(c), columns[c].width) << columns[c].title;
    }

    f.resize(800, 600);  // the grid stays on the bottom edge with its own height
    EXPECT_EQ(f.DBGrid1->geometry(), QRect(0, 210, 800, 390));
}

TEST_F(LoaderTest, EachPressAppendsTheLogAgainAndReportsTheTime) {
    CreateTable();
    WriteLog(450);
    TfrmMain& f = Form();
    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        QTest::mouseClick(f.btnImport, Qt::LeftButton);
        EXPECT_EQ(Stat().Result(), irExecuted);
        EXPECT_EQ(Stat().TotalAdded(), 450);
        EXPECT_EQ(Rows(), 450 * press);
        EXPECT_EQ(f.dSrcLog->rowCount(), 450 * press) << "the grid shows the new rows";
        ASSERT_EQ(ws_.boxes.size(), static_cast<std::size_t>(press));
        EXPECT_EQ(ws_.boxes.back().kind, TQtWindowSystem::bkInformation);
        EXPECT_TRUE(IsElapsedMessage(ws_.boxes.back().text)) << ws_.boxes.back().text;
        EXPECT_TRUE(f.btnImport->isEnabled());
    }
}

TEST_F(LoaderTest, FieldsOfALogLineReachTheirColumns) {
    CreateTable();
    struct Case {
        std::string line;
        Variant code, size, ref;
    } cases[] = {
        {LogLine(1, "200", "5120", "http://a.example/x?q=1"), Variant(200), Variant(5120),
         Variant("http://a.example/x?q=1")},
        {LogLine(2, "304", "-"), Variant(304), Variant::Null(), Variant("-")},  // no body sent
        {LogLine(3, "404", "0"), Variant(404), Variant(0), Variant("-")},
        {LogLine(4, "200", "\"\""), Variant(200), Variant::Null(),
         Variant("-")},  // empty field: null
    };
    std::string text;
    for (const Case& c : cases) text += c.line;
    WriteLogText(text);
    QTest::mouseClick(Form().btnImport, Qt::LeftButton);
    EXPECT_EQ(Stat().TotalErrors(), 0);
    std::vector<std::vector<Variant>> rows;
    Form().tblLog.ReadRecords(0, 10, rows);
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(cases[i].line);
        EXPECT_EQ(rows[i][0], Variant("host" + std::to_string(i + 1) + ".example.net"));
        EXPECT_EQ(rows[i][1], Variant("[10/Oct/2023:13:55:36"));
        EXPECT_EQ(rows[i][2], Variant("GET /p" + std::to_string(i + 1) + " HTTP/1.1"));
        EXPECT_EQ(rows[i][3], cases[i].code);
        EXPECT_EQ(rows[i][4], cases[i].size);
        EXPECT_EQ(rows[i][5], cases[i].ref);
    }
}

TEST_F(LoaderTest, CellParamsTurnEmptyIntegerTextIntoZeroAndADashIntoNull) {
    CreateTable();
    TfrmMain& f = Form();
    TField* code = f.tblLog.FindField("Code");
    TField* host = f.tblLog.FindField("Host");
    ASSERT_TRUE(code && host);
    struct Case {
        TField* field;
        Variant in, out;
    } cases[] = {
        {code, Variant(""), Variant(0)},          {code, Variant("-"), Variant::Null()},
        {code, Variant::Null(), Variant::Null()}, {code, Variant(" - "), Variant(" - ")},
        {code, Variant("--"), Variant("--")},     {code, Variant("17"), Variant("17")},
        {code, Variant(17), Variant(17)},         {host, Variant("-"), Variant("-")},
        {host, Variant(""), Variant("")},         {nullptr, Variant("-"), Variant("-")},
        {nullptr, Variant(""), Variant("")},
    };
    for (const Case& c : cases) {
        Variant v = c.in;
        f.QelFromText1GetCellParams(f.QelFromText1, c.field, v);
        EXPECT_EQ(v, c.out) << DebugString(c.in) << " for "
                            << (c.field ? c.field->FieldName() : "no field");
    }
}

TEST_F(LoaderTest, CachedRowsAreFlushedAfterRows200To399Only) {
    CreateTable();
    struct Case {
        int lines;
        int flushes;
        int first, last;
    } cases[] = {
        {150, 0, 0, 0},
        {250, 51, 200, 250},
        {600, 200, 200, 399},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        form_.reset();
        WriteLog(c.lines);
        TfrmMain& f = Form();
        // A flush commits the write transaction the run keeps open: after a row, a closed
        // transaction tells that the handler flushed.
        std::set<int> flushedAfter;
        auto handler = f.QelFromText1.OnAfterRecordEvent;
        f.QelFromText1.OnAfterRecordEvent = [&](TQelBaseComponent& s, bool& abort) {
            handler(s, abort);
            if (!f.tblLog.InTransaction()) flushedAfter.insert(s.Statistic().TotalImported());
        };
        QTest::mouseClick(f.btnImport, Qt::LeftButton);
        EXPECT_EQ(Stat().TotalImported(), c.lines);
        EXPECT_EQ(static_cast<int>(flushedAfter.size()), c.flushes);
        if (c.flushes > 0) {
            EXPECT_EQ(*flushedAfter.begin(), c.first);
            EXPECT_EQ(*flushedAfter.rbegin(), c.last);
        }
    }
}

TEST_F(LoaderTest, CancellingStopsWithinOneRefreshAndStillReportsTheTime) {
    CreateTable();
    WriteLog(3000);
    struct Case {
        const char* how;
        std::function<void(TfrmQelProcessWindow&)> act;
    } cases[] = {
        {"Cancel clicked",
         [](TfrmQelProcessWindow& w) { QTest::mouseClick(w.btnCancel, Qt::LeftButton); }},
        {"Escape pressed", [](TfrmQelProcessWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
        {"dialog closed", [](TfrmQelProcessWindow& w) { w.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        form_.reset();
        ws_.boxes.clear();
        TfrmMain& f = Form();
        const std::int64_t before = Rows();
        int actedAt = -1;
        ws_.onPump = [&] {
            TfrmQelProcessWindow* w = DialogWindow();
            if (actedAt < 0 && w && Stat().TotalImported() >= 1000) {
                actedAt = Stat().TotalImported();
                c.act(*w);
            }
        };
        QTest::mouseClick(f.btnImport, Qt::LeftButton);
        ws_.onPump = nullptr;
        ASSERT_GE(actedAt, 1000);
        EXPECT_EQ(Stat().Result(), irCanceled);
        EXPECT_LE(Stat().TotalImported() - actedAt, 200);
        EXPECT_EQ(Rows() - before, Stat().TotalImported());
        ASSERT_EQ(ws_.boxes.size(), 1u);
        EXPECT_TRUE(IsElapsedMessage(ws_.boxes[0].text)) << ws_.boxes[0].text;
    }
}

TEST_F(LoaderTest, ClosingTheWindowDuringARunCancelsItAndClosesAfterwards) {
    CreateTable();
    WriteLog(3000);
    TfrmMain& f = Form();
    int closedAt = -1;
    bool tableOpenWhileRunning = true;
    ws_.onPump = [&] {
        if (!f.Importing()) return;
        tableOpenWhileRunning = tableOpenWhileRunning && f.tblLog.Active();
        if (closedAt < 0 && Stat().TotalImported() >= 600) {
            closedAt = Stat().TotalImported();
            EXPECT_FALSE(f.close()) << "the window stays while the run ends";
            EXPECT_TRUE(f.isVisible());
        }
    };
    QTest::mouseClick(f.btnImport, Qt::LeftButton);
    ws_.onPump = nullptr;
    ASSERT_GE(closedAt, 600);
    EXPECT_TRUE(tableOpenWhileRunning);
    EXPECT_EQ(Stat().Result(), irCanceled);
    EXPECT_LE(Stat().TotalImported() - closedAt, 200);
    EXPECT_FALSE(f.isVisible()) << "closed once the run had ended";
    EXPECT_FALSE(f.Importing());
    EXPECT_TRUE(ws_.Boxes(TQtWindowSystem::bkError).empty());
    EXPECT_EQ(Rows(), Stat().TotalImported());
}

TEST_F(LoaderTest, ImportStartDuringARunDoesNotStartASecondOne) {
    CreateTable();
    WriteLog(1000);
    TfrmMain& f = Form();
    int tries = 0;
    std::int64_t gridRowsDuringRun = -1;
    ws_.onPump = [&] {
        if (!f.Importing() || Stat().TotalImported() < 400 || tries > 0) return;
        ++tries;
        EXPECT_FALSE(f.btnImport->isEnabled());
        QTest::mouseClick(f.btnImport, Qt::LeftButton);
        f.btnImportClick();  // a click queued before the button was disabled
        gridRowsDuringRun = f.dSrcLog->rowCount();
    };
    QTest::mouseClick(f.btnImport, Qt::LeftButton);
    ws_.onPump = nullptr;
    EXPECT_EQ(tries, 1);
    EXPECT_EQ(gridRowsDuringRun, 0) << "the grid does not follow the run";
    EXPECT_EQ(Stat().Result(), irExecuted);
    EXPECT_EQ(Rows(), 1000);
    EXPECT_EQ(f.dSrcLog->rowCount(), 1000);
    ASSERT_EQ(ws_.boxes.size(), 1u);
    EXPECT_TRUE(IsElapsedMessage(ws_.boxes[0].text));
    EXPECT_TRUE(f.btnImport->isEnabled());
}

TEST_F(LoaderTest, AboutButtonShowsTheAboutBox) {
    CreateTable();
    QTest::mouseClick(Form().btnAbout, Qt::LeftButton);
    ASSERT_EQ(ws_.boxes.size(), 1u);
    EXPECT_EQ(ws_.boxes[0].kind, TQtWindowSystem::bkTitled);
    EXPECT_EQ(ws_.boxes[0].title, "About Qel v2.06");
    EXPECT_FALSE(ws_.boxes[0].text.empty());
}

TEST_F(LoaderTest, MissingFilesGoToTheErrorReport) {
    // No log.db: opening fails, nothing is created, the window still comes up.
    TfrmMain& f = Form();
    ASSERT_EQ(ws_.boxes.size(), 1u);
    EXPECT_EQ(ws_.boxes[0].kind, TQtWindowSystem::bkError);
    EXPECT_FALSE(f.tblLog.Active());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(programDir_ + "log.db")));
    EXPECT_TRUE(f.isVisible());

    // A table but no log.txt: the open error is reported and no time is shown.
    form_.reset();
    ws_.boxes.clear();
    CreateTable();
    QTest::mouseClick(Form().btnImport, Qt::LeftButton);
    ASSERT_EQ(ws_.boxes.size(), 1u);
    EXPECT_EQ(ws_.boxes[0].kind, TQtWindowSystem::bkError);
    EXPECT_NE(ws_.boxes[0].text.find("log.txt"), std::string::npos) << ws_.boxes[0].text;
    EXPECT_TRUE(Form().btnImport->isEnabled());
    EXPECT_FALSE(Form().Importing());
}

}  // namespace
}  // namespace qel
