#include "bleedborder/canvas/tools.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/canvas/resource_manager.h"

namespace bleedborder {

const int PenModeCodes[16] = {1, 16, 11, 6, 13, 4, 14, 5, 12, 3, 15, 2, 9, 8, 7, 10};

int PenModeCode(TPenMode mode) {
  const auto index = static_cast<std::size_t>(mode);
  return index < std::size(PenModeCodes) ? PenModeCodes[index] : PenModeCodes[static_cast<std::size_t>(TPenMode::pmCopy)];
}

namespace {

template <class Settings>
Settings SettingsOf(const TToolEntry* entry) REQUIRES(LibraryLock) {
  Settings settings;
  std::memcpy(&settings, entry->Settings(), sizeof settings);
  settings.ToolHandle = 0;
  return settings;
}

// Reads, changes and writes a tool's settings under the library lock, so that
// a concurrent change of the same tool is not lost.
template <class Tool, class Change>
void ChangeSettings(Tool& tool, Change change) {
  TLibraryHold hold;
  auto settings = tool.ReadSettings();
  change(settings);
  tool.WriteSettings(settings);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string_view NameOf(const TFontSettings& settings) {
  return {settings.Name, std::min<std::size_t>(settings.NameLength, sizeof settings.Name)};
}

// Blocks reach a cache only in their one byte form: no handle, no stray
// bytes outside the fields.
TFontSettings Normalised(TFontSettings s) {
  s.ToolHandle = 0;
  s.NameLength = static_cast<std::uint8_t>(std::min<std::size_t>(s.NameLength, sizeof s.Name));
  std::fill(s.Name + s.NameLength, s.Name + sizeof s.Name, '\0');
  s.Zero = 0;
  return s;
}
TPenSettings Normalised(TPenSettings s) {
  s.ToolHandle = 0;
  std::fill(std::begin(s.Zero), std::end(s.Zero), 0);
  return s;
}
TBrushSettings Normalised(TBrushSettings s) {
  s.ToolHandle = 0;
  s.PatternBitmap = 0;
  std::fill(std::begin(s.Zero), std::end(s.Zero), 0);
  return s;
}

}  // namespace

// ---- TGraphicsObject ---------------------------------------------------------

TGraphicsObject::~TGraphicsObject() {
  TLibraryHold hold;
  cache_->ReleaseEntry(Entry);
}

void TGraphicsObject::Altered() {
  if (OnAlter) OnAlter(this);
}

gdi::HGDIOBJ TGraphicsObject::CachedHandle(const std::function<gdi::HGDIOBJ(const void* settings)>& make) {
  TToolEntry* entry = Entry;
  // A failed creation stays null and is tried again on the next request.
  if (!entry->ToolHandle) entry->ToolHandle = make(entry->Settings());
  return entry->ToolHandle;
}

// ---- TFont -------------------------------------------------------------------

TFont::TFont() : TGraphicsObject(FontCache()) {
  TLibraryHold hold;
  TFontSettings defaults = DefaultFontSettings();
  defaults.ToolHandle = 0;
  Entry = FontCache().ObtainEntry(&defaults);
  DotsPerInch = ScreenPixelsPerInch();
}

void TFont::Altered() { TGraphicsObject::Altered(); }

void TFont::TakeFrom(TPersistent* source) {
  auto* font = dynamic_cast<TFont*>(source);
  if (!font) {
    TPersistent::TakeFrom(source);
    return;
  }
  TLibraryHold hold;
  FontCache().AdoptEntry(*this, font->Entry);
  SetColor(font->Color());
  // Keeps the point size when the two fonts' resolutions differ.
  if (DotsPerInch != font->DotsPerInch) SetSize(font->Size());
}

TFontSettings TFont::ReadSettings() const {
  TLibraryHold hold;
  return SettingsOf<TFontSettings>(Entry);
}

void TFont::WriteSettings(const TFontSettings& settings) {
  const TFontSettings block = Normalised(settings);
  TLibraryHold hold;
  FontCache().SwapEntry(*this, &block);
}

gdi::HFONT TFont::ToolHandle() {
  TLibraryHold hold;
  return gdi::handle_cast<gdi::HFONT>(CachedHandle([](const void* raw) {
    TFontSettings s;
    std::memcpy(&s, raw, sizeof s);
    gdi::LOGFONTA font;
    font.lfHeight = s.Height;
    font.lfWeight = (s.Style & fsBold) ? 700 : 400;
    font.lfItalic = (s.Style & fsItalic) ? 1 : 0;
    font.lfUnderline = (s.Style & fsUnderline) ? 1 : 0;
    font.lfStrikeOut = (s.Style & fsStrikeOut) ? 1 : 0;
    font.lfCharSet = s.Charset;
    font.lfPitchAndFamily = s.Pitch == TFontPitch::fpVariable ? 2 : s.Pitch == TFontPitch::fpFixed ? 1 : 0;
    std::string_view face = NameOf(s);
    if (EqualsIgnoringCase(face, "Default")) face = NameOf(DefaultFontSettings());
    std::memcpy(font.lfFaceName, face.data(), std::min<std::size_t>(face.size(), gdi::LF_FACESIZE - 1));
    return gdi::HGDIOBJ(gdi::CreateFontIndirectA(&font));
  }));
}

TColor TFont::Color() const {
  TLibraryHold hold;
  return color_;
}

void TFont::SetColor(TColor value) {
  TLibraryHold hold;
  if (value == color_) return;
  color_ = value;
  Altered();
}

std::int32_t TFont::Height() const { return ReadSettings().Height; }

void TFont::SetHeight(std::int32_t value) {
  ChangeSettings(*this, [&](TFontSettings& s) {
    s.Height = value;
  });
}

std::int32_t TFont::Size() const { return -MulDiv(Height(), 72, DotsPerInch); }

void TFont::SetSize(std::int32_t value) { SetHeight(-MulDiv(value, DotsPerInch, 72)); }

std::string TFont::Name() const {
  const TFontSettings s = ReadSettings();
  return std::string(NameOf(s));
}

void TFont::SetName(const std::string& value) {
  if (value.empty()) return;
  ChangeSettings(*this, [&](TFontSettings& s) {
    std::fill(std::begin(s.Name), std::end(s.Name), '\0');
    s.NameLength = static_cast<std::uint8_t>(std::min(value.size(), sizeof s.Name));
    std::memcpy(s.Name, value.data(), s.NameLength);
  });
}

TFontPitch TFont::Pitch() const { return ReadSettings().Pitch; }

void TFont::SetPitch(TFontPitch value) {
  ChangeSettings(*this, [&](TFontSettings& s) {
    s.Pitch = value;
  });
}

TFontStyles TFont::Style() const { return ReadSettings().Style; }

void TFont::SetStyle(TFontStyles value) {
  ChangeSettings(*this, [&](TFontSettings& s) {
    s.Style = value;
  });
}

TFontCharset TFont::Charset() const { return ReadSettings().Charset; }

void TFont::SetCharset(TFontCharset value) {
  ChangeSettings(*this, [&](TFontSettings& s) {
    s.Charset = value;
  });
}

// ---- TPen --------------------------------------------------------------------

TPen::TPen() : TGraphicsObject(PenCache()) {
  TLibraryHold hold;
  Entry = PenCache().ObtainEntry(&DefaultPenSettings());
}

void TPen::TakeFrom(TPersistent* source) {
  auto* pen = dynamic_cast<TPen*>(source);
  if (!pen) {
    TPersistent::TakeFrom(source);
    return;
  }
  TLibraryHold hold;
  PenCache().AdoptEntry(*this, pen->Entry);
  SetMode(pen->Mode());
}

TPenSettings TPen::ReadSettings() const {
  TLibraryHold hold;
  return SettingsOf<TPenSettings>(Entry);
}

void TPen::WriteSettings(const TPenSettings& settings) {
  const TPenSettings block = Normalised(settings);
  TLibraryHold hold;
  PenCache().SwapEntry(*this, &block);
}

gdi::HPEN TPen::ToolHandle() {
  TLibraryHold hold;
  return gdi::handle_cast<gdi::HPEN>(CachedHandle([](const void* raw) {
    TPenSettings s;
    std::memcpy(&s, raw, sizeof s);
    gdi::LOGPEN pen;
    pen.lopnStyle = static_cast<gdi::UINT>(s.Style);
    pen.lopnWidth.x = s.Width;
    pen.lopnColor = ResolveColor(s.Color);
    return gdi::HGDIOBJ(gdi::CreatePenIndirect(&pen));
  }));
}

TColor TPen::Color() const { return ReadSettings().Color; }

void TPen::SetColor(TColor value) {
  ChangeSettings(*this, [&](TPenSettings& s) {
    s.Color = value;
  });
}

TPenStyle TPen::Style() const { return ReadSettings().Style; }

void TPen::SetStyle(TPenStyle value) {
  ChangeSettings(*this, [&](TPenSettings& s) {
    s.Style = value;
  });
}

std::int32_t TPen::Width() const { return ReadSettings().Width; }

void TPen::SetWidth(std::int32_t value) {
  if (value < 0) return;
  ChangeSettings(*this, [&](TPenSettings& s) {
    s.Width = value;
  });
}

TPenMode TPen::Mode() const {
  TLibraryHold hold;
  return mode_;
}

void TPen::SetMode(TPenMode value) {
  TLibraryHold hold;
  if (value == mode_) return;
  mode_ = value;
  Altered();
}

// ---- TBrush ------------------------------------------------------------------

TBrush::TBrush() : TGraphicsObject(BrushCache()) {
  TLibraryHold hold;
  Entry = BrushCache().ObtainEntry(&DefaultBrushSettings());
}

void TBrush::TakeFrom(TPersistent* source) {
  auto* brush = dynamic_cast<TBrush*>(source);
  if (!brush) {
    TPersistent::TakeFrom(source);
    return;
  }
  TLibraryHold hold;
  BrushCache().AdoptEntry(*this, brush->Entry);
}

TBrushSettings TBrush::ReadSettings() const {
  TLibraryHold hold;
  TBrushSettings s = SettingsOf<TBrushSettings>(Entry);
  s.PatternBitmap = 0;
  return s;
}

void TBrush::WriteSettings(const TBrushSettings& settings) {
  const TBrushSettings block = Normalised(settings);
  TLibraryHold hold;
  BrushCache().SwapEntry(*this, &block);
}

gdi::HBRUSH TBrush::ToolHandle() {
  TLibraryHold hold;
  return gdi::handle_cast<gdi::HBRUSH>(CachedHandle([](const void* raw) {
    TBrushSettings s;
    std::memcpy(&s, raw, sizeof s);
    gdi::LOGBRUSH brush;
    brush.lbColor = ResolveColor(s.Color);
    switch (s.Style) {
      case TBrushStyle::bsSolid:
        brush.lbStyle = gdi::BS_SOLID;
        break;
      case TBrushStyle::bsClear:
        brush.lbStyle = gdi::BS_HOLLOW;
        break;
      default:
        brush.lbStyle = gdi::BS_HATCHED;
        brush.lbHatch = static_cast<std::uintptr_t>(s.Style) - 2;
        break;
    }
    return gdi::HGDIOBJ(gdi::CreateBrushIndirect(&brush));
  }));
}

TColor TBrush::Color() const { return ReadSettings().Color; }

void TBrush::SetColor(TColor value) {
  ChangeSettings(*this, [&](TBrushSettings& s) {
    s.Color = value;
    if (s.Style == TBrushStyle::bsClear) s.Style = TBrushStyle::bsSolid;
  });
}

TBrushStyle TBrush::Style() const { return ReadSettings().Style; }

void TBrush::SetStyle(TBrushStyle value) {
  ChangeSettings(*this, [&](TBrushSettings& s) {
    s.Style = value;
    if (value == TBrushStyle::bsClear) s.Color = clWhite;
  });
}

}  // namespace bleedborder
