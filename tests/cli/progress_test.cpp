// The terminal rendering of the progress dialog and the interrupt that stands for its Cancel
// button.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "cli/TerminalProgress.h"

namespace qel::cli {
namespace {

TfrmQelProcess Dialog(int min, int max, int position) {
    TfrmQelProcess d;
    d.ProgressMin = min;
    d.ProgressMax = max;
    d.ProgressPosition = position;
    d.lblTotalImported.Caption = "7";
    d.lblTotalErrors.Caption = "1";
    d.lblTotalAdded.Caption = "5";
    d.lblTotalUpdated.Caption = "0";
    d.lblTotalDeleted.Caption = "2";
    return d;
}

TEST(ProgressLine, BarAndPercentFollowThePosition) {
    const struct {
        int min, max, position;
        const char* bar;
    } cases[] = {
        {0, 100, 0, "[----------]   0%  "},
        {0, 100, 50, "[#####-----]  50%  "},
        {0, 100, 100, "[##########] 100%  "},
        {0, 3, 1, "[###-------]  33%  "},
        {0, 100, 250, "[##########] 100%  "},                // past the end stays full
        {10, 20, 5, "[----------]   0%  "},                  // before the start stays empty
        {0, 2147483647, 2147483647, "[##########] 100%  "},  // no overflow at the top
        {0, 0, 0, ""},                                       // no range: counters only
        {0, -5, 0, ""},
    };
    for (const auto& c : cases) {
        std::string line = FormatProgressLine(Dialog(c.min, c.max, c.position), 10);
        EXPECT_EQ(line,
                  std::string(c.bar) + "Processed: 7  Errors: 1  Added: 5  Updated: 0  Deleted: 2")
            << c.min << ".." << c.max << " at " << c.position;
    }
}

struct FakeClock {
    std::uint64_t now = 1000;
    TTerminalProgressView::Clock Fn() {
        return [this] { return now; };
    }
};

TEST(ProgressView, RepaintsAreThrottledShowAndCloseAreNot) {
    FakeClock clock;
    std::ostringstream out;
    TfrmQelProcess d = Dialog(0, 100, 0);
    int draws = 0;
    {
        TTerminalProgressView view(d, &out, clock.Fn(), 200);
        view.Show();
        view.Repaint();  // same moment: skipped
        clock.now += 199;
        view.Repaint();  // still inside the interval
        EXPECT_EQ(view.DrawCount(), 1);
        clock.now += 1;
        d.ProgressPosition = 40;
        view.Repaint();
        EXPECT_EQ(view.DrawCount(), 2);
        d.ProgressPosition = 100;
        d.lblTotalImported.Caption = "100";
        draws = view.DrawCount();
    }  // closing draws the last state even inside the interval
    EXPECT_EQ(draws, 2);
    const std::string text = out.str();
    EXPECT_NE(text.find("[####################] 100%  Processed: 100"), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line, redrawn in place";
}

TEST(ProgressView, LineIsCutToTheTerminalWidth) {
    FakeClock clock;
    std::ostringstream out;
    TfrmQelProcess d = Dialog(0, 100, 50);
    {
        TTerminalProgressView view(d, &out, clock.Fn(), 200, 30);
        view.Show();
    }
    std::string first = out.str().substr(0, out.str().find("\x1b[K"));
    EXPECT_EQ(first, "\r" + FormatProgressLine(d, 20).substr(0, 29));
}

TEST(TerminalWindowSystem, InterruptPressesCancelOfTheDialogShownNow) {
    std::ostringstream errors;
    TTerminalWindowSystem ws(nullptr, 0, errors);
    ClearInterrupt();
    InstallInterruptHandlers();
    std::raise(SIGINT);
    EXPECT_TRUE(InterruptRequested());
    ws.ProcessMessages();  // no dialog yet: the interrupt waits

    TfrmQelProcess d;
    d.View = ws.CreateProgressView(d);
    EXPECT_EQ(ws.Dialog(), &d);
    EXPECT_FALSE(d.CancelRequested);
    ws.ProcessMessages();
    EXPECT_TRUE(d.CancelRequested);
    d.View.reset();
    EXPECT_EQ(ws.Dialog(), nullptr);

    RestoreInterruptHandlers();
    ClearInterrupt();
    EXPECT_TRUE(errors.str().empty());
}

TEST(TerminalWindowSystem, WithoutInterruptTheDialogRuns) {
    std::ostringstream errors;
    TTerminalWindowSystem ws(nullptr, 0, errors);
    ClearInterrupt();
    TfrmQelProcess d;
    d.View = ws.CreateProgressView(d);
    ws.ProcessMessages();
    EXPECT_FALSE(d.CancelRequested);
    ws.ShowInformation("The data import process has completed successfully.");
    ws.ShowError("Can't create a process dialog");
    EXPECT_EQ(errors.str(), "Can't create a process dialog\n");
}

}  // namespace
}  // namespace qel::cli
