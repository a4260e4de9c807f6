#pragma once
// The bleed border command: reads a BMP picture and writes, next to it under
// its name with ".bmp" appended, a 32-bit picture one eighth of the shorter
// side larger, whose margin repeats the picture's edges.
#include <string>

namespace bleedborder::tool {

// The command on the picture at inputPath. A name that is missing or a
// directory does nothing; every failure is an exception.
void BleedBorder(const std::string& inputPath);

// The command on argument 1 of the process.
void BleedBorderCommand();

}  // namespace bleedborder::tool
