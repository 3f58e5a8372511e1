#include "ui/QtWindowSystem.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

#include "engine/QelStat.h"
#include "ui/ProcessView.h"

namespace qel {

QFont FormFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QString DisplayText(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

TQtWindowSystem::~TQtWindowSystem() {
    if (waitCursor_ && qApp) QApplication::restoreOverrideCursor();
}

void TQtWindowSystem::SetCursor(TCursor cursor) {
    // The override cursor is a stack in Qt; the engine's cursor is one setting, so keep at
    // most one entry of ours on it.
    if (cursor == crHourGlass && !waitCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    } else if (cursor == crDefault && waitCursor_) {
        QApplication::restoreOverrideCursor();
        waitCursor_ = false;
    }
}

void TQtWindowSystem::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TQtWindowSystem::CancelMouseCapture() {
    // A window that grabbed the mouse (or an open popup, which holds it implicitly) lets go,
    // so that a button pressed on the host is not left pressed while the run goes on.
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
}

std::unique_ptr<TProgressView> TQtWindowSystem::CreateProgressView(TfrmQelProcess& model) {
    return std::make_unique<TQtProgressView>(model, repaintInterval_);
}

void TQtWindowSystem::ShowBox(TBoxKind kind, const std::string& title, const std::string& text) {
    QMessageBox box(QApplication::activeWindow());
    switch (kind) {
        case bkInformation:
            box.setIcon(QMessageBox::Information);
            box.setWindowTitle(QGuiApplication::applicationDisplayName());
            break;
        case bkError:
            box.setIcon(QMessageBox::Critical);
            box.setWindowTitle(QGuiApplication::applicationDisplayName());
            break;
        case bkTitled:
            box.setIcon(QMessageBox::NoIcon);
            box.setWindowTitle(DisplayText(title));
            break;
    }
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace qel
