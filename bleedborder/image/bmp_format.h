#pragma once
// BMP record helpers shared by the reader and the writer.
#include <cstddef>
#include <cstdint>
#include <span>

#include "bleedborder/platform/gdi.h"

namespace bleedborder {

// The signature "BM" of a BMP file header, read as a little-endian word.
inline constexpr std::uint16_t kBmpSignature = 0x4D42;
// Sizes of the fixed records of a BMP file.
inline constexpr std::int32_t kFileHeaderBytes = 14;
inline constexpr std::int32_t kCoreHeaderBytes = 12;
inline constexpr std::int32_t kInfoHeaderBytes = 40;
inline constexpr std::int32_t kMaskBytes = 12;
inline constexpr std::int32_t kMaxTableEntries = 256;
inline constexpr std::int32_t kTableBytes = kMaxTableEntries * 4;

// Widens a table of 256 RGBTRIPLE entries, held at the start of the 1024
// bytes given, in place to 256 RGBQUAD entries with a zero fourth byte.
void WidenColorTable(std::span<std::uint8_t, kTableBytes> table);

// Turns the first count RGBQUAD entries of table in place into RGBTRIPLE
// entries and zero-fills the triples up to 2^bitCount entries (bitCount at
// most 8). Returns the entry count now held: 2^bitCount.
std::int32_t NarrowColorTable(gdi::RGBQUAD (&table)[kMaxTableEntries], std::int32_t count, std::uint16_t bitCount);

}  // namespace bleedborder
