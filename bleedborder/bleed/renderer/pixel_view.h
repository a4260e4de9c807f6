#pragma once
// The picture's pixels as the direct renderer reads them: row y in device
// order, pixel x as a 32-bit colour (fourth byte 0) whatever the picture's
// depth, the colour its conversion to 32 bits would give.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "bleedborder/canvas/picture_colors.h"
#include "bleedborder/image/pixel_rows.h"
#include "bleedborder/platform/raster_surface.h"

namespace bleedborder {

class TBitmap;

namespace bleed {

// The raster operations compare and write the 24 colour bits only, with the
// fourth byte 0; so does everything here.
constexpr std::uint32_t kColorBits = 0x00FFFFFF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

// A picture pixel's colour (fourth byte 0) from a 32-bit or a 24-bit row,
// or from a row of any other depth through its colour table or masks; the
// loops that read many are compiled for each.
struct TRgb32 {
  static constexpr std::int32_t kBytes = 4;
  static std::uint32_t Load(const std::uint8_t* pixel) {
    std::uint32_t value;
    std::memcpy(&value, pixel, sizeof value);
    return value & kColorBits;
  }
};
struct TRgb24 {
  static constexpr std::int32_t kBytes = 3;
  // Three bytes, not four: the last pixel of a block may end it.
  static std::uint32_t Load(const std::uint8_t* pixel) {
    return pixel[0] | (std::uint32_t{pixel[1]} << 8) | (std::uint32_t{pixel[2]} << 16);
  }
  // The four bytes ending with the pixel, in one read: for any pixel of a
  // block but the one at its first byte.
  static std::uint32_t LoadAfterFirst(const std::uint8_t* pixel) {
    std::uint32_t value;
    std::memcpy(&value, pixel - 1, sizeof value);
    return value >> 8;
  }
};
// Values of 1, 4, 8 or 16 bits looked up in a table of their colours.
template <int Bits>
struct TLookup {
  static constexpr std::int32_t kBytes = 0;  // whole bytes do not apply
};
// Any other: 32-bit values under masks, decoded a pixel at a time.
struct TDecoded {
  static constexpr std::int32_t kBytes = 0;
};

// A bitmap's pixel rows (pixel_rows.h) read as colours. A composite is a
// 32-bit BI_RGB section; a picture may be a 24-bit one too, read as it is, or
// one of 1, 4, 8, 16 or 32 bits with a colour table or masks, read through
// them, or a 32-bit device bitmap (a run-length compressed file loads as
// one), whose pixels are plain 32-bit colours, the very words its conversion
// to 32 bits copies (with the fourth byte 0, which the renderer ignores
// anyway): read as they are, no converted copy is made.
class PixelView {
 public:
  enum class Depths : std::uint8_t { Only32, Any };

  // The view is read under the library lock; the pixels it shows are then
  // the caller's alone (a storage is never changed while it is shared).
  static std::optional<PixelView> Of(TBitmap& bitmap, Depths depths);

  std::int32_t Width() const { return rows_.width; }
  std::int32_t Height() const { return rows_.height; }
  std::int32_t BitsPerPixel() const { return rows_.bitsPerPixel; }
  bool Decoded() const { return colors_.has_value(); }
  bool TopDown() const { return rows_.topDown; }
  std::int64_t Stride() const { return rows_.stride; }
  const std::uint8_t* RowBytes(std::int32_t y) const { return rows_.Row(y); }
  // A row of a 32-bit view.
  std::uint32_t* Row(std::int32_t y) const { return reinterpret_cast<std::uint32_t*>(rows_.Row(y)); }
  // The colour of pixel x of a row, read as Format.
  template <class Format>
  std::uint32_t At(const std::uint8_t* row, std::int64_t x) const {
    if constexpr (std::is_same_v<Format, TLookup<16>>) {
      return lookupData_[row[2 * x] | (std::uint32_t{row[2 * x + 1]} << 8)];
    } else if constexpr (std::is_same_v<Format, TLookup<8>>) {
      return lookupData_[row[x]];
    } else if constexpr (std::is_same_v<Format, TLookup<4>>) {
      return lookupData_[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu];
    } else if constexpr (std::is_same_v<Format, TLookup<1>>) {
      return lookupData_[(row[x >> 3] >> (7 - (x & 7))) & 1u];
    } else if constexpr (std::is_same_v<Format, TDecoded>) {
      return PictureColor(*colors_, row, static_cast<std::int32_t>(x));
    } else if constexpr (std::is_same_v<Format, TRgb24>) {
      // One read rather than three, where the byte before the pixel is the
      // view's too.
      const std::uint8_t* const pixel = row + x * Format::kBytes;
      return pixel != rows_.bits ? TRgb24::LoadAfterFirst(pixel) : TRgb24::Load(pixel);
    } else {
      return Format::Load(row + x * Format::kBytes);
    }
  }
  // For pictures of up to 16 bits: the colour of each value a pixel can hold.
  const std::vector<std::uint32_t>& ColorsOfValues() const { return *lookup_; }

 private:
  PixelView(const TPixelRows& rows, const std::optional<raster::Surface>& colors,
            std::shared_ptr<const std::vector<std::uint32_t>> lookup)
      : rows_(rows), colors_(colors), lookup_(std::move(lookup)), lookupData_(lookup_ ? lookup_->data() : nullptr) {}

  // Each value's colour worked out once (at most 65536 of them, 256 KiB),
  // rather than a pixel at a time through the table or the masks.
  static std::shared_ptr<const std::vector<std::uint32_t>> ColorsOfValues(const raster::Surface& colors);

  TPixelRows rows_;
  std::optional<raster::Surface> colors_;
  std::shared_ptr<const std::vector<std::uint32_t>> lookup_;
  const std::uint32_t* lookupData_;
};

// Calls body with the format of a view's pixels.
template <class Body>
decltype(auto) WithFormat(const PixelView& view, Body&& body) {
  if (view.Decoded()) {
    switch (view.BitsPerPixel()) {
      case 1: return body(TLookup<1>{});
      case 4: return body(TLookup<4>{});
      case 8: return body(TLookup<8>{});
      case 16: return body(TLookup<16>{});
      default: return body(TDecoded{});
    }
  }
  if (view.BitsPerPixel() == 24) return body(TRgb24{});
  return body(TRgb32{});
}

}  // namespace bleed
}  // namespace bleedborder
