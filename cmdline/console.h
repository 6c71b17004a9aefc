// Console output bound to the settings object. The look-ups of the value
// that follows an option name live with the other argument routines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_args.h"  // the option-value look-ups once declared here
#include "foundation/vk_console.h"

namespace vk {

// erase_status_line unless status messages are off ("-quiet").
void erase_status_line_unless_quiet(const cmd_params& settings);
// The same for an optional settings pointer: nothing for null.
void erase_status_line_if_enabled(const cmd_params* settings);

}  // namespace vk
