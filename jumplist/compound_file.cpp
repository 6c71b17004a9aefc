#include "jumplist/compound_file.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iomanip>
#include <unordered_map>

#include "foundation/vk_bytes.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr uint32_t kSignatureLow = 0xE011CFD0u;
constexpr uint32_t kSignatureHigh = 0xE11AB1A1u;
constexpr std::string_view kRootKey = "root entry";

// Header field offsets.
constexpr size_t kSectorShift = 30;
constexpr size_t kMiniSectorShift = 32;
constexpr size_t kNumFatSectors = 44;
constexpr size_t kFirstDirSector = 48;
constexpr size_t kMiniCutoff = 56;
constexpr size_t kFirstMiniFatSector = 60;
constexpr size_t kFirstDifatSector = 68;
constexpr size_t kNumDifatSectors = 72;
constexpr size_t kHeaderDifat = 76;

// Directory entry field offsets.
constexpr size_t kEntryStart = 116;
constexpr size_t kEntrySize = 120;

// Directory names and asked-for names are compared in lower case.
std::string lower_key(std::string_view s) {
  std::string out(s);
  return str_to_lower(out);
}

// Sector and mini sector sizes of a header; false for shifts that give no
// usable 32-bit size.
bool header_sizes(const uint8_t* header, uint64_t& sector, uint64_t& mini) {
  uint16_t shift = load_le16(header + kSectorShift);
  uint16_t mini_shift = load_le16(header + kMiniSectorShift);
  if (shift >= 32 || mini_shift >= 32) return false;
  sector = uint64_t{1} << shift;
  mini = uint64_t{1} << mini_shift;
  return true;
}

// File offset of regular sector n, (n + 1) x S; false when it cannot be a
// real sector (ids are 32-bit).
bool sector_offset(uint64_t n, uint64_t sector_size, uint64_t& offset) {
  if (n > 0xFFFFFFFFull) return false;
  offset = (n + 1) * sector_size;  // n < 2^32 and S <= 2^31: no overflow
  return true;
}

bool sector_inside(uint64_t n, uint64_t sector_size, size_t size) {
  uint64_t offset;
  return sector_offset(n, sector_size, offset) && offset + sector_size <= size;
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t r;
  return vk::checked_mul(a, b, r) ? r : UINT64_MAX;
}

// Walks a chain from start, calling visit(sector) for each sector not walked
// before; stops at a missing link, a sector already marked in walked (by this
// or an earlier walk) or ENDOFCHAIN.
template <class Visit>
void walk_unmarked(const fat_link_map& links, uint64_t start, std::vector<uint8_t>& walked,
                   Visit&& visit) {
  uint64_t n = start;
  for (;;) {
    auto link = links.find(n);
    if (!link || walked[static_cast<size_t>(n)]) return;
    walked[static_cast<size_t>(n)] = 1;
    visit(n);
    if (link->m_value == cfb_endofchain) return;
    n = link->m_value;
  }
}

void set_bit_range(cfb_granule_map& used, uint64_t first, uint64_t count) {
  if (first >= used.m_count) return;
  count = std::min(count, used.m_count - first);
  uint64_t i = first, end = first + count;
  while (i < end && (i & 63)) used.set(i++);
  while (i + 64 <= end) {
    used.m_bits[i >> 6] = ~uint64_t{0};
    i += 64;
  }
  while (i < end) used.set(i++);
}

// Mini sectors the mini stream can hold; none when a mini sector would be
// larger than a sector (no usable mini stream: each mini sector read would
// allocate more than the image holds).
uint64_t mini_capacity(const compound_file_reader& reader) {
  if (reader.m_mini_sector_size == 0 || reader.m_mini_sector_size > reader.m_sector_size) return 0;
  uint64_t bytes = saturating_mul(reader.m_root_sectors.size(), reader.m_sector_size);
  return bytes / reader.m_mini_sector_size + (bytes % reader.m_mini_sector_size ? 1 : 0);
}

bool parse_image(compound_file_reader& r, const uint8_t* image, size_t size) {
  // Header and sizes.
  if (!image || size < cfb_header_size || !is_cfb_header(image)) return false;
  std::memcpy(r.m_cfb_header.data(), image, cfb_header_size);
  const uint8_t* h = r.m_cfb_header.data();
  uint64_t S, M;
  if (!header_sizes(h, S, M) || S > size) return false;
  r.m_sector_size = S;
  r.m_mini_sector_size = M;
  r.m_mini_cutoff = load_le32(h + kMiniCutoff);
  r.m_sector_count = static_cast<uint32_t>(std::min<uint64_t>((size - S) / S, 0xFFFFFFFFull));

  // The first directory sector must lie wholly inside the image.
  if (cfb_directory_offset(h) + S > size) return false;

  const uint64_t E = S / 4;
  // Sectors that start inside the image: the only ones a link can matter for.
  const uint64_t sector_limit = std::min<uint64_t>((size - 1) / S, 0xFFFFFFFFull);

  cfb_granule_map used;
  used.m_per_sector = S >= M ? S / M : 0;
  used.m_count = uint64_t{r.m_sector_count} * used.m_per_sector;
  used.m_bits.assign(static_cast<size_t>((used.m_count + 63) / 64), 0);

  // The first sector after the header is always taken.
  mark_sector_used(r, used, 0);

  // DIFAT list, with each sector's position for the link test.
  std::vector<uint32_t> difat;
  std::unordered_map<uint32_t, size_t> difat_pos;
  auto add_difat = [&](uint32_t id) {
    if (difat_pos.emplace(id, difat.size()).second) difat.push_back(id);
  };
  const uint32_t num_fat = load_le32(h + kNumFatSectors);
  const uint32_t first_difat = load_le32(h + kFirstDifatSector);
  if (num_fat > cfb_header_difat_slots && load_le32(h + kNumDifatSectors) != 0 &&
      first_difat != cfb_endofchain && first_difat != 0) {
    add_difat(first_difat);
    mark_sector_used(r, used, first_difat);
  }

  // FAT, never beyond the sectors the image holds: repeated slots then
  // cost no more than one pass over the image.
  uint64_t next = 0;
  auto full = [&] { return next >= sector_limit; };
  auto read_fat_sector = [&](uint32_t id) {
    const uint8_t* p = image + (uint64_t{id} + 1) * S;
    for (uint64_t i = 0; i < E && !full(); ++i) {
      uint32_t v = load_le32(p + 4 * i);
      uint32_t sector = static_cast<uint32_t>(next);
      if (v == cfb_difatsect) {
        mark_sector_used(r, used, sector);
        add_difat(sector);
      } else if (v == cfb_fatsect) {
        mark_sector_used(r, used, sector);
      }
      if (!r.m_fat_links.set(sector, v)) throw std::bad_alloc();
      ++next;
    }
  };
  const uint32_t header_slots = std::min<uint32_t>(num_fat, cfb_header_difat_slots);
  for (uint32_t k = 0; k < header_slots && !full(); ++k) {
    uint32_t id = load_le32(h + kHeaderDifat + 4 * k);
    if (id == cfb_endofchain) break;
    if (id == cfb_freesect || !sector_inside(id, S, size)) {
      next += E;
      continue;
    }
    read_fat_sector(id);
  }
  if (num_fat > cfb_header_difat_slots) {
    for (size_t k = 0; k < difat.size() && !full(); ++k) {
      uint32_t d = difat[k];
      if (!sector_inside(d, S, size)) continue;
      const uint8_t* p = image + (uint64_t{d} + 1) * S;
      for (uint64_t j = 0; j < E && !full(); ++j) {
        uint32_t id = load_le32(p + 4 * j);
        auto pos = difat_pos.find(id);
        if (pos != difat_pos.end() && pos->second > k) continue;  // link to a later one
        if (id == cfb_endofchain) break;
        if (id == cfb_freesect || !sector_inside(id, S, size)) {
          next += E;
          continue;
        }
        read_fat_sector(id);
      }
    }
  }

  // Directory and mini FAT chains.
  follow_fat_chain(r, r.m_dir_sectors, load_le32(h + kFirstDirSector));
  follow_fat_chain(r, r.m_minifat_sectors, load_le32(h + kFirstMiniFatSector));

  // Directory, a flat array of entries.
  const uint64_t per_sector = S / cfb_dir_entry_size;
  uint64_t e = 0;
  for (uint64_t s : r.m_dir_sectors) {
    if (!sector_inside(s, S, size)) {
      e += per_sector;
      continue;
    }
    const uint8_t* p = image + (s + 1) * S;
    for (uint64_t i = 0; i < per_sector; ++i, ++e) {
      cfb_dir_entry entry;
      std::memcpy(entry.m_raw.data(), p + i * cfb_dir_entry_size, cfb_dir_entry_size);
      utf16_to_utf8(entry.m_raw.data(), 64, entry.m_name, false);
      entry.m_entry_num = static_cast<uint32_t>(std::min<uint64_t>(e, 0xFFFFFFFFull));
      std::string key = lower_key(entry.m_name);
      r.m_entries.emplace(std::move(key), std::move(entry));  // after equal keys
    }
  }

  const cfb_dir_entry* root = find_cfb_entry(r, kRootKey);
  if (!root) return false;

  // Mini FAT.
  uint64_t mini_index = 0;
  for (uint64_t s : r.m_minifat_sectors) {
    mark_sector_used(r, used, s);
    if (!sector_inside(s, S, size)) {
      mini_index += E;
      continue;
    }
    const uint8_t* p = image + (s + 1) * S;
    for (uint64_t j = 0; j < E; ++j, ++mini_index) {
      if (mini_index > 0xFFFFFFFFull) break;
      if (!r.m_minifat_links.set(static_cast<uint32_t>(mini_index), load_le32(p + 4 * j)))
        throw std::bad_alloc();
    }
  }

  // Which streams live in the mini stream. Sector lists are followed on
  // demand (cfb_entry_sectors): entries that share a chain cost nothing.
  for (auto& [key, entry] : r.m_entries) {
    entry.m_mini = 0;
    uint64_t stream_size = entry.stream_size();
    if (stream_size == 0 || entry.object_type() == 0) continue;
    if (stream_size < r.m_mini_cutoff && key != kRootKey) entry.m_mini = 1;
  }
  r.m_root_sectors = cfb_entry_sectors(r, *root);

  // Used space: the directory, then every stream but the mini stream as
  // a whole. A chain already walked by another entry is not walked again.
  for (uint64_t s : r.m_dir_sectors) mark_sector_used(r, used, s);
  std::vector<uint8_t> walked(r.m_fat_links.index_limit(), 0);
  std::vector<uint8_t> walked_mini(r.m_minifat_links.index_limit(), 0);
  // Only the root entry itself is left out: another entry under the same
  // lower-cased name is a stream like any other.
  for (const auto& [key, entry] : r.m_entries) {
    if (&entry == root || entry.stream_size() == 0 || entry.object_type() == 0) continue;
    if (entry.m_mini) {
      walk_unmarked(r.m_minifat_links, entry.start_sector(), walked_mini,
                    [&](uint64_t m) { mark_mini_sector_used(r, used, m, r.m_root_sectors); });
    } else {
      walk_unmarked(r.m_fat_links, entry.start_sector(), walked,
                    [&](uint64_t n) { mark_sector_used(r, used, n); });
    }
  }

  // Free space: unreached granules, FREESECT sectors and runs of adjacent
  // free granules.
  const uint64_t gps = used.m_per_sector;
  for (uint64_t k = 0; k < r.m_sector_count && gps; ++k) {
    for (uint64_t j = 0; j < gps; ++j) {
      if (!used.test(k * gps + j)) r.m_free_granules.push_back((k + 1) * S + j * M);
    }
  }
  r.m_fat_links.for_each([&](const fat_link& link) {
    if (!link.m_allocated && (uint64_t{link.m_sector} + 1) * S < size)
      r.m_free_sectors.push_back(link.m_sector);
  });
  for (size_t i = 0; i < r.m_free_granules.size();) {
    size_t j = i + 1;
    while (j < r.m_free_granules.size() && r.m_free_granules[j] == r.m_free_granules[j - 1] + M)
      ++j;
    r.m_slack_areas.emplace_back(r.m_free_granules[i], (j - i) * M);
    i = j;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

fat_link make_fat_link(uint32_t sector, uint32_t value, bool mini) {
  fat_link link;
  link.m_sector = sector;
  link.m_value = value;
  link.m_allocated = value != cfb_freesect;
  link.m_is_difat = !mini && value == cfb_difatsect;
  return link;
}

void fat_link_map::clear() {
  m_values.clear();
  m_present.clear();
  m_walk_marks.clear();
  m_count = 0;
}

std::optional<fat_link> fat_link_map::find(uint64_t sector) const {
  if (!contains(sector)) return std::nullopt;
  return make_fat_link(static_cast<uint32_t>(sector), m_values[static_cast<size_t>(sector)],
                       m_mini);
}

bool fat_link_map::set(uint32_t sector, uint32_t value) {
  try {
    if (sector >= m_values.size()) {
      m_values.resize(size_t{sector} + 1, 0);
      m_present.resize(size_t{sector} + 1, 0);
    }
  } catch (const std::exception&) {
    return false;
  }
  if (!m_present[sector]) ++m_count;
  m_present[sector] = 1;
  m_values[sector] = value;
  return true;
}

uint32_t cfb_dir_entry::start_sector() const {
  return load_le32(m_raw.data() + kEntryStart);
}
uint64_t cfb_dir_entry::stream_size() const {
  return load_le64(m_raw.data() + kEntrySize);
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
  entry.m_raw.fill(0);
}

void init_cfb_dir_entry(cfb_dir_entry& entry) {
  clear_cfb_dir_entry_raw(entry);
  entry.m_name.clear();
  entry.m_entry_num = 0;
  entry.m_mini = 0;
}

bool is_cfb_header(const uint8_t* bytes) {
  if (!bytes || load_le32(bytes) != kSignatureLow || load_le32(bytes + 4) != kSignatureHigh)
    return false;
  for (size_t i = 8; i < 24; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

bool is_compound_file(const uint8_t* bytes, size_t size) {
  return bytes && size >= cfb_header_size && is_cfb_header(bytes);
}

uint64_t cfb_directory_offset(const uint8_t* header) {
  uint64_t S, M;
  if (!is_cfb_header(header) || !header_sizes(header, S, M)) return 0;
  return (uint64_t{load_le32(header + kFirstDirSector)} + 1) * S;
}

uint64_t cfb_max_image_size(const uint8_t* header) {
  uint64_t S, M;
  if (!is_cfb_header(header) || !header_sizes(header, S, M)) return 0;
  uint64_t bytes = saturating_mul(saturating_mul(load_le32(header + kNumFatSectors), S), S / 4);
  return bytes > UINT64_MAX - S ? UINT64_MAX : bytes + S;
}

bool parse_compound_image(compound_file_reader* reader, const uint8_t* image, size_t size) {
  if (!reader) return false;
  reset_compound_file_reader(*reader);
  try {
    if (parse_image(*reader, image, size)) return true;
  } catch (const std::exception&) {
  }
  // Results of a failed parse are never half-filled.
  reader->m_free_sectors.clear();
  reader->m_free_granules.clear();
  reader->m_slack_areas.clear();
  return false;
}

const cfb_dir_entry* find_cfb_entry(const compound_file_reader& reader, std::string_view key) {
  auto it = reader.m_entries.lower_bound(std::string(key));
  if (it == reader.m_entries.end() || it->first != key) return nullptr;
  return &it->second;
}

std::vector<uint64_t> cfb_entry_sectors(const compound_file_reader& reader,
                                        const cfb_dir_entry& entry) {
  std::vector<uint64_t> out;
  uint64_t stream_size = entry.stream_size();
  if (stream_size == 0 || entry.object_type() == 0) return out;
  if (entry.m_mini) {
    follow_fat_chain_bounded(out, reader.m_minifat_links, entry.start_sector(),
                             static_cast<uint32_t>(stream_size), reader.m_mini_sector_size,
                             mini_capacity(reader));
  } else {
    follow_fat_chain(reader, out, entry.start_sector());
  }
  return out;
}

namespace {

// The chain walk behind both public forms. A repeated sector ends the walk
// unless repeats are allowed and step x (sectors appended) is within bound;
// limit caps the sectors given out.
bool walk_chain(std::vector<uint64_t>& out, const fat_link_map& links, uint64_t start, bool repeats,
                uint64_t bound, uint64_t step, uint64_t limit) {
  out.clear();
  if (links.empty()) return false;
  std::vector<uint8_t>& marks = links.walk_marks();
  try {
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
      if (link->m_value == cfb_endofchain) break;
      n = link->m_value;
    }
    for (uint64_t s : out) marks[static_cast<size_t>(s)] = 0;
  } catch (const std::exception&) {
    marks.clear();
    out.clear();
    return false;
  }
  return !out.empty();
}

}  // namespace

bool follow_fat_chain(const compound_file_reader& reader, std::vector<uint64_t>& out,
                      uint64_t start) {
  return walk_chain(out, reader.m_fat_links, start, false, 0, 0, UINT64_MAX);
}

bool follow_fat_chain_bounded(std::vector<uint64_t>& out, const fat_link_map& links, uint64_t start,
                              uint64_t bound, uint64_t step, uint64_t limit) {
  return walk_chain(out, links, start, true, bound, step, limit);
}

namespace {

// The first entry under the lower-cased name; null when there is none (or
// the name cannot be lower-cased for want of memory).
const cfb_dir_entry* entry_named(const compound_file_reader& reader, std::string_view name) {
  try {
    return find_cfb_entry(reader, lower_key(name));
  } catch (const std::exception&) {
    return nullptr;
  }
}

bool locate_entry(const compound_file_reader& reader, const cfb_dir_entry& entry,
                  std::vector<uint64_t>& regular, std::vector<uint64_t>& mini,
                  uint32_t& offset_in_sector, uint64_t& first_offset) {
  regular.clear();
  mini.clear();
  offset_in_sector = 0;
  first_offset = 0;
  try {
    std::vector<uint64_t> sectors = cfb_entry_sectors(reader, entry);
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
  } catch (const std::exception&) {
    regular.clear();
    mini.clear();
    return false;
  }
}

// Reads the entry's stream, cut to its declared size: sector slack after
// the stream's end is not part of it.
bool read_entry(const compound_file_reader& reader, const cfb_dir_entry& entry,
                std::vector<uint8_t>& out, std::vector<uint64_t>& regular,
                std::vector<uint64_t>& mini, uint8_t& mini_flag, uint64_t& first_offset,
                const uint8_t* image, size_t size) {
  out.clear();
  mini_flag = 0;
  uint32_t offset_in_sector;
  if (!locate_entry(reader, entry, regular, mini, offset_in_sector, first_offset)) return false;
  bool ok;
  if (!mini.empty()) {
    mini_flag = 1;
    ok = read_mini_sectors(reader, out, first_offset, image, size, mini);
  } else {
    ok = read_fat_sectors(reader, out, first_offset, image, size, regular);
  }
  if (ok && out.size() > entry.stream_size()) out.resize(static_cast<size_t>(entry.stream_size()));
  return ok;
}

}  // namespace

bool locate_stream(const compound_file_reader& reader, std::vector<uint64_t>& regular,
                   std::vector<uint64_t>& mini, uint32_t& offset_in_sector, uint64_t& first_offset,
                   std::string_view name) {
  const cfb_dir_entry* entry = entry_named(reader, name);
  if (entry) return locate_entry(reader, *entry, regular, mini, offset_in_sector, first_offset);
  regular.clear();
  mini.clear();
  offset_in_sector = 0;
  first_offset = 0;
  return false;
}

namespace {

// Sizes out to count units of unit bytes, all zero; false when that cannot
// be had.
bool zeroed_units(std::vector<uint8_t>& out, size_t count, uint64_t unit) {
  out.clear();
  uint64_t total;
  if (!vk::checked_mul(uint64_t{count}, unit, total) || total > out.max_size()) return false;
  try {
    out.assign(static_cast<size_t>(total), 0);
  } catch (const std::exception&) {
    out.clear();
    return false;
  }
  return true;
}

// Copies the unit bytes at file offset o into out at cursor, as far as the
// image holds them; the rest stays zero.
void copy_unit(std::vector<uint8_t>& out, uint64_t cursor, const uint8_t* image, size_t size,
               uint64_t o, uint64_t unit) {
  if (!image || o >= size) return;
  std::memcpy(out.data() + cursor, image + o,
              static_cast<size_t>(std::min<uint64_t>(unit, size - o)));
}

}  // namespace

bool read_fat_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                      uint64_t& first_offset, const uint8_t* image, size_t size,
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
    copy_unit(out, cursor, image, size, o, S);
  }
  return true;
}

bool read_mini_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                       uint64_t& first_offset, const uint8_t* image, size_t size,
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
    copy_unit(out, cursor, image, size, o, M);
  }
  return true;
}

bool read_stream(const compound_file_reader& reader, std::vector<uint8_t>& out, uint32_t& entry_num,
                 uint64_t& first_offset, std::string_view name, const uint8_t* image, size_t size) {
  out.clear();
  first_offset = 0;
  const cfb_dir_entry* entry = entry_named(reader, name);
  if (!entry) return false;
  entry_num = entry->m_entry_num;
  std::vector<uint64_t> regular, mini;
  uint8_t mini_flag;
  return read_entry(reader, *entry, out, regular, mini, mini_flag, first_offset, image, size);
}

bool read_stream_sectors(const compound_file_reader& reader, std::vector<uint8_t>& out,
                         std::vector<uint64_t>& regular, std::vector<uint64_t>& mini,
                         uint8_t& mini_flag, uint64_t& first_offset, std::string_view name,
                         const uint8_t* image, size_t size) {
  const cfb_dir_entry* entry = entry_named(reader, name);
  if (entry)
    return read_entry(reader, *entry, out, regular, mini, mini_flag, first_offset, image, size);
  out.clear();
  regular.clear();
  mini.clear();
  mini_flag = 0;
  first_offset = 0;
  return false;
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
  try {
    std::string key = lower_key(name);
    bool found = false;
    auto [first, last] = reader.m_entries.equal_range(key);
    for (auto it = first; it != last; ++it) {
      found = true;
      stream_size = it->second.stream_size();
      if (stream_size == 0) break;
      out = cfb_entry_sectors(reader, it->second);
    }
    return found && !out.empty();
  } catch (const std::exception&) {
    out.clear();
    return false;
  }
}

bool entry_sectors_by_index(const compound_file_reader& reader, std::vector<uint64_t>& out,
                            uint64_t& stream_size, uint32_t index) {
  out.clear();
  for (const auto& [key, entry] : reader.m_entries) {
    if (entry.m_entry_num != index) continue;
    stream_size = entry.stream_size();
    try {
      out = cfb_entry_sectors(reader, entry);
    } catch (const std::exception&) {
      out.clear();
    }
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
  try {
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
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool is_mini_stream(const compound_file_reader& reader, std::string_view name) {
  if (name.empty()) return false;
  try {
    std::string key = lower_key(name);
    const cfb_dir_entry* entry = find_cfb_entry(reader, key);
    return entry && entry->stream_size() < reader.m_mini_cutoff && key != kRootKey;
  } catch (const std::exception&) {
    return false;
  }
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

void mark_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t n) {
  if (n >= reader.m_sector_count || used.m_per_sector == 0) return;
  set_bit_range(used, n * used.m_per_sector, used.m_per_sector);
}

void mark_mini_sector_used(const compound_file_reader& reader, cfb_granule_map& used, uint64_t m,
                           const std::vector<uint64_t>& root_sectors) {
  const uint64_t S = reader.m_sector_size, M = reader.m_mini_sector_size;
  if (S == 0 || M == 0 || M > S || m > 0xFFFFFFFFull) return;
  uint64_t p = m * M, q = p / S;
  if (q >= root_sectors.size()) return;
  uint64_t sector = root_sectors[static_cast<size_t>(q)];
  if (sector >= reader.m_sector_count) return;
  used.set(sector * used.m_per_sector + (p % S) / M);
}

bool stream_sector_ranges(const compound_file_reader& reader, std::vector<uint8_t>& allocated,
                          std::vector<uint8_t>& gaps, const uint8_t* image, size_t size) {
  if (reader.m_entries.empty() || !image) return false;
  const uint64_t S = reader.m_sector_size;
  try {
    allocated.reserve(allocated.size() + size);
    std::vector<uint8_t> seen(reader.m_fat_links.index_limit(), 0);
    bool any_seen = false;
    for (const auto& [key, entry] : reader.m_entries) {
      uint64_t stream_size = entry.stream_size();
      bool takes =
          entry.m_name == "Root Entry" || (stream_size != 0 && stream_size >= reader.m_mini_cutoff);
      if (!takes || stream_size == 0 || entry.object_type() == 0 || entry.m_mini) continue;
      // A sector already seen ends this entry's visit; so does a repeat.
      walk_unmarked(reader.m_fat_links, entry.start_sector(), seen, [&](uint64_t n) {
        any_seen = true;
        if (sector_inside(n, S, size)) {
          const uint8_t* p = image + (n + 1) * S;
          allocated.insert(allocated.end(), p, p + S);
        }
      });
    }
    if (any_seen) {
      uint64_t prev = UINT64_MAX;
      for (uint64_t k = 0; k < seen.size(); ++k) {
        if (!seen[static_cast<size_t>(k)]) continue;
        if (prev != UINT64_MAX && k - prev >= 2) {
          uint64_t start = (prev + 2) * S, len = (k - prev - 1) * S;
          if (start + len <= size) gaps.insert(gaps.end(), image + start, image + start + len);
        }
        prev = k;
      }
    }
  } catch (const std::exception&) {
    return !allocated.empty();
  }
  return !allocated.empty();
}

}  // namespace vk
