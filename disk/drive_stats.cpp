#include "disk/drive_stats.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "cmdline/text_encoders.h"
#include "disk/ntfs_select.h"
#include "disk/platform_volumes.h"
#include "disk/volume_boot.h"
#include "foundation/uni_file_utils.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"

namespace vk {

namespace {

constexpr size_t kLabelWidth = 22;
constexpr size_t kGuidTextLength = 33;
constexpr uint32_t kLargestSector = 16384;
constexpr char kEfiSignature[] = "EFI PART";

bool path_exists(const std::string& path) {
  struct stat st;
  return stat_path_utf8(path, st);
}

std::string sd_path(uint32_t drive) {
  return device_root() + "sd" + static_cast<char>('a' + drive);
}

// A walk whose own records carry another sector size than the drive
// reports (a 4 KiB-sector table in a file) is right about the table.
void keep_walk_sector_size(drive_stats& d) {
  if (d.m_partitions.empty()) return;
  const uint32_t walk = d.m_partitions.front().m_sector_size;
  if (walk && walk != d.m_bytes_per_sector) d.m_bytes_per_sector = walk;
}

bool describe_drive(drive_stats& d, RAW_DISK_IO& disk, uint32_t drive, bool search, bool layout) {
  drive_stats_clear(d);
  d.m_name = "disk";
  d.m_drive_number = static_cast<uint16_t>(drive);
  d.m_size = disk.size();
  d.m_media_type = static_cast<int32_t>(disk.media_type());
  d.m_bytes_per_sector = disk.bytes_per_sector();
  scan_partitions(disk, d.m_partitions, search, layout);
  keep_walk_sector_size(d);
  return read_drive_mbr(d, disk);
}

// The first sector of every partition, read again and kept as its copy.
void copy_first_sectors(drive_stats& d, RAW_DISK_IO& disk) {
  std::vector<uint8_t> buffer(512);
  for (auto& p : d.m_partitions) {
    const uint32_t unit = p.m_sector_size ? p.m_sector_size : 512;
    const uint32_t ss = std::max<uint32_t>(unit, 512);
    if (buffer.size() < ss) buffer.resize(ss);
    uint64_t at = 0;
    uint32_t got = ss;
    if (!checked_mul(p.m_start, uint64_t{unit}, at) || !disk.read_at(buffer.data(), got, at))
      continue;
    if (!p.m_sector_copy.empty())
      identify_volume(p, p.m_sector_copy.data(), p.m_sector_copy.size());
    p.m_sector_copy.assign(buffer.begin(), buffer.begin() + got);
  }
}

// The platform's names of each partition, keyed "<drive>_<start sector>".
void attach_platform_volumes(drive_stats_array& drives) {
  platform_volume_map volumes;
  if (!query_platform_volumes(volumes)) return;
  for (auto& d : drives) {
    for (auto& p : d.m_partitions) {
      const auto it =
          volumes.find(std::to_string(d.m_drive_number) + "_" + std::to_string(p.m_start));
      if (it == volumes.end()) continue;
      const partition_entry& v = it->second;
      p.m_volume_name = v.m_volume_name;
      p.m_text3 = v.m_text3;
      p.m_text5 = v.m_text5;
      p.m_volume_letter = v.m_volume_letter;
      p.m_serial = v.m_serial;
      const std::string& name = p.m_volume_name;
      const size_t brace = name.find('{');
      if (!is_zero_guid(p.m_unique_guid) || name.size() < kGuidTextLength ||
          brace == std::string::npos || brace + 1 >= name.size())
        continue;
      std::vector<uint8_t> bytes;
      if (parse_guid_text(name.substr(brace + 1, name.size() - 1 - (brace + 1)), bytes) &&
          bytes.size() >= 16)
        p.m_unique_guid.set(bytes.data());
    }
  }
}

// A disk opened by path, described by fill_drive_stats.
bool describe_path(drive_stats_array& drives, const std::string& path) {
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  if (!disk.is_open()) return false;
  drive_stats d;
  if (!fill_drive_stats(d, disk, -1, "disk")) return false;
  d.m_gpt = !d.m_partitions.empty() && d.m_partitions.front().m_gpt ? 1 : 0;
  d.m_name = "disk";
  d.m_device_path = path;
  drives.push_back(std::move(d));
  return true;
}

std::string label(const char* text) {
  std::string s = text;
  if (s.size() < kLabelWidth) s.append(kLabelWidth - s.size(), ' ');
  return s;
}

std::string hex_digits(uint64_t value, unsigned width) {
  return hex_number_text(value, true, width).substr(2);
}

}  // namespace

bool scan_drives(drive_stats_array& drives, uint32_t drive, bool search) {
  return guarded([&] {
    if (drive < max_scanned_drives && path_exists(sd_path(drive))) {
      RAW_DISK_IO disk(static_cast<int32_t>(drive), false, false, disk_mode_drive);
      drive_stats d;
      if (disk.is_open() && describe_drive(d, disk, drive, search, true)) {
        copy_first_sectors(d, disk);
        drives.push_back(std::move(d));
      }
    }
    return !drives.empty();
  });
}

bool scan_drives_windows(drive_stats_array& drives, bool search, bool layout) {
  return guarded([&] {
    drives.clear();
    for (uint32_t n = 0; n < max_scanned_drives; ++n) {
      if (!path_exists(sd_path(n))) continue;
      RAW_DISK_IO disk(static_cast<int32_t>(n), false, false, disk_mode_drive);
      drive_stats d;
      if (disk.is_open() && describe_drive(d, disk, n, search, layout))
        drives.push_back(std::move(d));
    }
    if (!drives.empty()) attach_platform_volumes(drives);
    return !drives.empty();
  });
}

bool scan_linux_drives(drive_stats_array& drives) {
  return guarded([&] {
    drives.clear();
    std::vector<std::string> paths;
    for (uint32_t n = 0; n < max_scanned_drives; ++n)
      if (path_exists(sd_path(n))) paths.push_back(sd_path(n));
    for (const auto& path : paths) describe_path(drives, path);
    return !drives.empty();
  });
}

bool scan_linux_drives_entry(drive_stats_array& drives, bool, bool) {
  return scan_linux_drives(drives);
}

bool scan_optical_drives(drive_stats_array& drives) {
  for (uint32_t n = 0; n < max_scanned_drives; ++n) {
    RAW_DISK_IO probe(static_cast<int32_t>(n), false, false, disk_mode_probe);
    if (!probe.is_open()) continue;
  }
  return !drives.empty();
}

bool scan_dev_disks(drive_stats_array& drives) {
  return guarded([&] {
    drives.clear();
    std::vector<std::string> paths;
    for (uint32_t n = 0; n < max_scanned_drives; ++n) {
      const std::string raw = device_root() + "rdisk" + std::to_string(n);
      const std::string plain = device_root() + "disk" + std::to_string(n);
      if (path_exists(raw))
        paths.push_back(raw);
      else if (path_exists(plain))
        paths.push_back(plain);
    }
    for (const auto& path : paths) describe_path(drives, path);
    return !drives.empty();
  });
}

bool parse_mbr_sector(drive_stats& d, const uint8_t* buffer, size_t length, bool two_sectors) {
  // The flag promises a second sector, but only the bytes given are read.
  if (!buffer || length < 512) return false;
  return guarded([&] {
    d.m_sector0.assign(buffer, buffer + 512);
    d.m_disk_signature = load_le32(buffer + mbr_disk_signature_at);
    if (buffer[510] == 0x55 && buffer[511] == 0xAA) d.m_mbr_present = 1;
    if (!two_sectors && length <= 1024) return true;
    bool protective = false;
    for (size_t i = 0; i < 4; ++i)
      protective = protective || buffer[mbr_first_entry + 4 + i * mbr_entry_size] == 0xEE;
    if (protective) d.m_gpt = 1;
    if (!d.m_gpt) return true;
    for (size_t s = 512; s <= kLargestSector; s *= 2) {
      if (length < s + 72) break;
      if (std::memcmp(buffer + s, kEfiSignature, 8) != 0) continue;
      d.m_disk_guid.assign(buffer + s + 56, buffer + s + 72);
      break;
    }
    return true;
  });
}

bool open_disk_and_select_ntfs(std::ostream& out, uint32_t drive, uint64_t& offset, uint8_t& found,
                               bool accept_partial) {
  found = 0;
  RAW_DISK_IO disk(drive < max_scanned_drives ? static_cast<int32_t>(drive) : -1, false, false,
                   disk_mode_drive);
  if (!disk.is_open()) {
    out << "problems accessing physical disk #" << drive << ", aborting \n";
    return false;
  }
  return select_ntfs_volume(out, found, offset, disk, accept_partial);
}

void dump_drive_stats(const drive_stats& d, std::ostream& out) {
  guarded([&] {
    std::ostringstream o;
    o << label("drive type:") << d.m_name << '\n';
    if (d.m_drive_number < 0xFFFF) o << label("drive num:") << d.m_drive_number << '\n';
    o << label("drive size:") << "0x" << hex_digits(d.m_size, 16) << ", [" << d.m_size << "]\n";
    o << label("drive signature:") << hex_digits(d.m_disk_signature >> 16, 2) << "-"
      << hex_digits(d.m_disk_signature & 0xFFFF, 2) << '\n';
    if (d.m_media_type > 0) {
      o << label("media type:");
      print_media_type(o, static_cast<uint32_t>(d.m_media_type), true) << '\n';
    }
    if (!d.m_partitions.empty()) {
      o << label("Available partitions:") << d.m_partitions.size() << '\n';
      // A record without a sector size still lists its partitions in 512s.
      const uint32_t ss = d.m_bytes_per_sector ? d.m_bytes_per_sector : 512;
      for (const auto& p : d.m_partitions) print_partition_line(p, o, ss, false);
    }
    o << label("MBR present:") << (d.m_mbr_present ? "true" : "false") << '\n';
    out << o.str();
  });
}

void dump_drive_stats_b(const drive_stats& d, std::ostream& out, const cmd_params&) {
  dump_drive_stats(d, out);
}

void dump_geometry_record(const std::array<uint32_t, 7>& w, std::ostream& out) {
  guarded([&] {
    const uint64_t wide = (uint64_t{w[5]} << 32) | w[4];
    out << "0x" + hex_digits(w[0], 8) + ", 0x" + hex_digits(w[1], 8) + ", 0x" +
               hex_digits(w[2], 8) + ", 0x" + hex_digits(w[3], 8) + ", 0x" + hex_digits(wide, 16) +
               ", 0x" + hex_digits(w[6], 8) + "\n";
  });
}

}  // namespace vk
