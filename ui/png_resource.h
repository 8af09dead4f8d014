#pragma once

#include "ui/gdiplus_objects.h"

// Decodes the "PNG" resource `id` of `module` into a GDI+ image. Null when the
// resource is missing or does not decode: an image that exists is always usable.
UniqueImage LoadPngResource(HMODULE module, int id);

// The resource's bytes as a stream over a copy of them, the form GDI+ decodes
// from; null when the resource is missing.
UniqueStream PngResourceStream(HMODULE module, int id);

// Loaded images are kept as copies in the form GDI+ draws fastest, and the decoded
// original (and the stream behind it) is let go: an image without a single
// transparent pixel as 32-bit RGB, which GDI+ draws as a plain copy of pixels
// (no blending, no per-draw conversion, the same pixels), every other image in
// 32-bit premultiplied ARGB.

// True when `image` is a bitmap whose every pixel has full alpha.
bool IsOpaque(Gdiplus::GpImage* image);

// The copy LoadPngResource keeps (see above); null when it cannot be made.
UniqueImage DrawingCopy(Gdiplus::GpImage* image);
