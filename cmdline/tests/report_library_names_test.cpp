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

namespace {

// The names, as the linker knows them, that the tool must not hold.
const char* const k_library_names[] = {
    "parse_field_template", "progress_update", "progress_title_percent", "progress_line",
    "progress_position", "take_option_values2", "take_option_list", "take_letter_option",
    "column_widths", "join_with_flags", "collect_ascii_strings_at", "find_text_in_utf16",
    "lines_with_prefix", "value_after_key", "erase_first_in_buffer", "diags_log_joined",
    "write_host_info", "replace_lists", "print_macb_flags", "add_macb_times",
    "set_row_time_text", "set_row_from_text_by_column", "write_mft_entry_rows",
    "write_l2t_group_lines", "write_column_titles", "render_bytes_text", "write_buffer_text",
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
  const void* routines[] = {
      // field templates
      reinterpret_cast<const void*>(&vk::parse_field_template),
      // progress
      reinterpret_cast<const void*>(&vk::progress_update),
      reinterpret_cast<const void*>(&vk::progress_title_percent),
      reinterpret_cast<const void*>(&vk::progress_title_text),
      reinterpret_cast<const void*>(&vk::progress_title_stream),
      reinterpret_cast<const void*>(&vk::progress_status_stream),
      reinterpret_cast<const void*>(&vk::progress_line),
      reinterpret_cast<const void*>(&vk::progress_line_end),
      reinterpret_cast<const void*>(&vk::progress_position),
      // option look-ups, widths, joins
      reinterpret_cast<const void*>(&vk::take_option_values2),
      reinterpret_cast<const void*>(&vk::take_option_values3),
      reinterpret_cast<const void*>(&vk::take_option_values4),
      reinterpret_cast<const void*>(&vk::take_option_values2_v),
      reinterpret_cast<const void*>(&vk::take_option_values3_v),
      reinterpret_cast<const void*>(&vk::take_option_list),
      reinterpret_cast<const void*>(&vk::take_option_spelling),
      reinterpret_cast<const void*>(&vk::take_letter_option),
      reinterpret_cast<const void*>(&vk::column_widths),
      reinterpret_cast<const void*>(&vk::update_column_widths),
      reinterpret_cast<const void*>(&vk::join_with_flags),
      reinterpret_cast<const void*>(&vk::join_with_flags_cb),
      // buffer text search
      reinterpret_cast<const void*>(&vk::collect_utf16_strings_at),
      reinterpret_cast<const void*>(&vk::collect_ascii_strings_at),
      reinterpret_cast<const void*>(&vk::find_text_in_utf16),
      reinterpret_cast<const void*>(&vk::find_text_in_ascii),
      reinterpret_cast<const void*>(&vk::text_between_tags),
      reinterpret_cast<const void*>(&vk::lines_with_prefix),
      reinterpret_cast<const void*>(&vk::value_after_key),
      reinterpret_cast<const void*>(&vk::find_ignore_case),
      reinterpret_cast<const void*>(&vk::erase_first_in_buffer),
      // log writers and other helpers
      reinterpret_cast<const void*>(&vk::diags_log_joined),
      reinterpret_cast<const void*>(&vk::diags_log_replaced),
      reinterpret_cast<const void*>(&vk::diags_log_quoted),
      reinterpret_cast<const void*>(&vk::diags_log_format),
      reinterpret_cast<const void*>(&vk::write_hex_list),
      reinterpret_cast<const void*>(&vk::replace_lists),
      reinterpret_cast<const void*>(&vk::write_host_info),
      reinterpret_cast<const void*>(&vk::string_pointers),
      reinterpret_cast<const void*>(&vk::split_joined_args),
      reinterpret_cast<const void*>(&vk::utf16_to_utf8_count),
      reinterpret_cast<const void*>(&vk::parse_double_wide),
      reinterpret_cast<const void*>(&vk::parse_float_text),
      reinterpret_cast<const void*>(&vk::parse_uint_narrowed),
      reinterpret_cast<const void*>(&vk::parse_u64_wide),
      reinterpret_cast<const void*>(&vk::html_escape_assign),
      reinterpret_cast<const void*>(&vk::replace_first_w_copy),
      // text encoders and converters
      reinterpret_cast<const void*>(&vk::base64_encode),
      reinterpret_cast<const void*>(&vk::quoted_printable_encode),
      reinterpret_cast<const void*>(&vk::quoted_printable_decode),
      reinterpret_cast<const void*>(&vk::normalize_windows_path),
      reinterpret_cast<const void*>(&vk::duration_text),
      reinterpret_cast<const void*>(&vk::windows_release_name),
      reinterpret_cast<const void*>(&vk::utf8_from_utf16_unit),
      reinterpret_cast<const void*>(&vk::utf8_from_latin1),
      reinterpret_cast<const void*>(&vk::parse_guid_text),
      reinterpret_cast<const void*>(&vk::parse_guid_hex32),
      reinterpret_cast<const void*>(&vk::hex_pairs_to_bytes),
      reinterpret_cast<const void*>(&vk::hex_text_to_bytes),
      reinterpret_cast<const void*>(&vk::wide_hex_to_bytes),
      reinterpret_cast<const void*>(&vk::ipv4_to_wide),
      reinterpret_cast<const void*>(&vk::lower_copy),
      reinterpret_cast<const void*>(&vk::parse_clock_time_ms),
      reinterpret_cast<const void*>(&vk::random_printable_string),
      reinterpret_cast<const void*>(&vk::random_hex_string),
      reinterpret_cast<const void*>(&vk::random_alnum_string),
      reinterpret_cast<const void*>(&vk::random_upper_string),
      reinterpret_cast<const void*>(&vk::random_digit_string),
      reinterpret_cast<const void*>(&vk::split_nul_strings),
      reinterpret_cast<const void*>(&vk::split_nul_wstrings),
      reinterpret_cast<const void*>(&vk::split_at_u16),
      reinterpret_cast<const void*>(&vk::text_outside_tags),
      reinterpret_cast<const void*>(&vk::join_quoted),
      reinterpret_cast<const void*>(&vk::join_quoted_w),
      reinterpret_cast<const void*>(&vk::text_in_parentheses),
      reinterpret_cast<const void*>(&vk::insert_before_char),
      reinterpret_cast<const void*>(&vk::insert_before_other_chars),
      reinterpret_cast<const void*>(&vk::wide_from_utf16_lower),
      reinterpret_cast<const void*>(&vk::erase_wchar),
      reinterpret_cast<const void*>(&vk::show_line_ends_w),
      // other record emitters
      reinterpret_cast<const void*>(&vk::init_macb_flags),
      reinterpret_cast<const void*>(&vk::reset_macb_record),
      reinterpret_cast<const void*>(&vk::reset_macb_flags),
      reinterpret_cast<const void*>(&vk::set_macb_m),
      reinterpret_cast<const void*>(&vk::set_macb_a),
      reinterpret_cast<const void*>(&vk::set_macb_c),
      reinterpret_cast<const void*>(&vk::set_macb_b),
      reinterpret_cast<const void*>(&vk::set_macb_m_si),
      reinterpret_cast<const void*>(&vk::set_macb_a_si),
      reinterpret_cast<const void*>(&vk::set_macb_c_si),
      reinterpret_cast<const void*>(&vk::set_macb_b_si),
      reinterpret_cast<const void*>(&vk::set_macb_m_fn),
      reinterpret_cast<const void*>(&vk::set_macb_a_fn),
      reinterpret_cast<const void*>(&vk::set_macb_c_fn),
      reinterpret_cast<const void*>(&vk::set_macb_b_fn),
      reinterpret_cast<const void*>(&vk::set_macb_m_fn83),
      reinterpret_cast<const void*>(&vk::set_macb_a_fn83),
      reinterpret_cast<const void*>(&vk::set_macb_c_fn83),
      reinterpret_cast<const void*>(&vk::set_macb_b_fn83),
      reinterpret_cast<const void*>(&vk::add_macb_times),
      reinterpret_cast<const void*>(&vk::print_macb_flags),
      reinterpret_cast<const void*>(&vk::set_row_string),
      reinterpret_cast<const void*>(&vk::set_row_bytes),
      reinterpret_cast<const void*>(&vk::set_row_byte_range),
      reinterpret_cast<const void*>(&vk::set_row_list),
      reinterpret_cast<const void*>(&vk::set_row_time_text),
      reinterpret_cast<const void*>(&vk::set_row_from_text_by_column),
      reinterpret_cast<const void*>(&vk::write_column_titles),
      reinterpret_cast<const void*>(&vk::write_mft_entry_rows),
      reinterpret_cast<const void*>(&vk::write_l2t_group_lines),
      reinterpret_cast<const void*>(&vk::init_bodyfile_record),
      reinterpret_cast<const void*>(&vk::init_l2t_record),
      reinterpret_cast<const void*>(&vk::render_bytes_text),
      reinterpret_cast<const void*>(&vk::write_buffer_text),
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
