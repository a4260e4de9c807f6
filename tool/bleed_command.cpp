#include "tool/bleed_command.h"

#include "bleedborder/bleed/bleed.h"
#include "tool/arguments.h"
#include "tool/file_presence.h"

namespace bleedborder::tool {

void BleedBorder(const std::string& inputPath) {
  if (!FileIsPresent(inputPath)) return;
  StoreBleedBorderOfFile(inputPath, inputPath + ".bmp");
}

void BleedBorderCommand() { BleedBorder(CommandArgument(1)); }

}  // namespace bleedborder::tool
