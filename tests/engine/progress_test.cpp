// The progress operations and the dialog model they drive: layouts, the bar, the counters,
// cancelling, and a dialog that cannot be made.
#include <gtest/gtest.h>

#include "EngineTestKit.h"

namespace qel::test {
namespace {

class ProgressTest : public HeadlessTest {
  protected:
    bool Show(bool animation, bool counters) {
        return comp.ShowProgress("Caption", "Status", "&Stop",
                                 "P:", "E:", "A:", "U:", "D:", animation, counters);
    }
    TMemorySource comp;
};

struct LayoutCase {
    bool animation, counters;
    int clientHeight;
    int statusTop, barTop, cancelTop, panelTop;
    bool animateVisible, panelVisible;
};

TEST_F(ProgressTest, Layouts) {
    const std::vector<LayoutCase> cases = {
        {true, true, 130, 56, 70, 80, 83, true, true},
        {true, false, 88, 56, 70, 55, 83, true, false},
        {false, true, 85, 4, 18, 28, 31, false, true},
        {false, false, 43, 4, 18, 28, 31, false, false},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "animation " << c.animation << " counters " << c.counters);
        ASSERT_TRUE(Show(c.animation, c.counters));
        const TfrmQelProcess& d = *comp.ProgressDialog();
        EXPECT_EQ(ws.dialog, &d);
        EXPECT_TRUE(d.Visible);
        EXPECT_EQ(d.ClientWidth, 442);
        EXPECT_EQ(d.ClientHeight, c.clientHeight);
        EXPECT_EQ(d.lblStatus.Top, c.statusTop);
        EXPECT_EQ(d.ProgressBar.Top, c.barTop);
        EXPECT_EQ(d.btnCancel.Top, c.cancelTop);
        EXPECT_EQ(d.pnlCounters.Top, c.panelTop);
        EXPECT_EQ(d.Animate.Visible, c.animateVisible);
        EXPECT_EQ(d.AnimationPlaying, c.animation);
        EXPECT_EQ(d.pnlCounters.Visible, c.panelVisible);
        EXPECT_FALSE(d.ProgressBar.Visible);
        EXPECT_EQ(d.Caption, "Caption");
        EXPECT_EQ(d.lblStatus.Caption, "Status");
        EXPECT_EQ(d.btnCancel.Caption, "&Stop");
        EXPECT_FALSE(d.CancelRequested);
        // The counter titles are taken only when the panel is shown.
        EXPECT_EQ(d.lblProcessed.Caption, c.counters ? "P:" : "Processed:");
        EXPECT_EQ(d.lblErrors.Caption, c.counters ? "E:" : "Errors:");
        EXPECT_EQ(d.lblAdded.Caption, c.counters ? "A:" : "Added:");
        EXPECT_EQ(d.lblUpdated.Caption, c.counters ? "U:" : "Updated:");
        EXPECT_EQ(d.lblDeleted.Caption, c.counters ? "D:" : "Deleted:");
        EXPECT_TRUE(comp.CloseProgress());
        EXPECT_EQ(ws.dialog, nullptr);
    }
}

TEST_F(ProgressTest, ShowingAgainReplacesTheDialog) {
    ASSERT_TRUE(Show(true, true));
    comp.ProgressDialog()->btnCancelClick();
    ASSERT_TRUE(Show(false, false));
    EXPECT_FALSE(comp.ProgressCanceled());
    EXPECT_EQ(comp.ProgressDialog()->ClientHeight, 43);
    EXPECT_EQ(ws.dialog, comp.ProgressDialog());
    EXPECT_EQ(ws.cancelModeCount, 2);
}

struct RangeCase {
    int minimum, maximum, position;
    bool visible;
    int shownPosition;
};

TEST_F(ProgressTest, RangeAndBarVisibility) {
    const std::vector<RangeCase> cases = {
        {0, 0, 0, false, 0},   {0, 10, 0, true, 0},   {0, 10, 4, true, 4},
        {-5, 0, -2, true, -2}, {0, 10, 15, true, 10},
    };
    ASSERT_TRUE(Show(false, true));
    TfrmQelProcess& d = *comp.ProgressDialog();
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum);
        comp.SetProgressRange(c.minimum, c.maximum, c.position);
        EXPECT_EQ(d.ProgressMin, c.minimum);
        EXPECT_EQ(d.ProgressMax, c.maximum);
        EXPECT_EQ(d.ProgressPosition, c.shownPosition);
        EXPECT_EQ(d.ProgressBar.Visible, c.visible);
    }
    try {
        comp.SetProgressRange(0, -1, 0);
        FAIL() << "no error";
    } catch (const EPropertyError& e) {
        EXPECT_EQ(e.Message(), "TProgressBar property out of range");
    }
}

TEST_F(ProgressTest, UpdateShowsTheCountersAndPumps) {
    EXPECT_FALSE(comp.UpdateProgress("x", 1, 2, 3, 4, 5));  // no dialog: nothing happens
    EXPECT_EQ(ws.processMessagesCount, 0);
    EXPECT_EQ(ws.repaintCount, 0);
    ASSERT_TRUE(Show(true, true));
    comp.SetProgressRange(0, 100, 0);
    const int pumps = ws.processMessagesCount;
    ASSERT_TRUE(comp.UpdateProgress("Working", 42, 1, 30, 2, 9));
    const TfrmQelProcess& d = *comp.ProgressDialog();
    EXPECT_EQ(d.lblStatus.Caption, "Working");
    EXPECT_EQ(d.ProgressPosition, 42);
    EXPECT_EQ(d.lblTotalImported.Caption, "42");
    EXPECT_EQ(d.lblTotalErrors.Caption, "1");
    EXPECT_EQ(d.lblTotalAdded.Caption, "30");
    EXPECT_EQ(d.lblTotalDeleted.Caption, "2");
    EXPECT_EQ(d.lblTotalUpdated.Caption, "9");
    EXPECT_EQ(ws.repaintCount, 1);
    EXPECT_EQ(ws.processMessagesCount, pumps + 1);
}

TEST_F(ProgressTest, CancelAndCloseRequestCancellation) {
    EXPECT_FALSE(comp.ProgressCanceled());
    for (bool close : {false, true}) {
        ASSERT_TRUE(Show(true, true));
        EXPECT_FALSE(comp.ProgressCanceled());
        close ? ws.dialog->FormClose() : ws.dialog->btnCancelClick();
        EXPECT_TRUE(comp.ProgressCanceled());
        EXPECT_TRUE(comp.CloseProgress());
        EXPECT_FALSE(comp.ProgressCanceled());
    }
    EXPECT_FALSE(comp.CloseProgress());
}

TEST_F(ProgressTest, DialogThatCannotBeMade) {
    ws.failDialogCreation = true;
    EXPECT_FALSE(Show(true, true));
    EXPECT_EQ(comp.ProgressDialog(), nullptr);
    ASSERT_EQ(ws.boxes.size(), 1u);
    EXPECT_EQ(ws.boxes[0].Kind, "error");
    EXPECT_EQ(ws.boxes[0].Text, "Can't create a process dialog");
    EXPECT_FALSE(comp.UpdateProgress("x", 1, 0, 0, 0, 0));
    comp.SetProgressRange(0, 10, 0);  // nothing to set
    EXPECT_FALSE(comp.ProgressCanceled());
}

}  // namespace
}  // namespace qel::test
