#include "cmdline/cmd_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cmdline/filter_entry.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A log file in a private temporary folder, removed afterwards.
class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.ok());
    m_path = m_dir.path("diags.log");
  }

  // What the option parser does for "-diags".
  void open_log(cmd_params& p) {
    p.m_log_path = m_path;
    p.m_log = new std::ofstream(m_path, std::ios::out | std::ios::trunc);
    ASSERT_TRUE(p.m_log->good());
    p.m_log_on = 1;
  }

  vesk_test::temp_tree m_dir;
  std::string m_path;
};

}  // namespace

TEST(SettingsDefaults, FreshObjectHoldsEveryDefault) {
  cmd_params p(0x01D0000000000000ull);
  EXPECT_EQ(p.m_created, 0x01D0000000000000ull);
  EXPECT_EQ(p.m_date_format, "yyyy-mm-dd");
  EXPECT_EQ(p.m_time_format, "hh:mm:ss.xxx");
  EXPECT_EQ(p.m_separator, " | ");
  EXPECT_EQ(p.m_replace_char, '|');
  EXPECT_EQ(p.m_replacement_char, ';');
  EXPECT_EQ(p.m_hex_numbers, 1);
  EXPECT_EQ(p.m_cell_blank, 1);
  EXPECT_EQ(p.m_status_messages, 1);
  EXPECT_EQ(p.m_verbose, 1);
  EXPECT_EQ(p.m_row_line_break, 1);
  EXPECT_EQ(p.m_header_pending, 1);
  EXPECT_EQ(p.m_no_padding, 0);
  EXPECT_EQ(p.m_cpu_instance, -1);
  EXPECT_EQ(p.m_time_settings.m_min_year, 1900);
  EXPECT_EQ(p.m_time_settings.m_max_year, 2600);
  EXPECT_TRUE(p.m_time_settings.m_descriptor.is_zero());
  EXPECT_EQ(p.m_time_settings.m_reserved, 0u);
  EXPECT_EQ(p.m_xml + p.m_csv + p.m_csvl2t + p.m_csvgen + p.m_bodyfile + p.m_multiline, 0);
  EXPECT_EQ(p.m_log_on, 0);
  EXPECT_EQ(p.m_log, nullptr);
  EXPECT_EQ(p.m_capture, nullptr);
  EXPECT_EQ(p.m_row_target, nullptr);
  EXPECT_EQ(p.m_file_callback_on, 0);
  EXPECT_EQ(p.m_file_callback, nullptr);
  EXPECT_EQ(p.m_start_set + p.m_stop_set, 0);
  EXPECT_EQ(p.m_stop_time, 0u);
  EXPECT_TRUE(p.m_filters.empty() && p.m_skip_filters.empty() && p.m_columns.empty());
  EXPECT_TRUE(p.m_command_line.empty() && p.m_out_file.empty() && p.m_enum_dir.empty());

  cmd_params captured(5, true);
  ASSERT_NE(captured.m_capture, nullptr);
  captured.capture_stream() << "x";
  EXPECT_EQ(captured.m_capture->str(), "x");
  captured.reset_run_state();
  EXPECT_EQ(captured.m_capture->str(), "");
  // Without a capture, writes go to the process-wide null stream.
  p.capture_stream() << "ignored";
  EXPECT_TRUE(p.capture_stream().good());
}

TEST(SettingsDefaults, SetDefaultsRestoresOptionsButKeepsCreation) {
  cmd_params p(77, true);
  p.m_csv = 1;
  p.m_separator = ",";
  p.m_date_format = "mm/dd/yyyy";
  p.m_filters.resize(2);
  p.m_columns.emplace_back("c", 4);
  p.m_stop_set = 1;
  p.m_stop_time = ~0ull;
  p.m_dir_entry.inode = 9;
  p.m_dir_entry.first_list = {"x"};
  p.m_cpu_instance = 3;
  p.m_status_messages = 0;
  p.m_replace_char = 0;
  p.m_file_callback_on = 1;
  p.m_log_path = "x.log";
  p.m_run_counter = 5;
  p.m_run_texts[2] = "run";
  std::ostringstream* capture = p.m_capture;
  p.set_defaults();
  EXPECT_EQ(p.m_cpu_instance, -1);
  EXPECT_EQ(p.m_status_messages, 1);
  EXPECT_EQ(p.m_replace_char, '|');
  EXPECT_EQ(p.m_file_callback_on, 0);
  EXPECT_TRUE(p.m_log_path.empty());
  // The run state is not an option setting.
  EXPECT_EQ(p.m_run_counter, 5u);
  EXPECT_EQ(p.m_run_texts[2], "run");
  EXPECT_EQ(p.m_created, 77u);
  EXPECT_EQ(p.m_capture, capture);
  EXPECT_EQ(p.m_csv, 0);
  EXPECT_EQ(p.m_separator, " | ");
  EXPECT_EQ(p.m_date_format, "yyyy-mm-dd");
  EXPECT_TRUE(p.m_filters.empty() && p.m_columns.empty());
  EXPECT_EQ(p.m_stop_set, 0);
  EXPECT_EQ(p.m_stop_time, 0u);
  EXPECT_EQ(p.m_dir_entry.inode, 0u);
  EXPECT_TRUE(p.m_dir_entry.first_list.empty());
}

TEST(SettingsSeparator, PicksTheInValueReplacement) {
  // A separator met inside a value would split its row: each separator
  // names what stands for it inside values.
  struct row {
    const char* text;
    bool flag;
    bool quoted;
    const char* separator;
    char from, to;
    const char* lowered;
  };
  const row rows[] = {
      {"tab", false, false, "\t", '\t', ' ', "tab"},
      {"\\t", false, false, "\t", '\t', ' ', "\\t"},
      {"TAB", false, false, "\t", '\t', ' ', "tab"},  // the caller's text is lower-cased
      {"\t", false, false, "\t", '\t', ' ', "\t"},
      {", ", false, false, ", ", ',', ' ', ", "},
      {", ", true, false, ", ", ',', ';', ", "},
      {"|", false, false, "|", '|', ';', "|"},
      {";", false, false, ";", ';', ',', ";"},
      {" ; ", true, false, " ; ", ';', ',', " ; "},
      {"#", false, false, "#", 0, 0, "#"},
      {",", false, true, ",", 0, 0, ","},
      {";", false, true, ";", 0, 0, ";"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    cmd_params p;
    p.m_quoted_csv = r.quoted;
    std::string s = r.text;
    set_field_separator(p, s, r.flag);
    EXPECT_EQ(p.m_separator, r.separator);
    EXPECT_EQ(p.m_replace_char, r.from);
    EXPECT_EQ(p.m_replacement_char, r.to);
    EXPECT_EQ(s, r.lowered);
  }
}

TEST(SettingsCopy, CopiesSettingsButNotStreamsOrRowTarget) {
  cmd_params src(123, true);
  int target = 0;
  src.m_row_target = &target;
  src.m_csv = 1;
  src.m_separator = ",";
  src.m_aliases["c:"] = "/mnt/c";
  src.m_filters.resize(1);
  src.m_filters[0].m_name = L".lnk";
  src.m_columns.emplace_back("Name", 20);
  src.m_start_set = 1;
  src.m_start_time = 1000;
  src.m_log_level = 3;
  src.m_run_texts[0] = "kept";
  src.m_run_texts[1] = "dropped";
  src.m_spare_words5[0] = 1;
  src.m_spare_words5[3] = 4;
  src.m_log_path = "/nowhere/diags.log";
  src.m_log_on = 1;  // no stream: nothing for a copy to share
  src.m_dir_entry.inode = 7;

  cmd_params copy(src);
  EXPECT_EQ(copy.m_log_path, "/nowhere/diags.log");
  EXPECT_EQ(copy.m_log_on, 0);
  EXPECT_EQ(copy.m_log, nullptr);
  EXPECT_EQ(copy.m_dir_entry.inode, 0u);
  EXPECT_EQ(copy.m_created, 123u);
  EXPECT_EQ(copy.m_csv, 1);
  EXPECT_EQ(copy.m_separator, ",");
  EXPECT_EQ(copy.m_aliases.at("c:"), "/mnt/c");
  ASSERT_EQ(copy.m_filters.size(), 1u);
  EXPECT_EQ(copy.m_filters[0].m_name, L".lnk");
  ASSERT_EQ(copy.m_columns.size(), 1u);
  EXPECT_EQ(copy.m_start_time, 1000u);
  EXPECT_EQ(copy.m_row_target, nullptr);
  EXPECT_EQ(copy.m_log_level, 0);
  EXPECT_EQ(copy.m_run_texts[0], "kept");
  EXPECT_EQ(copy.m_run_texts[1], "");
  EXPECT_EQ(copy.m_spare_words5[0], 0u);
  EXPECT_EQ(copy.m_spare_words5[3], 4u);
  ASSERT_NE(copy.m_capture, nullptr);
  EXPECT_NE(copy.m_capture, src.m_capture);

  cmd_params other;
  other = src;
  EXPECT_EQ(other.m_csv, 1);
  const cmd_params& same = other;
  other = same;  // self-assignment changes nothing
  EXPECT_EQ(other.m_csv, 1);
  EXPECT_NE(other.m_capture, nullptr);
}

TEST_F(LogFile, CopyDoesNotReopenOrWipeTheSourceLog) {
  cmd_params src;
  open_log(src);
  src.m_command_line = "vesk -diags x";
  diags_log(src, "first");
  {
    cmd_params copy(src);
    EXPECT_EQ(copy.m_log, nullptr);
    EXPECT_EQ(copy.m_log_on, 0);
    diags_log(copy, "from the copy");
    cmd_params assigned;
    assigned = src;
    EXPECT_EQ(assigned.m_log, nullptr);
  }
  diags_log(src, "second");
  EXPECT_EQ(read_file(m_path), "->first\n->second\n");
}

TEST_F(LogFile, WritersHonourLevelsAndLoggingOff) {
  {
    cmd_params p;
    open_log(p);
    p.m_log_level = 2;
    diags_log(p, "plain");
    diags_log_level(p, 2, "level2");
    diags_log_level(p, 3, "level3");
    std::ostringstream os;
    os << "stream " << 5;
    diags_log_stream(p, os);
    diags_log_stream_level(p, 3, os);
    diags_log_nonempty(&p, "");
    diags_log_nonempty(&p, "nonempty");
    diags_log_nonempty(nullptr, "nothing");
    diags_log_stream_opt(&p, os);
    diags_log_values(&p, "sizes", 0x1f, 0x1234, 3);
    diags_log_values(&p, "one", 5, 0, 0);
    diags_log_values(nullptr, "x", 1, 1, 1);

    // Defaults turn logging off but leave the stream to the destructor.
    p.set_defaults();
    EXPECT_NE(p.m_log, nullptr);
    diags_log(p, "after defaults");
  }
  EXPECT_EQ(read_file(m_path),
            "->plain\n->level2\n->stream 5\n->nonempty\n->stream 5\n"
            "->sizes: 0x1f/0x1234 [3]\n->one: 0x05\n");
}

TEST_F(LogFile, HexDumpLayout) {
  uint8_t data[20];
  for (int i = 0; i < 20; ++i) data[i] = static_cast<uint8_t>(0x3c + i);
  data[0] = 0x00;
  {
    cmd_params p;
    open_log(p);
    diags_log_hex(p, data, 20, 0);
    diags_log_hex(p, data, 16, 0x1000);
    diags_log_hex(p, nullptr, 5, 0);
    diags_log_hex(p, data, 0, 0);
  }
  std::string want =
      "->[0x14]\n"
      "0x00000000 : 00 3d 3e 3f 40 41 42 43 44 45 46 47 48 49 4a 4b   .=>?@ABCDEFGHIJK\n"
      "0x00000010 : 4c 4d 4e 4f " +
      std::string(36, ' ') + "  LMNO\n\n" +
      "->[0x10]\n"
      "0x00001000 : 00 3d 3e 3f 40 41 42 43 44 45 46 47 48 49 4a 4b   .=>?@ABCDEFGHIJK\n"
      "0x00001010 : \n";
  EXPECT_EQ(read_file(m_path), want);
}

TEST_F(LogFile, CloseLogAndDestructorReleaseTheStream) {
  cmd_params p;
  open_log(p);
  EXPECT_TRUE(p.close_log());
  EXPECT_EQ(p.m_log, nullptr);
  EXPECT_EQ(p.m_log_on, 0);
  EXPECT_TRUE(p.close_log());
  // A stream left with logging off is still released by the destructor
  // (the leak checker of the sanitizer build sees it otherwise).
  open_log(p);
  p.m_log_on = 0;
}

TEST(FilterEntry, NewAndClearedEntriesAreEmpty) {
  filter_entry e;
  auto expect_clear = [](const filter_entry& f) {
    EXPECT_EQ(f.m_filter_path_length, 0u);
    EXPECT_TRUE(f.m_filter_path.empty() && f.m_piece.empty() && f.m_name.empty() &&
                f.m_colon_part.empty() && f.m_signature.empty());
    EXPECT_EQ(f.m_signature_offset, 0u);
    EXPECT_EQ(f.m_anchored + f.m_match_all + f.m_name_lead_star + f.m_name_trail_star +
                  f.m_has_colon_part + f.m_colon_match_all + f.m_colon_lead_star +
                  f.m_colon_trail_star,
              0);
  };
  expect_clear(e);
  e.m_filter_path_length = 3;
  e.m_name = L"x";
  e.m_signature = {1};
  e.m_signature_offset = 9;
  e.m_match_all = e.m_colon_trail_star = 1;
  filter_entry copy = e;
  EXPECT_EQ(copy.m_name, L"x");
  EXPECT_EQ(copy.m_colon_trail_star, 1);
  e.clear();
  expect_clear(e);
  init_filter_entry(copy);
  expect_clear(copy);
}
