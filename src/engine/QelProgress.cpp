// The five progress operations of a run: they drive the progress dialog model, and they are the
// only places where a run lets the window system process pending messages.
#include <algorithm>

#include "core/TextUtil.h"
#include "engine/ImpCnst.h"
#include "engine/QelBase.h"
#include "engine/WindowSystem.h"

namespace qel {

bool TQelBaseComponent::ShowProgress(const std::string& caption, const std::string& status,
                                     const std::string& cancelText,
                                     const std::string& processedTitle,
                                     const std::string& errorsTitle, const std::string& addedTitle,
                                     const std::string& updatedTitle,
                                     const std::string& deletedTitle, bool animation,
                                     bool counters) {
    CloseProgress();
    TWindowSystem& ws = WindowSystem();
    try {
        progressDialog_ = std::make_unique<TfrmQelProcess>();
        TfrmQelProcess& d = *progressDialog_;
        d.View = ws.CreateProgressView(d);
        if (!d.View) throw Exception(impcnst::SCantCreateProcessDialog);
        ws.ProcessMessages();
        // A mouse button held down on the host is released before the dialog takes over.
        ws.CancelMouseCapture();
        if (counters) {
            d.lblProcessed.Caption = processedTitle;
            d.lblErrors.Caption = errorsTitle;
            d.lblAdded.Caption = addedTitle;
            d.lblUpdated.Caption = updatedTitle;
            d.lblDeleted.Caption = deletedTitle;
        } else {
            d.ClientHeight = 88;
            d.pnlCounters.Visible = false;
            d.btnCancel.Top = 55;
        }
        d.Caption = caption;
        d.lblStatus.Caption = status;
        d.btnCancel.Caption = cancelText;
        if (animation) {
            d.AnimationPlaying = true;
            d.View->StartAnimation();
        } else {
            d.Animate.Visible = false;
            d.lblStatus.Top = 4;
            d.ProgressBar.Top = d.lblStatus.Bottom() + 1;
            d.btnCancel.Top = d.ProgressBar.Bottom();
            d.pnlCounters.Top = d.btnCancel.Top + 3;
            d.ClientHeight = d.ClientHeight - d.Animate.Height;
        }
        d.Visible = true;
        d.View->Show();
        ws.ProcessMessages();
        return true;
    } catch (...) {
        progressDialog_.reset();
        ws.ShowError(impcnst::SCantCreateProcessDialog);
        return false;
    }
}

void TQelBaseComponent::SetProgressRange(int minimum, int maximum, int position) {
    if (!progressDialog_) return;
    TfrmQelProcess& d = *progressDialog_;
    // A bar refuses a range whose maximum lies below its minimum.
    if (maximum < minimum) {
        throw EPropertyError(Format(msg::kPropertyOutOfRange, "TProgressBar"));
    }
    d.ProgressMin = minimum;
    d.ProgressMax = maximum;
    d.ProgressPosition = std::clamp(position, minimum, maximum);
    d.ProgressBar.Visible = minimum != 0 || maximum != 0;
}

bool TQelBaseComponent::UpdateProgress(const std::string& status, int processed, int errors,
                                       int added, int deleted, int updated) {
    if (!progressDialog_) return false;
    TfrmQelProcess& d = *progressDialog_;
    d.lblStatus.Caption = status;
    d.ProgressPosition = std::clamp(processed, d.ProgressMin, d.ProgressMax);
    d.lblTotalImported.Caption = IntToStr(processed);
    d.lblTotalErrors.Caption = IntToStr(errors);
    d.lblTotalAdded.Caption = IntToStr(added);
    d.lblTotalDeleted.Caption = IntToStr(deleted);
    d.lblTotalUpdated.Caption = IntToStr(updated);
    if (d.View) d.View->Repaint();
    // This is where a click on Cancel reaches the dialog.
    WindowSystem().ProcessMessages();
    return true;
}

bool TQelBaseComponent::CloseProgress() {
    if (!progressDialog_) return false;
    try {
        std::unique_ptr<TfrmQelProcess> d = std::move(progressDialog_);
        d->AnimationPlaying = false;
        if (d->View) d->View->StopAnimation();
        d.reset();
        WindowSystem().ProcessMessages();
        return true;
    } catch (...) {
        progressDialog_.reset();
        return false;
    }
}

bool TQelBaseComponent::ProgressCanceled() const {
    return progressDialog_ && progressDialog_->CancelRequested;
}

}  // namespace qel
