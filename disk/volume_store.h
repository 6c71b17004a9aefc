// The volume record store: the volumes this machine knows, found by name,
// by number or by drive letter, and the translation of paths written in a
// volume's own terms into paths through which the volume is read here.
//
// A volume record is a partition_entry whose texts carry the names:
//   m_volume_name    the volume name, e.g. "\vesk_volume{vol-1a2b3c4d}"
//   m_text5          the device name, e.g. "\vesk_device\volume3"
//   m_volume_letter  the drive text, e.g. "c:"
//   m_text3          the path the volume's files are reached at here
//   m_serial         the volume number
// The maps hold lower-cased names and indexes into m_volumes; an index
// outside the vector finds nothing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk/partition_table.h"

namespace vk {

// The prefix of a volume name: the volume number is the 8 hexadecimal
// digits after the first '-' behind it.
inline constexpr char volume_name_prefix[] = "\\vesk_volume{";
// The prefix of a device name; the whole path component that holds it is
// the name.
inline constexpr char device_name_prefix[] = "\\vesk_device\\volume";
// The device prefix as written in a path with '/' separators.
inline constexpr char device_path_prefix[] = "/vesk_device/volume";

struct volume_store {
  uint8_t m_indexed = 0;
  std::vector<partition_entry> m_volumes;
  std::map<std::string, uint64_t> m_by_volume_name;
  std::map<std::string, uint64_t> m_by_device_name;
  std::map<std::string, uint64_t> m_by_drive;
  std::map<uint32_t, uint64_t> m_by_number;
};

// A path under a volume name ("<volume name>/dir/file") as the volume's
// path text + "/dir/file". out is emptied first; false when the path holds
// no volume name the store knows.
bool store_translate_volume_path(const volume_store& store, std::string& out,
                                 const std::string& path);
// "c:\dir\file" (environment references expanded) as the path text of the
// volume of drive "c:" + "\dir\file".
bool store_translate_drive_path(const volume_store& store, std::string& out,
                                const std::string& path);
// A path under a volume name or a device name.
bool store_translate_path(const volume_store& store, std::string& out, const std::string& path);
// A path under a device name written with '/' separators.
bool store_translate_path_b(const volume_store& store, std::string& out, const std::string& path);

// string_hash37 of the path (translated when the store can, upper-cased)
// as UTF-16LE code units, plus that of second when it is not empty; 0 for
// an empty path. Indexes the platform's volumes into the store first.
uint32_t store_path_hash(volume_store& store, const std::string& path, const std::string& second);

// Copies each partition's volume name from the platform's volume list;
// that list is empty on this platform, so the result is false.
bool store_attach_volume_names(drive_stats& d);

}  // namespace vk
