// Bitmaps: sections, device-dependent bitmaps and their creation from
// device-independent data, reading bits back in any format, section colour
// tables, and the pixels of 32-bit device bitmaps.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_device.h"
#include "bleedborder/platform/gdi_formats.h"
#include "bleedborder/platform/raster_palette.h"
#include "bleedborder/platform/raster_rle.h"
#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::gdi {

using namespace detail;

namespace {

std::uint32_t AddBitmap(Device& device, std::unique_ptr<BitmapObject> bitmap) {
  return device.Add(std::move(bitmap));
}

}  // namespace

// ---- Bitmaps -------------------------------------------------------------

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, sys::HANDLE, DWORD) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (bits) *bits = nullptr;
  DibFormat format;
  const FormatError error = ReadDibFormat(info, false, format);
  if (error == FormatError::Invalid || usage != DIB_RGB_COLORS) return Fail<HBITMAP>(0);
  if (error == FormatError::TooLarge) return Fail<HBITMAP>(ENOMEM);
  auto bitmap = std::make_unique<BitmapObject>();
  bitmap->memory = AllocatePixels(format.imageBytes);
  if (!bitmap->memory) return Fail<HBITMAP>(ENOMEM);
  bitmap->section = true;
  bitmap->surface = SurfaceOf(format, bitmap->memory.get());
  bitmap->table = format.table;
  std::memcpy(bitmap->masks, format.masks, sizeof bitmap->masks);
  BITMAPINFOHEADER& h = bitmap->header;
  h = format.header;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biSizeImage = static_cast<DWORD>(format.imageBytes);
  h.biClrUsed = static_cast<DWORD>(format.table.size());
  if (bits) *bits = bitmap->memory.get();
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (planes != 1 || !(bitCount == 1 || bitCount == 16 || bitCount == 24 || bitCount == 32)) return Fail<HBITMAP>(0);
  auto bitmap = MakeDeviceBitmap(width, height, bitCount == 1);
  if (!bitmap) return {};
  if (bits) {
    raster::Surface& s = bitmap->surface;
    if (bitCount == 1 || bitCount == 32) {
      std::memcpy(s.bits, bits, s.stride * static_cast<std::size_t>(s.height));
      if (bitCount == 32)
        for (std::int32_t y = 0; y < s.height; ++y)
          for (std::int32_t x = 0; x < s.width; ++x) raster::WriteNative(s, s.Row(y), x, raster::ReadNative(s, s.Row(y), x));
    } else {
      raster::Surface given;
      given.width = width;
      given.height = height;
      given.bitCount = static_cast<int>(bitCount);
      given.stride = static_cast<std::size_t>(DeviceStride(static_cast<std::uint64_t>(width), bitCount));
      given.bits = static_cast<std::uint8_t*>(const_cast<void*>(bits));
      if (bitCount == 16) raster::SetMasks(given, 0x7C00, 0x3E0, 0x1F);
      ConvertPixels(given, s);
    }
  }
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  if (!context) return Fail<HBITMAP>(0);
  // Only a monochrome device bitmap makes its context monochrome: a 1-bit
  // section has colours of its own, which a colour bitmap keeps.
  const BitmapObject* held = SelectedBitmap(device, *context);
  auto bitmap = MakeDeviceBitmap(width, height, held && held->surface.deviceMono);
  if (!bitmap) return {};
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

namespace {

HBITMAP CreateDeviceBitmapFrom(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                               const BITMAPINFO* info, UINT usage, std::optional<std::size_t> bitsSize) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (dc && !device.Find<DcObject>(dc.value)) return Fail<HBITMAP>(0);
  if (!header || header->biSize < sizeof(BITMAPINFOHEADER) || header->biWidth <= 0 || header->biHeight == 0 ||
      header->biHeight == INT32_MIN)
    return Fail<HBITMAP>(0);
  // Initial pixels are described by info, which is checked whether or not
  // any pixel bytes come with it: data of a format the device cannot decode
  // is refused even when there is none of it.
  const bool described = (init & CBM_INIT) != 0;
  const bool initialise = described && bits;
  DibFormat format;
  if (described) {
    const FormatError error = ReadDibFormat(info, true, format);
    if (error == FormatError::Invalid || usage != DIB_RGB_COLORS) return Fail<HBITMAP>(0);
    if (error == FormatError::TooLarge) return Fail<HBITMAP>(ENOMEM);
  }
  auto bitmap = MakeDeviceBitmap(header->biWidth, header->biHeight < 0 ? -header->biHeight : header->biHeight, false);
  if (!bitmap) return {};
  if (initialise) {
    const auto* data = static_cast<const std::uint8_t*>(bits);
    if (format.compression == BI_RLE8 || format.compression == BI_RLE4) {
      std::array<Color, 256> table{};
      for (std::size_t i = 0; i < format.table.size(); ++i) table[i] = ColorOf(format.table[i]);
      const std::size_t size = bitsSize ? *bitsSize : format.header.biSizeImage;
      raster::DecodeRle(data, size, format.compression == BI_RLE4, format.width, format.height, table.data(),
                        bitmap->surface);
    } else {
      raster::Surface given = SurfaceOf(format, const_cast<std::uint8_t*>(data));
      raster::Surface target = bitmap->surface;
      // With a known size, only the whole rows that are there: the first rows
      // in memory, which for bottom-up data are the bottom of the picture.
      if (bitsSize && *bitsSize < format.imageBytes) {
        given.height = static_cast<std::int32_t>(*bitsSize / format.stride);
        const std::int32_t skipped = format.bottomUp ? format.height - given.height : 0;
        if (skipped >= target.height) given.height = 0;
        target.bits += static_cast<std::size_t>(std::max(skipped, 0)) * target.stride;
        target.height -= std::max(skipped, 0);
      }
      if (given.height > 0) ConvertPixels(given, target);
    }
  }
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

}  // namespace

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage) {
  return CreateDeviceBitmapFrom(dc, header, init, bits, info, usage, std::nullopt);
}

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage, std::size_t bitsSize) {
  return CreateDeviceBitmapFrom(dc, header, init, bits, info, usage, bitsSize);
}

namespace {

// The colour table GetDIBits gives for an output of bitCount <= 8 bits.
std::vector<Color> OutputTable(Device& device, const DcObject& dc, const BitmapObject& bitmap, int bitCount) {
  const std::size_t full = std::size_t{1} << bitCount;
  std::vector<Color> table(full, 0);
  if (bitmap.section && bitmap.surface.bitCount == bitCount) {
    for (std::size_t i = 0; i < bitmap.table.size(); ++i) table[i] = ColorOf(bitmap.table[i]);
    return table;
  }
  const PaletteObject* palette = device.Find<PaletteObject>(dc.state.palette);
  if (palette && !palette->stock) {
    for (std::size_t i = 0; i < full && i < palette->entries.size(); ++i) table[i] = ColorOf(palette->entries[i]);
    return table;
  }
  if (bitCount == 1) {
    table[1] = kColorMask;
  } else if (bitCount == 4) {
    std::copy(raster::StandardColors16().begin(), raster::StandardColors16().end(), table.begin());
  } else {
    std::copy(raster::HalftoneColors().begin(), raster::HalftoneColors().end(), table.begin());
  }
  return table;
}

void DescribeBitmapHeader(const BitmapObject& b, BITMAPINFOHEADER& h) {
  if (b.section) {
    const DWORD size = h.biSize;
    h = b.header;
    h.biSize = size;
    return;
  }
  h.biWidth = b.surface.width;
  h.biHeight = b.surface.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(b.surface.bitCount);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(DibStride(static_cast<std::uint64_t>(b.surface.width), static_cast<std::uint64_t>(b.surface.bitCount)) *
                                     static_cast<std::uint64_t>(b.surface.height));
  h.biClrUsed = 0;
  h.biClrImportant = 0;
}

}  // namespace

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  BitmapObject* b = device.Find<BitmapObject>(bitmap.value);
  if (!context || !b || !info || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount == 0) {  // describe the bitmap only
    DescribeBitmapHeader(*b, h);
    return b->surface.height;
  }
  auto* infoBytes = reinterpret_cast<std::uint8_t*>(info);
  if (h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32) && (h.biSize == 40 || h.biSize >= 52)) {
    DWORD masks[3];
    std::memcpy(masks, infoBytes + 40, sizeof masks);
    if (masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
      const bool is16 = h.biBitCount == 16;
      const DWORD defaults[3] = {is16 ? 0xF800u : 0xFF0000u, is16 ? 0x07E0u : 0xFF00u, is16 ? 0x001Fu : 0xFFu};
      std::memcpy(infoBytes + 40, defaults, sizeof defaults);
    }
  }
  DibFormat format;
  if (ReadDibFormat(info, false, format) != FormatError::None) return 0;
  if (format.bitCount <= 8) {
    const std::vector<Color> table = OutputTable(device, *context, *b, format.bitCount);
    auto* colors = infoBytes + h.biSize;
    for (std::size_t i = 0; i < format.table.size(); ++i) {
      format.table[i] = QuadOf(table[i]);
      std::memcpy(colors + i * sizeof(RGBQUAD), &format.table[i], sizeof(RGBQUAD));
    }
  }
  h.biSizeImage = static_cast<DWORD>(format.imageBytes);
  if (start >= static_cast<UINT>(format.height)) return 0;
  const std::int32_t count = static_cast<std::int32_t>(std::min<std::uint64_t>(lines, static_cast<std::uint64_t>(format.height) - start));
  if (!bits || count == 0) return count;
  // The requested memory rows as a surface of their own, placed over the
  // bitmap's device rows.
  raster::Surface out = SurfaceOf(format, static_cast<std::uint8_t*>(bits));
  out.height = count;
  const std::int32_t firstDeviceRow =
      format.bottomUp ? format.height - static_cast<std::int32_t>(start) - count : static_cast<std::int32_t>(start);
  raster::Surface from = b->surface;
  if (firstDeviceRow >= from.height) {
    std::memset(bits, 0, static_cast<std::size_t>(format.stride) * static_cast<std::size_t>(count));
    return count;
  }
  // Device rows firstDeviceRow .. of the bitmap: a view starting there.
  from.height -= firstDeviceRow;
  if (!from.bottomUp) from.bits += from.stride * static_cast<std::size_t>(firstDeviceRow);
  // Bytes the conversion does not write read as 0. Widening 24 bits to 32
  // writes every byte of rows as wide as the picture's, so a fresh block is
  // not cleared first: that would fault its pages in on one core just before
  // the widening writes them on all.
  if (!WidensEveryByte(from, out))
    std::memset(bits, 0, static_cast<std::size_t>(format.stride) * static_cast<std::size_t>(count));
  const bool sameTable = b->section && from.bitCount == out.bitCount && from.Indexed() &&
                         std::equal(format.table.begin(), format.table.end(), b->table.begin(), b->table.end(),
                                    [](const RGBQUAD& a, const RGBQUAD& c) { return ColorOf(a) == ColorOf(c); });
  if (sameTable || (from.deviceMono && out.bitCount == 1)) {
    const std::int32_t width = std::min(from.width, out.width);
    const std::int32_t height = std::min(from.height, out.height);
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        raster::WriteIndex(out.Row(y), x, out.bitCount, raster::ReadIndex(from.Row(y), x, from.bitCount));
  } else {
    ConvertPixels(from, out);
  }
  return count;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target target = TargetOf(device, dc);
  if (!target || !target.bitmap->section || !colors) return 0;
  const std::vector<RGBQUAD>& table = target.bitmap->table;
  if (start >= table.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(table.size()) - start);
  std::copy_n(table.begin() + start, n, colors);
  return n;
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target target = TargetOf(device, dc);
  if (!target || !target.bitmap->section || !colors) return 0;
  std::vector<RGBQUAD>& table = target.bitmap->table;
  if (start >= table.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(table.size()) - start);
  for (UINT i = 0; i < n; ++i) {
    table[start + i] = colors[i];
    target.bitmap->surface.table[start + i] = ColorOf(colors[i]);
  }
  return n;
}

// ---- Beyond the platform -----------------------------------------------------

std::optional<BITMAP> DeviceBitmapPixels(HBITMAP bitmap) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  const BitmapObject* b = device.Find<BitmapObject>(bitmap.value);
  if (!b || b->section || b->surface.bitCount != 32 || !b->surface.plain32 || b->surface.bottomUp) return std::nullopt;
  BITMAP description;
  description.bmWidth = b->surface.width;
  description.bmHeight = b->surface.height;
  description.bmWidthBytes = static_cast<LONG>(b->surface.stride);
  description.bmPlanes = 1;
  description.bmBitsPixel = 32;
  description.bmBits = b->surface.bits;
  return description;
}

}  // namespace bleedborder::gdi
