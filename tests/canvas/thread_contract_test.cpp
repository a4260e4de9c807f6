// What a program may do from several threads, as the README promises it:
// sequences on bitmaps that share storage, on one bitmap used inside its
// canvas's lock, on change callbacks and on a tool of the program's own. Each
// side of a sequence runs again and again while the other works, so that the
// two really overlap; a race fails under ThreadSanitizer, a wait that never
// ends by a bounded wait of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/canvas/thread_support.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace {

using namespace drawing_test;
using namespace thread_test;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 100;

std::vector<std::uint8_t> BytesOf(TMemoryStream& stream) {
  return {stream.Memory(), stream.Memory() + stream.Size()};
}

// A canvas entered for a scope, left also when the use throws.
class EnteredCanvas {
 public:
  explicit EnteredCanvas(TCanvas& canvas) : canvas_(canvas) { canvas_.EnterLock(); }
  EnteredCanvas(const EnteredCanvas&) = delete;
  EnteredCanvas& operator=(const EnteredCanvas&) = delete;
  ~EnteredCanvas() { canvas_.LeaveLock(); }

 private:
  TCanvas& canvas_;
};

// A sharer saving a device bitmap gives the storage its section; the other
// sharer's kind, depth and emptiness stay what they were meanwhile.
TEST(ThreadContract, KindDepthAndEmptinessAreAskedWhileASharerGivesTheStorageItsSection) {
  for (int round = 0; round < kRounds; ++round) {
    TBitmap first, second, sharer;
    Fill(first, kPictureWidth, kPictureHeight, kPicture);
    // Shared while it changes kind, it gets storage of its own: a device
    // bitmap without a section.
    sharer.TakeFrom(&first);
    first.SetKind(TBitmapKind::bkDDB);
    second.TakeFrom(&first);
    RunAlongside(
        [&] {
          TMemoryStream stream;
          first.StoreStream(stream);
        },
        [&] {
          const bool unchanged = second.Kind() == TBitmapKind::bkDDB && second.Depth() == TPixelDepth::pdDevice &&
                                 !second.IsEmpty() && second.Width() == kPictureWidth;
          EXPECT_TRUE(unchanged) << "round " << round;
          return unchanged;
        });
  }
}

// Sharing behaves like a copy also for an empty bitmap: changing the kind of
// one sharer leaves the other's kind alone.
TEST(ThreadContract, AnEmptySharerChangingItsKindLeavesTheOthersKind) {
  struct Case {
    TBitmapKind shared, changedTo;
  };
  for (const Case& c : {Case{TBitmapKind::bkDDB, TBitmapKind::bkDIB}, Case{TBitmapKind::bkDIB, TBitmapKind::bkDDB}}) {
    TBitmap original, sharer;
    original.SetKind(c.shared);
    sharer.TakeFrom(&original);
    sharer.SetKind(c.changedTo);
    EXPECT_EQ(sharer.Kind(), c.changedTo);
    EXPECT_EQ(original.Kind(), c.shared) << "the kind changed through the shared storage";
    EXPECT_TRUE(original.IsEmpty() && sharer.IsEmpty());
  }
}

TEST(ThreadContract, AnEmptySharerChangesItsKindWhileTheOtherAsksForItsOwn) {
  TBitmap original, sharer;
  sharer.TakeFrom(&original);
  const TBitmapKind kind = original.Kind();
  RunAlongside(
      [&] {
        for (int round = 0; round < 10 * kRounds; ++round) {
          sharer.SetKind(TBitmapKind::bkDIB);
          sharer.SetKind(TBitmapKind::bkDDB);
        }
      },
      [&] {
        const bool unchanged = original.Kind() == kind;
        EXPECT_TRUE(unchanged) << "the kind changed through the shared storage";
        return unchanged;
      });
}

// Saving an indexed picture records its colour count in the storage while a
// sharer resizing itself copies the storage's description.
TEST(ThreadContract, ASharerIsResizedWhileTheOtherIsSaved) {
  TBitmap first;
  Fill(first, kPictureWidth, kPictureHeight, kPicture);
  first.SetDepth(TPixelDepth::pd8Bit);
  TMemoryStream reference;
  first.StoreStream(reference);
  for (int round = 0; round < 2 * kRounds; ++round) {
    TBitmap second;
    second.TakeFrom(&first);
    RunAlongside([&] { second.SetWidth(kPictureWidth + 1); },
                 [&] {
                   TMemoryStream saved;
                   first.StoreStream(saved);
                   const bool same = BytesOf(saved) == BytesOf(reference);
                   EXPECT_TRUE(same) << "round " << round;
                   return same;
                 });
    EXPECT_EQ(second.Width(), kPictureWidth + 1);
    EXPECT_EQ(second.Depth(), TPixelDepth::pd8Bit);
  }
}

// A bitmap is saved while another thread draws on it and resizes it: the
// bytes are written without the library lock, so the storage they come from
// must not change, nor go, under them. Each save is the file of one of the
// states the other thread passes through, whole.
TEST(ThreadContract, ABitmapIsSavedWhileAnotherThreadDrawsOnItAndResizesIt) {
  constexpr std::int32_t kWidth = 160, kHeight = 120;
  const TColor colors[] = {static_cast<TColor>(0x2040C0), static_cast<TColor>(0x10A030)};
  // The other thread's steps, each one library call, in a cycle.
  const std::function<void(TBitmap&)> steps[] = {
      [&](TBitmap& b) { b.Canvas().Brush().SetColor(colors[0]); },
      [&](TBitmap& b) { b.Canvas().FillArea({0, 0, kWidth, kHeight}); },
      [&](TBitmap& b) { b.SetWidth(kWidth / 2); },
      [&](TBitmap& b) { b.SetWidth(kWidth); },
      [&](TBitmap& b) { b.Canvas().Brush().SetColor(colors[1]); },
      [&](TBitmap& b) { b.Canvas().FillArea({0, 0, kWidth, kHeight}); },
  };
  const auto make = [&](TBitmap& b) {
    b.SetDepth(TPixelDepth::pd24Bit);
    b.SetWidth(kWidth);
    b.SetHeight(kHeight);
  };
  const auto saved = [](TBitmap& b) {
    TMemoryStream stream;
    b.StoreStream(stream);
    return BytesOf(stream);
  };
  // Every state of the cycle, from a bitmap of this thread's own.
  std::vector<std::vector<std::uint8_t>> states;
  {
    TBitmap alone;
    make(alone);
    states.push_back(saved(alone));
    for (int lap = 0; lap < 2; ++lap)
      for (const auto& step : steps) {
        step(alone);
        states.push_back(saved(alone));
      }
  }
  TBitmap bitmap;
  make(bitmap);
  std::size_t next = 0;
  RunAlongside(
      [&] {
        for (int i = 0; i < 40; ++i) {
          const std::vector<std::uint8_t> bytes = saved(bitmap);
          EXPECT_TRUE(std::find(states.begin(), states.end(), bytes) != states.end()) << "save " << i;
        }
      },
      [&] {
        steps[next](bitmap);
        next = (next + 1) % std::size(steps);
        return true;
      });
}

// The mask each sharer hands out stays a live bitmap while the other sharer
// asks for its own, on this thread or on another.
TEST(ThreadContract, MasksOfSharersStayValid) {
  const auto valid = [](gdi::HBITMAP mask) {
    gdi::BITMAP record{};
    return mask && gdi::GetObjectA(mask, sizeof record, &record) == int(sizeof record) &&
           record.bmWidth == kPictureWidth;
  };
  {
    TBitmap first, second;
    Fill(first, kPictureWidth, kPictureHeight, kPicture);
    second.TakeFrom(&first);
    const gdi::HBITMAP firstMask = first.MaskBitmap();
    const gdi::HBITMAP secondMask = second.MaskBitmap();
    EXPECT_TRUE(valid(firstMask)) << "the second sharer's mask deleted the first's";
    EXPECT_TRUE(valid(secondMask));
  }
  for (int round = 0; round < kRounds; ++round) {
    TBitmap first, second;
    Fill(first, kPictureWidth, kPictureHeight, kPicture);
    second.TakeFrom(&first);
    gdi::HBITMAP firstMask{}, secondMask{};
    RunAlongside([&] { firstMask = first.MaskBitmap(); },
                 [&] {
                   secondMask = second.MaskBitmap();
                   return false;
                 });
    ASSERT_TRUE(valid(firstMask)) << "round " << round;
    ASSERT_TRUE(valid(secondMask)) << "round " << round;
  }
}

// Two threads draw on one bitmap, each inside its canvas's lock; the first
// use on each asks the bitmap for its canvas, which both must get the same.
TEST(ThreadContract, TwoThreadsDrawOnOneBitmapInsideItsCanvasLock) {
  for (int round = 0; round < 2 * kRounds; ++round) {
    TBitmap bitmap;
    FillSolid(bitmap, kPictureWidth, kPictureHeight, kYellow);
    const auto draw = [&](TColor color) {
      TBitmapCanvas& canvas = bitmap.Canvas();
      EnteredCanvas entered(canvas);
      canvas.Brush().SetColor(color);
      canvas.FillArea({0, 0, 2, 2});
      EXPECT_EQ(canvas.PixelAt(1, 1), color) << "round " << round;
    };
    RunAlongside([&] { draw(clNavy); },
                 [&] {
                   draw(clMaroon);
                   return false;
                 });
  }
}

// A change callback may wait for another thread that draws (the caller holds
// no canvas entered): painting a graphic calls it without the library's
// locks, however often it calls it.
TEST(ThreadContract, ABeforeChangeCallbackWaitsForAThreadThatDrawsOnABitmapOfItsOwn) {
  constexpr auto kLongestWait = std::chrono::seconds(10);
  TBitmap dest, picture;
  FillSolid(dest, kPictureWidth, kPictureHeight, kYellow);
  Fill(picture, kPictureWidth, kPictureHeight, kPicture);
  TBitmapCanvas& canvas = dest.Canvas();
  const TCanvas::TNotifyEvent prepare = canvas.OnBeforeChange;
  std::vector<std::thread> workers;
  int calls = 0;
  canvas.OnBeforeChange = [&](TCanvas* changing) {
    prepare(changing);
    ++calls;
    auto drawn = std::make_shared<std::promise<void>>();
    std::future<void> done = drawn->get_future();
    workers.emplace_back([drawn] {
      Guarded([] {
        TBitmap own;
        FillSolid(own, 2, 2, kBlue);
        own.Canvas().FillArea({0, 0, 1, 1});
      });
      drawn->set_value();
    });
    EXPECT_EQ(done.wait_for(kLongestWait), std::future_status::ready)
        << "call " << calls << ": the drawing thread still waits after 10 s";
  };
  canvas.PaintGraphic(0, 0, &picture);
  for (std::thread& worker : workers) worker.join();
  EXPECT_GE(calls, 1);
  EXPECT_EQ(ColorsOf(dest), kPicture);
}

// A sharer making its context takes the shared handle from the other
// bitmap's context; that bitmap's thread reads its own canvas's state
// meanwhile.
TEST(ThreadContract, ACanvasIsAskedForItsContextWhileASharerTakesTheHandle) {
  for (int round = 0; round < kRounds / 10; ++round) {
    TBitmap owner, sharer;
    Fill(owner, kPictureWidth, kPictureHeight, kPicture);
    sharer.TakeFrom(&owner);
    TBitmapCanvas& ownCanvas = owner.Canvas();
    TBitmapCanvas& sharerCanvas = sharer.Canvas();
    int sharerRead = 0;
    RunAlongside(
        [&] {
          // Each read takes the handle back; in between, the sharer drops
          // this canvas's context while it is asked for it.
          for (int read = 0; read < 2 * kRounds; ++read) {
            ASSERT_EQ(ownCanvas.PixelAt(1, 1), PictureColor(1, 1)) << "round " << round << ", read " << read;
            for (int ask = 0; ask < 64; ++ask) {
              // Null or not: the sharer may take it at any time; asking
              // must not meet the sharer's write.
              volatile bool hadContext = static_cast<bool>(ownCanvas.CurrentContext());
              static_cast<void>(hadContext);
              ASSERT_EQ(ownCanvas.ValidParts() & ~cpAll, 0);
            }
          }
        },
        [&] {
          const std::int32_t x = sharerRead % kPictureWidth, y = sharerRead / kPictureWidth % kPictureHeight;
          ++sharerRead;
          const bool right = sharerCanvas.PixelAt(x, y) == PictureColor(x, y);
          EXPECT_TRUE(right) << "round " << round << ", read " << sharerRead;
          return right;
        });
  }
}

// One thread copies from its bitmap back to back while another reads a
// bitmap sharing that storage (taking the handle from the copier's context
// every time) and a third makes contexts of its own: neither waits long. A
// liveness bound, far above a copy's time.
TEST(ThreadContract, ReadsOfASharerAndContextsElsewhereProceedWhileTheOwnerCopiesBackToBack) {
  constexpr std::int32_t kSide = 512;
  constexpr auto kLongestWait = std::chrono::seconds(1);
  // Reads go on for this long (or until one waits too long): how long a
  // read waits depends on when the reading thread gets a core.
  constexpr auto kReading = std::chrono::seconds(8);
  Pixels large(std::size_t(kSide) * kSide);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint32_t>(i * 2654435761u) & 0xFFFFFF;
  TBitmap owner, sharer, target, other, otherTarget;
  Fill(owner, kSide, kSide, large);
  sharer.TakeFrom(&owner);
  Fill(other, kSide, kSide, large);
  // The copies are stretched to four times the size: a copy takes a while.
  for (TBitmap* bitmap : {&target, &otherTarget}) FillSolid(*bitmap, 4 * kSide, 4 * kSide, kBlack);
  const TRect whole{0, 0, kSide, kSide}, stretched{0, 0, 4 * kSide, 4 * kSide};
  TBitmapCanvas& sharerCanvas = sharer.Canvas();
  const auto copyingFrom = [&](TBitmap& from, TBitmap& to) {
    return [&from, &to, whole, stretched] {
      for (int copy = 0; copy < 8; ++copy) to.Canvas().StretchCopy(stretched, from.Canvas(), whole);
      return true;
    };
  };
  Clock::duration longestRead{}, longestOwnContext{};
  const Clock::time_point readingEnds = Clock::now() + kReading;
  const auto timed = [&](Clock::duration& longest, const auto& step) {
    const Clock::time_point begun = Clock::now();
    step();
    longest = std::max(longest, Clock::now() - begun);
    return longest < kLongestWait && Clock::now() < readingEnds;
  };
  RunAlongside(
      {[&] {
         for (int read = 0;; ++read) {
           const std::int32_t x = read * 37 % kSide, y = read * 91 % kSide;
           TColor color{};
           const bool goOn = timed(longestRead, [&] { color = sharerCanvas.PixelAt(x, y); });
           ASSERT_EQ(color, static_cast<TColor>(Rgb(static_cast<TColor>(large[std::size_t(y) * kSide + x]))));
           if (!goOn) break;
         }
       },
       [&] {
         for (;;) {
           TBitmap own;
           FillSolid(own, 2, 2, kBlue);
           if (!timed(longestOwnContext, [&] { own.Canvas().PixelAt(0, 0); })) break;
         }
       }},
      // The owner's copies, and an unrelated thread's that keep both cores busy.
      {copyingFrom(owner, target), copyingFrom(other, otherTarget)});
  using std::chrono::duration_cast, std::chrono::milliseconds;
  EXPECT_LT(longestRead, kLongestWait) << "a read waited " << duration_cast<milliseconds>(longestRead).count() << " ms";
  EXPECT_LT(longestOwnContext, kLongestWait)
      << "making a context elsewhere waited " << duration_cast<milliseconds>(longestOwnContext).count() << " ms";
  const Pixels copied = ColorsOf(target);
  EXPECT_EQ(copied.front(), large.front());
  EXPECT_EQ(copied.back(), large.back());
}

// A brush of the program's own, changed on one thread while another canvas
// takes over its settings: the canvas gets one of the colours, and every
// cache user is given back.
TEST(ThreadContract, ABrushOfTheProgramsOwnChangesWhileACanvasTakesItOver) {
  const LibraryCensus before;
  {
    TBrush brush;
    brush.SetColor(clRed);
    TCanvas canvas;
    RunAlongside(
        [&] {
          for (int round = 0; round < 100 * kRounds; ++round) brush.SetColor(round % 2 ? clRed : clBlue);
        },
        [&] {
          canvas.SetBrush(brush);
          const TColor color = canvas.Brush().Color();
          const bool either = color == clRed || color == clBlue;
          EXPECT_TRUE(either) << color;
          return either;
        });
  }
  ExpectSameCensus(before, LibraryCensus{});
}

}  // namespace
