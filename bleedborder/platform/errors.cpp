#include "bleedborder/platform/errors.h"

#include <string>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/platform/files.h"

namespace bleedborder {

namespace {
// The platform hands its error text through a buffer of this size, NUL
// included, so a longer text is cut here.
constexpr std::size_t kErrorTextLimit = 255;
}  // namespace

void RaiseDeviceError() {
  const sys::DWORD code = sys::GetLastError();
  if (code != 0) {
    std::string text = sys::SysErrorMessage(code);
    if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    if (text.size() > kErrorTextLimit) text.resize(kErrorTextLimit);
    if (!text.empty()) Raise(EOutOfResources(text));
  }
  RaiseOutOfResources();
}

void RaiseOutOfResources() { RaiseMsg<EOutOfResources>(Msg::OutOfResources); }

void RaiseInvalidGraphic(Msg message) { RaiseMsg<EInvalidGraphic>(message); }

void RaiseInvalidBitmap() { RaiseInvalidGraphic(Msg::InvalidBitmap); }

}  // namespace bleedborder
