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

// Writes the bordered picture of the BMP file inputName to outputName: the
// file StoreBleedBorder writes of the picture TBitmap::LoadFile loads, with
// the same exceptions for a file that cannot be opened or is no bitmap
// (raised before the output is created). The pixels of a large
// uncompressed file are read while the border is rendered, in the order the
// file holds them, each band once the rows it reads are in; a file cut short
// while it is read raises EReadError "Stream read error" then.
BLEEDBORDER_EXPORT void StoreBleedBorderOfFile(const std::string& inputName, const std::string& outputName);

}  // namespace bleedborder
