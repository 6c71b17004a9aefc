// Small appending writers shared by the item and property text builders:
// numbers and GUIDs written straight into a text, without a temporary.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "foundation/vk_guid.h"

namespace vk {

inline void append_decimal(std::string& out, uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// "0x" and lower-case hex digits, zero-filled to at least min_digits.
inline void append_hex(std::string& out, uint64_t value, unsigned min_digits) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  const size_t n = static_cast<size_t>(end - digits);
  out += "0x";
  if (min_digits > n) out.append(min_digits - n, '0');
  out.append(digits, n);
}

// The lower-case GUID text without braces (as guid_to_string writes it).
inline void append_guid_text(std::string& out, const guid& g) {
  static constexpr char k_digits[] = "0123456789abcdef";
  static constexpr uint8_t k_order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  char text[36];
  size_t n = 0;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[n++] = '-';
    const uint8_t b = g.m_bytes[k_order[i]];
    text[n++] = k_digits[b >> 4];
    text[n++] = k_digits[b & 15];
  }
  out.append(text, n);
}

}  // namespace vk
