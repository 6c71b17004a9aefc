// Pieces of the directory node records: splitting a wide path into its
// directory, stem and extension.
#pragma once

#include <string>

namespace vk {

// Empties the stem; splits the path into directory and name (false when that
// fails), then the name at its last '.': stem before it, extension after it.
// A name without '.' becomes the stem and leaves the extension untouched.
bool split_wpath_stem_ext(const std::wstring& path, std::wstring& dir, std::wstring& stem,
                          std::wstring& ext);

}  // namespace vk

#include <cstdint>

namespace vkportdir {

// One file-system entry with fixed wide buffers. The mode word holds a small
// flag set (below 9; 2 means directory) or, while m_using_st_mode_flags is
// set, a POSIX st_mode.
struct _DIR_NODE {
  wchar_t directory[512];
  wchar_t name[512];
  std::wstring extension;
  uint64_t extra_value;
  uint32_t mode;
  uint64_t size;
  uint64_t created;
  uint64_t altered;
  uint64_t mft_changed;
  uint64_t accessed;
  uint32_t permissions;
  uint8_t m_using_st_mode_flags;
  uint8_t flag1;
  uint8_t flag2;

  _DIR_NODE();
  _DIR_NODE(const std::wstring& name_in, uint64_t extra, uint64_t size_in, uint32_t mode_in,
            uint64_t created_in, uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in,
            uint32_t permissions_in);
  _DIR_NODE(const std::wstring& name_in, uint64_t size_in, uint32_t mode_in, uint64_t created_in,
            uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in, uint32_t permissions_in);
  void clear();
  bool is_dir() const;
  // Fill by status; false when the path cannot be examined.
  bool from_path(const std::string& path);
  bool from_path_w(const std::wstring& path);
};

}  // namespace vkportdir
