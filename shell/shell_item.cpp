#include "shell/shell_item.h"

#include <algorithm>
#include <array>
#include <memory>
#include <type_traits>

#include "cmdline/cmd_params.h"
#include "foundation/vk_time.h"
#include "shell/guid_names.h"
#include "shell/property_store.h"

namespace vk {

namespace {

// Lists and texts made when none is given start with room for a few
// entries.
constexpr size_t k_new_list = 4;          // elements
constexpr size_t k_new_text = 64;         // bytes
constexpr size_t k_kept_text_most = 512;  // bytes of room a cleared text may keep
constexpr size_t k_spare_items_max = 48;  // records (and room for them) the spare keeps
constexpr size_t k_spare_lists_max = 8;   // whole lists the spare keeps

}  // namespace

// The item lists given up (by a link, by a record's children), to be parsed
// into again whole, and single records left over from lists, cleared, for
// lists that grow.
struct spare_items {
  // Whole lists, their records as they were left (parse_idlist clears each
  // one it parses into); `listed` records in all, at most k_spare_items_max.
  // A walk takes the list nearest its item count, so that records are
  // seldom moved one by one between lists and the single records.
  std::vector<shell_item_list> lists;
  size_t listed = 0;
  // The first `kept` are the spare records; those after them were moved
  // from and own nothing: they stay to be assigned over rather than be
  // destroyed and built again.
  std::vector<shell_item_record> records;
  size_t kept = 0;
  // The records lent to structures parsed on their own, one per nesting
  // level; the first `lent` are in use.
  std::vector<std::unique_ptr<shell_item_record>> lendable;
  size_t lent = 0;
};

template <>
void scratch_drop<spare_items>::operator()(spare_items* part) const noexcept {
  delete part;
}

namespace {

// Moves records [from, end) of list into spare's single records (up to the
// same bound as a list, cleared; their property nodes go to the run's
// spare nodes) and erases them from the list.
void keep_records(shell_scratch& scratch, spare_items* spare, shell_item_list& list,
                  size_t from) noexcept {
  if (spare && spare->records.capacity() < k_spare_items_max) {
    try {
      spare->records.reserve(k_spare_items_max);
    } catch (...) {
      spare = nullptr;  // no room for the spare: the records are freed
    }
  }
  for (size_t i = from; spare && i < list.size() && spare->kept < k_spare_items_max; ++i) {
    shell_item_record& rec = list[i];
    clear_item_for_reuse(rec, scratch);
    if (spare->kept < spare->records.size())
      spare->records[spare->kept] = std::move(rec);
    else
      spare->records.push_back(std::move(rec));
    ++spare->kept;
  }
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(from), list.end());
}

// Keeps list whole in spare's lists, leaving it empty without storage;
// false (list untouched) when it is empty, too long or there is no room.
bool keep_list(spare_items& spare, shell_item_list& list) noexcept {
  if (list.empty() || list.capacity() > k_spare_items_max ||
      spare.lists.size() >= k_spare_lists_max || spare.listed + list.size() > k_spare_items_max)
    return false;
  if (spare.lists.capacity() < k_spare_lists_max) {
    try {
      spare.lists.reserve(k_spare_lists_max);
    } catch (...) {
      return false;
    }
  }
  spare.listed += list.size();
  spare.lists.emplace_back().swap(list);
  return true;
}

}  // namespace

void clear_item_for_reuse(shell_item_record& rec, shell_scratch& scratch) noexcept {
  // Most records filed no property: no call for their empty maps.
  if (!rec.properties.empty()) keep_property_nodes(rec.properties, scratch);
  if (!rec.found_properties.empty()) keep_property_nodes(rec.found_properties, scratch);
  if (!rec.children.empty()) {
    spare_items* spare = try_made_part(scratch.items);
    if (!spare || !keep_list(*spare, rec.children)) keep_records(scratch, spare, rec.children, 0);
  }
  rec.clear();
}

void exchange_spare_list(shell_item_list& list, size_t count, shell_scratch& scratch) noexcept {
  const size_t have = list.size();
  if (have == count || (have != 0 && list.capacity() > k_spare_items_max)) return;
  spare_items* spare = try_made_part(scratch.items);
  if (!spare || spare->lists.empty()) return;
  auto gap = [count](size_t n) { return n > count ? n - count : count - n; };
  size_t best = spare->lists.size(), best_gap = gap(have);
  for (size_t i = 0; i < spare->lists.size(); ++i) {
    const size_t g = gap(spare->lists[i].size());
    if (g < best_gap) {
      best = i;
      best_gap = g;
    }
  }
  if (best == spare->lists.size()) return;
  shell_item_list& kept = spare->lists[best];
  const size_t listed = spare->listed - kept.size() + have;
  if (listed > k_spare_items_max) return;
  list.swap(kept);
  spare->listed = listed;
  if (kept.empty()) {
    // The list came without records: its slot goes.
    kept.swap(spare->lists.back());
    spare->lists.pop_back();
  }
}

namespace {

// Moves the room of the list's texts to kept (a few of moderate size) and
// empties the list.
void keep_text_room(kept_text_room& kept, std::vector<std::string>& list) noexcept {
  for (std::string& s : list) {
    if (kept.count >= kept_text_room::k_most) break;
    const size_t room = s.capacity();
    if (room <= std::string().capacity() || room > k_kept_text_most) continue;
    // Moved, not swapped: the slot holds no room of its own.
    std::string& slot = kept.texts[kept.count++];
    slot = std::move(s);
    slot.clear();
  }
  list.clear();
}

}  // namespace

// Lists of records grow by moving them.
static_assert(std::is_nothrow_move_constructible_v<shell_item_record>);

// Every member starts in its cleared state by its initializer.
shell_item_record::shell_item_record() = default;

shell_item_record::~shell_item_record() = default;

void take_pooled_list(std::vector<std::string>& list) {
  if (list.capacity() == 0) list.reserve(k_new_list);
}

void take_pooled_list(std::vector<guid>& list) {
  if (list.capacity() == 0) list.reserve(k_new_list);
}

void take_pooled_text(std::string& text) {
  if (text.capacity() > std::string().capacity()) return;
  if (text.capacity() < k_new_text) text.reserve(k_new_text);
}

void give_spare_items(shell_item_list& items) noexcept {
  shell_item_list().swap(items);
}

void give_spare_items(shell_item_list& items, shell_scratch& scratch) noexcept {
  // Most often the part is there and keeps the list whole.
  spare_items* spare = scratch.items ? scratch.items.get() : try_made_part(scratch.items);
  if (spare && keep_list(*spare, items)) return;
  shell_item_list given;
  given.swap(items);
  if (!spare || given.empty() || given.capacity() > k_spare_items_max) return;
  // Without room for it whole, its records are kept one by one.
  keep_records(scratch, spare, given, 0);
}

void keep_surplus_items(shell_item_list& list, size_t from, shell_scratch& scratch) noexcept {
  if (from >= list.size()) return;
  keep_records(scratch, try_made_part(scratch.items), list, from);
}

shell_item_record& add_spare_item(shell_item_list& list, shell_scratch& scratch) {
  spare_items* spare = try_made_part(scratch.items);
  if (!spare || spare->kept == 0) return list.emplace_back();
  list.push_back(std::move(spare->records[spare->kept - 1]));
  --spare->kept;
  return list.back();
}

spare_item_record::spare_item_record(shell_scratch& scratch)
    : m_scratch(scratch), m_spare(made_part(scratch.items)) {
  if (m_spare.lent == m_spare.lendable.size())
    m_spare.lendable.push_back(std::make_unique<shell_item_record>());
  m_rec = m_spare.lendable[m_spare.lent++].get();
}

spare_item_record::~spare_item_record() {
  clear_item_for_reuse(*m_rec, m_scratch);
  m_rec->prop_lists_unread = false;
  m_rec->prop_shown_only = false;
  --m_spare.lent;
}

void take_spare_items(shell_item_list& items, shell_scratch& scratch) {
  if (!items.empty()) return;
  spare_items& spare = made_part(scratch.items);
  if (spare.lists.empty()) return;
  // The list given last, most likely the link's own.
  items.swap(spare.lists.back());
  spare.listed -= items.size();
  spare.lists.pop_back();
}

namespace {
// The lists of clear() that own elements or nodes, which most records
// parsed into again left empty; out of line, so that clear() itself needs
// no saved registers.
[[gnu::noinline]] void clear_owning_lists(shell_item_record& rec) noexcept {
  if (!rec.guid_names.empty()) keep_text_room(rec.kept_room, rec.guid_names);
  if (!rec.date_texts.empty()) keep_text_room(rec.kept_room, rec.date_texts);
  rec.names.clear();
  if (!rec.children.empty()) rec.children.clear();
  if (!rec.embedded_lists.empty()) rec.embedded_lists.clear();
  if (!rec.properties.empty()) rec.properties.clear();
  if (!rec.found_properties.empty()) rec.found_properties.clear();
}
}  // namespace

void shell_item_record::clear() {
  // A record parsed into again mostly had few of its members filled: only
  // those are touched (the maps' clearing is not free even when empty). The
  // property scratch is left: the filer empties it before each property and
  // nothing else reads it.
  guids.clear();
  raw.clear();
  if (!guid_names.empty() || !date_texts.empty() || !names.empty() || !children.empty() ||
      !embedded_lists.empty() || !properties.empty() || !found_properties.empty())
    clear_owning_lists(*this);
  primary_name.clear();
  long_name.clear();
  localized_name.clear();
  extra_name.clear();
  size = 0;
  accessed = modified = created = 0;
  mft_entry = 0;
  mft_sequence = 0;
  item_offset = 0;
  flags = 0;
  is_directory = 1;
  not_parsed = 1;
  primary_leads_names = 0;
  item_type = 0xFFFF;
}

void clear_item_property_fields(shell_item_record& rec) {
  // Such a record's scratch is never filled.
  if (rec.prop_lists_unread) return;
  rec.prop_key_text.clear();
  if (!rec.prop_texts.empty()) rec.prop_texts.clear();
  rec.prop_qwords.clear();
  rec.prop_offsets.clear();
  rec.prop_dwords.clear();
  rec.prop_bytes.clear();
  if (!rec.prop_guid_texts.empty()) rec.prop_guid_texts.clear();
  if (!rec.prop_names2.empty()) rec.prop_names2.clear();
  rec.prop_flags.fill(0);
}

namespace {

// Date (part 0) or time (part 1) text of a FILETIME; "" for 0.
std::string time_part(uint64_t ticks, int part) {
  if (!ticks) return {};
  std::string date, clock;
  format_date_time_sec(date, clock, time_from_u64(ticks, type_time::filetime), false);
  return part == 0 ? date : clock;
}

void merge_name(shell_item_record& dst, std::string& field, const std::string& src) {
  if (src.empty()) return;
  if (field.empty())
    field = src;
  else
    dst.names.push_back(src);
}
template <class V>
void append(V& dst, const V& src) {
  dst.insert(dst.end(), src.begin(), src.end());
}

}  // namespace

std::string shell_item_record::modified_date() const {
  return time_part(modified, 0);
}
std::string shell_item_record::modified_time() const {
  return time_part(modified, 1);
}
std::string shell_item_record::created_date() const {
  return time_part(created, 0);
}
std::string shell_item_record::created_time() const {
  return time_part(created, 1);
}
std::string shell_item_record::accessed_date() const {
  return time_part(accessed, 0);
}
std::string shell_item_record::accessed_time() const {
  return time_part(accessed, 1);
}

std::vector<std::string> listed_names(const shell_item_record& rec) {
  std::vector<std::string> names;
  names.reserve(rec.names.size() + rec.primary_leads_names);
  if (rec.primary_leads_names) names.push_back(rec.primary_name);
  names.insert(names.end(), rec.names.begin(), rec.names.end());
  return names;
}

void spell_out_names(shell_item_record& rec) {
  if (!rec.primary_leads_names) return;
  rec.names.insert(rec.names.begin(), rec.primary_name);
  rec.primary_leads_names = 0;
}

void merge_shell_item(shell_item_record& dst, const shell_item_record& src) {
  if (&dst == &src) return;
  if (src.primary_leads_names) dst.names.push_back(src.primary_name);
  for (const std::string& n : src.names)
    if (!n.empty()) dst.names.push_back(n);
  if (src.flags) dst.flags |= src.flags;
  append(dst.date_texts, src.date_texts);
  append(dst.guid_names, src.guid_names);
  append(dst.guids, src.guids);
  merge_name(dst, dst.primary_name, src.primary_name);
  merge_name(dst, dst.long_name, src.long_name);
  merge_name(dst, dst.localized_name, src.localized_name);
  merge_name(dst, dst.extra_name, src.extra_name);
  for (const auto& entry : src.properties) dst.properties.insert(dst.properties.end(), entry);
  for (const auto& entry : src.found_properties)
    dst.found_properties.insert(dst.found_properties.end(), entry);
  if (src.mft_entry && !dst.mft_entry) {
    dst.mft_entry = src.mft_entry;
    dst.mft_sequence = src.mft_sequence;
  }
  if (src.created && !dst.created) dst.created = src.created;
  if (src.modified && !dst.modified) dst.modified = src.modified;
  if (src.accessed && !dst.accessed) dst.accessed = src.accessed;
  append(dst.children, src.children);
  append(dst.embedded_lists, src.embedded_lists);
  if (src.size) dst.size = src.size;
}

void merge_shell_item(shell_item_record& dst, shell_item_record&& src) {
  if (&dst == &src) return;
  // The primary name is moved below: its place among the names is copied.
  if (src.primary_leads_names) dst.names.push_back(src.primary_name);
  for (std::string& n : src.names)
    if (!n.empty()) dst.names.push_back(std::move(n));
  if (src.flags) dst.flags |= src.flags;
  append_moved(dst.date_texts, std::move(src.date_texts));
  append_moved(dst.guid_names, std::move(src.guid_names));
  append_moved(dst.guids, std::move(src.guids));
  merge_name(dst, dst.primary_name, std::move(src.primary_name));
  merge_name(dst, dst.long_name, std::move(src.long_name));
  merge_name(dst, dst.localized_name, std::move(src.localized_name));
  merge_name(dst, dst.extra_name, std::move(src.extra_name));
  if (dst.properties.empty())
    dst.properties = std::move(src.properties);
  else
    dst.properties.merge(src.properties);
  if (dst.found_properties.empty())
    dst.found_properties = std::move(src.found_properties);
  else
    dst.found_properties.merge(src.found_properties);
  if (src.mft_entry && !dst.mft_entry) {
    dst.mft_entry = src.mft_entry;
    dst.mft_sequence = src.mft_sequence;
  }
  merge_time(dst.created, src.created);
  merge_time(dst.modified, src.modified);
  merge_time(dst.accessed, src.accessed);
  append_moved(dst.children, std::move(src.children));
  append_moved(dst.embedded_lists, std::move(src.embedded_lists));
  if (src.size) dst.size = src.size;
}

namespace {
// The last known GUID added on this thread and its name text: most links
// name the same few folders (My Computer above all), so the lookup and the
// text are made once for a run of them. The names are the table's own
// static texts, so a kept one never goes stale.
struct last_known_guid {
  guid key;
  std::string text;
  bool set = false;
};
// A cache of constant data: the table's name text of the last GUID named.
thread_local last_known_guid t_last_guid;
}  // namespace

void add_item_guid(shell_item_record& rec, const guid& g) {
  static const guid zero;
  if (guid_equals(g, zero)) return;
  take_pooled(rec.guids);
  rec.guids.push_back(g);
  last_known_guid& last = t_last_guid;
  const bool again = last.set && guid_equals(g, last.key);
  std::string_view name;
  if (!again) {
    name = clsid_known_name(g);
    if (name.empty()) return;
  }
  take_pooled(rec.guid_names);
  std::string& text = rec.guid_names.emplace_back();
  take_pooled(rec, text);
  if (again) {
    text.append(last.text);
    return;
  }
  if (!append_clsid_text(text, name)) {
    rec.guid_names.pop_back();
    return;
  }
  last.set = false;
  last.text.assign(text);
  last.key = g;
  last.set = true;
}

void add_item_guid(shell_item_record& rec, const uint8_t* p) {
  if (!p) return;
  guid g;
  g.set(p);
  add_item_guid(rec, g);
}

int32_t add_item_guid_pair(parse_ctx&, shell_item_record& rec, const uint8_t* p,
                           int64_t available) {
  if (!p || available < 16) return 0;
  add_item_guid(rec, p);
  if (available < 32) return 16;
  add_item_guid(rec, p + 16);
  return 32;
}

void copy_property_map(property_value_map& out, const property_value_map& src) {
  out.clear();
  for (const auto& entry : src)
    if (entry.second.skip_copy == 0) out.insert(out.end(), entry);
}

bool parse_beef_v5_id11(const uint8_t* block, int64_t available, std::string& name, std::string& s1,
                        std::string& s2, std::string& s3, uint64_t& time_a, uint64_t& time_b) {
  return parse_beef_v5_id11(nullptr, block, available, name, s1, s2, s3, time_a, time_b);
}

bool parse_beef_v5_id11(parse_guard* guard, const uint8_t* block, int64_t available,
                        std::string& name, std::string& s1, std::string& s2, std::string& s3,
                        uint64_t& time_a, uint64_t& time_b) {
  name.clear();
  s1.clear();
  s2.clear();
  s3.clear();
  time_a = time_b = 0;
  if (!block || available < 2) return false;
  byte_view v(block, static_cast<size_t>(available));
  const int64_t end = std::min<int64_t>(v.u16_or_zero(0), available);
  int64_t q = 16 + read_utf16(guard, v, 16, end, name);
  // Control units between the name and the strings.
  int skipped = 0;
  while (end - q >= 2 && v.u16_or_zero(q) < 32) {
    q += 2;
    ++skipped;
  }
  if (skipped == 1 || end - q < 2) return !name.empty();
  q += read_utf16(guard, v, q, end, s1);
  if (end - q < 2) return !name.empty();
  if (v.u16_or_zero(q) != 0)
    q += read_utf16(guard, v, q, end, s2);
  else
    q += 2;
  if (end - q > 16) {
    time_a = v.u64_or_zero(q);
    time_b = v.u64_or_zero(q + 8);
  }
  if (end - q > 32) {
    q += 28;
    while (end - q >= 2 && v.u16_or_zero(q) < 32) q += 2;
    read_utf16(guard, v, q, end, s3);
  }
  return !name.empty();
}

void recycle_block_debug_length(const uint8_t* block, int64_t available, parse_ctx& ctx) {
  if (!ctx.debug || !block || available < 2) return;
  ctx.consumed = 8;
  byte_view v(block, static_cast<size_t>(available));
  const int64_t end = std::min<int64_t>({v.u16_or_zero(0), available, 704});
  std::string text;
  int64_t n = read_utf16(ctx.guard, v, 24, std::min<int64_t>(end, 24 + 520), text);
  int64_t q = 24 + n;
  if (704 - 24 - n > 4) {
    while (q < end && block[q] == 0 && end - q > 4) ++q;
    if (q < end && block[q] != 0) read_utf16(ctx.guard, v, q, end, text);
  }
  read_utf16(ctx.guard, v, 544, std::min<int64_t>(end, 544 + 160), text);
  ctx.consumed += 688;
}

uint32_t parse_45177777_block(const uint8_t* block, parse_ctx& ctx, shell_item_record& rec,
                              const uint8_t* p, int64_t available) {
  if (!p || available <= 0 || !is_45177777_block(p, available)) return 0;
  rec.flags |= itemflag_45177777;
  reset_consumed(block, ctx);
  ctx.consumed = 3;
  return 18;
}

}  // namespace vk
