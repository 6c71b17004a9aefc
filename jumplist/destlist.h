// The "destlist" stream of an automatic jump list: which entries exist, in
// which order they were last used, when, on which host, and with which
// object identifiers.
//
// Stream layout: a 32-byte header whose first u32 is the version, then the
// entries one after another. Version 1 uses the 114-byte fixed entry part;
// every other version the 130-byte one, whose path is followed by the byte
// count of a property storage that belongs to the entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/vk_fault_sink.h"
#include "foundation/vk_guid.h"
#include "jumplist/destlist_layout.h"

namespace vk {

inline constexpr size_t destlist_header_size = destlist::header::size;
inline constexpr size_t destlist_fixed_size_114 = destlist::entry_114::fixed_size;
inline constexpr size_t destlist_fixed_size_130 = destlist::entry_130::fixed_size;
// Room the entry loop asks for before it loads an entry: the fixed part and
// one path character.
inline constexpr size_t destlist_min_entry_114 = destlist_fixed_size_114 + 2;
inline constexpr size_t destlist_min_entry_130 = destlist_fixed_size_130 + 2;

struct destlist_entry {
  uint8_t m_valid = 0;
  uint32_t m_entry_size = 0;  // bytes from this entry to the next one
  uint64_t m_checksum = 0;
  // Volume, object, birth volume and birth object droids, as stored.
  std::array<guid, 4> m_droids{};
  std::string m_netbios_name;
  uint64_t m_entry_num = 0;  // names the entry's LNK stream (lower-case hex)
  uint64_t m_mru_time = 0;   // FILETIME
  uint32_t m_pin_status = 0;
  uint8_t m_has_access_count = 0;
  uint32_t m_access_count = 0;
  uint16_t m_path_length = 0;  // UTF-16 code units
  std::string m_path;          // UTF-8
};

void init_destlist_entry(destlist_entry& entry);
void clear_destlist_entry(destlist_entry& entry);

// Load one entry from raw with available bytes left in the stream (a
// negative count means none). False, with the record cleared, when the fixed
// part or the whole entry does not fit; the entry size is set as soon as the
// path length could be read.
bool load_destlist_entry_114(destlist_entry& entry, const uint8_t* raw, int64_t available);
bool load_destlist_entry_130(destlist_entry& entry, const uint8_t* raw, int64_t available);
// Version 1 selects the 114-byte layout, every other version the later one.
bool load_destlist_entry_for_version(destlist_entry& entry, uint32_t version, const uint8_t* raw,
                                     int64_t available);
size_t destlist_min_entry_size(uint32_t version);

// Why a DestList walk stopped short of the end of its stream, each said in
// the walker's sink as a fault of the structure "DestList" at the offset in
// the stream where the walk stopped.
inline constexpr char k_destlist_short_header[] = "shorter than its header";
inline constexpr char k_destlist_entry_cut[] = "entry cut: fewer bytes left than an entry holds";
inline constexpr char k_destlist_unread[] = "its bytes could not be read";
inline constexpr char k_destlist_entry_past[] = "entry runs past the stream";

// Walks the entries of a whole DestList stream one at a time, in stream
// order, so that a caller holds one entry rather than all of them. An entry
// that ends exactly at the end of the stream is loaded; the walk ends cleanly
// only at the end of the stream: bytes left that hold no whole entry (a
// stream cut inside an entry, or an entry that runs past it) end it short,
// and a walk that ends short says why in the caller's sink, memory that ran
// out among the causes.
// Gives count bytes of a stream from offset, readable until it is asked
// again; null when they cannot be read. A walk through it holds a window of
// a long stream, not the stream.
using destlist_read = std::function<const uint8_t*(size_t offset, size_t count)>;

// The most bytes an entry's fields and path take: what a walk through a
// destlist_read asks for at once.
inline constexpr size_t destlist_most_entry_read =
    destlist_fixed_size_130 + 2 * size_t{0xFFFF} + destlist::entry_130::storage_size;

class destlist_walker {
 public:
  // The walk says in faults where it ended short; the walker and each start
  // forget what faults held before.
  explicit destlist_walker(fault_sink& faults) noexcept : m_faults(faults) { forget_faults(); }

  // False when the stream is shorter than its header (nothing to walk),
  // which faults() then says.
  bool start(const uint8_t* stream, size_t size);
  // The same, read through read (which must outlive the walk).
  bool start(const destlist_read& read, size_t size);
  // The same stream as other's, which started, from its start: its header
  // is not read again.
  bool start_as(const destlist_walker& other);
  uint32_t version() const { return m_version; }
  // The entry count the header gives.
  uint32_t header_count() const { return m_header_count; }
  // The header's pinned-entry count and last entry number.
  uint32_t header_pinned() const { return m_header_pinned; }
  uint64_t header_last_number() const { return m_header_last_number; }
  // Of the entries loaded so far: how many are pinned, the highest entry
  // number and the place (from 1) of the first entry that holds it.
  size_t pinned() const { return m_pinned; }
  uint64_t top_number() const { return m_top_number; }
  size_t top_number_entry() const { return m_top_number_entry; }
  size_t size() const { return m_size; }
  // The next entry into entry (its texts keep their room); false once the
  // walk has ended.
  bool next(destlist_entry& entry, bool with_path = true);
  // Where the walk stopped short: one fault, or memory that ran out; empty
  // while it walks and after it ended at the end of the stream.
  const fault_sink& faults() const { return m_faults; }
  // Where the entry last loaded starts, or where the walk stopped.
  size_t offset() const { return m_offset; }
  // Entries loaded so far.
  size_t count() const { return m_count; }
  // Loads again the entry at an offset that next() gave before.
  bool load_at(size_t offset, destlist_entry& entry, bool with_path = false) const;
  // Stretches of zero bytes where entries lie (an entry of zeros is no
  // entry: the walk steps over it): the first few with where each starts
  // and its length, and how many there were.
  struct zeroed_stretch {
    size_t offset = 0, length = 0;
  };
  static constexpr size_t k_kept_stretches = 16;
  const std::array<zeroed_stretch, k_kept_stretches>& zeroed() const { return m_zeroed; }
  size_t zeroed_count() const { return m_zeroed_count; }

 private:
  // Ends the walk short, saying why in the same step: the one way a walk
  // ends other than at the end of the stream.
  bool stop_at(const parse_fault& fault);
  // Starts the walk of size bytes, read through m_stream or m_read.
  bool begin(size_t size);
  // Forgets what a walk before found, for one of size bytes.
  void reset(size_t size);
  // count bytes of the stream from offset (within it); null when they
  // cannot be read.
  const uint8_t* bytes(size_t offset, size_t count) const {
    return m_read ? (*m_read)(offset, count) : m_stream + offset;
  }
  // Whether the bytes from offset to the stream's end are all zero (into
  // zero); false when they cannot be read.
  bool zeros_to_end(size_t offset, bool& zero) const;
  // Only a walk that ended short left anything to forget.
  void forget_faults() noexcept {
    if (!m_faults.empty() || m_faults.out_of_memory()) m_faults.clear();
  }

  const uint8_t* m_stream = nullptr;
  const destlist_read* m_read = nullptr;
  size_t m_size = 0;
  uint32_t m_version = 0, m_header_count = 0, m_header_pinned = 0;
  uint64_t m_header_last_number = 0, m_top_number = 0;
  size_t m_offset = 0, m_next = 0, m_count = 0, m_pinned = 0, m_top_number_entry = 0;
  bool m_walking = false;
  std::array<zeroed_stretch, k_kept_stretches> m_zeroed{};
  size_t m_zeroed_count = 0;
  fault_sink& m_faults;
};

// Loads every entry of a whole DestList stream, in stream order. False when
// the stream is refused: shorter than its header, or a first entry that runs
// past the stream. A stream with no room for an entry gives true with none.
bool load_destlist_entries(const uint8_t* stream, size_t size, uint32_t& version,
                           std::vector<destlist_entry>& out);
// The same; without with_paths every m_path stays empty (its length is
// still read), for a caller that keeps no path.
bool load_destlist_entries(const uint8_t* stream, size_t size, uint32_t& version,
                           std::vector<destlist_entry>& out, bool with_paths);

// The path text; empty (false) when the path does not fit in available.
bool destlist_entry_path_114(const uint8_t* raw, std::string& out, int64_t available);
bool destlist_entry_path_130(const uint8_t* raw, std::string& out, int64_t available);

// Raw-entry accessors; each gives 0 or "" when its field is not inside
// available.
uint32_t destlist_entry_size_114(const uint8_t* raw, int64_t available);
uint32_t destlist_entry_size_130(const uint8_t* raw, int64_t available);
uint64_t destlist_entry_mru_time(const uint8_t* raw, int64_t available);
// Droid i (0..3: volume, object, birth volume, birth object) as GUID text.
std::string destlist_entry_droid_text(const uint8_t* raw, int64_t available, int i);
std::string destlist_entry_host_name(const uint8_t* raw, int64_t available);

using destlist_header_raw = std::array<uint8_t, destlist_header_size>;
using destlist_entry_114_raw = std::array<uint8_t, destlist_min_entry_114>;
using destlist_entry_130_raw = std::array<uint8_t, destlist_min_entry_130>;
void clear_destlist_header_raw(destlist_header_raw& raw);
void clear_destlist_entry_114_raw(destlist_entry_114_raw& raw);
void clear_destlist_entry_130_raw(destlist_entry_130_raw& raw);

}  // namespace vk
