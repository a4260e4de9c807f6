// Writing a bitmap's storage as BMP data.
//
// Nothing is decoded or converted: the section's own header and pixel memory
// are written with a file header and a colour table computed for them, or the
// kept bytes of a compressed file are written back unchanged.
#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <vector>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/bmp_format.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/pixel_rows.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

static_assert(std::endian::native == std::endian::little, "BMP records are written as little-endian memory");

namespace {

constexpr std::int32_t kCoreLimit = 0xFFFF;

// The core header holds unsigned 16-bit sizes, rows bottom-up and no masks; a
// bitmap it cannot describe is written with the info header instead.
bool CoreFormFits(const gdi::BITMAPINFOHEADER& header) {
  return header.biWidth > 0 && header.biWidth <= kCoreLimit && header.biHeight > 0 && header.biHeight <= kCoreLimit &&
         header.biCompression == gdi::BI_RGB;
}

bool WritesMasks(const gdi::BITMAPINFOHEADER& header) {
  return header.biBitCount > 8 && (header.biCompression & 3) != 0;
}

// What a save writes: the headers, masks and colour table worked out for
// the storage, then its pixel bytes; or the kept bytes of a compressed file.
struct TBmpLayout {
  std::uint32_t totalBytes = 0;
  std::vector<std::uint8_t> head;
  const void* pixels = nullptr;
  std::uint32_t pixelBytes = 0;
  bool keptFile = false;
};

void Append(std::vector<std::uint8_t>& bytes, const void* data, std::size_t count) {
  const auto* first = static_cast<const std::uint8_t*>(data);
  bytes.insert(bytes.end(), first, first + count);
}

TBmpLayout LayOutBmp(TBitmap& bitmap) REQUIRES(LibraryLock) {
  TBmpLayout layout;
  if (const TMemoryStream* saved = bitmap.SharedImage().SavedStream.get()) {
    layout.totalBytes = static_cast<std::uint32_t>(saved->Bytes().size());
    layout.pixels = saved->Memory();
    layout.pixelBytes = layout.totalBytes;
    layout.keptFile = true;
    return layout;
  }

  bitmap.EnsureSection();
  TBitmapImage& image = bitmap.SharedImage();
  const std::optional<TPixelRows> rows = SectionRows(image.Section);
  if (!image.SectionHandle || !rows) return layout;
  gdi::RGBQUAD colors[kMaxTableEntries] = {};
  std::int32_t entryCount = bitmap.ReadSectionColors(colors);
  gdi::BITMAPINFOHEADER& header = image.Section.dsBmih;
  const bool coreForm = image.CoreFormat && CoreFormFits(header);
  if (header.biClrUsed != 0 && header.biClrUsed < static_cast<std::uint32_t>(entryCount))
    entryCount = static_cast<std::int32_t>(header.biClrUsed);
  if (!coreForm && entryCount == 0 && image.PaletteHandle && !image.UsesHalftone)
    entryCount = TableFromPalette(image.PaletteHandle, colors, kMaxTableEntries - 1);
  // The header size counts exactly what is written before the pixels, so
  // that bfOffBits always points at them.
  std::uint32_t headerBytes;
  if (coreForm)
    headerBytes = kCoreHeaderBytes + (header.biBitCount <= 8 ? 3u << header.biBitCount : 0u);
  else
    headerBytes = kInfoHeaderBytes + (WritesMasks(header) ? kMaskBytes : 0) + 4 * static_cast<std::uint32_t>(entryCount);
  // The pixel size is what the section's memory holds (the device keeps it
  // under 2^31 bytes); the header written says the same.
  layout.pixelBytes = static_cast<std::uint32_t>(rows->Bytes());
  layout.totalBytes = kFileHeaderBytes + headerBytes + layout.pixelBytes;
  layout.pixels = rows->bits;

  DefaultMasks(image.Section);
  if (entryCount != 0) header.biClrUsed = static_cast<gdi::DWORD>(entryCount);
  if (coreForm && header.biBitCount <= 8) entryCount = NarrowColorTable(colors, entryCount, header.biBitCount);

  gdi::BITMAPFILEHEADER fileHeader;
  fileHeader.bfType = kBmpSignature;
  fileHeader.bfSize = layout.totalBytes;
  fileHeader.bfOffBits = kFileHeaderBytes + headerBytes;
  Append(layout.head, &fileHeader, kFileHeaderBytes);
  if (coreForm) {
    gdi::BITMAPCOREHEADER coreHeader;
    coreHeader.bcSize = kCoreHeaderBytes;
    coreHeader.bcWidth = static_cast<gdi::WORD>(header.biWidth);
    coreHeader.bcHeight = static_cast<gdi::WORD>(header.biHeight);
    coreHeader.bcPlanes = 1;
    coreHeader.bcBitCount = header.biBitCount;
    Append(layout.head, &coreHeader, kCoreHeaderBytes);
    Append(layout.head, colors, 3 * static_cast<std::size_t>(entryCount));
  } else {
    // The written header describes exactly what follows it: its own size,
    // the entries written (also when there are none) and the pixel bytes.
    gdi::BITMAPINFOHEADER written = header;
    written.biSize = kInfoHeaderBytes;
    written.biClrUsed = static_cast<gdi::DWORD>(entryCount);
    written.biSizeImage = layout.pixelBytes;
    Append(layout.head, &written, kInfoHeaderBytes);
    if (WritesMasks(header)) Append(layout.head, image.Section.dsBitfields, kMaskBytes);
    Append(layout.head, colors, 4 * static_cast<std::size_t>(entryCount));
  }
  return layout;
}

// A share of a bitmap's storage, held while its bytes are written without
// the library lock: a thread that draws on or resizes the bitmap meanwhile
// then gives it storage of its own, as drawing on one of two sharers does,
// instead of changing or freeing the bytes being written.
class TStorageShare {
 public:
  explicit TStorageShare(TSharedImage* image) REQUIRES(LibraryLock) : image_(image) { image_->AddShare(); }
  TStorageShare(const TStorageShare&) = delete;
  TStorageShare& operator=(const TStorageShare&) = delete;
  ~TStorageShare() {
    TLibraryHold hold;
    TSharedImage::DropShare(image_);
  }

 private:
  TSharedImage* image_;
};

}  // namespace

std::int32_t NarrowColorTable(gdi::RGBQUAD (&table)[kMaxTableEntries], std::int32_t count, std::uint16_t bitCount) {
  auto* bytes = reinterpret_cast<std::uint8_t*>(table);
  // Triple i lies at or before entry i, so going upwards never overwrites an
  // entry not yet moved.
  for (std::int32_t i = 1; i < count; ++i) std::memmove(bytes + 3 * i, bytes + 4 * i, 3);
  const std::int32_t full = std::int32_t{1} << bitCount;
  if (count < full)
    std::memset(bytes + 3 * std::max(count, 0), 0, 3 * static_cast<std::size_t>(full - std::max(count, 0)));
  return full;
}

std::int32_t TBitmap::ReadSectionColors(gdi::RGBQUAD (&colors)[256]) {
  TBitmapCanvas& canvas = HeldCanvas();
  canvas.RequireHeldParts(cpHandle);
  const gdi::HDC dc = canvas.HeldContext();
  gdi::Selection selection(dc, SharedImage().SectionHandle);
  CheckHandle(selection.Previous());
  return static_cast<std::int32_t>(gdi::GetDIBColorTable(dc, 0, kMaxTableEntries, colors));
}

void TBitmap::StoreStream(TStream& stream) { WriteBmp(stream, false); }

void TBitmap::StoreData(TStream& stream) { WriteBmp(stream, true); }

void TBitmap::StoreFileWritingPixels(const std::string& fileName, const TPixelWriter& writePixels) {
  StoreFileWith(fileName, [&](TStream& stream) { WriteBmp(stream, false, &writePixels); });
}

void TBitmap::StoreStreamWritingPixels(TStream& stream, const TPixelWriter& writePixels) {
  WriteBmp(stream, false, &writePixels);
}

void TBitmap::WriteBmp(TStream& stream, bool withByteCount, const TPixelWriter* writePixels) {
  TBmpLayout layout;
  std::optional<TStorageShare> share;
  {
    TLibraryHold hold;
    layout = LayOutBmp(*this);
    share.emplace(sharedImage_);
  }
  // The bytes are written without the lock: they are the storage's, which
  // the share keeps, and nobody changes a storage while it is shared.
  if (withByteCount) stream.WriteBuffer(&layout.totalBytes, sizeof layout.totalBytes);
  if (layout.totalBytes == 0) return;
  if (!layout.head.empty()) stream.WriteBuffer(layout.head.data(), static_cast<std::int64_t>(layout.head.size()));
  if (writePixels && !layout.keptFile)
    (*writePixels)(stream, layout.pixelBytes);
  else
    stream.WriteBuffer(layout.pixels, layout.pixelBytes);
}

}  // namespace bleedborder
