// Taking BMP data apart in stages: file header, info header, masks, colour
// table and where the pixels start. Each stage checks the sizes it reads
// against the data before using them, and a file is refused for a field as
// soon as that field is read, so that what follows it never decides how a bad
// file fails.
#include "bleedborder/image/bmp_description.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bmp_format.h"
#include "bleedborder/image/dib.h"
#include "bleedborder/platform/errors.h"

namespace bleedborder {

static_assert(std::endian::native == std::endian::little, "BMP records are read as little-endian memory");

namespace {

[[noreturn]] void RaiseReadError() { RaiseMsg<EReadError>(Msg::ReadError); }

// The bytes of the BMP data that follow the file header. Every read asks it
// first, so that no part the file describes is read past the end of the data
// the caller gave, and a short stream is the reader's own failure.
class BmpData {
 public:
  BmpData(TStream& stream, std::int64_t remaining, std::int64_t offset)
      : stream_(&stream), remaining_(remaining), offset_(offset) {}

  // The same place in the same data, read from another stream holding it.
  BmpData ContinuedIn(TStream& copy) const { return BmpData(copy, remaining_, offset_); }

  std::int64_t Remaining() const { return remaining_; }
  // Where the next byte lies, counted from the file header's first byte.
  std::int64_t Offset() const { return offset_; }
  bool Holds(std::uint64_t count) const { return remaining_ >= 0 && count <= static_cast<std::uint64_t>(remaining_); }

  void Read(void* buffer, std::int64_t count) {
    if (!Holds(static_cast<std::uint64_t>(count))) RaiseReadError();
    stream_->ReadBuffer(buffer, count);
    remaining_ -= count;
    offset_ += count;
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

 private:
  TStream* stream_;
  std::int64_t remaining_;
  std::int64_t offset_;
};

// The refusals of a file's headers.

void CheckSignature(const gdi::BITMAPFILEHEADER& fileHeader) {
  if (fileHeader.bfType != kBmpSignature) RaiseInvalidBitmap();
}

// Only the core form is shorter than an info header.
void CheckHeaderSize(std::uint32_t headerSize, bool core) {
  if (!core && headerSize < static_cast<std::uint32_t>(kInfoHeaderBytes)) RaiseInvalidBitmap();
}

void CheckPlanes(const gdi::BITMAPINFOHEADER& header) {
  if (header.biPlanes != 1) RaiseInvalidBitmap();
}

// Bytes of pixel memory that width x |height| pixels of bitCount bits take in
// rows padded to 32 bits, in 64-bit arithmetic; 0 for a width of 0 or less.
std::uint64_t DibImageBytes(std::int32_t width, std::uint16_t bitCount, std::int32_t height) {
  if (width <= 0) return 0;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
  const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
  // Saturates rather than wraps: any bit count the file gives is taken.
  return rows != 0 && stride > UINT64_MAX / rows ? UINT64_MAX : stride * rows;
}

// The stages, in the order of the file.

gdi::BITMAPFILEHEADER ReadFileHeader(TStream& stream) {
  gdi::BITMAPFILEHEADER fileHeader;
  stream.ReadBuffer(&fileHeader, kFileHeaderBytes);
  CheckSignature(fileHeader);
  return fileHeader;
}

// The header: its size selects the core form or an info header, which is
// kept whole however long it is. Leaves info holding the header's bytes.
void ReadInfoHeader(BmpData& data, BmpDescription& description) {
  std::uint32_t& headerSize = description.headerSize;
  data.Read(&headerSize, sizeof headerSize);
  description.core = headerSize == static_cast<std::uint32_t>(kCoreHeaderBytes);
  CheckHeaderSize(headerSize, description.core);
  if (!data.Holds(headerSize - sizeof headerSize)) RaiseReadError();

  gdi::BITMAPINFOHEADER& header = description.header;
  description.info.assign(kInfoHeaderBytes, 0);
  if (description.core) {
    gdi::BITMAPCOREHEADER coreHeader;
    data.Read(reinterpret_cast<std::uint8_t*>(&coreHeader) + 4, kCoreHeaderBytes - 4);
    header.biWidth = coreHeader.bcWidth;
    header.biHeight = coreHeader.bcHeight;
    header.biPlanes = coreHeader.bcPlanes;
    header.biBitCount = coreHeader.bcBitCount;
  } else {
    data.ReadGrowing(description.info, 4, headerSize - 4);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&header) + 4, description.info.data() + 4, kInfoHeaderBytes - 4);
    description.compressed = header.biCompression != gdi::BI_RGB && header.biCompression != gdi::BI_BITFIELDS;
  }
}

// The whole file of compressed data, the headers rebuilt from what was read
// and the rest copied from the stream; positioned where the headers end.
std::unique_ptr<TMemoryStream> KeepWholeFile(TStream& stream, const BmpData& data,
                                             const BmpDescription& description) {
  auto kept = std::make_unique<TMemoryStream>();
  kept->WriteBuffer(&description.fileHeader, kFileHeaderBytes);
  kept->WriteBuffer(&description.headerSize, sizeof description.headerSize);
  kept->WriteBuffer(description.info.data() + 4, description.headerSize - 4);
  const std::int64_t rest = data.Remaining();
  if (rest > 0) kept->CopyFrom(stream, rest);
  kept->Seek(-rest, TSeekOrigin::soEnd);
  return kept;
}

// Masks follow a 40-byte header only; longer headers hold them inside.
void ReadMasks(BmpData& data, BmpDescription& description) {
  const gdi::BITMAPINFOHEADER& header = description.header;
  if (!description.core && description.headerSize == static_cast<std::uint32_t>(kInfoHeaderBytes) &&
      (header.biBitCount == 16 || header.biBitCount == 32) && header.biCompression == gdi::BI_BITFIELDS) {
    data.Read(description.info.data() + description.tableOffset, kMaskBytes);
    description.tableOffset += kMaskBytes;
  }
}

// The colour table: entries past the 256 that a palette holds are read past,
// never kept.
void ReadColorTable(BmpData& data, BmpDescription& description) {
  gdi::BITMAPINFOHEADER& header = description.header;
  if (header.biClrUsed == 0) header.biClrUsed = static_cast<gdi::DWORD>(TableColorCount(header.biBitCount));
  const std::int64_t entryBytes = description.core ? 3 : 4;
  if (!data.Holds(std::uint64_t{header.biClrUsed} * entryBytes)) RaiseReadError();
  const std::uint32_t keptEntries = std::min<std::uint32_t>(header.biClrUsed, kMaxTableEntries);
  data.Read(description.info.data() + description.tableOffset, keptEntries * entryBytes);
  data.Skip((std::int64_t{header.biClrUsed} - keptEntries) * entryBytes);
  header.biClrUsed = keptEntries;

  std::span<std::uint8_t, kTableBytes> table(description.info.data() + description.tableOffset, kTableBytes);
  if (description.core) WidenColorTable(table);
  std::memcpy(description.colors.data(), table.data(), kTableBytes);
}

// The pixels start where the file header says when that lies after the table
// and within the data; otherwise directly after the table. The pixel byte
// count is the image size, but no more than the data holds from there.
void LocatePixels(BmpData& data, BmpDescription& description) {
  const std::int64_t tableEnd = data.Offset();
  const std::int64_t dataEnd = tableEnd + data.Remaining();
  const std::uint32_t offBits = description.fileHeader.bfOffBits;
  if (offBits > tableEnd && offBits <= dataEnd) data.Skip(offBits - tableEnd);
  description.pixelOffset = data.Offset();

  gdi::BITMAPINFOHEADER& header = description.header;
  std::uint64_t pixelBytes = header.biSizeImage;
  if (pixelBytes == 0) {
    pixelBytes = DibImageBytes(header.biWidth, header.biBitCount, header.biHeight);
    header.biSizeImage = static_cast<gdi::DWORD>(std::min<std::uint64_t>(pixelBytes, UINT32_MAX));
  }
  description.pixelBytes = std::min(pixelBytes, static_cast<std::uint64_t>(data.Remaining()));
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

BmpDescription ParseBmpDescription(TStream& stream, std::int64_t count) {
  BmpDescription description;
  description.fileHeader = ReadFileHeader(stream);
  BmpData data(stream, count - kFileHeaderBytes, kFileHeaderBytes);
  ReadInfoHeader(data, description);

  // Compressed data is kept whole, so the stream is read to the end of the
  // data here, and the rest of the headers is read from the copy.
  if (description.compressed) description.keptFile = KeepWholeFile(stream, data, description);
  BmpData body = description.keptFile ? data.ContinuedIn(*description.keptFile) : data;

  const std::size_t headerBytes = description.core ? kInfoHeaderBytes : description.headerSize;
  description.header.biSize = static_cast<gdi::DWORD>(headerBytes);
  description.info.resize(headerBytes + kMaskBytes + kTableBytes);
  description.tableOffset = headerBytes;
  CheckPlanes(description.header);

  ReadMasks(body, description);
  ReadColorTable(body, description);
  LocatePixels(body, description);
  std::memcpy(description.info.data(), &description.header, kInfoHeaderBytes);
  return description;
}

}  // namespace bleedborder
