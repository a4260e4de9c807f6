#pragma once
// Helpers for device-independent bitmap headers, shared by the model, the
// reader and the writer.
#include <cstdint>

#include "bleedborder/platform/gdi.h"

namespace bleedborder {

// 2, 16 or 256 entries for 1, 4 or 8 bits; 0 for every other bit count.
std::int32_t TableColorCount(std::uint16_t bitCount);
// Bytes of a row of pixels padded to alignment bits (the library passes 32),
// in signed 32-bit arithmetic.
std::int32_t RowStride(std::int32_t pixels, std::int32_t bitsPerPixel, std::int32_t alignment);
// Bytes of the pixels of a section width x |height| at bitCount bits per
// pixel, rows padded to 32 bits. A negative width or a size whose rows or
// total bytes do not fit 32 bits raises EOutOfResources, as the platform's
// refusal of such a section does.
std::int32_t CheckedImageBytes(std::int32_t width, std::int32_t height, std::int32_t bitCount);
// The info header of handle as the writer writes it for colorCount colours.
gdi::BITMAPINFOHEADER BuildInfoHeader(gdi::HBITMAP handle, std::int32_t colorCount);
struct TDibSizes {
  std::int32_t headerBytes = 0;
  std::int32_t pixelBytes = 0;
};
TDibSizes DibSizes(gdi::HBITMAP handle, std::int32_t colorCount);
// A logical palette from a section's colour table (section given) or from
// count entries; 0 when there are no entries.
gdi::HPALETTE PaletteFromTable(gdi::HBITMAP section, const gdi::RGBQUAD* entries, std::int32_t count);
// Replaces the 16 entries by the stock palette's on a palette display.
bool ApplySystemColors(gdi::PALETTEENTRY (&entries)[16]);

}  // namespace bleedborder
