// Drawing a bitmap onto a canvas, opaquely or with one key colour
// transparent, and the settings and cached mask that transparent drawing uses.
#include <cstdint>
#include <optional>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/transparent.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

// Flag of a platform colour reference asking for the nearest colour of the
// selected palette.
constexpr std::uint32_t kPaletteRelative = 0x02000000;

std::int32_t WrappedDiff(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The stretch mode for drawing an image of imageBits per pixel into dest: a
// display of 8 bits or fewer halftones a deeper image; otherwise a colour
// image is stretched by dropping pixels. A monochrome image on a deeper
// display keeps the mode the context has.
//
// Setting COLORONCOLOR asks the destination for its context with a
// DeviceContext read, which notifies it (BeforeChange) once more; noticed
// says the caller has given that notice already, outside the lock.
bool HalftonesOn(std::int32_t displayBits, std::int32_t imageBits) { return displayBits <= 8 && displayBits < imageBits; }

std::int32_t DisplayBits(gdi::HDC context) {
  return gdi::GetDeviceCaps(context, gdi::BITSPIXEL) * gdi::GetDeviceCaps(context, gdi::PLANES);
}

void ChooseStretchMode(TCanvas& dest, std::int32_t imageBits, bool isMono, bool noticed) REQUIRES(LibraryLock) {
  const gdi::HDC context = dest.HeldContext();
  if (HalftonesOn(DisplayBits(context), imageBits)) {
    // Setting halftone moves the brush origin; it is put back.
    gdi::POINT origin;
    gdi::GetBrushOrgEx(context, &origin);
    gdi::SetStretchBltMode(context, gdi::HALFTONE);
    gdi::SetBrushOrgEx(context, origin.x, origin.y, nullptr);
  } else if (!isMono) {
    gdi::SetStretchBltMode(noticed ? context : dest.DeviceContext(), gdi::COLORONCOLOR);
  }
}

}  // namespace

// The destination's second notice is given first, outside the lock.
void TBitmap::Render(TCanvas& canvas, const TRect& rect) {
  const bool notice = RenderNoticesDestination(canvas);
  if (notice) canvas.BeforeChange();
  TLibraryHold hold;
  RenderHeld(canvas, rect, notice);
}

// A bitmap canvas's context is made with the display's depth; a canvas
// without one has none to ask.
bool TBitmap::RenderNoticesDestination(TCanvas& canvas) {
  TLibraryHold hold;
  if (HeldIsMono()) return false;
  gdi::HDC context = canvas.HeldContext();
  std::optional<gdi::ScreenDC> screen;
  if (!context && dynamic_cast<TBitmapCanvas*>(&canvas)) context = screen.emplace().Get();
  const gdi::BITMAP& bm = sharedImage_->Section.dsBm;
  return !HalftonesOn(DisplayBits(context), std::int32_t{bm.bmBitsPixel} * bm.bmPlanes);
}

void TBitmap::RenderHeld(TCanvas& canvas, const TRect& rect, bool noticed) {
  canvas.RequireHeldParts(cpAll);
  EnsurePalette();
  const gdi::HPALETTE palette = sharedImage_->PaletteHandle;
  gdi::PaletteSelection selectedPalette(canvas.HeldContext(), palette, gdi::TRUE);
  if (palette) gdi::RealizePalette(canvas.HeldContext());

  const gdi::BITMAP& bm = sharedImage_->Section.dsBm;
  ChooseStretchMode(canvas, std::int32_t{bm.bmBitsPixel} * bm.bmPlanes, HeldIsMono(), noticed);

  const bool transparent = HeldUseTransparency();
  if (transparent) {
    EnsureMask();
    // Without a mask the draw would show every pixel or none.
    if (!sharedImage_->MaskBitmap && !HeldIsEmpty()) RaiseDeviceError();
  }
  TBitmapCanvas& own = HeldCanvas();
  own.RequireHeldParts(cpAll);

  // Contexts are read only now: making the mask may have taken them away.
  const gdi::HDC dest = canvas.HeldContext();
  const gdi::HDC source = own.HeldContext();
  const std::int32_t imageWidth = sharedImage_->Section.dsBm.bmWidth;
  const std::int32_t imageHeight = sharedImage_->Section.dsBm.bmHeight;
  const std::int32_t destWidth = WrappedDiff(rect.right, rect.left);
  const std::int32_t destHeight = WrappedDiff(rect.bottom, rect.top);
  if (transparent) {
    gdi::MemoryDC maskContext{gdi::HDC{}};
    CheckHandle(maskContext.Get());
    gdi::Selection selectedMask(maskContext.Get(), sharedImage_->MaskBitmap);
    MaskedStretch(dest, rect.left, rect.top, destWidth, destHeight, source, 0, 0, imageWidth, imageHeight,
                  maskContext.Get(), 0, 0);
  } else {
    gdi::StretchBlt(dest, rect.left, rect.top, destWidth, destHeight, source, 0, 0, imageWidth, imageHeight,
                    static_cast<gdi::DWORD>(canvas.CopyMode));
  }
}

gdi::HBITMAP TBitmap::MaskBitmap() {
  TLibraryHold hold;
  EnsureMask();
  return sharedImage_->MaskBitmap;
}

void TBitmap::EnsureMask() {
  if (maskBuilt_ && maskCurrent_) return;
  // The mask belongs to the storage. A mask that sharers may have been handed
  // stays theirs: this bitmap builds its own on storage of its own.
  if (sharedImage_->ShareCount > 1 && sharedImage_->MaskBitmap) {
    EnsureHandle();
    const TBitmapImage& shared = *sharedImage_;
    CloneImage(shared.BitmapHandle, shared.UsesHalftone ? gdi::HPALETTE{} : shared.PaletteHandle, shared.Section);
  }
  TBitmapImage& image = *sharedImage_;
  if (image.MaskBitmap) {
    DetachBitmapHandle(image.MaskBitmap);
    gdi::DeleteObject(image.MaskBitmap);
    image.MaskBitmap = {};
  }
  ReleaseContext();
  EnsureHandle();
  const TColor key = HeldEffectiveKeyColor();
  image.MaskBitmap = BuildMask(image.BitmapHandle, image.PaletteHandle, key);
  maskBuilt_ = true;
  maskCurrent_ = true;
}

TColor TBitmap::EffectiveKeyColor() {
  TLibraryHold hold;
  return HeldEffectiveKeyColor();
}

TColor TBitmap::HeldEffectiveKeyColor() {
  TColor key;
  if (keyColor_ == clDefault) {
    key = HeldIsMono() ? clWhite : HeldCanvas().PixelAt(0, Height() - 1);
  } else {
    key = static_cast<TColor>(ResolveColor(keyColor_));
  }
  return static_cast<TColor>(static_cast<std::uint32_t>(key) | kPaletteRelative);
}

TColor TBitmap::KeyColor() const {
  TLibraryHold hold;
  return keyColor_;
}

TTransparencyKind TBitmap::KeyKind() const {
  TLibraryHold hold;
  return keyKind_;
}

void TBitmap::SetKeyColor(TColor value) { ChangeThenNotify(&TBitmap::SetKeyColorHeld, value); }

bool TBitmap::SetKeyColorHeld(TColor value) {
  if (value == keyColor_) return false;
  keyKind_ = value == clDefault ? TTransparencyKind::tkAuto : TTransparencyKind::tkFixed;
  keyColor_ = value;
  // The mask belongs to the storage: a bitmap with its own key colour needs
  // storage, and so a mask, of its own.
  if (sharedImage_->ShareCount > 1) {
    EnsureHandle();
    const TBitmapImage& image = *sharedImage_;
    CloneImage(image.BitmapHandle, image.PaletteHandle, image.Section);
  }
  return true;
}

void TBitmap::SetKeyKind(TTransparencyKind value) {
  bool changed;
  {
    TLibraryHold hold;
    if (value == keyKind_) return;
    // Freezes the colour in use now, palette-relative flag included.
    changed = SetKeyColorHeld(value == TTransparencyKind::tkAuto ? clDefault : HeldEffectiveKeyColor());
  }
  if (changed) NotifyChange(this);
}

}  // namespace bleedborder
