#include "foundation/vk_file_record.h"

namespace vk {

namespace {
constexpr uint32_t kFileTypeMask = 0xF000;
}

void clear_file_stat_info(file_stat_info& info) {
  // Every member's default is empty or 0; a record embedded in a larger one
  // keeps the rest.
  info = file_stat_info();
}

bool is_fifo(const file_stat_info& info) {
  return (info.mode & kFileTypeMask) == 0x1000;
}

bool is_socket(const file_stat_info& info) {
  return (info.mode & kFileTypeMask) == 0xC000;
}

}  // namespace vk
