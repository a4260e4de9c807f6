#pragma once
// Rows of bits, a bit per pixel: which pixels of the picture are not white,
// and which pixels of an output row nothing has painted yet. The renderer
// works on them 64 pixels (a word) at a time.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bleedborder/bleed/renderer/pixel_view.h"
#include "bleedborder/core/parallel.h"
#include "bleedborder/platform/raster_surface.h"

namespace bleedborder::bleed {

constexpr std::int32_t kWordBits = 64;
constexpr std::uint64_t kAllBits = ~std::uint64_t{0};

constexpr std::size_t WordsFor(std::int64_t bits) {
  return static_cast<std::size_t>((bits + kWordBits - 1) / kWordBits);
}
constexpr std::size_t Index(std::int64_t value) { return static_cast<std::size_t>(value); }

// The bit count, inline: without a processor instruction to rely on, the
// standard one is a library call.
constexpr int CountBits(std::uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555u);
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((v * 0x0101010101010101u) >> 56);
}

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
  // Takes the memory for the bits, all 0; Fill works them out.
  explicit NonWhiteBits(const PixelView& source)
      : source_(source), width_(source.Width()), stored_(width_ >= kWordBits) {
    if (!stored_) return;
    const std::uint64_t pixels = std::uint64_t(width_) * std::uint64_t(source.Height());
    bits_.assign(WordsFor(static_cast<std::int64_t>(pixels)) + 1, 0);
    anyInRow_.assign(WordsFor(source.Height()), 0);
  }

  // The bits of every row, once, by up to threads threads.
  void Fill(unsigned threads) {
    // Chunks of 64 rows: each thread's rows then fill whole words of both the
    // bits and the row flags.
    ShareOut(source_.Height(), kWordBits, threads,
             [&](std::int32_t first, std::int32_t last) { FillRows(first, last); });
  }
  // The bits of rows [first, last), once; first is a multiple of 64 and last
  // one too or the last row's end, so that no word of the bits is shared with
  // rows outside them.
  void FillRows(std::int32_t first, std::int32_t last) {
    if (!stored_) return;
    WithFormat(source_, [&](auto format) {
      for (std::int32_t y = first; y < last; ++y) FillRow<decltype(format)>(y);
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

}  // namespace bleedborder::bleed
