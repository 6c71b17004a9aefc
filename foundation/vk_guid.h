// GUID values, byte blocks and byte-pattern searches over raw buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vk {

// A GUID as its 16 stored bytes: Data1 (LE u32), Data2 (LE u16), Data3 (LE u16),
// Data4 (8 bytes). Plain data: copied and compared bytewise.
struct guid {
  uint8_t m_bytes[16];

  guid() { clear(); }
  void clear() { std::memset(m_bytes, 0, sizeof(m_bytes)); }
  // Copies 16 bytes from src; a null src zeroes the value.
  void set(const void* src) {
    if (src)
      std::memcpy(m_bytes, src, sizeof(m_bytes));
    else
      clear();
  }
};

inline void copy_guid(guid& dst, const guid& src) {
  std::memcpy(dst.m_bytes, src.m_bytes, 16);
}
inline bool guid_equals(const guid& a, const guid& b) {
  return std::memcmp(a.m_bytes, b.m_bytes, 16) == 0;
}
// The all-zero GUID, which marks an unset key.
inline bool guid_is_zero(const guid& g) {
  return guid_equals(g, guid());
}
inline bool guid_differs(const guid& a, const guid& b) {
  return !guid_equals(a, b);
}
// Unsigned bytewise order from byte 0: the key order of every map keyed by guid.
inline bool guid_less(const guid& a, const guid& b) {
  return std::memcmp(a.m_bytes, b.m_bytes, 16) < 0;
}
inline bool operator==(const guid& a, const guid& b) {
  return guid_equals(a, b);
}
inline bool operator<(const guid& a, const guid& b) {
  return guid_less(a, b);
}

// A GUID as two 64-bit numbers, for sorted tables searched often: two
// integer compares where a byte compare would loop. Its order is its own
// (any order serves an exact lookup), not guid_less's.
struct guid_key {
  uint64_t low = 0;
  uint64_t high = 0;

  guid_key() = default;
  explicit guid_key(const guid& g) {
    std::memcpy(&low, g.m_bytes, 8);
    std::memcpy(&high, g.m_bytes + 8, 8);
  }
  bool operator==(const guid_key& o) const { return low == o.low && high == o.high; }
  bool operator<(const guid_key& o) const { return low != o.low ? low < o.low : high < o.high; }
};

// ---- byte blocks ----

bool bytes_equal(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Lexicographic over the common length only: a prefix is never less.
bool bytes_less(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// Every byte TAB, LF, CR or printable ASCII; false when empty.
bool bytes_are_text(const std::vector<uint8_t>& v);
// Little-endian value of the first min(count, 8) bytes.
uint64_t le_bytes_to_u64(const uint8_t* p, size_t count);
// Wrapping sum of the whole LE u64 words plus each tail byte.
uint64_t sum_u64_words(const uint8_t* p, size_t count);
// Make v n zero bytes long; an allocation failure leaves it empty.
void resize_zeroed(std::vector<uint8_t>& v, size_t n);
void resize_zeroed_32(std::vector<uint8_t>& v);
void resize_zeroed_20(std::vector<uint8_t>& v);
void resize_zeroed_16(std::vector<uint8_t>& v);
// v becomes a copy of n bytes at p (n zero bytes when p is null; empty when
// the allocation fails).
void assign_bytes(std::vector<uint8_t>& v, const uint8_t* p, size_t n);
void clear_byte_array(std::vector<uint8_t>& v);
bool host_is_little_endian();
// The two 32-bit halves of a 64-bit value.
void split_u64(uint64_t value, uint32_t& high, uint32_t& low);
// The value with those halves, both stored in out and returned.
uint64_t make_u64(uint32_t high, uint32_t low, uint64_t& out);

// ---- signature searches ----
// Results are appended to the caller's list; the bool says whether the list
// holds anything, unless noted.

// Every non-overlapping occurrence (a match resumes at match + pattern length).
// The list is cleared first; offsets are base + position.
bool find_pattern_offsets(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                          std::vector<uint64_t>& offsets, uint64_t base = 0,
                          bool skip_table = false, bool stop_at_first = false);
// First occurrence, or false with out 0.
bool find_pattern_offset(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                         uint64_t& out, bool skip_table = false);
// As find_pattern_offsets with 32-bit offsets and no base. Positions beyond
// 0xFFFFFFFF are not searched.
bool find_all_bytes(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                    std::vector<uint32_t>& offsets, bool skip_table = false,
                    bool stop_at_first = false);
// Last occurrence starting within the final `window` bytes of the buffer.
bool find_last_pattern(const uint8_t* buf, size_t len, const uint8_t* pat, size_t pat_len,
                       size_t window, uint64_t& out);
// Occurrences at the first `window` positions of each `align`-aligned block
// (window 0: only at multiples of align). align must be a power of two and
// window not above it, else false. The list is not cleared.
bool find_pattern_aligned(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                          const uint8_t* pat, size_t pat_len, size_t window, size_t align,
                          bool stop_at_first = false);
// As find_pattern_aligned for a list of patterns: at each position the first
// fitting pattern that matches is recorded with its index. Both lists are cleared.
bool find_patterns_aligned(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                           std::vector<uint32_t>& indexes,
                           const std::vector<std::vector<uint8_t>>& patterns, size_t window,
                           size_t align, bool stop_at_first = false);
// Fixed-width little-endian values at every stride bytes from 0.
bool find_u64_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint64_t value, size_t stride, bool stop_at_first = false);
bool find_u32_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint32_t value, size_t stride, bool stop_at_first = false);
bool find_u16_strided(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                      uint16_t value, size_t stride);
// A u64 value at every 4-byte-aligned position where 8 bytes fit.
bool find_u64_any4(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets, uint64_t value,
                   bool stop_at_first = false);
// For each whole block (at least 512 bytes), base + offset of its first
// non-zero u64 word. Cleared first; false only when not even one block fits.
bool find_nonzero_blocks(const uint8_t* buf, size_t len, std::vector<uint64_t>& offsets,
                         size_t block_size, bool stop_after_first_block = false, uint64_t base = 0);

// ---- printable text runs ----
// UTF-16LE runs of printable ASCII with the byte offset of each; both lists
// are cleared first; false for an empty buffer, and when memory runs out (the
// lists then hold the runs found before, one offset for each text).
bool extract_utf16_strings(const uint8_t* buf, size_t len, size_t min_len,
                           std::vector<std::string>& texts, std::vector<uint64_t>& offsets,
                           bool also_tab_cr_lf = false, bool skip_leading_punct = false);
// The same for single-byte runs.
bool extract_ascii_strings(const uint8_t* buf, size_t len, size_t min_len,
                           std::vector<std::string>& texts, std::vector<uint64_t>& offsets,
                           bool also_tab_cr_lf = false, bool skip_leading_punct = false);

}  // namespace vk
