// One decoded serialized property value: a VARTYPE and its data window
// turned into lists of elements, each tagged with its file offset.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/parse_ctx.h"
#include "shell/propstore_layout.h"

namespace vk {

enum typed_value_kind : uint16_t {
  tv_none = 1,
  tv_null = 2,
  tv_dword = 3,
  tv_qword = 4,
  tv_filetime = 5,
  tv_date = 6,
  tv_bytes = 8,
  tv_text = 9,
  tv_guid = 10,
  tv_stream = 11,
};

struct typed_value {
  uint16_t kind = tv_none;
  uint16_t vartype = 0;   // low byte of the VARTYPE parsed
  uint32_t consumed = 0;  // bytes of the window taken, the vector count included
  uint32_t count = 0;     // elements; for byte kinds the number of bytes
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> dwords;
  std::vector<uint64_t> qwords;
  // Byte elements are views of the parsed bytes: they are copied only when
  // filed, and are valid while those bytes are.
  std::vector<std::string_view> blobs;
  std::vector<std::string> texts;

  typed_value() { reset(); }
  void reset();
};

// Decodes the data of one value (behind its VARTYPE field) within available
// bytes. ctx.offset advances over every byte taken (not over stream data);
// ctx.consumed is not touched. False for a null or empty window, a failed
// size test, VT_NULL and any unsupported type; a text list that stops early
// still succeeds with the complete elements before it.
bool parse_typed_value(typed_value& out, parse_ctx& ctx, const uint8_t* data, int64_t available,
                       uint16_t vartype);

// The bytes an array value (behind its VARTYPE, with the array flag) takes
// in data: its header and its elements, padded to 4; -1 when they do not fit
// or the header contradicts the VARTYPE.
int64_t array_value_size(byte_view data, uint16_t vartype);
inline bool is_array_vartype(uint16_t vartype) {
  return (vartype >> 8) == propstore::typed::array_flag_byte;
}

// The one element of a single (not vector) value of the kinds met most
// often: a number (u32 kinds and booleans as tv_dword, u64 kinds, FILETIME,
// DATE), a GUID, or a text (BSTR, LPWSTR) decoded into the caller's text.
struct single_value {
  uint16_t kind = tv_none;
  uint32_t consumed = 0;
  bool present = false;  // false: a text that stopped before its element
  uint64_t number = 0;
  uint64_t offset = 0;  // the element's file offset
  const uint8_t* guid_bytes = nullptr;
};

// The kind parse_single_value decodes a value of vartype's low byte (not a
// vector) as; tv_none for the types it leaves to parse_typed_value.
inline constexpr std::array<uint8_t, 256> k_single_value_kinds = [] {
  std::array<uint8_t, 256> kinds{};
  kinds.fill(tv_none);
  for (int v : {3, 10, 11, 19, 22}) kinds[v] = tv_dword;
  for (int v : {5, 20, 21}) kinds[v] = tv_qword;
  kinds[64] = tv_filetime;
  kinds[7] = tv_date;
  kinds[72] = tv_guid;
  kinds[8] = kinds[30] = kinds[31] = tv_text;
  return kinds;
}();

// The kind parse_single_value decodes a value of vartype as; tv_none for the
// vectors and the types it leaves to parse_typed_value.
inline uint16_t single_value_kind(uint16_t vartype) {
  // A high byte of 0x10 marks a vector, one of 0x20 an array.
  return (vartype >> 8) == propstore::typed::vector_flag_byte || is_array_vartype(vartype)
             ? uint16_t{tv_none}
             : k_single_value_kinds[vartype & 0xFF];
}
// Decodes such a value exactly as parse_typed_value would decode it into a
// one-element typed value (the same result, bytes taken and ctx.offset), a
// text going into text (cleared first) instead of a list.
bool parse_single_value(single_value& out, std::string& text, parse_ctx& ctx, const uint8_t* data,
                        int64_t available, uint16_t vartype);

// A typed value to decode into, one per nesting level, kept in the scratch
// from value to value so that its lists keep their room; reset on release.
class typed_value_scratch {
 public:
  explicit typed_value_scratch(shell_scratch& scratch);
  ~typed_value_scratch();
  typed_value_scratch(const typed_value_scratch&) = delete;
  typed_value_scratch& operator=(const typed_value_scratch&) = delete;
  typed_value& get() { return *m_value; }

 private:
  typed_value_stack& m_stack;
  typed_value* m_value;
};

// Non-negative and the low 12 bits at most 73.
inline bool is_valid_vartype(int16_t vartype) {
  return vartype >= 0 && (vartype & 0xFFF) <= 73;
}

// The bytes one boolean takes at the start of bytes: 4 (2 of them padding)
// when the four read 0 or 0xFFFF, else 2; 0 when fewer than 2 are there.
inline int64_t boolean_width(byte_view bytes) {
  if (bytes.size() < 2) return 0;
  const uint32_t v = bytes.size() >= 4 ? bytes.u32_or_zero(0) : 0x10000;
  return v == 0 || v == 0xFFFF ? 4 : 2;
}

}  // namespace vk
