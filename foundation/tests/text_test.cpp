#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "byte_builder.h"
#include "foundation/vk_text.h"

using namespace vk;

namespace {
const uint8_t* u8p(const char* s) {
  return reinterpret_cast<const uint8_t*>(s);
}
uint32_t len(const char* s) {
  return static_cast<uint32_t>(std::strlen(s));
}
uint32_t style(const char* s) {
  return newline_style(u8p(s), len(s));
}
std::string shown(std::string s) {
  return show_line_ends(s);
}
std::vector<uint8_t> utf16(const std::string& s) {
  std::vector<uint8_t> v;
  for (char c : s) {
    v.push_back(static_cast<uint8_t>(c));
    v.push_back(0);
  }
  return v;
}
}  // namespace

TEST(TextLineEnds, NewlineStyleCodes) {
  EXPECT_EQ(style("a\r\nb\r\n"), 1u);
  EXPECT_EQ(style("a\rb\r"), 2u);
  EXPECT_EQ(style("a\n"), 3u);
  EXPECT_EQ(style("a\n\rb\n\r"), 4u);
  EXPECT_EQ(style("a\r\nb\n"), 6u);
  EXPECT_EQ(style("abc"), 7u);
  EXPECT_EQ(style(""), 7u);
  EXPECT_EQ(newline_style(nullptr, 5), 7u);
  EXPECT_EQ(style("a\r"), 2u);  // a line end in the last byte
  auto w = utf16("a\r\nb\r\n");
  EXPECT_EQ(newline_style_utf16(w.data(), static_cast<uint32_t>(w.size())), 1u);
  w = utf16("a\nb\r");
  EXPECT_EQ(newline_style_utf16(w.data(), static_cast<uint32_t>(w.size())), 6u);
}

TEST(TextLineEnds, ShowLineEnds) {
  EXPECT_EQ(shown("a\r\nb"), "a[CRLF]b");
  EXPECT_EQ(shown("a\n\rb"), "a[LFCR]b");
  EXPECT_EQ(shown("a\rb"), "a[CR]b");
  EXPECT_EQ(shown("a\nb\rc"), "a[LF]b\rc");
  EXPECT_EQ(shown("a\n\r\nb"), "a[LFCR][LF]b");
  EXPECT_EQ(shown("plain"), "plain");
  EXPECT_EQ(shown(""), "");
  EXPECT_EQ(shown("\n"), "[LF]");
}

TEST(TextLineEnds, ShowControlChars) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> rows[] = {
      {"a\r\nb", "a[CRLF]b"},
      {"a\n\rb", "a[LFCR]b"},
      {"a\nb\rc", "a[LF]b[CR]c"},  // a lone CR too, beside an LF elsewhere
      {"\r\n\r", "[CRLF][CR]"},
      {"\n\r\n", "[LFCR][LF]"},
      {"\r\r\n\n", "[CR][CRLF][LF]"},
      {"x\n\n\ncalc", "x[LF][LF][LF]calc"},
      {"x\ty\t", "x\ty\t"},
      {"\x1b[31m", "[0x1b][31m"},
      {"a\x7f", "a[0x7f]"},
      {"\0b\x01\x1f"s, "[0x00]b[0x01][0x1f]"},
      // C1 controls (U+0080 to U+009F) by their code point, wherever they stand; a 0xC2
      // that leads another character or none, and bytes 0x80 to 0x9F inside other
      // sequences or stray, stay.
      {"\xD0\x9E \xC2\x85 ~", "\xD0\x9E [0x85] ~"},
      {"\xC2\x80", "[0x80]"},
      {"\xC2\x9F\xC2\x8Fz\xC2\x9b", "[0x9f][0x8f]z[0x9b]"},
      {"\xC2\xA0\xC2\xBF \xC2", "\xC2\xA0\xC2\xBF \xC2"},
      {"\xC3\x85\xE2\x80\x9F\xF0\x9F\x98\x80", "\xC3\x85\xE2\x80\x9F\xF0\x9F\x98\x80"},
      {"\x85\xFF\xC2\xC2\x81\x9B", "\x85\xFF\xC2[0x81]\x9B"},
      {"\xC2\x85\r\n\xC2\x9b[2J", "[0x85][CRLF][0x9b][2J"},
      {"[LF]", "[LF]"},
      {"", ""},
  };
  for (const auto& [text, want] : rows) {
    SCOPED_TRACE(text);
    std::string s = text;
    EXPECT_EQ(show_control_chars(s), want);
    EXPECT_EQ(has_control_char(text), text != want);
  }
  // The search by groups: one mark at every place of texts of every length
  // across the group sizes, amid tabs and bytes of 0x80 and above.
  for (size_t n = 1; n <= 150; ++n)
    for (size_t at = 0; at < n; ++at) {
      std::string text;
      for (size_t i = 0; i < n; ++i) text += "a\t\xC3\xFF~"[i % 5];
      EXPECT_FALSE(has_control_char(text)) << n;
      for (const char c : {'\x00', '\x1f', '\x7f', '\n'}) {
        std::string marked = text;
        marked[at] = c;
        EXPECT_TRUE(has_control_char(marked)) << n << " " << at << " " << int(c);
        EXPECT_EQ(find_control_char(marked, at / 2), at);
        EXPECT_EQ(find_control_char(marked, at + 1), std::string::npos);
      }
      // A C1 control across every group boundary; a 0xC2 before any other
      // byte, or last, is none.
      std::string c1 = text, other = text;
      c1[at] = other[at] = '\xC2';
      if (at + 1 < n) {
        c1[at + 1] = '\x9b';
        other[at + 1] = '\xA0';
        EXPECT_EQ(find_control_char(c1, at / 2), at) << n << " " << at;
        EXPECT_EQ(find_control_char(c1, at + 1), std::string::npos);
        std::string shown = c1;
        EXPECT_EQ(mark_control_chars(shown), text.substr(0, at) + "[0x9b]" + text.substr(at + 2));
      }
      EXPECT_FALSE(has_control_char(other)) << n << " " << at;
    }
}

// A file name as reports and messages write it: bytes that are not UTF-8 as
// \xNN, then the control characters as marks (an escape is never marked).
TEST(TextLineEnds, ShownName) {
  const std::pair<std::string, std::string> rows[] = {
      {"plain/dir/5f7b5f1e01b83767.automaticDestinations-ms",
       "plain/dir/5f7b5f1e01b83767.automaticDestinations-ms"},
      {"a\nb\rc\r\nd\x1b[2Je\x01\x7f\tf.lnk", "a[LF]b[CR]c[CRLF]d[0x1b][2Je[0x01][0x7f]\tf.lnk"},
      {"c1\xC2\x9b"
       "2J\xC2\x85",
       "c1[0x9b]2J[0x85]"},
      {"bad\xFF\x9B\xC2\xE2\x80", "bad\\xFF\\x9B\\xC2\\xE2\\x80"},
      {"\xC3\xA9t\xC3\xA9\xC2\xA0\xE2\x82\xAC", "\xC3\xA9t\xC3\xA9\xC2\xA0\xE2\x82\xAC"},
      {"\xC2\xC2\x9b\x1b\xFF", "\\xC2[0x9b][0x1b]\\xFF"},
      {"", ""},
  };
  for (const auto& [name, want] : rows) {
    EXPECT_EQ(shown_name(name), want) << name;
    std::string out = "x";
    append_shown_name(out, name);
    EXPECT_EQ(out, "x" + want);
  }
}

TEST(TextLineEnds, TrimLineEnd) {
  std::string s = "abc\r\n\r";
  EXPECT_EQ(trim_line_end(s), 3);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(trim_line_end(s), 0);
  s = "\n\n";
  EXPECT_EQ(trim_line_end(s), 2);
  EXPECT_TRUE(s.empty());
}

TEST(TextBase64, CharacterValuesAndShapeTest) {
  EXPECT_EQ(base64_char_value('A'), 0);
  EXPECT_EQ(base64_char_value('a'), 26);
  EXPECT_EQ(base64_char_value('9'), 61);
  EXPECT_EQ(base64_char_value('+'), 62);
  EXPECT_EQ(base64_char_value('/'), 63);
  EXPECT_EQ(base64_char_value('*'), 63);
  EXPECT_FALSE(is_base64_text(u8p("abcd"), 4, false));  // r = 1 without '='
  EXPECT_TRUE(is_base64_text(u8p("abc="), 4, true));
  EXPECT_TRUE(is_base64_text(u8p("abcdef"), 6, true));
  EXPECT_FALSE(is_base64_text(u8p("ab*def"), 6, true));
  EXPECT_FALSE(is_base64_text(u8p("abcde"), 5, false));  // r = 2 needs '=' last
  EXPECT_FALSE(is_base64_text(nullptr, 8, false));
  EXPECT_FALSE(is_base64_text(u8p("ab="), 3, false));
}

TEST(TextWindowsVersion, NamesAndCodes) {
  std::string t;
  EXPECT_EQ(windows_version_name(t, 2, 6, 1, false, false, false, 7601), 0x1014u);
  EXPECT_EQ(t, "Win7");
  EXPECT_EQ(windows_version_name(t, 1, 4, 0, false, false, false, 0), 2u);
  EXPECT_EQ(t, "Win9x");
  EXPECT_EQ(windows_version_name(t, 2, 6, 1, true, true, false, 7601), 0x1018u);
  EXPECT_EQ(t, "Win7 or Win2008/R2");
  EXPECT_EQ(windows_version_name(t, 2, 6, 0, true, false, false, 0), 0x1001u);
  EXPECT_EQ(t, "Vista");
  EXPECT_EQ(windows_version_name(t, 2, 5, 2, true, true, false, 0), 0x106u);
  EXPECT_EQ(t, "Win03 or WinXP64");
  EXPECT_EQ(windows_version_name(t, 2, 10, 0, true, true, true, 0), 0x1031u);
  EXPECT_EQ(t, "Win10");
  EXPECT_EQ(windows_version_name(t, 2, 10, 1, false, false, false, 0), 22000u);
  EXPECT_EQ(t, "Post Win10");
  EXPECT_EQ(windows_version_name(t, 2, 7, 0, false, false, false, 0), 1u);
  EXPECT_EQ(t, "<unk>");
  EXPECT_EQ(windows_version_name_simple(t, 2, 6, 3, true), 0x1029u);
  std::string code = "WIN2K";
  EXPECT_EQ(windows_version_code(code), 0x11u);
  EXPECT_EQ(code, "win2k");
  code = "Win8.1 Pro";
  EXPECT_EQ(windows_version_code(code), 0x1028u);
  code = "beos";
  EXPECT_EQ(windows_version_code(code), 1u);
}

TEST(TextWriters, SidText) {
  const uint8_t sid[] = {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xE8, 0x03, 0, 0};
  std::string s;
  EXPECT_TRUE(sid_to_string(s, sid, sizeof sid));
  EXPECT_EQ(s, "S-1-5-21-1000");
  EXPECT_TRUE(sid_to_string_exact(s, sid, sizeof sid));
  EXPECT_FALSE(sid_to_string_exact(s, sid, 12));
  EXPECT_FALSE(sid_to_string(s, sid, 12));  // count 2 needs 16 bytes
  EXPECT_EQ(s, "");
  EXPECT_EQ(sid_text(sid, sizeof sid), "S-1-5-21-1000");
  EXPECT_FALSE(sid_to_string(s, nullptr, 16));
}

TEST(TextWriters, MacosPathAndMarkers) {
  EXPECT_EQ(build_macos_library_path(3), "Library/Preferences/");
  EXPECT_EQ(build_macos_library_path(1 | 8 | 32), "Library/Calendars/Safari/");
  EXPECT_EQ(build_macos_library_path(0), "");
  std::string out;
  EXPECT_TRUE(text_between_markers("k=1; name=\"val\" x", "name", "=", "\"", out));
  EXPECT_EQ(out, "");  // starts one after '=', which is the quote itself
  EXPECT_TRUE(text_between_markers("a [xyz] b", nullptr, "[", "]", out));
  EXPECT_EQ(out, "xyz");
  EXPECT_FALSE(text_between_markers("a [xyz b", nullptr, "[", "]", out));
  EXPECT_FALSE(text_between_markers(nullptr, nullptr, "[", "]", out));
}

TEST(TextWriters, JoinWords) {
  std::string w1 = "hello", w2 = "World", w3 = "x";
  const void* handles[] = {&w1, &w2, &w3, nullptr};
  word_callback cb = [](const void* h) { return *static_cast<const std::string*>(h); };
  std::ostringstream os;
  join_words(os, 1u << 28, cb, handles);
  EXPECT_EQ(os.str(), "hello_World_x");
  join_words(os, (1u << 29) | (1u << 31), cb, handles);
  EXPECT_EQ(os.str(), "Hello World X");
  join_words(os, (1u << 30) | (1u << 23) | (1u << 24), cb, handles);
  EXPECT_EQ(os.str(), "Hello.world.x");
  join_words(os, 2 | (1u << 27) | (1u << 25), cb, handles);
  EXPECT_EQ(os.str(), "HELLO/WORLD");
  std::ostringstream kept("keep:", std::ios::ate);
  join_words(kept, (1u << 22) | 1, cb, handles);
  EXPECT_EQ(kept.str(), "keep:hello");
  const void* too_many[12];
  for (auto& h : too_many) h = &w1;
  too_many[11] = nullptr;
  join_words(os, 0, cb, too_many);
  EXPECT_EQ(os.str(), "");
}

TEST(TextScanners, AngleTags) {
  const char* html = "x<a href=1>y</a>z>";
  std::vector<std::string> tags;
  EXPECT_TRUE(collect_angle_tags(u8p(html), len(html), tags));
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_EQ(tags[0], "<a href=1>");
  EXPECT_EQ(tags[1], "</a>");
  EXPECT_EQ(tags[2], "");
  std::vector<std::pair<std::string, uint32_t>> pos;
  EXPECT_TRUE(collect_angle_tags_pos(u8p(html), len(html), pos));
  EXPECT_EQ(pos[0].second, 2u);
  EXPECT_EQ(pos[1].second, 13u);
  tags.clear();
  EXPECT_FALSE(collect_angle_tags(u8p("<open"), 5, tags));
}

TEST(TextScanners, ExpandTabs) {
  std::string out = "untouched";
  EXPECT_FALSE(expand_tabs(u8p("no tabs"), 7, 4, out, false));
  EXPECT_EQ(out, "untouched");
  // Each TAB reaches the next multiple of the width, counted from the line
  // start (as expand -t does).
  const struct {
    const char* in;
    uint32_t width;
    const char* out;
  } cases[] = {
      {"\tb", 4, "    b"},
      {"a\tbc\td", 4, "a   bc  d"},
      {"a\tb\tc", 4, "a   b   c"},
      {"a\tbcd\ty", 4, "a   bcd y"},
      {"abcd\te", 4, "abcd    e"},
      {"a\tb", 8, "a       b"},
      {"a\t\tb", 0, "a       b"},
      {"abcd\te\r\nxy\tz", 0, "abcd    e\r\nxy  z"},
      {"ab\tc\nx\ty", 4, "ab  c\nx   y"},
      {"ab\tc\rx\ty", 3, "ab c\rx  y"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(expand_tabs(u8p(c.in), len(c.in), c.width, out, false)) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
  auto w = utf16("a\tb");
  EXPECT_TRUE(expand_tabs(w.data(), static_cast<uint32_t>(w.size()), 4, out, true));
  EXPECT_EQ(out, std::string("a\0 \0 \0 \0b\0", 10));
}

TEST(TextScanners, StripXmlElement) {
  std::string s = "<r><Skip a='1'>x<b>y</b></skip><keep/>z<skip/>w</r>";
  uint32_t n = static_cast<uint32_t>(s.size());
  ASSERT_TRUE(strip_xml_element(reinterpret_cast<uint8_t*>(s.data()), n, "skip"));
  EXPECT_EQ(s.substr(0, n), "<r><keep/>zw</r>");
  // A self-closing element right after its name ends at its "/>": the text
  // after it stays.
  s = "a<skip/>b<SKIP x='1'/>c<skip>d</skip>e";
  n = static_cast<uint32_t>(s.size());
  ASSERT_TRUE(strip_xml_element(reinterpret_cast<uint8_t*>(s.data()), n, "skip"));
  EXPECT_EQ(s.substr(0, n), "abce");
  uint32_t zero = 0;
  EXPECT_FALSE(strip_xml_element(reinterpret_cast<uint8_t*>(s.data()), zero, "skip"));

  std::wstring w = L"a<t>bc</t>d!!!!";
  uint32_t wn = static_cast<uint32_t>(w.size() * sizeof(wchar_t));
  ASSERT_TRUE(strip_xml_element_w(w.data(), wn, L"T"));
  EXPECT_EQ(w.substr(0, wn / sizeof(wchar_t)), L"ad!!!!");
}

TEST(TextScanners, JsonObjectsAndValues) {
  std::vector<std::string> objs;
  EXPECT_TRUE(split_json_objects(objs, R"([{"a":{"b":1}}, {"c":2}])"));
  ASSERT_EQ(objs.size(), 2u);
  EXPECT_EQ(objs[0], R"({"a":{"b":1}})");
  EXPECT_EQ(objs[1], R"({"c":2})");
  EXPECT_TRUE(split_json_objects(objs, R"({"x":[1]})"));
  ASSERT_EQ(objs.size(), 1u);
  EXPECT_EQ(objs[0], R"({"x":[1]})");

  std::vector<std::string> vals;
  EXPECT_TRUE(json_get_values(vals, {"Name", "size", "missing", "last"},
                              R"({"name":"A, b","Size":12,"last":true})"));
  ASSERT_EQ(vals.size(), 4u);
  EXPECT_EQ(vals[0], "A, b");
  EXPECT_EQ(vals[1], "12");
  EXPECT_EQ(vals[2], "");
  EXPECT_EQ(vals[3], "true");
  EXPECT_FALSE(json_get_values(vals, {}, "{}"));
  EXPECT_FALSE(json_get_values(vals, {"a"}, ""));
}

TEST(TextScanners, PercentDecode) {
  std::string out;
  EXPECT_TRUE(percent_decode(out, "%41BC", 0, ""));
  EXPECT_EQ(out, "ABC");
  EXPECT_TRUE(percent_decode(out, "a%2Fb%0Ac%zz%4", '/', "<slash>"));
  EXPECT_EQ(out, "a<slash>b%0Ac%zz%4");
  EXPECT_TRUE(percent_decode(out, "%2541", 0, ""));
  EXPECT_EQ(out, "%41");  // decoded once
  EXPECT_FALSE(percent_decode(out, "plain", 0, ""));
  EXPECT_EQ(out, "");
}

TEST(TextSplit, SplitString) {
  std::vector<std::string> v;
  EXPECT_TRUE(split_string("a,,b,", ',', v));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(split_string("a,,b,", ',', v, false, true));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_TRUE(split_string(",", ',', v));
  EXPECT_TRUE(v.empty());
  EXPECT_TRUE(split_string(",", ',', v, false, true));
  EXPECT_EQ(v, (std::vector<std::string>{"", ""}));
  EXPECT_FALSE(split_string("", ',', v));
  EXPECT_TRUE(split_string(" a , b ", ',', v, true));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(split_string("c", ',', v, false, false, true));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TextSplit, OtherSplitters) {
  std::vector<std::string> v;
  EXPECT_EQ(split_at_any_delim(v, "1;2,3", false, false, ",;"), ',');
  EXPECT_EQ(v, (std::vector<std::string>{"1;2", "3"}));
  EXPECT_EQ(split_at_any_delim(v, "123", false, false, ",;"), 0);
  EXPECT_EQ(v, (std::vector<std::string>{"123"}));

  EXPECT_TRUE(split_quoted(R"(a,"b,c",d)", ',', v, false, false));
  EXPECT_EQ(v, (std::vector<std::string>{"a", R"("b,c")", "d"}));

  v.clear();
  EXPECT_EQ(split_words(R"(one "two three" four)", 0, v, true), 4u);
  EXPECT_EQ(v, (std::vector<std::string>{"one", "two three", "four"}));
  v.clear();
  EXPECT_EQ(split_words("a b c", 2, v, false), 2u);
  EXPECT_EQ(v.size(), 2u);
  v.clear();
  EXPECT_TRUE(split_quoted_words(R"("x" y)", v));
  EXPECT_EQ(v, (std::vector<std::string>{"x", "y"}));
  std::string w;
  EXPECT_TRUE(first_word("  hi there", w));
  EXPECT_EQ(w, "hi");
  EXPECT_TRUE(first_word(" \t ", w));
  EXPECT_EQ(w, "");
  EXPECT_FALSE(first_word("", w));

  const char* crlf = " a \r\n\r\nb\r\n";
  EXPECT_TRUE(split_lines(u8p(crlf), len(crlf), v));
  EXPECT_EQ(v, (std::vector<std::string>{"a", "b"}));
  const char* mixed = "a\r\nb\n";
  EXPECT_FALSE(split_lines(u8p(mixed), len(mixed), v));
}

TEST(TextSplit, SplitBufferLines) {
  std::vector<std::string> v;
  const char* narrow = "ab\r\n\r\n c \nrest";
  EXPECT_TRUE(split_buffer_lines(v, u8p(narrow), len(narrow), true, false));
  EXPECT_EQ(v, (std::vector<std::string>{"ab", "", "c"}));
  EXPECT_TRUE(split_buffer_lines(v, u8p(narrow), len(narrow), true, true));
  EXPECT_EQ(v, (std::vector<std::string>{"ab", "c"}));
  const char nul_text[] = "x1\ny2\0z\n";
  EXPECT_TRUE(split_buffer_lines(v, u8p(nul_text), sizeof nul_text - 1, false, false));
  EXPECT_EQ(v, (std::vector<std::string>{"x1", "y2"}));
  auto w = utf16("ab\r\ncd\nef");
  EXPECT_TRUE(split_buffer_lines(v, w.data(), static_cast<uint32_t>(w.size()), false, false));
  EXPECT_EQ(v, (std::vector<std::string>{"ab", "cd"}));
  EXPECT_FALSE(split_buffer_lines(v, u8p("a"), 1, false, false));
}

TEST(TextSplit, WideAndMultiStrings) {
  std::vector<std::wstring> v;
  EXPECT_TRUE(split_wstring_simple(L"/a//b/", L'/', v));
  EXPECT_EQ(v, (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_FALSE(split_wstring_simple(L"", L'/', v));
  EXPECT_TRUE(split_multi_string({L'a', 0, L'b', L'c', 0, 0}, v));
  EXPECT_EQ(v, (std::vector<std::wstring>{L"a", L"bc"}));
  EXPECT_TRUE(split_multi_string_bytes({'x', 0, 0, 0, 'y', 0, 'z'}, v));
  EXPECT_EQ(v, (std::vector<std::wstring>{L"x", L"y"}));
  EXPECT_FALSE(split_multi_string_bytes({}, v));
}

// The one-pass separator replacement tells whether a line end is left.
TEST(TextEdit, ReplaceCharAndFindLineEnds) {
  struct row {
    std::string in;
    char from, to;
    std::string out;
    bool line_end;
  } rows[] = {
      {"a,b,c", ',', ' ', "a b c", false},
      {"a,b\n", ',', ' ', "a b\n", true},
      {"a\nb", '\n', ' ', "a b", false},
      {"a,\rb", ',', '\n', "a\n\rb", true},
      {"a,b", ',', '\r', "a\rb", true},
      {"x\r", 0, ' ', "x\r", true},
      {"", ',', ' ', "", false},
      {std::string(300, '\xff'), ',', ' ', std::string(300, '\xff'), false},
  };
  for (auto& r : rows) {
    std::string t = r.in;
    EXPECT_EQ(replace_char_find_line_ends(t, r.from, r.to), r.line_end) << r.in;
    EXPECT_EQ(t, r.out) << r.in;
    EXPECT_EQ(has_line_end(r.out), r.line_end) << r.in;
  }
}

TEST(TextEdit, ReplaceChar) {
  std::string s = "c:\\a\\b";
  replace_char(s, '\\', '/', true);
  EXPECT_EQ(s, "c:/a/b");
  s = "aAbA";
  replace_char(s, 'a', 'A', true);
  EXPECT_EQ(s, "AAbA");
  s = "aAbA";
  replace_char(s, 'a', 'x', false);
  EXPECT_EQ(s, "xAbA");
  s.assign("\0a\0", 3);  // NUL is a character like any other, the last one too
  replace_char(s, '\0', '.', false);
  EXPECT_EQ(s, ".a.");
  std::wstring w = L"aA\u0100";
  replace_char(w, L'a', L'z', true);
  EXPECT_EQ(w, L"zz\u0100");
  uint8_t buf[] = {'a', 'B', 'b'};
  replace_char_buf(buf, 3, 'b', '-', true);
  EXPECT_EQ(std::string(buf, buf + 3), "a--");
  wchar_t wb[] = L"xXy";
  replace_wchar_buf(wb, 3, L'x', L'_', false);
  EXPECT_EQ(std::wstring(wb), L"_Xy");
}

TEST(TextEdit, JoinAndStrip) {
  std::wstring out;
  EXPECT_EQ(join_wide_strings(out, {L"a", L"", L"b"}, L",", true), L"a,b");
  EXPECT_EQ(join_wide_strings(out, {L"a", L""}, L",", true), L"a");
  EXPECT_EQ(join_wide_strings(out, {L"a", L"", L"b"}, L",", false), L"a,,b");
  EXPECT_EQ(join_wide_strings(out, {L"a", L"b"}, L"", true), L"ab");
  std::wstring p = L"c:\\x//\\";
  EXPECT_TRUE(strip_trailing_slashes_wide(p));
  EXPECT_EQ(p, L"c:\\x");
  p = L"//";
  EXPECT_FALSE(strip_trailing_slashes_wide(p));

  std::string s = "Hello World";
  EXPECT_TRUE(replace_first_icase(s, "WORLD", "there"));
  EXPECT_EQ(s, "Hello there");
  EXPECT_FALSE(erase_from_char(s, 'T', true));  // only the text is lower-cased
  EXPECT_TRUE(erase_from_char(s, 't', true));
  EXPECT_EQ(s, "Hello ");
  EXPECT_FALSE(erase_from_char(s, 'z', false));
  wchar_t wb[] = L"abcXYZdef";
  EXPECT_TRUE(erase_first_wbuf(wb, L"xyz", true));
  EXPECT_EQ(std::wstring(wb), L"abcdef");
  // Three 2-byte UTF-8 characters are written back as six bytes: only the
  // first four fit the buffer, which is never written past.
  wchar_t accented[] = L"\u00e9\u00e9\u00e9x";
  EXPECT_TRUE(erase_first_wbuf(accented, L"x", false));
  EXPECT_EQ(std::wstring(accented), (std::wstring{0xC3, 0xA9, 0xC3, 0xA9}));

  char a0[] = "prog", a1[] = "two words", a2[] = "x";
  char* argv[] = {a0, a1, a2};
  EXPECT_TRUE(join_argv(s, 3, argv));
  EXPECT_EQ(s, "prog \"two words\" x");
  EXPECT_FALSE(join_argv(s, 0, argv));

  std::ostringstream os;
  write_quoted_pairs(os, {"a", "b"}, {"1"}, ',');
  EXPECT_EQ(os.str(), R"("a":"1", "b":"")");
}

TEST(TextEdit, WideCompareAndPredicates) {
  const wchar_t* t = L"Hello World";
  EXPECT_EQ(find_wide_icase(t, L"WORLD"), t + 6);
  EXPECT_EQ(find_wide_icase(t, L"xyz"), nullptr);
  EXPECT_EQ(find_wide_icase(nullptr, L"a"), nullptr);
  EXPECT_EQ(compare_wide(nullptr, nullptr, false), 0);
  EXPECT_EQ(compare_wide(nullptr, L"a", false), -1);
  EXPECT_EQ(compare_wide(L"a", nullptr, false), 1);
  EXPECT_EQ(compare_wide(L"abc", L"ABC", true), 0);
  EXPECT_NE(compare_wide(L"abc", L"ABC", false), 0);
  EXPECT_TRUE(wchar_iequal(L'a', L'A'));
  EXPECT_TRUE(char_iequal('q', 'Q'));
  EXPECT_TRUE(char_iless('a', 'B'));
  EXPECT_FALSE(char_iless('b', 'A'));
}

// The byte scanners read only inside the buffer they are given, whatever it holds.
TEST(TextRobustness, ScannersSurviveRandomZeroedAndCutBuffers) {
  std::mt19937 rng(11);
  const std::string seed =
      "<a x='1'>\tb\r\n</a><skip/>%41%zz\n\r{\"k\":\"v\",\"n\":[{\"a\":1}]}\x00\x09";
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> buf;
    switch (round % 3) {
      case 0:
        buf = vesk_test::random_bytes(round % 97, rng);
        break;
      case 1:
        buf.assign(round % 41, 0);
        break;
      default:
        buf = vesk_test::mutate(std::vector<uint8_t>(seed.begin(), seed.end()), rng, 6);
        buf.resize(std::uniform_int_distribution<size_t>(0, buf.size())(rng));
    }
    // Exact-size heap copies, so that any read past the end is caught.
    std::unique_ptr<uint8_t[]> heap(new uint8_t[buf.size() + 1]);
    std::copy(buf.begin(), buf.end(), heap.get());
    const uint8_t* p = heap.get();
    const uint32_t n = static_cast<uint32_t>(buf.size());
    std::vector<std::string> lines;
    std::string text;
    newline_style(p, n);
    newline_style_utf16(p, n);
    is_base64_text(p, n, true);
    sid_to_string(text, p, n);
    sid_to_string_exact(text, p, n);
    collect_angle_tags(p, n, lines);
    expand_tabs(p, n, round % 9, text, true);
    split_lines(p, n, lines);
    split_buffer_lines(lines, p, n, true, round & 1);
    uint32_t len = n;
    strip_xml_element(heap.get(), len, "a");
    EXPECT_LE(len, n);
    std::string s(buf.begin(), buf.end());
    show_line_ends(s);
    percent_decode(text, s, '/', "x");
    std::vector<std::string> vals;
    json_get_values(vals, {"k", "n"}, s);
    split_json_objects(vals, s);
    std::vector<std::wstring> wide;
    split_multi_string_bytes(buf, wide);
  }
}
