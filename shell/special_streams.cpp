// Stream property values with structures of their own (a list of ID lists,
// a search-condition tree), and the string-property scan of raw item bytes.
//
// A condition record's value may itself be a condition stream holding every
// later record, and each further value of a storage may run to the
// storage's end, so one stream's bytes may hold another's. Expanding them
// all would redo the work of the rest of the bytes at every level. So a
// special stream met while another is being expanded stays a plain stream,
// a stream whose bytes overlap one expanded before in the same parse is not
// expanded again, and each record's value window counts against the parse's
// work bound.
#include <algorithm>
#include <cstring>

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/property_keys.h"
#include "shell/property_store.h"
#include "shell/propstore_layout.h"

namespace vk {

namespace {

namespace al = propstore::autolist;
namespace cr = propstore::condition::record;
namespace ct = propstore::condition::tree;

// 384EA5AE-ADE1-4E8A-8A9B-7BEA78FFF1E9
constexpr uint8_t k_autolist_guid[16] = {0xAE, 0xA5, 0x4E, 0x38, 0xE1, 0xAD, 0x8A, 0x4E,
                                         0x8A, 0x9B, 0x7B, 0xEA, 0x78, 0xFF, 0xF1, 0xE9};
// 116F8D13-101E-4FA5-84D4-FF8279381935
constexpr uint8_t k_condition_tree_guid[16] = {0x13, 0x8D, 0x6F, 0x11, 0x1E, 0x10, 0xA5, 0x4F,
                                               0x84, 0xD4, 0xFF, 0x82, 0x79, 0x38, 0x19, 0x35};
// 52F15C89-5A17-48E1-BBCD-46A3F89C7CC2
constexpr uint8_t k_condition_record_guid[16] = {0x89, 0x5C, 0xF1, 0x52, 0x17, 0x5A, 0xE1, 0x48,
                                                 0xBB, 0xCD, 0x46, 0xA3, 0xF8, 0x9C, 0x7C, 0xC2};

constexpr char k_special_stream_name[] = "prop4294967295";
// One work unit per this many bytes of a value window handed to the decoder.
constexpr int64_t k_window_bytes_per_unit = 64;

byte_view view_of(const uint8_t* p, int64_t available) {
  return byte_view(p, p && available > 0 ? static_cast<size_t>(available) : 0);
}

bool charge_window(const parse_ctx& ctx, int64_t bytes) {
  return guard_charge(ctx, 1 + (bytes > 0 ? bytes / k_window_bytes_per_unit : 0));
}

// A special stream met inside the expansion of another stays a plain stream.
bool expanding(const parse_ctx& ctx) {
  return ctx.guard && ctx.guard->expanding() > 0;
}

// Moves what a record found into the item, as merge_shell_item would copy it.
void fold_into(shell_item_record& rec, shell_item_record& part) {
  rec.properties.merge(part.properties);
  rec.found_properties.merge(part.found_properties);
  merge_shell_item(rec, part);
}

bool walk_autolist(shell_item_record& rec, parse_ctx& ctx, const uint8_t* d, int64_t n,
                   const cmd_params& opts) {
  if (!skip_autolist_header(d, ctx, rec, d, n, opts)) return false;
  const byte_view v = view_of(d, n);
  ctx.offset += al::header_size;
  int64_t pos = al::entries;
  while (pos < n && is_autolist_entry(d + pos, n - pos) && guard_charge(ctx, 1)) {
    // The entry's list ends at its own size, not at the stream's end.
    const int64_t size = v.u16_or_zero(static_cast<size_t>(pos) + al::entry::list_size);
    shell_item_list list;
    if (parse_idlist(list, d + pos + al::entry::list, size, false, false, ctx, opts))
      rec.embedded_lists.push_back(std::move(list));
    pos += al::entry::header_size + size;
    while (pos < n && is_condition_leaf_record(d + pos, n - pos) && guard_charge(ctx, 1)) {
      shell_item_record leaf;
      if (!condition_leaf_text(ctx, leaf, d + pos, static_cast<uint32_t>(n - pos))) break;
      pos += condition_leaf_length(d + pos, n - pos);
      fold_into(rec, leaf);
    }
  }
  return true;
}

bool walk_condition_tree(shell_item_record& rec, parse_ctx& ctx, const uint8_t* d, int64_t n,
                         const cmd_params& opts) {
  if (!is_condition_tree(d, n)) return false;
  const byte_view v = view_of(d, n);
  std::vector<uint64_t> found;
  if (!find_pattern_offsets(d, static_cast<size_t>(n), k_condition_record_guid, 16, found))
    return false;
  for (uint64_t at : found) {
    const int64_t o = static_cast<int64_t>(at);
    if (!is_condition_guid_record(d + o, n - o) ||
        v.u32_or_zero(static_cast<size_t>(o) + cr::kind) == cr::value_kind)
      continue;
    if (!charge_window(ctx, n - o)) break;
    parse_condition_record(d + o, ctx, rec, d + o, n - o, opts);
  }
  return true;
}

bool special_stream_body(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                         const property_value& pv, const cmd_params& opts) {
  if (!pv.key_known || pv.vartype != 66 || tv.blobs.empty() || tv.blobs[0].empty()) return false;
  rec.flags |= itemflag_stream_value;
  if (pv.key_text != k_special_stream_name) return false;
  std::string name = pv.name;
  str_to_lower(name);
  const bool autolist = name == "autolist";
  if (!autolist && name != "condition") return false;
  // Met inside another expansion: it stays a plain stream.
  if (expanding(ctx)) return false;
  const std::string_view data = tv.blobs[0];
  const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
  const int64_t n = static_cast<int64_t>(data.size());
  guard_level level(ctx, n);
  if (!level || !guard_claim_range(ctx.guard, d, n)) return false;
  stream_expansion running(*ctx.guard);
  return autolist ? walk_autolist(rec, ctx, d, n, opts) : walk_condition_tree(rec, ctx, d, n, opts);
}

// ---- string-property scan ----

// An LPWSTR value header 24 bytes before the string: FMTID, id, vartype 31.
bool is_lpwstr_value_header(byte_view at, int64_t length, const guid* filter) {
  if (filter) return at.starts_with(0, filter->m_bytes, 16);
  return at.u32_or_zero(20) == 31 && length >= 28 && at.u32_or_zero(24) <= length &&
         at.u32_or_zero(16) != 0;
}

// A storage header whose first value holds the string, 42 bytes before it.
bool is_storage_before_string(byte_view at, const guid* filter) {
  if (filter) return at.starts_with(propstore::storage::fmtid, filter->m_bytes, 16);
  return is_embedded_property_storage(at.data(), static_cast<int64_t>(at.size()));
}

// Fills the key of a string found behind a header; false when the parse
// guard does not allow the copy of its bytes.
bool string_property(parse_guard* guard, property_value& pv, byte_view buffer, int64_t o,
                     int64_t text_bytes, const guid* filter) {
  const int64_t length = static_cast<int64_t>(buffer.size());
  auto from = [&](int64_t back) { return buffer.tail(static_cast<size_t>(o - back)); };
  int64_t start = 0, end = 0;
  if (is_lpwstr_value_header(from(24), text_bytes, filter)) {
    // FMTID at -24, id at -8, vartype at -4; the u32 at the string bounds its bytes.
    const byte_view h = from(24);
    pv.vartype = h.u32_or_zero(20);
    pv.key.fmtid.set(h.data());
    pv.key.pid = h.u32_or_zero(16);
    start = o - 24;
    end = std::min<int64_t>(length, o + int64_t{h.u32_or_zero(24)});
  } else if (o >= 42 && is_storage_before_string(from(42), filter)) {
    // A storage's first value: FMTID at -34, id at -14, vartype at -9.
    const byte_view h = from(42);
    pv.vartype = h.u16_or_zero(33);
    pv.key.fmtid.set(h.data() + propstore::storage::fmtid);
    pv.key.pid = h.u32_or_zero(28);
    start = o - 42;
    end = o + text_bytes;
  } else if (is_lpwstr_value(buffer.data() + o - 17, length - (o - 17))) {
    // An LPWSTR value: id at -13, vartype at -8, count at -4.
    const byte_view h = from(17);
    pv.vartype = h.u32_or_zero(9);
    if (filter) pv.key.fmtid = *filter;
    pv.key.pid = h.u32_or_zero(4);
    start = o - 17;
    end = o + text_bytes;
  } else {
    return true;
  }
  if (!guard_charge(guard, end - start) || !guard_charge_filed(guard, end - start)) return false;
  pv.bytes.assign(reinterpret_cast<const char*>(buffer.data() + start),
                  static_cast<size_t>(end - start));
  lookup_property_value_key(pv);
  pv.key_known = 1;
  return true;
}

bool scan_strings_body(parse_ctx& ctx, const uint8_t* buffer, int64_t length,
                       property_value_map& out, const guid* filter) {
  guard_level level(ctx, length);
  parse_guard* const guard = ctx.guard;
  if (!level || !guard_charge(guard, length)) return false;
  const byte_view all = view_of(buffer, length);
  std::vector<std::string> texts;
  std::vector<uint64_t> offsets;
  if (!extract_utf16_strings(buffer, static_cast<size_t>(length), 3, texts, offsets)) return false;
  for (size_t i = 0; i < texts.size(); ++i) {
    const int64_t o = static_cast<int64_t>(offsets[i]);
    const int64_t text_bytes = 2 * static_cast<int64_t>(texts[i].size());
    property_value pv;
    pv.key_text = texts[i];
    str_to_lower(pv.key_text);
    pv.text = std::move(texts[i]);
    pv.offset = static_cast<uint64_t>(o);
    if (o < 24) {
      if (!guard_charge(guard, text_bytes) || !guard_charge_filed(guard, text_bytes)) break;
      pv.vartype = 13;
      pv.bytes.assign(reinterpret_cast<const char*>(buffer + o), static_cast<size_t>(text_bytes));
      std::string key = pv.text;
      out.emplace(std::move(key), std::move(pv));
      continue;
    }
    if (!string_property(guard, pv, all, o, text_bytes, filter)) break;
    std::string key = pv.key_text;
    out.emplace(std::move(key), std::move(pv));
  }
  return !out.empty();
}

}  // namespace

// ---- tests ----

bool is_autolist_header(const uint8_t* p, int64_t available) {
  if (!p || available < al::min_header) return false;
  const byte_view v = view_of(p, available);
  const int64_t need = int64_t{v.u32_or_zero(al::first_list_word)} + al::header_size;
  const int64_t total = v.u32_or_zero(al::total_size);
  return available >= need && total >= need && total <= available &&
         v.starts_with(al::guid, k_autolist_guid, 16);
}

bool is_autolist_entry(const uint8_t* p, int64_t available) {
  return p && available >= al::entry::header_size &&
         available - al::entry::header_size >=
             view_of(p, available).u16_or_zero(al::entry::list_size);
}

bool is_condition_tree(const uint8_t* p, int64_t available) {
  if (!p || available < ct::min_size) return false;
  const byte_view v = view_of(p, available);
  if (!v.starts_with(ct::guid, k_condition_tree_guid, 16)) return false;
  return v.u32_or_zero(ct::kind) != cr::value_kind || available >= ct::min_value_kind;
}

bool is_condition_guid_record(const uint8_t* p, int64_t available) {
  if (!p || available < cr::min_size) return false;
  const byte_view v = view_of(p, available);
  if (!v.starts_with(cr::guid, k_condition_record_guid, 16) &&
      !v.starts_with(cr::guid, k_condition_tree_guid, 16))
    return false;
  return v.u32_or_zero(cr::kind) != cr::value_kind || available >= cr::min_value_kind;
}

// ---- parsers ----

bool skip_autolist_header(const uint8_t*, parse_ctx& ctx, shell_item_record&, const uint8_t* p,
                          int64_t available, const cmd_params&) {
  if (!p || available <= 0 || !is_autolist_header(p, available)) return false;
  ctx.consumed += al::header_size;
  return true;
}

bool parse_condition_record(const uint8_t*, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_condition_guid_record(p, available)) return false;
  return guarded(
      ctx,
      [&] {
        const byte_view v = view_of(p, available);
        shell_item_record fresh;
        if (v.u32_or_zero(cr::kind) == cr::value_kind) {
          fresh.modified = v.u64_or_zero(cr::value);
          merge_shell_item(rec, fresh);
          return true;
        }
        // The offset is set to the value's position in the record, not advanced.
        ctx.offset = cr::data;
        const uint16_t vartype = v.u16_or_zero(cr::vartype);
        typed_value_scratch scratch(ctx.space());
        typed_value& tv = scratch.get();
        if (!parse_typed_value(tv, ctx, p + cr::data, available - static_cast<int64_t>(cr::data),
                               vartype))
          return false;
        guid fmtid;
        fmtid.set(p + cr::fmtid);
        property_value pv(&fmtid, v.u32_or_zero(cr::pid));
        if (lookup_property_value_key(pv))
          fresh.prop_flags = {pv.table_bit0, pv.table_bit1, pv.listed,
                              pv.table_bit5, pv.table_bit3, static_cast<uint8_t>(pv.key_known)};
        pv.vartype = vartype;
        file_typed_value(fresh, ctx, tv, std::move(pv), opts);
        fold_into(rec, fresh);
        return true;
      },
      [] {});
}

bool parse_special_stream_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                                const property_value& pv, const cmd_params& opts) {
  return guarded(
      ctx, [&] { return special_stream_body(rec, ctx, tv, pv, opts); }, [] {});
}

namespace {
// Expands one special stream under its own guard level, one at a time.
template <bool (*walk)(shell_item_record&, parse_ctx&, const uint8_t*, int64_t, const cmd_params&)>
bool expand_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data, int64_t size,
                   const cmd_params& opts) {
  if (!data || size <= 0 || expanding(ctx)) return false;
  return guarded(
      ctx,
      [&] {
        guard_level level(ctx, size);
        if (!level) return false;
        stream_expansion running(*ctx.guard);
        return walk(rec, ctx, data, size, opts);
      },
      [] {});
}
}  // namespace

bool parse_autolist_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                           int64_t size, const cmd_params& opts) {
  return expand_stream<walk_autolist>(rec, ctx, data, size, opts);
}

bool parse_condition_stream(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data,
                            int64_t size, const cmd_params& opts) {
  return expand_stream<walk_condition_tree>(rec, ctx, data, size, opts);
}

bool scan_string_properties(const uint8_t* p, int64_t size, property_value_map& out,
                            const guid* fmtid, parse_ctx& ctx) {
  out.clear();
  if (!p || size <= 0) return false;
  return guarded(
      ctx, [&] { return scan_strings_body(ctx, p, size, out, fmtid); }, [] {});
}

bool is_lpwstr_value(const uint8_t* p, int64_t available) {
  // Its size, the id at 4, vartype 31 at 9 and the character count at 13.
  if (!p || available < 17) return false;
  const byte_view v = view_of(p, available);
  const int64_t value_size = v.u32_or_zero(0);
  if (value_size > available || v.u32_or_zero(4) == 0 || v.u32_or_zero(9) != 31) return false;
  const int64_t c = v.u32_or_zero(13);
  return available >= 2 * c + 17 && 2 * c <= value_size - 17;
}

}  // namespace vk
