// The embedded-structure scanner: structures inside shell items that are
// known only by a size field and a signature at a fixed offset. Counts and
// sums from the bytes are taken in 64 bits, every string is read within the
// bytes available, and the scanner ends on a step that is zero or larger
// than what is left, so that it always ends and never steps outside.
#include "shell/embedded_scan.h"

#include <algorithm>
#include <sstream>

#include "foundation/vk_guard.h"
#include "foundation/vk_time.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/property_store.h"

namespace vk {

namespace {

constexpr int64_t k_max_structure = 16384;

byte_view view(const uint8_t* p, int64_t n) {
  return byte_view(p, n > 0 ? static_cast<size_t>(n) : 0);
}

// The three-string layouts: where each field of a form lies.
struct three_string_form {
  int64_t min_size;
  int64_t inner_at;  // u16 inner length; -1: the size at 0 serves
  int64_t signature_at;
  uint32_t signature;
  int64_t list_length_at;
  int64_t counts_at;
  int64_t strings_at;
  uint64_t flag;
};

constexpr three_string_form k_07192006{76, 4, 6, 0x07192006, 58, 62, 74, itemflag_07192006};
constexpr three_string_form k_10312005{56, 4, 6, 0x10312005, 34, 38, 54, itemflag_10312005};
constexpr three_string_form k_08312006{36, -1, 2, 0x08312006, 18, 22, 34, 0};

bool is_three_string(const three_string_form& f, const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, f.min_size, k_max_structure);
  if (!size) return false;
  int64_t inner = *size;
  if (f.inner_at >= 0) {
    inner = load_le16(p + f.inner_at);
    if (inner > *size || inner > available) return false;
  }
  if (load_le32(p + f.signature_at) != f.signature) return false;
  if (load_le32(p + f.list_length_at) > inner) return false;
  const int64_t c1 = load_le32(p + f.counts_at), c2 = load_le32(p + f.counts_at + 4),
                c3 = load_le32(p + f.counts_at + 8);
  return 2 * (c1 + c2 + c3) + 26 <= available;
}

bool parse_three_string(const three_string_form& f, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_three_string(f, p, available)) return false;
  const bool outer = f.inner_at >= 0;
  if (outer) {
    rec.flags |= f.flag;
    reset_consumed(p, ctx);
  }
  const int64_t size = load_le16(p);
  const int64_t inner = outer ? load_le16(p + f.inner_at) : size;
  byte_view v = view(p, available);
  shell_item_record t;
  int64_t at = f.strings_at;
  for (int i = 0; i < 3; ++i) {
    const int64_t budget = 2 * static_cast<int64_t>(load_le32(p + f.counts_at + 4 * i));
    std::string s;
    read_utf16(v, at, at + budget, s);
    if (!s.empty()) t.names.push_back(std::move(s));
    at += budget;
  }
  const int64_t m = load_le32(p + f.list_length_at);
  const int64_t end = outer ? inner + 4 : size;
  const int64_t start = end - m;
  if (start >= 0 && (!outer || inner + 4 <= size)) {
    ctx.offset += static_cast<uint64_t>(start);
    parse_embedded_property_list(t, p + start, m, ctx, opts);
  }
  merge_shell_item(rec, t);
  return true;
}

// The later items of an AugM structure: each a file entry 6 bytes after the
// end of the one before it. The stored count only limits the walk; the
// bytes end it.
void augm_further_items(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                        int64_t available, int64_t first, uint32_t count,
                        const cmd_params& opts) {
  const uint64_t first_offset = ctx.offset;
  int64_t at = first;
  for (uint32_t i = 1; i < count; ++i) {
    const int64_t step = int64_t{load_le16(p + at)} + 6;
    if (available - at < step + 16 || !guard_charge(1)) return;
    at += step;
    ctx.offset = first_offset + static_cast<uint64_t>(at - first);
    shell_item_record t;
    if (!parse_file_entry_item(p + at, ctx, t, p + at, available - at, opts)) return;
    rec.children.push_back(std::move(t));
  }
}

}  // namespace

// ---- tests ----

bool is_0a291cf0_block(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 10);
  return size && load_le16(p + 4) <= *size && load_le32(p + 6) == 0x0A291CF0;
}

bool is_cfsf_block(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 25);
  return size && load_le16(p + 4) <= *size && load_le16(p + 10) <= *size &&
         load_le32(p + 6) == 0x46534643;
}

bool is_07192006_block(const uint8_t* p, int64_t available) {
  return is_three_string(k_07192006, p, available);
}

bool is_10312005_block(const uint8_t* p, int64_t available) {
  return is_three_string(k_10312005, p, available);
}

bool is_08312006_block(const uint8_t* p, int64_t available) {
  return is_three_string(k_08312006, p, available);
}

bool is_08312006_item(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 40);
  if (!size) return false;
  const int64_t inner = load_le16(p + 4);
  if (inner > k_max_structure || inner > *size || inner > available) return false;
  if (load_le32(p + 6) != 0x08312006 || load_le32(p + 22) > inner) return false;
  const int64_t c1 = load_le32(p + 26), c2 = load_le32(p + 30), c3 = load_le32(p + 34);
  return 2 * (c1 + c2 + c3) + 26 <= available;
}

bool is_f5a6b710_block(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 13);
  if (!size) return false;
  const int64_t k = load_le16(p + 4);
  return k <= *size + 4 && load_le32(p + 6) == 0xF5A6B710 && load_le16(p + 10) <= k + 4;
}

bool is_augm_block(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 16) && load_le32(p + 4) == 0x4D677541 &&
         load_le32(p + 12) != 0;
}

bool is_untyped_block(const uint8_t* p, int64_t available) {
  return sized_structure(p, available, 8, k_max_structure) && load_le16(p + 4) == 0 &&
         load_le16(p + 6) != 0;
}

bool is_c001b000_block(const uint8_t* p, int64_t available) {
  if (!p || available < 25) return false;
  const int64_t size = load_le32(p);
  if (size < 25 || size > k_max_structure || size > available) return false;
  if (load_le32(p + 4) != 0xC001B000) return false;
  const int64_t length = load_le16(p + 8), t0 = load_le32(p + 20);
  return length <= size && t0 <= length && t0 + 25 <= available;
}

bool is_autolist_entry_nonnull(const uint8_t* p, int64_t available) {
  return p && available > 0 && is_autolist_entry(p, available);
}

// ---- parsers ----

bool parse_0a291cf0_block(parse_ctx&, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params&) {
  if (!p || available <= 0 || !is_0a291cf0_block(p, available)) return false;
  rec.flags |= itemflag_0a291cf0;
  return true;
}

bool parse_cfsf_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                      int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_cfsf_block(p, available)) return false;
  const int64_t size = load_le16(p);
  shell_item_record t;
  t.size = load_le32(p + 14);
  if (load_le16(p + 18)) {
    time when = time_from_dos(load_le16(p + 18), load_le16(p + 20), true);
    if (when.valid()) t.modified = when.m_filetime;
  }
  t.is_directory = (p[12] & 0x10) ? 1 : (t.size == 0 ? 1 : 0);
  read_ansi(view(p, available), 24, available, t.primary_name);
  if (!t.primary_name.empty()) t.names.push_back(t.primary_name);
  rec.flags |= itemflag_cfsf;
  reset_consumed(p, ctx);
  const int64_t e = load_le16(p + size - 2);
  ctx.offset += static_cast<uint64_t>(e);
  if (e != 0 && e < size) {
    const uint64_t after = ctx.offset;
    const uint32_t saved = ctx.consumed;
    const int32_t n = parse_beef_block_list(t, p + e, available - e, ctx, opts);
    if (n > 0) {
      ctx.offset = after + static_cast<uint64_t>(n);
      ctx.consumed = saved + static_cast<uint32_t>(n);
    }
  }
  const bool result = !t.long_name.empty() || !t.primary_name.empty();
  merge_shell_item(rec, t);
  return result;
}

bool parse_07192006_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  return parse_three_string(k_07192006, ctx, rec, p, available, opts);
}

bool parse_10312005_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  return parse_three_string(k_10312005, ctx, rec, p, available, opts);
}

bool parse_three_string_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                              int64_t available, const cmd_params& opts) {
  return parse_three_string(k_08312006, ctx, rec, p, available, opts);
}

bool parse_f5a6b710_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_f5a6b710_block(p, available)) return false;
  reset_consumed(p, ctx);
  rec.flags |= itemflag_f5a6b710;
  const int64_t size = load_le16(p), k = load_le16(p + 4), n = load_le16(p + 10);
  shell_item_record t;
  bool result = false;
  if (k + 22 <= size) {
    add_item_guid(t, p + k + 6);
    if (k + 38 <= size) add_item_guid(t, p + k + 22);
    merge_shell_item(rec, t);
    result = true;
  }
  if (parse_shell_item(t, p + 10, available - 10, false, false, t.flags, ctx, opts)) {
    merge_shell_item(rec, t);
    result = true;
  }
  if (available - 10 - n > 3) {
    shell_item_list list;
    if (parse_idlist(list, p + 10 + n, available - 10 - n, false, false, ctx, opts))
      rec.embedded_lists.push_back(std::move(list));
  }
  return result;
}

bool parse_augm_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                      int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_augm_block(p, available)) return false;
  const int64_t first = int64_t{load_le32(p + 8)} + 16;
  if (first > available) return false;
  rec.flags |= itemflag_augm;
  ctx.offset += static_cast<uint64_t>(first);
  const uint64_t first_offset = ctx.offset;
  shell_item_record t;
  if (!parse_file_entry_item(p + first, ctx, t, p + first, available - first, opts))
    return false;
  merge_shell_item(rec, t);
  ctx.offset = first_offset;
  augm_further_items(ctx, rec, p, available, first, load_le32(p + 12), opts);
  return true;
}

int32_t parse_sized_record_with_offsets(parse_ctx& ctx, shell_item_record& rec,
                                        const uint8_t* p, int64_t available,
                                        const cmd_params& opts) {
  if (!p || available <= 0 || !is_sized_record_with_offsets(p, available)) return 0;
  rec.flags |= itemflag_sized_record;
  shell_item_record t;
  const int64_t a = load_le16(p + 4), b = load_le16(p + 12);
  if (a >= 26 && b == 16) {
    if (available >= 30) add_item_guid(t, p + 14);
  } else if (a >= 27 && b == 32) {
    if (available >= 30) add_item_guid(t, p + 14);
    if (available >= 46) add_item_guid(t, p + 30);
  } else {
    const int64_t r = available - (a + 6);
    if (r >= 16) add_item_guid(t, p + a + 6);
    if (r - 16 >= 16) add_item_guid(t, p + a + 22);
  }
  // The 0xBEEF run may stand behind zero padding.
  int64_t pos = 14 + b, rem = available - pos;
  while (pos + 2 <= available) {
    const uint16_t w = load_le16(p + pos);
    if (w != 0 && (w <= rem || p[pos] != 0)) break;
    ++pos;
    --rem;
    if (rem <= 1) break;
  }
  ctx.consumed = static_cast<uint32_t>(pos);
  ctx.offset += static_cast<uint64_t>(pos);
  int64_t taken = pos;
  if (pos < available) {
    const uint64_t after = ctx.offset;
    const int32_t n = parse_beef_block_list(t, p + pos, rem, ctx, opts);
    if (n > 0) {
      ctx.offset = after + static_cast<uint64_t>(n);
      ctx.consumed = static_cast<uint32_t>(pos + n);
      taken = pos + n;
    }
  }
  merge_shell_item(rec, t);
  return static_cast<int32_t>(taken);
}

bool parse_untyped_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_untyped_block(p, available)) return false;
  const int64_t size = load_le16(p);
  const uint16_t w = load_le16(p + 6);
  shell_item_record t;
  if (w == 0xBEEF) {
    if (parse_beef_block(t, p, available, ctx, opts) == 0) return false;
  } else if (w >= 32) {
    rec.flags |= itemflag_untyped;
    read_utf16(view(p, size), 6, size, t.long_name);
    // A record of 8 bytes has no second unit: its text is one character.
    const uint16_t second = size >= 10 ? load_le16(p + 8) : 0;
    if (t.long_name.size() <= 4 && second == 0) return false;
    t.flags |= itemflag_named;
  } else if (size >= 39) {
    rec.flags |= itemflag_untyped;
    const int64_t ticks = static_cast<int64_t>(load_le64(p + 22));
    if (ticks != 0) {
      time when = time_from_i64(ticks, type_time::filetime);
      if (when.valid()) t.created = when.m_filetime;
    }
    int64_t q = 38;
    if (p[38] != 0) {
      read_ansi(view(p, available), 38, available, t.primary_name);
      q += static_cast<int64_t>(t.primary_name.size());
    }
    while (q < size && p[q] == 0) ++q;
    if (size - q > 1) read_utf16(view(p, size), q, size, t.long_name);
  }
  merge_shell_item(rec, t);
  return true;
}

bool parse_c001b000_block(parse_ctx&, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params&) {
  if (!p || available <= 0 || !is_c001b000_block(p, available)) return false;
  shell_item_record t;
  bool result = false;
  const int64_t t0 = load_le32(p + 20);
  byte_view v = view(p, available);
  std::string s;
  read_utf16(v, 24, 24 + t0, s);
  if (!s.empty()) t.names.push_back(s);
  int64_t at = 24 + t0, rem = available - at;
  while (rem >= 1 && is_string_list_entry(p + at, rem) && guard_charge(1)) {
    const int64_t n = load_le32(p + at + 16);
    if (n > 16383) break;
    read_utf16(v, at + 20, at + 20 + n, s);
    if (s.size() > 1) t.names.push_back(s);
    result = true;
    at += n + 20;
    rem -= n + 20;
  }
  merge_shell_item(rec, t);
  return result;
}

// ---- the scanner ----

bool scan_extension_blocks(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                           int64_t available, const cmd_params& opts) {
  if (!p || available <= 0) return false;
  guard_level level(available);
  if (!level) return false;
  bool result = false;
  int64_t pos = 0, remaining = available;
  while (remaining > 8 && guard_charge(1)) {
    const uint64_t remembered = ctx.offset;
    const uint8_t* at = p + pos;
    int64_t step = 0;
    if (is_0a291cf0_block(at, remaining)) {
      result = parse_0a291cf0_block(ctx, rec, at, remaining, opts);
      step = 10;
    } else if (is_cfsf_block(at, remaining)) {
      result = parse_cfsf_block(ctx, rec, at, remaining, opts);
      step = int64_t{load_le16(at + 4)} + 4;
    } else if (is_07192006_block(at, remaining)) {
      result = parse_07192006_block(ctx, rec, at, remaining, opts);
      step = load_le16(at + 4);
    } else if (is_10312005_block(at, remaining)) {
      result = parse_10312005_block(ctx, rec, at, remaining, opts);
      step = load_le16(at + 4);
    } else if (is_45177777_block(at, remaining)) {
      step = parse_45177777_block(at, ctx, rec, at, remaining);
      result = step > 0;
    } else if (is_08312006_item(at, remaining)) {
      result = parse_08312006_block(ctx, rec, at, remaining, opts);
      step = load_le16(at + 4);
    } else if (is_f5a6b710_block(at, remaining)) {
      result = parse_f5a6b710_block(ctx, rec, at, remaining, opts);
      step = load_le16(at);
    } else if (is_augm_block(at, remaining)) {
      result = parse_augm_block(ctx, rec, at, remaining, opts);
      step = load_le16(at);
    } else if (is_sized_record_with_offsets(at, remaining)) {
      step = parse_sized_record_with_offsets(ctx, rec, at, remaining, opts);
      result = step > 0;
    } else if (is_untyped_block(at, remaining)) {
      result = parse_untyped_block(ctx, rec, at, remaining, opts);
      step = load_le16(at);
    } else if (is_embedded_property_storage(at, remaining)) {
      result = parse_storage_block(ctx, rec, at, remaining, opts);
      step = load_le32(at);
    } else if (is_08312006_block(at, remaining)) {
      result = parse_three_string_block(ctx, rec, at, remaining, opts);
      step = load_le16(at);
    } else if (is_c001b000_block(at, remaining)) {
      result = parse_c001b000_block(ctx, rec, at, remaining, opts);
      step = load_le16(at + 8);
    } else if (is_94_byte_structure(at, remaining)) {
      result = parse_94_byte_structure(at, ctx, rec, at, remaining, opts);
      step = load_le16(at);
    } else if (is_beef_block(at, remaining)) {
      result = parse_beef_block(rec, at, remaining, ctx, opts) > 0;
      step = load_le16(at);
    } else {
      break;
    }
    // A structure whose step is zero or runs past the bytes ends the scan.
    if (step <= 0 || step > remaining) {
      ctx.offset = remembered;
      break;
    }
    ctx.offset = remembered + static_cast<uint64_t>(step);
    pos += step;
    remaining -= step;
  }
  return result;
}

bool scan_root_folder_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* item,
                           int64_t available, const cmd_params& opts) {
  if (!item || available <= 0 || !is_root_folder_item_with_data(item, available)) return false;
  return scan_extension_blocks(ctx, rec, item, load_le16(item), opts);
}

bool parse_type_2e_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* item,
                        int64_t available, const cmd_params& opts) {
  if (!item || available <= 0 || !is_type_2e_item(item, available)) return false;
  const uint64_t remembered = ctx.offset;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(item);
  if ((item[3] & 0xF0) != 0 || size == 20) {
    add_item_guid(rec, item + 4);
    if (available > 20 && available - 20 > 8 && load_le16(item + 20) <= available - 20) {
      ctx.offset = 20;
      scan_extension_blocks(ctx, rec, item + 20, load_le16(item + 20), opts);
    }
  } else {
    const int64_t h = int64_t{load_le16(item + 4)} + 6;
    const int64_t r = available - h;
    if (r > 15) add_item_guid(rec, item + h);
    if (r - 16 > 15) add_item_guid(rec, item + h + 16);
    ctx.offset = 4;
    scan_extension_blocks(ctx, rec, item, size, opts);
  }
  ctx.offset = remembered;
  return true;
}

uint32_t idlist_debug_text(const uint8_t* p, int64_t size, std::ostream& out,
                           uint64_t file_offset, bool skip_marker_items,
                           const cmd_params& opts) {
  if (!p || size < 3) return 0;
  return guarded(
      [&]() -> uint32_t {
        const int64_t declared = std::min<int64_t>(load_le16(p), size);
        parse_ctx ctx;
        ctx.offset = file_offset;
        ctx.debug = 1;
        ctx.debug_stream = &out;
        shell_item_list items;
        if (!parse_idlist(items, p, declared, false, skip_marker_items, ctx, opts)) return 0;
        cmd_params settings(time_now().m_filetime, true);
        std::string path, detail;
        std::vector<std::string> details;
        uint64_t modified = 0, accessed = 0, created = 0;
        if (!idlist_text(path, detail, details, modified, accessed, created, settings, items))
          return 0;
        out << path;
        if (!detail.empty()) out << " [" << detail << "]";
        return load_le16(p);
      },
      [] { return uint32_t{0}; });
}

}  // namespace vk
