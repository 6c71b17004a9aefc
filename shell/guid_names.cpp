#include "shell/guid_names.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// The table as a sorted array searched in place: a name is found without
// building any text, and the whole table takes one allocation per run.
struct clsid_slot {
  guid_key key;
  std::string_view name;
  size_t order;  // insertion order: the first insertion of a key wins
};

bool key_less(const clsid_slot& a, const clsid_slot& b) {
  return a.key < b.key;
}
bool key_equal(const clsid_slot& a, const clsid_slot& b) {
  return a.key == b.key;
}

// An open-addressing index over the sorted slots (slot + 1; 0 is empty), so
// that a lookup is a hash and a probe or two instead of a binary search.
constexpr size_t k_index_size = 4096;  // a power of two, far above twice the table

struct clsid_index {
  std::vector<clsid_slot> slots;
  std::array<uint16_t, k_index_size> index{};
};

size_t key_hash(const guid_key& k) {
  uint64_t h = k.low ^ (k.high * 0x9E3779B97F4A7C15ull);
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

bool slot_less(const clsid_slot& a, const clsid_slot& b) {
  return key_less(a, b) || (key_equal(a, b) && a.order < b.order);
}

// Throws std::bad_alloc when the memory is not there (or fault throws it).
clsid_index make_index(table_build_fault fault) {
  if (fault) fault();
  clsid_index built;
  std::vector<clsid_slot>& slots = built.slots;
  size_t count = 0;
  const clsid_table_entry* entries = clsid_table_entries(count);
  slots.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    slots.push_back(clsid_slot{guid_key(guid_from_parts(entries[i].id)), entries[i].name, i});
  }
  std::sort(slots.begin(), slots.end(), slot_less);
  slots.erase(std::unique(slots.begin(), slots.end(), key_equal), slots.end());
  // The index needs free places to end every probe.
  if (slots.size() * 2 > k_index_size) throw std::bad_alloc();
  for (size_t s = 0; s < slots.size(); ++s) {
    size_t i = key_hash(slots[s].key) & (k_index_size - 1);
    while (built.index[i] != 0) i = (i + 1) & (k_index_size - 1);
    built.index[i] = static_cast<uint16_t>(s + 1);
  }
  return built;
}

// The table, built by the first call of any thread and shared read-only; null
// when it could not be built (a build that throws is tried again on the next
// call).
const clsid_index* table_ready(table_build_fault fault = nullptr) noexcept {
  return vk::guarded([fault]() -> const clsid_index* {
    static const clsid_index built = make_index(fault);
    return &built;
  });
}

bool tail_equals(const guid& g, size_t from, std::initializer_list<uint8_t> bytes) {
  size_t i = from;
  for (uint8_t b : bytes)
    if (g.m_bytes[i++] != b) return false;
  return true;
}

std::string_view known_name(const clsid_index& table, const guid& g) {
  const std::vector<clsid_slot>& slots = table.slots;
  const guid_key key(g);
  const auto& index = table.index;
  for (size_t i = key_hash(key) & (k_index_size - 1); index[i] != 0;
       i = (i + 1) & (k_index_size - 1)) {
    const clsid_slot& slot = slots[index[i] - 1u];
    if (slot.key == key) return slot.name;
  }
  if (tail_equals(g, 4, {0x54, 0x6D, 0xD4, 0x11, 0xBE, 0xE3, 0x00, 0xC0, 0x4F, 0x99, 0x03, 0x54}))
    return "Visio";
  if (tail_equals(g, 9, {0x00, 0x00, 0x00, 0x00, 0x0F, 0xF1, 0xCE}) ||
      tail_equals(g, 4, {0x00, 0x60, 0xD3, 0x11, 0x8C, 0xFE, 0x01, 0x50, 0x04, 0x83, 0x83, 0xC9}) ||
      tail_equals(g, 4, {0x00, 0x60, 0xD3, 0x11, 0x8C, 0xFE, 0x00, 0x50, 0x04, 0x83, 0x83, 0xC9}))
    return "Microsoft Office";
  return {};
}

}  // namespace

guid guid_from_parts(const guid_parts& e) {
  guid g;
  for (int i = 0; i < 4; ++i) g.m_bytes[i] = static_cast<uint8_t>(e.data1 >> (8 * i));
  g.m_bytes[4] = static_cast<uint8_t>(e.data2);
  g.m_bytes[5] = static_cast<uint8_t>(e.data2 >> 8);
  g.m_bytes[6] = static_cast<uint8_t>(e.data3);
  g.m_bytes[7] = static_cast<uint8_t>(e.data3 >> 8);
  std::memcpy(g.m_bytes + 8, e.data4, 8);
  return g;
}

bool clsid_name_table(clsid_map& table, table_build_fault fault) {
  return vk::guarded([&] {
    table.clear();
    if (fault) fault();
    size_t count = 0;
    const clsid_table_entry* entries = clsid_table_entries(count);
    for (size_t i = 0; i < count; ++i)
      table.emplace(guid_from_parts(entries[i].id), entries[i].name);  // first insertion wins
    return true;
  });
}

std::string_view clsid_known_name(const guid& g) {
  const clsid_index* table = table_ready();
  return table ? known_name(*table, g) : std::string_view();
}

bool append_clsid_text(std::string& out, std::string_view name) {
  return vk::guarded([&] {
    // "{CLSID_" name "}" in one append when it fits a small buffer.
    constexpr size_t k_room = 128;
    const size_t n = name.size() + 8;
    if (n > k_room) {
      out.reserve(out.size() + n);
      out.append("{CLSID_").append(name).append(1, '}');
      return true;
    }
    char text[k_room];
    std::memcpy(text, "{CLSID_", 7);
    std::memcpy(text + 7, name.data(), name.size());
    text[n - 1] = '}';
    out.append(text, n);
    return true;
  });
}

bool clsid_name(std::string& out, const guid* g) {
  out.clear();
  const clsid_index* table = g ? table_ready() : nullptr;
  if (!table) return false;
  const std::string_view name = known_name(*table, *g);
  if (!name.empty()) {
    if (append_clsid_text(out, name)) return true;
    out.clear();
    return false;
  }
  guid_to_string(out, g);
  return false;
}

std::string clsid_text(const guid* g) {
  std::string out;
  if (g) clsid_name(out, g);
  return out;
}

bool clsid_table_ready(table_build_fault fault) noexcept {
  return table_ready(fault) != nullptr;
}

}  // namespace vk
