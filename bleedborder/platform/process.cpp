#include "bleedborder/platform/process.h"

#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bleedborder::sys {
namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

bool HoldsSeparatorOrQuote(std::string_view argument) {
  for (unsigned char c : argument)
    if (c <= ' ' || c == '"') return true;
  return false;
}

// Writes all of text to fd, over partial writes and interruptions.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n > 0)
      text.remove_prefix(static_cast<std::size_t>(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return false;
  }
  return true;
}

// The program is the first object the dynamic linker lists; its load bias is
// what turns a code address into an address of the program file.
int TakeFirstObject(dl_phdr_info* info, std::size_t, void* base) {
  *static_cast<std::uintptr_t*>(base) = info->dlpi_addr;
  return 1;
}

}  // namespace

// Constant-initialised, so that it holds its value before any other static
// initialiser reads it.
std::uint32_t PlatformId = VER_PLATFORM_WIN32_NT;

void SetCommandLine(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv && argv[i]; ++i) arguments.emplace_back(argv[i]);
  Arguments() = std::move(arguments);
}

std::string GetArgument(int index) {
  const auto& arguments = Arguments();
  if (index < 0 || static_cast<std::size_t>(index) >= arguments.size()) return {};
  return arguments[static_cast<std::size_t>(index)];
}

std::string GetCommandLineA() {
  std::string line;
  for (const std::string& argument : Arguments()) {
    if (!line.empty()) line += ' ';
    if (HoldsSeparatorOrQuote(argument))
      (line += '"').append(argument) += '"';
    else
      line += argument;
  }
  return line;
}

std::string GetModuleFileNameA() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return GetArgument(0);  // no /proc: the name the program was started by
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() >= (1u << 16)) return GetArgument(0);
    buffer.resize(buffer.size() * 2);
  }
}

std::uintptr_t ModuleBase() {
  std::uintptr_t base = 0;
  dl_iterate_phdr(TakeFirstObject, &base);
  return base;
}

std::uint32_t GetPlatformId() { return VER_PLATFORM_WIN32_NT; }

bool WriteStdErr(std::string_view text) { return WriteAll(STDERR_FILENO, text); }

bool WriteStdOut(std::string_view text) {
  // Text already buffered by the C library goes first.
  std::fflush(stdout);
  return WriteAll(STDOUT_FILENO, text);
}

// std::exit rather than _exit: the caller has shut the library down already;
// exit flushes every C stream and runs the handlers registered with atexit
// (the leak checker and coverage among them) before the process ends with code.
void ExitProcess(int code) {
  std::fflush(nullptr);
  std::exit(code);
}

}  // namespace bleedborder::sys
