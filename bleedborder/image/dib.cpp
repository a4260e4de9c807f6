// Device-independent bitmap header helpers.
#include "bleedborder/image/dib.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

#include "bleedborder/image/image_globals.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// A byte count that does not fit the 32-bit sizes of a bitmap is refused the
// way the raster device refuses one: out of memory.
[[noreturn]] void RaiseSizeTooLarge() {
  sys::SetLastError(ENOMEM);
  RaiseDeviceError();
}

std::int32_t CheckedInt32(std::int64_t value) {
  if (value > kInt32Max || value < kInt32Min) RaiseSizeTooLarge();
  return static_cast<std::int32_t>(value);
}

std::int64_t Magnitude(std::int32_t value) { return value < 0 ? -static_cast<std::int64_t>(value) : value; }

// The platform's description of handle: the whole section record for a
// section, only dsBm for a device-dependent bitmap. Returns the bytes written.
int DescribeHandle(gdi::HBITMAP handle, gdi::DIBSECTION& out) {
  out = gdi::DIBSECTION{};
  out.dsBmih.biSize = 0;
  return gdi::GetObjectA(handle, sizeof out, &out);
}

gdi::PALETTEENTRY EntryFromQuad(const gdi::RGBQUAD& quad) { return {quad.rgbRed, quad.rgbGreen, quad.rgbBlue, 0}; }

}  // namespace

std::int32_t TableColorCount(std::uint16_t bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8: return std::int32_t{1} << bitCount;
    default: return 0;
  }
}

std::int32_t RowStride(std::int32_t pixels, std::int32_t bitsPerPixel, std::int32_t alignment) {
  // Worked in 64 bits so that a row too long for 32 bits is refused instead
  // of wrapping; every result that fits equals the 32-bit formula's.
  const std::int64_t bits = std::int64_t{pixels} * bitsPerPixel + alignment - 1;
  const std::int64_t aligned = bits & ~(std::int64_t{alignment} - 1);
  return CheckedInt32(aligned / 8);
}

std::int32_t CheckedImageBytes(std::int32_t width, std::int32_t height, std::int32_t bitCount) {
  if (width < 0 || bitCount < 0) RaiseOutOfResources();
  return CheckedInt32(std::int64_t{RowStride(width, bitCount, 32)} * Magnitude(height));
}

gdi::BITMAPINFOHEADER BuildInfoHeader(gdi::HBITMAP handle, std::int32_t colorCount) {
  gdi::DIBSECTION ds;
  const int reported = DescribeHandle(handle, ds);
  if (reported == 0) RaiseInvalidBitmap();

  constexpr int kBitmapAndHeader = static_cast<int>(offsetof(gdi::DIBSECTION, dsBitfields));
  gdi::BITMAPINFOHEADER header;
  if (reported >= kBitmapAndHeader && ds.dsBmih.biSize >= sizeof(gdi::BITMAPINFOHEADER)) {
    header = ds.dsBmih;
  } else {
    header.biSize = sizeof(gdi::BITMAPINFOHEADER);
    header.biWidth = ds.dsBm.bmWidth;
    header.biHeight = ds.dsBm.bmHeight;
  }

  if (colorCount == 2) {
    header.biBitCount = 1;
  } else if (colorCount >= 3 && colorCount <= 16) {
    header.biBitCount = 4;
    header.biClrUsed = static_cast<gdi::DWORD>(colorCount);
  } else if (colorCount >= 17 && colorCount <= 256) {
    header.biBitCount = 8;
    header.biClrUsed = static_cast<gdi::DWORD>(colorCount);
  } else {
    header.biBitCount = static_cast<gdi::WORD>(ds.dsBm.bmBitsPixel * ds.dsBm.bmPlanes);
  }
  header.biPlanes = 1;
  if (header.biClrImportant > header.biClrUsed) header.biClrImportant = header.biClrUsed;
  if (header.biSizeImage == 0) {
    header.biSizeImage = static_cast<gdi::DWORD>(CheckedImageBytes(header.biWidth, header.biHeight, header.biBitCount));
  }
  return header;
}

TDibSizes DibSizes(gdi::HBITMAP handle, std::int32_t colorCount) {
  const gdi::BITMAPINFOHEADER header = BuildInfoHeader(handle, colorCount);
  constexpr std::int64_t kHeader = sizeof(gdi::BITMAPINFOHEADER);
  std::int64_t headerBytes = kHeader;
  if (header.biBitCount <= 8) {
    const std::int64_t entries = header.biClrUsed != 0 ? header.biClrUsed : std::int64_t{1} << header.biBitCount;
    headerBytes += 4 * entries;
  } else if ((header.biCompression & 3) != 0) {
    headerBytes += 3 * sizeof(gdi::DWORD);  // the three masks
  }
  TDibSizes sizes;
  sizes.headerBytes = CheckedInt32(headerBytes);
  sizes.pixelBytes = CheckedInt32(header.biSizeImage);
  return sizes;
}

gdi::HPALETTE PaletteFromTable(gdi::HBITMAP section, const gdi::RGBQUAD* entries, std::int32_t count) {
  gdi::RGBQUAD table[256];
  std::int32_t found = 0;
  if (section) {
    gdi::MemoryDC context;
    if (context) {
      gdi::Selection selected(context.Get(), section);
      found = static_cast<std::int32_t>(gdi::GetDIBColorTable(context.Get(), 0, 256, table));
    }
  } else if (entries) {
    found = std::clamp(count, 0, 256);
    std::copy(entries, entries + found, table);
  }
  if (found <= 0) return {};

  gdi::LOGPALETTE palette;
  palette.palNumEntries = static_cast<gdi::WORD>(found);
  bool systemColors = false;
  if (found == 16) {
    gdi::PALETTEENTRY sixteen[16];
    systemColors = ApplySystemColors(sixteen);
    if (systemColors) std::copy(std::begin(sixteen), std::end(sixteen), palette.palPalEntry);
  }
  if (!systemColors) {
    for (std::int32_t i = 0; i < found; ++i) palette.palPalEntry[i] = EntryFromQuad(table[i]);
  }
  return gdi::CreatePalette(&palette);
}

bool ApplySystemColors(gdi::PALETTEENTRY (&entries)[16]) {
  TLibraryHold hold;
  if (!StockPalette16) return false;
  gdi::ScreenDC screen;
  if (!screen || gdi::GetDeviceCaps(screen.Get(), gdi::SIZEPALETTE) < 16) return false;
  gdi::GetPaletteEntries(StockPalette16, 0, 16, entries);
  return true;
}

}  // namespace bleedborder
