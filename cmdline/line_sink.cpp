#include "cmdline/line_sink.h"

namespace vk {

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
