#pragma once
// Owners for the GDI+ flat API's objects and the GDI objects of the paint cycle:
// every object a paint step or the loader creates is freed on every path.

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "base/unique_handle.h"

namespace gdiplus_objects {

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Delete)(T*)>
struct GdiplusTraits {
    using Type = T*;
    static Type Invalid() { return nullptr; }
    static void Close(Type object) { Delete(object); }
};

}  // namespace gdiplus_objects

using UniqueGraphics = UniqueHandle<
    gdiplus_objects::GdiplusTraits<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>>;
using UniqueImage = UniqueHandle<
    gdiplus_objects::GdiplusTraits<Gdiplus::GpImage, Gdiplus::DllExports::GdipDisposeImage>>;
using UniqueBrush = UniqueHandle<
    gdiplus_objects::GdiplusTraits<Gdiplus::GpBrush, Gdiplus::DllExports::GdipDeleteBrush>>;
using UniquePen = UniqueHandle<
    gdiplus_objects::GdiplusTraits<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>>;
using UniqueFont = UniqueHandle<
    gdiplus_objects::GdiplusTraits<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>>;
using UniqueFontFamily = UniqueHandle<gdiplus_objects::GdiplusTraits<
    Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>>;
using UniqueStringFormat = UniqueHandle<gdiplus_objects::GdiplusTraits<
    Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>>;
using UniqueImageAttributes = UniqueHandle<gdiplus_objects::GdiplusTraits<
    Gdiplus::GpImageAttributes, Gdiplus::DllExports::GdipDisposeImageAttributes>>;

// One GDI+ session: started by Start(), shut down when its owner goes. Declared
// before the GDI+ objects of the same owner, it outlives every one of them.
class GdiplusSession {
public:
    GdiplusSession() = default;
    ~GdiplusSession() {
        if (token != 0) Gdiplus::GdiplusShutdown(token);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool Start() {
        if (token != 0) return true;
        Gdiplus::GdiplusStartupInput startup;  // version 1, no debug callback, nothing suppressed
        if (Gdiplus::GdiplusStartup(&token, &startup, nullptr) != Gdiplus::Ok) token = 0;
        return token != 0;
    }

private:
    ULONG_PTR token = 0;
};

struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type dc) { ::DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type object) { ::DeleteObject(object); }
};
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;

struct StreamTraits {
    using Type = IStream*;
    static Type Invalid() { return nullptr; }
    static void Close(Type stream) { stream->Release(); }
};
using UniqueStream = UniqueHandle<StreamTraits>;

struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type memory) { ::GlobalFree(memory); }
};
using UniqueGlobalMemory = UniqueHandle<GlobalMemoryTraits>;

// Selects an object into a device context for a scope and puts the previous one back.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc(dc), previous(::SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (previous != nullptr && previous != HGDI_ERROR) ::SelectObject(dc, previous);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc;
    HGDIOBJ previous;
};

// BeginPaint for a scope, EndPaint at its end.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) : window(window) { dc = ::BeginPaint(window, &paint); }
    ~ScopedPaint() { ::EndPaint(window, &paint); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC Dc() const { return dc; }

private:
    HWND window;
    PAINTSTRUCT paint = {};
    HDC dc = nullptr;
};
