// The rows view of a bitmap's pixel memory: which memory row is a device
// row, the row size and the total size, for sections of either row order
// and for device bitmaps, and nothing where there is no usable memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "bleedborder/image/pixel_rows.h"
#include "tests/image/bitmap_test_support.h"

using namespace bleedborder;

namespace {

using namespace bitmap_test;

std::optional<TPixelRows> RowsOf(TBitmap& bitmap) {
  TLibraryHold hold;
  return ImageRows(bitmap.SharedImage());
}

// Each section is painted white with its top row black through the device,
// so the view must find the black row at device row 0 whichever order the
// memory holds.
TEST(PixelRows, SectionRowsAreInDeviceOrder) {
  struct Case {
    std::int32_t width, height;  // a negative height makes a top-down section
    std::uint16_t bits;
    std::int64_t stride;
  };
  const Case cases[] = {
      {5, 3, 24, 16},   // padded to 32 bits
      {5, -3, 32, 20},  //
      {33, 2, 1, 8},    // 33 bits take five bytes, padded to eight
      {7, -4, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " at " << c.bits << " bits");
    const std::int32_t rowCount = c.height < 0 ? -c.height : c.height;
    const bool topDown = c.height < 0;
    SectionShape shape{c.width, c.height, c.bits};
    if (c.bits == 1) shape.table = {{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}};
    void* memory = nullptr;
    const gdi::HBITMAP section = MakeSection(shape, &memory);
    ASSERT_TRUE(section);
    {
      gdi::MemoryDC context;
      gdi::Selection selected(context.Get(), section);
      gdi::PatBlt(context.Get(), 0, 0, c.width, rowCount, gdi::WHITENESS);
      gdi::PatBlt(context.Get(), 0, 0, c.width, 1, gdi::BLACKNESS);
    }
    TBitmap bitmap;
    AttachSection(bitmap, section);

    const std::optional<TPixelRows> rows = RowsOf(bitmap);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->bits, memory);
    EXPECT_EQ(rows->width, c.width);
    EXPECT_EQ(rows->height, rowCount);
    EXPECT_EQ(rows->bitsPerPixel, c.bits);
    EXPECT_EQ(rows->stride, c.stride);
    EXPECT_EQ(rows->topDown, topDown);
    EXPECT_EQ(rows->Bytes(), c.stride * rowCount);
    for (std::int32_t y = 0; y < rowCount; ++y) EXPECT_EQ(rows->DeviceRow(rows->DeviceRow(y)), y);
    // The first pixel's highest bit: blue of a true-colour pixel, the
    // pixel itself at 1 bit.
    EXPECT_EQ(rows->Row(0)[0] & 0x80, 0) << "the top row is black";
    EXPECT_NE(rows->Row(rowCount - 1)[0] & 0x80, 0) << "the bottom row is white";
    EXPECT_EQ(rows->Row(0), static_cast<std::uint8_t*>(memory) + (topDown ? 0 : (rowCount - 1) * c.stride));

    const std::optional<TPixelRows> described = SectionRows(Describe(section));
    ASSERT_TRUE(described);
    EXPECT_EQ(described->Row(0), rows->Row(0));
  }
}

TEST(PixelRows, DeviceBitmapRowsAreItsWordsTopFirst) {
  const std::uint32_t given[] = {0x102030, 0xFFFFFF, 0x405060, 0x000001, 0xABCDEF, 0x00FF00};
  const gdi::HBITMAP device = gdi::CreateBitmap(3, 2, 1, 32, given);
  ASSERT_TRUE(device);
  TBitmap bitmap;
  bitmap.AttachImage(device, {}, nullptr, false, Describe(device));

  const std::optional<TPixelRows> rows = RowsOf(bitmap);
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->width, 3);
  EXPECT_EQ(rows->height, 2);
  EXPECT_EQ(rows->bitsPerPixel, 32);
  EXPECT_EQ(rows->stride, 12);
  EXPECT_TRUE(rows->topDown);
  EXPECT_EQ(rows->Bytes(), 24);
  std::uint32_t second[3];
  std::memcpy(second, rows->Row(1), sizeof second);
  EXPECT_EQ(second[0], given[3]);
  EXPECT_EQ(second[2], given[5]);
}

// Records as a bitmap may hold them: the view is refused exactly where a
// reader of its rows would go out of the memory or find none.
TEST(PixelRows, NothingWithoutUsablePixelMemory) {
  std::uint8_t memory[64] = {};
  struct Case {
    const char* what;
    std::int32_t width, height, stride;
    std::uint16_t bits;
    bool hasMemory;
    bool shown;
  };
  const Case cases[] = {
      {"a header without memory", 4, 10, 16, 32, false, false},
      {"no columns", 0, 2, 4, 32, true, false},
      {"no rows", 4, 0, 16, 32, true, false},
      {"a negative row count", 4, -2, 16, 32, true, false},
      {"a stride shorter than a row of 33 bits", 33, 2, 4, 1, true, false},
      {"a stride just holding a row of 33 bits", 33, 2, 5, 1, true, true},
      {"a stride shorter than a row of 24-bit pixels", 3, 2, 8, 24, true, false},
  };
  for (const Case& c : cases) {
    gdi::DIBSECTION record{};
    record.dsBm.bmWidth = c.width;
    record.dsBm.bmHeight = c.height;
    record.dsBm.bmWidthBytes = c.stride;
    record.dsBm.bmBitsPixel = c.bits;
    record.dsBm.bmBits = c.hasMemory ? memory : nullptr;
    record.dsBmih.biSize = sizeof(gdi::BITMAPINFOHEADER);
    record.dsBmih.biWidth = c.width;
    record.dsBmih.biHeight = c.height;
    record.dsBmih.biBitCount = c.bits;
    EXPECT_EQ(SectionRows(record).has_value(), c.shown) << c.what;
  }

  TBitmap empty;
  EXPECT_FALSE(RowsOf(empty)) << "an empty bitmap";
  TBitmap mono;
  const gdi::HBITMAP monoDevice = gdi::CreateBitmap(8, 2, 1, 1, nullptr);
  mono.AttachImage(monoDevice, {}, nullptr, false, Describe(monoDevice));
  EXPECT_FALSE(RowsOf(mono)) << "a monochrome device bitmap: its bits have no colours";
}

}  // namespace
