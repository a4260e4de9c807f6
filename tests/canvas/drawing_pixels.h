#pragma once
// Pictures for the drawing tests: 32-bit sections filled from a list of
// pixels, and the pixels read back from a bitmap's memory.
//
// Pixels are listed in device order (row 0 on top) as the 32-bit words of
// memory: 0xAARRGGBB, blue in the lowest byte, AA the fourth byte. A TColor
// has red in the lowest byte instead; Rgb() turns one into the other.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bleedborder/core/color.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/process.h"

using namespace bleedborder;

namespace drawing_test {

using Pixels = std::vector<std::uint32_t>;

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00,
                        kBlue = 0x0000FF, kYellow = 0xFFFF00, kCyan = 0x00FFFF;

// The memory word of a TColor.
constexpr std::uint32_t Rgb(TColor color) {
  const auto c = static_cast<std::uint32_t>(color);
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// Gives bitmap a bottom-up 32-bit section of width x height holding pixels.
inline void Fill(TBitmap& bitmap, std::int32_t width, std::int32_t height, const Pixels& pixels) {
  ASSERT_EQ(pixels.size(), std::size_t(width) * std::size_t(height));
  gdi::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(gdi::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const gdi::HBITMAP section = gdi::CreateDIBSection({}, &info, gdi::DIB_RGB_COLORS, &bits, {}, 0);
  ASSERT_TRUE(section);
  for (std::int32_t y = 0; y < height; ++y) {
    std::memcpy(static_cast<std::uint8_t*>(bits) + std::size_t(height - 1 - y) * std::size_t(width) * 4,
                &pixels[std::size_t(y) * std::size_t(width)], std::size_t(width) * 4);
  }
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(section, sizeof record, &record), int(sizeof record));
  bitmap.AttachImage(section, {}, nullptr, false, record);
}

inline void FillSolid(TBitmap& bitmap, std::int32_t width, std::int32_t height, std::uint32_t pixel) {
  Fill(bitmap, width, height, Pixels(std::size_t(width) * std::size_t(height), pixel));
}

// The bitmap's pixels as its section holds them, all 32 bits.
inline Pixels PixelsOf(const TBitmap& bitmap) {
  const gdi::DIBSECTION& section = bitmap.SharedImage().Section;
  const std::int32_t width = section.dsBm.bmWidth, height = section.dsBm.bmHeight;
  const bool topDown = section.dsBmih.biHeight < 0;
  Pixels pixels(std::size_t(width) * std::size_t(height));
  if (section.dsBm.bmBitsPixel != 32 || !section.dsBm.bmBits) {
    ADD_FAILURE() << "not a 32-bit section";
    return pixels;
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t row = topDown ? y : height - 1 - y;
    std::memcpy(&pixels[std::size_t(y) * std::size_t(width)],
                static_cast<const std::uint8_t*>(section.dsBm.bmBits) + std::size_t(row) * section.dsBm.bmWidthBytes,
                std::size_t(width) * 4);
  }
  return pixels;
}

// The colour bytes only: what a raster operation writes into the fourth byte
// is the device's business.
inline Pixels ColorsOf(const TBitmap& bitmap) {
  Pixels pixels = PixelsOf(bitmap);
  for (auto& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// Sets the platform identifier for one test and puts the old one back.
class PlatformIdScope {
 public:
  explicit PlatformIdScope(std::uint32_t id) : saved_(sys::PlatformId) { sys::PlatformId = id; }
  PlatformIdScope(const PlatformIdScope&) = delete;
  PlatformIdScope& operator=(const PlatformIdScope&) = delete;
  ~PlatformIdScope() { sys::PlatformId = saved_; }

 private:
  std::uint32_t saved_;
};

// Counts the change notifications of a graphic.
struct ChangeCount {
  explicit ChangeCount(TGraphic& graphic) {
    graphic.ChangeHandler = [this](TGraphic*) { ++count; };
  }
  int count = 0;
};

}  // namespace drawing_test
