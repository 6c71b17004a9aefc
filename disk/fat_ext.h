// File-level structures of FAT12/16/32, exFAT and ext2/3/4 volumes: cluster
// chains through a file allocation table, directory entries with their long
// names, free clusters that still hold data, the exFAT volume flags, and an
// ext inode's data blocks (extent tree or block map).
//
// Every chain walk keeps a set of the clusters it visited and never takes
// more clusters than its table has entries, so a looping or hostile table
// ends; tables are read in bounded pieces and only from inside the medium.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "disk/cluster_runs.h"
#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"
#include "foundation/vk_guid.h"

namespace vk {

// A chain-run table: per chain, its runs as (first cluster, count).
using fat_chain_runs = std::vector<std::vector<std::pair<uint32_t, uint32_t>>>;

// One file of a FAT directory.
struct fat_file_entry {
  uint64_t m_entry_number = 0;
  uint32_t m_size = 0;
  uint64_t m_covered_bytes = 0;  // bytes its cluster runs cover
  cluster_runs m_runs;
  std::string m_name;
  uint64_t m_created = 0;  // FILETIME ticks
  uint64_t m_written = 0;
  uint64_t m_accessed = 0;
  std::vector<uint8_t> m_raw;  // the 32-byte directory entry
  uint8_t m_attributes = 0;
  uint32_t m_flags = 0;  // fat_entry_deleted
  std::string m_text1;
  std::string m_text2;
  std::vector<uint8_t> m_bytes32;
  std::vector<uint8_t> m_bytes20;
  guid m_guid;
  uint32_t m_word1 = 0;
  uint32_t m_word2 = 0;
  uint32_t m_word3 = 0;
};
inline constexpr uint32_t fat_entry_deleted = 0x0008;
void fat_file_entry_clear(fat_file_entry& e);

// The fixed part of an ext superblock as it lies 1024 bytes into the volume.
struct ext_superblock {
  std::array<uint8_t, 1024> m_raw{};
  // A metadata_csum volume whose superblock fails its checksum: said by
  // ext_superblock_from, and nothing of the volume is read through it.
  bool m_checksum_bad = false;

  uint32_t log_block_size() const { return load_le32(&m_raw[24]); }
  uint16_t magic() const { return load_le16(&m_raw[56]); }
  uint16_t inode_size() const { return load_le16(&m_raw[88]); }
  uint32_t incompat_features() const { return load_le32(&m_raw[96]); }
  uint32_t compat_features() const { return load_le32(&m_raw[92]); }
  uint32_t ro_compat_features() const { return load_le32(&m_raw[100]); }
};
inline constexpr uint32_t ext_compat_sparse_super2 = 0x0200;
inline constexpr uint32_t ext_ro_compat_sparse_super = 0x0001;
inline constexpr uint32_t ext_ro_compat_bigalloc = 0x0200;
inline constexpr uint32_t ext_incompat_meta_bg = 0x0010;
inline constexpr uint32_t ext_incompat_64bit = 0x0080;
inline constexpr uint32_t ext_ro_compat_metadata_csum = 0x0400;
inline constexpr uint32_t ext_incompat_csum_seed = 0x2000;
// With metadata_csum, a superblock whose checksum fails is said on
// standard error and marked (m_checksum_bad).
ext_superblock ext_superblock_from(const uint8_t* bytes, size_t length);
bool ext_has_metadata_csum(const ext_superblock& sb);
// The checksum of the superblock's first 1020 bytes, as stored at 1020.
uint32_t ext_superblock_checksum(const ext_superblock& sb);
// The start of every metadata checksum of the volume: s_checksum_seed, or
// the CRC-32C of the volume's UUID.
uint32_t ext_checksum_seed(const ext_superblock& sb);
// The 16-bit checksum of group descriptor group (desc_size bytes).
uint16_t ext_descriptor_checksum(const ext_superblock& sb, uint64_t group, const uint8_t* desc,
                                 size_t desc_size);
// The seed of an inode's own structures (its extent blocks and directory
// blocks): the volume's seed run over the inode number and generation.
uint32_t ext_inode_seed(const ext_superblock& sb, uint64_t number, const uint8_t* inode);
// The inode's checksum (32 bits, or the low 16 when the inode keeps no high
// half), and whether the inode holds the high half.
uint32_t ext_inode_checksum(const ext_superblock& sb, uint64_t number, const uint8_t* inode,
                            size_t size, bool& wide);
// A directory block's checksum where it keeps one: false when the block
// holds neither a leaf's tail nor an index node's, else stored and computed.
bool ext_dir_block_checksums(const uint8_t* block, size_t size, uint32_t inode_seed,
                             uint32_t& stored, uint32_t& computed);
// The largest file the volume holds, in bytes: 2^32 blocks with extents;
// through a block map, what its twelve direct and three indirect levels
// reach, and no more than 2^32 blocks.
uint64_t ext_largest_file(const ext_superblock& sb, bool extents);
// 1024 shifted by the log (up to 64 KiB); 0 beyond.
uint32_t ext_block_size(const ext_superblock& sb);
bool ext_is_ext4(const ext_superblock& sb);

struct ext_inode_record {
  std::vector<uint8_t> m_inode;  // the inode's own size, at most a block
  uint64_t m_number = 0;
  uint8_t m_ext4 = 0;
  uint16_t m_inode_size = 0;
  uint32_t m_block_size = 0;
};

// ---- chains ----
bool fat16_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted);
// 12-bit entries packed two to three bytes; the chain ends at 0xFF7 and above.
bool fat12_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted);
bool fat32_chain(std::vector<uint32_t>& out, uint32_t first, const uint8_t* fat, size_t fat_bytes,
                 uint64_t wanted);
bool fat32_chains(fat_chain_runs& out, const uint8_t* fat, size_t fat_bytes, uint32_t width);
bool fat32_chains_from_table(fat_chain_runs& out, const uint8_t* fat, size_t fat_bytes);
bool fat16_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first, uint64_t size,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset);

// ---- long names and short entries ----
std::string& lfn_name_part(std::string& name, const uint8_t* entry, bool prepend);
std::string lfn_ordinal_text(uint8_t ordinal);
uint8_t vfat_short_name_checksum(const uint8_t* name11);
bool is_lfn_entry(const uint8_t* entry, uint8_t checksum);
uint64_t dos_time_to_filetime(uint16_t date, uint16_t time, uint8_t tens_of_ms);
uint64_t fat_time_to_filetime(uint16_t date, uint16_t time, uint8_t tens_of_ms);
bool is_valid_fat_dir_entry(const uint8_t* entry, bool allow_empty, uint64_t earliest,
                            uint64_t latest, uint64_t highest_cluster);
bool is_valid_fat32_dir_entry(const uint8_t* entry, bool allow_empty, uint64_t earliest,
                              uint64_t latest, uint64_t highest_cluster);
bool is_valid_fat_entry_any(const uint8_t* entry, bool allow_empty);
bool is_plausible_fat_entry(const uint8_t* entry, bool allow_empty);
std::string fat_short_name_text(const uint8_t* entry);

size_t collect_fat_dir_entries(std::vector<fat_dir_entry>& entries, std::vector<uint64_t>& offsets,
                               const boot_sector& bs, const uint8_t* buffer, size_t length,
                               uint64_t earliest, uint64_t latest, bool append, uint64_t base);
// Per file: its name, its raw entries (long ones, then the short one) and
// the offset of its first entry.
size_t read_fat_dir_entries_lfn(std::vector<std::string>& names,
                                std::vector<std::vector<uint8_t>>& entries,
                                std::vector<uint64_t>& offsets, const boot_sector& bs,
                                const uint8_t* buffer, size_t length, uint64_t earliest,
                                uint64_t latest, bool append, uint64_t base);
bool fat_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                       const uint8_t* fat, size_t fat_bytes);
bool fat12_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                         const uint8_t* fat, size_t fat_bytes);
bool fat32_entry_to_file(fat_file_entry& out, const uint8_t* entry, const std::string& name,
                         const uint8_t* fat, size_t fat_bytes);
bool fat_entry_add_cluster(fat_file_entry& e, uint64_t cluster, bool append);

// ---- tables ----
bool read_fat16_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset, uint32_t copy);
bool read_fat32_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset, uint32_t copy);
uint64_t fat16_root_dir_offset(const boot_sector& bs);
// For every free cluster that still holds data, the absolute offset of its
// first non-zero 64-bit word (FAT32).
bool collect_used_free_clusters(const boot_sector& bs, std::vector<uint64_t>& offsets,
                                RAW_DISK_IO& disk, uint64_t volume_offset);

// ---- exFAT ----
uint32_t exfat_cluster_size(const boot_sector& bs);
uint64_t exfat_cluster_offset(const boot_sector& bs, uint64_t cluster);
uint64_t exfat_root_dir_offset(const boot_sector& bs, uint64_t volume_offset);
bool read_exfat_table(const boot_sector& bs, std::vector<uint8_t>& out, RAW_DISK_IO& disk,
                      uint64_t volume_offset);
// With no_fat_chain (the stream entry's flag) the file is contiguous and
// the table is not read; otherwise its chain is followed.
bool exfat_chain_clusters(const boot_sector& bs, std::vector<uint32_t>& out, uint32_t first,
                          uint64_t size, const uint8_t* fat, size_t fat_bytes, bool no_fat_chain);
bool exfat_chain_to_runs(const boot_sector& bs, cluster_runs& runs, uint32_t first, uint64_t size,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset,
                         bool no_fat_chain);

// One file of an exFAT directory: its file entry, stream entry and names.
inline constexpr uint8_t exfat_no_fat_chain = 0x02;  // stream entry flag
struct exfat_file_entry {
  uint64_t m_offset = 0;  // base + position of the file entry
  std::string m_name;
  uint16_t m_attributes = 0;
  uint8_t m_stream_flags = 0;
  uint32_t m_first_cluster = 0;
  uint64_t m_valid_length = 0;
  uint64_t m_data_length = 0;
  bool m_deleted = false;  // the entries' in-use bits are clear
  // The set's SetChecksum does not match its entries, or the set holds
  // fewer entries than it declares (a set changed in place or damaged):
  // listed, said, and its content refused.
  bool m_checksum_bad = false;
};
// The SetChecksum of a set of count 32-byte entries (the file entry's own
// checksum field left out).
uint16_t exfat_set_checksum(const uint8_t* set, size_t count);
// The file sets of a directory buffer (with deleted ones when asked): a
// file entry (0x85), its stream entry (0xC0) right behind it and the name
// entries (0xC1) that follow, the name cut at the stream's name length; up
// to 255 secondaries (vendor entries among them). A set ends at its
// SecondaryCount or its first entry that is not a secondary of its kind,
// whichever comes first, so a raised count swallows no neighbour. A set in
// use that holds fewer secondaries than it declares, no stream entry, or
// whose SetChecksum fails, is listed, marked and said on standard error
// (deleted sets no longer match theirs: their type bytes changed; a deleted
// one without its stream entry is not listed).
size_t read_exfat_dir_entries(std::vector<exfat_file_entry>& out, const uint8_t* buffer,
                              size_t length, uint64_t base, bool deleted);
// The runs carry the valid data length: reads give zeros past it. A set
// whose checksum failed gives no runs.
bool exfat_entry_to_runs(const boot_sector& bs, cluster_runs& runs, const exfat_file_entry& e,
                         const uint8_t* fat, size_t fat_bytes, uint64_t volume_offset);
std::string exfat_volume_flags_text(const boot_sector& bs);

// ---- ext ----
bool ext_inode_is_live(const uint8_t* inode, size_t length);
bool ext_inode_load(ext_inode_record& out, const ext_superblock& sb, const uint8_t* inode,
                    size_t length, uint64_t number);
// An inode whose content is kept inside it (inline data) has no blocks:
// the walk refuses it, and read_ext_inline_data gives its bytes. The
// inode's extents flag chooses between extent tree and block map. A tree
// node or pointer block that cannot be read, is no node, or is met twice
// refuses the file (false, no runs): no part of it is made up. A block met
// twice (an index naming its own block, a loop), a tree node that is no
// node and a block that cannot be read are said on standard error. So are,
// and refused likewise: a size beyond the largest file the volume holds,
// and on a metadata_csum volume an extent block or a folder's block whose
// checksum fails. Symbolic links are walked too when their target lies in
// a block; read_ext_symlink gives the target of either kind. folder (when
// given) receives a folder's bytes, read once with the checksums: no
// second read of its runs is needed.
bool walk_ext_extents(const ext_inode_record& rec, cluster_runs& runs, RAW_DISK_IO& disk,
                      uint64_t volume_offset, const ext_superblock& sb,
                      std::vector<uint8_t>* folder = nullptr);
inline constexpr uint32_t ext_inline_data_flag = 0x10000000;  // i_flags
inline constexpr uint32_t ext_extents_flag = 0x00080000;      // i_flags: an extent tree
bool ext_has_inline_data(const ext_inode_record& rec);
// The content of an inline-data inode: up to 60 bytes in its block area,
// the rest in its "system.data" extended attribute inside the inode. False
// (and nothing) when the inode is not inline or the attribute cannot give
// every byte of the size: never bytes of anything else.
bool read_ext_inline_data(const ext_inode_record& rec, std::vector<uint8_t>& out);
// The target of a symbolic link: in the inode's block area (a fast link,
// under 60 bytes) or in its one block. False (and nothing) for another
// kind of inode or a target that cannot be read whole.
bool read_ext_symlink(const ext_inode_record& rec, RAW_DISK_IO& disk, uint64_t volume_offset,
                      const ext_superblock& sb, std::string& target);
// Whether a block group holds a superblock backup (sparse_super and
// sparse_super2 keep them in some groups only).
bool ext_group_has_superblock(const ext_superblock& sb, uint64_t group);
// Group descriptor bytes: 32, or the superblock's size on a 64-bit volume
// (0 when that size is unsound).
uint32_t ext_descriptor_size(const ext_superblock& sb);
// The block that holds descriptor block index (groups index x descriptors
// per block on): the blocks after the superblock's, or, with meta_bg from
// s_first_meta_bg on, the first block of the meta group's first group
// (after its superblock backup). 0 when it cannot be told.
uint64_t ext_descriptor_block(const ext_superblock& sb, uint64_t index);
// Where an inode lies: through its group's descriptor (see above). False
// for a number beyond the inode count or an inode outside the medium; on a
// metadata_csum volume a descriptor whose checksum fails is said, and its
// inodes are not placed.
bool ext_inode_offset(const ext_superblock& sb, RAW_DISK_IO& disk, uint64_t volume_offset,
                      uint64_t number, uint64_t& offset);
// Finds, reads and loads an inode; on a metadata_csum volume an inode in
// use whose checksum fails is said and refused.
bool ext_read_inode(ext_inode_record& out, const ext_superblock& sb, RAW_DISK_IO& disk,
                    uint64_t volume_offset, uint64_t number);
bool check_ext_inode(const uint8_t* inode, size_t length, std::ostream& out);
// Zeroes the superblock from byte 84 on; the fixed fields before stay.
void ext_superblock_tail_clear(ext_superblock& sb);
std::string unix_time_text(uint32_t seconds);

}  // namespace vk
