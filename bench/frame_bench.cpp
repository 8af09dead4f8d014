// The cost of one whole paint cycle of the real window on the Downloading screen.
//   bench_frame [FRAMES]
// The engine is put in the Downloading phase with a progress record like one a
// real download publishes, the window is created as the entry point creates it,
// and each frame is forced with RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW).
// The window procedure is wrapped so that only the WM_PAINT handling is timed.
// Then the frame's drawing operations are replayed one kind at a time, with the
// window's own images and the drawing helpers the window uses, to show where
// a frame's time goes.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "ui/patcher_window.h"
#include "ui/png_resource.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

WNDPROC originalProc = nullptr;
std::vector<double> paintMs;
bool measuring = false;

LRESULT CALLBACK TimingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT || !measuring) {
        return CallWindowProcW(originalProc, hwnd, message, wParam, lParam);
    }
    double start = bench::NowMs();
    LRESULT result = CallWindowProcW(originalProc, hwnd, message, wParam, lParam);
    paintMs.push_back(bench::NowMs() - start);
    return result;
}

void Pump(double forMs) {
    double end = bench::NowMs() + forMs;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(1);
    } while (bench::NowMs() < end);
}

// A record as the download stage publishes it mid-file; the numbers move from
// frame to frame so that every frame draws fresh texts and bar widths.
UpdateState DownloadRecord(int frame) {
    const uint32_t mib = 1024 * 1024;
    UpdateState state;
    state.status = L"data\\maps\\zażółć_gęślą_jaźń.map";
    state.fileTotal = 64 * mib;
    state.fileDone = (static_cast<uint32_t>(frame) * 311 * 1024) % state.fileTotal;
    state.overallTotal = 256 * mib;
    state.overallDone = 2 * 64 * mib + state.fileDone;
    state.speed = 4.5e6 + frame * 1000.0;
    state.secondsLeft = 83 - frame % 60;
    state.fileIndex = 2;
    state.fileCount = 4;
    return state;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// "Segoe UI" as the window asks for it (the prefix maps it to an installed face).
UniqueFont UiFont(float size, int style) {
    UniqueFontFamily family;
    UniqueFont font;
    if (GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, family.Put()) == Ok) {
        GdipCreateFont(family.Get(), size, style, UnitPoint, font.Put());
    }
    return font;
}

TextPlacement At(float x, float y, StringAlignment align) {
    TextPlacement placement;
    placement.layout = RectF(x, y, 0.0f, 0.0f);
    placement.align = align;
    return placement;
}

// One Downloading frame's operations, grouped and timed, `frames` times; prints
// the median of each group.
int ProfileSteps(HWND hwnd, int frames) {
    HMODULE module = GetModuleHandleW(nullptr);
    UniqueImage background = LoadPngResource(module, IDP_BACKGROUND);
    UniqueImage track = LoadPngResource(module, IDP_BAR_TRACK);
    UniqueImage blue = LoadPngResource(module, IDP_BAR_BLUE);
    UniqueImage green = LoadPngResource(module, IDP_BAR_GREEN);
    UniqueImage panel = LoadPngResource(module, IDP_INFO_PANEL);
    UniqueImage busy = LoadPngResource(module, IDP_BUSY_BUTTON);
    UniqueImage close = LoadPngResource(module, IDP_CLOSE_BUTTON);
    if (!background || !track || !blue || !green || !panel || !busy || !close) {
        return bench::Fail("the window's images are not in the program");
    }
    const ColorMatrix dim = {{{0.6f, 0, 0, 0, 0}, {0, 0.6f, 0, 0, 0}, {0, 0, 0.6f, 0, 0},
                              {0, 0, 0, 0.8f, 0}, {0, 0, 0, 0, 1}}};
    std::vector<double> setup, backgroundMs, panelMs, fonts, texts, bars, buttons, finish, copy;
    HDC screen = GetDC(hwnd);
    for (int i = 0; i < frames; ++i) {
        double t0 = bench::NowMs();
        UniqueMemoryDc memory(CreateCompatibleDC(screen));
        UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, 650, 450));
        ScopedSelection selection(memory.Get(), bitmap.Get());
        UniqueGraphics graphics;
        GdipCreateFromHDC(memory.Get(), graphics.Put());
        GdipSetSmoothingMode(graphics.Get(), SmoothingModeAntiAlias);
        GdipSetTextRenderingHint(graphics.Get(), TextRenderingHintClearTypeGridFit);
        double t1 = bench::NowMs();
        DrawWholeImage(graphics.Get(), background.Get(), 0, 0, 650, 450);
        double t2 = bench::NowMs();
        DrawWholeImage(graphics.Get(), panel.Get(), 35, 200, 580, 190);
        double t3 = bench::NowMs();
        UniqueFont regular = UiFont(10.0f, FontStyleRegular);
        UniqueFont regular2 = UiFont(10.0f, FontStyleRegular);
        UniqueFont bold = UiFont(10.0f, FontStyleBold);
        double t4 = bench::NowMs();
        DrawPlacedText(graphics.Get(), L"4.47MiB/s", regular.Get(), 0xFFFFFFFF,
                       At(75, 215, StringAlignmentNear));
        DrawPlacedText(graphics.Get(), L"55.88MiB / 64.00MiB", regular.Get(), 0xFFFFFFFF,
                       At(575, 215, StringAlignmentFar));
        TextPlacement status;
        status.layout = RectF(75, 235, 500, 20);
        status.trimming = StringTrimmingEllipsisPath;
        status.singleLine = true;
        DrawPlacedText(graphics.Get(), L"data\\maps\\zażółć_gęślą_jaźń.map", regular.Get(),
                       0xFFFFFFFF, status);
        DrawPlacedText(graphics.Get(), L"183.88MiB / 256.00MiB", regular2.Get(), 0xFFFFFFFF,
                       At(75, 298, StringAlignmentNear));
        DrawPlacedText(graphics.Get(), L"01:19", regular2.Get(), 0xFFFFFFFF,
                       At(575, 298, StringAlignmentFar));
        TextPlacement percent;
        percent.layout = RectF(75, 320, 500, 25);
        percent.align = StringAlignmentCenter;
        percent.lineAlign = StringAlignmentCenter;
        DrawPlacedText(graphics.Get(), L"71%", bold.Get(), 0xFFFFFFFF, percent);
        double t5 = bench::NowMs();
        DrawWholeImage(graphics.Get(), track.Get(), 75, 260, 500, 25);
        DrawLeftPart(graphics.Get(), green.Get(), 435, 75, 260, 435, 25);
        DrawWholeImage(graphics.Get(), track.Get(), 75, 320, 500, 25);
        DrawLeftPart(graphics.Get(), blue.Get(), 359, 75, 320, 359, 25);
        double t6 = bench::NowMs();
        DrawWholeImage(graphics.Get(), busy.Get(), 200, 388, 120, 42, &dim);
        DrawWholeImage(graphics.Get(), close.Get(), 330, 388, 120, 42);
        double t7 = bench::NowMs();
        graphics.Reset();  // flushes
        double t8 = bench::NowMs();
        BitBlt(screen, 0, 0, 650, 450, memory.Get(), 0, 0, SRCCOPY);
        double t9 = bench::NowMs();
        setup.push_back(t1 - t0);
        backgroundMs.push_back(t2 - t1);
        panelMs.push_back(t3 - t2);
        fonts.push_back(t4 - t3);
        texts.push_back(t5 - t4);
        bars.push_back(t6 - t5);
        buttons.push_back(t7 - t6);
        finish.push_back(t8 - t7);
        copy.push_back(t9 - t8);
    }

    // The two big images drawn the way the window draws them, and three ways
    // that cost less: copies kept in premultiplied ARGB; the same with the opaque
    // background copied rather than blended; and both images composed once into
    // a GDI bitmap that each frame starts from with one BitBlt.
    GpBitmap* backgroundCopy = nullptr;
    GpBitmap* panelCopy = nullptr;
    GdipCloneBitmapAreaI(0, 0, 650, 450, PixelFormat32bppPARGB,
                         reinterpret_cast<GpBitmap*>(background.Get()), &backgroundCopy);
    GdipCloneBitmapAreaI(0, 0, 580, 190, PixelFormat32bppPARGB,
                         reinterpret_cast<GpBitmap*>(panel.Get()), &panelCopy);
    UniqueImage premultipliedBackground(backgroundCopy);
    UniqueImage premultipliedPanel(panelCopy);
    UniqueMemoryDc layerDc(CreateCompatibleDC(screen));
    UniqueGdiObject layer(CreateCompatibleBitmap(screen, 650, 450));
    {
        ScopedSelection selection(layerDc.Get(), layer.Get());
        UniqueGraphics graphics;
        GdipCreateFromHDC(layerDc.Get(), graphics.Put());
        DrawWholeImage(graphics.Get(), background.Get(), 0, 0, 650, 450);
        DrawWholeImage(graphics.Get(), panel.Get(), 35, 200, 580, 190);
    }
    std::vector<double> variants[4];
    for (int i = 0; i < frames; ++i) {
        UniqueMemoryDc memory(CreateCompatibleDC(screen));
        UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, 650, 450));
        ScopedSelection selection(memory.Get(), bitmap.Get());
        UniqueGraphics graphics;
        GdipCreateFromHDC(memory.Get(), graphics.Put());
        GdipSetSmoothingMode(graphics.Get(), SmoothingModeAntiAlias);
        for (int v = 0; v < 4; ++v) {
            double t0 = bench::NowMs();
            if (v == 3) {
                ScopedSelection layerSelection(layerDc.Get(), layer.Get());
                BitBlt(memory.Get(), 0, 0, 650, 450, layerDc.Get(), 0, 0, SRCCOPY);
            } else {
                if (v == 2) GdipSetCompositingMode(graphics.Get(), CompositingModeSourceCopy);
                DrawWholeImage(graphics.Get(), v == 0 ? background.Get() : premultipliedBackground.Get(),
                               0, 0, 650, 450);
                GdipSetCompositingMode(graphics.Get(), CompositingModeSourceOver);
                DrawWholeImage(graphics.Get(), v == 0 ? panel.Get() : premultipliedPanel.Get(), 35,
                               200, 580, 190);
            }
            variants[v].push_back(bench::NowMs() - t0);
        }
    }
    ReleaseDC(hwnd, screen);
    char line[512];
    std::snprintf(line, sizeof line,
                  "mode=frame-profile setup=%.3f background=%.3f panel=%.3f fonts=%.3f texts=%.3f "
                  "bars=%.3f buttons=%.3f flush=%.3f copy=%.3f images_as_now=%.3f "
                  "images_premultiplied=%.3f images_premultiplied_copied=%.3f images_composed=%.3f",
                  Median(setup), Median(backgroundMs), Median(panelMs), Median(fonts),
                  Median(texts), Median(bars), Median(buttons), Median(finish), Median(copy),
                  Median(variants[0]), Median(variants[1]), Median(variants[2]),
                  Median(variants[3]));
    bench::PrintResult(line);
    return 0;
}

}  // namespace

int main() {
    std::vector<std::wstring> args = bench::Arguments();
    int frames = args.empty() ? 200 : std::stoi(args[0]);

    PatcherConfig config = MakeDefaultConfig();
    Patcher patcher(config);
    // In Downloading the window's own start request is ignored: no run begins.
    PatcherTestAccess::SetPhase(patcher, UpdatePhase::Downloading);
    patcher.PublishProgress(DownloadRecord(0));

    PatcherWindow window(&patcher, config);
    if (!window.Create()) return bench::Fail("the window could not be created");
    HWND hwnd = window.Handle();
    originalProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimingProc)));
    Pump(300);  // shown, mapped, first frames drawn

    const int warmUp = 10;
    for (int i = 0; i < warmUp + frames; ++i) {
        patcher.PublishProgress(DownloadRecord(i));
        measuring = true;
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        measuring = false;
        Pump(0);
        if (i == warmUp - 1) paintMs.clear();
    }
    if (paintMs.size() != static_cast<size_t>(frames)) {
        return bench::Fail("expected " + std::to_string(frames) + " timed paints, saw " +
                           std::to_string(paintMs.size()));
    }
    std::vector<double> sorted = paintMs;
    std::sort(sorted.begin(), sorted.end());
    double total = 0;
    for (double ms : sorted) total += ms;
    char line[256];
    std::snprintf(line, sizeof line, "mode=frame frames=%d median_ms=%.3f p95_ms=%.3f worst_ms=%.3f mean_ms=%.3f",
                  frames, sorted[sorted.size() / 2], sorted[sorted.size() * 95 / 100],
                  sorted.back(), total / sorted.size());
    bench::PrintResult(line);
    return ProfileSteps(hwnd, frames);
}
