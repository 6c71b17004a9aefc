// The 16-bytes-a-line hex dump: each line is the offset of its first byte,
// " : ", the bytes as two hex digits and a blank each, and their text column
// (printable ASCII as itself, every other byte as '.'). The file object's
// dump, the diagnostics log and the record writer all lay their dumps out
// through this routine; the style holds what differs between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vk {

struct hexdump_style {
  int offset_width = 8;           // hex digits of the line offset, zero padded
  const char* eol = "\n";         // line end
  const char* column_gap = "  ";  // between the hex bytes and the text column
  // A short last line is padded to full width and gets its text column, and
  // a dump of whole lines ends after the last one's header. Without it, a
  // short last line has no text column and every dump ends with a line end.
  bool short_line_column = true;
};

// Appends the dump of length bytes whose first one lies at first_offset;
// false (out as it was) when memory runs out.
bool hexdump_append(std::string& out, const uint8_t* data, size_t length, uint64_t first_offset,
                    const hexdump_style& style = {});

}  // namespace vk
