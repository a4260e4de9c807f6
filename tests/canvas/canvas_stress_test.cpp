// Four threads drawing with bitmaps that share storage. In each round a
// thread takes two bitmaps sharing the two pictures (one drawn opaque, one
// with white transparent), reads them, changes and copies tools between
// canvases inside EnterLock, draws with every drawing operation, checks what
// it read and drew, and hands one bitmap to the next thread to be destroyed
// there. At the end the device's live objects and the tool caches' users are
// back where they started. BLEED_STRESS_ROUNDS sets the rounds per thread; no
// thread starts a round after kTimeBudget.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/canvas/thread_support.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace {

using namespace drawing_test;
using namespace thread_test;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 4;
constexpr auto kTimeBudget = std::chrono::seconds(60);
constexpr std::int32_t kTargetWidth = 3 * kPictureWidth;
const TRect kWhole{0, 0, kPictureWidth, kPictureHeight};

int StressRounds() {
  if (const char* text = std::getenv("BLEED_STRESS_ROUNDS")) return std::max(1, std::atoi(text));
  return 300;
}

// What the threads share: the two pictures, one toolbox canvas per thread
// (entered for every use, by whichever thread), and the bitmaps handed on to
// be destroyed by another thread.
struct Stage {
  Stage() {
    Fill(opaque, kPictureWidth, kPictureHeight, kPicture);
    Fill(keyed, kPictureWidth, kPictureHeight, kPicture);
    keyed.SetUseTransparency(true);
    keyed.SetKeyColor(clWhite);
    // Made here: the threads only read the pictures, under their canvases' locks.
    opaque.Canvas();
    keyed.Canvas();
    for (int t = 0; t < kThreads; ++t) toolboxes.push_back(std::make_unique<TCanvas>());
  }

  void Post(int thread, std::unique_ptr<TBitmap> bitmap) {
    std::lock_guard guard(mailLock);
    mail[thread].push_back(std::move(bitmap));
  }

  void DestroyMail(int thread) {
    std::vector<std::unique_ptr<TBitmap>> received;
    {
      std::lock_guard guard(mailLock);
      received.swap(mail[thread]);
    }
  }

  TBitmap opaque, keyed;
  std::vector<std::unique_ptr<TCanvas>> toolboxes;
  std::mutex mailLock;
  std::vector<std::unique_ptr<TBitmap>> mail[kThreads];
};

std::unique_ptr<TBitmap> ShareOf(TBitmap& picture) {
  auto sharer = std::make_unique<TBitmap>();
  TCanvas& canvas = picture.Canvas();
  canvas.EnterLock();
  sharer->TakeFrom(&picture);
  canvas.LeaveLock();
  return sharer;
}

TColor PaintColor(int thread, int round) { return static_cast<TColor>(0x101010 * (1 + (thread * 5 + round) % 14)); }

// The thread's toolbox entered, then its neighbour's: around the ring every
// thread holds one canvas while it waits for the next.
void ChangeAndCopyTools(TCanvas& own, TCanvas& next, TColor paint, int round) {
  own.EnterLock();
  own.Brush().SetColor(paint);
  own.Pen().SetWidth(round % 3);
  next.EnterLock();
  own.SetPen(next.Pen());
  next.SetFont(own.Font());
  next.LeaveLock();
  own.Font().SetSize(8 + round % 3);
  own.LeaveLock();
}

// The brush's colour everywhere, then the picture copied, drawn opaque and
// drawn with white transparent, side by side.
void DrawEverything(TCanvas& canvas, TBitmap& opaque, TBitmap& keyed, bool entered) {
  if (entered) canvas.EnterLock();
  canvas.FillArea({0, 0, kTargetWidth, kPictureHeight});
  canvas.StretchCopy(kWhole, opaque.Canvas(), kWhole);
  canvas.PaintGraphic(kPictureWidth, 0, &opaque);
  canvas.PaintGraphic(2 * kPictureWidth, 0, &keyed);
  if (entered) canvas.LeaveLock();
}

Pixels Drawn(TColor paint) {
  Pixels pixels;
  for (std::int32_t y = 0; y < kPictureHeight; ++y) {
    for (std::int32_t x = 0; x < kTargetWidth; ++x) {
      const std::uint32_t pixel = kPicture[std::size_t(y * kPictureWidth + x % kPictureWidth)];
      const bool transparent = x >= 2 * kPictureWidth && pixel == kWhite;
      pixels.push_back(transparent ? Rgb(paint) : pixel);
    }
  }
  return pixels;
}

void Work(Stage& stage, int thread, int rounds, Clock::time_point deadline, int& done) {
  TBitmap target;
  FillSolid(target, kTargetWidth, kPictureHeight, kBlack);
  TBitmapCanvas& canvas = target.Canvas();
  TCanvas& own = *stage.toolboxes[std::size_t(thread)];
  TCanvas& next = *stage.toolboxes[std::size_t((thread + 1) % kThreads)];
  for (int round = 0; round < rounds && Clock::now() < deadline; ++round) {
    stage.DestroyMail(thread);
    std::unique_ptr<TBitmap> opaque = ShareOf(stage.opaque);
    std::unique_ptr<TBitmap> keyed = ShareOf(stage.keyed);
    const std::int32_t x = round % kPictureWidth, y = round / kPictureWidth % kPictureHeight;
    ASSERT_EQ(opaque->Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;
    ASSERT_EQ(keyed->Canvas().PixelAt(x, y), PictureColor(x, y)) << "round " << round;

    const TColor paint = PaintColor(thread, round);
    ChangeAndCopyTools(own, next, paint, round);
    own.EnterLock();
    canvas.SetBrush(own.Brush());
    own.LeaveLock();
    DrawEverything(canvas, *opaque, *keyed, round % 2 == 1);
    ASSERT_EQ(ColorsOf(target), Drawn(paint)) << "round " << round;

    // Drawing into a sharer gives it storage of its own; the picture stays.
    TCanvas& sharerCanvas = opaque->Canvas();
    sharerCanvas.Brush().SetColor(paint);
    sharerCanvas.FillArea({0, 0, 1, 1});
    ASSERT_EQ(sharerCanvas.PixelAt(0, 0), paint) << "round " << round;
    ASSERT_EQ(sharerCanvas.PixelAt(3, 2), PictureColor(3, 2)) << "round " << round;

    if (round % 16 == thread) DropAllContexts();
    stage.Post((thread + 1) % kThreads, std::move(keyed));
    done = round + 1;
  }
}

TEST(CanvasThreads, SharedStorageToolTrafficAndEveryDrawingOperationOnFourThreads) {
  const LibraryCensus before;
  const std::size_t activeBefore = ActiveBitmapCanvases().Count();
  {
    Stage stage;
    const int rounds = StressRounds();
    const Clock::time_point deadline = Clock::now() + kTimeBudget;
    std::vector<int> done(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(Work, std::ref(stage), t, rounds, deadline, std::ref(done[std::size_t(t)]));
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_GT(done[std::size_t(t)], 0) << "thread " << t;
      stage.DestroyMail(t);
    }
    EXPECT_EQ(stage.opaque.SharedImage().ShareCount, 1);
    EXPECT_EQ(stage.keyed.SharedImage().ShareCount, 1);
    EXPECT_EQ(ColorsOf(stage.opaque), kPicture);
    EXPECT_EQ(ColorsOf(stage.keyed), kPicture);
  }
  EXPECT_EQ(ActiveBitmapCanvases().Count(), activeBefore);
  ExpectSameCensus(before, LibraryCensus{});
}

}  // namespace
