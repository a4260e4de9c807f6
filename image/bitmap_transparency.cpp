// Drawing a bitmap onto a canvas, opaquely or with one key colour
// transparent, and the settings and cached mask that transparent drawing uses.
#include <cstdint>
#include <optional>

#include "canvas/canvas.h"
#include "canvas/errors.h"
#include "canvas/gdi_raii.h"
#include "canvas/graphics_lib.h"
#include "canvas/transparent.h"
#include "image/bitmap.h"

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
void ChooseStretchMode(TCanvas& dest, std::int32_t imageBits, bool isMono) {
  const gdi::HDC context = dest.CurrentContext();
  const std::int32_t displayBits =
      gdi::GetDeviceCaps(context, gdi::BITSPIXEL) * gdi::GetDeviceCaps(context, gdi::PLANES);
  if (displayBits <= 8 && displayBits < imageBits) {
    // Setting halftone moves the brush origin; it is put back.
    gdi::POINT origin;
    gdi::GetBrushOrgEx(context, &origin);
    gdi::SetStretchBltMode(context, gdi::HALFTONE);
    gdi::SetBrushOrgEx(context, origin.x, origin.y, nullptr);
  } else if (!isMono) {
    gdi::SetStretchBltMode(dest.DeviceContext(), gdi::COLORONCOLOR);
  }
}

}  // namespace

void TBitmap::Render(TCanvas& canvas, const TRect& rect) {
  canvas.RequireParts(cpAll);
  EnsurePalette();
  const gdi::HPALETTE palette = sharedImage_->PaletteHandle;
  gdi::PaletteSelection selectedPalette(canvas.CurrentContext(), palette, gdi::TRUE);
  if (palette) gdi::RealizePalette(canvas.CurrentContext());

  const gdi::BITMAP& bm = sharedImage_->Section.dsBm;
  ChooseStretchMode(canvas, std::int32_t{bm.bmBitsPixel} * bm.bmPlanes, IsMono());

  const bool transparent = UseTransparency();
  if (transparent) {
    EnsureMask();
    // Without a mask the draw would show every pixel or none.
    if (!sharedImage_->MaskBitmap && !IsEmpty()) RaiseDeviceError();
  }
  TBitmapCanvas& own = Canvas();
  own.RequireParts(cpAll);

  // Contexts are read only now: making the mask may have taken them away.
  const gdi::HDC dest = canvas.CurrentContext();
  const gdi::HDC source = own.CurrentContext();
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
  EnsureMask();
  return sharedImage_->MaskBitmap;
}

void TBitmap::EnsureMask() {
  if (maskBuilt_ && maskCurrent_) return;
  // The mask belongs to the storage, which sharers on other threads may be
  // drawing with.
  TContextLock contextLock;
  TBitmapImage& image = *sharedImage_;
  if (image.MaskBitmap) {
    DetachBitmapHandle(image.MaskBitmap);
    gdi::DeleteObject(image.MaskBitmap);
    image.MaskBitmap = {};
  }
  ReleaseContext();
  EnsureHandle();
  const TColor key = EffectiveKeyColor();
  image.MaskBitmap = BuildMask(image.BitmapHandle, image.PaletteHandle, key);
  maskBuilt_ = true;
  maskCurrent_ = true;
}

TColor TBitmap::EffectiveKeyColor() {
  TColor key;
  if (keyColor_ == clDefault) {
    key = IsMono() ? clWhite : Canvas().PixelAt(0, Height() - 1);
  } else {
    key = static_cast<TColor>(ResolveColor(keyColor_));
  }
  return static_cast<TColor>(static_cast<std::uint32_t>(key) | kPaletteRelative);
}

void TBitmap::SetKeyColor(TColor value) {
  if (value == keyColor_) return;
  keyKind_ = value == clDefault ? TTransparencyKind::tkAuto : TTransparencyKind::tkFixed;
  keyColor_ = value;
  // The mask belongs to the storage: a bitmap with its own key colour needs
  // storage, and so a mask, of its own.
  if (sharedImage_->ShareCount > 1) {
    TContextLock contextLock;
    EnsureHandle();
    const TBitmapImage& image = *sharedImage_;
    CloneImage(image.BitmapHandle, image.PaletteHandle, image.Section);
  }
  NotifyChange(this);
}

void TBitmap::SetKeyKind(TTransparencyKind value) {
  if (value == keyKind_) return;
  if (value == TTransparencyKind::tkAuto) {
    SetKeyColor(clDefault);
  } else {
    // Freezes the colour in use now, palette-relative flag included.
    SetKeyColor(EffectiveKeyColor());
  }
}
