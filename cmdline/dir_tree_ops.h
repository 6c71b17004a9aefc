// The filtered level-by-level walk of a directory tree, and the operations
// built on it that overwrite and delete files: wiping, shredding and logged
// removal of a whole tree. They sit here, not in the foundation library,
// because they take the file filters and write to the "-diags" log.
//
// They change only what they are handed: no symbolic link is written
// through (a link is removed as a link), no file is renamed or moved onto an
// existing name, and no directory is created for a temporary move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cmdline/cmd_params.h"
#include "cmdline/filter_entry.h"

namespace vkportdir {

// Called with the path (long-path prefix cut), 1 for a directory and 0 for a
// file, the caller's word and the options; its result is ignored.
using walk_callback = bool (*)(const std::wstring& path, bool is_dir, void* user,
                               vk::cmd_params* options);

// Visits the tree one level at a time to `levels` levels (0 or less:
// nothing; 1: the root and its files). Each directory comes before its files;
// the directories of a level are taken last-found first. An entry reaches the
// callback when it passes the filters (with the options' time window, or
// with default settings when options is null); a file that a signature
// filter could not open does not. Symbolic links are listed as files and
// never followed.
void walk_dir(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
              walk_callback callback, void* user, vk::cmd_params* options, int32_t levels);
// The same after expanding %NAME% references of the root ("%vss%" included).
void walk_dir_utf8(const std::string& root, const std::vector<vk::filter_entry>& filters,
                   walk_callback callback, void* user, vk::cmd_params* options, int32_t levels);
void walk_dir_expanded_w(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
                         walk_callback callback, void* user, vk::cmd_params* options,
                         int32_t levels);

// Codes recorded by wipe_path.
constexpr uint32_t k_wipe_directory = 1;
constexpr uint32_t k_wipe_failed = 2;
constexpr uint32_t k_wipe_done = 6;
using wipe_results = std::map<std::wstring, uint32_t>;

// Records a directory (not "." or "..") with code 1; overwrites a plain file
// with zeros (its size rounded up to 512) and records 6, or 2 when that
// fails. A symbolic link, or a file with more than one name, is not written
// (code 2). Logs "wipe: "/"not wiped: " and, with status messages on, writes
// "wiped: "/"not wiped: " to standard error. Always false.
bool wipe_path(const std::wstring& path, bool is_dir, wipe_results* results,
               vk::cmd_params* settings);

// Overwrites the file with zeros, appends one byte, renames it to a random
// name beside it, moves it into the "%TEMP%" directory and removes it. A
// link is removed as a link. True when the file is gone.
bool shred_file(const std::wstring& path);

// Wipes every accepted file of the tree (walk_dir_expanded_w), then per file
// appends a byte, renames it to a random name, moves it into "%TEMP%" and
// removes it, logging each step; then removes the recorded directories,
// deepest first. A root that is a symbolic link is removed as a link and
// nothing behind it is touched. True when everything recorded was removed.
bool remove_tree_logged(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
                        int32_t levels, vk::cmd_params& settings);

// Where the random names come from: `printable` (33..126) for shred_file,
// `alnum` for remove_tree_logged. Tests install their own for a scope.
struct random_name_sources {
  void (*printable)(std::string& out, size_t n);
  void (*alnum)(std::string& out, size_t n);
};

class scoped_random_names {
 public:
  explicit scoped_random_names(const random_name_sources& sources);
  ~scoped_random_names();
  scoped_random_names(const scoped_random_names&) = delete;
  scoped_random_names& operator=(const scoped_random_names&) = delete;

 private:
  random_name_sources m_previous;
};

}  // namespace vkportdir
