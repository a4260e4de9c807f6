#pragma once
// The bleed border computed rather than drawn: the bytes the passes give
// (DrawBleedPasses), a row of the output at a time, from the picture as it
// was loaded.
//
// A composite pixel shows the picture's pixel where that is not white, else
// the sample of the highest pass that is not white there, else what it held.
// Every pass but the last enlarges (or keeps the size), so on an output row
// pass k reads one source row, and output column x reads source column
// C_k(x), with C_k non-decreasing in x. The row renderer (row_renderer.h)
// tells how a row is worked out, and what it costs.
//
// The picture is read as it was loaded: 24 and 32 bits directly (a 32-bit
// device bitmap, as a run-length compressed file is decoded to, too), 1 to 16
// bits through a table of each value's colour (its colour table or masks
// applied once per value), 32 bits with other masks a pixel at a time; the
// colours are those its conversion to 32 bits would give.
//
// Memory, besides the picture: its non-white bits, a bit per pixel packed
// without row padding (none for a picture narrower than 64 pixels, whose
// rows are worked out where they are read, so that rows a file claims but
// does not supply cost nothing); per pass 24 bytes per 64 output columns;
// per thread a band of output (256 KiB; a row wider than that is rendered a
// band of its columns at a time) and a bit per pixel of the band.
#include <cstdint>
#include <string>

#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/bleed/renderer/row_renderer.h"

namespace bleedborder {

class TBitmap;
class TStream;

namespace bleed {

struct TBandOptions {
  // 0: as many as pay for themselves.
  unsigned threads = 0;
  // The most pixel bytes a thread renders before they are written; 0: 256
  // KiB. A row wider than that is rendered a part of its columns at a time.
  std::int64_t bandBytes = 0;
};

// True when the direct renderer can draw the border of source with this
// geometry: source is an uncompressed section of 1, 4, 8, 16, 24 or 32 bits
// (read through its colour table or masks as the 32 bits it converts to) or
// a 32-bit device bitmap (which a run-length compressed file loads as), of
// the geometry's source size; the output is at least as large as the picture
// placed at (inset, inset), and every pass but the last one enlarges.
bool BleedDirectFits(TBitmap& source, const TBleedGeometry& g);

// The same bytes as DrawBleedPasses (with the pixels no pass paints as
// options.unpainted says), drawn on composite. Returns false, drawing
// nothing, unless BleedDirectFits and composite is a 32-bit BI_RGB section
// of the output's size.
bool DrawBleedDirect(TBitmap& source, TBitmap& composite, const TBleedGeometry& g, TBleedOptions options = {});

// Writes the 32-bit BMP file a composite of the output's size would be
// written as after DrawBleedDirect with unpainted pixels made white. The
// pixels are rendered a band at a time as they are written, so that no
// composite's pixels are ever held: the memory taken is the picture's, a bit
// per pixel of it, and a few bands. The memory the rendering needs is taken
// before the file is created (the tables every row reads are worked out
// while it is). With readPicture, source's pixels are not in yet and are
// read with it while the bands are rendered, each band once the rows it
// reads are in (row_renderer.h). Returns false, creating no file and
// reading nothing, unless BleedDirectFits.
bool StoreBleedDirect(TBitmap& source, const TBleedGeometry& g, const std::string& fileName,
                      TBandOptions options = {}, const TPictureReader& readPicture = {});
// The same written to a stream.
bool StoreBleedDirect(TBitmap& source, const TBleedGeometry& g, TStream& stream, TBandOptions options = {});

}  // namespace bleed
}  // namespace bleedborder
