// One typed property of a shell item, its key, and the item's collection of
// them (a multimap by key text that keeps equal keys in insertion order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
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
  // The key table's flag bits by number (the names other code knows them by):
  uint8_t table_bit1 = 0;   // the text is the item's parsing-name candidate
  uint8_t table_bit5 = 0;   // copied only; nothing reads it
  uint8_t table_bit3 = 0;   // hidden: the value is never shown
  uint8_t table_bit0 = 0;   // first-choice name of the item
  uint8_t table_bit2 = 0;   // second-choice name of the item
  uint8_t is_filetime = 0;  // the key table's date mark, or a FILETIME value
  uint8_t is_number = 0;
  uint8_t skip_copy = 0;
  uint8_t string_named = 0;
  uint8_t own_name = 0;  // named by its own text, which may be empty: its id says nothing
  uint32_t table_flags = 0;
  uint32_t table_flags_high = 0;
  std::string name;
  std::string name2;
  std::string name3;
  std::vector<uint64_t> offset_list;
  std::string pair_key_text;
  std::string pair_value_text;
  // The run's filing count when the value was filed: among equal keys a
  // collection keeps its values in this order.
  uint64_t order = 0;

  // Everything empty; the key from fmtid (all zero when null) and pid.
  explicit property_value(const guid* fmtid = nullptr, uint32_t pid = 0);
  void clear();
};

// The value's own type says whether it holds FILETIME ticks; the key table's
// date mark (is_filetime) only names the property, so a text or a number
// stored under a date key is shown as what it is.
inline bool holds_filetime(const property_value& v) {
  return v.vartype == 64;
}

// Text room of dropped texts, kept in a scratch: texts let go
// give their heap room to a bounded list, and texts being built take it
// back, so that making the same few texts per item does not cost heap round
// trips. Only moderate rooms are kept. The list owns the rooms it holds;
// what a text took is the text's own.
class text_rooms {
 public:
  static constexpr std::size_t k_kept_most = 1024;
  static constexpr std::size_t k_room_most = 512;

  // Room for s when s has none on the heap (empty otherwise is left as is).
  // Inline, as give: both run for every text a report fills.
  void take(std::string& s) noexcept {
    if (s.capacity() > k_short_room || m_rooms.empty()) return;
    // Moves rather than swaps: a string move is a few inline stores.
    s = std::move(m_rooms.back());
    s.clear();
    m_rooms.pop_back();
  }
  // Keeps s's room when it is moderate; s ends unspecified.
  void give(std::string& s) noexcept {
    const std::size_t room = s.capacity();
    if (room <= k_short_room || room > k_room_most || m_rooms.size() >= k_kept_most) return;
    // Never grows past the room reserved once, so it cannot throw.
    if (m_rooms.capacity() == 0 && !reserve_rooms()) return;
    m_rooms.push_back(std::move(s));
  }
  // The value's texts that have no room of their own take some.
  void take(property_value& v) noexcept;
  std::size_t kept() const noexcept { return m_rooms.size(); }

 private:
  // The short-string room of an empty text (not a constant expression for
  // every compiler and library pair).
  static inline const std::size_t k_short_room = std::string().capacity();
  // The list's own room, once; false when it cannot be had (nothing is kept).
  bool reserve_rooms() noexcept;

  std::vector<std::string> m_rooms;
};

// Looked up by any text (std::less<>), so no key string is built for a lookup.
using property_value_map = std::multimap<std::string, property_value, std::less<>>;

}  // namespace vk
