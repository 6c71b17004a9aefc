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
#include "shell/item_layout.h"
#include "shell/property_store.h"
#include "shell/propstore_layout.h"

namespace vk {

namespace {

namespace L = item_layout;
namespace E = item_layout::embedded;
using L::le16;
using L::le32;
using L::le64;
using L::le8;

byte_view view(const uint8_t* p, int64_t n) {
  return L::view_of(p, n);
}
size_t at(int64_t off) {
  return static_cast<size_t>(off);
}

bool is_three_string(const E::three_string_form& f, const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, f.min_size, E::max_structure);
  if (!size) return false;
  const byte_view v = view(p, *size);
  int64_t inner = *size;
  if (f.inner_at >= 0) {
    inner = le16(v, at(f.inner_at));
    if (inner > *size || inner > available) return false;
  }
  if (le32(v, at(f.signature_at)) != f.signature) return false;
  if (le32(v, at(f.list_length_at)) > inner) return false;
  const int64_t c1 = le32(v, at(f.counts_at)), c2 = le32(v, at(f.counts_at + 4)),
                c3 = le32(v, at(f.counts_at + 8));
  return 2 * (c1 + c2 + c3) + E::three_string_fixed <= available;
}

bool parse_three_string(const E::three_string_form& f, uint64_t flag, parse_ctx& ctx,
                        shell_item_record& rec, const uint8_t* p, int64_t available,
                        const cmd_params& opts) {
  if (!p || available <= 0 || !is_three_string(f, p, available)) return false;
  const bool outer = f.inner_at >= 0;
  if (outer) {
    rec.flags |= flag;
    reset_consumed(p, ctx);
  }
  const byte_view v = view(p, available);
  const int64_t size = le16(v, L::item::size);
  const int64_t inner = outer ? le16(v, at(f.inner_at)) : size;
  // The texts go in at once; the property list files into a record of its
  // own, merged after them as the structure's one merge adds it.
  int64_t pos = f.strings_at;
  std::string s;
  for (int i = 0; i < 3; ++i) {
    const int64_t budget = 2 * static_cast<int64_t>(le32(v, at(f.counts_at + 4 * i)));
    read_utf16(ctx.guard, v, pos, pos + budget, s);
    add_item_name(rec, std::move(s));
    pos += budget;
  }
  const int64_t m = le32(v, at(f.list_length_at));
  const int64_t end = outer ? inner + 4 : size;
  const int64_t start = end - m;
  if (start >= 0 && (!outer || inner + 4 <= size)) {
    ctx.offset += static_cast<uint64_t>(start);
    shell_item_record t;
    parse_embedded_property_list(t, p + start, m, ctx, opts);
    merge_shell_item(rec, std::move(t));
  }
  return true;
}

// The later items of an AugM structure: each a file entry 6 bytes after the
// end of the one before it. The stored count only limits the walk; the
// bytes end it.
void augm_further_items(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                        int64_t first, uint32_t count, const cmd_params& opts) {
  const byte_view v = view(p, available);
  const uint64_t first_offset = ctx.offset;
  int64_t pos = first;
  for (uint32_t i = 1; i < count; ++i) {
    const int64_t step = int64_t{le16(v, at(pos))} + E::augm::gap;
    if (available - pos < step + 16 || !guard_charge(ctx, 1)) return;
    pos += step;
    ctx.offset = first_offset + static_cast<uint64_t>(pos - first);
    shell_item_record t;
    if (!parse_file_entry_item(p + pos, ctx, t, p + pos, available - pos, opts)) return;
    rec.children.push_back(std::move(t));
  }
}

}  // namespace

// ---- tests ----

bool is_0a291cf0_block(const uint8_t* p, int64_t available) {
  namespace X = E::x0a291cf0;
  auto size = sized_structure(p, available, X::min_size);
  if (!size) return false;
  const byte_view v = view(p, *size);
  return le16(v, X::bound) <= *size && le32(v, X::signature_at) == X::signature;
}

bool is_cfsf_block(const uint8_t* p, int64_t available) {
  namespace C = E::cfsf;
  auto size = sized_structure(p, available, C::min_size);
  if (!size) return false;
  const byte_view v = view(p, *size);
  return le16(v, C::inner) <= *size && le16(v, C::bound) <= *size &&
         le32(v, C::signature_at) == C::signature;
}

bool is_07192006_block(const uint8_t* p, int64_t available) {
  return is_three_string(E::form_07192006, p, available);
}

bool is_10312005_block(const uint8_t* p, int64_t available) {
  return is_three_string(E::form_10312005, p, available);
}

bool is_08312006_block(const uint8_t* p, int64_t available) {
  return is_three_string(E::form_08312006, p, available);
}

bool is_08312006_item(const uint8_t* p, int64_t available) {
  namespace O = E::outer_08312006;
  auto size = sized_structure(p, available, O::min_size);
  if (!size) return false;
  const byte_view v = view(p, *size);
  const int64_t inner = le16(v, O::inner);
  if (inner > E::max_structure || inner > *size || inner > available) return false;
  if (le32(v, O::signature_at) != E::form_08312006.signature || le32(v, O::list_length) > inner)
    return false;
  const int64_t c1 = le32(v, O::counts), c2 = le32(v, O::counts + 4), c3 = le32(v, O::counts + 8);
  return 2 * (c1 + c2 + c3) + E::three_string_fixed <= available;
}

bool is_f5a6b710_block(const uint8_t* p, int64_t available) {
  namespace F = E::f5a6b710;
  auto size = sized_structure(p, available, F::min_size);
  if (!size) return false;
  const byte_view v = view(p, *size);
  const int64_t k = le16(v, F::k);
  return k <= *size + 4 && le32(v, F::signature_at) == F::signature && le16(v, F::item) <= k + 4;
}

bool is_augm_block(const uint8_t* p, int64_t available) {
  namespace A = E::augm;
  auto size = sized_structure(p, available, A::min_size);
  if (!size) return false;
  const byte_view v = view(p, *size);
  return le32(v, A::signature_at) == A::signature && le32(v, A::count) != 0;
}

bool is_untyped_block(const uint8_t* p, int64_t available) {
  auto size = sized_structure(p, available, 8, E::max_structure);
  if (!size) return false;
  const byte_view v = view(p, *size);
  return le16(v, E::untyped::zero) == 0 && le16(v, E::untyped::word) != 0;
}

bool is_c001b000_block(const uint8_t* p, int64_t available) {
  namespace C = E::c001b000;
  if (!p || available < C::min_size) return false;
  const byte_view v = view(p, available);
  const int64_t size = le32(v, 0);  // this structure's size is a u32
  if (size < C::min_size || size > E::max_structure || size > available) return false;
  if (le32(v, C::signature_at) != C::signature) return false;
  const int64_t length = le16(v, C::length), t0 = le32(v, C::first_length);
  return length <= size && t0 <= length && t0 + C::min_size <= available;
}

bool is_autolist_entry_nonnull(const uint8_t* p, int64_t available) {
  return p && available > 0 && is_autolist_entry(p, available);
}

// ---- parsers ----

bool parse_0a291cf0_block(parse_ctx&, shell_item_record& rec, const uint8_t* p, int64_t available,
                          const cmd_params&) {
  if (!p || available <= 0 || !is_0a291cf0_block(p, available)) return false;
  rec.flags |= itemflag_0a291cf0;
  return true;
}

bool parse_cfsf_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                      const cmd_params& opts) {
  namespace C = E::cfsf;
  if (!p || available <= 0 || !is_cfsf_block(p, available)) return false;
  const byte_view v = view(p, available);
  const int64_t size = le16(v, L::item::size);
  // The structure's fields land in a record of its own: its name and times
  // take their slots before the merge decides against the item's.
  shell_item_record t;
  t.size = le32(v, C::file_size);
  if (const uint16_t date = le16(v, C::dos_date))
    t.modified = dos_filetime(date, le16(v, C::dos_time));
  t.is_directory = (le8(v, C::flags) & 0x10) ? 1 : (t.size == 0 ? 1 : 0);
  read_ansi(ctx.guard, v, C::name, available, t.primary_name);
  if (!t.primary_name.empty()) t.names.push_back(t.primary_name);
  rec.flags |= itemflag_cfsf;
  reset_consumed(p, ctx);
  const int64_t e = le16(v, at(size - 2));
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
  merge_shell_item(rec, std::move(t));
  return result;
}

bool parse_07192006_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  return parse_three_string(E::form_07192006, itemflag_07192006, ctx, rec, p, available, opts);
}

bool parse_10312005_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  return parse_three_string(E::form_10312005, itemflag_10312005, ctx, rec, p, available, opts);
}

bool parse_three_string_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                              int64_t available, const cmd_params& opts) {
  return parse_three_string(E::form_08312006, 0, ctx, rec, p, available, opts);
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

bool parse_f5a6b710_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params& opts) {
  namespace F = E::f5a6b710;
  if (!p || available <= 0 || !is_f5a6b710_block(p, available)) return false;
  reset_consumed(p, ctx);
  rec.flags |= itemflag_f5a6b710;
  const byte_view v = view(p, available);
  const int64_t size = le16(v, L::item::size), k = le16(v, F::k), n = le16(v, F::item);
  bool result = false;
  if (k + F::guid2 <= size) {
    add_item_guid(rec, p + k + F::guid1);
    if (k + F::guid2 + 16 <= size) add_item_guid(rec, p + k + F::guid2);
    result = true;
  }
  shell_item_record t;
  if (parse_shell_item(t, p + F::item, available - F::item, false, false, 0, ctx, opts)) {
    merge_shell_item(rec, std::move(t));
    result = true;
  }
  if (available - static_cast<int64_t>(F::item) - n > 3) {
    shell_item_list list;
    if (parse_idlist(list, p + F::item + n, available - F::item - n, false, false, ctx, opts))
      rec.embedded_lists.push_back(std::move(list));
  }
  return result;
}

bool parse_augm_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t available,
                      const cmd_params& opts) {
  namespace A = E::augm;
  if (!p || available <= 0 || !is_augm_block(p, available)) return false;
  const byte_view v = view(p, available);
  const int64_t first = int64_t{le32(v, A::first)} + A::first_base;
  if (first > available) return false;
  rec.flags |= itemflag_augm;
  ctx.offset += static_cast<uint64_t>(first);
  const uint64_t first_offset = ctx.offset;
  shell_item_record t;
  if (!parse_file_entry_item(p + first, ctx, t, p + first, available - first, opts)) return false;
  merge_shell_item(rec, std::move(t));
  ctx.offset = first_offset;
  augm_further_items(ctx, rec, p, available, first, le32(v, A::count), opts);
  return true;
}

int32_t parse_sized_record_with_offsets(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                                        int64_t available, const cmd_params& opts) {
  namespace S = E::sized_record;
  if (!p || available <= 0 || !is_sized_record_with_offsets(p, available)) return 0;
  rec.flags |= itemflag_sized_record;
  // The run's blocks gather in a record of their own first: merged as one,
  // their displaced names keep the order a single merge gives them.
  spare_item_record spare(ctx.space());
  shell_item_record& t = spare.get();
  const byte_view v = view(p, available);
  const int64_t a = le16(v, S::a), b = le16(v, S::b);
  if (a >= 26 && b == 16) {
    if (available >= 30) add_item_guid(t, p + S::guids);
  } else if (a >= 27 && b == 32) {
    if (available >= 30) add_item_guid(t, p + S::guids);
    if (available >= 46) add_item_guid(t, p + S::guids + 16);
  } else {
    const int64_t r = available - (a + 6);
    if (r >= 16) add_item_guid(t, p + a + 6);
    if (r - 16 >= 16) add_item_guid(t, p + a + 22);
  }
  // The 0xBEEF run may stand behind zero padding.
  int64_t pos = static_cast<int64_t>(S::guids) + b, rem = available - pos;
  while (pos + 2 <= available) {
    const uint16_t w = le16(v, at(pos));
    if (w != 0 && (w <= rem || le8(v, at(pos)) != 0)) break;
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
  merge_shell_item(rec, std::move(t));
  return static_cast<int32_t>(taken);
}

bool parse_untyped_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts) {
  namespace U = E::untyped;
  if (!p || available <= 0 || !is_untyped_block(p, available)) return false;
  const byte_view all = view(p, available);
  const int64_t size = le16(all, L::item::size);
  const byte_view v = view(p, size);
  const uint16_t w = le16(v, U::word);
  if (w == L::beef::signature) return parse_beef_block(rec, p, available, ctx, opts) != 0;
  if (w >= U::text_min_word) {
    rec.flags |= itemflag_untyped;
    std::string text;
    read_utf16(ctx.guard, v, U::word, size, text);
    // A record of 8 bytes has no second unit: its text is one character.
    if (text.size() <= 4 && le16(v, U::second_unit) == 0) return false;
    rec.flags |= itemflag_named;
    merge_name(rec, rec.long_name, std::move(text));
    return true;
  }
  if (size >= U::time_min_size) {
    rec.flags |= itemflag_untyped;
    const int64_t ticks = static_cast<int64_t>(le64(v, U::filetime));
    if (ticks != 0) {
      time when = time_from_i64(ticks, type_time::filetime);
      if (when.valid()) merge_time(rec.created, when.m_filetime);
    }
    std::string name, text;
    int64_t q = U::name;
    if (le8(v, U::name) != 0) {
      read_ansi(ctx.guard, all, U::name, available, name);
      q += static_cast<int64_t>(name.size());
    }
    while (q < size && le8(v, at(q)) == 0) ++q;
    if (size - q > 1) read_utf16(ctx.guard, v, q, size, text);
    merge_name(rec, rec.primary_name, std::move(name));
    merge_name(rec, rec.long_name, std::move(text));
  }
  return true;
}

bool parse_c001b000_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                          int64_t available, const cmd_params&) {
  namespace C = E::c001b000;
  if (!p || available <= 0 || !is_c001b000_block(p, available)) return false;
  bool result = false;
  const byte_view v = view(p, available);
  const int64_t t0 = le32(v, C::first_length);
  std::string s;
  read_utf16(ctx.guard, v, C::first_text, C::first_text + t0, s);
  add_item_name(rec, std::move(s));
  int64_t pos = static_cast<int64_t>(C::first_text) + t0, rem = available - pos;
  while (rem >= 1 && is_string_list_entry(p + pos, rem) && guard_charge(ctx, 1)) {
    const int64_t n = le32(v, at(pos + C::entry_length));
    if (n > C::max_entry) break;
    const int64_t text_at = pos + static_cast<int64_t>(C::entry_text);
    read_utf16(ctx.guard, v, text_at, text_at + n, s);
    if (s.size() > 1) rec.names.push_back(std::move(s));
    result = true;
    pos += n + C::entry_text;
    rem -= n + C::entry_text;
  }
  return result;
}

// ---- the scanner ----

namespace {

// How the scanner steps past a structure: a fixed count, a stored field
// (plus a constant), or the count its parser returns.
enum class step_kind : uint8_t { fixed, field16, field32, returned };
using scan_parser = int64_t (*)(parse_ctx&, shell_item_record&, const uint8_t*, int64_t,
                                const cmd_params&);
struct scan_entry {
  bool (*test)(const uint8_t*, int64_t);
  scan_parser parse;  // > 0: the structure was taken
  step_kind step;
  uint8_t field;  // the stored step's offset, or the fixed step
  uint8_t plus;
  // A u32 the test requires at signature_at (0: none), so that a position
  // whose bytes there differ skips the test; every such test also needs
  // more than signature_at + 4 bytes.
  uint8_t signature_at = 0;
  uint32_t signature = 0;
};

template <bool (*F)(parse_ctx&, shell_item_record&, const uint8_t*, int64_t, const cmd_params&)>
int64_t as_count(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
                 const cmd_params& opts) {
  return F(ctx, rec, p, n, opts) ? 1 : 0;
}

int64_t scan_45177777(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
                      const cmd_params&) {
  return parse_45177777_block(p, ctx, rec, p, n);
}
int64_t scan_sized_record(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
                          const cmd_params& opts) {
  return parse_sized_record_with_offsets(ctx, rec, p, n, opts);
}
int64_t scan_94_byte(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
                     const cmd_params& opts) {
  return parse_94_byte_structure(p, ctx, rec, p, n, opts) ? 1 : 0;
}
int64_t scan_beef(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t n,
                  const cmd_params& opts) {
  return parse_beef_block(rec, p, n, ctx, opts) > 0 ? 1 : 0;
}

// Tried in this order at each position; the first test that passes decides.
const scan_entry k_scan_table[] = {
    {is_0a291cf0_block, as_count<parse_0a291cf0_block>, step_kind::fixed, E::x0a291cf0::step, 0,
     E::x0a291cf0::signature_at, E::x0a291cf0::signature},
    {is_cfsf_block, as_count<parse_cfsf_block>, step_kind::field16, E::cfsf::inner,
     E::cfsf::inner_extra, E::cfsf::signature_at, E::cfsf::signature},
    {is_07192006_block, as_count<parse_07192006_block>, step_kind::field16, 4, 0,
     E::form_07192006.signature_at, E::form_07192006.signature},
    {is_10312005_block, as_count<parse_10312005_block>, step_kind::field16, 4, 0,
     E::form_10312005.signature_at, E::form_10312005.signature},
    {is_45177777_block, scan_45177777, step_kind::returned, 0, 0, 6, 0x45177777},
    {is_08312006_item, as_count<parse_08312006_block>, step_kind::field16, E::outer_08312006::inner,
     0, E::outer_08312006::signature_at, E::form_08312006.signature},
    {is_f5a6b710_block, as_count<parse_f5a6b710_block>, step_kind::field16, 0, 0,
     E::f5a6b710::signature_at, E::f5a6b710::signature},
    {is_augm_block, as_count<parse_augm_block>, step_kind::field16, 0, 0, E::augm::signature_at,
     E::augm::signature},
    {is_sized_record_with_offsets, scan_sized_record, step_kind::returned, 0, 0},
    {is_untyped_block, as_count<parse_untyped_block>, step_kind::field16, 0, 0},
    {is_embedded_property_storage, as_count<parse_storage_block>, step_kind::field32, 0, 0},
    {is_08312006_block, as_count<parse_three_string_block>, step_kind::field16, 0, 0},
    {is_c001b000_block, as_count<parse_c001b000_block>, step_kind::field16, E::c001b000::length, 0,
     E::c001b000::signature_at, E::c001b000::signature},
    {is_94_byte_structure, scan_94_byte, step_kind::field16, 0, 0},
    {is_beef_block, scan_beef, step_kind::field16, 0, 0},
};

// The u32 at `at` of the bytes at p, or 0 when they end before it.
uint32_t u32_or_zero(const uint8_t* p, int64_t available, size_t at) {
  return available > 0 ? byte_view(p, static_cast<size_t>(available)).u32_or_zero(at) : 0;
}

}  // namespace

bool scan_extension_blocks(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                           int64_t available, const cmd_params& opts) {
  if (!p || available <= 0) return false;
  guard_level level(ctx, available);
  if (!level) return false;
  bool result = false;
  int64_t pos = 0, remaining = available;
  while (remaining > 8 && guard_charge(ctx, 1)) {
    const uint64_t remembered = ctx.offset;
    const uint8_t* here = p + pos;
    const byte_view v = view(here, remaining);
    // Most positions carry none of the signatures: those tests are skipped
    // on a look at the two places the signatures lie.
    const uint32_t at4 = u32_or_zero(here, remaining, 4), at6 = u32_or_zero(here, remaining, 6);
    const scan_entry* entry = nullptr;
    for (const scan_entry& e : k_scan_table) {
      if (e.signature_at && (e.signature_at == 4 ? at4 : at6) != e.signature) continue;
      if (e.test(here, remaining)) {
        entry = &e;
        break;
      }
    }
    if (!entry) {
      // A storage's or 0xBEEF block's header its test refuses (a size of
      // zero or past the bytes, a first value of no type) is damage, for the
      // item to say; so is a storage's version where a step over zeros (its
      // size made zero) ends. A storage of no values is sound.
      namespace st = propstore::storage;
      const bool storage_refused =
          (at4 == st::version_value && (!is_property_storage(here, remaining) ||
                                        u32_or_zero(here, remaining, 0) >= st::min_embedded)) ||
          u32_or_zero(here, remaining, 0) == st::version_value;
      if (storage_refused || (at6 & 0xFFFF) == L::beef::signature) ++ctx.space().inner_damage;
      break;
    }
    const int64_t value = entry->parse(ctx, rec, here, remaining, opts);
    result = value > 0;
    int64_t step = 0;
    switch (entry->step) {
      case step_kind::fixed:
        step = entry->field;
        break;
      case step_kind::field16:
        step = int64_t{le16(v, entry->field)} + entry->plus;
        break;
      case step_kind::field32:
        step = le32(v, entry->field);
        break;
      case step_kind::returned:
        step = value;
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
  return scan_extension_blocks(ctx, rec, item, le16(view(item, available), L::item::size), opts);
}

bool parse_type_2e_item(parse_ctx& ctx, shell_item_record& rec, const uint8_t* item,
                        int64_t available, const cmd_params& opts) {
  namespace T = E::type_2e;
  if (!item || available <= 0 || !is_type_2e_item(item, available)) return false;
  const byte_view v = view(item, available);
  const uint64_t remembered = ctx.offset;
  reset_consumed(item, ctx);
  const int64_t size = le16(v, L::item::size);
  if ((le8(v, T::sort) & 0xF0) != 0 || size == 20) {
    add_item_guid(rec, item + L::item::guid);
    const int64_t run = le16(v, T::run);
    if (available > 20 && available - 20 > 8 && run <= available - 20) {
      ctx.offset = T::run;
      scan_extension_blocks(ctx, rec, item + T::run, run, opts);
    }
  } else {
    const int64_t h = int64_t{le16(v, T::header)} + 6;
    const int64_t r = available - h;
    if (r > 15) add_item_guid(rec, item + h);
    if (r - 16 > 15) add_item_guid(rec, item + h + 16);
    ctx.offset = 4;
    scan_extension_blocks(ctx, rec, item, size, opts);
  }
  ctx.offset = remembered;
  return true;
}

uint32_t idlist_debug_text(const uint8_t* p, int64_t size, std::ostream& out, uint64_t file_offset,
                           bool skip_marker_items, const cmd_params& opts) {
  if (!p || size < 3) return 0;
  return guarded(
      [&]() -> uint32_t {
        const int64_t declared = std::min<int64_t>(le16(view(p, size), L::item::size), size);
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
        if (!idlist_text(path, detail, details, modified, accessed, created, settings, ctx.space(),
                         items))
          return 0;
        out << path;
        if (!detail.empty()) out << " [" << detail << "]";
        return le16(view(p, size), L::item::size);
      },
      [] { return uint32_t{0}; });
}

}  // namespace vk
