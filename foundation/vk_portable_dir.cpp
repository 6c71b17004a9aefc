#include "foundation/vk_portable_dir.h"

#include <cerrno>
#include <ostream>
#include <utility>

#include "foundation/vk_dirio.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"

namespace vkportdir {

namespace {

const char* wildcard_token(bool slash_form) {
  return slash_form ? "/*/" : "\\*\\";
}

// How many passes a full expansion of `text` needs: one per token occurrence
// (overlapping ones included). Bounding the passes by this keeps a directory
// literally named "*" from feeding the expansion forever.
size_t count_tokens(const std::string& text, bool slash_form) {
  const std::string token = wildcard_token(slash_form);
  size_t n = 0;
  for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + 1)) ++n;
  return n;
}

void expand_all(std::vector<std::string>& paths, size_t passes, bool slash_form) {
  for (size_t i = 0; i < passes; ++i)
    if (!expand_dir_wildcard_once(paths, slash_form)) break;
}

bool has_long_prefix(const std::wstring& p) {
  return p.size() > 4 && p[0] == L'\\' && p[1] == L'\\' && p[2] == L'?' && p[3] == L'\\';
}
bool has_long_prefix_narrow(const std::string& p) {
  return p.size() > 4 && p[0] == '\\' && p[1] == '\\' && p[2] == '?' && p[3] == '\\';
}

}  // namespace

// ---- records ----

void init_find_entry(find_entry& e, const std::string& path, const std::string& name, bool is_dir,
                     uint32_t depth) {
  e.path = path;
  e.name = name;
  e.is_dir = is_dir ? 1 : 0;
  e.depth = depth;
  e.long_path = has_long_prefix_narrow(path) ? 1 : 0;
}

void init_find_entry_w(find_entry_w& e, const std::wstring& path, const std::wstring& name,
                       bool is_dir, uint32_t depth) {
  e.path = path;
  e.name = name;
  e.is_dir = is_dir ? 1 : 0;
  e.depth = depth;
  e.long_path = 0;
  e.globalroot = 0;
  if (has_long_prefix(path)) {
    e.long_path = 1;
    if (path.size() > vk::long_path_limit()) {
      std::wstring lower = path;
      vk::wstr_to_lower(lower);
      if (lower.compare(4, 10, L"globalroot") == 0) e.globalroot = 1;
    }
  }
}

find_entry::find_entry(const std::string& p, const std::string& n, bool d, uint32_t dep) {
  init_find_entry(*this, p, n, d, dep);
}

find_entry_w::find_entry_w(const std::wstring& p, const std::wstring& n, bool d, uint32_t dep) {
  init_find_entry_w(*this, p, n, d, dep);
}

void find_entry_to_wide(find_entry_w& out, const find_entry& in) {
  out.path = path_to_wide(in.path);
  out.name = path_to_wide(in.name);
  out.is_dir = in.is_dir;
  out.depth = in.depth;
  out.long_path = 0;
  out.globalroot = 0;
}

bool is_slash_form(const std::string& path) {
  return path.find('/') != std::string::npos || path.find('\\') == std::string::npos;
}
bool is_slash_form_w(const std::wstring& path) {
  return path.find(L'/') != std::wstring::npos || path.find(L'\\') == std::wstring::npos;
}

// ---- listing ----

bool list_dir_entries(const std::string& dir, std::vector<find_entry>& out, uint32_t depth,
                      bool dirs_only, bool slash_form) {
  return vk::guarded([&] {
    vk::dir_reader reader(dir);
    if (!reader.is_open()) return false;
    const char sep = slash_form ? '/' : '\\';
    const size_t before = out.size();
    vk::dir_item item;
    while (reader.next(item)) {
      // An entry without status is handed on as a file rather than lost.
      const bool is_dir = item.status_ok && vk::mode_is_dir(item.mode);
      if (is_dir) {
        std::string full = dir;
        full += item.name;
        full += sep;
        out.emplace_back(full, std::string(), true, depth + 1);
      } else if (!dirs_only) {
        out.emplace_back(dir + item.name, item.name, false, depth);
      }
    }
    return out.size() > before;
  });
}

bool expand_dir_wildcard_once(std::vector<std::string>& paths, bool slash_form) {
  return vk::guarded([&] {
    const std::string token = wildcard_token(slash_form);
    bool changed = false;
    const size_t count = paths.size();
    std::vector<find_entry> subdirs;
    for (size_t i = 0; i < count; ++i) {
      if (paths[i].empty()) continue;
      const size_t at = paths[i].find(token);
      if (at == std::string::npos) continue;
      const std::string prefix = paths[i].substr(0, at + 1);
      const std::string rest = paths[i].substr(at + token.size());
      subdirs.clear();
      list_dir_entries(prefix, subdirs, 0, true, slash_form);
      changed = true;
      if (subdirs.empty()) {
        paths[i].clear();
        continue;
      }
      paths[i] = subdirs[0].path + rest;
      for (size_t k = 1; k < subdirs.size(); ++k) paths.push_back(subdirs[k].path + rest);
    }
    return changed;
  });
}

bool expand_dir_wildcards(const char* pattern, std::vector<std::string>& out) {
  if (!pattern) return true;
  vk::guarded([&] {
    const std::string text(pattern);
    const bool slash = is_slash_form(text);
    // Only the entries added here are expanded; earlier ones are the caller's.
    std::vector<std::string> mine{text};
    expand_all(mine, count_tokens(text, slash), slash);
    out.insert(out.end(), mine.begin(), mine.end());
  });
  return true;
}

bool expand_dir_wildcards_w(const std::wstring& pattern, std::vector<std::wstring>& out) {
  vk::guarded([&] {
    std::vector<std::string> narrow;
    const std::string text = path_from_wide(pattern);
    expand_dir_wildcards(text.c_str(), narrow);
    for (const auto& s : narrow) out.push_back(path_to_wide(s));
  });
  return true;
}

bool print_dir_wildcard_expansion(const char* pattern, std::ostream& os) {
  std::vector<std::string> all;
  expand_dir_wildcards(pattern, all);
  for (const auto& s : all) os << s << '\n';
  return true;
}

void match_dir_entries(const std::string& dir_text, const std::string& pattern_text,
                       std::vector<find_entry>& out) {
  out.clear();
  if (dir_text.empty()) return;
  vk::guarded([&] {
    const bool slash = is_slash_form(dir_text);
    const char sep = slash ? '/' : '\\';
    std::string dir = dir_text;
    if (dir.back() != sep) dir += sep;

    std::vector<std::string> dirs{dir};
    expand_all(dirs, count_tokens(dir, slash), slash);

    std::vector<find_entry> listed;
    for (const auto& d : dirs) {
      if (d.empty()) continue;
      const size_t star = d.find('*');
      list_dir_entries(star == std::string::npos ? d : d.substr(0, star), listed, 0, false, slash);
    }

    std::string pattern = pattern_text.empty() ? std::string("*.*") : pattern_text;
    vk::str_to_lower(pattern);
    std::string pattern_dir, want_base, want_ext;
    vk::split_path_base_ext(pattern.c_str(), pattern_dir, want_base, want_ext);
    if (want_base.empty()) want_base.assign(1, '*');
    if (want_ext.empty()) want_ext.assign(1, '*');
    const bool any_base = want_base == "*";
    const bool any_ext = want_ext == "*";

    std::string lower, entry_dir, base, ext;
    for (auto& e : listed) {
      if (!e.is_dir && !(any_base && any_ext)) {
        // The record's path is split the same way as the pattern.
        lower = e.path;
        vk::str_to_lower(lower);
        vk::split_path_base_ext(lower.c_str(), entry_dir, base, ext);
        if (!any_base && base != want_base) continue;
        if (!any_ext && ext != want_ext) continue;
      }
      out.push_back(std::move(e));
    }
  });
}

void find_files(const std::string& dir, const std::string& pattern, std::vector<std::string>& out,
                bool include_dirs) {
  std::vector<find_entry> found;
  match_dir_entries(dir, pattern, found);
  vk::guarded([&] {
    for (auto& e : found)
      if (include_dirs || !e.is_dir) out.push_back(std::move(e.path));
  });
}

void find_files_cstr(const char* dir, const char* pattern, std::vector<std::string>& out) {
  find_files(dir ? dir : "", pattern ? pattern : "", out, true);
}

void find_files_any(const char* dir, std::vector<std::string>& out) {
  find_files_cstr(dir, nullptr, out);
}

void find_files_w(const std::wstring& dir, const std::wstring& pattern,
                  std::vector<find_entry_w>& out) {
  vk::guarded([&] {
    std::vector<find_entry> found;
    match_dir_entries(path_from_wide(dir),
                      pattern.empty() ? std::string() : path_from_wide(pattern), found);
    find_entry_w w;
    for (const auto& e : found) {
      find_entry_to_wide(w, e);
      out.push_back(std::move(w));
    }
  });
}

void find_files_by_pattern_w(const std::wstring& dir, const std::wstring& pattern,
                             std::vector<std::wstring>& out) {
  vk::guarded([&] {
    std::vector<std::string> found;
    const std::string d = path_from_wide(dir);
    const std::string p = path_from_wide(pattern);
    find_files_cstr(d.c_str(), p.c_str(), found);
    for (const auto& s : found) out.push_back(path_to_wide(s));
  });
}

void cut_long_path_prefix(std::wstring& path) {
  if (!has_long_prefix(path)) return;
  if (path.size() > vk::long_path_limit()) {
    std::wstring lower = path;
    vk::wstr_to_lower(lower);
    if (lower.compare(4, 6, L"global") == 0) return;
  }
  path.erase(0, 4);
}

// ---- input file-name source ----

stdin_stream_ex::stdin_stream_ex() : uni::stdin_stream(false) {
  reset();
}

stdin_stream_ex::stdin_stream_ex(std::FILE* source) : uni::stdin_stream(false, source) {
  reset();
}

void stdin_stream_ex::reset() {
  m_dirs.clear();
  m_files.clear();
  m_depth_limit = 1;
  m_test = nullptr;
  m_dir_mode = 0;
  m_unreadable.clear();
  m_files_found = 0;
  m_linked_dirs.clear();
  m_walked.clear();
  m_files_seen = 0;
  m_dirs_beyond = 0;
}

bool stdin_stream_ex::use_stdin(bool probe) {
  reset();
  // The line reader needs its buffer; without it nothing can be read.
  opened = line != nullptr && file != nullptr && (probe ? available() : true);
  m_dir_mode = 0;
  return opened;
}

bool stdin_stream_ex::start_walk(const std::wstring& root, uint32_t depth_limit, file_test test) {
  reset();
  if (!vk::guarded(
          [&] {
            m_depth_limit = depth_limit;
            m_test = std::move(test);
            dir_walk_item item{root, 0};
            accept_path(item.path, true);
            m_dirs.push_back(std::move(item));
            return true;
          },
          [&] { reset(); }))
    return false;
  opened = true;
  m_dir_mode = 1;
  return opened;
}

bool stdin_stream_ex::getline(std::string& out, bool trim) {
  if (!m_dir_mode) return uni::stdin_stream::getline(out, trim);
  std::wstring name;
  if (!next_dir_entry(name)) return false;
  if (!vk::guarded([&] {
        out = path_from_wide(name);
        return true;
      }))
    return false;
  return true;
}

bool stdin_stream_ex::getline_wide(std::wstring& out, bool trim) {
  if (!m_dir_mode) return uni::stdin_stream::getline_wide(out, trim);
  return next_dir_entry(out);
}

bool stdin_stream_ex::accept_path(std::wstring& path, bool is_dir) {
  if (!is_dir && m_test) {
    bool open_failed = false;
    bool pass = false;
    vk::guarded([&] { pass = m_test(path, open_failed); }, [&] { pass = false; });
    // A file the test could not open is not one it selected.
    if (!pass) return false;
  }
  cut_long_path_prefix(path);
  return true;
}

namespace {

// One listed entry of a walk's folder.
struct walk_entry {
  std::wstring path;  // a folder's path ends in the separator
  bool is_dir = false;
  bool is_link = false;  // a symbolic link to a folder
};

// Lists one directory of a walk as it is named: a walk directory is a real
// path, never a pattern, so a '*' in a directory name stays literal. The
// result is the errno value that kept it closed, 0 when it was listed;
// `seen` is false when the folder was listed before (under any name).
int list_walk_dir(const std::wstring& dir_w, std::vector<walk_entry>& out,
                  std::set<vk::dir_identity>& walked, bool& seen) {
  seen = false;
  std::string dir = path_from_wide(dir_w);
  if (dir.empty()) return ENOENT;
  const bool slash = is_slash_form(dir);
  const char sep = slash ? '/' : '\\';
  if (dir.back() != sep) dir += sep;
  vk::dir_reader reader(dir);
  if (!reader.is_open()) return reader.error();
  if (vk::dir_identity id; reader.identity(id) && !walked.insert(id).second) {
    seen = true;
    return 0;
  }
  vk::dir_item item;
  while (reader.next(item)) {
    // An entry without status is handed on as a file rather than lost.
    const bool is_dir = item.status_ok && (vk::mode_is_dir(item.mode) || item.link_to_dir);
    walk_entry e;
    e.path = path_to_wide(is_dir ? dir + item.name + sep : dir + item.name);
    e.is_dir = is_dir;
    e.is_link = item.link_to_dir;
    out.push_back(std::move(e));
  }
  return 0;
}

}  // namespace

bool stdin_stream_ex::next_dir_entry(std::wstring& out) {
  return vk::guarded(
      [&] {
        std::vector<walk_entry> listed;
        for (;;) {
          out.clear();
          if (!m_files.empty()) {
            out = std::move(m_files.back());
            m_files.pop_back();
            return true;
          }
          auto& from = m_dirs.empty() ? m_linked_dirs : m_dirs;
          if (from.empty()) return false;
          dir_walk_item item = std::move(from.back());
          from.pop_back();
          if (item.depth > m_depth_limit) {
            ++m_dirs_beyond;
            continue;
          }
          accept_path(item.path, true);
          listed.clear();
          bool seen = false;
          if (const int error = list_walk_dir(item.path, listed, m_walked, seen); error != 0)
            m_unreadable.push_back(unreadable_dir{item.path, error});
          if (seen) continue;
          for (auto& e : listed) {
            if (e.is_dir) {
              (e.is_link ? m_linked_dirs : m_dirs)
                  .push_back(dir_walk_item{std::move(e.path), item.depth + 1});
              continue;
            }
            ++m_files_seen;
            if (accept_path(e.path, false)) {
              m_files.push_back(std::move(e.path));
              ++m_files_found;
            }
          }
        }
      },
      [&] {
        out.clear();
        return false;
      });
}

}  // namespace vkportdir
