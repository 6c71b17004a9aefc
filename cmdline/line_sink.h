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
  explicit line_sink(std::string& room)
      : m_room(room), m_begin(room.data()), m_at(m_begin), m_end(m_begin + room.size()) {}
  line_sink(const line_sink&) = delete;
  line_sink& operator=(const line_sink&) = delete;

  size_t size() const { return static_cast<size_t>(m_at - m_begin); }
  std::string_view text() const { return {m_begin, size()}; }
  char* data() { return m_begin; }

  void put(char c) {
    if (m_at == m_end) grow(1);
    *m_at++ = c;
  }
  void put(std::string_view t) {
    const size_t n = t.size();
    if (n == 0) return;
    if (static_cast<size_t>(m_end - m_at) < n) grow(n);
    std::memcpy(m_at, t.data(), n);
    m_at += n;
  }
  void fill(size_t n, char c) {
    if (n == 0) return;
    if (static_cast<size_t>(m_end - m_at) < n) grow(n);
    std::memset(m_at, c, n);
    m_at += n;
  }
  void put_decimal(uint64_t v) {
    if (m_end - m_at < 20) grow(20);
    m_at = std::to_chars(m_at, m_at + 20, v).ptr;
  }
  // Room for n bytes at the end, written by the caller, who then says
  // where the writing ended (at most n bytes on).
  char* room(size_t n) {
    if (static_cast<size_t>(m_end - m_at) < n) grow(n);
    return m_at;
  }
  void advance_to(char* end) { m_at = end; }
  // Drops what was written from n on.
  void truncate(size_t n) {
    if (n < size()) m_at = m_begin + n;
  }

 private:
  // Rare, and apart from the appends so that they stay small.
  void grow(size_t n);

  std::string& m_room;
  char* m_begin;
  char* m_at;
  char* m_end;
};

}  // namespace vk
