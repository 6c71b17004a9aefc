#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"
#include "shell/guid_names.h"
#include "shell/idlist.h"
#include "shell/property_keys.h"
#include "shell/property_store.h"
#include "shell/propstore_layout.h"

namespace vk {

namespace {

namespace st = propstore::storage;
namespace iv = propstore::int_value;
namespace nv = propstore::named_value;
namespace pl = propstore::property_list;

const char k_byte_value_prefix[] = "b816936b_";
// The type a byte value is filed under (a VT_BLOB or VT_VECTOR|VT_UI1).
constexpr uint32_t k_byte_value_type = 4113;

byte_view view_of(const uint8_t* p, int64_t available) {
  return byte_view(p, p && available > 0 ? static_cast<size_t>(available) : 0);
}

// The storage size as every walk sees it: all 32 bits when the storage fits
// in its data (a storage of 64 KiB or more is read whole), else its low 16
// bits, as a size with stray high bytes has always been read.
int64_t declared_storage_size(byte_view v) {
  const uint32_t size = v.u32_or_zero(st::size);
  return size <= v.size() ? int64_t{size} : int64_t{v.u16_or_zero(st::size)};
}

guid guid_at(byte_view v, size_t at) {
  guid g;
  g.set(v.data() + at);
  return g;
}

bool is_string_named_fmtid(byte_view v) {
  return v.starts_with(st::fmtid, string_named_set().m_bytes, 16);
}

// The storage test, inline for the walk that makes it on every storage.
inline bool storage_at(const uint8_t* p, int64_t available) {
  if (!p || available < static_cast<int64_t>(st::header_size)) return false;
  const byte_view v = view_of(p, available);
  const int64_t size = declared_storage_size(v);
  return size >= static_cast<int64_t>(st::header_size) && size <= available &&
         v.u32_or_zero(st::version) == st::version_value;
}

// The two kind tests on v, all of available bytes, known to pass
// is_property_storage.
bool string_named_kind(byte_view v, int64_t available) {
  // The first field of the set's FMTID rejects most storages at once.
  if (available < st::min_string_named || v.u32_or_zero(st::fmtid) != k_string_named_set_data1)
    return false;
  const int64_t size = declared_storage_size(v);
  if (size < st::min_string_named) return false;
  const int64_t first = v.u32_or_zero(st::values + nv::size);
  return first <= size && int64_t{v.u32_or_zero(st::values + nv::name_size)} + 5 <= first &&
         is_string_named_fmtid(v);
}

inline bool integer_named_kind(byte_view v, int64_t available) {
  if (available <= st::short_integer_named)
    return available >= st::min_integer_named && v.u32_or_zero(st::values + iv::size) == 0;
  return v.u32_or_zero(st::values + iv::size) == 0 ||
         is_valid_vartype(v.i16_or_zero(st::values + iv::vartype));
}

}  // namespace

bool holds_values_only(const shell_item_record& r) {
  // Every test is made (no early exit): most records pass them all, and
  // the tests then cost no branches.
  const bool lists_empty =
      (r.found_properties.size() | r.children.size() | r.embedded_lists.size() | r.names.size() |
       r.guids.size() | r.guid_names.size() | r.date_texts.size() | r.raw.size()) == 0;
  const bool texts_empty = (r.primary_name.size() | r.long_name.size() | r.localized_name.size() |
                            r.extra_name.size()) == 0;
  const bool numbers_zero =
      (r.flags | r.size | r.accessed | r.modified | r.created | r.mft_entry | r.mft_sequence |
       r.item_offset | (r.item_type ^ 0xFFFFu) | (r.is_directory ^ 1u) | (r.not_parsed ^ 1u)) == 0;
  return lists_empty & texts_empty & numbers_zero;
}

namespace {

// Folds the record of one storage into the item: its properties, item lists
// and nested lists move over; the rest merges as usual. True when part is
// left cleared.
bool fold_into(shell_item_record& rec, shell_item_record& part) {
  const bool values_only = holds_values_only(part);
  // Into an empty collection the storage's own moves whole, in its order.
  if (part.properties.empty()) {
    // Nothing to move.
  } else if (rec.properties.empty()) {
    rec.properties.swap(part.properties);
  } else {
    rec.properties.merge(part.properties);
  }
  if (values_only) {
    // Merging the rest would add nothing.
    clear_item_property_fields(part);
    return true;
  }
  if (rec.found_properties.empty())
    rec.found_properties.swap(part.found_properties);
  else
    rec.found_properties.merge(part.found_properties);
  // Into an empty list the storage's own moves whole, elements in place.
  append_moved(rec.children, std::move(part.children));
  part.children.clear();
  append_moved(rec.embedded_lists, std::move(part.embedded_lists));
  part.embedded_lists.clear();
  merge_shell_item(rec, std::move(part));
  return false;
}

}  // namespace

// The records storages are parsed into: one per nesting level, kept in the
// scratch from storage to storage so that their lists keep their room.
struct storage_records {
  std::vector<std::unique_ptr<shell_item_record>> records;
  size_t used = 0;
};

template <>
void scratch_drop<storage_records>::operator()(storage_records* part) const noexcept {
  delete part;
}

namespace {

// The record of one storage, cleared on release. A large byte run's room is
// given back.
class storage_record {
 public:
  explicit storage_record(storage_records& kept) : m_kept(kept) {
    if (kept.used == kept.records.size()) {
      kept.records.push_back(std::make_unique<shell_item_record>());
      kept.records.back()->prop_lists_unread = true;
    }
    m_rec = kept.records[kept.used++].get();
  }
  ~storage_record() {
    if (!m_cleared) m_rec->clear();
    m_rec->prop_shown_only = false;
    if (m_rec->prop_bytes.capacity() > k_kept_bytes) std::vector<uint8_t>().swap(m_rec->prop_bytes);
    --m_kept.used;
  }
  storage_record(const storage_record&) = delete;
  storage_record& operator=(const storage_record&) = delete;
  shell_item_record& get() { return *m_rec; }
  // The record is known to be in its cleared state.
  void set_cleared() { m_cleared = true; }

 private:
  static constexpr size_t k_kept_bytes = 64 * 1024;
  storage_records& m_kept;
  shell_item_record* m_rec;
  bool m_cleared = false;
};

// The storage's first byte value becomes the items it lists, and leaves the
// property collection, when it holds a whole ID list (items up to its
// terminator); any other bytes stay a property value, as any value does.
void take_id_list_value(parse_ctx& ctx, shell_item_record& temp, bool string_named,
                        const cmd_params& opts) {
  auto it = temp.properties.lower_bound(k_byte_value_prefix);
  // Texts whose key starts alike may stand before it.
  while (it != temp.properties.end() && it->first.starts_with(k_byte_value_prefix) &&
         it->second.vartype != k_byte_value_type)
    ++it;
  const size_t skip = string_named ? 2 : 0;
  if (it != temp.properties.end() && it->first.starts_with(k_byte_value_prefix) &&
      it->second.bytes.size() > 2) {
    std::string& bytes = it->second.bytes;
    const uint8_t* list = reinterpret_cast<const uint8_t*>(bytes.data()) + skip;
    parse_guard* guard = ctx.guard;
    const size_t claimed = guard ? guard->claimed_ranges() : 0;
    // Damage inside bytes that are no ID list is no damage of the storage.
    uint32_t& damage = ctx.space().inner_damage;
    const uint32_t damage_before = damage;
    parse_ctx fresh;
    fresh.guard = guard;
    fresh.scratch = &ctx.space();
    shell_item_list items;
    parse_fault misframed;
    const bool listed = parse_idlist(items, list, static_cast<int64_t>(bytes.size() - skip), false,
                                     false, fresh, opts, &misframed) &&
                        !misframed;
    damage = damage_before;
    // Streams expanded in these bytes keep them until the parse ends.
    const bool claimed_more = guard && guard->claimed_ranges() != claimed;
    if (listed) {
      if (claimed_more) guard->keep(std::move(bytes));
      append_moved(temp.children, std::move(items));
      temp.properties.erase(it);
    } else if (claimed_more) {
      std::string shown = bytes;
      guard->keep(std::move(bytes));
      bytes = std::move(shown);
    }
  }
  temp.found_properties.clear();
}

bool integer_named_values(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                          int64_t size, int64_t end, const cmd_params& opts,
                          parse_fault* fault = nullptr);
bool string_named_values(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                         int64_t size, const cmd_params& opts, parse_fault* fault = nullptr);

constexpr const char* k_value_past_storage = "value size runs past the storage";
constexpr const char* k_value_below_header = "value size below its header";
constexpr const char* k_data_past_value = "value's data runs past its declared size";
constexpr const char* k_bytes_past_values = "bytes past the last value hold data; not read";
constexpr const char* k_type_past_storage = "value's type lies past the storage";
constexpr const char* k_size_past_data = "declared size runs past the value's data";
constexpr const char* k_data_undecoded = "value's data does not decode within its size";
constexpr const char* k_no_property_type = "value's type is no property type";
constexpr const char* k_zeros_between_values = "zeros where a value's size belongs";
constexpr const char* k_terminator_cut = "the values' terminator is cut short";
constexpr const char* k_terminator_missing =
    "the values fill the storage: its terminator is missing";

// Keeps the first fault a walk meets: the later ones follow from it.
void note_fault(parse_fault* fault, uint64_t offset, const char* cause) {
  if (fault && !*fault) *fault = parse_fault{"property value", offset, cause};
}

// Whether v holds a byte other than zero in [from, to), read four at a time.
bool nonzero_in(byte_view v, int64_t from, int64_t to) {
  const int64_t last = std::min(to, static_cast<int64_t>(v.size()));
  int64_t i = std::max<int64_t>(from, 0);
  for (; i + 4 <= last; i += 4)
    if (v.u32_or_zero(static_cast<size_t>(i)) != 0) return true;
  for (; i < last; ++i)
    if (v.u8_or_zero(static_cast<size_t>(i)) != 0) return true;
  return false;
}

// A set of VARTYPE low bytes (below 128) as a bit mask.
using type_set = std::array<uint64_t, 2>;
constexpr type_set types_of(std::initializer_list<int> types) {
  type_set set{};
  for (int t : types) set[t / 64] |= uint64_t{1} << (t % 64);
  return set;
}
constexpr bool in_set(const type_set& set, unsigned low) {
  return low < 128 && ((set[low / 64] >> (low % 64)) & 1) != 0;
}

// Whether vartype is a type a serialized property may hold: the scalar
// types, and those of them that may form a vector (0x1000) or an array
// (0x2000).
bool property_type(uint16_t vartype) {
  static constexpr type_set k_scalar =
      types_of({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A, 0x0B,
                0x0E, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x1E, 0x1F,
                0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49});
  static constexpr type_set k_vector =
      types_of({0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x10,
                0x11, 0x12, 0x13, 0x14, 0x15, 0x1E, 0x1F, 0x40, 0x47, 0x48});
  static constexpr type_set k_array =
      types_of({0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x0E, 0x10, 0x11, 0x12,
                0x13, 0x16, 0x17});
  const unsigned high = vartype >> 8;
  return in_set(high == 0      ? k_scalar
                : high == 0x10 ? k_vector
                               : k_array,
                vartype & 0xFF) &&
         (high == 0 || high == 0x10 || high == 0x20);
}

// Whether a value of vartype is decoded here (alone or as a vector), or
// holds no data (empty, null).
bool read_type(uint16_t vartype) {
  static constexpr type_set k_read =
      types_of({0x00, 0x01, 0x03, 0x05, 0x07, 0x08, 0x0A, 0x0B, 0x10, 0x11,
                0x13, 0x14, 0x15, 0x16, 0x1E, 0x1F, 0x40, 0x41, 0x42, 0x48});
  return ((vartype >> 8) == 0 || (vartype >> 8) == 0x10) && in_set(k_read, vartype & 0xFF);
}

// Whether the data at `data` of v, decoded within the rest of v, takes more
// than its window: a size cut short, when the value read within its window
// took less. The value is decoded only to be measured; nothing is filed.
bool data_runs_past(parse_ctx& ctx, byte_view v, int64_t data, int64_t window, uint16_t vartype) {
  const int64_t available = static_cast<int64_t>(v.size()) - data;
  if (available <= window) return false;
  const uint64_t offset = ctx.offset;
  typed_value_scratch scratch(ctx.space());
  typed_value& tv = scratch.get();
  const bool parsed = parse_typed_value(tv, ctx, v.data() + data, available, vartype);
  ctx.offset = offset;
  return parsed && tv.consumed > window;
}

// Whether a value of vartype that took taken bytes of its window may have
// stopped for want of room: a kind decoded here that took nothing (a number
// or a byte run is taken whole or not at all), or a text.
bool may_want_room(uint16_t vartype, int64_t taken) {
  const unsigned low = vartype & 0xFF;
  return read_type(vartype) && (taken == 0 || low == 8 || low == 30 || low == 31);
}

// Says in fault, at `at`, why the value whose data lies at data did not
// take its window of window bytes (its declared size less its header; below
// zero when the size is below the header): it took taken bytes (the zeros
// behind it included; none when not decoded), and its VARTYPE lies at
// type_at. Bytes other than zeros that it took past its end, or that it
// would take when read on past it, mean its size was cut; left between its
// data and its end, that the size was grown or the data is not what its
// type says. Out of line: sound values take their windows exactly.
[[gnu::noinline]] void note_value_fault(parse_ctx& ctx, parse_fault* fault, byte_view v,
                                        uint64_t at, int64_t data, int64_t window, int64_t taken,
                                        size_t type_at) {
  if (!fault || *fault) return;
  if (window < 0) {
    note_fault(fault, at, k_value_below_header);
    return;
  }
  const int64_t end = data + window, data_end = data + taken;
  if (data_end > end) {
    if (data > end || nonzero_in(v, end, data_end)) note_fault(fault, at, k_data_past_value);
    return;
  }
  const uint16_t vartype = v.u16_or_zero(type_at);
  if (may_want_room(vartype, taken) && data_runs_past(ctx, v, data, window, vartype)) {
    note_fault(fault, at, k_data_past_value);
    return;
  }
  if (!nonzero_in(v, data_end, end)) return;
  // A type that is not decoded here (a 16-bit number, say) leaves its data
  // unread without fault.
  if (taken > 0)
    note_fault(fault, at, k_size_past_data);
  else if (!property_type(vartype))
    note_fault(fault, at, k_no_property_type);
  else if (read_type(vartype) || is_array_vartype(vartype))
    note_fault(fault, at, k_data_undecoded);
}

constexpr uint16_t k_stream_type = 0x42;

// A further value of an integer-named storage (at position of v, remaining
// bytes of it from there) that did not take its own size (it took taken):
// one whose data runs past its size, or whose size is below its header, is
// said and read again within the rest of the storage, as it was read before
// its size was checked; the rest is said as note_value_fault says it.
[[gnu::noinline]] void further_value_fault(parse_ctx& ctx, shell_item_record& rec,
                                           parse_fault* fault, byte_view v, int64_t position,
                                           int64_t remaining, int64_t taken, uint64_t data_offset,
                                           const guid* fmtid, const cmd_params& opts) {
  const byte_view value = v.tail(static_cast<size_t>(position));
  const int64_t value_size = value.u32_or_zero(iv::size);
  const uint16_t vartype = value.u16_or_zero(iv::vartype);
  if (vartype == k_stream_type || value_size > remaining) return;
  const int64_t data = position + iv::data;
  const bool below = value_size < iv::header_size;
  const bool past = !below && taken < value_size - iv::header_size &&
                    may_want_room(vartype, taken) &&
                    data_runs_past(ctx, v, data, value_size - iv::header_size, vartype);
  if (!below && !past) {
    note_value_fault(ctx, fault, v, static_cast<uint64_t>(position), data,
                     value_size - iv::header_size, taken,
                     static_cast<size_t>(position) + iv::vartype);
    return;
  }
  note_fault(fault, static_cast<uint64_t>(position),
             below ? k_value_below_header : k_data_past_value);
  ctx.offset = data_offset;
  ctx.consumed = 0;
  add_item_property(rec, ctx, value.data() + iv::data, remaining - iv::header_size, vartype,
                    value.u16_or_zero(iv::pid), fmtid, opts);
}

// Says in fault the bytes other than zeros in rest, which no value holds
// (at: where it starts). Out of line: a sound storage leaves a 4-byte
// terminator there, tested first.
[[gnu::noinline]] void note_trailing(parse_fault* fault, byte_view rest, int64_t at) {
  if (fault && !*fault && nonzero_in(rest, 0, static_cast<int64_t>(rest.size())))
    *fault = parse_fault{"property value", static_cast<uint64_t>(at), k_bytes_past_values};
}

// Whether the bytes left behind the values are nothing but a terminator.
inline bool only_terminator(const uint8_t* rest, int64_t left) {
  return left == 4 && load_le32(rest) == 0;
}

// Bytes behind the values that are no terminator: too few for one (the last
// value's size ran into it, or the values fill the storage), or data.
void note_not_terminator(parse_fault* fault, byte_view rest, int64_t at) {
  if (rest.size() < 4)
    note_fault(fault, static_cast<uint64_t>(at),
               rest.empty() ? k_terminator_missing : k_terminator_cut);
  note_trailing(fault, rest, at);
}

// A storage of the string-named set that fails the kind test only by its
// first value: read as string-named, so that the damaged value is said.
bool damaged_string_named(byte_view v, int64_t storage_size) {
  return v.u32_or_zero(st::fmtid) == k_string_named_set_data1 &&
         storage_size >= st::min_string_named && is_string_named_fmtid(v);
}

bool storages_body(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t size,
                   const cmd_params& opts, bool* values_only = nullptr,
                   parse_fault* fault = nullptr) {
  guard_level level(ctx, size);
  if (!level) {
    ctx.consumed = 0;
    return false;
  }
  const byte_view all = view_of(p, size);
  uint64_t base = ctx.offset;
  bool string_named = false;
  bool result = false;
  size_t at = 0;  // the current storage, from p
  int64_t remaining = size;
  shell_scratch& space = ctx.space();
  storage_records& kept = made_part(space.storages);
  shown_values::list& flat_list = shown_values::list_of(space);
  for (;;) {
    if (!p || !storage_at(p + at, remaining)) {
      if (fault && p && remaining > 0)
        *fault = parse_fault{"property storage", at, "not a property storage"};
      break;
    }
    if (!guard_charge(ctx, 1)) {
      if (fault) *fault = parse_fault{"property storage", at, k_fault_work_limit};
      break;
    }
    const byte_view current = all.tail(at);
    storage_record scratch(kept);
    shell_item_record& temp = scratch.get();
    temp.prop_shown_only = rec.prop_shown_only;
    // The flat values filed from here are the storage's: dropped with it
    // unless it is folded. Only records parsed for a report's lists have
    // them (and the storages within theirs).
    struct flat_values {
      shown_values::list& list;
      bool on;
      size_t mark = on ? shown_values::mark(list) : 0;
      bool folded = false;
      ~flat_values() {
        if (on && !folded) shown_values::drop_from(list, mark);
      }
    } flat{flat_list, rec.prop_shown_only};
    ctx.offset = base;
    const uint64_t filings_before = shown_values::record_filings(flat_list);
    const int64_t storage_size = declared_storage_size(current);
    // The walk's test above holds for current: the kind tests need not make
    // it again.
    if (string_named_kind(current, remaining) || damaged_string_named(current, storage_size)) {
      parse_fault value_fault;
      const bool parsed = guarded(
          ctx,
          [&] {
            return string_named_values(ctx, temp, current.data(), storage_size, opts,
                                       fault ? &value_fault : nullptr);
          },
          [] {});
      if (value_fault) {
        value_fault.offset += at;
        *fault = value_fault;
      }
      if (!parsed) {
        ctx.offset = base;
        break;
      }
      string_named = true;
    } else if (integer_named_kind(current, remaining)) {
      // Past the short-storage bound the test within the storage's own size
      // reads the same bytes and gives the same answer: it is not made again.
      parse_fault value_fault;
      const bool parsed =
          storage_size > st::short_integer_named
              ? guarded(
                    ctx,
                    [&] {
                      return integer_named_values(ctx, temp, current.data(), storage_size,
                                                  storage_size, opts,
                                                  fault ? &value_fault : nullptr);
                    },
                    [] {})
              : parse_integer_named_storage(ctx, temp, current.data(), storage_size, opts);
      if (value_fault) {
        value_fault.offset += at;
        *fault = value_fault;
      }
      if (!parsed) {
        ctx.offset = base;
        break;
      }
      string_named = false;
    } else {
      if (fault) *fault = parse_fault{"property storage", at, "values of no known form"};
      ctx.offset = base;
      break;
    }
    // An integer-named storage with a first value whose values all were
    // skipped or kept flat left its record as it was, clear: its collection
    // is empty, and there is nothing to fold.
    const bool untouched = !string_named && current.u32_or_zero(st::values + iv::size) != 0 &&
                           shown_values::record_filings(flat_list) == filings_before;
    if (!untouched &&
        (!temp.properties.empty() || (flat.on && shown_values::any_from(flat_list, flat.mark))))
      take_id_list_value(ctx, temp, string_named, opts);
    flat.folded = true;
    if (untouched) {
      scratch.set_cleared();
    } else {
      // Unknown until the fold has returned (it may throw half-way).
      const bool was_values_only = values_only && *values_only;
      if (values_only) *values_only = false;
      if (fold_into(rec, temp)) {
        scratch.set_cleared();
        if (values_only) *values_only = was_values_only;
      }
    }
    ctx.offset = base;
    remaining -= storage_size;
    if (remaining < st::room_for_next - 1) break;
    base += static_cast<uint64_t>(storage_size);
    at += static_cast<size_t>(storage_size);
    // Padding between storages: the next size lies where its first value's
    // size would be zero.
    const int64_t before_skip = remaining;
    int64_t skipped = 0;
    while (remaining > st::room_for_next - 2 && all.u32_or_zero(at + st::values + iv::size) == 0) {
      at += 2;
      base += 2;
      skipped += 2;
      remaining -= 2;
    }
    if (remaining < st::room_for_next) break;
    result = true;
    if (skipped > 0 && !is_property_storage(p + at, remaining)) {
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
  return integer_named_values(ctx, rec, storage, size,
                              declared_storage_size(view_of(storage, size)), opts);
}

// The values of a storage that passed is_integer_named_storage within size;
// end is its declared size as the walks see it (at most size).
bool integer_named_values(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                          int64_t size, int64_t end, const cmd_params& opts, parse_fault* fault) {
  const byte_view v = view_of(storage, size);
  const uint64_t base = ctx.offset;
  const guid fmtid = guid_at(v, st::fmtid);
  const int64_t first = v.u32_or_zero(st::values + iv::size);
  if (first == 0) {
    add_item_guid(rec, fmtid);
    return true;
  }
  if (first > size || first > size - static_cast<int64_t>(st::header_size)) {
    if (fault) *fault = parse_fault{"property value", st::values, k_value_past_storage};
    return false;
  }
  // A first value smaller than its own header has no data window.
  if (first < iv::header_size) {
    note_fault(fault, st::values, k_value_below_header);
    return true;
  }
  ctx.offset = base + st::values + iv::data;
  ctx.consumed = 0;
  // Its header lies within it: the reads below need no test.
  const byte_view first_value = view_of(storage + st::values, first);
  const int64_t window = first - iv::header_size;
  const int64_t taken = add_item_property(rec, ctx, first_value.data() + iv::data, window,
                                          first_value.u16_or_zero(iv::vartype),
                                          first_value.u16_or_zero(iv::pid), &fmtid, opts);
  if (taken != window) [[unlikely]]
    note_value_fault(ctx, fault, v, st::values, st::values + iv::data, window, taken,
                     st::values + iv::vartype);
  // A type no property holds is read by its low byte, and said.
  if (!property_type(first_value.u16_or_zero(iv::vartype))) [[unlikely]]
    note_fault(fault, st::values, k_no_property_type);
  int64_t position = static_cast<int64_t>(st::values) + first;
  int64_t remaining = end - position;
  // Zeros of a terminator's length or more that end the values hold it.
  bool terminated = false;
  while (remaining >= iv::min_further) {
    if (!guard_charge(ctx, 1)) break;
    const int64_t zeros_at = position;
    while (remaining >= 2 && v.u16_or_zero(static_cast<size_t>(position)) == 0) {
      position += 2;
      remaining -= 2;
    }
    if (remaining < iv::header_size) {
      terminated = position - zeros_at >= 4;
      break;
    }
    // Values lie back to back: zeros where a size belongs, a value behind
    // them, mean the one before took more or fewer bytes than its size says.
    if (position != zeros_at && v.u32_or_zero(static_cast<size_t>(position)) != 0) [[unlikely]]
      note_fault(fault, static_cast<uint64_t>(zeros_at), k_zeros_between_values);
    const int64_t value_size = v.u32_or_zero(static_cast<size_t>(position));
    if (value_size > remaining)
      note_fault(fault, static_cast<uint64_t>(position), k_value_past_storage);
    if (value_size == 0) break;
    // A value is read within its own size, as far as its storage goes (its
    // storage's size is its only bound); a stream's data is the rest of its
    // storage.
    const byte_view value = view_of(storage + position, remaining);
    const uint16_t vartype = value.u16_or_zero(iv::vartype);
    ctx.offset = base + static_cast<uint64_t>(position) + iv::header_size;
    ctx.consumed = 0;
    const int64_t further = add_item_property(
        rec, ctx, value.data() + iv::data,
        (vartype == k_stream_type ? remaining : std::min(value_size, remaining)) - iv::header_size,
        vartype, value.u16_or_zero(iv::pid), &fmtid, opts);
    if (further + iv::header_size != value_size) [[unlikely]]
      further_value_fault(ctx, rec, fault, v, position, remaining, further,
                          base + static_cast<uint64_t>(position) + iv::header_size, &fmtid, opts);
    if (!property_type(vartype)) [[unlikely]]
      note_fault(fault, static_cast<uint64_t>(position), k_no_property_type);
    // One that runs past its storage (said above) ends it.
    const int64_t step = std::min(value_size, remaining);
    position += step;
    remaining -= step;
  }
  // What the walk left behind holds no value; fewer bytes than the
  // terminator's mean the last value's size ran into it.
  if (!only_terminator(storage + position, remaining)) [[unlikely]] {
    const byte_view rest = view_of(storage + position, std::max<int64_t>(remaining, 0));
    if (terminated)
      note_trailing(fault, rest, position);
    else
      note_not_terminator(fault, rest, position);
  }
  return true;
}

// A string-named value's size and reserved byte, at the start of value
// with remaining bytes of its storage from there.
bool framed_value(byte_view value, int64_t remaining) {
  const int64_t value_size = value.u32_or_zero(nv::size);
  return remaining >= nv::min_size && value_size >= nv::min_size && value_size <= remaining &&
         value.u8_or_zero(nv::reserved) == 0;
}

// The name lies inside its value and ends in its NUL: a name size that
// does not would take the value's type from the wrong bytes.
bool name_fits(byte_view value, int64_t value_size) {
  const int64_t name_size = value.u32_or_zero(nv::name_size);
  return name_size >= 2 && name_size % 2 == 0 &&
         static_cast<int64_t>(nv::name) + name_size <= value_size &&
         value.u16_or_zero(nv::name + static_cast<size_t>(name_size) - 2) == 0;
}

// Files the value at `at` of the storage v (base: the storage's offset,
// position: the value's); false when its type lies past the storage. Data
// that runs past the value's own size is said in fault.
bool string_named_value(parse_ctx& ctx, shell_item_record& rec, byte_view v, int64_t at,
                        uint64_t base, uint64_t position, const cmd_params& opts,
                        parse_fault* fault) {
  const byte_view value = v.tail(static_cast<size_t>(at));
  const int64_t size = static_cast<int64_t>(v.size());
  const int64_t name_size = value.u32_or_zero(nv::name_size);
  ctx.offset = position;
  std::string name;
  utf16_to_utf8(value.data() + nv::name, static_cast<size_t>(name_size), name, true);
  int64_t q = at + static_cast<int64_t>(nv::name) + name_size;
  int64_t r = size - q;
  const int64_t name_end = q;
  while (r > 0 && v.u8_or_zero(static_cast<size_t>(q)) == 0) {
    ++q;
    --r;
  }
  if (r < nv::min_tail) return false;
  // The type follows the name: zeros between them mean the name's size or
  // its bytes moved.
  if (q != name_end) [[unlikely]]
    note_fault(fault, static_cast<uint64_t>(at), "zeros between a value's name and its type");
  const int64_t data = q + static_cast<int64_t>(nv::tail_data);
  ctx.offset = base + static_cast<uint64_t>(data);
  typed_value_scratch scratch(ctx.space());
  typed_value& tv = scratch.get();
  const uint16_t vartype = v.u16_or_zero(static_cast<size_t>(q) + nv::tail_vartype);
  parse_typed_value(tv, ctx, v.data() + data, size - data, vartype);
  // The data is read within the rest of the storage (a stream's runs to its
  // end): one that does not end at the value's own end is looked at.
  const int64_t value_end = at + value.u32_or_zero(nv::size);
  if (data + tv.consumed != value_end && vartype != k_stream_type) [[unlikely]] {
    if (data > value_end)
      note_fault(fault, static_cast<uint64_t>(at), k_data_past_value);
    else
      note_value_fault(ctx, fault, v, static_cast<uint64_t>(at), data, value_end - data,
                       tv.consumed, static_cast<size_t>(q) + nv::tail_vartype);
  }
  if (!property_type(vartype)) [[unlikely]]
    note_fault(fault, static_cast<uint64_t>(at), k_no_property_type);
  property_value pv(&string_named_set(), 0);
  ctx.space().rooms.take(pv);
  pv.name = name;
  pv.name2 = std::move(name);
  pv.string_named = 1;
  pv.own_name = 1;
  file_typed_value(rec, ctx, tv, std::move(pv), opts);
  return true;
}

bool string_named_body(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage, int64_t size,
                       const cmd_params& opts) {
  if (!storage || size <= 0 || !is_string_named_storage(storage, size)) return false;
  return string_named_values(ctx, rec, storage, size, opts);
}

// The values of a storage of the string-named set, size bytes at storage.
// A value whose name size does not fit its name is said and stepped over by
// its own size; one whose own size cannot be right ends the walk, said.
bool string_named_values(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                         int64_t size, const cmd_params& opts, parse_fault* fault) {
  const byte_view v = view_of(storage, size);
  const uint64_t base = ctx.offset;
  // What property_storage_fmtid_text leaves in the context; its text would
  // not be kept here.
  skip_item_header(storage, ctx);
  ctx.consumed += 8;
  uint64_t position = base + st::values;
  ctx.offset = position;
  bool result = false;
  int64_t at = st::values;  // cursor, from the storage start
  int64_t remaining = size - at;
  for (;;) {
    if (!guard_charge(ctx, 1)) break;
    const uint64_t offset_before = ctx.offset;
    const uint32_t consumed_before = ctx.consumed;
    const int64_t n = parse_beef_block_list(rec, storage + at, remaining, ctx, opts);
    if (n > 0 && n <= remaining) {
      at += n;
      position += static_cast<uint64_t>(n);
      remaining -= n;
      ctx.offset = offset_before + static_cast<uint64_t>(n);
      ctx.consumed = consumed_before + static_cast<uint32_t>(n);
    }
    const byte_view value = v.tail(static_cast<size_t>(at));
    const int64_t value_size = value.u32_or_zero(nv::size);
    if (!framed_value(value, remaining)) {
      // A size of zero ends the values; past it the storage holds nothing.
      if (value_size == 0) {
        if (!only_terminator(storage + at, remaining))
          note_trailing(fault, v.tail(static_cast<size_t>(at)), at);
      } else if (fault && !*fault) {
        *fault =
            parse_fault{"property value", static_cast<uint64_t>(at),
                        value_size > remaining ? k_value_past_storage : "not a string-named value"};
      }
      break;
    }
    if (name_fits(value, value_size)) {
      if (!string_named_value(ctx, rec, v, at, base, position, opts, fault)) {
        note_fault(fault, static_cast<uint64_t>(at), k_type_past_storage);
        break;
      }
      result = true;
    } else if (fault && !*fault) {
      *fault = parse_fault{"property value", static_cast<uint64_t>(at),
                           "name size does not fit its name"};
    }
    at += value_size;
    position += static_cast<uint64_t>(value_size);
    remaining -= value_size;
    ctx.offset = position;
    if (remaining <= nv::min_size) {
      if (!only_terminator(storage + at, remaining))
        note_not_terminator(fault, v.tail(static_cast<size_t>(at)), at);
      break;
    }
  }
  return result;
}

}  // namespace

bool is_property_storage(const uint8_t* p, int64_t available) {
  return storage_at(p, available);
}

bool is_string_named_storage(const uint8_t* p, int64_t available) {
  return is_property_storage(p, available) && string_named_kind(view_of(p, available), available);
}

bool is_integer_named_storage(const uint8_t* p, int64_t available) {
  return is_property_storage(p, available) && integer_named_kind(view_of(p, available), available);
}

bool is_embedded_property_storage(const uint8_t* p, int64_t available) {
  if (!p || available < st::min_embedded) return false;
  const byte_view v = view_of(p, available);
  const int64_t size = v.u32_or_zero(st::size);
  if (size < st::min_embedded || size > available ||
      v.u32_or_zero(st::version) != st::version_value)
    return false;
  return is_string_named_fmtid(v) || is_valid_vartype(v.i16_or_zero(st::values + iv::vartype));
}

bool is_string_list_entry(const uint8_t* p, int64_t available) {
  // 16 bytes, the u32 byte length of the text, the UTF-16 text.
  if (!p || available < 21) return false;
  const int64_t length = view_of(p, available).u32_or_zero(16);
  return length != 0 && length + 20 <= available;
}

bool parse_property_storages(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p, int64_t size,
                             const cmd_params& opts) {
  // Storages inside a shell item: damage found here is the item's walk's to
  // say.
  parse_fault damage;
  const bool read = guarded(
      ctx, [&] { return storages_body(ctx, rec, p, size, opts, nullptr, &damage); }, [] {});
  if (damage) ++ctx.space().inner_damage;
  return read;
}

bool parse_property_storages_noting(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                                    int64_t size, const cmd_params& opts, bool& values_only,
                                    parse_fault* fault) {
  fault = take_stop(ctx, fault);
  return guarded(
      ctx, [&] { return storages_body(ctx, rec, p, size, opts, &values_only, fault); }, [] {});
}

bool parse_integer_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                 int64_t size, const cmd_params& opts) {
  return guarded(
      ctx, [&] { return integer_named_body(ctx, rec, storage, size, opts); }, [] {});
}

bool parse_integer_named_value(parse_ctx& ctx, shell_item_record& rec, const guid* fmtid,
                               const uint8_t* value, int64_t available, const cmd_params& opts) {
  if (!value || available < iv::header_size) return false;
  const byte_view v = view_of(value, available);
  ctx.offset += iv::header_size;
  ctx.consumed = 0;
  return add_item_property(rec, ctx, value + iv::data, available - iv::header_size,
                           v.u16_or_zero(iv::vartype), v.u16_or_zero(iv::pid), fmtid, opts) > 0;
}

bool parse_string_named_storage(parse_ctx& ctx, shell_item_record& rec, const uint8_t* storage,
                                int64_t size, const cmd_params& opts) {
  return guarded(
      ctx, [&] { return string_named_body(ctx, rec, storage, size, opts); }, [] {});
}

bool parse_storage_block(parse_ctx& ctx, shell_item_record& rec, const uint8_t* p,
                         int64_t available, const cmd_params& opts) {
  if (!p || available <= 0 || !is_embedded_property_storage(p, available)) return false;
  return parse_property_storages(ctx, rec, p, view_of(p, available).u32_or_zero(st::size), opts);
}

uint32_t parse_embedded_property_list(shell_item_record& rec, const uint8_t* list, int64_t size,
                                      parse_ctx& ctx, const cmd_params& opts) {
  if (!is_property_list_header(list, size)) return 0;
  guarded(
      ctx,
      [&] {
        const byte_view v = view_of(list, size);
        add_item_guid(rec, list + pl::guid);
        ctx.offset += pl::header_size;
        size_t at = pl::entries;
        int64_t remaining = size - static_cast<int64_t>(pl::header_size);
        while (remaining >= pl::entry::min_size && v.u32_or_zero(at + pl::entry::pid) != 0) {
          if (!guard_charge(ctx, 1)) break;
          const guid fmtid = guid_at(v, at + pl::entry::fmtid);
          const int64_t n = add_item_property(rec, ctx, list + at + pl::entry::data,
                                              remaining - static_cast<int64_t>(pl::entry::data),
                                              v.u16_or_zero(at + pl::entry::vartype),
                                              v.u16_or_zero(at + pl::entry::pid), &fmtid, opts);
          remaining = remaining - static_cast<int64_t>(pl::entry::data) - n;
          if (remaining < 1) break;
          at += pl::entry::data + static_cast<size_t>(n);
        }
      },
      [] {});
  return 0;
}

void property_storage_fmtid_text(const uint8_t* storage, parse_ctx& ctx, std::string& out) {
  guarded(
      ctx,
      [&] {
        guid fmtid;
        fmtid.set(storage + st::fmtid);
        out = clsid_text(&fmtid);
        skip_item_header(storage, ctx);
        ctx.consumed += 8;
      },
      [&] { out.clear(); });
}

}  // namespace vk
