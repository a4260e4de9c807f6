#pragma once
// The passes as the direct renderer meets them: each pass's mapping of output
// rows and columns to the picture's, in tables made once per run, and the
// passes an output row meets, listed as its words reach them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/renderer/bit_rows.h"
#include "bleedborder/bleed/renderer/pixel_view.h"
#include "bleedborder/platform/stretch_map.h"

namespace bleedborder::bleed {

// A geometry as the renderer reads it: which passes enlarge, and the rows
// they read.
struct PassGeometry : TBleedGeometry {
  explicit PassGeometry(const TBleedGeometry& g) : TBleedGeometry(g) {}

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

  // Whether the renderer draws this geometry. In 64 bits: the pass sizes of
  // a far too large inset would not fit 32.
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
  // Takes the memory for the entries, all empty; Fill works them out.
  explicit PassColumnTable(const PassGeometry& g);
  // Every pass's entries, once, by up to threads threads.
  void Fill(const PassGeometry& g, unsigned threads);

  // Word w's entries, pass 0 first.
  const ColumnWord* Entries(std::int64_t w) const { return words_.data() + Index(w) * passes_; }
  // The longest run of repeating columns in one word: the shifts needed.
  std::int32_t LongestRepeat() const { return longestRepeat_; }

 private:
  // Pass k's entries; gives its longest run of repeating columns.
  std::int32_t FillPass(const PassGeometry& g, std::int32_t k);

  std::size_t passes_;
  std::vector<ColumnWord> words_;
  std::vector<std::int32_t> longestRepeats_;  // per pass
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

// The shrinking last pass's tables for a geometry whose last pass shrinks.
ShrinkingPass ShrinkingPassOf(const PassGeometry& g);

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
  // Lists passes until count are listed or none is left.
  template <class Format>
  void ListUpTo(std::size_t count) {
    while (steps_.size() < count && ListMore<Format>()) {
    }
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


}  // namespace bleedborder::bleed
