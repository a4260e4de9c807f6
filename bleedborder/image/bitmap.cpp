// The bitmap and its shared storage: copy on write, and handles, sections
// and palettes made on first need.
#include "bleedborder/image/bitmap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/dib.h"
#include "bleedborder/image/image_globals.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

// The clipboard's format number of a device-dependent bitmap.
constexpr std::uint16_t kClipboardBitmap = 2;
constexpr gdi::DWORD kInfoHeaderBytes = sizeof(gdi::BITMAPINFOHEADER);

void DetachAndDelete(gdi::HBITMAP handle) REQUIRES(LibraryLock) {
  DetachBitmapHandle(handle);
  gdi::DeleteObject(handle);
}

// A palette made for a new storage, deleted unless handed over; the shared
// 16-colour palette is never deleted.
class TPaletteCopy {
 public:
  explicit TPaletteCopy(gdi::HPALETTE palette) : palette_(palette) {}
  TPaletteCopy(const TPaletteCopy&) = delete;
  TPaletteCopy& operator=(const TPaletteCopy&) = delete;
  ~TPaletteCopy() REQUIRES(LibraryLock) {
    if (palette_ && palette_ != StockPalette16) gdi::DeleteObject(palette_);
  }
  gdi::HPALETTE Get() const { return palette_; }
  gdi::HPALETTE Release() { return std::exchange(palette_, gdi::HPALETTE{}); }

 private:
  gdi::HPALETTE palette_;
};

}  // namespace

// ---- Storage -----------------------------------------------------------------

void TSharedImage::DropShare(TSharedImage* image) {
  if (!image) return;
  if (--image->ShareCount == 0) {
    image->ReleaseHandles();
    delete image;
  }
}

// Destroyed by DropShare, with the library lock held.
TBitmapImage::~TBitmapImage() NO_THREAD_SAFETY_ANALYSIS {
  if (SectionHandle) {
    DetachAndDelete(SectionHandle);
    SectionHandle = {};
  }
  ReleaseHandles();
  const sys::HANDLE mapping = Section.dshSection;
  if (mapping.value != 0 && mapping != sys::INVALID_HANDLE_VALUE) sys::CloseHandle(mapping);
}

void TBitmapImage::ReleaseHandles() {
  if (BitmapHandle && BitmapHandle != SectionHandle) DetachAndDelete(BitmapHandle);
  if (MaskBitmap) {
    DetachAndDelete(MaskBitmap);
    MaskBitmap = {};
  }
  if (PaletteHandle && PaletteHandle != StockPalette16) gdi::DeleteObject(PaletteHandle);
  BitmapHandle = {};
  PaletteHandle = {};
}

// ---- Life cycle and assignment -------------------------------------------------

TBitmap::TBitmap() {
  TLibraryHold hold;
  sharedImage_ = new TBitmapImage;
  sharedImage_->AddShare();
}

TBitmap::~TBitmap() {
  TLibraryHold hold;
  ReleaseContext();
  TSharedImage::DropShare(sharedImage_);
  sharedImage_ = nullptr;
  canvas_.reset();
}

void TBitmap::TakeFrom(TPersistent* source) {
  auto* other = dynamic_cast<TBitmap*>(source);
  if (source && !other) {
    TGraphic::TakeFrom(source);
    return;
  }
  {
    TLibraryHold hold;
    // The canvas gives the old handle back first: it would otherwise stay
    // selected, and be drawn from, while other bitmaps still share it.
    if (other != this) ReleaseContext();
    if (other) {
      other->sharedImage_->AddShare();
      TSharedImage* previous = std::exchange(sharedImage_, other->sharedImage_);
      StoreUseTransparency(other->HeldUseTransparency());
      keyColor_ = other->keyColor_;
      keyKind_ = other->keyKind_;
      TSharedImage::DropShare(previous);
    } else {
      AttachImage({}, {}, nullptr, false, gdi::DIBSECTION{});
    }
    EnsurePalette();
    SetPaletteChanged(static_cast<bool>(sharedImage_->PaletteHandle));
  }
  NotifyChange(this);
}

void TBitmap::NotifyChange(void* sender) {
  {
    TLibraryHold hold;
    maskCurrent_ = false;
  }
  TGraphic::NotifyChange(sender);
}

// ---- Reading the storage --------------------------------------------------------

bool TBitmap::IsEmpty() {
  TLibraryHold hold;
  return HeldIsEmpty();
}

bool TBitmap::HeldIsEmpty() {
  const TBitmapImage& image = *sharedImage_;
  return !image.BitmapHandle && !image.SectionHandle && !image.SavedStream;
}

std::int32_t TBitmap::Width() {
  TLibraryHold hold;
  return sharedImage_->Section.dsBm.bmWidth;
}

std::int32_t TBitmap::Height() {
  TLibraryHold hold;
  const std::int64_t height = sharedImage_->Section.dsBm.bmHeight;
  return static_cast<std::int32_t>(std::min<std::int64_t>(std::llabs(height), INT32_MAX));
}

bool TBitmap::IsMono() {
  TLibraryHold hold;
  return HeldIsMono();
}

bool TBitmap::HeldIsMono() {
  const gdi::BITMAP& bm = sharedImage_->Section.dsBm;
  return bm.bmPlanes == 1 && bm.bmBitsPixel == 1;
}

TBitmapKind TBitmap::Kind() {
  TLibraryHold hold;
  return HeldKind();
}

TBitmapKind TBitmap::HeldKind() {
  const TBitmapImage& image = *sharedImage_;
  if (image.BitmapHandle && image.BitmapHandle != image.SectionHandle) return TBitmapKind::bkDDB;
  if (image.SectionHandle) return TBitmapKind::bkDIB;
  return image.Section.dsBmih.biSize == 0 ? TBitmapKind::bkDDB : TBitmapKind::bkDIB;
}

TPixelDepth TBitmap::Depth() {
  TLibraryHold hold;
  return HeldDepth();
}

TPixelDepth TBitmap::HeldDepth() {
  if (HeldKind() == TBitmapKind::bkDDB) return TPixelDepth::pdDevice;
  const gdi::DIBSECTION& section = sharedImage_->Section;
  const gdi::DWORD compression = section.dsBmih.biCompression;
  switch (section.dsBmih.biBitCount) {
    case 1: return TPixelDepth::pd1Bit;
    case 4: return TPixelDepth::pd4Bit;
    case 8: return TPixelDepth::pd8Bit;
    case 16:
      if (compression == gdi::BI_RGB) return TPixelDepth::pd15Bit;
      if (compression == gdi::BI_BITFIELDS && section.dsBitfields[1] == 0x7E0) return TPixelDepth::pd16Bit;
      return TPixelDepth::pdCustom;
    case 24: return TPixelDepth::pd24Bit;
    case 32: return compression == gdi::BI_RGB ? TPixelDepth::pd32Bit : TPixelDepth::pdCustom;
    default: return TPixelDepth::pdCustom;
  }
}

gdi::HPALETTE TBitmap::PaletteHandle() {
  TLibraryHold hold;
  EnsurePalette();
  return sharedImage_->PaletteHandle;
}

gdi::HBITMAP TBitmap::BitmapHandle() {
  TLibraryHold hold;
  ReleaseContext();
  EnsureHandle();
  PrepareHeldToModify();
  return sharedImage_->BitmapHandle;
}

TBitmapCanvas& TBitmap::Canvas() {
  TLibraryHold hold;
  return HeldCanvas();
}

TBitmapCanvas& TBitmap::HeldCanvas() {
  if (!canvas_) {
    EnsureHandle();
    auto canvas = std::make_unique<TBitmapCanvas>(this);
    canvas->OnAfterChange = [this](TCanvas*) { NotifyChange(this); };
    canvas->OnBeforeChange = [this](TCanvas*) { PrepareToModify(); };
    canvas_ = std::move(canvas);
  }
  return *canvas_;
}

bool TBitmap::HasCanvas() const {
  TLibraryHold hold;
  return canvas_ != nullptr;
}

// ---- Clipboard --------------------------------------------------------------------

void TBitmap::LoadClipboard(std::uint16_t format, gdi::HBITMAP data, gdi::HPALETTE palette) {
  if (format != kClipboardBitmap || !data) RaiseInvalidGraphic(Msg::UnknownClipboardFormat);
  {
    TLibraryHold hold;
    ReleaseContext();
    gdi::DIBSECTION record{};
    gdi::GetObjectA(data, sizeof record, &record);
    if (!record.dsBm.bmBits) record.dsBmih.biSize = 0;
    CloneImage(data, palette, record);
    sharedImage_->CoreFormat = false;
    EnsurePalette();
    SetPaletteChanged(static_cast<bool>(sharedImage_->PaletteHandle));
  }
  NotifyChange(this);
}

void TBitmap::StoreClipboard(std::uint16_t& format, gdi::HBITMAP& data, gdi::HPALETTE& palette) {
  TLibraryHold hold;
  format = kClipboardBitmap;
  EnsureHandle();
  TBitmapImage& image = *sharedImage_;
  gdi::DIBSECTION record = image.Section;
  record.dsBm.bmBits = nullptr;
  record.dsBmih.biSize = 0;
  gdi::OwnedObject<gdi::HBITMAP> made(
      RebuildBitmap(image.BitmapHandle, image.PaletteHandle, image.PaletteHandle, record, canvas_.get()));
  palette = DuplicatePalette(image.PaletteHandle);
  data = made.Release();
}

// ---- Copy on write -----------------------------------------------------------------

void TBitmap::PrepareToModify() {
  TLibraryHold hold;
  PrepareHeldToModify();
}

void TBitmap::PrepareHeldToModify() {
  DetachImage();
  TBitmapImage& image = *sharedImage_;
  image.Section.dsBmih.biClrUsed = 0;
  image.Section.dsBmih.biClrImportant = 0;
  image.SavedStream.reset();
}

void TBitmap::DetachImage() {
  TBitmapImage& image = *sharedImage_;
  if (image.ShareCount > 1) {
    EnsureHandle();
    CloneImage(image.BitmapHandle, image.UsesHalftone ? gdi::HPALETTE{} : image.PaletteHandle, image.Section);
  } else if (image.BitmapHandle && image.BitmapHandle != image.SectionHandle) {
    // A device bitmap owned alone: the section copy would go stale.
    if (image.SectionHandle && !gdi::DeleteObject(image.SectionHandle)) RaiseDeviceError();
    image.SectionHandle = {};
    image.Section.dsBm.bmBits = nullptr;
  }
}

void TBitmap::CloneImage(gdi::HBITMAP handle, gdi::HPALETTE palette, gdi::DIBSECTION record) {
  ReleaseContext();
  TPaletteCopy newPalette(palette == StockPalette16 ? palette : DuplicatePalette(palette));
  gdi::OwnedObject<gdi::HBITMAP> made(RebuildBitmap(handle, palette, newPalette.Get(), record, canvas_.get()));
  // With nothing made the record still points at the old pixels, which the
  // new storage does not own.
  if (!made) record.dsBm.bmBits = nullptr;
  AttachImage(made.Get(), newPalette.Get(), nullptr, sharedImage_->CoreFormat, record);
  made.Release();
  newPalette.Release();
}

void TBitmap::AttachImage(gdi::HBITMAP handle, gdi::HPALETTE palette, std::unique_ptr<TMemoryStream> stream,
                          bool coreFormat, gdi::DIBSECTION record) {
  auto image = std::make_unique<TBitmapImage>();
  image->BitmapHandle = handle;
  image->PaletteHandle = palette;
  image->Section = record;
  image->CoreFormat = coreFormat;
  if (record.dsBm.bmBits) image->SectionHandle = handle;
  image->SavedStream = std::move(stream);
  TSharedImage* previous = std::exchange(sharedImage_, image.release());
  sharedImage_->AddShare();
  TSharedImage::DropShare(previous);
  maskBuilt_ = false;
}

// ---- Handles on demand ----------------------------------------------------------------

void TBitmap::EnsureHandle() {
  TBitmapImage& image = *sharedImage_;
  if (image.SectionHandle && !image.BitmapHandle) image.BitmapHandle = image.SectionHandle;
}

void TBitmap::EnsureSection() {
  TBitmapImage& image = *sharedImage_;
  if (!image.BitmapHandle || image.SectionHandle) return;
  EnsurePalette();
  gdi::DIBSECTION section = image.Section;
  if (section.dsBmih.biSize == 0) {
    gdi::GetObjectA(image.BitmapHandle, sizeof section, &section);
    section.dsBmih.biSize = kInfoHeaderBytes;
    section.dsBmih.biWidth = section.dsBm.bmWidth;
    section.dsBmih.biHeight = section.dsBm.bmHeight;
    section.dsBmih.biPlanes = 1;
    section.dsBmih.biBitCount = static_cast<gdi::WORD>(section.dsBm.bmPlanes * section.dsBm.bmBitsPixel);
  }
  const gdi::HBITMAP made =
      RebuildBitmap(image.BitmapHandle, image.PaletteHandle, image.PaletteHandle, section, nullptr);
  image.Section = section;
  image.SectionHandle = made;
}

void TBitmap::EnsurePalette() {
  if (noPalette_) return;
  TBitmapImage& image = *sharedImage_;
  if (image.PaletteHandle || !image.SectionHandle) return;
  if (image.SectionHandle == image.BitmapHandle) DetachBitmapHandle(image.SectionHandle);
  if (const gdi::HPALETTE fromTable = PaletteFromTable(image.SectionHandle, nullptr, 0)) {
    image.PaletteHandle = fromTable;
    return;
  }

  {
    gdi::ScreenDC screen;
    CheckHandle(screen.Get());
    const std::int32_t screenBits =
        gdi::GetDeviceCaps(screen.Get(), gdi::BITSPIXEL) * gdi::GetDeviceCaps(screen.Get(), gdi::PLANES);
    const std::int32_t imageBits = std::int32_t{image.Section.dsBm.bmBitsPixel} * image.Section.dsBm.bmPlanes;
    if (!image.UsesHalftone && screenBits < imageBits) image.UsesHalftone = true;
    if (image.UsesHalftone) image.PaletteHandle = gdi::CreateHalftonePalette(screen.Get());
  }
  if (!image.PaletteHandle) noPalette_ = true;
}

void TBitmap::ReleaseContext() {
  if (canvas_) canvas_->DropContext();
}

}  // namespace bleedborder
