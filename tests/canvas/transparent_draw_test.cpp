// Drawing bitmaps onto canvases: key colour settings, the cached mask, the
// two masked transfer paths and what is left set on the destination.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace drawing_test;

namespace {

constexpr std::uint32_t kNavy = 0x000080, kGold = 0xC0A000;
constexpr std::uint32_t kNotNT = 1;
constexpr TColor kPaletteRelative = 0x02000000;

// What a transparent draw at the image's own size must give: the source
// pixel wherever it is not the key colour, the destination elsewhere.
Pixels Overlay(const Pixels& dest, std::int32_t destWidth, const Pixels& source, std::int32_t width,
               std::int32_t height, std::int32_t atX, std::int32_t atY, std::uint32_t key) {
  Pixels result = dest;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const std::int32_t dx = atX + x, dy = atY + y;
      const std::uint32_t pixel = source[std::size_t(y * width + x)] & 0xFFFFFF;
      if (dx < 0 || dy < 0 || dx >= destWidth || std::size_t(dy * destWidth) >= dest.size()) continue;
      if (pixel != key) result[std::size_t(dy * destWidth + dx)] = pixel;
    }
  return result;
}

// ---- Key settings ---------------------------------------------------------------

// The two sequences the bleed border command runs on its work and source
// images: both end fixed on white.
TEST(KeySettings, BothSequencesEndFixedOnWhite) {
  TBitmap work, source;
  FillSolid(work, 3, 2, kWhite);
  Fill(source, 2, 2, {kWhite, kWhite, kGold, kWhite});  // bottom-left pixel gold
  ChangeCount workChanges(work), sourceChanges(source);

  work.SetKeyKind(TTransparencyKind::tkAuto);
  EXPECT_EQ(work.KeyColor(), clDefault);
  EXPECT_EQ(workChanges.count, 0);
  work.SetKeyColor(clWhite);
  EXPECT_EQ(work.KeyKind(), TTransparencyKind::tkFixed);
  EXPECT_EQ(work.KeyColor(), clWhite);
  EXPECT_EQ(workChanges.count, 1);

  source.SetKeyKind(TTransparencyKind::tkFixed);
  EXPECT_EQ(source.KeyKind(), TTransparencyKind::tkFixed);
  EXPECT_EQ(source.KeyColor(), 0x00A0C0 | kPaletteRelative);  // gold, red lowest
  source.SetKeyColor(clWhite);  // differs from the frozen value by its flag
  EXPECT_EQ(source.KeyColor(), clWhite);
  EXPECT_EQ(sourceChanges.count, 2);

  EXPECT_EQ(work.EffectiveKeyColor(), 0x02FFFFFF);
  EXPECT_EQ(source.EffectiveKeyColor(), 0x02FFFFFF);
}

TEST(KeySettings, KindFollowsColourAndRepeatedWritesDoNothing) {
  TBitmap bitmap;
  FillSolid(bitmap, 2, 2, kNavy);
  ChangeCount changes(bitmap);
  bitmap.SetKeyColor(clRed);
  bitmap.SetKeyColor(clRed);
  bitmap.SetKeyKind(TTransparencyKind::tkFixed);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(bitmap.KeyKind(), TTransparencyKind::tkFixed);

  bitmap.SetKeyKind(TTransparencyKind::tkAuto);
  EXPECT_EQ(bitmap.KeyColor(), clDefault);
  EXPECT_EQ(changes.count, 2);
  bitmap.SetKeyColor(clDefault);
  EXPECT_EQ(changes.count, 2);
}

TEST(KeySettings, EffectiveKeyColour) {
  TBitmap bitmap;
  Fill(bitmap, 2, 3, {kRed, kRed, kRed, kRed, kBlue, kRed});
  EXPECT_EQ(bitmap.EffectiveKeyColor(), clBlue | kPaletteRelative);  // the bottom-left pixel
  bitmap.SetKeyColor(clBtnFace);
  EXPECT_EQ(bitmap.EffectiveKeyColor(), static_cast<TColor>(ResolveColor(clBtnFace)) | kPaletteRelative);
  bitmap.SetKeyColor(clNone);
  EXPECT_EQ(bitmap.EffectiveKeyColor(), clNone);

  TBitmap mono;
  mono.SetDepth(TPixelDepth::pd1Bit);
  mono.SetWidth(2);
  mono.SetHeight(2);
  mono.Canvas().Brush().SetColor(clBlack);
  mono.Canvas().FillArea({0, 0, 2, 2});
  EXPECT_EQ(mono.EffectiveKeyColor(), clWhite | kPaletteRelative);
}

TEST(KeySettings, KeyColourWriteGivesASharedBitmapItsOwnStorage) {
  const Pixels picture{kRed, kWhite, kGold, kNavy};
  TBitmap first, second;
  Fill(first, 2, 2, picture);
  first.SetKeyColor(clWhite);
  second.TakeFrom(&first);
  const gdi::HBITMAP firstMask = first.MaskBitmap();
  ASSERT_TRUE(firstMask);
  ASSERT_EQ(&first.SharedImage(), &second.SharedImage());

  second.SetKeyColor(clRed);

  EXPECT_NE(&first.SharedImage(), &second.SharedImage());
  EXPECT_EQ(first.MaskBitmap(), firstMask);
  EXPECT_EQ(PixelsOf(first), picture);
  EXPECT_EQ(ColorsOf(second), picture);
  EXPECT_NE(second.MaskBitmap(), firstMask);
}

// ---- Transparent draws --------------------------------------------------------------

TEST(TransparentDraw, OnlyExactWhiteIsTransparentAndTheFourthByteTakesNoPart) {
  const Pixels picture{0x00FFFFFF, 0xFFFFFFFF, 0x80FFFFFF, 0x00FEFFFF, 0x00FFFEFF,
                       0x00FFFFFE, 0xFF000000, 0x7F123456, 0x00FFFFFF, 0x00F0F0F0};
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    SCOPED_TRACE(platform);
    PlatformIdScope scope(platform);
    TBitmap source, dest;
    Fill(source, 5, 2, picture);
    source.SetUseTransparency(true);
    source.SetKeyColor(clWhite);
    FillSolid(dest, 5, 2, kNavy);
    dest.Canvas().PaintGraphic(0, 0, &source);
    EXPECT_EQ(ColorsOf(dest), (Pixels{kNavy, kNavy, kNavy, 0xFEFFFF, 0xFFFEFF,  //
                                      0xFFFFFE, 0x000000, 0x123456, kNavy, 0xF0F0F0}));
  }
}

TEST(TransparentDraw, KeyNoneMakesEveryPixelOpaque) {
  const Pixels picture{kWhite, kRed, kWhite, kWhite, kGold, kWhite};
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    SCOPED_TRACE(platform);
    PlatformIdScope scope(platform);
    TBitmap source, dest;
    Fill(source, 3, 2, picture);
    source.SetUseTransparency(true);
    source.SetKeyColor(clNone);
    FillSolid(dest, 3, 2, kNavy);
    dest.Canvas().PaintGraphic(0, 0, &source);
    EXPECT_EQ(ColorsOf(dest), picture);
  }
}

// The single masked transfer and the four transfers agree, pixel for pixel,
// wherever the image lands, partly outside the destination included.
TEST(TransparentDraw, BothPathsGiveTheSamePixelsAtEqualSize) {
  std::mt19937 random(20240611);
  const TPoint places[] = {{0, 0}, {3, 2}, {-4, 5}, {9, -3}};
  for (int round = 0; round < 12; ++round) {
    const std::int32_t width = 1 + std::int32_t(random() % 13), height = 1 + std::int32_t(random() % 9);
    const std::int32_t destWidth = 15, destHeight = 11;
    Pixels picture, background;
    for (std::int32_t i = 0; i < width * height; ++i) {
      const std::uint32_t fourth = random() & 0xFF000000u;
      picture.push_back(fourth | (random() % 3 == 0 ? kWhite : random() & 0xFFFFFF));
    }
    for (std::int32_t i = 0; i < destWidth * destHeight; ++i) background.push_back(random() & 0xFFFFFF);
    const TPoint at = places[round % 4];
    SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << at.x << "," << at.y);

    Pixels results[2];
    int index = 0;
    for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
      PlatformIdScope scope(platform);
      TBitmap source, dest;
      Fill(source, width, height, picture);
      source.SetUseTransparency(true);
      source.SetKeyColor(clWhite);
      Fill(dest, destWidth, destHeight, background);
      dest.Canvas().PaintGraphic(at.x, at.y, &source);
      results[index++] = ColorsOf(dest);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], Overlay(background, destWidth, picture, width, height, at.x, at.y, kWhite));
  }
}

// A 1-bit section whose table is not black and white: 8 x 2, entry 0 white
// (the key), entry 1 gold, columns alternating.
void FillOneBit(TBitmap& bitmap) {
  struct {
    gdi::BITMAPINFOHEADER header;
    gdi::RGBQUAD colors[2];
  } info{};
  info.header.biSize = sizeof(gdi::BITMAPINFOHEADER);
  info.header.biWidth = 8;
  info.header.biHeight = 2;
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.colors[0] = {0xFF, 0xFF, 0xFF, 0};
  info.colors[1] = {0x00, 0xA0, 0xC0, 0};
  void* bits = nullptr;
  const gdi::HBITMAP section = gdi::CreateDIBSection({}, reinterpret_cast<const gdi::BITMAPINFO*>(&info),
                                                     gdi::DIB_RGB_COLORS, &bits, {}, 0);
  ASSERT_TRUE(section);
  static_cast<std::uint8_t*>(bits)[0] = 0x55;  // rows are 4 bytes apart
  static_cast<std::uint8_t*>(bits)[4] = 0x55;
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(section, sizeof record, &record), int(sizeof record));
  bitmap.AttachImage(section, {}, nullptr, false, record);
}

// Both paths draw the table's colours, also where the work bitmap of the four
// transfers is made for a 1-bit section's context, and both leave the
// pixels under the key colour alone, fourth byte included.
TEST(TransparentDraw, OneBitSectionDrawsItsTableColoursOnBothPaths) {
  const std::uint32_t G = kGold, B = 0xAB123456;  // B: background with a fourth byte
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    SCOPED_TRACE(platform);
    PlatformIdScope scope(platform);
    TBitmap source, dest;
    FillOneBit(source);
    source.SetUseTransparency(true);
    source.SetKeyColor(clWhite);
    FillSolid(dest, 8, 2, B);
    dest.Canvas().PaintGraphic(0, 0, &source);
    EXPECT_EQ(PixelsOf(dest), (Pixels{B, G, B, G, B, G, B, G,  //
                                      B, G, B, G, B, G, B, G}));
  }
}

TEST(TransparentDraw, StretchedDrawKeepsTheDestinationUnderKeyBlocks) {
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    SCOPED_TRACE(platform);
    PlatformIdScope scope(platform);
    TBitmap source, dest;
    Fill(source, 2, 2, {kRed, kWhite,  //
                        kWhite, kGold});
    source.SetUseTransparency(true);
    source.SetKeyColor(clWhite);
    FillSolid(dest, 5, 4, kNavy);
    source.Render(dest.Canvas(), {1, 0, 5, 4});
    const std::uint32_t N = kNavy, R = kRed, G = kGold;
    EXPECT_EQ(ColorsOf(dest), (Pixels{N, R, R, N, N,  //
                                      N, R, R, N, N,  //
                                      N, N, N, G, G,  //
                                      N, N, N, G, G}));
  }
}

TEST(TransparentDraw, MaskIsBuiltOnceForAnUnchangedBitmapAndAgainAfterAChange) {
  TBitmap source, dest;
  Fill(source, 2, 1, {kRed, kGold});
  source.SetUseTransparency(true);
  source.SetKeyColor(clWhite);
  FillSolid(dest, 2, 1, kNavy);

  dest.Canvas().PaintGraphic(0, 0, &source);
  const gdi::HBITMAP firstMask = source.SharedImage().MaskBitmap;
  ASSERT_TRUE(firstMask);
  dest.Canvas().PaintGraphic(0, 0, &source);
  EXPECT_EQ(source.SharedImage().MaskBitmap, firstMask);

  source.Canvas().Brush().SetColor(clWhite);
  source.Canvas().FillArea({0, 0, 1, 1});
  EXPECT_FALSE(source.MaskCurrent());
  dest.Canvas().Brush().SetColor(clBlue);
  dest.Canvas().FillArea({0, 0, 2, 1});
  dest.Canvas().PaintGraphic(0, 0, &source);
  EXPECT_NE(source.SharedImage().MaskBitmap, firstMask);
  EXPECT_EQ(ColorsOf(dest), (Pixels{kBlue, kGold}));
}

TEST(TransparentDraw, BitmapWithoutAMaskRaisesInsteadOfDrawing) {
  // A storage whose bitmap the device no longer knows: no mask can be made.
  gdi::BITMAPINFO info{};
  info.bmiHeader = {sizeof(gdi::BITMAPINFOHEADER), 2, 2, 1, 32};
  void* bits = nullptr;
  const gdi::HBITMAP gone = gdi::CreateDIBSection({}, &info, gdi::DIB_RGB_COLORS, &bits, {}, 0);
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(gone, sizeof record, &record), int(sizeof record));
  ASSERT_TRUE(gdi::DeleteObject(gone));
  record.dsBm.bmBits = nullptr;
  TBitmap source, dest;
  source.AttachImage(gone, {}, nullptr, false, record);
  source.SetUseTransparency(true);
  source.SetKeyColor(clWhite);
  FillSolid(dest, 2, 2, kNavy);

  EXPECT_THROW(dest.Canvas().PaintGraphic(0, 0, &source), EOutOfResources);
  EXPECT_EQ(ColorsOf(dest), Pixels(4, kNavy));
}

TEST(TransparentDraw, OntoItsOwnCanvas) {
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    SCOPED_TRACE(platform);
    PlatformIdScope scope(platform);
    TBitmap bitmap;
    Fill(bitmap, 3, 1, {kRed, kWhite, kGold});
    bitmap.SetUseTransparency(true);
    bitmap.SetKeyColor(clWhite);
    bitmap.Canvas().PaintGraphic(1, 0, &bitmap);
    EXPECT_EQ(ColorsOf(bitmap), (Pixels{kRed, kRed, kGold}));
  }
}

// Contexts and bitmaps made for a draw are gone when it returns, also when
// it fails; only the cached mask stays.
TEST(TransparentDraw, TemporaryObjectsDoNotOutliveTheDraw) {
  TBitmap source, dest;
  Fill(source, 4, 3, Pixels(12, kGold));
  source.SetUseTransparency(true);
  source.SetKeyColor(clWhite);
  FillSolid(dest, 6, 5, kNavy);
  dest.Canvas().PaintGraphic(0, 0, &source);
  const std::size_t live = gdi::LiveObjectCount();
  for (const std::uint32_t platform : {sys::VER_PLATFORM_WIN32_NT, kNotNT}) {
    PlatformIdScope scope(platform);
    dest.Canvas().PaintGraphic(1, 1, &source);
    source.Render(dest.Canvas(), {0, 0, 6, 5});
    EXPECT_EQ(gdi::LiveObjectCount(), live) << platform;
  }
  gdi::DIBSECTION record{};
  TBitmap broken;
  broken.AttachImage(gdi::HBITMAP{0x7FFFFFF0}, {}, nullptr, false, record);
  broken.SetUseTransparency(true);
  broken.SetKeyColor(clWhite);  // no pixel to read, so no context of its own
  EXPECT_THROW(dest.Canvas().PaintGraphic(0, 0, &broken), EOutOfResources);
  EXPECT_EQ(gdi::LiveObjectCount(), live);
}

// ---- What a draw leaves on the destination ----------------------------------------------

TEST(PaintGraphic, LeavesColourOnColourAndTheBrushAndFontColours) {
  struct Case {
    const char* name;
    bool transparent;
    std::uint32_t platform;
  };
  const Case cases[] = {{"opaque", false, sys::VER_PLATFORM_WIN32_NT},
                        {"masked transfer", true, sys::VER_PLATFORM_WIN32_NT},
                        {"four transfers", true, kNotNT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlatformIdScope scope(c.platform);
    TBitmap source, dest;
    Fill(source, 2, 1, {kWhite, kRed});
    source.SetUseTransparency(c.transparent);
    source.SetKeyColor(clWhite);
    FillSolid(dest, 2, 1, kNavy);
    dest.Canvas().Brush().SetColor(clLime);
    dest.Canvas().Font().SetColor(clHighlight);
    ChangeCount changes(dest);

    dest.Canvas().PaintGraphic(0, 0, &source);

    const gdi::HDC context = dest.Canvas().CurrentContext();
    EXPECT_EQ(gdi::GetStretchBltMode(context), gdi::COLORONCOLOR);
    EXPECT_EQ(gdi::GetBkColor(context), ResolveColor(clLime));
    EXPECT_EQ(gdi::GetTextColor(context), ResolveColor(clHighlight));
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(ColorsOf(dest), (Pixels{c.transparent ? kNavy : kWhite, kRed}));
  }
}

TEST(PaintGraphic, OpaqueDrawUsesTheCopyMode) {
  TBitmap source, dest;
  Fill(source, 2, 1, {kWhite, kRed});
  FillSolid(dest, 2, 1, kGold);
  dest.Canvas().CopyMode = static_cast<std::int32_t>(gdi::SRCAND);
  dest.Canvas().PaintGraphic(0, 0, &source);
  EXPECT_EQ(ColorsOf(dest), (Pixels{kGold, kGold & kRed}));
}

TEST(PaintGraphic, NothingOrAnEmptyBitmapChangesNothing) {
  TBitmap empty, dest;
  FillSolid(dest, 2, 1, kNavy);
  TCanvas& canvas = dest.Canvas();
  int before = 0, after = 0;
  canvas.OnBeforeChange = [&](TCanvas*) { ++before; };
  canvas.OnAfterChange = [&](TCanvas*) { ++after; };
  canvas.PaintGraphic(0, 0, nullptr);
  canvas.PaintGraphic(0, 0, &empty);
  EXPECT_EQ(before + after, 0);
  EXPECT_FALSE(canvas.CurrentContext());
}

}  // namespace
