// The tool's own options and the AppID file.
#include "jumplist/vesk_options.h"

#include <gtest/gtest.h>

#include "temp_tree.h"

namespace vk {
namespace {

using vesk_test::temp_tree;

struct run {
  bool ok;
  std::vector<std::string> left;
  std::string err;
};

run parse(vesk_options& opts, std::vector<std::string> args) {
  args.insert(args.begin(), "vesk");
  testing::internal::CaptureStderr();
  const bool ok = parse_jumplist_options(opts, args, "ver: 0.64");
  run r{ok, {args.begin() + 1, args.end()}, testing::internal::GetCapturedStderr()};
  return r;
}

TEST(VeskOptions, OutputFormsAndFlags) {
  vesk_options plain;
  auto r = parse(plain, {"-idltimes", "-SLACK", "-show_offset", "file.bin"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.left, std::vector<std::string>{"file.bin"});
  EXPECT_TRUE(plain.m_multiline);
  EXPECT_FALSE(plain.m_header_pending);
  EXPECT_EQ(plain.m_separator, "");
  EXPECT_EQ(plain.m_replace_char, 0);
  EXPECT_EQ(plain.m_version, "ver: 0.64");
  EXPECT_TRUE(plain.m_idlist_times && plain.m_slack && plain.m_show_offset);
  EXPECT_TRUE(plain.m_show_target_mft);
  EXPECT_FALSE(plain.m_appid_mode);

  vesk_options csv;
  ASSERT_TRUE(parse(csv, {"-csv", "f"}).ok);
  EXPECT_TRUE(csv.m_csv);
  EXPECT_FALSE(csv.m_multiline);
  const std::string csv_separator = csv.m_separator;
  EXPECT_FALSE(csv_separator.empty());

  // "-appid" under "-pipe" takes no value and turns the column form on.
  vesk_options piped;
  r = parse(piped, {"-pipe", "-appid"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.left.empty());
  EXPECT_TRUE(piped.m_appid_mode && piped.m_csv);
  EXPECT_EQ(piped.m_separator, "|");
  EXPECT_EQ(piped.m_replace_char, '|');
  EXPECT_EQ(piped.m_replacement_char, ';');
  vesk_options piped_csv;
  ASSERT_TRUE(parse(piped_csv, {"-pipe", "-csv", "-appid"}).ok);
  EXPECT_EQ(piped_csv.m_separator, csv_separator);

  vesk_options path;
  r = parse(path, {"-appid", "D:\\tools\\a.exe"});
  EXPECT_TRUE(path.m_appid_mode);
  EXPECT_EQ(path.m_appid_path, "D:\\tools\\a.exe");
  EXPECT_TRUE(r.left.empty());
  vesk_options last;
  r = parse(last, {"-appid"});
  EXPECT_FALSE(last.m_appid_mode);
  EXPECT_EQ(r.left, std::vector<std::string>{"-appid"});
}

TEST(VeskOptions, AppIdFiles) {
  temp_tree dir;
  ASSERT_TRUE(dir.ok());
  dir.file("ids.txt",
           "// 5f7b5f1e01b83767|Comment\nx\r\n5f7b5f1e01b83767 | Pinned\n"
           "5f7b5f1e01b83767|Other\n15f7b5f1e01b83767|TooLong\nzz|NotHex\n"
           "1b4dd67f29cb1962 | Explorer | more\n");
  dir.file("semi.txt", "5f7b5f1e01b83767 ; Semi\n");
  dir.file("empty.txt", "");

  vesk_options opts;
  auto r = parse(opts, {"-appid_ref", dir.path("ids.txt"), "x"});
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(opts.m_appid_path, dir.path("ids.txt"));
  const appid_map want = {{0x5f7b5f1e01b83767u, "Pinned"}, {0x1b4dd67f29cb1962u, "Explorer"}};
  EXPECT_EQ(opts.m_appids, want);
  EXPECT_EQ(r.left, std::vector<std::string>{"x"});

  vesk_options semi;
  ASSERT_TRUE(parse(semi, {"-appid_separator", ";", "-appid_ref", dir.path("semi.txt")}).ok);
  EXPECT_EQ(semi.m_appids, (appid_map{{0x5f7b5f1e01b83767u, "Semi"}}));

  for (const char* name : {"missing.txt", "empty.txt"}) {
    vesk_options bad;
    r = parse(bad, {"-appid_ref", dir.path(name)});
    EXPECT_FALSE(r.ok) << name;
    EXPECT_EQ(r.err, "Probs reading AppID file " + dir.path(name) + ", aborting \n");
  }

  // With "-appid_ref" given, "-translate_appid" stays for the input name.
  vesk_options both;
  r = parse(both, {"-appid_ref", dir.path("ids.txt"), "-translate_appid"});
  EXPECT_EQ(r.left, std::vector<std::string>{"-translate_appid"});
  // Alone, it reads appids.txt beside the program; when absent the run goes
  // on, told which file was missed.
  vesk_options beside;
  r = parse(beside, {"-translate_appid"});
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.left.empty());
  EXPECT_NE(beside.m_appid_path.find("/appids.txt"), std::string::npos);
  EXPECT_EQ(r.err, "can't read AppID file: " + beside.m_appid_path +
                       " (No such file or directory), AppIDs are shown without names\n");
}

}  // namespace
}  // namespace vk
