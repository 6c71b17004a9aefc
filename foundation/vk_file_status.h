// Size, mode and times of a named file, its whole content, and a plain
// existence test. Times come as unix seconds or as FILETIME ticks (100 ns
// units since 1601-01-01 UTC). Every failure gives false with the outputs
// zeroed (or the byte vector empty); nothing here throws or prints.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vkportdir {

// Size, mode and the change, modify and access times in unix seconds of the
// file a path names (symbolic links followed). Times before 1970 come out as
// negative values in two's complement.
bool path_stat_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                       uint64_t& modify, uint64_t& access);
bool path_stat_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                     uint64_t& modify, uint64_t& access);

// The same with the three times as FILETIME ticks of their whole seconds.
bool get_file_times(const std::string& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                    uint64_t& modify, uint64_t& access);
bool get_file_times_w(const std::wstring& path, uint64_t& size, uint32_t& mode, uint64_t& change,
                      uint64_t& modify, uint64_t& access);

// The same from a status already at hand (that of an open descriptor), so
// that a file read through a descriptor needs no second look by its name.
bool status_file_times(const struct stat& st, uint64_t& size, uint32_t& mode, uint64_t& change,
                       uint64_t& modify, uint64_t& access);

// The first min(size, max) bytes of a file; true when at least one byte came.
bool read_file_bytes(std::vector<uint8_t>& out, const std::string& path, uint32_t max);

// True when the path names anything that exists (directories and devices
// included).
bool file_exists(const std::string& path);
bool file_exists_w(const std::wstring& path);

}  // namespace vkportdir
