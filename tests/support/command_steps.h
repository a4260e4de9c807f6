#pragma once
// The bleed border command's steps on BMP bytes in memory, as the library
// runs them: load, the sizes, the border and the write to a memory stream
// (drawn and written band by band where the direct renderer takes the
// picture, or drawn by the pass loop after the conversion to 32 bits, always
// so when asked). Shared by the command's fuzz target, the replay
// of its corpus and the end-to-end tests, which compare the program's output
// with these steps.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "bleedborder/canvas/bleed_border.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"

using namespace bleedborder;

namespace command_steps {

struct Geometry {
  std::int32_t margin = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t inset = 0;
  std::int64_t Bytes() const { return std::int64_t{width} * height * 4; }
};

inline std::int32_t RoundHalfEven(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

inline Geometry GeometryOf(TBitmap& source) {
  Geometry g;
  g.margin = RoundHalfEven(std::min(source.Width(), source.Height()) / 8.0);
  g.width = source.Width() + g.margin;
  g.height = source.Height() + g.margin;
  g.inset = RoundHalfEven(g.margin / 2.0);
  return g;
}

// Loads bytes into bitmap; the library's exception when it refuses them.
inline void Load(TBitmap& bitmap, const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  input.Write(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  bitmap.LoadStream(input);
}

// The steps after the load on source, whose geometry is g; the written file.
// The direct renderer is given the picture as loaded when it reads it (a
// 24-bit one is not converted) and writes band by band, as the command does.
inline std::vector<std::uint8_t> Compose(TBitmap& source, const Geometry& g, bool direct) {
  TBitmap work, composite;
  direct = direct && BleedDirectFits(source, g.width, g.height, g.inset);
  if (!direct) source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  PrepareBleedBitmaps(source, work);
  TMemoryStream output;
  if (direct) {
    composite.SetSizeUnfilled(g.width, g.height);
    if (StoreBleedDirect(source, composite, g.inset, output)) return output.Bytes();
    throw std::logic_error("the direct renderer declined a picture it fits");
  }
  composite.SetWidth(g.width);
  composite.SetHeight(g.height);
  work.SetWidth(g.width);
  work.SetHeight(g.height);
  DrawBleedPasses(source, work, composite, g.inset);
  composite.StoreStream(output);
  return output.Bytes();
}

// The written file is a 32-bit BMP of the output's size whose fourth bytes
// are all 0, or nothing at all for an empty picture.
inline bool WrittenAsExpected(const std::vector<std::uint8_t>& bytes, const Geometry& g) {
  if (g.width == 0 || g.height == 0) return bytes.empty();
  if (static_cast<std::int64_t>(bytes.size()) != 54 + g.Bytes()) return false;
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
// the pass loop as from the direct renderer).
inline std::string CheckInput(const std::uint8_t* data, std::size_t size) {
  TBitmap source;
  try {
    Load(source, data, size);
  } catch (const Exception&) {
    return "";
  }
  const Geometry g = GeometryOf(source);
  if (g.Bytes() > kLargestOutput) return "";
  std::vector<std::uint8_t> direct;
  try {
    direct = Compose(source, g, true);
  } catch (const Exception&) {
    return "";  // a picture the device cannot convert or draw
  }
  if (!WrittenAsExpected(direct, g)) return "the written file is not a 32-bit BMP of the output's size with fourth bytes 0";
  if (g.Bytes() > kLargestCompared || g.inset > kMostComparedPasses) return "";
  TBitmap again;
  Load(again, data, size);
  if (Compose(again, g, false) != direct) return "the pass loop and the direct renderer differ";
  return "";
}

}  // namespace command_steps
