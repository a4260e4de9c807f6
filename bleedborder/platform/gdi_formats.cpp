// Device-independent formats: validating a BITMAPINFO, surfaces over pixel
// memory, pixel allocation and conversion between surfaces.
#include "bleedborder/platform/gdi_formats.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

#include "bleedborder/core/parallel.h"
#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::gdi::detail {
namespace {

bool IsDibBitCount(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

FormatError ReadDibFormat(const BITMAPINFO* info, bool allowRle, DibFormat& out) {
  if (!info) return FormatError::Invalid;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(info);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || !IsDibBitCount(h.biBitCount)) return FormatError::Invalid;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return FormatError::Invalid;
  const bool rle = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
  if (rle) {
    const int wanted = h.biCompression == BI_RLE8 ? 8 : 4;
    if (!allowRle || h.biBitCount != wanted || h.biHeight < 0) return FormatError::Invalid;
  } else if (h.biCompression == BI_BITFIELDS) {
    if (h.biBitCount != 16 && h.biBitCount != 32) return FormatError::Invalid;
    if (h.biSize != 40 && h.biSize < 52) return FormatError::Invalid;  // no room for the masks
  } else if (h.biCompression != BI_RGB) {
    return FormatError::Invalid;
  }
  out.header = h;
  out.width = h.biWidth;
  out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  out.bottomUp = h.biHeight > 0;
  out.bitCount = h.biBitCount;
  out.compression = h.biCompression;
  out.stride = DibStride(static_cast<std::uint64_t>(out.width), static_cast<std::uint64_t>(out.bitCount));
  out.imageBytes = out.stride * static_cast<std::uint64_t>(out.height);
  std::size_t tableOffset = h.biSize;
  if (h.biCompression == BI_BITFIELDS) {
    std::memcpy(out.masks, bytes + 40, sizeof out.masks);
    if (h.biSize == 40) tableOffset += sizeof out.masks;
  }
  if (out.bitCount <= 8) {
    const std::uint32_t full = 1u << out.bitCount;
    const std::uint32_t count = h.biClrUsed == 0 || h.biClrUsed > full ? full : h.biClrUsed;
    out.table.resize(count);
    std::memcpy(out.table.data(), bytes + tableOffset, count * sizeof(RGBQUAD));
  }
  if (out.imageBytes > kMaxPixelBytes) return FormatError::TooLarge;
  return FormatError::None;
}

// A surface over pixel memory in the given format.
raster::Surface SurfaceOf(const DibFormat& f, std::uint8_t* bits) {
  raster::Surface s;
  s.width = f.width;
  s.height = f.height;
  s.bitCount = f.bitCount;
  s.stride = static_cast<std::size_t>(f.stride);
  s.bits = bits;
  s.bottomUp = f.bottomUp;
  if (f.bitCount == 16 || f.bitCount == 32) {
    if (f.compression == BI_BITFIELDS)
      raster::SetMasks(s, f.masks[0], f.masks[1], f.masks[2]);
    else
      raster::SetMasks(s, raster::DefaultMask(f.bitCount, 0), raster::DefaultMask(f.bitCount, 1),
                       raster::DefaultMask(f.bitCount, 2));
  }
  s.tableCount = static_cast<std::uint32_t>(f.table.size());
  for (std::size_t i = 0; i < f.table.size(); ++i) s.table[i] = ColorOf(f.table[i]);
  return s;
}

// Zero-filled pixel memory. A large block is mapped and its pages are
// committed only as they are first written: a file may describe far more
// pixels than it supplies (the rows it lacks stay blank), and such a claim
// must cost no memory until something is drawn there. Huge pages, where the
// system grants them, make the first writes of a fully drawn bitmap fault
// once per 2 MiB instead of once per 4 KiB.
std::unique_ptr<std::uint8_t, FreeDeleter> AllocatePixels(std::uint64_t bytes) {
  constexpr std::uint64_t kMapFrom = std::uint64_t{8} << 20;
  if (bytes >= kMapFrom) {
    const auto length = static_cast<std::size_t>(bytes);
    void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block != MAP_FAILED) {
      madvise(block, length, MADV_HUGEPAGE);  // a refusal only costs speed
      return std::unique_ptr<std::uint8_t, FreeDeleter>(static_cast<std::uint8_t*>(block), FreeDeleter{length});
    }
  }
  return std::unique_ptr<std::uint8_t, FreeDeleter>(static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1)));
}

// A device-dependent bitmap: monochrome, or 32 bits like the screen. Rows are
// top first, padded to 16 bits.
std::unique_ptr<BitmapObject> MakeDeviceBitmap(int width, int height, bool mono) {
  if (width <= 0 || height <= 0) return Fail<std::unique_ptr<BitmapObject>>(0);
  const std::uint64_t stride = DeviceStride(static_cast<std::uint64_t>(width), mono ? 1 : 32);
  const std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
  if (bytes > kMaxPixelBytes) return Fail<std::unique_ptr<BitmapObject>>(ENOMEM);
  auto bitmap = std::make_unique<BitmapObject>();
  bitmap->memory = AllocatePixels(bytes);
  if (!bitmap->memory) return Fail<std::unique_ptr<BitmapObject>>(ENOMEM);
  raster::Surface& s = bitmap->surface;
  s.width = width;
  s.height = height;
  s.bitCount = mono ? 1 : 32;
  s.stride = static_cast<std::size_t>(stride);
  s.bits = bitmap->memory.get();
  s.deviceMono = mono;
  if (!mono) raster::SetMasks(s, 0xFF0000, 0xFF00, 0xFF);
  return bitmap;
}

// True when ConvertPixels writes every byte of to: the widening of 24-bit
// pixels to plain 32-bit ones, over rows without padding, none of them left
// out.
bool WidensEveryByte(const raster::Surface& from, const raster::Surface& to) {
  return from.bitCount == 24 && to.bitCount == 32 && to.plain32 && from.width >= to.width &&
         from.height >= to.height && to.stride == static_cast<std::size_t>(to.width) * 4;
}

// Copies every pixel of from that lies on to, by colour, both taken in device
// coordinates from their top-left corners. Device bitmaps show their bits as
// black and white.
void ConvertPixels(const raster::Surface& from, raster::Surface& to) {
  const std::int32_t width = std::min(from.width, to.width);
  const std::int32_t height = std::min(from.height, to.height);
  // The conversion every 24-bit picture takes to 32 bits, rows shared among
  // the cores: the same colours as the per-pixel rule below, with the fourth
  // byte 0.
  if (from.bitCount == 24 && to.bitCount == 32 && to.plain32) {
    ShareOut(height, 64, ThreadsFor(height, std::int64_t{width} * 4), [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t y = first; y < last; ++y)
        raster::Widen24To32(from.Row(y), reinterpret_cast<std::uint32_t*>(to.Row(y)), width);
    });
    return;
  }
  std::unique_ptr<raster::NearestIndex> nearest;
  if (to.Indexed()) {
    static constexpr Color kMono[2] = {0, kColorMask};
    nearest = std::make_unique<raster::NearestIndex>(to.deviceMono ? kMono : to.table.data(),
                                                     to.deviceMono ? 2u : std::max<std::uint32_t>(to.tableCount, 1));
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* in = from.Row(y);
    std::uint8_t* out = to.Row(y);
    for (std::int32_t x = 0; x < width; ++x) {
      const Color c = raster::NativeColor(from, raster::ReadNative(from, in, x));
      raster::WriteNative(to, out, x, nearest ? nearest->Find(c) : c);
    }
  }
}

}  // namespace bleedborder::gdi::detail
