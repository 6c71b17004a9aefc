// Moves into directories of their own, selection by status and content,
// wildcard and level searches, listings, stream sizes and relative paths,
// all inside a scratch tree; hostile texts with every change refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/vk_batch_ops.h"
#include "foundation/vk_dir_walk.h"
#include "foundation/vk_path.h"
#include "testing/fake_host.h"
#include "testing/temp_tree.h"

namespace {

namespace fs = std::filesystem;
using vesk_test::temp_tree;

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every path under the root with its content ("<dir>" for directories).
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    out[e.path().string()] = e.is_directory() ? "<dir>" : slurp(e.path().string());
  return out;
}

std::vector<uint8_t> bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(MoveIntoOwnDir, MovesTheFileAndItsRelatives) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("r/report.txt", "main");
  // Relatives share the whole name without extension; a name that merely
  // holds the stem is unrelated.
  t.file("side/report.log", "rel");
  t.file("side/report", "rel2");
  for (const char* other : {"side/report_notes.log", "side/myreport.log", "side/report.x.log"})
    t.file(other, "unrelated");
  t.file("r/report/report.csv", "old");
  std::string moved;
  ASSERT_TRUE(vkportdir::move_into_own_dir(moved, t.path("r/report.txt"), {t.path("side")}, true));
  EXPECT_EQ(moved, t.path("r/report/report.txt"));
  EXPECT_EQ(slurp(t.path("r/report/report.txt")), "main");
  EXPECT_EQ(slurp(t.path("r/report/report.log")), "rel");
  EXPECT_EQ(slurp(t.path("r/report/report")), "rel2");
  for (const char* other : {"side/report_notes.log", "side/myreport.log", "side/report.x.log"})
    EXPECT_EQ(slurp(t.path(other)), "unrelated") << other;
  EXPECT_EQ(slurp(t.path("r/report/report.csv")), "old");
  EXPECT_FALSE(fs::exists(t.path("r/report.txt")));

  // A stem that occurs in the folder path is no reason to refuse: only a
  // folder named the stem is.
  t.file("data/a.txt", "a");
  ASSERT_TRUE(vkportdir::move_into_own_dir(moved, t.path("data/a.txt"), {}, false));
  EXPECT_EQ(moved, t.path("data/a/a.txt"));
  EXPECT_EQ(slurp(moved), "a");

  // Already in its own directory, no extension, missing, or the name taken:
  // false and nothing moved.
  t.file("x/plain", "p");
  t.file("y/data.bin", "new");
  t.file("y/data/data.bin", "kept");
  const auto before = snapshot(t.root());
  for (const std::string& p :
       {t.path("r/report/report.txt"), t.path("x/plain"), t.path("x/missing.txt"),
        t.path("y/data.bin"), std::string("a.b"), t.path("x/.hidden")}) {
    EXPECT_FALSE(vkportdir::move_into_own_dir(moved, p, {}, false)) << p;
    EXPECT_EQ(moved, "");
  }
  EXPECT_EQ(snapshot(t.root()), before);

  EXPECT_TRUE(vkportdir::move_into_dir(moved, t.path("z/new"), t.path("x/plain")));
  EXPECT_EQ(moved, t.path("z/new/plain"));
  EXPECT_EQ(slurp(moved), "p");
  EXPECT_FALSE(vkportdir::move_into_dir(moved, t.path("z/new"), t.path("x/plain")));
}

TEST(SelectFilesByContent, StatusAndEachPatternKind) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  // A pattern across the 16384-byte read boundary, one in the tail, and one
  // at the start of a 512-byte step.
  std::string big(40000, '.');
  big.replace(16380, 8, "BOUNDARY");
  big.replace(39990, 4, "TAIL");
  big.replace(1024 * 3, 4, "STEP");
  big.replace(1024 * 3 + 700, 4, "MISS");  // inside a step, but past its first bytes
  t.file("big.bin", big);
  t.file("small.txt", "hello world");
  t.file("old.txt", "ancient");
  t.dir("folder.txt");
  utimbuf times{1000, 1000};
  ASSERT_EQ(::utime(t.path("old.txt").c_str(), &times), 0);

  using C = vkportdir::content_criterion;
  // A criterion with one pattern: 'r' searched in [0, n), 't' in the last n
  // bytes, 's' in the first n bytes of every 512-byte step.
  auto pat = [](char kind, uint32_t n, const char* text) {
    C x;
    (kind == 'r'   ? x.m_range_pattern
     : kind == 't' ? x.m_tail_pattern
                   : x.m_step_pattern) = bytes(text);
    (kind == 'r' ? x.m_range_end : kind == 't' ? x.m_tail_length : x.m_step_length) = n;
    return x;
  };
  C txt, sized, recent, future, zip, tiny, both = pat('t', 100, "TAIL");
  txt.m_extension = L"txt";
  sized.m_min_size = 8;
  sized.m_max_size = 11;
  recent.m_since = 100000;
  future.m_since = static_cast<uint64_t>(::time(nullptr)) + 86400;
  zip.m_extension = L"zip";
  tiny.m_max_size = 8;
  both.m_step_length = 8;
  both.m_step_pattern = bytes("NONE");
  struct row {
    const char* what;
    std::vector<C> criteria;
    std::vector<std::string> kept;  // relative paths in input order
  } rows[] = {
      {"no criterion", {}, {}},
      {"status alone", {C{}}, {"big.bin", "small.txt", "old.txt"}},
      {"extension", {txt}, {"small.txt", "old.txt"}},
      {"size range", {sized}, {"small.txt"}},
      // old.txt was altered long ago, but its status changed just now.
      {"since", {recent}, {"big.bin", "small.txt", "old.txt"}},
      {"since tomorrow", {future}, {}},
      {"range across a read boundary", {pat('r', 40000, "BOUNDARY")}, {"big.bin"}},
      {"range that ends inside the pattern", {pat('r', 16385, "BOUNDARY")}, {}},
      {"range end 0 searches nothing", {pat('r', 0, "hello")}, {}},
      {"tail", {pat('t', 20, "TAIL")}, {"big.bin"}},
      {"tail too short", {pat('t', 5, "TAIL")}, {}},
      {"step", {pat('s', 8, "STEP")}, {"big.bin"}},
      {"step misses a later offset", {pat('s', 100, "MISS")}, {}},
      {"every pattern must be found", {both}, {}},
      {"any criterion keeps", {zip, tiny}, {"old.txt"}},
  };
  for (const auto& r : rows) {
    std::vector<std::string> paths;
    for (const char* rel : {"big.bin", "small.txt", "old.txt", "folder.txt", "missing.txt"})
      paths.push_back(t.path(rel));
    std::vector<std::string> want;
    for (const auto& k : r.kept) want.push_back(t.path(k));
    EXPECT_EQ(vkportdir::select_files_by_content(paths, r.criteria), !want.empty()) << r.what;
    EXPECT_EQ(paths, want) << r.what;
  }
}

TEST(DirSearches, WildcardLevelsAndListings) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  for (const char* f : {"d/az.log", "d/abcz.log", "d/a.log", "d/AZ2.txt", "d/sub/az.log", "d/xy",
                        "d/sub/deeper/n.txt", "d/n.txt", "d/sub/m.TXT"})
    t.file(f);
  struct row {
    std::string pattern;
    std::vector<std::string> found;
  } rows[] = {
      {t.path("d/a?z.log"), {"d/abcz.log", "d/az.log"}},
      {t.path("d/A?Z.LOG"), {"d/abcz.log", "d/az.log"}},
      {t.path("d/x?"), {}},
      {t.path("d/?y"), {"d/xy"}},
      {t.path("d/a?z?.txt"), {"d/AZ2.txt"}},
      {t.path("d/a.log"), {"d/a.log"}},
      {t.path("d/az?az.log"), {}},  // head and tail may not share characters
      {t.path("d/"), {}},
      {t.path("none/a?b"), {}},
  };
  for (const auto& r : rows) {
    std::map<std::string, std::string> out{{"stale", "x"}};
    EXPECT_EQ(vkportdir::find_files_wildcard(r.pattern, out), !r.found.empty()) << r.pattern;
    std::vector<std::string> got;
    for (const auto& [path, name] : out) {
      got.push_back(path.substr(t.root().size() + 1));
      std::string lower = fs::path(path).filename().string();
      for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      EXPECT_EQ(name, lower);
    }
    EXPECT_EQ(got, r.found) << r.pattern;
  }

  // Level by level: "*.txt" files of the visited levels only.
  const struct {
    int32_t levels;
    std::vector<std::string> found;
  } levels[] = {{-1, {}},
                {0, {}},
                {1, {"d/AZ2.txt", "d/n.txt"}},
                {2, {"d/AZ2.txt", "d/n.txt", "d/sub/m.TXT"}},
                {9, {"d/AZ2.txt", "d/n.txt", "d/sub/deeper/n.txt", "d/sub/m.TXT"}}};
  for (const auto& l : levels) {
    std::vector<std::string> out{"kept"};
    vkportdir::find_files_levels(out, t.path("d"), "*.txt", l.levels);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), "kept");
    std::vector<std::string> got;
    for (size_t i = 1; i < out.size(); ++i) got.push_back(out[i].substr(t.root().size() + 1));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, l.found) << l.levels;
    std::vector<std::wstring> wide;
    vkportdir::find_files_levels_w(wide, vk::path_to_wide(t.path("d")), L"*.txt", l.levels);
    EXPECT_EQ(wide.size(), l.found.size());
  }

  std::vector<std::string> subs{"kept"};
  vkportdir::list_subdirs(t.path("d"), subs);
  EXPECT_EQ(subs, (std::vector<std::string>{"kept", t.path("d/sub/")}));
  std::vector<std::string> files{"dropped"};
  vkportdir::list_files_only(t.path("d/sub"), files);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{t.path("d/sub/az.log"), t.path("d/sub/m.TXT")}));

  std::ostringstream os;
  vkportdir::print_dir_listing(t.path("d/sub").c_str(), os);
  std::istringstream lines(os.str());
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"000: " + t.path("d/sub/az.log"),
                                           "000: " + t.path("d/sub/m.TXT"),
                                           "001: " + t.path("d/sub/deeper/")}));
  vkportdir::print_dir_listing(nullptr, os);
}

TEST(StreamsAndRelativePaths, SizesAndPaths) {
  std::stringstream s;
  s << "0123456789";
  s.seekp(4);
  s.seekg(2);
  EXPECT_EQ(vkportdir::ostream_size(s), 10u);
  EXPECT_EQ(s.tellp(), 4);
  EXPECT_EQ(vkportdir::istream_size(s), 10u);
  EXPECT_EQ(s.tellg(), 2);
  std::ostringstream empty;
  EXPECT_EQ(vkportdir::ostream_size(empty), 0u);

  struct row {
    const char* from;
    const char* to;
    size_t max;
    bool ok;
    const char* out;
  } rows[] = {
      {"/a/b/c/file.txt", "/a/b/d/x.txt", 260, true, "../d/x.txt"},
      {"/a/b/file.txt", "/a/b/x.txt", 260, true, "x.txt"},
      {"/a/bc/f.txt", "/a/bd/g.txt", 260, true, "../bd/g.txt"},
      {"/a/b/c/d/", "/a/x", 260, true, "../../../x"},
      {"c:\\w\\f.txt", "c:\\w\\sub\\g.txt", 260, true, "sub/g.txt"},
      {"/abc/f", "x:/target", 260, true, "x:/target"},
      {"abcd", "abxy", 260, true, "abxy"},
      {"/ab", "/a/b/c", 260, false, ""},
      {"/a/b/c", "/ab", 260, false, ""},
      {"/a/b/c/d/e/f", "/a/x", 11, false, ""},
      {"/a/b/c/d/e/f", "/a/x", 12, false, ""},
      {"/a/b/c/d/e/f", "/a/x", 13, true, "../../../../x"},
      {"/a/b/c/d/e/f/g/h", "/a/b/c/d/e/f/g/h", 8, false, ""},
  };
  for (const auto& r : rows) {
    std::string out = "stale";
    EXPECT_EQ(vkportdir::relative_path(out, r.from, r.to, r.max), r.ok) << r.from << " " << r.to;
    EXPECT_EQ(out, r.out) << r.from << " " << r.to;
  }
}

// Hostile texts with the file system refusing every change: every
// truncation and seeded mutations of paths and patterns, then of criteria and
// file contents. Nothing in the tree may change.
TEST(BatchOpsHostile, TruncationsAndMutations) {
  temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("d/az.log", "az");
  t.file("d/abcz.log", "abcz");
  t.file("r/report.txt", "report");
  t.file("r/report_x.txt", "rel");
  const std::vector<std::string> seeds = {
      t.path("d/a?z.log"), t.path("r/report.txt"), t.path("d/??"), "\\\\?\\c:\\a\\b?.c",
      "/a/b/c/../d/e.txt", "c:\\x\\y.z",           "?.?",          "..//..",
  };
  const auto before = snapshot(t.root());
  {
    vesk_test::change_recorder_scope refuse_changes;
    std::map<std::string, std::string> found;
    std::string out;
    auto run = [&](const std::string& s, const std::string& other) {
      vkportdir::find_files_wildcard(s, found);
      vkportdir::move_into_own_dir(out, s, {t.path("r"), other}, true);
      vkportdir::move_into_dir(out, other, s);
      vkportdir::relative_path(out, s, other, 64);
      vkportdir::relative_path(out, other, s, 4096);
    };
    for (const auto& s : seeds)
      for (size_t n = 0; n <= s.size(); ++n) run(s.substr(0, n), seeds[n % seeds.size()]);
    std::mt19937 rng(23);
    const char alphabet[] = "/\\?.:*rzad \x01\xff";
    auto mutate = [&](std::string s) {
      for (int e = 1 + static_cast<int>(rng() % 4); e > 0; --e) {
        const size_t pos = rng() % (s.size() + 1);
        const char ch = alphabet[rng() % (sizeof alphabet - 1)];
        switch (rng() % 3) {
          case 0:
            s.insert(s.begin() + static_cast<long>(pos), ch);
            break;
          case 1:
            if (pos < s.size()) s[pos] = ch;
            break;
          default:
            if (pos < s.size()) s.erase(pos, 1);
            break;
        }
      }
      return s;
    };
    for (int i = 0; i < 100000; ++i)
      run(mutate(seeds[rng() % seeds.size()]), mutate(seeds[rng() % seeds.size()]));
    for (const auto& entry : vesk_test::change_recorder_scope::log())
      EXPECT_EQ(entry.rfind("open ", 0), std::string::npos) << entry;
  }
  EXPECT_EQ(snapshot(t.root()), before);

  // Every truncation of a file whose patterns sit at the read boundaries.
  const std::string file = t.path("content.bin");
  {
    std::string full(1100, 'x');
    full.replace(508, 8, "ACROSS__");
    full.replace(1090, 4, "TAIL");
    std::ofstream(file, std::ios::binary) << full;
    std::vector<vkportdir::content_criterion> all(3);
    all[0].m_range_start = 500;
    all[0].m_range_end = 1100;
    all[0].m_range_pattern = bytes("ACROSS__");
    all[1].m_tail_length = 12;
    all[1].m_tail_pattern = bytes("TAIL");
    all[2].m_step_length = 8;
    all[2].m_step_pattern = bytes("__");
    for (size_t n = full.size() + 1; n-- > 0;) {
      fs::resize_file(file, n);
      std::vector<std::string> paths{file};
      EXPECT_EQ(vkportdir::select_files_by_content(paths, all), n >= 516) << n;
    }
  }

  // Criteria and contents: mutated lengths, offsets and patterns over files
  // whose bytes change between rounds.
  std::string content(20000, 'a');
  std::mt19937 rng(7);
  std::vector<uint8_t> pattern;
  for (int i = 0; i < 100000; ++i) {
    if (i % 64 == 0) {
      content.resize(rng() % 40000);
      for (size_t k = 0; k < content.size(); k += 1 + rng() % 512)
        content[k] = static_cast<char>(rng());
      std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    }
    vkportdir::content_criterion c;
    c.m_since = rng() % 2 ? 0 : rng();
    c.m_min_size = rng() % 3 ? 0 : rng() % 40000;
    c.m_max_size = rng() % 3 ? ~uint64_t{0} : rng() % 40000;
    c.m_extension = rng() % 4 ? L"" : L"bin";
    const size_t plen = rng() % 4 == 0 ? 20000 + rng() % 30000 : rng() % 6;
    pattern.assign(plen, 'a');
    if (!content.empty() && plen <= content.size()) {
      const size_t at = rng() % (content.size() - plen + 1);
      pattern.assign(content.begin() + static_cast<long>(at),
                     content.begin() + static_cast<long>(at + plen));
    }
    c.m_range_start = static_cast<uint32_t>(rng() % 2 ? rng() % 40000 : rng());
    c.m_range_end = static_cast<uint32_t>(rng() % 2 ? rng() % 40000 : rng());
    c.m_tail_length = static_cast<uint32_t>(rng() % 2 ? rng() % 20000 : rng());
    c.m_step_length = static_cast<uint32_t>(rng() % 2 ? rng() % 600 : rng());
    switch (rng() % 4) {
      case 0:
        c.m_range_pattern = pattern;
        break;
      case 1:
        c.m_tail_pattern = pattern;
        break;
      case 2:
        c.m_step_pattern = pattern;
        break;
      default:
        c.m_range_pattern = c.m_tail_pattern = c.m_step_pattern = pattern;
        break;
    }
    std::vector<std::string> paths{file, file + "x", t.path("d")};
    vkportdir::select_files_by_content(paths, {c, vkportdir::content_criterion{}});
    ASSERT_LE(paths.size(), 1u);
  }
}

}  // namespace
