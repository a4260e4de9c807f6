#include "tool/bleed_command.h"
#include "tool/process_frame.h"

int main(int argc, char** argv) { bleedborder::tool::RunProcess(argc, argv, bleedborder::tool::BleedBorderCommand); }
