// Contexts, handles, selection, bitmap creation and descriptions, palettes
// and tools of the raster device.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include <unistd.h>

#include "tests/platform/gdi_test_util.h"

namespace {

using namespace gditest;

using ObjectsTest = DeviceTest;

TEST_F(ObjectsTest, ScreenAndFreshMemoryContext) {
  const HDC screen = GetDC(nullptr);
  ASSERT_TRUE(screen);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
  EXPECT_EQ(GetDeviceCaps(screen, SIZEPALETTE), 0);
  EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), -1);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);

  const HDC dc = CreateCompatibleDC(screen);
  ASSERT_TRUE(dc);
  EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 32);
  EXPECT_EQ(GetStretchBltMode(dc), BLACKONWHITE);
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  EXPECT_EQ(GetROP2(dc), R2_COPYPEN);
  EXPECT_EQ(GetCurrentObject(dc, ObjectKind::Pen), GetStockObject(BLACK_PEN));
  EXPECT_EQ(GetCurrentObject(dc, ObjectKind::Brush), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(GetCurrentObject(dc, ObjectKind::Font), GetStockObject(SYSTEM_FONT));
  EXPECT_EQ(GetCurrentObject(dc, ObjectKind::Palette), GetStockObject(DEFAULT_PALETTE));
  POINT origin{5, 5}, position{5, 5};
  EXPECT_TRUE(GetBrushOrgEx(dc, &origin));
  EXPECT_TRUE(GetCurrentPositionEx(dc, &position));
  EXPECT_EQ(origin, (POINT{0, 0}));
  EXPECT_EQ(position, (POINT{0, 0}));

  BITMAP stock;
  ASSERT_EQ(GetObjectA(GetCurrentObject(dc, ObjectKind::Bitmap), sizeof stock, &stock), static_cast<int>(sizeof stock));
  EXPECT_EQ(stock.bmWidth, 1);
  EXPECT_EQ(stock.bmHeight, 1);
  EXPECT_EQ(stock.bmBitsPixel, 1);
  // A bitmap compatible with a fresh context is monochrome, like what it holds.
  const HBITMAP mono = CreateCompatibleBitmap(dc, 3, 3);
  const HBITMAP colour = CreateCompatibleBitmap(screen, 3, 3);
  BITMAP a, b;
  GetObjectA(mono, sizeof a, &a);
  GetObjectA(colour, sizeof b, &b);
  EXPECT_EQ(a.bmBitsPixel, 1);
  EXPECT_EQ(b.bmBitsPixel, 32);
  DeleteObject(mono);
  DeleteObject(colour);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST_F(ObjectsTest, SettersReturnThePreviousValue) {
  const HDC dc = CreateCompatibleDC(HDC{});
  EXPECT_EQ(SetStretchBltMode(dc, HALFTONE), BLACKONWHITE);
  EXPECT_EQ(SetStretchBltMode(dc, COLORONCOLOR), HALFTONE);
  EXPECT_EQ(SetTextColor(dc, 0x123456), 0u);
  EXPECT_EQ(SetTextColor(dc, 0), 0x123456u);
  EXPECT_EQ(SetBkColor(dc, 0x02FFFFFF), 0xFFFFFFu);
  EXPECT_EQ(GetBkColor(dc), 0x02FFFFFFu);
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetROP2(dc, 7), R2_COPYPEN);
  POINT previous;
  EXPECT_TRUE(SetBrushOrgEx(dc, 3, 4, &previous));
  EXPECT_EQ(previous, (POINT{0, 0}));
  EXPECT_TRUE(MoveToEx(dc, -7, 9, nullptr));
  EXPECT_TRUE(MoveToEx(dc, 1, 1, &previous));
  EXPECT_EQ(previous, (POINT{-7, 9}));
  EXPECT_EQ(SetStretchBltMode(dc, 9), 0) << "an unknown mode is refused";
  DeleteDC(dc);
}

TEST_F(ObjectsTest, StaleNullAndWrongKindHandlesFail) {
  const HDC dc = CreateCompatibleDC(HDC{});
  const HBITMAP bitmap = CreateBitmap(2, 2, 1, 1, nullptr);
  ASSERT_TRUE(DeleteDC(dc));
  ASSERT_TRUE(DeleteObject(bitmap));
  const HDC stale = dc;
  const HDC wrongKind{bitmap.value};  // a bitmap's number used as a context
  for (const HDC bad : {stale, HDC{}, wrongKind, HDC{0xDEADBEEF}}) {
    EXPECT_FALSE(DeleteDC(bad));
    EXPECT_EQ(GetDeviceCaps(bad, BITSPIXEL), 0);
    if (bad) {
      EXPECT_FALSE(CreateCompatibleDC(bad));
    }
    EXPECT_EQ(SetTextColor(bad, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(bad, 0, 0), CLR_INVALID);
    EXPECT_FALSE(PatBlt(bad, 0, 0, 1, 1, WHITENESS));
    EXPECT_FALSE(SelectObject(bad, GetStockObject(BLACK_PEN)));
    EXPECT_FALSE(CreateCompatibleBitmap(bad, 1, 1));
  }
  EXPECT_FALSE(DeleteObject(bitmap)) << "deleted twice";
  EXPECT_EQ(GetObjectA(bitmap, sizeof(BITMAP), nullptr), 0);
  const HDC live = CreateCompatibleDC(HDC{});
  EXPECT_FALSE(SelectObject(live, HGDIOBJ{bitmap}));
  EXPECT_FALSE(SelectPalette(live, HPALETTE{dc.value}, FALSE));
  EXPECT_FALSE(DeleteObject(HGDIOBJ{live})) << "contexts go through DeleteDC";
  DeleteDC(live);
}

TEST_F(ObjectsTest, HandlesAreNotReusedAtOnce) {
  const HPALETTE first = CreateHalftonePalette(HDC{});
  DeleteObject(first);
  const HPALETTE second = CreateHalftonePalette(HDC{});
  EXPECT_NE(first, second);
  EXPECT_EQ(GetPaletteEntries(first, 0, 0, nullptr), 0u);
  DeleteObject(second);
}

TEST_F(ObjectsTest, SelectionRules) {
  const HDC a = CreateCompatibleDC(HDC{});
  const HDC b = CreateCompatibleDC(HDC{});
  const HDC screen = GetDC(nullptr);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, 4, 4);
  ReleaseDC(nullptr, screen);
  const HGDIOBJ stockBitmap = SelectObject(a, bitmap);
  ASSERT_TRUE(stockBitmap);
  EXPECT_FALSE(SelectObject(b, bitmap)) << "a bitmap lives in one context";
  EXPECT_EQ(SelectObject(a, bitmap), HGDIOBJ{bitmap}) << "selecting it again into its own succeeds";
  EXPECT_FALSE(DeleteObject(bitmap)) << "selected";

  LOGPEN logPen{PS_DASH, {2, 0}, RGB(1, 2, 3)};
  const HPEN pen = CreatePenIndirect(&logPen);
  EXPECT_EQ(SelectObject(a, pen), GetStockObject(BLACK_PEN));
  EXPECT_EQ(SelectObject(b, pen), GetStockObject(BLACK_PEN)) << "tools may sit in several contexts";
  EXPECT_FALSE(DeleteObject(pen));
  EXPECT_EQ(SelectObject(a, GetStockObject(BLACK_PEN)), HGDIOBJ{pen});
  EXPECT_FALSE(DeleteObject(pen)) << "still in b";
  SelectObject(b, GetStockObject(BLACK_PEN));

  const HPALETTE palette = CreateHalftonePalette(a);
  EXPECT_EQ(SelectPalette(a, palette, TRUE), handle_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  EXPECT_FALSE(DeleteObject(palette));
  EXPECT_EQ(RealizePalette(a), 0u);
  EXPECT_EQ(SelectPalette(a, handle_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), TRUE), palette);
  EXPECT_FALSE(SelectObject(a, palette)) << "palettes go through SelectPalette";

  EXPECT_EQ(SelectObject(a, stockBitmap), HGDIOBJ{bitmap});
  EXPECT_TRUE(SelectObject(b, bitmap)) << "free again";
  EXPECT_TRUE(DeleteDC(b)) << "deleting a context lets go of its bitmap";
  for (const HGDIOBJ object : {HGDIOBJ{bitmap}, HGDIOBJ{pen}, HGDIOBJ{palette}}) EXPECT_TRUE(DeleteObject(object));
  for (int stock : {WHITE_BRUSH, NULL_BRUSH, BLACK_PEN, SYSTEM_FONT, DEFAULT_PALETTE}) {
    EXPECT_TRUE(DeleteObject(GetStockObject(stock)));
    EXPECT_TRUE(GetObjectA(GetStockObject(stock), 0, nullptr) > 0) << "stock objects stay";
  }
  DeleteDC(a);
}

TEST_F(ObjectsTest, SectionDescription) {
  struct Case {
    int width, height, bits;
    DWORD compression;
    LONG stride;
    DWORD clrUsed;
  };
  const Case cases[] = {
      {47, 33, 1, BI_RGB, 8, 2},        {47, -33, 4, BI_RGB, 24, 16},   {47, 33, 8, BI_RGB, 48, 256},
      {47, 33, 16, BI_BITFIELDS, 96, 0}, {47, -33, 24, BI_RGB, 144, 0}, {47, 33, 32, BI_RGB, 188, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Info info = MakeInfo(c.width, c.height, c.bits, c.compression);
    const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
    if (c.compression == BI_BITFIELDS) std::memcpy(info.rest, masks, sizeof masks);
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(HDC{}, info.get(), DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0);
    ASSERT_TRUE(bitmap);
    DIBSECTION ds;
    ASSERT_EQ(GetObjectA(bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmWidth, 47);
    EXPECT_EQ(ds.dsBm.bmHeight, 33) << "always the positive row count";
    EXPECT_EQ(ds.dsBm.bmWidthBytes, c.stride);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, c.bits);
    EXPECT_EQ(ds.dsBm.bmPlanes, 1);
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBmih.biSize, 40u);
    EXPECT_EQ(ds.dsBmih.biHeight, c.height) << "the header keeps the row order";
    EXPECT_EQ(ds.dsBmih.biCompression, c.compression);
    EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(c.stride * 33));
    EXPECT_EQ(ds.dsBmih.biClrUsed, c.clrUsed);
    EXPECT_EQ(ds.dsBitfields[1], c.compression == BI_BITFIELDS ? 0x07E0u : 0u);
    const auto* bytes = static_cast<const std::uint8_t*>(bits);
    EXPECT_TRUE(std::all_of(bytes, bytes + ds.dsBmih.biSizeImage, [](std::uint8_t v) { return v == 0; }))
        << "new pixel memory is zero";
    BITMAP bm;
    EXPECT_EQ(GetObjectA(bitmap, sizeof bm, &bm), static_cast<int>(sizeof bm)) << "the BITMAP part alone";
    EXPECT_EQ(GetObjectA(bitmap, 0, nullptr), static_cast<int>(sizeof ds));
    DeleteObject(bitmap);
  }
  const HBITMAP device = CreateBitmap(47, 33, 1, 1, nullptr);
  DIBSECTION ds{};
  EXPECT_EQ(GetObjectA(device, sizeof ds, &ds), static_cast<int>(sizeof(BITMAP))) << "a device bitmap fills BITMAP only";
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 6);
  EXPECT_EQ(ds.dsBm.bmBits, nullptr);
  EXPECT_EQ(ds.dsBmih.biSize, 0u);
  DeleteObject(device);
}

TEST_F(ObjectsTest, MasksInsideALongerHeaderAndColourTableAfterIt) {
  struct V4 {
    BITMAPINFOHEADER header;
    DWORD masks[3];
    std::uint8_t restOfHeader[108 - 52];
  } v4{};
  v4.header = MakeInfo(2, 1, 32, BI_BITFIELDS).header;
  v4.header.biSize = 108;
  v4.masks[0] = 0x000000FF;  // red in the lowest byte
  v4.masks[1] = 0x0000FF00;
  v4.masks[2] = 0x00FF0000;
  void* bits = nullptr;
  const HBITMAP bitmap =
      CreateDIBSection(HDC{}, reinterpret_cast<BITMAPINFO*>(&v4), DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0);
  ASSERT_TRUE(bitmap);
  static_cast<std::uint32_t*>(bits)[0] = 0x000000FF;
  Canvas canvas(bitmap);
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(255, 0, 0));
}

TEST_F(ObjectsTest, BadHeadersFailWithoutAnErrorCode) {
  struct Case {
    const char* what;
    int width, height, bits;
    WORD planes;
    DWORD compression;
    DWORD size;
  };
  const Case cases[] = {
      {"bit count 2", 4, 4, 2, 1, BI_RGB, 40},          {"bit count 0", 4, 4, 0, 1, BI_RGB, 40},
      {"bit count 64", 4, 4, 64, 1, BI_RGB, 40},        {"two planes", 4, 4, 8, 2, BI_RGB, 40},
      {"width 0", 0, 4, 8, 1, BI_RGB, 40},              {"negative width", -4, 4, 8, 1, BI_RGB, 40},
      {"height 0", 4, 0, 8, 1, BI_RGB, 40},             {"lowest height", 4, INT32_MIN, 8, 1, BI_RGB, 40},
      {"compressed section", 4, 4, 8, 1, BI_RLE8, 40},  {"bit fields at 24", 4, 4, 24, 1, BI_BITFIELDS, 40},
      {"unknown compression", 4, 4, 32, 1, 7, 40},      {"core header size", 4, 4, 8, 1, BI_RGB, 12},
      {"no room for masks", 4, 4, 16, 1, BI_BITFIELDS, 44},
  };
  for (const Case& c : cases) {
    Info info = MakeInfo(c.width, c.height, c.bits, c.compression);
    info.header.biPlanes = c.planes;
    info.header.biSize = c.size;
    errno = EINTR;
    void* bits = &info;
    EXPECT_FALSE(CreateDIBSection(HDC{}, info.get(), DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0)) << c.what;
    EXPECT_EQ(errno, 0) << c.what;
    EXPECT_EQ(bits, nullptr) << c.what;
  }
}

TEST_F(ObjectsTest, OversizedBitmapsFailWithOutOfMemory) {
  struct Case {
    int width, height, bits;
  };
  // 2^31 bytes and more, and sizes whose byte count overflows 32 bits.
  const Case cases[] = {{0x20000000, 1, 32}, {65536, 32768, 8}, {0x7FFFFFFF, 0x7FFFFFFF, 32}, {0x7FFFFFFF, -9, 1}};
  for (const Case& c : cases) {
    Info info = MakeInfo(c.width, c.height, c.bits);
    errno = 0;
    EXPECT_FALSE(CreateDIBSection(HDC{}, info.get(), DIB_RGB_COLORS, nullptr, sys::HANDLE{0}, 0));
    EXPECT_EQ(errno, ENOMEM) << c.width << " x " << c.height;
  }
  errno = 0;
  EXPECT_FALSE(CreateBitmap(0x7FFFFFFF, 0x7FFFFFFF, 1, 32, nullptr));
  EXPECT_EQ(errno, ENOMEM);
  const HDC screen = GetDC(nullptr);
  errno = 0;
  EXPECT_FALSE(CreateCompatibleBitmap(screen, 65536, 65536));
  EXPECT_EQ(errno, ENOMEM);
  ReleaseDC(nullptr, screen);
}

TEST_F(ObjectsTest, ColourTableOfASection) {
  Info info = MakeInfo(3, 1, 4);
  info.header.biClrUsed = 3;
  info.colors()[2] = {1, 2, 3, 0};
  Canvas canvas(info);
  RGBQUAD table[16] = {};
  EXPECT_EQ(GetDIBColorTable(canvas.dc(), 0, 16, table), 3u) << "as many entries as the header gave";
  EXPECT_EQ(table[2].rgbRed, 3);
  const RGBQUAD replacement[4] = {{9, 9, 9, 0}, {8, 8, 8, 0}, {7, 7, 7, 0}, {6, 6, 6, 0}};
  EXPECT_EQ(SetDIBColorTable(canvas.dc(), 1, 4, replacement), 2u);
  canvas.bits()[0] = 0x12;  // indices 1 and 2
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), RGB(9, 9, 9));
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 0), RGB(8, 8, 8));
  EXPECT_EQ(GetDIBColorTable(canvas.dc(), 3, 1, table), 0u);
}

TEST_F(ObjectsTest, Palettes) {
  const HPALETTE halftone = CreateHalftonePalette(HDC{});
  ASSERT_TRUE(halftone);
  std::uint32_t count = 0;
  EXPECT_EQ(GetObjectA(halftone, sizeof count, &count), 2);
  EXPECT_EQ(count, 256u);
  PALETTEENTRY entries[256];
  ASSERT_EQ(GetPaletteEntries(halftone, 0, 256, entries), 256u);
  const auto rgb = [](const PALETTEENTRY& e) { return RGB(e.peRed, e.peGreen, e.peBlue); };
  EXPECT_EQ(rgb(entries[0]), RGB(0, 0, 0));
  EXPECT_EQ(rgb(entries[7]), RGB(192, 192, 192));
  EXPECT_EQ(rgb(entries[255]), RGB(255, 255, 255));
  // Every colour of the 6 x 6 x 6 cube is there.
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        EXPECT_TRUE(std::any_of(entries, entries + 256, [&](const PALETTEENTRY& e) {
          return rgb(e) == RGB(static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(b * 51));
        }));

  LOGPALETTE logical;
  logical.palNumEntries = 3;
  logical.palPalEntry[1] = {10, 20, 30, 0};
  const HPALETTE palette = CreatePalette(&logical);
  ASSERT_TRUE(palette);
  EXPECT_EQ(GetPaletteEntries(palette, 0, 0, nullptr), 3u);
  EXPECT_EQ(GetPaletteEntries(palette, 1, 10, entries), 2u);
  EXPECT_EQ(entries[0].peGreen, 20);
  const PALETTEENTRY red{255, 0, 0, 0};
  EXPECT_EQ(SetPaletteEntries(palette, 2, 1, &red), 1u);
  EXPECT_EQ(SetPaletteEntries(palette, 3, 1, &red), 0u);
  logical.palNumEntries = 0;
  EXPECT_FALSE(CreatePalette(&logical));

  const HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 8, entries), 8u);
  EXPECT_EQ(rgb(entries[1]), RGB(128, 0, 0));
  ReleaseDC(nullptr, screen);
  DeleteObject(halftone);
  DeleteObject(palette);
}

TEST_F(ObjectsTest, ToolsAndDescriptions) {
  const LOGPEN logPen{PS_DOT, {3, 0}, RGB(1, 2, 3)};
  const HPEN pen = CreatePenIndirect(&logPen);
  LOGPEN penBack;
  EXPECT_EQ(GetObjectA(pen, sizeof penBack, &penBack), static_cast<int>(sizeof penBack));
  EXPECT_EQ(penBack.lopnColor, RGB(1, 2, 3));
  EXPECT_EQ(penBack.lopnWidth.x, 3);

  const LOGBRUSH hatch{BS_HATCHED, RGB(4, 5, 6), HS_DIAGCROSS};
  const HBRUSH brush = CreateBrushIndirect(&hatch);
  LOGBRUSH brushBack;
  EXPECT_EQ(GetObjectA(brush, sizeof brushBack, &brushBack), static_cast<int>(sizeof brushBack));
  EXPECT_EQ(brushBack.lbHatch, HS_DIAGCROSS);
  const LOGBRUSH badHatch{BS_HATCHED, 0, 6}, pattern{3, 0, 0};
  EXPECT_FALSE(CreateBrushIndirect(&badHatch));
  EXPECT_FALSE(CreateBrushIndirect(&pattern));
  const LOGPEN badPen{7, {1, 0}, 0};
  EXPECT_FALSE(CreatePenIndirect(&badPen));
  EXPECT_TRUE(UnrealizeObject(brush));

  LOGFONTA logFont;
  logFont.lfHeight = -11;
  logFont.lfWeight = 700;
  logFont.lfItalic = 1;
  logFont.lfCharSet = 128;
  std::strcpy(logFont.lfFaceName, "Arial");
  const HFONT font = CreateFontIndirectA(&logFont);
  const HDC dc = CreateCompatibleDC(HDC{});
  TEXTMETRICA system, metrics;
  ASSERT_TRUE(GetTextMetricsA(dc, &system));
  EXPECT_EQ(system.tmHeight, 16);
  EXPECT_EQ(system.tmCharSet, 0);
  SelectObject(dc, font);
  ASSERT_TRUE(GetTextMetricsA(dc, &metrics));
  EXPECT_EQ(metrics.tmHeight - metrics.tmInternalLeading, 11) << "a negative height is the character height";
  EXPECT_EQ(metrics.tmAscent + metrics.tmDescent, metrics.tmHeight);
  EXPECT_EQ(metrics.tmWeight, 700);
  EXPECT_EQ(metrics.tmItalic, 1);
  EXPECT_EQ(metrics.tmCharSet, 128);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  DeleteDC(dc);
  for (const HGDIOBJ o : {HGDIOBJ{pen}, HGDIOBJ{brush}, HGDIOBJ{font}}) EXPECT_TRUE(DeleteObject(o));
}

TEST(SystemColours, ClassicScheme) {
  const std::pair<int, COLORREF> cases[] = {
      {5, RGB(255, 255, 255)},  // window
      {8, RGB(0, 0, 0)},        // window text
      {15, RGB(192, 192, 192)}, // button face
      {13, RGB(0, 0, 128)},     // highlight
      {24, RGB(255, 255, 225)}, // tooltip background
      {99, 0},                  // no such colour
  };
  for (const auto& [index, colour] : cases) EXPECT_EQ(GetSysColor(index), colour) << index;
}

}  // namespace

namespace {

using namespace gditest;

// Threads making, drawing on and deleting their own objects, and trying to
// take each other's bitmap, leave a consistent table behind.
TEST(DeviceThreads, CallsFromSeveralThreads) {
  const std::size_t live = LiveObjectCount();
  const HBITMAP shared = CreateBitmap(8, 8, 1, 32, nullptr);
  std::vector<std::thread> threads;
  std::atomic<int> holders{0};
  for (int n = 0; n < 4; ++n)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        Canvas a(16, 16), b(9, 7);
        PatBlt(a.dc(), 0, 0, 16, 16, WHITENESS);
        StretchBlt(b.dc(), 0, 0, 9, 7, a.dc(), 0, 0, 16, 16, SRCCOPY);
        const HDC dc = CreateCompatibleDC(HDC{});
        const HGDIOBJ previous = SelectObject(dc, shared);
        if (previous) {
          EXPECT_EQ(holders.fetch_add(1), 0) << "one context at a time";
          holders.fetch_sub(1);
          SelectObject(dc, previous);
        }
        DeleteDC(dc);
        EXPECT_EQ(GetPixel(b.dc(), 8, 6), RGB(255, 255, 255));
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_TRUE(DeleteObject(shared));
  EXPECT_EQ(LiveObjectCount(), live);
}

}  // namespace

namespace {

// Resident memory of this process, from the kernel's page counts.
std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t total = 0, resident = 0;
  statm >> total >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

// Pixel memory is committed as it is written: a section of 1.5 GiB whose
// first rows only are written holds little more than those rows.
TEST_F(ObjectsTest, PixelMemoryIsCommittedOnlyAsItIsWritten) {
  const std::size_t before = ResidentBytes();
  void* bits = nullptr;
  Info info = MakeInfo(16384, 24576, 32);
  const HBITMAP section = CreateDIBSection(HDC{}, info.get(), DIB_RGB_COLORS, &bits, sys::HANDLE{0}, 0);
  ASSERT_TRUE(section);
  std::memset(bits, 0x5A, std::size_t{4} << 20);
  EXPECT_LT(ResidentBytes(), before + (std::size_t{64} << 20));
  EXPECT_EQ(static_cast<std::uint8_t*>(bits)[(std::size_t{3} << 29) - 1], 0) << "unwritten memory reads as zero";
  DeleteObject(section);
}

// Compressed data is refused for its header also when no bytes come with it.
TEST_F(ObjectsTest, DeviceBitmapFromAnUndecodableHeaderFailsWithoutData) {
  const HDC screen = GetDC(nullptr);
  struct Case {
    const char* what;
    int bits;
    DWORD compression;
    int height;
  };
  const Case cases[] = {{"compression 9", 24, 9, 4}, {"run-length 8 at 24 bits", 24, BI_RLE8, 4},
                        {"run-length 8 top-down", 8, BI_RLE8, -4}, {"run-length 4 at 8 bits", 8, BI_RLE4, 4}};
  for (const Case& c : cases) {
    Info info = MakeInfo(4, c.height, c.bits, c.compression);
    EXPECT_FALSE(CreateDIBitmap(screen, &info.header, CBM_INIT, nullptr, info.get(), DIB_RGB_COLORS, 0)) << c.what;
  }
  Info good = MakeInfo(4, 4, 8, BI_RLE8);
  const HBITMAP made = CreateDIBitmap(screen, &good.header, CBM_INIT, nullptr, good.get(), DIB_RGB_COLORS, 0);
  EXPECT_TRUE(made) << "a decodable header with no data is a blank bitmap";
  DeleteObject(made);
  ReleaseDC(nullptr, screen);
}

// A 32-bit device bitmap's pixels as they are held: rows top first, the
// given fourth bytes cleared. Nothing for any other bitmap or handle.
TEST_F(ObjectsTest, DeviceBitmapPixelsShowOnly32BitDeviceBitmaps) {
  const std::uint32_t given[] = {0xFF102030, 0x00FFFFFF, 0x80405060, 0x01000001, 0x00ABCDEF, 0xFFFFFFFF};
  const HBITMAP device = CreateBitmap(3, 2, 1, 32, given);
  const std::optional<BITMAP> pixels = DeviceBitmapPixels(device);
  ASSERT_TRUE(pixels);
  EXPECT_EQ(pixels->bmWidth, 3);
  EXPECT_EQ(pixels->bmHeight, 2);
  EXPECT_EQ(pixels->bmWidthBytes, 12);
  EXPECT_EQ(pixels->bmBitsPixel, 32);
  std::uint32_t held[6];
  std::memcpy(held, pixels->bmBits, sizeof held);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(held[i], given[i] & 0xFFFFFF) << "pixel " << i;

  const HBITMAP deleted = CreateBitmap(3, 2, 1, 32, nullptr);
  DeleteObject(deleted);
  const struct {
    const char* what;
    HBITMAP bitmap;
  } refused[] = {{"32-bit section", CreateDIBSection(HDC{}, MakeInfo(4, 4, 32).get(), DIB_RGB_COLORS, nullptr, sys::HANDLE{0}, 0)},
                 {"monochrome device bitmap", CreateBitmap(4, 4, 1, 1, nullptr)},
                 {"deleted device bitmap", deleted},
                 {"null handle", HBITMAP{}}};
  for (const auto& c : refused) {
    EXPECT_FALSE(DeviceBitmapPixels(c.bitmap)) << c.what;
    DeleteObject(c.bitmap);
  }
  DeleteObject(device);
}

// Only a monochrome device bitmap makes a context's compatible bitmaps
// monochrome; a 1-bit section's context gets colour ones.
TEST_F(ObjectsTest, CompatibleBitmapOfASectionContextIsInColour) {
  const struct {
    const char* what;
    HBITMAP held;
    int bitsPixel;
  } cases[] = {{"1-bit section", CreateDIBSection(HDC{}, MakeInfo(4, 4, 1).get(), DIB_RGB_COLORS, nullptr, sys::HANDLE{0}, 0), 32},
               {"monochrome device bitmap", CreateBitmap(4, 4, 1, 1, nullptr), 1},
               {"32-bit section", CreateDIBSection(HDC{}, MakeInfo(4, 4, 32).get(), DIB_RGB_COLORS, nullptr, sys::HANDLE{0}, 0), 32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const HDC dc = CreateCompatibleDC(HDC{});
    const HGDIOBJ old = SelectObject(dc, c.held);
    const HBITMAP made = CreateCompatibleBitmap(dc, 3, 2);
    BITMAP bm{};
    ASSERT_EQ(GetObjectA(made, sizeof bm, &bm), int(sizeof bm));
    EXPECT_EQ(bm.bmBitsPixel, c.bitsPixel);
    DeleteObject(made);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(c.held);
  }
}
