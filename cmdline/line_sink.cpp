#include "cmdline/line_sink.h"

namespace vk {

void line_sink::grow(size_t n) {
  size_t want = m_room.size() * 2;
  if (want < m_at + n) want = m_at + n;
  m_room.resize(want < 1024 ? 1024 : want);
}

}  // namespace vk
