#include "cmdline/console.h"

#include <gtest/gtest.h>

using namespace vk;

namespace {
const std::string k_prefix = "\x1b[2K\r    \r";

int32_t status_to_stderr(int32_t width, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int32_t n = status_line(true, width, format, ap, false);
  va_end(ap);
  return n;
}
}  // namespace

TEST(ConsoleStatus, LineIsCutErasedAndRewritten) {
  console_capture cap;
  std::string msg(100, 'a');
  EXPECT_EQ(status_printf("%s", msg.c_str()), 60);
  EXPECT_EQ(cap.err(), k_prefix + std::string(60, 'a') + "\r");
  EXPECT_EQ(cap.out(), "");

  cap.clear();
  EXPECT_EQ(status_printf("analyzing: %s\nnext\n", "x"), 18);  // counted before LF removal
  EXPECT_EQ(cap.err(), k_prefix + "analyzing: xnext\r");

  cap.clear();
  EXPECT_EQ(status_printf_width(200, "%s", msg.c_str()), 70);
  EXPECT_EQ(cap.err(), k_prefix + std::string(70, 'a') + "\r");
  cap.clear();
  EXPECT_EQ(status_printf_width(5, "%s", "abcdefg"), 5);
  EXPECT_EQ(cap.err(), k_prefix + "abcde\r");

  // The formatting area holds 255 characters, or width ones above 256.
  std::string long_msg(400, 'b');
  cap.clear();
  EXPECT_EQ(status_to_stderr(255, "%s", long_msg.c_str()), 255);
  EXPECT_EQ(cap.err(), k_prefix + std::string(255, 'b') + "\r");
  cap.clear();
  EXPECT_EQ(status_to_stderr(300, "%s", long_msg.c_str()), 300);
  EXPECT_EQ(cap.err(), k_prefix + std::string(300, 'b') + "\r");

  cap.clear();
  EXPECT_EQ(status_printf_stdout("%d%%", 50), 3);
  EXPECT_EQ(cap.out(), k_prefix + "50%\r");
  EXPECT_EQ(cap.err(), "");
}

TEST(ConsoleStatus, EraseAndTitle) {
  console_capture cap;
  erase_status_line();
  EXPECT_EQ(cap.err(), "\x1b[2K\r" + std::string(27, ' ') + "\r");
  cap.clear();
  erase_status_line_short();
  EXPECT_EQ(cap.err(), k_prefix);

  cap.clear();
  EXPECT_TRUE(set_console_title("vesk"));
  EXPECT_FALSE(set_console_title(nullptr));
  EXPECT_EQ(cap.out(), "\x1b]0;vesk\x07");
  cap.clear();
  EXPECT_EQ(console_title_printf("run %d", 3), 5u);
  EXPECT_EQ(cap.out(), "\x1b]0;run 3\x07");

  cap.clear();
  print_coloured(1, 0, 2, "%s", "red");
  EXPECT_EQ(cap.err(), "\x1b[1;31;40mred\x1b[0;37;40m");
  EXPECT_EQ(cap.out(), "");
}

TEST(ConsoleStatus, QuietSettingsWriteNothing) {
  console_capture cap;
  cmd_params quiet;
  quiet.m_status_messages = 0;
  erase_status_line_unless_quiet(quiet);
  erase_status_line_if_enabled(&quiet);
  erase_status_line_if_enabled(nullptr);
  EXPECT_EQ(cap.err(), "");
  cmd_params loud;
  erase_status_line_if_enabled(&loud);
  EXPECT_EQ(cap.err(), "\x1b[2K\r" + std::string(27, ' ') + "\r");
}

TEST(ConsoleArgs, OptionValueLookups) {
  std::vector<std::string> args = {"prog", "-X", "val", "rest"};
  std::string v;
  EXPECT_TRUE(find_option_value_from("-x", v, args, 1));
  EXPECT_EQ(v, "val");
  EXPECT_EQ(args.size(), 4u);
  EXPECT_FALSE(find_option_value_from("prog", v, args, 1));
  EXPECT_TRUE(find_option_value("-x", v, args));
  EXPECT_EQ(v, "val");
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "rest"}));
  EXPECT_FALSE(find_option_value("rest", v, args));  // last argument: no value
  EXPECT_EQ(args.size(), 2u);
  EXPECT_FALSE(find_option_value("-y", v, args));

  std::vector<std::string> out;
  EXPECT_FALSE(args_to_vector(out, 0, nullptr));
  const char* argv[] = {"a", nullptr, "c"};
  EXPECT_TRUE(args_to_vector(out, 3, argv));
  EXPECT_EQ(out, (std::vector<std::string>{"a", "", "c"}));
}
