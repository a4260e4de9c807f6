// Writing a bitmap's storage as BMP data.
//
// Nothing is decoded or converted: the section's own header and pixel memory
// are written with a file header and a colour table computed for them, or the
// kept bytes of a compressed file are written back unchanged.
#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "canvas/canvas.h"
#include "canvas/errors.h"
#include "canvas/gdi_raii.h"
#include "core/exceptions.h"
#include "image/bitmap.h"
#include "image/bmp_format.h"
#include "image/conversion.h"
#include "image/dib.h"

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

// The colour table of the section, read through the bitmap's canvas context,
// held until the table is read: a bitmap sharing the storage on another
// thread could otherwise take the context away in between.
std::int32_t ReadSectionColors(TBitmap& bitmap, gdi::RGBQUAD (&colors)[kMaxTableEntries]) {
  TBitmapCanvas& canvas = bitmap.Canvas();
  TCanvasHold hold(canvas, cpHandle);
  const gdi::HDC dc = canvas.CurrentContext();
  gdi::Selection selection(dc, bitmap.SharedImage().SectionHandle);
  CheckHandle(selection.Previous());
  return static_cast<std::int32_t>(gdi::GetDIBColorTable(dc, 0, kMaxTableEntries, colors));
}

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

void TBitmap::StoreStream(TStream& stream) { WriteBmp(stream, false); }

void TBitmap::StoreData(TStream& stream) { WriteBmp(stream, true); }

void TBitmap::StoreFileWritingPixels(const std::string& fileName, const TPixelWriter& writePixels) {
  StoreFileWith(fileName, [&](TStream& stream) { WriteBmp(stream, false, &writePixels); });
}

void TBitmap::StoreStreamWritingPixels(TStream& stream, const TPixelWriter& writePixels) {
  WriteBmp(stream, false, &writePixels);
}

void TBitmap::WriteBmp(TStream& stream, bool withByteCount, const TPixelWriter* writePixels) {
  gdi::BITMAPFILEHEADER fileHeader;
  fileHeader.bfType = kBmpSignature;

  if (const TMemoryStream* saved = SharedImage().SavedStream.get()) {
    const auto totalBytes = static_cast<std::uint32_t>(saved->Bytes().size());
    if (withByteCount) stream.WriteBuffer(&totalBytes, sizeof totalBytes);
    stream.WriteBuffer(saved->Memory(), static_cast<std::int64_t>(saved->Bytes().size()));
    return;
  }

  // The header and masks below are updated in the storage, which sharers on
  // other threads read and save too: work them out under the context lock,
  // and let it go before the pixels, which a save only reads.
  std::optional<TContextLock> contextLock(std::in_place);
  EnsureSection();
  std::uint32_t totalBytes = 0;
  std::uint32_t headerBytes = 0;
  std::int32_t entryCount = 0;
  gdi::RGBQUAD colors[kMaxTableEntries] = {};
  std::uint32_t pixelBytes = 0;
  bool coreForm = false;
  if (SharedImage().SectionHandle) {
    const TDibSizes sizes =
        DibSizes(SharedImage().SectionHandle, static_cast<std::int32_t>(SharedImage().Section.dsBmih.biClrUsed));
    entryCount = ReadSectionColors(*this, colors);
    TBitmapImage& image = SharedImage();
    const gdi::BITMAPINFOHEADER& header = image.Section.dsBmih;
    coreForm = image.CoreFormat && CoreFormFits(header);
    if (header.biClrUsed != 0 && header.biClrUsed < static_cast<std::uint32_t>(entryCount))
      entryCount = static_cast<std::int32_t>(header.biClrUsed);
    if (!coreForm && entryCount == 0 && image.PaletteHandle && !image.UsesHalftone)
      entryCount = TableFromPalette(image.PaletteHandle, colors, kMaxTableEntries - 1);
    // The header size counts exactly what is written before the pixels, so
    // that bfOffBits always points at them.
    if (coreForm)
      headerBytes = kCoreHeaderBytes + (header.biBitCount <= 8 ? 3u << header.biBitCount : 0u);
    else
      headerBytes =
          kInfoHeaderBytes + (WritesMasks(header) ? kMaskBytes : 0) + 4 * static_cast<std::uint32_t>(entryCount);
    // The pixel size is the device's, which is what the section's memory
    // holds; the header written says the same.
    pixelBytes = static_cast<std::uint32_t>(sizes.pixelBytes);
    totalBytes = kFileHeaderBytes + headerBytes + pixelBytes;
    fileHeader.bfSize = totalBytes;
    fileHeader.bfOffBits = kFileHeaderBytes + headerBytes;
  }

  if (withByteCount) stream.WriteBuffer(&totalBytes, sizeof totalBytes);
  if (totalBytes == 0) return;

  TBitmapImage& image = SharedImage();
  gdi::BITMAPINFOHEADER& header = image.Section.dsBmih;
  DefaultMasks(image.Section);
  if (entryCount != 0) header.biClrUsed = static_cast<gdi::DWORD>(entryCount);
  if (coreForm && header.biBitCount <= 8) entryCount = NarrowColorTable(colors, entryCount, header.biBitCount);

  stream.WriteBuffer(&fileHeader, kFileHeaderBytes);
  if (coreForm) {
    gdi::BITMAPCOREHEADER coreHeader;
    coreHeader.bcSize = kCoreHeaderBytes;
    coreHeader.bcWidth = static_cast<gdi::WORD>(header.biWidth);
    coreHeader.bcHeight = static_cast<gdi::WORD>(header.biHeight);
    coreHeader.bcPlanes = 1;
    coreHeader.bcBitCount = header.biBitCount;
    stream.WriteBuffer(&coreHeader, kCoreHeaderBytes);
    stream.WriteBuffer(colors, 3 * std::int64_t{entryCount});
  } else {
    // The written header describes exactly what follows it: its own size,
    // the entries written (also when there are none) and the pixel bytes.
    gdi::BITMAPINFOHEADER written = header;
    written.biSize = kInfoHeaderBytes;
    written.biClrUsed = static_cast<gdi::DWORD>(entryCount);
    written.biSizeImage = pixelBytes;
    stream.WriteBuffer(&written, kInfoHeaderBytes);
    if (WritesMasks(header)) stream.WriteBuffer(image.Section.dsBitfields, kMaskBytes);
    stream.WriteBuffer(colors, 4 * std::int64_t{entryCount});
  }
  const void* pixels = image.Section.dsBm.bmBits;
  contextLock.reset();
  if (writePixels)
    (*writePixels)(stream, pixelBytes);
  else
    stream.WriteBuffer(pixels, pixelBytes);
}
