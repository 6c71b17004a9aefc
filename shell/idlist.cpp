// The ID-list walk and the item dispatcher. The walk cuts a list into items
// by their u16 sizes; the dispatcher picks an item's parser by its type byte
// and, when none accepts it, runs the fallbacks that still find names,
// GUIDs and properties in its bytes.
#include "shell/idlist.h"

#include <algorithm>
#include <array>
#include <utility>

#include "shell/guid_names.h"
#include "shell/item_layout.h"
#include "shell/property_store.h"

namespace vk {

namespace {

namespace L = item_layout;
using L::le16;

// The string properties found in the bytes join those already in out (the
// scan itself starts from an empty collection).
void add_string_properties(property_value_map& out, const uint8_t* p, int64_t size,
                           const guid* filter, parse_ctx& ctx) {
  property_value_map found;
  if (!scan_string_properties(p, size, found, filter, ctx)) return;
  for (auto& entry : found) out.insert(out.end(), std::move(entry));
}

// Type 0x00 items: embedded structures, else string properties.
void embedded_block_pass(shell_item_record& rec, const uint8_t* item, int64_t size, bool keep_raw,
                         parse_ctx& ctx, const cmd_params& opts) {
  if (size <= 24 || size >= 0x8000) return;
  if (keep_raw) {
    rec.raw.insert(rec.raw.end(), item, item + size);
    rec.item_offset = ctx.offset;
  }
  spare_item_record spare(ctx.space());
  shell_item_record& t = spare.get();
  scan_extension_blocks(ctx, t, item, size, opts);
  if (t.guid_names.empty() && t.long_name.empty() && t.properties.empty() && t.children.empty()) {
    merge_shell_item(rec, std::move(t));
    hexdump_limited(ctx, item, static_cast<uint32_t>(size), ctx.offset);
    add_string_properties(rec.found_properties, item, size, nullptr, ctx);
    return;
  }
  t.not_parsed = 0;
  if (t.properties.empty()) {
    add_string_properties(t.found_properties, item, size, nullptr, ctx);
  } else {
    for (const auto& [key, value] : t.properties)
      if (value.table_bit3 && !value.bytes.empty())
        add_string_properties(t.found_properties,
                              reinterpret_cast<const uint8_t*>(value.bytes.data()),
                              static_cast<int64_t>(value.bytes.size()), &value.key.fmtid, ctx);
  }
  merge_shell_item(rec, std::move(t));
}

// The records made ahead of the items read, at most, where items may need
// none: a record costs far more than a tiny item's bytes.
constexpr size_t k_room_ahead_most = 64;
// Records a walk that hands them on in runs fills before it does; within
// the first room made, so that such a walk never makes more.
constexpr size_t k_records_a_run = 32;
static_assert(k_records_a_run <= k_room_ahead_most);

// How many items the walk may find: the items cut by their sizes, so that
// the output is sized once; never more than one per 5 bytes of the list.
size_t item_count_hint(byte_view v) {
  size_t count = 0;
  for (size_t at = 0; v.has(at, 4);) {
    const uint16_t n = le16(v, at);
    if (n < 5 || !v.has(at, n)) break;
    ++count;
    at += n;
  }
  return count;
}

// The item parsers by class-type byte. A route's parsers are tried in
// order until one accepts the item; its result is the step it reports (the
// item's size unless fixed). Type 0x00 and the short root-folder form are
// decided in the dispatcher itself.
bool scan_root_folder(const uint8_t*, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                      int64_t n, const cmd_params& opts) {
  return scan_root_folder_item(ctx, rec, p, n, opts);
}
bool type_2e(const uint8_t*, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
             const cmd_params& opts) {
  return parse_type_2e_item(ctx, rec, p, n, opts);
}
bool uri_long(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
              int64_t n, const cmd_params& opts) {
  if (!parse_uri_item(item, ctx, rec, p, n, opts)) return false;
  reset_consumed(item, ctx);
  return true;
}

// The dispatcher has checked the type byte and that the size lies inside.
bool file_entry(const uint8_t* item, parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                int64_t n, const cmd_params& opts) {
  return n >= 15 && parse_sized_file_entry(item, ctx, rec, p, n, opts);
}

struct route_step {
  item_parser parse;
  int32_t result;  // < 0: the item's size
};
struct item_route {
  uint8_t first, last;  // a range of type bytes
  route_step steps[2];
};
constexpr item_route k_routes[] = {
    {0x01, 0x01, {{control_panel_category_name, 12}, {parse_type_01_item, -1}}},
    {0x02, 0x02, {{parse_type_02_item, 8}, {}}},
    {0x1E, 0x1E, {{parse_type_1e_item, -1}, {}}},
    {0x1F, 0x1F, {{parse_root_folder_item, -1}, {scan_root_folder, -1}}},
    {0x20, 0x20, {{parse_type_20_item, -1}, {}}},
    {0x23, 0x23, {{parse_volume_item, 7}, {}}},
    {0x25, 0x25, {{parse_volume_item, 7}, {}}},
    {0x29, 0x29, {{parse_volume_item, 7}, {}}},
    {0x2F, 0x2F, {{parse_volume_item, 7}, {}}},
    {0x2E, 0x2E, {{type_2e, -1}, {}}},
    {0x30, 0x32, {{file_entry, -1}, {}}},
    {0x34, 0x36, {{file_entry, -1}, {}}},
    {0x38, 0x3A, {{file_entry, -1}, {}}},
    {0x3D, 0x3E, {{file_entry, -1}, {}}},
    {0xB1, 0xB1, {{file_entry, -1}, {}}},
    {0x40, 0x42, {{parse_root_folder_item, -1}, {parse_network_item, -1}}},
    {0x44, 0x4B, {{parse_root_folder_item, -1}, {parse_network_item, -1}}},
    {0x4D, 0x4F, {{parse_root_folder_item, -1}, {parse_network_item, -1}}},
    {0xC3, 0xC3, {{parse_root_folder_item, -1}, {parse_network_item, -1}}},
    {0x43, 0x43, {{parse_type_64_item, -1}, {}}},
    {0x64, 0x64, {{parse_type_64_item, -1}, {}}},
    {0x52, 0x52, {{parse_type_52_item, -1}, {}}},
    {0x61, 0x61, {{parse_uri_item_short, -1}, {uri_long, -1}}},
    {0x67, 0x67, {{parse_uri_item_short, -1}, {uri_long, -1}}},
    {0x71, 0x71, {{parse_control_panel_item, 14}, {}}},
    {0x73, 0x74, {{parse_delegate_item, -1}, {}}},
    {0x77, 0x77, {{parse_delegate_item, -1}, {}}},
};

// Route index + 1 of every type byte (0: no parser).
constexpr std::array<uint8_t, 256> k_route_of = [] {
  std::array<uint8_t, 256> out{};
  for (size_t i = 0; i < std::size(k_routes); ++i)
    for (unsigned t = k_routes[i].first; t <= k_routes[i].last; ++t)
      out[t] = static_cast<uint8_t>(i + 1);
  return out;
}();

const item_route* route_of(uint8_t type) {
  const uint8_t i = k_route_of[type];
  return i ? &k_routes[i - 1] : nullptr;
}

// Whether a parsed record holds nothing a list's path or details are made
// of: no text, list, time or file reference.
bool shows_no_text(const shell_item_record& r) {
  const bool lists_empty = (r.properties.size() | r.found_properties.size() | r.children.size() |
                            r.embedded_lists.size() | r.names.size() | r.guids.size() |
                            r.guid_names.size() | r.date_texts.size()) == 0;
  const bool texts_empty = (r.primary_name.size() | r.long_name.size() | r.localized_name.size() |
                            r.extra_name.size()) == 0;
  return lists_empty && texts_empty && (r.accessed | r.modified | r.created | r.mft_entry) == 0;
}

// parse_shell_item on a record already in its cleared state.
uint32_t parse_cleared_item(shell_item_record& rec, const uint8_t* item, int64_t available,
                            bool keep_raw, bool skip_marker_items, uint64_t initial_flags,
                            parse_ctx& ctx, const cmd_params& opts, int64_t* step_out);

}  // namespace

bool parse_idlist(shell_item_list& out, const uint8_t* p, int64_t size, bool keep_raw,
                  bool skip_marker_items, parse_ctx& ctx, const cmd_params& opts,
                  parse_fault* fault) {
  // Where the walk stops is said in the context's sink (or the caller's fault).
  fault = take_stop(ctx, fault);
  const bool text_records_only = std::exchange(ctx.text_records_only, false);
  item_run_sink* const runs = std::exchange(ctx.item_runs, nullptr);
  // The records already in out are parsed into again (cleared, keeping
  // their storage); those left over go at the end.
  size_t used = 0;
  shell_scratch& space = ctx.space();
  struct trim {
    shell_item_list& list;
    size_t& used;
    shell_scratch& scratch;
    ~trim() { keep_surplus_items(list, used, scratch); }
  } trim_at_end{out, used, space};
  if (!p || size < 3) return false;
  guard_level level(ctx, size);
  if (!level) {
    if (fault && guard_spent(ctx)) *fault = parse_fault{"shell item", 0, k_fault_work_limit};
    return false;
  }
  const byte_view v = L::view_of(p, size);
  // A spare list nearer the item count saves moving records in or out.
  exchange_spare_list(out, item_count_hint(v), space);
  size_t have = out.size();  // records in out, used ones and those to reuse
  // Each record's flags start from those of the item before it.
  uint64_t flags = 0;
  uint64_t pos = ctx.offset;
  int64_t at = 0, rem = size;
  // Items follow one another up to the terminator, the list's last two
  // bytes. The first place where they do not is kept: a walk stopped there,
  // or one framed by a size that is wrong (a zero before the end, zeros or a
  // byte left over after the last item, no terminator), read on.
  parse_fault found;
  bool terminated = false, any_taken = false;
  size_t taken_count = 0;
  const auto misframed = [&found](int64_t where, const char* cause) {
    if (!found) found = parse_fault{"shell item", static_cast<uint64_t>(where), cause};
  };
  // Every u16 below is read at `at` with rem >= 2 bytes left: at + 2 <= size.
  // Two or three bytes left still hold a size: one that is not zero is an
  // item that cannot be there.
  while (rem >= 2) {
    if (guard_spent(ctx)) {
      misframed(at, k_fault_work_limit);
      break;
    }
    const int64_t n = v.u16_or_zero(static_cast<size_t>(at));
    if (n < 5 || n > rem) {
      // A size of zero ends the list; any other stops the walk short of it.
      if (n == 0) {
        terminated = true;
        if (rem > 2) misframed(at, "item size zero before the list's end");
      } else {
        misframed(at, rem == 2  ? "no terminator at the list's end"
                      : n > rem ? "item size runs past the ID list"
                                : "item size below 5 bytes");
      }
      break;
    }
    int64_t step = n;
    if (n < 0xF000) {
      ctx.offset = pos;
      // Parsed in its place in the list; a record not accepted is used again.
      if (used == have) {
        // Out of records to reuse and of room: room for the items left, or
        // (when the count stops short, as at padding) at least twice as
        // much, so that growing stays geometric.
        if (have == out.capacity()) {
          // A list that keeps records only for items with texts may hold
          // many items that need none: room for all is made only once the
          // items so far all kept theirs.
          const size_t hint = item_count_hint(v.tail(static_cast<size_t>(at)));
          const bool few = text_records_only && (have == 0 || used < taken_count);
          out.reserve(have + std::max(few ? std::min(hint, k_room_ahead_most) : hint, have));
        }
        add_spare_item(out, space);
        ++have;
      } else {
        // Its property nodes and child records serve the values and items
        // filed next.
        clear_item_for_reuse(out[used], space);
      }
      shell_item_record& rec = out[used];
      const uint32_t damage_before = ctx.space().inner_damage;
      ctx.space().inner_cause = nullptr;
      const bool taken = parse_cleared_item(rec, p + at, rem, keep_raw, skip_marker_items, flags,
                                            ctx, opts, &step) != 0;
      if (ctx.space().inner_damage != damage_before) {
        const char* named = std::exchange(ctx.space().inner_cause, nullptr);
        misframed(at, named
                          ? named
                          : "a property storage or ID list inside it is damaged; not read in full");
      }
      flags = rec.flags;
      if (taken) {
        any_taken = true;
        ++taken_count;
        if (!text_records_only || !shows_no_text(rec)) ++used;
      }
      // Nothing read it, or (a type byte no parser knows) only the
      // fallbacks' search did; a sound list's items are all read, but for
      // the type 0x00 items a carved link passes by. One the guard stopped
      // is said as such.
      if (rec.not_parsed) {
        const bool unread = rec.not_parsed == 1 && rec.properties.empty() &&
                            !(skip_marker_items && rec.item_type == L::type::embedded);
        if ((unread || rec.not_parsed == k_read_by_search) && !guard_spent(ctx))
          misframed(at, unread ? "item of no known form; not read"
                               : "item of an unknown type; read by search only");
      }
      if (runs && used == k_records_a_run) {
        runs->take(out.data(), used);
        used = 0;
      }
      rem -= step;
      if (rem < 0) {
        misframed(at, "item size runs past the ID list");
        break;
      }
      at += step;
      pos += step;
      if (rem >= 2 && v.u16_or_zero(static_cast<size_t>(at)) == 0) {
        // Zeros end a list; items after them mean an item before was cut
        // short by its size.
        const int64_t zeros = at;
        do {
          rem -= 2;
          at += 2;
          pos += 2;
        } while (rem >= 2 && v.u16_or_zero(static_cast<size_t>(at)) == 0);
        if (rem >= 2) {
          misframed(zeros, "item size zero before the list's end");
        } else {
          terminated = true;
          if (at - zeros > 2) misframed(zeros, "zeros between the last item and the terminator");
        }
      }
    } else if (n == 0xF1F1 && !skip_marker_items) {
      at += 4;
      pos += 4;
      ctx.offset = pos;
      rem -= 4;
    } else {
      // Stepped over unread: an item this large (a long name of 30,000
      // characters) would be lost unsaid.
      if (n != 0xF1F1) misframed(at, "item of 0xF000 bytes or more; not read");
      rem -= n;
      at += n;
      pos += n;
    }
    if (rem < 1) break;
  }
  if (rem == 1) misframed(at, "one byte left after the last item");
  if (rem == 0 && !terminated) misframed(at, "no terminator at the list's end");
  if (fault && found) *fault = found;
  return any_taken;
}

uint32_t parse_shell_item(shell_item_record& rec, const uint8_t* item, int64_t available,
                          bool keep_raw, bool skip_marker_items, uint64_t initial_flags,
                          parse_ctx& ctx, const cmd_params& opts, int64_t* step_out) {
  rec.clear();
  return parse_cleared_item(rec, item, available, keep_raw, skip_marker_items, initial_flags, ctx,
                            opts, step_out);
}

namespace {
// The fallbacks for an item no parser accepted; they see only its own
// bytes. The item's size.
uint32_t read_by_fallbacks(shell_item_record& rec, const uint8_t* item, int64_t size,
                           uint64_t initial_flags, parse_ctx& ctx, const cmd_params& opts) {
  if (parse_94_byte_structure(item, ctx, rec, item, size, opts) ||
      parse_type_2c_item(item, ctx, rec, item, size, opts) ||
      scan_extension_blocks(ctx, rec, item, size, opts)) {
    rec.not_parsed = 0;
    return static_cast<uint32_t>(size);
  }
  if (!rec.properties.empty()) return static_cast<uint32_t>(size);
  // An item found by the search does not search again. The search stays in
  // the item's own bytes: a block further on belongs to a following item,
  // which the walk reports in its own place.
  if ((initial_flags & itemflag_found_by_search) != itemflag_found_by_search &&
      find_embedded_item(ctx, rec, item, size, opts))
    return static_cast<uint32_t>(size);
  if (!rec.properties.empty()) return static_cast<uint32_t>(size);
  add_string_properties(rec.properties, item, size, nullptr, ctx);
  return static_cast<uint32_t>(size);
}

uint32_t parse_cleared_item(shell_item_record& rec, const uint8_t* item, int64_t available,
                            bool keep_raw, bool skip_marker_items, uint64_t initial_flags,
                            parse_ctx& ctx, const cmd_params& opts, int64_t* step_out) {
  rec.flags = initial_flags;
  if (!item || available < 3) return 0;
  guard_level level(ctx, available);
  if (!level) return 0;
  rec.not_parsed = 0;
  const byte_view iv = L::view_of(item, available);
  const uint8_t type = L::le8(iv, L::item::type);
  rec.item_type = type;
  const int64_t declared = le16(iv, L::item::size);
  // The item's own size, trusted only inside the bytes there are.
  const bool sized = declared >= 3 && declared <= available;
  const int64_t size =
      sized ? declared : std::min<int64_t>(std::max<int64_t>(declared, 3), available);
  if (step_out) *step_out = declared;
  uint32_t result = static_cast<uint32_t>(size);
  // The test needs the structure's fixed size; most items are smaller.
  if (sized && size >= L::s94::min_size && is_94_byte_structure(item, size))
    rec.flags |= itemflag_94_byte;

  bool ok = false;
  if (sized && type == L::type::embedded) {
    if (!skip_marker_items) {
      embedded_block_pass(rec, item, size, keep_raw, ctx, opts);
      ok = true;
    }
  } else if (sized) {
    if (const item_route* route = route_of(type)) {
      for (const route_step& step : route->steps) {
        if (!step.parse) break;
        if (step.parse(item, ctx, rec, item, size, opts)) {
          ok = true;
          if (step.result >= 0) result = static_cast<uint32_t>(step.result);
          break;
        }
      }
    }
    if (!ok && type == L::type::root_folder && size <= 19 && available > 30) {
      // The short form: a known CLSID at 4 makes a 20-byte item.
      guid g;
      g.set(item + L::item::guid);  // available > 30: the GUID lies inside
      if (!clsid_known_name(g).empty()) {
        add_item_guid(rec, g);
        ok = true;
        result = L::root_folder::short_size;
        if (step_out) *step_out = L::root_folder::short_size;
      }
    }
  }
  if (!ok) rec.not_parsed = 1;
  if (keep_raw) rec.raw.insert(rec.raw.end(), item, item + available);
  if (rec.not_parsed == 0) return result;
  // Types 0x00 (among carved links) and 0x2C are read by the fallbacks by
  // design; so are forms of known types their parsers refuse (delegate
  // items holding a CFSF record). Any other type byte no parser knows is
  // marked when the fallbacks find something in it.
  constexpr uint8_t k_type_2c = 0x2C;
  const uint32_t taken = read_by_fallbacks(rec, item, size, initial_flags, ctx, opts);
  if (!route_of(type) && type != L::type::embedded && type != k_type_2c &&
      (rec.not_parsed == 0 || !rec.properties.empty()))
    rec.not_parsed = k_read_by_search;
  return taken;
}
}  // namespace

bool find_embedded_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                        const cmd_params& opts) {
  if (!p || available < 8) return false;
  const uint8_t sig[2] = {0xEF, 0xBE};
  const uint8_t* hit = std::search(p, p + available, sig, sig + 2);
  if (hit == p + available) return false;
  const int64_t k = hit - p;
  if (k < 16) return false;
  const int64_t s = k - 6;
  const byte_view v = L::view_of(p, available);
  const int64_t block_end = s + le16(v, static_cast<size_t>(s));
  if (block_end > available) return false;
  if (block_end < s + 8) {
    // A 0xBEEF block's size below its header (made zero) hides the item
    // behind it: damage, for the item to say.
    ++ctx.space().inner_damage;
    return false;
  }
  const int64_t back = le16(v, static_cast<size_t>(block_end - 2));
  if (back > s) return false;
  const int64_t i = s - back;
  if (i <= 0) return false;  // its own item again would never end
  shell_item_record found;
  const uint64_t saved = ctx.offset;
  ctx.offset += i;
  if (!parse_shell_item(found, p + i, available - i, false, true, itemflag_found_by_search, ctx,
                        opts)) {
    ctx.offset = saved;
    return false;
  }
  rec = std::move(found);
  return true;
}

}  // namespace vk
