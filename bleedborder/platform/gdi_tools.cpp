// Pens, brushes, fonts and palettes: their creation, stock objects, palette
// entries, text metrics and system colours.
#include <algorithm>
#include <cerrno>
#include <mutex>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_device.h"
#include "bleedborder/platform/raster_palette.h"

namespace bleedborder::gdi {

using namespace detail;

namespace {

void SetPaletteEntry(PALETTEENTRY& e, Color c) {
  e = {static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c), 0};
}

}  // namespace

// ---- Tools and palettes ----------------------------------------------------

HPEN CreatePenIndirect(const LOGPEN* pen) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!pen || pen->lopnStyle > PS_INSIDEFRAME) return Fail<HPEN>(0);
  auto object = std::make_unique<PenObject>();
  object->pen = *pen;
  return HPEN{device.Add(std::move(object))};
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!brush || brush->lbStyle > BS_HATCHED || (brush->lbStyle == BS_HATCHED && brush->lbHatch > HS_DIAGCROSS))
    return Fail<HBRUSH>(0);
  auto object = std::make_unique<BrushObject>();
  object->brush = *brush;
  return HBRUSH{device.Add(std::move(object))};
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!font) return Fail<HFONT>(0);
  auto object = std::make_unique<FontObject>();
  object->font = *font;
  object->font.lfFaceName[LF_FACESIZE - 1] = '\0';
  return HFONT{device.Add(std::move(object))};
}

HGDIOBJ GetStockObject(int index) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  HGDIOBJ h;
  h.value = device.Stock(index);
  return h;
}

BOOL UnrealizeObject(HGDIOBJ object) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  const Object* o = device.FindAny(object.value);
  return o && (o->kind == ObjectKind::Brush || o->kind == ObjectKind::Palette) ? TRUE : FALSE;
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0 || palette->palNumEntries > 256)
    return Fail<HPALETTE>(0);
  auto object = std::make_unique<PaletteObject>();
  object->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  return HPALETTE{device.Add(std::move(object))};
}

HPALETTE CreateHalftonePalette(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (dc && !device.Find<DcObject>(dc.value)) return Fail<HPALETTE>(0);
  auto object = std::make_unique<PaletteObject>();
  object->entries.resize(256);
  for (std::size_t i = 0; i < 256; ++i) SetPaletteEntry(object->entries[i], raster::HalftoneColors()[i]);
  return HPALETTE{device.Add(std::move(object))};
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  const PaletteObject* p = device.Find<PaletteObject>(palette.value);
  if (!p) return 0;
  const UINT size = static_cast<UINT>(p->entries.size());
  if (!entries) return size;
  if (start >= size) return 0;
  const UINT n = std::min(count, size - start);
  std::copy_n(p->entries.begin() + start, n, entries);
  return n;
}

UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  PaletteObject* p = device.Find<PaletteObject>(palette.value);
  if (!p || p->stock || !entries) return 0;
  const UINT size = static_cast<UINT>(p->entries.size());
  if (start >= size) return 0;
  const UINT n = std::min(count, size - start);
  std::copy_n(entries, n, p->entries.begin() + start);
  return n;
}

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!device.Find<DcObject>(dc.value)) return 0;
  if (!entries) return 256;
  if (start >= 256) return 0;
  const UINT n = std::min<UINT>(count, 256 - start);
  for (UINT i = 0; i < n; ++i) SetPaletteEntry(entries[i], raster::HalftoneColors()[start + i]);
  return n;
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  const DcObject* context = device.Find<DcObject>(dc.value);
  const FontObject* font = context ? device.Find<FontObject>(context->state.font) : nullptr;
  if (!font || !metrics) return FALSE;
  const LOGFONTA& f = font->font;
  // A simple proportional model: a character height (em) and a cell with
  // one fifth of the em added as internal leading.
  const LONG requested = f.lfHeight == INT32_MIN ? INT32_MAX : (f.lfHeight < 0 ? -f.lfHeight : f.lfHeight);
  LONG cell, em;
  if (f.lfHeight < 0) {
    em = std::min<LONG>(requested, 0x10000);
    cell = em + (em + 4) / 5;
  } else {
    cell = f.lfHeight == 0 ? 16 : std::min<LONG>(requested, 0x10000);
    em = cell - (cell + 5) / 6;
  }
  TEXTMETRICA m;
  m.tmHeight = cell;
  m.tmDescent = (cell + 3) / 5;
  m.tmAscent = cell - m.tmDescent;
  m.tmInternalLeading = cell - em;
  m.tmExternalLeading = 0;
  m.tmAveCharWidth = f.lfWidth > 0 ? f.lfWidth : std::max<LONG>(1, (cell * 2 + 2) / 5);
  m.tmMaxCharWidth = 2 * m.tmAveCharWidth;
  m.tmWeight = f.lfWeight == 0 ? 400 : f.lfWeight;
  m.tmOverhang = 0;
  m.tmDigitizedAspectX = m.tmDigitizedAspectY = 96;
  m.tmFirstChar = 0x20;
  m.tmLastChar = 0xFF;
  m.tmDefaultChar = 0x1F;
  m.tmBreakChar = 0x20;
  m.tmItalic = f.lfItalic ? 1 : 0;
  m.tmUnderlined = f.lfUnderline ? 1 : 0;
  m.tmStruckOut = f.lfStrikeOut ? 1 : 0;
  // The low bit set means a variable pitch.
  m.tmPitchAndFamily = static_cast<BYTE>((f.lfPitchAndFamily & 0xF0) | ((f.lfPitchAndFamily & 3) == 1 ? 0 : 1));
  m.tmCharSet = f.lfCharSet;
  *metrics = m;
  return TRUE;
}

DWORD GetSysColor(int index) { return raster::SystemColorRef(index); }

}  // namespace bleedborder::gdi
