#include "shell/property_store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "shell/guid_names.h"
#include "shell/idlist_text.h"
#include "shell/property_keys.h"
#include "shell/shell_kernels.h"

namespace vk {

namespace {

constexpr uint32_t k_tag_dword = 0x26cbc756;
constexpr uint32_t k_tag_qword = 0x94b5d121;
constexpr uint32_t k_tag_filetime = 0xf0b57858;
constexpr uint32_t k_tag_date = 0x56e2ac24;
constexpr uint32_t k_tag_bytes = 0xb816936b;

// The key tag and filed variant type of a 64-bit value kind (qword, FILETIME,
// date).
struct wide_number_kind {
  uint32_t tag;
  uint32_t vartype;
};
constexpr wide_number_kind wide_kind(int kind) {
  return kind == tv_qword      ? wide_number_kind{k_tag_qword, 21}
         : kind == tv_filetime ? wide_number_kind{k_tag_filetime, 64}
                               : wide_number_kind{k_tag_date, 7};
}

// Numbers and byte runs have no text of their own to key on: the kind's tag
// (8 hex digits), "_" and the file position (at least 8) make the key unique.
// Written into out (room for the widest key); returns its length.
size_t position_key(char (&out)[25], uint32_t tag, uint64_t offset) {
  static constexpr char digits[] = "0123456789abcdef";
  // Hex digits of the offset, at least 8.
  const int width = offset >> 32 ? (67 - std::countl_zero(offset)) / 4 : 8;
  for (int i = 0; i < 8; ++i) out[i] = digits[(tag >> (28 - 4 * i)) & 0xF];
  out[8] = '_';
  char* at = out + 9 + width;
  for (int i = 0; i < width; ++i, offset >>= 4) *--at = digits[offset & 0xF];
  return 9 + static_cast<size_t>(width);
}

// out = text lower-cased (ASCII letters only).
void assign_lowered(std::string& out, const std::string& text) {
  out.assign(text);
  // Eight bytes at a time: a byte below 0x80 from 'A' to 'Z' gains 0x20.
  char* p = out.data();
  const size_t n = out.size();
  const byte_view v(reinterpret_cast<const uint8_t*>(p), n);
  constexpr uint64_t k_ones = 0x0101010101010101ull;
  auto lower8 = [&](size_t at) {
    uint64_t w;
    if (!v.block(at, w)) return;
    const uint64_t low7 = w & (0x7F * k_ones);
    const uint64_t from_a = low7 + (0x80 - 'A') * k_ones;      // top bit: >= 'A'
    const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * k_ones;  // top bit: > 'Z'
    w |= ((from_a ^ past_z) & ~w & (0x80 * k_ones)) >> 2;
    std::memcpy(p + at, &w, 8);
  };
  if (n < 8) {
    for (size_t i = 0; i < n; ++i)
      if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + ('a' - 'A'));
    return;
  }
  for (size_t i = 0; i + 8 <= n; i += 8) lower8(i);
  // The last eight bytes again: lowering twice changes nothing.
  if (n % 8 != 0) lower8(n - 8);
}

// The template's key text: its text lower-cased, built in the template's
// own buffer.
void set_lowered_key(property_value& pv) {
  assign_lowered(pv.key_text, pv.text);
}

}  // namespace

namespace shown_values {

// One single text or time: what its key text, its value text and its place
// among the values are made of.
struct entry {
  uint64_t offset = 0;
  uint64_t order = 0;
  uint64_t number = 0;
  guid fmtid;
  uint32_t pid = 0;
  uint32_t vartype = 0;
  uint32_t record = 0;
  uint32_t tag = 0;  // the position key's tag of a time
  uint8_t is_number = 0;
  uint8_t is_filetime = 0;
  uint8_t hidden = 0;  // the table's hidden mark
  bool key_made = false;
  std::string text;
  std::string key;  // made when two values share a place
};

// A value of collect's merge: in a collection or in the list.
struct placed {
  uint64_t offset;
  uint64_t order;
  size_t record;
  const std::string* key;       // a collection's value: its key
  const property_value* value;  // ... and the value; null for a flat one
  size_t flat;                  // a flat value's index
};

// Entries past used keep their texts' room for the values filed next.
struct list {
  std::vector<entry> entries;
  size_t used = 0;
  size_t high = 0;  // entries used since the outermost scope last closed
  bool open = false;
  uint32_t record = 0;
  // The merge of collect, kept for its room.
  std::vector<placed> places;
  property_value shown_value;
  // Values whose filing went past the single ones skipped or kept here (see
  // record_filings).
  uint64_t record_filings = 0;
};

}  // namespace shown_values

namespace {

// Nodes of dropped values, kept with their texts' room (up to a bound) for
// the values built next: their key texts then need no heap round trip.
// A text with k_spare_room of room or more is let go (a power of two: a
// union of rooms each below it stays below it).
constexpr size_t k_spare_most = 64;
constexpr size_t k_spare_room = 512;
static_assert((k_spare_room & (k_spare_room - 1)) == 0);

}  // namespace

// What filing keeps from value to value (a part of the shell scratch).
struct property_scratch {
  // Counts the values filed (see property_value::order).
  uint64_t filing_order = 0;
  std::vector<property_value_map::node_type> spare_nodes;
  // Makes the nodes of new values.
  property_value_map maker;
  shown_values::list flat;
};

template <>
void scratch_drop<property_scratch>::operator()(property_scratch* part) const noexcept {
  delete part;
}

namespace {

// Made once per scratch: the test for it stays inline.
inline property_scratch& scratch_of(shell_scratch& scratch) {
  if (scratch.filing) [[likely]]
    return *scratch.filing;
  return made_part(scratch.filing);
}

// Files the template under its key text once its text and key text are set.
// The last record of a consumed template takes the template itself; other
// records are copies, and the template keeps its buffers for the next
// element. Null when the parse guard refuses the record.
class filer {
 public:
  // node, when given, holds pv: the record filed last is that node itself.
  filer(parse_guard* guard, shell_item_record& rec, property_value& pv, bool consume,
        uint64_t& order, property_value_map::node_type* node = nullptr)
      : m_guard(guard), m_rec(rec), m_pv(pv), m_consume(consume), m_order(order), m_node(node) {}

  // copied: the bytes of the input the text was made from (0 for texts
  // made here).
  property_value* file(uint32_t vartype, uint64_t offset, bool last, int64_t copied = 0) {
    m_pv.key_known = 1;
    m_pv.vartype = vartype;
    m_pv.offset = offset;
    m_pv.offset2 = offset;
    m_pv.order = ++m_order;
    // A record costs the work of one input byte; the bytes it copied from the
    // input count as filed (a byte run's before it is copied, by the caller).
    // Once the work is charged, no filed bytes cannot fail.
    if (!guard_charge(m_guard, parse_guard::k_units_per_filed_record) ||
        (copied != 0 && !guard_charge_filed(m_guard, copied)))
      return nullptr;
    // The key is copied out of the template before the template is moved.
    const std::string_view key = m_pv.key_text;
    if (m_node && last) {
      // Past the last keyed record, or after the records of an equal key,
      // as an insert without hint would place it.
      m_node->key().assign(key);
      return &m_rec.properties.insert(m_rec.properties.end(), std::move(*m_node))->second;
    }
    auto it = m_consume && last
                  ? m_rec.properties.emplace(std::piecewise_construct, std::forward_as_tuple(key),
                                             std::forward_as_tuple(std::move(m_pv)))
                  : m_rec.properties.emplace(std::piecewise_construct, std::forward_as_tuple(key),
                                             std::forward_as_tuple(m_pv));
    return &it->second;
  }

  // Key text and text are the position key.
  property_value* number(uint32_t tag, uint32_t vartype, uint64_t value, uint64_t offset,
                         bool filetime, bool last) {
    m_pv.number = value;
    if (filetime)
      m_pv.is_filetime = 1;
    else
      m_pv.is_number = 1;
    set_position_key(tag, offset);
    return file(vartype, offset, last);
  }

  void set_position_key(uint32_t tag, uint64_t offset) {
    char key[25];
    const size_t n = position_key(key, tag, offset);
    m_pv.text.assign(key, n);
    m_pv.key_text.assign(key, n);
  }

 private:
  parse_guard* m_guard;
  shell_item_record& m_rec;
  property_value& m_pv;
  bool m_consume;
  uint64_t& m_order;
  property_value_map::node_type* m_node;
};

template <class Value>
bool store_body(shell_item_record& rec, parse_ctx& ctx, Value& tv, property_value& pv, bool consume,
                const cmd_params& opts, uint64_t& order,
                property_value_map::node_type* node = nullptr) {
  filer f(ctx.guard, rec, pv, consume, order, node);
  const bool lists = !rec.prop_lists_unread;
  auto offset_of = [&](size_t i) { return i < tv.offsets.size() ? tv.offsets[i] : 0; };
  switch (tv.kind) {
    case tv_dword:
      for (size_t i = 0; i < tv.dwords.size(); ++i) {
        if (!f.number(k_tag_dword, 19, tv.dwords[i], offset_of(i), false,
                      i + 1 == tv.dwords.size()))
          break;
        if (lists) rec.prop_dwords.push_back(tv.dwords[i]);
      }
      return true;
    case tv_qword:
    case tv_filetime:
    case tv_date: {
      const auto [tag, vartype] = wide_kind(tv.kind);
      for (size_t i = 0; i < tv.qwords.size(); ++i) {
        if (!f.number(tag, vartype, tv.qwords[i], offset_of(i), tv.kind == tv_filetime,
                      i + 1 == tv.qwords.size()))
          break;
        if (lists) rec.prop_qwords.push_back(tv.qwords[i]);
      }
      return true;
    }
    case tv_bytes: {
      if (tv.blobs.empty() || tv.blobs[0].size() < tv.count) return true;
      const std::string_view blob = tv.blobs[0];
      if (!guard_charge_filed(ctx.guard, static_cast<int64_t>(blob.size()))) return true;
      pv.bytes += blob;
      f.set_position_key(k_tag_bytes, ctx.offset);
      if (!f.file(4113, offset_of(0), true)) return true;
      if (lists) {
        rec.prop_bytes.insert(rec.prop_bytes.end(), blob.begin(), blob.end());
        rec.prop_flags[4] = 1;
      }
      return true;
    }
    case tv_text:
      for (size_t i = 0; i < tv.texts.size(); ++i) {
        if (tv.texts[i].empty()) continue;
        if (lists) rec.prop_texts.push_back(tv.texts[i]);
        if constexpr (std::is_const_v<Value>)
          pv.text = tv.texts[i];
        else
          pv.text.swap(tv.texts[i]);  // the value keeps the template's room
        set_lowered_key(pv);
        const auto copied = static_cast<int64_t>(pv.text.size());
        if (!f.file(31, offset_of(i), i + 1 == tv.texts.size(), copied)) {
          if (lists) rec.prop_texts.pop_back();
          break;
        }
      }
      return true;
    case tv_guid:
      for (size_t i = 0; i < tv.blobs.size(); ++i) {
        if (tv.blobs[i].size() != 16) continue;
        guid g;
        g.set(tv.blobs[i].data());
        clsid_name(pv.text, &g);
        set_lowered_key(pv);
        if (lists) rec.prop_guid_texts.push_back(pv.text);
        if (!f.file(72, offset_of(i), i + 1 == tv.blobs.size())) {
          if (lists) rec.prop_guid_texts.pop_back();
          break;
        }
      }
      return true;
    case tv_stream: {
      if (tv.texts.empty()) return true;
      pv.key_known = 1;
      pv.vartype = 66;
      pv.text = tv.texts[0];
      set_lowered_key(pv);
      pv.offset = offset_of(0);
      if (tv.blobs.empty()) return true;
      const auto copied = static_cast<int64_t>(pv.text.size());
      const property_value* filed = f.file(66, offset_of(0), true, copied);
      if (!filed) return true;
      if (lists) {
        rec.prop_texts.push_back(tv.texts[0]);
        rec.prop_flags[4] = 1;
      }
      parse_special_stream_value(rec, ctx, tv, *filed, opts);
      return true;
    }
    default:
      return false;
  }
}

// Files a single value that parse_single_value decoded (a text into the
// template's own text) as store_body files the one element of a typed value;
// the template's node moves into the collection.
void file_single(parse_guard* guard, shell_item_record& rec, const single_value& sv,
                 property_value_map::node_type& node, uint64_t& order) {
  property_value& pv = node.mapped();
  filer f(guard, rec, pv, true, order, &node);
  const bool lists = !rec.prop_lists_unread;
  switch (sv.kind) {
    case tv_dword:
      if (f.number(k_tag_dword, 19, sv.number, sv.offset, false, true) && lists)
        rec.prop_dwords.push_back(static_cast<uint32_t>(sv.number));
      return;
    case tv_qword:
    case tv_filetime:
    case tv_date: {
      const auto [tag, vartype] = wide_kind(sv.kind);
      if (f.number(tag, vartype, sv.number, sv.offset, sv.kind == tv_filetime, true) && lists)
        rec.prop_qwords.push_back(sv.number);
      return;
    }
    case tv_text: {
      if (pv.text.empty()) return;
      if (lists) rec.prop_texts.push_back(pv.text);
      set_lowered_key(pv);
      const auto copied = static_cast<int64_t>(pv.text.size());
      if (!f.file(31, sv.offset, true, copied) && lists) rec.prop_texts.pop_back();
      return;
    }
    case tv_guid: {
      guid g;
      g.set(sv.guid_bytes);
      clsid_name(pv.text, &g);
      set_lowered_key(pv);
      if (lists) rec.prop_guid_texts.push_back(pv.text);
      if (!f.file(72, sv.offset, true) && lists) rec.prop_guid_texts.pop_back();
      return;
    }
    default:
      return;
  }
}

// The bytes parse_single_value takes for a single number or GUID (kind
// single), ctx.offset moved past them and the guard charged as for a record
// filed; 0, nothing moved, when the element does not fit. A record copying
// no bytes needs no filed-bytes charge: that one can only fail once the
// guard has tripped, and then the work charge has failed first.
int32_t skip_unshown_single(parse_ctx& ctx, const uint8_t* data, int64_t size, uint16_t vartype,
                            uint16_t single) {
  int64_t width = single == tv_dword ? 4 : single == tv_qword ? 8 : 16;
  if (single == tv_dword && (vartype & 0xFF) == 11) {
    width = boolean_width(byte_view(data, static_cast<size_t>(size)));
    if (width == 0) return 0;
  }
  if (width > size) return 0;
  ctx.offset += static_cast<uint64_t>(width);
  guard_charge(ctx, parse_guard::k_units_per_filed_record);
  return static_cast<int32_t>(width);
}

void trim_room(std::string& s) {
  if (s.capacity() >= k_spare_room) std::string().swap(s);
}

// A value built in a map node of its own: filed last, it moves into the
// collection with its node instead of being copied into a new one.
property_value_map::node_type fresh_value_node(property_scratch& scratch, const guid* fmtid,
                                               uint32_t pid) {
  std::vector<property_value_map::node_type>& spare = scratch.spare_nodes;
  if (!spare.empty()) {
    property_value_map::node_type node = std::move(spare.back());
    spare.pop_back();
    property_value& pv = node.mapped();
    pv.clear();
    if (fmtid) pv.key.fmtid = *fmtid;
    pv.key.pid = pid;
    return node;
  }
  property_value_map& maker = scratch.maker;
  maker.emplace(std::piecewise_construct, std::forward_as_tuple(),
                std::forward_as_tuple(fmtid, pid));
  return maker.extract(maker.begin());
}

}  // namespace

// ---- the flat list of shown values ----

namespace shown_values {
namespace {

// Rooms kept past a scope: a bounded number of entries, texts of moderate
// room.
constexpr size_t k_kept_entries = 64;
constexpr size_t k_kept_room = 512;

// The key text the value would be filed under.
const std::string& key_of(entry& e) {
  if (!e.key_made) {
    if (e.tag == 0) {
      assign_lowered(e.key, e.text);
    } else {
      char key[25];
      e.key.assign(key, position_key(key, e.tag, e.offset));
    }
    e.key_made = true;
  }
  return e.key;
}

}  // namespace

list& list_of(shell_scratch& scratch) {
  return scratch_of(scratch).flat;
}

scope::scope(list& flat) noexcept
    : m_list(flat), m_start(flat.used), m_record(flat.record), m_open(flat.open) {
  flat.open = true;
  flat.record = 0;
}

scope::~scope() {
  list& l = m_list;
  l.used = m_start;
  l.record = m_record;
  l.open = m_open;
  if (l.open) return;
  if (l.entries.size() > k_kept_entries) l.entries.resize(k_kept_entries);
  const size_t high = std::min(l.high, l.entries.size());
  for (size_t i = 0; i < high; ++i) {
    entry& e = l.entries[i];
    if (e.text.capacity() > k_kept_room) std::string().swap(e.text);
    if (e.key.capacity() > k_kept_room) std::string().swap(e.key);
  }
  l.high = 0;
}

void scope::set_record(uint32_t record) noexcept {
  m_list.record = record;
}

uint64_t record_filings(const list& l) noexcept {
  return l.record_filings;
}

size_t mark(const list& l) noexcept {
  return l.used;
}

void drop_from(list& l, size_t at) noexcept {
  if (l.used > at) l.used = at;
}

bool any_from(const list& l, size_t at) noexcept {
  return l.used > at;
}

void scope::collect(const shell_item_record* records, size_t count, std::vector<std::string>& keys,
                    std::vector<std::string>& values, const cmd_params& settings,
                    shell_scratch& scratch) {
  text_rooms& rooms = scratch.rooms;
  // The lists' length up to the last pair filled whole.
  size_t filled_keys = keys.size();
  guarded(
      [&] {
        list& l = m_list;
        std::vector<placed>& places = l.places;
        places.clear();
        // Only the values shown take a place (their order does not depend on
        // the others'). Places met in rising order need no sort (the common
        // case: one walk's values, each at a place of its own).
        bool rising = true;
        auto add = [&](const placed& p) {
          if (!places.empty() && p.offset <= places.back().offset) rising = false;
          places.push_back(p);
        };
        for (size_t r = 0; r < count; ++r) {
          for (const auto& [key, v] : records[r].properties) {
            if (guid_is_zero(v.key.fmtid) || v.table_bit3 || !shown_property_vartype(v.vartype))
              continue;
            add({v.offset, v.order, r, &key, &v, 0});
          }
        }
        for (size_t i = m_start; i < l.used; ++i) {
          const entry& e = l.entries[i];
          if (guid_is_zero(e.fmtid) || e.hidden || !shown_property_vartype(e.vartype)) continue;
          add({e.offset, e.order, e.record, nullptr, nullptr, i});
        }
        const size_t shown = places.size();
        if (shown == 0) return;
        // File position, then key, then record, then filing order: the order
        // of the records' collections merged. Keys are made only where two
        // values share a place.
        if (!rising)
          std::sort(places.begin(), places.end(), [](const placed& a, const placed& b) {
            if (a.offset != b.offset) return a.offset < b.offset;
            if (a.record != b.record) return a.record < b.record;
            return a.order < b.order;
          });
        for (size_t i = 0; !rising && i < places.size();) {
          size_t end = i + 1;
          while (end < places.size() && places[end].offset == places[i].offset) ++end;
          if (end - i > 1) {
            for (size_t k = i; k < end; ++k)
              if (!places[k].key) places[k].key = &key_of(l.entries[places[k].flat]);
            std::sort(places.begin() + static_cast<std::ptrdiff_t>(i),
                      places.begin() + static_cast<std::ptrdiff_t>(end),
                      [](const placed& a, const placed& b) {
                        const int by_key = a.key->compare(*b.key);
                        if (by_key != 0) return by_key < 0;
                        if (a.record != b.record) return a.record < b.record;
                        return a.order < b.order;
                      });
          }
          i = end;
        }
        reserve_more(keys, shown);
        reserve_more(values, shown);
        for (const placed& p : places) {
          const property_value* v = p.value;
          entry* e = v ? nullptr : &l.entries[p.flat];
          // Filled in place; a pair left half-filled is dropped on failure.
          std::string& key = keys.emplace_back();
          std::string& value = values.emplace_back();
          rooms.take(key);
          rooms.take(value);
          if (v) {
            append_property_key_text(key, *v);
            append_property_value_text(value, *v, settings);
          } else {
            append_property_key_text(key, e->fmtid, e->pid);
            if (e->vartype != 31) {
              // A time, shown by its number alone; a text stays a text under
              // a date key too.
              property_value& number = l.shown_value;
              number.is_number = e->is_number;
              number.is_filetime = e->is_filetime;
              number.vartype = e->vartype;
              number.number = e->number;
              append_property_value_text(value, number, settings);
            } else {
              value += e->text;  // a text is shown as it stands
            }
          }
          filled_keys = keys.size();
        }
      },
      [&] {
        note_out_of_memory(scratch);
        // Both or neither, so that the two lists stay aligned by index.
        keys.resize(std::min(filled_keys, keys.size()));
        values.resize(std::min(filled_keys, values.size()));
      });
}

namespace {

// Decodes a single text or time of a record parsed only for a report's
// lists into the flat list, charging the guard as filing it would.
int32_t file_flat_single(list& l, uint64_t& filing_order, parse_ctx& ctx, const uint8_t* data,
                         int64_t size, uint16_t vartype, uint16_t pid, const guid* fmtid) {
  if (l.used == l.entries.size()) l.entries.emplace_back();
  entry& e = l.entries[l.used];
  e.fmtid = fmtid ? *fmtid : guid();
  e.pid = pid;
  uint32_t flags = 0;
  property_key_flags(e.fmtid, pid, flags);
  single_value sv;
  int32_t result = 0;
  if (parse_single_value(sv, e.text, ctx, data, size, vartype)) {
    result = static_cast<int32_t>(sv.consumed);
    if (sv.present) {
      e.hidden = (flags & 0x8) ? 1 : 0;
      e.is_filetime = (flags & 0x10) ? 1 : 0;
      e.is_number = 0;
      e.number = 0;
      e.tag = 0;
      int64_t copied = 0;
      switch (sv.kind) {
        case tv_text:
          e.vartype = 31;
          copied = static_cast<int64_t>(e.text.size());
          break;
        case tv_filetime:
          e.vartype = 64;
          e.is_filetime = 1;
          e.number = sv.number;
          e.tag = k_tag_filetime;
          break;
        default:  // tv_date
          e.vartype = 7;
          e.is_number = 1;
          e.number = sv.number;
          e.tag = k_tag_date;
          break;
      }
      const bool empty_text = sv.kind == tv_text && e.text.empty();
      if (!empty_text && guard_charge(ctx, parse_guard::k_units_per_filed_record) &&
          (copied == 0 || guard_charge_filed(ctx.guard, copied))) {
        e.offset = sv.offset;
        e.order = ++filing_order;
        e.record = l.record;
        e.key_made = false;
        ++l.used;
        if (l.used > l.high) l.high = l.used;
      }
    }
  }
  ctx.consumed = static_cast<uint32_t>(result);
  return result;
}

}  // namespace
}  // namespace shown_values

bool store_typed_value(shell_item_record& rec, parse_ctx& ctx, const typed_value& tv,
                       property_value& pv, const cmd_params& opts) {
  return guarded(
      ctx,
      [&] {
        return store_body(rec, ctx, tv, pv, false, opts, scratch_of(ctx.space()).filing_order);
      },
      [] {});
}

bool file_typed_value(shell_item_record& rec, parse_ctx& ctx, typed_value& tv, property_value&& pv,
                      const cmd_params& opts) {
  return guarded(
      ctx,
      [&] {
        return store_body(rec, ctx, tv, pv, true, opts, scratch_of(ctx.space()).filing_order);
      },
      [] {});
}

void keep_property_nodes(property_value_map& values, shell_scratch& scratch) noexcept {
  if (values.empty()) return;
  property_scratch* filing = try_made_part(scratch.filing);
  if (!filing) return;
  std::vector<property_value_map::node_type>& spare = filing->spare_nodes;
  if (spare.capacity() < k_spare_most) {
    try {
      spare.reserve(k_spare_most);
    } catch (...) {
      return;
    }
  }
  while (!values.empty() && spare.size() < k_spare_most) {
    property_value_map::node_type node = values.extract(values.begin());
    property_value& pv = node.mapped();
    const size_t rooms = node.key().capacity() | pv.text.capacity() | pv.key_text.capacity() |
                         pv.bytes.capacity() | pv.name.capacity() | pv.name2.capacity() |
                         pv.name3.capacity() | pv.pair_key_text.capacity() |
                         pv.pair_value_text.capacity();
    if (rooms >= k_spare_room)
      for (std::string* s : {&node.key(), &pv.text, &pv.key_text, &pv.bytes, &pv.name, &pv.name2,
                             &pv.name3, &pv.pair_key_text, &pv.pair_value_text})
        trim_room(*s);
    if (pv.offset_list.capacity() > k_spare_room / sizeof(uint64_t))
      std::vector<uint64_t>().swap(pv.offset_list);
    spare.push_back(std::move(node));
  }
}

int32_t add_item_property(shell_item_record& rec, parse_ctx& ctx, const uint8_t* data, int64_t size,
                          uint16_t vartype, uint16_t pid, const guid* fmtid,
                          const cmd_params& opts) {
  return guarded(
      ctx,
      [&]() -> int32_t {
        if (!rec.prop_lists_unread) clear_item_property_fields(rec);
        if (!data || size <= 0) {
          ctx.consumed = 0;
          return 0;
        }
        const uint16_t single =
            ctx.single_value_path ? single_value_kind(vartype) : uint16_t{tv_none};
        if (rec.prop_shown_only &&
            (single == tv_dword || single == tv_qword || single == tv_guid)) {
          // Never shown: only what filing would take from the input and the
          // guard (a record that copies nothing).
          const int32_t result = skip_unshown_single(ctx, data, size, vartype, single);
          ctx.consumed = static_cast<uint32_t>(result);
          return result;
        }
        shell_scratch& space = ctx.space();
        property_scratch& filing = scratch_of(space);
        if (rec.prop_shown_only && rec.prop_lists_unread && filing.flat.open &&
            (single == tv_text || single == tv_filetime || single == tv_date))
          return shown_values::file_flat_single(filing.flat, filing.filing_order, ctx, data, size,
                                                vartype, pid, fmtid);
        ++filing.flat.record_filings;
        property_value_map::node_type node = fresh_value_node(filing, fmtid, pid);
        property_value& pv = node.mapped();
        // A node kept from a dropped value mostly has its texts' room already.
        constexpr auto roomless = [](const std::string& t) {
          return t.capacity() <= std::string().capacity();
        };
        if (roomless(pv.text) || roomless(pv.key_text) || roomless(pv.name) ||
            roomless(node.key())) {
          text_rooms& rooms = space.rooms;
          rooms.take(pv);
          rooms.take(node.key());
        }
        // A single value parsed for a report's lists is never asked its
        // names: its key's marks do.
        const bool found = rec.prop_shown_only && single != tv_none
                               ? lookup_property_value_flags(pv)
                               : lookup_property_value_key(pv);
        if (found && !rec.prop_lists_unread) {
          rec.prop_flags = {pv.table_bit0, pv.table_bit1, pv.listed,
                            pv.table_bit5, pv.table_bit3, static_cast<uint8_t>(pv.key_known)};
        }
        int32_t result = 0;
        if (single != tv_none) {
          // The common single values need no typed value between.
          single_value sv;
          if (parse_single_value(sv, pv.text, ctx, data, size, vartype)) {
            pv.vartype = vartype & 0xFF;
            result = static_cast<int32_t>(sv.consumed);
            if (sv.present)
              guarded(
                  ctx, [&] { file_single(ctx.guard, rec, sv, node, filing.filing_order); }, [] {});
          }
          ctx.consumed = static_cast<uint32_t>(result);
          return result;
        }
        typed_value_scratch scratch(space);
        typed_value& tv = scratch.get();
        if (parse_typed_value(tv, ctx, data, size, vartype)) {
          pv.vartype = vartype & 0xFF;
          result = static_cast<int32_t>(tv.consumed);
          guarded(
              ctx,
              [&] { return store_body(rec, ctx, tv, pv, true, opts, filing.filing_order, &node); },
              [] {});
        } else if (is_array_vartype(vartype)) {
          result = static_cast<int32_t>(tv.consumed);  // stepped over, nothing filed
        }
        ctx.consumed = static_cast<uint32_t>(result);
        return result;
      },
      [&]() -> int32_t {
        ctx.consumed = 0;
        return 0;
      });
}

void assign_lowered_for_test(std::string& out, const std::string& text) {
  assign_lowered(out, text);
}

}  // namespace vk
