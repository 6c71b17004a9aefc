#include "cmdline/path_alias.h"

#include <gtest/gtest.h>

using namespace vk;

TEST(ApplyPathAlias, WholePathsThenPrefixesInKeyOrder) {
  cmd_params s;
  std::string out = "stale";
  const std::string path = "C:\\Users\\bob\\a.lnk";
  EXPECT_EQ(&apply_path_alias(s, out, path), &path);
  EXPECT_EQ(out, "");

  s.m_aliases["c:\\temp\\x.txt"] = "/mnt/x.txt";
  s.m_alias_paths["c:\\users"] = "/mnt/u";
  struct row {
    std::string path, reported;
  };
  const row rows[] = {
      {"c:\\TEMP\\X.TXT", "/mnt/x.txt"},
      {"C:\\Temp\\x.txt.bak", "C:\\Temp\\x.txt.bak"},
      {"C:\\Users\\bob\\a.lnk", "/mnt/u\\bob\\a.lnk"},
      {"D:\\old\\C:\\Users\\x", "/mnt/u\\x"},
      {"C:\\Users", "C:\\Users"},  // a key must be shorter than the path
      {"", ""},
  };
  for (const row& r : rows) EXPECT_EQ(apply_path_alias(s, out, r.path), r.reported) << r.path;

  cmd_params nested;
  nested.m_alias_paths["c:\\a\\b"] = "/b";
  nested.m_alias_paths["c:\\a"] = "/a";
  EXPECT_EQ(apply_path_alias(nested, out, "c:\\a\\b\\c"), "/a\\b\\c");
}
