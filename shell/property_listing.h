// Debug listing of an item's property values, one line per value, and the
// text of a shell attribute (SFGAO) mask.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "shell/parse_ctx.h"
#include "shell/property_value.h"

namespace vk {

// Words of the listing: the mark before each hexadecimal number, the two
// words written for a value without a known key, and the annotations of a
// primary-name and a parsing-name candidate.
extern const char* const k_listing_number_prefix;
extern const char* const k_listing_no_key_second;
extern const char* const k_listing_primary_note;
extern const char* const k_listing_parsing_note;

// Every value to the context's debug stream, when debug output is on; with
// by_offset in file-position order (equal positions keep collection order).
void print_property_values(parse_ctx& ctx, const property_value_map& values, bool by_offset);
// One value: offset, key, pid, name and value fields. The stream is left in
// hexadecimal with the last fill and adjustment.
void print_property_value(const property_value& value, std::ostream& os,
                          const std::string& separator, bool end_line, bool pad_name);

// Names of the set attribute bits joined by "; "; "" when no named bit is set.
std::string sfgao_text(uint32_t mask);
void append_sfgao_text(std::string& out, uint32_t mask);

}  // namespace vk
