// A buffer written as hexadecimal bytes or as the strings found in it,
// under both names of the routine.
#include "cmdline/text_utils/write_buffer_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(WriteBufferText, HexBytesAndStringRuns) {
  const uint8_t two[] = {0x00, 0xAB};
  std::ostringstream os;
  EXPECT_TRUE(vk::render_bytes_text(os, two, 2, false, 5, "; "));
  EXPECT_EQ(os.str(), "00 ab");
  os << 10;  // the stream is left in hexadecimal
  EXPECT_EQ(os.str(), "00 aba");

  const struct {
    std::vector<uint8_t> bytes;
    uint32_t min;
    bool ok;
    std::string text;
  } cases[] = {
      {{}, 1, false, ""},
      {{'a', 'b'}, 3, false, ""},  // shorter than the minimum
      {{1, 2, 3, 4, 5, 6}, 2, false, ""},
      {{'h', 'e', 'l', 'l', 'o', 0, 'x'}, 5, true, "hello"},
      {{'w', 0, 'i', 0, 'd', 0, 'e', 0, 1}, 4, true, "wide"},
      // "abcd" at 0, UTF-16 "xyzw" at 5, "long" ASCII at 14: offset order.
      {{'a', 'b', 'c', 'd', 1, 'x', 0, 'y', 0, 'z', 0, 'w', 0, 1, 'l', 'o', 'n', 'g'},
       4,
       true,
       "abcd; xyzw; long"},
  };
  for (const auto& c : cases) {
    std::ostringstream text;
    EXPECT_EQ(vk::write_buffer_text(text, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()),
                                    true, c.min, "; "),
              c.ok)
        << c.text;
    EXPECT_EQ(text.str(), c.text);
  }
  EXPECT_FALSE(vk::write_buffer_text(os, nullptr, 4, false, 0, ""));
  EXPECT_FALSE(vk::write_buffer_text(os, two, 0, false, 0, ""));
}

}  // namespace
