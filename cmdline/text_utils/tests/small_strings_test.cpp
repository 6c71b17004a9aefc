// Searches, erasures, text shaping and byte cells, with the foundation's
// path-stem split and trailing-slash trim that sit beside them.
#include "cmdline/text_utils/small_strings.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_dir_node.h"

using namespace vk;
constexpr size_t none = std::string::npos;

TEST(SmallStrings, SearchAndErase) {
  std::string text = "AbcABC", needle = "BC";
  EXPECT_EQ(find_fold(text, needle, false), 4u);
  EXPECT_EQ(find_fold(text, needle, true), 1u);
  EXPECT_EQ(text, "abcabc");
  EXPECT_EQ(needle, "bc");
  std::string empty, nothing;
  EXPECT_EQ(find_fold(empty, nothing, false), none);  // a match at the end is none
  std::wstring wt = L"XyZ", wn = L"Z";
  EXPECT_EQ(wfind_fold(wt, wn, true), 2u);
  EXPECT_EQ(wt, L"xyz");
  EXPECT_EQ(wn, L"z");

  size_t pos = 0;
  EXPECT_TRUE(find_after(pos, "abcabc", 1, "bc"));
  EXPECT_EQ(pos, 3u);
  EXPECT_TRUE(find_after(pos, "abcabc", 2, "bc"));
  EXPECT_EQ(pos, 6u);
  EXPECT_FALSE(find_after(pos, "abcabc", 5, "bc"));
  EXPECT_EQ(pos, none);
  EXPECT_FALSE(find_after(pos, "abc", 3, ""));
  EXPECT_EQ(pos, 3u);  // the search result: the text's end
  EXPECT_TRUE(find_at(pos, "abcabc", 1, "bc"));
  EXPECT_EQ(pos, 1u);
  EXPECT_FALSE(find_at(pos, "abc", 0, nullptr));
  EXPECT_TRUE(wfind_after(pos, L"abcabc", 2, L"bc"));
  EXPECT_EQ(pos, 6u);
  EXPECT_TRUE(wfind_at(pos, L"abcabc", 2, L"bc"));
  EXPECT_EQ(pos, 4u);

  std::wstring w = L"Path\\Sub\\File";
  EXPECT_FALSE(werase_from(w, L"SUB", false));
  // With folding, text and needle are both folded.
  for (const wchar_t* folded : {L"SUB", L"sub", L"sUb"}) {
    w = L"Path\\Sub\\File";
    EXPECT_TRUE(werase_from(w, folded, true)) << folded;
    EXPECT_EQ(w, L"Path\\");
  }
  EXPECT_FALSE(werase_from(w, L"XYZ", true));
  EXPECT_EQ(w, L"Path\\");
  w = L"one TWO two";
  std::wstring n = L"TWO";
  EXPECT_TRUE(werase_first(w, n, false));
  EXPECT_EQ(w, L"one  two");
  n = L"TWO";
  EXPECT_TRUE(werase_first(w, n, true));
  EXPECT_EQ(w, L"one  ");
  EXPECT_EQ(n, L"two");

  std::string line = "  first second", word = "x";
  EXPECT_TRUE(pop_first_word(line, word));
  EXPECT_EQ(word, "first");
  EXPECT_EQ(line, "   second");
  line = "   ";
  EXPECT_TRUE(pop_first_word(line, word));
  EXPECT_EQ(word, "first");
  line.clear();
  EXPECT_FALSE(pop_first_word(line, word));
}

TEST(SmallStrings, Shaping) {
  EXPECT_EQ(remove_char_copy("///", '/'), "///");
  EXPECT_EQ(remove_char_copy("/a/b", '/'), "ab");
  std::string id;
  const std::pair<std::string, std::string> ids[] = {{"a/b c", "a_b_c"},
                                                     {"  ab", "ab"},
                                                     {"x\xc3\xa9y!", "x_y"},
                                                     {"-v1.2__", "-v1.2__"},
                                                     {"!!", ""}};
  for (const auto& [in, want] : ids) EXPECT_EQ(to_identifier(id, in), want) << in;
  std::string t = "a1 \xe9Z";
  EXPECT_EQ(non_alpha_to_underscore(t), 5u);
  EXPECT_EQ(t, "a___Z");

  EXPECT_FALSE(is_printable_text(""));
  EXPECT_FALSE(is_printable_text("ab\x80"));
  EXPECT_FALSE(is_printable_text(std::string("a\0b", 3)));
  EXPECT_TRUE(is_printable_text("a\tb\r\n~ "));

  std::wstring ws = L"a.b*c";
  wescape_chars(ws, L".*");
  EXPECT_EQ(ws, L"a\\.b\\*c");
  std::vector<uint16_t> units = {'a', '.', '.', 0x100 + '.'};
  EXPECT_EQ(escape_units(units, L"."), 2u);
  EXPECT_EQ(units, (std::vector<uint16_t>{'a', '\\', '.', '\\', '.', 0x100 + '.'}));
  ws = std::wstring(L"a\0b\0\0", 5);
  EXPECT_TRUE(wtrim_trailing_nuls(ws));
  EXPECT_EQ(ws, std::wstring(L"a\0b", 3));
  units = {0, 1, 0, 0};
  EXPECT_TRUE(trim_trailing_zero_units(units));
  EXPECT_EQ(units, (std::vector<uint16_t>{0, 1}));

  EXPECT_EQ(format_fixed2(1.0 / 3), "0.33");
  EXPECT_EQ(format_fixed2(2.5), "2.50");
  EXPECT_EQ(format_fixed2(-0.005), "-0.01");
  EXPECT_EQ(format_fixed2(1e300).size(), 304u);

  // The trailing-slash trim and the stem split live in the foundation.
  std::string p = "dir//\\";
  EXPECT_TRUE(strip_trailing_slashes(p));
  EXPECT_EQ(p, "dir");
  p = "//";
  EXPECT_FALSE(strip_trailing_slashes(p));
  std::wstring dir, stem = L"old", ext = L"keep";
  EXPECT_TRUE(split_wpath_stem_ext(L"/cases/42/archive.tar.gz", dir, stem, ext));
  EXPECT_EQ(stem, L"archive.tar");
  EXPECT_EQ(ext, L"gz");
  ext = L"keep";
  EXPECT_TRUE(split_wpath_stem_ext(L"/cases/42/README", dir, stem, ext));
  EXPECT_EQ(stem, L"README");
  EXPECT_EQ(ext, L"keep");
}

TEST(SmallStrings, BytesAndCells) {
  byte_array b = {9};
  EXPECT_EQ(assign_bytes_from_text(b, "ab"), (byte_array{'a', 'b'}));
  EXPECT_TRUE(assign_bytes_from_text(b, "").empty());
  uint8_t block[32];
  for (int i = 0; i < 32; ++i) block[i] = static_cast<uint8_t>(i);
  copy_block32(b, block);
  EXPECT_EQ(b, byte_array(block, block + 32));
  copy_block20(b, block);
  EXPECT_EQ(b, byte_array(block, block + 20));
  copy_block16(b, nullptr);
  EXPECT_EQ(b, byte_array(16, 0));

  vk_variant_lite cell(uint32_t{7});
  cell.m_text = "stale";
  cell.m_max_len = 3;
  make_bytes_cell(cell, block, 5, vt_bytes_hex);
  EXPECT_EQ(cell.m_type, vt_bytes_hex);
  EXPECT_EQ(cell.m_max_len, 20);
  EXPECT_EQ(cell.m_bytes, byte_array(block, block + 5));
  EXPECT_TRUE(cell.m_text.empty());
  EXPECT_EQ(cell.m_number, 0u);
}
