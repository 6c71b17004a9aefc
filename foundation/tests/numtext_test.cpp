#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <vector>

#include "byte_builder.h"
#include "foundation/vk_numtext.h"

using namespace vk;

namespace {

TEST(ParseUint, ReadsEveryPrefixForm) {
  uint32_t v = 99;
  EXPECT_TRUE(parse_uint("0x1F", v));
  EXPECT_EQ(v, 31u);
  EXPECT_TRUE(parse_uint("X1F", v));
  EXPECT_EQ(v, 31u);
  EXPECT_TRUE(parse_uint("1x1f", v));  // any first character before the 'x'
  EXPECT_EQ(v, 31u);
  EXPECT_TRUE(parse_uint("o17", v));
  EXPECT_EQ(v, 15u);
  EXPECT_TRUE(parse_uint("42", v));
  EXPECT_EQ(v, 42u);
  EXPECT_TRUE(parse_uint("+7", v));
  EXPECT_EQ(v, 7u);
  EXPECT_TRUE(parse_uint("'a'", v));
  EXPECT_EQ(v, 97u);
  EXPECT_TRUE(parse_uint("'A'", v));  // the quoted character keeps its case
  EXPECT_EQ(v, 65u);
  EXPECT_TRUE(parse_uint(std::string("  0x10\r\n"), v));
  EXPECT_EQ(v, 16u);
}

TEST(ParseUint, DigitlessAndNonNumbers) {
  uint32_t v = 5;
  EXPECT_TRUE(parse_uint("0xZZ", v));  // a prefix without digits reads as 0
  EXPECT_EQ(v, 0u);
  v = 5;
  EXPECT_FALSE(parse_uint("ab", v));
  EXPECT_EQ(v, 0u);
  v = 5;
  EXPECT_FALSE(parse_uint("", v));
  EXPECT_EQ(v, 0u);
  EXPECT_FALSE(parse_uint(" \t\r\n", v));
  EXPECT_FALSE(parse_uint(static_cast<const char*>(nullptr), v));
  EXPECT_TRUE(parse_uint("12abc", v));  // digits stop at the first non-digit
  EXPECT_EQ(v, 12u);
}

TEST(ParseUint, BehavesLikeA32BitStrtoul) {
  uint32_t v = 0;
  EXPECT_TRUE(parse_uint("-1", v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(parse_uint("-5", v));
  EXPECT_EQ(v, 0xFFFFFFFBu);
  EXPECT_TRUE(parse_uint("4294967295", v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(parse_uint("4294967296", v));  // saturates, never wraps to 0
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(parse_uint("0x123456789", v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(parse_uint("-99999999999", v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
}

TEST(ParseNumbers, StreamBaseAndGuidText) {
  EXPECT_EQ(parse_i64_base("9b9cdc69c1c24e2b", std::ios_base::hex), 0x9b9cdc69c1c24e2bull);
  EXPECT_EQ(parse_i64_base("123", std::ios_base::dec), 123u);
  EXPECT_EQ(parse_i64_base("17", std::ios_base::oct), 15u);
  EXPECT_EQ(parse_i64_base("zz", std::ios_base::hex), 0u);
  // Every form reads as the stream reads it, the plain ones and the others.
  for (const char* text :
       {"0", "ffffffffffffffff", "10000000000000000", "18446744073709551615",
        "18446744073709551616", "9999999999999999999", "0x1f", "0X1F", " 12", "+7", "-1", "12zz",
        "1a", "777777777777777777777", "1777777777777777777777", "2000000000000000000000", "", "g",
        "00000000000000000000001"}) {
    for (auto base : {std::ios_base::hex, std::ios_base::dec, std::ios_base::oct}) {
      std::istringstream is(text);
      is.setf(base, std::ios_base::basefield);
      uint64_t want = 0;
      if (!(is >> want)) want = 0;
      EXPECT_EQ(parse_i64_base(text, base), want) << text << " base " << base;
    }
  }

  guid g;
  ASSERT_TRUE(guid_from_text("00112233-4455-6677-8899-aabbccddeeff", g));
  const uint8_t want[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                            0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  EXPECT_EQ(0, std::memcmp(g.m_bytes, want, 16));

  g.m_bytes[0] = 1;
  EXPECT_FALSE(guid_from_text("0011-4455-6677-8899", g));  // too short
  EXPECT_EQ(g, guid());
  EXPECT_FALSE(guid_from_text("{00112233-4455-6677-8899-aabbccddeeff}", g));
  EXPECT_EQ(g, guid());
  // Long enough but unreadable: a failure, not a zero GUID reported as read.
  g.m_bytes[3] = 1;
  EXPECT_FALSE(guid_from_text("zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz", g));
  EXPECT_EQ(g, guid());
  EXPECT_FALSE(guid_from_text("00112233-4455-6677-8899", g));                // last group missing
  EXPECT_FALSE(guid_from_text("00112233-44556-6677-8899-aabbccddeeff", g));  // 16-bit overflow
  EXPECT_EQ(g, guid());
}

TEST(NumberText, HexWidthsFollowTheValueSize) {
  EXPECT_EQ(hex_number_text(255, true, 0), "0xff");
  EXPECT_EQ(hex_number_text(256, true, 0), "0x0100");
  EXPECT_EQ(hex_number_text(0xFFFF, true, 0), "0xffff");
  EXPECT_EQ(hex_number_text(0x10000, true, 0), "0x010000");
  EXPECT_EQ(hex_number_text(0x1000000, true, 0), "0x01000000");
  EXPECT_EQ(hex_number_text(0x123456789ull, true, 0), "0x123456789");
  EXPECT_EQ(hex_number_text(5, true, 4), "0x0005");
  EXPECT_EQ(hex_number_text(0xAB, true, 70), "0x" + std::string(68, '0') + "ab");
  EXPECT_EQ(hex_number_text(~0ull, true, 3), "0xffffffffffffffff");
  EXPECT_EQ(hex_number_text(300, false, 8), "300");
  std::string out = "old";
  EXPECT_EQ(hex_number_text(out, 0xAB, true, 2), "0xab");
  EXPECT_EQ(out, "0xab");
  EXPECT_EQ(dash_line(3), "---");
  EXPECT_EQ(dash_line(0), "");
}

// The in-place writers give the printf texts and stay within their room
// (a heap block of exactly that size).
TEST(NumberText, InPlaceWritersStayWithinTheirRoom) {
  std::vector<uint64_t> values = {
      0,    9, 10, 99, 100, 0xFF, 0x100, 0xABCDEF, 0xFFFFFFFF, 0x100000000, 1234567890123456789ull,
      ~0ull};
  // Each digit count's edges, and each bit width's.
  for (uint64_t p = 10; p <= 10000000000000000000ull; p *= 10) {
    values.insert(values.end(), {p - 1, p, p + 1});
    if (p > ~0ull / 10) break;
  }
  for (unsigned b = 1; b < 64; ++b) values.insert(values.end(), {(1ull << b) - 1, 1ull << b});
  for (const uint64_t v : values) {
    std::vector<char> room(k_number_text_room);
    char want[48];
    std::snprintf(want, sizeof want, "%llu", static_cast<unsigned long long>(v));
    EXPECT_EQ(std::string(room.data(), put_decimal(room.data(), v)), want);
    EXPECT_EQ(std::string(room.data(), put_hex_number_text(room.data(), v, false, 8)), want);
    for (const int width : {1, 2, 4, 8, 9, 16}) {
      std::snprintf(want, sizeof want, "0x%0*llx", width, static_cast<unsigned long long>(v));
      char* end = put_hex_number_text(room.data(), v, true, static_cast<unsigned>(width));
      EXPECT_EQ(std::string(room.data(), end), want) << width;
      std::string appended = "<";
      append_hex_number_text(appended, v, true, static_cast<unsigned>(width));
      EXPECT_EQ(appended, std::string("<") + want);
    }
  }
}

TEST(NumberText, ByteListsAndInitializers) {
  const uint8_t b[] = {0x00, 0x7f, 0xab};
  std::string s = "x";
  EXPECT_TRUE(bytes_to_hex_list(s, b, 3, " ", false));
  EXPECT_EQ(s, "00 7f ab");
  EXPECT_TRUE(bytes_to_hex_list(s, b, 3, ",", true));
  EXPECT_EQ(s, "0x00,0x7f,0xab");
  EXPECT_FALSE(bytes_to_hex_list(s, nullptr, 3, " ", false));
  EXPECT_FALSE(bytes_to_hex_list(s, b, 0, " ", false));

  std::vector<uint8_t> v(b, b + 3);
  EXPECT_EQ(hex_list_text(v, " "), "00 7f ab");
  EXPECT_FALSE(hex_list_text(s, {}, " ", false));
  EXPECT_EQ(s, "");

  EXPECT_TRUE(c_byte_array_text("sig", {0x4c, 0x00}, s));
  EXPECT_EQ(s, "const byte sig[] = {0x4c, 0x00};");
  EXPECT_FALSE(c_byte_array_text(nullptr, {1}, s));
  EXPECT_FALSE(c_byte_array_text("x", {}, s));

  guid g;
  guid_from_text("00021401-0000-0000-c000-000000000046", g);
  EXPECT_TRUE(guid_initializer_text(s, g));
  EXPECT_EQ(s, "0x00021401, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46");
  EXPECT_TRUE(propkey_initializer_text(s, g, 15));
  EXPECT_EQ(s, "0x00021401, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46, 15");
}

TEST(NumberText, AddressesAndSwaps) {
  const uint8_t a[] = {192, 168, 1, 20, 0xab, 0xcd, 0xef, 0x01};
  std::string s;
  EXPECT_TRUE(address_bytes_text(a, 4, s));
  EXPECT_EQ(s, "192.168.1.20");
  EXPECT_TRUE(address_bytes_text(a, 6, s));
  EXPECT_EQ(s, "c0:a8:01:14:ab:cd");
  EXPECT_TRUE(address_bytes_text(a, 8, s));
  EXPECT_EQ(s, "c0:a8:01:14:ab:cd:ef:01");
  EXPECT_FALSE(address_bytes_text(a, 5, s));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(address_bytes_text(nullptr, 4, s));

  uint32_t w = 0;
  EXPECT_TRUE(swap_bytes_u32(0x11223344, w));
  EXPECT_EQ(w, 0x44332211u);
  EXPECT_TRUE(ipv4_to_string(0xC0A80114, s));
  EXPECT_EQ(s, "192.168.1.20");

  std::ostringstream os;
  write_hex_value_line(os, "size", 0x1234);
  write_hex_value_line(os, nullptr, 1);
  EXPECT_EQ(os.str(), "size: 0x1234/0x1234");
}

TEST(Months, NamesAndLookups) {
  EXPECT_STREQ(month_abbrev(1), "Jan");
  EXPECT_STREQ(month_abbrev(12), "Dec");
  EXPECT_STREQ(month_abbrev(0), "");
  EXPECT_STREQ(month_abbrev(13), "");
  EXPECT_EQ(month_from_abbrev("DEC"), 12);
  EXPECT_EQ(month_from_abbrev("January"), 1);
  EXPECT_EQ(month_from_abbrev("Ja"), -1);
  EXPECT_EQ(month_from_abbrev("xyz"), -1);
  EXPECT_EQ(month_from_abbrev(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(month_from_abbrev(std::string("sEp")), 9);

  std::map<std::string, int> m;
  fill_month_map(m);
  ASSERT_EQ(m.size(), 12u);
  EXPECT_EQ(m["jan"], 1);
  EXPECT_EQ(m["dec"], 12);
  std::map<std::string, int> other{{"x", 5}};
  fill_month_map(other);
  EXPECT_EQ(other.size(), 1u);
}

TEST(TimeFormatSettings, DefaultTemplates) {
  time_format_settings s;
  EXPECT_TRUE(s.m_descriptor.is_zero());
  EXPECT_EQ(s.m_min_year, 1900);
  EXPECT_EQ(s.m_max_year, 2600);
  ASSERT_TRUE(build_time_format_settings(s, "yyyy-mm-dd", "hh:mm:ss.xxx", false));
  EXPECT_EQ(s.m_descriptor.m_separator, '-');
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x86);
  EXPECT_EQ(s.m_descriptor.m_time_flags, 0x06);
  EXPECT_EQ(s.m_descriptor.m_reserved, 0);
  EXPECT_EQ(s.m_descriptor.subsecond_digits(), 3u);
  EXPECT_EQ(s.m_descriptor.as_u32(), 0x0006862Du);
  EXPECT_EQ(s.m_min_year, 1900);
  EXPECT_EQ(s.m_max_year, 2600);
  EXPECT_EQ(s.m_reserved, 0u);
}

TEST(TimeFormatSettings, OrdersSeparatorsAndDigits) {
  time_format_settings s;
  ASSERT_TRUE(build_time_format_settings(s, "mm/dd/yyyy", "", true));
  EXPECT_EQ(s.m_descriptor.m_separator, '/');
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x46);
  EXPECT_EQ(s.m_descriptor.m_time_flags, 0x01);
  EXPECT_TRUE(s.m_descriptor.paired());

  ASSERT_TRUE(build_time_format_settings(s, "dd mmm yy", "hh:mm:ss.xxxxxx", false));
  EXPECT_EQ(s.m_descriptor.m_separator, ' ');
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x01 | 0x08 | 0x20);
  EXPECT_EQ(s.m_descriptor.subsecond_digits(), 6u);

  ASSERT_TRUE(build_time_format_settings(s, "mmm dd, yyyy", "hh:mm:ss.xxxxxxxxxxxx", false));
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x01 | 0x04 | 0x10 | 0x40);
  EXPECT_EQ(s.m_descriptor.subsecond_digits(), 9u);  // capped

  ASSERT_TRUE(build_time_format_settings(s, "yyyymmdd", "hh:mm:ss", false));
  EXPECT_EQ(s.m_descriptor.m_separator, 0);
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x86);
  EXPECT_EQ(s.m_descriptor.m_time_flags, 0);

  ASSERT_TRUE(build_time_format_settings(s, "", "", false));
  EXPECT_TRUE(s.m_descriptor.is_zero());
}

TEST(TimeFormatSettings, FailuresKeepThePartialDescriptor) {
  time_format_settings s;
  EXPECT_FALSE(build_time_format_settings(s, "yy-mm", "hh:mm:ss.xxx", false));
  EXPECT_EQ(s.m_descriptor.m_separator, '-');
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x02 | 0x08);
  EXPECT_EQ(s.m_descriptor.subsecond_digits(), 0u);  // the time part is never reached

  EXPECT_FALSE(build_time_format_settings(s, "dd-yyyy", "", false));  // no month
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0);
  EXPECT_FALSE(build_time_format_settings(s, "mm-dd", "", false));  // no year
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x02);
  EXPECT_FALSE(build_time_format_settings(s, "yyyy-dd-mm", "", true));  // y-d-m order
  EXPECT_EQ(s.m_descriptor.m_date_flags, 0x06);
  EXPECT_TRUE(s.m_descriptor.paired());
}

TEST(NumText, RandomTextNeverMisbehaves) {
  std::mt19937 rng(104);
  for (int i = 0; i < 2000; ++i) {
    auto bytes = vesk_test::random_bytes(rng() % 24, rng);
    std::string t(bytes.begin(), bytes.end());
    uint32_t v;
    parse_uint(t, v);
    guid g;
    guid_from_text(t, g);
    parse_i64_base(t, std::ios_base::hex);
    month_from_abbrev(t);
    time_format_settings s;
    build_time_format_settings(s, t, t, (i & 1) != 0);
    EXPECT_EQ(s.m_descriptor.m_reserved, 0);
    EXPECT_LE(s.m_descriptor.subsecond_digits(), 9u);
    std::string out;
    address_bytes_text(bytes.data(), bytes.size(), out);
    bytes_to_hex_list(out, bytes.data(), bytes.size(), ":", (i & 2) != 0);
    EXPECT_EQ(out.size(), bytes.empty() ? 0 : bytes.size() * ((i & 2) ? 5 : 3) - 1);
  }
}

}  // namespace
