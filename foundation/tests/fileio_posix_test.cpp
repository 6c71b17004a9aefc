#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "fileio_test_support.h"
#include "foundation/vk_posix.h"

namespace {

using vesk_test::read_file;
using vesk_test::scratch_dir;
using vesk_test::write_file;

// Every positioned call moves at most this many bytes; the first few are
// interrupted by a signal.
size_t g_cap = 0;
int g_interrupts = 0;
bool g_zero = false;

ssize_t capped_pread(int fd, void* buf, size_t len, off_t offset) {
  if (g_interrupts > 0) {
    --g_interrupts;
    errno = EINTR;
    return -1;
  }
  if (g_cap > 0 && len > g_cap) len = g_cap;
  return vk::system_posix_calls().pread(fd, buf, len, offset);
}

ssize_t capped_pwrite(int fd, const void* buf, size_t len, off_t offset) {
  if (g_interrupts > 0) {
    --g_interrupts;
    errno = EINTR;
    return -1;
  }
  if (g_zero) return 0;
  if (g_cap > 0 && len > g_cap) len = g_cap;
  return vk::system_posix_calls().pwrite(fd, buf, len, offset);
}

class CappedCalls {
 public:
  CappedCalls() : m_scope(make()) { reset(); }
  ~CappedCalls() { reset(); }

 private:
  static void reset() {
    g_cap = 0;
    g_interrupts = 0;
    g_zero = false;
  }
  static vk::posix_calls make() {
    vk::posix_calls c = vk::system_posix_calls();
    c.pread = capped_pread;
    c.pwrite = capped_pwrite;
    return c;
  }
  vk::scoped_posix_calls m_scope;
};

TEST(PosixTransfers, PositionedCallsLoopUntilEveryByteMoved) {
  scratch_dir dir;
  std::string path = dir.file("p.bin");
  write_file(path, std::string(10, '.'));
  int fd = vk::posix_open(path.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  CappedCalls calls;
  g_cap = 3;
  g_interrupts = 2;
  const std::string text = "positioned write";
  vk::io_result w = vk::posix_pwrite_full(fd, text.data(), text.size(), 4);
  EXPECT_FALSE(w.failed());
  EXPECT_EQ(w.count, text.size());
  EXPECT_EQ(read_file(path), "...." + text);

  g_interrupts = 1;
  std::vector<char> back(64);
  vk::io_result r = vk::posix_pread_full(fd, back.data(), back.size(), 2);
  // End of file stops the loop without an error; the count says how far it got.
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(r.count, 18u);
  EXPECT_EQ(std::string(back.data(), r.count), ".." + text);

  // A device that takes nothing fails instead of spinning.
  g_zero = true;
  w = vk::posix_pwrite_full(fd, "x", 1, 0);
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.count, 0u);
  g_zero = false;

  // Offsets beyond the file-offset range are refused, not wrapped.
  const uint64_t too_far = static_cast<uint64_t>(std::numeric_limits<off_t>::max()) + 1;
  r = vk::posix_pread_full(fd, back.data(), 1, too_far);
  EXPECT_EQ(r.error, EINVAL);
  w = vk::posix_pwrite_full(fd, "x", 1, ~uint64_t{0});
  EXPECT_EQ(w.error, EINVAL);
  EXPECT_EQ(vk::posix_close(fd), 0);
}

}  // namespace
