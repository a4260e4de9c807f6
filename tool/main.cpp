#include "tool/bleed_command.h"
#include "tool/process_frame.h"

int main(int argc, char** argv) { tool::RunProcess(argc, argv, tool::BleedBorderCommand); }
