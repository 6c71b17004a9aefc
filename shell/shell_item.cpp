#include "shell/shell_item.h"

#include <algorithm>

#include "shell/guid_names.h"

namespace vk {

shell_item_record::shell_item_record() { clear(); }

void shell_item_record::clear() {
  guids.clear();
  guid_names.clear();
  names.clear();
  date_texts.clear();
  raw.clear();
  children.clear();
  embedded_lists.clear();
  properties.clear();
  found_properties.clear();
  primary_name.clear();
  long_name.clear();
  localized_name.clear();
  extra_name.clear();
  modified_date.clear();
  modified_time.clear();
  created_date.clear();
  created_time.clear();
  accessed_date.clear();
  accessed_time.clear();
  size = 0;
  accessed = modified = created = 0;
  mft_entry = 0;
  mft_sequence = 0;
  item_offset = 0;
  flags = 0;
  is_directory = 1;
  not_parsed = 1;
  item_type = 0xFFFF;
  clear_item_property_fields(*this);
}

void clear_item_property_fields(shell_item_record& rec) {
  rec.prop_key_text.clear();
  rec.prop_texts.clear();
  rec.prop_qwords.clear();
  rec.prop_offsets.clear();
  rec.prop_dwords.clear();
  rec.prop_bytes.clear();
  rec.prop_guid_texts.clear();
  rec.prop_names2.clear();
  rec.prop_flags.fill(0);
}

namespace {
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

void add_item_guid(shell_item_record& rec, const guid& g) {
  static const guid zero;
  if (guid_equals(g, zero)) return;
  rec.guids.push_back(g);
  std::string name;
  if (clsid_name(name, &g)) rec.guid_names.push_back(name);
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

bool parse_beef_v5_id11(const uint8_t* block, int64_t available, std::string& name,
                        std::string& s1, std::string& s2, std::string& s3, uint64_t& time_a,
                        uint64_t& time_b) {
  name.clear();
  s1.clear();
  s2.clear();
  s3.clear();
  time_a = time_b = 0;
  if (!block || available < 2) return false;
  byte_view v(block, static_cast<size_t>(available));
  const int64_t end = std::min<int64_t>(*v.u16(0), available);
  int64_t q = 16 + read_utf16(v, 16, end, name);
  // Control units between the name and the strings.
  int skipped = 0;
  while (end - q >= 2 && *v.u16(q) < 32) {
    q += 2;
    ++skipped;
  }
  if (skipped == 1 || end - q < 2) return !name.empty();
  q += read_utf16(v, q, end, s1);
  if (end - q < 2) return !name.empty();
  if (*v.u16(q) != 0)
    q += read_utf16(v, q, end, s2);
  else
    q += 2;
  if (end - q > 16) {
    time_a = *v.u64(q);
    time_b = *v.u64(q + 8);
  }
  if (end - q > 32) {
    q += 28;
    while (end - q >= 2 && *v.u16(q) < 32) q += 2;
    read_utf16(v, q, end, s3);
  }
  return !name.empty();
}

void recycle_block_debug_length(const uint8_t* block, int64_t available, parse_ctx& ctx) {
  if (!ctx.debug || !block || available < 2) return;
  ctx.consumed = 8;
  byte_view v(block, static_cast<size_t>(available));
  const int64_t end = std::min<int64_t>({*v.u16(0), available, 704});
  std::string text;
  int64_t n = read_utf16(v, 24, std::min<int64_t>(end, 24 + 520), text);
  int64_t q = 24 + n;
  if (704 - 24 - n > 4) {
    while (q < end && block[q] == 0 && end - q > 4) ++q;
    if (q < end && block[q] != 0) read_utf16(v, q, end, text);
  }
  read_utf16(v, 544, std::min<int64_t>(end, 544 + 160), text);
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
