// Hex-dump lines of a byte run: address, sixteen bytes in hexadecimal and
// their printable characters, as used by the debug dumps of parsed items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "foundation/vk_parse_debug.h"

namespace vk {

// Called after each line with (context, index of the line's first byte, end index).
using hex_progress_callback = uint32_t (*)(uint32_t context, uint32_t start, uint32_t end);

// Largest buffer the limited dumps write; a larger one gets a refusal line.
inline constexpr size_t k_hexdump_limit = 0x1000000;

// One line of count bytes (at most 16) at data, no line end. The address
// column shows base_address when with_address is set.
void hexdump_line(std::ostream& os, const uint8_t* data, size_t count, uint64_t base_address,
                  bool with_address);

// out = the lines of bytes [start, end) of data, "\n" after each; the first
// line is labelled base_address. A null data or start >= end gives "".
void hexdump_text(std::string& out, const uint8_t* data, size_t start, size_t end,
                  uint64_t base_address, bool with_address,
                  hex_progress_callback callback = nullptr, uint32_t context = 0);

// The dump of [0, size) with addresses onto os, or, above k_hexdump_limit,
// "size to big to output: size 0x<size>" and a line end.
void hexdump_limited_to(std::ostream& os, const uint8_t* data, size_t size,
                        uint64_t base_address);
// The same onto the parse's debug stream, only when its debug output is on.
void hexdump_limited(const parse_debug& debug, const uint8_t* data, size_t size,
                     uint64_t base_address);

}  // namespace vk
