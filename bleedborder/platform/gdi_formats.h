#pragma once
// Device-independent formats: reading a BITMAPINFO, surfaces over its pixel
// memory, allocating pixels and converting them between surfaces. Shared by
// the raster device's sources; not installed.
#include <cstdint>
#include <memory>
#include <vector>

#include "bleedborder/platform/gdi_device.h"

namespace bleedborder::gdi::detail {

inline Color ColorOf(const RGBQUAD& q) { return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue; }
inline RGBQUAD QuadOf(Color c) {
  return {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
}
inline Color ColorOf(const PALETTEENTRY& e) { return (std::uint32_t{e.peRed} << 16) | (std::uint32_t{e.peGreen} << 8) | e.peBlue; }

inline std::uint64_t DibStride(std::uint64_t width, std::uint64_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }
inline std::uint64_t DeviceStride(std::uint64_t width, std::uint64_t bitCount) { return ((width * bitCount + 15) / 16) * 2; }

// A format read from a BITMAPINFO: validated sizes, masks and colour table.
struct DibFormat {
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, positive
  bool bottomUp = true;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD masks[3] = {0, 0, 0};  // as given (BI_BITFIELDS)
  std::vector<RGBQUAD> table;  // up to 8 bits
  std::uint64_t stride = 0;
  std::uint64_t imageBytes = 0;
  BITMAPINFOHEADER header;
};

enum class FormatError { None, Invalid, TooLarge };

// Reads the header (biSize bytes), the masks (after a 40-byte header, or at
// offset 40 of a longer one) and the colour table that follows them.
FormatError ReadDibFormat(const BITMAPINFO* info, bool allowRle, DibFormat& out);

// A surface over pixel memory in the given format.
raster::Surface SurfaceOf(const DibFormat& f, std::uint8_t* bits);

// Zero-filled pixel memory; large blocks are committed as first written.
std::unique_ptr<std::uint8_t, FreeDeleter> AllocatePixels(std::uint64_t bytes);

// A device-dependent bitmap: monochrome, or 32 bits like the screen. Rows are
// top first, padded to 16 bits.
std::unique_ptr<BitmapObject> MakeDeviceBitmap(int width, int height, bool mono);

// True when ConvertPixels writes every byte of to.
bool WidensEveryByte(const raster::Surface& from, const raster::Surface& to);

// Copies every pixel of from that lies on to, by colour, both taken in device
// coordinates from their top-left corners.
void ConvertPixels(const raster::Surface& from, raster::Surface& to);

}  // namespace bleedborder::gdi::detail
