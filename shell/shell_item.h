// The decoded form of one shell item, and the operations that fill it:
// clearing, folding a sub-structure's record in, adding GUIDs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"
#include "shell/parse_ctx.h"
#include "shell/property_value.h"

namespace vk {

struct shell_item_record;
using shell_item_list = std::vector<shell_item_record>;

// Item flag bits (set with OR, never cleared by a parser).
enum : uint64_t {
  itemflag_stream_value = 0x1,
  itemflag_94_byte = 0x2,
  itemflag_named = 0x10,
  itemflag_sized_record = 0x20,
  itemflag_augm = 0x40,
  itemflag_cfsf = 0x80,
  itemflag_07192006 = 0x100,
  itemflag_10312005 = 0x200,
  itemflag_45177777 = 0x400,
  itemflag_08312006 = 0x800,
  itemflag_untyped = 0x1000,
  itemflag_0a291cf0 = 0x2000,
  itemflag_f5a6b710 = 0x4000,
  itemflag_found_by_search = 0x18000,
};

// The room of texts a record held before it was cleared, for the texts
// parsed into it next. A copy starts with none: it is room, not data.
// Kept in place, so that keeping room never allocates.
struct kept_text_room {
  static constexpr size_t k_most = 4;
  std::array<std::string, k_most> texts;
  size_t count = 0;
  kept_text_room() = default;
  kept_text_room(const kept_text_room&) noexcept {}
  kept_text_room& operator=(const kept_text_room&) noexcept { return *this; }
  kept_text_room(kept_text_room&&) noexcept = default;
  kept_text_room& operator=(kept_text_room&&) noexcept = default;
};

inline constexpr uint8_t k_read_by_search = 2;

struct shell_item_record {
  std::vector<guid> guids;
  std::vector<std::string> guid_names;
  std::vector<std::string> names;
  std::string primary_name;
  std::string long_name;
  std::string localized_name;
  std::string extra_name;
  uint32_t size = 0;
  std::vector<std::string> date_texts;
  property_value_map properties;
  property_value_map found_properties;
  uint64_t accessed = 0;
  uint64_t modified = 0;
  uint64_t created = 0;
  uint8_t is_directory = 1;
  // 0: read; 1: nothing read it; k_read_by_search: of a type byte no
  // parser knows, only the fallbacks' search found something in it.
  uint8_t not_parsed = 1;
  // 1: primary_name, held once, is also the first of names (an 8-bit file
  // entry's short name); listed_names gives the whole list.
  uint8_t primary_leads_names = 0;
  uint64_t mft_entry = 0;
  uint16_t mft_sequence = 0;
  uint16_t item_type = 0xFFFF;
  uint64_t item_offset = 0;
  std::vector<uint8_t> raw;
  shell_item_list children;
  std::vector<shell_item_list> embedded_lists;
  uint64_t flags = 0;

  // The property being added (scratch of the property filer).
  std::string prop_key_text;
  std::vector<std::string> prop_texts;
  std::vector<uint64_t> prop_qwords;
  std::vector<uint64_t> prop_offsets;
  std::vector<uint32_t> prop_dwords;
  std::vector<uint8_t> prop_bytes;
  std::vector<std::string> prop_guid_texts;
  std::vector<std::string> prop_names2;
  std::array<uint8_t, 6> prop_flags{};
  // Set on scratch records whose lists above nobody reads (the records a
  // storage is parsed into before it is folded into its item): filing then
  // leaves the lists and flags above empty, and clearing need not touch
  // them. Clearing keeps it.
  bool prop_lists_unread = false;
  // Set on records parsed only for the values a report shows (texts and
  // times): a single number or GUID is then decoded, and charged to the
  // parse guard as a filed record, but not filed. Clearing keeps it.
  bool prop_shown_only = false;
  // Room of the GUID-name and date texts cleared, taken by take_pooled(rec, text).
  kept_text_room kept_room;

  shell_item_record();
  ~shell_item_record();
  shell_item_record(const shell_item_record&) = default;
  shell_item_record(shell_item_record&&) = default;
  shell_item_record& operator=(const shell_item_record&) = default;
  shell_item_record& operator=(shell_item_record&&) = default;
  void clear();

  // Date and time texts of the three times (UTC, to the second), made when
  // asked: the record keeps only the raw FILETIMEs. "" for a time of 0.
  std::string modified_date() const;
  std::string modified_time() const;
  std::string created_date() const;
  std::string created_time() const;
  std::string accessed_date() const;
  std::string accessed_time() const;
};

// Room for a list or text that has none: a list of a few elements, a text
// of 64 bytes. The contents stay empty; only the capacity is given.
void take_pooled_list(std::vector<std::string>& list);
void take_pooled_list(std::vector<guid>& list);
void take_pooled_text(std::string& text);
// Inline: most calls find the storage there already.
inline void take_pooled(std::vector<std::string>& list) {
  if (list.capacity() == 0) take_pooled_list(list);
}
inline void take_pooled(std::vector<guid>& list) {
  if (list.capacity() == 0) take_pooled_list(list);
}
inline void take_pooled(std::string& text) {
  if (text.capacity() <= std::string().capacity()) take_pooled_text(text);
}
// The same, room the record kept when it was cleared taken first.
inline void take_pooled(shell_item_record& rec, std::string& text) {
  if (text.capacity() > std::string().capacity()) return;
  kept_text_room& kept = rec.kept_room;
  if (kept.count == 0) return take_pooled_text(text);
  text.swap(kept.texts[--kept.count]);
}
// The record's names in order, the primary name first where it leads them.
std::vector<std::string> listed_names(const shell_item_record& rec);
// Makes a primary name that leads the names one of them in place.
void spell_out_names(shell_item_record& rec);
// Adds name to the record's names; an empty one adds nothing.
inline void add_item_name(shell_item_record& rec, std::string&& name) {
  if (name.empty()) return;
  take_pooled(rec.names);
  rec.names.push_back(std::move(name));
}

// Spare lists of item records kept in the scratch, so that the items of
// one link are parsed into again for the next instead of being destroyed
// and rebuilt. give_spare_items leaves items empty without storage; a list
// of more than a few dozen records is freed instead of kept, and so is
// every list given without a scratch. take_spare_items gives an empty items
// the records of the list given last (left as they were: parse_idlist
// clears each one it parses into and drops those it does not use).
void give_spare_items(shell_item_list& items) noexcept;
void give_spare_items(shell_item_list& items, shell_scratch& scratch) noexcept;
void take_spare_items(shell_item_list& items, shell_scratch& scratch);
// Swaps list (its records about to be parsed into again) for the spare list
// whose size is nearest count, when that one is nearer than list's own; the
// list given up stays as the spare's.
void exchange_spare_list(shell_item_list& list, size_t count, shell_scratch& scratch) noexcept;
// Erases records [from, end) of list, keeping a few dozen of them cleared in
// the scratch for add_spare_item.
void keep_surplus_items(shell_item_list& list, size_t from, shell_scratch& scratch) noexcept;
// Clears rec to be parsed into again: its property nodes and the records of
// its children go to the scratch's spares.
void clear_item_for_reuse(shell_item_record& rec, shell_scratch& scratch) noexcept;
// Appends a cleared record to list, a kept one when there is one.
shell_item_record& add_spare_item(shell_item_list& list, shell_scratch& scratch);

// A cleared record of the scratch for a structure parsed on its own before
// it is merged into an item, cleared again (its lists and texts keep their
// room) when it goes; one per nesting level (may throw bad_alloc).
class spare_item_record {
 public:
  explicit spare_item_record(shell_scratch& scratch);
  ~spare_item_record();
  spare_item_record(const spare_item_record&) = delete;
  spare_item_record& operator=(const spare_item_record&) = delete;
  shell_item_record& get() { return *m_rec; }

 private:
  shell_scratch& m_scratch;
  spare_items& m_spare;
  shell_item_record* m_rec = nullptr;
};

namespace detail {
// Seconds from 1601-01-01 to the day before the 1st of each month a DOS
// date can hold, indexed by the date's year and month bits together (date
// >> 5); -1 where the month bits name no month.
inline constexpr std::array<int64_t, 2048> k_dos_month_seconds = [] {
  // Cumulative day counts before each month, minus one (index 0 = January).
  constexpr int16_t month_starts[12] = {-1, 30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333};
  std::array<int64_t, 2048> out{};
  for (int64_t i = 0; i < 128; ++i) {
    const int64_t year = 1980 + i, y1 = year - 1;
    const int64_t before = (year - 1601) * 365 + y1 / 4 + y1 / 400 - y1 / 100 - 388;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (int64_t m = 0; m < 16; ++m)
      out[static_cast<size_t>(i * 16 + m)] =
          m < 1 || m > 12 ? -1 : (before + month_starts[m - 1] + (leap && m > 2 ? 1 : 0)) * 86400;
  }
  return out;
}();
// Days of the month named by a DOS date's year and month bits (date >> 5);
// 0 where the month bits name no month.
inline constexpr std::array<uint8_t, 2048> k_dos_month_days = [] {
  constexpr uint8_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::array<uint8_t, 2048> out{};
  for (int64_t i = 0; i < 128; ++i) {
    const int64_t year = 1980 + i;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (int64_t m = 1; m <= 12; ++m)
      out[static_cast<size_t>(i * 16 + m)] =
          static_cast<uint8_t>(days[m - 1] + (leap && m == 2 ? 1 : 0));
  }
  return out;
}();
// Seconds of the hour and minute bits of a DOS time (time >> 5); -1 for an
// hour above 23 or a minute above 59.
inline constexpr std::array<int32_t, 2048> k_dos_clock_seconds = [] {
  std::array<int32_t, 2048> out{};
  for (int32_t i = 0; i < 2048; ++i) {
    const int32_t hour = i >> 6, min = i & 63;
    out[static_cast<size_t>(i)] = hour > 23 || min > 59 ? -1 : hour * 3600 + min * 60;
  }
  return out;
}();
}  // namespace detail

// The FILETIME of a DOS date and time read as UTC; 0 when a field is out of
// range (day 0 or past its month's end, month 0 or above 12, hour, minute or
// second too large). Inline and from tables: every file entry converts up to
// three.
inline uint64_t dos_filetime(uint16_t dos_date, uint16_t dos_time) {
  const uint32_t day = dos_date & 31u, sec2 = dos_time & 31u;
  const int64_t month = detail::k_dos_month_seconds[dos_date >> 5];
  const int32_t clock = detail::k_dos_clock_seconds[dos_time >> 5];
  if (day == 0 || day > detail::k_dos_month_days[dos_date >> 5] || sec2 > 29 || (month | clock) < 0)
    return 0;
  return static_cast<uint64_t>(month + day * 86400 + clock + sec2 * 2) * 10000000;
}

// A DOS date and time that no date covers keep their place as they stand:
// their two words (the time's above the date's, as stored) under a mark in
// the top half that no FILETIME of a real date has, shown as a raw value.
inline constexpr uint64_t k_raw_dos_mark = uint64_t{0xFFFFFFFF} << 32;
inline bool is_raw_dos_time(uint64_t slot) {
  return (slot & k_raw_dos_mark) == k_raw_dos_mark;
}
// What a time slot holds for a DOS date (not 0, which is no time) and time.
inline uint64_t dos_time_slot(uint16_t dos_date, uint16_t dos_time) {
  const uint64_t ticks = dos_filetime(dos_date, dos_time);
  return ticks ? ticks : k_raw_dos_mark | uint64_t{dos_time} << 16 | dos_date;
}
inline constexpr const char* k_raw_dos_cause =
    "DOS date or time that no date covers; shown as it stands";

// The merge rules for one field written straight into a record: an empty
// text adds nothing, an empty slot takes the text, a filled one passes it on
// to names; a time fills only an empty slot.
inline void merge_name(shell_item_record& rec, std::string& slot, std::string&& text) {
  if (text.empty()) return;
  if (slot.empty())
    slot = std::move(text);
  else
    add_item_name(rec, std::move(text));
}
inline void merge_time(uint64_t& slot, uint64_t ticks) {
  if (ticks && !slot) slot = ticks;
}
template <class V>
void append_moved(V& dst, V&& src) {
  if (dst.empty()) {
    // src keeps dst's room.
    dst.swap(src);
    return;
  }
  dst.reserve(dst.size() + src.size());
  for (auto& x : src) dst.push_back(std::move(x));
}

void clear_item_property_fields(shell_item_record& rec);

// Folds src into dst: lists appended, single fields filled only while empty
// (a displaced name goes to dst.names), size overwritten when non-zero.
void merge_shell_item(shell_item_record& dst, const shell_item_record& src);
// The same, taking src's contents instead of copying them.
void merge_shell_item(shell_item_record& dst, shell_item_record&& src);

// Adds the 16 bytes at p (nothing for an all-zero GUID) and its name text
// when the GUID table knows it. p must hold 16 bytes.
void add_item_guid(shell_item_record& rec, const uint8_t* p);
void add_item_guid(shell_item_record& rec, const guid& g);
// One GUID (16) when 16 to 31 bytes are given, two (32) from 32; 0 for a
// null p or fewer than 16 bytes (a negative count included).
int32_t add_item_guid_pair(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                           int64_t available);

void copy_property_map(property_value_map& out, const property_value_map& src);

// The name, strings and two times of a 0xBEEF block of kind (5,11), read
// inside the block (its u16 size, clipped to available). True when the name
// is not empty.
bool parse_beef_v5_id11(const uint8_t* block, int64_t available, std::string& name, std::string& s1,
                        std::string& s2, std::string& s3, uint64_t& time_a, uint64_t& time_b);
// The same with its texts charged to the guard of the running parse.
bool parse_beef_v5_id11(parse_guard* guard, const uint8_t* block, int64_t available,
                        std::string& name, std::string& s1, std::string& s2, std::string& s3,
                        uint64_t& time_a, uint64_t& time_b);

// With debug output on, the bytes a recycle-bin block's texts span, in
// ctx.consumed (696 in all); reads stay inside the block.
void recycle_block_debug_length(const uint8_t* block, int64_t available, parse_ctx& ctx);

// 18 for a 0x45177777 structure at p (item flag 0x400 set), else 0.
uint32_t parse_45177777_block(const uint8_t* block, parse_ctx& ctx, shell_item_record& rec,
                              const uint8_t* p, int64_t available);

}  // namespace vk
