#include "foundation/vk_dir_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "foundation/uni_file_utils.h"
#include "foundation/vk_guard.h"
#include "foundation/vk_path.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_text.h"

namespace vkportdir {
namespace {

bool starts_with(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// A path that is relative on this system, joined to the working directory.
// The name is kept byte for byte (no trimming or quote handling): only the
// path handed in may be touched. False when the working directory cannot be
// read.
bool absolute_form(const std::string& path, std::string& out) {
  if (path.size() <= 2 || path[1] == ':' || path[0] == '/') {
    out = path;
    return true;
  }
  std::string cwd = vk::current_dir();
  if (cwd.empty()) return false;
  if (cwd.back() != '/') cwd += '/';
  out = cwd + path;
  return true;
}

// Numbers the temporary names of this process.
std::atomic<unsigned long> g_temp_counter{0};

}  // namespace

bool make_dir(const std::string& path) {
  if (path.empty()) return false;
  // The process mask is left as it is: every later file of the run, the
  // report included, must keep the permissions the examiner chose.
  if (vk::posix().mkdir(path.c_str(), 0777) == 0) return true;
  if (errno != EEXIST) return false;
  // A file of that name is no directory: whatever is to be put there next
  // would fail later, far from the cause.
  struct stat st;
  return vk::posix_stat(path.c_str(), st) && S_ISDIR(st.st_mode);
}

bool make_dir_w(const std::wstring& path) {
  return vk::guarded([&] { return make_dir(vk::path_from_wide(path)); });
}

bool make_dirs(std::string path) {
  return vk::guarded([&] {
    vk::erase_char(path, '"');
    if (path.empty()) return false;
    std::string prefix;
    if (starts_with(path, "\\\\?\\") || starts_with(path, "\\\\.\\")) {
      bool whole = false;
      if (path.size() > vk::long_path_limit()) {
        std::string lower = path;
        vk::str_to_lower(lower);
        whole = lower.compare(4, 6, "global") == 0;
      }
      if (!whole && path.size() > 4) {
        prefix = path.substr(0, 4);
        path.erase(0, 4);
      }
    }
    vk::replace_char(path, '\\', '/');
    std::string acc = prefix;
    size_t sep = path.find('/', 1);
    while (sep != std::string::npos) {
      acc.append(path, 0, sep);
      // A drive such as "c:" is never created.
      if (sep > 0 && path[sep - 1] != ':' && !make_dir(acc)) return false;
      acc += path[sep];
      path.erase(0, sep + 1);
      sep = path.find('/');
    }
    acc += path;
    return make_dir(acc);
  });
}

bool make_dirs_w(const std::wstring& path) {
  return vk::guarded([&] { return make_dirs(vk::path_from_wide(path)); });
}

bool replace_file_contents(const std::string& path, const void* data, size_t count) {
  if (path.empty() || path.back() == '/') return false;
  if (data == nullptr) count = 0;
  return vk::guarded([&] {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                            : slash == 0               ? std::string("/")
                                                       : path.substr(0, slash);
    // What stands at the path now: a regular file keeps its permission bits;
    // a link is replaced as a name; anything else (a directory, a device, a
    // pipe) is not a file this call may replace.
    mode_t keep_mode = 0;
    bool keep = false;
    struct stat st;
    if (vk::posix_lstat(path.c_str(), st)) {
      if (S_ISREG(st.st_mode)) {
        keep = true;
        keep_mode = st.st_mode & 07777;
      } else if (!S_ISLNK(st.st_mode)) {
        return false;
      }
    }
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
      temp = (dir == "/" ? dir : dir + '/') + ".vesk-" + std::to_string(::getpid()) + '-' +
             std::to_string(g_temp_counter++) + ".tmp";
      fd = vk::posix_open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = count == 0 || !vk::posix_write_full(fd, data, count).failed();
    if (ok && keep) ok = vk::posix_fchmod(fd, keep_mode);
    // The bytes reach the disk before the name moves over to them.
    if (ok) ok = ::fsync(fd) == 0;
    if (vk::posix_close(fd) != 0) ok = false;
    if (ok) ok = vk::posix().rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) vk::posix().remove(temp.c_str());
    return ok;
  });
}

bool write_file_make_dirs(const std::string& path, const void* data, size_t count) {
  return vk::guarded([&] {
    std::string dir;
    std::string name;
    if (!vk::split_path(path, dir, name)) return false;
    if (!make_dirs(dir)) return false;
    return replace_file_contents(path, data, count);
  });
}

bool write_file_make_dirs_w(const std::wstring& path, const void* data, size_t count) {
  return vk::guarded([&] { return write_file_make_dirs(vk::path_from_wide(path), data, count); });
}

bool remove_file(const std::string& path) {
  return vk::guarded([&] {
    if (path.empty()) return false;
    std::string full;
    if (!absolute_form(path, full)) return false;
    return vk::posix().remove(full.c_str()) == 0;
  });
}

bool remove_file_w(const std::wstring& path) {
  return vk::guarded([&] { return remove_file(vk::path_from_wide(path)); });
}

bool rename_file(const std::string& from, const std::string& to, bool make_absolute) {
  return vk::guarded([&] {
    if (from.empty() || to.empty()) return false;
    std::string src = from;
    std::string dst = to;
    if (make_absolute && (!absolute_form(from, src) || !absolute_form(to, dst))) return false;
    return vk::posix().rename(src.c_str(), dst.c_str()) == 0;
  });
}

bool rename_file_w(const std::wstring& from, const std::wstring& to) {
  return vk::guarded(
      [&] { return rename_file(vk::path_from_wide(from), vk::path_from_wide(to), false); });
}

bool open_cfile(FILE*& out, const std::wstring& path, bool write, uint32_t /*reserved*/,
                bool create, bool raw) {
  out = nullptr;
  return vk::guarded([&] {
    std::string bytes = vk::path_from_wide(path);
    if (bytes.empty()) return false;
    const bool w = write || create;
    std::string mode = w ? "w+" : "r";
    if (raw) mode += 'b';
    // For writing, a link at the path is not followed, and a file that
    // another name shares is not emptied: either would change a file other
    // than the one named. The file is emptied only after that check.
    int flags = (w ? (O_RDWR | O_CREAT | O_NOFOLLOW) : O_RDONLY) | O_CLOEXEC;
    int fd = vk::posix_open(bytes.c_str(), flags, 0666);
    if (fd < 0) return false;
    if (w) {
      struct stat st;
      const bool writable =
          vk::posix_fstat(fd, st) &&
          (!S_ISREG(st.st_mode) || (st.st_nlink <= 1 && vk::posix_ftruncate(fd, 0)));
      if (!writable) {
        vk::posix_close(fd);
        return false;
      }
    }
    out = ::fdopen(fd, mode.c_str());
    if (out == nullptr) vk::posix_close(fd);
    return out != nullptr;
  });
}

bool open_cfile_write(FILE*& out, const std::wstring& path, bool raw) {
  return open_cfile(out, path, true, 0, true, raw);
}

bool open_cfile_read(FILE*& out, const std::wstring& path, bool raw) {
  return open_cfile(out, path, false, 0, false, raw);
}

bool list_user_profile_dirs(std::vector<std::string>& out) {
  out.clear();
  return false;
}

bool empty_path_stub(std::string& out) {
  out.clear();
  return false;
}

std::string exe_path_from_proc() {
  return vk::guarded([&] {
    // A target that fills the buffer may have been cut: grow until it fits.
    for (size_t size = 1024; size <= (size_t{1} << 20); size *= 2) {
      std::vector<char> buf(size, 0);
      ssize_t n = vk::posix().readlink("/proc/self/exe", buf.data(), size);
      if (n < 0) return std::string();
      if (static_cast<size_t>(n) < size) return std::string(buf.data(), static_cast<size_t>(n));
    }
    return std::string();
  });
}

std::wstring exe_path_w() {
  return vk::guarded([&] { return vk::path_to_wide(exe_path_from_proc()); });
}

}  // namespace vkportdir
