// Times the bleed border of one picture through the pass loop or the direct
// renderer, in-process, with the command's set-up around it:
//   bleed_paths PICTURE.bmp passes|direct
// prints "paths MODE wall_s=X" (the whole run from load to store).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "canvas/bleed_border.h"
#include "canvas/canvas.h"
#include "canvas/graphics_lib.h"
#include "canvas/tools.h"
#include "image/bitmap.h"

namespace {

std::int32_t RoundHalfEven(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

void Run(const std::string& path, bool direct) {
  TBitmap source, work, composite;
  source.LoadFile(path);
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  const std::int32_t margin = RoundHalfEven(std::min(source.Width(), source.Height()) / 8.0);
  const std::int32_t outputWidth = source.Width() + margin, outputHeight = source.Height() + margin;
  work.SetWidth(outputWidth);
  work.SetHeight(outputHeight);
  work.Canvas().Brush().SetColor(clWhite);
  work.Canvas().Brush().SetStyle(TBrushStyle::bsSolid);
  work.Canvas().Pen().SetColor(clWhite);
  work.SetUseTransparency(true);
  work.SetKeyColor(clWhite);
  source.SetUseTransparency(true);
  source.SetKeyKind(TTransparencyKind::tkFixed);
  source.SetKeyColor(clWhite);
  composite.SetWidth(outputWidth);
  composite.SetHeight(outputHeight);
  const std::int32_t inset = RoundHalfEven(margin / 2.0);
  if (!direct || !DrawBleedDirect(source, composite, inset)) DrawBleedPasses(source, work, composite, inset);
  composite.StoreFile(path + ".bmp");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[2], "passes") != 0 && std::strcmp(argv[2], "direct") != 0)) {
    std::fprintf(stderr, "usage: bleed_paths PICTURE.bmp passes|direct\n");
    return 2;
  }
  GraphicsStartup();
  const auto start = std::chrono::steady_clock::now();
  Run(argv[1], std::strcmp(argv[2], "direct") == 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("paths %s wall_s=%.3f\n", argv[2], seconds);
  GraphicsShutdown();
  return 0;
}
