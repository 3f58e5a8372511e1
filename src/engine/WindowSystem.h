// What the engine needs of a window system: the wait cursor, message boxes, pumping pending
// messages, the mouse capture and a view for the progress dialog. The default is headless: it
// keeps what it was asked to show and lets a test press the dialog's Cancel button.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qel {

class TfrmQelProcess;

enum TCursor : std::uint8_t { crDefault, crHourGlass };

// A visible rendering of a progress dialog model. The model is the truth; the view shows it.
class TProgressView {
  public:
    virtual ~TProgressView() = default;
    virtual void Show() = 0;     // shows the dialog, non-modal
    virtual void Repaint() = 0;  // takes over every changed state of the model and paints at once
    virtual void StartAnimation() = 0;
    virtual void StopAnimation() = 0;
};

class TWindowSystem {
  public:
    virtual ~TWindowSystem() = default;
    virtual void SetCursor(TCursor cursor) = 0;
    virtual void ShowInformation(const std::string& text) = 0;  // modal, one OK button
    virtual void ShowError(const std::string& text) = 0;        // modal, one OK button
    // Modal box with a caption, one OK button and no icon (the about box).
    virtual void ShowTitledMessage(const std::string& title, const std::string& text) = 0;
    virtual void ProcessMessages() = 0;
    // Releases a mouse capture held by any window (the cancel-mode message).
    virtual void CancelMouseCapture() = 0;
    // A view for the dialog model; raises when the window system cannot make one.
    virtual std::unique_ptr<TProgressView> CreateProgressView(TfrmQelProcess& model) = 0;
};

// The window system in force (the headless one until a host installs another).
TWindowSystem& WindowSystem();
// Installs `ws` (not owned; nullptr restores the headless one). Returns the previous one.
TWindowSystem* SetWindowSystem(TWindowSystem* ws);

// Installs a window system for its lifetime and puts the previous one back, also when the scope
// is left by an exception: a window system that is gone can never stay installed.
class TScopedWindowSystem {
  public:
    explicit TScopedWindowSystem(TWindowSystem& ws) : previous_(SetWindowSystem(&ws)) {}
    ~TScopedWindowSystem() { SetWindowSystem(previous_); }
    TScopedWindowSystem(const TScopedWindowSystem&) = delete;
    TScopedWindowSystem& operator=(const TScopedWindowSystem&) = delete;

  private:
    TWindowSystem* previous_;
};

// Keeps everything it was asked to show, shows nothing.
class THeadlessWindowSystem : public TWindowSystem {
  public:
    struct Box {
        std::string Kind;  // "information", "error", "titled"
        std::string Title;
        std::string Text;
    };

    void SetCursor(TCursor cursor) override;
    void ShowInformation(const std::string& text) override {
        boxes.push_back({"information", "", text});
    }
    void ShowError(const std::string& text) override { boxes.push_back({"error", "", text}); }
    void ShowTitledMessage(const std::string& title, const std::string& text) override {
        boxes.push_back({"titled", title, text});
    }
    void ProcessMessages() override;
    void CancelMouseCapture() override { ++cancelModeCount; }
    std::unique_ptr<TProgressView> CreateProgressView(TfrmQelProcess& model) override;

    TCursor cursor = crDefault;
    std::vector<TCursor> cursorHistory;
    std::vector<Box> boxes;
    int processMessagesCount = 0;
    int cancelModeCount = 0;
    int repaintCount = 0;
    bool failDialogCreation =
        false;  // CreateProgressView raises, as a window system out of resources
    // Called at every ProcessMessages: a test presses Cancel or closes the dialog from here.
    std::function<void()> onProcessMessages;
    TfrmQelProcess* dialog = nullptr;  // the model of the dialog shown now, if any
};

}  // namespace qel
