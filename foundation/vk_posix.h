// The one place where the library meets the operating system.
//
// Every open, read, write, seek and status call of the file classes, the
// status taken for each directory entry, and the host queries of the run
// header (uname, host name, the program's own path, the file-system type and
// the real path of a device link) go through the table returned by posix().
// The program's posix() is the system's table and nothing changes it; test
// programs link a posix() of their own in its place (testing/posix_seam.h)
// to make any of these calls fail or answer as another machine would, so
// that the failure paths can be exercised without a broken disk or a
// network share.
//
// The transfer helpers loop until every byte has moved: a single read or
// write may legally move fewer bytes than asked (Linux caps one call near
// 2 GiB, signals interrupt it), and a short count must never pass for the
// whole transfer.
#pragma once

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <sys/utsname.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vk {

struct posix_calls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buf, size_t len);
  ssize_t (*write)(int fd, const void* buf, size_t len);
  ssize_t (*pread)(int fd, void* buf, size_t len, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buf, size_t len, off_t offset);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*ftruncate)(int fd, off_t length);
  int (*fchmod)(int fd, mode_t mode);
  // The status of a directory entry, relative to its open directory.
  int (*fstatat)(int dir_fd, const char* name, struct stat* st, int flags);
  // Host queries.
  int (*uname)(struct utsname* out);
  int (*gethostname)(char* name, size_t size);
  ssize_t (*readlink)(const char* path, char* buf, size_t size);
  int (*statfs)(const char* path, struct statfs* out);
  // As realpath(3) with a null buffer: the caller frees the result.
  char* (*realpath)(const char* path, char* resolved);
  // Path-level changes: the only calls that alter a file system's names.
  int (*mkdir)(const char* path, mode_t mode);
  int (*rename)(const char* from, const char* to);
  int (*remove)(const char* path);
  int (*rmdir)(const char* path);
  // The same, relative to an open folder: a name checked once is used in
  // the folder it was checked in, whatever its path leads to meanwhile.
  int (*openat)(int dir_fd, const char* name, int flags, mode_t mode);
  int (*renameat)(int from_dir, const char* from, int to_dir, const char* to);
  int (*unlinkat)(int dir_fd, const char* name, int flags);
  int (*fsync)(int fd);
};

// The table of the real system calls.
const posix_calls& system_posix_calls();

// The table in force (vk_posix_table.cpp: the system's).
const posix_calls& posix();

// Outcome of a transfer: how many bytes moved, and the errno value that
// stopped it early (0 when it ran to completion or reached end of file).
struct io_result {
  size_t count = 0;
  int error = 0;
  bool failed() const { return error != 0; }
};

// open() retried on EINTR; -1 on failure with errno set. A path longer than
// the system takes whole is opened folder by folder, relative descriptors
// from one to the next.
int posix_open(const char* path, int flags, mode_t mode);
// close() once (Linux releases the descriptor even when it reports EINTR).
int posix_close(int fd);

// Reads until `len` bytes arrived, end of file was reached, or an error other
// than EINTR occurred.
io_result posix_read_full(int fd, void* buf, size_t len);
// Writes until all `len` bytes are taken or an error occurs; a call that takes
// no byte counts as an error (EIO) so the loop cannot spin.
io_result posix_write_full(int fd, const void* buf, size_t len);
// Positioned forms; the descriptor's own position is left alone.
io_result posix_pread_full(int fd, void* buf, size_t len, uint64_t offset);
io_result posix_pwrite_full(int fd, const void* buf, size_t len, uint64_t offset);

// lseek() on a 64-bit offset; -1 on failure (an offset beyond the signed
// range fails with EINVAL instead of wrapping).
int64_t posix_lseek(int fd, int64_t offset, int whence);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the program opens later takes a standard stream's number (and gets
// its messages). Called first thing in main; standard_stream_was_closed(fd)
// then tells which were.
void fill_closed_standard_streams();
bool standard_stream_was_closed(int fd);

bool posix_fstat(int fd, struct stat& st);
bool posix_stat(const char* path, struct stat& st);
bool posix_lstat(const char* path, struct stat& st);
bool posix_ftruncate(int fd, uint64_t length);
bool posix_fchmod(int fd, mode_t mode);
// fsync() retried on EINTR; false with errno set.
bool posix_fsync(int fd);

// Two status records of one file: a device node by the device it is (two
// nodes of one disk are one disk), anything else by its file system and
// inode.
bool same_file(const struct stat& a, const struct stat& b);

// A zeroed buffer of pages the system gives on first write: pages never
// written take no memory, so a large image can be held with only the parts
// written into it resident.
class zeroed_pages {
 public:
  zeroed_pages() = default;
  ~zeroed_pages() { release(); }
  zeroed_pages(const zeroed_pages&) = delete;
  zeroed_pages& operator=(const zeroed_pages&) = delete;

  // size bytes, all zero (any held before let go); false when the system
  // gives none.
  bool allocate(size_t size);
  void release();
  // Gives the pages back to the system, keeping the range: each reads as
  // zero again and costs no memory until it is written. False when the
  // system does not take them (they keep their bytes).
  bool forget();
  uint8_t* data() const { return m_data; }
  size_t size() const { return m_size; }
  void swap(zeroed_pages& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
  }

 private:
  uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

}  // namespace vk
