// The canvas's own drawing operations. Each is a thin wrapper around one
// platform call: the parts it needs, requested and used under the library
// lock (so no other thread can take the context or the tools away in
// between), and the change notifications around it for the operations that
// draw. The notifications run outside the lock: they call the program's own
// callbacks.
#include <cstdint>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/graphic.h"

namespace bleedborder {

namespace {

// Differences and sums of caller coordinates wrap as the platform's 32-bit
// arithmetic does, instead of overflowing.
std::int32_t WrappedDiff(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t WrappedSum(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

void TCanvas::FillArea(const TRect& rect) {
  BeforeChange();
  {
    TLibraryHold hold;
    PrepareHeldDestination();
    RequireHeldParts(cpHandle | cpBrush);
    gdi::FillRect(deviceContext_, &rect, Brush().ToolHandle());
  }
  AfterChange();
}

// The font and brush colours are selected on the destination and the brush
// colour on the source because a transfer between monochrome and colour
// takes its colours from them.
void TCanvas::StretchCopy(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
  BeforeChange();
  {
    TLibraryHold hold;
    PrepareHeldDestination();
    RequireHeldParts(cpHandle | cpFont | cpBrush);
    source.RequireHeldParts(cpHandle | cpBrush);
    gdi::StretchBlt(deviceContext_, dest.left, dest.top, WrappedDiff(dest.right, dest.left),
                    WrappedDiff(dest.bottom, dest.top), source.HeldContext(), sourceRect.left, sourceRect.top,
                    WrappedDiff(sourceRect.right, sourceRect.left), WrappedDiff(sourceRect.bottom, sourceRect.top),
                    static_cast<gdi::DWORD>(CopyMode));
  }
  AfterChange();
}

TColor TCanvas::PixelAt(std::int32_t x, std::int32_t y) {
  TLibraryHold hold;
  RequireHeldParts(cpHandle);
  return static_cast<TColor>(gdi::GetPixel(deviceContext_, x, y));
}

void TCanvas::MovePen(std::int32_t x, std::int32_t y) {
  TLibraryHold hold;
  RequireHeldParts(cpHandle);
  gdi::MoveToEx(deviceContext_, x, y, nullptr);
}

TPoint TCanvas::PenPoint() {
  TLibraryHold hold;
  RequireHeldParts(cpHandle);
  TPoint point;
  gdi::GetCurrentPositionEx(deviceContext_, &point);
  return point;
}

void TCanvas::SetPenPoint(const TPoint& point) { MovePen(point.x, point.y); }

// The background and text colours stay set: they are the colours a
// monochrome image is drawn in (1 bits and 0 bits). A bitmap asks this canvas
// for its context once more as it draws, with a second BeforeChange
// (TBitmap::Render); that notice is given here, outside the lock, like the
// first.
void TCanvas::PaintGraphic(std::int32_t x, std::int32_t y, TGraphic* graphic) {
  if (!graphic || graphic->IsEmpty()) return;
  BeforeChange();
  auto* bitmap = dynamic_cast<TBitmap*>(graphic);
  if (bitmap && bitmap->RenderNoticesDestination(*this)) BeforeChange();
  {
    TLibraryHold hold;
    PrepareHeldDestination();
    RequireHeldParts(cpHandle);
    gdi::SetBkColor(deviceContext_, ResolveColor(Brush().Color()));
    gdi::SetTextColor(deviceContext_, ResolveColor(Font().Color()));
    const std::int32_t height = graphic->Height();
    const std::int32_t width = graphic->Width();
    const TRect rect{x, y, WrappedSum(x, width), WrappedSum(y, height)};
    if (bitmap)
      bitmap->RenderHeld(*this, rect, true);
    else
      graphic->Render(*this, rect);
  }
  AfterChange();
}

}  // namespace bleedborder
