#include "shell/property_value.h"

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

std::size_t kept() { return t_gone ? 0 : t_list.count; }

}  // namespace property_nodes

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
}

}  // namespace vk
