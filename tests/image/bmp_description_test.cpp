// Taking BMP data apart without a raster device: what the description holds
// for each header form, where the stream is left, and which failure a bad
// file gets.
#include "bleedborder/image/bmp_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bleedborder/core/exceptions.h"
#include "tests/image/bmp_test_support.h"

using namespace bleedborder;

using namespace bmp_test;

namespace {

BmpDescription Parse(const Bytes& bytes, std::int64_t* position = nullptr) {
  TMemoryStream stream = StreamOf(bytes);
  BmpDescription description = ParseBmpDescription(stream, static_cast<std::int64_t>(bytes.size()));
  if (position) *position = stream.Position();
  return description;
}

// The exception the parse raised, as "Class: message"; "" when it parsed.
std::string ParseOutcome(const Bytes& bytes) {
  try {
    Parse(bytes);
    return "";
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
}

// A header longer than 40 bytes (v4 is 108, v5 124) whose first extra bytes
// are the red, green and blue masks.
Bytes LongHeaderTail(std::size_t headerBytes, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  Bytes extra(headerBytes - 40, 0);
  std::memcpy(extra.data(), &red, 4);
  std::memcpy(extra.data() + 4, &green, 4);
  std::memcpy(extra.data() + 8, &blue, 4);
  return extra;
}

Bytes Rle8File() {
  const Bytes data{2, 1, 0, 0, 2, 2, 0, 1};
  return InfoBmp().width(2).height(2).bitCount(8).compression(1).clrUsed(3).table(Table(3)).pixels(data).Build();
}

std::uint32_t InfoWord(const BmpDescription& description, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, description.info.data() + at, 4);
  return value;
}

}  // namespace

TEST(BmpDescription, HeaderFormsMasksTablesAndPixels) {
  const struct {
    const char* name;
    Bytes bytes;
    bool core;
    std::uint32_t headerSize;
    std::uint32_t clrUsed;      // entries kept
    std::uint32_t sizeImage;    // as given to the device
    std::size_t tableOffset;    // in info
    std::int64_t pixelOffset;   // from the file header
    std::uint64_t pixelBytes;   // clamped to the data
  } cases[] = {
      {"core 8-bit, table widened", CoreBmp(3, 2, 8, Table(256, 3), Pattern(8)), true, 12, 256, 8, 40,
       14 + 12 + 768, 8},
      {"info 24-bit", InfoBmp().width(3).height(2).pixels(Pattern(24)).Build(), false, 40, 0, 24, 40, 54, 24},
      {"info 32-bit, masks after the header",
       InfoBmp().bitCount(32).compression(3).masks({0xFF0000, 0xFF00, 0xFF}).pixels(Pattern(4)).Build(), false, 40,
       0, 4, 52, 66, 4},
      {"v4 32-bit, masks inside the header",
       InfoBmp().bitCount(32).compression(3).extraHeader(LongHeaderTail(108, 0xFF0000, 0xFF00, 0xFF))
           .pixels(Pattern(4)).Build(),
       false, 108, 0, 4, 108, 14 + 108, 4},
      {"v5 8-bit, 300 entries: 256 kept",
       InfoBmp().bitCount(8).clrUsed(300).extraHeader(Bytes(84, 0)).table(Table(300)).pixels(Pattern(4)).Build(),
       false, 124, 256, 4, 124, 14 + 124 + 1200, 4},
      {"16 entries of an 8-bit table", InfoBmp().bitCount(8).clrUsed(16).table(Table(16)).pixels(Pattern(4)).Build(),
       false, 40, 16, 4, 40, 54 + 64, 4},
      {"pixels shorter than the image", InfoBmp().width(2).height(2).pixels({1, 2, 3}).Build(), false, 40, 0, 16, 40,
       54, 3},
      {"image size larger than the data", InfoBmp().sizeImage(0xFFFFFFF0).pixels(Pattern(64)).Build(), false, 40, 0,
       0xFFFFFFF0, 40, 54, 64},
      {"bfOffBits after a gap", InfoBmp().gap({9, 9}).pixels(Pattern(4)).Build(), false, 40, 0, 4, 40, 56, 4},
      {"bfOffBits past the data", InfoBmp().gap({9, 9}).pixels(Pattern(4)).offBits(1000).Build(), false, 40, 0, 4,
       40, 54, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t position = 0;
    const BmpDescription d = Parse(c.bytes, &position);
    EXPECT_EQ(d.core, c.core);
    EXPECT_FALSE(d.compressed);
    EXPECT_TRUE(d.keptFile == nullptr);
    EXPECT_EQ(d.headerSize, c.headerSize);
    const std::size_t headerBytes = c.core ? 40 : c.headerSize;
    EXPECT_EQ(d.header.biSize, headerBytes);
    EXPECT_EQ(d.header.biClrUsed, c.clrUsed);
    EXPECT_EQ(d.header.biSizeImage, c.sizeImage);
    EXPECT_EQ(d.tableOffset, c.tableOffset);
    EXPECT_EQ(d.pixelOffset, c.pixelOffset);
    EXPECT_EQ(d.pixelBytes, c.pixelBytes);
    EXPECT_EQ(position, c.pixelOffset);  // the stream is left at the first pixel byte
    ASSERT_EQ(d.info.size(), headerBytes + 12 + 1024);
    // The device's header at the start of info is the normalised one.
    EXPECT_EQ(std::memcmp(d.info.data(), &d.header, 40), 0);
    // Table entry 1 as 4 bytes, the same in info and in colors; zero when the
    // file has no table.
    const Bytes entry1 = c.clrUsed > 1 ? Bytes{1, 2, 3, 0} : Bytes{0, 0, 0, 0};
    EXPECT_EQ(Bytes(d.info.begin() + c.tableOffset + 4, d.info.begin() + c.tableOffset + 8), entry1);
    EXPECT_EQ(d.colors[1].rgbBlue, entry1[0]);
    EXPECT_EQ(d.colors[1].rgbRed, entry1[2]);
  }
}

TEST(BmpDescription, MasksAfterAnInfoHeaderLieBeforeTheTable) {
  const BmpDescription d =
      Parse(InfoBmp().bitCount(16).compression(3).masks({0xF800, 0x7E0, 0x1F}).pixels(Pattern(4)).Build());
  EXPECT_EQ(InfoWord(d, 40), 0xF800u);
  EXPECT_EQ(InfoWord(d, 44), 0x7E0u);
  EXPECT_EQ(InfoWord(d, 48), 0x1Fu);
}

TEST(BmpDescription, CompressedDataIsKeptWhole) {
  const Bytes file = Rle8File();
  std::int64_t position = 0;
  const BmpDescription d = Parse(file, &position);
  EXPECT_TRUE(d.compressed);
  ASSERT_TRUE(d.keptFile != nullptr);
  EXPECT_EQ(d.keptFile->Bytes(), file);
  EXPECT_EQ(position, static_cast<std::int64_t>(file.size()));  // the stream is read to the end of the data
  EXPECT_EQ(d.pixelOffset, 54 + 12);
  EXPECT_EQ(d.pixelBytes, 8u);
  EXPECT_EQ(d.header.biClrUsed, 3u);
}

TEST(BmpDescription, BadFilesAreRefusedForTheFirstBadField) {
  const std::string readError = "EReadError: Stream read error";
  const std::string invalid = "EInvalidGraphic: Bitmap image is not valid";
  const Bytes good = InfoBmp().pixels(Pattern(4)).Build();
  auto with = [&good](std::size_t at, std::uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  auto cut = [](Bytes b, std::size_t size) {
    b.resize(size);
    return b;
  };
  const struct {
    const char* name;
    Bytes bytes;
    std::string outcome;
  } cases[] = {
      {"thirteen bytes", cut(good, 13), readError},
      {"signature BA", with(1, 'A'), invalid},
      {"signature BA, nothing after the file header", cut(with(1, 'A'), 14), invalid},
      {"ends inside the header size", cut(good, 16), readError},
      {"header size 16", with(14, 16), invalid},
      {"header size 16, data ends inside it", cut(with(14, 16), 20), invalid},
      {"header larger than the data", with(17, 0x7F), readError},
      {"ends inside the header", cut(good, 40), readError},
      {"planes 0", InfoBmp().planes(0).pixels(Pattern(4)).Build(), invalid},
      {"planes 0, table cut short", cut(InfoBmp().planes(0).bitCount(8).table(Table(256)).Build(), 100), invalid},
      {"core planes 2", CoreBmp(1, 1, 24, {}, Pattern(4), 2), invalid},
      {"masks cut short", cut(InfoBmp().bitCount(32).compression(3).masks({1, 2, 3}).Build(), 14 + 40 + 8),
       readError},
      {"table cut short", cut(InfoBmp().bitCount(8).table(Table(256)).Build(), 14 + 40 + 100), readError},
      {"core table cut short", cut(CoreBmp(1, 1, 8, Table(256, 3), {}), 14 + 12 + 700), readError},
      {"colours used 0xFFFFFFFF", InfoBmp().bitCount(8).clrUsed(0xFFFFFFFF).table(Table(256)).Build(), readError},
      {"compressed, planes 0", cut(InfoBmp().planes(0).compression(1).Build(), 54), invalid},
      {"compressed, ends inside its table", cut(Rle8File(), 60), readError},
      // The device refuses these, not the parse.
      {"bit count 3", InfoBmp().bitCount(3).pixels(Pattern(4)).Build(), ""},
      {"unknown compression", InfoBmp().compression(9).Build(), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseOutcome(c.bytes), c.outcome);
  }
}
