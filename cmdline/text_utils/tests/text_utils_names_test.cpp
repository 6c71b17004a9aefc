// The text utilities are there under the names their callers use (a missing
// or renamed one fails to build here), with the ones built earlier beside
// the rest of the text layer.
#include <gtest/gtest.h>

#include "cmdline/text_utils/address_parsers.h"
#include "cmdline/text_utils/lists_sets.h"
#include "cmdline/text_utils/number_hex.h"
#include "cmdline/text_utils/small_strings.h"
#include "cmdline/text_utils/text_lists.h"
#include "foundation/uni_file_utils.h"
#include "foundation/vk_dir_node.h"
#include "foundation/vk_varint.h"

namespace {
template <class... F>
size_t count_routines(F...) {
  return sizeof...(F);
}
}  // namespace

TEST(TextUtilsNames, EveryRoutineIsThere) {
  using namespace vk;
  const size_t lists_sets =
      count_routines(&dedupe_keep_first, &join_set, &set_difference_texts, &union_u64_sets,
                     &intersect_u64_sets, &horspool_search, &find_bytes_in_range, &write_json_pairs,
                     &write_title_line, &write_title_line_w, &expand_tabs_file);
  const size_t small_strings = count_routines(
      &find_fold, &wfind_fold, &find_after, &wfind_after, &find_at, &wfind_at, &werase_from,
      &werase_first, &pop_first_word, &remove_char_copy, &to_identifier, &non_alpha_to_underscore,
      &is_printable_text, &strip_trailing_slashes, &split_wpath_stem_ext, &wescape_chars,
      &escape_units, &wtrim_trailing_nuls, &trim_trailing_zero_units, &format_fixed2,
      &assign_bytes_from_text, &copy_block32, &copy_block20, &copy_block16, &make_bytes_cell);
  const size_t address_parsers = count_routines(
      &parse_ipv6_text, &parse_ipv4_text, &format_ipv6_text, &device_id_serial, &normalize_path,
      &strip_device_prefix, &strip_device_prefix_w, &escape_chars, &guid_from_any_text,
      &parse_hex_float, &parse_hex_pattern, &parse_hex_dump_text);
  const size_t number_hex = count_routines(
      &format_number_text, &number_format_prefix, &format_guid_styled, &bytes_to_hex_text,
      &append_hex_dump, &write_offset_line, &write_based_offset_line, &write_hex16,
      &write_hex16_line, &format_double_plain, &read_varint, &read_varint_iter,
      &read_counted_string_list, &read_counted_string_vec, &is_all_zero, &bytes_to_guid,
      &scan_u32_values, &scan_u64_values);
  const size_t text_lists = count_routines(
      &parse_number_list_delim, &parse_byte_words, &split_numbers_any_delim, &split_at_any_delim_w,
      &split_string_to_set, &interleave_lists, &remove_duplicate_wstrings, &read_utf16_line,
      &utf16_multi_string_to_list, &list_to_utf16_multi_string, &split_buffer_lines_consumed,
      &split_text_buffer_w, &text_line_metrics, &wide_to_utf16_vector, &split_utf16_path,
      &remove_byte_value, &init_dir_entry_info_from_path, &reset_string_triple, &file_callback_text,
      &file_callback_wtext, &file_callback_kind1, &file_callback_kind2);
  EXPECT_EQ(lists_sets + small_strings + address_parsers + number_hex + text_lists, 88u);
  // byte_array is the plain byte vector, with its four constructors.
  static_assert(std::is_same_v<byte_array, std::vector<uint8_t>>);
}
