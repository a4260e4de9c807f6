#pragma once
// The bleed border: a stack of ever smaller stretched copies of a picture laid
// over an image with white transparent, then the picture itself near the middle.
//
// Pass k (k = 0 .. inset) clears a work image of the composite's size to white,
// stretches the picture into (k, k, width - k, height - k) under the work
// canvas's BLACKONWHITE stretch mode, and draws the work image's non-white
// pixels over the composite. Then the picture's non-white pixels are drawn at
// (inset, inset).
#include <cstdint>
#include <string>

#include "bleedborder/export.h"

namespace bleedborder {

class TBitmap;
class TStream;

// Gives source and work what the passes draw with: white is the key colour of
// both, fixed in the picture and found by the work image, whose canvas clears
// to white with a solid brush (and a white pen).
BLEEDBORDER_EXPORT void PrepareBleedBitmaps(TBitmap& source, TBitmap& work);

// The passes as drawing operations, one after another: the reference, and the
// path for any picture the direct renderer does not take. work must already
// be sized like composite, and both prepared by PrepareBleedBitmaps.
BLEEDBORDER_EXPORT void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, std::int32_t inset);

// What the direct renderer does with the composite pixels that neither a pass
// nor the picture paints.
enum class TUnpaintedPixels : std::uint8_t {
  Keep,   // left as they are, all four bytes, as the passes leave them
  White,  // made white with a fourth byte of 0, as sizing a bitmap clears it:
          // for a composite whose pixels have not been set yet
};

struct TBleedOptions {
  TUnpaintedPixels unpainted = TUnpaintedPixels::Keep;
  // 0: as many as pay for themselves (one per core for a large composite).
  unsigned threads = 0;
};

// True when the direct renderer can draw the border of source (an
// uncompressed section of 1, 4, 8, 16, 24 or 32 bits, read through its colour
// table or masks as the 32 bits it converts to, or a 32-bit device bitmap,
// which a run-length compressed file loads as, read as it is) on a composite
// of this size: one at least as large as the picture placed at (inset,
// inset), and every pass but the last one enlarging.
BLEEDBORDER_EXPORT bool BleedDirectFits(TBitmap& source, std::int32_t outputWidth, std::int32_t outputHeight,
                                        std::int32_t inset);

// The same bytes as DrawBleedPasses (with the pixels no pass paints as
// options.unpainted says), computed pass by pass a row of the composite at a
// time. Returns false, drawing nothing, unless BleedDirectFits and composite
// is a 32-bit BI_RGB section.
BLEEDBORDER_EXPORT bool DrawBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset,
                                        TBleedOptions options = {});

struct TBandOptions {
  // 0: as many as pay for themselves.
  unsigned threads = 0;
  // The most pixel bytes a thread renders before they are written; 0: 256
  // KiB. A row wider than that is rendered a part of its columns at a time.
  std::int64_t bandBytes = 0;
};

// Writes the file composite.StoreFile(fileName) would write after
// DrawBleedDirect with unpainted pixels made white, composite being a 32-bit
// section without padding (as an empty 32-bit bitmap sized gets): the pixels
// are rendered a band at a time as they are written, so the composite's own
// pixels are never touched and it may be sized unfilled, and the memory
// taken is the picture's, a bit per pixel of it, and a few bands. Everything
// the rendering needs is made before the file is created. Returns false,
// creating no file, when DrawBleedDirect could not draw.
BLEEDBORDER_EXPORT bool StoreBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset,
                                         const std::string& fileName, TBandOptions options = {});
// The same written to a stream, as composite.StoreStream would write it.
BLEEDBORDER_EXPORT bool StoreBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset, TStream& stream,
                                         TBandOptions options = {});

}  // namespace bleedborder
