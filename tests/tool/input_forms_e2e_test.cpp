// Every form of input the reader takes, through the built program: its output
// must be, byte for byte, what the library's pass loop draws for the same
// picture, with every fourth byte 0.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/command_steps.h"
#include "tests/support/library_fixture.h"
#include "tests/tool/tool_test_support.h"

namespace {

using namespace tool_test;

// 26 x 24: a margin of 3 and three passes; rows of 24-bit pixels need padding.
constexpr int kWidth = 26;
constexpr int kHeight = 24;

// Indices of the indexed forms: runs of three, with index 0 (white) among them.
int IndexAt(int x, int y, int colors) { return (x / 3 + y) % colors; }

// Colour of table entry i: entry 0 white, the others distinct and not white.
std::uint32_t EntryColor(int i) {
  return i == 0 ? kWhite : (static_cast<std::uint32_t>(i * 53) & 0xFF) << 16 | (static_cast<std::uint32_t>(i * 29 + 40) & 0xFF) << 8 | static_cast<std::uint32_t>(255 - i);
}

// Colours of the direct forms: white speckles over a smooth field.
std::uint32_t ColorAt(int x, int y) {
  if ((x * 7 + y * 3) % 11 == 0) return kWhite;
  return static_cast<std::uint32_t>(x * 9) << 16 | static_cast<std::uint32_t>(y * 10) << 8 | static_cast<std::uint32_t>((x + y) * 5);
}

std::string Table(int entries, int entryBytes) {
  std::string table;
  for (int i = 0; i < entries; ++i) {
    const std::uint32_t c = EntryColor(i);
    table += static_cast<char>(c & 0xFF);
    table += static_cast<char>((c >> 8) & 0xFF);
    table += static_cast<char>((c >> 16) & 0xFF);
    if (entryBytes == 4) table += '\0';
  }
  return table;
}

// Rows in file order (bottom-up unless topDown), each padded to 32 bits;
// pixel(x, y, row) appends the bytes of one row, y counted from the top.
std::string Rows(int bitCount, bool topDown, const std::function<void(int y, std::string& row)>& fill) {
  const std::size_t stride = ((static_cast<std::size_t>(kWidth) * bitCount + 31) / 32) * 4;
  std::string rows;
  for (int i = 0; i < kHeight; ++i) {
    std::string row;
    fill(topDown ? i : kHeight - 1 - i, row);
    row.resize(stride, '\0');
    rows += row;
  }
  return rows;
}

std::string IndexedRows(int bitCount) {
  return Rows(bitCount, false, [bitCount](int y, std::string& row) {
    std::uint32_t bits = 0;
    int held = 0;
    for (int x = 0; x < kWidth; ++x) {
      bits = (bits << bitCount) | static_cast<std::uint32_t>(IndexAt(x, y, 1 << bitCount));
      held += bitCount;
      if (held == 8 || x == kWidth - 1) {
        row += static_cast<char>(bits << (8 - held));
        bits = 0;
        held = 0;
      }
    }
  });
}

// Run-length data: one run per three equal pixels, an end of line after each
// row and an end of the bitmap.
std::string RunLengthRows(int bitCount) {
  std::string data;
  for (int i = 0; i < kHeight; ++i) {
    const int y = kHeight - 1 - i;
    for (int x = 0; x < kWidth; x += 3) {
      const int count = std::min(3, kWidth - x);
      const int index = IndexAt(x, y, 1 << bitCount);
      data += static_cast<char>(count);
      data += static_cast<char>(bitCount == 4 ? index << 4 | index : index);
    }
    data += std::string("\0\0", 2);
  }
  return data + std::string("\0\1", 2);
}

std::string DirectRows(int bitCount, bool topDown, const std::function<std::uint32_t(std::uint32_t rgb, int x)>& pack) {
  return Rows(bitCount, topDown, [&](int y, std::string& row) {
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t value = pack(ColorAt(x, y), x);
      for (int b = 0; b < bitCount / 8; ++b) row += static_cast<char>((value >> (8 * b)) & 0xFF);
    }
  });
}

std::uint32_t To555(std::uint32_t rgb, int) {
  return ((rgb >> 19) & 0x1F) << 10 | ((rgb >> 11) & 0x1F) << 5 | ((rgb >> 3) & 0x1F);
}
std::uint32_t To565(std::uint32_t rgb, int) {
  return ((rgb >> 19) & 0x1F) << 11 | ((rgb >> 10) & 0x3F) << 5 | ((rgb >> 3) & 0x1F);
}

// An info-header file: header, masks, table and pixels as given.
std::string InfoFile(int bitCount, std::uint32_t compression, bool topDown, const std::string& masks,
                     const std::string& table, const std::string& pixels) {
  std::string bytes = BmpHeader(kWidth, topDown ? -kHeight : kHeight, bitCount);
  const auto offBits = static_cast<std::uint32_t>(54 + masks.size() + table.size());
  PutLittleEndian(bytes, 2, offBits + static_cast<std::uint32_t>(pixels.size()), 4);
  PutLittleEndian(bytes, 10, offBits, 4);
  PutLittleEndian(bytes, 30, compression, 4);
  PutLittleEndian(bytes, 34, static_cast<std::uint32_t>(pixels.size()), 4);
  return bytes + masks + table + pixels;
}

std::string CoreFile(int bitCount, const std::string& table, const std::string& pixels) {
  std::string bytes(26, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLittleEndian(bytes, 2, static_cast<std::uint32_t>(26 + table.size() + pixels.size()), 4);
  PutLittleEndian(bytes, 10, static_cast<std::uint32_t>(26 + table.size()), 4);
  PutLittleEndian(bytes, 14, 12, 4);
  PutLittleEndian(bytes, 18, kWidth, 2);
  PutLittleEndian(bytes, 20, kHeight, 2);
  PutLittleEndian(bytes, 22, 1, 2);
  PutLittleEndian(bytes, 24, static_cast<std::uint32_t>(bitCount), 2);
  return bytes + table + pixels;
}

std::string Masks(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  std::string masks(12, '\0');
  PutLittleEndian(masks, 0, red, 4);
  PutLittleEndian(masks, 4, green, 4);
  PutLittleEndian(masks, 8, blue, 4);
  return masks;
}

// The pass loop's file for the same bytes.
std::string PassLoopOutput(const std::string& file) {
  TBitmap source;
  command_steps::Load(source, reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  const TBleedGeometry g = BleedGeometryOf(source.Width(), source.Height());
  const std::vector<std::uint8_t> bytes = command_steps::Compose(source, g, false);
  return {bytes.begin(), bytes.end()};
}

TEST(InputForms, OutputIsThePassLoopsWithFourthBytesZero) {
  const struct {
    const char* form;
    std::string file;
  } forms[] = {
      {"1-bit indexed", InfoFile(1, 0, false, "", Table(2, 4), IndexedRows(1))},
      {"4-bit indexed", InfoFile(4, 0, false, "", Table(16, 4), IndexedRows(4))},
      {"8-bit indexed", InfoFile(8, 0, false, "", Table(256, 4), IndexedRows(8))},
      {"RLE4", InfoFile(4, 2, false, "", Table(16, 4), RunLengthRows(4))},
      {"RLE8", InfoFile(8, 1, false, "", Table(256, 4), RunLengthRows(8))},
      {"16-bit 5-5-5", InfoFile(16, 0, false, "", "", DirectRows(16, false, To555))},
      {"16-bit bit fields 5-6-5", InfoFile(16, 3, false, Masks(0xF800, 0x7E0, 0x1F), "", DirectRows(16, false, To565))},
      {"24-bit", InfoFile(24, 0, false, "", "", DirectRows(24, false, [](std::uint32_t c, int) { return c; }))},
      {"24-bit top-down", InfoFile(24, 0, true, "", "", DirectRows(24, true, [](std::uint32_t c, int) { return c; }))},
      {"32-bit, fourth bytes 0", InfoFile(32, 0, false, "", "", DirectRows(32, false, [](std::uint32_t c, int) { return c; }))},
      {"32-bit with fourth bytes",
       InfoFile(32, 0, false, "", "", DirectRows(32, false, [](std::uint32_t c, int x) { return c | (x % 2 ? 0xFF000000u : 0x80000000u); }))},
      {"32-bit top-down with fourth bytes",
       InfoFile(32, 0, true, "", "", DirectRows(32, true, [](std::uint32_t c, int) { return c | 0xFF000000u; }))},
      {"32-bit bit fields", InfoFile(32, 3, false, Masks(0xFF0000, 0xFF00, 0xFF), "", DirectRows(32, false, [](std::uint32_t c, int) { return c | 0x11000000u; }))},
      {"core header, 8-bit", CoreFile(8, Table(256, 3), IndexedRows(8))},
      {"core header, 24-bit", CoreFile(24, "", DirectRows(24, false, [](std::uint32_t c, int) { return c; }))},
  };
  for (const auto& f : forms) {
    SCOPED_TRACE(f.form);
    TempFolder folder;
    WriteBytes(folder / "in.bmp", f.file);
    const RunResult run = RunTool(folder.Path(), {"in.bmp"});
    ASSERT_EQ(run.err, "");
    ASSERT_EQ(run.exitCode, 0);
    const std::string written = ReadBytes(folder / "in.bmp.bmp");
    ASSERT_EQ(written.size(), 54u + 4u * (kWidth + 3) * (kHeight + 3));
    EXPECT_TRUE(written == PassLoopOutput(f.file)) << "the program's pixels differ from the pass loop's";
    int fourthNotZero = 0;
    for (std::size_t i = 54 + 3; i < written.size(); i += 4) fourthNotZero += written[i] != 0;
    EXPECT_EQ(fourthNotZero, 0);
    // The picture's colours are there, not a blank the two paths share.
    const Picture32 out(written);
    std::set<std::uint32_t> colors;
    for (int y = 0; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) colors.insert(out.Pixel(x, y));
    EXPECT_GE(colors.size(), 2u);
  }
}

}  // namespace
