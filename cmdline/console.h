// Console output bound to the settings object, and look-ups of the value
// that follows an option name in the argument vector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "foundation/vk_console.h"

namespace vk {

// erase_status_line unless status messages are off ("-quiet").
void erase_status_line_unless_quiet(const cmd_params& settings);
// The same for an optional settings pointer: nothing for null.
void erase_status_line_if_enabled(const cmd_params* settings);

// Appends every argument (a null one as ""); true when out is not empty.
bool args_to_vector(std::vector<std::string>& out, int32_t argc, const char* const* argv);
// The argument after the first one equal to name (case ignored) at or after
// start; nothing is removed. False when absent or last.
bool find_option_value_from(const char* name, std::string& value,
                            const std::vector<std::string>& args, uint8_t start);
// The same from index 0, removing the name and its value from args.
bool find_option_value(const char* name, std::string& value, std::vector<std::string>& args);

}  // namespace vk
