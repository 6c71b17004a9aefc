// The report-layer library under its names, and its absence from the tool:
// the tool's report on standard output carries no escape byte, and none of
// these routines is linked into it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cmdline/buffer_text_search.h"
#include "cmdline/field_template.h"
#include "cmdline/option_lookups.h"
#include "cmdline/progress_lines.h"
#include "cmdline/record_emitters.h"
#include "cmdline/report_helpers.h"
#include "cmdline/text_encoders.h"
#include "cmdline/text_utils/write_buffer_text.h"
#include "foundation/vk_text_parse.h"

#define NAMED(f) reinterpret_cast<const void*>(&vk::f)

namespace {

// The names, as the linker knows them, that the tool must not hold.
const char* const k_library_names[] = {
    "parse_field_template",
    "progress_update",
    "progress_title_percent",
    "progress_line",
    "progress_position",
    "take_option_values2",
    "take_option_list",
    "take_letter_option",
    "column_widths",
    "join_with_flags",
    "collect_ascii_strings_at",
    "find_text_in_utf16",
    "lines_with_prefix",
    "value_after_key",
    "erase_first_in_buffer",
    "diags_log_joined",
    "write_host_info",
    "replace_lists",
    "print_macb_flags",
    "add_macb_times",
    "set_row_time_text",
    "set_row_from_text_by_column",
    "write_mft_entry_rows",
    "write_l2t_group_lines",
    "write_column_titles",
    "render_bytes_text",
    "write_buffer_text",
};

std::filesystem::path tool_path() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const auto tool = self.parent_path().parent_path() / "jumplist" / "vesk";
  return std::filesystem::exists(tool, ec) ? tool : std::filesystem::path();
}

std::string run_command(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

TEST(ReportLibrary, EveryRoutineHasItsName) {
  // Each routine by its name: the list does not compile when one is missing.
  const void* routines[] = {
      NAMED(parse_field_template),
      NAMED(progress_update),
      NAMED(progress_title_percent),
      NAMED(progress_title_text),
      NAMED(progress_title_stream),
      NAMED(progress_status_stream),
      NAMED(progress_line),
      NAMED(progress_line_end),
      NAMED(progress_position),
      NAMED(take_option_values2),
      NAMED(take_option_values3),
      NAMED(take_option_values4),
      NAMED(take_option_values2_v),
      NAMED(take_option_values3_v),
      NAMED(take_option_list),
      NAMED(take_option_spelling),
      NAMED(take_letter_option),
      NAMED(column_widths),
      NAMED(update_column_widths),
      NAMED(join_with_flags),
      NAMED(join_with_flags_cb),
      NAMED(collect_utf16_strings_at),
      NAMED(collect_ascii_strings_at),
      NAMED(find_text_in_utf16),
      NAMED(find_text_in_ascii),
      NAMED(text_between_tags),
      NAMED(lines_with_prefix),
      NAMED(value_after_key),
      NAMED(find_ignore_case),
      NAMED(erase_first_in_buffer),
      NAMED(diags_log_joined),
      NAMED(diags_log_replaced),
      NAMED(diags_log_quoted),
      NAMED(diags_log_format),
      NAMED(write_hex_list),
      NAMED(replace_lists),
      NAMED(write_host_info),
      NAMED(string_pointers),
      NAMED(split_joined_args),
      NAMED(utf16_to_utf8_count),
      NAMED(parse_double_wide),
      NAMED(parse_float_text),
      NAMED(parse_uint_narrowed),
      NAMED(parse_u64_wide),
      NAMED(html_escape_assign),
      NAMED(replace_first_w_copy),
      NAMED(base64_encode),
      NAMED(quoted_printable_encode),
      NAMED(quoted_printable_decode),
      NAMED(normalize_windows_path),
      NAMED(duration_text),
      NAMED(windows_release_name),
      NAMED(utf8_from_utf16_unit),
      NAMED(utf8_from_latin1),
      NAMED(parse_guid_text),
      NAMED(parse_guid_hex32),
      NAMED(hex_pairs_to_bytes),
      NAMED(hex_text_to_bytes),
      NAMED(wide_hex_to_bytes),
      NAMED(ipv4_to_wide),
      NAMED(lower_copy),
      NAMED(parse_clock_time_ms),
      NAMED(random_printable_string),
      NAMED(random_hex_string),
      NAMED(random_alnum_string),
      NAMED(random_upper_string),
      NAMED(random_digit_string),
      NAMED(split_nul_strings),
      NAMED(split_nul_wstrings),
      NAMED(split_at_u16),
      NAMED(text_outside_tags),
      NAMED(join_quoted),
      NAMED(join_quoted_w),
      NAMED(text_in_parentheses),
      NAMED(insert_before_char),
      NAMED(insert_before_other_chars),
      NAMED(wide_from_utf16_lower),
      NAMED(erase_wchar),
      NAMED(show_line_ends_w),
      NAMED(init_macb_flags),
      NAMED(reset_macb_record),
      NAMED(reset_macb_flags),
      NAMED(set_macb_m),
      NAMED(set_macb_a),
      NAMED(set_macb_c),
      NAMED(set_macb_b),
      NAMED(set_macb_m_si),
      NAMED(set_macb_a_si),
      NAMED(set_macb_c_si),
      NAMED(set_macb_b_si),
      NAMED(set_macb_m_fn),
      NAMED(set_macb_a_fn),
      NAMED(set_macb_c_fn),
      NAMED(set_macb_b_fn),
      NAMED(set_macb_m_fn83),
      NAMED(set_macb_a_fn83),
      NAMED(set_macb_c_fn83),
      NAMED(set_macb_b_fn83),
      NAMED(add_macb_times),
      NAMED(print_macb_flags),
      NAMED(set_row_string),
      NAMED(set_row_bytes),
      NAMED(set_row_byte_range),
      NAMED(set_row_list),
      NAMED(set_row_time_text),
      NAMED(set_row_from_text_by_column),
      NAMED(write_column_titles),
      NAMED(write_mft_entry_rows),
      NAMED(write_l2t_group_lines),
      NAMED(init_bodyfile_record),
      NAMED(init_l2t_record),
      NAMED(render_bytes_text),
      NAMED(write_buffer_text),
  };
  for (const void* r : routines) EXPECT_NE(r, nullptr);
  // The three table_row constructors.
  EXPECT_EQ(vk::table_row().m_valid, 0u);
  EXPECT_EQ(vk::table_row(2, true).m_default_flags, 0u);
  EXPECT_EQ(vk::table_row(2, true, 0x8000).m_default_flags, 0x8000u);
}

TEST(ReportLibrary, ToolReportHoldsNoEscapeByte) {
  const auto tool = tool_path();
  if (tool.empty()) GTEST_SKIP() << "the vesk tool is not built";
  const auto samples = vesk_test::samples_dir();
  if (samples.empty()) GTEST_SKIP() << "no sample folder";
  for (const char* format : {"", " -csv"}) {
    const std::string out = run_command("find '" + samples.string() + "' -type f | '" +
                                        tool.string() + "' -pipe" + format + " 2>/dev/null");
    EXPECT_FALSE(out.empty()) << format;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << format;
  }
}

TEST(ReportLibrary, ToolLinksNoneOfTheLibrary) {
  const auto tool = tool_path();
  if (tool.empty()) GTEST_SKIP() << "the vesk tool is not built";
  if (std::system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not installed";
  const std::string symbols =
      run_command("nm -C --defined-only '" + tool.string() + "' 2>/dev/null");
  ASSERT_FALSE(symbols.empty());
  for (const char* name : k_library_names) {
    EXPECT_EQ(symbols.find(std::string("vk::") + name + "("), std::string::npos) << name;
  }
}

}  // namespace
