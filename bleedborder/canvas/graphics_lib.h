#pragma once
// The drawing library's process-wide state, its start-up and shut-down, and
// the colour and character-set helpers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/color.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TResourceManager;

// Makes the process-wide objects in their fixed order; runs once.
void GraphicsStartup();
// Releases them in their fixed order; runs once.
void GraphicsShutdown();

std::int32_t ScreenPixelsPerInch();
gdi::HPEN StockBlackPen();
gdi::HBRUSH StockHollowBrush();
gdi::HFONT StockSystemFont();
TResourceManager& FontCache();
TResourceManager& PenCache();
TResourceManager& BrushCache();
TFontSettings& DefaultFontSettings();
const TPenSettings& DefaultPenSettings();
const TBrushSettings& DefaultBrushSettings();

// System colours (negative values) become GetSysColor of their low byte;
// every other value passes unchanged.
gdi::COLORREF ResolveColor(TColor color);
// a * b / c rounded to nearest, halves away from zero; -1 for a zero divisor
// or a result beyond 32 bits.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

std::optional<std::string_view> ColorName(TColor value);
std::optional<TColor> ColorFromName(std::string_view name);
std::optional<std::string_view> CharsetName(TFontCharset value);
std::optional<TFontCharset> CharsetFromName(std::string_view name);
TFontCharset QueryDefaultCharset();

}  // namespace bleedborder
