// The raster device's object table: the stock objects, the device itself,
// the context helpers every part uses, and the calls that describe, delete
// and count objects of any kind.
#include <cstring>
#include <mutex>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/gdi_device.h"
#include "bleedborder/platform/raster_palette.h"

namespace bleedborder::gdi {
namespace detail {

// ---- The device ------------------------------------------------------------

void Device::MakeStockObjects() {
  stock_[WHITE_BRUSH] = StockBrush(BS_SOLID, RGB(255, 255, 255));
  stock_[LTGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(192, 192, 192));
  stock_[GRAY_BRUSH] = StockBrush(BS_SOLID, RGB(128, 128, 128));
  stock_[DKGRAY_BRUSH] = StockBrush(BS_SOLID, RGB(64, 64, 64));
  stock_[BLACK_BRUSH] = StockBrush(BS_SOLID, RGB(0, 0, 0));
  stock_[NULL_BRUSH] = StockBrush(BS_HOLLOW, 0);
  stock_[WHITE_PEN] = StockPen(PS_SOLID, RGB(255, 255, 255));
  stock_[BLACK_PEN] = StockPen(PS_SOLID, RGB(0, 0, 0));
  stock_[NULL_PEN] = StockPen(PS_NULL, 0);
  auto font = std::make_unique<FontObject>();
  font->font.lfHeight = 16;
  font->font.lfWeight = 700;
  std::strcpy(font->font.lfFaceName, "System");
  stock_[SYSTEM_FONT] = AddStock(std::move(font));
  auto palette = std::make_unique<PaletteObject>();
  for (Color c : raster::StaticColors())
    palette->entries.push_back({static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c), 0});
  stock_[DEFAULT_PALETTE] = AddStock(std::move(palette));

  auto bitmap = std::make_unique<BitmapObject>();
  bitmap->memory.reset(static_cast<std::uint8_t*>(std::calloc(2, 1)));
  bitmap->surface.width = bitmap->surface.height = 1;
  bitmap->surface.bitCount = 1;
  bitmap->surface.stride = 2;
  bitmap->surface.bits = bitmap->memory.get();
  bitmap->surface.deviceMono = true;
  stockBitmap_ = AddStock(std::move(bitmap));

  auto screen = std::make_unique<DcObject>();
  screen->screen = true;
  screen->state = DefaultState();
  screen->state.bitmap = 0;
  screen_ = Add(std::move(screen));
}

// Never destroyed: objects that outlive main may still release their handles.
Device& TheDevice() {
  static Device* device = new Device;
  return *device;
}

// ---- Context helpers ---------------------------------------------------------

BitmapObject* SelectedBitmap(Device& device, const DcObject& dc) { return device.Find<BitmapObject>(dc.state.bitmap); }

Target TargetOf(Device& device, HDC handle) {
  DcObject* dc = device.Find<DcObject>(handle.value);
  if (!dc || dc->screen) return {};
  return {dc, SelectedBitmap(device, *dc)};
}

void Retain(Device& device, std::uint32_t id) {
  if (Object* o = device.FindAny(id)) ++o->selections;
}
void Release(Device& device, std::uint32_t id) {
  if (Object* o = device.FindAny(id); o && o->selections > 0) --o->selections;
}

void ReleaseSelections(Device& device, const DcState& state) {
  for (std::uint32_t id : {state.bitmap, state.palette, state.pen, state.brush, state.font}) Release(device, id);
}
void RetainSelections(Device& device, const DcState& state) {
  for (std::uint32_t id : {state.bitmap, state.palette, state.pen, state.brush, state.font}) Retain(device, id);
}

}  // namespace detail

using namespace detail;

// ---- Descriptions and deletion -----------------------------------------------

int GetObjectA(HGDIOBJ object, int size, void* out) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Object* o = device.FindAny(object.value);
  if (!o || size < 0) return 0;
  const auto copy = [size, out](const auto& value) -> int {
    const int bytes = static_cast<int>(sizeof value);
    if (!out) return bytes;
    if (size < bytes) return 0;
    std::memcpy(out, &value, sizeof value);
    return bytes;
  };
  switch (o->kind) {
    case ObjectKind::Bitmap: {
      const auto* b = static_cast<BitmapObject*>(o);
      DIBSECTION ds;
      ds.dsBm.bmType = 0;
      ds.dsBm.bmWidth = b->surface.width;
      ds.dsBm.bmHeight = b->surface.height;
      ds.dsBm.bmWidthBytes = static_cast<LONG>(b->surface.stride);
      ds.dsBm.bmPlanes = 1;
      ds.dsBm.bmBitsPixel = static_cast<WORD>(b->surface.bitCount);
      if (!b->section) return copy(ds.dsBm);
      ds.dsBm.bmBits = b->surface.bits;
      ds.dsBmih = b->header;
      if (b->header.biCompression == BI_BITFIELDS) std::memcpy(ds.dsBitfields, b->masks, sizeof ds.dsBitfields);
      if (out && size >= static_cast<int>(sizeof ds.dsBm) && size < static_cast<int>(sizeof ds)) return copy(ds.dsBm);
      return copy(ds);
    }
    case ObjectKind::Palette: return copy(static_cast<WORD>(static_cast<PaletteObject*>(o)->entries.size()));
    case ObjectKind::Pen: return copy(static_cast<PenObject*>(o)->pen);
    case ObjectKind::Brush: return copy(static_cast<BrushObject*>(o)->brush);
    case ObjectKind::Font: return copy(static_cast<FontObject*>(o)->font);
    default: return 0;
  }
}

BOOL DeleteObject(HGDIOBJ object) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Object* o = device.FindAny(object.value);
  if (!o || o->kind == ObjectKind::DC) return FALSE;
  if (o->stock) return TRUE;
  if (o->selections > 0) return FALSE;
  device.Remove(object.value);
  return TRUE;
}

// ---- Diagnostics ---------------------------------------------------------

std::size_t LiveObjectCount() {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  return device.LiveCount();
}

}  // namespace bleedborder::gdi
