// The log loader window TfrmMain: a grid over the table "log.db", "Import Start" loads the
// access log "log.txt" into it with a TQelFromText, "About Qel" shows the about box. Both
// files live in the program's directory.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "core/Component.h"
#include "core/Variant.h"

class QPushButton;
class QTableView;

namespace qel {

class TDataSource;
class TField;
class TQelBaseComponent;
class TQelFromText;
class TSqliteTable;

// The directory of the program file, with its trailing separator.
std::string ProgramDir();

class TfrmMain : public QWidget {
    Q_OBJECT
    TComponent components_;  // owns tblLog and QelFromText1 (declared first: built first)

  public:
    // `programDir` is where "log.txt" and "log.db" are (with its trailing separator).
    explicit TfrmMain(std::string programDir = ProgramDir(), QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Components of the form, named as on the form.
    QTableView* DBGrid1 = nullptr;
    QPushButton* btnImport = nullptr;
    QPushButton* btnAbout = nullptr;
    TDataSource* dSrcLog = nullptr;
    TSqliteTable& tblLog;
    TQelFromText& QelFromText1;

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void btnImportClick();
    void QelFromText1GetCellParams(TQelBaseComponent& Sender, TField* Field, Variant& Value);
    void QelFromText1AfterRecordEvent(TQelBaseComponent& Sender, bool& Abort);
    void btnAboutClick();

    // Whether an import is in progress (the window is then inside btnImportClick).
    bool Importing() const { return importing_; }
    const std::string& ProgramDirectory() const { return programDir_; }

    // Client size of the form: with the classic frame (4-pixel borders, 30-pixel title bar)
    // the window measures 696 x 480.
    static constexpr int kClientWidth = 688;
    static constexpr int kClientHeight = 446;
    static constexpr int kGridHeight = 390;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Runs a handler as the framework does: an error leaving it goes to the window system's
    // default error report instead of out of the event loop.
    void Guarded(const std::function<void()>& handler);

    std::string programDir_;
    bool importing_ = false;
    bool closeRequested_ = false;
};

}  // namespace qel
