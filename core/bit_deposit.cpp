#include "core/bit_deposit.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace {

__attribute__((target("bmi2"))) std::uint64_t DepositBitsBmi2(std::uint64_t bits, std::uint64_t mask) {
  return _pdep_u64(bits, mask);
}

}  // namespace

TDepositFunction FastestDeposit() {
  static const TDepositFunction chosen = __builtin_cpu_supports("bmi2") ? DepositBitsBmi2 : DepositBitsPortable;
  return chosen;
}

#else

TDepositFunction FastestDeposit() { return DepositBitsPortable; }

#endif
