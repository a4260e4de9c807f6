#include "bleedborder/image/pixel_rows.h"

#include "bleedborder/image/bitmap.h"

namespace bleedborder {

namespace {

// A device bitmap's memory holds plain 32-bit words, top row first.
std::optional<TPixelRows> DeviceBitmapRows(gdi::HBITMAP bitmap) {
  const std::optional<gdi::BITMAP> pixels = gdi::DeviceBitmapPixels(bitmap);
  if (!pixels || !pixels->bmBits || pixels->bmWidth <= 0 || pixels->bmHeight <= 0 ||
      pixels->bmWidthBytes < std::int64_t{pixels->bmWidth} * 4)
    return std::nullopt;
  return TPixelRows{static_cast<std::uint8_t*>(pixels->bmBits), pixels->bmWidth, pixels->bmHeight,
                    pixels->bmBitsPixel, pixels->bmWidthBytes, true};
}

}  // namespace

std::optional<TPixelRows> SectionRows(const gdi::DIBSECTION& section) {
  if (!section.dsBm.bmBits) return std::nullopt;
  // The header's bit count is the format the memory holds (bmBitsPixel of a
  // section says the same; the header is what its colours are read by).
  const std::int32_t bitCount = section.dsBmih.biBitCount;
  const std::int32_t width = section.dsBm.bmWidth;
  const std::int32_t height = section.dsBm.bmHeight;
  if (width <= 0 || height <= 0 || section.dsBm.bmWidthBytes < (std::int64_t{width} * bitCount + 7) / 8)
    return std::nullopt;
  return TPixelRows{static_cast<std::uint8_t*>(section.dsBm.bmBits), width, height, bitCount,
                    section.dsBm.bmWidthBytes, section.dsBmih.biHeight < 0};
}

std::optional<TPixelRows> ImageRows(const TBitmapImage& image) {
  if (image.SectionHandle) return SectionRows(image.Section);
  return DeviceBitmapRows(image.BitmapHandle);
}

}  // namespace bleedborder
