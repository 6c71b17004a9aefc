#include "cmdline/report_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <linux/major.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/uni_stream.h"
#include "foundation/vk_env.h"
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

// The folder for a report whose target's folder takes no new file, with
// its '/'.
std::string temporary_folder_named() {
  std::string folder = temporary_folder();
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

namespace {

// A name in decimal digits (at most 9): the number, else -1.
int descriptor_number(const std::string& name) {
  if (name.empty() || name.size() > 9) return -1;
  int fd = 0;
  for (const char c : name) {
    if (c < '0' || c > '9') return -1;
    fd = fd * 10 + (c - '0');
  }
  return fd;
}

std::string real_path(const std::string& path) {
  char* real = posix().realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string out = real;
  std::free(real);
  return out;
}

// The size of an open disk in bytes; false when it cannot say.
bool disk_size(int fd, uint64_t& size) {
  return ::ioctl(fd, BLKGETSIZE64, &size) == 0;
}

// A device number as the loop driver gives it, in the form stat gives.
dev_t loop_device_number(uint64_t encoded) {
  return ::makedev(static_cast<unsigned>((encoded & 0xfff00) >> 8),
                   static_cast<unsigned>((encoded & 0xff) | ((encoded >> 12) & 0xfff00)));
}

// The file an open loop device reads, as its status: a file by its device
// and inode, a disk by its device number. False for any other device.
bool loop_backing(int fd, const struct stat& device, struct stat& backing) {
  if (!S_ISBLK(device.st_mode) || ::major(device.st_rdev) != LOOP_MAJOR) return false;
  loop_info64 info{};
  if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return false;
  backing = {};
  backing.st_dev = loop_device_number(info.lo_device);
  backing.st_ino = static_cast<ino_t>(info.lo_inode);
  backing.st_rdev = loop_device_number(info.lo_rdevice);
  backing.st_mode = info.lo_rdevice != 0 ? S_IFBLK : S_IFREG;
  return true;
}

// A disk's node, by its device number, opened only to ask a loop device what
// it reads: the name the system gives it, checked to be that device; -1
// when there is none.
int open_disk(dev_t device) {
  const std::string uevent = "/sys/dev/block/" + std::to_string(::major(device)) + ':' +
                             std::to_string(::minor(device)) + "/uevent";
  const int info = posix_open(uevent.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (info == -1) return -1;
  char buf[512];
  const io_result got = posix_read_full(info, buf, sizeof buf - 1);
  posix_close(info);
  if (got.failed()) return -1;
  const std::string text(buf, got.count);
  const size_t at = text.find("DEVNAME=");
  if (at == std::string::npos) return -1;
  const size_t end = text.find('\n', at);
  const std::string name = text.substr(at + 8, end == std::string::npos ? end : end - at - 8);
  if (name.empty() || name.find("..") != std::string::npos) return -1;
  const int fd =
      posix_open(("/dev/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  struct stat st;
  if (fd != -1 && posix_fstat(fd, st) && S_ISBLK(st.st_mode) && st.st_rdev == device) return fd;
  if (fd != -1) posix_close(fd);
  return -1;
}

// Adds what an open device reads, and, through a loop device over another
// loop device, what that one reads in turn, to layers.
void add_backing(int fd, const struct stat& device, std::vector<struct stat>& layers) {
  struct stat at = device, backing;
  int asked = fd;
  // Loop devices over loop devices, as deep as anyone would stack them.
  for (int depth = 0; depth < 16 && loop_backing(asked, at, backing); ++depth) {
    layers.push_back(backing);
    if (asked != fd) posix_close(asked);
    asked = S_ISBLK(backing.st_mode) ? open_disk(backing.st_rdev) : -1;
    if (asked == -1) return;
    at = backing;
  }
  if (asked != fd && asked != -1) posix_close(asked);
}

}  // namespace

int named_stream_descriptor(const std::string& path) {
  // The process's descriptor folders as the system names them; what a name
  // leads to is compared with them, whatever its spelling.
  const std::string own[] = {real_path("/proc/self/fd"), real_path("/proc/thread-self/fd")};
  if (own[0].empty() && own[1].empty()) {
    // No /proc to ask: the usual names.
    if (path == "/dev/stdin") return STDIN_FILENO;
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    return path.rfind("/dev/fd/", 0) == 0 ? descriptor_number(path.substr(8)) : -1;
  }
  std::string at = path;
  // As many links as the system follows in one name.
  for (int hop = 0; hop < 40; ++hop) {
    const std::string folder = real_path(folder_of(at));
    if (!folder.empty() && (folder == own[0] || folder == own[1]))
      return descriptor_number(name_of(at));
    struct stat st;
    if (!posix_lstat(at.c_str(), st) || !S_ISLNK(st.st_mode)) return -1;
    std::vector<char> buf(PATH_MAX);
    const ssize_t n = posix().readlink(at.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return -1;
    const std::string next(buf.data(), static_cast<size_t>(n));
    at = next[0] == '/' ? next : folder_of(at) + next;
  }
  return -1;
}

std::vector<struct stat> descriptor_layers(int fd) {
  std::vector<struct stat> layers;
  struct stat st;
  if (!posix_fstat(fd, st)) return layers;
  layers.push_back(st);
  add_backing(fd, st, layers);
  return layers;
}

std::vector<struct stat> file_layers(const std::string& path) {
  struct stat st;
  if (path.empty() || !posix_stat(path.c_str(), st)) return {};
  if (!S_ISBLK(st.st_mode) || ::major(st.st_rdev) != LOOP_MAJOR) return {st};
  // Only a loop device is opened, to ask it what it reads.
  const int fd = posix_open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  if (fd == -1) return {st};
  std::vector<struct stat> layers = descriptor_layers(fd);
  posix_close(fd);
  if (layers.empty() || !same_file(layers[0], st)) return {st};
  return layers;
}

bool layers_meet(const std::vector<struct stat>& a, const std::vector<struct stat>& b) {
  for (const struct stat& x : a)
    for (const struct stat& y : b)
      if (same_file(x, y)) return true;
  return false;
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
  const std::string elsewhere = temporary_folder_named();
  m_temp_dir_fd = open_folder(elsewhere);
  // The descriptor open now (a held stream's) is no sign of the new file.
  const int fd = m_temp_dir_fd != -1 ? make_held_temp(elsewhere, 0600) : -1;
  if (fd != -1) {
    m_fd = fd;
    return true;
  }
  // The reason given is the target's folder's; the temporary folder's own
  // follows it.
  m_temp_error = errno;
  m_only_temp_folder = refused == 0;
  m_temp_folder = elsewhere.size() > 1 ? elsewhere.substr(0, elsewhere.size() - 1) : elsewhere;
  errno = refused != 0 ? refused : m_temp_error;
  return false;
}

// Written through the descriptor as the shell opened it: a file the stream
// appends to keeps what it holds, the messages of standard error arrive
// beside the report. A standard stream closed when the run began has
// /dev/null in its place: nobody would get what is written there.
bool report_file::open_named_stream(int named) {
  m_direct = true;
  m_stream = true;
  errno = 0;
  if (standard_stream_was_closed(named)) {
    errno = EBADF;
    return false;
  }
  m_fd = ::fcntl(named, F_DUPFD_CLOEXEC, 3);
  const int flags = m_fd == -1 ? -1 : ::fcntl(m_fd, F_GETFL);
  const bool opened =
      flags != -1 && (flags & O_ACCMODE) != O_RDONLY && posix_fstat(m_fd, m_target_st);
  if (!opened && errno == 0) errno = EBADF;
  m_target_exists = opened;
  if (opened) add_backing(m_fd, m_target_st, m_target_layers);
  return opened;
}

bool report_file::open_stream(int fd, const std::string& name) {
  m_target = name;
  m_dest = name;
  errno = 0;
  if (!open_named_stream(fd)) {
    m_error = errno != 0 ? errno : EIO;
    close_descriptor();
    return false;
  }
  m_target_layers.insert(m_target_layers.begin(), m_target_st);
  posix_fstat(m_fd, m_own_st);
  m_out = std::make_unique<uni::descriptor_output>(m_fd);
  return true;
}

// The new file beside the stream's file, in the folder the system names for
// the descriptor (the file's folder still when the file was removed, the
// name then ending in " (deleted)"); false with errno set else, the
// temporary folder's reason kept to be said after it.
bool report_file::open_beside_stream() {
  std::vector<char> buf(PATH_MAX);
  const std::string self = "/proc/self/fd/" + std::to_string(m_dest_fd);
  const ssize_t n = posix().readlink(self.c_str(), buf.data(), buf.size());
  const std::string path = n > 0 && static_cast<size_t>(n) < buf.size()
                               ? std::string(buf.data(), static_cast<size_t>(n))
                               : std::string();
  m_only_temp_folder = false;
  errno = ENOENT;
  if (path.empty() || path[0] != '/') return false;
  const std::string folder = folder_of(path);
  const int dir = open_folder(folder);
  if (dir == -1) return false;
  // A file made there could never be removed.
  if (keeps_every_name(dir)) {
    posix_close(dir);
    errno = EPERM;
    return false;
  }
  if (m_temp_dir_fd != -1) posix_close(m_temp_dir_fd);
  m_temp_dir_fd = dir;
  const int fd = make_held_temp(folder, 0600);
  if (fd == -1) return false;
  m_fd = fd;
  m_held_beside = true;
  return true;
}

std::string report_file::held_beside_note() const {
  if (!m_held_beside) return {};
  return "held in " + m_temp_folder_named + " until the run ends (the temporary folder " +
         m_temp_folder + " ($TMPDIR): " + std::strerror(m_temp_error) + ')';
}

bool report_file::hold_stream() {
  if (m_fd == -1 || !m_stream || !m_direct ||
      !(S_ISREG(m_target_st.st_mode) || S_ISBLK(m_target_st.st_mode)))
    return true;
  if (S_ISBLK(m_target_st.st_mode) && !disk_size(m_fd, m_device_size)) {
    m_error = errno != 0 ? errno : EIO;
    return false;
  }
  // The stream's descriptor waits for the copy; its number, which the
  // report's stream writes to, takes the new file instead.
  const int number = m_fd;
  m_dest_fd = ::fcntl(number, F_DUPFD_CLOEXEC, 3);
  // A temporary folder that takes no file leaves the stream's file's own
  // folder, as a named target has; a disk has no such folder.
  const bool made = m_dest_fd != -1 &&
                    (open_elsewhere(0) || (S_ISREG(m_target_st.st_mode) && open_beside_stream()));
  if (!made || ::dup3(m_fd, number, O_CLOEXEC) == -1) {
    m_error = errno != 0 ? errno : EIO;
    if (m_fd != -1 && m_fd != number) {
      posix_close(m_fd);
      remove_temp();
    }
    m_fd = number;
    if (m_dest_fd != -1) posix_close(m_dest_fd);
    m_dest_fd = -1;
    return false;
  }
  posix_close(m_fd);
  m_fd = number;
  m_direct = false;
  m_device = S_ISBLK(m_target_st.st_mode);
  posix_fstat(m_fd, m_own_st);
  return true;
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
    opened = open_named_stream(named);
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
      // Its size, so that a report it cannot hold leaves it untouched; the
      // file a loop device reads, which may be an input too.
      m_device = true;
      if (m_dest_fd != -1) add_backing(m_dest_fd, m_target_st, m_target_layers);
      opened = m_dest_fd != -1 && disk_size(m_dest_fd, m_device_size) && open_elsewhere(0);
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
  if (m_target_exists) m_target_layers.insert(m_target_layers.begin(), m_target_st);
  posix_fstat(m_fd, m_own_st);
  m_out = std::make_unique<uni::descriptor_output>(m_fd);
  return true;
}

report_file::role report_file::role_of(const std::string& path) const {
  if (m_fd == -1 || path.empty()) return role::other;
  struct stat st;
  if (!posix_stat(path.c_str(), st)) return role::other;
  // A target written as the run goes (a pipe, a terminal) holds nothing to
  // keep: a name of it is the run's own.
  if (m_target_exists && same_file(st, m_target_st)) return m_direct ? role::own : role::target;
  if (!m_direct && same_file(st, m_own_st)) return role::own;
  if (!m_direct && m_target_layers.size() + (S_ISBLK(st.st_mode) ? 1 : 0) > 1 &&
      layers_meet(file_layers(path), m_target_layers))
    return role::target_by_loop;
  return role::other;
}

bool report_file::copy_into_target() {
  const int64_t size = posix_lseek(m_fd, 0, SEEK_END);
  if (size < 0) return false;
  // A stream gets the report where it stands (at its end when it appends).
  uint64_t start = 0;
  if (m_stream) {
    const int flags = ::fcntl(m_dest_fd, F_GETFL);
    struct stat now;
    const int64_t at = flags != -1 && (flags & O_APPEND) != 0
                           ? (posix_fstat(m_dest_fd, now) ? static_cast<int64_t>(now.st_size) : -1)
                           : posix_lseek(m_dest_fd, 0, SEEK_CUR);
    if (at < 0) return false;
    start = static_cast<uint64_t>(at);
  }
  // A disk takes no more than its size: one too small is left untouched.
  if (m_device && start + static_cast<uint64_t>(size) > m_device_size) {
    errno = ENOSPC;
    return false;
  }
  // Room for the whole report first, so that a full disk leaves the target
  // as it was; a file system that cannot say goes on without. A disk has
  // its room (and refuses a length that is no whole number of its sectors).
  const bool regular = m_dest_regular || (m_stream && S_ISREG(m_target_st.st_mode));
  if (regular && size > 0 &&
      ::fallocate(m_dest_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(start), size) != 0 &&
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
    const io_result out = m_stream ? posix_write_full(m_dest_fd, buf.data(), want)
                                   : posix_pwrite_full(m_dest_fd, buf.data(), want, at);
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

namespace {

// The folder an open descriptor stands for, with its '/', as the system
// names it now; empty when it cannot say.
std::string folder_now(int dir_fd) {
  std::vector<char> buf(PATH_MAX);
  const std::string self = "/proc/self/fd/" + std::to_string(dir_fd);
  const ssize_t n = posix().readlink(self.c_str(), buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  std::string folder(buf.data(), static_cast<size_t>(n));
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

bool report_file::placed_elsewhere() const {
  if (!m_placed || m_direct || m_stream || m_device || m_dir_fd == -1) return false;
  const std::string named = folder_of(m_dest);
  struct stat now, opened;
  return !(posix_fstat(m_dir_fd, opened) && posix_stat(named.empty() ? "." : named.c_str(), now) &&
           same_file(now, opened));
}

std::string report_file::written_path() const {
  if (placed_elsewhere()) {
    const std::string folder = folder_now(m_dir_fd);
    return folder.empty() ? m_target : folder + name_of(m_dest);
  }
  if (m_direct || m_placed) return m_target;
  if (m_temp.empty()) return {};
  // The folder as named, unless that name now leads elsewhere (the folder
  // was moved during the run): then where it is now.
  struct stat named, open_now;
  if (m_temp_dir_fd == -1 || !posix_fstat(m_temp_dir_fd, open_now) ||
      (posix_stat(m_temp_folder_named.empty() ? "." : m_temp_folder_named.c_str(), named) &&
       same_file(named, open_now)))
    return m_temp;
  const std::string folder = folder_now(m_temp_dir_fd);
  return folder.empty() ? m_temp : folder + name_of(m_temp);
}

}  // namespace vk
