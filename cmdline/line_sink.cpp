#include "cmdline/line_sink.h"

#include <algorithm>
#include <cstring>
#include <functional>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/uni_stream.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"

namespace vk {

namespace {

const char k_hex[] = "0123456789abcdef";

// A CR and LF side by side are one line end, the first met leading.
bool line_end_pair(std::string_view t, size_t i) {
  const char other = t[i] == '\r' ? '\n' : '\r';
  return i + 1 < t.size() && t[i + 1] == other;
}

// The next mark at or after i, as find_control_char finds it. Marks
// often come close together (binary bytes in a text): the next few bytes
// are looked at one by one before the wider search.
size_t next_mark(std::string_view t, size_t i) {
  const size_t n = t.size();
  for (const size_t near = std::min(n, i + 16); i < near; ++i)
    if (control_char_at(t, i)) return i;
  return i == n ? n : std::min(find_control_char(t, i), n);
}

}  // namespace

// The marks are those of mark_control_chars (foundation/vk_text.h), written
// in place: "[CRLF]", "[LFCR]", "[LF]", "[CR]" for line ends, "[0xNN]" for
// the others (a C1 control's two bytes make one mark).
size_t marked_size(std::string_view t, size_t first, size_t* marks_end) noexcept {
  const size_t n = t.size();
  size_t size = first, last = first;
  for (size_t i = first; i < n;) {
    const size_t mark = next_mark(t, i);
    size += mark - i;
    if ((i = mark) == n) break;
    if (t[i] == '\r' || t[i] == '\n') {
      const bool pair = line_end_pair(t, i);
      size += pair ? 6 : 4;  // "[CRLF]" or "[LFCR]", "[CR]" or "[LF]"
      i += pair ? 2 : 1;
    } else {
      size += 6;
      i += static_cast<unsigned char>(t[i]) == 0xC2 ? 2 : 1;
    }
    last = i;
  }
  if (marks_end) *marks_end = last;
  return size;
}

namespace {

// The mark of the control character that starts at t[i] (made in number
// when it is one); i moves past the character.
std::string_view mark_at(std::string_view t, size_t& i, char (&number)[6]) {
  auto c = static_cast<unsigned char>(t[i]);
  if (c == '\r' || c == '\n') {
    const bool pair = line_end_pair(t, i);
    i += pair ? 2 : 1;
    return c == '\r' ? (pair ? "[CRLF]" : "[CR]") : (pair ? "[LFCR]" : "[LF]");
  }
  // A C1 control's code point is its second byte.
  if (c == 0xC2) c = static_cast<unsigned char>(t[++i]);
  ++i;
  number[0] = '[';
  number[1] = '0';
  number[2] = 'x';
  number[3] = k_hex[c >> 4];
  number[4] = k_hex[c & 0xF];
  number[5] = ']';
  return {number, sizeof(number)};
}

}  // namespace

char* put_marks(char* out, std::string_view t, size_t first, size_t marks_end) noexcept {
  const size_t n = t.size();
  std::memcpy(out, t.data(), first);
  out += first;
  for (size_t i = first; i < n;) {
    // Past the last mark the text is copied as it stands.
    if (i >= marks_end) {
      std::memcpy(out, t.data() + i, n - i);
      return out + (n - i);
    }
    const size_t mark = next_mark(t, i);
    std::memcpy(out, t.data() + i, mark - i);
    out += mark - i;
    if ((i = mark) == n) break;
    char number[6];
    const std::string_view shown = mark_at(t, i, number);
    std::memcpy(out, shown.data(), shown.size());
    out += shown.size();
  }
  return out;
}

void each_marked_piece(std::string_view t, const std::function<void(std::string_view)>& piece) {
  // Marks gather in a small buffer; a long run without one goes as it stands.
  char gathered[4096];
  size_t n = 0;
  auto flush = [&] {
    if (n != 0) piece(std::string_view(gathered, n));
    n = 0;
  };
  auto add = [&](std::string_view s) {
    if (s.size() > sizeof(gathered) - n) {
      flush();
      if (s.size() >= sizeof(gathered)) return piece(s);
    }
    std::memcpy(gathered + n, s.data(), s.size());
    n += s.size();
  };
  for (size_t i = 0; i < t.size();) {
    const size_t mark = next_mark(t, i);
    add(t.substr(i, mark - i));
    if ((i = mark) == t.size()) break;
    char number[6];
    add(mark_at(t, i, number));
  }
  flush();
}

#ifdef __SSE2__
namespace {

// The exact test of copy_long_unmarked's groups, for a text the quick test
// flagged.
bool long_unmarked(const char* t, size_t n) noexcept {
  const __m128i below = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i c1_lead = _mm_set1_epi8(static_cast<char>(0xC2));
  const byte_view v(reinterpret_cast<const uint8_t*>(t), n);
  __m128i any = _mm_setzero_si128();
  auto step = [&](__m128i group) {
    any = _mm_or_si128(any, _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(group, below), group),
                                         _mm_or_si128(_mm_cmpeq_epi8(group, del),
                                                      _mm_cmpeq_epi8(group, c1_lead))));
  };
  size_t i = 0;
  __m128i group;
  for (; v.block(i, group); i += 16) step(group);
  if (i < n && v.block(n - 16, group)) step(group);
  return _mm_movemask_epi8(any) == 0;
}

}  // namespace
#endif

bool copy_long_unmarked(char* out, const char* t, size_t n) noexcept {
#ifdef __SSE2__
  // Sixteen bytes a step; the last group ends at the text's end. The quick
  // test flags every byte below 0x20 or from 0x7F on (one more than the
  // byte, as a signed number, below 0x21); a flagged text, one that is not
  // plain ASCII, is looked at again by the exact test.
  const __m128i one = _mm_set1_epi8(1);
  const __m128i limit = _mm_set1_epi8(0x21);
  const byte_view v(reinterpret_cast<const uint8_t*>(t), n);
  __m128i any = _mm_setzero_si128();
  auto step = [&](size_t at, __m128i group) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), group);
    any = _mm_or_si128(any, _mm_cmplt_epi8(_mm_add_epi8(group, one), limit));
  };
  size_t i = 0;
  __m128i group;
  for (; v.block(i, group); i += 16) step(i, group);
  // A text is more than 16 bytes: its last group is always there.
  if (i < n && v.block(n - 16, group)) step(n - 16, group);
  return _mm_movemask_epi8(any) == 0 || long_unmarked(t, n);
#else
  std::memcpy(out, t, n);
  return find_control_char(std::string_view(t, n)) == std::string_view::npos;
#endif
}

std::string_view marked_text(std::string_view t, std::string& spare) noexcept {
  const size_t n = t.size();
  if (n <= 16) {
    char copy[16];
    if (copy_unmarked(copy, t)) return t;
  }
  return marked_text_made(t, spare);
}

std::string_view marked_text_made(std::string_view t, std::string& spare) noexcept {
  const size_t first = find_control_char(t);
  if (first == std::string_view::npos) return t;
  size_t marks_end = 0;
  const size_t size = marked_size(t, first, &marks_end);
  // The spare keeps its largest size: growing it fills the new room with
  // zeros, and the texts marked one after another are mostly alike in size.
  const bool room = spare.size() >= size || guarded([&] {
                      spare.resize(size);
                      return true;
                    });
  if (!room) return t;
  put_marks(spare.data(), t, first, marks_end);
  return std::string_view(spare.data(), size);
}

void line_sink::put_with_marks(std::string_view t) {
  const size_t first = find_control_char(t);
  if (first == std::string_view::npos) return put(t);
  size_t marks_end = 0;
  const size_t size = marked_size(t, first, &marks_end);
  m_at = put_marks(room(size), t, first, marks_end);
}

void line_sink::grow(size_t n) {
  const size_t used = size();
  size_t want = m_room.size() * 2;
  if (want < used + n) want = used + n;
  m_room.resize(want < 1024 ? 1024 : want);
  m_begin = m_room.data();
  m_at = m_begin + used;
  m_end = m_begin + m_room.size();
}

bool line_sink::hold(std::string_view t, char from, char to) {
  if (t.size() < held_from) return false;
  // A replacement that would make a quote or a character to mark is not
  // made in a held text: such a text is copied.
  if (from != 0 && from != to &&
      (to == '"' || find_control_char(std::string_view(&to, 1)) != std::string_view::npos) &&
      std::memchr(t.data(), from, t.size()) != nullptr)
    return false;
  const size_t first = find_control_char(t);
  const bool marks = first != std::string_view::npos;
  size_t quotes = 0;
  const char* const end = t.data() + t.size();
  for (const char* q = t.data();
       (q = static_cast<const char*>(std::memchr(q, '"', static_cast<size_t>(end - q)))) != nullptr;
       ++q)
    ++quotes;
  const size_t written = marks ? marked_size(t, first) : t.size();
  put_held({0, t, written, quotes, 1, from, to, marks});
  return true;
}

char line_sink::first_at(size_t i) const {
  if (i >= size()) return 0;
  for (const held_text& h : m_held) {
    if (h.at != i) continue;
    // Its first byte as written: a mark's, or the replacement's.
    if (control_char_at(h.text, 0)) return '[';
    return h.text[0] == h.from && h.from != 0 ? h.to : h.text[0];
  }
  return m_begin[i];
}

void line_sink::put_held(held_text h) {
  h.at = size();
  m_held.push_back(h);
  put('\0');
}

void line_sink::drop_held_from(size_t n) {
  while (!m_held.empty() && m_held.back().at >= n) m_held.pop_back();
}

template <class Part>
void line_sink::each_part(Part part) const {
  size_t from = 0;
  for (const held_text& h : m_held) {
    part(std::string_view(m_begin + from, h.at - from));
    // As the text would have been copied: with its marks, its quotes
    // doubled, then replaced.
    auto replaced = [&](std::string_view p) {
      if (h.from == 0 || h.from == h.to || std::memchr(p.data(), h.from, p.size()) == nullptr)
        return part(p);
      char piece[4096];
      while (!p.empty()) {
        const size_t n = std::min(p.size(), sizeof(piece));
        std::replace_copy(p.data(), p.data() + n, piece, h.from, h.to);
        part(std::string_view(piece, n));
        p.remove_prefix(n);
      }
    };
    // Each quote written as many times as the text was quoted asks.
    auto quoted = [&](std::string_view p) {
      if (h.copies == 1) return replaced(p);
      for (size_t q; (q = p.find('"')) != std::string_view::npos;) {
        replaced(p.substr(0, q + 1));
        for (uint32_t k = 1; k < h.copies; ++k) replaced("\"");
        p.remove_prefix(q + 1);
      }
      replaced(p);
    };
    if (h.marks)
      each_marked_piece(h.text, quoted);
    else
      quoted(h.text);
    from = h.at + 1;
  }
  part(std::string_view(m_begin + from, size() - from));
}

void line_sink::take_in_held() {
  if (m_held.empty()) return;
  size_t total = size() - m_held.size();
  for (const held_text& h : m_held) total += h.written;
  std::string joined;
  joined.reserve(std::max(total, m_room.size()));
  each_part([&](std::string_view p) { joined.append(p); });
  m_held.clear();
  joined.resize(std::max(total, m_room.size()));
  m_room.swap(joined);
  m_begin = m_room.data();
  m_at = m_begin + total;
  m_end = m_begin + m_room.size();
}

void line_sink::put(const line_sink& other) {
  size_t from = 0;
  for (const held_text& h : other.m_held) {
    put(std::string_view(other.m_begin + from, h.at - from));
    put_held(h);
    from = h.at + 1;
  }
  put(std::string_view(other.m_begin + from, other.size() - from));
}

void line_sink::put_doubled(std::string_view t) {
  for (size_t q; (q = t.find('"')) != std::string_view::npos;) {
    put(t.substr(0, q + 1));
    put('"');
    t.remove_prefix(q + 1);
  }
  put(t);
}

void line_sink::put_quoted(std::string_view t) {
  put('"');
  put_doubled(t);
  put('"');
}

void line_sink::quote_since(size_t start, std::string& spare) {
  spare.assign(text().substr(start));
  size_t first = m_held.size();
  while (first > 0 && m_held[first - 1].at >= start) --first;
  const std::vector<held_text> moved(m_held.begin() + static_cast<ptrdiff_t>(first), m_held.end());
  m_held.resize(first);
  m_at = m_begin + start;
  // The cell's own bytes quoted piece by piece, each held text between them
  // held again where its byte lands.
  const std::string_view own = spare;
  put('"');
  size_t from = 0;
  for (const held_text& h : moved) {
    put_doubled(own.substr(from, h.at - start - from));
    held_text again = h;
    again.written += again.quotes * again.copies;
    again.copies *= 2;
    put_held(again);
    from = h.at - start + 1;
  }
  put_doubled(own.substr(from));
  put('"');
}

void line_sink::write_to(std::ostream& out) const {
  if (m_held.empty()) return uni::write_block(out, m_begin, size());
  each_part([&](std::string_view p) { uni::write_block(out, p.data(), p.size()); });
}

}  // namespace vk
