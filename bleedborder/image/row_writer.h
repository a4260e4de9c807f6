#pragma once
// Writes an image's pixel rows to a stream in the order its memory holds them,
// a band at a time, without the image's pixels ever being held whole: a few
// threads each render the next band into a buffer of their own while one of
// them writes. A band is a run of whole rows or, for a row wider than a band,
// a run of one row's columns; so the buffers hold at most a band each,
// whatever the image's shape.
#include <cstdint>
#include <functional>
#include <vector>

namespace bleedborder {

class TStream;

// The rows as written: a row of memory is stride bytes, the pixels and then
// padding (written as 0).
struct TRowLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bytesPerPixel = 4;
  std::int64_t stride = 0;
  bool topDown = false;  // memory holds the top row first
};

// A band to render: columns [first, end) of rows device rows (0 the top
// row), firstY first, then firstY + yStep and so on (yStep is -1 for rows
// bottom up in memory); row i into out + i * stride (stride may be
// negative).
struct TRowBand {
  std::int32_t firstY = 0;
  std::int32_t rows = 0;
  std::int32_t yStep = 1;
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::uint8_t* out = nullptr;
  std::int64_t stride = 0;
};

class TBandedRowWriter {
 public:
  // Renders a band; worker: which of the Workers() renders it.
  using TRenderBand = std::function<void(unsigned worker, const TRowBand& band)>;

  // bandBytes: the most pixel bytes a worker renders before they are
  // written; a part of a row starts on a multiple of columnAlignment columns.
  // threads: at most this many workers (0 as 1). A layout without rows or
  // columns has no bands and writes nothing.
  TBandedRowWriter(const TRowLayout& layout, std::int64_t bandBytes, std::int64_t columnAlignment, unsigned threads);

  // The workers, no more than the bands; and the most columns one renders at once.
  unsigned Workers() const { return static_cast<unsigned>(buffers_.size()); }
  std::int64_t WidestPart() const { return columnsPerBand_; }
  // Bytes written: stride * height.
  std::int64_t Bytes() const { return layout_.stride * layout_.height; }

  void Write(TStream& stream, const TRenderBand& render);

 private:
  // A band's rows (in memory order) and columns.
  struct Extent {
    std::int32_t firstRow, rows;
    std::int64_t first, end;
  };

  std::int32_t Bands() const;
  Extent ExtentOf(std::int32_t band) const;
  void Render(unsigned worker, std::int32_t band, const TRenderBand& render);
  void WriteBand(TStream& stream, unsigned worker, std::int32_t band) const;

  TRowLayout layout_;
  std::int32_t rowsPerBand_ = 1;
  std::int64_t columnsPerBand_ = 1;
  std::int64_t bandsPerRow_ = 1;
  std::vector<std::vector<std::uint8_t>> buffers_;
};

}  // namespace bleedborder
