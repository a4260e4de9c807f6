#pragma once
// Run-length decoding of 8- and 4-bit device-independent pixel data.
#include <cstddef>
#include <cstdint>

#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::raster {

// Decodes size bytes of BI_RLE8 (rle4 false) or BI_RLE4 data for a picture of
// width x height, rows bottom-up as the data holds them, into out (device
// rows, top first), using the colours of table (256 entries). The picture's
// top-left pixel lands on out's; writes outside the picture or out are
// dropped, pixels the data never writes keep their value, and data that ends
// early or runs past the last row ends the decoding.
void DecodeRle(const std::uint8_t* data, std::size_t size, bool rle4, std::int32_t width, std::int32_t height,
               const Color* table, Surface& out);

}  // namespace bleedborder::raster
