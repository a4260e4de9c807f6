#include "tool/arguments.h"

#include "bleedborder/platform/process.h"

namespace bleedborder::tool {
namespace {

constexpr char kQuote = '"';

bool IsSeparator(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Bytes are stepped one at a time: in a multi-byte encoding every byte after
// the first is 0x80 or above, so none is ever taken for a quote or a separator.
std::size_t SkipSeparators(std::string_view text, std::size_t position) {
  for (;;) {
    while (position < text.size() && IsSeparator(text[position])) ++position;
    if (position + 1 < text.size() && text[position] == kQuote && text[position + 1] == kQuote)
      position += 2;
    else
      return position;
  }
}

}  // namespace

std::size_t NextArgument(std::string_view text, std::size_t position, std::string& argument) {
  position = SkipSeparators(text, position);
  // The length is counted first so that the copy allocates once.
  std::size_t length = 0;
  bool quoted = false;
  std::size_t end = position;
  for (; end < text.size(); ++end) {
    const char c = text[end];
    if (c == kQuote)
      quoted = !quoted;
    else if (!quoted && IsSeparator(c))
      break;
    else
      ++length;
  }
  argument.clear();
  argument.reserve(length);
  for (std::size_t i = position; i < end; ++i)
    if (text[i] != kQuote) argument += text[i];
  return end;
}

std::string ArgumentOfCommandLine(std::string_view commandLine, int index) {
  std::string argument;
  std::size_t position = 0;
  for (int current = 0; current <= index; ++current) {
    position = NextArgument(commandLine, position, argument);
    if (argument.empty()) return {};
  }
  return argument;
}

std::string CommandArgument(int index) {
  if (index == 0) return sys::GetModuleFileNameA();
  if (index < 0) return {};
  return sys::GetArgument(index);
}

}  // namespace bleedborder::tool
