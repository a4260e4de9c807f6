#pragma once
// The failure reports of the process: the exception report written to standard
// error when the command fails, and the runtime error line written to standard
// output when a failure happens while no exception can be reported. Every
// report is assembled in fixed storage without allocating, so that a signal
// handler and an out-of-memory failure can write one too.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace bleedborder {

class Exception;

namespace tool {

struct ReportArg {
  enum class Kind { Text, Number, Address };
  ReportArg(std::string_view value) : kind(Kind::Text), text(value) {}
  ReportArg(const char* value) : kind(Kind::Text), text(value) {}
  ReportArg(std::int64_t value) : kind(Kind::Number), number(static_cast<std::uint64_t>(value)) {}
  static ReportArg Address(std::uintptr_t value) {
    ReportArg arg(std::int64_t{0});
    arg.kind = Kind::Address;
    arg.number = value;
    return arg;
  }

  Kind kind;
  std::string_view text;
  std::uint64_t number = 0;
};

// Text in fixed storage; what does not fit is cut.
class ReportText {
 public:
  static constexpr std::size_t kCapacity = 1280;

  void Append(std::string_view text);
  void AppendHex(std::uint64_t value, int minDigits);
  void AppendDecimal(std::int64_t value);
  // Fills %s (text), %d (decimal), %x (upper-case hexadecimal) and %p (at
  // least eight upper-case hexadecimal digits) from args in order; "%%" is a
  // percent sign; a directive without a fitting argument stays as it is.
  void AppendFormat(std::string_view format, std::initializer_list<ReportArg> args);
  void Truncate(std::size_t size);
  std::string_view View() const { return {data_, size_}; }

 private:
  char data_[kCapacity];
  std::size_t size_ = 0;
};

// Where a code address lies: the file name (after its last '/') of the loaded
// module holding it and the offset from that module's base, or the program's
// own name and the address as it is when no module holds it.
struct CodeLocation {
  std::string_view module;
  std::uintptr_t offset = 0;
  bool inModule = false;
};

// Records the program's name and the address ranges of the loaded modules;
// after it, LocateCode may be called from a signal handler.
void CaptureModules();
CodeLocation LocateCode(std::uintptr_t address);
// The same without capturing first: for a signal handler.
CodeLocation LocateCaptured(std::uintptr_t address);
std::string_view ProgramName();

// The report: "Exception <class> in module <module> at <offset>." and, on the
// second line, the message with a full stop appended when it has none; then
// an empty line. At most 1023 characters before the closing CR LF.
void FormatExceptionReport(ReportText& out, std::string_view className, const CodeLocation& where,
                           std::string_view message);
std::string ExceptionReport(std::string_view className, std::string_view message, std::uintptr_t address);

// Writes the report of an exception that ended the run to standard error.
void ReportException(const Exception& exception);
void ReportException(std::string_view className, std::string_view message, std::uintptr_t address);
// Writes a report made beforehand (nothing is allocated).
void WriteReport(std::string_view report);

// "Runtime error NNN at XXXXXXXX", a zero byte, CR LF: the last digit of the
// number stands just before " at" (longer numbers run on to the left).
void FormatRuntimeError(ReportText& out, int number, std::uintptr_t offset);
// Writes it to standard output.
void WriteRuntimeError(int number, std::uintptr_t address);

// Writes all of text to a descriptor, as far as it will take it; safe in a
// signal handler.
void WriteAll(int descriptor, std::string_view text);

}  // namespace tool

}  // namespace bleedborder
