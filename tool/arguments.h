#pragma once
// Cutting arguments out of a command line.
#include <cstddef>
#include <string>
#include <string_view>

namespace bleedborder::tool {

// Cuts the argument that starts at or after position in a command-line text
// and returns the position just after it. Blanks and every control character
// (bytes up to 0x20) separate arguments; a double quote opens a stretch, ended
// by the next quote or the end of the text, in which separators are ordinary
// characters; the quotes are dropped, and a pair of quotes standing first in
// an argument is skipped like a separator. A backslash is an ordinary
// character. At the end of the text the argument is empty.
std::size_t NextArgument(std::string_view text, std::size_t position, std::string& argument);

// Argument index of a command-line text whose argument 0 is the program: empty
// when the text holds fewer arguments.
std::string ArgumentOfCommandLine(std::string_view commandLine, int index);

// Argument index of this process: 0 is the program's own file path, 1 the
// first argument as the platform delivered it; empty when there is none.
std::string CommandArgument(int index);

}  // namespace bleedborder::tool
