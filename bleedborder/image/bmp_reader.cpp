// Reading BMP data into a bitmap's storage.
//
// Uncompressed pixels are read in one exact read straight into a new section
// made with the file's own header; compressed pixels are handed undecoded to
// the raster device, and the complete file bytes are kept beside the device
// bitmap so that an unchanged image is written back as it was read.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/bmp_format.h"
#include "bleedborder/image/dib.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

static_assert(std::endian::native == std::endian::little, "BMP records are read as little-endian memory");

namespace {

[[noreturn]] void RaiseReadError() { RaiseMsg<EReadError>(Msg::ReadError); }

// The bytes of the BMP data that follow the file header. Every read asks it
// first, so that no part the file describes is read past the end of the data
// the caller gave, and a short stream is the reader's own failure.
class BmpData {
 public:
  BmpData(TStream& stream, std::int64_t remaining) : stream_(&stream), remaining_(remaining) {}

  std::int64_t Remaining() const { return remaining_; }
  // Bytes taken since the data started (the file header not counted).
  std::int64_t Consumed() const { return start_ - remaining_; }
  bool Holds(std::uint64_t count) const { return remaining_ >= 0 && count <= static_cast<std::uint64_t>(remaining_); }

  void Read(void* buffer, std::int64_t count) {
    if (!Holds(static_cast<std::uint64_t>(count))) RaiseReadError();
    stream_->ReadBuffer(buffer, count);
    remaining_ -= count;
  }

  // Reads count bytes into buffer at offset, growing the buffer as the bytes
  // arrive: a size taken from the file never sizes an allocation beyond the
  // bytes actually present.
  void ReadGrowing(std::vector<std::uint8_t>& buffer, std::size_t offset, std::int64_t count) {
    if (!Holds(static_cast<std::uint64_t>(count))) RaiseReadError();
    constexpr std::int64_t kChunk = 1 << 16;
    while (count > 0) {
      const std::int64_t n = std::min(count, kChunk);
      buffer.resize(std::max(buffer.size(), offset + static_cast<std::size_t>(n)));
      Read(buffer.data() + offset, n);
      offset += static_cast<std::size_t>(n);
      count -= n;
    }
  }

  void Skip(std::int64_t count) {
    if (!Holds(static_cast<std::uint64_t>(count))) RaiseReadError();
    std::array<std::uint8_t, 4096> scratch;
    while (count > 0) {
      const std::int64_t n = std::min<std::int64_t>(count, scratch.size());
      Read(scratch.data(), n);
      count -= n;
    }
  }

  // From here on the bytes come from another stream holding the same data.
  void SwitchTo(TStream& stream) { stream_ = &stream; }

 private:
  TStream* stream_;
  std::int64_t remaining_;
  const std::int64_t start_ = remaining_;
};

// Bytes of pixel memory that width x |height| pixels of bitCount bits take in
// rows padded to 32 bits, in 64-bit arithmetic; 0 for a width of 0 or less.
std::uint64_t DibImageBytes(std::int32_t width, std::uint16_t bitCount, std::int32_t height) {
  if (width <= 0) return 0;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
  const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
  // Saturates rather than wraps: any bit count the file gives is taken.
  return rows != 0 && stride > UINT64_MAX / rows ? UINT64_MAX : stride * rows;
}

// Bytes of pixel memory of a section as the device describes it.
std::uint64_t SectionBytes(const gdi::DIBSECTION& record) {
  const std::int64_t rows = record.dsBm.bmHeight;
  return static_cast<std::uint64_t>(std::max(record.dsBm.bmWidthBytes, 0)) *
         static_cast<std::uint64_t>(rows < 0 ? -rows : rows);
}

// The raster device refused to make the storage: its error code when it gave
// one, else the file is not a bitmap it can hold.
[[noreturn]] void RaiseStorageFailure() {
  const sys::DWORD code = sys::GetLastError();
  if (code != 0) {
    const std::string text = sys::TrimmedErrorMessage(code);
    Raise(EOSError(FormatMsg(Msg::OSError, {static_cast<std::int64_t>(code), std::string_view(text)}), code));
  }
  RaiseInvalidBitmap();
}

// The header as the device reads it, followed in the buffer by the masks (if
// any) and the colour table.
const gdi::BITMAPINFO* InfoOf(const std::vector<std::uint8_t>& buffer) {
  return reinterpret_cast<const gdi::BITMAPINFO*>(buffer.data());
}

}  // namespace

void WidenColorTable(std::span<std::uint8_t, kTableBytes> table) {
  // Slot i lies at or after entry i, so going downwards never overwrites an
  // entry not yet moved; within an entry the highest byte goes first.
  for (std::size_t i = kMaxTableEntries - 1; i >= 1; --i) {
    table[4 * i + 2] = table[3 * i + 2];
    table[4 * i + 1] = table[3 * i + 1];
    table[4 * i] = table[3 * i];
    table[4 * i + 3] = 0;
  }
  table[3] = 0;
}

void TBitmap::LoadStream(TStream& stream) {
  bool changed;
  {
    TLibraryHold hold;
    // All that is left of the stream, however long: BMP data may be followed
    // by any amount of other data.
    changed = ReadBmpImage(stream, stream.Size() - stream.Position());
  }
  if (changed) NotifyChange(this);
}

void TBitmap::LoadData(TStream& stream) {
  bool changed;
  {
    TLibraryHold hold;
    std::int32_t count = 0;
    stream.ReadBuffer(&count, sizeof count);
    // The stored count is taken as unsigned: a negative one asks for more
    // than any stream holds.
    changed = ReadBmpImage(stream, static_cast<std::uint32_t>(count));
  }
  if (changed) NotifyChange(this);
}

bool TBitmap::ReadBmpImage(TStream& stream, std::int64_t count) {
  ReleaseContext();
  if (count == 0) {
    AttachImage({}, {}, nullptr, false, gdi::DIBSECTION{});
    return false;
  }
  gdi::BITMAPFILEHEADER fileHeader;
  stream.ReadBuffer(&fileHeader, kFileHeaderBytes);
  if (fileHeader.bfType != kBmpSignature) RaiseInvalidBitmap();
  ReadBmpBody(stream, count - kFileHeaderBytes, fileHeader);
  return true;
}

void TBitmap::ReadBmpBody(TStream& stream, std::int64_t remaining, const gdi::BITMAPFILEHEADER& fileHeader) {
  BmpData data(stream, remaining);

  // The header: its size selects the core form or an info header, which is
  // passed on whole however long it is.
  std::uint32_t headerSize = 0;
  data.Read(&headerSize, sizeof headerSize);
  const bool core = headerSize == static_cast<std::uint32_t>(kCoreHeaderBytes);
  if (!core && headerSize < static_cast<std::uint32_t>(kInfoHeaderBytes)) RaiseInvalidBitmap();
  if (!data.Holds(headerSize - sizeof headerSize)) RaiseReadError();

  const std::size_t bufferHeader = core ? kInfoHeaderBytes : headerSize;
  std::vector<std::uint8_t> buffer(kInfoHeaderBytes);
  gdi::BITMAPINFOHEADER header;
  std::unique_ptr<TMemoryStream> saved;
  if (core) {
    gdi::BITMAPCOREHEADER coreHeader;
    data.Read(reinterpret_cast<std::uint8_t*>(&coreHeader) + 4, kCoreHeaderBytes - 4);
    header.biWidth = coreHeader.bcWidth;
    header.biHeight = coreHeader.bcHeight;
    header.biPlanes = coreHeader.bcPlanes;
    header.biBitCount = coreHeader.bcBitCount;
  } else {
    data.ReadGrowing(buffer, 4, headerSize - 4);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&header) + 4, buffer.data() + 4, kInfoHeaderBytes - 4);
    if (header.biCompression != gdi::BI_RGB && header.biCompression != gdi::BI_BITFIELDS) {
      // Compressed: the whole file is kept, and the rest is read from the copy.
      saved = std::make_unique<TMemoryStream>();
      saved->WriteBuffer(&fileHeader, kFileHeaderBytes);
      saved->WriteBuffer(&headerSize, sizeof headerSize);
      saved->WriteBuffer(buffer.data() + 4, headerSize - 4);
      const std::int64_t rest = data.Remaining();
      if (rest > 0) saved->CopyFrom(stream, rest);
      saved->Seek(-rest, TSeekOrigin::soEnd);
      data.SwitchTo(*saved);
    }
  }
  header.biSize = static_cast<gdi::DWORD>(bufferHeader);
  buffer.resize(bufferHeader + kMaskBytes + kTableBytes);
  if (header.biPlanes != 1) RaiseInvalidBitmap();

  // Masks follow a 40-byte header only; longer headers hold them inside.
  std::size_t tableOffset = bufferHeader;
  if (!core && headerSize == static_cast<std::uint32_t>(kInfoHeaderBytes) &&
      (header.biBitCount == 16 || header.biBitCount == 32) && header.biCompression == gdi::BI_BITFIELDS) {
    data.Read(buffer.data() + tableOffset, kMaskBytes);
    tableOffset += kMaskBytes;
  }

  // The colour table: entries past the 256 that a palette holds are read
  // past, never kept.
  if (header.biClrUsed == 0) header.biClrUsed = static_cast<gdi::DWORD>(TableColorCount(header.biBitCount));
  const std::int64_t entryBytes = core ? 3 : 4;
  if (!data.Holds(std::uint64_t{header.biClrUsed} * entryBytes)) RaiseReadError();
  const std::uint32_t keptEntries = std::min<std::uint32_t>(header.biClrUsed, kMaxTableEntries);
  data.Read(buffer.data() + tableOffset, keptEntries * entryBytes);
  data.Skip((std::int64_t{header.biClrUsed} - keptEntries) * entryBytes);
  header.biClrUsed = keptEntries;

  // The pixels start where the file header says when that lies after the
  // table and within the data; otherwise directly after the table.
  const std::int64_t tableEnd = kFileHeaderBytes + data.Consumed();
  const std::int64_t dataEnd = tableEnd + data.Remaining();
  if (fileHeader.bfOffBits > tableEnd && fileHeader.bfOffBits <= dataEnd) data.Skip(fileHeader.bfOffBits - tableEnd);

  std::uint64_t pixelBytes = header.biSizeImage;
  if (pixelBytes == 0) {
    pixelBytes = DibImageBytes(header.biWidth, header.biBitCount, header.biHeight);
    header.biSizeImage = static_cast<gdi::DWORD>(std::min<std::uint64_t>(pixelBytes, UINT32_MAX));
  }
  pixelBytes = std::min(pixelBytes, static_cast<std::uint64_t>(data.Remaining()));

  std::span<std::uint8_t, kTableBytes> table(buffer.data() + tableOffset, kTableBytes);
  if (core) WidenColorTable(table);
  std::memcpy(buffer.data(), &header, kInfoHeaderBytes);
  std::array<gdi::RGBQUAD, kMaxTableEntries> colors;
  std::memcpy(colors.data(), table.data(), kTableBytes);

  // The storage, and the palette of a compressed or a deep image; both are
  // deleted on every failure path.
  std::optional<gdi::OwnedObject<gdi::HBITMAP>> made;
  std::optional<gdi::OwnedObject<gdi::HPALETTE>> palette;
  gdi::DIBSECTION record{};
  {
    gdi::ScreenDC screen;
    CheckHandle(screen.Get());
    if (!saved) {
      void* bits = nullptr;
      sys::SetLastError(0);
      made.emplace(gdi::CreateDIBSection(screen.Get(), InfoOf(buffer), gdi::DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0));
      if (!*made || !bits) RaiseStorageFailure();
      gdi::GetObjectA(made->Get(), sizeof record, &record);
      // A size in the header larger than the section is not trusted: no more
      // than the section holds is read into it.
      pixelBytes = std::min(pixelBytes, SectionBytes(record));
      data.Read(bits, static_cast<std::int64_t>(pixelBytes));
    } else {
      std::vector<std::uint8_t> pixels(static_cast<std::size_t>(pixelBytes));
      data.Read(pixels.data(), static_cast<std::int64_t>(pixelBytes));
      gdi::MemoryDC memory(screen.Get());
      CheckHandle(memory.Get());
      gdi::OwnedObject<gdi::HBITMAP> placeholder(gdi::CreateCompatibleBitmap(screen.Get(), 1, 1));
      gdi::Selection placeholderSelection(memory.Get(), placeholder.Get());
      if (header.biClrUsed > 0)
        palette.emplace(PaletteFromTable({}, colors.data(), static_cast<std::int32_t>(header.biClrUsed)));
      gdi::PaletteSelection paletteSelection(memory.Get(), palette ? palette->Get() : gdi::HPALETTE{}, gdi::FALSE);
      if (palette && *palette) gdi::RealizePalette(memory.Get());
      sys::SetLastError(0);
      made.emplace(gdi::CreateDIBitmap(memory.Get(), &header, gdi::CBM_INIT, pixels.data(), InfoOf(buffer),
                                       gdi::DIB_RGB_COLORS, pixels.size()));
      if (!*made) RaiseStorageFailure();
      gdi::GetObjectA(made->Get(), sizeof record, &record);
    }
  }
  if (header.biBitCount > 8 && header.biClrUsed > 0 && !palette)
    palette.emplace(PaletteFromTable({}, colors.data(), static_cast<std::int32_t>(header.biClrUsed)));

  record.dsBmih.biXPelsPerMeter = header.biXPelsPerMeter;
  record.dsBmih.biYPelsPerMeter = header.biYPelsPerMeter;
  record.dsBmih.biClrUsed = header.biClrUsed;
  record.dsBmih.biClrImportant = header.biClrImportant;

  const gdi::HPALETTE paletteHandle = palette ? palette->Release() : gdi::HPALETTE{};
  AttachImage(made->Release(), paletteHandle, std::move(saved), core, record);
  EnsurePalette();
  SetPaletteChanged(static_cast<bool>(SharedImage().PaletteHandle));
}

}  // namespace bleedborder
