#pragma once
// The drawing surface: a font, a pen and a brush bound lazily to a device
// context, with change notification around every drawing operation.
//
// Threads. What a program that uses the library from several threads may do:
// - Every public operation of bitmaps, canvases, tools and graphics, the
//   reading ones included, runs under the library lock (bleedborder/core/library_lock.h),
//   one process-wide re-entrant lock given in the order it was asked for. Any
//   operation may be called on any thread; calls on separate threads take
//   turns.
// - Bitmaps that share storage (b.TakeFrom(&a)) behave like copies: each
//   one's pixels, size, kind and mask are its own whatever the others do.
// - A sequence of operations that must not be interleaved with another
//   thread's (a draw followed by PixelAt, say) goes between EnterLock and
//   LeaveLock on a canvas. EnterLock takes the library lock and keeps it until
//   LeaveLock: meanwhile every other thread waits at its next library call.
//   Hold it around the sequence only, and never wait inside it for a thread
//   that uses the library.
// - TryEnterLock never waits: false when another thread holds the library
//   lock, or when this canvas is entered (by the calling thread too).
// - Change callbacks (OnBeforeChange, OnAfterChange, a bitmap's
//   ChangeHandler) run on the calling thread without the library lock, unless
//   the caller holds it through EnterLock. Under the lock run only a tool's
//   OnAlter and the Render of a graphic of the program's own class drawn by
//   PaintGraphic.
// - Public fields (CopyMode, DotsPerInch, the callbacks) are plain data that
//   the program guards itself.
// - The library waits for nothing but its lock and, below it, the raster
//   device's: no two library calls can deadlock.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "bleedborder/canvas/canvas_parts.h"
#include "bleedborder/core/color.h"
#include "bleedborder/core/geometry.h"
#include "bleedborder/core/library_lock.h"
#include "bleedborder/core/persistent.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TFont;
class TPen;
class TBrush;
class TGraphic;
class TGraphicsObject;
class TBitmap;

class BLEEDBORDER_EXPORT TCanvas : public TPersistent {
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
  gdi::HDC CurrentContext() const;
  TCanvasParts ValidParts() const;

  // Takes the library lock and counts the entry; LeaveLock gives both back.
  void EnterLock() ACQUIRE(LibraryLock);
  // Never waits: false when another thread holds the library lock, or when
  // this canvas is entered (by the calling thread too).
  bool TryEnterLock() TRY_ACQUIRE(true, LibraryLock);
  void LeaveLock() RELEASE(LibraryLock);
  std::int32_t LockDepth() const;

  virtual void AfterChange();
  virtual void BeforeChange();
  virtual void MakeContext() REQUIRES(LibraryLock);

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

  // ---- Library-internal, with the library lock held ----
  void RequireHeldParts(TCanvasParts wanted) REQUIRES(LibraryLock);
  gdi::HDC HeldContext() const REQUIRES(LibraryLock) { return deviceContext_; }
  std::int32_t HeldLockDepth() const REQUIRES(LibraryLock) { return lockDepth_; }

 protected:
  // Called by each drawing operation with the lock held, just before it
  // draws: what BeforeChange prepared (outside the lock) may have been undone
  // meanwhile, say by another thread taking a share of a bitmap's storage.
  virtual void PrepareHeldDestination() REQUIRES(LibraryLock) {}
  void AttachContext(gdi::HDC context) REQUIRES(LibraryLock);
  void SelectFont() REQUIRES(LibraryLock);
  void SelectPen() REQUIRES(LibraryLock);
  void SelectBrush() REQUIRES(LibraryLock);
  void RestoreStockTools() REQUIRES(LibraryLock);
  void FontAltered(TGraphicsObject*);
  void PenAltered(TGraphicsObject*);
  void BrushAltered(TGraphicsObject*);

 private:
  gdi::HDC deviceContext_ GUARDED_BY(LibraryLock);
  TCanvasParts validParts_ GUARDED_BY(LibraryLock) = 0;
  // Made with the canvas and destroyed with it; their own state is guarded.
  std::unique_ptr<TFont> font_;
  std::unique_ptr<TPen> pen_;
  std::unique_ptr<TBrush> brush_;
  TPoint penPoint_ GUARDED_BY(LibraryLock);
  std::int32_t lockDepth_ GUARDED_BY(LibraryLock) = 0;
};

// The canvas of one bitmap: makes its own memory context, with the bitmap's
// pixels and palette selected, and gives it back when the storage changes.
class BLEEDBORDER_EXPORT TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* owner);
  ~TBitmapCanvas() override;
  const char* ClassName() const override { return "TBitmapCanvas"; }

  void DropContext() REQUIRES(LibraryLock);
  void MakeContext() REQUIRES(LibraryLock) override;
  TBitmap* OwnerBitmap() const { return ownerBitmap_; }

 protected:
  // The bitmap's storage made private again if a share was taken since
  // BeforeChange, so that the drawing never changes a sharer's pixels.
  void PrepareHeldDestination() REQUIRES(LibraryLock) override;

 public:

  // The bitmap handle selected into this canvas's context (null when none).
  gdi::HBITMAP SelectedBitmap() const REQUIRES(LibraryLock) { return selectedBitmap_; }

 private:
  TBitmap* const ownerBitmap_;
  gdi::HBITMAP priorBitmap_ GUARDED_BY(LibraryLock);
  gdi::HPALETTE priorPalette_ GUARDED_BY(LibraryLock);
  gdi::HBITMAP selectedBitmap_ GUARDED_BY(LibraryLock);
};

// A list of canvases, guarded by the library lock.
template <class T>
class BLEEDBORDER_EXPORT TCanvasList {
 public:
  void Add(T* canvas) REQUIRES(LibraryLock);
  void Remove(T* canvas) REQUIRES(LibraryLock);
  bool Contains(T* canvas) const;
  std::size_t Count() const;
  const std::vector<T*>& Items() const REQUIRES(LibraryLock) { return items_; }

 private:
  std::vector<T*> items_ GUARDED_BY(LibraryLock);
};

// Drops the context of every bitmap canvas that is not entered.
BLEEDBORDER_EXPORT void DropAllContexts();
// Every bitmap canvas whose context holds handle loses its context, so that
// the caller may select the handle elsewhere (one platform bitmap is never
// selected into two contexts).
BLEEDBORDER_EXPORT void DetachBitmapHandle(gdi::HBITMAP handle) REQUIRES(LibraryLock);

// Process-wide lists, made at start-up: every canvas, and the bitmap canvases
// that hold a context.
BLEEDBORDER_EXPORT TCanvasList<TCanvas>& AllCanvases();
BLEEDBORDER_EXPORT TCanvasList<TBitmapCanvas>& ActiveBitmapCanvases();

}  // namespace bleedborder
