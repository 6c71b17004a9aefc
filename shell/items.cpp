// Item parsers: root folders, volumes, file entries, control-panel items,
// the small type 0x01, 0x02, 0x20 and 0x52 items, network locations, URIs,
// delegate items, type 0x64 items and the two fallback structures.
#include <algorithm>

#include "foundation/vk_time.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"
#include "shell/item_layout.h"

namespace vk {

namespace {

namespace L = item_layout;
using L::le16;
using L::le32;
using L::le64;
using L::le8;

byte_view view(const uint8_t* p, int64_t n) {
  return L::view_of(p, n);
}

const uint8_t k_root_marker[16] = {0x6E, 0x61, 0x07, 0x09, 0xE6, 0xF5, 0xD8, 0x48,
                                   0x9D, 0x61, 0xA9, 0x1C, 0x3D, 0x28, 0x10, 0x6D};

bool is_root_marker(byte_view v, size_t at) {
  return v.starts_with(at, k_root_marker, sizeof k_root_marker);
}

// The GUID at `at` when all 16 bytes lie inside.
void add_guid_at(shell_item_record& rec, byte_view v, size_t at) {
  if (v.has(at, L::item::guid_size)) add_item_guid(rec, v.data() + at);
}

// 8-bit text from the first non-zero byte of [start, end).
std::string counted_text(parse_guard* guard, byte_view v, int64_t start, int64_t end) {
  while (start < end && v.has(static_cast<size_t>(start), 1) &&
         le8(v, static_cast<size_t>(start)) == 0)
    ++start;
  std::string s;
  read_ansi(guard, v, start, end, s);
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
  const byte_view v = view(p, avail);
  reset_consumed(item, ctx);
  ctx.consumed = L::item::header_size;
  add_guid_at(rec, v, L::item::guid);
  if (is_root_marker(v, L::item::guid)) rec.flags |= itemflag_named;
  if (le16(v, L::item::size) > L::root_folder::short_size) {
    uint32_t saved = ctx.consumed;
    ctx.offset += L::root_folder::blocks;
    uint64_t after = ctx.offset;
    int32_t n = parse_beef_block_list(rec, p + L::root_folder::blocks,
                                      avail - L::root_folder::blocks, ctx, opts);
    if (n > 0) {
      ctx.offset = after + n;
      ctx.consumed = saved + n;
    }
  }
  return true;
}

bool parse_volume_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                       const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace V = L::volume;
  if (!p || avail <= 0 || !is_volume_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed += L::item::header_size;
  const int64_t size = le16(view(p, avail), L::item::size);
  const byte_view v = view(p, size);
  if (le8(v, V::drive_colon) == '\\')
    read_ansi(ctx.guard, v, V::text, V::text + V::drive_text_size, rec.long_name);
  else
    read_ansi(ctx.guard, v, V::text, size, rec.long_name);
  if (le8(v, L::item::type) == L::type::guid_volume) {
    if (size == V::guid_form_size)
      add_guid_at(rec, v, V::guid);
    else if (size > V::guid_form_size)
      parse_beef_block_list(rec, p + V::guid, size - V::guid, ctx, opts);
  }
  return !rec.long_name.empty();
}

bool parse_file_entry_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                           const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_file_entry_item(p, avail)) return false;
  return parse_sized_file_entry(item, ctx, rec, p, le16(view(p, avail), L::item::size), opts);
}

// The offset a file entry ends with names its first extension block.
constexpr const char* k_no_block_at_offset =
    "the offset of its first 0xBEEF block points at none; its blocks not read";

bool parse_sized_file_entry(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                            const uint8_t* p, int64_t size, const cmd_params& opts) {
  namespace F = L::file_entry;
  const byte_view v = view(p, size);
  rec.size = le32(v, F::file_size);
  if (const uint16_t date = le16(v, F::dos_date)) {
    rec.modified = dos_time_slot(date, le16(v, F::dos_time));
    if (is_raw_dos_time(rec.modified)) note_inner_damage(ctx.space(), k_raw_dos_cause);
  }
  const uint16_t attributes = le16(v, F::attributes);
  rec.is_directory = (attributes & F::directory_bit) ? 1 : (rec.size == 0 ? 1 : 0);
  reset_consumed(item, ctx);
  if (attributes == 0 && le8(v, F::name) == 0) {
    // Second form: a counted UTF-16 text at 92 and 48 bytes of text at 36.
    if (size < F::second_min_size || size - static_cast<int64_t>(F::second_text) <
                                         2 * static_cast<int64_t>(le32(v, F::second_count))) {
      rec.not_parsed = 1;
      return false;
    }
    std::string s;
    read_utf16(ctx.guard, v, F::second_text, size, s);
    rec.names.push_back(std::move(s));
    read_utf16(ctx.guard, v, F::second_name, F::second_name + F::second_name_size, s);
    rec.names.push_back(std::move(s));
    return !rec.long_name.empty() || !rec.primary_name.empty();
  }
  int64_t e = le16(v, static_cast<size_t>(size - 2));  // the first block's offset ends the item
  const bool offset_past_item = e >= size;
  if (e == 0 || offset_past_item) e = 0;
  // A file entry's first block follows its name; an item of no blocks may
  // end in name bytes, so a block is looked for only where the bytes show
  // one: a 0xBEEF header behind an 8-bit name, or an extension's header
  // (its size and identifier 4) at the offset. Looked at only when no block
  // was read.
  int64_t name_end = -1;  // an 8-bit name's end
  const auto block_after_name = [&] {
    if (name_end < 0) return false;
    const size_t block_at = static_cast<size_t>(name_end + name_end % 2);
    return static_cast<int64_t>(block_at) + 8 <= size - 2 &&
           le16(v, block_at + L::beef::signature_at) == L::beef::signature;
  };
  const uint8_t type = le8(v, L::item::type);
  if (type >= L::type::file_entry_unicode_first && type <= L::type::file_entry_unicode_last) {
    read_utf16(ctx.guard, v, F::name, e ? e : size - 2, rec.primary_name);
  } else {
    // The 8-bit name is also the first of the names: held once, in the
    // primary name, while no name is there before it.
    if (rec.primary_leads_names) spell_out_names(rec);
    name_end = F::name + read_ansi(ctx.guard, v, F::name, size, rec.primary_name);
    if (!rec.primary_name.empty()) {
      if (rec.names.empty()) {
        rec.primary_leads_names = 1;
      } else {
        rec.names.push_back(rec.primary_name);
      }
    }
  }
  if (e) {
    ctx.offset += e;
    uint64_t after = ctx.offset;
    uint32_t saved = ctx.consumed;
    int32_t n = parse_beef_block_list(rec, p + e, size - e, ctx, opts);
    if (n > 0) {
      ctx.offset = after + n;
      ctx.consumed = saved + n;
    } else if (block_after_name() || (e + 8 <= size && le16(v, static_cast<size_t>(e)) >= 8 &&
                                      le16(v, static_cast<size_t>(e)) <= size - e &&
                                      le16(v, static_cast<size_t>(e) + L::beef::id) == 4)) {
      note_inner_damage(ctx.space(), k_no_block_at_offset);
    }
  } else if (block_after_name()) {
    note_inner_damage(ctx.space(), offset_past_item ? k_no_block_at_offset
                                                    : "the offset of its first 0xBEEF block is 0, "
                                                      "yet a block follows its name; its blocks "
                                                      "not read");
  }
  return !rec.long_name.empty() || !rec.primary_name.empty();
}

bool control_panel_category_name(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                                 const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace C = L::control_panel_category;
  if (!p || avail <= 0 || !is_control_panel_category_item(p, avail)) return false;
  const byte_view v = view(p, avail);
  reset_consumed(item, ctx);
  rec.long_name += control_panel_category_text(le32(v, C::category));
  ctx.consumed += C::blocks;
  if (le16(v, L::item::size) > C::blocks) {
    ctx.offset += C::blocks;
    const int64_t run = le16(v, C::blocks);
    if (avail >= 14 && run <= avail - static_cast<int64_t>(C::blocks))
      scan_extension_blocks(ctx, rec, p + C::blocks, run, opts);
  }
  return true;
}

bool parse_type_01_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace S = L::small_item;
  if (!p || avail <= 0 || !is_type_01_item(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = le16(view(p, avail), L::item::size);
  const byte_view v = view(p, size);
  bool found = false;
  const bool named = le16(v, S::name) != 0;
  if (named && read_utf16(ctx.guard, v, S::name, size, rec.long_name) && !rec.long_name.empty()) {
    rec.flags |= itemflag_named;
    found = true;
  }
  if (size <= S::min_size) return found;
  std::string second;
  int64_t n = read_utf16(ctx.guard, v, S::second_text, size, named ? second : rec.long_name);
  if (named) {
    if (!second.empty()) found = true;
    merge_name(rec, rec.long_name, std::move(second));
  } else if (!rec.long_name.empty()) {
    found = true;
  }
  int64_t at = S::second_text + n, left = size - at;
  if (left > 16) {
    const int64_t run = le16(v, static_cast<size_t>(at));
    if (run <= left && scan_extension_blocks(ctx, rec, p + at, run, opts)) found = true;
  }
  return found;
}

bool parse_type_02_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace S = L::small_item;
  if (!p || avail <= 0 || !is_type_02_item(p, avail)) return false;
  reset_consumed(item, ctx);
  ctx.consumed += L::item::header_size;
  const int64_t size = le16(view(p, avail), L::item::size);
  const byte_view v = view(p, size);
  bool found = false;
  std::string name;
  if (le16(v, S::name) && read_utf16(ctx.guard, v, S::name, size, name) && !name.empty()) {
    rec.flags |= itemflag_named;
    found = true;
  }
  if (size >= 30) merge_time(rec.created, le64(v, S::created));
  if (size >= 38) merge_time(rec.modified, le64(v, S::modified));
  if (size >= 46) merge_time(rec.accessed, le64(v, S::accessed));
  merge_name(rec, rec.long_name, std::move(name));
  if (size > S::min_size) {
    std::string second;
    int64_t n = read_utf16(ctx.guard, v, S::second_text, size, second);
    if (!second.empty()) found = true;
    merge_name(rec, rec.long_name, std::move(second));
    int64_t at = S::second_text + n, left = size - at;
    if (left > 16) {
      const int64_t run = le16(v, static_cast<size_t>(at));
      if (run < left) scan_extension_blocks(ctx, rec, p + at, run, opts);
    }
  }
  return found;
}

namespace {
// Consecutive 8-bit texts from 5 to the item's end; handle gets each.
template <class F>
bool each_ansi_text(parse_guard* guard, const uint8_t* p, int64_t avail, F handle) {
  const int64_t size = le16(view(p, avail), L::item::size);
  const byte_view v = view(p, size);
  bool found = false;
  std::string s;
  for (int64_t pos = L::small_item::names_at; size - pos > 2;) {
    int64_t n = read_ansi(guard, v, pos, size, s);
    if (s.empty()) break;
    handle(s);
    found = true;
    pos += n;
  }
  return found;
}
}  // namespace

bool parse_type_20_item(const uint8_t*, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                        int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_network_type_item(p, avail)) return false;
  return each_ansi_text(ctx.guard, p, avail,
                        [&](std::string& s) { rec.names.push_back(std::move(s)); });
}

bool parse_type_52_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace T = L::type_52;
  if (!p || avail <= 0 || !is_type_52_body(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = le16(view(p, avail), L::item::size);
  const int64_t chars = le32(view(p, avail), T::count);
  const byte_view v = view(p, size);
  int64_t n = read_utf16(ctx.guard, v, T::name, T::name + 2 * chars, rec.long_name);
  ctx.consumed += L::item::header_size;
  int64_t at = T::after_count + n, left = size - at;
  if (left > 16) {
    const int64_t run = le16(v, static_cast<size_t>(at));
    if (run <= left) scan_extension_blocks(ctx, rec, p + at, run, opts);
  }
  return n != 0;
}

bool parse_control_panel_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                              const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace C = L::control_panel;
  if (!p || avail <= 0 || !is_type_71_item(p, avail)) return false;
  const byte_view v = view(p, avail);
  const uint64_t remembered = ctx.offset;
  reset_consumed(item, ctx);
  const int64_t size = le16(v, L::item::size);
  if (size >= C::guid_form_min_size && le16(v, C::header) == 0) {
    add_guid_at(rec, v, C::guid);
    ctx.consumed += L::item::header_size;
    if (size > static_cast<int64_t>(C::blocks)) {
      ctx.offset = remembered + C::blocks;
      int64_t pos = C::blocks;
      int32_t n = parse_beef_block(rec, p + C::blocks, avail - C::blocks, ctx, opts);
      if (n > 0) {
        ctx.offset += n;
        pos += n;
      }
      if (pos < avail) scan_extension_blocks(ctx, rec, p + pos, avail - pos, opts);
    }
    return true;
  }
  const int64_t k = le16(v, C::header) + 6;
  ctx.offset = remembered + k;
  if (k < avail) add_item_guid_pair(ctx, rec, p + k, avail - k);
  bool found = !rec.properties.empty() || !rec.guid_names.empty();
  ctx.offset = remembered;
  if (size <= avail) scan_extension_blocks(ctx, rec, p, size, opts);
  return found;
}

bool parse_network_item(const uint8_t*, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                        int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_network_item(p, avail)) return false;
  const bool found = each_ansi_text(ctx.guard, p, avail, [&](std::string& s) {
    if (s.compare(0, 2, "\\\\") == 0) {
      rec.names.push_back(std::move(s));
      return;
    }
    // The last non-empty part of a path, then the whole path.
    std::string_view whole(s), last, first;
    size_t parts = 0, from = 0;
    for (size_t cut; from <= whole.size(); from = cut + 1) {
      cut = whole.find('\\', from);
      if (cut == std::string_view::npos) cut = whole.size();
      if (cut > from) {
        if (parts++ == 0) first = whole.substr(from, cut - from);
        last = whole.substr(from, cut - from);
      }
    }
    if (parts <= 1) {
      rec.names.push_back(parts == 0 ? s : std::string(first));
    } else {
      rec.names.emplace_back(last);
      rec.names.push_back(std::move(s));
    }
  });
  if (found && debug_output_enabled(ctx)) ctx.consumed += L::item::header_size;
  return found;
}

bool parse_uri_item_short(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                          const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_61_67_item(p, avail)) return false;
  const byte_view v = view(p, avail);
  reset_consumed(item, ctx);
  const int64_t size = le16(v, L::item::size);
  int64_t n = read_utf16(ctx.guard, v, L::uri::short_text, avail, rec.long_name);
  ctx.consumed += L::item::header_size;
  const int64_t area = L::uri::short_text + n, left = avail - area;
  if (left > 16) {
    const int64_t run = le16(v, static_cast<size_t>(area));
    if (run <= left && !scan_extension_blocks(ctx, rec, p + area, run, opts)) {
      const int64_t e = le16(v, static_cast<size_t>(size - 2));
      if (e > 0 && e + 8 <= size && le16(v, static_cast<size_t>(e)) <= avail - e)
        parse_beef_block(rec, p + e, size - e, ctx, opts);
    }
  }
  return n != 0;
}

bool parse_uri_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                    int64_t avail, const cmd_params&) {
  if (!p || avail <= 0 || !is_type_61_item(p, avail)) return false;
  const byte_view v = view(p, avail);
  reset_consumed(item, ctx);
  ctx.consumed += L::item::header_size;
  if (const uint64_t ft = le64(v, L::uri::filetime)) rec.created = ft;
  // Counts and sums in 64 bits: a hostile count cannot wrap past the checks.
  const int64_t first_at = L::uri::first_text;
  const int64_t c1 = le32(v, L::uri::first_count);
  if (first_at + c1 > avail) return false;
  std::string first, second, third;
  if (c1 && avail > c1 + 3) first = counted_text(ctx.guard, v, first_at, first_at + c1);
  const int64_t c2_at = first_at + c1;
  if (c2_at + 4 > avail) return false;
  const int64_t c2 = le32(v, static_cast<size_t>(c2_at));
  if (c2 && avail > c2 + c2_at + 4) second = counted_text(ctx.guard, v, c2_at + 4, c2_at + 4 + c2);
  const int64_t c3_at = c2_at + 4 + c2;
  if (c3_at + 4 > avail) return false;
  const int64_t c3 = le32(v, static_cast<size_t>(c3_at));
  if (c3 && avail > c3 + c3_at + 4)
    third = counted_text(ctx.guard, v, c3_at + 4, std::min(avail, c3_at + 4 + c3));
  std::string composed;
  composed.reserve(third.size() + second.size() + first.size() + 4);
  if (!third.empty()) composed.append(third).append("://");
  if (!second.empty()) composed += second;
  if (!first.empty()) {
    if (!second.empty() && !composed.empty()) composed += "@";
    composed += first;
  }
  rec.long_name = std::move(composed);
  return !rec.long_name.empty();
}

bool parse_delegate_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                         const uint8_t* p, int64_t avail, const cmd_params& opts) {
  namespace D = L::delegate;
  if (!p || avail <= 0 || !is_type_73_77_item(p, avail) ||
      le8(view(p, avail), L::item::type) == L::type::delegate_excluded)
    return false;
  reset_consumed(item, ctx);
  const byte_view v = view(p, avail);
  const int64_t size = le16(v, L::item::size), d = le16(v, D::data_size);
  if (d < size - 3) {
    if (size > avail) return false;
    bool result = scan_extension_blocks(ctx, rec, p, size, opts);
    const int64_t h = variable_header_length(p, size);
    if (h + 16 > size) return result;
    add_guid_at(rec, v, static_cast<size_t>(h));
    if (h + 32 <= size) add_guid_at(rec, v, static_cast<size_t>(h + 16));
    return true;
  }
  add_guid_at(rec, v, L::item::guid);
  if (parse_beef_block_list(rec, p + D::blocks, size - D::blocks, ctx, opts) == 0 &&
      size >= D::second_guid_min)
    add_guid_at(rec, v, D::blocks);
  return true;
}

// Items whose one text is a UTF-16 name from a fixed offset to the item's end.
static bool parse_tail_name_item(bool (*test)(const uint8_t*, int64_t), int64_t name_at,
                                 const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                                 const uint8_t* p, int64_t avail) {
  if (!p || avail <= 0 || !test(p, avail)) return false;
  reset_consumed(item, ctx);
  const int64_t size = le16(view(p, avail), L::item::size);
  return read_utf16(ctx.guard, view(p, size), name_at, size, rec.long_name) != 0;
}

bool parse_type_64_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params&) {
  return parse_tail_name_item(is_type_64_item, L::type_64::name, item, ctx, rec, p, avail);
}

bool parse_94_byte_structure(const uint8_t*, parse_ctx& ctx, shell_item_record& rec,
                             const uint8_t* p, int64_t avail, const cmd_params&) {
  namespace S = L::s94;
  if (!p || avail <= 0 || !is_94_byte_structure(p, avail)) return false;
  const int64_t size = le16(view(p, avail), L::item::size);
  const byte_view v = view(p, size);
  const int64_t c1 = le16(v, S::count1), c2 = le16(v, S::count2);
  std::string extra, name, text;
  if (le8(v, S::extra_name)) read_utf16(ctx.guard, v, S::extra_name, size, extra);
  if (le16(v, S::text)) read_utf16(ctx.guard, v, S::text, S::text + 2 * c1, name);
  int64_t q = S::text + 2 * c1;
  while (q < size && le8(v, static_cast<size_t>(q)) == 0) ++q;
  if (q < size && c2) read_utf16(ctx.guard, v, q, std::min(size, q + 2 * c2), text);
  add_item_name(rec, std::move(text));
  merge_name(rec, rec.long_name, std::move(name));
  merge_name(rec, rec.extra_name, std::move(extra));
  return true;
}

bool parse_type_2c_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params&) {
  return parse_tail_name_item(is_type_2c_item, L::type_2c::name, item, ctx, rec, p, avail);
}

bool parse_type_1e_item(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec,
                        const uint8_t* p, int64_t avail, const cmd_params& opts) {
  if (!p || avail <= 0 || !is_type_1e_item(p, avail)) return false;
  const byte_view v = view(p, avail);
  reset_consumed(item, ctx);
  add_guid_at(rec, v, L::item::guid);
  if (is_root_marker(v, L::item::guid)) rec.flags |= itemflag_named;
  ctx.offset += L::item::guid_item_size;
  shell_item_list nested;
  if (parse_idlist(nested, p + L::item::guid_item_size,
                   le16(v, L::item::size) - static_cast<int64_t>(L::item::guid_item_size), false,
                   false, ctx, opts))
    append_moved(rec.children, std::move(nested));
  return true;
}

}  // namespace vk
