#include "foundation/vk_file_record.h"

namespace vk {

namespace {
constexpr uint32_t kFileTypeMask = 0xF000;
}

void clear_file_stat_info(file_stat_info& info) {
  info.name.clear();
  info.inode = 0;
  info.reserved16 = 0;
  info.size = 0;
  info.mtime = 0;
  info.time2 = 0;
  info.ctime = 0;
  info.atime = 0;
  info.mode = 0;
  info.reserved32a = 0;
  info.time_kind = 0;
  info.reserved32b = 0;
  info.is_dir = 0;
  info.reserved8a = 0;
  info.reserved8b = 0;
  info.reserved32c = 0;
  info.reserved32d = 0;
  info.path.clear();
}

bool is_fifo(const file_stat_info& info) {
  return (info.mode & kFileTypeMask) == 0x1000;
}

bool is_socket(const file_stat_info& info) {
  return (info.mode & kFileTypeMask) == 0xC000;
}

}  // namespace vk
