// Depth, size, kind and palette changes of a bitmap: each builds a new
// platform bitmap from the old one and installs it as new storage.
#include <cstdint>
#include <utility>

#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/image_globals.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

constexpr gdi::DWORD kInfoHeaderBytes = sizeof(gdi::BITMAPINFOHEADER);

gdi::WORD BitCountOf(TPixelDepth depth) {
  switch (depth) {
    case TPixelDepth::pd1Bit: return 1;
    case TPixelDepth::pd4Bit: return 4;
    case TPixelDepth::pd8Bit: return 8;
    case TPixelDepth::pd15Bit:
    case TPixelDepth::pd16Bit: return 16;
    case TPixelDepth::pd24Bit: return 24;
    case TPixelDepth::pd32Bit: return 32;
    default: return 0;
  }
}

gdi::HPALETTE ScreenHalftonePalette() REQUIRES(LibraryLock) {
  gdi::ScreenDC screen;
  CheckHandle(screen.Get());
  return gdi::CreateHalftonePalette(screen.Get());
}

// A size the platform could never make is refused before anything changes.
void RequireSize(std::int32_t value) {
  if (value < 0) RaiseOutOfResources();
}

}  // namespace

void TBitmap::SetDepth(TPixelDepth value) { ChangeThenNotify(&TBitmap::SetDepthHeld, value); }

bool TBitmap::SetDepthHeld(TPixelDepth value) {
  if (value == HeldDepth()) return false;
  if (value == TPixelDepth::pdDevice) return SetKindHeld(TBitmapKind::bkDDB);
  if (value == TPixelDepth::pdCustom) RaiseInvalidGraphic(Msg::InvalidPixelFormat);

  // A fresh header: resolution and important-colour count are not carried
  // over, and the positive row count makes the new section bottom-up.
  gdi::DIBSECTION record{};
  record.dsBm = sharedImage_->Section.dsBm;
  record.dsBm.bmBits = nullptr;
  record.dsBmih.biSize = kInfoHeaderBytes;
  record.dsBmih.biWidth = record.dsBm.bmWidth;
  record.dsBmih.biHeight = record.dsBm.bmHeight;
  record.dsBmih.biPlanes = 1;
  record.dsBmih.biBitCount = BitCountOf(value);

  gdi::HPALETTE palette = sharedImage_->PaletteHandle;
  // The halftone palette is only the model of the storage's own copy.
  const gdi::OwnedObject<gdi::HPALETTE> halftone(value == TPixelDepth::pd8Bit ? ScreenHalftonePalette()
                                                                               : gdi::HPALETTE{});
  switch (value) {
    case TPixelDepth::pd4Bit: palette = StockPalette16; break;
    case TPixelDepth::pd8Bit: palette = halftone.Get(); break;
    case TPixelDepth::pd16Bit:
      record.dsBmih.biCompression = gdi::BI_BITFIELDS;
      record.dsBitfields[0] = 0xF800;
      record.dsBitfields[1] = 0x07E0;
      record.dsBitfields[2] = 0x001F;
      break;
    default: break;
  }

  ReleaseContext();
  EnsureHandle();
  PrepareHeldToModify();
  CloneImage(sharedImage_->BitmapHandle, palette, record);
  SetPaletteChanged(static_cast<bool>(palette));
  return true;
}

void TBitmap::SetWidth(std::int32_t value) { ChangeThenNotify(&TBitmap::SetWidthHeld, value); }

bool TBitmap::SetWidthHeld(std::int32_t value) {
  if (value == sharedImage_->Section.dsBm.bmWidth) return false;
  RequireSize(value);
  EnsureHandle();
  gdi::DIBSECTION record = sharedImage_->Section;
  record.dsBm.bmWidth = value;
  record.dsBmih.biWidth = value;
  CloneImage(sharedImage_->BitmapHandle, sharedImage_->PaletteHandle, record);
  return true;
}

void TBitmap::SetHeight(std::int32_t value) { ChangeThenNotify(&TBitmap::SetHeightHeld, value); }

bool TBitmap::SetHeightHeld(std::int32_t value) {
  if (value == sharedImage_->Section.dsBm.bmHeight) return false;
  RequireSize(value);
  EnsureHandle();
  gdi::DIBSECTION record = sharedImage_->Section;
  record.dsBm.bmHeight = value;
  record.dsBmih.biHeight = value;
  CloneImage(sharedImage_->BitmapHandle, sharedImage_->PaletteHandle, record);
  return true;
}

// Any bitmap but an empty deep one is sized as SetWidth and then SetHeight
// size it, with a notice for each change.
void TBitmap::SetSizeUnfilled(std::int32_t width, std::int32_t height) {
  bool attached;
  {
    TLibraryHold hold;
    attached = AttachUnfilledSection(width, height);
  }
  if (attached) {
    NotifyChange(this);
    return;
  }
  SetWidth(width);
  SetHeight(height);
}

bool TBitmap::AttachUnfilledSection(std::int32_t width, std::int32_t height) {
  const TBitmapImage& image = *sharedImage_;
  const bool empty = !image.BitmapHandle && !image.SectionHandle;
  if (!empty || image.Section.dsBmih.biSize < kInfoHeaderBytes || image.Section.dsBmih.biBitCount <= 8 || width <= 0 ||
      height <= 0)
    return false;
  gdi::DIBSECTION record = image.Section;
  record.dsBm.bmWidth = width;
  record.dsBmih.biWidth = width;
  record.dsBm.bmHeight = height;
  record.dsBmih.biHeight = height;
  gdi::OwnedObject<gdi::HBITMAP> made(MakeUnfilledSection(record));
  AttachImage(made.Get(), {}, nullptr, image.CoreFormat, record);
  made.Release();
  return true;
}

void TBitmap::SetKind(TBitmapKind value) { ChangeThenNotify(&TBitmap::SetKindHeld, value); }

bool TBitmap::SetKindHeld(TBitmapKind value) {
  if (value == HeldKind()) return false;
  TBitmapImage* image = sharedImage_;
  if (!image->BitmapHandle && !image->SectionHandle) {
    // The kind of an empty bitmap lives in its record. A shared record is
    // left to the sharers: this bitmap gets an empty storage of its own.
    gdi::DIBSECTION record = image->Section;
    record.dsBmih.biSize = value == TBitmapKind::bkDDB ? 0 : kInfoHeaderBytes;
    if (image->ShareCount > 1)
      AttachImage({}, {}, nullptr, image->CoreFormat, record);
    else
      image->Section = record;
    return false;
  }

  ReleaseContext();
  EnsurePalette();
  image = sharedImage_;
  if (value == TBitmapKind::bkDIB) {
    EnsureSection();
    if (image->ShareCount == 1) {
      // The section and palette move to the new storage; releasing the old
      // one then deletes only the device bitmap.
      gdi::OwnedObject<gdi::HBITMAP> section(std::exchange(image->SectionHandle, gdi::HBITMAP{}));
      gdi::OwnedObject<gdi::HPALETTE> palette(std::exchange(image->PaletteHandle, gdi::HPALETTE{}));
      AttachImage(section.Get(), palette.Get(), nullptr, image->CoreFormat, image->Section);
      section.Release();
      palette.Release();
    } else {
      CloneImage(image->SectionHandle, image->PaletteHandle, image->Section);
    }
  } else {
    gdi::DIBSECTION record = image->Section;
    record.dsBmih.biSize = 0;
    const bool alone = image->ShareCount == 1;
    gdi::OwnedObject<gdi::HPALETTE> paletteCopy(alone ? gdi::HPALETTE{} : DuplicatePalette(image->PaletteHandle));
    const gdi::HPALETTE newPalette = alone ? image->PaletteHandle : paletteCopy.Get();
    gdi::OwnedObject<gdi::HBITMAP> made(
        RebuildBitmap(image->SectionHandle, image->PaletteHandle, newPalette, record, nullptr));
    if (alone) {
      image->BitmapHandle = made.Release();  // the section stays as its copy
    } else {
      AttachImage(made.Get(), newPalette, nullptr, image->CoreFormat, record);
      made.Release();
      paletteCopy.Release();
    }
  }
  return true;
}

void TBitmap::SetPaletteHandle(gdi::HPALETTE value) {
  {
    TLibraryHold hold;
    if (value == sharedImage_->PaletteHandle) return;
    SetPaletteHandleHeld(value);
  }
  NotifyChange(this);
}

void TBitmap::SetPaletteHandleHeld(gdi::HPALETTE value) {
  TBitmapImage* image = sharedImage_;
  if (!value && image->ShareCount == 1) {
    // A palette still selected into the canvas's context cannot be deleted.
    ReleaseContext();
    if (image->PaletteHandle != StockPalette16) gdi::DeleteObject(image->PaletteHandle);
    image->PaletteHandle = {};
  } else {
    ReleaseContext();
    EnsureHandle();
    image = sharedImage_;
    gdi::DIBSECTION record = image->Section;
    gdi::OwnedObject<gdi::HBITMAP> made(
        RebuildBitmap(image->BitmapHandle, image->PaletteHandle, value, record, nullptr));
    if (!made) record.dsBm.bmBits = nullptr;  // no pixels of its own
    AttachImage(made.Get(), value, nullptr, image->CoreFormat, record);
    made.Release();
  }
  image = sharedImage_;
  SyncSectionColors(image->SectionHandle, value, image->Section);
  SetPaletteChanged(true);
}

}  // namespace bleedborder
