#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "bleedborder/platform/files.h"

using namespace bleedborder;

namespace {

using namespace sys;

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

FILETIME AtUnixTime(std::int64_t seconds, std::uint64_t extraTicks = 0) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond + extraTicks;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::optional<std::pair<WORD, WORD>> DosDateTime(const FILETIME& time) {
  WORD date = 0;
  WORD clock = 0;
  if (!FileTimeToDosDateTime(&time, &date, &clock)) return std::nullopt;
  return std::pair{date, clock};
}

constexpr WORD Date(int year, int month, int day) { return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day); }
constexpr WORD Time(int hour, int minute, int second) { return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2)); }

TEST(DosDateTimeTest, CoversTheYears1980To2107InStepsOfTwoSeconds) {
  struct Case {
    const char* what;
    FILETIME time;
    std::optional<std::pair<WORD, WORD>> expected;
  };
  const Case cases[] = {
      {"1979-12-31 23:59:59", AtUnixTime(315'532'799), std::nullopt},
      {"1979-12-31 23:59:59.9999999", AtUnixTime(315'532'799, kTicksPerSecond - 1), std::nullopt},
      {"1980-01-01 00:00:00", AtUnixTime(315'532'800), std::pair{Date(1980, 1, 1), Time(0, 0, 0)}},
      {"2000-02-29 12:34:57", AtUnixTime(951'827'697), std::pair{Date(2000, 2, 29), Time(12, 34, 56)}},
      {"2107-12-31 23:59:59", AtUnixTime(4'354'819'199), std::pair{Date(2107, 12, 31), Time(23, 59, 58)}},
      {"2108-01-01 00:00:00", AtUnixTime(4'354'819'200), std::nullopt},
      {"1601-01-01", FILETIME{0, 0}, std::nullopt},
      {"the last FILETIME", FILETIME{0xFFFFFFFF, 0xFFFFFFFF}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(DosDateTime(c.time), c.expected) << c.what;
}

// Runs with TZ set to zone, restoring the previous setting afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_ = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(ZoneTest, LocalTimeAddsTheZoneOffsetAndRefusesToLeaveTheRange) {
  UseZone("XXX-2");  // two hours east of UTC
  const FILETIME noon = AtUnixTime(1'000'000'000);
  FILETIME local;
  ASSERT_TRUE(FileTimeToLocalFileTime(&noon, &local));
  const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
  EXPECT_EQ(ticks(local) - ticks(noon), 2 * 3600 * kTicksPerSecond);

  const FILETIME last{0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_FALSE(FileTimeToLocalFileTime(&last, &local));
  UseZone("XXX+2");
  const FILETIME first{0, 0};
  EXPECT_FALSE(FileTimeToLocalFileTime(&first, &local));
}

}  // namespace
