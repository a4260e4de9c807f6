#include "bleedborder/canvas/graphics_lib.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/resource_manager.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/image/conversion.h"
#include "bleedborder/image/image_globals.h"
#include "bleedborder/platform/gdi_raii.h"

namespace bleedborder {

namespace {

// The pattern cache: no operation adds a pattern, so the list stays empty
// until shut-down empties it again.
struct TPatternEntry {
  TPatternEntry* Link = nullptr;
  TBitmap* Bitmap = nullptr;
};
struct TPatternManager {
  TPatternEntry* Entries = nullptr;
};

constexpr char kDefaultFontName[] = "MS Sans Serif";

TFontSettings InitialFontSettings() {
  TFontSettings s{};
  s.Height = -11;
  s.Pitch = TFontPitch::fpDefault;
  s.Charset = DEFAULT_CHARSET;
  s.NameLength = sizeof kDefaultFontName - 1;
  std::copy(std::begin(kDefaultFontName), std::end(kDefaultFontName) - 1, s.Name);
  return s;
}

// Process-wide state, guarded by the library lock. The caches and lists live
// until the process ends: a tool or canvas that outlives the library's
// shut-down still finds the cache and list it was registered with.
struct LibraryState {
  bool started = false;
  std::int32_t screenPixelsPerInch = 96;
  gdi::HPEN stockBlackPen;
  gdi::HBRUSH stockHollowBrush;
  gdi::HFONT stockSystemFont;
  TFontSettings defaultFont = InitialFontSettings();
  std::unique_ptr<TPatternManager> patternCache;
};

LibraryState& State() {
  static auto* state = new LibraryState;
  return *state;
}

template <std::size_t Size>
TResourceManager& CacheOfSize() {
  static auto* cache = new TResourceManager(Size);
  return *cache;
}

// This system has no far-east locale switch; it keeps the western default font.
bool IsFarEastLocale() { return false; }

// The Shift-JIS name of the far-east default font.
constexpr unsigned char kFarEastFontName[] = {0x82, 0x6C, 0x82, 0x72, 0x20, 0x82, 0x6F, 0x83,
                                              0x53, 0x83, 0x56, 0x83, 0x62, 0x83, 0x4E};

std::int32_t ReadScreenPixelsPerInch() {
  gdi::ScreenDC screen;
  const int ppi = screen ? gdi::GetDeviceCaps(screen.Get(), gdi::LOGPIXELSY) : 0;
  // Font sizes divide by this figure; a device that answers nothing gets the usual one.
  return ppi > 0 ? ppi : 96;
}

void SetUpDefaultFont(std::int32_t ppi) {
  TFontSettings& font = State().defaultFont;
  font.Height = -MulDiv(8, ppi, 72);
  if (IsFarEastLocale() && QueryDefaultCharset() == SHIFTJIS_CHARSET) {
    std::fill(std::begin(font.Name), std::end(font.Name), '\0');
    std::copy(std::begin(kFarEastFontName), std::end(kFarEastFontName), reinterpret_cast<unsigned char*>(font.Name));
    font.NameLength = sizeof kFarEastFontName;
    font.Height = -MulDiv(9, ppi, 72);
    font.Charset = SHIFTJIS_CHARSET;
  }
}

void ReleasePatternCache(std::unique_ptr<TPatternManager> cache) {
  if (!cache) return;
  while (TPatternEntry* entry = cache->Entries) {
    cache->Entries = entry->Link;
    delete entry->Bitmap;
    delete entry;
  }
}

struct ColorEntry {
  TColor value;
  std::string_view name;
};

constexpr std::array<ColorEntry, 52> kColorNames{{
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clDefault, "clDefault"},
    {clGradientActiveCaption, "clGradientActiveCaption"},
    {clGradientInactiveCaption, "clGradientInactiveCaption"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clHotLight, "clHotLight"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuBar, "clMenuBar"},
    {clMenuHighlight, "clMenuHighlight"},
    {clMenuText, "clMenuText"},
    {clNone, "clNone"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
}};

struct CharsetEntry {
  TFontCharset value;
  std::string_view name;
};

constexpr std::array<CharsetEntry, 18> kCharsetNames{{
    {0, "ANSI_CHARSET"},
    {1, "DEFAULT_CHARSET"},
    {2, "SYMBOL_CHARSET"},
    {77, "MAC_CHARSET"},
    {128, "SHIFTJIS_CHARSET"},
    {129, "HANGEUL_CHARSET"},
    {130, "JOHAB_CHARSET"},
    {134, "GB2312_CHARSET"},
    {136, "CHINESEBIG5_CHARSET"},
    {161, "GREEK_CHARSET"},
    {162, "TURKISH_CHARSET"},
    {177, "HEBREW_CHARSET"},
    {178, "ARABIC_CHARSET"},
    {186, "BALTIC_CHARSET"},
    {204, "RUSSIAN_CHARSET"},
    {222, "THAI_CHARSET"},
    {238, "EASTEUROPE_CHARSET"},
    {255, "OEM_CHARSET"},
}};

bool SameAsciiText(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

template <class Table, class Value>
std::optional<std::string_view> NameOfValue(const Table& table, Value value) {
  for (const auto& entry : table)
    if (entry.value == value) return entry.name;
  return std::nullopt;
}

template <class Table>
auto ValueOfName(const Table& table, std::string_view name) -> std::optional<decltype(table[0].value)> {
  for (const auto& entry : table)
    if (SameAsciiText(entry.name, name)) return entry.value;
  return std::nullopt;
}

}  // namespace

void GraphicsStartup() {
  TLibraryHold hold;
  LibraryState& state = State();
  if (state.started) return;

  state.screenPixelsPerInch = ReadScreenPixelsPerInch();
  StockPalette16 = BuildStockPalette();

  state.stockBlackPen = gdi::handle_cast<gdi::HPEN>(gdi::GetStockObject(gdi::BLACK_PEN));
  state.stockHollowBrush = gdi::handle_cast<gdi::HBRUSH>(gdi::GetStockObject(gdi::NULL_BRUSH));
  state.stockSystemFont = gdi::handle_cast<gdi::HFONT>(gdi::GetStockObject(gdi::SYSTEM_FONT));

  SetUpDefaultFont(state.screenPixelsPerInch);

  FontCache();
  PenCache();
  BrushCache();
  state.patternCache = std::make_unique<TPatternManager>();

  ActiveBitmapCanvases();
  AllCanvases();
  // The colour and character set names are offered through ColorName,
  // ColorFromName, CharsetName and CharsetFromName; there is no separate
  // streaming registry to enter them in.
  state.started = true;
}

void GraphicsShutdown() {
  TLibraryHold hold;
  LibraryState& state = State();
  if (!state.started) return;

  ReleasePatternCache(std::move(state.patternCache));
  DropAllContexts();
  // The canvas lists and the tool caches stay for the rest of the process
  // (see LibraryState); entries still in use keep their objects.
  if (StockPalette16) gdi::DeleteObject(StockPalette16);
  StockPalette16 = gdi::HPALETTE{};
  state.started = false;
}

std::int32_t ScreenPixelsPerInch() { return State().screenPixelsPerInch; }
gdi::HPEN StockBlackPen() { return State().stockBlackPen; }
gdi::HBRUSH StockHollowBrush() { return State().stockHollowBrush; }
gdi::HFONT StockSystemFont() { return State().stockSystemFont; }
TResourceManager& FontCache() { return CacheOfSize<sizeof(TFontSettings)>(); }
TResourceManager& PenCache() { return CacheOfSize<sizeof(TPenSettings)>(); }
TResourceManager& BrushCache() { return CacheOfSize<sizeof(TBrushSettings)>(); }
TFontSettings& DefaultFontSettings() { return State().defaultFont; }

const TPenSettings& DefaultPenSettings() {
  static const TPenSettings settings{0, clBlack, 1, TPenStyle::psSolid, {0, 0, 0}};
  return settings;
}

const TBrushSettings& DefaultBrushSettings() {
  static const TBrushSettings settings{0, clWhite, 0, TBrushStyle::bsSolid, {0, 0, 0}};
  return settings;
}

gdi::COLORREF ResolveColor(TColor color) {
  if (color < 0) return gdi::GetSysColor(color & 0xFF);
  return static_cast<gdi::COLORREF>(color);
}

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  std::int64_t quotient = product / c;
  const std::int64_t remainder = product % c;
  // Halves go away from zero: the remainder carries the product's sign.
  if (2 * std::llabs(remainder) >= std::llabs(static_cast<std::int64_t>(c)))
    quotient += ((product < 0) != (c < 0)) ? -1 : 1;
  if (quotient > INT32_MAX || quotient < INT32_MIN) return -1;
  return static_cast<std::int32_t>(quotient);
}

std::optional<std::string_view> ColorName(TColor value) { return NameOfValue(kColorNames, value); }
std::optional<TColor> ColorFromName(std::string_view name) { return ValueOfName(kColorNames, name); }
std::optional<std::string_view> CharsetName(TFontCharset value) { return NameOfValue(kCharsetNames, value); }
std::optional<TFontCharset> CharsetFromName(std::string_view name) { return ValueOfName(kCharsetNames, name); }

TFontCharset QueryDefaultCharset() {
  gdi::ScreenDC screen;
  if (!screen) return DEFAULT_CHARSET;
  gdi::Selection font(screen.Get(), StockSystemFont());
  gdi::TEXTMETRICA metrics;
  if (font && gdi::GetTextMetricsA(screen.Get(), &metrics)) return metrics.tmCharSet;
  return DEFAULT_CHARSET;
}

}  // namespace bleedborder
