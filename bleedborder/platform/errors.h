#pragma once
// Turning failed platform calls into exceptions.
#include <cstdint>

#include "bleedborder/core/messages.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

// EOutOfResources with the platform's text for the last error, or
// "Out of system resources" when there is none.
[[noreturn]] BLEEDBORDER_EXPORT void RaiseDeviceError();
[[noreturn]] BLEEDBORDER_EXPORT void RaiseOutOfResources();
[[noreturn]] BLEEDBORDER_EXPORT void RaiseInvalidGraphic(Msg message);
[[noreturn]] BLEEDBORDER_EXPORT void RaiseInvalidBitmap();

// A null handle or zero value raises through RaiseDeviceError; anything else
// is returned unchanged.
template <class T>
T CheckHandle(T value) {
  if (!value) RaiseDeviceError();
  return value;
}

}  // namespace bleedborder
