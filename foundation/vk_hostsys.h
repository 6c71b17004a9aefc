// The few operating-system queries behind the run header and the
// executable-location tests (kernel names, host name, the program's own path,
// the file-system type and the block device of a file). They reach the
// system through the call table of vk_posix.h, so that tests can play a
// network share or a USB stick without such a machine (scoped_posix_calls,
// testing/posix_seam.h).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vk {

// The utsname fields the library reads.
struct host_uname {
  std::string sysname;
  std::string nodename;
  std::string release;
  std::string version;
  std::string machine;
};

// None of these throws.
class host_system {
 public:
  // uname(2); false when the call fails.
  bool query_uname(host_uname& out);
  // gethostname(2) into buf of size bytes; 0 on success, -1 on failure.
  int query_hostname(char* buf, size_t size);
  // readlink(2): the number of bytes placed in buf, or -1.
  ssize_t query_readlink(const char* path, char* buf, size_t size);
  // statfs(2): the file-system magic number of the file's medium.
  bool query_fs_type(const char* path, uint64_t& fs_type);
  // lstat(2): major and minor numbers of the device holding the file.
  bool query_device_numbers(const char* path, long& major_no, long& minor_no);
  // realpath(3) of path.
  bool query_realpath(const char* path, std::string& resolved);
};

// The queries, answered through the call table in force.
host_system& host_sys();

}  // namespace vk
