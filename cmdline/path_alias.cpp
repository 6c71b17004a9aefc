#include "cmdline/path_alias.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_string.h"

namespace vk {

const std::string& apply_path_alias(const cmd_params& settings, std::string& out,
                                    const std::string& path) {
  out.clear();
  if (settings.m_aliases.empty() && settings.m_alias_paths.empty()) return path;
  return guarded(
      [&]() -> const std::string& {
        std::string lower = path;
        str_to_lower(lower);
        if (!settings.m_aliases.empty()) {
          auto whole = settings.m_aliases.find(lower);
          if (whole != settings.m_aliases.end()) {
            out = whole->second;
            return out;
          }
        }
        if (path.empty()) return path;
        for (const auto& [key, replacement] : settings.m_alias_paths) {
          if (key.size() >= lower.size()) continue;
          const size_t at = lower.find(key);
          if (at == std::string::npos) continue;
          // The rest keeps the path's own letter case and separators.
          out = replacement + path.substr(at + key.size());
          return out;
        }
        return path;
      },
      [&]() -> const std::string& {
        out.clear();
        return path;
      });
}

}  // namespace vk
