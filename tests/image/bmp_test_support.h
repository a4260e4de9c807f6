#pragma once
// Building BMP bytes for tests, and loading and storing them through memory.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bleedborder/core/stream.h"
#include "bleedborder/image/bitmap.h"

using namespace bleedborder;

namespace bmp_test {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline std::uint32_t Get16(const Bytes& in, std::size_t at) { return in.at(at) | (in.at(at + 1) << 8); }
inline std::uint32_t Get32(const Bytes& in, std::size_t at) { return Get16(in, at) | (Get16(in, at + 2) << 16); }

// An info-header BMP file. Header fields beyond the 40 bytes come from
// extraHeader; offBits defaults to where the pixels are placed.
struct InfoBmp {
  std::int32_t width_ = 1;
  std::int32_t height_ = 1;
  std::uint16_t planes_ = 1;
  std::uint16_t bitCount_ = 24;
  std::uint32_t compression_ = 0;
  std::uint32_t sizeImage_ = 0;
  std::uint32_t clrUsed_ = 0;
  Bytes extraHeader_;
  std::vector<std::uint32_t> masks_;  // written after the header
  Bytes table_;                       // raw colour table bytes
  Bytes gap_;                         // between the table and the pixels
  Bytes pixels_;
  std::optional<std::uint32_t> offBits_;

#define BMP_TEST_SETTER(name)              \
  InfoBmp& name(decltype(name##_) value) { \
    name##_ = std::move(value);            \
    return *this;                          \
  }
  BMP_TEST_SETTER(width)
  BMP_TEST_SETTER(height)
  BMP_TEST_SETTER(planes)
  BMP_TEST_SETTER(bitCount)
  BMP_TEST_SETTER(compression)
  BMP_TEST_SETTER(sizeImage)
  BMP_TEST_SETTER(clrUsed)
  BMP_TEST_SETTER(extraHeader)
  BMP_TEST_SETTER(masks)
  BMP_TEST_SETTER(table)
  BMP_TEST_SETTER(gap)
  BMP_TEST_SETTER(pixels)
  BMP_TEST_SETTER(offBits)
#undef BMP_TEST_SETTER

  Bytes Build() const {
    Bytes out{'B', 'M'};
    const std::uint32_t headerSize = 40 + static_cast<std::uint32_t>(extraHeader_.size());
    const std::uint32_t before = 14 + headerSize + 4 * static_cast<std::uint32_t>(masks_.size()) +
                                 static_cast<std::uint32_t>(table_.size() + gap_.size());
    Put32(out, before + static_cast<std::uint32_t>(pixels_.size()));
    Put32(out, 0);
    Put32(out, offBits_.value_or(before));
    Put32(out, headerSize);
    Put32(out, static_cast<std::uint32_t>(width_));
    Put32(out, static_cast<std::uint32_t>(height_));
    Put16(out, planes_);
    Put16(out, bitCount_);
    Put32(out, compression_);
    Put32(out, sizeImage_);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, clrUsed_);
    Put32(out, 0);
    out.insert(out.end(), extraHeader_.begin(), extraHeader_.end());
    for (std::uint32_t m : masks_) Put32(out, m);
    out.insert(out.end(), table_.begin(), table_.end());
    out.insert(out.end(), gap_.begin(), gap_.end());
    out.insert(out.end(), pixels_.begin(), pixels_.end());
    return out;
  }
};

// A core-header BMP file with a table of 3-byte entries.
inline Bytes CoreBmp(std::uint16_t width, std::uint16_t height, std::uint16_t bitCount, const Bytes& table,
                     const Bytes& pixels, std::uint16_t planes = 1) {
  Bytes out{'B', 'M'};
  const auto before = static_cast<std::uint32_t>(14 + 12 + table.size());
  Put32(out, before + static_cast<std::uint32_t>(pixels.size()));
  Put32(out, 0);
  Put32(out, before);
  Put32(out, 12);
  Put16(out, width);
  Put16(out, height);
  Put16(out, planes);
  Put16(out, bitCount);
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// count table entries of entryBytes bytes, entry i holding i, i+1, i+2 (and 0).
inline Bytes Table(std::size_t count, std::size_t entryBytes = 4) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t b = 0; b < entryBytes; ++b) out.push_back(b == 3 ? 0 : static_cast<std::uint8_t>(i + b));
  return out;
}

inline Bytes Pattern(std::size_t count, std::uint8_t seed = 1) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(seed + 7 * i);
  return out;
}

inline TMemoryStream StreamOf(const Bytes& bytes) {
  TMemoryStream stream;
  stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

inline void Load(TBitmap& bitmap, const Bytes& bytes) {
  TMemoryStream stream = StreamOf(bytes);
  bitmap.LoadStream(stream);
}

inline Bytes Store(TBitmap& bitmap) {
  TMemoryStream stream;
  bitmap.StoreStream(stream);
  return stream.Bytes();
}

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::filesystem::path SuiteFile(const std::string& name) {
  return std::filesystem::path(BLEED_TEST_DATA) / "bmpsuite" / name;
}

// The first n bytes of the section's pixel memory.
inline Bytes SectionBytes(TBitmap& bitmap, std::size_t n) {
  const auto* bits = static_cast<const std::uint8_t*>(bitmap.SharedImage().Section.dsBm.bmBits);
  return bits ? Bytes(bits, bits + n) : Bytes{};
}

inline std::size_t SectionSize(TBitmap& bitmap) {
  const gdi::BITMAP& bm = bitmap.SharedImage().Section.dsBm;
  return static_cast<std::size_t>(bm.bmWidthBytes) *
         static_cast<std::size_t>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight);
}

}  // namespace bmp_test
