// Whole lists and buffers: duplicate texts removed, sets of texts joined
// and subtracted, sets of 64-bit values united and intersected, byte
// searches, a map written as quoted pairs, the padded title line of column
// output, and tabs expanded in a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace vk {

// Later copies of a text removed (exact compare); first occurrences keep
// their order.
void dedupe_keep_first(std::vector<std::string>& list);

// The set's texts in order with separator between them; with skip_empty
// empty texts are left out without leaving a separator behind.
std::string& join_set(std::string& out, const std::set<std::string>& set,
                      const std::string& separator, bool skip_empty);

// Appends the texts of a not in b, each once, in byte order (both
// lower-cased with fold). Returns 1.
int set_difference_texts(const std::vector<std::string>& a, const std::vector<std::string>& b,
                         std::vector<std::string>& out, bool fold);

// out = the sorted union. When exactly one set is empty out is the other
// and the result false; otherwise true when out is not empty.
bool union_u64_sets(std::vector<uint64_t>& out, const std::set<uint64_t>& a,
                    const std::set<uint64_t>& b);
// out = the values of a also in b, returning their number; an empty set on
// either side gives an empty out and 0.
uint32_t intersect_u64_sets(std::vector<uint64_t>& out, const std::set<uint64_t>& a,
                            const std::set<uint64_t>& b);

// Boyer-Moore-Horspool: offset of the first occurrence.
bool horspool_search(uint64_t& offset, const uint8_t* data, uint64_t size, const uint8_t* pattern,
                     uint32_t pattern_length);
// base + the distance of the pattern's first occurrence in [begin, end).
bool find_bytes_in_range(uint64_t& offset, const uint8_t* begin, const uint8_t* end,
                         const std::string& pattern, uint64_t base);

// "key":"value" for each entry, separator and a blank between entries.
void write_json_pairs(std::ostream& os, const std::map<std::string, std::string>& pairs,
                      char separator);

// The title line of column output: each title padded to its width (its
// length, or the width given for it when larger), then the separator; three
// blanks replace the last separator. widths receives the widths used, ends
// the running end offsets (starting at 0), title_map each trimmed,
// lower-cased title with its width. False without titles.
bool write_title_line(std::ostream& os, std::vector<uint32_t>& ends,
                      std::map<std::string, uint32_t>& title_map, std::vector<uint32_t>& widths,
                      const std::vector<std::string>& titles, const std::string& separator,
                      bool line_end);
// The same for wide titles written in UTF-8 (widths count characters,
// offsets the separator's UTF-8 bytes); the last separator is dropped and a
// line end always follows.
bool write_title_line_w(std::ostream& os, std::vector<uint32_t>& ends,
                        std::map<std::wstring, uint32_t>& title_map, std::vector<uint32_t>& widths,
                        const std::vector<std::wstring>& titles, const std::wstring& separator);

// Writes the input file (UTF-8 paths) to the output with its TABs expanded
// (stops at multiples of tab_width, 0 meaning 4; UTF-16 text with utf16).
// Input without a TAB: the output receives the input's bytes (nothing is
// written when both name one file, or without an output path) and the
// result is true. A TAB without an output path, an unreadable input or an
// unwritable output gives false.
bool expand_tabs_file(const std::string& in_path, const std::string& out_path, uint32_t tab_width,
                      bool utf16);

}  // namespace vk
