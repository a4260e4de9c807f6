#pragma once
// What the thread tests count before and after: the tools using each tool
// cache, and the pictures every sharer must read back; and a way to make two
// threads' work really overlap.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/resource_manager.h"
#include "tests/canvas/drawing_pixels.h"

using namespace bleedborder;

namespace thread_test {

using drawing_test::Pixels;

// The users and entries of one tool cache.
struct CacheCensus {
  std::int64_t users = 0;
  std::int64_t entries = 0;
};

inline CacheCensus Census(TResourceManager& cache) {
  TLibraryHold hold;
  CacheCensus census;
  for (const TToolEntry* entry = cache.Entries(); entry; entry = entry->Link) {
    census.users += entry->Users;
    ++census.entries;
  }
  return census;
}

// The three caches' census and the device's live objects at one moment.
struct LibraryCensus {
  CacheCensus fonts = Census(FontCache());
  CacheCensus pens = Census(PenCache());
  CacheCensus brushes = Census(BrushCache());
  std::size_t deviceObjects = gdi::LiveObjectCount();
};

inline void ExpectSameCensus(const LibraryCensus& before, const LibraryCensus& after) {
  EXPECT_EQ(after.fonts.users, before.fonts.users);
  EXPECT_EQ(after.fonts.entries, before.fonts.entries);
  EXPECT_EQ(after.pens.users, before.pens.users);
  EXPECT_EQ(after.pens.entries, before.pens.entries);
  EXPECT_EQ(after.brushes.users, before.brushes.users);
  EXPECT_EQ(after.brushes.entries, before.brushes.entries);
  EXPECT_EQ(after.deviceObjects, before.deviceObjects);
}

// A 4 x 3 picture with white in it (the key colour of transparent draws).
constexpr std::int32_t kPictureWidth = 4, kPictureHeight = 3;
inline const Pixels kPicture{drawing_test::kRed,    drawing_test::kWhite, drawing_test::kBlue,  drawing_test::kGreen,
                             drawing_test::kWhite,  drawing_test::kCyan,  drawing_test::kBlack, drawing_test::kWhite,
                             drawing_test::kYellow, drawing_test::kBlue,  drawing_test::kWhite, 0x123456};

// The colour PixelAt answers for the picture's pixel at (x, y).
inline TColor PictureColor(std::int32_t x, std::int32_t y) {
  return static_cast<TColor>(drawing_test::Rgb(static_cast<TColor>(kPicture[std::size_t(y * kPictureWidth + x)])));
}

// Calls step, turning an exception (which would end the program on a thread
// of its own) into a test failure; false when it threw.
inline bool Guarded(const std::function<void()>& step) {
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "exception: " << e.what();
  } catch (...) {
    ADD_FAILURE() << "exception of an unknown type";
  }
  return false;
}

// Runs each piece of work and each alongside step on a thread of its own,
// all started together. Each alongside step is called again and again until
// every piece of work has returned, and the work starts only once every
// alongside step is running, so that the two really overlap. A step returns
// false to stop early (after a failure).
inline void RunAlongside(const std::vector<std::function<void()>>& work,
                         const std::vector<std::function<bool()>>& alongside) {
  std::latch start(std::ptrdiff_t(work.size() + alongside.size()));
  std::atomic<std::size_t> notRunning{alongside.size()}, working{work.size()};
  std::vector<std::thread> threads;
  for (const std::function<bool()>& step : alongside) {
    threads.emplace_back([&, step] {
      start.arrive_and_wait();
      bool keepGoing = true;
      const std::function<void()> once = [&] { keepGoing = step(); };
      bool first = true;
      do {
        if (std::exchange(first, false)) --notRunning;
        if (!Guarded(once)) keepGoing = false;
      } while (keepGoing && working.load() > 0);
    });
  }
  for (const std::function<void()>& piece : work) {
    threads.emplace_back([&, piece] {
      start.arrive_and_wait();
      while (notRunning.load() > 0) std::this_thread::yield();
      Guarded(piece);
      --working;
    });
  }
  for (std::thread& thread : threads) thread.join();
}

inline void RunAlongside(const std::function<void()>& work, const std::function<bool()>& alongside) {
  RunAlongside(std::vector<std::function<void()>>{work}, std::vector<std::function<bool()>>{alongside});
}

}  // namespace thread_test
