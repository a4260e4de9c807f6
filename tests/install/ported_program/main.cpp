// A program ported from a desktop code base, as such programs often come: its
// own core/messages.h first on the include path and its own global MulDiv.
// Built against the installed library, it prints its messages, both
// MulDivs' results (the library's rounds the quotient, this one truncates it),
// a font size worked out by the library's MulDiv, and the library's version.
#include <cstdint>
#include <cstdio>

#include "core/messages.h"

#include <bleedborder/canvas/graphics_lib.h>
#include <bleedborder/core/exceptions.h>
#include <bleedborder/version.h>

static_assert(BLEEDBORDER_VERSION ==
              BLEEDBORDER_VERSION_MAJOR * 10000 + BLEEDBORDER_VERSION_MINOR * 100 + BLEEDBORDER_VERSION_PATCH);
static_assert(BLEEDBORDER_VERSION >= 10000, "this program needs bleedborder 1.0 or later");

int MulDiv(int number, int numerator, int denominator) { return number * numerator / denominator; }

int main() {
  std::printf("%s %s\n", FormatMsg(Msg::Greeting).c_str(), FormatMsg(Msg::Farewell).c_str());
  std::printf("%d %d\n", MulDiv(7, 3, 2), static_cast<int>(bleedborder::MulDiv(7, 3, 2)));
  bleedborder::GraphicsStartup();
  {
    bleedborder::TFont font;
    font.SetHeight(-16);
    std::printf("%d\n", static_cast<int>(font.Size()));
  }
  bleedborder::GraphicsShutdown();
  std::printf("%s %d\n", BLEEDBORDER_VERSION_STRING, BLEEDBORDER_VERSION);
}
