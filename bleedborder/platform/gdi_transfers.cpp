// Selection of objects into contexts, and the calls that drive the transfer
// engine: pattern fills, block, stretching and masked transfers, pixels.
#include <cstdint>
#include <mutex>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_device.h"
#include "bleedborder/platform/raster_surface.h"
#include "bleedborder/platform/raster_transfer.h"

namespace bleedborder::gdi {

using namespace detail;

namespace {

raster::Pattern PatternOf(Device& device, const DcObject& dc, std::uint32_t brushId) {
  raster::Pattern p;
  p.background = raster::FromColorRef(dc.state.background);
  p.opaque = dc.state.bkMode == OPAQUE;
  p.originX = dc.state.brushOrigin.x;
  p.originY = dc.state.brushOrigin.y;
  const BrushObject* brush = device.Find<BrushObject>(brushId);
  if (!brush || brush->brush.lbStyle == BS_HOLLOW) {
    p.kind = raster::PatternKind::Hollow;
    return p;
  }
  p.color = raster::FromColorRef(brush->brush.lbColor);
  if (brush->brush.lbStyle == BS_HATCHED) {
    p.kind = raster::PatternKind::Hatched;
    p.hatch = static_cast<int>(brush->brush.lbHatch);
  }
  return p;
}

raster::Transfer TransferOnto(Device& device, Target& dest, std::uint8_t rop) {
  raster::Transfer t;
  t.dest = &dest.bitmap->surface;
  t.rop = rop;
  t.backRop = rop;
  t.mode = static_cast<raster::StretchMode>(dest.dc->state.stretchMode);
  t.pattern = PatternOf(device, *dest.dc, dest.dc->state.brush);
  t.destText = raster::FromColorRef(dest.dc->state.text);
  t.destBackground = raster::FromColorRef(dest.dc->state.background);
  return t;
}

std::uint8_t RopCode(DWORD rop) { return static_cast<std::uint8_t>((rop >> 16) & 0xFF); }

// Sets the source of t when its operations read one; false when they need a
// source that is not there.
bool AttachSource(Device& device, raster::Transfer& t, HDC src) {
  if (!t.UsesSource()) return true;
  Target source = TargetOf(device, src);
  if (!source) return false;
  t.source = &source.bitmap->surface;
  t.sourceBackground = raster::FromColorRef(source.dc->state.background);
  return true;
}

BOOL Stretch(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth, int srcHeight,
             DWORD rop) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target dest = TargetOf(device, dc);
  if (!dest) return FALSE;
  raster::Transfer t = TransferOnto(device, dest, RopCode(rop));
  t.x = x, t.y = y, t.width = width, t.height = height;
  t.srcX = srcX, t.srcY = srcY, t.srcWidth = srcWidth, t.srcHeight = srcHeight;
  if (!AttachSource(device, t, src)) return FALSE;
  raster::Run(t);
  return TRUE;
}

}  // namespace

// ---- Selection -----------------------------------------------------------

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  Object* o = device.FindAny(object.value);
  if (!context || !o) return {};
  std::uint32_t* slot = nullptr;
  switch (o->kind) {
    case ObjectKind::Bitmap:
      if (context->screen) return {};
      slot = &context->state.bitmap;
      // A bitmap lives in one context at a time; putting it back into its own
      // succeeds.
      if (!o->stock && o->selections > 0 && *slot != object.value) return {};
      break;
    case ObjectKind::Pen: slot = &context->state.pen; break;
    case ObjectKind::Brush: slot = &context->state.brush; break;
    case ObjectKind::Font: slot = &context->state.font; break;
    default: return {};
  }
  const std::uint32_t previous = *slot;
  if (previous != object.value) {
    Release(device, previous);
    *slot = object.value;
    Retain(device, object.value);
  }
  HGDIOBJ result;
  result.value = previous;
  return result;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  if (!context || !device.Find<PaletteObject>(palette.value)) return {};
  const std::uint32_t previous = context->state.palette;
  if (previous != palette.value) {
    Release(device, previous);
    context->state.palette = palette.value;
    Retain(device, palette.value);
  }
  return HPALETTE{previous};
}

UINT RealizePalette(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  // A true-colour device has no system palette to map entries into.
  return device.Find<DcObject>(dc.value) ? 0 : kGdiError;
}

// ---- Transfers -----------------------------------------------------------

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target dest = TargetOf(device, dc);
  const std::uint8_t code = RopCode(rop);
  if (!dest || raster::RopUsesSource(code)) return FALSE;
  raster::Transfer t = TransferOnto(device, dest, code);
  t.x = x, t.y = y, t.width = width, t.height = height;
  raster::Run(t);
  return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target dest = TargetOf(device, dc);
  if (!dest || !rect || !device.Find<BrushObject>(brush.value)) return 0;
  if (rect->right <= rect->left || rect->bottom <= rect->top) return 1;
  raster::Transfer t = TransferOnto(device, dest, 0xF0);
  t.pattern = PatternOf(device, *dest.dc, brush.value);
  t.x = rect->left, t.y = rect->top;
  t.width = static_cast<std::int32_t>(std::int64_t{rect->right} - rect->left);
  t.height = static_cast<std::int32_t>(std::int64_t{rect->bottom} - rect->top);
  if (std::int64_t{rect->right} - rect->left > INT32_MAX) t.width = INT32_MAX;
  if (std::int64_t{rect->bottom} - rect->top > INT32_MAX) t.height = INT32_MAX;
  raster::Run(t);
  return 1;
}

BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  return Stretch(dc, x, y, width, height, src, srcX, srcY, width, height, rop);
}

BOOL StretchBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth, int srcHeight,
                DWORD rop) {
  return Stretch(dc, x, y, width, height, src, srcX, srcY, srcWidth, srcHeight, rop);
}

BOOL MaskBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, HBITMAP mask, int maskX,
             int maskY, DWORD rop4) {
  if (!mask) return Stretch(dc, x, y, width, height, src, srcX, srcY, width, height, rop4 & 0x00FFFFFF);
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target dest = TargetOf(device, dc);
  const BitmapObject* maskBitmap = device.Find<BitmapObject>(mask.value);
  if (!dest || !maskBitmap || maskBitmap->surface.bitCount != 1) return FALSE;
  raster::Transfer t = TransferOnto(device, dest, RopCode(rop4));
  t.backRop = static_cast<std::uint8_t>(rop4 >> 24);
  t.mask = &maskBitmap->surface;
  t.x = x, t.y = y, t.width = width, t.height = height;
  t.srcX = srcX, t.srcY = srcY, t.srcWidth = width, t.srcHeight = height;
  t.maskX = maskX, t.maskY = maskY;
  if (!AttachSource(device, t, src)) return FALSE;
  raster::Run(t);
  return TRUE;
}

COLORREF GetPixel(HDC dc, int x, int y) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target target = TargetOf(device, dc);
  if (!target) return CLR_INVALID;
  const raster::Surface& s = target.bitmap->surface;
  if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
  return raster::ToColorRef(raster::PixelColor(s, x, y));
}

}  // namespace bleedborder::gdi
