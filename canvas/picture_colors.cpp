#include "canvas/picture_colors.h"

#include <algorithm>

#include "canvas/canvas.h"
#include "canvas/errors.h"
#include "canvas/gdi_raii.h"
#include "image/bitmap.h"

namespace {

constexpr std::uint32_t kMaxTableEntries = 256;

// The section's colour table, read through the picture's canvas context.
std::uint32_t ReadSectionColors(TBitmap& picture, gdi::RGBQUAD (&colors)[kMaxTableEntries]) REQUIRES(LibraryLock) {
  TBitmapCanvas& canvas = picture.HeldCanvas();
  canvas.RequireHeldParts(cpHandle);
  const gdi::HDC dc = canvas.HeldContext();
  gdi::Selection selection(dc, picture.SharedImage().SectionHandle);
  CheckHandle(selection.Previous());
  return gdi::GetDIBColorTable(dc, 0, kMaxTableEntries, colors);
}

}  // namespace

std::optional<raster::Surface> PictureColorsOf(TBitmap& picture) {
  TLibraryHold hold;
  const TBitmapImage& image = picture.SharedImage();
  const gdi::DIBSECTION& section = image.Section;
  if (!image.SectionHandle || !section.dsBm.bmBits) return std::nullopt;
  raster::Surface colors;
  colors.bitCount = section.dsBmih.biBitCount;
  const gdi::DWORD compression = section.dsBmih.biCompression;
  switch (colors.bitCount) {
    case 1:
    case 4:
    case 8: {
      if (compression != gdi::BI_RGB) return std::nullopt;
      gdi::RGBQUAD table[kMaxTableEntries] = {};
      colors.tableCount = std::min(ReadSectionColors(picture, table), kMaxTableEntries);
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
