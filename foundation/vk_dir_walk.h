// Level-by-level search of a directory tree for files matching a name
// pattern. The filtered walk with a callback is in cmdline/dir_tree_ops.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vkportdir {

// Appends to `out` the paths of the files matching `pattern` (as
// match_dir_entries reads it) in `start` and its subdirectories, one level at
// a time, to `levels` levels (0 or less: nothing; 1: `start` alone). The
// long-path prefix is cut from the paths handed out.
void find_files_levels(std::vector<std::string>& out, const std::string& start,
                       const std::string& pattern, int32_t levels);
void find_files_levels_w(std::vector<std::wstring>& out, const std::wstring& start,
                         const std::wstring& pattern, int32_t levels);

}  // namespace vkportdir
