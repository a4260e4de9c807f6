// The fast paths of the transfer engine against the general path: thousands
// of random transfers on random surfaces must write the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bleedborder/platform/raster_transfer.h"
#include "bleedborder/platform/stretch_map.h"

using namespace bleedborder;

namespace {

using namespace raster;

struct OwnedSurface {
  Surface surface;
  std::vector<std::uint8_t> memory;
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Between(1, 100) <= percent; }

  // Colours from a small set, so that keys and equal neighbours occur, with
  // random fourth bytes.
  std::uint32_t Pixel() {
    static constexpr std::uint32_t kColors[] = {0xFFFFFF, 0x000000, 0x102030, 0x808080, 0xFF0000, 0x00FF00};
    const std::uint32_t colour = Chance(70) ? kColors[Between(0, 5)] : static_cast<std::uint32_t>(Between(0, 0xFFFFFF));
    return colour | (Chance(50) ? static_cast<std::uint32_t>(Between(0, 255)) << 24 : 0u);
  }

  OwnedSurface Surface32() {
    OwnedSurface s;
    s.surface.width = Between(1, 40);
    s.surface.height = Between(1, 30);
    s.surface.bitCount = 32;
    s.surface.stride = static_cast<std::size_t>(s.surface.width) * 4;
    s.surface.bottomUp = Chance(50);
    SetMasks(s.surface, 0xFF0000, 0xFF00, 0xFF);
    s.memory.resize(s.surface.stride * static_cast<std::size_t>(s.surface.height));
    for (std::size_t i = 0; i < s.memory.size(); i += 4) {
      const std::uint32_t p = Pixel();
      std::memcpy(&s.memory[i], &p, 4);
    }
    s.surface.bits = s.memory.data();
    return s;
  }

  OwnedSurface Surface1() {
    OwnedSurface s;
    s.surface.width = Between(1, 40);
    s.surface.height = Between(1, 30);
    s.surface.bitCount = 1;
    s.surface.deviceMono = Chance(50);
    s.surface.stride = s.surface.deviceMono ? (static_cast<std::size_t>(s.surface.width) + 15) / 16 * 2
                                            : (static_cast<std::size_t>(s.surface.width) + 31) / 32 * 4;
    s.surface.bottomUp = !s.surface.deviceMono && Chance(50);
    s.surface.table[1] = kColorMask;
    s.surface.tableCount = 2;
    s.memory.resize(s.surface.stride * static_cast<std::size_t>(s.surface.height));
    for (std::uint8_t& byte : s.memory) byte = static_cast<std::uint8_t>(Between(0, 255));
    s.surface.bits = s.memory.data();
    return s;
  }

  // A rectangle around a surface of the given size, any sign of extent.
  void Rectangle(int limitW, int limitH, std::int32_t& x, std::int32_t& y, std::int32_t& w, std::int32_t& h) {
    x = Between(-8, limitW + 8);
    y = Between(-8, limitH + 8);
    w = Between(-limitW - 8, limitW + 8);
    h = Between(-limitH - 8, limitH + 8);
  }

 private:
  std::mt19937 random_;
};

TEST(FastPaths, AgreeWithTheGeneralPath) {
  Generator g(20240601);
  std::map<std::string, int> taken;
  constexpr int kRounds = 6000;
  for (int round = 0; round < kRounds; ++round) {
    const int kind = g.Between(0, 4);
    OwnedSurface dest = kind == 3 ? g.Surface1() : g.Surface32();
    OwnedSurface source = g.Surface32();
    OwnedSurface mask = g.Surface1();
    Transfer t;
    t.dest = &dest.surface;
    t.mode = static_cast<StretchMode>(g.Between(1, 4));
    t.sourceBackground = g.Pixel() & kColorMask;
    g.Rectangle(dest.surface.width, dest.surface.height, t.x, t.y, t.width, t.height);
    t.srcX = g.Between(-8, source.surface.width + 8);
    t.srcY = g.Between(-8, source.surface.height + 8);
    t.srcWidth = t.width;
    t.srcHeight = t.height;
    switch (kind) {
      case 0: {  // fills
        static constexpr std::uint8_t kRops[] = {0xF0, 0x00, 0xFF};
        t.rop = kRops[g.Between(0, 2)];
        t.pattern.kind = PatternKind::Solid;
        t.pattern.color = g.Pixel();
        break;
      }
      case 1:  // copies
        t.source = &source.surface;
        break;
      case 2:  // stretches: any sizes and signs
        t.source = &source.surface;
        t.srcWidth = g.Between(-source.surface.width - 8, source.surface.width + 8);
        t.srcHeight = g.Between(-source.surface.height - 8, source.surface.height + 8);
        break;
      case 3:  // colour to monochrome
        t.source = &source.surface;
        t.sourceBackground = source.surface.Row(0)[0] | (source.surface.Row(0)[1] << 8) | (source.surface.Row(0)[2] << 16);
        break;
      default:  // masked copies
        t.source = &source.surface;
        t.mask = &mask.surface;
        t.rop = 0xAA;
        t.backRop = 0xCC;
        t.maskX = g.Between(-8, mask.surface.width + 8);
        t.maskY = g.Between(-8, mask.surface.height + 8);
    }
    const char* name = FastPathName(t);
    ASSERT_NE(name, nullptr) << "round " << round << " kind " << kind;
    ++taken[name];
    std::vector<std::uint8_t> general = dest.memory;
    OwnedSurface generalDest = dest;
    generalDest.memory = general;
    generalDest.surface.bits = generalDest.memory.data();
    Transfer generalTransfer = t;
    generalTransfer.dest = &generalDest.surface;
    RunGeneral(generalTransfer);
    ASSERT_TRUE(RunFast(t));
    ASSERT_EQ(dest.memory, generalDest.memory)
        << "round " << round << " path " << name << " dest " << t.x << "," << t.y << " " << t.width << "x" << t.height
        << " source " << t.srcX << "," << t.srcY << " " << t.srcWidth << "x" << t.srcHeight << " mode "
        << static_cast<int>(t.mode);
  }
  for (const char* path : {"solid_fill", "copy", "stretch", "color_to_mono", "masked_copy"})
    EXPECT_GT(taken[path], kRounds / 10) << path;
}

// A HALFTONE block taller than 2^32 / 255 rows: its column sums pass 32
// bits, and white must still average to white on both paths.
TEST(FastPaths, HalftoneAveragesBlocksOfMoreThanSixteenMillionRows) {
  constexpr std::int32_t kRows = 16843010;  // 255 x kRows > 2^32
  OwnedSurface source;
  source.surface.width = 1;
  source.surface.height = kRows;
  source.surface.bitCount = 32;
  source.surface.stride = 4;
  SetMasks(source.surface, 0xFF0000, 0xFF00, 0xFF);
  source.memory.assign(std::size_t{4} * kRows, 0xFF);
  source.surface.bits = source.memory.data();
  for (const bool fast : {true, false}) {
    SCOPED_TRACE(fast ? "fast path" : "general path");
    OwnedSurface dest;
    dest.surface.width = dest.surface.height = 1;
    dest.surface.bitCount = 32;
    dest.surface.stride = 4;
    SetMasks(dest.surface, 0xFF0000, 0xFF00, 0xFF);
    dest.memory.assign(4, 0);
    dest.surface.bits = dest.memory.data();
    Transfer t;
    t.dest = &dest.surface;
    t.source = &source.surface;
    t.rop = 0xCC;
    t.mode = StretchMode::Halftone;
    t.width = t.height = t.srcWidth = 1;
    t.srcHeight = kRows;
    if (fast) {
      ASSERT_TRUE(RunFast(t));
    } else {
      RunGeneral(t);
    }
    EXPECT_EQ(dest.memory, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0}));
  }
}

TEST(FastPaths, OnlyThirtyTwoBitSurfacesAndTheirOperationsQualify) {
  Generator g(7);
  OwnedSurface dest = g.Surface32(), source = g.Surface32();
  Transfer t;
  t.dest = &dest.surface;
  t.source = &source.surface;
  t.width = t.srcWidth = 4;
  t.height = t.srcHeight = 4;
  t.rop = 0x66;  // SRCINVERT
  EXPECT_EQ(FastPathName(t), nullptr);
  t.rop = 0xCC;
  dest.surface.bitCount = 24;
  dest.surface.plain32 = false;
  EXPECT_EQ(FastPathName(t), nullptr);
}

TEST(StretchMap, BlocksTileTheSourceAndHoldTheirCentres) {
  for (std::uint32_t s = 1; s <= 40; ++s)
    for (std::uint32_t d = 1; d <= 40; ++d) {
      std::int32_t next = 0;
      for (std::uint32_t i = 0; i < d; ++i) {
        const SourceSpan block = StretchSpan(s, d, i, StretchCombine::Block);
        const SourceSpan centre = StretchSpan(s, d, i, StretchCombine::Nearest);
        ASSERT_EQ(centre.count, 1);
        if (d >= s) {
          ASSERT_EQ(block, centre);
          continue;
        }
        ASSERT_EQ(block.first, next) << s << "->" << d << " at " << i;
        ASSERT_GE(block.count, 1);
        ASSERT_GE(centre.first, block.first);
        ASSERT_LT(centre.first, block.first + block.count);
        next = block.first + block.count;
      }
      if (d < s) {
        ASSERT_EQ(next, static_cast<std::int32_t>(s));
      }
    }
  // A whole axis map, clipped on either side and mirrored or not, lists the
  // offsets of each position.
  for (std::int32_t s = 1; s <= 24; ++s)
    for (std::int32_t d = 1; d <= 24; ++d)
      for (const bool mirrored : {false, true})
        for (const StretchCombine combine : {StretchCombine::Nearest, StretchCombine::Block}) {
          const AxisMap map = MapAxis(-3, d, mirrored ? s : 0, mirrored ? -s : s, d - 5, s, combine);
          for (std::int32_t i = 3; i < d - 2; ++i) {
            const SourceSpan offsets = StretchSpan(s, d, i, combine);
            const SourceSpan expected{mirrored ? s - offsets.first - offsets.count : offsets.first, offsets.count};
            ASSERT_EQ(map.spans.at(i - 3), expected) << s << "->" << d << " at " << i;
          }
        }
  // Extreme runs stay exact: 64-bit arithmetic throughout.
  const WideSpan last = StretchOffsets(0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFEu, StretchCombine::Block);
  EXPECT_EQ(last.first + last.count, 0x80000000u);
  const WideSpan whole = StretchOffsets(0x80000000u, 1, 0, StretchCombine::Block);
  EXPECT_EQ(whole.count, 0x80000000u);
  // The widest source onto one pixel, cut to the source bitmap.
  const AxisMap map = MapAxis(0, 1, INT32_MAX, INT32_MIN, 4, 3, StretchCombine::Block);
  ASSERT_EQ(map.spans.size(), 1u);
  EXPECT_EQ(map.spans[0], (SourceSpan{0, 3}));
}

}  // namespace
