// The "-diags" list writers, the host lines, paired replacement and the
// number readers at their range limits.
#include "cmdline/report_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/progress.h"

namespace {

TEST(ReportHelpers, LogWritersHostLinesAndReplacements) {
  const auto path = std::filesystem::temp_directory_path() / "vesk_report_helpers_log.txt";
  vk::cmd_params settings;
  settings.m_command_line = "cmd";
  vk::diags_log_joined(settings, {"off"});  // logging off: nothing, no crash
  ASSERT_TRUE(vk::open_diags_log(settings, path.string()));
  vk::diags_log_joined(settings, {"a", "b"});
  vk::diags_log_replaced(settings, "x=%k; y=%k", "%k", {"1", "2"});
  vk::diags_log_quoted(settings, {"p", "two words"});
  vk::diags_log_format(settings, {"t", "u"}, "n=%d", 5);
  settings.close_log();
  std::ifstream in(path);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str(), "->cmd\n->a; b\n->x=1; 2; y=1; 2\n->p \"two words\"\n->t;u : n=5\n");
  std::filesystem::remove(path);

  vk::host_info host;
  host.m_system_name = "Linux";
  host.m_version = "#1";
  host.m_release = "6.1";
  host.m_is_64bit = 1;
  std::ostringstream os;
  vk::write_host_info(host, os);
  EXPECT_EQ(os.str(), "os       : Linux\nversion  : #1\nbuild    : 6.1\nmachine  : 64 bit\n");
  vk::write_hex_list({0x0A, 0xFF}, os);
  EXPECT_EQ(os.str().substr(os.str().size() - 5), "0a ff");

  std::string text = "cat dog cat";
  EXPECT_TRUE(vk::replace_lists(text, {"cat", "dog"}, {"dog", "bird"}));
  EXPECT_EQ(text, "bird bird bird");  // in list order
  EXPECT_FALSE(vk::replace_lists(text, {"bird", ""}, {"x", "y"}));
  EXPECT_FALSE(vk::replace_lists(text, {"bird"}, {}));
  EXPECT_EQ(text, "bird bird bird");

  const char* argv[] = {"a,b", "c", nullptr, "d,,e"};
  std::vector<std::string> pieces;
  EXPECT_TRUE(vk::split_joined_args(pieces, 4, argv, ','));
  EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b c  d", "e"}));
  EXPECT_TRUE(vk::split_joined_args(pieces, 4, argv, ' '));
  EXPECT_EQ(pieces, (std::vector<std::string>{"a,b", "c", "d,,e"}));

  float f = 0;
  EXPECT_TRUE(vk::parse_float_text("1.5", &f));
  EXPECT_EQ(f, 1.5f);
  EXPECT_FALSE(vk::parse_float_text("1e300", &f));
  uint32_t u = 0;
  EXPECT_TRUE(vk::parse_uint_narrowed(std::wstring(1, static_cast<wchar_t>(0x1234)) + L"7", &u));
  EXPECT_EQ(u, 47u);  // 0x1234 cut to 0x34, "4"
  uint64_t q = 0;
  EXPECT_TRUE(vk::parse_u64_wide(L"0x10", &q));
  EXPECT_EQ(q, 16u);
  const uint16_t units[] = {'h', 'i', 0, 'x'};
  std::string out;
  EXPECT_EQ(vk::utf16_to_utf8_count(units, 4, out), 3u);
  EXPECT_EQ(out, "hi");
  std::wstring w;
  EXPECT_TRUE(vk::replace_first_w_copy(w, L"aXa", L"x", L"yy", true));
  EXPECT_EQ(w, L"ayya");
  vk::html_escape_assign(out, "<b>");
  EXPECT_EQ(out, "&lt;b&gt;");
}

}  // namespace
