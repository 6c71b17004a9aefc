#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "foundation/vk_dir_node.h"
#include "foundation/vk_path.h"

namespace {

TEST(SplitWpathStemExt, DirectoryStemAndExtension) {
  struct row {
    const wchar_t* path;
    bool ok;
    const wchar_t* dir;
    const wchar_t* stem;
    const wchar_t* ext;  // "keep" when left untouched
  } rows[] = {
      {L"/data/archive.tar.gz", true, L"/data", L"archive.tar", L"gz"},
      {L"c:\\x\\report.txt", true, L"c:\\x", L"report", L"txt"},
      {L"/data/noext", true, L"/data", L"noext", L"keep"},
      {L"/data/trailing.", true, L"/data", L"trailing", L""},
      {L"/data/.hidden", true, L"/data", L"", L"hidden"},
  };
  for (const auto& r : rows) {
    std::wstring dir;
    std::wstring stem = L"old";
    std::wstring ext = L"keep";
    EXPECT_EQ(vk::split_wpath_stem_ext(r.path, dir, stem, ext), r.ok);
    EXPECT_EQ(dir, r.dir);
    EXPECT_EQ(stem, r.stem);
    EXPECT_EQ(ext, r.ext);
  }
  std::wstring dir;
  std::wstring stem = L"old";
  std::wstring ext = L"keep";
  EXPECT_FALSE(vk::split_wpath_stem_ext(L"", dir, stem, ext));
  EXPECT_EQ(stem, L"");
  EXPECT_EQ(ext, L"keep");
}

}  // namespace

#include <algorithm>
#include <cwchar>
#include <vector>

#include "testing/temp_tree.h"

namespace {

TEST(DirNode, ModeWordConvention) {
  struct row {
    uint32_t mode;
    uint8_t using_st_mode;
    bool dir;
  } rows[] = {
      {2, 1, true},       {2, 0, true},        {0, 1, false},       {1, 1, false},
      {8, 1, false},      {040755, 1, true},   {0100644, 1, false}, {020600, 1, false},
      {040755, 0, false}, {0100644, 0, false},
  };
  for (const auto& r : rows) {
    vkportdir::_DIR_NODE n;
    vkportdir::_DIR_NODE_STL s;
    EXPECT_EQ(n.m_using_st_mode_flags, 1);
    EXPECT_EQ(s.m_using_st_mode_flags, 1);
    n.mode = s.mode = r.mode;
    n.m_using_st_mode_flags = s.m_using_st_mode_flags = r.using_st_mode;
    EXPECT_EQ(n.is_dir(), r.dir) << r.mode << " " << int(r.using_st_mode);
    EXPECT_EQ(s.is_dir(), r.dir) << r.mode << " " << int(r.using_st_mode);
  }
}

TEST(DirNode, ValueConstructorsAndBoundedBuffers) {
  vkportdir::_DIR_NODE n(L"report.final.txt", 7, 10, 2, 3, 4, 5, 6, 0x1ff);
  EXPECT_STREQ(n.name, L"report.final.txt");
  EXPECT_EQ(n.extension, L"txt");
  EXPECT_EQ(n.extra_value, 7u);
  EXPECT_EQ(n.size, 10u);
  EXPECT_EQ(n.mode, 2u);
  EXPECT_EQ(n.created, 3u);
  EXPECT_EQ(n.altered, 4u);
  EXPECT_EQ(n.mft_changed, 5u);
  EXPECT_EQ(n.accessed, 6u);
  EXPECT_EQ(n.permissions, 0x1ffu);
  vkportdir::_DIR_NODE m(L"noext", 1, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(m.extra_value, 0u);
  EXPECT_EQ(m.extension, L"");
  vkportdir::_DIR_NODE big(std::wstring(600, L'n') + L".x", 0, 0, 0, 0, 0, 0, 0);
  EXPECT_STREQ(big.name, L"");
  EXPECT_EQ(big.extension, L"x");
  vkportdir::_DIR_NODE edge(std::wstring(511, L'e'), 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(std::wcslen(edge.name), 511u);
}

TEST(DirNode, FilledFromTheFileSystem) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("logs.old");
  t.dir("plain");
  t.file("notes.txt", "0123456789");
  vkportdir::_DIR_NODE d;
  ASSERT_TRUE(d.from_path(t.path("logs.old")));
  EXPECT_TRUE(d.is_dir());
  EXPECT_STREQ(d.name, L"logs.old");
  EXPECT_EQ(d.extension, L"");
  EXPECT_EQ(vk::path_from_wide(d.directory), t.root());
  ASSERT_TRUE(d.from_path(t.path("plain")));
  EXPECT_STREQ(d.name, L"plain");
  vkportdir::_DIR_NODE f;
  ASSERT_TRUE(f.from_path_w(vk::path_to_wide(t.path("notes.txt"))));
  EXPECT_FALSE(f.is_dir());
  EXPECT_STREQ(f.name, L"notes");
  EXPECT_EQ(f.extension, L"txt");
  EXPECT_EQ(f.size, 10u);
  EXPECT_FALSE(f.from_path(t.path("missing")));
  EXPECT_STREQ(f.name, L"");
  EXPECT_EQ(f.size, 0u);

  // The UTF-8 record: a directory keeps its dotted name, a file is split.
  struct row {
    const char* rel;
    bool dir;
    const char* name;
    const char* ext;
  } rows[] = {{"logs.old", true, "logs.old", ""},
              {"plain", true, "plain", ""},
              {"notes.txt", false, "notes", "txt"}};
  for (const auto& r : rows) {
    vkportdir::_DIR_NODE_STL s;
    const std::string p = t.path(r.rel);
    ASSERT_TRUE(s.from_path(p.c_str())) << r.rel;
    EXPECT_EQ(s.is_dir(), r.dir) << r.rel;
    EXPECT_EQ(s.directory, t.root()) << r.rel;
    EXPECT_EQ(s.name, r.name) << r.rel;
    EXPECT_EQ(s.extension, r.ext) << r.rel;
    EXPECT_EQ(s.full_path, p);
  }
  vkportdir::_DIR_NODE_STL s;
  EXPECT_FALSE(s.from_path(nullptr));
  EXPECT_FALSE(s.from_path(t.path("missing").c_str()));
  EXPECT_EQ(s.full_path, "");
  uint64_t size = 1, change = 1, modify = 1, access = 1;
  uint32_t mode = 1;
  EXPECT_FALSE(vkportdir::path_stat_times_cstr(nullptr, size, mode, change, modify, access));
  EXPECT_EQ(size + mode + change + modify + access, 0u);
  EXPECT_TRUE(vkportdir::path_stat_times_cstr(t.path("notes.txt").c_str(), size, mode, change,
                                              modify, access));
  EXPECT_EQ(size, 10u);
}

TEST(DirNodeStl, ValuesConversionAndOrder) {
  // From a path and values: the name keeps its extension; a missing dot is
  // not invented.
  vkportdir::_DIR_NODE_STL a(std::string("/Data/Report.TXT"), 10, 7, 3, 0100644, 1, 2, 3, 4, 0644);
  EXPECT_EQ(a.full_path_lower, "/data/report.txt");
  EXPECT_EQ(a.directory, "/Data");
  EXPECT_EQ(a.name, "Report.TXT");
  EXPECT_EQ(a.extension, "TXT");
  EXPECT_EQ(a.extra_value, 7u);
  EXPECT_EQ(a.tag, 3u);
  vkportdir::_DIR_NODE_STL b(L"/data/noext", 1, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.name, "noext");
  EXPECT_EQ(b.extension, "");
  EXPECT_EQ(b.extra_value, 0u);

  // From the wide record: '/' between directory and name, '.' only before
  // an extension.
  const struct {
    const wchar_t* dir;
    const wchar_t* name;
    const wchar_t* ext;
    const char* full;
  } joins[] = {
      {L"/srv/docs", L"README", L"", "/srv/docs/README"},
      {L"/srv/docs", L"report", L"TXT", "/srv/docs/report.TXT"},
      {L"/srv/docs/", L"a", L"b", "/srv/docs/a.b"},
      {L"/", L"etc", L"", "/etc"},
      {L"", L"loose", L"c", "loose.c"},
  };
  for (const auto& j : joins) {
    vkportdir::_DIR_NODE n(L"x", 5, 9, 0100644, 1, 2, 3, 4, 0600);
    std::wcscpy(n.directory, j.dir);
    std::wcscpy(n.name, j.name);
    n.extension = j.ext;
    vkportdir::_DIR_NODE_STL c(n);
    EXPECT_EQ(c.full_path, j.full);
    std::string lower = j.full;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(c.full_path_lower, lower);
    EXPECT_EQ(c.size, 9u);
    EXPECT_EQ(c.extra_value, 5u);
  }
  vkportdir::_DIR_NODE_STL c;
  c.tag = 4;
  c = vkportdir::_DIR_NODE(L"Two.Log", 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(c.full_path, "Two.Log.Log");
  EXPECT_EQ(c.tag, 0u);

  // Predicates.
  vkportdir::_DIR_NODE x(L"ABC", 0, 0, 5, 0, 0, 0, 0);
  vkportdir::_DIR_NODE y(L"abd", 0, 0, 6, 0, 0, 0, 0);
  vkportdir::_DIR_NODE z(L"abc", 0, 0, 5, 0, 0, 0, 0);
  EXPECT_TRUE(vkportdir::dir_node_created_less(x, y));
  EXPECT_FALSE(vkportdir::dir_node_created_less(x, z));
  EXPECT_TRUE(vkportdir::dir_node_name_equal(x, z));
  EXPECT_TRUE(vkportdir::dir_node_name_less(x, y));
  EXPECT_FALSE(vkportdir::dir_node_name_less(y, x));
  std::vector<vkportdir::_DIR_NODE_STL> v{a, b};
  std::sort(v.begin(), v.end(), vkportdir::dir_node_stl_path_less);
  EXPECT_EQ(v[0].full_path, "/Data/Report.TXT");
  EXPECT_TRUE(vkportdir::dir_node_stl_path_equal(a, v[0]));
  EXPECT_FALSE(vkportdir::dir_node_stl_path_equal(a, b));
}

TEST(DirNodeStl, AttributeText) {
  vkportdir::_DIR_NODE_STL n(L"/d/r.txt", 10, 0100644, 86400, 0, 0x5f5e100, 0, 0x1a4);
  std::string text = "before\n";
  vkportdir::dir_node_attribute_text(n, text);
  EXPECT_EQ(text,
            "before\n"
            "path:         /d\n"
            "filename:     r.txt\n"
            "ext:          txt\n"
            "file size     0000000a\n"
            "flags:        81a4 [regular]\n"
            "created:      0000000000015180 [70-01-02 00:00:00]\n"
            "altered:      0000000000000000 [00/00/00 00:00:00]\n"
            "mft changed:  0000000005f5e100 [73-03-03 09:46:40]\n"
            "accessed:     0000000000000000 [00/00/00 00:00:00]\n"
            "permissions:  000001a4\n");
  const struct {
    uint32_t mode;
    const char* flags;
  } kinds[] = {{040755, "flags:        41ed [directory]\n"},
               {020600, "flags:        2180 [char special]\n"},
               {2, "flags:        0002 []\n"}};
  for (const auto& k : kinds) {
    n.mode = k.mode;
    text.clear();
    vkportdir::dir_node_attribute_text(n, text);
    EXPECT_NE(text.find(k.flags), std::string::npos) << text;
  }
}

}  // namespace
