// Test-only writer of serialized property storages ("1SPS"): integer- and
// string-named values of any vartype, with any declared size, so that tests
// and fuzz seeds make their own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "shell/propstore_layout.h"

namespace vesk_test {

using prop_bytes_t = std::vector<uint8_t>;
namespace layout = vk::propstore;

// Writes bytes at an absolute position of a builder, growing it as needed.
inline byte_builder& put_bytes(byte_builder& b, size_t at, const prop_bytes_t& v) {
  for (size_t i = 0; i < v.size(); ++i) b.put_u8(at + i, v[i]);
  return b;
}

// The string-named set D5CDD505-2E9C-101B-9397-08002B2CF9AE.
inline prop_bytes_t string_named_fmtid() {
  return {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
          0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
}
// B725F130-47EF-101A-A5F1-02608C9EEBAC (item names, sizes, times).
inline prop_bytes_t storage_fmtid_b725() {
  return {0x30, 0xF1, 0x25, 0xB7, 0xEF, 0x47, 0x1A, 0x10,
          0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC};
}

// Value data of common vartypes (what follows the VARTYPE and its padding).
inline prop_bytes_t lpwstr_data(std::u16string_view s) {
  byte_builder b;
  b.u32(static_cast<uint32_t>(s.size() + 1)).utf16(s, true);
  return b.take();
}
inline prop_bytes_t u32_data(uint32_t v) {
  byte_builder b;
  b.u32(v);
  return b.take();
}
inline prop_bytes_t blob_data(const prop_bytes_t& bytes) {
  byte_builder b;
  b.u32(static_cast<uint32_t>(bytes.size())).bytes(bytes);
  return b.take();
}
// An array's data: its element type, its dimensions (each an element count
// and a first index of 0), then the elements' bytes as given.
inline prop_bytes_t array_data(uint32_t element_type, const std::vector<uint32_t>& dimensions,
                               const prop_bytes_t& elements) {
  byte_builder b;
  b.u32(element_type).u32(static_cast<uint32_t>(dimensions.size()));
  for (uint32_t d : dimensions) b.u32(d).u32(0);
  b.bytes(elements);
  return b.take();
}
inline prop_bytes_t stream_data(std::u16string_view name, const prop_bytes_t& data) {
  byte_builder b;
  b.u32(static_cast<uint32_t>(2 * (name.size() + 1))).utf16(name, true).bytes(data);
  return b.take();
}

// An integer-named value: size, id, reserved, VARTYPE, padding, data.
inline prop_bytes_t int_value(uint32_t pid, uint16_t vartype, const prop_bytes_t& data,
                              int64_t declared = -1) {
  namespace iv = layout::int_value;
  byte_builder b;
  b.put_u32(iv::pid, pid).put_u16(iv::vartype, vartype).pad_to(iv::data).bytes(data);
  b.put_u32(iv::size, static_cast<uint32_t>(declared >= 0 ? declared : int64_t(b.size())));
  return b.take();
}

// A string-named value: size, name size, reserved, name, VARTYPE, padding, data.
inline prop_bytes_t named_value(std::u16string_view name, uint16_t vartype,
                                const prop_bytes_t& data, int64_t declared = -1) {
  namespace nv = layout::named_value;
  byte_builder b;
  const uint32_t name_size = static_cast<uint32_t>(2 * (name.size() + 1));
  b.put_u32(nv::name_size, name_size).pad_to(nv::name).utf16(name, true);
  const size_t tail = b.size();
  b.put_u16(tail + nv::tail_vartype, vartype).pad_to(tail + nv::tail_data).bytes(data);
  b.put_u32(nv::size, static_cast<uint32_t>(declared >= 0 ? declared : int64_t(b.size())));
  return b.take();
}

// A storage: size, "1SPS", FMTID, values, and the 4-byte terminator unless
// terminate is false.
inline prop_bytes_t storage(const prop_bytes_t& fmtid, const std::vector<prop_bytes_t>& values,
                            bool terminate = true, int64_t declared = -1) {
  namespace st = layout::storage;
  byte_builder b;
  b.put_u32(st::version, st::version_value);
  put_bytes(b, st::fmtid, fmtid).pad_to(st::values);
  for (const auto& v : values) b.bytes(v);
  if (terminate) b.u32(0);
  b.put_u32(st::size, static_cast<uint32_t>(declared >= 0 ? declared : int64_t(b.size())));
  return b.take();
}

// 5AB5C75F-15E1-4D65-924A-04754567243C: id 6 is the search condition.
inline prop_bytes_t condition_set_fmtid() {
  return {0x5F, 0xC7, 0xB5, 0x5A, 0xE1, 0x15, 0x65, 0x4D,
          0x92, 0x4A, 0x04, 0x75, 0x45, 0x67, 0x24, 0x3C};
}
// The name under which special streams are filed.
inline constexpr std::u16string_view k_special_stream = u"prop4294967295";

// ---- search conditions ----

// 52F15C89-5A17-48E1-BBCD-46A3F89C7CC2, which starts every condition record.
inline prop_bytes_t condition_record_guid() {
  return {0x89, 0x5C, 0xF1, 0x52, 0x17, 0x5A, 0xE1, 0x48,
          0xBB, 0xCD, 0x46, 0xA3, 0xF8, 0x9C, 0x7C, 0xC2};
}
// 116F8D13-101E-4FA5-84D4-FF8279381935, at offset 4 of a condition tree.
inline prop_bytes_t condition_tree_guid() {
  return {0x13, 0x8D, 0x6F, 0x11, 0x1E, 0x10, 0xA5, 0x4F,
          0x84, 0xD4, 0xFF, 0x82, 0x79, 0x38, 0x19, 0x35};
}

// A property leaf (kind other than 1): GUID, kind, FMTID, id, 4 unread
// bytes, VARTYPE and the value data.
inline prop_bytes_t condition_record(const prop_bytes_t& fmtid, uint32_t pid, uint16_t vartype,
                                     const prop_bytes_t& data, uint32_t kind = 0) {
  namespace cr = layout::condition::record;
  byte_builder b;
  put_bytes(b, cr::guid, condition_record_guid()).put_u32(cr::kind, kind);
  put_bytes(b, cr::fmtid, fmtid).put_u32(cr::pid, pid).put_u16(cr::vartype, vartype);
  b.pad_to(cr::data).bytes(data);
  return b.take();
}
// A value record (kind 1) with its 64-bit value.
inline prop_bytes_t condition_value_record(uint64_t value) {
  namespace cr = layout::condition::record;
  byte_builder b;
  put_bytes(b, cr::guid, condition_record_guid()).put_u32(cr::kind, cr::value_kind);
  b.put_u64(cr::value, value).pad_to(cr::min_value_kind);
  return b.take();
}
// A condition tree: its size (unread, but not zero: a stream's data starts
// behind the zero bytes that follow its name), the tree GUID, its kind, then
// the records.
inline prop_bytes_t condition_tree(const std::vector<prop_bytes_t>& records, uint32_t kind = 0) {
  namespace ct = layout::condition::tree;
  byte_builder b;
  put_bytes(b, ct::guid, condition_tree_guid()).put_u32(ct::kind, kind).pad_to(ct::min_size);
  for (const auto& r : records) b.bytes(r);
  b.put_u32(0, static_cast<uint32_t>(b.size()));
  return b.take();
}
// A leaf as the autolist carries it: name "item" counted 4, the value's
// unit count and its text.
inline prop_bytes_t condition_leaf(std::u16string_view value) {
  namespace lf = layout::condition::leaf;
  byte_builder b;
  b.put_u16(lf::name_count, 4)
      .utf16(u"item")
      .put_u16(lf::value_count, static_cast<uint16_t>(value.size()));
  b.utf16(value).pad_to(lf::min_size);
  return b.take();
}

// ---- autolists ----

// 384EA5AE-ADE1-4E8A-8A9B-7BEA78FFF1E9, at offset 4 of an autolist.
inline prop_bytes_t autolist_guid() {
  return {0xAE, 0xA5, 0x4E, 0x38, 0xE1, 0xAD, 0x8A, 0x4E,
          0x8A, 0x9B, 0x7B, 0xEA, 0x78, 0xFF, 0xF1, 0xE9};
}
// One entry: 16 unread bytes, the u16 size of the ID list, the list, and
// the condition leaves behind it.
struct autolist_entry {
  prop_bytes_t idlist;
  std::vector<prop_bytes_t> leaves;
};
// The total size, the GUID, 20 unread bytes, the entries. The header test
// reads the u32 at 56, which takes in the first two bytes of the first
// list: an empty first list keeps it small.
inline prop_bytes_t autolist_stream(const std::vector<autolist_entry>& entries) {
  namespace al = layout::autolist;
  byte_builder b;
  put_bytes(b, al::guid, autolist_guid()).pad_to(al::entries);
  for (const auto& e : entries) {
    const size_t at = b.size();
    b.put_u16(at + al::entry::list_size, static_cast<uint16_t>(e.idlist.size())).bytes(e.idlist);
    for (const auto& leaf : e.leaves) b.bytes(leaf);
  }
  b.put_u32(al::total_size, static_cast<uint32_t>(b.size()));
  return b.take();
}

}  // namespace vesk_test
