// File operations over the listing, node and file layers: moving a file into
// a directory (of its own), selecting files by status and content, wildcard
// and listing searches, stream sizes and relative paths.
//
// A move never replaces a file that already has the destination name: it is
// refused instead. The operations that overwrite and delete files (wipe,
// shred, tree removal) need the settings object and live in
// cmdline/dir_tree_ops.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace vkportdir {

// One criterion of select_files_by_content. It is met when every status test
// passes and each non-empty pattern is found where it says.
struct content_criterion {
  uint64_t m_since = 0;  // created or altered (unix seconds) not earlier than this
  uint64_t m_min_size = 0;
  uint64_t m_max_size = std::numeric_limits<uint64_t>::max();
  std::wstring m_extension;  // when not empty, the extension must equal it
  uint32_t m_range_start = 0;
  uint32_t m_range_end = 0;  // 0: no range search
  std::vector<uint8_t> m_range_pattern;
  uint32_t m_tail_length = 0;  // bytes at the end of the file (at most 16384 read)
  std::vector<uint8_t> m_tail_pattern;
  uint32_t m_step_length = 0;  // bytes read at every 512-byte step (at most 512)
  std::vector<uint8_t> m_step_pattern;
};

// Moves `source` into `dest_dir` (created when missing) under its own name;
// new_path receives the new path. False when the source does not exist, the
// destination name is taken, or the rename fails.
bool move_into_dir(std::string& new_path, const std::string& dest_dir, const std::string& source);

// Moves "dir/stem.ext" into "dir/stem/" unless its directory is already
// named stem; with move_related, the files of the related directories whose
// name without extension is the stem follow it (names compared whole). True
// when the file itself was moved.
bool move_into_own_dir(std::string& new_path, const std::string& path,
                       const std::vector<std::string>& related_dirs, bool move_related);

// Keeps the files that meet at least one criterion (directories and files
// that cannot be examined are dropped); the result replaces `paths`. True
// when it is not empty.
bool select_files_by_content(std::vector<std::string>& paths,
                             const std::vector<content_criterion>& criteria);

// Lists the directory of `path` and puts into `out` (emptied first) each
// entry whose lower-cased name matches the lower-cased last component: '?'
// stands for any run of characters, the text after the last '?' must not be
// empty; without '?' the name must equal it. Maps path to name; true when
// anything matched.
bool find_files_wildcard(const std::string& path, std::map<std::string, std::string>& out);

// Appends the paths of the directory's subdirectories.
void list_subdirs(const std::string& dir, std::vector<std::string>& out);
// Replaces `out` with the paths of the directory's files.
void list_files_only(const std::string& dir, std::vector<std::string>& out);
// One line per entry: its depth in hexadecimal (3 digits at least), ": " and
// its path.
void print_dir_listing(const char* dir, std::ostream& os);

// The stream's length, its position kept; 0 when it cannot be told.
uint64_t ostream_size(std::ostream& os);
uint64_t istream_size(std::istream& is);

// The '/'-separated path that leads from `from` to `to` ('\' read as '/'):
// one "../" per directory level of `from` below the directory the two share,
// then the rest of `to`. Paths that differ in their first character give `to`
// itself. False when either path is shorter than 4 or longer than max_length
// characters, or the result would be longer.
bool relative_path(std::string& out, const std::string& from, const std::string& to,
                   size_t max_length);

// Wide front end of read_file_bytes (vk_file_status.h).
bool read_file_bytes_w(std::vector<uint8_t>& out, const std::wstring& path, uint32_t max);

}  // namespace vkportdir
