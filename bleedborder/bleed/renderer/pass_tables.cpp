#include "bleedborder/bleed/renderer/pass_tables.h"

#include "bleedborder/core/parallel.h"

namespace bleedborder::bleed {

namespace {

// Calls column(i, first, count) for each position i = 0 .. d - 1 of a run
// of d positions stretched from s, with the source span the raster device
// takes for it (block spans when shrinking), in order. Stepped along without a
// division per position, and without a table a position: a row may be
// millions of pixels long.
template <class Column>
void ForEachColumnSpan(std::uint32_t s, std::uint32_t d, Column column) {
  const std::uint64_t twiceS = 2 * std::uint64_t{s}, twiceD = 2 * std::uint64_t{d};
  if (d >= s) {
    // Position i takes the source column under its centre, (2i + 1)s / 2d.
    std::uint64_t centre = 0, remainder = s;
    for (std::uint32_t i = 0; i < d; ++i) {
      column(i, static_cast<std::int32_t>(centre), 1);
      remainder += twiceS;
      if (remainder >= twiceD) {
        remainder -= twiceD;
        ++centre;
      }
    }
    return;
  }
  // Source column j lands on position (2j + 1)d / 2s; a position's block is
  // the run of columns that land on it.
  std::uint64_t position = 0, remainder = d;
  std::uint32_t blockFirst = 0;
  for (std::uint32_t j = 0; j < s; ++j) {
    remainder += twiceD;
    const bool nextMoves = remainder >= twiceS;
    if (nextMoves) remainder -= twiceS;
    if (nextMoves || j + 1 == s) {
      column(static_cast<std::uint32_t>(position), static_cast<std::int32_t>(blockFirst),
             static_cast<std::int32_t>(j + 1 - blockFirst));
      ++position;
      blockFirst = j + 1;
    }
  }
}

}  // namespace

PassColumnTable::PassColumnTable(const PassGeometry& g)
    : passes_(Index(std::max(g.HighestEnlarging() + 1, 0))),
      words_(WordsFor(g.outputWidth) * passes_),
      longestRepeats_(passes_, 0) {}

void PassColumnTable::Fill(const PassGeometry& g, unsigned threads) {
  ShareOut(static_cast<std::int32_t>(passes_), 4, threads, [&](std::int32_t first, std::int32_t last) {
    for (std::int32_t k = first; k < last; ++k) longestRepeats_[Index(k)] = FillPass(g, k);
  });
  for (const std::int32_t repeat : longestRepeats_) longestRepeat_ = std::max(longestRepeat_, repeat);
}

std::int32_t PassColumnTable::FillPass(const PassGeometry& g, std::int32_t k) {
  const std::int64_t begin = k;
  std::int32_t longestRepeat = 0, repeatRun = 0, previous = -1;
  ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                    [&](std::uint32_t i, std::int32_t column, std::int32_t) {
                      const std::int64_t x = begin + i;
                      const std::size_t entry = Index(x / kWordBits) * passes_ + Index(k);
                      ColumnWord& word = words_[entry];
                      const std::uint64_t bit = std::uint64_t{1} << (x % kWordBits);
                      const bool opensWord = x == begin || x % kWordBits == 0;
                      if (opensWord) word.firstSource = static_cast<std::uint32_t>(column);
                      if (opensWord || column != previous) {
                        word.starts |= bit;
                        repeatRun = 0;
                      } else {
                        word.repeats |= bit;
                        longestRepeat = std::max(longestRepeat, ++repeatRun);
                      }
                      previous = column;
                    });
  return longestRepeat;
}

ShrinkingPass ShrinkingPassOf(const PassGeometry& g) {
  const std::int32_t k = g.inset;
  ShrinkingPass pass;
  pass.begin = k;
  pass.end = pass.begin + g.PassWidth(k);
  pass.firstSource.assign(WordsFor(g.outputWidth), 0);
  pass.plainRun.assign(WordsFor(g.outputWidth), 1);
  std::int32_t previous = -1;
  ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                    [&](std::uint32_t i, std::int32_t first, std::int32_t count) {
                      const std::int64_t x = pass.begin + i;
                      const std::size_t w = Index(x / kWordBits);
                      const bool opensWord = i == 0 || x % kWordBits == 0;
                      if (opensWord) pass.firstSource[w] = first - static_cast<std::int32_t>(x % kWordBits);
                      const bool next = opensWord || first == previous + 1;
                      if (count != 1 || !next) pass.plainRun[w] = 0;
                      previous = first;
                    });
  pass.keptSpans.assign(pass.plainRun.size(), -1);
  for (std::size_t w = 0; w < pass.plainRun.size() && pass.spans.size() < ShrinkingPass::kMostKeptWords; ++w) {
    if (pass.plainRun[w]) continue;
    pass.keptSpans[w] = static_cast<std::int32_t>(pass.spans.size());
    pass.spans.emplace_back();
  }
  if (pass.spans.empty()) return pass;
  ForEachColumnSpan(static_cast<std::uint32_t>(g.sourceWidth), static_cast<std::uint32_t>(g.PassWidth(k)),
                    [&](std::uint32_t i, std::int32_t first, std::int32_t count) {
                      const std::int64_t x = pass.begin + i;
                      const std::int32_t kept = pass.keptSpans[Index(x / kWordBits)];
                      if (kept >= 0) pass.spans[Index(kept)][Index(x % kWordBits)] = {first, count};
                    });
  return pass;
}

}  // namespace bleedborder::bleed
