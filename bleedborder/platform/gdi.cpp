// The raster device: its object table, contexts, bitmaps, palettes, tools and
// the calls that drive the transfer engine. One lock guards the whole device;
// each public call holds it from start to end, and nothing here calls a
// public function, so the lock is never taken twice.
#include "bleedborder/platform/gdi.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include <sys/mman.h>

#include "bleedborder/core/parallel.h"
#include "bleedborder/platform/raster_palette.h"
#include "bleedborder/platform/raster_rle.h"
#include "bleedborder/platform/raster_surface.h"
#include "bleedborder/platform/raster_transfer.h"

namespace bleedborder::gdi {
namespace {

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

using Lock = std::lock_guard<std::recursive_mutex>;

// ---- Small helpers ---------------------------------------------------------

template <class H>
H Fail(int error) {
  errno = error;
  return H{};
}

Color ColorOf(const RGBQUAD& q) { return (std::uint32_t{q.rgbRed} << 16) | (std::uint32_t{q.rgbGreen} << 8) | q.rgbBlue; }
RGBQUAD QuadOf(Color c) {
  return {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c >> 16), 0};
}
Color ColorOf(const PALETTEENTRY& e) { return (std::uint32_t{e.peRed} << 16) | (std::uint32_t{e.peGreen} << 8) | e.peBlue; }

std::uint64_t DibStride(std::uint64_t width, std::uint64_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }
std::uint64_t DeviceStride(std::uint64_t width, std::uint64_t bitCount) { return ((width * bitCount + 15) / 16) * 2; }

bool IsDibBitCount(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// ---- Device-independent formats ----------------------------------------------

// A format read from a BITMAPINFO: validated sizes, masks and colour table.
struct DibFormat {
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, positive
  bool bottomUp = true;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD masks[3] = {0, 0, 0};  // as given (BI_BITFIELDS)
  std::vector<RGBQUAD> table;  // up to 8 bits
  std::uint64_t stride = 0;
  std::uint64_t imageBytes = 0;
  BITMAPINFOHEADER header;
};

enum class FormatError { None, Invalid, TooLarge };

// Reads the header (biSize bytes), the masks (after a 40-byte header, or at
// offset 40 of a longer one) and the colour table that follows them.
FormatError ReadDibFormat(const BITMAPINFO* info, bool allowRle, DibFormat& out) {
  if (!info) return FormatError::Invalid;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(info);
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || !IsDibBitCount(h.biBitCount)) return FormatError::Invalid;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return FormatError::Invalid;
  const bool rle = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
  if (rle) {
    const int wanted = h.biCompression == BI_RLE8 ? 8 : 4;
    if (!allowRle || h.biBitCount != wanted || h.biHeight < 0) return FormatError::Invalid;
  } else if (h.biCompression == BI_BITFIELDS) {
    if (h.biBitCount != 16 && h.biBitCount != 32) return FormatError::Invalid;
    if (h.biSize != 40 && h.biSize < 52) return FormatError::Invalid;  // no room for the masks
  } else if (h.biCompression != BI_RGB) {
    return FormatError::Invalid;
  }
  out.header = h;
  out.width = h.biWidth;
  out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  out.bottomUp = h.biHeight > 0;
  out.bitCount = h.biBitCount;
  out.compression = h.biCompression;
  out.stride = DibStride(static_cast<std::uint64_t>(out.width), static_cast<std::uint64_t>(out.bitCount));
  out.imageBytes = out.stride * static_cast<std::uint64_t>(out.height);
  std::size_t tableOffset = h.biSize;
  if (h.biCompression == BI_BITFIELDS) {
    std::memcpy(out.masks, bytes + 40, sizeof out.masks);
    if (h.biSize == 40) tableOffset += sizeof out.masks;
  }
  if (out.bitCount <= 8) {
    const std::uint32_t full = 1u << out.bitCount;
    const std::uint32_t count = h.biClrUsed == 0 || h.biClrUsed > full ? full : h.biClrUsed;
    out.table.resize(count);
    std::memcpy(out.table.data(), bytes + tableOffset, count * sizeof(RGBQUAD));
  }
  if (out.imageBytes > kMaxPixelBytes) return FormatError::TooLarge;
  return FormatError::None;
}

// A surface over pixel memory in the given format.
raster::Surface SurfaceOf(const DibFormat& f, std::uint8_t* bits) {
  raster::Surface s;
  s.width = f.width;
  s.height = f.height;
  s.bitCount = f.bitCount;
  s.stride = static_cast<std::size_t>(f.stride);
  s.bits = bits;
  s.bottomUp = f.bottomUp;
  if (f.bitCount == 16 || f.bitCount == 32) {
    if (f.compression == BI_BITFIELDS)
      raster::SetMasks(s, f.masks[0], f.masks[1], f.masks[2]);
    else
      raster::SetMasks(s, raster::DefaultMask(f.bitCount, 0), raster::DefaultMask(f.bitCount, 1),
                       raster::DefaultMask(f.bitCount, 2));
  }
  s.tableCount = static_cast<std::uint32_t>(f.table.size());
  for (std::size_t i = 0; i < f.table.size(); ++i) s.table[i] = ColorOf(f.table[i]);
  return s;
}

// Zero-filled pixel memory. A large block is mapped and its pages are
// committed only as they are first written: a file may describe far more
// pixels than it supplies (the rows it lacks stay blank), and such a claim
// must cost no memory until something is drawn there. Huge pages, where the
// system grants them, make the first writes of a fully drawn bitmap fault
// once per 2 MiB instead of once per 4 KiB.
std::unique_ptr<std::uint8_t, FreeDeleter> AllocatePixels(std::uint64_t bytes) {
  constexpr std::uint64_t kMapFrom = std::uint64_t{8} << 20;
  if (bytes >= kMapFrom) {
    const auto length = static_cast<std::size_t>(bytes);
    void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block != MAP_FAILED) {
      madvise(block, length, MADV_HUGEPAGE);  // a refusal only costs speed
      return std::unique_ptr<std::uint8_t, FreeDeleter>(static_cast<std::uint8_t*>(block), FreeDeleter{length});
    }
  }
  return std::unique_ptr<std::uint8_t, FreeDeleter>(static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1)));
}

// A device-dependent bitmap: monochrome, or 32 bits like the screen. Rows are
// top first, padded to 16 bits.
std::unique_ptr<BitmapObject> MakeDeviceBitmap(int width, int height, bool mono) {
  if (width <= 0 || height <= 0) return Fail<std::unique_ptr<BitmapObject>>(0);
  const std::uint64_t stride = DeviceStride(static_cast<std::uint64_t>(width), mono ? 1 : 32);
  const std::uint64_t bytes = stride * static_cast<std::uint64_t>(height);
  if (bytes > kMaxPixelBytes) return Fail<std::unique_ptr<BitmapObject>>(ENOMEM);
  auto bitmap = std::make_unique<BitmapObject>();
  bitmap->memory = AllocatePixels(bytes);
  if (!bitmap->memory) return Fail<std::unique_ptr<BitmapObject>>(ENOMEM);
  raster::Surface& s = bitmap->surface;
  s.width = width;
  s.height = height;
  s.bitCount = mono ? 1 : 32;
  s.stride = static_cast<std::size_t>(stride);
  s.bits = bitmap->memory.get();
  s.deviceMono = mono;
  if (!mono) raster::SetMasks(s, 0xFF0000, 0xFF00, 0xFF);
  return bitmap;
}

// True when ConvertPixels writes every byte of to: the widening of 24-bit
// pixels to plain 32-bit ones, over rows without padding, none of them left
// out.
bool WidensEveryByte(const raster::Surface& from, const raster::Surface& to) {
  return from.bitCount == 24 && to.bitCount == 32 && to.plain32 && from.width >= to.width &&
         from.height >= to.height && to.stride == static_cast<std::size_t>(to.width) * 4;
}

// Copies every pixel of from that lies on to, by colour, both taken in device
// coordinates from their top-left corners. Device bitmaps show their bits as
// black and white.
void ConvertPixels(const raster::Surface& from, raster::Surface& to) {
  const std::int32_t width = std::min(from.width, to.width);
  const std::int32_t height = std::min(from.height, to.height);
  // The conversion every 24-bit picture takes to 32 bits, rows shared among
  // the cores: the same colours as the per-pixel rule below, with the fourth
  // byte 0.
  if (from.bitCount == 24 && to.bitCount == 32 && to.plain32) {
    ShareOut(height, 64, ThreadsFor(height, std::int64_t{width} * 4), [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t y = first; y < last; ++y)
        raster::Widen24To32(from.Row(y), reinterpret_cast<std::uint32_t*>(to.Row(y)), width);
    });
    return;
  }
  std::unique_ptr<raster::NearestIndex> nearest;
  if (to.Indexed()) {
    static constexpr Color kMono[2] = {0, kColorMask};
    nearest = std::make_unique<raster::NearestIndex>(to.deviceMono ? kMono : to.table.data(),
                                                     to.deviceMono ? 2u : std::max<std::uint32_t>(to.tableCount, 1));
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* in = from.Row(y);
    std::uint8_t* out = to.Row(y);
    for (std::int32_t x = 0; x < width; ++x) {
      const Color c = raster::NativeColor(from, raster::ReadNative(from, in, x));
      raster::WriteNative(to, out, x, nearest ? nearest->Find(c) : c);
    }
  }
}

// ---- Context helpers ---------------------------------------------------------

BitmapObject* SelectedBitmap(Device& device, const DcObject& dc) { return device.Find<BitmapObject>(dc.state.bitmap); }

// A memory context and the bitmap it draws on.
struct Target {
  DcObject* dc = nullptr;
  BitmapObject* bitmap = nullptr;
  explicit operator bool() const { return dc && bitmap; }
};

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

void SetPaletteEntry(PALETTEENTRY& e, Color c) {
  e = {static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8), static_cast<BYTE>(c), 0};
}

std::uint32_t AddBitmap(Device& device, std::unique_ptr<BitmapObject> bitmap) {
  return device.Add(std::move(bitmap));
}

}  // namespace

// ---- Screen and contexts ---------------------------------------------------

HDC GetDC(HWND) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* screen = device.Find<DcObject>(device.Screen());
  ++screen->users;
  return HDC{device.Screen()};
}

int ReleaseDC(HWND, HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* screen = device.Find<DcObject>(dc.value);
  if (!screen || !screen->screen || screen->users == 0) return 0;
  // The last release puts the shared context back in its default state.
  if (--screen->users == 0) {
    ReleaseSelections(device, screen->state);
    screen->state = device.DefaultState();
    screen->state.bitmap = 0;
    RetainSelections(device, screen->state);
  }
  return 1;
}

int GetDeviceCaps(HDC dc, int index) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (!device.Find<DcObject>(dc.value)) return 0;
  switch (index) {
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case SIZEPALETTE: return 0;
    default: return 0;
  }
}

HDC CreateCompatibleDC(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (dc && !device.Find<DcObject>(dc.value)) return Fail<HDC>(0);
  auto context = std::make_unique<DcObject>();
  context->state = device.DefaultState();
  RetainSelections(device, context->state);
  return HDC{device.Add(std::move(context))};
}

BOOL DeleteDC(HDC dc) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  if (!context || context->screen) return FALSE;
  ReleaseSelections(device, context->state);
  device.Remove(dc.value);
  return TRUE;
}

// ---- Bitmaps -------------------------------------------------------------

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, sys::HANDLE, DWORD) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (bits) *bits = nullptr;
  DibFormat format;
  const FormatError error = ReadDibFormat(info, false, format);
  if (error == FormatError::Invalid || usage != DIB_RGB_COLORS) return Fail<HBITMAP>(0);
  if (error == FormatError::TooLarge) return Fail<HBITMAP>(ENOMEM);
  auto bitmap = std::make_unique<BitmapObject>();
  bitmap->memory = AllocatePixels(format.imageBytes);
  if (!bitmap->memory) return Fail<HBITMAP>(ENOMEM);
  bitmap->section = true;
  bitmap->surface = SurfaceOf(format, bitmap->memory.get());
  bitmap->table = format.table;
  std::memcpy(bitmap->masks, format.masks, sizeof bitmap->masks);
  BITMAPINFOHEADER& h = bitmap->header;
  h = format.header;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biSizeImage = static_cast<DWORD>(format.imageBytes);
  h.biClrUsed = static_cast<DWORD>(format.table.size());
  if (bits) *bits = bitmap->memory.get();
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (planes != 1 || !(bitCount == 1 || bitCount == 16 || bitCount == 24 || bitCount == 32)) return Fail<HBITMAP>(0);
  auto bitmap = MakeDeviceBitmap(width, height, bitCount == 1);
  if (!bitmap) return {};
  if (bits) {
    raster::Surface& s = bitmap->surface;
    if (bitCount == 1 || bitCount == 32) {
      std::memcpy(s.bits, bits, s.stride * static_cast<std::size_t>(s.height));
      if (bitCount == 32)
        for (std::int32_t y = 0; y < s.height; ++y)
          for (std::int32_t x = 0; x < s.width; ++x) raster::WriteNative(s, s.Row(y), x, raster::ReadNative(s, s.Row(y), x));
    } else {
      raster::Surface given;
      given.width = width;
      given.height = height;
      given.bitCount = static_cast<int>(bitCount);
      given.stride = static_cast<std::size_t>(DeviceStride(static_cast<std::uint64_t>(width), bitCount));
      given.bits = static_cast<std::uint8_t*>(const_cast<void*>(bits));
      if (bitCount == 16) raster::SetMasks(given, 0x7C00, 0x3E0, 0x1F);
      ConvertPixels(given, s);
    }
  }
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  if (!context) return Fail<HBITMAP>(0);
  // Only a monochrome device bitmap makes its context monochrome: a 1-bit
  // section has colours of its own, which a colour bitmap keeps.
  const BitmapObject* held = SelectedBitmap(device, *context);
  auto bitmap = MakeDeviceBitmap(width, height, held && held->surface.deviceMono);
  if (!bitmap) return {};
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

namespace {

HBITMAP CreateDeviceBitmapFrom(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                               const BITMAPINFO* info, UINT usage, std::optional<std::size_t> bitsSize) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  if (dc && !device.Find<DcObject>(dc.value)) return Fail<HBITMAP>(0);
  if (!header || header->biSize < sizeof(BITMAPINFOHEADER) || header->biWidth <= 0 || header->biHeight == 0 ||
      header->biHeight == INT32_MIN)
    return Fail<HBITMAP>(0);
  // Initial pixels are described by info, which is checked whether or not
  // any pixel bytes come with it: data of a format the device cannot decode
  // is refused even when there is none of it.
  const bool described = (init & CBM_INIT) != 0;
  const bool initialise = described && bits;
  DibFormat format;
  if (described) {
    const FormatError error = ReadDibFormat(info, true, format);
    if (error == FormatError::Invalid || usage != DIB_RGB_COLORS) return Fail<HBITMAP>(0);
    if (error == FormatError::TooLarge) return Fail<HBITMAP>(ENOMEM);
  }
  auto bitmap = MakeDeviceBitmap(header->biWidth, header->biHeight < 0 ? -header->biHeight : header->biHeight, false);
  if (!bitmap) return {};
  if (initialise) {
    const auto* data = static_cast<const std::uint8_t*>(bits);
    if (format.compression == BI_RLE8 || format.compression == BI_RLE4) {
      std::array<Color, 256> table{};
      for (std::size_t i = 0; i < format.table.size(); ++i) table[i] = ColorOf(format.table[i]);
      const std::size_t size = bitsSize ? *bitsSize : format.header.biSizeImage;
      raster::DecodeRle(data, size, format.compression == BI_RLE4, format.width, format.height, table.data(),
                        bitmap->surface);
    } else {
      raster::Surface given = SurfaceOf(format, const_cast<std::uint8_t*>(data));
      raster::Surface target = bitmap->surface;
      // With a known size, only the whole rows that are there: the first rows
      // in memory, which for bottom-up data are the bottom of the picture.
      if (bitsSize && *bitsSize < format.imageBytes) {
        given.height = static_cast<std::int32_t>(*bitsSize / format.stride);
        const std::int32_t skipped = format.bottomUp ? format.height - given.height : 0;
        if (skipped >= target.height) given.height = 0;
        target.bits += static_cast<std::size_t>(std::max(skipped, 0)) * target.stride;
        target.height -= std::max(skipped, 0);
      }
      if (given.height > 0) ConvertPixels(given, target);
    }
  }
  return HBITMAP{AddBitmap(device, std::move(bitmap))};
}

}  // namespace

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage) {
  return CreateDeviceBitmapFrom(dc, header, init, bits, info, usage, std::nullopt);
}

HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits, const BITMAPINFO* info,
                       UINT usage, std::size_t bitsSize) {
  return CreateDeviceBitmapFrom(dc, header, init, bits, info, usage, bitsSize);
}

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

namespace {

// The colour table GetDIBits gives for an output of bitCount <= 8 bits.
std::vector<Color> OutputTable(Device& device, const DcObject& dc, const BitmapObject& bitmap, int bitCount) {
  const std::size_t full = std::size_t{1} << bitCount;
  std::vector<Color> table(full, 0);
  if (bitmap.section && bitmap.surface.bitCount == bitCount) {
    for (std::size_t i = 0; i < bitmap.table.size(); ++i) table[i] = ColorOf(bitmap.table[i]);
    return table;
  }
  const PaletteObject* palette = device.Find<PaletteObject>(dc.state.palette);
  if (palette && !palette->stock) {
    for (std::size_t i = 0; i < full && i < palette->entries.size(); ++i) table[i] = ColorOf(palette->entries[i]);
    return table;
  }
  if (bitCount == 1) {
    table[1] = kColorMask;
  } else if (bitCount == 4) {
    std::copy(raster::StandardColors16().begin(), raster::StandardColors16().end(), table.begin());
  } else {
    std::copy(raster::HalftoneColors().begin(), raster::HalftoneColors().end(), table.begin());
  }
  return table;
}

void DescribeBitmapHeader(const BitmapObject& b, BITMAPINFOHEADER& h) {
  if (b.section) {
    const DWORD size = h.biSize;
    h = b.header;
    h.biSize = size;
    return;
  }
  h.biWidth = b.surface.width;
  h.biHeight = b.surface.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(b.surface.bitCount);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(DibStride(static_cast<std::uint64_t>(b.surface.width), static_cast<std::uint64_t>(b.surface.bitCount)) *
                                     static_cast<std::uint64_t>(b.surface.height));
  h.biClrUsed = 0;
  h.biClrImportant = 0;
}

}  // namespace

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  BitmapObject* b = device.Find<BitmapObject>(bitmap.value);
  if (!context || !b || !info || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biBitCount == 0) {  // describe the bitmap only
    DescribeBitmapHeader(*b, h);
    return b->surface.height;
  }
  auto* infoBytes = reinterpret_cast<std::uint8_t*>(info);
  if (h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32) && (h.biSize == 40 || h.biSize >= 52)) {
    DWORD masks[3];
    std::memcpy(masks, infoBytes + 40, sizeof masks);
    if (masks[0] == 0 && masks[1] == 0 && masks[2] == 0) {
      const bool is16 = h.biBitCount == 16;
      const DWORD defaults[3] = {is16 ? 0xF800u : 0xFF0000u, is16 ? 0x07E0u : 0xFF00u, is16 ? 0x001Fu : 0xFFu};
      std::memcpy(infoBytes + 40, defaults, sizeof defaults);
    }
  }
  DibFormat format;
  if (ReadDibFormat(info, false, format) != FormatError::None) return 0;
  if (format.bitCount <= 8) {
    const std::vector<Color> table = OutputTable(device, *context, *b, format.bitCount);
    auto* colors = infoBytes + h.biSize;
    for (std::size_t i = 0; i < format.table.size(); ++i) {
      format.table[i] = QuadOf(table[i]);
      std::memcpy(colors + i * sizeof(RGBQUAD), &format.table[i], sizeof(RGBQUAD));
    }
  }
  h.biSizeImage = static_cast<DWORD>(format.imageBytes);
  if (start >= static_cast<UINT>(format.height)) return 0;
  const std::int32_t count = static_cast<std::int32_t>(std::min<std::uint64_t>(lines, static_cast<std::uint64_t>(format.height) - start));
  if (!bits || count == 0) return count;
  // The requested memory rows as a surface of their own, placed over the
  // bitmap's device rows.
  raster::Surface out = SurfaceOf(format, static_cast<std::uint8_t*>(bits));
  out.height = count;
  const std::int32_t firstDeviceRow =
      format.bottomUp ? format.height - static_cast<std::int32_t>(start) - count : static_cast<std::int32_t>(start);
  raster::Surface from = b->surface;
  if (firstDeviceRow >= from.height) {
    std::memset(bits, 0, static_cast<std::size_t>(format.stride) * static_cast<std::size_t>(count));
    return count;
  }
  // Device rows firstDeviceRow .. of the bitmap: a view starting there.
  from.height -= firstDeviceRow;
  if (!from.bottomUp) from.bits += from.stride * static_cast<std::size_t>(firstDeviceRow);
  // Bytes the conversion does not write read as 0. Widening 24 bits to 32
  // writes every byte of rows as wide as the picture's, so a fresh block is
  // not cleared first: that would fault its pages in on one core just before
  // the widening writes them on all.
  if (!WidensEveryByte(from, out))
    std::memset(bits, 0, static_cast<std::size_t>(format.stride) * static_cast<std::size_t>(count));
  const bool sameTable = b->section && from.bitCount == out.bitCount && from.Indexed() &&
                         std::equal(format.table.begin(), format.table.end(), b->table.begin(), b->table.end(),
                                    [](const RGBQUAD& a, const RGBQUAD& c) { return ColorOf(a) == ColorOf(c); });
  if (sameTable || (from.deviceMono && out.bitCount == 1)) {
    const std::int32_t width = std::min(from.width, out.width);
    const std::int32_t height = std::min(from.height, out.height);
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        raster::WriteIndex(out.Row(y), x, out.bitCount, raster::ReadIndex(from.Row(y), x, from.bitCount));
  } else {
    ConvertPixels(from, out);
  }
  return count;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target target = TargetOf(device, dc);
  if (!target || !target.bitmap->section || !colors) return 0;
  const std::vector<RGBQUAD>& table = target.bitmap->table;
  if (start >= table.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(table.size()) - start);
  std::copy_n(table.begin() + start, n, colors);
  return n;
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  Target target = TargetOf(device, dc);
  if (!target || !target.bitmap->section || !colors) return 0;
  std::vector<RGBQUAD>& table = target.bitmap->table;
  if (start >= table.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(table.size()) - start);
  for (UINT i = 0; i < n; ++i) {
    table[start + i] = colors[i];
    target.bitmap->surface.table[start + i] = ColorOf(colors[i]);
  }
  return n;
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

// ---- State ---------------------------------------------------------------

namespace {

// Runs change on the state of a valid context; fallback otherwise.
template <class R, class F>
R WithState(HDC dc, R fallback, F change) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  DcObject* context = device.Find<DcObject>(dc.value);
  return context ? change(context->state) : fallback;
}

template <class T>
T Exchange(T& field, T value) {
  const T old = field;
  field = value;
  return old;
}

}  // namespace

int SetStretchBltMode(HDC dc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.stretchMode, mode); });
}
int GetStretchBltMode(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.stretchMode; });
}
COLORREF SetTextColor(HDC dc, COLORREF color) {
  return WithState(dc, CLR_INVALID, [color](DcState& s) { return Exchange(s.text, color); });
}
COLORREF GetTextColor(HDC dc) {
  return WithState(dc, CLR_INVALID, [](DcState& s) { return s.text; });
}
COLORREF SetBkColor(HDC dc, COLORREF color) {
  return WithState(dc, CLR_INVALID, [color](DcState& s) { return Exchange(s.background, color); });
}
COLORREF GetBkColor(HDC dc) {
  return WithState(dc, CLR_INVALID, [](DcState& s) { return s.background; });
}
int SetBkMode(HDC dc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.bkMode, mode); });
}
int GetBkMode(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.bkMode; });
}
int SetROP2(HDC dc, int mode) {
  if (mode < R2_BLACK || mode > R2_WHITE) return 0;
  return WithState(dc, 0, [mode](DcState& s) { return Exchange(s.rop2, mode); });
}
int GetROP2(HDC dc) {
  return WithState(dc, 0, [](DcState& s) { return s.rop2; });
}
BOOL GetBrushOrgEx(HDC dc, POINT* point) {
  return WithState(dc, FALSE, [point](DcState& s) {
    if (!point) return FALSE;
    *point = s.brushOrigin;
    return TRUE;
  });
}
BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous) {
  return WithState(dc, FALSE, [=](DcState& s) {
    if (previous) *previous = s.brushOrigin;
    s.brushOrigin = {x, y};
    return TRUE;
  });
}
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
  return WithState(dc, FALSE, [=](DcState& s) {
    if (previous) *previous = s.position;
    s.position = {x, y};
    return TRUE;
  });
}
BOOL GetCurrentPositionEx(HDC dc, POINT* point) {
  return WithState(dc, FALSE, [point](DcState& s) {
    if (!point) return FALSE;
    *point = s.position;
    return TRUE;
  });
}
HGDIOBJ GetCurrentObject(HDC dc, ObjectKind kind) {
  return WithState(dc, HGDIOBJ{}, [kind](DcState& s) {
    HGDIOBJ h;
    switch (kind) {
      case ObjectKind::Bitmap: h.value = s.bitmap; break;
      case ObjectKind::Palette: h.value = s.palette; break;
      case ObjectKind::Pen: h.value = s.pen; break;
      case ObjectKind::Brush: h.value = s.brush; break;
      case ObjectKind::Font: h.value = s.font; break;
      default: break;
    }
    return h;
  });
}

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

// ---- Diagnostics ---------------------------------------------------------

std::size_t LiveObjectCount() {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  return device.LiveCount();
}

// ---- Beyond the platform -----------------------------------------------------

std::optional<BITMAP> DeviceBitmapPixels(HBITMAP bitmap) {
  Device& device = TheDevice();
  Lock lock(device.mutex);
  const BitmapObject* b = device.Find<BitmapObject>(bitmap.value);
  if (!b || b->section || b->surface.bitCount != 32 || !b->surface.plain32 || b->surface.bottomUp) return std::nullopt;
  BITMAP description;
  description.bmWidth = b->surface.width;
  description.bmHeight = b->surface.height;
  description.bmWidthBytes = static_cast<LONG>(b->surface.stride);
  description.bmPlanes = 1;
  description.bmBitsPixel = 32;
  description.bmBits = b->surface.bits;
  return description;
}

}  // namespace bleedborder::gdi
