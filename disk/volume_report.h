// Volumes of a drive or image: the boot-sector readers of a volume at an
// offset, the BitLocker test, the lists of NTFS volumes, the labelled boot
// sector dump, and the partition/volume report, one row per partition of a
// drive record in every form of the record writer.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "disk/fat_ext.h"
#include "disk/partition_table.h"
#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"

namespace vk {

class cmd_params;

// One row per partition of the drive (or one row for a drive without any),
// the header first while the settings want one. With sectors the range
// columns count sectors, else bytes.
void report_volumes(const drive_stats& d, std::ostream& out, cmd_params& settings, bool sectors);

// The 512 bytes at offset, and whether they are a sound boot sector of the
// kind: exFAT within the shift limits; NTFS with its OEM id "NTFS    ";
// "FAT16" at 54; "FAT32" at 82. The block is cleared first; a read that
// does not deliver the whole sector is reported on standard error.
bool read_exfat_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset);
bool read_ntfs_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset);
bool read_fat16_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset);
bool read_fat32_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset);

// "-FVE-FS-" at byte 3 of the volume at offset.
bool is_bitlocker_volume(RAW_DISK_IO& disk, uint64_t offset);

// A snapshot collection cannot be opened here: false, with a message on out
// for a non-empty collection.
bool open_snapshot_set(std::ostream& out, const std::vector<std::wstring>& snapshots,
                       std::vector<uint64_t>& offsets, uint8_t& found, bool accept_partial);
bool open_image_and_select_ntfs(std::ostream& out, const std::wstring& path, uint64_t& offset,
                                uint8_t& found, bool accept_partial);

// Byte offsets of the NTFS volumes of an image or a drive, added to the
// output; true when any was added.
bool list_image_ntfs_volumes(const std::string& path, std::vector<uint64_t>& offsets);
bool list_image_ntfs_volumes_w(const std::wstring& path, std::vector<uint64_t>& offsets);
bool list_drive_ntfs_volumes(uint32_t drive, std::vector<uint64_t>& offsets);
bool list_drive_ntfs_offsets(std::set<uint64_t>& offsets, uint32_t drive);

void dump_boot_sector(const boot_sector& bs, std::ostream& out);
bool dump_bpb_36(std::ostream& out, const std::array<uint8_t, bpb_head_size>& block);
bool dump_bpb_vector(std::ostream& out, const std::vector<uint8_t>& bytes);

// "yyyy-mm-dd hh:mm:ss" of a DOS date and time taken as local time; empty
// (both parts too) when they make no valid time.
std::string dos_date_time_text(std::string& date, std::string& time_text, uint16_t dos_date,
                               uint16_t dos_time);

// Directory and name of a FAT entry's path; a directory entry (unless raw)
// is its own directory with name ".". False for an empty path.
bool split_entry_path(const fat_file_entry& entry, std::string& dir, std::string& name, bool raw);

// One volume of a disk, as the volume lines list it.
struct disk_volume_entry {
  uint32_t m_volume_number = 0;
  uint64_t m_byte_offset = 0;
  uint64_t m_byte_count = 0;
  uint32_t m_disk_signature = 0;
  uint16_t m_type = 0;
  guid m_disk_guid;
  guid m_volume_guid;
};

// The first four volumes with bytes, joined by ";", numbers in the
// stream's base (hexadecimal with "0x", else decimal); with guid_form the
// disk GUID first and each volume's GUID in place of the signature. True
// when anything was written.
bool dump_disk_volumes(std::ostream& out, const std::vector<disk_volume_entry>& volumes,
                       bool guid_form);

}  // namespace vk
