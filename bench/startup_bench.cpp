// Where the patcher's start-up time goes, up to its first painted frame.
//   bench_startup steps   the start-up's steps one by one, with a clock around each
//   bench_startup whole   the real Patcher and PatcherWindow, timed as the entry point runs them
//   bench_startup display the display's start-up alone (the first GetDC of the screen)
// A GUI program with the patcher's own resources (images, manifest) and libraries,
// so that the loader has the same work as for Vorlen-Patcher.exe. It shows its
// window, writes one "result ..." line to startup-result.txt in the current folder
// and ends a short while after its first frame. entry_unix_ms, the wall-clock time
// at the entry point, lets the caller add the time before it.
//
// "steps" repeats what the constructor, Patcher::Initialize and PatcherWindow::Create
// do, in their order, with the helpers the window uses: the log and the HTTP session,
// GDI+ start-up, each of the nine images (resource to stream, decode, premultiplied
// copy), class, window, show, and the first paint of the Idle screen split into its
// parts, then the timer and the start of the update run.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/logger.h"
#include "app/patcher_config.h"
#include "base/names_and_limits.h"
#include "engine/patcher.h"
#include "tests/support/patcher_access.h"
#include "resources/resource_ids.h"
#include "ui/drawing.h"
#include "ui/patcher_window.h"
#include "ui/png_resource.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

double NowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

// FILETIME (100 ns since 1601) as milliseconds since 1970.
double UnixMs(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart - 116444736000000000ULL) / 10000.0;
}

double NowUnixMs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return UnixMs(now);
}

// Named figures in the order they were taken.
struct Figures {
    std::vector<std::pair<std::string, double>> items;
    void Add(const std::string& name, double ms) { items.emplace_back(name, ms); }
    std::string Line() const {
        std::string line = "result";
        char value[64];
        for (const auto& item : items) {
            std::snprintf(value, sizeof value, " %s=%.3f", item.first.c_str(), item.second);
            line += value;
        }
        return line + "\n";
    }
};

Figures figures;

// A lap clock: each Lap() returns the milliseconds since the previous one.
class Laps {
public:
    Laps() : last(NowMs()) {}
    double Lap() {
        double now = NowMs();
        double ms = now - last;
        last = now;
        return ms;
    }

private:
    double last;
};

// Fills in in_process_ms, the sum of the steps before it, and writes the line.
// Written as soon as the first messages are handled, so that a caller that ends
// the program once its window shows still finds it.
void WriteResult() {
    double sum = 0;
    for (auto& item : figures.items) {
        if (item.first == "in_process_ms") {
            item.second = sum;
            break;
        }
        // The parts of a step (paint_*, images_*, first_image_*) are in the step's
        // figure; later_* comes after the first frame.
        if (item.first != "entry_unix_ms" && item.first != "process_to_entry" &&
            item.first.rfind("paint_", 0) != 0 && item.first.rfind("first_image", 0) != 0 &&
            item.first.rfind("images_", 0) != 0 && item.first.rfind("later_", 0) != 0) {
            sum += item.second;
        }
    }
    std::string line = figures.Line();
    FILE* file = _wfopen(L"startup-result.txt", L"ab");
    if (file == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

// Handles messages until none is waiting, then for `ms` more milliseconds.
void Pump(double ms) {
    const double end = NowMs() + ms;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (NowMs() < end);
}

// ---- steps ----------------------------------------------------------------

const int kImageIds[] = {IDP_BACKGROUND,   IDP_BAR_TRACK,    IDP_BAR_BLUE,
                         IDP_BAR_GREEN,    IDP_INFO_PANEL,   IDP_CHECK_PANEL,
                         IDP_PLAY_BUTTON,  IDP_CLOSE_BUTTON, IDP_BUSY_BUTTON};
const int kImageCount = sizeof kImageIds / sizeof kImageIds[0];
UniqueImage images[kImageCount];  // in the window's order
GpImage* Image(int id) { return images[id - IDP_BACKGROUND].Get(); }

// The loader's three parts, each with its own clock: resource to stream, decode,
// the copy kept for drawing (the same calls as LoadPngResource).
UniqueImage LoadTimed(HMODULE module, int id, double& streamMs, double& decodeMs, double& copyMs) {
    Laps laps;
    streamMs = decodeMs = copyMs = 0;
    UniqueStream stream = PngResourceStream(module, id);
    if (!stream) return UniqueImage();
    streamMs = laps.Lap();
    UniqueImage image;
    GpStatus status = GdipLoadImageFromStream(stream.Get(), image.Put());
    decodeMs = laps.Lap();
    if (status != Ok) return UniqueImage();
    UniqueImage drawable = DrawingCopy(image.Get());
    copyMs = laps.Lap();
    return drawable ? std::move(drawable) : std::move(image);
}

// "Segoe UI" as the window asks for it.
UniqueFont UiFont(float size, int style, double& familyMs, double& fontMs) {
    Laps laps;
    UniqueFontFamily family;
    UniqueFont font;
    if (GdipCreateFontFamilyFromName(L"Segoe UI", nullptr, family.Put()) != Ok) family.Reset();
    familyMs = laps.Lap();
    if (family) GdipCreateFont(family.Get(), size, style, UnitPoint, font.Put());
    fontMs = laps.Lap();
    return font;
}

bool paintedOnce = false;

// The Idle screen as the paint cycle draws it: background, info panel (the status
// line is still empty, so no text and no font), the empty lower bar, the busy
// and close faces.
void PaintIdleFrame(HWND hwnd) {
    Laps laps;
    PAINTSTRUCT paint;
    HDC screen = BeginPaint(hwnd, &paint);
    RECT client;
    GetClientRect(hwnd, &client);
    const bool first = !paintedOnce;
    paintedOnce = true;
    {
        UniqueMemoryDc memory(CreateCompatibleDC(screen));
        UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, client.right, client.bottom));
        ScopedSelection selection(memory.Get(), bitmap.Get());
        double setup = 0, background = 0, panel = 0, bar = 0, buttons = 0, flush = 0;
        {
            UniqueGraphics graphics;
            GdipCreateFromHDC(memory.Get(), graphics.Put());
            GdipSetSmoothingMode(graphics.Get(), SmoothingModeAntiAlias);
            GdipSetTextRenderingHint(graphics.Get(), TextRenderingHintClearTypeGridFit);
            setup = laps.Lap();
            GdipSetCompositingMode(graphics.Get(), CompositingModeSourceCopy);
            DrawWholeImage(graphics.Get(), Image(IDP_BACKGROUND), 0, 0, client.right, client.bottom);
            GdipSetCompositingMode(graphics.Get(), CompositingModeSourceOver);
            background = laps.Lap();
            DrawWholeImage(graphics.Get(), Image(IDP_INFO_PANEL), 35, 200, 580, 190);
            panel = laps.Lap();
            DrawWholeImage(graphics.Get(), Image(IDP_BAR_TRACK), 75, 320, 500, 25);
            bar = laps.Lap();
            DrawWholeImage(graphics.Get(), Image(IDP_BUSY_BUTTON), 200, 388, 120, 42);
            DrawWholeImage(graphics.Get(), Image(IDP_CLOSE_BUTTON), 330, 388, 120, 42);
            buttons = laps.Lap();
        }
        flush = laps.Lap();
        BitBlt(screen, 0, 0, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
        if (first) {
            figures.Add("paint_setup", setup);
            figures.Add("paint_background", background);
            figures.Add("paint_panel", panel);
            figures.Add("paint_bar", bar);
            figures.Add("paint_buttons", buttons);
            figures.Add("paint_flush", flush);
        }
    }
    EndPaint(hwnd, &paint);
    if (first) figures.Add("paint_copy", laps.Lap());
}

LRESULT CALLBACK StepsProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintIdleFrame(hwnd);
            return 0;
        case WM_TIMER:
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void RunSteps() {
    Laps laps;
    PatcherConfig config = MakeDefaultConfig();
    Patcher patcher(config);
    figures.Add("patcher_constructor", laps.Lap());

    // Patcher::Initialize, its two halves.
    Logger::Open(kLogFileName.wide);
    Logger::Write(L"Inicjalizacja patchera...");
    Logger::Write(L"URL serwera: " + config.serverUrl);
    Logger::Write(L"Plik gry: " + config.gameExecutable);
    figures.Add("log_open", laps.Lap());
    bool opened = PatcherTestAccess::Http(patcher).Initialize(L"Vorlen Patcher/1.0");
    Logger::Write(opened ? L"HTTP zainicjalizowany" : L"Błąd inicjalizacji HTTP");
    figures.Add("http_session", laps.Lap());

    GdiplusSession gdiplus;
    gdiplus.Start();
    figures.Add("gdiplus_startup", laps.Lap());

    HMODULE module = GetModuleHandleW(nullptr);
    double stream = 0, decode = 0, copy = 0;
    for (int i = 0; i < kImageCount; ++i) {
        double s, d, c;
        images[i] = LoadTimed(module, kImageIds[i], s, d, c);
        stream += s;
        decode += d;
        copy += c;
        if (i == 0) {
            figures.Add("first_image_decode", d);
            figures.Add("first_image_copy", c);
        }
    }
    figures.Add("images", laps.Lap());
    figures.Add("images_stream", stream);
    figures.Add("images_decode", decode);
    figures.Add("images_copy", copy);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = StepsProc;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconW(module, MAKEINTRESOURCEW(IDI_PATCHER));
    windowClass.hIconSm = LoadIconW(module, MAKEINTRESOURCEW(IDI_PATCHER));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"VorlenStartupBench";
    RegisterClassExW(&windowClass);
    figures.Add("class", laps.Lap());

    RECT outer = {0, 0, config.windowWidth, config.windowHeight};
    AdjustWindowRect(&outer, WS_POPUP | WS_SYSMENU, FALSE);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    HWND hwnd = CreateWindowExW(WS_EX_LAYERED, windowClass.lpszClassName, L"Vorlen Startup Bench",
                                WS_POPUP, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr,
                                module, nullptr);
    SetLayeredWindowAttributes(hwnd, 0, 255, LWA_ALPHA);
    figures.Add("window_create", laps.Lap());
    ShowWindow(hwnd, SW_SHOW);
    figures.Add("window_show", laps.Lap());
    UpdateWindow(hwnd);
    figures.Add("first_paint", laps.Lap());
    // The first font, which the first frame with a text makes (not part of the
    // start-up's figure).
    {
        double family = 0, font = 0;
        UniqueFont regular = UiFont(10.0f, FontStyleRegular, family, font);
        figures.Add("later_font_family", family);
        figures.Add("later_font", font);
        laps.Lap();
    }
    SetTimer(hwnd, 1, 50, nullptr);
    patcher.StartUpdate();
    figures.Add("timer_and_start", laps.Lap());
    Pump(0);
    figures.Add("first_messages", laps.Lap());
    figures.Add("in_process_ms", 0);
    WriteResult();
    Pump(400);
    KillTimer(hwnd, 1);
}

// ---- whole ----------------------------------------------------------------

void RunWhole() {
    Laps laps;
    PatcherConfig config = MakeDefaultConfig();
    Patcher patcher(config);
    figures.Add("patcher_constructor", laps.Lap());
    patcher.Initialize();
    figures.Add("initialize", laps.Lap());
    {
        PatcherWindow window(&patcher, config);
        bool created = window.Create();
        figures.Add("window_create_all", laps.Lap());
        Pump(0);
        figures.Add("first_messages", laps.Lap());
        figures.Add("in_process_ms", 0);
        WriteResult();
        if (created) Pump(400);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const double entryUnixMs = NowUnixMs();
    NowMs();  // the clock's frequency, read once before anything is timed
    FILETIME created, exited, kernel, user;
    double sinceCreation = 0;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        sinceCreation = entryUnixMs - UnixMs(created);
    }
    figures.Add("entry_unix_ms", entryUnixMs);
    figures.Add("process_to_entry", sinceCreation);

    if (std::wcsstr(commandLine, L"whole") != nullptr) {
        RunWhole();
    } else if (std::wcsstr(commandLine, L"display") != nullptr) {
        // The display's own start-up alone, as a fresh process first pays it (the
        // patcher with its first decoded image, the minimal window with its window).
        Laps laps;
        HDC screen = GetDC(nullptr);
        ReleaseDC(nullptr, screen);
        figures.Add("display", laps.Lap());
        figures.Add("in_process_ms", 0);
        WriteResult();
    } else {
        RunSteps();
    }
    return 0;
}
