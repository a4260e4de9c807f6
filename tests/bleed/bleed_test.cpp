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

}  // namespace
