// Damaged and hostile input files through the built program: each is either
// processed or refused with the two-line report, and a refusal costs little
// memory whatever size the file claims.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tool/tool_test_support.h"

namespace {

using namespace tool_test;

// The measured peak also holds what the test program itself had resident
// when it forked (the kernel counts it for the child until the exec), so the
// figure is an upper bound of the tool's own.
constexpr double kRefusalPeakMiB = 64;

std::string Suite(const std::string& name) { return ReadBytes(std::string(BLEED_TEST_DATA) + "/bmpsuite/" + name); }

// An info-header file of the given fields followed by tail (table, pixels).
std::string Info(std::int32_t width, std::int32_t height, int bitCount, std::uint32_t compression = 0,
                 const std::string& tail = "") {
  std::string bytes = BmpHeader(1, 1, bitCount);
  PutLittleEndian(bytes, 18, static_cast<std::uint32_t>(width), 4);
  PutLittleEndian(bytes, 22, static_cast<std::uint32_t>(height), 4);
  PutLittleEndian(bytes, 30, compression, 4);
  PutLittleEndian(bytes, 34, 0, 4);
  return bytes + tail;
}

// A core-header file: 12-byte header, 3-byte table entries.
std::string Core(std::uint16_t width, std::uint16_t height, int bitCount, const std::string& tail) {
  std::string bytes(26, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLittleEndian(bytes, 2, static_cast<std::uint32_t>(26 + tail.size()), 4);
  PutLittleEndian(bytes, 10, 26 + (bitCount <= 8 ? 3u << bitCount : 0u), 4);
  PutLittleEndian(bytes, 14, 12, 4);
  PutLittleEndian(bytes, 18, width, 2);
  PutLittleEndian(bytes, 20, height, 2);
  PutLittleEndian(bytes, 22, 1, 2);
  PutLittleEndian(bytes, 24, static_cast<std::uint32_t>(bitCount), 2);
  return bytes + tail;
}

// The file cut just after its header, or just after its colour table.
std::string CutAfterHeader(const std::string& file) { return file.substr(0, 14 + GetLittleEndian(file, 14, 4)); }
std::string CutAfterTable(const std::string& file) {
  const std::uint32_t entries = GetLittleEndian(file, 46, 4);
  const std::uint32_t bitCount = GetLittleEndian(file, 28, 2);
  return file.substr(0, 14 + GetLittleEndian(file, 14, 4) + 4 * (entries ? entries : 1u << bitCount));
}

std::string Refused(const std::string& className, const std::string& message) {
  return ExpectedReport(className, message);
}
const std::string kInvalid = Refused("EInvalidGraphic", "Bitmap image is not valid.");
const std::string kReadError = Refused("EReadError", "Stream read error.");
const std::string kNoMemory = Refused("EOutOfResources", "Cannot allocate memory.");
const std::string kSectionTooLarge = Refused("EOSError", "System Error.  Code: 12.\r\nCannot allocate memory.");

struct HostileCase {
  const char* what;
  std::string bytes;
  std::string report;  // "" when the file is processed
  int outputWidth = 0;  // of a processed file
  int outputHeight = 0;
};

TEST(HostileFiles, AreProcessedOrRefusedCheaply) {
  std::string offBitsBeyondTheEnd = Bmp24(8, 8, [](int x, int y) { return 0x102030u * (x + y); });
  PutLittleEndian(offBitsBeyondTheEnd, 10, 0xFFFFFFF0, 4);
  std::string sizeImageHuge = Bmp24(8, 8, [](int x, int) { return 0x010101u * x; });
  PutLittleEndian(sizeImageHuge, 34, 0xFFFFFFFF, 4);
  std::string headerSizeHuge = Info(4, 4, 24);
  PutLittleEndian(headerSizeHuge, 14, 0xFFFFFFFF, 4);
  std::string colorsUsedHuge = Info(4, 4, 8);
  PutLittleEndian(colorsUsedHuge, 46, 0xFFFFFFFF, 4);

  const HostileCase cases[] = {
      // Compressed data of an undecodable form, with no pixel bytes to decode.
      {"compression 9 and nothing after the header", Info(4, 4, 24, 9), kInvalid},
      {"run-length data top-down, cut after the colour table", CutAfterTable(Suite("b/rletopdown.bmp")), kInvalid},
      {"PNG data, cut after the header", CutAfterHeader(Suite("q/rgb24png.bmp")), kInvalid},
      {"run-length 8 at 24 bits, no pixel bytes", Info(4, 4, 24, 1), kInvalid},
      // Claims of huge pictures backed by a few bytes.
      {"core header 65535 x 65535 at 1 bit", Core(65535, 65535, 1, std::string(6 + 64, '\0')), kNoMemory},
      {"23170 x 23170 at 32 bits, no pixels", Info(23170, 23170, 32), kNoMemory},
      {"30000 x 30000 at 24 bits, no pixels", Info(30000, 30000, 24), kSectionTooLarge},
      {"run-length 23000 x 23000, only the end of the bitmap",
       Info(23000, 23000, 8, 1, std::string(1024, '\0') + std::string("\0\1", 2)), kNoMemory},
      {"2^31 - 1 pixels wide at 1 bit", Info(0x7FFFFFFF, 1, 1, 0, std::string(8, '\0')), kNoMemory},
      {"46341 x 46341 at 1 bit", Info(46341, 46341, 1, 0, std::string(8, '\0')), kNoMemory},
      // Sizes in the header that the data does not back.
      {"header size 0xFFFFFFFF", headerSizeHuge, kReadError},
      {"colours used 0xFFFFFFFF", colorsUsedHuge, kReadError},
      {"pixel offset beyond the end", offBitsBeyondTheEnd, "", 9, 9},
      {"image size 0xFFFFFFFF", sizeImageHuge, "", 9, 9},
      {"64 x 64 with 10 pixel bytes", Info(64, 64, 24, 0, std::string(10, '\x40')), "", 72, 72},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    WriteBytes(folder / "in.bmp", c.bytes);
    const RunResult run = RunTool(folder.Path(), {"in.bmp"});
    EXPECT_EQ(MaskAddress(run.err), c.report);
    if (c.report.empty()) {
      EXPECT_EQ(run.exitCode, 0);
      const Picture32 out(ReadBytes(folder / "in.bmp.bmp"));
      EXPECT_EQ(out.width, c.outputWidth);
      EXPECT_EQ(out.height, c.outputHeight);
    } else {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_FALSE(std::filesystem::exists(folder / "in.bmp.bmp"));
      EXPECT_LT(run.peakMiB, kRefusalPeakMiB);
    }
    std::cout << "  " << c.what << ": peak " << run.peakMiB << " MiB\n";
  }
}

// A picture followed by gibibytes of other data (sparse files, so that the
// disk holds none of it) is read like the picture alone: the byte count
// left is not cut to 32 bits, which would leave too few bytes for the
// picture (4 GiB + 16) or a negative count (2 GiB + 16).
TEST(HostileFiles, DataBeyondTwoAndFourGibibytesAfterThePicture) {
  for (const std::uintmax_t size : {(std::uintmax_t{1} << 31) + 16, (std::uintmax_t{1} << 32) + 16}) {
    SCOPED_TRACE(size);
    TempFolder folder;
    const std::string picture = Bmp24(8, 8, [](int x, int y) { return 0x203040u + static_cast<std::uint32_t>(x + y); });
    WriteBytes(folder / "in.bmp", picture);
    std::filesystem::resize_file(folder / "in.bmp", size);
    const RunResult run = RunTool(folder.Path(), {"in.bmp"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    const Picture32 out(ReadBytes(folder / "in.bmp.bmp"));
    EXPECT_EQ(out.width, 9);
    EXPECT_EQ(out.Pixel(0, 0), 0x203040u);
  }
}

}  // namespace
