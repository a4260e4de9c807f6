#include "bleedborder/canvas/canvas.h"

#include <algorithm>

#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

// ---- Canvas lists --------------------------------------------------------------

template <class T>
void TCanvasList<T>::Add(T* canvas) {
  if (std::find(items_.begin(), items_.end(), canvas) == items_.end()) items_.push_back(canvas);
}

template <class T>
void TCanvasList<T>::Remove(T* canvas) {
  auto it = std::find(items_.begin(), items_.end(), canvas);
  if (it != items_.end()) items_.erase(it);
}

template <class T>
bool TCanvasList<T>::Contains(T* canvas) const {
  TLibraryHold hold;
  return std::find(items_.begin(), items_.end(), canvas) != items_.end();
}

template <class T>
std::size_t TCanvasList<T>::Count() const {
  TLibraryHold hold;
  return items_.size();
}

template class TCanvasList<TCanvas>;
template class TCanvasList<TBitmapCanvas>;

TCanvasList<TCanvas>& AllCanvases() {
  static auto* list = new TCanvasList<TCanvas>;
  return *list;
}

TCanvasList<TBitmapCanvas>& ActiveBitmapCanvases() {
  static auto* list = new TCanvasList<TBitmapCanvas>;
  return *list;
}

// ---- TCanvas -----------------------------------------------------------------

TCanvas::TCanvas() {
  TLibraryHold hold;
  font_ = std::make_unique<TFont>();
  font_->OnAlter = [this](TGraphicsObject* tool) { FontAltered(tool); };
  pen_ = std::make_unique<TPen>();
  pen_->OnAlter = [this](TGraphicsObject* tool) { PenAltered(tool); };
  brush_ = std::make_unique<TBrush>();
  brush_->OnAlter = [this](TGraphicsObject* tool) { BrushAltered(tool); };
  AllCanvases().Add(this);
}

TCanvas::~TCanvas() {
  TLibraryHold hold;
  AllCanvases().Remove(this);
  AttachContext(gdi::HDC{});
  font_.reset();
  pen_.reset();
  brush_.reset();
}

void TCanvas::RequireParts(TCanvasParts wanted) {
  TLibraryHold hold;
  RequireHeldParts(wanted);
}

void TCanvas::RequireHeldParts(TCanvasParts wanted) {
  const TCanvasParts missing = wanted & ~validParts_;
  if (missing == 0) return;
  if (missing & cpHandle) {
    MakeContext();
    if (!deviceContext_) RaiseMsg<EInvalidOperation>(Msg::NoCanvasHandle);
  }
  if (missing & cpFont) SelectFont();
  if (missing & cpPen) SelectPen();
  if (missing & cpBrush) SelectBrush();
  validParts_ |= missing;
}

gdi::HDC TCanvas::DeviceContext() {
  BeforeChange();
  TLibraryHold hold;
  PrepareHeldDestination();
  RequireHeldParts(cpAll);
  return deviceContext_;
}

void TCanvas::SetDeviceContext(gdi::HDC context) {
  TLibraryHold hold;
  AttachContext(context);
}

gdi::HDC TCanvas::CurrentContext() const {
  TLibraryHold hold;
  return deviceContext_;
}

TCanvasParts TCanvas::ValidParts() const {
  TLibraryHold hold;
  return validParts_;
}

void TCanvas::AttachContext(gdi::HDC context) {
  if (context == deviceContext_) return;
  if (deviceContext_) {
    RestoreStockTools();
    // The pen position survives while no context is attached.
    TPoint position;
    if (gdi::GetCurrentPositionEx(deviceContext_, &position)) penPoint_ = position;
    deviceContext_ = gdi::HDC{};
    validParts_ &= static_cast<TCanvasParts>(~cpHandle);
  }
  if (context) {
    validParts_ |= cpHandle;
    deviceContext_ = context;
    gdi::MoveToEx(context, penPoint_.x, penPoint_.y, nullptr);
  }
}

void TCanvas::EnterLock() {
  LibraryLock.Enter();
  ++lockDepth_;
}

// The analysis cannot follow a lock that is given back on one path of a try.
bool TCanvas::TryEnterLock() NO_THREAD_SAFETY_ANALYSIS {
  if (!LibraryLock.TryEnter()) return false;
  // The calling thread may hold the lock already; it is still refused a
  // canvas it has entered itself.
  if (lockDepth_ != 0) {
    LibraryLock.Leave();
    return false;
  }
  ++lockDepth_;
  return true;
}

void TCanvas::LeaveLock() {
  --lockDepth_;
  LibraryLock.Leave();
}

std::int32_t TCanvas::LockDepth() const {
  TLibraryHold hold;
  return lockDepth_;
}

void TCanvas::AfterChange() {
  if (OnAfterChange) OnAfterChange(this);
}

void TCanvas::BeforeChange() {
  if (OnBeforeChange) OnBeforeChange(this);
}

void TCanvas::MakeContext() {}

void TCanvas::SetFont(TFont& value) { font_->TakeFrom(&value); }
void TCanvas::SetPen(TPen& value) { pen_->TakeFrom(&value); }
void TCanvas::SetBrush(TBrush& value) { brush_->TakeFrom(&value); }

void TCanvas::SelectFont() {
  gdi::SelectObject(deviceContext_, font_->ToolHandle());
  gdi::SetTextColor(deviceContext_, ResolveColor(font_->Color()));
}

void TCanvas::SelectPen() {
  gdi::SelectObject(deviceContext_, pen_->ToolHandle());
  gdi::SetROP2(deviceContext_, PenModeCode(pen_->Mode()));
}

void TCanvas::SelectBrush() {
  const gdi::HBRUSH handle = brush_->ToolHandle();
  gdi::UnrealizeObject(handle);
  gdi::SelectObject(deviceContext_, handle);
  const gdi::COLORREF color = ResolveColor(brush_->Color());
  if (brush_->Style() == TBrushStyle::bsSolid) {
    gdi::SetBkColor(deviceContext_, color);
    gdi::SetBkMode(deviceContext_, gdi::OPAQUE);
  } else {
    gdi::SetBkColor(deviceContext_, ~color);
    gdi::SetBkMode(deviceContext_, gdi::TRANSPARENT);
  }
}

void TCanvas::RestoreStockTools() {
  constexpr TCanvasParts tools = cpFont | cpPen | cpBrush;
  if (!deviceContext_ || (validParts_ & tools) == 0) return;
  gdi::SelectObject(deviceContext_, StockBlackPen());
  gdi::SelectObject(deviceContext_, StockHollowBrush());
  gdi::SelectObject(deviceContext_, StockSystemFont());
  validParts_ &= static_cast<TCanvasParts>(~tools);
}

// A tool calls these before it lets go of its old platform object, so that
// object is out of the context before it can be deleted.
void TCanvas::FontAltered(TGraphicsObject*) {
  TLibraryHold hold;
  if ((validParts_ & cpFont) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpFont);
  gdi::SelectObject(deviceContext_, StockSystemFont());
}

void TCanvas::PenAltered(TGraphicsObject*) {
  TLibraryHold hold;
  if ((validParts_ & cpPen) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpPen);
  gdi::SelectObject(deviceContext_, StockBlackPen());
}

void TCanvas::BrushAltered(TGraphicsObject*) {
  TLibraryHold hold;
  if ((validParts_ & cpBrush) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpBrush);
  gdi::SelectObject(deviceContext_, StockHollowBrush());
}

// ---- TBitmapCanvas -----------------------------------------------------------

TBitmapCanvas::TBitmapCanvas(TBitmap* owner) : ownerBitmap_(owner) {}

TBitmapCanvas::~TBitmapCanvas() {
  TLibraryHold hold;
  DropContext();
}

void TBitmapCanvas::MakeContext() {
  if (!ownerBitmap_) return;
  // A second context would leak the first one.
  if (HeldContext()) return;
  ownerBitmap_->EnsureHandle();
  const gdi::HBITMAP handle = ownerBitmap_->SharedImage().BitmapHandle;
  DetachBitmapHandle(handle);
  ownerBitmap_->EnsurePalette();
  const TBitmapImage& image = ownerBitmap_->SharedImage();
  gdi::MemoryDC context;
  priorBitmap_ = handle ? gdi::handle_cast<gdi::HBITMAP>(gdi::SelectObject(context.Get(), handle)) : gdi::HBITMAP{};
  selectedBitmap_ = priorBitmap_ ? handle : gdi::HBITMAP{};
  priorPalette_ = gdi::HPALETTE{};
  if (image.PaletteHandle) {
    priorPalette_ = gdi::SelectPalette(context.Get(), image.PaletteHandle, gdi::TRUE);
    gdi::RealizePalette(context.Get());
  }
  AttachContext(context.Release());
  if (HeldContext()) ActiveBitmapCanvases().Add(this);
}

void TBitmapCanvas::PrepareHeldDestination() {
  if (ownerBitmap_) ownerBitmap_->PrepareHeldToModify();
}

void TBitmapCanvas::DropContext() {
  const gdi::HDC context = HeldContext();
  if (!context) return;
  if (priorBitmap_) gdi::SelectObject(context, priorBitmap_);
  if (priorPalette_) gdi::SelectPalette(context, priorPalette_, gdi::TRUE);
  priorBitmap_ = gdi::HBITMAP{};
  priorPalette_ = gdi::HPALETTE{};
  selectedBitmap_ = gdi::HBITMAP{};
  AttachContext(gdi::HDC{});
  gdi::DeleteDC(context);
  ActiveBitmapCanvases().Remove(this);
}

// ---- Process-wide --------------------------------------------------------------

void DropAllContexts() {
  TLibraryHold hold;
  // A copy: each drop takes its canvas out of the list. An entered canvas
  // (only the calling thread can have one while it holds the lock) keeps
  // its context.
  const std::vector<TBitmapCanvas*> active = ActiveBitmapCanvases().Items();
  for (auto it = active.rbegin(); it != active.rend(); ++it)
    if ((*it)->HeldLockDepth() == 0) (*it)->DropContext();
}

void DetachBitmapHandle(gdi::HBITMAP handle) {
  if (!handle) return;
  const std::vector<TBitmapCanvas*> active = ActiveBitmapCanvases().Items();
  for (auto it = active.rbegin(); it != active.rend(); ++it)
    if ((*it)->SelectedBitmap() == handle) (*it)->DropContext();
}

}  // namespace bleedborder
