// Which byte offset of a disk image holds the NTFS volume to read. A named
// offset is accepted when it starts an NTFS partition the image holds;
// otherwise the partitions found are listed and the offset to use next time
// is proposed. The messages go to the stream the caller gives.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "disk/raw_disk_io.h"

namespace vk {

// True when offset now designates an NTFS volume the image holds (wholly,
// unless accept_partial). found tells whether any NTFS partition was seen;
// after false, offset holds the proposed candidate when there is one.
bool select_ntfs_volume(std::ostream& out, uint8_t& found, uint64_t& offset, RAW_DISK_IO& disk,
                        bool accept_partial);
bool select_ntfs_volume_in_image(std::ostream& out, const std::wstring& path, uint64_t& offset,
                                 uint8_t& found, bool accept_partial);
bool select_ntfs_volume_in_image_utf8(std::ostream& out, const std::string& path, uint64_t& offset,
                                      uint8_t& found, bool accept_partial);
bool select_ntfs_volume_in_snapshots(std::ostream& out, const std::vector<std::wstring>& snapshots,
                                     uint64_t& offset, uint8_t& found, bool accept_partial);
bool select_ntfs_volume_in_snapshots_utf8(std::ostream& out,
                                          const std::vector<std::string>& snapshots,
                                          uint64_t& offset, uint8_t& found, bool accept_partial);
// The same selection over an image held in memory.
bool select_ntfs_volume_in_buffer(std::ostream& out, const uint8_t* image, uint64_t length,
                                  uint64_t& offset, uint8_t& found, bool accept_partial);

// Byte offset -> type name of every partition, the NTFS candidate last
// (with an empty name). Returns the found flag.
bool collect_volumes(std::ostream& out, uint8_t& found, std::map<uint64_t, std::string>& volumes,
                     RAW_DISK_IO& disk);

}  // namespace vk
