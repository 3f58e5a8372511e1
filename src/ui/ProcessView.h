// The Qt view of the progress dialog model TfrmQelProcess: a dialog-style window that shows
// the model's controls at their positions and sizes, plus a small looping copy animation.
#pragma once

#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/WindowSystem.h"

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qel {

class TfrmQelProcess;
struct TControlState;

// A looping file-copy picture: a page lifts out of the left folder, flies over in an arc and
// drops into the right one. Painted, not loaded from a file.
class TCopyAnimation : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kFrameCount = 35;  // frames of one loop, 0..34
    static constexpr int kFrameMsec = 60;

    explicit TCopyAnimation(QWidget* parent);
    void Play();
    void Stop(int frame);  // stops and shows `frame`
    bool Playing() const { return timer_.isActive(); }
    int Frame() const { return frame_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int frame_ = 0;
};

// The window. It holds no state of its own: Sync() takes everything over from the model, and
// the user's Cancel (button, Escape) and closing go straight into the model.
class TfrmQelProcessWindow : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmQelProcessWindow(TfrmQelProcess& model);

    void Sync();

    QFrame* Bevel;
    TCopyAnimation* Animate;
    QLabel* lblStatus;
    QProgressBar* ProgressBar;
    QPushButton* btnCancel;
    QWidget* pnlCounters;
    QLabel* lblAdded;
    QLabel* lblUpdated;
    QLabel* lblDeleted;
    QLabel* lblErrors;
    QLabel* lblProcessed;
    QLabel* lblTotalAdded;
    QLabel* lblTotalUpdated;
    QLabel* lblTotalDeleted;
    QLabel* lblTotalErrors;
    QLabel* lblTotalImported;

  protected:
    void closeEvent(QCloseEvent* event) override;  // the window's close button: FormClose
    void reject() override;                        // Escape: the Cancel button

  private:
    TfrmQelProcess& model_;
};

// The TProgressView a Qt window system hands to the engine.
class TQtProgressView : public TProgressView {
  public:
    TQtProgressView(TfrmQelProcess& model, int repaintIntervalMsec);
    ~TQtProgressView() override;

    void Show() override;
    void Repaint() override;
    void StartAnimation() override;
    void StopAnimation() override;

    TfrmQelProcessWindow& Window() { return *window_; }
    int PaintCount() const { return paintCount_; }

  private:
    void PaintNow();

    TfrmQelProcess& model_;
    std::unique_ptr<TfrmQelProcessWindow> window_;
    int interval_;
    std::optional<std::uint64_t> lastPaint_;  // TickCountMs() at the last paint
    QTimer pending_;  // paints a state that arrived too soon after the last paint
    int paintCount_ = 0;
};

}  // namespace qel
