#pragma once
// Making sections with known pixels and reading pixels back, for the tests of
// the bitmap model and its conversions.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_raii.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace bitmap_test {

// Colours as the platform reports them: red in the lowest byte.
constexpr gdi::COLORREF kWhite = 0xFFFFFF;
constexpr gdi::COLORREF kBlack = 0x000000;
constexpr gdi::COLORREF kRed = 0x0000FF;
constexpr gdi::COLORREF kGreen = 0x00FF00;
constexpr gdi::COLORREF kBlue = 0xFF0000;

// A section description: size, bits, compression, masks and colour table.
struct SectionShape {
  SectionShape(std::int32_t w, std::int32_t h, std::uint16_t bits, std::uint32_t comp = gdi::BI_RGB,
              std::array<std::uint32_t, 3> bitfields = {}, std::vector<gdi::RGBQUAD> colors = {})
      : width(w), height(h), bitCount(bits), compression(comp), masks(bitfields), table(std::move(colors)) {}
  std::int32_t width;
  std::int32_t height;
  std::uint16_t bitCount;
  std::uint32_t compression;
  std::array<std::uint32_t, 3> masks;
  std::vector<gdi::RGBQUAD> table;
};

struct InfoBuffer {
  gdi::BITMAPINFOHEADER header;
  gdi::RGBQUAD colors[256];
};

// A new section of the given description, its pixel memory zero.
inline gdi::HBITMAP MakeSection(const SectionShape& shape, void** bits = nullptr) {
  InfoBuffer info{};
  info.header.biSize = sizeof(gdi::BITMAPINFOHEADER);
  info.header.biWidth = shape.width;
  info.header.biHeight = shape.height;
  info.header.biPlanes = 1;
  info.header.biBitCount = shape.bitCount;
  info.header.biCompression = shape.compression;
  info.header.biClrUsed = static_cast<std::uint32_t>(shape.table.size());
  if (shape.compression == gdi::BI_BITFIELDS) std::memcpy(static_cast<void*>(info.colors), shape.masks.data(), sizeof shape.masks);
  for (std::size_t i = 0; i < shape.table.size(); ++i) info.colors[i] = shape.table[i];
  void* memory = nullptr;
  const gdi::HBITMAP handle = gdi::CreateDIBSection({}, reinterpret_cast<gdi::BITMAPINFO*>(&info),
                                                    gdi::DIB_RGB_COLORS, &memory, sys::HANDLE{0}, 0);
  if (bits) *bits = memory;
  return handle;
}

inline gdi::DIBSECTION Describe(gdi::HBITMAP handle) {
  gdi::DIBSECTION record{};
  gdi::GetObjectA(handle, sizeof record, &record);
  return record;
}

// Gives bitmap the section as its storage, as the reader does.
inline void AttachSection(TBitmap& bitmap, gdi::HBITMAP section, gdi::HPALETTE palette = {}) {
  bitmap.AttachImage(section, palette, nullptr, false, Describe(section));
}

// The pixel at (x, y), top row first, as the platform reads it.
inline gdi::COLORREF PixelOf(gdi::HBITMAP handle, int x, int y) {
  DetachBitmapHandle(handle);
  gdi::MemoryDC context;
  gdi::Selection selected(context.Get(), handle);
  return gdi::GetPixel(context.Get(), x, y);
}

inline gdi::COLORREF PixelOf(TBitmap& bitmap, int x, int y) {
  bitmap.EnsureHandle();
  return PixelOf(bitmap.SharedImage().BitmapHandle, x, y);
}

// Every pixel of the bitmap, rows top first.
inline std::vector<gdi::COLORREF> PixelsOf(TBitmap& bitmap) {
  std::vector<gdi::COLORREF> pixels;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) pixels.push_back(PixelOf(bitmap, x, y));
  return pixels;
}

// A 24- or 32-bit section whose pixels are colors, rows top first.
inline gdi::HBITMAP MakeTrueColorSection(std::uint16_t bitCount, std::int32_t width, std::int32_t height,
                                         std::initializer_list<gdi::COLORREF> colors, bool bottomUp = true) {
  void* bits = nullptr;
  const gdi::HBITMAP handle = MakeSection({width, bottomUp ? height : -height, bitCount}, &bits);
  const gdi::DIBSECTION record = Describe(handle);
  auto* memory = static_cast<std::uint8_t*>(bits);
  int i = 0;
  for (const gdi::COLORREF color : colors) {
    const int x = i % width;
    const int y = i / width;
    const int row = bottomUp ? height - 1 - y : y;
    std::uint8_t* pixel = memory + row * record.dsBm.bmWidthBytes + x * (bitCount / 8);
    pixel[0] = static_cast<std::uint8_t>(color >> 16);  // blue
    pixel[1] = static_cast<std::uint8_t>(color >> 8);
    pixel[2] = static_cast<std::uint8_t>(color);
    ++i;
  }
  return handle;
}

inline gdi::HBITMAP MakeSection32(std::int32_t width, std::int32_t height,
                                  std::initializer_list<gdi::COLORREF> colors, bool bottomUp = true) {
  return MakeTrueColorSection(32, width, height, colors, bottomUp);
}

// Counts the change notifications of a bitmap.
struct ChangeCounter {
  explicit ChangeCounter(TBitmap& bitmap) {
    bitmap.ChangeHandler = [this](TGraphic*) { ++count; };
  }
  int count = 0;
};

}  // namespace bitmap_test
