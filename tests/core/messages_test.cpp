#include "bleedborder/core/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "bleedborder/core/exceptions.h"

using namespace bleedborder;

namespace {

using namespace std::string_view_literals;

TEST(MessagesTest, FormatTextFillsDirectivesInOrder) {
  struct Case {
    std::string_view format;
    std::initializer_list<FormatArg> args;
    std::string expected;
  };
  const Case cases[] = {
      {"%s and %s", {"one"sv, "two"sv}, "one and two"},
      {"%d|%d", {std::int64_t{-42}, std::int64_t{0}}, "-42|0"},
      {"%x", {std::int64_t{0xBEEF}}, "BEEF"},
      {"%x", {std::int64_t{-1}}, "FFFFFFFF"},
      {"%p", {FormatAddress{0x1A2B}}, "00001A2B"},
      {"%p", {FormatAddress{0x123456789A}}, "123456789A"},
      {"100%% %s", {"sure"sv}, "100% sure"},
      // Missing or mismatched arguments leave the directive as it stands.
      {"%s %d %s", {"a"sv}, "a %d %s"},
      {"%d %s", {"text"sv}, "%d text"},
      {"%q %", {}, "%q %"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatText(c.format, c.args), c.expected) << c.format;
}

TEST(MessagesTest, NumberedTextsAreTheOnesReportsPrint) {
  EXPECT_EQ(LoadResString(Msg::InvalidBitmap), "Bitmap image is not valid");
  EXPECT_EQ(LoadResString(Msg::NoCanvasHandle), "Canvas does not allow drawing");
  EXPECT_EQ(static_cast<int>(Msg::ExceptionReport), 65511);
  EXPECT_EQ(FormatMsg(Msg::ExceptionReport, {"EFCreateError"sv, "bleedborder"sv, FormatAddress{0x40}, "m"sv, "."sv}),
            "Exception EFCreateError in module bleedborder at 00000040.\r\nm.\r\n");
  EXPECT_EQ(FormatMsg(Msg::OSError, {std::int64_t{2}, "No such file"sv}), "System Error.  Code: 2.\r\nNo such file");
  EXPECT_EQ(LoadResString(static_cast<Msg>(1)), "");
}

TEST(MessagesTest, RaisedExceptionsCarryClassNameMessageAndCode) {
  try {
    RaiseMsg<EOutOfResources>(Msg::OutOfResources);
  } catch (const EOutOfMemory& error) {
    EXPECT_STREQ(error.ClassName(), "EOutOfResources");
    EXPECT_EQ(error.Message(), "Out of system resources");
    EXPECT_NE(error.RaiseAddress(), nullptr);
  }
  const EOSError os("x", 13);
  EXPECT_EQ(os.ErrorCode(), 13u);
}

}  // namespace
