#pragma once

#include <windows.h>

#include <cstdint>

#include "app/patcher_config.h"
#include "ui/gdiplus_objects.h"

class Patcher;

// The borderless, layered main window: its images, geometry, hover state, timer
// and paint cycle. It reads the engine's phase and progress and calls its
// operations; the engine never calls into it.
class PatcherWindow {
public:
    PatcherWindow(Patcher* engine, const PatcherConfig& config);
    // Deletes the images and shuts GDI+ down. The window itself stays until the
    // process ends, but no longer reaches this object.
    ~PatcherWindow();
    PatcherWindow(const PatcherWindow&) = delete;
    PatcherWindow& operator=(const PatcherWindow&) = delete;

    // Starts GDI+, loads the images, creates and shows the window, starts the
    // refresh timer and the first update run. False when no window could be made.
    bool Create();
    HWND Handle() const { return window; }

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void LayOut();
    void OnMouseMove(POINT point);
    void OnButtonDown(POINT point);
    void Paint();

    // The five steps of one frame, in drawing order (screen_paint.cpp).
    void PaintBackground(Gdiplus::GpGraphics* graphics);
    void PaintInfoPanel(Gdiplus::GpGraphics* graphics);
    void PaintFileBar(Gdiplus::GpGraphics* graphics);
    void PaintTotalBar(Gdiplus::GpGraphics* graphics);
    void PaintButtons(Gdiplus::GpGraphics* graphics);

    // "Segoe UI" in points, else the generic sans-serif family, else the first
    // of a few common families that exists; null when none gives a font (text
    // drawn with it is then left out).
    UniqueFont MakeUiFont(float size, int style);
    Gdiplus::GpFontFamily* GenericSansSerif();
    Gdiplus::GpFontFamily* FallbackFamily();
    RECT ClientRect() const;

    HWND window = nullptr;
    Patcher* engine = nullptr;
    PatcherConfig config;
    // First of the GDI+ members, so that it shuts GDI+ down after all of them.
    GdiplusSession gdiplus;
    UniqueImage imgBackground;
    UniqueImage imgBarTrack;
    UniqueImage imgBarBlue;
    UniqueImage imgBarGreen;
    UniqueImage imgInfoPanel;
    UniqueImage imgCheckPanel;
    UniqueImage imgPlayButton;
    UniqueImage imgCloseButton;
    UniqueImage imgBusyButton;
    RECT fileBarRect = {};
    RECT totalBarRect = {};
    RECT mainButtonRect = {};
    RECT closeButtonRect = {};
    bool mainHover = false;
    bool closeHover = false;
    Gdiplus::ARGB accentColor = 0xFF0096FF;

    // GDI+ owns the generic family; it is looked up once per GDI+ session.
    Gdiplus::GpFontFamily* genericSansSerif = nullptr;
    bool genericSansSerifLookedUp = false;
    // Looked up once, when neither of the above gives a font; ours to delete.
    UniqueFontFamily fallbackFamily;
    bool fallbackFamilyLookedUp = false;
};
