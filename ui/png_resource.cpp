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
    if (status != Ok) image.Reset();
    return image;
}
