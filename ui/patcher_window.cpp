#include "ui/patcher_window.h"

#include "engine/patcher.h"

// Minimal stand-in: a plain window that starts the update, ends the loop when the
// engine asks to exit, and closes on request. The painted window replaces it.

PatcherWindow::PatcherWindow(Patcher* engine, const PatcherConfig& config)
    : engine(engine), config(config) {}

PatcherWindow::~PatcherWindow() = default;

bool PatcherWindow::Create() {
    HMODULE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &PatcherWindow::StaticWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"VorlenPatcher";
    if (!RegisterClassExW(&windowClass)) return false;

    HWND handle = CreateWindowExW(0, L"VorlenPatcher", config.windowTitle.c_str(),
                                  WS_POPUP, 0, 0, config.windowWidth, config.windowHeight,
                                  nullptr, nullptr, module, this);
    if (handle == nullptr) return false;
    window = handle;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetTimer(window, 1, 50, nullptr);
    engine->StartUpdate();
    return true;
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
        case WM_TIMER:
            if (wParam == 1 && engine->IsExitRequested()) PostQuitMessage(0);
            return 0;
        case WM_DESTROY:
            KillTimer(window, 1);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
