#pragma once
// The bleed border command: reads a BMP picture and writes, next to it under
// its name with ".bmp" appended, a 32-bit picture one eighth of the shorter
// side larger, whose margin repeats the picture's edges.
#include <cstdint>
#include <string>

class TBitmap;

namespace tool {

// The passes of the border and the picture over them. Pass i (0 to inset)
// clears work to white, stretches the whole of source into (i, i,
// outputWidth - i, outputHeight - i) and draws work's non-white pixels over
// composite; then source's non-white pixels are drawn at (inset, inset). work
// is sized like composite, with a white solid brush; work and source have
// white as their key colour.
void DrawBleedPasses(TBitmap& source, TBitmap& work, TBitmap& composite, std::int32_t inset,
                     std::int32_t outputWidth, std::int32_t outputHeight);

// The command on the picture at inputPath. A name that is missing or a
// directory does nothing; every failure is an exception.
void BleedBorder(const std::string& inputPath);

// The command on argument 1 of the process.
void BleedBorderCommand();

}  // namespace tool
