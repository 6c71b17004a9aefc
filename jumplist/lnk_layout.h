// The on-disk layout of shell links (LNK): offsets and sizes of the header,
// the target ID list's size field, LinkInfo with its VolumeID and
// CommonNetworkRelativeLink, StringData items and every extra-data block
// kind. The parser, the structure dumps and the test writer all name fields
// through this header, so that a field is placed in one spot only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vk::lnk_layout {

// ShellLinkHeader, at the link's first byte.
namespace header {
inline constexpr size_t header_size = 0;  // u32, always 76
inline constexpr size_t clsid = 4;        // 16 bytes
inline constexpr size_t clsid_size = 16;
inline constexpr size_t flags = 20;  // u32 LinkFlags
inline constexpr size_t file_attributes = 24;
inline constexpr size_t create_time = 28;  // u64 FILETIME
inline constexpr size_t access_time = 36;
inline constexpr size_t write_time = 44;
inline constexpr size_t file_size = 52;   // u32
inline constexpr size_t icon_index = 56;  // i32
inline constexpr size_t show_cmd = 60;    // u32
inline constexpr size_t hotkey = 64;      // u16
inline constexpr size_t reserved1 = 66;   // u16
inline constexpr size_t reserved2 = 68;   // u32
inline constexpr size_t reserved3 = 72;   // u32
inline constexpr size_t size = 76;
}  // namespace header

// 00021401-0000-0000-C000-000000000046 as stored.
inline constexpr std::array<uint8_t, 16> clsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                  0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// LinkFlags bits that decide which structures follow the header.
namespace flag {
inline constexpr uint32_t has_idlist = 0x01;
inline constexpr uint32_t has_link_info = 0x02;
inline constexpr uint32_t has_name = 0x04;
inline constexpr uint32_t has_relative_path = 0x08;
inline constexpr uint32_t has_working_dir = 0x10;
inline constexpr uint32_t has_arguments = 0x20;
inline constexpr uint32_t has_icon_location = 0x40;
inline constexpr uint32_t is_unicode = 0x80;
// Flags that declare an extra-data block of their own.
inline constexpr uint32_t has_exp_string = 0x200;
inline constexpr uint32_t has_darwin_id = 0x1000;
inline constexpr uint32_t has_exp_icon = 0x4000;
inline constexpr uint32_t has_target_metadata = 0x80000;  // a property store block
}  // namespace flag

// LinkTargetIDList: a u16 IDListSize right after the header, counting the
// items and their 2-byte terminator, then the items.
namespace idlist {
inline constexpr size_t size_field = header::size;  // u16
inline constexpr size_t first_item = size_field + 2;
inline constexpr size_t terminator_size = 2;
}  // namespace idlist

// LinkInfo, from its first byte; every offset counts from there too.
namespace link_info {
inline constexpr size_t size = 0;         // u32 LinkInfoSize
inline constexpr size_t header_size = 4;  // u32, signed in use
inline constexpr size_t flags = 8;
inline constexpr size_t volume_id_offset = 12;
inline constexpr size_t local_base_path_offset = 16;
inline constexpr size_t network_link_offset = 20;
inline constexpr size_t common_path_suffix_offset = 24;
inline constexpr size_t fixed_size = 28;
// A header of 36 bytes or more adds the offsets of the two paths in
// UTF-16, written when the path holds characters the ANSI code page lacks.
inline constexpr size_t local_base_path_offset_unicode = 28;
inline constexpr size_t common_path_suffix_offset_unicode = 32;
inline constexpr size_t long_header_size = 36;
inline constexpr uint32_t flag_volume_and_local_path = 1;
inline constexpr uint32_t flag_network_and_suffix = 2;
}  // namespace link_info

namespace volume_id {
inline constexpr size_t size = 0;  // u32 VolumeIDSize
inline constexpr size_t drive_type = 4;
inline constexpr size_t serial = 8;
inline constexpr size_t label_offset = 12;  // 16: an 8-bit label at 16
inline constexpr size_t label = 16;
inline constexpr size_t fixed_size = 16;
// A Unicode label: label_offset holds 20, the u32 at 16 its offset.
inline constexpr size_t label_offset_unicode = 16;
inline constexpr size_t unicode_label = 20;
inline constexpr uint32_t ansi_label_at = 16;
inline constexpr uint32_t unicode_label_at = 20;
}  // namespace volume_id

namespace network_link {
inline constexpr size_t size = 0;  // u32 CommonNetworkRelativeLinkSize
inline constexpr size_t flags = 4;
inline constexpr size_t net_name_offset = 8;
inline constexpr size_t device_name_offset = 12;
inline constexpr size_t provider_type = 16;
inline constexpr size_t fixed_size = 20;
// A NetNameOffset above the fixed part announces the UTF-16 names' offsets.
inline constexpr size_t net_name_offset_unicode = 20;
inline constexpr size_t device_name_offset_unicode = 24;
inline constexpr uint32_t max_text_offset = 2048;  // a name further on is not read
}  // namespace network_link

// One StringData item: a u16 CountCharacters, then the characters (two
// bytes each in a Unicode link, one otherwise).
namespace string_data {
inline constexpr size_t count = 0;
inline constexpr size_t chars = 2;
}  // namespace string_data

// Every extra-data block begins with its size and signature.
namespace block {
inline constexpr size_t size = 0;            // u32 BlockSize
inline constexpr size_t signature = 4;       // u32
inline constexpr size_t signature_high = 6;  // u16, 0xA000 for every kind
inline constexpr size_t body = 8;
inline constexpr size_t header_size = 8;
inline constexpr uint16_t signature_high_value = 0xA000;
inline constexpr size_t terminal_size = 4;  // the u32 zero after the last block
}  // namespace block

namespace signature {
inline constexpr uint32_t environment = 0xA0000001;
inline constexpr uint32_t console = 0xA0000002;
inline constexpr uint32_t tracker = 0xA0000003;
inline constexpr uint32_t console_fe = 0xA0000004;
inline constexpr uint32_t special_folder = 0xA0000005;
inline constexpr uint32_t darwin = 0xA0000006;
inline constexpr uint32_t icon_environment = 0xA0000007;
inline constexpr uint32_t shim = 0xA0000008;
inline constexpr uint32_t property_store = 0xA0000009;
inline constexpr uint32_t known_folder = 0xA000000B;
inline constexpr uint32_t vista_idlist = 0xA000000C;
}  // namespace signature

// The environment, Darwin and icon-environment blocks: one text twice.
namespace text_block {
inline constexpr size_t ansi = 8;  // 8-bit, NUL-terminated
inline constexpr size_t ansi_size = 260;
inline constexpr size_t wide = 268;  // UTF-16LE, NUL-terminated
inline constexpr size_t wide_size = 520;
inline constexpr uint16_t size = 788;
}  // namespace text_block

namespace console {
inline constexpr uint16_t size = 204;
}

namespace console_fe {
inline constexpr size_t code_page = 8;  // u32
inline constexpr uint16_t size = 12;
}  // namespace console_fe

namespace tracker {
inline constexpr size_t length = 8;       // u32
inline constexpr size_t version = 12;     // u32
inline constexpr size_t machine_id = 16;  // 8-bit NetBIOS name
inline constexpr size_t machine_id_size = 16;
inline constexpr size_t volume_droid = 32;  // 16-byte GUIDs from here on
inline constexpr size_t object_droid = 48;
inline constexpr size_t birth_volume_droid = 64;
inline constexpr size_t birth_object_droid = 80;
inline constexpr size_t droid_size = 16;
inline constexpr size_t droid_node = 10;  // the MAC address: a droid's last six bytes
inline constexpr size_t node_size = 6;
inline constexpr uint16_t size = 96;
}  // namespace tracker

namespace special_folder {
inline constexpr size_t id = 8;       // u32 CSIDL
inline constexpr size_t offset = 12;  // u32, not read
inline constexpr uint16_t min_size = 16;
}  // namespace special_folder

namespace shim {
inline constexpr size_t layer = 8;  // UTF-16LE
inline constexpr size_t max_units = 500;
inline constexpr uint16_t min_size = 136;
}  // namespace shim

namespace property_store {
inline constexpr size_t storages = 8;         // serialized storages, each led by its u32 size
inline constexpr size_t terminator_size = 4;  // a u32 zero after the last storage
inline constexpr uint16_t min_size = 46;
}  // namespace property_store

namespace known_folder {
inline constexpr size_t id = 8;  // 16-byte GUID
inline constexpr size_t offset = 24;
inline constexpr uint16_t min_size = 28;
}  // namespace known_folder

namespace vista_idlist {
inline constexpr size_t items = 8;  // items with their terminator
inline constexpr uint32_t min_size = 8;
}  // namespace vista_idlist

}  // namespace vk::lnk_layout
