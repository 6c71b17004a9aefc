// Directory creation, removal, renaming and stream opening, all inside a
// scratch tree; failure paths through a replaced system-call table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_dir_ops.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_path.h"
#include "foundation/vk_posix.h"
#include "posix_seam.h"
#include "testing/fake_host.h"
#include "testing/temp_tree.h"

namespace {

namespace fs = std::filesystem;
using vesk_test::temp_tree;

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct umask_scope {
  explicit umask_scope(mode_t m) : old(::umask(m)) {}
  ~umask_scope() { ::umask(old); }
  mode_t old;
};

mode_t current_umask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

TEST(MakeDirs, CreatesEveryLevelAndKeepsTheMask) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  umask_scope scope(022);
  ASSERT_TRUE(vkportdir::make_dirs(t.path("a/b/c")));
  for (const char* rel : {"a", "a/b", "a/b/c"}) {
    struct stat st {};
    ASSERT_EQ(::stat(t.path(rel).c_str(), &st), 0) << rel;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << rel;
    EXPECT_EQ(st.st_mode & 07777, 0755u) << rel;
  }
  EXPECT_EQ(current_umask(), 022u);

  // Again: true, nothing changed.
  t.file("a/b/c/keep.txt", "k");
  struct stat before {};
  ASSERT_EQ(::stat(t.path("a/b/c").c_str(), &before), 0);
  EXPECT_TRUE(vkportdir::make_dirs(t.path("a/b/c")));
  EXPECT_TRUE(vkportdir::make_dirs(t.path("a/b/c/")));
  struct stat after {};
  ASSERT_EQ(::stat(t.path("a/b/c").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(slurp(t.path("a/b/c/keep.txt")), "k");
}

TEST(MakeDirs, MaskOfTheProcessDecidesTheBits) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  umask_scope scope(027);
  ASSERT_TRUE(vkportdir::make_dir(t.path("m")));
  struct stat st {};
  ASSERT_EQ(::stat(t.path("m").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(current_umask(), 027u);
  EXPECT_TRUE(vkportdir::make_dir(t.path("m")));  // exists
  EXPECT_FALSE(vkportdir::make_dir(""));
  EXPECT_FALSE(vkportdir::make_dir(t.path("none/deeper")));
}

TEST(MakeDirs, QuotesBackslashesAndFiles) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("plain", "p");
  t.dir("real");
  t.symlink(t.path("real"), "dirlink");
  t.symlink(t.path("plain"), "filelink");
  struct row {
    std::string path;
    bool result;
    const char* must_exist;  // a directory that must exist afterwards, or null
  } rows[] = {
      {"\"" + t.path("q\"x/y\"") + "\"", true, "qx/y"},
      {t.root() + "\\bs\\one\\two", true, "bs/one/two"},
      // An existing file of another kind is no directory.
      {t.path("plain"), false, nullptr},
      {t.path("plain/"), false, nullptr},
      {t.path("filelink"), false, nullptr},
      {t.path("dirlink"), true, "real"},
      {t.path("dirlink/in"), true, "real/in"},
      {t.path("plain/below"), false, nullptr},
      {t.path("plain/below/more"), false, nullptr},
      {"\"\"", false, nullptr},
      {"", false, nullptr},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(vkportdir::make_dirs(r.path), r.result) << r.path;
    if (r.must_exist) {
      EXPECT_TRUE(fs::is_directory(t.path(r.must_exist))) << r.path;
    }
  }
  EXPECT_FALSE(fs::exists(t.path("q\"x")));
  EXPECT_TRUE(fs::is_regular_file(t.path("plain")));
  EXPECT_EQ(slurp(t.path("plain")), "p");
  EXPECT_TRUE(vkportdir::make_dirs_w(vk::path_to_wide(t.path("wide/dir"))));
  EXPECT_TRUE(fs::is_directory(t.path("wide/dir")));
  EXPECT_FALSE(vkportdir::make_dir(t.path("plain")));
  EXPECT_TRUE(vkportdir::make_dir(t.path("real")));
}

using recorder = vesk_test::change_recorder_scope;

TEST(MakeDirs, CreatesEachComponentOnceAndNeverADrive) {
  struct row {
    const char* path;
    std::vector<std::string> calls;
  } rows[] = {
      {"/x/y/z", {"mkdir /x", "mkdir /x/y", "mkdir /x/y/z"}},
      {"x//y/", {"mkdir x", "mkdir x//y", "mkdir x//y/"}},
      {"c:\\dir\\sub", {"mkdir c:/dir", "mkdir c:/dir/sub"}},
      {"\\\\?\\c:\\d", {"mkdir \\\\?\\c:/d"}},
      {"a\"b", {"mkdir ab"}},
      {"/", {"mkdir /"}},
  };
  recorder scope;
  for (const auto& r : rows) {
    recorder::log().clear();
    EXPECT_TRUE(vkportdir::make_dirs(r.path)) << r.path;
    EXPECT_EQ(recorder::log(), r.calls) << r.path;
  }
}

TEST(RenameFile, RelativePathsStayInTheWorkingDirectory) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("w/old.txt", "data");
  t.file("elsewhere/old.txt", "other");
  {
    vesk_test::scoped_cwd cwd(t.path("w"));
    EXPECT_TRUE(vkportdir::rename_file("old.txt", "new.txt", true));
    EXPECT_FALSE(vkportdir::rename_file("missing", "new2.txt", true));
    EXPECT_FALSE(vkportdir::rename_file("", "x", true));
  }
  EXPECT_EQ(slurp(t.path("w/new.txt")), "data");
  EXPECT_FALSE(fs::exists(t.path("w/old.txt")));
  EXPECT_EQ(slurp(t.path("elsewhere/old.txt")), "other");
  EXPECT_TRUE(vkportdir::rename_file_w(vk::path_to_wide(t.path("w/new.txt")),
                                       vk::path_to_wide(t.path("w/back.txt"))));
  EXPECT_EQ(slurp(t.path("w/back.txt")), "data");
  EXPECT_TRUE(vkportdir::remove_file(t.path("w/back.txt")));
  EXPECT_FALSE(fs::exists(t.path("w/back.txt")));
  EXPECT_FALSE(vkportdir::remove_file(t.path("w/back.txt")));
  t.file("w/z", "z");
  EXPECT_TRUE(vkportdir::remove_file_w(vk::path_to_wide(t.path("w/z"))));
  {
    // A name with blanks and quotes is removed as written, not trimmed.
    t.file("w/abc", "keep");
    t.file("w/ abc ", "gone");
    vesk_test::scoped_cwd cwd(t.path("w"));
    EXPECT_TRUE(vkportdir::remove_file(" abc "));
  }
  EXPECT_EQ(slurp(t.path("w/abc")), "keep");
  EXPECT_FALSE(fs::exists(t.path("w/ abc ")));
}

TEST(RemoveFile, ARemovedWorkingDirectoryIsRefused) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("gone");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int code = 0;
    if (::chdir(t.path("gone").c_str()) != 0 || ::rmdir(t.path("gone").c_str()) != 0) ::_exit(10);
    recorder scope;
    if (vkportdir::remove_file("abc")) code |= 1;
    if (vkportdir::rename_file("abc", "def", true)) code |= 2;
    if (!recorder::log().empty()) code |= 4;
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(OpenCfile, ReadAndWriteModes) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  FILE* f = reinterpret_cast<FILE*>(1);
  EXPECT_FALSE(vkportdir::open_cfile_read(f, vk::path_to_wide(t.path("missing")), true));
  EXPECT_EQ(f, nullptr);
  EXPECT_FALSE(vkportdir::open_cfile_read(f, L"", false));
  ASSERT_TRUE(vkportdir::open_cfile_write(f, vk::path_to_wide(t.path("made.bin")), true));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fwrite("abc", 1, 3, f), 3u);
  std::fclose(f);
  EXPECT_EQ(slurp(t.path("made.bin")), "abc");
  ASSERT_TRUE(vkportdir::open_cfile_read(f, vk::path_to_wide(t.path("made.bin")), false));
  char buf[4] = {};
  EXPECT_EQ(std::fread(buf, 1, 4, f), 3u);
  std::fclose(f);
  EXPECT_STREQ(buf, "abc");
  // Create alone truncates like write.
  ASSERT_TRUE(vkportdir::open_cfile(f, vk::path_to_wide(t.path("made.bin")), false, 0, true, true));
  std::fclose(f);
  EXPECT_EQ(slurp(t.path("made.bin")), "");
  // For writing, a link at the path is not followed and a file that another
  // name shares is not emptied; reading through a link still works.
  t.file("target", "kept");
  t.symlink(t.path("target"), "link");
  ASSERT_EQ(::link(t.path("target").c_str(), t.path("second").c_str()), 0);
  for (const char* rel : {"link", "second"}) {
    f = reinterpret_cast<FILE*>(1);
    EXPECT_FALSE(vkportdir::open_cfile_write(f, vk::path_to_wide(t.path(rel)), true)) << rel;
    EXPECT_EQ(f, nullptr);
    EXPECT_FALSE(vkportdir::open_cfile(f, vk::path_to_wide(t.path(rel)), false, 0, true, false));
  }
  EXPECT_EQ(slurp(t.path("target")), "kept");
  ASSERT_TRUE(vkportdir::open_cfile_read(f, vk::path_to_wide(t.path("link")), true));
  std::fclose(f);
}

TEST(PlatformAnswers, FixedOnThisSystem) {
  std::vector<std::string> dirs{"x"};
  EXPECT_FALSE(vkportdir::list_user_profile_dirs(dirs));
  EXPECT_TRUE(dirs.empty());
  std::string s = "x";
  EXPECT_FALSE(vkportdir::empty_path_stub(s));
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(vkportdir::exe_path_from_proc(), fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(vkportdir::exe_path_w(), vk::path_to_wide(fs::read_symlink("/proc/self/exe").string()));
}

ssize_t long_link(const char*, char* buf, size_t size) {
  std::string target = "/" + std::string(1500, 'L');
  size_t n = std::min(size, target.size());
  std::memcpy(buf, target.data(), n);
  return static_cast<ssize_t>(n);
}
ssize_t no_link(const char*, char*, size_t) {
  errno = ENOENT;
  return -1;
}

TEST(PlatformAnswers, LongProgramPathIsNotCut) {
  vk::posix_calls c = vk::system_posix_calls();
  c.readlink = long_link;
  {
    vk::scoped_posix_calls scope(c);
    EXPECT_EQ(vkportdir::exe_path_from_proc(), "/" + std::string(1500, 'L'));
  }
  c.readlink = no_link;
  vk::scoped_posix_calls scope(c);
  EXPECT_EQ(vkportdir::exe_path_from_proc(), "");
}

ssize_t fail_write(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}
ssize_t half_write(int fd, const void* b, size_t n) {
  if (n > 3) return vk::system_posix_calls().write(fd, b, 3);
  errno = ENOSPC;
  return -1;
}

TEST(WriteFileMakeDirs, TrueOnlyWhenEveryByteIsWritten) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  const std::string data = "0123456789";
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("n/e/w.bin"), data.data(), data.size()));
  EXPECT_EQ(slurp(t.path("n/e/w.bin")), data);
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("n/e/w.bin"), "ab", 2));
  EXPECT_EQ(slurp(t.path("n/e/w.bin")), "ab");
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("n/empty"), nullptr, 5));
  EXPECT_EQ(slurp(t.path("n/empty")), "");
  EXPECT_TRUE(vkportdir::write_file_make_dirs_w(vk::path_to_wide(t.path("n/w2")), "x", 1));
  EXPECT_EQ(slurp(t.path("n/w2")), "x");
  EXPECT_FALSE(vkportdir::write_file_make_dirs("", "x", 1));
  t.file("blocker", "b");
  EXPECT_FALSE(vkportdir::write_file_make_dirs(t.path("blocker/f"), "x", 1));
  // A failed write leaves the old file whole and no temporary file behind.
  t.file("n/fail.bin", "old");
  ::chmod(t.path("n/fail.bin").c_str(), 0640);
  for (auto* w : {fail_write, half_write}) {
    vk::posix_calls c = vk::system_posix_calls();
    c.write = w;
    vk::scoped_posix_calls scope(c);
    EXPECT_FALSE(vkportdir::write_file_make_dirs(t.path("n/fail.bin"), data.data(), data.size()));
  }
  EXPECT_EQ(slurp(t.path("n/fail.bin")), "old");
  // A written file keeps the permission bits of the one it replaces.
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("n/fail.bin"), "new", 3));
  EXPECT_EQ(slurp(t.path("n/fail.bin")), "new");
  struct stat st;
  ASSERT_EQ(::stat(t.path("n/fail.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Only what is a file, or a name, at the path is replaced.
  t.dir("n/adir");
  ASSERT_EQ(::mkfifo(t.path("n/fifo").c_str(), 0600), 0);
  for (const char* rel : {"n/adir", "n/fifo", "n/"})
    EXPECT_FALSE(vkportdir::write_file_make_dirs(t.path(rel), "x", 1)) << rel;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(t.path("n")))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"adir", "e", "empty", "fail.bin", "fifo", "w2"}));
}

// A write that the file-size limit cuts short (in a child process, with the
// limit below the new content and SIGXFSZ ignored) returns false and leaves
// the old content; the same for the binary-view writer.
TEST(WriteFileMakeDirs, FileSizeLimitKeepsTheOldContent) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  constexpr rlim_t k_limit = 4096;
  const std::string big(3 * k_limit, 'n');
  using writer = bool (*)(const std::string&, const std::string&);
  const std::pair<const char*, writer> writers[] = {
      {"write_file_make_dirs",
       [](const std::string& p, const std::string& d) {
         return vkportdir::write_file_make_dirs(p, d.data(), d.size());
       }},
      {"replace_file_contents",
       [](const std::string& p, const std::string& d) {
         return vkportdir::replace_file_contents(p, d.data(), d.size());
       }},
      {"write_binary_data_file",
       [](const std::string& p, const std::string& d) {
         vk::binary_data view =
             vk::binary_data_from_vector(std::vector<uint8_t>(d.begin(), d.end()), true);
         view.m_mode = 0;  // the raw bytes
         return vk::write_binary_data_file(view, p);
       }},
  };
  for (const auto& [name, write] : writers) {
    const std::string path = t.path(std::string("lim/") + name);
    t.file(std::string("lim/") + name, "old content");
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{k_limit, k_limit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
      // A small write still fits: the limit alone is not what fails.
      if (!write(path + ".small", "fits")) ::_exit(4);
      ::_exit(write(path, big) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << name;
    EXPECT_EQ(WEXITSTATUS(status), 0) << name;
    EXPECT_EQ(slurp(path), "old content") << name;
    EXPECT_EQ(slurp(path + ".small"), "fits") << name;
  }
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(t.path("lim"))) entries += e.exists() ? 1 : 0;
  EXPECT_EQ(entries, 2 * std::size(writers));  // no temporary file left
}

// Hostile texts: every truncation and seeded mutations, with nothing created
// or removed (every path-changing call is recorded and refused).
TEST(DirOpsHostile, TruncationsAndMutations) {
  const std::vector<std::string> seeds = {
      "/x/y/z",
      "\\\\?\\c:\\dir\\sub",
      "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x\\y\\z",
      "\"a\"/\"b\"",
      "c:\\",
      "\\\\.\\pipe\\x",
      "rel/one/two.txt",
      "../../up",
      "//",
  };
  recorder scope;
  auto run = [](const std::string& s) {
    vkportdir::make_dirs(s);
    vkportdir::remove_file(s);
    vkportdir::rename_file(s, s + "x", true);
    vkportdir::rename_file(s, "", false);
  };
  for (const auto& s : seeds)
    for (size_t n = 0; n <= s.size(); ++n) run(s.substr(0, n));
  std::mt19937 rng(23);
  const char alphabet[] = "/\\:\"?.gGlobaLR \x01\xff";
  for (int i = 0; i < 100000; ++i) {
    std::string s = seeds[rng() % seeds.size()];
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
      char c = alphabet[rng() % (sizeof alphabet - 1)];
      switch (rng() % 3) {
        case 0:
          s.insert(s.begin() + static_cast<long>(pos), c);
          break;
        case 1:
          if (pos < s.size()) s[pos] = c;
          break;
        default:
          if (pos < s.size()) s.erase(pos, 1);
          break;
      }
    }
    run(s);
  }
}

}  // namespace
