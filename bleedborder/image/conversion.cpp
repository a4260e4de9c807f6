// Rebuilding bitmaps in a new size, depth or kind, and the palette routines
// those changes use.
#include "bleedborder/image/conversion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/image/dib.h"
#include "bleedborder/platform/errors.h"
#include "bleedborder/platform/files.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

constexpr gdi::DWORD kInfoHeaderBytes = sizeof(gdi::BITMAPINFOHEADER);

// A BITMAPINFO with room for a full colour table; the masks of a BI_BITFIELDS
// header take the place of its first three entries.
struct TWorkingHeader {
  gdi::BITMAPINFOHEADER header;
  gdi::RGBQUAD colors[256];

  gdi::BITMAPINFO* Info() { return reinterpret_cast<gdi::BITMAPINFO*>(this); }
};

gdi::RGBQUAD QuadFromColor(gdi::COLORREF color) {
  return {static_cast<gdi::BYTE>(color >> 16), static_cast<gdi::BYTE>(color >> 8), static_cast<gdi::BYTE>(color), 0};
}

std::int32_t Magnitude(std::int32_t value) { return value < 0 ? -value : value; }

// The entry count of a palette, 0 when the platform gives none.
std::int32_t PaletteEntryCount(gdi::HPALETTE palette) {
  std::uint32_t count = 0;
  if (gdi::GetObjectA(palette, sizeof count, &count) == 0) return 0;
  return static_cast<std::int32_t>(count & 0xFFFF);
}

bool NothingToMake(const gdi::DIBSECTION& record) {
  if (record.dsBmih.biSize != 0) return record.dsBmih.biWidth == 0 || record.dsBmih.biHeight == 0;
  return record.dsBm.bmWidth == 0 || record.dsBm.bmHeight == 0;
}

int ScreenBitCount(gdi::HDC screen) {
  return gdi::GetDeviceCaps(screen, gdi::BITSPIXEL) * gdi::GetDeviceCaps(screen, gdi::PLANES);
}

// Refuses, before anything is touched, a bitmap whose size the platform
// could only refuse or whose byte counts would not fit the 32-bit fields
// that describe it.
void RequireFittingSize(const gdi::DIBSECTION& record) {
  if (record.dsBmih.biSize >= kInfoHeaderBytes) {
    if (record.dsBmih.biHeight == INT32_MIN) RaiseOutOfResources();
    const int bits = record.dsBmih.biBitCount != 0 ? record.dsBmih.biBitCount : 32;
    CheckedImageBytes(record.dsBmih.biWidth, record.dsBmih.biHeight, bits);
  } else {
    if (record.dsBm.bmWidth < 0 || record.dsBm.bmHeight < 0) RaiseOutOfResources();
    const bool mono = (record.dsBm.bmPlanes | record.dsBm.bmBitsPixel) == 1;
    CheckedImageBytes(record.dsBm.bmWidth, record.dsBm.bmHeight, mono ? 1 : 32);
  }
}

bool IsSection(const gdi::DIBSECTION& described) {
  return described.dsBmih.biSize > 0 && described.dsBm.bmBits != nullptr;
}

// The platform's standard colours for a new table that nothing else fills
// (an old section of more than 8 bits gives none): black and white, the 16
// stock colours, or the halftone palette.
void StandardColorTable(TWorkingHeader& work, gdi::HDC screen) {
  switch (work.header.biBitCount) {
    case 1:
      work.colors[0] = {0, 0, 0, 0};
      work.colors[1] = {0xFF, 0xFF, 0xFF, 0};
      break;
    case 4:
      for (int i = 0; i < 16; ++i)
        work.colors[i] = {StockColors16[i].peBlue, StockColors16[i].peGreen, StockColors16[i].peRed, 0};
      break;
    default: {
      const gdi::OwnedObject<gdi::HPALETTE> halftone(gdi::CreateHalftonePalette(screen));
      TableFromPalette(halftone.Get(), work.colors, 255);
    }
  }
}

// The colour table of a section of at most 8 bits, by the first rule that
// applies: black and white for 1 bit from nothing or from a device bitmap,
// the new palette, or the old bitmap's own colours.
void FillColorTable(TWorkingHeader& work, gdi::HDC screen, gdi::HDC context, gdi::HBITMAP old,
                    const gdi::DIBSECTION& oldDescription, gdi::HPALETTE newPalette) {
  const bool oldIsSection = old && oldDescription.dsBm.bmBits != nullptr;
  std::int32_t found = 0;
  if (work.header.biBitCount == 1 && !oldIsSection) {
    StandardColorTable(work, screen);
    found = 2;
  } else if (newPalette) {
    found = TableFromPalette(newPalette, work.colors, 255);
  } else if (old) {
    gdi::Selection selected(context, old);
    if (IsSection(oldDescription)) {
      found = static_cast<std::int32_t>(gdi::GetDIBColorTable(context, 0, 256, work.colors));
    } else {
      found = gdi::GetDIBits(context, old, 0, static_cast<gdi::UINT>(Magnitude(work.header.biHeight)), nullptr,
                             work.Info(), gdi::DIB_RGB_COLORS);
    }
  }
  if (found <= 0) StandardColorTable(work, screen);
}

// The device-dependent bitmap the record asks for: monochrome or like the
// screen.
gdi::HBITMAP MakeDeviceBitmap(gdi::HDC screen, const gdi::DIBSECTION& record) {
  if ((record.dsBm.bmPlanes | record.dsBm.bmBitsPixel) == 1)
    return CheckHandle(gdi::CreateBitmap(record.dsBm.bmWidth, record.dsBm.bmHeight, 1, 1, nullptr));
  return CheckHandle(gdi::CreateCompatibleBitmap(screen, record.dsBm.bmWidth, record.dsBm.bmHeight));
}

// The section the record asks for: header, colour table or masks, then the
// section itself; record is completed as the section branch requires.
gdi::HBITMAP MakeSection(gdi::HDC screen, gdi::HDC context, gdi::HBITMAP old, const gdi::DIBSECTION& oldDescription,
                         gdi::HPALETTE newPalette, gdi::DIBSECTION& record, TWorkingHeader& work, void*& pixels) {
  gdi::BITMAPINFOHEADER& h = record.dsBmih;
  h.biSize = kInfoHeaderBytes;
  h.biPlanes = 1;
  if (h.biBitCount == 0) h.biBitCount = static_cast<gdi::WORD>(ScreenBitCount(screen));

  work.header = h;
  record.dsBm.bmWidth = h.biWidth;
  record.dsBm.bmHeight = h.biHeight;

  if (h.biBitCount <= 8) {
    FillColorTable(work, screen, context, old, oldDescription, newPalette);
  } else if ((h.biBitCount == 16 || h.biBitCount == 32) && (h.biCompression & 3) != 0) {
    DefaultMasks(record);
    std::memcpy(static_cast<void*>(work.colors), record.dsBitfields, sizeof record.dsBitfields);
  }

  pixels = nullptr;
  gdi::OwnedObject<gdi::HBITMAP> section(
      CheckHandle(gdi::CreateDIBSection(screen, work.Info(), gdi::DIB_RGB_COLORS, &pixels, sys::HANDLE{0}, 0)));
  if (!pixels) RaiseDeviceError();
  return section.Release();
}

// True when old has the new section's size and the new format has more than
// 8 bits: one platform conversion then moves the pixels.
bool ConvertsInOneCall(gdi::HBITMAP old, const gdi::DIBSECTION& oldDescription, const gdi::BITMAPINFOHEADER& h) {
  return old && oldDescription.dsBm.bmWidth == h.biWidth && oldDescription.dsBm.bmHeight == h.biHeight &&
         h.biBitCount > 8;
}

// The colours a canvas gives a transfer: text from its font, background from
// its brush.
void ApplyCanvasColors(gdi::HDC context, TCanvas& canvas) {
  gdi::SetTextColor(context, ResolveColor(canvas.Font().Color()));
  gdi::SetBkColor(context, ResolveColor(canvas.Brush().Color()));
}

// Fills the new bitmap (selected into context) with the canvas brush, or
// white without a canvas.
void FillNewBitmap(gdi::HDC context, const gdi::DIBSECTION& record, std::int32_t width, std::int32_t height,
                   TCanvas* canvas) {
  if (!canvas) {
    gdi::PatBlt(context, 0, 0, width, height, gdi::WHITENESS);
    return;
  }
  const gdi::RECT area{0, 0, width, height};
  gdi::FillRect(context, &area, canvas->Brush().ToolHandle());
  ApplyCanvasColors(context, *canvas);
  if (record.dsBmih.biBitCount == 1 && record.dsBm.bmBits != nullptr) {
    const gdi::RGBQUAD table[2] = {QuadFromColor(ResolveColor(canvas->Font().Color())),
                                   QuadFromColor(ResolveColor(canvas->Brush().Color()))};
    gdi::SetDIBColorTable(context, 0, 2, table);
  }
}

// Copies the old picture, unscaled, to the top-left corner of the new one.
void CopyOldPixels(gdi::HDC screen, gdi::HDC context, gdi::HBITMAP old, gdi::HPALETTE oldPalette, std::int32_t width,
                   std::int32_t height, TCanvas* canvas) {
  gdi::MemoryDC oldContext(screen);
  CheckHandle(oldContext.Get());
  gdi::Selection selected(oldContext.Get(), old);
  CheckHandle(selected.Previous());
  gdi::PaletteSelection palette(oldContext.Get(), oldPalette, gdi::FALSE);
  if (oldPalette) gdi::RealizePalette(oldContext.Get());
  if (canvas) ApplyCanvasColors(oldContext.Get(), *canvas);
  gdi::BitBlt(context, 0, 0, width, height, oldContext.Get(), 0, 0, gdi::SRCCOPY);
}

}  // namespace

gdi::HBITMAP RebuildBitmap(gdi::HBITMAP old, gdi::HPALETTE oldPalette, gdi::HPALETTE newPalette,
                           gdi::DIBSECTION& record, TCanvas* canvas) {
  if (NothingToMake(record)) return {};
  RequireFittingSize(record);
  // The old bitmap is selected below: no canvas may hold it.
  DetachBitmapHandle(old);

  gdi::DIBSECTION oldDescription{};
  if (old) {
    oldDescription.dsBmih.biSize = 0;
    if (gdi::GetObjectA(old, sizeof oldDescription, &oldDescription) < static_cast<int>(sizeof(gdi::BITMAP)))
      RaiseInvalidBitmap();
  }

  gdi::ScreenDC screen;
  CheckHandle(screen.Get());
  gdi::MemoryDC context(screen.Get());
  CheckHandle(context.Get());

  const bool section = record.dsBmih.biSize >= kInfoHeaderBytes;
  TWorkingHeader work{};
  void* pixels = nullptr;
  gdi::OwnedObject<gdi::HBITMAP> made(
      section ? MakeSection(screen.Get(), context.Get(), old, oldDescription, newPalette, record, work, pixels)
              : MakeDeviceBitmap(screen.Get(), record));

  const bool converted = section && ConvertsInOneCall(old, oldDescription, record.dsBmih);
  if (converted) {
    gdi::GetDIBits(context.Get(), old, 0, static_cast<gdi::UINT>(Magnitude(record.dsBmih.biHeight)), pixels,
                   work.Info(), gdi::DIB_RGB_COLORS);
  } else {
    // A top-down section records a negative height; fill and copy cover all
    // of its rows all the same.
    const std::int32_t width = record.dsBm.bmWidth;
    const std::int32_t height = Magnitude(record.dsBm.bmHeight);
    gdi::Selection selected(context.Get(), made.Get());
    CheckHandle(selected.Previous());
    gdi::PaletteSelection palette(context.Get(), newPalette, gdi::FALSE);
    if (newPalette) gdi::RealizePalette(context.Get());
    FillNewBitmap(context.Get(), record, width, height, canvas);
    if (old) CopyOldPixels(screen.Get(), context.Get(), old, oldPalette, width, height, canvas);
  }

  gdi::GetObjectA(made.Get(), sizeof record, &record);
  return made.Release();
}

gdi::HBITMAP MakeUnfilledSection(gdi::DIBSECTION& record) {
  if (NothingToMake(record)) return {};
  RequireFittingSize(record);
  gdi::ScreenDC screen;
  CheckHandle(screen.Get());
  gdi::MemoryDC context(screen.Get());
  CheckHandle(context.Get());
  TWorkingHeader work{};
  void* pixels = nullptr;
  gdi::OwnedObject<gdi::HBITMAP> made(
      MakeSection(screen.Get(), context.Get(), {}, gdi::DIBSECTION{}, {}, record, work, pixels));
  gdi::GetObjectA(made.Get(), sizeof record, &record);
  return made.Release();
}

gdi::HPALETTE DuplicatePalette(gdi::HPALETTE palette) {
  if (!palette) return {};
  const std::int32_t count = PaletteEntryCount(palette);
  if (count == 0) return {};
  gdi::LOGPALETTE copy;
  copy.palNumEntries = static_cast<gdi::WORD>(count > 256 ? 256 : count);
  gdi::GetPaletteEntries(palette, 0, copy.palNumEntries, copy.palPalEntry);
  return gdi::CreatePalette(&copy);
}

std::int32_t TableFromPalette(gdi::HPALETTE palette, gdi::RGBQUAD* table, std::int32_t highestIndex) {
  if (!palette || highestIndex < 0) return 0;
  std::int32_t count = PaletteEntryCount(palette);
  if (count > highestIndex + 1) count = highestIndex + 1;
  if (count > 256) count = 256;
  if (count <= 0) return 0;
  gdi::PALETTEENTRY entries[256];
  gdi::GetPaletteEntries(palette, 0, static_cast<gdi::UINT>(count), entries);
  for (std::int32_t i = 0; i < count; ++i) table[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
  return count;
}

void SyncSectionColors(gdi::HBITMAP section, gdi::HPALETTE palette, const gdi::DIBSECTION& record) {
  if (!section || record.dsBmih.biBitCount > 8) return;
  gdi::RGBQUAD table[256];
  const std::int32_t count = TableFromPalette(palette, table, 255);
  if (count <= 0) return;
  gdi::ScreenDC screen;
  gdi::MemoryDC context(screen.Get());
  gdi::Selection selected(context.Get(), section);
  gdi::SetDIBColorTable(context.Get(), 0, static_cast<gdi::UINT>(count), table);
}

void DefaultMasks(gdi::DIBSECTION& record) {
  if ((record.dsBmih.biCompression & 3) == 0 || record.dsBitfields[0] != 0) return;
  if (record.dsBmih.biBitCount == 16) {
    record.dsBitfields[0] = 0xF800;
    record.dsBitfields[1] = 0x07E0;
    record.dsBitfields[2] = 0x001F;
  } else if (record.dsBmih.biBitCount == 32) {
    record.dsBitfields[0] = 0xFF0000;
    record.dsBitfields[1] = 0x00FF00;
    record.dsBitfields[2] = 0x0000FF;
  }
}

const gdi::PALETTEENTRY StockColors16[16] = {
    {0x00, 0x00, 0x00, 0}, {0x80, 0x00, 0x00, 0}, {0x00, 0x80, 0x00, 0}, {0x80, 0x80, 0x00, 0},
    {0x00, 0x00, 0x80, 0}, {0x80, 0x00, 0x80, 0}, {0x00, 0x80, 0x80, 0}, {0x80, 0x80, 0x80, 0},
    {0xC0, 0xC0, 0xC0, 0}, {0xFF, 0x00, 0x00, 0}, {0x00, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0x00, 0},
    {0x00, 0x00, 0xFF, 0}, {0xFF, 0x00, 0xFF, 0}, {0x00, 0xFF, 0xFF, 0}, {0xFF, 0xFF, 0xFF, 0},
};

gdi::HPALETTE BuildStockPalette() {
  gdi::LOGPALETTE palette;
  palette.palNumEntries = 16;
  std::copy(std::begin(StockColors16), std::end(StockColors16), palette.palPalEntry);
  gdi::PALETTEENTRY* entries = palette.palPalEntry;

  gdi::ScreenDC screen;
  const int size = screen ? gdi::GetDeviceCaps(screen.Get(), gdi::SIZEPALETTE) : 0;
  if (size >= 16) {
    const auto s = static_cast<gdi::UINT>(size);
    gdi::GetSystemPaletteEntries(screen.Get(), 0, 8, entries);
    const gdi::PALETTEENTRY& seventh = entries[7];
    if (seventh.peRed == 0xC0 && seventh.peGreen == 0xC0 && seventh.peBlue == 0xC0 && seventh.peFlags == 0) {
      gdi::GetSystemPaletteEntries(screen.Get(), s - 8, 1, &entries[7]);
      gdi::GetSystemPaletteEntries(screen.Get(), s - 7, 7, &entries[9]);
      gdi::GetSystemPaletteEntries(screen.Get(), 7, 1, &entries[8]);
    } else {
      gdi::GetSystemPaletteEntries(screen.Get(), s - 8, 8, &entries[8]);
    }
  }
  return gdi::CreatePalette(&palette);
}

}  // namespace bleedborder
