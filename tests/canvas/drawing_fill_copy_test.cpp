// Filling, stretching copies, reading pixels and the pen position.
#include <gtest/gtest.h>

#include <cstdint>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "tests/canvas/drawing_pixels.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace drawing_test;

namespace {

constexpr std::uint32_t kNavy = 0x000080, kGold = 0xC0A000, kPlum = 0x906090;

TEST(FillArea, EmptyRectangleChangesNoPixelButStillNotifies) {
  const TRect empties[] = {{3, 1, 3, 4}, {4, 1, 2, 4}, {0, 2, 5, 2}, {0, 3, 5, 1}};
  for (const TRect& rect : empties) {
    SCOPED_TRACE(testing::Message() << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom);
    TBitmap bitmap, sharer;
    FillSolid(bitmap, 5, 4, kNavy);
    sharer.TakeFrom(&bitmap);
    bitmap.Canvas().Brush().SetColor(clRed);
    ChangeCount changes(bitmap);

    bitmap.Canvas().FillArea(rect);

    EXPECT_EQ(changes.count, 1);
    // The notification before the change gave the bitmap storage of its own.
    EXPECT_NE(&bitmap.SharedImage(), &sharer.SharedImage());
    EXPECT_EQ(ColorsOf(bitmap), Pixels(20, kNavy));
  }
}

TEST(FillArea, SolidBrushPaintsLeftTopInclusiveRightBottomExclusive) {
  TBitmap bitmap;
  FillSolid(bitmap, 4, 3, kNavy);
  bitmap.Canvas().Brush().SetColor(clYellow);
  bitmap.Canvas().FillArea({1, 1, 3, 5});
  const std::uint32_t N = kNavy, Y = kYellow;
  EXPECT_EQ(ColorsOf(bitmap), (Pixels{N, N, N, N,  //
                                      N, Y, Y, N,  //
                                      N, Y, Y, N}));
}

TEST(FillArea, CanvasWithoutContextRaisesAfterBeforeChangeOnly) {
  TCanvas canvas;
  int before = 0, after = 0;
  canvas.OnBeforeChange = [&](TCanvas*) { ++before; };
  canvas.OnAfterChange = [&](TCanvas*) { ++after; };
  EXPECT_THROW(canvas.FillArea({0, 0, 1, 1}), EInvalidOperation);
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 0);
}

TEST(StretchCopy, DoubleSizeGivesTwoByTwoBlocksAndNotifiesOnlyTheDestination) {
  const Pixels picture{kRed, kGreen, kBlue,  //
                       kNavy, kGold, kPlum};
  TBitmap source, dest;
  Fill(source, 3, 2, picture);
  FillSolid(dest, 6, 4, kWhite);
  ChangeCount sourceChanges(source), destChanges(dest);

  dest.Canvas().StretchCopy({0, 0, 6, 4}, source.Canvas(), {0, 0, 3, 2});

  Pixels expected;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) expected.push_back(picture[std::size_t(y / 2 * 3 + x / 2)]);
  EXPECT_EQ(ColorsOf(dest), expected);
  EXPECT_EQ(destChanges.count, 1);
  EXPECT_EQ(sourceChanges.count, 0);
}

// The canvas layer sets no stretch mode: a copy one column narrower than its
// source merges two neighbouring columns by AND, the platform default.
TEST(StretchCopy, OneNarrowerUnderDefaultModeMergesOneColumnByAnd) {
  TBitmap source, dest;
  Fill(source, 4, 1, {kRed, kYellow, kCyan, kBlue});
  FillSolid(dest, 3, 1, kBlack);
  dest.Canvas().StretchCopy({0, 0, 3, 1}, source.Canvas(), {0, 0, 4, 1});
  EXPECT_EQ(gdi::GetStretchBltMode(dest.Canvas().CurrentContext()), gdi::BLACKONWHITE);
  EXPECT_EQ(ColorsOf(dest), (Pixels{kRed, kYellow & kCyan, kBlue}));
}

TEST(StretchCopy, ReversedSourceRectangleMirrors) {
  const Pixels picture{kRed, kGreen, kBlue,  //
                       kNavy, kGold, kPlum};
  struct Case {
    const char* name;
    TRect sourceRect;
    Pixels expected;
  };
  const Case cases[] = {
      {"right to left", {3, 0, 0, 2}, {kBlue, kGreen, kRed, kPlum, kGold, kNavy}},
      {"bottom to top", {0, 2, 3, 0}, {kNavy, kGold, kPlum, kRed, kGreen, kBlue}},
      {"both", {3, 2, 0, 0}, {kPlum, kGold, kNavy, kBlue, kGreen, kRed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap source, dest;
    Fill(source, 3, 2, picture);
    FillSolid(dest, 3, 2, kWhite);
    dest.Canvas().StretchCopy({0, 0, 3, 2}, source.Canvas(), c.sourceRect);
    EXPECT_EQ(ColorsOf(dest), c.expected);
  }
}

TEST(StretchCopy, CanvasOntoItselfMovesAllPixelsAtOnce) {
  TBitmap bitmap;
  Fill(bitmap, 4, 1, {kRed, kGreen, kBlue, kNavy});
  bitmap.Canvas().StretchCopy({1, 0, 4, 1}, bitmap.Canvas(), {0, 0, 3, 1});
  EXPECT_EQ(ColorsOf(bitmap), (Pixels{kRed, kRed, kGreen, kBlue}));
}

TEST(PixelAt, AnswersRedLowestInsideAndInvalidOutsideWithoutNotifying) {
  TBitmap bitmap;
  Fill(bitmap, 3, 2, {0x112233, 0, 0,  //
                      0, 0, 0x7F445566});
  ChangeCount changes(bitmap);
  TCanvas& canvas = bitmap.Canvas();
  EXPECT_EQ(canvas.PixelAt(0, 0), 0x332211);
  EXPECT_EQ(canvas.PixelAt(2, 1), 0x665544);
  const TPoint outside[] = {{-1, 0}, {3, 0}, {0, -1}, {0, 2}, {INT32_MIN, INT32_MAX}};
  for (const TPoint& p : outside) {
    EXPECT_EQ(static_cast<gdi::COLORREF>(canvas.PixelAt(p.x, p.y)), gdi::CLR_INVALID) << p.x << "," << p.y;
  }
  EXPECT_EQ(changes.count, 0);
}

TEST(PenPoint, SurvivesADroppedContext) {
  TBitmap bitmap;
  FillSolid(bitmap, 4, 4, kWhite);
  TCanvas& canvas = bitmap.Canvas();
  canvas.SetPenPoint({3, -7});
  EXPECT_EQ(canvas.PenPoint(), (TPoint{3, -7}));

  bitmap.ReleaseContext();
  ASSERT_FALSE(canvas.CurrentContext());
  EXPECT_EQ(canvas.PenPoint(), (TPoint{3, -7}));
  EXPECT_TRUE(canvas.CurrentContext());  // reading it made a context again

  canvas.MovePen(1, 2);
  bitmap.ReleaseContext();
  EXPECT_EQ(canvas.PenPoint(), (TPoint{1, 2}));
}

}  // namespace
