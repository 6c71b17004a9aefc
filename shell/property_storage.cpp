#include <string>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"
#include "shell/embedded_scan.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"
#include "shell/property_keys.h"
#include "shell/property_store.h"

namespace vk {

namespace {

constexpr uint32_t k_storage_version = 0x53505331;  // "1SPS"
constexpr int64_t k_max_first_value = 32768;
constexpr int64_t k_max_further_value = 65536;
const char k_byte_value_prefix[] = "b816936b_";

int64_t storage_size16(const uint8_t* p) { return load_le16(p); }

bool is_string_named_fmtid(const uint8_t* p) {
  guid g;
  g.set(p);
  return guid_equals(g, string_named_set());
}

// A byte value of a storage that holds an ID list becomes the items it
// lists, and leaves the property collection.
void take_id_list_value(shell_item_record& temp, bool string_named, const cmd_params& opts) {
  auto it = temp.properties.lower_bound(k_byte_value_prefix);
  if (it != temp.properties.end() && it->first.find(k_byte_value_prefix) != std::string::npos) {
    const std::string& bytes = it->second.bytes;
    if (bytes.size() > 2) {
      size_t skip = string_named ? 2 : 0;
      const uint8_t* list = reinterpret_cast<const uint8_t*>(bytes.data()) + skip;
      parse_ctx fresh;
      shell_item_list items;
      if (parse_idlist(items, list, static_cast<int64_t>(bytes.size() - skip), false, false, fresh,
                       opts))
        temp.children.insert(temp.children.end(), items.begin(), items.end());
    }
    temp.properties.erase(it);
  }
  temp.found_properties.clear();
}

bool storages_body(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t size,
                   const cmd_params& opts) {
  guard_level level(size);
  if (!level) {
    ctx.consumed = 0;
    return false;
  }
  uint64_t base = ctx.offset;
  bool string_named = false;
  bool result = false;
  const uint8_t* current = p;
  int64_t remaining = size;
  while (p && is_property_storage(current, remaining)) {
    if (!guard_charge(1)) break;
    shell_item_record temp;
    ctx.offset = base;
    const int64_t storage_size = storage_size16(current);
    if (is_string_named_storage(current, remaining)) {
      if (!parse_string_named_storage(ctx, temp, current, storage_size, opts)) {
        ctx.offset = base;
        break;
      }
      string_named = true;
    } else if (is_integer_named_storage(current, remaining)) {
      if (!parse_integer_named_storage(ctx, temp, current, storage_size, opts)) {
        ctx.offset = base;
        break;
      }
      string_named = false;
    } else {
      ctx.offset = base;
      break;
    }
    if (!temp.properties.empty()) take_id_list_value(temp, string_named, opts);
    merge_shell_item(rec, temp);
    ctx.offset = base;
    if (load_le32(current + 24) > k_max_first_value) break;
    remaining -= storage_size;
    if (remaining < 37) break;
    base += static_cast<uint64_t>(storage_size);
    current += storage_size;
    // Padding between storages: the next size lies where its first value's
    // size would be zero.
    const int64_t before_skip = remaining;
    int64_t skipped = 0;
    while (remaining > 36 && load_le32(current + 24) == 0) {
      current += 2;
      base += 2;
      skipped += 2;
      remaining -= 2;
    }
    if (remaining < 38) break;
    result = true;
    if (skipped > 0 && !is_property_storage(current, remaining)) {
      remaining = before_skip;
      break;
    }
  }
  ctx.consumed = static_cast<uint32_t>(size - remaining);
  return result;
}

bool integer_named_body(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                        int64_t size, const cmd_params& opts) {
  if (!storage || size <= 0 || !is_integer_named_storage(storage, size)) return false;
  const uint64_t base = ctx.offset;
  guid fmtid;
  fmtid.set(storage + 8);
  const int64_t v = load_le32(storage + 24);
  if (v == 0) {
    add_item_guid(rec, fmtid);
    return true;
  }
  if (v > size || v > size - 24) return false;
  // A first value smaller than its own 13-byte header has no data window.
  if (v < 13) return true;
  ctx.offset = base + 37;
  ctx.consumed = 0;
  add_item_property(rec, ctx, storage + 37, v - 13, load_le16(storage + 33),
                    load_le16(storage + 28), &fmtid, opts);
  const int64_t end = storage_size16(storage);
  int64_t position = 24 + v;
  int64_t remaining = end - position;
  while (remaining >= 14) {
    if (!guard_charge(1)) break;
    while (remaining >= 2 && load_le16(storage + position) == 0) {
      position += 2;
      remaining -= 2;
    }
    if (remaining < 13) break;
    const int64_t value_size = load_le32(storage + position);
    if (value_size == 0 || value_size > k_max_further_value) break;
    ctx.offset = base + static_cast<uint64_t>(position);
    parse_integer_named_value(ctx, rec, &fmtid, storage + position, remaining, opts);
    position += value_size;
    remaining -= value_size;
  }
  return true;
}

bool string_named_body(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                       int64_t size, const cmd_params& opts) {
  if (!storage || size <= 0 || !is_string_named_storage(storage, size)) return false;
  const uint64_t base = ctx.offset;
  std::string fmtid_text;
  property_storage_fmtid_text(storage, ctx, fmtid_text);
  uint64_t position = base + 24;
  ctx.offset = position;
  bool result = false;
  int64_t at = 24;  // cursor, from the storage start
  int64_t remaining = size - 24;
  for (;;) {
    if (!guard_charge(1)) break;
    const uint64_t offset_before = ctx.offset;
    const uint32_t consumed_before = ctx.consumed;
    int64_t n = parse_beef_block_list(rec, storage + at, remaining, ctx, opts);
    if (n > 0 && n <= remaining) {
      at += n;
      position += static_cast<uint64_t>(n);
      remaining -= n;
      ctx.offset = offset_before + static_cast<uint64_t>(n);
      ctx.consumed = consumed_before + static_cast<uint32_t>(n);
    }
    const uint8_t* cursor = storage + at;
    if (!is_string_named_value(cursor, remaining)) break;
    const int64_t value_size = load_le32(cursor);
    const int64_t name_size = load_le32(cursor + 4);
    // The name starts at +9 and must lie inside its value.
    if (9 + name_size > value_size) break;
    ctx.offset = position;
    std::string name;
    utf16_to_utf8(cursor + 9, static_cast<size_t>(name_size), name, true);
    int64_t q = at + 9 + name_size;
    int64_t r = size - q;
    while (r > 0 && storage[q] == 0) {
      ++q;
      --r;
    }
    if (r < 8) break;
    ctx.offset = base + static_cast<uint64_t>(q) + 4;
    typed_value tv;
    parse_typed_value(tv, ctx, storage + q + 4, size - (q + 4), load_le16(storage + q));
    property_value pv(&string_named_set(), 0);
    pv.name = name;
    pv.name2 = name;
    pv.string_named = 1;
    store_typed_value(rec, ctx, tv, pv, opts);
    at += value_size;
    position += static_cast<uint64_t>(value_size);
    remaining -= value_size;
    ctx.offset = position;
    result = true;
    if (remaining <= 11) break;
  }
  return result;
}

}  // namespace

bool is_property_storage(const uint8_t* p, int64_t available) {
  if (!p || available < 24) return false;
  int64_t size = storage_size16(p);
  return size >= 24 && size <= available && load_le32(p + 4) == k_storage_version;
}

bool is_string_named_storage(const uint8_t* p, int64_t available) {
  if (!p || available < 35) return false;
  int64_t size = storage_size16(p);
  if (size < 35 || size > available || !is_property_storage(p, available)) return false;
  int64_t first = load_le32(p + 24);
  return first <= size && int64_t{load_le32(p + 28)} + 5 <= first && is_string_named_fmtid(p + 8);
}

bool is_integer_named_storage(const uint8_t* p, int64_t available) {
  if (!is_property_storage(p, available)) return false;
  if (available <= 36) return available >= 28 && load_le32(p + 24) == 0;
  return load_le32(p + 24) == 0 || is_valid_vartype(static_cast<int16_t>(load_le16(p + 33)));
}

bool is_embedded_property_storage(const uint8_t* p, int64_t available) {
  if (!p || available < 38) return false;
  int64_t size = load_le32(p);
  if (size < 38 || size > available || load_le32(p + 4) != k_storage_version) return false;
  return is_string_named_fmtid(p + 8) || is_valid_vartype(static_cast<int16_t>(load_le16(p + 33)));
}

bool is_string_list_entry(const uint8_t* p, int64_t available) {
  if (!p || available < 21) return false;
  int64_t length = load_le32(p + 16);
  return length != 0 && length + 20 <= available;
}

bool parse_property_storages(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                             int64_t size, const cmd_params& opts) {
  return guarded([&] { return storages_body(ctx, rec, p, size, opts); });
}

bool parse_integer_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                 int64_t size, const cmd_params& opts) {
  return guarded([&] { return integer_named_body(ctx, rec, storage, size, opts); });
}

bool parse_integer_named_value(parse_ctx& ctx, shell_item_record& rec, const guid* fmtid,
                               const uint8_t* value, int64_t available, const cmd_params& opts) {
  if (!value || available < 13) return false;
  ctx.offset += 13;
  ctx.consumed = 0;
  return add_item_property(rec, ctx, value + 13, available - 13, load_le16(value + 9),
                           load_le16(value + 4), fmtid, opts) > 0;
}

bool parse_string_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                int64_t size, const cmd_params& opts) {
  return guarded([&] { return string_named_body(ctx, rec, storage, size, opts); });
}

bool parse_storage_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_embedded_property_storage(p, available)) return false;
  return parse_property_storages(ctx, rec, p, load_le32(p), opts);
}

uint32_t parse_embedded_property_list(shell_item_record& rec, const uint8_t* list, int64_t size,
                                      parse_ctx& ctx, const cmd_params& opts) {
  if (!is_property_list_header(list, size)) return 0;
  guarded([&] {
    add_item_guid(rec, list + 4);
    ctx.offset += 24;
    const uint8_t* cursor = list + 24;
    int64_t remaining = size - 24;
    while (remaining >= 25 && load_le32(cursor + 16) != 0) {
      if (!guard_charge(1)) break;
      guid fmtid;
      fmtid.set(cursor);
      int64_t n = add_item_property(rec, ctx, cursor + 24, remaining - 24, load_le16(cursor + 20),
                                    load_le16(cursor + 16), &fmtid, opts);
      remaining = remaining - 24 - n;
      if (remaining < 1) break;
      cursor += 24 + n;
    }
  });
  return 0;
}

void property_storage_fmtid_text(const uint8_t* storage, parse_ctx& ctx, std::string& out) {
  guarded(
      [&] {
        guid fmtid;
        fmtid.set(storage + 8);
        out = clsid_text(&fmtid);
        skip_item_header(storage, ctx);
        ctx.consumed += 8;
      },
      [&] { out.clear(); });
}

bool parse_08312006_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_08312006_item(p, available)) return false;
  rec.flags |= itemflag_08312006;
  reset_consumed(p, ctx);
  // The running offset is set to 3 here, not advanced: key texts of the
  // values inside are built from it.
  ctx.offset = 3;
  return parse_three_string_block(ctx, rec, p + 4, available - 4, opts);
}

}  // namespace vk
