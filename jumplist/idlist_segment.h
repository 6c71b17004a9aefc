// One segment of the "-idltimes" breakout: a shell item or nested item with
// its name, three times and MFT reference. A stored record keeps these
// instead of its shell items, which are many times their size.
#pragma once

#include <cstdint>
#include <string>

namespace vk {

struct idlist_segment {
  std::string m_name;
  uint64_t m_mft_entry = 0;
  uint64_t m_mft_seq = 0;
  uint64_t m_modify_time = 0;
  uint64_t m_access_time = 0;
  uint64_t m_create_time = 0;
  uint8_t m_no_numbers = 1;  // the five numbers above are all 0
  std::string m_label;
  uint8_t m_has_nested = 0;  // the item has nested items, or the segment is one
  uint8_t m_is_nested = 0;
  uint16_t m_item_index = 0;
  uint16_t m_nested_index = 0;
};

}  // namespace vk
