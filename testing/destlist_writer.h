// Test-only writer of DestList streams in both entry layouts.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "jumplist/destlist_layout.h"

namespace vesk_test {

struct destlist_test_entry {
  uint64_t checksum = 0x1122334455667788ull;
  std::array<std::array<uint8_t, 16>, 4> droids{};
  std::string host = "HOST";  // written into the 16-byte field, cut at 16
  uint64_t entry_num = 1;
  uint64_t mru_time = 0x01D5A1B2C3D4E5F6ull;
  uint32_t pin_status = 0xFFFFFFFFu;
  uint32_t access_count = 3;
  std::u16string path = u"C:\\Users\\x\\file.txt";
  // Later layout only: the property storage after the path (its byte count
  // is written before it).
  std::vector<uint8_t> property_storage;
  // When set, the path length field says this instead of path.size().
  int32_t length_override = -1;
};

inline std::vector<uint8_t> destlist_entry_bytes(const destlist_test_entry& e, bool v1) {
  namespace entry = vk::destlist::entry;
  const size_t length_at =
      v1 ? vk::destlist::entry_114::path_length : vk::destlist::entry_130::path_length;
  byte_builder b;
  b.put_u64(entry::checksum, e.checksum);
  for (size_t i = 0; i < entry::droid_count; ++i)
    for (size_t k = 0; k < entry::droid_size; ++k)
      b.put_u8(entry::droids + entry::droid_size * i + k, e.droids[i][k]);
  for (size_t i = 0; i < entry::host_name_size; ++i)
    b.put_u8(entry::host_name + i, i < e.host.size() ? static_cast<uint8_t>(e.host[i]) : 0);
  b.put_u64(entry::entry_num, e.entry_num);
  b.put_u32(entry::entry_num + 8, 0xAAAAAAAAu);  // not read
  b.put_u64(entry::mru_time, e.mru_time);
  b.put_u32(entry::pin_status, e.pin_status);
  if (!v1) {
    b.put_u32(entry::pin_status + 4, 0xBBBBBBBBu);  // not read
    b.put_u32(vk::destlist::entry_130::access_count, e.access_count);
    b.put_u64(vk::destlist::entry_130::access_count + 4, 0xCCCCCCCCCCCCCCCCull);  // not read
  }
  uint16_t length = e.length_override >= 0 ? static_cast<uint16_t>(e.length_override)
                                           : static_cast<uint16_t>(e.path.size());
  b.put_u16(length_at, length);
  b.utf16(e.path);
  if (!v1) {
    b.u32(static_cast<uint32_t>(e.property_storage.size()));
    b.bytes(e.property_storage);
  }
  return b.take();
}

inline std::vector<uint8_t> build_destlist(uint32_t version,
                                           const std::vector<destlist_test_entry>& entries) {
  byte_builder b;
  b.put_u32(vk::destlist::header::version, version);
  b.put_u32(vk::destlist::header::entry_count, static_cast<uint32_t>(entries.size()));
  // The header's counts agree with the entries, as Windows writes them.
  uint32_t pinned = 0;
  uint64_t last = 0;
  for (const auto& e : entries) {
    pinned += e.pin_status != vk::destlist::entry::unpinned;
    last = std::max(last, e.entry_num);
  }
  b.put_u32(vk::destlist::header::pinned_count, pinned);
  b.put_u64(vk::destlist::header::last_entry_number, last);
  b.pad_to(vk::destlist::header::size);
  for (const auto& e : entries) b.bytes(destlist_entry_bytes(e, version == 1));
  return b.take();
}

// A version-4 DestList whose entries name the given stream numbers, each with
// its own interaction count and MRU time, so rows can be told apart.
inline std::vector<uint8_t> build_destlist_naming(const std::vector<uint64_t>& named) {
  std::vector<destlist_test_entry> entries(named.size());
  for (size_t i = 0; i < named.size(); ++i) {
    entries[i].entry_num = named[i];
    entries[i].access_count = static_cast<uint32_t>(i + 3);
    entries[i].mru_time += i * 10000000;
  }
  return build_destlist(4, entries);
}

}  // namespace vesk_test
