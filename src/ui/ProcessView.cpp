#include "ui/ProcessView.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <cmath>

#include "core/DateTime.h"
#include "engine/QelStat.h"
#include "ui/QtWindowSystem.h"

namespace qel {

namespace {

QString ToQ(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void Place(QWidget* w, const TControlState& c) {
    const QRect r(c.Left, c.Top, c.Width, c.Height);
    if (w->geometry() != r) w->setGeometry(r);
    if (w->isVisibleTo(w->parentWidget()) != c.Visible) w->setVisible(c.Visible);
}

void PlaceLabel(QLabel* l, const TControlState& c) {
    Place(l, c);
    const QString text = ToQ(c.Caption);
    if (l->text() != text) l->setText(text);
}

QLabel* MakeLabel(QWidget* parent, Qt::Alignment align, bool value) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(align | Qt::AlignVCenter);
    if (value) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0, 0, 255));
        l->setPalette(p);
    }
    return l;
}

// A folder seen from the front: a tab on the back sheet and a slightly lower front sheet.
void PaintFolder(QPainter& p, QPointF at, bool open) {
    const QColor back(214, 170, 38), front(250, 204, 72), edge(140, 100, 10);
    QPainterPath rear;
    rear.moveTo(at + QPointF(0, 6));
    rear.lineTo(at + QPointF(0, 2));
    rear.lineTo(at + QPointF(3, 0));
    rear.lineTo(at + QPointF(13, 0));
    rear.lineTo(at + QPointF(16, 4));
    rear.lineTo(at + QPointF(36, 4));
    rear.lineTo(at + QPointF(36, 30));
    rear.lineTo(at + QPointF(0, 30));
    rear.closeSubpath();
    p.setPen(QPen(edge, 1));
    p.setBrush(back);
    p.drawPath(rear);
    QPolygonF sheet;
    const double lift = open ? 8 : 0;
    sheet << at + QPointF(0 + (open ? 4 : 0), 9 + lift)
          << at + QPointF(36 + (open ? 4 : 0), 9 + lift) << at + QPointF(36, 30)
          << at + QPointF(0, 30);
    p.setBrush(front);
    p.drawPolygon(sheet);
}

void PaintPage(QPainter& p, QPointF centre, double angle) {
    p.save();
    p.translate(centre);
    p.rotate(angle);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(-7, -9, 14, 18));
    p.setPen(QPen(QColor(60, 90, 200), 1));
    for (int i = 0; i < 4; ++i) p.drawLine(QPointF(-4, -5 + 3.5 * i), QPointF(4, -5 + 3.5 * i));
    p.restore();
}

}  // namespace

// --- TCopyAnimation ---------------------------------------------------------------------------

TCopyAnimation::TCopyAnimation(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);  // transparent over the parent's colour
    timer_.setInterval(kFrameMsec);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrameCount;
        update();
    });
}

void TCopyAnimation::Play() {
    if (!timer_.isActive()) timer_.start();
}

void TCopyAnimation::Stop(int frame) {
    timer_.stop();
    frame_ = frame < 0 ? 0 : frame % kFrameCount;
    update();
}

void TCopyAnimation::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = width(), h = height();
    const QPointF from(w * 0.18, h - 34), to(w * 0.82 - 36, h - 34);
    // The page travels during the first 28 frames and rests in the target folder after that.
    const int travel = kFrameCount - 7;
    const double t = frame_ < travel ? static_cast<double>(frame_) / travel : 1.0;
    PaintFolder(p, from, frame_ < travel);
    const QPointF start = from + QPointF(18, 8), end = to + QPointF(18, 8);
    const double arc = std::sin(t * M_PI) * (h - 22);
    const QPointF page(start.x() + (end.x() - start.x()) * t, start.y() - arc);
    PaintFolder(p, to, t >= 1.0);
    if (t < 1.0) PaintPage(p, page, -25 + 50 * t);
}

// --- TfrmQelProcessWindow ---------------------------------------------------------------------

TfrmQelProcessWindow::TfrmQelProcessWindow(TfrmQelProcess& model)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      model_(model) {
    setObjectName(QStringLiteral("frmQelProcess"));
    setFont(FormFont());
    setModal(false);
    setSizeGripEnabled(false);

    Bevel = new QFrame(this);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::Panel);
    Bevel->setFrameShadow(QFrame::Raised);

    Animate = new TCopyAnimation(this);
    Animate->setObjectName(QStringLiteral("Animate"));

    lblStatus = MakeLabel(this, Qt::AlignLeft, false);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);

    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setCursor(Qt::ArrowCursor);  // stays an arrow under the run's wait cursor
    QObject::connect(btnCancel, &QPushButton::clicked, this, [this] { model_.btnCancelClick(); });

    pnlCounters = new QWidget(this);
    pnlCounters->setObjectName(QStringLiteral("pnlCounters"));
    auto title = [this](const char* name) {
        QLabel* l = MakeLabel(pnlCounters, Qt::AlignRight, false);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    auto value = [this](const char* name) {
        QLabel* l = MakeLabel(pnlCounters, Qt::AlignRight, true);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    lblAdded = title("lblAdded");
    lblUpdated = title("lblUpdated");
    lblDeleted = title("lblDeleted");
    lblErrors = title("lblErrors");
    lblProcessed = title("lblProcessed");
    lblTotalAdded = value("lblTotalAdded");
    lblTotalUpdated = value("lblTotalUpdated");
    lblTotalDeleted = value("lblTotalDeleted");
    lblTotalErrors = value("lblTotalErrors");
    lblTotalImported = value("lblTotalImported");

    Animate->Stop(model_.AnimationStopFrame);
    Sync();
}

void TfrmQelProcessWindow::Sync() {
    const QString caption = ToQ(model_.Caption);
    if (windowTitle() != caption) setWindowTitle(caption);
    const QSize client(model_.ClientWidth, model_.ClientHeight);
    if (size() != client || minimumSize() != client) setFixedSize(client);

    Place(Bevel, model_.Bevel);
    Place(Animate, model_.Animate);
    PlaceLabel(lblStatus, model_.lblStatus);
    Place(ProgressBar, model_.ProgressBar);
    if (ProgressBar->minimum() != model_.ProgressMin ||
        ProgressBar->maximum() != model_.ProgressMax)
        ProgressBar->setRange(model_.ProgressMin, model_.ProgressMax);
    ProgressBar->setValue(model_.ProgressPosition);
    Place(btnCancel, model_.btnCancel);
    const QString cancel = ToQ(model_.btnCancel.Caption);
    if (btnCancel->text() != cancel) btnCancel->setText(cancel);
    Place(pnlCounters, model_.pnlCounters);
    PlaceLabel(lblAdded, model_.lblAdded);
    PlaceLabel(lblUpdated, model_.lblUpdated);
    PlaceLabel(lblDeleted, model_.lblDeleted);
    PlaceLabel(lblErrors, model_.lblErrors);
    PlaceLabel(lblProcessed, model_.lblProcessed);
    PlaceLabel(lblTotalAdded, model_.lblTotalAdded);
    PlaceLabel(lblTotalUpdated, model_.lblTotalUpdated);
    PlaceLabel(lblTotalDeleted, model_.lblTotalDeleted);
    PlaceLabel(lblTotalErrors, model_.lblTotalErrors);
    PlaceLabel(lblTotalImported, model_.lblTotalImported);
}

void TfrmQelProcessWindow::closeEvent(QCloseEvent* event) {
    // Closing asks the run to stop, like Cancel; the window hides as usual.
    model_.FormClose();
    event->accept();
}

void TfrmQelProcessWindow::reject() {
    // QDialog rejects on Escape; here Escape is the Cancel button's shortcut. Clicking the
    // button keeps the two paths one: the button's handler sets the flag.
    if (btnCancel->isVisible() && btnCancel->isEnabled()) btnCancel->click();
}

// --- TQtProgressView --------------------------------------------------------------------------

TQtProgressView::TQtProgressView(TfrmQelProcess& model, int repaintIntervalMsec)
    : model_(model),
      window_(std::make_unique<TfrmQelProcessWindow>(model)),
      interval_(repaintIntervalMsec) {
    pending_.setSingleShot(true);
    QObject::connect(&pending_, &QTimer::timeout, window_.get(), [this] { PaintNow(); });
}

TQtProgressView::~TQtProgressView() {
    // A state still waiting for its paint (the run's outcome, typically) is shown before the
    // dialog goes, as it would have been without the coalescing.
    if (pending_.isActive()) PaintNow();
    window_->hide();
}

void TQtProgressView::Show() {
    window_->Sync();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        QRect frame(QPoint(), window_->size());
        frame.moveCenter(area.center());
        window_->move(frame.topLeft());
    }
    window_->show();
    window_->raise();
    PaintNow();
}

void TQtProgressView::Repaint() {
    const std::int64_t since = lastPaint_ ? MillisecondsSince(*lastPaint_) : 0;
    if (!lastPaint_ || since >= interval_) {
        PaintNow();
    } else if (!pending_.isActive()) {
        pending_.start(static_cast<int>(interval_ - since));
    }
}

void TQtProgressView::PaintNow() {
    pending_.stop();
    window_->Sync();
    if (window_->isVisible()) window_->repaint();
    lastPaint_ = TickCountMs();
    ++paintCount_;
}

void TQtProgressView::StartAnimation() {
    window_->Animate->Play();
}

void TQtProgressView::StopAnimation() {
    window_->Animate->Stop(model_.AnimationStopFrame);
}

}  // namespace qel
