#pragma once
#include <cstdint>

namespace bleedborder {

// Which parts of a canvas are valid in its device context, as bits of a byte.
enum TCanvasPart : std::uint8_t { cpHandle = 1, cpFont = 2, cpPen = 4, cpBrush = 8 };
using TCanvasParts = std::uint8_t;
constexpr TCanvasParts cpAll = cpHandle | cpFont | cpPen | cpBrush;

}  // namespace bleedborder
