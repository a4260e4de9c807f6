// Sharing a loop among threads: every item once, fewer threads when some
// cannot start, and a failure in any thread rethrown to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "core/parallel.h"

namespace {

// Counts how often each item is worked on.
struct Tally {
  explicit Tally(std::int32_t count) : seen(static_cast<std::size_t>(count)) {}
  TChunkWork Work() {
    return [this](std::int32_t first, std::int32_t last) {
      for (std::int32_t i = first; i < last; ++i) seen[static_cast<std::size_t>(i)].fetch_add(1);
    };
  }
  bool EachOnce() const {
    for (const std::atomic<int>& count : seen)
      if (count.load() != 1) return false;
    return true;
  }
  std::vector<std::atomic<int>> seen;
};

TEST(ShareOut, WorksEveryItemOnceWhateverTheThreadsAndChunks) {
  struct Case {
    std::int32_t count, chunk;
    unsigned threads;
  };
  for (const Case& c : {Case{0, 4, 3}, Case{1, 16, 4}, Case{1000, 7, 3}, Case{1000, 1000, 2}, Case{37, 0, 8}}) {
    Tally tally(c.count);
    ShareOut(c.count, c.chunk, c.threads, tally.Work());
    EXPECT_TRUE(tally.EachOnce()) << c.count << " items, chunks of " << c.chunk << ", " << c.threads << " threads";
  }
}

TEST(ShareOut, GoesOnWithFewerThreadsWhenSomeCannotStart) {
  for (int started : {0, 1}) {
    int attempts = 0;
    const TThreadStarter starter = [&](std::function<void()> body) {
      if (attempts++ >= started) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(body));
    };
    Tally tally(500);
    ShareOut(500, 3, 4, tally.Work(), starter);
    EXPECT_TRUE(tally.EachOnce()) << started << " helper threads started";
  }
}

TEST(ShareOut, RethrowsAFailureOfAnyThreadToTheCaller) {
  // The failing chunk lies in the middle, so that either thread may meet it.
  const TChunkWork failing = [](std::int32_t first, std::int32_t last) {
    if (first <= 250 && 250 < last) throw std::bad_alloc();
  };
  for (unsigned threads : {1u, 2u, 4u}) EXPECT_THROW(ShareOut(500, 5, threads, failing), std::bad_alloc) << threads;
  const TChunkWork logicFailure = [](std::int32_t, std::int32_t) { throw std::runtime_error("failed"); };
  EXPECT_THROW(ShareOut(100, 1, 3, logicFailure), std::runtime_error);
}

}  // namespace
