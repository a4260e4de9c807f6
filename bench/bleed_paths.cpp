// Times the bleed border of one picture, in-process, with the command's
// set-up around it, through one of four renderers:
//   bleed_paths PICTURE.bmp passes|direct|legacy|stream [OUTPUT]
// or prints the border's sizes for a picture of the given sizes (for
// bench/cli_bench, which so uses the library's own rule):
//   bleed_paths --geometry WIDTH HEIGHT
// passes: the pass loop; direct: the direct renderer, on a composite sized
// unfilled; legacy: the per-pixel renderer it replaced; stream: the
// library's one call for the border of a loaded picture (StoreBleedBorder),
// which renders band by band as it writes, from the picture as loaded (its
// render_s is 0: the rendering is in store_s). The tool itself reads a large
// picture's pixels while it renders (StoreBleedBorderOfFile), which
// bench/cli_bench times. OUTPUT (default PICTURE.bmp.bmp) may be /dev/null,
// to time the rendering without the writing.
// Prints "paths MODE wall_s=X load_s=.. depth_s=.. size_s=.. render_s=..
// store_s=.. peak_mib=..": the whole run from load to store, then its steps,
// and the process's peak resident memory. RenderBorder is the function to
// count instructions of: valgrind --tool=callgrind
// --toggle-collect='*RenderBorder*' ...
// The memory check: a 54-byte file of headers alone claiming 1 x 536870911 or
// 89000000 x 5 pixels of 24 bits, in stream mode to /dev/null, peaks below
// 128 MiB (the pixels it lacks are never committed, nor bits for them beyond
// one per pixel of a picture at least 64 wide).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/resource.h>

#include "bench/legacy_bleed_renderer.h"
#include "bleedborder/bleed/bleed.h"
#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/bleed_passes.h"
#include "bleedborder/bleed/renderer/direct_renderer.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/image/bitmap.h"

using namespace bleedborder;

namespace {

enum class Mode { Passes, Direct, Legacy, Stream };

[[gnu::noinline]] void RenderBorder(Mode mode, TBitmap& source, TBitmap& work, TBitmap& composite,
                                    const TBleedGeometry& g) {
  switch (mode) {
    case Mode::Direct:
      if (bleed::DrawBleedDirect(source, composite, g, {bleed::TUnpaintedPixels::White})) return;
      break;
    case Mode::Legacy:
      if (legacy::DrawBleedDirect(source, composite, g.inset)) return;
      break;
    case Mode::Passes:
    case Mode::Stream: break;
  }
  DrawBleedPasses(source, work, composite, g);
}

// Seconds since the last lap.
class Laps {
 public:
  double Lap() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    return seconds;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

struct Steps {
  double load, depth, size, render, store;
};

Steps Run(const std::string& path, Mode mode, const std::string& output) {
  Steps steps{};
  Laps laps;
  TBitmap source, work, composite;
  source.LoadFile(path);
  steps.load = laps.Lap();
  if (mode == Mode::Stream) {
    StoreBleedBorder(source, output);
    steps.store = laps.Lap();
    return steps;
  }
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  steps.depth = laps.Lap();
  const TBleedGeometry g = BleedGeometryOf(source.Width(), source.Height());
  PrepareBleedBitmaps(source, work);
  if (mode == Mode::Direct && bleed::BleedDirectFits(source, g)) {
    composite.SetSizeUnfilled(g.outputWidth, g.outputHeight);
  } else {
    composite.SetWidth(g.outputWidth);
    composite.SetHeight(g.outputHeight);
  }
  if (mode == Mode::Passes) {
    work.SetWidth(g.outputWidth);
    work.SetHeight(g.outputHeight);
  }
  steps.size = laps.Lap();
  RenderBorder(mode, source, work, composite, g);
  steps.render = laps.Lap();
  composite.StoreFile(output);
  steps.store = laps.Lap();
  return steps;
}

// The border's sizes for a picture of these sizes, for the benchmark's
// comparisons: "geometry margin=M inset=I width=W height=H".
int PrintGeometry(const char* width, const char* height) {
  const TBleedGeometry g = BleedGeometryOf(std::atoi(width), std::atoi(height));
  std::printf("geometry margin=%d inset=%d width=%d height=%d\n", g.Margin(), g.inset, g.outputWidth, g.outputHeight);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--geometry") == 0) return PrintGeometry(argv[2], argv[3]);
  const char* modes[] = {"passes", "direct", "legacy", "stream"};
  int mode = -1;
  for (int i = 0; (argc == 3 || argc == 4) && i < 4; ++i)
    if (std::strcmp(argv[2], modes[i]) == 0) mode = i;
  if (mode < 0) {
    std::fprintf(stderr, "usage: bleed_paths PICTURE.bmp passes|direct|legacy|stream [OUTPUT]\n"
                         "       bleed_paths --geometry WIDTH HEIGHT\n");
    return 2;
  }
  GraphicsStartup();
  const auto start = std::chrono::steady_clock::now();
  const Steps steps = Run(argv[1], static_cast<Mode>(mode), argc == 4 ? argv[3] : std::string(argv[1]) + ".bmp");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("paths %s wall_s=%.3f load_s=%.3f depth_s=%.3f size_s=%.3f render_s=%.3f store_s=%.3f peak_mib=%ld\n",
              argv[2], seconds, steps.load, steps.depth, steps.size, steps.render, steps.store,
              usage.ru_maxrss / 1024);
  GraphicsShutdown();
  return 0;
}
