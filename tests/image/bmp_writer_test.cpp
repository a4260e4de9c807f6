// The BMP writer: the bytes of each form, round trips through the reader,
// and failures of the stream or file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/image/bitmap.h"
#include "tests/image/bmp_test_support.h"
#include "tests/support/library_fixture.h"

using namespace bleedborder;

using namespace bmp_test;

namespace {

// A stream that takes at most limit bytes in all.
class ShortStream : public TMemoryStream {
 public:
  explicit ShortStream(std::int64_t limit) : limit_(limit) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t n = std::clamp<std::int64_t>(limit_ - Size(), 0, count);
    return n == 0 ? 0 : TMemoryStream::Write(buffer, n);
  }

 private:
  std::int64_t limit_;
};

std::filesystem::path TempDir() {
  auto dir = std::filesystem::temp_directory_path() / ("bmp_writer_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

// Reading, writing and reading again gives the same pixels (and, for a
// compressed file, the same bytes).
void ExpectRoundTrip(const Bytes& file) {
  TBitmap first;
  Load(first, file);
  const Bytes written = Store(first);
  if (first.SharedImage().SavedStream) {
    EXPECT_EQ(written, file);
    return;
  }
  ASSERT_EQ(Get32(written, 2), written.size());
  TBitmap second;
  Load(second, written);
  EXPECT_EQ(second.Depth(), first.Depth());
  EXPECT_EQ(second.Width(), first.Width());
  EXPECT_EQ(second.Height(), first.Height());
  ASSERT_EQ(SectionSize(second), SectionSize(first));
  EXPECT_EQ(SectionBytes(second, SectionSize(second)), SectionBytes(first, SectionSize(first)));
  // The pixels end the file, so bfOffBits points exactly at them.
  EXPECT_EQ(Get32(written, 10) + SectionSize(first), written.size());
}

}  // namespace

TEST(BmpWriter, ThirtyTwoBitOutputIsExact) {
  TBitmap bitmap;
  bitmap.SetDepth(TPixelDepth::pd32Bit);
  bitmap.SetWidth(3);
  bitmap.SetHeight(2);
  const auto file = TempDir() / "out32.bmp";
  bitmap.StoreFile(file.string());
  const Bytes bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 78u);
  Bytes header{'B', 'M'};
  for (std::uint32_t v : {78u, 0u, 54u, 40u, 3u, 2u}) Put32(header, v);
  Put16(header, 1);
  Put16(header, 32);
  for (std::uint32_t v : {0u, 24u, 0u, 0u, 0u, 0u}) Put32(header, v);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 54), header);
  EXPECT_EQ(Bytes(bytes.begin() + 54, bytes.end()), SectionBytes(bitmap, 24));

  TMemoryStream data;
  bitmap.StoreData(data);
  ASSERT_EQ(data.Size(), 82);
  EXPECT_EQ(Get32(data.Bytes(), 0), 78u);
  EXPECT_EQ(Bytes(data.Bytes().begin() + 4, data.Bytes().end()), bytes);
  std::filesystem::remove_all(file.parent_path());
}

TEST(BmpWriter, EmptyBitmapWritesNothing) {
  TBitmap bitmap;
  const auto file = TempDir() / "empty.bmp";
  std::ofstream(file) << "old content";
  bitmap.StoreFile(file.string());
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  TMemoryStream data;
  bitmap.StoreData(data);
  EXPECT_EQ(data.Bytes(), Bytes(4, 0));
  std::filesystem::remove_all(file.parent_path());
}

TEST(BmpWriter, HeaderFormsAndOffsets) {
  const struct {
    const char* name;
    Bytes input;
    std::function<void(TBitmap&)> change;
    std::uint32_t headerSize;  // 12: core, 40: info
    std::uint32_t offBits;
    std::uint32_t clrUsed;  // of the info header written
  } cases[] = {
      {"8-bit, header says 0 colours", InfoBmp().width(3).bitCount(8).table(Table(256)).pixels(Pattern(4)).Build(),
       nullptr, 40, 1078, 256},
      {"8-bit with 20 colours", InfoBmp().width(3).bitCount(8).clrUsed(20).table(Table(20)).pixels(Pattern(4)).Build(),
       nullptr, 40, 134, 20},
      {"16-bit masks",
       InfoBmp().width(3).bitCount(16).compression(3).masks({0xF800, 0x7E0, 0x1F}).pixels(Pattern(8)).Build(), nullptr,
       40, 66, 0},
      {"24-bit with a colour table", InfoBmp().width(3).clrUsed(5).table(Table(5)).pixels(Pattern(12)).Build(), nullptr,
       40, 74, 5},
      {"core 4-bit", CoreBmp(3, 1, 4, Table(16, 3), Pattern(4)), nullptr, 12, 74, 0},
      {"core 24-bit", CoreBmp(3, 1, 24, {}, Pattern(12)), nullptr, 12, 26, 0},
      {"core set to 32 bits", CoreBmp(3, 1, 24, {}, Pattern(12)), [](TBitmap& b) { b.SetDepth(TPixelDepth::pd32Bit); },
       12, 26, 0},
      // A core image too wide for 16 bits is written with the info header.
      {"core widened past 16 bits", CoreBmp(3, 1, 4, Table(16, 3), Pattern(4)), [](TBitmap& b) { b.SetWidth(70000); },
       40, 118, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap bitmap;
    Load(bitmap, c.input);
    if (c.change) c.change(bitmap);
    const Bytes written = Store(bitmap);
    ASSERT_GE(written.size(), 26u);
    EXPECT_EQ(Get32(written, 14), c.headerSize);
    EXPECT_EQ(Get32(written, 10), c.offBits);
    EXPECT_EQ(Get32(written, 2), written.size());
    if (c.headerSize == 40) {
      EXPECT_EQ(Get32(written, 46), c.clrUsed);
    }

    TBitmap reread;
    Load(reread, written);
    EXPECT_EQ(reread.Width(), bitmap.Width());
    EXPECT_EQ(reread.Depth(), bitmap.Depth());
    EXPECT_EQ(reread.SharedImage().CoreFormat, c.headerSize == 12);
  }
}

TEST(BmpWriter, RoundTripsOfEveryForm) {
  // Odd sizes catch row padding and orientation faults.
  const Bytes pixels = Pattern(4 * 47 * 33);
  const struct {
    const char* name;
    Bytes file;
  } synthetic[] = {
      {"1-bit", InfoBmp().width(47).height(33).bitCount(1).table(Table(2)).pixels(pixels).Build()},
      {"4-bit", InfoBmp().width(47).height(33).bitCount(4).table(Table(16)).pixels(pixels).Build()},
      {"8-bit top-down", InfoBmp().width(47).height(-33).bitCount(8).table(Table(256)).pixels(pixels).Build()},
      {"16-bit masks",
       InfoBmp().width(47).height(33).bitCount(16).compression(3).masks({0x7C00, 0x3E0, 0x1F}).pixels(pixels).Build()},
      {"24-bit", InfoBmp().width(47).height(33).pixels(pixels).Build()},
      {"32-bit", InfoBmp().width(47).height(33).bitCount(32).pixels(pixels).Build()},
  };
  for (const auto& c : synthetic) {
    SCOPED_TRACE(c.name);
    ExpectRoundTrip(c.file);
  }
  // Core files come back byte for byte.
  const Bytes core = CoreBmp(47, 33, 8, Table(256, 3), Bytes(pixels.begin(), pixels.begin() + 48 * 33));
  TBitmap coreBitmap;
  Load(coreBitmap, core);
  EXPECT_EQ(Store(coreBitmap), core);

  for (const char* folder : {"g", "q"}) {
    for (const auto& entry : std::filesystem::directory_iterator(SuiteFile(folder))) {
      SCOPED_TRACE(entry.path().filename().string());
      TBitmap probe;
      const Bytes file = ReadFile(entry.path());
      try {
        Load(probe, file);
      } catch (const Exception&) {
        continue;  // refused files are the reader's tests
      }
      ExpectRoundTrip(file);
    }
  }
}

TEST(BmpWriter, CompressedImageAfterAChangeIsWrittenFromItsSection) {
  const Bytes rle = ReadFile(SuiteFile("g/pal8rle.bmp"));
  const Bytes plain = ReadFile(SuiteFile("g/pal8.bmp"));
  TBitmap bitmap;
  Load(bitmap, rle);
  bitmap.BitmapHandle();  // handing out the handle counts as a change
  const Bytes written = Store(bitmap);
  EXPECT_EQ(Get32(written, 30), 0u);  // BI_RGB
  TBitmap reread;
  Load(reread, written);
  ASSERT_EQ(reread.Depth(), TPixelDepth::pd32Bit);

  // Every pixel is the colour the 8-bit reference file gives it.
  const std::uint32_t offBits = Get32(plain, 10);
  const auto* bits = static_cast<const std::uint8_t*>(reread.SharedImage().Section.dsBm.bmBits);
  const std::int32_t height = reread.SharedImage().Section.dsBmih.biHeight;
  for (std::int32_t y = 0; y < 64; ++y) {
    for (std::int32_t x = 0; x < 127; ++x) {
      const std::size_t index = plain.at(offBits + static_cast<std::size_t>(y) * 128 + x);  // bottom-up
      const std::int32_t row = height > 0 ? y : 63 - y;
      const std::uint8_t* pixel = bits + (static_cast<std::size_t>(row) * 127 + x) * 4;
      ASSERT_EQ(Bytes(pixel, pixel + 3), Bytes(plain.begin() + 54 + 4 * index, plain.begin() + 54 + 4 * index + 3))
          << x << "," << y;
    }
  }
}

TEST(BmpWriter, ShortWritesAreWriteErrors) {
  const Bytes rle = ReadFile(SuiteFile("g/pal8rle.bmp"));
  const Bytes plain = InfoBmp().width(3).bitCount(8).table(Table(256)).pixels(Pattern(4)).Build();
  for (const Bytes* file : {&rle, &plain}) {
    for (std::int64_t limit :
         {std::int64_t{0}, std::int64_t{10}, std::int64_t{60}, static_cast<std::int64_t>(file->size()) - 1}) {
      SCOPED_TRACE(limit);
      TBitmap bitmap;
      Load(bitmap, *file);
      ShortStream stream(limit);
      EXPECT_THROW(bitmap.StoreStream(stream), EWriteError);
    }
  }
}

TEST(BmpWriter, UncreatableFileNamesItsFullPath) {
  TBitmap bitmap;
  Load(bitmap, InfoBmp().pixels(Pattern(4)).Build());
  const std::filesystem::path dir = std::filesystem::current_path();
  try {
    bitmap.StoreFile("no_such_folder/out.bmp");
    ADD_FAILURE() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot create file \"" + (dir / "no_such_folder/out.bmp").string() + "\". No such file or directory");
  }
}
