#include "disk/partition_table.h"

#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <tuple>

#include "cmdline/cmd_params.h"
#include "disk/gpt_type_names.h"
#include "foundation/vk_posix.h"
#include "foundation/vk_unicode.h"
#include "partition_images.h"
#include "posix_seam.h"
#include "volume_writer.h"

using namespace vk;
using vesk_test::byte_builder;

namespace {

using row = std::tuple<uint64_t, uint64_t, std::string>;

std::vector<row> rows_of(const partition_list& list) {
  std::vector<row> out;
  for (const auto& p : list) out.emplace_back(p.m_start, p.m_count, partition_type_name(p.m_type));
  return out;
}

const partition_entry* find_desc(const partition_list& list, const std::string& desc) {
  for (const auto& p : list)
    if (p.m_description == desc) return &p;
  return nullptr;
}

std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A 512-byte master boot record with the given (type, lba, count) entries.
std::vector<uint8_t> mbr_sector(
    std::initializer_list<std::tuple<uint8_t, uint32_t, uint32_t>> entries) {
  std::vector<uint8_t> v(512);
  size_t at = 446;
  for (auto [type, lba, count] : entries) {
    v[at + 4] = type;
    store_le32(&v[at + 8], lba);
    store_le32(&v[at + 12], count);
    at += 16;
  }
  store_le16(&v[510], 0xAA55);
  return v;
}

std::vector<uint8_t> ntfs_boot_sector(uint64_t total) {
  byte_builder b;
  b.bytes({0xEB, 0x52, 0x90}).ascii("NTFS    ").pad_to(512);
  b.put_u16(11, 512);
  auto v = b.take();
  v[13] = 8;
  store_le64(&v[40], total);
  store_le32(&v[72], 0x1234abcd);
  store_le16(&v[510], 0xAA55);
  return v;
}

void place(std::vector<uint8_t>& img, uint64_t at, const std::vector<uint8_t>& bytes) {
  if (img.size() < at + bytes.size()) img.resize(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), img.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string write_image(const vesk_test::temp_tree& tree, const std::string& name,
                        const std::vector<uint8_t>& img) {
  const std::string path = tree.path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  return path;
}

// Counts the work the walks ask of the medium.
uint64_t g_reads = 0, g_read_bytes = 0;
ssize_t counting_pread(int fd, void* b, size_t n, off_t o) {
  ++g_reads;
  g_read_bytes += n;
  return system_posix_calls().pread(fd, b, n, o);
}

}  // namespace

TEST(PartitionTable, MbrWalkListsWhatSfdiskLaidOut) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string img = vesk_test::make_sfdisk_image(tree, why);
  if (img.empty()) GTEST_SKIP() << why;
  RAW_DISK_IO disk(img, false, 0, 0);
  ASSERT_TRUE(disk.is_open());

  partition_list list;
  ASSERT_TRUE(scan_partitions(disk, list, false, false));
  const std::vector<row> want = {{2048, 2048, "linux"},   {4096, 32768, "ntfs or exfat"},
                                 {36864, 14336, "exten"}, {38912, 2048, "linux"},
                                 {43008, 4096, "fat32"},  {47104, 4096, "exten"},
                                 {49152, 2048, "linux"}};
  EXPECT_EQ(rows_of(list), want);
  // Every partition sfdisk reports is there at its start and size.
  bool ok = false;
  const std::string dump = vesk_test::run_command(
      vesk_test::find_tool("sfdisk") + " --dump " + vesk_test::shell_quote(img), ok);
  size_t pos = 0, seen = 0;
  while ((pos = dump.find("start=", pos)) != std::string::npos) {
    const uint64_t start = std::stoull(dump.substr(pos + 6));
    const uint64_t size = std::stoull(dump.substr(dump.find("size=", pos) + 5));
    pos += 6;
    ++seen;
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [&](const partition_entry& p) {
      return p.m_start == start && p.m_count == size;
    })) << start;
  }
  EXPECT_EQ(seen, 6u);
  EXPECT_EQ(list[1].m_type_name, "ntfs");
  EXPECT_EQ(list[1].m_identified, 1);
  EXPECT_EQ(list[4].m_serial, 0x0badcafeu);

  ASSERT_TRUE(scan_partitions(disk, list, false, true));
  EXPECT_EQ(std::tie(list.front().m_start, list.front().m_count, list.front().m_description),
            std::make_tuple(uint64_t{0}, uint64_t{1}, std::string("mbr")));
  EXPECT_EQ(list.back().m_description, "unalloc");
  EXPECT_EQ(list.back().m_start + list.back().m_count, disk.size() / 512);
  EXPECT_EQ(list.back().m_start, 51200u);

  drive_stats d;
  ASSERT_TRUE(read_drive_mbr(d, disk));
  EXPECT_EQ(d.m_disk_signature, 0x12345678u);
  EXPECT_EQ(d.m_mbr_present, 1);
  EXPECT_EQ(d.m_gpt, 0);
  ASSERT_TRUE(fill_drive_stats(d, disk, -1, "disk"));
  EXPECT_EQ(d.m_bytes_per_sector, 512u);
  EXPECT_EQ(d.m_drive_number, 0xFFFF);
  EXPECT_EQ(d.m_partitions.size(), list.size());
}

TEST(PartitionTable, GptWalkMatchesSgdisk) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string img = vesk_test::make_sgdisk_image(tree, why);
  if (img.empty()) GTEST_SKIP() << why;
  RAW_DISK_IO disk(img, false, 0, 0);
  partition_list list;
  ASSERT_TRUE(scan_partitions(disk, list, false, true));
  ASSERT_EQ(list.size(), 8u);
  const std::vector<std::tuple<std::string, uint64_t, uint64_t>> layout = {
      {"protective_mbr", 0, 1},
      {"gpt header", 1, 1},
      {"gpt partition entries", 2, 32},
      {"unalloc", 34, 2048 - 34}};
  for (size_t i = 0; i < layout.size(); ++i) {
    EXPECT_EQ(std::make_tuple(list[i].m_description, list[i].m_start, list[i].m_count), layout[i]);
    EXPECT_EQ(list[i].m_gpt, 1);
  }
  EXPECT_EQ(list.back().m_description, "unalloc");
  EXPECT_EQ(list.back().m_start + list.back().m_count, disk.size() / 512);

  gpt_type_name_map names;
  build_gpt_type_names(names);
  for (int n = 1; n <= 3; ++n) {
    const partition_entry& p = list[3 + n];
    SCOPED_TRACE(n);
    bool ok = false;
    const std::string info =
        vesk_test::run_command(vesk_test::find_tool("sgdisk") + " -i " + std::to_string(n) + " " +
                                   vesk_test::shell_quote(img),
                               ok);
    const std::string code = vesk_test::labelled_value(info, "Partition GUID code");
    EXPECT_EQ(upper(guid_to_string(p.m_type_guid)), code.substr(0, 36));
    EXPECT_EQ(upper(guid_to_string(p.m_unique_guid)),
              vesk_test::labelled_value(info, "Partition unique GUID"));
    EXPECT_EQ(std::to_string(p.m_start), vesk_test::labelled_value(info, "First sector")
                                             .substr(0, std::to_string(p.m_start).size()));
    EXPECT_NE(vesk_test::labelled_value(info, "Last sector")
                  .find(std::to_string(p.m_start + p.m_count - 1) + " "),
              std::string::npos);
    EXPECT_EQ("'" + p.m_description + "'", vesk_test::labelled_value(info, "Partition name"));
    EXPECT_TRUE(names.count(p.m_type_guid)) << code;
  }
  EXPECT_EQ(list[5].m_type_name, "ntfs");
  EXPECT_EQ(list[5].m_identified, 1);
  EXPECT_EQ(partition_type_text(list[4]), "esp (GPT)");
  EXPECT_EQ(partition_type_text(list[5]), "ntfs or exfat; data (GPT)");

  drive_stats d;
  ASSERT_TRUE(read_drive_mbr(d, disk));
  EXPECT_EQ(d.m_gpt, 1);
  EXPECT_EQ(d.m_disk_guid.size(), 16u);
  std::vector<uint64_t> keys;
  for (const auto& [at, entry] : d.m_gpt_entries) keys.push_back(at);
  EXPECT_EQ(keys, (std::vector<uint64_t>{1024, 1152, 1280}));
}

TEST(PartitionTable, GptWithFourKilobyteSectors) {
  vesk_test::temp_tree tree;
  std::string why;
  const std::string img = vesk_test::make_4k_gpt_image(tree, why);
  if (img.empty()) GTEST_SKIP() << why;
  RAW_DISK_IO disk(img, false, 0, 0);
  partition_list list;
  ASSERT_TRUE(scan_partitions(disk, list, false, true));
  const partition_entry* vol = find_desc(list, "vol");
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(vol->m_start, 256u);
  EXPECT_EQ(vol->m_count, 4096u);
  EXPECT_EQ(vol->m_sector_size, 4096u);
  EXPECT_EQ(vol->m_type_name, "ntfs");
  const partition_entry* entries = find_desc(list, "gpt partition entries");
  ASSERT_NE(entries, nullptr);
  EXPECT_EQ(std::make_pair(entries->m_start, entries->m_count),
            std::make_pair(uint64_t{2}, uint64_t{4}));
  drive_stats d;
  ASSERT_TRUE(fill_drive_stats(d, disk, 0, "disk"));
  EXPECT_EQ(d.m_bytes_per_sector, 4096u);
  ASSERT_TRUE(read_drive_mbr(d, disk));
  EXPECT_EQ(d.m_gpt_entries.count(8192), 1u);

  if (vesk_test::find_tool("mmls").empty()) {
    GTEST_LOG_(INFO) << "mmls is not installed";
    return;
  }
  bool ok = false;
  const std::string mm = vesk_test::run_command(
      vesk_test::find_tool("mmls") + " -b 4096 " + vesk_test::shell_quote(img), ok);
  EXPECT_NE(mm.find("0000000256   0000004351   0000004096"), std::string::npos) << mm;
}

TEST(PartitionTable, TableShapesAndNames) {
  vesk_test::temp_tree tree;
  // A bare NTFS volume: one identified record at 0, no gaps.
  std::vector<uint8_t> img(65536);
  place(img, 0, ntfs_boot_sector(100));
  RAW_DISK_IO bare(write_image(tree, "bare.img", img), false, 0, 0);
  partition_list list;
  ASSERT_TRUE(scan_partitions(bare, list, false, true));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(std::make_tuple(list[0].m_start, list[0].m_count, list[0].m_identified),
            std::make_tuple(uint64_t{0}, uint64_t{100}, uint8_t{1}));

  // An empty first entry: both walks skip it.
  img.assign(65536, 0);
  place(img, 0, mbr_sector({{0, 0, 0}, {0x83, 64, 32}}));
  RAW_DISK_IO skip(write_image(tree, "skip.img", img), false, 0, 0);
  ASSERT_TRUE(scan_partitions(skip, list, false, false));
  EXPECT_EQ(rows_of(list), (std::vector<row>{{64, 32, "linux"}}));
  ASSERT_TRUE(scan_partitions_buffer(img.data(), img.size(), list, false, false));
  EXPECT_EQ(rows_of(list), (std::vector<row>{{64, 32, "linux"}}));

  // 0xEE first: read as GPT (here without a header, so nothing is found).
  place(img, 0, mbr_sector({{0xEE, 1, 100}, {0x83, 64, 32}}));
  RAW_DISK_IO gpt(write_image(tree, "ee.img", img), false, 0, 0);
  EXPECT_FALSE(scan_partitions(gpt, list, false, false));
  EXPECT_TRUE(list.empty());

  // A table displaced to sector 5 is found only by the search.
  img.assign(65536, 0);
  place(img, 5 * 512, mbr_sector({{0x83, 10, 20}}));
  RAW_DISK_IO moved(write_image(tree, "moved.img", img), false, 0, 0);
  EXPECT_FALSE(scan_partitions(moved, list, false, false));
  ASSERT_TRUE(scan_partitions(moved, list, true, false));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].m_start, 15u);
  EXPECT_EQ(list[0].m_identified, 0);
  ASSERT_TRUE(scan_partitions_buffer(img.data(), img.size(), list, true, false));
  EXPECT_EQ(list[0].m_start, 15u);

  EXPECT_EQ(mbr_type_name(0x8007), "ntfs or exfat [guess]");
  EXPECT_EQ(mbr_type_name(0x03), "xenix /usr");
  EXPECT_EQ(mbr_type_name(0x13), "unk");
  EXPECT_EQ(mbr_type_name(0x85), "Linux extended");  // sfdisk --list-types
  EXPECT_EQ(mbr_type_name(0x8013), "unk [guess]");

  partition_entry p(2048, 2048, 0x07);
  p.m_serial = 0x1234abcd;
  std::ostringstream line;
  print_partition_line(p, line, 512, false);
  EXPECT_EQ(line.str(),
            " - offset|size|type   0x000000100000 | 0x000000100000 | 0x0007, [1048576 | 1048576 | "
            "ntfs or exfat] - sig: 1234-abcd\n");

  cmd_params settings;
  settings.m_separator = "|";
  settings.m_header_pending = 1;
  p.m_volume_name = "vol";
  p.m_disk_number = 3;
  std::ostringstream rows;
  print_partition_row(p, rows, settings);
  print_partition_row(p, rows, settings);
  const std::string row_line = "0x00000800|0x00000fff|0x00000800|1234-abcd|ntfs or exfat|vol||3\n";
  EXPECT_EQ(rows.str(),
            "start sect|end sect  |num sect  |signature      |type          |"
            "volume name         |volume letter  |disk#          \n" +
                row_line + row_line);
  EXPECT_EQ(settings.m_header_pending, 0);

  master_boot_record mbr;
  const auto sector = mbr_sector({{0x07, 2048, 0xFFFFFFFF}});
  std::copy(sector.begin(), sector.end(), mbr.m_raw.begin());
  store_le32(&mbr.m_raw[440], 0x12345678);
  std::ostringstream dump;
  dump_mbr(mbr, dump);
  const std::string text = dump.str();
  EXPECT_EQ(text.rfind("0x0001b8 : m_disk_signature     : 0x12345678 [305419896]\n", 0), 0u)
      << text;
  EXPECT_NE(text.find("0x0001c2 : m_partition_type     : 0x07 [ntfs or exfat]\n"),
            std::string::npos);
  EXPECT_NE(text.find("0x0001c6 : m_LBA_first_sector   : 0x00000800 [0x100000 byte offset]\n"),
            std::string::npos);
  EXPECT_NE(text.find("m_num_sectors        : 0xffffffff [Maximum size available]\n"),
            std::string::npos);
  const std::string last = "\n0x0001fe : m_mbr_signature      : 0xaa55 [43605]\n";
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST(PartitionTable, HostileTablesEndQuicklyAndAllocateLittle) {
  vesk_test::temp_tree tree;
  posix_calls counting = system_posix_calls();
  counting.pread = counting_pread;
  partition_list list;
  auto walk = [&](const std::vector<uint8_t>& img, const std::string& name, bool layout = false) {
    RAW_DISK_IO disk(write_image(tree, name, img), false, 0, 0);
    g_reads = g_read_bytes = 0;
    scoped_posix_calls calls(counting);
    const bool ok = scan_partitions(disk, list, false, layout);
    EXPECT_LT(g_reads, 200u) << name;
    EXPECT_LT(g_read_bytes, 4u << 20) << name;
    return ok;
  };

  // Boot records linking to themselves, and to each other.
  std::vector<uint8_t> img(1 << 20);
  place(img, 0, mbr_sector({{0x05, 100, 900}}));
  place(img, 100 * 512, mbr_sector({{0x83, 10, 5}, {0x05, 100, 50}}));
  place(img, 200 * 512, mbr_sector({{0x83, 10, 5}, {0x05, 0, 50}}));
  ASSERT_TRUE(walk(img, "loop1.img"));
  EXPECT_EQ(rows_of(list).size(), 4u) << "exten, its logical, the second record's link and logical";
  place(img, 100 * 512, mbr_sector({{0x83, 10, 5}, {0x05, 0, 50}}));
  ASSERT_TRUE(walk(img, "self.img"));
  EXPECT_EQ(rows_of(list), (std::vector<row>{{100, 900, "exten"}, {110, 5, "linux"}}));

  // NTFS at sector 63: guessed only in front of an extended chain above it.
  img.assign(1 << 20, 0);
  place(img, 63 * 512, ntfs_boot_sector(1000));
  place(img, 0, mbr_sector({{0x05, 40, 900}}));
  place(img, 40 * 512, mbr_sector({{0x07, 60, 5}}));
  ASSERT_TRUE(walk(img, "low.img"));
  EXPECT_FALSE(std::any_of(list.begin(), list.end(), [](auto& p) { return p.m_type & 0x8000; }));
  place(img, 0, mbr_sector({{0x05, 100, 900}}));
  place(img, 100 * 512, mbr_sector({{0x83, 10, 5}}));
  ASSERT_TRUE(walk(img, "guess.img"));
  // The guess (type 0x8083) is then identified like every record of the walk.
  EXPECT_EQ(std::make_tuple(list[0].m_start, list[0].m_count, list[0].m_type_name),
            std::make_tuple(uint64_t{63}, uint64_t{37}, std::string("ntfs")));

  // GPT headers whose counts and sizes would drive huge loops or buffers.
  auto gpt = [&](uint32_t count, uint32_t size, uint64_t first, uint64_t last) {
    std::vector<uint8_t> g(1 << 20);
    place(g, 0, mbr_sector({{0xEE, 1, 2047}}));
    byte_builder h;
    h.ascii("EFI PART").pad_to(512);
    h.put_u64(24, 1).put_u64(72, 2).put_u32(80, count).put_u32(84, size);
    place(g, 512, h.take());
    byte_builder e;
    e.fill(16, 0xAB).fill(16, 0x01).u64(first).u64(last).pad_to(128);
    place(g, 1024, e.take());
    vesk_test::put32(g, 512 + 12, 92);
    vesk_test::seal_gpt_header(g, 512);
    return g;
  };
  for (auto [count, size] : {std::pair{0u, 128u}, std::pair{0xFFFFFFFFu, 128u}, std::pair{4u, 0u},
                             std::pair{4u, 16u}, std::pair{4u, 0x100000u}}) {
    EXPECT_FALSE(walk(gpt(count, size, 40, 50), "gpt.img")) << count << " " << size;
  }
  ASSERT_TRUE(walk(gpt(4, 128, 60, 50), "back.img"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].m_count, 0u) << "last before first";

  // Every truncation of real tables' first 64 KiB, the rest poisoned.
  for (const bool guid_table : {false, true}) {
    const auto maker = guid_table ? vesk_test::make_sgdisk_image : vesk_test::make_sfdisk_image;
    std::string why;
    const std::string path = maker(tree, why);
    if (path.empty()) {
      GTEST_LOG_(INFO) << why;
      continue;
    }
    const auto head = vesk_test::read_file_range(path, 0, 65536);
    ASSERT_EQ(head.size(), 65536u);
    std::vector<uint8_t> block(head);
    // The tables point beyond these bytes: no walk may follow them there.
    // The extended chain's first boot record (sector 36864) lies past them
    // all: the primaries are listed, and the cut chain said each time.
    testing::internal::CaptureStderr();
    for (size_t len = 0; len <= block.size(); ++len) {
      ASAN_POISON_MEMORY_REGION(block.data() + len, block.size() - len);
      const bool walked =
          scan_partitions_buffer(block.data(), len, list, len % 2 == 0, len % 3 == 0);
      ASAN_UNPOISON_MEMORY_REGION(block.data(), block.size());
      EXPECT_EQ(walked, len >= 512) << len;
      std::set<std::pair<uint64_t, unsigned>> listed;
      for (const auto& r : list)
        if (r.m_description.empty()) listed.emplace(r.m_start, r.m_type & 0xFF);
      // The in-memory walk knows no GPT: a protective MBR's entry is all it
      // can list (as a partition of type 0xEE from sector 1).
      using starts = std::set<std::pair<uint64_t, unsigned>>;
      const starts primaries =
          guid_table ? starts{{1, 0xEE}} : starts{{2048, 0x83}, {4096, 0x07}, {36864, 0x05}};
      if (walked) {
        EXPECT_EQ(listed, primaries) << len;
      }
    }
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string cut =
        "prob: extended partition chain at sector 36864: boot record at sector 36864 lies past "
        "the end of the medium; the rest of the chain is not listed\n";
    EXPECT_EQ(said.size(), guid_table ? 0u : (block.size() + 1 - 512) * cut.size());
    EXPECT_EQ(said.substr(0, guid_table ? 0 : cut.size()), guid_table ? "" : cut);
  }
}

TEST(PartitionTable, GptTypeNamesBuildOnceIntoTheCallersMap) {
  gpt_type_name_map names;
  ASSERT_TRUE(build_gpt_type_names(names));
  ASSERT_EQ(names.size(), 44u);
  for (const auto& [g, name] : names) EXPECT_FALSE(name.empty());
  EXPECT_EQ(names.count(guid()), 0u);
  names.begin()->second = "changed";
  ASSERT_TRUE(build_gpt_type_names(names));
  EXPECT_EQ(names.begin()->second, "changed") << "a filled map is left alone";
  gpt_type_name_map fresh;
  ASSERT_TRUE(build_gpt_type_names(fresh));
  EXPECT_EQ(fresh.size(), 44u);

  // Stored bytes: the first three groups little-endian.
  guid esp;
  const uint8_t esp_bytes[16] = {0x28, 0x73, 0x2a, 0xc1, 0x1f, 0xf8, 0xd2, 0x11,
                                 0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b};
  esp.set(esp_bytes);
  ASSERT_EQ(fresh.count(esp), 1u);
  const char* rows[44] = {
      "024dee41-33e7-11d3-9d69-0008c781f39f", "c12a7328-f81f-11d2-ba4b-00a0c93ec93b",
      "21686148-6449-6e6f-744e-656564454649", "d3bfe2de-3daf-11df-ba40-e3a556d89593",
      "f4019732-066e-4e12-8273-346c5641494f", "bfbfafe7-a34f-448a-9a5b-6213eb736c22",
      "e3c9e316-0b5c-4db8-817d-f92df00215ae", "4967d63b-2e29-4ad8-8399-f6a339e3d001",
      "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "796badd3-6bbf-4d9f-b631-466eb71a4965",
      "5808c8aa-7e8f-42e0-85d2-e1e90434cfb3", "af9b60a0-1431-4f62-bc68-3311714a69ad",
      "de94bba4-06d1-4d40-a16a-bfd50179d6ac", "37affc90-ef7d-4e96-91c3-2d7ae055b174",
      "e75caf8f-f680-4cee-afa3-b001e56efc2d", "558d43c5-a1ac-43c0-aac8-d1472b2923d1",
      "75894c1e-3aeb-11d3-b7c1-7b03a0000000", "e2a1e728-32e3-11d6-a682-7b03a0000000",
      "0fc63daf-8483-4772-8e79-3d69d8477de4", "a19d880f-05fc-4d3b-a006-743f0f84911e",
      "44479540-f297-41b2-9af7-d131d5f0458a", "4f68bce3-e8cd-4db1-96e7-fbcaf984b709",
      "69dad710-2ce4-4e3c-b16c-21a1d49abed3", "b921b045-1df0-41c3-af44-4c6f280d3fae",
      "bc13c2ff-59e6-4262-a352-b275fd6f7172", "0657fd6d-a4ab-43c4-84e5-0933c84b4f4f",
      "e6d6d379-f507-44c2-a23c-238f2a3df928", "933ac7e1-2eb4-4f13-b844-0e14e2aef915",
      "3b8f8425-20e0-4f3b-907f-1a25a76f98e8", "7ffec5c9-2d00-49b7-8941-3ea10a5586b7",
      "ca7d7ccb-63ed-4c53-861c-1742536059cc", "8da63339-0007-60c0-c436-083ac8230908",
      "48465300-0000-11aa-aa11-00306543ecac", "7c3457ef-0000-11aa-aa11-00306543ecac",
      "55465300-0000-11aa-aa11-00306543ecac", "6a898cc3-1dd2-11b2-99a6-080020736631",
      "52414944-0000-11aa-aa11-00306543ecac", "52414944-5f4f-11aa-aa11-00306543ecac",
      "426f6f74-0000-11aa-aa11-00306543ecac", "4c616265-6c00-11aa-aa11-00306543ecac",
      "5265636f-7665-11aa-aa11-00306543ecac", "53746f72-6167-11aa-aa11-00306543ecac",
      "69646961-6700-11aa-aa11-00306543ecac", "52637672-7900-11aa-aa11-00306543ecac"};
  std::set<std::string> texts;
  for (const auto& [g, name] : fresh) texts.insert(guid_to_string(g));
  EXPECT_EQ(texts, std::set<std::string>(std::begin(rows), std::end(rows)));
}
