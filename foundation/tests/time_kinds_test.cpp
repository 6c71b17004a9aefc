// Raw time encodings: exact arithmetic of every kind, and hostile values
// (overflowing products, NaN and infinite doubles) that must give an invalid
// time rather than undefined behaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "foundation/vk_time.h"
#include "time_reference.h"

using vesk_test::ticks_of;
using vk::type_time;

namespace {

constexpr type_time k_all_kinds[] = {type_time::filetime,
                                     type_time::chrome,
                                     type_time::firefox3,
                                     type_time::unix_time,
                                     type_time::unix_millisec_time,
                                     type_time::dos_time,
                                     type_time::ntp,
                                     type_time::guid,
                                     type_time::ole,
                                     type_time::system_time,
                                     type_time::system_time_alt,
                                     type_time::vhd_time,
                                     type_time::qpc_time,
                                     type_time::csharp_time,
                                     type_time::snowflake_time,
                                     type_time::safari_time,
                                     type_time::hfs_plus_time};

}  // namespace

TEST(TimeKinds, BrowserEpochs) {
  const vk::time chrome = vk::time_from_u64(13300000000000000ULL, type_time::chrome);
  const vk::time ft = vk::time_from_u64(133000000000000000ULL, type_time::filetime);
  ASSERT_TRUE(chrome.valid());
  EXPECT_EQ(chrome.m_filetime, ft.m_filetime);
  EXPECT_EQ(ft.m_filetime, ticks_of(2022, 6, 18, 4, 26, 40));
  EXPECT_EQ(vk::filetime_to_chrome(ft.m_filetime), 13300000000000000ULL);

  const vk::time ff = vk::time_from_i64(int64_t{1655526400123456}, type_time::firefox3);
  EXPECT_EQ(ff.m_filetime, ticks_of(2022, 6, 18, 4, 26, 40, 1234560));
  // A microsecond before 1970 is a valid instant in 1969.
  const vk::time before = vk::time_from_i64(int64_t{-1}, type_time::firefox3);
  EXPECT_TRUE(before.valid());
  EXPECT_EQ(before.m_filetime, 116444736000000000ULL - 10);
  EXPECT_EQ(before.m_unix_seconds, -1);
}

TEST(TimeKinds, UnixCounts) {
  const vk::time zero = vk::time_from_u64(uint64_t{0}, type_time::unix_time);
  EXPECT_FALSE(zero.valid());
  EXPECT_EQ(zero.m_unix_seconds, 0);
  EXPECT_EQ(zero.m_filetime, 116444736000000000ULL);
  const vk::time ms = vk::time_from_u64(uint64_t{999}, type_time::unix_millisec_time);
  EXPECT_FALSE(ms.valid());
  EXPECT_EQ(ms.m_unix_seconds, 0);
  const vk::time one = vk::time_from_i64(int64_t{1}, type_time::unix_time);
  ASSERT_TRUE(one.valid());
  EXPECT_EQ(one.m_filetime, ticks_of(1970, 1, 1, 0, 0, 1));
  EXPECT_FALSE(vk::time_from_i64(int64_t{-5}, type_time::unix_time).valid());
  // An unsigned count beyond the signed range reads as negative: no unix
  // seconds, and the ticks field shows where it pointed (a second before 1970).
  const vk::time huge = vk::time_from_u64(UINT64_MAX, type_time::unix_time);
  EXPECT_FALSE(huge.valid());
  EXPECT_EQ(huge.m_unix_seconds, 0);
  EXPECT_EQ(huge.m_filetime, 116444736000000000ULL - 10000000);

  const vk::time ms2 = vk::time_from_i64(int64_t{1709622489123}, type_time::unix_millisec_time);
  EXPECT_EQ(ms2.m_filetime, ticks_of(2024, 3, 5, 7, 8, 9, 1230000));
  EXPECT_EQ(ms2.m_unix_seconds, 1709622489);

  const vk::time d = vk::time_from_double(1709622489.5, type_time::unix_time);
  EXPECT_EQ(d.m_filetime, ticks_of(2024, 3, 5, 7, 8, 9, 5000000));
  const vk::time dms = vk::time_from_double(1709622489500.0, type_time::unix_millisec_time);
  EXPECT_EQ(dms.m_filetime, d.m_filetime);
}

TEST(TimeKinds, OleDates) {
  const vk::time noon = vk::time_from_double(36526.5, type_time::ole);
  ASSERT_TRUE(noon.valid());
  EXPECT_EQ(noon.m_filetime, ticks_of(2000, 1, 1, 12));
  const vk::time day0 = vk::time_from_i64(int64_t{0}, type_time::ole);
  EXPECT_FALSE(day0.valid());  // 1899-12-30 is before 1900
  EXPECT_EQ(day0.m_filetime, ticks_of(1899, 12, 30));
  EXPECT_EQ(vk::time_from_i64(int64_t{36526}, type_time::ole).m_filetime, ticks_of(2000, 1, 1));
  EXPECT_FALSE(vk::time_from_double(-700000.0, type_time::ole).valid());
}

TEST(TimeKinds, SafariSecondsAndNanoseconds) {
  EXPECT_EQ(vk::time_from_u64(uint64_t{0}, type_time::safari_time).m_filetime,
            ticks_of(2001, 1, 1));
  const vk::time secs = vk::time_from_u64(uint64_t{4294967295}, type_time::safari_time);
  EXPECT_EQ(secs.m_filetime, ticks_of(2001, 1, 1) + 4294967295ULL * 10000000);
  const vk::time nanos = vk::time_from_u64(uint64_t{4294967296}, type_time::safari_time);
  ASSERT_TRUE(nanos.valid());
  EXPECT_EQ(nanos.m_filetime, ticks_of(2001, 1, 1, 0, 0, 4, 2949672));
  const vk::time signed_nanos = vk::time_from_i64(int64_t{4294967296}, type_time::safari_time);
  EXPECT_EQ(signed_nanos.m_filetime, nanos.m_filetime);
  // Negative counts are seconds before 2001.
  EXPECT_EQ(vk::time_from_i64(int64_t{-86400}, type_time::safari_time).m_filetime,
            ticks_of(2000, 12, 31));
  EXPECT_EQ(vk::time_from_double(1.25, type_time::safari_time).m_filetime,
            ticks_of(2001, 1, 1, 0, 0, 1, 2500000));

  int64_t s = 0;
  ASSERT_TRUE(vk::safari_to_unix_seconds(0, s));
  EXPECT_EQ(s, 978307200);
  ASSERT_TRUE(vk::safari_to_unix_seconds(4294967296ULL, s));
  EXPECT_EQ(s, 978307204);
}

TEST(TimeKinds, OtherEpochs) {
  const vk::time hfs = vk::time_from_u64(uint64_t{0}, type_time::hfs_plus_time);
  EXPECT_TRUE(hfs.valid());
  EXPECT_EQ(hfs.m_filetime, ticks_of(1904, 1, 1));
  const vk::time cs = vk::time_from_u64(630822816000000000ULL, type_time::csharp_time);
  ASSERT_TRUE(cs.valid());
  EXPECT_EQ(cs.m_filetime, ticks_of(2000, 1, 1));
  EXPECT_FALSE(vk::time_from_u64(uint64_t{1}, type_time::csharp_time).valid());
  EXPECT_FALSE(vk::time_from_i64(int64_t{630822816000000000}, type_time::csharp_time).valid());
  const vk::time snow = vk::time_from_u64(uint64_t{0}, type_time::snowflake_time);
  EXPECT_EQ(snow.m_filetime, ticks_of(2015, 1, 1));
  // 1000 ms after the epoch, in bits 22 and up.
  EXPECT_EQ(vk::time_from_i64(int64_t{1000} << 22, type_time::snowflake_time).m_filetime,
            ticks_of(2015, 1, 1, 0, 0, 1));
  const vk::time vhd = vk::time_from_u64(uint64_t{86400}, type_time::vhd_time);
  EXPECT_EQ(vhd.m_filetime, ticks_of(2000, 1, 2));
  EXPECT_EQ(vk::filetime_to_vhd(vhd.m_filetime), 86400u);
  EXPECT_EQ(vk::filetime_to_vhd(ticks_of(1999, 1, 1)), 0u);
  // Kinds without a conversion leave the value clear.
  const vk::time qpc = vk::time_from_u64(uint64_t{123456789}, type_time::qpc_time);
  EXPECT_FALSE(qpc.valid());
  EXPECT_EQ(qpc.m_filetime, 0u);
}

TEST(TimeKinds, ToUnixSeconds) {
  int64_t s = 7;
  ASSERT_TRUE(vk::chrome_to_unix_seconds(13300000000000000ULL, s));
  EXPECT_EQ(s, 1655526400);
  ASSERT_TRUE(vk::chrome_to_unix_seconds(11644473599999999ULL, s));  // a microsecond before 1970
  EXPECT_EQ(s, -1);
  s = 7;
  EXPECT_FALSE(vk::chrome_to_unix_seconds(UINT64_MAX, s));
  EXPECT_EQ(s, 7);
  ASSERT_TRUE(vk::firefox3_to_unix_seconds(1655526400999999, s));
  EXPECT_EQ(s, 1655526400);
  EXPECT_FALSE(vk::firefox3_to_unix_seconds(INT64_MIN, s));
  // Before 1601: negative ticks.
  EXPECT_FALSE(vk::firefox3_to_unix_seconds(-11644473600000001LL, s));
}

TEST(TimeKinds, GuidTimestamps) {
  // A version-1 GUID of 2022-06-18 04:26:40 with clock sequence 0x1234 and
  // node 01:02:03:04:05:06, in its stored (little-endian fields) layout.
  const uint64_t stamp = 133000000000000000ULL + 5748192000000000ULL;
  uint8_t g[16];
  const uint32_t time_low = static_cast<uint32_t>(stamp);
  const uint16_t time_mid = static_cast<uint16_t>(stamp >> 32);
  const uint16_t time_hi = static_cast<uint16_t>(((stamp >> 48) & 0x0FFF) | 0x1000);
  for (int i = 0; i < 4; ++i) g[i] = static_cast<uint8_t>(time_low >> (8 * i));
  g[4] = static_cast<uint8_t>(time_mid);
  g[5] = static_cast<uint8_t>(time_mid >> 8);
  g[6] = static_cast<uint8_t>(time_hi);
  g[7] = static_cast<uint8_t>(time_hi >> 8);
  g[8] = 0x92;  // variant bits over 0x1234
  g[9] = 0x34;
  for (int i = 0; i < 6; ++i) g[10 + i] = static_cast<uint8_t>(i + 1);

  uint64_t ticks = 1;
  uint16_t clock = 1;
  std::vector<uint8_t> node{9};
  ASSERT_TRUE(vk::guid_v1_to_filetime(ticks, clock, node, g));
  EXPECT_EQ(ticks, 133000000000000000ULL);
  EXPECT_EQ(clock, 0x1234);
  EXPECT_EQ(node, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(vk::guid_v1_ticks(g), 133000000000000000ULL);

  uint8_t v4[16];
  std::copy(g, g + 16, v4);
  v4[7] = static_cast<uint8_t>((v4[7] & 0x0F) | 0x40);
  EXPECT_FALSE(vk::guid_v1_to_filetime(ticks, clock, node, v4));
  EXPECT_EQ(ticks, 0u);
  EXPECT_TRUE(node.empty());
  EXPECT_FALSE(vk::guid_v1_to_filetime(ticks, clock, node, nullptr));
  EXPECT_EQ(vk::guid_v1_ticks(v4), 0u);
  EXPECT_EQ(vk::guid_v1_ticks(nullptr), 0u);

  // The GUID timestamp of 1601-01-01 is tick 0; one tick earlier fails.
  uint8_t epoch[16] = {};
  const uint64_t e = 5748192000000000ULL;
  for (int i = 0; i < 8; ++i) epoch[i] = static_cast<uint8_t>(e >> (8 * i));
  epoch[7] |= 0x10;
  EXPECT_TRUE(vk::guid_v1_to_filetime(ticks, clock, node, epoch));
  EXPECT_EQ(ticks, 0u);
  for (int i = 0; i < 8; ++i) epoch[i] = static_cast<uint8_t>((e - 1) >> (8 * i));
  epoch[7] |= 0x10;
  EXPECT_FALSE(vk::guid_v1_to_filetime(ticks, clock, node, epoch));
  EXPECT_EQ(vk::guid_v1_ticks(epoch), 0u);

  std::vector<uint8_t> bytes(g, g + 16);
  ASSERT_TRUE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, bytes, 0));
  EXPECT_EQ(ticks, 133000000000000000ULL);
  // A leading '{' shifts the start: then 17 bytes are needed.
  std::vector<uint8_t> braced(16, 0);
  braced[0] = '{';
  std::copy(g, g + 15, braced.begin() + 1);
  EXPECT_FALSE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, braced, 0));
  braced.push_back(g[15]);
  EXPECT_TRUE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, braced, 0));
  EXPECT_EQ(ticks, 133000000000000000ULL);
  EXPECT_FALSE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, bytes, 1));
  EXPECT_FALSE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, bytes, 0xFFFFFFFFu));
  EXPECT_FALSE(vk::guid_v1_bytes_to_filetime(ticks, clock, node, std::vector<uint8_t>(7), 0));
}

TEST(TimeKinds, SystemtimeConstructor) {
  const vk::_windows_systemtime a(int64_t{951782400}, type_time::unix_time);
  EXPECT_EQ(a.m_year, 2000);
  EXPECT_EQ(a.m_month, 2);
  EXPECT_EQ(a.m_day, 29);
  EXPECT_EQ(a.m_day_of_week, 2);
  const vk::_windows_systemtime b(static_cast<int64_t>(ticks_of(2000, 2, 29, 1, 2, 3, 4560000)),
                                  type_time::filetime);
  EXPECT_EQ(b.m_hour, 1);
  EXPECT_EQ(b.m_minute, 2);
  EXPECT_EQ(b.m_second, 3);
  EXPECT_EQ(b.m_milliseconds, 456);
  vk::FILETIME ft;
  vk::store_filetime(ticks_of(2000, 2, 29, 1, 2, 3, 4560000), ft);
  vk::_windows_systemtime c;
  ASSERT_TRUE(vk::filetime_words_to_systemtime(ft, c));
  EXPECT_EQ(c.m_milliseconds, 456);
}

TEST(TimeKinds, HostileValuesGiveInvalidTimes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {nan, inf, -inf, 1e300, -1e300, 1e19, -1e19}) {
    for (type_time k : {type_time::ole, type_time::safari_time, type_time::unix_time,
                        type_time::unix_millisec_time}) {
      EXPECT_FALSE(vk::time_from_double(v, k).valid()) << v;
    }
  }
  for (int64_t v : {INT64_MAX, INT64_MIN, INT64_MAX / 10 + 1, INT64_MIN / 86400 - 1}) {
    for (type_time k : k_all_kinds) {
      const vk::time t = vk::time_from_i64(v, k);
      if (t.valid()) {
        EXPECT_GE(vk::time_year(t), 1900);
        EXPECT_LE(vk::time_year(t), 3000);
      }
    }
  }
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX, type_time::chrome).valid());
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX, type_time::firefox3).valid());
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX, type_time::unix_time).valid());
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX / 2, type_time::unix_time).valid());
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX, type_time::unix_millisec_time).valid());
  EXPECT_FALSE(vk::time_from_u64(UINT64_MAX, type_time::hfs_plus_time).valid());
  EXPECT_FALSE(vk::time_from_i64(INT64_MAX, type_time::ole).valid());
  EXPECT_FALSE(vk::time_from_i64(INT64_MIN, type_time::hfs_plus_time).valid());
  uint64_t ticks = 5;
  EXPECT_FALSE(vk::firefox3_to_filetime(INT64_MAX, ticks));
  EXPECT_EQ(ticks, 0u);
}

TEST(TimeKinds, RandomRawValuesStayInRange) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = rng();
    double d;
    static_assert(sizeof d == sizeof bits);
    std::memcpy(&d, &bits, sizeof d);
    for (type_time k : k_all_kinds) {
      for (const vk::time& t :
           {vk::time_from_u64(bits, k), vk::time_from_i64(static_cast<int64_t>(bits), k),
            vk::time_from_double(d, k)}) {
        if (!t.valid()) continue;
        ASSERT_GE(vk::time_year(t), 1900);
        ASSERT_LE(vk::time_year(t), 3000);
        ASSERT_EQ(vk::filetime_value(t.m_filetime_pair), t.m_filetime);
      }
    }
  }
}
