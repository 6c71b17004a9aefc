// Option look-ups that take two to four values, a counted list, the option
// as typed, or a name spelled by a letter constant; column widths of string
// tables; words joined under a flag word. Names compare ignoring ASCII case;
// a look-up that fails leaves the arguments as they were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_text.h"

namespace vk {

// main()-style arguments, searched from index 1: the name and the values
// after it are removed. False when absent or too few values follow.
bool take_option_values2(const char* name, std::string& v1, std::string& v2, int& argc,
                         char** argv);
bool take_option_values3(const char* name, std::string& v1, std::string& v2, std::string& v3,
                         int& argc, char** argv);
bool take_option_values4(const char* name, std::string& v1, std::string& v2, std::string& v3,
                         std::string& v4, int& argc, char** argv);
// The same over a vector, searched from index 0.
bool take_option_values2_v(const char* name, std::string& v1, std::string& v2,
                           std::vector<std::string>& args);
bool take_option_values3_v(const char* name, std::string& v1, std::string& v2, std::string& v3,
                           std::vector<std::string>& args);
// name, a count n, then n values. A count that does not read, is negative or
// exceeds the arguments left fails.
bool take_option_list(const char* name, std::vector<std::string>& values,
                      std::vector<std::string>& args);
// The matching argument as it was typed.
bool take_option_spelling(const char* name, std::string& spelling, std::vector<std::string>& args);
// The name is "-" and the letters (lower-cased) of an 8-character constant
// held in two words, each read from its most significant byte; removed
// unless keep.
bool take_letter_option(std::vector<std::string>& args, uint32_t first, uint32_t second, bool keep);

// The longest cell length of every column; a row longer than the others
// adds columns. True when any width results.
bool column_widths(std::vector<uint32_t>& widths,
                   const std::vector<std::vector<std::string>>& rows);
// One more row, each length limited to cap; false for an empty row.
bool update_column_widths(std::vector<uint32_t>& widths, const std::vector<std::string>& row,
                          uint32_t cap);

// The first (flags & 0xF) items joined under the flag word: bit 29 capitalises
// each item, else bit 30 the first, else bit 27 upper-cases, bit 23
// lower-cases; separator bit 28 '_', 31 ' ', 24 '.', 25 '/', 26 '\', 21 '|'.
// False (out empty) for a count of 0 or one above the items.
bool join_with_flags(std::string& out, uint32_t flags, const std::vector<std::string>& items);
// The same through a getter; a count of 0 takes the items up to a null
// entry (1 to 10, the array holding that null entry).
bool join_with_flags_cb(std::string& out, uint32_t flags, const word_callback& get,
                        const void* const* items);

}  // namespace vk
