// A small NTFS volume built in code: a boot sector, run lists, and a master
// file table in two pieces whose records exercise what a reader must get
// right beyond one record: data split between a base record and an
// extension record that lies in the table's second piece, an attribute
// list held in a cluster of the volume, a hard link named only in an
// extension record, sizes whose $FILE_NAME copy is stale, and a sparse
// file larger than the volume.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "byte_builder.h"
#include "mft_writer.h"

namespace vesk_test {

// One run: a first cluster and a count; a first cluster of ~0 is sparse.
using ntfs_run = std::pair<uint64_t, uint64_t>;
inline constexpr uint64_t k_sparse_run = ~uint64_t{0};

// The run-list bytes of runs (deltas signed, as short as they fit); the
// terminating zero is added by nonresident_attr.
inline std::vector<uint8_t> encode_runs(const std::vector<ntfs_run>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  for (const auto& [first, count] : runs) {
    std::vector<uint8_t> length;
    for (uint64_t c = count; c != 0 || length.empty(); c >>= 8)
      length.push_back(static_cast<uint8_t>(c));
    if (length.back() & 0x80) length.push_back(0);
    std::vector<uint8_t> offset;
    if (first != k_sparse_run) {
      int64_t delta = static_cast<int64_t>(first) - previous;
      previous = static_cast<int64_t>(first);
      do {
        offset.push_back(static_cast<uint8_t>(delta));
        delta >>= 8;
      } while (
          !((delta == 0 && !(offset.back() & 0x80)) || (delta == -1 && (offset.back() & 0x80))));
    }
    out.push_back(static_cast<uint8_t>(length.size() | (offset.size() << 4)));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), offset.begin(), offset.end());
  }
  return out;
}

// An NTFS boot sector: 512-byte sectors, the given cluster size, record
// size and table position.
inline std::vector<uint8_t> ntfs_boot_sector(uint32_t cluster, uint64_t total_sectors,
                                             uint64_t mft_lcn, uint32_t record_size = 1024) {
  byte_builder b(512);
  b.bytes({0xEB, 0x52, 0x90}).ascii("NTFS    ").u16(512).u8(static_cast<uint8_t>(cluster / 512));
  b.pad_to(21).u8(0xF8).pad_to(40).u64(total_sectors).u64(mft_lcn).u64(mft_lcn + 2);
  int8_t per_record = 0;
  for (uint32_t s = record_size, n = 0; n < 31; ++n, s >>= 1)
    if (s == 1) per_record = static_cast<int8_t>(-static_cast<int>(n));
  if (record_size >= cluster) per_record = static_cast<int8_t>(record_size / cluster);
  b.u8(static_cast<uint8_t>(per_record)).pad_to(68).u8(1).pad_to(72).u64(0x1122334455667788ull);
  b.pad_to(510).u8(0x55).u8(0xAA);
  return b.take();
}

// The volume's layout: 512-byte clusters, 1024-byte records.
struct small_ntfs_volume {
  static constexpr uint32_t cluster = 512;
  static constexpr uint32_t record = 1024;
  static constexpr uint64_t clusters = 100;
  // The table: entries 0-11 at clusters 8-31, entries 12-19 at 64-79.
  static constexpr uint64_t mft_lcn = 8;
  static constexpr uint64_t first_piece_entries = 12;
  static constexpr uint64_t second_piece_lcn = 64;
  static constexpr uint64_t entries = 20;
  // Entries of the files and directories: the base records in the first
  // piece, their extensions in the second.
  static constexpr uint32_t docs = 6, report = 7, big = 8, sparse = 9;
  static constexpr uint32_t report_ext = 16, big_ext = 17;
  // The split file: real size and clusters in content order.
  static constexpr uint64_t report_size = 1800;
  static constexpr uint64_t report_stale_size = 100;
  static constexpr uint64_t big_size = 700;
  static constexpr uint64_t sparse_size = 1001 * 512;

  std::vector<uint8_t> bytes;  // the whole volume
  std::vector<uint8_t> mft;    // the table's content, entry by entry

  // Byte offset inside the volume of an entry.
  static uint64_t entry_offset(uint64_t entry) {
    return entry < first_piece_entries
               ? mft_lcn * cluster + entry * record
               : second_piece_lcn * cluster + (entry - first_piece_entries) * record;
  }
  // The split file's content, in order.
  std::vector<uint8_t> report_content() const {
    std::vector<uint8_t> out;
    for (uint64_t c : {40, 41, 50, 51})
      out.insert(out.end(), bytes.begin() + c * cluster, bytes.begin() + (c + 1) * cluster);
    out.resize(report_size);
    return out;
  }
};

inline small_ntfs_volume make_small_ntfs_volume() {
  using v = small_ntfs_volume;
  small_ntfs_volume vol;
  vol.bytes.assign(v::clusters * v::cluster, 0);
  const auto put = [&](uint64_t at, const std::vector<uint8_t>& b) {
    std::copy(b.begin(), b.end(), vol.bytes.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(0, ntfs_boot_sector(v::cluster, v::clusters, v::mft_lcn));
  // File content: every cluster from 32 on holds its own number.
  for (uint64_t c = 32; c < v::clusters; ++c)
    if (c < v::second_piece_lcn || c >= v::second_piece_lcn + 16)
      std::fill(vol.bytes.begin() + c * v::cluster, vol.bytes.begin() + (c + 1) * v::cluster,
                static_cast<uint8_t>(c));

  const auto si = resident_attr(0x10, std_info_value(1, 2, 3, 4, 0x20));
  const auto name = [](uint64_t parent, const std::u16string& n, uint64_t real = 0) {
    return resident_attr(
        0x30, file_name_value(mft_ref_value(parent, 1), n, 1, 0x01D0000000000000ull, real, real));
  };
  std::vector<std::vector<uint8_t>> records(v::entries);
  records[0] = file_record(
      0, 1, 1, 0,
      {si, name(5, u"$MFT"),
       nonresident_attr(0x80, encode_runs({{v::mft_lcn, 24}, {v::second_piece_lcn, 16}}),
                        40 * v::cluster, v::entries * v::record, v::entries * v::record)});
  records[5] = file_record(5, 5, 3, 0, {si, name(5, u".")});
  records[11] = file_record(11, 11, 3, 0, {si, name(5, u"$Extend")});
  records[v::docs] = file_record(v::docs, 1, 3, 0, {si, name(5, u"docs")});
  // The split file: the base record holds VCNs 0-1, its extension (in the
  // table's second piece) VCNs 2-3; the list names the extension first.
  byte_builder entries;
  entries.bytes(attr_list_entry(0x10, mft_ref_value(v::report, 1)))
      .bytes(attr_list_entry(0x30, mft_ref_value(v::report, 1)))
      .bytes(attr_list_entry(0x80, mft_ref_value(v::report_ext, 1)))
      .bytes(attr_list_entry(0x80, mft_ref_value(v::report, 1)));
  const auto list = resident_attr(0x20, entries.take());
  records[v::report] = file_record(v::report, 1, 1, 0,
                                   {si, list, name(v::docs, u"report.txt", v::report_stale_size),
                                    nonresident_attr(0x80, encode_runs({{40, 2}}), 4 * v::cluster,
                                                     v::report_size, v::report_size)});
  records[v::report_ext] =
      file_record(v::report_ext, 1, 1, mft_ref_value(v::report, 1),
                  {nonresident_attr(0x80, encode_runs({{50, 2}}), 0, 0, 0, 2)});
  // The file whose attribute list lies in cluster 60: its second name (a
  // hard link in docs) and its data are in the extension record.
  byte_builder held;
  held.bytes(attr_list_entry(0x30, mft_ref_value(v::big, 1)))
      .bytes(attr_list_entry(0x30, mft_ref_value(v::big_ext, 1)))
      .bytes(attr_list_entry(0x80, mft_ref_value(v::big_ext, 1)));
  const std::vector<uint8_t> held_list = held.take();
  put(60 * v::cluster, held_list);
  records[v::big] = file_record(v::big, 1, 1, 0,
                                {si,
                                 nonresident_attr(0x20, encode_runs({{60, 1}}), v::cluster,
                                                  held_list.size(), held_list.size()),
                                 name(5, u"big.bin")});
  records[v::big_ext] = file_record(
      v::big_ext, 1, 1, mft_ref_value(v::big, 1),
      {name(v::docs, u"big-link.bin"),
       nonresident_attr(0x80, encode_runs({{45, 2}}), 2 * v::cluster, v::big_size, v::big_size)});
  // A sparse file larger than the volume: 1,000 clusters of hole, then one.
  records[v::sparse] =
      file_record(v::sparse, 1, 1, 0,
                  {si, name(5, u"sparse.dat"),
                   nonresident_attr(0x80, encode_runs({{k_sparse_run, 1000}, {85, 1}}),
                                    v::sparse_size, v::sparse_size, v::sparse_size)});
  for (uint64_t e = 0; e < v::entries; ++e) {
    if (records[e].empty()) continue;
    put(v::entry_offset(e), records[e]);
  }
  vol.mft.assign(v::entries * v::record, 0);
  for (uint64_t e = 0; e < v::entries; ++e)
    std::copy(vol.bytes.begin() + v::entry_offset(e),
              vol.bytes.begin() + v::entry_offset(e) + v::record, vol.mft.begin() + e * v::record);
  return vol;
}

}  // namespace vesk_test
