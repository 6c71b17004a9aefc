#include "cmdline/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "foundation/uni_stream.h"
#include "foundation/vk_posix.h"

namespace vk {
namespace {

// The folder part of a path with its '/' (up to its last one), "" without.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

report_file::~report_file() {
  m_out.reset();
  if (m_fd != -1) posix_close(m_fd);
}

bool report_file::open(const std::string& target) {
  m_target = target;
  m_dest = target;
  struct stat st;
  mode_t keep_mode = 0;
  bool keep = false;
  if (posix_stat(target.c_str(), st)) {
    m_target_exists = true;
    m_target_dev = st.st_dev;
    m_target_ino = st.st_ino;
    if (S_ISREG(st.st_mode)) {
      keep = true;
      keep_mode = st.st_mode & 07777;
      struct stat link;
      // A link is followed as a plain open would: its file gets the report.
      if (posix_lstat(target.c_str(), link) && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(target.c_str(), nullptr);
        if (real == nullptr) {
          m_error = errno;
          return false;
        }
        m_dest = real;
        std::free(real);
      }
    } else {
      m_direct = true;
    }
  } else {
    struct stat link;
    // A link to nothing: the open makes the file it names, as it always did.
    m_direct = posix_lstat(target.c_str(), link);
  }
  if (m_direct) {
    m_fd = posix_open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } else {
    const std::string dir = folder_of(m_dest);
    for (int attempt = 0; attempt < 16 && m_fd == -1; ++attempt) {
      m_temp = dir + ".vesk-report-" + std::to_string(::getpid()) + '-' + std::to_string(attempt) +
               ".tmp";
      m_fd = posix_open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (m_fd == -1 && errno != EEXIST) break;
    }
    if (m_fd != -1 && keep && !posix_fchmod(m_fd, keep_mode)) {
      // The report must not end up more open than the file it replaces.
      m_error = errno;
      posix_close(m_fd);
      m_fd = -1;
      posix().remove(m_temp.c_str());
      m_temp.clear();
      return false;
    }
  }
  if (m_fd == -1) {
    m_error = errno != 0 ? errno : EIO;
    m_temp.clear();
    return false;
  }
  if (posix_fstat(m_fd, st)) {
    m_own_dev = st.st_dev;
    m_own_ino = st.st_ino;
  }
  m_out = std::make_unique<uni::descriptor_output>(m_fd);
  return true;
}

report_file::role report_file::role_of(const std::string& path) const {
  if (m_fd == -1 || path.empty()) return role::other;
  struct stat st;
  if (!posix_stat(path.c_str(), st)) return role::other;
  if (m_target_exists && st.st_dev == m_target_dev && st.st_ino == m_target_ino)
    return m_direct ? role::own : role::target;
  if (!m_direct && st.st_dev == m_own_dev && st.st_ino == m_own_ino) return role::own;
  return role::other;
}

bool report_file::finish() {
  if (m_fd == -1) return false;
  m_out->flush();
  bool ok = m_out->good();
  m_error = 0;
  m_out.reset();
  if (posix_close(m_fd) != 0 && ok) {
    ok = false;
    m_error = errno;
  }
  m_fd = -1;
  if (m_direct || m_keep_target) return ok;
  if (posix().rename(m_temp.c_str(), m_dest.c_str()) != 0) {
    if (ok) m_error = errno;
    return false;
  }
  m_moved = true;
  return ok;
}

const std::string& report_file::written_path() const {
  return m_direct || m_moved ? m_target : m_temp;
}

}  // namespace vk
