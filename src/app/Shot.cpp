// qel-loader-shot OUTDIR: starts the log loader window, presses "Import Start", saves a picture
// of the progress dialog halfway through the run and one of the window after it, prints the
// messages the window showed, and quits. For screenshots, and for a smoke run on a machine
// without anyone at the screen (no box waits for a click).
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Main.h"
#include "dataset/SqliteTable.h"
#include "engine/QelStat.h"
#include "text/Qel2TXT.h"
#include "ui/ProcessView.h"
#include "ui/QtWindowSystem.h"

namespace qel {
namespace {

class TShotWindowSystem : public TQtWindowSystem {
  public:
    TfrmMain* form = nullptr;
    QString dialogPicture;
    bool dialogSaved = false;
    std::vector<std::string> messages;

    void ProcessMessages() override {
        TQtWindowSystem::ProcessMessages();
        if (dialogSaved || !form) return;
        const TQelStatistic& s = form->QelFromText1.Statistic();
        TfrmQelProcess* dialog = form->QelFromText1.ProgressDialog();
        if (!dialog || s.TotalCount() <= 0 || s.TotalImported() < s.TotalCount() / 2) return;
        auto* view = dynamic_cast<TQtProgressView*>(dialog->View.get());
        if (!view) return;
        view->Window().Sync();
        dialogSaved = view->Window().grab().save(dialogPicture);
    }

  protected:
    void ShowBox(TBoxKind kind, const std::string&, const std::string& text) override {
        messages.push_back(text);
        QString shown = DisplayText(text);
        std::printf("%s box:\n%s\n", kind == bkError ? "error" : "message",
                    shown.toUtf8().constData());
    }
};

}  // namespace
}  // namespace qel

int main(int argc, char** argv) {
    qel::TSqliteTable::ConfigureProcess();  // before SQLite is used
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qel-loader"));
    QApplication::setFont(qel::FormFont());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    qel::TShotWindowSystem ws;
    ws.dialogPicture = out + QStringLiteral("/progress-dialog.png");
    const qel::TScopedWindowSystem installed(ws);
    int rc = 0;
    {
        qel::TfrmMain frm;
        ws.form = &frm;
        frm.show();
        QApplication::processEvents();
        frm.btnImport->click();
        QApplication::processEvents();
        const QString window = out + QStringLiteral("/main-window.png");
        frm.grab().save(window);
        const auto& s = frm.QelFromText1.Statistic();
        std::printf("rows read %d, added %d, errors %d; table now holds %lld rows\n",
                    s.TotalImported(), s.TotalAdded(), s.TotalErrors(),
                    frm.tblLog.Active() ? static_cast<long long>(frm.tblLog.RecordCount()) : 0LL);
        std::printf("saved %s%s\n", window.toUtf8().constData(),
                    ws.dialogSaved ? (" and " + ws.dialogPicture).toUtf8().constData() : "");
        const bool timed =
            !ws.messages.empty() && ws.messages.back().rfind("Data loaded in ", 0) == 0;
        rc = timed && s.TotalAdded() > 0 ? 0 : 1;
        ws.form = nullptr;
    }
    return rc;
}
