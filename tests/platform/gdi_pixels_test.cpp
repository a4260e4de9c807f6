// The pixel rules of the raster device: fourth bytes, channel widths, colour
// matching, monochrome conversions, stretching, raster operations, masks,
// run-length decoding, GetPixel and GetDIBits.
#include <array>
#include <functional>
#include <cerrno>

#include "tests/platform/gdi_test_util.h"

namespace {

using namespace gditest;
using Rows = std::vector<std::vector<std::uint32_t>>;

using PixelsTest = DeviceTest;

// A brush that is selected into dc for the lifetime of the object.
class SelectedBrush {
 public:
  SelectedBrush(HDC dc, LOGBRUSH logBrush) : dc_(dc), brush_(CreateBrushIndirect(&logBrush)) {
    old_ = SelectObject(dc_, brush_);
  }
  ~SelectedBrush() {
    SelectObject(dc_, old_);
    DeleteObject(brush_);
  }
  HBRUSH get() const { return brush_; }

 private:
  HDC dc_;
  HBRUSH brush_;
  HGDIOBJ old_;
};

TEST_F(PixelsTest, EveryOperationWritesZeroInTheFourthByte) {
  Canvas source(6, 4);
  Canvas mono(HBITMAP{CreateBitmap(6, 4, 1, 1, nullptr)});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) source.pixel32(x, y) = 0xFF000000u | static_cast<std::uint32_t>(x * 40 + y);
  struct Case {
    const char* what;
    std::function<void(HDC)> draw;
  };
  const Case cases[] = {
      {"copy", [&](HDC dc) { BitBlt(dc, 0, 0, 6, 4, source.dc(), 0, 0, SRCCOPY); }},
      {"invert", [&](HDC dc) { BitBlt(dc, 0, 0, 6, 4, source.dc(), 0, 0, NOTSRCCOPY); }},
      {"whiteness", [&](HDC dc) { PatBlt(dc, 0, 0, 6, 4, WHITENESS); }},
      {"destination inverted", [&](HDC dc) { PatBlt(dc, 0, 0, 6, 4, DSTINVERT); }},
      {"brush", [&](HDC dc) { PatBlt(dc, 0, 0, 6, 4, PATCOPY); }},
      {"stretch and", [&](HDC dc) { StretchBlt(dc, 0, 0, 6, 4, source.dc(), 0, 0, 5, 3, SRCCOPY); }},
      {"stretch average",
       [&](HDC dc) {
         SetStretchBltMode(dc, HALFTONE);
         PatBlt(dc, 0, 0, 6, 4, BLACKNESS);
         StretchBlt(dc, 0, 0, 3, 2, source.dc(), 0, 0, 6, 4, SRCCOPY);
       }},
      {"masked", [&](HDC dc) { MaskBlt(dc, 0, 0, 6, 4, source.dc(), 0, 0, mono.bitmap(), 0, 0, 0xCCAA0029); }},
      {"from monochrome", [&](HDC dc) { BitBlt(dc, 0, 0, 6, 4, mono.dc(), 0, 0, SRCCOPY); }},
  };
  for (const Case& c : cases) {
    Canvas dest(6, 4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) dest.pixel32(x, y) = 0xAB123456;
    c.draw(dest.dc());
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(dest.pixel32(x, y) >> 24, 0u) << c.what << " at " << x << "," << y;
  }
}

TEST_F(PixelsTest, ChannelsWidenAndNarrow) {
  struct Read {
    int bits;
    DWORD masks[3];  // all 0: BI_RGB
    std::uint32_t pixel;
    COLORREF expected;
  };
  const Read reads[] = {
      {16, {0, 0, 0}, 0x7FFF, RGB(255, 255, 255)},
      {16, {0, 0, 0}, 0x4210, RGB(132, 132, 132)},  // 5-bit 16 -> (16 * 255 + 15) / 31
      {16, {0xF800, 0x07E0, 0x001F}, 0xFFFF, RGB(255, 255, 255)},
      {16, {0xF800, 0x07E0, 0x001F}, 0x0400, RGB(0, 130, 0)},  // 6-bit 32 -> (32 * 255 + 31) / 63
      {16, {0x0F00, 0x00F0, 0}, 0x0F8F, RGB(255, 136, 0)},     // 4 bits and an empty mask
      {32, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FF80200, RGB(255, 128, 128)},  // 10-bit masks
  };
  for (const Read& r : reads) {
    Info info = MakeInfo(1, 1, r.bits, r.masks[0] || r.masks[1] || r.masks[2] ? BI_BITFIELDS : BI_RGB);
    std::memcpy(info.rest, r.masks, sizeof r.masks);
    Canvas canvas(info);
    std::memcpy(canvas.bits(), &r.pixel, static_cast<std::size_t>(r.bits / 8));
    EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), r.expected) << std::hex << r.pixel;
  }
  struct Write {
    DWORD masks[3];
    COLORREF color;
    std::uint16_t expected;
  };
  const Write writes[] = {
      {{0, 0, 0}, RGB(255, 255, 255), 0x7FFF},
      {{0, 0, 0}, RGB(128, 128, 128), 0x4210},  // (128 * 31 + 127) / 255 = 16
      {{0xF800, 0x07E0, 0x001F}, RGB(255, 255, 255), 0xFFFF},
      {{0xF800, 0x07E0, 0x001F}, RGB(0, 130, 3), 0x0400},
  };
  for (const Write& w : writes) {
    Info info = MakeInfo(1, 1, 16, w.masks[0] ? BI_BITFIELDS : BI_RGB);
    std::memcpy(info.rest, w.masks, sizeof w.masks);
    Canvas canvas(info);
    SelectedBrush brush(canvas.dc(), {BS_SOLID, w.color, 0});
    PatBlt(canvas.dc(), 0, 0, 1, 1, PATCOPY);
    std::uint16_t pixel;
    std::memcpy(&pixel, canvas.bits(), 2);
    EXPECT_EQ(pixel, w.expected) << std::hex << w.color;
  }
}

TEST_F(PixelsTest, ColoursMatchTheNearestEntryAndTheLowestIndexOnTies) {
  Info info = MakeInfo(5, 1, 8);
  info.header.biClrUsed = 4;
  const RGBQUAD table[4] = {{0, 0, 0, 0}, {0, 0, 10, 0}, {0, 0, 10, 0}, {0, 0, 20, 0}};
  std::memcpy(info.colors(), table, sizeof table);
  Canvas dest(info);
  Canvas source(5, 1);
  source.Fill32({{0x050000, 0x0A0000, 0x0F0000, 0x130000, 0xFFFFFF}});
  BitBlt(dest.dc(), 0, 0, 5, 1, source.dc(), 0, 0, SRCCOPY);
  const std::uint8_t expected[5] = {0, 1, 1, 3, 3};  // 5: tie 0/1; 10: 1 before 2; 15: tie 1/3
  for (int x = 0; x < 5; ++x) EXPECT_EQ(dest.bits()[x], expected[x]) << x;
}

TEST_F(PixelsTest, MonochromeConversions) {
  const std::uint32_t key = 0x102030;  // RGB(0x30, 0x20, 0x10)
  Canvas colour(4, 1);
  colour.Fill32({{key, 0x102031, 0xFF000000u | key, 0}});
  SetBkColor(colour.dc(), RGB(0x10, 0x20, 0x30));

  // Towards monochrome: 1 exactly where the colour equals the source's background.
  Canvas maskDevice(HBITMAP{CreateBitmap(4, 1, 1, 1, nullptr)});
  Canvas maskSection(MakeInfo(4, 1, 1));
  for (const Canvas* mask : {&maskDevice, &maskSection}) {
    BitBlt(mask->dc(), 0, 0, 4, 1, colour.dc(), 0, 0, SRCCOPY);
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF black = 0;
    const COLORREF expected[4] = {white, black, white, black};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(GetPixel(mask->dc(), x, 0), expected[x]) << x;
  }

  // From a monochrome device bitmap: 0 bits take the destination's text
  // colour, 1 bits its background colour; towards monochrome the bits stay.
  Canvas out(4, 1);
  SetTextColor(out.dc(), RGB(255, 0, 0));
  SetBkColor(out.dc(), RGB(0, 0, 255));
  BitBlt(out.dc(), 0, 0, 4, 1, maskDevice.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(out.Rows32(), (Rows{{0x0000FF, 0xFF0000, 0x0000FF, 0xFF0000}}));
  Canvas copy(HBITMAP{CreateBitmap(4, 1, 1, 1, nullptr)});
  SetBkColor(maskDevice.dc(), RGB(1, 2, 3));
  BitBlt(copy.dc(), 0, 0, 4, 1, maskDevice.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(copy.dc(), 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(copy.dc(), 1, 0), 0u);

  // From a 1-bit section: the colours of its table.
  Info info = MakeInfo(2, 1, 1);
  info.colors()[0] = {0, 255, 0, 0};
  info.colors()[1] = {0, 0, 128, 0};
  Canvas section(info);
  section.bits()[0] = 0x40;  // 0, 1
  BitBlt(out.dc(), 0, 0, 2, 1, section.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(out.pixel32(0, 0), 0x00FF00u);
  EXPECT_EQ(out.pixel32(1, 0), 0x800000u);
}

TEST_F(PixelsTest, StretchMapping) {
  const std::uint32_t a = 0xF0F0F0, b = 0x0F0F0F, c = 0x332211, d = 0x112233, e = 0x808080;
  const std::uint32_t old = 0x777777;
  struct Case {
    const char* what;
    int mode;
    Rows source;
    int x, y, width, height;  // destination rectangle
    int sx, sy, sw, sh;       // source rectangle
    int destWidth, destHeight;
    Rows expected;
  };
  const Case cases[] = {
      {"2x enlargement gives 2 x 2 blocks", BLACKONWHITE, {{a, b}, {c, d}}, 0, 0, 4, 4, 0, 0, 2, 2, 4, 4,
       {{a, a, b, b}, {a, a, b, b}, {c, c, d, d}, {c, c, d, d}}},
      {"2 to 3 repeats the pixel under each centre", COLORONCOLOR, {{a, b}}, 0, 0, 3, 1, 0, 0, 2, 1, 3, 1,
       {{a, b, b}}},
      {"one column less merges one pair by AND", BLACKONWHITE, {{a, b, c, d, e}}, 0, 0, 4, 1, 0, 0, 5, 1, 4, 1,
       {{a, b, c & d, e}}},
      {"... by OR", WHITEONBLACK, {{a, b, c, d, e}}, 0, 0, 4, 1, 0, 0, 5, 1, 4, 1, {{a, b, c | d, e}}},
      {"... keeping the centre pixel", COLORONCOLOR, {{a, b, c, d, e}}, 0, 0, 4, 1, 0, 0, 5, 1, 4, 1,
       {{a, b, d, e}}},
      {"... by averaging, halves up", HALFTONE, {{a, b, c, d, e}}, 0, 0, 4, 1, 0, 0, 5, 1, 4, 1,
       {{a, b, 0x222222, e}}},
      {"a block in two dimensions", WHITEONBLACK, {{0x010000, 0x000100}, {0x000001, 0x100000}}, 0, 0, 1, 1, 0, 0,
       2, 2, 1, 1, {{0x110101}}},
      {"opposite signs mirror", BLACKONWHITE, {{a, b, c}}, 3, 0, -3, 1, 0, 0, 3, 1, 3, 1, {{c, b, a}}},
      {"negative extents on both sides do not", BLACKONWHITE, {{a, b, c}}, 3, 0, -3, 1, 3, 0, -3, 1, 3, 1,
       {{a, b, c}}},
      {"source outside its bitmap leaves the destination", BLACKONWHITE, {{a, b}}, 0, 0, 4, 1, -1, 0, 4, 1, 4, 1,
       {{old, a, b, old}}},
      {"destination outside its bitmap is cut", BLACKONWHITE, {{a, b, c}}, -1, 0, 3, 1, 0, 0, 3, 1, 2, 1,
       {{b, c}}},
  };
  for (const Case& k : cases) {
    Canvas source(static_cast<int>(k.source[0].size()), static_cast<int>(k.source.size()));
    source.Fill32(k.source);
    Canvas dest(k.destWidth, k.destHeight);
    for (int y = 0; y < k.destHeight; ++y)
      for (int x = 0; x < k.destWidth; ++x) dest.pixel32(x, y) = old;
    SetStretchBltMode(dest.dc(), k.mode);
    EXPECT_TRUE(StretchBlt(dest.dc(), k.x, k.y, k.width, k.height, source.dc(), k.sx, k.sy, k.sw, k.sh, SRCCOPY));
    EXPECT_EQ(dest.Rows32(), k.expected) << k.what;
  }
}

TEST_F(PixelsTest, OverlappingCopyWithinOneBitmap) {
  Canvas canvas(5, 1);
  canvas.Fill32({{1, 2, 3, 4, 5}});
  BitBlt(canvas.dc(), 1, 0, 4, 1, canvas.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(canvas.Rows32(), (Rows{{1, 1, 2, 3, 4}}));
  StretchBlt(canvas.dc(), 0, 0, 5, 1, canvas.dc(), 5, 0, -5, 1, SRCCOPY);
  EXPECT_EQ(canvas.Rows32(), (Rows{{4, 3, 2, 1, 1}}));
}

// Every ternary operation against its truth table: P from a black or white
// brush, S and D over the four bit pairs.
TEST_F(PixelsTest, RasterOperationsFollowTheirTruthTables) {
  struct Surface {
    int bits;
    std::uint32_t zero, one;  // pixel values of a 0 bit and a 1 bit
  };
  for (const Surface surface : {Surface{32, 0, 0xFFFFFF}, Surface{1, 0, 1}}) {
    Canvas source(4, 1, surface.bits);
    Canvas dest(4, 1, surface.bits);
    const auto put = [&](Canvas& c, int pattern) {
      if (surface.bits == 32) {
        for (int x = 0; x < 4; ++x) c.pixel32(x, 0) = ((pattern >> x) & 1) ? surface.one : surface.zero;
      } else {
        c.bits()[0] = static_cast<std::uint8_t>(((pattern & 1) << 7) | ((pattern & 2) << 5) | ((pattern & 4) << 3) |
                                                ((pattern & 8) << 1));
      }
    };
    const auto bit = [&](int x) {
      return surface.bits == 32 ? (dest.pixel32(x, 0) == surface.one ? 1 : (dest.pixel32(x, 0) == 0 ? 0 : -1))
                                : (dest.bits()[0] >> (7 - x)) & 1;
    };
    put(source, 0b1100);  // S per pixel: 0 0 1 1
    SetBkColor(source.dc(), RGB(255, 255, 255));
    for (int p = 0; p < 2; ++p) {
      SelectedBrush brush(dest.dc(), {BS_SOLID, p ? RGB(255, 255, 255) : RGB(0, 0, 0), 0});
      for (int rop = 0; rop < 256; ++rop) {
        put(dest, 0b1010);  // D per pixel: 0 1 0 1
        BitBlt(dest.dc(), 0, 0, 4, 1, source.dc(), 0, 0, static_cast<DWORD>(rop) << 16);
        for (int x = 0; x < 4; ++x) {
          const int s = x >> 1, d = x & 1;
          ASSERT_EQ(bit(x), (rop >> ((p << 2) | (s << 1) | d)) & 1)
              << surface.bits << " bits, rop " << rop << ", P " << p << " S " << s << " D " << d;
        }
      }
    }
  }
  // On colour surfaces the operation works on all 24 bits.
  Canvas source(1, 1), dest(1, 1);
  source.pixel32(0, 0) = 0x00FF00;
  dest.pixel32(0, 0) = 0x123456;
  BitBlt(dest.dc(), 0, 0, 1, 1, source.dc(), 0, 0, SRCINVERT);
  EXPECT_EQ(dest.pixel32(0, 0), 0x12CB56u);
  // On palette surfaces it works on the indices.
  Canvas indexed(2, 1, 8);
  indexed.bits()[0] = 0x0F;
  PatBlt(indexed.dc(), 0, 0, 1, 1, DSTINVERT);
  EXPECT_EQ(indexed.bits()[0], 0xF0);
}

TEST_F(PixelsTest, MaskedTransfers) {
  Canvas source(4, 2), dest(4, 2);
  source.Fill32({{1, 2, 3, 4}, {5, 6, 7, 8}});
  dest.Fill32({{9, 9, 9, 9}, {9, 9, 9, 9}});
  const std::uint8_t maskBits[4] = {0xA0, 0, 0x50, 0};  // rows of 16-bit words: 1010, 0101
  const HBITMAP mask = CreateBitmap(4, 2, 1, 1, maskBits);
  // Mask 1 keeps the destination, 0 copies the source.
  MaskBlt(dest.dc(), 0, 0, 4, 2, source.dc(), 0, 0, mask, 0, 0, 0xCCAA0029);
  EXPECT_EQ(dest.Rows32(), (Rows{{9, 2, 9, 4}, {5, 9, 7, 9}}));
  // Foreground where the bit is 1, background where it is 0.
  SelectedBrush brush(dest.dc(), {BS_SOLID, RGB(0, 0, 0x11), 0});
  MaskBlt(dest.dc(), 0, 0, 4, 2, source.dc(), 0, 0, mask, 0, 0, MAKEROP4(PATCOPY, SRCCOPY));
  EXPECT_EQ(dest.Rows32(), (Rows{{0x11, 2, 0x11, 4}, {5, 0x11, 7, 0x11}}));
  // Mask positions outside the mask leave the destination.
  dest.Fill32({{9, 9, 9, 9}, {9, 9, 9, 9}});
  MaskBlt(dest.dc(), 0, 0, 4, 2, source.dc(), 0, 0, mask, 2, 1, 0xCCAA0029);
  EXPECT_EQ(dest.Rows32(), (Rows{{1, 9, 9, 9}, {9, 9, 9, 9}}));
  DeleteObject(mask);
}

TEST_F(PixelsTest, BrushesAndPatterns) {
  struct Case {
    const char* what;
    LOGBRUSH brush;
    int bkMode;
    POINT origin;
  };
  const COLORREF brushColor = RGB(0, 0, 255), bk = RGB(0, 255, 0);
  const Case cases[] = {
      {"cross, opaque, origin 3,2", {BS_HATCHED, brushColor, HS_CROSS}, OPAQUE, {3, 2}},
      {"diagonal cross, transparent", {BS_HATCHED, brushColor, HS_DIAGCROSS}, TRANSPARENT, {0, 0}},
      {"horizontal, origin -1,-9", {BS_HATCHED, brushColor, HS_HORIZONTAL}, OPAQUE, {-1, -9}},
      {"forward diagonal", {BS_HATCHED, brushColor, HS_FDIAGONAL}, TRANSPARENT, {5, 5}},
      {"hollow", {BS_HOLLOW, 0, 0}, OPAQUE, {0, 0}},
      {"solid", {BS_SOLID, brushColor, 0}, TRANSPARENT, {0, 0}},
  };
  const auto lineAt = [](const LOGBRUSH& b, int column, int row) {
    if (b.lbStyle == BS_SOLID) return true;
    switch (b.lbHatch) {
      case HS_HORIZONTAL: return row == 0;
      case HS_VERTICAL: return column == 0;
      case HS_FDIAGONAL: return column == row;
      case HS_BDIAGONAL: return column + row == 7;
      case HS_CROSS: return row == 0 || column == 0;
      default: return column == row || column + row == 7;
    }
  };
  for (const Case& c : cases) {
    Canvas canvas(11, 10);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 11; ++x) canvas.pixel32(x, y) = 0x777777;
    const HBRUSH brush = CreateBrushIndirect(&c.brush);
    SetBkMode(canvas.dc(), c.bkMode);
    SetBkColor(canvas.dc(), bk);
    SetBrushOrgEx(canvas.dc(), c.origin.x, c.origin.y, nullptr);
    const RECT rect{1, 1, 11, 10};
    FillRect(canvas.dc(), &rect, brush);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 11; ++x) {
        std::uint32_t expected = 0x777777;
        if (x >= 1 && y >= 1 && c.brush.lbStyle != BS_HOLLOW) {
          if (lineAt(c.brush, ((x - c.origin.x) % 8 + 8) % 8, ((y - c.origin.y) % 8 + 8) % 8))
            expected = 0x0000FF;
          else if (c.bkMode == OPAQUE)
            expected = 0x00FF00;
        }
        ASSERT_EQ(canvas.pixel32(x, y), expected) << c.what << " at " << x << "," << y;
      }
    DeleteObject(brush);
  }
}

TEST_F(PixelsTest, FillsCoverTheirRectangles) {
  Canvas canvas(4, 3);
  const RECT empty[] = {{2, 0, 2, 3}, {3, 0, 1, 3}, {0, 2, 4, 1}};
  for (const RECT& r : empty) EXPECT_EQ(FillRect(canvas.dc(), &r, handle_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), 1);
  EXPECT_EQ(canvas.Rows32(), (Rows{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}})) << "empty rectangles paint nothing";
  EXPECT_TRUE(PatBlt(canvas.dc(), 3, 3, -2, -2, WHITENESS)) << "negative extents cover [x + w, x)";
  EXPECT_EQ(canvas.Rows32(), (Rows{{0, 0, 0, 0}, {0, 0xFFFFFF, 0xFFFFFF, 0}, {0, 0xFFFFFF, 0xFFFFFF, 0}}));
  EXPECT_FALSE(PatBlt(canvas.dc(), 0, 0, 1, 1, SRCCOPY)) << "a pattern fill has no source";
  EXPECT_FALSE(BitBlt(canvas.dc(), 0, 0, 1, 1, HDC{}, 0, 0, SRCCOPY));
  EXPECT_TRUE(BitBlt(canvas.dc(), 0, 0, 1, 1, HDC{}, 0, 0, WHITENESS)) << "no source needed";
  // Palette surfaces: BLACKNESS and WHITENESS give the entries nearest to black and white.
  Info info = MakeInfo(2, 1, 8);
  info.header.biClrUsed = 3;
  info.colors()[0] = {200, 200, 200, 0};
  info.colors()[1] = {10, 10, 10, 0};
  info.colors()[2] = {250, 250, 250, 0};
  Canvas indexed(info);
  PatBlt(indexed.dc(), 0, 0, 1, 1, BLACKNESS);
  PatBlt(indexed.dc(), 1, 0, 1, 1, WHITENESS);
  EXPECT_EQ(indexed.bits()[0], 1);
  EXPECT_EQ(indexed.bits()[1], 2);
}

TEST_F(PixelsTest, GetPixelOutsideTheBitmapIsInvalid) {
  Canvas canvas(3, 2);
  canvas.pixel32(2, 1) = 0xFF102030;
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 1), RGB(0x10, 0x20, 0x30));
  for (const POINT p : {POINT{-1, 0}, POINT{0, -1}, POINT{3, 0}, POINT{0, 2}, POINT{INT32_MIN, INT32_MAX}})
    EXPECT_EQ(GetPixel(canvas.dc(), p.x, p.y), CLR_INVALID) << p.x << "," << p.y;
}

// ---- Run-length data ---------------------------------------------------------

TEST_F(PixelsTest, RunLengthDecoding) {
  struct Case {
    const char* what;
    DWORD compression;
    int width, height;
    std::vector<std::uint8_t> data;
    std::vector<std::vector<int>> expected;  // indices top row first; -1: never written
  };
  const Case cases[] = {
      {"encoded run", BI_RLE8, 4, 1, {3, 1, 0, 1}, {{1, 1, 1, -1}}},
      {"absolute run padded to 16 bits", BI_RLE8, 5, 1, {0, 3, 1, 2, 3, 0, 2, 4, 0, 1}, {{1, 2, 3, 4, 4}}},
      {"end of line, rows bottom-up", BI_RLE8, 2, 2, {1, 1, 0, 0, 1, 2, 0, 1}, {{2, -1}, {1, -1}}},
      {"delta moves right and up", BI_RLE8, 4, 2, {0, 2, 2, 1, 1, 3, 0, 1}, {{-1, -1, 3, -1}, {-1, -1, -1, -1}}},
      {"end of bitmap stops", BI_RLE8, 3, 1, {1, 1, 0, 1, 2, 2}, {{1, -1, -1}}},
      {"data ending early", BI_RLE8, 3, 1, {2, 1, 0}, {{1, 1, -1}}},
      {"absolute run cut by the end of data", BI_RLE8, 4, 1, {0, 4, 1, 2}, {{1, 2, -1, -1}}},
      {"writes past the row's end are dropped", BI_RLE8, 2, 2, {4, 1, 0, 1}, {{-1, -1}, {1, 1}}},
      {"rows past the top are dropped", BI_RLE8, 1, 1, {0, 0, 1, 2, 0, 1}, {{-1}}},
      {"a run clipped at the row's end", BI_RLE8, 3, 1, {2, 1, 2, 2, 0, 1}, {{1, 1, 2}}},
      {"4-bit encoded run alternates nibbles", BI_RLE4, 3, 1, {3, 0x12, 0, 1}, {{1, 2, 1}}},
      {"4-bit run of one colour", BI_RLE4, 5, 1, {4, 0x22, 0, 1}, {{2, 2, 2, 2, -1}}},
      {"4-bit absolute run", BI_RLE4, 3, 1, {0, 3, 0x12, 0x30, 0, 1}, {{1, 2, 3}}},
      {"4-bit absolute run padded", BI_RLE4, 6, 1, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0x60}, {{1, 2, 3, 4, 5, 6}}},
  };
  for (const Case& c : cases) {
    Info info = MakeInfo(c.width, c.height, c.compression == BI_RLE8 ? 8 : 4, c.compression);
    info.header.biSizeImage = static_cast<DWORD>(c.data.size());
    for (int i = 0; i < 16; ++i) info.colors()[i] = {static_cast<BYTE>(i * 10 + 5), 0, 0, 0};
    const HDC screen = GetDC(nullptr);
    const HBITMAP bitmap = CreateDIBitmap(screen, &info.header, CBM_INIT, c.data.data(), info.get(), DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(bitmap) << c.what;
    Canvas canvas(bitmap);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const int index = c.expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
        const COLORREF expected = index < 0 ? 0 : RGB(0, 0, static_cast<BYTE>(index * 10 + 5));
        EXPECT_EQ(GetPixel(canvas.dc(), x, y), expected) << c.what << " at " << x << "," << y;
      }
  }
}

TEST_F(PixelsTest, RunLengthDataIsReadOnlyWithinItsSize) {
  Info info = MakeInfo(4, 1, 8, BI_RLE8);
  info.header.biSizeImage = 1000;  // more than there is: the explicit size wins
  info.colors()[1] = {0, 0, 255, 0};
  const std::uint8_t data[] = {2, 1};
  const HBITMAP bitmap =
      CreateDIBitmap(HDC{}, &info.header, CBM_INIT, data, info.get(), DIB_RGB_COLORS, sizeof data);
  ASSERT_TRUE(bitmap);
  Canvas canvas(bitmap);
  EXPECT_EQ(GetPixel(canvas.dc(), 1, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 0), 0u);
}

TEST_F(PixelsTest, RunLengthHeadersThatAreRefused) {
  struct Case {
    const char* what;
    int height, bits;
    DWORD compression;
  };
  const Case cases[] = {
      {"top-down", -2, 8, BI_RLE8}, {"8-bit with 4-bit runs", 2, 8, BI_RLE4}, {"4-bit with 8-bit runs", 2, 4, BI_RLE8}};
  const std::uint8_t data[] = {0, 1};
  for (const Case& c : cases) {
    Info info = MakeInfo(2, c.height, c.bits, c.compression);
    info.header.biSizeImage = 2;
    errno = EINTR;
    EXPECT_FALSE(CreateDIBitmap(HDC{}, &info.header, CBM_INIT, data, info.get(), DIB_RGB_COLORS)) << c.what;
    EXPECT_EQ(errno, 0) << c.what;
  }
}

TEST_F(PixelsTest, DeviceBitmapFromUncompressedBits) {
  Info info = MakeInfo(3, 2, 24);  // bottom-up
  const std::uint8_t bits[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,  // bottom row, padded to 12
                               10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};
  const HBITMAP bitmap = CreateDIBitmap(HDC{}, &info.header, CBM_INIT, bits, info.get(), DIB_RGB_COLORS);
  ASSERT_TRUE(bitmap);
  Canvas canvas(bitmap);
  EXPECT_EQ(GetPixel(canvas.dc(), 0, 1), RGB(3, 2, 1));
  EXPECT_EQ(GetPixel(canvas.dc(), 2, 0), RGB(18, 17, 16));
}

// ---- GetDIBits ---------------------------------------------------------------

TEST_F(PixelsTest, GetDIBitsConvertsFormats) {
  Info info24 = MakeInfo(3, 2, 24);
  Canvas source(info24);
  const std::uint8_t pixels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 10, 11, 12, 255, 255, 255, 0, 0, 0, 0, 0, 0};
  std::memcpy(source.bits(), pixels, sizeof pixels);
  const HDC dc = CreateCompatibleDC(HDC{});

  // 24 to 32 bits keeps blue, green and red, with a zero fourth byte.
  Info out = MakeInfo(3, 2, 32);
  std::uint32_t wide[6];
  std::memset(wide, 0xEE, sizeof wide);
  EXPECT_EQ(GetDIBits(dc, source.bitmap(), 0, 2, wide, out.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(wide[0], 0x030201u);
  EXPECT_EQ(wide[2], 0x090807u);
  EXPECT_EQ(wide[4], 0xFFFFFFu);
  EXPECT_EQ(out.header.biSizeImage, 24u);

  // Top-down output and a part of the lines.
  Info topDown = MakeInfo(3, -2, 32);
  std::uint32_t line[3] = {};
  EXPECT_EQ(GetDIBits(dc, source.bitmap(), 1, 5, line, topDown.get(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(line[0], 0x030201u) << "memory line 1 of a top-down output is the bottom row";

  // 16-bit fields with no masks given take 5-6-5 and say so.
  Info fields = MakeInfo(3, 2, 16, BI_BITFIELDS);
  std::uint16_t narrow[8];
  EXPECT_EQ(GetDIBits(dc, source.bitmap(), 0, 2, narrow, fields.get(), DIB_RGB_COLORS), 2);
  DWORD masks[3];
  std::memcpy(masks, fields.rest, sizeof masks);
  EXPECT_EQ(masks[1], 0x07E0u);
  EXPECT_EQ(narrow[5], 0xFFFF) << "white stays white";

  // 8 bits: the halftone table and the nearest entries; without a buffer only
  // the table and the size.
  Info indexed = MakeInfo(3, 2, 8);
  EXPECT_EQ(GetDIBits(dc, source.bitmap(), 0, 2, nullptr, indexed.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(indexed.header.biSizeImage, 8u);
  EXPECT_EQ(indexed.colors()[255].rgbRed, 255);
  std::uint8_t indices[8];
  GetDIBits(dc, source.bitmap(), 0, 2, indices, indexed.get(), DIB_RGB_COLORS);
  const RGBQUAD white = indexed.colors()[indices[5]];
  EXPECT_EQ(white.rgbRed + white.rgbGreen + white.rgbBlue, 3 * 255);
  EXPECT_EQ(indices[0], 0) << "near black";

  // Bit count 0 asks for a description.
  Info describe;
  describe.header.biSize = 40;
  EXPECT_EQ(GetDIBits(dc, source.bitmap(), 0, 0, nullptr, describe.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(describe.header.biBitCount, 24);
  EXPECT_EQ(describe.header.biWidth, 3);
  DeleteDC(dc);
}

TEST_F(PixelsTest, GetDIBitsOfADeviceBitmapFillsATable) {
  const std::uint8_t rows[] = {0x80, 0, 0x40, 0};
  const HBITMAP mono = CreateBitmap(2, 2, 1, 1, rows);
  const HDC dc = CreateCompatibleDC(HDC{});
  Info info = MakeInfo(2, 2, 1);
  std::uint32_t bits[2] = {};
  EXPECT_EQ(GetDIBits(dc, mono, 0, 2, bits, info.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(info.colors()[0].rgbRed, 0);
  EXPECT_EQ(info.colors()[1].rgbRed, 255);
  EXPECT_EQ(bits[0] & 0xFF, 0x40u) << "the bottom row comes first";
  EXPECT_EQ(bits[1] & 0xFF, 0x80u);
  DeleteDC(dc);
  DeleteObject(mono);
}

}  // namespace

namespace {

using namespace gditest;

TEST(DeviceBitmapData, ShortUncompressedDataFillsOnlyTheRowsThatAreThere) {
  Info info = MakeInfo(1, 3, 32);  // bottom-up: memory starts with the bottom row
  const std::uint32_t rows[2] = {0x0000FF, 0x00FF00};
  for (const std::size_t size : {std::size_t{8}, std::size_t{7}}) {
    const HBITMAP bitmap = CreateDIBitmap(HDC{}, &info.header, CBM_INIT, rows, info.get(), DIB_RGB_COLORS, size);
    ASSERT_TRUE(bitmap);
    Canvas canvas(bitmap);
    EXPECT_EQ(GetPixel(canvas.dc(), 0, 0), 0u) << "not in the data";
    EXPECT_EQ(GetPixel(canvas.dc(), 0, 1), size == 8 ? RGB(0, 255, 0) : 0u);
    EXPECT_EQ(GetPixel(canvas.dc(), 0, 2), RGB(0, 0, 255));
  }
}

}  // namespace
