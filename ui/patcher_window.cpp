#include "ui/patcher_window.h"

#include "engine/patcher.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "ui/png_resource.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const wchar_t kClassName[] = L"VorlenPatcher";
const UINT_PTR kRefreshTimer = 1;
const UINT kRefreshMs = 50;  // 20 frames a second
const int kDragStripHeight = 50;

// Families that systems without "Segoe UI" and without a generic sans-serif
// family for GDI+ (a fresh Wine or Proton prefix) usually have, in order of
// preference.
const wchar_t* const kFallbackFamilies[] = {L"Tahoma", L"Arial", L"Liberation Sans",
                                             L"DejaVu Sans", L"Noto Sans"};

// Points in lParam are two signed 16-bit values (negative on a monitor left of
// or above the primary one).
POINT PointFrom(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

}  // namespace

PatcherWindow::PatcherWindow(Patcher* engine, const PatcherConfig& config)
    : engine(engine), config(config) {}

PatcherWindow::~PatcherWindow() {
    if (window != nullptr) {
        // This object and GDI+ go now: no later timer tick or message may reach
        // either. The window itself is not destroyed, but it is hidden: the engine
        // may still need up to a receive time-out to stop, and a player must not
        // be left looking at a frozen window after pressing close.
        KillTimer(window, kRefreshTimer);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ShowWindow(window, SW_HIDE);
    }
    // The images, the fallback family and then GDI+ itself go with the members.
}

bool PatcherWindow::Create() {
    gdiplus.Start();

    HMODULE module = GetModuleHandleW(nullptr);
    imgBackground = LoadPngResource(module, IDP_BACKGROUND);
    imgBarTrack = LoadPngResource(module, IDP_BAR_TRACK);
    imgBarBlue = LoadPngResource(module, IDP_BAR_BLUE);
    imgBarGreen = LoadPngResource(module, IDP_BAR_GREEN);
    imgInfoPanel = LoadPngResource(module, IDP_INFO_PANEL);
    imgCheckPanel = LoadPngResource(module, IDP_CHECK_PANEL);
    imgPlayButton = LoadPngResource(module, IDP_PLAY_BUTTON);
    imgCloseButton = LoadPngResource(module, IDP_CLOSE_BUTTON);
    imgBusyButton = LoadPngResource(module, IDP_BUSY_BUTTON);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &PatcherWindow::StaticWindowProc;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconW(module, MAKEINTRESOURCEW(IDI_PATCHER));
    windowClass.hIconSm = LoadIconW(module, MAKEINTRESOURCEW(IDI_PATCHER));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // every pixel is painted; nothing is erased
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return false;

    RECT outer = {0, 0, config.windowWidth, config.windowHeight};
    AdjustWindowRect(&outer, WS_POPUP | WS_SYSMENU, FALSE);
    const int outerWidth = outer.right - outer.left;
    const int outerHeight = outer.bottom - outer.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - outerWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - outerHeight) / 2;

    window = CreateWindowExW(WS_EX_LAYERED, kClassName, config.windowTitle.c_str(), WS_POPUP, x, y,
                             outerWidth, outerHeight, nullptr, nullptr, module, this);
    if (window == nullptr) return false;
    SetLayeredWindowAttributes(window, 0, 255, LWA_ALPHA);

    LayOut();
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, kRefreshTimer, kRefreshMs, nullptr);
    engine->StartUpdate();
    return true;
}

void PatcherWindow::LayOut() {
    const int width = config.windowWidth;
    const int height = config.windowHeight;
    // The empty bar's artwork sets the size of both bars.
    int barWidth = 500;
    int barHeight = 25;
    if (imgBarTrack) {
        ImageSize track = SizeOf(imgBarTrack.Get());
        barWidth = track.width;
        barHeight = track.height;
    }
    const int left = (width - barWidth) / 2;
    fileBarRect = {left, height - 190, left + barWidth, height - 190 + barHeight};
    totalBarRect = {left, height - 130, left + barWidth, height - 130 + barHeight};
    mainButtonRect = {width / 2 - 125, height - 62, width / 2 - 5, height - 20};
    closeButtonRect = {width / 2 + 5, height - 62, width / 2 + 125, height - 20};
}

LRESULT CALLBACK PatcherWindow::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    PatcherWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        self = static_cast<PatcherWindow*>(create->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window = hwnd;
    } else {
        self = reinterpret_cast<PatcherWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT PatcherWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCHITTEST: {
            // The top strip stands in for a caption: the system drags the window by it.
            POINT point = PointFrom(lParam);
            ScreenToClient(window, &point);
            return point.y < kDragStripHeight ? HTCAPTION : HTCLIENT;
        }
        case WM_MOUSEMOVE:
            OnMouseMove(PointFrom(lParam));
            return 0;
        case WM_LBUTTONDOWN:
            OnButtonDown(PointFrom(lParam));
            return 0;
        case WM_TIMER:
            if (wParam == kRefreshTimer) {
                if (engine->IsExitRequested()) {
                    PostQuitMessage(0);
                } else {
                    InvalidateRect(window, nullptr, FALSE);
                }
            }
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_DESTROY:
            KillTimer(window, kRefreshTimer);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void PatcherWindow::OnMouseMove(POINT point) {
    const bool overMain = PtInRect(&mainButtonRect, point) != FALSE;
    const bool overClose = PtInRect(&closeButtonRect, point) != FALSE;
    if (overMain == mainHover && overClose == closeHover) return;
    mainHover = overMain;
    closeHover = overClose;
    InvalidateRect(window, nullptr, FALSE);  // at once, not at the next tick
}

void PatcherWindow::OnButtonDown(POINT point) {
    if (PtInRect(&mainButtonRect, point)) {
        switch (engine->GetPhase()) {
            case UpdatePhase::Completed:
                engine->LaunchGame();
                PostQuitMessage(0);  // whether or not the game started
                break;
            case UpdatePhase::Idle:
            case UpdatePhase::Error:
                engine->StartUpdate();
                break;
            default:  // checking or downloading: the button is dimmed
                break;
        }
    } else if (PtInRect(&closeButtonRect, point)) {
        engine->Cancel();
        PostQuitMessage(0);
    }
}

RECT PatcherWindow::ClientRect() const {
    RECT client = {};
    GetClientRect(window, &client);
    return client;
}

void PatcherWindow::Paint() {
    ScopedPaint paint(window);
    if (paint.Dc() == nullptr) return;
    const RECT client = ClientRect();

    // Each frame is drawn off screen and copied in one go, so nothing flickers.
    UniqueMemoryDc memory(CreateCompatibleDC(paint.Dc()));
    UniqueGdiObject bitmap(CreateCompatibleBitmap(paint.Dc(), client.right, client.bottom));
    if (!memory || !bitmap) return;
    ScopedSelection selection(memory.Get(), bitmap.Get());
    {
        UniqueGraphics graphics;
        if (GdipCreateFromHDC(memory.Get(), graphics.Put()) != Ok || !graphics) return;
        GdipSetSmoothingMode(graphics.Get(), SmoothingModeAntiAlias);
        GdipSetTextRenderingHint(graphics.Get(), TextRenderingHintClearTypeGridFit);
        PaintBackground(graphics.Get());
        PaintInfoPanel(graphics.Get());
        PaintFileBar(graphics.Get());
        PaintTotalBar(graphics.Get());
        PaintButtons(graphics.Get());
    }  // the graphics is flushed and gone before its pixels are copied
    BitBlt(paint.Dc(), 0, 0, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
}

GpFontFamily* PatcherWindow::GenericSansSerif() {
    if (!genericSansSerifLookedUp) {
        genericSansSerifLookedUp = true;
        if (GdipGetGenericFontFamilySansSerif(&genericSansSerif) != Ok) genericSansSerif = nullptr;
    }
    return genericSansSerif;
}

GpFontFamily* PatcherWindow::FallbackFamily() {
    if (!fallbackFamilyLookedUp) {
        fallbackFamilyLookedUp = true;
        for (const wchar_t* name : kFallbackFamilies) {
            if (GdipCreateFontFamilyFromName(name, nullptr, fallbackFamily.Put()) == Ok &&
                fallbackFamily) {
                break;
            }
            fallbackFamily.Reset();
        }
    }
    return fallbackFamily.Get();
}

UniqueFont PatcherWindow::MakeUiFont(float size, int style) {
    UniqueFontFamily named;
    if (GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, named.Put()) != Ok) named.Reset();
    GpFontFamily* family = named ? named.Get() : GenericSansSerif();

    UniqueFont font;
    if (family != nullptr && GdipCreateFont(family, size, style, UnitPoint, font.Put()) != Ok) {
        font.Reset();
    }
    if (!font && family != GenericSansSerif() && GenericSansSerif() != nullptr &&
        GdipCreateFont(GenericSansSerif(), size, style, UnitPoint, font.Put()) != Ok) {
        font.Reset();
    }
    // Without any font every text of the window would be missing, errors included.
    if (!font && FallbackFamily() != nullptr &&
        GdipCreateFont(FallbackFamily(), size, style, UnitPoint, font.Put()) != Ok) {
        font.Reset();
    }
    return font;  // the named family goes now; the font keeps what it needs
}
