#include "disk/fat_ext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "foundation/vk_checked.h"
#include "foundation/vk_crc.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

constexpr uint64_t kMaxFatEntries = uint64_t{1} << 28;
constexpr uint32_t kFat32End = 0x0FFFFFF8u;
constexpr uint32_t kTableChunk = 1u << 20;
constexpr int kMaxExtDepth = 5;

template <typename T>
bool try_resize(std::vector<T>& v, size_t n) {
  return guarded([&] {
    v.resize(n);
    return true;
  });
}

void report_read(uint64_t offset) {
  std::fprintf(stderr, "prob reading disk at offset 0x%08llx\n",
               static_cast<unsigned long long>(offset));
}

// Reads count bytes at offset in bounded pieces; false (and a message) when
// any piece fails or comes back short. Nothing beyond the medium is asked.
bool read_region(RAW_DISK_IO& disk, std::vector<uint8_t>& out, uint64_t offset, uint64_t count) {
  out.clear();
  if (count == 0 || !disk.is_open() || offset >= disk.size() || count > disk.size() - offset) {
    report_read(offset);
    return false;
  }
  if (!try_resize(out, static_cast<size_t>(count))) return false;
  for (uint64_t done = 0; done < count;) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kTableChunk, count - done));
    uint32_t got = want;
    if (!disk.read_at(out.data() + done, got, offset + done) || got != want) {
      report_read(offset + done);
      out.clear();
      return false;
    }
    done += got;
  }
  return true;
}

// The entry count of a table of 12-, 16- or 32-bit entries, at most 2^28.
uint64_t table_entries(size_t fat_bytes, unsigned bits) {
  return std::min<uint64_t>(uint64_t{fat_bytes} * 8 / bits, kMaxFatEntries);
}

uint32_t entry_at(const uint8_t* fat, unsigned bits, uint64_t index) {
  if (bits == 12) {
    // Two entries share three bytes; the odd one takes the high 12 bits.
    const uint16_t pair = load_le16(fat + index + index / 2);
    return index & 1 ? pair >> 4 : pair & 0x0FFFu;
  }
  return bits == 16 ? load_le16(fat + 2 * index) : load_le32(fat + 4 * index) & 0x0FFFFFFFu;
}

// The common chain walk: from first, while the value names a cluster of the
// table not yet visited and below end_at.
bool walk_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                unsigned width, uint32_t end_at, uint64_t wanted, uint64_t limit) {
  out.clear();
  const uint64_t entries = std::min(table_entries(fat_bytes, width), limit);
  if (!fat || first < 2 || entries < 3 || first > entries - 2) return false;
  std::vector<bool> seen;
  if (!try_resize(seen, static_cast<size_t>(entries))) return false;
  uint32_t cur = first;
  while (cur >= 2 && cur < end_at && cur < entries && !seen[cur] &&
         (wanted == 0 || out.size() < wanted)) {
    seen[cur] = true;
    out.push_back(cur);
    cur = entry_at(fat, width, cur);
  }
  return !out.empty();
}

// The blanks that pad a name field are trailing ones; a blank inside the
// name belongs to it ("A B     TXT" is "A B.TXT").
void fat_name_part(std::string& out, const uint8_t* p, size_t n, bool lower) {
  while (n > 0 && p[n - 1] == ' ') --n;
  std::string part;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c < 32 || c > 126) {
      part += '?';
      continue;
    }
    part += lower && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c);
  }
  out += part;
}

// A short name's bytes: printable ASCII or code-page bytes above 0x7F
// (Windows writes those for names in the local code page); a leading 0xE5
// marks a deleted entry and 0x05 stands for a first byte of 0xE5.
bool name_printable(const uint8_t* entry) {
  const size_t from = entry[0] == 0xE5 || entry[0] == 0x05 ? 1 : 0;
  for (size_t i = from; i < 11; ++i)
    if (entry[i] < 0x20 || entry[i] == 0x7F) return false;
  return true;
}

uint16_t u16_at(const uint8_t* e, size_t off) {
  return load_le16(e + off);
}

}  // namespace

// ---------------------------------------------------------------------------

void fat_file_entry_clear(fat_file_entry& e) {
  const uint64_t base = e.m_runs.m_base_offset;
  const uint32_t cs = e.m_runs.m_bytes_per_cluster;
  e = fat_file_entry();
  cluster_runs_init(e.m_runs, base, cs, 0);
}

ext_superblock ext_superblock_from(const uint8_t* bytes, size_t length) {
  ext_superblock sb;
  if (bytes) std::memcpy(sb.m_raw.data(), bytes, std::min(length, sb.m_raw.size()));
  if (sb.magic() == ext_magic && ext_has_metadata_csum(sb)) {
    const uint32_t stored = load_le32(&sb.m_raw[1020]);
    const uint32_t computed = ext_superblock_checksum(sb);
    if (stored != computed) {
      sb.m_checksum_bad = true;
      std::fprintf(stderr,
                   "prob: ext superblock checksum 0x%08x, its bytes give 0x%08x; the volume is "
                   "not read\n",
                   stored, computed);
    }
  }
  return sb;
}

namespace {

// ext4's checksums run CRC-32C from the seed given and are never inverted.
uint32_t crc32c_of(uint32_t seed, const uint8_t* data, size_t length) {
  return crc32c_update_register(seed, data, length);
}

uint32_t crc32c_le32(uint32_t seed, uint64_t value) {
  uint8_t b[4];
  store_le32(b, static_cast<uint32_t>(value));
  return crc32c_of(seed, b, 4);
}

const uint8_t kZeros[4] = {0, 0, 0, 0};

// What a superblock must be for anything of its volume to be read.
bool ext_sb_usable(const ext_superblock& sb) {
  return sb.magic() == ext_magic && !sb.m_checksum_bad;
}

}  // namespace

bool ext_has_metadata_csum(const ext_superblock& sb) {
  return (sb.ro_compat_features() & ext_ro_compat_metadata_csum) != 0;
}

uint32_t ext_superblock_checksum(const ext_superblock& sb) {
  return crc32c_of(~0u, sb.m_raw.data(), 1020);
}

uint32_t ext_checksum_seed(const ext_superblock& sb) {
  if (sb.incompat_features() & ext_incompat_csum_seed) return load_le32(&sb.m_raw[624]);
  return crc32c_of(~0u, &sb.m_raw[104], 16);
}

uint16_t ext_descriptor_checksum(const ext_superblock& sb, uint64_t group, const uint8_t* desc,
                                 size_t desc_size) {
  // The checksum field (30-31) counts as zeros.
  uint32_t c = crc32c_le32(ext_checksum_seed(sb), group);
  c = crc32c_of(c, desc, std::min<size_t>(desc_size, 30));
  c = crc32c_of(c, kZeros, 2);
  if (desc_size > 32) c = crc32c_of(c, desc + 32, desc_size - 32);
  return static_cast<uint16_t>(c);
}

uint32_t ext_inode_seed(const ext_superblock& sb, uint64_t number, const uint8_t* inode) {
  return crc32c_of(crc32c_le32(ext_checksum_seed(sb), number), inode + 100, 4);
}

uint32_t ext_inode_checksum(const ext_superblock& sb, uint64_t number, const uint8_t* inode,
                            size_t size, bool& wide) {
  // Low half at 124, high half at 130 when the extra part reaches it; both
  // count as zeros.
  uint32_t c = crc32c_of(ext_inode_seed(sb, number, inode), inode, 124);
  c = crc32c_of(c, kZeros, 2);
  c = crc32c_of(c, inode + 126, 2);
  wide = size > 128 && 128 + size_t{load_le16(inode + 128)} >= 132;
  if (size > 128) {
    c = crc32c_of(c, inode + 128, 2);
    if (wide) c = crc32c_of(c, kZeros, 2);
    const size_t rest = wide ? 132 : 130;
    c = crc32c_of(c, inode + rest, size - rest);
  }
  return wide ? c : (c & 0xFFFF);
}

bool ext_dir_block_checksums(const uint8_t* block, size_t size, uint32_t inode_seed,
                             uint32_t& stored, uint32_t& computed) {
  stored = computed = 0;
  if (!block || size < 64) return false;
  // A leaf ends in a 12-byte entry of inode 0 and file type 0xDE.
  const uint8_t* tail = block + size - 12;
  if (load_le32(tail) == 0 && load_le16(tail + 4) == 12 && tail[6] == 0 && tail[7] == 0xDE) {
    stored = load_le32(tail + 8);
    computed = crc32c_of(inode_seed, block, size - 12);
    return true;
  }
  // An index node: one empty entry over the block, or the root's "." and
  // ".." with its 8-byte info; then the limit and count of its entries and,
  // past the limit, a tail of reserved word and checksum.
  size_t count_at = 0;
  if (load_le16(block + 4) == size && block[6] == 0) {
    count_at = 8;
  } else if (load_le16(block + 4) == 12 && load_le16(block + 16) == size - 12 &&
             load_le32(block + 24) == 0 && block[29] == 8) {
    count_at = 32;
  } else {
    return false;
  }
  const size_t limit = load_le16(block + count_at);
  const size_t count = load_le16(block + count_at + 2);
  const size_t sane = (size - count_at) / 8;
  const size_t tail_at = count_at + 8 * limit;
  if (limit > sane || count > limit || tail_at + 8 > size) return false;
  stored = load_le32(block + tail_at + 4);
  computed = crc32c_of(inode_seed, block, count_at + 8 * count);
  computed = crc32c_of(computed, block + tail_at, 4);
  computed = crc32c_of(computed, kZeros, 4);
  return true;
}

uint64_t ext_largest_file(const ext_superblock& sb, bool extents) {
  const uint64_t bs = ext_block_size(sb);
  uint64_t blocks = uint64_t{1} << 32;
  if (!extents) {
    const uint64_t n = bs / 4;
    blocks = std::min(blocks, 12 + n + n * n + n * n * n);
  }
  return blocks * bs;
}

uint32_t ext_block_size(const ext_superblock& sb) {
  return sb.log_block_size() <= 6 ? 1024u << sb.log_block_size() : 0;
}

bool ext_is_ext4(const ext_superblock& sb) {
  return (sb.incompat_features() & (0x0008 | 0x0040 | 0x0080 | 0x0200 | 0x8000)) != 0;
}

// ---------------------------------------------------------------------------

bool fat16_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted) {
  return guarded([&] {
    out.clear();
    if (fat_bytes < 512) return false;
    const uint64_t entries = table_entries(fat_bytes, 16);
    if (!walk_chain(out, first, fat, fat_bytes, 16, 0xFFF7, 0, entries)) return false;
    // A wanted count pads with the clusters after the last, inside the table.
    while (wanted && out.size() < wanted && uint64_t{out.back()} + 1 < entries)
      out.push_back(out.back() + 1);
    return true;
  });
}

bool fat12_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted) {
  return guarded([&] {
    out.clear();
    if (fat_bytes < 512) return false;
    const uint64_t entries = table_entries(fat_bytes, 12);
    if (!walk_chain(out, first, fat, fat_bytes, 12, 0xFF7, 0, entries)) return false;
    while (wanted && out.size() < wanted && uint64_t{out.back()} + 1 < entries)
      out.push_back(out.back() + 1);
    return true;
  });
}

bool fat32_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted) {
  return guarded([&] {
    out.clear();
    if (fat_bytes < 512) return false;
    const uint64_t entries = table_entries(fat_bytes, 32);
    if (!walk_chain(out, first, fat, fat_bytes, 32, kFat32End, 0, entries)) return false;
    while (wanted && out.size() < wanted && uint64_t{out.back()} + 1 < entries)
      out.push_back(out.back() + 1);
    return true;
  });
}

bool fat32_chains(fat_chain_runs& out, const uint8_t* fat, size_t fat_bytes, uint32_t width) {
  out.clear();
  if (!fat || fat_bytes < 512 || width != 4) return false;
  return fat32_chains_from_table(out, fat, fat_bytes);
}

bool fat32_chains_from_table(fat_chain_runs& out, const uint8_t* fat, size_t fat_bytes) {
  return guarded([&] {
    out.clear();
    if (!fat || fat_bytes < 512) return false;
    const uint64_t entries = table_entries(fat_bytes, 32);
    // The first (lowest) cluster pointing at each cluster, and the chain ends.
    std::vector<uint32_t> pred;
    if (!try_resize(pred, static_cast<size_t>(entries))) return false;
    std::vector<std::pair<uint32_t, uint32_t>> ends;  // (value, cluster)
    for (uint64_t c = 2; c < entries; ++c) {
      const uint32_t v = entry_at(fat, 32, c);
      if (v >= kFat32End)
        ends.emplace_back(v, static_cast<uint32_t>(c));
      else if (v >= 2 && v < entries && pred[v] == 0)
        pred[v] = static_cast<uint32_t>(c);
    }
    std::sort(ends.begin(), ends.end(), [](const auto& a, const auto& b) { return a > b; });
    std::vector<bool> seen;
    if (!try_resize(seen, static_cast<size_t>(entries))) return false;
    for (const auto& end : ends) {
      std::vector<uint32_t> chain;
      for (uint32_t c = end.second; c != 0 && !seen[c]; c = pred[c]) {
        seen[c] = true;
        chain.push_back(c);
      }
      std::reverse(chain.begin(), chain.end());
      std::vector<std::pair<uint32_t, uint32_t>> runs;
      for (uint32_t c : chain) {
        if (!runs.empty() && uint64_t{runs.back().first} + runs.back().second == c)
          ++runs.back().second;
        else
          runs.emplace_back(c, 1);
      }
      out.push_back(std::move(runs));
    }
    return !out.empty();
  });
}

bool fat16_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first, uint64_t size,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset) {
  return guarded([&] {
    runs.m_runs.clear();
    const uint32_t cs = fat_cluster_size(bs);
    if (runs.m_bytes_per_cluster == 0) runs.m_bytes_per_cluster = cs;
    // Cluster 0 may lie before the medium (small volumes with large
    // clusters): the base is then kept modulo 2^64, as the run list allows.
    if (runs.m_base_offset == 0)
      runs.m_base_offset = volume_offset + static_cast<uint64_t>(fat16_data_start(bs));
    // A table may be shorter than one cluster (small volumes, 4 KiB
    // sectors): its entry count bounds the chain, not the cluster size.
    if (cs == 0 || !fat) return false;
    std::vector<uint32_t> chain;
    const uint64_t wanted = size ? ceil_div_u64(size, cs) : 0;
    const unsigned bits = fat_entry_bits(bs) == 12 ? 12 : 16;
    if (!walk_chain(chain, first, fat, fat_bytes, bits, bits == 12 ? 0xFF7 : 0xFFF7, wanted,
                    kMaxFatEntries))
      return false;
    for (uint32_t c : chain) cluster_runs_add_cluster(runs, c);
    return !runs.m_runs.empty();
  });
}

// ---------------------------------------------------------------------------

namespace {

constexpr size_t kLfnUnitsPerEntry = 13;
// A long name holds at most 255 UTF-16 units: 20 entries.
constexpr size_t kMaxLfnEntries = 20;
constexpr size_t kMaxLfnUnits = 255;

// The units of one long-name entry up to its terminator (0x0000 or 0xFFFF).
size_t lfn_units(const uint8_t* entry, uint16_t* out) {
  static constexpr size_t kUnits[kLfnUnitsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                       18, 20, 22, 24, 28, 30};
  size_t n = 0;
  for (size_t at : kUnits) {
    const uint16_t u = u16_at(entry, at);
    if (u == 0x0000 || u == 0xFFFF) break;
    out[n++] = u;
  }
  return n;
}

}  // namespace

std::string& lfn_name_part(std::string& name, const uint8_t* entry, bool prepend) {
  if (!entry) return name;
  // No name grows past the longest a long name can be written as.
  if (name.size() >= 3 * kMaxLfnUnits) return name;
  uint16_t buf[kLfnUnitsPerEntry];
  const size_t n = lfn_units(entry, buf);
  std::string piece;
  if (n) utf16_vector_to_utf8(std::vector<uint16_t>(buf, buf + n), piece);
  if (prepend)
    name.insert(0, piece);
  else
    name += piece;
  return name;
}

std::string lfn_ordinal_text(uint8_t ordinal) {
  return guarded([&] {
    if ((ordinal & 0x1F) == 0) return std::string();
    std::string text = "seqnum: " + std::to_string(ordinal & 0x1F);
    if (ordinal & 0x40) text += ", last_entry";
    return text;
  });
}

uint8_t vfat_short_name_checksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

bool is_lfn_entry(const uint8_t* entry, uint8_t checksum) {
  if (!entry || entry[11] != 0x0F || entry[13] == 0) return false;
  if (checksum && entry[13] != checksum) return false;
  return u16_at(entry, 26) == 0;
}

uint64_t dos_time_to_filetime(uint16_t date, uint16_t time_word, uint8_t tens_of_ms) {
  vk::time t;
  time_from_dos(t, date, time_word, false);
  if (!t.valid()) return 0;
  time_add_milliseconds(t, 10 * int32_t{tens_of_ms});
  return t.valid() ? t.m_filetime : 0;
}

uint64_t fat_time_to_filetime(uint16_t date, uint16_t time_word, uint8_t tens_of_ms) {
  return dos_time_to_filetime(date, time_word, tens_of_ms);
}

namespace {

// The tests shared by the FAT12/16 and FAT32 forms for a file or directory.
bool valid_file_entry(const uint8_t* e, bool allow_empty, uint64_t earliest, uint64_t latest,
                      uint64_t first_cluster, uint64_t highest) {
  if (e[13] > 199) return false;
  if (!allow_empty && (first_cluster == 0 || load_le32(e + 28) == 0)) return false;
  if (highest && first_cluster > highest) return false;
  const uint64_t written = dos_time_to_filetime(u16_at(e, 24), u16_at(e, 22), 0);
  const uint64_t created = dos_time_to_filetime(u16_at(e, 16), u16_at(e, 14), e[13]);
  if (!written || !created) return false;
  if (written < earliest || written > latest || created < earliest || created > latest)
    return false;
  return name_printable(e);
}

}  // namespace

bool is_valid_fat_dir_entry(const uint8_t* e, bool allow_empty, uint64_t earliest, uint64_t latest,
                            uint64_t highest) {
  if (!e || e[11] == 0x0F) return false;
  if (e[11] & 0x08) {
    for (int i = 0; i < 11; ++i)
      if (e[i] < 32 || e[i] > 126) return false;
    return true;
  }
  // A highest cluster of 0 would refuse every file: the boot sector gave none.
  return valid_file_entry(e, allow_empty, earliest, latest, u16_at(e, 26),
                          highest ? highest : 0xFFFF);
}

bool is_valid_fat32_dir_entry(const uint8_t* e, bool allow_empty, uint64_t earliest,
                              uint64_t latest, uint64_t highest) {
  if (!e || e[11] == 0x0F || (e[11] & 0x08)) return false;
  const uint64_t first = (uint64_t{u16_at(e, 20)} << 16) | u16_at(e, 26);
  return valid_file_entry(e, allow_empty, earliest, latest, first, highest);
}

bool is_valid_fat_entry_any(const uint8_t* e, bool allow_empty) {
  if (!e) return false;
  if (e[11] == 0x0F) return is_lfn_entry(e, vfat_short_name_checksum(e));
  if (!name_printable(e)) return false;
  const bool written = dos_time_to_filetime(u16_at(e, 24), u16_at(e, 22), 0) != 0;
  if (e[11] & 0x08) return written && u16_at(e, 26) == 0 && load_le32(e + 28) == 0;
  const bool created = dos_time_to_filetime(u16_at(e, 16), u16_at(e, 14), e[13]) != 0;
  if (!written || !created || e[13] >= 200) return false;
  return allow_empty || (u16_at(e, 26) != 0 && load_le32(e + 28) != 0);
}

bool is_plausible_fat_entry(const uint8_t* e, bool allow_empty) {
  if (!e || !name_printable(e)) return false;
  if (e[11] < 1 || e[11] > 63) return false;
  const uint16_t date = u16_at(e, 24);
  if (date < 1 || date > 65534) return false;
  return is_valid_fat_entry_any(e, allow_empty);
}

std::string fat_short_name_text(const uint8_t* e) {
  return guarded([&] {
    std::string out;
    if (!e) return out;
    // A volume label is one field of 11 characters, not a name and extension.
    if ((e[11] & 0x08) && e[11] != 0x0F) {
      fat_name_part(out, e, 11, false);
      return out;
    }
    size_t from = 0;
    if (e[0] == 0xE5) {
      out += '_';
      from = 1;
    }
    fat_name_part(out, e + from, 8 - from, (e[12] & 0x08) != 0);
    std::string ext;
    fat_name_part(ext, e + 8, 3, (e[12] & 0x10) != 0);
    if (!ext.empty()) out += "." + ext;
    return out;
  });
}

size_t collect_fat_dir_entries(std::vector<fat_dir_entry>& entries, std::vector<uint64_t>& offsets,
                               const boot_sector& bs, const uint8_t* buffer, size_t length,
                               uint64_t earliest, uint64_t latest, bool append, uint64_t base) {
  return guarded([&] {
    if (!append) {
      entries.clear();
      offsets.clear();
    }
    if (!buffer) return size_t{0};
    // Worked out for this boot sector, not kept from an earlier call.
    const uint64_t highest = fat32_cluster_count(bs);
    size_t added = 0;
    for (size_t i = 0; i + 32 <= length; i += 32) {
      if (!is_valid_fat32_dir_entry(buffer + i, true, earliest, latest, highest)) continue;
      fat_dir_entry e;
      std::memcpy(e.m_raw.data(), buffer + i, 32);
      entries.push_back(e);
      offsets.push_back(base + i);
      ++added;
    }
    return added;
  });
}

size_t read_fat_dir_entries_lfn(std::vector<std::string>& names,
                                std::vector<std::vector<uint8_t>>& entries,
                                std::vector<uint64_t>& offsets, const boot_sector& bs,
                                const uint8_t* buffer, size_t length, uint64_t earliest,
                                uint64_t latest, bool append, uint64_t base) {
  return guarded([&] {
    if (!append) {
      names.clear();
      entries.clear();
      offsets.clear();
    }
    if (!buffer) return size_t{0};
    const uint64_t highest = fat16_highest_cluster(bs);
    size_t added = 0;
    size_t i = 0;
    while (i + 32 <= length) {
      const uint8_t* e = buffer + i;
      if (e[11] == 0x0F && e[0] != 0) {
        size_t j = i;
        while (j + 32 <= length && buffer[j + 11] == 0x0F) j += 32;
        if (j + 32 > length) break;  // the run reaches the end of the buffer
        if (is_valid_fat_dir_entry(buffer + j, true, earliest, latest, highest)) {
          // The entries lie last piece first; the name is read from the
          // entry before the short one backwards, in one pass, and only
          // from as many entries as a long name can fill.
          std::vector<uint16_t> units;
          uint16_t buf[kLfnUnitsPerEntry];
          for (size_t k = 0; k < kMaxLfnEntries && j - 32 * k > i; ++k) {
            const size_t n = lfn_units(buffer + j - 32 * (k + 1), buf);
            units.insert(units.end(), buf, buf + n);
            if (n < kLfnUnitsPerEntry) break;
          }
          std::string name;
          if (!units.empty()) utf16_vector_to_utf8(units, name);
          names.push_back(name);
          entries.emplace_back(buffer + i, buffer + j + 32);
          offsets.push_back(base + i);
          ++added;
          i = j + 32;
        } else {
          i = j;  // the run is dropped; scanning goes on after it
        }
        continue;
      }
      if (e[0] != 0 && is_valid_fat_dir_entry(e, true, earliest, latest, highest)) {
        names.push_back(fat_short_name_text(e));
        entries.emplace_back(e, e + 32);
        offsets.push_back(base + i);
        ++added;
      }
      i += 32;
    }
    return added;
  });
}

namespace {

bool entry_to_file(fat_file_entry& out, const uint8_t* e, const std::string& name,
                   const uint8_t* fat, size_t fat_bytes, unsigned bits) {
  const bool fat32 = bits == 32;
  fat_file_entry_clear(out);
  if (!e) return false;
  out.m_attributes = e[11];
  if (e[0] == 0xE5) out.m_flags |= fat_entry_deleted;
  out.m_name = name;
  out.m_created = dos_time_to_filetime(u16_at(e, 16), u16_at(e, 14), e[13]);
  out.m_accessed = dos_time_to_filetime(u16_at(e, 18), 0, 0);
  out.m_written = dos_time_to_filetime(u16_at(e, 24), u16_at(e, 22), 0);
  out.m_raw.assign(e, e + 32);
  if (e[11] & 0x08 && e[11] != 0x0F) return true;
  out.m_size = load_le32(e + 28);
  const uint32_t first = fat32 ? (uint32_t{u16_at(e, 20)} << 16) | u16_at(e, 26) : u16_at(e, 26);
  // Without a cluster size the runs hold cluster numbers.
  if (out.m_runs.m_bytes_per_cluster == 0) out.m_runs.m_bytes_per_cluster = 1;
  std::vector<uint32_t> chain;
  if (fat && first >= 2) {
    if (fat32)
      fat32_chain(chain, first, fat, fat_bytes, 0);
    else if (bits == 12)
      fat12_chain(chain, first, fat, fat_bytes, 0);
    else
      fat16_chain(chain, first, fat, fat_bytes, 0);
  }
  if (chain.empty() && first) chain.push_back(first);
  for (uint32_t c : chain) cluster_runs_add_cluster(out.m_runs, c);
  out.m_covered_bytes = uint64_t{chain.size()} * out.m_runs.m_bytes_per_cluster;
  return true;
}

}  // namespace

bool fat_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                       const uint8_t* fat, size_t fat_bytes) {
  return entry_to_file(out, entry, name, fat, fat_bytes, 16);
}

bool fat12_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                         const uint8_t* fat, size_t fat_bytes) {
  return entry_to_file(out, entry, name, fat, fat_bytes, 12);
}

bool fat32_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                         const uint8_t* fat, size_t fat_bytes) {
  return entry_to_file(out, entry, name, fat, fat_bytes, 32);
}

bool fat_entry_add_cluster(fat_file_entry& e, uint64_t cluster, bool append) {
  if (!append) cluster_runs_clear(e.m_runs);
  return cluster_runs_append(e.m_runs, cluster, 1);
}

// ---------------------------------------------------------------------------

namespace {

bool read_fat_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                    uint64_t volume_offset, uint32_t copy, uint64_t sectors_per_fat, size_t width) {
  out.clear();
  const uint64_t sector = bs.bytes_per_sector();
  uint64_t bytes = sector * sectors_per_fat;
  if (bytes == 0) return false;
  // No table has more entries than 2^28, whatever its sector count says.
  bytes = std::min<uint64_t>(bytes, kMaxFatEntries * width);
  uint64_t at = uint64_t{bs.reserved_sectors()} * sector;
  if (copy) at += sector * sectors_per_fat;
  return read_region(disk, out, volume_offset + at, bytes);
}

}  // namespace

bool read_fat16_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset, uint32_t copy) {
  return read_fat_table(bs, out, disk, volume_offset, copy, bs.sectors_per_fat_16(), 2);
}

bool read_fat32_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset, uint32_t copy) {
  return read_fat_table(bs, out, disk, volume_offset, copy, bs.sectors_per_fat_32(), 4);
}

uint64_t fat16_root_dir_offset(const boot_sector& bs) {
  const uint64_t sector = bs.bytes_per_sector();
  return uint64_t{bs.reserved_sectors()} * sector +
         (bs.num_fats() == 1 ? 1 : 2) * uint64_t{bs.sectors_per_fat_16()} * sector;
}

bool collect_used_free_clusters(const boot_sector& bs, std::vector<uint64_t>& offsets,
                                RAW_DISK_IO& disk, uint64_t volume_offset) {
  return guarded([&] {
    offsets.clear();
    const uint32_t cs = fat_cluster_size(bs);
    // No cluster is larger than the medium that holds it.
    if (cs == 0 || cs > (32u << 20) || cs > disk.size()) return false;
    std::vector<uint8_t> table;
    if (!read_fat32_table(bs, table, disk, volume_offset, 0)) return false;
    const uint64_t entries = std::min<uint64_t>(table.size() / 4, fat32_cluster_count(bs));
    std::vector<uint8_t> cluster(cs);
    const uint64_t data = volume_offset + fat32_data_offset(bs);
    for (uint64_t c = 2; c < entries; ++c) {
      if (load_le32(&table[4 * c]) & 0x0FFFFFFFu) continue;
      const uint64_t at = data + (c - 2) * cs;
      uint32_t got = cs;
      if (!disk.read_at(cluster.data(), got, at) || got != cs) {
        report_read(at);
        continue;
      }
      std::vector<uint64_t> found;
      if (find_nonzero_blocks(cluster.data(), cs, found, 512, true, at) && !found.empty())
        offsets.push_back(found.front());
    }
    return !offsets.empty();
  });
}

// ---------------------------------------------------------------------------

uint32_t exfat_cluster_size(const boot_sector& bs) {
  return exfat_sector_size(bs) * exfat_sectors_per_cluster(bs);
}

uint64_t exfat_cluster_offset(const boot_sector& bs, uint64_t cluster) {
  if (cluster < 2) return 0;
  return uint64_t{exfat_cluster_size(bs)} * (cluster - 2) + exfat_heap_start(bs);
}

uint64_t exfat_root_dir_offset(const boot_sector& bs, uint64_t volume_offset) {
  const uint64_t root = bs.exfat_root_cluster();
  return exfat_heap_start(bs) + volume_offset +
         (root >= 2 ? uint64_t{exfat_cluster_size(bs)} * (root - 2) : 0);
}

bool read_exfat_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset) {
  out.clear();
  const uint64_t bytes = std::min<uint64_t>(exfat_fat_bytes(bs), kMaxFatEntries * 4);
  if (bytes == 0) return false;
  return read_region(disk, out, exfat_fat_offset(bs, volume_offset), bytes);
}

namespace {

// The clusters of an exFAT file: with the "no FAT chain" flag of its stream
// entry, the wanted count from the first cluster on, without reading the
// table; otherwise its chain through the table. Never more than the table
// (or, for a contiguous file, the volume) holds.
bool exfat_chain(const boot_sector& bs, std::vector<uint32_t>* list, cluster_runs* runs,
                 uint32_t first, uint64_t size, const uint8_t* fat, size_t fat_bytes,
                 bool no_fat_chain) {
  const uint32_t cs = exfat_cluster_size(bs);
  const uint64_t volume_entries = uint64_t{bs.exfat_cluster_count()} + 2;
  const uint64_t wanted = size ? ceil_div_u64(size, cs) : 0;
  if (cs == 0 || first < 2) return false;
  if (no_fat_chain) {
    // The table, when given, has an entry for every cluster there is: it
    // bounds the file too. A list of cluster numbers is never made without it.
    uint64_t limit = volume_entries;
    if (fat && fat_bytes)
      limit = std::min(limit, table_entries(fat_bytes, 32));
    else if (list)
      return false;
    if (first >= limit) return false;
    const uint64_t room = limit - first;
    const uint64_t n = std::min(wanted ? wanted : room, room);
    if (runs) return cluster_runs_append(*runs, first, n);
    return guarded([&] {
      for (uint64_t i = 0; i < n; ++i) list->push_back(static_cast<uint32_t>(first + i));
      return !list->empty();
    });
  }
  const uint64_t entries = std::min<uint64_t>(table_entries(fat_bytes, 32), volume_entries);
  if (!fat || entries < 3 || first > entries - 2) return false;
  std::vector<uint32_t> chain;
  if (!walk_chain(chain, first, fat, fat_bytes, 32, kFat32End, wanted, entries)) return false;
  if (runs) {
    for (uint32_t c : chain) cluster_runs_add_cluster(*runs, c);
    return !runs->m_runs.empty();
  }
  *list = std::move(chain);
  return true;
}

void exfat_runs_base(const boot_sector& bs, cluster_runs& runs, uint64_t volume_offset) {
  const uint32_t cs = exfat_cluster_size(bs);
  if (runs.m_bytes_per_cluster == 0) runs.m_bytes_per_cluster = cs;
  if (runs.m_base_offset == 0) {
    const uint64_t heap = exfat_heap_start(bs) + volume_offset;
    runs.m_base_offset = heap - 2 * uint64_t{cs};  // modulo 2^64 when before the medium
  }
}

}  // namespace

bool exfat_chain_clusters(const boot_sector& bs, std::vector<uint32_t>& out, uint32_t first,
                          uint64_t size, const uint8_t* fat, size_t fat_bytes, bool no_fat_chain) {
  out.clear();
  return exfat_chain(bs, &out, nullptr, first, size, fat, fat_bytes, no_fat_chain);
}

bool exfat_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first, uint64_t size,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset,
                         bool no_fat_chain) {
  runs.m_runs.clear();
  exfat_runs_base(bs, runs, volume_offset);
  return exfat_chain(bs, nullptr, &runs, first, size, fat, fat_bytes, no_fat_chain);
}

size_t read_exfat_dir_entries(std::vector<exfat_file_entry>& out, const uint8_t* buffer,
                              size_t length, uint64_t base, bool deleted) {
  return guarded([&] {
    out.clear();
    if (!buffer) return size_t{0};
    size_t i = 0;
    while (i + 32 <= length) {
      const uint8_t* e = buffer + i;
      const uint8_t type = e[0];
      const bool file = type == 0x85 || (deleted && type == 0x05);
      if (!file) {
        i += 32;
        continue;
      }
      // A file set: the file entry, its stream entry, name entries and any
      // other secondaries (vendor extensions, vendor allocations), up to
      // 255. The set ends at its count or at its first entry that is not a
      // secondary of its own kind (in use or deleted), whichever comes
      // first: a raised count must not take in the next file's entries,
      // which are read as the next set.
      const size_t declared = e[1];
      const uint8_t in_use = type & 0x80;
      const uint8_t secondary = 0x40 | in_use;
      size_t secondaries = 0;
      while (secondaries < declared && 32 * (secondaries + 2) <= length - i &&
             (e[32 * (secondaries + 1)] & 0xC0) == secondary)
        ++secondaries;
      const uint8_t* stream = e + 32;
      const bool has_stream = secondaries != 0 && stream[0] == secondary;
      // A deleted file entry without its stream is nothing to recover; one
      // in use is listed, and its damage said.
      if (!has_stream && !in_use) {
        i += 32;
        continue;
      }
      exfat_file_entry f;
      f.m_offset = base + i;
      f.m_deleted = in_use == 0;
      f.m_attributes = u16_at(e, 4);
      if (has_stream) {
        f.m_stream_flags = stream[1];
        f.m_valid_length = load_le64(stream + 8);
        f.m_first_cluster = load_le32(stream + 20);
        f.m_data_length = load_le64(stream + 24);
        const size_t name_units = stream[3];
        std::vector<uint16_t> units;
        for (size_t k = 2; k <= secondaries && units.size() < name_units; ++k) {
          const uint8_t* n = e + 32 * k;
          if (n[0] != (0x41 | in_use)) break;
          for (size_t u = 0; u < 15 && units.size() < name_units; ++u)
            units.push_back(u16_at(n, 2 + 2 * u));
        }
        if (!units.empty()) utf16_vector_to_utf8(units, f.m_name);
      }
      if (in_use && !has_stream && secondaries == declared) {
        f.m_checksum_bad = true;
        if (declared == 0)
          std::fprintf(stderr,
                       "prob: exFAT entry set at offset 0x%llx: SecondaryCount 0, but a file's "
                       "set holds its stream extension entry; the file's content is not read\n",
                       static_cast<unsigned long long>(f.m_offset));
        else
          std::fprintf(stderr,
                       "prob: exFAT entry set at offset 0x%llx: its first secondary entry is of "
                       "type 0x%02x, not a stream extension entry; the file's content is not "
                       "read\n",
                       static_cast<unsigned long long>(f.m_offset), stream[0]);
      } else if (in_use && secondaries < declared) {
        f.m_checksum_bad = true;
        std::fprintf(stderr,
                     "prob: exFAT entry set at offset 0x%llx: SecondaryCount %zu, but the set "
                     "ends after %zu secondary entries; the file's content is not read\n",
                     static_cast<unsigned long long>(f.m_offset), declared, secondaries);
      } else if (in_use) {
        const uint16_t computed = exfat_set_checksum(e, secondaries + 1);
        if (computed != u16_at(e, 2)) {
          f.m_checksum_bad = true;
          std::fprintf(stderr,
                       "prob: exFAT entry set at offset 0x%llx: SetChecksum 0x%04x, its entries "
                       "give 0x%04x; the file's content is not read\n",
                       static_cast<unsigned long long>(f.m_offset), u16_at(e, 2), computed);
        }
      }
      out.push_back(std::move(f));
      i += (secondaries + 1) * 32;
    }
    return out.size();
  });
}

uint16_t exfat_set_checksum(const uint8_t* set, size_t count) {
  uint16_t sum = 0;
  for (size_t i = 0; set && i < 32 * count; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

bool exfat_entry_to_runs(const boot_sector& bs, cluster_runs& runs, const exfat_file_entry& e,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset) {
  if (e.m_checksum_bad) {
    runs.m_runs.clear();
    return false;
  }
  // No file is larger than the cluster heap, and none has more bytes
  // written than it holds: such lengths are damage, and would set the work
  // of whatever reads the file.
  const uint64_t heap = uint64_t{bs.exfat_cluster_count()} * exfat_cluster_size(bs);
  if (e.m_data_length > heap || e.m_valid_length > e.m_data_length) {
    const bool data = e.m_data_length > heap;
    std::fprintf(stderr,
                 "prob: exFAT entry set at offset 0x%llx: %s %llu is beyond %s (%llu); the "
                 "file's content is not read\n",
                 static_cast<unsigned long long>(e.m_offset),
                 data ? "data length" : "valid data length",
                 static_cast<unsigned long long>(data ? e.m_data_length : e.m_valid_length),
                 data ? "the volume's cluster heap" : "its data length",
                 static_cast<unsigned long long>(data ? heap : e.m_data_length));
    runs.m_runs.clear();
    return false;
  }
  const bool ok = exfat_chain_to_runs(bs, runs, e.m_first_cluster, e.m_data_length, fat, fat_bytes,
                                      volume_offset, (e.m_stream_flags & exfat_no_fat_chain) != 0);
  // Bytes past the valid data length were never written: they read as zeros.
  runs.m_valid_bytes = e.m_valid_length;
  return ok;
}

std::string exfat_volume_flags_text(const boot_sector& bs) {
  return guarded([&] {
    const uint16_t flags = load_le16(&bs.m_raw[106]);
    std::string out;
    static const char* const kNames[4] = {"active fat", "vol dirty", "media fail", "clear zero"};
    for (int i = 0; i < 4; ++i)
      if (flags & (1u << i)) out += std::string(kNames[i]) + ";";
    if (flags & 0xFFF0) out += "reserved non-zero;";
    if (!out.empty()) out.pop_back();
    return out;
  });
}

// ---------------------------------------------------------------------------

bool ext_inode_is_live(const uint8_t* inode, size_t length) {
  if (!inode || length < 44) return false;
  // A file that starts with a hole (or is all hole) has a first block
  // pointer of 0 and is live all the same.
  if (u16_at(inode, 0) == 0 || u16_at(inode, 26) == 0) return false;
  vk::time t;
  time_from_i64(t, load_le32(inode + 12), type_time::unix_time);
  return t.valid();
}

bool ext_inode_load(ext_inode_record& out, const ext_superblock& sb, const uint8_t* inode,
                    size_t length, uint64_t number) {
  return guarded([&] {
    out = ext_inode_record();
    const uint16_t size = sb.inode_size();
    // Inodes of 128 bytes up to a whole block (mke2fs -I 512, 1024, ...).
    if (!ext_sb_usable(sb) || !inode || length < 128 || size < 128 || (size & (size - 1)) != 0 ||
        size > ext_block_size(sb) || size > length)
      return false;
    out.m_inode.assign(inode, inode + size);
    out.m_number = number;
    out.m_ext4 = ext_is_ext4(sb);
    out.m_inode_size = size;
    out.m_block_size = ext_block_size(sb);
    return out.m_block_size != 0;
  });
}

namespace {

// Builds the runs of one ext file in logical order; holes become sparse runs.
class ext_walker {
 public:
  ext_walker(cluster_runs& runs, RAW_DISK_IO& disk, uint64_t volume_offset, uint32_t block_size,
             uint64_t blocks, uint64_t inode)
      : m_runs(runs),
        m_disk(disk),
        m_volume(volume_offset),
        m_bs(block_size),
        m_blocks(blocks),
        m_inode(inode) {}

  // Extent blocks are checked against their checksum from this seed.
  void check_with(uint32_t inode_seed) {
    m_checked = true;
    m_seed = inode_seed;
  }

  // Adds a piece of the file at logical block lb (hole when physical is 0
  // and hole is set). Pieces behind the last one are dropped. A block the
  // file already maps is damage (no sound file holds a block twice, and a
  // tree that did could make its reader go over the medium many times):
  // said, and false.
  bool add(uint64_t lb, uint64_t physical, uint64_t count, bool hole) {
    if (lb < m_next || count == 0) return true;
    if (!hole && !claim(physical, count)) {
      std::fprintf(stderr, "prob: inode %llu: block %llu is mapped twice; the file is not read\n",
                   static_cast<unsigned long long>(m_inode),
                   static_cast<unsigned long long>(physical));
      return false;
    }
    if (lb > m_next) cluster_runs_append_sparse(m_runs, lb - m_next);
    if (hole)
      cluster_runs_append_sparse(m_runs, count);
    else
      cluster_runs_append(m_runs, physical, count);
    m_next = lb + count;
    return true;
  }

  // Records [first, first + count) as mapped; false when a block of it
  // already is. Pieces that touch are merged, so a contiguous file keeps one.
  bool claim(uint64_t first, uint64_t count) {
    uint64_t end = 0;
    if (!checked_add(first, count, end)) return false;
    auto next = m_mapped.lower_bound(first);
    if (next != m_mapped.end() && next->first < end) return false;
    if (next != m_mapped.begin()) {
      auto prev = std::prev(next);
      if (prev->second > first) return false;
      if (prev->second == first) {
        prev->second = end;
        if (next != m_mapped.end() && next->first == end) {
          prev->second = next->second;
          m_mapped.erase(next);
        }
        return true;
      }
    }
    if (next != m_mapped.end() && next->first == end) {
      const uint64_t last = next->second;
      m_mapped.erase(next);
      m_mapped.emplace(first, last);
      return true;
    }
    m_mapped.emplace(first, end);
    return true;
  }

  bool read_block(uint64_t block, std::vector<uint8_t>& out, const char* message) {
    uint64_t at = 0;
    if (!checked_mul<uint64_t>(block, m_bs, at) || !checked_add(at, m_volume, at))
      at = ~uint64_t{0};
    uint32_t got = m_bs;
    out.assign(m_bs, 0);
    if (!m_disk.read_at(out.data(), got, at) || got != m_bs) {
      std::fprintf(stderr, message, static_cast<unsigned long long>(at));
      return false;
    }
    return true;
  }

  // Where a node or pointer lies, for what is said.
  static std::string place_text(uint64_t block) {
    return block ? "block " + std::to_string(block) : std::string("the inode");
  }

  // A tree or map that names a block it already holds (an index naming its
  // own block, a loop) is refused, and said: the file is not read.
  void report_loop(const char* what, uint64_t holder, uint64_t block) const {
    std::fprintf(stderr,
                 "prob: inode %llu: %s in %s names block %llu, which the walk already holds; the "
                 "file is not read\n",
                 static_cast<unsigned long long>(m_inode), what, place_text(holder).c_str(),
                 static_cast<unsigned long long>(block));
  }

  // A tree node without the extent magic, or of another depth than its
  // parent's index says, is refused, and said.
  void report_no_node(uint64_t block) const {
    std::fprintf(stderr,
                 "prob: inode %llu: %s holds no extent tree node of the depth expected; the file "
                 "is not read\n",
                 static_cast<unsigned long long>(m_inode), place_text(block).c_str());
  }

  // An extent block whose checksum (after its entries' room) fails.
  bool checksum_holds(const uint8_t* node, size_t node_bytes, uint64_t node_block) const {
    const size_t tail = 12 + 12 * size_t{load_le16(node + 4)};
    const bool fits = tail + 4 <= node_bytes;
    const uint32_t stored = fits ? load_le32(node + tail) : 0;
    const uint32_t computed = fits ? crc32c_update_register(m_seed, node, tail) : 0;
    if (fits && stored == computed) return true;
    std::fprintf(stderr,
                 "prob: inode %llu: extent block %llu checksum 0x%08x, its bytes give 0x%08x; the "
                 "file is not read\n",
                 static_cast<unsigned long long>(m_inode),
                 static_cast<unsigned long long>(node_block), stored, computed);
    return false;
  }

  // node_block: the block that holds the node (0 for the inode's own).
  bool extent_node(const uint8_t* node, size_t node_bytes, int expected_depth,
                   uint64_t node_block) {
    const uint16_t depth = node_bytes < 12 ? 0 : load_le16(node + 6);
    if (node_bytes < 12 || load_le16(node) != 0xF30A || depth > kMaxExtDepth ||
        (expected_depth >= 0 && depth != expected_depth)) {
      report_no_node(node_block);
      return false;
    }
    if (m_checked && node_block != 0 && !checksum_holds(node, node_bytes, node_block)) return false;
    const size_t capacity = node_bytes / 12 - 1;
    const size_t count = std::min<size_t>(load_le16(node + 2), capacity);
    // Entries are taken in logical order whatever order the node holds.
    std::vector<const uint8_t*> entries;
    for (size_t i = 1; i <= count; ++i) entries.push_back(node + 12 * i);
    std::stable_sort(entries.begin(), entries.end(), [](const uint8_t* a, const uint8_t* b) {
      return load_le32(a) < load_le32(b);
    });
    bool whole = true;
    for (const uint8_t* e : entries) {
      if (depth == 0) {
        uint64_t len = load_le16(e + 4);
        bool uninit = false;
        if (len > 32768) {
          len -= 32768;
          uninit = true;
        }
        const uint64_t phys = (uint64_t{load_le16(e + 6)} << 32) | load_le32(e + 8);
        if (!add(load_le32(e), phys, len, uninit)) return false;
        continue;
      }
      // A loop in the tree or an unreadable child: the other children are
      // still read, but the walk is not whole (no hole is made up for it).
      const uint64_t child = (uint64_t{load_le16(e + 8)} << 32) | load_le32(e + 4);
      std::vector<uint8_t> block;
      if (!m_visited.insert(child).second) {
        report_loop("extent index", node_block, child);
        whole = false;
      } else if (!read_block(child, block, "prob reading blk at offset 0x%08llx\n") ||
                 !extent_node(block.data(), block.size(), depth - 1, child)) {
        whole = false;
      }
    }
    return whole;
  }

  // Pointers of one block-map level; level 0 are data blocks. A pointer
  // block met twice (a map that points back into itself) ends the walk, so
  // no block is read twice and the work is bounded by the medium.
  // holder: the pointer block read (0 for the inode's own pointers).
  bool map_level(const uint8_t* pointers, size_t count, int level, uint64_t holder) {
    const uint64_t per_block = m_bs / 4;
    uint64_t span = 1;
    for (int i = 0; i < level; ++i) span *= per_block;
    for (size_t i = 0; i < count && m_lb < m_blocks; ++i) {
      const uint32_t p = load_le32(pointers + 4 * i);
      const uint64_t take = std::min(span, m_blocks - m_lb);
      if (p == 0) {
        m_lb += take;  // a hole: added before the next real block
        continue;
      }
      if (level == 0) {
        if (!add(m_lb, p, 1, false)) return false;
        ++m_lb;
        continue;
      }
      if (!m_visited.insert(p).second) {
        report_loop("block pointer", holder, p);
        return false;
      }
      std::vector<uint8_t> block;
      if (!read_block(p, block, "prob reading disk at offset 0x%08llx\n")) return false;
      if (!map_level(block.data(), static_cast<size_t>(per_block), level - 1, p)) return false;
    }
    return true;
  }

  bool block_map(const uint8_t* iblock) {
    return map_level(iblock, 12, 0, 0) && map_level(iblock + 48, 1, 1, 0) &&
           map_level(iblock + 52, 1, 2, 0) && map_level(iblock + 56, 1, 3, 0);
  }

  // A file whose last blocks are a hole still has runs for its whole size.
  void finish() {
    if (m_next < m_blocks) cluster_runs_append_sparse(m_runs, m_blocks - m_next);
    m_next = m_blocks;
  }

 private:
  cluster_runs& m_runs;
  RAW_DISK_IO& m_disk;
  uint64_t m_volume;
  uint32_t m_bs;
  uint64_t m_blocks;
  uint64_t m_inode;     // for what is said
  uint64_t m_next = 0;  // logical block after the last piece added
  uint64_t m_lb = 0;    // logical block of the block-map walk
  std::set<uint64_t> m_visited;
  std::map<uint64_t, uint64_t> m_mapped;  // physical [first, end) the file maps
  bool m_checked = false;                 // metadata_csum: extent blocks carry checksums
  uint32_t m_seed = 0;
};

void say_folder_block(uint64_t inode, uint64_t number, const char* what) {
  std::fprintf(stderr, "prob: inode %llu: folder block %llu %s; the folder is not read\n",
               static_cast<unsigned long long>(inode), static_cast<unsigned long long>(number),
               what);
}

// A folder's blocks, read once in pieces as any content is read. On a
// metadata_csum volume every block carries a checksum (a leaf's in its last
// entry, an index node's after its entries): a block that fails it, keeps
// none or cannot be read refuses the folder, and is said. The bytes go to
// content when asked, cut at the size. No more blocks are read than the
// medium holds.
bool read_folder_blocks(const cluster_runs& runs, RAW_DISK_IO& disk, uint32_t bs,
                        const uint32_t* seed, uint64_t inode, uint64_t size,
                        std::vector<uint8_t>* content) {
  if (cluster_runs_total_clusters(runs) == 0) return true;
  bool refused = false;
  uint64_t delivered = 0;
  uint64_t unread = ~uint64_t{0};
  const bool read = cluster_runs_walk(
      runs, disk, 0, whole_content,
      [&](const cluster_piece& p) {
        if (content) {
          // A hole's zeros cost no read: a folder holds no more than the
          // medium does, whatever size its runs declare.
          const uint64_t medium = disk.size();
          if (p.sparse && medium != 0 && content->size() + p.length > medium) {
            say_folder_block(inode, p.first_cluster, "lies in a hole larger than the medium");
            refused = true;
            return false;
          }
          content->insert(content->end(), p.bytes, p.bytes + p.length);
        }
        if (p.sparse) return true;
        // A short read ends the walk; its first block not read is said.
        if (p.medium_length < p.length) unread = p.first_cluster + p.medium_length / bs;
        if (!seed) return true;
        for (size_t at = 0; at + bs <= p.medium_length; at += bs) {
          uint32_t stored = 0, computed = 0;
          const bool kept = ext_dir_block_checksums(p.bytes + at, bs, *seed, stored, computed);
          if (kept && stored == computed) continue;
          const uint64_t number = p.first_cluster + at / bs;
          if (!kept) {
            say_folder_block(inode, number, "keeps no checksum");
          } else {
            char what[64];
            std::snprintf(what, sizeof what, "checksum 0x%08x, its bytes give 0x%08x", stored,
                          computed);
            say_folder_block(inode, number, what);
          }
          refused = true;
          return false;
        }
        return true;
      },
      &delivered);
  if (refused) return false;
  if (!read) {
    // Not delivered at all: the runs ask for more than the medium holds.
    uint64_t offset = 0;
    if (unread == ~uint64_t{0}) cluster_runs_locate_vcn(runs, delivered / bs, offset, unread);
    say_folder_block(inode, unread, "cannot be read");
    return false;
  }
  if (content && content->size() > size) content->resize(static_cast<size_t>(size));
  return true;
}

}  // namespace

bool ext_has_inline_data(const ext_inode_record& rec) {
  return rec.m_inode.size() >= 128 && (load_le32(rec.m_inode.data() + 32) & ext_inline_data_flag);
}

namespace {

constexpr size_t kInlineBlockBytes = 60;
constexpr uint32_t kXattrMagic = 0xEA020000u;
constexpr uint8_t kXattrIndexSystem = 7;

// The value of the in-inode extended attribute "system.data": its bytes
// inside the inode, or false when the inode has no such value there.
bool inline_data_value(const std::vector<uint8_t>& inode, const uint8_t*& value, size_t& size) {
  const size_t n = inode.size();
  if (n <= 128 + 2) return false;
  const size_t extra = load_le16(inode.data() + 128);
  if (extra % 4 != 0 || 128 + extra + 4 > n) return false;
  const size_t header = 128 + extra;
  if (load_le32(inode.data() + header) != kXattrMagic) return false;
  // Value offsets count from the first entry, right after the magic.
  const size_t first = header + 4;
  for (size_t at = first; at + 16 <= n && load_le32(inode.data() + at) != 0;) {
    const uint8_t* e = inode.data() + at;
    const size_t name_length = e[0];
    const size_t entry_bytes = (16 + name_length + 3) & ~size_t{3};
    if (at + 16 + name_length > n) return false;
    if (e[1] == kXattrIndexSystem && name_length == 4 && std::memcmp(e + 16, "data", 4) == 0) {
      // A value kept in an inode of its own is not read here.
      if (load_le32(e + 4) != 0) return false;
      const size_t offset = load_le16(e + 2);
      const size_t length = load_le32(e + 8);
      if (offset > n - first || length > n - first - offset) return false;
      value = inode.data() + first + offset;
      size = length;
      return true;
    }
    at += entry_bytes;
  }
  return false;
}

}  // namespace

bool read_ext_inline_data(const ext_inode_record& rec, std::vector<uint8_t>& out) {
  out.clear();
  return guarded([&] {
    if (!ext_has_inline_data(rec)) return false;
    const uint8_t* inode = rec.m_inode.data();
    const uint64_t size = load_le32(inode + 4) | (uint64_t{load_le32(inode + 108)} << 32);
    const size_t head = static_cast<size_t>(std::min<uint64_t>(size, kInlineBlockBytes));
    const uint64_t rest = size - head;
    const uint8_t* value = nullptr;
    size_t value_size = 0;
    if (rest != 0 && (!inline_data_value(rec.m_inode, value, value_size) || value_size < rest))
      return false;
    out.assign(inode + 40, inode + 40 + head);
    if (rest != 0) out.insert(out.end(), value, value + static_cast<size_t>(rest));
    return true;
  });
}

namespace {

uint64_t ext_inode_size(const ext_inode_record& rec) {
  return load_le32(rec.m_inode.data() + 4) | (uint64_t{load_le32(rec.m_inode.data() + 108)} << 32);
}

// A link whose target (under 60 bytes) lies in the block area.
bool ext_is_fast_symlink(const ext_inode_record& rec) {
  const uint64_t size = ext_inode_size(rec);
  return rec.m_inode.size() >= 128 && (u16_at(rec.m_inode.data(), 0) >> 12) == 0xA && size != 0 &&
         size < kInlineBlockBytes && !ext_has_inline_data(rec);
}

}  // namespace

bool read_ext_symlink(const ext_inode_record& rec, RAW_DISK_IO& disk, uint64_t volume_offset,
                      const ext_superblock& sb, std::string& target) {
  target.clear();
  return guarded([&] {
    if (rec.m_inode.size() < 128 || (u16_at(rec.m_inode.data(), 0) >> 12) != 0xA) return false;
    const uint64_t size = ext_inode_size(rec);
    if (ext_is_fast_symlink(rec)) {
      const uint8_t* at = rec.m_inode.data() + 40;
      target.assign(at, at + size);
      return true;
    }
    std::vector<uint8_t> bytes;
    if (ext_has_inline_data(rec)) {
      if (!read_ext_inline_data(rec, bytes)) return false;
    } else {
      // A slow link's target fills part of one block.
      cluster_runs runs;
      if (size == 0 || size >= rec.m_block_size ||
          !walk_ext_extents(rec, runs, disk, volume_offset, sb) ||
          !read_cluster_runs_to_vector(runs, bytes, disk, 0, size) || bytes.size() != size)
        return false;
    }
    target.assign(bytes.begin(), bytes.end());
    return true;
  });
}

bool walk_ext_extents(const ext_inode_record& rec, cluster_runs& runs, RAW_DISK_IO& disk,
                      uint64_t volume_offset, const ext_superblock& sb,
                      std::vector<uint8_t>* folder) {
  if (folder) folder->clear();
  return guarded([&] {
    const uint8_t* inode = rec.m_inode.data();
    // Inline data: the block area holds content, not block numbers.
    if (!ext_sb_usable(sb) || rec.m_inode.size() < 128 ||
        !ext_inode_is_live(inode, rec.m_inode.size()) || rec.m_block_size == 0 ||
        ext_has_inline_data(rec)) {
      runs.m_runs.clear();
      return false;
    }
    const uint16_t type = u16_at(inode, 0) >> 12;
    // A fast link's target lies in the block area itself: no blocks.
    if ((type != 0x8 && type != 0x4 && type != 0xA) || ext_is_fast_symlink(rec)) return false;
    cluster_runs_init(runs, volume_offset, rec.m_block_size, load_le32(inode + 4));
    const uint64_t size = load_le32(inode + 4) | (uint64_t{load_le32(inode + 108)} << 32);
    // The inode's flag says what its block area holds: a block map may
    // begin with a block number whose low half reads as the extent magic.
    const bool extents = (load_le32(inode + 32) & ext_extents_flag) != 0;
    // A size no file of the volume can have is damage, and would set the
    // work of whatever reads the file.
    const uint64_t largest = ext_largest_file(sb, extents);
    if (size > largest) {
      std::fprintf(stderr,
                   "prob: inode %llu: size %llu is beyond the largest file the volume holds "
                   "(%llu); the file is not read\n",
                   static_cast<unsigned long long>(rec.m_number),
                   static_cast<unsigned long long>(size), static_cast<unsigned long long>(largest));
      return false;
    }
    const uint64_t blocks = ceil_div_u64(size, rec.m_block_size);
    ext_walker walker(runs, disk, volume_offset, rec.m_block_size, blocks, rec.m_number);
    const bool checked = ext_has_metadata_csum(sb);
    const uint32_t seed = checked ? ext_inode_seed(sb, rec.m_number, inode) : 0;
    if (checked) walker.check_with(seed);
    const uint8_t* iblock = inode + 40;
    bool whole = extents ? walker.extent_node(iblock, 60, -1, 0) : walker.block_map(iblock);
    if (whole) walker.finish();
    if (whole && type == 0x4 && (checked || folder))
      whole = read_folder_blocks(runs, disk, rec.m_block_size, checked ? &seed : nullptr,
                                 rec.m_number, size, folder);
    // A tree node or pointer block that cannot be read (or is no node)
    // leaves a part of the file unknown: the file is refused rather than
    // handed out with zeros in that place.
    if (!whole) {
      runs.m_runs.clear();
      if (folder) folder->clear();
      return false;
    }
    return !runs.m_runs.empty();
  });
}

namespace {

bool is_power_of(uint64_t n, uint64_t base) {
  while (n > 1 && n % base == 0) n /= base;
  return n == 1;
}

}  // namespace

bool ext_group_has_superblock(const ext_superblock& sb, uint64_t group) {
  if (group == 0) return true;
  if (sb.compat_features() & ext_compat_sparse_super2)
    return group == load_le32(&sb.m_raw[588]) || group == load_le32(&sb.m_raw[592]);
  if (group == 1 || !(sb.ro_compat_features() & ext_ro_compat_sparse_super)) return true;
  if (group % 2 == 0) return false;
  return is_power_of(group, 3) || is_power_of(group, 5) || is_power_of(group, 7);
}

uint64_t ext_descriptor_block(const ext_superblock& sb, uint64_t index) {
  const uint32_t bs = ext_block_size(sb);
  const uint64_t first_data = load_le32(&sb.m_raw[20]);
  const uint64_t per_group = load_le32(&sb.m_raw[32]);
  if (bs == 0) return 0;
  // Bigalloc with 1 KiB blocks keeps block 0 apart: group 0's descriptors
  // move one block up.
  const uint64_t zero_adjust = index == 0 && bs == 1024 &&
                                       (sb.ro_compat_features() & ext_ro_compat_bigalloc) &&
                                       load_le32(&sb.m_raw[28]) > sb.log_block_size()
                                   ? 1
                                   : 0;
  if (!(sb.incompat_features() & ext_incompat_meta_bg) || index < load_le32(&sb.m_raw[260]))
    return first_data + index + 1 + zero_adjust;
  // meta_bg: the descriptors of a meta group lie in the first block of its
  // first group, after the superblock backup when that group has one.
  const uint32_t desc = ext_descriptor_size(sb);
  if (desc == 0) return 0;
  const uint64_t group = index * (bs / desc);
  uint64_t block = 0;
  if (!checked_mul(group, per_group, block) || !checked_add(block, first_data, block)) return 0;
  return block + (ext_group_has_superblock(sb, group) ? 1 : 0) + zero_adjust;
}

uint32_t ext_descriptor_size(const ext_superblock& sb) {
  const uint32_t bs = ext_block_size(sb);
  if (!(sb.incompat_features() & ext_incompat_64bit)) return bs ? 32 : 0;
  const uint32_t desc = load_le16(&sb.m_raw[254]);
  return desc >= 32 && desc <= bs && (desc & (desc - 1)) == 0 ? desc : 0;
}

bool ext_inode_offset(const ext_superblock& sb, RAW_DISK_IO& disk, uint64_t volume_offset,
                      uint64_t number, uint64_t& offset) {
  offset = 0;
  const uint32_t bs = ext_block_size(sb);
  const uint32_t per_group = load_le32(&sb.m_raw[40]);
  const uint16_t inode_size = sb.inode_size();
  if (!ext_sb_usable(sb) || bs == 0 || per_group == 0 || inode_size < 128 || number == 0 ||
      number > load_le32(&sb.m_raw[0]))
    return false;
  const uint64_t group = (number - 1) / per_group;
  const uint64_t index = (number - 1) % per_group;
  // 64-bit volumes give the descriptor size; others use 32 bytes.
  const uint32_t desc = ext_descriptor_size(sb);
  if (desc == 0) return false;
  uint64_t at = 0, table = 0;
  const uint64_t per_block = bs / desc;
  const uint64_t block = ext_descriptor_block(sb, group / per_block);
  if (block == 0 || !checked_mul<uint64_t>(block, bs, at) ||
      !checked_add(at, (group % per_block) * desc, at) || !checked_add(at, volume_offset, at) ||
      at >= disk.size() || disk.size() - at < desc)
    return false;
  std::vector<uint8_t> dv(desc, 0);
  uint32_t got = desc;
  if (!disk.read_at(dv.data(), got, at) || got != desc) return false;
  const uint8_t* d = dv.data();
  if (ext_has_metadata_csum(sb)) {
    const uint16_t computed = ext_descriptor_checksum(sb, group, d, desc);
    if (load_le16(d + 30) != computed) {
      std::fprintf(stderr,
                   "prob: inode %llu: group descriptor %llu checksum 0x%04x, its bytes give "
                   "0x%04x; the inode is not read\n",
                   static_cast<unsigned long long>(number), static_cast<unsigned long long>(group),
                   load_le16(d + 30), computed);
      return false;
    }
  }
  table = load_le32(d + 8) | (desc >= 64 ? uint64_t{load_le32(d + 40)} << 32 : 0);
  return checked_mul<uint64_t>(table, bs, at) && checked_add(at, index * inode_size, at) &&
         checked_add(at, volume_offset, offset) && offset < disk.size() &&
         disk.size() - offset >= inode_size;
}

bool ext_read_inode(ext_inode_record& out, const ext_superblock& sb, RAW_DISK_IO& disk,
                    uint64_t volume_offset, uint64_t number) {
  return guarded([&] {
    out = ext_inode_record();
    uint64_t at = 0;
    if (!ext_inode_offset(sb, disk, volume_offset, number, at)) return false;
    std::vector<uint8_t> inode;
    if (!read_region(disk, inode, at, sb.inode_size())) return false;
    // A never-used inode is all zeros and carries no checksum.
    if (ext_has_metadata_csum(sb) && inode.size() >= 128 &&
        std::any_of(inode.begin(), inode.end(), [](uint8_t b) { return b != 0; })) {
      bool wide = false;
      const uint32_t computed = ext_inode_checksum(sb, number, inode.data(), inode.size(), wide);
      const uint32_t stored = load_le16(inode.data() + 124) |
                              (wide ? uint32_t{load_le16(inode.data() + 130)} << 16 : 0);
      if (stored != computed) {
        std::fprintf(stderr,
                     "prob: inode %llu: checksum 0x%08x, its bytes give 0x%08x; the inode is not "
                     "read\n",
                     static_cast<unsigned long long>(number), stored, computed);
        return false;
      }
    }
    return ext_inode_load(out, sb, inode.data(), inode.size(), number);
  });
}

bool check_ext_inode(const uint8_t* inode, size_t length, std::ostream& out) {
  if (ext_inode_is_live(inode, length)) return true;
  out << "invalid data" << '\n';
  return false;
}

void ext_superblock_tail_clear(ext_superblock& sb) {
  std::fill(sb.m_raw.begin() + 84, sb.m_raw.end(), uint8_t{0});
}

std::string unix_time_text(uint32_t seconds) {
  return guarded([&] {
    vk::time t;
    time_from_u64(t, seconds, type_time::unix_time);
    std::ostringstream out;
    write_date_time(out, t);
    return out.str();
  });
}

}  // namespace vk
