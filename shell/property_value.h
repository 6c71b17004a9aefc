// One typed property of a shell item, its key, and the item's collection of
// them (a multimap by key text that keeps equal keys in insertion order).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"

namespace vk {

struct property_key {
  guid fmtid;
  uint32_t pid = 0;

  property_key() = default;
  void clear() {
    fmtid.clear();
    pid = 0;
  }
};

struct property_value {
  std::string text;
  std::string key_text;
  uint64_t number = 0;
  uint32_t vartype = 0;
  uint64_t offset = 0;
  uint64_t offset2 = 0;
  std::string bytes;
  uint32_t key_known = 0;
  property_key key;
  uint8_t listed = 0;
  uint8_t table_bit1 = 0;
  uint8_t table_bit5 = 0;
  uint8_t table_bit3 = 0;
  uint8_t table_bit0 = 0;
  uint8_t table_bit2 = 0;
  uint8_t is_filetime = 0;
  uint8_t is_number = 0;
  uint8_t skip_copy = 0;
  uint8_t string_named = 0;
  uint32_t table_flags = 0;
  uint32_t table_flags_high = 0;
  std::string name;
  std::string name2;
  std::string name3;
  std::vector<uint64_t> offset_list;
  std::string pair_key_text;
  std::string pair_value_text;

  // Everything empty; the key from fmtid (all zero when null) and pid.
  explicit property_value(const guid* fmtid = nullptr, uint32_t pid = 0);
  void clear();
};

using property_value_map = std::multimap<std::string, property_value>;

}  // namespace vk
