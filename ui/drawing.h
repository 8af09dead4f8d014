#pragma once
// The few drawing operations the paint steps need, over GDI+'s flat API. Each
// creates what it uses and frees it before returning; a failing call only leaves
// its status in the graphics object and the frame goes on.

#include <string>

#include "ui/gdiplus_objects.h"

struct ImageSize {
    int width = 0;
    int height = 0;
};
ImageSize SizeOf(Gdiplus::GpImage* image);

// Fills (x, y, w, h) with one colour.
void FillSolid(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB color, int x, int y, int w, int h);
// Fills (x, y, w, h) with a vertical two-colour gradient from `top` at y 0 to
// `bottom` at y `gradientHeight`.
void FillVerticalGradient(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB top, Gdiplus::ARGB bottom,
                          int gradientHeight, int x, int y, int w, int h);

// Stretches the whole image into (x, y, w, h), through `matrix` when one is given.
void DrawWholeImage(Gdiplus::GpGraphics* graphics, Gdiplus::GpImage* image, int x, int y, int w,
                    int h, const Gdiplus::ColorMatrix* matrix = nullptr);
// Draws the image's columns 0 .. sourceWidth into (x, y, w, h).
void DrawLeftPart(Gdiplus::GpGraphics* graphics, Gdiplus::GpImage* image, int sourceWidth, int x,
                  int y, int w, int h);

// Strokes an ellipse, or an arc of it from `startAngle` over `sweepAngle`
// degrees (clockwise), with a pen of `width` pixels.
void StrokeEllipse(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB color, float width, int x, int y,
                   int w, int h);
void StrokeRoundCappedArc(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB color, float width, int x,
                          int y, int w, int h, float startAngle, float sweepAngle);

struct TextPlacement {
    Gdiplus::RectF layout;  // width and height 0: placed at its point, unclipped
    Gdiplus::StringAlignment align = Gdiplus::StringAlignmentNear;
    Gdiplus::StringAlignment lineAlign = Gdiplus::StringAlignmentNear;
    Gdiplus::StringTrimming trimming = Gdiplus::StringTrimmingCharacter;  // GDI+'s default
    // One line, never drawn outside the layout rectangle. Without it GDI+ wraps a
    // long text at its blanks, and Wine's GDI+ then draws the lines that do not
    // fit below the rectangle.
    bool singleLine = false;
};
// Draws the whole text in one colour; a null font draws nothing.
void DrawPlacedText(Gdiplus::GpGraphics* graphics, const std::wstring& text, Gdiplus::GpFont* font,
                    Gdiplus::ARGB color, const TextPlacement& placement);
