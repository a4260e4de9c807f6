// Sequences on several threads that once read wrong colours, drew nothing,
// raced or deadlocked. A deadlock fails by the test's time limit, a race
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
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

constexpr int kRounds = 1000;
const TRect kWhole{0, 0, kPictureWidth, kPictureHeight};

// Runs first on a new thread and second on this one, started together.
template <class First, class Second>
void RunTogether(First first, Second second) {
  std::latch start(2);
  std::thread other([&] {
    start.arrive_and_wait();
    first();
  });
  start.arrive_and_wait();
  second();
  other.join();
}

// Bitmaps sharing one storage, each read on its own thread: each canvas takes
// the shared handle from the others' contexts on every read, and a read must
// still see the picture. One thread also copies its bitmap and draws from it.
TEST(CanvasThreads, BitmapsSharingStorageAreReadAndDrawnFromOnTheirOwnThreads) {
  constexpr int kSharers = 4, kReads = 4 * kRounds;
  TBitmap bitmaps[kSharers];
  Fill(bitmaps[0], kPictureWidth, kPictureHeight, kPicture);
  for (TBitmap& bitmap : bitmaps) bitmap.TakeFrom(&bitmaps[0]);
  auto read = [](TBitmap& bitmap, int round) {
    const std::int32_t x = round % kPictureWidth, y = round / kPictureWidth % kPictureHeight;
    ASSERT_EQ(bitmap.Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;
  };
  TBitmap copy, target;
  FillSolid(target, kPictureWidth, kPictureHeight, kYellow);
  auto readAndDrawFrom = [&](TBitmap& bitmap, int round) {
    read(bitmap, round);
    if (round % 8 != 0) return;
    copy.TakeFrom(&bitmap);
    copy.Canvas().FillArea({0, 0, 1, 1});  // the copy's own storage first, then white in its corner
    target.Canvas().StretchCopy(kWhole, bitmap.Canvas(), kWhole);
    Pixels expected = kPicture;
    ASSERT_EQ(ColorsOf(target), expected) << "round " << round;
    expected[0] = kWhite;
    ASSERT_EQ(ColorsOf(copy), expected) << "round " << round;
  };
  std::latch start(kSharers);
  std::vector<std::thread> readers;
  for (int t = 1; t < kSharers; ++t) {
    readers.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kReads; ++round) read(bitmaps[t], round);
    });
  }
  start.arrive_and_wait();
  for (int round = 0; round < kReads; ++round) readAndDrawFrom(bitmaps[0], round);
  for (std::thread& reader : readers) reader.join();
  for (TBitmap& bitmap : bitmaps) EXPECT_EQ(ColorsOf(bitmap), kPicture);
}

// One thread fills a bitmap inside its canvas's lock, which first gives the
// bitmap storage of its own and so drops its context; the other thread reads
// a bitmap sharing that storage, which takes the handle from that context.
TEST(CanvasThreads, AnEnteredCanvasDrawsWhileABitmapSharingItsStorageIsRead) {
  TBitmap picture;
  Fill(picture, kPictureWidth, kPictureHeight, kPicture);
  TBitmapCanvas& pictureCanvas = picture.Canvas();
  auto shareInto = [&](TBitmap& bitmap) {
    pictureCanvas.EnterLock();
    bitmap.TakeFrom(&picture);
    pictureCanvas.LeaveLock();
  };
  TBitmap a, b;
  RunTogether(
      [&] {
        for (int round = 0; round < kRounds; ++round) {
          shareInto(a);
          TCanvas& canvas = a.Canvas();
          ASSERT_EQ(canvas.PixelAt(0, 0), PictureColor(0, 0));  // a context holding the shared handle
          canvas.EnterLock();
          canvas.Brush().SetColor(clNavy);
          canvas.FillArea({0, 0, 2, 2});
          const TColor filled = canvas.PixelAt(1, 1);
          canvas.LeaveLock();
          ASSERT_EQ(filled, clNavy) << "round " << round;
          ASSERT_EQ(canvas.PixelAt(3, 2), PictureColor(3, 2)) << "round " << round;
        }
      },
      [&] {
        for (int round = 0; round < kRounds; ++round) {
          shareInto(b);
          const std::int32_t x = round % kPictureWidth, y = round / kPictureWidth % kPictureHeight;
          ASSERT_EQ(b.Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;
        }
      });
  EXPECT_EQ(ColorsOf(picture), kPicture);
}

// Each thread enters its own canvas and takes over the other's brush: the
// copy takes the other canvas's lock while the caller holds its own.
TEST(CanvasThreads, TwoEnteredCanvasesTakeOverEachOthersBrush) {
  const LibraryCensus before;
  {
    TCanvas first, second;
    first.Brush().SetColor(clRed);
    second.Brush().SetColor(clBlue);
    auto swapRounds = [](TCanvas& own, TCanvas& other, TColor color) {
      for (int round = 0; round < kRounds; ++round) {
        own.EnterLock();
        own.Brush().SetColor(color + round % 3);
        own.SetBrush(other.Brush());
        own.LeaveLock();
      }
    };
    RunTogether([&] { swapRounds(first, second, clRed); }, [&] { swapRounds(second, first, clBlue); });
    for (TCanvas* canvas : {&first, &second}) {
      const TColor color = canvas->Brush().Color();
      EXPECT_TRUE((color >= clRed && color < clRed + 3) || (color >= clBlue && color < clBlue + 3)) << color;
    }
  }
  ExpectSameCensus(before, LibraryCensus{});
}

// A canvas entered on one thread holds the library lock: destroying a bitmap
// on another waits for LeaveLock, and then goes ahead.
TEST(CanvasThreads, ABitmapIsDestroyedOnceAnotherThreadLeavesItsCanvas) {
  TBitmap picture;
  Fill(picture, kPictureWidth, kPictureHeight, kPicture);
  auto sharer = std::make_unique<TBitmap>();
  sharer->TakeFrom(&picture);
  sharer->Canvas();
  TCanvas entered;
  entered.EnterLock();
  auto destroyed = std::async(std::launch::async, [&] { sharer.reset(); });
  const std::future_status whileEntered = destroyed.wait_for(std::chrono::milliseconds(100));
  entered.LeaveLock();
  const std::future_status afterLeaving = destroyed.wait_for(std::chrono::seconds(20));
  EXPECT_EQ(whileEntered, std::future_status::timeout);
  EXPECT_EQ(afterLeaving, std::future_status::ready);
}

// Saving an indexed picture reads its colour table through the canvas's
// context; a sharer saving on another thread takes that context away on every
// save, and each save must still write the whole picture.
TEST(CanvasThreads, BitmapsSharingAnIndexedStorageAreSavedOnTheirOwnThreads) {
  TBitmap first, second;
  Fill(first, kPictureWidth, kPictureHeight, kPicture);
  first.SetDepth(TPixelDepth::pd8Bit);
  TMemoryStream reference;
  first.StoreStream(reference);
  second.TakeFrom(&first);
  auto save = [&](TBitmap& bitmap) {
    for (int round = 0; round < kRounds; ++round) {
      TMemoryStream saved;
      bitmap.StoreStream(saved);
      ASSERT_EQ(std::vector<std::uint8_t>(saved.Memory(), saved.Memory() + saved.Size()),
                std::vector<std::uint8_t>(reference.Memory(), reference.Memory() + reference.Size()))
          << "round " << round;
    }
  };
  RunTogether([&] { save(first); }, [&] { save(second); });
}

// A device bitmap's storage is given its section when a sharer first saves
// it; a sharer on another thread asking for its size, kind and depth
// meanwhile reads the record that writes.
TEST(CanvasThreads, SizeKindAndDepthAreAskedWhileASharerGivesTheStorageItsSection) {
  for (int round = 0; round < 50; ++round) {
    TBitmap first, second, sharer;
    Fill(first, kPictureWidth, kPictureHeight, kPicture);
    // Shared while it changes kind, it gets storage of its own: a device
    // bitmap without a section.
    sharer.TakeFrom(&first);
    first.SetKind(TBitmapKind::bkDDB);
    second.TakeFrom(&first);
    ASSERT_FALSE(second.SharedImage().SectionHandle);
    std::atomic<bool> saved{false};
    RunTogether(
        [&] {
          TMemoryStream stream;
          first.StoreStream(stream);
          saved = true;
        },
        [&] {
          while (!saved) {
            ASSERT_EQ(second.Width(), kPictureWidth);
            ASSERT_EQ(second.Height(), kPictureHeight);
            const TBitmapKind kind = second.Kind();
            const TPixelDepth depth = second.Depth();
            ASSERT_TRUE(kind == TBitmapKind::bkDDB || kind == TBitmapKind::bkDIB);
            ASSERT_TRUE(depth != TPixelDepth::pdCustom) << "round " << round;
          }
        });
    EXPECT_TRUE(second.SharedImage().SectionHandle) << "the save gave the storage no section";
  }
}

}  // namespace
