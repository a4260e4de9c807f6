#pragma once
// The 1-bit transparency mask and the masked transfer.
#include <cstdint>

#include "bleedborder/core/color.h"
#include "bleedborder/core/library_lock.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

// A monochrome mask of bitmap: 1 where a pixel equals key, 0 elsewhere; null
// when bitmap is null, cannot be described or the mask cannot be made.
BLEEDBORDER_EXPORT gdi::HBITMAP BuildMask(gdi::HBITMAP bitmap, gdi::HPALETTE palette, TColor key) REQUIRES(LibraryLock);
// Copies the source pixels whose mask bit is 0, leaving the destination under
// mask bits 1. Always true.
BLEEDBORDER_EXPORT bool MaskedStretch(gdi::HDC dest, std::int32_t destX, std::int32_t destY, std::int32_t destWidth,
                                      std::int32_t destHeight, gdi::HDC source, std::int32_t sourceX,
                                      std::int32_t sourceY, std::int32_t sourceWidth, std::int32_t sourceHeight,
                                      gdi::HDC mask, std::int32_t maskX, std::int32_t maskY) REQUIRES(LibraryLock);

}  // namespace bleedborder
