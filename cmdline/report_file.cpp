#include "cmdline/report_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/uni_stream.h"
#include "foundation/vk_posix.h"

namespace vk {
namespace {

// The folder part of a path with its '/' (up to its last one), "" without.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string name_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder for a report whose target's folder takes no new file.
std::string temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir != nullptr && dir[0] == '/' ? dir : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// The unfinished files a signal removes: each by its folder's descriptor and
// its own short name, so that the handler needs no memory and no long path.
struct temp_slot {
  volatile std::sig_atomic_t used;
  int dir;
  char name[64];
};
temp_slot g_temp_slots[4];

// The signals whose default ends the process and that a handler can catch;
// the real-time ones are added where they are set up.
constexpr int k_ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,  SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : k_ending_signals) sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

void remove_temps_then_end(int sig) {
  const int saved = errno;
  for (temp_slot& slot : g_temp_slots)
    if (slot.used != 0) ::unlinkat(slot.dir, slot.name, 0);
  // Blocked while the handler runs, the signal ends the process as it returns.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = saved;
}

// Takes the file name in the folder temp_dir among those a signal removes;
// the slot's index, -1 when there is none.
int hold_temp(int temp_dir, const std::string& name) {
  if (name.size() >= sizeof g_temp_slots[0].name) return -1;
  for (int i = 0; i < static_cast<int>(std::size(g_temp_slots)); ++i) {
    temp_slot& slot = g_temp_slots[i];
    if (slot.used != 0) continue;
    const int dir = ::fcntl(temp_dir, F_DUPFD_CLOEXEC, 3);
    if (dir == -1) return -1;
    slot.dir = dir;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.used = 1;
    return i;
  }
  return -1;
}

void release_temp(int& index) {
  if (index < 0) return;
  temp_slot& slot = g_temp_slots[index];
  slot.used = 0;
  posix_close(slot.dir);
  slot.dir = -1;
  index = -1;
}

int openat_retried(int dir_fd, const std::string& name, int flags, mode_t mode) {
  for (;;) {
    const int fd = posix().openat(dir_fd, name.c_str(), flags, mode);
    if (fd != -1 || errno != EINTR) return fd;
  }
}

// Makes a new file of the report in the open folder dir (named folder, with
// its '/', or "" for the current one) with its final mode; -1 with errno set
// when the folder takes none.
int make_temp(int dir, const std::string& folder, mode_t mode, std::string& temp) {
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd == -1; ++attempt) {
    temp = folder + ".vesk-report-" + std::to_string(::getpid()) + '-' + std::to_string(attempt) +
           ".tmp";
    fd = openat_retried(dir, name_of(temp), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        mode);
    if (fd == -1 && errno != EEXIST) break;
  }
  if (fd == -1) temp.clear();
  return fd;
}

// A folder that takes new names but gives none back (append-only): a file
// made there could be neither moved over the target nor removed.
bool keeps_every_name(int dir) {
  const int fd = openat_retried(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd == -1) return false;
  int flags = 0;
  const bool append_only = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
  posix_close(fd);
  return append_only;
}

int open_folder(const std::string& folder) {
  return posix_open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
}

// Forces what was written to the disk, so that a disk that takes the bytes
// late (a network share) says it is full before the report takes the
// target's place. Pipes and devices have nothing to force.
bool forced_to_disk(int fd) {
  if (posix_fsync(fd)) return true;
  return errno == EINVAL || errno == EROFS;
}

// Opens name in the open folder dir for writing, never through a link, and
// only when it is still the file seen (same_file): -1 with errno set else.
int open_seen(int dir, const std::string& name, const struct stat& seen) {
  const int fd = openat_retried(dir, name, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0);
  if (fd == -1) return -1;
  struct stat now;
  if (posix_fstat(fd, now) && same_file(now, seen)) return fd;
  posix_close(fd);
  // Another file took the name since it was looked at.
  errno = ESTALE;
  return -1;
}

}  // namespace

void report_file::keep_owner(int fd) const {
  // The earlier file's owner and group where this process may give them, or
  // its group alone; else the report stays the maker's, as any new file.
  if (::fchown(fd, m_keep_uid, m_keep_gid) != 0) ::fchown(fd, static_cast<uid_t>(-1), m_keep_gid);
  // Its mode, which the umask narrowed at the making and a change of owner
  // may have stripped of its set-ID bits.
  posix_fchmod(fd, m_keep_mode);
}

void remove_reports_on_signals() {
  const sigset_t ending = ending_signals();
  for (int sig = 1; sig <= SIGRTMAX; ++sig) {
    if (sigismember(&ending, sig) != 1) continue;
    struct sigaction old {};
    // Ignored from the start, or caught by someone else: left so.
    if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
        old.sa_handler != SIG_DFL)
      continue;
    struct sigaction action {};
    action.sa_handler = remove_temps_then_end;
    action.sa_mask = ending;
    ::sigaction(sig, &action, nullptr);
  }
  // A write past the file-size limit then fails, and is said like a full disk.
  ::signal(SIGXFSZ, SIG_IGN);
}

int named_stream_descriptor(const std::string& path) {
  if (path == "/dev/stdin") return STDIN_FILENO;
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const size_t length = std::strlen(prefix);
    if (path.compare(0, length, prefix) != 0 || path.size() == length || path.size() > length + 9)
      continue;
    int fd = 0;
    for (size_t i = length; i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9') return -1;
      fd = fd * 10 + (path[i] - '0');
    }
    return fd;
  }
  return -1;
}

std::string output_destination(const std::string& path) {
  std::string at = path;
  // As many links as the system follows in one name.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (!posix_lstat(at.c_str(), st) || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> buf(PATH_MAX);
    const ssize_t n = posix().readlink(at.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return at;
    const std::string next(buf.data(), static_cast<size_t>(n));
    at = next[0] == '/' ? next : folder_of(at) + next;
  }
  errno = ELOOP;
  return {};
}

bool output_name_accepted(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  if (path.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

report_file::~report_file() {
  discard();
}

std::string report_file::reason() const {
  const std::string own = std::strerror(m_error != 0 ? m_error : EIO);
  const std::string temp_folder = "the temporary folder " + m_temp_folder + " ($TMPDIR): ";
  if (m_only_temp_folder && m_temp_error != 0) return temp_folder + own;
  if (m_temp_error != 0) return own + "; " + temp_folder + std::strerror(m_temp_error);
  return own;
}

void report_file::hold_signals() {
  if (m_holding) return;
  const sigset_t ending = ending_signals();
  m_holding = ::pthread_sigmask(SIG_BLOCK, &ending, &m_held_mask) == 0;
}

void report_file::release_signals() {
  if (!m_holding) return;
  m_holding = false;
  // A signal that came meanwhile acts here.
  ::pthread_sigmask(SIG_SETMASK, &m_held_mask, nullptr);
}

int report_file::make_held_temp(const std::string& folder, mode_t mode) {
  // A signal between the file's making and its place among those a signal
  // removes would leave it behind.
  hold_signals();
  const int fd = make_temp(m_temp_dir_fd, folder, mode, m_temp);
  const int saved = errno;
  if (fd != -1) m_slot = hold_temp(m_temp_dir_fd, name_of(m_temp));
  release_signals();
  if (fd != -1) m_temp_folder_named = folder;
  errno = saved;
  return fd;
}

std::ostream& report_file::stream() {
  return *m_out;
}

void report_file::close_descriptor() {
  m_out.reset();
  if (m_fd != -1) posix_close(m_fd);
  m_fd = -1;
  if (m_dest_fd != -1) posix_close(m_dest_fd);
  m_dest_fd = -1;
}

void report_file::close_folders() {
  for (int* fd : {&m_dir_fd, &m_temp_dir_fd}) {
    if (*fd != -1) posix_close(*fd);
    *fd = -1;
  }
}

void report_file::remove_temp() {
  if (!m_temp.empty()) posix().unlinkat(m_temp_dir_fd, name_of(m_temp).c_str(), 0);
  m_temp.clear();
  release_temp(m_slot);
}

void report_file::discard() {
  const bool open_now = m_fd != -1;
  // A target written directly gets nothing more: what waits is dropped.
  if (m_direct && m_out) m_out->drop_pending();
  close_descriptor();
  if (open_now && !m_direct) remove_temp();
  close_folders();
  release_signals();
}

// The target itself, as it is: a pipe or a character device, never through a
// link it was seen not to be.
bool report_file::open_direct(const struct stat& seen) {
  struct stat link;
  if (posix_lstat(m_target.c_str(), link) && S_ISLNK(link.st_mode)) {
    char* real = posix().realpath(m_target.c_str(), nullptr);
    if (real == nullptr) return false;
    m_dest = real;
    std::free(real);
  }
  m_dir_fd = open_folder(folder_of(m_dest));
  if (m_dir_fd == -1) return false;
  // A pipe without a reader yet waits for one, as a shell's redirection does.
  m_fd = open_seen(m_dir_fd, name_of(m_dest), seen);
  return m_fd != -1;
}

// The new file in the temporary folder, copied into the target (open in
// m_dest_fd) once whole; refused is the reason the target's folder gave, 0
// when it was not asked.
bool report_file::open_elsewhere(int refused) {
  if (m_temp_dir_fd != -1) posix_close(m_temp_dir_fd);
  // Read by nobody else in a folder every user shares.
  const std::string elsewhere = temporary_folder();
  m_temp_dir_fd = open_folder(elsewhere);
  if (m_temp_dir_fd != -1) m_fd = make_held_temp(elsewhere, 0600);
  if (m_fd != -1) return true;
  // The reason given is the target's folder's; the temporary folder's own
  // follows it.
  m_temp_error = errno;
  m_only_temp_folder = refused == 0;
  m_temp_folder = elsewhere.size() > 1 ? elsewhere.substr(0, elsewhere.size() - 1) : elsewhere;
  errno = refused != 0 ? refused : m_temp_error;
  return false;
}

bool report_file::open(const std::string& target) {
  m_target = target;
  m_dest = target;
  if (!output_name_accepted(target)) {
    m_error = errno;
    return false;
  }
  bool opened = false;
  errno = 0;
  if (const int named = named_stream_descriptor(target); named != -1) {
    // Written through the descriptor as the shell opened it: a file the
    // stream appends to keeps what it holds, the messages of standard error
    // arrive beside the report.
    m_direct = true;
    m_fd = ::fcntl(named, F_DUPFD_CLOEXEC, 3);
    const int flags = m_fd == -1 ? -1 : ::fcntl(m_fd, F_GETFL);
    opened = flags != -1 && (flags & O_ACCMODE) != O_RDONLY && posix_fstat(m_fd, m_target_st);
    if (!opened && errno == 0) errno = EBADF;
    m_target_exists = opened;
  } else {
    struct stat st;
    mode_t keep_mode = 0;
    bool keep = false;
    if (posix_stat(target.c_str(), st)) {
      m_target_exists = true;
      m_target_st = st;
      if (S_ISREG(st.st_mode)) {
        keep = true;
        keep_mode = st.st_mode & 07777;
        m_keep_owner = true;
        m_keep_uid = st.st_uid;
        m_keep_gid = st.st_gid;
        m_keep_mode = keep_mode;
        m_dest_regular = true;
        struct stat link;
        // A link is followed as a plain open would: its file gets the report.
        if (posix_lstat(target.c_str(), link) && S_ISLNK(link.st_mode)) {
          char* real = posix().realpath(target.c_str(), nullptr);
          if (real == nullptr) {
            m_error = errno;
            return false;
          }
          m_dest = real;
          std::free(real);
        }
      } else if (S_ISDIR(st.st_mode)) {
        m_error = EISDIR;
        return false;
      } else if (!S_ISBLK(st.st_mode)) {
        m_direct = true;
      }
    } else {
      // A link to a name not made yet: the report is made at that name, as
      // it would be at a name given plainly.
      m_dest = output_destination(target);
      if (m_dest.empty()) {
        m_error = errno;
        return false;
      }
    }
    if (m_direct) {
      opened = open_direct(st);
    } else if (m_target_exists && !keep) {
      // A disk: it may be among the inputs still to come, so it gets no
      // byte before the run ends.
      m_dest_fd = posix_open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC, 0);
      if (m_dest_fd != -1 && !(posix_fstat(m_dest_fd, st) && same_file(st, m_target_st))) {
        posix_close(m_dest_fd);
        m_dest_fd = -1;
        errno = ESTALE;
      }
      opened = m_dest_fd != -1 && open_elsewhere(0);
    } else if ((m_dir_fd = open_folder(folder_of(m_dest))) != -1) {
      m_temp_dir_fd = ::fcntl(m_dir_fd, F_DUPFD_CLOEXEC, 3);
      // Made with its final mode: never readable by more users than the
      // file it replaces (the umask narrows it further).
      const bool append_only = m_temp_dir_fd != -1 && keeps_every_name(m_dir_fd);
      if (append_only)
        errno = EPERM;
      else if (m_temp_dir_fd != -1)
        m_fd = make_held_temp(folder_of(m_dest), keep ? (keep_mode & 0777) : 0666);
      if (m_fd == -1 && (keep || append_only) && (errno == EACCES || errno == EPERM)) {
        // The target's folder takes no new file (or could never give it
        // back), the target itself may take the report: written elsewhere,
        // it is copied in once whole (into a target made only then).
        const int refused = errno;
        if (keep) {
          m_dest_fd = open_seen(m_dir_fd, name_of(m_dest), m_target_st);
          if (m_dest_fd == -1) {
            m_error = errno;
            close_folders();
            return false;
          }
        } else {
          m_make_dest = true;
          m_dest_regular = true;
        }
        open_elsewhere(refused);
      }
      // Its set-ID bits, which a new file does not take at its making.
      if (m_fd != -1 && keep && m_dest_fd == -1 && (keep_mode & 07000) != 0 &&
          !posix_fchmod(m_fd, keep_mode)) {
        m_error = errno;
        close_descriptor();
        remove_temp();
        close_folders();
        return false;
      }
      opened = m_fd != -1;
    }
  }
  if (!opened) {
    m_error = errno != 0 ? errno : EIO;
    close_descriptor();
    close_folders();
    m_temp.clear();
    return false;
  }
  posix_fstat(m_fd, m_own_st);
  m_out = std::make_unique<uni::descriptor_output>(m_fd);
  return true;
}

report_file::role report_file::role_of(const std::string& path) const {
  if (m_fd == -1 || path.empty()) return role::other;
  struct stat st;
  if (!posix_stat(path.c_str(), st)) return role::other;
  if (m_target_exists && same_file(st, m_target_st)) return m_direct ? role::own : role::target;
  if (!m_direct && same_file(st, m_own_st)) return role::own;
  return role::other;
}

bool report_file::copy_into_target() {
  const int64_t size = posix_lseek(m_fd, 0, SEEK_END);
  if (size < 0) return false;
  // Room for the whole report first, so that a full disk leaves the target
  // as it was; a file system that cannot say goes on without.
  if (size > 0 && ::fallocate(m_dest_fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return false;
  std::vector<char> buf(uni::k_output_buffer_size);
  for (uint64_t at = 0; at < static_cast<uint64_t>(size);) {
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(buf.size(), static_cast<uint64_t>(size) - at));
    const io_result in = posix_pread_full(m_fd, buf.data(), want, at);
    if (in.failed() || in.count != want) {
      errno = in.failed() ? in.error : EIO;
      return false;
    }
    const io_result out = posix_pwrite_full(m_dest_fd, buf.data(), want, at);
    if (out.failed()) {
      // From its first byte on, the earlier file is given up.
      m_target_damaged = at > 0 || out.count > 0;
      errno = out.error;
      return false;
    }
    at += want;
  }
  // A disk keeps its size; a file ends where the report does.
  m_target_damaged = (m_dest_regular && !posix_ftruncate(m_dest_fd, static_cast<uint64_t>(size))) ||
                     !forced_to_disk(m_dest_fd);
  return !m_target_damaged;
}

bool report_file::finish() {
  if (m_fd == -1) return false;
  m_out->flush();
  m_error = m_out->good() ? 0 : m_out->error() != 0 ? m_out->error() : EIO;
  if (m_error == 0 && !m_direct && !forced_to_disk(m_fd)) m_error = errno;
  if (m_error == 0 && m_keep_owner && m_dest_fd == -1 && !m_keep_target) keep_owner(m_fd);
  if (m_error == 0 && (m_dest_fd != -1 || m_make_dest) && !m_keep_target) {
    // A signal now would leave the target half new, half old: it waits.
    hold_signals();
    if (m_dest_fd == -1)
      m_dest_fd =
          openat_retried(m_dir_fd, name_of(m_dest),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (m_dest_fd == -1 || !copy_into_target()) {
      // The whole report stays where it was written, and is said to be there.
      m_error = errno != 0 ? errno : EIO;
      close_descriptor();
      release_temp(m_slot);
      return false;
    }
    m_placed = true;
  }
  m_out.reset();
  if (posix_close(m_fd) != 0 && m_error == 0) m_error = errno;
  m_fd = -1;
  if (m_dest_fd != -1) posix_close(m_dest_fd);
  m_dest_fd = -1;
  if (m_direct) return m_error == 0;
  if (m_placed) {
    // Copied in whole: what the written file's closing says no longer matters.
    m_error = 0;
    remove_temp();
    release_signals();
    return true;
  }
  if (m_error != 0) {
    // A cut report replaces nothing.
    remove_temp();
    return false;
  }
  if (m_keep_target) {
    release_temp(m_slot);
    return true;
  }
  if (posix().renameat(m_temp_dir_fd, name_of(m_temp).c_str(), m_dir_fd, name_of(m_dest).c_str()) !=
      0) {
    m_error = errno;
    release_temp(m_slot);
    return false;
  }
  m_temp.clear();
  release_temp(m_slot);
  m_placed = true;
  return true;
}

std::string report_file::written_path() const {
  if (m_direct || m_placed) return m_target;
  if (m_temp.empty()) return {};
  // The folder as named, unless that name now leads elsewhere (the folder
  // was moved during the run): then where it is now.
  struct stat named, open_now;
  if (m_temp_dir_fd == -1 || !posix_fstat(m_temp_dir_fd, open_now) ||
      (posix_stat(m_temp_folder_named.empty() ? "." : m_temp_folder_named.c_str(), named) &&
       same_file(named, open_now)))
    return m_temp;
  std::vector<char> buf(PATH_MAX);
  const std::string self = "/proc/self/fd/" + std::to_string(m_temp_dir_fd);
  const ssize_t n = posix().readlink(self.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return m_temp;
  std::string folder(buf.data(), static_cast<size_t>(n));
  if (folder.back() != '/') folder += '/';
  return folder + name_of(m_temp);
}

}  // namespace vk
