#pragma once
// Rectangles and points of signed 32-bit integers. Right and bottom are
// exclusive; a rectangle is never normalised, so a width or height may be
// negative and is passed on as it stands.
#include <cstdint>

namespace bleedborder {

struct TPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  constexpr std::int32_t Width() const { return right - left; }
  constexpr std::int32_t Height() const { return bottom - top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

}  // namespace bleedborder
