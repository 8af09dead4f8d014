#pragma once

#include "ui/gdiplus_objects.h"

// Decodes the "PNG" resource `id` of `module` into a GDI+ image. Null when the
// resource is missing or does not decode: an image that exists is always usable.
UniqueImage LoadPngResource(HMODULE module, int id);
