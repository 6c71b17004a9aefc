// Directory node records: one file-system entry as a record with fixed wide
// buffers (_DIR_NODE) or with UTF-8 strings (_DIR_NODE_STL), filled from the
// file system or from values, converted into each other, compared for
// sorting and dumped as text. Also the wide path split they rest on.
#pragma once

#include <cstdint>
#include <string>

namespace vk {

// Empties the stem; splits the path into directory and name (false when that
// fails), then the name at its last '.': stem before it, extension after it.
// A name without '.' becomes the stem and leaves the extension untouched.
bool split_wpath_stem_ext(const std::wstring& path, std::wstring& dir, std::wstring& stem,
                          std::wstring& ext);

}  // namespace vk

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

// The same entry with UTF-8 strings; full_path_lower is the lower-cased copy
// of full_path used for ordering without case.
struct _DIR_NODE_STL {
  std::string full_path;
  std::string full_path_lower;
  std::string directory;
  std::string name;
  std::string extension;
  uint64_t extra_value;
  uint16_t tag;  // a caller's value, kept as given
  uint64_t size;
  uint32_t mode;
  uint64_t created;
  uint64_t altered;
  uint64_t mft_changed;
  uint64_t accessed;
  uint32_t permissions;
  uint8_t m_using_st_mode_flags;

  _DIR_NODE_STL();
  // From a path and values (see make_dir_node_stl).
  _DIR_NODE_STL(const std::wstring& path, uint64_t size_in, uint64_t extra, uint16_t tag_in,
                uint32_t mode_in, uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                uint64_t accessed_in, uint32_t permissions_in);
  _DIR_NODE_STL(const std::string& path, uint64_t size_in, uint64_t extra, uint16_t tag_in,
                uint32_t mode_in, uint64_t created_in, uint64_t altered_in, uint64_t mft_in,
                uint64_t accessed_in, uint32_t permissions_in);
  _DIR_NODE_STL(const std::wstring& path, uint64_t size_in, uint32_t mode_in, uint64_t created_in,
                uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in,
                uint32_t permissions_in);
  _DIR_NODE_STL(const std::string& path, uint64_t size_in, uint32_t mode_in, uint64_t created_in,
                uint64_t altered_in, uint64_t mft_in, uint64_t accessed_in,
                uint32_t permissions_in);
  explicit _DIR_NODE_STL(const _DIR_NODE& node);
  _DIR_NODE_STL(const _DIR_NODE_STL&) = default;
  _DIR_NODE_STL& operator=(const _DIR_NODE_STL&) = default;
  _DIR_NODE_STL& operator=(const _DIR_NODE& node);

  void clear();
  bool is_dir() const;
  // Fill by status; false for a null path or one that cannot be examined.
  bool from_path(const char* path);
};

// Clears, then stores the path (UTF-8 and lower-cased), its directory, its
// name with extension and the extension, and the values unchanged.
void make_dir_node_stl(_DIR_NODE_STL& out, const std::wstring& path, uint64_t size, uint64_t extra,
                       uint16_t tag, uint32_t mode, uint64_t created, uint64_t altered,
                       uint64_t mft_changed, uint64_t accessed, uint32_t permissions);
// The same without an extra value and tag (both 0).
void make_dir_node_stl(_DIR_NODE_STL& out, const std::wstring& path, uint64_t size, uint32_t mode,
                       uint64_t created, uint64_t altered, uint64_t mft_changed, uint64_t accessed,
                       uint32_t permissions);

// Clears, then converts the strings; the full path is directory + '/' +
// name, then "." + extension when there is one (no '/' after an empty
// directory or one that ends in '/'). The tag becomes 0.
void dir_node_to_stl(_DIR_NODE_STL& out, const _DIR_NODE& node);

// path_stat_times for a NUL-terminated path; a null path gives false with
// the outputs zero.
bool path_stat_times_cstr(const char* path, uint64_t& size, uint32_t& mode, uint64_t& change,
                          uint64_t& modify, uint64_t& access);

// Sort and match predicates.
bool dir_node_created_less(const _DIR_NODE& a, const _DIR_NODE& b);
bool dir_node_name_equal(const _DIR_NODE& a, const _DIR_NODE& b);  // case ignored
bool dir_node_name_less(const _DIR_NODE& a, const _DIR_NODE& b);   // case ignored
bool dir_node_stl_path_less(const _DIR_NODE_STL& a, const _DIR_NODE_STL& b);
bool dir_node_stl_path_equal(const _DIR_NODE_STL& a, const _DIR_NODE_STL& b);

// Appends the labelled lines of a record: path, name, extension, size and
// mode word in hexadecimal (with the file type named), the four times in
// hexadecimal with their yy-mm-dd hh:mm:ss form (unix seconds), and the
// permissions word.
void dir_node_attribute_text(const _DIR_NODE_STL& node, std::string& out);

}  // namespace vkportdir
