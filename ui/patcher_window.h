#pragma once

#include <windows.h>

#include <cstdint>

#include "app/patcher_config.h"

class Patcher;

// The borderless, layered main window: its images, geometry, hover state, timer
// and paint cycle. It reads the engine's phase and progress and calls its
// operations; the engine never calls into it.
class PatcherWindow {
public:
    PatcherWindow(Patcher* engine, const PatcherConfig& config);
    ~PatcherWindow();
    PatcherWindow(const PatcherWindow&) = delete;
    PatcherWindow& operator=(const PatcherWindow&) = delete;

    bool Create();
    HWND Handle() const { return window; }

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    Patcher* engine = nullptr;
    PatcherConfig config;
    bool timerStarted = false;
};
