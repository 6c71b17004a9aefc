#include "foundation/vk_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace vk {
namespace {

int sys_open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
int sys_close(int fd) {
  return ::close(fd);
}
ssize_t sys_read(int fd, void* buf, size_t len) {
  return ::read(fd, buf, len);
}
ssize_t sys_write(int fd, const void* buf, size_t len) {
  return ::write(fd, buf, len);
}
ssize_t sys_pread(int fd, void* buf, size_t len, off_t offset) {
  return ::pread(fd, buf, len, offset);
}
ssize_t sys_pwrite(int fd, const void* buf, size_t len, off_t offset) {
  return ::pwrite(fd, buf, len, offset);
}
off_t sys_lseek(int fd, off_t offset, int whence) {
  return ::lseek(fd, offset, whence);
}
int sys_fstat(int fd, struct stat* st) {
  return ::fstat(fd, st);
}
int sys_stat(const char* path, struct stat* st) {
  return ::stat(path, st);
}
int sys_lstat(const char* path, struct stat* st) {
  return ::lstat(path, st);
}
int sys_ftruncate(int fd, off_t length) {
  return ::ftruncate(fd, length);
}
int sys_fchmod(int fd, mode_t mode) {
  return ::fchmod(fd, mode);
}
int sys_fstatat(int dir_fd, const char* name, struct stat* st, int flags) {
  return ::fstatat(dir_fd, name, st, flags);
}
int sys_uname(struct utsname* out) {
  return ::uname(out);
}
int sys_gethostname(char* name, size_t size) {
  return ::gethostname(name, size);
}
ssize_t sys_readlink(const char* path, char* buf, size_t size) {
  return ::readlink(path, buf, size);
}
int sys_statfs(const char* path, struct statfs* out) {
  return ::statfs(path, out);
}
char* sys_realpath(const char* path, char* resolved) {
  return ::realpath(path, resolved);
}

int sys_mkdir(const char* path, mode_t mode) {
  return ::mkdir(path, mode);
}
int sys_rename(const char* from, const char* to) {
  return ::rename(from, to);
}
int sys_remove(const char* path) {
  return ::remove(path);
}
int sys_rmdir(const char* path) {
  return ::rmdir(path);
}
int sys_openat(int dir_fd, const char* name, int flags, mode_t mode) {
  return ::openat(dir_fd, name, flags, mode);
}
int sys_renameat(int from_dir, const char* from, int to_dir, const char* to) {
  return ::renameat(from_dir, from, to_dir, to);
}
int sys_unlinkat(int dir_fd, const char* name, int flags) {
  return ::unlinkat(dir_fd, name, flags);
}
int sys_fsync(int fd) {
  return ::fsync(fd);
}

const posix_calls k_system_calls = {
    sys_open,        sys_close,    sys_read,     sys_write,     sys_pread,  sys_pwrite,  sys_lseek,
    sys_fstat,       sys_stat,     sys_lstat,    sys_ftruncate, sys_fchmod, sys_fstatat, sys_uname,
    sys_gethostname, sys_readlink, sys_statfs,   sys_realpath,  sys_mkdir,  sys_rename,  sys_remove,
    sys_rmdir,       sys_openat,   sys_renameat, sys_unlinkat,  sys_fsync};

// One system call never moves more than this; Linux would cut it anyway.
constexpr size_t k_max_transfer = size_t{1} << 30;

constexpr uint64_t k_max_offset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

const posix_calls& system_posix_calls() {
  return k_system_calls;
}

namespace {

// The folder last reached by open_beyond_path_max: the files of one folder
// come one after another, so the next name is usually opened from here.
struct reached_folder {
  std::string path;
  int fd = -1;
  ~reached_folder() {
    if (fd != -1) ::close(fd);
  }
};

reached_folder& last_reached() {
  static reached_folder folder;
  return folder;
}

int openat_retried(int dir_fd, const char* path, int flags, mode_t mode) {
  for (;;) {
    const int fd = ::openat(dir_fd, path, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// A path the system refuses whole for its length (trees copied from other
// machines reach it) is reached folder by folder: each piece shorter than
// the limit is opened relative to the folder before it.
int open_beyond_path_max(std::string_view path, int flags, mode_t mode) {
  reached_folder& last = last_reached();
  int base = AT_FDCWD;
  size_t done = 0;
  if (last.fd != -1 && path.size() > last.path.size() + 1 &&
      path.compare(0, last.path.size(), last.path) == 0 && path[last.path.size()] == '/') {
    base = last.fd;
    done = last.path.size() + 1;
  }
  constexpr size_t limit = PATH_MAX - 1;
  while (path.size() - done > limit) {
    const size_t cut = path.substr(done, limit).rfind('/');
    // A single name longer than the limit has no shorter form.
    if (cut == std::string_view::npos || cut == 0) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const std::string piece(path.substr(done, cut));
    const int folder = openat_retried(base, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (folder == -1) return -1;
    if (last.fd != -1) ::close(last.fd);
    last.fd = folder;
    last.path.assign(path.substr(0, done + cut));
    base = folder;
    done += cut + 1;
  }
  // The name's own folder is kept for the next call: its other names, and
  // the folders below it, are then one step away.
  std::string rest(path.substr(done));
  const size_t cut = rest.size() > 1 ? rest.rfind('/', rest.size() - 2) : std::string::npos;
  if (cut != std::string::npos && cut > 0) {
    const int folder =
        openat_retried(base, rest.substr(0, cut).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (folder == -1) return -1;
    if (last.fd != -1) ::close(last.fd);
    last.fd = folder;
    last.path.assign(path.substr(0, done + cut));
    base = folder;
    rest.erase(0, cut + 1);
  }
  return openat_retried(base, rest.c_str(), flags, mode);
}

}  // namespace

int posix_open(const char* path, int flags, mode_t mode) {
  if (path == nullptr) {
    errno = EFAULT;
    return -1;
  }
  for (;;) {
    int fd = posix().open(path, flags, mode);
    if (fd >= 0) return fd;
    if (errno == ENAMETOOLONG && posix().open == &sys_open)
      return open_beyond_path_max(path, flags, mode);
    if (errno != EINTR) return fd;
  }
}

int posix_close(int fd) {
  return posix().close(fd);
}

namespace {
bool g_stream_closed[3] = {};
}  // namespace

void fill_closed_standard_streams() {
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as those below it are open.
    const int null = ::open("/dev/null", O_RDWR);
    if (null == -1) continue;
    g_stream_closed[fd] = true;
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

bool standard_stream_was_closed(int fd) {
  return fd >= 0 && fd < 3 && g_stream_closed[fd];
}

namespace {

// The loop behind every transfer helper. `step`(buffer offset, byte count)
// makes one system call for that part of the buffer. A call interrupted by a
// signal is repeated, 0 bytes end a read (end of file) and fail a write (the
// device takes nothing, so the loop could never finish), and a count above
// the request is taken as an error rather than trusted. A positioned
// transfer (`base` set) also refuses to run past the largest file offset.
template <class Step>
io_result transfer_loop(size_t len, bool writing, const uint64_t* base, Step step) {
  io_result r;
  while (r.count < len) {
    if (base != nullptr) {
      uint64_t at = *base + r.count;
      if (at < *base || at > k_max_offset) {
        r.error = EINVAL;
        break;
      }
    }
    size_t want = len - r.count;
    if (want > k_max_transfer) want = k_max_transfer;
    ssize_t n = step(r.count, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.error = errno ? errno : EIO;
      break;
    }
    if (n == 0 && !writing) break;  // end of file
    if (n == 0 || static_cast<size_t>(n) > want) {
      r.error = EIO;
      break;
    }
    r.count += static_cast<size_t>(n);
  }
  return r;
}

}  // namespace

io_result posix_read_full(int fd, void* buf, size_t len) {
  auto* p = static_cast<uint8_t*>(buf);
  return transfer_loop(len, false, nullptr,
                       [&](size_t done, size_t want) { return posix().read(fd, p + done, want); });
}

io_result posix_write_full(int fd, const void* buf, size_t len) {
  const auto* p = static_cast<const uint8_t*>(buf);
  return transfer_loop(len, true, nullptr,
                       [&](size_t done, size_t want) { return posix().write(fd, p + done, want); });
}

io_result posix_pread_full(int fd, void* buf, size_t len, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(buf);
  return transfer_loop(len, false, &offset, [&](size_t done, size_t want) {
    return posix().pread(fd, p + done, want, static_cast<off_t>(offset + done));
  });
}

io_result posix_pwrite_full(int fd, const void* buf, size_t len, uint64_t offset) {
  const auto* p = static_cast<const uint8_t*>(buf);
  return transfer_loop(len, true, &offset, [&](size_t done, size_t want) {
    return posix().pwrite(fd, p + done, want, static_cast<off_t>(offset + done));
  });
}

int64_t posix_lseek(int fd, int64_t offset, int whence) {
  return static_cast<int64_t>(posix().lseek(fd, static_cast<off_t>(offset), whence));
}

bool posix_fstat(int fd, struct stat& st) {
  std::memset(&st, 0, sizeof st);
  return posix().fstat(fd, &st) == 0;
}

namespace {

// The status of a path too long for the system to take whole, through a
// descriptor that reaches it folder by folder.
bool stat_beyond_path_max(const char* path, struct stat& st, bool follow) {
  const int fd = open_beyond_path_max(path, O_PATH | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW), 0);
  if (fd == -1) return false;
  const bool ok = ::fstat(fd, &st) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

}  // namespace

bool posix_stat(const char* path, struct stat& st) {
  std::memset(&st, 0, sizeof st);
  if (path == nullptr) return false;
  if (posix().stat(path, &st) == 0) return true;
  return errno == ENAMETOOLONG && posix().stat == &sys_stat && stat_beyond_path_max(path, st, true);
}

bool posix_lstat(const char* path, struct stat& st) {
  std::memset(&st, 0, sizeof st);
  if (path == nullptr) return false;
  if (posix().lstat(path, &st) == 0) return true;
  return errno == ENAMETOOLONG && posix().lstat == &sys_lstat &&
         stat_beyond_path_max(path, st, false);
}

bool posix_ftruncate(int fd, uint64_t length) {
  if (length > k_max_offset) {
    errno = EINVAL;
    return false;
  }
  for (;;) {
    if (posix().ftruncate(fd, static_cast<off_t>(length)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool posix_fchmod(int fd, mode_t mode) {
  return posix().fchmod(fd, mode) == 0;
}

bool posix_fsync(int fd) {
  for (;;) {
    if (posix().fsync(fd) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool same_file(const struct stat& a, const struct stat& b) {
  const bool device_a = S_ISBLK(a.st_mode) || S_ISCHR(a.st_mode);
  const bool device_b = S_ISBLK(b.st_mode) || S_ISCHR(b.st_mode);
  if (device_a || device_b)
    return device_a && device_b && (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) &&
           a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool zeroed_pages::allocate(size_t size) {
  release();
  if (size == 0) return true;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                 -1, 0);
  if (p == MAP_FAILED) return false;
  m_data = static_cast<uint8_t*>(p);
  m_size = size;
  return true;
}

bool zeroed_pages::forget() {
  return !m_data || madvise(m_data, m_size, MADV_DONTNEED) == 0;
}

void zeroed_pages::release() {
  if (m_data) munmap(m_data, m_size);
  m_data = nullptr;
  m_size = 0;
}

}  // namespace vk
