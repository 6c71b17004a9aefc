#include "jumplist/file_drivers.h"

#include <cstdio>
#include <vector>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_file_status.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_report.h"

namespace vk {
namespace {

constexpr uint32_t k_probe_size = 32768;
constexpr uint64_t k_max_image_size = 0xFFFFFFFFull;

// No object, no target path, no creation time and no property store: a
// stream that was missing or not a link.
bool record_is_empty(const lnk_record& r) {
  return r.m_object_droid.empty() && r.m_idlist_path.empty() && r.m_vista_idlist_path.empty() &&
         r.m_local_base_path.empty() && r.m_idlist_times[2] == 0 &&
         (r.m_property_keys.empty() || r.m_lnk_size == 0);
}

std::string hex_name(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace

bool process_jumplist_file(std::ostream& out, const std::string& path, vesk_options& options) {
  options.m_automatic_list = false;
  options.m_custom_list = false;
  if (path.empty()) return false;
  std::vector<uint8_t> probe;
  if (!read_file_capped(probe, path, k_probe_size) || probe.size() < lnk_header_size) return false;
  uint32_t position = 0;
  if (!find_lnk_signature(position, probe.data(), probe.size(), 1)) return false;
  uint32_t mode = 0;
  if (vkportdir::get_file_times(path, options.m_source_size, mode, options.m_source_change_time,
                                options.m_source_modify_time, options.m_source_access_time)) {
    if (is_compound_file(probe.data(), probe.size()))
      options.m_automatic_list = true;
    else if (position < 512)
      options.m_custom_list = true;
  }
  probe = {};
  if (options.m_automatic_list) {
    options.m_carve_mode = false;
    options.m_source_type = "VESKLIST (automatic)";
    std::multimap<int64_t, lnk_record> free_space;
    return process_automatic_jumplist(out, path, options, free_space);
  }
  options.m_carve_mode = true;
  options.m_source_type = options.m_custom_list ? "VESKLIST (custom)" : "LNK signature (carve)";
  return process_custom_jumplist(out, path, options);
}

bool process_automatic_jumplist(std::ostream& out, const std::string& path,
                                vesk_options& options,
                                std::multimap<int64_t, lnk_record>& free_space_records) {
  free_space_records.clear();
  options.m_records.clear();
  if (path.empty()) return false;
  uint64_t size = 0, change = 0, modify = 0, access = 0;
  uint32_t mode = 0;
  if (!vkportdir::get_file_times(path, size, mode, change, modify, access) ||
      size >= k_max_image_size)
    return false;
  std::vector<uint8_t> image;
  if (!read_file_capped(image, path, 0xFFFFFFFFu)) return false;
  const size_t probe = image.size() < k_probe_size ? image.size() : k_probe_size;
  uint32_t position = 0;
  if (!find_lnk_signature(position, image.data(), probe, 512) ||
      !is_compound_file(image.data(), probe))
    return false;
  options.m_source_size = image.size();

  compound_file_reader reader;
  if (!parse_compound_image(&reader, image.data(), image.size())) return false;
  std::vector<uint8_t> destlist;
  uint32_t dir_entry = 0;
  uint64_t first_offset = 0;
  if (!read_stream(reader, destlist, dir_entry, first_offset, "destlist", image.data(),
                   image.size()) ||
      destlist.size() < destlist_header_size)
    return false;
  uint32_t version = 0;
  std::vector<destlist_entry> entries;
  if (!load_destlist_entries(destlist.data(), destlist.size(), version, entries)) return false;

  int64_t position_key = 1;
  std::vector<uint8_t> stream;
  lnk_record record;
  for (const destlist_entry& entry : entries) {
    reset_lnk_record(record);
    const bool found = read_stream(reader, stream, dir_entry, first_offset,
                                   hex_name(entry.m_entry_num), image.data(), image.size());
    if (found && is_lnk_header(stream.data(), stream.size())) {
      if (!parse_lnk(record, stream.data(), stream.size(), options, false, 0,
                     nullptr))
        reset_lnk_record(record);
    }
    record.m_file_offset = found ? first_offset : 0;
    record.m_entry_num = entry.m_entry_num;
    record.m_mru_time = entry.m_mru_time;
    record.m_has_access_count = entry.m_has_access_count;
    record.m_access_count = entry.m_access_count;
    record.m_netbios_name = entry.m_netbios_name;
    record.m_destlist_path = entry.m_path;
    record.m_checksum = entry.m_checksum;
    record.m_destlist_droids = entry.m_droids;
    record.m_mru_position = static_cast<int32_t>(position_key);
    if (record.m_lnk_size == 0 && found) record.m_lnk_size = static_cast<uint32_t>(stream.size());
    record.m_source_type = options.m_source_type;
    if (record_is_empty(record)) {
      record.m_empty = 1;
      continue;
    }
    options.m_records.emplace(position_key++, record);
  }

  for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it)
    report_record(out, it->second, options);
  for (auto& [offset, free_record] : free_space_records) report_record(out, free_record, options);
  options.m_records.clear();
  return true;
}

bool process_custom_jumplist(std::ostream&, const std::string& path, vesk_options& options) {
  options.m_records.clear();
  if (path.empty()) return false;
  std::fprintf(stderr, "%s: %s jump lists are not handled yet\n", path.c_str(),
               options.m_custom_list ? "custom" : "carved");
  return false;
}

}  // namespace vk
