// One typed property of a shell item, its key, and the item's collection of
// them (a multimap by key text that keeps equal keys in insertion order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
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
  uint32_t table_flags = 0;
  uint32_t table_flags_high = 0;
  std::string name;
  std::string name2;
  std::string name3;
  std::vector<uint64_t> offset_list;
  std::string pair_key_text;
  std::string pair_value_text;
  // The thread's filing count when the value was filed: among equal keys a
  // collection keeps its values in this order.
  uint64_t order = 0;

  // Everything empty; the key from fmtid (all zero when null) and pid.
  explicit property_value(const guid* fmtid = nullptr, uint32_t pid = 0);
  void clear();
  // Gives the texts that have no room of their own the room of texts of
  // values dropped before (see property_buffers).
  void take_room() noexcept;
  // Leaves the texts' room to values built later; the texts end empty.
  void give_room() noexcept;
};

// The value's own type says whether it holds FILETIME ticks; the key table's
// date mark (is_filetime) only names the property, so a text or a number
// stored under a date key is shown as what it is.
inline bool holds_filetime(const property_value& v) {
  return v.vartype == 64;
}

// Text room of dropped values: a value filed into a collection and dropped
// with it gives its texts' heap room to a bounded list of the thread, and a
// value being built takes it back, so that filing the same few texts per
// item does not cost heap round trips. Only moderate rooms are kept.
namespace property_buffers {
inline constexpr std::size_t k_kept_most = 1024;
inline constexpr std::size_t k_room_most = 512;
// Room for s when s has none on the heap (empty otherwise is left as is).
void take(std::string& s) noexcept;
void give(std::string& s) noexcept;
// Rooms waiting on this thread's list.
std::size_t kept();
}  // namespace property_buffers

// Map nodes of the property collections come from a free list of the
// thread: parsers file and drop a few values per item, every node is the
// same size, and a heap round trip per node was a large share of the parse.
// The list keeps a bounded number of nodes; the rest go back to the heap.
namespace property_nodes {
inline constexpr std::size_t k_kept_most = 4096;
void* take(std::size_t size);
void give(void* node, std::size_t size) noexcept;
// Nodes waiting on this thread's list.
std::size_t kept();
}  // namespace property_nodes

template <class T>
struct property_node_allocator {
  using value_type = T;
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

  property_node_allocator() noexcept = default;
  template <class U>
  property_node_allocator(const property_node_allocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n == 1) return static_cast<T*>(property_nodes::take(sizeof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n == 1)
      property_nodes::give(p, sizeof(T));
    else
      std::allocator<T>().deallocate(p, n);
  }
  // A dropped value's texts leave their room behind for the next values.
  template <class U>
  void destroy(U* p) noexcept {
    if constexpr (requires { p->second.give_room(); }) p->second.give_room();
    p->~U();
  }
  template <class U>
  bool operator==(const property_node_allocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const property_node_allocator<U>&) const noexcept {
    return false;
  }
};

// Looked up by any text (std::less<>), so no key string is built for a lookup.
using property_value_map =
    std::multimap<std::string, property_value, std::less<>,
                  property_node_allocator<std::pair<const std::string, property_value>>>;

}  // namespace vk
