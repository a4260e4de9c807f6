#include "bleedborder/platform/raster_palette.h"

namespace bleedborder::raster {
namespace {

constexpr Color Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return (r << 16) | (g << 8) | b; }

constexpr std::array<Color, 20> kStatic = {
    Rgb(0, 0, 0),       Rgb(128, 0, 0),     Rgb(0, 128, 0),     Rgb(128, 128, 0),   Rgb(0, 0, 128),
    Rgb(128, 0, 128),   Rgb(0, 128, 128),   Rgb(192, 192, 192), Rgb(192, 220, 192), Rgb(166, 202, 240),
    Rgb(255, 251, 240), Rgb(160, 160, 164), Rgb(128, 128, 128), Rgb(255, 0, 0),     Rgb(0, 255, 0),
    Rgb(255, 255, 0),   Rgb(0, 0, 255),     Rgb(255, 0, 255),   Rgb(0, 255, 255),   Rgb(255, 255, 255),
};

constexpr std::array<Color, 16> kStandard16 = {
    Rgb(0, 0, 0),     Rgb(128, 0, 0),     Rgb(0, 128, 0),   Rgb(128, 128, 0), Rgb(0, 0, 128),   Rgb(128, 0, 128),
    Rgb(0, 128, 128), Rgb(128, 128, 128), Rgb(192, 192, 192), Rgb(255, 0, 0), Rgb(0, 255, 0),   Rgb(255, 255, 0),
    Rgb(0, 0, 255),   Rgb(255, 0, 255),   Rgb(0, 255, 255), Rgb(255, 255, 255),
};

std::array<Color, 256> BuildHalftone() {
  std::array<Color, 256> colors{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < 10; ++i) colors[n++] = kStatic[i];
  for (std::uint32_t r = 0; r < 6; ++r)
    for (std::uint32_t g = 0; g < 6; ++g)
      for (std::uint32_t b = 0; b < 6; ++b) colors[n++] = Rgb(r * 51, g * 51, b * 51);
  for (std::uint32_t k = 1; k <= 20; ++k) {
    const std::uint32_t v = (255 * k + 10) / 21;
    colors[n++] = Rgb(v, v, v);
  }
  for (std::size_t i = 10; i < 20; ++i) colors[n++] = kStatic[i];
  return colors;
}

// Colour references (red lowest) of the classic scheme, by system colour index.
constexpr std::uint32_t Ref(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr std::array<std::uint32_t, 31> kSystem = {
    Ref(192, 192, 192),  // 0 scroll bar
    Ref(0, 128, 128),    // 1 desktop background
    Ref(0, 0, 128),      // 2 active caption
    Ref(128, 128, 128),  // 3 inactive caption
    Ref(192, 192, 192),  // 4 menu
    Ref(255, 255, 255),  // 5 window
    Ref(0, 0, 0),        // 6 window frame
    Ref(0, 0, 0),        // 7 menu text
    Ref(0, 0, 0),        // 8 window text
    Ref(255, 255, 255),  // 9 caption text
    Ref(192, 192, 192),  // 10 active border
    Ref(192, 192, 192),  // 11 inactive border
    Ref(128, 128, 128),  // 12 application workspace
    Ref(0, 0, 128),      // 13 highlight
    Ref(255, 255, 255),  // 14 highlight text
    Ref(192, 192, 192),  // 15 button face
    Ref(128, 128, 128),  // 16 button shadow
    Ref(128, 128, 128),  // 17 grey text
    Ref(0, 0, 0),        // 18 button text
    Ref(192, 192, 192),  // 19 inactive caption text
    Ref(255, 255, 255),  // 20 button highlight
    Ref(0, 0, 0),        // 21 3-D dark shadow
    Ref(223, 223, 223),  // 22 3-D light
    Ref(0, 0, 0),        // 23 tooltip text
    Ref(255, 255, 225),  // 24 tooltip background
    Ref(192, 192, 192),  // 25 (unassigned)
    Ref(0, 0, 255),      // 26 hot-tracked item
    Ref(16, 132, 208),   // 27 gradient of the active caption
    Ref(181, 181, 181),  // 28 gradient of the inactive caption
    Ref(0, 0, 128),      // 29 menu highlight
    Ref(192, 192, 192),  // 30 menu bar
};

}  // namespace

const std::array<Color, 256>& HalftoneColors() {
  static const std::array<Color, 256> colors = BuildHalftone();
  return colors;
}

const std::array<Color, 20>& StaticColors() { return kStatic; }

const std::array<Color, 16>& StandardColors16() { return kStandard16; }

std::uint32_t SystemColorRef(int index) {
  return index >= 0 && static_cast<std::size_t>(index) < kSystem.size() ? kSystem[static_cast<std::size_t>(index)] : 0;
}

}  // namespace bleedborder::raster
