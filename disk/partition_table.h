// MBR and GPT partition tables: the ordered list of partitions of a medium
// (optionally with the partitioning structures and the gaps between them),
// the drive record's sector-0 fields, MBR type names, listing lines and the
// MBR field dump.
//
// Every walk is bounded by the medium: an extended chain ends at a boot
// record already read, at one that cannot be read (past the end of a cut
// image) or after 256 logical partitions (the last two said on standard
// error), and a GPT entry array is read only when its header is sound
// (signature, own LBA, header and array CRC-32, entry size a multiple of
// 128 up to 4096, at most 1 MiB inside the medium). A damaged primary GPT
// header gives way to the backup at the last sector; a damaged backup
// beside a sound primary is said too, as is a sound backup whose header
// fields or entries differ from the primary's (the primary stands), and a
// primary and backup both damaged. A second extended entry in the MBR is
// listed and said; only the first one's chain is walked.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"

namespace vk {

class cmd_params;

inline constexpr uint32_t max_logical_partitions = 256;
inline constexpr uint32_t max_gpt_entry_size = 4096;
inline constexpr uint64_t max_gpt_array_bytes = 1u << 20;

// One physical drive or disk image.
struct drive_stats {
  std::string m_name = "<unk>";
  uint16_t m_drive_number = 0xFFFF;
  std::string m_device_path;
  uint64_t m_size = 0;
  int32_t m_media_type = 0;
  uint32_t m_bytes_per_sector = 0;
  partition_list m_partitions;
  std::vector<uint8_t> m_sector0;
  uint32_t m_disk_signature = 0;
  uint8_t m_mbr_present = 0;
  uint8_t m_no_drive = 0;
  uint8_t m_gpt = 0;
  gpt_header m_gpt_header;
  std::vector<uint8_t> m_disk_guid;  // 16 bytes on a GPT disk, else empty
  // Every GPT entry in use, keyed by its byte offset on the disk.
  std::map<uint64_t, std::array<uint8_t, gpt_entry_size>> m_gpt_entries;
};

void drive_stats_init(drive_stats& d);
void drive_stats_clear(drive_stats& d);
void partition_entry_init(partition_entry& p);
void partition_entry_clear(partition_entry& p);

// Whether the library names the type. An MBR entry counts in the walks
// whenever both its type byte and its sector count are non-zero.
bool is_known_mbr_type(uint8_t type);
bool mbr_entry_in_use(const mbr_entry& e);

// Type names; bit 15 (a guessed partition) adds " [guess]"; "unk" when unnamed.
std::string mbr_type_name(uint16_t type);
std::string partition_type_name(uint16_t type);
std::string mbr_entry_type_name(const mbr_entry& e);
// The type name with the GPT name and " (GPT)" for GPT records.
std::string partition_type_text(const partition_entry& p);
// A record is NTFS when it was identified as "ntfs"; an unidentified one
// when its type name says "ntfs".
bool is_ntfs_record(const partition_entry& p);

// The list of the medium's partitions, emptied first. search looks for a
// displaced table when sector 0 holds none; layout adds the structure
// records ("mbr", "protective_mbr", "gpt header", "gpt partition entries")
// and the "unalloc" gaps.
bool scan_partitions(RAW_DISK_IO& disk, partition_list& list, bool search, bool layout);
bool scan_gpt_partitions(RAW_DISK_IO& disk, partition_list& list, bool layout);
// Copies a 128-byte GPT entry into a record; volume bytes of at least 512
// (or none) are identified.
void fill_gpt_entry(partition_entry& p, const uint8_t* entry, const uint8_t* volume,
                    size_t volume_length, uint32_t sector_size);
// The MBR walk over a disk image held in memory.
bool scan_partitions_buffer(const uint8_t* buffer, uint64_t length, partition_list& list,
                            bool search, bool gaps);

// Sector 0 (and on a GPT disk the header and entries) into the drive record.
bool read_drive_mbr(drive_stats& d, RAW_DISK_IO& disk);
// Clears the record and fills it from the open disk.
bool fill_drive_stats(drive_stats& d, RAW_DISK_IO& disk, int32_t drive_number,
                      const std::string& name);

// " - offset|size|type   0x... | 0x... | 0x0007, [... | ... | ntfs or exfat] - sig: 1234-abcd"
void print_partition_line(const partition_entry& p, std::ostream& out, uint32_t sector_size,
                          bool cluster_line);
void print_partition_row(const partition_entry& p, std::ostream& out, cmd_params& settings);

std::ostream& dump_mbr(const master_boot_record& mbr, std::ostream& out);
std::ostream& dump_mbr_entry(const mbr_entry& e, std::ostream& out, uint64_t offset,
                             size_t name_width);

}  // namespace vk
