#include "tool/arguments.h"

#include <gtest/gtest.h>

#include <string>

using namespace bleedborder;

namespace {

struct ArgumentCase {
  const char* afterProgram;  // the text that follows the program name and one blank
  const char* argument1;
};

TEST(CommandLine, CutsArgumentOne) {
  const ArgumentCase cases[] = {
      {"my picture.bmp", "my"},
      {"\"my picture.bmp\"", "my picture.bmp"},
      {"my\" \"picture.bmp", "my picture.bmp"},
      {"\"\" a.bmp", "a.bmp"},                // an empty pair first is skipped
      {"\"\"\"\" a.bmp", "a.bmp"},            // so are several
      {"a\\\"b.bmp", "a\\b.bmp"},             // the backslash stays, the quote runs to the end
      {"\"a.bmp", "a.bmp"},                   // an unclosed quote runs to the end
      {"ab\"c d\"e f", "abc de"},             // quoted and plain stretches in one argument
      {"", ""},
      {"  \t ", ""},
      {"\ta.bmp\tb.bmp", "a.bmp"},            // tabs separate like blanks
      {"\x01" "a.bmp\x1f" "b.bmp", "a.bmp"},  // so does every control character
      {"\xc3\xa9t\xc3\xa9.bmp x", "\xc3\xa9t\xc3\xa9.bmp"},  // bytes above 0x7f are ordinary
  };
  for (const ArgumentCase& c : cases) {
    const std::string commandLine = std::string("bleedborder ") + c.afterProgram;
    EXPECT_EQ(tool::ArgumentOfCommandLine(commandLine, 1), c.argument1) << "after the program: " << c.afterProgram;
  }
}

TEST(CommandLine, StepsFromArgumentToArgument) {
  const std::string text = "prog \"\" one \"t w o\"   ";
  std::string argument;
  std::size_t position = tool::NextArgument(text, 0, argument);
  EXPECT_EQ(argument, "prog");
  position = tool::NextArgument(text, position, argument);
  EXPECT_EQ(argument, "one");
  position = tool::NextArgument(text, position, argument);
  EXPECT_EQ(argument, "t w o");
  position = tool::NextArgument(text, position, argument);
  EXPECT_EQ(argument, "");
  EXPECT_EQ(position, text.size());
}

TEST(CommandLine, MissingArgumentIsEmpty) {
  EXPECT_EQ(tool::ArgumentOfCommandLine("prog a b", 2), "b");
  EXPECT_EQ(tool::ArgumentOfCommandLine("prog a b", 3), "");
  EXPECT_EQ(tool::ArgumentOfCommandLine("prog \"", 1), "");  // a lone quote holds nothing
}

}  // namespace
