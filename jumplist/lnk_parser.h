// The shell-link (LNK) parser: header, LinkTargetIDList, LinkInfo,
// StringData and the ExtraData walk, into one lnk_record. It stops cleanly at
// the first structure that does not fit and never reads outside the bytes it
// was given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "cmdline/cmd_params.h"
#include "foundation/vk_bytes.h"
#include "jumplist/link_scratch.h"
#include "jumplist/lnk_layout.h"
#include "jumplist/lnk_record.h"

namespace vk {

// 00021401-0000-0000-C000-000000000046 as stored.
inline constexpr std::array<uint8_t, 16> lnk_clsid = lnk_layout::clsid;

// LinkFlags bits the parser reads.
inline constexpr uint32_t lnk_has_idlist = lnk_layout::flag::has_idlist;
inline constexpr uint32_t lnk_has_link_info = lnk_layout::flag::has_link_info;
inline constexpr uint32_t lnk_has_name = lnk_layout::flag::has_name;
inline constexpr uint32_t lnk_has_relative_path = lnk_layout::flag::has_relative_path;
inline constexpr uint32_t lnk_has_working_dir = lnk_layout::flag::has_working_dir;
inline constexpr uint32_t lnk_has_arguments = lnk_layout::flag::has_arguments;
inline constexpr uint32_t lnk_has_icon_location = lnk_layout::flag::has_icon_location;
inline constexpr uint32_t lnk_is_unicode = lnk_layout::flag::is_unicode;

// Where parsed links are copied as files, when a caller asks for it.
struct lnk_dump_settings {
  std::string lnk_dump_dir;  // empty: no copies
  uint64_t lnk_dump_count = 0;
};

// HeaderSize 76 and the link CLSID; false for fewer than 20 bytes.
bool is_lnk_header(const uint8_t* p, size_t size);

// Parses the link at data (size bytes available from its first byte; more
// may follow it), reusing what scratch kept from the links before. carved
// is passed to the ID-list walk; file_offset is the link's position in its
// source file. True when the header was accepted and the parse ran to its
// end, m_lnk_size then telling how far it got; false when the data is not a
// link, is too short or declares an ID list running past the data (the
// record may then hold a header copy: callers reset it). The damage met,
// and memory that ran out under the parse (the record then holding less
// than the bytes do), are in the record's sink, m_faults.
bool parse_lnk(lnk_record& record, const uint8_t* data, size_t size, const cmd_params& opts,
               link_scratch& scratch, bool carved, uint64_t file_offset,
               lnk_dump_settings* dump = nullptr);

// Texts of the LinkInfo parts at p, with available bytes from p to the end
// of the data. Every text ends at the end of the data at the latest.
std::string network_net_name(const uint8_t* link, size_t available);
std::string network_device_name(const uint8_t* link, size_t available);
std::string volume_label_text(const uint8_t* volume_id, size_t available);
// "1234-abcd": the serial's bytes from the most significant down.
std::ostream& write_volume_serial(std::ostream& out, uint32_t serial);
std::string volume_serial_text(uint32_t serial);
// The text of the StringData item at p: CountCharacters units of two bytes
// (unicode) or one, up to a NUL; "" when they are not all inside available.
std::string string_data_text(const uint8_t* item, size_t available, bool unicode);

// The same readers over a view that starts at the structure and ends at the
// end of the data.
std::string network_net_name(byte_view link);
std::string network_device_name(byte_view link);
std::string volume_label_text(byte_view volume_id);

}  // namespace vk
