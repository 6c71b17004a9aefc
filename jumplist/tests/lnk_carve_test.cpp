// Carving links out of files: chunk edges, back-to-back links, labels, a read
// that gives nothing, the custom and carve roads, compound files met inside
// scanned data, "-slack" recovery on an automatic list, and hostile bytes.
#include "jumplist/lnk_carve.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "byte_builder.h"
#include "cfb_writer.h"
#include "destlist_writer.h"
#include "foundation/vk_console.h"
#include "foundation/vk_numtext.h"
#include "foundation/vk_posix.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_signature.h"
#include "jumplist/record_report.h"
#include "jumplist/vesk_main.h"
#include "posix_seam.h"
#include "report_fixture.h"
#include "temp_tree.h"

namespace vk {
namespace {

// A sink that writes nothing and counts the records reported.
carved_record_sink counting_sink(size_t& records) {
  return {[](lnk_record&, std::ostream&, file_notes&) {},
          [&records](const carved_report&) { ++records; }};
}

using namespace vesk_test;
using bytes_t = std::vector<uint8_t>;

// The fixture link with its own target write time.
bytes_t timed_link(uint64_t write_time) {
  lnk_spec s;
  s.write_time = write_time;
  s.file_size = 4096;
  lnk_link_info li;
  li.serial = 0x1234ABCD;
  li.local_base_path = "C:\\Temp\\report" + std::to_string(write_time % 100) + ".docx";
  s.link_info = li;
  s.strings[lnk_name] = u"carved";
  return write_lnk(s);
}

void put(bytes_t& into, size_t at, const bytes_t& what) {
  if (into.size() < at + what.size()) into.resize(at + what.size(), 0);
  std::copy(what.begin(), what.end(), into.begin() + static_cast<std::ptrdiff_t>(at));
}

std::vector<std::string> values(const std::string& text, const std::string& label) {
  std::vector<std::string> found;
  for (size_t at = text.find(label); at != std::string::npos; at = text.find(label, at + 1))
    found.push_back(text.substr(at + 26, text.find('\n', at) - at - 26));
  return found;
}

struct scan_outcome {
  bool ok;
  std::vector<std::pair<int64_t, lnk_record>> records;
};

scan_outcome scan(const temp_tree& tree, const bytes_t& bytes, const std::string& label = "",
                  bool carve_mode = true) {
  tree.file("scan.bin", std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_status_messages = 0;
  options.m_store_records = true;
  options.m_scan_step = 1;
  options.m_carve_mode = carve_mode;
  options.m_source_type = label;
  std::ostringstream out;
  const bool ok = scan_file_for_lnk(out, tree.path("scan.bin"), options, false);
  // The scan over the same bytes in memory stores the same records, and
  // scanning again (now into the record nodes of the first scan, handed to
  // other settings and kept after the first settings are gone, and told
  // where the first header is, as the drivers do) too.
  vesk_options second;
  for (int again = 0; again < 2; ++again) {
    vesk_options first_settings;
    vesk_options& in_memory = again == 0 ? first_settings : second;
    uint32_t first = 0;
    const uint64_t hint = again == 1 && find_lnk_signature(first, bytes.data(), bytes.size(), 1)
                              ? first
                              : k_header_not_searched;
    in_memory.m_status_messages = 0;
    in_memory.m_store_records = true;
    in_memory.m_scan_step = 1;
    in_memory.m_carve_mode = carve_mode;
    in_memory.m_source_type = label;
    EXPECT_EQ(scan_bytes_for_lnk(out, bytes.data(), bytes.size(), in_memory, false, hint), ok);
    EXPECT_EQ(in_memory.m_records.size(), options.m_records.size());
    for (auto a = options.m_records.begin(), b = in_memory.m_records.begin();
         a != options.m_records.end() && b != in_memory.m_records.end(); ++a, ++b)
      EXPECT_TRUE(a->first == b->first && a->second.m_source_type == b->second.m_source_type &&
                  a->second.m_lnk_size == b->second.m_lnk_size &&
                  a->second.m_name == b->second.m_name &&
                  a->second.m_local_base_path == b->second.m_local_base_path)
          << a->first;
    recycle_records(in_memory.m_records, second.m_scratch);
  }
  return {ok, {options.m_records.begin(), options.m_records.end()}};
}

struct drive_outcome {
  bool ok;
  std::string text;
  std::string err;
  std::vector<lnk_record> records;
};

drive_outcome drive(const temp_tree& tree, const bytes_t& bytes, const std::string& name,
                    bool quiet = false) {
  tree.file(name, std::string(bytes.begin(), bytes.end()));
  vesk_options options;
  options.m_status_messages = quiet ? 0 : 1;
  options.m_source_path = tree.path(name);
  const source_appid id = appid_from_path(options.m_source_path);
  options.m_appid_text = id.text;
  options.m_appid = id.value;
  std::ostringstream out;
  console_capture capture;
  const bool ok = process_jumplist_file(out, options.m_source_path, options);
  drive_outcome o{ok, out.str(), capture.err(), {}};
  for (auto it = options.m_records.rbegin(); it != options.m_records.rend(); ++it)
    o.records.push_back(it->second);
  return o;
}

// The fixture jump list's streams and DestList in a compound file.
bytes_t jumplist_with(cfb_writer& w, const bytes_t& link) {
  std::vector<destlist_test_entry> entries(2);
  entries[0].entry_num = 10;
  entries[0].mru_time = 133540960891234567ull;
  entries[1].entry_num = 1;
  w.stream(u"a", link).stream(u"1", link);
  w.stream(u"DestList", build_destlist(4, entries));
  return w.build();
}

TEST(LnkCarve, ScannerFindsEveryLinkAtItsOffset) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bytes_t link = timed_link(0);
  const uint32_t L = static_cast<uint32_t>(link.size());

  // Back to back from 0, and one more at 4660: each found at its offset,
  // the first labelled as the file, the others by offset.
  bytes_t file;
  put(file, 0, link);
  put(file, L, link);
  put(file, 4660, link);
  scan_outcome s = scan(tree, file, "VESKLIST (custom)");
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.records.size(), 3u);
  EXPECT_EQ(s.records[0].first, 0);
  EXPECT_EQ(s.records[1].first, L);
  EXPECT_EQ(s.records[1].second.m_lnk_size, L);
  EXPECT_EQ(s.records[2].first, 4660);
  EXPECT_EQ(s.records[2].second.m_file_offset, 4660u);
  EXPECT_EQ(s.records[0].second.m_source_type, "VESKLIST (custom)");
  EXPECT_EQ(s.records[2].second.m_source_type, "Shortcut LNK (carved - 0x00001234)");
  EXPECT_EQ(s.records[2].second.m_source_name, "LNK");
  EXPECT_EQ(scan(tree, link).records.at(0).second.m_source_type, "Shortcut LNK (carved)");

  // A header at each of the last 76 offsets of a full chunk, and on both
  // sides of them, is found once, with a link after it: the chunks overlap
  // by a header's length. With a link at 0 first the chunk starts after it.
  for (const size_t first : {size_t{0}, size_t{L}}) {
    for (size_t at = 32768 - 78; at <= 32768 + 1; ++at) {
      const size_t edge_at = first + at;
      bytes_t edge;
      if (first) put(edge, 0, link);
      put(edge, edge_at, link);
      put(edge, edge_at + L + 100, link);
      edge.resize(edge_at + 3 * L, 0);
      const scan_outcome e = scan(tree, edge);
      std::vector<int64_t> keys;
      for (const auto& [key, record] : e.records) keys.push_back(key);
      std::vector<int64_t> want;
      if (first) want.push_back(0);
      want.push_back(static_cast<int64_t>(edge_at));
      want.push_back(static_cast<int64_t>(edge_at + L + 100));
      EXPECT_EQ(keys, want) << "header at " << edge_at;
    }
  }
  // Nothing past the first chunk without a header outside carve mode.
  bytes_t late(40000, 0);
  put(late, 33000, link);
  EXPECT_TRUE(scan(tree, late).ok);
  EXPECT_FALSE(scan(tree, late, "", false).ok);
  // 75 bytes are too few to scan; a header alone is a link.
  EXPECT_FALSE(scan(tree, bytes_t(link.begin(), link.begin() + 75)).ok);
  EXPECT_TRUE(scan(tree, bytes_t(link.begin(), link.begin() + 76)).ok);
  EXPECT_TRUE(scan(tree, bytes_t(link.begin(), link.begin() + 77)).ok);
  EXPECT_FALSE(scan(tree, {}).ok);
}

// Every read comes back empty, as from a file that shrank after it was
// opened: the scan ends at once instead of spinning.
int g_reads = 0;
ssize_t empty_read(int, void*, size_t) {
  ++g_reads;
  return 0;
}
ssize_t empty_pread(int, void*, size_t, off_t) {
  ++g_reads;
  return 0;
}

TEST(LnkCarve, ReadGivingNothingEndsTheScan) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  bytes_t file(100000, 0);
  put(file, 50000, timed_link(0));
  tree.file("shrunk.bin", std::string(file.begin(), file.end()));
  uni::fileio io(tree.path("shrunk.bin"), false);
  ASSERT_TRUE(io.usable());
  vesk_options options;
  options.m_status_messages = 0;
  options.m_carve_mode = true;
  options.m_scan_step = 1;
  posix_calls calls = system_posix_calls();
  calls.read = empty_read;
  calls.pread = empty_pread;
  g_reads = 0;
  std::ostringstream out;
  {
    scoped_posix_calls fake(calls);
    EXPECT_FALSE(scan_fileio_for_lnk(out, io, options, false));
  }
  EXPECT_EQ(g_reads, 1);
  EXPECT_EQ(out.str(), "");
}

// The settings of a quiet carve of every offset of dump.bin.
void set_dump_options(vesk_options& options) {
  options.m_status_messages = 0;
  options.m_carve_mode = true;
  options.m_scan_step = 1;
  options.m_source_path = "dump.bin";
}

// Reads of 64 KiB or more past the file's start fail, as on a disk with a
// bad stretch: the scan's first window is read, later ones are not.
ssize_t pread_failing_large(int fd, void* buf, size_t len, off_t offset) {
  if (offset > 0 && len >= 65536) {
    errno = EIO;
    return -1;
  }
  return system_posix_calls().pread(fd, buf, len, offset);
}

// Reads that take in [g_bad_from, g_bad_to) of the file past its start
// fail, as on a disk with a bad stretch there; the first that starts at
// g_spared_at apart (a stretch that goes bad once read).
uint64_t g_bad_from = 0, g_bad_to = 0, g_spared_at = UINT64_MAX;
ssize_t pread_failing_stretch(int fd, void* buf, size_t len, off_t offset) {
  const uint64_t at = static_cast<uint64_t>(offset);
  if (offset > 0 && at < g_bad_to && g_bad_from < at + len) {
    if (at != g_spared_at) {
      errno = EIO;
      return -1;
    }
    g_spared_at = UINT64_MAX;
  }
  return system_posix_calls().pread(fd, buf, len, offset);
}

// A link declaring more than the scan's window holds grows it; where the
// read that grows it fails, the link's bytes are asked for again, never
// read where the window held them before it moved.
// dump.bin of the tree, holding file, carved through its descriptor with
// reads taken by pread (g_bad_from and g_bad_to set by the caller): its
// records counted, and whether it carved any.
std::pair<bool, size_t> carve_dump_read_by(temp_tree& tree, const bytes_t& file,
                                           ssize_t (*pread)(int, void*, size_t, off_t),
                                           vesk_options& options) {
  tree.file("dump.bin", std::string(file.begin(), file.end()));
  uni::fileio io(tree.path("dump.bin"), false);
  EXPECT_TRUE(io.usable());
  set_dump_options(options);
  posix_calls calls = system_posix_calls();
  calls.pread = pread;
  std::ostringstream out;
  size_t records = 0;
  bool carved = false;
  {
    scoped_posix_calls fake(calls);
    carved = carve_and_report(out, &io, byte_view(), options, false, k_header_not_searched,
                              counting_sink(records));
  }
  return {carved, records};
}

TEST(LnkCarve, AWindowThatFailsToGrowLeavesNoStaleBytes) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  constexpr size_t k_at = 41060, k_block = 384 * 1024;
  bytes_t file = timed_link(0);
  file.resize(k_at, 0);
  byte_builder head;
  head.u32(0x4C).bytes(bytes_t{0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46});
  head.u32(0).u32(0x20).u64(0).u64(0).u64(0).u32(0).u32(0).u32(1).u16(0).u16(0).u32(0).u32(0);
  bytes_t link = head.take();
  ASSERT_EQ(link.size(), 76u);
  file.insert(file.end(), link.begin(), link.end());
  byte_builder block;
  block.u32(k_block).u32(0xA0000001);
  bytes_t body = block.take();
  for (size_t i = body.size(); i < k_block; ++i) body.push_back(static_cast<uint8_t>(i));
  file.insert(file.end(), body.begin(), body.end());
  file.resize(file.size() + 4 + 200000, 0);
  g_bad_from = 135168;
  g_bad_to = 140000;
  vesk_options options;
  // The link before is reported; the one whose bytes cannot be read, and
  // the file past it, are said lost.
  EXPECT_EQ(carve_dump_read_by(tree, file, pread_failing_stretch, options).second, 1u);
  EXPECT_NE(options.m_notes.lines("dump.bin")
                .find("(link scan at offset 0xa064: its bytes could not be read (a read failed "
                      "or the file shrank); the file not scanned past here)"),
            std::string::npos)
      << options.m_notes.lines("dump.bin");
}

TEST(LnkCarve, AnEmbeddedImageWhoseBytesCannotBeReadIsSaid) {
  temp_tree tree;
  // Its large stream, searched after its link streams are read; its mini
  // FAT, which its parse reads after the walk for its reach; or its
  // directory, which that walk reads; past the scan's first window.
  cfb_layout padded;
  padded.min_fat_sectors = 250;
  enum class bad { large_reads, minifat, directory, destlist, destlist_later };
  struct row {
    const char* what;
    cfb_layout layout;
    bad where;
    size_t records;
  };
  const row rows[] = {
      {"reads of 64 KiB or more", {}, bad::large_reads, 3},
      {"the mini FAT's sector", padded, bad::minifat, 3},
      {"the directory's sector", padded, bad::directory, 3},
      {"its DestList's last sector", padded, bad::destlist, 3},
      {"its DestList's last sector, once read", padded, bad::destlist_later, 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_TRUE(tree.ok());
    cfb_writer w(r.layout);
    w.stream(u"a", timed_link(133540960891234567ull))
        .stream(u"2", timed_link(133540960891234599ull))
        .stream(u"big", bytes_t(200000, 0x11));
    // Entries enough to lie in sectors of their own.
    const bool destlist = r.where == bad::destlist || r.where == bad::destlist_later;
    if (destlist) w.stream(u"DestList", build_destlist_naming(std::vector<uint64_t>(30, 2)));
    bytes_t file = timed_link(0);
    put(file, 4096, w.build());
    g_bad_from = 4096 + w.sector_offset(r.where == bad::directory ? w.dir_sectors.at(0)
                                        : destlist                ? w.info(u"DestList").chain.back()
                                                                  : w.minifat_sectors.at(0));
    // Read whole once, then not as the walk reads it.
    g_spared_at = r.where == bad::destlist_later
                      ? 4096 + w.sector_offset(w.info(u"DestList").chain.front())
                      : UINT64_MAX;
    g_bad_to = g_bad_from + 512;
    vesk_options options;
    const auto [carved, records] = carve_dump_read_by(
        tree, file, r.where == bad::large_reads ? pread_failing_large : pread_failing_stretch,
        options);
    EXPECT_TRUE(carved);
    // The link before the list and its two links: read as its link streams
    // before the failed search of its sectors, or carved from its bytes.
    EXPECT_EQ(records, r.records);
    // A DestList that cannot be read whole leaves the list unread, said
    // once, never walked as far as its bytes come.
    if (destlist) {
      EXPECT_EQ(options.m_notes.lines("dump.bin").find("of stream DestList"), std::string::npos)
          << options.m_notes.lines("dump.bin");
    }
    EXPECT_NE(options.m_notes.lines("dump.bin")
                  .find("(compound file at offset 0x1000: its bytes could not all be read (a "
                        "read failed or the file shrank); the links there not carved from it)"),
              std::string::npos)
        << options.m_notes.lines("dump.bin");
  }
}

// Reads of the file, counted in calls and bytes.
uint64_t g_read_calls = 0, g_read_bytes = 0;
// Only those of g_counted_fd when it is set; those of g_other_fd apart.
int g_counted_fd = -1, g_other_fd = -1;
uint64_t g_other_reads = 0;
bool g_other_large_fail = false;  // its reads of more than 4 KiB fail
ssize_t counted_pread(int fd, void* buf, size_t len, off_t offset) {
  if (fd == g_other_fd && g_other_large_fail && len > 4096) {
    errno = EIO;
    return -1;
  }
  const ssize_t n = system_posix_calls().pread(fd, buf, len, offset);
  if (fd == g_other_fd) ++g_other_reads;
  if (g_counted_fd != -1 && fd != g_counted_fd) return n;
  ++g_read_calls;
  if (n > 0) g_read_bytes += static_cast<uint64_t>(n);
  return n;
}

// An environment variable set (value null: left as it is) for a scope.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : m_name(name) {
    if (!value) return;
    const char* was = std::getenv(name);
    m_had = was != nullptr;
    if (m_had) m_was = was;
    m_set = true;
    setenv(name, value, 1);
  }
  ~scoped_env() {
    if (!m_set) return;
    if (m_had)
      setenv(m_name, m_was.c_str(), 1);
    else
      unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::string m_was;
  bool m_had = false, m_set = false;
};

// The temporary files the spill makes, in the order made (data, runs),
// the folders and flags they were asked in, and a file system that takes
// only so many bytes of one of them (the write that passes it taken in
// part), or none of either.
struct temp_files {
  int fds[2] = {-1, -1};
  size_t made = 0;
  std::vector<std::pair<std::string, int>> asked;  // path, flags
  std::vector<mode_t> modes;
  bool refuse_nameless = false;  // as a file system without O_TMPFILE
  int full_fd = -1;              // 0: the data file, 1: the runs file; 2: both, at once
  uint64_t room = 0, written = 0;
  int error = ENOSPC;
};
temp_files g_temp;
int temp_open(const char* path, int flags, mode_t mode) {
  const bool nameless = (flags & O_TMPFILE) == O_TMPFILE;
  if (nameless || (flags & O_CREAT) != 0) {
    g_temp.asked.emplace_back(path, flags);
    g_temp.modes.push_back(mode);
  }
  if (nameless && g_temp.refuse_nameless) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const int fd = system_posix_calls().open(path, flags, mode);
  if (fd != -1 && (nameless || (flags & O_CREAT) != 0) && g_temp.made < 2) {
    if (g_temp.made == 0) g_other_fd = fd;  // the texts' file, its reads counted apart
    g_temp.fds[g_temp.made++] = fd;
  }
  return fd;
}
ssize_t temp_pwrite(int fd, const void* buf, size_t len, off_t offset) {
  const bool watched = g_temp.full_fd == 2
                           ? (fd == g_temp.fds[0] || fd == g_temp.fds[1])
                           : g_temp.full_fd >= 0 && fd == g_temp.fds[g_temp.full_fd];
  if (watched && len != 0) {
    const uint64_t left = g_temp.room - std::min(g_temp.room, g_temp.written);
    if (left == 0) {
      errno = g_temp.error;
      return -1;
    }
    len = static_cast<size_t>(std::min<uint64_t>(len, left));
    g_temp.written += len;
  }
  return system_posix_calls().pwrite(fd, buf, len, offset);
}

// A dump of small lists, each followed by a link, between stretches of
// random bytes: the scan reads each byte once and a list it holds in its
// window costs no read of its own; past the budget (of none) too, each
// record's report being held as it is carved.
TEST(LnkCarve, ADumpOfSmallListsIsReadOnce) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  constexpr size_t k_pieces = 40, k_random = 30000;
  constexpr uint64_t k_time = 133540960891234567ull;
  bytes_t file = timed_link(0);
  uint32_t seed = 82;
  for (size_t j = 0; j < k_pieces; ++j) {
    for (size_t i = 0; i < k_random; ++i) {
      seed = seed * 1103515245u + 12345u;
      file.push_back(static_cast<uint8_t>(seed >> 16));
    }
    cfb_writer w;
    for (char16_t k = 0; k < 10; ++k)
      w.stream({char16_t(u'a' + k)}, timed_link(k_time + j * 10 + k));
    put(file, file.size(), w.build());
    put(file, file.size() + 100, timed_link(k_time + 1000 + j));
  }
  tree.file("dump.bin", std::string(file.begin(), file.end()));
  // Past the budget the reports are held in the temporary folder: in runs
  // of a few entries they are merged in more than one pass. A folder that
  // takes no file, or a file there that fills (its texts, its runs, the
  // merge's runs; a write taken in part), loses nothing: the rest is held in
  // memory, said once, and the report is the same. As rows, the titles come
  // first once; the notes a record's report gives are said in report order
  // (the first shown is the first reported). A report larger than the
  // spill's blocks and reads goes on to the file before its head is known
  // and comes back in pieces. $TMPDIR is taken as given, a relative one too,
  // and an empty one is /tmp; where the folder makes no nameless file the
  // spill's are made under names no one can foresee, never through a link,
  // readable by the run alone, and removed at once.
  enum class fault { none, no_folder, a_file, text_full, runs_full, merge_full, both_full };
  enum class folder { as_set, relative, empty, no_nameless };
  struct row {
    const char* what;
    size_t budget, run_entries;
    bool rows = false;
    fault made = fault::none;
    uint64_t merges = 0;  // at least
    size_t large = 0;     // bytes the first link's report adds
    uint64_t room = 0;    // bytes the full file takes
    folder where = folder::as_set;
    bool ahead_fails = false;  // the texts' file's reads ahead fail
  };
  const size_t runs = vesk_options().m_carve_run_entries;
  const size_t kept = 1 + k_pieces * 11;
  const row rows[] = {
      {"held", size_t{64} << 20, runs},
      {"past the budget", 0, runs},
      {"past the budget, runs of 4 entries", 0, 4, false, fault::none, 2},
      {"held, as rows", size_t{64} << 20, runs, true},
      {"past the budget, as rows", 0, runs, true},
      {"past the budget, as rows, runs of 2 entries", 0, 2, true, fault::none, 2},
      {"past the budget, the temporary folder missing", 0, runs, true, fault::no_folder},
      {"past the budget, the temporary folder a file", 0, 2, true, fault::a_file},
      {"past the budget, the texts' file full from the start", 0, runs, true, fault::text_full},
      {"past the budget, the texts' file full after 100000 bytes", 0, 4, true, fault::text_full, 0,
       0, 100000},
      {"past the budget, the runs' file full after 1000 bytes", 0, 4, true, fault::runs_full, 0, 0,
       1000},
      {"past the budget, the runs' file full in the merge", 0, 2, true, fault::merge_full, 0, 0,
       kept * 32 + 5000},
      {"past the budget, both files full", 0, 2, true, fault::both_full},
      {"held, a report of 3 MiB", size_t{64} << 20, runs, false, fault::none, 0, 3 << 20},
      {"past the budget, a report of 3 MiB", 0, runs, false, fault::none, 0, 3 << 20},
      {"past the budget, a report of 3 MiB, its file full within it", 0, runs, false,
       fault::text_full, 0, 3 << 20, (1 << 20) + 1000},
      {"past the budget, a relative $TMPDIR", 0, 4, false, fault::none, 2, 0, 0, folder::relative},
      {"past the budget, an empty $TMPDIR", 0, runs, false, fault::none, 0, 0, 0, folder::empty},
      {"past the budget, no nameless files", 0, runs, false, fault::none, 0, 0, 0,
       folder::no_nameless},
      // Each piece is then read alone: nothing lost, nothing said.
      {"past the budget, the texts' reads ahead failing", 0, runs, false, fault::none, 0, 0, 0,
       folder::as_set, true},
  };
  std::string held[3], held_notes[3];
  std::vector<std::string> fallback_names;
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    uni::fileio io(tree.path("dump.bin"), false);
    ASSERT_TRUE(io.usable());
    ASSERT_FALSE(io.is_memory());
    vesk_options options;
    set_dump_options(options);
    if (r.rows) {
      options.m_csv = 1;
      options.m_header_pending = 1;
      options.m_no_padding = 1;
      options.m_separator = ",";
      build_time_format_settings(options.m_time_settings, options.m_date_format,
                                 options.m_time_format, false);
    }
    options.m_carve_record_budget = r.budget;
    options.m_carve_run_entries = r.run_entries;
    posix_calls calls = system_posix_calls();
    calls.pread = counted_pread;
    calls.open = temp_open;
    calls.pwrite = temp_pwrite;
    g_temp = temp_files{};
    g_temp.room = r.room;
    g_temp.refuse_nameless = r.where == folder::no_nameless;
    if (r.made == fault::text_full) g_temp.full_fd = 0;
    if (r.made == fault::runs_full || r.made == fault::merge_full) g_temp.full_fd = 1;
    if (r.made == fault::both_full) g_temp.full_fd = 2;
    g_read_calls = g_read_bytes = g_other_reads = 0;
    g_counted_fd = io.fd();
    g_other_fd = -1;
    g_other_large_fail = r.ahead_fails;
    std::ostringstream out;
    size_t records = 0;
    carved_record_sink sink = counting_sink(records);
    sink.write = [&](lnk_record& rec, std::ostream& to, file_notes& notes) {
      report_record(to, rec, options);
      if (r.large != 0 && rec.m_file_offset == 0) to << std::string(r.large, 'x');
      notes.add("record", rec.m_file_offset, "reported");
    };
    carve_work work;
    {
      std::string dir = r.made == fault::no_folder ? tree.path("none")
                        : r.made == fault::a_file  ? tree.path("dump.bin")
                                                   : "";
      if (r.where == folder::relative) {
        tree.dir("rel/tmp");
        dir = "rel/tmp";
      }
      if (r.where == folder::empty || r.where == folder::no_nameless) dir = "";
      const std::string here = std::filesystem::current_path().string();
      if (r.where == folder::relative) std::filesystem::current_path(tree.root());
      scoped_env tmpdir("TMPDIR", dir.empty() && r.where == folder::as_set ? nullptr : dir.c_str());
      {
        scoped_posix_calls fake(calls);
        EXPECT_TRUE(carve_and_report(out, &io, byte_view(), options, false, k_header_not_searched,
                                     sink, &work));
      }
      std::filesystem::current_path(here);
    }
    g_other_large_fail = false;
    EXPECT_EQ(g_read_bytes, file.size());
    EXPECT_LE(g_read_calls, k_pieces);
    // The reports held come back by time, the latest first: in the reverse
    // of the order each list's were written, read back a block at a time.
    if (!r.ahead_fails) {
      EXPECT_LE(g_other_reads, kept / 8);
    }
    EXPECT_GE(work.merges, r.merges);
    std::string notes = options.m_notes.lines("dump.bin");
    if (r.budget == 0) {
      ASSERT_FALSE(g_temp.asked.empty());
      const std::string& asked = g_temp.asked.front().first;
      if (r.where == folder::relative) {
        EXPECT_EQ(asked, "rel/tmp");
      } else if (r.where == folder::empty) {
        EXPECT_EQ(asked, "/tmp");
      }
    }
    if (r.where == folder::no_nameless) {
      // Two nameless files refused, two named ones made and removed.
      ASSERT_EQ(g_temp.asked.size(), 4u);
      for (size_t i : {size_t{1}, size_t{3}}) {
        const auto& [name, flags] = g_temp.asked[i];
        EXPECT_EQ(flags & (O_CREAT | O_EXCL | O_NOFOLLOW), O_CREAT | O_EXCL | O_NOFOLLOW);
        EXPECT_EQ(g_temp.modes[i], 0600u);
        ASSERT_EQ(name.rfind("/tmp/.vesk-held-", 0), 0u) << name;
        EXPECT_EQ(name.find(std::to_string(::getpid())), std::string::npos) << name;
        EXPECT_FALSE(std::filesystem::exists(name)) << name;
        fallback_names.push_back(name);
      }
    }
    if (r.made != fault::none) {
      const std::string cause = r.made == fault::no_folder ? "No such file or directory"
                                : r.made == fault::a_file  ? "Not a directory"
                                                           : "No space left on device";
      const std::string said =
          "(links at offset 0x0: the temporary folder ($TMPDIR) could not "
          "hold the reports past the memory budget (" +
          cause + "): they are held in memory)";
      const size_t at = notes.find(said);
      ASSERT_NE(at, std::string::npos) << notes;
      EXPECT_EQ(notes.find("could not hold", at + said.size()), std::string::npos) << notes;
      // Its line aside, the notes are a working folder's.
      const size_t line = notes.rfind('\n', at) + 1;
      notes.erase(line, notes.find('\n', at) + 1 - line);
      EXPECT_EQ(notes.find("not reported"), std::string::npos) << notes;
    } else {
      EXPECT_EQ(notes.find("could not hold"), std::string::npos) << notes;
    }
    EXPECT_EQ(records, kept);
    EXPECT_EQ(options.m_records_written, kept);
    // The last list's last link (the latest written), reported first, is
    // said first.
    EXPECT_NE(notes.find("(record at offset 0x15969d: reported; " + std::to_string(kept) +
                         " times, the first shown)"),
              std::string::npos)
        << notes;
    // The lists have no DestList: said the same on every road.
    const size_t form = r.large != 0 ? 2 : r.rows ? 1 : 0;
    if (held[form].empty()) held[form] = out.str(), held_notes[form] = notes;
    EXPECT_EQ(out.str(), held[form]);
    EXPECT_EQ(notes, held_notes[form]);
  }
  // Each run's names are its own.
  ASSERT_EQ(fallback_names.size(), 2u);
  EXPECT_NE(fallback_names[0], fallback_names[1]);
}

TEST(LnkCarve, CustomAndCarveRoads) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bytes_t link = timed_link(0);
  const uint32_t L = static_cast<uint32_t>(link.size());
  // The last file is larger than the classification reads: carved from disk,
  // the others from the bytes already read.
  for (const auto& [first, size] : {std::pair{511u, 0u}, {512u, 0u}, {512u, 50000u}}) {
    bytes_t file;
    put(file, first, link);
    put(file, first + L + 3, link);
    if (file.size() < size) file.resize(size);
    // As on a terminal: a run of the program in this process may have
    // turned the status line off.
    set_status_line_shown(true);
    const drive_outcome d = drive(tree, file, "5f7b5f1e01b83767.customDestinations-ms");
    ASSERT_TRUE(d.ok) << first << " " << size;
    const bool custom = first == 511;
    EXPECT_EQ(values(d.text, "AppID:").size(), custom ? 2u : 0u);
    // Highest offset first.
    const std::string second = std::to_string(first + L + 3);
    EXPECT_NE(values(d.text, "File offset:").at(0).find(second), std::string::npos);
    EXPECT_EQ(values(d.text, "File offset:").size(), 2u);
    EXPECT_EQ(d.records.back().m_source_type,
              custom ? "Shortcut LNK (carved - 0x000001ff)" : "Shortcut LNK (carved - 0x00000200)");
    EXPECT_NE(d.err.find("percent done: 0"), std::string::npos);
  }
  bytes_t at_zero = link;
  const drive_outcome quiet = drive(tree, at_zero, "x.lnk", true);
  ASSERT_TRUE(quiet.ok);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.records.at(0).m_source_type, "VESKLIST (custom)");

  // A link whose only target is a Vista ID list is kept.
  lnk_spec vista;
  vista.extra_blocks = {
      vista_idlist_block(idlist({file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, "v.txt")}))};
  const drive_outcome kept = drive(tree, write_lnk(vista), "vista.lnk", true);
  ASSERT_TRUE(kept.ok);
  EXPECT_EQ(values(kept.text, "source path/filename:").size(), 1u);
  // Nothing of the target at all: a link file is its link, still reported.
  lnk_spec bare;
  bare.trailing = bytes_t(32, 0);
  const drive_outcome header_only = drive(tree, write_lnk(bare), "empty.lnk", true);
  EXPECT_TRUE(header_only.ok);
  EXPECT_EQ(values(header_only.text, "source path/filename:").size(), 1u);
}

TEST(LnkCarve, CompoundFileInsideScannedData) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bytes_t lead = timed_link(0);
  cfb_writer w;
  w.stream(u"a", timed_link(133540960891234567ull))
      .stream(u"2", timed_link(133540960891234599ull))
      .stream(u"big", bytes_t(5000, 0x11));
  bytes_t list = w.build();
  // A link in the gap between two stream sectors.
  bytes_t file = lead;
  put(file, file.size(), list);

  const drive_outcome d = drive(tree, file, "x.customDestinations-ms", true);
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.records.size(), 3u);
  EXPECT_EQ(d.records[0].m_source_type, "VESKLIST (carved allocated)");
  EXPECT_EQ(d.records[0].m_source_alt_label, "VESKLIST");
  EXPECT_EQ(d.records[0].m_header.m_write_time, 133540960891234599ull);
  EXPECT_EQ(d.records[0].m_file_offset, lead.size() + w.info(u"2").first_offset);
  EXPECT_EQ(d.records[1].m_file_offset, lead.size() + w.info(u"a").first_offset);
  EXPECT_EQ(d.records[2].m_file_offset, 0u);
  const auto offsets = values(d.text, "File offset:");
  ASSERT_EQ(offsets.size(), 3u);
  EXPECT_EQ(
      offsets[0].find(std::to_string(lead.size() + w.info(u"2").first_offset)) != std::string::npos,
      true)
      << offsets[0];

  // The compound file alone: its links are the scan's result.
  const scan_outcome alone = scan(tree, list);
  EXPECT_TRUE(alone.ok);
  EXPECT_EQ(alone.records.size(), 2u);

  // A link in the gap between stream sectors: slack of the embedded file.
  cfb_writer g;
  g.stream(u"x", bytes_t(5000, 0x22)).free_sector(2).stream(u"y", bytes_t(5000, 0x33));
  bytes_t gapped = g.build();
  const size_t hole = g.sector_offset(g.free_sectors[0]) + 32;
  put(gapped, hole, timed_link(5));
  // Something for the allocated run to start with.
  put(gapped, g.sector_offset(g.info(u"x").chain[1]), timed_link(7));
  const scan_outcome slack = scan(tree, gapped);
  ASSERT_TRUE(slack.ok);
  ASSERT_EQ(slack.records.size(), 2u);
  bool seen_slack = false;
  for (const auto& [key, r] : slack.records) {
    if (r.m_source_type != "VESKLIST (carved slack)") continue;
    seen_slack = true;
    EXPECT_EQ(r.m_file_offset, hole);
    EXPECT_EQ(r.m_source_alt_label, "VESKLIST (slack)");
  }
  EXPECT_TRUE(seen_slack);
}

TEST(LnkCarve, SlackRecoversDeletedLinks) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const bytes_t link = fixture_link();
  ASSERT_LT(link.size(), 512u);
  cfb_writer w;
  w.stream(u"a", link).stream(u"2", link).stream(u"1", link);
  w.mini_gap(static_cast<size_t>((link.size() + 63) / 64 + 1));
  std::vector<destlist_test_entry> entries(3);
  entries[0].entry_num = 10;
  entries[1].entry_num = 2;
  entries[2].entry_num = 1;
  w.stream(u"DestList", build_destlist(4, entries));
  w.free_sector().stream(u"pad", bytes_t(4096, 0x5A));
  bytes_t list = w.build();
  const uint64_t free_at = w.sector_offset(w.free_sectors.at(0));
  const uint64_t mini_at = w.mini_offset(w.free_mini.at(0));
  put(list, free_at, link);
  put(list, mini_at, link);
  const std::string name = "5f7b5f1e01b83767.automaticDestinations-ms";
  tree.file(name, std::string(list.begin(), list.end()));

  auto run = [&](bool slack, std::multimap<int64_t, lnk_record>& found) {
    vesk_options options;
    options.m_status_messages = 0;
    options.m_slack = slack;
    options.m_automatic_list = true;
    options.m_source_type = "VESKLIST (automatic)";
    options.m_source_path = tree.path(name);
    std::ostringstream out;
    EXPECT_TRUE(process_automatic_jumplist(out, tree.path(name), options, found));
    return out.str();
  };
  std::multimap<int64_t, lnk_record> found;
  const std::string plain = run(false, found);
  EXPECT_TRUE(found.empty());
  const std::string text = run(true, found);
  EXPECT_EQ(text.rfind(plain, 0), 0u);  // the DestList blocks first, unchanged
  std::vector<std::pair<uint64_t, std::string>> got;
  for (const auto& [key, r] : found) {
    got.emplace_back(key, r.m_source_type);
    EXPECT_EQ(r.m_file_offset, static_cast<uint64_t>(key));
    EXPECT_EQ(r.m_local_base_path, "C:\\Temp\\report.docx");
  }
  // The free sector's link once, as free space, though it is slack too.
  EXPECT_EQ(got, (std::vector<std::pair<uint64_t, std::string>>{
                     {mini_at, "VESKLIST (automatic)-slack"},
                     {free_at, "VESKLIST (automatic)-unalloc"}}));
  const std::string extra = text.substr(plain.size());
  EXPECT_EQ(values(extra, "MRU/MFU/Stream# data:"),
            std::vector<std::string>(2, "not avail - parsed from slack space"));
  EXPECT_TRUE(values(extra, "MRU time:").empty());
  EXPECT_TRUE(values(extra, "MRU/MFU index:").empty());

  // Through the classification too: three more blocks.
  EXPECT_EQ(values(drive(tree, list, name, true).text, "source path/filename:").size(), 3u);
}

// Truncated, zeroed and mutated copies of a scanned file with an embedded
// compound file and of a jump list with free space: no crash, no hang.
TEST(LnkCarve, HostileBytesAreSurvived) {
  temp_tree tree;
  ASSERT_TRUE(tree.ok());
  cfb_writer w;
  w.mini_gap(3);
  bytes_t list = jumplist_with(w.free_sector(), fixture_link());
  put(list, w.sector_offset(w.free_sectors.at(0)), fixture_link());
  bytes_t carved = timed_link(9);
  put(carved, carved.size(), list);

  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (const bytes_t& base : {list, carved}) {
    std::vector<bytes_t> inputs;
    for (size_t cut : {size_t{80}, size_t{600}, base.size() / 2, base.size() - 1})
      inputs.emplace_back(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(cut));
    for (size_t zero_from : {size_t{512}, base.size() / 3}) {
      bytes_t z = base;
      std::fill(z.begin() + static_cast<std::ptrdiff_t>(zero_from), z.end(), 0);
      inputs.push_back(z);
    }
    for (int round = 0; round < 40; ++round) {
      bytes_t m = base;
      for (int k = 0; k < 24; ++k) m[next() % m.size()] = static_cast<uint8_t>(next() >> 8);
      inputs.push_back(m);
    }
    for (const bytes_t& in : inputs) {
      tree.file("h.automaticDestinations-ms", std::string(in.begin(), in.end()));
      vesk_options options;
      options.m_status_messages = 0;
      options.m_slack = true;
      options.m_source_path = tree.path("h.automaticDestinations-ms");
      std::ostringstream out;
      process_jumplist_file(out, options.m_source_path, options);
      scan(tree, in);
    }
  }
}

}  // namespace
}  // namespace vk
