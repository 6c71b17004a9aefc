#include "cmdline/console.h"

#include "foundation/vk_path.h"
#include "foundation/vk_string.h"

namespace vk {

void erase_status_line_unless_quiet(const cmd_params& settings) {
  if (settings.m_status_messages) erase_status_line();
}

void erase_status_line_if_enabled(const cmd_params* settings) {
  if (settings) erase_status_line_unless_quiet(*settings);
}

bool args_to_vector(std::vector<std::string>& out, int32_t argc, const char* const* argv) {
  try {
    for (int32_t i = 0; argv && i < argc; ++i) out.emplace_back(argv[i] ? argv[i] : "");
  } catch (...) {
  }
  return !out.empty();
}

bool find_option_value_from(const char* name, std::string& value,
                            const std::vector<std::string>& args, uint8_t start) {
  if (!name) return false;
  try {
    for (size_t i = start; i < args.size(); ++i) {
      std::string a = args[i], k = name;
      if (!iequals(a, k)) continue;
      if (i + 1 >= args.size()) return false;
      value = args[i + 1];
      return true;
    }
  } catch (...) {
  }
  return false;
}

bool find_option_value(const char* name, std::string& value, std::vector<std::string>& args) {
  return take_option_value(name, value, args);
}

}  // namespace vk
