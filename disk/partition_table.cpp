#include "disk/partition_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <new>
#include <optional>
#include <set>
#include <sstream>

#include "cmdline/cmd_params.h"
#include "disk/field_dump.h"
#include "disk/volume_boot.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr size_t kHeadBytes = 16384;
constexpr size_t kGptProbeBytes = 32768;
constexpr uint64_t kSearchLimit = 1048576;
constexpr uint32_t kGuessSector = 63;
constexpr uint16_t kGuessBit = 0x8000;
constexpr size_t kIdentifyBytes = 2048;
constexpr char kEfiSignature[] = "EFI PART";
// Boot records of one extended chain: a logical in each, and room for as
// many left empty by deleted drives.
constexpr uint32_t kMaxBootRecords = 2 * max_logical_partitions;

// Reads exactly count bytes of a medium, or nothing.
class sector_source {
 public:
  virtual ~sector_source() = default;
  virtual bool read(uint64_t offset, uint8_t* out, uint32_t count) = 0;
  virtual uint64_t size() const = 0;
};

class disk_source : public sector_source {
 public:
  explicit disk_source(RAW_DISK_IO& disk) : m_disk(disk) {}
  bool read(uint64_t offset, uint8_t* out, uint32_t count) override {
    uint32_t got = count;
    return m_disk.read_at(out, got, offset) && got == count;
  }
  uint64_t size() const override { return m_disk.size(); }

 private:
  RAW_DISK_IO& m_disk;
};

class buffer_source : public sector_source {
 public:
  buffer_source(const uint8_t* bytes, uint64_t length) : m_bytes(bytes), m_length(length) {}
  bool read(uint64_t offset, uint8_t* out, uint32_t count) override {
    if (offset > m_length || count > m_length - offset) return false;
    std::memcpy(out, m_bytes + offset, count);
    return true;
  }
  uint64_t size() const override { return m_length; }

 private:
  const uint8_t* m_bytes;
  uint64_t m_length;
};

bool byte_offset(uint64_t sector, uint64_t sector_size, uint64_t& out) {
  return checked_mul(sector, sector_size, out);
}

mbr_entry entry_at(const uint8_t* sector, size_t index) {
  mbr_entry e;
  std::memcpy(e.m_raw.data(), sector + mbr_first_entry + index * mbr_entry_size, mbr_entry_size);
  return e;
}

// Every entry in use counts, named or not: a partition of a type the
// library has no name for is still a partition.
bool counts(const mbr_entry& e) {
  return mbr_entry_in_use(e);
}

// 0x85 is the Linux extended partition, chained like 0x05 and 0x0F.
bool is_extended_link(const mbr_entry& e) {
  return e.partition_type() == 0x05 || e.partition_type() == 0x0F || e.partition_type() == 0x85;
}

// Only the first extended entry of the MBR holds the logical partitions
// (as partitioning tools read it): another is listed as the table gives
// it, its chain not walked, and said. Entries are numbered from 1.
void report_extra_extended(const uint8_t* mbr, size_t slot, size_t first_slot) {
  const uint32_t lba = entry_at(mbr, slot).lba_first_sector();
  const uint32_t first_lba = entry_at(mbr, first_slot).lba_first_sector();
  const std::string where = lba == first_lba
                                ? "the same as entry " + std::to_string(first_slot + 1) +
                                      "'s; its logical partitions are listed once"
                                : "entry " + std::to_string(first_slot + 1) + "'s is at sector " +
                                      std::to_string(first_lba) + "; its chain is not read";
  std::fprintf(stderr,
               "prob: MBR entry %zu at byte %zu: a second extended partition, at sector %u, %s\n",
               slot + 1, mbr_first_entry + slot * mbr_entry_size, lba, where.c_str());
}

// Entries of the MBR whose sectors overlap, as partitioning tools say them;
// kept says what is read all the same. A second extended entry is said on
// its own.
constexpr const char* k_listed_as_given = "both are listed as the table gives them";

void report_overlapping_entries(const uint8_t* mbr, const char* kept) {
  for (size_t i = 0; i < 4; ++i) {
    const mbr_entry a = entry_at(mbr, i);
    if (!counts(a)) continue;
    for (size_t k = i + 1; k < 4; ++k) {
      const mbr_entry b = entry_at(mbr, k);
      if (!counts(b) || (is_extended_link(a) && is_extended_link(b))) continue;
      const uint64_t a_end = uint64_t{a.lba_first_sector()} + a.num_sectors();
      const uint64_t b_end = uint64_t{b.lba_first_sector()} + b.num_sectors();
      if (b.lba_first_sector() >= a_end || a.lba_first_sector() >= b_end) continue;
      std::fprintf(stderr,
                   "prob: MBR entry %zu at byte %zu: sectors %u to %llu overlap entry %zu's, "
                   "sectors %u to %llu; %s\n",
                   k + 1, mbr_first_entry + k * mbr_entry_size, b.lba_first_sector(),
                   static_cast<unsigned long long>(b_end - 1), i + 1, a.lba_first_sector(),
                   static_cast<unsigned long long>(a_end - 1), kept);
    }
  }
}

partition_entry named_record(uint64_t start, uint64_t count, uint16_t type, uint32_t sector_size,
                             const char* name, bool gpt) {
  partition_entry r(start, count, type, sector_size);
  r.m_description = name;
  r.m_type_name = name;
  r.m_gpt = gpt;
  return r;
}

std::vector<uint8_t> bytes_or_empty(size_t n) {
  return guarded([&] { return std::vector<uint8_t>(n); });
}

// Says where an extended chain ends at a boot record that cannot be read:
// past the end of the medium (a cut image) or unreadable.
void report_lost_boot_record(const sector_source& src, uint64_t base, uint64_t sector,
                             uint64_t at) {
  const bool past = at >= src.size() || src.size() - at < 512;
  std::fprintf(stderr,
               "prob: extended partition chain at sector %llu: boot record at sector %llu %s; "
               "the rest of the chain is not listed\n",
               static_cast<unsigned long long>(base), static_cast<unsigned long long>(sector),
               past ? "lies past the end of the medium" : "cannot be read");
}

// The extended chain whose first boot record lies at sector base. Logical
// partitions count from their own boot record, links from base. Every slot
// of a boot record is looked at: a slot left empty (a deleted logical
// drive) does not end the chain, and a type the library does not name is
// kept with its number. Ends at a boot record already read, a record that
// is no boot record, or a record without link; stops, and says so, after
// max_logical_partitions logicals or as many boot records, or at a boot
// record that cannot be read (past the end of a cut image). False (said)
// when the first record cannot be read.
bool walk_extended_chain(sector_source& src, uint64_t base, uint32_t ss, partition_list& list,
                         uint16_t& first_record_type) {
  first_record_type = 0;
  uint8_t sector[512];
  uint64_t at = 0;
  if (!byte_offset(base, ss, at)) at = ~uint64_t{0};
  if (at == ~uint64_t{0} || !src.read(at, sector, sizeof sector)) {
    report_lost_boot_record(src, base, base, at);
    return false;
  }
  std::set<uint64_t> visited{base};
  uint32_t logicals = 0;
  uint32_t records = 1;
  bool cut = false;
  std::optional<uint64_t> next;
  // The logicals and the first link of one boot record at sector current.
  const auto take_record = [&](uint64_t current, bool first) {
    for (size_t i = 0; i < 4; ++i) {
      const mbr_entry e = entry_at(sector, i);
      if (!counts(e)) continue;
      if (is_extended_link(e)) {
        if (next) continue;
        next = base + e.lba_first_sector();
        if (!first) list.emplace_back(*next, e.num_sectors(), e.partition_type(), ss);
        continue;
      }
      if (logicals >= max_logical_partitions) {
        cut = true;
        continue;
      }
      list.emplace_back(current + e.lba_first_sector(), e.num_sectors(), e.partition_type(), ss);
      if (first) first_record_type = e.partition_type();
      ++logicals;
    }
  };
  take_record(base, true);
  while (next && !cut) {
    const uint64_t current = *next;
    next.reset();
    if (!visited.insert(current).second) break;  // a link back to a record already read
    if (records >= kMaxBootRecords) {
      cut = true;
      break;
    }
    if (!byte_offset(current, ss, at)) at = ~uint64_t{0};
    if (at == ~uint64_t{0} || !src.read(at, sector, sizeof sector)) {
      report_lost_boot_record(src, base, current, at);
      break;
    }
    if (!is_mbr_sector(sector, sizeof sector)) break;
    ++records;
    take_record(current, false);
  }
  if (cut)
    std::fprintf(stderr,
                 "prob: extended partition chain at sector %llu cut after %u logical partitions "
                 "and %u boot records; the rest is not listed\n",
                 static_cast<unsigned long long>(base), logicals, records);
  return true;
}

// An NTFS volume at sector 63 in front of an extended chain at base.
void guess_ntfs_volume(RAW_DISK_IO& disk, uint64_t base, uint32_t ss, uint16_t type,
                       partition_list& list) {
  if (base <= kGuessSector || !is_ntfs_at(disk, uint64_t{kGuessSector} * ss)) return;
  list.emplace_front(kGuessSector, base - kGuessSector, static_cast<uint16_t>(kGuessBit | type),
                     ss);
}

partition_entry gap_record(uint64_t start, uint64_t count, uint32_t ss, bool gpt) {
  partition_entry r(start, count, 0, ss);
  r.m_description = "unalloc";
  r.m_gpt = gpt;
  return r;
}

// Interleaves "unalloc" records for the sectors no record covers, up to the
// end of the medium (medium bytes in sectors of the last record, or of
// end_sector_size when that is given).
// The records are put in disk order first (a GPT need not list its
// partitions by start), and a record inside another (a logical partition
// in its extended one) never moves the position back.
// Marks the records whose sectors reach past the end of the medium.
void mark_past_end(partition_list& list, uint64_t medium_bytes) {
  for (auto& r : list) {
    const uint64_t ss = r.m_sector_size ? r.m_sector_size : 512;
    const uint64_t on_medium = medium_bytes / ss;
    r.m_past_end = r.m_start > on_medium || r.m_count > on_medium - r.m_start ? 1 : 0;
  }
}

void add_gaps(partition_list& list, uint64_t medium_bytes, uint32_t end_sector_size, bool gpt) {
  partition_list records;
  records.swap(list);
  std::stable_sort(
      records.begin(), records.end(),
      [](const partition_entry& a, const partition_entry& b) { return a.m_start < b.m_start; });
  uint64_t p = 0;
  uint32_t last_ss = 512;
  for (auto& r : records) {
    if (p < r.m_start) list.push_back(gap_record(p, r.m_start - p, r.m_sector_size, gpt));
    p = std::max(p, r.m_start > UINT64_MAX - r.m_count ? UINT64_MAX : r.m_start + r.m_count);
    if (r.m_sector_size) last_ss = r.m_sector_size;
    list.push_back(std::move(r));
  }
  if (end_sector_size) last_ss = end_sector_size;
  const uint64_t end = medium_bytes / last_ss;
  if (p < end) list.push_back(gap_record(p, end - p, last_ss, gpt));
}

// The 0xAA55 probe at the end of 1024- to 16384-byte sectors.
uint32_t probe_large_sector(const uint8_t* head, size_t n) {
  for (uint32_t s = 1024; s <= kHeadBytes; s *= 2)
    if (n >= s && load_le16(head + s - 2) == boot_signature) return s;
  return 0;
}

bool has_ext_magic_at_head(const uint8_t* head, size_t n) {
  return n >= kIdentifyBytes && load_le16(head + ext_magic_at) == ext_magic;
}

partition_entry single_volume(const uint8_t* head, size_t n) {
  partition_entry r(0, 0, 0, 512);
  r.m_identified = 1;
  identify_volume(r, head, n);
  return r;
}

// Where the GPT lies and whether its entry array may be read.
struct gpt_location {
  uint32_t sector_size = 0;
  gpt_header header;
  bool array_ok = false;
  uint64_t array_offset = 0;
  uint32_t count = 0;
  uint32_t entry_size = 0;
  uint64_t header_lba = 0;     // 1, or the last sector for the backup header
  std::vector<uint8_t> array;  // the entry array, once its CRC-32 is checked
};

uint32_t gpt_crc(const uint8_t* bytes, size_t n) {
  return ~crc32_table_hash(bytes, n);
}

bool read_gpt_array(RAW_DISK_IO& disk, const gpt_location& loc, std::vector<uint8_t>& array) {
  const uint64_t bytes = uint64_t{loc.count} * loc.entry_size;
  array = bytes_or_empty(static_cast<size_t>(bytes));
  if (bytes == 0) return true;
  if (array.empty()) return false;
  uint32_t got = static_cast<uint32_t>(bytes);
  return disk.read_at(array.data(), got, loc.array_offset) && got == bytes;
}

// The header at sector lba of sector size ss, with its entry array: empty
// when both are sound (signature, own LBA, header and array CRC-32, an
// array inside the medium), else why not.
std::string check_gpt_header(RAW_DISK_IO& disk, uint32_t ss, uint64_t lba, gpt_location& loc) {
  loc = gpt_location();
  uint64_t at = 0;
  uint32_t got = static_cast<uint32_t>(loc.header.m_raw.size());
  if (!byte_offset(lba, ss, at) || at >= disk.size() || disk.size() - at < ss)
    return "past the end of the medium";
  if (!disk.read_at(loc.header.m_raw.data(), got, at) || got != loc.header.m_raw.size())
    return "unreadable";
  const gpt_header& h = loc.header;
  if (std::memcmp(h.signature(), kEfiSignature, 8) != 0) return "no signature";
  if (h.my_lba() != lba) return "its own LBA is not " + std::to_string(lba);
  const uint32_t size = h.header_size();
  if (size < 92 || size > loc.header.m_raw.size() || size > ss) return "header size unsound";
  std::array<uint8_t, 512> copy = h.m_raw;
  store_le32(&copy[16], 0);
  if (gpt_crc(copy.data(), size) != h.header_crc()) return "header CRC mismatch";
  loc.sector_size = ss;
  loc.header_lba = lba;
  loc.count = h.num_entries();
  loc.entry_size = h.entry_size();
  const uint64_t array_bytes = uint64_t{loc.count} * loc.entry_size;
  uint64_t end = 0;
  loc.array_ok = loc.entry_size >= gpt_entry_size && loc.entry_size % gpt_entry_size == 0 &&
                 loc.entry_size <= max_gpt_entry_size && array_bytes <= max_gpt_array_bytes &&
                 byte_offset(h.entries_lba(), ss, loc.array_offset) &&
                 checked_add(loc.array_offset, array_bytes, end) && end <= disk.size();
  if (!loc.array_ok) return "entry array unsound or outside the medium";
  if (!read_gpt_array(disk, loc, loc.array)) return "entry array unreadable";
  if (gpt_crc(loc.array.data(), loc.array.size()) != h.entries_crc())
    return "entry array CRC mismatch";
  return std::string();
}

// The sector size a GPT was written with: where "EFI PART" stands at
// sector 1, else where it stands at the last sector (a damaged primary).
uint32_t gpt_sector_size(RAW_DISK_IO& disk, const uint8_t* head, size_t n) {
  for (uint32_t s = 512; s <= kHeadBytes; s *= 2)
    if (n >= s + 8 && std::memcmp(head + s, kEfiSignature, 8) == 0) return s;
  for (uint32_t s = 512; s <= kHeadBytes; s *= 2) {
    const uint64_t sectors = disk.size() / s;
    uint8_t sig[8];
    uint32_t got = sizeof sig;
    if (sectors >= 2 && disk.read_at(sig, got, (sectors - 1) * s) && got == sizeof sig &&
        std::memcmp(sig, kEfiSignature, 8) == 0)
      return s;
  }
  return 0;
}

// The entries of a checked array in use (a type GUID not all zero).
uint32_t partitions_in(const std::vector<uint8_t>& array, uint32_t entry_size) {
  uint32_t n = 0;
  for (size_t at = 0; at + gpt_entry_size <= array.size(); at += entry_size)
    n += is_zero_guid(&array[at]) ? 0 : 1;
  return n;
}

// What a sound backup says otherwise than the sound primary, one note per
// header field the two must share and one for the entries; the primary
// stands. Entries are numbered from 1, as partitioning tools number them.
void compare_gpt_backup(const gpt_location& primary, const gpt_location& backup,
                        std::vector<std::string>& notes) {
  const gpt_header& p = primary.header;
  const gpt_header& b = backup.header;
  const std::string kept = "; partitions read from the primary header";
  const std::string where = "GPT backup header at LBA " + std::to_string(backup.header_lba) + ": ";
  const auto differs = [&](const char* field, const std::string& theirs, const std::string& ours) {
    notes.push_back(where + field + " " + theirs + " differs from the primary's " + ours + kept);
  };
  const auto number = [&](const char* field, uint64_t theirs, uint64_t ours) {
    if (theirs != ours) differs(field, std::to_string(theirs), std::to_string(ours));
  };
  number("alternate LBA", b.alternate_lba(), primary.header_lba);
  number("first usable LBA", b.first_usable_lba(), p.first_usable_lba());
  number("last usable LBA", b.last_usable_lba(), p.last_usable_lba());
  if (std::memcmp(b.disk_guid(), p.disk_guid(), 16) != 0) {
    guid theirs, ours;
    theirs.set(b.disk_guid());
    ours.set(p.disk_guid());
    differs("disk GUID", guid_to_string(theirs), guid_to_string(ours));
  }
  number("entry count", b.num_entries(), p.num_entries());
  number("entry size", b.entry_size(), p.entry_size());
  if (b.num_entries() != p.num_entries() || b.entry_size() != p.entry_size()) return;
  uint32_t differing = 0, first = 0;
  for (uint32_t i = 0; i < backup.count; ++i) {
    const size_t at = size_t{i} * backup.entry_size;
    if (std::memcmp(&backup.array[at], &primary.array[at], backup.entry_size) == 0) continue;
    if (differing++ == 0) first = i;
  }
  if (!differing) return;
  std::ostringstream note;
  note << "GPT backup entry array at LBA " << b.entries_lba() << ": " << differing << " of "
       << backup.count << " entries differ from the primary's (the first is entry " << first + 1
       << ", at byte 0x" << std::hex << backup.array_offset + uint64_t{first} * backup.entry_size
       << std::dec << ")";
  const uint32_t theirs = partitions_in(backup.array, backup.entry_size);
  const uint32_t ours = partitions_in(primary.array, primary.entry_size);
  if (theirs != ours)
    note << "; the backup lists " << theirs << " partitions, the primary " << ours;
  notes.push_back(note.str() + kept);
}

// A sound GPT: the primary header at LBA 1, or, when it is damaged, the
// backup at the last sector. notes tell what was damaged, or where a sound
// backup differs from the sound primary (none when the two agree); false
// when neither is sound.
bool locate_gpt(RAW_DISK_IO& disk, gpt_location& loc, std::vector<std::string>& notes) {
  notes.clear();
  std::vector<uint8_t> head = bytes_or_empty(kGptProbeBytes);
  if (head.empty()) return false;
  uint32_t n = static_cast<uint32_t>(head.size());
  if (!disk.read_at(head.data(), n, 0)) return false;
  const uint32_t ss = gpt_sector_size(disk, head.data(), n);
  if (!ss) {
    notes.push_back("no GPT header at LBA 1 nor at the last sector");
    return false;
  }
  const std::string primary = check_gpt_header(disk, ss, 1, loc);
  if (primary.empty()) {
    // The backup the primary names is checked too: a damaged one, or one
    // that differs, is said (as partitioning tools say it), though the
    // partitions come from the primary.
    gpt_location backup_loc;
    const uint64_t alternate = loc.header.alternate_lba();
    const std::string backup = check_gpt_header(disk, ss, alternate, backup_loc);
    if (!backup.empty())
      notes.push_back("GPT backup header at LBA " + std::to_string(alternate) + " damaged (" +
                      backup + "); partitions read from the primary header");
    else
      compare_gpt_backup(loc, backup_loc, notes);
    // A backup that lies before the disk's last sector: the disk was
    // grown (or the table made for a smaller one) since, and the old
    // backup lies in space no partition holds.
    const uint64_t end = disk.size() / ss - 1;
    if (alternate < end)
      notes.push_back("GPT backup header at LBA " + std::to_string(alternate) +
                      " does not lie at the end of the disk (its last sector is LBA " +
                      std::to_string(end) + "); partitions read from the primary header");
    return true;
  }
  const uint64_t last = disk.size() / ss - 1;
  const std::string backup = check_gpt_header(disk, ss, last, loc);
  if (backup.empty()) {
    notes.push_back("GPT primary header damaged (" + primary +
                    "); partitions read from the backup header at LBA " + std::to_string(last));
    return true;
  }
  notes.push_back("GPT primary header damaged (" + primary + ") and backup header at LBA " +
                  std::to_string(last) + " damaged (" + backup + "); no partitions read");
  return false;
}

// The header at sector 1 as it stands, sound or not (for the drive record).
bool raw_primary_gpt(RAW_DISK_IO& disk, gpt_location& loc) {
  std::vector<uint8_t> head = bytes_or_empty(kGptProbeBytes);
  if (head.empty()) return false;
  uint32_t n = static_cast<uint32_t>(head.size());
  if (!disk.read_at(head.data(), n, 0)) return false;
  for (uint32_t s = 512; s <= kHeadBytes; s *= 2) {
    if (n < s + loc.header.m_raw.size()) break;
    if (std::memcmp(head.data() + s, kEfiSignature, 8) != 0) continue;
    loc.sector_size = s;
    std::memcpy(loc.header.m_raw.data(), head.data() + s, loc.header.m_raw.size());
    break;
  }
  return loc.sector_size && loc.header.my_lba() == 1;
}

void report_gpt(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) std::fprintf(stderr, "prob: %s\n", note.c_str());
}

// Identification of the records an MBR walk found: one sector each.
void identify_records(RAW_DISK_IO& disk, partition_list& list) {
  std::vector<uint8_t> sector;
  for (auto& r : list) {
    const uint32_t ss = r.m_sector_size ? r.m_sector_size : 512;
    uint64_t at = 0;
    if (!byte_offset(r.m_start, ss, at)) continue;
    if (sector.size() < ss) sector = bytes_or_empty(ss);
    if (sector.size() < ss) return;
    uint32_t got = ss;
    if (disk.read_at(sector.data(), got, at)) identify_volume(r, sector.data(), got);
  }
}

bool finish_walk(RAW_DISK_IO& disk, partition_list& list, bool layout) {
  if (list.empty()) return false;
  mark_past_end(list, disk.size());
  if (layout) add_gaps(list, disk.size(), 0, false);
  return true;
}

bool search_displaced_table(RAW_DISK_IO& disk, partition_list& list, bool layout) {
  uint8_t sector[512];
  for (uint64_t at = 512; at <= kSearchLimit; at += 512) {
    uint32_t got = sizeof sector;
    if (!disk.read_at(sector, got, at) || got != sizeof sector) return false;
    if (!is_mbr_sector(sector, sizeof sector)) continue;
    const uint64_t base = at / 512;
    disk_source src(disk);
    uint16_t type = 0;
    if (!walk_extended_chain(src, base, 512, list, type)) return false;
    guess_ntfs_volume(disk, base, 512, type, list);
    return finish_walk(disk, list, layout);
  }
  return false;
}

std::string hex_digits(uint64_t value, unsigned width) {
  return hex_number_text(value, true, width).substr(2);
}

// A product of two medium values, which may pass 64 bits, as text.
std::string product_text(uint64_t a, uint64_t b, bool hex, unsigned width) {
  unsigned __int128 v = static_cast<unsigned __int128>(a) * b;
  std::string digits;
  const unsigned base = hex ? 16 : 10;
  do {
    digits.insert(digits.begin(), "0123456789abcdef"[static_cast<unsigned>(v % base)]);
    v /= base;
  } while (v);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

}  // namespace

// ---------------------------------------------------------------------------

void drive_stats_init(drive_stats& d) {
  drive_stats_clear(d);
}

void drive_stats_clear(drive_stats& d) {
  d = drive_stats();
}

void partition_entry_init(partition_entry& p) {
  partition_entry_clear(p);
}

void partition_entry_clear(partition_entry& p) {
  p = partition_entry();
}

bool is_known_mbr_type(uint8_t t) {
  static constexpr uint8_t kKnown[] = {
      0x01, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0B, 0x0C, 0x0E, 0x0F, 0x11, 0x12, 0x14,
      0x15, 0x16, 0x1B, 0x1C, 0x1E, 0x1F, 0x24, 0x27, 0x41, 0x42, 0x43, 0x56, 0x64,
      0x66, 0x74, 0x76, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x80, 0x81, 0x82, 0x83, 0x84,
      0x85, 0x86, 0x87, 0x88, 0x8B, 0x8C, 0x8E, 0x90, 0x91, 0x92, 0x93, 0x97, 0x98,
      0x9A, 0xA8, 0xAB, 0xAC, 0xAF, 0xB6, 0xB7, 0xBB, 0xBC, 0xC2, 0xC3, 0xC4, 0xC5,
      0xC6, 0xC7, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD4, 0xD5, 0xD6, 0xD8, 0xDE, 0xE4,
      0xE5, 0xE6, 0xE8, 0xEF, 0xF0, 0xF2, 0xF4, 0xF6, 0xF9, 0xFB, 0xFC, 0xFD, 0xFE};
  static_assert(sizeof(kKnown) == 91);
  return std::find(std::begin(kKnown), std::end(kKnown), t) != std::end(kKnown);
}

bool mbr_entry_in_use(const mbr_entry& e) {
  return e.num_sectors() != 0 && e.partition_type() != 0;
}

std::string mbr_type_name(uint16_t type) {
  const bool guess = (type & kGuessBit) != 0;
  const uint16_t t = guess ? (type & 0xFF) : type;
  const char* name = "unk";
  switch (t) {
    case 0x00:
      name = "empty";
      break;
    case 0x01:
    case 0x8D:
      name = "fat12";
      break;
    case 0x02:
      name = "xenix root";
      break;
    case 0x03:
      name = "xenix /usr";
      break;
    case 0x04:
      name = "fat16";
      break;
    case 0x05:
    case 0x0F:
      name = "exten";
      break;
    case 0x06:
      name = "fat";
      break;
    case 0x07:
      name = "ntfs or exfat";
      break;
    case 0x08:
      name = "aix boot";
      break;
    case 0x09:
      name = "aix data";
      break;
    case 0x0A:
      name = "os/2 boot";
      break;
    case 0x0B:
    case 0x0C:
      name = "fat32";
      break;
    case 0x0E:
      name = "fat16 LBA mapped";
      break;
    case 0x11:
    case 0x14:
    case 0x16:
    case 0x1E:
    case 0x90:
    case 0x91:
    case 0x92:
      name = "hidden fat16";
      break;
    case 0x17:
    case 0x27:
      name = "hidden ntfs";
      break;
    case 0x1B:
    case 0x1C:
    case 0x97:
    case 0x98:
      name = "hidden fat32";
      break;
    case 0x82:
      name = "linux swap";
      break;
    case 0x83:
      name = "linux";
      break;
    case 0x85:
      name = "Linux extended";
      break;
    case 0x86:
      name = "fat16 volume set";
      break;
    case 0x87:
      name = "ntfs volume set";
      break;
    case 0x88:
      name = "linux partition table";
      break;
    case 0x8B:
    case 0x8C:
      name = "fat32 fault tolerant";
      break;
    case 0x8E:
      name = "linux Logical Volume Mgr";
      break;
    case 0x93:
      name = "hidden linux";
      break;
    case 0xA0:
    case 0xA1:
      name = "hibernation partition";
      break;
    case 0xA6:
      name = "openbsd";
      break;
    case 0xAF:
      name = "hfs";
      break;
    case 0xEE:
      name = "gpt";
      break;
    default:
      break;
  }
  return guess ? std::string(name) + " [guess]" : std::string(name);
}

std::string partition_type_name(uint16_t type) {
  return mbr_type_name(type);
}

std::string mbr_entry_type_name(const mbr_entry& e) {
  return mbr_type_name(e.partition_type());
}

std::string partition_type_text(const partition_entry& p) {
  std::string text;
  if (p.m_type != 0xEE) text = partition_type_name(p.m_type);
  if (p.m_gpt) {
    if (!p.m_description.empty()) {
      if (!text.empty()) text += "; ";
      text += p.m_description;
    }
    text += " (GPT)";
  } else if (p.m_type == 0xEE) {
    text = "gpt";
  }
  return text;
}

bool is_ntfs_record(const partition_entry& p) {
  if (p.m_identified) return p.m_type_name == "ntfs";
  return partition_type_name(p.m_type).find("ntfs") != std::string::npos;
}

// ---------------------------------------------------------------------------

bool scan_partitions(RAW_DISK_IO& disk, partition_list& list, bool search, bool layout) {
  list.clear();
  if (!disk.is_open()) return false;
  std::vector<uint8_t> head = bytes_or_empty(kHeadBytes);
  if (head.empty()) return false;
  uint32_t n = static_cast<uint32_t>(head.size());
  if (!disk.read_at(head.data(), n, 0)) return false;
  const uint8_t* h = head.data();

  uint32_t ss = 0;
  if (is_mbr_sector(h, n)) {
    ss = 512;
  } else if (is_vbr_oem_id(h, n) || is_fat_boot_sector(h, n)) {
    list.push_back(single_volume(h, std::min<size_t>(n, 512)));
    return true;
  } else {
    ss = probe_large_sector(h, n);
  }

  if (ss) {
    bool taken = false;
    std::optional<size_t> chain_slot;
    for (size_t i = 0; i < 4; ++i) {
      const mbr_entry e = entry_at(h, i);
      if (e.partition_type() == 0xEE) return scan_gpt_partitions(disk, list, layout);
      if (!counts(e)) continue;
      if (!taken && layout) list.push_back(named_record(0, 1, 0, ss, "mbr", false));
      taken = true;
      list.emplace_back(e.lba_first_sector(), e.num_sectors(), e.partition_type(), ss);
      // The first extended entry holds the chain; the slots after it are
      // read all the same, for primaries listed behind it.
      if (!is_extended_link(e)) continue;
      if (chain_slot) {
        report_extra_extended(h, i, *chain_slot);
        continue;
      }
      chain_slot = i;
      if (e.lba_first_sector() != 0) {
        disk_source src(disk);
        uint16_t type = 0;
        // A first boot record past the end of a cut image is said; the
        // primaries are listed all the same.
        if (walk_extended_chain(src, e.lba_first_sector(), ss, list, type))
          guess_ntfs_volume(disk, e.lba_first_sector(), ss, type, list);
      }
    }
    report_overlapping_entries(h, k_listed_as_given);
    identify_records(disk, list);
    return finish_walk(disk, list, layout);
  }

  const bool ext = has_ext_magic_at_head(h, n);
  if (!search) {
    if (!ext) return false;
    list.push_back(single_volume(h, kIdentifyBytes));
    return true;
  }
  const bool found = search_displaced_table(disk, list, layout);
  if (!ext) return found;
  list.clear();
  list.push_back(single_volume(h, kIdentifyBytes));
  return true;
}

void fill_gpt_entry(partition_entry& p, const uint8_t* entry, const uint8_t* volume,
                    size_t volume_length, uint32_t sector_size) {
  if (!entry) return;
  gpt_entry e;
  std::memcpy(e.m_raw.data(), entry, e.m_raw.size());
  p.m_type_guid.set(e.type_guid());
  p.m_unique_guid.set(e.unique_guid());
  p.m_sector_size = sector_size;
  p.m_gpt = 1;
  if (e.first_lba() != 0) p.m_start = e.first_lba();
  if (e.last_lba() != 0) p.m_count = e.last_lba() >= p.m_start ? e.last_lba() - p.m_start + 1 : 0;
  p.m_flags = e.attributes();
  utf16_to_utf8(e.name_utf16(), 72, p.m_description, false);
  if (volume && volume_length >= 512) {
    p.m_type = 0xEE;
    identify_volume(p, volume, volume_length);
  }
}

namespace {

// The partitions of a protective MBR beside its 0xEE entry that no GPT
// entry covers sector for sector (a hybrid MBR's do): said, as
// partitioning tools say them; the partitions are the GPT's.
void report_mbr_beside_gpt(RAW_DISK_IO& disk, const gpt_location& loc) {
  uint8_t mbr[512];
  uint32_t got = sizeof mbr;
  if (!disk.read_at(mbr, got, 0) || got != sizeof mbr) return;
  for (size_t i = 0; i < 4; ++i) {
    const mbr_entry e = entry_at(mbr, i);
    if (!counts(e) || e.partition_type() == 0xEE) continue;
    const uint64_t first = e.lba_first_sector();
    const uint64_t last = first + e.num_sectors() - 1;
    bool covered = false;
    for (uint32_t k = 0; k < loc.count && !covered; ++k) {
      const uint8_t* raw = loc.array.data() + size_t{k} * loc.entry_size;
      gpt_entry g;
      std::memcpy(g.m_raw.data(), raw, g.m_raw.size());
      covered = !is_zero_guid(g.type_guid()) && g.first_lba() == first && g.last_lba() == last;
    }
    if (covered) continue;
    std::fprintf(stderr,
                 "prob: MBR entry %zu at byte %zu: a partition of type 0x%02x at sector %llu, "
                 "%llu sectors, beside the protective entry, that no GPT entry covers; "
                 "partitions read from the GPT\n",
                 i + 1, mbr_first_entry + i * mbr_entry_size, e.partition_type(),
                 static_cast<unsigned long long>(first),
                 static_cast<unsigned long long>(e.num_sectors()));
  }
  report_overlapping_entries(mbr, "partitions read from the GPT");
}

}  // namespace

bool scan_gpt_partitions(RAW_DISK_IO& disk, partition_list& list, bool layout) {
  list.clear();
  if (!disk.is_open()) return false;
  gpt_location loc;
  std::vector<std::string> notes;
  const bool found = locate_gpt(disk, loc, notes);
  report_gpt(notes);
  if (!found) return false;
  report_mbr_beside_gpt(disk, loc);
  const uint32_t ss = loc.sector_size;
  const std::vector<uint8_t>& array = loc.array;

  if (layout) {
    const uint64_t array_sectors = ceil_div_u64(uint64_t{loc.count} * loc.entry_size, ss);
    list.push_back(named_record(0, 1, 0xEE, ss, "protective_mbr", true));
    list.push_back(named_record(loc.header_lba, 1, 0xEE, ss, "gpt header", true));
    list.push_back(named_record(loc.header.entries_lba(), array_sectors, 0xEE, ss,
                                "gpt partition entries", true));
  }
  std::vector<uint8_t> volume = bytes_or_empty(std::max<size_t>(ss, kIdentifyBytes));
  if (volume.empty()) return false;
  for (uint32_t i = 0; i < loc.count; ++i) {
    const uint8_t* raw = array.data() + size_t{i} * loc.entry_size;
    gpt_entry e;
    std::memcpy(e.m_raw.data(), raw, e.m_raw.size());
    if (is_zero_guid(e.type_guid())) continue;
    const uint64_t sectors = e.last_lba() >= e.first_lba() ? e.last_lba() - e.first_lba() + 1 : 0;
    uint64_t bytes = 0;
    const bool large = !byte_offset(sectors, ss, bytes) || bytes > kIdentifyBytes;
    const uint32_t want = large ? static_cast<uint32_t>(kIdentifyBytes) : ss;
    uint64_t at = 0;
    uint32_t got = want;
    // A partition whose first sector cannot be read (a disk image cut
    // short) is listed all the same, as the table gives it, unidentified.
    const bool read = byte_offset(e.first_lba(), ss, at) && disk.read_at(volume.data(), got, at);
    list.emplace_back();
    fill_gpt_entry(list.back(), raw, read ? volume.data() : nullptr, read ? got : 0, ss);
    if (!read) list.back().m_type = 0xEE;
  }
  if (list.empty()) return false;
  mark_past_end(list, disk.size());
  if (layout) add_gaps(list, disk.size(), 0, true);
  return true;
}

bool scan_partitions_buffer(const uint8_t* buffer, uint64_t length, partition_list& list,
                            bool search, bool gaps) {
  list.clear();
  if (!buffer || length < 512) return false;
  const size_t head_n = static_cast<size_t>(std::min<uint64_t>(length, kHeadBytes));
  buffer_source src(buffer, length);
  uint32_t ss = 0;
  const bool volume = is_vbr_oem_id(buffer, head_n) || is_fat_boot_sector(buffer, head_n);
  if (is_mbr_sector(buffer, head_n))
    ss = 512;
  else if (!volume)
    ss = probe_large_sector(buffer, head_n);

  if (!ss) {
    if (!search) return false;
    if (volume) {
      list.push_back(single_volume(buffer, 512));
      return true;
    }
    uint64_t base = 0;
    for (uint64_t at = 0; at <= length - 512; at += 512) {
      if (is_mbr_sector(buffer + at, 512)) {
        base = at / 512;
        break;
      }
    }
    uint16_t type = 0;
    if (base == 0 || !walk_extended_chain(src, base, 512, list, type) || list.empty()) return false;
    if (gaps) add_gaps(list, length, 512, false);
    return true;
  }

  bool taken = false;
  std::optional<size_t> chain_slot;
  for (size_t i = 0; i < 4; ++i) {
    const mbr_entry e = entry_at(buffer, i);
    if (!counts(e)) continue;
    if (!taken && gaps) list.push_back(named_record(0, 1, 0, ss, "mbr", false));
    taken = true;
    list.emplace_back(e.lba_first_sector(), e.num_sectors(), e.partition_type(), ss);
    if (!is_extended_link(e)) continue;
    if (chain_slot) {
      report_extra_extended(buffer, i, *chain_slot);
      continue;
    }
    chain_slot = i;
    uint16_t type = 0;
    if (e.lba_first_sector() != 0) walk_extended_chain(src, e.lba_first_sector(), ss, list, type);
  }
  report_overlapping_entries(buffer, k_listed_as_given);
  for (auto& r : list) {
    uint64_t at = 0;
    if (!byte_offset(r.m_start, r.m_sector_size, at) || at > length || length - at < 76) continue;
    identify_volume(r, buffer + at, static_cast<size_t>(length - at));
  }
  if (list.empty()) return false;
  mark_past_end(list, length);
  if (gaps) add_gaps(list, length, ss, false);
  return true;
}

// ---------------------------------------------------------------------------

bool read_drive_mbr(drive_stats& d, RAW_DISK_IO& disk) {
  if (!disk.is_open()) return false;
  std::vector<uint8_t> sector(512);
  uint32_t got = 512;
  if (!disk.read_at(sector.data(), got, 0)) return true;
  sector.resize(got);
  d.m_sector0 = sector;
  if (got >= mbr_disk_signature_at + 4)
    d.m_disk_signature = load_le32(&sector[mbr_disk_signature_at]);
  if (got == 512 && sector[510] == 0x55 && sector[511] == 0xAA) d.m_mbr_present = 1;
  if (got < 512) return true;
  bool gpt = false;
  for (size_t i = 0; i < 4; ++i) gpt = gpt || entry_at(sector.data(), i).partition_type() == 0xEE;
  if (!gpt) return true;
  d.m_gpt = 1;
  // The sound header (the backup when the primary is damaged); without
  // one, the primary as it stands, its entries unread.
  gpt_location loc;
  std::vector<std::string> notes;  // said by the partition walk
  if (!locate_gpt(disk, loc, notes)) {
    gpt_location raw;
    if (raw_primary_gpt(disk, raw)) {
      d.m_gpt_header = raw.header;
      d.m_disk_guid.assign(raw.header.disk_guid(), raw.header.disk_guid() + 16);
    }
    return true;
  }
  d.m_gpt_header = loc.header;
  d.m_disk_guid.assign(loc.header.disk_guid(), loc.header.disk_guid() + 16);
  for (uint32_t i = 0; i < loc.count; ++i) {
    const uint8_t* raw = loc.array.data() + size_t{i} * loc.entry_size;
    if (is_zero_guid(raw)) continue;
    std::array<uint8_t, gpt_entry_size> copy;
    std::memcpy(copy.data(), raw, copy.size());
    d.m_gpt_entries[loc.array_offset + uint64_t{i} * loc.entry_size] = copy;
  }
  return true;
}

bool fill_drive_stats(drive_stats& d, RAW_DISK_IO& disk, int32_t drive_number,
                      const std::string& name) {
  drive_stats_clear(d);
  if (!disk.is_open()) return false;
  scan_partitions(disk, d.m_partitions, true, true);
  d.m_name = name;
  d.m_drive_number = static_cast<uint16_t>(drive_number);
  d.m_size = disk.size();
  d.m_media_type = static_cast<int32_t>(disk.media_type());
  d.m_bytes_per_sector = disk.bytes_per_sector();
  // A file always reports 512; the walk's own structure record knows the
  // sector size the table was written with.
  if (!d.m_partitions.empty()) {
    const partition_entry& first = d.m_partitions.front();
    if (first.m_description == "mbr" || first.m_description == "protective_mbr")
      d.m_bytes_per_sector = first.m_sector_size;
  }
  const uint32_t ss = d.m_bytes_per_sector ? d.m_bytes_per_sector : 512;
  std::vector<uint8_t> sector = bytes_or_empty(ss);
  if (sector.empty()) return false;
  uint32_t got = ss;
  if (!disk.read_at(sector.data(), got, 0)) return false;
  sector.resize(got);
  if (got >= mbr_disk_signature_at + 4)
    d.m_disk_signature = load_le32(&sector[mbr_disk_signature_at]);
  if (got == ss && got >= 512 && sector[510] == 0x55 && sector[511] == 0xAA) d.m_mbr_present = 1;
  d.m_sector0 = std::move(sector);
  return true;
}

// ---------------------------------------------------------------------------

void print_partition_line(const partition_entry& p, std::ostream& out, uint32_t s,
                          bool cluster_line) {
  std::ostringstream line;
  line << " - offset|size|type   0x" << product_text(p.m_start, s, true, 12) << " | 0x"
       << product_text(p.m_count, s, true, 12) << " | 0x" << hex_digits(p.m_type, 4) << ", ["
       << product_text(p.m_start, s, false, 0) << " | " << product_text(p.m_count, s, false, 0)
       << " | " << partition_type_text(p) << "] - sig: " << hex_digits(p.m_serial >> 16, 4) << "-"
       << hex_digits(p.m_serial & 0xFFFF, 4) << '\n';
  if (cluster_line) {
    const uint64_t cluster = static_cast<uint64_t>(static_cast<uint32_t>(p.m_sectors_per_cluster));
    line << " - cluster|sector     0x" << product_text(cluster, s, true, 6) << " | "
         << hex_digits(s, 4) << ", [" << product_text(cluster, s, false, 0) << " | " << s << "]\n";
  }
  out << line.str();
}

void print_partition_row(const partition_entry& p, std::ostream& out, cmd_params& settings) {
  const std::string& sep = settings.m_separator;
  std::ostringstream line;
  if (settings.m_header_pending) {
    static const std::pair<const char*, int> kTitles[] = {
        {"start sect", 10}, {"end sect", 10},    {"num sect", 10},      {"signature", 15},
        {"type", 14},       {"volume name", 20}, {"volume letter", 15}, {"disk#", 15}};
    for (size_t i = 0; i < std::size(kTitles); ++i) {
      line << std::left << std::setfill(' ') << std::setw(kTitles[i].second) << kTitles[i].first;
      if (i + 1 < std::size(kTitles)) line << sep;
    }
    line << '\n';
    settings.m_header_pending = 0;
  }
  const uint64_t last = p.m_count ? p.m_start + p.m_count - 1 : p.m_start;
  line << "0x" << hex_digits(p.m_start, 8) << sep << "0x" << hex_digits(last, 8) << sep << "0x"
       << hex_digits(p.m_count, 8) << sep << hex_digits(p.m_serial >> 16, 4) << "-"
       << hex_digits(p.m_serial & 0xFFFF, 4) << sep << partition_type_text(p) << sep
       << p.m_volume_name << sep << p.m_volume_letter << sep << p.m_disk_number << '\n';
  out << line.str();
}

std::ostream& dump_mbr_entry(const mbr_entry& e, std::ostream& out, uint64_t offset, size_t width) {
  auto chs = [](const uint8_t* p) {
    return hex_digits(p[0], 2) + " " + hex_digits(p[1], 2) + " " + hex_digits(p[2], 2);
  };
  dump_u8_field(out, "m_status", e.status(), e.status() ? "active" : "not active", offset, width);
  dump_text_field(out, "m_chs_first_address", chs(e.chs_first_address()), "", offset + 1, width);
  dump_u8_field(out, "m_partition_type", e.partition_type(), mbr_entry_type_name(e), offset + 4,
                width);
  dump_text_field(out, "m_chs_last_address", chs(e.chs_last_address()), "", offset + 5, width);
  const uint32_t lba = e.lba_first_sector();
  dump_u32_field(out, "m_LBA_first_sector", lba,
                 lba ? "0x" + product_text(lba, 512, true, 0) + " byte offset" : "", offset + 8,
                 width);
  const uint32_t n = e.num_sectors();
  std::string note;
  if (n == 0xFFFFFFFFu)
    note = "Maximum size available";
  else if (n)
    note = "0x" + product_text(n, 512, true, 0) + " num bytes";
  dump_u32_field(out, "m_num_sectors", n, note, offset + 12, width);
  return out;
}

std::ostream& dump_mbr(const master_boot_record& mbr, std::ostream& out) {
  constexpr size_t kWidth = 20;
  dump_u32_field(out, "m_disk_signature", mbr.disk_signature(), "", mbr_disk_signature_at, kWidth);
  for (size_t i = 0; i < 4; ++i) {
    out << '\n';
    dump_mbr_entry(mbr.entry(i), out, mbr_first_entry + i * mbr_entry_size, kWidth);
  }
  out << '\n';
  dump_u16_field(out, "m_mbr_signature", mbr.mbr_signature(), "", boot_signature_at, kWidth);
  return out;
}

}  // namespace vk
