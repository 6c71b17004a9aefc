// One parsed shell link with its jump-list context: the unit that the
// drivers, the carver, the LNK parser and the report pass around. A plain
// value: copies are deep and independent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"
#include "jumplist/idlist_segment.h"
#include "shell/shell_item.h"

namespace vk {

inline constexpr size_t lnk_header_size = 76;  // lnk_layout::header::size

// The 76-byte ShellLinkHeader exactly as stored.
struct lnk_header {
  uint32_t m_lnk_header_size = 0;
  std::array<uint8_t, 16> m_lnk_clsid{};
  uint32_t m_lnk_flags = 0;
  uint32_t m_file_attributes = 0;
  uint64_t m_create_time = 0;
  uint64_t m_access_time = 0;
  uint64_t m_write_time = 0;
  uint32_t m_file_size = 0;
  int32_t m_icon_index = 0;
  uint32_t m_show_cmd = 0;
  uint16_t m_hotkey = 0;
  uint16_t m_reserved1 = 0;
  uint32_t m_reserved2 = 0;
  uint32_t m_reserved3 = 0;
};

// Decodes the 76 bytes at p (the caller has checked they are there).
lnk_header load_lnk_header(const uint8_t* p);

// The fields with their empty values. Offsets count from the first byte of
// the LNK data handed to the parser; 0 means "not found".
struct lnk_record_fields {
  // Context, set by the drivers and the carver.
  uint64_t m_file_offset = 0;
  std::string m_source_name;
  std::string m_source_type;
  std::string m_source_alt_label;
  uint64_t m_entry_num = 0;
  uint64_t m_mru_time = 0;
  int32_t m_mru_position = 0;
  std::string m_netbios_name;
  std::string m_destlist_path;
  uint64_t m_checksum = 0;
  uint32_t m_lnk_size = 0;
  uint8_t m_has_access_count = 0;
  uint32_t m_access_count = 0;
  std::array<guid, 4> m_destlist_droids{};  // volume, object, birth volume, birth object
  uint8_t m_empty = 0;
  uint8_t m_from_free_space = 0;

  // The link itself.
  lnk_header m_header;
  shell_item_list m_idlist_items;
  // A stored record's breakout segments, made from its items as they go.
  std::vector<idlist_segment> m_idlist_segments;
  std::string m_idlist_path;
  std::string m_idlist_extra;
  std::vector<std::string> m_idlist_details;
  std::array<uint64_t, 3> m_idlist_times{};  // modified, accessed, created
  uint64_t m_target_mft_entry = 0;
  uint16_t m_target_mft_seq = 0;
  uint32_t m_volume_id_offset = 0;
  std::string m_volume_label;
  std::string m_volume_serial;
  std::string m_drive_type;
  uint32_t m_net_link_offset = 0;
  std::string m_net_name;
  std::string m_device_name;
  uint32_t m_local_path_offset = 0;
  std::string m_local_base_path;
  uint32_t m_path_suffix_offset = 0;
  std::string m_common_path_suffix;
  uint32_t m_name_offset = 0;
  std::string m_name;
  uint32_t m_relative_path_offset = 0;
  std::string m_relative_path;
  uint32_t m_working_dir_offset = 0;
  std::string m_working_dir;
  uint32_t m_arguments_offset = 0;
  std::string m_arguments;
  uint32_t m_icon_location_offset = 0;
  std::string m_icon_location;

  // Extra-data blocks.
  uint32_t m_environment_offset = 0;
  std::string m_environment_target;
  uint32_t m_console_offset = 0;
  uint32_t m_tracker_offset = 0;
  std::string m_machine_id;
  std::string m_mac_address;
  std::string m_birth_mac_address;
  std::string m_volume_droid;
  std::string m_object_droid;
  std::string m_birth_volume_droid;
  std::string m_birth_object_droid;
  std::vector<uint8_t> m_object_droid_bytes;  // 16 per tracker block met
  uint64_t m_object_droid_time = 0;
  uint64_t m_birth_object_droid_time = 0;
  uint32_t m_console_fe_offset = 0;
  uint32_t m_code_page = 0;
  uint32_t m_special_folder_offset = 0;
  uint32_t m_special_folder_id = 0;
  std::string m_special_folder_name;
  uint32_t m_darwin_offset = 0;
  std::string m_darwin_product;
  std::string m_darwin_feature;
  std::string m_darwin_component;
  uint32_t m_icon_environment_offset = 0;
  std::string m_icon_environment;
  uint32_t m_shim_offset = 0;
  std::string m_shim_layer;
  uint32_t m_property_store_offset = 0;
  std::vector<std::string> m_property_keys;
  std::vector<std::string> m_property_values;
  uint32_t m_property_storage_offset = 0;
  std::string m_property_storage_fmtid;
  uint32_t m_known_folder_offset = 0;
  std::string m_known_folder_id;
  uint32_t m_vista_idlist_offset = 0;
  std::string m_vista_idlist_path;
  std::string m_vista_idlist_extra;
  std::vector<std::string> m_vista_idlist_details;
};

struct lnk_record : lnk_record_fields {
  lnk_record();
};

// Every field back to its empty value except the three context texts
// (m_source_name, m_source_type, m_source_alt_label).
void clear_lnk_record(lnk_record& record) noexcept;
// clear_lnk_record, and the three context texts emptied too.
void reset_lnk_record(lnk_record& record) noexcept;

// Releases what no report form reads from a record about to be stored: its
// shell items (with keep_items the ID-list breakout's segments are made from
// them first, as that is all of them a report prints), the raw
// object-droid bytes, the DestList path, the Darwin and shim texts and the
// format identifier of a storage in the block chain. Every number and every
// other text stays.
void compact_lnk_record(lnk_record& record, bool keep_items) noexcept;

}  // namespace vk
