#pragma once
// An output row of the border, or a window of its columns, computed from the
// picture and the passes' tables (direct_renderer.h says what it computes).
//
// Each output row keeps a bitset of its pixels still undecided. The picture
// decides its non-white pixels; then each word of 64 columns that still holds
// an undecided pixel meets the passes from the highest down until none is
// left, its undecided bits in a register, four words side by side (eight
// after a row of sparse colour), 32 passes a round, the words still
// undecided after a round grouped anew. For pass k a source row's non-white
// pixels are known as a bitset too, and C_k turns it into the bitset of
// output columns whose sample is not white: 64 columns take at most 64
// source columns in order, so one bit deposit places the source bits on the
// first column of each source column, and a shift copies each onto the
// columns that repeat it. Those bits AND the undecided ones are the pixels
// the pass decides. A pass whose source row has no non-white pixel is left
// out of the row's list of passes, which is made a round ahead of its words.
//
// Cost per output row: a word per 64 columns of the picture's row and one
// sample per decided pixel; per pass, nothing when its source row is white,
// else a word of each bitset (and a bit deposit) for every 64 columns that
// still hold an undecided pixel when they meet it. So a pixel costs at most
// (passes + 1) / 64 reads of each bitset, whatever the picture: 3 of each
// for 12 megapixels (189 passes). A picture that has colour in every 64
// columns of every row while many pixels see only white through most passes
// comes near it: the slowest known are random one-pixel dots, one pixel in
// 64, and a dot every 64 columns shifted row by row, where nearly every word
// meets every pass; then fine hatching. The pixels no pass decides are
// painted white one by one at the end, or, after a row that left many words
// undecided (sparse colour), the row is filled with white first, a run of
// 16-byte stores, and they keep that. The shrinking last pass (Margin mod 4
// = 3) costs a word per 64 undecided columns and a block of at most 2 x 2
// source pixels per pixel it decides (per undecided pixel in the one word
// that holds the block of two columns).
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "bleedborder/bleed/renderer/bit_rows.h"
#include "bleedborder/bleed/renderer/pass_tables.h"
#include "bleedborder/bleed/renderer/pixel_view.h"
#include "bleedborder/core/bit_deposit.h"
#include "bleedborder/core/parallel.h"
#include "bleedborder/image/row_writer.h"
#include "bleedborder/platform/stretch_map.h"

namespace bleedborder::bleed {

// What the direct renderer does with the composite pixels that neither a pass
// nor the picture paints.
enum class TUnpaintedPixels : std::uint8_t {
  Keep,   // left as they are, all four bytes, as the passes leave them
  White,  // made white with a fourth byte of 0, as sizing a bitmap clears it:
          // for a composite whose pixels have not been set yet
};

// Reads bytes [from, to) of the picture's memory (rows as its file holds
// them) from wherever they still are, raising what the read raises.
using TPictureReader = std::function<void(std::int64_t from, std::int64_t to)>;

struct TBleedOptions {
  TUnpaintedPixels unpainted = TUnpaintedPixels::Keep;
  // 0: as many as pay for themselves (one per core for a large composite).
  unsigned threads = 0;
};

class RowRenderer {
 public:
  // What a thread renders rows with; widestWindow: the most columns of a row
  // it renders at once.
  class RowScratch {
   public:
    RowScratch(const PassGeometry& g, std::int64_t widestWindow)
        : undecided(widestWindow), blockBits(g.LastShrinks() ? WordsFor(g.sourceWidth) + 1 : 0),
          sourceRows(Index(std::max(g.HighestEnlarging() + 1, 0))) {
      narrowRows.reserve(sourceRows.size());
    }

   private:
    friend class RowRenderer;
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
    // Whether the thread's last row left a quarter of its words or more
    // undecided (sparse colour): the next row starts white, and its words
    // meet the passes eight side by side.
    bool sparseBefore = false;
  };

  // Takes the memory every row needs, so that a failure to get it comes
  // here. The picture's non-white bits and the passes' tables, which every
  // row reads, are worked out on a thread of their own when the picture is
  // large enough to share out (threads > 1), so that the caller may
  // meanwhile create the file the rows go to; the rows wait for them.
  //
  // With readPicture, the picture's pixels are not in yet: that thread reads
  // them, in the order of its memory, a chunk of rows at a time, and works
  // out each chunk's bits as it arrives, while it is in the cache; a band of
  // rows waits only for the source rows it reads.
  RowRenderer(const PixelView& source, const PassGeometry& geometry, TBleedOptions options, unsigned threads,
              TPictureReader readPicture = {});
  // Stops reading the picture (a failure elsewhere ended the rendering).
  ~RowRenderer();
  RowRenderer(const RowRenderer&) = delete;
  RowRenderer& operator=(const RowRenderer&) = delete;

  const PassGeometry& Sizes() const { return g_; }
  unsigned Threads() const { return threads_; }

  // Every row of a 32-bit composite of the output's size.
  void Render(const PixelView& composite) const;
  // Columns [first, end) of band.rows output rows (band.firstY, then a
  // band.yStep further each) into band.out, a row every band.stride bytes;
  // first is a multiple of 64.
  void RenderRows(const TRowBand& band, RowScratch& scratch) const;

 private:
  // A row: the picture's pixels, the passes' span ends, the shrinking pass,
  // the enlarging passes word by word, the white left over.
  template <class Format>
  void RenderRowIn(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out,
                   RowScratch& scratch) const;

  template <class Format>
  void CopyPictureRow(std::int32_t y, std::int64_t first, std::int64_t end, std::uint32_t* out) const;

  template <class Format>
  void DrawPictureRow(std::int32_t pictureY, std::uint32_t* out, RowScratch& scratch) const;

  std::uint64_t PictureWord(const RowBits& bits, std::int64_t p0) const;

  template <class Format>
  void DrawSpanEnds(std::int32_t highestHere, const std::int32_t* sourceRows, std::uint32_t* out,
                    UndecidedRow& undecided) const;

  // The enlarging passes, a word of undecided pixels at a time.
  template <class Format>
  void DrawPassesWordByWord(std::int32_t top, const std::int32_t* sourceRows, std::uint32_t* out,
                            RowScratch& scratch) const;

#if defined(BLEED_HARDWARE_DEPOSIT)
  template <class Format>
  [[gnu::target("bmi2,popcnt")]] void SweepWordsWithHardwareDeposit(PassSteps& steps, std::uint32_t* out,
                                                                    UndecidedRow& undecided, bool sparse) const;
#endif

  template <class Format, class Deposit, class Count>
  [[gnu::always_inline]] void SweepWordsIn(PassSteps& steps, std::uint32_t* out, UndecidedRow& undecided,
                                           bool sparse, Deposit deposit, Count count) const;

  template <class Format, bool RepeatsTwice, class Deposit, class Count>
  [[gnu::always_inline]] void SweepWords(PassSteps& steps, std::uint32_t* out, UndecidedRow& undecided,
                                         bool sparse, Deposit deposit, Count count) const;

  // The passes a round of the sweep meets: enough for the loop's exits to be
  // rare, few enough for a word decided early to leave its group soon.
  static constexpr std::size_t kRoundPasses = 32;

  template <std::size_t N, class Format, bool RepeatsTwice, class Deposit, class Count>
  [[gnu::always_inline]] void MeetRound(const PassSteps& steps, std::size_t met, std::size_t end, std::size_t first,
                                        std::uint32_t* out, UndecidedRow& undecided, Deposit deposit,
                                        Count count) const;

  template <std::size_t N>
  [[gnu::always_inline]] static bool AnyOpen(const std::uint64_t* open);

  template <class Count>
  [[gnu::always_inline]] static std::uint32_t SourceOffset(const ColumnWord& columns, int bit, Count count);

  static std::uint64_t RepeatFurther(std::uint64_t painted, std::uint64_t repeats, std::int32_t longestRepeat);

  // The shrinking last pass.
  raster::SourceSpan ShrinkingSpan(std::size_t w, std::int64_t x0, int bit) const;

  raster::SourceSpan ShrinkingColumns(std::int64_t x) const;

  template <class Format>
  bool DrawShrinkingPass(std::int32_t y, std::uint32_t* out, RowScratch& scratch) const;

  static std::uint64_t SpanBits(std::int64_t x0, std::int64_t begin, std::int64_t end);

  static std::uint64_t ShiftedBits(const RowBits& bits, std::int64_t first);

  template <class Format>
  std::uint32_t BlockAnd(const std::vector<const std::uint8_t*>& lines, raster::SourceSpan columns) const;

  // The bits and tables, and the pixels when they are read here.
  void Prepare();
  void ReadPictureInChunks();
  void PublishRowsFrom(std::int32_t first);
  // Waits until the source rows the band reads are in.
  void AwaitSourceRows(const TRowBand& band) const;
  std::int32_t LowestSourceRow(std::int32_t y) const;

  // The pixels nothing paints.
  static void FillWhite(std::uint32_t* out, std::int64_t count);

  static void PaintWhite(std::uint32_t* out, UndecidedRow& undecided);

  PixelView source_;
  PassGeometry g_;
  TBleedOptions options_;
  unsigned threads_;
  NonWhiteBits nonWhite_;
  PassColumnTable columns_;
  ShrinkingPass shrinking_;
  bool hardwareDeposit_;
  TPictureReader readPicture_;
  // While the picture is read: its rows from this one on are in (memory
  // holds the bottom row first); kReadFailed, above every row, once a read
  // has failed.
  static constexpr std::int32_t kReadFailed = std::numeric_limits<std::int32_t>::max();
  std::atomic<std::int32_t> firstRowIn_;
  std::atomic<bool> stopping_{false};
  // Last: it goes first, waiting for the work on the members above.
  TBackgroundWork preparation_;
};

}  // namespace bleedborder::bleed
