#include "shell/shell_item.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "foundation/vk_time.h"
#include "shell/guid_names.h"

namespace vk {

namespace {

// The pool behind take_pooled for lists: a stack per kind, fixed in size so
// that keeping a list never allocates. Lists above the size limit are freed
// as usual, so hostile input cannot make the pool hold much. Texts share
// the thread's list of text room (property_buffers).
constexpr size_t k_pool_slots = 256;
constexpr size_t k_pooled_list_max = 16;  // elements
constexpr size_t k_new_list = 4;          // elements of a list made when the pool is empty
constexpr size_t k_new_text = 64;         // bytes of a text made when no room is kept
constexpr size_t k_spare_items_max = 48;  // records (and room for them) the spare keeps

template <class T>
struct buffer_stack {
  std::array<T, k_pool_slots> slots;
  size_t count = 0;

  void give(T& buffer) {
    if (count < k_pool_slots) slots[count++] = std::move(buffer);
  }
  void take(T& buffer) {
    if (count) buffer = std::move(slots[--count]);
  }
};

struct buffer_pool {
  buffer_stack<std::vector<std::string>> string_lists;
  buffer_stack<std::vector<guid>> guid_lists;
  // Destroyed after t_pool is reset, so its records free as usual.
  shell_item_list spare_items;
  ~buffer_pool();
};

// The pool is made on first use; records destroyed after it (at the
// thread's end) free as usual. Plain pointers read without a TLS wrapper.
thread_local buffer_pool* t_pool = nullptr;
thread_local bool t_pool_closed = false;
buffer_pool::~buffer_pool() {
  t_pool = nullptr;
  t_pool_closed = true;
}

buffer_pool* thread_pool() {
  if (t_pool || t_pool_closed) return t_pool;
  thread_local buffer_pool pool;
  t_pool = &pool;
  return t_pool;
}

// Texts go to the one per-thread list of text room (property_buffers),
// which keeps room of moderate size only.
void give_text(std::string& s) {
  property_buffers::give(s);
}

template <class V>
void give_list(buffer_stack<V>& stack, V& list) {
  if (list.capacity() == 0 || list.capacity() > k_pooled_list_max) return;
  list.clear();
  stack.give(list);
}

}  // namespace

// Lists of records grow by moving them.
static_assert(std::is_nothrow_move_constructible_v<shell_item_record>);

// Every member starts in its cleared state by its initializer.
shell_item_record::shell_item_record() = default;

shell_item_record::~shell_item_record() {
  if (names.capacity() == 0 && guid_names.capacity() == 0 && date_texts.capacity() == 0 &&
      guids.capacity() == 0 && long_name.capacity() <= std::string().capacity())
    return;  // nothing to keep, as for most records made in passing
  buffer_pool* pool = thread_pool();
  if (!pool) return;
  for (std::string& name : guid_names) give_text(name);
  for (std::string& line : date_texts) give_text(line);
  give_text(long_name);
  give_list(pool->string_lists, names);
  give_list(pool->string_lists, guid_names);
  give_list(pool->string_lists, date_texts);
  give_list(pool->guid_lists, guids);
}

void take_pooled_list(std::vector<std::string>& list) {
  if (list.capacity() != 0) return;
  if (buffer_pool* pool = thread_pool()) pool->string_lists.take(list);
  if (list.capacity() == 0) list.reserve(k_new_list);
}

void take_pooled_list(std::vector<guid>& list) {
  if (list.capacity() != 0) return;
  if (buffer_pool* pool = thread_pool()) pool->guid_lists.take(list);
  if (list.capacity() == 0) list.reserve(k_new_list);
}

void take_pooled_text(std::string& text) {
  if (text.capacity() > std::string().capacity()) return;
  property_buffers::take(text);
  if (text.capacity() < k_new_text) text.reserve(k_new_text);
}

void give_spare_items(shell_item_list& items) noexcept {
  shell_item_list given;
  given.swap(items);
  if (given.empty() || given.capacity() > k_spare_items_max) return;
  buffer_pool* pool = thread_pool();
  if (!pool || pool->spare_items.size() > given.size()) return;
  pool->spare_items.swap(given);  // the former spare (mostly empty) goes
}

void take_spare_items(shell_item_list& items) noexcept {
  if (!items.empty()) return;
  if (buffer_pool* pool = thread_pool()) {
    if (!pool->spare_items.empty()) items.swap(pool->spare_items);
  }
}

namespace {
bool prop_scratch_empty(const shell_item_record& rec) noexcept {
  const auto& f = rec.prop_flags;
  return rec.prop_key_text.empty() && rec.prop_texts.empty() && rec.prop_qwords.empty() &&
         rec.prop_offsets.empty() && rec.prop_dwords.empty() && rec.prop_bytes.empty() &&
         rec.prop_guid_texts.empty() && rec.prop_names2.empty() &&
         (f[0] | f[1] | f[2] | f[3] | f[4] | f[5]) == 0;
}
}  // namespace

void shell_item_record::clear() {
  // A record parsed into again mostly had few of its members filled: only
  // those are touched (the maps' clearing is not free even when empty).
  guids.clear();
  if (!guid_names.empty() || !date_texts.empty()) {
    // Their texts' storage goes to the pool, as when a record is destroyed.
    for (std::string& name : guid_names) give_text(name);
    for (std::string& line : date_texts) give_text(line);
    guid_names.clear();
    date_texts.clear();
  }
  if (!names.empty()) names.clear();
  raw.clear();
  if (!children.empty()) children.clear();
  if (!embedded_lists.empty()) embedded_lists.clear();
  if (!properties.empty()) properties.clear();
  if (!found_properties.empty()) found_properties.clear();
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
  item_type = 0xFFFF;
  // Most records parsed into again filed no property: their scratch is empty.
  if (!prop_scratch_empty(*this)) clear_item_property_fields(*this);
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

void merge_shell_item(shell_item_record& dst, const shell_item_record& src) {
  if (&dst == &src) return;
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
  take_pooled(text);
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
  const int64_t end = std::min<int64_t>(*v.u16(0), available);
  int64_t q = 16 + read_utf16(guard, v, 16, end, name);
  // Control units between the name and the strings.
  int skipped = 0;
  while (end - q >= 2 && *v.u16(q) < 32) {
    q += 2;
    ++skipped;
  }
  if (skipped == 1 || end - q < 2) return !name.empty();
  q += read_utf16(guard, v, q, end, s1);
  if (end - q < 2) return !name.empty();
  if (*v.u16(q) != 0)
    q += read_utf16(guard, v, q, end, s2);
  else
    q += 2;
  if (end - q > 16) {
    time_a = *v.u64(q);
    time_b = *v.u64(q + 8);
  }
  if (end - q > 32) {
    q += 28;
    while (end - q >= 2 && *v.u16(q) < 32) q += 2;
    read_utf16(guard, v, q, end, s3);
  }
  return !name.empty();
}

void recycle_block_debug_length(const uint8_t* block, int64_t available, parse_ctx& ctx) {
  if (!ctx.debug || !block || available < 2) return;
  ctx.consumed = 8;
  byte_view v(block, static_cast<size_t>(available));
  const int64_t end = std::min<int64_t>({*v.u16(0), available, 704});
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
