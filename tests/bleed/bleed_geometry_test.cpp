// The border's sizes: the margin rule, its rounding of exact halves, and
// outputs too large for a bitmap's sizes.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>
#include <limits>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/core/exceptions.h"

using namespace bleedborder;

namespace {

TEST(BleedGeometry, MarginIsAnEighthOfTheShorterSideAndInsetHalfOfItExactHalvesToEven) {
  const struct {
    std::int32_t width, height, margin, inset;
  } cases[] = {
      {0, 0, 0, 0},      {1, 5000, 0, 0},  {4, 9, 0, 0},    // 0.5 goes to 0
      {12, 12, 2, 1},    {20, 30, 2, 1},                     // 1.5 and 2.5 go to 2
      {13, 40, 2, 1},    {8, 8, 1, 0},                       // inset 0.5 goes to 0
      {24, 25, 3, 2},    {40, 41, 5, 2},   {56, 99, 7, 4},   // insets 1.5, 2.5 and 3.5
      {4000, 3000, 375, 188}, {3000, 4000, 375, 188},
      {std::numeric_limits<std::int32_t>::max(), 1, 0, 0},
  };
  // Integers throughout: the rounding mode in force does not matter.
  const int mode = std::fegetround();
  for (const int rounding : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD})
    for (const auto& c : cases) {
      std::fesetround(rounding);
      const TBleedGeometry g = BleedGeometryOf(c.width, c.height);
      std::fesetround(mode);
      EXPECT_EQ(g.Margin(), c.margin) << c.width << "x" << c.height;
      EXPECT_EQ(g.inset, c.inset) << c.width << "x" << c.height;
      EXPECT_EQ(g.outputWidth, c.width + c.margin);
      EXPECT_EQ(g.outputHeight, c.height + c.margin);
      EXPECT_EQ(g.PassRect(g.inset), (TRect{c.inset, c.inset, g.outputWidth - c.inset, g.outputHeight - c.inset}));
    }
}

TEST(BleedGeometry, AnOutputSideBeyond32BitsIsRefused) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_THROW(BleedGeometryOf(kMax, kMax), EOutOfResources);
  EXPECT_THROW(BleedGeometryOf(kMax - 100, 2000), EOutOfResources);
  EXPECT_EQ(BleedGeometryOf(kMax - 250, 2000).outputWidth, kMax);
}

}  // namespace
