#pragma once
// The direct renderer the tool used before the pass-major one: per pixel, the
// highest pass whose sample is not white, searched through tile sums of the
// picture's non-white pixels. Kept for side-by-side figures only.
#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/stretch_map.h"

using namespace bleedborder;

namespace legacy {

namespace {

// The raster operations compare and write the 24 colour bits only, with the
// fourth byte 0; so does everything here.
constexpr std::uint32_t kColorBits = 0x00FFFFFF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

// Large pictures are worked on by every core; below this many pixels a
// thread costs more than it saves.
constexpr std::int64_t kParallelPixels = 1 << 18;

unsigned Cores() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

// Runs work over [0, count) in one contiguous share per core (one share when
// not parallel).
void ShareOut(std::int32_t count, bool parallel, const std::function<void(std::int32_t, std::int32_t)>& work) {
  const std::int32_t shares = parallel ? static_cast<std::int32_t>(std::min<unsigned>(Cores(), 64)) : 1;
  std::vector<std::thread> threads;
  auto bound = [&](std::int32_t share) { return static_cast<std::int32_t>(std::int64_t{count} * share / shares); };
  for (std::int32_t share = 1; share < shares; ++share) threads.emplace_back(work, bound(share), bound(share + 1));
  work(0, bound(1));
  for (std::thread& thread : threads) thread.join();
}

// The 32-bit pixels of a section in device order: row 0 is the top row,
// whichever order the rows have in memory.
class PixelView {
 public:
  static std::optional<PixelView> Of(TBitmap& bitmap) {
    TLibraryHold hold;
    const TBitmapImage& image = bitmap.SharedImage();
    const gdi::DIBSECTION& section = image.Section;
    if (!image.SectionHandle || !section.dsBm.bmBits) return std::nullopt;
    if (section.dsBmih.biBitCount != 32 || section.dsBmih.biCompression != gdi::BI_RGB) return std::nullopt;
    const std::int32_t width = section.dsBm.bmWidth;
    // The device reports a section's row count as a positive bmHeight; the
    // header's sign gives the row order.
    const std::int32_t height = section.dsBm.bmHeight;
    if (width <= 0 || height <= 0 || section.dsBm.bmWidthBytes < std::int64_t{width} * 4) return std::nullopt;
    return PixelView(static_cast<std::uint8_t*>(section.dsBm.bmBits), width, height, section.dsBm.bmWidthBytes,
                     section.dsBmih.biHeight < 0);
  }

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  std::uint32_t* Row(std::int32_t y) const {
    const std::int64_t memoryRow = topDown_ ? y : height_ - 1 - y;
    return reinterpret_cast<std::uint32_t*>(bits_ + memoryRow * stride_);
  }

 private:
  PixelView(std::uint8_t* bits, std::int32_t width, std::int32_t height, std::int64_t stride, bool topDown)
      : bits_(bits), width_(width), height_(height), stride_(stride), topDown_(topDown) {}
  std::uint8_t* bits_;
  std::int32_t width_;
  std::int32_t height_;
  std::int64_t stride_;
  bool topDown_;
};

// Counts of non-white source pixels per square tile, summed over every tile
// above and to the left: any rectangle of tiles is tested in four reads.
class WhiteTiles {
 public:
  static constexpr std::int32_t kTile = 4;

  WhiteTiles(const PixelView& source, bool parallel)
      : columns_((source.Width() + kTile - 1) / kTile), rows_((source.Height() + kTile - 1) / kTile),
        sums_(static_cast<std::size_t>(columns_ + 1) * static_cast<std::size_t>(rows_ + 1), 0) {
    // Each tile's own count first (rows of tiles are independent), then the
    // sums over the tiles above and to the left.
    ShareOut(rows_, parallel, [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t tileRow = first; tileRow < last; ++tileRow) CountTileRow(source, tileRow);
    });
    for (std::int32_t row = 1; row <= rows_; ++row) {
      std::uint64_t rowSum = 0;
      for (std::int32_t column = 1; column <= columns_; ++column) {
        rowSum += At(row, column);
        At(row, column) = At(row - 1, column) + rowSum;
      }
    }
  }

  // True when every source pixel in columns [x0, x1] and rows [y0, y1] is white.
  bool AllWhite(std::int32_t x0, std::int32_t x1, std::int32_t y0, std::int32_t y1) const {
    const std::int32_t c0 = x0 / kTile, c1 = x1 / kTile + 1, r0 = y0 / kTile, r1 = y1 / kTile + 1;
    return At(r1, c1) - At(r0, c1) - At(r1, c0) + At(r0, c0) == 0;
  }

 private:
  std::uint64_t& At(std::int32_t row, std::int32_t column) {
    return sums_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_ + 1) + static_cast<std::size_t>(column)];
  }
  std::uint64_t At(std::int32_t row, std::int32_t column) const {
    return sums_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_ + 1) + static_cast<std::size_t>(column)];
  }
  // The non-white pixels of one row of tiles, counted a row of pixels at a
  // time in a loop over whole tiles that the compiler can vectorise.
  void CountTileRow(const PixelView& source, std::int32_t tileRow) {
    const std::int32_t width = source.Width();
    const std::int32_t wholeTiles = width / kTile;
    std::vector<std::uint32_t> counts(static_cast<std::size_t>(columns_), 0);
    auto countAt = [&](std::int32_t column) -> std::uint32_t& { return counts[static_cast<std::size_t>(column)]; };
    const std::int32_t yEnd = std::min(source.Height(), (tileRow + 1) * kTile);
    for (std::int32_t y = tileRow * kTile; y < yEnd; ++y) {
      const std::uint32_t* row = source.Row(y);
      for (std::int32_t column = 0; column < wholeTiles; ++column) {
        const std::uint32_t* tile = row + column * kTile;
        std::uint32_t count = 0;
        for (std::int32_t x = 0; x < kTile; ++x) count += NonWhite(tile[x]);
        countAt(column) += count;
      }
      for (std::int32_t x = wholeTiles * kTile; x < width; ++x) countAt(wholeTiles) += NonWhite(row[x]);
    }
    for (std::int32_t column = 0; column < columns_; ++column) At(tileRow + 1, column + 1) = countAt(column);
  }

  static std::uint32_t NonWhite(std::uint32_t pixel) { return (pixel & kColorBits) != kWhite ? 1 : 0; }

  std::int32_t columns_;
  std::int32_t rows_;
  std::vector<std::uint64_t> sums_;
};

// Where each pass takes its samples: the raster device's own stretch mapping,
// per axis and per pass, as a pass's BLACKONWHITE stretch combines them.
class PassMaps {
 public:
  PassMaps(std::int32_t inset, std::int32_t outputWidth, std::int32_t outputHeight, std::int32_t sourceWidth,
           std::int32_t sourceHeight, bool parallel)
      : columns_(static_cast<std::size_t>(inset) + 1), rows_(static_cast<std::size_t>(inset) + 1),
        shrinks_(static_cast<std::size_t>(inset) + 1), singleColumns_(static_cast<std::size_t>(inset) + 1) {
    ShareOut(inset + 1, parallel, [&](std::int32_t first, std::int32_t last) {
      for (std::int32_t k = first; k < last; ++k) {
        const auto pass = static_cast<std::size_t>(k);
        columns_[pass] = raster::MapAxis(k, outputWidth - 2 * k, 0, sourceWidth, outputWidth, sourceWidth,
                                         raster::StretchCombine::Block);
        rows_[pass] = raster::MapAxis(k, outputHeight - 2 * k, 0, sourceHeight, outputHeight, sourceHeight,
                                      raster::StretchCombine::Block);
        shrinks_[pass] = outputWidth - 2 * k < sourceWidth || outputHeight - 2 * k < sourceHeight;
        const raster::AxisMap& columns = columns_[pass];
        singleColumns_[pass] = columns.destBegin == k &&
                               static_cast<std::int64_t>(columns.spans.size()) == outputWidth - 2 * std::int64_t{k} &&
                               columns.AllSingle();
      }
    });
  }

  // The columns of pass k as one source column per output column x, at index
  // x - k; null unless the pass takes exactly one source column for each.
  const raster::SourceSpan* SingleColumns(std::int32_t k) const {
    return singleColumns_[static_cast<std::size_t>(k)] ? columns_[static_cast<std::size_t>(k)].spans.data() : nullptr;
  }

  // The source columns (or rows) that pass k combines into output column x
  // (or row y); count 0 when the pass does not reach it.
  raster::SourceSpan Column(std::int32_t k, std::int32_t x) const { return SpanAt(columns_, k, x); }
  raster::SourceSpan Row(std::int32_t k, std::int32_t y) const { return SpanAt(rows_, k, y); }
  // A pass that shrinks combines blocks of pixels; every other pass takes one
  // source pixel per output pixel.
  bool Shrinks(std::int32_t k) const { return shrinks_[static_cast<std::size_t>(k)]; }

 private:
  static raster::SourceSpan SpanAt(const std::vector<raster::AxisMap>& maps, std::int32_t k, std::int32_t p) {
    const raster::AxisMap& map = maps[static_cast<std::size_t>(k)];
    const std::int64_t index = std::int64_t{p} - map.destBegin;
    if (index < 0 || index >= static_cast<std::int64_t>(map.spans.size())) return {};
    return map.spans[static_cast<std::size_t>(index)];
  }
  std::vector<raster::AxisMap> columns_;
  std::vector<raster::AxisMap> rows_;
  std::vector<char> shrinks_;
  std::vector<char> singleColumns_;
};

class BleedRenderer {
 public:
  BleedRenderer(const PixelView& source, const PixelView& composite, std::int32_t inset)
      : source_(source), composite_(composite), inset_(inset), tiles_(source, Large(composite)),
        maps_(inset, composite.Width(), composite.Height(), source.Width(), source.Height(), Large(composite)) {}

  static bool Large(const PixelView& composite) {
    return Cores() > 1 && std::int64_t{composite.Width()} * composite.Height() >= kParallelPixels;
  }

  void RenderRows(std::int32_t yBegin, std::int32_t yEnd) const {
    for (std::int32_t y = yBegin; y < yEnd; ++y) RenderRow(y);
  }

 private:
  // The picture's non-white pixels go over everything; every other pixel
  // shows the border the passes leave there.
  void RenderRow(std::int32_t y) const {
    std::uint32_t* out = composite_.Row(y);
    const std::int32_t width = composite_.Width();
    const std::int32_t pictureY = y - inset_;
    const bool inPicture = pictureY >= 0 && pictureY < source_.Height();
    const std::uint32_t* picture = inPicture ? source_.Row(pictureY) - inset_ : nullptr;
    const std::int32_t pictureBegin = inPicture ? inset_ : 0;
    const std::int32_t pictureEnd = inPicture ? inset_ + source_.Width() : 0;
    if (inPicture) FetchAhead(pictureY + kRowsAhead);
    // Along most of the row the highest pass that reaches a pixel is the
    // same, band: the pass of the row's distance from the top or bottom
    // edge, or the last pass. Where it takes one source pixel per output
    // pixel, its samples are read directly.
    const std::int32_t band = std::min({y, composite_.Height() - 1 - y, inset_});
    const raster::SourceSpan bandRow = maps_.Row(band, y);
    const raster::SourceSpan* bandColumns = maps_.Shrinks(band) ? nullptr : maps_.SingleColumns(band);
    const std::uint32_t* bandSource = bandColumns && bandRow.count == 1 ? source_.Row(bandRow.first) : nullptr;
    const std::int32_t bandBegin = bandSource ? band : 0;
    const std::int32_t bandEnd = bandSource ? width - band : 0;

    // The row falls into runs that each lie wholly inside or outside the
    // picture and the band; each run has its own loop.
    std::int32_t cuts[] = {0, pictureBegin, pictureEnd, bandBegin, bandEnd, width};
    std::sort(std::begin(cuts), std::end(cuts));
    for (std::size_t c = 0; c + 1 < std::size(cuts); ++c) {
      const std::int32_t begin = std::clamp(cuts[c], 0, width), end = std::clamp(cuts[c + 1], 0, width);
      if (begin >= end) continue;
      const bool overPicture = begin >= pictureBegin && begin < pictureEnd;
      const bool overBand = begin >= bandBegin && begin < bandEnd;
      if (overBand) {
        for (std::int32_t x = begin; x < end; ++x) {
          // No branch on the picture's colours in the common case: the
          // picture pixel, else the band pass's sample; only where both are
          // white do the earlier passes decide.
          const std::uint32_t pixel = overPicture ? picture[x] & kColorBits : kWhite;
          const std::uint32_t sample = bandSource[bandColumns[x - band].first] & kColorBits;
          const std::uint32_t shown = pixel != kWhite ? pixel : sample;
          out[x] = shown != kWhite ? shown : TopSample(x, y, band - 1).value_or(out[x] & kColorBits);
        }
      } else if (overPicture) {
        for (std::int32_t x = begin; x < end; ++x) out[x] = PictureOrBorder(picture, out[x], x, y);
      } else {
        for (std::int32_t x = begin; x < end; ++x) out[x] = BorderPixel(out[x], x, y);
      }
    }
  }

  // Where the picture and the last pass are white, the earlier passes are
  // sampled near the picture's row, in the upper half of the picture in rows
  // below it that are not read yet, at scattered places. Asking for those
  // rows ahead of time keeps such samples from waiting on memory.
  static constexpr std::int32_t kRowsAhead = 4;
  void FetchAhead(std::int32_t sourceY) const {
    if (sourceY >= source_.Height()) return;
    const auto* row = reinterpret_cast<const char*>(source_.Row(sourceY));
    constexpr std::int32_t kCacheLine = 64;
    for (std::int64_t offset = 0; offset < std::int64_t{source_.Width()} * 4; offset += kCacheLine)
      __builtin_prefetch(row + offset);
  }

  std::uint32_t PictureOrBorder(const std::uint32_t* picture, std::uint32_t old, std::int32_t x,
                                std::int32_t y) const {
    const std::uint32_t pixel = picture[x] & kColorBits;
    return pixel != kWhite ? pixel : BorderPixel(old, x, y);
  }

  // A pixel that no pass paints keeps what it had, in 24 bits.
  std::uint32_t BorderPixel(std::uint32_t old, std::int32_t x, std::int32_t y) const {
    const std::int32_t ring = std::min({x, y, composite_.Width() - 1 - x, composite_.Height() - 1 - y});
    return TopSample(x, y, std::min(ring, inset_)).value_or(old & kColorBits);
  }

  // The sample of pass k at output (x, y): the AND of the source block the
  // pass combines there, or white where the pass does not reach.
  std::uint32_t Sample(std::int32_t k, std::int32_t x, std::int32_t y) const {
    const raster::SourceSpan columns = maps_.Column(k, x);
    const raster::SourceSpan rows = maps_.Row(k, y);
    if (columns.count == 1 && rows.count == 1) return source_.Row(rows.first)[columns.first] & kColorBits;
    std::uint32_t value = kWhite;
    if (columns.count == 0 || rows.count == 0) return value;
    for (std::int32_t row = rows.first; row < rows.first + rows.count; ++row) {
      const std::uint32_t* line = source_.Row(row);
      for (std::int32_t column = columns.first; column < columns.first + columns.count; ++column)
        value &= line[column];
    }
    return value & kColorBits;
  }

  // True when passes lo .. hi (none of them shrinking) all sample white at
  // (x, y). A pass's sample position moves monotonically with the pass number
  // (towards the picture's centre or away from it, depending on which side of
  // the centre the pixel lies), so the samples of lo .. hi lie in the source
  // rectangle spanned by those of lo and hi.
  bool PassesWhite(std::int32_t lo, std::int32_t hi, std::int32_t x, std::int32_t y) const {
    const raster::SourceSpan columnLo = maps_.Column(lo, x), columnHi = maps_.Column(hi, x);
    const raster::SourceSpan rowLo = maps_.Row(lo, y), rowHi = maps_.Row(hi, y);
    return tiles_.AllWhite(std::min(columnLo.first, columnHi.first), std::max(columnLo.first, columnHi.first),
                           std::min(rowLo.first, rowHi.first), std::max(rowLo.first, rowHi.first));
  }

  // The sample of the last pass up to top that is not white at (x, y): later
  // passes are drawn over earlier ones.
  std::optional<std::uint32_t> TopSample(std::int32_t x, std::int32_t y, std::int32_t top) const {
    if (top < 0) return std::nullopt;
    if (maps_.Shrinks(top)) {
      const std::uint32_t value = Sample(top, x, y);
      if (value != kWhite) return value;
      --top;
    }
    return LastNonWhite(0, top, x, y);
  }

  // The sample of the last of passes lo .. hi (none shrinking) that is not
  // white at (x, y). Ranges whose samples all fall on white source tiles are
  // ruled out whole; the upper half of a range is searched first.
  std::optional<std::uint32_t> LastNonWhite(std::int32_t lo, std::int32_t hi, std::int32_t x, std::int32_t y) const {
    constexpr std::int32_t kSmallRange = 4;
    if (lo > hi) return std::nullopt;
    const std::uint32_t value = Sample(hi, x, y);
    if (value != kWhite) return value;
    --hi;
    if (lo > hi || PassesWhite(lo, hi, x, y)) return std::nullopt;
    if (hi - lo < kSmallRange) {
      for (std::int32_t k = hi; k >= lo; --k) {
        const std::uint32_t sample = Sample(k, x, y);
        if (sample != kWhite) return sample;
      }
      return std::nullopt;
    }
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (const std::optional<std::uint32_t> upper = LastNonWhite(mid + 1, hi, x, y)) return upper;
    return LastNonWhite(lo, mid, x, y);
  }

  PixelView source_;
  PixelView composite_;
  std::int32_t inset_;
  WhiteTiles tiles_;
  PassMaps maps_;
};

// Rows are independent: large images are shared out in bands among the cores.
void RenderInParallel(const BleedRenderer& renderer, std::int32_t width, std::int32_t height) {
  constexpr std::int32_t kBandRows = 32;
  const unsigned cores = Cores();
  if (cores == 1 || std::int64_t{width} * height < kParallelPixels) {
    renderer.RenderRows(0, height);
    return;
  }
  std::atomic<std::int32_t> nextBand{0};
  auto worker = [&] {
    for (;;) {
      const std::int32_t y = nextBand.fetch_add(kBandRows);
      if (y >= height) return;
      renderer.RenderRows(y, std::min(height, y + kBandRows));
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < cores; ++i) threads.emplace_back(worker);
  worker();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

inline bool DrawBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset) {
  if (inset < 0) return false;
  const std::optional<PixelView> picture = PixelView::Of(source);
  if (!picture || !PixelView::Of(composite)) return false;
  // Every pass but the last must enlarge the picture (or keep its size), and
  // the picture must fit at (inset, inset): the command's geometry always
  // does; anything else is left to the passes.
  const std::int64_t widthAtLastPass = std::int64_t{composite.Width()} - 2 * std::int64_t{inset};
  const std::int64_t heightAtLastPass = std::int64_t{composite.Height()} - 2 * std::int64_t{inset};
  if (widthAtLastPass < 1 || heightAtLastPass < 1) return false;
  if (inset > 0 && (widthAtLastPass + 2 < picture->Width() || heightAtLastPass + 2 < picture->Height())) return false;
  if (composite.Width() < std::int64_t{picture->Width()} + inset ||
      composite.Height() < std::int64_t{picture->Height()} + inset)
    return false;

  // As a drawing operation would: private storage first, a change notice after.
  composite.PrepareToModify();
  const std::optional<PixelView> output = PixelView::Of(composite);
  if (!output) return false;
  const BleedRenderer renderer(*picture, *output, inset);
  RenderInParallel(renderer, output->Width(), output->Height());
  composite.NotifyChange(&composite);
  return true;
}

}  // namespace legacy
