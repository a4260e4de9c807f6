#include "bleedborder/core/messages.h"

#include <cstdio>
#include <utility>

namespace bleedborder {

namespace {

constexpr std::pair<Msg, std::string_view> kTable[] = {
    {Msg::InvalidBitmap, "Bitmap image is not valid"},
    {Msg::InvalidPixelFormat, "Invalid pixel format"},
    {Msg::UnknownClipboardFormat, "Unsupported clipboard format"},
    {Msg::OutOfResources, "Out of system resources"},
    {Msg::NoCanvasHandle, "Canvas does not allow drawing"},
    {Msg::AssignError, "Cannot assign a %s to a %s"},
    {Msg::ExceptionReport, "Exception %s in module %s at %p.\r\n%s%s\r\n"},
    {Msg::ReadError, "Stream read error"},
    {Msg::WriteError, "Stream write error"},
    {Msg::FOpenError, "Cannot open file \"%s\". %s"},
    {Msg::FCreateError, "Cannot create file \"%s\". %s"},
    {Msg::OSError, "System Error.  Code: %d.\r\n%s"},
    {Msg::OutOfMemory, "Out of memory"},
    {Msg::InvalidPointer, "Invalid pointer operation"},
    {Msg::DivByZero, "Division by zero"},
    {Msg::RangeError, "Range check error"},
    {Msg::IntOverflow, "Integer overflow"},
    {Msg::InvalidOp, "Invalid floating point operation"},
    {Msg::ZeroDivide, "Floating point division by zero"},
    {Msg::Overflow, "Floating point overflow"},
    {Msg::Underflow, "Floating point underflow"},
    {Msg::InvalidCast, "Invalid class typecast"},
    {Msg::AccessViolation, "Access violation at address %p. %s of address %p"},
    {Msg::ModuleAccessViolation, "Access violation at address %p in module '%s'. %s of address %p"},
    {Msg::PrivilegedInstruction, "Privileged instruction"},
    {Msg::ControlC, "Control-C hit"},
    {Msg::StackOverflow, "Stack overflow"},
    {Msg::ExternalException, "External exception %x"},
    {Msg::FileNotFound, "File not found"},
    {Msg::InvalidFilename, "Invalid filename"},
    {Msg::TooManyOpenFiles, "Too many open files"},
    {Msg::AccessDenied, "File access denied"},
    {Msg::EndOfFile, "Read beyond end of file"},
    {Msg::DiskFull, "Disk full"},
    {Msg::InvalidInput, "Invalid numeric input"},
    {Msg::InOutError, "I/O error %d"},
    {Msg::ReadAccess, "Read"},
    {Msg::WriteAccess, "Write"},
};

void AppendHex(std::string& out, std::uint64_t value, int minDigits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*llX", minDigits, static_cast<unsigned long long>(value));
  out += buffer;
}

}  // namespace

std::string_view LoadResString(Msg id) {
  for (const auto& [key, text] : kTable)
    if (key == id) return text;
  return {};
}

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      out += c;
      continue;
    }
    char directive = format[i + 1];
    if (directive == '%') {
      out += '%';
      ++i;
      continue;
    }
    const FormatArg* arg = next != args.end() ? &*next : nullptr;
    bool used = true;
    if (directive == 'd' && arg && std::holds_alternative<std::int64_t>(*arg)) {
      out += std::to_string(std::get<std::int64_t>(*arg));
    } else if (directive == 'x' && arg && std::holds_alternative<std::int64_t>(*arg)) {
      AppendHex(out, static_cast<std::uint32_t>(std::get<std::int64_t>(*arg)), 1);
    } else if (directive == 's' && arg && std::holds_alternative<std::string_view>(*arg)) {
      out += std::get<std::string_view>(*arg);
    } else if (directive == 'p' && arg && std::holds_alternative<FormatAddress>(*arg)) {
      AppendHex(out, std::get<FormatAddress>(*arg).value, 8);
    } else {
      used = false;
    }
    if (used) {
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatMsg(Msg id, std::initializer_list<FormatArg> args) { return FormatText(LoadResString(id), args); }

}  // namespace bleedborder
