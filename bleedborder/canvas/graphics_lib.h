#pragma once
// The drawing library's process-wide state, its start-up and shut-down, and
// the colour and character-set helpers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/color.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TResourceManager;

// Makes the process-wide objects in their fixed order; runs once.
BLEEDBORDER_EXPORT void GraphicsStartup();
// Releases them in their fixed order; runs once.
BLEEDBORDER_EXPORT void GraphicsShutdown();

BLEEDBORDER_EXPORT std::int32_t ScreenPixelsPerInch();
BLEEDBORDER_EXPORT gdi::HPEN StockBlackPen();
BLEEDBORDER_EXPORT gdi::HBRUSH StockHollowBrush();
BLEEDBORDER_EXPORT gdi::HFONT StockSystemFont();
BLEEDBORDER_EXPORT TResourceManager& FontCache();
BLEEDBORDER_EXPORT TResourceManager& PenCache();
BLEEDBORDER_EXPORT TResourceManager& BrushCache();
BLEEDBORDER_EXPORT TFontSettings& DefaultFontSettings();
BLEEDBORDER_EXPORT const TPenSettings& DefaultPenSettings();
BLEEDBORDER_EXPORT const TBrushSettings& DefaultBrushSettings();

// System colours (negative values) become GetSysColor of their low byte;
// every other value passes unchanged.
BLEEDBORDER_EXPORT gdi::COLORREF ResolveColor(TColor color);
// a * b / c rounded to nearest, halves away from zero; -1 for a zero divisor
// or a result beyond 32 bits.
BLEEDBORDER_EXPORT std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

BLEEDBORDER_EXPORT std::optional<std::string_view> ColorName(TColor value);
BLEEDBORDER_EXPORT std::optional<TColor> ColorFromName(std::string_view name);
BLEEDBORDER_EXPORT std::optional<std::string_view> CharsetName(TFontCharset value);
BLEEDBORDER_EXPORT std::optional<TFontCharset> CharsetFromName(std::string_view name);
BLEEDBORDER_EXPORT TFontCharset QueryDefaultCharset();

}  // namespace bleedborder
