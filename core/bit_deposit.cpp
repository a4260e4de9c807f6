#include "core/bit_deposit.h"

#if defined(BLEED_HARDWARE_DEPOSIT)
bool HasHardwareDeposit() {
  static const bool present = __builtin_cpu_supports("bmi2");
  return present;
}
#else
bool HasHardwareDeposit() { return false; }
#endif
