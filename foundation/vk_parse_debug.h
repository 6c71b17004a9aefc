// The debug output of a parse: the stream that dump and field lines go to,
// and the switch that turns it on. The shell-item and link parsers carry it
// inside their parse context; library writers that only print take it alone.
#pragma once

#include <ostream>

namespace vk {

struct parse_debug {
  std::ostream* m_debug_stream = nullptr;
  bool m_debug_on = false;
};

// True when there is a debug stream and the switch is on.
inline bool debug_output_enabled(const parse_debug& ctx) {
  return ctx.m_debug_stream != nullptr && ctx.m_debug_on;
}

}  // namespace vk
