#pragma once
// The bleed border command's steps on BMP bytes in memory, as the library
// runs them: load, then the border written to a memory stream by the
// library's one call for it, or, to compare with, by the pass loop after the
// conversion to 32 bits. Shared by the command's fuzz target, the replay of
// its corpus and the end-to-end tests, which compare the program's output
// with these steps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bleedborder/bleed/bleed.h"
#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/bleed_passes.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"

using namespace bleedborder;

namespace command_steps {

inline std::int64_t OutputBytes(const TBleedGeometry& g) { return std::int64_t{g.outputWidth} * g.outputHeight * 4; }

// Loads bytes into bitmap; the library's exception when it refuses them.
inline void Load(TBitmap& bitmap, const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  input.Write(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  bitmap.LoadStream(input);
}

// The border of source with geometry g, written as the command writes it, or
// by the pass loop; the written file.
inline std::vector<std::uint8_t> Compose(TBitmap& source, const TBleedGeometry& g, bool byTheCommand) {
  TMemoryStream output;
  if (byTheCommand) {
    StoreBleedBorder(source, output);
    return output.Bytes();
  }
  TBitmap work, composite;
  source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  PrepareBleedBitmaps(source, work);
  composite.SetWidth(g.outputWidth);
  composite.SetHeight(g.outputHeight);
  work.SetWidth(g.outputWidth);
  work.SetHeight(g.outputHeight);
  DrawBleedPasses(source, work, composite, g);
  composite.StoreStream(output);
  return output.Bytes();
}

// The written file is a 32-bit BMP of the output's size whose fourth bytes
// are all 0, or nothing at all for an empty picture.
inline bool WrittenAsExpected(const std::vector<std::uint8_t>& bytes, const TBleedGeometry& g) {
  if (g.outputWidth == 0 || g.outputHeight == 0) return bytes.empty();
  if (static_cast<std::int64_t>(bytes.size()) != 54 + OutputBytes(g)) return false;
  for (std::size_t i = 54 + 3; i < bytes.size(); i += 4)
    if (bytes[i] != 0) return false;
  return true;
}

// Outputs above this many bytes are not drawn: a search gains nothing from
// them and each would take seconds under the sanitizers.
constexpr std::int64_t kLargestOutput = std::int64_t{1} << 20;
// Pictures whose border is also drawn by the passes, to compare the two.
constexpr std::int64_t kLargestCompared = 64 * 64 * 4;
constexpr std::int32_t kMostComparedPasses = 12;

// The steps on one input, as the fuzz target runs them: what is wrong with
// the result, or "" when the bytes were refused with the library's exception
// or gave the expected file (and, for a small picture, the same file from
// the pass loop as from the command's call).
inline std::string CheckInput(const std::uint8_t* data, std::size_t size) {
  TBitmap source;
  try {
    Load(source, data, size);
  } catch (const Exception&) {
    return "";
  }
  TBleedGeometry g;
  std::vector<std::uint8_t> written;
  try {
    g = BleedGeometryOf(source.Width(), source.Height());
    if (OutputBytes(g) > kLargestOutput) return "";
    written = Compose(source, g, true);
  } catch (const Exception&) {
    return "";  // a picture the device cannot convert or draw, or too large an output
  }
  if (!WrittenAsExpected(written, g)) return "the written file is not a 32-bit BMP of the output's size with fourth bytes 0";
  if (OutputBytes(g) > kLargestCompared || g.inset > kMostComparedPasses) return "";
  TBitmap again;
  Load(again, data, size);
  if (Compose(again, g, false) != written) return "the pass loop and the command's call differ";
  return "";
}

}  // namespace command_steps
