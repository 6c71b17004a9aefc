// The report file: a whole report takes its target's place, a cut one never
// does and leaves nothing behind; a target whose folder takes no new file is
// written through a file elsewhere; the system's own reason is kept.
#include "cmdline/report_file.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/vk_posix.h"
#include "posix_seam.h"
#include "temp_tree.h"
#include "vesk_run.h"

namespace {

using vesk_test::slurp;
using vesk_test::temp_tree;

// What the seam is to do: refuse new files in one folder (as a folder the
// user may not write), and fail writes of one kind with ENOSPC.
struct injected {
  std::string refused_folder;
  bool full_on_write = false;
  int full_from_pwrite = 0;  // the first of the target's writes to fail, 0 none
  int pwrites = 0;
};
injected g_inject;

int open_refusing(const char* path, int flags, mode_t mode) {
  const std::string p = path;
  if ((flags & O_CREAT) != 0 && !g_inject.refused_folder.empty() &&
      p.rfind(g_inject.refused_folder + "/", 0) == 0 && p.find("/.vesk-report-") != p.npos) {
    errno = EACCES;
    return -1;
  }
  return vk::system_posix_calls().open(path, flags, mode);
}
ssize_t write_full_disk(int fd, const void* buf, size_t len) {
  if (g_inject.full_on_write) {
    errno = ENOSPC;
    return -1;
  }
  return vk::system_posix_calls().write(fd, buf, len);
}
ssize_t pwrite_full_disk(int fd, const void* buf, size_t len, off_t at) {
  if (g_inject.full_from_pwrite != 0 && ++g_inject.pwrites >= g_inject.full_from_pwrite) {
    errno = ENOSPC;
    return -1;
  }
  return vk::system_posix_calls().pwrite(fd, buf, len, at);
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class scoped_tmpdir {
 public:
  explicit scoped_tmpdir(const std::string& dir) {
    if (const char* old = std::getenv("TMPDIR")) m_old = old, m_had = true;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~scoped_tmpdir() {
    if (m_had)
      ::setenv("TMPDIR", m_old.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

 private:
  std::string m_old;
  bool m_had = false;
};

}  // namespace

TEST(ReportFile, OnlyAWholeReportTakesTheTargetsPlace) {
  temp_tree tree, elsewhere;
  ASSERT_TRUE(tree.ok() && elsewhere.ok());
  scoped_tmpdir tmpdir(elsewhere.root());
  vk::posix_calls calls = vk::system_posix_calls();
  calls.open = open_refusing;
  calls.write = write_full_disk;
  calls.pwrite = pwrite_full_disk;
  vk::scoped_posix_calls seam(calls);
  const struct {
    const char* name;
    bool folder_refuses;  // the temporary file goes elsewhere, then is copied in
    bool full_on_write;
    int full_from_pwrite;
    bool discarded;       // the run read nothing
    bool placed;          // the target holds the new report
    int error;            // after finish
    bool kept_elsewhere;  // the whole report stays where it was written
    bool damaged;         // the target holds part of the new report
  } rows[] = {
      {"beside", false, false, 0, false, true, 0, false, false},
      {"beside, disk full", false, true, 0, false, false, ENOSPC, false, false},
      {"beside, nothing read", false, false, 0, true, false, 0, false, false},
      {"elsewhere", true, false, 0, false, true, 0, false, false},
      {"elsewhere, disk full", true, true, 0, false, false, ENOSPC, false, false},
      {"elsewhere, target's disk full", true, false, 1, false, false, ENOSPC, true, false},
      {"elsewhere, target's disk full past its first part", true, false, 2, false, false, ENOSPC,
       true, true},
      {"elsewhere, nothing read", true, false, 0, true, false, 0, false, false},
  };
  const std::string report(300000, 'r');  // beyond one put area
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    tree.file("d/r.txt", "earlier");
    ASSERT_EQ(::chmod(tree.path("d/r.txt").c_str(), 0640), 0);
    g_inject = {r.folder_refuses ? tree.path("d") : std::string(), false, 0};
    vk::report_file file;
    ASSERT_TRUE(file.open(tree.path("d/r.txt"))) << std::strerror(file.error());
    EXPECT_EQ(names_in(tree.path("d")).size(), r.folder_refuses ? 1u : 2u);
    EXPECT_EQ(names_in(elsewhere.root()).size(), r.folder_refuses ? 1u : 0u);
    EXPECT_EQ(file.role_of(tree.path("d/r.txt")), vk::report_file::role::target);
    file.stream() << report;
    g_inject.full_on_write = r.full_on_write;
    g_inject.full_from_pwrite = r.full_from_pwrite;
    if (r.discarded) {
      file.discard();
    } else {
      EXPECT_EQ(file.finish(), r.placed);
      EXPECT_EQ(file.error(), r.error) << std::strerror(file.error());
    }
    g_inject = {};
    EXPECT_EQ(file.target_damaged(), r.damaged);
    if (r.damaged) {
      EXPECT_EQ(slurp(tree.path("d/r.txt")), report.substr(0, uni::k_output_buffer_size));
    } else {
      EXPECT_EQ(slurp(tree.path("d/r.txt")), r.placed ? report : "earlier");
    }
    struct stat st;
    ASSERT_EQ(::stat(tree.path("d/r.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names_in(tree.path("d")), std::vector<std::string>{"r.txt"});
    if (r.kept_elsewhere) {
      ASSERT_EQ(names_in(elsewhere.root()).size(), 1u);
      EXPECT_EQ(file.written_path().rfind(elsewhere.root() + "/.vesk-report-", 0), 0u);
      EXPECT_EQ(slurp(file.written_path()), report);
      std::filesystem::remove(file.written_path());
    } else {
      EXPECT_EQ(file.written_path(), r.placed ? tree.path("d/r.txt") : std::string());
    }
    EXPECT_TRUE(names_in(elsewhere.root()).empty());
  }
}

// A name is looked at before anything is made: an empty one, one longer
// than the system takes, a link in a loop are refused; a link to a name not
// made yet, through another link, gets the report at that name; a temporary
// folder that is not there is named with its own reason.
TEST(ReportFile, NamesAreLookedAtBeforeAnythingIsMade) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.dir("d");
  tree.symlink("d/made.txt", "link");
  tree.symlink("../link", "d/to-link");
  tree.symlink("loop", "loop");
  const struct {
    std::string target;
    int error;
  } rows[] = {
      {"", ENOENT},
      {tree.path(std::string(PATH_MAX, 'a')), ENAMETOOLONG},
      {tree.path("loop"), ELOOP},
      {tree.path("d/to-link"), 0},
  };
  for (const auto& r : rows) {
    vk::report_file file;
    EXPECT_EQ(file.open(r.target), r.error == 0) << r.target.substr(0, 80);
    EXPECT_EQ(file.error(), r.error);
    if (r.error != 0) continue;
    file.stream() << "report";
    EXPECT_TRUE(file.finish());
  }
  EXPECT_EQ(slurp(tree.path("d/made.txt")), "report");
  EXPECT_EQ(names_in(tree.path("d")), (std::vector<std::string>{"made.txt", "to-link"}));
  EXPECT_EQ(names_in(tree.root()), (std::vector<std::string>{"d", "link", "loop"}));

  scoped_tmpdir missing(tree.path("missing"));
  vk::posix_calls calls = vk::system_posix_calls();
  calls.open = open_refusing;
  vk::scoped_posix_calls seam(calls);
  g_inject = {tree.path("d"), false, 0};
  vk::report_file file;
  EXPECT_FALSE(file.open(tree.path("d/made.txt")));
  g_inject = {};
  EXPECT_EQ(file.reason(), "Permission denied; the temporary folder " + tree.path("missing") +
                               " ($TMPDIR): No such file or directory");
}

// What is no regular file is written as it is: nothing to replace, nothing
// beside it; a failure there gives the system's reason too.
TEST(ReportFile, DevicesAndPipesAreWrittenDirectly) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0600), 0);
  const int reader = ::open(tree.path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_NE(reader, -1);
  for (const std::string& target : {std::string("/dev/null"), tree.path("fifo")}) {
    vk::report_file file;
    ASSERT_TRUE(file.open(target)) << target;
    EXPECT_TRUE(file.direct());
    file.stream() << "report";
    EXPECT_TRUE(file.finish()) << target;
    EXPECT_EQ(file.written_path(), target);
  }
  char got[16] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 6);
  ::close(reader);
  if (::access("/dev/full", W_OK) == 0) {
    vk::report_file full;
    ASSERT_TRUE(full.open("/dev/full"));
    full.stream() << "report";
    EXPECT_FALSE(full.finish());
    EXPECT_EQ(full.error(), ENOSPC);
  }
  EXPECT_EQ(names_in(tree.root()), std::vector<std::string>{"fifo"});
}
