#include "bleedborder/bleed/renderer/pixel_view.h"

#include "bleedborder/image/bitmap.h"

namespace bleedborder::bleed {

std::optional<PixelView> PixelView::Of(TBitmap& bitmap, Depths depths) {
  TLibraryHold hold;
  const TBitmapImage& image = bitmap.SharedImage();
  if (!image.SectionHandle) return depths == Depths::Any ? OfDeviceBitmap(image) : std::nullopt;
  const gdi::DIBSECTION& section = image.Section;
  if (!section.dsBm.bmBits) return std::nullopt;
  const std::int32_t bitCount = section.dsBmih.biBitCount;
  const bool plain = section.dsBmih.biCompression == gdi::BI_RGB && (bitCount == 32 || bitCount == 24);
  if (depths == Depths::Only32 && (!plain || bitCount != 32)) return std::nullopt;
  std::optional<raster::Surface> colors;
  std::shared_ptr<const std::vector<std::uint32_t>> lookup;
  if (!plain) {
    colors = PictureColorsOf(bitmap);
    if (!colors) return std::nullopt;
    if (bitCount <= 16) lookup = ColorsOfValues(*colors);
  }
  const std::int32_t width = section.dsBm.bmWidth;
  // The device reports a section's row count as a positive bmHeight; the
  // header's sign gives the row order.
  const std::int32_t height = section.dsBm.bmHeight;
  if (width <= 0 || height <= 0 || section.dsBm.bmWidthBytes < (std::int64_t{width} * bitCount + 7) / 8)
    return std::nullopt;
  return PixelView(static_cast<std::uint8_t*>(section.dsBm.bmBits), width, height, bitCount,
                   section.dsBm.bmWidthBytes, section.dsBmih.biHeight < 0, colors, std::move(lookup));
}

std::optional<PixelView> PixelView::OfDeviceBitmap(const TBitmapImage& image) {
  const std::optional<gdi::BITMAP> pixels = gdi::DeviceBitmapPixels(image.BitmapHandle);
  if (!pixels || pixels->bmWidth <= 0 || pixels->bmHeight <= 0 ||
      pixels->bmWidthBytes < std::int64_t{pixels->bmWidth} * 4)
    return std::nullopt;
  return PixelView(static_cast<std::uint8_t*>(pixels->bmBits), pixels->bmWidth, pixels->bmHeight,
                   pixels->bmBitsPixel, pixels->bmWidthBytes, true, std::nullopt, nullptr);
}

std::shared_ptr<const std::vector<std::uint32_t>> PixelView::ColorsOfValues(const raster::Surface& colors) {
  auto lookup = std::make_shared<std::vector<std::uint32_t>>(std::size_t{1} << colors.bitCount);
  for (std::uint32_t value = 0; value < lookup->size(); ++value) {
    const std::uint32_t native = colors.Indexed() ? value : raster::DecodeMasked(colors, value);
    (*lookup)[value] = raster::NativeColor(colors, native) & kColorBits;
  }
  return lookup;
}

}  // namespace bleedborder::bleed
