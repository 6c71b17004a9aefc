#include "disk/volume_report.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "cmdline/cmd_params.h"
#include "cmdline/record_writer.h"
#include "cmdline/text_utils/number_hex.h"
#include "disk/field_dump.h"
#include "disk/gpt_type_names.h"
#include "disk/ntfs_select.h"
#include "disk/volume_boot.h"
#include "foundation/vk_checked.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_path.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vk {

namespace {

// ---------------------------------------------------------------------------
// The partition/volume report
// ---------------------------------------------------------------------------

enum report_column : size_t {
  col_drive,
  col_drive_type,
  col_media_type,
  col_type_guid,
  col_disk_sig,
  col_table_type,
  col_start,
  col_end,
  col_count,
  col_vol_guid,
  col_vol_sig,
  col_format,
  col_mount,
  col_label,
  col_description,
  col_total
};

constexpr size_t kDriveColumns = 3;
constexpr uint16_t kMediaRemovable = 11;
constexpr uint16_t kMediaFixed = 12;

struct column_def {
  const char* title;
  uint64_t width;
};

std::vector<column_def> report_columns(bool sectors, bool no_drive) {
  std::vector<column_def> c = {
      {"drive", 11},
      {"drive_type", 10},
      {"media_type", 10},
      {"disk_or_partition_type_guid", 36},
      {"disk_sig", 9},
      {"type", 4},
      {sectors ? "start_sector" : "start_offset", sectors ? 12u : 14u},
      {sectors ? "end_sector" : "end_offset", sectors ? 12u : 18u},
      {sectors ? "num_sectors" : "num_bytes", sectors ? 12u : 14u},
      {"vol_guid", 36},
      {"vol sig", 9},
      {"format", 6},
      {"mnt pt", 6},
      {"vol_label", 9},
      {"description", 1},
  };
  if (no_drive) c.erase(c.begin(), c.begin() + kDriveColumns);
  return c;
}

// The report's columns are the last ones of the settings' list; they are
// appended unless the list already ends with them.
bool has_columns(const cmd_params& s, const std::vector<column_def>& defs) {
  if (s.m_columns.size() < defs.size()) return false;
  const size_t base = s.m_columns.size() - defs.size();
  for (size_t i = 0; i < defs.size(); ++i)
    if (s.m_columns[base + i].m_text != defs[i].title) return false;
  return true;
}

void register_columns(cmd_params& s, const std::vector<column_def>& defs) {
  if (has_columns(s, defs)) return;
  s.m_columns_stamp = 0;
  for (const auto& def : defs) {
    vk_variant_lite column;
    init_column(column, def.title, def.width);
    s.m_columns.push_back(column);
  }
}

// Fills the cells of one row by report column.
class row_filler {
 public:
  row_filler(table_row& row, size_t base, bool no_drive)
      : m_row(row), m_base(base), m_no_drive(no_drive) {}

  void text(report_column c, const std::string& value) {
    const int32_t i = index(c);
    if (i >= 0) set_row_text(m_row, i, value, vt_text, 0);
  }
  void number(report_column c, uint64_t value) {
    const int32_t i = index(c);
    if (i >= 0) set_row_number(m_row, i, value, vt_u32, 0);
  }

 private:
  int32_t index(report_column c) const {
    if (m_no_drive && c < kDriveColumns) return -1;
    const size_t i = m_base + c - (m_no_drive ? kDriveColumns : 0);
    return i < static_cast<size_t>(m_row.m_count) ? static_cast<int32_t>(i) : -1;
  }

  table_row& m_row;
  size_t m_base;
  bool m_no_drive;
};

bool is_zero_bytes(const std::vector<uint8_t>& v) {
  for (uint8_t b : v)
    if (b) return false;
  return true;
}

std::string disk_guid_text(const drive_stats& d) {
  if (d.m_disk_guid.size() != 16 || is_zero_bytes(d.m_disk_guid)) return std::string();
  return guid_text_or_hex(d.m_disk_guid.data(), false);
}

void fill_drive_columns(row_filler& f, const drive_stats& d) {
  if (!d.m_device_path.empty())
    f.text(col_drive, d.m_device_path);
  else if (d.m_drive_number < 0xFFFF)
    f.number(col_drive, d.m_drive_number);
  f.text(col_drive_type, d.m_name);
  f.number(col_media_type, static_cast<uint32_t>(d.m_media_type));
}

// A range as three numbers; "-" for one that cannot be stated (a count of
// 0 has no last unit, a product past 64 bits no value).
struct range_text {
  std::string start, end, count;
};

std::string number_or_dash(bool ok, uint64_t value, bool hex) {
  return ok ? hex_number_text(value, hex, 0) : std::string("-");
}

// Units [first, first + count) of unit bytes each (unit 1 for sectors).
range_text range_of(uint64_t first, uint64_t count, uint64_t unit, bool hex) {
  uint64_t start = 0, bytes = 0, end_unit = 0, end = 0;
  const bool start_ok = checked_mul(first, unit, start);
  const bool count_ok = checked_mul(count, unit, bytes);
  const bool end_ok =
      count != 0 && checked_add(first, count, end_unit) && checked_mul(end_unit, unit, end);
  return {number_or_dash(start_ok, start, hex), number_or_dash(end_ok, end - 1, hex),
          number_or_dash(count_ok, bytes, hex)};
}

std::string table_type(const drive_stats& d) {
  if (d.m_gpt) return "GPT";
  if (d.m_partitions.size() >= 2) return "MBR";
  return d.m_partitions.front().m_identified ? "VBR" : "MBR";
}

bool begins_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string description(const partition_entry& p, const drive_stats& d,
                        const gpt_type_name_map& names, bool hex) {
  std::string text;
  const auto named = names.find(p.m_type_guid);
  if (named != names.end()) {
    text = named->second;
    if (!p.m_type_name.empty()) text += "; " + p.m_type_name;
  } else if (!p.m_description.empty()) {
    text = p.m_description;
  } else if (!p.m_type_name.empty()) {
    text = p.m_type_name;
  } else {
    text = partition_type_text(p);
  }
  if (d.m_media_type == kMediaRemovable) text += "; removable";
  if (d.m_media_type == kMediaFixed) text += "; fixed";
  if (p.m_sectors_per_cluster != 0 && !begins_with(text, "mbr") &&
      !begins_with(text, "protective_mbr")) {
    const uint64_t cluster =
        uint64_t{p.m_sector_size} * static_cast<uint32_t>(p.m_sectors_per_cluster);
    text += "; sector_size: " + hex_number_text(p.m_sector_size, hex, 4) +
            "; cluster_size: " + hex_number_text(cluster, hex, 4);
  }
  return text;
}

void empty_drive_row(row_filler& f, const drive_stats& d, bool sectors, bool hex) {
  f.text(col_type_guid, disk_guid_text(d));
  if (d.m_disk_signature) f.text(col_disk_sig, disk_signature_text(d.m_disk_signature));
  f.text(col_table_type, "-");
  const uint64_t ss = d.m_bytes_per_sector ? d.m_bytes_per_sector : 512;
  const uint64_t total = sectors ? d.m_size / ss : d.m_size;
  const range_text r = range_of(0, total, 1, hex);
  const bool empty = total == 0;
  f.text(col_start, empty ? "-" : r.start);
  f.text(col_end, r.end);
  f.text(col_count, empty ? "-" : r.count);
  for (report_column c : {col_vol_sig, col_format, col_mount, col_label}) f.text(c, "-");
  f.text(col_description, "-- in work --");
}

void partition_row(row_filler& f, const drive_stats& d, size_t i, bool sectors, bool hex,
                   const gpt_type_name_map& names) {
  const partition_entry& p = d.m_partitions[i];
  if (is_nonzero_guid(p.m_type_guid))
    f.text(col_type_guid, guid_text_or_hex(p.m_type_guid.m_bytes, false));
  else
    f.text(col_type_guid, disk_guid_text(d));
  f.text(col_disk_sig, disk_signature_text(d.m_disk_signature));
  f.text(col_table_type, table_type(d));

  const uint64_t unit = sectors ? 1 : (d.m_bytes_per_sector ? d.m_bytes_per_sector : 512);
  uint64_t count = p.m_count;
  bool count_ok = true;
  // Without the drive columns the first row reaches up to the second
  // partition, so that the rows cover the disk without a gap.
  if (d.m_no_drive && i == 0 && d.m_partitions.size() >= 2) {
    const uint64_t next = d.m_partitions[1].m_start;
    count_ok = next >= p.m_start;
    count = count_ok ? next - p.m_start : 0;
  }
  range_text r = range_of(p.m_start, count, unit, hex);
  if (!count_ok) r = {r.start, std::string(1, '-'), std::string(1, '-')};
  f.text(col_start, r.start);
  f.text(col_end, r.end);
  f.text(col_count, r.count);

  if (is_nonzero_guid(p.m_unique_guid)) f.text(col_vol_guid, guid_to_string(p.m_unique_guid));
  if (p.m_serial) f.text(col_vol_sig, disk_signature_text(p.m_serial));
  f.text(col_format, hex_number_text(p.m_type & 0xFF, hex, 0));
  if (!p.m_volume_letter.empty()) f.text(col_mount, p.m_volume_letter);
  if (!p.m_volume_name.empty()) f.text(col_label, p.m_volume_name);
  f.text(col_description, description(p, d, names, hex));
}

// ---------------------------------------------------------------------------
// Boot sectors
// ---------------------------------------------------------------------------

bool read_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset) {
  boot_sector_clear(bs);
  if (!disk || !disk->is_open()) return false;
  uint32_t got = boot_sector_size;
  if (!disk->read_at(bs.m_raw.data(), got, offset) || got != boot_sector_size) {
    std::fprintf(stderr, "prob reading disk at offset 0x%08llx\n",
                 static_cast<unsigned long long>(offset));
    boot_sector_clear(bs);
    return false;
  }
  return true;
}

std::string padded(const char* label, size_t width) {
  std::string s = label;
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

std::string hex_digits(uint64_t value, unsigned width) {
  return hex_number_text(value, true, width).substr(2);
}

// "0x" + digits + " [" + decimal + "]"
std::string hex_dec(uint64_t value, unsigned width) {
  return "0x" + hex_digits(value, width) + " [" + std::to_string(value) + "]";
}

bool collect_ntfs_offsets(const partition_list& list, std::vector<uint64_t>& offsets) {
  bool added = false;
  for (const auto& p : list) {
    uint64_t at = 0;
    if (!is_ntfs_record(p) || !checked_mul(p.m_start, uint64_t{p.m_sector_size}, at)) continue;
    offsets.push_back(at);
    added = true;
  }
  return added;
}

bool list_disk_ntfs(RAW_DISK_IO& disk, std::vector<uint64_t>& offsets, bool retry,
                    size_t max_partitions) {
  if (!disk.is_open()) return false;
  partition_list list;
  if (!scan_partitions(disk, list, false, false) &&
      (!retry || !scan_partitions(disk, list, true, false)))
    return false;
  if (list.empty() || list.size() > max_partitions) return false;
  return collect_ntfs_offsets(list, offsets);
}

constexpr size_t kMaxListedPartitions = 768;

}  // namespace

// ---------------------------------------------------------------------------

void report_volumes(const drive_stats& d, std::ostream& out, cmd_params& s, bool sectors) {
  guarded([&] {
    const bool no_drive = d.m_no_drive != 0;
    const std::vector<column_def> defs = report_columns(sectors, no_drive);
    if (s.m_header_pending || !has_columns(s, defs)) {
      register_columns(s, defs);
      if (s.m_csv)
        for (auto& c : s.m_columns) c.m_width = 0;
      if (s.m_header_pending) write_table_header(out, s);
    }
    const size_t base = s.m_columns.size() - defs.size();
    const bool hex = s.m_hex_numbers != 0;
    const uint32_t flags = s.m_quoted_csv ? uint32_t{vf_quoted} : 0u;
    const int32_t count = static_cast<int32_t>(s.m_columns.size());

    if (d.m_partitions.empty()) {
      table_row row(count, true, flags);
      row_filler f(row, base, no_drive);
      fill_drive_columns(f, d);
      empty_drive_row(f, d, sectors, hex);
      output_table_row(out, row, s);
      return;
    }
    gpt_type_name_map names;
    build_gpt_type_names(names);
    for (size_t i = 0; i < d.m_partitions.size(); ++i) {
      table_row row(count, true, flags);
      row_filler f(row, base, no_drive);
      fill_drive_columns(f, d);
      partition_row(f, d, i, sectors, hex, names);
      output_table_row(out, row, s);
    }
  });
}

bool read_exfat_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset) {
  return read_boot_sector(bs, disk, offset) && is_exfat_vbr_valid(bs);
}

bool read_ntfs_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset) {
  // The BIOS parameter block alone passes for NTFS on a FAT32 sector.
  return read_boot_sector(bs, disk, offset) && has_ntfs_oem_id(bs.m_raw.data(), 512, false) &&
         is_ntfs_vbr_valid(bs);
}

bool read_fat16_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset) {
  return read_boot_sector(bs, disk, offset) && is_fat16_vbr(bs.m_raw.data(), boot_sector_size);
}

bool read_fat32_boot_sector(boot_sector& bs, RAW_DISK_IO* disk, uint64_t offset) {
  return read_boot_sector(bs, disk, offset) && is_fat32_vbr(bs.m_raw.data(), boot_sector_size);
}

bool is_bitlocker_volume(RAW_DISK_IO& disk, uint64_t offset) {
  if (!disk.is_open()) return false;
  uint8_t head[36] = {};
  uint32_t got = sizeof head;
  if (!disk.read_at(head, got, offset) || got < 11) return false;
  return std::memcmp(head + 3, "-FVE-FS-", 8) == 0;
}

bool open_snapshot_set(std::ostream& out, const std::vector<std::wstring>& snapshots,
                       std::vector<uint64_t>& offsets, uint8_t& found, bool) {
  offsets.clear();
  found = 0;
  if (snapshots.empty()) return false;
  RAW_DISK_IO disk(snapshots, false);
  if (!disk.is_open()) {
    out << "invalid disk collection of snaps \n";
    return false;
  }
  return false;
}

bool open_image_and_select_ntfs(std::ostream& out, const std::wstring& path, uint64_t& offset,
                                uint8_t& found, bool accept_partial) {
  found = 0;
  if (path.empty()) return false;
  RAW_DISK_IO disk(path, false, 0, disk_mode_aligned2);
  if (!disk.is_open()) {
    out << "invalid image: " << to_utf8(path) << "\n";
    return false;
  }
  return select_ntfs_volume(out, found, offset, disk, accept_partial);
}

bool list_image_ntfs_volumes(const std::string& path, std::vector<uint64_t>& offsets) {
  return guarded([&] {
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    return list_disk_ntfs(disk, offsets, false, SIZE_MAX);
  });
}

bool list_image_ntfs_volumes_w(const std::wstring& path, std::vector<uint64_t>& offsets) {
  return guarded([&] {
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    return list_disk_ntfs(disk, offsets, false, kMaxListedPartitions);
  });
}

bool list_drive_ntfs_volumes(uint32_t drive, std::vector<uint64_t>& offsets) {
  return guarded([&] {
    RAW_DISK_IO disk(static_cast<int32_t>(drive), false, false, disk_mode_drive);
    return list_disk_ntfs(disk, offsets, false, SIZE_MAX);
  });
}

bool list_drive_ntfs_offsets(std::set<uint64_t>& offsets, uint32_t drive) {
  return guarded([&] {
    RAW_DISK_IO disk(static_cast<int32_t>(drive), false, false, disk_mode_drive);
    std::vector<uint64_t> found;
    if (!list_disk_ntfs(disk, found, true, SIZE_MAX)) return false;
    offsets.insert(found.begin(), found.end());
    return true;
  });
}

void dump_boot_sector(const boot_sector& bs, std::ostream& out) {
  constexpr size_t w = 28;
  guarded([&] {
    std::ostringstream o;
    o << padded("boot loader routine:", w);
    for (size_t i = 0; i < 3; ++i) o << hex_digits(bs.m_raw[i], 2) << ' ';
    o << '\n';
    o << padded("signature:", w) << '"'
      << std::string(reinterpret_cast<const char*>(bs.oem_id()), 8) << "\"\n";
    o << padded("bytes/sector:", w) << hex_dec(bs.bytes_per_sector(), 4) << '\n';
    o << padded("sectors/cluster:", w) << "0x" << hex_digits(bs.sectors_per_cluster(), 2) << "   ["
      << unsigned{bs.sectors_per_cluster()} << "]\n";
    o << padded("media descriptor:", w) << "0x" << hex_digits(bs.media_descriptor(), 2) << '\n';
    if (std::memcmp(bs.oem_id(), "NTFS    ", 8) == 0) {
      o << padded("total sectors:", w) << hex_dec(bs.ntfs_total_sectors(), 16) << '\n';
      o << padded("mft start lcn:", w) << hex_dec(bs.ntfs_mft_lcn(), 16) << '\n';
      o << padded("mftmirr start lcn:", w) << hex_dec(bs.ntfs_mftmirr_lcn(), 16) << '\n';
      o << padded("num clusters for mft:", w) << hex_dec(load_le32(&bs.m_raw[64]), 8) << '\n';
      o << padded("clusters/indx:", w) << hex_dec(load_le32(&bs.m_raw[68]), 8) << '\n';
      o << padded("volume serial number:", w) << "0x" << hex_digits(bs.ntfs_serial(), 16) << '\n';
      o << padded("checksum:", w) << "0x" << hex_digits(bs.ntfs_checksum(), 8) << '\n';
    }
    out << o.str();
  });
}

bool dump_bpb_36(std::ostream& out, const std::array<uint8_t, bpb_head_size>& block) {
  return dump_bpb(out, block.data(), block.size());
}

bool dump_bpb_vector(std::ostream& out, const std::vector<uint8_t>& bytes) {
  if (bytes.size() < bpb_head_size) return false;
  return dump_bpb(out, bytes.data(), bytes.size());
}

std::string dos_date_time_text(std::string& date, std::string& time_text, uint16_t dos_date,
                               uint16_t dos_time) {
  date.clear();
  time_text.clear();
  return guarded([&] {
    const time t = time_from_dos(dos_date, dos_time, false);
    if (!t.valid() || !format_with_template_texts(date, time_text, t, "yyyy-mm-dd", "hh:mm:ss")) {
      date.clear();
      time_text.clear();
      return std::string();
    }
    return date + " " + time_text;
  });
}

bool split_entry_path(const fat_file_entry& entry, std::string& dir, std::string& name, bool raw) {
  dir.clear();
  name.clear();
  const std::string& path = entry.m_name;
  if (path.empty()) return false;
  return guarded([&] {
    if ((entry.m_attributes & 0x10) && !raw) {
      dir = path;
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      name.assign(1, '.');
      return true;
    }
    return split_path(path, dir, name);
  });
}

bool dump_disk_volumes(std::ostream& out, const std::vector<disk_volume_entry>& volumes,
                       bool guid_form) {
  return guarded([&] {
    const bool hex = (out.flags() & std::ios_base::basefield) == std::ios_base::hex;
    std::ostringstream text;
    auto number = [&](const char* label, uint64_t v) {
      text << ";" << label;
      text << number_format_prefix(text, hex, 0) << v;
    };
    bool first_volume = true;
    for (size_t i = 0; i < volumes.size() && i < 4; ++i) {
      const disk_volume_entry& v = volumes[i];
      if (v.m_byte_count == 0) continue;
      if (first_volume && guid_form) text << "disk_guid:" << guid_to_string(v.m_disk_guid) << ";";
      if (!first_volume) text << ";";
      first_volume = false;
      text << "vol" << hex_digits(v.m_volume_number, 1);
      number("byte_offset:", v.m_byte_offset);
      number("num_bytes:", v.m_byte_count);
      if (guid_form)
        text << ";vol_guid:" << guid_to_string(v.m_volume_guid);
      else if (v.m_disk_signature)
        text << ";disk_sig:" << disk_signature_text(v.m_disk_signature);
      text << ";vol_type:" << partition_type_name(v.m_type);
    }
    out << text.str();
    return !first_volume;
  });
}

}  // namespace vk
