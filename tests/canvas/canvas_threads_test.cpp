// Sequences on several threads that once read wrong colours, drew nothing,
// raced or deadlocked. A deadlock fails by the test's time limit, a race
// under ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/tools.h"
#include "image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/canvas/thread_support.h"
#include "tests/support/library_fixture.h"

namespace {

using namespace drawing_test;
using namespace thread_test;

constexpr int kRounds = 200;
const TRect kWhole{0, 0, kPictureWidth, kPictureHeight};

// Each bitmap's canvas takes the shared handle from the other's context on
// every read; a read must still see the picture, and a copy drawn from the
// shared storage must hold the picture.
TEST(CanvasThreads, BitmapsSharingStorageAreReadAndDrawnFromOnTheirOwnThreads) {
  TBitmap a, b;
  Fill(a, kPictureWidth, kPictureHeight, kPicture);
  b.TakeFrom(&a);
  auto readRounds = [](TBitmap& bitmap) {
    for (int round = 0; round < kRounds; ++round) {
      const std::int32_t x = round % kPictureWidth, y = round / kPictureWidth % kPictureHeight;
      ASSERT_EQ(bitmap.Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;
    }
  };
  std::thread reader([&] { readRounds(a); });
  TBitmap copy, target;
  FillSolid(target, kPictureWidth, kPictureHeight, kYellow);
  for (int round = 0; round < kRounds / 4; ++round) {
    copy.TakeFrom(&b);
    copy.Canvas().FillArea({0, 0, 1, 1});  // the copy's own storage first, then white in its corner
    target.Canvas().StretchCopy(kWhole, b.Canvas(), kWhole);
    Pixels expected = kPicture;
    ASSERT_EQ(ColorsOf(target), expected) << "round " << round;
    expected[0] = kWhite;
    ASSERT_EQ(ColorsOf(copy), expected) << "round " << round;
  }
  readRounds(b);
  reader.join();
  EXPECT_EQ(ColorsOf(a), kPicture);
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
  std::thread filler([&] {
    TBitmap a;
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
  });
  TBitmap b;
  for (int round = 0; round < kRounds; ++round) {
    shareInto(b);
    const std::int32_t x = round % kPictureWidth, y = round / kPictureWidth % kPictureHeight;
    ASSERT_EQ(b.Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;
  }
  filler.join();
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
    std::thread one([&] { swapRounds(first, second, clRed); });
    swapRounds(second, first, clBlue);
    one.join();
    for (TCanvas* canvas : {&first, &second}) {
      const TColor color = canvas->Brush().Color();
      EXPECT_TRUE((color >= clRed && color < clRed + 3) || (color >= clBlue && color < clBlue + 3)) << color;
    }
  }
  ExpectSameCensus(before, LibraryCensus{});
}

// Destroying a bitmap whose canvas has no context waits for no lock, even
// while another thread holds a canvas entered (and so the context lock).
TEST(CanvasThreads, ABitmapWithoutAContextIsDestroyedWhileACanvasIsEntered) {
  TBitmap picture;
  Fill(picture, kPictureWidth, kPictureHeight, kPicture);
  auto sharer = std::make_unique<TBitmap>();
  sharer->TakeFrom(&picture);
  sharer->Canvas();
  TCanvas entered;
  entered.EnterLock();
  auto destroyed = std::async(std::launch::async, [&] { sharer.reset(); });
  const std::future_status status = destroyed.wait_for(std::chrono::seconds(20));
  entered.LeaveLock();
  destroyed.wait();
  EXPECT_EQ(status, std::future_status::ready);
}

}  // namespace
