// The hex view: the exact dump lines and their column rules, the address
// groups of wide bases, the size limit of the stream front ends, the byte
// list and run summary, the owned and borrowed views, file ranges and the
// UTF-16 form.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_hex_view.h"
#include "temp_tree.h"

namespace {

std::vector<uint8_t> nineteen() {
  std::vector<uint8_t> b;
  for (int i = 0x41; i <= 0x50; ++i) b.push_back(static_cast<uint8_t>(i));
  b.insert(b.end(), {0x00, 0x41, 0x7F});
  return b;
}

// Blanks between the last hexadecimal digit and the character column.
size_t gap(const std::string& line, size_t chars) {
  const size_t text_at = line.size() - chars;
  return text_at - line.find_last_not_of(' ', text_at - 1) - 1;
}

}  // namespace

TEST(HexView, DumpLinesColumnsAndAddresses) {
  const std::vector<uint8_t> b = nineteen();
  const std::string expected =
      "0000 0010:  41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP\n"
      "0000 0020:  00 41 7f                                          .A.\n";
  std::string text;
  vk::hexdump_to_string(b.data(), static_cast<uint32_t>(b.size()), text, 0, 0x10);
  EXPECT_EQ(text, expected);
  std::ostringstream direct;
  vk::hexdump_buffer_to_stream(b.data(), static_cast<uint32_t>(b.size()), direct, 0, 0x10, true);
  EXPECT_EQ(direct.str(), expected);
  // The caller's end past the view is clipped.
  const vk::binary_data view = vk::binary_data_from_vector(b, false);
  vk::hexdump_text(text, view, 0, 0xFFFFFFFF, 0x10, true, nullptr, 0);
  EXPECT_EQ(text, expected);
  std::ostringstream one;
  vk::hexdump_line(one, view, 16, 0xFFFF, 0x20, true);
  EXPECT_EQ(one.str() + "\n", expected.substr(expected.find('\n') + 1));

  struct gap_case {
    uint32_t count;
    size_t blanks;
  };
  for (const gap_case c : {gap_case{16, 2}, gap_case{8, 27}, gap_case{9, 23}, gap_case{1, 48}}) {
    std::ostringstream os;
    vk::hexdump_line(os, view, 0, c.count, 0, true);
    EXPECT_EQ(gap(os.str(), c.count), c.blanks) << c.count;
    EXPECT_EQ(os.str().size(), 62u + c.count) << c.count;  // the character column never moves
  }
  const std::vector<uint8_t> edges = {0x20, 0x1F, 0x7F, 0x7E};
  vk::hexdump_to_string(edges.data(), 4, text, 0, 0);
  EXPECT_EQ(text.substr(text.size() - 5), " ..~\n");

  struct base_case {
    uint64_t base;
    const char* head;
  };
  for (const base_case c : {base_case{1ull << 32, "1 0000 0000:  41 "},
                            base_case{0xABCDull << 32, "abcd 0000 0000:  41 "},
                            base_case{1ull << 48, "0001 0000 0000 0000:  41 "},
                            base_case{0x1200000020ull, "12 0000 0020:  41 "}}) {
    vk::hexdump_to_string(b.data(), 1, text, 0, c.base);
    EXPECT_EQ(text.substr(0, std::string(c.head).size()), c.head);
  }
  // The stream form writes the upper group with 4 digits.
  std::ostringstream wide;
  vk::hexdump_buffer_to_stream(b.data(), 1, wide, 0, 1ull << 32, true);
  EXPECT_EQ(wide.str().substr(0, 17), "0001 0000 0000:  ");
}

TEST(HexView, SizeLimitByteListsAndRuns) {
  std::vector<uint8_t> big(0x1000001, 0x41);
  std::ostringstream os;
  vk::hexdump_to_stream(big.data(), 0x1000000, os, 0, 0);
  const std::string dump = os.str();
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 0x100000);
  // The refusal leaves the caller's stream as it found it: what comes next
  // is written in the caller's base, fill and width.
  for (const auto& refuse : std::vector<std::function<void(std::ostream&)>>{
           [&](std::ostream& o) { vk::hexdump_to_stream(big.data(), 0x1000001, o, 0, 0); },
           [&](std::ostream& o) { vk::hexdump_limited_to(o, big.data(), 0x1000001, 0); }}) {
    std::ostringstream refused;
    refused << std::oct << 8 << ' ';
    refuse(refused);
    refused << 255 << ' ' << std::dec << std::showbase << std::hex << 255;
    EXPECT_EQ(refused.str(), "10 size to big to output: size 0x1000001\n377 0xff");
  }
  std::ostringstream debug;
  vk::hexdump_limited(vk::parse_debug{&debug, false}, big.data(), 16, 0);
  EXPECT_EQ(debug.str(), "");
  vk::hexdump_limited(vk::parse_debug{&debug, true}, big.data(), 16, 0);
  EXPECT_EQ(debug.str().substr(0, 12), "0000 0000:  ");
  EXPECT_EQ(debug.str().back(), '\n');

  const vk::binary_data view = vk::binary_data_from_vector(std::vector<uint8_t>(16, 0xAB), true);
  std::ostringstream bytes;
  vk::dump_hex_bytes(bytes, view, 0, 16);
  EXPECT_EQ(bytes.str(), std::string() + "ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab \n\n");

  const std::vector<uint8_t> zeros(32, 0);
  struct run_case {
    std::vector<uint8_t> bytes;
    uint32_t start;
    std::string text;
  };
  std::vector<uint8_t> mixed(20, 7);
  mixed[0] = 1;
  const run_case runs[] = {
      {zeros, 0, "0x000000 : value 0x00 : 0x20 bytes\n"},
      {mixed, 1, "0x000000 : value 0x07 : 0x13 bytes\n"},
      {mixed, 0, "0000 0000:  01 07"},  // not one run: the dump
      {zeros, 32, ""},
      {zeros, 0xFFFFFFFF, ""},
      {{}, 0, ""},
  };
  for (const auto& r : runs) {
    std::ostringstream out;
    vk::hexdump_vector_or_run(r.bytes, out, r.start, 0);
    EXPECT_EQ(out.str().substr(0, r.text.size()), r.text) << r.start;
    if (r.text.empty()) {
      EXPECT_EQ(out.str(), "");
    }
  }
}

TEST(HexView, OwnedAndBorrowedViewsFilesAndForms) {
  const std::vector<uint8_t> b = nineteen();
  vk::binary_data borrowed = vk::binary_data_from_vector(b, false);
  EXPECT_FALSE(borrowed.clear());
  EXPECT_FALSE(borrowed.append_byte(1));
  EXPECT_FALSE(borrowed.erase_range(0, 1));
  EXPECT_EQ(borrowed.m_num_data, 19u);
  EXPECT_EQ(borrowed(18), 0x7F);

  vk::binary_data owned = vk::binary_data_filled(4, 0x61);
  ASSERT_TRUE(owned.append_byte(0x62));
  const uint8_t more[] = {0x63, 0x64};
  ASSERT_TRUE(owned.append_bytes(more, 2));
  EXPECT_FALSE(owned.append_bytes(nullptr, 2));
  ASSERT_TRUE(owned.erase_range(1, 2));
  EXPECT_FALSE(owned.erase_range(5, 1));
  ASSERT_TRUE(owned.erase_range(4, 100));
  EXPECT_EQ(std::string(owned.m_bytes.begin(), owned.m_bytes.end()), "aabc");
  vk::binary_data copy = owned;  // a copy reads its own bytes
  owned.clear();
  EXPECT_EQ(copy(3), 'c');
  owned.m_mode = 0;
  std::ostringstream raw;
  vk::write_binary_data(raw, copy);  // mode_hex: the byte list
  EXPECT_EQ(raw.str(), "61 61 62 63 \n");

  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("f", "0123456789");
  vk::binary_data loaded = vk::binary_data_zeroed(0);
  ASSERT_TRUE(loaded.load_file_range(tree.path("f"), 6, 100));
  EXPECT_EQ(std::string(loaded.m_bytes.begin(), loaded.m_bytes.end()), "6789");
  EXPECT_FALSE(loaded.load_file_range(tree.path("f"), 10, 1));
  EXPECT_FALSE(loaded.load_file_range(tree.path("missing"), 0, 1));
  EXPECT_FALSE(borrowed.load_file_range(tree.path("f"), 0, 1));
  loaded.m_mode = 0;
  ASSERT_TRUE(vk::write_binary_data_file(loaded, tree.path("out")));
  vk::binary_data back = vk::binary_data_zeroed(0);
  ASSERT_TRUE(back.load_file_range(tree.path("out"), 0, 100));
  EXPECT_EQ(back.m_bytes, loaded.m_bytes);

  std::ostringstream utf16;
  vk::hexdump_utf16_to_stream(b.data(), 19, utf16, 0, 0x10);
  const std::string u = utf16.str();
  ASSERT_GE(u.size(), 8u);
  EXPECT_EQ(u.substr(u.size() - 4), std::string("\r\0\n\0", 4));
  EXPECT_EQ(u.substr(0, 4), std::string("0\0000\0", 4));

  // Text lines: 48 bytes a line, grouped by 4 and 16.
  std::vector<uint8_t> letters(50, 'x');
  const vk::binary_data lv = vk::binary_data_from_vector(letters, false);
  std::ostringstream lines;
  vk::dump_text_lines(lines, lv, 0, 50, 0x100000000ull, true);
  EXPECT_EQ(lines.str(),
            "0001 0000 0000:  xxxx xxxx xxxx xxxx   xxxx xxxx xxxx xxxx   xxxx xxxx xxxx xxxx\n"
            "0001 0000 0030:  xx\n");
  struct range_case {
    uint32_t mode, start, count;
    std::string text;
  };
  const range_case ranges[] = {
      {0x2, 1, 2, "42 43 \n"}, {0x6, 0, 1, "0000 0005:  41 "}, {0x8, 0, 3, "ABC"}, {0x0, 0, 3, ""},
      {0x2, 19, 1, ""},
  };
  for (const auto& r : ranges) {
    borrowed.m_mode = r.mode;
    std::ostringstream out;
    vk::write_binary_data_range(borrowed, out, r.start, r.count, 5);
    EXPECT_EQ(out.str().substr(0, r.text.size()), r.text) << r.mode;
    if (r.text.empty()) {
      EXPECT_EQ(out.str(), "");
    }
  }
}
