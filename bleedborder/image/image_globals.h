#pragma once
// Process-wide objects of the image model, made by the library's start-up and
// released by its shut-down.
#include "bleedborder/core/library_lock.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

// The 16-colour palette shared by 4-bit images; never deleted by an image.
extern gdi::HPALETTE StockPalette16 GUARDED_BY(LibraryLock);

}  // namespace bleedborder
