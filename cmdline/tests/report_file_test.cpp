// The report file: a whole report takes its target's place, a cut one never
// does and leaves nothing behind; a target whose folder takes no new file is
// written through a file elsewhere; the system's own reason is kept.
#include "cmdline/report_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
  int interrupted_fsyncs = 0;  // fsync calls that fail with EINTR first
  // At the open of this name, before it: the name becomes a link to swap_to,
  // or with swap_by_rename, swap_to itself is moved over it.
  std::string swap_name, swap_to, swap_folder;
  bool swap_by_rename = false;
  bool no_descriptor_names = false;  // /proc/self/fd/N names nothing
};
injected g_inject;

std::string folder_of_descriptor(int dir) {
  char buf[PATH_MAX] = {};
  const std::string self = "/proc/self/fd/" + std::to_string(dir);
  const ssize_t n = ::readlink(self.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

int openat_refusing(int dir, const char* name, int flags, mode_t mode) {
  const std::string folder = folder_of_descriptor(dir);
  if ((flags & O_CREAT) != 0 && !g_inject.refused_folder.empty() &&
      folder == g_inject.refused_folder && std::string(name).rfind(".vesk-report-", 0) == 0) {
    errno = EACCES;
    return -1;
  }
  if (!g_inject.swap_name.empty() && name == g_inject.swap_name) {
    // Someone else's link, swapped in between the look and the open.
    const std::string at = g_inject.swap_folder + "/" + name;
    if (g_inject.swap_by_rename) {
      std::filesystem::rename(g_inject.swap_to, at);
    } else {
      std::filesystem::remove(at);
      std::filesystem::create_symlink(g_inject.swap_to, at);
    }
    g_inject.swap_name.clear();
  }
  return vk::system_posix_calls().openat(dir, name, flags, mode);
}
ssize_t readlink_unnamed(const char* path, char* buf, size_t size) {
  if (g_inject.no_descriptor_names && std::string(path).rfind("/proc/self/fd/", 0) == 0) {
    errno = ENOENT;
    return -1;
  }
  return vk::system_posix_calls().readlink(path, buf, size);
}
int fsync_interrupted(int fd) {
  if (g_inject.interrupted_fsyncs > 0) {
    --g_inject.interrupted_fsyncs;
    errno = EINTR;
    return -1;
  }
  return vk::system_posix_calls().fsync(fd);
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
  calls.openat = openat_refusing;
  calls.write = write_full_disk;
  calls.pwrite = pwrite_full_disk;
  calls.fsync = fsync_interrupted;
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
    int interrupted_fsyncs = 0;
  } rows[] = {
      {"beside", false, false, 0, false, true, 0, false, false},
      {"beside, disk full", false, true, 0, false, false, ENOSPC, false, false},
      {"beside, nothing read", false, false, 0, true, false, 0, false, false},
      {"beside, fsync interrupted", false, false, 0, false, true, 0, false, false, 2},
      {"elsewhere", true, false, 0, false, true, 0, false, false},
      {"elsewhere, disk full", true, true, 0, false, false, ENOSPC, false, false},
      {"elsewhere, target's disk full", true, false, 1, false, false, ENOSPC, true, false},
      {"elsewhere, target's disk full past its first part", true, false, 2, false, false, ENOSPC,
       true, true},
      {"elsewhere, nothing read", true, false, 0, true, false, 0, false, false},
      {"elsewhere, fsync interrupted", true, false, 0, false, true, 0, false, false, 2},
  };
  const mode_t umask_before = ::umask(022);
  const std::string report(300000, 'r');  // beyond one put area
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    tree.file("d/r.txt", "earlier");
    ASSERT_EQ(::chmod(tree.path("d/r.txt").c_str(), 0640), 0);
    g_inject = {};
    if (r.folder_refuses) g_inject.refused_folder = tree.path("d");
    vk::report_file file;
    ASSERT_TRUE(file.open(tree.path("d/r.txt"))) << std::strerror(file.error());
    EXPECT_EQ(names_in(tree.path("d")).size(), r.folder_refuses ? 1u : 2u);
    EXPECT_EQ(names_in(elsewhere.root()).size(), r.folder_refuses ? 1u : 0u);
    // Made with its final mode: from its first moment no wider than the
    // report it replaces (0640), the umask (022) taken too.
    struct stat made;
    ASSERT_EQ(::stat(file.written_path().c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777 & ~0640u, 0u) << std::oct << (made.st_mode & 0777);
    EXPECT_EQ(file.role_of(tree.path("d/r.txt")), vk::report_file::role::target);
    file.stream() << report;
    g_inject.full_on_write = r.full_on_write;
    g_inject.full_from_pwrite = r.full_from_pwrite;
    g_inject.interrupted_fsyncs = r.interrupted_fsyncs;
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
  ::umask(umask_before);
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
  calls.openat = openat_refusing;
  vk::scoped_posix_calls seam(calls);
  g_inject = {};
  g_inject.refused_folder = tree.path("d");
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

// One of the process's own streams, named however the name reaches it, is
// written through its descriptor as it was opened: a file it appends to, or
// whose place it shares, keeps what it holds; the name never replaces the
// file behind it. Held, it gets nothing before the end, and nothing at all
// when its file turned out to be an input. A temporary folder that takes no
// file leaves the file's own folder, and only no folder at all refuses it.
TEST(ReportFile, NamedStreamsAreWrittenThroughTheirDescriptor) {
  temp_tree tree, elsewhere;
  ASSERT_TRUE(tree.ok() && elsewhere.ok());
  vk::posix_calls calls = vk::system_posix_calls();
  calls.openat = openat_refusing;
  calls.readlink = readlink_unnamed;
  vk::scoped_posix_calls seam(calls);
  tree.symlink("/dev/stdout", "to-stdout");
  const std::string pid = std::to_string(::getpid());
  // $TMPDIR: the working folder, missing, a file, a folder that takes no
  // file, the working folder named from the working directory, or missing
  // with the stream's own folder taking no file either or unnamed.
  enum class tmp { working, missing, a_file, refusing, relative, nowhere, unnamed };
  const std::string relative = std::filesystem::relative(elsewhere.root()).string();
  const struct {
    const char* name;
    std::string form;  // the name, %d the descriptor
    int flags;
    bool opens;
    bool discarded;
    const char* after;
    bool held = false;
    bool kept = false;  // held, and its file was an input
    tmp folder = tmp::working;
  } rows[] = {
      {"appending", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport"},
      {"sharing its place", "/proc/self/fd/%d", O_WRONLY, true, false, "earlier\nreport"},
      {"run read nothing", "/dev/fd/%d", O_WRONLY | O_APPEND, true, true, "earlier\n"},
      {"read only", "/dev/fd/%d", O_RDONLY, false, false, "earlier\n"},
      {"not open", "/dev/fd/%d", -1, false, false, "earlier\n"},
      {"two slashes", "//dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport"},
      {"a dot", "/dev/./fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport"},
      {"a dot-dot", "/dev/../dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport"},
      {"the thread's folder", "/proc/thread-self/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\nreport"},
      {"the process's number", "/proc/" + pid + "/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\nreport"},
      {"a link to a link to it", tree.path("to-fd"), O_WRONLY | O_APPEND, true, false,
       "earlier\nreport"},
      {"held", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport", true},
      {"held, sharing its place", "/dev/fd/%d", O_WRONLY, true, false, "earlier\nreport", true},
      {"held, run read nothing", "/dev/fd/%d", O_WRONLY | O_APPEND, true, true, "earlier\n", true},
      {"held, an input", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\n", true, true},
      {"held, $TMPDIR missing", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport",
       true, false, tmp::missing},
      {"held, sharing its place, $TMPDIR missing", "/dev/fd/%d", O_WRONLY, true, false,
       "earlier\nreport", true, false, tmp::missing},
      {"held, $TMPDIR a file", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false, "earlier\nreport",
       true, false, tmp::a_file},
      {"held, $TMPDIR takes no file", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\nreport", true, false, tmp::refusing},
      {"held, a relative $TMPDIR", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\nreport", true, false, tmp::relative},
      {"held, an input, $TMPDIR missing", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\n", true, true, tmp::missing},
      {"held, an input, a relative $TMPDIR", "/dev/fd/%d", O_WRONLY | O_APPEND, true, false,
       "earlier\n", true, true, tmp::relative},
      {"held, no folder takes the file", "/dev/fd/%d", O_WRONLY | O_APPEND, true, true, "earlier\n",
       true, false, tmp::nowhere},
      {"held, no name for its file", "/dev/fd/%d", O_WRONLY | O_APPEND, true, true, "earlier\n",
       true, false, tmp::unnamed},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    tree.file("log.txt", "earlier\n");
    const int fd = ::open(tree.path("log.txt").c_str(), r.flags == -1 ? O_RDONLY : r.flags);
    ASSERT_NE(fd, -1);
    ::lseek(fd, 0, SEEK_END);
    char name[128];
    std::snprintf(name, sizeof name, r.form.c_str(), r.flags == -1 ? 999 : fd);
    std::filesystem::remove(tree.path("to-fd"));
    tree.symlink(tree.path("to-fd2"), "to-fd");
    std::filesystem::remove(tree.path("to-fd2"));
    tree.symlink("/dev/fd/" + std::to_string(fd), "to-fd2");
    const bool missing =
        r.folder == tmp::missing || r.folder == tmp::nowhere || r.folder == tmp::unnamed;
    scoped_tmpdir tmpdir(missing                     ? tree.path("missing")
                         : r.folder == tmp::a_file   ? std::string("/dev/null")
                         : r.folder == tmp::relative ? relative
                                                     : elsewhere.root());
    g_inject = {};
    if (r.folder == tmp::refusing) g_inject.refused_folder = elsewhere.root();
    if (r.folder == tmp::nowhere) g_inject.refused_folder = tree.root();
    // Where a held report is written: beside the file when $TMPDIR takes none.
    const bool beside = r.folder != tmp::working && r.folder != tmp::relative;
    const std::string held_in = (beside                      ? tree.root()
                                 : r.folder == tmp::relative ? relative
                                                             : elsewhere.root()) +
                                "/.vesk-report-";
    {
      vk::report_file file;
      ASSERT_EQ(file.open(name), r.opens);
      if (r.opens && (r.folder == tmp::nowhere || r.folder == tmp::unnamed)) {
        // Never the working folder for want of a name.
        g_inject.no_descriptor_names = r.folder == tmp::unnamed;
        EXPECT_FALSE(file.hold_stream());
        EXPECT_EQ(file.reason(),
                  std::string(r.folder == tmp::nowhere ? "Permission denied"
                                                       : "No such file or directory") +
                      "; the temporary folder " + tree.path("missing") +
                      " ($TMPDIR): No such file or directory");
        file.discard();
      } else if (r.opens) {
        EXPECT_TRUE(file.direct());
        if (r.held) {
          ASSERT_TRUE(file.hold_stream());
          EXPECT_EQ(file.held_beside_note().empty(), !beside);
          if (r.folder == tmp::missing) {
            EXPECT_EQ(file.held_beside_note(),
                      "held in " + tree.root() + "/ until the run ends (the temporary folder " +
                          tree.path("missing") + " ($TMPDIR): No such file or directory)");
          }
          EXPECT_FALSE(file.direct());
          EXPECT_EQ(file.role_of(tree.path("log.txt")), vk::report_file::role::target);
        } else {
          EXPECT_EQ(file.role_of(tree.path("log.txt")), vk::report_file::role::own);
        }
        file.stream() << "report";
        // Nothing reaches a held stream before the end.
        if (r.held) {
          file.stream().flush();
          EXPECT_EQ(slurp(tree.path("log.txt")), "earlier\n");
        }
        if (r.kept) file.keep_target();
        if (r.discarded) {
          file.discard();
        } else {
          EXPECT_TRUE(file.finish());
        }
        if (r.kept) {
          EXPECT_EQ(file.written_path().rfind(held_in, 0), 0u) << file.written_path();
          EXPECT_EQ(slurp(file.written_path()), "report");
          std::filesystem::remove(file.written_path());
        }
      } else {
        EXPECT_EQ(file.error(), EBADF);
      }
    }
    // The descriptor stays the process's, at the end of what was written.
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(std::strlen(r.after)));
    ::close(fd);
    EXPECT_EQ(slurp(tree.path("log.txt")), r.after);
    EXPECT_EQ(names_in(tree.root()),
              (std::vector<std::string>{"log.txt", "to-fd", "to-fd2", "to-stdout"}));
    EXPECT_TRUE(names_in(elsewhere.root()).empty());
  }
  g_inject = {};
  // Names of the process's streams, and names that only look like them.
  EXPECT_EQ(vk::named_stream_descriptor(tree.path("to-stdout")), 1);
  EXPECT_EQ(vk::named_stream_descriptor("/dev/stderr"), 2);
  EXPECT_EQ(vk::named_stream_descriptor("/proc/1/fd/1"), ::getpid() == 1 ? 1 : -1);
  EXPECT_EQ(vk::named_stream_descriptor(tree.path("dev/stdout")), -1);
  EXPECT_EQ(vk::named_stream_descriptor("/dev/null"), -1);
}

// The target's folder is opened once and every later step is taken in it:
// the folder moved during the run gets the report where it now is, a link
// swapped in meanwhile is never followed, and what is removed is only the
// run's own file.
TEST(ReportFile, LaterStepsTakeTheFolderOpenedFirst) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  vk::posix_calls calls = vk::system_posix_calls();
  calls.openat = openat_refusing;
  vk::scoped_posix_calls seam(calls);
  const std::string evidence = "evidence bytes";
  const struct {
    const char* name;
    const char* target;
    bool kept;       // the target turned out to be an input
    bool moved;      // d is renamed to e after the open
    bool swapped;    // link is turned to ev after the open
    bool fifo_swap;  // the pipe's name becomes a link to ev/x.ms just before its open
    bool discarded;
    const char* where;  // where the report is at the end, "" nowhere
  } rows[] = {
      {"folder moved", "d/r.txt", false, true, false, false, false, "e/r.txt"},
      {"folder moved, target kept", "d/r.txt", true, true, false, false, false, "e/"},
      {"link to a folder swapped, nothing read", "link/x.ms", false, false, true, false, true, ""},
      {"link to a folder swapped", "link/x.ms", false, false, true, false, false, "empty/x.ms"},
      {"pipe swapped for a link", "p/fifo", false, false, false, true, false, ""},
      {"pipe swapped for a file by rename", "p/fifo", false, false, false, true, false, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove_all(tree.path("d"));
    std::filesystem::remove_all(tree.path("e"));
    std::filesystem::remove_all(tree.path("empty"));
    std::filesystem::remove_all(tree.path("p"));
    std::filesystem::remove(tree.path("link"));
    tree.file("d/r.txt", "earlier");
    tree.file("ev/x.ms", evidence);
    tree.dir("empty");
    tree.dir("p");
    ASSERT_EQ(::mkfifo(tree.path("p/fifo").c_str(), 0600), 0);
    tree.symlink(tree.path("empty"), "link");
    const bool by_rename = std::string(r.name).find("rename") != std::string::npos;
    if (r.fifo_swap) {
      g_inject.swap_name = "fifo";
      g_inject.swap_folder = tree.path("p");
      g_inject.swap_to = tree.path("ev/x.ms");
      // Another file of the evidence, moved over the pipe's name.
      if (by_rename) {
        tree.file("ev/y.ms", evidence);
        g_inject.swap_to = tree.path("ev/y.ms");
        g_inject.swap_by_rename = true;
      }
    }
    vk::report_file file;
    const bool opened = file.open(tree.path(r.target));
    g_inject = {};
    if (by_rename) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(file.error(), ESTALE);
      EXPECT_EQ(slurp(tree.path("p/fifo")), evidence);
    } else if (r.fifo_swap) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(file.error(), ELOOP);
    } else {
      ASSERT_TRUE(opened);
      file.stream() << "report";
      if (r.kept) file.keep_target();
      if (r.moved) std::filesystem::rename(tree.path("d"), tree.path("e"));
      if (r.swapped) {
        std::filesystem::remove(tree.path("link"));
        tree.symlink(tree.path("ev"), "link");
      }
      if (r.discarded)
        file.discard();
      else
        EXPECT_TRUE(file.finish());
    }
    EXPECT_EQ(slurp(tree.path("ev/x.ms")), evidence);
    EXPECT_EQ(names_in(tree.path("ev")), std::vector<std::string>{"x.ms"});
    const std::string where = r.where;
    if (where.empty()) {
      EXPECT_TRUE(names_in(tree.path("empty")).empty());
    } else if (where.back() == '/') {
      // Said where it is now, not where its folder was.
      EXPECT_EQ(file.written_path().rfind(tree.path(where), 0), 0u) << file.written_path();
      EXPECT_EQ(slurp(file.written_path()), "report");
      EXPECT_EQ(slurp(tree.path("e/r.txt")), "earlier");
    } else {
      EXPECT_EQ(slurp(tree.path(where)), "report");
      // Put in place where its folder is now, and said to be there.
      EXPECT_EQ(file.placed_elsewhere(), r.moved || r.swapped);
      EXPECT_EQ(file.written_path(), r.moved || r.swapped ? tree.path(where) : tree.path(r.target));
    }
  }
}
