// Field-by-field dumps of the raw structures of a shell link (header,
// LinkInfo, VolumeID, CommonNetworkRelativeLink, TrackerDataBlock), for
// examining a link by hand, and their short line and column forms.
//
// Every writer takes the structure's first byte and the bytes available from
// it. A structure that does not fit in them (or whose own size field says it
// is shorter than its fixed fields) is not written at all: the writer returns
// false and leaves the stream untouched. The field dumps also take the file
// offset of the structure; each of their lines begins with the absolute
// position of its field:
//
//   00000014 : m_lnk_flags:                 00000086 -- HasLinkInfo, HasName, IsUnicode
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

namespace vk {

// The 76-byte ShellLinkHeader.
bool dump_lnk_header(std::ostream& out, const uint8_t* header, size_t available,
                     uint64_t file_offset);

// The seven fields of the 28-byte LinkInfo header.
bool dump_link_info(std::ostream& out, const uint8_t* info, size_t available, uint64_t file_offset);
// "LinkInfoFlags:         " and the names of the set flags ("unk" for none).
bool write_link_info_flags(std::ostream& out, const uint8_t* info, size_t available);

// Where the VolumeID and the CommonNetworkRelativeLink of a LinkInfo lie:
// their position from the LinkInfo's first byte and their declared size.
// False when the offset is 0 or the structure does not lie whole inside the
// LinkInfo (its declared size, cut to the bytes available).
bool link_info_volume_id(const uint8_t* info, size_t available, size_t& at, size_t& size);
bool link_info_network_link(const uint8_t* info, size_t available, size_t& at, size_t& size);

// VolumeID: the field dump (drive types named " [fixed]" and so on),
// "DriveType:", "volume serial num:" and "volume label:" lines, and the
// columns "<drive type>, <serial>, <label or ->, ".
bool dump_volume_id(std::ostream& out, const uint8_t* volume, size_t available,
                    uint64_t file_offset);
bool write_volume_id_lines(std::ostream& out, const uint8_t* volume, size_t available);
bool write_volume_id_columns(std::ostream& out, const uint8_t* volume, size_t available);

// CommonNetworkRelativeLink: the field dump with the net and device names,
// "network link:" and "device name:" lines (empty names left out), and the
// column "<share name>\, " ("-, " without one).
bool dump_network_link(std::ostream& out, const uint8_t* link, size_t available,
                       uint64_t file_offset);
bool write_network_link_lines(std::ostream& out, const uint8_t* link, size_t available);
bool write_network_link_column(std::ostream& out, const uint8_t* link, size_t available);

// TrackerDataBlock, from its BlockSize field (96 bytes): the field dump,
// the machine id and droid lines (birth droids only where they differ), and
// the columns "<machine id>, <volume>, <object>, <MAC>, " ("-" for each
// empty one).
bool dump_tracker_block(std::ostream& out, const uint8_t* block, size_t available,
                        uint64_t file_offset);
bool write_tracker_lines(std::ostream& out, const uint8_t* block, size_t available);
bool write_tracker_columns(std::ostream& out, const uint8_t* block, size_t available);

}  // namespace vk
