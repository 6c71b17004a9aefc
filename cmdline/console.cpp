#include "cmdline/console.h"

namespace vk {

void erase_status_line_unless_quiet(const cmd_params& settings) {
  if (settings.m_status_messages) erase_status_line();
}

void erase_status_line_if_enabled(const cmd_params* settings) {
  if (settings) erase_status_line_unless_quiet(*settings);
}

}  // namespace vk
