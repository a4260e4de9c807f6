#include "bleedborder/platform/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace bleedborder;

namespace {

using namespace sys;

TEST(ProcessTest, ArgumentsComeAsDeliveredAndJoinIntoACommandLine) {
  std::vector<std::string> given = {"/bin/tool", "my picture.bmp", "plain", "say \"hi\""};
  std::vector<char*> argv;
  for (std::string& argument : given) argv.push_back(argument.data());
  argv.push_back(nullptr);
  SetCommandLine(static_cast<int>(given.size()), argv.data());
  EXPECT_EQ(GetArgument(1), "my picture.bmp");
  EXPECT_EQ(GetArgument(4), "");
  EXPECT_EQ(GetArgument(-1), "");
  EXPECT_EQ(GetCommandLineA(), "/bin/tool \"my picture.bmp\" plain \"say \"hi\"\"");
  SetCommandLine(0, nullptr);
  EXPECT_EQ(GetArgument(0), "");
}

TEST(ProcessTest, KnowsItsOwnFileAndWhereItsCodeStarts) {
  const std::string path = GetModuleFileNameA();
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "test_platform");
  const auto code = reinterpret_cast<std::uintptr_t>(&GetPlatformId);
  EXPECT_LE(ModuleBase(), code);
  EXPECT_EQ(GetPlatformId(), VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(PlatformId, VER_PLATFORM_WIN32_NT);
}

TEST(ProcessDeathTest, ExitProcessEndsWithTheCodeAfterFlushingOutput) {
  EXPECT_EXIT(
      {
        // Fully buffered, so the text shows only if the exit flushes it.
        std::setvbuf(stderr, nullptr, _IOFBF, 1024);
        std::fputs("buffered", stderr);
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "buffered");
}

}  // namespace
