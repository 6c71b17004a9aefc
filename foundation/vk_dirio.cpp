#include "foundation/vk_dirio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

namespace vk {

dir_reader::dir_reader(const std::string& dir) {
  if (dir.empty()) return;
  m_dir = ::opendir(dir.c_str());
}

dir_reader::~dir_reader() {
  if (m_dir) ::closedir(static_cast<DIR*>(m_dir));
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
    struct stat st;
    if (::fstatat(::dirfd(d), n, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      out.status_ok = true;
      out.mode = static_cast<uint32_t>(st.st_mode);
    } else {
      out.status_ok = false;
      out.mode = 0;
    }
    return true;
  }
}

}  // namespace vk
