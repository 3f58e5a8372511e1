// The progress dialog TfrmQelProcess as a toolkit-free model: its controls with their
// positions, sizes, captions and visibility, the progress bar, the counters and CancelRequested.
// A window system's view (TProgressView) draws it; the headless one only keeps it.
#pragma once

#include <memory>
#include <string>

#include "engine/WindowSystem.h"

namespace qel {

struct TControlState {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool Visible = true;
    std::string Caption;
    int Bottom() const { return Top + Height; }
};

class TfrmQelProcess {
  public:
    // FormCreate: controls at their design positions, the animation created (not playing),
    // CancelRequested false.
    TfrmQelProcess();

    std::string Caption;
    int ClientWidth = 442;
    int ClientHeight = 130;

    TControlState Bevel{0, 0, 442, 130, true, ""};
    TControlState Animate{8, 4, 427, 45, true, ""};
    TControlState lblStatus{8, 56, 339, 13, true, ""};
    TControlState ProgressBar{10, 70, 337, 10, false, ""};
    TControlState btnCancel{355, 80, 75, 25, true, "&Cancel"};
    TControlState pnlCounters{10, 83, 337, 43, true, ""};
    // Counter titles and values, inside pnlCounters (positions relative to the panel).
    TControlState lblAdded{8, 1, 65, 13, true, "Added:"};
    TControlState lblUpdated{8, 15, 65, 13, true, "Updated:"};
    TControlState lblDeleted{8, 29, 65, 13, true, "Deleted:"};
    TControlState lblErrors{200, 8, 65, 13, true, "Errors:"};
    TControlState lblProcessed{200, 22, 65, 13, true, "Processed:"};
    TControlState lblTotalAdded{80, 1, 57, 13, true, "0"};
    TControlState lblTotalUpdated{80, 15, 57, 13, true, "0"};
    TControlState lblTotalDeleted{80, 29, 57, 13, true, "0"};
    TControlState lblTotalErrors{272, 8, 57, 13, true, "0"};
    TControlState lblTotalImported{272, 22, 57, 13, true, "0"};

    int ProgressMin = 0;
    int ProgressMax = 100;
    int ProgressPosition = 0;
    bool AnimationPlaying = false;
    int AnimationStopFrame = 34;

    bool CancelRequested = false;
    bool Visible = false;

    void btnCancelClick() { CancelRequested = true; }  // also Escape
    void FormClose() { CancelRequested = true; }       // the window's close button

    // The view drawing this model while it is shown (owned by the model).
    std::unique_ptr<TProgressView> View;
};

}  // namespace qel
