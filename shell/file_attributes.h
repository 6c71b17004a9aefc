// The names of a Windows file-attribute mask, and small item utilities:
// the name of a record, its property texts on a stream, and pruning of
// property values that repeat a name.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "shell/shell_item.h"

namespace vk {

// Names of the set FILE_ATTRIBUTE_* bits joined by separator, then the set
// bits no name covers as one hexadecimal value ("0x%08x"); "" for 0. Memory that runs out throws
// std::bad_alloc (out then holds part of the text), so that the caller says a text it could not
// make instead of showing another.
std::string file_attributes_text(uint32_t mask, const std::string& separator);
void append_file_attributes_text(std::string& out, uint32_t mask, std::string_view separator);
// The same text written at `at`, which has file_attributes_text_room bytes of
// room; returns its end.
constexpr size_t file_attributes_text_room(size_t separator_size) {
  return 426 + 18 * separator_size;
}
char* put_file_attributes_text(char* at, uint32_t mask, std::string_view separator);

// name: long_name, else primary_name; names: names, else guid_names, else
// (in key order) the property texts, the first parsing-name candidate
// going to name while it is empty.
void item_names(const shell_item_record& record, std::string& name,
                std::vector<std::string>& names);

// The string texts of the known-key values, each with "[key : value]" when
// it has a pair text, separated; an end of line with end_line.
void write_property_texts(std::ostream& out, const property_value_map& values,
                          const std::string& separator, bool end_line);

// Lower-cases each name and erases the values keyed by it; of two adjacent
// values with equal keys the one without a known key is marked skip_copy.
// False when values is empty.
bool prune_property_names(property_value_map& values, std::vector<std::string>& names);

}  // namespace vk
