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
    UniqueImage premultiplied = PremultipliedCopy(image.Get());
    return premultiplied ? std::move(premultiplied) : std::move(image);
}

UniqueImage PremultipliedCopy(GpImage* image) {
    UINT width = 0, height = 0;
    if (GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
        width == 0 || height == 0) {
        return UniqueImage();
    }
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                  PixelFormat32bppPARGB, nullptr, &bitmap) != Ok) {
        return UniqueImage();
    }
    UniqueImage copy(bitmap);
    // The source's pixels are read, converted to premultiplied ARGB, straight into
    // the new bitmap's own memory: one conversion pass, without drawing.
    const GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData target = {};
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeWrite, PixelFormat32bppPARGB, &target) !=
        Ok) {
        return UniqueImage();
    }
    BitmapData source = target;  // the same buffer, size, stride and format
    source.Reserved = 0;
    const GpStatus read =
        GdipBitmapLockBits(reinterpret_cast<GpBitmap*>(image), &whole,
                           ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppPARGB,
                           &source);
    if (read == Ok) GdipBitmapUnlockBits(reinterpret_cast<GpBitmap*>(image), &source);
    GdipBitmapUnlockBits(bitmap, &target);
    if (read != Ok) return UniqueImage();
    return copy;
}
