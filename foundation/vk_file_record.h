// Plain description of one file (name, inode, size, times, mode) as handed to
// the file-selection test and kept in a directory-walk entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vk {

// How the times of a file_stat_info are held.
enum : uint32_t {
  file_times_filetime = 1,       // FILETIME ticks
  file_times_unix = 8,           // unix seconds
  file_times_unix_negative = 16  // unix seconds, modification time below 0
};

struct file_stat_info {
  std::string name;  // the file's name or path, UTF-8
  uint64_t inode = 0;
  uint16_t reserved16 = 0;
  int64_t size = 0;
  int64_t mtime = 0;  // modification time
  int64_t time2 = 0;  // a second time, set only by callers that have one
  int64_t ctime = 0;  // status-change time
  int64_t atime = 0;  // access time
  uint32_t mode = 0;
  uint32_t reserved32a = 0;
  uint32_t time_kind = 0;  // file_times_*; 0 when not filled
  uint32_t reserved32b = 0;
  uint8_t is_dir = 0;
  uint8_t reserved8a = 0;
  uint8_t reserved8b = 0;
  uint32_t reserved32c = 0;
  uint32_t reserved32d = 0;
  std::string path;  // the full path, when the filler had one
};

// Attribute bits of a dir_entry_info.
enum : uint64_t {
  dir_entry_unix_times = 2,
  dir_entry_filetime_times = 4,
  dir_entry_directory = 8,
};

// A directory-walk entry: the file description followed by attribute bits,
// a word whose low byte flags that the two lists were set, and two lists.
struct dir_entry_info : file_stat_info {
  uint64_t attribute_bits = 0;
  uint32_t list_word = 0;
  std::vector<std::string> first_list;
  std::vector<std::string> second_list;
};

// Empties both texts and sets every number and flag to 0.
void clear_file_stat_info(file_stat_info& info);
// The mode's file type is FIFO (0x1000) / socket (0xC000).
bool is_fifo(const file_stat_info& info);
bool is_socket(const file_stat_info& info);

}  // namespace vk
