// The 1-bit transparency mask of a bitmap and the masked transfer that draws
// through it.
#include "bleedborder/canvas/transparent.h"

#include <optional>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/image_globals.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/gdi_raii.h"
#include "bleedborder/platform/process.h"

namespace bleedborder {

namespace {

// Foreground operation of the masked transfer: the destination stays.
constexpr gdi::DWORD kKeepDestination = 0x00AA0029;

// The text and background colours of a context, put back on every path.
class ContextColors {
 public:
  ContextColors(gdi::HDC dc, gdi::COLORREF text, gdi::COLORREF background)
      : dc_(dc), oldText_(gdi::SetTextColor(dc, text)), oldBackground_(gdi::SetBkColor(dc, background)) {}
  ContextColors(const ContextColors&) = delete;
  ContextColors& operator=(const ContextColors&) = delete;
  ~ContextColors() {
    gdi::SetTextColor(dc_, oldText_);
    gdi::SetBkColor(dc_, oldBackground_);
  }

 private:
  gdi::HDC dc_;
  gdi::COLORREF oldText_;
  gdi::COLORREF oldBackground_;
};

// Sets the mask bits under pixels equal to key. The comparison is made by
// the colour-to-monochrome transfer, in the display's pixel format: a section
// is first copied into a display-compatible bitmap. False when that copy
// cannot be made.
bool MarkKeyPixels(gdi::HDC screen, gdi::HDC mono, gdi::HBITMAP bitmap, gdi::HPALETTE palette,
                   gdi::DIBSECTION& record, TColor key) REQUIRES(LibraryLock) {
  const std::int32_t width = record.dsBm.bmWidth;
  const std::int32_t height = record.dsBm.bmHeight;
  gdi::MemoryDC color(screen);
  CheckHandle(color.Get());

  const bool isSection = record.dsBm.bmBits != nullptr;
  if (isSection) record.dsBmih.biSize = 0;  // asks for a device-dependent bitmap
  gdi::OwnedObject<gdi::HBITMAP> displayCopy(isSection ? RebuildBitmap(bitmap, palette, palette, record, nullptr)
                                                       : gdi::HBITMAP{});
  if (isSection && !displayCopy) return false;
  const gdi::HBITMAP source = isSection ? displayCopy.Get() : bitmap;

  gdi::Selection selected(color.Get(), source);
  gdi::PaletteSelection colorPalette(color.Get(), palette, gdi::FALSE);
  gdi::PaletteSelection monoPalette(mono, palette, gdi::FALSE);
  if (palette) {
    gdi::RealizePalette(color.Get());
    gdi::RealizePalette(mono);
  }
  const gdi::COLORREF oldBackground = gdi::SetBkColor(color.Get(), static_cast<gdi::COLORREF>(key));
  gdi::BitBlt(mono, 0, 0, width, height, color.Get(), 0, 0, gdi::SRCCOPY);
  gdi::SetBkColor(color.Get(), oldBackground);
  return true;
}

// One masked transfer: the mask is lent to MaskBlt by swapping a 1 x 1 spare
// into the mask context in its place.
void SingleMaskedTransfer(gdi::HDC dest, std::int32_t destX, std::int32_t destY, std::int32_t width,
                          std::int32_t height, gdi::HDC source, std::int32_t sourceX, std::int32_t sourceY,
                          gdi::HDC maskContext, std::int32_t maskX, std::int32_t maskY) {
  gdi::OwnedObject<gdi::HBITMAP> spare(CheckHandle(gdi::CreateCompatibleBitmap(source, 1, 1)));
  gdi::Selection swapped(maskContext, spare.Get());
  const auto mask = gdi::handle_cast<gdi::HBITMAP>(swapped.Previous());
  gdi::MaskBlt(dest, destX, destY, width, height, source, sourceX, sourceY, mask, maskX, maskY,
               gdi::MAKEROP4(kKeepDestination, gdi::SRCCOPY));
}

// Four stretching transfers: the destination is cleared to black under the
// opaque part of the mask, then the source, blackened under the transparent
// part, is merged in by XOR.
void FourTransfers(gdi::HDC dest, std::int32_t destX, std::int32_t destY, std::int32_t destWidth,
                   std::int32_t destHeight, gdi::HDC source, std::int32_t sourceX, std::int32_t sourceY,
                   std::int32_t sourceWidth, std::int32_t sourceHeight, gdi::HDC maskContext, std::int32_t maskX,
                   std::int32_t maskY) REQUIRES(LibraryLock) {
  gdi::MemoryDC work{gdi::HDC{}};
  CheckHandle(work.Get());
  // Declared before the work bitmap so that it is put back after the bitmap
  // left the context, just before the context goes.
  std::optional<gdi::PaletteSelection> workPalette;
  gdi::OwnedObject<gdi::HBITMAP> workBitmap(
      CheckHandle(gdi::CreateCompatibleBitmap(source, sourceWidth, sourceHeight)));
  gdi::Selection selected(work.Get(), workBitmap.Get());

  // The source's palette, learned by swapping it out and straight back in.
  const gdi::HPALETTE sourcePalette = gdi::SelectPalette(source, StockPalette16, gdi::FALSE);
  gdi::SelectPalette(source, sourcePalette, gdi::FALSE);
  workPalette.emplace(work.Get(), sourcePalette ? sourcePalette : StockPalette16, gdi::TRUE);
  gdi::RealizePalette(work.Get());

  // A fresh context's text colour black and background white: mask bits 1
  // become white, 0 black.
  gdi::StretchBlt(work.Get(), 0, 0, sourceWidth, sourceHeight, maskContext, maskX, maskY, sourceWidth,
                  sourceHeight, gdi::SRCCOPY);
  gdi::StretchBlt(work.Get(), 0, 0, sourceWidth, sourceHeight, source, sourceX, sourceY, sourceWidth,
                  sourceHeight, gdi::SRCERASE);
  ContextColors colors(dest, 0x000000, 0xFFFFFF);
  gdi::StretchBlt(dest, destX, destY, destWidth, destHeight, maskContext, maskX, maskY, sourceWidth, sourceHeight,
                  gdi::SRCAND);
  gdi::StretchBlt(dest, destX, destY, destWidth, destHeight, work.Get(), 0, 0, sourceWidth, sourceHeight,
                  gdi::SRCINVERT);
}

}  // namespace

gdi::HBITMAP BuildMask(gdi::HBITMAP bitmap, gdi::HPALETTE palette, TColor key) {
  gdi::DIBSECTION record{};
  if (!bitmap || gdi::GetObjectA(bitmap, sizeof record, &record) == 0) return {};
  // The bitmap is selected below, so no canvas may hold it.
  DetachBitmapHandle(bitmap);

  gdi::ScreenDC screen;
  CheckHandle(screen.Get());
  gdi::MemoryDC mono(screen.Get());
  CheckHandle(mono.Get());
  const std::int32_t width = record.dsBm.bmWidth;
  const std::int32_t height = record.dsBm.bmHeight;
  gdi::OwnedObject<gdi::HBITMAP> mask(gdi::CreateBitmap(width, height, 1, 1, nullptr));
  if (!mask) return {};
  {
    gdi::Selection selected(mono.Get(), mask.Get());
    if (key == clNone) {
      gdi::PatBlt(mono.Get(), 0, 0, width, height, gdi::BLACKNESS);
    } else if (!MarkKeyPixels(screen.Get(), mono.Get(), bitmap, palette, record, key)) {
      return {};
    }
  }
  return mask.Release();
}

bool MaskedStretch(gdi::HDC dest, std::int32_t destX, std::int32_t destY, std::int32_t destWidth,
                   std::int32_t destHeight, gdi::HDC source, std::int32_t sourceX, std::int32_t sourceY,
                   std::int32_t sourceWidth, std::int32_t sourceHeight, gdi::HDC mask, std::int32_t maskX,
                   std::int32_t maskY) {
  // Only the NT family's raster device offers the masked transfer, and it
  // does not stretch.
  if (sys::PlatformId == sys::VER_PLATFORM_WIN32_NT && sourceWidth == destWidth && sourceHeight == destHeight) {
    SingleMaskedTransfer(dest, destX, destY, destWidth, destHeight, source, sourceX, sourceY, mask, maskX, maskY);
  } else {
    FourTransfers(dest, destX, destY, destWidth, destHeight, source, sourceX, sourceY, sourceWidth, sourceHeight,
                  mask, maskX, maskY);
  }
  return true;
}

}  // namespace bleedborder
