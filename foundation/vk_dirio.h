// The one place where directories are read from the operating system.
//
// dir_reader yields the entries of one directory, "." and ".." left out,
// each with its link-preserving status, or with status_ok false when that
// status could not be taken (the mode is then 0, never stale memory).
#pragma once

#include <cstdint>
#include <string>

namespace vk {

struct dir_item {
  std::string name;        // the entry's own name
  bool status_ok = false;  // the status call succeeded
  uint32_t mode = 0;       // the entry's mode word; 0 when !status_ok
  // A symbolic link whose target is a folder (how junctions are shown).
  bool link_to_dir = false;
};

// Device and inode of a folder, to tell when two names reach the same one.
struct dir_identity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator<(const dir_identity& o) const {
    return device != o.device ? device < o.device : inode < o.inode;
  }
};

// File-type bits of a mode word.
constexpr uint32_t mode_type_mask = 0xF000;
constexpr uint32_t mode_type_dir = 0x4000;
inline bool mode_is_dir(uint32_t mode) {
  return (mode & mode_type_mask) == mode_type_dir;
}

// The link-preserving status of each entry is taken through the fstatat
// entry of the system-call table (vk_posix.h), which tests replace to make
// it fail.

class dir_reader {
 public:
  // Opens the directory text unchanged, at any length; see is_open() and
  // error().
  explicit dir_reader(const std::string& dir);
  ~dir_reader();
  dir_reader(const dir_reader&) = delete;
  dir_reader& operator=(const dir_reader&) = delete;

  bool is_open() const { return m_dir != nullptr; }
  // Why the directory could not be opened (an errno value), 0 when it was.
  int error() const { return m_error; }

  // The open folder's identity; false when it is not open or has none.
  bool identity(dir_identity& out) const;

  // Next entry in the order the system yields them; false at the end (or
  // when the directory is not open). Symbolic links are not followed; a
  // link's target is looked at only to set link_to_dir.
  bool next(dir_item& out);

 private:
  void* m_dir = nullptr;  // DIR*, kept opaque so callers need no system header
  int m_error = 0;
};

}  // namespace vk
