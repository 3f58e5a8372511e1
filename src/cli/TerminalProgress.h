// The window system of the command-line tool: the progress dialog becomes a one-line bar on
// standard error, message boxes never reach standard output, and an interrupt (Ctrl-C or a
// termination request) presses the dialog's Cancel button, so the run ends as canceled and the
// table keeps and commits what was posted.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "engine/QelStat.h"
#include "engine/WindowSystem.h"

namespace qel::cli {

// The bar and the counters of a dialog model on one line, e.g.
// "[##########----------]  50%  Processed: 500  Errors: 0  Added: 500  Updated: 0  Deleted: 0".
// Without a usable range (maximum not above minimum) the bar and the percentage are left out.
std::string FormatProgressLine(const TfrmQelProcess& dialog, int barWidth);

// Draws a dialog model on a terminal. Repaints come every UpdateStep rows; they are drawn at
// most once per `intervalMs` so that a small step does not flood the terminal. Showing the
// dialog and closing it (the last state, with the outcome) are always drawn. The line is cut
// to `columns` - 1 characters (0: not cut) so that it never wraps. With no stream it draws
// nothing.
class TTerminalProgressView : public TProgressView {
  public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds, monotonic
    TTerminalProgressView(TfrmQelProcess& model, std::ostream* out, Clock clock,
                          std::uint64_t intervalMs = 200, int columns = 0);
    ~TTerminalProgressView() override;

    void Show() override { Draw(true); }
    void Repaint() override { Draw(false); }
    void StartAnimation() override {}
    void StopAnimation() override {}

    int DrawCount() const { return drawCount_; }

  private:
    void Draw(bool force);

    TfrmQelProcess& model_;
    std::ostream* out_;
    Clock clock_;
    std::uint64_t intervalMs_;
    int columns_;
    std::uint64_t lastDraw_ = 0;
    int drawCount_ = 0;
};

// Interrupts: the first SIGINT or SIGTERM only raises a flag, which the next message pump
// turns into a Cancel; a second one ends the process the default way.
void InstallInterruptHandlers();
void RestoreInterruptHandlers();
bool InterruptRequested();
void ClearInterrupt();

class TTerminalWindowSystem : public TWindowSystem {
  public:
    // `progress`: where the bar is drawn (nullptr: nowhere), `columns` its terminal's width
    // (0: unknown); `errors`: where error boxes go.
    TTerminalWindowSystem(std::ostream* progress, int columns, std::ostream& errors);

    void SetCursor(TCursor) override {}
    // The outcome box of a run without dialog; the tool prints its own result lines instead.
    void ShowInformation(const std::string&) override {}
    void ShowError(const std::string& text) override;
    void ShowTitledMessage(const std::string& title, const std::string& text) override;
    // Delivers a pending interrupt to the dialog shown now as a click on Cancel.
    void ProcessMessages() override;
    void CancelMouseCapture() override {}
    std::unique_ptr<TProgressView> CreateProgressView(TfrmQelProcess& model) override;

    TfrmQelProcess* Dialog() const { return dialog_; }

  private:
    friend class TDialogTracker;
    std::ostream* progress_;
    int columns_;
    std::ostream& errors_;
    TfrmQelProcess* dialog_ = nullptr;
};

}  // namespace qel::cli
