// The drives of the machine as drive_stats records: enumeration (by number,
// by "sd" letter, by "disk" number), the parse of a drive's first sectors
// and the labelled dump of a record.
//
// Every device path is built in device_root(); a drive that does not open
// is skipped without a message. A drive whose partition walk reports a
// sector size other than the drive's (a 4 KiB-sector table in a file that
// reports 512) keeps the walk's sector size.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "disk/partition_table.h"

namespace vk {

class cmd_params;

using drive_stats_array = std::vector<drive_stats>;

inline constexpr uint32_t max_scanned_drives = 20;

// Appends the record of drive number drive ("sd" + letter under the device
// root); search goes to the partition walk. True when the array holds a
// record.
bool scan_drives(drive_stats_array& drives, uint32_t drive, bool search);
// Drive numbers 0 to 19, each with its platform volume names; the array is
// emptied first.
bool scan_drives_windows(drive_stats_array& drives, bool search, bool layout);
// "sd" + 'a' to 't' under the device root, described by fill_drive_stats.
bool scan_linux_drives(drive_stats_array& drives);
bool scan_linux_drives_entry(drive_stats_array& drives, bool unused1, bool unused2);
// Optical drives are not reachable here: nothing is added.
bool scan_optical_drives(drive_stats_array& drives);
// "rdisk" + N, else "disk" + N (N 0 to 19) under the device root.
bool scan_dev_disks(drive_stats_array& drives);

// Sector copy, disk signature and MBR flag from the first sector; with a
// protective entry (or an earlier GPT flag) also the GPT flag and the disk
// GUID of the "EFI PART" header the buffer holds. Without two_sectors a
// buffer of at most 1024 bytes stops after the first sector.
bool parse_mbr_sector(drive_stats& d, const uint8_t* buffer, size_t length, bool two_sectors);

// Opens drive number drive and selects its NTFS volume; a drive that does
// not open is reported on out.
bool open_disk_and_select_ntfs(std::ostream& out, uint32_t drive, uint64_t& offset, uint8_t& found,
                               bool accept_partial);

void dump_drive_stats(const drive_stats& d, std::ostream& out);
void dump_drive_stats_b(const drive_stats& d, std::ostream& out, const cmd_params& settings);
// Words 0 to 3, the u64 of words 4 (low) and 5 (high), word 6, hexadecimal.
void dump_geometry_record(const std::array<uint32_t, 7>& words, std::ostream& out);

}  // namespace vk
