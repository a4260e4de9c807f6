#include "bleedborder/core/exceptions.h"

#include <utility>

namespace bleedborder {

// Kept out of line so that the return address is the throw site's.
__attribute__((noinline)) Exception::Exception(std::string message)
    : message_(std::move(message)), raiseAddress_(__builtin_return_address(0)) {}

}  // namespace bleedborder
