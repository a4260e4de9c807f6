#pragma once
// Process services under the platform's names.
#include <cstdint>
#include <string>
#include <string_view>

#include "bleedborder/export.h"

namespace bleedborder {

namespace sys {

// Records the arguments as delivered to main; the process frame calls it first.
BLEEDBORDER_EXPORT void SetCommandLine(int argc, char** argv);
// Argument index as the platform delivered it (0 is the program as started);
// empty when there is none.
BLEEDBORDER_EXPORT std::string GetArgument(int index);
// The whole command line as one text: the arguments joined by blanks, each
// that holds a separator or a quote wrapped in quotes.
BLEEDBORDER_EXPORT std::string GetCommandLineA();
// The program's own file path (/proc/self/exe).
BLEEDBORDER_EXPORT std::string GetModuleFileNameA();
// The start address of the program's code, for addresses given as offsets.
BLEEDBORDER_EXPORT std::uintptr_t ModuleBase();

// VER_PLATFORM_WIN32_NT: the raster device offers a masked transfer.
constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;
BLEEDBORDER_EXPORT std::uint32_t GetPlatformId();

// Writes all of text to standard error / output; false when that fails.
BLEEDBORDER_EXPORT bool WriteStdErr(std::string_view text);
BLEEDBORDER_EXPORT bool WriteStdOut(std::string_view text);

[[noreturn]] BLEEDBORDER_EXPORT void ExitProcess(int code);

}  // namespace sys

namespace sys {
// The platform identifier the process frame reads at start-up; the library's
// transparent drawing takes its single masked transfer only for
// VER_PLATFORM_WIN32_NT. Starts as GetPlatformId().
extern BLEEDBORDER_EXPORT std::uint32_t PlatformId;
}  // namespace sys

}  // namespace bleedborder
