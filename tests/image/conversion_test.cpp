// Rebuilding bitmaps and the palette routines.
#include <gtest/gtest.h>

#include <cstring>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/image_globals.h"
#include "tests/image/bitmap_test_support.h"

using namespace bleedborder;

namespace {

using namespace bitmap_test;

gdi::HPALETTE MakePalette(std::initializer_list<gdi::PALETTEENTRY> entries) {
  gdi::LOGPALETTE palette;
  palette.palNumEntries = static_cast<gdi::WORD>(entries.size());
  std::copy(entries.begin(), entries.end(), palette.palPalEntry);
  return gdi::CreatePalette(&palette);
}

TEST(Conversion, StockPaletteHoldsTheSixteenColoursOnATrueColourScreen) {
  ASSERT_TRUE(StockPalette16);
  gdi::PALETTEENTRY entries[16];
  ASSERT_EQ(gdi::GetPaletteEntries(StockPalette16, 0, 16, entries), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(std::memcmp(&entries[i], &StockColors16[i], sizeof entries[i]), 0) << i;
  }
  EXPECT_EQ(StockColors16[8].peRed, 0xC0);
  EXPECT_EQ(StockColors16[12].peBlue, 0xFF);
}

TEST(Conversion, PaletteCopiesAndTables) {
  EXPECT_FALSE(DuplicatePalette({}));
  gdi::RGBQUAD table[4]{};
  EXPECT_EQ(TableFromPalette({}, table, 3), 0);

  const gdi::OwnedObject<gdi::HPALETTE> palette(MakePalette({{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}));
  const gdi::OwnedObject<gdi::HPALETTE> copy(DuplicatePalette(palette.Get()));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.Get(), palette.Get());
  gdi::PALETTEENTRY entries[3];
  ASSERT_EQ(gdi::GetPaletteEntries(copy.Get(), 0, 3, entries), 3u);
  EXPECT_EQ(entries[2].peBlue, 9);

  EXPECT_EQ(TableFromPalette(palette.Get(), table, 1), 2);  // entries 0..1 only
  EXPECT_EQ(table[1].rgbRed, 4);
  EXPECT_EQ(table[1].rgbBlue, 6);
  EXPECT_EQ(table[2].rgbRed, 0);
  EXPECT_EQ(TableFromPalette(palette.Get(), table, 255), 3);
}

TEST(Conversion, DefaultMasksOnlyFillMissingBitfieldMasks) {
  struct Case {
    std::uint16_t bits;
    std::uint32_t compression;
    std::uint32_t red;
    std::uint32_t expected[3];
  };
  const Case cases[] = {
      {16, gdi::BI_BITFIELDS, 0, {0xF800, 0x07E0, 0x001F}},
      {32, gdi::BI_BITFIELDS, 0, {0xFF0000, 0x00FF00, 0x0000FF}},
      {32, gdi::BI_BITFIELDS, 0x3FF00000, {0x3FF00000, 0, 0}},  // given masks stay
      {32, gdi::BI_RGB, 0, {0, 0, 0}},
      {24, gdi::BI_BITFIELDS, 0, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    gdi::DIBSECTION record{};
    record.dsBmih.biBitCount = c.bits;
    record.dsBmih.biCompression = c.compression;
    record.dsBitfields[0] = c.red;
    DefaultMasks(record);
    EXPECT_EQ(record.dsBitfields[0], c.expected[0]) << c.bits << "/" << c.compression;
    EXPECT_EQ(record.dsBitfields[1], c.expected[1]);
    EXPECT_EQ(record.dsBitfields[2], c.expected[2]);
  }
}

TEST(Conversion, RebuildWithNothingToMakeTouchesNothing) {
  gdi::DIBSECTION records[2]{};
  records[0].dsBmih.biSize = 40;
  records[0].dsBmih.biWidth = 5;  // height 0
  records[0].dsBm.bmWidth = 9;
  records[1].dsBm.bmHeight = 3;  // no header, width 0
  for (gdi::DIBSECTION& record : records) {
    const gdi::DIBSECTION before = record;
    EXPECT_FALSE(RebuildBitmap({}, {}, {}, record, nullptr));
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  }
}

TEST(Conversion, RebuildRefusesAHandleThePlatformCannotDescribe) {
  gdi::DIBSECTION record{};
  record.dsBmih.biSize = 40;
  record.dsBmih.biWidth = 1;
  record.dsBmih.biHeight = 1;
  record.dsBmih.biBitCount = 32;
  const std::size_t objects = gdi::LiveObjectCount();
  try {
    RebuildBitmap(gdi::HBITMAP{0x7FFFFFF0}, {}, {}, record, nullptr);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Bitmap image is not valid");
  }
  EXPECT_EQ(gdi::LiveObjectCount(), objects);
}

TEST(Conversion, RebuildMakesDeviceBitmapsMonochromeOrLikeTheScreen) {
  struct Case {
    std::uint16_t planes, bits;
    std::uint16_t madeBits;
  };
  const Case cases[] = {{1, 1, 1}, {1, 8, 32}, {0, 0, 32}};
  for (const Case& c : cases) {
    gdi::DIBSECTION record{};
    record.dsBm.bmWidth = 3;
    record.dsBm.bmHeight = 2;
    record.dsBm.bmPlanes = c.planes;
    record.dsBm.bmBitsPixel = c.bits;
    const gdi::OwnedObject<gdi::HBITMAP> made(RebuildBitmap({}, {}, {}, record, nullptr));
    ASSERT_TRUE(made);
    EXPECT_EQ(record.dsBm.bmBitsPixel, c.madeBits);
    EXPECT_EQ(record.dsBm.bmBits, nullptr);
    EXPECT_EQ(record.dsBmih.biSize, 0u);  // only dsBm is refreshed
    EXPECT_EQ(PixelOf(made.Get(), 2, 1), kWhite);
  }
}

TEST(Conversion, RebuildWithACanvasUsesItsBrushAndFontColours) {
  TBitmap owner;
  TBitmapCanvas canvas(&owner);
  canvas.Brush().SetColor(clBlue);
  canvas.Font().SetColor(clRed);

  // Wider: the new column takes the brush.
  const gdi::OwnedObject<gdi::HBITMAP> old(MakeSection32(1, 1, {kGreen}));
  gdi::DIBSECTION record = Describe(old.Get());
  record.dsBm.bmWidth = record.dsBmih.biWidth = 2;
  const gdi::OwnedObject<gdi::HBITMAP> wider(RebuildBitmap(old.Get(), {}, {}, record, &canvas));
  EXPECT_EQ(PixelOf(wider.Get(), 0, 0), kGreen);
  EXPECT_EQ(PixelOf(wider.Get(), 1, 0), kBlue);

  // A monochrome section made wider gets the font and brush colours as its table.
  const gdi::OwnedObject<gdi::HBITMAP> mono(MakeSection({1, 1, 1, gdi::BI_RGB, {}, {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}}}));
  record = Describe(mono.Get());
  record.dsBm.bmWidth = record.dsBmih.biWidth = 2;
  const gdi::OwnedObject<gdi::HBITMAP> monoWider(RebuildBitmap(mono.Get(), {}, {}, record, &canvas));
  gdi::MemoryDC context;
  gdi::Selection selected(context.Get(), monoWider.Get());
  gdi::RGBQUAD table[2];
  ASSERT_EQ(gdi::GetDIBColorTable(context.Get(), 0, 2, table), 2u);
  EXPECT_EQ(table[0].rgbRed, 0xFF);   // font: red
  EXPECT_EQ(table[1].rgbBlue, 0xFF);  // brush: blue
}

TEST(Conversion, SyncSectionColorsCopiesThePaletteIntoAnIndexedSection) {
  const gdi::OwnedObject<gdi::HBITMAP> section(
      MakeSection({1, 1, 8, gdi::BI_RGB, {}, std::vector<gdi::RGBQUAD>(4)}));
  const gdi::OwnedObject<gdi::HPALETTE> palette(MakePalette({{0x11, 0x22, 0x33, 0}, {0x44, 0x55, 0x66, 0}}));
  SyncSectionColors(section.Get(), palette.Get(), Describe(section.Get()));
  gdi::MemoryDC context;
  gdi::Selection selected(context.Get(), section.Get());
  gdi::RGBQUAD table[4];
  ASSERT_EQ(gdi::GetDIBColorTable(context.Get(), 0, 4, table), 4u);
  EXPECT_EQ(table[1].rgbRed, 0x44);
  EXPECT_EQ(table[1].rgbBlue, 0x66);
  EXPECT_EQ(table[2].rgbRed, 0);  // beyond the palette: unchanged
}

}  // namespace
