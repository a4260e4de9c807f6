// Feeds arbitrary bytes through the whole bleed border command in memory:
// load, the conversion to 32 bits, the sizes, the border and the write to a
// memory stream. For small pictures the border is drawn a second time by the
// pass loop, and both results must agree byte for byte. Refusals are the
// library's exceptions; anything else (a crash, a sanitizer report, an
// escaped exception of another kind, a broken result) is a finding.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "canvas/bleed_border.h"
#include "canvas/canvas.h"
#include "canvas/graphics_lib.h"
#include "canvas/tools.h"
#include "core/exceptions.h"
#include "core/stream.h"
#include "image/bitmap.h"

namespace {

// Outputs above this many bytes are not drawn: the search gains nothing from
// them and each would take seconds under the sanitizers.
constexpr std::int64_t kLargestOutput = std::int64_t{4} << 20;
// Pictures whose passes are also drawn, to compare them with the direct result.
constexpr std::int64_t kLargestCompared = 64 * 64 * 4;
constexpr std::int32_t kMostPasses = 12;

std::int32_t RoundHalfEven(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Geometry {
  std::int32_t margin = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t inset = 0;
  std::int64_t Bytes() const { return std::int64_t{width} * height * 4; }
};

Geometry GeometryOf(TBitmap& source) {
  Geometry g;
  g.margin = RoundHalfEven(std::min(source.Width(), source.Height()) / 8.0);
  g.width = source.Width() + g.margin;
  g.height = source.Height() + g.margin;
  g.inset = RoundHalfEven(g.margin / 2.0);
  return g;
}

// The command's steps after the load, the border drawn directly when the
// picture allows it (direct) or always by the passes; the written bytes.
TMemoryStream Compose(TBitmap& source, const Geometry& g, bool direct) {
  TBitmap work, composite;
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  Check(source.Width() + g.margin == g.width && source.Height() + g.margin == g.height);
  work.Canvas().Brush().SetColor(clWhite);
  work.Canvas().Brush().SetStyle(TBrushStyle::bsSolid);
  work.Canvas().Pen().SetStyle(TPenStyle::psSolid);
  work.Canvas().Pen().SetColor(clWhite);
  work.SetUseTransparency(true);
  work.SetKeyKind(TTransparencyKind::tkAuto);
  work.SetKeyColor(clWhite);
  source.SetUseTransparency(true);
  source.SetKeyKind(TTransparencyKind::tkFixed);
  source.SetKeyColor(clWhite);
  composite.SetWidth(g.width);
  composite.SetHeight(g.height);
  if (!direct || !DrawBleedDirect(source, composite, g.inset)) {
    work.SetWidth(g.width);
    work.SetHeight(g.height);
    DrawBleedPasses(source, work, composite, g.inset);
  }
  TMemoryStream output;
  composite.StoreStream(output);
  return output;
}

// A loaded picture, or false when the library refused the bytes.
bool Load(TBitmap& bitmap, const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  input.Write(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  try {
    bitmap.LoadStream(input);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

// The written file is a 32-bit BMP of the output's size whose fourth bytes
// are all 0, or nothing at all for an empty picture.
void CheckWritten(const TMemoryStream& output, const Geometry& g) {
  const auto& bytes = output.Bytes();
  if (g.width == 0 || g.height == 0) return;
  Check(static_cast<std::int64_t>(bytes.size()) == 54 + g.Bytes());
  for (std::size_t i = 54 + 3; i < bytes.size(); i += 4) Check(bytes[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  GraphicsStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TBitmap source;
  if (!Load(source, data, size)) return 0;
  const Geometry g = GeometryOf(source);
  if (g.Bytes() > kLargestOutput) return 0;
  TMemoryStream direct;
  try {
    direct = Compose(source, g, true);
  } catch (const Exception&) {
    return 0;  // a picture the device cannot convert or draw
  }
  CheckWritten(direct, g);
  if (g.Bytes() > kLargestCompared || g.inset > kMostPasses) return 0;
  TBitmap again;
  Check(Load(again, data, size));
  const TMemoryStream passes = Compose(again, g, false);
  Check(passes.Bytes() == direct.Bytes());
  return 0;
}
