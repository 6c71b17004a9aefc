// Texts split into number lists, sets and lists; lists joined and
// de-duplicated; lines and NUL-separated strings read from UTF-16 and byte
// buffers; small record constructors; and the routines that hand file
// events to the settings' file callback.
//
// Built elsewhere and used beside these: the counted line splitter
// split_buffer_lines_consumed (uni_file_utils.h), the vk_variant_lite value
// and column constructors (vk_variant.h), and byte_array, which is a plain
// byte vector.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_file_record.h"
#include "foundation/vk_variant.h"

namespace vk {

// ---- number lists and splitting ----

// Blank delimiter: parse_number_list (out cleared). Any other: the pieces
// between delimiters, trimmed and read by parse_long_text, appended.
bool parse_number_list_delim(const std::string& text, std::vector<uint64_t>& out, char delimiter);
// Words of split_quoted_words, each read by parse_uint, low byte appended.
bool parse_byte_words(const std::string& text, byte_array& out);
// Splits at the first delimiter of the set found in the text (the whole text
// is one piece without one) and appends each piece parse_u64_text reads.
// Returns the delimiter used, 0 when none or for an empty text.
char split_numbers_any_delim(std::vector<uint64_t>& out, const std::string& text, bool trim,
                             bool keep_empty, const std::string& delimiters);
// split_at_any_delim over the text's UTF-8 form.
char split_at_any_delim_w(std::vector<std::wstring>& out, const std::wstring& text, bool trim,
                          bool keep_empty, const std::string& delimiters);
// The non-empty pieces between delimiters (trimmed when asked) into the set,
// cleared first unless appending. False for an empty text.
bool split_string_to_set(const std::string& text, char delimiter, std::set<std::string>& out,
                         bool trim, bool append);
// name, value, name, value... (empty values left out); nothing when the
// lists differ in length, and an empty name empties the output and stops.
bool interleave_lists(std::vector<std::string>& out, const std::vector<std::string>& names,
                      const std::vector<std::string>& values);
void remove_duplicate_wstrings(std::vector<std::wstring>& list);

// ---- lines and NUL-separated strings ----

// The next line of UTF-16 units as UTF-8. CR, CR LF and LF end a line and
// are consumed: pos and count move past them. With continuation a backslash
// before CR or LF is dropped, and a backslash before a CR line end joins the
// next line on. Without a line end the rest is returned and pos and count
// stay as they were.
std::string& read_utf16_line(std::string& out, const uint16_t*& pos, size_t& count,
                             bool continuation);
// NUL-separated UTF-16LE strings (two NULs in a row give an empty text); a
// length of all ones reads up to the first NUL within 513 units.
bool utf16_multi_string_to_list(std::vector<std::wstring>& out, const uint8_t* buffer,
                                uint32_t length);
// Each text as UTF-16LE and two zero bytes, then two more; empty for an
// empty list. True when out is not empty.
bool list_to_utf16_multi_string(const std::vector<std::wstring>& list, byte_array& out);
// Trimmed lines of 8-bit text (none of the first four bytes 0) or of
// UTF-16LE text, by the newline style found; false when none.
bool split_text_buffer_w(const uint8_t* buffer, uint32_t length, std::vector<std::wstring>& out);
// Lines end at LF; lines = LF count + 1, width = longest line in bytes.
bool text_line_metrics(uint32_t& lines, uint32_t& width, const std::string& text);
// out cleared and filled by wide_to_utf16_crlf; returns what that returns.
const uint16_t* wide_to_utf16_vector(std::vector<uint16_t>& out, const std::wstring& text);
// A NUL-terminated UTF-16 path (at most 500 units) split by split_path_w.
bool split_utf16_path(const uint16_t* path, std::wstring& dir, std::wstring& name);
// Removes every byte equal to value; returns how many.
size_t remove_byte_value(byte_array& bytes, uint8_t value);

// ---- small records ----

// A cleared entry filled from a UTF-8 path by fill_file_info_utf8.
bool init_dir_entry_info_from_path(dir_entry_info& entry, const std::string& path,
                                   const struct stat* st, const std::string& dir_text);

// The link collector's record: three texts and two 16-byte numeric areas.
struct string_triple {
  std::string first;
  std::string second;
  std::string third;
  uint8_t area1[16] = {};
  uint8_t area2[16] = {};
};
void reset_string_triple(string_triple& triple);

// ---- file events ----
// Each returns the callback's result, or all ones without calling anything
// when the callback is off or unset or the path is empty.

// (text, &value, the current entry when its inode or size is not 0, null).
uint32_t file_callback_text(cmd_params& settings, const std::string& path, const std::string& text,
                            uint64_t value);
uint32_t file_callback_wtext(cmd_params& settings, const std::string& path,
                             const std::wstring& text, uint64_t value);
// (text, null, null, kind 1 / kind 2).
uint32_t file_callback_kind1(cmd_params& settings, const std::string& path,
                             const std::string& text);
uint32_t file_callback_kind2(cmd_params& settings, const std::string& path,
                             const std::string& text);

}  // namespace vk
