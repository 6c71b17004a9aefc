// An appender for report lines built piece by piece: writes go through a
// pointer into a string kept at the largest size any line needed, so that
// a line neither checks the string on each piece nor clears the room.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vk {

class line_sink {
 public:
  // Writes into room from its start; room keeps its size between lines.
  explicit line_sink(std::string& room) : m_room(room) {}

  size_t size() const { return m_at; }
  std::string_view text() const { return {m_room.data(), m_at}; }
  char* data() { return m_room.data(); }

  void put(char c) {
    *reserve(1) = c;
    ++m_at;
  }
  void put(std::string_view t) {
    const size_t n = t.size();
    if (n == 0) return;
    std::memcpy(reserve(n), t.data(), n);
    m_at += n;
  }
  void fill(size_t n, char c) {
    if (n == 0) return;
    std::memset(reserve(n), c, n);
    m_at += n;
  }
  void put_decimal(uint64_t v) {
    char* at = reserve(20);
    m_at += static_cast<size_t>(std::to_chars(at, at + 20, v).ptr - at);
  }
  // Drops what was written from n on.
  void truncate(size_t n) {
    if (n < m_at) m_at = n;
  }

 private:
  char* reserve(size_t n) {
    if (m_room.size() - m_at < n) grow(n);
    return m_room.data() + m_at;
  }
  // Rare, and apart from the appends so that they stay small.
  void grow(size_t n);

  std::string& m_room;
  size_t m_at = 0;
};

}  // namespace vk
