// Time values from date texts, raw bytes and other encodings; NTP stamps and
// packed time groups; e-mail and ISO 8601 dates; labelled field lines. The
// expected instants come from the independent civil-calendar reference.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_ntp.h"
#include "foundation/vk_time_parse.h"
#include "time_reference.h"

using vesk_test::ticks_of;
using vk::type_time;

TEST(TimeParse, DateAndTimeTextsToSystemtime) {
  struct st_case {
    const char* date;
    const char* clock;
    bool ok;
    uint16_t y, mo, d, h, mi, s, ms;
  };
  const st_case cases[] = {
      {"2024-03-05", nullptr, true, 2024, 3, 5, 0, 0, 0, 0},
      {"2024-03-05", "13:45:10.25", true, 2024, 3, 5, 13, 45, 10, 250},
      {"2024-03-05", "00:00:59.9996", true, 2024, 3, 5, 0, 0, 59, 1000},
      {"", "13:45:10", false, 0, 0, 0, 0, 0, 0, 0},
      {nullptr, "13:45:10", false, 0, 0, 0, 0, 0, 0, 0},
      {"70000-01-01", nullptr, false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-03-05", "70000:00", false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-03-05", "12:00:99999", false, 0, 0, 0, 0, 0, 0, 0},
      {"2024-03-05", "noon", false, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    vk::_windows_systemtime st;
    st.m_year = 1;
    EXPECT_EQ(vk::parse_date_time_text(c.date, c.clock, "YMD", '-', st), c.ok) << c.date;
    const uint16_t got[7] = {st.m_year,   st.m_month,  st.m_day,         st.m_hour,
                             st.m_minute, st.m_second, st.m_milliseconds};
    const uint16_t want[7] = {c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(got[i], want[i]) << (c.date ? c.date : "null") << i;
  }

  vk::time t;
  vk::time_from_date_text(t, "03/05/2024", true);
  ASSERT_TRUE(t.valid());
  EXPECT_EQ(t.m_filetime, ticks_of(2024, 3, 5));
  vk::time_from_date_text(t, "03/05/2024 1:02 pm", true);
  EXPECT_EQ(t.m_filetime, ticks_of(2024, 3, 5, 13, 2));
  vk::time_from_date_order_text(t, "Tue, 5 Mar 2024 07:08:09 GMT", "DMonY", ' ');
  EXPECT_EQ(t.m_filetime, 0u);  // "Tue," is no day number
  vk::time_from_date_order_text(t, "5 Mar 2024 07:08:09 GMT", "DMonY", ' ');
  EXPECT_EQ(t.m_filetime, ticks_of(2024, 3, 5, 7, 8, 9));
  vk::time_from_date_order_text(t, "2024-03-05T07:08:09.5", "YMD", '-');
  EXPECT_EQ(t.m_filetime, ticks_of(2024, 3, 5, 7, 8, 9, 5000000));
}

TEST(TimeParse, NtpStampsAndPackedGroups) {
  const vk::ntp_stamp a = vk::make_ntp_stamp(100, 0);
  const vk::ntp_stamp b = vk::make_ntp_stamp(101, 0x80000000u);
  EXPECT_DOUBLE_EQ(vk::elapsed_seconds(a, b), 1.5);
  EXPECT_DOUBLE_EQ(vk::elapsed_seconds(b, a), 1.5);
  EXPECT_TRUE(vk::ntp_less(a, b));
  std::ostringstream none;
  vk::print_elapsed_secs(vk::ntp_stamp{}, none);
  EXPECT_EQ(none.str(), "");

  vk::ntp_stamp s;
  ASSERT_TRUE(vk::filetime_to_ntp_be(vk::k_ntp_epoch_ticks + 5000000, s));
  uint8_t stored[8];
  std::memcpy(stored, &s, 8);
  const uint8_t want[8] = {0, 0, 0, 0, 0x80, 0, 0, 0};  // big-endian words
  EXPECT_EQ(std::memcmp(stored, want, 8), 0);
  ASSERT_TRUE(vk::filetime_to_ntp_be(vk::k_ntp_epoch_ticks + 312500, s));
  EXPECT_EQ(vk::ntp_fraction(s), 0x08000000u);
  EXPECT_EQ(vk::ntp_to_filetime(vk::make_ntp_stamp(1, 0x80000000u)),
            vk::k_ntp_epoch_ticks + 15000000);
  // Before 1900 and with the top bit set there is no stamp, not a wrapped one.
  EXPECT_FALSE(vk::filetime_to_ntp_be(vk::k_ntp_epoch_ticks - 1, s));
  EXPECT_TRUE(s.is_zero());
  EXPECT_FALSE(vk::filetime_to_ntp_be(1ULL << 63, s));

  std::vector<uint8_t> packed;
  EXPECT_EQ(vk::pack_time_group({10, 20, 30}, packed, false), 11);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0x12, 0x1E, 0, 0, 0, 0, 0, 0, 0, 0x14, 0x0A}));
  std::vector<uint64_t> times;
  EXPECT_EQ(vk::unpack_time_group(packed.data(), 11, times), 11u);
  EXPECT_EQ(times, (std::vector<uint64_t>{10, 20, 30}));
  for (uint32_t n = 0; n < 11; ++n) {
    EXPECT_EQ(vk::unpack_time_group(packed.data(), n, times), 0u) << n;
    EXPECT_TRUE(times.empty());
  }
  const std::vector<uint64_t> wide = {ticks_of(2024, 1, 1), ticks_of(2020, 1, 1), 0x1234};
  EXPECT_EQ(vk::pack_time_group(wide, packed, false), 9 + 2 * 8);
  EXPECT_EQ(vk::unpack_time_group(packed.data(), static_cast<uint32_t>(packed.size()), times), 25u);
  EXPECT_EQ(times, wide);
  EXPECT_EQ(vk::pack_time_group({}, packed, false), 0);
  EXPECT_EQ(vk::pack_time_group({1ULL << 60}, packed, false), 0);
  EXPECT_EQ(vk::pack_time_group(std::vector<uint64_t>(9, 1), packed, false), 0);
}

TEST(TimeParse, TimesFromTextsBytesAndOtherForms) {
  vk::time t;
  EXPECT_FALSE(vk::time_from_text(t, "0", type_time::unix_time).valid());
  EXPECT_EQ(vk::time_from_text(t, "1", type_time::unix_time).m_filetime,
            ticks_of(1970, 1, 1, 0, 0, 1));
  EXPECT_EQ(vk::time_from_text(t, "01d9000000000000", type_time::filetime).m_filetime,
            0x01D9000000000000ULL);
  EXPECT_FALSE(vk::time_from_text(t, "1", type_time::ole).valid());

  const std::vector<uint8_t> st = {0xE8, 0x07, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,
                                   0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00};
  EXPECT_TRUE(vk::time_set_from_bytes(t, st, 0, type_time::system_time));
  EXPECT_EQ(t.m_filetime, ticks_of(2024, 1, 2, 3, 4, 5, 60000));

  // Unix seconds: a u32 when only 4 bytes are left, a u64 with 8.
  const std::vector<uint8_t> unix_bytes = {0x01, 0, 0, 0, 0x01, 0, 0, 0};
  EXPECT_TRUE(vk::time_set_from_bytes(t, unix_bytes, 4, type_time::unix_time));
  EXPECT_EQ(t.m_filetime, ticks_of(1970, 1, 1, 0, 0, 1));
  EXPECT_TRUE(vk::time_set_from_bytes(t, unix_bytes, 0, type_time::unix_time));
  EXPECT_EQ(t.m_unix_seconds, 0x100000001LL);
  EXPECT_FALSE(vk::time_set_from_bytes(t, unix_bytes, 5, type_time::unix_time));
  EXPECT_FALSE(vk::time_set_from_bytes(t, unix_bytes, 9, type_time::unix_time));

  // 16-byte kinds are read at the offset and need all 16 bytes there.
  const uint64_t when = ticks_of(2019, 7, 4, 12);
  std::vector<uint8_t> g(20, 0xAB);
  vk::store_le64(g.data() + 4, (when + 5748192000000000ULL) | (1ULL << 60));
  EXPECT_TRUE(vk::time_set_from_bytes(t, g, 4, type_time::guid));
  EXPECT_EQ(t.m_filetime, when);
  EXPECT_FALSE(vk::time_set_from_bytes(t, g, 8, type_time::guid));
  std::vector<uint8_t> stamped(16, 0);  // two words, then the FILETIME
  vk::store_le64(stamped.data() + 8, when);
  EXPECT_TRUE(vk::time_set_from_bytes(t, stamped, 0, static_cast<type_time>(0x4000)));
  EXPECT_EQ(t.m_filetime, when);
  EXPECT_FALSE(vk::time_set_from_bytes(t, stamped, 4, static_cast<type_time>(0x4000)));
  std::vector<uint8_t> ole(12, 0);
  const double days = 45000.5;  // 2023-03-15 12:00
  std::memcpy(ole.data() + 4, &days, 8);
  EXPECT_TRUE(vk::time_set_from_bytes(t, ole, 4, type_time::ole));
  EXPECT_EQ(t.m_filetime, ticks_of(2023, 3, 15, 12));

  const uint64_t base = ticks_of(2022, 2, 2);
  EXPECT_EQ(vk::time_from_counter(t, base, 777, 777, 10000000, 0x1000).m_filetime, base);
  EXPECT_EQ(vk::time_from_counter(t, base, 0, 3000, 1000, 0x1000).m_filetime, base + 30000000);
  EXPECT_FALSE(vk::time_from_counter(t, base, 1, 2, 0, 0x1000).valid());
  EXPECT_FALSE(vk::time_from_counter(t, base, 0, UINT64_MAX, 1, 0x1000).valid());
  EXPECT_EQ(vk::time_from_seconds_micro(t, 1, 500000, type_time::unix_time).m_filetime,
            ticks_of(1970, 1, 1, 0, 0, 1, 5000000));
  EXPECT_FALSE(vk::time_from_seconds_micro(t, 1, 0, type_time::filetime).valid());
  EXPECT_TRUE(vk::time_set_filetime_fraction(t, base, 2.5));
  EXPECT_EQ(t.m_filetime, base + 2);
  EXPECT_EQ(t.m_calendar.m_nanoseconds, 250u);
  EXPECT_FALSE(vk::time_set_filetime_fraction(t, base, -1.0));

  uint32_t kind = 0;
  EXPECT_TRUE(vk::guess_time_kind(t, kind, 2100, 1990, base, 0x3));
  EXPECT_EQ(kind, 1u);
  EXPECT_TRUE(vk::guess_time_kind(t, kind, 2100, 1990, base / 10, 0x3));
  EXPECT_EQ(kind, 2u);
  EXPECT_FALSE(vk::guess_time_kind(t, kind, 2100, 1990, base, 0));

  uint64_t ticks = 0;
  EXPECT_TRUE(vk::guess_time_kind_by_years(ticks, kind, ticks_of(2020, 6, 1), 2000, 2030));
  EXPECT_EQ(kind, 1u);
  EXPECT_EQ(ticks, ticks_of(2020, 6, 1));
  EXPECT_TRUE(vk::guess_time_kind_by_years(ticks, kind, 1600000000, 2000, 2030));
  EXPECT_EQ(kind, 8u);
  EXPECT_FALSE(vk::guess_time_kind_by_years(ticks, kind, 0xFFFFFF, 1900, 3000));

  vk::time_field_desc desc{0x10, true};
  EXPECT_EQ(vk::field_value_to_filetime(1, desc, false), ticks_of(1970, 1, 1, 0, 0, 1));
  desc.m_kind_mask = 0x200;
  double d = 1.25;
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  EXPECT_EQ(vk::field_value_to_filetime(bits, desc, true), ticks_of(2001, 1, 1, 0, 0, 1, 2500000));
  d = 1e300;
  std::memcpy(&bits, &d, 8);
  EXPECT_EQ(vk::field_value_to_filetime(bits, desc, true), 0u);
  EXPECT_EQ(vk::field_value_to_filetime(UINT64_MAX, desc, false), 0u);
}

TEST(TimeParse, MailAndIsoDatesAndFieldLines) {
  std::string text;
  EXPECT_TRUE(vk::write_email_date(text, 86400, 0));
  EXPECT_EQ(text, "Fri; 02 Jan 1970 00:00:00 +0000");
  EXPECT_TRUE(vk::write_email_date(text, 86400, 300));
  EXPECT_EQ(text.substr(text.size() - 5), "-0500");
  EXPECT_TRUE(vk::write_email_date(text, 86400, -330));
  EXPECT_EQ(text.substr(text.size() - 5), "+0530");

  EXPECT_EQ(vk::parse_email_date("Sun, 06 Dec 2026 08:26:29 +0100"), 134410191890000000ULL);
  EXPECT_EQ(vk::parse_email_date("Sun, 06 Dec 2026 08"), 0u);
  EXPECT_EQ(vk::parse_email_date("Sun, 06 Foo 2026 08:26:29 +0100"), 0u);
  EXPECT_EQ(vk::parse_iso8601_time("2026-12-06T08:26:29.5Z"), 134410191895000000ULL);
  EXPECT_EQ(vk::parse_iso8601_time("2026-12-06"), 134409888000000000ULL);
  EXPECT_EQ(vk::parse_iso8601_time("2026-12-06T8"), 0u);
  EXPECT_EQ(vk::parse_iso8601_time("T08:00"), 0u);
  vk::_windows_systemtime st;
  EXPECT_TRUE(vk::parse_iso8601_systemtime("2026-12-06T08:26:29Z", "YMD", '-', st));
  EXPECT_EQ(st.m_second, 29);

  std::ostringstream os;
  EXPECT_EQ(vk::write_offset_field_line(os, "size", 0x1234, 0x40, 8), 4u);
  EXPECT_EQ(os.str(), "00000040 : size    : 00001234\n");
  os.str("");
  vk::write_offset_field_line_u64(os, "big", 1, 0x10, 2, "n", 2);
  EXPECT_EQ(os.str(), "00000010 : big: 0001 [n]\n");
  EXPECT_EQ(vk::write_offset_field_line(os, nullptr, 1, 0, 4), 0u);
  vk::parse_debug quiet;
  EXPECT_EQ(vk::debug_field_line(quiet, "x", 1, 0, 4), 0u);
  std::ostringstream dbg;
  const vk::parse_debug loud{&dbg, true};
  // DOS date 2024-03-05 (low half), time 07:08:10 (high half).
  const uint32_t dos = ((44u << 9) | (3u << 5) | 5u) | (((7u << 11) | (8u << 5) | 5u) << 16);
  EXPECT_EQ(vk::debug_dos_time_line(loud, "mod", dos, 0, 4), 4u);
  EXPECT_NE(dbg.str().find("[2024-03-05 07:08:10.000]"), std::string::npos) << dbg.str();
  EXPECT_EQ(vk::hex_u64_text(text, 1), "0x0000000000000001");
}

TEST(TimeParse, DaylightRulesByNthWeekday) {
  // US rules: second Sunday of March, first Sunday of November, 02:00.
  vk::time_zone_record us;
  us.m_daylight_start.m_month = 3;
  us.m_daylight_start.m_day = 2;
  us.m_daylight_start.m_hour = 2;
  us.m_standard_start.m_month = 11;
  us.m_standard_start.m_day = 1;
  us.m_standard_start.m_hour = 2;
  us.m_bias = 5 * 3600;
  us.m_daylight_bias = -3600;
  uint64_t start = 0, end = 0;
  ASSERT_TRUE(vk::daylight_window(start, end, us.m_daylight_start, us.m_standard_start,
                                  ticks_of(2024, 7, 1)));
  EXPECT_EQ(start, ticks_of(2024, 3, 10, 2));
  EXPECT_EQ(end, ticks_of(2024, 11, 3, 2));
  // Week 5 is the last such weekday: the last Sunday of March 2024 is the 31st.
  vk::_windows_systemtime last = us.m_daylight_start;
  last.m_day = 5;
  EXPECT_EQ(vk::daylight_start({last, us.m_standard_start, 0, 0, 0}, ticks_of(2024, 1, 1)),
            ticks_of(2024, 3, 31, 2));
  EXPECT_EQ(vk::apply_time_zone_bias(ticks_of(2024, 7, 1, 12), us), ticks_of(2024, 7, 1, 16));
  EXPECT_EQ(vk::apply_time_zone_bias(ticks_of(2024, 1, 1, 12), us), ticks_of(2024, 1, 1, 17));
  EXPECT_EQ(vk::remove_time_zone_bias(ticks_of(2024, 7, 1, 16), us), ticks_of(2024, 7, 1, 12));
  vk::time_zone_record none;
  EXPECT_FALSE(vk::daylight_window(start, end, none.m_daylight_start, none.m_standard_start, 1));
  EXPECT_EQ(vk::apply_time_zone_bias(ticks_of(2024, 7, 1), none), 0u);
}
