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

class Painter {
 public:
  Painter(std::int32_t width, std::int32_t height, const Color* table, Surface& out)
      : width_(width < out.width ? width : out.width), height_(height), table_(table), out_(out) {}

  // x and line stay small: each code moves them by at most 255.
  void Put(std::uint32_t index) {
    if (x_ < width_ && line_ < height_) {
      const std::int64_t row = height_ - 1 - line_;
      if (row < out_.height) WriteNative(out_, out_.Row(static_cast<std::int32_t>(row)), static_cast<std::int32_t>(x_), table_[index]);
    }
    ++x_;
  }
  void EndOfLine() {
    x_ = 0;
    ++line_;
  }
  void Delta(std::uint8_t dx, std::uint8_t dy) {
    x_ += dx;
    line_ += dy;
  }
  bool PastLastRow() const { return line_ >= height_; }

 private:
  std::int64_t width_;
  std::int64_t height_;
  std::int64_t x_ = 0;
  std::int64_t line_ = 0;
  const Color* table_;
  Surface& out_;
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
      for (std::size_t i = 0; i < count; ++i) paint.Put(rle4 ? Nibble(code, i) : code);
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
        for (std::size_t i = 0; i < pixels; ++i) paint.Put(rle4 ? Nibble(run[i / 2], i) : run[i]);
        if (available < bytes) return;  // the data ended inside the run
        in.Skip(bytes + (bytes & 1));
      }
    }
  }
}

}  // namespace bleedborder::raster
