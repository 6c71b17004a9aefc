#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_string.h"

using namespace vk;

namespace {

std::vector<uint8_t> raw(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

// ---------------------------------------------------------------------------
// Case mapping and case-insensitive comparison
// ---------------------------------------------------------------------------

TEST(CaseMapping, AsciiOnly) {
  std::string umlaut =
      "\xC3\x84"
      "B";  // A-umlaut in UTF-8, then B
  EXPECT_EQ(str_to_lower(umlaut),
            "\xC3\x84"
            "b");
  std::string mixed = "Hello, WORLD @[`{";
  str_to_upper(mixed);
  EXPECT_EQ(mixed, "HELLO, WORLD @[`{");
  EXPECT_EQ(str_to_lower(mixed), "hello, world @[`{");

  std::wstring wide = {wchar_t(0xC4), L'B', wchar_t(0x410)};
  EXPECT_EQ(wstr_to_lower(wide), std::wstring({wchar_t(0xC4), L'b', wchar_t(0x410)}));
  wstr_to_upper(wide);
  EXPECT_EQ(wide, std::wstring({wchar_t(0xC4), L'B', wchar_t(0x410)}));

  char buf[] = "ABC\xC3\x84";
  buf_to_lower(buf, 2);
  EXPECT_STREQ(buf, "abC\xC3\x84");
  buf_to_lower(nullptr, 5);

  std::vector<std::string> list = {"A", "bC"};
  str_list_to_lower(list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "bc"}));
}

TEST(CaseMapping, StaysAsciiUnderAUnicodeProcessLocale) {
  // Comparison keys must not change with whatever locale the process runs in.
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  std::wstring wide = {wchar_t(0xC4), L'B', wchar_t(0xE4), wchar_t(0x410)};
  std::wstring lowered = wide;
  wstr_to_lower(lowered);
  std::wstring raised = wide;
  wstr_to_upper(raised);
  std::string narrow = "\xC4\xE4Z";
  str_to_lower(narrow);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(lowered, std::wstring({wchar_t(0xC4), L'b', wchar_t(0xE4), wchar_t(0x410)}));
  EXPECT_EQ(raised, std::wstring({wchar_t(0xC4), L'B', wchar_t(0xE4), wchar_t(0x410)}));
  EXPECT_EQ(narrow, "\xC4\xE4z");
}

TEST(CaseInsensitive, LowerCasesArgumentsAsContracted) {
  std::string a = "Abc", b = "aBC";
  EXPECT_TRUE(iequals(a, b));
  EXPECT_EQ(a, "abc");
  EXPECT_EQ(b, "abc");
  std::string c = "Ab", d = "abC";
  EXPECT_FALSE(iequals(c, d));
  EXPECT_EQ(c, "Ab");  // lengths differ: untouched
  EXPECT_EQ(d, "abC");

  std::wstring wa = L"ÄbC", wb = L"Äbc";
  EXPECT_TRUE(wiequals(wa, wb));
  std::wstring wc = L"Äb", wd = L"äb";  // non-ASCII letters do not fold
  EXPECT_FALSE(wiequals(wc, wd));

  std::string e = "ABC", f = "abd";
  EXPECT_TRUE(iequals_n(e, f, 2));
  EXPECT_EQ(e, "abc");
  std::string g = "AB", h = "aBC";
  EXPECT_FALSE(iequals_n(g, h, 3));
  EXPECT_EQ(g, "ab");  // lower-cased even when false
  EXPECT_EQ(h, "abc");
  std::wstring wg = L"XY", wh = L"xyz";
  EXPECT_TRUE(wstr_iequals_n(wg, wh, 2));
  EXPECT_FALSE(wstr_iequals_n(wg, wh, 3));

  const char* p = "HeLLo";
  EXPECT_TRUE(iequals_n_buf(p, "hello world", 5));
  EXPECT_FALSE(iequals_n_buf(p, "help", 4));
  EXPECT_STREQ(p, "HeLLo");
  EXPECT_FALSE(iequals_n_buf(nullptr, "x", 1));
  EXPECT_TRUE(iequals_n_buf(nullptr, nullptr, 0));
}

// ---------------------------------------------------------------------------
// Trims and tail edits
// ---------------------------------------------------------------------------

TEST(Trims, NarrowSets) {
  std::string s = " \t\r\n";
  EXPECT_FALSE(trim_ws(s));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(trim_ws(s));
  s = " a b ";
  EXPECT_TRUE(trim_ws(s));
  EXPECT_EQ(s, "a b");

  s = " \tx y\r\n";
  trim_crlf(s);
  EXPECT_EQ(s, " \tx y");
  s = "\r\n";
  trim_crlf(s);
  EXPECT_EQ(s, "");

  s = "\tab  \n";
  EXPECT_TRUE(trim_ws_keep_spaces(s, true));
  EXPECT_EQ(s, "ab  ");
  s = "\tab  \n";
  EXPECT_TRUE(trim_ws_keep_spaces(s, false));
  EXPECT_EQ(s, "ab");
  s = "   ";
  EXPECT_FALSE(trim_ws_keep_spaces(s, true));
  EXPECT_EQ(s, "");
}

TEST(Trims, QuotesNulsAndDrops) {
  std::string s = "  'x'  ";
  EXPECT_TRUE(strip_quotes(s));
  EXPECT_EQ(s, "x");
  s = "\"x";
  EXPECT_TRUE(strip_quotes(s));
  EXPECT_EQ(s, "x");
  s = "\"";
  EXPECT_TRUE(strip_quotes(s));
  EXPECT_EQ(s, "");
  s = "   ";
  EXPECT_TRUE(strip_quotes(s));
  EXPECT_EQ(s, "");
  s = "";
  EXPECT_FALSE(strip_quotes(s));

  s = std::string("ab\0\0", 4);
  EXPECT_TRUE(strip_trailing_nuls(s));
  EXPECT_EQ(s, "ab");
  s = std::string("\0\0", 2);
  EXPECT_TRUE(strip_trailing_nuls(s));
  EXPECT_EQ(s.size(), 2u);

  s = "abc";
  EXPECT_FALSE(drop_last_chars(s, 0));
  EXPECT_EQ(s, "abc");
  EXPECT_TRUE(drop_last_chars(s, 1));
  EXPECT_EQ(s, "ab");
  EXPECT_TRUE(drop_last_chars(s, 5));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(drop_last_chars(s, 1));
  std::wstring w = L"abc";
  EXPECT_TRUE(wdrop_last_chars(w, 2));
  EXPECT_EQ(w, L"a");

  EXPECT_TRUE(is_hex_digit('0'));
  EXPECT_TRUE(is_hex_digit('f'));
  EXPECT_TRUE(is_hex_digit('F'));
  EXPECT_FALSE(is_hex_digit('g'));
  EXPECT_FALSE(is_hex_digit('\xE9'));
}

TEST(Trims, WideTrimPassesInOrder) {
  std::wstring w = L"\tab\r\n";
  EXPECT_TRUE(wtrim_ws(w));
  EXPECT_EQ(w, L"ab\r");  // CR pass runs before the LF pass
  w = L"ab\n\r";
  EXPECT_TRUE(wtrim_ws(w));
  EXPECT_EQ(w, L"ab");
  w = L"  ";
  EXPECT_FALSE(wtrim_ws(w));
  EXPECT_EQ(w, L"");
  w = L"";
  EXPECT_FALSE(wtrim_ws(w));
  w = L" \t\t ";
  EXPECT_FALSE(wtrim_ws(w));
  EXPECT_EQ(w, L"");
  w = L" \t x";
  EXPECT_TRUE(wtrim_ws(w));
  EXPECT_EQ(w, L" x");  // passes do not repeat
}

// ---------------------------------------------------------------------------
// Replace and erase
// ---------------------------------------------------------------------------

TEST(Replace, FirstOccurrence) {
  std::string text = "aBcb", search = "B";
  EXPECT_TRUE(replace_first(text, search, "X", true));
  EXPECT_EQ(text, "aXcb");
  EXPECT_EQ(search, "b");  // lower-cased in place
  text = "aBcb";
  EXPECT_TRUE(replace_first(text, "b", "X", false));
  EXPECT_EQ(text, "aBcX");
  EXPECT_FALSE(replace_first(text, "zz", "X", true));
  EXPECT_EQ(text, "aBcX");

  std::wstring wtext = L"Path\\Foo\\foo", wsearch = L"FOO";
  EXPECT_TRUE(replace_first_w(wtext, wsearch, L"bar", true));
  EXPECT_EQ(wtext, L"Path\\bar\\foo");
  EXPECT_EQ(wsearch, L"foo");

  text = "one TWO two";
  EXPECT_TRUE(erase_first(text, "two ", true));
  EXPECT_EQ(text, "one two");
  text = "name:Stream";
  EXPECT_TRUE(erase_from_substring(text, ":stream", false) == false);
  EXPECT_TRUE(erase_from_substring(text, ":stream", true));
  EXPECT_EQ(text, "name");
}

TEST(Replace, AllOccurrencesAndEmptySearch) {
  std::string text = "a-b--c";
  replace_all(text, "-", "+-");
  EXPECT_EQ(text, "a+-b+-+-c");  // the replacement is not searched again
  replace_all(text, "", "x");
  EXPECT_EQ(text, "a+-b+-+-c");

  std::string out = "stale";
  replace_all_copy(out, "aaa", "aa", "b");
  EXPECT_EQ(out, "ba");
  replace_all_copy(out, "x.y.z", ".", "");
  EXPECT_EQ(out, "xyz");
  replace_all_copy(out, "abc", "", "x");
  EXPECT_EQ(out, "");
  replace_all_copy(out, "", "a", "x");
  EXPECT_EQ(out, "");

  std::string quotes = "\"\"x\"";
  EXPECT_EQ(erase_char(quotes, '"'), 3u);
  EXPECT_EQ(quotes, "x");
}

TEST(Replace, RemoveAllOccurrencesInBuffer) {
  auto make = [](const char* s, size_t& len) {
    len = std::strlen(s);
    auto* b = new uint8_t[len];
    std::memcpy(b, s, len);
    return b;
  };
  size_t len;
  uint8_t* buf = make("xAByabzab", len);
  EXPECT_TRUE(remove_all_occurrences(&buf, &len, "ab", true));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "xyz");
  delete[] buf;

  buf = make("xABya", len);
  EXPECT_TRUE(remove_all_occurrences(&buf, &len, "ab", false));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "xABya");

  uint8_t* before = buf;
  EXPECT_FALSE(remove_all_occurrences(&buf, &len, "", false));  // would never advance
  EXPECT_EQ(buf, before);
  EXPECT_FALSE(remove_all_occurrences(&buf, &len, nullptr, false));
  delete[] buf;

  buf = make("abab", len);
  EXPECT_TRUE(remove_all_occurrences(&buf, &len, "ab", false));
  EXPECT_EQ(len, 0u);
  delete[] buf;

  uint8_t* null_buf = nullptr;
  len = 4;
  EXPECT_FALSE(remove_all_occurrences(&null_buf, &len, "a", false));
}

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

TEST(Lists, Join) {
  std::string out;
  join_strings(out, {"a", "", "b"}, ",", false);
  EXPECT_EQ(out, "a,,b");
  join_strings(out, {"a", "", "b", ""}, ",", true);
  EXPECT_EQ(out, "a,b");
  join_strings(out, {"a", "b", ""}, ", ", true);
  EXPECT_EQ(out, "a, b");
  join_strings(out, {"x,", ""}, ",", true);
  EXPECT_EQ(out, "x,");  // the item's own last character is kept
  join_strings(out, {"a", "b"}, "", false);
  EXPECT_EQ(out, "ab");

  EXPECT_TRUE(join_command_line(out, {"a", "b c"}, '"'));
  EXPECT_EQ(out, "a \"b c\"");
  EXPECT_TRUE(join_command_line(out, {"x y"}, '\''));
  EXPECT_EQ(out, "'x y'");

  size_t count = 99;
  EXPECT_TRUE(join_args_quoted(out, count, {"prog", "-x", "val"}, true));
  EXPECT_EQ(out, "prog -x \"val\"");
  EXPECT_EQ(count, 3u);
  EXPECT_TRUE(join_args_quoted(out, count, {"", "a \"b\"", "-y"}, false));
  EXPECT_EQ(out, "\"a b\" -y");
  EXPECT_FALSE(join_args_quoted(out, count, {}, true));
  EXPECT_EQ(count, 0u);
}

TEST(Lists, SplitBuffers) {
  std::vector<std::string> list = {"keep"};
  size_t delims = 0;
  const char text[] = "a, ,b,,  c ";
  EXPECT_EQ(split_char_buffer(text, sizeof text - 1, ',', list, delims, true), sizeof text - 1);
  EXPECT_EQ(list, (std::vector<std::string>{"keep", "a", "b", "c"}));
  EXPECT_EQ(delims, 4u);
  list.clear();
  split_char_buffer(text, sizeof text - 1, ',', list, delims, false);
  EXPECT_EQ(list, (std::vector<std::string>{"a", " ", "b", "  c "}));
  EXPECT_EQ(split_char_buffer(nullptr, 4, ',', list, delims, false), 0u);

  std::vector<std::wstring> wlist;
  const wchar_t wtext[] = L" x ;y;";
  EXPECT_EQ(split_wchar_buffer(wtext, 6, L';', wlist, delims, true), 6u);
  EXPECT_EQ(wlist, (std::vector<std::wstring>{L"x", L"y"}));
  EXPECT_EQ(delims, 2u);
  // A piece that trims to nothing is dropped, a line end alone included.
  wlist.clear();
  const wchar_t wends[] = L"a;\n; \t ;b";
  split_wchar_buffer(wends, 9, L';', wlist, delims, true);
  EXPECT_EQ(wlist, (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(delims, 3u);
}

TEST(Lists, SplitTextLinesKeepsEmptyLinesAndLastLineRule) {
  std::vector<std::string> lines = {"stale"};
  EXPECT_TRUE(split_text_lines(raw("a\r\n\nb"), lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", ""}));  // a single trailing byte is dropped
  EXPECT_TRUE(split_text_lines(raw("a\r\n\nbc"), lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "", "bc"}));
  EXPECT_TRUE(split_text_lines(raw("  only line \r"), lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"only line"}));
  EXPECT_TRUE(split_text_lines(raw("\r\r x\n"), lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"x"}));
  EXPECT_FALSE(split_text_lines({}, lines));
  EXPECT_TRUE(lines.empty());
}

TEST(Lists, SplitUtf16Lines) {
  auto u16 = [](const std::u16string& s) {
    std::vector<uint8_t> b;
    for (char16_t c : s) {
      b.push_back(static_cast<uint8_t>(c));
      b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
  };
  std::vector<std::wstring> lines;
  EXPECT_TRUE(split_utf16_lines(u16(u"\ra b\r\n\n \x00e9\ntail"), lines));
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"a b", L"", std::wstring(1, wchar_t(0xE9))}));
  EXPECT_FALSE(split_utf16_lines({0x41}, lines));
  EXPECT_FALSE(split_utf16_lines(u16(u"no line end"), lines));
  // An odd trailing byte is ignored.
  auto odd = u16(u"x\n");
  odd.push_back(0x0A);
  EXPECT_TRUE(split_utf16_lines(odd, lines));
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"x"}));
}

// ---------------------------------------------------------------------------
// String streams
// ---------------------------------------------------------------------------

TEST(Streams, DropTail) {
  std::ostringstream s;
  s << "a,b,";
  EXPECT_TRUE(stream_drop_tail(s, 1, true));
  EXPECT_EQ(s.str(), "a,b");
  s << "\n";
  EXPECT_EQ(s.str(), "a,b\n");

  std::ostringstream t;
  t << "xy,";
  EXPECT_TRUE(stream_seek_back(t, 1));
  t << ";";
  EXPECT_EQ(t.str(), "xy;");

  std::ostringstream u;
  u << "abc";
  EXPECT_TRUE(stream_drop_tail(u, 10, true));
  EXPECT_EQ(u.str(), "");
  u << "z";
  EXPECT_EQ(u.str(), "z");

  std::stringstream v;
  v << "p|q|";
  EXPECT_TRUE(stream_drop_tail(v, 1, true));
  EXPECT_EQ(v.str(), "p|q");

  std::ostringstream bad;
  bad.setstate(std::ios::failbit);
  EXPECT_FALSE(stream_drop_tail(bad, 1, true));
}

TEST(Streams, DropTailKeepsNulBytesBeforeTheCut) {
  // A cell may hold NUL bytes; cutting the separator must not cut there too.
  std::ostringstream s;
  s << "a" << '\0' << "b,c,";
  EXPECT_TRUE(stream_drop_tail(s, 1, true));
  EXPECT_EQ(s.str(), std::string("a\0b,c", 5));
  s << ";";
  EXPECT_EQ(s.str(), std::string("a\0b,c;", 6));
}

// ---------------------------------------------------------------------------
// Hostile bytes
// ---------------------------------------------------------------------------

TEST(StringRobustness, RandomBuffers) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> pick(0, 7);
  const char alphabet[] = {'a', 'B', '\r', '\n', ' ', '\t', ',', '\0'};
  for (int round = 0; round < 500; ++round) {
    std::vector<uint8_t> buf(static_cast<size_t>(round % 40));
    for (auto& b : buf) b = static_cast<uint8_t>(alphabet[pick(rng)]);
    for (size_t cut = 0; cut <= buf.size(); ++cut) {
      std::vector<uint8_t> part(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(cut));
      std::vector<std::string> lines;
      std::vector<std::wstring> wlines;
      size_t delims = 0;
      split_text_lines(part, lines);
      split_utf16_lines(part, wlines);
      split_char_buffer(part.empty() ? nullptr : part.data(), part.size(), ',', lines, delims,
                        true);
      if (!part.empty()) {
        size_t len = part.size();
        auto* heap = new uint8_t[len];
        std::memcpy(heap, part.data(), len);
        EXPECT_TRUE(remove_all_occurrences(&heap, &len, "aB", true));
        EXPECT_LE(len, part.size());
        delete[] heap;
      }
      EXPECT_TRUE(iequals_n_buf(part.data(), part.data(), part.size()));
      buf_to_lower(part.empty() ? nullptr : part.data(), part.size());
      std::wstring wide(part.begin(), part.end());
      std::vector<std::wstring> wpieces;
      split_wchar_buffer(wide.empty() ? nullptr : wide.data(), wide.size(), L',', wpieces, delims,
                         true);
      for (const auto& piece : wpieces) EXPECT_FALSE(piece.empty());
    }
  }
}
