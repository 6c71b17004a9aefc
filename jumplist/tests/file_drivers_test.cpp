// The automatic road end to end on written jump lists: records in DestList
// order reported from the highest position down, missing streams costing
// only their entry, and files that are refused.
#include "jumplist/file_drivers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "alloc_hook.h"
#include "foundation/vk_posix.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/vesk_main.h"
#include "jumplist_samples.h"
#include "posix_seam.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

using failure = lnk::useropts::failure;

struct run_result {
  bool ok;
  std::string text;
  failure why = failure::none;
};

run_result run(const temp_tree& tree, const std::vector<uint8_t>& bytes,
               const std::string& name = "5f7b5f1e01b83767.automaticDestinations-ms",
               bool show_offset = false, bool slack = false) {
  if (!bytes.empty()) tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_show_offset = show_offset;
  options.m_slack = slack;
  options.m_source_path = tree.path(name);
  const source_appid id = appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  std::ostringstream out;
  const bool ok = process_jumplist_file(out, options.m_source_path, options);
  return {ok, out.str(), options.m_failure};
}

std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

TEST(FileDrivers, AutomaticListReportsEntriesFromTheHighestPositionDown) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const run_result r = run(tree, fixture_jumplist());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(values(r.text, "MRU/MFU index:"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(values(r.text, "stream #:"), (std::vector<std::string>{"1", "2", "10"}));
  EXPECT_EQ(values(r.text, "AppID:"), std::vector<std::string>(3, "5f7b5f1e01b83767"));
  EXPECT_EQ(values(r.text, "Interaction count:").back(), "5");
  EXPECT_EQ(values(r.text, "MRU time:").back(), "2024-03-05 07:08:09.123 [UTC]");
  EXPECT_EQ(values(r.text, "Description:").size(), 3u);
  EXPECT_TRUE(values(r.text, "File offset:").empty());

  const run_result offsets = run(tree, fixture_jumplist(), "o/x.automaticDestinations-ms", true);
  EXPECT_EQ(values(offsets.text, "File offset:").size(), 3u);
  EXPECT_EQ(values(offsets.text, "AppID:"), std::vector<std::string>(3, ""));

  // A missing stream costs its entry nothing: the others keep their places.
  const run_result missing = run(tree, fixture_jumplist(4, {u"2"}), "m/1.automaticDestinations-ms");
  ASSERT_TRUE(missing.ok);
  EXPECT_EQ(values(missing.text, "MRU/MFU index:"), (std::vector<std::string>{"3", "2", "1"}));
  EXPECT_EQ(values(missing.text, "stream #:"), (std::vector<std::string>{"1", "2", "10"}));

  // Version 1 entries carry no interaction count.
  const run_result v1 = run(tree, fixture_jumplist(1), "v/1.automaticDestinations-ms");
  ASSERT_TRUE(v1.ok);
  EXPECT_EQ(values(v1.text, "stream #:").size(), 3u);
  EXPECT_TRUE(values(v1.text, "Interaction count:").empty());
}

// Calls through the system-call layer, all of them counted.
int g_calls = 0;

vk::posix_calls counting_calls() {
  vk::posix_calls c = vk::system_posix_calls();
  c.open = [](const char* p, int f, mode_t m) {
    return ++g_calls, vk::system_posix_calls().open(p, f, m);
  };
  c.close = [](int fd) { return ++g_calls, vk::system_posix_calls().close(fd); };
  c.read = [](int fd, void* b, size_t n) {
    return ++g_calls, vk::system_posix_calls().read(fd, b, n);
  };
  c.write = [](int fd, const void* b, size_t n) {
    return ++g_calls, vk::system_posix_calls().write(fd, b, n);
  };
  c.pread = [](int fd, void* b, size_t n, off_t o) {
    return ++g_calls, vk::system_posix_calls().pread(fd, b, n, o);
  };
  c.lseek = [](int fd, off_t o, int w) {
    return ++g_calls, vk::system_posix_calls().lseek(fd, o, w);
  };
  c.fstat = [](int fd, struct stat* st) {
    return ++g_calls, vk::system_posix_calls().fstat(fd, st);
  };
  c.stat = [](const char* p, struct stat* st) {
    return ++g_calls, vk::system_posix_calls().stat(p, st);
  };
  c.lstat = [](const char* p, struct stat* st) {
    return ++g_calls, vk::system_posix_calls().lstat(p, st);
  };
  c.fstatat = [](int d, const char* n, struct stat* st, int f) {
    return ++g_calls, vk::system_posix_calls().fstatat(d, n, st, f);
  };
  return c;
}

// Every kind of file costs at most five calls from name to report (open,
// the status of the open descriptor, a read or two, close), and the report
// is the same as without counting.
TEST(FileDrivers, AFileCostsAtMostFiveSystemCalls) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  std::vector<uint8_t> custom;
  for (int i = 0; i < 3; ++i) custom.insert(custom.end(), link.begin(), link.end());
  std::vector<uint8_t> big_list = fixture_jumplist();
  big_list.resize(std::max<size_t>(big_list.size(), 40000), 0);  // past the first read
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } files[] = {
      {"5f7b5f1e01b83767.automaticDestinations-ms", fixture_jumplist()},
      {"b/5f7b5f1e01b83767.automaticDestinations-ms", big_list},
      {"report.lnk", {link.begin(), link.end()}},
      {"ccba5a5986c77e43.customDestinations-ms", custom},
  };
  for (const auto& f : files) {
    // The first read of a file just written moves its access time, which
    // the report shows: compare runs after it.
    ASSERT_TRUE(run(tree, f.bytes, f.name).ok) << f.name;
    const run_result plain = run(tree, {}, f.name);
    ASSERT_TRUE(plain.ok) << f.name;
    g_calls = 0;
    run_result counted;
    {
      vk::scoped_posix_calls scope(counting_calls());
      counted = run(tree, {}, f.name);
    }
    EXPECT_LE(g_calls, 5) << f.name;
    EXPECT_EQ(counted.text, plain.text) << f.name;
  }
}

// The drivers keep their buffers, reader and records from file to file: a
// file's report is the same whatever was read before it, and a list read
// again costs few allocations of its own. Its links carry only a name, so
// that parsing and reporting them costs next to nothing.
TEST(FileDrivers, FilesReportTheSameInAnyOrderAndAllocateLittle) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  lnk_spec bare;
  bare.strings[lnk_name] = u"n";
  const auto named = write_lnk(bare);
  std::vector<destlist_test_entry> entries(40);
  cfb_writer w;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].entry_num = i + 1;
    char name[24];
    std::snprintf(name, sizeof name, "%zx", i + 1);
    w.stream(std::u16string(name, name + std::strlen(name)), named);
  }
  w.stream(u"DestList", build_destlist(4, entries));
  const auto bare_list = w.build();
  std::vector<uint8_t> custom, carved(700, 'x'), big_list = fixture_jumplist();
  for (int i = 0; i < 3; ++i) custom.insert(custom.end(), link.begin(), link.end());
  carved.insert(carved.end(), named.begin(), named.end());
  carved.resize(40000, 'y');  // past the first read
  big_list.resize(40000, 0);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } files[] = {
      {"1/5f7b5f1e01b83767.automaticDestinations-ms", fixture_jumplist()},
      {"2/5f7b5f1e01b83767.automaticDestinations-ms", big_list},
      {"3/report.lnk", {link.begin(), link.end()}},
      {"4/ccba5a5986c77e43.customDestinations-ms", custom},
      {"5/x.automaticDestinations-ms", fixture_jumplist(4, {u"2"})},
      {"6/carved.bin", carved},
      {"7/bare.automaticDestinations-ms", bare_list},
  };
  // Each file is read once before the runs compared: the first read of a
  // file just written moves its access time, which the report shows.
  for (const auto& f : files) ASSERT_TRUE(run(tree, f.bytes, f.name).ok) << f.name;
  std::vector<std::string> first;
  for (const auto& f : files) {
    const run_result r = run(tree, {}, f.name);
    ASSERT_TRUE(r.ok) << f.name;
    first.push_back(r.text);
  }
  EXPECT_EQ(values(first[5], "stream #:").size(), 0u);
  EXPECT_EQ(values(first[6], "stream #:").size(), entries.size());
  for (size_t i = std::size(files); i-- > 0;)
    EXPECT_EQ(run(tree, {}, files[i].name).text, first[i]) << files[i].name;

  vesk_options options;
  options.m_bodyfile = 1;
  options.m_source_path = tree.path(files[6].name);
  std::ostringstream out;
  ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
  out.str("");
  int64_t made = 0;
  {
    vesk_test::heap::scope counted;
    ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
    made = counted.allocations();
  }
  EXPECT_LE(made, static_cast<int64_t>(2 * entries.size() + 8)) << made;
}

TEST(FileDrivers, StreamNamesShortListsAndStreamCopies) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();

  // Entry 255 names stream "ff".
  {
    destlist_test_entry e;
    e.entry_num = 255;
    cfb_writer w;
    w.stream(u"ff", link).stream(u"DestList", build_destlist(4, {e}));
    const run_result r = run(tree, w.build(), "n/x.automaticDestinations-ms");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(values(r.text, "stream #:"), std::vector<std::string>{"255"});
  }
  // A version-3 DestList of 40 bytes is cut inside its first entry: the
  // stream no entry names is reported all the same.
  {
    std::vector<uint8_t> destlist(40, 0);
    destlist[0] = 3;
    cfb_writer w;
    w.stream(u"1", link).stream(u"DestList", destlist);
    const run_result r = run(tree, w.build(), "s/x.automaticDestinations-ms");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(values(r.text, "stream #:"), std::vector<std::string>{"1"});
  }
  // Links that start only off 512-byte boundaries: an automatic list all
  // the same.
  {
    std::vector<destlist_test_entry> entries(2);
    entries[1].entry_num = 2;
    cfb_writer w;
    w.mini_gap()
        .stream(u"1", link)
        .stream(u"2", link)
        .stream(u"DestList", build_destlist(4, entries));
    const auto bytes = w.build();
    for (const auto* name : {u"1", u"2"}) ASSERT_NE(w.info(name).first_offset % 512, 0u);
    const run_result r = run(tree, bytes, "u/x.automaticDestinations-ms");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(values(r.text, "stream #:"), (std::vector<std::string>{"2", "1"}));
  }
  // With a dump folder, each LNK stream is copied there under its directory
  // entry and file offset.
  {
    std::vector<destlist_test_entry> entries(2);
    entries[0].entry_num = 10;
    cfb_writer w;
    w.stream(u"a", link).stream(u"1", link).stream(u"DestList", build_destlist(4, entries));
    const auto bytes = w.build();
    tree.dir("dump");
    tree.file("c/x.automaticDestinations-ms", std::string(bytes.begin(), bytes.end()));
    vesk_options options;
    options.lnk_dump_dir = tree.path("dump");
    std::ostringstream out;
    ASSERT_TRUE(process_jumplist_file(out, tree.path("c/x.automaticDestinations-ms"), options));
    for (const auto* name : {u"a", u"1"}) {
      const auto& info = w.info(name);
      char file[32];
      std::snprintf(file, sizeof file, "dump/%03x_%08llx.bin", info.entry_num,
                    static_cast<unsigned long long>(info.first_offset));
      std::ifstream in(tree.path(file), std::ios::binary);
      const std::vector<uint8_t> copy{std::istreambuf_iterator<char>(in), {}};
      EXPECT_EQ(copy, link) << file;
    }
  }
}

// A list of hundreds of entries keeps its DestList in the first sectors, so
// that no link starts in the first 32 KiB: every entry is reported all the
// same, in DestList order.
TEST(FileDrivers, LongListWithItsLinksPastTheFirst32KiB) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  auto link = fixture_link();
  link.resize(4096, 0);  // a regular stream, after the DestList's sectors
  std::vector<destlist_test_entry> entries(300);
  cfb_writer w;
  for (size_t i = 0; i < entries.size(); ++i) entries[i].entry_num = 300 - i;
  w.stream(u"DestList", build_destlist(4, entries));
  for (size_t n = 1; n <= entries.size(); ++n) {
    char name[24];
    std::snprintf(name, sizeof name, "%zx", n);
    w.stream(std::u16string(name, name + std::strlen(name)), link);
  }
  const auto bytes = w.build();
  uint64_t first_link = UINT64_MAX;
  for (const auto& st : w.streams())
    if (st.name != u"DestList") first_link = std::min(first_link, st.first_offset);
  ASSERT_GT(first_link, 32768u);
  const run_result r = run(tree, bytes, "big/1b4dd67f29cb1962.automaticDestinations-ms");
  ASSERT_TRUE(r.ok);
  const auto streams = values(r.text, "stream #:");
  ASSERT_EQ(streams.size(), 300u);
  for (size_t i = 0; i < streams.size(); ++i) EXPECT_EQ(streams[i], std::to_string(i + 1));
}

// What the seam does to the reads of a file: fail them all, or cut the
// file to a size just before its second read.
struct read_fault {
  int error = 0;
  off_t cut_to = -1;
  int reads = 0;
};
read_fault g_read_fault;

ssize_t faulty_pread(int fd, void* buf, size_t len, off_t at) {
  if (g_read_fault.error != 0) {
    errno = g_read_fault.error;
    return -1;
  }
  if (++g_read_fault.reads == 2 && g_read_fault.cut_to >= 0) {
    // Another program cuts the file; this descriptor is only for reading.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ::truncate(self.c_str(), g_read_fault.cut_to);
  }
  return vk::system_posix_calls().pread(fd, buf, len, at);
}

// A read that fails is said whatever the file's size; a file cut while it
// is read is said with its size then and now, and what was there reported.
TEST(FileDrivers, AFileThatFailsOrChangesWhileReadIsSaid) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto list = fixture_jumplist();
  auto tailed = list;
  tailed.resize(list.size() + 40000, 0);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    read_fault fault;
    bool ok;
    failure why;
    std::string said;         // on standard error from the notes, "" none
    const char* detail = "";  // the reason given with the failure
  } rows[] = {
      {"short file, EIO",
       std::vector<uint8_t>(40, 1),
       {EIO},
       false,
       failure::cannot_read,
       "",
       "Input/output error"},
      {"short file, ENXIO",
       std::vector<uint8_t>(40, 1),
       {ENXIO},
       false,
       failure::cannot_read,
       "",
       "No such device or address"},
      {"list, EIO", list, {EIO}, false, failure::cannot_read, "", "Input/output error"},
      {"list, ENXIO", list, {ENXIO}, false, failure::cannot_read, "", "No such device or address"},
      {"list with a tail, whole", tailed, {}, true, failure::none, ""},
      {"list with a tail, cut between reads",
       tailed,
       {0, static_cast<off_t>(list.size())},
       true,
       failure::none,
       "changed while read: " + std::to_string(tailed.size()) + " bytes when opened, " +
           std::to_string(list.size()) + " now"},
  };
  vk::posix_calls calls = vk::system_posix_calls();
  calls.pread = faulty_pread;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    tree.file("f.automaticDestinations-ms", std::string(r.bytes.begin(), r.bytes.end()));
    vesk_options options;
    options.m_source_path = tree.path("f.automaticDestinations-ms");
    std::ostringstream out;
    g_read_fault = r.fault;
    testing::internal::CaptureStderr();
    bool ok;
    {
      vk::scoped_posix_calls seam(calls);
      ok = process_jumplist_file(out, options.m_source_path, options);
    }
    g_read_fault = {};
    options.m_notes.flush(options.m_source_path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, r.ok);
    EXPECT_EQ(options.m_failure, r.why);
    EXPECT_EQ(options.m_failure_detail, r.detail);
    if (r.said.empty()) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_NE(err.find(r.said), std::string::npos) << err;
    }
    if (r.ok) {
      EXPECT_EQ(values(out.str(), "stream #:").size(), 3u);
    }
  }
}

// Links kept and dropped on the automatic road by one rule with the other
// roads, and "-slack" giving a free sector's link once.
TEST(FileDrivers, EntriesKeptByAnyTargetFieldAndFreeSectorLinksOnce) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  lnk_spec only_args;
  only_args.strings[lnk_arguments] = u"/c start";
  lnk_spec nothing;
  // A link whose only target is a network share (no ID list, no local path).
  lnk_spec only_share;
  only_share.link_info.emplace();
  only_share.link_info->has_volume = false;
  only_share.link_info->network = lnk_network_link{"\\\\server\\share", "", 0x00020000, -1};
  only_share.link_info->suffix = "notes.txt";
  std::vector<destlist_test_entry> entries(3);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].entry_num = i + 1;
  {
    cfb_writer w;
    w.stream(u"1", write_lnk(only_args))
        .stream(u"2", write_lnk(nothing))
        .stream(u"3", write_lnk(only_share));
    w.stream(u"DestList", build_destlist(4, entries));
    const run_result r = run(tree, w.build(), "k/x.automaticDestinations-ms");
    ASSERT_TRUE(r.ok);
    // Entry 2's link names nothing: its record shows the DestList path.
    EXPECT_EQ(values(r.text, "stream #:"), (std::vector<std::string>{"3", "2", "1"}));
    EXPECT_EQ(values(r.text, "DestList path:"), std::vector<std::string>{"C:\\Users\\x\\file.txt"});
    EXPECT_EQ(values(r.text, "Cmdline args:"), std::vector<std::string>{"/c start"});
  }
  {
    cfb_writer w;
    w.stream(u"1", fixture_link())
        .free_sector()
        .stream(u"DestList", build_destlist(4, {entries[0]}));
    auto bytes = w.build();
    const auto link = fixture_link();
    ASSERT_EQ(w.free_sectors.size(), 1u);
    const size_t at = w.sector_offset(w.free_sectors[0]);
    ASSERT_LE(link.size(), 512u);
    std::copy(link.begin(), link.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    const run_result r = run(tree, bytes, "f/x.automaticDestinations-ms", true, true);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(values(r.text, "File offset:").size(), 2u) << r.text;
    EXPECT_EQ(values(r.text, "MRU/MFU/Stream# data:").size(), 1u) << r.text;
    EXPECT_NE(values(r.text, "File offset:").back().find(std::to_string(at)), std::string::npos)
        << r.text;
  }
}

TEST(FileDrivers, RefusedFilesReportNothingAndKeepTheirReason) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const auto link = fixture_link();
  auto at = [&](size_t offset) {
    std::vector<uint8_t> bytes(offset, 0);
    bytes.insert(bytes.end(), link.begin(), link.end());
    return bytes;
  };
  auto zeroed = fixture_jumplist();
  for (size_t i = 512; i < zeroed.size(); ++i) zeroed[i] = 0;
  cfb_writer no_destlist, no_list;
  no_destlist.stream(u"1", link);
  no_list.stream(u"1", std::vector<uint8_t>(100, 7)).stream(u"x", link);
  std::vector<uint8_t> empty_destlist(40, 0);
  empty_destlist[0] = 3;
  cfb_writer no_entries, zero_destlist, v1_header;
  no_entries.stream(u"1", link).stream(u"DestList", empty_destlist);
  zero_destlist.stream(u"DestList", {});
  v1_header.stream(u"DestList", build_destlist(1, {}));
  tree.dir("r/folder");
  const std::string fifo = tree.path("r/fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct row {
    std::vector<uint8_t> bytes;
    const char* name;
    bool ok;
    failure why;
  };
  const row rows[] = {
      {std::vector<uint8_t>(75, 0), "r/tiny", false, failure::not_a_list},
      {at(40000), "r/far", false, failure::not_a_list},
      {at(32768 - 76), "r/edge", true, failure::none},
      {at(32768), "r/past", false, failure::not_a_list},
      {zeroed, "r/zeroed", false, failure::damaged},
      {no_destlist.build(), "r/nodl", true, failure::none},
      {no_list.build(), "r/nolist", false, failure::no_destlist},
      {std::vector<uint8_t>(zeroed.begin(), zeroed.begin() + 300), "r/cut", false,
       failure::damaged},
      {no_entries.build(), "r/none", true, failure::none},
      {zero_destlist.build(), "r/zero", true, failure::no_entries},
      {v1_header.build(), "r/v1", true, failure::no_entries},
      {{}, "r/missing", false, failure::cannot_open},
      {{}, "r/folder", false, failure::cannot_read},
      {{}, "r/fifo", false, failure::cannot_read},
  };
  for (const row& w : rows) {
    const run_result r = run(tree, w.bytes, w.name);
    EXPECT_EQ(r.ok, w.ok) << w.name;
    EXPECT_EQ(r.why, w.why) << w.name;
    if (!w.ok) {
      EXPECT_EQ(r.text, "") << w.name;
    }
  }
  vesk_options o;
  o.m_failure = failure::damaged;
  o.m_failure_detail = "DestList entries";
  EXPECT_EQ(failure_line(o, "f"), "damaged file: f (DestList entries)\n");
  o.m_failure = failure::none;
  EXPECT_EQ(failure_line(o, "f"), "no entries in file: f\n");
  EXPECT_FALSE(failure_is_access(o));
}

TEST(FileDriversSamples, OneBlockPerLinkStreamInDestListOrder) {
  const auto samples = automatic_jumplist_samples();
  if (samples.empty()) GTEST_SKIP() << "sample folder absent";
  size_t blocks = 0;
  for (const auto& s : samples) {
    SCOPED_TRACE(s.relpath);
    vesk_options options;
    std::ostringstream out;
    const bool ok = process_jumplist_file(out, s.path.string(), options);
    const std::string ok_streams = s.detail("lnk_streams_ok");
    const size_t expected = std::stoul(ok_streams.substr(0, ok_streams.find('/')));
    const auto indices = values(out.str(), "MRU/MFU index:");
    const auto streams = values(out.str(), "stream #:");
    ASSERT_EQ(indices.size(), expected);
    // A list whose DestList is there but empty is valid.
    EXPECT_EQ(ok, s.detail("DestList") == "yes");
    if (expected == 0) {
      EXPECT_EQ(out.str(), "");
      continue;
    }
    // Index k (printed from N down) is the k-th DestList entry.
    compound_file_reader reader;
    ASSERT_TRUE(parse_compound_image(&reader, s.bytes.data(), s.bytes.size()));
    std::vector<uint8_t> destlist;
    uint32_t dir_entry = 0, version = 0;
    uint64_t offset = 0;
    ASSERT_TRUE(read_stream(reader, destlist, dir_entry, offset, "destlist", s.bytes.data(),
                            s.bytes.size()));
    std::vector<destlist_entry> entries;
    ASSERT_TRUE(load_destlist_entries(destlist.data(), destlist.size(), version, entries));
    ASSERT_EQ(entries.size(), expected);
    for (size_t i = 0; i < expected; ++i) {
      const size_t k = expected - i;
      EXPECT_EQ(indices[i], std::to_string(k));
      EXPECT_EQ(streams[i], std::to_string(entries[k - 1].m_entry_num));
    }
    blocks += expected;
  }
  EXPECT_EQ(blocks, 165u);
}

}  // namespace
}  // namespace vk
