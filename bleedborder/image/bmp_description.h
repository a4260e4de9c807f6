#pragma once
// What the headers, masks and colour table of BMP data say, read from the
// bytes alone: no raster device and no bitmap are involved, so a file can be
// taken apart and refused before any storage is made for it.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "bleedborder/core/stream.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

struct BmpDescription {
  gdi::BITMAPFILEHEADER fileHeader{};
  // The header size the file gives; 12 is the core form.
  std::uint32_t headerSize = 0;
  bool core = false;
  // Neither plain nor bit-field pixels: run-length or another coding the
  // raster device decodes.
  bool compressed = false;
  // The info header as the device is given it: a core header widened to the
  // info form, biSize the bytes of the header in info, biClrUsed the entries
  // kept, biSizeImage worked out from the size when the file gives 0.
  gdi::BITMAPINFOHEADER header{};
  // The header as the device reads it (all of a longer header's bytes), the
  // masks read after a 40-byte header, then the colour table (256 entries,
  // those not in the file zero), with a core table widened to 4-byte entries.
  std::vector<std::uint8_t> info;
  std::size_t tableOffset = 0;
  std::array<gdi::RGBQUAD, 256> colors{};
  // Where the pixels start, counted from the file header's first byte, and
  // how many pixel bytes to read: the image size, but no more than the data
  // holds from there.
  std::int64_t pixelOffset = 0;
  std::uint64_t pixelBytes = 0;
  // Compressed data only: the whole file, kept so that an unchanged image is
  // written back as it was read.
  std::unique_ptr<TMemoryStream> keptFile;

  const gdi::BITMAPINFO* Info() const { return reinterpret_cast<const gdi::BITMAPINFO*>(info.data()); }
};

// Reads BMP data of count bytes (at least the 14 of the file header) from the
// stream's position up to its first pixel byte: for plain and bit-field
// pixels the stream is left there; for compressed data the stream is read to
// the end of the data and the pixels are at pixelOffset in keptFile.
// Raises EReadError when the data does not hold what its headers describe,
// EInvalidGraphic for a signature, header size or plane count that is not a
// bitmap's.
BmpDescription ParseBmpDescription(TStream& stream, std::int64_t count);

}  // namespace bleedborder
