#pragma once
// Which elements a frame shows in each phase, and the shares its bars and ring
// are filled to. Plain functions of the phase and one copy of the progress record.

#include "engine/update_state.h"
#include "ui/screen_text.h"

enum class ButtonFace { Busy, Play };
enum class FaceEffect { Plain, Brighten, Dim };

struct MainButtonLook {
    ButtonFace face;
    bool enabled;
};

// The main button can be pressed in Idle, Error (start again) and Completed
// (play); while a run checks or downloads it is dimmed.
MainButtonLook MainButtonFor(UpdatePhase phase);
// How a button face is drawn: a disabled face is dimmed whether hovered or not.
FaceEffect FaceEffectFor(bool enabled, bool hovered);

// The checking screen replaces the info panel, the status line and both bars.
inline bool ShowsCheckingScreen(UpdatePhase phase) { return phase == UpdatePhase::Checking; }
// The upper (current file) bar belongs to a download: shown while downloading
// and kept after a failed one.
bool ShowsFileBar(UpdatePhase phase);
// Speed, file sizes, total sizes and time left: only while a download with a
// known total runs.
bool ShowsDownloadTexts(UpdatePhase phase, const UpdateState& state);
// The percentage inside the lower bar.
bool ShowsTotalPercent(UpdatePhase phase, const UpdateState& state);

Fraction FileBarFraction(const UpdateState& state);
// A completed update shows a full bar even when nothing had to be downloaded.
Fraction TotalBarFraction(UpdatePhase phase, const UpdateState& state);
