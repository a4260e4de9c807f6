// Several threads making, changing, copying and destroying tools and bitmap
// canvases whose bitmaps share one storage. It passes when nothing deadlocks,
// crashes or (under ThreadSanitizer) races. BLEED_STRESS_ROUNDS lengthens it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/graphics_lib.h"
#include "canvas/tools.h"
#include "image/bitmap.h"
#include "image/image_globals.h"
#include "tests/support/library_fixture.h"

namespace {

int StressRounds() {
  if (const char* text = std::getenv("BLEED_STRESS_ROUNDS")) return std::max(1, std::atoi(text));
  return 1000;
}

TEST(CanvasThreads, SharedStorageAndToolTrafficNeitherDeadlocksNorRaces) {
  constexpr int kThreads = 4;
  const int rounds = StressRounds();

  TBitmap shared;
  shared.SetDepth(TPixelDepth::pd8Bit);
  shared.SetWidth(6);
  shared.SetHeight(5);
  // Handle and palette are made here, once, so the sharers only read them.
  shared.EnsureHandle();
  shared.PaletteHandle();

  // One long-lived plain canvas per thread: its owner changes its tools,
  // the other threads copy them.
  std::vector<std::unique_ptr<TCanvas>> peers;
  for (int t = 0; t < kThreads; ++t) peers.push_back(std::make_unique<TCanvas>());

  auto work = [&](int t) {
    TCanvas& own = *peers[t];
    TCanvas& other = *peers[(t + 1) % kThreads];
    for (int round = 0; round < rounds; ++round) {
      own.Pen().SetColor(static_cast<TColor>(round % 5));
      own.Brush().SetStyle(round % 2 ? TBrushStyle::bsClear : TBrushStyle::bsCross);
      own.Font().SetSize(8 + round % 3);

      auto mine = std::make_unique<TBitmap>();
      {
        // Storage counts of bitmaps in different threads change under the share lock.
        TLockGuard share(ImageShareLock());
        mine->TakeFrom(&shared);
      }
      TBitmapCanvas& canvas = mine->Canvas();
      canvas.Pen().SetWidth(round % 3);
      // Takes the shared handle from the other threads' contexts; raises if
      // no context could be had.
      canvas.RequireParts(cpAll);
      canvas.Brush().TakeFrom(&other.Brush());  // deselects a selected brush at once
      canvas.SetPen(other.Pen());
      other.Font().TakeFrom(&canvas.Font());
      canvas.RequireParts(cpAll);
      if (round % 16 == t) DropAllContexts();

      TLockGuard share(ImageShareLock());
      mine.reset();
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(shared.SharedImage().ShareCount, 1);
  EXPECT_EQ(ActiveBitmapCanvases().Count(), 0u);
}

}  // namespace
