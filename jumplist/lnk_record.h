// One parsed shell link with its jump-list context: the unit that the
// drivers, the carver, the LNK parser and the report pass around. A plain
// value: copies are deep and independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_fault_sink.h"
#include "foundation/vk_guid.h"
#include "jumplist/idlist_segment.h"
#include "shell/shell_item.h"

namespace vk {

class cmd_params;

inline constexpr size_t lnk_header_size = 76;  // lnk_layout::header::size

// The 76-byte ShellLinkHeader exactly as stored.
struct lnk_header {
  uint32_t m_lnk_header_size = 0;
  std::array<uint8_t, 16> m_lnk_clsid{};
  uint32_t m_lnk_flags = 0;
  uint32_t m_file_attributes = 0;
  uint64_t m_create_time = 0;
  uint64_t m_access_time = 0;
  uint64_t m_write_time = 0;
  uint32_t m_file_size = 0;
  int32_t m_icon_index = 0;
  uint32_t m_show_cmd = 0;
  uint16_t m_hotkey = 0;
  uint16_t m_reserved1 = 0;
  uint32_t m_reserved2 = 0;
  uint32_t m_reserved3 = 0;
};

// Decodes the 76 bytes at p (the caller has checked they are there).
lnk_header load_lnk_header(const uint8_t* p);

// Text of at most N bytes held in place: the GUID and address texts of a
// link, which a record then holds without a heap block of its own. Longer
// text is cut to N bytes.
template <size_t N>
class short_text {
  static_assert(N <= 255);

 public:
  short_text& operator=(std::string_view text) {
    m_size = static_cast<uint8_t>(text.size() < N ? text.size() : N);
    std::memcpy(m_chars, text.data(), m_size);
    return *this;
  }
  // All N characters in use, to be written where they are held.
  char (&fill())[N] {
    m_size = static_cast<uint8_t>(N);
    return m_chars;
  }
  void clear() { m_size = 0; }
  bool empty() const { return m_size == 0; }
  size_t size() const { return m_size; }
  const char* data() const { return m_chars; }
  std::string_view view() const { return {m_chars, m_size}; }
  operator std::string_view() const { return view(); }
  friend bool operator==(const short_text& a, std::string_view b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const short_text& t) {
    return out << t.view();
  }

 private:
  char m_chars[N];
  uint8_t m_size = 0;
};

using lnk_guid_text = short_text<36>;  // lower-case, without braces
using lnk_mac_text = short_text<17>;   // six hex pairs joined by ':'

// The 16 object-droid bytes of each tracker block met, in order: the first
// block's held in place (a link has one as a rule), any more on the heap.
class droid_byte_list {
 public:
  void append(const uint8_t* droid) {
    if (m_blocks == 0)
      std::memcpy(m_first.data(), droid, m_first.size());
    else
      m_more.insert(m_more.end(), droid, droid + m_first.size());
    ++m_blocks;
  }
  void clear() {
    m_blocks = 0;
    m_more.clear();
  }
  void release() {
    clear();
    std::vector<uint8_t>().swap(m_more);
  }
  bool empty() const { return m_blocks == 0; }
  size_t size() const { return m_blocks == 0 ? 0 : m_first.size() + m_more.size(); }
  uint8_t operator[](size_t i) const {
    return i < m_first.size() ? m_first[i] : m_more[i - m_first.size()];
  }
  friend bool operator==(const droid_byte_list& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < b.size(); ++i)
      if (a[i] != b[i]) return false;
    return true;
  }

 private:
  std::array<uint8_t, 16> m_first{};
  size_t m_blocks = 0;
  std::vector<uint8_t> m_more;
};

// The fields with their empty values, in two parts: every value of a fixed
// size first, then the texts and lists, so that clearing a record is one
// assignment and an emptying of each text in place. Offsets count from the
// first byte of the LNK data handed to the parser; 0 means "not found".
struct lnk_record_values {
  // Context, set by the drivers and the carver.
  uint64_t m_file_offset = 0;
  uint64_t m_entry_num = 0;
  uint64_t m_mru_time = 0;
  int32_t m_mru_position = 0;
  uint64_t m_checksum = 0;
  uint32_t m_lnk_size = 0;
  uint8_t m_has_access_count = 0;
  uint32_t m_access_count = 0;
  uint8_t m_empty = 0;
  uint8_t m_from_free_space = 0;
  // Where the carve kept it among the records of an equal key.
  uint64_t m_carve_order = 0;
  // The parse's sink: where it stopped short (damage, a cap, the parse
  // guard), offsets from the link's first byte, the first few kept, the
  // rest counted; and whether memory ran out under the parse.
  fault_sink m_faults;

  // The link itself.
  lnk_header m_header;
  std::array<uint64_t, 3> m_idlist_times{};  // modified, accessed, created
  uint64_t m_target_mft_entry = 0;
  uint16_t m_target_mft_seq = 0;
  uint32_t m_volume_id_offset = 0;
  uint32_t m_net_link_offset = 0;
  uint32_t m_local_path_offset = 0;
  uint32_t m_path_suffix_offset = 0;
  uint32_t m_name_offset = 0;
  uint32_t m_relative_path_offset = 0;
  uint32_t m_working_dir_offset = 0;
  uint32_t m_arguments_offset = 0;
  uint32_t m_icon_location_offset = 0;

  // Extra-data blocks.
  uint32_t m_environment_offset = 0;
  uint32_t m_console_offset = 0;
  uint32_t m_tracker_offset = 0;
  // The object droids' times: the tracker block's, or where the link has
  // none, the DestList entry's (take_destlist_droids).
  uint64_t m_object_droid_time = 0;
  uint64_t m_birth_object_droid_time = 0;
  uint32_t m_console_fe_offset = 0;
  uint32_t m_code_page = 0;
  uint32_t m_special_folder_offset = 0;
  uint32_t m_special_folder_id = 0;
  uint32_t m_darwin_offset = 0;
  uint32_t m_icon_environment_offset = 0;
  uint32_t m_shim_offset = 0;
  uint32_t m_property_store_offset = 0;
  uint32_t m_property_storage_offset = 0;
  uint32_t m_known_folder_offset = 0;
  uint32_t m_vista_idlist_offset = 0;

  // The texts held in place (lnk_text_fields.def).
#define VK_TEXT_FIELD(type, member, ...) VK_HELD_##type(member)
#define VK_HELD_text(member)
#define VK_HELD_list(member)
#define VK_HELD_guid(member) lnk_guid_text member;
#define VK_HELD_mac(member) lnk_mac_text member;
#define VK_HELD_folder(member) short_text<32> member;
#include "jumplist/lnk_text_fields.def"
#undef VK_TEXT_FIELD
#undef VK_HELD_text
#undef VK_HELD_list
#undef VK_HELD_guid
#undef VK_HELD_mac
#undef VK_HELD_folder
};

struct lnk_record_texts {
  // Context, set by the drivers and the carver.
  std::string m_source_name;
  std::string m_source_type;
  std::string m_source_alt_label;

  // The texts and lists of texts (lnk_text_fields.def).
#define VK_TEXT_FIELD(type, member, ...) VK_OWNED_##type(member)
#define VK_OWNED_text(member) std::string member;
#define VK_OWNED_list(member) std::vector<std::string> member;
#define VK_OWNED_guid(member)
#define VK_OWNED_mac(member)
#define VK_OWNED_folder(member)
#include "jumplist/lnk_text_fields.def"
#undef VK_TEXT_FIELD
#undef VK_OWNED_text
#undef VK_OWNED_list
#undef VK_OWNED_guid
#undef VK_OWNED_mac
#undef VK_OWNED_folder

  // The target ID list's items; a stored record's breakout segments, made
  // from its items as they go.
  shell_item_list m_idlist_items;
  std::vector<idlist_segment> m_idlist_segments;
  // The 16 object-droid bytes of each tracker block met.
  droid_byte_list m_object_droid_bytes;
};

struct lnk_record_fields : lnk_record_values, lnk_record_texts {};

// A record owns all of its texts: a copy is deep and independent.
struct lnk_record : lnk_record_fields {
  lnk_record();
};

// The DestList entry's four droids (volume, object, birth volume, birth
// object) as the report shows a tracker block's, with the MAC address and
// time each object droid holds, where the link has no tracker block (none
// read, or no link): an entry names its machine and file even when its link
// is gone. A tracker block's stand wherever one was read.
void take_destlist_droids(lnk_record& record, const std::array<guid, 4>& droids) noexcept;

struct destlist_entry;
// The DestList cells of the entry at position (from 1) of its list, as the
// report shows them wherever the list was read: as a file or carved.
void take_destlist_entry(lnk_record& record, const destlist_entry& entry, int32_t position);

// Keeps fault in the record's sink (record.m_faults.add), unless the same
// structure and cause is already there; counts it when the list is full.
void add_record_fault(lnk_record& record, const parse_fault& fault) noexcept;

// Heap bytes of a text or list of texts beyond its own object.
inline size_t heap_bytes(const std::string& t) noexcept {
  return t.capacity() > std::string().capacity() ? t.capacity() + 1 : 0;
}
inline size_t heap_bytes(const std::vector<std::string>& list) noexcept {
  size_t n = list.capacity() * sizeof(std::string);
  for (const std::string& t : list) n += heap_bytes(t);
  return n;
}

// What a stored record costs, roughly: its map node and the heap blocks of
// its texts, lists and items. The roads that hold records weigh them by it.
size_t stored_record_bytes(const lnk_record& record) noexcept;

// Every field back to its empty value except the three context texts
// (m_source_name, m_source_type, m_source_alt_label).
void clear_lnk_record(lnk_record& record) noexcept;
// clear_lnk_record, and the three context texts emptied too.
void reset_lnk_record(lnk_record& record) noexcept;
// The same, the record's item records kept as the scratch's spare for the
// next link's ID list, and its list texts' room as the scratch's text rooms,
// instead of freed.
void reset_lnk_record(lnk_record& record, shell_scratch& scratch) noexcept;

// Releases what no report form reads from a record about to be stored: its
// shell items (with keep_items the ID-list breakout's segments are made from
// them first, as that is all of them a report prints), the raw
// object-droid bytes, the DestList path, the Darwin and shim texts and the
// format identifier of a storage in the block chain. Every number and every
// other text stays. With a scratch, the items go to its spare, for the next
// link parsed with it.
void compact_lnk_record(lnk_record& record, bool keep_items) noexcept;
void compact_lnk_record(lnk_record& record, bool keep_items, shell_scratch& scratch) noexcept;

}  // namespace vk
