// Readers of small text notations: message templates with "%" directives,
// named arrays in JSON-like text, name=value lines, hexadecimal byte
// patterns with wildcards and gaps, numeric range lists, NUL-separated
// string lists (narrow and UTF-16) and parenthesised asides. Each takes its
// input whole, fills its outputs and keeps no state between calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vk {

// Values of a byte pattern besides the literal bytes 0..255.
inline constexpr uint16_t k_pattern_any = 0xFFFF;  // any one byte
inline constexpr uint16_t k_pattern_gap = 0xFFFE;  // a gap; the next value is its count

// Cuts a template into literal runs and directives ("%1".."%99" numbered,
// "%c" by character, "%%" the character '%'). The maps point from a number or
// a character to the index of its first directive. All three outputs are
// emptied first; true when a piece was produced.
bool split_percent_template(std::vector<std::string>& pieces, std::map<int32_t, uint32_t>& numbers,
                            std::map<char, uint32_t>& characters, const std::string& text);

// For each name, the text of its array ("name": [ ... } ]) up to the ']',
// quotes trimmed; one entry per name, empty when not found. True when any
// name was found.
bool extract_json_arrays(std::vector<std::string>& out, const std::vector<std::string>& names,
                         const std::string& text);

// name=value lines (split at the first '='); a repeated name keeps its first
// value. True when the map is not empty.
bool parse_name_value_lines(std::map<std::string, std::string>& out,
                            const std::vector<uint8_t>& bytes);

// "4D 5A ?? *10 00": literal bytes, k_pattern_any for "??", k_pattern_gap and
// its count for "*n" (hexadecimal digits only; any other character fails the
// pattern). Trailing wildcards and gaps are dropped; the pattern
// must keep a literal byte and every gap must be followed by one. The output
// is emptied first, and again on failure.
bool parse_byte_pattern(const std::string& text, std::vector<uint16_t>& out);

// "1-3, 7, 0x10" as (1,3), (7,7), (16,16).
bool parse_range_list(std::vector<std::pair<uint64_t, uint64_t>>& out, const std::string& text,
                      char delimiter, char range);

// The non-empty NUL-separated texts of a byte vector.
bool split_nul_strings(const std::vector<uint8_t>& bytes, std::vector<std::string>& out);

// The non-empty zero-separated UTF-16 strings of size_bytes bytes. Runs that
// do not decode are taken unit by unit when nothing decoded at all. Returns
// the bytes taken (size_bytes rounded down to even), 0 for no input.
uint32_t split_utf16_multi_string(const uint16_t* units, std::vector<std::wstring>& out,
                                  uint32_t size_bytes);

// The text without its "(...)" parts (nesting not counted: "a(b(c)d)e"
// gives "ad)e"). True when a part was removed.
bool remove_parenthesised(const std::string& text, std::string& out);

}  // namespace vk
