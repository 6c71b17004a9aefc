#include "shell/property_value.h"

#include <vector>

namespace vk {

namespace property_nodes {
namespace {

struct free_node {
  free_node* next;
};

// Set once the thread's list is gone: nodes freed later (by collections
// destroyed after it) go straight back to the heap.
thread_local bool t_gone = false;

struct node_list {
  free_node* head = nullptr;
  std::size_t count = 0;
  std::size_t size = 0;  // the one node size kept

  ~node_list() {
    while (head) {
      free_node* next = head->next;
      ::operator delete(head);
      head = next;
    }
    count = 0;
    t_gone = true;
  }
};

thread_local node_list t_list;

}  // namespace

void* take(std::size_t size) {
  if (!t_gone) {
    node_list& list = t_list;
    if (list.head && list.size == size) {
      free_node* node = list.head;
      list.head = node->next;
      --list.count;
      node->~free_node();
      return node;
    }
  }
  return ::operator new(size);
}

void give(void* node, std::size_t size) noexcept {
  if (!t_gone && size >= sizeof(free_node)) {
    node_list& list = t_list;
    if (list.count == 0) list.size = size;
    if (list.size == size && list.count < k_kept_most) {
      list.head = ::new (node) free_node{list.head};
      ++list.count;
      return;
    }
  }
  ::operator delete(node);
}

std::size_t kept() {
  return t_gone ? 0 : t_list.count;
}

}  // namespace property_nodes

namespace property_buffers {
namespace {

// Set once the thread's list is gone, as for the node list.
thread_local bool t_gone = false;

struct room_list {
  std::vector<std::string> rooms;
  ~room_list() { t_gone = true; }
};

thread_local room_list t_rooms;

// The short-string room of an empty text (not a constant expression for
// every compiler and library pair).
const std::size_t k_short = std::string().capacity();

// Moves rather than swaps: a string move is a few inline stores.
void take_from(std::vector<std::string>& rooms, std::string& s) noexcept {
  if (s.capacity() > k_short || rooms.empty()) return;
  s = std::move(rooms.back());
  s.clear();
  rooms.pop_back();
}

void give_to(std::vector<std::string>& rooms, std::string& s) noexcept {
  const std::size_t room = s.capacity();
  if (room <= k_short || room > k_room_most || rooms.size() >= k_kept_most) return;
  if (rooms.capacity() == 0) {
    // The list's own room, once; without it nothing is kept.
    try {
      rooms.reserve(k_kept_most);
    } catch (...) {
      return;
    }
  }
  rooms.push_back(std::move(s));
}

}  // namespace

void take(std::string& s) noexcept {
  if (!t_gone) take_from(t_rooms.rooms, s);
}

void give(std::string& s) noexcept {
  if (!t_gone) give_to(t_rooms.rooms, s);
}

std::size_t kept() {
  return t_gone ? 0 : t_rooms.rooms.size();
}

}  // namespace property_buffers

void property_value::give_room() noexcept {
  if (property_buffers::t_gone) return;
  std::vector<std::string>& rooms = property_buffers::t_rooms.rooms;
  property_buffers::give_to(rooms, text);
  property_buffers::give_to(rooms, key_text);
  property_buffers::give_to(rooms, name);
}

void property_value::take_room() noexcept {
  if (property_buffers::t_gone) return;
  std::vector<std::string>& rooms = property_buffers::t_rooms.rooms;
  property_buffers::take_from(rooms, text);
  property_buffers::take_from(rooms, key_text);
  property_buffers::take_from(rooms, name);
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
  is_filetime = is_number = skip_copy = string_named = 0;
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
