// Base-128 variable-length integers: 7 bits from each byte while its top bit
// is set, at most eight such bytes, then a ninth byte whole. Reading stops at
// the end of the buffer; what was gathered by then is the value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk {

// The first group is the most significant. out is 0 and the result false for
// a null pointer or a length of 0, else true.
bool read_varint(uint64_t& out, const uint8_t* bytes, size_t length);
// The first group is the least significant (group k holds bits 7k..7k+6, a
// ninth byte bits 56..63); the same result rules.
bool read_varint_iter(uint64_t& out, const uint8_t* bytes, size_t length);

}  // namespace vk
