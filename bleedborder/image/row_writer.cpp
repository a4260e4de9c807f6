#include "bleedborder/image/row_writer.h"

#include <algorithm>
#include <array>

#include "bleedborder/core/parallel.h"
#include "bleedborder/core/stream.h"

namespace bleedborder {

TBandedRowWriter::TBandedRowWriter(const TRowLayout& layout, std::int64_t bandBytes, std::int64_t columnAlignment,
                                   unsigned threads)
    : layout_(layout) {
  if (layout.width <= 0 || layout.height <= 0) return;  // no rows: no bands, nothing written
  const std::int64_t width = layout.width;
  const std::int64_t rowBytes = layout.stride;
  if (rowBytes > bandBytes) {
    rowsPerBand_ = 1;
    const std::int64_t parts = std::max<std::int64_t>(bandBytes / layout.bytesPerPixel / columnAlignment, 1);
    columnsPerBand_ = std::min(width, parts * columnAlignment);
  } else {
    rowsPerBand_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(bandBytes / rowBytes, 1, layout.height));
    columnsPerBand_ = width;
  }
  bandsPerRow_ = (width + columnsPerBand_ - 1) / columnsPerBand_;
  // The buffers are made here, before anything is written.
  const auto workers = static_cast<std::size_t>(std::min<std::int64_t>(std::max(threads, 1u), Bands()));
  const std::int64_t bufferBytes = bandsPerRow_ == 1 ? rowsPerBand_ * rowBytes : columnsPerBand_ * layout.bytesPerPixel;
  buffers_.assign(workers, std::vector<std::uint8_t>(static_cast<std::size_t>(bufferBytes)));
}

// Fewer than 2^31 for the rows of a BMP file (at most 2^32 bytes) in bands of
// at least 256 bytes.
std::int32_t TBandedRowWriter::Bands() const {
  if (layout_.width <= 0 || layout_.height <= 0) return 0;
  const std::int64_t rowBands = (layout_.height + rowsPerBand_ - 1) / rowsPerBand_;
  return static_cast<std::int32_t>(rowBands * bandsPerRow_);
}

TBandedRowWriter::Extent TBandedRowWriter::ExtentOf(std::int32_t band) const {
  const std::int32_t firstRow = static_cast<std::int32_t>(band / bandsPerRow_) * rowsPerBand_;
  const std::int64_t first = band % bandsPerRow_ * columnsPerBand_;
  return {firstRow, std::min(rowsPerBand_, layout_.height - firstRow), first,
          std::min<std::int64_t>(first + columnsPerBand_, layout_.width)};
}

void TBandedRowWriter::Write(TStream& stream, const TRenderBand& render) {
  if (buffers_.empty()) return;
  ShareOutInOrder(
      Bands(), 1, Workers(), [&](unsigned worker, std::int32_t band, std::int32_t) { Render(worker, band, render); },
      [&](unsigned worker, std::int32_t band, std::int32_t) { WriteBand(stream, worker, band); });
}

// Whole rows go in at their stride, the padding left 0; a part of a row from
// the buffer's start.
void TBandedRowWriter::Render(unsigned worker, std::int32_t band, const TRenderBand& render) {
  const Extent extent = ExtentOf(band);
  const std::int32_t firstY = layout_.topDown ? extent.firstRow : layout_.height - 1 - extent.firstRow;
  render(worker, {firstY, extent.rows, layout_.topDown ? 1 : -1, extent.first, extent.end, buffers_[worker].data(),
                  layout_.stride});
}

void TBandedRowWriter::WriteBand(TStream& stream, unsigned worker, std::int32_t band) const {
  const Extent extent = ExtentOf(band);
  const std::uint8_t* buffer = buffers_[worker].data();
  if (bandsPerRow_ == 1) return stream.WriteBuffer(buffer, extent.rows * layout_.stride);
  stream.WriteBuffer(buffer, (extent.end - extent.first) * layout_.bytesPerPixel);
  if (extent.end != layout_.width) return;
  // The row's padding after its last part.
  static constexpr std::array<std::uint8_t, 16> kZeros{};
  for (std::int64_t padding = layout_.stride - std::int64_t{layout_.width} * layout_.bytesPerPixel; padding > 0;
       padding -= std::ssize(kZeros))
    stream.WriteBuffer(kZeros.data(), std::min(padding, std::int64_t{std::ssize(kZeros)}));
}

}  // namespace bleedborder
