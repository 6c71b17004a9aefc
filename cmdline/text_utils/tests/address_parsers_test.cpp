// Address texts, device serials, path normalisation, device prefixes and the
// hex texts (floats, wildcard patterns, dump columns).
#include "cmdline/text_utils/address_parsers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_hex_view.h"

using namespace vk;

TEST(AddressParsers, IpAddresses) {
  byte_array b;
  EXPECT_TRUE(parse_ipv6_text("::1", b));
  byte_array want(16, 0);
  want[15] = 1;
  EXPECT_EQ(b, want);
  EXPECT_TRUE(parse_ipv6_text("1:2", b));
  EXPECT_EQ(b, (byte_array{0, 1, 0, 2}));
  EXPECT_TRUE(parse_ipv6_text("", b));
  EXPECT_EQ(b, byte_array(16, 0));
  EXPECT_TRUE(parse_ipv6_text("fe80::1:12345", b));
  EXPECT_EQ(b, (byte_array{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x23, 0x45}));

  struct V4 {
    const char* text;
    bool swap, ok;
    uint32_t value;
  } v4[] = {{"192.168.0.1", false, true, 0xC0A80001},
            {"192.168.0.1", true, true, 0x0100A8C0},
            {"1.2.3", false, false, 0},
            {"1.2.3.256", false, true, 0x01020400},
            {"10:0:0:0x10", false, true, 0x0A000010},
            {"1-2-3-4", false, true, 0x01020304},
            {"1.2.zz.4", false, false, 0},
            {"1234", false, false, 0}};
  for (const auto& c : v4) {
    uint32_t v = 77;
    EXPECT_EQ(parse_ipv4_text(c.text, v, c.swap), c.ok) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
  uint32_t v = 5;
  EXPECT_FALSE(parse_ipv4_text(nullptr, v, false));

  auto groups = [](std::initializer_list<uint16_t> g) {
    std::vector<uint16_t> units;  // network order in memory
    for (uint16_t x : g) units.push_back(static_cast<uint16_t>((x >> 8) | (x << 8)));
    return units;
  };
  const std::pair<std::vector<uint16_t>, std::string> v6[] = {
      {groups({1, 2, 3, 4, 5, 6, 7, 0}), "1:2:3:4:5:6:7::"},
      {groups({0, 0, 0, 0, 0, 0, 0, 0}), "::"},
      {groups({1, 0, 2, 0, 0, 3, 4, 5}), "1::2:0:0:3:4:5"},
      {groups({0, 0, 0, 0, 0, 0, 0, 1}), "::1"},
      {groups({0xfe80, 0, 0, 0, 0, 0, 0, 0xabcd}), "fe80::abcd"},
      {groups({0}), "::"}};
  std::string text;
  for (const auto& [units, want6] : v6) {
    EXPECT_TRUE(format_ipv6_text(units.data(), units.size() * 2, text));
    EXPECT_EQ(text, want6);
  }
  EXPECT_FALSE(format_ipv6_text(nullptr, 16, text));
  EXPECT_FALSE(format_ipv6_text(v6[0].first.data(), 1, text));
}

TEST(AddressParsers, DeviceSerials) {
  struct Case {
    std::string id, sep_in;
    bool ok;
    std::string serial, base, sep_out;
  } cases[] = {
      {"USBSTOR#Disk&Ven_A&Prod_B&Rev_1.0#A1B2C3&0#{x}", "", true, "A1B2C3&0", "A1B2C3", "#"},
      {"USB#VID_1&PID_2#7&2a1b&0", "/", true, "7&2a1b&0", "7&2a1b&0", "#"},
      {"a/b/c/", "", true, "c", "c", "/"},
      {"a\\b\\serial12&01", "", true, "serial12&01", "serial12", "\\"},
      {"x::y::", "::", true, "y", "y", "::"},
      {"abc", "", false, "", "", ""},
      {"abc", "-", false, "", "", "-"},
      {"USB#PID_1#", "", false, "", "", "#"},
      {"USB#nothing#here", "", false, "", "", "#"},
      {"/", "", false, "", "", "/"},
      {"a//", "", false, "", "", "/"}};
  for (auto& c : cases) {
    std::string serial = "s", base = "b", sep = c.sep_in;
    EXPECT_EQ(device_id_serial(serial, base, sep, c.id), c.ok) << c.id;
    EXPECT_EQ(serial, c.serial) << c.id;
    EXPECT_EQ(base, c.base) << c.id;
    EXPECT_EQ(sep, c.sep_out) << c.id;
  }
}

TEST(AddressParsers, PathsPrefixesAndEscapes) {
  const std::pair<std::string, std::string> paths[] = {{"c:\\a\\.\\b\\..\\x", "c:/a/x"},
                                                       {"/a/./b/", "/a/b"},
                                                       {"a/b/c/../../d", "a/b/../d"},
                                                       {"../x", "../x"},
                                                       {"/a//b/", "/a//b/"},
                                                       {"a/..", ""}};
  for (const auto& [in, want] : paths) {
    std::string t = in;
    EXPECT_TRUE(normalize_path(t, false)) << in;
    EXPECT_EQ(t, want) << in;
  }
  std::string t;
  EXPECT_FALSE(normalize_path(t, false));
  setenv("VESK_TEXT_UTILS_DIR", "x/y", 1);
  t = "%VESK_TEXT_UTILS_DIR%\\.\\z";
  EXPECT_TRUE(normalize_path(t, true));
  EXPECT_EQ(t, "x/y/z");

  const std::string long_q = "\\\\?\\C:\\" + std::string(45, 'a');
  const std::string long_global = "\\\\?\\GLOBALROOT\\Device\\" + std::string(30, 'a');
  struct Case {
    std::string in;
    bool drive, global;
    std::string want;
  } cases[] = {{"\\\\?\\D:\\x", true, false, "\\\\?\\D:\\x"},
               {"\\\\?\\D:\\x", false, false, "\\D:\\x"},
               {"\\\\.\\PhysicalDrive0", true, true, "\\PhysicalDrive0"},
               {long_q, false, true, long_q},
               {long_q, false, false, long_q.substr(3)},
               {long_global, false, true, long_global.substr(3)},
               {"no prefix", true, true, "no prefix"}};
  for (const auto& c : cases) {
    std::string s = c.in;
    strip_device_prefix(s, c.drive, c.global);
    EXPECT_EQ(s, c.want) << c.in;
    std::wstring w(c.in.begin(), c.in.end());
    strip_device_prefix_w(w, c.drive, c.global);
    EXPECT_EQ(w, std::wstring(c.want.begin(), c.want.end())) << c.in;
  }
  // A prefix at the very end: the drive test must not look past the text.
  // Built from a pointer and a length, the strings hold exactly that much.
  const std::string tail_text = std::string(20, 'a') + "\\\\?\\";
  std::string tail(tail_text.data(), tail_text.size());
  strip_device_prefix(tail, true, true);
  EXPECT_EQ(tail, std::string(20, 'a') + "\\");
  const std::wstring wtail_text(tail_text.begin(), tail_text.end());
  std::wstring wtail(wtail_text.data(), wtail_text.size());
  strip_device_prefix_w(wtail, true, true);
  EXPECT_EQ(wtail, std::wstring(20, L'a') + L"\\");

  std::string e = "a.b*c";
  escape_chars(e, ".*");
  EXPECT_EQ(e, "a\\.b\\*c");
}

TEST(AddressParsers, GuidsFloatsPatternsAndDumps) {
  const uint8_t want[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                            0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  guid g;
  guid_from_any_text(g, "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_EQ(std::memcmp(g.m_bytes, want, 16), 0);
  g.clear();
  guid_from_any_text(g, "33221100554477668899aabbccddeeff");
  EXPECT_EQ(std::memcmp(g.m_bytes, want, 16), 0);
  g.clear();
  guid_from_any_text(g, "33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff");
  EXPECT_EQ(std::memcmp(g.m_bytes, want, 16), 0);
  guid_from_any_text(g, "too short");
  EXPECT_EQ(std::memcmp(g.m_bytes, want, 16), 0);

  struct F {
    std::string text;
    bool ok;
    double value;
    std::string rest;
  } floats[] = {{"0x1.8p1", true, 3.0, "1.8"},   {"-0x1.8", true, -1.5, "1.8"},
                {"0x1p-2", true, 0.25, "1"},     {"0x1g", false, 0, ""},
                {"0XA.4P0", true, 10.25, "a.4"}, {"1.8p1", false, 0, ""},
                {"0x1p1.5", false, 0, ""},       {"0x1.2.3", false, 0, ""},
                {"0x", false, 0, "0x"},          {"0x1p99999999999999999999", true, INFINITY, "1"}};
  for (auto& f : floats) {
    std::string t = f.text;
    double d = 9;
    EXPECT_EQ(parse_hex_float(t, d), f.ok) << f.text;
    EXPECT_EQ(d, f.value) << f.text;
    if (f.ok || f.text == "0x") {
      EXPECT_EQ(t, f.rest) << f.text;
    }
  }

  byte_array b = {1};
  EXPECT_TRUE(parse_hex_pattern("4d 5a ?? 00", b));
  EXPECT_EQ(b, (byte_array{1, 0x4d, 0x5a, 0xff, 0xff, 0}));
  b.clear();
  EXPECT_FALSE(parse_hex_pattern("4d5a", b));
  EXPECT_FALSE(parse_hex_pattern("7 -1", b));
  EXPECT_EQ(b, (byte_array{7}));

  // The library's own dumps read back whole: both halves of each line, a
  // short last line, blank characters at a line's end, and an address that
  // widens past 4 GiB.
  for (const auto& [count, base] : std::vector<std::pair<size_t, uint64_t>>{
           {32, 0}, {19, 0x10}, {8, 0}, {9, 0}, {1, 0}, {48, 0xFFFFFFF0}}) {
    byte_array data(count);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(i * 37 + 0x20);
    if (count == 32) std::fill(data.begin() + 8, data.begin() + 16, 0x20);
    std::string dump;
    hexdump_text(dump, data.data(), 0, count, base, true);
    b = {9};
    EXPECT_TRUE(parse_hex_dump_text(b, dump)) << dump;
    EXPECT_EQ(b, data) << dump;
  }
  EXPECT_TRUE(parse_hex_dump_text(b, "x:  41 42  AB\nx:  43 44  CD"));
  EXPECT_EQ(b, (byte_array{0x41, 0x42, 0x43, 0x44}));
  EXPECT_TRUE(parse_hex_dump_text(b, "0:  4A 4b  Jk"));
  EXPECT_EQ(b, (byte_array{0x4a, 0x4b}));
  // What cannot be read whole is refused, with nothing kept.
  for (const char* bad :
       {"0000:  41 zz 4  42  A.B\n0010:  43", "x:  41 42  AB\nx:  43  C\nx:  44 45  DE",
        "x:  41 42  AB\nx:  43 44 45  CDE", "x:  41 42  AB\nno gap here", "x:  4142  AB",
        "x:  41 4", "x:    A", "no double gap"}) {
    b = {9};
    EXPECT_FALSE(parse_hex_dump_text(b, bad)) << bad;
    EXPECT_TRUE(b.empty()) << bad;
  }
  EXPECT_FALSE(parse_hex_dump_text(b, ""));
}
