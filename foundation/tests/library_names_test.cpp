// The digest, HTML, time-scan and hex-view routines are there under the
// names their callers use (a missing or renamed one fails to build here).
#include <gtest/gtest.h>

#include "foundation/vk_digest.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_html.h"
#include "foundation/vk_time_scan.h"
#include "foundation/vk_varint.h"

namespace {
template <class... F>
size_t count_routines(F...) {
  return sizeof...(F);
}
}  // namespace

TEST(LibraryNames, EveryRoutineIsThere) {
  using namespace vk;
  using view_line = void (*)(std::ostream&, const binary_data&, uint32_t, uint32_t, uint64_t, bool);
  using view_text = void (*)(std::string&, const binary_data&, uint32_t, uint32_t, uint64_t, bool,
                             hex_progress_callback, uint32_t);
  const size_t n = count_routines(
      &sha1_file, &md5_file, &crc32_file, &adler32_file, &sha1_file_utf8, &md5_file_utf8,
      &crc32_file_cstr, &adler32_file_cstr, &sha1_file_whole, &crc32_ctx_hex_text,
      &adler32_ctx_hex_text, &write_log_prefix, &is_root_user, &get_quoted_attribute,
      &get_tag_attribute, &get_html_attribute, &find_html_attribute, &split_html_tokens,
      &normalize_html_tags, &escape_text, &escape_text_w, &html_escape, &time_hit_set,
      &time_hit_clear, &scan_value_for_times, &scan_systemtime_at, &scan_buffer_for_times,
      &scan_buffer_with_varints, &scan_vector_for_times, &scan_vector_with_varints,
      &scan_buffer_callback, &print_time_hit, &find_unix_times32, &find_times64, &read_varint,
      &read_varint_iter, &binary_data_from_buffer, &binary_data_from_vector, &binary_data_filled,
      &binary_data_zeroed, &binary_data::operator(), &binary_data::clear, &binary_data::append_byte,
      &binary_data::append_bytes, &binary_data::erase_range, &binary_data::load_file_range,
      static_cast<view_line>(&hexdump_line), static_cast<view_text>(&hexdump_text),
      &hexdump_stream_line, &hexdump_stream, &hexdump_line_utf16, &hexdump_utf16_lines,
      &dump_hex_bytes, &dump_raw_bytes, &dump_text_line, &dump_text_lines, &write_binary_data,
      &write_binary_data_file, &write_binary_data_range, &hexdump_limited, &hexdump_to_stream,
      &hexdump_to_stream_progress, &hexdump_to_string, &hexdump_to_string_progress,
      &hexdump_buffer_to_stream, &hexdump_utf16_to_stream, &hexdump_vector, &hexdump_vector_or_run);
  EXPECT_EQ(n, 68u);
}
