#pragma once

namespace bleedborder {

// The process around the command: start-up, the command run once, the report
// of a failure, and shut-down in the reverse order of start-up.
//
// Start-up: the runtime (fault handlers, round-to-nearest-even, the command
// line), the error-reporting layer (module table, ready-made out-of-memory
// report, platform identifier), the drawing library. An exception that
// escapes the command, or the start-up of the drawing library, is reported
// on standard error and ends the process with exit code 1; before the
// error-reporting layer has started, and after it has stopped, a failure
// ends with the runtime error line instead.
namespace tool {

using Command = void (*)();

[[noreturn]] void RunProcess(int argc, char** argv, Command command);

// Shuts down every layer that started, newest first, and ends the process
// with code.
[[noreturn]] void EndProcess(int code);

}  // namespace tool

}  // namespace bleedborder
