// Seeds of the NTFS fuzz targets, cut from a small volume built in code (a
// table in two pieces, an attribute list in a cluster, split and sparse
// data) and from change-journal records of each version.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "fuzz/ntfs_harness.h"
#include "mft_writer.h"
#include "ntfs_volume_writer.h"

namespace vesk_fuzz {

namespace detail {

inline std::vector<uint8_t> usn_seed_record(uint16_t version, const std::u16string& name) {
  vesk_test::byte_builder b;
  const size_t fixed = version == 2 ? 60 : version == 3 ? 76 : 64;
  b.u32(0).u16(version).u16(0);
  const uint64_t file = vesk_test::mft_ref_value(40, 3), parent = vesk_test::mft_ref_value(5, 5);
  if (version == 2) {
    b.u64(file).u64(parent).u64(0x99).u64(0x01D9000000000000ull);
  } else {
    b.u64(file).u64(0).u64(parent).u64(0).u64(0x99);
    if (version == 3) b.u64(0x01D9000000000000ull);
  }
  b.u32(0x80000102).u32(0x1);
  if (version == 4) {
    b.u32(0).u16(1).u16(16).u64(7).u64(3);
  } else {
    b.u32(0x105)
        .u32(0x20)
        .u16(static_cast<uint16_t>(2 * name.size()))
        .u16(static_cast<uint16_t>(fixed));
    b.utf16(name);
  }
  b.pad_to((b.size() + 7) & ~size_t{7});
  b.put_u32(0, static_cast<uint32_t>(b.size()));
  return b.take();
}

inline std::vector<uint8_t> with_prefix(std::initializer_list<uint8_t> prefix,
                                        const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(prefix);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace detail

inline void add_ntfs_seeds(std::map<std::string, std::vector<std::vector<uint8_t>>>& seeds) {
  using v = vesk_test::small_ntfs_volume;
  const v vol = vesk_test::make_small_ntfs_volume();
  // Each record at the start of the table, its neighbours where they were.
  for (uint64_t e = 0; e < v::entries; ++e) {
    const auto at = vol.mft.begin() + static_cast<std::ptrdiff_t>(e * v::record);
    if (!std::equal(at, at + 4, "FILE")) continue;
    std::vector<uint8_t> medium = vol.mft;
    std::copy(at, at + v::record, medium.begin());
    seeds["file_record"].push_back(detail::with_prefix({0x7F, 0}, medium));
    if (e == 0) seeds["file_record"].push_back(detail::with_prefix({0xC0, 0}, medium));
  }
  // A record with three names in two folders (one a DOS name), and a base
  // record whose attribute list names only itself, its name in the
  // extension record behind it.
  {
    using vesk_test::file_name_value;
    using vesk_test::mft_ref_value;
    using vesk_test::resident_attr;
    const auto si = resident_attr(0x10, vesk_test::std_info_value(1, 2, 3, 4, 0x20));
    std::vector<uint8_t> links;
    vesk_test::place_record(
        links, 0,
        vesk_test::file_record(
            65, 1, 1, 0,
            {si, resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"first.bin")),
             resident_attr(0x30, file_name_value(mft_ref_value(64, 1), u"second name.bin")),
             resident_attr(0x30, file_name_value(mft_ref_value(64, 1), u"SECOND~1.BIN", 2))}));
    seeds["file_record"].push_back(detail::with_prefix({0x7F, 3}, links));
    std::vector<uint8_t> self_list;
    std::vector<uint8_t> entries = vesk_test::attr_list_entry(0x10, mft_ref_value(70, 1));
    for (const uint32_t type : {0x30u, 0x80u}) {
      const auto e = vesk_test::attr_list_entry(type, mft_ref_value(70, 1));
      entries.insert(entries.end(), e.begin(), e.end());
    }
    vesk_test::place_record(
        self_list, 0,
        vesk_test::file_record(
            70, 1, 1, 0,
            {si, resident_attr(0x20, entries),
             vesk_test::nonresident_attr(0x80, vesk_test::encode_runs({{2, 1}}), 4096, 900, 900)}));
    vesk_test::place_record(
        self_list, 1,
        vesk_test::file_record(
            71, 1, 1, mft_ref_value(70, 1),
            {resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"lost.bin"))}));
    self_list.resize(3 * 4096, 0x61);
    seeds["file_record"].push_back(detail::with_prefix({0xFF, 3}, self_list));
  }
  seeds["mft"].push_back(detail::with_prefix({0x01}, vol.bytes));
  seeds["mft"].push_back(detail::with_prefix({0x02 | (0x1F << 3)}, vol.mft));
  seeds["mft"].push_back(detail::with_prefix({0x06 | (0x08 << 3)}, vol.mft));
  seeds["mft"].push_back(detail::with_prefix({0x00}, vol.mft));

  // Run lists over the volume's clusters: split, sparse, the table's own,
  // a backward step; whole content and a piece from a later cluster.
  const std::vector<std::vector<vesk_test::ntfs_run>> lists = {
      {{40, 2}, {50, 2}},
      {{vesk_test::k_sparse_run, 1000}, {85, 1}},
      {{v::mft_lcn, 24}, {v::second_piece_lcn, 16}},
      {{90, 3}, {33, 4}, {vesk_test::k_sparse_run, 2}, {60, 1}}};
  for (const auto& runs : lists) {
    std::vector<uint8_t> body = vesk_test::encode_runs(runs);
    body.push_back(0);
    body.insert(body.end(), vol.bytes.begin(), vol.bytes.end());
    seeds["cluster_runs"].push_back(detail::with_prefix({0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, body));
    seeds["cluster_runs"].push_back(
        detail::with_prefix({0, 0x1A, 1, 0, 0, 0, 0x08, 0x07, 0, 0}, body));
  }

  std::vector<uint8_t> journal = {0, 0, 1, 0};
  for (uint16_t version : {2, 3, 4}) {
    const auto r = detail::usn_seed_record(version, u"report.docx");
    journal.insert(journal.end(), r.begin(), r.end());
  }
  seeds["usn_secure"].push_back(journal);
  // $Secure's $SII entries: key, hash, id, offset, size.
  vesk_test::byte_builder sii;
  sii.u32(0x100).u32(0x9A8B7C6D).u32(0x100).u64(0x40).u32(0x78);
  sii.u32(0x101).u32(0x11223344).u32(0x101).u64(0xB8).u32(0x80);
  seeds["usn_secure"].push_back(detail::with_prefix({0, 0, 1, 0}, sii.take()));

  std::vector<uint8_t> boot(vol.bytes.begin(), vol.bytes.begin() + 512);
  seeds["field_dump"].push_back(detail::with_prefix({30}, boot));
  seeds["field_dump"].push_back(detail::with_prefix({0xC0 | 20}, boot));
  seeds["field_dump"].push_back(detail::with_prefix(
      {24},
      std::vector<uint8_t>(vol.mft.begin() + 5 * v::record, vol.mft.begin() + 6 * v::record)));
}

}  // namespace vesk_fuzz
