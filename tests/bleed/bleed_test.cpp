// The one call that writes a picture with its border: the file and the stream
// hold the bytes of the pass loop on the picture converted to 32 bits, and
// the caller's picture is left as it was, whatever route the call takes. The
// call for a file: the bytes of the call on the loaded picture, whether the
// pixels are read while the border is rendered or before, and a read that
// fails meanwhile ends it with its exception.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bleedborder/bleed/bleed.h"
#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/bleed/renderer/direct_renderer.h"
#include "bleedborder/core/exceptions.h"
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

// A BMP file of 24 or 8 (grey) bits a pixel, rows bottom up or top down:
// rows of white with a few dots between busy rows with white holes, so that
// the border's rows read source rows of both kinds.
std::string BmpFile(std::int32_t width, std::int32_t height, std::uint16_t bitCount, bool topDown, unsigned seed) {
  const std::uint32_t colors = bitCount == 8 ? 256 : 0;
  const std::int64_t stride = (std::int64_t{width} * bitCount / 8 + 3) / 4 * 4;
  const std::uint32_t offset = 54 + 4 * colors;
  std::string file(offset + static_cast<std::size_t>(stride * height), '\0');
  const auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  put(0, 'B' | ('M' << 8), 2);
  put(2, static_cast<std::uint32_t>(file.size()), 4);
  put(10, offset, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(topDown ? -height : height), 4);
  put(26, 1, 2);
  put(28, bitCount, 2);
  put(46, colors, 4);
  for (std::uint32_t i = 0; i < colors; ++i) put(54 + 4 * i, i * 0x010101u, 4);
  std::mt19937 random(seed);
  const std::int32_t bytesPerPixel = bitCount / 8;
  for (std::int32_t y = 0; y < height; ++y) {
    char* row = file.data() + offset + static_cast<std::size_t>(stride * y);
    const bool busy = y % 7 < 3;
    for (std::int32_t x = 0; x < width; ++x) {
      const bool white = busy ? random() % 4 == 0 : random() % 97 != 0;
      const std::uint32_t value = white ? 0xFFFFFFu : random() & 0x7F7FFEu;
      put(static_cast<std::size_t>(row - file.data()) + static_cast<std::size_t>(x * bytesPerPixel), value,
          bytesPerPixel);
    }
  }
  return file;
}

// The reference: the file loaded whole, then its border written.
std::string BorderOfLoaded(const std::string& input, const std::string& output) {
  TBitmap picture;
  picture.LoadFile(input);
  StoreBleedBorder(picture, output);
  return ContentOf(output);
}

// Files of at least 8 MiB have their pixels read while the border is
// rendered (top-down ones whole first); a small one is loaded as it is. Each
// gives the bytes of the border of the picture loaded first.
TEST(BleedBorderOfFile, WritesTheBorderOfTheLoadedPicture) {
  const struct {
    std::int32_t width, height;
    std::uint16_t bitCount;
    bool topDown;
  } cases[] = {{1800, 1700, 24, false}, {40, 75000, 24, false}, {2950, 2900, 8, false}, {1700, 1800, 24, true},
               {90, 61, 8, false}};
  TempDir folder;
  unsigned seed = 1;
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                             std::to_string(c.bitCount) + " bits" + (c.topDown ? ", top down" : "");
    const std::string input = folder.Write("picture.bmp", BmpFile(c.width, c.height, c.bitCount, c.topDown, seed++));
    const std::string expected = BorderOfLoaded(input, folder / "loaded.bmp");
    StoreBleedBorderOfFile(input, folder / "read.bmp");
    EXPECT_TRUE(ContentOf(folder / "read.bmp") == expected) << what;
  }
}

// An output that is the input itself (a link to it) cannot be replaced while
// the input is open to be read: the call reads it whole first, as loading it
// does, and replaces it with its border.
TEST(BleedBorderOfFile, ReplacesAnInputThatIsItsOwnOutput) {
  TempDir folder;
  const std::string input = folder.Write("picture.bmp", BmpFile(1800, 1700, 24, false, 7));
  const std::string output = folder / "picture.bmp.bmp";
  const std::string expected = BorderOfLoaded(input, folder / "loaded.bmp");
  ASSERT_EQ(link(input.c_str(), output.c_str()), 0);
  StoreBleedBorderOfFile(input, output);
  EXPECT_TRUE(ContentOf(output) == expected);
  EXPECT_TRUE(ContentOf(input) == expected) << "the link no longer names the output";
}

// A read that fails while the border is rendered, at its first chunk or
// later, reaches the caller as it was raised, and nothing waits for rows that
// will never come.
TEST(BleedBorderOfFile, AReadThatFailsMeanwhileEndsTheCallWithItsException) {
  TempDir folder;
  const std::string input = folder.Write("picture.bmp", BmpFile(1800, 1700, 24, false, 11));
  TBitmap picture;
  picture.LoadFile(input);
  const TBleedGeometry g = BleedGeometryOf(1800, 1700);
  for (const std::int64_t failsFrom : {std::int64_t{0}, std::int64_t{4} << 20}) {
    const bleed::TPictureReader failing = [&](std::int64_t, std::int64_t to) {
      if (to > failsFrom) RaiseMsg<EReadError>(Msg::ReadError);
    };
    EXPECT_THROW(bleed::StoreBleedDirect(picture, g, folder / "bordered.bmp", {}, failing), EReadError) << failsFrom;
  }
}

}  // namespace
