#pragma once
// The bleed border of a picture, written as a 32-bit BMP: the picture grown by
// a margin of an eighth of its shorter side (bleed_geometry.h), the margin
// filled with a stack of ever smaller stretched copies of the picture, white
// transparent, and the picture drawn near the middle (bleed_passes.h).
#include <string>

#include "bleedborder/export.h"

namespace bleedborder {

class TBitmap;
class TStream;

// Writes the bordered picture to a file or a stream. The picture is read as
// it was loaded, whatever its depth, and left as it is; another thread may
// draw on it meanwhile, and the file is then the border of the picture as it
// was when the call began. An output too large for a bitmap is refused, with
// the exception sizing one would raise, before anything is made or written.
BLEEDBORDER_EXPORT void StoreBleedBorder(TBitmap& picture, const std::string& fileName);
BLEEDBORDER_EXPORT void StoreBleedBorder(TBitmap& picture, TStream& stream);

}  // namespace bleedborder
