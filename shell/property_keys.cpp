#include "shell/property_keys.h"

#include <algorithm>
#include <array>
#include <new>
#include <string_view>
#include <vector>

#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// The table flattened for lookup, built straight from the groups: one slot
// per (FMTID, pid), ordered by the FMTID's two 64-bit halves and the pid
// (any order serves an exact lookup), and one range of slots per FMTID.
// Where a key comes twice the first entry wins, as in the table.
struct key_slot {
  guid_key fmtid;
  uint32_t pid;
  uint32_t flags;
  std::string_view name;

  bool operator<(const key_slot& o) const {
    return fmtid == o.fmtid ? pid < o.pid : fmtid < o.fmtid;
  }
  bool same_key(const key_slot& o) const { return fmtid == o.fmtid && pid == o.pid; }
};

struct fmtid_range {
  guid_key fmtid;
  uint32_t begin;
  uint32_t end;
};

struct key_index {
  std::vector<key_slot> slots;
  std::vector<fmtid_range> fmtids;
};

// FMTIDs found lately and their ranges (an empty one: not in the table);
// filled is false for a place not used yet. The values of a store alternate
// between a few FMTIDs.
struct found_fmtid {
  guid_key fmtid;
  uint32_t begin = 0;
  uint32_t end = 0;
  bool filled = false;
};
constexpr size_t k_found_slots = 16;

// Keys looked up lately and their slots (null: not in the table); filled is
// false for a place not used yet: the values of a store repeat a few keys, and a
// hit here costs one comparison.
struct found_key {
  guid_key fmtid;
  uint32_t pid = 0;
  bool filled = false;
  // Not in the table, and of the string-named set.
  bool string_named = false;
  const key_slot* slot = nullptr;
  // The key's text (append_property_key_text), once made; 0: not yet.
  uint8_t text_size = 0;
  char text[79] = {};
};
constexpr size_t k_found_keys = 256;

struct found_cache {
  std::array<found_fmtid, k_found_slots> fmtids;
  std::array<found_key, k_found_keys> keys;
};
// A cache of constant data: the fixed index's answers for recent keys.
thread_local found_cache t_found;

size_t found_key_slot(const guid_key& b, uint32_t pid) {
  return static_cast<size_t>(((b.low ^ b.high ^ pid) * 0x9E3779B97F4A7C15ull) >> 56) % k_found_keys;
}

size_t found_slot(const guid_key& b) {
  return static_cast<size_t>(((b.low ^ b.high) * 0x9E3779B97F4A7C15ull) >> 60) % k_found_slots;
}

// Throws std::bad_alloc when the memory is not there (or fault throws it).
key_index make_index(table_build_fault fault) {
  if (fault) fault();
  key_index index;
  size_t count = 0;
  const propkey_group* groups = property_key_groups(count);
  size_t entries = 0;
  for (size_t i = 0; i < count; ++i) entries += groups[i].count;
  std::vector<key_slot>& slots = index.slots;
  slots.reserve(entries);
  for (size_t i = 0; i < count; ++i) {
    const guid_key fmtid(guid_from_parts(groups[i].fmtid));
    for (size_t k = 0; k < groups[i].count; ++k) {
      const propid_entry& e = groups[i].entries[k];
      slots.push_back(
          key_slot{fmtid, e.pid, e.flags, e.name ? std::string_view(e.name) : std::string_view()});
    }
  }
  std::stable_sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end(),
                          [](const key_slot& x, const key_slot& y) { return x.same_key(y); }),
              slots.end());
  for (size_t i = 0; i < slots.size(); ++i) {
    if (index.fmtids.empty() || !(index.fmtids.back().fmtid == slots[i].fmtid))
      index.fmtids.push_back(fmtid_range{slots[i].fmtid, static_cast<uint32_t>(i), 0});
    index.fmtids.back().end = static_cast<uint32_t>(i + 1);
  }
  return index;
}

// The index, built by the first call of any thread from the constant table
// and shared read-only; null when it could not be built (a build that throws
// is tried again on the next call).
const key_index* ready_index(table_build_fault fault = nullptr) noexcept {
  return vk::guarded([fault]() -> const key_index* {
    static const key_index built = make_index(fault);
    return &built;
  });
}

}  // namespace

const guid& string_named_set() {
  static const guid g = guid_from_parts(
      {k_string_named_set_data1, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}});
  return g;
}

const char* const k_no_key_word = "unknown";

bool property_key_table(property_key_map& table, table_build_fault fault) {
  return vk::guarded([&] {
    table.clear();
    if (fault) fault();
    size_t count = 0;
    const propkey_group* groups = property_key_groups(count);
    for (size_t i = 0; i < count; ++i) {
      // A repeated FMTID keeps its set; the later group's entries join it.
      auto& set =
          table.emplace(guid_from_parts(groups[i].fmtid), std::set<windows_propid>()).first->second;
      for (size_t k = 0; k < groups[i].count; ++k) {
        const propid_entry& e = groups[i].entries[k];
        set.insert(windows_propid(e.pid, e.name, "", "", e.flags));
      }
    }
    return true;
  });
}

namespace {

const key_slot* find_in_index(const key_index& index, const guid_key& bits, uint32_t pid);

// Fills the remembered entry of a key missing from it; null when the table
// cannot be built.
found_key* fill_key_entry(found_key& key, const guid_key& bits, uint32_t pid) {
  const key_index* index = ready_index();
  if (!index) return nullptr;
  key.slot = find_in_index(*index, bits, pid);
  key.string_named = !key.slot && bits == guid_key(string_named_set());
  key.fmtid = bits;
  key.pid = pid;
  key.filled = true;
  key.text_size = 0;
  return &key;
}

// The remembered entry of the key, its slot null when the table lacks it;
// null when the table cannot be built. Never throws: the index is built
// once, behind its own guard.
inline found_key* find_key_entry(const guid& fmtid, uint32_t pid) {
  const guid_key bits(fmtid);
  found_key& key = t_found.keys[found_key_slot(bits, pid)];
  // A filled entry came from the one index, which never changes.
  if (key.filled && key.pid == pid && key.fmtid == bits) return &key;
  return fill_key_entry(key, bits, pid);
}

// The table's slot of the key; null when the table lacks it (or cannot be
// built).
inline const key_slot* find_key_slot(const guid& fmtid, uint32_t pid) {
  const found_key* key = find_key_entry(fmtid, pid);
  return key ? key->slot : nullptr;
}

const key_slot* find_in_index(const key_index& index, const guid_key& bits, uint32_t pid) {
  found_fmtid& found = t_found.fmtids[found_slot(bits)];
  if (!found.filled || !(found.fmtid == bits)) {
    const auto range =
        std::lower_bound(index.fmtids.begin(), index.fmtids.end(), bits,
                         [](const fmtid_range& r, const guid_key& b) { return r.fmtid < b; });
    if (range == index.fmtids.end() || !(range->fmtid == bits))
      found = found_fmtid{bits, 0, 0, true};
    else
      found = found_fmtid{bits, range->begin, range->end, true};
  }
  if (found.begin == found.end) return nullptr;
  const auto first = index.slots.begin() + found.begin;
  const auto last = index.slots.begin() + found.end;
  const auto at = std::lower_bound(first, last, pid,
                                   [](const key_slot& slot, uint32_t p) { return slot.pid < p; });
  if (at == last || at->pid != pid) return nullptr;
  return &*at;
}

}  // namespace

namespace {

// The marks of a looked-up key but its names.
void set_table_marks(property_value& rec, const key_slot& entry) {
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
}

// The table's slot of the key, or null; string_named is set when the key is
// of the string-named set instead.
inline const key_slot* slot_or_named(const guid& fmtid, uint32_t pid, bool& string_named) {
  const found_key* key = find_key_entry(fmtid, pid);
  const key_slot* slot = key ? key->slot : nullptr;
  // Only an FMTID the table lacks may be the string-named set.
  string_named = key && key->string_named;
  return slot;
}

}  // namespace

bool lookup_property_key(property_value& rec, const guid& fmtid, uint32_t pid) {
  return vk::guarded([&] {
    bool named = false;
    const key_slot* slot = slot_or_named(fmtid, pid, named);
    if (!slot && !named) return false;
    rec.name2.clear();
    rec.name3.clear();
    if (!slot) {
      rec.string_named = 1;
      rec.key_known = 1;
      return true;
    }
    rec.name.assign(slot->name);
    set_table_marks(rec, *slot);
    return true;
  });
}

bool property_key_flags(const guid& fmtid, uint32_t pid, uint32_t& flags) noexcept {
  bool named = false;
  const key_slot* slot = slot_or_named(fmtid, pid, named);
  flags = slot ? slot->flags : 0;
  return slot || named;
}

bool lookup_property_value_flags(property_value& rec) noexcept {
  bool named = false;
  const key_slot* slot = slot_or_named(rec.key.fmtid, rec.key.pid, named);
  if (slot) {
    set_table_marks(rec, *slot);
    return true;
  }
  if (!named) return false;
  rec.string_named = 1;
  rec.key_known = 1;
  return true;
}

void append_property_key_text(std::string& out, const guid& fmtid, uint32_t pid) {
  found_key* key = find_key_entry(fmtid, pid);
  if (key && key->text_size != 0) {
    out.append(key->text, key->text_size);
    return;
  }
  const key_slot* slot = key ? key->slot : nullptr;
  const std::string_view name = slot ? slot->name : std::string_view();
  const size_t start = out.size();
  out.reserve(start + 37 + (name.empty() ? 10 : name.size()));
  append_guid_text(out, fmtid);
  out += '/';
  if (name.empty())
    append_hex_number_text(out, pid, true, 2);
  else
    out += name;
  const size_t size = out.size() - start;
  if (key && size <= sizeof key->text) {
    out.copy(key->text, size, start);
    key->text_size = static_cast<uint8_t>(size);
  }
}

void append_property_key_text(std::string& out, const property_value& v) {
  if (!v.own_name && (!v.string_named || v.name.empty())) {
    append_property_key_text(out, v.key.fmtid, v.key.pid);
    return;
  }
  append_guid_text(out, v.key.fmtid);
  out += '/';
  out += v.name;
}

std::string_view property_key_name(const guid& fmtid, uint32_t pid) {
  const key_slot* slot = find_key_slot(fmtid, pid);
  return slot ? slot->name : std::string_view();
}

bool lookup_property_value_key(property_value& rec) {
  return lookup_property_key(rec, rec.key.fmtid, rec.key.pid);
}

std::string value_code_label(uint64_t value) {
  switch (value) {
    case 1:
      return "low first";
    case 2:
      return "high first";
    case 3:
      return "low second";
    case 4:
      return "high second";
    default:
      return std::string(k_no_key_word) + " code";
  }
}

bool property_key_index_ready(table_build_fault fault) noexcept {
  return ready_index(fault) != nullptr;
}

}  // namespace vk
