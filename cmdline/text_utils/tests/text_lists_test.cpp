// Number lists, list joins, UTF-16 line readers and multi-strings, the
// small record constructors and the file-event routines.
#include "cmdline/text_utils/text_lists.h"

#include <gtest/gtest.h>

#include "byte_builder.h"
#include "foundation/uni_file_utils.h"
#include "temp_tree.h"

using namespace vk;
using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;
using u64s = std::vector<uint64_t>;

TEST(TextLists, NumberListsSetsAndJoins) {
  u64s v = {9};
  EXPECT_EQ(split_numbers_any_delim(v, "4;5", true, false, ",;"), ';');
  EXPECT_EQ(v, (u64s{4, 5}));
  EXPECT_EQ(split_numbers_any_delim(v, "0x10", true, false, ",;"), 0);
  EXPECT_EQ(v, (u64s{16}));
  EXPECT_EQ(split_numbers_any_delim(v, "1,,x 2,3", true, true, ","), ',');
  EXPECT_EQ(v, (u64s{1, 3}));
  EXPECT_EQ(split_numbers_any_delim(v, "", true, false, ","), 0);
  EXPECT_TRUE(v.empty());

  v = {9};
  EXPECT_TRUE(parse_number_list_delim("1, 0x10,,2", v, ','));
  EXPECT_EQ(v, (u64s{9, 1, 16, 2}));
  EXPECT_TRUE(parse_number_list_delim("3 4", v, ' '));
  EXPECT_EQ(v, (u64s{3, 4}));

  byte_array b = {1};
  EXPECT_TRUE(parse_byte_words("0x41 66 0x1ff none", b));
  EXPECT_EQ(b, (byte_array{0x41, 66, 0xff, 0}));

  wstrings w;
  EXPECT_EQ(split_at_any_delim_w(w, L"\u00e9|b|", true, false, ",|"), '|');
  EXPECT_EQ(w, (wstrings{L"\u00e9", L"b"}));
  EXPECT_EQ(split_at_any_delim_w(w, L"ab", true, false, ","), 0);
  EXPECT_EQ(w, (wstrings{L"ab"}));

  std::set<std::string> set = {"old"};
  EXPECT_TRUE(split_string_to_set("b, a,,b ", ',', set, true, false));
  EXPECT_EQ(set, (std::set<std::string>{"a", "b"}));
  EXPECT_TRUE(split_string_to_set("c", ',', set, false, true));
  EXPECT_EQ(set.size(), 3u);
  EXPECT_FALSE(split_string_to_set("", ',', set, false, false));
  EXPECT_TRUE(set.empty());

  strings out = {"x"};
  EXPECT_TRUE(interleave_lists(out, {"a", "b"}, {"1", ""}));
  EXPECT_EQ(out, (strings{"a", "1", "b"}));
  EXPECT_FALSE(interleave_lists(out, {"a", ""}, {"1", "2"}));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(interleave_lists(out, {"a"}, {}));

  wstrings d = {L"x", L"y", L"x", L"z", L"y"};
  remove_duplicate_wstrings(d);
  EXPECT_EQ(d, (wstrings{L"x", L"y", L"z"}));
}

TEST(TextLists, Utf16LinesAndMultiStrings) {
  struct Case {
    std::u16string units;
    bool continuation;
    std::string line;
    size_t consumed;  // 0: pointer and count unchanged
  } cases[] = {{u"ab\r\nc", false, "ab", 4},
               {u"a\nb", false, "a", 2},
               {u"a\\\r\nb\r", true, "ab", 6},
               {u"a\\\r\nb\r", false, "a\\", 4},
               {u"a\\\nb", true, "a", 3},
               {u"rest", false, "rest", 0},
               {u"x\ry", false, "x", 2},
               {u"\r", false, "", 1},
               {u"\u00e9\r", false, "\xc3\xa9", 2},
               {u"a\\\rb", true, "ab", 0}};
  for (const auto& c : cases) {
    const auto* start = reinterpret_cast<const uint16_t*>(c.units.data());
    const uint16_t* pos = start;
    size_t count = c.units.size();
    std::string line = "stale";
    EXPECT_EQ(read_utf16_line(line, pos, count, c.continuation), c.line);
    EXPECT_EQ(static_cast<size_t>(pos - start), c.consumed);
    EXPECT_EQ(count, c.units.size() - c.consumed);
  }

  const auto multi = vesk_test::byte_builder().utf16(u"a", true).utf16(u"b", true).u16(0).take();
  wstrings list;
  EXPECT_TRUE(utf16_multi_string_to_list(list, multi.data(), 10));
  EXPECT_EQ(list, (wstrings{L"a", L"b", L""}));
  EXPECT_TRUE(utf16_multi_string_to_list(list, multi.data(), 7));  // no NUL at the end
  EXPECT_EQ(list, (wstrings{L"a", L"b"}));
  EXPECT_TRUE(utf16_multi_string_to_list(list, multi.data(), 0xFFFFFFFF));
  EXPECT_EQ(list, (wstrings{L"a"}));
  EXPECT_FALSE(utf16_multi_string_to_list(list, nullptr, 4));

  byte_array bytes = {1};
  EXPECT_TRUE(list_to_utf16_multi_string({L"a", L"b"}, bytes));
  EXPECT_EQ(bytes, (byte_array{0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(list_to_utf16_multi_string({}, bytes));
  EXPECT_TRUE(bytes.empty());

  // The counted splitter (built with the file routines) keeps the open tail.
  const uint8_t piece[] = {'x', '\n', 'y'};
  uint32_t consumed = 9;
  strings lines;
  EXPECT_TRUE(split_buffer_lines_consumed(consumed, lines, piece, 3, true, true));
  EXPECT_EQ(lines, (strings{"x"}));
  EXPECT_EQ(consumed, 2u);

  wstrings wl;
  const std::string narrow = "one\r\n two \r\n\r\nthree";
  EXPECT_TRUE(split_text_buffer_w(reinterpret_cast<const uint8_t*>(narrow.data()),
                                  static_cast<uint32_t>(narrow.size()), wl));
  EXPECT_EQ(wl, (wstrings{L"one", L"two", L"three"}));
  const struct {
    std::u16string text;
    wstrings want;
  } wide[] = {{u"one\r\n two\r\nthree", {L"one", L"two", L"three"}},
              {u"a\rb\r", {L"a", L"b"}},
              {u"a\n\rb\n\r", {L"a", L"b"}},
              {u"no line end", {}}};
  for (const auto& c : wide) {
    const auto buf = vesk_test::byte_builder().utf16(c.text).take();
    EXPECT_EQ(split_text_buffer_w(buf.data(), static_cast<uint32_t>(buf.size()), wl),
              !c.want.empty());
    EXPECT_EQ(wl, c.want);
  }
  EXPECT_FALSE(split_text_buffer_w(reinterpret_cast<const uint8_t*>("a"), 1, wl));

  uint32_t n = 0, width = 0;
  EXPECT_TRUE(text_line_metrics(n, width, "ab\nabcd\r\n\n"));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(width, 5u);
  EXPECT_TRUE(text_line_metrics(n, width, ""));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(width, 0u);

  std::vector<uint16_t> u16 = {7};
  EXPECT_NE(wide_to_utf16_vector(u16, L"a\nb"), nullptr);
  EXPECT_EQ(u16, (std::vector<uint16_t>{'a', '\r', '\n', 'b'}));
  EXPECT_EQ(wide_to_utf16_vector(u16, L""), nullptr);
  EXPECT_TRUE(u16.empty());

  const std::u16string path = u"C:\\dir\\file.txt";
  std::wstring dir, name;
  EXPECT_TRUE(split_utf16_path(reinterpret_cast<const uint16_t*>(path.c_str()), dir, name));
  EXPECT_EQ(dir, L"C:\\dir");
  EXPECT_EQ(name, L"file.txt");
  EXPECT_FALSE(split_utf16_path(nullptr, dir, name));

  byte_array r = {1, 0, 2, 0, 0};
  EXPECT_EQ(remove_byte_value(r, 0), 3u);
  EXPECT_EQ(r, (byte_array{1, 2}));
}

namespace {
struct seen_call {
  int calls = 0;
  std::string path, text;
  bool has_value = false, has_entry = false;
  uint64_t value = 0;
  uint32_t kind = 0;
};
uint32_t record_call(void* ctx, const std::string& path, const std::string& text,
                     const uint64_t* value, const dir_entry_info* entry, const uint32_t* kind) {
  auto* s = static_cast<seen_call*>(ctx);
  ++s->calls;
  s->path = path;
  s->text = text;
  s->has_value = value != nullptr;
  s->value = value ? *value : 0;
  s->has_entry = entry != nullptr;
  s->kind = kind ? *kind : 0;
  return 42;
}
}  // namespace

TEST(TextLists, ConstructorsAndFileEvents) {
  const vk_variant_lite typed("title", 10, 12, 0x8000);
  EXPECT_EQ(typed.m_type, 12);
  EXPECT_EQ(typed.m_flags, 0x8080u);
  const vk_variant_lite plain(std::string("title"), 10);
  EXPECT_EQ(plain.m_type, 0);
  EXPECT_EQ(plain.m_flags, 0x80u);

  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("f.bin", "12345");
  dir_entry_info entry;
  entry.name = "stale";
  entry.first_list = {"x"};
  EXPECT_TRUE(init_dir_entry_info_from_path(entry, tree.path("f.bin"), nullptr, "dir"));
  EXPECT_EQ(entry.size, 5);
  EXPECT_TRUE(entry.first_list.empty());

  string_triple t{"a", "b", "c", {1}, {2}};
  reset_string_triple(t);
  EXPECT_TRUE(t.first.empty() && t.second.empty() && t.third.empty());
  EXPECT_EQ(t.area1[0] + t.area2[0], 0);

  cmd_params settings;
  seen_call seen;
  settings.m_file_callback = &record_call;
  settings.m_file_callback_context = &seen;
  EXPECT_EQ(file_callback_text(settings, "p", "t", 1), 0xFFFFFFFFu);  // callback off
  settings.m_file_callback_on = 1;
  EXPECT_EQ(file_callback_text(settings, "", "t", 1), 0xFFFFFFFFu);
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(file_callback_text(settings, "p", "t", 7), 42u);
  EXPECT_TRUE(seen.has_value && !seen.has_entry);
  EXPECT_EQ(seen.value, 7u);
  settings.m_dir_entry.size = 3;
  EXPECT_EQ(file_callback_wtext(settings, "p", L"\u00e9", 8), 42u);
  EXPECT_TRUE(seen.has_entry);
  EXPECT_EQ(seen.text, "\xc3\xa9");
  settings.m_dir_entry.size = 0;
  settings.m_dir_entry.inode = 9;
  EXPECT_EQ(file_callback_kind1(settings, "p", "k"), 42u);
  EXPECT_TRUE(!seen.has_value && !seen.has_entry);
  EXPECT_EQ(seen.kind, 1u);
  EXPECT_EQ(file_callback_kind2(settings, "p", "k"), 42u);
  EXPECT_EQ(seen.kind, 2u);
  EXPECT_EQ(file_callback_text(settings, "p", "t", 0), 42u);
  EXPECT_TRUE(seen.has_entry);  // the inode alone is enough
  settings.m_file_callback = nullptr;
  EXPECT_EQ(file_callback_kind1(settings, "p", "k"), 0xFFFFFFFFu);
  EXPECT_EQ(seen.calls, 5);
}
