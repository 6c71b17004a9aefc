#include "cmdline/progress.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "foundation/vk_console.h"
#include "foundation/vk_string.h"
#include "temp_tree.h"

using namespace vk;

namespace {
const std::string k_prefix = "\x1b[2K\r    \r";

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

// The thresholds are process-wide, so this is the one test that moves them.
TEST(ShowPercentDone, StepsThroughTheTotal) {
  console_capture cap;
  struct row {
    uint64_t done, total;
    std::string printed;
  };
  const row rows[] = {
      {0, 1000, ""},
      {100, 1000, "percent done: 10"},  // next threshold 200
      {150, 1000, ""},
      {500, 0, ""},  // no percentage of nothing, and the threshold stays
      {200, 1000, "percent done: 20"},
      {~0ull, 1000, "percent done: 4294967295"},  // clamped, not wrapped
  };
  for (const row& r : rows) {
    cap.clear();
    const uint32_t n = show_percent_done(60, r.done, r.total, 10);
    EXPECT_EQ(n, r.printed.size()) << r.done;
    EXPECT_EQ(cap.err(), r.printed.empty() ? "" : k_prefix + r.printed + "\r") << r.done;
  }
}

TEST(StatusSink, ConsoleTitleAndLog) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cmd_params settings;
  settings.m_command_line = "prog x";
  ASSERT_TRUE(open_diags_log(settings, tree.path("log")));

  console_capture cap;
  status_sink sink{20, status_to_console, &settings};
  status_sink_printf(sink, "%s", "abcdefghijklmnop");
  EXPECT_EQ(cap.err() + cap.out(), "");

  sink.m_flags = status_to_console | status_console_stderr;
  status_sink_printf(sink, "%s", "abcdefghijklmnop");
  EXPECT_EQ(cap.err(), k_prefix + "abcdefghij\r");
  cap.clear();
  sink.m_flags = status_to_console | status_console_stdout;
  status_sink_print_text(sink, "abc");
  EXPECT_EQ(cap.out(), k_prefix + "abc\r");
  EXPECT_EQ(cap.err(), "");

  // The title and the log each drop the erase sequence in turn.
  cap.clear();
  sink.m_flags = status_to_console | status_to_title | status_to_log;
  std::ostringstream msg;
  msg << "abc";
  status_sink_print_stream(sink, msg);
  EXPECT_EQ(cap.out(), "\x1b]0;\r    \rabc\x07");
  sink.m_flags = status_to_log;
  status_sink_print_text(sink, "plain");
  status_sink_print_text(sink, "");
  settings.close_log();
  EXPECT_EQ(file_text(tree.path("log")), "->prog x\n-> \rabc\n->plain\n");
}

TEST(OpenDiagsLog, ReplacesAnyEarlierStream) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cmd_params settings;
  // A stream left behind with logging off is released, not overwritten
  // (the leak checker would report it).
  settings.m_log = new std::ofstream(tree.path("old"));
  ASSERT_TRUE(open_diags_log(settings, tree.path("new")));
  EXPECT_TRUE(settings.m_log_on);
  EXPECT_EQ(settings.m_log_path, tree.path("new"));

  EXPECT_FALSE(open_diags_log(settings, tree.path("no/dir/log")));
  EXPECT_FALSE(settings.m_log_on);
  EXPECT_EQ(settings.m_log, nullptr);
  EXPECT_EQ(settings.m_log_path, "");
}

TEST(StreamPositions, StepBackAndPosition) {
  std::ostringstream os;
  os << "abc";
  EXPECT_EQ(stream_write_position(os), 3u);
  EXPECT_TRUE(stream_step_back(os, 5));
  EXPECT_EQ(stream_write_position(os), 0u);
  std::wostringstream ws;
  ws << L"abcdef";
  EXPECT_TRUE(wstream_drop_tail(ws, 2, true));
  ws << L"Z";
  EXPECT_EQ(ws.str(), L"abcdZ");
  os.setstate(std::ios::failbit);
  EXPECT_EQ(stream_write_position(os), 0u);
  EXPECT_FALSE(stream_step_back(os, 1));
}
