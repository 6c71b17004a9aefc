#include "shell/property_value.h"

#include <vector>

namespace vk {

bool text_rooms::reserve_rooms() noexcept {
  try {
    m_rooms.reserve(k_kept_most);
  } catch (...) {
    return false;
  }
  return true;
}

void text_rooms::take(property_value& v) noexcept {
  take(v.text);
  take(v.key_text);
  take(v.name);
}

property_value::property_value(const guid* fmtid, uint32_t pid) {
  clear();
  if (fmtid) key.fmtid = *fmtid;
  key.pid = pid;
}

void property_value::clear() {
  text.clear();
  key_text.clear();
  number = 0;
  vartype = 0;
  offset = 0;
  offset2 = 0;
  bytes.clear();
  key_known = 0;
  key.clear();
  listed = table_bit1 = table_bit5 = table_bit3 = table_bit0 = table_bit2 = 0;
  is_filetime = is_number = skip_copy = string_named = own_name = 0;
  table_flags = 0;
  table_flags_high = 0;
  name.clear();
  name2.clear();
  name3.clear();
  offset_list.clear();
  pair_key_text.clear();
  pair_value_text.clear();
  order = 0;
}

}  // namespace vk
