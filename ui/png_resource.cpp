#include "ui/png_resource.h"

#include <cstring>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// A copy of the whole image in `format`; null when it cannot be made.
UniqueImage CopyInFormat(GpImage* image, PixelFormat format) {
    UINT width = 0, height = 0;
    if (GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
        width == 0 || height == 0) {
        return UniqueImage();
    }
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, format,
                                  nullptr, &bitmap) != Ok) {
        return UniqueImage();
    }
    UniqueImage copy(bitmap);
    // The source's pixels are read, converted to `format`, straight into the new
    // bitmap's own memory: one conversion pass, without drawing.
    const GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData target = {};
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeWrite, format, &target) != Ok) {
        return UniqueImage();
    }
    BitmapData source = target;  // the same buffer, size, stride and format
    source.Reserved = 0;
    const GpStatus read =
        GdipBitmapLockBits(reinterpret_cast<GpBitmap*>(image), &whole,
                           ImageLockModeRead | ImageLockModeUserInputBuf, format, &source);
    if (read == Ok) GdipBitmapUnlockBits(reinterpret_cast<GpBitmap*>(image), &source);
    GdipBitmapUnlockBits(bitmap, &target);
    if (read != Ok) return UniqueImage();
    return copy;
}

}  // namespace

UniqueStream PngResourceStream(HMODULE module, int id) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (resource == nullptr) return UniqueStream();
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return UniqueStream();
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return UniqueStream();

    // GDI+ reads images from streams; a stream over its own copy of the bytes
    // lives as long as the image needs it and frees the copy on its last release.
    UniqueGlobalMemory copy(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!copy) return UniqueStream();
    void* target = GlobalLock(copy.Get());
    if (target == nullptr) return UniqueStream();
    std::memcpy(target, bytes, size);
    GlobalUnlock(copy.Get());

    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(copy.Get(), TRUE, stream.Put()))) return UniqueStream();
    copy.Release();  // the stream owns it now

    return stream;
}

UniqueImage LoadPngResource(HMODULE module, int id) {
    UniqueStream stream = PngResourceStream(module, id);
    if (!stream) return UniqueImage();
    UniqueImage image;
    GpStatus status = GdipLoadImageFromStream(stream.Get(), image.Put());
    if (status != Ok) return UniqueImage();
    UniqueImage fast = DrawingCopy(image.Get());
    return fast ? std::move(fast) : std::move(image);
}

UniqueImage DrawingCopy(GpImage* image) {
    return CopyInFormat(image, IsOpaque(image) ? PixelFormat32bppRGB : PixelFormat32bppPARGB);
}

bool IsOpaque(GpImage* image) {
    UINT width = 0, height = 0;
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(image, &type) != Ok || type != ImageTypeBitmap ||
        GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
        width == 0 || height == 0) {
        return false;
    }
    // A format without alpha is opaque by definition; any other is read pixel by pixel.
    PixelFormat format = 0;
    if (GdipGetImagePixelFormat(image, &format) != Ok) return false;
    if ((format & (PixelFormatAlpha | PixelFormatPAlpha | PixelFormatIndexed)) == 0) return true;
    GpBitmap* bitmap = static_cast<GpBitmap*>(image);
    const Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData pixels = {};
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead, PixelFormat32bppARGB, &pixels) != Ok) {
        return false;
    }
    bool opaque = true;
    for (UINT y = 0; y < height && opaque; ++y) {
        const BYTE* row = static_cast<const BYTE*>(pixels.Scan0) + static_cast<INT_PTR>(y) * pixels.Stride;
        for (UINT x = 0; x < width; ++x) {
            if (row[4 * x + 3] != 0xFF) {
                opaque = false;
                break;
            }
        }
    }
    GdipBitmapUnlockBits(bitmap, &pixels);
    return opaque;
}
