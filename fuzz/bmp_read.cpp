// Feeds arbitrary bytes to the BMP reader and writes whatever loads back out.
// Refusals are the reader's exceptions; anything else (a crash, a sanitizer
// report, an escaped exception of another kind) is a finding.
#include <cstddef>
#include <cstdint>

#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"

using namespace bleedborder;

namespace {

// Writing copies the whole section into memory; a tiny file may describe a
// section of up to 2 GB (its rows left blank), which is the device's limit,
// not a fault, so such images are loaded but not written.
constexpr std::int64_t kLargestWrittenSection = std::int64_t{64} << 20;

std::int64_t SectionBytes(const TBitmap& bitmap) {
  TLibraryHold hold;
  const gdi::BITMAP& bm = bitmap.SharedImage().Section.dsBm;
  const std::int64_t rows = bm.bmHeight < 0 ? -std::int64_t{bm.bmHeight} : bm.bmHeight;
  return std::int64_t{bm.bmWidthBytes} * rows;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  GraphicsStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  input.Write(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  TBitmap bitmap;
  try {
    bitmap.LoadStream(input);
  } catch (const Exception&) {
    return 0;
  }
  if (SectionBytes(bitmap) > kLargestWrittenSection) return 0;
  TMemoryStream output;
  bitmap.StoreStream(output);
  return 0;
}
