// Helpers of the GUI tests: one QApplication for the test program, and a Qt window system
// whose message boxes are recorded instead of waiting for a click.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <string>
#include <vector>

#include "ui/QtWindowSystem.h"

namespace qel::test {

// The application lives from the first test that needs it to the end of the test program; it
// is destroyed while Qt's own globals still exist (not by a static destructor after main).
class TApplicationEnvironment : public ::testing::Environment {
  public:
    static QApplication*& App() {
        static QApplication* app = nullptr;
        return app;
    }
    void TearDown() override {
        delete App();
        App() = nullptr;
    }
};
inline const bool kApplicationEnvironment =
    (::testing::AddGlobalTestEnvironment(new TApplicationEnvironment), true);

inline QApplication& EnsureApplication() {
    QApplication*& app = TApplicationEnvironment::App();
    if (app) return *app;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qel-tests";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
    return *app;
}

class TRecordingWindowSystem : public TQtWindowSystem {
  public:
    struct Box {
        TBoxKind kind;
        std::string title;
        std::string text;
    };
    std::vector<Box> boxes;

  protected:
    void ShowBox(TBoxKind kind, const std::string& title, const std::string& text) override {
        boxes.push_back({kind, title, text});
    }
};

}  // namespace qel::test
