#pragma once
// The stretch mapping of the raster device, one axis at a time. Every scaled
// transfer (StretchBlt, and BitBlt as its equal-size case) takes its source
// positions from here, and so must any other code that wants to draw exactly
// the pixels a transfer draws.
//
// With a source run of s positions and a destination run of d positions:
// - enlarging or equal (d >= s): destination position i takes source position
//   floor((2i + 1) * s / (2d)), the source pixel under its centre;
// - shrinking (d < s): source position j lands on destination position
//   floor((2j + 1) * d / (2s)); the positions landing on one destination
//   position form a contiguous block. A Block mapping hands over the whole
//   block (the stretch modes that combine pixels: AND, OR, average); a
//   Nearest mapping only the block's centre position floor((2i + 1) * s / (2d))
//   (COLORONCOLOR).
// Rectangles may have negative extents: a run covers [min(p, p + e), max(p, p + e)),
// and the copy is mirrored on an axis whose source and destination extents
// differ in sign.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace bleedborder::raster {

enum class StretchCombine : std::uint8_t { Nearest, Block };

// Source positions [first, first + count) for one destination position. A
// count of 0 means that no source position lies inside the source bitmap: the
// destination pixel is left as it is.
struct SourceSpan {
  std::int32_t first = 0;
  std::int32_t count = 0;
  friend constexpr bool operator==(SourceSpan, SourceSpan) = default;
};

// First source offset landing on destination offset i when shrinking: the
// smallest j with (2j + 1) * d >= 2 * s * i.
constexpr std::uint64_t FirstShrinkSource(std::uint64_t s, std::uint64_t d, std::uint64_t i) {
  const std::uint64_t twiceSi = 2 * s * i;
  if (twiceSi <= d) return 0;
  return (twiceSi - d + 2 * d - 1) / (2 * d);
}

// Source offsets [first, first + count) of a run; 64 bits wide so that runs of
// up to 2^31 positions (the longest a 32-bit extent gives) never overflow:
// every product stays below 2^63.
struct WideSpan {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

// The source offsets (0 .. s - 1) for destination offset i (0 .. d - 1) of
// unmirrored runs 0 < s, d <= 2^31.
constexpr WideSpan StretchOffsets(std::uint64_t s, std::uint64_t d, std::uint64_t i, StretchCombine combine) {
  const std::uint64_t centre = ((2 * i + 1) * s) / (2 * d);
  if (d >= s || combine == StretchCombine::Nearest) return {centre, 1};
  const std::uint64_t first = FirstShrinkSource(s, d, i);
  const std::uint64_t next = i + 1 >= d ? s : FirstShrinkSource(s, d, i + 1);
  return {first, next - first};
}

// StretchOffsets for runs shorter than 2^31, in the span type of a map.
constexpr SourceSpan StretchSpan(std::uint32_t s, std::uint32_t d, std::uint32_t i, StretchCombine combine) {
  const WideSpan span = StretchOffsets(s, d, i, combine);
  return {static_cast<std::int32_t>(span.first), static_cast<std::int32_t>(span.count)};
}

// One axis of a transfer in absolute coordinates: spans[k] gives the source
// positions of destination position destBegin + k. Only destination positions
// inside [0, destLimit) are listed, and spans are cut to [0, srcLimit).
struct AxisMap {
  std::int32_t destBegin = 0;
  std::vector<SourceSpan> spans;
  bool Empty() const { return spans.empty(); }
  // Every listed position takes exactly one source position (no block to
  // combine, none left out).
  bool AllSingle() const {
    return std::all_of(spans.begin(), spans.end(), [](SourceSpan span) { return span.count == 1; });
  }
};

struct AxisRun {
  std::int64_t begin = 0;   // inclusive
  std::uint32_t length = 0;  // 0: empty
};

// The run covered by position p and extent e: [min(p, p + e), max(p, p + e)).
constexpr AxisRun RunOf(std::int32_t p, std::int32_t e) {
  const std::int64_t end = std::int64_t{p} + e;
  const std::int64_t begin = std::min<std::int64_t>(p, end);
  const std::int64_t length = end > p ? end - p : p - end;
  return {begin, static_cast<std::uint32_t>(length)};
}

// The mapping of one axis of a transfer from the source rectangle's extent on
// that axis (src, srcExtent) to the destination's (dst, dstExtent), computed
// once per transfer: its cost is one entry per destination position that
// falls inside the destination bitmap.
inline AxisMap MapAxis(std::int32_t dst, std::int32_t dstExtent, std::int32_t src, std::int32_t srcExtent,
                       std::int32_t destLimit, std::int32_t srcLimit, StretchCombine combine) {
  AxisMap map;
  const AxisRun d = RunOf(dst, dstExtent);
  const AxisRun s = RunOf(src, srcExtent);
  if (d.length == 0 || s.length == 0 || destLimit <= 0) return map;
  const std::int64_t clipBegin = std::max<std::int64_t>(d.begin, 0);
  const std::int64_t clipEnd = std::min<std::int64_t>(d.begin + d.length, destLimit);
  if (clipBegin >= clipEnd) return map;
  const bool mirrored = (dstExtent < 0) != (srcExtent < 0);
  map.destBegin = static_cast<std::int32_t>(clipBegin);
  map.spans.resize(static_cast<std::size_t>(clipEnd - clipBegin));
  // Centres are stepped along without a division per position: the centre
  // of offset i is the quotient of (2i + 1) * s by 2d, and each step adds 2s.
  const bool centresOnly = d.length >= s.length || combine == StretchCombine::Nearest;
  const std::uint64_t twiceS = 2 * std::uint64_t{s.length}, twiceD = 2 * std::uint64_t{d.length};
  const std::uint64_t firstNumerator = (2 * static_cast<std::uint64_t>(clipBegin - d.begin) + 1) * s.length;
  std::uint64_t centre = firstNumerator / twiceD, remainder = firstNumerator % twiceD;
  for (std::int64_t p = clipBegin; p < clipEnd; ++p) {
    const auto offset = static_cast<std::uint64_t>(p - d.begin);
    const WideSpan offsets = centresOnly ? WideSpan{centre, 1} : StretchOffsets(s.length, d.length, offset, combine);
    centre += twiceS / twiceD;
    remainder += twiceS % twiceD;
    if (remainder >= twiceD) {
      remainder -= twiceD;
      ++centre;
    }
    const auto first0 = static_cast<std::int64_t>(offsets.first);
    const auto count = static_cast<std::int64_t>(offsets.count);
    std::int64_t first = mirrored ? s.begin + s.length - first0 - count : s.begin + first0;
    std::int64_t last = first + count;  // exclusive
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, srcLimit);
    SourceSpan& span = map.spans[static_cast<std::size_t>(p - clipBegin)];
    if (first < last) span = {static_cast<std::int32_t>(first), static_cast<std::int32_t>(last - first)};
  }
  return map;
}

}  // namespace bleedborder::raster
