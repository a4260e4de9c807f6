// Gives a BMP picture a bleed border with the bleedborder library and writes
// it where asked, as a 32-bit BMP:
//
//   add_border PICTURE.bmp BORDERED.bmp
//
// The output holds the same bytes as the file bleedborder writes for PICTURE.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include <bleedborder/canvas/bleed_border.h>
#include <bleedborder/canvas/graphics_lib.h>
#include <bleedborder/core/exceptions.h>
#include <bleedborder/image/bitmap.h>

namespace {

using namespace bleedborder;

// To the nearest whole number, an exact half to the even one (the default
// rounding mode).
std::int32_t Rounded(double value) { return static_cast<std::int32_t>(std::lrint(value)); }

void AddBorder(const char* input, const char* output) {
  TBitmap source, work, composite;
  source.LoadFile(input);
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);

  // The margin is an eighth of the shorter side; the picture goes half of it in.
  const std::int32_t margin = Rounded(std::min(source.Width(), source.Height()) / 8.0);
  const std::int32_t inset = Rounded(margin / 2.0);
  const std::int32_t width = source.Width() + margin;
  const std::int32_t height = source.Height() + margin;

  // White is transparent in the picture and in the scratch image, whose canvas
  // clears to white.
  PrepareBleedBitmaps(source, work);

  // Sized before it has a canvas, the output starts white.
  composite.SetWidth(width);
  composite.SetHeight(height);

  // Computed directly for a 32-bit picture; otherwise drawn copy by copy,
  // which needs the scratch image at the output's size.
  if (!DrawBleedDirect(source, composite, inset)) {
    work.SetWidth(width);
    work.SetHeight(height);
    DrawBleedPasses(source, work, composite, inset);
  }
  composite.StoreFile(output);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PICTURE.bmp BORDERED.bmp\n", argv[0]);
    return 2;
  }
  // The library's process-wide state (stock tools, caches, palettes) lives
  // from start-up to shut-down; every bitmap must be gone before the latter.
  bleedborder::GraphicsStartup();
  int status = 0;
  try {
    AddBorder(argv[1], argv[2]);
  } catch (const bleedborder::Exception& failure) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[1], failure.ClassName(), failure.what());
    status = 1;
  }
  bleedborder::GraphicsShutdown();
  return status;
}
