#include "foundation/vk_varint.h"

namespace vk {

namespace {
constexpr size_t k_seven_bit_groups = 8;
}

bool read_varint(uint64_t& out, const uint8_t* bytes, size_t length) {
  out = 0;
  if (!bytes || length == 0) return false;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < length && i < k_seven_bit_groups; ++i) {
    value = (value << 7) | (bytes[i] & 0x7Fu);
    if (!(bytes[i] & 0x80)) break;
  }
  if (i == k_seven_bit_groups && i < length) value = (value << 8) | bytes[i];
  out = value;
  return true;
}

bool read_varint_iter(uint64_t& out, const uint8_t* bytes, size_t length) {
  out = 0;
  if (!bytes || length == 0) return false;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < length && i < k_seven_bit_groups; ++i) {
    value |= static_cast<uint64_t>(bytes[i] & 0x7Fu) << (7 * i);
    if (!(bytes[i] & 0x80)) break;
  }
  if (i == k_seven_bit_groups && i < length) value |= static_cast<uint64_t>(bytes[i]) << 56;
  out = value;
  return true;
}

}  // namespace vk
