#include "cmdline/line_sink.h"

#include <algorithm>
#include <array>
#include <bit>
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

namespace {

size_t count_quotes(std::string_view t) noexcept {
  const char* const p = t.data();
  const size_t n = t.size();
  size_t count = 0, i = 0;
#ifdef __SSE2__
  // Sixteen byte counters, each taking at most 255 groups before they are
  // summed.
  const __m128i quote = _mm_set1_epi8('"');
  while (i + 16 <= n) {
    __m128i counters = _mm_setzero_si128();
    for (size_t k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
      const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(g, quote));
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; i < n; ++i) count += p[i] == '"';
  return count;
}

}  // namespace

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
  const size_t quotes = count_quotes(t);
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

namespace {

// What a held text's writing may change of a byte: 1, a mark may start
// there (below 0x20, 0x7F, 0xC2); 2, a quote; 0, nothing.
constexpr auto k_byte_kinds = [] {
  std::array<uint8_t, 256> kinds{};
  for (size_t c = 0; c < 0x20; ++c) kinds[c] = 1;
  kinds[0x7F] = kinds[0xC2] = 1;
  kinds['"'] = 2;
  return kinds;
}();

#ifdef __SSE2__
// The bytes of a group a held text's writing may change (a mark may start
// there: below 0x20, 0x7F, 0xC2), and its quotes, as bit masks.
inline uint32_t changed_bytes(__m128i g) noexcept {
  const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
  // Unsigned below 0x20: a signed compare with the sign bits flipped.
  const __m128i low = _mm_cmplt_epi8(_mm_xor_si128(g, sign), _mm_set1_epi8(0x20 - 0x80));
  const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(g, _mm_set1_epi8(0x7F)),
                                     _mm_cmpeq_epi8(g, _mm_set1_epi8(static_cast<char>(0xC2))));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(low, other)));
}
inline uint32_t quote_bytes(__m128i g) noexcept {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(g, _mm_set1_epi8('"'))));
}
#endif

}  // namespace

template <class Part>
void line_sink::each_part(Part part) const {
  size_t from = 0;
  for (const held_text& h : m_held) {
    part(std::string_view(m_begin + from, h.at - from));
    from = h.at + 1;
    const std::string_view t = h.text;
    // The replacement reaches the marks' characters too.
    const bool replacing = h.from != 0 && h.from != h.to &&
                           (h.marks || std::memchr(t.data(), h.from, t.size()) != nullptr);
    const bool doubling = h.copies > 1 && h.quotes != 0;
    if (!h.marks && !doubling && !replacing) {
      part(t);
      continue;
    }
    // As the text would have been copied: with its marks, each quote
    // written as many times as its quoting asks, then replaced (marks
    // too). Made in one pass into a piece at a time: sixteen plain bytes a
    // step, the others one by one, so that texts full of quotes or control
    // characters cost no call per character.
    char piece[16384];
    // Locals only in the loop: a store through a char pointer could alias
    // anything whose address is taken.
    const char from_char = h.from, to_char = h.to;
    const uint32_t copies = doubling ? h.copies : 1;
    const bool marks = h.marks;
    // Room for a step: sixteen bytes each written as often as a quote is
    // (a group of quotes a step while that stays small), or marks.
    const bool group_quotes = copies <= 64;
    const size_t slack = 16 * (group_quotes ? copies : 1) + 64;
    auto flush = [&part, &piece, replacing, from_char, to_char](char* end) {
      if (replacing) std::replace(piece, end, from_char, to_char);
      part(std::string_view(piece, static_cast<size_t>(end - piece)));
      return piece;
    };
    char* out = piece;
    char* const last_room = piece + sizeof piece;
    const char* const p = t.data();
    const size_t size = t.size();
    size_t i = 0;
    while (i < size) {
      if (out > last_room - slack) out = flush(out);
#ifdef __SSE2__
      if (i + 16 <= size) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const uint32_t changed = changed_bytes(g);
        const uint32_t quotes = doubling ? quote_bytes(g) : 0;
        if ((changed | quotes) == 0) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), g);
          out += 16;
          i += 16;
          continue;
        }
        if (changed == 0 && group_quotes) {
          // Each run up to and with a quote, then its further copies;
          // sixteen-byte stores from the group and zeros past it.
          alignas(16) char group[32];
          _mm_store_si128(reinterpret_cast<__m128i*>(group), g);
          _mm_store_si128(reinterpret_cast<__m128i*>(group + 16), _mm_setzero_si128());
          size_t prev = 0;
          for (uint32_t q = quotes; q != 0; q &= q - 1) {
            const auto at = static_cast<size_t>(std::countr_zero(q));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + prev)));
            out += at - prev + 1;
            for (uint32_t k = 1; k < copies; ++k) *out++ = '"';
            prev = at + 1;
          }
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + prev)));
          out += 16 - prev;
          i += 16;
          continue;
        }
      }
#endif
      // The next sixteen bytes (or the rest) one by one.
      for (const size_t stop = std::min(size, i + 16); i < stop;) {
        if (out > last_room - 8) out = flush(out);
        const auto c = static_cast<unsigned char>(p[i]);
        const uint8_t kind = k_byte_kinds[c];
        if (kind == 0 || (kind == 2 && copies == 1)) {
          *out++ = static_cast<char>(c);
          ++i;
        } else if (kind == 2) {
          for (uint32_t k = 0; k < copies; ++k) {
            if (out == last_room) out = flush(out);
            *out++ = '"';
          }
          ++i;
        } else if (marks && control_char_at(t, i)) {
          char number[6];
          size_t at = i;
          const std::string_view shown = mark_at(t, at, number);
          i = at;
          std::memcpy(out, shown.data(), shown.size());
          out += shown.size();
        } else {
          *out++ = static_cast<char>(c);
          ++i;
        }
      }
    }
    if (out != piece) flush(out);
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
