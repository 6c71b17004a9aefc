// Progress lines through the console writer: the throttled percentage,
// the position line, short status lines and the window title, and the
// percentage arithmetic at the edges of the 64-bit range.
#include "cmdline/progress_lines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "foundation/vk_console.h"

namespace {

const std::string k_erase = "\x1b[2K\r";

TEST(ProgressLines, PercentStepsOnceEachAndCompleteOnce) {
  vk::console_capture capture;
  vk::progress_state state;
  state.m_flags = vk::progress_to_console | vk::progress_enabled | vk::progress_console_stderr;
  state.m_width = 80;
  state.m_total = 100;
  state.m_step = 5;
  for (uint64_t done = 1; done <= 100; ++done) vk::progress_update(state, done);
  vk::progress_update(state, 100);
  std::string want;
  for (int p = 5; p < 100; p += 5) want += k_erase + "Percent done: " + std::to_string(p) + "%\r";
  want += k_erase + "Percent done: 100%\r";
  EXPECT_EQ(capture.err(), want);
  EXPECT_EQ(capture.out(), "");

  // A total of 0 is complete at once; a disabled state shows nothing.
  capture.clear();
  vk::progress_state empty = state;
  empty.m_total = 0;
  empty.m_last_percent = 0;
  vk::progress_update(empty, 0);
  vk::progress_update(empty, 0);
  EXPECT_EQ(capture.err(), k_erase + "Percent done: 100%\r");
  capture.clear();
  vk::progress_state off = empty;
  off.m_last_percent = 0;
  off.m_flags &= ~static_cast<uint32_t>(vk::progress_enabled);
  vk::progress_update(off, 1);
  EXPECT_EQ(capture.err(), "");

  // The title takes the line without the first four prefix characters,
  // cut to the width first.
  vk::progress_state title;
  title.m_flags = vk::progress_to_title | vk::progress_enabled;
  title.m_width = 16;
  title.m_total = std::numeric_limits<uint64_t>::max();
  title.m_step = 1;
  vk::progress_update(title, std::numeric_limits<uint64_t>::max() / 2);
  EXPECT_EQ(capture.out(), "\x1b]0;Percent done: 49\x07");
  EXPECT_EQ(title.m_last_percent, 49u);
}

TEST(ProgressLines, PositionStatusLinesAndTitles) {
  vk::console_capture capture;
  vk::progress_position(16, 256);
  EXPECT_EQ(capture.err(), k_erase + " --> 0x10 of 0x100\r");
  capture.clear();
  vk::progress_position(256, 256);
  EXPECT_EQ(capture.err(), k_erase + std::string(45, ' '));

  capture.clear();
  EXPECT_EQ(vk::progress_line(10, "abcdefghijklmn"), 10u);
  EXPECT_EQ(capture.err(), k_erase + "    \rabcdefghij\r");
  capture.clear();
  EXPECT_EQ(vk::progress_line(10, "a\nb"), 2u);
  EXPECT_EQ(vk::progress_line(10, ""), 0u);
  EXPECT_EQ(capture.err(), k_erase + "    \rab\r");
  capture.clear();
  vk::progress_line_end("kept");
  EXPECT_EQ(capture.err(), k_erase + "    \rkept\n");
  EXPECT_EQ(capture.out(), "");

  vk::progress_title_percent(1, 0);
  EXPECT_EQ(capture.out(), "\x1b]0;percent complete: 100\x07");
  capture.clear();
  vk::progress_title_percent(3, 2);
  EXPECT_EQ(vk::progress_title_text(3, "abcdef"), 3u);
  EXPECT_EQ(capture.out(), "\x1b]0;percent complete: 150\x07\x1b]0;abc\x07");

  constexpr uint64_t max = std::numeric_limits<uint64_t>::max();
  const struct {
    uint64_t done, total;
    uint32_t want;
  } percents[] = {
      {0, 0, 100},
      {5, 0, 100},
      {1, 3, 33},
      {max - 1, max, 99},
      {max / 2, max, 49},
      {max, max, 100},
      {max, 1, 0xFFFFFFFFu},
      {3ULL << 62, 1ULL << 63, 150},
  };
  for (const auto& c : percents) EXPECT_EQ(vk::percent_of(c.done, c.total), c.want) << c.done;
}

}  // namespace
