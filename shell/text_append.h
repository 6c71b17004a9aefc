// Small appending writers shared by the item and property text builders:
// numbers written straight into a text, without a temporary (GUIDs through
// append_guid_text).
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "foundation/vk_unicode.h"  // append_guid_text

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

}  // namespace vk
