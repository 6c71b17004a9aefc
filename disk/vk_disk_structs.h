// On-disk structures of partitioned media and their volumes, and the pure
// geometry rules derived from them.
//
// Each structure is held as its fixed block of little-endian bytes and read
// through accessors, so that no layout depends on compiler padding and any
// 512-byte block (hostile or not) is a valid value. Every size derived from a
// byte of the medium is range-checked first: a size that cannot be right
// comes out as 0, never as a shift or product that is undefined or wraps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "foundation/vk_bytes.h"
#include "foundation/vk_guid.h"

namespace vk {

// ---------------------------------------------------------------------------
// Master boot record and its partition entries
// ---------------------------------------------------------------------------

inline constexpr size_t mbr_entry_size = 16;
inline constexpr size_t mbr_first_entry = 446;
inline constexpr size_t mbr_disk_signature_at = 440;
inline constexpr size_t boot_signature_at = 510;
inline constexpr uint16_t boot_signature = 0xAA55;

struct mbr_entry {
  std::array<uint8_t, mbr_entry_size> m_raw{};

  uint8_t status() const { return m_raw[0]; }
  const uint8_t* chs_first_address() const { return &m_raw[1]; }
  uint8_t partition_type() const { return m_raw[4]; }
  const uint8_t* chs_last_address() const { return &m_raw[5]; }
  uint32_t lba_first_sector() const { return load_le32(&m_raw[8]); }
  uint32_t num_sectors() const { return load_le32(&m_raw[12]); }
};

struct master_boot_record {
  std::array<uint8_t, 512> m_raw{};

  uint32_t disk_signature() const { return load_le32(&m_raw[mbr_disk_signature_at]); }
  mbr_entry entry(size_t index) const;  // index 0 to 3
  uint16_t mbr_signature() const { return load_le16(&m_raw[boot_signature_at]); }
};

// ---------------------------------------------------------------------------
// GPT header and entries
// ---------------------------------------------------------------------------

inline constexpr size_t gpt_entry_size = 128;

struct gpt_header {
  std::array<uint8_t, 512> m_raw{};

  const uint8_t* signature() const { return &m_raw[0]; }
  uint32_t revision() const { return load_le32(&m_raw[8]); }
  uint32_t header_size() const { return load_le32(&m_raw[12]); }
  uint32_t header_crc() const { return load_le32(&m_raw[16]); }
  uint64_t my_lba() const { return load_le64(&m_raw[24]); }
  uint64_t alternate_lba() const { return load_le64(&m_raw[32]); }
  uint64_t first_usable_lba() const { return load_le64(&m_raw[40]); }
  uint64_t last_usable_lba() const { return load_le64(&m_raw[48]); }
  const uint8_t* disk_guid() const { return &m_raw[56]; }
  uint64_t entries_lba() const { return load_le64(&m_raw[72]); }
  uint32_t num_entries() const { return load_le32(&m_raw[80]); }
  uint32_t entry_size() const { return load_le32(&m_raw[84]); }
  uint32_t entries_crc() const { return load_le32(&m_raw[88]); }
};

struct gpt_entry {
  std::array<uint8_t, gpt_entry_size> m_raw{};

  const uint8_t* type_guid() const { return &m_raw[0]; }
  const uint8_t* unique_guid() const { return &m_raw[16]; }
  uint64_t first_lba() const { return load_le64(&m_raw[32]); }
  uint64_t last_lba() const { return load_le64(&m_raw[40]); }
  uint64_t attributes() const { return load_le64(&m_raw[48]); }
  const uint8_t* name_utf16() const { return &m_raw[56]; }  // 72 bytes
};

// ---------------------------------------------------------------------------
// Volume boot record: the BIOS parameter block and the parts that differ
// between NTFS, FAT12/16, FAT32 and exFAT (the same bytes, read differently).
// ---------------------------------------------------------------------------

inline constexpr size_t boot_sector_size = 512;
inline constexpr size_t bpb_head_size = 36;

struct boot_sector {
  std::array<uint8_t, boot_sector_size> m_raw{};

  const uint8_t* jump() const { return &m_raw[0]; }
  const uint8_t* oem_id() const { return &m_raw[3]; }  // 8 bytes
  uint16_t bytes_per_sector() const { return load_le16(&m_raw[11]); }
  uint8_t sectors_per_cluster() const { return m_raw[13]; }
  uint16_t reserved_sectors() const { return load_le16(&m_raw[14]); }
  uint8_t num_fats() const { return m_raw[16]; }
  uint16_t root_entries() const { return load_le16(&m_raw[17]); }
  uint16_t total_sectors_16() const { return load_le16(&m_raw[19]); }
  uint8_t media_descriptor() const { return m_raw[21]; }
  uint16_t sectors_per_fat_16() const { return load_le16(&m_raw[22]); }
  uint16_t sectors_per_track() const { return load_le16(&m_raw[24]); }
  uint16_t num_heads() const { return load_le16(&m_raw[26]); }
  uint32_t hidden_sectors() const { return load_le32(&m_raw[28]); }
  uint32_t total_sectors_32() const { return load_le32(&m_raw[32]); }
  uint16_t signature() const { return load_le16(&m_raw[boot_signature_at]); }

  // FAT12/16
  uint32_t fat16_serial() const { return load_le32(&m_raw[39]); }
  // FAT32
  uint32_t sectors_per_fat_32() const { return load_le32(&m_raw[36]); }
  uint16_t fat32_ext_flags() const { return load_le16(&m_raw[40]); }
  uint32_t fat32_serial() const { return load_le32(&m_raw[67]); }
  // NTFS
  uint32_t ntfs_drive_num() const { return load_le32(&m_raw[36]); }
  uint64_t ntfs_total_sectors() const { return load_le64(&m_raw[40]); }
  uint64_t ntfs_mft_lcn() const { return load_le64(&m_raw[48]); }
  uint64_t ntfs_mftmirr_lcn() const { return load_le64(&m_raw[56]); }
  int8_t ntfs_clusters_per_record() const { return static_cast<int8_t>(m_raw[64]); }
  int8_t ntfs_clusters_per_index() const { return static_cast<int8_t>(m_raw[68]); }
  uint64_t ntfs_serial() const { return load_le64(&m_raw[72]); }
  uint32_t ntfs_checksum() const { return load_le32(&m_raw[80]); }
  // exFAT
  uint64_t exfat_partition_offset() const { return load_le64(&m_raw[64]); }
  uint64_t exfat_volume_length() const { return load_le64(&m_raw[72]); }
  uint32_t exfat_fat_offset_sectors() const { return load_le32(&m_raw[80]); }
  uint32_t exfat_fat_length() const { return load_le32(&m_raw[84]); }
  uint32_t exfat_heap_offset_sectors() const { return load_le32(&m_raw[88]); }
  uint32_t exfat_cluster_count() const { return load_le32(&m_raw[92]); }
  uint32_t exfat_root_cluster() const { return load_le32(&m_raw[96]); }
  uint32_t exfat_serial() const { return load_le32(&m_raw[100]); }
  uint8_t exfat_sector_shift() const { return m_raw[108]; }
  uint8_t exfat_cluster_shift() const { return m_raw[109]; }
};

// The first min(length, 512) bytes; the rest of the block stays zero.
boot_sector boot_sector_from(const uint8_t* bytes, size_t length);

// A 32-byte FAT directory entry.
struct fat_dir_entry {
  std::array<uint8_t, 32> m_raw{};
};

// Offsets inside a volume of the structures looked for behind a boot record
// without a known OEM id.
inline constexpr size_t ext_superblock_at = 1024;
inline constexpr size_t ext_magic_at = 1080;  // superblock offset 56
inline constexpr uint16_t ext_magic = 0xEF53;
inline constexpr size_t hfs_header_at = 1024;
inline constexpr uint16_t hfsplus_signature = 0x2B48;  // "H+"
inline constexpr uint16_t hfsx_signature = 0x5848;     // "HX"

// MFT file reference: entry number (48 bits) and sequence number.
struct mft_ref {
  uint32_t m_entry_low = 0;
  std::array<uint8_t, 2> m_entry_high{};  // low byte first
  uint16_t m_sequence = 0;

  uint64_t entry_number() const {
    return m_entry_low | (uint64_t{m_entry_high[0]} << 32) | (uint64_t{m_entry_high[1]} << 40);
  }
};
void set_mft_ref_parts(mft_ref& ref, uint32_t entry_low, uint16_t entry_high, uint16_t sequence);

// ---------------------------------------------------------------------------
// One partition, volume, partitioning structure or gap of a medium.
// ---------------------------------------------------------------------------

struct partition_entry {
  uint64_t m_start = 0;  // first sector
  uint64_t m_count = 0;  // sectors
  // MBR type byte; 0xEE for an unrecognised GPT volume; bit 15 marks a guess.
  uint16_t m_type = 0;
  int32_t m_sectors_per_cluster = 0;
  uint32_t m_sector_size = 512;
  std::vector<uint8_t> m_sector_copy;
  uint32_t m_serial = 0;
  uint8_t m_identified = 0;
  uint8_t m_gpt = 0;
  guid m_type_guid;
  guid m_unique_guid;
  std::string m_description;  // GPT name, structure name or "unalloc"
  std::string m_type_name;    // file-system or structure name
  std::string m_text3;
  std::string m_volume_name;
  std::string m_text5;
  std::string m_volume_letter;  // drive letter, or ext last-mounted path
  std::string m_text7;
  int32_t m_disk_number = -1;
  uint64_t m_flags = 0;        // GPT attributes (all 64 bits)
  uint16_t m_fat32_flags = 0;  // a FAT32 volume's extended flags (boot sector byte 40)
  // Some of its sectors lie past the end of the medium (an image cut short):
  // start and count are the table's, and the volume is identified only when
  // its first sectors could be read.
  uint8_t m_past_end = 0;

  partition_entry() = default;
  partition_entry(uint64_t start, uint64_t count, uint16_t type, uint32_t sector_size = 512)
      : m_start(start), m_count(count), m_type(type), m_sector_size(sector_size) {}
};

using partition_list = std::deque<partition_entry>;

// ---------------------------------------------------------------------------
// Geometry of a boot record
// ---------------------------------------------------------------------------

// Bytes per sector when it is a power of two from 512 to 4096, else 0.
uint32_t valid_sector_size(uint32_t bytes);

// NTFS sectors per cluster: 0x01 to 0x80 are a count, 0xF4 to 0xFF mean
// 2^(256 - b) sectors; any other byte is invalid (0).
uint32_t ntfs_sectors_per_cluster(uint8_t byte);
// Cluster bytes; 0 unless the sector size is valid and the cluster at most 2 MiB.
uint32_t ntfs_cluster_size(const boot_sector& bs);
// A negative byte n means 2^-n bytes, a positive one n clusters; 0 unless the
// result lies between 256 and 65536 bytes.
uint32_t ntfs_record_size_from_byte(int8_t value, uint32_t cluster_size);
uint32_t ntfs_mft_record_size(const boot_sector& bs);
uint32_t ntfs_index_block_size(const boot_sector& bs);

uint32_t fat_cluster_size(const boot_sector& bs);
uint64_t fat_volume_bytes(const boot_sector& bs);
uint64_t fat_first_fat_offset(const boot_sector& bs);
uint64_t fat32_fat_bytes(const boot_sector& bs);
uint64_t fat16_fat_bytes(const boot_sector& bs);
uint64_t fat32_second_fat_offset(const boot_sector& bs);
uint64_t fat16_second_fat_offset(const boot_sector& bs);
uint64_t fat16_data_offset(const boot_sector& bs);
uint64_t fat32_data_offset(const boot_sector& bs);
// Where cluster 0 would lie (data clusters count from 2); negative when that
// is before the volume.
int64_t fat32_cluster_zero_offset(const boot_sector& bs);
// 0 for a cluster size of 0.
uint64_t fat32_cluster_count(const boot_sector& bs);
// The FAT12/16 counterparts: where cluster 0 would lie, and the cluster
// numbers of the volume lie below fat16_highest_cluster.
int64_t fat16_data_start(const boot_sector& bs);
// The sector count: the 16-bit field when it is not 0 (small volumes), else
// the 32-bit one.
uint64_t fat_total_sectors(const boot_sector& bs);
// The width of a FAT volume's table entries: 32 for a FAT32 boot sector
// (no 16-bit sectors-per-FAT), else 12 below 4085 data clusters and 16 from
// there, the count alone deciding; 0 without a cluster size.
inline constexpr uint64_t fat12_max_clusters = 4085;
uint32_t fat_entry_bits(const boot_sector& bs);
uint64_t fat16_highest_cluster(const boot_sector& bs);

// exFAT sizes from the shift bytes: sectors 512 to 4096, clusters at most
// 32 MiB; 0 when out of range.
uint32_t exfat_sector_size(const boot_sector& bs);
uint32_t exfat_sectors_per_cluster(const boot_sector& bs);
uint64_t exfat_fat_offset(const boot_sector& bs, uint64_t base);
uint64_t exfat_fat_bytes(const boot_sector& bs);
uint64_t exfat_heap_offset(const boot_sector& bs, uint64_t base);
uint64_t exfat_heap_start(const boot_sector& bs);

uint64_t offset_plus_12k(uint64_t base);
// Rounds up; a divisor of 0 gives 0.
uint64_t ceil_div_u64(uint64_t value, uint32_t divisor);
uint64_t zero_value();

// ---------------------------------------------------------------------------
// Partition-type classes (the type byte, or the byte at offset 4 of an entry)
// ---------------------------------------------------------------------------

bool is_fat12_type(uint8_t type);
bool is_efi_system_type(uint8_t type);
bool is_fat32_type(uint8_t type);
bool is_ntfs_type(uint8_t type);
bool is_apple_type(uint8_t type);
bool is_hfs_type(uint8_t type);
bool is_vmware_type(uint8_t type);
bool is_linux_type(uint8_t type);
bool is_extended_type(uint8_t type);
bool is_fat12_type(const mbr_entry& e);
bool is_fat32_type(const mbr_entry& e);
bool is_ntfs_type(const mbr_entry& e);
bool is_apple_type(const mbr_entry& e);
bool is_hfs_type(const mbr_entry& e);
bool is_vmware_type(const mbr_entry& e);
bool is_linux_type(const mbr_entry& e);
bool is_extended_type(const mbr_entry& e);

// ---------------------------------------------------------------------------
// Signatures and hashes
// ---------------------------------------------------------------------------

// The 16-bit value at p (two readable bytes) is "H+" or "HX"; "HX" only.
bool is_hfsplus_signature(const uint8_t* p);
bool is_hfsx_signature(const uint8_t* p);
// "NTFS" and four blanks at byte 3. Without force at least 12 bytes are
// asked for; with it the 11 bytes that hold the id are enough.
bool has_ntfs_oem_id(const uint8_t* bytes, size_t length, bool force);
bool vector_has_ntfs_oem_id(const std::vector<uint8_t>& bytes);

// h = 314159, then h = h * 37 + (signed byte) per byte, in 32 bits.
uint64_t string_hash37(const uint8_t* bytes, size_t count);
// The same value, eight bytes per step.
uint64_t string_hash37_blocked(const uint8_t* bytes, size_t count);

// ---------------------------------------------------------------------------
// Initialisers and small tests
// ---------------------------------------------------------------------------

bool is_zero_guid(const uint8_t* bytes16);
bool is_nonzero_guid(const uint8_t* bytes16);
bool is_zero_guid(const guid& g);
bool is_nonzero_guid(const guid& g);
std::string init_string_from(const std::string& text);

void gpt_header_init(gpt_header& h);
void gpt_header_clear(gpt_header& h);
void gpt_block_clear(gpt_entry& e);
void vbr_head_init(boot_sector& bs);  // the jump, OEM id and BIOS parameter block
void boot_sector_clear(boot_sector& bs);
void fat32_boot_sector_clear(boot_sector& bs);  // the FAT32 part, bytes 36 to 89
void ntfs_boot_sector_clear(boot_sector& bs);   // the NTFS part, bytes 36 to 83
void exfat_boot_sector_clear(boot_sector& bs);  // the exFAT part, bytes 64 to 111
void mbr_entry_clear(mbr_entry& e);
// Copies a directory entry from a buffer of at least 32 bytes; false otherwise.
bool fat_entry_copy(fat_dir_entry& dst, const uint8_t* src, size_t length);
void fat_entry_clear(fat_dir_entry& e);

}  // namespace vk
