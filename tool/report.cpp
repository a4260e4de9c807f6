#include "tool/report.h"

#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstdio>
#include <cstring>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/messages.h"
#include "bleedborder/platform/process.h"

namespace bleedborder::tool {

void ReportText::Append(std::string_view text) {
  const std::size_t count = std::min(text.size(), kCapacity - size_);
  if (count == 0) return;
  std::memcpy(data_ + size_, text.data(), count);
  size_ += count;
}

void ReportText::AppendHex(std::uint64_t value, int minDigits) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0 && count < 16);
  while (count < minDigits && count < 16) digits[count++] = '0';
  while (count > 0) Append({&digits[--count], 1});
}

void ReportText::AppendDecimal(std::int64_t value) {
  if (value < 0) Append("-");
  // Works on the magnitude as unsigned, so the most negative value is fine.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) Append({&digits[--count], 1});
}

void ReportText::AppendFormat(std::string_view format, std::initializer_list<ReportArg> args) {
  const ReportArg* next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      Append({&format[i], 1});
      continue;
    }
    const char directive = format[i + 1];
    if (directive == '%') {
      Append("%");
      ++i;
      continue;
    }
    const ReportArg* arg = next != args.end() ? next : nullptr;
    using Kind = ReportArg::Kind;
    bool used = true;
    if (directive == 's' && arg && arg->kind == Kind::Text)
      Append(arg->text);
    else if (directive == 'd' && arg && arg->kind == Kind::Number)
      AppendDecimal(static_cast<std::int64_t>(arg->number));
    else if (directive == 'x' && arg && arg->kind == Kind::Number)
      AppendHex(arg->number, 1);
    else if (directive == 'p' && arg && arg->kind == Kind::Address)
      AppendHex(arg->number, 8);
    else
      used = false;
    if (used) {
      ++next;
      ++i;
    } else {
      Append({&format[i], 1});
    }
  }
}

void ReportText::Truncate(std::size_t size) { size_ = std::min(size, size_); }

namespace {

// The address ranges of the modules loaded when the error layer starts. The
// program loads none later, so the table stays true; it is fixed storage so
// that a signal handler can search it.
struct ModuleRange {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  std::uintptr_t base = 0;
  std::array<char, 64> name{};
  std::size_t nameLength = 0;
};

constexpr std::size_t kMaxModules = 64;
std::array<ModuleRange, kMaxModules> modules;
std::size_t moduleCount = 0;
std::array<char, 256> programName{};
std::size_t programNameLength = 0;
bool captured = false;

std::string_view AfterLastSlash(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::size_t CopyName(std::string_view name, char* target, std::size_t capacity) {
  const std::size_t count = std::min(name.size(), capacity);
  if (count != 0) std::memcpy(target, name.data(), count);
  return count;
}

int AddModule(dl_phdr_info* info, std::size_t, void*) {
  if (moduleCount == kMaxModules) return 1;
  ModuleRange range;
  range.low = UINTPTR_MAX;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    const std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
    range.low = std::min(range.low, start);
    range.high = std::max(range.high, start + header.p_memsz);
  }
  if (range.low >= range.high) return 0;
  const std::string_view path = info->dlpi_name ? info->dlpi_name : "";
  // The program itself is listed first, with no name of its own.
  const bool isProgram = moduleCount == 0;
  const std::string_view name = isProgram ? std::string_view(programName.data(), programNameLength) : AfterLastSlash(path);
  range.nameLength = CopyName(name, range.name.data(), range.name.size());
  range.base = isProgram ? sys::ModuleBase() : info->dlpi_addr;
  modules[moduleCount++] = range;
  return 0;
}

}  // namespace

void CaptureModules() {
  const std::string path = sys::GetModuleFileNameA();
  programNameLength = CopyName(AfterLastSlash(path), programName.data(), programName.size());
  moduleCount = 0;
  dl_iterate_phdr(AddModule, nullptr);
  captured = true;
}

std::string_view ProgramName() {
  if (!captured) CaptureModules();
  return {programName.data(), programNameLength};
}

CodeLocation LocateCode(std::uintptr_t address) {
  if (!captured) CaptureModules();
  return LocateCaptured(address);
}

CodeLocation LocateCaptured(std::uintptr_t address) {
  if (address != 0) {
    for (std::size_t i = 0; i < moduleCount; ++i) {
      const ModuleRange& range = modules[i];
      if (address >= range.low && address < range.high)
        return {{range.name.data(), range.nameLength}, address - range.base, true};
    }
  }
  return {{programName.data(), programNameLength}, address, false};
}

void FormatExceptionReport(ReportText& out, std::string_view className, const CodeLocation& where,
                           std::string_view message) {
  constexpr std::size_t kMaxReport = 1023;
  const bool addStop = !message.empty() && message.back() != '.';
  out.AppendFormat(LoadResString(Msg::ExceptionReport),
                   {className, where.module, ReportArg::Address(where.offset), message, addStop ? "." : ""});
  out.Truncate(kMaxReport);
  out.Append("\r\n");
}

std::string ExceptionReport(std::string_view className, std::string_view message, std::uintptr_t address) {
  ReportText text;
  FormatExceptionReport(text, className, LocateCode(address), message);
  return std::string(text.View());
}

void WriteReport(std::string_view report) {
  std::fflush(stdout);
  // A report that cannot be written is not reported again.
  (void)sys::WriteStdErr(report);
}

void ReportException(std::string_view className, std::string_view message, std::uintptr_t address) {
  ReportText text;
  FormatExceptionReport(text, className, LocateCode(address), message);
  WriteReport(text.View());
}

void ReportException(const Exception& exception) {
  ReportException(exception.ClassName(), exception.Message(),
                  reinterpret_cast<std::uintptr_t>(exception.RaiseAddress()));
}

void FormatRuntimeError(ReportText& out, int number, std::uintptr_t offset) {
  char line[] = "Runtime error     at 00000000";
  constexpr int kLastDigit = 16;  // just before " at"
  // Decimal digits from the right; a long number runs on over "error".
  std::uint32_t value = static_cast<std::uint32_t>(number);
  int position = kLastDigit;
  do {
    line[position--] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && position >= 0);
  ReportText address;
  address.AppendHex(offset, 8);
  const std::string_view digits = address.View().substr(address.View().size() - 8);
  std::memcpy(line + 21, digits.data(), 8);
  out.Append({line, sizeof line});  // the 29 characters and their zero byte
  out.Append("\r\n");
}

void WriteAll(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void WriteRuntimeError(int number, std::uintptr_t address) {
  ReportText text;
  FormatRuntimeError(text, number, LocateCode(address).offset);
  std::fflush(stdout);
  WriteAll(STDOUT_FILENO, text.View());
}

}  // namespace bleedborder::tool
