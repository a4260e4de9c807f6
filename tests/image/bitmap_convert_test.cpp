// Depth, size, kind and palette writes of a bitmap.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

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

std::vector<gdi::COLORREF> Repeat(gdi::COLORREF color, std::size_t count) { return std::vector<gdi::COLORREF>(count, color); }

std::vector<gdi::RGBQUAD> ColorTable(const gdi::HBITMAP section) {
  gdi::MemoryDC context;
  gdi::Selection selected(context.Get(), section);
  std::vector<gdi::RGBQUAD> table(256);
  table.resize(gdi::GetDIBColorTable(context.Get(), 0, 256, table.data()));
  return table;
}

bool SameColor(const gdi::RGBQUAD& quad, const gdi::PALETTEENTRY& entry) {
  return quad.rgbRed == entry.peRed && quad.rgbGreen == entry.peGreen && quad.rgbBlue == entry.peBlue;
}

TEST(BitmapConvert, EmptyBitmapGivenDepthThenSizeBecomesWhiteSection) {
  using Step = std::function<void(TBitmap&)>;
  const Step depth = [](TBitmap& b) { b.SetDepth(TPixelDepth::pd32Bit); };
  const Step width = [](TBitmap& b) { b.SetWidth(10); };
  const Step height = [](TBitmap& b) { b.SetHeight(7); };
  struct State {
    bool empty;
    TBitmapKind kind;
    TPixelDepth depth;
    std::int32_t width, height;
  };
  struct Order {
    std::string name;
    Step steps[3];
    State after[3];
  };
  const Order orders[] = {
      {"depth, width, height",
       {depth, width, height},
       {{true, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 0, 0},
        {true, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 10, 0},
        {false, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 10, 7}}},
      {"depth, height, width",
       {depth, height, width},
       {{true, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 0, 0},
        {true, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 0, 7},
        {false, TBitmapKind::bkDIB, TPixelDepth::pd32Bit, 10, 7}}},
  };
  for (const Order& order : orders) {
    SCOPED_TRACE(order.name);
    TBitmap bitmap;
    ChangeCounter changes(bitmap);
    for (int i = 0; i < 3; ++i) {
      order.steps[i](bitmap);
      const State& want = order.after[i];
      EXPECT_EQ(bitmap.IsEmpty(), want.empty) << "step " << i;
      EXPECT_EQ(bitmap.Kind(), want.kind) << "step " << i;
      EXPECT_EQ(bitmap.Depth(), want.depth) << "step " << i;
      EXPECT_EQ(bitmap.Width(), want.width) << "step " << i;
      EXPECT_EQ(bitmap.Height(), want.height) << "step " << i;
      EXPECT_EQ(changes.count, i + 1);
    }
    const gdi::DIBSECTION& section = bitmap.SharedImage().Section;
    EXPECT_EQ(section.dsBmih.biSize, 40u);
    EXPECT_EQ(section.dsBmih.biHeight, 7);  // bottom-up
    EXPECT_EQ(section.dsBmih.biCompression, gdi::BI_RGB);
    EXPECT_EQ(section.dsBmih.biSizeImage, 280u);
    EXPECT_EQ(section.dsBmih.biXPelsPerMeter, 0);
    ASSERT_NE(section.dsBm.bmBits, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    for (int i = 0; i < 70; ++i) {
      ASSERT_EQ(bytes[4 * i], 0xFF) << i;
      ASSERT_EQ(bytes[4 * i + 1], 0xFF) << i;
      ASSERT_EQ(bytes[4 * i + 2], 0xFF) << i;
    }
  }
}

TEST(BitmapConvert, DepthChangesKeepEveryPixelsColour) {
  const std::vector<gdi::RGBQUAD> table = {{0xFF, 0, 0, 0}, {0, 0xFF, 0, 0}, {0, 0, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0}};
  struct Case {
    std::string name;
    std::function<gdi::HBITMAP()> make;
    std::vector<gdi::COLORREF> pixels;
  };
  const Case cases[] = {
      {"24 bits, bottom-up",
       [] { return MakeTrueColorSection(24, 2, 2, {kRed, 0x102030, kBlue, kGreen}); },
       {kRed, 0x102030, kBlue, kGreen}},
      {"24 bits, top-down",
       [] { return MakeTrueColorSection(24, 2, 2, {kRed, 0x102030, kBlue, kGreen}, false); },
       {kRed, 0x102030, kBlue, kGreen}},
      {"8 bits", [&] {
         void* bits = nullptr;
         const gdi::HBITMAP h = MakeSection({2, 2, 8, gdi::BI_RGB, {}, table}, &bits);
         const std::uint8_t rows[8] = {2, 3, 0, 0, 0, 2, 0, 0};  // bottom row first
         std::memcpy(bits, rows, sizeof rows);
         return h;
       },
       {kBlue, kRed, kRed, kWhite}},
      {"4 bits", [&] {
         void* bits = nullptr;
         const gdi::HBITMAP h = MakeSection({2, 2, 4, gdi::BI_RGB, {}, table}, &bits);
         const std::uint8_t rows[8] = {0x30, 0, 0, 0, 0x12, 0, 0, 0};
         std::memcpy(bits, rows, sizeof rows);
         return h;
       },
       {kGreen, kRed, kWhite, kBlue}},
      {"1 bit", [&] {
         void* bits = nullptr;
         const gdi::HBITMAP h = MakeSection({2, 2, 1, gdi::BI_RGB, {}, {table[0], table[2]}}, &bits);
         const std::uint8_t rows[8] = {0x40, 0, 0, 0, 0x80, 0, 0, 0};
         std::memcpy(bits, rows, sizeof rows);
         return h;
       },
       {kRed, kBlue, kBlue, kRed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    AttachSection(bitmap, c.make());
    ASSERT_EQ(PixelsOf(bitmap), c.pixels);
    bitmap.SetDepth(TPixelDepth::pd32Bit);
    EXPECT_EQ(bitmap.Depth(), TPixelDepth::pd32Bit);
    EXPECT_EQ(bitmap.SharedImage().Section.dsBmih.biHeight, 2);  // bottom-up now
    EXPECT_EQ(PixelsOf(bitmap), c.pixels);
  }
}

TEST(BitmapConvert, IndexedDepthsTakeTheirColourTables) {
  TBitmap four;
  four.SetDepth(TPixelDepth::pd4Bit);
  four.SetWidth(3);
  four.SetHeight(2);
  EXPECT_EQ(four.Depth(), TPixelDepth::pd4Bit);
  EXPECT_EQ(four.PaletteHandle(), StockPalette16);
  EXPECT_TRUE(four.PaletteChanged());
  const std::vector<gdi::RGBQUAD> fourTable = ColorTable(four.SharedImage().SectionHandle);
  ASSERT_EQ(fourTable.size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(SameColor(fourTable[i], StockColors16[i])) << i;
  EXPECT_EQ(PixelsOf(four), Repeat(kWhite, 6));

  TBitmap one;
  one.SetWidth(2);
  one.SetHeight(2);
  one.SetDepth(TPixelDepth::pd1Bit);
  const std::vector<gdi::RGBQUAD> oneTable = ColorTable(one.SharedImage().SectionHandle);
  ASSERT_EQ(oneTable.size(), 2u);
  EXPECT_EQ(oneTable[0].rgbRed, 0);
  EXPECT_EQ(oneTable[1].rgbRed, 0xFF);

  TBitmap eight;
  AttachSection(eight, MakeSection32(1, 1, {kRed}));
  eight.SetDepth(TPixelDepth::pd8Bit);
  EXPECT_EQ(eight.Depth(), TPixelDepth::pd8Bit);
  EXPECT_EQ(ColorTable(eight.SharedImage().SectionHandle).size(), 256u);
  EXPECT_EQ(PixelOf(eight, 0, 0), kRed);  // the halftone palette holds pure red
}

TEST(BitmapConvert, SixteenBitDepthsAndInvalidDepths) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection32(1, 1, {kWhite}));
  bitmap.SetDepth(TPixelDepth::pd16Bit);
  EXPECT_EQ(bitmap.Depth(), TPixelDepth::pd16Bit);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBmih.biCompression, gdi::BI_BITFIELDS);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBitfields[0], 0xF800u);
  bitmap.SetDepth(TPixelDepth::pd15Bit);
  EXPECT_EQ(bitmap.Depth(), TPixelDepth::pd15Bit);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBmih.biBitCount, 16);

  TBitmapImage* before = &bitmap.SharedImage();
  try {
    bitmap.SetDepth(TPixelDepth::pdCustom);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Invalid pixel format");
  }
  EXPECT_EQ(&bitmap.SharedImage(), before);

  bitmap.SetDepth(TPixelDepth::pdDevice);
  EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDDB);
  EXPECT_EQ(PixelOf(bitmap, 0, 0), kWhite);
}

TEST(BitmapConvert, SizeChangesKeepTheTopLeftAndFillTheRest) {
  const gdi::COLORREF o = kWhite;
  struct Case {
    std::string name;
    bool width;
    std::int32_t value;
    std::vector<gdi::COLORREF> pixels;
  };
  // The picture is 2 x 2: red, green / blue, black.
  const Case cases[] = {
      {"wider", true, 3, {kRed, kGreen, o, kBlue, kBlack, o}},
      {"narrower", true, 1, {kRed, kBlue}},
      {"taller", false, 3, {kRed, kGreen, kBlue, kBlack, o, o}},
      {"shorter", false, 1, {kRed, kGreen}},
  };
  for (const Case& c : cases) {
    for (const bool topDown : {false, true}) {
      SCOPED_TRACE(c.name + (topDown ? ", top-down" : ", bottom-up"));
      TBitmap bitmap;
      AttachSection(bitmap, MakeSection32(2, 2, {kRed, kGreen, kBlue, kBlack}, !topDown));
      ChangeCounter changes(bitmap);
      if (c.width) {
        bitmap.SetWidth(c.value);
      } else {
        bitmap.SetHeight(c.value);
      }
      EXPECT_EQ(changes.count, 1);
      EXPECT_EQ(bitmap.Depth(), TPixelDepth::pd32Bit);
      EXPECT_EQ(PixelsOf(bitmap), c.pixels);
    }
  }
}

TEST(BitmapConvert, SizingUnfilledGivesAnEmptyDeepBitmapASectionAndSizesAnyOtherAsUsual) {
  // Unfilled: a 32-bit or 24-bit section of the size whose pixels are left
  // as the platform gives them (0). A bitmap that has pixels, or an indexed
  // one, is sized as SetWidth and SetHeight size it: kept and filled white.
  struct Case {
    std::string name;
    TPixelDepth depth;
    bool withPicture;
    std::vector<gdi::COLORREF> pixels;
  };
  const gdi::COLORREF o = kWhite;
  const Case cases[] = {
      {"empty, 32 bits", TPixelDepth::pd32Bit, false, Repeat(0, 6)},
      {"empty, 24 bits", TPixelDepth::pd24Bit, false, Repeat(0, 6)},
      {"empty, 8 bits", TPixelDepth::pd8Bit, false, Repeat(o, 6)},
      {"with a picture", TPixelDepth::pd32Bit, true, {kRed, kGreen, o, kBlue, kBlack, o}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    if (c.withPicture) AttachSection(bitmap, MakeSection32(2, 2, {kRed, kGreen, kBlue, kBlack}, true));
    bitmap.SetDepth(c.depth);
    bitmap.SetSizeUnfilled(3, 2);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(bitmap.Depth(), c.depth);
    EXPECT_EQ(PixelsOf(bitmap), c.pixels);
  }
}

TEST(BitmapConvert, NewAreaTakesTheCanvasBrush) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection32(1, 1, {kBlue}));
  bitmap.Canvas().Brush().SetColor(clRed);
  bitmap.SetWidth(2);
  EXPECT_EQ(PixelsOf(bitmap), (std::vector<gdi::COLORREF>{kBlue, kRed}));
}

TEST(BitmapConvert, WidthZeroEmptiesAndWidthBackGivesAFreshImage) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection32(2, 1, {kRed, kBlue}));
  bitmap.SetWidth(0);
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 1);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBm.bmBits, nullptr);  // nothing points at freed pixels
  bitmap.SetWidth(2);
  EXPECT_EQ(PixelsOf(bitmap), Repeat(kWhite, 2));

  bitmap.Canvas().Brush().SetColor(clLime);
  bitmap.SetWidth(0);
  bitmap.SetWidth(2);
  EXPECT_EQ(PixelsOf(bitmap), Repeat(kGreen, 2));
}

TEST(BitmapConvert, WritingThePresentValueDoesNothing) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection({3, 2, 8, gdi::BI_RGB, {}, {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}}}));
  const gdi::HPALETTE palette = bitmap.PaletteHandle();
  const std::function<void(TBitmap&)> writes[] = {
      [](TBitmap& b) { b.SetDepth(TPixelDepth::pd8Bit); },
      [](TBitmap& b) { b.SetWidth(3); },
      [](TBitmap& b) { b.SetHeight(2); },
      [](TBitmap& b) { b.SetKind(TBitmapKind::bkDIB); },
      [palette](TBitmap& b) { b.SetPaletteHandle(palette); },
  };
  ChangeCounter changes(bitmap);
  TBitmapImage* storage = &bitmap.SharedImage();
  for (const auto& write : writes) write(bitmap);
  EXPECT_EQ(changes.count, 0);
  EXPECT_EQ(&bitmap.SharedImage(), storage);
  EXPECT_FALSE(bitmap.IsModified());
}

TEST(BitmapConvert, ChangingOneSharerLeavesTheOther) {
  TBitmap first;
  AttachSection(first, MakeSection32(2, 1, {kRed, kGreen}));
  TBitmap second;
  second.TakeFrom(&first);
  second.SetWidth(3);
  second.SetDepth(TPixelDepth::pd24Bit);
  EXPECT_EQ(first.Width(), 2);
  EXPECT_EQ(first.Depth(), TPixelDepth::pd32Bit);
  EXPECT_EQ(first.SharedImage().ShareCount, 1);
  EXPECT_EQ(PixelsOf(first), (std::vector<gdi::COLORREF>{kRed, kGreen}));
  EXPECT_EQ(PixelsOf(second), (std::vector<gdi::COLORREF>{kRed, kGreen, kWhite}));
}

TEST(BitmapConvert, KindRoundTripKeepsPixels) {
  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "alone");
    TBitmap bitmap;
    AttachSection(bitmap, MakeSection32(2, 1, {kRed, kBlue}));
    TBitmap sharer;
    if (shared) sharer.TakeFrom(&bitmap);
    ChangeCounter changes(bitmap);
    bitmap.SetKind(TBitmapKind::bkDDB);
    EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDDB);
    EXPECT_EQ(bitmap.Depth(), TPixelDepth::pdDevice);
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<gdi::COLORREF>{kRed, kBlue}));
    bitmap.SetKind(TBitmapKind::bkDIB);
    EXPECT_EQ(bitmap.Kind(), TBitmapKind::bkDIB);
    EXPECT_EQ(PixelsOf(bitmap), (std::vector<gdi::COLORREF>{kRed, kBlue}));
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(sharer.Kind(), shared ? TBitmapKind::bkDIB : TBitmapKind::bkDDB);  // an unused sharer is empty
  }
  TBitmap empty;  // no storage: only the header changes, silently
  ChangeCounter changes(empty);
  empty.SetKind(TBitmapKind::bkDIB);
  EXPECT_EQ(empty.Kind(), TBitmapKind::bkDIB);
  EXPECT_EQ(changes.count, 0);
}

TEST(BitmapConvert, PaletteWriteGivesTheSectionThePalettesColours) {
  TBitmap bitmap;
  void* bits = nullptr;
  AttachSection(bitmap, MakeSection({1, 1, 8, gdi::BI_RGB, {}, {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}}}, &bits));
  static_cast<std::uint8_t*>(bits)[0] = 1;
  gdi::LOGPALETTE redWhite;
  redWhite.palNumEntries = 2;
  redWhite.palPalEntry[0] = {0xFF, 0, 0, 0};
  redWhite.palPalEntry[1] = {0xFF, 0xFF, 0xFF, 0};
  const gdi::HPALETTE palette = gdi::CreatePalette(&redWhite);
  ChangeCounter changes(bitmap);
  bitmap.SetPaletteHandle(palette);
  EXPECT_EQ(bitmap.SharedImage().PaletteHandle, palette);  // taken over
  const std::vector<gdi::RGBQUAD> table = ColorTable(bitmap.SharedImage().SectionHandle);
  ASSERT_GE(table.size(), 2u);
  EXPECT_TRUE(SameColor(table[0], redWhite.palPalEntry[0]));
  EXPECT_EQ(PixelOf(bitmap, 0, 0), kWhite);  // the pixel keeps its colour
  EXPECT_TRUE(bitmap.PaletteChanged());
  EXPECT_EQ(changes.count, 1);

  bitmap.SetPaletteHandle({});
  EXPECT_FALSE(bitmap.SharedImage().PaletteHandle);
  EXPECT_EQ(changes.count, 2);
}

// The palette is deleted also while the canvas's context holds it selected:
// the context is released first.
TEST(BitmapConvert, PaletteWriteOfNothingDeletesThePaletteTheCanvasHolds) {
  TBitmap bitmap;
  AttachSection(bitmap, MakeSection({1, 1, 8, gdi::BI_RGB, {}, {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}}}, nullptr));
  const gdi::HPALETTE palette = bitmap.PaletteHandle();
  ASSERT_TRUE(palette);
  ASSERT_TRUE(bitmap.Canvas().DeviceContext());
  ASSERT_EQ(gdi::GetCurrentObject(bitmap.Canvas().DeviceContext(), gdi::ObjectKind::Palette).value, palette.value);
  const std::size_t objects = gdi::LiveObjectCount();
  bitmap.SetPaletteHandle({});
  EXPECT_FALSE(bitmap.SharedImage().PaletteHandle);
  EXPECT_EQ(gdi::GetObjectA(palette, 0, nullptr), 0) << "the palette is gone";
  EXPECT_LT(gdi::LiveObjectCount(), objects);
}

TEST(BitmapConvert, SizesThatDoNotFitFailWithOutOfResources) {
  const std::int32_t huge = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::string name;
    TPixelDepth depth;
    bool width;  // which write fails
    std::int32_t value;
  };
  const Case cases[] = {
      {"negative width", TPixelDepth::pd32Bit, true, -5},
      {"negative height", TPixelDepth::pd32Bit, false, -3},
      {"row bytes beyond 32 bits", TPixelDepth::pd32Bit, true, huge},
      {"total bytes beyond 31 bits", TPixelDepth::pd32Bit, false, 1 << 29},
      {"one-bit total bytes beyond 31 bits", TPixelDepth::pd1Bit, false, 1 << 29},
      {"device bitmap", TPixelDepth::pdDevice, false, 1 << 29},
  };
  const std::size_t objects = gdi::LiveObjectCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TBitmap bitmap;
      AttachSection(bitmap, MakeSection32(2, 1, {kRed, kBlue}));
      bitmap.SetDepth(c.depth);
      TBitmapImage* storage = &bitmap.SharedImage();
      const std::vector<gdi::COLORREF> pixels = PixelsOf(bitmap);
      ChangeCounter changes(bitmap);
      EXPECT_THROW(c.width ? bitmap.SetWidth(c.value) : bitmap.SetHeight(c.value), EOutOfResources);
      EXPECT_EQ(changes.count, 0);
      EXPECT_EQ(&bitmap.SharedImage(), storage);
      EXPECT_EQ(bitmap.Width(), 2);
      EXPECT_EQ(bitmap.Height(), 1);
      EXPECT_EQ(PixelsOf(bitmap), pixels);
    }
    EXPECT_EQ(gdi::LiveObjectCount(), objects);
  }
  // An empty bitmap keeps a width alone; the height that would make the
  // storage too large is refused.
  TBitmap empty;
  empty.SetDepth(TPixelDepth::pd32Bit);
  empty.SetWidth(1 << 16);
  EXPECT_THROW(empty.SetHeight(1 << 16), EOutOfResources);
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(BitmapConvert, DepthChangeDropsResolutionAndSizeChangeKeepsIt) {
  TBitmap bitmap;
  const gdi::HBITMAP section = MakeSection32(1, 1, {kRed});
  gdi::DIBSECTION record = Describe(section);
  record.dsBmih.biXPelsPerMeter = 3780;
  bitmap.AttachImage(section, {}, nullptr, false, record);
  bitmap.SetWidth(2);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBmih.biXPelsPerMeter, 3780);
  bitmap.SetDepth(TPixelDepth::pd24Bit);
  EXPECT_EQ(bitmap.SharedImage().Section.dsBmih.biXPelsPerMeter, 0);
}

}  // namespace
