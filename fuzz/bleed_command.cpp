// Feeds arbitrary bytes through the whole bleed border command in memory:
// load, then the library's one call that gives the picture its border and
// writes it to a memory stream. For small pictures the border is drawn a
// second time by the pass loop, and both results must agree byte for byte. Refusals are the
// library's exceptions; anything else (a crash, a sanitizer report, an
// escaped exception of another kind, a wrong result) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bleedborder/canvas/graphics_lib.h"
#include "tests/support/command_steps.h"

using namespace bleedborder;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  GraphicsStartup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string finding = command_steps::CheckInput(data, size);
  if (!finding.empty()) {
    std::fprintf(stderr, "finding: %s\n", finding.c_str());
    std::abort();
  }
  return 0;
}
