// Test-only writer of shell-item ID lists: items of every type the parsers
// decode, 0xBEEF extension blocks, and any declared size (right or wrong),
// so that tests, link writers and fuzz seeds make their own bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "shell/item_layout.h"

namespace vesk_test {

using bytes_t = std::vector<uint8_t>;
namespace item_layout = vk::item_layout;

inline bytes_t cat(std::initializer_list<bytes_t> parts) {
  bytes_t out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// u16 size (the real one unless declared is given), type byte, body.
inline bytes_t shell_item(uint8_t type, const bytes_t& body, int declared = -1) {
  byte_builder b;
  b.u16(static_cast<uint16_t>(declared >= 0 ? declared
                                            : body.size() + item_layout::item::header_size))
      .u8(type)
      .bytes(body);
  return b.take();
}

// An 0xBEEF block: size, version, identifier, signature, body.
inline bytes_t beef_block(uint16_t version, uint16_t id, const bytes_t& body, int declared = -1) {
  namespace B = item_layout::beef;
  byte_builder b;
  b.u16(static_cast<uint16_t>(declared >= 0 ? declared : body.size() + B::header_size))
      .u16(version)
      .u16(id)
      .u16(B::signature)
      .bytes(body);
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
  namespace F = item_layout::beef::file_ext;
  constexpr size_t h = item_layout::beef::header_size;  // the body starts after the header
  byte_builder b;
  b.put_u16(F::created - h, created_date).put_u16(F::created + 2 - h, created_time);
  b.put_u16(F::accessed - h, accessed_date).put_u16(F::accessed + 2 - h, accessed_time);
  b.put_u16(F::long_name - h, static_cast<uint16_t>(F::v9_names));
  b.put_u32(F::mft_low - h, static_cast<uint32_t>(mft_entry));
  b.put_u16(F::mft_high - h, static_cast<uint16_t>(mft_entry >> 32));
  b.put_u16(F::mft_sequence - h, mft_sequence);
  b.pad_to(F::v9_names - h);
  b.bytes(utf16z(long_name)).u16(offset_in_item);
  return beef_block(9, 4, b.take());
}

// A file-entry extension block of version 3, 7, 8 or 9 as Windows lays it
// out: the DOS times (2025-01-01 12:00 created, 2025-01-02 accessed), the
// long name's offset where the version's fixed fields end, the MFT
// reference 0x1234 / 5 (versions 7 to 9), the long name, then the localized
// name (8-bit in version 3, UTF-16 after) with its offset (at 18 in version
// 3, at 36 after), and a last u16 of 0 (file_entry_item sets it).
inline bytes_t versioned_file_extension(uint16_t version, std::u16string_view long_name,
                                        std::u16string_view localized) {
  namespace F = item_layout::beef::file_ext;
  constexpr size_t h = item_layout::beef::header_size;
  const size_t names = static_cast<size_t>(F::names_at(version));
  byte_builder b;
  b.put_u16(F::created - h, 0x5A21).put_u16(F::created + 2 - h, 0x6000);
  b.put_u16(F::accessed - h, 0x5A22).put_u16(F::long_name - h, static_cast<uint16_t>(names));
  if (version != 3) b.put_u32(F::mft_low - h, 0x1234).put_u16(F::mft_sequence - h, 5);
  b.pad_to(names - h).utf16(long_name, true);
  if (!localized.empty()) {
    b.put_u16((version == 3 ? F::second : F::localized) - h, static_cast<uint16_t>(b.size() + h));
    if (version == 3) {
      for (char16_t c : localized) b.u8(static_cast<uint8_t>(c));
      b.u8(0);
      if (b.size() % 2) b.u8(0);
    } else {
      b.utf16(localized, true);
    }
  }
  b.u16(0);
  return beef_block(version, 4, b.take());
}

// A file-entry item (8-bit name) followed by one extension block whose last
// u16, the block's offset in the item, is also the item's last u16.
inline bytes_t file_entry_item(uint8_t type, uint32_t file_size, uint16_t dos_date,
                               uint16_t dos_time, uint16_t attributes, std::string_view name,
                               const bytes_t& blocks = {}) {
  namespace F = item_layout::file_entry;
  constexpr size_t h = item_layout::item::header_size;  // the body starts after the header
  // The fields follow each other from the sort byte at 3 on.
  static_assert(F::file_size == h + 1 && F::dos_date == F::file_size + 4 &&
                F::dos_time == F::dos_date + 2 && F::attributes == F::dos_time + 2 &&
                F::name == F::attributes + 2);
  byte_builder b;
  b.u8(0).u32(file_size).u16(dos_date).u16(dos_time).u16(attributes).ascii(name).u8(0);
  if ((h + b.size()) % 2) b.u8(0);  // the blocks start at an even offset
  uint16_t block_at = static_cast<uint16_t>(b.size() + h);
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
inline bytes_t cfsf_record(uint8_t flags, uint32_t file_size, uint16_t dos_date, uint16_t dos_time,
                           std::string_view name, const bytes_t& blocks = {}, int inner = -1) {
  namespace C = item_layout::embedded::cfsf;
  byte_builder b;
  b.put_u32(C::signature_at, C::signature);
  b.put_u8(C::flags, flags).put_u32(C::file_size, file_size);
  b.put_u16(C::dos_date, dos_date).put_u16(C::dos_time, dos_time);
  b.pad_to(C::name).ascii(name).u8(0);
  if (b.size() % 2) b.u8(0);
  const size_t run_at = blocks.empty() ? 0 : b.size();
  b.bytes(blocks).u16(static_cast<uint16_t>(run_at));
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  b.put_u16(C::inner, static_cast<uint16_t>(inner >= 0 ? inner : int(b.size()) - C::inner_extra));
  return b.take();
}

// A three-string structure. Outer forms (signature 0x07192006 or
// 0x10312005, or the outer 0x08312006) carry 4 bytes in front of the inner
// length; the inner 0x08312006 form starts with its own size. The property
// list (an embedded list: 13, GUID, 1, entries) ends the structure.
inline bytes_t three_string_record(uint32_t signature, bool outer, std::u16string_view s1,
                                   std::u16string_view s2, std::u16string_view s3,
                                   const bytes_t& property_list = {}) {
  namespace E = item_layout::embedded;
  const E::three_string_form& f = signature == E::form_07192006.signature   ? E::form_07192006
                                  : signature == E::form_10312005.signature ? E::form_10312005
                                                                            : E::form_08312006;
  // The outer 0x08312006 form carries 4 bytes more in front of the inner one.
  const size_t shift = (outer && f.inner_at < 0) ? E::outer_08312006::inner : 0;
  const size_t m_at = f.list_length_at + shift, c_at = f.counts_at + shift,
               s_at = f.strings_at + shift;
  byte_builder b;
  b.pad_to(s_at);
  b.put_u32(f.signature_at + shift, signature)
      .put_u32(m_at, static_cast<uint32_t>(property_list.size()));
  b.put_u32(c_at, static_cast<uint32_t>(s1.size()))
      .put_u32(c_at + 4, static_cast<uint32_t>(s2.size()));
  b.put_u32(c_at + 8, static_cast<uint32_t>(s3.size()));
  b.utf16(s1).utf16(s2).utf16(s3).u16(0).bytes(property_list);
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  if (outer) b.put_u16(E::outer_08312006::inner, static_cast<uint16_t>(b.size() - 4));
  return b.take();
}

// 0xF5A6B710: size, k at 4, signature, a shell item at 10 (its size n is
// the u16 there), then the bytes at 10 + n: an ID list, read also as the
// GUIDs at k + 6 (k = n + 4 unless given).
inline bytes_t f5a6b710_record(const bytes_t& item, const bytes_t& tail, int k = -1) {
  namespace F = item_layout::embedded::f5a6b710;
  byte_builder b;
  b.put_u32(F::signature_at, F::signature).pad_to(F::item).bytes(item).bytes(tail);
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  b.put_u16(F::k, static_cast<uint16_t>(k >= 0 ? k : int(item.size()) + 4));
  return b.take();
}

// "AugM": size, signature, d at 8, count at 12, the first item at d + 16,
// each later one 6 bytes after the end of the one before.
inline bytes_t augm_record(uint32_t count, const std::vector<bytes_t>& items, uint32_t d = 0) {
  namespace A = item_layout::embedded::augm;
  byte_builder b;
  b.put_u32(A::signature_at, A::signature).put_u32(A::first, d).put_u32(A::count, count);
  b.pad_to(A::first_base + d);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) b.fill(A::gap);
    b.bytes(items[i]);
  }
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(std::min<size_t>(b.size(), 0xFFFF)));
  return b.take();
}

// A sized record with offsets: size, a at 4, b at 12, b bytes of GUID data
// at 14, padding zeros, then 0xBEEF blocks.
inline bytes_t sized_record(uint16_t a, const bytes_t& guid_data, size_t padding,
                            const bytes_t& blocks) {
  namespace S = item_layout::embedded::sized_record;
  byte_builder b;
  b.put_u16(S::a, a).put_u16(S::b, static_cast<uint16_t>(guid_data.size()));
  b.pad_to(S::guids).bytes(guid_data);
  b.fill(padding).bytes(blocks);
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  return b.take();
}

// Untyped records: a text at 6, or a time record (w at 6 below 32, FILETIME
// at 22, 8-bit name at 38, zeros, UTF-16 text).
inline bytes_t untyped_text(std::u16string_view text, size_t pad = 0, bool terminate = true) {
  byte_builder b;
  b.pad_to(item_layout::embedded::untyped::word).utf16(text, terminate).fill(pad);
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  return b.take();
}
inline bytes_t untyped_time(uint16_t w, uint64_t filetime, std::string_view name,
                            std::u16string_view text) {
  namespace U = item_layout::embedded::untyped;
  byte_builder b;
  b.put_u16(U::word, w).pad_to(U::filetime).u64(filetime).pad_to(U::name);
  b.ascii(name).u8(0).fill(3);
  b.utf16(text, true);
  b.put_u16(item_layout::item::size, static_cast<uint16_t>(b.size()));
  return b.take();
}

// 0xC001B000: u32 size, signature, L at 8, t0 at 20, the first text at 24,
// then entries (16 bytes, u32 byte length, UTF-16 text) and a zero unit.
inline bytes_t c001b000_record(std::u16string_view first,
                               const std::vector<std::u16string_view>& entries) {
  namespace C = item_layout::embedded::c001b000;
  byte_builder b;
  b.put_u32(C::signature_at, C::signature);
  b.put_u32(C::first_length, static_cast<uint32_t>(2 * first.size() + 2));
  b.utf16(first, true);
  for (auto e : entries)
    b.fill(C::entry_length).u32(static_cast<uint32_t>(2 * e.size() + 2)).utf16(e, true);
  b.u16(0);
  b.put_u32(0, static_cast<uint32_t>(b.size())).put_u16(C::length, static_cast<uint16_t>(b.size()));
  return b.take();
}

}  // namespace vesk_test
