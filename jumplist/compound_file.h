// In-memory reader of OLE compound files (structured storage), the container
// of automatic jump lists.
//
// The reader keeps no pointer to the image: every operation that needs the
// bytes takes the image and its size again. It never trusts a size, count or
// chain taken from the file: every table is bounded by the sectors the image
// can hold, every chain stops at a repeat, and every read stays inside the
// image. While parsing it records which granules (mini-sector-sized slices of
// regular sectors) the file's structures and streams reach, and derives the
// free sectors and slack areas from that.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_fault_sink.h"
#include "foundation/vk_guard.h"
#include "jumplist/cfb_layout.h"

namespace vk {

// Special sector ids and sizes, under the names callers know (the layout
// itself is in cfb_layout.h).
inline constexpr uint32_t cfb_maxregsect = cfb::maxregsect;
inline constexpr uint32_t cfb_difatsect = cfb::difatsect;
inline constexpr uint32_t cfb_fatsect = cfb::fatsect;
inline constexpr uint32_t cfb_endofchain = cfb::endofchain;
inline constexpr uint32_t cfb_freesect = cfb::freesect;

inline constexpr size_t cfb_header_size = cfb::header::size;
inline constexpr size_t cfb_dir_entry_size = cfb::dirent::size;
inline constexpr size_t cfb_header_difat_slots = cfb::header::difat_slots;

// The cause of a structure (FAT, DIFAT, directory, mini FAT) with sectors
// past the end of the image: a file cut short.
inline constexpr const char* k_cfb_past_end = "sectors past the end of the file";

// One FAT or mini FAT entry.
struct fat_link {
  uint32_t m_sector = 0;
  uint32_t m_value = 0;     // next sector of the chain, or a special id
  uint8_t m_allocated = 0;  // 1 unless the value is FREESECT
  uint8_t m_is_difat = 0;   // 1 when the value is DIFATSECT (never in the mini FAT)
};

inline fat_link make_fat_link(uint32_t sector, uint32_t value, bool mini) {
  fat_link link;
  link.m_sector = sector;
  link.m_value = value;
  link.m_allocated = value != cfb::freesect;
  link.m_is_difat = !mini && value == cfb::difatsect;
  return link;
}

// The 32-bit little-endian value at p, read as one load where the host is
// little-endian, so that loops over many of them can be vectorised.
inline uint32_t fat_value_at(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return load_le32(p);
  }
}

// Whether the K marks at p (K a multiple of 8) all hold value (0 or 1).
template <size_t K>
inline bool marks_are(const uint8_t* p, uint8_t value) {
  static_assert(K % 8 == 0);
  const uint64_t want = value ? 0x0101010101010101ull : 0;
  uint64_t off = 0;
  for (size_t i = 0; i < K; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, sizeof v);
    off |= v ^ want;
  }
  return off == 0;
}

// Whether the K native 32-bit words at p are n + 1, n + 2, ... n + K:
// four at a time in a vector register where the target has them, then
// told in two 64-bit halves.
template <size_t K>
inline bool words_count_on(const uint8_t* p, uint32_t next) {
  static_assert(K % 4 == 0);
  using u32x4 = uint32_t __attribute__((vector_size(16)));
  const u32x4 base = {next, next, next, next};
  u32x4 off = {0, 0, 0, 0};
  for (uint32_t i = 0; i < K; i += 4) {
    u32x4 x;
    std::memcpy(&x, p + 4 * size_t{i}, sizeof x);
    const u32x4 step = {i, i + 1, i + 2, i + 3};
    off |= x ^ (base + step);
  }
  uint64_t half[2];
  std::memcpy(half, &off, sizeof half);
  return (half[0] | half[1]) == 0;
}

// Whether the links of sectors n, n + 1, ... n + K - 1 (values at v, or
// the 32-bit little-endian values at bytes) each name the next sector: all
// told at once, in 32 bits, as sector ids are (none past 2^32 - 1 goes on).
template <size_t K>
inline bool links_go_on(const uint32_t* v, uint64_t n) {
  if (n + K > 0xFFFFFFFFull) return false;
  return words_count_on<K>(reinterpret_cast<const uint8_t*>(v), static_cast<uint32_t>(n + 1));
}
template <size_t K>
inline bool links_go_on(const uint8_t* bytes, uint64_t n) {
  if (n + K > 0xFFFFFFFFull) return false;
  const uint32_t next = static_cast<uint32_t>(n + 1);
  if constexpr (std::endian::native == std::endian::little) {
    return words_count_on<K>(bytes, next);
  } else {
    uint32_t off = 0;
    for (uint32_t i = 0; i < K; ++i) off |= load_le32(bytes + 4 * i) ^ (next + i);
    return off == 0;
  }
}

// An allocator whose resize() without a value leaves new elements
// unwritten: for tables whose elements are written before any is read.
template <class T>
struct unfilled_allocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = unfilled_allocator<U>;
  };
  unfilled_allocator() = default;
  template <class U>
  unfilled_allocator(const unfilled_allocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// FAT or mini FAT links, indexed by sector. Sectors never read from the file
// have no link. Also keeps the scratch marks of chain walks, so that a walk
// costs time in its own length only.
class fat_link_map {
 public:
  explicit fat_link_map(bool mini = false) : m_mini(mini) {}

  void clear();
  bool empty() const { return m_count == 0; }
  size_t size() const { return m_count; }
  // One past the highest sector index that can hold a link.
  size_t index_limit() const { return m_values.size(); }
  bool contains(uint64_t sector) const {
    return sector < m_values.size() && m_present[static_cast<size_t>(sector)] != 0;
  }
  std::optional<fat_link> find(uint64_t sector) const {
    if (!contains(sector)) return std::nullopt;
    return make_fat_link(static_cast<uint32_t>(sector), m_values[static_cast<size_t>(sector)],
                         m_mini);
  }
  // The link's value of a sector that contains() holds.
  uint32_t value(uint64_t sector) const { return m_values[static_cast<size_t>(sector)]; }
  // Makes room for links of sectors below limit at once; false when memory
  // runs out.
  bool reserve_index(size_t limit);
  // Sets the link of a sector; false (nothing stored) when memory runs out.
  bool set(uint32_t sector, uint32_t value) {
    if (sector >= m_values.size() && !grow_to(sector)) return false;
    m_count += m_present[sector] == 0;
    m_present[sector] = 1;
    m_values[sector] = value;
    m_set_end = std::max(m_set_end, size_t{sector} + 1);
    return true;
  }
  // Sets the links of sectors first, first + 1, ... to the count 32-bit
  // little-endian values of bytes, as set() one by one would. names_table,
  // when given, tells whether any of them is DIFSECT or FATSECT.
  bool set_run(uint32_t first, byte_view bytes, size_t count, bool* names_table = nullptr) {
    static_assert(cfb::fatsect == cfb::difatsect + 1);
    const size_t end = size_t{first} + count;
    if (end > m_values.size()) {
      bool stored = true;
      for (size_t i = 0; i < count; ++i) {
        const uint32_t v = bytes.u32_or_zero(4 * i);
        if (names_table && v - cfb::difatsect < 2) *names_table = true;
        if (!set(static_cast<uint32_t>(first + i), v)) stored = false;
      }
      return stored;
    }
    // Values the bytes lack read as zero; those they hold are decoded in
    // one unchecked pass.
    const size_t held = std::min(count, bytes.size() / 4);
    const uint8_t* p = bytes.data();
    // Links past the last one set are all new: a table read in order (as
    // the FAT is) counts none of them one by one.
    size_t added = count;
    if (first < m_set_end) {
      added = 0;
      for (size_t i = 0; i < count; ++i) added += m_present[first + i] == 0;
    }
    m_count += added;
    m_set_end = std::max(m_set_end, end);
    std::fill_n(m_present.begin() + static_cast<std::ptrdiff_t>(first), count, uint8_t{1});
    // Counted in a word, not a bool, so that the loop is vectorised.
    uint32_t tables = 0;
    uint32_t* values = m_values.data() + first;
    for (size_t i = 0; i < held; ++i) {
      const uint32_t v = fat_value_at(p + 4 * i);
      values[i] = v;
      tables |= static_cast<uint32_t>(v - cfb::difatsect < 2);
    }
    if (names_table) *names_table = tables != 0;
    std::fill_n(m_values.begin() + static_cast<std::ptrdiff_t>(first + held), count - held,
                uint32_t{0});
    return true;
  }
  // The last sector of the run of consecutive links from sector n, which
  // contains() holds: n, n + 1, ... while each links to the next and the
  // next has a link and no mark in marks (of at least index_limit() bytes).
  // Large streams are laid out so; a chain walk takes such a run at once.
  size_t run_last(size_t n, const uint8_t* marks) const {
    const size_t end = m_values.size();
    // Sixteen links at a time while all go on, then one at a time. Where
    // every sector has a link, as in a sound file, none is looked up.
    const bool all_present = m_count == end;
    while (n + 17 <= end && (all_present || marks_are<16>(m_present.data() + n + 1, 1)) &&
           marks_are<16>(marks + n + 1, 0) && links_go_on<16>(m_values.data() + n, n))
      n += 16;
    while (n + 1 < end && m_values[n] == n + 1 && m_present[n + 1] != 0 && marks[n + 1] == 0) ++n;
    return n;
  }
  // Calls f(fat_link) for every link in ascending sector order.
  template <class F>
  void for_each(F&& f) const {
    for (size_t i = 0; i < m_values.size(); ++i)
      if (m_present[i]) f(make_fat_link(static_cast<uint32_t>(i), m_values[i], m_mini));
  }

  // Walk scratch: one mark per sector index, all clear between walks.
  std::vector<uint8_t>& walk_marks() const { return m_walk_marks; }

 private:
  // Room for sector's link; false (both tables as they were) when memory runs out.
  bool grow_to(uint32_t sector);

  bool m_mini;
  // A value is read only where m_present holds 1: room made for links
  // is not filled.
  std::vector<uint32_t, unfilled_allocator<uint32_t>> m_values;
  std::vector<uint8_t> m_present;
  size_t m_count = 0;
  size_t m_set_end = 0;  // one past the highest sector ever set: none is present from there
  mutable std::vector<uint8_t> m_walk_marks;
};

// One directory entry as read: of its 128 stored bytes, the fields a read
// of the file uses, as stored (a list of many streams holds one of these
// for each).
struct cfb_dir_entry {
  std::string m_name;          // UTF-8, in stored case
  uint64_t m_stored_size = 0;  // the stream size field as stored
  uint32_t m_start = 0;        // the starting sector field
  uint32_t m_entry_num = 0;    // position in the directory chain
  uint8_t m_object_type = 0;   // 0 unused, 1 storage, 2 stream, 5 root
  uint8_t m_mini = 0;          // 1: the stream lives in the mini stream
  // 1 in a version-3 file, whose old writers left garbage in the size's
  // high half: only its low 32 bits count.
  uint8_t m_size_low_only = 0;

  uint8_t object_type() const { return m_object_type; }
  uint32_t start_sector() const { return m_start; }
  uint64_t stream_size() const {
    return m_size_low_only ? m_stored_size & 0xFFFFFFFFull : m_stored_size;
  }
  // Takes the stored fields of the 128 bytes at raw.
  void take_stored(const uint8_t* raw);
};

// The directory entries keyed by lower-cased name, equal keys in directory
// order: one array, sized once and filled in directory order, where the
// entries stay, and the order of their keys sorted once beside it, so a
// directory costs no allocation per entry and no entry is moved. Iterators
// go in key order.
class cfb_entry_map {
 public:
  using value_type = std::pair<std::string, cfb_dir_entry>;

  template <bool Const>
  class basic_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = cfb_entry_map::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const value_type*, value_type*>;
    using reference = std::conditional_t<Const, const value_type&, value_type&>;

    basic_iterator() = default;
    basic_iterator(pointer items, const size_t* at) : m_items(items), m_at(at) {}
    operator basic_iterator<true>() const { return {m_items, m_at}; }

    reference operator*() const { return m_items[*m_at]; }
    pointer operator->() const { return &m_items[*m_at]; }
    reference operator[](difference_type n) const { return m_items[m_at[n]]; }
    basic_iterator& operator++() { return ++m_at, *this; }
    basic_iterator& operator--() { return --m_at, *this; }
    basic_iterator operator++(int) { return {m_items, m_at++}; }
    basic_iterator operator--(int) { return {m_items, m_at--}; }
    basic_iterator& operator+=(difference_type n) { return m_at += n, *this; }
    basic_iterator& operator-=(difference_type n) { return m_at -= n, *this; }
    friend basic_iterator operator+(basic_iterator i, difference_type n) { return i += n; }
    friend basic_iterator operator+(difference_type n, basic_iterator i) { return i += n; }
    friend basic_iterator operator-(basic_iterator i, difference_type n) { return i -= n; }
    friend difference_type operator-(const basic_iterator& a, const basic_iterator& b) {
      return a.m_at - b.m_at;
    }
    friend bool operator==(const basic_iterator& a, const basic_iterator& b) {
      return a.m_at == b.m_at;
    }
    friend auto operator<=>(const basic_iterator& a, const basic_iterator& b) {
      return a.m_at <=> b.m_at;
    }

   private:
    pointer m_items = nullptr;
    const size_t* m_at = nullptr;  // into the key order
  };
  using iterator = basic_iterator<false>;
  using const_iterator = basic_iterator<true>;

  iterator begin() { return {m_items.data(), m_order.data()}; }
  iterator end() { return {m_items.data(), m_order.data() + m_order.size()}; }
  const_iterator begin() const { return {m_items.data(), m_order.data()}; }
  const_iterator end() const { return {m_items.data(), m_order.data() + m_order.size()}; }
  size_t size() const { return m_items.size(); }
  bool empty() const { return m_items.empty(); }
  void clear() {
    m_items.clear();
    m_order.clear();
  }

  const_iterator lower_bound(std::string_view key) const;
  std::pair<const_iterator, const_iterator> equal_range(std::string_view key) const;
  size_t count(std::string_view key) const;

  // Building: room for count entries, entries appended in directory order,
  // then one sort of the key order (equal keys in directory order).
  void reserve(size_t count) {
    m_items.reserve(count);
    m_order.reserve(count);
  }
  void append(std::string key, cfb_dir_entry entry) {
    append_new() = value_type(std::move(key), std::move(entry));
  }
  // An empty entry appended in directory order, to be filled in place.
  value_type& append_new() {
    m_items.emplace_back();
    try {
      m_order.push_back(m_items.size() - 1);
    } catch (...) {
      m_items.pop_back();  // both grow, or neither
      throw;
    }
    return m_items.back();
  }
  void sort();

 private:
  std::vector<value_type> m_items;  // in directory order
  std::vector<size_t> m_order;      // positions in m_items, in key order
};

// A slack area: file offset and length in bytes, in ascending offset order.
using cfb_area = std::pair<uint64_t, uint64_t>;

// Used granules of one parse: one bit per granule of the whole sectors after
// the header.
struct cfb_granule_map {
  std::vector<uint64_t> m_bits;
  uint64_t m_per_sector = 0;  // S / M
  uint64_t m_count = 0;       // whole sectors x S / M

  void set(uint64_t index) {
    if (index < m_count) m_bits[index >> 6] |= uint64_t{1} << (index & 63);
  }
  bool test(uint64_t index) const {
    return index < m_count && (m_bits[index >> 6] >> (index & 63)) & 1;
  }
};

struct compound_file_reader {
  std::array<uint8_t, 16> m_guard_head{};
  std::array<uint8_t, cfb_header_size> m_cfb_header{};
  fat_link_map m_fat_links{false};
  std::vector<uint64_t> m_dir_sectors;
  std::vector<uint64_t> m_minifat_sectors;
  // Keyed by the lower-cased name; equal keys stay in directory order. Look
  // an entry up with find_cfb_entry.
  cfb_entry_map m_entries;
  fat_link_map m_minifat_links{true};
  std::array<uint8_t, 16> m_guard_tail{};
  uint32_t m_sector_count = 0;  // whole sectors after the header
  // Steps the last parse took (table entries and directory entries read,
  // chain steps, granules looked at): in proportion to the image, however
  // hostile, which the robustness tests check.
  uint64_t m_work = 0;

  // Free-space results, each in ascending order.
  std::vector<uint64_t> m_free_sectors;   // sector numbers marked FREESECT
  std::vector<uint64_t> m_free_granules;  // file offsets of unreached granules
  std::vector<cfb_area> m_slack_areas;    // runs of adjacent free granules

  // Taken from the header of the parsed image.
  uint64_t m_sector_size = 0;       // S
  uint64_t m_mini_sector_size = 0;  // M
  uint32_t m_mini_cutoff = 0;
  // Sectors of the mini stream (the root entry's chain).
  std::vector<uint64_t> m_root_sectors;
  // Scratch of the stream readers: a chain walked for one read, kept so that
  // reading stream after stream allocates nothing.
  mutable std::vector<uint64_t> m_chain_scratch;
  // How the last parse stopped short: each structure with sectors past the
  // image's end (k_cfb_past_end, at the first such sector), the fault that
  // made it refuse the image, and memory that ran out.
  fault_sink m_faults;
  // Of the last stream stream_bytes read: the leading bytes that the image
  // holds, before the first unit that lies past its end or beyond the end
  // of the stream's chain (its declared size when the whole stream is there).
  mutable uint64_t m_stream_present = 0;
  // When set, the parse reads its FAT, DIFAT, directory and mini FAT
  // sectors through it, the image bytes [offset, offset + count) into into,
  // not from the image: an image held in part needs no pages for its tables,
  // and every chain is still followed whole in one parse.
  using table_reader = std::function<void(uint64_t offset, uint8_t* into, size_t count)>;
  const table_reader* m_read_table = nullptr;

  compound_file_reader();
};

void init_compound_file_reader(compound_file_reader& reader);
void reset_compound_file_reader(compound_file_reader& reader);
void clear_cfb_header(std::array<uint8_t, cfb_header_size>& header);
void init_cfb_dir_entry(cfb_dir_entry& entry);
void clear_cfb_dir_entry_raw(cfb_dir_entry& entry);

// The signature, whatever the class id; the caller guarantees 24 readable bytes.
bool is_cfb_header(const uint8_t* bytes);
// At least 512 bytes and a compound-file header.
bool is_compound_file(const uint8_t* bytes, size_t size);
// The header forms below read a whole 512-byte header (the caller makes
// sure of it, e.g. with is_compound_file) and give 0 for a missing or wrong
// header or a shift of 32 or more; sizes are computed in 64 bits.
// (first directory sector + 1) x S.
uint64_t cfb_directory_offset(const uint8_t* header);
// Number of FAT sectors x S x (S / 4) + S: the largest image the FAT can
// address (saturating).
uint64_t cfb_max_image_size(const uint8_t* header);

// Parses the image; false for no reader, no compound-file header, unusable
// sector shifts, a directory outside the image, no root entry or memory
// that ran out, each but the first with its fault in the reader's m_faults.
// The free sectors, free granules and slack areas are worked out only when
// free_space is set.
bool parse_compound_image(compound_file_reader* reader, const uint8_t* image, size_t size,
                          bool free_space = true);

// The first entry, in directory order, whose lower-cased name is the given
// (already lower-cased) key; null when there is none.
const cfb_dir_entry* find_cfb_entry(const compound_file_reader& reader, std::string_view key);
// The entry's sectors (regular ids, or mini sector indices for a mini entry),
// followed from its start sector; empty for an empty stream or an
// unallocated entry.
std::vector<uint64_t> cfb_entry_sectors(const compound_file_reader& reader,
                                        const cfb_dir_entry& entry);

// Bytes of the named stream (case-insensitive), cut to its declared size,
// with its directory entry number and the file offset of its first byte.
bool read_stream(const compound_file_reader& reader, std::vector<uint8_t>& out, uint32_t& entry_num,
                 uint64_t& first_offset, std::string_view name, const uint8_t* image, size_t size);
// The same bytes as read_stream without copying where it can: a view into
// the image when the stream's sectors (or mini sectors) lie one after
// another inside it, else a view of scratch, filled once. The view lives as
// long as the image and scratch are left alone. False when there is no
// such stream, or when its copy ran out of memory, which faults is told.
bool stream_bytes(const compound_file_reader& reader, std::string_view name, const uint8_t* image,
                  size_t size, std::vector<uint8_t>& scratch, byte_view& out, uint32_t& entry_num,
                  uint64_t& first_offset, fault_sink& faults);
// The same for a directory entry found already (null: no stream).
bool entry_stream_bytes(const compound_file_reader& reader, const cfb_dir_entry* entry,
                        const uint8_t* image, size_t size, std::vector<uint8_t>& scratch,
                        byte_view& out, uint32_t& entry_num, uint64_t& first_offset,
                        fault_sink& faults);
bool locate_stream(const compound_file_reader& reader, std::vector<uint64_t>& regular,
                   std::vector<uint64_t>& mini, uint32_t& offset_in_sector, uint64_t& first_offset,
                   std::string_view name);
// Whole sectors (or mini sectors) in list order; sectors past the image end
// leave zeros, so every sector keeps its place in the output. Memory that
// runs out gives false and is told to faults.
bool read_fat_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                      uint64_t& first_offset, const uint8_t* image, size_t size,
                      const std::vector<uint64_t>& sectors, fault_sink& faults);
bool read_mini_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                       uint64_t& first_offset, const uint8_t* image, size_t size,
                       const std::vector<uint64_t>& mini_sectors);
// read_stream with the sector lists it read from (mini_flag 1: mini sectors),
// the bytes cut to the declared size in the same way.
bool read_stream_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                         std::vector<uint64_t>& regular, std::vector<uint64_t>& mini,
                         uint8_t& mini_flag, uint64_t& first_offset, std::string_view name,
                         const uint8_t* image, size_t size);

bool follow_fat_chain(const compound_file_reader& reader, std::vector<uint64_t>& out,
                      uint64_t start);
// Like a plain chain walk, but a repeated sector ends the walk only once
// step x (sectors appended) exceeds bound (at once for a zero step); at most
// limit sectors are given out (a mini stream's chain is limited to the mini
// sectors it can hold).
bool follow_fat_chain_bounded(std::vector<uint64_t>& out, const fat_link_map& links, uint64_t start,
                              uint64_t bound, uint64_t step, uint64_t limit = UINT64_MAX);

void sector_id_name(std::ostream& out, uint32_t id, std::string_view prefix);

bool find_entry_sectors(const compound_file_reader& reader, std::vector<uint64_t>& out,
                        uint64_t& stream_size, std::string_view name);
// The same for the entry at a position of the directory (its entry number,
// the id that sibling and child links use): the stream size is given out
// when there is such an entry; true when its sector list is not empty.
bool entry_sectors_by_index(const compound_file_reader& reader, std::vector<uint64_t>& out,
                            uint64_t& stream_size, uint32_t index);
bool mini_to_regular_sectors(const compound_file_reader& reader, std::vector<uint64_t>& out,
                             uint32_t& offset_in_sector, uint64_t& first_offset,
                             const std::vector<uint64_t>& mini_sectors);
bool is_mini_stream(const compound_file_reader& reader, std::string_view name);
void dump_directory(const compound_file_reader& reader, std::ostream& out);
size_t directory_entry_count(const compound_file_reader& reader);

// Used-space bookkeeping of the parse (compound_file_space.cpp).
void mark_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t n);
void mark_mini_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t m,
                           const std::vector<uint64_t>& root_sectors);

// Appends the bytes of the sectors the regular streams use (allocated) and
// of the gaps between them (gaps); true when allocated is not empty.
bool stream_sector_ranges(const compound_file_reader& reader, std::vector<uint8_t>& allocated,
                          std::vector<uint8_t>& gaps, const uint8_t* image, size_t size);

// A stretch of one of those runs that lies in one piece in the image: its
// offset in the run, its offset in the image and its length.
struct cfb_run_piece {
  uint64_t m_run_offset = 0;
  uint64_t m_file_offset = 0;
  uint64_t m_length = 0;
};
// The same, also telling where every stretch of the two runs lies in the
// image (the piece lists are emptied first, in ascending run offset); with
// null byte vectors, only where they lie. True when a stream sector lies
// in the image; out_of_memory, when given, tells a false that memory caused.
bool stream_sector_ranges(const compound_file_reader& reader, std::vector<uint8_t>* allocated,
                          std::vector<uint8_t>* gaps, const uint8_t* image, size_t size,
                          std::vector<cfb_run_piece>& allocated_pieces,
                          std::vector<cfb_run_piece>& gap_pieces, bool* out_of_memory = nullptr);
// The image offset of a byte of a run; the run offset itself when no piece
// holds it.
uint64_t run_to_image_offset(const std::vector<cfb_run_piece>& pieces, uint64_t run_offset);

// Where a stream's bytes lie in an image of image_size bytes, as
// entry_stream_bytes would give them: pieces in stream order (a piece whose
// file offset is cfb_zero_piece reads as zeros), the stream's length and
// the image offset of its first byte. Lets a caller that no longer holds
// the image read one stream again from where the image came from.
inline constexpr uint64_t cfb_zero_piece = UINT64_MAX;
bool entry_stream_pieces(const compound_file_reader& reader, const cfb_dir_entry& entry,
                         uint64_t image_size, std::vector<cfb_run_piece>& pieces, uint64_t& length,
                         uint64_t& first_offset);

// A compound file met inside other data, looked at before its image is
// read: read(offset, into, count) copies up to count bytes at offset from
// the header's first byte and tells how many it gave. Only what the parse
// of an image of bound bytes would use is read, sector by sector: the FAT
// sectors its chains pass through (and the DIFAT sectors naming them), the
// directory, the mini FAT, the mini stream and the regular streams' chains.
// The reach is the end of the furthest of those sectors, 0 when the parse
// would refuse the image (shifts, no FAT, a directory start it cannot
// reach, no root entry); sectors_read counts the sectors read. streams:
// the mini stream or a regular stream starts at a sector within the bound
// (without one the image holds no stream sector to carve).
struct cfb_reach {
  uint64_t reach = 0;
  uint64_t sectors_read = 0;
  bool streams = false;
  bool out_of_memory = false;  // the walk stopped short: reach is 0
  // Where the furthest sector a regular stream's chain links to starts,
  // from the header's first byte: the parse of an image of no more bytes
  // finds that chain leading past it (cfb_image_cut).
  uint64_t links_past = 0;
};
using cfb_read_at = std::function<size_t(uint64_t offset, uint8_t* into, size_t count)>;
cfb_reach embedded_cfb_reach(const uint8_t* header, uint64_t bound, const cfb_read_at& read);
// After a parse: some structure the header or the FAT names, or the chain of
// a regular stream, leads past what the image holds, so a longer image
// could give more.
bool cfb_image_cut(const compound_file_reader& reader);
// The first structure the parse found sectors of past the image's end
// ("FAT", "DIFAT", "directory", "mini FAT"); null when none.
inline const char* cfb_cut_structure(const compound_file_reader& reader) {
  for (const parse_fault& f : reader.m_faults)
    if (f.cause && std::strcmp(f.cause, k_cfb_past_end) == 0) return f.structure;
  return nullptr;
}

}  // namespace vk
