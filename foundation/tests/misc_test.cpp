#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "foundation/vk_misc.h"

using namespace vk;

namespace {
std::vector<uint8_t> b64(const char* s, int32_t n = -1) {
  std::vector<uint8_t> out = {0xEE};
  if (n < 0) n = static_cast<int32_t>(std::strlen(s));
  EXPECT_TRUE(base64_decode(reinterpret_cast<const uint8_t*>(s), n, out));
  return out;
}
std::vector<uint8_t> bytes(const char* s) {
  return {s, s + std::strlen(s)};
}
}  // namespace

TEST(MiscRandom, RangesAndSwappedBounds) {
  for (int i = 0; i < 50; ++i) EXPECT_EQ(random_in_range(7, 7), 7);
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    int v = random_in_range(200, 10);
    EXPECT_GE(v, 10);
    EXPECT_LE(v, 200);
    seen.insert(random_in_range(0, 255));
  }
  EXPECT_GT(seen.size(), 200u);  // the full byte range is reachable
  std::set<uint32_t> words;
  for (int i = 0; i < 20; ++i) words.insert(random_u32());
  EXPECT_GT(words.size(), 1u);
}

TEST(MiscPath, BaseAndExtension) {
  std::string d, b, e;
  EXPECT_TRUE(split_path_base_ext("/a/b/file.tar.gz", d, b, e));
  EXPECT_EQ(d, "/a/b");
  EXPECT_EQ(b, "file.tar");
  EXPECT_EQ(e, "gz");
  EXPECT_TRUE(split_path_base_ext("/a/b/name.", d, b, e));
  EXPECT_EQ(b, "name");
  EXPECT_EQ(e, "");
  EXPECT_TRUE(split_path_base_ext("/a/b/README", d, b, e));
  EXPECT_EQ(b, "README");
  EXPECT_EQ(e, "");
  EXPECT_TRUE(split_path_base_ext("c:\\x\\.profile", d, b, e));
  EXPECT_EQ(d, "c:\\x");
  EXPECT_EQ(b, "");
  EXPECT_EQ(e, "profile");
  EXPECT_FALSE(split_path_base_ext(nullptr, d, b, e));
  EXPECT_FALSE(split_path_base_ext("", d, b, e));
  std::string n;
  EXPECT_TRUE(split_path_cstr("x\\a\\b.lnk", d, n));
  EXPECT_EQ(d, "x\\a");
  EXPECT_EQ(n, "b.lnk");
  EXPECT_FALSE(split_path_cstr(nullptr, d, n));
}

TEST(MiscPattern, VectorPatternWrappers) {
  const uint8_t buf[] = {1, 2, 3, 1, 2, 3, 1, 2};
  uint64_t off = 99;
  EXPECT_TRUE(find_vector_pattern(buf, sizeof buf, {2, 3}, &off, 100, false));
  EXPECT_EQ(off, 101u);
  EXPECT_FALSE(find_vector_pattern(buf, sizeof buf, {}, &off, 0, false));
  EXPECT_FALSE(find_vector_pattern(buf, sizeof buf, {9}, &off, 0, false));
  std::vector<uint64_t> all = {7};
  EXPECT_TRUE(find_pattern_vector_offsets(buf, sizeof buf, {1, 2}, all, 0, false));
  EXPECT_EQ(all, (std::vector<uint64_t>{0, 3, 6}));
  EXPECT_FALSE(find_pattern_vector_offsets(nullptr, 8, {1}, all, 0, false));
  EXPECT_TRUE(all.empty());
}

TEST(MiscWriters, BlanksAndNullStream) {
  std::ostringstream os;
  os << '[';
  write_blanks(os, 3) << ']';
  write_blanks(os, 0) << '.';
  EXPECT_EQ(os.str(), "[   ].");
  os.str("");
  os.width(0);
  os << 5;
  EXPECT_EQ(os.str(), "5");  // no width left behind
  os.fill('0');
  write_blanks(os, 2);
  EXPECT_EQ(os.fill(), ' ');
  EXPECT_EQ(os.str(), "5  ");

  null_stream << "discarded" << 42 << std::endl;
  EXPECT_TRUE(null_stream.good());
  null_out_stream local;
  local.write("abc", 3);
  EXPECT_TRUE(local.good());
  EXPECT_EQ(newline_text, "\n");
  EXPECT_TRUE(empty_text.empty());
  scratch_stream << "x";
  scratch_stream.str("");
}

TEST(MiscBase64, DecodesLeniently) {
  EXPECT_EQ(b64("YW\nJj"), bytes("abc"));
  EXPECT_EQ(b64("YWJjZGVm"), bytes("abcdef"));
  EXPECT_EQ(b64("YWI="), bytes("ab"));
  EXPECT_EQ(b64("YQ=="), bytes("a"));
  EXPECT_EQ(b64("Y W J j\r\n"), bytes("abc"));
  EXPECT_EQ(b64("YWJj\0ZGVm", 9), bytes("abc"));  // NUL ends the input
  EXPECT_EQ(b64("P/8+"), (std::vector<uint8_t>{0x3F, 0xFF, 0x3E}));
  std::vector<uint8_t> out;
  EXPECT_FALSE(base64_decode(nullptr, 4, out));
  EXPECT_FALSE(base64_decode(reinterpret_cast<const uint8_t*>("YQ=="), 0, out));
}

TEST(MiscBase64, IncompleteLastGroupIsPaddedNotReused) {
  EXPECT_EQ(b64("YWJjZA"), bytes("abcd"));
  EXPECT_EQ(b64("YWJjZGU"), bytes("abcde"));
  EXPECT_EQ(b64("YWJjZ"), bytes("abc"));  // a lone character holds no byte
  EXPECT_EQ(b64("YQ"), bytes("a"));
  EXPECT_EQ(b64("Y"), bytes(""));
}

TEST(MiscUtf16, FormatToUtf16) {
  std::vector<uint16_t> out = {1};
  const uint16_t* p = format_to_utf16(out, "a%d\n", 7);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(out, (std::vector<uint16_t>{'a', '7', '\r', '\n', 0}));
  std::string longer(100, 'z');
  p = format_to_utf16(out, "%s!", longer.c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(out.size(), 102u);
  EXPECT_EQ(out[100], '!');
  EXPECT_EQ(format_to_utf16(out, "%s", ""), nullptr);
  EXPECT_TRUE(out.empty());
}

TEST(MiscArgs, WideLookups) {
  std::vector<std::wstring> args = {L"prog", L"-Out", L"file", L"-pair", L"a", L"b", L"-q"};
  std::wstring v, v2;
  EXPECT_TRUE(find_option_value_w("-out", v, args));
  EXPECT_EQ(v, L"file");
  EXPECT_EQ(args.size(), 5u);
  EXPECT_TRUE(find_option_value_pair_w("-PAIR", v, v2, args));
  EXPECT_EQ(v + v2, L"ab");
  EXPECT_EQ(args, (std::vector<std::wstring>{L"prog", L"-q"}));
  EXPECT_FALSE(find_option_value_w("-q", v, args));  // last, no value
  EXPECT_TRUE(has_option_w("-Q", args, 1));
  EXPECT_FALSE(has_option_w("prog", args, 1));
  EXPECT_TRUE(take_option_flag_w("-q", args, true));
  EXPECT_EQ(args.size(), 2u);
  EXPECT_TRUE(take_option_flag_w("-q", args, false));
  EXPECT_EQ(args.size(), 1u);
  EXPECT_FALSE(take_option_flag_w("-q", args, false));

  char a0[] = "prog", a1[] = "-X", a2[] = "val", a3[] = "rest";
  char* argv[] = {a0, a1, a2, a3};
  int32_t argc = 4;
  std::string s;
  EXPECT_TRUE(find_option_value_argv_keep("-x", s, &argc, argv));
  EXPECT_EQ(argc, 4);
  EXPECT_TRUE(find_option_value_argv("-x", s, &argc, argv));
  EXPECT_EQ(s, "val");
  EXPECT_EQ(argc, 2);
  EXPECT_STREQ(argv[1], "rest");
  EXPECT_FALSE(find_option_value_argv("rest", s, &argc, argv));

  const wchar_t* wargv[] = {L"\u00e9t\u00e9", nullptr};
  std::vector<std::string> out;
  EXPECT_TRUE(wide_args_to_vector(out, 2, wargv));
  EXPECT_EQ(out, (std::vector<std::string>{"\xc3\xa9t\xc3\xa9", ""}));
  out.clear();
  EXPECT_FALSE(wide_args_to_vector(out, 0, wargv));
}
