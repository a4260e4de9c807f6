#include "bleedborder/bleed/renderer/row_renderer.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bleedborder/core/parallel.h"

namespace bleedborder::bleed {

namespace {

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

}  // namespace

RowRenderer::RowRenderer(const PixelView& source, const PassGeometry& geometry, TBleedOptions options, unsigned threads,
                         TPictureReader readPicture)
    : source_(source),
      g_(geometry),
      options_(options),
      threads_(threads),
      nonWhite_(source),
      columns_(g_),
      shrinking_(g_.LastShrinks() ? ShrinkingPassOf(g_) : ShrinkingPass{}),
      hardwareDeposit_(HasHardwareDepositAndCount()),
      readPicture_(std::move(readPicture)),
      firstRowIn_(readPicture_ ? g_.sourceHeight : 0),
      preparation_([this] { Prepare(); }, threads_ > 1 || readPicture_) {}

RowRenderer::~RowRenderer() { stopping_.store(true, std::memory_order_relaxed); }

void RowRenderer::Prepare() {
  columns_.Fill(g_, threads_);
  if (!readPicture_) return nonWhite_.Fill(threads_);
  try {
    ReadPictureInChunks();
  } catch (...) {
    PublishRowsFrom(kReadFailed);
    throw;
  }
}

// Tells the waiting bands that the rows from first on are in.
void RowRenderer::PublishRowsFrom(std::int32_t first) {
  firstRowIn_.store(first, std::memory_order_release);
  firstRowIn_.notify_all();
}

// The picture's memory from its start, a chunk of whole rows at a time (a
// multiple of 64, so that no word of the bits holds two chunks' rows, and
// about a megabyte), each chunk's bits worked out as soon as it is in. The
// rows go in from the bottom, as a picture's memory and file hold them; a
// picture held top row first is read whole before any of it is used.
void RowRenderer::ReadPictureInChunks() {
  const std::int32_t height = g_.sourceHeight;
  const std::int64_t stride = source_.Stride();
  if (source_.TopDown()) {
    readPicture_(0, stride * height);
    nonWhite_.Fill(threads_);
    return PublishRowsFrom(0);
  }
  constexpr std::int64_t kChunkBytes = std::int64_t{1} << 20;
  const std::int64_t chunkRows = kWordBits * std::max<std::int64_t>(1, kChunkBytes / (kWordBits * stride));
  for (std::int32_t end = height; end > 0 && !stopping_.load(std::memory_order_relaxed);) {
    const auto first = static_cast<std::int32_t>((end - 1) / chunkRows * chunkRows);
    readPicture_((height - end) * stride, (height - first) * stride);
    nonWhite_.FillRows(first, end);
    PublishRowsFrom(first);
    end = first;
  }
}

void RowRenderer::AwaitSourceRows(const TRowBand& band) const {
  const std::int32_t lastY = band.firstY + (band.rows - 1) * band.yStep;
  const std::int32_t lowest = LowestSourceRow(std::min(band.firstY, lastY));
  for (std::int32_t in = firstRowIn_.load(std::memory_order_acquire); in > lowest;
       in = firstRowIn_.load(std::memory_order_acquire)) {
    if (in == kReadFailed) preparation_.Await();
    firstRowIn_.wait(in, std::memory_order_acquire);
  }
}

// The lowest source row output row y reads: its picture row, and the rows of
// the passes that reach it. Every one of these is a non-decreasing function
// of y (a pass maps rows in order; the passes reaching the top margin read
// row 0 there, those reaching the bottom margin the last row), so the lowest
// row of a band's first output row is the lowest of the band.
std::int32_t RowRenderer::LowestSourceRow(std::int32_t y) const {
  std::int32_t lowest = g_.sourceHeight - 1;
  const std::int32_t pictureY = y - g_.inset;
  if (pictureY >= 0 && pictureY < g_.sourceHeight) lowest = pictureY;
  const std::int32_t top = g_.TopPass(y);
  for (std::int32_t k = 0; k <= std::min(top, g_.HighestEnlarging()); ++k)
    lowest = std::min(lowest, g_.SourceRow(k, y));
  if (top == g_.inset && g_.LastShrinks()) {
    const raster::SourceSpan rows = raster::StretchSpan(
        static_cast<std::uint32_t>(g_.sourceHeight), static_cast<std::uint32_t>(g_.PassHeight(g_.inset)),
        static_cast<std::uint32_t>(y - g_.inset), raster::StretchCombine::Block);
    lowest = std::min(lowest, rows.first);
  }
  return std::max(lowest, 0);
}

// Every row of a 32-bit composite of the output's size, a thread's share of
// them as one band: device rows down, whichever way memory holds them.
void RowRenderer::Render(const PixelView& composite) const {
  preparation_.Await();
  ShareOut(g_.outputHeight, 16, threads_, [&](std::int32_t first, std::int32_t last) {
    RowScratch scratch(g_, g_.outputWidth);
    const std::int64_t stride = composite.TopDown() ? composite.Stride() : -composite.Stride();
    RenderRows({first, last - first, 1, 0, g_.outputWidth, reinterpret_cast<std::uint8_t*>(composite.Row(first)),
                stride},
               scratch);
  });
}

void RowRenderer::RenderRows(const TRowBand& band, RowScratch& scratch) const {
  if (readPicture_)
    AwaitSourceRows(band);
  else
    preparation_.Await();
  WithFormat(source_, [&](auto format) {
    std::int32_t y = band.firstY;
    for (std::int32_t i = 0; i < band.rows; ++i, y += band.yStep)
      RenderRowIn<decltype(format)>(y, band.first, band.end,
                                    reinterpret_cast<std::uint32_t*>(band.out + i * band.stride), scratch);
  });
}

template <class Format>
void RowRenderer::RenderRowIn(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out,
                              RowScratch& scratch) const {
  if (g_.OutputIsThePicture()) return CopyPictureRow<Format>(y, first, end, out);
  UndecidedRow& undecided = scratch.undecided;
  undecided.Reset(first, end);
  // White first after a sparse row: a run of stores, which the pixels
  // nothing decides keep, costs less than painting them one by one at the
  // end. The picture's own white pixels, written as they are, are the same
  // white (fourth byte 0).
  const bool paintsWhite = options_.unpainted == TUnpaintedPixels::White;
  const bool whiteFirst = paintsWhite && scratch.sparseBefore;
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
  const bool sparse = undecided.Live().size() * 4 >= WordsFor(end) - Index(undecided.FirstWord());
  if (paintsWhite && !whiteFirst && !undecided.Done()) PaintWhite(out, undecided);
  scratch.sparseBefore = sparse;
}

// A row of an output without a margin: every pixel shows the picture's own
// where it is not white, and the one pass's sample of that same pixel (so
// white) where it is; no bits, no passes. A shape that is a row or a
// column of pixels pays this per row, not the passes' set-up.
template <class Format>
void RowRenderer::CopyPictureRow(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out) const {
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
void RowRenderer::DrawPictureRow(std::int32_t pictureY, std::uint32_t* out, RowScratch& scratch) const {
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
std::uint64_t RowRenderer::PictureWord(const RowBits& bits, std::int64_t p0) const {
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
void RowRenderer::DrawSpanEnds(std::int32_t highestHere, const std::int32_t* sourceRows, std::uint32_t* out,
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

// The source column of bit within a word, as an offset from the word's
// first: the columns that start a source column up to it, less one.
template <class Count>
[[gnu::always_inline]] inline std::uint32_t RowRenderer::SourceOffset(const ColumnWord& columns, int bit, Count count) {
  return static_cast<std::uint32_t>(count(columns.starts & (kAllBits >> (kWordBits - 1 - bit)))) - 1;
}

// Live words [first, first + N) meet the listed passes [met, end), at most
// a round of them, side by side, until the last undecided pixel of all of
// them is decided. Side by side, a pass's own reads and the loop's tests are
// shared by the words, and their chains of work, independent, overlap in
// the processor. The passes are met in two steps: first the pixels each
// decides, with no branch on whether it decides any (on sparse colour that
// is a coin toss per pass, and a mispredicted branch costs more than the
// pass), then the samples of the passes that did.
template <std::size_t N, class Format, bool RepeatsTwice, class Deposit, class Count>
[[gnu::always_inline]] inline void RowRenderer::MeetRound(const PassSteps& steps, std::size_t met, std::size_t end,
                                                          std::size_t first, std::uint32_t* out,
                                                          UndecidedRow& undecided, Deposit deposit,
                                                          Count count) const {
  struct Decided {
    std::uint64_t bits;
    const PassStep* step;
  };
  std::int32_t words[N];
  const ColumnWord* entries[N];
  std::uint32_t* pixels[N];
  // Local copies: the pixel stores below could otherwise alias them.
  std::uint64_t open[N];
  for (std::size_t j = 0; j < N; ++j) {
    words[j] = undecided.Live()[first + j];
    entries[j] = columns_.Entries(words[j]);
    pixels[j] = out + (std::int64_t{words[j]} * kWordBits - undecided.First());
    open[j] = undecided.Word(Index(words[j]));
  }
  Decided decided[N][kRoundPasses];
  std::size_t found[N] = {};
  const PassStep* const stop = steps.First() + end;
  for (const PassStep* step = steps.First() + met; step != stop && AnyOpen<N>(open); ++step) {
    for (std::size_t j = 0; j < N; ++j) {
      const ColumnWord& columns = entries[j][step->k];
      // Only the bits of the source columns the word takes are deposited:
      // the rest (past the row's end, say) do not count.
      std::uint64_t painted = deposit(Bits64(step->bits, columns.firstSource), columns.starts);
      painted |= (painted << 1) & columns.repeats;
      if constexpr (RepeatsTwice) painted = RepeatFurther(painted, columns.repeats, columns_.LongestRepeat());
      const std::uint64_t hits = painted & open[j];
      open[j] &= ~hits;
      decided[j][found[j]] = {hits, step};
      found[j] += hits != 0;
    }
  }
  for (std::size_t j = 0; j < N; ++j) {
    for (std::size_t i = 0; i < found[j]; ++i) {
      const ColumnWord& columns = entries[j][decided[j][i].step->k];
      const std::uint8_t* const sourceRow = decided[j][i].step->sourceRow;
      for (std::uint64_t rest = decided[j][i].bits; rest != 0; rest &= rest - 1) {
        const int bit = std::countr_zero(rest);
        const std::uint32_t offset = SourceOffset(columns, bit, count);
        pixels[j][bit] = source_.At<Format>(sourceRow, std::int64_t{columns.firstSource} + offset);
      }
    }
    undecided.Word(Index(words[j])) = open[j];
  }
}

template <std::size_t N>
[[gnu::always_inline]] inline bool RowRenderer::AnyOpen(const std::uint64_t* open) {
  std::uint64_t any = 0;
  for (std::size_t j = 0; j < N; ++j) any |= open[j];
  return any != 0;
}

// The live words meet the passes a round at a time: in each round every live
// word meets the round's passes until its last pixel is decided, the words
// four side by side, or eight after a sparse row, where words meet many
// passes and gain the most from sharing them (where most words are decided
// by the first few passes, eight would keep more of them meeting passes for
// the sake of the others); the last few one at a time. The words left after
// a round are grouped anew for the next, so that a word decided early does
// not go on meeting passes beside a slower one. The passes are listed a
// round ahead.
template <class Format, bool RepeatsTwice, class Deposit, class Count>
[[gnu::always_inline]] inline void RowRenderer::SweepWords(PassSteps& steps, std::uint32_t* out,
                                                           UndecidedRow& undecided, bool sparse, Deposit deposit,
                                                           Count count) const {
  constexpr std::size_t kSideBySide = 4;
  for (std::size_t met = 0; !undecided.Done(); met += kRoundPasses) {
    steps.template ListUpTo<Format>(met + kRoundPasses);
    const std::size_t end = std::min(met + kRoundPasses, steps.Listed());
    if (end <= met) return;
    const std::size_t live = undecided.Live().size();
    std::size_t next = 0;
    if (sparse)
      for (; next + 2 * kSideBySide <= live; next += 2 * kSideBySide)
        MeetRound<2 * kSideBySide, Format, RepeatsTwice>(steps, met, end, next, out, undecided, deposit, count);
    for (; next + kSideBySide <= live; next += kSideBySide)
      MeetRound<kSideBySide, Format, RepeatsTwice>(steps, met, end, next, out, undecided, deposit, count);
    for (; next < live; ++next)
      MeetRound<1, Format, RepeatsTwice>(steps, met, end, next, out, undecided, deposit, count);
    undecided.DropEmpty();
  }
}

// The loop compiled twice: the command's passes never repeat a column on
// more than one neighbour, and skip the test for it.
template <class Format, class Deposit, class Count>
[[gnu::always_inline]] inline void RowRenderer::SweepWordsIn(PassSteps& steps, std::uint32_t* out,
                                                             UndecidedRow& undecided, bool sparse, Deposit deposit,
                                                             Count count) const {
  if (columns_.LongestRepeat() > 1) return SweepWords<Format, true>(steps, out, undecided, sparse, deposit, count);
  SweepWords<Format, false>(steps, out, undecided, sparse, deposit, count);
}

#if defined(BLEED_HARDWARE_DEPOSIT)
// The same loop compiled for BMI2, so that the deposit and the bit count
// are an instruction each.
template <class Format>
[[gnu::target("bmi2,popcnt")]] void RowRenderer::SweepWordsWithHardwareDeposit(PassSteps& steps, std::uint32_t* out,
                                                                                 UndecidedRow& undecided,
                                                                                 bool sparse) const {
  SweepWordsIn<Format>(steps, out, undecided, sparse, THardwareDeposit{}, THardwareCount{});
}
#endif

// Enlarging passes top down to 0 over an output row, a word of undecided
// pixels at a time: each word meets the passes in order until its last
// pixel is decided, its undecided bits held in a register, and leaves the
// rest untried. The passes are listed as the words reach them, those whose
// source row is white left out, so that a row whose words are all decided
// by the first few passes costs no more.
template <class Format>
void RowRenderer::DrawPassesWordByWord(std::int32_t top, const std::int32_t* sourceRows, std::uint32_t* out,
                                       RowScratch& scratch) const {
  PassSteps steps(scratch.steps, scratch.narrowRows, top, sourceRows, nonWhite_, source_);
  const bool sparse = scratch.sparseBefore;
#if defined(BLEED_HARDWARE_DEPOSIT)
  if (hardwareDeposit_) return SweepWordsWithHardwareDeposit<Format>(steps, out, scratch.undecided, sparse);
#endif
  SweepWordsIn<Format>(steps, out, scratch.undecided, sparse, TPortableDeposit{}, TPortableCount{});
}

// Passes that enlarge more than twice (never the command's) repeat a
// column on more than one neighbour: one shift more per repeat.
std::uint64_t RowRenderer::RepeatFurther(std::uint64_t painted, std::uint64_t repeats, std::int32_t longestRepeat) {
  for (std::int32_t r = 1; r < longestRepeat; ++r) painted |= (painted << 1) & repeats;
  return painted;
}

// The source columns the shrinking pass combines for column bit of word w
// (starting at column x0), which it reaches.
raster::SourceSpan RowRenderer::ShrinkingSpan(std::size_t w, std::int64_t x0, int bit) const {
  if (shrinking_.plainRun[w]) return {shrinking_.firstSource[w] + bit, 1};
  const std::int32_t kept = shrinking_.keptSpans[w];
  if (kept >= 0) return shrinking_.spans[Index(kept)][Index(bit)];
  return ShrinkingColumns(x0 + bit);
}

// The source columns the shrinking pass combines for output column x.
raster::SourceSpan RowRenderer::ShrinkingColumns(std::int64_t x) const {
  return raster::StretchSpan(static_cast<std::uint32_t>(g_.sourceWidth),
                             static_cast<std::uint32_t>(g_.PassWidth(g_.inset)),
                             static_cast<std::uint32_t>(x - g_.inset), raster::StretchCombine::Block);
}

// The shrinking last pass over output row y: an undecided pixel takes the
// AND of its source block unless that is white, which it is only when every
// pixel of the block is white. So the block rows' non-white bits, ORed,
// tell which pixels the pass decides. True when it decides the last
// undecided pixel of a word. Only rows the pass reaches come here (those whose
// top pass is the last), so y - inset is a row of its rectangle.
template <class Format>
bool RowRenderer::DrawShrinkingPass(std::int32_t y, std::uint32_t* out, RowScratch& scratch) const {
  UndecidedRow& undecided = scratch.undecided;
  const std::int64_t rowOffset = std::int64_t{y} - g_.inset;
  const raster::SourceSpan rows = raster::StretchSpan(
      static_cast<std::uint32_t>(g_.sourceHeight), static_cast<std::uint32_t>(g_.PassHeight(g_.inset)),
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
  std::fill(blockBits.begin() + static_cast<std::ptrdiff_t>(wordLo),
            blockBits.begin() + static_cast<std::ptrdiff_t>(wordHi), 0);
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
std::uint64_t RowRenderer::SpanBits(std::int64_t x0, std::int64_t begin, std::int64_t end) {
  const std::int64_t low = std::max<std::int64_t>(begin - x0, 0), high = std::min<std::int64_t>(end - x0, kWordBits);
  if (low >= high) return 0;
  return LowBits(high) & ~LowBits(low);
}

// 64 bits of the block bits starting at first, which may lie before the
// row (those bits are 0).
std::uint64_t RowRenderer::ShiftedBits(const RowBits& bits, std::int64_t first) {
  if (first >= 0) return Bits64(bits, static_cast<std::uint64_t>(first));
  return first <= -kWordBits ? 0 : bits.words[0] << (-first);
}

// The AND of a block: the source rows' pixels (lines) in the columns given.
template <class Format>
std::uint32_t RowRenderer::BlockAnd(const std::vector<const std::uint8_t*>& lines, raster::SourceSpan columns) const {
  if (lines.size() == 1 && columns.count == 1) return source_.At<Format>(lines[0], columns.first);
  std::uint32_t value = kWhite;
  for (const std::uint8_t* line : lines)
    for (std::int32_t column = columns.first; column < columns.first + columns.count; ++column)
      value &= source_.At<Format>(line, column);
  return value;
}

// count pixels of white: 32 a step in 16-byte stores where the processor has them.
void RowRenderer::FillWhite(std::uint32_t* out, std::int64_t count) {
  std::int64_t i = 0;
#if defined(__SSE2__)
  const __m128i white = _mm_set1_epi32(static_cast<int>(kWhite));
  for (; i + 32 <= count; i += 32)
    for (int quad = 0; quad < 32; quad += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + quad), white);
#endif
  std::fill(out + i, out + count, kWhite);
}

// The pixels nothing painted, on a composite that holds no pixels yet.
void RowRenderer::PaintWhite(std::uint32_t* out, UndecidedRow& undecided) {
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

}  // namespace bleedborder::bleed
