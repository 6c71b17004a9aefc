// Bounds-checked little-endian reads over untrusted bytes.
//
// Every parser reads file data through byte_view: a read that would run past
// the end yields std::nullopt (or false) instead of touching memory it does
// not own, and values are assembled byte by byte, never through a cast of a
// possibly misaligned pointer.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "foundation/vk_unicode.h"

namespace vk {

// Unchecked little-endian decoders for pointers the caller has already
// range-checked.
inline uint16_t load_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t load_le64(const uint8_t* p) {
  return static_cast<uint64_t>(load_le32(p)) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}
inline void store_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void store_le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class byte_view {
 public:
  constexpr byte_view() = default;
  constexpr byte_view(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0) {}
  byte_view(const std::vector<uint8_t>& v) : m_data(v.data()), m_size(v.size()) {}

  const uint8_t* data() const { return m_data; }
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }

  // True when [offset, offset + count) lies inside the view; immune to
  // overflow of offset + count.
  bool has(size_t offset, size_t count) const {
    return offset <= m_size && count <= m_size - offset;
  }
  size_t remaining(size_t offset) const { return offset <= m_size ? m_size - offset : 0; }

  std::optional<uint8_t> u8(size_t off) const {
    if (!has(off, 1)) return std::nullopt;
    return m_data[off];
  }
  std::optional<uint16_t> u16(size_t off) const {
    if (!has(off, 2)) return std::nullopt;
    return load_le16(m_data + off);
  }
  std::optional<uint32_t> u32(size_t off) const {
    if (!has(off, 4)) return std::nullopt;
    return load_le32(m_data + off);
  }
  std::optional<uint64_t> u64(size_t off) const {
    if (!has(off, 8)) return std::nullopt;
    return load_le64(m_data + off);
  }
  // The same reads where an absent field counts as zero: a field that does
  // not lie wholly inside the view reads as 0 and touches nothing.
  uint8_t u8_or_zero(size_t off) const { return off < m_size ? m_data[off] : 0; }
  uint16_t u16_or_zero(size_t off) const { return has(off, 2) ? load_le16(m_data + off) : 0; }
  uint32_t u32_or_zero(size_t off) const { return has(off, 4) ? load_le32(m_data + off) : 0; }
  uint64_t u64_or_zero(size_t off) const { return has(off, 8) ? load_le64(m_data + off) : 0; }
  int16_t i16_or_zero(size_t off) const { return static_cast<int16_t>(u16_or_zero(off)); }
  int32_t i32_or_zero(size_t off) const { return static_cast<int32_t>(u32_or_zero(off)); }
  std::optional<int16_t> i16(size_t off) const {
    auto v = u16(off);
    if (!v) return std::nullopt;
    return static_cast<int16_t>(*v);
  }
  std::optional<int32_t> i32(size_t off) const {
    auto v = u32(off);
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  std::optional<int64_t> i64(size_t off) const {
    auto v = u64(off);
    if (!v) return std::nullopt;
    return static_cast<int64_t>(*v);
  }
  // The 16 stored bytes of a GUID, in stored order.
  std::optional<std::array<uint8_t, 16>> guid_bytes(size_t off) const {
    if (!has(off, 16)) return std::nullopt;
    std::array<uint8_t, 16> out{};
    std::memcpy(out.data(), m_data + off, 16);
    return out;
  }
  // Copies count bytes to dst; false (dst untouched) when they are not all there.
  bool copy(size_t off, void* dst, size_t count) const {
    if (!has(off, count)) return false;
    if (count) std::memcpy(dst, m_data + off, count);
    return true;
  }
  // Sub-view of count bytes at off, or nullopt.
  std::optional<byte_view> sub(size_t off, size_t count) const {
    if (!has(off, count)) return std::nullopt;
    return byte_view(m_data + off, count);
  }
  // Sub-view from off to the end (empty when off is past the end).
  byte_view tail(size_t off) const {
    if (off >= m_size) return byte_view();
    return byte_view(m_data + off, m_size - off);
  }
  // Clamped sub-view: at most count bytes from off.
  byte_view clamp(size_t off, size_t count) const {
    size_t left = remaining(off);
    return off >= m_size ? byte_view() : byte_view(m_data + off, count < left ? count : left);
  }
  // The sizeof(Word) bytes at off as one block in machine order (a word, or
  // a vector register, for the kernels that test many bytes at once), only
  // when they lie wholly inside the view: false, out untouched, otherwise.
  // A kernel steps over blocks with this as its loop's test, so that no
  // load depends on a bound worked out elsewhere.
  template <class Word>
  bool block(size_t off, Word& out) const {
    static_assert(std::is_trivially_copyable_v<Word>);
    // has() in the form whose bound a loop computes once.
    if (m_size < sizeof(Word) || off > m_size - sizeof(Word)) return false;
    std::memcpy(&out, m_data + off, sizeof(Word));
    return true;
  }
  bool starts_with(size_t off, const uint8_t* sig, size_t n) const {
    return has(off, n) && (n == 0 || std::memcmp(m_data + off, sig, n) == 0);
  }

 private:
  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

// A cursor over a byte_view: each read advances on success and leaves the
// position unchanged on failure. The bytes left (remaining) are a budget that
// never goes below zero: a start past the end simply leaves none.
//
// Text reads come in two kinds. A counted read takes a field of a known
// length whole and gives its text up to the first zero character; a
// terminated read takes at most a budget of characters and stops after the
// first zero one, which it requires. UTF-16 text becomes UTF-8; 8-bit text is
// given as stored (its code page is the caller's business). The text reads
// allocate their output: a parser calls them inside its guard (vk_guard.h),
// and the output is never longer than the bytes read.
class byte_cursor {
 public:
  explicit byte_cursor(byte_view v, size_t pos = 0) : m_view(v), m_pos(pos) {}
  size_t pos() const { return m_pos; }
  size_t remaining() const { return m_view.remaining(m_pos); }
  const byte_view& view() const { return m_view; }
  bool skip(size_t n) {
    if (!m_view.has(m_pos, n)) return false;
    m_pos += n;
    return true;
  }
  bool u8(uint8_t& out) { return take(m_view.u8(m_pos), out, 1); }
  bool u16(uint16_t& out) { return take(m_view.u16(m_pos), out, 2); }
  bool u32(uint32_t& out) { return take(m_view.u32(m_pos), out, 4); }
  bool u64(uint64_t& out) { return take(m_view.u64(m_pos), out, 8); }
  bool bytes(void* dst, size_t n) {
    if (!m_view.copy(m_pos, dst, n)) return false;
    m_pos += n;
    return true;
  }
  // The next n bytes as a view of their own.
  bool sub(size_t n, byte_view& out) {
    auto v = m_view.sub(m_pos, n);
    if (!v) return false;
    out = *v;
    m_pos += n;
    return true;
  }

  // Counted text: `units` UTF-16 units (2 x units bytes) or `count` bytes.
  bool text16(std::string& out, size_t units) {
    out.clear();
    if (units > remaining() / 2 || !m_view.has(m_pos, 2 * units)) return false;
    if (units > 0) utf16_to_utf8(m_view.data() + m_pos, 2 * units, out, false);
    m_pos += 2 * units;
    return true;
  }
  bool text8(std::string& out, size_t count) {
    out.clear();
    if (!m_view.has(m_pos, count)) return false;
    const uint8_t* p = m_view.data() + m_pos;
    size_t n = 0;
    while (n < count && p[n] != 0) ++n;
    if (n > 0) out.assign(reinterpret_cast<const char*>(p), n);
    m_pos += count;
    return true;
  }
  // Terminated text within a budget of max_units UTF-16 units (max_count
  // bytes); the terminator is consumed.
  bool text16_z(std::string& out, size_t max_units) {
    out.clear();
    const size_t budget = std::min(max_units, remaining() / 2);
    if (budget == 0) return false;
    const uint8_t* p = m_view.data() + m_pos;
    for (size_t i = 0; i < budget; ++i) {
      if (p[2 * i] != 0 || p[2 * i + 1] != 0) continue;
      utf16_to_utf8(p, 2 * i, out, false);
      m_pos += 2 * i + 2;
      return true;
    }
    return false;
  }
  bool text8_z(std::string& out, size_t max_count) {
    out.clear();
    const size_t budget = std::min(max_count, remaining());
    if (budget == 0) return false;
    const uint8_t* p = m_view.data() + m_pos;
    for (size_t i = 0; i < budget; ++i) {
      if (p[i] != 0) continue;
      out.assign(reinterpret_cast<const char*>(p), i);
      m_pos += i + 1;
      return true;
    }
    return false;
  }

 private:
  template <class T>
  bool take(const std::optional<T>& v, T& out, size_t n) {
    if (!v) return false;
    out = *v;
    m_pos += n;
    return true;
  }
  byte_view m_view;
  size_t m_pos;
};

}  // namespace vk
