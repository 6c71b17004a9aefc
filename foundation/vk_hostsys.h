// The few operating-system queries behind the run header and the
// executable-location tests (kernel names, host name, the program's own path,
// the file-system type and the block device of a file).  They all go through
// one replaceable object so that tests can play a network share or a USB
// stick without such a machine.
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

// Default members call the real system; a test derives and overrides.
// None of them throws.
class host_system {
 public:
  virtual ~host_system() = default;

  // uname(2); false when the call fails.
  virtual bool query_uname(host_uname& out);
  // gethostname(2) into buf of size bytes; 0 on success, -1 on failure.
  virtual int query_hostname(char* buf, size_t size);
  // readlink(2): the number of bytes placed in buf, or -1.
  virtual ssize_t query_readlink(const char* path, char* buf, size_t size);
  // statfs(2): the file-system magic number of the file's medium.
  virtual bool query_fs_type(const char* path, uint64_t& fs_type);
  // lstat(2): major and minor numbers of the device holding the file.
  virtual bool query_device_numbers(const char* path, long& major_no, long& minor_no);
  // realpath(3) of path.
  virtual bool query_realpath(const char* path, std::string& resolved);
};

// The object currently in use (the real system unless replaced).
host_system& host_sys();

// Installs a replacement (nullptr restores the real system) and returns the
// one it displaces.  The caller keeps ownership of the object.
host_system* replace_host_system(host_system* replacement);

// Installs a replacement for the life of a scope.
class scoped_host_system {
 public:
  explicit scoped_host_system(host_system* replacement)
      : m_previous(replace_host_system(replacement)) {}
  ~scoped_host_system() { replace_host_system(m_previous); }
  scoped_host_system(const scoped_host_system&) = delete;
  scoped_host_system& operator=(const scoped_host_system&) = delete;

 private:
  host_system* m_previous;
};

}  // namespace vk
