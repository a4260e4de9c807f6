#include "bleedborder/platform/raster_transfer.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "bleedborder/platform/stretch_map.h"

namespace bleedborder::raster {

bool HatchBit(int hatch, int column, int row) {
  switch (hatch) {
    case 0: return row == 0;                                // horizontal
    case 1: return column == 0;                             // vertical
    case 2: return column == row;                           // forward diagonal, top left to bottom right
    case 3: return column + row == 7;                       // backward diagonal
    case 4: return row == 0 || column == 0;                 // cross
    case 5: return column == row || column + row == 7;      // diagonal cross
    default: return false;
  }
}

namespace {

StretchCombine CombineOf(StretchMode mode) {
  return mode == StretchMode::ColorOnColor ? StretchCombine::Nearest : StretchCombine::Block;
}

int Mod8(std::int64_t v) { return static_cast<int>(((v % 8) + 8) % 8); }

// Turns colours and source values into values of the destination's domain.
class DestDomain {
 public:
  explicit DestDomain(const Transfer& t) : t_(t), dest_(*t.dest) {
    if (dest_.Indexed() && !dest_.deviceMono && dest_.bitCount > 1)
      nearest_ = std::make_unique<NearestIndex>(dest_.table.data(), std::max<std::uint32_t>(dest_.tableCount, 1));
  }

  // A colour drawn by the brush or given as a constant: the nearest colour
  // the destination holds.
  std::uint32_t FromDrawnColor(Color c) const {
    c &= kColorMask;
    if (!dest_.Indexed()) return c;
    if (dest_.deviceMono) {
      static constexpr Color kMono[2] = {0, kColorMask};
      return NearestEntry(kMono, 2, c);
    }
    return NearestEntry(dest_.table.data(), std::max<std::uint32_t>(dest_.tableCount, 1), c);
  }

  // A colour coming from the source.
  std::uint32_t FromSourceColor(Color c) {
    c &= kColorMask;
    if (!dest_.Indexed()) return c;
    if (dest_.bitCount == 1) return c == (t_.sourceBackground & kColorMask) ? 1u : 0u;
    return nearest_->Find(c);
  }

 private:
  const Transfer& t_;
  const Surface& dest_;
  std::unique_ptr<NearestIndex> nearest_;  // colours to indices of more than 1 bit
};

// Source values of the transfer as colours and as destination values.
class SourceReader {
 public:
  SourceReader(const Transfer& t, DestDomain& domain) : t_(t), src_(*t.source), domain_(domain) {
    if (src_.Indexed()) {
      const std::uint32_t n = 1u << src_.bitCount;
      for (std::uint32_t v = 0; v < n; ++v) {
        colorOf_[v] = ColorOf(v);
        destOf_[v] = (src_.deviceMono && t.dest->bitCount == 1) ? v : domain.FromSourceColor(colorOf_[v]);
      }
    }
  }

  Color ColorOf(std::uint32_t native) const {
    if (!src_.Indexed()) return native;
    if (src_.deviceMono) return (native ? t_.destBackground : t_.destText) & kColorMask;
    return src_.table[native & 0xFF];
  }

  std::uint32_t ToDest(std::uint32_t native) {
    return src_.Indexed() ? destOf_[native & 0xFF] : domain_.FromSourceColor(native);
  }

  // The destination value for one destination pixel fed by the source block
  // xs x ys (both non-empty).
  std::uint32_t Combined(SourceSpan xs, SourceSpan ys) {
    if (xs.count == 1 && ys.count == 1) return ToDest(ReadNative(src_, src_.Row(ys.first), xs.first));
    if (t_.mode == StretchMode::Halftone) return domain_.FromSourceColor(Average(xs, ys));
    const bool isAnd = t_.mode == StretchMode::BlackOnWhite;
    std::uint32_t acc = isAnd ? 0xFFFFFFFFu : 0u;
    for (std::int32_t y = ys.first; y < ys.first + ys.count; ++y) {
      const std::uint8_t* row = src_.Row(y);
      for (std::int32_t x = xs.first; x < xs.first + xs.count; ++x) {
        const std::uint32_t v = ReadNative(src_, row, x);
        acc = isAnd ? (acc & v) : (acc | v);
      }
    }
    return ToDest(acc);
  }

 private:
  Color Average(SourceSpan xs, SourceSpan ys) const {
    std::uint64_t r = 0, g = 0, b = 0;
    for (std::int32_t y = ys.first; y < ys.first + ys.count; ++y) {
      const std::uint8_t* row = src_.Row(y);
      for (std::int32_t x = xs.first; x < xs.first + xs.count; ++x) {
        const Color c = ColorOf(ReadNative(src_, row, x));
        r += (c >> 16) & 0xFF;
        g += (c >> 8) & 0xFF;
        b += c & 0xFF;
      }
    }
    const std::uint64_t n = static_cast<std::uint64_t>(xs.count) * static_cast<std::uint64_t>(ys.count);
    const auto mean = [n](std::uint64_t sum) { return static_cast<Color>((sum + n / 2) / n); };
    return (mean(r) << 16) | (mean(g) << 8) | mean(b);
  }

  const Transfer& t_;
  const Surface& src_;
  DestDomain& domain_;
  std::uint32_t destOf_[256] = {};
  Color colorOf_[256] = {};
};

// A pixel array that owns a copy of a surface's memory.
struct Snapshot {
  Surface surface;
  std::unique_ptr<std::uint8_t[]> memory;
};

Snapshot SnapshotOf(const Surface& s) {
  Snapshot copy{s, nullptr};
  const std::size_t bytes = s.stride * static_cast<std::size_t>(s.height);
  copy.memory.reset(new std::uint8_t[bytes]);
  std::memcpy(copy.memory.get(), s.bits, bytes);
  copy.surface.bits = copy.memory.get();
  return copy;
}

}  // namespace

void RunGeneral(const Transfer& t) {
  Surface& dst = *t.dest;
  const Surface* src = t.UsesSource() ? t.source : nullptr;
  const StretchCombine combine = CombineOf(t.mode);
  constexpr std::int32_t kUnbounded = 0x7FFFFFFF;
  const AxisMap xs = src ? MapAxis(t.x, t.width, t.srcX, t.srcWidth, dst.width, src->width, combine)
                         : MapAxis(t.x, t.width, t.x, t.width, dst.width, kUnbounded, StretchCombine::Nearest);
  const AxisMap ys = src ? MapAxis(t.y, t.height, t.srcY, t.srcHeight, dst.height, src->height, combine)
                         : MapAxis(t.y, t.height, t.y, t.height, dst.height, kUnbounded, StretchCombine::Nearest);
  if (xs.Empty() || ys.Empty()) return;

  DestDomain domain(t);
  std::optional<SourceReader> reader;
  if (src) reader.emplace(t, domain);
  const std::uint32_t domainMask = dst.DomainMask();
  const std::uint32_t black = domain.FromDrawnColor(0);
  const std::uint32_t white = domain.FromDrawnColor(kColorMask);
  const std::uint32_t brush = domain.FromDrawnColor(t.pattern.color);
  const std::uint32_t gap = domain.FromDrawnColor(t.pattern.background);
  const std::int64_t runX = RunOf(t.x, t.width).begin;
  const std::int64_t runY = RunOf(t.y, t.height).begin;

  for (std::size_t k = 0; k < ys.spans.size(); ++k) {
    const SourceSpan sy = ys.spans[k];
    if (sy.count == 0) continue;
    const std::int32_t dy = ys.destBegin + static_cast<std::int32_t>(k);
    std::uint8_t* destRow = dst.Row(dy);
    const std::uint8_t* maskRow = nullptr;
    std::int64_t maskX0 = 0;
    if (t.mask) {
      // The mask rectangle has the destination's extents, negative ones included.
      const std::int64_t my = RunOf(t.maskY, t.height).begin + (dy - runY);
      if (my < 0 || my >= t.mask->height) continue;
      maskRow = t.mask->Row(static_cast<std::int32_t>(my));
      maskX0 = RunOf(t.maskX, t.width).begin - runX;
    }
    const int hatchRow = Mod8(std::int64_t{dy} - t.pattern.originY);
    for (std::size_t j = 0; j < xs.spans.size(); ++j) {
      const SourceSpan sx = xs.spans[j];
      if (sx.count == 0) continue;
      const std::int32_t dx = xs.destBegin + static_cast<std::int32_t>(j);
      std::uint8_t rop = t.rop;
      if (maskRow) {
        const std::int64_t mx = maskX0 + dx;
        if (mx < 0 || mx >= t.mask->width) continue;
        rop = ReadIndex(maskRow, static_cast<std::int32_t>(mx), 1) ? t.rop : t.backRop;
      }
      if (rop == 0xAA) continue;  // the destination as it is
      std::uint32_t result;
      if (rop == 0x00) {
        result = black;
      } else if (rop == 0xFF) {
        result = white;
      } else {
        std::uint32_t p = 0;
        if (RopUsesPattern(rop)) {
          if (t.pattern.kind == PatternKind::Hollow) continue;
          p = brush;
          if (t.pattern.kind == PatternKind::Hatched &&
              !HatchBit(t.pattern.hatch, Mod8(std::int64_t{dx} - t.pattern.originX), hatchRow)) {
            if (!t.pattern.opaque) continue;
            p = gap;
          }
        }
        const std::uint32_t s = (src && RopUsesSource(rop)) ? reader->Combined(sx, sy) : 0;
        // An operation that gives every destination value back unchanged for
        // this source and pattern (AND with white, XOR with black) leaves the
        // pixel alone, its fourth byte included.
        if (RopUsesDest(rop) && (ApplyRop(rop, p, s, 0) & domainMask) == 0 &&
            (ApplyRop(rop, p, s, domainMask) & domainMask) == domainMask)
          continue;
        const std::uint32_t d = RopUsesDest(rop) ? ReadNative(dst, destRow, dx) : 0;
        result = ApplyRop(rop, p, s, d) & domainMask;
      }
      WriteNative(dst, destRow, dx, result);
    }
  }
}

void Run(const Transfer& t) {
  Transfer actual = t;
  std::optional<Snapshot> sourceCopy, maskCopy;
  if (t.source && t.source->bits == t.dest->bits && t.UsesSource()) {
    sourceCopy = SnapshotOf(*t.source);
    actual.source = &sourceCopy->surface;
  }
  if (t.mask && t.mask->bits == t.dest->bits) {
    maskCopy = SnapshotOf(*t.mask);
    actual.mask = &maskCopy->surface;
  }
  if (!RunFast(actual)) RunGeneral(actual);
}

}  // namespace bleedborder::raster
