#include "bleedborder/bleed/bleed_geometry.h"

#include <algorithm>
#include <limits>

#include "bleedborder/core/exceptions.h"

namespace bleedborder {

namespace {

// value / divisor (both at least 0) to the nearest whole number, an exact half to the even
// one; in integers, so that no floating-point rounding mode can change it.
std::int32_t DivideRoundingHalfToEven(std::int32_t value, std::int32_t divisor) {
  const std::int32_t quotient = value / divisor, twiceRemainder = 2 * (value % divisor);
  if (twiceRemainder > divisor || (twiceRemainder == divisor && quotient % 2 != 0)) return quotient + 1;
  return quotient;
}

// A side grown by the margin; refused when it does not fit the 32-bit sizes
// of a bitmap (no picture that can be loaded comes near).
std::int32_t Grown(std::int32_t side, std::int32_t margin) {
  const std::int64_t grown = std::int64_t{side} + margin;
  if (grown > std::numeric_limits<std::int32_t>::max()) RaiseMsg<EOutOfResources>(Msg::OutOfResources);
  return static_cast<std::int32_t>(grown);
}

}  // namespace

TBleedGeometry BleedGeometryOf(std::int32_t sourceWidth, std::int32_t sourceHeight) {
  const std::int32_t margin = DivideRoundingHalfToEven(std::min(sourceWidth, sourceHeight), 8);
  return {sourceWidth, sourceHeight, DivideRoundingHalfToEven(margin, 2), Grown(sourceWidth, margin),
          Grown(sourceHeight, margin)};
}

}  // namespace bleedborder
