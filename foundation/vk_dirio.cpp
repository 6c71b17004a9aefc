#include "foundation/vk_dirio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/vk_posix.h"

namespace vk {

namespace {

bool entry_status(int dir_fd, const char* name, uint32_t& mode) {
  struct stat st;
  if (posix().fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  mode = static_cast<uint32_t>(st.st_mode);
  return true;
}

}  // namespace

dir_reader::dir_reader(const std::string& dir) {
  if (dir.empty()) {
    m_error = ENOENT;
    return;
  }
  // Opened as any file is, so that folders beyond the path-length limit
  // are reached too.
  const int fd = posix_open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd == -1) {
    m_error = errno ? errno : EIO;
    return;
  }
  m_dir = ::fdopendir(fd);
  if (!m_dir) {
    m_error = errno ? errno : EIO;
    ::close(fd);
  }
}

dir_reader::~dir_reader() {
  if (m_dir) ::closedir(static_cast<DIR*>(m_dir));
}

bool dir_reader::identity(dir_identity& out) const {
  if (!m_dir) return false;
  struct stat st;
  if (!posix_fstat(::dirfd(static_cast<DIR*>(m_dir)), st)) return false;
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool dir_reader::next(dir_item& out) {
  if (!m_dir) return false;
  DIR* d = static_cast<DIR*>(m_dir);
  for (;;) {
    const struct dirent* e = ::readdir(d);
    if (!e) return false;
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    out.name.assign(n);
    // Status relative to the open directory: the same entry that readdir
    // named, whatever the separator style of the caller's path text.
    uint32_t mode = 0;
    out.status_ok = entry_status(::dirfd(d), n, mode);
    out.mode = out.status_ok ? mode : 0;
    out.link_to_dir = false;
    if (out.status_ok && (mode & mode_type_mask) == S_IFLNK) {
      struct stat st;
      out.link_to_dir = posix().fstatat(::dirfd(d), n, &st, 0) == 0 &&
                        mode_is_dir(static_cast<uint32_t>(st.st_mode));
    }
    return true;
  }
}

}  // namespace vk
