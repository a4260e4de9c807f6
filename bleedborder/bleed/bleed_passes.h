#pragma once
// The bleed border as drawing operations: a stack of ever smaller stretched
// copies of a picture laid over an image with white transparent, then the
// picture itself near the middle.
//
// Pass k (k = 0 .. inset) clears a work image of the output's size to white,
// stretches the picture into PassRect(k) under the work canvas's
// BLACKONWHITE stretch mode, and draws the work image's non-white pixels over
// the composite. Then the picture's non-white pixels are drawn at (inset,
// inset). The direct renderer computes the same bytes without the drawing.
#include "bleedborder/bleed/bleed_geometry.h"
#include "bleedborder/export.h"

namespace bleedborder {

class TBitmap;

// Gives source and work what the passes draw with: white is the key colour of
// both, fixed in the picture and found by the work image, whose canvas clears
// to white with a solid brush (and a white pen).
BLEEDBORDER_EXPORT void PrepareBleedBitmaps(TBitmap& source, TBitmap& work);

// The passes one after another, then the picture. work and composite must be
// of the output's size, and source and work prepared by PrepareBleedBitmaps.
BLEEDBORDER_EXPORT void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, const TBleedGeometry& g);

}  // namespace bleedborder
