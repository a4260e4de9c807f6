#include "tool/file_presence.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>

#include "tests/tool/tool_test_support.h"

using namespace bleedborder;

namespace {

using tool_test::TempFolder;

// Sets the last-write time of path to a local date and time.
void SetLocalTime(const std::string& path, int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const timeval times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

std::int32_t Packed(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const std::uint32_t time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return static_cast<std::int32_t>((date << 16) | time);
}

TEST(FileTest, StampAndPresence) {
  TempFolder folder;
  tool_test::WriteBytes(folder / "new.bmp", "x");
  SetLocalTime(folder / "new.bmp", 2000, 1, 2, 12, 34, 57);
  tool_test::WriteBytes(folder / "old.bmp", "x");
  SetLocalTime(folder / "old.bmp", 1970, 1, 2, 0, 0, 0);
  std::filesystem::create_directory(folder / "pictures");

  struct Case {
    std::string name;
    std::int32_t stamp;
    bool present;
  };
  const Case cases[] = {
      {folder / "new.bmp", Packed(2000, 1, 2, 12, 34, 56), true},  // seconds in steps of two
      {folder / "n?w.*", Packed(2000, 1, 2, 12, 34, 56), true},    // a pattern: its first match
      {folder / "old.bmp", -1, true},  // before 1980: no stamp, but a file all the same
      {folder / "pictures", -1, false},
      {folder / "pic*", -1, false},    // the first match is a directory
      {folder / "missing.bmp", -1, false},
      {"", -1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tool::FileStamp(c.name), c.stamp) << c.name;
    EXPECT_EQ(tool::FileIsPresent(c.name), c.present) << c.name;
  }
}

}  // namespace
