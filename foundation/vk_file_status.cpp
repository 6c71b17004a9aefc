#include "foundation/vk_file_status.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_path.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vkportdir {
namespace {

void zero_outputs(uint64_t& size, uint32_t& mode, uint64_t& change, uint64_t& modify,
                  uint64_t& access) {
  size = 0;
  mode = 0;
  change = modify = access = 0;
}

// Whole unix seconds as FILETIME ticks, as a unix time value holds them, so
// that every file time of a report is converted by the same rules: the
// seconds are signed (a time before 1970 keeps its place), and a count whose
// ticks pass the signed range gives 0.
uint64_t unix_seconds_to_ticks(uint64_t value) {
  constexpr int64_t k_epoch_seconds =
      static_cast<int64_t>(vk::k_unix_epoch_ticks / vk::k_ticks_per_second);
  const auto seconds = static_cast<int64_t>(value);
  if (seconds <= 0) return value * vk::k_ticks_per_second + vk::k_unix_epoch_ticks;
  if (seconds > INT64_MAX / static_cast<int64_t>(vk::k_ticks_per_second) - k_epoch_seconds)
    return 0;
  return static_cast<uint64_t>(seconds + k_epoch_seconds) * vk::k_ticks_per_second;
}

void seconds_to_ticks(uint64_t& change, uint64_t& modify, uint64_t& access) {
  change = unix_seconds_to_ticks(change);
  modify = unix_seconds_to_ticks(modify);
  access = unix_seconds_to_ticks(access);
}

}  // namespace

bool status_file_times(const struct stat& st, uint64_t& size, uint32_t& mode, uint64_t& change,
                       uint64_t& modify, uint64_t& access) {
  size = static_cast<uint64_t>(st.st_size);
  mode = static_cast<uint32_t>(st.st_mode);
  change = static_cast<uint64_t>(static_cast<int64_t>(st.st_ctim.tv_sec));
  modify = static_cast<uint64_t>(static_cast<int64_t>(st.st_mtim.tv_sec));
  access = static_cast<uint64_t>(static_cast<int64_t>(st.st_atim.tv_sec));
  seconds_to_ticks(change, modify, access);
  return true;
}

bool path_stat_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                       uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  struct stat st;
  if (path.empty() || !vk::stat_path_wide(path, st)) return false;
  size = static_cast<uint64_t>(st.st_size);
  mode = static_cast<uint32_t>(st.st_mode);
  change = static_cast<uint64_t>(static_cast<int64_t>(st.st_ctim.tv_sec));
  modify = static_cast<uint64_t>(static_cast<int64_t>(st.st_mtim.tv_sec));
  access = static_cast<uint64_t>(static_cast<int64_t>(st.st_atim.tv_sec));
  return true;
}

bool path_stat_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                     uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  if (path.empty()) return false;
  return path_stat_times_w(vk::path_to_wide(path), size, mode, change, modify, access);
}

bool get_file_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                    uint64_t& modify, uint64_t& access) {
  if (!path_stat_times(path, size, mode, change, modify, access)) return false;
  seconds_to_ticks(change, modify, access);
  return true;
}

bool get_file_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                      uint64_t& modify, uint64_t& access) {
  if (!path_stat_times_w(path, size, mode, change, modify, access)) return false;
  seconds_to_ticks(change, modify, access);
  return true;
}

bool read_file_bytes(std::vector<uint8_t>& out, const std::string& path, uint32_t max) {
  out.clear();
  if (path.empty()) return false;
  uni::fileio file(path, false);
  if (!file.is_open()) return false;
  uint64_t count = std::min<uint64_t>(file.stored_size(), max);
  if (count == 0) return false;
  if (!file.read_bytes_at(out, count, 0)) out.clear();
  file.close();
  return !out.empty();
}

bool file_exists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return vk::stat_path(path.c_str(), st) == 0;
}

bool file_exists_w(const std::wstring& path) {
  if (path.empty()) return false;
  std::string narrow;
  if (!vk::path_to_bytes(path, narrow)) return false;
  return file_exists(narrow);
}

}  // namespace vkportdir
