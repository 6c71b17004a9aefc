// Entries to the jump-list library's word-at-a-time and vector kernels for
// the tests that check them against plain loops; the library calls the
// kernels themselves, inline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/vk_bytes.h"

namespace vk {

// Whether a text of count characters of unit bytes (1 or 2) decodes as far
// as bytes hold it (the carver's text check).
bool text_decodes_for_test(byte_view bytes, uint64_t count, uint64_t unit);
// Whether two column titles are equal.
bool same_text_for_test(std::string_view a, std::string_view b);
// Each from in the size bytes of text becomes to (none when from is 0).
void replace_from_for_test(char* text, size_t size, char from, char to);
// The first offset at which the compound-file signature begins whole in the
// buffer (the carver's search), true when there is one.
bool find_cfb_signature_for_test(uint32_t& position, const uint8_t* buffer, size_t size);

}  // namespace vk
