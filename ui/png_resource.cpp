#include "ui/png_resource.h"

#include <cstring>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

UniqueImage LoadPngResource(HMODULE module, int id) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    if (resource == nullptr) return UniqueImage();
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return UniqueImage();
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return UniqueImage();

    // GDI+ reads images from streams; a stream over its own copy of the bytes
    // lives as long as the image needs it and frees the copy on its last release.
    UniqueGlobalMemory copy(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!copy) return UniqueImage();
    void* target = GlobalLock(copy.Get());
    if (target == nullptr) return UniqueImage();
    std::memcpy(target, bytes, size);
    GlobalUnlock(copy.Get());

    UniqueStream stream;
    if (FAILED(CreateStreamOnHGlobal(copy.Get(), TRUE, stream.Put()))) return UniqueImage();
    copy.Release();  // the stream owns it now

    UniqueImage image;
    GpStatus status = GdipLoadImageFromStream(stream.Get(), image.Put());
    if (status != Ok) return UniqueImage();
    UniqueImage fast = IsOpaque(image.Get()) ? CopyInFormat(image.Get(), PixelFormat32bppRGB)
                                             : CopyInFormat(image.Get(), PixelFormat32bppPARGB);
    return fast ? std::move(fast) : std::move(image);
}

bool IsOpaque(GpImage* image) {
    UINT width = 0, height = 0;
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(image, &type) != Ok || type != ImageTypeBitmap ||
        GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
        width == 0 || height == 0) {
        return false;
    }
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
    UniqueGraphics canvas;
    if (GdipGetImageGraphicsContext(copy.Get(), canvas.Put()) != Ok) return UniqueImage();
    // A straight copy of every pixel, alpha included.
    GdipSetCompositingMode(canvas.Get(), CompositingModeSourceCopy);
    if (GdipDrawImageRectI(canvas.Get(), image, 0, 0, static_cast<INT>(width),
                           static_cast<INT>(height)) != Ok) {
        return UniqueImage();
    }
    return copy;
}
