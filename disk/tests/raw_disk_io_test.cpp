#include "disk/raw_disk_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_posix.h"
#include "foundation/vk_unicode.h"
#include "posix_seam.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return v;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& v) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
  return std::vector<uint8_t>(v.begin() + from, v.begin() + from + n);
}

// System-call stand-ins: transfers that move at most 7 bytes and are
// interrupted every third call, writes that stop taking bytes, and a record
// of every path opened.
int g_calls = 0;
std::vector<std::string> g_opened;
ssize_t choppy_pread(int fd, void* b, size_t n, off_t o) {
  if (++g_calls % 3 == 0) {
    errno = EINTR;
    return -1;
  }
  return system_posix_calls().pread(fd, b, std::min<size_t>(n, 7), o);
}
ssize_t choppy_pwrite(int fd, const void* b, size_t n, off_t o) {
  if (++g_calls % 3 == 0) {
    errno = EINTR;
    return -1;
  }
  return system_posix_calls().pwrite(fd, b, std::min<size_t>(n, 7), o);
}
ssize_t full_disk_pwrite(int fd, const void* b, size_t n, off_t o) {
  if (++g_calls > 2) {
    errno = ENOSPC;
    return -1;
  }
  return system_posix_calls().pwrite(fd, b, std::min<size_t>(n, 7), o);
}
int recording_open(const char* p, int f, mode_t m) {
  g_opened.push_back(p);
  return system_posix_calls().open(p, f, m);
}

posix_calls with_calls(ssize_t (*pread)(int, void*, size_t, off_t),
                       ssize_t (*pwrite)(int, const void*, size_t, off_t)) {
  posix_calls c = system_posix_calls();
  if (pread) c.pread = pread;
  if (pwrite) c.pwrite = pwrite;
  return c;
}

class device_root_scope {
 public:
  explicit device_root_scope(const std::string& root) { set_device_root(root); }
  ~device_root_scope() { set_device_root("/dev/"); }
};

}  // namespace

TEST(RawDiskIo, FileReadsAndWritesDeliverExactlyWhatTheMediumHolds) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string img = tree.path("one.img");
  const auto bytes = pattern(1048576);
  write_bytes(img, bytes);

  RAW_DISK_IO disk(img, false, 0, 0);
  ASSERT_TRUE(disk.is_open());
  uint32_t high = 9, low = 9;
  EXPECT_TRUE(disk.size_parts(high, low));
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(low, 1048576u);

  std::vector<uint8_t> buf(4096);
  uint32_t len = 4096;
  ASSERT_TRUE(disk.read_at(buf.data(), len, 1048576 - 100));
  EXPECT_EQ(len, 100u);
  EXPECT_EQ(slice(buf, 0, 100), slice(bytes, 1048576 - 100, 100));
  len = 16;
  EXPECT_FALSE(disk.read_at(buf.data(), len, 1048576));
  len = 16;
  EXPECT_FALSE(disk.write_at(buf.data(), len, 0)) << "opened read-only";

  {  // short and interrupted transfers still deliver every byte
    g_calls = 0;
    scoped_posix_calls calls(with_calls(choppy_pread, nullptr));
    len = 300;
    ASSERT_TRUE(disk.read_at(buf.data(), len, 5000));
    EXPECT_EQ(len, 300u);
    EXPECT_EQ(slice(buf, 0, 300), slice(bytes, 5000, 300));
  }

  // Mode 6 and an empty path leave the object closed.
  RAW_DISK_IO ns(img, false, 0, disk_mode_device_ns);
  EXPECT_FALSE(ns.is_open());
  EXPECT_FALSE(ns.open_path_mode(from_utf8(img), false, disk_mode_device_ns));
  RAW_DISK_IO empty(std::string(), false, 0, 0);
  EXPECT_FALSE(empty.is_open());
  EXPECT_FALSE(empty.read_at(buf.data(), len, 0));
  EXPECT_FALSE(empty.open_path_mode(L"", false, 0));
  EXPECT_FALSE(empty.open_path_mode(L"/no/such/file", false, 0)) << "a failed open is a failure";

  // Writes: all bytes or failure; cut at the end of the medium.
  RAW_DISK_IO rw(img, true, 0, 0);
  ASSERT_TRUE(rw.is_open());
  const int first_fd = rw.fd();
  std::vector<uint8_t> data(100, 0xA5);
  {
    g_calls = 0;
    scoped_posix_calls calls(with_calls(nullptr, choppy_pwrite));
    len = 100;
    ASSERT_TRUE(rw.write_at(data.data(), len, 1048576 - 10));
    EXPECT_EQ(len, 10u);
  }
  {
    g_calls = 0;
    scoped_posix_calls calls(with_calls(nullptr, full_disk_pwrite));
    len = 100;
    EXPECT_FALSE(rw.write_at(data.data(), len, 0)) << "an incomplete write is a failure";
  }
  len = 10;
  ASSERT_TRUE(rw.read_at(buf.data(), len, 1048576 - 10));
  EXPECT_EQ(slice(buf, 0, 10), slice(data, 0, 10));
  // A reset closes the descriptor it had.
  rw.reset();
  EXPECT_EQ(::fcntl(first_fd, F_GETFD), -1);
  EXPECT_FALSE(rw.is_open());
}

TEST(RawDiskIo, RemappedReadsZeroFillOrSkipUnbackedBlocks) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string img = tree.path("base.img");
  const auto bytes = pattern(4096);
  write_bytes(img, bytes);
  RAW_DISK_IO disk(img, false, 0, 0);
  ASSERT_TRUE(disk.is_open());

  // Virtual blocks: 0 -> base 1024, 1 unbacked, 2 -> base 0.
  const std::vector<remap_extent> table = {{1024, 0, 0, 512}, {0, 512, 1, 512}, {0, 1024, 0, 512}};
  disk.set_remap(table, 512, 0, true);
  std::vector<uint8_t> buf(1024, 0xEE);

  uint32_t status = 0;
  uint32_t len = 1024;
  ASSERT_TRUE(disk.read_remapped(table, 512, 256, buf.data(), len, status));
  EXPECT_EQ(len, 1024u);
  EXPECT_EQ(slice(buf, 0, 256), slice(bytes, 1024 + 256, 256));
  EXPECT_EQ(slice(buf, 256, 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(slice(buf, 768, 256), slice(bytes, 0, 256));
  EXPECT_EQ(status, 8u + 16u + remap_zero_filled);

  // Skipping: the unbacked block delivers nothing, the pieces around it are
  // packed together and the length says so.
  std::fill(buf.begin(), buf.end(), 0xEE);
  status = remap_skip_unbacked;
  len = 1024;
  ASSERT_TRUE(disk.read_remapped(table, 512, 256, buf.data(), len, status));
  EXPECT_EQ(len, 512u);
  EXPECT_EQ(slice(buf, 0, 256), slice(bytes, 1024 + 256, 256));
  EXPECT_EQ(slice(buf, 256, 256), slice(bytes, 0, 256));
  EXPECT_EQ(status & remap_zero_filled, 0u);

  // The ordinary read goes through the table when asked to remap.
  len = 100;
  ASSERT_TRUE(disk.read(buf.data(), len, 1024 + 10, true));
  EXPECT_EQ(slice(buf, 0, 100), slice(bytes, 10, 100));
  // Past the table: nothing to deliver.
  status = 0;
  len = 10;
  EXPECT_FALSE(disk.read_remapped(table, 512, 4000, buf.data(), len, status));
}

TEST(RawDiskIo, DrivesByNumberAndDevicePathsUseTheDeviceRoot) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string root = tree.root() + "/";
  const auto bytes = pattern(65536 + 100);
  write_bytes(root + "sda", bytes);
  write_bytes(root + "sdt", pattern(4096));
  device_root_scope scope(root);

  RAW_DISK_IO d0(0, false, false, disk_mode_drive);
  ASSERT_TRUE(d0.is_open());
  std::vector<uint8_t> buf(64);
  uint32_t len = 10;
  ASSERT_TRUE(d0.read_at(buf.data(), len, 1000));
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(slice(buf, 0, 10), slice(bytes, 1000, 10));
  len = 64;  // the medium ends inside its last sector
  ASSERT_TRUE(d0.read_at(buf.data(), len, 65536 + 90));
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(slice(buf, 0, 10), slice(bytes, 65536 + 90, 10));
  {
    g_calls = 0;
    scoped_posix_calls calls(with_calls(choppy_pread, nullptr));
    len = 40;
    ASSERT_TRUE(d0.read_at(buf.data(), len, 510));
    EXPECT_EQ(slice(buf, 0, 40), slice(bytes, 510, 40));
  }

  RAW_DISK_IO d19(19, false, false, disk_mode_drive);
  EXPECT_TRUE(d19.is_open());
  EXPECT_EQ(d19.path(), root + "sdt");

  testing::internal::CaptureStderr();
  RAW_DISK_IO d20(20, false, false, disk_mode_drive);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(d20.is_open());

  RAW_DISK_IO d25(25, false, false, disk_mode_drive);
  EXPECT_FALSE(d25.is_open());
  EXPECT_EQ(d25.access_mode(), disk_mode_none);
  EXPECT_EQ(d25.drive_number(), -1);

  testing::internal::CaptureStderr();
  RAW_DISK_IO d1(1, false, false, disk_mode_drive);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "prob opening " + root + "sdb, error 2\n");
  EXPECT_FALSE(d1.is_open());

  // A probe, a deferred drive and a mode without an opener stay closed.
  for (auto [defer, mode] : {std::pair{false, 5u}, std::pair{true, 3u}, std::pair{false, 0u}}) {
    RAW_DISK_IO d(0, false, defer, mode);
    EXPECT_FALSE(d.is_open()) << mode;
    EXPECT_EQ(d.access_mode(), mode);
    len = 10;
    EXPECT_FALSE(d.read_at(buf.data(), len, 0));
  }

  RAW_DISK_IO dev;
  const std::string dev_path = root + "sda:1";
  if (dev_path.size() <= 32) {
    g_opened.clear();
    posix_calls c = system_posix_calls();
    c.open = recording_open;
    scoped_posix_calls calls(c);
    EXPECT_FALSE(dev.open_dev_path(dev_path, false)) << "a regular file has no geometry";
    EXPECT_EQ(g_opened, std::vector<std::string>{root + "sda"});
    EXPECT_FALSE(dev.is_open());
    EXPECT_EQ(dev.access_mode(), disk_mode_none);
    EXPECT_EQ(dev.fd(), -1);
    g_opened.clear();
    EXPECT_FALSE(dev.open_dev_path("/elsewhere/sda", false));
    EXPECT_FALSE(dev.open_dev_path(root + std::string(40, 'x'), false));
    EXPECT_TRUE(g_opened.empty());
  } else {
    GTEST_LOG_(INFO) << "temporary folder too long for a 32-character device path";
  }

  std::ostringstream media;
  print_media_type(media, 0, false);
  EXPECT_EQ(media.str(), "");
  print_media_type(media, 0, true);
  EXPECT_EQ(media.str(), "unknown");
}
