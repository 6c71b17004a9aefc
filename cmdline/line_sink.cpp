#include "cmdline/line_sink.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_text.h"

namespace vk {

std::string_view marked_text_made(std::string_view t, std::string& spare) noexcept {
  if (find_control_char(t) == std::string_view::npos) return t;
  const bool made = guarded([&] {
    spare.assign(t);
    mark_control_chars(spare);
    return true;
  });
  return made ? std::string_view(spare) : t;
}

void line_sink::put_marks(std::string_view t) {
  // Rare (a text with control characters): the marks are made apart.
  std::string spare;
  put(marked_text_made(t, spare));
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
