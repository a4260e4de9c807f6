// The one call that writes a picture with its border: the file and the stream
// hold the bytes of the pass loop on the picture converted to 32 bits, and
// the caller's picture is left as it was, whatever route the call takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bleedborder/bleed/bleed.h"
#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/thread_support.h"
#include "tests/platform/temp_dir.h"
#include "tests/support/command_steps.h"
#include "tests/support/library_fixture.h"

namespace {

std::vector<std::uint8_t> Stored(TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.StoreStream(stream);
  return stream.Bytes();
}

// A picture of the given depth and size: white with a coloured block and a
// black run at the bottom, as its depth holds them.
void Paint(TBitmap& picture, TPixelDepth depth, std::int32_t width, std::int32_t height) {
  picture.SetDepth(depth);
  picture.SetWidth(width);
  picture.SetHeight(height);
  if (width == 0 || height == 0) return;
  TCanvas& canvas = picture.Canvas();
  canvas.Brush().SetColor(clWhite);
  canvas.FillArea({0, 0, width, height});
  canvas.Brush().SetColor(static_cast<TColor>(0x3060C0));
  canvas.FillArea({width / 4, height / 3, width / 2, height / 2});
  canvas.Brush().SetColor(clBlack);
  canvas.FillArea({0, height - 1, width / 3 + 1, height});
}

TEST(BleedBorderCall, WritesThePassLoopsBytesAndLeavesThePictureAsItWas) {
  const struct {
    TPixelDepth depth;
    std::int32_t width, height;
  } cases[] = {{TPixelDepth::pd24Bit, 61, 45}, {TPixelDepth::pd8Bit, 40, 77}, {TPixelDepth::pd1Bit, 130, 9},
               {TPixelDepth::pd32Bit, 3, 200}, {TPixelDepth::pd8Bit, 0, 0}};
  TempDir folder;
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + ", depth " +
                             std::to_string(static_cast<int>(c.depth));
    TBitmap picture;
    Paint(picture, c.depth, c.width, c.height);
    picture.SetKeyColor(static_cast<TColor>(0x123456));
    const std::vector<std::uint8_t> before = Stored(picture);

    TMemoryStream stream;
    StoreBleedBorder(picture, stream);
    const std::string file = folder / "bordered.bmp";
    StoreBleedBorder(picture, file);

    TBitmap copy;
    copy.TakeFrom(&picture);
    const std::vector<std::uint8_t> passes =
        command_steps::Compose(copy, BleedGeometryOf(c.width, c.height), false);
    EXPECT_TRUE(stream.Bytes() == passes) << what;
    EXPECT_EQ(ContentOf(file), std::string(passes.begin(), passes.end())) << what;
    EXPECT_EQ(picture.Depth(), c.depth) << what;
    EXPECT_FALSE(picture.UseTransparency()) << what;
    EXPECT_EQ(picture.KeyColor(), static_cast<TColor>(0x123456)) << what;
    EXPECT_TRUE(Stored(picture) == before) << what;
  }
}

// The call renders without the library lock, from the picture's storage. A
// thread that draws on the picture meanwhile must not change what the call
// reads: each file written is the border of the picture as it was at one
// moment, all of one colour or all of the other.
TEST(BleedBorderCall, APictureDrawnOnMeanwhileGivesTheBorderOfOneOfItsStates) {
  constexpr std::int32_t kWidth = 300, kHeight = 200;
  const TColor colors[] = {static_cast<TColor>(0x2040C0), static_cast<TColor>(0x10A030)};
  const auto fill = [&](TBitmap& bitmap, TColor color) {
    bitmap.Canvas().Brush().SetColor(color);
    bitmap.Canvas().FillArea({0, 0, kWidth, kHeight});
  };
  std::vector<std::vector<std::uint8_t>> expected;
  for (const TColor color : colors) {
    TBitmap alone;
    Paint(alone, TPixelDepth::pd24Bit, kWidth, kHeight);
    fill(alone, color);
    TMemoryStream written;
    StoreBleedBorder(alone, written);
    expected.push_back(written.Bytes());
  }
  TBitmap picture;
  Paint(picture, TPixelDepth::pd24Bit, kWidth, kHeight);
  fill(picture, colors[0]);
  std::size_t next = 1;
  thread_test::RunAlongside(
      [&] {
        for (int i = 0; i < 20; ++i) {
          TMemoryStream written;
          StoreBleedBorder(picture, written);
          EXPECT_TRUE(written.Bytes() == expected[0] || written.Bytes() == expected[1]) << "file " << i;
        }
      },
      [&] {
        fill(picture, colors[next]);
        next = 1 - next;
        return true;
      });
}

}  // namespace
