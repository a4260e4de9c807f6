// Gives a BMP picture a bleed border with the bleedborder library and writes
// it where asked, as a 32-bit BMP:
//
//   add_border PICTURE.bmp BORDERED.bmp
//
// The output holds the same bytes as the file bleedborder writes for PICTURE.
#include <cstdio>

#include <bleedborder/bleed/bleed.h>
#include <bleedborder/canvas/graphics_lib.h>
#include <bleedborder/core/exceptions.h>
#include <bleedborder/image/bitmap.h>

namespace {

void AddBorder(const char* input, const char* output) {
  bleedborder::TBitmap picture;
  picture.LoadFile(input);
  bleedborder::StoreBleedBorder(picture, output);
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
