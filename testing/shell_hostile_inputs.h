// Shell structures shaped to push their parsers: the starting points of the
// robustness tests' truncation walks and the seeds of the shell fuzz
// targets, written once for both.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_builder.h"
#include "idlist_writer.h"
#include "propstore_writer.h"

namespace vesk_test {

inline const bytes_t& hostile_guid() {
  static const bytes_t g = from_hex("e04fd020ea3a6910a2d808002b30309d");
  return g;
}

// Bodies for the single-structure readers: a version-5 0xBEEF block of id
// 11, a recycle-bin item, a CFSF header, a sized record with offsets, a URI
// item and a 0x45177777 block.
inline std::vector<bytes_t> item_reader_inputs() {
  std::vector<bytes_t> out;
  byte_builder v5;
  v5.u16(0).u16(5).u16(11).u16(0xBEEF).fill(8).utf16(u"name", true).u16(1).u16(2);
  v5.utf16(u"s1", true).utf16(u"s2", true).u64(111).u64(222).fill(12).u16(3).utf16(u"s3", true);
  v5.put_u16(0, static_cast<uint16_t>(v5.size()));
  out.push_back(v5.take());
  byte_builder recycle;
  recycle.u16(704).u16(0).u16(8).u16(0xBEEF).fill(8).u64(1).utf16(u"C:\\a\\b.txt", true);
  recycle.pad_to(300).utf16(u"b.txt", true).pad_to(544).utf16(u"$R123.txt", true).pad_to(704);
  out.push_back(recycle.take());
  byte_builder cfsf;
  cfsf.u16(21).u32(0x46534643).u16(21).pad_to(60);
  out.push_back(cfsf.take());
  byte_builder sized;
  sized.u16(40).u16(0).u16(30).fill(6).u16(16).fill(16).pad_to(40);
  out.push_back(sized.take());
  byte_builder items;
  items.u16(48).u8(0x61).u8(0x80).fill(4).utf16(u"http://x", true).pad_to(48);
  out.push_back(items.take());
  byte_builder b45;
  b45.u16(19).u16(0).u16(19).u32(0x45177777).pad_to(24);
  out.push_back(b45.take());
  return out;
}

// A root-folder item whose run holds (0,14) blocks, each carrying at +12 a
// root-folder item that reaches the run's end, so that each nested item's
// own run starts at the next block.
inline bytes_t nested_root_run(int blocks) {
  const size_t run_start = 20, block_size = 32;
  const size_t end = run_start + blocks * block_size + 2;  // the final u16 20
  byte_builder b;
  b.u16(static_cast<uint16_t>(end)).u8(0x1F).u8(0x50).bytes(hostile_guid());
  for (int k = 0; k < blocks; ++k) {
    size_t at = b.size();
    b.u16(32).u16(0).u16(14).u16(0xBEEF).u32(0);
    b.u16(static_cast<uint16_t>(end - (at + 12))).u8(0x1F).u8(0x50).bytes(hostile_guid());
  }
  b.u16(20);
  return b.take();
}

// An item of unknown type holding a 0xBEEF block whose back-offset names
// the item itself (0) or a point inside it (later items find the same block).
inline bytes_t self_pointing_item(uint16_t back_from_block) {
  byte_builder b;
  b.u16(0).u8(0x99).fill(17, 0x41);
  size_t s = b.size();
  b.u16(12).u16(0x41).u16(0x41).u16(0xBEEF).u16(0).u16(static_cast<uint16_t>(s - back_from_block));
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
}

// Small ID lists of many item kinds, self-pointing and nested blocks,
// version-dependent 0xBEEF blocks and a URI item.
inline std::vector<bytes_t> small_hostile_idlists() {
  const bytes_t& guid = hostile_guid();
  std::vector<bytes_t> out;
  out.push_back(from_hex(
      "5a00320034120000215a00602000544553542e5458540000420009000400efbe215a0060225a00002e00"
      "0000341200000000050000000000000000000000000000000000000074006500730074002e0074007800"
      "740000001800"));
  out.push_back(
      idlist({shell_item(0x1F, cat({{0x50}, guid})),
              shell_item(0x2F, cat({{'C', ':', '\\'}, bytes_t(19, 0)})),
              from_hex("20004100805c5c7365727665725c7368617265006465736300636f6d6d000000")}));
  out.push_back(idlist({self_pointing_item(10), shell_item(0x02, bytes_t(60, 0x41))}));
  out.push_back(idlist({nested_root_run(3)}));
  byte_builder uri;
  uri.u16(0).u8(0x61).fill(11).u64(1).fill(20).u32(3).ascii("abc").u32(2).ascii("de");
  uri.u32(3).ascii("ftp").fill(4);
  uri.put_u16(0, static_cast<uint16_t>(uri.size()));
  byte_builder beefs;
  beefs.u32(0).u64(133802064000000000ull).u64(1);
  bytes_t blocks =
      cat({beef_block(0, 37, beefs.take()), beef_block(5, 6, cat({utf16z(u"nm"), bytes_t(6, 0)})),
           beef_block(0, 20, bytes_t(70, 0x20)), beef_block(3, 4, bytes_t(40, 0x30)),
           beef_block(5, 11,
                      cat({bytes_t(8, 0), utf16z(u"x"), {1, 0}, utf16z(u"yy"), bytes_t(40, 0x42)})),
           beef_block(0, 8, bytes_t(696, 0x43))});
  out.push_back(idlist({uri.take(), shell_item(0x1F, cat({{0x50}, guid, blocks, {20, 0}}))}));
  out.push_back(idlist(
      {shell_item(0x71, cat({{0, 0, 0}, bytes_t(8, 0), guid, beef_block(0, 3, bytes_t(16, 7))})),
       shell_item(0x01, cat({{0, 0x84, 0x21, 0xDE, 0x39, 2, 0, 0, 0}})),
       shell_item(0x74, cat({{0, 0, 0}, bytes_t(40, 0x21)})), shell_item(0x52, bytes_t(60, 0x01)),
       shell_item(0x36, bytes_t(40, 0x61))}));
  return out;
}

// A CFSF item: size 22, "CFSF", the name "nm" at 20, two GUIDs at 24 and
// one extension block.
inline bytes_t cfsf_item() {
  return cat({from_hex("16004346534600000000000000000000000000006e6d0000"),
              from_hex("e04fd020ea3a6910a2d808002b30309d00000000000000000000000000000001"),
              file_entry_extension(0, 0x5A21, 0x6000, 0x5A22, 0, u"long.txt", 9, 2)});
}

// Records, each a leaf whose value is a condition stream holding a tree of
// every later record; the innermost holds one text leaf.
inline bytes_t nested_conditions(int depth) {
  bytes_t tree =
      condition_tree({condition_record(storage_fmtid_b725(), 10, 31, lpwstr_data(u"Innermost"))});
  for (int d = 0; d < depth; ++d)
    tree = condition_tree(
        {condition_record(condition_set_fmtid(), 6, 66, stream_data(k_special_stream, tree))});
  return storage(condition_set_fmtid(), {int_value(6, 66, stream_data(k_special_stream, tree))});
}

// Property storages: typed and vector values, named values, a condition
// stream and nested condition streams.
inline std::vector<bytes_t> hostile_storages() {
  return {
      cat({storage(storage_fmtid_b725(),
                   {int_value(10, 31, lpwstr_data(u"one")),
                    int_value(12, 0x1013, {2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}),
                    int_value(13, 0x100B, {3, 0, 0, 0, 0xFF, 0xFF, 0, 0, 1, 0}),
                    int_value(4, 66, stream_data(u"s", {1, 2, 3}))}),
           storage(string_named_fmtid(), {named_value(u"Title", 31, lpwstr_data(u"Report")),
                                          named_value(u"n", 8, {4, 0, 0, 0, 'a', 0, 'b', 0})})}),
      storage(condition_set_fmtid(),
              {int_value(6, 66,
                         stream_data(k_special_stream,
                                     condition_tree({condition_record(storage_fmtid_b725(), 10, 31,
                                                                      lpwstr_data(u"Alpha")),
                                                     condition_value_record(7)})))}),
      nested_conditions(3),
  };
}

// An autolist stream of an empty and a one-item list.
inline bytes_t hostile_autolist() {
  const bytes_t root = shell_item(0x1F, cat({{0x50}, hostile_guid()}));
  return autolist_stream({{{0, 0}, {}}, {idlist({root}), {condition_leaf(u"w")}}});
}

// Runs of the structures the embedded-structure scan finds inside items.
inline std::vector<bytes_t> hostile_embedded() {
  const bytes_t& guid = hostile_guid();
  const bytes_t root = shell_item(0x1F, cat({{0x50}, guid}));
  const bytes_t file = file_entry_item(0x32, 10, 0x5A21, 0x6000, 0x20, "a.txt");
  byte_builder plist;
  plist.u32(13).bytes(guid).u32(1).bytes(storage_fmtid_b725()).u32(10).u16(31).u16(0);
  plist.bytes(lpwstr_data(u"listed"));
  byte_builder string_value;
  string_value.fill(40).u32(29).u32(10).u8(0).u32(31).u32(6).utf16(u"Named", true);
  return {
      cat({cfsf_record(0x10, 5, 0x5A21, 0x6000, "n.txt",
                       beef_block(0, 3, cat({guid, bytes_t(2, 0)}))),
           three_string_record(0x07192006, true, u"a", u"b", u"c", plist.data()),
           three_string_record(0x08312006, true, u"d", u"e", u"f", plist.data()),
           three_string_record(0x08312006, false, u"g", u"h", u"i", plist.data())}),
      cat({f5a6b710_record(root, idlist({root})), augm_record(3, {file, file}),
           sized_record(26, guid, 3, beef_block(0, 3, cat({guid, bytes_t(2, 0)}))),
           untyped_time(3, 133802064000000000ull, "nm", u"tx"),
           c001b000_record(u"first", {u"second"}), untyped_text(u"end", 0, false)}),
      string_value.take(),
  };
}

}  // namespace vesk_test
