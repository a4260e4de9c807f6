#pragma once
// The command's rounding: to the nearest integer under the rounding mode in
// force, which the process frame sets to nearest with exact halves to the even
// neighbour (0.5 gives 0, 1.5 gives 2, 2.5 gives 2); the low 32 bits of the
// 64-bit result.
#include <cmath>
#include <cstdint>

namespace bleedborder::tool {

inline std::int32_t RoundToNearest(double value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::llrint(value))));
}

}  // namespace bleedborder::tool
