// The text of one shell item: the path component, its details (each once)
// and their numbered one-line form. Settles the item's long name from its
// property values and fills its empty times from FILETIME properties.
#pragma once

#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_time.h"
#include "shell/shell_item.h"

namespace vk {

// Clears the three outputs first; true when text is not empty. Changes the
// record: long_name, properties (the values that served as the name go) and
// the empty created / modified / accessed times with their texts. The texts
// are built in the scratch's buffer.
bool shell_item_text(shell_item_record& record, std::string& text, std::string& detail_line,
                     std::vector<std::string>& details, const cmd_params& settings,
                     shell_scratch& scratch, bool with_embedded, bool keep_plain_ids);

// Lower-cases each name and erases every value whose key text equals,
// contains or is contained in it. False (nothing done) when either is empty.
bool remove_overlapping_names(property_value_map& values, std::vector<std::string>& names);

// "[1] a; [2] b" of the details a, b.
std::string numbered_detail_line(const std::vector<std::string>& details);
void append_numbered_detail_line(std::string& out, const std::vector<std::string>& details);

// Date, a blank, time and the suffix, laid out by the settings; "" for an
// invalid value.
std::string time_text(const time& t, const cmd_params& settings, const char* suffix);
void append_time_text(std::string& out, const time& t, const cmd_params& settings,
                      const char* suffix);

}  // namespace vk
