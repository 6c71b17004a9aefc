// Numbers read from and written as text, month names, and the compact
// date/time layout built from the "-dateformat" / "-timeformat" templates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ios>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/vk_guid.h"

namespace vk {

// ---- date/time layout ----

// Four bytes read by the time formatter. All zero means the default layout.
struct time_format_descriptor {
  // m_date_flags bits
  static constexpr uint8_t month_name = 0x01;    // "mmm"
  static constexpr uint8_t month_digits = 0x02;  // "mm"
  static constexpr uint8_t year_four = 0x04;     // "yyyy"
  static constexpr uint8_t year_two = 0x08;      // "yy"
  static constexpr uint8_t has_comma = 0x10;     // ","
  static constexpr uint8_t order_dmy = 0x20;
  static constexpr uint8_t order_mdy = 0x40;
  static constexpr uint8_t order_ymd = 0x80;
  // m_time_flags: bit 0 date and time printed as one pair, bits 1-4 the
  // number of sub-second digits (0-9).
  static constexpr uint8_t pair_datetime = 0x01;
  static constexpr uint8_t subsecond_mask = 0x1E;

  uint8_t m_separator = 0;  // '/', '-', ' ' or 0
  uint8_t m_date_flags = 0;
  uint8_t m_time_flags = 0;
  uint8_t m_reserved = 0;

  void clear() { m_separator = m_date_flags = m_time_flags = m_reserved = 0; }
  bool is_zero() const { return as_u32() == 0; }
  // The four bytes as one little-endian word (byte 0 lowest).
  uint32_t as_u32() const {
    return static_cast<uint32_t>(m_separator) | (static_cast<uint32_t>(m_date_flags) << 8) |
           (static_cast<uint32_t>(m_time_flags) << 16) | (static_cast<uint32_t>(m_reserved) << 24);
  }
  bool paired() const { return (m_time_flags & pair_datetime) != 0; }
  unsigned subsecond_digits() const { return (m_time_flags & subsecond_mask) >> 1; }
};

struct time_format_settings {
  time_format_descriptor m_descriptor;
  uint16_t m_min_year = 1900;
  uint16_t m_max_year = 2600;
  uint32_t m_reserved = 0;
};

// Builds the layout from a date template ("yyyy-mm-dd", "mmm dd, yyyy", ...)
// and a time template ("hh:mm:ss.xxx"). False when the date template names no
// month, year or day, or an order other than d-m-y, m-d-y or y-m-d; the
// descriptor then keeps what was set so far.
bool build_time_format_settings(time_format_settings& out, const std::string& date_template,
                                const std::string& time_template, bool pair = false);

// ---- reading numbers ----

// strtoul with the semantics of a 32-bit unsigned long: leading white space
// and one sign are accepted, "0x" may precede base-16 digits, reading stops at
// the first non-digit, an out-of-range magnitude saturates at 0xFFFFFFFF and a
// '-' negates modulo 2^32.
uint32_t strtoul32(const char* s, unsigned base);

// Reads "0x1f" / "x1f" (hex), "o17" (octal), decimal with optional sign, or a
// quoted character "'a'". out is 0 on entry; false when the text is none of
// these. Values saturate at 0xFFFFFFFF like a 32-bit strtoul.
bool parse_uint(const char* text, uint32_t& out);
bool parse_uint(const std::string& text, uint32_t& out);
// Unsigned 64-bit number read by stream extraction in the given base
// (std::ios_base::hex, dec or oct); 0 when the text holds no number.
uint64_t parse_i64_base(const std::string& text, std::ios_base::fmtflags base);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" into stored GUID bytes. The guid is
// zeroed first; false for a text under 22 characters or one that does not read.
bool guid_from_text(const std::string& text, guid& out);

// ---- writing numbers and byte lists ----

// With prefix: "0x" + lower-case hex, zero-filled to width; width 0 picks 2,
// 4, 6 or 8 digits by the value's size (a minimum). Without: decimal.
std::string hex_number_text(uint64_t value, bool prefix, unsigned width);
const std::string& hex_number_text(std::string& out, uint64_t value, bool prefix, unsigned width);
// The same text appended to out.
void append_hex_number_text(std::string& out, uint64_t value, bool prefix, unsigned width);
// value in decimal appended to out.
void append_decimal(std::string& out, uint64_t value);
// The same texts written at `at`, which has k_number_text_room bytes of room
// (hex widths up to 16); they return the text's end.
inline constexpr size_t k_number_text_room = 20;

// "000102...feff": the two lower-case hex digits of each byte value, for
// writers that put out a byte at a time.
inline constexpr std::array<char, 512> k_hex_byte_pairs = [] {
  constexpr char digits[] = "0123456789abcdef";
  std::array<char, 512> pairs{};
  for (size_t i = 0; i < 256; ++i) {
    pairs[2 * i] = digits[i >> 4];
    pairs[2 * i + 1] = digits[i & 15];
  }
  return pairs;
}();
char* put_decimal(char* at, uint64_t value);
char* put_hex_number_text(char* at, uint64_t value, bool prefix, unsigned width);
std::string dash_line(size_t count);
// Two lower-case hex digits per byte (optionally "0x"-prefixed), sep between.
bool bytes_to_hex_list(std::string& out, const uint8_t* bytes, size_t count, const std::string& sep,
                       bool prefix);
bool hex_list_text(std::string& out, const std::vector<uint8_t>& bytes, const std::string& sep,
                   bool prefix);
std::string hex_list_text(const std::vector<uint8_t>& bytes, const std::string& sep);
// "0x01234567, 0x89ab, 0xcdef, 0x01, ..." (Data1, Data2, Data3, 8 x Data4).
bool guid_initializer_text(std::string& out, const guid& g);
bool propkey_initializer_text(std::string& out, const guid& g, uint16_t pid);
// "const byte name[] = {0x01, 0x02};"
bool c_byte_array_text(const char* name, const std::vector<uint8_t>& bytes, std::string& out);
// 4 bytes: dotted IPv4; 6 or 8 bytes: colon-separated hex; else "" and false.
bool address_bytes_text(const uint8_t* bytes, size_t count, std::string& out);
// Dotted text with the value's most significant byte first.
bool ipv4_to_string(uint32_t address, std::string& out);
bool swap_bytes_u32(uint32_t value, uint32_t& out);
// "label: 0x.../0x..." (the same hex text twice); nothing for a null label.
void write_hex_value_line(std::ostream& os, const char* label, uint64_t value);

// ---- months ----

// "Jan".."Dec" for 1..12, "" otherwise.
const char* month_abbrev(int month);
// 1..12 when the first three characters name a month (any case), else -1.
int month_from_abbrev(const char* text);
int month_from_abbrev(const std::string& text);
// Fills an empty map with "jan".."dec" -> 1..12; a non-empty map is left alone.
void fill_month_map(std::map<std::string, int>& months);

}  // namespace vk
