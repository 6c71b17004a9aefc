#include "cmdline/line_sink.h"

#include <algorithm>
#include <cstring>

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

}  // namespace

// The marks are those of mark_control_chars (foundation/vk_text.h), written
// in place: "[CRLF]", "[LFCR]", "[LF]", "[CR]" for line ends, "[0xNN]" for
// the others.
size_t marked_size(std::string_view t, size_t first) noexcept {
  const size_t n = t.size();
  size_t size = first;
  for (size_t i = first; i < n;) {
    const size_t mark = std::min(find_control_char(t, i), n);
    size += mark - i;
    if ((i = mark) == n) break;
    if (t[i] == '\r' || t[i] == '\n') {
      const bool pair = line_end_pair(t, i);
      size += pair ? 6 : 4;  // "[CRLF]" or "[LFCR]", "[CR]" or "[LF]"
      i += pair ? 2 : 1;
    } else {
      size += 6;
      ++i;
    }
  }
  return size;
}

char* put_marks(char* out, std::string_view t, size_t first) noexcept {
  const size_t n = t.size();
  std::memcpy(out, t.data(), first);
  out += first;
  for (size_t i = first; i < n;) {
    const size_t mark = std::min(find_control_char(t, i), n);
    std::memcpy(out, t.data() + i, mark - i);
    out += mark - i;
    if ((i = mark) == n) break;
    const auto c = static_cast<unsigned char>(t[i]);
    std::string_view shown;
    char number[6] = {'[', '0', 'x', k_hex[c >> 4], k_hex[c & 0xF], ']'};
    if (c == '\r' || c == '\n') {
      const bool pair = line_end_pair(t, i);
      shown = c == '\r' ? (pair ? "[CRLF]" : "[CR]") : (pair ? "[LFCR]" : "[LF]");
      i += pair ? 2 : 1;
    } else {
      shown = std::string_view(number, sizeof(number));
      ++i;
    }
    std::memcpy(out, shown.data(), shown.size());
    out += shown.size();
  }
  return out;
}

std::string_view marked_text_made(std::string_view t, std::string& spare) noexcept {
  const size_t first = find_control_char(t);
  if (first == std::string_view::npos) return t;
  const size_t size = marked_size(t, first);
  const bool room = guarded([&] {
    spare.resize(size);
    return true;
  });
  if (!room) return t;
  put_marks(spare.data(), t, first);
  return spare;
}

void line_sink::put_with_marks(std::string_view t) {
  const size_t first = find_control_char(t);
  if (first == std::string_view::npos) return put(t);
  m_at = put_marks(room(marked_size(t, first)), t, first);
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

}  // namespace vk
