#include "ui/screen_content.h"

MainButtonLook MainButtonFor(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::Completed:
            return {ButtonFace::Play, true};
        case UpdatePhase::Checking:
        case UpdatePhase::Downloading:
            return {ButtonFace::Busy, false};
        case UpdatePhase::Idle:
        case UpdatePhase::Error:
            break;
    }
    return {ButtonFace::Busy, true};
}

FaceEffect FaceEffectFor(bool enabled, bool hovered) {
    if (!enabled) return FaceEffect::Dim;
    return hovered ? FaceEffect::Brighten : FaceEffect::Plain;
}

bool ShowsFileBar(UpdatePhase phase) {
    return phase != UpdatePhase::Idle && phase != UpdatePhase::Checking &&
           phase != UpdatePhase::Completed;
}

bool ShowsDownloadTexts(UpdatePhase phase, const UpdateState& state) {
    return phase == UpdatePhase::Downloading && state.overallTotal > 0;
}

bool ShowsTotalPercent(UpdatePhase phase, const UpdateState& state) {
    return state.overallTotal > 0 || phase == UpdatePhase::Completed;
}

Fraction FileBarFraction(const UpdateState& state) {
    return ByteFraction(state.fileDone, state.fileTotal);
}

Fraction TotalBarFraction(UpdatePhase phase, const UpdateState& state) {
    if (phase == UpdatePhase::Completed) return Whole();
    return ByteFraction(state.overallDone, state.overallTotal);
}
