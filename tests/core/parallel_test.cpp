// Sharing a loop among threads: every item once, fewer threads when some
// cannot start, and a failure in any thread rethrown to the caller; chunks
// handed on in order, each on the thread that made it. Work in the
// background: beside its starter, awaited by any number of threads, waited
// for on destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "bleedborder/core/parallel.h"

using namespace bleedborder;

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

// Records the chunks handed on and checks that each was made by the same
// worker just before, into that worker's own slot.
struct OrderedTally {
  explicit OrderedTally(unsigned threads) : madeBy(threads, -1) {}
  TWorkerChunkWork Make() {
    return [this](unsigned worker, std::int32_t first, std::int32_t) { madeBy.at(worker) = first; };
  }
  TWorkerChunkWork HandOn() {
    return [this](unsigned worker, std::int32_t first, std::int32_t last) {
      const std::lock_guard<std::mutex> guard(lock);
      if (madeBy.at(worker) != first) wrongWorker = true;
      for (std::int32_t i = first; i < last; ++i) handedOn.push_back(i);
    };
  }
  bool InOrder(std::int32_t count) const {
    if (wrongWorker || handedOn.size() != static_cast<std::size_t>(count)) return false;
    for (std::int32_t i = 0; i < count; ++i)
      if (handedOn[static_cast<std::size_t>(i)] != i) return false;
    return true;
  }
  std::vector<std::int32_t> madeBy;  // per worker: the first item of its last chunk made
  std::mutex lock;
  std::vector<std::int32_t> handedOn;
  bool wrongWorker = false;
};

TEST(ShareOutInOrder, HandsEveryChunkOnInOrderFromTheThreadThatMadeIt) {
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    for (std::int32_t chunk : {1, 7}) {
      OrderedTally tally(threads);
      ShareOutInOrder(2000, chunk, threads, tally.Make(), tally.HandOn());
      EXPECT_TRUE(tally.InOrder(2000)) << threads << " threads, chunks of " << chunk;
    }
  }
  int attempts = 0;
  const TThreadStarter startsOne = [&](std::function<void()> body) {
    if (attempts++ >= 1) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  };
  OrderedTally tally(4);
  ShareOutInOrder(500, 2, 4, tally.Make(), tally.HandOn(), startsOne);
  EXPECT_TRUE(tally.InOrder(500)) << "one helper thread started";
}

TEST(ShareOutInOrder, AFailureInMakingOrHandingOnReachesTheCallerWithoutAHang) {
  const TWorkerChunkWork nothing = [](unsigned, std::int32_t, std::int32_t) {};
  const TWorkerChunkWork failsAt250 = [](unsigned, std::int32_t first, std::int32_t last) {
    if (first <= 250 && 250 < last) throw std::bad_alloc();
  };
  for (unsigned threads : {1u, 2u, 4u}) {
    EXPECT_THROW(ShareOutInOrder(500, 5, threads, failsAt250, nothing), std::bad_alloc) << threads;
    EXPECT_THROW(ShareOutInOrder(500, 5, threads, nothing, failsAt250), std::bad_alloc) << threads;
  }
}

TEST(BackgroundWork, RunsBesideItsStarterAndEveryWaiterGetsItsResultOrItsFailure) {
  for (const bool fails : {false, true}) {
    std::atomic<bool> starterWentOn{false};
    std::thread::id ranOn;
    int result = 0;
    const TBackgroundWork work(
        [&] {
          // Ends once the starter has gone on past the constructor (or, were
          // the work done in the constructor, after a while instead of never).
          const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
          while (!starterWentOn.load() && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
          ranOn = std::this_thread::get_id();
          result = 42;
          if (fails) throw std::runtime_error("work failed");
        },
        true);
    starterWentOn.store(true);
    std::atomic<int> sawResult{0}, sawFailure{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
      waiters.emplace_back([&] {
        try {
          work.Await();
          sawResult += result == 42;
        } catch (const std::runtime_error&) {
          sawFailure += 1;
        }
      });
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(sawResult.load(), fails ? 0 : 4);
    EXPECT_EQ(sawFailure.load(), fails ? 4 : 0);
    EXPECT_NE(ranOn, std::this_thread::get_id());
  }
}

TEST(BackgroundWork, IsDoneInTheConstructorWhenNotOnAThreadAndWaitedForWhenDestroyed) {
  std::thread::id ranOn;
  const TBackgroundWork atOnce([&] { ranOn = std::this_thread::get_id(); }, false);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_THROW(TBackgroundWork([] { throw std::bad_alloc(); }, false), std::bad_alloc);
  bool finished = false;
  {
    const TBackgroundWork slow(
        [&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          finished = true;
        },
        true);
  }
  EXPECT_TRUE(finished) << "the object went before its work was done";
}

}  // namespace
