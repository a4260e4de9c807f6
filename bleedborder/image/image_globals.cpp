// Process-wide objects of the image model.
#include "bleedborder/image/image_globals.h"

namespace bleedborder {

gdi::HPALETTE StockPalette16;

}  // namespace bleedborder
