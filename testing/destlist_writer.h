// Test-only writer of DestList streams in both entry layouts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"

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
  byte_builder b;
  b.u64(e.checksum);
  for (const auto& d : e.droids) b.bytes(std::vector<uint8_t>(d.begin(), d.end()));
  for (size_t i = 0; i < 16; ++i) b.u8(i < e.host.size() ? static_cast<uint8_t>(e.host[i]) : 0);
  b.u64(e.entry_num);
  b.u32(0xAAAAAAAAu);  // not read
  b.u64(e.mru_time);
  b.u32(e.pin_status);
  if (!v1) {
    b.u32(0xBBBBBBBBu);  // not read
    b.u32(e.access_count);
    b.u64(0xCCCCCCCCCCCCCCCCull);  // not read
  }
  uint16_t length = e.length_override >= 0 ? static_cast<uint16_t>(e.length_override)
                                           : static_cast<uint16_t>(e.path.size());
  b.u16(length);
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
  b.u32(version);
  b.u32(static_cast<uint32_t>(entries.size()));
  b.fill(24, 0);
  for (const auto& e : entries) b.bytes(destlist_entry_bytes(e, version == 1));
  return b.take();
}

}  // namespace vesk_test
