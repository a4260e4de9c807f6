#pragma once
// A bitmap's pixel memory seen as rows, worked out in one place from the
// record the raster device gives, so that no reader of pixels has to know
// which fields hold the address, the row size or the row order.
#include <cstdint>
#include <optional>

#include "bleedborder/core/library_lock.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TBitmapImage;

// A bitmap's pixel memory as rows: row y in device order (0 is the top row), whichever order memory holds them.
struct TPixelRows {
  std::uint8_t* bits = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, > 0
  std::int32_t bitsPerPixel = 0;
  std::int64_t stride = 0;  // bytes from one row of memory to the next, >= the row's pixel bytes
  bool topDown = false;     // memory holds the top row first

  std::int64_t Bytes() const { return stride * height; }
  // The device row a row of memory holds (and back: the mapping is its own inverse).
  std::int32_t DeviceRow(std::int32_t memoryRow) const { return topDown ? memoryRow : height - 1 - memoryRow; }
  // Device row y.
  std::uint8_t* Row(std::int32_t y) const { return bits + std::int64_t{DeviceRow(y)} * stride; }
};

// A section's rows as its record describes them (the device reports a
// positive bmHeight; the header's biHeight sign gives the order); nothing
// when it has no pixel memory, or width/height <= 0, or the stride is
// shorter than width * bits.
std::optional<TPixelRows> SectionRows(const gdi::DIBSECTION& section);

// A bitmap image's rows: its section's, or else, for a device bitmap the
// raster device exposes (gdi::DeviceBitmapPixels, 32 bits, top row first),
// those. Under the library lock.
std::optional<TPixelRows> ImageRows(const TBitmapImage& image) REQUIRES(LibraryLock);

}  // namespace bleedborder
