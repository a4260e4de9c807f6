// Process-wide objects of the image model.
#include "image/image_globals.h"

gdi::HPALETTE StockPalette16;
