#pragma once
// The drawing surface: a font, a pen and a brush bound lazily to a device
// context, with change notification around every drawing operation.
#include <cstdint>
#include <functional>
#include <memory>

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
  // Reading calls BeforeChange and requires all four parts.
  gdi::HDC DeviceContext();
  void SetDeviceContext(gdi::HDC context);
  // The context without side effects (null when there is none).
  gdi::HDC CurrentContext() const { return deviceContext_; }
  TCanvasParts ValidParts() const { return validParts_; }

  void EnterLock();
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

 private:
  TBitmap* ownerBitmap_ = nullptr;
  gdi::HBITMAP priorBitmap_;
  gdi::HPALETTE priorPalette_;
};

// Drops the context of every bitmap canvas whose lock is free.
void DropAllContexts();
// Every bitmap canvas whose bitmap's storage uses handle loses its context.
void DetachBitmapHandle(gdi::HBITMAP handle);

// Process-wide lists and the lock of every LockDepth, made at start-up.
TThreadList<TCanvas>& AllCanvases();
TThreadList<TBitmapCanvas>& ActiveBitmapCanvases();
TRecursiveLock& CountLock();
