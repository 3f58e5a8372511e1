// Helpers of the GUI tests: one QApplication for the test program, and a Qt window system
// whose message boxes are recorded instead of waiting for a click.
#pragma once

#include <QApplication>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/QtWindowSystem.h"

namespace qel::test {

inline QApplication& EnsureApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qel-tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class TRecordingWindowSystem : public TQtWindowSystem {
public:
    struct Box {
        TBoxKind kind;
        std::string title;
        std::string text;
    };
    std::vector<Box> boxes;
    bool failViews = false;

    std::unique_ptr<TProgressView> CreateProgressView(TfrmQelProcess& model) override {
        if (failViews) throw std::runtime_error("no window resources");
        return TQtWindowSystem::CreateProgressView(model);
    }

protected:
    void ShowBox(TBoxKind kind, const std::string& title, const std::string& text) override {
        boxes.push_back({kind, title, text});
    }
};

}  // namespace qel::test
