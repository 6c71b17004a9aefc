#include "foundation/vk_batch_ops.h"

#include <sys/stat.h>

#include <algorithm>
#include <iomanip>
#include <istream>
#include <ostream>

#include "foundation/uni_fileio.h"
#include "foundation/vk_dir_node.h"
#include "foundation/vk_dir_ops.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_misc.h"
#include "foundation/vk_path.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vkportdir {
namespace {

// Anything under that name, a dangling link included.
bool name_taken(const std::string& path) {
  struct stat st;
  return vk::posix_lstat(path.c_str(), st);
}

std::string join_dir(const std::string& dir, const std::string& name) {
  std::string out = dir;
  if (out.empty() || (out.back() != '/' && out.back() != '\\')) out += '/';
  return out + name;
}

// A related file: its name, without the text from its last '.', is the
// stem (a name without '.' is compared whole).
bool same_stem(const std::string& path, const std::string& stem) {
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return (dot == std::string::npos ? name : name.substr(0, dot)) == stem;
}

// ---- content search ----

constexpr uint32_t k_read_size = 16384;
constexpr uint32_t k_step = 512;

bool found_in(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern) {
  return !bytes.empty() &&
         vk::find_vector_pattern(bytes.data(), static_cast<uint32_t>(bytes.size()), pattern,
                                 nullptr, 0, false);
}

// The pattern in [start, end) of the file, read 16384 bytes at a time; each
// read reaches pattern length - 1 bytes into the next so that a pattern
// across a boundary is found.
bool found_in_range(uni::fileio& file, uint64_t size, uint64_t start, uint64_t end,
                    const std::vector<uint8_t>& pattern) {
  end = std::min(end, size);
  const uint64_t overlap = pattern.size() - 1;
  std::vector<uint8_t> buf;
  for (uint64_t off = start; off < end && end - off >= pattern.size(); off += k_read_size) {
    const uint64_t want = std::min<uint64_t>(k_read_size + overlap, end - off);
    if (!file.read_bytes_at(buf, want, off)) return false;
    if (found_in(buf, pattern)) return true;
  }
  return false;
}

bool found_in_tail(uni::fileio& file, uint64_t size, uint32_t length,
                   const std::vector<uint8_t>& pattern) {
  const uint64_t n = std::min<uint64_t>({length, k_read_size, size});
  if (n < pattern.size()) return false;
  std::vector<uint8_t> buf;
  return file.read_bytes_at(buf, n, size - n) && found_in(buf, pattern);
}

// The pattern within the first `length` bytes of any 512-byte step. The file
// is read in large pieces, each reaching `length` bytes past its end.
bool found_at_steps(uni::fileio& file, uint64_t size, uint32_t length,
                    const std::vector<uint8_t>& pattern) {
  const uint64_t len = std::min<uint64_t>(length, k_step);
  if (len < pattern.size()) return false;
  constexpr uint64_t k_piece = 64 * k_step;
  std::vector<uint8_t> buf;
  std::vector<uint8_t> window;
  for (uint64_t piece = 0; piece < size; piece += k_piece) {
    if (!file.read_bytes_at(buf, std::min(k_piece + len, size - piece), piece)) return false;
    for (uint64_t s = 0; s < k_piece && s < buf.size(); s += k_step) {
      const uint64_t n = std::min<uint64_t>(len, buf.size() - s);
      window.assign(buf.begin() + static_cast<std::ptrdiff_t>(s),
                    buf.begin() + static_cast<std::ptrdiff_t>(s + n));
      if (found_in(window, pattern)) return true;
    }
  }
  return false;
}

bool status_passes(const _DIR_NODE& node, const content_criterion& c) {
  if (node.created < c.m_since && node.altered < c.m_since) return false;
  if (node.size < c.m_min_size || node.size > c.m_max_size) return false;
  return c.m_extension.empty() || node.extension == c.m_extension;
}

bool criterion_met(const std::string& path, const _DIR_NODE& node, const content_criterion& c) {
  if (!status_passes(node, c)) return false;
  const bool range = !c.m_range_pattern.empty();
  const bool tail = !c.m_tail_pattern.empty();
  const bool step = !c.m_step_pattern.empty();
  if (!range && !tail && !step) return true;
  uni::fileio file;
  if (!file.open_utf8(path, false, false, false)) return false;
  const uint64_t size = file.stored_size();
  if (range && !found_in_range(file, size, c.m_range_start, c.m_range_end, c.m_range_pattern))
    return false;
  if (tail && !found_in_tail(file, size, c.m_tail_length, c.m_tail_pattern)) return false;
  return !step || found_at_steps(file, size, c.m_step_length, c.m_step_pattern);
}

}  // namespace

bool move_into_dir(std::string& new_path, const std::string& dest_dir, const std::string& source) {
  new_path.clear();
  return vk::guarded(
      [&] {
        std::string dir;
        std::string name;
        if (source.empty() || dest_dir.empty() || !name_taken(source)) return false;
        if (!vk::split_path(source, dir, name) || name.empty()) return false;
        if (!make_dirs(dest_dir)) return false;
        const std::string target = join_dir(dest_dir, name);
        // The file already there stays: a move never replaces one.
        if (name_taken(target)) return false;
        if (!rename_file(source, target, false)) return false;
        new_path = target;
        return true;
      },
      [&] { new_path.clear(); });
}

bool move_into_own_dir(std::string& new_path, const std::string& path,
                       const std::vector<std::string>& related_dirs, bool move_related) {
  new_path.clear();
  return vk::guarded(
      [&] {
        const size_t slash = path.rfind('/');
        const size_t dot = path.rfind('.');
        // The '.' must stand in the name itself, after a non-empty stem.
        if (slash == std::string::npos || dot == std::string::npos || dot <= slash + 1)
          return false;
        if (!name_taken(path)) return false;
        const std::string stem = path.substr(slash + 1, dot - slash - 1);
        // Already in a directory of its own: the directory's own name is the
        // stem. Names are compared whole; "a" inside "/data" is no match.
        const std::string parent = path.substr(0, slash);
        if (parent.substr(parent.rfind('/') + 1) == stem) return false;
        const std::string own_dir = path.substr(0, dot);
        if (!move_into_dir(new_path, own_dir, path)) return false;
        if (move_related) {
          std::vector<std::string> files;
          std::string moved;
          for (const auto& dir : related_dirs) {
            list_files_only(dir, files);
            for (const auto& f : files)
              if (same_stem(f, stem)) move_into_dir(moved, own_dir, f);
          }
        }
        return true;
      },
      [&] { new_path.clear(); });
}

bool select_files_by_content(std::vector<std::string>& paths,
                             const std::vector<content_criterion>& criteria) {
  return vk::guarded(
      [&] {
        std::vector<std::string> kept;
        _DIR_NODE node;
        for (auto& path : paths) {
          if (!node.from_path(path) || node.is_dir()) continue;
          for (const auto& c : criteria) {
            if (criterion_met(path, node, c)) {
              kept.push_back(std::move(path));
              break;
            }
          }
        }
        paths.swap(kept);
        return !paths.empty();
      },
      [&] {
        paths.clear();
        return false;
      });
}

bool find_files_wildcard(const std::string& path, std::map<std::string, std::string>& out) {
  out.clear();
  return vk::guarded(
      [&] {
        size_t sep = path.rfind('/');
        if (sep == std::string::npos) sep = path.rfind('\\');
        const std::string dir = sep == std::string::npos ? std::string(".") : path.substr(0, sep);
        std::string pattern = sep == std::string::npos ? path : path.substr(sep + 1);
        if (pattern.empty()) return false;
        vk::str_to_lower(pattern);

        const size_t dot = pattern.rfind('.');
        std::string listing = "*.*";
        if (dot != std::string::npos && pattern.find('?', dot) == std::string::npos)
          listing = "*." + pattern.substr(dot + 1);
        const size_t first_q = pattern.find('?');
        std::string head;
        std::string tail;
        if (first_q != std::string::npos) {
          head = pattern.substr(0, first_q);
          tail = pattern.substr(pattern.rfind('?') + 1);
          if (tail.empty()) return false;
        }

        std::vector<std::string> listed;
        find_files(dir, listing, listed, true);
        std::string name;
        for (const auto& p : listed) {
          const size_t last = p.find_last_of("/\\");
          name = last == std::string::npos ? p : p.substr(last + 1);
          vk::str_to_lower(name);
          bool match;
          if (first_q == std::string::npos) {
            match = name == pattern;
          } else {
            // The run a '?' stands for may be empty, but head and tail never
            // share characters.
            match = name.size() >= head.size() + tail.size() &&
                    name.compare(0, head.size(), head) == 0 &&
                    name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
          }
          if (match) out.emplace(p, name);
        }
        return !out.empty();
      },
      [&] {
        out.clear();
        return false;
      });
}

void list_subdirs(const std::string& dir, std::vector<std::string>& out) {
  vk::guarded([&] {
    std::vector<find_entry> found;
    match_dir_entries(dir, "*.*", found);
    for (auto& e : found)
      if (e.is_dir) out.push_back(std::move(e.path));
  });
}

void list_files_only(const std::string& dir, std::vector<std::string>& out) {
  out.clear();
  vk::guarded([&] {
    std::vector<find_entry> found;
    match_dir_entries(dir, "*.*", found);
    for (auto& e : found)
      if (!e.is_dir) out.push_back(std::move(e.path));
  });
}

void print_dir_listing(const char* dir, std::ostream& os) {
  if (dir == nullptr) return;
  vk::guarded([&] {
    std::vector<find_entry> found;
    match_dir_entries(dir, std::string(), found);
    const auto fill = os.fill('0');
    const auto flags = os.flags();
    for (const auto& e : found)
      os << std::hex << std::setw(3) << std::right << e.depth << ": " << e.path << '\n';
    os.flags(flags);
    os.fill(fill);
  });
}

uint64_t ostream_size(std::ostream& os) {
  return vk::guarded([&]() -> uint64_t {
    os.clear();
    const auto pos = os.tellp();
    os.seekp(0, std::ios::end);
    const auto end = os.tellp();
    os.seekp(pos);
    os.clear();
    return end < 0 ? 0 : static_cast<uint64_t>(end);
  });
}

uint64_t istream_size(std::istream& is) {
  return vk::guarded([&]() -> uint64_t {
    is.clear();
    const auto pos = is.tellg();
    is.seekg(0, std::ios::end);
    const auto end = is.tellg();
    is.seekg(pos);
    is.clear();
    return end < 0 ? 0 : static_cast<uint64_t>(end);
  });
}

bool relative_path(std::string& out, const std::string& from, const std::string& to,
                   size_t max_length) {
  out.clear();
  if (from.size() < 4 || to.size() < 4 || from.size() > max_length || to.size() > max_length)
    return false;
  return vk::guarded(
      [&] {
        std::string f = from;
        std::string t = to;
        vk::replace_char(f, '\\', '/');
        vk::replace_char(t, '\\', '/');
        if (f[0] != t[0]) {
          out = to;
          return true;
        }
        size_t common = 0;
        while (common < f.size() && common < t.size() && f[common] == t[common]) ++common;
        const size_t last = f.rfind('/', common - 1);
        const size_t base = last == std::string::npos ? 0 : last + 1;
        const size_t ups = static_cast<size_t>(
            std::count(f.begin() + static_cast<std::ptrdiff_t>(base), f.end(), '/'));
        if (ups * 3 + (t.size() - base) > max_length) return false;
        for (size_t i = 0; i < ups; ++i) out += "../";
        out.append(t, base, std::string::npos);
        return true;
      },
      [&] {
        out.clear();
        return false;
      });
}

bool read_file_bytes_w(std::vector<uint8_t>& out, const std::wstring& path, uint32_t max) {
  out.clear();
  return vk::guarded([&] {
    std::string bytes;
    if (!vk::path_to_bytes(path, bytes)) return false;
    return read_file_bytes(out, bytes, max);
  });
}

}  // namespace vkportdir
