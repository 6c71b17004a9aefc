// Random, truncated and mutated texts and bytes through every reader of
// numbers, dates, clock times and raw time forms: no sanitizer report, and
// every result within the limits its reader promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_ntp.h"
#include "foundation/vk_text_parse.h"
#include "foundation/vk_time_parse.h"
#include "foundation/vk_timestamp_set.h"

namespace {

// Texts built from the characters the readers give meaning to, plus noise.
std::string random_text(std::mt19937& rng) {
  static const std::string alphabet = "0123456789xXoO:-/.,' \tTZpamMonDecJun+e\"{}|\x80\xff";
  const size_t n = rng() % 90;
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(rng() % 8 == 0 ? static_cast<char>(rng() % 256)
                               : alphabet[rng() % alphabet.size()]);
  }
  return s;
}

const char* const k_seeds[] = {"2024-03-05",
                               "13:45:10.25",
                               "7:05:09.5 pm",
                               "12/31/99",
                               "31-Dec-2020",
                               "0x1f",
                               "o777",
                               "00:1a:2b",
                               "1, 2, 0x10",
                               "2026-12-06T08:26:29.5Z",
                               "Sun, 06 Dec 2026 08:26:29 +0100",
                               "05/07/21 10:00",
                               "99999999999999999999"};

}  // namespace

TEST(TimeTextHostile, RandomAndCutTextsThroughEveryReader) {
  std::mt19937 rng(20261207);
  std::vector<std::string> texts;
  for (const char* seed : k_seeds) {
    const std::string s = seed;
    for (size_t cut = 0; cut <= s.size(); ++cut) texts.push_back(s.substr(0, cut));
  }
  for (int i = 0; i < 3000; ++i) texts.push_back(random_text(rng));

  for (const std::string& text : texts) {
    const char* c = text.c_str();
    uint32_t u32 = 0, h = 0, m = 0, s32 = 0, ms = 0, d = 0, mo = 0, y = 0;
    uint64_t u64 = 0;
    int64_t i64 = 0;
    double sec = 0;
    vk::parse_int_text(c, &u32);
    vk::parse_u64_text(c, &u64);
    std::string copy = text;
    vk::parse_long_text(copy, &i64);
    EXPECT_GE(i64, -2147483648LL);
    EXPECT_LE(i64, 2147483647LL);
    std::vector<int64_t> list;
    vk::parse_number_list(text, list);
    vk::parse_double_text(c, &sec);
    std::vector<uint8_t> bytes = vk::parse_byte_list(text, ',', rng() % 2 == 0);
    vk::parse_hex_byte_text(text, bytes);
    vk::parse_hex_pairs(text, bytes);
    vk::parse_separated_bytes(c, bytes);
    EXPECT_LE(bytes.size(), 41u);
    if (vk::parse_clock_time(c, &h, &m, &sec)) {
      EXPECT_TRUE(sec >= 0.0 && sec < 1e32);
    }
    vk::parse_clock_time_whole(c, &h, &m, &s32);
    vk::parse_clock_time_ms(c, &ms);
    for (const char* order : {"YMD", "DMonY", "MonDY", "YDMon", "dmy"}) {
      std::string o = order;
      vk::parse_date_by_order(c, o, text.empty() ? '-' : text[text.size() / 2], &d, &mo, &y);
    }
    vk::parse_mdy_date(c, &d, &mo, &y);
    vk::_windows_systemtime st;
    vk::parse_date_time_text(c, c, "YMD", '-', st);
    vk::parse_mdy_date_time_text(c, c, st);
    struct tm fields {};
    vk::parse_date_time_to_tm(c, c, fields);
    vk::time t;
    vk::time_from_date_text(t, c, true);
    vk::time_from_date_order_text(t, c, "DMonY", ' ');
    vk::time_from_date_order_text(t, c, "YMD", '-');
    for (auto kind : {vk::type_time::filetime, vk::type_time::chrome, vk::type_time::firefox3,
                      vk::type_time::unix_time, vk::type_time::vhd_time}) {
      vk::time_from_text(t, text, kind);
    }
    vk::parse_iso8601_time(text);
    vk::parse_email_date(text);
    vk::parse_iso8601_systemtime(text, "YMD", '-', st);
    bool dst = false;
    vk::local_offset_of_text(dst, c);
    vk::hex_text_to_u64(text);
  }
}

TEST(TimeTextHostile, RandomBytesThroughRawTimeForms) {
  std::mt19937 rng(7);
  const uint32_t kinds[] = {0x1,   0x2,   0x4,   0x8,    0x10,   0x20,   0x40,    0x80,    0x100,
                            0x200, 0x400, 0x800, 0x1000, 0x4000, 0x8000, 0x20000, 0x40000, 0x80000};
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> buf(rng() % 24);
    for (auto& b : buf) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
    vk::time t;
    for (uint32_t kind : kinds) {
      for (size_t offset = 0; offset <= buf.size() + 1; ++offset) {
        vk::time_set_from_bytes(t, buf, offset, static_cast<vk::type_time>(kind));
      }
    }
    std::vector<uint64_t> times;
    for (uint32_t n = 0; n <= buf.size(); ++n) {
      const uint32_t used = vk::unpack_time_group(buf.data(), n, times);
      EXPECT_LE(used, n);
      EXPECT_LE(times.size(), 8u);
    }
    const uint64_t value = buf.size() >= 8 ? vk::load_le64(buf.data()) : rng();
    vk::time_hit_store hits;
    vk::scan_value_for_times(hits, value, UINT64_MAX >> 1, 0, 0, true, true, 0xFFFFFFFF);
    uint64_t ticks = 0;
    uint32_t kind = 0;
    vk::guess_time_kind_by_years(ticks, kind, value, 1601, 3000);
    vk::guess_time_kind(t, kind, 3000, 1900, value, 0xFFFFFFFF);
    double dv = 0;
    std::memcpy(&dv, &value, sizeof(dv));
    vk::guess_time_kind_double(t, kind, 3000, 1900, dv, 0xFFFFFFFF);
    vk::time_from_counter(t, value, rng(), value, rng() % 3, 0x1000);
    vk::time_field_desc desc{static_cast<uint64_t>(rng()), true};
    vk::field_value_to_filetime(value, desc, true);
    vk::field_value_to_filetime(value, desc, false);
    vk::time_set_filetime_fraction(t, value, dv);
    vk::timestamp_set set;
    set.timestamp_set_values(value, value >> 3, rng(), value,
                             static_cast<vk::type_time>(kinds[rng() % 18]));
    vk::macb_map out;
    vk::macb_summary(out, set, static_cast<vk::type_time>(set.m_kind));
    EXPECT_LE(out.size(), 4u);
    set.timestamp_set_values_unix(value, value, value, value,
                                  static_cast<vk::type_time>(kinds[rng() % 18]));
    std::ostringstream os;
    vk::write_ntp_stamp(os, vk::filetime_to_ntp(value));
    vk::time_zone_record zone;
    if (!buf.empty())
      std::memcpy(&zone.m_daylight_start, buf.data(), std::min<size_t>(buf.size(), 16));
    zone.m_standard_start.m_month = 10;
    zone.m_standard_start.m_day = static_cast<uint16_t>(rng() % 7);
    zone.m_bias = static_cast<int64_t>(value);
    vk::apply_time_zone_bias(value, zone);
  }
}
