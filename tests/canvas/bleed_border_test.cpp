// The direct bleed renderer against the passes it replaces: every byte equal.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "canvas/bleed_border.h"
#include "canvas/canvas.h"
#include "canvas/tools.h"
#include "image/bitmap.h"
#include "platform/gdi.h"
#include "tests/support/library_fixture.h"

namespace {

// A picture in device order (row 0 on top): 0x??RRGGBB words, the high byte
// being the fourth byte of the pixel in memory.
struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;
  bool topDown = false;
};

std::int32_t RoundHalfEven(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

// A 32-bit section holding the picture's bytes, in either row order.
void Fill(TBitmap& bitmap, const Picture& picture) {
  gdi::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(gdi::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = picture.topDown ? -picture.height : picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const gdi::HBITMAP section = gdi::CreateDIBSection({}, &info, gdi::DIB_RGB_COLORS, &bits, {}, 0);
  ASSERT_TRUE(section);
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::int32_t memoryRow = picture.topDown ? y : picture.height - 1 - y;
    std::memcpy(static_cast<std::uint8_t*>(bits) + std::size_t(memoryRow) * std::size_t(picture.width) * 4,
                &picture.pixels[std::size_t(y) * std::size_t(picture.width)], std::size_t(picture.width) * 4);
  }
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(section, sizeof record, &record), int(sizeof record));
  bitmap.AttachImage(section, {}, nullptr, false, record);
}

// The command's set-up and its passes or the direct renderer; the composite's bytes.
std::vector<std::uint8_t> Render(const Picture& picture, bool direct) {
  TBitmap source, work, composite;
  Fill(source, picture);
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  const std::int32_t margin = RoundHalfEven(std::min(picture.width, picture.height) / 8.0);
  const std::int32_t outputWidth = picture.width + margin, outputHeight = picture.height + margin;
  work.SetWidth(outputWidth);
  work.SetHeight(outputHeight);
  work.Canvas().Brush().SetColor(clWhite);
  work.Canvas().Brush().SetStyle(TBrushStyle::bsSolid);
  work.Canvas().Pen().SetStyle(TPenStyle::psSolid);
  work.Canvas().Pen().SetColor(clWhite);
  work.SetUseTransparency(true);
  work.SetKeyKind(TTransparencyKind::tkAuto);
  work.SetKeyColor(clWhite);
  source.SetUseTransparency(true);
  source.SetKeyKind(TTransparencyKind::tkFixed);
  source.SetKeyColor(clWhite);
  composite.SetWidth(outputWidth);
  composite.SetHeight(outputHeight);
  const std::int32_t inset = RoundHalfEven(margin / 2.0);
  if (direct) {
    EXPECT_TRUE(DrawBleedDirect(source, composite, inset));
  } else {
    DrawBleedPasses(source, work, composite, inset);
  }
  const gdi::DIBSECTION& section = composite.SharedImage().Section;
  const auto* bytes = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
  return std::vector<std::uint8_t>(bytes, bytes + section.dsBmih.biSizeImage);
}

using Pattern = std::function<std::uint32_t(std::mt19937&, std::int32_t x, std::int32_t y)>;

std::uint32_t RandomColor(std::mt19937& random) { return random() & 0xFFFFFF; }

const std::vector<std::pair<std::string, Pattern>>& Patterns() {
  static const std::vector<std::pair<std::string, Pattern>> patterns{
      {"white holes and near-white, stray fourth bytes",
       [](std::mt19937& r, std::int32_t, std::int32_t) {
         const std::uint32_t fourth = (r() & 1) ? 0xFF000000u : 0;
         switch (r() % 10) {
           case 0: case 1: case 2: return fourth | 0xFFFFFF;
           case 3: return fourth | 0xFEFFFF;
           default: return fourth | RandomColor(r);
         }
       }},
      {"all white", [](std::mt19937& r, std::int32_t, std::int32_t) { return (r() & 0xFF000000u) | 0xFFFFFF; }},
      {"no white", [](std::mt19937& r, std::int32_t, std::int32_t) { return RandomColor(r) & 0xFFFFFE; }},
      {"sparse dots", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         return x % 7 == 3 && y % 5 == 1 ? RandomColor(r) & 0x7F7F7F : 0xFFFFFFu;
       }},
      {"white page with a stroke", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         return std::abs(2 * x - 3 * y) < 3 ? RandomColor(r) & 0x3F3F3F : 0xFFFFFFu;
       }},
  };
  return patterns;
}

Picture Make(std::int32_t width, std::int32_t height, const Pattern& pattern, bool topDown, unsigned seed) {
  Picture picture{width, height, {}, topDown};
  std::mt19937 random(seed);
  picture.pixels.reserve(std::size_t(width) * std::size_t(height));
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) picture.pixels.push_back(pattern(random, x, y));
  return picture;
}

void ExpectSameBytes(const Picture& picture, const std::string& what) {
  const std::vector<std::uint8_t> passes = Render(picture, false);
  const std::vector<std::uint8_t> direct = Render(picture, true);
  ASSERT_EQ(passes.size(), direct.size()) << what;
  const auto mismatch = std::mismatch(passes.begin(), passes.end(), direct.begin());
  EXPECT_TRUE(mismatch.first == passes.end())
      << what << ": first difference at byte " << (mismatch.first - passes.begin());
}

TEST(BleedBorder, DirectRendererGivesThePassesBytesForEveryShorterSide) {
  ASSERT_EQ(std::fegetround(), FE_TONEAREST);
  unsigned seed = 1;
  for (std::int32_t side = 1; side <= 64; ++side) {
    const std::int32_t longer = side + (side * 7) % 23;
    for (const auto& [name, pattern] : Patterns()) {
      const bool topDown = (side % 3) == 0;
      ExpectSameBytes(Make(longer, side, pattern, topDown, seed++), name + ", wide, side " + std::to_string(side));
      ExpectSameBytes(Make(side, longer, pattern, !topDown, seed++), name + ", tall, side " + std::to_string(side));
    }
  }
}

TEST(BleedBorder, DirectRendererGivesThePassesBytesForLargerPictures) {
  // The last is large enough to be shared out among the cores.
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{301, 203}, {211, 389}, {420, 300}, {720, 400}};
  unsigned seed = 1000;
  for (const auto& [width, height] : sizes)
    for (const auto& [name, pattern] : Patterns()) {
      const bool topDown = seed % 2 == 0;
      ExpectSameBytes(Make(width, height, pattern, topDown, seed++),
                      name + " " + std::to_string(width) + "x" + std::to_string(height));
    }
}

TEST(BleedBorder, DirectRendererDeclinesAPictureThatIsNotA32BitSection) {
  TBitmap source, composite;
  source.SetDepth(TPixelDepth::pd24Bit);
  source.SetWidth(8);
  source.SetHeight(8);
  composite.SetDepth(TPixelDepth::pd32Bit);
  composite.SetWidth(9);
  composite.SetHeight(9);
  EXPECT_FALSE(DrawBleedDirect(source, composite, 0));
  TBitmap empty;
  EXPECT_FALSE(DrawBleedDirect(empty, composite, 0));
}

}  // namespace
