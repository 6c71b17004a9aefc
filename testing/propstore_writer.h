// Test-only writer of serialized property storages ("1SPS"): integer- and
// string-named values of any vartype, with any declared size, so that tests
// and fuzz seeds make their own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"

namespace vesk_test {

using prop_bytes_t = std::vector<uint8_t>;

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
inline prop_bytes_t stream_data(std::u16string_view name, const prop_bytes_t& data) {
  byte_builder b;
  b.u32(static_cast<uint32_t>(2 * (name.size() + 1))).utf16(name, true).bytes(data);
  return b.take();
}

// An integer-named value: size, id, reserved, VARTYPE, padding, data.
inline prop_bytes_t int_value(uint32_t pid, uint16_t vartype, const prop_bytes_t& data,
                              int64_t declared = -1) {
  byte_builder b;
  b.u32(static_cast<uint32_t>(declared >= 0 ? declared : int64_t(data.size()) + 13))
      .u32(pid).u8(0).u16(vartype).u16(0).bytes(data);
  return b.take();
}

// A string-named value: size, name size, reserved, name, VARTYPE, padding, data.
inline prop_bytes_t named_value(std::u16string_view name, uint16_t vartype,
                                const prop_bytes_t& data, int64_t declared = -1) {
  byte_builder b;
  const uint32_t name_size = static_cast<uint32_t>(2 * (name.size() + 1));
  const uint32_t real = 9 + name_size + 4 + static_cast<uint32_t>(data.size());
  b.u32(static_cast<uint32_t>(declared >= 0 ? declared : real)).u32(name_size).u8(0)
      .utf16(name, true).u16(vartype).u16(0).bytes(data);
  return b.take();
}

// A storage: size, "1SPS", FMTID, values, and the 4-byte terminator unless
// terminate is false.
inline prop_bytes_t storage(const prop_bytes_t& fmtid, const std::vector<prop_bytes_t>& values,
                            bool terminate = true, int64_t declared = -1) {
  byte_builder b;
  b.u32(0).u32(0x53505331).bytes(fmtid);
  for (const auto& v : values) b.bytes(v);
  if (terminate) b.u32(0);
  b.put_u32(0, static_cast<uint32_t>(declared >= 0 ? declared : int64_t(b.size())));
  return b.take();
}

}  // namespace vesk_test
