// The bodies of the volume fuzz targets: partition walks, boot-sector
// recognition, FAT, exFAT and ext structures. Each takes its input as the
// first bytes of a medium, walks it both from memory and through the disk
// reader over a memory-backed file, and checks the promises callers rely
// on: nothing found outside the medium where the walk says it read it,
// gaps that never cover a partition, names and run lists no larger than
// the input can describe.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "disk/cluster_runs.h"
#include "disk/fat_ext.h"
#include "disk/partition_table.h"
#include "disk/raw_disk_io.h"
#include "disk/volume_boot.h"
#include "disk/volume_report.h"

namespace vesk_fuzz {

inline constexpr size_t k_max_volume_input = 64 * 1024;

[[noreturn]] inline void volume_promise(const char* what) {
  std::fprintf(stderr, "vesk fuzz: %s\n", what);
  std::abort();
}

class volume_null_buffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class volume_null_stream : public std::ostream {
 public:
  volume_null_stream() : std::ostream(&m_buffer) {}

 private:
  volume_null_buffer m_buffer;
};

// The input as a medium: a file in a private folder (memory-backed when the
// temporary folder is), rewritten for every input and opened read-only.
class medium_file {
 public:
  medium_file() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-vol-XXXXXX").string();
    if (!mkdtemp(pattern.data())) volume_promise("no temporary directory");
    m_root = pattern;
  }
  ~medium_file() {
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  medium_file(const medium_file&) = delete;
  medium_file& operator=(const medium_file&) = delete;

  std::string write(const uint8_t* data, size_t size) {
    const std::string path = (m_root / "medium.img").string();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) volume_promise("medium not written");
    return path;
  }

 private:
  std::filesystem::path m_root;
};

inline std::string medium_path(const uint8_t* data, size_t size) {
  static medium_file file;
  return file.write(data, size);
}

// Gap records never overlap a record the walk found.
inline void check_gaps(const vk::partition_list& list) {
  for (const auto& gap : list) {
    if (gap.m_description != "unalloc") continue;
    if (gap.m_count == 0) volume_promise("empty gap");
    for (const auto& r : list) {
      if (r.m_description == "unalloc" || r.m_count == 0) continue;
      const uint64_t r_end = r.m_start + std::min(r.m_count, UINT64_MAX - r.m_start);
      if (gap.m_start < r_end && r.m_start < gap.m_start + gap.m_count)
        volume_promise("gap over a partition");
    }
  }
}

inline void print_list(const vk::partition_list& list) {
  volume_null_stream out;
  vk::cmd_params settings;
  for (const auto& r : list) {
    vk::print_partition_line(r, out, r.m_sector_size, true);
    vk::print_partition_row(r, out, settings);
    vk::partition_type_text(r);
  }
}

inline int run_partition_walk(const uint8_t* data, size_t size) {
  if (size > k_max_volume_input) size = k_max_volume_input;
  const std::vector<uint8_t> image(data, data + size);
  vk::partition_list list;
  for (int mode = 0; mode < 4; ++mode) {
    vk::scan_partitions_buffer(image.data(), image.size(), list, mode & 1, mode & 2);
    if (mode & 2) check_gaps(list);
    print_list(list);
  }
  if (size >= 512) {
    vk::master_boot_record mbr;
    std::copy(image.begin(), image.begin() + 512, mbr.m_raw.begin());
    volume_null_stream out;
    vk::dump_mbr(mbr, out);
  }
  vk::RAW_DISK_IO disk(medium_path(image.data(), image.size()), false, 0, vk::disk_mode_path);
  if (!disk.is_open()) return 0;
  for (int mode = 0; mode < 4; ++mode) {
    vk::scan_partitions(disk, list, mode & 1, mode & 2);
    if (mode & 2) check_gaps(list);
    print_list(list);
  }
  vk::scan_gpt_partitions(disk, list, true);
  check_gaps(list);
  vk::drive_stats stats;
  vk::read_drive_mbr(stats, disk);
  if (stats.m_gpt_entries.size() > 65536 / 128) volume_promise("more GPT entries than read");
  return 0;
}

inline int run_boot_sector(const uint8_t* data, size_t size) {
  if (size > 16384) size = 16384;
  const std::vector<uint8_t> bytes(data, data + size);
  const uint8_t* p = bytes.data();
  for (uint64_t count : {uint64_t{0}, uint64_t{1000}}) {
    vk::partition_entry r(0, count, 0);
    const bool known = vk::parse_volume_boot_record(r, p, size);
    if (vk::is_fat_boot_sector(p, size) && !known) volume_promise("FAT boot sector not recognised");
  }
  if (vk::is_mbr_sector(p, size) && vk::is_fat_boot_sector(p, size))
    volume_promise("a sector both MBR and FAT boot sector");
  vk::is_vbr_oem_id(p, size);
  volume_null_stream out;
  vk::dump_bpb(out, p, size);
  const vk::boot_sector bs = vk::boot_sector_from(p, size);
  vk::is_exfat_vbr_valid(bs);
  vk::is_ntfs_vbr_valid(bs);
  vk::fat_entry_bits(bs);
  vk::fat16_highest_cluster(bs);
  vk::fat32_cluster_count(bs);
  vk::fat16_root_dir_offset(bs);
  vk::exfat_root_dir_offset(bs, 0);
  vk::exfat_volume_flags_text(bs);
  vk::ntfs_mft_record_size(bs);
  vk::ntfs_index_block_size(bs);
  vk::RAW_DISK_IO disk(medium_path(p, size), false, 0, vk::disk_mode_path);
  if (!disk.is_open()) return 0;
  vk::is_ntfs_at(disk, 0);
  vk::boot_sector read;
  vk::read_exfat_boot_sector(read, &disk, 0);
  vk::read_ntfs_boot_sector(read, &disk, 0);
  vk::read_fat16_boot_sector(read, &disk, 0);
  vk::read_fat32_boot_sector(read, &disk, 0);
  return 0;
}

// The input is a FAT volume: its table read from the medium, its root
// folder (or the whole input) read as directory entries, every file's
// chain followed.
inline int run_fat(const uint8_t* data, size_t size) {
  if (size > k_max_volume_input) size = k_max_volume_input;
  if (size < 512) return 0;
  const std::vector<uint8_t> image(data, data + size);
  const vk::boot_sector bs = vk::boot_sector_from(image.data(), image.size());
  vk::RAW_DISK_IO disk(medium_path(image.data(), image.size()), false, 0, vk::disk_mode_path);
  if (!disk.is_open()) return 0;
  const uint32_t bits = vk::fat_entry_bits(bs);
  std::vector<uint8_t> table;
  if (bits == 32)
    vk::read_fat32_table(bs, table, disk, 0, 0);
  else
    vk::read_fat16_table(bs, table, disk, 0, 0);
  if (table.size() > size) volume_promise("table larger than the medium");
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  const uint64_t root = bits == 32 ? vk::fat32_data_offset(bs) : vk::fat16_root_dir_offset(bs);
  const size_t dir_at = root < size ? static_cast<size_t>(root) : 512;
  vk::read_fat_dir_entries_lfn(names, entries, offsets, bs, image.data() + dir_at, size - dir_at, 0,
                               ~uint64_t{0}, false, dir_at);
  vk::read_fat_dir_entries_lfn(names, entries, offsets, bs, image.data(), size, 0, ~uint64_t{0},
                               true, 0);
  // Two passes: the root folder, then the whole input.
  if (names.size() > 2 * (size / 32)) volume_promise("more files than entries");
  for (const auto& name : names)
    if (name.size() > 3 * 255) volume_promise("long name beyond 255 units");
  std::vector<vk::fat_dir_entry> found;
  vk::collect_fat_dir_entries(found, offsets, bs, image.data(), size, 0, ~uint64_t{0}, false, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint8_t* e = entries[i].data() + entries[i].size() - 32;
    vk::fat_file_entry file;
    if (bits == 32)
      vk::fat32_entry_to_file(file, e, names[i], table.data(), table.size());
    else if (bits == 12)
      vk::fat12_entry_to_file(file, e, names[i], table.data(), table.size());
    else
      vk::fat_entry_to_file(file, e, names[i], table.data(), table.size());
    if (vk::cluster_runs_total_clusters(file.m_runs) > table.size() + 1)
      volume_promise("chain longer than its table");
    vk::cluster_runs runs;
    vk::fat16_chain_to_runs(bs, runs, vk::load_le16(e + 26), vk::load_le32(e + 28), table.data(),
                            table.size(), 0);
    vk::fat_short_name_text(e);
    vk::is_plausible_fat_entry(e, true);
    vk::is_valid_fat_entry_any(e, false);
  }
  std::string name;
  for (size_t at = 0; at + 32 <= size; at += 32) vk::lfn_name_part(name, image.data() + at, true);
  if (name.size() > 3 * 255 + 3 * 13) volume_promise("long-name piece list unbounded");
  vk::fat_chain_runs chains;
  vk::fat32_chains_from_table(chains, table.data(), table.size());
  std::vector<uint64_t> used;
  if (bits == 32) vk::collect_used_free_clusters(bs, used, disk, 0);
  return 0;
}

// Digests a file's content when its holes and its zeros past the valid
// length cost no more than a few media: both are a sound file's, up to the
// largest the volume holds (the bytes read from the medium are what the
// caller bounds).
inline void digest_content(const vk::cluster_runs& runs, vk::RAW_DISK_IO& disk, uint64_t length,
                           size_t medium) {
  const uint64_t cluster = std::max<uint32_t>(runs.m_bytes_per_cluster, 1);
  uint64_t holes = 0;
  for (const vk::cluster_run& r : runs.m_runs)
    if (r.sparse()) holes += std::min<uint64_t>(r.count(), uint64_t{1} << 32);
  if (holes > 4 * uint64_t{medium} / cluster) return;
  if (runs.m_valid_bytes != vk::whole_content && length > runs.m_valid_bytes &&
      length - runs.m_valid_bytes > 4 * uint64_t{medium})
    return;
  vk::guid md5;
  std::vector<uint8_t> sha1, sha256;
  vk::digest_cluster_runs(runs, md5, sha1, sha256, vk::digest_md5, disk, length);
}

// The input is an exFAT volume: its table, its root folder's file sets,
// every file's clusters.
inline int run_exfat(const uint8_t* data, size_t size) {
  if (size > k_max_volume_input) size = k_max_volume_input;
  if (size < 512) return 0;
  const std::vector<uint8_t> image(data, data + size);
  const vk::boot_sector bs = vk::boot_sector_from(image.data(), image.size());
  vk::RAW_DISK_IO disk(medium_path(image.data(), image.size()), false, 0, vk::disk_mode_path);
  if (!disk.is_open()) return 0;
  std::vector<uint8_t> table;
  vk::read_exfat_table(bs, table, disk, 0);
  const uint64_t root = vk::exfat_root_dir_offset(bs, 0);
  const size_t dir_at = root < size ? static_cast<size_t>(root) : 0;
  std::vector<vk::exfat_file_entry> files;
  vk::read_exfat_dir_entries(files, image.data() + dir_at, size - dir_at, dir_at, true);
  // A set cut short by the entry after its file entry is listed (and said):
  // one entry at the least.
  if (files.size() > (size - dir_at) / 32) volume_promise("more file sets than entries");
  const uint64_t volume_clusters = uint64_t{bs.exfat_cluster_count()} + 2;
  for (const auto& f : files) {
    if (f.m_name.size() > 3 * 255) volume_promise("exFAT name beyond 255 units");
    vk::cluster_runs runs;
    if (!vk::exfat_entry_to_runs(bs, runs, f, table.data(), table.size(), 0)) continue;
    if (vk::cluster_runs_total_clusters(runs) > volume_clusters)
      volume_promise("file larger than its volume");
    // A chain takes each cluster once: its content costs no more reading
    // than the medium holds, whatever the entry declares.
    const uint64_t before = disk.bytes_read();
    digest_content(runs, disk, f.m_data_length, size);
    if (disk.bytes_read() - before > size) volume_promise("content read beyond the medium's size");
    std::vector<uint32_t> clusters;
    vk::exfat_chain_clusters(bs, clusters, f.m_first_cluster, f.m_data_length, table.data(),
                             table.size(), f.m_stream_flags & vk::exfat_no_fat_chain);
    if (clusters.size() > table.size() / 4) volume_promise("cluster list beyond its table");
  }
  return 0;
}

// The input is an ext volume: the first inodes found through the group
// descriptors, each walked into runs that cover the file's size.
inline int run_ext(const uint8_t* data, size_t size) {
  if (size > k_max_volume_input) size = k_max_volume_input;
  if (size < 2048) return 0;
  const std::vector<uint8_t> image(data, data + size);
  const vk::ext_superblock sb = vk::ext_superblock_from(image.data() + 1024, 1024);
  vk::ext_is_ext4(sb);
  vk::RAW_DISK_IO disk(medium_path(image.data(), image.size()), false, 0, vk::disk_mode_path);
  if (!disk.is_open()) return 0;
  const uint64_t block_size = std::max<uint32_t>(vk::ext_block_size(sb), 1024);
  for (uint64_t number = 1; number <= 24; ++number) {
    // The work of one inode: its descriptor and its own bytes, then its
    // tree or map, its folder blocks, its content and its link's target,
    // each block of the medium read at most once by each.
    const uint64_t before = disk.bytes_read();
    const auto within_budget = [&] {
      if (disk.bytes_read() - before > 4 * uint64_t{size} + 4 * block_size)
        volume_promise("an inode's work beyond a few times the medium");
    };
    vk::ext_inode_record rec;
    if (!vk::ext_read_inode(rec, sb, disk, 0, number)) continue;
    volume_null_stream out;
    vk::check_ext_inode(rec.m_inode.data(), rec.m_inode.size(), out);
    // Inline content comes from the inode alone, never longer than it.
    std::vector<uint8_t> content;
    if (vk::read_ext_inline_data(rec, content) && content.size() > rec.m_inode.size())
      volume_promise("inline content longer than its inode");
    std::string target;
    if (vk::read_ext_symlink(rec, disk, 0, sb, target) && target.size() >= block_size)
      volume_promise("link target beyond one block");
    within_budget();
    vk::cluster_runs runs;
    // A folder's bytes come with the walk, never more than its size.
    std::vector<uint8_t> folder;
    if (!vk::walk_ext_extents(rec, runs, disk, 0, sb, &folder)) continue;
    // Each run is a piece the walk read a pointer for: no more than the
    // medium holds pointers, and a hole at each end.
    if (runs.m_runs.size() > size / 4 * 2 + 64) volume_promise("more runs than the medium holds");
    const uint64_t declared = vk::load_le32(rec.m_inode.data() + 4) |
                              uint64_t{vk::load_le32(rec.m_inode.data() + 108)} << 32;
    if (declared > vk::ext_largest_file(sb, true)) volume_promise("a size no file can have walked");
    if (folder.size() > declared) volume_promise("a folder's bytes past its size");
    digest_content(runs, disk, declared, size);
    within_budget();
  }
  return 0;
}

}  // namespace vesk_fuzz
