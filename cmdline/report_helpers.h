// Small helpers of the report layer: "-diags" log writers over lists, the
// host-system lines, hexadecimal byte lists, paired list replacement,
// argument re-splitting, and number readers over wide and narrow texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_path.h"

namespace vk {

// "-diags" log lines ("->", the text, a line end), only while logging is on.
// The list joined with "; ".
void diags_log_joined(cmd_params& settings, const std::vector<std::string>& list);
// The text with every occurrence of key replaced by the list joined with
// "; " (the text alone for an empty key).
void diags_log_replaced(cmd_params& settings, const std::string& text, const std::string& key,
                        const std::vector<std::string>& list);
// The list joined by blanks, items holding a blank quoted.
void diags_log_quoted(cmd_params& settings, const std::vector<std::string>& list);
// The list joined with ";" as the prefix of a formatted message.
void diags_log_format(cmd_params& settings, const std::vector<std::string>& list,
                      const char* format, ...) __attribute__((format(printf, 3, 4)));

// Two-digit hexadecimal bytes separated by blanks.
void write_hex_list(const std::vector<uint8_t>& bytes, std::ostream& os);
// Every occurrence of find[i] replaced by replacement[i], in order. False,
// nothing changed, unless both lists have the same non-zero length and no
// find text is empty.
bool replace_lists(std::string& text, const std::vector<std::string>& find,
                   const std::vector<std::string>& replacement);
// "os       : ", "nodename : " (when known), "version  : ", "build    : ",
// "machine  : " lines.
void write_host_info(const host_info& info, std::ostream& os);
// Parallel lists of the texts' pointers (valid while strings lives) and lengths.
void string_pointers(const std::vector<std::string>& strings, std::vector<const char*>& pointers,
                     std::vector<size_t>& lengths);
// The arguments joined with blanks and split again at the separator (into
// words for a blank); pieces trimmed, empty ones dropped. True when any.
bool split_joined_args(std::vector<std::string>& out, int32_t argc, const char* const* argv,
                       char separator);
// At most count units up to the first 0 as UTF-8; returns the units read
// (the terminator included when found).
uint32_t utf16_to_utf8_count(const uint16_t* units, size_t count, std::string& out);
bool parse_double_wide(const std::wstring& text, double* out);
// False as well for a value outside the float range.
bool parse_float_text(const char* text, float* out);
// Each character cut to its low 8 bits, then read by parse_uint.
bool parse_uint_narrowed(const std::wstring& text, uint32_t* out);
bool parse_u64_wide(const std::wstring& text, uint64_t* out);
// out = html_escape(text); empty for a null text.
void html_escape_assign(std::string& out, const char* text);
// out = text with its first occurrence of search replaced; true when replaced.
bool replace_first_w_copy(std::wstring& out, const std::wstring& text, const std::wstring& search,
                          const std::wstring& replacement, bool ignore_case);

}  // namespace vk
