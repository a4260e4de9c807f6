#pragma once
// The raster device's own parts, shared by the sources that implement
// gdi.h: the object table, the objects it holds, the device lock and the
// helpers that find a context's bitmap and count selections. Not installed.
//
// One lock guards the whole device; each public call holds it from start to
// end, and nothing here calls a public function, so the lock is never taken
// twice.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/mman.h>

#include "bleedborder/platform/gdi.h"
#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::gdi::detail {

using raster::Color;
using raster::kColorMask;

constexpr std::uint64_t kMaxPixelBytes = 0x7FFFFFFF;
constexpr std::uint32_t kGdiError = 0xFFFFFFFF;

// ---- Objects -------------------------------------------------------------

struct Object {
  explicit Object(ObjectKind k) : kind(k) {}
  virtual ~Object() = default;
  ObjectKind kind;
  bool stock = false;
  int selections = 0;  // contexts holding it
};

// Gives pixel memory back the way it was had: mapped blocks are unmapped,
// the others freed.
struct FreeDeleter {
  std::size_t mappedBytes = 0;
  void operator()(std::uint8_t* p) const {
    if (mappedBytes) {
      munmap(p, mappedBytes);
    } else {
      std::free(p);
    }
  }
};

struct BitmapObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::Bitmap;
  BitmapObject() : Object(kKind) {}
  std::unique_ptr<std::uint8_t, FreeDeleter> memory;
  raster::Surface surface;
  bool section = false;
  // Sections: the header as described, the masks as given and the table.
  BITMAPINFOHEADER header;
  DWORD masks[3] = {0, 0, 0};
  std::vector<RGBQUAD> table;
};

struct PaletteObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::Palette;
  PaletteObject() : Object(kKind) {}
  std::vector<PALETTEENTRY> entries;
};

struct PenObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::Pen;
  PenObject() : Object(kKind) {}
  LOGPEN pen;
};

struct BrushObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::Brush;
  BrushObject() : Object(kKind) {}
  LOGBRUSH brush;
};

struct FontObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::Font;
  FontObject() : Object(kKind) {}
  LOGFONTA font;
};

struct DcState {
  std::uint32_t bitmap = 0, palette = 0, pen = 0, brush = 0, font = 0;
  int stretchMode = BLACKONWHITE;
  COLORREF text = RGB(0, 0, 0);
  COLORREF background = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int rop2 = R2_COPYPEN;
  POINT brushOrigin{0, 0};
  POINT position{0, 0};
};

struct DcObject : Object {
  static constexpr ObjectKind kKind = ObjectKind::DC;
  DcObject() : Object(kKind) {}
  bool screen = false;
  int users = 0;  // the screen context: GetDC calls not yet released
  DcState state;
};

// ---- The device ------------------------------------------------------------

class Device {
 public:
  Device() { MakeStockObjects(); }

  std::recursive_mutex mutex;

  template <class T>
  T* Find(std::uint32_t id) {
    Object* object = FindAny(id);
    return object && object->kind == T::kKind ? static_cast<T*>(object) : nullptr;
  }
  Object* FindAny(std::uint32_t id) {
    if (id == 0) return nullptr;
    const auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : it->second.get();
  }

  std::uint32_t Add(std::unique_ptr<Object> object) {
    // Identifiers grow monotonically, so a stale handle does not name a new
    // object until the counter has gone round all 2^32 values.
    do {
      ++next_;
    } while (next_ == 0 || objects_.count(next_));
    objects_.emplace(next_, std::move(object));
    return next_;
  }
  void Remove(std::uint32_t id) { objects_.erase(id); }

  std::size_t LiveCount() const {
    std::size_t n = 0;
    for (const auto& [id, object] : objects_)
      if (!object->stock && id != screen_) ++n;
    return n;
  }

  std::uint32_t Stock(int index) const {
    return index >= 0 && index < static_cast<int>(stock_.size()) ? stock_[static_cast<std::size_t>(index)] : 0;
  }
  std::uint32_t StockBitmap() const { return stockBitmap_; }
  std::uint32_t Screen() const { return screen_; }

  DcState DefaultState() const {
    DcState s;
    s.bitmap = stockBitmap_;
    s.palette = Stock(DEFAULT_PALETTE);
    s.pen = Stock(BLACK_PEN);
    s.brush = Stock(WHITE_BRUSH);
    s.font = Stock(SYSTEM_FONT);
    return s;
  }

 private:
  std::uint32_t AddStock(std::unique_ptr<Object> object) {
    object->stock = true;
    return Add(std::move(object));
  }
  std::uint32_t StockBrush(UINT style, COLORREF color) {
    auto brush = std::make_unique<BrushObject>();
    brush->brush.lbStyle = style;
    brush->brush.lbColor = color;
    return AddStock(std::move(brush));
  }
  std::uint32_t StockPen(UINT style, COLORREF color) {
    auto pen = std::make_unique<PenObject>();
    pen->pen.lopnStyle = style;
    pen->pen.lopnWidth = {1, 0};
    pen->pen.lopnColor = color;
    return AddStock(std::move(pen));
  }
  void MakeStockObjects();

  std::unordered_map<std::uint32_t, std::unique_ptr<Object>> objects_;
  std::uint32_t next_ = 0x100;
  std::array<std::uint32_t, 16> stock_{};
  std::uint32_t stockBitmap_ = 0;
  std::uint32_t screen_ = 0;
};

// The one device, made on first use and never destroyed.
Device& TheDevice();

using Lock = std::lock_guard<std::recursive_mutex>;

// Sets the last error and answers the failure value of H.
template <class H>
H Fail(int error) {
  errno = error;
  return H{};
}

// ---- Context helpers ---------------------------------------------------------

BitmapObject* SelectedBitmap(Device& device, const DcObject& dc);

// A memory context and the bitmap it draws on.
struct Target {
  DcObject* dc = nullptr;
  BitmapObject* bitmap = nullptr;
  explicit operator bool() const { return dc && bitmap; }
};

Target TargetOf(Device& device, HDC handle);

// Counts a context's hold on an object, and lets go of it.
void Retain(Device& device, std::uint32_t id);
void Release(Device& device, std::uint32_t id);

void ReleaseSelections(Device& device, const DcState& state);
void RetainSelections(Device& device, const DcState& state);

}  // namespace bleedborder::gdi::detail
