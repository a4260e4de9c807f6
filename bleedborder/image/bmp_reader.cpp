// Reading BMP data into a bitmap's storage, in three stages: the data is
// taken apart into a description (bmp_description.h), the pixels are read into
// storage the raster device makes for it, and the storage is attached.
//
// Uncompressed pixels are read in one exact read straight into a new section
// made with the file's own header (or, for LoadFileLeavingPixels, left for
// its caller to read there); compressed pixels are handed undecoded to
// the raster device, and the complete file bytes are kept beside the device
// bitmap so that an unchanged image is written back as it was read.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/bmp_description.h"
#include "bleedborder/image/dib.h"
#include "bleedborder/image/pixel_rows.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

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

// The storage made for the pixels, and the palette of a compressed or a deep
// image; both are deleted on every failure path.
struct BmpStorage {
  std::optional<gdi::OwnedObject<gdi::HBITMAP>> bitmap;
  std::optional<gdi::OwnedObject<gdi::HPALETTE>> palette;
  gdi::DIBSECTION record{};
};

// The least pixel bytes worth leaving for a caller to read while it uses them.
constexpr std::uint64_t kLeftUnreadFrom = std::uint64_t{8} << 20;

// Plain and bit-field pixels: a section made with the file's own header, the
// pixels read from the stream straight into it, or left for the caller that
// takes them when there are many and the file holds every row.
void ReadIntoSection(TStream& stream, const BmpDescription& description, gdi::HDC screen, BmpStorage& storage,
                     TBitmap::TUnreadPixels* unread) {
  void* bits = nullptr;
  sys::SetLastError(0);
  storage.bitmap.emplace(
      gdi::CreateDIBSection(screen, description.Info(), gdi::DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0));
  if (!*storage.bitmap || !bits) RaiseStorageFailure();
  gdi::GetObjectA(storage.bitmap->Get(), sizeof storage.record, &storage.record);
  // A size in the header larger than the section is not trusted: no more
  // than the section holds is read into it.
  const std::optional<TPixelRows> rows = SectionRows(storage.record);
  const std::uint64_t sectionBytes = rows ? static_cast<std::uint64_t>(rows->Bytes()) : 0;
  const std::uint64_t pixelBytes = std::min(description.pixelBytes, sectionBytes);
  if (unread && pixelBytes == sectionBytes && pixelBytes >= kLeftUnreadFrom) {
    unread->memory = static_cast<std::uint8_t*>(bits);
    unread->bytes = static_cast<std::int64_t>(pixelBytes);
    return;
  }
  stream.ReadBuffer(bits, static_cast<std::int64_t>(pixelBytes));
}

// Compressed pixels, taken from the kept copy of the file and handed
// undecoded to the device, which makes a device bitmap of them through the
// file's palette.
void ReadCompressed(const BmpDescription& description, gdi::HDC screen, BmpStorage& storage) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(description.pixelBytes));
  TMemoryStream& kept = *description.keptFile;
  kept.SetPosition(description.pixelOffset);
  kept.ReadBuffer(pixels.data(), static_cast<std::int64_t>(pixels.size()));

  gdi::MemoryDC memory(screen);
  CheckHandle(memory.Get());
  gdi::OwnedObject<gdi::HBITMAP> placeholder(gdi::CreateCompatibleBitmap(screen, 1, 1));
  gdi::Selection placeholderSelection(memory.Get(), placeholder.Get());
  const gdi::BITMAPINFOHEADER& header = description.header;
  if (header.biClrUsed > 0)
    storage.palette.emplace(
        PaletteFromTable({}, description.colors.data(), static_cast<std::int32_t>(header.biClrUsed)));
  gdi::PaletteSelection paletteSelection(memory.Get(), storage.palette ? storage.palette->Get() : gdi::HPALETTE{},
                                         gdi::FALSE);
  if (storage.palette && *storage.palette) gdi::RealizePalette(memory.Get());
  sys::SetLastError(0);
  storage.bitmap.emplace(gdi::CreateDIBitmap(memory.Get(), &header, gdi::CBM_INIT, pixels.data(), description.Info(),
                                             gdi::DIB_RGB_COLORS, pixels.size()));
  if (!*storage.bitmap) RaiseStorageFailure();
  gdi::GetObjectA(storage.bitmap->Get(), sizeof storage.record, &storage.record);
}

// The pixels into new storage, with the palette of a deep image that has a
// colour table, and the header fields the device does not keep.
void ReadPixels(TStream& stream, const BmpDescription& description, BmpStorage& storage,
                TBitmap::TUnreadPixels* unread) {
  {
    gdi::ScreenDC screen;
    CheckHandle(screen.Get());
    if (description.compressed) {
      ReadCompressed(description, screen.Get(), storage);
    } else {
      ReadIntoSection(stream, description, screen.Get(), storage, unread);
    }
  }
  const gdi::BITMAPINFOHEADER& header = description.header;
  if (header.biBitCount > 8 && header.biClrUsed > 0 && !storage.palette)
    storage.palette.emplace(
        PaletteFromTable({}, description.colors.data(), static_cast<std::int32_t>(header.biClrUsed)));

  storage.record.dsBmih.biXPelsPerMeter = header.biXPelsPerMeter;
  storage.record.dsBmih.biYPelsPerMeter = header.biYPelsPerMeter;
  storage.record.dsBmih.biClrUsed = header.biClrUsed;
  storage.record.dsBmih.biClrImportant = header.biClrImportant;
}

}  // namespace

void TBitmap::LoadStream(TStream& stream) { LoadRestOf(stream, nullptr); }

// All that is left of the stream, however long: BMP data may be followed by
// any amount of other data.
void TBitmap::LoadRestOf(TStream& stream, TUnreadPixels* unread) {
  bool changed;
  {
    TLibraryHold hold;
    changed = ReadBmpImage(stream, stream.Size() - stream.Position(), unread);
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

std::optional<TBitmap::TUnreadPixels> TBitmap::LoadFileLeavingPixels(const std::string& fileName) {
  TUnreadPixels unread;
  std::unique_ptr<TStream> file = OpenFileToLoad(fileName);
  LoadRestOf(*file, &unread);
  if (!unread.memory) return std::nullopt;
  unread.file = std::move(file);
  return unread;
}

bool TBitmap::ReadBmpImage(TStream& stream, std::int64_t count, TUnreadPixels* unread) {
  ReleaseContext();
  if (count == 0) {
    AttachImage({}, {}, nullptr, false, gdi::DIBSECTION{});
    return false;
  }
  BmpDescription description = ParseBmpDescription(stream, count);
  BmpStorage storage;
  ReadPixels(stream, description, storage, unread);

  const gdi::HPALETTE palette = storage.palette ? storage.palette->Release() : gdi::HPALETTE{};
  AttachImage(storage.bitmap->Release(), palette, std::move(description.keptFile), description.core, storage.record);
  EnsurePalette();
  SetPaletteChanged(static_cast<bool>(SharedImage().PaletteHandle));
  return true;
}

}  // namespace bleedborder
