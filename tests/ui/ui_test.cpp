// The Qt progress dialog driven through the engine's progress operations, and the Qt window
// system's services. Runs on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <optional>

#include "engine/QelBase.h"
#include "ui/ProcessView.h"
#include "ui/QtWindowSystem.h"
#include "ui_test_support.h"

namespace qel {
namespace {

// Installs a Qt window system for one test and removes it again.
class ProgressDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApplication();
        ws_.SetRepaintInterval(0);
        installed_.emplace(ws_);
    }
    void TearDown() override {
        engine_.CloseProgress();
        installed_.reset();
    }
    bool Show(bool animation, bool counters) {
        return engine_.ShowProgress(
            "Importing...", "Importing...", "&Cancel",
            "Processed:", "Errors:", "Added:", "Updated:", "Deleted:", animation, counters);
    }
    TfrmQelProcessWindow& Window() {
        auto* view = dynamic_cast<TQtProgressView*>(engine_.ProgressDialog()->View.get());
        EXPECT_NE(view, nullptr);
        return view->Window();
    }
    TQtProgressView& View() {
        return *dynamic_cast<TQtProgressView*>(engine_.ProgressDialog()->View.get());
    }

    test::TRecordingWindowSystem ws_;
    std::optional<TScopedWindowSystem> installed_;
    TQelBaseComponent engine_;
};

QRect Geometry(int left, int top, int width, int height) {
    return QRect(left, top, width, height);
}

TEST_F(ProgressDialogTest, FourLayoutsPlaceTheControlsAndSizeTheClientArea) {
    struct Case {
        bool animation, counters;
        int clientHeight, statusTop, barTop, cancelTop, panelTop;
    } cases[] = {
        {true, true, 130, 56, 70, 80, 83},
        {true, false, 88, 56, 70, 55, 83},
        {false, true, 85, 4, 18, 28, 31},
        {false, false, 43, 4, 18, 28, 31},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "animation " << c.animation << ", counters " << c.counters);
        ASSERT_TRUE(Show(c.animation, c.counters));
        TfrmQelProcessWindow& w = Window();
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.size(), QSize(442, c.clientHeight));
        EXPECT_EQ(w.windowTitle(), "Importing...");
        EXPECT_EQ(w.lblStatus->geometry(), Geometry(8, c.statusTop, 339, 13));
        EXPECT_EQ(w.ProgressBar->geometry(), Geometry(10, c.barTop, 337, 10));
        EXPECT_EQ(w.btnCancel->geometry(), Geometry(355, c.cancelTop, 75, 25));
        EXPECT_EQ(w.pnlCounters->geometry(), Geometry(10, c.panelTop, 337, 43));
        EXPECT_EQ(w.Animate->isVisible(), c.animation);
        EXPECT_EQ(w.Animate->geometry(), Geometry(8, 4, 427, 45));
        EXPECT_EQ(w.pnlCounters->isVisible(), c.counters);
        EXPECT_EQ(w.Bevel->geometry(), Geometry(0, 0, 442, 130));
        EXPECT_EQ(w.btnCancel->text(), "&Cancel");
        EXPECT_EQ(w.lblStatus->text(), "Importing...");
        EXPECT_FALSE(w.ProgressBar->isVisible()) << "the bar shows once a range is set";
        EXPECT_EQ(w.font().pixelSize(), 11);
        EXPECT_TRUE(engine_.CloseProgress());
    }
}

TEST_F(ProgressDialogTest, CounterPanelShowsTitlesAndBlueValuesAtTheirPlaces) {
    ASSERT_TRUE(Show(false, true));
    TfrmQelProcessWindow& w = Window();
    struct Case {
        QLabel* title;
        const char* caption;
        QLabel* value;
        QRect titleRect, valueRect;
    } cases[] = {
        {w.lblAdded, "Added:", w.lblTotalAdded, Geometry(8, 1, 65, 13), Geometry(80, 1, 57, 13)},
        {w.lblUpdated, "Updated:", w.lblTotalUpdated, Geometry(8, 15, 65, 13),
         Geometry(80, 15, 57, 13)},
        {w.lblDeleted, "Deleted:", w.lblTotalDeleted, Geometry(8, 29, 65, 13),
         Geometry(80, 29, 57, 13)},
        {w.lblErrors, "Errors:", w.lblTotalErrors, Geometry(200, 8, 65, 13),
         Geometry(272, 8, 57, 13)},
        {w.lblProcessed, "Processed:", w.lblTotalImported, Geometry(200, 22, 65, 13),
         Geometry(272, 22, 57, 13)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(c.title->text(), c.caption);
        EXPECT_EQ(c.title->geometry(), c.titleRect);
        EXPECT_EQ(c.value->geometry(), c.valueRect);
        EXPECT_EQ(c.value->text(), "0");
        EXPECT_TRUE(c.value->alignment() & Qt::AlignRight);
        EXPECT_EQ(c.value->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_NE(c.title->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    }
}

TEST_F(ProgressDialogTest, RefreshesShowEachCounterInItsOwnLabelAndTheBar) {
    ASSERT_TRUE(Show(false, true));
    TfrmQelProcessWindow& w = Window();
    engine_.SetProgressRange(0, 1000, 0);
    // processed, errors, added, deleted, updated: all different so a swap shows.
    ASSERT_TRUE(engine_.UpdateProgress("Step 2", 400, 3, 390, 2, 5));
    EXPECT_TRUE(w.ProgressBar->isVisible());
    EXPECT_EQ(w.ProgressBar->maximum(), 1000);
    EXPECT_EQ(w.lblStatus->text(), "Step 2");
    EXPECT_EQ(w.ProgressBar->value(), 400);
    EXPECT_EQ(w.lblTotalImported->text(), "400");
    EXPECT_EQ(w.lblTotalErrors->text(), "3");
    EXPECT_EQ(w.lblTotalAdded->text(), "390");
    EXPECT_EQ(w.lblTotalDeleted->text(), "2");
    EXPECT_EQ(w.lblTotalUpdated->text(), "5");

    engine_.SetProgressRange(0, 0, 0);
    ASSERT_TRUE(engine_.UpdateProgress("Step 3", 0, 0, 0, 0, 0));
    EXPECT_FALSE(w.ProgressBar->isVisible());
}

TEST_F(ProgressDialogTest, CancelButtonEscapeAndClosingAllAskTheRunToStop) {
    struct Case {
        const char* how;
        std::function<void(TfrmQelProcessWindow&)> act;
        bool staysVisible;
    } cases[] = {
        {"Cancel clicked",
         [](TfrmQelProcessWindow& w) { QTest::mouseClick(w.btnCancel, Qt::LeftButton); }, true},
        {"Escape pressed", [](TfrmQelProcessWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); },
         true},
        {"window closed", [](TfrmQelProcessWindow& w) { w.close(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_TRUE(Show(false, true));
        EXPECT_FALSE(engine_.ProgressCanceled());
        c.act(Window());
        EXPECT_TRUE(engine_.ProgressCanceled());
        EXPECT_EQ(Window().isVisible(), c.staysVisible);
        engine_.CloseProgress();
    }
}

TEST_F(ProgressDialogTest, RefreshesFasterThanTheIntervalAreCoalescedAndTheLastOneIsPainted) {
    ws_.SetRepaintInterval(60 * 1000);
    ASSERT_TRUE(Show(false, true));
    const int painted = View().PaintCount();
    for (int i = 1; i <= 50; ++i) engine_.UpdateProgress("Importing...", i * 200, 0, i * 200, 0, 0);
    EXPECT_EQ(View().PaintCount(), painted) << "no paint within the interval";
    EXPECT_EQ(Window().lblTotalImported->text(), "0");
    engine_.CloseProgress();

    ws_.SetRepaintInterval(40);
    ASSERT_TRUE(Show(false, true));
    for (int i = 1; i <= 50; ++i) engine_.UpdateProgress("Importing...", i * 200, 0, i * 200, 0, 0);
    EXPECT_LT(View().PaintCount(), 50);
    // The state that arrived last is painted once the interval has passed.
    QTRY_COMPARE(Window().lblTotalImported->text(), QString("10000"));
}

TEST_F(ProgressDialogTest, AnimationLoopsWhilePlayingAndRestsOnItsStopFrame) {
    ASSERT_TRUE(Show(true, true));
    TCopyAnimation& a = *Window().Animate;
    EXPECT_TRUE(a.Playing());
    const QImage first = a.grab().toImage();
    const int frame = a.Frame();
    QTRY_VERIFY(a.Frame() != frame);
    EXPECT_NE(a.grab().toImage(), first) << "a new frame paints a different picture";
    View().StopAnimation();
    EXPECT_FALSE(a.Playing());
    EXPECT_EQ(a.Frame(), 34);
}

// --- Window system services --------------------------------------------------------------------

TEST(QtWindowSystem, MessageTextsShowLineBreaksAsPlainLineBreaks) {
    struct Case {
        const char* in;
        const char* shown;
    } cases[] = {
        {"Data loaded in 12 msec\r\n (1000 msec=1sec)",
         "Data loaded in 12 msec\n (1000 msec=1sec)"},
        {"one\ntwo", "one\ntwo"},
        {"a\r\rb", "a\n\nb"},
        {"no break", "no break"},
        {"caf\xc3\xa9", "caf\u00e9"},
    };
    for (const Case& c : cases) EXPECT_EQ(DisplayText(c.in), QString::fromUtf8(c.shown)) << c.in;
}

TEST(QtWindowSystem, RealBoxIsModalShowsTwoLinesAndClosesWithOk) {
    test::EnsureApplication();
    TQtWindowSystem ws;
    QString seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = box->text();
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    ws.ShowTitledMessage("About Qel v2.06", "line one\r\nline two");
    EXPECT_EQ(seen, "line one\nline two");
}

TEST(QtWindowSystem, WaitCursorIsOneSettingNotAStack) {
    test::EnsureApplication();
    TQtWindowSystem ws;
    ws.SetCursor(crHourGlass);
    ws.SetCursor(crHourGlass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ws.SetCursor(crDefault);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ws.SetCursor(crDefault);  // nothing left to restore: must not pop someone else's cursor
    QApplication::setOverrideCursor(Qt::CrossCursor);
    ws.SetCursor(crDefault);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
}

TEST(QtWindowSystem, CancellingTheMouseCaptureReleasesTheGrab) {
    test::EnsureApplication();
    QWidget w;
    w.show();
    w.grabMouse();
    ASSERT_EQ(QWidget::mouseGrabber(), &w);
    TQtWindowSystem ws;
    ws.CancelMouseCapture();
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    ws.CancelMouseCapture();  // nothing captured: nothing happens
}

}  // namespace
}  // namespace qel
