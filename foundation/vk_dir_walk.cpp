#include "foundation/vk_dir_walk.h"

#include <deque>
#include <utility>

#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_portable_dir.h"

namespace vkportdir {

void find_files_levels(std::vector<std::string>& out, const std::string& start,
                       const std::string& pattern, int32_t levels) {
  if (start.empty()) return;
  vk::guarded([&] {
    std::deque<std::string> current{start};
    std::deque<std::string> next;
    std::vector<find_entry> found;
    for (int32_t level = 0; level < levels; ++level) {
      while (!current.empty()) {
        match_dir_entries(current.back(), pattern, found);
        current.pop_back();
        for (auto& e : found) {
          if (e.is_dir) {
            next.push_back(std::move(e.path));
          } else if (e.long_path && e.path.size() > 4) {
            out.push_back(e.path.substr(4));
          } else {
            out.push_back(std::move(e.path));
          }
        }
      }
      if (next.empty()) break;
      current.swap(next);
      next.clear();
    }
  });
}

void find_files_levels_w(std::vector<std::wstring>& out, const std::wstring& start,
                         const std::wstring& pattern, int32_t levels) {
  vk::guarded([&] {
    std::string dir;
    if (!vk::path_to_bytes(start, dir)) return;
    std::vector<std::string> found;
    find_files_levels(found, dir, vk::path_from_wide(pattern), levels);
    for (const auto& p : found) out.push_back(vk::path_to_wide(p));
  });
}

}  // namespace vkportdir
