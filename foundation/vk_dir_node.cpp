#include "foundation/vk_dir_node.h"

#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"

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

#include <cstring>
#include <cwchar>

#include "foundation/vk_file_status.h"

namespace vkportdir {
namespace {

// Copies at most 511 characters so the buffer always stays terminated.
void copy_bounded(wchar_t (&dst)[512], const std::wstring& src) {
  size_t n = src.size() < 511 ? src.size() : 511;
  std::wmemcpy(dst, src.data(), n);
  dst[n] = L'\0';
}

bool mode_is_dir(uint32_t mode, uint8_t using_st_mode) {
  if (mode < 9) return mode == 2;
  // An st_mode is only meaningful while the record says it holds one.
  if (!using_st_mode) return false;
  return (mode & 0xF000u) == 0x4000u;
}

}  // namespace

_DIR_NODE::_DIR_NODE() { clear(); }

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

bool _DIR_NODE::is_dir() const { return mode_is_dir(mode, m_using_st_mode_flags); }

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
            copy_bounded(name, ext.empty() && path.back() != L'.' ? stem : stem + L"." + ext);
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

}  // namespace vkportdir
