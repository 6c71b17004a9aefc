// A machine described in code for the host queries of the run header: what
// uname says, the host name, where the program lives and on what kind of
// storage. While a fake_host_scope lives, the system-call table of vk_posix.h
// answers those queries from the description.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "foundation/vk_hostsys.h"
#include "foundation/vk_posix.h"
#include "posix_seam.h"

namespace vesk_test {

struct fake_host {
  bool uname_ok = true;
  vk::host_uname uname_fields{"Linux", "box", "6.1.0-13-amd64", "#1 SMP Debian", "x86_64"};
  int hostname_result = 0;
  std::string hostname = "box";
  std::string exe = "/opt/tools/vesk_x64";  // /proc/self/exe; empty: the link cannot be read
  bool readlink_ok = true;
  uint64_t fs_type = 0xEF53;  // ext4
  long major_no = 8, minor_no = 1;
  std::string sys_target = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda/sda1";
  std::string asked_link;  // the last path given to realpath
};

class fake_host_scope {
 public:
  explicit fake_host_scope(fake_host* host) : m_previous(current()), m_calls(make()) {
    current() = host;
  }
  ~fake_host_scope() { current() = m_previous; }
  fake_host_scope(const fake_host_scope&) = delete;
  fake_host_scope& operator=(const fake_host_scope&) = delete;

 private:
  static fake_host*& current() {
    static fake_host* host = nullptr;
    return host;
  }
  static void put(char* field, const std::string& value) {
    std::strncpy(field, value.c_str(), sizeof(utsname::sysname) - 1);
  }
  static vk::posix_calls make() {
    vk::posix_calls c = vk::posix();
    c.uname = [](struct utsname* u) {
      if (!current()->uname_ok) return -1;
      std::memset(u, 0, sizeof *u);
      const vk::host_uname& f = current()->uname_fields;
      put(u->sysname, f.sysname);
      put(u->nodename, f.nodename);
      put(u->release, f.release);
      put(u->version, f.version);
      put(u->machine, f.machine);
      return 0;
    };
    c.gethostname = [](char* buf, size_t size) {
      const fake_host& h = *current();
      if (h.hostname_result != 0) return h.hostname_result;
      h.hostname.copy(buf, std::min(size, h.hostname.size()));
      return 0;
    };
    c.readlink = [](const char* path, char* buf, size_t size) -> ssize_t {
      const fake_host& h = *current();
      if (!h.readlink_ok || h.exe.empty() || std::strcmp(path, "/proc/self/exe") != 0) return -1;
      const size_t n = std::min(size, h.exe.size());
      std::memcpy(buf, h.exe.data(), n);
      return static_cast<ssize_t>(n);
    };
    c.statfs = [](const char*, struct statfs* out) {
      std::memset(out, 0, sizeof *out);
      out->f_type = static_cast<decltype(out->f_type)>(current()->fs_type);
      return 0;
    };
    c.lstat = [](const char* path, struct stat* st) {
      const fake_host& h = *current();
      if (h.exe != path) return vk::system_posix_calls().lstat(path, st);
      std::memset(st, 0, sizeof *st);
      st->st_dev = makedev(static_cast<unsigned>(h.major_no), static_cast<unsigned>(h.minor_no));
      return 0;
    };
    c.realpath = [](const char* path, char*) -> char* {
      current()->asked_link = path;
      return ::strdup(current()->sys_target.c_str());
    };
    return c;
  }

  fake_host* m_previous;
  vk::scoped_posix_calls m_calls;
};

// A file system that takes no change: while a change_recorder_scope lives,
// mkdir, rename, remove, rmdir and every open that could create or write are
// recorded (as "mkdir <path>", "rename <from> <to>", ...) and refused. mkdir
// answers "exists", and the status of a path it answered so is a directory's,
// so that directory creation runs on to the end; opens for reading, other
// status calls and listings reach the real system.
class change_recorder_scope {
 public:
  change_recorder_scope() : m_calls(make()) {
    log().clear();
    made().clear();
  }
  change_recorder_scope(const change_recorder_scope&) = delete;
  change_recorder_scope& operator=(const change_recorder_scope&) = delete;

  static std::vector<std::string>& log() {
    static std::vector<std::string> entries;
    return entries;
  }

 private:
  static std::set<std::string>& made() {
    static std::set<std::string> paths;
    return paths;
  }
  static int refuse(std::string entry, int error) {
    // A long hostile run keeps only the recent calls.
    if (log().size() > 4096) log().clear();
    log().push_back(std::move(entry));
    errno = error;
    return -1;
  }
  static vk::posix_calls make() {
    vk::posix_calls c = vk::posix();
    c.mkdir = [](const char* p, mode_t) {
      if (made().size() > 4096) made().clear();
      made().insert(p);
      return refuse(std::string("mkdir ") + p, EEXIST);
    };
    c.stat = [](const char* p, struct stat* st) {
      if (made().count(p) == 0) return vk::system_posix_calls().stat(p, st);
      std::memset(st, 0, sizeof *st);
      st->st_mode = S_IFDIR | 0755;
      return 0;
    };
    c.rename = [](const char* a, const char* b) {
      return refuse(std::string("rename ") + a + " " + b, EACCES);
    };
    c.remove = [](const char* p) { return refuse(std::string("remove ") + p, EACCES); };
    c.rmdir = [](const char* p) { return refuse(std::string("rmdir ") + p, EACCES); };
    c.open = [](const char* p, int flags, mode_t mode) {
      if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0)
        return refuse(std::string("open ") + p, EACCES);
      return vk::system_posix_calls().open(p, flags, mode);
    };
    return c;
  }

  vk::scoped_posix_calls m_calls;
};

}  // namespace vesk_test
