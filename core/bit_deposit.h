#pragma once
// Bit deposit: the low bits of a value placed, in order, at the set bits of a
// mask (bit i of the value goes to the i-th lowest set bit of the mask; the
// other bits are 0). Processors with BMI2 do it in one instruction.
#include <cstdint>

using TDepositFunction = std::uint64_t (*)(std::uint64_t bits, std::uint64_t mask);

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

// The fastest deposit this processor has, chosen once.
TDepositFunction FastestDeposit();
