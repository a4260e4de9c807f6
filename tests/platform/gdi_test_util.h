#pragma once
// Small helpers for the raster device tests: sections with a known format,
// memory contexts holding them, pixel access by device coordinates.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bleedborder/platform/gdi.h"

using namespace bleedborder;

namespace gditest {

using namespace gdi;

// A BITMAPINFO with room for masks and a full colour table.
struct Info {
  BITMAPINFOHEADER header;
  std::uint8_t rest[12 + 256 * 4] = {};
  BITMAPINFO* get() { return reinterpret_cast<BITMAPINFO*>(this); }
  RGBQUAD* colors() { return reinterpret_cast<RGBQUAD*>(rest); }
};

inline Info MakeInfo(int width, int height, int bits, DWORD compression = BI_RGB) {
  Info info;
  info.header.biSize = 40;
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = compression;
  if (bits == 1) info.colors()[1] = {255, 255, 255, 0};  // black and white
  return info;
}

// A section selected into its own memory context; both go on destruction.
class Canvas {
 public:
  Canvas(Info info, void** bitsOut = nullptr) {
    bitmap_ = CreateDIBSection(HDC{}, info.get(), DIB_RGB_COLORS, &bits_, sys::HANDLE{0}, 0);
    EXPECT_TRUE(bitmap_);
    Attach();
    if (bitsOut) *bitsOut = bits_;
  }
  explicit Canvas(HBITMAP bitmap) : bitmap_(bitmap) { Attach(); }
  Canvas(int width, int height, int bits = 32) : Canvas(MakeInfo(width, height, bits)) {}
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }
  std::uint8_t* bits() const { return static_cast<std::uint8_t*>(bits_); }
  DIBSECTION section() const {
    DIBSECTION ds;
    GetObjectA(bitmap_, sizeof ds, &ds);
    return ds;
  }
  // The memory row of device row y.
  std::uint8_t* row(int y) const {
    const DIBSECTION ds = section();
    const int memoryRow = ds.dsBmih.biHeight > 0 ? ds.dsBm.bmHeight - 1 - y : y;
    return bits() + static_cast<std::size_t>(memoryRow) * static_cast<std::size_t>(ds.dsBm.bmWidthBytes);
  }
  std::uint32_t& pixel32(int x, int y) const { return reinterpret_cast<std::uint32_t*>(row(y))[x]; }
  // Fills a 32-bit canvas from rows of 0x00RRGGBB values, top row first.
  void Fill32(const std::vector<std::vector<std::uint32_t>>& rows) const {
    for (std::size_t y = 0; y < rows.size(); ++y)
      for (std::size_t x = 0; x < rows[y].size(); ++x) pixel32(static_cast<int>(x), static_cast<int>(y)) = rows[y][x];
  }
  std::vector<std::vector<std::uint32_t>> Rows32() const {
    const DIBSECTION ds = section();
    std::vector<std::vector<std::uint32_t>> rows(static_cast<std::size_t>(ds.dsBm.bmHeight));
    for (int y = 0; y < ds.dsBm.bmHeight; ++y)
      for (int x = 0; x < ds.dsBm.bmWidth; ++x) rows[static_cast<std::size_t>(y)].push_back(pixel32(x, y));
    return rows;
  }

 private:
  void Attach() {
    dc_ = CreateCompatibleDC(HDC{});
    old_ = SelectObject(dc_, bitmap_);
    EXPECT_TRUE(old_);
  }
  HBITMAP bitmap_;
  void* bits_ = nullptr;
  HDC dc_;
  HGDIOBJ old_;
};

// Checks that a test leaves no device object behind.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { live_ = LiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(LiveObjectCount(), live_) << "device objects leaked"; }

 private:
  std::size_t live_ = 0;
};

}  // namespace gditest
