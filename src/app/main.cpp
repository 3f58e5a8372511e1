// qel-loader: the log loader window.
#include "app/Main.h"

#include <QApplication>

#include "dataset/SqliteTable.h"
#include "ui/QtWindowSystem.h"

int main(int argc, char** argv) {
    qel::TSqliteTable::ConfigureProcess();  // before SQLite is used
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qel-loader"));
    QApplication::setApplicationDisplayName(QStringLiteral("Norvast Qel"));
    QApplication::setFont(qel::FormFont());
    qel::TQtWindowSystem windowSystem;
    const qel::TScopedWindowSystem installed(windowSystem);
    int rc = 0;
    {
        qel::TfrmMain frmMain;
        frmMain.show();
        rc = QApplication::exec();
    }
    return rc;
}
