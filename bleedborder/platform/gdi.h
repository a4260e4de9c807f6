#pragma once
// The raster device: device contexts, bitmaps, palettes, pens, brushes and
// fonts over in-memory pixels, offered under the platform's names.
//
// Handles are typed, opaque values looked up in one table; a null, stale or
// wrong-kind handle makes a call fail the way the platform's does (null, 0 or
// FALSE), never undefined behaviour. Every call is safe from several threads
// (the device holds one lock for each call).
//
// The pixel rules are described in RASTER.md beside this file.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "bleedborder/core/geometry.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/files.h"

namespace bleedborder::gdi {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using COLORREF = std::uint32_t;
using RECT = TRect;
using POINT = TPoint;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

enum class ObjectKind : std::uint8_t { None, DC, Bitmap, Palette, Pen, Brush, Font };

// A handle of one kind; value 0 is null.
template <ObjectKind Kind>
struct Handle {
  std::uint32_t value = 0;
  explicit constexpr operator bool() const { return value != 0; }
  friend constexpr bool operator==(Handle, Handle) = default;
};

using HDC = Handle<ObjectKind::DC>;
using HBITMAP = Handle<ObjectKind::Bitmap>;
using HPALETTE = Handle<ObjectKind::Palette>;
using HPEN = Handle<ObjectKind::Pen>;
using HBRUSH = Handle<ObjectKind::Brush>;
using HFONT = Handle<ObjectKind::Font>;

// A handle of any object kind, as SelectObject, DeleteObject and GetObjectA
// take it. Any typed handle converts to it; the way back is handle_cast.
struct HGDIOBJ {
  std::uint32_t value = 0;
  constexpr HGDIOBJ() = default;
  template <ObjectKind Kind>
  constexpr HGDIOBJ(Handle<Kind> h) : value(h.value) {}
  explicit constexpr operator bool() const { return value != 0; }
  friend constexpr bool operator==(HGDIOBJ, HGDIOBJ) = default;
};

template <class H>
constexpr H handle_cast(HGDIOBJ h) { return H{h.value}; }

// Windows are not offered: the only window is "no window".
using HWND = std::nullptr_t;

// ---- Records -------------------------------------------------------------

struct RGBQUAD {
  BYTE rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};
struct RGBTRIPLE {
  BYTE rgbtBlue = 0, rgbtGreen = 0, rgbtRed = 0;
};
struct PALETTEENTRY {
  BYTE peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType = 0;
  DWORD bfSize = 0;
  WORD bfReserved1 = 0;
  WORD bfReserved2 = 0;
  DWORD bfOffBits = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

struct BITMAPCOREHEADER {
  DWORD bcSize = 0;
  WORD bcWidth = 0;
  WORD bcHeight = 0;
  WORD bcPlanes = 0;
  WORD bcBitCount = 0;
};
static_assert(sizeof(BITMAPCOREHEADER) == 12);

struct BITMAPINFOHEADER {
  DWORD biSize = 0;
  LONG biWidth = 0;
  LONG biHeight = 0;
  WORD biPlanes = 0;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// A header followed by its masks and colour table. Functions that take one
// read biSize bytes of header, then (for a 40-byte BI_BITFIELDS header) three
// masks, then the colour table; the caller's buffer must hold them.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;
  LONG bmWidthBytes = 0;
  WORD bmPlanes = 0;
  WORD bmBitsPixel = 0;
  void* bmBits = nullptr;
};

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3] = {0, 0, 0};
  sys::HANDLE dshSection{0};
  DWORD dsOffset = 0;
};

struct LOGPALETTE {
  WORD palVersion = 0x300;
  WORD palNumEntries = 0;
  PALETTEENTRY palPalEntry[256];
};

struct LOGPEN {
  UINT lopnStyle = 0;
  POINT lopnWidth;  // x is the width
  COLORREF lopnColor = 0;
};

struct LOGBRUSH {
  UINT lbStyle = 0;
  COLORREF lbColor = 0;
  std::uintptr_t lbHatch = 0;
};

constexpr int LF_FACESIZE = 32;
struct LOGFONTA {
  LONG lfHeight = 0, lfWidth = 0, lfEscapement = 0, lfOrientation = 0, lfWeight = 0;
  BYTE lfItalic = 0, lfUnderline = 0, lfStrikeOut = 0, lfCharSet = 0;
  BYTE lfOutPrecision = 0, lfClipPrecision = 0, lfQuality = 0, lfPitchAndFamily = 0;
  char lfFaceName[LF_FACESIZE] = {};
};

struct TEXTMETRICA {
  LONG tmHeight = 0, tmAscent = 0, tmDescent = 0, tmInternalLeading = 0, tmExternalLeading = 0;
  LONG tmAveCharWidth = 0, tmMaxCharWidth = 0, tmWeight = 0, tmOverhang = 0;
  LONG tmDigitizedAspectX = 0, tmDigitizedAspectY = 0;
  BYTE tmFirstChar = 0, tmLastChar = 0, tmDefaultChar = 0, tmBreakChar = 0;
  BYTE tmItalic = 0, tmUnderlined = 0, tmStruckOut = 0, tmPitchAndFamily = 0, tmCharSet = 0;
};

// ---- Constants -----------------------------------------------------------

constexpr DWORD BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr DWORD CBM_INIT = 4;

constexpr int BITSPIXEL = 12, PLANES = 14, NUMCOLORS = 24, LOGPIXELSX = 88, LOGPIXELSY = 90, SIZEPALETTE = 104;

constexpr int BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4;
constexpr int TRANSPARENT = 1, OPAQUE = 2;
constexpr int R2_BLACK = 1, R2_COPYPEN = 13, R2_WHITE = 16;

constexpr DWORD SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                SRCERASE = 0x00440328, NOTSRCCOPY = 0x00330008, NOTSRCERASE = 0x001100A6,
                MERGECOPY = 0x00C000CA, MERGEPAINT = 0x00BB0226, PATCOPY = 0x00F00021, PATPAINT = 0x00FB0A09,
                PATINVERT = 0x005A0049, DSTINVERT = 0x00550009, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062;
// The four-part code of MaskBlt: foreground in the low three bytes, background
// in the high byte.
constexpr DWORD MAKEROP4(DWORD fore, DWORD back) { return ((back << 8) & 0xFF000000u) | fore; }

constexpr int WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4,
              NULL_BRUSH = 5, WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8, SYSTEM_FONT = 13,
              DEFAULT_PALETTE = 15;

constexpr UINT PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
               PS_INSIDEFRAME = 6;
constexpr UINT BS_SOLID = 0, BS_HOLLOW = 1, BS_HATCHED = 2;
constexpr UINT HS_HORIZONTAL = 0, HS_VERTICAL = 1, HS_FDIAGONAL = 2, HS_BDIAGONAL = 3, HS_CROSS = 4,
               HS_DIAGCROSS = 5;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr int OBJ_BITMAP = 7;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return r | (g << 8) | (static_cast<COLORREF>(b) << 16); }

// ---- Screen and contexts ---------------------------------------------------

// The screen context of no window: 32 bits per pixel, 1 plane, no palette,
// 96 pixels per inch.
BLEEDBORDER_EXPORT HDC GetDC(HWND window);
BLEEDBORDER_EXPORT int ReleaseDC(HWND window, HDC dc);
BLEEDBORDER_EXPORT int GetDeviceCaps(HDC dc, int index);

// A memory context compatible with dc (null: the screen), holding a 1 x 1
// monochrome stock bitmap and the default state.
BLEEDBORDER_EXPORT HDC CreateCompatibleDC(HDC dc);
BLEEDBORDER_EXPORT BOOL DeleteDC(HDC dc);

// ---- Bitmaps -------------------------------------------------------------

BLEEDBORDER_EXPORT HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                            sys::HANDLE section, DWORD offset);
// A device-dependent bitmap: monochrome when planes x bits is 1, else
// compatible with the screen; bits (rows of 2-byte-aligned words, top first)
// may be null.
BLEEDBORDER_EXPORT HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits);
// Monochrome when dc holds a monochrome bitmap, else compatible with the screen.
BLEEDBORDER_EXPORT HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A device-dependent bitmap of the screen's format; with CBM_INIT the pixels
// are decoded from bits (BI_RGB, BI_BITFIELDS, BI_RLE8, BI_RLE4).
// Compressed data is read up to info's biSizeImage bytes, which bits must hold.
BLEEDBORDER_EXPORT HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                          const BITMAPINFO* info, UINT usage);
// The same, with the number of bytes at bits: compressed data is never read
// past bitsSize, whatever the header says, and uncompressed data gives only
// the whole rows that bitsSize holds.
BLEEDBORDER_EXPORT HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                          const BITMAPINFO* info, UINT usage, std::size_t bitsSize);
// Copies the object's description: BITMAP (bitmap), DIBSECTION (section),
// WORD entry count (palette), LOGPEN, LOGBRUSH, LOGFONTA. Returns the bytes
// written, 0 on failure.
BLEEDBORDER_EXPORT int GetObjectA(HGDIOBJ object, int size, void* out);
// Converts lines of bitmap into the format of info (bits null: fills only the
// header and colour table). Returns the lines copied.
BLEEDBORDER_EXPORT int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
                                 UINT usage);
// Colour table of the section selected into dc.
BLEEDBORDER_EXPORT UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors);
BLEEDBORDER_EXPORT UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);

// Fails for a selected object; stock objects are never deleted (TRUE).
BLEEDBORDER_EXPORT BOOL DeleteObject(HGDIOBJ object);

// ---- Selection -----------------------------------------------------------

// Returns what was replaced (null on failure). A bitmap is selected into at
// most one context.
BLEEDBORDER_EXPORT HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BLEEDBORDER_EXPORT HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
BLEEDBORDER_EXPORT UINT RealizePalette(HDC dc);

// ---- Transfers -----------------------------------------------------------

BLEEDBORDER_EXPORT BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop);
BLEEDBORDER_EXPORT int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BLEEDBORDER_EXPORT BOOL BitBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
BLEEDBORDER_EXPORT BOOL StretchBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                                   int srcWidth, int srcHeight, DWORD rop);
BLEEDBORDER_EXPORT BOOL MaskBlt(HDC dc, int x, int y, int width, int height, HDC src, int srcX, int srcY, HBITMAP mask,
                                int maskX, int maskY, DWORD rop4);
BLEEDBORDER_EXPORT COLORREF GetPixel(HDC dc, int x, int y);

// ---- State ---------------------------------------------------------------

BLEEDBORDER_EXPORT int SetStretchBltMode(HDC dc, int mode);
BLEEDBORDER_EXPORT int GetStretchBltMode(HDC dc);
BLEEDBORDER_EXPORT COLORREF SetTextColor(HDC dc, COLORREF color);
BLEEDBORDER_EXPORT COLORREF GetTextColor(HDC dc);
BLEEDBORDER_EXPORT COLORREF SetBkColor(HDC dc, COLORREF color);
BLEEDBORDER_EXPORT COLORREF GetBkColor(HDC dc);
BLEEDBORDER_EXPORT int SetBkMode(HDC dc, int mode);
BLEEDBORDER_EXPORT int GetBkMode(HDC dc);
BLEEDBORDER_EXPORT int SetROP2(HDC dc, int mode);
BLEEDBORDER_EXPORT int GetROP2(HDC dc);
BLEEDBORDER_EXPORT BOOL GetBrushOrgEx(HDC dc, POINT* point);
BLEEDBORDER_EXPORT BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous);
BLEEDBORDER_EXPORT BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BLEEDBORDER_EXPORT BOOL GetCurrentPositionEx(HDC dc, POINT* point);
// The object of the given kind selected into dc, or null.
BLEEDBORDER_EXPORT HGDIOBJ GetCurrentObject(HDC dc, ObjectKind kind);

// ---- Tools and palettes ----------------------------------------------------

BLEEDBORDER_EXPORT HPEN CreatePenIndirect(const LOGPEN* pen);
BLEEDBORDER_EXPORT HBRUSH CreateBrushIndirect(const LOGBRUSH* brush);
BLEEDBORDER_EXPORT HFONT CreateFontIndirectA(const LOGFONTA* font);
BLEEDBORDER_EXPORT HGDIOBJ GetStockObject(int index);
BLEEDBORDER_EXPORT BOOL UnrealizeObject(HGDIOBJ object);
BLEEDBORDER_EXPORT HPALETTE CreatePalette(const LOGPALETTE* palette);
BLEEDBORDER_EXPORT HPALETTE CreateHalftonePalette(HDC dc);
BLEEDBORDER_EXPORT UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
BLEEDBORDER_EXPORT UINT SetPaletteEntries(HPALETTE palette, UINT start, UINT count, const PALETTEENTRY* entries);
BLEEDBORDER_EXPORT UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);
BLEEDBORDER_EXPORT BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
BLEEDBORDER_EXPORT DWORD GetSysColor(int index);

// ---- Diagnostics ---------------------------------------------------------

// Objects alive that are not stock objects or the screen context.
BLEEDBORDER_EXPORT std::size_t LiveObjectCount();

// ---- Beyond the platform: our engine's own ---------------------------------

// The description of a 32-bit device-dependent bitmap with its pixels, which
// the platform keeps out of reach, in bmBits: rows top first, bmWidthBytes
// apart, each pixel a 0x00RRGGBB word (rule 1 of RASTER.md keeps the fourth
// byte 0). Nothing for a section (GetObjectA gives its bits), a monochrome
// device bitmap (its bits have no colours of their own) or a handle that
// names no bitmap. The memory lives as long as the bitmap; reading it while
// another thread draws on the bitmap is the caller's race.
std::optional<BITMAP> DeviceBitmapPixels(HBITMAP bitmap);

}  // namespace bleedborder::gdi
