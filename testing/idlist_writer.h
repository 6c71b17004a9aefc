// Test-only writer of shell-item ID lists: items of every type the parsers
// decode, 0xBEEF extension blocks, and any declared size (right or wrong),
// so that tests, link writers and fuzz seeds make their own bytes.
#pragma once

#include <algorithm>
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

// ---- structures found inside items by the embedded-structure scanner ----

// "CFSF": size, inner length at 4 (size - 4 unless given), signature, flags
// at 12, file size at 14, DOS date and time at 18, 8-bit name at 24, the
// 0xBEEF run, and the run's offset in the last u16.
inline bytes_t cfsf_record(uint8_t flags, uint32_t file_size, uint16_t dos_date,
                           uint16_t dos_time, std::string_view name, const bytes_t& blocks = {},
                           int inner = -1) {
  byte_builder b;
  b.u16(0).u16(0).u16(0).u32(0x46534643).u16(0).u8(flags).u8(0).u32(file_size);
  b.u16(dos_date).u16(dos_time).u16(0).ascii(name).u8(0);
  if (b.size() % 2) b.u8(0);
  const size_t run_at = blocks.empty() ? 0 : b.size();
  b.bytes(blocks).u16(static_cast<uint16_t>(run_at));
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  b.put_u16(4, static_cast<uint16_t>(inner >= 0 ? inner : int(b.size()) - 4));
  return b.take();
}

// A three-string structure. Outer forms (signature 0x07192006 or
// 0x10312005, or the outer 0x08312006) carry 4 bytes in front of the inner
// length; the inner 0x08312006 form starts with its own size. The property
// list (an embedded list: 13, GUID, 1, entries) ends the structure.
inline bytes_t three_string_record(uint32_t signature, bool outer, std::u16string_view s1,
                                   std::u16string_view s2, std::u16string_view s3,
                                   const bytes_t& property_list = {}) {
  // (list length, first count, first string) of each form
  size_t m_at = 18, c_at = 22, s_at = 34;
  if (signature == 0x07192006) {
    m_at = 58, c_at = 62, s_at = 74;
  } else if (signature == 0x10312005) {
    m_at = 34, c_at = 38, s_at = 54;
  } else if (outer) {
    m_at += 4, c_at += 4, s_at += 4;
  }
  byte_builder b;
  b.pad_to(s_at);
  b.put_u32(outer ? 6 : 2, signature).put_u32(m_at, static_cast<uint32_t>(property_list.size()));
  b.put_u32(c_at, static_cast<uint32_t>(s1.size())).put_u32(c_at + 4, static_cast<uint32_t>(s2.size()));
  b.put_u32(c_at + 8, static_cast<uint32_t>(s3.size()));
  b.utf16(s1).utf16(s2).utf16(s3).u16(0).bytes(property_list);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  if (outer) b.put_u16(4, static_cast<uint16_t>(b.size() - 4));
  return b.take();
}

// 0xF5A6B710: size, k at 4, signature, a shell item at 10 (its size n is
// the u16 there), then the bytes at 10 + n: an ID list, read also as the
// GUIDs at k + 6 (k = n + 4 unless given).
inline bytes_t f5a6b710_record(const bytes_t& item, const bytes_t& tail, int k = -1) {
  byte_builder b;
  b.u16(0).u16(0).u16(0).u32(0xF5A6B710).bytes(item).bytes(tail);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  b.put_u16(4, static_cast<uint16_t>(k >= 0 ? k : int(item.size()) + 4));
  return b.take();
}

// "AugM": size, signature, d at 8, count at 12, the first item at d + 16,
// each later one 6 bytes after the end of the one before.
inline bytes_t augm_record(uint32_t count, const std::vector<bytes_t>& items, uint32_t d = 0) {
  byte_builder b;
  b.u16(0).u16(0).u32(0x4D677541).u32(d).u32(count).fill(d);  // "AugM"
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) b.fill(6);
    b.bytes(items[i]);
  }
  b.put_u16(0, static_cast<uint16_t>(std::min<size_t>(b.size(), 0xFFFF)));
  return b.take();
}

// A sized record with offsets: size, a at 4, b at 12, b bytes of GUID data
// at 14, padding zeros, then 0xBEEF blocks.
inline bytes_t sized_record(uint16_t a, const bytes_t& guid_data, size_t padding,
                            const bytes_t& blocks) {
  byte_builder b;
  b.u16(0).u16(0).u16(a).fill(6).u16(static_cast<uint16_t>(guid_data.size())).bytes(guid_data);
  b.fill(padding).bytes(blocks);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
}

// Untyped records: a text at 6, or a time record (w at 6 below 32, FILETIME
// at 22, 8-bit name at 38, zeros, UTF-16 text).
inline bytes_t untyped_text(std::u16string_view text, size_t pad = 0, bool terminate = true) {
  byte_builder b;
  b.u16(0).u16(0).u16(0).utf16(text, terminate).fill(pad);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
}
inline bytes_t untyped_time(uint16_t w, uint64_t filetime, std::string_view name,
                            std::u16string_view text) {
  byte_builder b;
  b.u16(0).u16(0).u16(0).u16(w).pad_to(22).u64(filetime).pad_to(38).ascii(name).u8(0).fill(3);
  b.utf16(text, true);
  b.put_u16(0, static_cast<uint16_t>(b.size()));
  return b.take();
}

// 0xC001B000: u32 size, signature, L at 8, t0 at 20, the first text at 24,
// then entries (16 bytes, u32 byte length, UTF-16 text) and a zero unit.
inline bytes_t c001b000_record(std::u16string_view first,
                               const std::vector<std::u16string_view>& entries) {
  byte_builder b;
  b.u32(0).u32(0xC001B000).u16(0).pad_to(20).u32(static_cast<uint32_t>(2 * first.size() + 2));
  b.utf16(first, true);
  for (auto e : entries) b.fill(16).u32(static_cast<uint32_t>(2 * e.size() + 2)).utf16(e, true);
  b.u16(0);
  b.put_u32(0, static_cast<uint32_t>(b.size())).put_u16(8, static_cast<uint16_t>(b.size()));
  return b.take();
}

}  // namespace vesk_test
