// Number, GUID and byte texts, offset lines, counted strings and value scans.
#include "cmdline/text_utils/number_hex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "foundation/vk_varint.h"

using namespace vk;

TEST(NumberHex, NumberAndGuidTexts) {
  struct Case {
    const char* text;
    bool hex;
    unsigned width;
    const char* want;
  } cases[] = {{"254", true, 0, "0xfe"},
               {"255", true, 0, "0x00ff"},
               {"65535", true, 0, "0x00ffff"},
               {"4294967295", true, 0, "0xffffffff"},
               {"4294967296", true, 0, "0x100000000"},
               // A text is a number only when read whole.
               {"zz", true, 0, "NaN"},
               {"no", true, 0, "NaN"},
               {"xyz", false, 0, "NaN"},
               {"12ab", false, 0, "NaN"},
               {"0xfg", true, 0, "NaN"},
               {"o19", false, 0, "NaN"},
               {"-1", false, 0, "NaN"},
               {"18446744073709551616", false, 0, "NaN"},
               {"", true, 0, "NaN"},
               {"  ", true, 0, "NaN"},
               {"1 2", true, 0, "NaN"},
               {" 42\t", false, 0, "42"},
               {"x10", false, 0, "16"},
               {"o17", false, 0, "15"},
               {"0x1f", false, 0, "31"},
               {"5", true, 5, "0x00005"},
               {"18446744073709551615", true, 0, "0xffffffffffffffff"}};
  for (const auto& c : cases)
    EXPECT_EQ(format_number_text(c.text, c.hex, c.width), c.want) << c.text;
  EXPECT_EQ(format_number_text("65534", true, 0), "0xfffe");

  std::ostringstream os;
  // The width is for the number: the prefix goes out unformatted first.
  std::string prefix = number_format_prefix(os, true, 4);
  os.write(prefix.data(), static_cast<std::streamsize>(prefix.size()));
  os << 10;
  os.put(' ');
  prefix = number_format_prefix(os, false, 3);
  os << 10;
  EXPECT_EQ(os.str(), "0x000a  10");

  guid g;
  const uint8_t bytes[16] = {1, 0, 0, 0, 2, 0, 3, 0, 4, 5, 6, 7, 8, 9, 10, 11};
  g.set(bytes);
  std::string s = "old";
  const std::pair<int, std::string> styles[] = {
      {0, "00000001-0002-0003-0405-060708090a0b"},
      {1, "0x00000001, 0x0002, 0x0003, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b"},
      {2, "01 00 00 00 02 00 03 00 04 05 06 07 08 09 0a 0b"},
      {3,
       "0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, "
       "0x0a, 0x0b"},
      {7, "00000001-0002-0003-0405-060708090a0b"}};
  for (const auto& [style, want] : styles) {
    EXPECT_TRUE(format_guid_styled(s, g, style));
    EXPECT_EQ(s, want) << style;
  }

  bytes_to_hex_text(s, bytes + 8, 3, true);
  EXPECT_EQ(s, "04 05 06");
  bytes_to_hex_text(s, bytes + 8, 3, false);
  EXPECT_EQ(s, "040506");
  bytes_to_hex_text(s, nullptr, 3, true);
  EXPECT_EQ(s, "");
}

TEST(NumberHex, DumpsAndOffsetLines) {
  uint8_t data[17];
  for (int i = 0; i < 17; ++i) data[i] = static_cast<uint8_t>(0x40 + i);
  data[16] = 0x7f;
  std::string dump = ">";
  append_hex_dump(dump, data, 17, false);
  EXPECT_EQ(dump, ">40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f   @ABCDEFGHIJKLMNO\n7f " +
                      std::string(45, ' ') + "  .");
  dump.clear();
  append_hex_dump(dump, data, 16, true);
  EXPECT_EQ(dump.size(), 16 * 3 + 2 + 16 + 2u);
  EXPECT_EQ(dump.substr(dump.size() - 2), "\n\n");
  dump.clear();
  append_hex_dump(dump, nullptr, 5, false);
  EXPECT_EQ(dump, "");

  std::ostringstream os;
  EXPECT_EQ(write_offset_line(os, 0x10, 0x1234, 8, "size", "5"), 1u);
  EXPECT_EQ(os.str(), "0x010 : 001234 : size:   5\n");
  os << 255;  // left hexadecimal
  EXPECT_EQ(os.str().substr(os.str().size() - 2), "ff");
  os.str("");
  EXPECT_EQ(write_based_offset_line(os, 0x10, 0x1000, 2, "name", "abc"), 3u);
  EXPECT_EQ(os.str(), "0x001010 : 010 : name:abc\n");

  os.str("");
  write_hex16_line(data, os);
  write_hex16(nullptr, os);
  EXPECT_EQ(os.str(), "40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f\n");

  struct D {
    double v;
    int precision;
    const char* want;
  } doubles[] = {{2.5, 6, "2.5"},
                 {3.14159, 3, "3.142"},
                 {7, 6, "7"},
                 {2.9999, 3, "3"},  // the fraction rounds up into the integer part
                 {0.00001234, 3, "0.0000123"},
                 {-2.5, 6, "-2.5"},
                 {std::numeric_limits<double>::quiet_NaN(), 6, "nan"},
                 {INFINITY, 6, "inf"},
                 {-INFINITY, 6, "-inf"},
                 {1e30, 6, "1000000000000000019884624838656"},
                 {18446744073709551616.0, 6, "18446744073709551616"}};
  std::string text;
  for (const auto& d : doubles) EXPECT_EQ(format_double_plain(text, d.v, d.precision), d.want);
}

TEST(NumberHex, CountedStringsAndVarints) {
  std::vector<std::string> list = {"stale"};
  const uint8_t short_list[] = {5, 'a', 'b', 'c'};
  EXPECT_EQ(read_counted_string_list(list, short_list, 4), 1u);
  EXPECT_TRUE(list.empty());
  const uint8_t two[] = {2, 1, 'a', 2, 'b', 'c', 0xEE};
  EXPECT_EQ(read_counted_string_list(list, two, 7), 6u);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "bc"}));
  // The strings run out early: the ones not reached stay empty.
  const uint8_t cut[] = {3, 1, 'a', 0x80};
  EXPECT_EQ(read_counted_string_list(list, cut, 4), 3u);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "", ""}));
  const uint8_t wide_count[] = {0x80};
  EXPECT_EQ(read_counted_string_list(list, wide_count, 1), 0u);
  EXPECT_EQ(read_counted_string_list(list, nullptr, 0), 0u);

  std::string s = "x";
  EXPECT_EQ(read_counted_string_vec(s, {2, 'h', 'i', 'x'}), 3u);
  EXPECT_EQ(s, "hi");
  EXPECT_EQ(read_counted_string_vec(s, {}), 0u);
  EXPECT_EQ(s, "");

  EXPECT_TRUE(is_all_zero({}));
  EXPECT_TRUE(is_all_zero(byte_array(16, 0)));
  EXPECT_FALSE(is_all_zero({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_FALSE(is_all_zero({0, 0, 1}));
  guid g;
  bytes_to_guid(g, byte_array(15, 7));
  EXPECT_EQ(g.m_bytes[0], 0);
  bytes_to_guid(g, byte_array(17, 7));
  EXPECT_EQ(g.m_bytes[15], 7);

  // The base-128 readers (built in the foundation) in their two orders.
  const uint8_t v81[] = {0x81, 0x00}, v7f[] = {0x7f};
  uint64_t v = 9;
  EXPECT_TRUE(read_varint(v, v81, 2));
  EXPECT_EQ(v, 128u);
  EXPECT_TRUE(read_varint_iter(v, v81, 2));
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(read_varint(v, v7f, 1));
  EXPECT_EQ(v, 127u);
}

TEST(NumberHex, ValueScans) {
  const uint8_t units[] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0};
  std::vector<std::vector<uint64_t>> hits;
  EXPECT_TRUE(scan_u32_values(hits, units, 16, {2, 3}, 4, true));
  EXPECT_EQ(hits, (std::vector<std::vector<uint64_t>>{{4}, {}}));
  EXPECT_TRUE(scan_u32_values(hits, units, 16, {2, 3}, 4, false));
  EXPECT_EQ(hits, (std::vector<std::vector<uint64_t>>{{4, 12}, {8}}));
  EXPECT_TRUE(scan_u32_values(hits, units, 15, {2, 3}, 8, false));  // stride 2 units
  EXPECT_EQ(hits, (std::vector<std::vector<uint64_t>>{{}, {8}}));
  EXPECT_FALSE(scan_u32_values(hits, units, 16, {2}, 3, false));
  EXPECT_FALSE(scan_u32_values(hits, units, 3, {2}, 4, false));
  EXPECT_FALSE(scan_u32_values(hits, units, 16, {9}, 4, false));
  EXPECT_EQ(hits.size(), 1u);

  EXPECT_TRUE(scan_u64_values(hits, units, 16, {0x0000000200000003ull}, 8, false));
  EXPECT_EQ(hits, (std::vector<std::vector<uint64_t>>{{8}}));
  EXPECT_FALSE(scan_u64_values(hits, units, 7, {0}, 8, false));
}
