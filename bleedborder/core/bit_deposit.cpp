#include "bleedborder/core/bit_deposit.h"

namespace bleedborder {

#if defined(BLEED_HARDWARE_DEPOSIT)
bool HasHardwareDeposit() {
  static const bool present = __builtin_cpu_supports("bmi2");
  return present;
}
#else
bool HasHardwareDeposit() { return false; }
#endif

}  // namespace bleedborder
