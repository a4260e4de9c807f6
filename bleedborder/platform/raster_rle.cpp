#include "bleedborder/platform/raster_rle.h"

namespace bleedborder::raster {
namespace {

// Reads the code stream; every read first asks whether the bytes are there.
class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Has(std::size_t n) const { return size_ - pos_ >= n; }
  std::uint8_t Next() { return data_[pos_++]; }
  std::size_t Remaining() const { return size_ - pos_; }
  void Skip(std::size_t n) { pos_ += n <= Remaining() ? n : Remaining(); }
  const std::uint8_t* Here() const { return data_ + pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Paints the decoded pixels, clipped to the picture and to out. The row being
// painted is found once per line; a run of one colour on a plain 32-bit
// surface (the device's own bitmaps) is one fill.
class Painter {
 public:
  Painter(std::int32_t width, std::int32_t height, const Color* table, Surface& out)
      : width_(width < out.width ? width : out.width), height_(height), table_(table), out_(out),
        plain32_(out.bitCount == 32 && out.plain32) {
    FindRow();
  }

  // count pixels of the colours of indexes first and second, alternating
  // (a run of RLE4 codes; RLE8 gives the same index twice).
  void Run(std::uint32_t first, std::uint32_t second, std::size_t count) {
    const std::int64_t end = VisibleEnd(count);
    const Color colors[2] = {table_[first], table_[second]};
    if (plain32_ && colors[0] == colors[1]) {
      auto* pixels = reinterpret_cast<std::uint32_t*>(row_);
      for (std::int64_t x = x_; x < end; ++x) pixels[x] = colors[0] & kColorMask;
    } else {
      for (std::int64_t x = x_; x < end; ++x) Write(x, colors[(x - x_) & 1]);
    }
    x_ += static_cast<std::int64_t>(count);
  }
  // An absolute run: the pixels of indexes given one by one.
  template <class IndexOf>
  void Absolute(std::size_t count, IndexOf indexOf) {
    const std::int64_t end = VisibleEnd(count);
    for (std::int64_t x = x_; x < end; ++x) Write(x, table_[indexOf(static_cast<std::size_t>(x - x_))]);
    x_ += static_cast<std::int64_t>(count);
  }
  void EndOfLine() {
    x_ = 0;
    ++line_;
    FindRow();
  }
  void Delta(std::uint8_t dx, std::uint8_t dy) {
    x_ += dx;
    line_ += dy;
    FindRow();
  }
  bool PastLastRow() const { return line_ >= height_; }

 private:
  // Lines count up from the picture's bottom row; x and line stay small: each
  // code moves them by at most 255.
  void FindRow() {
    const std::int64_t row = height_ - 1 - line_;
    row_ = line_ < height_ && row < out_.height ? out_.Row(static_cast<std::int32_t>(row)) : nullptr;
  }
  // The end of the visible part of the next count pixels, x_ when none is.
  std::int64_t VisibleEnd(std::size_t count) const {
    if (!row_ || x_ >= width_) return x_;
    const std::int64_t end = x_ + static_cast<std::int64_t>(count);
    return end < width_ ? end : width_;
  }
  void Write(std::int64_t x, Color color) {
    if (plain32_) {
      reinterpret_cast<std::uint32_t*>(row_)[x] = color & kColorMask;
    } else {
      WriteNative(out_, row_, static_cast<std::int32_t>(x), color);
    }
  }

  std::int64_t width_;
  std::int64_t height_;
  std::int64_t x_ = 0;
  std::int64_t line_ = 0;
  const Color* table_;
  Surface& out_;
  bool plain32_;
  std::uint8_t* row_ = nullptr;
};

std::uint32_t Nibble(std::uint8_t byte, std::size_t i) { return (i & 1) ? (byte & 0xF) : (byte >> 4); }

}  // namespace

void DecodeRle(const std::uint8_t* data, std::size_t size, bool rle4, std::int32_t width, std::int32_t height,
               const Color* table, Surface& out) {
  Cursor in(data, size);
  Painter paint(width, height, table, out);
  while (!paint.PastLastRow() && in.Has(2)) {
    const std::uint8_t count = in.Next();
    const std::uint8_t code = in.Next();
    if (count > 0) {  // encoded run: count pixels of one byte
      if (rle4) {
        paint.Run(Nibble(code, 0), Nibble(code, 1), count);
      } else {
        paint.Run(code, code, count);
      }
      continue;
    }
    switch (code) {
      case 0: paint.EndOfLine(); break;
      case 1: return;  // end of bitmap
      case 2: {        // delta: right and up
        if (!in.Has(2)) return;
        const std::uint8_t dx = in.Next();
        const std::uint8_t dy = in.Next();
        paint.Delta(dx, dy);
        break;
      }
      default: {  // absolute run of code pixels, padded to a 16-bit boundary
        const std::size_t bytes = rle4 ? (code + 1u) / 2 : code;
        const std::size_t available = bytes <= in.Remaining() ? bytes : in.Remaining();
        const std::uint8_t* run = in.Here();
        const std::size_t pixels = rle4 ? (available * 2 < code ? available * 2 : code) : available;
        if (rle4) {
          paint.Absolute(pixels, [run](std::size_t i) { return Nibble(run[i / 2], i); });
        } else {
          paint.Absolute(pixels, [run](std::size_t i) { return std::uint32_t{run[i]}; });
        }
        if (available < bytes) return;  // the data ended inside the run
        in.Skip(bytes + (bytes & 1));
      }
    }
  }
}

}  // namespace bleedborder::raster
