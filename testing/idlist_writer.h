// Test-only writer of shell-item ID lists: items of every type the parsers
// decode, 0xBEEF extension blocks, and any declared size (right or wrong),
// so that tests, link writers and fuzz seeds make their own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"

namespace vesk_test {

using bytes_t = std::vector<uint8_t>;

inline bytes_t cat(std::initializer_list<bytes_t> parts) {
  bytes_t out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// u16 size (the real one unless declared is given), type byte, body.
inline bytes_t shell_item(uint8_t type, const bytes_t& body, int declared = -1) {
  byte_builder b;
  b.u16(static_cast<uint16_t>(declared >= 0 ? declared : body.size() + 3)).u8(type).bytes(body);
  return b.take();
}

// An 0xBEEF block: size, version, identifier, signature, body.
inline bytes_t beef_block(uint16_t version, uint16_t id, const bytes_t& body, int declared = -1) {
  byte_builder b;
  b.u16(static_cast<uint16_t>(declared >= 0 ? declared : body.size() + 8))
      .u16(version).u16(id).u16(0xBEEF).bytes(body);
  return b.take();
}

inline bytes_t utf16z(std::u16string_view s) {
  byte_builder b;
  b.utf16(s, true);
  return b.take();
}
inline bytes_t asciiz(std::string_view s) {
  byte_builder b;
  b.ascii(s);
  b.u8(0);
  return b.take();
}

// A version-9 file-entry extension block with its long name, the two DOS
// times and the MFT reference; its last u16 is the block's offset in the item.
inline bytes_t file_entry_extension(uint16_t offset_in_item, uint16_t created_date,
                                    uint16_t created_time, uint16_t accessed_date,
                                    uint16_t accessed_time, std::u16string_view long_name,
                                    uint64_t mft_entry, uint16_t mft_sequence) {
  byte_builder b;
  b.u16(created_date).u16(created_time).u16(accessed_date).u16(accessed_time);
  b.u16(46).u16(0).u32(static_cast<uint32_t>(mft_entry))
      .u16(static_cast<uint16_t>(mft_entry >> 32)).u16(mft_sequence);
  b.pad_to(38);
  b.bytes(utf16z(long_name)).u16(offset_in_item);
  return beef_block(9, 4, b.take());
}

// A file-entry item (8-bit name) followed by one extension block whose last
// u16, the block's offset in the item, is also the item's last u16.
inline bytes_t file_entry_item(uint8_t type, uint32_t file_size, uint16_t dos_date,
                               uint16_t dos_time, uint16_t attributes, std::string_view name,
                               const bytes_t& blocks = {}) {
  byte_builder b;
  b.u8(0).u32(file_size).u16(dos_date).u16(dos_time).u16(attributes).ascii(name).u8(0);
  if ((3 + b.size()) % 2) b.u8(0);  // the blocks start at an even offset
  uint16_t block_at = static_cast<uint16_t>(b.size() + 3);
  bytes_t patched = blocks;
  if (patched.size() >= 8) {  // the first block's last u16 is its offset in the item
    size_t first = patched[0] | (patched[1] << 8);
    if (first >= 2 && first <= patched.size()) {
      patched[first - 2] = static_cast<uint8_t>(block_at);
      patched[first - 1] = static_cast<uint8_t>(block_at >> 8);
    }
  }
  b.bytes(patched);  // the last block's last u16 ends the item too
  if (blocks.empty()) b.u16(0);
  return shell_item(type, b.take());
}

// Items one after another and the terminating zero u16.
inline bytes_t idlist(std::initializer_list<bytes_t> items, bool terminate = true) {
  bytes_t out = cat(items);
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

inline bytes_t from_hex(std::string_view hex) {
  bytes_t out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

}  // namespace vesk_test
