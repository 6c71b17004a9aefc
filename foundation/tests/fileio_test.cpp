#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fileio_test_support.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/uni_stream.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_posix.h"
#include "posix_seam.h"

namespace {

using vesk_test::disk_size;
using vesk_test::read_file;
using vesk_test::scratch_dir;
using vesk_test::write_file;

std::string bytes_0_to(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(i & 0xFF));
  return s;
}

// ---- fake system calls ------------------------------------------------------

int g_fail_writes = 0;  // how many write() calls fail with EIO
int g_write_cap = 0;    // when set, write() takes at most this many bytes
int g_read_cap = 0;     // when set, read() and pread() return at most this many bytes
int g_eintr_reads = 0;  // how many read() or pread() calls fail with EINTR first
int g_zero_writes = 0;  // how many write() calls take nothing
int g_fail_reads = 0;   // how many read() calls fail with EIO
bool g_lseek_end_zero_einval = false;
bool g_fail_lseek_set = false;  // absolute seeks fail with EINVAL
int g_pcap = 0;                 // when set, pread()/pwrite() move at most this many bytes
int g_eintr_positioned = 0;     // how many pread()/pwrite() calls fail with EINTR first
bool g_zero_pwrites = false;    // pwrite() takes nothing
int g_writes_before_full = -1;  // when not -1, write() calls that succeed before ENOSPC

ssize_t fake_write(int fd, const void* buf, size_t len) {
  if (g_writes_before_full == 0) {
    errno = ENOSPC;
    return -1;
  }
  if (g_writes_before_full > 0) --g_writes_before_full;
  if (g_fail_writes > 0) {
    --g_fail_writes;
    errno = EIO;
    return -1;
  }
  if (g_zero_writes > 0) {
    --g_zero_writes;
    return 0;
  }
  if (g_write_cap > 0 && len > static_cast<size_t>(g_write_cap)) len = g_write_cap;
  return vk::system_posix_calls().write(fd, buf, len);
}

ssize_t fake_read(int fd, void* buf, size_t len) {
  if (g_fail_reads > 0) {
    --g_fail_reads;
    errno = EIO;
    return -1;
  }
  if (g_eintr_reads > 0) {
    --g_eintr_reads;
    errno = EINTR;
    return -1;
  }
  if (g_read_cap > 0 && len > static_cast<size_t>(g_read_cap)) len = g_read_cap;
  return vk::system_posix_calls().read(fd, buf, len);
}

off_t fake_lseek(int fd, off_t off, int whence) {
  if (g_lseek_end_zero_einval && whence == SEEK_END) {
    errno = EINVAL;  // a stale value: the call itself succeeds
    return 0;
  }
  if (g_fail_lseek_set && whence == SEEK_SET) {
    errno = EINVAL;
    return -1;
  }
  return vk::system_posix_calls().lseek(fd, off, whence);
}

ssize_t fake_pread(int fd, void* buf, size_t len, off_t offset) {
  if (g_fail_reads > 0) {
    --g_fail_reads;
    errno = EIO;
    return -1;
  }
  if (g_eintr_positioned > 0) {
    --g_eintr_positioned;
    errno = EINTR;
    return -1;
  }
  if (g_eintr_reads > 0) {
    --g_eintr_reads;
    errno = EINTR;
    return -1;
  }
  if (g_pcap > 0 && len > static_cast<size_t>(g_pcap)) len = g_pcap;
  if (g_read_cap > 0 && len > static_cast<size_t>(g_read_cap)) len = g_read_cap;
  return vk::system_posix_calls().pread(fd, buf, len, offset);
}

ssize_t fake_pwrite(int fd, const void* buf, size_t len, off_t offset) {
  if (g_eintr_positioned > 0) {
    --g_eintr_positioned;
    errno = EINTR;
    return -1;
  }
  if (g_zero_pwrites) return 0;
  if (g_pcap > 0 && len > static_cast<size_t>(g_pcap)) len = g_pcap;
  return vk::system_posix_calls().pwrite(fd, buf, len, offset);
}

class FakeCalls {
 public:
  FakeCalls() : m_scope(make()) { clear(); }
  ~FakeCalls() { clear(); }

 private:
  static vk::posix_calls make() {
    vk::posix_calls c = vk::system_posix_calls();
    c.write = fake_write;
    c.read = fake_read;
    c.lseek = fake_lseek;
    c.pread = fake_pread;
    c.pwrite = fake_pwrite;
    return c;
  }
  static void clear() {
    g_fail_writes = g_write_cap = g_read_cap = g_eintr_reads = g_zero_writes = g_fail_reads = 0;
    g_pcap = g_eintr_positioned = 0;
    g_lseek_end_zero_einval = g_fail_lseek_set = g_zero_pwrites = false;
    g_writes_before_full = -1;
  }
  vk::scoped_posix_calls m_scope;
};

// ---- the system-call layer ---------------------------------------------------

TEST(PosixTransfers, PositionedCallsLoopUntilEveryByteMoved) {
  scratch_dir dir;
  std::string path = dir.file("p.bin");
  write_file(path, std::string(10, '.'));
  int fd = vk::posix_open(path.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  FakeCalls fake;
  g_pcap = 3;
  g_eintr_positioned = 2;
  const std::string text = "positioned write";
  vk::io_result w = vk::posix_pwrite_full(fd, text.data(), text.size(), 4);
  EXPECT_FALSE(w.failed());
  EXPECT_EQ(w.count, text.size());
  EXPECT_EQ(read_file(path), "...." + text);

  g_eintr_positioned = 1;
  std::vector<char> back(64);
  vk::io_result r = vk::posix_pread_full(fd, back.data(), back.size(), 2);
  // End of file stops the loop without an error; the count says how far it got.
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(r.count, 18u);
  EXPECT_EQ(std::string(back.data(), r.count), ".." + text);

  // A device that takes nothing fails instead of spinning.
  g_zero_pwrites = true;
  w = vk::posix_pwrite_full(fd, "x", 1, 0);
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.count, 0u);
  g_zero_pwrites = false;

  // Offsets beyond the file-offset range are refused, not wrapped.
  const uint64_t too_far = static_cast<uint64_t>(std::numeric_limits<off_t>::max()) + 1;
  r = vk::posix_pread_full(fd, back.data(), 1, too_far);
  EXPECT_EQ(r.error, EINVAL);
  w = vk::posix_pwrite_full(fd, "x", 1, ~uint64_t{0});
  EXPECT_EQ(w.error, EINVAL);
  EXPECT_EQ(vk::posix_close(fd), 0);
}

// ---- opening ----------------------------------------------------------------

TEST(FileioOpen, RefusesFifosAndSockets) {
  scratch_dir dir;
  std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  uni::fileio f;
  EXPECT_FALSE(f.open_utf8(fifo, false, false, false));
  EXPECT_FALSE(f.is_open());
  EXPECT_FALSE(uni::fileio(fifo, false).is_open());

  std::string sock = dir.file("sock");
  vesk_test::bound_socket bound(sock);
  ASSERT_TRUE(bound.ok());
  EXPECT_FALSE(f.open_utf8(sock, false, false, false));
  EXPECT_EQ(uni::open_file_fd(sock, O_RDONLY, 0), -1);
}

TEST(FileioOpen, DirectoryOpensReadOnly) {
  scratch_dir dir;
  uni::fileio f(dir.path(), false);
  EXPECT_TRUE(f.is_open());
  EXPECT_FALSE(f.writable());
  uni::fileio w;
  EXPECT_FALSE(w.open_utf8(dir.path(), true, false, true));
}

TEST(FileioOpen, WriteWithoutTruncateNeedsAnExistingFile) {
  scratch_dir dir;
  std::string path = dir.file("new.bin");
  uni::fileio f;
  EXPECT_FALSE(f.open_utf8(path, true, false, false));
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(disk_size(path), ~uint64_t{0});

  mode_t old = ::umask(022);
  EXPECT_TRUE(f.open_utf8(path, true, false, true));
  ::umask(old);
  EXPECT_TRUE(f.is_open());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_TRUE(f.append(reinterpret_cast<const uint8_t*>("abc"), 3));
  f.close();
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(read_file(path), "abc");

  // Truncation empties an existing file; without it the content stays.
  EXPECT_TRUE(f.open_utf8(path, true, false, false));
  EXPECT_EQ(f.stored_size(), 3u);
  EXPECT_TRUE(f.open_utf8(path, true, false, true));
  EXPECT_EQ(f.stored_size(), 0u);
}

TEST(FileioOpen, EmptyPathsAndTrailingSlashes) {
  scratch_dir dir;
  uni::fileio f;
  EXPECT_FALSE(f.open(L"", false, false, false));
  EXPECT_FALSE(f.open_utf8("", false, false, false));
  write_file(dir.file("a"), "xyz");
  EXPECT_TRUE(f.open_utf8(dir.file("a") + "//", false, false, false));
  EXPECT_EQ(f.path().back(), L'a');
  EXPECT_EQ(f.stored_size(), 3u);
  // Memory mode refuses opening a path.
  uni::fileio m(std::vector<uint8_t>{1, 2}, false, false);
  EXPECT_FALSE(m.open_utf8(dir.file("a"), false, false, false));
  EXPECT_TRUE(m.is_memory());
}

TEST(FileioOpen, WidePathThatCannotBeEncodedIsRefused) {
  scratch_dir dir;
  write_file(dir.file("a"), "keep");
  // Encoding would stop at the bad character and name the existing file "a".
  const std::string a = dir.file("a");
  std::wstring bad(a.begin(), a.end());
  bad += static_cast<wchar_t>(0x110000);
  bad += L"b";
  uni::fileio f;
  EXPECT_FALSE(f.open(bad, true, false, true));
  EXPECT_FALSE(f.open_append(bad, false));
  EXPECT_EQ(uni::open_file_fd_wide(bad, O_RDONLY, 0), -1);
  EXPECT_EQ(read_file(dir.file("a")), "keep");
}

// A name that is not UTF-8, as the directory walk hands it out, is opened,
// timed and read by every routine that takes a path, narrow or wide.
TEST(FileioOpen, NamesThatAreNotUtf8OpenAsTheWalkListsThem) {
  scratch_dir dir;
  const std::string name = dir.file("caf\xE9.lnk");
  write_file(name, std::string("L\0\0\0body", 8));
  vkportdir::stdin_stream_ex walk;
  ASSERT_TRUE(walk.start_walk(vkportdir::path_to_wide(dir.path() + "/"), 0, nullptr));
  std::wstring listed;
  ASSERT_TRUE(walk.getline_wide(listed, false));
  EXPECT_EQ(vkportdir::path_from_wide(listed), name);

  uni::fileio wide(listed, false);
  EXPECT_TRUE(wide.is_open());
  EXPECT_EQ(wide.stored_size(), 8u);
  uni::fileio narrow;
  EXPECT_TRUE(narrow.open_utf8(name, false, false, false));
  uint64_t size, change, modify, access;
  uint32_t mode;
  EXPECT_TRUE(vkportdir::get_file_times(name, size, mode, change, modify, access));
  EXPECT_EQ(size, 8u);
  EXPECT_TRUE(vkportdir::get_file_times_w(listed, size, mode, change, modify, access));
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(vkportdir::read_file_bytes(bytes, name, 4));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'L', 0, 0, 0}));
  EXPECT_TRUE(vk::read_file_capped(bytes, name, 100));
  EXPECT_EQ(bytes.size(), 8u);
  EXPECT_TRUE(vkportdir::file_exists(name));
  EXPECT_TRUE(vkportdir::file_exists_w(listed));

  // The report ("-out") path opens exactly those bytes, too.
  const std::string out = dir.file("r\xFF.txt");
  uni::fileio report;
  ASSERT_TRUE(report.open_utf8(out, true, false, true));
  EXPECT_TRUE(report.append(reinterpret_cast<const uint8_t*>("ok"), 2));
  report.close();
  EXPECT_EQ(read_file(out), "ok");
}

TEST(FileioOpen, NarrowAppendRecordsTheTextOfItsPath) {
  scratch_dir dir;
  std::string path = dir.file("caf\xC3\xA9.log/");
  uni::fileio f;
  ASSERT_TRUE(f.open_append(path, false));
  std::wstring expect(dir.path().begin(), dir.path().end());
  expect += L"/caf\u00e9.log";
  EXPECT_EQ(f.path(), expect);
  EXPECT_EQ(disk_size(dir.file("caf\xC3\xA9.log")), 0u);
}

TEST(FileioOpen, AppendOpensCreateAndKeepContent) {
  scratch_dir dir;
  std::string path = dir.file("log.txt");
  {
    uni::fileio f;
    ASSERT_TRUE(f.open_append(path, false));
    EXPECT_TRUE(f.append(reinterpret_cast<const uint8_t*>("one\n"), 4));
  }
  {
    uni::fileio f;
    ASSERT_TRUE(f.open_append(std::wstring(path.begin(), path.end()), false));
    EXPECT_EQ(f.stored_size(), 4u);
    EXPECT_TRUE(f.append(reinterpret_cast<const uint8_t*>("two\n"), 4));
    EXPECT_EQ(f.stored_size(), 8u);
  }
  EXPECT_EQ(read_file(path), "one\ntwo\n");
}

// ---- size, position and reads -------------------------------------------------

TEST(FileioRead, HundredByteFileBoundaries) {
  scratch_dir dir;
  std::string path = dir.file("100.bin");
  write_file(path, bytes_0_to(100));
  uni::fileio f(path, false);
  ASSERT_TRUE(f.is_open());
  EXPECT_EQ(f.stored_size(), 100u);
  uint8_t buf[16];
  uint32_t len = 10;
  EXPECT_FALSE(f.read_at(buf, len, 100));
  len = 10;
  EXPECT_TRUE(f.read_at(buf, len, 99));
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(buf[0], 99);
  EXPECT_EQ(f.seek_from_end(10), 90u);
  EXPECT_EQ(f.tell(), 90u);
  len = 16;
  EXPECT_TRUE(f.read(buf, len));
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(buf[0], 90);
  EXPECT_EQ(f.seek_to(5), 5u);

  uint64_t len64 = uint64_t{1} << 32;
  EXPECT_FALSE(f.read_at64(buf, len64, 0));
  EXPECT_EQ(len64, 0u);
  len64 = 4;
  EXPECT_TRUE(f.read_at64(buf, len64, 96));
  EXPECT_EQ(len64, 4u);

  std::vector<uint8_t> out{7, 7};
  EXPECT_TRUE(f.read_bytes_at(out, 0, 0));
  EXPECT_EQ(out, (std::vector<uint8_t>{7, 7}));
  EXPECT_TRUE(f.read_bytes_at(out, 1000, 95));
  EXPECT_EQ(out, (std::vector<uint8_t>{95, 96, 97, 98, 99}));
  EXPECT_FALSE(f.read_bytes_at(out, 1, 100));
  std::string text;
  EXPECT_TRUE(f.read_text_at(text, 3, 65));
  EXPECT_EQ(text, "ABC");

  uni::fileio closed;
  EXPECT_EQ(closed.seek_from_end(1), uni::k_bad_position);
  EXPECT_EQ(closed.seek_to(0), uni::k_bad_position);
  EXPECT_EQ(closed.tell(), 0u);
  EXPECT_EQ(closed.stored_size(), 0u);
  len = 1;
  EXPECT_FALSE(closed.read_at(buf, len, 0));
}

TEST(FileioRead, MemoryModeBoundaries) {
  std::vector<uint8_t> bytes(100);
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<uint8_t>(i);
  uni::fileio m(bytes, true, false);
  ASSERT_TRUE(m.is_open());
  EXPECT_EQ(m.tell(), 100u);  // positioned at the end
  EXPECT_EQ(m.seek_from_end(10), 90u);
  EXPECT_EQ(m.seek_from_end(200), 0u);
  uint8_t buf[32];
  uint32_t len = 32;
  EXPECT_TRUE(m.read_at(buf, len, 90));
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(buf[9], 99);
  EXPECT_EQ(m.seek_to(101), uni::k_bad_position);
  EXPECT_EQ(m.seek_to(98), 98u);
  len = 32;
  EXPECT_TRUE(m.read(buf, len));
  EXPECT_EQ(len, 2u);
  len = 4;
  EXPECT_TRUE(m.read(buf, len));
  EXPECT_EQ(len, 0u);

  // A write straddling the end overwrites the tail and appends the rest.
  const uint8_t w[] = {0xA0, 0xA1, 0xA2, 0xA3};
  EXPECT_TRUE(m.write_at(w, 4, 98));
  EXPECT_EQ(m.stored_size(), 102u);
  EXPECT_EQ(m.data()[97], 97);
  EXPECT_EQ(m.data()[98], 0xA0);
  EXPECT_EQ(m.data()[101], 0xA3);
  EXPECT_EQ(m.tell(), 102u);
  // Inside: overwritten in place.
  EXPECT_TRUE(m.write_at(w, 2, 0));
  EXPECT_EQ(m.stored_size(), 102u);
  EXPECT_EQ(m.tell(), 2u);
  // Past the end: appended at the end.
  EXPECT_TRUE(m.write_at(w, 1, 500));
  EXPECT_EQ(m.stored_size(), 103u);
  EXPECT_EQ(m.data()[102], 0xA0);
  EXPECT_TRUE(m.write_at(w, 0, 0));
  EXPECT_FALSE(m.write_at(nullptr, 1, 0));
  EXPECT_FALSE(m.write_bytes_at({}, 0));

  EXPECT_TRUE(m.set_length(10));
  EXPECT_EQ(m.stored_size(), 10u);
  EXPECT_EQ(m.tell(), 0u);
  // Attaching the object's own content keeps it.
  EXPECT_TRUE(m.attach_memory(m.data(), true, false));
  EXPECT_EQ(m.stored_size(), 10u);
  EXPECT_EQ(m.data()[1], 0xA1);
  EXPECT_TRUE(m.open_memory(3, false, false));
  EXPECT_EQ(m.data(), (std::vector<uint8_t>{0, 0, 0}));
  m.close();
  EXPECT_FALSE(m.is_open());
  EXPECT_TRUE(m.data().empty());
}

TEST(FileioRead, LoopsOverShortAndInterruptedReads) {
  scratch_dir dir;
  std::string path = dir.file("big.bin");
  std::string content = bytes_0_to(10000);
  write_file(path, content);
  uni::fileio f(path, false);
  FakeCalls fake;
  g_read_cap = 7;
  g_eintr_reads = 3;
  std::vector<uint8_t> buf(10000);
  uint32_t len = 10000;
  ASSERT_TRUE(f.read_at(buf.data(), len, 0));
  EXPECT_EQ(len, 10000u);
  EXPECT_EQ(std::string(buf.begin(), buf.end()), content);
  std::vector<uint8_t> out;
  g_eintr_reads = 2;
  ASSERT_TRUE(f.read_bytes_at(out, 5000, 5000));
  EXPECT_EQ(std::string(out.begin(), out.end()), content.substr(5000));
}

TEST(FileioRead, FailuresAreReportedAsFailures) {
  scratch_dir dir;
  std::string path = dir.file("100.bin");
  write_file(path, bytes_0_to(100));
  uni::fileio f(path, false);
  ASSERT_TRUE(f.is_open());
  uint8_t buf[16];
  FakeCalls fake;

  // A read that fails before any byte arrives gives false and an all-ones count.
  g_fail_reads = 1;
  uint32_t len = 10;
  EXPECT_FALSE(f.read_at(buf, len, 0));
  EXPECT_EQ(len, 0xFFFFFFFFu);
  g_fail_reads = 1;
  len = 10;
  EXPECT_FALSE(f.read(buf, len));
  EXPECT_EQ(len, 0xFFFFFFFFu);
  // Refused before reading: the count is left as it was.
  len = 10;
  EXPECT_FALSE(f.read_at(buf, len, 100));
  EXPECT_EQ(len, 10u);
  uni::fileio closed;
  EXPECT_FALSE(closed.read(buf, len));
  EXPECT_EQ(len, 10u);

  // A device error is no empty result.
  std::vector<uint8_t> out{1, 2, 3};
  g_fail_reads = 1;
  EXPECT_FALSE(f.read_bytes_at(out, 50, 0));
  EXPECT_TRUE(out.empty());
  // Positioned reads need no seek: one that would fail changes nothing.
  g_fail_lseek_set = true;
  EXPECT_TRUE(f.read_bytes_at(out, 2, 4));
  EXPECT_EQ(out, (std::vector<uint8_t>{4, 5}));
  len = 4;
  EXPECT_TRUE(f.read_at(buf, len, 0));
  EXPECT_EQ(len, 4u);
  g_fail_lseek_set = false;

  // Copies that cannot read their source say so.
  uni::fileio dst(std::vector<uint8_t>{}, true, false);
  g_fail_reads = 1;
  EXPECT_FALSE(f.copy_range_to(dst, 0, 100, 0, 10, false));
  ASSERT_EQ(f.seek_to(0), 0u);
  g_fail_reads = 1;
  EXPECT_FALSE(f.copy_to_utf8(dir.file("copy"), false, false));
}

TEST(FileioSize, ProcFilesAndStaleErrno) {
  uni::fileio version("/proc/version", false);
  if (!version.is_open()) GTEST_SKIP() << "no /proc";
  // The end of a pseudo file cannot be sought: it is read up to 256 KiB.
  EXPECT_EQ(version.stored_size(), 0x40000u);
  std::vector<uint8_t> out;
  EXPECT_TRUE(version.read_bytes_at(out, version.stored_size(), 0));
  EXPECT_GT(out.size(), 0u);
  EXPECT_LT(out.size(), 0x40000u);

  // A successful seek that answers 0 is 0, whatever errno held before.
  uni::fileio cmdline("/proc/self/cmdline", false);
  ASSERT_TRUE(cmdline.is_open());
  FakeCalls fake;
  g_lseek_end_zero_einval = true;
  errno = EINVAL;
  EXPECT_EQ(cmdline.fileio_size(), 0u);
}

// ---- writes -------------------------------------------------------------------

TEST(FileioWrite, AppendsAndOffsetWrites) {
  scratch_dir dir;
  std::string path = dir.file("w.bin");
  uni::fileio f(path, true);
  ASSERT_TRUE(f.is_open());
  EXPECT_TRUE(f.append(reinterpret_cast<const uint8_t*>("x"), 0));
  EXPECT_FALSE(f.append(nullptr, 1));
  EXPECT_FALSE(f.append_bytes({}));
  EXPECT_TRUE(f.append_bytes({'a', 'b', 'c', 'd'}));
  EXPECT_TRUE(f.write_at(reinterpret_cast<const uint8_t*>("ZZ"), 2, 1));
  EXPECT_EQ(f.stored_size(), 4u);
  EXPECT_TRUE(f.write_bytes_at({'!'}, 6));  // leaves a hole of zeros
  EXPECT_EQ(f.stored_size(), 7u);
  EXPECT_TRUE(f.append_fill('-', 3));
  EXPECT_TRUE(f.append_fill('+', 1));
  EXPECT_FALSE(f.append_fill('+', 0));
  std::ostringstream os;
  EXPECT_TRUE(f.append_stream_text(os));
  os << "[s]";
  EXPECT_TRUE(f.append_stream_text(os));
  EXPECT_FALSE(f.append_lines({}));
  EXPECT_TRUE(f.append_lines({"l1", "l2"}));
  f.close();
  EXPECT_EQ(read_file(path), std::string("aZZd\0\0!---+[s]l1\r\nl2\r\n", 22));

  uni::fileio closed;
  EXPECT_FALSE(closed.append_bytes({1}));
  EXPECT_FALSE(closed.append_printf("x"));
}

TEST(FileioWrite, AppendPrintfFormatsLongTextOnce) {
  uni::fileio m(std::vector<uint8_t>{}, true, false);
  std::string big(5000, 'q');
  EXPECT_TRUE(m.append_printf("%s|%d|%s|%llx", big.c_str(), -42, "tail", 0xABCDEFULL));
  std::string got(m.data().begin(), m.data().end());
  EXPECT_EQ(got, big + "|-42|tail|abcdef");
  EXPECT_FALSE(m.append_printf(nullptr));
  EXPECT_TRUE(m.append_printf("%s", ""));
  EXPECT_EQ(m.stored_size(), got.size());
}

TEST(FileioWrite, PartialWritesAreCompletedAndFailuresReported) {
  scratch_dir dir;
  std::string path = dir.file("p.bin");
  uni::fileio f(path, true);
  ASSERT_TRUE(f.is_open());
  std::string content = bytes_0_to(3000);
  {
    FakeCalls fake;
    g_write_cap = 100;
    EXPECT_TRUE(f.append(reinterpret_cast<const uint8_t*>(content.data()), 3000));
    EXPECT_EQ(f.stored_size(), 3000u);
    g_fail_writes = 1;
    EXPECT_FALSE(f.append(reinterpret_cast<const uint8_t*>("x"), 1));
    g_zero_writes = 1;
    EXPECT_FALSE(f.write_at(reinterpret_cast<const uint8_t*>("x"), 1, 0));
  }
  f.close();
  EXPECT_EQ(read_file(path), content);
}

TEST(FileioWrite, HexDumpLayout) {
  std::vector<uint8_t> b(20);
  for (int i = 0; i < 20; ++i) b[i] = static_cast<uint8_t>(i);
  uni::fileio m(std::vector<uint8_t>{}, true, false);
  ASSERT_TRUE(m.append_hex_dump(b, 0));
  std::string got(m.data().begin(), m.data().end());
  EXPECT_EQ(got,
            "0x000000 : 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ................\n"
            "0x000010 : 10 11 12 13 \n");

  uni::fileio c(std::vector<uint8_t>{}, true, true);
  const uint8_t text[] = {'A', 'b', 0x7F, ' '};
  ASSERT_TRUE(c.append_hex_dump(text, 4, 0x1000));
  EXPECT_EQ(std::string(c.data().begin(), c.data().end()), "0x001000 : 41 62 7f 20 \r\n");
  EXPECT_TRUE(c.append_hex_dump(text, 0, 0));
  EXPECT_FALSE(c.append_hex_dump(nullptr, 1, 0));
}

TEST(FileioWrite, ModeStatAndLength) {
  scratch_dir dir;
  std::string path = dir.file("m.bin");
  uni::fileio f(path, true);
  ASSERT_TRUE(f.append_bytes(std::vector<uint8_t>(50, 1)));
  EXPECT_TRUE(f.set_mode_octal("600"));
  struct stat st;
  ASSERT_TRUE(f.stat_of(st));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 50);
  EXPECT_TRUE(f.set_length(20));
  EXPECT_EQ(f.stored_size(), 20u);
  EXPECT_EQ(disk_size(path), 20u);

  uni::fileio m(std::vector<uint8_t>{1, 2, 3}, false, false);
  EXPECT_TRUE(m.set_mode_octal("777"));
  ASSERT_TRUE(m.stat_of(st));
  EXPECT_EQ(st.st_size, 3);
  uni::fileio closed;
  EXPECT_FALSE(closed.set_mode_octal("600"));
  EXPECT_FALSE(closed.stat_of(st));
}

// ---- the attached report stream -----------------------------------------------

TEST(FileioStream, FillsTheBufferBeforeWriting) {
  scratch_dir dir;
  std::string path = dir.file("report.txt");
  uni::fileio f(path, true);
  uni::fileio_output* out = f.output_stream();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(f.output_stream(), out);  // the same stream, not a second one
  std::string chunk(262143, 'r');
  *out << chunk;
  EXPECT_EQ(disk_size(path), 0u);
  *out << 'R';
  EXPECT_EQ(disk_size(path), 262144u);
  *out << "tail";
  EXPECT_EQ(disk_size(path), 262144u);
  f.close();
  EXPECT_EQ(disk_size(path), 262148u);
  std::string all = read_file(path);
  EXPECT_EQ(all.substr(262143, 5), "Rtail");
}

TEST(FileioStream, FlushAndEndlReachTheFile) {
  scratch_dir dir;
  std::string path = dir.file("report.txt");
  uni::fileio f(path, true);
  uni::fileio_output* out = f.output_stream();
  ASSERT_NE(out, nullptr);
  *out << "line one" << std::endl;
  EXPECT_EQ(read_file(path), "line one\n");
  *out << "line two\n";
  EXPECT_EQ(read_file(path), "line one\n");
  out->flush();
  EXPECT_EQ(read_file(path), "line one\nline two\n");
  *out << "three";
  f.flush_output();
  EXPECT_EQ(read_file(path), "line one\nline two\nthree");
  EXPECT_TRUE(out->good());
}

TEST(FileioStream, ReportSurvivesAnAbruptExitAfterFlush) {
  scratch_dir dir;
  std::string path = dir.file("child.txt");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    uni::fileio f(path, true);
    uni::fileio_output* out = f.output_stream();
    if (out == nullptr) ::_exit(2);
    for (int i = 0; i < 20000; ++i) *out << "record " << i << '\n';
    out->flush();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string expect;
  for (int i = 0; i < 20000; ++i) expect += "record " + std::to_string(i) + "\n";
  EXPECT_EQ(read_file(path), expect);
}

TEST(FileioStream, ReopenAndAttachDrainTheStreamFirst) {
  scratch_dir dir;
  std::string a = dir.file("a.txt");
  std::string b = dir.file("b.txt");
  uni::fileio f(a, true);
  *f.output_stream() << "for a";
  ASSERT_TRUE(f.open_utf8(b, true, false, true));
  EXPECT_EQ(read_file(a), "for a");
  uni::fileio_output* out = f.output_stream();
  ASSERT_NE(out, nullptr);
  *out << "for b";
  f.reset();
  EXPECT_EQ(read_file(b), "for b");
  EXPECT_FALSE(f.is_open());

  ASSERT_TRUE(f.open_utf8(a, true, false, true));
  *f.output_stream() << "again";
  EXPECT_TRUE(f.attach_memory({9}, true, false));
  EXPECT_EQ(read_file(a), "again");
  // A memory-mode object takes its stream's bytes too.
  *f.output_stream() << "xy";
  f.flush_output();
  EXPECT_EQ(f.data(), (std::vector<uint8_t>{9, 'x', 'y'}));
}

TEST(FileioStream, NoStreamOverAClosedFile) {
  uni::fileio f;
  EXPECT_EQ(f.output_stream(), nullptr);
  f.flush_output();  // nothing attached: no effect
}

TEST(FileioStream, FailedDrainKeepsBytesAndNeverRunsPastTheBuffer) {
  scratch_dir dir;
  std::string path = dir.file("fail.txt");
  std::string expect;
  {
    uni::fileio f(path, true);
    uni::fileio_output* out = f.output_stream();
    ASSERT_NE(out, nullptr);
    {
      FakeCalls fake;
      g_fail_writes = 1000;
      std::string fill(262143, 'a');
      *out << fill;
      expect += fill;
      *out << 'b';  // the drain fails: 'b' is refused
      EXPECT_TRUE(out->bad());
      out->clear();
      // Every further attempt fails again without touching memory past the
      // buffer (the sanitizers watch this).
      for (int i = 0; i < 5; ++i) {
        *out << 'c';
        out->clear();
      }
      EXPECT_EQ(out->pending(), 262143u);
      EXPECT_EQ(disk_size(path), 0u);
    }
    // The device recovers: the kept bytes go out once, in order.
    *out << 'd';
    expect += 'd';
    EXPECT_TRUE(out->good());
    *out << "end";
    expect += "end";
  }
  EXPECT_EQ(read_file(path), expect);
}

TEST(FileioStream, PartialDrainDoesNotDuplicateBytes) {
  scratch_dir dir;
  std::string path = dir.file("partial.txt");
  std::string expect;
  {
    uni::fileio f(path, true);
    uni::fileio_output* out = f.output_stream();
    ASSERT_NE(out, nullptr);
    FakeCalls fake;
    g_write_cap = 1000;  // every write() takes at most 1000 bytes
    for (int i = 0; i < 40000; ++i) {
      std::string line = "entry " + std::to_string(i) + "\n";
      *out << line;
      expect += line;
    }
    out->flush();
    EXPECT_EQ(read_file(path), expect);
  }
  EXPECT_EQ(read_file(path), expect);
}

// A write that takes part of the area, then a full disk: the bytes written
// leave the area, so the report stays a prefix of itself, and close() after
// the disk has room again writes the rest of what was accepted once.
TEST(FileioStream, PartialWriteThenFullDiskLeavesAPrefix) {
  scratch_dir dir;
  std::string path = dir.file("full.txt");
  const std::string report = bytes_0_to(262144);
  FakeCalls fake;
  g_write_cap = 1000;
  g_writes_before_full = 1;
  uni::fileio f(path, true);
  uni::fileio_output* out = f.output_stream();
  ASSERT_NE(out, nullptr);
  *out << report;
  EXPECT_TRUE(out->bad());
  out->clear();
  out->flush();  // fails again: nothing more reaches the file
  EXPECT_TRUE(read_file(path) == report.substr(0, 1000));
  g_writes_before_full = -1;  // the disk has room again
  f.close();
  // Everything but the character the failed insertion refused, once.
  const std::string got = read_file(path);
  EXPECT_EQ(got.size(), report.size() - 1);
  EXPECT_TRUE(got == report.substr(0, got.size()));
}

TEST(FileioStream, StatsSinkAddsByteValues) {
  uni::fileio_stats stats;
  EXPECT_FALSE(stats.add(nullptr, 3));
  EXPECT_FALSE(stats.add("a", 0));
  uni::fileio_stats_output* out = stats.stats_output();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(stats.stats_output(), out);
  *out << "abc";
  out->flush();
  EXPECT_EQ(stats.total(), 294u);
  *out << "\xff";
  stats.release_output();
  EXPECT_EQ(stats.total(), 294u + 255u);
  stats.reset();
  EXPECT_EQ(stats.total(), 0u);
}

}  // namespace

namespace {

// Every call through the system-call layer, counted by name.
struct call_counts {
  int open = 0, close = 0, read = 0, pread = 0, lseek = 0, fstat = 0, stat = 0, write = 0;
  std::vector<size_t> write_sizes;
  int total() const { return open + close + read + pread + lseek + fstat + stat + write; }
};
call_counts* g_counts = nullptr;

class CountedCalls {
 public:
  explicit CountedCalls(call_counts& c) : m_scope(make()) { g_counts = &c; }
  ~CountedCalls() { g_counts = nullptr; }

 private:
  static vk::posix_calls make() {
    vk::posix_calls c = vk::system_posix_calls();
    c.open = [](const char* p, int f, mode_t m) {
      ++g_counts->open;
      return vk::system_posix_calls().open(p, f, m);
    };
    c.close = [](int fd) {
      ++g_counts->close;
      return vk::system_posix_calls().close(fd);
    };
    c.read = [](int fd, void* b, size_t n) {
      ++g_counts->read;
      return vk::system_posix_calls().read(fd, b, n);
    };
    c.pread = [](int fd, void* b, size_t n, off_t o) {
      ++g_counts->pread;
      return vk::system_posix_calls().pread(fd, b, n, o);
    };
    c.lseek = [](int fd, off_t o, int w) {
      ++g_counts->lseek;
      return vk::system_posix_calls().lseek(fd, o, w);
    };
    c.fstat = [](int fd, struct stat* st) {
      ++g_counts->fstat;
      return vk::system_posix_calls().fstat(fd, st);
    };
    c.stat = [](const char* p, struct stat* st) {
      ++g_counts->stat;
      return vk::system_posix_calls().stat(p, st);
    };
    c.write = [](int fd, const void* b, size_t n) {
      ++g_counts->write;
      g_counts->write_sizes.push_back(n);
      return fake_write(fd, b, n);
    };
    return c;
  }
  vk::scoped_posix_calls m_scope;
};

}  // namespace

// Reading a file whole costs an open, the status of the open descriptor, one
// positioned read and a close, whatever the name's bytes; the status and the
// size come from that one fstat.
TEST(FileioRoad, AFileCostsFourCalls) {
  scratch_dir dir;
  const std::string names[] = {"plain.lnk", "\xff\xfe odd.bin", "trailing/"};
  for (const std::string& name : names) {
    const bool dir_name = name.back() == '/';
    const std::string path = dir_name ? dir.file("trailing") + "/" : dir.file(name);
    write_file(dir_name ? dir.file("trailing") : path, bytes_0_to(3000));
    call_counts counts;
    {
      CountedCalls counted(counts);
      uni::fileio f;
      ASSERT_TRUE(f.open_utf8(path, false, false, false)) << name;
      EXPECT_EQ(f.stored_size(), 3000u);
      struct stat st;
      ASSERT_TRUE(f.opened_status(st));
      EXPECT_EQ(st.st_size, 3000);
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(f.read_bytes_at(bytes, 4096, 0));
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), bytes_0_to(3000));
      f.close();
      EXPECT_FALSE(f.opened_status(st));
    }
    EXPECT_EQ(counts.total(), 4) << name;
    EXPECT_EQ(counts.open + counts.fstat + counts.pread + counts.close, 4) << name;
    uni::fileio again(path, false);
    EXPECT_EQ(vkportdir::path_from_wide(again.path()) + (dir_name ? "/" : ""), path);
    // The same object opened again (its name buffer reused) names the new
    // file, and a failed opening leaves it closed.
    const std::string other = dir.file("other.bin");
    write_file(other, "12345");
    ASSERT_TRUE(again.open_utf8(other, false, false, false));
    EXPECT_EQ(vkportdir::path_from_wide(again.path()), other);
    EXPECT_EQ(again.stored_size(), 5u);
    EXPECT_FALSE(again.open_utf8(dir.file("missing"), false, false, false));
    EXPECT_FALSE(again.is_open());
  }
}

// The report stream over a descriptor writes whole blocks of its buffer (far
// above 64 KB), keeps every byte in order, and reports a failed write.
TEST(DescriptorStream, WritesLargeBlocksInOrder) {
  scratch_dir dir;
  const std::string path = dir.file("report.txt");
  write_file(path, "");
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  call_counts counts;
  std::string expect;
  {
    CountedCalls counted(counts);
    uni::descriptor_output out(fd);
    for (int i = 0; i < 60000; ++i) {
      out << "record " << i << '\n';
      expect += "record " + std::to_string(i) + "\n";
    }
    EXPECT_TRUE(out.good());
  }
  ::close(fd);
  EXPECT_EQ(read_file(path), expect);
  const size_t block = uni::k_output_buffer_size;
  ASSERT_EQ(counts.write_sizes.size(), (expect.size() + block - 1) / block);
  for (size_t i = 0; i + 1 < counts.write_sizes.size(); ++i)
    EXPECT_EQ(counts.write_sizes[i], block);

  call_counts failing;
  {
    CountedCalls counted(failing);
    FakeCalls fake;
    g_fail_writes = 1000;
    uni::descriptor_output out(fd);  // closed: every write fails too
    out << "lost" << std::flush;
    EXPECT_FALSE(out.good());
  }
}

// Two names reach one file when they share its file system and inode; a
// device node is the device it names, whatever node and folder hold it.
TEST(SameFile, DevicesByTheDeviceTheyAre) {
  const auto status = [](mode_t kind, dev_t dev, ino_t ino, dev_t rdev) {
    struct stat st {};
    st.st_mode = kind | 0644;
    st.st_dev = dev;
    st.st_ino = ino;
    st.st_rdev = rdev;
    return st;
  };
  const struct {
    const char* name;
    struct stat a, b;
    bool same;
  } rows[] = {
      {"one file", status(S_IFREG, 1, 7, 0), status(S_IFREG, 1, 7, 0), true},
      {"other inode", status(S_IFREG, 1, 7, 0), status(S_IFREG, 1, 8, 0), false},
      {"other file system", status(S_IFREG, 1, 7, 0), status(S_IFREG, 2, 7, 0), false},
      {"two nodes of one disk", status(S_IFBLK, 5, 10, 0x700), status(S_IFBLK, 1, 99, 0x700), true},
      {"two disks", status(S_IFBLK, 5, 10, 0x700), status(S_IFBLK, 5, 10, 0x701), false},
      {"a disk and a character device of one number", status(S_IFBLK, 5, 10, 0x700),
       status(S_IFCHR, 5, 10, 0x700), false},
      {"a disk and a file of its inode", status(S_IFBLK, 5, 10, 0x700), status(S_IFREG, 5, 10, 0),
       false},
      {"two nodes of one character device", status(S_IFCHR, 5, 3, 0x103),
       status(S_IFCHR, 6, 4, 0x103), true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(vk::same_file(r.a, r.b), r.same) << r.name;
    EXPECT_EQ(vk::same_file(r.b, r.a), r.same) << r.name;
  }
}
