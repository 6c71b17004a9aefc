// Template, JSON-array, name=value, byte-pattern, range-list, string-list
// and parenthesis readers against worked examples.
#include "cmdline/text_utils/small_parsers.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

using strings = std::vector<std::string>;

TEST(SmallParsers, PercentTemplates) {
  struct row {
    std::string text;
    strings pieces;
    std::map<int32_t, uint32_t> numbers;
    std::map<char, uint32_t> characters;
  };
  const row rows[] = {
      {"%1:%s", {"", "%1", ":", "%s"}, {{1, 1}}, {{'s', 3}}},
      {"a%1%2b", {"a", "%1", "", "%2", "b"}, {{1, 1}, {2, 3}}, {}},
      {"%10x%0", {"", "%10", "x", "%0"}, {{10, 1}}, {{'0', 3}}},
      {"%%%1%1", {"", "%%", "", "%1", "", "%1"}, {{1, 3}}, {{'%', 1}}},
      {"ab%", {"ab"}, {}, {}},
      {"plain", {"plain"}, {}, {}},
  };
  for (const row& r : rows) {
    strings pieces;
    std::map<int32_t, uint32_t> numbers;
    std::map<char, uint32_t> characters{{'z', 9}};
    EXPECT_TRUE(split_percent_template(pieces, numbers, characters, r.text)) << r.text;
    EXPECT_EQ(pieces, r.pieces) << r.text;
    EXPECT_EQ(numbers, r.numbers) << r.text;
    EXPECT_EQ(characters, r.characters) << r.text;
  }
  strings pieces{"old"};
  std::map<int32_t, uint32_t> numbers;
  std::map<char, uint32_t> characters;
  EXPECT_FALSE(split_percent_template(pieces, numbers, characters, ""));
  EXPECT_TRUE(pieces.empty());
}

TEST(SmallParsers, JsonArraysAndNameValueLines) {
  const std::string json = R"({"Items": [ {"a":1} ], "other": [ {"b":2} ], "flat": [1,2]})";
  strings out;
  EXPECT_TRUE(extract_json_arrays(out, {"items", "", "flat", "OTHER"}, json));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], R"(Items": [ {"a":1})");  // the text as given, one quote trimmed
  EXPECT_EQ(out[1], "");
  EXPECT_EQ(out[2], "");  // no '}' right before its ']'
  EXPECT_EQ(out[3], R"(other": [ {"b":2})");
  // A key too far from its colon is passed over for a later one.
  EXPECT_TRUE(extract_json_arrays(out, {"k"}, R"("k"   : [{}] "k":[{}])"));
  EXPECT_EQ(out[0], R"(k":[{})");
  EXPECT_FALSE(extract_json_arrays(out, {"k"}, R"("k":[{})"));
  EXPECT_EQ(out, strings{""});

  const std::string text = "a=1\r\nb=2=3\nc\n a=9 \n=e\n";
  std::map<std::string, std::string> map;
  EXPECT_TRUE(parse_name_value_lines(map, std::vector<uint8_t>(text.begin(), text.end())));
  EXPECT_EQ(map, (std::map<std::string, std::string>{{"a", "1"}, {"b", "2=3"}, {"", "e"}}));
  const std::string none = "x\ny\n";
  EXPECT_FALSE(parse_name_value_lines(map, std::vector<uint8_t>(none.begin(), none.end())));
  EXPECT_TRUE(map.empty());
}

TEST(SmallParsers, BytePatterns) {
  using pattern = std::vector<uint16_t>;
  const std::pair<std::string, pattern> good[] = {
      {"4D 5A ?? *10 00 ??", {0x4D, 0x5A, 0xFFFF, 0xFFFE, 0x10, 0x00}},
      {"4D *05 ??", {0x4D}},
      {"4d\t*  ff ?? *0 *ff", {0x4D, 0xFFFE, 0, 0xFF}},
      {"aB Cd *", {0xAB, 0xCD}},
  };
  for (const auto& [text, want] : good) {
    pattern out{1, 2};
    EXPECT_TRUE(parse_byte_pattern(text, out)) << text;
    EXPECT_EQ(out, want) << text;
  }
  for (const char* text : {"4D *05 ?? 00", "4D *05 *01 00", "??", "*05", "", "  ", "4D 5", "4D 123",
                           "4D *123 00", "?? ??",
                           // Every token is hexadecimal through and through.
                           "GG 41", "41 4Z", "41 zz", "41 *G 42", "41 *1x 42", "-1 41"}) {
    pattern out;
    EXPECT_FALSE(parse_byte_pattern(text, out)) << text;
    EXPECT_TRUE(out.empty()) << text;
  }
}

TEST(SmallParsers, RangesStringListsAndParentheses) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  EXPECT_TRUE(parse_range_list(ranges, "1-3, 7, 0x10,, ,20-", ',', '-'));
  EXPECT_EQ(ranges,
            (std::vector<std::pair<uint64_t, uint64_t>>{{1, 3}, {7, 7}, {16, 16}, {20, 0}}));
  EXPECT_FALSE(parse_range_list(ranges, "", ',', '-'));
  EXPECT_TRUE(ranges.empty());

  strings texts;
  EXPECT_TRUE(split_nul_strings({'a', 0, 0, 'b', 'c', 0}, texts));
  EXPECT_EQ(texts, (strings{"a", "bc"}));
  EXPECT_FALSE(split_nul_strings({}, texts));

  std::vector<std::wstring> wide{L"old"};
  const uint16_t units[] = {'a', 0, 'b', 0, 0x1234};
  EXPECT_EQ(split_utf16_multi_string(units, wide, 9), 8u);
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"a", L"b"}));
  const uint16_t pair[] = {0xD83D, 0xDE00, 0, 0, 'x'};
  EXPECT_EQ(split_utf16_multi_string(pair, wide, 10), 10u);
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"\U0001F600", L"x"}));
  // A lone surrogate does not decode: the runs are then taken unit by unit.
  const uint16_t lone[] = {0xD800, 0, 0xD801, 'y'};
  EXPECT_EQ(split_utf16_multi_string(lone, wide, 8), 8u);
  EXPECT_EQ(wide, (std::vector<std::wstring>{std::wstring(1, wchar_t{0xD800}),
                                             std::wstring{wchar_t{0xD801}, L'y'}}));
  EXPECT_EQ(split_utf16_multi_string(nullptr, wide, 6), 0u);
  EXPECT_EQ(split_utf16_multi_string(units, wide, 1), 0u);
  EXPECT_TRUE(wide.empty());

  const std::tuple<std::string, bool, std::string> rows[] = {
      {"a(b(c)d)e", true, "ad)e"}, {"x (1) y (2)", true, "x  y "},
      {"a(b", false, "a(b"},       {"a)b(", false, "a)b("},
      {"none", false, ""},         {"", false, ""},
  };
  for (const auto& [in, result, want] : rows) {
    std::string out = "junk";
    EXPECT_EQ(remove_parenthesised(in, out), result) << in;
    EXPECT_EQ(out, want) << in;
  }
}

}  // namespace
}  // namespace vk
