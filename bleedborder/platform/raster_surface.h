#pragma once
// Pixel surfaces of the raster device and the per-pixel rules every path
// shares: reading and writing pixels of each format, widening and narrowing
// channels, and matching a colour to a colour table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bleedborder::raster {

// A colour as a 32-bit pixel holds it: 0x00RRGGBB (blue in the lowest byte).
using Color = std::uint32_t;
constexpr Color kColorMask = 0x00FFFFFF;

// The platform's colour reference (red in the lowest byte) and back.
constexpr Color FromColorRef(std::uint32_t ref) {
  return ((ref & 0xFF) << 16) | (ref & 0xFF00) | ((ref >> 16) & 0xFF);
}
constexpr std::uint32_t ToColorRef(Color c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// One colour channel of a 16- or 32-bit pixel: value = (pixel & mask) >> shift,
// full intensity = max.
struct Channel {
  std::uint32_t mask = 0;
  std::uint32_t shift = 0;
  std::uint32_t max = 0;
};
Channel MakeChannel(std::uint32_t mask);

// An n-bit channel value widened to 8 bits, and back (see RASTER.md).
constexpr std::uint32_t WidenChannel(std::uint32_t v, std::uint32_t max) {
  return max == 0 ? 0 : static_cast<std::uint32_t>((std::uint64_t{v} * 255 + max / 2) / max);
}
constexpr std::uint32_t NarrowChannel(std::uint32_t v8, std::uint32_t max) {
  return static_cast<std::uint32_t>((std::uint64_t{v8} * max + 127) / 255);
}

// A view of pixel memory. Rows are addressed in device order (0 = top);
// bottomUp says that the first row in memory is the bottom one.
struct Surface {
  std::int32_t width = 0;
  std::int32_t height = 0;
  int bitCount = 0;  // 1, 4, 8, 16, 24 or 32
  std::size_t stride = 0;
  std::uint8_t* bits = nullptr;
  bool bottomUp = false;
  // A monochrome device-dependent bitmap: its bits have no colours of their
  // own (the transfer's text and background colours give them).
  bool deviceMono = false;
  // 16 and 32 bits.
  Channel red, green, blue;
  // 32 bits with masks 0xFF0000, 0xFF00, 0xFF: the pixel is the colour.
  bool plain32 = false;
  // Up to 8 bits: the colours of the indices; entries past tableCount are black.
  std::array<Color, 256> table{};
  std::uint32_t tableCount = 0;

  bool Indexed() const { return bitCount <= 8; }
  std::uint8_t* Row(std::int32_t y) const {
    const std::size_t memoryRow = static_cast<std::size_t>(bottomUp ? height - 1 - y : y);
    return bits + memoryRow * stride;
  }
  // Every value of the ternary operations' domain: the index bits, or 24
  // colour bits.
  std::uint32_t DomainMask() const { return Indexed() ? (1u << bitCount) - 1 : kColorMask; }
};

// Sets the channel masks of a 16- or 32-bit surface.
void SetMasks(Surface& surface, std::uint32_t red, std::uint32_t green, std::uint32_t blue);
// The mask of BI_RGB data: 5-5-5 at 16 bits, 8-8-8 at 32; channel 0 red, 1 green, 2 blue.
std::uint32_t DefaultMask(int bitCount, int channel);

// Native values: the index for surfaces of 8 bits or fewer, the colour otherwise.
inline std::uint32_t ReadIndex(const std::uint8_t* row, std::int32_t x, int bitCount) {
  switch (bitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu;
    default: return row[x];
  }
}
inline void WriteIndex(std::uint8_t* row, std::int32_t x, int bitCount, std::uint32_t v) {
  switch (bitCount) {
    case 1: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
      row[x >> 3] = static_cast<std::uint8_t>((v & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
      break;
    }
    case 4: {
      const int shift = (x & 1) ? 0 : 4;
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & ~(0xF << shift)) | ((v & 0xF) << shift));
      break;
    }
    default: row[x] = static_cast<std::uint8_t>(v);
  }
}

Color DecodeMasked(const Surface& s, std::uint32_t pixel);
std::uint32_t EncodeMasked(const Surface& s, Color c);

inline std::uint32_t ReadNative(const Surface& s, const std::uint8_t* row, std::int32_t x) {
  switch (s.bitCount) {
    case 1:
    case 4:
    case 8: return ReadIndex(row, x, s.bitCount);
    case 16: {
      const std::uint8_t* p = row + 2 * static_cast<std::size_t>(x);
      return DecodeMasked(s, static_cast<std::uint32_t>(p[0] | (p[1] << 8)));
    }
    case 24: {
      const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      return static_cast<Color>(p[0] | (p[1] << 8) | (p[2] << 16));
    }
    default: {
      const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
      const std::uint32_t v = static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (std::uint32_t{p[3]} << 24);
      return s.plain32 ? (v & kColorMask) : DecodeMasked(s, v);
    }
  }
}

inline void WriteNative(const Surface& s, std::uint8_t* row, std::int32_t x, std::uint32_t v) {
  switch (s.bitCount) {
    case 1:
    case 4:
    case 8: WriteIndex(row, x, s.bitCount, v); break;
    case 16: {
      const std::uint32_t e = EncodeMasked(s, v);
      std::uint8_t* p = row + 2 * static_cast<std::size_t>(x);
      p[0] = static_cast<std::uint8_t>(e);
      p[1] = static_cast<std::uint8_t>(e >> 8);
      break;
    }
    case 24: {
      std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v >> 16);
      break;
    }
    default: {
      const std::uint32_t e = s.plain32 ? (v & kColorMask) : EncodeMasked(s, v);
      std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
      p[0] = static_cast<std::uint8_t>(e);
      p[1] = static_cast<std::uint8_t>(e >> 8);
      p[2] = static_cast<std::uint8_t>(e >> 16);
      p[3] = static_cast<std::uint8_t>(e >> 24);
    }
  }
}

// The colour of a native value of s; a monochrome device bitmap's bits are
// black (0) and white (1) here.
inline Color NativeColor(const Surface& s, std::uint32_t v) {
  if (!s.Indexed()) return v;
  if (s.deviceMono) return v ? kColorMask : 0;
  return s.table[v & 0xFF];
}

// The colour of the pixel at (x, y) of s, inside it.
inline Color PixelColor(const Surface& s, std::int32_t x, std::int32_t y) {
  return NativeColor(s, ReadNative(s, s.Row(y), x));
}

// Nearest entry of a colour table by squared distance, the lowest index on
// ties. Lookups are exact; a grid of candidate lists, built on demand, keeps
// them fast for colour-rich pictures.
class NearestIndex {
 public:
  explicit NearestIndex(const Color* table, std::uint32_t count);
  std::uint32_t Find(Color c);

 private:
  static constexpr int kCellBits = 4;  // 16 x 16 x 16 cells of 16^3 colours
  std::uint32_t Scan(Color c, const std::uint8_t* candidates, std::size_t n) const;
  void BuildCell(std::size_t cell);
  std::vector<Color> table_;
  std::vector<std::uint32_t> cellStart_;  // per cell: offset into candidates_, or ~0 when not built
  std::vector<std::uint16_t> cellCount_;
  std::vector<std::uint8_t> candidates_;
  std::uint32_t lastKey_ = 0xFFFFFFFF;
  std::uint32_t lastIndex_ = 0;
};

// The index of the table entry nearest to c (a plain scan; for single lookups).
std::uint32_t NearestEntry(const Color* table, std::uint32_t count, Color c);

// count 24-bit pixels as 32-bit ones, the fourth byte 0. No byte past the
// count pixels is read, so a row may end its block. Uses the processor's byte
// shuffle where it has one.
void Widen24To32(const std::uint8_t* in, std::uint32_t* out, std::int32_t count);

}  // namespace bleedborder::raster
