// The banded row writer against the rows written one after another: every
// byte in memory order, padding 0, for bands of whole rows and of parts of a
// row, on one thread and several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bleedborder/core/stream.h"
#include "bleedborder/image/row_writer.h"

using namespace bleedborder;

namespace {

// A byte of pixel x of device row y: where it lands shows any mix-up.
std::uint8_t ByteOf(std::int32_t y, std::int64_t x, std::int32_t i) {
  return static_cast<std::uint8_t>(y * 31 + x * 7 + i * 3 + 1);
}

std::vector<std::uint8_t> Expected(const TRowLayout& layout) {
  std::vector<std::uint8_t> bytes;
  for (std::int32_t memoryRow = 0; memoryRow < layout.height; ++memoryRow) {
    const std::int32_t y = layout.topDown ? memoryRow : layout.height - 1 - memoryRow;
    for (std::int64_t x = 0; x < layout.width; ++x)
      for (std::int32_t i = 0; i < layout.bytesPerPixel; ++i) bytes.push_back(ByteOf(y, x, i));
    bytes.resize(bytes.size() + static_cast<std::size_t>(layout.stride - std::int64_t{layout.width} * layout.bytesPerPixel));
  }
  return bytes;
}

TEST(RowWriter, WritesTheRowsInMemoryOrderWhateverTheBands) {
  const struct {
    TRowLayout layout;
    std::int64_t bandBytes, alignment;
    unsigned threads;
  } cases[] = {
      {{5, 7, 3, 16, false}, 48, 1, 1},      // bands of three rows, padding, bottom up
      {{5, 7, 3, 16, true}, 1 << 20, 1, 2},  // one band
      {{100, 3, 3, 300, false}, 64, 4, 2},   // parts of 20 columns, no padding
      {{101, 4, 3, 304, true}, 64, 4, 3},    // parts, then a row's padding after its last
      {{300, 2, 4, 1200, false}, 256, 64, 2},
      {{1, 9, 4, 4, false}, 4, 64, 2},       // a band a row
      {{7, 3, 3, 24, true}, 1 << 20, 1, 0},  // threads 0: one worker
      {{0, 5, 4, 0, false}, 256, 64, 2},     // no columns, no rows: nothing written
      {{5, 0, 4, 20, false}, 256, 64, 2},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.layout.width) + "x" + std::to_string(c.layout.height) + ", band " +
                             std::to_string(c.bandBytes) + ", threads " + std::to_string(c.threads);
    TBandedRowWriter writer(c.layout, c.bandBytes, c.alignment, c.threads);
    EXPECT_LE(writer.Workers(), std::max(c.threads, 1u)) << what;
    EXPECT_EQ(writer.Bytes(), c.layout.stride * c.layout.height) << what;
    TMemoryStream stream;
    writer.Write(stream, [&](unsigned worker, const TRowBand& band) {
      EXPECT_LT(worker, writer.Workers());
      EXPECT_EQ(band.first % c.alignment, 0) << what;
      EXPECT_LE(band.end - band.first, writer.WidestPart()) << what;
      std::int32_t y = band.firstY;
      for (std::int32_t row = 0; row < band.rows; ++row, y += band.yStep) {
        std::uint8_t* out = band.out + row * band.stride;
        for (std::int64_t x = band.first; x < band.end; ++x)
          for (std::int32_t i = 0; i < c.layout.bytesPerPixel; ++i) *out++ = ByteOf(y, x, i);
      }
    });
    EXPECT_TRUE(stream.Bytes() == Expected(c.layout)) << what;
  }
}

}  // namespace
