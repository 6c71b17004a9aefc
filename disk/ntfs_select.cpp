#include "disk/ntfs_select.h"

#include <algorithm>
#include <optional>

#include "disk/partition_table.h"
#include "disk/volume_boot.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

std::string hex(uint64_t v) {
  return hex_number_text(v, true, 1).substr(2);
}

void out_of_bounds(std::ostream& out, uint64_t at) {
  out << "volume offset 0x" << hex(at) << " is not within image bounds\n";
}

bool byte_offset(const partition_entry& r, uint64_t& at) {
  return checked_mul(r.m_start, uint64_t{r.m_sector_size}, at);
}

// Accepts the record at offset when it is NTFS; otherwise lists every record
// and proposes the last NTFS one.
bool choose_from_list(std::ostream& out, const partition_list& list, uint64_t size, uint8_t& found,
                      uint64_t& offset, bool accept_partial, bool buffer_wording) {
  if (list.empty()) {
    out << "couldn't find any partitions on disk.\n";
    return false;
  }
  std::optional<uint64_t> candidate;
  const partition_entry* match = nullptr;
  for (const auto& r : list) {
    uint64_t at = 0;
    if (!byte_offset(r, at)) continue;
    if (!match && at == offset) {
      match = &r;
      if (is_ntfs_record(r)) break;
      continue;  // an NTFS partition further on is still worth proposing
    }
    if (!is_ntfs_record(r)) continue;
    found = 1;
    candidate = at;
    if (size < at) out_of_bounds(out, at);
  }
  if (match) {
    const std::string name = partition_type_name(match->m_type);
    if (is_ntfs_record(*match)) {
      found = 1;
      uint64_t end_sector = 0, end = 0;
      const bool whole = checked_add(match->m_start, match->m_count, end_sector) &&
                         checked_mul(end_sector, uint64_t{match->m_sector_size}, end) &&
                         end <= size;
      if (!whole && !accept_partial) {
        out << "volume offset 0x" << hex(offset)
            << " is a NTFS partition, however image size does not encapsulate entire volume\n";
        return false;
      }
      return true;
    }
    out << "volume offset selected 0x" << hex(offset) << " is not a NTFS partition, but "
        << (buffer_wording ? "a " + name : "[" + name + "]") << "\n";
  }
  out << "\n";
  for (const auto& r : list) {
    uint64_t at = 0;
    if (!byte_offset(r, at)) continue;
    out << "volume offset [ 0x" << hex(at) << " ] : " << partition_type_name(r.m_type) << "\n";
    offset = at;
  }
  out << "\n";
  if (!candidate) {
    out << "prob detecting ntfs partition\n";
    return false;
  }
  offset = *candidate;
  out << "use option [-offset 0x" << hex(*candidate) << "]\n";
  return false;
}

}  // namespace

bool select_ntfs_volume(std::ostream& out, uint8_t& found, uint64_t& offset, RAW_DISK_IO& disk,
                        bool accept_partial) {
  found = 0;
  if (!disk.is_open()) return false;
  const uint64_t size = disk.size();
  if (size < offset) {
    out_of_bounds(out, offset);
    return false;
  }
  partition_list list;
  if (!scan_partitions(disk, list, false, false)) {
    if (is_ntfs_at(disk, 0)) {
      offset = 0;
      found = 1;
      return true;
    }
    if (!scan_partitions(disk, list, true, false)) {
      out << "couldn't find any partitions on disk\n";
      return false;
    }
    out << "disk is corrupted, partition info questionable\n";
  }
  return choose_from_list(out, list, size, found, offset, accept_partial, false);
}

bool select_ntfs_volume_in_buffer(std::ostream& out, const uint8_t* image, uint64_t length,
                                  uint64_t& offset, uint8_t& found, bool accept_partial) {
  found = 0;
  if (!image || length == 0) return false;
  if (length < offset) {
    out_of_bounds(out, offset);
    return false;
  }
  partition_list list;
  if (!scan_partitions_buffer(image, length, list, false, false)) {
    if (length >= 12 &&
        has_ntfs_oem_id(image, static_cast<size_t>(std::min<uint64_t>(length, 512)), false)) {
      offset = 0;
      found = 1;
      return true;
    }
    if (!scan_partitions_buffer(image, length, list, true, false)) {
      out << "couldn't find any partitions on disk \n";
      return false;
    }
    out << "image corrupted, partition info questionable\n";
  }
  return choose_from_list(out, list, length, found, offset, accept_partial, true);
}

bool select_ntfs_volume_in_image(std::ostream& out, const std::wstring& path, uint64_t& offset,
                                 uint8_t& found, bool accept_partial) {
  found = 0;
  if (path.empty()) return false;
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  if (!disk.is_open()) {
    out << "invalid image: " << to_utf8(path) << "\n";
    return false;
  }
  return select_ntfs_volume(out, found, offset, disk, accept_partial);
}

bool select_ntfs_volume_in_image_utf8(std::ostream& out, const std::string& path, uint64_t& offset,
                                      uint8_t& found, bool accept_partial) {
  found = 0;
  if (path.empty()) return false;
  const std::wstring wide = from_utf8(path);
  if (wide.empty()) {
    out << "invalid image: " << path << "\n";
    return false;
  }
  return select_ntfs_volume_in_image(out, wide, offset, found, accept_partial);
}

bool select_ntfs_volume_in_snapshots(std::ostream& out, const std::vector<std::wstring>& snapshots,
                                     uint64_t& offset, uint8_t& found, bool accept_partial) {
  found = 0;
  if (snapshots.empty()) return false;
  RAW_DISK_IO disk(snapshots, false);
  if (!disk.is_open()) {
    out << "invalid disk collection of snaps \n";
    return false;
  }
  return select_ntfs_volume(out, found, offset, disk, accept_partial);
}

bool select_ntfs_volume_in_snapshots_utf8(std::ostream& out,
                                          const std::vector<std::string>& snapshots,
                                          uint64_t& offset, uint8_t& found, bool accept_partial) {
  found = 0;
  if (snapshots.empty()) return false;
  std::vector<std::wstring> wide;
  for (const auto& s : snapshots) wide.push_back(from_utf8(s));
  return select_ntfs_volume_in_snapshots(out, wide, offset, found, accept_partial);
}

bool collect_volumes(std::ostream& out, uint8_t& found, std::map<uint64_t, std::string>& volumes,
                     RAW_DISK_IO& disk) {
  volumes.clear();
  found = 0;
  if (!disk.is_open()) return false;
  const uint64_t size = disk.size();
  partition_list list;
  if (!scan_partitions(disk, list, false, false)) {
    if (is_ntfs_at(disk, 0)) {
      volumes.emplace(0, "ntfs");
      found = 1;
      return true;
    }
    if (!scan_partitions(disk, list, true, false)) {
      out << "couldn't find any partitions on disk\n";
      return false;
    }
    out << "disk is corrupted, partition info questionable\n";
  }
  if (list.empty()) {
    out << "couldn't find any partitions on disk.\n";
    return false;
  }
  std::optional<uint64_t> candidate;
  for (const auto& r : list) {
    uint64_t at = 0;
    if (!is_ntfs_record(r) || !byte_offset(r, at)) continue;
    found = 1;
    volumes.emplace(at, partition_type_name(r.m_type));
    candidate = at;
    if (size < at) out_of_bounds(out, at);
  }
  out << "\n";
  for (const auto& r : list) {
    uint64_t at = 0;
    if (!byte_offset(r, at)) continue;
    volumes.emplace(at, partition_type_name(r.m_type));
    out << "volume offset [ 0x" << hex(at) << " ] : " << partition_type_name(r.m_type) << "\n";
  }
  out << "\n";
  if (candidate) {
    volumes.emplace(*candidate, std::string());
    out << "use option [-offset 0x" << hex(*candidate) << "]\n";
  } else {
    out << "prob detecting ntfs partition\n";
  }
  return found != 0;
}

}  // namespace vk
