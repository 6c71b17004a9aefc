// Option look-ups with several values or a counted list, column widths,
// joining under a flag word, and the buffer scanners and text searches.
#include "cmdline/option_lookups.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdline/buffer_text_search.h"

namespace {

using strings = std::vector<std::string>;

TEST(OptionLookups, ValuesListsAndSpellings) {
  std::string a, b, c, d;
  {
    char p[] = "p", x[] = "-X", v1[] = "a", v2[] = "b", v3[] = "c";
    char* argv[] = {p, x, v1, v2, v3};
    int argc = 5;
    EXPECT_TRUE(vk::take_option_values2("-x", a, b, argc, argv));
    EXPECT_EQ(a + b, "ab");
    ASSERT_EQ(argc, 2);
    EXPECT_STREQ(argv[0], "p");
    EXPECT_STREQ(argv[1], "c");
  }
  {
    char p[] = "p", x[] = "-x", v1[] = "a";
    char* argv[] = {p, x, v1};
    int argc = 3;
    EXPECT_FALSE(vk::take_option_values2("-x", a, b, argc, argv));
    EXPECT_EQ(argc, 3);
    EXPECT_FALSE(vk::take_option_values2("p", a, b, argc, argv));  // index 0 is the program
  }
  {
    char p[] = "p", x[] = "-q", v1[] = "1", v2[] = "2", v3[] = "3";
    char* argv[] = {p, x, v1, v2, v3};
    int argc = 5;
    EXPECT_FALSE(vk::take_option_values4("-q", a, b, c, d, argc, argv));
    EXPECT_TRUE(vk::take_option_values3("-Q", a, b, c, argc, argv));
    EXPECT_EQ(a + b + c, "123");
    EXPECT_EQ(argc, 1);
  }
  strings args = {"p", "-x", "a", "b", "c"};
  EXPECT_TRUE(vk::take_option_values2_v("-X", a, b, args));
  EXPECT_EQ(args, (strings{"p", "c"}));
  args = {"p", "-x", "a", "b"};
  EXPECT_FALSE(vk::take_option_values3_v("-x", a, b, c, args));
  EXPECT_EQ(args.size(), 4u);

  strings list = {"stale"};
  args = {"p", "-l", "2", "a", "b", "r"};
  EXPECT_TRUE(vk::take_option_list("-l", list, args));
  EXPECT_EQ(list, (strings{"a", "b"}));
  EXPECT_EQ(args, (strings{"p", "r"}));
  for (const char* count : {"4", "-1", "-2147483648", "abc"}) {
    args = {"p", "-l", count, "a", "b", "r"};
    EXPECT_FALSE(vk::take_option_list("-l", list, args)) << count;
    EXPECT_EQ(args.size(), 6u) << count;
  }
  args = {"p", "-l", "0"};
  EXPECT_TRUE(vk::take_option_list("-l", list, args));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(args, (strings{"p"}));

  args = {"p", "-Csv", "x"};
  EXPECT_TRUE(vk::take_option_spelling("-csv", a, args));
  EXPECT_EQ(a, "-Csv");
  EXPECT_EQ(args, (strings{"p", "x"}));
  args = {"p", "-verbose", "-csv"};
  // 'VERB' 'OSE\0' read from the most significant byte.
  EXPECT_TRUE(vk::take_letter_option(args, 0x56455242, 0x4F534500, true));
  EXPECT_EQ(args.size(), 3u);
  EXPECT_TRUE(vk::take_letter_option(args, 0x43535600, 0, false));
  EXPECT_EQ(args, (strings{"p", "-verbose"}));
  EXPECT_FALSE(vk::take_letter_option(args, 0, 0, false));
}

TEST(OptionLookups, WidthsAndJoinedWords) {
  std::vector<uint32_t> widths;
  EXPECT_TRUE(vk::column_widths(widths, {{"a"}, {"bb", "c", "ddd"}, {"eee", "ffff"}}));
  EXPECT_EQ(widths, (std::vector<uint32_t>{3, 4, 3}));
  EXPECT_FALSE(vk::column_widths(widths, {}));
  EXPECT_TRUE(vk::update_column_widths(widths, {"abcdef", "x"}, 4));
  EXPECT_EQ(widths, (std::vector<uint32_t>{4, 1}));
  EXPECT_FALSE(vk::update_column_widths(widths, {}, 4));

  std::string out;
  EXPECT_TRUE(vk::join_with_flags(out, 3 | 1u << 24 | 1u << 27, {"a", "b", "c"}));
  EXPECT_EQ(out, "A.B.C");
  EXPECT_TRUE(vk::join_with_flags(out, 2 | 1u << 28 | 1u << 29, {"ab", "cd"}));
  EXPECT_EQ(out, "Ab_Cd");
  EXPECT_TRUE(vk::join_with_flags(out, 2 | 1u << 30 | 1u << 21, {"ab", "cd"}));
  EXPECT_EQ(out, "Ab|cd");
  EXPECT_FALSE(vk::join_with_flags(out, 3, {"a", "b"}));  // more than the items
  EXPECT_FALSE(vk::join_with_flags(out, 0, {"a"}));
  const std::string w1 = "x", w2 = "y";
  const void* items[] = {&w1, &w2, nullptr};
  EXPECT_TRUE(vk::join_with_flags_cb(
      out, 1u << 23 | 1u << 25, [](const void* h) { return *static_cast<const std::string*>(h); },
      items));
  EXPECT_EQ(out, "x/y");
}

TEST(BufferTextSearch, StringsOffsetsAndSearches) {
  const uint8_t ascii[] = {'a', 'b', 0, 't', 'e', 'x', 't', '-', 's', 'a', 'm', 'p', 'l', 'e'};
  strings list;
  std::vector<uint64_t> at;
  EXPECT_TRUE(vk::collect_ascii_strings_at(ascii, sizeof(ascii), 4, list, at, 1000, false, false));
  EXPECT_EQ(list, (strings{"text-sample"}));
  EXPECT_EQ(at, (std::vector<uint64_t>{1003}));
  EXPECT_FALSE(vk::collect_ascii_strings_at(ascii, 2, 4, list, at, 0, true, false));
  EXPECT_EQ(list.size(), 1u);  // appended nothing, kept the rest
  EXPECT_FALSE(vk::collect_ascii_strings_at(nullptr, 4, 4, list, at, 0, false, false));
  EXPECT_TRUE(list.empty());

  // One odd byte, then " Name" in UTF-16: the blank is skipped.
  const uint8_t wide[] = {0xFF, ' ', 0, 'N', 0, 'a', 0, 'm', 0, 'E', 0, 1, 1};
  EXPECT_TRUE(vk::collect_utf16_strings_at(wide, sizeof(wide), 3, list, at, 16, false, false));
  EXPECT_EQ(list, (strings{"NamE"}));
  EXPECT_EQ(at, (std::vector<uint64_t>{19}));

  std::vector<uint32_t> found;
  EXPECT_TRUE(vk::find_text_in_utf16("AME", wide, sizeof(wide), found, 100, false));
  EXPECT_EQ(found, (std::vector<uint32_t>{105}));
  const uint8_t repeated[] = {0, 'a', 'B', 'a', 'b', 'A', 0};
  EXPECT_TRUE(vk::find_text_in_ascii("ab", repeated, sizeof(repeated), found, 10, false));
  EXPECT_EQ(found, (std::vector<uint32_t>{11, 13}));
  EXPECT_FALSE(vk::find_text_in_ascii("", repeated, sizeof(repeated), found, 0, false));
  EXPECT_FALSE(vk::find_text_in_utf16("", wide, sizeof(wide), found, 0, false));
  EXPECT_TRUE(found.empty());

  const std::string xml = "<a><name id=\"1\">value</name></a>";
  std::string out;
  EXPECT_TRUE(vk::text_between_tags(xml.data(), xml.size(), "name", out));
  EXPECT_EQ(out, "value");
  EXPECT_FALSE(vk::text_between_tags(xml.data(), 20, "name", out));

  const std::string lines = "Key: 1\r\nother\r\nkey: 2\nx\r\nKEY: 3";
  const auto* bytes = reinterpret_cast<const uint8_t*>(lines.data());
  EXPECT_TRUE(vk::lines_with_prefix(bytes, lines.size(), "key:", list, true));
  EXPECT_EQ(list, (strings{"Key: 1", "key: 2\nx", "KEY: 3"}));
  EXPECT_TRUE(vk::lines_with_prefix(bytes, lines.size(), "KEY:", list, false));
  EXPECT_EQ(list, (strings{"Key: 1"}));

  EXPECT_TRUE(vk::value_after_key(out, "a=1; B=2; c=3", "b=", ";", true));
  EXPECT_EQ(out, "2");
  EXPECT_FALSE(vk::value_after_key(out, "a=1; B=2", "b=", ";", false));
  EXPECT_FALSE(vk::value_after_key(out, "a=1", "", ";", false));
  EXPECT_TRUE(out.empty());

  const char* text = "Hello World";
  EXPECT_EQ(vk::find_ignore_case(text, "WORLD"), text + 6);
  EXPECT_EQ(vk::find_ignore_case(text, "worlds"), nullptr);
  char buffer[] = "one TWO three two";
  EXPECT_TRUE(vk::erase_first_in_buffer(buffer, "two ", true));
  EXPECT_STREQ(buffer, "one three two");
  EXPECT_FALSE(vk::erase_first_in_buffer(buffer, "TWO", false));
  EXPECT_FALSE(vk::erase_first_in_buffer(buffer, "", false));
  EXPECT_STREQ(buffer, "one three two");
}

}  // namespace
