#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_dirio.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_posix.h"
#include "posix_seam.h"
#include "temp_tree.h"

namespace {

using vkportdir::find_entry;
using vkportdir::stdin_stream_ex;

std::wstring wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

const find_entry* by_name(const std::vector<find_entry>& v, const std::string& path) {
  for (const auto& e : v)
    if (e.path == path) return &e;
  return nullptr;
}

std::vector<std::string> paths_of(const std::vector<find_entry>& v) {
  std::vector<std::string> out;
  for (const auto& e : v) out.push_back(e.path);
  return out;
}

// Drains a walk through getline.
std::vector<std::string> drain(stdin_stream_ex& s) {
  std::vector<std::string> out;
  std::string line;
  while (s.getline(line, true)) out.push_back(line);
  return out;
}

// The order the walk must hand names out in, computed from listings read
// back from the system: files of a directory last-listed first, then its
// subdirectories last-listed first, each to its full depth.
void expected_walk(const std::string& dir, uint32_t depth, uint32_t limit,
                   std::vector<std::string>& out) {
  if (depth > limit) return;
  std::vector<find_entry> listed;
  vkportdir::list_dir_entries(dir, listed, 0, false, true);
  for (auto it = listed.rbegin(); it != listed.rend(); ++it)
    if (!it->is_dir) out.push_back(it->path);
  for (auto it = listed.rbegin(); it != listed.rend(); ++it)
    if (it->is_dir) expected_walk(it->path, depth + 1, limit, out);
}

TEST(DirReader, YieldsStatusAndSkipsDotEntries) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("f");
  t.dir("d");
  vk::dir_reader r(t.root());
  ASSERT_TRUE(r.is_open());
  std::map<std::string, vk::dir_item> seen;
  vk::dir_item it;
  while (r.next(it)) seen[it.name] = it;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen["f"].status_ok);
  EXPECT_FALSE(vk::mode_is_dir(seen["f"].mode));
  EXPECT_TRUE(vk::mode_is_dir(seen["d"].mode));
  EXPECT_FALSE(vk::dir_reader(t.path("missing")).is_open());
  EXPECT_FALSE(vk::dir_reader("").is_open());
}

// Makes the status call fail for the entries whose name begins with "x"
// while the object lives, whoever runs the tests.
vk::posix_calls fail_x_entries() {
  vk::posix_calls c = vk::system_posix_calls();
  c.fstatat = [](int dir_fd, const char* name, struct stat* st, int flags) {
    st->st_mode = 0x41ED;  // a directory mode: junk a careless reader would class the entry by
    if (name[0] == 'x') {
      errno = EACCES;
      return -1;
    }
    return vk::system_posix_calls().fstatat(dir_fd, name, st, flags);
  };
  return c;
}
struct failing_status {
  failing_status() : scope(fail_x_entries()) {}
  vk::scoped_posix_calls scope;
};

TEST(DirReader, UnstattableEntryIsReportedNotGuessed) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("xdir/inner");
  t.file("xfile");
  t.file("ok");
  failing_status failing;
  std::map<std::string, vk::dir_item> seen;
  vk::dir_reader r(t.root());
  vk::dir_item it;
  while (r.next(it)) seen[it.name] = it;
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen["xdir"].status_ok);
  EXPECT_EQ(seen["xdir"].mode, 0u);
  EXPECT_FALSE(seen["xfile"].status_ok);
  EXPECT_TRUE(seen["ok"].status_ok);

  // The listing hands both on as files: nothing is lost, nothing is
  // classed by a stale mode word.
  std::vector<find_entry> out;
  ASSERT_TRUE(vkportdir::list_dir_entries(t.root() + "/", out, 0, false, true));
  ASSERT_EQ(out.size(), 3u);
  for (const auto& e : out) EXPECT_FALSE(e.is_dir) << e.path;
  const find_entry* d = by_name(out, t.path("xdir"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->name, "xdir");
  EXPECT_EQ(d->depth, 0u);
  std::vector<find_entry> dirs;
  EXPECT_FALSE(vkportdir::list_dir_entries(t.root() + "/", dirs, 0, true, true));

  // A walk hands the entry out by its name and does not descend into it.
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(wide(t.root() + "/"), UINT32_MAX, nullptr));
  auto walked = drain(s);
  EXPECT_EQ(std::set<std::string>(walked.begin(), walked.end()),
            (std::set<std::string>{t.path("xdir"), t.path("xfile"), t.path("ok")}));
}

TEST(DirReader, StatusCallCanBePutBack) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("xdir");
  { failing_status failing; }
  vk::dir_reader r(t.root());
  vk::dir_item it;
  ASSERT_TRUE(r.next(it));
  EXPECT_TRUE(it.status_ok);
  EXPECT_TRUE(vk::mode_is_dir(it.mode));
}

TEST(DirListing, FilesDirsDepthAndSeparators) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("a.txt");
  t.dir("x");
  t.symlink(t.path("x"), "link");
  std::vector<find_entry> out;
  ASSERT_TRUE(vkportdir::list_dir_entries(t.root() + "/", out, 0, false, true));
  ASSERT_EQ(out.size(), 3u);
  const find_entry* f = by_name(out, t.path("a.txt"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->name, "a.txt");
  EXPECT_EQ(f->is_dir, 0);
  EXPECT_EQ(f->depth, 0u);
  const find_entry* d = by_name(out, t.path("x/"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->name, "");
  EXPECT_EQ(d->is_dir, 1);
  EXPECT_EQ(d->depth, 1u);
  const find_entry* l = by_name(out, t.path("link"));  // a link to a directory is a file
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->is_dir, 0);

  std::vector<find_entry> dirs;
  vkportdir::list_dir_entries(t.root() + "/", dirs, 5, true, true);
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_EQ(dirs[0].depth, 6u);
  std::vector<find_entry> none;
  EXPECT_FALSE(vkportdir::list_dir_entries(t.path("nothing/"), none, 0, false, true));
}

TEST(DirListing, MatchCompletesTheDirectoryText) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("a.txt");
  t.dir("x");
  std::vector<find_entry> out;
  vkportdir::match_dir_entries(t.root(), "", out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_NE(by_name(out, t.path("a.txt")), nullptr);
  EXPECT_NE(by_name(out, t.path("x/")), nullptr);
  for (const auto& e : out) EXPECT_EQ(e.path.find("/."), std::string::npos);
  // A relative name without any separator is listed in the '/' form.
  vesk_test::scoped_cwd cwd(t.root());
  vkportdir::match_dir_entries("x", "*", out);
  EXPECT_TRUE(out.empty());
  t.file("x/in");
  vkportdir::match_dir_entries("x", "*", out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].path, "x/in");
  vkportdir::match_dir_entries(".", "", out);
  EXPECT_NE(by_name(out, "./a.txt"), nullptr);
  EXPECT_NE(by_name(out, "./x/"), nullptr);
}

TEST(DirListing, NameAndExtensionPatterns) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  for (const char* n : {"a.TXT", "a.txt.bak", "report.doc", "report", "rep*.doc", "repx.doc"})
    t.file(n);
  t.dir("sub.dir");
  auto names = [&](const std::string& pattern) {
    std::vector<find_entry> out;
    vkportdir::match_dir_entries(t.root(), pattern, out);
    std::set<std::string> s;
    for (const auto& e : out) {
      std::string key(e.is_dir ? 1 : 0, '<');
      key += e.is_dir ? e.path.substr(t.root().size() + 1) : e.name;
      s.insert(key);
    }
    return s;
  };
  EXPECT_EQ(names("*.txt"), (std::set<std::string>{"a.TXT", "<sub.dir/"}));
  EXPECT_EQ(names("*.TXT"), names("*.txt"));
  EXPECT_EQ(names("report"), (std::set<std::string>{"report.doc", "report", "<sub.dir/"}));
  EXPECT_EQ(names("rep*.doc"), (std::set<std::string>{"rep*.doc", "<sub.dir/"}));
  EXPECT_EQ(names("*.*").size(), 7u);
  EXPECT_EQ(names("").size(), 7u);

  std::vector<std::string> files;
  vkportdir::find_files(t.root(), "*.doc", files, false);
  EXPECT_EQ(files.size(), 3u);
  files.clear();
  vkportdir::find_files_cstr(t.root().c_str(), "*.doc", files);
  EXPECT_EQ(files.size(), 4u);  // directories included
  files.clear();
  vkportdir::find_files_any(nullptr, files);
  EXPECT_TRUE(files.empty());
}

TEST(DirListing, ABackslashInANameSplitsNameAndPatternAlike) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("q\\r.txt");
  t.file("r.doc");
  std::vector<std::string> files;
  vkportdir::find_files(t.root(), "q\\r.txt", files, false);
  EXPECT_EQ(files, std::vector<std::string>{t.path("q\\r.txt")});
}

TEST(DirWildcards, ExpandsEverySubdirectoryInListingOrder) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("p/logs/one.log");
  t.file("q/logs/two.log");
  t.dir("r");  // no logs folder: contributes nothing
  std::vector<find_entry> subdirs;
  vkportdir::list_dir_entries(t.root() + "/", subdirs, 0, true, true);
  std::vector<std::string> expected;
  for (const auto& d : subdirs) expected.push_back(d.path + "logs");

  std::vector<std::string> out;
  EXPECT_TRUE(vkportdir::expand_dir_wildcards((t.root() + "/*/logs").c_str(), out));
  EXPECT_EQ(out, expected);
  // What the caller had in the list stays as it was.
  std::vector<std::string> kept{t.root() + "/*/mine"};
  vkportdir::expand_dir_wildcards((t.root() + "/*/logs").c_str(), kept);
  ASSERT_EQ(kept.size(), expected.size() + 1);
  EXPECT_EQ(kept[0], t.root() + "/*/mine");

  std::vector<find_entry> found;
  vkportdir::match_dir_entries(t.root() + "/*/logs", "*.log", found);
  const auto found_paths = paths_of(found);
  std::set<std::string> got(found_paths.begin(), found_paths.end());
  EXPECT_EQ(got, (std::set<std::string>{t.path("p/logs/one.log"), t.path("q/logs/two.log")}));

  std::ostringstream os;
  vkportdir::print_dir_wildcard_expansion((t.root() + "/*/logs").c_str(), os);
  const std::string printed = os.str();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 3);

  vesk_test::temp_tree empty;
  ASSERT_TRUE(empty.ok());
  vkportdir::match_dir_entries(empty.root() + "/*/logs", "", found);
  EXPECT_TRUE(found.empty());
}

TEST(DirWildcards, DirectoryNamedStarEndsTheExpansion) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("*/f");
  t.file("a/f");
  std::vector<std::string> out;
  vkportdir::expand_dir_wildcards((t.root() + "/*/").c_str(), out);
  EXPECT_EQ(out.size(), 2u);
  std::vector<find_entry> found;
  vkportdir::match_dir_entries(t.root() + "/*/", "f", found);
  EXPECT_NE(by_name(found, t.path("a/f")), nullptr);
}

TEST(FindEntry, LongPathFlags) {
  vkportdir::find_entry_w a(L"\\\\?\\c:\\x", L"x", false, 0);
  EXPECT_EQ(a.long_path, 1);
  EXPECT_EQ(a.globalroot, 0);
  const std::wstring g = L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\f";
  ASSERT_GT(g.size(), 46u);
  vkportdir::find_entry_w b(g, L"f", false, 0);
  EXPECT_EQ(b.long_path, 1);
  EXPECT_EQ(b.globalroot, 1);
  vkportdir::find_entry_w c(L"\\\\?\\", L"", true, 1);
  EXPECT_EQ(c.long_path, 0);
  vkportdir::find_entry n("\\\\?\\c:\\x", "x", false, 0);
  EXPECT_EQ(n.long_path, 1);
  vkportdir::find_entry_w w;
  vkportdir::find_entry_to_wide(w, n);
  EXPECT_EQ(w.path, L"\\\\?\\c:\\x");
  EXPECT_EQ(w.long_path, 0);
}

TEST(FileNameSource, LongPathPrefixIsCutUnlessGlobal) {
  stdin_stream_ex s;
  std::wstring shortp = L"\\\\?\\" + std::wstring(42, L'a');  // 46 characters
  ASSERT_TRUE(s.accept_path(shortp, false));
  EXPECT_EQ(shortp, std::wstring(42, L'a'));
  const std::wstring global = L"\\\\?\\GlobalRoot\\Device\\HarddiskVolumeShadowCopy7\\x";
  std::wstring g = global;
  ASSERT_GT(g.size(), 46u);
  s.accept_path(g, false);
  EXPECT_EQ(g, global);
  std::wstring other = L"\\\\?\\" + std::wstring(50, L'b');
  s.accept_path(other, true);
  EXPECT_EQ(other, std::wstring(50, L'b'));
  std::wstring short_global = L"\\\\?\\global\\x";
  s.accept_path(short_global, false);
  EXPECT_EQ(short_global, L"global\\x");
  // The length bound on "global": 46 characters are cut, 47 are kept.
  const std::wstring g46 = L"\\\\?\\global" + std::wstring(36, L'z');
  ASSERT_EQ(g46.size(), 46u);
  std::wstring at46 = g46;
  s.accept_path(at46, false);
  EXPECT_EQ(at46, g46.substr(4));
  std::wstring at47 = g46 + L"z";
  s.accept_path(at47, false);
  EXPECT_EQ(at47, g46 + L"z");
}

class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.ok());
    t.file("r1");
    t.file("r2");
    t.file("a/a1");
    t.file("a/deep/d1");
    t.file("a/deep/deeper/e1");
    t.file("b/b1");
    t.file("b/b2");
    t.dir("empty");
  }
  std::vector<std::string> walk(uint32_t limit, stdin_stream_ex::file_test test = nullptr) {
    stdin_stream_ex s;
    EXPECT_TRUE(s.start_walk(wide(t.root() + "/"), limit, std::move(test)));
    return drain(s);
  }
  std::vector<std::string> expected(uint32_t limit) {
    std::vector<std::string> out;
    expected_walk(t.root() + "/", 0, limit, out);
    return out;
  }
  vesk_test::temp_tree t;
};

TEST_F(WalkTest, DepthLimitsAndOrder) {
  auto d0 = walk(0);
  EXPECT_EQ(d0, expected(0));
  EXPECT_EQ(std::set<std::string>(d0.begin(), d0.end()),
            (std::set<std::string>{t.path("r1"), t.path("r2")}));
  auto d1 = walk(1);
  EXPECT_EQ(d1, expected(1));
  EXPECT_EQ(d1.size(), 5u);
  auto all = walk(UINT32_MAX);
  EXPECT_EQ(all, expected(UINT32_MAX));
  EXPECT_EQ(all.size(), 7u);
  // Subdirectory order: b before a exactly when b was listed after a.
  std::vector<find_entry> top;
  vkportdir::list_dir_entries(t.root() + "/", top, 0, true, true);
  auto pos = [&](const std::string& rel) {
    return std::find(all.begin(), all.end(), t.path(rel)) - all.begin();
  };
  const auto top_paths = paths_of(top);
  auto listed_at = [&](const std::string& rel) {
    return std::find(top_paths.begin(), top_paths.end(), t.path(rel)) - top_paths.begin();
  };
  EXPECT_EQ(pos("b/b1") < pos("a/a1"), listed_at("b/") > listed_at("a/"));
  EXPECT_LT(pos("r1"), pos("a/a1"));
}

TEST_F(WalkTest, EndOfWalkLeavesTheStringAlone) {
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(wide(t.root() + "/"), 0, nullptr));
  drain(s);
  std::string keep = "keep";
  EXPECT_FALSE(s.getline(keep, true));
  EXPECT_EQ(keep, "keep");
  EXPECT_FALSE(s.getline(keep, true));
  std::wstring w = L"w";
  EXPECT_FALSE(s.getline_wide(w, true));
}

TEST_F(WalkTest, RestartDropsTheOldWalk) {
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(wide(t.root() + "/"), UINT32_MAX, nullptr));
  std::string first;
  ASSERT_TRUE(s.getline(first, true));
  ASSERT_TRUE(s.start_walk(wide(t.path("b")), 0, nullptr));
  auto rest = drain(s);
  EXPECT_EQ(std::set<std::string>(rest.begin(), rest.end()),
            (std::set<std::string>{t.path("b/b1"), t.path("b/b2")}));
}

TEST_F(WalkTest, BareRelativeRootsAreWalked) {
  vesk_test::scoped_cwd cwd(t.root());
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(L"b", 0, nullptr));
  auto b = drain(s);
  EXPECT_EQ(std::set<std::string>(b.begin(), b.end()), (std::set<std::string>{"b/b1", "b/b2"}));
  ASSERT_TRUE(s.start_walk(L"b/", 0, nullptr));
  EXPECT_EQ(drain(s).size(), 2u);
  ASSERT_TRUE(s.start_walk(L".", 0, nullptr));
  auto dot = drain(s);
  EXPECT_EQ(std::set<std::string>(dot.begin(), dot.end()), (std::set<std::string>{"./r1", "./r2"}));
  // A text in the '\' form names no directory here.
  ASSERT_TRUE(s.start_walk(L"b\\", 0, nullptr));
  EXPECT_TRUE(drain(s).empty());
}

// A file the test could not open is not one it selected.
TEST_F(WalkTest, FileTestSelectsAndOpenFailuresDoNotPass) {
  auto only_b1 = walk(UINT32_MAX, [](const std::wstring& p, bool& failed) {
    failed = false;
    return p.size() >= 2 && p.compare(p.size() - 2, 2, L"b1") == 0;
  });
  EXPECT_EQ(only_b1, std::vector<std::string>{t.path("b/b1")});
  auto unopened = walk(1, [](const std::wstring& p, bool& failed) {
    failed = p.find(L"r2") != std::wstring::npos;
    return false;
  });
  EXPECT_TRUE(unopened.empty());
}

// Links to folders (junctions as ntfs-3g shows them) are walked as folders,
// each real folder once: a link back into the tree adds nothing and ends no
// loop; a link out of it adds that folder's files under the link's name,
// within the depth limit; a link to a file is a file.
TEST_F(WalkTest, LinksToFoldersAreWalkedOnce) {
  vesk_test::temp_tree outside;
  ASSERT_TRUE(outside.ok());
  outside.file("o1");
  outside.file("sub/o2");
  t.symlink(t.root(), "a/loop");
  t.symlink(t.path("a/deep"), "b/junction");
  t.symlink(outside.root(), "b/out");
  t.symlink(t.path("r1"), "b/file_link");
  t.symlink(t.path("gone"), "b/dangling");
  auto all = walk(UINT32_MAX);
  std::sort(all.begin(), all.end());
  std::vector<std::string> want = {
      t.path("a/a1"),        t.path("a/deep/d1"), t.path("a/deep/deeper/e1"),
      t.path("b/b1"),        t.path("b/b2"),      t.path("b/dangling"),
      t.path("b/file_link"), t.path("b/out/o1"),  t.path("b/out/sub/o2"),
      t.path("r1"),          t.path("r2")};
  EXPECT_EQ(all, want);
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(wide(t.root() + "/"), 2, nullptr));
  auto two = drain(s);
  EXPECT_EQ(std::count(two.begin(), two.end(), t.path("b/out/o1")), 1);
  EXPECT_EQ(std::count(two.begin(), two.end(), t.path("b/out/sub/o2")), 0);
  EXPECT_EQ(s.files_seen(), two.size());
  EXPECT_EQ(s.dirs_beyond_depth(), 2u);  // a/deep/deeper and b/out/sub
}

int refuse_deep(const char* path, int flags, mode_t mode) {
  if (std::string(path).find("/deep") != std::string::npos) {
    errno = EACCES;
    return -1;
  }
  return ::open(path, flags, mode);
}

// A folder that cannot be listed is kept with its reason, the rest of the
// walk goes on, and the files handed out are counted.
TEST_F(WalkTest, UnlistedFoldersAreKeptWithTheirReason) {
  vk::posix_calls calls = vk::system_posix_calls();
  calls.open = refuse_deep;
  vk::scoped_posix_calls scope(calls);
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(wide(t.root() + "/"), UINT32_MAX, nullptr));
  EXPECT_EQ(drain(s).size(), 5u);
  EXPECT_EQ(s.files_found(), 5u);
  ASSERT_EQ(s.unreadable_dirs().size(), 1u);
  EXPECT_EQ(s.unreadable_dirs()[0].path, wide(t.path("a/deep/")));
  EXPECT_EQ(s.unreadable_dirs()[0].error, EACCES);
  ASSERT_TRUE(s.start_walk(wide(t.path("empty")), 0, nullptr));
  EXPECT_TRUE(drain(s).empty());
  EXPECT_EQ(s.files_found(), 0u);
  EXPECT_TRUE(s.unreadable_dirs().empty());
}

TEST_F(WalkTest, StarInADirectoryNameIsLiteral) {
  t.file("*/s1");
  t.file("x*y/s2");
  auto all = walk(UINT32_MAX);
  EXPECT_EQ(all.size(), 9u);
  EXPECT_NE(std::find(all.begin(), all.end(), t.path("*/s1")), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(), t.path("x*y/s2")), all.end());
}

TEST(FileNameSource, StdinModeReadsLines) {
  std::FILE* f = std::tmpfile();
  std::fputs("one\r\ntwo\n", f);
  std::rewind(f);
  {
    stdin_stream_ex s(f);
    ASSERT_TRUE(s.use_stdin(true));
    EXPECT_FALSE(s.directory_mode());
    std::string line;
    ASSERT_TRUE(s.getline(line, true));
    EXPECT_EQ(line, "one");
    std::wstring w;
    ASSERT_TRUE(s.getline_wide(w, true));
    EXPECT_EQ(w, L"two");
    EXPECT_FALSE(s.getline(line, true));
  }
  std::fclose(f);
}

TEST(FileNameSource, MissingRootYieldsNothing) {
  stdin_stream_ex s;
  ASSERT_TRUE(s.start_walk(L"/no/such/vesk/root/", UINT32_MAX, nullptr));
  EXPECT_TRUE(s.directory_mode());
  std::string line = "x";
  EXPECT_FALSE(s.getline(line, true));
  EXPECT_EQ(line, "x");
  s.reset();
  EXPECT_FALSE(s.directory_mode());
}

}  // namespace

namespace {

TEST(PathText, EveryByteSurvivesTheWideForm) {
  const std::string cases[] = {"plain/a.lnk",
                               "caf\xC3\xA9",
                               "bad\xE9"
                               "name",
                               "\xED\xB2\x80",
                               "\xC0\xAF",
                               std::string("\xF0\x9F\x98\x80", 4),
                               "\xFF\xFE"};
  for (const auto& c : cases) EXPECT_EQ(vkportdir::path_from_wide(vkportdir::path_to_wide(c)), c);
  EXPECT_EQ(vkportdir::path_to_wide("caf\xC3\xA9"), L"caf\u00E9");
}

TEST_F(WalkTest, NamesThatAreNotUtf8AreHandedOutExactly) {
  t.file("bad\xE9.lnk");
  t.file(
      "\xE9"
      "dir/in");
  auto all = walk(UINT32_MAX);
  EXPECT_EQ(all.size(), 9u);
  EXPECT_NE(std::find(all.begin(), all.end(), t.path("bad\xE9.lnk")), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(),
                      t.path("\xE9"
                             "dir/in")),
            all.end());
  std::vector<vkportdir::find_entry_w> wide_found;
  vkportdir::find_files_w(vkportdir::path_to_wide(t.path("\xE9"
                                                         "dir")),
                          L"", wide_found);
  ASSERT_EQ(wide_found.size(), 1u);
  EXPECT_EQ(vkportdir::path_from_wide(wide_found[0].path), t.path("\xE9"
                                                                  "dir/in"));
}

}  // namespace
