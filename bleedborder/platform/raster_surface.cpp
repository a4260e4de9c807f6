#include "bleedborder/platform/raster_surface.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace bleedborder::raster {

Channel MakeChannel(std::uint32_t mask) {
  if (mask == 0) return {};
  const std::uint32_t shift = static_cast<std::uint32_t>(std::countr_zero(mask));
  return {mask, shift, mask >> shift};
}

std::uint32_t DefaultMask(int bitCount, int channel) {
  static constexpr std::uint32_t k16[3] = {0x7C00, 0x03E0, 0x001F};
  static constexpr std::uint32_t k32[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  return bitCount == 16 ? k16[channel] : k32[channel];
}

void SetMasks(Surface& surface, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  surface.red = MakeChannel(red);
  surface.green = MakeChannel(green);
  surface.blue = MakeChannel(blue);
  surface.plain32 = surface.bitCount == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
}

Color DecodeMasked(const Surface& s, std::uint32_t pixel) {
  const auto channel = [pixel](const Channel& c) { return WidenChannel((pixel & c.mask) >> c.shift, c.max); };
  return (channel(s.red) << 16) | (channel(s.green) << 8) | channel(s.blue);
}

std::uint32_t EncodeMasked(const Surface& s, Color c) {
  const auto channel = [](const Channel& ch, std::uint32_t v8) {
    return (NarrowChannel(v8, ch.max) << ch.shift) & ch.mask;
  };
  return channel(s.red, (c >> 16) & 0xFF) | channel(s.green, (c >> 8) & 0xFF) | channel(s.blue, c & 0xFF);
}

namespace {

std::uint32_t Distance(Color a, Color b) {
  const int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  const int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
}

constexpr std::uint32_t kNotBuilt = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::uint32_t NearestEntry(const Color* table, std::uint32_t count, Color c) {
  std::uint32_t best = 0;
  std::uint32_t bestDistance = std::numeric_limits<std::uint32_t>::max();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t d = Distance(table[i], c);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

NearestIndex::NearestIndex(const Color* table, std::uint32_t count)
    : table_(table, table + std::min<std::uint32_t>(count, 256)) {
  if (table_.empty()) table_.push_back(0);
  const std::size_t cells = std::size_t{1} << (3 * kCellBits);
  cellStart_.assign(cells, kNotBuilt);
  cellCount_.assign(cells, 0);
}

std::uint32_t NearestIndex::Scan(Color c, const std::uint8_t* candidates, std::size_t n) const {
  std::uint32_t best = candidates[0];
  std::uint32_t bestDistance = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t d = Distance(table_[candidates[k]], c);
    if (d < bestDistance) {
      bestDistance = d;
      best = candidates[k];
    }
  }
  return best;
}

// A cell's candidates are the entries that can be nearest to some colour of
// the cell: those whose least distance to the cell does not exceed the
// smallest greatest distance of any entry. Kept in index order, so that the
// scan keeps the lowest index on ties.
void NearestIndex::BuildCell(std::size_t cell) {
  constexpr int kShift = 8 - kCellBits;
  const int lo[3] = {static_cast<int>((cell >> (2 * kCellBits)) & 0xF) << kShift,
                     static_cast<int>((cell >> kCellBits) & 0xF) << kShift, static_cast<int>(cell & 0xF) << kShift};
  std::vector<std::uint32_t> least(table_.size());
  std::uint32_t bound = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < table_.size(); ++i) {
    const int value[3] = {static_cast<int>((table_[i] >> 16) & 0xFF), static_cast<int>((table_[i] >> 8) & 0xFF),
                          static_cast<int>(table_[i] & 0xFF)};
    std::uint32_t nearSum = 0;
    std::uint32_t farSum = 0;
    for (int ch = 0; ch < 3; ++ch) {
      const int low = lo[ch];
      const int high = lo[ch] + (1 << kShift) - 1;
      const int nearGap = value[ch] < low ? low - value[ch] : (value[ch] > high ? value[ch] - high : 0);
      const int farGap = std::max(value[ch] - low, high - value[ch]);
      nearSum += static_cast<std::uint32_t>(nearGap * nearGap);
      farSum += static_cast<std::uint32_t>(farGap * farGap);
    }
    least[i] = nearSum;
    bound = std::min(bound, farSum);
  }
  cellStart_[cell] = static_cast<std::uint32_t>(candidates_.size());
  for (std::size_t i = 0; i < table_.size(); ++i)
    if (least[i] <= bound) candidates_.push_back(static_cast<std::uint8_t>(i));
  cellCount_[cell] = static_cast<std::uint16_t>(candidates_.size() - cellStart_[cell]);
}

std::uint32_t NearestIndex::Find(Color c) {
  c &= kColorMask;
  if (c == lastKey_) return lastIndex_;
  constexpr int kShift = 8 - kCellBits;
  const std::size_t cell = (static_cast<std::size_t>((c >> (16 + kShift)) & 0xF) << (2 * kCellBits)) |
                           (static_cast<std::size_t>((c >> (8 + kShift)) & 0xF) << kCellBits) |
                           static_cast<std::size_t>((c >> kShift) & 0xF);
  if (cellStart_[cell] == kNotBuilt) BuildCell(cell);
  lastKey_ = c;
  lastIndex_ = Scan(c, candidates_.data() + cellStart_[cell], cellCount_[cell]);
  return lastIndex_;
}

namespace {

// Every pixel but the last is read as four bytes (the fourth belongs to the
// next pixel); the last is read byte by byte.
void Widen24To32Portable(const std::uint8_t* in, std::uint32_t* out, std::int32_t count) {
  if (count <= 0) return;
  for (std::int32_t x = 0; x + 1 < count; ++x, in += 3) {
    std::uint32_t pixel;
    std::memcpy(&pixel, in, sizeof pixel);
    out[x] = pixel & kColorMask;
  }
  out[count - 1] = in[0] | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RASTER_SHUFFLE_WIDENING 1
// Four pixels per shuffle of a 16-byte load, as long as the load stays
// within the pixels; the rest as above.
[[gnu::target("ssse3")]] void Widen24To32Shuffled(const std::uint8_t* in, std::uint32_t* out, std::int32_t count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  std::int32_t x = 0;
  // 3x + 16 <= 3 * count while x + 6 <= count.
  for (; x + 6 <= count; x += 4) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + std::ptrdiff_t{3} * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_shuffle_epi8(bytes, spread));
  }
  Widen24To32Portable(in + std::ptrdiff_t{3} * x, out + x, count - x);
}
#endif

}  // namespace

void Widen24To32(const std::uint8_t* in, std::uint32_t* out, std::int32_t count) {
#if defined(RASTER_SHUFFLE_WIDENING)
  static const bool shuffles = __builtin_cpu_supports("ssse3");
  if (shuffles) return Widen24To32Shuffled(in, out, count);
#endif
  Widen24To32Portable(in, out, count);
}

}  // namespace bleedborder::raster
