#include "foundation/vk_file_status.h"

#include <sys/stat.h>

#include <algorithm>

#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_string.h"
#include "foundation/vk_time.h"
#include "foundation/vk_unicode.h"

namespace vkportdir {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t k_epoch_gap =
    static_cast<int64_t>(vk::k_unix_epoch_ticks / vk::k_ticks_per_second);
using vk::k_ticks_per_second;

void zero_outputs(uint64_t& size, uint32_t& mode, uint64_t& change, uint64_t& modify,
                  uint64_t& access) {
  size = 0;
  mode = 0;
  change = modify = access = 0;
}

bool stat_wide(const std::wstring& path, struct stat& st) {
  if (path.empty()) return false;
  return vk::stat_path_wide(path, st);
}

bool stat_utf8(const std::string& path, struct stat& st) {
  if (path.empty()) return false;
  std::wstring wide = vk::from_utf8(path);
  if (wide.empty()) return false;
  return stat_wide(wide, st);
}

// FILETIME ticks of a unix time; 0 for an instant before 1601 or beyond the
// 64-bit tick range.
uint64_t unix_time_to_filetime(int64_t seconds, int64_t nanoseconds) {
  if (nanoseconds < 0 || nanoseconds >= 1000000000LL) nanoseconds = 0;
  if (seconds < -k_epoch_gap) return 0;
  uint64_t since_1601 = static_cast<uint64_t>(seconds + k_epoch_gap);
  if (since_1601 > (UINT64_MAX - 9999999ULL) / k_ticks_per_second) return 0;
  return since_1601 * k_ticks_per_second + static_cast<uint64_t>(nanoseconds) / 100;
}

void take_seconds(const struct stat& st, uint64_t& size, uint32_t& mode, uint64_t& change,
                  uint64_t& modify, uint64_t& access) {
  size = static_cast<uint64_t>(st.st_size);
  mode = static_cast<uint32_t>(st.st_mode);
  change = static_cast<uint64_t>(static_cast<int64_t>(st.st_ctim.tv_sec));
  modify = static_cast<uint64_t>(static_cast<int64_t>(st.st_mtim.tv_sec));
  access = static_cast<uint64_t>(static_cast<int64_t>(st.st_atim.tv_sec));
}

void take_filetimes(const struct stat& st, uint64_t& size, uint32_t& mode, uint64_t& change,
                    uint64_t& modify, uint64_t& access) {
  size = static_cast<uint64_t>(st.st_size);
  mode = static_cast<uint32_t>(st.st_mode);
  change = unix_time_to_filetime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  modify = unix_time_to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  access = unix_time_to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
}

}  // namespace

bool path_stat_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                       uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  struct stat st;
  if (!stat_wide(path, st)) return false;
  take_seconds(st, size, mode, change, modify, access);
  return true;
}

bool path_stat_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                     uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  struct stat st;
  if (!stat_utf8(path, st)) return false;
  take_seconds(st, size, mode, change, modify, access);
  return true;
}

bool get_file_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                    uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  struct stat st;
  if (!stat_utf8(path, st)) return false;
  take_filetimes(st, size, mode, change, modify, access);
  return true;
}

bool get_file_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                      uint64_t& modify, uint64_t& access) {
  zero_outputs(size, mode, change, modify, access);
  struct stat st;
  if (!stat_wide(path, st)) return false;
  take_filetimes(st, size, mode, change, modify, access);
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
  if (!vk::wide_to_utf8(path, narrow)) return false;
  return file_exists(narrow);
}

}  // namespace vkportdir
