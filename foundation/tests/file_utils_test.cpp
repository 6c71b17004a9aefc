#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "fileio_test_support.h"
#include "foundation/uni_file_utils.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_console.h"

namespace {

using vesk_test::disk_size;
using vesk_test::read_file;
using vesk_test::scratch_dir;
using vesk_test::write_file;

// ---- text helpers ---------------------------------------------------------------

TEST(FileTextHelpers, StripTrailingSlashes) {
  std::string p = "/a/b//\\";
  EXPECT_TRUE(vk::strip_trailing_slashes(p));
  EXPECT_EQ(p, "/a/b");
  p = "//";
  EXPECT_FALSE(vk::strip_trailing_slashes(p));
  EXPECT_EQ(p, "");
  p = "";
  EXPECT_FALSE(vk::strip_trailing_slashes(p));
}

TEST(FileTextHelpers, SplitBufferLinesKeepsTheIncompleteTail) {
  uint32_t consumed = 99;
  std::vector<std::string> lines{"old"};
  const uint8_t xy[] = {'x', '\n', 'y'};
  ASSERT_TRUE(vk::split_buffer_lines_consumed(consumed, lines, xy, 3, false, false));
  EXPECT_EQ(lines, (std::vector<std::string>{"x"}));
  EXPECT_EQ(consumed, 2u);

  EXPECT_FALSE(vk::split_buffer_lines_consumed(consumed, lines, xy, 0, false, false));
  EXPECT_EQ(lines.size(), 1u);  // untouched

  std::string t = "\r\ra\r\n \n  b \nrest";
  auto* p = reinterpret_cast<const uint8_t*>(t.data());
  ASSERT_TRUE(vk::split_buffer_lines_consumed(consumed, lines, p, t.size(), false, false));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", " ", "  b "}));
  EXPECT_EQ(consumed, t.size() - 4);
  ASSERT_TRUE(vk::split_buffer_lines_consumed(consumed, lines, p, t.size(), true, true));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));

  const uint8_t none[] = {'a', 'b'};
  EXPECT_FALSE(vk::split_buffer_lines_consumed(consumed, lines, none, 2, true, true));
  EXPECT_EQ(consumed, 0u);
}

// ---- whole-file reads -----------------------------------------------------------

TEST(FileCapped, ReadsTheFirstBytes) {
  scratch_dir dir;
  std::string one = dir.file("one");
  write_file(one, "Q");
  std::vector<uint8_t> out;
  ASSERT_TRUE(vk::read_file_capped(out, one, 2));
  EXPECT_EQ(out, (std::vector<uint8_t>{'Q'}));
  EXPECT_FALSE(vk::read_file_capped(out, one, 0));
  EXPECT_FALSE(vk::read_file_capped(out, "", 10));

  std::string empty = dir.file("empty");
  write_file(empty, "");
  EXPECT_FALSE(vk::read_file_capped(out, empty, 10));
  EXPECT_TRUE(out.empty());

  std::string big = dir.file("big");
  write_file(big, std::string(100000, 'b'));
  ASSERT_TRUE(vk::read_file_capped(out, big, 0xFFFFFFFFu));  // no limit
  EXPECT_EQ(out.size(), 100000u);
  std::string text;
  ASSERT_TRUE(vk::read_file_capped_text(text, big, 5));
  EXPECT_EQ(text, "bbbbb");
}

TEST(FileCapped, SizesBeyondFourGibibytesAreNotCut) {
  scratch_dir dir;
  std::string sparse = dir.file("sparse");
  write_file(sparse, "head");
  // 4 GiB + 10 bytes, almost all of it a hole: its low 32 bits say 10.
  if (::truncate(sparse.c_str(), (int64_t{1} << 32) + 10) != 0) GTEST_SKIP() << "no sparse files";
  std::vector<uint8_t> out;
  ASSERT_TRUE(vk::read_file_capped(out, sparse, 100));
  ASSERT_EQ(out.size(), 100u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "head");
  EXPECT_EQ(out[99], 0);
}

TEST(FileLines, ReadLinesAtSplitsAtEveryLineEnd) {
  scratch_dir dir;
  std::string path = dir.file("l.txt");
  write_file(path, "a\r\nb");
  uni::fileio f(path, false);
  std::vector<std::string> lines;
  uint32_t len = 1000;
  ASSERT_TRUE(f.read_lines_at(lines, len, 0));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(len, 4u);
  len = 0;
  EXPECT_FALSE(f.read_lines_at(lines, len, 0));
  len = 5;
  EXPECT_FALSE(f.read_lines_at(lines, len, 4));

  // A window that is not the last stops before its unterminated tail.
  write_file(path, "one\n\n two \r\nthree\nfour");
  uni::fileio g(path, false);
  lines.clear();
  len = 16;
  ASSERT_TRUE(g.read_lines_at(lines, len, 0));
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(len, 12u);
}

TEST(FileLines, ReadAllLinesCrossesWindowsAndLongLines) {
  scratch_dir dir;
  std::string path = dir.file("long.txt");
  std::string line(100000, 'L');
  write_file(path, line);
  uni::fileio f(path, false);
  std::vector<std::string> lines;
  ASSERT_TRUE(f.read_all_lines(lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], line);

  std::string many;
  std::vector<std::string> expect;
  for (int i = 0; i < 20000; ++i) {
    expect.push_back("line number " + std::to_string(i));
    many += expect.back() + (i % 2 ? "\r\n" : "\n");
  }
  many += std::string(150000, 'm') + "\nlast";
  expect.push_back(std::string(150000, 'm'));
  expect.push_back("last");
  write_file(path, many);
  uni::fileio g(path, false);
  ASSERT_TRUE(g.read_all_lines(lines));
  EXPECT_EQ(lines, expect);

  uni::fileio closed;
  EXPECT_FALSE(closed.read_all_lines(lines));
  EXPECT_TRUE(lines.empty());
}

// ---- scans ------------------------------------------------------------------------

struct chunk_log {
  std::vector<uint64_t> offsets;
  std::vector<uint32_t> lengths;
  std::vector<uint32_t> overlaps;
  std::string bytes;
};

void log_chunk(uni::fileio&, void* ctx, const uint8_t* b, uint32_t len, uint32_t overlap,
               uint64_t offset) {
  auto* log = static_cast<chunk_log*>(ctx);
  log->offsets.push_back(offset);
  log->lengths.push_back(len);
  log->overlaps.push_back(overlap);
  log->bytes.append(reinterpret_cast<const char*>(b) + overlap, len - overlap);
}

TEST(FileScan, ChunksWithOverlapCoverTheFileOnce) {
  std::string content;
  for (int i = 0; i < 1000; ++i) content.push_back(static_cast<char>('a' + i % 26));
  uni::fileio m(std::vector<uint8_t>(content.begin(), content.end()), false, false);
  chunk_log log;
  ASSERT_TRUE(m.scan_with_callback(log_chunk, &log, 300, 50, 0));
  EXPECT_EQ(log.offsets, (std::vector<uint64_t>{0, 250, 500, 750}));
  EXPECT_EQ(log.overlaps, (std::vector<uint32_t>{0, 50, 50, 50}));
  EXPECT_EQ(log.lengths.back(), 250u);
  EXPECT_EQ(log.bytes, content);

  // An overlap as large as the chunk is dropped, so the scan still advances.
  chunk_log big;
  ASSERT_TRUE(m.scan_with_callback(log_chunk, &big, 300, 300, 100));
  EXPECT_EQ(big.offsets, (std::vector<uint64_t>{100, 400, 700}));
  EXPECT_EQ(big.bytes, content.substr(100));

  chunk_log none;
  EXPECT_FALSE(m.scan_with_callback(log_chunk, &none, 0, 0, 0));
  EXPECT_FALSE(m.scan_with_callback(nullptr, &none, 10, 0, 0));
  EXPECT_TRUE(none.offsets.empty());
}

struct line_log {
  std::vector<std::string> lines;
  std::vector<uint64_t> counts;
};

void log_lines(uni::fileio&, void* ctx, const std::vector<std::string>& lines, uint64_t count,
               uint64_t) {
  auto* log = static_cast<line_log*>(ctx);
  log->counts.push_back(count);
  for (uint64_t i = 0; i < count; ++i) log->lines.push_back(lines[i]);
}

TEST(FileScan, TextLinesKeepLinesLongerThanAChunk) {
  scratch_dir dir;
  std::string path = dir.file("t.txt");
  std::string huge(2500000, 'x');  // spans three 1 MiB chunks without a line end
  write_file(path, "abc\n" + huge + "\r\nend");
  uni::fileio f(path, false, true);
  line_log log;
  ASSERT_TRUE(f.scan_text_lines(log_lines, &log, true, true, false, ~uint64_t{0}, false));
  ASSERT_EQ(log.lines.size(), 3u);
  EXPECT_EQ(log.lines[0], "abc");
  EXPECT_EQ(log.lines[1], huge);
  EXPECT_EQ(log.lines[2], "end");

  // The unterminated tail of the last chunk is a line like any other.
  std::string tail_text = "a\n\r\r tail \r";
  uni::fileio t(std::vector<uint8_t>(tail_text.begin(), tail_text.end()), false, true);
  line_log tails;
  ASSERT_TRUE(t.scan_text_lines(log_lines, &tails, false, false, false, ~uint64_t{0}, false));
  EXPECT_EQ(tails.lines, (std::vector<std::string>{"a", " tail "}));

  // The line-end flag is required.
  uni::fileio plain(path, false, false);
  EXPECT_FALSE(plain.scan_text_lines(log_lines, &log, true, true, false, ~uint64_t{0}, false));
}

TEST(FileScan, TextLinesStopAtTheLimitAndReadMarkedText) {
  std::string text = "\xEF\xBB\xBFone\ntwo\n\nthree\nfour\n";
  uni::fileio m(std::vector<uint8_t>(text.begin(), text.end()), false, true);
  line_log log;
  ASSERT_TRUE(m.scan_text_lines(log_lines, &log, false, true, false, 3, true));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"one", "two", "three"}));

  std::vector<uint8_t> utf16{0xFF, 0xFE};
  for (char16_t c : std::u16string(u"h\u00e9\nx\U0001F600\n")) {
    utf16.push_back(static_cast<uint8_t>(c));
    utf16.push_back(static_cast<uint8_t>(c >> 8));
  }
  uni::fileio w(utf16, false, true);
  line_log wide;
  ASSERT_TRUE(w.scan_text_lines(log_lines, &wide, false, false, false, ~uint64_t{0}, true));
  EXPECT_EQ(wide.lines, (std::vector<std::string>{"h\xC3\xA9", "x\xF0\x9F\x98\x80"}));
}

TEST(FileScan, TextLinesLimitReachedAtAChunkEndIsPassedOnlyByTheNext) {
  // Two lines fill the first 1 MiB chunk exactly; the next chunk holds more.
  std::string half(0x80000 - 1, 'h');
  std::string text = half + "\n" + half + "\nc\nd\n";
  uni::fileio m(std::vector<uint8_t>(text.begin(), text.end()), false, true);
  line_log log;
  ASSERT_TRUE(m.scan_text_lines(log_lines, &log, false, false, false, 2, false));
  EXPECT_EQ(log.counts, (std::vector<uint64_t>{2, 0}));
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1], half);
}

TEST(FileCopy, RangeToFileAndStream) {
  std::string content;
  for (int i = 0; i < 5000; ++i) content.push_back(static_cast<char>(i * 7));
  uni::fileio src(std::vector<uint8_t>(content.begin(), content.end()), false, false);
  uni::fileio dst(std::vector<uint8_t>{}, true, false);
  ASSERT_TRUE(src.copy_range_to(dst, 1000, 3000, 0, 333, false));
  EXPECT_EQ(std::string(dst.data().begin(), dst.data().end()), content.substr(1000, 3000));
  EXPECT_FALSE(src.copy_range_to(dst, 0, 0, 0, 10, false));
  EXPECT_FALSE(src.copy_range_to(dst, 6000, 10, 0, 10, false));

  std::ostringstream os;
  ASSERT_TRUE(src.copy_range_to_stream(os, 4000, 99999, 128, false));
  EXPECT_EQ(os.str(), content.substr(4000));
  EXPECT_FALSE(src.copy_range_to_stream(os, 0, 10, 0, false));  // a chunk of 0 is refused
}

TEST(FileCopy, ProgressGoesToTheStatusLine) {
  std::vector<uint8_t> bytes(1000, 1);
  uni::fileio src(bytes, false, false);
  uni::fileio dst(std::vector<uint8_t>{}, true, false);
  vk::console_capture capture;
  ASSERT_TRUE(src.copy_range_to(dst, 0, 1000, 0, 0, true));
  const std::string erase = "\x1b[2K\r" + std::string(27, ' ') + "\r";
  EXPECT_EQ(capture.err(), "\x1b[2K\r    \rpercent done 100.00\r" + erase);

  capture.clear();
  std::string text = "a\nb\nc\nd\n";
  uni::fileio lines(std::vector<uint8_t>(text.begin(), text.end()), false, true);
  line_log log;
  ASSERT_TRUE(lines.scan_text_lines(log_lines, &log, false, false, true, 2, false));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(capture.err(), "\x1b[2K\r    \rpercent done 100\r" + erase);
}

TEST(FileCopy, CopyToAndSaveMemory) {
  scratch_dir dir;
  std::string src_path = dir.file("src");
  write_file(src_path, "0123456789");
  uni::fileio src(src_path, false);
  ASSERT_EQ(src.seek_to(4), 4u);
  ASSERT_TRUE(src.copy_to_utf8(dir.file("copy"), false, false));
  EXPECT_EQ(read_file(dir.file("copy")), "456789");
  ASSERT_EQ(src.seek_to(8), 8u);
  ASSERT_TRUE(src.copy_to_utf8(dir.file("copy"), true, false));
  EXPECT_EQ(read_file(dir.file("copy")), "45678989");
  ASSERT_EQ(src.seek_to(10), 10u);
  EXPECT_FALSE(src.copy_to_utf8(dir.file("copy"), true, false));
  ASSERT_TRUE(src.copy_to_utf8(dir.file("copy"), true, true));
  EXPECT_EQ(disk_size(dir.file("copy")), 0u);
  // A target that cannot be created is a failure.
  ASSERT_EQ(src.seek_to(0), 0u);
  EXPECT_FALSE(src.copy_to_utf8(dir.file("no/such/dir/x"), false, false));

  uni::fileio m(std::vector<uint8_t>{'m', 'e', 'm'}, false, false);
  ASSERT_TRUE(m.save_memory_to(dir.file("saved")));
  EXPECT_EQ(read_file(dir.file("saved")), "mem");
  EXPECT_FALSE(src.save_memory_to(dir.file("saved2")));
}

// ---- zero-filling ---------------------------------------------------------------

TEST(FileZeroFill, FillsWholeBlocks) {
  scratch_dir dir;
  std::string path = dir.file("z");
  write_file(path, std::string(1000, 'A'));
  ASSERT_TRUE(vk::zero_fill_file_utf8(path));
  EXPECT_EQ(read_file(path), std::string(1024, '\0'));
  EXPECT_FALSE(vk::zero_fill_file_utf8(dir.file("missing")));

  write_file(path, std::string(9000, 'B'));
  ASSERT_TRUE(vk::zero_fill_file_marked(std::wstring(path.begin(), path.end()), {'M', 'K'}));
  std::string got = read_file(path);
  ASSERT_EQ(got.size(), 9216u);
  EXPECT_EQ(got.substr(0, 6), std::string("MK\0\0\0\0", 6));
  EXPECT_EQ(got.substr(4096, 6), std::string("MK\1\0\0\0", 6));
  EXPECT_EQ(got.substr(8192, 6), std::string("MK\2\0\0\0", 6));
  EXPECT_EQ(got[512], '\0');

  write_file(path, std::string(700, 'C'));
  ASSERT_TRUE(vk::zero_fill_utf8(path));
  EXPECT_EQ(read_file(path), std::string(700, '\0'));
}

// ---- status queries and entry fillers -------------------------------------------

TEST(FileStat, QueriesFollowThePath) {
  scratch_dir dir;
  std::string f = dir.file("s.bin");
  write_file(f, std::string(77, 's'));
  struct stat st;
  EXPECT_EQ(vk::stat_path(f.c_str(), st), 0);
  EXPECT_EQ(st.st_size, 77);
  EXPECT_TRUE(vk::stat_path_utf8(dir.path() + "///", st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(vk::stat_path_utf8("///", st));  // the root
  EXPECT_FALSE(vk::stat_path_wide(L"", st));
  EXPECT_TRUE(vk::is_directory_utf8(dir.path()));
  EXPECT_FALSE(vk::is_directory_utf8(f));
  EXPECT_FALSE(vk::is_directory_wide(L"/dev/null"));
  // A socket's type bits (0xC000) include 0x4000, but it is no directory.
  std::string sock = dir.file("sock");
  vesk_test::bound_socket bound(sock);
  ASSERT_TRUE(bound.ok());
  EXPECT_FALSE(vk::is_directory_utf8(sock));
  vk::dir_entry_info entry;
  ASSERT_TRUE(vk::stat_file_info(entry, std::wstring(sock.begin(), sock.end()), ""));
  EXPECT_EQ(entry.is_dir, 0);
  EXPECT_EQ(entry.attribute_bits, 2u);
  EXPECT_EQ(vk::file_size_utf8(f), 77u);
  EXPECT_EQ(vk::file_size_wide(std::wstring(f.begin(), f.end())), 77u);
  EXPECT_EQ(vk::file_size_utf8(dir.file("none")), 0u);
  EXPECT_TRUE(vk::stat_path_copy(std::wstring(f.begin(), f.end()), st));
  int fd = ::open(f.c_str(), O_RDONLY);
  EXPECT_EQ(vk::fstat_fd(fd, st), 0);
  ::close(fd);
}

TEST(FileStat, EntryFillers) {
  scratch_dir dir;
  vk::dir_entry_info entry;
  entry.name = "stale";
  entry.first_list = {"x"};
  EXPECT_FALSE(vk::fill_file_info(entry, L"", nullptr, "t"));
  EXPECT_TRUE(entry.name.empty());
  EXPECT_TRUE(entry.first_list.empty());

  std::wstring wdir(dir.path().begin(), dir.path().end());
  ASSERT_TRUE(vk::stat_file_info(entry, wdir, "p"));
  EXPECT_EQ(entry.is_dir, 1);
  EXPECT_EQ(entry.attribute_bits, 8u | 2u);
  EXPECT_EQ(entry.time_kind, 8u);
  EXPECT_EQ(entry.name, dir.path());
  EXPECT_EQ(entry.path, "p");

  std::string f = dir.file("e.bin");
  write_file(f, "12345");
  struct stat st;
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  ASSERT_TRUE(vk::fill_file_info_utf8(entry, f, &st, "text"));
  EXPECT_EQ(entry.size, 5);
  EXPECT_EQ(entry.attribute_bits, 2u);
  EXPECT_EQ(entry.time_kind, 0u);
  EXPECT_EQ(entry.is_dir, 0);
  EXPECT_EQ(entry.inode, static_cast<uint64_t>(st.st_ino));
  ASSERT_TRUE(vk::stat_file_info_utf8(entry, f, ""));
  EXPECT_EQ(entry.path, "");  // the record is cleared, and no path text is given

  vk::file_stat_info info;
  EXPECT_FALSE(vk::get_file_stat_info(info, L"/no/such/file"));
  ASSERT_TRUE(vk::get_file_stat_info(info, std::wstring(f.begin(), f.end())));
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.is_dir, 0);

  // The lists are taken only in matching pairs; the result is false either way.
  entry.list_word = 0x1200;
  EXPECT_FALSE(vk::set_entry_lists(entry, "n", {}, {}));
  EXPECT_FALSE(vk::set_entry_lists(entry, "n", {"a"}, {"b", "c"}));
  EXPECT_NE(entry.name, "n");
  EXPECT_EQ(entry.list_word, 0x1200u);
  EXPECT_FALSE(vk::set_entry_lists(entry, "n", {"a"}, {"b"}));
  EXPECT_EQ(entry.name, "n");
  EXPECT_EQ(entry.first_list, (std::vector<std::string>{"a"}));
  EXPECT_EQ(entry.second_list, (std::vector<std::string>{"b"}));
  EXPECT_EQ(entry.list_word, 0x1201u);
}

// ---- side stream, working directory and paths ------------------------------------

TEST(FilePaths, ZoneIdentifierSideStream) {
  scratch_dir dir;
  std::string f = dir.file("dl.exe");
  write_file(f, "MZ");
  std::vector<std::string> out{"x"};
  EXPECT_FALSE(vk::zone_identifier_of(f, out));
  EXPECT_TRUE(out.empty());
  write_file(f + ":Zone.Identifier", "[ZoneTransfer]");
  ASSERT_TRUE(vk::zone_identifier_of(f, out));
  EXPECT_EQ(out, (std::vector<std::string>{f + ":Zone.Identifier"}));
}

class WorkingDir : public ::testing::Test {
 protected:
  void SetUp() override { m_saved = vk::current_dir(); }
  void TearDown() override {
    if (!m_saved.empty()) {
      EXPECT_EQ(::chdir(m_saved.c_str()), 0);
    }
  }
  std::string m_saved;
};

TEST_F(WorkingDir, DeepDirectoriesAreReported) {
  scratch_dir dir;
  std::string deep = dir.path();
  for (int i = 0; i < 30; ++i) {
    deep += "/" + std::string(40, static_cast<char>('a' + i % 26));
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  }
  ASSERT_GT(deep.size(), 1024u);
  ASSERT_EQ(::chdir(deep.c_str()), 0);
  EXPECT_EQ(vk::current_dir(), deep);
  EXPECT_EQ(vk::current_dir_wide(), std::wstring(deep.begin(), deep.end()));
  EXPECT_EQ(vk::make_absolute_path("x/y", '/'), deep + "/x/y");
}

TEST_F(WorkingDir, MakeAbsolutePath) {
  scratch_dir dir;
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const std::string& cwd = dir.path();
  EXPECT_EQ(vk::make_absolute_path("/abs//path", '/'), "/abs//path");
  EXPECT_EQ(vk::make_absolute_path("  \"rel/file\" ", '/'), cwd + "/rel/file");
  EXPECT_EQ(vk::make_absolute_path("./a", '/'), cwd + "/a");
  EXPECT_EQ(vk::make_absolute_path("../a//b", '/'), cwd.substr(0, cwd.rfind('/')) + "/a/b");
  EXPECT_EQ(vk::make_absolute_path("name", '/'), cwd + "/name");
  EXPECT_EQ(vk::make_absolute_path("'x y'", '/'), cwd + "/x y");
  EXPECT_EQ(vk::make_absolute_path("   ", '/'), "");
  EXPECT_EQ(vk::make_absolute_path("\\server\\share", '/'), "\\server\\share");
  // A folder named by its final separator keeps it.
  EXPECT_EQ(vk::make_absolute_path("sub/dir/", '/'), cwd + "/sub/dir/");
  // Names that begin with a dot are relative too.
  EXPECT_EQ(vk::make_absolute_path(".hidden", '/'), cwd + "/.hidden");
  EXPECT_EQ(vk::make_absolute_path(".", '/'), cwd);
  EXPECT_EQ(vk::make_absolute_path("..", '/'), cwd.substr(0, cwd.rfind('/')));
  // A drive path needs no working directory and gets no separator in front.
  EXPECT_EQ(vk::make_absolute_path("C:\\data\\..\\logs\\\\x.txt", '/'), "C:\\logs\\x.txt");
  EXPECT_EQ(vk::make_absolute_path_wide(L"w", L'/'), std::wstring(cwd.begin(), cwd.end()) + L"/w");
}

// ---- byte-order marks ------------------------------------------------------------

TEST(FileBom, TestsAndWriters) {
  std::vector<char> out;
  vk::bom_append_utf8(out);
  vk::bom_append_utf16le(out);
  EXPECT_EQ(out, (std::vector<char>{'\xEF', '\xBB', '\xBF', '\xFF', '\xFE'}));
  auto* p = reinterpret_cast<const uint8_t*>(out.data());
  EXPECT_TRUE(vk::bom_test_utf8(p, out.size()));
  EXPECT_FALSE(vk::bom_test_utf8(p, 2));
  EXPECT_TRUE(vk::bom_test_utf16le(p + 3, 2));
  EXPECT_FALSE(vk::bom_test_utf16be(p + 3, 2));
  EXPECT_FALSE(vk::bom_test_utf8(nullptr, 3));

  struct mark {
    void (*append)(std::vector<char>&);
    bool (*test)(const uint8_t*, size_t);
    size_t size;
  } marks[] = {{vk::bom_append_utf16be, vk::bom_test_utf16be, 2},
               {vk::bom_append_utf32be, vk::bom_test_utf32be, 4},
               {vk::bom_append_0000fffe, vk::bom_test_0000fffe, 4},
               {vk::bom_append_utf7, vk::bom_test_utf7, 3},
               {vk::bom_append_utf_ebcdic, vk::bom_test_utf_ebcdic, 4},
               {vk::bom_append_bocu1, vk::bom_test_bocu1, 3},
               {vk::bom_append_scsu, vk::bom_test_scsu, 3}};
  for (const auto& m : marks) {
    std::vector<char> b;
    m.append(b);
    ASSERT_EQ(b.size(), m.size);
    EXPECT_TRUE(m.test(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
    EXPECT_FALSE(m.test(reinterpret_cast<const uint8_t*>(b.data()), b.size() - 1));
  }
  const uint8_t be32[] = {0, 0, 0xFE, 0xFF};
  EXPECT_FALSE(vk::bom_test_0000fffe(be32, 4));
}

}  // namespace
