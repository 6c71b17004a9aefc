// The frame of a custom jump list (*.customDestinations-ms): a header, then
// categories, each ending with a footer signature. Links lie inside the
// categories; only a list that holds none is told apart here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/vk_bytes.h"
#include "jumplist/file_notes.h"

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

// A link read at a header of a custom list: where it starts, where its
// parse ended, and whether it was read whole (sizes that agree, no fault).
struct custom_list_link {
  uint64_t offset = 0;
  uint64_t end = 0;
  bool whole = false;
  bool cut = false;  // the file ends inside it
};

// Copies count bytes at offset into out; false when they are not all there.
using custom_list_reader = std::function<bool(uint64_t offset, uint8_t* out, size_t count)>;

// Follows the frame of a custom list of size bytes (header, categories, the
// entries each holding a link, footers) over the links read at its headers
// (ascending offset) and notes the first place where the frame and the
// links part: a header that is no custom list's, an entry whose link is
// missing or damaged (with how many links were read after it), a category
// of unknown type, a file that ends inside the list. A list whose last
// footer is missing is whole.
void check_custom_list_frame(const custom_list_reader& read, uint64_t size,
                             const std::vector<custom_list_link>& links, file_notes& notes);

}  // namespace vk
