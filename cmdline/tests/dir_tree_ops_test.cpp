// The filtered level-by-level walk and the operations that overwrite and
// delete what it finds, inside a scratch tree with "%TEMP%" pointing into it.
#include "cmdline/dir_tree_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/vk_batch_ops.h"
#include "foundation/vk_dir_node.h"
#include "foundation/vk_dir_ops.h"
#include "foundation/vk_dir_walk.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_path.h"
#include "foundation/vk_sha256.h"
#include "testing/temp_tree.h"

namespace {

namespace fs = std::filesystem;
using vesk_test::temp_tree;

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) {
      m_had = true;
      m_old = old;
    }
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~scoped_env() {
    if (m_had)
      ::setenv(m_name.c_str(), m_old.c_str(), 1);
    else
      ::unsetenv(m_name.c_str());
  }

 private:
  std::string m_name;
  bool m_had = false;
  std::string m_old;
};

using visit = std::pair<std::string, bool>;

bool collect(const std::wstring& path, bool is_dir, void* user, vk::cmd_params*) {
  static_cast<std::vector<visit>*>(user)->emplace_back(vk::path_from_wide(path), is_dir);
  return true;
}

std::vector<visit> walk(const std::string& root, int32_t levels,
                        const std::vector<vk::filter_entry>& filters = {},
                        vk::cmd_params* options = nullptr) {
  std::vector<visit> out;
  vkportdir::walk_dir(vk::path_to_wide(root), filters, collect, &out, options, levels);
  return out;
}

// What a level-by-level walk must report, from the listing order that the
// standard library reads back.
std::vector<visit> expected_walk(const std::string& root, int32_t levels) {
  std::vector<visit> out;
  std::deque<std::string> current{root};
  std::deque<std::string> next;
  for (int32_t level = 0; level < levels && !current.empty(); ++level) {
    while (!current.empty()) {
      const std::string dir = current.back();
      current.pop_back();
      out.emplace_back(dir, true);
      const std::string base = dir.back() == '/' ? dir : dir + "/";
      for (const auto& e : fs::directory_iterator(base)) {
        const std::string name = e.path().filename().string();
        if (e.symlink_status().type() == fs::file_type::directory)
          next.push_back(base + name + "/");
        else
          out.emplace_back(base + name, false);
      }
    }
    current.swap(next);
    next.clear();
  }
  return out;
}

void open_log(vk::cmd_params& p, const std::string& path) {
  p.m_log_path = path;
  p.m_log = new std::ofstream(path, std::ios::out | std::ios::trunc);
  p.m_log_on = 1;
}

std::vector<std::string> log_lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Random names handed out in a fixed order, the last one repeated.
struct fixed_names {
  static std::vector<std::string>& list() {
    static std::vector<std::string> l;
    return l;
  }
  static size_t& next() {
    static size_t n = 0;
    return n;
  }
  static void draw(std::string& out, size_t) {
    out = list()[std::min(next()++, list().size() - 1)];
  }
  explicit fixed_names(std::vector<std::string> names)
      : m_scope(vkportdir::random_name_sources{draw, draw}) {
    list() = std::move(names);
    next() = 0;
  }
  vkportdir::scoped_random_names m_scope;
};

TEST(WalkDir, LevelsOrderAndFilters) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  for (const char* f :
       {"w/f1", "w/f2.txt", "w/d1/x", "w/d1/e/y.txt", "w/d2/x.txt", "w/d3/z", "w/d3/g/h/deep.txt"})
    t.file(f);
  t.symlink(t.path("w/d3"), "w/link_to_dir");
  const std::string root = t.path("w");

  EXPECT_TRUE(walk(root, 0).empty());
  EXPECT_TRUE(walk(root, -1).empty());
  const auto one = walk(root, 1);
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(one.front(), visit(root, true));
  for (size_t i = 1; i < one.size(); ++i) EXPECT_FALSE(one[i].second) << one[i].first;
  EXPECT_EQ(one.size(), 4u);  // f1, f2.txt and the link, which is not followed
  for (int32_t levels : {1, 2, 3, 4, 9})
    EXPECT_EQ(walk(root, levels), expected_walk(root, levels)) << levels;
  vk::cmd_params options;
  EXPECT_EQ(walk(root, 9, {}, &options), expected_walk(root, 9));

  // %NAME% references in the root.
  t.file("t/in.txt");
  scoped_env v("V", t.root().c_str());
  std::vector<visit> got;
  vkportdir::walk_dir_utf8("%V%/t", {}, collect, &got, nullptr, 2);
  EXPECT_EQ(got, (std::vector<visit>{{t.path("t"), true}, {t.path("t/in.txt"), false}}));
  got.clear();
  vkportdir::walk_dir_expanded_w(L"%V%/t", {}, collect, &got, nullptr, 2);
  EXPECT_EQ(got.size(), 2u);
  vkportdir::walk_dir(vk::path_to_wide(root), {}, nullptr, &got, nullptr, 3);
  vkportdir::walk_dir(L"", {}, collect, &got, nullptr, 3);
  EXPECT_EQ(got.size(), 2u);
}

TEST(WalkDir, FileTheSignatureTestCannotOpenIsNotHandedOut) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("s/match.bin", "SIGxxxx");
  t.file("s/other.bin", "nope");
  ASSERT_EQ(::mkfifo(t.path("s/pipe").c_str(), 0600), 0);
  vk::filter_entry sig;
  sig.m_signature = {'S', 'I', 'G'};
  vk::cmd_params options;
  for (vk::cmd_params* opts : {static_cast<vk::cmd_params*>(nullptr), &options}) {
    std::vector<std::string> files;
    for (const auto& v : walk(t.path("s"), 1, {sig}, opts))
      if (!v.second) files.push_back(v.first);
    EXPECT_EQ(files, std::vector<std::string>{t.path("s/match.bin")});
  }
}

TEST(WipePath, CodesMessagesAndLinks) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("wp/data", std::string(700, 'x'));
  t.file("wp/empty", "");
  t.file("outside/target", "secret");
  t.dir("wp/sub");
  t.symlink(t.path("outside/target"), "wp/ln");
  ASSERT_EQ(::link(t.path("outside/target").c_str(), t.path("wp/hard").c_str()), 0);
  vk::cmd_params settings;
  open_log(settings, t.path("diags.log"));

  vkportdir::wipe_results results;
  struct row {
    std::string path;
    bool dir;
    int code;  // -1: not recorded
    const char* err;
  } rows[] = {
      {t.path("wp/sub/"), true, 1, ""},
      {t.path("wp/sub/."), true, -1, ""},
      {t.path("wp/.."), true, -1, ""},
      {t.path("wp/data"), false, 6, "wiped: "},
      {t.path("wp/empty"), false, 2, "not wiped: "},
      {t.path("wp/ln"), false, 2, "not wiped: "},
      {t.path("wp/hard"), false, 2, "not wiped: "},
      {t.path("wp/missing"), false, 2, "not wiped: "},
  };
  for (const auto& r : rows) {
    const std::wstring w = vk::path_to_wide(r.path);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(vkportdir::wipe_path(w, r.dir, &results, &settings)) << r.path;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, *r.err ? r.err + r.path + "\n" : "") << r.path;
    if (r.code < 0) {
      EXPECT_EQ(results.count(w), 0u) << r.path;
    } else {
      EXPECT_EQ(results[w], static_cast<uint32_t>(r.code)) << r.path;
    }
  }
  EXPECT_EQ(slurp(t.path("wp/data")), std::string(1024, '\0'));
  EXPECT_EQ(slurp(t.path("outside/target")), "secret");
  const auto lines = log_lines(t.path("diags.log"));
  EXPECT_EQ(lines.front(), "->wipe: " + t.path("wp/data"));
  EXPECT_EQ(lines.at(1), "->not wiped: " + t.path("wp/empty"));

  settings.m_status_messages = 0;
  t.file("wp/quiet", "q");
  testing::internal::CaptureStderr();
  vkportdir::wipe_path(vk::path_to_wide(t.path("wp/quiet")), false, &results, &settings);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(slurp(t.path("wp/quiet")), std::string(512, '\0'));
  EXPECT_FALSE(vkportdir::wipe_path(vk::path_to_wide(t.path("wp/quiet")), false, nullptr, nullptr));
  EXPECT_FALSE(vkportdir::wipe_path(L"", false, &results, nullptr));
}

TEST(ShredFile, NothingLeftAndNoNeighbourReplaced) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("tmp");
  t.file("outside/target", "secret");
  struct row {
    std::vector<std::string> draws;
    bool temp_set;
  } rows[] = {
      {{"keep", "yyyy"}, true},               // first name taken beside it
      {{"zzzz", "keep", "yyyy"}, true},       // taken in "%TEMP%": drawn again there
      {{"../a", "..", "a/b", "q1w2"}, true},  // not single components
      {{"keep"}, true},                       // never a free name: removed where it stands
      {{"nnnn"}, false},                      // no "%TEMP%": removed where it stands
  };
  for (const auto& r : rows) {
    t.file("s/a.txt", "to be shredded");
    t.file("s/keep", "KEEP");
    t.file("tmp/keep", "TEMP KEEP");
    t.file("tmp/zzzz", "TEMP Z");
    fixed_names names(r.draws);
    scoped_env unset("TEMP", r.temp_set ? t.path("tmp").c_str() : nullptr);
    vesk_test::scoped_cwd cwd(t.root());
    EXPECT_TRUE(vkportdir::shred_file(vk::path_to_wide(t.path("s/a.txt")))) << r.draws[0];
    EXPECT_EQ(names_in(t.path("s")), std::vector<std::string>{"keep"});
    EXPECT_EQ(slurp(t.path("s/keep")), "KEEP");
    EXPECT_EQ(names_in(t.path("tmp")), (std::vector<std::string>{"keep", "zzzz"}));
    EXPECT_EQ(slurp(t.path("tmp/keep")) + slurp(t.path("tmp/zzzz")), "TEMP KEEPTEMP Z");
    EXPECT_EQ(names_in(t.root()), (std::vector<std::string>{"outside", "s", "tmp"}));
  }
  // A link goes as a link; the file it points to stays.
  t.symlink(t.path("outside/target"), "s/ln");
  EXPECT_TRUE(vkportdir::shred_file(vk::path_to_wide(t.path("s/ln"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(t.path("s/ln"))));
  EXPECT_EQ(slurp(t.path("outside/target")), "secret");
  EXPECT_FALSE(vkportdir::shred_file(vk::path_to_wide(t.path("s/missing"))));
  EXPECT_FALSE(vkportdir::shred_file(L""));
}

TEST(RemoveTreeLogged, TreeGoneLoggedAndLinksNotFollowed) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("tmp");
  t.file("outside/target", "secret");
  for (const char* f : {"tree/a.txt", "tree/b/c.txt", "tree/b/d/e.bin"}) t.file(f, "content");
  t.file("tree/empty", "");
  t.symlink(t.path("outside/target"), "tree/b/ln");
  t.symlink(t.path("outside"), "tree/b/dirlink");
  scoped_env temp("TEMP", t.path("tmp").c_str());
  vk::cmd_params settings;
  open_log(settings, t.path("diags.log"));

  testing::internal::CaptureStderr();
  EXPECT_TRUE(vkportdir::remove_tree_logged(vk::path_to_wide(t.path("tree")), {}, 9, settings));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::exists(t.path("tree")));
  EXPECT_EQ(slurp(t.path("outside/target")), "secret");
  EXPECT_TRUE(names_in(t.path("tmp")).empty());

  const auto lines = log_lines(t.path("diags.log"));
  for (const char* rel : {"tree/a.txt", "tree/b/c.txt", "tree/b/d/e.bin", "tree/empty"}) {
    const std::string path = t.path(rel);
    EXPECT_NE(err.find("deleted: " + path + " - success\n"), std::string::npos) << rel;
    const auto resize = std::find(lines.begin(), lines.end(), "->resize: " + path);
    ASSERT_NE(resize, lines.end()) << rel;
    ASSERT_GE(lines.end() - resize, 4) << rel;
    EXPECT_EQ(*(resize - 1), "->-----------");
    EXPECT_EQ(
        resize[1].rfind("->rename: " + path + " => " + path.substr(0, path.rfind('/') + 1), 0), 0u)
        << resize[1];
    EXPECT_EQ(resize[2].rfind("->move: ", 0), 0u) << resize[2];
    EXPECT_NE(resize[2].find(" => " + t.path("tmp/")), std::string::npos) << resize[2];
    EXPECT_EQ(resize[3].rfind("->delete: " + t.path("tmp/"), 0), 0u) << resize[3];
  }
  for (const char* dir : {"tree/b/d/", "tree/b/", "tree"})
    EXPECT_NE(err.find("deleted: " + t.path(dir) + "\n"), std::string::npos) << dir;
  EXPECT_LT(err.find("deleted: " + t.path("tree/b/d/") + "\n"),
            err.find("deleted: " + t.path("tree/b/") + "\n"));
}

TEST(RemoveTreeLogged, WhatCannotBeOpenedStays) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("tree/a.txt", "a");
  ASSERT_EQ(::mkfifo(t.path("tree/pipe").c_str(), 0600), 0);
  scoped_env temp("TEMP", nullptr);
  vk::cmd_params settings;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(vkportdir::remove_tree_logged(vk::path_to_wide(t.path("tree")), {}, 2, settings));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("can't access: " + t.path("tree/pipe") + "\n"), std::string::npos) << err;
  EXPECT_NE(err.find("can't delete: " + t.path("tree") + "\n"), std::string::npos) << err;
  EXPECT_EQ(names_in(t.path("tree")), std::vector<std::string>{"pipe"});
}

// A digest of everything under root: names, kinds, file bytes and link
// targets, in name order.
std::string tree_digest(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string p = e.path().string();
    const auto type = e.symlink_status().type();
    std::string& v = entries[p.substr(root.size())];
    v = std::to_string(static_cast<int>(type)) + ':';
    if (type == fs::file_type::symlink)
      v += fs::read_symlink(e.path()).string();
    else if (type == fs::file_type::regular)
      v += slurp(p);
  }
  vk::sha256_ctx ctx;
  vk::sha256_init(ctx);
  for (const auto& [name, value] : entries) {
    const std::string record = name + '\0' + value + '\0';
    vk::sha256_update(ctx, reinterpret_cast<const uint8_t*>(record.data()), record.size());
  }
  uint8_t digest[32];
  vk::sha256_finish(ctx, digest);
  std::string hex;
  for (uint8_t b : digest) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

// A tree reached through a root link, a link to a file outside and a file
// hard-linked from outside: removal and every writer change names inside the
// tree only, and the outside folder stays byte-identical.
TEST(OutsideTheTree, RemovalAndWritersLeaveItUnchanged) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.dir("tmp");
  t.file("outside/secret", "secret");
  t.file("outside/shared", "shared");
  t.file("outside/deep/x.bin", std::string(1000, 'x'));
  for (const char* f : {"tree/a.txt", "tree/sub/b.txt"}) t.file(f, "inside");
  t.symlink(t.path("outside/secret"), "tree/to_secret");
  t.symlink(t.path("outside/secret"), "tree/to_secret2");
  t.symlink(t.path("outside/secret"), "tree/to_secret3");
  t.symlink(t.path("outside"), "tree/to_outside");
  for (const char* name : {"tree/shared", "tree/shared2", "tree/shared3"})
    ASSERT_EQ(::link(t.path("outside/shared").c_str(), t.path(name).c_str()), 0);
  t.symlink(t.path("outside"), "rootlink");
  t.symlink(t.path("outside"), "rootlink2");
  scoped_env temp("TEMP", t.path("tmp").c_str());
  vk::cmd_params settings;
  open_log(settings, t.path("diags.log"));
  const std::string before = tree_digest(t.path("outside"));

  testing::internal::CaptureStderr();
  // A root that is a link goes as a link, with or without a trailing '/'.
  EXPECT_TRUE(vkportdir::remove_tree_logged(vk::path_to_wide(t.path("rootlink")), {}, 9, settings));
  EXPECT_TRUE(
      vkportdir::remove_tree_logged(vk::path_to_wide(t.path("rootlink2") + "/"), {}, 9, settings));
  for (const char* rel : {"rootlink", "rootlink2"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(t.path(rel)))) << rel;
  EXPECT_EQ(tree_digest(t.path("outside")), before);

  // The writers replace a link or a shared name at the path by a file of
  // their own.
  const std::string data = "written";
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("tree/to_secret"), data.data(), data.size()));
  EXPECT_TRUE(vkportdir::write_file_make_dirs(t.path("tree/shared"), data.data(), data.size()));
  vk::binary_data view =
      vk::binary_data_from_vector(std::vector<uint8_t>(data.begin(), data.end()), true);
  view.m_mode = 0;
  EXPECT_TRUE(vk::write_binary_data_file(view, t.path("tree/to_secret2")));
  EXPECT_TRUE(vk::write_binary_data_file(view, t.path("tree/shared2")));
  for (const char* rel : {"tree/to_secret", "tree/shared", "tree/to_secret2", "tree/shared2"}) {
    EXPECT_EQ(slurp(t.path(rel)), data) << rel;
    EXPECT_FALSE(fs::is_symlink(t.path(rel))) << rel;
  }
  FILE* f = nullptr;
  for (const char* rel : {"tree/to_secret3", "tree/shared3"})
    EXPECT_FALSE(vkportdir::open_cfile_write(f, vk::path_to_wide(t.path(rel)), true)) << rel;
  EXPECT_EQ(tree_digest(t.path("outside")), before);

  // The whole tree: links and shared names removed as names.
  EXPECT_TRUE(vkportdir::remove_tree_logged(vk::path_to_wide(t.path("tree")), {}, 9, settings));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(fs::exists(t.path("tree")));
  EXPECT_EQ(tree_digest(t.path("outside")), before);
  EXPECT_TRUE(names_in(t.path("tmp")).empty());
}

template <class... F>
size_t count_routines(F...) {
  return sizeof...(F);
}

TEST(DirectoryLayerNames, EveryRoutineIsThere) {
  using namespace vkportdir;
  using make_stl = void (*)(_DIR_NODE_STL&, const std::wstring&, uint64_t, uint64_t, uint16_t,
                            uint32_t, uint64_t, uint64_t, uint64_t, uint64_t, uint32_t);
  const size_t n = count_routines(
      &make_dir, &make_dirs, &write_file_make_dirs, &remove_file, &remove_file_w, &rename_file,
      &rename_file_w, &open_cfile, &open_cfile_write, &open_cfile_read, &list_user_profile_dirs,
      &empty_path_stub, &exe_path_from_proc, &vk::split_wpath_stem_ext, &_DIR_NODE::clear,
      &_DIR_NODE::is_dir, &_DIR_NODE::from_path, &_DIR_NODE::from_path_w, &_DIR_NODE_STL::clear,
      &_DIR_NODE_STL::is_dir, &_DIR_NODE_STL::from_path, static_cast<make_stl>(&make_dir_node_stl),
      &dir_node_to_stl, &path_stat_times_cstr, &dir_node_created_less, &dir_node_name_equal,
      &dir_node_name_less, &dir_node_stl_path_less, &dir_node_stl_path_equal, &walk_dir,
      &walk_dir_utf8, &walk_dir_expanded_w, &find_files_levels, &wipe_path, &shred_file,
      &remove_tree_logged, &move_into_dir, &move_into_own_dir, &select_files_by_content,
      &find_files_wildcard, &list_subdirs, &list_files_only, &print_dir_listing, &ostream_size,
      &istream_size, &relative_path, &dir_node_attribute_text, &exe_path_w, &read_file_bytes_w,
      &make_dir_w, &make_dirs_w, &write_file_make_dirs_w, &find_files_levels_w);
  EXPECT_EQ(n, 53u);
}

}  // namespace
