// Header helpers: row strides, colour counts, info headers and their sizes,
// palettes from colour tables.
#include <gtest/gtest.h>

#include <limits>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/dib.h"
#include "tests/image/bitmap_test_support.h"

using namespace bleedborder;

namespace {

using namespace bitmap_test;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(Dib, RowStrideAndTableColorCount) {
  struct Stride {
    std::int32_t pixels, bits, bytes;
  };
  for (const Stride& s : {Stride{1, 24, 4}, Stride{3, 24, 12}, Stride{5, 1, 4}, Stride{33, 1, 8}, Stride{0, 32, 0},
                          Stride{7, 4, 4}, Stride{kMax / 32, 32, (kMax / 32) * 4}}) {
    EXPECT_EQ(RowStride(s.pixels, s.bits, 32), s.bytes) << s.pixels << " x " << s.bits;
  }
  struct Count {
    std::uint16_t bits;
    std::int32_t entries;
  };
  for (const Count& c : {Count{1, 2}, Count{4, 16}, Count{8, 256}, Count{0, 0}, Count{2, 0}, Count{16, 0},
                         Count{24, 0}, Count{32, 0}}) {
    EXPECT_EQ(TableColorCount(c.bits), c.entries) << c.bits;
  }
}

TEST(Dib, SizesBeyond32BitsAreRefusedNotWrapped) {
  EXPECT_THROW(RowStride(kMax, 32, 32), EOutOfResources);
  EXPECT_EQ(RowStride(kMax / 8, 24, 32), 805306368);  // the bit count alone passes 32 bits
  EXPECT_EQ(CheckedImageBytes(10, -7, 32), 280);  // top-down counts its rows
  EXPECT_THROW(CheckedImageBytes(1 << 15, 1 << 15, 32), EOutOfResources);
  EXPECT_THROW(CheckedImageBytes(1, std::numeric_limits<std::int32_t>::min(), 8), EOutOfResources);
  EXPECT_THROW(CheckedImageBytes(-1, 1, 8), EOutOfResources);
}

TEST(Dib, InfoHeaderFollowsTheColourCount) {
  const gdi::OwnedObject<gdi::HBITMAP> section(MakeSection({5, -3, 32}));
  struct Case {
    std::int32_t colors;
    std::uint16_t bits;
    std::uint32_t clrUsed;
    std::uint32_t sizeImage;
  };
  const Case cases[] = {
      {0, 32, 0, 60},     // the handle's own depth
      {2, 1, 0, 60},      // one bit, colour count as reported; size as reported
      {3, 4, 3, 60},      {16, 4, 16, 60}, {17, 8, 17, 60}, {256, 8, 256, 60},
      {257, 32, 0, 60},
  };
  for (const Case& c : cases) {
    const gdi::BITMAPINFOHEADER header = BuildInfoHeader(section.Get(), c.colors);
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 5);
    EXPECT_EQ(header.biHeight, -3);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, c.bits) << c.colors;
    EXPECT_EQ(header.biClrUsed, c.clrUsed) << c.colors;
    EXPECT_EQ(header.biSizeImage, c.sizeImage) << c.colors;
  }

  // A device bitmap has no header of its own: one is made, sized by the
  // requested bit count.
  const gdi::OwnedObject<gdi::HBITMAP> device(gdi::CreateBitmap(9, 2, 1, 1, nullptr));
  const gdi::BITMAPINFOHEADER header = BuildInfoHeader(device.Get(), 256);
  EXPECT_EQ(header.biBitCount, 8);
  EXPECT_EQ(header.biHeight, 2);
  EXPECT_EQ(header.biSizeImage, 24u);

  EXPECT_THROW(BuildInfoHeader(gdi::HBITMAP{}, 0), EInvalidGraphic);
}

TEST(Dib, SizesOfHeaderTableAndPixels) {
  struct Case {
    SectionShape shape;
    std::int32_t headerBytes, pixelBytes;
  };
  const Case cases[] = {
      {{2, 2, 8, gdi::BI_RGB, {}, std::vector<gdi::RGBQUAD>(256)}, 1064, 8},
      {{2, 2, 8, gdi::BI_RGB, {}, std::vector<gdi::RGBQUAD>(5)}, 60, 8},
      {{2, 2, 32}, 40, 16},
      {{2, 2, 16, gdi::BI_BITFIELDS, {0xF800, 0x7E0, 0x1F}, {}}, 52, 8},
  };
  for (const Case& c : cases) {
    const gdi::OwnedObject<gdi::HBITMAP> section(MakeSection(c.shape));
    const TDibSizes sizes = DibSizes(section.Get(), 0);
    EXPECT_EQ(sizes.headerBytes, c.headerBytes) << c.shape.bitCount;
    EXPECT_EQ(sizes.pixelBytes, c.pixelBytes) << c.shape.bitCount;
  }
}

TEST(Dib, PaletteFromTableConvertsEntries) {
  EXPECT_FALSE(PaletteFromTable({}, nullptr, 0));
  const gdi::RGBQUAD entries[2] = {{0x10, 0x20, 0x30, 0x99}, {0x40, 0x50, 0x60, 0}};
  const gdi::OwnedObject<gdi::HPALETTE> palette(PaletteFromTable({}, entries, 2));
  ASSERT_TRUE(palette);
  gdi::PALETTEENTRY read[2];
  ASSERT_EQ(gdi::GetPaletteEntries(palette.Get(), 0, 2, read), 2u);
  EXPECT_EQ(read[0].peRed, 0x30);
  EXPECT_EQ(read[0].peBlue, 0x10);
  EXPECT_EQ(read[0].peFlags, 0);

  // From a section: its own table, whatever count is passed.
  const gdi::OwnedObject<gdi::HBITMAP> section(
      MakeSection({1, 1, 4, gdi::BI_RGB, {}, std::vector<gdi::RGBQUAD>(16, gdi::RGBQUAD{1, 2, 3, 0})}));
  const gdi::OwnedObject<gdi::HPALETTE> fromSection(PaletteFromTable(section.Get(), nullptr, 99));
  ASSERT_TRUE(fromSection);
  gdi::PALETTEENTRY last;
  EXPECT_EQ(gdi::GetPaletteEntries(fromSection.Get(), 15, 1, &last), 1u);
  EXPECT_EQ(last.peRed, 3);

  const gdi::OwnedObject<gdi::HBITMAP> trueColor(MakeSection({1, 1, 24}));
  EXPECT_FALSE(PaletteFromTable(trueColor.Get(), nullptr, 0));
}

}  // namespace
