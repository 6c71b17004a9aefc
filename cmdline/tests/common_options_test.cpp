#include "cmdline/common_options.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "foundation/vk_console.h"
#include "posix_seam.h"
#include "temp_tree.h"

using namespace vk;

namespace {

struct parse_result {
  int status;
  std::vector<std::string> rest;  // what the parser left, program path included
  std::string err;
};

parse_result run(cmd_params& s, std::vector<std::string> args) {
  console_capture cap;
  args.insert(args.begin(), "prog");
  const int status = parse_common_options(s, args);
  return {status, args, cap.err()};
}

using words = std::vector<std::string>;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(CommonOptions, FormatOptionsFollowTheFixedOrderNotTheCommandLine) {
  for (const words& args : {words{"-csv", "-xml"}, words{"-xml", "-csv"}}) {
    cmd_params s;
    auto r = run(s, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.rest, words{"prog"});
    EXPECT_TRUE(s.m_xml);
    EXPECT_FALSE(s.m_csv);
    EXPECT_EQ(s.m_separator, "");
    EXPECT_EQ(s.m_header_pending, 0);
  }
  {
    cmd_params s;
    run(s, {"-CSV"});
    EXPECT_TRUE(s.m_csv);
    EXPECT_EQ(s.m_separator, ",");
    EXPECT_EQ(s.m_no_padding, 1);
  }
  {
    cmd_params s;
    auto r = run(s, {"-csvx"});
    EXPECT_FALSE(s.m_csv);
    EXPECT_EQ(r.rest, (words{"prog", "-csvx"}));
  }
  {
    cmd_params s;
    run(s, {"-csvgen", "-csvl2t"});
    EXPECT_TRUE(s.m_csvgen);
    EXPECT_TRUE(s.m_csvl2t);
  }
  {
    cmd_params s;
    run(s, {"-csv", "-pair_datetime"});
    EXPECT_EQ(s.m_no_padding, 0);
  }
  {
    // A value option standing last stops the run, named; of two occurrences
    // the last is taken, and differing values are said.
    cmd_params s;
    auto r = run(s, {"f", "-out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "option -out needs a value\n");
    EXPECT_FALSE(s.m_out_file_given);
    cmd_params t;
    r = run(t, {"-verbose", "-v", "-hostname", "a", "-HOSTNAME", "b", "-quiet", "-quiet"});
    EXPECT_EQ(t.m_host_name, "b");
    EXPECT_EQ(r.rest, (words{"prog", "-v"}));
    EXPECT_EQ(r.err, "option -hostname given more than once: using b\n");
    cmd_params u;
    r = run(u, {"-filter", "*.lnk", "-filter", "*.ms", "-username", "x", "-username", "x"});
    EXPECT_EQ(u.m_filters.size(), 2u);
    EXPECT_EQ(r.err, "");
  }
  {
    cmd_params s;
    std::vector<std::string> args{"/opt/v1.2/vesk", "x y"};
    console_capture cap;
    EXPECT_EQ(parse_common_options(s, args), 1);
    EXPECT_EQ(s.m_program_name, "vesk");
    EXPECT_EQ(s.m_command_line, "/opt/v1.2/vesk \"x y\"");
    std::vector<std::string> none;
    EXPECT_EQ(parse_common_options(s, none), 0);
  }
}

TEST(CommonOptions, SeparatorAndTheCharacterReplacedInValues) {
  struct row {
    words args;
    std::string separator;
    char replaced, replacement;
  };
  const row rows[] = {
      {{"-csv_separator", "tab"}, "\t", '\t', ' '},
      {{"-csv_separator", ";"}, ";", ';', ','},
      {{"-csv_separator", " | "}, " | ", '|', ';'},
      {{"-csv_separator", " , ", "-no_whitespace"}, ",", ',', ' '},
      {{"-csv", "-csv_separator", "|"}, "|", '|', ';'},
      {{"-csv_separator", " | ", "-enable_quoted_csv_fields"}, "|", 0, ';'},
  };
  for (const row& r : rows) {
    cmd_params s;
    run(s, r.args);
    EXPECT_EQ(s.m_separator, r.separator) << r.args[1];
    EXPECT_EQ(s.m_replace_char, r.replaced) << r.args[1];
    EXPECT_EQ(s.m_replacement_char, r.replacement) << r.args[1];
  }
}

TEST(CommonOptions, AliasPairs) {
  const std::string imbalanced = "imbalanced alias to true pathfiles, aborting\n";
  for (const words& args :
       {words{"-alias", "a|b|c"}, words{"-aliaspath", "C:\\Users"}, words{"-alias", ""}}) {
    cmd_params s;
    auto r = run(s, args);
    EXPECT_EQ(r.status, 0) << args[1];
    EXPECT_EQ(r.err, imbalanced);
  }
  for (const words& args :
       {words{"-alias", "  "}, words{"-aliaspath", "  "}, words{"-aliaspath", ""}}) {
    cmd_params s;
    auto r = run(s, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(s.m_aliases.empty() && s.m_alias_paths.empty());
  }
  cmd_params s;
  ::setenv("VESK_TEST_MNT", "/mnt", 1);
  run(s, {"-alias", "C:\\Users|%VESK_TEST_MNT%/u| c:\\USERS |/other", "-aliaspath",
          "C:/Users/|\"/mnt/u/\""});
  EXPECT_EQ(s.m_aliases, (std::map<std::string, std::string>{{"c:\\users", "/mnt/u"}}));
  EXPECT_EQ(s.m_alias_paths, (std::map<std::string, std::string>{{"c:/users", "/mnt/u"}}));

  // A self-referring variable ends its expansion.
  ::setenv("VESK_TEST_LOOP", "%VESK_TEST_LOOP%", 1);
  cmd_params looped;
  EXPECT_EQ(run(looped, {"-enumdir", "%VESK_TEST_LOOP%"}).status, 1);
  EXPECT_TRUE(looped.m_enum_dir_given);
}

TEST(CommonOptions, FilterListsAndSignatures) {
  struct sig_row {
    std::string value;
    std::vector<uint8_t> bytes;  // empty: nothing stored
    uint64_t offset;
  };
  const sig_row rows[] = {
      {"4d 5a", {0x4d, 0x5a}, 0},     {"4d 5a|0x200", {0x4d, 0x5a}, 512},
      {"4d 5a,16", {0x4d, 0x5a}, 16}, {"4d|5a|7", {0x4d}, 0},
      {"1ff zz", {0xff, 0x00}, 0},    {"   ", {}, 0},
  };
  for (const sig_row& r : rows) {
    cmd_params s;
    run(s, {"-filter_sig", r.value});
    if (r.bytes.empty()) {
      EXPECT_TRUE(s.m_filters.empty()) << r.value;
      continue;
    }
    ASSERT_EQ(s.m_filters.size(), 1u) << r.value;
    EXPECT_EQ(s.m_filters[0].m_signature, r.bytes) << r.value;
    EXPECT_EQ(s.m_filters[0].m_signature_offset, r.offset) << r.value;
  }

  cmd_params s;
  auto r = run(s, {"-filter_skip", "*.tmp", "-filter", "*.lnk", "-filter_skip", "a|b",
                   "-filter_path", "/Data"});
  EXPECT_EQ(r.rest, words{"prog"});
  ASSERT_EQ(s.m_skip_filters.size(), 3u);
  EXPECT_EQ(s.m_skip_filters[0].m_filter_path, L"/data");
  EXPECT_EQ(s.m_skip_filters[0].m_filter_path_length, 5u);
  ASSERT_EQ(s.m_filters.size(), 1u);
  EXPECT_EQ(s.m_filters[0].m_filter_path_length, 0u);

  cmd_params t;
  run(t, {"-filter", "*.lnk", "-filter_path", "/Data", "-filter_sig", "4c"});
  ASSERT_EQ(t.m_filters.size(), 2u);
  EXPECT_EQ(t.m_filters[0].m_filter_path, L"/data");
  EXPECT_EQ(t.m_filters[1].m_signature, std::vector<uint8_t>{0x4c});
}

TEST(CommonOptions, TimeWindow) {
  const uint64_t all64 = std::numeric_limits<uint64_t>::max();
  {
    cmd_params s;
    auto r = run(s, {"-cmd_start_time", "2021-03-04"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(s.m_start_set);
    EXPECT_EQ(s.m_start_time, 132592896000000000u);
    EXPECT_EQ(s.m_start_unix, 1614816000u);
    EXPECT_TRUE(s.m_stop_set);
    EXPECT_EQ(s.m_stop_time, all64);
    EXPECT_EQ(s.m_stop_unix, 0xFFFFFFFFu);
  }
  {
    cmd_params s;
    run(s, {"-cmd_stop_time", "2021/03/04"});
    EXPECT_FALSE(s.m_start_set);
    EXPECT_TRUE(s.m_stop_set);
    EXPECT_EQ(s.m_stop_time, 132593759990000000u);
  }
  // A value without a date separator is said and ignored; the run goes on.
  for (const auto& [option, end] :
       {std::pair{"-cmd_start_time", "start"}, std::pair{"-cmd_stop_time", "stop"}}) {
    cmd_params s;
    auto r = run(s, {option, "20210304"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("invalid ") + end + " time, ignoring\n");
    EXPECT_FALSE(s.m_start_set);
    EXPECT_FALSE(s.m_stop_set);
  }
  {
    cmd_params s;
    auto r =
        run(s, {"-cmd_start_time", "2021-03-04 10:00:00", "-cmd_stop_time", "2021-03-04 10:00:00"});
    EXPECT_TRUE(s.m_stop_set);
    EXPECT_EQ(s.m_stop_time, s.m_start_time);
    EXPECT_EQ(r.err, "");
    cmd_params t;
    r = run(t, {"-cmd_start_time", "2021-03-04 10:00:00", "-cmd_stop_time", "2021-03-04 09:59:59"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid stop time, ignoring\n");
    EXPECT_TRUE(t.m_start_set);
    EXPECT_FALSE(t.m_stop_set);
    EXPECT_EQ(t.m_stop_time, 0u);
  }
  // Years without a tick count, or before the valid range, switch the start
  // off; outside 1970..2106 the 32-bit unix form is clamped, not wrapped.
  for (const char* date : {"1850-01-01", "40000-01-01", "1970-01-01"}) {
    cmd_params s;
    auto r = run(s, {"-cmd_start_time", date});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid start time, ignoring\n") << date;
    EXPECT_FALSE(s.m_start_set);
    EXPECT_FALSE(s.m_stop_set);
  }
  {
    cmd_params s;
    run(s, {"-cmd_start_time", "1960-01-01", "-cmd_stop_time", "2200-01-01"});
    EXPECT_TRUE(s.m_start_set);
    EXPECT_EQ(s.m_start_unix, 0u);
    EXPECT_TRUE(s.m_stop_set);
    EXPECT_EQ(s.m_stop_unix, 0xFFFFFFFFu);
  }
}

TEST(CommonOptions, LayoutsRefusedOptionsAndAnUnopenableOutput) {
  {
    cmd_params s;
    auto r = run(s, {"-timeformat", "hh:mm:ss.x", "-dateformat", "MM/DD/YYYY"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "invalid hh:mm:ss.x, using default format\n");
    EXPECT_EQ(s.m_time_format, "hh:mm:ss.xxx");
    EXPECT_EQ(s.m_date_format, "mm/dd/yyyy");
  }
  {
    cmd_params s;
    auto r = run(s, {"-timeformat", "HH:MM:SS.XXXXXX", "-dateformat", "yyyy-mm-d"});
    EXPECT_EQ(s.m_time_format, "hh:mm:ss.xxxxxx");
    EXPECT_EQ(s.m_date_format, "yyyy-mm-dd");
    EXPECT_EQ(r.err, "invalid yyyy-mm-d, using default format\n");
  }
  for (const char* option : {"-sqlite", "-sqlite_log"}) {
    cmd_params s;
    auto r = run(s, {option, "x"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "This option is not offered in this build\n");
  }
  cmd_params s;
  auto r = run(s, {"-out", "/no/such/dir/r"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "prob opening file /no/such/dir/r for output (No such file or directory), aborting\n");
}

TEST(CommonOptions, OutputProbeHarmsNothingThatExists) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("report.txt", "earlier report");
  tree.file("target.txt", "target");
  tree.symlink(tree.path("target.txt"), "link.txt");

  cmd_params fresh;
  // Written with '\', stored with '/'.
  auto r = run(fresh, {"-out", tree.root() + "\\new.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fresh.m_out_file, tree.path("new.txt"));
  EXPECT_FALSE(std::filesystem::exists(tree.path("new.txt")));
  {
    // Nothing is made to look: a name made and removed again may lead to
    // someone else's file by the time it is removed.
    static int made = 0;
    vk::posix_calls calls = vk::system_posix_calls();
    calls.open = [](const char* p, int f, mode_t m) {
      made += (f & O_CREAT) != 0;
      return vk::system_posix_calls().open(p, f, m);
    };
    vk::scoped_posix_calls seam(calls);
    cmd_params probed;
    EXPECT_EQ(run(probed, {"-out", tree.path("new.txt")}).status, 1);
    EXPECT_EQ(made, 0);
  }

  for (const char* name : {"report.txt", "link.txt"}) {
    cmd_params s;
    // Probing an existing file costs it nothing, whatever follows.
    r = run(s, {"-out", tree.path(name), "-append", "-cmd_start_time", "20210304"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.rest, (words{"prog", "-append"}));
  }
  EXPECT_EQ(file_text(tree.path("report.txt")), "earlier report");
  EXPECT_TRUE(std::filesystem::is_symlink(tree.path("link.txt")));
  EXPECT_EQ(file_text(tree.path("target.txt")), "target");

  cmd_params s;
  r = run(s, {"-outfile", "/dev/null"});
  EXPECT_EQ(r.status, 1);
  struct stat st;
  ASSERT_EQ(::lstat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}
