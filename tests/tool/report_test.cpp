#include "tool/report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>

#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/messages.h"
#include "tool/faults.h"
#include "tool/process_frame.h"

using namespace bleedborder;

namespace {

using namespace std::string_literals;

TEST(Report, TwoLinesAndAnEmptyOne) {
  struct Case {
    std::string message;
    std::string secondLine;
  };
  const Case cases[] = {
      {"Stream read error", "Stream read error."},
      {"Ends with a stop.", "Ends with a stop."},  // no second one
      {"", ""},
      {"Cannot open file \"/a b/c.bmp\". Permission denied", "Cannot open file \"/a b/c.bmp\". Permission denied."},
  };
  for (const Case& c : cases) {
    tool::ReportText text;
    tool::FormatExceptionReport(text, "EReadError", {"bleedborder", 0x1A2B, true}, c.message);
    EXPECT_EQ(text.View(), "Exception EReadError in module bleedborder at 00001A2B.\r\n" + c.secondLine + "\r\n\r\n");
  }
}

TEST(Report, LongReportIsCutAt1023Characters) {
  const std::string message(3000, 'm');
  tool::ReportText text;
  tool::FormatExceptionReport(text, "EFOpenError", {"bleedborder", 0, false}, message);
  const std::string_view report = text.View();
  ASSERT_EQ(report.size(), 1023u + 2);
  EXPECT_EQ(report.substr(0, 56), "Exception EFOpenError in module bleedborder at 00000000.");
  EXPECT_EQ(report.substr(1021), "mm\r\n");
}

TEST(Report, RuntimeErrorLine) {
  struct Case {
    int number;
    std::uintptr_t address;
    std::string line;  // the 29 characters
  };
  const Case cases[] = {
      {216, 0x1234, "Runtime error 216 at 00001234"},
      {5, 0xABCDEF01, "Runtime error   5 at ABCDEF01"},
      {1234, 0, "Runtime error1234 at 00000000"},
      {123456, 0x10, "Runtime err123456 at 00000010"},  // longer numbers run on to the left
  };
  for (const Case& c : cases) {
    tool::ReportText text;
    tool::FormatRuntimeError(text, c.number, c.address);
    EXPECT_EQ(text.View(), c.line + "\0\r\n"s);
  }
}

// ---- Failures of a whole process, run in a child process ----

// Faults are caused on purpose here, so the sanitizers must not stop them first.
#define NO_SANITIZE __attribute__((noinline, no_sanitize("address", "undefined")))

volatile int zero = 0;
volatile int seven = 7;
volatile bool never = false;

NO_SANITIZE void DivideByZero() { zero = seven / zero; }
volatile std::uintptr_t address16 = 16;

NO_SANITIZE void WriteToAddress16() { *reinterpret_cast<volatile int*>(address16) = 1; }
NO_SANITIZE int Recurse(int depth) {
  volatile char block[512];
  block[0] = static_cast<char>(depth);
  if (never) return block[0];
  return Recurse(depth + 1) + block[0];
}

void StartReporting() {
  tool::InstallFaultHandlers();
  tool::SetFaultReporting(true);
}

const std::string kFirstLine = "^Exception %s in module test_tool at [0-9A-F]{8}\\.\r\n";

std::string ReportPattern(const std::string& className, const std::string& secondLine) {
  std::string pattern = kFirstLine;
  pattern.replace(pattern.find("%s"), 2, className);
  return pattern + secondLine + "\r\n\r\n$";
}

TEST(ReportDeathTest, FaultsBecomeReports) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT((StartReporting(), DivideByZero()), testing::ExitedWithCode(1),
              ReportPattern("EDivByZero", "Division by zero\\."));
  EXPECT_EXIT((StartReporting(), WriteToAddress16()), testing::ExitedWithCode(1),
              ReportPattern("EAccessViolation", "Access violation at address [0-9A-F]{8} in module 'test_tool'\\. "
                                                "Write of address 00000010\\."));
  EXPECT_EXIT((StartReporting(), Recurse(0)), testing::ExitedWithCode(1),
              ReportPattern("EStackOverflow", "Stack overflow\\."));
  // Before the error layer starts: the runtime error line on standard output
  // and its number as the exit code.
  EXPECT_EXIT((tool::InstallFaultHandlers(), DivideByZero()), testing::ExitedWithCode(200), "^$");
}

char programPath[] = "test_tool";
char* arguments[] = {programPath, nullptr};

TEST(ReportDeathTest, EscapedExceptionsAndExitCodes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(tool::RunProcess(1, arguments, [] {}), testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT(tool::RunProcess(1, arguments, [] { RaiseMsg<EInvalidGraphic>(Msg::InvalidBitmap); }),
              testing::ExitedWithCode(1), ReportPattern("EInvalidGraphic", "Bitmap image is not valid\\."));
  EXPECT_EXIT(tool::RunProcess(1, arguments, [] { throw std::bad_alloc(); }), testing::ExitedWithCode(1),
              "^Exception EOutOfMemory in module test_tool at 00000000\\.\r\nOut of memory\\.\r\n\r\n$");
  // Anything else: its type's name and no message.
  EXPECT_EXIT(tool::RunProcess(1, arguments, [] { throw 42; }), testing::ExitedWithCode(1),
              "^Exception int in module test_tool at 00000000\\.\r\n\r\n\r\n$");
}

}  // namespace
