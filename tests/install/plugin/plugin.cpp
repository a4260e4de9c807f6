// A plug-in built on the library: a shared object with the static archive
// linked in, loaded at run time by plugin_host. Its one entry point gives a
// 47 x 33 picture a bleed border and answers the bordered width (51), or -1
// when the library throws.
#include <cstdint>

#include <bleedborder/canvas/bleed_border.h>
#include <bleedborder/canvas/graphics_lib.h>
#include <bleedborder/core/exceptions.h>
#include <bleedborder/image/bitmap.h>

namespace {

std::int32_t BorderedWidth() {
  using namespace bleedborder;
  TBitmap source, work, composite;
  for (TBitmap* bitmap : {&source, &work, &composite}) bitmap->SetDepth(TPixelDepth::pd32Bit);
  source.SetWidth(47);
  source.SetHeight(33);
  constexpr std::int32_t margin = 4, inset = 2;  // an eighth of 33, and half of that
  PrepareBleedBitmaps(source, work);
  composite.SetWidth(47 + margin);
  composite.SetHeight(33 + margin);
  DrawBleedDirect(source, composite, inset);
  return composite.Width();
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
