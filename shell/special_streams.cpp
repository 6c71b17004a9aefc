// Stream property values with structures of their own (a list of ID lists,
// a search-condition tree), and the string-property scan of raw item bytes.
//
// A condition record's value may itself be a condition stream holding every
// later record; expanding it again would redo the work of the rest of the
// tree at every level. So a special stream met while another is being
// expanded stays a plain stream, and each record's value window counts
// against the parse's work bound.
#include <algorithm>
#include <cstring>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/property_keys.h"
#include "shell/property_store.h"

namespace vk {

namespace {

// 384EA5AE-ADE1-4E8A-8A9B-7BEA78FFF1E9
constexpr uint8_t k_autolist_guid[16] = {0xAE, 0xA5, 0x4E, 0x38, 0xE1, 0xAD, 0x8A, 0x4E,
                                         0x8A, 0x9B, 0x7B, 0xEA, 0x78, 0xFF, 0xF1, 0xE9};
// 116F8D13-101E-4FA5-84D4-FF8279381935
constexpr uint8_t k_condition_tree_guid[16] = {0x13, 0x8D, 0x6F, 0x11, 0x1E, 0x10, 0xA5, 0x4F,
                                               0x84, 0xD4, 0xFF, 0x82, 0x79, 0x38, 0x19, 0x35};
// 52F15C89-5A17-48E1-BBCD-46A3F89C7CC2
constexpr uint8_t k_condition_record_guid[16] = {0x89, 0x5C, 0xF1, 0x52, 0x17, 0x5A,
                                                 0xE1, 0x48, 0xBB, 0xCD, 0x46, 0xA3,
                                                 0xF8, 0x9C, 0x7C, 0xC2};

constexpr char k_special_stream_name[] = "prop4294967295";
constexpr int64_t k_autolist_header = 58;
constexpr int64_t k_autolist_entry_header = 18;
constexpr int64_t k_condition_value_at = 46;
// One work unit per this many bytes of a value window handed to the decoder.
constexpr int64_t k_window_bytes_per_unit = 64;

bool same16(const uint8_t* p, const uint8_t* pattern) { return std::memcmp(p, pattern, 16) == 0; }

// Expansions of special streams running on this thread.
thread_local int t_expanding = 0;

struct expansion {
  expansion() { ++t_expanding; }
  ~expansion() { --t_expanding; }
  expansion(const expansion&) = delete;
  expansion& operator=(const expansion&) = delete;
};

bool charge_window(int64_t bytes) {
  return guard_charge(1 + (bytes > 0 ? bytes / k_window_bytes_per_unit : 0));
}

bool walk_autolist(shell_item_record& rec, parse_ctx& ctx, const uint8_t* d, int64_t n,
                   const cmd_params& opts) {
  if (!skip_autolist_header(d, ctx, rec, d, n, opts)) return false;
  ctx.offset += k_autolist_header;
  int64_t pos = 40;
  while (pos < n && is_autolist_entry(d + pos, n - pos) && guard_charge(1)) {
    // The entry's list ends at its own size, not at the stream's end.
    const int64_t size = load_le16(d + pos + 16);
    shell_item_list list;
    if (parse_idlist(list, d + pos + k_autolist_entry_header, size, false, false, ctx, opts))
      rec.embedded_lists.push_back(std::move(list));
    pos += k_autolist_entry_header + size;
    while (pos < n && is_condition_leaf_record(d + pos, n - pos) && guard_charge(1)) {
      shell_item_record leaf;
      if (!condition_leaf_text(ctx, leaf, d + pos, static_cast<uint32_t>(n - pos))) break;
      pos += condition_leaf_length(d + pos, n - pos);
      merge_shell_item(rec, leaf);
    }
  }
  return true;
}

bool walk_condition_tree(shell_item_record& rec, parse_ctx& ctx, const uint8_t* d, int64_t n,
                         const cmd_params& opts) {
  if (!is_condition_tree(d, n)) return false;
  std::vector<uint64_t> found;
  if (!find_pattern_offsets(d, static_cast<size_t>(n), k_condition_record_guid, 16, found))
    return false;
  for (uint64_t at : found) {
    const int64_t o = static_cast<int64_t>(at);
    if (!is_condition_guid_record(d + o, n - o) || load_le32(d + o + 16) == 1) continue;
    if (!charge_window(n - o)) break;
    parse_condition_record(d + o, ctx, rec, d + o, n - o, opts);
  }
  return true;
}

bool special_stream_body(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                         const property_value& pv, const cmd_params& opts) {
  if (!pv.key_known || pv.vartype != 66 || tv.blobs.empty() || tv.blobs[0].empty())
    return false;
  rec.flags |= itemflag_stream_value;
  if (pv.key_text != k_special_stream_name) return false;
  std::string name = pv.name;
  str_to_lower(name);
  const bool autolist = name == "autolist";
  if (!autolist && name != "condition") return false;
  // Met inside another expansion: it stays a plain stream.
  if (t_expanding > 0) return false;
  const std::string& data = tv.blobs[0];
  const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
  const int64_t n = static_cast<int64_t>(data.size());
  guard_level level(n);
  if (!level) return false;
  expansion running;
  return autolist ? walk_autolist(rec, ctx, d, n, opts) : walk_condition_tree(rec, ctx, d, n, opts);
}

// ---- string-property scan ----

// An LPWSTR value header 24 bytes before the string: FMTID, id, vartype 31.
bool is_lpwstr_value_header(const uint8_t* p, int64_t length, const guid* filter) {
  if (filter) return same16(p, filter->m_bytes);
  return load_le32(p + 20) == 31 && length >= 28 && load_le32(p + 24) <= length &&
         load_le32(p + 16) != 0;
}

// A storage header whose first value holds the string, 42 bytes before it.
bool is_storage_before_string(const uint8_t* p, int64_t available, const guid* filter) {
  if (filter) return same16(p + 8, filter->m_bytes);
  return is_embedded_property_storage(p, available);
}

void take_bytes(property_value& pv, const uint8_t* buffer, int64_t from, int64_t to) {
  pv.bytes.assign(reinterpret_cast<const char*>(buffer + from), static_cast<size_t>(to - from));
}

// Fills the key of a string found behind a header; false when the work
// bound does not allow the copy of its bytes.
bool string_property(property_value& pv, const uint8_t* buffer, int64_t length, int64_t o,
                     int64_t text_bytes, const guid* filter) {
  int64_t from = 0, to = 0;
  if (is_lpwstr_value_header(buffer + o - 24, text_bytes, filter)) {
    pv.vartype = load_le32(buffer + o - 4);
    pv.key.fmtid.set(buffer + o - 24);
    pv.key.pid = load_le32(buffer + o - 8);
    from = o - 24;
    to = std::min<int64_t>(length, o + int64_t{load_le32(buffer + o)});
  } else if (o >= 42 && is_storage_before_string(buffer + o - 42, length - (o - 42), filter)) {
    pv.vartype = load_le16(buffer + o - 9);
    pv.key.fmtid.set(buffer + o - 34);
    pv.key.pid = load_le32(buffer + o - 14);
    from = o - 42;
    to = o + text_bytes;
  } else if (is_lpwstr_value(buffer + o - 17, length - (o - 17))) {
    pv.vartype = load_le32(buffer + o - 8);
    if (filter) pv.key.fmtid = *filter;
    pv.key.pid = load_le32(buffer + o - 13);
    from = o - 17;
    to = o + text_bytes;
  } else {
    return true;
  }
  if (!guard_charge(to - from)) return false;
  take_bytes(pv, buffer, from, to);
  lookup_property_value_key(pv);
  pv.key_known = 1;
  return true;
}

bool scan_strings_body(const uint8_t* buffer, int64_t length, property_value_map& out,
                       const guid* filter) {
  guard_level level(length);
  if (!level || !guard_charge(length)) return false;
  std::vector<std::string> texts;
  std::vector<uint64_t> offsets;
  if (!extract_utf16_strings(buffer, static_cast<size_t>(length), 3, texts, offsets))
    return false;
  for (size_t i = 0; i < texts.size(); ++i) {
    const int64_t o = static_cast<int64_t>(offsets[i]);
    const int64_t text_bytes = 2 * static_cast<int64_t>(texts[i].size());
    property_value pv;
    pv.text = texts[i];
    pv.key_text = texts[i];
    str_to_lower(pv.key_text);
    pv.offset = static_cast<uint64_t>(o);
    if (o < 24) {
      if (!guard_charge(text_bytes)) break;
      pv.vartype = 13;
      take_bytes(pv, buffer, o, o + text_bytes);
      out.emplace(pv.text, pv);
      continue;
    }
    if (!string_property(pv, buffer, length, o, text_bytes, filter)) break;
    out.emplace(pv.key_text, pv);
  }
  return !out.empty();
}

}  // namespace

// ---- tests ----

bool is_autolist_header(const uint8_t* p, int64_t available) {
  if (!p || available < 60) return false;
  const int64_t need = int64_t{load_le32(p + 56)} + k_autolist_header;
  const int64_t total = load_le32(p);
  return available >= need && total >= need && total <= available &&
         same16(p + 4, k_autolist_guid);
}

bool is_autolist_entry(const uint8_t* p, int64_t available) {
  return p && available >= k_autolist_entry_header &&
         available - k_autolist_entry_header >= load_le16(p + 16);
}

bool is_condition_tree(const uint8_t* p, int64_t available) {
  if (!p || available < 32 || !same16(p + 4, k_condition_tree_guid)) return false;
  return load_le32(p + 20) != 1 || available >= 88;
}

bool is_condition_guid_record(const uint8_t* p, int64_t available) {
  if (!p || available < 46) return false;
  if (!same16(p, k_condition_record_guid) && !same16(p, k_condition_tree_guid)) return false;
  return load_le32(p + 16) != 1 || available >= 84;
}

// ---- parsers ----

bool skip_autolist_header(const uint8_t*, parse_ctx& ctx, shell_item_record&, const uint8_t* p,
                          int64_t available, const cmd_params&) {
  if (!p || available <= 0 || !is_autolist_header(p, available)) return false;
  ctx.consumed += k_autolist_header;
  return true;
}

bool parse_condition_record(const uint8_t*, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_condition_guid_record(p, available)) return false;
  return guarded([&] {
    shell_item_record fresh;
    if (load_le32(p + 16) == 1) {
      fresh.modified = load_le64(p + 72);
      merge_shell_item(rec, fresh);
      return true;
    }
    ctx.offset = k_condition_value_at;
    const uint16_t vartype = load_le16(p + 44);
    typed_value tv;
    if (!parse_typed_value(tv, ctx, p + k_condition_value_at, available - k_condition_value_at,
                           vartype))
      return false;
    guid fmtid;
    fmtid.set(p + 20);
    property_value pv(&fmtid, load_le32(p + 36));
    if (lookup_property_value_key(pv))
      fresh.prop_flags = {pv.table_bit0, pv.table_bit1, pv.listed,
                          pv.table_bit5, pv.table_bit3, static_cast<uint8_t>(pv.key_known)};
    pv.vartype = vartype;
    store_typed_value(fresh, ctx, tv, pv, opts);
    merge_shell_item(rec, fresh);
    return true;
  });
}

bool parse_special_stream_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                                const property_value& pv, const cmd_params& opts) {
  return guarded([&] { return special_stream_body(rec, ctx, tv, pv, opts); });
}

bool parse_autolist_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                           int64_t size, const cmd_params& opts) {
  if (!data || size <= 0 || t_expanding > 0) return false;
  return guarded([&] {
    guard_level level(size);
    if (!level) return false;
    expansion running;
    return walk_autolist(rec, ctx, data, size, opts);
  });
}

bool parse_condition_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                            int64_t size, const cmd_params& opts) {
  if (!data || size <= 0 || t_expanding > 0) return false;
  return guarded([&] {
    guard_level level(size);
    if (!level) return false;
    expansion running;
    return walk_condition_tree(rec, ctx, data, size, opts);
  });
}

bool scan_string_properties(const uint8_t* p, int64_t size, property_value_map& out,
                            const guid* fmtid, parse_ctx&) {
  out.clear();
  if (!p || size <= 0) return false;
  return guarded([&] { return scan_strings_body(p, size, out, fmtid); });
}

bool is_lpwstr_value(const uint8_t* p, int64_t available) {
  if (!p || available < 17) return false;
  const int64_t value_size = load_le32(p);
  if (value_size > available || load_le32(p + 4) == 0 || load_le32(p + 9) != 31) return false;
  const int64_t c = load_le32(p + 13);
  return available >= 2 * c + 17 && 2 * c <= value_size - 17;
}

}  // namespace vk
