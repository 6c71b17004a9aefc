#include "cmdline/file_filters.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "byte_builder.h"
#include "cmdline/common_options.h"
#include "foundation/vk_portable_dir.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_string.h"
#include "foundation/vk_unicode.h"
#include "posix_seam.h"
#include "temp_tree.h"

namespace {

using namespace vk;

std::vector<filter_entry> parse(const std::string& text) {
  std::vector<filter_entry> list;
  EXPECT_TRUE(parse_filter_list(list, text));
  return list;
}

bool passes(const std::string& pattern, const std::wstring& path, bool colon = false) {
  cmd_params settings;
  uint8_t failed = 7;
  bool r = file_passes_filters(settings, failed, path, parse(pattern), nullptr, colon);
  EXPECT_EQ(failed, 0);
  return r;
}

TEST(SplitWstring, PiecesTrimsAndEmptyOnes) {
  std::vector<std::wstring> out{L"old"};
  EXPECT_FALSE(split_wstring(L"", L',', out, true, false));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(split_wstring(L",a, b ,,c,", L',', out, true, false));
  EXPECT_EQ(out, (std::vector<std::wstring>{L"a", L"b", L"c"}));
  ASSERT_TRUE(split_wstring(L",a,,c,", L',', out, false, true));
  EXPECT_EQ(out, (std::vector<std::wstring>{L"a", L"", L"c", L""}));
  ASSERT_TRUE(split_wstring(L"whole", L',', out, true, false));
  EXPECT_EQ(out, std::vector<std::wstring>{L"whole"});
}

TEST(ParseFilterList, PiecesFlagsAndMatchAll) {
  auto l = parse("a|b,c");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].m_piece, L"a|b");
  EXPECT_EQ(l[1].m_piece, L"c");
  l = parse("A|B");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1].m_name, L"b");

  l = parse("x,*,y");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].m_match_all, 1);
  EXPECT_EQ(l[0].m_name, L"*");

  l = parse("*.LNK");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].m_name, L".lnk");
  EXPECT_EQ(l[0].m_name_lead_star, 1);
  EXPECT_EQ(l[0].m_name_trail_star, 0);

  l = parse("/Windows/System32");
  EXPECT_EQ(l[0].m_name, L"/windows/system32");
  EXPECT_EQ(l[0].m_anchored, 1);
  // Pieces of a split are trimmed; a text without separators is taken whole.
  l = parse(" a , b ");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].m_name, L"a");
  EXPECT_EQ(l[1].m_name, L"b");
  l = parse(" a ");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].m_piece, L" a ");
  l = parse("||");
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].m_piece, L"||");

  l = parse("f*.dat:*zone*");
  EXPECT_EQ(l[0].m_name, L"f.dat");
  EXPECT_EQ(l[0].m_name_lead_star, 0);
  EXPECT_EQ(l[0].m_has_colon_part, 1);
  EXPECT_EQ(l[0].m_colon_part, L"zone");
  EXPECT_EQ(l[0].m_colon_lead_star, 1);
  EXPECT_EQ(l[0].m_colon_trail_star, 1);
  l = parse("*:*");
  EXPECT_EQ(l[0].m_match_all, 1);
  EXPECT_EQ(l[0].m_colon_match_all, 1);
}

TEST(FileFilters, NamePatterns) {
  EXPECT_TRUE(passes("*.lnk", L"/x/a.lnk"));
  EXPECT_TRUE(passes("*.lnk", L"/x/a.lnk.lnk"));
  EXPECT_FALSE(passes("*.lnk", L"/x/a.lnk.bak"));
  EXPECT_TRUE(passes("foo*", L"/x/foobar"));
  EXPECT_FALSE(passes("foo*", L"/x/xfoo"));
  EXPECT_TRUE(passes("*foo*", L"/x/xfooy"));
  EXPECT_TRUE(passes("FOO", L"/x/foo"));
  EXPECT_TRUE(passes("foo", L"C:\\Dir\\FOO"));
  EXPECT_FALSE(passes("foo", L"/x/foox"));
  EXPECT_TRUE(passes("x,*,y", L"/any/thing"));
  EXPECT_TRUE(passes("a.txt|b.txt", L"/d/b.txt"));
  EXPECT_FALSE(passes("a.txt|b.txt", L"/d/c.txt"));
  // The name is the text after the last '\', else after the last '/'.
  EXPECT_TRUE(passes("*.automaticdestinations-ms", L"/mnt/c/u\\x.automaticDestinations-ms"));
}

TEST(FileFilters, AnchoredDirectories) {
  EXPECT_TRUE(passes("/windows/system32", L"c:\\windows\\system32\\f"));
  EXPECT_TRUE(passes("/windows/system32", L"/mnt/windows/system32/sub/f"));
  EXPECT_TRUE(passes("/Windows/System32", L"/mnt/WINDOWS/system32/f"));
  EXPECT_FALSE(passes("/windows/system32", L"/windows/system32x/f"));
  EXPECT_FALSE(passes("/windows/system32", L"/windows/f"));
  // A later occurrence counts when the first one runs on.
  EXPECT_TRUE(passes("/windows/system32", L"/windows/system32x/windows/system32/f"));
}

TEST(FileFilters, ColonParts) {
  EXPECT_TRUE(passes("f.dat:zone*", L"/d/f.dat:zone.identifier", true));
  EXPECT_FALSE(passes("f.dat:zone*", L"/d/f.dat:other", true));
  EXPECT_FALSE(passes("f.dat", L"/d/f.dat:zone", true));
  EXPECT_TRUE(passes("f.dat:*", L"/d/f.dat", true));
  EXPECT_FALSE(passes("f.dat:zone", L"/d/f.dat", true));
  EXPECT_TRUE(passes("*.dat:*one", L"/d/f.dat:oneone", true));
  // Without the flag the colon is part of the name.
  EXPECT_TRUE(passes("*:zone", L"/d/f.dat:zone", false));
}

TEST(FileFilters, EmptyInputs) {
  cmd_params s;
  uint8_t failed = 9;
  EXPECT_FALSE(file_passes_filters(s, failed, L"", {}, nullptr, false));
  EXPECT_EQ(failed, 0);
  EXPECT_TRUE(file_passes_filters(s, failed, L"/a/b", {}, nullptr, false));
  failed = 9;
  EXPECT_FALSE(path_passes_filters_default(failed, L"", parse("*.lnk"), false));
  EXPECT_EQ(failed, 9);
  EXPECT_TRUE(path_passes_filters_default(failed, L"/a/b", {}, false));
  EXPECT_TRUE(path_passes_filters_default(failed, L"/a/b.lnk", parse("*.lnk"), false));
  EXPECT_FALSE(path_passes_filters_default(failed, L"/a/b.lnx", parse("*.lnk"), false));
  EXPECT_FALSE(path_passes_filters(s, failed, "", {}, nullptr, false));
  EXPECT_TRUE(path_passes_filters(s, failed, "/a/b\xE9.lnk", parse("*.lnk"), nullptr, false));
}

constexpr uint64_t unix_to_ticks(uint64_t secs) {
  return (secs + 11644473600ULL) * 10000000ULL;
}

// A window from `start` (unix seconds) with its end left open, as a start
// time given alone sets it.
void open_window(cmd_params& s, uint32_t start) {
  s.m_start_set = 1;
  s.m_start_unix = start;
  s.m_start_time = unix_to_ticks(start);
  s.m_stop_set = 1;
  s.m_stop_unix = UINT32_MAX;
  s.m_stop_time = UINT64_MAX;
}

file_stat_info times(uint32_t kind, int64_t mtime, int64_t time2 = 0) {
  file_stat_info info;
  clear_file_stat_info(info);
  info.time_kind = kind;
  info.mtime = mtime;
  info.time2 = time2;
  return info;
}

TEST(FileFilters, TimeWindow) {
  cmd_params s;
  const uint32_t start = 1600000000, stop = 1700000000;
  open_window(s, start);
  uint8_t failed;
  auto test = [&](file_stat_info info) {
    return file_passes_filters(s, failed, L"/no/such/file", {}, &info, false);
  };
  EXPECT_FALSE(test(times(file_times_unix, start - 1)));
  EXPECT_TRUE(test(times(file_times_unix, start - 1, start + 5)));  // the second time is inside
  EXPECT_TRUE(test(times(file_times_unix, start)));
  EXPECT_TRUE(test(times(file_times_unix, 4000000000LL)));
  EXPECT_FALSE(test(times(file_times_filetime, static_cast<int64_t>(unix_to_ticks(start) - 1))));
  EXPECT_TRUE(test(times(file_times_filetime, static_cast<int64_t>(unix_to_ticks(stop)))));
  EXPECT_FALSE(test(times(file_times_unix_negative, -5)));
  // Without a record no window applies.
  EXPECT_TRUE(file_passes_filters(s, failed, L"/no/such/file", {}, nullptr, false));
  // A record without times is filled from the file; a missing file is outside.
  EXPECT_FALSE(test(times(0, 0)));

  s.m_stop_unix = stop;
  s.m_stop_time = unix_to_ticks(stop);
  EXPECT_FALSE(test(times(file_times_unix, stop + 1)));
  EXPECT_FALSE(test(times(file_times_unix, start + 1, stop + 1)));
  EXPECT_TRUE(test(times(file_times_unix, stop)));
  EXPECT_FALSE(test(times(file_times_filetime, static_cast<int64_t>(unix_to_ticks(stop) + 1))));
  // The window also holds with patterns, through the UTF-8 front end too.
  file_stat_info late = times(file_times_unix, stop + 1);
  EXPECT_FALSE(path_passes_filters(s, failed, "/d/a.lnk", parse("*.lnk"), &late, false));
  file_stat_info inside = times(file_times_unix, stop - 1);
  EXPECT_TRUE(path_passes_filters(s, failed, "/d/a.lnk", parse("*.lnk"), &inside, false));
  // With no patterns the UTF-8 front end selects the name without a look at
  // the window; the wide test still applies it.
  file_stat_info late2 = times(file_times_unix, stop + 1);
  EXPECT_TRUE(path_passes_filters(s, failed, "/d/a.lnk", {}, &late2, false));
  EXPECT_FALSE(file_passes_filters(s, failed, L"/d/a.lnk", {}, &late2, false));
}

TEST(FileFilters, TimeWindowReadsTheFileWhenTheRecordIsEmpty) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("f.bin");
  cmd_params s;
  open_window(s, 1000);  // 1970: every real file is later
  uint8_t failed;
  file_stat_info info = times(0, 0);
  EXPECT_TRUE(
      file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("f.bin")), {}, &info, false));
  EXPECT_NE(info.mtime, 0);
  open_window(s, UINT32_MAX - 1);  // far in the future
  file_stat_info again = times(0, 0);
  EXPECT_FALSE(
      file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("f.bin")), {}, &again, false));
}

TEST(FileFilters, TimeWindowReachesNamesThatAreNotUtf8) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("odd\xE9.lnk");
  cmd_params s;
  open_window(s, 1000);
  uint8_t failed;
  file_stat_info info = times(0, 0);
  EXPECT_TRUE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("odd\xE9.lnk")),
                                  parse("*.lnk"), &info, false));
  EXPECT_EQ(info.time_kind, file_times_unix);
}

filter_entry signature(std::vector<uint8_t> bytes, uint64_t offset) {
  filter_entry e;
  init_filter_entry(e);
  e.m_signature = std::move(bytes);
  e.m_signature_offset = offset;
  return e;
}

TEST(FileFilters, SignatureEntries) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("sig.bin", std::string("\x00\x01\x02\x03L\x00\x00\x00", 8));
  t.file("other.bin", std::string("\x00\x01\x02\x03M\x00\x00\x00", 8));
  cmd_params s;
  uint8_t failed = 5;
  const std::vector<filter_entry> sig{signature({'L', 0, 0, 0}, 4)};
  EXPECT_TRUE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("sig.bin")), sig,
                                  nullptr, false));
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("other.bin")), sig,
                                   nullptr, false));
  EXPECT_EQ(failed, 0);
  // Past the end of the file, and an offset that would wrap.
  EXPECT_FALSE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("sig.bin")),
                                   {signature({0, 0, 0, 0, 0}, 4)}, nullptr, false));
  EXPECT_FALSE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("sig.bin")),
                                   {signature({0, 0}, UINT64_MAX)}, nullptr, false));
  // A file that cannot be opened is flagged, and the next entry still runs.
  std::vector<filter_entry> two = sig;
  two.push_back(parse("*.gone")[0]);
  EXPECT_TRUE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("x.gone")), two,
                                  nullptr, false));
  EXPECT_EQ(failed, 1);
  EXPECT_FALSE(file_passes_filters(s, failed, vkportdir::path_to_wide(t.path("missing")), sig,
                                   nullptr, false));
  EXPECT_EQ(failed, 1);
}

std::set<std::string> drain(vkportdir::stdin_stream_ex& s) {
  std::set<std::string> out;
  std::string line;
  while (s.getline(line, true)) out.insert(line);
  return out;
}

TEST(FilteredWalk, FiltersAndWindowApplyToTheWalk) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("a.lnk");
  t.file("b.txt");
  t.file("sub/c.LNK");
  t.file("sub/d.lnk.bak");

  vk::filtered_walk plain;
  ASSERT_TRUE(plain.start_dir(t.root(), UINT32_MAX, parse("*.lnk")));
  EXPECT_EQ(drain(plain), (std::set<std::string>{t.path("a.lnk"), t.path("sub/c.LNK")}));
  ASSERT_TRUE(plain.start_dir(t.root(), 0, {}));
  EXPECT_EQ(drain(plain), (std::set<std::string>{t.path("a.lnk"), t.path("b.txt")}));
  EXPECT_FALSE(plain.start_dir("", 0, {}));

  cmd_params s;
  vk::filtered_walk windowed(&s);
  ASSERT_TRUE(windowed.start_dir(t.root(), UINT32_MAX, parse("*.lnk")));
  EXPECT_EQ(drain(windowed).size(), 2u);
  open_window(s, UINT32_MAX - 1);
  ASSERT_TRUE(windowed.start_dir(t.root(), UINT32_MAX, {}));
  EXPECT_TRUE(drain(windowed).empty());
}

// A file is selected by a signature only when its bytes were read and
// match: neither a file that cannot be opened (a dangling link, a FIFO, an
// open the system refuses) nor a name that is not UTF-8 without the
// signature is handed out, while such a name with it is.
TEST(FilteredWalk, SignatureSelectsOnlyFilesReadAndMatching) {
  vesk_test::temp_tree t;
  ASSERT_TRUE(t.ok());
  t.file("match.bin", "MZ..");
  t.file("nomatch.bin", "PK..");
  t.file("sig\xFE.bin", "PK..");
  t.file("caf\xE9.bin", "MZ..");
  t.symlink(t.path("nowhere"), "dangling.bin");
  ASSERT_EQ(::mkfifo(t.path("p.bin").c_str(), 0600), 0);
  vk::filtered_walk s;
  ASSERT_TRUE(s.start_dir(t.root() + "/", 0, {signature({'M', 'Z'}, 0)}));
  EXPECT_EQ(drain(s), (std::set<std::string>{t.path("match.bin"), t.path("caf\xE9.bin")}));

  // Every open refused by the system: nothing is handed out.
  vk::posix_calls calls = vk::system_posix_calls();
  calls.open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
  vk::scoped_posix_calls refuse(calls);
  ASSERT_TRUE(s.start_dir(t.root() + "/", 0, {signature({'M', 'Z'}, 0)}));
  EXPECT_TRUE(drain(s).empty());
}

TEST(FileFiltersWide, DirectoryAndNameHeldApart) {
  cmd_params s;
  std::vector<filter_entry> list;
  ASSERT_TRUE(parse_filter_list_w(list, "*.LNK|x:*", "/Data"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].m_filter_path, L"/data");
  EXPECT_EQ(list[1].m_filter_path_length, 5u);
  std::vector<filter_entry> anchored;
  ASSERT_TRUE(parse_filter_list_w(anchored, "/data", ""));
  EXPECT_EQ(anchored[0].m_filter_path_length, 0u);

  struct row {
    std::wstring dir, name;
    const std::vector<filter_entry>* filters;
    bool colon, selected;
  };
  const std::vector<filter_entry> none, sig = {signature({'M', 'Z'}, 0)};
  const row rows[] = {
      {L"/mnt/DATA/x", L"A.lnk", &list, false, true},
      {L"/mnt/other", L"a.lnk", &list, false, false},  // the filter path is not in the directory
      {L"/mnt/data", L"x:zone", &list, true, true},
      {L"/mnt/data", L"", &list, false, false},
      {L"", L"a.lnk", &list, false, true},        // the name taken as the whole path
      {L"/data", L"f", &anchored, false, false},  // no anchored patterns here
      {L"/x", L"a.exe", &sig, false, false},      // nor signatures
      {L"/x", L"a.exe", &none, false, true},
  };
  uint8_t failed = 5;
  for (const row& r : rows)
    EXPECT_EQ(file_passes_filters_w(s, failed, r.dir, r.name, *r.filters, nullptr, r.colon),
              r.selected)
        << to_utf8(r.dir + L"/" + r.name);
  EXPECT_EQ(failed, 0);
}

TEST(FileFilters, SampleJumpListsByNameAndBySignature) {
  const auto dir = vesk_test::samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent";
  std::vector<std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file() || e.is_symlink()) continue;
    std::string name = e.path().filename().string();
    str_to_lower(name);
    if (name.ends_with("destinations-ms")) paths.push_back(e.path().string());
  }
  ASSERT_FALSE(paths.empty());
  auto selected = [&](const std::string& option, const std::string& value) {
    cmd_params s;
    std::vector<std::string> args{"prog", option, value};
    EXPECT_EQ(parse_common_options(s, args), 1);
    std::set<std::string> out;
    uint8_t failed = 0;
    for (const auto& p : paths)
      if (path_passes_filters(s, failed, p, s.m_filters, nullptr, false)) out.insert(p);
    return out;
  };
  auto named = [&](const std::string& kind) {
    std::set<std::string> out;
    for (const auto& p : paths) {
      std::string lower = p;
      str_to_lower(lower);
      if (lower.ends_with(kind)) out.insert(p);
    }
    return out;
  };
  const auto custom = named(".customdestinations-ms");
  const auto automatic = named(".automaticdestinations-ms");
  EXPECT_FALSE(custom.empty() || automatic.empty());
  EXPECT_EQ(selected("-filter", "*.customdestinations-ms"), custom);
  EXPECT_EQ(selected("-filter_sig", "d0 cf 11 e0"), automatic);
}

}  // namespace
