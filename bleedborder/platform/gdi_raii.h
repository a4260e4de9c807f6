#pragma once
// Owners of temporary platform objects: each gives its object back on every
// path, the exceptional one included.
#include <utility>

#include "bleedborder/platform/gdi.h"

namespace bleedborder::gdi {

// The screen context of no window, released with ReleaseDC.
class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  ~ScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  HDC Get() const { return dc_; }
  explicit operator bool() const { return static_cast<bool>(dc_); }

 private:
  HDC dc_;
};

// A memory context, deleted with DeleteDC unless released.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatibleWith = {}) : dc_(CreateCompatibleDC(compatibleWith)) {}
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  ~MemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  HDC Get() const { return dc_; }
  HDC Release() { return std::exchange(dc_, HDC{}); }
  explicit operator bool() const { return static_cast<bool>(dc_); }

 private:
  HDC dc_;
};

// A platform object deleted with DeleteObject unless released.
template <class H>
class OwnedObject {
 public:
  OwnedObject() = default;
  explicit OwnedObject(H handle) : handle_(handle) {}
  OwnedObject(const OwnedObject&) = delete;
  OwnedObject& operator=(const OwnedObject&) = delete;
  ~OwnedObject() {
    if (handle_) DeleteObject(handle_);
  }
  H Get() const { return handle_; }
  H Release() { return std::exchange(handle_, H{}); }
  explicit operator bool() const { return static_cast<bool>(handle_); }

 private:
  H handle_{};
};

// An object selected into a context; the object it replaced goes back in.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_) SelectObject(dc_, previous_);
  }
  // What the selection replaced; null when it failed.
  HGDIOBJ Previous() const { return previous_; }
  explicit operator bool() const { return static_cast<bool>(previous_); }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A palette selected into a context; the previous palette goes back in,
// forced to the background.
class PaletteSelection {
 public:
  PaletteSelection(HDC dc, HPALETTE palette, BOOL forceBackground)
      : dc_(dc), previous_(palette ? SelectPalette(dc, palette, forceBackground) : HPALETTE{}) {}
  PaletteSelection(const PaletteSelection&) = delete;
  PaletteSelection& operator=(const PaletteSelection&) = delete;
  ~PaletteSelection() {
    if (previous_) SelectPalette(dc_, previous_, TRUE);
  }
  HPALETTE Previous() const { return previous_; }

 private:
  HDC dc_;
  HPALETTE previous_;
};

}  // namespace bleedborder::gdi
