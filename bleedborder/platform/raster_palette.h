#pragma once
// The fixed colour sets of the raster device: the halftone palette, the 20
// static colours of the default palette, the 16 standard colours and the
// classic system colours. RASTER.md lists them.
#include <array>
#include <cstdint>

#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::raster {

// 256 colours: the 10 low static colours, a 6 x 6 x 6 colour cube, 20 greys
// and the 10 high static colours.
const std::array<Color, 256>& HalftoneColors();
// The default palette: the 10 low and the 10 high static colours.
const std::array<Color, 20>& StaticColors();
// Black, maroon, green, olive, navy, purple, teal, grey, silver, red, lime,
// yellow, blue, fuchsia, aqua, white.
const std::array<Color, 16>& StandardColors16();
// Classic default system colour nn as a colour reference (red in the lowest
// byte); 0 for an index past the table.
std::uint32_t SystemColorRef(int index);

}  // namespace bleedborder::raster
