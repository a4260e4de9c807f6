#pragma once
// The drawing surface: a font, a pen and a brush bound lazily to a device
// context, with change notification around every drawing operation.
//
// Threads. The library promises this to a program that uses it from several
// threads:
// - Separate bitmaps may be used on separate threads at the same time, also
//   when they share storage (b.TakeFrom(&a)): sharing behaves like a copy, and
//   each bitmap reads and draws its own pixels whatever the others do.
// - One bitmap, or one canvas, used from several threads needs the caller's
//   EnterLock / LeaveLock on its canvas around each use. An operation that
//   reads another bitmap or canvas (a copy's source, a tool taken over) uses
//   that one as well.
// - EnterLock never deadlocks against the library's own locks, nor against
//   another thread's EnterLock of another canvas, in whatever order canvases
//   are entered. The price: EnterLock takes the library's context lock first
//   and keeps it until LeaveLock, so while one thread holds a canvas entered,
//   other threads draw only on canvases that already have their context, and
//   wait where one must be made or dropped. Hold it around the use only, and
//   never wait for another thread that draws while holding it.
// - Change callbacks (OnBeforeChange, OnAfterChange, a bitmap's
//   ChangeHandler) run on the drawing thread, outside the library's locks
//   unless the caller holds EnterLock.
//
// Lock order, outermost first: the context lock (the lock of
// ActiveBitmapCanvases); canvas locks; a tool cache's lock; ImageShareLock and
// CountLock; the raster device's lock. Nothing waits for the context lock
// while holding a canvas lock (a drawing operation gives its canvas locks
// back first), nor for either while holding a lock further down. No thread
// waits for a canvas lock while holding another: under the context lock
// canvas locks are only tried (EnterCanvasLock), and without it two are
// taken together, backing off.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "canvas/canvas_parts.h"
#include "core/color.h"
#include "core/geometry.h"
#include "core/persistent.h"
#include "core/recursive_lock.h"
#include "core/thread_list.h"
#include "platform/gdi.h"

class TFont;
class TPen;
class TBrush;
class TGraphic;
class TGraphicsObject;
class TBitmap;

class TCanvas : public TPersistent {
 public:
  using TNotifyEvent = std::function<void(TCanvas*)>;

  TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  ~TCanvas() override;
  const char* ClassName() const override { return "TCanvas"; }

  void RequireParts(TCanvasParts wanted);
  // Reading calls BeforeChange and requires all four parts. The context stays
  // this canvas's after the call only while the caller holds EnterLock: a
  // bitmap sharing the storage may otherwise take it away on another thread.
  gdi::HDC DeviceContext();
  void SetDeviceContext(gdi::HDC context);
  // The context without side effects (null when there is none).
  gdi::HDC CurrentContext() const { return deviceContext_; }
  TCanvasParts ValidParts() const { return validParts_; }

  // Takes the context lock, then this canvas's lock; LeaveLock gives back both.
  void EnterLock();
  // Never waits: false when this canvas or the context lock is held elsewhere,
  // or when the calling thread has entered this canvas itself.
  bool TryEnterLock();
  void LeaveLock();
  std::int32_t LockDepth();
  TRecursiveLock& CanvasLock() { return canvasLock_; }

  virtual void AfterChange();
  virtual void BeforeChange();
  virtual void MakeContext();

  TFont& Font() { return *font_; }
  TPen& Pen() { return *pen_; }
  TBrush& Brush() { return *brush_; }
  // Writing a tool takes over the given tool's settings.
  void SetFont(TFont& value);
  void SetPen(TPen& value);
  void SetBrush(TBrush& value);
  std::int32_t CopyMode = 0x00CC0020;  // SRCCOPY

  TNotifyEvent OnAfterChange;
  TNotifyEvent OnBeforeChange;

  // Drawing operations.
  void FillArea(const TRect& rect);
  void StretchCopy(const TRect& dest, TCanvas& source, const TRect& sourceRect);
  TColor PixelAt(std::int32_t x, std::int32_t y);
  void MovePen(std::int32_t x, std::int32_t y);
  TPoint PenPoint();
  void SetPenPoint(const TPoint& point);
  void PaintGraphic(std::int32_t x, std::int32_t y, TGraphic* graphic);

 protected:
  friend class TCanvasHold;
  // RequireParts with this canvas's lock held (and the context lock, when
  // a context must be made).
  void RequireHeldParts(TCanvasParts wanted);
  bool HasContext() const { return attached_.load(std::memory_order_acquire); }
  void SelectFont();
  void SelectPen();
  void SelectBrush();
  void RestoreStockTools();
  void FontAltered(TGraphicsObject*);
  void PenAltered(TGraphicsObject*);
  void BrushAltered(TGraphicsObject*);

 private:
  gdi::HDC deviceContext_;
  TCanvasParts validParts_ = 0;
  std::unique_ptr<TFont> font_;
  std::unique_ptr<TPen> pen_;
  std::unique_ptr<TBrush> brush_;
  TPoint penPoint_;
  TRecursiveLock canvasLock_;
  std::int32_t lockDepth_ = 0;
  // Whether a context is attached, readable without the lock.
  std::atomic<bool> attached_ = false;
};

// The canvas of one bitmap: makes its own memory context, with the bitmap's
// pixels and palette selected, and gives it back when the storage changes.
class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* owner);
  ~TBitmapCanvas() override;
  const char* ClassName() const override { return "TBitmapCanvas"; }

  void DropContext();
  void MakeContext() override;
  TBitmap* OwnerBitmap() const { return ownerBitmap_; }

 // The bitmap handle selected into this canvas's context (null when none);
  // read and written under the context lock.
  gdi::HBITMAP SelectedBitmap() const { return selectedBitmap_; }

 private:
  TBitmap* ownerBitmap_ = nullptr;
  gdi::HBITMAP priorBitmap_;
  gdi::HPALETTE priorPalette_;
  gdi::HBITMAP selectedBitmap_;
};

// The context lock, held for a scope: the lock of ActiveBitmapCanvases. It is
// held wherever a context is made or dropped and wherever a bitmap's handle is
// selected into a context other than its canvas's (copies, masks, colour
// tables), so that one platform bitmap is never wanted in two contexts.
class TContextLock {
 public:
  TContextLock();
  TContextLock(const TContextLock&) = delete;
  TContextLock& operator=(const TContextLock&) = delete;
  ~TContextLock();
  std::vector<TBitmapCanvas*>& ActiveCanvases() { return active_; }

 private:
  std::vector<TBitmapCanvas*>& active_;
};

// Takes a canvas lock (a tool's guard is one). A thread that holds the
// context lock only tries it, yielding between tries: every other holder of
// a canvas lock gives it back without waiting for anything, so the wait
// ends, and no two canvas locks are ever waited for in two orders.
void EnterCanvasLock(TRecursiveLock& lock);
// Takes two canvas locks, never waiting for one while holding the other.
void EnterCanvasLocks(TRecursiveLock& first, TRecursiveLock& second);

// What one drawing operation holds until it ends: the locks of one or two
// canvases, with the wanted parts valid in their contexts, and the context
// lock when a context had to be made. No other thread can drop those
// contexts or change those tools meanwhile.
class TCanvasHold {
 public:
  TCanvasHold(TCanvas& canvas, TCanvasParts wanted);
  TCanvasHold(TCanvas& dest, TCanvasParts destParts, TCanvas& source, TCanvasParts sourceParts);
  TCanvasHold(const TCanvasHold&) = delete;
  TCanvasHold& operator=(const TCanvasHold&) = delete;
  ~TCanvasHold() = default;

 private:
  void Acquire();
  void LockCanvases();
  bool ContextsPresent() const;

  TCanvas& first_;
  TCanvasParts firstParts_;
  TCanvas* second_;
  TCanvasParts secondParts_;
  std::optional<TContextLock> contextLock_;
  std::unique_lock<TRecursiveLock> firstLock_;  // adopted from EnterCanvasLock(s)
  std::unique_lock<TRecursiveLock> secondLock_;
};

// Drops the context of every bitmap canvas whose lock is free.
void DropAllContexts();
// Every bitmap canvas whose context holds handle loses its context.
void DetachBitmapHandle(gdi::HBITMAP handle);

// Takes a bitmap handle from every canvas context and keeps it out of them
// (by holding the context lock) while the holder selects it elsewhere.
class TBitmapLoan {
 public:
  explicit TBitmapLoan(gdi::HBITMAP handle) {
    if (!handle) return;
    contextLock_.emplace();
    DetachBitmapHandle(handle);
  }

 private:
  std::optional<TContextLock> contextLock_;
};

// Process-wide lists and the lock of every LockDepth, made at start-up.
TThreadList<TCanvas>& AllCanvases();
TThreadList<TBitmapCanvas>& ActiveBitmapCanvases();
TRecursiveLock& CountLock();
