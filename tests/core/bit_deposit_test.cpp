// Bit deposit: the processor's instruction against the bit-by-bit loop.
#include <gtest/gtest.h>

#include "bleedborder/core/bit_deposit.h"

using namespace bleedborder;

namespace {

#if defined(BLEED_HARDWARE_DEPOSIT)
[[gnu::target("bmi2")]] std::uint64_t HardwareDeposit(std::uint64_t bits, std::uint64_t mask) {
  return THardwareDeposit{}(bits, mask);
}
#endif

TEST(BitDeposit, TheHardwareDepositAgreesWithTheBitByBitOne) {
  static_assert(DepositBitsPortable(0b101, 0b1011'0000) == 0b1001'0000);
  static_assert(DepositBitsPortable(~std::uint64_t{0}, 0) == 0);
#if defined(BLEED_HARDWARE_DEPOSIT)
  if (!HasHardwareDeposit()) GTEST_SKIP() << "no BMI2 on this processor";
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t bits = next(), mask = next() & next();
    ASSERT_EQ(HardwareDeposit(bits, mask), DepositBitsPortable(bits, mask)) << std::hex << bits << " " << mask;
  }
#else
  GTEST_SKIP() << "no hardware deposit on this processor family";
#endif
}

}  // namespace
