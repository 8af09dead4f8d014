#pragma once

#include "ui/gdiplus_objects.h"

// Decodes the "PNG" resource `id` of `module` into a GDI+ image. Null when the
// resource is missing or does not decode: an image that exists is always usable.
UniqueImage LoadPngResource(HMODULE module, int id);

// The image as a 32-bit premultiplied-alpha bitmap, the form GDI+ draws fastest;
// null when the copy cannot be made. Loaded images are kept in this form, and the
// decoded original (and the stream behind it) is let go.
UniqueImage PremultipliedCopy(Gdiplus::GpImage* image);
