#include "cmdline/dir_tree_ops.h"

#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <utility>

#include "cmdline/diag_printf.h"
#include "cmdline/file_filters.h"
#include "cmdline/text_encoders.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_dir_ops.h"
#include "foundation/vk_env.h"
#include "foundation/vk_file_record.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_posix.h"

namespace vkportdir {
namespace {

// ---- walk ----

// The filter test of the walk. A file that a signature entry could not open
// fails it: nothing shows that it is one the filters select, and the
// callback may overwrite what it receives.
bool accepted(const std::wstring& path, const std::vector<vk::filter_entry>& filters,
              const vk::cmd_params* options) {
  uint8_t open_failed = 0;
  if (options != nullptr) {
    vk::file_stat_info info;
    vk::clear_file_stat_info(info);
    return vk::file_passes_filters(*options, open_failed, path, filters, &info, false);
  }
  return vk::path_passes_filters_default(open_failed, path, filters, false);
}

// ---- names ----

random_name_sources& name_sources() {
  static random_name_sources sources{vk::random_printable_string, vk::random_alnum_string};
  return sources;
}

// Anything under that name, a dangling link included.
bool name_taken(const std::string& path) {
  struct stat st;
  return vk::posix_lstat(path.c_str(), st);
}

// A regular file with no other name: the only kind whose bytes may be
// written here. Writing through a symbolic link, or into a file that another
// name shares, would change a file outside what was handed in.
bool plain_file(const std::string& path) {
  struct stat st;
  return vk::posix_lstat(path.c_str(), st) && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

// A symbolic link or one name of a shared file: removed as a name only.
bool removable_name(const std::string& path) {
  struct stat st;
  if (!vk::posix_lstat(path.c_str(), st)) return false;
  return S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
}

// The path names a symbolic link (trailing separators ignored: with them
// the status call would follow the link).
bool is_link(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  struct stat st;
  return vk::posix_lstat(path.c_str(), st) && S_ISLNK(st.st_mode);
}

std::string dir_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& dir, const std::string& name) {
  return dir.back() == '/' ? dir + name : dir + '/' + name;
}

bool single_component(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

// A free path in `dir` under a random 4-character name; a drawn name that
// is not a single component or is taken is drawn again, a few times.
bool draw_free_name(const std::string& dir, bool printable, std::string& out) {
  constexpr int k_draws = 8;
  auto source = printable ? name_sources().printable : name_sources().alnum;
  std::string name;
  for (int i = 0; i < k_draws; ++i) {
    name.clear();
    source(name, 4);
    if (!single_component(name)) continue;
    out = join(dir, name);
    if (!name_taken(out)) return true;
  }
  out.clear();
  return false;
}

// The "%TEMP%" directory, or "" when it names none.
std::string temp_dir() {
  std::string dir = vk::expand_env_vars("%TEMP%", false);
  if (dir.empty() || !vk::is_directory_utf8(dir)) return std::string();
  return dir;
}

// Renames the file to a free random name beside it, moves it into "%TEMP%"
// under a free name, and removes it. A step that finds no free name (or
// fails) is left out and the file is removed where it stands.
bool rename_move_remove(const std::string& path, bool printable, vk::cmd_params* log) {
  std::string current = path;
  std::string renamed;
  if (draw_free_name(dir_of(current), printable, renamed) && rename_file(current, renamed, false)) {
    if (log) vk::diag_note(*log, "rename: %s => %s", current.c_str(), renamed.c_str());
    current = renamed;
    const std::string tmp = temp_dir();
    if (!tmp.empty()) {
      std::string target = join(tmp, name_of(current));
      if (name_taken(target) && !draw_free_name(tmp, printable, target)) target.clear();
      if (!target.empty() && rename_file(current, target, false)) {
        if (log) vk::diag_note(*log, "move: %s => %s", current.c_str(), target.c_str());
        current = target;
      }
    }
  }
  if (log) vk::diag_note(*log, "delete: %s", current.c_str());
  return remove_file(current);
}

bool status_on(const vk::cmd_params* settings) {
  return settings != nullptr && settings->m_status_messages;
}

// The walk's record for remove_tree_logged: the codes, and the order in
// which files and directories were reported.
struct tree_record {
  wipe_results results;
  std::vector<std::wstring> files;
  std::vector<std::wstring> dirs;
};

bool record_entry(const std::wstring& path, bool is_dir, void* user, vk::cmd_params* options) {
  auto* record = static_cast<tree_record*>(user);
  const size_t before = record->results.size();
  wipe_path(path, is_dir, &record->results, options);
  if (record->results.size() > before) (is_dir ? record->dirs : record->files).push_back(path);
  return true;
}

// The steps of remove_tree_logged for one recorded file; true when removed.
bool remove_logged_file(const std::string& path, vk::cmd_params& settings) {
  vk::diag_note(settings, "-----------");
  vk::diag_note(settings, "resize: %s", path.c_str());
  bool removed;
  if (removable_name(path)) {
    vk::diag_note(settings, "delete: %s", path.c_str());
    removed = remove_file(path);
  } else {
    uni::fileio file;
    if (!plain_file(path) || !file.open_utf8(path, true, false, false)) {
      if (settings.m_status_messages) std::fprintf(stderr, "can't access: %s\n", path.c_str());
      return false;
    }
    file.append_fill('a', 1);
    file.close();
    removed = rename_move_remove(path, false, &settings);
  }
  if (settings.m_status_messages)
    std::fprintf(stderr, "deleted: %s - %s", path.c_str(), removed ? "success\n" : "failed\n");
  return removed;
}

}  // namespace

// ---- walks ----

void walk_dir(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
              walk_callback callback, void* user, vk::cmd_params* options, int32_t levels) {
  if (root.empty() || callback == nullptr || levels <= 0) return;
  vk::guarded([&] {
    std::deque<std::wstring> current{root};
    std::deque<std::wstring> next;
    std::vector<find_entry> listed;
    std::string dir;
    for (int32_t level = 0; level < levels; ++level) {
      while (!current.empty()) {
        std::wstring path = std::move(current.back());
        current.pop_back();
        if (accepted(path, filters, options)) {
          std::wstring shown = path;
          cut_long_path_prefix(shown);
          callback(shown, true, user, options);
        }
        // The directory itself is listed, never a wildcard expansion of its
        // name, and no link is followed: listing a link with a separator
        // appended would list the folder it points to.
        if (!vk::path_to_bytes(path, dir) || is_link(dir)) continue;
        const bool slash = is_slash_form(dir);
        const char sep = slash ? '/' : '\\';
        if (dir.back() != sep) dir += sep;
        listed.clear();
        list_dir_entries(dir, listed, 0, false, slash);
        for (const auto& e : listed) {
          std::wstring entry = vk::path_to_wide(e.path);
          if (e.is_dir) {
            next.push_back(std::move(entry));
          } else if (accepted(entry, filters, options)) {
            cut_long_path_prefix(entry);
            callback(entry, false, user, options);
          }
        }
      }
      if (next.empty()) break;
      current.swap(next);
      next.clear();
    }
  });
}

void walk_dir_utf8(const std::string& root, const std::vector<vk::filter_entry>& filters,
                   walk_callback callback, void* user, vk::cmd_params* options, int32_t levels) {
  vk::guarded([&] {
    walk_dir(vk::path_to_wide(vk::expand_env_vars(root, true)), filters, callback, user, options,
             levels);
  });
}

void walk_dir_expanded_w(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
                         walk_callback callback, void* user, vk::cmd_params* options,
                         int32_t levels) {
  vk::guarded([&] {
    std::wstring expanded = root;
    vk::expand_env_vars_w(expanded);
    walk_dir(expanded, filters, callback, user, options, levels);
  });
}

// ---- batch operations ----

bool wipe_path(const std::wstring& path, bool is_dir, wipe_results* results,
               vk::cmd_params* settings) {
  if (path.empty() || results == nullptr) return false;
  vk::guarded([&] {
    if (is_dir) {
      std::wstring name = path;
      while (name.size() > 1 && (name.back() == L'/' || name.back() == L'\\')) name.pop_back();
      const size_t sep = name.find_last_of(L"/\\");
      if (sep != std::wstring::npos) name.erase(0, sep + 1);
      if (name != L"." && name != L"..") (*results)[path] = k_wipe_directory;
      return;
    }
    std::string bytes;
    const bool wiped =
        vk::path_to_bytes(path, bytes) && plain_file(bytes) && vk::zero_fill_file(path);
    (*results)[path] = wiped ? k_wipe_done : k_wipe_failed;
    if (settings != nullptr)
      vk::diag_note(*settings, wiped ? "wipe: %s" : "not wiped: %s", bytes.c_str());
    if (status_on(settings))
      std::fprintf(stderr, wiped ? "wiped: %s\n" : "not wiped: %s\n", bytes.c_str());
  });
  return false;
}

bool shred_file(const std::wstring& path) {
  if (path.empty()) return false;
  return vk::guarded([&] {
    std::string bytes;
    if (!vk::path_to_bytes(path, bytes)) return false;
    if (removable_name(bytes)) return remove_file(bytes);
    if (!plain_file(bytes)) return false;
    vk::zero_fill_file(path);
    uni::fileio file;
    if (!file.open_utf8(bytes, true, false, false)) return false;
    file.append_fill('a', 1);
    file.close();
    return rename_move_remove(bytes, true, nullptr);
  });
}

bool remove_tree_logged(const std::wstring& root, const std::vector<vk::filter_entry>& filters,
                        int32_t levels, vk::cmd_params& settings) {
  return vk::guarded([&] {
    std::wstring expanded = root;
    vk::expand_env_vars_w(expanded);
    // A root that is a link is removed as a link: nothing behind it is part
    // of the tree.
    std::string root_bytes;
    if (levels > 0 && vk::path_to_bytes(expanded, root_bytes) && is_link(root_bytes)) {
      while (root_bytes.size() > 1 && (root_bytes.back() == '/' || root_bytes.back() == '\\'))
        root_bytes.pop_back();
      vk::diag_note(settings, "-----------");
      vk::diag_note(settings, "delete: %s", root_bytes.c_str());
      const bool removed = remove_file(root_bytes);
      if (settings.m_status_messages)
        std::fprintf(stderr, "deleted: %s - %s", root_bytes.c_str(),
                     removed ? "success\n" : "failed\n");
      return removed;
    }
    tree_record record;
    walk_dir(expanded, filters, record_entry, &record, &settings, levels);
    bool all = true;
    for (const auto& file : record.files)
      if (!remove_logged_file(vk::path_from_wide(file), settings)) all = false;
    // The walk reports a level's directories after those of the level above,
    // so the reverse order removes the deepest first.
    for (auto it = record.dirs.rbegin(); it != record.dirs.rend(); ++it) {
      const std::string dir = vk::path_from_wide(*it);
      const bool gone = vk::posix().rmdir(dir.c_str()) == 0;
      if (!gone) all = false;
      if (settings.m_status_messages)
        std::fprintf(stderr, gone ? "deleted: %s\n" : "can't delete: %s\n", dir.c_str());
    }
    return all;
  });
}

scoped_random_names::scoped_random_names(const random_name_sources& sources)
    : m_previous(name_sources()) {
  name_sources() = sources;
}

scoped_random_names::~scoped_random_names() {
  name_sources() = m_previous;
}

}  // namespace vkportdir
