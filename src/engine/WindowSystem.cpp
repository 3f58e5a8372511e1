#include "engine/WindowSystem.h"

#include "core/Errors.h"
#include "engine/QelStat.h"

namespace qel {

namespace {

// The headless view: draws nothing, counts repaints, and lets the window system reach the
// model of the dialog shown now (a test presses Cancel through it).
class THeadlessProgressView : public TProgressView {
  public:
    THeadlessProgressView(THeadlessWindowSystem& ws, TfrmQelProcess& model)
        : ws_(ws), model_(model) {
        ws_.dialog = &model_;
    }
    ~THeadlessProgressView() override {
        if (ws_.dialog == &model_) ws_.dialog = nullptr;
    }
    void Show() override {}
    void Repaint() override { ++ws_.repaintCount; }
    void StartAnimation() override {}
    void StopAnimation() override {}

  private:
    THeadlessWindowSystem& ws_;
    TfrmQelProcess& model_;
};

THeadlessWindowSystem& DefaultHeadless() {
    static THeadlessWindowSystem headless;
    return headless;
}

TWindowSystem* g_windowSystem = nullptr;

}  // namespace

TWindowSystem& WindowSystem() {
    return g_windowSystem ? *g_windowSystem : DefaultHeadless();
}

TWindowSystem* SetWindowSystem(TWindowSystem* ws) {
    TWindowSystem* previous = &WindowSystem();
    g_windowSystem = ws;
    return previous;
}

void THeadlessWindowSystem::SetCursor(TCursor c) {
    cursor = c;
    cursorHistory.push_back(c);
}

void THeadlessWindowSystem::ProcessMessages() {
    ++processMessagesCount;
    if (onProcessMessages) onProcessMessages();
}

std::unique_ptr<TProgressView> THeadlessWindowSystem::CreateProgressView(TfrmQelProcess& model) {
    if (failDialogCreation) throw Exception("Out of system resources");
    return std::make_unique<THeadlessProgressView>(*this, model);
}

}  // namespace qel
