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

class TBitmap;

// The passes as drawing operations, one after another: the reference, and the
// path for any picture that is not a 32-bit BI_RGB section. work must already
// be sized like composite, with a white solid brush and white as its fixed key
// colour; source must use white as its key colour; both transparent.
void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, std::int32_t inset);

// The same bytes computed per pixel of the composite, in time proportional to
// its size for most pictures. Returns false, drawing nothing, unless source and
// composite are 32-bit BI_RGB sections and composite is at least as large as
// the passes need.
bool DrawBleedDirect(TBitmap& source, TBitmap& composite, std::int32_t inset);
