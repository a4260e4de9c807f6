// Bitmap canvases: their memory contexts, and the library's start and stop.
#include <gtest/gtest.h>

#include <thread>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace {

void SizeBitmap(TBitmap& bitmap, std::int32_t width, std::int32_t height) {
  bitmap.SetDepth(TPixelDepth::pd32Bit);
  bitmap.SetWidth(width);
  bitmap.SetHeight(height);
}

gdi::HGDIOBJ SelectedBitmap(TCanvas& canvas) {
  return gdi::GetCurrentObject(canvas.CurrentContext(), gdi::ObjectKind::Bitmap);
}

TEST(BitmapCanvas, BitmapsSharingStorageTakeTheContextFromEachOther) {
  TBitmap first;
  SizeBitmap(first, 5, 3);
  TBitmap second;
  second.TakeFrom(&first);
  ASSERT_EQ(&first.SharedImage(), &second.SharedImage());
  TBitmapCanvas& a = first.Canvas();
  TBitmapCanvas& b = second.Canvas();
  const gdi::HBITMAP shared = first.SharedImage().BitmapHandle;

  a.RequireParts(cpHandle);
  EXPECT_EQ(SelectedBitmap(a), gdi::HGDIOBJ(shared));
  EXPECT_TRUE(ActiveBitmapCanvases().Contains(&a));

  b.RequireParts(cpHandle);
  EXPECT_FALSE(a.CurrentContext());
  EXPECT_FALSE(ActiveBitmapCanvases().Contains(&a));
  EXPECT_EQ(SelectedBitmap(b), gdi::HGDIOBJ(shared));

  a.RequireParts(cpHandle);
  EXPECT_FALSE(b.CurrentContext());
  EXPECT_EQ(SelectedBitmap(a), gdi::HGDIOBJ(shared));
}

TEST(BitmapCanvas, DroppingEveryContextSparesACanvasInUse) {
  TBitmap idle, busy;
  SizeBitmap(idle, 2, 2);
  SizeBitmap(busy, 2, 2);
  idle.Canvas().RequireParts(cpHandle);
  busy.Canvas().RequireParts(cpHandle);
  // Entering a canvas holds the library lock until the canvas is left, so a
  // drop on another thread would wait for that; the entering thread drops.
  std::thread user([&] {
    busy.Canvas().EnterLock();
    DropAllContexts();
    busy.Canvas().LeaveLock();
  });
  user.join();
  EXPECT_FALSE(idle.Canvas().CurrentContext());
  EXPECT_TRUE(busy.Canvas().CurrentContext());
}

TEST(GraphicsLibrary, StartupAndShutdownLeaveNothingBehind) {
  GraphicsShutdown();
  const std::size_t before = gdi::LiveObjectCount();
  GraphicsStartup();
  EXPECT_TRUE(StockBlackPen());
  EXPECT_EQ(DefaultFontSettings().Height, -11);
  {
    TBitmap picture;
    SizeBitmap(picture, 4, 4);
    TBitmap sharer;
    sharer.TakeFrom(&picture);
    picture.Canvas().Pen().SetColor(clRed);
    picture.Canvas().Font().SetStyle(fsBold);
    picture.Canvas().RequireParts(cpAll);
    sharer.Canvas().RequireParts(cpAll);
  }
  // A canvas still holding a context at shut-down gives it back there.
  TBitmap survivor;
  SizeBitmap(survivor, 2, 2);
  survivor.Canvas().RequireParts(cpHandle);
  GraphicsShutdown();
  EXPECT_FALSE(survivor.Canvas().CurrentContext());
  survivor.TakeFrom(nullptr);
  EXPECT_EQ(gdi::LiveObjectCount(), before);
  GraphicsStartup();
}

}  // namespace
