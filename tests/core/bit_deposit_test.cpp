// Bit deposit: the processor's instruction against the bit-by-bit loop.
#include <gtest/gtest.h>

#include "core/bit_deposit.h"

namespace {

TEST(BitDeposit, TheFastestDepositAgreesWithTheBitByBitOne) {
  static_assert(DepositBitsPortable(0b101, 0b1011'0000) == 0b1001'0000);
  static_assert(DepositBitsPortable(~std::uint64_t{0}, 0) == 0);
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const TDepositFunction deposit = FastestDeposit();
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t bits = next(), mask = next() & next();
    ASSERT_EQ(deposit(bits, mask), DepositBitsPortable(bits, mask)) << std::hex << bits << " " << mask;
  }
}

}  // namespace
