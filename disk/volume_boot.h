// Volume boot records: which file system a volume holds, the boot-record
// and master-boot-record tests, the NTFS probe at a disk offset and the
// labelled dump of a BIOS parameter block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "disk/raw_disk_io.h"
#include "disk/vk_disk_structs.h"

namespace vk {

// Recognises the volume whose first bytes are given and fills the volume
// fields of the record (type word, type name, sector size, sectors per
// cluster, serial, and the count when the record has none). False when
// nothing is recognised; never reads past length. Recognised: exFAT, NTFS,
// BitLocker, FAT32, FAT16, FAT12 (by cluster count), ext (behind a blank or an unknown OEM id) and
// HFS+/HFSX; a blank-OEM ext or HFS volume is named but not "identified".
bool parse_volume_boot_record(partition_entry& record, const uint8_t* bytes, size_t length);
// The same, under the name the partition walks use.
bool identify_volume(partition_entry& record, const uint8_t* bytes, size_t length);

// "EXFA", "MSDO" or "NTFS" at byte 3.
bool is_vbr_oem_id(const uint8_t* sector, size_t length);
// 0xAA55 at 510, no volume OEM id and no FAT boot sector: a master boot
// record.
bool is_mbr_sector(const uint8_t* sector, size_t length);
// A FAT12/16/32 boot sector whatever its OEM id (mkfs.fat writes its own):
// the signature, a sound parameter block and the FAT type text.
bool is_fat_boot_sector(const uint8_t* sector, size_t length);
bool is_fat32_vbr(const uint8_t* sector, size_t length);  // "FAT32" at 82
bool is_fat16_vbr(const uint8_t* sector, size_t length);  // "FAT16" at 54
bool is_exfat_vbr_valid(const boot_sector& bs);
bool is_ntfs_vbr_valid(const boot_sector& bs);

// Reads 36 bytes at offset and tests for the NTFS OEM id.
bool is_ntfs_at(RAW_DISK_IO& disk, uint64_t offset);

// The labelled BIOS parameter block; false, writing nothing, for fewer than
// 36 bytes. The stream's formatting is restored afterwards.
bool dump_bpb(std::ostream& out, const uint8_t* bytes, size_t length);

}  // namespace vk
