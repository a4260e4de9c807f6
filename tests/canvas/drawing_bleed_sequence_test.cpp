// The bleed border sequence of the command, driven through the library in
// memory on a small picture, with a hand-checked result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace drawing_test;

namespace {

constexpr std::int32_t kWidth = 32, kHeight = 24;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(std::uint8_t(v));
  out.push_back(std::uint8_t(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
std::uint32_t Get32(const std::vector<std::uint8_t>& in, std::size_t at) {
  return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | std::uint32_t(in[at + 3]) << 24;
}

// A white 32 x 24 picture with a red left column, a black 3 x 3 block at
// (5, 5) and, on row 20, a yellow pixel at x 15 beside a cyan one at x 16.
std::uint32_t PicturePixel(std::int32_t x, std::int32_t y) {
  if (x == 0) return kRed;
  if (x >= 5 && x <= 7 && y >= 5 && y <= 7) return kBlack;
  if (y == 20 && x == 15) return kYellow;
  if (y == 20 && x == 16) return kCyan;
  return kWhite;
}

// The picture as a 24-bit BMP file (rows of 96 bytes, bottom row first).
std::vector<std::uint8_t> PictureFile() {
  std::vector<std::uint8_t> file;
  const std::uint32_t pixelBytes = kWidth * 3 * kHeight;
  Put16(file, 0x4D42);
  Put32(file, 54 + pixelBytes);
  Put32(file, 0);
  Put32(file, 54);
  Put32(file, 40);
  Put32(file, kWidth);
  Put32(file, kHeight);
  Put16(file, 1);
  Put16(file, 24);
  for (int i = 0; i < 6; ++i) Put32(file, 0);
  for (std::int32_t y = kHeight - 1; y >= 0; --y)
    for (std::int32_t x = 0; x < kWidth; ++x) {
      const std::uint32_t p = PicturePixel(x, y);
      file.push_back(std::uint8_t(p));
      file.push_back(std::uint8_t(p >> 8));
      file.push_back(std::uint8_t(p >> 16));
    }
  return file;
}

// Steps 2 to 16 of the command; the bytes of the file it would write.
std::vector<std::uint8_t> RunBleedSequence(const std::vector<std::uint8_t>& input) {
  auto source = std::make_unique<TBitmap>();
  auto work = std::make_unique<TBitmap>();
  auto composite = std::make_unique<TBitmap>();
  TMemoryStream in;
  in.WriteBuffer(input.data(), std::int64_t(input.size()));
  in.SetPosition(0);
  source->LoadStream(in);

  source->SetDepth(TPixelDepth::pd32Bit);
  work->SetDepth(TPixelDepth::pd32Bit);
  composite->SetDepth(TPixelDepth::pd32Bit);
  const std::int32_t sourceWidth = source->Width(), sourceHeight = source->Height();
  const TBleedGeometry g = BleedGeometryOf(sourceWidth, sourceHeight);
  const std::int32_t margin = g.Margin();
  const std::int32_t outputWidth = sourceWidth + margin, outputHeight = sourceHeight + margin;
  work->SetWidth(outputWidth);
  work->SetHeight(outputHeight);
  const TRect sourceRect{0, 0, sourceWidth, sourceHeight};
  const TRect fullRect{0, 0, outputWidth, outputHeight};

  TCanvas& workCanvas = work->Canvas();
  workCanvas.Brush().SetColor(clWhite);
  workCanvas.Brush().SetStyle(TBrushStyle::bsSolid);
  workCanvas.Pen().SetStyle(TPenStyle::psSolid);
  workCanvas.Pen().SetColor(clWhite);
  work->SetUseTransparency(true);
  work->SetKeyKind(TTransparencyKind::tkAuto);
  work->SetKeyColor(clWhite);
  source->SetUseTransparency(true);
  source->SetKeyKind(TTransparencyKind::tkFixed);
  source->SetKeyColor(clWhite);
  composite->SetWidth(outputWidth);
  composite->SetHeight(outputHeight);

  const std::int32_t inset = g.inset;
  EXPECT_EQ(margin, 3);
  EXPECT_EQ(inset, 2);
  for (std::int32_t i = 0; i <= inset; ++i) {
    const TRect pass{i, i, outputWidth - i, outputHeight - i};
    workCanvas.FillArea(fullRect);
    workCanvas.StretchCopy(pass, source->Canvas(), sourceRect);
    composite->Canvas().PaintGraphic(0, 0, work.get());
  }
  composite->Canvas().PaintGraphic(inset, inset, source.get());

  source.reset();
  work.reset();
  TMemoryStream out;
  composite->StoreStream(out);
  return out.Bytes();
}

// Rows of the expected result: R red, K black, Y yellow, C cyan, G green;
// every column not listed is white.
std::string Row(std::string start, std::size_t at = 0, const std::string& more = "") {
  start.resize(35, 'W');
  start.replace(at, more.size(), more);
  return start;
}

TEST(BleedSequence, ThreePassesOverAThirtyTwoByTwentyFourPicture) {
  const std::vector<std::uint8_t> file = RunBleedSequence(PictureFile());

  // 24 / 8 = 3 gives a 35 x 27 image and Inset 2: pass rectangles of 35 x 27
  // and 33 x 25 (enlarging) and 31 x 23 (shrinking), then the picture at (2, 2).
  constexpr std::int32_t kOut = 35, kOutHeight = 27;
  ASSERT_EQ(file.size(), 54u + 4u * kOut * kOutHeight);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get32(file, 18), std::uint32_t(kOut));
  EXPECT_EQ(Get32(file, 22), std::uint32_t(kOutHeight));
  EXPECT_EQ(file[28], 32);

  auto rowOf = [&](std::int32_t y) {
    std::string row;
    for (std::int32_t x = 0; x < kOut; ++x) {
      const std::size_t at = 54 + 4 * (std::size_t(kOutHeight - 1 - y) * kOut + std::size_t(x));
      switch (Get32(file, at) & 0xFFFFFF) {
        case kWhite: row += 'W'; break;
        case kRed: row += 'R'; break;
        case kBlack: row += 'K'; break;
        case kYellow: row += 'Y'; break;
        case kCyan: row += 'C'; break;
        case kGreen: row += 'G'; break;
        default: row += '?';
      }
    }
    return row;
  };

  // The red column bleeds one column per pass: the first pass stretches it
  // over the full height at x 0, the second over rows 1-25 at x 1, the last
  // pass and the picture cover x 2.
  EXPECT_EQ(rowOf(0), Row("R"));
  EXPECT_EQ(rowOf(26), Row("R"));
  // The black block: the enlarging passes put it at columns 5-8 and 6-8 of
  // rows 6-8, the shrinking pass and the picture at 7-9 of rows 7-9.
  EXPECT_EQ(rowOf(6), Row("RRR", 5, "KKKK"));
  EXPECT_EQ(rowOf(7), Row("RRR", 5, "KKKKK"));
  EXPECT_EQ(rowOf(9), Row("RRR", 7, "KKK"));
  // The shrinking pass merges source columns 15 and 16 by AND: yellow and
  // cyan give green at x 17 of row 21, where the picture above it is white.
  EXPECT_EQ(rowOf(21), Row("RRR", 17, "G"));
  // Row 22: the enlarging passes repeat cyan at x 17-18 after yellow at x 16;
  // the picture's own yellow and cyan then cover x 17 and 18.
  EXPECT_EQ(rowOf(22), Row("RRR", 16, "YYC"));
}

}  // namespace
