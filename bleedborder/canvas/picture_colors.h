#pragma once
// The colours of a picture's pixels read from its own section, whatever its
// depth: through its colour table (1, 4 and 8 bits) or its masks (16 and 32
// bits), by the same per-pixel rules as its conversion to 32 bits, so that a
// reader of these colours sees what the converted picture would hold without
// the picture being converted.
#include <cstdint>
#include <optional>

#include "bleedborder/platform/raster_surface.h"

namespace bleedborder {

class TBitmap;

// The rules for the picture's pixels (format, colour table or masks; the
// pixel memory itself is not part of them), or nothing when the picture is
// not an uncompressed section of those depths.
std::optional<raster::Surface> PictureColorsOf(TBitmap& picture);

// The colour (fourth byte 0) of pixel x of a row of a picture with these rules.
inline std::uint32_t PictureColor(const raster::Surface& colors, const std::uint8_t* row, std::int32_t x) {
  return raster::NativeColor(colors, raster::ReadNative(colors, row, x)) & raster::kColorMask;
}

}  // namespace bleedborder
