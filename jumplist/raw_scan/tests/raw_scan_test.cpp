// The raw-image scan: its options, its context, links found in a written
// image wherever the hit rules put them (block ends, MFT records, the last
// sector), failed reads, truncated images, the dump files; the StringData
// printers; and real links laid out in an image.
#include "jumplist/raw_scan/raw_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fileio_test_support.h"
#include "foundation/vk_console.h"
#include "foundation/vk_hex_view.h"
#include "foundation/vk_posix.h"
#include "jumplist_samples.h"
#include "lnk_writer.h"
#include "posix_seam.h"
#include "report_fixture.h"

namespace vk {
namespace {

using namespace vesk_test;

struct parsed {
  bool ok;
  std::vector<std::string> left;
  std::string err;
};

parsed parse(lnk::useropts& o, std::vector<std::string> args) {
  args.insert(args.begin(), "vesk");
  testing::internal::CaptureStderr();
  const bool ok = parse_scan_options(o, args, "front", "end");
  return {ok, {args.begin() + 1, args.end()}, testing::internal::GetCapturedStderr()};
}

TEST(RawScanOptions, FlagsOffsetsConflictsAndDumpFolder) {
  lnk::useropts o;
  auto r = parse(o, {"-deepscan", "-offset", "x100", "-include_vss_clusters", "-idltimes", "f"});
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.left, (std::vector<std::string>{"-include_vss_clusters", "f"}));
  EXPECT_TRUE(o.m_multiline);
  EXPECT_FALSE(o.m_header_pending);
  EXPECT_EQ(o.m_separator, "");
  EXPECT_EQ(o.m_scan_step, 1u);
  EXPECT_TRUE(o.m_deep_scan && o.m_idlist_times);
  EXPECT_FALSE(o.m_ntfs_scan || o.m_include_vss_clusters || o.m_carve_mode);
  EXPECT_EQ(o.m_scan_offset, 256);
  EXPECT_EQ(o.m_source_name, "LNK");
  EXPECT_EQ(o.m_scan_texts[0], "front");
  EXPECT_EQ(o.m_scan_texts[1], "end");

  r = parse(o, {"-csv", "-ntfs_scan", "-include_vss_clusters", "-include_pagefile_clusters"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.left.empty());
  EXPECT_TRUE(o.m_csv && !o.m_multiline);
  EXPECT_TRUE(o.m_ntfs_scan && o.m_include_vss_clusters && o.m_include_pagefile_clusters);
  EXPECT_FALSE(o.m_include_unalloc_clusters || o.m_deep_scan);
  EXPECT_EQ(o.m_scan_step, 512u);

  const std::string conflict =
      "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
      "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
      "\t[-deepscan] is used for individual files\n";
  for (const char* image_option : {"-rawscan", "-ntfs_scan"}) {
    r = parse(o, {"-deepscan", image_option});
    EXPECT_FALSE(r.ok) << image_option;
    EXPECT_EQ(r.err, conflict) << image_option;
  }
  r = parse(o, {"-rawscan"});
  EXPECT_TRUE(r.ok && o.m_carve_mode);

  scratch_dir dir;
  const std::string nested = dir.file("a/b/c");
  r = parse(o, {"-outdir", nested});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(o.lnk_dump_dir, nested);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  write_file(dir.file("plain"), std::string("x"));
  const std::string blocked = dir.file("plain/sub");
  r = parse(o, {"-outdir", blocked});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.err, "can't create directory at " + blocked + "\n");
  EXPECT_EQ(o.lnk_dump_dir, "");
}

TEST(RawScanContext, ReadyOnlyForAnOpenMedium) {
  mft_lnk_candidate c;
  RAW_DISK_IO closed;
  EXPECT_FALSE(fill_mft_lnk_candidate(c, &closed));
  EXPECT_FALSE(fill_mft_lnk_candidate(c, nullptr));
  EXPECT_FALSE(c.m_ready);
  EXPECT_EQ(c.m_window, 64u);
  EXPECT_EQ(c.m_percent, 1);

  scratch_dir dir;
  write_file(dir.file("img"), std::vector<uint8_t>(1 << 20));
  RAW_DISK_IO disk(dir.file("img"), false, 0, disk_mode_path);
  ASSERT_TRUE(fill_mft_lnk_candidate(c, &disk));
  EXPECT_TRUE(c.m_ready);
  EXPECT_EQ(c.m_block_size, 65536u);
  EXPECT_EQ(c.m_min_tail, 16384u);
  EXPECT_EQ(c.m_block.size(), 65536u);
  EXPECT_EQ(c.m_image_size, 1u << 20);
  EXPECT_EQ(c.m_image_end, 1u << 20);
  EXPECT_EQ(c.m_window, 64u);
  EXPECT_EQ(c.m_alignment, 512u);
  const std::vector<uint8_t> lnk(lnk_clsid_bytes.begin(), lnk_clsid_bytes.end());
  std::vector<uint8_t> header = {0x4C, 0, 0, 0};
  header.insert(header.end(), lnk.begin(), lnk.end());
  EXPECT_EQ(c.m_patterns,
            (std::vector<std::vector<uint8_t>>{header, std::vector<uint8_t>{'F', 'I', 'L', 'E'}}));
  EXPECT_EQ(c.m_lnk_pattern, header);
}

// Where the written image holds its links: at 0; 1000 bytes before the end
// of the second block (24 bytes into its sector, so that only a fresh read
// from that sector holds it whole); 300 bytes into a "FILE" record at
// 0x40000 (outside the aligned search's window); at the last sector.
struct placed {
  uint64_t offset;
  lnk_bytes_t bytes;
};

std::vector<placed> image_links() {
  lnk_spec long_link;
  long_link.strings[lnk_name] = std::u16string(700, u'x');
  long_link.extra_blocks = {environment_block("%SystemRoot%\\long.exe", u"%SystemRoot%\\long.exe")};
  lnk_spec in_record;
  in_record.attributes = 0x20;
  in_record.strings[lnk_name] = u"inside an MFT record";
  lnk_spec short_link;
  short_link.strings[lnk_arguments] = u"-x";
  return {{0, fixture_link()},
          {130072, write_lnk(long_link)},
          {0x40000 + 300, write_lnk(in_record)},
          {0xFFE00, write_lnk(short_link)}};
}

std::vector<uint8_t> written_image(const std::vector<placed>& links) {
  std::vector<uint8_t> image(1 << 20, 0);
  const char file[] = "FILE";
  std::copy(file, file + 4, image.begin() + 0x40000);
  for (const auto& l : links) std::copy(l.bytes.begin(), l.bytes.end(), image.begin() + l.offset);
  return image;
}

struct found_link {
  uint64_t offset;
  uint32_t size;
  std::string type;
};

std::vector<found_link> scan_records(const std::string& path, lnk::useropts& o,
                                     const std::string& name = "") {
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  mft_lnk_candidate c;
  std::vector<found_link> out;
  if (!fill_mft_lnk_candidate(c, &disk)) return out;
  c.m_name = name;
  const bool any = scan_image_records(c, o, [&](lnk_record& r) {
    out.push_back({r.m_file_offset, r.m_lnk_size, r.m_source_type});
  });
  EXPECT_EQ(any, !out.empty());
  return out;
}

uint64_t g_failing_offset = 0;
ssize_t failing_pread(int fd, void* b, size_t n, off_t o) {
  if (static_cast<uint64_t>(o) == g_failing_offset) {
    errno = EIO;
    return -1;
  }
  return system_posix_calls().pread(fd, b, n, o);
}

TEST(RawScanImage, EachLinkOnceWhereverTheHitRulesFindIt) {
  const auto links = image_links();
  ASSERT_GT(links[1].bytes.size(), 1000u);
  ASSERT_LE(links[2].bytes.size(), 1024u - 300u);
  ASSERT_LE(links[3].bytes.size(), 512u);
  scratch_dir dir;
  const std::string path = dir.file("img");
  write_file(path, written_image(links));

  lnk::useropts o;
  o.m_status_messages = 0;
  auto found = scan_records(path, o);
  ASSERT_EQ(found.size(), links.size());
  for (size_t i = 0; i < links.size(); ++i) {
    EXPECT_EQ(found[i].offset, links[i].offset) << i;
    EXPECT_EQ(found[i].size, links[i].bytes.size()) << i;
  }
  EXPECT_EQ(found[0].type, "Shortcut LNK (carved - 0x00000000)");
  EXPECT_EQ(found[1].type, "Shortcut LNK (carved - 0x0001fc18)");
  found = scan_records(path, o, "img");
  ASSERT_EQ(found.size(), links.size());
  EXPECT_EQ(found[1].type, "[img] Shortcut LNK (carved - 0x0001fc18)");

  // A block that cannot be read is passed over and the scan still ends.
  {
    posix_calls calls = system_posix_calls();
    calls.pread = failing_pread;
    g_failing_offset = 0x10000;
    scoped_posix_calls seam(calls);
    found = scan_records(path, o);
  }
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[1].offset, links[2].offset);

  // The written report, with and without the progress line.
  // As on a terminal: a run of the program in this process may have turned
  // the status line off.
  set_status_line_shown(true);
  for (const bool quiet : {false, true}) {
    o.m_status_messages = quiet ? 0 : 1;
    o.m_show_offset = true;
    RAW_DISK_IO disk(path, false, 0, disk_mode_path);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(scan_disk_for_lnk(out, &disk, o));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("percent done: ") == std::string::npos, quiet) << err;
    EXPECT_NE(out.str().find("File offset:              0x0001fc18 [130072]"), std::string::npos);
  }
  RAW_DISK_IO closed;
  std::ostringstream none;
  EXPECT_FALSE(scan_disk_for_lnk(none, &closed, o));
  EXPECT_FALSE(scan_disk_for_lnk(none, nullptr, o));
  EXPECT_EQ(none.str(), "");

  // Every cut inside the last sector, and a spread of cuts over the rest of
  // the last block: the first three links stay, nothing is read past the
  // end, and a reported last link never claims bytes the image lacks.
  o.m_status_messages = 0;
  std::vector<uint64_t> sizes;
  for (uint64_t s = 0x100000; s > 0xFFE00; --s) sizes.push_back(s);
  for (uint64_t s = 0xFFE00; s > 0xF0000; s -= 509) sizes.push_back(s);
  for (const uint64_t size : sizes) {
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    found = scan_records(path, o);
    ASSERT_GE(found.size(), 3u) << size;
    ASSERT_LE(found.size(), 4u) << size;
    for (const auto& f : found) EXPECT_LE(f.offset + f.size, size) << size;
  }
}

TEST(RawScanImage, DumpFolderHoldsEachReportedLink) {
  const auto links = image_links();
  scratch_dir dir;
  const std::string path = dir.file("img");
  write_file(path, written_image(links));
  lnk::useropts o;
  std::vector<std::string> args = {"vesk", "-outdir", dir.file("d"), "-quiet"};
  ASSERT_TRUE(parse_scan_options(o, args, "", ""));
  RAW_DISK_IO disk(path, false, 0, disk_mode_path);
  std::ostringstream out;
  ASSERT_TRUE(scan_disk_for_lnk(out, &disk, o));
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("d"))) ++files;
  EXPECT_EQ(files, links.size());
  for (size_t i = 0; i < links.size(); ++i) {
    char name[96];
    std::snprintf(name, sizeof name, "d/carvelnk_%04zu_0x%09llx_0x%04zx.bin", i + 1,
                  static_cast<unsigned long long>(links[i].offset), links[i].bytes.size());
    EXPECT_EQ(read_file(dir.file(name)), std::string(links[i].bytes.begin(), links[i].bytes.end()))
        << name;
  }
}

// A deep scan carves every link of a file, each parsed as carved.
TEST(RawScanDeep, BothLinksOfAFile) {
  scratch_dir dir;
  const std::string path = dir.file("two");
  std::vector<uint8_t> bytes = fixture_link();
  bytes.resize(1024, 0);
  const std::vector<uint8_t> second = fixture_link();
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.resize(bytes.size() + 100, 0);
  write_file(path, bytes);
  std::ostringstream out;
  ASSERT_TRUE(deep_scan_file(path, out, true, false, false));
  size_t blocks = 0;
  for (size_t at = out.str().find("Target file size:"); at != std::string::npos;
       at = out.str().find("Target file size:", at + 1))
    ++blocks;
  EXPECT_EQ(blocks, 2u);
  std::ostringstream none;
  EXPECT_FALSE(deep_scan_file(dir.file("missing"), none, true, false, false));
  EXPECT_EQ(none.str(), "");
}

TEST(RawScanStringItems, LabelTextOffsetAndDump) {
  const std::vector<uint8_t> item = {3, 0, 'a', 0, 'b', 0, 'c', 0, 0x77, 0x77};
  std::ostringstream out;
  print_string_item(item.data(), item.size(), out, "name");
  print_string_item(item.data(), item.size(), out, "");
  print_string_item_offset(item.data(), item.size(), out, 0x1a);
  EXPECT_EQ(out.str(), "name abc\nabc\n0000001a : abc\n");

  std::ostringstream dump, expected;
  hexdump_to_stream(item.data(), 8, expected, 0, 0x30);
  print_string_item_at(item.data(), item.size(), dump, "name", 0x30);
  EXPECT_EQ(dump.str(), "00000030 : name abc\n" + expected.str());

  // An item cut short prints no text and dumps only the bytes that are there.
  std::ostringstream cut, cut_dump;
  hexdump_to_stream(item.data(), 5, cut_dump, 0, 0);
  print_string_item_at(item.data(), 5, cut, "n", 0);
  EXPECT_EQ(cut.str(), "00000000 : n \n" + cut_dump.str());
  std::ostringstream null_item;
  print_string_item_at(nullptr, 0, null_item, "n", 0);
  print_string_item(nullptr, 0, null_item, "n");
  EXPECT_EQ(null_item.str(), "00000000 : n \nn \n");
}

TEST(RawScanSamples, EachRealLinkAtItsOwnBlock) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent: no real links to lay out";
  std::ifstream manifest(dir / "MANIFEST.tsv");
  std::vector<std::string> ok_links;
  std::string line;
  while (std::getline(manifest, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() >= 9 && cols[7] == "lnk" && cols[8] == "ok") ok_links.push_back(cols[0]);
  }
  ASSERT_EQ(ok_links.size(), 230u);
  std::vector<uint8_t> image(ok_links.size() * 65536, 0);
  std::vector<size_t> sizes;
  for (size_t i = 0; i < ok_links.size(); ++i) {
    std::ifstream in(dir / ok_links[i], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    ASSERT_LE(bytes.size(), 65536u) << ok_links[i];
    std::copy(bytes.begin(), bytes.end(), image.begin() + i * 65536);
    sizes.push_back(bytes.size());
  }
  scratch_dir scratch;
  write_file(scratch.file("img"), image);
  lnk::useropts o;
  o.m_status_messages = 0;
  const auto found = scan_records(scratch.file("img"), o);
  ASSERT_EQ(found.size(), ok_links.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].offset, i * 65536) << ok_links[i];
    EXPECT_EQ(found[i].size, sizes[i]) << ok_links[i];
  }
}

}  // namespace
}  // namespace vk
