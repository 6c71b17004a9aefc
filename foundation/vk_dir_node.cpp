#include "foundation/vk_dir_node.h"

#include <cstring>
#include <cwchar>
#include <iomanip>
#include <sstream>

#include "foundation/vk_file_status.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"
#include "foundation/vk_time.h"
#include "foundation/vk_time_parse.h"

namespace vk {

bool split_wpath_stem_ext(const std::wstring& path, std::wstring& dir, std::wstring& stem,
                          std::wstring& ext) {
  stem.clear();
  return guarded([&] {
    std::wstring name;
    if (!split_path_w(path, dir, name)) return false;
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) {
      stem = name;
    } else {
      stem = name.substr(0, dot);
      ext = name.substr(dot + 1);
    }
    return true;
  });
}

}  // namespace vk

namespace vkportdir {
namespace {

// Copies at most 511 characters so the buffer always stays terminated.
void copy_bounded(wchar_t (&dst)[512], const std::wstring& src) {
  size_t n = src.size() < 511 ? src.size() : 511;
  std::wmemcpy(dst, src.data(), n);
  dst[n] = L'\0';
}

// The name of a split path: the stem, and the extension after a '.' only
// when the name had one (so "logs.old" stays "logs.old" and "notes" does not
// become "notes.").
template <class S>
S name_with_ext(const S& stem, const S& ext, const S& path) {
  if (ext.empty() && (path.empty() || path.back() != '.')) return stem;
  S out = stem;
  out += '.';
  out += ext;
  return out;
}

bool mode_is_dir(uint32_t mode, uint8_t using_st_mode) {
  if (mode < 9) return mode == 2;
  // An st_mode is only meaningful while the record says it holds one.
  if (!using_st_mode) return false;
  return (mode & 0xF000u) == 0x4000u;
}

}  // namespace

_DIR_NODE::_DIR_NODE() {
  clear();
}

_DIR_NODE::_DIR_NODE(const std::wstring& name_in, uint64_t extra, uint64_t size_in,
                     uint32_t mode_in, uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                     uint64_t accessed_in, uint32_t permissions_in) {
  clear();
  if (name_in.size() < 512) copy_bounded(name, name_in);
  vk::guarded([&] {
    size_t dot = name_in.rfind(L'.');
    if (dot != std::wstring::npos) extension = name_in.substr(dot + 1);
  });
  extra_value = extra;
  size = size_in;
  mode = mode_in;
  created = created_in;
  altered = altered_in;
  mft_changed = mft_in;
  accessed = accessed_in;
  permissions = permissions_in;
}

_DIR_NODE::_DIR_NODE(const std::wstring& name_in, uint64_t size_in, uint32_t mode_in,
                     uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                     uint64_t accessed_in, uint32_t permissions_in)
    : _DIR_NODE(name_in, 0, size_in, mode_in, created_in, altered_in, mft_in, accessed_in,
                permissions_in) {}

void _DIR_NODE::clear() {
  directory[0] = L'\0';
  name[0] = L'\0';
  extension.clear();
  extra_value = 0;
  mode = 0;
  size = created = altered = mft_changed = accessed = 0;
  permissions = 0;
  m_using_st_mode_flags = 1;
  flag1 = flag2 = 0;
}

bool _DIR_NODE::is_dir() const {
  return mode_is_dir(mode, m_using_st_mode_flags);
}

bool _DIR_NODE::from_path_w(const std::wstring& path) {
  clear();
  return vk::guarded(
      [&] {
        if (!path_stat_times_w(path, size, mode, created, altered, accessed)) return false;
        std::wstring dir;
        std::wstring stem;
        std::wstring ext;
        if (vk::split_wpath_stem_ext(path, dir, stem, ext)) {
          copy_bounded(directory, dir);
          if (is_dir()) {
            copy_bounded(name, name_with_ext(stem, ext, path));
          } else {
            copy_bounded(name, stem);
            extension = ext;
          }
        } else {
          copy_bounded(directory, L".");
          copy_bounded(name, path);
        }
        return true;
      },
      [&] { clear(); });
}

bool _DIR_NODE::from_path(const std::string& path) {
  return vk::guarded([&] { return from_path_w(vk::path_to_wide(path)); });
}

// ---- _DIR_NODE_STL ----

_DIR_NODE_STL::_DIR_NODE_STL() {
  clear();
}

_DIR_NODE_STL::_DIR_NODE_STL(const std::wstring& path, uint64_t size_in, uint64_t extra,
                             uint16_t tag_in, uint32_t mode_in, uint64_t created_in,
                             uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in,
                             uint32_t permissions_in) {
  make_dir_node_stl(*this, path, size_in, extra, tag_in, mode_in, created_in, altered_in, mft_in,
                    accessed_in, permissions_in);
}

_DIR_NODE_STL::_DIR_NODE_STL(const std::string& path, uint64_t size_in, uint64_t extra,
                             uint16_t tag_in, uint32_t mode_in, uint64_t created_in,
                             uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in,
                             uint32_t permissions_in) {
  clear();
  vk::guarded([&] {
    make_dir_node_stl(*this, vk::path_to_wide(path), size_in, extra, tag_in, mode_in, created_in,
                      altered_in, mft_in, accessed_in, permissions_in);
  });
}

_DIR_NODE_STL::_DIR_NODE_STL(const std::wstring& path, uint64_t size_in, uint32_t mode_in,
                             uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                             uint64_t accessed_in, uint32_t permissions_in)
    : _DIR_NODE_STL(path, size_in, 0, 0, mode_in, created_in, altered_in, mft_in, accessed_in,
                    permissions_in) {}

_DIR_NODE_STL::_DIR_NODE_STL(const std::string& path, uint64_t size_in, uint32_t mode_in,
                             uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                             uint64_t accessed_in, uint32_t permissions_in)
    : _DIR_NODE_STL(path, size_in, 0, 0, mode_in, created_in, altered_in, mft_in, accessed_in,
                    permissions_in) {}

_DIR_NODE_STL::_DIR_NODE_STL(const _DIR_NODE& node) {
  dir_node_to_stl(*this, node);
}

_DIR_NODE_STL& _DIR_NODE_STL::operator=(const _DIR_NODE& node) {
  dir_node_to_stl(*this, node);
  return *this;
}

void _DIR_NODE_STL::clear() {
  full_path.clear();
  full_path_lower.clear();
  directory.clear();
  name.clear();
  extension.clear();
  extra_value = 0;
  tag = 0;
  size = 0;
  mode = 0;
  created = altered = mft_changed = accessed = 0;
  permissions = 0;
  m_using_st_mode_flags = 1;
}

bool _DIR_NODE_STL::is_dir() const {
  return mode_is_dir(mode, m_using_st_mode_flags);
}

bool _DIR_NODE_STL::from_path(const char* path) {
  clear();
  if (path == nullptr) return false;
  return vk::guarded(
      [&] {
        full_path = path;
        full_path_lower = full_path;
        vk::str_to_lower(full_path_lower);
        if (!path_stat_times(full_path, size, mode, created, altered, accessed)) {
          clear();
          return false;
        }
        std::string base;
        std::string ext;
        if (vk::split_path_base_ext(path, directory, base, ext)) {
          if (is_dir()) {
            name = name_with_ext(base, ext, full_path);
          } else {
            name = base;
            extension = ext;
          }
        } else {
          directory.assign(1, '.');
          name = full_path;
        }
        return true;
      },
      [&] { clear(); });
}

void make_dir_node_stl(_DIR_NODE_STL& out, const std::wstring& path, uint64_t size, uint64_t extra,
                       uint16_t tag, uint32_t mode, uint64_t created, uint64_t altered,
                       uint64_t mft_changed, uint64_t accessed, uint32_t permissions) {
  out.clear();
  vk::guarded(
      [&] {
        out.full_path = vk::path_from_wide(path);
        out.full_path_lower = out.full_path;
        vk::str_to_lower(out.full_path_lower);
        std::wstring dir;
        std::wstring stem;
        std::wstring ext;
        if (vk::split_wpath_stem_ext(path, dir, stem, ext)) {
          out.directory = vk::path_from_wide(dir);
          out.name = vk::path_from_wide(name_with_ext(stem, ext, path));
          out.extension = vk::path_from_wide(ext);
        }
      },
      [&] { out.clear(); });
  out.size = size;
  out.extra_value = extra;
  out.tag = tag;
  out.mode = mode;
  out.created = created;
  out.altered = altered;
  out.mft_changed = mft_changed;
  out.accessed = accessed;
  out.permissions = permissions;
}

void make_dir_node_stl(_DIR_NODE_STL& out, const std::wstring& path, uint64_t size, uint32_t mode,
                       uint64_t created, uint64_t altered, uint64_t mft_changed, uint64_t accessed,
                       uint32_t permissions) {
  make_dir_node_stl(out, path, size, 0, 0, mode, created, altered, mft_changed, accessed,
                    permissions);
}

void dir_node_to_stl(_DIR_NODE_STL& out, const _DIR_NODE& node) {
  out.clear();
  vk::guarded(
      [&] {
        out.directory = vk::path_from_wide(node.directory);
        out.name = vk::path_from_wide(node.name);
        out.extension = vk::path_from_wide(node.extension);
        // '/' is this system's separator; a name without extension gets no
        // '.', and an empty directory no separator.
        out.full_path = out.directory;
        if (!out.full_path.empty() && out.full_path.back() != '/') out.full_path += '/';
        out.full_path += out.name;
        if (!out.extension.empty()) out.full_path += '.' + out.extension;
        out.full_path_lower = out.full_path;
        vk::str_to_lower(out.full_path_lower);
      },
      [&] { out.clear(); });
  out.extra_value = node.extra_value;
  out.size = node.size;
  out.mode = node.mode;
  out.created = node.created;
  out.altered = node.altered;
  out.mft_changed = node.mft_changed;
  out.accessed = node.accessed;
  out.permissions = node.permissions;
  out.m_using_st_mode_flags = node.m_using_st_mode_flags;
}

bool path_stat_times_cstr(const char* path, uint64_t& size, uint32_t& mode, uint64_t& change,
                          uint64_t& modify, uint64_t& access) {
  if (path == nullptr) {
    size = 0;
    mode = 0;
    change = modify = access = 0;
    return false;
  }
  return vk::guarded([&] { return path_stat_times(path, size, mode, change, modify, access); },
                     [&] {
                       size = 0;
                       mode = 0;
                       change = modify = access = 0;
                     });
}

// ---- predicates ----

bool dir_node_created_less(const _DIR_NODE& a, const _DIR_NODE& b) {
  return a.created < b.created;
}

bool dir_node_name_equal(const _DIR_NODE& a, const _DIR_NODE& b) {
  return vk::compare_wide(a.name, b.name, true) == 0;
}

bool dir_node_name_less(const _DIR_NODE& a, const _DIR_NODE& b) {
  return vk::compare_wide(a.name, b.name, true) < 0;
}

bool dir_node_stl_path_less(const _DIR_NODE_STL& a, const _DIR_NODE_STL& b) {
  return a.full_path < b.full_path;
}

bool dir_node_stl_path_equal(const _DIR_NODE_STL& a, const _DIR_NODE_STL& b) {
  return a.full_path == b.full_path;
}

// ---- attribute dump ----

void dir_node_attribute_text(const _DIR_NODE_STL& node, std::string& out) {
  vk::guarded([&] {
    std::ostringstream os;
    os << std::setfill('0') << std::right << std::hex;
    os << "path:         " << node.directory << '\n';
    os << "filename:     " << node.name << '\n';
    os << "ext:          " << node.extension << '\n';
    os << "file size     " << std::setw(8) << node.size << '\n';
    os << "flags:        " << std::setw(4) << node.mode << " [";
    switch (node.mode & 0xF000u) {
      case 0x4000u:
        os << "directory";
        break;
      case 0x2000u:
        os << "char special";
        break;
      case 0x8000u:
        os << "regular";
        break;
      default:
        break;
    }
    os << "]\n";
    const struct {
      const char* label;
      uint64_t value;
    } times[] = {{"created:      ", node.created},
                 {"altered:      ", node.altered},
                 {"mft changed:  ", node.mft_changed},
                 {"accessed:     ", node.accessed}};
    for (const auto& t : times) {
      os << t.label << std::setw(16) << t.value << " [";
      vk::write_date_time_yy(
          os, vk::time_from_i64(static_cast<int64_t>(t.value), vk::type_time::unix_time));
      os << "]\n";
    }
    os << "permissions:  " << std::setw(8) << node.permissions << '\n';
    out += os.str();
  });
}

}  // namespace vkportdir
