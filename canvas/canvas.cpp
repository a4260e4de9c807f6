#include "canvas/canvas.h"

#include <optional>

#include "canvas/gdi_raii.h"
#include "canvas/graphics_lib.h"
#include "canvas/tools.h"
#include "core/exceptions.h"
#include "image/bitmap.h"

// Lock order. Wherever the list of active bitmap canvases and a canvas lock
// are both held, the list lock is taken first: making, dropping and detaching
// contexts all follow it, so two threads can never wait for each other's
// lock. A canvas never waits for a second canvas's lock while holding its
// own; tools of two canvases are guarded together with back-off. A caller
// that enters a bitmap canvas's lock itself (EnterLock) should not make that
// canvas draw while holding it: the drawing may need the list lock.

namespace {

// Holds the lock of ActiveBitmapCanvases and gives access to its items.
class ActiveListLock {
 public:
  ActiveListLock() : items_(ActiveBitmapCanvases().LockList()) {}
  ActiveListLock(const ActiveListLock&) = delete;
  ActiveListLock& operator=(const ActiveListLock&) = delete;
  ~ActiveListLock() { ActiveBitmapCanvases().UnlockList(); }
  std::vector<TBitmapCanvas*>& Items() { return items_; }

 private:
  std::vector<TBitmapCanvas*>& items_;
};

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

gdi::HBITMAP StorageHandle(const TBitmapCanvas& canvas) {
  TBitmap* owner = canvas.OwnerBitmap();
  return owner ? owner->SharedImage().BitmapHandle : gdi::HBITMAP{};
}

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

void TCanvas::RequireParts(TCanvasParts wanted) {
  bool contextNeeded = false;
  for (;;) {
    // A context is made under the list lock, taken before this canvas's lock.
    std::optional<ActiveListLock> list;
    if (contextNeeded) {
      list.emplace();
      bool hasContext;
      {
        TLockGuard self(canvasLock_);
        hasContext = (validParts_ & cpHandle) != 0;
      }
      if (!hasContext) MakeContext();
    }
    TLockGuard self(canvasLock_);
    const TCanvasParts missing = wanted & ~validParts_;
    if (missing == 0) return;
    if (missing & cpHandle) {
      if (!list) {
        contextNeeded = true;
        continue;
      }
      RaiseMsg<EInvalidOperation>(Msg::NoCanvasHandle);
    }
    if (missing & cpFont) SelectFont();
    if (missing & cpPen) SelectPen();
    if (missing & cpBrush) SelectBrush();
    validParts_ |= missing;
    return;
  }
}

gdi::HDC TCanvas::DeviceContext() {
  BeforeChange();
  RequireParts(cpAll);
  TLockGuard self(canvasLock_);
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
}

void TCanvas::EnterLock() {
  {
    TLockGuard count(CountLock());
    ++lockDepth_;
  }
  canvasLock_.Enter();
}

bool TCanvas::TryEnterLock() {
  TLockGuard count(CountLock());
  // A canvas entered by anyone, the calling thread included, is refused; the
  // lock itself is only tried, so this never waits.
  if (lockDepth_ != 0 || !canvasLock_.TryEnter()) return false;
  ++lockDepth_;
  return true;
}

void TCanvas::LeaveLock() {
  canvasLock_.Leave();
  TLockGuard count(CountLock());
  --lockDepth_;
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
  ActiveListLock list;
  {
    // A second context would leak the first one.
    TLockGuard self(CanvasLock());
    if (CurrentContext()) return;
  }
  // The bitmap handle is made and taken from other contexts before this
  // canvas's lock is taken, so no canvas lock is held while another
  // canvas's lock is awaited.
  ownerBitmap_->EnsureHandle();
  DetachBitmapHandle(ownerBitmap_->SharedImage().BitmapHandle);

  CanvasEntry self(*this);
  ownerBitmap_->EnsurePalette();
  const TBitmapImage& image = ownerBitmap_->SharedImage();
  gdi::MemoryDC context;
  priorBitmap_ = image.BitmapHandle ? gdi::handle_cast<gdi::HBITMAP>(gdi::SelectObject(context.Get(), image.BitmapHandle))
                                    : gdi::HBITMAP{};
  priorPalette_ = gdi::HPALETTE{};
  if (image.PaletteHandle) {
    priorPalette_ = gdi::SelectPalette(context.Get(), image.PaletteHandle, gdi::TRUE);
    gdi::RealizePalette(context.Get());
  }
  SetDeviceContext(context.Release());
  if (CurrentContext()) ActiveBitmapCanvases().Add(this);
}

void TBitmapCanvas::DropContext() {
  ActiveListLock list;
  CanvasEntry self(*this);
  const gdi::HDC context = CurrentContext();
  if (!context) return;
  if (priorBitmap_) gdi::SelectObject(context, priorBitmap_);
  if (priorPalette_) gdi::SelectPalette(context, priorPalette_, gdi::TRUE);
  priorBitmap_ = gdi::HBITMAP{};
  priorPalette_ = gdi::HPALETTE{};
  SetDeviceContext(gdi::HDC{});
  gdi::DeleteDC(context);
  ActiveBitmapCanvases().Remove(this);
}

// ---- Process-wide --------------------------------------------------------------

void DropAllContexts() {
  ActiveListLock list;
  auto& items = list.Items();
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
  ActiveListLock list;
  auto& items = list.Items();
  for (std::size_t i = items.size(); i-- > 0;) {
    if (i >= items.size()) continue;
    TBitmapCanvas* canvas = items[i];
    if (StorageHandle(*canvas) == handle) canvas->DropContext();
  }
}
