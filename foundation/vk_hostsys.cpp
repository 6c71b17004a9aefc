#include "foundation/vk_hostsys.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "foundation/vk_guard.h"
#include "foundation/vk_posix.h"

namespace vk {

bool host_system::query_uname(host_uname& out) {
  struct utsname u {};
  if (posix().uname(&u) != 0) return false;
  if (!vk::guarded([&] {
        out.sysname = u.sysname;
        out.nodename = u.nodename;
        out.release = u.release;
        out.version = u.version;
        out.machine = u.machine;
        return true;
      }))
    return false;
  return true;
}

int host_system::query_hostname(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return -1;
  return posix().gethostname(buf, size) == 0 ? 0 : -1;
}

ssize_t host_system::query_readlink(const char* path, char* buf, size_t size) {
  if (path == nullptr || buf == nullptr || size == 0) return -1;
  return posix().readlink(path, buf, size);
}

bool host_system::query_fs_type(const char* path, uint64_t& fs_type) {
  fs_type = 0;
  if (path == nullptr) return false;
  struct statfs s {};
  if (posix().statfs(path, &s) != 0) return false;
  // f_type is signed; magic numbers such as CIFS's have the top bit set.
  fs_type = static_cast<uint64_t>(static_cast<uint32_t>(s.f_type));
  return true;
}

bool host_system::query_device_numbers(const char* path, long& major_no, long& minor_no) {
  major_no = 0;
  minor_no = 0;
  if (path == nullptr) return false;
  struct stat st {};
  if (posix().lstat(path, &st) != 0) return false;
  major_no = static_cast<long>(major(st.st_dev));
  minor_no = static_cast<long>(minor(st.st_dev));
  return true;
}

bool host_system::query_realpath(const char* path, std::string& resolved) {
  resolved.clear();
  if (path == nullptr) return false;
  char* r = posix().realpath(path, nullptr);
  if (r == nullptr) return false;
  bool ok = true;
  vk::guarded([&] { resolved = r; }, [&] { ok = false; });
  std::free(r);
  return ok;
}

host_system& host_sys() {
  static host_system real;
  return real;
}

}  // namespace vk
