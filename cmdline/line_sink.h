// An appender for report lines built piece by piece: writes go through a
// pointer into a string kept at the largest size any line needed, so that
// a line neither checks the string on each piece nor clears the room.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/vk_bytes.h"

namespace vk {

// A report writes each text of a link on its lines as it stands: a control
// character it holds (any C0 character but the tab, DEL, or a C1 control)
// is written as a mark (mark_control_chars, foundation/vk_text.h), so that
// it can neither break a line nor hide the text's rest. The text itself is
// never changed.

namespace line_marks {
constexpr uint64_t ones = 0x0101010101010101ull;
// A byte below 0x20, equal to 0x7F or to 0xC2 (the lead byte of a C1
// control) sets the high bit of a lane (a tab or another 0xC2 too: then the
// exact search decides).
constexpr bool any_marked(uint64_t w) {
  const uint64_t d = w ^ (ones * 0x7F);
  const uint64_t c = w ^ (ones * 0xC2);
  return ((((w - ones * 0x20) & ~w) | ((d - ones) & ~d) | ((c - ones) & ~c)) & (ones * 0x80)) != 0;
}
// The words at `at` of the text; zero (which is marked) where it does not
// hold them.
inline uint64_t word(const byte_view& t, size_t at) {
  uint64_t w = 0;
  t.block(at, w);
  return w;
}
inline uint32_t half_word(const byte_view& t, size_t at) {
  uint32_t w = 0;
  t.block(at, w);
  return w;
}
}  // namespace line_marks

// copy_unmarked for a text of more than 16 bytes.
bool copy_long_unmarked(char* out, const char* t, size_t n) noexcept;

// Copies the text to out (room for its size) and says whether it surely
// holds no such character, in the same pass over its bytes; on false the
// caller writes the text with its marks instead (the copy is then
// overwritten or dropped).
inline bool copy_unmarked(char* out, std::string_view t) noexcept {
  using namespace line_marks;
  const char* p = t.data();
  const size_t n = t.size();
  const byte_view v(reinterpret_cast<const uint8_t*>(p), n);
  if (n >= 8) {
    if (n > 16) return copy_long_unmarked(out, p, n);
    const uint64_t a = word(v, 0), b = word(v, n - 8);
    std::memcpy(out, &a, 8);
    std::memcpy(out + n - 8, &b, 8);
    return !any_marked(a) && !any_marked(b);
  }
  if (n >= 4) {
    const uint32_t a = half_word(v, 0), b = half_word(v, n - 4);
    std::memcpy(out, &a, 4);
    std::memcpy(out + n - 4, &b, 4);
    return !any_marked(a | (static_cast<uint64_t>(b) << 32));
  }
  if (n == 0) return true;
  const auto first = static_cast<uint8_t>(p[0]), mid = static_cast<uint8_t>(p[n / 2]),
             last = static_cast<uint8_t>(p[n - 1]);
  out[0] = static_cast<char>(first);
  out[n / 2] = static_cast<char>(mid);
  out[n - 1] = static_cast<char>(last);
  return !any_marked((ones * 0x20 & ~uint64_t{0xFFFFFF}) | first | uint64_t{mid} << 8 |
                     uint64_t{last} << 16);
}

// The size of the text with its marks, and the marked text written at out
// (which has that room); first is where the first control character
// stands. marked_size gives in marks_end (when not null) where its last
// mark ends; handed to put_marks, the bytes from there are copied without
// being searched again.
size_t marked_size(std::string_view t, size_t first, size_t* marks_end = nullptr) noexcept;
char* put_marks(char* out, std::string_view t, size_t first,
                size_t marks_end = std::string_view::npos) noexcept;

// The text with its marks, handed to piece a few KiB at a time (a run
// without a mark may come whole, from where it stands).
void each_marked_piece(std::string_view t, const std::function<void(std::string_view)>& piece);

// The text with its marks made at the start of spare (which keeps its room
// and its size, so may run past the marked text); the text itself when it
// holds no control character (or no room can be had).
std::string_view marked_text_made(std::string_view t, std::string& spare) noexcept;

// The text as a report writes it: itself for the usual text, else its
// marked form, made in spare.
std::string_view marked_text(std::string_view t, std::string& spare) noexcept;

// A line may hold a text of many megabytes (the path of a list of a million
// items): such a text is not copied into the line but held where it stands
// and written from there, so that a report never needs a second copy of it.
// In the line's bytes a held text takes one byte, a NUL, so that what is
// written after it, what a cut drops and what a rewrite moves stay in
// their order; text() and size() are those bytes.
class line_sink {
 public:
  // Texts from this size on may be held; tests lower it to take the held
  // road with small texts.
  static inline size_t held_from = size_t{1} << 16;

  // Writes into room from its start; room keeps its size between lines.
  explicit line_sink(std::string& room)
      : m_room(room), m_begin(room.data()), m_at(m_begin), m_end(m_begin + room.size()) {}
  line_sink(const line_sink&) = delete;
  line_sink& operator=(const line_sink&) = delete;

  size_t size() const { return static_cast<size_t>(m_at - m_begin); }
  std::string_view text() const { return {m_begin, size()}; }
  char* data() { return m_begin; }

  // Holds t (which must outlive the line) in place of copying it, when it is
  // large. It is written as the line's rewrites would make a copy of it:
  // with its marks (so with no line end), its quotes doubled where the
  // cell is quoted (quote_since), and each `from` in it as `to`, as the
  // replacement of the line's own bytes makes it (0: none). False, with
  // nothing written, when it is small or that replacement would make a
  // quote or a character to mark.
  bool hold(std::string_view t, char from = 0, char to = 0);
  // The byte at i as written: a held text's first when one stands there.
  char first_at(size_t i) const;
  // The bytes the last text held is written as.
  size_t last_held_size() const { return m_held.empty() ? 0 : m_held.back().written; }
  // How many more bytes the texts held from byte start on are written as
  // than the line holds for them.
  size_t held_extra_since(size_t start) const {
    size_t extra = 0;
    for (auto h = m_held.rbegin(); h != m_held.rend() && h->at >= start; ++h)
      extra += h->written - 1;
    return extra;
  }
  // The held texts copied into the line's bytes, for a rewrite that reads
  // them; the line then holds none.
  void take_in_held();
  // Appends another line, its held texts held again (they stay where they
  // stand).
  void put(const line_sink& other);
  // Writes the line, each held text in its place.
  void write_to(std::ostream& out) const;

  // A text as a quoted cell: in double quotes, each quote in it doubled, so
  // that a CSV reader takes the separators and quotes inside as the value's.
  void put_quoted(std::string_view t);
  // What was written since start, as a quoted cell (spare takes its copy;
  // a held text there stays held, its quotes to be doubled).
  void quote_since(size_t start, std::string& spare);

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
    const size_t n = t.size();
    if (static_cast<size_t>(m_end - m_at) < n) grow(n);
    if (copy_unmarked(m_at, t))
      m_at += n;
    else
      put_with_marks(t);
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
    if (n >= size()) return;
    m_at = m_begin + n;
    if (!m_held.empty()) drop_held_from(n);
  }

 private:
  struct held_text {
    size_t at;  // its byte in the line
    std::string_view text;
    size_t written;   // its size as written
    size_t quotes;    // its double quotes
    uint32_t copies;  // each quote is written this many times
    char from, to;    // written in place of each other
    bool marks;       // it holds characters written as marks
  };

  // Rare, and apart from the appends so that they stay small.
  void grow(size_t n);
  void put_with_marks(std::string_view t);
  // The text held at the line's end, its byte written.
  void put_held(held_text h);
  void drop_held_from(size_t n);
  void put_doubled(std::string_view t);
  // Calls part for each piece of the line in order: its own bytes between
  // the held texts, and the held texts as they are written.
  template <class Part>
  void each_part(Part part) const;

  std::string& m_room;
  char* m_begin;
  char* m_at;
  char* m_end;
  std::vector<held_text> m_held;
};

}  // namespace vk
