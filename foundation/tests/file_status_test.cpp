#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "fileio_test_support.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_file_status.h"
#include "foundation/vk_time.h"

namespace {

using vesk_test::scratch_dir;
using vesk_test::write_file;

constexpr uint64_t k_filetime_1970 = 116444736000000000ULL;

void set_times(const std::string& path, time_t atime, long ans, time_t mtime, long mns) {
  struct timespec ts[2];
  ts[0].tv_sec = atime;
  ts[0].tv_nsec = ans;
  ts[1].tv_sec = mtime;
  ts[1].tv_nsec = mns;
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), ts, 0), 0);
}

TEST(FileTimes, EmptyPathAndMissingFileZeroEveryOutput) {
  uint64_t size = 1, change = 1, modify = 1, access = 1;
  uint32_t mode = 1;
  EXPECT_FALSE(vkportdir::get_file_times("", size, mode, change, modify, access));
  EXPECT_EQ(size + mode + change + modify + access, 0u);
  size = change = modify = access = mode = 1;
  EXPECT_FALSE(vkportdir::path_stat_times("/nonexistent/x", size, mode, change, modify, access));
  EXPECT_EQ(size + mode + change + modify + access, 0u);
  size = change = modify = access = mode = 1;
  EXPECT_FALSE(vkportdir::get_file_times_w(L"", size, mode, change, modify, access));
  EXPECT_EQ(size + mode + change + modify + access, 0u);
  EXPECT_FALSE(vkportdir::file_exists(""));
  EXPECT_FALSE(vkportdir::file_exists_w(L""));
  std::vector<uint8_t> out{1};
  EXPECT_FALSE(vkportdir::read_file_bytes(out, "", 10));
  EXPECT_TRUE(out.empty());
}

TEST(FileTimes, EpochSecondsBecomeFiletimeTicks) {
  scratch_dir dir;
  std::string path = dir.file("t.bin");
  write_file(path, "0123456789");
  set_times(path, 1, 500, 0, 0);
  uint64_t size, change, modify, access;
  uint32_t mode;
  ASSERT_TRUE(vkportdir::get_file_times(path, size, mode, change, modify, access));
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(S_ISREG(mode));
  EXPECT_EQ(modify, k_filetime_1970);
  EXPECT_EQ(access, k_filetime_1970 + 10000000ULL);  // whole seconds: the 500 ns are dropped
  EXPECT_GT(change, k_filetime_1970);
  // The status of the open descriptor gives the same, with no look by name.
  {
    uni::fileio f(path, false);
    struct stat st;
    ASSERT_TRUE(f.opened_status(st));
    uint64_t s2, c2, m2, a2;
    uint32_t mode2;
    ASSERT_TRUE(vkportdir::status_file_times(st, s2, mode2, c2, m2, a2));
    EXPECT_EQ(std::tie(s2, mode2, c2, m2, a2), std::tie(size, mode, change, modify, access));
  }

  ASSERT_TRUE(vkportdir::path_stat_times(path, size, mode, change, modify, access));
  EXPECT_EQ(modify, 0u);
  EXPECT_EQ(access, 1u);

  std::wstring wide(path.begin(), path.end());
  ASSERT_TRUE(vkportdir::get_file_times_w(wide, size, mode, change, modify, access));
  EXPECT_EQ(modify, k_filetime_1970);
  ASSERT_TRUE(vkportdir::path_stat_times_w(wide, size, mode, change, modify, access));
  EXPECT_EQ(access, 1u);
}

// Seconds from a status become the ticks a unix time value holds, at the
// edges of the signed range too.
TEST(FileTimes, StatusSecondsConvertAsUnixTimeValues) {
  const int64_t edges[] = {INT64_MIN,
                           -11644473601,
                           -11644473600,
                           -1,
                           0,
                           1,
                           1700000000,
                           922337203685 - 11644473600,
                           922337203685 - 11644473599,
                           INT64_MAX};
  for (const int64_t seconds : edges) {
    struct stat st {};
    st.st_mtim.tv_sec = static_cast<time_t>(seconds);
    uint64_t size, change, modify, access;
    uint32_t mode;
    ASSERT_TRUE(vkportdir::status_file_times(st, size, mode, change, modify, access));
    EXPECT_EQ(modify, vk::time_from_i64(seconds, vk::type_time::unix_time).m_filetime) << seconds;
  }
}

TEST(FileTimes, BeforeNineteenSeventy) {
  scratch_dir dir;
  std::string path = dir.file("old.bin");
  write_file(path, "x");
  // 1969-12-31 23:59:00 UTC
  set_times(path, 0, 0, -60, 0);
  uint64_t size, change, modify, access;
  uint32_t mode;
  ASSERT_TRUE(vkportdir::path_stat_times(path, size, mode, change, modify, access));
  if (static_cast<int64_t>(modify) != -60) GTEST_SKIP() << "file system keeps no pre-1970 times";
  ASSERT_TRUE(vkportdir::get_file_times(path, size, mode, change, modify, access));
  EXPECT_EQ(modify, k_filetime_1970 - 60 * 10000000ULL);
}

TEST(FileTimes, SymbolicLinkGivesTheTarget) {
  scratch_dir dir;
  std::string target = dir.file("target.bin");
  std::string link = dir.file("link");
  write_file(target, std::string(123, 'z'));
  set_times(target, 1000, 0, 2000, 0);
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  uint64_t size, change, modify, access;
  uint32_t mode;
  ASSERT_TRUE(vkportdir::get_file_times(link, size, mode, change, modify, access));
  EXPECT_EQ(size, 123u);
  EXPECT_TRUE(S_ISREG(mode));
  EXPECT_EQ(modify, k_filetime_1970 + 2000 * 10000000ULL);
  EXPECT_EQ(access, k_filetime_1970 + 1000 * 10000000ULL);
}

TEST(FileContent, ReadFileBytesCapsAndRefusesEmptyFiles) {
  scratch_dir dir;
  std::string ten = dir.file("ten");
  write_file(ten, "0123456789");
  std::vector<uint8_t> out;
  ASSERT_TRUE(vkportdir::read_file_bytes(out, ten, 4));
  EXPECT_EQ(std::string(out.begin(), out.end()), "0123");
  ASSERT_TRUE(vkportdir::read_file_bytes(out, ten, 0xFFFFFFFFu));
  EXPECT_EQ(out.size(), 10u);
  EXPECT_FALSE(vkportdir::read_file_bytes(out, ten, 0));
  EXPECT_TRUE(out.empty());

  std::string empty = dir.file("empty");
  write_file(empty, "");
  out.assign(3, 1);
  EXPECT_FALSE(vkportdir::read_file_bytes(out, empty, 100));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(vkportdir::read_file_bytes(out, dir.file("missing"), 100));
}

TEST(FileContent, ExistenceCountsEveryKindOfEntry) {
  scratch_dir dir;
  EXPECT_TRUE(vkportdir::file_exists(dir.path()));
  EXPECT_TRUE(vkportdir::file_exists("/dev/null"));
  EXPECT_FALSE(vkportdir::file_exists(dir.file("nothing")));
  std::string f = dir.file("f");
  write_file(f, "1");
  EXPECT_TRUE(vkportdir::file_exists_w(std::wstring(f.begin(), f.end())));
  std::string link = dir.file("dangling");
  ASSERT_EQ(::symlink(dir.file("gone").c_str(), link.c_str()), 0);
  EXPECT_FALSE(vkportdir::file_exists(link));
}

}  // namespace
