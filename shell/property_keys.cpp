#include "shell/property_keys.h"

#include <new>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

bool g_built = false;
bool g_fail_next = false;

property_key_map& table_instance() {
  static property_key_map table;
  return table;
}

}  // namespace

const guid& string_named_set() {
  static const guid g =
      guid_from_parts({0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}});
  return g;
}

const char* const k_no_key_word = "unknown";

bool property_key_table(property_key_map& table) {
  return vk::guarded([&] {
    table.clear();
    if (g_fail_next) {
      g_fail_next = false;
      throw std::bad_alloc();
    }
    size_t count = 0;
    const propkey_group* groups = property_key_groups(count);
    for (size_t i = 0; i < count; ++i) {
      // A repeated FMTID keeps its set; the later group's entries join it.
      auto& set = table.emplace(guid_from_parts(groups[i].fmtid), std::set<windows_propid>())
                      .first->second;
      for (size_t k = 0; k < groups[i].count; ++k) {
        const propid_entry& e = groups[i].entries[k];
        set.insert(windows_propid(e.pid, e.name, "", "", e.flags));
      }
    }
    return true;
  });
}

bool lookup_property_key(property_value& rec, const guid& fmtid, uint32_t pid) {
  property_key_map& table = table_instance();
  if (!g_built) {
    if (!property_key_table(table)) {
      table.clear();
      return false;
    }
    g_built = true;
  }
  return vk::guarded([&] {
    guid key = fmtid;
    auto it = table.find(key);
    if (it == table.end()) {
      if (!guid_equals(key, string_named_set())) return false;
      rec.name2.clear();
      rec.name3.clear();
      rec.string_named = 1;
      rec.key_known = 1;
      return true;
    }
    auto entry = it->second.find(windows_propid(pid, nullptr, nullptr, nullptr, 0));
    if (entry == it->second.end()) return false;
    rec.name = entry->name;
    rec.name2 = entry->name2;
    rec.name3 = entry->name3;
    rec.table_flags = entry->flags;
    rec.table_flags_high = 0;
    rec.listed = 1;
    rec.table_bit0 = (entry->flags & 0x1) ? 1 : 0;
    rec.table_bit1 = (entry->flags & 0x2) ? 1 : 0;
    rec.table_bit2 = (entry->flags & 0x4) ? 1 : 0;
    rec.table_bit3 = (entry->flags & 0x8) ? 1 : 0;
    rec.is_filetime = (entry->flags & 0x10) ? 1 : 0;
    rec.table_bit5 = (entry->flags & 0x20) ? 1 : 0;
    rec.key_known = 1;
    return true;
  });
}

bool lookup_property_value_key(property_value& rec) {
  guid fmtid = rec.key.fmtid;
  return lookup_property_key(rec, fmtid, rec.key.pid);
}

std::string value_code_label(uint64_t value) {
  switch (value) {
    case 1: return "low first";
    case 2: return "high first";
    case 3: return "low second";
    case 4: return "high second";
    default: return std::string(k_no_key_word) + " code";
  }
}

void property_key_table_reset_for_test() {
  table_instance().clear();
  g_built = false;
}

void property_key_table_fail_next_build_for_test() { g_fail_next = true; }

}  // namespace vk
