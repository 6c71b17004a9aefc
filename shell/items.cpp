// Item parsers: root folders, volumes, file entries, control-panel items,
// the small type 0x01, 0x02, 0x20 and 0x52 items, network locations, URIs,
// delegate items, type 0x64 items and the two fallback structures.
#include <algorithm>

#include "foundation/vk_time.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"

namespace vk {

namespace {

const uint8_t k_root_marker[16] = {0x6E, 0x61, 0x07, 0x09, 0xE6, 0xF5, 0xD8, 0x48,
                                   0x9D, 0x61, 0xA9, 0x1C, 0x3D, 0x28, 0x10, 0x6D};

bool is_root_marker(const uint8_t* p) { return std::equal(p, p + 16, k_root_marker); }

byte_view view(const uint8_t* p, int64_t n) {
  return byte_view(p, n > 0 ? static_cast<size_t>(n) : 0);
}

// 8-bit text from the first non-zero byte of [start, end).
std::string counted_text(const uint8_t* p, int64_t start, int64_t end) {
  while (start < end && p[start] == 0) ++start;
  std::string s;
  read_ansi(view(p, end), start, end, s);
  return s;
}

}  // namespace

const char* control_panel_category_text(uint32_t id) {
  static const char* const names[] = {"All Control Panel Items",
                                      "Appearance and Personalization",
                                      "Hardward and Sound",
                                      "Network and Internet",
                                      "Sounds, Speech, and Audio Devices",
                                      "System and Security",
                                      "Clock, Language, and Region",
                                      "Ease of Access",
                                      "Programs",
                                      "User Accounts",
                                      "Security Center",
                                      "Mobile PC"};
  return id < 12 ? names[id] : "<unk>";
}

bool parse_root_folder_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_root_folder_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed = 3;
  add_item_guid(rec, p + 4);
  if (is_root_marker(p + 4)) rec.flags |= itemflag_named;
  if (load_le16(p) > 20) {
    uint32_t saved = ctx.consumed;
    ctx.offset += 20;
    uint64_t after = ctx.offset;
    int32_t n = parse_beef_block_list(rec, p + 20, avail - 20, ctx, opts);
    if (n > 0) {
      ctx.offset = after + n;
      ctx.consumed = saved + n;
    }
  }
  return true;
}

bool parse_volume_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                       const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_volume_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed += 3;
  int64_t size = load_le16(p);
  if (p[5] == '\\')
    read_ansi(view(p, size), 3, 5, rec.long_name);
  else
    read_ansi(view(p, size), 3, size, rec.long_name);
  if (p[2] == 0x2F) {
    if (size == 41)
      add_item_guid(rec, p + 25);
    else if (size > 41)
      parse_beef_block_list(rec, p + 25, size - 25, ctx, opts);
  }
  return !rec.long_name.empty();
}

bool parse_file_entry_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                           const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_file_entry_item(p, avail)) return false;
  const int64_t size = load_le16(p);
  byte_view v = view(p, size);
  rec.size = load_le32(p + 4);
  if (load_le16(p + 8)) {
    time t = time_from_dos(load_le16(p + 8), load_le16(p + 10), true);
    format_date_time_sec(rec.modified_date, rec.modified_time, t, false);
    rec.modified = t.valid() ? t.m_filetime : 0;
  }
  const uint16_t attributes = load_le16(p + 12);
  rec.is_directory = (p[12] & 0x10) ? 1 : (rec.size == 0 ? 1 : 0);
  reset_consumed(item, ctx);
  if (attributes == 0 && p[14] == 0) {
    // Second form: a counted UTF-16 text at 92 and 48 bytes of text at 36.
    if (size <= 95 || size - 92 < 2 * static_cast<int64_t>(load_le32(p + 84))) {
      rec.not_parsed = 1;
      return false;
    }
    std::string s;
    read_utf16(v, 92, size, s);
    rec.names.push_back(s);
    read_utf16(v, 36, 36 + 48, s);
    rec.names.push_back(s);
    return !rec.long_name.empty() || !rec.primary_name.empty();
  }
  int64_t e = load_le16(p + size - 2);
  if (e == 0 || e >= size) e = 0;
  if (p[2] >= 0x34 && p[2] <= 0x36) {
    read_utf16(v, 14, e ? e : size - 2, rec.primary_name);
  } else {
    read_ansi(v, 14, size, rec.primary_name);
    if (!rec.primary_name.empty()) rec.names.push_back(rec.primary_name);
  }
  if (e) {
    ctx.offset += e;
    uint64_t after = ctx.offset;
    uint32_t saved = ctx.consumed;
    int32_t n = parse_beef_block_list(rec, p + e, size - e, ctx, opts);
    if (n > 0) {
      ctx.offset = after + n;
      ctx.consumed = saved + n;
    }
  }
  return !rec.long_name.empty() || !rec.primary_name.empty();
}

bool control_panel_category_name(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                                 const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_control_panel_category_item(p, avail)) return false;
  reset_consumed(item, ctx);
  rec.long_name += control_panel_category_text(load_le32(p + 8));
  ctx.consumed += 12;
  if (load_le16(p) > 12) {
    ctx.offset += 12;
    if (avail >= 14 && load_le16(p + 12) <= avail - 12)
      scan_extension_blocks(ctx, rec, p + 12, load_le16(p + 12), opts);
  }
  return true;
}

bool parse_type_01_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_01_item(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p);
  byte_view v = view(p, size);
  bool found = false;
  const bool named = load_le16(p + 6) != 0;
  if (named && read_utf16(v, 6, size, rec.long_name) && !rec.long_name.empty()) {
    rec.flags |= itemflag_named;
    found = true;
  }
  if (size <= 50) return found;
  shell_item_record t;
  std::string& target = named ? t.long_name : rec.long_name;
  int64_t n = read_utf16(v, 50, size, target);
  if (!target.empty()) found = true;
  if (named) merge_shell_item(rec, t);
  int64_t at = 50 + n, left = size - at;
  if (left > 16 && load_le16(p + at) <= left &&
      scan_extension_blocks(ctx, rec, p + at, load_le16(p + at), opts))
    found = true;
  return found;
}

bool parse_type_02_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_02_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed += 3;
  const int64_t size = load_le16(p);
  byte_view v = view(p, size);
  bool found = false;
  shell_item_record t;
  if (load_le16(p + 6) && read_utf16(v, 6, size, t.long_name) && !t.long_name.empty()) {
    t.flags |= itemflag_named;
    found = true;
  }
  if (size >= 30) t.created = load_le64(p + 22);
  if (size >= 38) t.modified = load_le64(p + 30);
  if (size >= 46) t.accessed = load_le64(p + 38);
  merge_shell_item(rec, t);
  if (size > 50) {
    t.clear();
    int64_t n = read_utf16(v, 50, size, t.long_name);
    if (!t.long_name.empty()) found = true;
    merge_shell_item(rec, t);
    int64_t at = 50 + n, left = size - at;
    if (left > 16 && load_le16(p + at) < left)
      scan_extension_blocks(ctx, rec, p + at, load_le16(p + at), opts);
  }
  return found;
}

bool parse_type_20_item(const uint8_t*, parse_ctx&, shell_item_record& rec, const uint8_t* p,
                        int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_network_type_item(p, avail)) return false;
  const int64_t size = load_le16(p);
  bool found = false;
  for (int64_t pos = 5; size - pos > 2;) {
    std::string s;
    int64_t n = read_ansi(view(p, size), pos, size, s);
    if (s.empty()) break;
    rec.names.push_back(s);
    found = true;
    pos += n;
  }
  return found;
}

bool parse_type_52_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_52_body(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p);
  const int64_t chars = load_le32(p + 46);
  int64_t n = read_utf16(view(p, size), 4, 4 + 2 * chars, rec.long_name);
  ctx.consumed += 3;
  int64_t at = 50 + n, left = size - at;
  if (left > 16 && load_le16(p + at) <= left)
    scan_extension_blocks(ctx, rec, p + at, load_le16(p + at), opts);
  return n != 0;
}

bool parse_control_panel_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                              const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_71_item(p, avail)) return false;
  const uint64_t remembered = ctx.offset;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p);
  if (size > 29 && load_le16(p + 4) == 0) {
    add_item_guid(rec, p + 14);
    ctx.consumed += 3;
    if (size > 30) {
      ctx.offset = remembered + 30;
      int64_t pos = 30;
      int32_t n = parse_beef_block(rec, p + 30, avail - 30, ctx, opts);
      if (n > 0) {
        ctx.offset += n;
        pos += n;
      }
      if (pos < avail) scan_extension_blocks(ctx, rec, p + pos, avail - pos, opts);
    }
    return true;
  }
  const int64_t k = load_le16(p + 4) + 6;
  ctx.offset = remembered + k;
  if (k < avail) add_item_guid_pair(ctx, rec, p + k, avail - k);
  bool found = !rec.properties.empty() || !rec.guid_names.empty();
  ctx.offset = remembered;
  if (size <= avail) scan_extension_blocks(ctx, rec, p, size, opts);
  return found;
}

bool parse_network_item(const uint8_t*, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_network_item(p, avail)) return false;
  const int64_t size = load_le16(p);
  bool found = false;
  for (int64_t pos = 5; size - pos > 2;) {
    std::string s;
    int64_t n = read_ansi(view(p, size), pos, size, s);
    if (s.empty()) break;
    if (s.compare(0, 2, "\\\\") == 0) {
      rec.names.push_back(s);
    } else {
      std::vector<std::string> parts;
      size_t from = 0;
      for (size_t cut; (cut = s.find('\\', from)) != std::string::npos; from = cut + 1)
        if (cut > from) parts.push_back(s.substr(from, cut - from));
      if (from < s.size()) parts.push_back(s.substr(from));
      if (parts.size() <= 1) {
        rec.names.push_back(parts.empty() ? s : parts[0]);
      } else {
        rec.names.push_back(parts.back());
        rec.names.push_back(s);
      }
    }
    found = true;
    pos += n;
  }
  if (found && debug_output_enabled(ctx)) ctx.consumed += 3;
  return found;
}

bool parse_uri_item_short(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                          const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_61_67_item(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p);
  int64_t n = read_utf16(view(p, avail), 8, avail, rec.long_name);
  ctx.consumed += 3;
  const int64_t area = 8 + n, left = avail - area;
  if (left > 16 && load_le16(p + area) <= left &&
      !scan_extension_blocks(ctx, rec, p + area, load_le16(p + area), opts)) {
    const int64_t e = load_le16(p + size - 2);
    if (e > 0 && e + 8 <= size && load_le16(p + e) <= avail - e) {
      shell_item_record t;
      if (parse_beef_block(t, p + e, size - e, ctx, opts) > 0) merge_shell_item(rec, t);
    }
  }
  return n != 0;
}

bool parse_uri_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                    const uint8_t* p, int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_type_61_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed += 3;
  const uint64_t ft = load_le64(p + 14);
  if (ft) {
    rec.created = ft;
    format_date_time_sec(rec.created_date, rec.created_time,
                         time_from_u64(ft, type_time::filetime), false);
  }
  // Counts and sums in 64 bits: a hostile count cannot wrap past the checks.
  const int64_t c1 = load_le32(p + 42);
  if (46 + c1 > avail) return false;
  std::string first, second, third;
  if (c1 && avail > c1 + 3) first = counted_text(p, 46, 46 + c1);
  const int64_t c2_at = 46 + c1;
  if (c2_at + 4 > avail) return false;
  const int64_t c2 = load_le32(p + c2_at);
  if (c2 && avail > c2 + c2_at + 4) second = counted_text(p, c2_at + 4, c2_at + 4 + c2);
  const int64_t c3_at = c2_at + 4 + c2;
  if (c3_at + 4 > avail) return false;
  const int64_t c3 = load_le32(p + c3_at);
  if (c3 && avail > c3 + c3_at + 4)
    third = counted_text(p, c3_at + 4, std::min(avail, c3_at + 4 + c3));
  std::string composed;
  if (!third.empty()) composed = third + "://";
  if (!second.empty()) composed += second;
  if (!first.empty()) {
    if (!second.empty() && !composed.empty()) composed += "@";
    composed += first;
  }
  rec.long_name = composed;
  return !rec.long_name.empty();
}

bool parse_delegate_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                         const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_73_77_item(p, avail) || p[2] == 0x74) return false;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p), d = load_le16(p + 4);
  if (d < size - 3) {
    if (size > avail) return false;
    bool result = scan_extension_blocks(ctx, rec, p, size, opts);
    const int64_t h = variable_header_length(p, size);
    if (h + 16 > size) return result;
    add_item_guid(rec, p + h);
    if (h + 32 <= size) add_item_guid(rec, p + h + 16);
    return true;
  }
  add_item_guid(rec, p + 4);
  if (parse_beef_block_list(rec, p + 20, size - 20, ctx, opts) == 0 && size > 35)
    add_item_guid(rec, p + 20);
  return true;
}

// Items whose one text is a UTF-16 name from a fixed offset to the item's end.
static bool parse_tail_name_item(bool (*test)(const uint8_t*, int64_t), int64_t name_at,
                                 const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                                 const uint8_t* p, int64_t avail) {
  if (!p || avail <= 0 || !test(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = load_le16(p);
  return read_utf16(view(p, size), name_at, size, rec.long_name) != 0;
}

bool parse_type_64_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params&) {
  return parse_tail_name_item(is_type_64_item, 4, item, ctx, rec, p, avail);
}

bool parse_94_byte_structure(const uint8_t*, parse_ctx&, shell_item_record& rec,
                             const uint8_t* p, int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_94_byte_structure(p, avail)) return false;
  const int64_t size = load_le16(p);
  byte_view v = view(p, size);
  const int64_t c1 = load_le16(p + 84), c2 = load_le16(p + 88);
  shell_item_record t;
  if (p[36]) read_utf16(v, 36, size, t.extra_name);
  if (load_le16(p + 92)) read_utf16(v, 92, 92 + 2 * c1, t.long_name);
  int64_t q = 92 + 2 * c1;
  while (q < size && p[q] == 0) ++q;
  if (q < size && c2) {
    std::string s;
    read_utf16(v, q, std::min(size, q + 2 * c2), s);
    if (!s.empty()) t.names.push_back(s);
  }
  merge_shell_item(rec, t);
  return true;
}

bool parse_type_2c_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params&) {
  return parse_tail_name_item(is_type_2c_item, 40, item, ctx, rec, p, avail);
}

bool parse_type_1e_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_1e_item(p, avail)) return false;
  reset_consumed(item, ctx);
  add_item_guid(rec, p + 4);
  if (is_root_marker(p + 4)) rec.flags |= itemflag_named;
  ctx.offset += 20;
  shell_item_list nested;
  if (parse_idlist(nested, p + 20, load_le16(p) - 20, false, false, ctx, opts))
    rec.children.insert(rec.children.end(), nested.begin(), nested.end());
  return true;
}

}  // namespace vk
