// The canvas's lazy binding of its tools to a device context, and its lock.
#include <gtest/gtest.h>

#include <thread>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

namespace {

class TestCanvas : public TCanvas {
 public:
  using TCanvas::RestoreStockTools;
};

// A plain canvas drawing on a memory context of its own.
class AttachedCanvas : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(context_);
    canvas_.SetDeviceContext(context_.Get());
  }
  void TearDown() override { canvas_.SetDeviceContext(gdi::HDC{}); }

  gdi::HGDIOBJ Selected(gdi::ObjectKind kind) { return gdi::GetCurrentObject(context_.Get(), kind); }

  gdi::MemoryDC context_;
  TestCanvas canvas_;
};

TEST_F(AttachedCanvas, RequireWithEverythingValidTouchesNothing) {
  canvas_.RequireParts(cpAll);
  ASSERT_EQ(Selected(gdi::ObjectKind::Pen), gdi::HGDIOBJ(canvas_.Pen().ToolHandle()));
  // Put other objects in behind the canvas's back: a request that made any
  // selection would replace them.
  const gdi::HGDIOBJ whitePen = gdi::GetStockObject(gdi::WHITE_PEN);
  const gdi::HGDIOBJ blackBrush = gdi::GetStockObject(gdi::BLACK_BRUSH);
  gdi::SelectObject(context_.Get(), whitePen);
  gdi::SelectObject(context_.Get(), blackBrush);
  canvas_.RequireParts(cpAll);
  canvas_.RequireParts(cpPen | cpBrush);
  EXPECT_EQ(Selected(gdi::ObjectKind::Pen), whitePen);
  EXPECT_EQ(Selected(gdi::ObjectKind::Brush), blackBrush);
}

TEST_F(AttachedCanvas, BrushChangeSelectsTheHollowBrushAtOnce) {
  canvas_.RequireParts(cpHandle | cpBrush);
  const TCanvasParts valid = canvas_.ValidParts();

  canvas_.Brush().SetColor(canvas_.Brush().Color());
  EXPECT_EQ(canvas_.ValidParts(), valid);

  canvas_.Brush().SetColor(clRed);
  EXPECT_EQ(canvas_.ValidParts() & cpBrush, 0);
  EXPECT_EQ(Selected(gdi::ObjectKind::Brush), gdi::HGDIOBJ(StockHollowBrush()));

  canvas_.RequireParts(cpBrush);
  EXPECT_EQ(Selected(gdi::ObjectKind::Brush), gdi::HGDIOBJ(canvas_.Brush().ToolHandle()));
  EXPECT_EQ(gdi::GetBkColor(context_.Get()), gdi::COLORREF{clRed});
  EXPECT_EQ(gdi::GetBkMode(context_.Get()), gdi::OPAQUE);

  canvas_.Brush().SetStyle(TBrushStyle::bsCross);
  canvas_.RequireParts(cpBrush);
  EXPECT_EQ(gdi::GetBkColor(context_.Get()), ~gdi::COLORREF{clRed});
  EXPECT_EQ(gdi::GetBkMode(context_.Get()), gdi::TRANSPARENT);
}

TEST_F(AttachedCanvas, RestoringWithOnlyThePenValidPutsBackAllThreeStockObjects) {
  canvas_.RequireParts(cpHandle | cpPen);
  gdi::SelectObject(context_.Get(), gdi::GetStockObject(gdi::WHITE_BRUSH));
  canvas_.RestoreStockTools();
  EXPECT_EQ(canvas_.ValidParts(), cpHandle);
  EXPECT_EQ(Selected(gdi::ObjectKind::Pen), gdi::HGDIOBJ(StockBlackPen()));
  EXPECT_EQ(Selected(gdi::ObjectKind::Brush), gdi::HGDIOBJ(StockHollowBrush()));
  EXPECT_EQ(Selected(gdi::ObjectKind::Font), gdi::HGDIOBJ(StockSystemFont()));
}

TEST_F(AttachedCanvas, PenPositionSurvivesDetachAndAttach) {
  gdi::MoveToEx(context_.Get(), 7, 9, nullptr);
  canvas_.SetDeviceContext(context_.Get());  // the same context again: nothing happens
  canvas_.SetDeviceContext(gdi::HDC{});
  EXPECT_EQ(canvas_.ValidParts(), 0);
  gdi::MemoryDC other;
  canvas_.SetDeviceContext(other.Get());
  TPoint position;
  ASSERT_TRUE(gdi::GetCurrentPositionEx(other.Get(), &position));
  EXPECT_EQ(position, (TPoint{7, 9}));
  canvas_.SetDeviceContext(gdi::HDC{});
}

TEST(Canvas, WithoutAContextDrawingIsRefused) {
  TCanvas plain;
  TBitmapCanvas orphan(nullptr);
  for (TCanvas* canvas : {static_cast<TCanvas*>(&plain), static_cast<TCanvas*>(&orphan)}) {
    try {
      canvas->RequireParts(cpHandle | cpBrush);
      ADD_FAILURE() << canvas->ClassName() << " allowed drawing";
    } catch (const EInvalidOperation& e) {
      EXPECT_EQ(e.Message(), "Canvas does not allow drawing");
    }
    EXPECT_EQ(canvas->ValidParts(), 0);
  }
}

TEST(Canvas, TryEnterLockIsRefusedWhileTheCanvasIsEntered) {
  TCanvas canvas;
  canvas.EnterLock();
  EXPECT_EQ(canvas.LockDepth(), 1);
  EXPECT_FALSE(canvas.TryEnterLock());
  bool otherThread = true;
  std::thread([&] { otherThread = canvas.TryEnterLock(); }).join();
  EXPECT_FALSE(otherThread);
  canvas.LeaveLock();

  ASSERT_TRUE(canvas.TryEnterLock());
  EXPECT_EQ(canvas.LockDepth(), 1);
  canvas.LeaveLock();
  EXPECT_EQ(canvas.LockDepth(), 0);
}

TEST(DeviceError, CarriesThePlatformTextOrFallsBack) {
  struct Case {
    sys::DWORD lastError;
    std::string expected;
  };
  const Case cases[] = {{0, "Out of system resources"}, {2, sys::SysErrorMessage(2)}};
  for (const Case& c : cases) {
    sys::SetLastError(c.lastError);
    try {
      RaiseDeviceError();
    } catch (const EOutOfResources& e) {
      EXPECT_EQ(e.Message(), c.expected);
    }
  }
  EXPECT_THROW(CheckHandle(gdi::HBITMAP{}), EOutOfResources);
  EXPECT_EQ(CheckHandle(7), 7);
}

}  // namespace

namespace {

// A pen mode outside the enumeration (a value a caller cast) mixes as pmCopy
// instead of reading past the table of mix modes.
TEST_F(AttachedCanvas, PenModeOutsideTheEnumerationMixesAsCopy) {
  canvas_.Pen().SetMode(TPenMode::pmXor);
  canvas_.RequireParts(cpPen);
  EXPECT_EQ(gdi::GetROP2(context_.Get()), 7);  // the XOR mix
  for (const int outside : {16, 200, 255}) {
    canvas_.Pen().SetMode(static_cast<TPenMode>(outside));
    canvas_.RequireParts(cpPen);
    EXPECT_EQ(gdi::GetROP2(context_.Get()), gdi::R2_COPYPEN) << outside;
  }
}

}  // namespace
