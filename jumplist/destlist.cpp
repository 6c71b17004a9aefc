#include "jumplist/destlist.h"

#include <algorithm>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_unicode.h"
#include "shell/parse_ctx.h"

namespace vk {

namespace {

namespace field = destlist::entry;
constexpr size_t kPathLength114 = destlist::entry_114::path_length;
constexpr size_t kPathLength130 = destlist::entry_130::path_length;
constexpr size_t kTrailer130 = destlist::entry_130::storage_size;

byte_view view_of(const uint8_t* raw, int64_t available) {
  if (!raw || available <= 0) return byte_view();
  return byte_view(raw, static_cast<size_t>(available));
}

// The entry's NetBIOS host name into out (empty when the bytes lack it).
void host_name_into(byte_view v, std::string& out) {
  out.clear();
  if (v.has(field::host_name, field::host_name_size))
    read_ansi(v, field::host_name, field::host_name + field::host_name_size, out);
}

bool path_text(byte_view v, size_t length_at, size_t path_at, std::string& out) {
  out.clear();
  auto length = v.u16(length_at);
  if (!length) return false;
  byte_cursor c(v, path_at);
  return c.text16(out, *length);
}

bool path_of(const uint8_t* raw, std::string& out, int64_t available, bool v1) {
  return guarded(
      [&] {
        return path_text(view_of(raw, available), v1 ? kPathLength114 : kPathLength130,
                         v1 ? destlist_fixed_size_114 : destlist_fixed_size_130, out);
      },
      [&] { out.clear(); });
}

// The entry at raw, of which available bytes are left in the stream and
// readable are at hand (at least available or destlist_most_entry_read:
// every field read lies in them).
bool load_entry(destlist_entry& entry, const uint8_t* raw, int64_t available, bool v1,
                bool with_path = true, size_t readable = SIZE_MAX) {
  clear_destlist_entry(entry);
  const byte_view v = view_of(
      raw,
      std::min<int64_t>(available, static_cast<int64_t>(std::min<size_t>(readable, INT64_MAX))));
  const uint64_t left = available > 0 ? static_cast<uint64_t>(available) : 0;
  const size_t fixed = v1 ? destlist_fixed_size_114 : destlist_fixed_size_130;
  // The fixed part first: the path length is read only when it is there.
  if (!v.has(0, fixed)) return false;
  const uint16_t length = v.u16_or_zero(v1 ? kPathLength114 : kPathLength130);
  const uint64_t size = fixed + uint64_t{length} * 2 + (v1 ? 0 : kTrailer130);
  entry.m_entry_size = static_cast<uint32_t>(size);
  if (size > left) return false;

  // Every field below lies inside the fixed part, which is there.
  entry.m_valid = 1;
  entry.m_checksum = v.u64_or_zero(field::checksum);
  for (size_t i = 0; i < entry.m_droids.size(); ++i)
    entry.m_droids[i].set(v.guid_bytes(field::droids + field::droid_size * i)->data());
  host_name_into(v, entry.m_netbios_name);
  entry.m_entry_num = v.u64_or_zero(field::entry_num);
  entry.m_mru_time = v.u64_or_zero(field::mru_time);
  entry.m_pin_status = v.u32_or_zero(field::pin_status);
  if (!v1) {
    entry.m_has_access_count = 1;
    entry.m_access_count = v.u32_or_zero(destlist::entry_130::access_count);
  }
  entry.m_path_length = length;
  if (with_path) path_text(v, v1 ? kPathLength114 : kPathLength130, fixed, entry.m_path);

  if (!v1) {
    // A property storage that follows the entry belongs to it: the next
    // entry starts after it. One declared past the stream's end makes the
    // entry run past it, as a path would: nothing after it can be placed.
    const uint32_t storage = v.u32_or_zero(static_cast<size_t>(size) - kTrailer130);
    entry.m_entry_size = static_cast<uint32_t>(std::min<uint64_t>(size + storage, 0xFFFFFFFFull));
    if (storage > left - size) return false;
  }
  return true;
}

}  // namespace

void init_destlist_entry(destlist_entry& entry) {
  clear_destlist_entry(entry);
}

void clear_destlist_entry(destlist_entry& entry) {
  entry.m_valid = 0;
  entry.m_entry_size = 0;
  entry.m_checksum = 0;
  for (auto& g : entry.m_droids) g.clear();
  entry.m_netbios_name.clear();
  entry.m_entry_num = 0;
  entry.m_mru_time = 0;
  entry.m_pin_status = 0;
  entry.m_has_access_count = 0;
  entry.m_access_count = 0;
  entry.m_path_length = 0;
  entry.m_path.clear();
}

namespace {
// The entry loaded, or on a failure to allocate its texts an entry cleared
// but for its size, so that a caller can still step over it.
bool load_entry_guarded(destlist_entry& entry, const uint8_t* raw, int64_t available, bool v1) {
  return guarded([&] { return load_entry(entry, raw, available, v1); },
                 [&] {
                   const uint32_t size = entry.m_entry_size;
                   clear_destlist_entry(entry);
                   entry.m_entry_size = size;
                 });
}
}  // namespace

bool load_destlist_entry_114(destlist_entry& entry, const uint8_t* raw, int64_t available) {
  return load_entry_guarded(entry, raw, available, true);
}

bool load_destlist_entry_130(destlist_entry& entry, const uint8_t* raw, int64_t available) {
  return load_entry_guarded(entry, raw, available, false);
}

bool load_destlist_entry_for_version(destlist_entry& entry, uint32_t version, const uint8_t* raw,
                                     int64_t available) {
  return load_entry_guarded(entry, raw, available, version == 1);
}

size_t destlist_min_entry_size(uint32_t version) {
  return version == 1 ? destlist_min_entry_114 : destlist_min_entry_130;
}

bool load_destlist_entries(const uint8_t* stream, size_t size, uint32_t& version,
                           std::vector<destlist_entry>& out) {
  return load_destlist_entries(stream, size, version, out, true);
}

bool destlist_walker::start(const destlist_read& read, size_t size) {
  m_stream = nullptr;
  m_read = &read;
  return begin(size);
}

bool destlist_walker::zeros_to_end(size_t offset, bool& zero) const {
  zero = true;
  // A stretch at a time: a walk through a read holds no more than that.
  constexpr size_t k_stretch = 64 * 1024;
  for (size_t at = offset; at < m_size && zero;) {
    const size_t count = std::min(k_stretch, m_size - at);
    const uint8_t* p = bytes(at, count);
    if (!p) return false;
    zero = std::all_of(p, p + count, [](uint8_t b) { return b == 0; });
    at += count;
  }
  return true;
}

bool destlist_walker::start(const uint8_t* stream, size_t size) {
  m_stream = stream;
  m_read = nullptr;
  return begin(stream ? size : 0);
}

void destlist_walker::reset(size_t size) {
  m_size = size;
  m_count = 0;
  m_version = 0;
  m_header_count = 0;
  m_header_pinned = 0;
  m_header_last_number = 0;
  m_pinned = 0;
  m_top_number = 0;
  m_top_number_entry = 0;
  m_offset = m_next = destlist_header_size;
  m_walking = true;
  m_zeroed_count = 0;
  forget_faults();
}

bool destlist_walker::start_as(const destlist_walker& other) {
  m_stream = other.m_stream;
  m_read = other.m_read;
  reset(other.m_size);
  if (m_size < destlist_header_size)
    return stop_at(parse_fault{"DestList", 0, k_destlist_short_header});
  m_version = other.m_version;
  m_header_count = other.m_header_count;
  m_header_pinned = other.m_header_pinned;
  m_header_last_number = other.m_header_last_number;
  return true;
}

bool destlist_walker::begin(size_t size) {
  reset(size);
  if (m_size < destlist_header_size)
    return stop_at(parse_fault{"DestList", 0, k_destlist_short_header});
  const uint8_t* header = bytes(0, destlist_header_size);
  if (!header) return stop_at(parse_fault{"DestList", 0, k_destlist_unread});
  const byte_view v(header, destlist_header_size);
  m_version = v.u32_or_zero(destlist::header::version);
  m_header_count = v.u32_or_zero(destlist::header::entry_count);
  m_header_pinned = v.u32_or_zero(destlist::header::pinned_count);
  m_header_last_number = v.u64_or_zero(destlist::header::last_entry_number);
  return true;
}

// Out of line: it runs only on damage, and kept out of next() it leaves the
// entry loop's registers alone.
[[gnu::cold, gnu::noinline]] bool destlist_walker::stop_at(const parse_fault& fault) {
  m_walking = false;
  m_faults.add(fault);
  return false;
}

bool destlist_walker::next(destlist_entry& entry, bool with_path) {
  if (!m_walking) return false;
  m_offset = m_next;
  // Entries of zero bytes (a stretch overwritten) are stepped over, the
  // stretch kept once; fewer zeros than an entry that end such a stretch
  // are of it, alone they are a cut entry still.
  const size_t zero_entry = m_version == 1
                                ? destlist_fixed_size_114
                                : destlist_fixed_size_130 + destlist::entry_130::storage_size;
  size_t past = m_offset;
  while (m_size - past >= zero_entry) {
    const uint8_t* at = bytes(past, zero_entry);
    if (!at) return stop_at(parse_fault{"DestList", past, k_destlist_unread});
    if (at[0] != 0 || !std::all_of(at, at + zero_entry, [](uint8_t b) { return b == 0; })) break;
    past += zero_entry;
  }
  if (past != m_offset) {
    bool zero = false;
    if (!zeros_to_end(past, zero)) return stop_at(parse_fault{"DestList", past, k_destlist_unread});
    if (zero) past = m_size;
  }
  if (past != m_offset) {
    if (m_zeroed_count < k_kept_stretches)
      m_zeroed[m_zeroed_count] = zeroed_stretch{m_offset, past - m_offset};
    ++m_zeroed_count;
    m_offset = m_next = past;
  }
  if (m_offset == m_size) {
    m_walking = false;
    return false;
  }
  const size_t readable = std::min(m_size - m_offset, destlist_most_entry_read);
  const uint8_t* raw = bytes(m_offset, readable);
  if (!raw) return stop_at(parse_fault{"DestList", m_offset, k_destlist_unread});
  const int64_t available = static_cast<int64_t>(m_size - m_offset);
  const bool v1 = m_version == 1;
  bool loaded = false;
  if (!guarded([&] {
        loaded = load_entry(entry, raw, available, v1, with_path, readable);
        return true;
      }))
    return stop_at(parse_fault{"DestList", m_offset, k_fault_out_of_memory});
  if (!loaded) {
    // From the fields again, so that nothing stays live across the load for
    // this rare path.
    const size_t fixed = m_version == 1 ? destlist_fixed_size_114 : destlist_fixed_size_130;
    return stop_at(
        parse_fault{"DestList", m_offset,
                    m_size - m_offset < fixed ? k_destlist_entry_cut : k_destlist_entry_past});
  }
  ++m_count;
  m_pinned += entry.m_pin_status != field::unpinned;
  if (entry.m_entry_num > m_top_number) {
    m_top_number = entry.m_entry_num;
    m_top_number_entry = m_count;
  }
  // The entry fits, so the next offset stays inside the stream.
  m_next = m_offset + entry.m_entry_size;
  return true;
}

bool destlist_walker::load_at(size_t offset, destlist_entry& entry, bool with_path) const {
  if (offset > m_size) return false;
  const size_t readable = std::min(m_size - offset, destlist_most_entry_read);
  const uint8_t* raw = bytes(offset, readable);
  if (!raw) return false;
  return guarded([&] {
    return load_entry(entry, raw, static_cast<int64_t>(m_size - offset), m_version == 1, with_path,
                      readable);
  });
}

bool load_destlist_entries(const uint8_t* stream, size_t size, uint32_t& version,
                           std::vector<destlist_entry>& out, bool with_paths) {
  // Entries already in out are loaded over (their texts keep their room);
  // the ones not reached are dropped at the end.
  size_t count = 0;
  struct trim {
    std::vector<destlist_entry>& out;
    const size_t& count;
    ~trim() { out.erase(out.begin() + static_cast<std::ptrdiff_t>(count), out.end()); }
  } trim_to_count{out, count};
  fault_sink faults;
  destlist_walker walker(faults);
  const bool started = walker.start(stream, size);
  version = walker.version();
  if (!started) return false;
  // Out of memory partway, the entries loaded so far stand.
  return guarded(
      [&] {
        for (;;) {
          if (count == out.size()) out.emplace_back();
          if (!walker.next(out[count], with_paths)) break;
          ++count;
        }
        return faults.empty() || count != 0;
      },
      [&] { return count != 0; });
}

bool destlist_entry_path_114(const uint8_t* raw, std::string& out, int64_t available) {
  return path_of(raw, out, available, true);
}

bool destlist_entry_path_130(const uint8_t* raw, std::string& out, int64_t available) {
  return path_of(raw, out, available, false);
}

uint32_t destlist_entry_size_114(const uint8_t* raw, int64_t available) {
  auto length = view_of(raw, available).u16(kPathLength114);
  return length ? static_cast<uint32_t>(destlist_fixed_size_114 + 2 * size_t{*length}) : 0;
}

uint32_t destlist_entry_size_130(const uint8_t* raw, int64_t available) {
  auto length = view_of(raw, available).u16(kPathLength130);
  return length ? static_cast<uint32_t>(destlist_fixed_size_130 + 2 * size_t{*length} + kTrailer130)
                : 0;
}

uint64_t destlist_entry_mru_time(const uint8_t* raw, int64_t available) {
  return view_of(raw, available).u64(field::mru_time).value_or(0);
}

std::string destlist_entry_droid_text(const uint8_t* raw, int64_t available, int i) {
  const byte_view v = view_of(raw, available);
  if (i < 0 || static_cast<size_t>(i) >= field::droid_count) return std::string();
  auto bytes = v.guid_bytes(field::droids + field::droid_size * static_cast<size_t>(i));
  if (!bytes) return std::string();
  return guarded([&] {
    guid g;
    g.set(bytes->data());
    return guid_to_string(g);
  });
}

std::string destlist_entry_host_name(const uint8_t* raw, int64_t available) {
  return guarded([&] {
    std::string out;
    host_name_into(view_of(raw, available), out);
    return out;
  });
}

void clear_destlist_header_raw(destlist_header_raw& raw) {
  raw.fill(0);
}
void clear_destlist_entry_114_raw(destlist_entry_114_raw& raw) {
  raw.fill(0);
}
void clear_destlist_entry_130_raw(destlist_entry_130_raw& raw) {
  raw.fill(0);
}

}  // namespace vk
