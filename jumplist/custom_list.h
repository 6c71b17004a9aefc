// The frame of a custom jump list (*.customDestinations-ms): a header, then
// categories, each ending with a footer signature. Links lie inside the
// categories; only a list that holds none is told apart here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/vk_bytes.h"

namespace vk {

namespace custom_list_layout {
inline constexpr size_t version = 0;         // u32, 2
inline constexpr size_t category_count = 4;  // u32
inline constexpr size_t header_size = 12;    // a u32 after the count, not read
inline constexpr uint32_t version_value = 2;
// A category begins with its u32 type.
inline constexpr uint32_t custom_category = 0;  // u16 name length, UTF-16 name, u32 count
inline constexpr uint32_t known_category = 1;   // u32 category identifier
inline constexpr uint32_t task_category = 2;    // u32 count
inline constexpr uint32_t footer = 0xBABFFBAB;  // AB FB BF BA
}  // namespace custom_list_layout

// The bytes are a whole custom jump list whose categories hold no link: a
// valid header, then categories of no entries each followed by the footer
// (the last one's may be missing), and nothing after.
bool is_empty_custom_list(byte_view file);

}  // namespace vk
