// Set algebra, byte searches, the title line and the tab-expanding copy.
#include "cmdline/text_utils/lists_sets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "temp_tree.h"

using namespace vk;
using strings = std::vector<std::string>;
using u64s = std::vector<uint64_t>;

TEST(ListsSets, DuplicatesJoinsAndSetAlgebra) {
  strings list = {"b", "a", "b", "c", "a"};
  dedupe_keep_first(list);
  EXPECT_EQ(list, (strings{"b", "a", "c"}));
  list = {"B", "b"};  // case matters
  dedupe_keep_first(list);
  EXPECT_EQ(list.size(), 2u);

  std::string out = "old";
  EXPECT_EQ(join_set(out, {"a", "b"}, ", ", false), "a, b");
  EXPECT_EQ(join_set(out, {"", "a", "b"}, ",", false), ",a,b");
  EXPECT_EQ(join_set(out, {"", "a", "b,"}, ",", true), "a,b,");  // a value's own ',' stays

  strings diff = {"keep"};
  EXPECT_EQ(set_difference_texts({"B", "a", "c", "a"}, {"b"}, diff, true), 1);
  EXPECT_EQ(diff, (strings{"keep", "a", "c"}));
  diff.clear();
  set_difference_texts({"B", "a"}, {"b"}, diff, false);
  EXPECT_EQ(diff, (strings{"B", "a"}));

  u64s v = {7};
  EXPECT_TRUE(union_u64_sets(v, {1, 3}, {2, 3}));
  EXPECT_EQ(v, (u64s{1, 2, 3}));
  EXPECT_FALSE(union_u64_sets(v, {1}, {}));
  EXPECT_EQ(v, (u64s{1}));
  EXPECT_FALSE(union_u64_sets(v, {}, {}));
  EXPECT_TRUE(v.empty());

  EXPECT_EQ(intersect_u64_sets(v, {1, 2, 3}, {2, 9}), 1u);
  EXPECT_EQ(v, (u64s{2}));
  // The intersection with an empty set is empty, whichever side it is on.
  for (const auto& [a, b] : std::vector<std::pair<std::set<uint64_t>, std::set<uint64_t>>>{
           {{4, 5}, {}}, {{}, {1}}, {{}, {}}, {{1, 2}, {3}}}) {
    v = {7};
    EXPECT_EQ(intersect_u64_sets(v, a, b), 0u);
    EXPECT_TRUE(v.empty());
  }
}

TEST(ListsSets, ByteSearches) {
  const std::string data = "xxabcabd";
  const auto* d = reinterpret_cast<const uint8_t*>(data.data());
  struct Case {
    std::string pattern;
    bool found;
    uint64_t offset;
  } cases[] = {{"abd", true, 5}, {"xxabcabd", true, 0}, {"abc", true, 2},
               {"d", true, 7},   {"abe", false, 0},     {"xxabcabdx", false, 0}};
  for (const auto& c : cases) {
    uint64_t off = 99;
    const auto* p = reinterpret_cast<const uint8_t*>(c.pattern.data());
    EXPECT_EQ(horspool_search(off, d, data.size(), p, static_cast<uint32_t>(c.pattern.size())),
              c.found)
        << c.pattern;
    EXPECT_EQ(off, c.offset) << c.pattern;
    off = 99;
    EXPECT_EQ(find_bytes_in_range(off, d, d + data.size(), c.pattern, 0x1000), c.found);
    EXPECT_EQ(off, c.found ? 0x1000 + c.offset : 0) << c.pattern;
  }
  uint64_t off = 5;
  EXPECT_FALSE(horspool_search(off, d, data.size(), d, 0));
  EXPECT_FALSE(horspool_search(off, nullptr, 4, d, 1));
  EXPECT_FALSE(find_bytes_in_range(off, d, d + data.size(), "", 0));
}

TEST(ListsSets, JsonPairsAndTitleLines) {
  std::ostringstream js;
  write_json_pairs(js, {{"b", "2"}, {"a", "1"}}, ',');
  EXPECT_EQ(js.str(), "\"a\":\"1\", \"b\":\"2\"");

  std::ostringstream os;
  std::vector<uint32_t> ends = {9}, widths = {4, 2};
  std::map<std::string, uint32_t> titles;
  ASSERT_TRUE(write_title_line(os, ends, titles, widths, {"ID", "Name"}, " | ", false));
  EXPECT_EQ(os.str(), "ID   | Name   ");
  EXPECT_EQ(widths, (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(ends, (std::vector<uint32_t>{0, 7, 14}));
  EXPECT_EQ(titles, (std::map<std::string, uint32_t>{{"id", 4}, {"name", 4}}));

  // A width list of the wrong size is ignored; equal keys keep the larger width.
  os.str("");
  widths = {9};
  ASSERT_TRUE(write_title_line(os, ends, titles, widths, {" A", "a  x", "a"}, ",", true));
  EXPECT_EQ(os.str(), " A,a  x,a   \n");
  EXPECT_EQ(titles.at("a"), 2u);
  EXPECT_FALSE(write_title_line(os, ends, titles, widths, {}, ",", true));

  std::ostringstream ws;
  std::map<std::wstring, uint32_t> wtitles;
  widths = {3, 1};
  ASSERT_TRUE(write_title_line_w(ws, ends, wtitles, widths, {L"\u00e9", L"Zz"}, L"\u00b7"));
  EXPECT_EQ(ws.str(), "\xc3\xa9  \xc2\xb7Zz\n");
  EXPECT_EQ(ends, (std::vector<uint32_t>{0, 5, 9}));
  EXPECT_EQ(wtitles.at(L"zz"), 2u);
}

namespace {
std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TEST(ListsSets, ExpandTabsFile) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("tab.txt", "a\tb\n");
  tree.file("plain.txt", "no tabs\n");
  const std::string tab = tree.path("tab.txt"), plain = tree.path("plain.txt");

  EXPECT_TRUE(expand_tabs_file(tab, tree.path("out1"), 0, false));
  EXPECT_EQ(slurp(tree.path("out1")), "a   b\n");     // stops at multiples of 4
  EXPECT_FALSE(expand_tabs_file(tab, "", 4, false));  // a TAB needs an output
  EXPECT_TRUE(expand_tabs_file(plain, tree.path("out2"), 4, false));
  EXPECT_EQ(slurp(tree.path("out2")), "no tabs\n");
  EXPECT_TRUE(expand_tabs_file(plain, plain, 4, false));
  EXPECT_EQ(slurp(plain), "no tabs\n");
  EXPECT_TRUE(expand_tabs_file(plain, "", 4, false));
  EXPECT_TRUE(expand_tabs_file(tab, tab, 8, false));  // in place
  EXPECT_EQ(slurp(tab), "a       b\n");
  EXPECT_FALSE(expand_tabs_file(tree.path("missing"), tree.path("out3"), 4, false));
  EXPECT_FALSE(expand_tabs_file(plain, tree.path("no/such/dir/out"), 4, false));
}
