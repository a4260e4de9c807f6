#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "bleedborder/platform/files.h"
#include "temp_dir.h"

using namespace bleedborder;

namespace {

using sys::GetFullPathNameA;

TEST(FullPathTest, FoldsDotsLexically) {
  struct Case {
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/b/../c", "/a/c"},
      {"/a/./b//c", "/a/b/c"},
      {"/..", "/"},
      {"/../../x", "/x"},
      {"/a/b/..", "/a"},
      {"/a/b/", "/a/b/"},
      {"/", "/"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(GetFullPathNameA(c.name), c.expected) << c.name;
}

TEST(FullPathTest, ResolvesRelativeNamesAgainstTheCurrentDirectoryWithoutFollowingLinks) {
  TempDir dir;
  std::filesystem::create_directories(dir / "real/inner");
  std::filesystem::create_directory_symlink(dir / "real/inner", dir / "link");
  const std::string base = std::filesystem::canonical(dir.Path()).string();
  const std::string previous = std::filesystem::current_path().string();
  ASSERT_EQ(chdir((base + "/real").c_str()), 0);
  EXPECT_EQ(GetFullPathNameA("x.bmp"), base + "/real/x.bmp");
  EXPECT_EQ(GetFullPathNameA("../link/../y.bmp"), base + "/y.bmp");
  EXPECT_EQ(GetFullPathNameA("."), base + "/real");
  ASSERT_EQ(chdir(previous.c_str()), 0);
}

}  // namespace
