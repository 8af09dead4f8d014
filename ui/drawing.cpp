#include "ui/drawing.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

UniqueBrush MakeSolidBrush(ARGB color) {
    GpSolidFill* fill = nullptr;
    GdipCreateSolidFill(color, &fill);
    return UniqueBrush(fill);
}

UniquePen MakePen(ARGB color, float width) {
    GpPen* pen = nullptr;
    GdipCreatePen1(color, width, UnitWorld, &pen);
    return UniquePen(pen);
}

}  // namespace

ImageSize SizeOf(GpImage* image) {
    UINT width = 0;
    UINT height = 0;
    if (image != nullptr) {
        GdipGetImageWidth(image, &width);
        GdipGetImageHeight(image, &height);
    }
    return ImageSize{static_cast<int>(width), static_cast<int>(height)};
}

void FillSolid(GpGraphics* graphics, ARGB color, int x, int y, int w, int h) {
    UniqueBrush brush = MakeSolidBrush(color);
    if (brush) GdipFillRectangleI(graphics, brush.Get(), x, y, w, h);
}

void FillVerticalGradient(GpGraphics* graphics, ARGB top, ARGB bottom, int gradientHeight, int x,
                          int y, int w, int h) {
    GpPoint from(0, 0);
    GpPoint to(0, gradientHeight);
    GpLineGradient* gradient = nullptr;
    GdipCreateLineBrushI(&from, &to, top, bottom, WrapModeTile, &gradient);
    UniqueBrush brush(gradient);
    if (brush) GdipFillRectangleI(graphics, brush.Get(), x, y, w, h);
}

void DrawWholeImage(GpGraphics* graphics, GpImage* image, int x, int y, int w, int h,
                    const ColorMatrix* matrix) {
    if (matrix == nullptr) {
        GdipDrawImageRectI(graphics, image, x, y, w, h);
        return;
    }
    UniqueImageAttributes attributes;
    GdipCreateImageAttributes(attributes.Put());
    if (!attributes) return;
    GdipSetImageAttributesColorMatrix(attributes.Get(), ColorAdjustTypeDefault, TRUE, matrix,
                                      nullptr, ColorMatrixFlagsDefault);
    ImageSize size = SizeOf(image);
    GdipDrawImageRectRectI(graphics, image, x, y, w, h, 0, 0, size.width, size.height, UnitPixel,
                           attributes.Get(), nullptr, nullptr);
}

void DrawLeftPart(GpGraphics* graphics, GpImage* image, int sourceWidth, int x, int y, int w,
                  int h) {
    ImageSize size = SizeOf(image);
    GdipDrawImageRectRectI(graphics, image, x, y, w, h, 0, 0, sourceWidth, size.height, UnitPixel,
                           nullptr, nullptr, nullptr);
}

void StrokeEllipse(GpGraphics* graphics, ARGB color, float width, int x, int y, int w, int h) {
    UniquePen pen = MakePen(color, width);
    if (pen) GdipDrawEllipseI(graphics, pen.Get(), x, y, w, h);
}

void StrokeRoundCappedArc(GpGraphics* graphics, ARGB color, float width, int x, int y, int w,
                          int h, float startAngle, float sweepAngle) {
    UniquePen pen = MakePen(color, width);
    if (!pen) return;
    GdipSetPenStartCap(pen.Get(), LineCapRound);
    GdipSetPenEndCap(pen.Get(), LineCapRound);
    GdipDrawArcI(graphics, pen.Get(), x, y, w, h, startAngle, sweepAngle);
}

void DrawPlacedText(GpGraphics* graphics, const std::wstring& text, GpFont* font, ARGB color,
                    const TextPlacement& placement) {
    if (font == nullptr) return;
    UniqueStringFormat format;
    GdipCreateStringFormat(placement.singleLine ? StringFormatFlagsNoWrap : 0, LANG_NEUTRAL,
                           format.Put());
    UniqueBrush brush = MakeSolidBrush(color);
    if (!format || !brush) return;
    GdipSetStringFormatAlign(format.Get(), placement.align);
    GdipSetStringFormatLineAlign(format.Get(), placement.lineAlign);
    GdipSetStringFormatTrimming(format.Get(), placement.trimming);
    const RectF& layout = placement.layout;
    if (placement.singleLine) {
        GdipSetClipRect(graphics, layout.X, layout.Y, layout.Width, layout.Height,
                        CombineModeReplace);
    }
    GdipDrawString(graphics, text.c_str(), static_cast<INT>(text.size()), font, &layout,
                   format.Get(), brush.Get());
    if (placement.singleLine) GdipResetClip(graphics);  // frames set no clip of their own
}
