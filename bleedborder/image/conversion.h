#pragma once
// Building a new bitmap from an old one (depth, size, kind and palette
// changes) and the palette routines those changes use.
#include <cstdint>

#include "bleedborder/core/library_lock.h"
#include "bleedborder/platform/gdi.h"

namespace bleedborder {

class TCanvas;

// A new bitmap described by record, holding old's pixels; record is rewritten
// to describe the bitmap made. 0 when the record describes nothing to make.
gdi::HBITMAP RebuildBitmap(gdi::HBITMAP old, gdi::HPALETTE oldPalette, gdi::HPALETTE newPalette,
                           gdi::DIBSECTION& record, TCanvas* canvas) REQUIRES(LibraryLock);
// A new section described by record (more than 8 bits per pixel) whose pixels
// are left as the platform gives them, for a caller that writes them all;
// record is rewritten to describe it. 0 when the record describes nothing.
gdi::HBITMAP MakeUnfilledSection(gdi::DIBSECTION& record);
gdi::HPALETTE DuplicatePalette(gdi::HPALETTE palette);
// Entries 0..highestIndex of palette as RGBQUAD; returns the count written.
std::int32_t TableFromPalette(gdi::HPALETTE palette, gdi::RGBQUAD* table, std::int32_t highestIndex);
void SyncSectionColors(gdi::HBITMAP section, gdi::HPALETTE palette, const gdi::DIBSECTION& record);
void DefaultMasks(gdi::DIBSECTION& record);
gdi::HPALETTE BuildStockPalette();

// The 16 colours of the stock palette, in palette-entry order.
extern const gdi::PALETTEENTRY StockColors16[16];

}  // namespace bleedborder
