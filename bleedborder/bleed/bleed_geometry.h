#pragma once
// The sizes of a bleed border: the margin the picture is grown by, the inset
// it is drawn at, the output's size and the passes' rectangles.
#include <cstdint>

#include "bleedborder/core/geometry.h"
#include "bleedborder/export.h"

namespace bleedborder {

struct BLEEDBORDER_EXPORT TBleedGeometry {
  std::int32_t sourceWidth = 0;
  std::int32_t sourceHeight = 0;
  // The picture goes inset in from the top left.
  std::int32_t inset = 0;
  std::int32_t outputWidth = 0;
  std::int32_t outputHeight = 0;

  // What each side's length is grown by (the same for both in a geometry from
  // BleedGeometryOf).
  std::int32_t Margin() const { return outputWidth - sourceWidth; }

  // Passes 0 .. inset: pass k stretches the picture into PassRect(k).
  std::int32_t Passes() const { return inset + 1; }
  TRect PassRect(std::int32_t k) const { return {k, k, outputWidth - k, outputHeight - k}; }
  std::int32_t PassWidth(std::int32_t k) const { return outputWidth - 2 * k; }
  std::int32_t PassHeight(std::int32_t k) const { return outputHeight - 2 * k; }
  TRect SourceRect() const { return {0, 0, sourceWidth, sourceHeight}; }
  TRect OutputRect() const { return {0, 0, outputWidth, outputHeight}; }
};

// The geometry of the border of a picture of these sizes (at least 0): a margin of the shorter side / 8 and an
// inset of the margin / 2, each rounded to the nearest whole number with an
// exact half going to the even one. Raises EOutOfResources when the output's
// sides would not fit 32 bits.
BLEEDBORDER_EXPORT TBleedGeometry BleedGeometryOf(std::int32_t sourceWidth, std::int32_t sourceHeight);

}  // namespace bleedborder
