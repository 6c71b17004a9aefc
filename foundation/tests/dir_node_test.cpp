#include <string>

#include <gtest/gtest.h>

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

#include <cwchar>

#include "testing/temp_tree.h"

namespace {

TEST(DirNode, ModeWordConvention) {
  struct row {
    uint32_t mode;
    uint8_t using_st_mode;
    bool dir;
  } rows[] = {
      {2, 1, true},       {2, 0, true},      {0, 1, false},      {1, 1, false},
      {8, 1, false},      {040755, 1, true}, {0100644, 1, false}, {020600, 1, false},
      {040755, 0, false}, {0100644, 0, false},
  };
  for (const auto& r : rows) {
    vkportdir::_DIR_NODE n;
    EXPECT_EQ(n.m_using_st_mode_flags, 1);
    n.mode = r.mode;
    n.m_using_st_mode_flags = r.using_st_mode;
    EXPECT_EQ(n.is_dir(), r.dir) << r.mode << " " << int(r.using_st_mode);
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
}

}  // namespace
