#pragma once
// The transfer engine of the raster device: pattern fills, block, stretching
// and masked transfers between surfaces. One general path does every format,
// stretch mode and raster operation pixel by pixel; fast paths for 32-bit
// surfaces are picked from a table and must give the same bytes.
#include <cstdint>

#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::raster {

enum class StretchMode : std::uint8_t { BlackOnWhite = 1, WhiteOnBlack = 2, ColorOnColor = 3, Halftone = 4 };

enum class PatternKind : std::uint8_t { Solid, Hollow, Hatched };

// The brush of a transfer with the context state that shapes it.
struct Pattern {
  PatternKind kind = PatternKind::Solid;
  Color color = 0;
  int hatch = 0;           // 0 .. 5 for a hatched brush
  Color background = 0;    // the context's background colour: hatch gaps when opaque
  bool opaque = true;      // background mode OPAQUE
  std::int32_t originX = 0, originY = 0;
};

// Whether the 8 x 8 hatch pattern has a line at (column, row), both 0 .. 7.
bool HatchBit(int hatch, int column, int row);

// Truth-table bits of a ternary raster operation, indexed by (P << 2) | (S << 1) | D.
constexpr bool RopUsesSource(std::uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
constexpr bool RopUsesPattern(std::uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }
constexpr bool RopUsesDest(std::uint8_t rop) { return ((rop >> 1) ^ rop) & 0x55; }

constexpr std::uint32_t ApplyRop(std::uint8_t rop, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
  std::uint32_t r = 0;
  for (int k = 0; k < 8; ++k)
    if ((rop >> k) & 1) r |= ((k & 4) ? p : ~p) & ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d);
  return r;
}

struct Transfer {
  Surface* dest = nullptr;
  const Surface* source = nullptr;  // may be null when no operation uses it
  const Surface* mask = nullptr;    // 1-bit; set for a masked transfer
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  std::int32_t srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0;
  std::int32_t maskX = 0, maskY = 0;
  std::uint8_t rop = 0xCC;      // where the mask bit is 1, or everywhere without a mask
  std::uint8_t backRop = 0xCC;  // where the mask bit is 0
  StretchMode mode = StretchMode::BlackOnWhite;
  Pattern pattern;
  Color destText = 0;         // a monochrome device bitmap source: colour of 0 bits
  Color destBackground = 0;   // ... and of 1 bits
  Color sourceBackground = 0; // towards a 1-bit destination: the colour that gives 1

  bool UsesSource() const { return RopUsesSource(rop) || (mask && RopUsesSource(backRop)); }
  bool UsesPattern() const { return RopUsesPattern(rop) || (mask && RopUsesPattern(backRop)); }
};

// Runs the transfer: a fast path when one applies, otherwise the general
// path. A source or mask sharing the destination's pixels is read from a
// snapshot, so overlapping rectangles of one bitmap copy as if at once.
void Run(const Transfer& t);

// The general path alone, and the fast paths alone (false when none applies
// and nothing was done). The two must write the same bytes; tests compare them.
void RunGeneral(const Transfer& t);
bool RunFast(const Transfer& t);
// The name of the fast path Run would take, or null.
const char* FastPathName(const Transfer& t);

}  // namespace bleedborder::raster
