// The direct bleed renderer against the passes it replaces: every byte equal,
// drawn on a composite or written band by band, from pictures of every
// uncompressed depth and run-length compressed ones, which the passes convert
// to 32 bits first.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/bleed_passes.h"
#include "bleedborder/bleed/renderer/direct_renderer.h"
#include "bleedborder/canvas/canvas.h"
#include "bleedborder/canvas/tools.h"
#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;
using namespace bleedborder::bleed;

namespace {

// A picture in device order (row 0 on top): 0x??RRGGBB words, the high byte
// being the fourth byte of the pixel in memory.
struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;
  bool topDown = false;
};

// A 32-bit section holding the picture's bytes, or a 24-bit one holding its
// colours, in either row order.
void Fill(TBitmap& bitmap, const Picture& picture, std::uint16_t bitCount = 32) {
  gdi::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(gdi::BITMAPINFOHEADER);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = picture.topDown ? -picture.height : picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bitCount;
  void* bits = nullptr;
  const gdi::HBITMAP section = gdi::CreateDIBSection({}, &info, gdi::DIB_RGB_COLORS, &bits, {}, 0);
  ASSERT_TRUE(section);
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(section, sizeof record, &record), int(sizeof record));
  const std::size_t pixelBytes = bitCount / 8;
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::int32_t memoryRow = picture.topDown ? y : picture.height - 1 - y;
    auto* row = static_cast<std::uint8_t*>(bits) + std::size_t(memoryRow) * std::size_t(record.dsBm.bmWidthBytes);
    for (std::int32_t x = 0; x < picture.width; ++x)
      std::memcpy(row + std::size_t(x) * pixelBytes, &picture.pixels[std::size_t(y) * std::size_t(picture.width) + x],
                  pixelBytes);
  }
  bitmap.AttachImage(section, {}, nullptr, false, record);
}

// A picture of another depth: its pixels are native values (indices, or
// 16- or 32-bit values under the masks) read through the colour table or
// the masks, which the passes convert to 32 bits and the direct renderer
// reads as they are.
struct Encoding {
  std::string name;
  std::uint16_t bitCount;
  gdi::DWORD compression;
  std::array<std::uint32_t, 3> masks;  // BI_BITFIELDS
  std::vector<std::uint32_t> table;    // 0x00RRGGBB; shorter than 2^bitCount: the rest read black
  std::vector<std::uint32_t> whites;   // native values that read white
};

void FillEncoded(TBitmap& bitmap, const Picture& picture, const Encoding& encoding) {
  std::vector<std::uint8_t> info(sizeof(gdi::BITMAPINFOHEADER) + 12 + 256 * sizeof(gdi::RGBQUAD));
  gdi::BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = picture.topDown ? -picture.height : picture.height;
  header.biPlanes = 1;
  header.biBitCount = encoding.bitCount;
  header.biCompression = encoding.compression;
  header.biClrUsed = static_cast<gdi::DWORD>(encoding.table.size());
  std::memcpy(info.data(), &header, sizeof header);
  std::size_t offset = sizeof header;
  if (encoding.compression == gdi::BI_BITFIELDS) {
    std::memcpy(info.data() + offset, encoding.masks.data(), 12);
    offset += 12;
  }
  for (const std::uint32_t color : encoding.table) {
    const gdi::RGBQUAD quad{static_cast<gdi::BYTE>(color), static_cast<gdi::BYTE>(color >> 8),
                            static_cast<gdi::BYTE>(color >> 16), 0};
    std::memcpy(info.data() + offset, &quad, sizeof quad);
    offset += sizeof quad;
  }
  void* bits = nullptr;
  const gdi::HBITMAP section =
      gdi::CreateDIBSection({}, reinterpret_cast<const gdi::BITMAPINFO*>(info.data()), gdi::DIB_RGB_COLORS, &bits, {}, 0);
  ASSERT_TRUE(section);
  gdi::DIBSECTION record{};
  ASSERT_EQ(gdi::GetObjectA(section, sizeof record, &record), int(sizeof record));
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::int32_t memoryRow = picture.topDown ? y : picture.height - 1 - y;
    auto* row = static_cast<std::uint8_t*>(bits) + std::size_t(memoryRow) * std::size_t(record.dsBm.bmWidthBytes);
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t value = picture.pixels[std::size_t(y) * std::size_t(picture.width) + x];
      const std::size_t bit = std::size_t(x) * encoding.bitCount;
      if (encoding.bitCount < 8) {
        const unsigned shift = 8 - encoding.bitCount - bit % 8;
        row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | (value << shift));
      } else {
        std::memcpy(row + bit / 8, &value, encoding.bitCount / 8);
      }
    }
  }
  bitmap.AttachImage(section, {}, nullptr, false, record);
}

// Colours of the run-length pictures' values: two whites and a near-white
// among them.
const std::vector<std::uint32_t>& RunLengthTable() {
  static const std::vector<std::uint32_t> table{0xFFFFFF, 0x102030, 0xFEFFFF, 0xFFFFFF, 0x808080, 0x00FF00,
                                                0x7F0000, 0x0000FE, 0xFFFFFE, 0x404040, 0xC0C0C0};
  return table;
}

void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes[at + std::size_t(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The picture's values (indices into RunLengthTable) as a BI_RLE8 or
// BI_RLE4 file, loaded as the reader loads one: a 32-bit device bitmap. A
// row is a run per stretch of equal values; every fifth row ends a pixel
// early, so that its last pixel is one the data never writes (black).
void LoadRunLength(TBitmap& bitmap, const Picture& picture, std::uint16_t bitCount) {
  std::vector<std::uint8_t> data;
  for (std::int32_t line = 0; line < picture.height; ++line) {
    const std::int32_t y = picture.height - 1 - line;
    const std::uint32_t* row = &picture.pixels[std::size_t(y) * std::size_t(picture.width)];
    const std::int32_t end = picture.width - (y % 5 == 0 ? 1 : 0);
    for (std::int32_t x = 0; x < end;) {
      std::int32_t count = 1;
      while (x + count < end && count < 255 && row[x + count] == row[x]) ++count;
      data.push_back(static_cast<std::uint8_t>(count));
      data.push_back(static_cast<std::uint8_t>(bitCount == 4 ? row[x] << 4 | row[x] : row[x]));
      x += count;
    }
    data.insert(data.end(), {0, 0});
  }
  data.insert(data.end(), {0, 1});
  const std::vector<std::uint32_t>& table = RunLengthTable();
  const auto offBits = static_cast<std::uint32_t>(54 + 4 * table.size());
  std::vector<std::uint8_t> file(offBits);
  file[0] = 'B';
  file[1] = 'M';
  PutLittleEndian(file, 2, offBits + static_cast<std::uint32_t>(data.size()), 4);
  PutLittleEndian(file, 10, offBits, 4);
  PutLittleEndian(file, 14, 40, 4);
  PutLittleEndian(file, 18, static_cast<std::uint32_t>(picture.width), 4);
  PutLittleEndian(file, 22, static_cast<std::uint32_t>(picture.height), 4);
  PutLittleEndian(file, 26, 1, 2);
  PutLittleEndian(file, 28, bitCount, 2);
  PutLittleEndian(file, 30, bitCount == 4 ? gdi::BI_RLE4 : gdi::BI_RLE8, 4);
  PutLittleEndian(file, 34, static_cast<std::uint32_t>(data.size()), 4);
  PutLittleEndian(file, 46, static_cast<std::uint32_t>(table.size()), 4);
  for (std::size_t i = 0; i < table.size(); ++i) PutLittleEndian(file, 54 + 4 * i, table[i], 4);
  file.insert(file.end(), data.begin(), data.end());
  TMemoryStream stream;
  stream.Write(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  bitmap.LoadStream(stream);
}

// How a test renders: the thread count (0: the renderer's choice), whether
// the composite holds stray bytes (fourth bytes included) before the passes
// run, which the pixels no pass paints must keep, and whether the picture is
// a 24-bit one, which the passes convert to 32 bits and the direct renderer
// reads as it is, one of another depth, or run-length compressed (4 or 8:
// loaded as a device bitmap, which the direct renderer reads as it is).
struct RenderSetup {
  unsigned threads = 0;
  bool stainedComposite = false;
  bool source24 = false;
  const Encoding* encoding = nullptr;
  std::uint16_t runLengthBits = 0;
};

void Stain(TBitmap& composite, unsigned seed) {
  const gdi::DIBSECTION& section = composite.SharedImage().Section;
  auto* bytes = static_cast<std::uint8_t*>(section.dsBm.bmBits);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < section.dsBmih.biSizeImage; ++i) bytes[i] = static_cast<std::uint8_t>(random());
}

std::vector<std::uint8_t> BytesOf(TBitmap& bitmap) {
  const gdi::DIBSECTION& section = bitmap.SharedImage().Section;
  const auto* bytes = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
  return std::vector<std::uint8_t>(bytes, bytes + section.dsBmih.biSizeImage);
}

// The command's set-up and its passes or the direct renderer; the composite's bytes.
std::vector<std::uint8_t> Render(const Picture& picture, bool direct, const RenderSetup& setup) {
  TBitmap source, work, composite;
  if (setup.runLengthBits != 0) {
    LoadRunLength(source, picture, setup.runLengthBits);
  } else if (setup.encoding) {
    FillEncoded(source, picture, *setup.encoding);
  } else {
    Fill(source, picture, setup.source24 ? 24 : 32);
  }
  if (!direct) source.SetDepth(TPixelDepth::pd32Bit);
  work.SetDepth(TPixelDepth::pd32Bit);
  composite.SetDepth(TPixelDepth::pd32Bit);
  const TBleedGeometry g = BleedGeometryOf(picture.width, picture.height);
  work.SetWidth(g.outputWidth);
  work.SetHeight(g.outputHeight);
  PrepareBleedBitmaps(source, work);
  composite.SetWidth(g.outputWidth);
  composite.SetHeight(g.outputHeight);
  if (setup.stainedComposite) Stain(composite, static_cast<unsigned>(picture.width * 7919 + picture.height));
  if (direct) {
    EXPECT_TRUE(DrawBleedDirect(source, composite, g, {TUnpaintedPixels::Keep, setup.threads}));
  } else {
    DrawBleedPasses(source, work, composite, g);
  }
  return BytesOf(composite);
}

using Pattern = std::function<std::uint32_t(std::mt19937&, std::int32_t x, std::int32_t y)>;

std::uint32_t RandomColor(std::mt19937& random) { return random() & 0xFFFFFF; }

const std::vector<std::pair<std::string, Pattern>>& Patterns() {
  static const std::vector<std::pair<std::string, Pattern>> patterns{
      {"white holes and near-white, stray fourth bytes",
       [](std::mt19937& r, std::int32_t, std::int32_t) {
         const std::uint32_t fourth = (r() & 1) ? 0xFF000000u : 0;
         switch (r() % 10) {
           case 0: case 1: case 2: return fourth | 0xFFFFFF;
           case 3: return fourth | 0xFEFFFF;
           default: return fourth | RandomColor(r);
         }
       }},
      {"all white", [](std::mt19937& r, std::int32_t, std::int32_t) { return (r() & 0xFF000000u) | 0xFFFFFF; }},
      {"no white", [](std::mt19937& r, std::int32_t, std::int32_t) { return RandomColor(r) & 0xFFFFFE; }},
      {"sparse dots", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         return x % 7 == 3 && y % 5 == 1 ? RandomColor(r) & 0x7F7F7F : 0xFFFFFFu;
       }},
      {"white page with a stroke", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         return std::abs(2 * x - 3 * y) < 3 ? RandomColor(r) & 0x3F3F3F : 0xFFFFFFu;
       }},
      // Long white rays beside busy rows and columns: the samples of most
      // pixels stay white while the rows they read are full of colour.
      {"busy rows between white ones", [](std::mt19937& r, std::int32_t, std::int32_t y) {
         return y % 9 == 4 ? RandomColor(r) & 0x7F7F7F : 0xFFFFFFu;
       }},
      {"one-pixel stripes", [](std::mt19937&, std::int32_t x, std::int32_t) {
         return x % 2 == 0 ? 0x102030u : 0xFFFFFFu;
       }},
      {"white half beside a busy half", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         return x > 2 * y ? RandomColor(r) | 0x800000 : 0xFFFFFFu;
       }},
      // Sparse rows, which leave most pixels white, before busy rows with
      // white holes whose fourth bytes are set: a row that starts white and
      // keeps the picture's own white pixels as written must give the bytes
      // of one whose left-over pixels are painted at the end.
      {"busy rows with white holes after sparse rows", [](std::mt19937& r, std::int32_t x, std::int32_t y) {
         if (y % 12 < 6) return x % 29 == y % 7 ? RandomColor(r) & 0x7F7F7F : 0xFFFFFFu;
         return r() % 3 == 0 ? 0xFFFFFFFFu : RandomColor(r) & 0x7FFFFF;
       }},
  };
  return patterns;
}

Picture Make(std::int32_t width, std::int32_t height, const Pattern& pattern, bool topDown, unsigned seed) {
  Picture picture{width, height, {}, topDown};
  std::mt19937 random(seed);
  picture.pixels.reserve(std::size_t(width) * std::size_t(height));
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) picture.pixels.push_back(pattern(random, x, y));
  return picture;
}

void ExpectSameBytes(const Picture& picture, const std::string& what, const RenderSetup& setup = {}) {
  const std::vector<std::uint8_t> passes = Render(picture, false, setup);
  const std::vector<std::uint8_t> direct = Render(picture, true, setup);
  ASSERT_EQ(passes.size(), direct.size()) << what;
  const auto mismatch = std::mismatch(passes.begin(), passes.end(), direct.begin());
  EXPECT_TRUE(mismatch.first == passes.end())
      << what << ": first difference at byte " << (mismatch.first - passes.begin());
}

TEST(BleedBorder, DirectRendererGivesThePassesBytesForEveryShorterSide) {
  ASSERT_EQ(std::fegetround(), FE_TONEAREST);
  unsigned seed = 1;
  for (std::int32_t side = 1; side <= 64; ++side) {
    const std::int32_t longer = side + (side * 7) % 23;
    for (const auto& [name, pattern] : Patterns()) {
      const bool topDown = (side % 3) == 0;
      const RenderSetup setup{0, false, side % 2 == 0};
      ExpectSameBytes(Make(longer, side, pattern, topDown, seed++), name + ", wide, side " + std::to_string(side),
                      setup);
      ExpectSameBytes(Make(side, longer, pattern, !topDown, seed++), name + ", tall, side " + std::to_string(side),
                      setup);
    }
  }
}

TEST(BleedBorder, DirectRendererGivesThePassesBytesForLargerPictures) {
  // 123 x 120 and 120 x 123: Margin 15, Inset 8, a shrinking last pass. The
  // thread count is forced on some, so that the rows are shared out on a
  // machine of one core too; the last is large enough to be shared anyway.
  struct Size {
    std::int32_t width, height;
    unsigned threads;
  };
  const Size sizes[] = {{123, 120, 3}, {120, 123, 0}, {301, 203, 2}, {211, 389, 0}, {420, 300, 3}, {720, 400, 0}};
  unsigned seed = 1000;
  for (const auto& [width, height, threads] : sizes)
    for (const auto& [name, pattern] : Patterns()) {
      const bool topDown = seed % 2 == 0;
      const bool source24 = seed % 3 == 0;
      ExpectSameBytes(Make(width, height, pattern, topDown, seed++),
                      name + " " + std::to_string(width) + "x" + std::to_string(height) + ", threads " +
                          std::to_string(threads),
                      {threads, false, source24});
    }
}

const std::vector<Encoding>& Encodings() {
  static const std::vector<Encoding> encodings{
      {"1 bit", 1, gdi::BI_RGB, {}, {0x000000, 0xFFFFFF}, {1}},
      {"1 bit, both entries coloured", 1, gdi::BI_RGB, {}, {0x204080, 0xFFFFFE}, {}},
      {"4 bits, short table", 4, gdi::BI_RGB, {}, {0xFFFFFF, 0x102030, 0xFEFFFF, 0xFFFFFF, 0x808080}, {0, 3}},
      {"8 bits", 8, gdi::BI_RGB, {}, {0x112233, 0xFFFFFF, 0x00FF00, 0xFFFFFF, 0x7F7F7F, 0xFFFEFF}, {1, 3}},
      {"16 bits 5-5-5", 16, gdi::BI_RGB, {}, {}, {0x7FFF, 0xFFFF}},
      {"16 bits 5-6-5", 16, gdi::BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, {}, {0xFFFF}},
      {"16 bits 4-4-4", 16, gdi::BI_BITFIELDS, {0x0F00, 0x00F0, 0x000F}, {}, {0x0FFF, 0xFFFF}},
      {"32 bits 10-10-10", 32, gdi::BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF}, {}, {0x3FFFFFFF, 0xFFFFFFFF}},
      {"32 bits, standard masks given", 32, gdi::BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, {}, {0xFFFFFF, 0xFF000000u | 0xFFFFFF}},
  };
  return encodings;
}

// Native values: white ones (of the encoding's) in about half the pixels, or
// on most of a white page with a few dots; the rest anything the depth holds.
Picture MakeEncoded(std::int32_t width, std::int32_t height, const Encoding& encoding, bool sparse, bool topDown,
                    unsigned seed) {
  Picture picture{width, height, {}, topDown};
  std::mt19937 random(seed);
  const std::uint32_t valueMask = encoding.bitCount == 32 ? 0xFFFFFFFFu : (1u << encoding.bitCount) - 1;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x) {
      const bool white = !encoding.whites.empty() && (sparse ? random() % 23 != 0 : random() % 2 == 0);
      picture.pixels.push_back(white ? encoding.whites[random() % encoding.whites.size()] : random() & valueMask);
    }
  return picture;
}

// Pictures of other depths read through their colour tables or masks give
// the bytes of the picture converted to 32 bits first: small and large, the
// extreme shapes, with a shrinking last pass (24 and 123 x 120) and without.
TEST(BleedBorder, DirectRendererReadsOtherDepthsAsTheirConversionTo32Bits) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{5, 7}, {47, 33}, {1, 300}, {300, 1}, {2, 150},
                                                         {70, 3}, {24, 100}, {123, 120}, {201, 90}};
  unsigned seed = 6000;
  for (const Encoding& encoding : Encodings())
    for (const auto& [width, height] : sizes)
      for (const bool sparse : {false, true}) {
        const RenderSetup setup{seed % 3 == 0 ? 1u : 2u, seed % 2 == 0, false, &encoding};
        ExpectSameBytes(MakeEncoded(width, height, encoding, sparse, seed % 4 == 0, seed),
                        encoding.name + (sparse ? ", sparse " : ", ") + std::to_string(width) + "x" +
                            std::to_string(height),
                        setup);
        ++seed;
      }
}

// Values of a run-length picture: runs of white (two entries hold it) and
// of colour, dense or on a mostly white page.
Picture MakeRuns(std::int32_t width, std::int32_t height, bool sparse, unsigned seed) {
  Picture picture{width, height, {}, false};
  std::mt19937 random(seed);
  const auto colors = static_cast<std::uint32_t>(RunLengthTable().size());
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width;) {
      const bool white = sparse ? random() % 10 != 0 : random() % 2 == 0;
      const std::uint32_t value = white ? (random() % 2 ? 0 : 3) : 1 + random() % (colors - 1);
      const std::int32_t run = std::min<std::int32_t>(width - x, 1 + std::int32_t(random() % (sparse ? 40 : 9)));
      picture.pixels.insert(picture.pixels.end(), std::size_t(run), value);
      x += run;
    }
  return picture;
}

// A run-length compressed picture is read as the device bitmap it loads as,
// never converted, and gives the bytes the passes draw from its conversion
// to 32 bits: narrow, wide (rows of several words), with a shrinking last
// pass (123 x 120) and without.
TEST(BleedBorder, DirectRendererReadsRunLengthPicturesAsLoaded) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{3, 41}, {37, 61}, {211, 45}, {123, 120}};
  unsigned seed = 7000;
  for (const std::uint16_t bits : {std::uint16_t{4}, std::uint16_t{8}})
    for (const auto& [width, height] : sizes)
      for (const bool sparse : {false, true}) {
        const Picture picture = MakeRuns(width, height, sparse, seed++);
        const std::string what = "RLE" + std::to_string(bits) + (sparse ? ", sparse " : ", ") +
                                 std::to_string(width) + "x" + std::to_string(height);
        ExpectSameBytes(picture, what, {seed % 2 ? 1u : 2u, seed % 3 == 0, false, nullptr, bits});
        TBitmap source;
        LoadRunLength(source, picture, bits);
        const TBleedGeometry g = BleedGeometryOf(width, height);
        EXPECT_TRUE(BleedDirectFits(source, g)) << what;
        TMemoryStream written;
        ASSERT_TRUE(StoreBleedDirect(source, g, written)) << what;
        EXPECT_EQ(source.Kind(), TBitmapKind::bkDDB) << what;
      }
}

TEST(BleedBorder, DirectRendererKeepsAllFourBytesOfThePixelsNoPassPaints) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{47, 33}, {123, 120}, {64, 70}, {3, 90}, {130, 1}};
  unsigned seed = 2000;
  for (const auto& [width, height] : sizes)
    for (const auto& [name, pattern] : Patterns())
      ExpectSameBytes(Make(width, height, pattern, false, seed++),
                      name + " " + std::to_string(width) + "x" + std::to_string(height) + ", stained composite",
                      {2, true});
}

TEST(BleedBorder, DirectRendererOnAnUnfilledCompositeGivesTheBytesOfAClearedOne) {
  unsigned seed = 3000;
  for (const auto& [name, pattern] : Patterns()) {
    const Picture picture = Make(123, 120, pattern, false, seed++);
    TBitmap source, composite;
    Fill(source, picture);
    composite.SetDepth(TPixelDepth::pd32Bit);
    composite.SetSizeUnfilled(123 + 15, 120 + 15);
    ASSERT_TRUE(DrawBleedDirect(source, composite, BleedGeometryOf(123, 120), {TUnpaintedPixels::White, 2}));
    EXPECT_TRUE(BytesOf(composite) == Render(picture, false, {})) << name;
  }
}

// The file of the passes' composite, and the one written band by band from a
// composite sized unfilled, its pixels never set.
void ExpectBandsGiveTheFileOfThePasses(const Picture& picture, bool source24, TBandOptions options,
                                       const std::string& what) {
  TBitmap reference, source;
  Fill(reference, picture, source24 ? 24 : 32);
  const TBleedGeometry g = BleedGeometryOf(picture.width, picture.height);
  TBitmap passes;
  passes.SetDepth(TPixelDepth::pd32Bit);
  passes.SetWidth(g.outputWidth);
  passes.SetHeight(g.outputHeight);
  TMemoryStream expected;
  {
    TBitmap work;
    work.SetDepth(TPixelDepth::pd32Bit);
    work.SetWidth(g.outputWidth);
    work.SetHeight(g.outputHeight);
    reference.SetDepth(TPixelDepth::pd32Bit);
    PrepareBleedBitmaps(reference, work);
    DrawBleedPasses(reference, work, passes, g);
    passes.StoreStream(expected);
  }
  Fill(source, picture, source24 ? 24 : 32);
  TMemoryStream written;
  ASSERT_TRUE(StoreBleedDirect(source, g, written, options)) << what;
  EXPECT_TRUE(written.Bytes() == expected.Bytes()) << what;
}

// The sizes give one band and many (with a last band shorter than the others).
TEST(BleedBorder, WritingBandByBandGivesTheFileOfThePassesComposite) {
  struct Case {
    std::int32_t width, height;
    unsigned threads;
    bool source24;
  };
  const Case cases[] = {{40, 30, 1, true}, {420, 300, 1, false}, {420, 300, 2, true}, {733, 410, 3, true},
                        {410, 733, 0, false}};
  unsigned seed = 4000;
  for (const Case& c : cases)
    for (const auto& [name, pattern] : Patterns()) {
      const std::string what = name + " " + std::to_string(c.width) + "x" + std::to_string(c.height) + ", threads " +
                               std::to_string(c.threads) + (c.source24 ? ", 24 bits" : ", 32 bits");
      ExpectBandsGiveTheFileOfThePasses(Make(c.width, c.height, pattern, seed % 2 == 0, seed), c.source24,
                                        {c.threads}, what);
      ++seed;
    }
}

// Rows wider than a band are rendered a part of their columns at a time: parts
// of one word (64 pixels) and of a few, a part that ends inside the picture's
// first word or in the shrinking last pass's blocks (24 and 120 high), and
// the extreme shapes, whose rows of non-white bits are packed off word
// boundaries or not kept at all.
TEST(BleedBorder, RowsWiderThanABandAndExtremeShapesGiveTheFileOfThePasses) {
  struct Case {
    std::int32_t width, height;
    std::int64_t bandBytes;
  };
  const Case cases[] = {{733, 410, 256}, {1000, 24, 256}, {300, 120, 768}, {130, 150, 512}, {5000, 1, 1024},
                        {5000, 2, 0},    {1, 5000, 0},     {2, 3000, 256}, {3, 700, 0},      {700, 5, 512},
                        {65, 90, 256}};
  unsigned seed = 5000;
  for (const Case& c : cases)
    for (const auto& [name, pattern] : Patterns()) {
      const bool source24 = seed % 2 == 0;
      const std::string what = name + " " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                               ", band bytes " + std::to_string(c.bandBytes);
      ExpectBandsGiveTheFileOfThePasses(Make(c.width, c.height, pattern, seed % 3 == 0, seed), source24,
                                        {seed % 4 == 0 ? 1u : 2u, c.bandBytes}, what);
      ++seed;
    }
}

void SizeAs(TBitmap& bitmap, TPixelDepth depth, std::int32_t side) {
  bitmap.SetDepth(depth);
  bitmap.SetWidth(side);
  bitmap.SetHeight(side);
}

// A picture is read from a section or a 32-bit device bitmap of the
// geometry's source size; the composite drawn on must be a 32-bit section of
// the output's size. A picture declined is not written.
TEST(BleedBorder, DirectRendererDeclinesWhatItCannotReadOrWrite) {
  const TBleedGeometry ofEight{8, 8, 0, 9, 9};
  const struct {
    const char* what;
    std::function<void(TBitmap& source, TBitmap& composite)> make;
    TBleedGeometry g;
    bool pictureRefused;
  } cases[] = {
      {"monochrome device bitmap",
       [](TBitmap& source, TBitmap& composite) {
         const gdi::HBITMAP mono = gdi::CreateBitmap(8, 8, 1, 1, nullptr);
         gdi::DIBSECTION record{};
         gdi::GetObjectA(mono, sizeof record, &record);
         source.AttachImage(mono, {}, nullptr, false, record);
         SizeAs(composite, TPixelDepth::pd32Bit, 9);
       },
       ofEight, true},
      {"empty picture", [](TBitmap&, TBitmap& composite) { SizeAs(composite, TPixelDepth::pd32Bit, 9); },
       {0, 0, 0, 9, 9}, true},
      {"geometry of another picture",
       [](TBitmap& source, TBitmap& composite) {
         SizeAs(source, TPixelDepth::pd32Bit, 7);
         SizeAs(composite, TPixelDepth::pd32Bit, 9);
       },
       ofEight, true},
      {"device bitmap composite",
       [](TBitmap& source, TBitmap& composite) {
         SizeAs(source, TPixelDepth::pdDevice, 8);
         SizeAs(composite, TPixelDepth::pdDevice, 9);
       },
       ofEight, false},
      {"composite of another size",
       [](TBitmap& source, TBitmap& composite) {
         SizeAs(source, TPixelDepth::pd32Bit, 8);
         SizeAs(composite, TPixelDepth::pd32Bit, 10);
       },
       ofEight, false},
  };
  for (const auto& c : cases) {
    TBitmap source, composite;
    c.make(source, composite);
    EXPECT_FALSE(DrawBleedDirect(source, composite, c.g)) << c.what;
    TMemoryStream stream;
    EXPECT_EQ(StoreBleedDirect(source, c.g, stream), !c.pictureRefused) << c.what;
    EXPECT_EQ(BleedDirectFits(source, c.g), !c.pictureRefused) << c.what;
    if (c.pictureRefused) {
      EXPECT_EQ(stream.Bytes().size(), 0u) << c.what;
    }
  }
}

}  // namespace
