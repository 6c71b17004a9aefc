// Typed cell: one value of a report row, or one column descriptor of the
// record writer (title, width, type, flags).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vk {

using byte_array = std::vector<uint8_t>;

// Cell type codes. The record writer picks the printed form from the type and
// the flag word; two-column time types fill this cell and the next one.
enum variant_type : uint16_t {
  vt_empty = 0,
  vt_u8 = 1,
  vt_u16 = 2,
  vt_u32_hex = 3,
  vt_u32 = 4,
  vt_u64 = 8,
  vt_text = 11,
  vt_filetime = 12,
  vt_filetime_1col = 13,
  vt_number64 = 14,
  vt_unixtime = 15,
  vt_unixtime_1col = 16,
  vt_chrome = 17,
  vt_chrome_1col = 18,
  vt_firefox = 19,
  vt_firefox_1col = 20,
  vt_safari = 21,
  vt_safari_1col = 22,
  vt_filetime_date = 23,
  vt_filetime_time = 24,
  vt_unixtime_date = 25,
  vt_unixtime_time = 26,
  vt_guid = 27,
  vt_bytes_spaced = 28,
  vt_bytes_hex = 29,
  vt_raw_text = 30,
  vt_none = 31,
};

// Flag bits of m_flags.
enum variant_flag : uint32_t {
  vf_descriptor = 0x80,
  vf_list = 0x4000,  // whole word: time types print m_list
  vf_quoted = 0x8000,
  vf_show_line_ends = 0x10000,  // whole word
  vf_safari_double = 0x40000,
  vf_right_align = 0x80000,
  vf_hex_and_decimal = 0x100000,
  vf_hex_fixed = 0x400000,
  vf_truncate = 0x1000000,
  vf_centre = 0x2000000,
  vf_zero_blank = 0x4000000,
  vf_no_subseconds = 0x8000000,
  vf_arrow_prefix = 0x10000000,
  vf_blank_prefix = 0x20000000,
  vf_decimal = 0x40000000,
  vf_plain_hex = 0x80000000u,
};

class vk_variant_lite {
 public:
  vk_variant_lite() { clear(); }
  explicit vk_variant_lite(uint8_t value) { set_number(value, vt_u8); }
  explicit vk_variant_lite(uint16_t value) { set_number(value, vt_u16); }
  explicit vk_variant_lite(uint32_t value) { set_number(value, vt_u32); }
  vk_variant_lite(uint64_t value, uint16_t type) { set_number(value, type); }
  explicit vk_variant_lite(const std::string& text);
  explicit vk_variant_lite(const char* text) : vk_variant_lite(std::string(text ? text : "")) {}
  // Column descriptors.
  vk_variant_lite(const std::string& title, uint64_t width, uint16_t type, uint32_t flags);
  vk_variant_lite(const std::string& title, uint64_t width);

  void clear();

  // Appends the byte form of the cell; false (nothing appended) for a type
  // without a byte form or a value that does not fit it.
  bool pack_bytes(byte_array& out) const;
  // Reads one byte form at offset into this (cleared) cell; returns the bytes
  // consumed, 0 when the record is short, unknown or runs past the array.
  uint32_t unpack_bytes(const byte_array& in, uint32_t offset);

  uint16_t m_type;
  uint16_t m_max_len;
  uint32_t m_flags;
  uint64_t m_width;
  uint64_t m_spare;
  byte_array m_bytes;
  std::string m_text;
  uint64_t m_number;
  std::vector<uint64_t> m_list;

 private:
  void set_number(uint64_t value, uint16_t type) {
    clear();
    m_type = type;
    m_number = value;
  }
};

void init_typed_column(vk_variant_lite& cell, const std::string& title, uint64_t width,
                       uint16_t type, uint32_t flags);
void init_column(vk_variant_lite& cell, const std::string& title, uint64_t width);

// Empties out unless appending, then appends each cell's byte form (cells
// without one are left out); true when out holds anything.
bool pack_variant_list(byte_array& out, const std::vector<vk_variant_lite>& cells, bool append);
// Empties out unless appending, then reads records from offset 0 until one
// cannot be read or the array ends; true when out holds anything.
bool unpack_variant_list(std::vector<vk_variant_lite>& out, const byte_array& in, bool append);

}  // namespace vk
