// Text encoders and converters: Base64 and quoted-printable forms, the
// duration text, GUID text reading, and hostile buffers through the
// splitters.
#include "cmdline/text_encoders.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string as_text(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

}  // namespace

TEST(TextEncoders, Base64AndQuotedPrintable) {
  std::vector<uint8_t> out;
  const struct {
    const char* in;
    bool wrap, zero, crlf;
    std::string want;
  } b64[] = {
      {"abc", false, false, false, "YWJj"},
      {"ab", false, false, false, "YWI="},
      {"a", false, false, true, "YQ==\r\n"},
      {"a", false, true, false, std::string("YQ==\0", 5)},
  };
  for (const auto& c : b64) {
    const std::string in = c.in;
    EXPECT_TRUE(vk::base64_encode(reinterpret_cast<const uint8_t*>(in.data()), in.size(), out,
                                  c.wrap, c.zero, c.crlf));
    EXPECT_EQ(as_text(out), c.want) << c.in;
  }
  const std::string long_in(60, 'x');
  vk::base64_encode(reinterpret_cast<const uint8_t*>(long_in.data()), long_in.size(), out, true,
                    false, true);
  EXPECT_EQ(as_text(out).find("\r\n"), 76u);
  EXPECT_FALSE(vk::base64_encode(nullptr, 3, out, false, false, false));

  std::string qp;
  vk::quoted_printable_encode(qp, std::string(200, 'a'));
  EXPECT_EQ(qp,
            std::string(75, 'a') + "=\r\n" + std::string(75, 'a') + "=\r\n" + std::string(50, 'a'));
  vk::quoted_printable_encode(qp, std::string(74, 'a') + "=b");
  EXPECT_EQ(qp, std::string(74, 'a') + "=\r\n=3Db");  // "=3D" never split
  std::string back;
  vk::quoted_printable_decode(back, qp);
  EXPECT_EQ(back, std::string(74, 'a') + "=b");
  vk::quoted_printable_decode(back, "=4");
  EXPECT_EQ(back, "=4");
}

TEST(TextEncoders, DurationsNamesAndGuidTexts) {
  std::string text;
  const struct {
    uint32_t seconds;
    const char* want;
  } durations[] = {{120, "2 mins"},
                   {90061, "1 day 1 hour 1 min 1 sec"},
                   {0, ""},
                   {0xFFFFFFFF, ""},
                   {172800 + 7200, "2 days 2 hours"}};
  for (const auto& c : durations) {
    vk::duration_text(text, c.seconds);
    EXPECT_EQ(text, c.want) << c.seconds;
  }
  vk::windows_release_name(text, 2195);
  EXPECT_EQ(text, "post Win10");
  vk::windows_release_name(text, 19045);
  EXPECT_EQ(text, "Win10");

  std::vector<uint8_t> g;
  const std::string guid_text = "00112233-4455-6677-8899-aabbccddeeff";
  const std::vector<uint8_t> stored = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  ASSERT_TRUE(vk::parse_guid_text(guid_text, g));
  EXPECT_EQ(g, stored);
  EXPECT_FALSE(vk::parse_guid_text(guid_text.substr(0, 35), g));
  EXPECT_FALSE(vk::parse_guid_text(guid_text.substr(0, 22), g));
  EXPECT_FALSE(vk::parse_guid_text("0011223z-4455-6677-8899-aabbccddeeff", g));
  vk::guid h;
  vk::parse_guid_hex32(h, "00112233445566778899aabbccddeeff");
  EXPECT_EQ(std::vector<uint8_t>(h.m_bytes, h.m_bytes + 16), stored);

  std::string path;
  EXPECT_TRUE(
      vk::normalize_windows_path("\\??\\C:\\Windows\\Foo.SYS -k netsvcs", path, "c:\\windows"));
  EXPECT_EQ(path, "c:\\windows\\foo.sys");
  EXPECT_TRUE(vk::normalize_windows_path("System32\\drivers\\x.sys", path, "c:\\windows"));
  EXPECT_EQ(path, "c:\\windows\\system32\\drivers\\x.sys");
  EXPECT_TRUE(vk::normalize_windows_path("%SystemRoot%\\a.exe /s", path, "c:\\win"));
  EXPECT_EQ(path, "c:\\win\\a.exe");
}

TEST(TextEncoders, SplittersOnHostileBuffers) {
  std::vector<std::string> out;
  const uint8_t pieces[] = {'a', ';', 0, 'b', ';', 0, ';'};
  EXPECT_EQ(vk::split_at_u16(pieces, sizeof(pieces), 0x003B, out, false), sizeof(pieces));
  EXPECT_EQ(out, (std::vector<std::string>{"a", "b", ";"}));
  const uint8_t nul_text[] = {'a', 0, 'b', 'c', 0, 0, 'd'};
  vk::split_nul_strings(nul_text, out, sizeof(nul_text));
  EXPECT_EQ(out, (std::vector<std::string>{"a", "bc", "", "d"}));
  const uint8_t wide[] = {'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0};
  std::vector<std::wstring> wout;
  vk::split_nul_wstrings(wide, wout, sizeof(wide), false);
  EXPECT_EQ(wout, (std::vector<std::wstring>{L"a", L"b"}));
  vk::split_nul_wstrings(wide, wout, sizeof(wide), true);
  EXPECT_EQ(wout, (std::vector<std::wstring>{L"a"}));
  const std::string tags = "<a> one </a><b>two<c>";
  EXPECT_TRUE(
      vk::text_outside_tags(reinterpret_cast<const uint8_t*>(tags.data()), tags.size(), out));
  EXPECT_EQ(out, (std::vector<std::string>{"one", "two"}));

  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> buf(rng() % 48);
    for (auto& b : buf) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
    const std::string text(buf.begin(), buf.end());
    vk::split_at_u16(buf.data(), buf.size(), static_cast<uint16_t>(rng()), out, true);
    vk::split_nul_strings(buf.data(), out, static_cast<int64_t>(buf.size()));
    vk::split_nul_wstrings(buf.data(), wout, static_cast<int64_t>(buf.size()), rng() % 2 == 0);
    vk::text_outside_tags(buf.data(), buf.size(), out);
    std::string s;
    vk::quoted_printable_decode(s, text);
    vk::quoted_printable_encode(s, text);
    std::vector<uint8_t> bytes;
    vk::parse_guid_text(text, bytes);
    vk::hex_pairs_to_bytes(text, bytes);
    vk::hex_text_to_bytes(bytes, text);
    vk::base64_encode(buf.data(), buf.size(), bytes, true, true, true);
    std::vector<uint16_t> units(buf.size() / 2);
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<uint16_t>(buf[2 * i] | buf[2 * i + 1] << 8);
    std::wstring w;
    vk::wide_from_utf16_lower(w, units.data(), units.size());
    EXPECT_LE(w.size(), units.size());
    vk::normalize_windows_path(text.c_str(), s, "c:\\w");
    std::wstring ws(text.begin(), text.end());
    vk::show_line_ends_w(ws);
    uint8_t fixed[4];
    vk::wide_hex_to_bytes(ws, fixed, 4);
  }
}
