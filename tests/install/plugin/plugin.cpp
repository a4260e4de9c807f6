// A plug-in built on the library: a shared object with the static archive
// linked in, loaded at run time by plugin_host. Its one entry point gives a
// 47 x 33 picture a bleed border and answers the bordered width (51), or -1
// when the library throws.
#include <cstdint>
#include <cstring>
#include <vector>

#include <bleedborder/bleed/bleed.h>
#include <bleedborder/canvas/graphics_lib.h>
#include <bleedborder/core/exceptions.h>
#include <bleedborder/core/stream.h>
#include <bleedborder/image/bitmap.h>

namespace {

std::int32_t BorderedWidth() {
  using namespace bleedborder;
  TBitmap picture;
  picture.SetDepth(TPixelDepth::pd32Bit);
  picture.SetWidth(47);
  picture.SetHeight(33);
  TMemoryStream written;
  StoreBleedBorder(picture, written);
  // The width in the written file's info header.
  const std::vector<std::uint8_t> bytes = written.Bytes();
  std::int32_t width = -1;
  if (bytes.size() >= 22) std::memcpy(&width, bytes.data() + 18, sizeof width);
  return width;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int plugin_bordered_width() {
  bleedborder::GraphicsStartup();
  int width = -1;
  try {
    width = BorderedWidth();
  } catch (const bleedborder::Exception&) {
  }
  bleedborder::GraphicsShutdown();
  return width;
}
