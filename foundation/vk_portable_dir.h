// Directory listing, wildcard file search and the input file-name source.
//
// Paths come in two separator styles: a path text holding a '\' and no '/'
// is handled in the '\' form, every other path in the '/' form, and every
// path built here uses the separator of its form. Listings keep the order in
// which the system yields the entries; nothing is sorted.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

#include "foundation/uni_console.h"
#include "foundation/vk_dirio.h"
#include "foundation/vk_path.h"

namespace vkportdir {

// The path form of a name (see vk_path.h), under the names callers know here.
using vk::path_from_wide;
using vk::path_to_wide;

// One search result. A directory's path ends in the separator and its name is
// empty; files carry their own name.
struct find_entry {
  std::string path;
  std::string name;
  uint8_t is_dir = 0;
  uint8_t long_path = 0;  // longer than 4 characters and begins with "\\?\"
  uint32_t depth = 0;     // the caller's depth for files, that depth + 1 for directories

  find_entry() = default;
  find_entry(const std::string& path, const std::string& name, bool is_dir, uint32_t depth);
};

struct find_entry_w {
  std::wstring path;
  std::wstring name;
  uint8_t is_dir = 0;
  uint8_t long_path = 0;
  uint8_t globalroot = 0;  // a long "\\?\" path with "globalroot" right after the prefix
  uint32_t depth = 0;

  find_entry_w() = default;
  find_entry_w(const std::wstring& path, const std::wstring& name, bool is_dir, uint32_t depth);
};

void init_find_entry(find_entry& e, const std::string& path, const std::string& name, bool is_dir,
                     uint32_t depth);
void init_find_entry_w(find_entry_w& e, const std::wstring& path, const std::wstring& name,
                       bool is_dir, uint32_t depth);

// True when `path` is of the '/' form (see the top of this header).
bool is_slash_form(const std::string& path);
bool is_slash_form_w(const std::wstring& path);

// Lists one directory (its text must end with the separator) into `out`.
// Symbolic links are classed as files and never followed; an entry whose
// status cannot be taken is classed as a file. True when something was
// appended.
bool list_dir_entries(const std::string& dir, std::vector<find_entry>& out, uint32_t depth,
                      bool dirs_only, bool slash_form);

// Replaces the first "/*/" ("\*\" in the '\' form) of every path by each
// subdirectory it stands for; a path with nothing to expand becomes empty.
// True when a path was changed.
bool expand_dir_wildcard_once(std::vector<std::string>& paths, bool slash_form);
// Appends the pattern and its full expansion to `out`; always true.
bool expand_dir_wildcards(const char* pattern, std::vector<std::string>& out);
bool expand_dir_wildcards_w(const std::wstring& pattern, std::vector<std::wstring>& out);
bool print_dir_wildcard_expansion(const char* pattern, std::ostream& os);

// Lists `dir` (directory wildcards expanded) and keeps every directory and
// every file whose lower-cased name and extension match the pattern's
// ("*" matches any whole part; an empty pattern is "*.*").
void match_dir_entries(const std::string& dir, const std::string& pattern,
                       std::vector<find_entry>& out);
void find_files(const std::string& dir, const std::string& pattern, std::vector<std::string>& out,
                bool include_dirs);
void find_files_cstr(const char* dir, const char* pattern, std::vector<std::string>& out);
void find_files_any(const char* dir, std::vector<std::string>& out);
void find_files_w(const std::wstring& dir, const std::wstring& pattern,
                  std::vector<find_entry_w>& out);
void find_files_by_pattern_w(const std::wstring& dir, const std::wstring& pattern,
                             std::vector<std::wstring>& out);
void find_entry_to_wide(find_entry_w& out, const find_entry& in);

// Cuts the long-path prefix "\\?\" from a path, except from a path longer
// than long_path_limit in which "global" follows the prefix.
void cut_long_path_prefix(std::wstring& path);

struct dir_walk_item {
  std::wstring path;
  uint32_t depth = 0;  // 0 for the walk's root
};

// The names of the input files: the lines of standard input, or the files
// of a directory tree down to a depth limit that pass the file-selection
// test. The walk that takes the file filters and the settings' time window
// is built on this in the command-line library (vk::filtered_walk).
class stdin_stream_ex : public uni::stdin_stream {
 public:
  // The test of directory mode: true hands the file out. It sets
  // `open_failed` when a content test could not open the file; such a file is
  // not handed out, since nothing shows that it is one the test selects.
  using file_test = std::function<bool(const std::wstring& path, bool& open_failed)>;

  stdin_stream_ex();
  // Reads lines from `source` instead of standard input.
  explicit stdin_stream_ex(std::FILE* source);
  ~stdin_stream_ex() override = default;

  void reset();
  bool use_stdin(bool probe);

  // Starts a walk under `root` that hands out every file passing `test`
  // (every file when `test` is empty).
  bool start_walk(const std::wstring& root, uint32_t depth_limit, file_test test);
  bool getline(std::string& out, bool trim) override;
  bool getline_wide(std::wstring& out, bool trim) override;

  bool accept_path(std::wstring& path, bool is_dir);
  bool next_dir_entry(std::wstring& out);

  bool directory_mode() const { return m_dir_mode != 0; }

  // A folder of the walk that could not be listed, with the errno value.
  struct unreadable_dir {
    std::wstring path;
    int error = 0;
  };
  // The folders met so far that could not be listed; the caller empties it.
  std::vector<unreadable_dir>& unreadable_dirs() { return m_unreadable; }
  // Files the walk has handed out or holds ready.
  uint64_t files_found() const { return m_files_found; }
  // Files the walk listed, selected by the test or not.
  uint64_t files_seen() const { return m_files_seen; }
  // Folders the walk did not list for lying deeper than the depth limit.
  uint64_t dirs_beyond_depth() const { return m_dirs_beyond; }

 private:
  // Symbolic links to folders (how junctions are shown) are walked as
  // folders once every folder reached without one has been: a folder that
  // a link leads to is then listed under its own name where it has one in
  // the tree. Every folder is listed once, which also ends the loops that
  // junctions form.
  std::deque<dir_walk_item> m_dirs;
  std::deque<dir_walk_item> m_linked_dirs;
  std::set<vk::dir_identity> m_walked;
  std::deque<std::wstring> m_files;
  uint32_t m_depth_limit = 1;
  file_test m_test;  // holds its own copy of the filter list
  uint8_t m_dir_mode = 0;
  std::vector<unreadable_dir> m_unreadable;
  uint64_t m_files_found = 0;
  uint64_t m_files_seen = 0;
  uint64_t m_dirs_beyond = 0;
};

}  // namespace vkportdir
