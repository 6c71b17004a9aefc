#include "shell/property_keys.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/vk_guard.h"

namespace vk {

namespace {

bool g_built = false;
bool g_fail_next = false;

// The table flattened for lookup, built straight from the groups: one slot
// per (FMTID, pid), ordered by the FMTID's two 64-bit halves and the pid
// (any order serves an exact lookup); where a key comes twice the first
// entry wins, as in the table.
struct slot_key {
  uint64_t low;
  uint64_t high;
  uint32_t pid;

  slot_key(const guid& g, uint32_t id) : pid(id) {
    std::memcpy(&low, g.m_bytes, 8);
    std::memcpy(&high, g.m_bytes + 8, 8);
  }
  bool same_fmtid(const slot_key& other) const { return low == other.low && high == other.high; }
  bool operator==(const slot_key& other) const { return same_fmtid(other) && pid == other.pid; }
  bool operator<(const slot_key& other) const {
    if (low != other.low) return low < other.low;
    if (high != other.high) return high < other.high;
    return pid < other.pid;
  }
};

struct key_slot {
  slot_key key;
  uint32_t flags;
  const char* name;
};

std::vector<key_slot>& slots_instance() {
  static std::vector<key_slot> slots;
  return slots;
}

bool build_slots(std::vector<key_slot>& slots) {
  return vk::guarded(
      [&] {
        slots.clear();
        if (g_fail_next) {
          g_fail_next = false;
          throw std::bad_alloc();
        }
        size_t count = 0;
        const propkey_group* groups = property_key_groups(count);
        size_t entries = 0;
        for (size_t i = 0; i < count; ++i) entries += groups[i].count;
        slots.reserve(entries);
        for (size_t i = 0; i < count; ++i)
          for (size_t k = 0; k < groups[i].count; ++k) {
            const propid_entry& e = groups[i].entries[k];
            slots.push_back(key_slot{slot_key(guid_from_parts(groups[i].fmtid), e.pid), e.flags,
                                     e.name ? e.name : ""});
          }
        std::stable_sort(slots.begin(), slots.end(),
                         [](const key_slot& x, const key_slot& y) { return x.key < y.key; });
        slots.erase(std::unique(slots.begin(), slots.end(),
                                [](const key_slot& x, const key_slot& y) { return x.key == y.key; }),
                    slots.end());
        return true;
      },
      [&] { slots.clear(); });
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
  std::vector<key_slot>& slots = slots_instance();
  if (!g_built) {
    if (!build_slots(slots)) return false;
    g_built = true;
  }
  return vk::guarded([&] {
    const slot_key key(fmtid, pid);
    const auto at =
        std::lower_bound(slots.begin(), slots.end(), key,
                         [](const key_slot& slot, const slot_key& k) { return slot.key < k; });
    if (at == slots.end() || !(at->key == key)) {
      // A known FMTID without this pid is unknown; only an FMTID the table
      // lacks may be the string-named set.
      const bool fmtid_known = (at != slots.end() && at->key.same_fmtid(key)) ||
                               (at != slots.begin() && (at - 1)->key.same_fmtid(key));
      if (fmtid_known || !guid_equals(fmtid, string_named_set())) return false;
      rec.name2.clear();
      rec.name3.clear();
      rec.string_named = 1;
      rec.key_known = 1;
      return true;
    }
    const key_slot& entry = *at;
    rec.name = entry.name;
    rec.name2.clear();
    rec.name3.clear();
    rec.table_flags = entry.flags;
    rec.table_flags_high = 0;
    rec.listed = 1;
    rec.table_bit0 = (entry.flags & 0x1) ? 1 : 0;
    rec.table_bit1 = (entry.flags & 0x2) ? 1 : 0;
    rec.table_bit2 = (entry.flags & 0x4) ? 1 : 0;
    rec.table_bit3 = (entry.flags & 0x8) ? 1 : 0;
    rec.is_filetime = (entry.flags & 0x10) ? 1 : 0;
    rec.table_bit5 = (entry.flags & 0x20) ? 1 : 0;
    rec.key_known = 1;
    return true;
  });
}

bool lookup_property_value_key(property_value& rec) {
  return lookup_property_key(rec, rec.key.fmtid, rec.key.pid);
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
  slots_instance().clear();
  g_built = false;
}

void property_key_table_fail_next_build_for_test() { g_fail_next = true; }

}  // namespace vk
