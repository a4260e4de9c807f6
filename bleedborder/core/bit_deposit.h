#pragma once
// Bit deposit: the low bits of a value placed, in order, at the set bits of a
// mask (bit i of the value goes to the i-th lowest set bit of the mask; the
// other bits are 0). Processors with BMI2 do it in one instruction.
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define BLEED_HARDWARE_DEPOSIT 1
#endif

#include "bleedborder/export.h"

namespace bleedborder {

// One bit at a time, on any processor.
constexpr std::uint64_t DepositBitsPortable(std::uint64_t bits, std::uint64_t mask) {
  std::uint64_t result = 0;
  for (; mask != 0; bits >>= 1) {
    const std::uint64_t lowest = mask & (~mask + 1);
    if (bits & 1) result |= lowest;
    mask ^= lowest;
  }
  return result;
}

struct TPortableDeposit {
  std::uint64_t operator()(std::uint64_t bits, std::uint64_t mask) const { return DepositBitsPortable(bits, mask); }
};

#if defined(BLEED_HARDWARE_DEPOSIT)
// The processor's instruction: call it only when HasHardwareDeposit(), from a
// function compiled for BMI2 (gnu::target("bmi2")), where it is inlined.
struct THardwareDeposit {
  [[gnu::target("bmi2")]] std::uint64_t operator()(std::uint64_t bits, std::uint64_t mask) const {
    return _pdep_u64(bits, mask);
  }
};
#endif

// True when this processor has the instruction.
BLEEDBORDER_EXPORT bool HasHardwareDeposit();

}  // namespace bleedborder
