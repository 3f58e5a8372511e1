#include "cli/TerminalProgress.h"

#include <algorithm>
#include <csignal>
#include <ostream>

#include "core/DateTime.h"

namespace qel::cli {

std::string FormatProgressLine(const TfrmQelProcess& d, int barWidth) {
    std::string line;
    const long long span = static_cast<long long>(d.ProgressMax) - d.ProgressMin;
    if (span > 0 && barWidth > 0) {
        long long done = std::clamp<long long>(
            static_cast<long long>(d.ProgressPosition) - d.ProgressMin, 0, span);
        int filled = static_cast<int>(done * barWidth / span);
        int percent = static_cast<int>(done * 100 / span);
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(barWidth - filled), '-');
        line += "] ";
        std::string p = std::to_string(percent);
        line.append(3 - std::min<std::size_t>(3, p.size()), ' ');
        line += p + "%  ";
    }
    const auto counter = [&line](const TControlState& title, const TControlState& value,
                                 bool last) {
        line += title.Caption + " " + value.Caption;
        if (!last) line += "  ";
    };
    counter(d.lblProcessed, d.lblTotalImported, false);
    counter(d.lblErrors, d.lblTotalErrors, false);
    counter(d.lblAdded, d.lblTotalAdded, false);
    counter(d.lblUpdated, d.lblTotalUpdated, false);
    counter(d.lblDeleted, d.lblTotalDeleted, true);
    return line;
}

TTerminalProgressView::TTerminalProgressView(TfrmQelProcess& model, std::ostream* out, Clock clock,
                                             std::uint64_t intervalMs, int columns)
    : model_(model),
      out_(out),
      clock_(std::move(clock)),
      intervalMs_(intervalMs),
      columns_(columns) {}

TTerminalProgressView::~TTerminalProgressView() {
    if (!out_) return;
    try {
        Draw(true);
        *out_ << '\n' << std::flush;
    } catch (...) {
        // A broken terminal must not turn the end of a run into a crash.
    }
}

void TTerminalProgressView::Draw(bool force) {
    if (!out_) return;
    const std::uint64_t now = clock_();
    if (!force && drawCount_ > 0 && now - lastDraw_ < intervalMs_) return;
    lastDraw_ = now;
    ++drawCount_;
    std::string line = FormatProgressLine(model_, 20);
    if (columns_ > 1 && line.size() > static_cast<std::size_t>(columns_ - 1)) {
        line.resize(static_cast<std::size_t>(columns_ - 1));
    }
    // Back to the start of the line, the new text, and the rest of the old one erased.
    *out_ << '\r' << line << "\x1b[K" << std::flush;
}

// --- Interrupts -----------------------------------------------------------------------------

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

void Install(int signal) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // One graceful cancel; the next signal of the same kind ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
}

void Restore(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallInterruptHandlers() {
    Install(SIGINT);
    Install(SIGTERM);
}

void RestoreInterruptHandlers() {
    Restore(SIGINT);
    Restore(SIGTERM);
}

bool InterruptRequested() {
    return g_interrupted != 0;
}
void ClearInterrupt() {
    g_interrupted = 0;
}

// --- Window system --------------------------------------------------------------------------

// A terminal view that also tells the window system when its dialog goes away.
class TDialogTracker : public TTerminalProgressView {
  public:
    TDialogTracker(TTerminalWindowSystem& ws, TfrmQelProcess& model, std::ostream* out, int columns)
        : TTerminalProgressView(model, out, &TickCountMs, 200, columns), ws_(ws), model_(model) {
        ws_.dialog_ = &model_;
    }
    ~TDialogTracker() override {
        if (ws_.dialog_ == &model_) ws_.dialog_ = nullptr;
    }

  private:
    TTerminalWindowSystem& ws_;
    TfrmQelProcess& model_;
};

TTerminalWindowSystem::TTerminalWindowSystem(std::ostream* progress, int columns,
                                             std::ostream& errors)
    : progress_(progress), columns_(columns), errors_(errors) {}

void TTerminalWindowSystem::ShowError(const std::string& text) {
    errors_ << text << '\n' << std::flush;
}

void TTerminalWindowSystem::ShowTitledMessage(const std::string& title, const std::string& text) {
    errors_ << title << ": " << text << '\n' << std::flush;
}

void TTerminalWindowSystem::ProcessMessages() {
    if (dialog_ && InterruptRequested()) dialog_->btnCancelClick();
}

std::unique_ptr<TProgressView> TTerminalWindowSystem::CreateProgressView(TfrmQelProcess& model) {
    return std::make_unique<TDialogTracker>(*this, model, progress_, columns_);
}

}  // namespace qel::cli
