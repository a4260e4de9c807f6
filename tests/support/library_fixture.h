#pragma once
// Starts the drawing library once for a test program and shuts it down at the
// end. Include this header from any test file of the program: the inline
// variable registers the environment exactly once however many files do.
#include <gtest/gtest.h>

#include "bleedborder/canvas/graphics_lib.h"

using namespace bleedborder;

namespace bleed_test {

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { GraphicsStartup(); }
  void TearDown() override { GraphicsShutdown(); }
};

inline ::testing::Environment* const kLibraryEnvironment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace bleed_test
