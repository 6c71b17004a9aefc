#include "jumplist/lnk_record.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "jumplist/destlist.h"
#include "jumplist/idlist_breakout.h"
#include "jumplist/lnk_layout.h"
#include "shell/property_value.h"

namespace vk {

lnk_header load_lnk_header(const uint8_t* p) {
  namespace H = lnk_layout::header;
  const byte_view v(p, H::size);
  lnk_header h;
  h.m_lnk_header_size = v.u32_or_zero(H::header_size);
  v.copy(H::clsid, h.m_lnk_clsid.data(), h.m_lnk_clsid.size());
  h.m_lnk_flags = v.u32_or_zero(H::flags);
  h.m_file_attributes = v.u32_or_zero(H::file_attributes);
  h.m_create_time = v.u64_or_zero(H::create_time);
  h.m_access_time = v.u64_or_zero(H::access_time);
  h.m_write_time = v.u64_or_zero(H::write_time);
  h.m_file_size = v.u32_or_zero(H::file_size);
  h.m_icon_index = v.i32_or_zero(H::icon_index);
  h.m_show_cmd = v.u32_or_zero(H::show_cmd);
  h.m_hotkey = v.u16_or_zero(H::hotkey);
  h.m_reserved1 = v.u16_or_zero(H::reserved1);
  h.m_reserved2 = v.u32_or_zero(H::reserved2);
  h.m_reserved3 = v.u32_or_zero(H::reserved3);
  return h;
}

lnk_record::lnk_record() = default;

namespace {

using texts = lnk_record_texts;

// Members named at compile time, so that emptying them all is a run of
// stores at fixed offsets.
template <const auto& Members>
struct member_list {
  static constexpr size_t size = std::size(Members);
  template <class T>
  static void clear(T& t) noexcept {
    each(t, [](auto& m) { m.clear(); });
  }
  template <class T>
  static size_t heap_bytes(const T& t) noexcept {
    size_t n = 0;
    each(t, [&](const auto& m) { n += vk::heap_bytes(m); });
    return n;
  }
  template <class T, class F>
  static void each(T& t, F&& f) noexcept {
    each(t, f, std::make_index_sequence<size>());
  }
  template <class T, class F, size_t... I>
  static void each(T& t, F& f, std::index_sequence<I...>) noexcept {
    (f(t.*Members[I]), ...);
  }
};

// Every text but the three context texts, and every list (lnk_text_fields.def).
#define VK_TEXT_FIELD(type, member, ...) VK_TEXT_MEMBER_##type(member)
#define VK_TEXT_MEMBER_text(member) &texts::member,
#define VK_TEXT_MEMBER_list(member)
#define VK_TEXT_MEMBER_guid(member)
#define VK_TEXT_MEMBER_mac(member)
#define VK_TEXT_MEMBER_folder(member)
constexpr std::string texts::*k_text_members[] = {
#include "jumplist/lnk_text_fields.def"
};
#undef VK_TEXT_MEMBER_text
#undef VK_TEXT_MEMBER_list
#define VK_TEXT_MEMBER_text(member)
#define VK_TEXT_MEMBER_list(member) &texts::member,
constexpr std::vector<std::string> texts::*k_list_members[] = {
#include "jumplist/lnk_text_fields.def"
};
#undef VK_TEXT_FIELD
#undef VK_TEXT_MEMBER_text
#undef VK_TEXT_MEMBER_list
#undef VK_TEXT_MEMBER_guid
#undef VK_TEXT_MEMBER_mac
#undef VK_TEXT_MEMBER_folder

using text_members = member_list<k_text_members>;
using list_members = member_list<k_list_members>;
constexpr size_t kContextTexts = 3;
// The room of a text held in place (no heap block to let go).
const size_t kShortCapacity = std::string().capacity();

// A member added to the texts and missing above would outlive a clearing.
static_assert(sizeof(texts) == (text_members::size + kContextTexts) * sizeof(std::string) +
                                   list_members::size * sizeof(std::vector<std::string>) +
                                   sizeof(shell_item_list) + sizeof(std::vector<idlist_segment>) +
                                   sizeof(droid_byte_list));
static_assert(std::is_trivially_copyable_v<lnk_record_values>);
static_assert(std::is_standard_layout_v<lnk_record_values>);
// Copied over a record's values: one copy, no empty record built each time.
const lnk_record_values kEmptyValues{};

// The texts held in place close the values: emptying them needs their sizes
// only, so the copy above stops where they start.
#define VK_TEXT_FIELD(type, member, ...) VK_HELD_##type(member)
#define VK_HELD_text(member)
#define VK_HELD_list(member)
#define VK_HELD_guid(member) VK_HELD(member)
#define VK_HELD_mac(member) VK_HELD(member)
#define VK_HELD_folder(member) VK_HELD(member)
#define VK_HELD(member) offsetof(lnk_record_values, member),
constexpr size_t k_held_offsets[] = {
#include "jumplist/lnk_text_fields.def"
};
#undef VK_HELD
#define VK_HELD(member) sizeof(lnk_record_values::member) +
constexpr size_t k_held_bytes =
#include "jumplist/lnk_text_fields.def"
    0;
#undef VK_HELD
#define VK_HELD(member) record.member.clear();
void clear_held_texts(lnk_record_values& record) noexcept {
#include "jumplist/lnk_text_fields.def"
}
#undef VK_HELD
#undef VK_TEXT_FIELD
#undef VK_HELD_text
#undef VK_HELD_list
#undef VK_HELD_guid
#undef VK_HELD_mac
#undef VK_HELD_folder
constexpr size_t k_held_at =
    *std::min_element(std::begin(k_held_offsets), std::end(k_held_offsets));
// Nothing but the held texts (and the struct's closing padding) past them.
static_assert(sizeof(lnk_record_values) - k_held_at - k_held_bytes < alignof(lnk_record_values));

// Empties the list, its texts' room left in rooms.
void give_texts(std::vector<std::string>& list, text_rooms& rooms) noexcept {
  if (list.empty()) return;
  for (std::string& text : list) rooms.give(text);
  list.clear();
}

}  // namespace

void take_destlist_entry(lnk_record& r, const destlist_entry& entry, int32_t position) {
  r.m_entry_num = entry.m_entry_num;
  r.m_mru_time = entry.m_mru_time;
  r.m_has_access_count = entry.m_has_access_count;
  r.m_access_count = entry.m_access_count;
  r.m_netbios_name = entry.m_netbios_name;
  r.m_checksum = entry.m_checksum;
  r.m_mru_position = position;
  take_destlist_droids(r, entry.m_droids);
}

void take_destlist_droids(lnk_record& r, const std::array<guid, 4>& droids) noexcept {
  if (r.m_tracker_offset != 0) return;
  auto put = [](lnk_guid_text& out, const guid& g) {
    if (guid_is_zero(g))
      out.clear();
    else
      write_guid_text(out.fill(), g);
  };
  auto put_mac = [](lnk_mac_text& out, const guid& g) {
    if (!write_droid_mac_text(out.fill(), g)) out.clear();
  };
  put(r.m_destlist_volume_droid, droids[0]);
  put(r.m_destlist_object_droid, droids[1]);
  put(r.m_destlist_birth_volume_droid, droids[2]);
  put(r.m_destlist_birth_object_droid, droids[3]);
  put_mac(r.m_destlist_mac_address, droids[1]);
  put_mac(r.m_destlist_birth_mac_address, droids[3]);
  r.m_object_droid_time = guid_v1_ticks(droids[1].m_bytes);
  r.m_birth_object_droid_time = guid_v1_ticks(droids[3].m_bytes);
}

void clear_lnk_record(lnk_record& record) noexcept {
  // The values are assigned whole; each text is emptied where it is, keeping
  // its room for the next link parsed into the same record.
  std::memcpy(static_cast<void*>(static_cast<lnk_record_values*>(&record)), &kEmptyValues,
              k_held_at);
  clear_held_texts(record);
  text_members::clear<texts>(record);
  list_members::clear<texts>(record);
  // A stored record gave its items up already: nothing to give then.
  if (record.m_idlist_items.capacity() != 0) give_spare_items(record.m_idlist_items);
  record.m_idlist_segments.clear();
  record.m_object_droid_bytes.clear();
}

void add_record_fault(lnk_record& record, const parse_fault& fault) noexcept {
  record.m_faults.add(fault);
}

void reset_lnk_record(lnk_record& record) noexcept {
  clear_lnk_record(record);
  record.m_source_name.clear();
  record.m_source_type.clear();
  record.m_source_alt_label.clear();
}

void reset_lnk_record(lnk_record& record, shell_scratch& scratch) noexcept {
  if (record.m_idlist_items.capacity() != 0) give_spare_items(record.m_idlist_items, scratch);
  // The list texts' room serves the texts of the next link.
  list_members::each<texts>(record, [&](std::vector<std::string>& list) {
    if (!list.empty()) give_texts(list, scratch.rooms);
  });
  reset_lnk_record(record);
}

namespace {
// scratch: where the items go as spare; null: they are freed.
void compact_record(lnk_record& record, bool keep_items, shell_scratch* scratch) noexcept {
  if (keep_items) {
    // Memory that leaves the breakout without its segments is said with the
    // record's faults, on every road that reports it.
    fault_sink short_of_memory;
    collect_idlist_segments(record.m_idlist_segments, record.m_idlist_items, short_of_memory);
    if (short_of_memory.out_of_memory())
      record.m_faults.add("ID list", lnk_layout::idlist::first_item,
                          "its items not kept for the subpath breakout: out of memory");
  }
  // The items go to the spare the next link's ID list is parsed into.
  if (scratch)
    give_spare_items(record.m_idlist_items, *scratch);
  else
    give_spare_items(record.m_idlist_items);
  record.m_object_droid_bytes.release();
  for (std::string texts::*text :
       {&texts::m_destlist_path, &texts::m_darwin_product, &texts::m_darwin_feature,
        &texts::m_darwin_component, &texts::m_shim_layer, &texts::m_property_storage_fmtid}) {
    std::string& t = record.*text;
    if (t.capacity() > kShortCapacity)
      std::string().swap(t);
    else
      t.clear();
  }
}
}  // namespace

void compact_lnk_record(lnk_record& record, bool keep_items) noexcept {
  compact_record(record, keep_items, nullptr);
}

void compact_lnk_record(lnk_record& record, bool keep_items, shell_scratch& scratch) noexcept {
  compact_record(record, keep_items, &scratch);
}

size_t stored_record_bytes(const lnk_record& r) noexcept {
  size_t n = sizeof(lnk_record) + 64 + text_members::heap_bytes<texts>(r) +
             list_members::heap_bytes<texts>(r) + heap_bytes(r.m_source_name) +
             heap_bytes(r.m_source_type) + heap_bytes(r.m_source_alt_label);
  n += r.m_idlist_segments.capacity() * sizeof(idlist_segment);
  for (const idlist_segment& s : r.m_idlist_segments)
    n += heap_bytes(s.m_name) + heap_bytes(s.m_label);
  n += r.m_idlist_items.capacity() * sizeof(shell_item_record);
  return n + r.m_object_droid_bytes.size();
}

}  // namespace vk
