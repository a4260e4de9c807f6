#include "bleedborder/canvas/bleed_border.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/picture_colors.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/bit_deposit.h"
#include "bleedborder/core/color.h"
#include "bleedborder/core/parallel.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/raster_surface.h"
#include "bleedborder/platform/stretch_map.h"

namespace bleedborder {

void PrepareBleedBitmaps(TBitmap& source, TBitmap& work) {
  TBrush& brush = work.Canvas().Brush();
  brush.SetColor(clWhite);
  brush.SetStyle(TBrushStyle::bsSolid);
  TPen& pen = work.Canvas().Pen();
  pen.SetStyle(TPenStyle::psSolid);
  pen.SetColor(clWhite);
  work.SetUseTransparency(true);
  work.SetKeyKind(TTransparencyKind::tkAuto);
  work.SetKeyColor(clWhite);
  source.SetUseTransparency(true);
  source.SetKeyKind(TTransparencyKind::tkFixed);
  source.SetKeyColor(clWhite);
}

void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, std::int32_t inset) {
  const std::int32_t outputWidth = work.Width();
  const std::int32_t outputHeight = work.Height();
  const TRect sourceRect{0, 0, source.Width(), source.Height()};
  const TRect fullRect{0, 0, outputWidth, outputHeight};
  for (std::int32_t i = 0; i <= inset; ++i) {
    const TRect passRect{i, i, outputWidth - i, outputHeight - i};
    work.Canvas().FillArea(fullRect);
    work.Canvas().StretchCopy(passRect, source.Canvas(), sourceRect);
    composite.Canvas().PaintGraphic(0, 0, &work);
  }
  composite.Canvas().PaintGraphic(inset, inset, &source);
}

// How the direct renderer works. A composite pixel shows the picture's pixel
// where that is not white, else the sample of the highest pass that is not
// white there, else what it held. Every pass but the last enlarges (or keeps
// the size), so on an output row pass k reads one source row, and output
// column x reads source column C_k(x), with C_k non-decreasing in x.
//
// Each output row keeps a bitset of its pixels still undecided. The picture
// decides its non-white pixels; then each word of 64 columns that still holds
// an undecided pixel meets the passes from the highest down until none is
// left, its undecided bits in a register. For pass k a source row's
// non-white pixels are known as a bitset too, and C_k turns it into the
// bitset of output columns whose sample is not white: 64 columns take at
// most 64 source columns in order, so one bit deposit places the source bits
// on the first column of each source column, and a shift copies each onto the
// columns that repeat it. Those bits AND the undecided ones are the pixels
// the pass decides. A pass whose source row has no non-white pixel is left
// out of the row's list of passes, which is made as far as its words need.
//
// Cost per output row: a word per 64 columns of the picture's row and one
// sample per decided pixel; per pass, nothing when its source row is white,
// else a word of each bitset (and a bit deposit) for every 64 columns that
// still hold an undecided pixel when they meet it. So a pixel costs at most (passes + 1) / 64
// reads of each bitset, whatever the picture: 3 of each for 12 megapixels
// (189 passes). A picture that has colour in every 64 columns of every row
// while many pixels see only white through most passes comes near it: the
// slowest known is random one-pixel dots, one pixel in 64, where nearly every
// word meets every pass; then a dot every 64 columns, shifted row by row. The
// pixels no pass decides are painted white one by one at the end, or, after
// a row that left many words undecided (sparse colour), the row is filled
// with white first, a run of 16-byte stores, and they keep that. The
// shrinking last pass (Margin mod 4 = 3) costs a word per 64 undecided
// columns and a block of at most 2 x 2 source pixels per pixel it decides
// (per undecided pixel in the one word that holds the block of two columns).
//
// The picture is read as it was loaded: 24 and 32 bits directly (a 32-bit
// device bitmap, as a run-length compressed file is decoded to, too), 1 to 16
// bits through a table of each value's colour (its colour table or masks
// applied once per value), 32 bits with other masks a pixel at a time; the
// colours are those its conversion to 32 bits would give.
//
// Memory, besides the picture: its non-white bits, a bit per pixel packed
// without row padding (none for a picture narrower than 64 pixels, whose
// rows are worked out where they are read, so that rows a file claims but
// does not supply cost nothing); per pass 24 bytes per 64 output columns;
// per thread a band of output (256 KiB; a row wider than that is rendered a
// band of its columns at a time) and a bit per pixel of the band.
namespace {

// The raster operations compare and write the 24 colour bits only, with the
// fourth byte 0; so does everything here.
constexpr std::uint32_t kColorBits = 0x00FFFFFF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::int32_t kWordBits = 64;
constexpr std::uint64_t kAllBits = ~std::uint64_t{0};

constexpr std::size_t WordsFor(std::int64_t bits) { return static_cast<std::size_t>((bits + kWordBits - 1) / kWordBits); }
constexpr std::size_t Index(std::int64_t value) { return static_cast<std::size_t>(value); }

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

// The pixels of a section in device order: row 0 is the top row, whichever
// order the rows have in memory. A composite is a 32-bit BI_RGB section; a
// picture may be a 24-bit one too, read as it is, or one of 1, 4, 8, 16 or 32
// bits with a colour table or masks, read through them a pixel at a time, or
// a 32-bit device bitmap (a run-length compressed file loads as one).
class PixelView {
 public:
  enum class Depths : std::uint8_t { Only32, Any };

  // The view is read under the library lock; the pixels it shows are then
  // the caller's alone (a storage is never changed while it is shared).
  static std::optional<PixelView> Of(TBitmap& bitmap, Depths depths) {
    TLibraryHold hold;
    const TBitmapImage& image = bitmap.SharedImage();
    if (!image.SectionHandle) return depths == Depths::Any ? OfDeviceBitmap(image) : std::nullopt;
    const gdi::DIBSECTION& section = image.Section;
    if (!section.dsBm.bmBits) return std::nullopt;
    const std::int32_t bitCount = section.dsBmih.biBitCount;
    const bool plain = section.dsBmih.biCompression == gdi::BI_RGB && (bitCount == 32 || bitCount == 24);
    if (depths == Depths::Only32 && (!plain || bitCount != 32)) return std::nullopt;
    std::optional<raster::Surface> colors;
    std::shared_ptr<const std::vector<std::uint32_t>> lookup;
    if (!plain) {
      colors = PictureColorsOf(bitmap);
      if (!colors) return std::nullopt;
      if (bitCount <= 16) lookup = ColorsOfValues(*colors);
    }
    const std::int32_t width = section.dsBm.bmWidth;
    // The device reports a section's row count as a positive bmHeight; the
    // header's sign gives the row order.
    const std::int32_t height = section.dsBm.bmHeight;
    if (width <= 0 || height <= 0 || section.dsBm.bmWidthBytes < (std::int64_t{width} * bitCount + 7) / 8)
      return std::nullopt;
    return PixelView(static_cast<std::uint8_t*>(section.dsBm.bmBits), width, height, bitCount,
                     section.dsBm.bmWidthBytes, section.dsBmih.biHeight < 0, colors, std::move(lookup));
  }

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::int32_t BitsPerPixel() const { return bitsPerPixel_; }
  bool Decoded() const { return colors_.has_value(); }
  std::int64_t Stride() const { return stride_; }
  // The device row held by a row of memory, and back.
  std::int32_t DeviceRow(std::int32_t memoryRow) const { return topDown_ ? memoryRow : height_ - 1 - memoryRow; }
  const std::uint8_t* RowBytes(std::int32_t y) const { return bits_ + std::int64_t{DeviceRow(y)} * stride_; }
  // A row of a 32-bit view.
  std::uint32_t* Row(std::int32_t y) const {
    return reinterpret_cast<std::uint32_t*>(bits_ + std::int64_t{DeviceRow(y)} * stride_);
  }
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
    } else {
      return Format::Load(row + x * Format::kBytes);
    }
  }
  // For pictures of up to 16 bits: the colour of each value a pixel can hold.
  const std::vector<std::uint32_t>& ColorsOfValues() const { return *lookup_; }

 private:
  PixelView(std::uint8_t* bits, std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel,
            std::int64_t stride, bool topDown, const std::optional<raster::Surface>& colors,
            std::shared_ptr<const std::vector<std::uint32_t>> lookup)
      : bits_(bits), width_(width), height_(height), bitsPerPixel_(bitsPerPixel), stride_(stride), topDown_(topDown),
        colors_(colors), lookup_(std::move(lookup)), lookupData_(lookup_ ? lookup_->data() : nullptr) {}

  // A device bitmap's pixels are plain 32-bit colours, the very words its
  // conversion to 32 bits copies (with the fourth byte 0, which the
  // renderer ignores anyway): read as they are, no converted copy is made.
  static std::optional<PixelView> OfDeviceBitmap(const TBitmapImage& image) REQUIRES(LibraryLock) {
    const std::optional<gdi::BITMAP> pixels = gdi::DeviceBitmapPixels(image.BitmapHandle);
    if (!pixels || pixels->bmWidth <= 0 || pixels->bmHeight <= 0 ||
        pixels->bmWidthBytes < std::int64_t{pixels->bmWidth} * 4)
      return std::nullopt;
    return PixelView(static_cast<std::uint8_t*>(pixels->bmBits), pixels->bmWidth, pixels->bmHeight,
                     pixels->bmBitsPixel, pixels->bmWidthBytes, true, std::nullopt, nullptr);
  }

  // Each value's colour worked out once (at most 65536 of them, 256 KiB),
  // rather than a pixel at a time through the table or the masks.
  static std::shared_ptr<const std::vector<std::uint32_t>> ColorsOfValues(const raster::Surface& colors) {
    auto lookup = std::make_shared<std::vector<std::uint32_t>>(std::size_t{1} << colors.bitCount);
    for (std::uint32_t value = 0; value < lookup->size(); ++value) {
      const std::uint32_t native = colors.Indexed() ? value : raster::DecodeMasked(colors, value);
      (*lookup)[value] = raster::NativeColor(colors, native) & kColorBits;
    }
    return lookup;
  }

  std::uint8_t* bits_;
  std::int32_t width_;
  std::int32_t height_;
  std::int32_t bitsPerPixel_;
  std::int64_t stride_;
  bool topDown_;
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

// The geometry of one run: sizes and the passes' rectangles.
struct Geometry {
  std::int32_t sourceWidth, sourceHeight, outputWidth, outputHeight, inset;

  std::int32_t PassWidth(std::int32_t k) const { return outputWidth - 2 * k; }
  std::int32_t PassHeight(std::int32_t k) const { return outputHeight - 2 * k; }
  bool Enlarges(std::int32_t k) const { return PassWidth(k) >= sourceWidth && PassHeight(k) >= sourceHeight; }
  // Passes 0 .. inset - 1 always enlarge; the last may shrink.
  bool LastShrinks() const { return !Enlarges(inset); }
  std::int32_t HighestEnlarging() const { return LastShrinks() ? inset - 1 : inset; }
  // No margin: the one pass is the picture at its own size, under the picture.
  bool OutputIsThePicture() const {
    return inset == 0 && outputWidth == sourceWidth && outputHeight == sourceHeight;
  }
  // The highest pass that reaches output row y.
  std::int32_t TopPass(std::int32_t y) const { return std::min({y, outputHeight - 1 - y, inset}); }
  // The one source row an enlarging pass k reads for output row y.
  std::int32_t SourceRow(std::int32_t k, std::int32_t y) const {
    return raster::StretchSpan(static_cast<std::uint32_t>(sourceHeight), static_cast<std::uint32_t>(PassHeight(k)),
                               static_cast<std::uint32_t>(y - k), raster::StretchCombine::Block)
        .first;
  }

  // In 64 bits: the pass sizes of a far too large inset would not fit 32.
  bool Fits() const {
    if (inset < 0 || sourceWidth <= 0 || sourceHeight <= 0) return false;
    if (outputWidth < std::int64_t{sourceWidth} + inset || outputHeight < std::int64_t{sourceHeight} + inset)
      return false;
    const std::int64_t lastWidth = outputWidth - 2 * std::int64_t{inset};
    const std::int64_t lastHeight = outputHeight - 2 * std::int64_t{inset};
    if (lastWidth < 1 || lastHeight < 1) return false;
    // Every pass before the last enlarges: the one before it does.
    return inset == 0 || (lastWidth + 2 >= sourceWidth && lastHeight + 2 >= sourceHeight);
  }
};

// A source row's non-white bits: bit offset + x of words is column x's. The
// bits past the row's end are the next row's (or 0): callers that could take
// them for the row's own mask them off.
struct RowBits {
  const std::uint64_t* words = nullptr;
  std::uint64_t offset = 0;
  bool any = false;
};

// Bits [first, first + 64) of a row.
inline std::uint64_t Bits64(const RowBits& row, std::uint64_t first) {
  const std::uint64_t position = row.offset + first;
  const std::uint64_t* word = row.words + position / kWordBits;
  const unsigned shift = position % kWordBits;
#if defined(__SIZEOF_INT128__)
  // The two words as one 128-bit value: a double shift, and no branch for a
  // shift of 0.
  const unsigned __int128 pair = (static_cast<unsigned __int128>(word[1]) << kWordBits) | word[0];
  return static_cast<std::uint64_t>(pair >> shift);
#else
  // The second word shifted in two steps, so that a shift of 0 needs no branch.
  return (word[0] >> shift) | ((word[1] << 1) << (kWordBits - 1 - shift));
#endif
}

// The low count bits (count 0 to 64).
constexpr std::uint64_t LowBits(std::int64_t count) {
  return count >= kWordBits ? kAllBits : (std::uint64_t{1} << count) - 1;
}

// What a narrow picture's row bits are worked out into, with a word of 0
// after them for reads that take two words.
using RowScratchBits = std::array<std::uint64_t, 2>;

// The non-white pixels of the picture, a bit per pixel. The rows are packed
// one after another, a bit per pixel and no padding, so that the bits cost an
// eighth of a byte a pixel whatever the picture's shape; a row of a picture
// narrower than a word is not stored at all but worked out where it is read
// (a few pixels), so that a file claiming millions of such rows costs nothing
// here for the rows it does not supply.
class NonWhiteBits {
 public:
  NonWhiteBits(const PixelView& source, unsigned threads)
      : source_(source), width_(source.Width()), stored_(width_ >= kWordBits) {
    if (!stored_) return;
    const std::uint64_t pixels = std::uint64_t(width_) * std::uint64_t(source.Height());
    bits_.assign(WordsFor(static_cast<std::int64_t>(pixels)) + 1, 0);
    anyInRow_.assign(WordsFor(source.Height()), 0);
    // Chunks of 64 rows: each thread's rows then fill whole words of both the
    // bits and the row flags.
    ShareOut(source.Height(), kWordBits, threads, [&](std::int32_t first, std::int32_t last) {
      WithFormat(source, [&](auto format) {
        for (std::int32_t y = first; y < last; ++y) FillRow<decltype(format)>(y);
      });
    });
  }

  // Whether every row's bits are kept (and so may be held side by side).
  bool Stored() const { return stored_; }
  // Row y's bits when they are kept.
  RowBits StoredRow(std::int32_t y) const {
    return {bits_.data(), std::uint64_t(width_) * std::uint64_t(y),
            ((anyInRow_[Index(y / kWordBits)] >> (y % kWordBits)) & 1) != 0};
  }

  // Row y's bits, in scratch when they are worked out here.
  template <class Format>
  RowBits Row(std::int32_t y, RowScratchBits& scratch) const {
    if (stored_) return StoredRow(y);
    scratch = {NonWhite<Format>(source_.RowBytes(y), 0, width_), 0};
    return {scratch.data(), 0, scratch[0] != 0};
  }

 private:
  template <class Format>
  void FillRow(std::int32_t y) {
    const std::uint8_t* pixels = source_.RowBytes(y);
    const std::uint64_t rowStart = std::uint64_t(width_) * std::uint64_t(y);
    std::uint64_t any = 0;
    for (std::int32_t x0 = 0; x0 < width_; x0 += kWordBits) {
      const std::int32_t count = std::min(kWordBits, width_ - x0);
      std::uint64_t word;
      if constexpr (std::is_same_v<Format, TRgb32>) {
        word = count == kWordBits ? NonWhite64(pixels + std::int64_t{x0} * Format::kBytes)
                                  : NonWhite<Format>(pixels, x0, count);
      } else if constexpr (std::is_same_v<Format, TRgb24>) {
        // Widened first: four pixels a compare from there.
        std::uint32_t wide[kWordBits];
        raster::Widen24To32(pixels + std::int64_t{x0} * Format::kBytes, wide, count);
        const auto* wideBytes = reinterpret_cast<const std::uint8_t*>(wide);
        word = count == kWordBits ? NonWhite64(wideBytes) : NonWhite<TRgb32>(wideBytes, 0, count);
      } else {
        if constexpr (std::is_same_v<Format, TLookup<1>>) {
          word = NonWhite1Bit(pixels, x0, count);
        } else {
          word = NonWhite<Format>(pixels, x0, count);
        }
      }
      Place(rowStart + std::uint64_t(x0), word);
      any |= word;
    }
    if (any != 0) anyInRow_[Index(y / kWordBits)] |= std::uint64_t{1} << (y % kWordBits);
  }

  // ORs word into the bits from position on: each bit is set once, from 0.
  // The next word is touched only for bits of word that reach it: it may
  // start another thread's rows.
  void Place(std::uint64_t position, std::uint64_t word) {
    const std::size_t index = Index(static_cast<std::int64_t>(position / kWordBits));
    const unsigned shift = position % kWordBits;
    bits_[index] |= word << shift;
    const std::uint64_t spill = shift != 0 ? word >> (kWordBits - shift) : 0;
    if (spill != 0) bits_[index + 1] |= spill;
  }

  // Pixels [first, first + count) of a 1-bit row, first a multiple of 8: a
  // byte of the row at a time, its bits (first pixel highest) reversed, and
  // each value's bits kept when its colour is not white.
  std::uint64_t NonWhite1Bit(const std::uint8_t* row, std::int32_t first, std::int32_t count) const {
    static constexpr std::array<std::uint8_t, 256> kReversed = [] {
      std::array<std::uint8_t, 256> reversed{};
      for (unsigned b = 0; b < 256; ++b)
        for (unsigned i = 0; i < 8; ++i)
          if (b & (1u << i)) reversed[b] = static_cast<std::uint8_t>(reversed[b] | (0x80u >> i));
      return reversed;
    }();
    const std::uint8_t* bytes = row + first / 8;
    std::uint64_t ones = 0;
    for (std::int32_t i = 0; i < (count + 7) / 8; ++i) ones |= std::uint64_t{kReversed[bytes[i]]} << (8 * i);
    const std::vector<std::uint32_t>& colors = source_.ColorsOfValues();
    const std::uint64_t oneShows = colors[1] != kWhite ? kAllBits : 0, zeroShows = colors[0] != kWhite ? kAllBits : 0;
    return ((ones & oneShows) | (~ones & zeroShows)) & LowBits(count);
  }

  // Pixels [first, first + count) of a row.
  template <class Format>
  std::uint64_t NonWhite(const std::uint8_t* row, std::int32_t first, std::int32_t count) const {
    std::uint64_t word = 0;
    for (std::int32_t i = 0; i < count; ++i) word |= std::uint64_t{source_.At<Format>(row, first + i) != kWhite} << i;
    return word;
  }

#if defined(__SSE2__)
  // Four 32-bit pixels per compare: with the fourth byte set, white is all ones.
  static std::uint64_t NonWhite64(const std::uint8_t* pixels) {
    const __m128i fourth = _mm_set1_epi32(static_cast<int>(~kColorBits));
    const __m128i ones = _mm_set1_epi32(-1);
    std::uint64_t white = 0;
    for (int i = 0; i < kWordBits; i += 4) {
      const __m128i quad = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * i));
      const __m128i isWhite = _mm_cmpeq_epi32(_mm_or_si128(quad, fourth), ones);
      white |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_castsi128_ps(isWhite))) << i;
    }
    return ~white;
  }
#else
  std::uint64_t NonWhite64(const std::uint8_t* pixels) const { return NonWhite<TRgb32>(pixels, 0, kWordBits); }
#endif

  PixelView source_;
  std::int32_t width_;
  bool stored_;
  std::vector<std::uint64_t> bits_;
  // A bit per row: whether it holds any non-white pixel.
  std::vector<std::uint64_t> anyInRow_;
};

// Calls column(i, first, count) for each position i = 0 .. d - 1 of a run
// of d positions stretched from s, with the source span the raster device
// takes for it (block spans when shrinking), in order. Stepped along without a
// division per position, and without a table a position: a row may be
// millions of pixels long.
template <class Column>
void ForEachColumnSpan(std::uint32_t s, std::uint32_t d, Column column) {
  const std::uint64_t twiceS = 2 * std::uint64_t{s}, twiceD = 2 * std::uint64_t{d};
  if (d >= s) {
    // Position i takes the source column under its centre, (2i + 1)s / 2d.
    std::uint64_t centre = 0, remainder = s;
    for (std::uint32_t i = 0; i < d; ++i) {
      column(i, static_cast<std::int32_t>(centre), 1);
      remainder += twiceS;
      if (remainder >= twiceD) {
        remainder -= twiceD;
        ++centre;
      }
    }
    return;
  }
  // Source column j lands on position (2j + 1)d / 2s; a position's block is
  // the run of columns that land on it.
  std::uint64_t position = 0, remainder = d;
  std::uint32_t blockFirst = 0;
  for (std::uint32_t j = 0; j < s; ++j) {
    remainder += twiceD;
    const bool nextMoves = remainder >= twiceS;
    if (nextMoves) remainder -= twiceS;
    if (nextMoves || j + 1 == s) {
      column(static_cast<std::uint32_t>(position), static_cast<std::int32_t>(blockFirst),
             static_cast<std::int32_t>(j + 1 - blockFirst));
      ++position;
      blockFirst = j + 1;
    }
  }
}

// For 64 output columns of an enlarging pass: the source column of the first
// column the pass reaches, the columns that take a new source column (the
// first one included) and those that repeat their left neighbour's.
struct ColumnWord {
  std::uint64_t starts = 0;
  std::uint64_t repeats = 0;
  std::uint32_t firstSource = 0;
};

// Every enlarging pass's columns, an entry per pass and per 64 output columns,
// the passes of one word side by side: a word meets the passes in turn and so
// reads its entries in order. A pass's entry for a word it does not reach is
// empty, and paints nothing there.
class PassColumnTable {
 public:
  PassColumnTable(const Geometry& g, unsigned threads)
      : passes_(Index(std::max(g.HighestEnlarging() + 1, 0))) {
    const std::size_t entries = WordsFor(g.outputWidth) * passes_;
    words_.resize(entries);
    std::vector<std::int32_t> longest(passes_, 0);
    ShareOut(static_cast<std::int32_t>(passes_), 4, threads, [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t k = first; k < last; ++k) longest[Index(k)] = FillPass(g, k);
    });
    for (const std::int32_t repeat : longest) longestRepeat_ = std::max(longestRepeat_, repeat);
  }

  // Word w's entries, pass 0 first.
  const ColumnWord* Entries(std::int64_t w) const { return words_.data() + Index(w) * passes_; }
  // The longest run of repeating columns in one word: the shifts needed.
  std::int32_t LongestRepeat() const { return longestRepeat_; }

 private:
  // Pass k's entries; gives its longest run of repeating columns.
  std::int32_t FillPass(const Geometry& g, std::int32_t k) {
    const std::int64_t begin = k;
    std::int32_t longestRepeat = 0, repeatRun = 0, previous = -1;
    ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                      [&](std::uint32_t i, std::int32_t column, std::int32_t) {
                        const std::int64_t x = begin + i;
                        const std::size_t entry = Index(x / kWordBits) * passes_ + Index(k);
                        ColumnWord& word = words_[entry];
                        const std::uint64_t bit = std::uint64_t{1} << (x % kWordBits);
                        const bool opensWord = x == begin || x % kWordBits == 0;
                        if (opensWord) word.firstSource = static_cast<std::uint32_t>(column);
                        if (opensWord || column != previous) {
                          word.starts |= bit;
                          repeatRun = 0;
                        } else {
                          word.repeats |= bit;
                          longestRepeat = std::max(longestRepeat, ++repeatRun);
                        }
                        previous = column;
                      });
    return longestRepeat;
  }

  std::size_t passes_;
  std::vector<ColumnWord> words_;
  std::int32_t longestRepeat_ = 0;
};

// The shrinking last pass (shrinking on one axis at least; the other may
// enlarge): per 64 output columns whether each takes one source column, the
// next after its left neighbour's (then the columns' bits are a plain run of
// source bits), and the source column of the word's first column. A plain
// run's spans follow from its first column; the other words' (those with a
// block of columns or a repeated column: a few in a row) are kept, up to a
// bound, and worked out where they are needed past it.
struct ShrinkingPass {
  static constexpr std::size_t kMostKeptWords = 256;
  std::int64_t begin = 0, end = 0;        // the output columns it reaches
  std::vector<std::int32_t> firstSource;  // per word: the first column's source
  std::vector<char> plainRun;             // per word
  std::vector<std::int32_t> keptSpans;    // per word: its index in spans, or -1
  std::vector<std::array<raster::SourceSpan, kWordBits>> spans;
};

ShrinkingPass ShrinkingPassOf(const Geometry& g) {
  const std::int32_t k = g.inset;
  ShrinkingPass pass;
  pass.begin = k;
  pass.end = pass.begin + g.PassWidth(k);
  pass.firstSource.assign(WordsFor(g.outputWidth), 0);
  pass.plainRun.assign(WordsFor(g.outputWidth), 1);
  std::int32_t previous = -1;
  ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                    [&](std::uint32_t i, std::int32_t first, std::int32_t count) {
                      const std::int64_t x = pass.begin + i;
                      const std::size_t w = Index(x / kWordBits);
                      const bool opensWord = i == 0 || x % kWordBits == 0;
                      if (opensWord) pass.firstSource[w] = first - static_cast<std::int32_t>(x % kWordBits);
                      const bool next = opensWord || first == previous + 1;
                      if (count != 1 || !next) pass.plainRun[w] = 0;
                      previous = first;
                    });
  pass.keptSpans.assign(pass.plainRun.size(), -1);
  for (std::size_t w = 0; w < pass.plainRun.size() && pass.spans.size() < ShrinkingPass::kMostKeptWords; ++w) {
    if (pass.plainRun[w]) continue;
    pass.keptSpans[w] = static_cast<std::int32_t>(pass.spans.size());
    pass.spans.emplace_back();
  }
  if (pass.spans.empty()) return pass;
  ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                    [&](std::uint32_t i, std::int32_t first, std::int32_t count) {
                      const std::int64_t x = pass.begin + i;
                      const std::int32_t kept = pass.keptSpans[Index(x / kWordBits)];
                      if (kept >= 0) pass.spans[Index(kept)][Index(x % kWordBits)] = {first, count};
                    });
  return pass;
}

// The pixels of a window of one output row that nothing has painted yet, a
// bit each, and the indexes of the words that still hold any, in order. The
// window starts on a word; a row wider than a band is rendered a window at a
// time, so that this costs a band's width, not a row's.
class UndecidedRow {
 public:
  explicit UndecidedRow(std::int64_t widestWindow) : words_(WordsFor(widestWindow) + 1) {
    live_.reserve(words_.size());
  }

  // Makes the columns [first, end) undecided; first is a multiple of 64.
  void Reset(std::int64_t first, std::int64_t end) {
    first_ = first;
    end_ = end;
    firstWord_ = first / kWordBits;
    const std::size_t count = WordsFor(end) - Index(firstWord_);
    std::fill(words_.begin(), words_.begin() + static_cast<std::ptrdiff_t>(count), kAllBits);
    const auto tail = static_cast<unsigned>(end % kWordBits);
    if (tail != 0) words_[count - 1] = (std::uint64_t{1} << tail) - 1;
    wordCount_ = count;
  }
  std::int64_t First() const { return first_; }
  std::int64_t End() const { return end_; }
  std::int64_t FirstWord() const { return firstWord_; }
  std::int64_t EndWord() const { return firstWord_ + static_cast<std::int64_t>(wordCount_); }
  // Word w of the row (within the window).
  std::uint64_t& Word(std::size_t w) { return words_[w - Index(firstWord_)]; }
  // The window's words, word FirstWord() first.
  std::uint64_t* Words() { return words_.data(); }
  // Decides pixel x, if it is in the window and still undecided: true when it was.
  bool Decide(std::int64_t x) {
    if (x < first_ || x >= end_) return false;
    std::uint64_t& word = Word(Index(x / kWordBits));
    const std::uint64_t bit = std::uint64_t{1} << (x % kWordBits);
    const bool open = (word & bit) != 0;
    word &= ~bit;
    return open;
  }
  // Lists the words holding undecided pixels; after each step that decides some.
  void Relist() {
    live_.clear();
    for (std::size_t i = 0; i < wordCount_; ++i)
      if (words_[i] != 0) live_.push_back(static_cast<std::int32_t>(firstWord_ + static_cast<std::int64_t>(i)));
  }
  void DropEmpty() {
    live_.erase(std::remove_if(live_.begin(), live_.end(), [&](std::int32_t w) { return Word(Index(w)) == 0; }),
                live_.end());
  }
  const std::vector<std::int32_t>& Live() const { return live_; }
  bool Done() const { return live_.empty(); }

 private:
  std::int64_t first_ = 0, end_ = 0, firstWord_ = 0;
  std::size_t wordCount_ = 0;
  std::vector<std::uint64_t> words_;
  std::vector<std::int32_t> live_;
};

// The bit count, inline: without a processor instruction to rely on, the
// standard one is a library call.
constexpr int CountBits(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555u);
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

struct TPortableCount {
  int operator()(std::uint64_t v) const { return CountBits(v); }
};
#if defined(BLEED_HARDWARE_DEPOSIT)
// The processor's instruction once inlined into a function compiled for it
// (elsewhere a library call).
struct THardwareCount {
  int operator()(std::uint64_t v) const { return __builtin_popcountll(v); }
};
#endif

bool HasHardwareDepositAndCount() {
#if defined(BLEED_HARDWARE_DEPOSIT)
  return HasHardwareDeposit() && __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

// An enlarging pass as an output row meets it: the source row it reads there.
struct PassStep {
  std::int32_t k;
  RowBits bits;
  const std::uint8_t* sourceRow;
};

// The passes an output row meets, highest first, listed a few at a time as
// its words reach them; those whose source row is white are left out.
class PassSteps {
  static constexpr std::size_t kListedAtOnce = 8;

 public:
  // narrowRows: where the bits of a narrow picture's rows are worked out,
  // room for a row per pass reserved (the steps point into it).
  PassSteps(std::vector<PassStep>& steps, std::vector<RowScratchBits>& narrowRows, std::int32_t top,
            const std::int32_t* sourceRows, const NonWhiteBits& nonWhite, const PixelView& source)
      : steps_(steps), narrowRows_(narrowRows), k_(top), sourceRows_(sourceRows), nonWhite_(nonWhite),
        source_(source) {
    steps_.clear();
    narrowRows_.clear();
  }
  std::size_t Listed() const { return steps_.size(); }
  const PassStep* First() const { return steps_.data(); }
  // Lists a few more passes; false when none is left.
  template <class Format>
  bool ListMore() {
    const std::size_t before = steps_.size();
    for (; k_ >= 0 && steps_.size() < before + kListedAtOnce; --k_) {
      const std::int32_t y = sourceRows_[k_];
      const RowBits bits = nonWhite_.Stored() ? nonWhite_.StoredRow(y) : NarrowRow<Format>(y);
      if (bits.any) steps_.push_back({k_, bits, source_.RowBytes(y)});
    }
    return steps_.size() > before;
  }

 private:
  template <class Format>
  RowBits NarrowRow(std::int32_t y) {
    const RowBits bits = nonWhite_.Row<Format>(y, narrowRows_.emplace_back());
    if (!bits.any) narrowRows_.pop_back();
    return bits;
  }

  std::vector<PassStep>& steps_;
  std::vector<RowScratchBits>& narrowRows_;
  std::int32_t k_;
  const std::int32_t* sourceRows_;
  const NonWhiteBits& nonWhite_;
  const PixelView& source_;
};

class BleedRenderer {
 public:
  // What a thread renders rows with; widestWindow: the most columns of a row
  // it renders at once.
  class RowScratch {
   public:
    RowScratch(const Geometry& g, std::int64_t widestWindow)
        : undecided(widestWindow), blockBits(g.LastShrinks() ? WordsFor(g.sourceWidth) + 1 : 0),
          sourceRows(Index(std::max(g.HighestEnlarging() + 1, 0))) {
      narrowRows.reserve(sourceRows.size());
    }

   private:
    friend class BleedRenderer;
    UndecidedRow undecided;
    // The shrinking pass's block rows: their non-white bits ORed, and their pixels.
    std::vector<std::uint64_t> blockBits;
    std::vector<const std::uint8_t*> blockLines;
    // The source row each enlarging pass reads for the row being rendered.
    std::vector<std::int32_t> sourceRows;
    // The passes of the row being rendered that read a source row with colour,
    // and a narrow picture's bits of those rows.
    std::vector<PassStep> steps;
    std::vector<RowScratchBits> narrowRows;
    RowScratchBits rowBits{};
    // Whether the next row starts white (see RenderRowIn).
    bool whiteFirst = false;
  };

  BleedRenderer(const PixelView& source, const Geometry& geometry, TBleedOptions options, unsigned threads)
      : source_(source), g_(geometry), options_(options), threads_(threads), nonWhite_(source, threads),
        columns_(g_, threads), hardwareDeposit_(HasHardwareDepositAndCount()) {
    if (g_.LastShrinks()) shrinking_ = ShrinkingPassOf(g_);
  }

  const Geometry& Sizes() const { return g_; }
  unsigned Threads() const { return threads_; }

  // Every row of a 32-bit composite of the output's size.
  void Render(const PixelView& composite) const {
    ShareOut(g_.outputHeight, 16, threads_, [&](std::int32_t first, std::int32_t last) {
      RowScratch scratch(g_, g_.outputWidth);
      for (std::int32_t y = first; y < last; ++y) RenderRow(y, 0, g_.outputWidth, composite.Row(y), scratch);
    });
  }

  // Columns [first, end) of output row y into out (end - first pixels);
  // first is a multiple of 64.
  void RenderRow(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out,
                 RowScratch& scratch) const {
    WithFormat(source_, [&](auto format) { RenderRowIn<decltype(format)>(y, first, end, out, scratch); });
  }

 private:
  template <class Format>
  void RenderRowIn(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out,
                   RowScratch& scratch) const {
    if (g_.OutputIsThePicture()) return CopyPictureRow<Format>(y, first, end, out);
    UndecidedRow& undecided = scratch.undecided;
    undecided.Reset(first, end);
    // White first where the thread's last row left a quarter of its words or
    // more undecided (sparse colour): a run of stores, which the pixels
    // nothing decides keep, costs less than painting them one by one at the
    // end. The picture's own white pixels, written as they are, are the same
    // white (fourth byte 0).
    const bool paintsWhite = options_.unpainted == TUnpaintedPixels::White;
    const bool whiteFirst = paintsWhite && scratch.whiteFirst;
    if (whiteFirst) FillWhite(out, end - first);
    const std::int32_t pictureY = y - g_.inset;
    if (pictureY >= 0 && pictureY < g_.sourceHeight) DrawPictureRow<Format>(pictureY, out, scratch);
    // Each a division: worked out once for the ends and the passes.
    std::int32_t k = g_.TopPass(y);
    const std::int32_t highestHere = std::min(k, g_.HighestEnlarging());
    std::int32_t* sourceRows = scratch.sourceRows.data();
    for (std::int32_t pass = 0; pass <= highestHere; ++pass) sourceRows[pass] = g_.SourceRow(pass, y);
    DrawSpanEnds<Format>(highestHere, sourceRows, out, undecided);
    undecided.Relist();
    if (k == g_.inset && g_.LastShrinks()) {
      if (!undecided.Done() && DrawShrinkingPass<Format>(y, out, scratch)) undecided.DropEmpty();
      --k;
    }
    if (k >= 0 && !undecided.Done()) DrawPassesWordByWord<Format>(k, sourceRows, out, scratch);
    if (!paintsWhite) return;
    if (!whiteFirst && !undecided.Done()) PaintWhite(out, undecided);
    scratch.whiteFirst = undecided.Live().size() * 4 >= WordsFor(end) - Index(undecided.FirstWord());
  }

  // A row of an output without a margin: every pixel shows the picture's own
  // where it is not white, and the one pass's sample of that same pixel (so
  // white) where it is; no bits, no passes. A shape that is a row or a
  // column of pixels pays this per row, not the passes' set-up.
  template <class Format>
  void CopyPictureRow(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out) const {
    const std::uint8_t* pixels = source_.RowBytes(y);
    if (options_.unpainted == TUnpaintedPixels::White) {
      if constexpr (Format::kBytes == TRgb24::kBytes) {
        raster::Widen24To32(pixels + first * Format::kBytes, out, static_cast<std::int32_t>(end - first));
        return;
      }
      for (std::int64_t x = first; x < end; ++x) out[x - first] = source_.At<Format>(pixels, x);
      return;
    }
    for (std::int64_t x = first; x < end; ++x) {
      const std::uint32_t pixel = source_.At<Format>(pixels, x);
      if (pixel != kWhite) out[x - first] = pixel;
    }
  }

  // The picture's non-white pixels over everything, word by word of the
  // window's output columns.
  template <class Format>
  void DrawPictureRow(std::int32_t pictureY, std::uint32_t* out, RowScratch& scratch) const {
    UndecidedRow& undecided = scratch.undecided;
    const RowBits bits = nonWhite_.Row<Format>(pictureY, scratch.rowBits);
    if (!bits.any) return;
    const std::uint8_t* pixels = source_.RowBytes(pictureY);
    const std::int64_t pictureBegin = g_.inset, pictureEnd = pictureBegin + g_.sourceWidth;
    const std::int64_t firstWord = std::max(undecided.FirstWord(), pictureBegin / kWordBits);
    const std::int64_t endWord = std::min(undecided.EndWord(), static_cast<std::int64_t>(WordsFor(pictureEnd)));
    const bool keepsUnpainted = options_.unpainted == TUnpaintedPixels::Keep;
    for (std::int64_t w = firstWord; w < endWord; ++w) {
      const std::int64_t x0 = w * kWordBits;
      // The picture's columns under this word start at p0 (negative: before it).
      const std::int64_t p0 = x0 - pictureBegin;
      std::uint64_t& open = undecided.Word(Index(w));
      const std::uint64_t word = PictureWord(bits, p0) & open;
      if (word == 0) continue;
      open &= ~word;
      std::uint32_t* row = out + (x0 - undecided.First());
      if (CountBits(word) >= kWordBits / 4) {
        // Dense: one pass over the word's pixels without a branch on colour
        // (this row is this thread's alone). The white ones stay undecided,
        // so they may take anything here when a pass or the white paints
        // them later; only pixels kept as they were must keep what they hold.
        const std::int64_t lo = std::max<std::int64_t>(0, -p0);
        const std::int64_t hi = std::min<std::int64_t>({kWordBits, g_.sourceWidth - p0, undecided.End() - x0});
        if constexpr (Format::kBytes == TRgb24::kBytes) {
          if (!keepsUnpainted) {
            raster::Widen24To32(pixels + (p0 + lo) * Format::kBytes, row + lo, static_cast<std::int32_t>(hi - lo));
            continue;
          }
        }
        if (keepsUnpainted) {
          for (std::int64_t i = lo; i < hi; ++i) {
            const std::uint32_t pixel = source_.At<Format>(pixels, p0 + i);
            row[i] = pixel != kWhite ? pixel : row[i];
          }
        } else {
          for (std::int64_t i = lo; i < hi; ++i) row[i] = source_.At<Format>(pixels, p0 + i);
        }
        continue;
      }
      for (std::uint64_t rest = word; rest != 0; rest &= rest - 1) {
        const int bit = std::countr_zero(rest);
        row[bit] = source_.At<Format>(pixels, p0 + bit);
      }
    }
  }

  // The picture row's non-white bits for the 64 columns from p0, which may
  // start before the picture: the columns outside it are 0.
  std::uint64_t PictureWord(const RowBits& bits, std::int64_t p0) const {
    const std::int64_t from = std::max<std::int64_t>(p0, 0);
    if (from >= g_.sourceWidth) return 0;
    const std::uint64_t word = Bits64(bits, static_cast<std::uint64_t>(from)) & LowBits(g_.sourceWidth - from);
    return word << (from - p0);
  }

  // The ends of the enlarging passes' spans on row y. Pass x is the highest
  // pass that reaches the x-th pixel from either end of the row (when it
  // reaches the row at all), and its span's first and last pixels sample the
  // picture's first and last columns. So those pixels are decided here, a
  // sample each, by the passes that would decide them: on a picture whose
  // edges have colour (a photograph) that is the whole margin beside it,
  // where the passes would each visit a word or two to decide two pixels.
  // highestHere: the highest enlarging pass that reaches the row;
  // sourceRows: the source row of each.
  template <class Format>
  void DrawSpanEnds(std::int32_t highestHere, const std::int32_t* sourceRows, std::uint32_t* out,
                    UndecidedRow& undecided) const {
    const std::int32_t ends = std::min(highestHere, (g_.outputWidth - 1) / 2) + 1;
    const std::int32_t lastColumn = g_.sourceWidth - 1;
    const std::int64_t first = undecided.First();
    for (std::int32_t x = 0; x < ends; ++x) {
      const std::uint8_t* row = source_.RowBytes(sourceRows[x]);
      const std::uint32_t left = source_.At<Format>(row, 0), right = source_.At<Format>(row, lastColumn);
      const std::int64_t rightX = g_.outputWidth - 1 - x;
      if (left != kWhite && undecided.Decide(x)) out[x - first] = left;
      if (right != kWhite && undecided.Decide(rightX)) out[rightX - first] = right;
    }
  }

  // Enlarging passes top down to 0 over an output row, a word of undecided
  // pixels at a time: each word meets the passes in order until its last
  // pixel is decided, its undecided bits held in a register, and leaves the
  // rest untried. The passes are listed as the words reach them, those whose
  // source row is white left out, so that a row whose words are all decided
  // by the first few passes costs no more.
  template <class Format>
  void DrawPassesWordByWord(std::int32_t top, const std::int32_t* sourceRows, std::uint32_t* out,
                            RowScratch& scratch) const {
    PassSteps steps(scratch.steps, scratch.narrowRows, top, sourceRows, nonWhite_, source_);
#if defined(BLEED_HARDWARE_DEPOSIT)
    if (hardwareDeposit_) return SweepWordsWithHardwareDeposit<Format>(steps, out, scratch.undecided);
#endif
    SweepWordsIn<Format>(steps, out, scratch.undecided, TPortableDeposit{}, TPortableCount{});
  }

#if defined(BLEED_HARDWARE_DEPOSIT)
  // The same loop compiled for BMI2, so that the deposit and the bit count
  // are an instruction each.
  template <class Format>
  [[gnu::target("bmi2,popcnt")]] void SweepWordsWithHardwareDeposit(PassSteps& steps, std::uint32_t* out,
                                                                    UndecidedRow& undecided) const {
    SweepWordsIn<Format>(steps, out, undecided, THardwareDeposit{}, THardwareCount{});
  }
#endif

  // The loop compiled twice: the command's passes never repeat a column on
  // more than one neighbour, and skip the test for it.
  template <class Format, class Deposit, class Count>
  [[gnu::always_inline]] void SweepWordsIn(PassSteps& steps, std::uint32_t* out, UndecidedRow& undecided,
                                           Deposit deposit, Count count) const {
    if (columns_.LongestRepeat() > 1) return SweepWords<Format, true>(steps, out, undecided, deposit, count);
    SweepWords<Format, false>(steps, out, undecided, deposit, count);
  }

  template <class Format, bool RepeatsTwice, class Deposit, class Count>
  [[gnu::always_inline]] void SweepWords(PassSteps& steps, std::uint32_t* out, UndecidedRow& undecided,
                                         Deposit deposit, Count count) const {
    std::uint64_t* const openWords = undecided.Words();
    const auto openFirst = Index(undecided.FirstWord());
    const std::int64_t windowFirst = undecided.First();
    for (const std::int32_t w : undecided.Live()) {
      std::uint64_t open = openWords[Index(w) - openFirst];
      std::uint32_t* const pixels = out + (std::int64_t{w} * kWordBits - windowFirst);
      std::size_t met = 0;
      while (open != 0 && (met < steps.Listed() || steps.template ListMore<Format>()))
        met = MeetListedSteps<Format, RepeatsTwice>(steps, met, w, open, pixels, deposit, count);
      openWords[Index(w) - openFirst] = open;
    }
    undecided.DropEmpty();
  }

  // Word w meets the listed passes from the met-th on, until its last
  // undecided pixel (in open) is decided; gives the passes it has met.
  template <class Format, bool RepeatsTwice, class Deposit, class Count>
  [[gnu::always_inline]] std::size_t MeetListedSteps(const PassSteps& steps, std::size_t met, std::int32_t w,
                                                     std::uint64_t& open, std::uint32_t* pixels, Deposit deposit,
                                                     Count count) const {
    const PassStep* const listed = steps.First();
    const PassStep* const end = listed + steps.Listed();
    const PassStep* step = listed + met;
    const ColumnWord* const entries = columns_.Entries(w);
    // A local copy: the pixel stores below could otherwise alias it.
    std::uint64_t undecided = open;
    for (; step != end; ++step) {
      const ColumnWord& columns = entries[step->k];
      // Only the bits of the source columns the word takes are deposited:
      // the rest (past the row's end, say) do not count.
      std::uint64_t painted = deposit(Bits64(step->bits, columns.firstSource), columns.starts);
      painted |= (painted << 1) & columns.repeats;
      if constexpr (RepeatsTwice) painted = RepeatFurther(painted, columns.repeats, columns_.LongestRepeat());
      const std::uint64_t hits = painted & undecided;
      if (hits == 0) continue;
      undecided &= ~hits;
      for (std::uint64_t rest = hits; rest != 0; rest &= rest - 1) {
        const int bit = std::countr_zero(rest);
        const std::uint32_t offset = SourceOffset(columns, bit, count);
        pixels[bit] = source_.At<Format>(step->sourceRow, std::int64_t{columns.firstSource} + offset);
      }
      if (undecided == 0) break;
    }
    open = undecided;
    return static_cast<std::size_t>(step - listed);
  }

  // The source column of bit within a word, as an offset from the word's
  // first: the columns that start a source column up to it, less one.
  template <class Count>
  [[gnu::always_inline]] static std::uint32_t SourceOffset(const ColumnWord& columns, int bit, Count count) {
    return static_cast<std::uint32_t>(count(columns.starts & (kAllBits >> (kWordBits - 1 - bit)))) - 1;
  }

  // Passes that enlarge more than twice (never the command's) repeat a
  // column on more than one neighbour: one shift more per repeat.
  static std::uint64_t RepeatFurther(std::uint64_t painted, std::uint64_t repeats, std::int32_t longestRepeat) {
    for (std::int32_t r = 1; r < longestRepeat; ++r) painted |= (painted << 1) & repeats;
    return painted;
  }

  // The source columns the shrinking pass combines for column bit of word w
  // (starting at column x0), which it reaches.
  raster::SourceSpan ShrinkingSpan(std::size_t w, std::int64_t x0, int bit) const {
    if (shrinking_.plainRun[w]) return {shrinking_.firstSource[w] + bit, 1};
    const std::int32_t kept = shrinking_.keptSpans[w];
    if (kept >= 0) return shrinking_.spans[Index(kept)][Index(bit)];
    return ShrinkingColumns(x0 + bit);
  }

  // The source columns the shrinking pass combines for output column x.
  raster::SourceSpan ShrinkingColumns(std::int64_t x) const {
    return raster::StretchSpan(static_cast<std::uint32_t>(g_.sourceWidth), static_cast<std::uint32_t>(g_.PassWidth(g_.inset)),
                               static_cast<std::uint32_t>(x - g_.inset), raster::StretchCombine::Block);
  }

  // The shrinking last pass over output row y: an undecided pixel takes the
  // AND of its source block unless that is white, which it is only when every
  // pixel of the block is white. So the block rows' non-white bits, ORed,
  // tell which pixels the pass decides. True when it decides the last
  // undecided pixel of a word.
  template <class Format>
  bool DrawShrinkingPass(std::int32_t y, std::uint32_t* out, RowScratch& scratch) const {
    UndecidedRow& undecided = scratch.undecided;
    const std::int64_t rowOffset = std::int64_t{y} - g_.inset;
    if (rowOffset < 0 || rowOffset >= g_.PassHeight(g_.inset)) return false;
    const raster::SourceSpan rows =
        raster::StretchSpan(static_cast<std::uint32_t>(g_.sourceHeight), static_cast<std::uint32_t>(g_.PassHeight(g_.inset)),
                            static_cast<std::uint32_t>(rowOffset), raster::StretchCombine::Block);
    // The window's columns the pass reaches, and the block bits their
    // source columns need (a word before and after, for shifted reads).
    const std::int64_t lo = std::max(undecided.First(), shrinking_.begin);
    const std::int64_t hi = std::min(undecided.End(), shrinking_.end);
    if (lo >= hi) return false;
    const raster::SourceSpan lastColumns = ShrinkingColumns(hi - 1);
    const std::int64_t sourceLo = ShrinkingColumns(lo).first, sourceHi = lastColumns.first + lastColumns.count;
    std::vector<std::uint64_t>& blockBits = scratch.blockBits;
    const std::size_t wordLo = Index(std::max<std::int64_t>(sourceLo - kWordBits, 0) / kWordBits);
    const std::size_t wordHi = std::min(blockBits.size(), WordsFor(sourceHi) + 1);
    std::fill(blockBits.begin() + static_cast<std::ptrdiff_t>(wordLo), blockBits.begin() + static_cast<std::ptrdiff_t>(wordHi), 0);
    std::vector<const std::uint8_t*>& lines = scratch.blockLines;
    lines.clear();
    for (std::int32_t row = rows.first; row < rows.first + rows.count; ++row) {
      const RowBits bits = nonWhite_.Row<Format>(row, scratch.rowBits);
      for (std::size_t i = wordLo; i < wordHi; ++i) {
        const std::int64_t x = static_cast<std::int64_t>(i) * kWordBits;
        if (x < g_.sourceWidth) blockBits[i] |= Bits64(bits, static_cast<std::uint64_t>(x)) & LowBits(g_.sourceWidth - x);
      }
      lines.push_back(source_.RowBytes(row));
    }
    const RowBits block{blockBits.data(), 0, true};
    bool emptied = false;
    for (const std::int32_t word : undecided.Live()) {
      const auto w = Index(word);
      const std::int64_t x0 = std::int64_t{word} * kWordBits;
      if (x0 + kWordBits <= lo || x0 >= hi) continue;
      std::uint64_t& openBits = undecided.Word(w);
      std::uint64_t candidates = openBits & SpanBits(x0, lo, hi);
      // A plain run of source columns: their non-white bits are the
      // candidates' directly; else each candidate's block is looked at.
      if (shrinking_.plainRun[w]) candidates &= ShiftedBits(block, shrinking_.firstSource[w]);
      for (std::uint64_t rest = candidates; rest != 0; rest &= rest - 1) {
        const int bit = std::countr_zero(rest);
        const std::uint32_t sample = BlockAnd<Format>(lines, ShrinkingSpan(w, x0, bit));
        if (sample == kWhite) continue;
        out[x0 + bit - undecided.First()] = sample;
        openBits &= ~(std::uint64_t{1} << bit);
      }
      emptied = emptied || openBits == 0;
    }
    return emptied;
  }

  // The bits of [begin, end) within the word starting at x0.
  static std::uint64_t SpanBits(std::int64_t x0, std::int64_t begin, std::int64_t end) {
    const std::int64_t low = std::max<std::int64_t>(begin - x0, 0), high = std::min<std::int64_t>(end - x0, kWordBits);
    if (low >= high) return 0;
    return LowBits(high) & ~LowBits(low);
  }

  // 64 bits of the block bits starting at first, which may lie before the
  // row (those bits are 0).
  static std::uint64_t ShiftedBits(const RowBits& bits, std::int64_t first) {
    if (first >= 0) return Bits64(bits, static_cast<std::uint64_t>(first));
    return first <= -kWordBits ? 0 : bits.words[0] << (-first);
  }

  // The AND of a block: the source rows' pixels (lines) in the columns given.
  template <class Format>
  std::uint32_t BlockAnd(const std::vector<const std::uint8_t*>& lines, raster::SourceSpan columns) const {
    if (lines.size() == 1 && columns.count == 1) return source_.At<Format>(lines[0], columns.first);
    std::uint32_t value = kWhite;
    for (const std::uint8_t* line : lines)
      for (std::int32_t column = columns.first; column < columns.first + columns.count; ++column)
        value &= source_.At<Format>(line, column);
    return value;
  }

  // count pixels of white: 32 a step in 16-byte stores where the processor has them.
  static void FillWhite(std::uint32_t* out, std::int64_t count) {
    std::int64_t i = 0;
#if defined(__SSE2__)
    const __m128i white = _mm_set1_epi32(static_cast<int>(kWhite));
    for (; i + 32 <= count; i += 32)
      for (int quad = 0; quad < 32; quad += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + quad), white);
#endif
    std::fill(out + i, out + count, kWhite);
  }

  // The pixels nothing painted, on a composite that holds no pixels yet.
  static void PaintWhite(std::uint32_t* out, UndecidedRow& undecided) {
    for (const std::int32_t word : undecided.Live()) {
      const std::uint64_t bits = undecided.Word(Index(word));
      std::uint32_t* pixels = out + (std::int64_t{word} * kWordBits - undecided.First());
      if (bits == kAllBits) {
        std::fill(pixels, pixels + kWordBits, kWhite);
        continue;
      }
      for (std::uint64_t rest = bits; rest != 0; rest &= rest - 1) pixels[std::countr_zero(rest)] = kWhite;
    }
  }

  PixelView source_;
  Geometry g_;
  TBleedOptions options_;
  unsigned threads_;
  NonWhiteBits nonWhite_;
  PassColumnTable columns_;
  ShrinkingPass shrinking_;
  bool hardwareDeposit_;
};

std::optional<Geometry> GeometryOf(TBitmap& source, std::int32_t outputWidth, std::int32_t outputHeight,
                                   std::int32_t inset) {
  const std::optional<PixelView> picture = PixelView::Of(source, PixelView::Depths::Any);
  if (!picture) return std::nullopt;
  const Geometry geometry{picture->Width(), picture->Height(), outputWidth, outputHeight, inset};
  if (!geometry.Fits()) return std::nullopt;
  return geometry;
}

unsigned ThreadsOf(const Geometry& g, TBleedOptions options) {
  return options.threads != 0 ? options.threads : ThreadsFor(g.outputHeight, std::int64_t{g.outputWidth} * 4);
}

// A band is what a thread renders before it writes: small enough to stay in
// its core's cache until it is written.
constexpr std::int64_t kBandBytes = std::int64_t{256} << 10;

// The composite's pixels written band by band in the order its memory holds
// them, each band rendered into its thread's own buffer: the threads render
// the next bands while one of them writes. A band is a run of whole rows, or,
// for a row wider than a band, a run of a row's columns: so the buffers never
// hold more than a band, whatever the shape.
class BandWriter {
 public:
  BandWriter(const BleedRenderer& renderer, const PixelView& composite, std::int64_t bandBytes)
      : renderer_(renderer), composite_(composite) {
    const std::int64_t width = composite.Width();
    if (composite.Stride() > bandBytes) {
      rowsPerBand_ = 1;
      columnsPerBand_ = std::min(width, std::max<std::int64_t>(bandBytes / 4 / kWordBits, 1) * kWordBits);
    } else {
      rowsPerBand_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(bandBytes / composite.Stride(), 1, composite.Height()));
      columnsPerBand_ = width;
    }
    bandsPerRow_ = (width + columnsPerBand_ - 1) / columnsPerBand_;
    // Everything a thread needs is made here, before the file is; no more
    // threads than bands.
    const auto threads = static_cast<std::size_t>(std::min<std::int64_t>(renderer.Threads(), Bands()));
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
      workers_.emplace_back(renderer.Sizes(), columnsPerBand_, Index(rowsPerBand_) * Index(columnsPerBand_));
  }

  void Write(TStream& stream) {
    ShareOutInOrder(
        Bands(), 1, static_cast<unsigned>(workers_.size()),
        [&](unsigned worker, std::int32_t band, std::int32_t) { Render(workers_[worker], band); },
        [&](unsigned worker, std::int32_t band, std::int32_t) {
          const Extent extent = ExtentOf(band);
          stream.WriteBuffer(workers_[worker].pixels.data(), extent.rows * (extent.end - extent.first) * 4);
        });
  }

 private:
  struct Worker {
    Worker(const Geometry& g, std::int64_t columns, std::size_t pixelCount) : scratch(g, columns), pixels(pixelCount) {}
    BleedRenderer::RowScratch scratch;
    std::vector<std::uint32_t> pixels;
  };

  // A band's rows (in memory order) and columns.
  struct Extent {
    std::int32_t firstRow, rows;
    std::int64_t first, end;
  };

  // At most 2^31 bytes of pixels: at most 2^13 bands of a row's columns,
  // each at least 256 KiB, or one band a row.
  std::int32_t Bands() const {
    const std::int64_t rowBands = (composite_.Height() + rowsPerBand_ - 1) / rowsPerBand_;
    return static_cast<std::int32_t>(rowBands * bandsPerRow_);
  }
  Extent ExtentOf(std::int32_t band) const {
    const std::int32_t firstRow = static_cast<std::int32_t>(band / bandsPerRow_) * rowsPerBand_;
    const std::int64_t first = band % bandsPerRow_ * columnsPerBand_;
    return {firstRow, std::min(rowsPerBand_, composite_.Height() - firstRow), first,
            std::min<std::int64_t>(first + columnsPerBand_, composite_.Width())};
  }

  void Render(Worker& worker, std::int32_t band) const {
    const Extent extent = ExtentOf(band);
    const std::int64_t columns = extent.end - extent.first;
    for (std::int32_t i = 0; i < extent.rows; ++i)
      renderer_.RenderRow(composite_.DeviceRow(extent.firstRow + i), extent.first, extent.end,
                          worker.pixels.data() + i * columns, worker.scratch);
  }

  const BleedRenderer& renderer_;
  PixelView composite_;
  std::int32_t rowsPerBand_ = 1;
  std::int64_t columnsPerBand_ = 1;
  std::int64_t bandsPerRow_ = 1;
  std::vector<Worker> workers_;
};

// The direct renderer's bytes for composite, written by store, which writes
// the composite as a BMP with the pixel writer it is given.
template <class Store>
bool WriteBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset, TBandOptions band, Store store) {
  const std::optional<PixelView> output = PixelView::Of(composite, PixelView::Depths::Only32);
  if (!output || output->Stride() != std::int64_t{output->Width()} * 4) return false;
  const std::optional<Geometry> geometry = GeometryOf(source, composite.Width(), composite.Height(), inset);
  if (!geometry) return false;
  const TBleedOptions options{TUnpaintedPixels::White, band.threads};
  const BleedRenderer renderer(*PixelView::Of(source, PixelView::Depths::Any), *geometry, options,
                               ThreadsOf(*geometry, options));
  BandWriter bands(renderer, *output, band.bandBytes > 0 ? band.bandBytes : kBandBytes);
  const std::int64_t compositeBytes = output->Stride() * output->Height();
  store([&](TStream& stream, std::uint32_t pixelBytes) {
    if (pixelBytes == compositeBytes) return bands.Write(stream);
    // Not for a 32-bit section, whose memory holds what its header says; if
    // ever, the composite is drawn and its memory written as it stands.
    renderer.Render(*output);
    const void* bits;
    {
      TLibraryHold hold;
      bits = composite.SharedImage().Section.dsBm.bmBits;
    }
    stream.WriteBuffer(bits, pixelBytes);
  });
  return true;
}

}  // namespace

bool BleedDirectFits(TBitmap& source, std::int32_t outputWidth, std::int32_t outputHeight, std::int32_t inset) {
  return GeometryOf(source, outputWidth, outputHeight, inset).has_value();
}

bool DrawBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset, TBleedOptions options) {
  if (!PixelView::Of(composite, PixelView::Depths::Only32)) return false;
  const std::optional<Geometry> geometry = GeometryOf(source, composite.Width(), composite.Height(), inset);
  if (!geometry) return false;
  // As a drawing operation would: private storage first, a change notice after.
  composite.PrepareToModify();
  const std::optional<PixelView> output = PixelView::Of(composite, PixelView::Depths::Only32);
  if (!output) return false;
  const BleedRenderer renderer(*PixelView::Of(source, PixelView::Depths::Any), *geometry, options,
                               ThreadsOf(*geometry, options));
  renderer.Render(*output);
  composite.NotifyChange(&composite);
  return true;
}

bool StoreBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset, const std::string& fileName,
                      TBandOptions options) {
  return WriteBleedDirect(source, composite, inset, options, [&](const TBitmap::TPixelWriter& writePixels) {
    composite.StoreFileWritingPixels(fileName, writePixels);
  });
}

bool StoreBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset, TStream& stream, TBandOptions options) {
  return WriteBleedDirect(source, composite, inset, options, [&](const TBitmap::TPixelWriter& writePixels) {
    composite.StoreStreamWritingPixels(stream, writePixels);
  });
}

}  // namespace bleedborder
