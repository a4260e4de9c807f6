// Fast paths of the transfer engine for 32-bit surfaces. Each one does what
// the general path does for the transfers its predicate accepts, byte for
// byte; the differential test holds them to it.
#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bleedborder/platform/raster_transfer.h"
#include "bleedborder/platform/stretch_map.h"

namespace bleedborder::raster {
namespace {

std::uint32_t* Pixels(const Surface& s, std::int32_t y) { return reinterpret_cast<std::uint32_t*>(s.Row(y)); }

bool NoMirrorSameSize(const Transfer& t) { return t.width == t.srcWidth && t.height == t.srcHeight; }

// The destination range [begin, end) of an unscaled, unmirrored axis that has a
// source pixel, and the source position of begin.
struct Range {
  std::int32_t begin = 0, end = 0, source = 0;
  bool Empty() const { return begin >= end; }
};

Range ClipUnscaled(std::int32_t dst, std::int32_t src, std::int32_t extent, std::int32_t destLimit,
                   std::int32_t srcLimit) {
  const AxisRun d = RunOf(dst, extent);
  const AxisRun s = RunOf(src, extent);
  const std::int64_t shift = s.begin - d.begin;  // source = dest + shift
  std::int64_t begin = std::max<std::int64_t>({d.begin, 0, -shift});
  std::int64_t end = std::min<std::int64_t>({d.begin + d.length, destLimit, std::int64_t{srcLimit} - shift});
  if (begin >= end) return {};
  return {static_cast<std::int32_t>(begin), static_cast<std::int32_t>(end), static_cast<std::int32_t>(begin + shift)};
}

// ---- Solid fill ------------------------------------------------------------

void FillRow(std::uint32_t* out, std::size_t n, std::uint32_t value, bool stream) {
#if defined(__SSE2__)
  if (stream) {
    std::size_t i = 0;
    for (; i < n && (reinterpret_cast<std::uintptr_t>(out + i) & 15); ++i) out[i] = value;
    const __m128i v = _mm_set1_epi32(static_cast<int>(value));
    for (; i + 4 <= n; i += 4) _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), v);
    for (; i < n; ++i) out[i] = value;
    return;
  }
#else
  (void)stream;
#endif
  std::fill(out, out + n, value);
}

bool AppliesSolidFill(const Transfer& t) {
  if (!t.dest->plain32 || t.mask) return false;
  return t.rop == 0x00 || t.rop == 0xFF || (t.rop == 0xF0 && t.pattern.kind == PatternKind::Solid);
}

void RunSolidFill(const Transfer& t) {
  const Range xs = ClipUnscaled(t.x, t.x, t.width, t.dest->width, 0x7FFFFFFF);
  const Range ys = ClipUnscaled(t.y, t.y, t.height, t.dest->height, 0x7FFFFFFF);
  if (xs.Empty() || ys.Empty()) return;
  const std::uint32_t value = t.rop == 0x00 ? 0u : t.rop == 0xFF ? kColorMask : (t.pattern.color & kColorMask);
  const std::size_t width = static_cast<std::size_t>(xs.end - xs.begin);
  // Large fills bypass the cache, as memset does: the pixels are not read.
  const bool stream = width * static_cast<std::size_t>(ys.end - ys.begin) * 4 >= (std::size_t{4} << 20);
  for (std::int32_t y = ys.begin; y < ys.end; ++y) FillRow(Pixels(*t.dest, y) + xs.begin, width, value, stream);
#if defined(__SSE2__)
  if (stream) _mm_sfence();
#endif
}

// ---- Copy --------------------------------------------------------------------

bool AppliesCopy(const Transfer& t) {
  return t.dest->plain32 && t.source && t.source->plain32 && !t.mask && t.rop == 0xCC && NoMirrorSameSize(t);
}

void CopyPixels(std::uint32_t* out, const std::uint32_t* in, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = in[i] & kColorMask;
}

// CopyPixels with stores that bypass the cache, for copies much larger than it.
void StreamPixels(std::uint32_t* out, const std::uint32_t* in, std::size_t n) {
#if defined(__SSE2__)
  std::size_t i = 0;
  for (; i < n && (reinterpret_cast<std::uintptr_t>(out + i) & 15); ++i) out[i] = in[i] & kColorMask;
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColorMask));
  for (; i + 4 <= n; i += 4)
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), colour));
  for (; i < n; ++i) out[i] = in[i] & kColorMask;
#else
  CopyPixels(out, in, n);
#endif
}

void RunCopy(const Transfer& t) {
  const Range xs = ClipUnscaled(t.x, t.srcX, t.width, t.dest->width, t.source->width);
  const Range ys = ClipUnscaled(t.y, t.srcY, t.height, t.dest->height, t.source->height);
  if (xs.Empty() || ys.Empty()) return;
  const std::size_t width = static_cast<std::size_t>(xs.end - xs.begin);
  const bool stream = width * static_cast<std::size_t>(ys.end - ys.begin) * 4 >= (std::size_t{16} << 20);
  for (std::int32_t y = ys.begin; y < ys.end; ++y) {
    std::uint32_t* out = Pixels(*t.dest, y) + xs.begin;
    const std::uint32_t* in = Pixels(*t.source, ys.source + (y - ys.begin)) + xs.source;
    stream ? StreamPixels(out, in, width) : CopyPixels(out, in, width);
  }
#if defined(__SSE2__)
  if (stream) _mm_sfence();
#endif
}

// ---- Stretch -----------------------------------------------------------------

bool AppliesStretch(const Transfer& t) {
  return t.dest->plain32 && t.source && t.source->plain32 && !t.mask && t.rop == 0xCC;
}

// Stretching, one destination row at a time in two steps: the source rows of
// the row's block are first combined column by column into one line (AND, OR,
// or channel sums), then each destination pixel combines its columns of that
// line. Both steps are plain loops over arrays.
class Stretcher {
 public:
  Stretcher(const Transfer& t, const AxisMap& xs) : t_(t), xs_(xs) {
    std::int32_t lo = 0x7FFFFFFF, hi = 0;
    for (const SourceSpan& span : xs.spans) {
      if (span.count == 0) {
        allValid_ = false;
        continue;
      }
      lo = std::min(lo, span.first);
      hi = std::max(hi, span.first + span.count);
      single_ = single_ && span.count == 1;
      upToTwo_ = upToTwo_ && span.count <= 2;
    }
    if (lo >= hi) return;
    lo_ = lo;
    width_ = static_cast<std::size_t>(hi - lo);
    for (const SourceSpan& span : xs.spans) {
      first_.push_back(span.count ? span.first - lo : 0);
      last_.push_back(span.count ? span.first + span.count - 1 - lo : 0);
    }
  }

  // Every destination pixel of a row takes a value from the source alone.
  bool WritesWholeRows() const { return allValid_; }

  void Row(std::uint32_t* out, SourceSpan sy) {
    if (width_ == 0) return;
    if (t_.mode == StretchMode::Halftone && !(single_ && sy.count == 1)) {
      if (allValid_ && upToTwo_ && sy.count <= 2) return AverageSmallBlocks(out, sy);
      return AverageRow(out, sy);
    }
    const std::size_t n = first_.size();
    const std::int32_t* a = first_.data();
    const std::int32_t* b = last_.data();
    const bool isAnd = t_.mode != StretchMode::WhiteOnBlack;  // a single column: either gives it
    if (allValid_ && upToTwo_ && sy.count == 2) {  // 2 x 2 blocks at most: no combined line needed
      const std::uint32_t* top = Pixels(*t_.source, sy.first) + lo_;
      const std::uint32_t* bottom = Pixels(*t_.source, sy.first + 1) + lo_;
      if (isAnd) {
        for (std::size_t i = 0; i < n; ++i) out[i] = top[a[i]] & top[b[i]] & bottom[a[i]] & bottom[b[i]] & kColorMask;
      } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = (top[a[i]] | top[b[i]] | bottom[a[i]] | bottom[b[i]]) & kColorMask;
      }
      return;
    }
    const std::uint32_t* line = Line(sy);
    if (allValid_ && single_) {
      for (std::size_t i = 0; i < n; ++i) out[i] = line[a[i]] & kColorMask;
    } else if (allValid_ && upToTwo_ && isAnd) {
      for (std::size_t i = 0; i < n; ++i) out[i] = line[a[i]] & line[b[i]] & kColorMask;
    } else if (allValid_ && upToTwo_) {
      for (std::size_t i = 0; i < n; ++i) out[i] = (line[a[i]] | line[b[i]]) & kColorMask;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        if (xs_.spans[i].count == 0) continue;
        std::uint32_t acc = line[a[i]];
        for (std::int32_t x = a[i] + 1; x <= b[i]; ++x) acc = isAnd ? (acc & line[x]) : (acc | line[x]);
        out[i] = acc & kColorMask;
      }
    }
  }

 private:
  // The source rows of sy combined by the mode's operation; entry k is
  // column lo_ + k.
  const std::uint32_t* Line(SourceSpan sy) {
    const std::uint32_t* first = Pixels(*t_.source, sy.first) + lo_;
    if (sy.count == 1) return first;
    line_.assign(first, first + width_);
    std::uint32_t* acc = line_.data();
    for (std::int32_t y = sy.first + 1; y < sy.first + sy.count; ++y) {
      const std::uint32_t* in = Pixels(*t_.source, y) + lo_;
      if (t_.mode == StretchMode::WhiteOnBlack) {
        for (std::size_t x = 0; x < width_; ++x) acc[x] |= in[x];
      } else {
        for (std::size_t x = 0; x < width_; ++x) acc[x] &= in[x];
      }
    }
    return acc;
  }

  // Blocks of at most 2 x 2 pixels: 1, 2 or 4 pixels, so the mean is a
  // shift. Red and blue add up side by side in one word (their sums stay
  // below 2^10), green in another.
  void AverageSmallBlocks(std::uint32_t* out, SourceSpan sy) const {
    const std::uint32_t* rows[2] = {Pixels(*t_.source, sy.first) + lo_,
                                    Pixels(*t_.source, sy.first + sy.count - 1) + lo_};
    const int rowCount = sy.count;
    for (std::size_t i = 0; i < first_.size(); ++i) {
      const std::int32_t a = first_[i], b = last_[i];
      std::uint32_t redBlue = 0, green = 0;
      for (int r = 0; r < rowCount; ++r) {
        redBlue += (rows[r][a] & 0x00FF00FF) + (b > a ? rows[r][b] & 0x00FF00FF : 0);
        green += ((rows[r][a] >> 8) & 0xFF) + (b > a ? (rows[r][b] >> 8) & 0xFF : 0);
      }
      const int shift = (rowCount - 1) + (b > a ? 1 : 0);
      const std::uint32_t half = (1u << shift) >> 1;
      out[i] = (((redBlue + half * 0x00010001u) >> shift) & 0x00FF00FF) | ((((green + half) >> shift) & 0xFF) << 8);
    }
  }

  void AverageRow(std::uint32_t* out, SourceSpan sy) {
    sums_.assign(3 * width_, 0);
    std::uint64_t* r = sums_.data();
    std::uint64_t* g = r + width_;
    std::uint64_t* b = g + width_;
    for (std::int32_t y = sy.first; y < sy.first + sy.count; ++y) {
      const std::uint32_t* in = Pixels(*t_.source, y) + lo_;
      for (std::size_t x = 0; x < width_; ++x) {
        r[x] += (in[x] >> 16) & 0xFF;
        g[x] += (in[x] >> 8) & 0xFF;
        b[x] += in[x] & 0xFF;
      }
    }
    for (std::size_t i = 0; i < first_.size(); ++i) {
      const SourceSpan sx = xs_.spans[i];
      if (sx.count == 0) continue;
      const std::int32_t left = first_[i], right = last_[i];
      std::uint64_t sr = r[left], sg = g[left], sb = b[left];
      if (right > left) {
        sr += r[right];
        sg += g[right];
        sb += b[right];
        for (std::int32_t x = left + 1; x < right; ++x) {
          sr += r[x];
          sg += g[x];
          sb += b[x];
        }
      }
      const std::uint64_t n = static_cast<std::uint64_t>(sx.count) * static_cast<std::uint64_t>(sy.count);
      out[i] = static_cast<std::uint32_t>((Mean(sr, n) << 16) | (Mean(sg, n) << 8) | Mean(sb, n));
    }
  }

  // (sum + n / 2) / n for sums of n bytes. Below 2^16 pixels a multiply by
  // floor(2^40 / n) + 1 gives the exact quotient: the numerator is below
  // 2^24, so the error stays under 1 / n.
  std::uint64_t Mean(std::uint64_t sum, std::uint64_t n) {
    if (n != reciprocalOf_) {
      reciprocalOf_ = n;
      reciprocal_ = (std::uint64_t{1} << 40) / n + 1;
    }
    const std::uint64_t numerator = sum + n / 2;
    return n < 65536 ? (numerator * reciprocal_) >> 40 : numerator / n;
  }

  const Transfer& t_;
  const AxisMap& xs_;
  bool allValid_ = true;
  bool single_ = true;
  bool upToTwo_ = true;
  std::int32_t lo_ = 0;
  std::size_t width_ = 0;
  std::vector<std::int32_t> first_, last_;  // per destination column, relative to lo_
  std::vector<std::uint32_t> line_;
  // Column sums of a block's rows: 64 bits, since a block may be taller than
  // the 2^32 / 255 rows whose bytes 32 bits can add up.
  std::vector<std::uint64_t> sums_;
  std::uint64_t reciprocalOf_ = 0, reciprocal_ = 0;
};

void RunStretch(const Transfer& t) {
  const StretchCombine combine = t.mode == StretchMode::ColorOnColor ? StretchCombine::Nearest : StretchCombine::Block;
  const AxisMap xs = MapAxis(t.x, t.width, t.srcX, t.srcWidth, t.dest->width, t.source->width, combine);
  const AxisMap ys = MapAxis(t.y, t.height, t.srcY, t.srcHeight, t.dest->height, t.source->height, combine);
  if (xs.Empty() || ys.Empty()) return;
  Stretcher stretcher(t, xs);
  const std::size_t rowBytes = xs.spans.size() * 4;
  std::uint32_t* previousOut = nullptr;
  SourceSpan previousSpan;
  for (std::size_t k = 0; k < ys.spans.size(); ++k) {
    const SourceSpan sy = ys.spans[k];
    if (sy.count == 0) continue;
    std::uint32_t* out = Pixels(*t.dest, ys.destBegin + static_cast<std::int32_t>(k)) + xs.destBegin;
    // A row fed by the same source rows as the last one, which it wrote
    // whole, is a copy of it.
    if (stretcher.WritesWholeRows() && previousOut && previousSpan == sy) {
      std::memcpy(out, previousOut, rowBytes);
    } else {
      stretcher.Row(out, sy);
    }
    previousOut = out;
    previousSpan = sy;
  }
}

// ---- Colour to monochrome ------------------------------------------------------

bool AppliesColorToMono(const Transfer& t) {
  return t.dest->bitCount == 1 && t.source && t.source->plain32 && !t.mask && t.rop == 0xCC && NoMirrorSameSize(t);
}

// Eight pixels to one byte, the first pixel in the highest bit.
std::uint8_t MatchByte(const std::uint32_t* in, std::uint32_t key) {
#if defined(__SSE2__)
  const __m128i mask = _mm_set1_epi32(static_cast<int>(kColorMask));
  const __m128i wanted = _mm_set1_epi32(static_cast<int>(key));
  const __m128i a = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), mask), wanted);
  const __m128i b = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4)), mask), wanted);
  static constexpr std::uint8_t kReverse4[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  return static_cast<std::uint8_t>((kReverse4[_mm_movemask_ps(_mm_castsi128_ps(a))] << 4) |
                                   kReverse4[_mm_movemask_ps(_mm_castsi128_ps(b))]);
#else
  std::uint8_t byte = 0;
  for (int i = 0; i < 8; ++i) byte = static_cast<std::uint8_t>((byte << 1) | ((in[i] & kColorMask) == key));
  return byte;
#endif
}

void RunColorToMono(const Transfer& t) {
  const Range xs = ClipUnscaled(t.x, t.srcX, t.width, t.dest->width, t.source->width);
  const Range ys = ClipUnscaled(t.y, t.srcY, t.height, t.dest->height, t.source->height);
  if (xs.Empty() || ys.Empty()) return;
  const std::uint32_t key = t.sourceBackground & kColorMask;
  for (std::int32_t y = ys.begin; y < ys.end; ++y) {
    std::uint8_t* out = t.dest->Row(y);
    // in[i] feeds destination column xs.begin + i.
    const std::uint32_t* in = Pixels(*t.source, ys.source + (y - ys.begin)) + xs.source;
    std::int32_t x = xs.begin;
    for (; x < xs.end && (x & 7); ++x) WriteIndex(out, x, 1, (in[x - xs.begin] & kColorMask) == key);
    for (; x + 8 <= xs.end; x += 8) out[x >> 3] = MatchByte(in + (x - xs.begin), key);
    for (; x < xs.end; ++x) WriteIndex(out, x, 1, (in[x - xs.begin] & kColorMask) == key);
  }
}

// ---- Masked copy ---------------------------------------------------------------

bool AppliesMaskedCopy(const Transfer& t) {
  return t.dest->plain32 && t.source && t.source->plain32 && t.mask && t.mask->bitCount == 1 && t.rop == 0xAA &&
         t.backRop == 0xCC && NoMirrorSameSize(t);
}

// Eight pixels: where the mask bit (the first pixel's in the highest bit) is
// 1 the destination stays, where it is 0 the source's colour is copied.
void Blend8(std::uint32_t* out, const std::uint32_t* in, unsigned bits) {
#if defined(__SSE2__)
  const __m128i colour = _mm_set1_epi32(static_cast<int>(kColorMask));
  const __m128i firstBits = _mm_set_epi32(0x10, 0x20, 0x40, 0x80);
  const __m128i secondBits = _mm_set_epi32(0x01, 0x02, 0x04, 0x08);
  const __m128i mask = _mm_set1_epi32(static_cast<int>(bits));
  const auto blend = [&](std::uint32_t* o, const std::uint32_t* s, __m128i laneBits) {
    const __m128i keep = _mm_cmpeq_epi32(_mm_and_si128(mask, laneBits), laneBits);
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o));
    const __m128i fresh = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), colour);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_or_si128(_mm_and_si128(keep, old), _mm_andnot_si128(keep, fresh)));
  };
  blend(out, in, firstBits);
  blend(out + 4, in + 4, secondBits);
#else
  for (std::size_t k = 0; k < 8; ++k)
    if (!((bits >> (7 - k)) & 1)) out[k] = in[k] & kColorMask;
#endif
}

void RunMaskedCopy(const Transfer& t) {
  Range xs = ClipUnscaled(t.x, t.srcX, t.width, t.dest->width, t.source->width);
  Range ys = ClipUnscaled(t.y, t.srcY, t.height, t.dest->height, t.source->height);
  // The mask is a third rectangle of the same size: cut both axes to it too.
  const Range mxs = ClipUnscaled(t.x, t.maskX, t.width, t.dest->width, t.mask->width);
  const Range mys = ClipUnscaled(t.y, t.maskY, t.height, t.dest->height, t.mask->height);
  const auto intersect = [](Range a, const Range& b) {
    const std::int32_t begin = std::max(a.begin, b.begin);
    a.source += begin - a.begin;
    a.begin = begin;
    a.end = std::min(a.end, b.end);
    return a;
  };
  const std::int32_t maskShiftX = mxs.source - mxs.begin, maskShiftY = mys.source - mys.begin;
  xs = intersect(xs, mxs);
  ys = intersect(ys, mys);
  if (xs.Empty() || ys.Empty() || mxs.Empty() || mys.Empty()) return;
  const std::size_t maskBytes = (static_cast<std::size_t>(t.mask->width) + 7) / 8;
  for (std::int32_t y = ys.begin; y < ys.end; ++y) {
    std::uint32_t* out = Pixels(*t.dest, y) + xs.begin;
    const std::uint32_t* in = Pixels(*t.source, ys.source + (y - ys.begin)) + xs.source;
    const std::uint8_t* maskRow = t.mask->Row(y + maskShiftY);
    std::int32_t x = xs.begin;
    while (x < xs.end) {
      const std::int64_t bit = std::int64_t{x} + maskShiftX;
      const std::size_t byteIndex = static_cast<std::size_t>(bit >> 3);
      const int offset = static_cast<int>(bit & 7);
      if (x + 8 <= xs.end && (offset == 0 || byteIndex + 1 < maskBytes)) {
        const unsigned window = (unsigned{maskRow[byteIndex]} << 8) | (offset ? maskRow[byteIndex + 1] : 0u);
        const unsigned bits = (window >> (8 - offset)) & 0xFF;
        const std::size_t i = static_cast<std::size_t>(x - xs.begin);
        if (bits == 0) {
          CopyPixels(out + i, in + i, 8);
        } else if (bits != 0xFF) {
          Blend8(out + i, in + i, bits);
        }
        x += 8;
      } else {
        const std::size_t i = static_cast<std::size_t>(x - xs.begin);
        if (!ReadIndex(maskRow, static_cast<std::int32_t>(bit), 1)) out[i] = in[i] & kColorMask;
        ++x;
      }
    }
  }
}

struct FastPath {
  const char* name;
  bool (*applies)(const Transfer&);
  void (*run)(const Transfer&);
};

// First match wins: copy before the general stretch.
constexpr FastPath kFastPaths[] = {
    {"solid_fill", AppliesSolidFill, RunSolidFill},
    {"copy", AppliesCopy, RunCopy},
    {"stretch", AppliesStretch, RunStretch},
    {"color_to_mono", AppliesColorToMono, RunColorToMono},
    {"masked_copy", AppliesMaskedCopy, RunMaskedCopy},
};

const FastPath* Find(const Transfer& t) {
  for (const FastPath& path : kFastPaths)
    if (path.applies(t)) return &path;
  return nullptr;
}

}  // namespace

bool RunFast(const Transfer& t) {
  const FastPath* path = Find(t);
  if (!path) return false;
  path->run(t);
  return true;
}

const char* FastPathName(const Transfer& t) {
  const FastPath* path = Find(t);
  return path ? path->name : nullptr;
}

}  // namespace bleedborder::raster
