#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "bleedborder/platform/files.h"
#include "temp_dir.h"

using namespace bleedborder;

namespace {

using namespace sys;

std::optional<WIN32_FIND_DATAA> FirstMatch(const std::string& name) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  EXPECT_TRUE(FindClose(search));
  return found;
}

TEST(FileSearchTest, WildcardsMatchInTheLastComponent) {
  TempDir dir;
  dir.Write("photo.bmp", "");
  dir.Write(".hidden", "");
  std::filesystem::create_directory(dir / "folder.d");
  struct Case {
    std::string pattern;
    std::string match;  // empty: nothing matches
  };
  const Case cases[] = {
      {"photo.bmp", "photo.bmp"},
      {"*.bmp", "photo.bmp"},
      {"p?oto.bmp", "photo.bmp"},
      {"ph*o*.b?p", "photo.bmp"},
      {"photo.bm?", "photo.bmp"},
      {"photo.bmp?", ""},  // '?' takes exactly one character
      {"?photo.bmp", ""},
      {"*.BMP", ""},  // names are case sensitive here
      {".h*", ".hidden"},
      {"*idden", ".hidden"},  // a leading dot is an ordinary character
      {"folder.?", "folder.d"},
      {"*.png", ""},
  };
  for (const Case& c : cases) {
    const auto found = FirstMatch(dir / c.pattern);
    EXPECT_EQ(found ? found->cFileName : "", c.match) << c.pattern;
  }
  EXPECT_FALSE(FirstMatch(dir / "no/such/*.bmp"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
}

TEST(FileSearchTest, ReportsTheDirectoryAttributeFollowingLinks) {
  TempDir dir;
  const std::string file = dir.Write("file.bmp", "x");
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(symlink(file.c_str(), (dir / "link.bmp").c_str()), 0);
  struct Case {
    std::string name;
    DWORD attributes;
  };
  const Case cases[] = {
      {"file.bmp", FILE_ATTRIBUTE_NORMAL},
      {"sub", FILE_ATTRIBUTE_DIRECTORY},
      {"su?", FILE_ATTRIBUTE_DIRECTORY},
      {"link.bmp", FILE_ATTRIBUTE_NORMAL},
      {"sub/", FILE_ATTRIBUTE_DIRECTORY},
  };
  for (const Case& c : cases) {
    const auto found = FirstMatch(dir / c.name);
    ASSERT_TRUE(found) << c.name;
    EXPECT_EQ(found->dwFileAttributes, c.attributes) << c.name;
  }
}

TEST(FileSearchTest, GivesTheLastWriteTimeSince1601) {
  TempDir dir;
  const std::string file = dir.Write("timed.bmp", "x");
  // 2001-09-09 01:46:40 UTC.
  ASSERT_TRUE(SetWriteTime(file, 1'000'000'000));
  const auto found = FirstMatch(file);
  ASSERT_TRUE(found);
  const std::uint64_t ticks =
      (std::uint64_t{found->ftLastWriteTime.dwHighDateTime} << 32) | found->ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(ticks, (1'000'000'000ull + 11'644'473'600ull) * 10'000'000ull);
}

}  // namespace
