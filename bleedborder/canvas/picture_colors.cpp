#include "bleedborder/canvas/picture_colors.h"

#include <algorithm>

#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/pixel_rows.h"

namespace bleedborder {

namespace {

constexpr std::uint32_t kMaxTableEntries = 256;

}  // namespace

std::optional<raster::Surface> PictureColorsOf(TBitmap& picture) {
  TLibraryHold hold;
  const TBitmapImage& image = picture.SharedImage();
  const gdi::DIBSECTION& section = image.Section;
  const std::optional<TPixelRows> rows = SectionRows(section);
  if (!image.SectionHandle || !rows) return std::nullopt;
  raster::Surface colors;
  colors.bitCount = rows->bitsPerPixel;
  const gdi::DWORD compression = section.dsBmih.biCompression;
  switch (colors.bitCount) {
    case 1:
    case 4:
    case 8: {
      if (compression != gdi::BI_RGB) return std::nullopt;
      gdi::RGBQUAD table[kMaxTableEntries] = {};
      colors.tableCount = std::min(static_cast<std::uint32_t>(picture.ReadSectionColors(table)), kMaxTableEntries);
      // Entries past the count stay 0, black, as the conversion reads them.
      for (std::uint32_t i = 0; i < colors.tableCount; ++i)
        colors.table[i] = table[i].rgbBlue | (std::uint32_t{table[i].rgbGreen} << 8) |
                          (std::uint32_t{table[i].rgbRed} << 16);
      return colors;
    }
    case 16:
    case 32:
      if (compression == gdi::BI_BITFIELDS) {
        raster::SetMasks(colors, section.dsBitfields[0], section.dsBitfields[1], section.dsBitfields[2]);
      } else if (compression == gdi::BI_RGB) {
        raster::SetMasks(colors, raster::DefaultMask(colors.bitCount, 0), raster::DefaultMask(colors.bitCount, 1),
                         raster::DefaultMask(colors.bitCount, 2));
      } else {
        return std::nullopt;
      }
      return colors;
    case 24:
      if (compression != gdi::BI_RGB) return std::nullopt;
      return colors;
    default: return std::nullopt;
  }
}

}  // namespace bleedborder
