// 8-bit texts read as Windows-1252 and given as UTF-8: ASCII as it is, the
// 0x80-0x9F block through its table (the five undefined bytes as C1
// controls), the rest as Latin-1; the count stays a count of bytes read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/parse_ctx.h"

namespace vk {
namespace {

TEST(AnsiText, WindowsCodePageToUtf8) {
  const struct {
    std::vector<uint8_t> bytes;
    int64_t taken;
    std::string text;
  } rows[] = {
      {{'a', 'b', 0, 'c'}, 3, "ab"},
      {{'s', 0xD7, '4', 0},
       4,
       "s\xC3\x97"
       "4"},                                                        // multiplication sign
      {{0x80, 0x99, 0x9F}, 3, "\xE2\x82\xAC\xE2\x84\xA2\xC5\xB8"},  // euro, trade mark, Y diaeresis
      {{0x81, 0x8D, 0x8F, 0x90, 0x9D}, 5, "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
      {{0xA0, 0xE9, 0xFF, 0}, 4, "\xC2\xA0\xC3\xA9\xC3\xBF"},
      {{0x96, 0x97, 0x8A}, 3, "\xE2\x80\x93\xE2\x80\x94\xC5\xA0"},  // dashes, S caron
  };
  for (const auto& r : rows) {
    std::string out = "stale";
    EXPECT_EQ(read_ansi(byte_view(r.bytes.data(), r.bytes.size()), 0,
                        static_cast<int64_t>(r.bytes.size()), out),
              r.taken);
    EXPECT_EQ(out, r.text);
  }
  // Long ASCII runs before and behind a wider character or the NUL, at
  // every place.
  for (size_t at = 0; at <= 20; ++at) {
    std::vector<uint8_t> bytes(at, 'a');
    bytes.push_back(0xE9);
    bytes.insert(bytes.end(), 20 - at, 'b');
    std::string out;
    ASSERT_EQ(read_ansi(byte_view(bytes.data(), bytes.size()), 0, 21, out), 21);
    EXPECT_EQ(out, std::string(at, 'a') + "\xC3\xA9" + std::string(20 - at, 'b'));
    bytes.back() = 0xE9;
    bytes[at] = 0;
    ASSERT_EQ(read_ansi(byte_view(bytes.data(), bytes.size()), 0, 21, out),
              static_cast<int64_t>(at + 1));
    EXPECT_EQ(out, std::string(at, 'a'));
  }
  // Every byte gives one character: 128 ASCII ones of one byte, 128 others
  // of two or three.
  std::vector<uint8_t> all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
  std::string out;
  ASSERT_EQ(read_ansi(byte_view(all.data(), all.size()), 0, 255, out), 255);
  size_t characters = 0;
  for (unsigned char c : out) characters += (c & 0xC0) != 0x80;
  EXPECT_EQ(characters, 255u);
}

}  // namespace
}  // namespace vk
