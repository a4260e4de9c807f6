#include "canvas/canvas.h"

#include <optional>
#include <thread>

#include "canvas/gdi_raii.h"
#include "canvas/graphics_lib.h"
#include "canvas/tools.h"
#include "core/exceptions.h"
#include "image/bitmap.h"

namespace {

// How often this thread holds the context lock: it decides how canvas locks
// are taken (EnterCanvasLock).
thread_local int contextLockDepth = 0;

void TakeContextLock() {
  ActiveBitmapCanvases().LockList();
  ++contextLockDepth;
}

bool TryTakeContextLock() {
  if (!ActiveBitmapCanvases().TryLockList()) return false;
  ++contextLockDepth;
  return true;
}

void GiveContextLock() {
  --contextLockDepth;
  ActiveBitmapCanvases().UnlockList();
}

// EnterLock and LeaveLock of one canvas.
class CanvasEntry {
 public:
  explicit CanvasEntry(TCanvas& canvas) : canvas_(canvas) { canvas_.EnterLock(); }
  CanvasEntry(const CanvasEntry&) = delete;
  CanvasEntry& operator=(const CanvasEntry&) = delete;
  ~CanvasEntry() { canvas_.LeaveLock(); }

 private:
  TCanvas& canvas_;
};

}  // namespace

TThreadList<TCanvas>& AllCanvases() {
  static auto* list = new TThreadList<TCanvas>;
  return *list;
}

TThreadList<TBitmapCanvas>& ActiveBitmapCanvases() {
  static auto* list = new TThreadList<TBitmapCanvas>;
  return *list;
}

TRecursiveLock& CountLock() {
  static auto* lock = new TRecursiveLock;
  return *lock;
}

// ---- TCanvas -----------------------------------------------------------------

TCanvas::TCanvas() {
  font_ = std::make_unique<TFont>();
  font_->OnAlter = [this](TGraphicsObject* tool) { FontAltered(tool); };
  font_->GuardLock = &canvasLock_;
  pen_ = std::make_unique<TPen>();
  pen_->OnAlter = [this](TGraphicsObject* tool) { PenAltered(tool); };
  pen_->GuardLock = &canvasLock_;
  brush_ = std::make_unique<TBrush>();
  brush_->OnAlter = [this](TGraphicsObject* tool) { BrushAltered(tool); };
  brush_->GuardLock = &canvasLock_;
  AllCanvases().Add(this);
}

TCanvas::~TCanvas() {
  AllCanvases().Remove(this);
  SetDeviceContext(gdi::HDC{});
  font_.reset();
  pen_.reset();
  brush_.reset();
}

void TCanvas::RequireParts(TCanvasParts wanted) { TCanvasHold hold(*this, wanted); }

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
  TCanvasHold hold(*this, cpAll);
  return deviceContext_;
}

void TCanvas::SetDeviceContext(gdi::HDC context) {
  TLockGuard self(canvasLock_);
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
  attached_.store(static_cast<bool>(deviceContext_), std::memory_order_release);
}

// The context lock comes first, as everywhere: a thread that has entered a
// canvas may then make contexts, copy tools of other canvases and enter them
// too without meeting another thread that holds what it waits for.
void TCanvas::EnterLock() {
  TakeContextLock();
  {
    TLockGuard count(CountLock());
    ++lockDepth_;
  }
  EnterCanvasLock(canvasLock_);
}

bool TCanvas::TryEnterLock() {
  if (!TryTakeContextLock()) return false;
  TLockGuard count(CountLock());
  // A canvas entered by anyone, the calling thread included, is refused; the
  // locks are only tried, so this never waits.
  if (lockDepth_ != 0 || !canvasLock_.TryEnter()) {
    GiveContextLock();
    return false;
  }
  ++lockDepth_;
  return true;
}

// The count goes down before the canvas lock is given back: a thread that
// dropped this canvas's context for another must be done with the canvas
// once its owner can take the lock and destroy it.
void TCanvas::LeaveLock() {
  {
    TLockGuard count(CountLock());
    --lockDepth_;
  }
  canvasLock_.Leave();
  GiveContextLock();
}

std::int32_t TCanvas::LockDepth() {
  TLockGuard count(CountLock());
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
  TLockGuard self(canvasLock_);
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
  TLockGuard self(canvasLock_);
  if ((validParts_ & cpFont) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpFont);
  gdi::SelectObject(deviceContext_, StockSystemFont());
}

void TCanvas::PenAltered(TGraphicsObject*) {
  TLockGuard self(canvasLock_);
  if ((validParts_ & cpPen) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpPen);
  gdi::SelectObject(deviceContext_, StockBlackPen());
}

void TCanvas::BrushAltered(TGraphicsObject*) {
  TLockGuard self(canvasLock_);
  if ((validParts_ & cpBrush) == 0) return;
  validParts_ &= static_cast<TCanvasParts>(~cpBrush);
  gdi::SelectObject(deviceContext_, StockHollowBrush());
}

// ---- TBitmapCanvas -----------------------------------------------------------

TBitmapCanvas::TBitmapCanvas(TBitmap* owner) : ownerBitmap_(owner) {}

TBitmapCanvas::~TBitmapCanvas() { DropContext(); }

void TBitmapCanvas::MakeContext() {
  if (!ownerBitmap_) return;
  TContextLock list;
  CanvasEntry self(*this);
  // A second context would leak the first one.
  if (CurrentContext()) return;
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
  SetDeviceContext(context.Release());
  if (CurrentContext()) ActiveBitmapCanvases().Add(this);
}

void TBitmapCanvas::DropContext() {
  // Nothing to drop, no lock taken: every bitmap's destruction comes here.
  if (!HasContext()) return;
  TContextLock list;
  CanvasEntry self(*this);
  const gdi::HDC context = CurrentContext();
  if (!context) return;
  if (priorBitmap_) gdi::SelectObject(context, priorBitmap_);
  if (priorPalette_) gdi::SelectPalette(context, priorPalette_, gdi::TRUE);
  priorBitmap_ = gdi::HBITMAP{};
  priorPalette_ = gdi::HPALETTE{};
  selectedBitmap_ = gdi::HBITMAP{};
  SetDeviceContext(gdi::HDC{});
  gdi::DeleteDC(context);
  ActiveBitmapCanvases().Remove(this);
}

// ---- Holding locks and contexts ----------------------------------------------

TContextLock::TContextLock() : active_(ActiveBitmapCanvases().LockList()) { ++contextLockDepth; }

TContextLock::~TContextLock() { GiveContextLock(); }

void EnterCanvasLock(TRecursiveLock& lock) {
  if (contextLockDepth == 0) {
    lock.Enter();
    return;
  }
  while (!lock.TryEnter()) std::this_thread::yield();
}

void EnterCanvasLocks(TRecursiveLock& first, TRecursiveLock& second) {
  if (contextLockDepth == 0) {
    std::lock(first, second);
    return;
  }
  EnterCanvasLock(first);
  EnterCanvasLock(second);
}

TCanvasHold::TCanvasHold(TCanvas& canvas, TCanvasParts wanted)
    : first_(canvas), firstParts_(wanted), second_(nullptr), secondParts_(0) {
  Acquire();
}

TCanvasHold::TCanvasHold(TCanvas& dest, TCanvasParts destParts, TCanvas& source, TCanvasParts sourceParts)
    : first_(dest), firstParts_(destParts), second_(&source == &dest ? nullptr : &source),
      secondParts_(sourceParts) {
  if (!second_) firstParts_ |= sourceParts;
  Acquire();
}

void TCanvasHold::Acquire() {
  LockCanvases();
  if (!ContextsPresent()) {
    // Making a context takes the context lock, which comes before every
    // canvas lock: the canvas locks are given back and taken again after it.
    firstLock_.unlock();
    if (secondLock_.owns_lock()) secondLock_.unlock();
    contextLock_.emplace();
    LockCanvases();
  }
  first_.RequireHeldParts(firstParts_);
  if (second_) second_->RequireHeldParts(secondParts_);
}

void TCanvasHold::LockCanvases() {
  if (second_) {
    EnterCanvasLocks(first_.CanvasLock(), second_->CanvasLock());
    secondLock_ = std::unique_lock<TRecursiveLock>(second_->CanvasLock(), std::adopt_lock);
  } else {
    EnterCanvasLock(first_.CanvasLock());
  }
  firstLock_ = std::unique_lock<TRecursiveLock>(first_.CanvasLock(), std::adopt_lock);
}

bool TCanvasHold::ContextsPresent() const {
  const bool first = (firstParts_ & cpHandle) == 0 || first_.HasContext();
  const bool second = !second_ || (secondParts_ & cpHandle) == 0 || second_->HasContext();
  return first && second;
}

// ---- Process-wide --------------------------------------------------------------

void DropAllContexts() {
  TContextLock list;
  auto& items = list.ActiveCanvases();
  // From the last index down: a drop removes its own entry only.
  for (std::size_t i = items.size(); i-- > 0;) {
    if (i >= items.size()) continue;
    TBitmapCanvas* canvas = items[i];
    if (!canvas->TryEnterLock()) continue;  // in use elsewhere: keeps its context
    struct Leave {
      TBitmapCanvas* canvas;
      ~Leave() { canvas->LeaveLock(); }
    } leave{canvas};
    canvas->DropContext();
  }
}

void DetachBitmapHandle(gdi::HBITMAP handle) {
  if (!handle) return;
  TContextLock list;
  auto& items = list.ActiveCanvases();
  for (std::size_t i = items.size(); i-- > 0;) {
    if (i >= items.size()) continue;
    TBitmapCanvas* canvas = items[i];
    if (canvas->SelectedBitmap() == handle) canvas->DropContext();
  }
}
