// GUID values.
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

}  // namespace vk
