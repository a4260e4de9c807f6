#pragma once
// Fonts, pens and brushes: small settings objects whose platform handles are
// made on first use and shared, through the tool caches, by every tool with
// the same settings.
#include <cstdint>
#include <functional>
#include <string>

#include "bleedborder/core/color.h"
#include "bleedborder/core/persistent.h"
#include "bleedborder/core/library_lock.h"
#include "bleedborder/export.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

struct TToolEntry;
class TResourceManager;

enum class TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };
enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;  // a set of TFontStyle bits
using TFontCharset = std::uint8_t;
enum class TPenStyle : std::uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TPenMode : std::uint8_t {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum class TBrushStyle : std::uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;

// Settings blocks, hashed and compared as raw bytes: every byte no field
// covers is zero, and so are the name bytes past the name's length.
struct TFontSettings {
  std::uint32_t ToolHandle;  // always 0 in a block handed to a cache
  std::int32_t Height;
  TFontPitch Pitch;
  TFontStyles Style;
  TFontCharset Charset;
  std::uint8_t NameLength;
  char Name[31];
  std::uint8_t Zero;
};
struct TPenSettings {
  std::uint32_t ToolHandle;
  TColor Color;
  std::int32_t Width;
  TPenStyle Style;
  std::uint8_t Zero[3];
};
struct TBrushSettings {
  std::uint32_t ToolHandle;
  TColor Color;
  std::uint32_t PatternBitmap;  // no operation sets a pattern: always 0
  TBrushStyle Style;
  std::uint8_t Zero[3];
};
static_assert(sizeof(TFontSettings) == 44 && sizeof(TPenSettings) == 16 && sizeof(TBrushSettings) == 16);

// PenModeCodes[mode]: the platform mix mode of a pen mode.
extern BLEEDBORDER_EXPORT const int PenModeCodes[16];
// The mix mode of mode; a value outside the enumeration mixes as pmCopy.
BLEEDBORDER_EXPORT int PenModeCode(TPenMode mode);

// Every operation of a tool runs under the library lock, whether the tool
// belongs to a canvas or to the program.
class BLEEDBORDER_EXPORT TGraphicsObject : public TPersistent {
 public:
  using TAlterEvent = std::function<void(TGraphicsObject*)>;
  ~TGraphicsObject() override;
  const char* ClassName() const override { return "TGraphicsObject"; }

  // Called with the library lock held, before the old platform object can go.
  virtual void Altered() REQUIRES(LibraryLock);

  TAlterEvent OnAlter;
  // The cache entry holding this tool's settings and platform object.
  TToolEntry* Entry GUARDED_BY(LibraryLock) = nullptr;

 protected:
  explicit TGraphicsObject(TResourceManager& cache) : cache_(&cache) {}
  TResourceManager& Cache() const { return *cache_; }
  gdi::HGDIOBJ CachedHandle(const std::function<gdi::HGDIOBJ(const void* settings)>& make) REQUIRES(LibraryLock);

 private:
  TResourceManager* cache_;
};

class BLEEDBORDER_EXPORT TFont : public TGraphicsObject {
 public:
  TFont();
  const char* ClassName() const override { return "TFont"; }
  void TakeFrom(TPersistent* source) override;
  void Altered() REQUIRES(LibraryLock) override;

  TFontSettings ReadSettings() const;
  void WriteSettings(const TFontSettings& settings);
  gdi::HFONT ToolHandle();

  TColor Color() const;
  void SetColor(TColor value);
  std::int32_t Height() const;
  void SetHeight(std::int32_t value);
  std::int32_t Size() const;
  void SetSize(std::int32_t value);
  std::string Name() const;
  void SetName(const std::string& value);
  TFontPitch Pitch() const;
  void SetPitch(TFontPitch value);
  TFontStyles Style() const;
  void SetStyle(TFontStyles value);
  TFontCharset Charset() const;
  void SetCharset(TFontCharset value);
  std::int32_t DotsPerInch = 96;

 private:
  TColor color_ GUARDED_BY(LibraryLock) = clWindowText;
};

class BLEEDBORDER_EXPORT TPen : public TGraphicsObject {
 public:
  TPen();
  const char* ClassName() const override { return "TPen"; }
  void TakeFrom(TPersistent* source) override;

  TPenSettings ReadSettings() const;
  void WriteSettings(const TPenSettings& settings);
  gdi::HPEN ToolHandle();

  TColor Color() const;
  void SetColor(TColor value);
  TPenStyle Style() const;
  void SetStyle(TPenStyle value);
  std::int32_t Width() const;
  void SetWidth(std::int32_t value);
  TPenMode Mode() const;
  void SetMode(TPenMode value);

 private:
  TPenMode mode_ GUARDED_BY(LibraryLock) = TPenMode::pmCopy;
};

class BLEEDBORDER_EXPORT TBrush : public TGraphicsObject {
 public:
  TBrush();
  const char* ClassName() const override { return "TBrush"; }
  void TakeFrom(TPersistent* source) override;

  TBrushSettings ReadSettings() const;
  void WriteSettings(const TBrushSettings& settings);
  gdi::HBRUSH ToolHandle();

  TColor Color() const;
  void SetColor(TColor value);
  TBrushStyle Style() const;
  void SetStyle(TBrushStyle value);
};

}  // namespace bleedborder
