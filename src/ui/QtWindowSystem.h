// The window system of the engine rendered with Qt Widgets: message boxes, the wait cursor,
// pumping pending events, releasing a mouse capture and the progress dialog's view.
#pragma once

#include <QFont>
#include <QString>
#include <string>

#include "engine/WindowSystem.h"

namespace qel {

// The font of the forms: the platform's sans-serif face at a character height of 11 pixels.
QFont FormFont();

// Message text as a box shows it: the "\r\n" line breaks of the engine's texts become plain
// line breaks (a lone "\r" would otherwise show as a stray glyph on some platforms).
QString DisplayText(const std::string& text);

class TQtWindowSystem : public TWindowSystem {
  public:
    enum TBoxKind { bkInformation, bkError, bkTitled };

    TQtWindowSystem() = default;
    ~TQtWindowSystem() override;

    void SetCursor(TCursor cursor) override;
    void ShowInformation(const std::string& text) override { ShowBox(bkInformation, {}, text); }
    void ShowError(const std::string& text) override { ShowBox(bkError, {}, text); }
    void ShowTitledMessage(const std::string& title, const std::string& text) override {
        ShowBox(bkTitled, title, text);
    }
    void ProcessMessages() override;
    void CancelMouseCapture() override;
    std::unique_ptr<TProgressView> CreateProgressView(TfrmQelProcess& model) override;

    // Shortest time between two paints of a progress dialog. A run refreshes the dialog far
    // more often than a screen can show; the refreshes in between only mark it stale and the
    // latest state is painted when the interval has passed. 0 paints at every refresh.
    void SetRepaintInterval(int msec) { repaintInterval_ = msec < 0 ? 0 : msec; }
    int RepaintInterval() const { return repaintInterval_; }

    bool WaitCursorShown() const { return waitCursor_; }

  protected:
    // Shows one modal box with an OK button and waits for it. A test overrides this to record
    // the box instead of blocking on it.
    virtual void ShowBox(TBoxKind kind, const std::string& title, const std::string& text);

  private:
    int repaintInterval_ = 25;  // at most 40 paints a second
    bool waitCursor_ = false;
};

}  // namespace qel
