// The BMP reader: failures, the storage each kind of file gives, where the
// pixels are taken from, and the public test suite's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "bleedborder/platform/gdi.h"
#include "tests/image/bmp_test_support.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace bmp_test;

namespace {

// The exception a load raised, as "Class: message"; "" when it loaded.
std::string LoadOutcome(TBitmap& bitmap, const Bytes& bytes) {
  try {
    Load(bitmap, bytes);
    return "";
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
}

const std::string kReadError = "EReadError: Stream read error";
const std::string kInvalid = "EInvalidGraphic: Bitmap image is not valid";

Bytes Rle8File() {
  // 2 x 2: row 0 two pixels of colour 1, end of line, row 1 two of colour 2,
  // end of bitmap.
  const Bytes data{2, 1, 0, 0, 2, 2, 0, 1};
  return InfoBmp()
      .width(2)
      .height(2)
      .bitCount(8)
      .compression(1)
      .sizeImage(static_cast<std::uint32_t>(data.size()))
      .clrUsed(3)
      .table(Table(3))
      .pixels(data)
      .Build();
}

}  // namespace

TEST(BmpReader, RefusesBadDataAndKeepsThePreviousImage) {
  const Bytes good = InfoBmp().pixels(Pattern(4)).Build();
  Bytes cutMasks = InfoBmp().bitCount(32).compression(3).masks({0xFF0000, 0xFF00, 0xFF}).Build();
  cutMasks.resize(14 + 40 + 8);
  Bytes cutTable = InfoBmp().bitCount(8).table(Table(256)).pixels(Pattern(4)).Build();
  cutTable.resize(14 + 40 + 100);
  Bytes cutCompressed = Rle8File();
  cutCompressed.resize(30);
  Bytes bigHeader = InfoBmp().pixels(Pattern(4)).Build();
  bigHeader[14] = 0xFF, bigHeader[15] = 0xFF, bigHeader[16] = 0xFF, bigHeader[17] = 0x7F;

  const struct {
    const char* name;
    Bytes bytes;
    std::string outcome;
  } cases[] = {
      {"one byte", {'B'}, kReadError},
      {"thirteen bytes", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kReadError},
      {"signature BA",
       [&] {
         Bytes b = good;
         b[1] = 'A';
         return b;
       }(),
       kInvalid},
      {"ends inside the header size", Bytes(good.begin(), good.begin() + 16), kReadError},
      {"ends inside the header", Bytes(good.begin(), good.begin() + 40), kReadError},
      {"header size 16",
       [&] {
         Bytes b = good;
         b[14] = 16;
         return b;
       }(),
       kInvalid},
      {"header size 0",
       [&] {
         Bytes b = good;
         b[14] = 0;
         return b;
       }(),
       kInvalid},
      {"header larger than the data", bigHeader, kReadError},
      {"planes 0", InfoBmp().planes(0).pixels(Pattern(4)).Build(), kInvalid},
      {"planes 2", InfoBmp().planes(2).pixels(Pattern(4)).Build(), kInvalid},
      {"core planes 2", CoreBmp(1, 1, 24, {}, Pattern(4), 2), kInvalid},
      {"masks cut short", cutMasks, kReadError},
      {"colour table cut short", cutTable, kReadError},
      {"colour table of 300 entries cut short", InfoBmp().bitCount(8).clrUsed(300).table(Table(256)).Build(),
       kReadError},
      {"colours used 0xFFFFFFFF", InfoBmp().bitCount(8).clrUsed(0xFFFFFFFF).table(Table(256)).Build(), kReadError},
      {"compressed data ends inside its header", cutCompressed, kReadError},
      {"bit count 3", InfoBmp().bitCount(3).pixels(Pattern(4)).Build(), kInvalid},
      {"negative width", InfoBmp().width(-1).pixels(Pattern(4)).Build(), kInvalid},
      {"unknown compression", InfoBmp().compression(9).pixels(Pattern(4)).Build(), kInvalid},
      // Compressed data is refused for its header also when no pixel bytes
      // follow it.
      {"unknown compression, no pixel bytes", InfoBmp().compression(9).Build(), kInvalid},
      {"run-length 8 at 24 bits, no pixel bytes", InfoBmp().compression(1).Build(), kInvalid},
      {"run-length 8 top-down, no pixel bytes", InfoBmp().bitCount(8).height(-2).compression(1).table(Table(256)).Build(),
       kInvalid},
      {"too large for the device", InfoBmp().width(3000000).height(2000000).Build(),
       "EOSError: System Error.  Code: 12.\r\nCannot allocate memory"},
  };

  TBitmap bitmap;
  Load(bitmap, good);
  const TBitmapImage* before = &bitmap.SharedImage();
  const std::size_t objects = gdi::LiveObjectCount();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LoadOutcome(bitmap, c.bytes), c.outcome);
    EXPECT_EQ(&bitmap.SharedImage(), before);
    EXPECT_EQ(gdi::LiveObjectCount(), objects);
  }
}

TEST(BmpReader, LoadDataCountBeyondTheStreamIsAReadError) {
  const Bytes file = Rle8File();
  TMemoryStream stream;
  const std::int32_t count = static_cast<std::int32_t>(file.size()) + 100;
  stream.Write(&count, 4);
  stream.Write(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  TBitmap bitmap;
  EXPECT_THROW(bitmap.LoadData(stream), EReadError);
}

TEST(BmpReader, ZeroBytesEmptyTheBitmapWithoutNotice) {
  TBitmap bitmap;
  Load(bitmap, InfoBmp().pixels(Pattern(4)).Build());
  int notices = 0;
  bitmap.ChangeHandler = [&](TGraphic*) { ++notices; };
  Load(bitmap, {});
  EXPECT_TRUE(bitmap.IsEmpty());
  EXPECT_EQ(notices, 0);
}

TEST(BmpReader, StorageFollowsTheKindOfData) {
  auto longHeader = [](std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    Bytes extra(68, 0);
    std::memcpy(extra.data(), &red, 4);
    std::memcpy(extra.data() + 4, &green, 4);
    std::memcpy(extra.data() + 8, &blue, 4);
    return extra;
  };
  const struct {
    const char* name;
    Bytes bytes;
    TBitmapKind kind;
    TPixelDepth depth;
    bool core;
  } cases[] = {
      {"1-bit", InfoBmp().width(3).bitCount(1).table(Table(2)).pixels(Pattern(4)).Build(), TBitmapKind::bkDIB,
       TPixelDepth::pd1Bit, false},
      {"4-bit", InfoBmp().width(3).bitCount(4).table(Table(16)).pixels(Pattern(4)).Build(), TBitmapKind::bkDIB,
       TPixelDepth::pd4Bit, false},
      {"8-bit", InfoBmp().width(3).bitCount(8).table(Table(256)).pixels(Pattern(4)).Build(), TBitmapKind::bkDIB,
       TPixelDepth::pd8Bit, false},
      {"core 8-bit", CoreBmp(3, 1, 8, Table(256, 3), Pattern(4)), TBitmapKind::bkDIB, TPixelDepth::pd8Bit, true},
      {"core 24-bit", CoreBmp(3, 1, 24, {}, Pattern(12)), TBitmapKind::bkDIB, TPixelDepth::pd24Bit, true},
      {"16-bit", InfoBmp().width(3).bitCount(16).pixels(Pattern(8)).Build(), TBitmapKind::bkDIB, TPixelDepth::pd15Bit,
       false},
      {"16-bit masks 565",
       InfoBmp().width(3).bitCount(16).compression(3).masks({0xF800, 0x7E0, 0x1F}).pixels(Pattern(8)).Build(),
       TBitmapKind::bkDIB, TPixelDepth::pd16Bit, false},
      {"16-bit masks 555",
       InfoBmp().width(3).bitCount(16).compression(3).masks({0x7C00, 0x3E0, 0x1F}).pixels(Pattern(8)).Build(),
       TBitmapKind::bkDIB, TPixelDepth::pdCustom, false},
      {"24-bit", InfoBmp().width(3).pixels(Pattern(12)).Build(), TBitmapKind::bkDIB, TPixelDepth::pd24Bit, false},
      {"32-bit", InfoBmp().width(3).bitCount(32).pixels(Pattern(12)).Build(), TBitmapKind::bkDIB, TPixelDepth::pd32Bit,
       false},
      {"32-bit masks",
       InfoBmp().width(3).bitCount(32).compression(3).masks({0xFF0000, 0xFF00, 0xFF}).pixels(Pattern(12)).Build(),
       TBitmapKind::bkDIB, TPixelDepth::pdCustom, false},
      {"32-bit masks in a 108-byte header",
       InfoBmp()
           .width(3)
           .bitCount(32)
           .compression(3)
           .extraHeader(longHeader(0xFF0000, 0xFF00, 0xFF))
           .pixels(Pattern(12))
           .Build(),
       TBitmapKind::bkDIB, TPixelDepth::pdCustom, false},
      {"RLE8", Rle8File(), TBitmapKind::bkDDB, TPixelDepth::pdDevice, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    ASSERT_EQ(LoadOutcome(bitmap, c.bytes), "");
    EXPECT_EQ(bitmap.Kind(), c.kind);
    EXPECT_EQ(bitmap.Depth(), c.depth);
    EXPECT_EQ(bitmap.SharedImage().CoreFormat, c.core);
    EXPECT_EQ(bitmap.SharedImage().ShareCount, 1);
    const bool compressed = c.kind == TBitmapKind::bkDDB;
    ASSERT_EQ(bitmap.SharedImage().SavedStream != nullptr, compressed);
    if (compressed) {
      EXPECT_EQ(bitmap.SharedImage().SavedStream->Bytes(), c.bytes);
    } else {
      EXPECT_EQ(SectionBytes(bitmap, 4), Pattern(4));  // the file's bytes, unconverted
    }
  }
}

TEST(BmpReader, SectionHoldsTheFileRowsAsTheyAre) {
  // Top-down 2 x 2, 32 bits: rows stay in the file's order.
  TBitmap topDown;
  Load(topDown, InfoBmp().width(2).height(-2).bitCount(32).pixels(Pattern(16)).Build());
  EXPECT_EQ(topDown.Height(), 2);
  EXPECT_EQ(SectionBytes(topDown, 16), Pattern(16));

  // Pixel data shorter than the image: what is there is used, the rest stays
  // as the section was made.
  TBitmap shortData;
  Load(shortData, InfoBmp().width(1).height(2).pixels({1, 2, 3}).Build());
  EXPECT_EQ(SectionBytes(shortData, 8), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));

  // A core height of 0x8000 is 32768 rows, not a negative height.
  TBitmap tall;
  Load(tall, CoreBmp(1, 0x8000, 8, Table(256, 3), Pattern(8)));
  EXPECT_EQ(tall.Height(), 32768);
}

TEST(BmpReader, ColourTableSizesAndWherePixelsStart) {
  // The expected first pixel byte tells where the pixels were taken from.
  const Bytes gap{9, 9, 9, 9};
  const Bytes pixels{1, 2, 3, 0};
  const struct {
    const char* name;
    Bytes bytes;
    Bytes firstPixel;
  } cases[] = {
      {"16 entries of an 8-bit table",
       InfoBmp().bitCount(8).clrUsed(16).table(Table(16)).pixels({4, 0, 0, 0}).Build(),
       {4}},
      {"300 entries: 256 kept, the rest read past",
       InfoBmp().bitCount(8).clrUsed(300).table(Table(300)).pixels({4, 0, 0, 0}).Build(),
       {4}},
      {"bfOffBits after the table", InfoBmp().gap(gap).pixels(pixels).Build(), {1, 2, 3}},
      {"bfOffBits 0", InfoBmp().gap(gap).pixels(pixels).offBits(0).Build(), {9, 9, 9}},
      {"bfOffBits in the header", InfoBmp().gap(gap).pixels(pixels).offBits(20).Build(), {9, 9, 9}},
      {"bfOffBits past the data", InfoBmp().gap(gap).pixels(pixels).offBits(1000).Build(), {9, 9, 9}},
      {"bfOffBits at the end of the data", InfoBmp().gap(gap).pixels(pixels).offBits(62).Build(), {0, 0, 0}},
      {"bfOffBits into the core table", CoreBmp(1, 1, 8, Table(256, 3), {7, 0, 0, 0}), {7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    ASSERT_EQ(LoadOutcome(bitmap, c.bytes), "");
    EXPECT_EQ(SectionBytes(bitmap, c.firstPixel.size()), c.firstPixel);
  }
}

TEST(BmpReader, ImageSizeLargerThanTheSectionIsClamped) {
  // 1 x 1 at 24 bits holds 4 bytes; the header claims far more and the file
  // carries more: only the section's 4 bytes are read into it.
  TBitmap bitmap;
  ASSERT_EQ(LoadOutcome(bitmap, InfoBmp().sizeImage(0xFFFFFFF0).pixels(Pattern(64)).Build()), "");
  EXPECT_EQ(SectionBytes(bitmap, 4), Pattern(4));
}

TEST(BmpReader, LoadFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("bmp_reader_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto missing = dir / "missing.bmp";
  TBitmap bitmap;
  try {
    bitmap.LoadFile(missing.string());
    ADD_FAILURE() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing.string() + "\". No such file or directory");
  }

  const auto empty = dir / "empty.bmp";
  std::ofstream(empty).close();
  bitmap.LoadFile(empty.string());
  EXPECT_TRUE(bitmap.IsEmpty());

  bitmap.LoadFile(SuiteFile("g/pal8.bmp").string());
  EXPECT_EQ(bitmap.Width(), 127);
  std::filesystem::remove_all(dir);
}

// Every valid file of the suite loads; every invalid one is refused with one
// of the reader's failures or loads as the format allows; unusual ones behave
// as listed.
TEST(BmpReader, SuiteFiles) {
  for (const auto& entry : std::filesystem::directory_iterator(SuiteFile("g"))) {
    SCOPED_TRACE(entry.path().filename().string());
    TBitmap bitmap;
    EXPECT_EQ(LoadOutcome(bitmap, ReadFile(entry.path())), "");
    EXPECT_GT(bitmap.Width(), 0);
  }
  const struct {
    const char* file;
    std::string outcome;
  } expected[] = {
      {"b/badbitcount.bmp", kInvalid},
      {"b/badbitssize.bmp", ""},
      {"b/baddens1.bmp", ""},
      {"b/baddens2.bmp", ""},
      {"b/badfilesize.bmp", ""},
      {"b/badheadersize.bmp", ""},
      {"b/badpalettesize.bmp", kReadError},
      {"b/badplanes.bmp", kInvalid},
      {"b/badrle.bmp", ""},
      {"b/badrle4.bmp", ""},
      {"b/badrle4bis.bmp", ""},
      {"b/badrle4ter.bmp", ""},
      {"b/badrlebis.bmp", ""},
      {"b/badrleter.bmp", ""},
      {"b/badwidth.bmp", kInvalid},
      {"b/pal8badindex.bmp", ""},
      {"b/reallybig.bmp", "EOSError: System Error.  Code: 12.\r\nCannot allocate memory"},
      {"b/rgb16-880.bmp", ""},
      {"b/rletopdown.bmp", kInvalid},
      {"b/shortfile.bmp", ""},
      {"q/pal8os2v2-16.bmp", kInvalid},
      {"q/pal2.bmp", kInvalid},
      {"q/rgba64.bmp", kInvalid},
      {"q/rgb24jpeg.bmp", kInvalid},
      {"q/rgb24png.bmp", kInvalid},
      {"q/rgba32abf.bmp", kInvalid},
  };
  std::size_t bad = 0;
  for (const auto& e : expected) {
    SCOPED_TRACE(e.file);
    TBitmap bitmap;
    EXPECT_EQ(LoadOutcome(bitmap, ReadFile(SuiteFile(e.file))), e.outcome);
    bad += e.file[0] == 'b';
  }
  EXPECT_EQ(bad, static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(SuiteFile("b")),
                                                        std::filesystem::directory_iterator())));
}

// Files whose pixels sit after a gap, after an oversized table or after a
// table that must be skipped give the pixels of their reference file.
TEST(BmpReader, SuitePixelsAgreeWithTheReference) {
  const struct {
    const char* file;
    const char* reference;
  } pairs[] = {
      {"q/pal8offs.bmp", "g/pal8.bmp"},          {"q/pal8oversizepal.bmp", "g/pal8.bmp"},
      {"q/rgb24largepal.bmp", "g/rgb24.bmp"},    {"g/rgb24pal.bmp", "g/rgb24.bmp"},
      {"g/rgb16-565pal.bmp", "g/rgb16-565.bmp"}, {"g/pal8v5.bmp", "g/pal8.bmp"},
      {"q/pal8os2v2.bmp", "g/pal8.bmp"},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.file);
    TBitmap bitmap, reference;
    Load(bitmap, ReadFile(SuiteFile(p.file)));
    Load(reference, ReadFile(SuiteFile(p.reference)));
    ASSERT_EQ(SectionSize(bitmap), SectionSize(reference));
    EXPECT_EQ(SectionBytes(bitmap, SectionSize(bitmap)), SectionBytes(reference, SectionSize(reference)));
  }
}
