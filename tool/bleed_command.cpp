#include "tool/bleed_command.h"

#include "bleedborder/bleed/bleed.h"
#include "bleedborder/image/bitmap.h"
#include "tool/arguments.h"
#include "tool/file_presence.h"

namespace bleedborder::tool {

void BleedBorder(const std::string& inputPath) {
  if (!FileIsPresent(inputPath)) return;
  TBitmap picture;
  picture.LoadFile(inputPath);
  StoreBleedBorder(picture, inputPath + ".bmp");
}

void BleedBorderCommand() { BleedBorder(CommandArgument(1)); }

}  // namespace bleedborder::tool
