#include "bleedborder/bleed/renderer/pixel_view.h"

#include "bleedborder/image/bitmap.h"

namespace bleedborder::bleed {

std::optional<PixelView> PixelView::Of(TBitmap& bitmap, Depths depths) {
  TLibraryHold hold;
  const TBitmapImage& image = bitmap.SharedImage();
  const std::optional<TPixelRows> rows = ImageRows(image);
  if (!rows) return std::nullopt;
  if (!image.SectionHandle) {
    if (depths == Depths::Only32) return std::nullopt;
    return PixelView(*rows, std::nullopt, nullptr);
  }
  const std::int32_t bitCount = rows->bitsPerPixel;
  const bool plain = image.Section.dsBmih.biCompression == gdi::BI_RGB && (bitCount == 32 || bitCount == 24);
  if (depths == Depths::Only32 && (!plain || bitCount != 32)) return std::nullopt;
  std::optional<raster::Surface> colors;
  std::shared_ptr<const std::vector<std::uint32_t>> lookup;
  if (!plain) {
    colors = PictureColorsOf(bitmap);
    if (!colors) return std::nullopt;
    if (bitCount <= 16) lookup = ColorsOfValues(*colors);
  }
  return PixelView(*rows, colors, std::move(lookup));
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
