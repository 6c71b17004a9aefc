// The bodies of the NTFS fuzz targets: a FILE record with what it pulls in
// from its medium, a master file table through the inode store (walked, or
// carved from a volume), run lists with the run readers, change-journal and
// $Secure records, and the field dumps. The medium of a target is its input
// in a file of a private folder, read as the library reads an image.
#pragma once

#include <algorithm>
#include <memory>
#include <sstream>

#include "disk/cluster_runs.h"
#include "disk/field_dump.h"
#include "disk/inode_store.h"
#include "disk/mft_record.h"
#include "disk/usn_secure.h"
#include "disk/volume_report.h"
#include "foundation/vk_bytes.h"
#include "fuzz/fuzz_harness.h"

namespace vesk_fuzz {

// file_record: an option byte (bits 0-6 the record's option bits, bit 7:
// read beyond the record through a volume map), a cluster-size byte (512
// << low 3 bits), then the medium with the record at its start.
// mft: a flag byte (bit 0: carve the medium as a volume; bit 1: every
// record; bit 2: keep the newest copy of each reference; bits 3-7 option
// bits), then the medium.
// cluster_runs: a cluster-size byte, a flag byte (bit 0: whole content,
// bits 1-2 the width of a cluster map's entries), the start VCN and the
// length as u32, then a run list; the medium is the whole input.
// usn_secure: the entry count as u32, then journal bytes.
// field_dump: a name-width byte, then the structure.
inline constexpr size_t k_file_record_prefix = 2;
inline constexpr size_t k_mft_prefix = 1;
inline constexpr size_t k_cluster_runs_prefix = 10;
inline constexpr size_t k_usn_prefix = 4;
inline constexpr size_t k_field_dump_prefix = 1;

// The most content a target asks of a run list: sparse runs read as long as
// asked, and the fuzzer's memory is limited.
inline constexpr uint64_t k_max_content = 64u << 10;
// The longest run list the cluster_runs target decodes: a record's worth.
inline constexpr size_t k_max_run_list = 1024;

// The input's bytes as a medium.
inline std::unique_ptr<vk::RAW_DISK_IO> open_medium(const uint8_t* data, size_t size) {
  static driver_folder folder;
  const std::filesystem::path path = folder.root() / "medium.img";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) broken_promise("medium not written");
  }
  return std::make_unique<vk::RAW_DISK_IO>(path.string(), false, uint8_t{0}, vk::disk_mode_path);
}

inline bool in_vcn_order(const std::vector<vk::data_run>& runs) {
  return std::is_sorted(runs.begin(), runs.end(), [](const vk::data_run& a, const vk::data_run& b) {
    return a.m_vcn < b.m_vcn;
  });
}

// Reads at most k_max_content bytes of a run list and checks the walk kept
// its promises.
inline void read_runs_bounded(const vk::cluster_runs& list, vk::RAW_DISK_IO& disk,
                              uint64_t start_vcn, uint64_t length) {
  length = std::min(length, k_max_content);
  if (length == 0) return;
  std::vector<uint8_t> bytes;
  vk::read_cluster_runs_to_vector(list, bytes, disk, start_vcn, length);
  if (bytes.size() > length) broken_promise("run reader delivered more than asked");
  // Content past the valid bytes is zeros, whatever the clusters hold.
  const uint64_t start = start_vcn * list.m_bytes_per_cluster;
  for (uint64_t i = list.m_valid_bytes > start ? list.m_valid_bytes - start : 0; i < bytes.size();
       ++i)
    if (bytes[i] != 0) broken_promise("bytes past the initialized size read from the medium");
  uint64_t from_medium = 0;
  vk::cluster_runs_walk(list, disk, start_vcn, length, [&](const vk::cluster_piece& p) {
    if (p.medium_length > p.length) broken_promise("piece read more than it holds");
    from_medium += p.medium_length;
    return true;
  });
  if (from_medium > disk.size()) broken_promise("walk read more than the medium holds");
}

// Each $FILE_NAME keeps its own parent, the parents are those of the
// names, the record's name is the last long one, and a record marked as
// having lost its name has none.
inline void check_names(const vk::inode_record& rec) {
  vk::mft_ref_set parents;
  const vk::file_name_link* last_long = nullptr;
  for (const vk::file_name_link& n : rec.m_names) {
    parents.insert(n.m_parent);
    if (n.m_namespace != vk::file_name_dos) last_long = &n;
  }
  if (parents.size() != rec.m_parents.size() ||
      !std::equal(
          parents.begin(), parents.end(), rec.m_parents.begin(),
          [](const vk::mft_ref& a, const vk::mft_ref& b) { return vk::mft_ref_equal(a, b); }))
    broken_promise("parents other than the names' own");
  if (last_long && last_long->m_name != rec.m_name) broken_promise("name not the last long one");
  if ((rec.m_unread & vk::mft_unread_no_name) && !rec.m_names.empty())
    broken_promise("record with names marked as having none");
}

inline int run_file_record(const uint8_t* data, size_t size) {
  if (size > k_max_image_input) size = k_max_image_input;
  if (size < k_file_record_prefix) return 0;
  const uint8_t options = data[0] & 0x7F;
  const bool through_volume = data[0] & 0x80;
  const uint32_t cluster = 512u << (data[1] & 7);
  const uint8_t* medium = data + k_file_record_prefix;
  const size_t medium_size = size - k_file_record_prefix;
  const uint32_t record_size = vk::file_record_size(medium, medium_size);
  if (record_size == 0 || medium_size < record_size) return 0;
  auto disk = open_medium(medium, medium_size);
  if (!disk->is_open()) return 0;
  disk->set_cluster_size(cluster);

  // First on its own medium; then, when asked, with the record's own runs
  // as the table's, so that extension records are placed through them.
  vk::ntfs_volume_map map;
  for (int pass = 0; pass < (through_volume ? 2 : 1); ++pass) {
    std::vector<uint8_t> raw(medium, medium + record_size);
    vk::inode_record rec;
    rec.m_options = options;
    vk::parse_file_record(rec, raw.data(), raw.size(), disk.get(), 0, record_size, false,
                          pass ? &map : nullptr);
    // Every run costs at least two bytes of a record read from the medium.
    if (rec.m_data_runs.size() + rec.m_index_runs.size() > medium_size / 2)
      broken_promise("more runs than the medium could encode");
    if (!in_vcn_order(rec.m_data_runs) || !in_vcn_order(rec.m_index_runs))
      broken_promise("runs out of content order");
    check_names(rec);
    vk::cluster_runs list;
    if (vk::cluster_runs_from_record(list, rec, 0, cluster)) {
      read_runs_bounded(list, *disk, 0, rec.m_real_size);
      std::vector<uint8_t> bytes;
      if (vk::cluster_runs_compressed(list) &&
          vk::read_cluster_runs_to_vector(list, bytes, *disk, 0, 1))
        broken_promise("compressed units read as content");
    }
    map.m_disk = disk.get();
    map.m_cluster_size = cluster;
    map.m_record_size = record_size;
    map.m_mft_runs = rec.m_data_runs;
  }
  // Each pass reads the record's extension records and its list once, a
  // bounded part of its content and a few blocks for the digests: work
  // that the medium's size bounds, whatever the record declares.
  if (disk->bytes_read() >
      8 * uint64_t{medium_size} + 2 * (vk::attr_list_max_bytes + k_max_content))
    broken_promise("a record's work beyond a few times the medium");
  std::vector<uint8_t> raw(medium, medium + record_size);
  std::string name;
  vk::mft_ref parent;
  const uint8_t* value = nullptr;
  uint32_t value_length = 0;
  vk::si_copy si;
  if (vk::read_resident_file_summary(name, parent, value, value_length, si, raw.data(), raw.size(),
                                     false) &&
      value && (value < raw.data() || value + value_length > raw.data() + raw.size()))
    broken_promise("resident value outside the record");
  return 0;
}

inline int run_mft(const uint8_t* data, size_t size) {
  if (size > k_max_image_input) size = k_max_image_input;
  if (size < k_mft_prefix) return 0;
  const uint8_t flags = data[0];
  const uint8_t* medium = data + k_mft_prefix;
  const size_t medium_size = size - k_mft_prefix;
  auto disk = open_medium(medium, medium_size);
  if (!disk->is_open()) return 0;
  // A medium shorter than a boot sector is refused with a line on standard
  // error: nothing to learn from it here.
  if ((flags & 1) && medium_size >= 512) {
    std::vector<uint8_t> out;
    vk::scan_ntfs_volume(out, disk.get(), 0, nullptr);
    if (out.size() > medium_size) broken_promise("carved table larger than the medium");
    return 0;
  }
  vk::_inode_collection c;
  c.m_all_records = (flags >> 1) & 1;
  c.m_options = flags >> 3;
  if (flags & 4) {
    c.attach_range(disk.get(), false, 0, medium_size, 4096, vk::keep_newer_inode, nullptr, &c,
                   nullptr);
  } else {
    c.attach_disk(disk.get(), false, nullptr, nullptr, medium_size, 0);
  }
  // A slot is at least 512 bytes: no more records than slots.
  if (c.m_store.size() > medium_size / 512) broken_promise("more records than slots");
  for (const auto& [entry, index] : c.m_directories)
    if (index >= c.m_store.size() || !c.m_store[index].m_path_built)
      broken_promise("directory without a path");
  vk::inode_record rec;
  for (const auto& [entry, index] : c.m_entries) {
    if (index >= c.m_store.size()) broken_promise("entry map past the store");
    const vk::inode_record& stored = c.m_store[index];
    check_names(stored);
    c.get_inode(rec, entry + 1);
    c.get_inode_by_ref(
        rec, stored.m_entry_low,
        stored.m_entry_high | uint32_t{static_cast<uint16_t>(stored.m_sequence + 1)} << 16);
  }
  return 0;
}

inline int run_cluster_runs(const uint8_t* data, size_t size) {
  if (size > k_max_image_input) size = k_max_image_input;
  if (size < k_cluster_runs_prefix) return 0;
  const uint32_t cluster = 512u << (data[0] & 7);
  const uint8_t flags = data[1];
  const uint64_t start_vcn = vk::load_le32(data + 2);
  uint64_t length = vk::load_le32(data + 6);
  auto disk = open_medium(data, size);
  if (!disk->is_open()) return 0;
  // The run list, inside a non-resident attribute header as the decoder
  // takes it; no longer than a record holds.
  const size_t list_end = std::min(size, k_cluster_runs_prefix + k_max_run_list);
  std::vector<uint8_t> attr(64, 0);
  attr[8] = 1;
  attr[32] = 64;
  attr.insert(attr.end(), data + k_cluster_runs_prefix, data + list_end);
  attr.push_back(0);
  attr.resize((attr.size() + 7) & ~size_t{7}, 0);
  vk::store_le32(attr.data() + 4, static_cast<uint32_t>(attr.size()));
  std::vector<vk::data_run> runs;
  vk::decode_data_runs(attr.data(), attr.size(), runs);
  for (size_t at = k_cluster_runs_prefix; at < list_end;) {
    const uint32_t step = vk::data_run_size(data + at);
    if (step > list_end - at) break;
    vk::data_run_length(data + at);
    vk::data_run_offset(data + at);
    at += step;
  }
  vk::cluster_runs list;
  if (!vk::cluster_runs_from_data_runs(list, runs, 0, cluster, static_cast<uint32_t>(length)))
    return 0;
  const uint64_t medium_clusters = disk->size() / cluster;
  std::vector<uint64_t> clusters;
  if (vk::cluster_runs_to_clusters(list, clusters, disk->size()) &&
      clusters.size() > medium_clusters)
    broken_promise("more clusters listed than the medium holds");
  std::vector<uint32_t> clusters32, firsts, counts;
  vk::record_clusters32(list, clusters32, disk->size());
  vk::record_extents32(list, firsts, counts);
  uint64_t total = 0, offset = 0, lcn = 0;
  vk::record_total_clusters(list, total);
  vk::cluster_runs_locate_vcn(list, start_vcn, offset, lcn);
  vk::cluster_runs_contains(list, start_vcn);
  std::vector<uint64_t> offsets, first_clusters, run_counts;
  vk::cluster_runs_extents_from(list, start_vcn, offsets, first_clusters, run_counts);

  // Whole content only where the runs' sparse part stays affordable.
  uint64_t sparse_bytes = 0;
  for (const vk::cluster_run& r : list.m_runs) {
    if (!r.sparse()) continue;
    if (r.count() > k_max_content) sparse_bytes = ~uint64_t{0};
    if (sparse_bytes > k_max_content) break;
    sparse_bytes += r.count() * cluster;
  }
  if ((flags & 1) && sparse_bytes <= k_max_content) length = vk::whole_content;
  std::vector<uint8_t> bytes;
  if (length == vk::whole_content) {
    vk::read_cluster_runs_to_vector(list, bytes, *disk, start_vcn, length);
    if (bytes.size() > disk->size() + sparse_bytes) broken_promise("whole content past its runs");
  } else {
    read_runs_bounded(list, *disk, start_vcn, length);
    length = std::min(length, k_max_content);
  }
  if (length != 0) {
    vk::cluster_runs zeros;
    vk::scan_zero_clusters(list, zeros, *disk, start_vcn, length);
    vk::guid md5;
    std::vector<uint8_t> sha1, sha256;
    // The digests' own rounds teach the fuzzer nothing: a few blocks do.
    vk::digest_cluster_runs(list, md5, sha1, sha256, 7, *disk, std::min<uint64_t>(length, 2048));
    vk::cluster_runs rest = list;
    vk::cluster_runs_remove_all(rest, zeros);
  }
  uint64_t listed = (flags & 1) ? vk::whole_content : length;
  if (listed != 0 && !clusters32.empty()) {
    vk::read_cluster_list(*disk, bytes, listed, 0, clusters32, cluster, 0);
    if (bytes.size() > disk->size()) broken_promise("cluster list larger than the medium");
  }
  vk::cluster_runs free_runs, bad_runs;
  static const uint32_t widths[] = {1, 16, 32, 8};
  vk::cluster_maps_from_table(free_runs, bad_runs, data + k_cluster_runs_prefix,
                              list_end - k_cluster_runs_prefix, widths[(flags >> 1) & 3], 0,
                              cluster, 0, 0);
  null_stream out;
  vk::dump_cluster_runs(list, out, ", ", flags & 8, flags & 16);
  return 0;
}

inline int run_usn_secure(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  if (size < k_usn_prefix) return 0;
  const uint64_t entry_count = vk::load_le32(data);
  // An exact copy: a read past the journal's last byte is caught.
  const std::vector<uint8_t> journal(data + k_usn_prefix, data + size);
  vk::_inode_collection store;
  null_stream out;
  for (size_t at = 0; at + 8 <= journal.size();) {
    const uint8_t* p = journal.data() + at;
    const size_t left = journal.size() - at;
    vk::is_valid_usn_header(p, left);
    vk::usn_entry e;
    bool filled = false;
    for (int version = 2; version <= 4 && !filled; ++version) {
      const bool valid = version == 2   ? vk::is_valid_usn_record_v2(p, left, entry_count)
                         : version == 3 ? vk::is_valid_usn_record_v3(p, left, entry_count)
                                        : vk::is_valid_usn_record_v4(p, left, entry_count);
      if (valid && vk::load_le32(p) > left) broken_promise("record longer than the bytes left");
      filled = version == 2   ? vk::usn_entry_from_v2(e, p, left, at)
               : version == 3 ? vk::usn_entry_from_v3(e, p, left, at)
                              : vk::usn_entry_from_v4(e, p, left, at);
    }
    vk::usn_reason_text(vk::load_le32(p), p[4] & 1);
    vk::usn_source_text(vk::load_le32(p + 4));
    vk::file_attribute_text(vk::load_le32(p));
    vk::file_attribute_caps_text(vk::load_le32(p + 4));
    vk::dump_usn_record_prologue(out, p, left, true);
    if (filled) {
      vk::inode_record rec;
      vk::inode_from_usn(rec, e);
      bool flag = false;
      store.add_usn_record(e, flag);
      store.add_inode(rec, flag, true);
    }
    if (left >= 24) {
      vk::secure_index_data sii;
      sii.m_id_key = vk::load_le32(p);
      sii.m_hash = vk::load_le32(p + 4);
      sii.m_id_data = vk::load_le32(p + 8);
      sii.m_sds_offset = vk::load_le64(p + 12);
      sii.m_sds_size = vk::load_le32(p + 20);
      vk::dump_secure_index_data(out, sii, at, p[0] & 63);
    }
    const uint32_t length = filled ? vk::load_le32(p) : 0;
    at += length >= 8 ? (length + 7) & ~uint32_t{7} : 8;
  }
  if (store.m_store.size() > journal.size() / 56) broken_promise("more entries than records");
  return 0;
}

inline int run_field_dump(const uint8_t* data, size_t size) {
  if (size > k_max_record_input) size = k_max_record_input;
  if (size < k_field_dump_prefix) return 0;
  const size_t width = data[0] & 63;
  const std::vector<uint8_t> bytes(data + k_field_dump_prefix, data + size);
  std::ostringstream out;
  const vk::boot_sector bs = vk::boot_sector_from(bytes.data(), bytes.size());
  vk::dump_ntfs_boot_sector(bs, out, data[0] & 64 ? vk::no_field_offset : size, width);
  vk::dump_boot_sector(bs, out);
  vk::dump_bpb_vector(out, bytes);
  vk::dump_index_root(out, bytes.data(), bytes.size(), false);
  vk::dump_index_root(out, bytes.data(), bytes.size(), true);
  std::vector<vk::disk_volume_entry> volumes;
  for (size_t at = 0; at + 48 <= bytes.size() && volumes.size() < 8; at += 48) {
    const uint8_t* p = bytes.data() + at;
    vk::disk_volume_entry v;
    v.m_volume_number = vk::load_le32(p);
    v.m_byte_offset = vk::load_le64(p + 4);
    v.m_byte_count = vk::load_le64(p + 12);
    v.m_disk_signature = vk::load_le32(p + 20);
    v.m_type = vk::load_le16(p + 24);
    std::copy(p + 26, p + 42, v.m_disk_guid.m_bytes);
    volumes.push_back(v);
  }
  vk::dump_disk_volumes(out, volumes, data[0] & 128);
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    const uint8_t* p = bytes.data() + at;
    const std::string name(reinterpret_cast<const char*>(p), p[0] % 17);
    const std::string comment(reinterpret_cast<const char*>(p + 16), p[1] % 17);
    vk::dump_u8_field(out, name, p[2], comment, vk::load_le64(p + 8), width);
    vk::dump_u16_field(out, name, vk::load_le16(p + 2), comment, vk::load_le64(p + 8), width);
    vk::dump_u32_field(out, comment, vk::load_le32(p + 4), name, vk::load_le64(p + 16), width);
    vk::dump_u64_field(out, name, vk::load_le64(p + 24), "", vk::load_le64(p + 8), width);
    vk::dump_text_field(out, name, comment, name, vk::load_le64(p + 8), width);
    vk::guid_text_or_hex(p + 16, p[3] & 1);
    vk::disk_signature_text(vk::load_le32(p + 4));
    vk::fat_name_text_raw(p);
  }
  // Each line is at most a line's fixed part, the name width and what the
  // bytes gave: no dump writes more than a few lines per input byte.
  if (out.str().size() > 256 * (bytes.size() + 16)) broken_promise("dump out of proportion");
  return 0;
}

// The NTFS targets, their first gates and their input limits.
struct disk_target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
  size_t max_input;
};

inline const std::vector<disk_target>& ntfs_targets() {
  static const std::vector<disk_target> all = {
      {"file_record", run_file_record, k_max_image_input},
      {"mft", run_mft, k_max_image_input},
      {"cluster_runs", run_cluster_runs, k_max_image_input},
      {"usn_secure", run_usn_secure, k_max_record_input},
      {"field_dump", run_field_dump, k_max_record_input},
  };
  return all;
}

}  // namespace vesk_fuzz
