// NTFS FILE records built in code: attributes ($STANDARD_INFORMATION,
// $FILE_NAME, attribute lists, resident and non-resident streams) packed
// into a record with its update-sequence array, and images of records laid
// out slot by slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"

namespace vesk_test {

inline uint64_t mft_ref_value(uint64_t entry, uint16_t sequence) {
  return (entry & 0xFFFFFFFFFFFFull) | (uint64_t{sequence} << 48);
}

inline std::vector<uint8_t> std_info_value(uint64_t created, uint64_t modified, uint64_t changed,
                                           uint64_t accessed, uint32_t attributes, size_t size = 72,
                                           uint64_t usn = 0) {
  byte_builder b;
  b.u64(created).u64(modified).u64(changed).u64(accessed).u32(attributes).pad_to(size);
  if (size >= 72) b.put_u64(64, usn);
  return b.take();
}

inline std::vector<uint8_t> file_name_value(uint64_t parent_ref, const std::u16string& name,
                                            uint8_t name_space = 1, uint64_t time = 0,
                                            uint64_t allocated = 0, uint64_t real = 0) {
  byte_builder b;
  b.u64(parent_ref).u64(time).u64(time + 1).u64(time + 2).u64(time + 3);
  b.u64(allocated).u64(real).u32(0).u32(0);
  b.u8(static_cast<uint8_t>(name.size())).u8(name_space).utf16(name);
  return b.take();
}

inline size_t align8(size_t n) {
  return (n + 7) & ~size_t{7};
}

inline std::vector<uint8_t> resident_attr(uint32_t type, const std::vector<uint8_t>& value,
                                          const std::u16string& name = u"") {
  const size_t name_at = 24;
  const size_t value_at = align8(name_at + 2 * name.size());
  byte_builder b;
  b.u32(type).u32(0).u8(0).u8(static_cast<uint8_t>(name.size()));
  b.u16(static_cast<uint16_t>(name.empty() ? 0 : name_at)).u16(0).u16(0);
  b.u32(static_cast<uint32_t>(value.size())).u16(static_cast<uint16_t>(value_at)).u8(0).u8(0);
  b.utf16(name).pad_to(value_at).bytes(value).pad_to(align8(value_at + value.size()));
  b.put_u32(4, static_cast<uint32_t>(b.size()));
  return b.take();
}

// flags: the attribute header's flags (0x0001 compressed); compression_unit:
// the log2 of the clusters per compression unit.
inline std::vector<uint8_t> nonresident_attr(uint32_t type, const std::vector<uint8_t>& runs,
                                             uint64_t allocated, uint64_t real,
                                             uint64_t initialized, uint64_t start_vcn = 0,
                                             const std::u16string& name = u"", uint16_t flags = 0,
                                             uint16_t compression_unit = 0) {
  const size_t name_at = 64;
  const size_t runs_at = align8(name_at + 2 * name.size());
  byte_builder b;
  b.u32(type).u32(0).u8(1).u8(static_cast<uint8_t>(name.size()));
  b.u16(static_cast<uint16_t>(name.empty() ? 0 : name_at)).u16(flags).u16(0);
  // The last virtual cluster is the one the runs end at (one before the
  // first for no runs), as far as their headers can be walked.
  uint64_t clusters = 0;
  for (size_t at = 0; at < runs.size() && runs[at] != 0;) {
    const size_t l = runs[at] & 15, o = runs[at] >> 4;
    if (l == 0 || l > 8 || at + 1 + l + o > runs.size()) break;
    uint64_t count = 0;
    for (size_t k = 0; k < l; ++k) count |= uint64_t{runs[at + 1 + k]} << (8 * k);
    clusters += count;
    at += 1 + l + o;
  }
  b.u64(start_vcn).u64(start_vcn + clusters - 1);
  b.u16(static_cast<uint16_t>(runs_at)).u16(compression_unit).u32(0);
  b.u64(allocated).u64(real).u64(initialized);
  b.utf16(name).pad_to(runs_at).bytes(runs).u8(0).pad_to(align8(runs_at + runs.size() + 1));
  b.put_u32(4, static_cast<uint32_t>(b.size()));
  return b.take();
}

inline std::vector<uint8_t> attr_list_entry(uint32_t type, uint64_t record_ref,
                                            uint16_t length = 32) {
  byte_builder b;
  b.u32(type).u16(length).u8(0).u8(26).u64(0).u64(record_ref).u16(0).pad_to(length);
  return b.take();
}

// A FILE record of size bytes with count update-sequence entries; the last
// two bytes of each 512-byte sector are saved in the array and replaced by
// the sequence number, as on disk.
inline std::vector<uint8_t> file_record(uint32_t entry, uint16_t sequence, uint16_t flags,
                                        uint64_t base_ref,
                                        const std::vector<std::vector<uint8_t>>& attributes,
                                        size_t size = 1024, uint16_t count = 3,
                                        uint16_t first_attr = 0) {
  byte_builder b;
  b.ascii("FILE").u16(48).u16(count).u64(0x1234).u16(sequence).u16(1);
  const size_t first = first_attr ? first_attr : align8(48 + 2 * size_t{count});
  b.u16(static_cast<uint16_t>(first)).u16(flags).u32(0).u32(static_cast<uint32_t>(size));
  b.u64(base_ref).u16(0).u16(0).u32(entry);
  b.pad_to(first);
  for (const auto& a : attributes) b.bytes(a);
  b.u32(0xFFFFFFFF).u32(0);
  b.put_u32(24, static_cast<uint32_t>(b.size()));
  b.pad_to(size);
  std::vector<uint8_t> r = b.take();
  const uint16_t usn = 0x0101;
  if (48 + 2 * size_t{count} <= r.size()) {
    r[48] = usn & 0xFF;
    r[49] = usn >> 8;
    for (size_t i = 1; i < count && i * 512 <= r.size(); ++i) {
      r[48 + 2 * i] = r[i * 512 - 2];
      r[49 + 2 * i] = r[i * 512 - 1];
      r[i * 512 - 2] = usn & 0xFF;
      r[i * 512 - 1] = usn >> 8;
    }
  }
  return r;
}

// Records placed at their slot (index x record size) of an image.
inline void place_record(std::vector<uint8_t>& image, size_t slot,
                         const std::vector<uint8_t>& record) {
  const size_t at = slot * record.size();
  if (image.size() < at + record.size()) image.resize(at + record.size());
  std::copy(record.begin(), record.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace vesk_test
