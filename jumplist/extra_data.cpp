#include "jumplist/extra_data.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"
#include "jumplist/base85.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_names.h"
#include "shell/idlist.h"
#include "shell/idlist_text.h"
#include "shell/parse_ctx.h"
#include "shell/property_store.h"
#include "shell/propstore_layout.h"

namespace vk {

namespace {

namespace L = lnk_layout;
namespace B = lnk_layout::block;
namespace T = lnk_layout::tracker;
namespace X = lnk_layout::text_block;

// The signature of one block kind and the size its fields take: a larger
// block is read for them, its further bytes left.
struct kind_rule {
  uint32_t signature;
  uint32_t size;
};

constexpr kind_rule kEnvironment{L::signature::environment, X::size};
constexpr kind_rule kConsole{L::signature::console, L::console::size};
constexpr kind_rule kTracker{L::signature::tracker, T::size};
constexpr kind_rule kConsoleFe{L::signature::console_fe, L::console_fe::size};
constexpr kind_rule kSpecialFolder{L::signature::special_folder, L::special_folder::min_size};
constexpr kind_rule kDarwin{L::signature::darwin, X::size};
constexpr kind_rule kIconEnvironment{L::signature::icon_environment, X::size};
constexpr kind_rule kShim{L::signature::shim, L::shim::min_size};
// A store holds at least its terminator; Windows writes stores of one
// empty storage (40 bytes), below the size one value takes.
constexpr kind_rule kPropertyStore{L::signature::property_store,
                                   B::header_size + L::property_store::terminator_size};
constexpr kind_rule kKnownFolder{L::signature::known_folder, L::known_folder::min_size};

bool is_block(byte_view block) {
  const auto size = block.u32(B::size);
  return block.size() >= B::header_size && *size >= B::header_size && *size <= block.size();
}

// The common form of every kind test but the Vista ID list's.
bool is_kind(byte_view block, const kind_rule& rule) {
  if (!is_block(block)) return false;
  const uint32_t size = block.u32_or_zero(B::size);
  return size >= rule.size && block.u16(B::signature) == (rule.signature & 0xFFFF) &&
         block.u16(B::signature_high) == B::signature_high_value;
}

bool is_vista(byte_view block) {
  const auto size = block.u32(B::size);
  return size && *size >= L::vista_idlist::min_size && *size <= block.size() &&
         block.u32(B::signature) == L::signature::vista_idlist;
}

byte_view view_of(const uint8_t* block, int64_t remaining) {
  return block && remaining > 0 ? byte_view(block, static_cast<size_t>(remaining)) : byte_view();
}

// A block that has passed its kind test, cut to the bytes its kind has.
byte_view fixed_block(const uint8_t* block, size_t size) {
  return byte_view(block, size);
}

void ansi_text(parse_guard* guard, byte_view block, size_t at, size_t max, std::string& out) {
  read_ansi(guard, block, static_cast<int64_t>(at), static_cast<int64_t>(at + max), out);
}

void wide_text(byte_view block, size_t at, size_t max_bytes, std::string& out) {
  out.clear();
  const byte_view field = block.clamp(at, max_bytes);
  if (!field.empty()) utf16_to_utf8(field.data(), field.size(), out, false);
}

// The 16 bytes at p are all zero.
bool zero_droid(const uint8_t* p) {
  uint64_t half[2];
  std::memcpy(half, p, sizeof half);
  return (half[0] | half[1]) == 0;
}

size_t droid_at(bool birth, bool object) {
  if (object) return birth ? T::birth_object_droid : T::object_droid;
  return birth ? T::birth_volume_droid : T::volume_droid;
}

// The GUID text of the 16 bytes at `at` (the callers' blocks hold them),
// written where out holds its characters.
void put_guid_text(lnk_guid_text& out, byte_view block, size_t at) {
  guid g;
  g.set(block.data() + at);
  write_guid_text(out.fill(), g);
}

lnk_guid_text guid_chars(byte_view block, size_t at) {
  lnk_guid_text out;
  put_guid_text(out, block, at);
  return out;
}

// Empty for a droid of zeros or one the block does not hold.
void put_droid_text(lnk_guid_text& out, byte_view tracker, size_t at) {
  if (!tracker.has(at, T::droid_size) || zero_droid(tracker.data() + at))
    out.clear();
  else
    put_guid_text(out, tracker, at);
}

lnk_guid_text droid_text(byte_view tracker, size_t at) {
  lnk_guid_text out;
  put_droid_text(out, tracker, at);
  return out;
}

// Empty for a droid that holds no address: one of zeros, or of a version
// other than 1.
void put_mac_text(lnk_mac_text& out, byte_view tracker, bool birth) {
  const size_t droid = droid_at(birth, true);
  guid g;
  if (tracker.has(droid, T::droid_size)) g.set(tracker.data() + droid);
  if (!write_droid_mac_text(out.fill(), g)) out.clear();
}

lnk_mac_text mac_chars(byte_view tracker, bool birth) {
  lnk_mac_text out;
  put_mac_text(out, tracker, birth);
  return out;
}

uint64_t droid_time(byte_view tracker, bool birth) {
  const size_t at = droid_at(birth, true);
  return tracker.has(at, T::droid_size) ? guid_v1_ticks(tracker.data() + at) : 0;
}

// The droids at a and b are both held and alike.
bool same_droids(byte_view tracker, size_t a, size_t b) {
  return tracker.has(a, T::droid_size) && tracker.has(b, T::droid_size) &&
         std::memcmp(tracker.data() + a, tracker.data() + b, T::droid_size) == 0;
}

void take_tracker(parse_guard* guard, lnk_record& rec, byte_view block) {
  ansi_text(guard, block, T::machine_id, T::machine_id_size, rec.m_machine_id);
  put_mac_text(rec.m_mac_address, block, false);
  put_droid_text(rec.m_volume_droid, block, T::volume_droid);
  put_droid_text(rec.m_object_droid, block, T::object_droid);
  rec.m_object_droid_time = droid_time(block, false);
  // A birth droid is most often the droid itself: its texts (and the MAC
  // address and time an object droid holds) are copied then.
  if (same_droids(block, T::volume_droid, T::birth_volume_droid))
    rec.m_birth_volume_droid = rec.m_volume_droid;
  else
    put_droid_text(rec.m_birth_volume_droid, block, T::birth_volume_droid);
  if (same_droids(block, T::object_droid, T::birth_object_droid)) {
    rec.m_birth_object_droid = rec.m_object_droid;
    rec.m_birth_mac_address = rec.m_mac_address;
    rec.m_birth_object_droid_time = rec.m_object_droid_time;
  } else {
    put_droid_text(rec.m_birth_object_droid, block, T::birth_object_droid);
    put_mac_text(rec.m_birth_mac_address, block, true);
    rec.m_birth_object_droid_time = droid_time(block, true);
  }
  if (block.has(T::object_droid, T::droid_size))
    rec.m_object_droid_bytes.append(block.data() + T::object_droid);
}

void environment_text(parse_guard* guard, byte_view block, std::string& out) {
  wide_text(block, X::wide, X::wide_size, out);
  if (out.empty()) ansi_text(guard, block, X::ansi, X::ansi_size, out);
}

// The same rule as the environment's: the UTF-16 text when there is one.
void icon_text(parse_guard* guard, byte_view block, std::string& out) {
  environment_text(guard, block, out);
}

void shim_text(byte_view block, std::string& out) {
  out.clear();
  if (block.size() < L::shim::layer + 2 || block.u8_or_zero(L::shim::layer + 1) != 0) return;
  wide_text(block, L::shim::layer, 2 * L::shim::max_units, out);
}

bool darwin_descriptor(parse_guard* guard, byte_view block, std::string& product,
                       std::string& feature, std::string& component) {
  product.clear();
  feature.clear();
  component.clear();
  std::string text;
  if (block.u8_or_zero(X::wide) != 0 && block.u8_or_zero(X::wide + 1) == 0)
    wide_text(block, X::wide, X::wide_size, text);
  else
    ansi_text(guard, block, X::ansi, X::ansi_size, text);
  // The product code, the shortest feature name and its delimiter.
  constexpr size_t kMin = 22;
  constexpr size_t kCode = 20;  // characters of one base-85 GUID
  if (text.size() < kMin) {
    ansi_text(guard, block, X::ansi, X::ansi_size, text);
    if (text.size() < kMin) return false;
  }
  std::array<uint32_t, 4> words{};
  const bool product_ok = darwin_guid_decode(text, words);
  product = darwin_words_text(words);
  size_t delim = text.find('>', kCode);
  if (delim == std::string::npos) delim = text.find('<', kCode);
  if (delim == std::string::npos) return false;
  feature.assign(text, kCode, delim - kCode);
  // The component code is the 20 characters after the delimiter, when they
  // are all there.
  if (delim + kCode + 1 > text.size()) return product_ok;
  words = {};
  const bool component_ok = darwin_guid_decode(std::string_view(text).substr(delim + 1), words);
  component = darwin_words_text(words);
  return product_ok && component_ok;
}

}  // namespace

// Scratch items kept from block to block, emptied in place: they keep the
// room their value lists grew to. Each walk of storages is parsed into an
// item of its own, so that no walk's values are merged into another's;
// walks past the last item share it.
struct store_parts {
  static constexpr size_t k_parts = 8;
  std::array<shell_item_record, k_parts> parts;
  // Parts known to hold nothing but values (a new part holds none).
  std::array<bool, k_parts> values_only = [] {
    std::array<bool, k_parts> all;
    all.fill(true);
    return all;
  }();
};

// One list for every block: its records are parsed into again rather than
// built and destroyed each time.
struct vista_items {
  shell_item_list items;
};

template <>
void scratch_drop<store_parts>::operator()(store_parts* part) const noexcept {
  delete part;
}
template <>
void scratch_drop<vista_items>::operator()(vista_items* part) const noexcept {
  delete part;
}

namespace {

// Whether a storage's "1SPS" lies in block from from on.
bool storage_signature_past(byte_view block, size_t from) {
  static constexpr uint8_t kSignature[4] = {'1', 'S', 'P', 'S'};
  const uint8_t* begin = block.data() + from;
  const uint8_t* end = block.data() + block.size();
  return std::search(begin, end, std::begin(kSignature), std::end(kSignature)) != end;
}

// Bytes after a store's terminator that begin a block are one the walk
// stepped past, which it says.
bool has_block_signature(byte_view data, size_t at);

bool property_store_body(lnk_record& rec, byte_view block, parse_ctx& ctx, const cmd_params& opts,
                         link_scratch& scratch, uint64_t block_at) {
  skip_item_header(block.data(), ctx);
  const uint64_t block_offset = ctx.offset;
  constexpr size_t k_parts = store_parts::k_parts;
  store_parts& kept = made_part(scratch.store);
  std::array<shell_item_record, k_parts>& parts = kept.parts;
  std::array<bool, k_parts>& values_only = kept.values_only;
  size_t used = 0;
  // The single texts and times are kept flat, outside the parts.
  shell_scratch& space = ctx.space();
  shown_values::scope flat(shown_values::list_of(space));
  // Only inside the accepted block, and only while a storage size fits.
  size_t pos = L::property_store::storages;
  for (;;) {
    const auto storage = block.u32(pos);
    if (!storage) {
      // The values read stay shown; the store did not end where it says.
      add_record_fault(
          rec, parse_fault{"property store", block_at + pos, "terminator lies outside its block"});
      break;
    }
    if (*storage == 0) {
      // Storages past the terminator: a size above misframed the walk.
      const size_t after = pos + L::property_store::terminator_size;
      if (block.size() - pos > L::property_store::terminator_size + 8 &&
          storage_signature_past(block, after))
        add_record_fault(rec, parse_fault{"property storage", block_at + pos,
                                          "storages lie past the terminator; not read"});
      else if (!has_block_signature(block, after) &&
               std::any_of(block.data() + after, block.data() + block.size(),
                           [](uint8_t x) { return x != 0; }))
        add_record_fault(rec, parse_fault{"property store", block_at + after,
                                          "non-zero bytes follow the terminator inside its "
                                          "block; not read"});
      break;
    }
    if (*storage > block.size() - pos) {
      add_record_fault(rec, parse_fault{"property storage", block_at + pos,
                                        "declared size runs past its block"});
      break;
    }
    if (used < k_parts) {
      shell_item_record& part = parts[used++];
      keep_property_nodes(part.properties, space);
      keep_property_nodes(part.found_properties, space);
      // A part that took values only is clear once they are gone.
      if (!part.properties.empty() || !values_only[used - 1]) {
        part.clear();
        values_only[used - 1] = true;
      }
      // Only the values the record's key and value lists show are filed.
      part.prop_shown_only = true;
    }
    ctx.offset = block_offset + pos;
    flat.set_record(static_cast<uint32_t>(used - 1));
    // The caller's slot, not the context's: one storage after another, this
    // walk is the hot one.
    parse_fault fault;
    parse_property_storages_noting(ctx, parts[used - 1], block.data() + pos, *storage, opts,
                                   values_only[used - 1], &fault);
    rec.m_faults.add_at(fault, block_at + pos);
    pos += *storage;
  }
  flat.collect(parts.data(), used, rec.m_property_keys, rec.m_property_values, opts, space);
  return true;
}

constexpr size_t k_kept_items = 64;

bool vista_idlist_body(lnk_record& rec, byte_view block, parse_ctx& ctx, const cmd_params& opts,
                       link_scratch& scratch, uint64_t block_at) {
  ctx.consumed = 0;
  ctx.offset += L::vista_idlist::items;
  // A long list is let go.
  shell_item_list& items = made_part(scratch.vista).items;
  struct let_go_long {
    shell_item_list& items;
    ~let_go_long() {
      if (items.size() > k_kept_items) shell_item_list().swap(items);
    }
  } let_go{items};
  // Written into the record's own texts, which keep their room between
  // links; a text an earlier block set is replaced only by one not empty.
  std::string extra;
  std::vector<std::string> details;
  std::string& extra_out = rec.m_vista_idlist_extra.empty() ? rec.m_vista_idlist_extra : extra;
  std::vector<std::string>& details_out =
      rec.m_vista_idlist_details.empty() ? rec.m_vista_idlist_details : details;
  uint64_t modified = 0, accessed = 0, created = 0;
  // The texts are made as the walk goes, a run of records at a time, so a
  // list of many items holds a run's records, not one per item.
  idlist_text_builder text(rec.m_vista_idlist_path, extra_out, details_out, modified, accessed,
                           created, opts, ctx.space());
  {
    // Its stop is in the sink before the texts, which may run out of memory.
    const faults_to to(ctx, rec.m_faults, block_at + L::vista_idlist::items);
    // Only the list's texts are made of its records.
    ctx.text_records_only = true;
    ctx.item_runs = &text;
    if (!parse_idlist(items, block.data() + L::vista_idlist::items,
                      static_cast<int64_t>(block.size() - L::vista_idlist::items), false, false,
                      ctx, opts))
      return false;
  }
  text.take(items.data(), items.size());
  text.finish();
  if (!extra.empty()) rec.m_vista_idlist_extra = std::move(extra);
  if (!details.empty()) rec.m_vista_idlist_details = std::move(details);
  return true;
}

// ---- the walk's table: each kind's test and what it takes ----

// A block as the walk sees it: from its first byte to the end of the data.
struct walk_block {
  byte_view rest;
  uint32_t size;  // BlockSize
  uint32_t at;    // from the link's first byte
};

// What a block's reader is handed beside the context.
struct walk_args {
  const cmd_params& opts;
  link_scratch& scratch;
};

// False ends the walk at the block.
using take_fn = bool (*)(lnk_record&, const walk_block&, parse_ctx&, const walk_args&);

// Bytes lost inside a block of a fixed size let its size reach over a small
// block after it, which then ends where it does, in its last bytes: said.
[[gnu::cold, gnu::noinline]] void note_block_in_tail(lnk_record& rec, const walk_block& b) {
  for (const kind_rule* small : {&kConsoleFe, &kSpecialFolder, &kKnownFolder}) {
    const size_t at = b.size - small->size;
    if (b.rest.u64_or_zero(at) == (uint64_t{small->signature} << 32 | small->size)) {
      add_record_fault(rec, parse_fault{"extra-data block", b.at + at,
                                        "lies inside the block before it: bytes of that block "
                                        "are lost; not read"});
      return;
    }
  }
}

// The byte A0 where the signature of a small block ending with the block
// (at least a tracker's size) would have it: the rare case looked at whole.
inline void check_block_tail(lnk_record& rec, const walk_block& b) {
  const uint8_t* high = b.rest.data() + B::signature_high + 1;
  if ((high[b.size - L::console_fe::size] == 0xA0) |
      (high[b.size - L::special_folder::min_size] == 0xA0) |
      (high[b.size - L::known_folder::min_size] == 0xA0))
    note_block_in_tail(rec, b);
}

bool take_environment(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args&) {
  check_block_tail(rec, b);
  // Written into the record's own text, which keeps its room between links.
  std::string& text = rec.m_environment_target;
  guarded(
      ctx, [&] { environment_text(ctx.guard, fixed_block(b.rest.data(), X::size), text); },
      [&] { text.clear(); });
  return true;
}
bool take_console(lnk_record& rec, const walk_block& b, parse_ctx&, const walk_args&) {
  check_block_tail(rec, b);
  return true;
}
// A block whose signature names a kind its bytes do not have (a signature
// changed): its fields would show other bytes, so none is taken, nor is
// its place kept as the kind's.
[[gnu::cold, gnu::noinline]] bool not_its_kind(lnk_record& rec, const walk_block& b,
                                               uint32_t lnk_record_fields::*offset) {
  rec.*offset = 0;
  add_record_fault(rec, parse_fault{"extra-data block", b.at,
                                    "bytes are not those of the kind its signature names; not "
                                    "read"});
  return true;
}

bool take_tracker_block(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args&) {
  check_block_tail(rec, b);
  if (b.rest.u32_or_zero(T::length) != T::size - T::length)
    return not_its_kind(rec, b, &lnk_record_fields::m_tracker_offset);
  guarded(
      ctx, [&] { take_tracker(ctx.guard, rec, b.rest.clamp(0, T::size)); }, [] {});
  return true;
}
bool take_console_fe(lnk_record& rec, const walk_block& b, parse_ctx&, const walk_args&) {
  rec.m_code_page = b.rest.u32_or_zero(L::console_fe::code_page);
  return true;
}
bool take_special_folder(lnk_record& rec, const walk_block& b, parse_ctx&, const walk_args&) {
  rec.m_special_folder_id = b.rest.u32_or_zero(L::special_folder::id);
  rec.m_special_folder_name = csidl_name(rec.m_special_folder_id);
  return true;
}
bool take_darwin(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args&) {
  check_block_tail(rec, b);
  guarded(
      ctx,
      [&] {
        return darwin_descriptor(ctx.guard, fixed_block(b.rest.data(), X::size),
                                 rec.m_darwin_product, rec.m_darwin_feature,
                                 rec.m_darwin_component);
      },
      [] {});
  return true;
}
bool take_icon_environment(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args&) {
  check_block_tail(rec, b);
  std::string& text = rec.m_icon_environment;
  guarded(
      ctx, [&] { icon_text(ctx.guard, fixed_block(b.rest.data(), X::size), text); },
      [&] { text.clear(); });
  return true;
}
bool take_shim(lnk_record& rec, const walk_block& b, parse_ctx&, const walk_args&) {
  rec.m_shim_layer = shim_layer_text(b.rest.data(), b.size);
  // A layer is a UTF-16 name without control characters, its NUL and
  // zeros to the block's end.
  const byte_view block = b.rest.clamp(0, b.size);
  size_t end = L::shim::layer;
  while (block.has(end, 2) && block.u16_or_zero(end) != 0) end += 2;
  const std::string& layer = rec.m_shim_layer;
  if ((end == L::shim::layer) == layer.empty() &&
      std::none_of(layer.begin(), layer.end(),
                   [](char c) { return static_cast<unsigned char>(c) < 0x20; }) &&
      std::all_of(block.data() + std::min(end, block.size()), block.data() + block.size(),
                  [](uint8_t x) { return x == 0; }))
    return true;
  rec.m_shim_layer.clear();
  return not_its_kind(rec, b, &lnk_record_fields::m_shim_offset);
}
// A store whose storages hold no value, ending at its terminator (Windows
// writes one such storage alone): there is nothing to walk.
bool holds_no_value(byte_view block) {
  namespace S = propstore::storage;
  constexpr uint32_t k_empty = S::header_size + L::property_store::terminator_size;
  for (size_t pos = L::property_store::storages;; pos += k_empty) {
    const uint32_t size = block.u32_or_zero(pos);
    if (size == 0) return pos + L::property_store::terminator_size == block.size();
    if (size != k_empty || block.u32_or_zero(pos + S::version) != S::version_value ||
        block.u32_or_zero(pos + S::values) != 0)
      return false;
  }
}

bool take_property_store(lnk_record& rec, const walk_block& b, parse_ctx& ctx,
                         const walk_args& args) {
  if (!holds_no_value(b.rest.clamp(0, b.size)))
    parse_property_store_block(rec, b.rest.data(), b.size, ctx, args.opts, args.scratch, b.at);
  return true;
}
bool take_storage(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args&) {
  guarded(
      ctx, [&] { property_storage_fmtid_text(b.rest.data(), ctx, rec.m_property_storage_fmtid); },
      [] {});
  return true;
}
bool take_known_folder(lnk_record& rec, const walk_block& b, parse_ctx&, const walk_args&) {
  rec.m_known_folder_id = guid_chars(b.rest, L::known_folder::id);
  return true;
}
bool take_vista(lnk_record& rec, const walk_block& b, parse_ctx& ctx, const walk_args& args) {
  parse_vista_idlist_block(rec, b.rest.data(), b.size, ctx, args.opts, args.scratch, b.at);
  return true;
}

bool accepts_storage(byte_view rest) {
  return is_property_storage(rest.data(), static_cast<int64_t>(rest.size()));
}

struct block_kind {
  uint32_t signature;               // 0 for the storage, which has none of its own
  const kind_rule* rule;            // the size rule of a kind its signature names, or null
  bool (*accepts)(byte_view rest);  // else the kind's own test
  uint32_t lnk_record_fields::*offset;
  take_fn take;
};

// In the order the kinds are offered a block: the first that accepts it
// takes it.
constexpr block_kind kKinds[] = {
    {L::signature::environment, &kEnvironment, nullptr, &lnk_record_fields::m_environment_offset,
     take_environment},
    {L::signature::console, &kConsole, nullptr, &lnk_record_fields::m_console_offset, take_console},
    {L::signature::tracker, &kTracker, nullptr, &lnk_record_fields::m_tracker_offset,
     take_tracker_block},
    {L::signature::console_fe, &kConsoleFe, nullptr, &lnk_record_fields::m_console_fe_offset,
     take_console_fe},
    {L::signature::special_folder, &kSpecialFolder, nullptr,
     &lnk_record_fields::m_special_folder_offset, take_special_folder},
    {L::signature::darwin, &kDarwin, nullptr, &lnk_record_fields::m_darwin_offset, take_darwin},
    {L::signature::icon_environment, &kIconEnvironment, nullptr,
     &lnk_record_fields::m_icon_environment_offset, take_icon_environment},
    {L::signature::shim, &kShim, nullptr, &lnk_record_fields::m_shim_offset, take_shim},
    {L::signature::property_store, &kPropertyStore, nullptr,
     &lnk_record_fields::m_property_store_offset, take_property_store},
    {0, nullptr, accepts_storage, &lnk_record_fields::m_property_storage_offset, take_storage},
    {L::signature::known_folder, &kKnownFolder, nullptr, &lnk_record_fields::m_known_folder_offset,
     take_known_folder},
    {L::signature::vista_idlist, nullptr, is_vista, &lnk_record_fields::m_vista_idlist_offset,
     take_vista},
};
constexpr size_t kStorage = 9;

// Every kind but the storage sits at its signature's distance from the
// first, so a block's signature names the one kind besides the storage
// that can accept it; a size rule is its kind's.
constexpr bool kinds_in_signature_order() {
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    const block_kind& k = kKinds[i];
    if (k.signature != (i == kStorage ? 0 : L::signature::environment + i)) return false;
    if ((k.rule == nullptr) == (k.accepts == nullptr)) return false;
    if (k.rule && k.rule->signature != k.signature) return false;
  }
  return true;
}
static_assert(kinds_in_signature_order());

// The kind accepts a block the walk has found whole (is_block) and whose
// signature names it, or the storage's test passes.
bool kind_accepts(const block_kind& kind, const walk_block& b) {
  if (!kind.rule) return kind.accepts(b.rest);
  return b.size >= kind.rule->size;
}

// The first kind in table order that accepts the block, testing only the
// kinds that can; too_small is set for a block whose signature names a
// kind whose fields it cannot hold.
const block_kind* kind_of(const walk_block& b, bool& too_small) {
  const uint32_t named = b.rest.u32_or_zero(B::signature) - L::signature::environment;
  const bool has_kind = named < std::size(kKinds) && named != kStorage;
  if (has_kind && named < kStorage && kind_accepts(kKinds[named], b)) return &kKinds[named];
  if (kind_accepts(kKinds[kStorage], b)) return &kKinds[kStorage];
  if (has_kind && named > kStorage && kind_accepts(kKinds[named], b)) return &kKinds[named];
  too_small = has_kind && kKinds[named].rule;
  return nullptr;
}

}  // namespace

bool has_work_limit_fault(const lnk_record& rec) {
  for (const parse_fault& f : rec.m_faults)
    if (std::strcmp(f.cause, k_fault_work_limit) == 0) return true;
  return false;
}

bool is_extra_data_block(const uint8_t* block, int64_t remaining) {
  return is_block(view_of(block, remaining));
}

bool is_environment_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kEnvironment);
}
bool is_console_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kConsole);
}
bool is_tracker_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kTracker);
}
bool is_console_fe_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kConsoleFe);
}
bool is_special_folder_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kSpecialFolder);
}
bool is_darwin_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kDarwin);
}
bool is_icon_environment_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kIconEnvironment);
}
bool is_shim_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kShim);
}
bool is_property_store_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kPropertyStore);
}
bool is_known_folder_block(const uint8_t* block, int64_t remaining) {
  return is_kind(view_of(block, remaining), kKnownFolder);
}
bool is_vista_idlist_block(const uint8_t* block, int64_t remaining) {
  return is_vista(view_of(block, remaining));
}

std::string environment_target_text(const uint8_t* block) {
  return guarded([&] {
    std::string text;
    environment_text(nullptr, fixed_block(block, X::size), text);
    return text;
  });
}

std::string icon_environment_text(const uint8_t* block) {
  return guarded([&] {
    std::string text;
    icon_text(nullptr, fixed_block(block, X::size), text);
    return text;
  });
}

std::string shim_layer_text(const uint8_t* block, int64_t size) {
  return guarded([&] {
    std::string text;
    shim_text(view_of(block, size), text);
    return text;
  });
}

bool parse_darwin_descriptor(const uint8_t* block, std::string& product, std::string& feature,
                             std::string& component) {
  return guarded([&] {
    return darwin_descriptor(nullptr, fixed_block(block, X::size), product, feature, component);
  });
}

std::string tracker_machine_id(const uint8_t* block) {
  return guarded([&] {
    std::string text;
    ansi_text(nullptr, fixed_block(block, T::size), T::machine_id, T::machine_id_size, text);
    return text;
  });
}

std::string tracker_mac_address(const uint8_t* block, bool birth) {
  return guarded([&] { return std::string(mac_chars(fixed_block(block, T::size), birth)); });
}

std::string tracker_volume_id(const uint8_t* block, bool birth) {
  return guarded(
      [&] { return std::string(droid_text(fixed_block(block, T::size), droid_at(birth, false))); });
}

std::string tracker_object_id(const uint8_t* block, bool birth) {
  return guarded(
      [&] { return std::string(droid_text(fixed_block(block, T::size), droid_at(birth, true))); });
}

uint64_t tracker_object_time(const uint8_t* block, bool birth) {
  return droid_time(fixed_block(block, T::size), birth);
}

bool parse_property_store_block(lnk_record& record, const uint8_t* block, int64_t size,
                                parse_ctx& ctx, const cmd_params& opts, link_scratch& scratch,
                                uint64_t block_at) {
  if (!block || size < static_cast<int64_t>(B::header_size)) return false;
  return guarded(
      ctx,
      [&] {
        return property_store_body(record, view_of(block, size), ctx, opts, scratch, block_at);
      },
      [] {});
}

bool parse_vista_idlist_block(lnk_record& record, const uint8_t* block, int64_t size,
                              parse_ctx& ctx, const cmd_params& opts, link_scratch& scratch,
                              uint64_t block_at) {
  if (!block || size < static_cast<int64_t>(B::header_size)) return false;
  return guarded(
      ctx,
      [&] { return vista_idlist_body(record, view_of(block, size), ctx, opts, scratch, block_at); },
      [] {});
}

uint32_t fixed_block_size(uint32_t signature) {
  const uint32_t named = signature - L::signature::environment;
  if (named >= std::size(kKinds)) return 0;
  const kind_rule* rule = kKinds[named].rule;
  // Shim and property-store blocks grow with what they hold.
  return rule && rule != &kShim && rule != &kPropertyStore ? rule->size : 0;
}

namespace {

// Bytes at `at` that read as the header of a block of a known kind whose
// size fits the data.
bool holds_block_header(byte_view data, size_t at) {
  const auto size = data.u32(at);
  const auto signature = data.u32(at + B::signature);
  return size && signature && *size >= B::header_size && *size <= data.size() - at &&
         *signature - L::signature::environment <=
             L::signature::vista_idlist - L::signature::environment;
}

// A step from the block at off lands on a block header, the terminal block
// as the data's last bytes, or the data's end.
bool step_lands(byte_view data, size_t off, uint32_t step) {
  if (step < B::header_size || step > data.size() - off) return false;
  const size_t at = off + step;
  return at == data.size() || holds_block_header(data, at) ||
         (at + B::terminal_size == data.size() && data.u32_or_zero(at) < B::terminal_size);
}

// The size a block at off is walked by: its declared one, or for a kind of
// one fixed size declared otherwise, its kind's own when that lands on a
// block header (a size written wrong) and the declared one does not. The
// other size is said either way.
uint32_t walked_size(lnk_record& rec, byte_view data, size_t off, uint32_t declared) {
  const uint32_t own = fixed_block_size(data.u32_or_zero(off + B::signature));
  if (own == 0 || declared == own) return declared;
  if (step_lands(data, off, own) && !step_lands(data, off, declared)) {
    add_record_fault(rec, parse_fault{"extra-data block", off,
                                      "declared size is not its kind's; read at its kind's size"});
    return own;
  }
  // A smaller block or one past the data is said where it is walked.
  if (declared > own && declared <= data.size() - off)
    add_record_fault(rec, parse_fault{"extra-data block", off, "declared size is not its kind's"});
  return declared;
}

// A BlockSize below 4 at off before the signature of a listed kind: a size
// zeroed, not the terminal block. The block is read by its kind's size when
// the kind has one that lands on a block; else it is said and the walk ends
// there. Returns the size to step by, zero for none.
[[gnu::cold, gnu::noinline]] uint32_t zeroed_block_size(lnk_record& rec, byte_view data,
                                                        size_t off) {
  const uint32_t signature = data.u32_or_zero(off + B::signature);
  const uint32_t named = signature - L::signature::environment;
  if (named >= std::size(kKinds) || named == kStorage) return 0;
  const uint32_t own = fixed_block_size(signature);
  if (own != 0 && step_lands(data, off, own)) {
    add_record_fault(rec, parse_fault{"extra-data block", off,
                                      "declared size is not its kind's; read at its kind's size"});
    return own;
  }
  add_record_fault(rec, parse_fault{"extra-data block", off,
                                    "declared size below the block's header; read as the "
                                    "terminal block"});
  return 0;
}

// How far before a terminal block, and after a place where the walk found
// no block, a block stepped past is looked for.
constexpr size_t k_terminal_search = 64;
constexpr size_t k_inserted_search = 64;

// Past the terminal block at off: a block header there is a block the walk
// did not reach (bytes inserted or lost before it), said once.
void note_blocks_past_terminal(lnk_record& rec, byte_view data, size_t off) {
  const size_t at = find_block_header(data.tail(off + 1));
  if (at != k_no_block_header)
    add_record_fault(rec, parse_fault{"extra-data block", off + 1 + at,
                                      "lies past the terminal block: not read"});
}

// The signature of the block at at has the form of every block's, 0xAnnnnnnn
// (kinds not listed among them).
bool has_block_signature(byte_view data, size_t at) {
  return data.u32_or_zero(at + B::signature) >> 28 == 0xA;
}

// The first place from first, before last, where a block would have the
// high half of its signature (00 A0 at 6): the byte A0 found by memchr, so
// that a search costs little more than a pass over the bytes. last when none.
size_t next_signature_high(byte_view data, size_t first, size_t last) {
  constexpr size_t k_at = B::signature_high + 1;  // the byte A0
  const size_t end = std::min(last + k_at, data.size());
  for (size_t from = first + k_at; from < end;) {
    const void* hit = std::memchr(data.data() + from, 0xA0, end - from);
    if (!hit) break;
    const size_t p = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data.data());
    if (data.u8_or_zero(p - 1) == 0) return p - k_at;
    from = p + 1;
  }
  return last;
}

// From at, block headers one after another by their sizes up to a terminal
// block or the end of the data: the walk a sound link would take from a
// block there.
bool blocks_chain_from(byte_view data, size_t at, std::vector<bool>& walked) {
  // Walks only step forward, and one that reaches a block an earlier walk
  // of the same search passed through ends as that one did (every such walk
  // failed, or the search would have stopped): a search walks each place
  // once, so bytes full of block headers cost their length, not its square.
  for (;;) {
    if (at == data.size()) return true;
    if (walked.empty()) walked.resize(data.size());
    if (walked[at]) return false;
    walked[at] = true;
    const auto size = data.u32(at);
    if (size && *size < B::terminal_size) return true;
    if (!holds_block_header(data, at)) {
      // A block of a known kind that the bytes handed to the walk end
      // inside (a carved link's bytes end where its walk did).
      const uint32_t named = data.u32_or_zero(at + B::signature) - L::signature::environment;
      return size && *size >= B::header_size && *size > data.size() - at &&
             named <= L::signature::vista_idlist - L::signature::environment;
    }
    at += *size;
  }
}

// The walk stepped from the block at from to at, where it found no block of
// a listed kind: a size before it may be wrong (bytes lost inside a block, a
// size grown) or bytes inserted. A block header from near bytes before at
// (never before from's body) to ahead bytes after it that starts a sound walk
// of its own is a block the walk stepped past, said; next, where the block
// at at would lead, is the walk's own next step. True when one was found.
bool note_block_stepped_past(lnk_record& rec, byte_view data, size_t from, size_t at, size_t near,
                             size_t ahead, size_t next) {
  size_t first = from + B::header_size;
  if (at > first + near) first = at - near;
  // Bytes inserted put the block a little after at, bytes lost or a size
  // grown before it.
  const size_t last = std::min(data.size(), at + ahead);
  std::vector<bool> walked;
  for (size_t h = next_signature_high(data, first, last); h < last;
       h = next_signature_high(data, h + 1, last)) {
    // A header of a known kind here (its size may run past the bytes).
    const uint32_t named = data.u32_or_zero(h + B::signature) - L::signature::environment;
    if (h == at || h == next || data.u32_or_zero(h) < B::header_size ||
        named > L::signature::vista_idlist - L::signature::environment ||
        !blocks_chain_from(data, h, walked))
      continue;
    add_record_fault(rec, parse_fault{"extra-data block", h,
                                      "stepped past: a size before it is wrong; not read"});
    return true;
  }
  return false;
}

}  // namespace

size_t find_block_header(byte_view bytes) {
  // Most often called on no bytes: the end of a link's data.
  if (bytes.size() < B::header_size) return k_no_block_header;
  const size_t last = bytes.size() - B::header_size + 1;
  for (size_t at = next_signature_high(bytes, 0, last); at < last;
       at = next_signature_high(bytes, at + 1, last))
    if (holds_block_header(bytes, at)) return at;
  return k_no_block_header;
}

size_t find_block_chain(byte_view data, size_t first, size_t last) {
  last = std::min(last, data.size());
  std::vector<bool> walked;
  for (size_t h = next_signature_high(data, first, last); h < last;
       h = next_signature_high(data, h + 1, last)) {
    const uint32_t named = data.u32_or_zero(h + B::signature) - L::signature::environment;
    if (data.u32_or_zero(h) >= B::header_size &&
        named <= L::signature::vista_idlist - L::signature::environment &&
        blocks_chain_from(data, h, walked))
      return h;
  }
  return k_no_block_header;
}

size_t walk_extra_data(lnk_record& rec, const uint8_t* bytes, size_t size, size_t off,
                       uint64_t link_offset, parse_ctx& ctx, const cmd_params& opts,
                       link_scratch& scratch) {
  const byte_view data(bytes, size);
  const walk_args args{opts, scratch};
  // Data that ends right after a block, the terminal one missing, or with
  // fewer than the four bytes a BlockSize takes, is a link cut short, which
  // the parser says; bytes after a block that hold no block are damage.
  // The last block of a listed kind, and whether the walk has found a
  // block of no listed kind since.
  size_t listed = k_no_block_header;
  bool strayed = false;
  while (auto found = data.u32(off)) {
    // The terminal block: any BlockSize below 4, unless a block's header
    // of a known kind follows (its size zeroed).
    if (*found < B::terminal_size &&
        data.u32_or_zero(off + B::signature) - L::signature::environment < std::size(kKinds)) {
      if (const uint32_t own = zeroed_block_size(rec, data, off)) found.emplace(own);
    }
    if (*found < B::terminal_size) {
      // Zeros inside a block the walk landed in (a size before grown, bytes
      // lost) read as the terminal block: the block's header lies just
      // before them.
      if (listed != k_no_block_header && !strayed)
        note_block_stepped_past(rec, data, listed, off, k_terminal_search, 0, k_no_block_header);
      note_blocks_past_terminal(rec, data, off);
      break;
    }
    const uint32_t declared = walked_size(rec, data, off, *found);
    const char* cause = declared < B::header_size ? "declared size below the block's header"
                        : declared > size - off   ? "declared size runs past the data"
                                                  : nullptr;
    if (cause) {
      if (listed != k_no_block_header && !strayed)
        note_block_stepped_past(rec, data, listed, off, off - listed, k_inserted_search,
                                k_no_block_header);
      add_record_fault(rec, parse_fault{"extra-data block", off, cause});
      break;
    }
    const walk_block block{data.tail(off), declared, static_cast<uint32_t>(off)};
    ctx.offset = link_offset + off;
    bool too_small = false;
    const block_kind* kind = kind_of(block, too_small);
    // A block of no listed kind is one of a kind not listed when it ends
    // where another block begins, or has a block's signature and ends at
    // the terminal block or the end, and no block the walk stepped past
    // lies near it; a storage out of its store, or a block that leads
    // nowhere, is where the walk lost its step.
    if (kind && kind != &kKinds[kStorage]) {
      listed = off;
    } else if (!strayed) {
      const size_t next = off + declared;
      const bool named =
          listed != k_no_block_header &&
          note_block_stepped_past(rec, data, listed, off, off - listed, k_inserted_search, next);
      const bool lands = holds_block_header(data, next) ||
                         (has_block_signature(data, off) &&
                          (next == size || data.u32_or_zero(next) < B::terminal_size));
      if (!named && !kind && lands) {
        listed = off;
      } else {
        strayed = true;
        // Block signatures, listed or not, begin with the nibble A: bytes
        // without it are no block, whatever lies past them.
        if (!named && !kind && !has_block_signature(data, off))
          add_record_fault(rec, parse_fault{"extra-data block", off,
                                            "holds no block signature: stepped over by its size"});
      }
    }
    if (kind) {
      rec.*kind->offset = static_cast<uint32_t>(off);
      const bool go_on = kind->take(rec, block, ctx, args);
      if (guard_spent(ctx)) {
        // Said once, where the walk that met it stopped.
        if (!has_work_limit_fault(rec))
          add_record_fault(rec, parse_fault{"extra-data block", off, k_fault_work_limit});
        return off + block.size;
      }
      if (!go_on) return off;
    } else if (too_small) {
      add_record_fault(rec,
                       parse_fault{"extra-data block", off, "too small for its kind's fields"});
    }
    off += block.size;
  }
  return off;
}

}  // namespace vk
