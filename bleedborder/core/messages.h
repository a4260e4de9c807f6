#pragma once
// The one table of message texts. Every failure message of the system is
// taken from here by number and filled with FormatText.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "bleedborder/export.h"

namespace bleedborder {

enum class Msg : int {
  // Numbers the string table has always used.
  InvalidBitmap = 65432,          // "Bitmap image is not valid"
  InvalidPixelFormat = 65433,     // "Invalid pixel format"
  UnknownClipboardFormat = 65434, // "Unsupported clipboard format"
  OutOfResources = 65435,         // "Out of system resources"
  NoCanvasHandle = 65436,         // "Canvas does not allow drawing"
  AssignError = 65450,            // "Cannot assign a %s to a %s"
  ExceptionReport = 65511,        // "Exception %s in module %s at %p.\r\n%s%s\r\n"

  // Stream and file messages.
  ReadError = 65300,
  WriteError,
  FOpenError,
  FCreateError,
  OSError,

  // Run-time error messages.
  OutOfMemory = 65350,
  InvalidPointer,
  DivByZero,
  RangeError,
  IntOverflow,
  InvalidOp,
  ZeroDivide,
  Overflow,
  Underflow,
  InvalidCast,
  AccessViolation,
  ModuleAccessViolation,
  PrivilegedInstruction,
  ControlC,
  StackOverflow,
  ExternalException,
  FileNotFound,
  InvalidFilename,
  TooManyOpenFiles,
  AccessDenied,
  EndOfFile,
  DiskFull,
  InvalidInput,
  InOutError,
  ReadAccess,   // "Read"
  WriteAccess,  // "Write"
};

// The text of a message number; an unknown number gives an empty text.
BLEEDBORDER_EXPORT std::string_view LoadResString(Msg id);

// One argument of FormatText: %d takes an integer, %x an integer written in
// upper-case hexadecimal, %s a text, %p an address written as eight upper-case
// hexadecimal digits.
struct FormatAddress {
  std::uintptr_t value;
};
using FormatArg = std::variant<std::int64_t, std::string_view, FormatAddress>;

// Fills %d, %x, %s and %p in order from args; "%%" gives a percent sign. A
// directive whose argument is missing or of another kind is written as it
// stands, so a bad format never reads outside the arguments.
BLEEDBORDER_EXPORT std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);
BLEEDBORDER_EXPORT std::string FormatMsg(Msg id, std::initializer_list<FormatArg> args);

}  // namespace bleedborder
