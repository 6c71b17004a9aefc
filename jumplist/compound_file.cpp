#include "jumplist/compound_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iomanip>
#include <unordered_map>
#include <unordered_set>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"
#include "jumplist/compound_file_space.h"

namespace vk {

namespace {

namespace hdr = cfb::header;
namespace dirent = cfb::dirent;

constexpr std::string_view kRootKey = "root entry";

// Directory names and asked-for names are compared in lower case.
std::string lower_key(std::string_view s) {
  std::string out(s);
  return str_to_lower(out);
}

// A header the caller guarantees to be whole.
byte_view header_view(const uint8_t* header) {
  return byte_view(header, header ? hdr::size : 0);
}

// Sector and mini sector sizes of a header; false for shifts that give no
// usable 32-bit size.
[[gnu::always_inline]] inline bool header_sizes(byte_view header, uint64_t& sector,
                                                uint64_t& mini) {
  auto shift = header.u16(hdr::sector_shift);
  auto mini_shift = header.u16(hdr::mini_sector_shift);
  if (!shift || !mini_shift || *shift >= 32 || *mini_shift >= 32) return false;
  sector = uint64_t{1} << *shift;
  mini = uint64_t{1} << *mini_shift;
  return true;
}

[[gnu::always_inline]] inline uint32_t header_u32(byte_view header, size_t field) {
  return header.u32(field).value_or(0);
}

// File offset of regular sector n, (n + 1) x S; false when it cannot be a
// real sector (ids are 32-bit).
bool sector_offset(uint64_t n, uint64_t sector_size, uint64_t& offset) {
  if (n > 0xFFFFFFFFull) return false;
  offset = (n + 1) * sector_size;  // n < 2^32 and S <= 2^31: no overflow
  return true;
}

// The bytes of regular sector n when the image holds all of them.
std::optional<byte_view> sector_view(byte_view image, uint64_t n, uint64_t sector_size) {
  uint64_t offset;
  if (!sector_offset(n, sector_size, offset) || offset > image.size()) return std::nullopt;
  return image.sub(static_cast<size_t>(offset), static_cast<size_t>(sector_size));
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t r;
  return vk::checked_mul(a, b, r) ? r : UINT64_MAX;
}

// Mini sectors the mini stream can hold; none when a mini sector would be
// larger than a sector (no usable mini stream: each mini sector read would
// allocate more than the image holds).
uint64_t mini_capacity(const compound_file_reader& reader) {
  if (reader.m_mini_sector_size == 0 || reader.m_mini_sector_size > reader.m_sector_size) return 0;
  uint64_t bytes = saturating_mul(reader.m_root_sectors.size(), reader.m_sector_size);
  return bytes / reader.m_mini_sector_size + (bytes % reader.m_mini_sector_size ? 1 : 0);
}

// The chain walk behind both public forms. A repeated sector ends the walk
// unless repeats are allowed and step x (sectors appended) is within bound;
// limit caps the sectors given out. A walk cut short by an exception leaves
// marks set: the caller's guard clears them (see chain_walk_failed).
bool walk_chain(std::vector<uint64_t>& out, const fat_link_map& links, uint64_t start, bool repeats,
                uint64_t bound, uint64_t step, uint64_t limit) {
  out.clear();
  if (links.empty()) return false;
  std::vector<uint8_t>& marks = links.walk_marks();
  if (marks.size() != links.index_limit()) marks.assign(links.index_limit(), 0);
  uint64_t n = start;
  while (out.size() < limit) {
    auto link = links.find(n);
    if (!link) break;
    uint8_t& mark = marks[static_cast<size_t>(n)];
    if (mark) {
      // With a zero step repeats would never cover the bound.
      if (!repeats || step == 0 || saturating_mul(step, out.size()) > bound) break;
    } else {
      mark = 1;
    }
    out.push_back(n);
    if (link->m_value == cfb::endofchain) break;
    n = link->m_value;
  }
  for (uint64_t s : out) marks[static_cast<size_t>(s)] = 0;
  return !out.empty();
}

void chain_walk_failed(std::vector<uint64_t>& out, const fat_link_map& links) {
  links.walk_marks().clear();  // reassigned, all clear, by the next walk
  out.clear();
}

// The entry's sectors into out (emptied first; its room is kept).
void entry_sectors_into(const compound_file_reader& reader, const cfb_dir_entry& entry,
                        std::vector<uint64_t>& out) {
  out.clear();
  uint64_t stream_size = entry.stream_size();
  if (stream_size == 0 || entry.object_type() == 0) return;
  if (entry.m_mini) {
    walk_chain(out, reader.m_minifat_links, entry.start_sector(), true,
               static_cast<uint32_t>(stream_size), reader.m_mini_sector_size,
               mini_capacity(reader));
  } else {
    walk_chain(out, reader.m_fat_links, entry.start_sector(), false, 0, 0, UINT64_MAX);
  }
}

std::vector<uint64_t> entry_sectors(const compound_file_reader& reader,
                                    const cfb_dir_entry& entry) {
  std::vector<uint64_t> out;
  entry_sectors_into(reader, entry, out);
  return out;
}

// ---- the stages of the parse ------------------------------------------------

// Off the sound path: one copy of the sink's bookkeeping for every fault.
[[gnu::cold, gnu::noinline]] void record_fault(compound_file_reader& r, const char* structure,
                                               uint64_t offset, const char* cause) {
  r.m_faults.add(structure, offset, cause);
}

// Ends the parse short, the fault saying where and why: the only way a
// stage gives up on the image, so no refusal goes without its reason.
bool stop_at(compound_file_reader& r, const char* structure, uint64_t offset, const char* cause) {
  record_fault(r, structure, offset, cause);
  return false;
}

// The file offset of regular sector n, however large n is.
uint64_t sector_start(uint64_t n, uint64_t sector_size) {
  return saturating_mul(n + 1, sector_size);
}

// Sector n of the structure named what lies past the end of the image.
void count_cut(compound_file_reader& r, const char* what, uint64_t n) {
  record_fault(r, what, sector_start(n, r.m_sector_size), k_cfb_past_end);
}

// The header, its sizes and the sectors the image holds; false for an image
// that is no compound file or whose first directory sector lies outside it.
bool read_header(compound_file_reader& r, byte_view image) {
  if (!image.has(0, hdr::size) || !is_cfb_header(image.data()))
    return stop_at(r, "header", 0, "no compound-file header");
  image.copy(0, r.m_cfb_header.data(), hdr::size);
  const byte_view h(r.m_cfb_header.data(), hdr::size);
  uint64_t S, M;
  if (!header_sizes(h, S, M) || S > image.size())
    return stop_at(r, "header", hdr::sector_shift, "sector size unusable");
  r.m_sector_size = S;
  r.m_mini_sector_size = M;
  r.m_mini_cutoff = header_u32(h, hdr::mini_cutoff);
  r.m_sector_count =
      static_cast<uint32_t>(std::min<uint64_t>((image.size() - S) / S, 0xFFFFFFFFull));
  const uint64_t directory = cfb_directory_offset(h.data());
  if (directory + S <= image.size()) return true;
  // A directory that starts past the end of a file cut short.
  const uint32_t first = header_u32(h, hdr::first_dir_sector);
  return stop_at(r, "directory", directory,
                 directory >= image.size() && first < cfb::maxregsect ? k_cfb_past_end
                                                                      : "not a sector of the file");
}

// Out of line: only the carve's parse of an embedded image asks for it.
[[gnu::noinline, gnu::cold]] byte_view read_table(const compound_file_reader& r, uint64_t n,
                                                  size_t count, std::vector<uint8_t>& held) {
  held.resize(count);
  (*r.m_read_table)((n + 1) * r.m_sector_size, held.data(), count);
  return byte_view(held.data(), held.size());
}

// Regular sector n of a table the parse reads (FAT, DIFAT, directory, mini
// FAT): in the image, or read into held by the reader's table reader when
// it has one.
std::optional<byte_view> table_sector(const compound_file_reader& r, byte_view image, uint64_t n,
                                      std::vector<uint8_t>& held) {
  std::optional<byte_view> sector = sector_view(image, n, r.m_sector_size);
  if (sector && r.m_read_table) [[unlikely]]
    return read_table(r, n, sector->size(), held);
  return sector;
}

// The FAT, read from the sectors the header slots and the DIFAT chain name,
// never beyond the sectors the image holds: repeated slots then cost no more
// than one pass over the image. Marks the DIFAT and FAT sectors used.
bool load_fat(compound_file_reader& r, byte_view image, cfb_granule_map& used) {
  const byte_view h(r.m_cfb_header.data(), hdr::size);
  const uint64_t S = r.m_sector_size;
  const uint64_t E = S / cfb::fat_entry_size;
  // Sectors that start inside the image: the only ones a link can matter for.
  const uint64_t sector_limit = std::min<uint64_t>((image.size() - 1) / S, 0xFFFFFFFFull);

  // The first sector after the header is always taken.
  mark_sector_used(r, used, 0);
  // The link table is sized once, for every sector the image holds.
  if (!r.m_fat_links.reserve_index(static_cast<size_t>(sector_limit)))
    return stop_at(r, "FAT", 0, k_fault_out_of_memory);

  // DIFAT list in the order its sectors are met, each sector once, with
  // each one's position.
  std::vector<uint32_t> difat;
  std::unordered_map<uint32_t, size_t> difat_pos;
  auto add_difat = [&](uint32_t id) {
    if (difat_pos.emplace(id, difat.size()).second) difat.push_back(id);
  };
  const uint32_t num_fat = header_u32(h, hdr::num_fat_sectors);
  const uint32_t first_difat = header_u32(h, hdr::first_difat_sector);
  // DIFAT sectors the chain may still reach through links.
  uint32_t chain_left = header_u32(h, hdr::num_difat_sectors);
  if (num_fat > hdr::difat_slots && chain_left != 0 && first_difat != cfb::endofchain &&
      first_difat != 0) {
    add_difat(first_difat);
    mark_sector_used(r, used, first_difat);
    --chain_left;
  }

  uint64_t next = 0;
  auto full = [&] { return next >= sector_limit; };
  auto beyond_end = [&](uint64_t id) { return (id + 2) * S > image.size(); };
  bool stored = true;
  auto read_fat_sector = [&](byte_view sector) {
    if (full()) return;
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>(sector.size() / 4, sector_limit - next));
    r.m_work += count;
    // The links are taken in one pass that also tells whether any names a
    // FAT or DIFAT sector; most name none.
    bool names_table = false;
    if (!r.m_fat_links.set_run(static_cast<uint32_t>(next), sector, count, &names_table))
      stored = false;
    if (names_table) {
      byte_cursor c(sector);
      uint32_t v;
      for (size_t i = 0; i < count && c.u32(v); ++i) {
        const uint32_t id = static_cast<uint32_t>(next + i);
        if (v == cfb::difatsect) {
          mark_sector_used(r, used, id);
          add_difat(id);
        } else if (v == cfb::fatsect) {
          mark_sector_used(r, used, id);
        }
      }
    }
    next += count;
  };
  // One slot naming a FAT sector: read it, or skip the sectors it would
  // have described. False at ENDOFCHAIN.
  std::vector<uint8_t> fat_held, difat_held;
  auto take_slot = [&](uint32_t id) {
    if (id == cfb::endofchain) return false;
    auto sector = id == cfb::freesect ? std::nullopt : table_sector(r, image, id, fat_held);
    if (sector && sector->size() < S) count_cut(r, "FAT", id);
    if (sector)
      read_fat_sector(*sector);
    else
      next += E;
    if (!sector && id < cfb::maxregsect && beyond_end(id)) count_cut(r, "FAT", id);
    return true;
  };

  byte_cursor slots(h, hdr::difat);
  const uint32_t header_slots = std::min<uint32_t>(num_fat, hdr::difat_slots);
  uint32_t id;
  for (uint32_t k = 0; k < header_slots && !full() && slots.u32(id); ++k) {
    ++r.m_work;
    if (!take_slot(id)) break;
  }
  if (num_fat > hdr::difat_slots && E != 0) {
    // The last slot of a DIFAT sector links to the next one, whatever the
    // FAT says of that sector; the header's count bounds the chain, and a
    // sector already listed is not walked again.
    for (size_t k = 0; k < difat.size() && !full(); ++k) {
      auto sector = table_sector(r, image, difat[k], difat_held);
      if (!sector || sector->size() < S)
        if (beyond_end(difat[k])) count_cut(r, "DIFAT", difat[k]);
      if (!sector) continue;
      byte_cursor c(*sector);
      for (uint64_t slot = 0; slot + 1 < E && !full() && c.u32(id); ++slot) {
        ++r.m_work;
        // A slot naming a DIFAT sector known to come later is a misplaced
        // link, never a FAT sector.
        auto pos = difat_pos.find(id);
        if (pos != difat_pos.end() && pos->second > k) continue;
        if (!take_slot(id)) break;
      }
      const uint32_t link = sector->u32_or_zero(static_cast<size_t>((E - 1) * cfb::fat_entry_size));
      if (chain_left != 0 && link < cfb::maxregsect) {
        --chain_left;
        if (!difat_pos.count(link)) mark_sector_used(r, used, link);
        add_difat(link);
      }
    }
  }
  return stored || stop_at(r, "FAT", 0, k_fault_out_of_memory);
}

// The directory, a flat array of entries along its chain; root becomes the
// root entry, or null when there is none. False when memory runs out.
bool load_directory(compound_file_reader& r, byte_view image, const cfb_dir_entry*& root) {
  const uint64_t S = r.m_sector_size;
  const uint64_t per_sector = S / dirent::size;
  uint64_t e = 0;
  r.m_entries.reserve(static_cast<size_t>(std::min<uint64_t>(
      saturating_mul(r.m_dir_sectors.size(), per_sector), image.size() / dirent::size)));
  // Old writers of version-3 files left garbage in the high half of sizes.
  const uint8_t low_only =
      byte_view(r.m_cfb_header.data(), hdr::size).u16_or_zero(hdr::major_version) == 3;
  std::vector<uint8_t> held;
  for (uint64_t s : r.m_dir_sectors) {
    auto sector = table_sector(r, image, s, held);
    if (!sector || sector->size() < S) count_cut(r, "directory", s);
    if (!sector) {
      e += per_sector;
      continue;
    }
    byte_cursor c(*sector);
    for (uint64_t i = 0; i < per_sector; ++i, ++e) {
      ++r.m_work;
      // Filled where it is stored: no entry is moved on the way in.
      auto& [key, entry] = r.m_entries.append_new();
      std::array<uint8_t, dirent::size> raw{};
      c.bytes(raw.data(), dirent::size);
      entry.take_stored(raw.data());
      byte_cursor name(byte_view(raw.data(), dirent::size), dirent::name);
      name.text16(entry.m_name, dirent::name_size / 2);
      // The decoding gives no text for a name it had no memory for.
      if (entry.m_name.empty() && (raw[dirent::name] | raw[dirent::name + 1]))
        return stop_at(r, "directory", 0, k_fault_out_of_memory);
      entry.m_entry_num = static_cast<uint32_t>(std::min<uint64_t>(e, 0xFFFFFFFFull));
      entry.m_size_low_only = low_only;
      key.assign(entry.m_name);
      str_to_lower(key);
    }
  }
  r.m_entries.sort();
  root = find_cfb_entry(r, kRootKey);
  return true;
}

// The mini FAT along its chain (marked used), then which streams live in the
// mini stream and the sectors of the mini stream itself. Sector lists of
// the other entries are followed on demand: entries that share a chain cost
// nothing here.
bool load_mini_fat(compound_file_reader& r, byte_view image, const cfb_dir_entry& root,
                   cfb_granule_map& used) {
  const uint64_t S = r.m_sector_size;
  const uint64_t E = S / cfb::fat_entry_size;
  uint64_t mini_index = 0;
  bool stored = true;
  if (!r.m_minifat_links.reserve_index(static_cast<size_t>(
          std::min<uint64_t>(r.m_minifat_sectors.size() * E, uint64_t{0xFFFFFFFF} + 1))))
    return stop_at(r, "mini FAT", 0, k_fault_out_of_memory);
  std::vector<uint8_t> held;
  for (uint64_t s : r.m_minifat_sectors) {
    mark_sector_used(r, used, s);
    auto sector = table_sector(r, image, s, held);
    if (!sector || sector->size() < S) count_cut(r, "mini FAT", s);
    if (!sector) {
      mini_index += E;
      continue;
    }
    // The sector's whole 32-bit values, up to the last mini sector id.
    if (mini_index > 0xFFFFFFFFull) continue;
    const uint64_t count = std::min<uint64_t>(sector->size() / cfb::fat_entry_size,
                                              uint64_t{0xFFFFFFFF} + 1 - mini_index);
    r.m_work += count;
    if (!r.m_minifat_links.set_run(static_cast<uint32_t>(mini_index), *sector,
                                   static_cast<size_t>(count)))
      stored = false;
    mini_index += count;
  }

  for (auto& [key, entry] : r.m_entries) {
    entry.m_mini = 0;
    uint64_t stream_size = entry.stream_size();
    if (stream_size == 0 || entry.object_type() == 0) continue;
    if (stream_size < r.m_mini_cutoff && key != kRootKey) entry.m_mini = 1;
  }
  entry_sectors_into(r, root, r.m_root_sectors);
  r.m_work += r.m_root_sectors.size();
  return stored || stop_at(r, "mini FAT", 0, k_fault_out_of_memory);
}

bool parse_image(compound_file_reader& r, byte_view image, bool free_space) {
  if (!read_header(r, image)) return false;
  // Without the free-space results no granule is recorded (marking an empty
  // map does nothing).
  cfb_granule_map used = free_space ? make_granule_map(r) : cfb_granule_map{};
  if (!load_fat(r, image, used)) return false;
  const byte_view h(r.m_cfb_header.data(), hdr::size);
  walk_chain(r.m_dir_sectors, r.m_fat_links, header_u32(h, hdr::first_dir_sector), false, 0, 0,
             UINT64_MAX);
  walk_chain(r.m_minifat_sectors, r.m_fat_links, header_u32(h, hdr::first_minifat_sector), false, 0,
             0, UINT64_MAX);
  r.m_work += r.m_dir_sectors.size() + r.m_minifat_sectors.size();
  // A chain whose next sector lies past the end of the image was cut with it.
  for (const auto* chain : {&r.m_dir_sectors, &r.m_minifat_sectors}) {
    if (chain->empty()) continue;
    const uint64_t next = r.m_fat_links.value(chain->back());
    if (next < cfb::maxregsect && (next + 2) * r.m_sector_size > image.size())
      count_cut(r, chain == &r.m_dir_sectors ? "directory" : "mini FAT", next);
  }
  const cfb_dir_entry* root = nullptr;
  if (!load_directory(r, image, root)) return false;
  if (!root) return stop_at(r, "directory", cfb_directory_offset(h.data()), "no root entry");
  if (!load_mini_fat(r, image, *root, used)) return false;
  if (free_space) {
    mark_used_space(r, *root, used);
    derive_free_space(r, used, image.size());
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

namespace {

// The order of std::string's compare (bytes as unsigned, then length),
// inline: keys are short and mostly differ in their first byte.
int compare_keys(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

cfb_entry_map::const_iterator cfb_entry_map::lower_bound(std::string_view key) const {
  return std::lower_bound(begin(), end(), key, [](const value_type& item, std::string_view k) {
    return compare_keys(item.first, k) < 0;
  });
}

std::pair<cfb_entry_map::const_iterator, cfb_entry_map::const_iterator> cfb_entry_map::equal_range(
    std::string_view key) const {
  const_iterator first = lower_bound(key);
  const_iterator last = std::upper_bound(
      first, end(), key,
      [](std::string_view k, const value_type& item) { return compare_keys(k, item.first) < 0; });
  return {first, last};
}

size_t cfb_entry_map::count(std::string_view key) const {
  const auto [first, last] = equal_range(key);
  return static_cast<size_t>(last - first);
}

void cfb_entry_map::sort() {
  // Entry numbers follow directory order and never repeat, so ordering equal
  // keys by them keeps directory order without a stable sort's buffer. Only
  // the positions move; the entries stay where they were filled.
  if (m_items.size() < 2) return;
  std::sort(m_order.begin(), m_order.end(), [&](size_t x, size_t y) {
    const value_type& a = m_items[x];
    const value_type& b = m_items[y];
    const int c = compare_keys(a.first, b.first);
    return c < 0 || (c == 0 && a.second.m_entry_num < b.second.m_entry_num);
  });
}

void fat_link_map::clear() {
  m_values.clear();
  m_present.clear();
  m_walk_marks.clear();
  m_count = 0;
  m_set_end = 0;
}

// Once per table and parse: its fills are inlined whatever else the unit
// inlines.
[[gnu::flatten]] bool fat_link_map::reserve_index(size_t limit) {
  if (limit <= m_values.size()) return true;
  const size_t had = m_values.size();
  return guarded(
      [&] {
        m_values.resize(limit);
        m_present.resize(limit, 0);
        return true;
      },
      [&] {
        m_values.resize(had);
        m_present.resize(had);
      });
}

bool fat_link_map::grow_to(uint32_t sector) {
  const size_t had = m_values.size();
  return guarded(
      [&] {
        m_values.resize(size_t{sector} + 1, 0);
        m_present.resize(size_t{sector} + 1, 0);
        return true;
      },
      // Both tables keep one length, or contains() would read past one.
      [&] {
        m_values.resize(had);
        m_present.resize(had);
      });
}

void cfb_dir_entry::take_stored(const uint8_t* raw) {
  const byte_view v(raw, dirent::size);
  m_object_type = v.u8_or_zero(dirent::object_type);
  m_start = v.u32_or_zero(dirent::start_sector);
  m_stored_size = v.u64(dirent::stream_size).value_or(0);
}

compound_file_reader::compound_file_reader() {
  reset_compound_file_reader(*this);
}

void init_compound_file_reader(compound_file_reader& reader) {
  reset_compound_file_reader(reader);
}

void reset_compound_file_reader(compound_file_reader& reader) {
  reader.m_guard_head.fill(0xAA);
  reader.m_guard_tail.fill(0xBB);
  clear_cfb_header(reader.m_cfb_header);
  reader.m_sector_count = 0;
  reader.m_work = 0;
  // A sound parse leaves the sink empty, and it stays as it is.
  if (!reader.m_faults.empty() || reader.m_faults.out_of_memory()) reader.m_faults.clear();
  reader.m_stream_present = 0;
  reader.m_fat_links.clear();
  reader.m_dir_sectors.clear();
  reader.m_minifat_sectors.clear();
  reader.m_entries.clear();
  reader.m_minifat_links.clear();
  reader.m_free_sectors.clear();
  reader.m_free_granules.clear();
  reader.m_slack_areas.clear();
  reader.m_sector_size = 0;
  reader.m_mini_sector_size = 0;
  reader.m_mini_cutoff = 0;
  reader.m_root_sectors.clear();
}

void clear_cfb_header(std::array<uint8_t, cfb_header_size>& header) {
  header.fill(0);
}

void clear_cfb_dir_entry_raw(cfb_dir_entry& entry) {
  entry.m_object_type = 0;
  entry.m_start = 0;
  entry.m_stored_size = 0;
}

void init_cfb_dir_entry(cfb_dir_entry& entry) {
  clear_cfb_dir_entry_raw(entry);
  entry.m_name.clear();
  entry.m_entry_num = 0;
  entry.m_mini = 0;
}

bool is_cfb_header(const uint8_t* bytes) {
  const byte_view h(bytes, bytes ? hdr::minor_version : 0);
  if (h.u32(hdr::signature) != cfb::signature_low ||
      h.u32(hdr::signature + 4) != cfb::signature_high)
    return false;
  // The class id should be zero but readers take any: one changed bit must
  // not turn a list into loose bytes.
  return true;
}

bool is_compound_file(const uint8_t* bytes, size_t size) {
  return bytes && size >= cfb_header_size && is_cfb_header(bytes);
}

uint64_t cfb_directory_offset(const uint8_t* header) {
  uint64_t S, M;
  const byte_view h = header_view(header);
  if (!is_cfb_header(header) || !header_sizes(h, S, M)) return 0;
  return (uint64_t{header_u32(h, hdr::first_dir_sector)} + 1) * S;
}

uint64_t cfb_max_image_size(const uint8_t* header) {
  uint64_t S, M;
  const byte_view h = header_view(header);
  if (!is_cfb_header(header) || !header_sizes(h, S, M)) return 0;
  uint64_t bytes = saturating_mul(saturating_mul(header_u32(h, hdr::num_fat_sectors), S),
                                  S / cfb::fat_entry_size);
  return bytes > UINT64_MAX - S ? UINT64_MAX : bytes + S;
}

bool parse_compound_image(compound_file_reader* reader, const uint8_t* image, size_t size,
                          bool free_space) {
  if (!reader) return false;
  reset_compound_file_reader(*reader);
  if (guarded([&] { return parse_image(*reader, byte_view(image, size), free_space); },
              [&] { reader->m_faults.add_out_of_memory(); }))
    return true;
  // Results of a failed parse are never half-filled.
  reader->m_free_sectors.clear();
  reader->m_free_granules.clear();
  reader->m_slack_areas.clear();
  reader->m_fat_links.walk_marks().clear();
  return false;
}

const cfb_dir_entry* find_cfb_entry(const compound_file_reader& reader, std::string_view key) {
  auto it = reader.m_entries.lower_bound(key);
  if (it == reader.m_entries.end() || compare_keys(it->first, key) != 0) return nullptr;
  return &it->second;
}

std::vector<uint64_t> cfb_entry_sectors(const compound_file_reader& reader,
                                        const cfb_dir_entry& entry) {
  return guarded([&] { return entry_sectors(reader, entry); },
                 [&] {
                   reader.m_fat_links.walk_marks().clear();
                   reader.m_minifat_links.walk_marks().clear();
                 });
}

bool follow_fat_chain(const compound_file_reader& reader, std::vector<uint64_t>& out,
                      uint64_t start) {
  return guarded(
      [&] { return walk_chain(out, reader.m_fat_links, start, false, 0, 0, UINT64_MAX); },
      [&] { chain_walk_failed(out, reader.m_fat_links); });
}

bool follow_fat_chain_bounded(std::vector<uint64_t>& out, const fat_link_map& links, uint64_t start,
                              uint64_t bound, uint64_t step, uint64_t limit) {
  return guarded([&] { return walk_chain(out, links, start, true, bound, step, limit); },
                 [&] { chain_walk_failed(out, links); });
}

namespace {

// The first entry under the lower-cased name; null when there is none.
const cfb_dir_entry* entry_named(const compound_file_reader& reader, std::string_view name) {
  for (char c : name)
    if (c >= 'A' && c <= 'Z') return find_cfb_entry(reader, lower_key(name));
  return find_cfb_entry(reader, name);
}

bool locate_entry(const compound_file_reader& reader, const cfb_dir_entry& entry,
                  std::vector<uint64_t>& regular, std::vector<uint64_t>& mini,
                  uint32_t& offset_in_sector, uint64_t& first_offset) {
  regular.clear();
  mini.clear();
  offset_in_sector = 0;
  first_offset = 0;
  std::vector<uint64_t> sectors = entry_sectors(reader, entry);
  if (sectors.empty()) return false;
  const uint64_t S = reader.m_sector_size;
  if (entry.m_mini) {
    if (!find_cfb_entry(reader, kRootKey)) return false;
    const auto& root = reader.m_root_sectors;
    uint64_t p = sectors.front() * reader.m_mini_sector_size;
    // A first mini sector beyond the mini stream: a missing stream.
    if (p / S >= root.size()) return false;
    offset_in_sector = static_cast<uint32_t>(p % S);
    first_offset = (root[static_cast<size_t>(p / S)] + 1) * S + p % S;
    mini = std::move(sectors);
  } else {
    first_offset = (sectors.front() + 1) * S;
    regular = std::move(sectors);
  }
  return true;
}

// The failure result of the routines that give out sector lists.
void clear_lists(const compound_file_reader& reader, std::vector<uint64_t>& regular,
                 std::vector<uint64_t>& mini) {
  reader.m_fat_links.walk_marks().clear();
  reader.m_minifat_links.walk_marks().clear();
  regular.clear();
  mini.clear();
}

// Sizes out to count units of unit bytes, all zero; false when the total
// does not fit in memory's range (never more than the caller's list asks).
bool zeroed_units(std::vector<uint8_t>& out, size_t count, uint64_t unit) {
  out.clear();
  uint64_t total;
  if (!vk::checked_mul(uint64_t{count}, unit, total) || total > out.max_size()) return false;
  out.assign(static_cast<size_t>(total), 0);
  return true;
}

// Copies the unit bytes at file offset o into out at cursor, as far as the
// image holds them; the rest stays zero.
void copy_unit(std::vector<uint8_t>& out, uint64_t cursor, byte_view image, uint64_t o,
               uint64_t unit) {
  if (o >= image.size()) return;
  const byte_view part = image.clamp(static_cast<size_t>(o), static_cast<size_t>(unit));
  if (!part.empty()) std::memcpy(out.data() + cursor, part.data(), part.size());
}

bool fat_sectors_into(const compound_file_reader& reader, std::vector<uint8_t>& out,
                      uint64_t& first_offset, byte_view image,
                      const std::vector<uint64_t>& sectors) {
  first_offset = 0;
  out.clear();
  const uint64_t S = reader.m_sector_size;
  if (sectors.empty() || S == 0 || !zeroed_units(out, sectors.size(), S)) return false;
  // Every sector moves the cursor by a whole sector, read or not.
  uint64_t cursor = 0;
  for (size_t i = 0; i < sectors.size(); ++i, cursor += S) {
    uint64_t o;
    if (!sector_offset(sectors[i], S, o)) continue;
    if (i == 0) first_offset = o;
    copy_unit(out, cursor, image, o, S);
  }
  return true;
}

bool mini_sectors_into(const compound_file_reader& reader, std::vector<uint8_t>& out,
                       uint64_t& first_offset, byte_view image,
                       const std::vector<uint64_t>& mini_sectors) {
  first_offset = 0;
  out.clear();
  const uint64_t S = reader.m_sector_size, M = reader.m_mini_sector_size;
  if (mini_sectors.empty() || S == 0 || !find_cfb_entry(reader, kRootKey) ||
      !zeroed_units(out, mini_sectors.size(), M))
    return false;
  const auto& root = reader.m_root_sectors;
  uint64_t cursor = 0;
  for (size_t i = 0; i < mini_sectors.size(); ++i, cursor += M) {
    uint64_t m = mini_sectors[i];
    if (m > 0xFFFFFFFFull) continue;
    uint64_t p = m * M, q = p / S;
    if (q >= root.size()) continue;
    uint64_t o;
    if (!sector_offset(root[static_cast<size_t>(q)], S, o)) continue;
    o += p % S;
    if (first_offset == 0) first_offset = o;
    copy_unit(out, cursor, image, o, M);
  }
  return true;
}

// Reads the entry's stream, cut to its declared size: sector slack after
// the stream's end is not part of it.
bool read_entry(const compound_file_reader& reader, const cfb_dir_entry& entry,
                std::vector<uint8_t>& out, std::vector<uint64_t>& regular,
                std::vector<uint64_t>& mini, uint8_t& mini_flag, uint64_t& first_offset,
                byte_view image) {
  out.clear();
  mini_flag = 0;
  uint32_t offset_in_sector;
  if (!locate_entry(reader, entry, regular, mini, offset_in_sector, first_offset)) return false;
  bool ok;
  if (!mini.empty()) {
    mini_flag = 1;
    ok = mini_sectors_into(reader, out, first_offset, image, mini);
  } else {
    ok = fat_sectors_into(reader, out, first_offset, image, regular);
  }
  if (ok && out.size() > entry.stream_size()) out.resize(static_cast<size_t>(entry.stream_size()));
  return ok;
}

}  // namespace

bool locate_stream(const compound_file_reader& reader, std::vector<uint64_t>& regular,
                   std::vector<uint64_t>& mini, uint32_t& offset_in_sector, uint64_t& first_offset,
                   std::string_view name) {
  offset_in_sector = 0;
  first_offset = 0;
  return guarded(
      [&] {
        const cfb_dir_entry* entry = entry_named(reader, name);
        if (entry)
          return locate_entry(reader, *entry, regular, mini, offset_in_sector, first_offset);
        clear_lists(reader, regular, mini);
        return false;
      },
      [&] { clear_lists(reader, regular, mini); });
}

bool read_fat_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                      uint64_t& first_offset, const uint8_t* image, size_t size,
                      const std::vector<uint64_t>& sectors, fault_sink& faults) {
  return guarded(
      [&] { return fat_sectors_into(reader, out, first_offset, byte_view(image, size), sectors); },
      [&] {
        faults.add_out_of_memory();
        out.clear();
      });
}

bool read_mini_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                       uint64_t& first_offset, const uint8_t* image, size_t size,
                       const std::vector<uint64_t>& mini_sectors) {
  return guarded(
      [&] {
        return mini_sectors_into(reader, out, first_offset, byte_view(image, size), mini_sectors);
      },
      [&] { out.clear(); });
}

bool read_stream(const compound_file_reader& reader, std::vector<uint8_t>& out, uint32_t& entry_num,
                 uint64_t& first_offset, std::string_view name, const uint8_t* image, size_t size) {
  out.clear();
  first_offset = 0;
  return guarded(
      [&] {
        const cfb_dir_entry* entry = entry_named(reader, name);
        if (!entry) return false;
        entry_num = entry->m_entry_num;
        std::vector<uint64_t> regular, mini;
        uint8_t mini_flag;
        return read_entry(reader, *entry, out, regular, mini, mini_flag, first_offset,
                          byte_view(image, size));
      },
      [&] {
        std::vector<uint64_t> none;
        clear_lists(reader, none, none);
        out.clear();
      });
}

namespace {

// Where each unit of a located stream lies in the image (all ones when it
// has no place there), as the copying readers find it.
uint64_t unit_offset(const compound_file_reader& reader, bool mini, uint64_t unit_id) {
  const uint64_t S = reader.m_sector_size;
  uint64_t o;
  if (!mini) return sector_offset(unit_id, S, o) ? o : ~uint64_t{0};
  const uint64_t M = reader.m_mini_sector_size;
  if (unit_id > 0xFFFFFFFFull) return ~uint64_t{0};
  const uint64_t p = unit_id * M, q = p / S;
  const auto& root = reader.m_root_sectors;
  if (q >= root.size() || !sector_offset(root[static_cast<size_t>(q)], S, o)) return ~uint64_t{0};
  return o + p % S;
}

// The units (sectors or mini sectors) of the entry's chain that hold its
// declared size, the same first units as entry_sectors gives: how many
// there are, the first and the last, and whether each follows the one
// before it. A regular stream's are walked into the reader's scratch; a
// mini stream's are only counted (the walk needs no marks, see below) and
// followed again where they are copied. False for what locate_entry
// refuses.
struct unit_chain {
  uint64_t count = 0;
  uint64_t first = 0, last = 0;
  bool consecutive = true;
};

bool entry_units(const compound_file_reader& reader, const cfb_dir_entry& entry,
                 std::vector<uint64_t>& units, unit_chain& chain) {
  units.clear();
  chain = unit_chain{};
  const uint64_t stream_size = entry.stream_size();
  if (stream_size == 0 || entry.object_type() == 0) return false;
  const uint64_t unit = entry.m_mini ? reader.m_mini_sector_size : reader.m_sector_size;
  if (unit == 0) return false;
  // Units past the declared size add no byte: the walk stops before them.
  const uint64_t needed = stream_size / unit + (stream_size % unit != 0);
  if (entry.m_mini) {
    // The chain as walk_chain gives it with repeats allowed up to the
    // declared size: a stream below the mini cutoff never reaches that size
    // in fewer than `needed` units, so no repeat ends this walk and it needs
    // no marks.
    const fat_link_map& links = reader.m_minifat_links;
    const uint64_t limit = std::min(needed, mini_capacity(reader));
    uint64_t n = entry.start_sector();
    if (limit == 0 || !links.contains(n)) return false;
    chain.first = n;
    uint64_t count = 1;
    bool consecutive = true;
    for (;;) {
      const uint64_t next = links.value(n);
      if (next == cfb::endofchain || count >= limit || !links.contains(next)) break;
      consecutive &= next == n + 1;
      n = next;
      ++count;
    }
    chain.count = count;
    chain.last = n;
    chain.consecutive = consecutive;
    // A first mini sector beyond the mini stream (none without a root
    // entry): a missing stream.
    return chain.first * reader.m_mini_sector_size / reader.m_sector_size <
           reader.m_root_sectors.size();
  }
  walk_chain(units, reader.m_fat_links, entry.start_sector(), false, 0, 0, needed);
  if (units.empty()) return false;
  chain.count = units.size();
  chain.first = units.front();
  chain.last = units.back();
  for (size_t i = 1; chain.consecutive && i < units.size(); ++i)
    chain.consecutive = units[i] == units[0] + i;
  return true;
}

// A chain's units in chain order: from the walked list, or for a mini
// stream from its chain (each of the counted units is in the mini FAT).
struct chain_units {
  const std::vector<uint64_t>& units;
  const fat_link_map& mini_links;
  bool is_mini;
  uint64_t chain_at;
  size_t listed = 0;
  uint64_t operator()() {
    if (!is_mini) return units[listed++];
    const uint64_t u = chain_at;
    chain_at = mini_links.value(u);
    return u;
  }
};

// Whether a chain's TOTAL bytes lie in one piece at FIRST inside the image:
// consecutive unit numbers, and for mini sectors consecutive sectors of the
// mini stream under them.
bool chain_in_place(const compound_file_reader& reader, bool is_mini, const unit_chain& chain,
                    uint64_t first, uint64_t total, uint64_t image_size) {
  if (!chain.consecutive || first == ~uint64_t{0} || first > image_size ||
      total > image_size - first)
    return false;
  if (!is_mini) return true;
  const auto& root = reader.m_root_sectors;
  const uint64_t per_sector = reader.m_sector_size / reader.m_mini_sector_size;
  const uint64_t q0 = chain.first / per_sector, q1 = chain.last / per_sector;
  if (q1 >= root.size()) return false;
  for (uint64_t q = q0 + 1; q <= q1; ++q)
    if (root[static_cast<size_t>(q)] != root[static_cast<size_t>(q0)] + (q - q0)) return false;
  return true;
}

// A chain's units in runs that lie one after another in the image
// (consecutive numbers, and mini sectors inside one sector of the mini
// stream), in stream order: visit(at, offset, length) for each run's share
// of the stream's first LENGTH bytes, at its offset in the file (~0: none).
// FIRST_OFFSET becomes where the stream's first unit lies (0: nowhere); a
// mini stream's walk goes on past LENGTH only to find it.
template <class Visit>
void for_each_unit_run(const compound_file_reader& reader, bool is_mini, uint64_t unit,
                       uint64_t count, chain_units next_unit, uint64_t length,
                       uint64_t& first_offset, Visit visit) {
  const uint64_t per_sector = is_mini ? reader.m_sector_size / unit : 0;
  uint64_t placed = 0;
  uint64_t u = next_unit();
  for (uint64_t i = 0, j = 0; i < count; i = j) {
    const uint64_t run_first = u;
    for (j = i + 1; j < count; ++j) {
      const uint64_t v = next_unit();
      const bool joins = v == u + 1 && v <= 0xFFFFFFFFull && (!is_mini || v % per_sector != 0);
      u = v;
      if (!joins) break;
    }
    const uint64_t o = unit_offset(reader, is_mini, run_first);
    if (o != ~uint64_t{0} && first_offset == 0 && (is_mini || i == 0)) first_offset = o;
    if (placed >= length) {
      if (first_offset != 0 || !is_mini) break;
      continue;
    }
    const uint64_t want = std::min<uint64_t>((j - i) * unit, length - placed);
    visit(placed, o, want);
    placed += want;
  }
}

bool entry_bytes(const compound_file_reader& reader, const cfb_dir_entry& entry, byte_view image,
                 std::vector<uint8_t>& scratch, byte_view& out, uint64_t& first_offset) {
  first_offset = 0;
  std::vector<uint64_t>& units = reader.m_chain_scratch;
  unit_chain chain;
  if (!entry_units(reader, entry, units, chain)) return false;
  const bool is_mini = entry.m_mini != 0;
  const uint64_t unit = is_mini ? reader.m_mini_sector_size : reader.m_sector_size;
  uint64_t total;
  if (!vk::checked_mul(chain.count, unit, total) || total > scratch.max_size()) return false;
  const uint64_t length = std::min(total, entry.stream_size());
  // In place when the units follow one another wholly inside the image:
  // consecutive unit numbers, and for mini sectors consecutive sectors of
  // the mini stream under them. (Bytes and offset are the copy's anyway.)
  const uint64_t first = unit_offset(reader, is_mini, chain.first);
  if (chain_in_place(reader, is_mini, chain, first, total, image.size())) {
    first_offset = first;
    out = byte_view(image.data() + first, static_cast<size_t>(length));
    reader.m_stream_present = length;
    return true;
  }
  // Otherwise one copy, unit by unit; a unit outside the image reads as
  // zeros and keeps its place. Units that lie one after another in the
  // image (consecutive numbers, and mini sectors inside one sector of the
  // mini stream) are taken as one run: they share their place in it or
  // their lack of one. The units come again in chain order: from the
  // walked list, or for a mini stream from its chain (each of the counted
  // units is in the mini FAT).
  first_offset = 0;
  scratch.clear();
  scratch.reserve(static_cast<size_t>(length));
  uint64_t present = length;
  for_each_unit_run(
      reader, is_mini, unit, chain.count, {units, reader.m_minifat_links, is_mini, chain.first},
      length, first_offset, [&](uint64_t at, uint64_t o, uint64_t want) {
        size_t taken = 0;
        if (o != ~uint64_t{0} && o < image.size()) {
          const byte_view part = image.clamp(static_cast<size_t>(o), static_cast<size_t>(want));
          scratch.insert(scratch.end(), part.data(), part.data() + part.size());
          taken = part.size();
        }
        if (taken < want && present == length) present = at + taken;
        scratch.insert(scratch.end(), static_cast<size_t>(want) - taken, uint8_t{0});
      });
  reader.m_stream_present = present;
  out = byte_view(scratch.data(), scratch.size());
  return true;
}

}  // namespace

bool stream_bytes(const compound_file_reader& reader, std::string_view name, const uint8_t* image,
                  size_t size, std::vector<uint8_t>& scratch, byte_view& out, uint32_t& entry_num,
                  uint64_t& first_offset, fault_sink& faults) {
  const cfb_dir_entry* entry = nullptr;
  // The look-up builds a lower-cased key only for a name with capitals.
  guarded(
      [&] {
        entry = entry_named(reader, name);
        return true;
      },
      [&] { faults.add_out_of_memory(); });
  return entry_stream_bytes(reader, entry, image, size, scratch, out, entry_num, first_offset,
                            faults);
}

// Out of line, so that its guarded copy is the one both forms share and is
// inlined into it.
[[gnu::noinline]] bool entry_stream_bytes(const compound_file_reader& reader,
                                          const cfb_dir_entry* entry, const uint8_t* image,
                                          size_t size, std::vector<uint8_t>& scratch,
                                          byte_view& out, uint32_t& entry_num,
                                          uint64_t& first_offset, fault_sink& faults) {
  out = byte_view();
  first_offset = 0;
  return guarded(
      [&] {
        reader.m_stream_present = 0;
        if (!entry) return false;
        entry_num = entry->m_entry_num;
        return entry_bytes(reader, *entry, byte_view(image, size), scratch, out, first_offset);
      },
      [&] {
        faults.add_out_of_memory();
        std::vector<uint64_t> none;
        clear_lists(reader, none, none);
        out = byte_view();
        scratch.clear();
      });
}

bool read_stream_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                         std::vector<uint64_t>& regular, std::vector<uint64_t>& mini,
                         uint8_t& mini_flag, uint64_t& first_offset, std::string_view name,
                         const uint8_t* image, size_t size) {
  out.clear();
  mini_flag = 0;
  first_offset = 0;
  return guarded(
      [&] {
        const cfb_dir_entry* entry = entry_named(reader, name);
        if (entry)
          return read_entry(reader, *entry, out, regular, mini, mini_flag, first_offset,
                            byte_view(image, size));
        clear_lists(reader, regular, mini);
        return false;
      },
      [&] {
        clear_lists(reader, regular, mini);
        out.clear();
      });
}

void sector_id_name(std::ostream& out, uint32_t id, std::string_view prefix) {
  out << std::dec;
  if (!prefix.empty()) out << prefix;
  switch (id) {
    case cfb_maxregsect:
      out << "MAXREGSECT";
      break;
    case cfb_difatsect:
      out << "DIFATSECT";
      break;
    case cfb_fatsect:
      out << "FATSECT";
      break;
    case cfb_endofchain:
      out << "ENDOFCHAIN";
      break;
    case cfb_freesect:
      out << "FREESECT";
      break;
    default:
      out << id;
  }
}

bool find_entry_sectors(const compound_file_reader& reader, std::vector<uint64_t>& out,
                        uint64_t& stream_size, std::string_view name) {
  out.clear();
  return guarded(
      [&] {
        std::string key = lower_key(name);
        bool found = false;
        auto [first, last] = reader.m_entries.equal_range(key);
        for (auto it = first; it != last; ++it) {
          found = true;
          stream_size = it->second.stream_size();
          if (stream_size == 0) break;
          out = entry_sectors(reader, it->second);
        }
        return found && !out.empty();
      },
      [&] {
        std::vector<uint64_t> none;
        clear_lists(reader, out, none);
      });
}

bool entry_sectors_by_index(const compound_file_reader& reader, std::vector<uint64_t>& out,
                            uint64_t& stream_size, uint32_t index) {
  out.clear();
  for (const auto& [key, entry] : reader.m_entries) {
    if (entry.m_entry_num != index) continue;
    stream_size = entry.stream_size();
    out = cfb_entry_sectors(reader, entry);
    return !out.empty();
  }
  return false;
}

bool mini_to_regular_sectors(const compound_file_reader& reader, std::vector<uint64_t>& out,
                             uint32_t& offset_in_sector, uint64_t& first_offset,
                             const std::vector<uint64_t>& mini_sectors) {
  out.clear();
  offset_in_sector = 0;
  first_offset = 0;
  if (mini_sectors.empty() || !find_cfb_entry(reader, kRootKey)) return false;
  const uint64_t S = reader.m_sector_size, M = reader.m_mini_sector_size;
  const auto& root = reader.m_root_sectors;
  return guarded(
      [&] {
        for (size_t i = 0; i < mini_sectors.size(); ++i) {
          uint64_t m = mini_sectors[i];
          if (m > 0xFFFFFFFFull) return true;
          uint64_t p = m * M, q = p / S;
          if (q >= root.size()) return true;
          uint64_t sector = root[static_cast<size_t>(q)];
          if (out.empty() || out.back() != sector) out.push_back(sector);
          if (i == 0) {
            offset_in_sector = static_cast<uint32_t>(p % S);
            first_offset = (sector + 1) * S + p % S;
          }
        }
        return true;
      },
      [&] {});
}

bool is_mini_stream(const compound_file_reader& reader, std::string_view name) {
  if (name.empty()) return false;
  return guarded([&] {
    std::string key = lower_key(name);
    const cfb_dir_entry* entry = find_cfb_entry(reader, key);
    return entry && entry->stream_size() < reader.m_mini_cutoff && key != kRootKey;
  });
}

void dump_directory(const compound_file_reader& reader, std::ostream& out) {
  for (const auto& [key, entry] : reader.m_entries) {
    out << key << " : " << '\n';
    for (uint64_t s : cfb_entry_sectors(reader, entry))
      out << std::hex << std::setw(6) << std::setfill('0') << std::right << s << std::dec << ' ';
    out << "\n\n";
  }
  out << std::setfill(' ');
}

size_t directory_entry_count(const compound_file_reader& reader) {
  return reader.m_entries.size();
}

namespace {

// The first index from k on (or end) whose mark (0 or 1) is value; eight
// at a time, as long stretches are the rule.
size_t next_mark(const uint8_t* marks, size_t k, size_t end, uint8_t value) {
  for (; k < end && (k & 7) != 0; ++k)
    if (marks[k] == value) return k;
  for (; k + 8 <= end; k += 8)
    if (!marks_are<8>(marks + k, value ^ 1)) break;
  while (k < end && marks[k] != value) ++k;
  return k;
}

// Appends the stream sectors and the gaps between them; see
// stream_sector_ranges. Every byte comes through a sub-view of the image.
void sector_ranges_into(const compound_file_reader& reader, std::vector<uint8_t>* allocated,
                        std::vector<uint8_t>* gaps, byte_view image,
                        std::vector<cfb_run_piece>* allocated_pieces,
                        std::vector<cfb_run_piece>* gap_pieces) {
  // Without byte vectors only the pieces are told; the runs' lengths are
  // counted.
  uint64_t allocated_size = allocated ? allocated->size() : 0;
  uint64_t gaps_size = gaps ? gaps->size() : 0;
  // Adjacent sectors in file order make one piece.
  auto note = [](std::vector<cfb_run_piece>* pieces, uint64_t run_at, uint64_t file_at,
                 uint64_t len) {
    if (!pieces) return;
    if (!pieces->empty()) {
      cfb_run_piece& last = pieces->back();
      if (last.m_run_offset + last.m_length == run_at &&
          last.m_file_offset + last.m_length == file_at) {
        last.m_length += len;
        return;
      }
    }
    pieces->push_back({run_at, file_at, len});
  };
  const uint64_t S = reader.m_sector_size;
  if (allocated) allocated->reserve(allocated->size() + image.size());
  std::vector<uint8_t> seen(reader.m_fat_links.index_limit(), 0);
  bool any_seen = false;
  uint64_t steps = 0;
  for (const auto& [key, entry] : reader.m_entries) {
    uint64_t stream_size = entry.stream_size();
    bool takes =
        entry.m_name == "Root Entry" || (stream_size != 0 && stream_size >= reader.m_mini_cutoff);
    if (!takes || stream_size == 0 || entry.object_type() == 0 || entry.m_mini) continue;
    // A sector already seen ends this entry's visit; so does a repeat.
    walk_unmarked_runs(reader.m_fat_links, entry.start_sector(), seen, steps,
                       [&](uint64_t n, uint64_t count) {
                         any_seen = true;
                         // The run's sectors the image holds whole, one after another in
                         // the file as in the run (ids below 2^32, S at most 2^31).
                         const uint64_t whole_sectors = image.size() / S;
                         if (n + 1 >= whole_sectors) return;
                         const uint64_t whole = std::min(count, whole_sectors - 1 - n);
                         const uint64_t len = whole * S;
                         const uint8_t* at = image.data() + (n + 1) * S;
                         note(allocated_pieces, allocated_size, (n + 1) * S, len);
                         if (allocated) allocated->insert(allocated->end(), at, at + len);
                         allocated_size += len;
                       });
  }
  if (!any_seen) return;
  // From one run of seen sectors to the next; the sectors between are a gap.
  const uint8_t* marks = seen.data();
  const size_t total = seen.size();
  uint64_t prev = UINT64_MAX;
  for (size_t k = next_mark(marks, 0, total, 1); k < total;) {
    if (prev != UINT64_MAX && k - prev >= 2) {
      uint64_t start = (prev + 2) * S, len = (k - prev - 1) * S;
      if (start <= image.size())
        if (auto gap = image.sub(static_cast<size_t>(start), static_cast<size_t>(len))) {
          note(gap_pieces, gaps_size, start, gap->size());
          if (gaps) gaps->insert(gaps->end(), gap->data(), gap->data() + gap->size());
          gaps_size += gap->size();
        }
    }
    const size_t end = next_mark(marks, k, total, 0);
    prev = end - 1;
    k = next_mark(marks, end, total, 1);
  }
}

}  // namespace

bool stream_sector_ranges(const compound_file_reader& reader, std::vector<uint8_t>& allocated,
                          std::vector<uint8_t>& gaps, const uint8_t* image, size_t size) {
  if (reader.m_entries.empty() || !image) return false;
  // Out of memory partway, what was appended stands.
  guarded([&] {
    sector_ranges_into(reader, &allocated, &gaps, byte_view(image, size), nullptr, nullptr);
  });
  return !allocated.empty();
}

bool stream_sector_ranges(const compound_file_reader& reader, std::vector<uint8_t>* allocated,
                          std::vector<uint8_t>* gaps, const uint8_t* image, size_t size,
                          std::vector<cfb_run_piece>& allocated_pieces,
                          std::vector<cfb_run_piece>& gap_pieces, bool* out_of_memory) {
  allocated_pieces.clear();
  gap_pieces.clear();
  if (reader.m_entries.empty() || !image) return false;
  const bool done = guarded([&] {
    sector_ranges_into(reader, allocated, gaps, byte_view(image, size), &allocated_pieces,
                       &gap_pieces);
    return true;
  });
  if (!done) {
    // The pieces no longer describe the runs: give neither.
    allocated_pieces.clear();
    gap_pieces.clear();
    if (out_of_memory) *out_of_memory = true;
  }
  return !allocated_pieces.empty();
}

uint64_t run_to_image_offset(const std::vector<cfb_run_piece>& pieces, uint64_t run_offset) {
  auto it = std::upper_bound(
      pieces.begin(), pieces.end(), run_offset,
      [](uint64_t at, const cfb_run_piece& piece) { return at < piece.m_run_offset; });
  if (it == pieces.begin()) return run_offset;
  --it;
  if (run_offset - it->m_run_offset >= it->m_length) return run_offset;
  return it->m_file_offset + (run_offset - it->m_run_offset);
}

bool entry_stream_pieces(const compound_file_reader& reader, const cfb_dir_entry& entry,
                         uint64_t image_size, std::vector<cfb_run_piece>& pieces, uint64_t& length,
                         uint64_t& first_offset) {
  pieces.clear();
  length = 0;
  first_offset = 0;
  return guarded(
      [&] {
        // The same walk and the same choices as entry_bytes, telling where
        // each stretch comes from instead of copying it.
        std::vector<uint64_t>& units = reader.m_chain_scratch;
        unit_chain chain;
        if (!entry_units(reader, entry, units, chain)) return false;
        const bool is_mini = entry.m_mini != 0;
        const uint64_t unit = is_mini ? reader.m_mini_sector_size : reader.m_sector_size;
        uint64_t total;
        if (!vk::checked_mul(chain.count, unit, total) || total > SIZE_MAX) return false;
        length = std::min(total, entry.stream_size());
        const uint64_t first = unit_offset(reader, is_mini, chain.first);
        if (chain_in_place(reader, is_mini, chain, first, total, image_size)) {
          first_offset = first;
          if (length) pieces.push_back({0, first, length});
          return true;
        }
        // Stretches that continue one another (in the stream and in the
        // image, or both zeros) make one piece.
        auto add = [&](uint64_t at, uint64_t from, uint64_t len) {
          if (len == 0) return;
          if (!pieces.empty()) {
            cfb_run_piece& last = pieces.back();
            const bool zeros = from == cfb_zero_piece;
            if (last.m_run_offset + last.m_length == at &&
                (zeros ? last.m_file_offset == cfb_zero_piece
                       : last.m_file_offset != cfb_zero_piece &&
                             last.m_file_offset + last.m_length == from)) {
              last.m_length += len;
              return;
            }
          }
          pieces.push_back({at, from, len});
        };
        for_each_unit_run(reader, is_mini, unit, chain.count,
                          {units, reader.m_minifat_links, is_mini, chain.first}, length,
                          first_offset, [&](uint64_t at, uint64_t o, uint64_t want) {
                            uint64_t taken = 0;
                            if (o != ~uint64_t{0} && o < image_size) {
                              taken = std::min(want, image_size - o);
                              add(at, o, taken);
                            }
                            add(at + taken, cfb_zero_piece, want - taken);
                          });
        return true;
      },
      [&] {
        reader.m_fat_links.walk_marks().clear();
        pieces.clear();
        length = 0;
      });
}

namespace {

// The FAT of a compound file met inside other data, read a sector at a time
// as chains need its links: a link lies where the parse of an image of
// bound bytes would place it (the header's slots, then the DIFAT sectors'
// along their chain), and only sectors the image would hold whole are
// read. Remembers the furthest sector it used.
class lazy_fat {
 public:
  lazy_fat(byte_view header, uint64_t S, uint64_t bound, const cfb_read_at& read)
      : m_read(read), m_S(S), m_E(S / cfb::fat_entry_size), m_bound(bound) {
    // A sector size is a power of two: a link's FAT sector and place in it
    // are found by shifts, not a division per link asked for.
    m_E_shift = m_E != 0 ? std::countr_zero(m_E) : 0;
    m_sector_limit = std::min<uint64_t>((bound - 1) / S, 0xFFFFFFFFull);
    // A block holds no more FAT sectors than the image has sectors for
    // links: a large sector costs one sector, not a block of them.
    const uint64_t fat_sectors = m_E != 0 ? (m_sector_limit + m_E - 1) >> m_E_shift : 1;
    m_block_sectors = static_cast<size_t>(
        std::clamp<uint64_t>(std::min(fat_sectors, bound / S), 1, k_most_block_sectors));
    const uint32_t num_fat = header_u32(header, hdr::num_fat_sectors);
    m_num_fat = num_fat;
    const uint32_t header_slots = std::min<uint32_t>(num_fat, hdr::difat_slots);
    for (uint32_t k = 0; k < header_slots; ++k) {
      const uint32_t id = header_u32(header, hdr::difat + 4 * size_t{k});
      if (id == cfb::endofchain) break;
      m_positions.push_back(id);
    }
    m_chain_left = header_u32(header, hdr::num_difat_sectors);
    const uint32_t first_difat = header_u32(header, hdr::first_difat_sector);
    if (num_fat > hdr::difat_slots && m_chain_left != 0 && first_difat != cfb::endofchain &&
        first_difat != 0) {
      m_difat.push_back(first_difat);
      m_difat_seen.insert(first_difat);
      --m_chain_left;
    }
  }

  uint64_t sector_limit() const { return m_sector_limit; }
  // Whether sector n's link lies in a FAT sector the header counts but
  // neither its slots nor the DIFAT chain name: the parse may find it (a
  // DIFAT sector the header cannot name, as sector 0, is found by the FAT's
  // marks) where the walk does not.
  bool unresolved(uint64_t n) const {
    if (m_E == 0 || n >= m_sector_limit) return false;
    const uint64_t p = n >> m_E_shift;
    return p >= m_positions.size() && p < m_num_fat;
  }
  uint64_t sectors_read() const { return m_sectors_read; }
  // The parse reads every FAT sector its slots name and every DIFAT sector
  // of the chain, used or not: they are within the reach too.
  void use_every_fat_sector() {
    while (next_difat()) {
    }
    for (const uint32_t id : m_positions)
      if (id < cfb::maxregsect && (uint64_t{id} + 2) * m_S <= m_bound) use(id);
  }
  // The end of the furthest sector used, from the header's first byte.
  uint64_t reach() const { return m_furthest; }
  // Sector n is used: the image must reach its end, or as far as the
  // bound lets it (a stream's last sector may be cut there).
  void use(uint64_t n) { m_furthest = std::max(m_furthest, std::min((n + 2) * m_S, m_bound)); }

  // Whole sector n into out, when the image would hold it; used.
  bool sector(uint64_t n, std::vector<uint8_t>& out) {
    if (!holds(n)) return false;
    out.resize(static_cast<size_t>(m_S));
    return read_into(n, out.data());
  }

  // The link of sector n, as the parse would hold it.
  std::optional<uint32_t> link(uint64_t n) {
    if (n >= m_sector_limit || m_E == 0) return std::nullopt;
    const uint64_t p = n >> m_E_shift;
    while (p >= m_positions.size() && next_difat()) {
    }
    if (p >= m_positions.size()) return std::nullopt;
    if (m_loaded.size() <= p) m_loaded.resize(static_cast<size_t>(p + 1));
    loaded_sector& fat = m_loaded[static_cast<size_t>(p)];
    if (!fat.tried) {
      fat.tried = true;
      const uint32_t id = m_positions[static_cast<size_t>(p)];
      if (id != cfb::freesect && holds(id)) {
        // FAT sectors read are stored a block of them at a time: none is
        // an allocation of its own, and none is moved as more come.
        if (m_stored % m_block_sectors == 0)
          m_blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(
              static_cast<size_t>(m_block_sectors * m_S)));
        uint8_t* into = stored_sector(m_stored);
        if (read_into(id, into))
          fat.held = into;
        else if (m_stored % m_block_sectors == 0)
          m_blocks.pop_back();
        if (fat.held) ++m_stored;
      }
    }
    if (!fat.held) return std::nullopt;
    return load_le32(fat.held + (n & (m_E - 1)) * cfb::fat_entry_size);
  }

  // The last sector of the run of consecutive links from sector n, whose
  // link link() just gave: n, n + 1, ... while each links to the next and
  // the next has no mark in marks (of sector_limit() bytes), within n's FAT
  // sector (the walk's next step reads the next one).
  uint64_t run_last(uint64_t n, const uint8_t* marks) const {
    const uint64_t first = n >> m_E_shift << m_E_shift;
    const uint8_t* links = m_loaded[static_cast<size_t>(n >> m_E_shift)].held;
    const uint64_t end = std::min(m_sector_limit, first + m_E);
    // Every sector below end lies in this FAT sector: its link is found by
    // its distance from first, with no division per link.
    auto link_of = [&](uint64_t k) {
      return fat_value_at(links + (k - first) * cfb::fat_entry_size);
    };
    while (n + 17 <= end && marks_are<16>(marks + n + 1, 0) &&
           links_go_on<16>(links + (n - first) * cfb::fat_entry_size, n))
      n += 16;
    while (n + 1 < end && link_of(n) == n + 1 && marks[static_cast<size_t>(n + 1)] == 0) ++n;
    return n;
  }

 private:
  // The FAT sector ids of the next DIFAT sector of the chain; false when
  // there is none.
  bool next_difat() {
    // Slots past the sectors the image can hold describe nothing.
    while (m_difat_done < m_difat.size() && m_positions.size() * m_E < m_sector_limit) {
      const uint32_t id = m_difat[m_difat_done++];
      std::vector<uint8_t> bytes;
      if (!sector(id, bytes)) continue;
      const byte_view d(bytes.data(), bytes.size());
      for (uint64_t slot = 0; slot + 1 < m_E; ++slot) {
        const uint32_t fat = d.u32_or_zero(static_cast<size_t>(slot * cfb::fat_entry_size));
        if (fat == cfb::endofchain) break;
        m_positions.push_back(fat);
      }
      const uint32_t next = d.u32_or_zero(static_cast<size_t>((m_E - 1) * cfb::fat_entry_size));
      if (m_chain_left != 0 && next < cfb::maxregsect) {
        --m_chain_left;
        if (m_difat_seen.insert(next).second) m_difat.push_back(next);
      }
      return true;
    }
    return false;
  }

  // Whether the image would hold sector n whole.
  bool holds(uint64_t n) const { return n <= 0xFFFFFFFFull && (n + 2) * m_S <= m_bound; }
  // Sector n, which the image would hold, into S bytes at into; used.
  bool read_into(uint64_t n, uint8_t* into) {
    ++m_sectors_read;
    if (m_read((n + 1) * m_S, into, static_cast<size_t>(m_S)) != m_S) return false;
    use(n);
    return true;
  }

  uint8_t* stored_sector(size_t k) const {
    return m_blocks[k / m_block_sectors].get() + (k % m_block_sectors) * m_S;
  }

  struct loaded_sector {
    bool tried = false;
    const uint8_t* held = nullptr;  // its bytes, when read whole
  };
  static constexpr uint64_t k_most_block_sectors = 64;
  const cfb_read_at& m_read;
  uint64_t m_S, m_E, m_bound, m_sector_limit = 0;
  int m_E_shift = 0;
  std::vector<uint32_t> m_positions;  // FAT sector ids, in the parse's order
  std::vector<loaded_sector> m_loaded;
  // The FAT sectors read, m_block_sectors to a block, m_stored of them.
  size_t m_block_sectors = 1;
  std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
  size_t m_stored = 0;
  std::vector<uint32_t> m_difat;
  std::unordered_set<uint32_t> m_difat_seen;
  size_t m_difat_done = 0;
  uint32_t m_chain_left = 0;
  uint64_t m_num_fat = 0;  // the FAT sectors the header counts
  uint64_t m_sectors_read = 0;
  uint64_t m_furthest = 0;  // bytes from the header's first
};

// A directory entry's name is "Root Entry" in any case (the parse's key).
bool names_root(byte_view entry) {
  static constexpr std::string_view root = "root entry";
  for (size_t i = 0; i < root.size(); ++i) {
    uint16_t c = entry.u16_or_zero(dirent::name + 2 * i);
    if (c >= 'A' && c <= 'Z') c = static_cast<uint16_t>(c - 'A' + 'a');
    if (c != static_cast<uint8_t>(root[i])) return false;
  }
  return entry.u16_or_zero(dirent::name + 2 * root.size()) == 0;
}

}  // namespace

bool cfb_image_cut(const compound_file_reader& reader) {
  if (cfb_cut_structure(reader)) return true;
  const fat_link_map& links = reader.m_fat_links;
  return guarded([&] {
    // Each sector once over all chains: a chain met again went on from there.
    std::vector<uint8_t> seen(links.index_limit(), 0);
    for (const auto& [key, entry] : reader.m_entries) {
      if (entry.stream_size() == 0 || entry.object_type() == 0 || entry.m_mini) continue;
      uint64_t n = entry.start_sector();
      if (n < cfb::maxregsect && n >= links.index_limit()) return true;
      while (links.contains(n) && !seen[static_cast<size_t>(n)]) {
        // A run of consecutive links at once: each inside the table.
        const size_t last = links.run_last(static_cast<size_t>(n), seen.data());
        std::memset(seen.data() + n, 1, last - static_cast<size_t>(n) + 1);
        n = last;
        const uint32_t next = links.value(n);
        if (next >= cfb::maxregsect) break;
        if (next >= links.index_limit()) return true;
        n = next;
      }
    }
    return false;
  });
}

cfb_reach embedded_cfb_reach(const uint8_t* header, uint64_t bound, const cfb_read_at& read) {
  cfb_reach result;
  uint64_t S, M;
  const byte_view h = header_view(header);
  // What the parse needs before anything: a header, a sector the image
  // holds, and room in a sector for a directory entry.
  if (!header || !is_cfb_header(header) || !header_sizes(h, S, M) || S < dirent::size ||
      S > bound || header_u32(h, hdr::num_fat_sectors) == 0)
    return result;
  guarded(
      [&] {
        lazy_fat fat(h, S, bound, read);
        std::vector<uint8_t> marks(static_cast<size_t>(fat.sector_limit()), 0);
        // Every sector a chain from start passes through (each at most once
        // over all chains: the walk from a sector already met went on from there).
        std::vector<uint64_t> chain;
        auto walk = [&](uint64_t start, std::vector<uint64_t>* into, bool stream) {
          for (uint64_t n = start; n < marks.size() && !marks[static_cast<size_t>(n)];) {
            std::optional<uint32_t> next = fat.link(n);
            if (!next) {
              // Where the walk cannot follow a stream, its parse may: the
              // image is parsed as far as it may reach at once, not cut.
              if (stream && fat.unresolved(n)) result.links_past = bound;
              break;
            }
            // A run of consecutive links is marked at once; its last
            // sector's link goes on.
            const uint64_t last = *next == n + 1 ? fat.run_last(n, marks.data()) : n;
            std::memset(marks.data() + n, 1, static_cast<size_t>(last - n + 1));
            fat.use(last);
            if (into)
              for (uint64_t k = n; k <= last; ++k) into->push_back(k);
            if (last != n) next = fat.link(last);
            if (stream && *next < cfb::maxregsect)
              result.links_past = std::max(result.links_past, (uint64_t{*next} + 1) * S);
            if (*next == cfb::endofchain) break;
            n = *next;
          }
        };
        const uint32_t first_dir = header_u32(h, hdr::first_dir_sector);
        if (first_dir >= fat.sector_limit() || !fat.link(first_dir)) return;
        walk(first_dir, &chain, false);
        walk(header_u32(h, hdr::first_minifat_sector), nullptr, false);
        const bool low_only = h.u16_or_zero(hdr::major_version) == 3;
        const uint32_t cutoff = header_u32(h, hdr::mini_cutoff);
        bool root = false;
        std::vector<uint8_t> bytes;
        std::vector<uint64_t> none;
        for (uint64_t s : chain) {
          if (!fat.sector(s, bytes)) continue;
          for (size_t at = 0; at + dirent::size <= bytes.size(); at += dirent::size) {
            const byte_view entry(bytes.data() + at, dirent::size);
            uint64_t size = entry.u64_or_zero(dirent::stream_size);
            if (low_only) size &= 0xFFFFFFFFull;
            const bool is_root = names_root(entry);
            root |= is_root;
            if (size == 0 || entry.u8_or_zero(dirent::object_type) == 0) continue;
            if (!is_root && size < cutoff) continue;
            const uint32_t start = entry.u32_or_zero(dirent::start_sector);
            result.streams |= start < fat.sector_limit();
            walk(start, nullptr, true);
          }
        }
        if (root) {
          fat.use_every_fat_sector();
          result.reach = fat.reach();
        }
        result.sectors_read = fat.sectors_read();
      },
      [&] {
        result = cfb_reach{};
        result.out_of_memory = true;
      });
  return result;
}

}  // namespace vk
