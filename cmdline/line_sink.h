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

// A report writes each text of a link on its lines as it stands: a control
// character it holds (any C0 character but the tab, or DEL) is written as a
// mark (mark_control_chars, foundation/vk_text.h), so that it can neither
// break a line nor hide the text's rest. The text itself is never changed.

// False when the text surely holds no such character: the short texts of a
// report are tested here in a few word steps, a longer one or one that may
// hold one is left to the exact search.
inline bool may_hold_control(std::string_view t) noexcept {
  constexpr uint64_t ones = 0x0101010101010101ull;
  const char* p = t.data();
  const size_t n = t.size();
  // Each byte below 0x20 or equal to 0x7F sets the high bit of its lane (a
  // tab too: then the exact search decides).
  auto marked = [](uint64_t w) {
    const uint64_t d = w ^ (ones * 0x7F);
    return ((((w - ones * 0x20) & ~w) | ((d - ones) & ~d)) & (ones * 0x80)) != 0;
  };
  auto word = [&](size_t at) {
    uint64_t w;
    std::memcpy(&w, p + at, sizeof w);
    return w;
  };
  if (n >= 8) {
    if (n > 32) return true;
    if (marked(word(0)) || marked(word(n - 8))) return true;
    return n > 16 && (marked(word(8)) || marked(word(n - 16)));
  }
  if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return marked(a | (static_cast<uint64_t>(b) << 32));
  }
  if (n == 0) return false;
  const uint64_t bytes = static_cast<uint8_t>(p[0]) |
                         static_cast<uint64_t>(static_cast<uint8_t>(p[n / 2])) << 8 |
                         static_cast<uint64_t>(static_cast<uint8_t>(p[n - 1])) << 16;
  return marked(bytes | (ones * 0x20 & ~uint64_t{0xFFFFFF}));
}

// The size of the text with its marks, and the marked text written at out
// (which has that room); first is where the first control character
// stands.
size_t marked_size(std::string_view t, size_t first) noexcept;
char* put_marks(char* out, std::string_view t, size_t first) noexcept;

// The text with its marks made in spare (which keeps its room); the text
// itself when it holds no control character (or no room can be had).
std::string_view marked_text_made(std::string_view t, std::string& spare) noexcept;

// The text as a report writes it: itself for the usual text, else its
// marked form, made in spare.
inline std::string_view marked_text(std::string_view t, std::string& spare) noexcept {
  return may_hold_control(t) ? marked_text_made(t, spare) : t;
}

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
  // The text with its control characters as marks (marked_text).
  void put_marked(std::string_view t) {
    if (may_hold_control(t))
      put_with_marks(t);
    else
      put(t);
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
  void put_with_marks(std::string_view t);

  std::string& m_room;
  char* m_begin;
  char* m_at;
  char* m_end;
};

}  // namespace vk
