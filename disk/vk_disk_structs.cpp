#include "disk/vk_disk_structs.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace vk {

namespace {

constexpr uint32_t kMaxNtfsCluster = 2u << 20;  // 2 MiB
constexpr uint32_t kMaxExfatClusterShift = 25;  // 32 MiB
constexpr uint32_t kMinRecord = 256;
constexpr uint32_t kMaxRecord = 65536;

bool in_set(uint8_t type, std::initializer_list<uint8_t> set) {
  return std::find(set.begin(), set.end(), type) != set.end();
}

template <size_t N>
void zero_range(std::array<uint8_t, N>& raw, size_t from, size_t to) {
  std::fill(raw.begin() + from, raw.begin() + to, uint8_t{0});
}

// FAT counts only ever distinguish one FAT from "two".
uint64_t fat_copies(const boot_sector& bs) {
  return bs.num_fats() == 1 ? 1 : 2;
}

}  // namespace

mbr_entry master_boot_record::entry(size_t index) const {
  mbr_entry e;
  if (index < 4)
    std::memcpy(e.m_raw.data(), &m_raw[mbr_first_entry + index * mbr_entry_size], mbr_entry_size);
  return e;
}

boot_sector boot_sector_from(const uint8_t* bytes, size_t length) {
  boot_sector bs;
  if (bytes) std::memcpy(bs.m_raw.data(), bytes, std::min(length, boot_sector_size));
  return bs;
}

void set_mft_ref_parts(mft_ref& ref, uint32_t entry_low, uint16_t entry_high, uint16_t sequence) {
  ref.m_entry_low = entry_low;
  ref.m_entry_high[0] = static_cast<uint8_t>(entry_high);
  ref.m_entry_high[1] = static_cast<uint8_t>(entry_high >> 8);
  ref.m_sequence = sequence;
}

// ---------------------------------------------------------------------------

uint32_t valid_sector_size(uint32_t bytes) {
  return (bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096) ? bytes : 0;
}

uint32_t ntfs_sectors_per_cluster(uint8_t byte) {
  if (byte >= 0x01 && byte <= 0x80) return byte;
  if (byte >= 0xF4) return 1u << (256 - byte);
  return 0;
}

uint32_t ntfs_cluster_size(const boot_sector& bs) {
  const uint32_t sector = valid_sector_size(bs.bytes_per_sector());
  const uint64_t bytes = uint64_t{sector} * ntfs_sectors_per_cluster(bs.sectors_per_cluster());
  return bytes <= kMaxNtfsCluster ? static_cast<uint32_t>(bytes) : 0;
}

uint32_t ntfs_record_size_from_byte(int8_t value, uint32_t cluster_size) {
  uint64_t bytes = 0;
  if (value < 0) {
    const int shift = -int{value};
    if (shift > 16) return 0;
    bytes = uint64_t{1} << shift;
  } else {
    bytes = uint64_t(value) * cluster_size;
  }
  return (bytes >= kMinRecord && bytes <= kMaxRecord) ? static_cast<uint32_t>(bytes) : 0;
}

uint32_t ntfs_mft_record_size(const boot_sector& bs) {
  return ntfs_record_size_from_byte(bs.ntfs_clusters_per_record(), ntfs_cluster_size(bs));
}

uint32_t ntfs_index_block_size(const boot_sector& bs) {
  return ntfs_record_size_from_byte(bs.ntfs_clusters_per_index(), ntfs_cluster_size(bs));
}

uint32_t fat_cluster_size(const boot_sector& bs) {
  return uint32_t{bs.sectors_per_cluster()} * bs.bytes_per_sector();
}

uint64_t fat_volume_bytes(const boot_sector& bs) {
  return uint64_t{bs.bytes_per_sector()} * bs.total_sectors_32();
}

uint64_t fat_first_fat_offset(const boot_sector& bs) {
  return uint64_t{bs.bytes_per_sector()} * bs.reserved_sectors();
}

uint64_t fat32_fat_bytes(const boot_sector& bs) {
  return uint64_t{bs.bytes_per_sector()} * bs.sectors_per_fat_32();
}

uint64_t fat16_fat_bytes(const boot_sector& bs) {
  return uint64_t{bs.bytes_per_sector()} * bs.sectors_per_fat_16();
}

uint64_t fat32_second_fat_offset(const boot_sector& bs) {
  if (bs.num_fats() == 1) return 0;
  return (uint64_t{bs.reserved_sectors()} + bs.sectors_per_fat_32()) * bs.bytes_per_sector();
}

uint64_t fat16_second_fat_offset(const boot_sector& bs) {
  if (bs.num_fats() == 1) return 0;
  return (uint64_t{bs.reserved_sectors()} + bs.sectors_per_fat_16()) * bs.bytes_per_sector();
}

uint64_t fat16_data_offset(const boot_sector& bs) {
  return (bs.reserved_sectors() + fat_copies(bs) * bs.sectors_per_fat_16()) *
             bs.bytes_per_sector() +
         uint64_t{bs.root_entries()} * 32;
}

uint64_t fat32_data_offset(const boot_sector& bs) {
  return fat_first_fat_offset(bs) + fat_copies(bs) * fat32_fat_bytes(bs);
}

int64_t fat32_cluster_zero_offset(const boot_sector& bs) {
  // At most about 2^49: no wrap in 64 signed bits.
  return static_cast<int64_t>(fat32_data_offset(bs)) - 2 * int64_t{fat_cluster_size(bs)};
}

uint64_t fat32_cluster_count(const boot_sector& bs) {
  const uint32_t cluster = fat_cluster_size(bs);
  if (cluster == 0) return 0;
  const int64_t beyond = static_cast<int64_t>(fat_volume_bytes(bs)) - fat32_cluster_zero_offset(bs);
  return beyond > 0 ? static_cast<uint64_t>(beyond) / cluster : 0;
}

int64_t fat16_data_start(const boot_sector& bs) {
  return static_cast<int64_t>(fat16_data_offset(bs)) - 2 * int64_t{fat_cluster_size(bs)};
}

uint64_t fat_total_sectors(const boot_sector& bs) {
  return bs.total_sectors_16() ? bs.total_sectors_16() : bs.total_sectors_32();
}

uint32_t fat_entry_bits(const boot_sector& bs) {
  if (bs.sectors_per_fat_16() == 0) return 32;
  const uint32_t cluster = fat_cluster_size(bs);
  if (cluster == 0) return 0;
  const uint64_t bytes = fat_total_sectors(bs) * bs.bytes_per_sector();
  const uint64_t data = fat16_data_offset(bs);
  const uint64_t clusters = bytes > data ? (bytes - data) / cluster : 0;
  return clusters < fat12_max_clusters ? 12 : 16;
}

uint64_t fat16_highest_cluster(const boot_sector& bs) {
  const uint32_t cluster = fat_cluster_size(bs);
  if (cluster == 0) return 0;
  // Small FAT12/16 volumes give their size in the 16-bit field.
  const uint64_t sectors = fat_total_sectors(bs);
  const int64_t beyond =
      static_cast<int64_t>(sectors * bs.bytes_per_sector()) - fat16_data_start(bs);
  return beyond > 0 ? static_cast<uint64_t>(beyond) / cluster : 0;
}

uint32_t exfat_sector_size(const boot_sector& bs) {
  const uint8_t shift = bs.exfat_sector_shift();
  return (shift >= 9 && shift <= 12) ? (1u << shift) : 0;
}

uint32_t exfat_sectors_per_cluster(const boot_sector& bs) {
  if (!exfat_sector_size(bs)) return 0;
  const uint32_t shift = bs.exfat_cluster_shift();
  return (shift + bs.exfat_sector_shift() <= kMaxExfatClusterShift) ? (1u << shift) : 0;
}

uint64_t exfat_fat_offset(const boot_sector& bs, uint64_t base) {
  return base + uint64_t{exfat_sector_size(bs)} * bs.exfat_fat_offset_sectors();
}

uint64_t exfat_fat_bytes(const boot_sector& bs) {
  return uint64_t{exfat_sector_size(bs)} * bs.exfat_fat_length();
}

uint64_t exfat_heap_offset(const boot_sector& bs, uint64_t base) {
  return base + exfat_heap_start(bs);
}

uint64_t exfat_heap_start(const boot_sector& bs) {
  return uint64_t{exfat_sector_size(bs)} * bs.exfat_heap_offset_sectors();
}

uint64_t offset_plus_12k(uint64_t base) {
  return base + 0x3000;
}

uint64_t ceil_div_u64(uint64_t value, uint32_t divisor) {
  if (divisor == 0) return 0;
  return value / divisor + (value % divisor != 0 ? 1 : 0);
}

uint64_t zero_value() {
  return 0;
}

// ---------------------------------------------------------------------------

bool is_fat12_type(uint8_t t) {
  return in_set(t, {0x01, 0x11});
}
bool is_efi_system_type(uint8_t t) {
  return t == 0xEF;
}
bool is_fat32_type(uint8_t t) {
  return in_set(t, {0x0B, 0x0C, 0x12, 0x1B, 0x1C, 0x7C, 0x7D, 0x8B, 0x8C, 0x97, 0x98, 0xBB, 0xBC,
                    0xCB, 0xCC, 0xD8});
}
bool is_ntfs_type(uint8_t t) {
  return in_set(t, {0x07, 0x11, 0x27, 0x87, 0xB7, 0xC7});
}
bool is_apple_type(uint8_t t) {
  return in_set(t, {0xA8, 0xAB, 0xAC});
}
bool is_hfs_type(uint8_t t) {
  return t == 0xAF;
}
bool is_vmware_type(uint8_t t) {
  return in_set(t, {0xFB, 0xFC});
}
bool is_linux_type(uint8_t t) {
  return in_set(t, {0x27, 0x41, 0x42, 0x43, 0x80, 0x81, 0x82, 0x83, 0x85, 0x86, 0x88,
                    0x8E, 0x93, 0xC2, 0xC3, 0xCD, 0xE8, 0xF0, 0xF9, 0xFD, 0xFE});
}
bool is_extended_type(uint8_t t) {
  return in_set(t, {0x05, 0x0F, 0x15, 0x1F, 0x91, 0x98, 0xC5, 0xCF, 0xD5});
}
bool is_fat12_type(const mbr_entry& e) {
  return is_fat12_type(e.partition_type());
}
bool is_fat32_type(const mbr_entry& e) {
  return is_fat32_type(e.partition_type());
}
bool is_ntfs_type(const mbr_entry& e) {
  return is_ntfs_type(e.partition_type());
}
bool is_apple_type(const mbr_entry& e) {
  return is_apple_type(e.partition_type());
}
bool is_hfs_type(const mbr_entry& e) {
  return is_hfs_type(e.partition_type());
}
bool is_vmware_type(const mbr_entry& e) {
  return is_vmware_type(e.partition_type());
}
bool is_linux_type(const mbr_entry& e) {
  return is_linux_type(e.partition_type());
}
bool is_extended_type(const mbr_entry& e) {
  return is_extended_type(e.partition_type());
}

// ---------------------------------------------------------------------------

bool is_hfsplus_signature(const uint8_t* p) {
  if (!p) return false;
  const uint16_t v = load_le16(p);
  return v == hfsplus_signature || v == hfsx_signature;
}

bool is_hfsx_signature(const uint8_t* p) {
  return p && load_le16(p) == hfsx_signature;
}

bool has_ntfs_oem_id(const uint8_t* bytes, size_t length, bool force) {
  if (!bytes || (!force && length < 12) || length < 11) return false;
  return std::memcmp(bytes + 3, "NTFS    ", 8) == 0;
}

bool vector_has_ntfs_oem_id(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= 12 && has_ntfs_oem_id(bytes.data(), bytes.size(), false);
}

uint64_t string_hash37(const uint8_t* bytes, size_t count) {
  uint32_t h = 314159;
  for (size_t i = 0; i < count; ++i)
    h = h * 37u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])));
  return h;
}

uint64_t string_hash37_blocked(const uint8_t* bytes, size_t count) {
  static constexpr auto kPow = [] {
    std::array<uint32_t, 9> p{};
    p[0] = 1;
    for (size_t k = 1; k < p.size(); ++k) p[k] = p[k - 1] * 37u;
    return p;
  }();
  uint32_t h = 314159;
  size_t i = 0;
  for (; count - i > 8; i += 8) {
    uint32_t block = 0;
    for (size_t k = 0; k < 8; ++k)
      block += kPow[7 - k] *
               static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i + k])));
    h = h * kPow[8] + block;
  }
  for (; i < count; ++i)
    h = h * 37u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])));
  return h;
}

// ---------------------------------------------------------------------------

bool is_zero_guid(const uint8_t* bytes16) {
  if (!bytes16) return true;
  for (size_t i = 0; i < 16; ++i)
    if (bytes16[i]) return false;
  return true;
}
bool is_nonzero_guid(const uint8_t* bytes16) {
  return !is_zero_guid(bytes16);
}
bool is_zero_guid(const guid& g) {
  return is_zero_guid(g.m_bytes);
}
bool is_nonzero_guid(const guid& g) {
  return !is_zero_guid(g.m_bytes);
}

std::string init_string_from(const std::string& text) {
  return text;
}

void gpt_header_init(gpt_header& h) {
  h.m_raw.fill(0);
}
void gpt_header_clear(gpt_header& h) {
  h.m_raw.fill(0);
}
void gpt_block_clear(gpt_entry& e) {
  e.m_raw.fill(0);
}
void vbr_head_init(boot_sector& bs) {
  zero_range(bs.m_raw, 0, bpb_head_size);
}
void boot_sector_clear(boot_sector& bs) {
  bs.m_raw.fill(0);
}
void fat32_boot_sector_clear(boot_sector& bs) {
  zero_range(bs.m_raw, 36, 90);
}
void ntfs_boot_sector_clear(boot_sector& bs) {
  zero_range(bs.m_raw, 36, 84);
}
void exfat_boot_sector_clear(boot_sector& bs) {
  zero_range(bs.m_raw, 64, 112);
}
void mbr_entry_clear(mbr_entry& e) {
  e.m_raw.fill(0);
}

bool fat_entry_copy(fat_dir_entry& dst, const uint8_t* src, size_t length) {
  if (!src || length < dst.m_raw.size()) return false;
  std::memcpy(dst.m_raw.data(), src, dst.m_raw.size());
  return true;
}

void fat_entry_clear(fat_dir_entry& e) {
  e.m_raw.fill(0);
}

}  // namespace vk
