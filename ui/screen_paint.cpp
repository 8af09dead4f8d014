// The five paint steps of one frame. Each reads the phase once and takes its own
// copy of the progress record, so the worker may publish between two steps.

#include "engine/patcher.h"
#include "ui/drawing.h"
#include "ui/patcher_window.h"
#include "ui/screen_content.h"
#include "ui/screen_text.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const ARGB kWhite = 0xFFFFFFFF;
const ARGB kCompletedStatus = 0xFF64FF64;
const ARGB kBackgroundTop = 0xFF191923;
const ARGB kBackgroundBottom = 0xFF0F0F19;
const ARGB kPanelFallback = 0xB4003264;
const ARGB kRingOuter = 0x64000000;
const ARGB kRingInner = 0x50FFFFFF;
const ARGB kRingArc = 0xFF00B4FF;
const ARGB kPlayFallback = 0xFF00B450;
const ARGB kCloseFallback = 0xFF963232;
const ARGB kCloseHoverFallback = 0xFFC83C3C;

// Rows red, green, blue, alpha, translation: each colour becomes 1.2 v + 0.1.
const ColorMatrix brightenMatrix = {{
    {1.2f, 0.0f, 0.0f, 0.0f, 0.0f},
    {0.0f, 1.2f, 0.0f, 0.0f, 0.0f},
    {0.0f, 0.0f, 1.2f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 1.0f, 0.0f},
    {0.1f, 0.1f, 0.1f, 0.0f, 1.0f},
}};
// Colours at 60 %, alpha at 80 %: the face of a button that cannot be pressed.
const ColorMatrix dimMatrix = {{
    {0.6f, 0.0f, 0.0f, 0.0f, 0.0f},
    {0.0f, 0.6f, 0.0f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.6f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 0.8f, 0.0f},
    {0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
}};

const ColorMatrix* MatrixFor(FaceEffect effect) {
    switch (effect) {
        case FaceEffect::Brighten:
            return &brightenMatrix;
        case FaceEffect::Dim:
            return &dimMatrix;
        case FaceEffect::Plain:
            break;
    }
    return nullptr;
}

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

RectF LayoutOf(const RECT& rect) {
    return RectF(static_cast<REAL>(rect.left), static_cast<REAL>(rect.top),
                 static_cast<REAL>(Width(rect)), static_cast<REAL>(Height(rect)));
}

// A text placed at a point: no clipping, no wrapping; `align` says whether the
// point is where the text starts, is centred or ends.
TextPlacement AtPoint(int x, int y, StringAlignment align) {
    TextPlacement placement;
    placement.layout = RectF(static_cast<REAL>(x), static_cast<REAL>(y), 0.0f, 0.0f);
    placement.align = align;
    return placement;
}

TextPlacement CentredIn(const RectF& layout) {
    TextPlacement placement;
    placement.layout = layout;
    placement.align = StringAlignmentCenter;
    placement.lineAlign = StringAlignmentCenter;
    return placement;
}

// Draws the track and, over it, the filled share of a bar. Without the track or
// fill artwork that part is left out: bars have no fallback.
void PaintBar(GpGraphics* graphics, GpImage* track, GpImage* fill, const RECT& bar,
              const Fraction& filled) {
    if (track != nullptr) DrawWholeImage(graphics, track, bar.left, bar.top, Width(bar), Height(bar));
    if (fill == nullptr || !filled.IsPositive()) return;
    const int fillWidth = static_cast<int>(filled.Of(Width(bar)));
    if (fillWidth <= 0) return;
    const int sourceWidth = static_cast<int>(filled.Of(SizeOf(fill).width));
    DrawLeftPart(graphics, fill, sourceWidth, bar.left, bar.top, fillWidth, Height(bar));
}

}  // namespace

void PatcherWindow::PaintBackground(GpGraphics* graphics) {
    const RECT client = ClientRect();
    const int cw = client.right;
    const int ch = client.bottom;
    if (imgBackground) {
        // The background is the frame's first layer over a black bitmap: copying
        // its pixels (plain RGB when the artwork is opaque, else premultiplied)
        // gives what blending over black would, without GDI+'s slow blend of a
        // whole-window image.
        GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
        DrawWholeImage(graphics, imgBackground.Get(), 0, 0, cw, ch);
        GdipSetCompositingMode(graphics, CompositingModeSourceOver);
    } else {
        FillVerticalGradient(graphics, kBackgroundTop, kBackgroundBottom, ch, 0, 0, cw, ch);
    }
    if (!ShowsCheckingScreen(engine->GetPhase())) return;

    const UpdateState state = engine->GetProgress();
    const int panelX = (cw - 258) / 2;
    if (imgCheckPanel) {
        DrawWholeImage(graphics, imgCheckPanel.Get(), panelX, 200, 258, 180);
    } else {
        FillSolid(graphics, kPanelFallback, panelX, 200, 258, 180);
    }

    const int ringX = (cw - 80) / 2;
    StrokeEllipse(graphics, kRingOuter, 10.0f, ringX, 230, 80, 80);
    StrokeEllipse(graphics, kRingInner, 8.0f, ringX, 230, 80, 80);
    const Fraction checked = CheckingFraction(state.fileIndex, state.fileCount);
    if (checked.whole > 0) {
        // From twelve o'clock, clockwise.
        StrokeRoundCappedArc(graphics, kRingArc, 8.0f, ringX, 230, 80, 80, -90.0f,
                             checked.Degrees());
        UniqueFont percentFont = MakeUiFont(20.0f, FontStyleBold);
        DrawPlacedText(graphics, FormatPercent(checked), percentFont.Get(), kWhite,
                       CentredIn(RectF(static_cast<REAL>(ringX), 230.0f, 80.0f, 80.0f)));
    }
    UniqueFont captionFont = MakeUiFont(11.0f, FontStyleRegular);
    TextPlacement caption = AtPoint(0, 325, StringAlignmentCenter);
    caption.layout.X = static_cast<REAL>(cw) * 0.5f;
    DrawPlacedText(graphics, L"Sprawdzanie plików...", captionFont.Get(), kWhite, caption);
}

void PatcherWindow::PaintInfoPanel(GpGraphics* graphics) {
    const UpdateState state = engine->GetProgress();
    const UpdatePhase phase = engine->GetPhase();
    if (ShowsCheckingScreen(phase)) return;

    const int cw = ClientRect().right;
    const int panelX = (cw - 580) / 2;
    const int panelY = fileBarRect.top - 60;
    if (imgInfoPanel) {
        DrawWholeImage(graphics, imgInfoPanel.Get(), panelX, panelY, 580, 190);
    } else {
        FillSolid(graphics, kPanelFallback, panelX, panelY, 580, 190);
    }

    // Nothing to write (the first frame, before the run has said anything): no
    // font is made for it.
    const bool downloadTexts = ShowsDownloadTexts(phase, state);
    if (!downloadTexts && state.status.empty()) return;

    UniqueFont font = MakeUiFont(10.0f, FontStyleRegular);
    if (downloadTexts) {
        DrawPlacedText(graphics, FormatSpeed(state.speed), font.Get(), kWhite,
                       AtPoint(fileBarRect.left, fileBarRect.top - 45, StringAlignmentNear));
        DrawPlacedText(graphics, FormatSizePair(state.fileDone, state.fileTotal), font.Get(),
                       kWhite, AtPoint(fileBarRect.right, fileBarRect.top - 45, StringAlignmentFar));
    }

    // A long status (a deep file path) loses its middle, keeps its file name, and
    // never leaves its line.
    TextPlacement statusLine;
    statusLine.layout = RectF(static_cast<REAL>(fileBarRect.left),
                              static_cast<REAL>(fileBarRect.top - 25),
                              static_cast<REAL>(Width(fileBarRect)), 20.0f);
    statusLine.trimming = StringTrimmingEllipsisPath;
    statusLine.singleLine = true;
    DrawPlacedText(graphics, state.status, font.Get(),
                   phase == UpdatePhase::Completed ? kCompletedStatus : kWhite, statusLine);
}

void PatcherWindow::PaintFileBar(GpGraphics* graphics) {
    if (!ShowsFileBar(engine->GetPhase())) return;
    const UpdateState state = engine->GetProgress();
    PaintBar(graphics, imgBarTrack.Get(), imgBarGreen.Get(), fileBarRect, FileBarFraction(state));
}

void PatcherWindow::PaintTotalBar(GpGraphics* graphics) {
    const UpdateState state = engine->GetProgress();
    const UpdatePhase phase = engine->GetPhase();
    if (ShowsCheckingScreen(phase)) return;

    if (ShowsDownloadTexts(phase, state)) {
        UniqueFont font = MakeUiFont(10.0f, FontStyleRegular);
        DrawPlacedText(graphics, FormatSizePair(state.overallDone, state.overallTotal), font.Get(),
                       kWhite, AtPoint(totalBarRect.left, totalBarRect.top - 22, StringAlignmentNear));
        DrawPlacedText(graphics, FormatTimeLeft(state.secondsLeft), font.Get(), kWhite,
                       AtPoint(totalBarRect.right, totalBarRect.top - 22, StringAlignmentFar));
    }

    const Fraction filled = TotalBarFraction(phase, state);
    PaintBar(graphics, imgBarTrack.Get(), imgBarBlue.Get(), totalBarRect, filled);

    if (ShowsTotalPercent(phase, state)) {
        UniqueFont percentFont = MakeUiFont(10.0f, FontStyleBold);
        DrawPlacedText(graphics, FormatPercent(filled), percentFont.Get(), kWhite,
                       CentredIn(LayoutOf(totalBarRect)));
    }
}

void PatcherWindow::PaintButtons(GpGraphics* graphics) {
    const MainButtonLook look = MainButtonFor(engine->GetPhase());
    GpImage* face = look.face == ButtonFace::Play ? imgPlayButton.Get() : imgBusyButton.Get();
    if (face != nullptr) {
        DrawWholeImage(graphics, face, mainButtonRect.left, mainButtonRect.top,
                       Width(mainButtonRect), Height(mainButtonRect),
                       MatrixFor(FaceEffectFor(look.enabled, mainHover)));
    } else {
        // The plain fill shows neither hovering nor the disabled state.
        FillSolid(graphics, look.face == ButtonFace::Play ? kPlayFallback : accentColor,
                  mainButtonRect.left, mainButtonRect.top, Width(mainButtonRect),
                  Height(mainButtonRect));
    }

    if (imgCloseButton) {
        DrawWholeImage(graphics, imgCloseButton.Get(), closeButtonRect.left, closeButtonRect.top,
                       Width(closeButtonRect), Height(closeButtonRect),
                       MatrixFor(FaceEffectFor(true, closeHover)));
    } else {
        FillSolid(graphics, closeHover ? kCloseHoverFallback : kCloseFallback, closeButtonRect.left,
                  closeButtonRect.top, Width(closeButtonRect), Height(closeButtonRect));
    }
}
