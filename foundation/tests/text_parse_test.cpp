// Readers of numbers, byte lists, clock times and dates: each reader's own
// prefix and base rules, the am/pm hours, and the field-length and range
// limits on hostile texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/vk_text_parse.h"

namespace {

using bytes = std::vector<uint8_t>;

}  // namespace

TEST(TextParse, IntegerReadersKeepTheirOwnPrefixRules) {
  struct int_case {
    const char* text;
    bool ok;
    uint32_t value;
  };
  const int_case int_cases[] = {
      {" 0X1F ", true, 31},
      {"o17", true, 15},
      {"-12", true, 0xFFFFFFF4u},
      {"none", true, 0},
      {"1fx", true, 0},
      {"abc", false, 0},
      {"   ", false, 0},
      {"", false, 0},
      {"99999999999", true, 0x7FFFFFFF},
      {"-99999999999", true, 0x80000000u},
      {"0x1ffffffff", true, 0xFFFFFFFFu},
  };
  for (const auto& c : int_cases) {
    uint32_t v = 7;
    EXPECT_EQ(vk::parse_int_text(c.text, &v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  EXPECT_FALSE(vk::parse_int_text(static_cast<const char*>(nullptr), nullptr));

  struct u64_case {
    std::string text;
    bool ok;
    uint64_t value;
  };
  const u64_case u64_cases[] = {
      {" 0x10", true, 16},
      {"0x10 ", false, 0},
      {std::string(31, '1'), false, 0},
      {std::string(20, '9'), true, 18446744073709551615ULL},
      {"x5", true, 0},
      {"12ab", true, 12},
      {"o17", true, 15},
      {"x1f", true, 31},
      {"0x" + std::string(17, 'f'), false, 0},
      {"1 2", false, 0},
      {"", false, 0},
  };
  for (const auto& c : u64_cases) {
    uint64_t v = 7;
    EXPECT_EQ(vk::parse_u64_text(c.text, &v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 0) << c.text;
  }

  std::vector<int64_t> list;
  EXPECT_TRUE(vk::parse_number_list("1 0x10 zz 99999999999", list));
  EXPECT_EQ(list, (std::vector<int64_t>{1, 16, 2147483647}));
  EXPECT_TRUE(vk::parse_number_list("-99999999999 \"0xFFFFFFFF\"", list));
  EXPECT_EQ(list, (std::vector<int64_t>{-2147483648LL, 2147483647}));
  EXPECT_FALSE(vk::parse_number_list("zz yy", list));
  EXPECT_TRUE(list.empty());
}

TEST(TextParse, ByteListsPerReader) {
  EXPECT_EQ(vk::parse_byte_list("01, 2, ,0x10", ',', false), (bytes{1, 2, 16}));
  // A piece that does not read is a zero byte, also in the first place.
  EXPECT_EQ(vk::parse_byte_list("zz, 2", ',', false), (bytes{0, 2}));
  EXPECT_EQ(vk::parse_byte_list("ff|1g|300", '|', true), (bytes{0xFF, 0x01, 0x00}));

  bytes out;
  EXPECT_TRUE(vk::parse_hex_byte_text("1f", out));
  EXPECT_EQ(out, (bytes{0x1F}));
  EXPECT_FALSE(vk::parse_hex_byte_text("1f2", out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(vk::parse_hex_byte_text("00-11-22", out));
  EXPECT_EQ(out, (bytes{0x00, 0x11, 0x22}));
  EXPECT_TRUE(vk::parse_hex_byte_text("0x1 0x20,", out));
  EXPECT_EQ(out, (bytes{0x01, 0x20}));
  EXPECT_TRUE(vk::parse_hex_pairs("0a1b2", out));
  EXPECT_EQ(out, (bytes{0x0A, 0x1B, 0x02}));

  EXPECT_TRUE(vk::parse_separated_bytes("00:1a:2b", out));
  EXPECT_EQ(out, (bytes{0x00, 0x1A, 0x2B}));
  EXPECT_TRUE(vk::parse_separated_bytes("10.0.0.255", out));
  EXPECT_EQ(out, (bytes{10, 0, 0, 255}));
  EXPECT_TRUE(vk::parse_separated_bytes("10-20", out));
  EXPECT_EQ(out, (bytes{10, 20}));
  EXPECT_FALSE(vk::parse_separated_bytes("1020", out));
  EXPECT_FALSE(vk::parse_separated_bytes(std::string(81, '.').c_str(), out));
  uint8_t fixed[3] = {};
  EXPECT_TRUE(vk::parse_hex_bytes_fixed("1.2.3", fixed, 3));
  EXPECT_EQ(fixed[2], 3);
  EXPECT_FALSE(vk::parse_hex_bytes_fixed("1.2", fixed, 3));
}

TEST(TextParse, ClockTimesWithAmPmAndFieldLimits) {
  struct clock_case {
    std::string text;
    bool ok;
    uint32_t hours, minutes;
    double seconds;
  };
  const clock_case cases[] = {
      {"7:05:09.5 pm", true, 19, 5, 9.5},
      {"7", false, 0, 0, 0},
      {"7:", false, 0, 0, 0},
      {"12:00 pm", true, 12, 0, 0},
      {"12:30 am", true, 0, 30, 0},
      {"1:15am", true, 1, 15, 0},
      {" 21:30:15.25 ", true, 21, 30, 15.25},
      {std::string(100, '1') + ":05", false, 0, 0, 0},
      {"1:05:" + std::string(40, '9'), false, 0, 0, 0},
      {"-1:05", false, 0, 0, 0},
      {"99999999999:05", false, 0, 0, 0},
      {"inf:05", false, 0, 0, 0},
      {"1:nan", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t h = 9, m = 9;
    double s = 9;
    EXPECT_EQ(vk::parse_clock_time(c.text.c_str(), &h, &m, &s), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(h, c.hours) << c.text;
    EXPECT_EQ(m, c.minutes) << c.text;
    EXPECT_DOUBLE_EQ(s, c.seconds) << c.text;
  }

  struct ms_case {
    const char* text;
    bool ok;
    uint32_t ms;
  };
  const ms_case ms_cases[] = {
      {"13:45:10.25", true, 49510250}, {"1:00 pm", true, 46800000}, {"12:30 pm", true, 45000000},
      {"12:30 am", true, 1800000},     {":30", false, 0},           {"1:30:", false, 0},
      {"99999:00", false, 0},
  };
  for (const auto& c : ms_cases) {
    uint32_t ms = 9;
    EXPECT_EQ(vk::parse_clock_time_ms(c.text, &ms), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(ms, c.ms) << c.text;
    }
  }
}

TEST(TextParse, DatesByOrderAndMonthDayYear) {
  struct order_case {
    const char* text;
    const char* order;
    char separator;
    bool ok;
    uint32_t day, month, year;
    const char* order_after;
  };
  const order_case cases[] = {
      {"05/07/21", "DMY", '/', true, 5, 7, 2021, "DMY"},
      {"7-Jun-1999", "DMonY", '-', true, 7, 6, 1999, "DMY"},
      {"2021--06--07", "YMD", '-', true, 7, 6, 2021, "YMD"},
      {"5-7-45", "monDY", '-', true, 7, 5, 1945, "MDY"},
      {"Jun-5-1999", "monDY", '-', false, 0, 0, 0, "MDY"},
      {"Jun 5 99", "MonDY", ' ', true, 5, 6, 1999, "MDY"},
      {"1999-5-Jun", "YDMon", '-', true, 5, 6, 1999, "YDM"},
      {"13/13/2020", "DMY", '/', false, 13, 13, 2020, "DMY"},
      {"1/2", "DMY", '/', false, 1, 2, 0, "DMY"},
      {"1/2/3", "DM", '/', false, 0, 0, 0, "DM"},
  };
  for (const auto& c : cases) {
    std::string order = c.order;
    uint32_t d = 9, m = 9, y = 9;
    EXPECT_EQ(vk::parse_date_by_order(c.text, order, c.separator, &d, &m, &y), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(d, c.day) << c.text;
      EXPECT_EQ(m, c.month) << c.text;
      EXPECT_EQ(y, c.year) << c.text;
    }
    EXPECT_EQ(order, c.order_after) << c.text;
  }

  struct mdy_case {
    const char* text;
    bool ok;
    uint32_t day, month, year;
  };
  const mdy_case mdy[] = {
      {"12/31/99", true, 31, 12, 1999}, {"31-Dec-2020", true, 31, 12, 2020},
      {"2020-12-31", false, 0, 0, 0},   {"03/05/2024", true, 5, 3, 2024},
      {"1/2/", false, 0, 0, 0},         {"13/01/2000", false, 0, 0, 0},
      {"01/02/x9", false, 0, 0, 0},
  };
  for (const auto& c : mdy) {
    uint32_t d = 9, m = 9, y = 9;
    EXPECT_EQ(vk::parse_mdy_date(c.text, &d, &m, &y), c.ok) << c.text;
    EXPECT_EQ(d, c.day) << c.text;
    EXPECT_EQ(m, c.month) << c.text;
    EXPECT_EQ(y, c.year) << c.text;
  }
}
