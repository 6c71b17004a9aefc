#include "disk/fat_ext.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "byte_builder.h"
#include "disk_images.h"
#include "foundation/vk_digest.h"
#include "temp_tree.h"

using namespace vk;

namespace {

std::string run_ok(const std::string& command) {
  bool ok = false;
  std::string out = vesk_test::run_command("sh -c " + vesk_test::shell_quote(command), ok);
  EXPECT_TRUE(ok) << command << ": " << out;
  return out;
}

std::vector<uint8_t> whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void patch_u32(const std::string& path, uint64_t offset, uint32_t value) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t b[4];
  store_le32(b, value);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(b), 4);
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// "<3-12> <20>" as the cluster list 3 .. 12, 20.
std::vector<uint32_t> mshowfat_clusters(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    size_t used = 0;
    const uint32_t a = std::stoul(text.substr(at + 1), &used);
    uint32_t b = a;
    if (text[at + 1 + used] == '-') b = std::stoul(text.substr(at + 2 + used));
    for (uint32_t c = a; c <= b; ++c) out.push_back(c);
  }
  return out;
}

// Logical block -> physical block of every run that lies on the medium;
// logical blocks of sparse runs are counted but not mapped.
std::map<uint64_t, uint64_t> block_map_of(const cluster_runs& runs, uint64_t* logical_end) {
  std::map<uint64_t, uint64_t> out;
  uint64_t lb = 0;
  for (const cluster_run& r : runs.m_runs) {
    if (!r.sparse())
      for (uint64_t i = 0; i < r.count(); ++i) out[lb + i] = r.m_first + i;
    lb += r.count();
  }
  if (logical_end) *logical_end = lb;
  return out;
}

// The leaf lines of debugfs "ex" ("1/ 1   2/ 17    16 -    19  2647 -  2650      4") as a
// block map.
std::map<uint64_t, uint64_t> debugfs_extents(const std::string& text) {
  std::map<uint64_t, uint64_t> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::vector<std::string> t;
    for (std::string c; cells >> c;) t.push_back(c);
    if (t.size() < 10 || t[0].back() != '/' || t[0].substr(0, t[0].size() - 1) != t[1]) continue;
    const uint64_t l0 = std::stoull(t[4]), l1 = std::stoull(t[6]), p0 = std::stoull(t[7]);
    for (uint64_t i = 0; i <= l1 - l0; ++i) out[l0 + i] = p0 + i;
  }
  return out;
}

// The "(0-11):1234-1245, (IND):1246, ..." list of debugfs "stat" without the
// indirect blocks, as a block map.
std::map<uint64_t, uint64_t> debugfs_stat_blocks(const std::string& text) {
  std::map<uint64_t, uint64_t> out;
  for (size_t at = text.find('('); at != std::string::npos; at = text.find('(', at + 1)) {
    if (!std::isdigit(static_cast<unsigned char>(text[at + 1]))) continue;
    size_t used = 0;
    const uint64_t l0 = std::stoull(text.substr(at + 1), &used);
    size_t pos = at + 1 + used;
    uint64_t l1 = l0;
    if (text[pos] == '-' && std::isdigit(static_cast<unsigned char>(text[pos + 1]))) {
      l1 = std::stoull(text.substr(pos + 1), &used);
      pos += 1 + used;
    }
    if (text.compare(pos, 2, "):") != 0) continue;
    const uint64_t p0 = std::stoull(text.substr(pos + 2));
    for (uint64_t i = 0; i <= l1 - l0; ++i) out[l0 + i] = p0 + i;
  }
  return out;
}

uint64_t number_after(const std::string& text, const std::string& label, int base = 10) {
  const size_t at = text.find(label);
  EXPECT_NE(at, std::string::npos) << label << " in " << text;
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + label.size()), nullptr, base);
}

std::string hex(const uint8_t* d, size_t n) {
  return digest_hex_text(d, n);
}

std::string first_word(const std::string& s) {
  return s.substr(0, s.find_first_of(" \t\n"));
}

uint64_t filetime_to_unix(uint64_t ft) {
  return (ft - 116444736000000000ull) / 10000000ull;
}

bool tools(std::initializer_list<const char*> names, std::string& missing) {
  for (const char* n : names)
    if (vesk_test::find_tool(n).empty()) {
      missing = std::string(n) + " is not installed";
      return false;
    }
  return true;
}

}  // namespace

TEST(FatChains, EdgeCasesOfChainsNamesAndFlags) {
  std::vector<uint8_t> fat16(512, 0);
  store_le16(&fat16[4], 3);
  store_le16(&fat16[6], 4);
  store_le16(&fat16[8], 0xFFFF);
  std::vector<uint32_t> chain;
  ASSERT_TRUE(fat16_chain(chain, 2, fat16.data(), fat16.size(), 0));
  EXPECT_EQ(chain, (std::vector<uint32_t>{2, 3, 4}));
  ASSERT_TRUE(fat16_chain(chain, 2, fat16.data(), fat16.size(), 5));
  EXPECT_EQ(chain, (std::vector<uint32_t>{2, 3, 4, 5, 6}));
  EXPECT_FALSE(fat16_chain(chain, 1, fat16.data(), fat16.size(), 0));
  EXPECT_FALSE(fat16_chain(chain, 2, fat16.data(), 256, 0));

  // 0xFFFF ends a chain in a full 16-bit table; 0x1000 and above do not.
  std::vector<uint8_t> full(65536 * 2, 0);
  store_le16(&full[2 * 2], 0x5000);
  store_le16(&full[2 * 0x5000], 0xFFF0);
  store_le16(&full[2 * 0xFFF0], 0xFFFF);
  ASSERT_TRUE(fat16_chain(chain, 2, full.data(), full.size(), 0));
  EXPECT_EQ(chain, (std::vector<uint32_t>{2, 0x5000, 0xFFF0}));

  for (uint32_t end : {0xFFFFFFFFu, 0x0FFFFFFFu}) {
    std::vector<uint8_t> fat32(512, 0);
    store_le32(&fat32[8], 3);
    store_le32(&fat32[12], 4);
    store_le32(&fat32[16], 8);
    store_le32(&fat32[32], end);
    fat_chain_runs table;
    ASSERT_TRUE(fat32_chains_from_table(table, fat32.data(), fat32.size())) << end;
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0], (std::vector<std::pair<uint32_t, uint32_t>>{{2, 3}, {8, 1}}));
    ASSERT_TRUE(fat32_chain(chain, 2, fat32.data(), fat32.size(), 0));
    EXPECT_EQ(chain, (std::vector<uint32_t>{2, 3, 4, 8}));
    EXPECT_FALSE(fat32_chains(table, fat32.data(), fat32.size(), 2));
  }

  // Long names: the piece stops at the first 0x0000 unit.
  vesk_test::byte_builder lfn;
  lfn.u8(0x41).bytes({'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0}).u8(0x0F).u8(0).u8(0x55);
  lfn.u16(0).u16('x').fill(8, 0xFF).u16(0).fill(4, 0xFF);
  const std::vector<uint8_t> entry = lfn.take();
  ASSERT_EQ(entry.size(), 32u);
  std::string name = "!";
  EXPECT_EQ(lfn_name_part(name, entry.data(), true), "abcde!");
  EXPECT_TRUE(is_lfn_entry(entry.data(), 0x55));
  EXPECT_FALSE(is_lfn_entry(entry.data(), 0x56));
  std::vector<uint8_t> clustered = entry;
  clustered[26] = 1;
  EXPECT_FALSE(is_lfn_entry(clustered.data(), 0));
  EXPECT_EQ(lfn_ordinal_text(0x43), "seqnum: 3, last_entry");
  EXPECT_EQ(lfn_ordinal_text(0x40), "");
  EXPECT_EQ(lfn_ordinal_text(0x05), "seqnum: 5");

  std::vector<uint8_t> deleted(32, 0);
  std::memcpy(deleted.data(),
              "\xE5"
              "BC     TXT",
              11);
  deleted[12] = 0x18;
  EXPECT_EQ(fat_short_name_text(deleted.data()), "_bc.txt");

  boot_sector bs;
  const std::pair<uint16_t, const char*> flags[] = {{0x0003, "active fat;vol dirty"},
                                                    {0x0010, "reserved non-zero"},
                                                    {0x000C, "media fail;clear zero"},
                                                    {0, ""}};
  for (const auto& [value, text] : flags) {
    store_le16(&bs.m_raw[106], value);
    EXPECT_EQ(exfat_volume_flags_text(bs), text);
  }
  EXPECT_EQ(unix_time_text(86400 + 61), "1970-01-02 00:01:01.000");
  EXPECT_EQ(dos_time_to_filetime(0x5021, 0x0000, 0) + 1500 * 10000,
            dos_time_to_filetime(0x5021, 0x0000, 150));
  EXPECT_EQ(dos_time_to_filetime(0x5021, 0xFFFF, 0), 0u);
}

TEST(FatChains, HostileTablesAndTreesEndQuickly) {
  // 5 -> 6 -> 5 in every chain form.
  std::vector<uint8_t> fat16(4096, 0), fat32(4096, 0);
  store_le16(&fat16[10], 6);
  store_le16(&fat16[12], 5);
  store_le32(&fat32[20], 6);
  store_le32(&fat32[24], 5);
  std::vector<uint32_t> chain;
  ASSERT_TRUE(fat16_chain(chain, 5, fat16.data(), fat16.size(), 0));
  EXPECT_EQ(chain, (std::vector<uint32_t>{5, 6}));
  ASSERT_TRUE(fat32_chain(chain, 5, fat32.data(), fat32.size(), 0));
  EXPECT_EQ(chain, (std::vector<uint32_t>{5, 6}));
  fat_chain_runs table;
  EXPECT_FALSE(fat32_chains_from_table(table, fat32.data(), fat32.size()));

  boot_sector bs;
  store_le16(&bs.m_raw[11], 512);
  bs.m_raw[13] = 1;
  store_le16(&bs.m_raw[14], 32);
  bs.m_raw[16] = 2;
  store_le32(&bs.m_raw[36], 0xFFFFFFFF);  // sectors per FAT
  store_le32(&bs.m_raw[32], 4096);
  cluster_runs runs;
  ASSERT_TRUE(fat_chain_to_runs(bs, runs, 5, 0, reinterpret_cast<const uint32_t*>(fat32.data()),
                                fat32.size(), 0));
  EXPECT_EQ(cluster_runs_total_clusters(runs), 2u);
  cluster_runs_reset(runs);
  ASSERT_TRUE(fat16_chain_to_runs(bs, runs, 5, 0, fat16.data(), fat16.size(), 0));
  EXPECT_EQ(cluster_runs_total_clusters(runs), 2u);

  boot_sector ex;
  ex.m_raw[108] = 9;
  ex.m_raw[109] = 0;
  store_le32(&ex.m_raw[92], 1000);  // clusters
  ASSERT_TRUE(exfat_chain_clusters(ex, chain, 5, 0, fat32.data(), fat32.size(), false));
  EXPECT_EQ(chain, (std::vector<uint32_t>{5, 6}));
  cluster_runs_reset(runs);
  ASSERT_TRUE(exfat_chain_to_runs(ex, runs, 5, 0, fat32.data(), fat32.size(), 0, false));
  EXPECT_EQ(cluster_runs_total_clusters(runs), 2u);
  // A contiguous file of all-ones size: the rest of the table, no more.
  ASSERT_TRUE(exfat_chain_clusters(ex, chain, 100, ~uint64_t{0}, fat32.data(), fat32.size(), true));
  EXPECT_EQ(chain.size(), 1002u - 100);
  store_le32(&ex.m_raw[92], 0xFFFFFFFF);
  cluster_runs_reset(runs);
  ASSERT_TRUE(
      exfat_chain_to_runs(ex, runs, 100, ~uint64_t{0}, fat32.data(), fat32.size(), 0, true));
  EXPECT_EQ(cluster_runs_total_clusters(runs), 1024u - 100);

  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  write_file(tree.path("small"), std::vector<uint8_t>(1 << 20, 0));
  RAW_DISK_IO disk(tree.path("small"), false, 0, disk_mode_path);
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(read_fat32_table(bs, bytes, disk, 0, 0));
  EXPECT_TRUE(bytes.empty());

  // ext: a node that names itself, and one of the wrong depth.
  ext_superblock sb;
  store_le16(&sb.m_raw[56], ext_magic);
  store_le16(&sb.m_raw[88], 256);
  std::vector<uint8_t> inode(256, 0);
  store_le16(&inode[0], 0x81A4);
  store_le32(&inode[4], 100 * 1024);
  store_le32(&inode[12], 1700000000);
  store_le16(&inode[26], 1);
  store_le32(&inode[32], ext_extents_flag);
  auto node = [](uint8_t* at, uint16_t entries, uint16_t depth) {
    store_le16(at, 0xF30A);
    store_le16(at + 2, entries);
    store_le16(at + 4, 4);
    store_le16(at + 6, depth);
  };
  const struct {
    uint16_t root_depth;
    uint16_t child_depth;
  } trees[] = {{2, 1}, {1, 3}, {0xFFFF, 0}};
  for (const auto& t : trees) {
    std::vector<uint8_t> medium(1 << 16, 0);
    node(&inode[40], 1, t.root_depth);
    store_le32(&inode[52 + 4], 10);  // child block 10
    node(&medium[10 * 1024], 2, t.child_depth);
    store_le32(&medium[10 * 1024 + 12 + 4], 10);  // names itself
    store_le32(&medium[10 * 1024 + 24 + 4], 11);
    node(&medium[11 * 1024], 0xFFFF, 0);  // more entries than the block holds
    write_file(tree.path("ext"), medium);
    RAW_DISK_IO ext(tree.path("ext"), false, 0, disk_mode_path);
    ext_inode_record rec;
    ASSERT_TRUE(ext_inode_load(rec, sb, inode.data(), inode.size(), 12));
    walk_ext_extents(rec, runs, ext, 0, sb);
    EXPECT_LE(cluster_runs_total_clusters(runs), 0x10000u * 85);
  }
}

TEST(FatVolumes, Fat32ChainsContentDigestsNamesAndFreeClusters) {
  std::string missing;
  if (!tools({"mkfs.fat", "mcopy", "mdel", "mshowfat", "fls", "md5sum", "sha1sum", "sha256sum"},
             missing))
    GTEST_SKIP() << missing;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string img =
      vesk_test::make_volume(tree.path("f32"), 40 << 20, "mkfs.fat", "-F 32 -s 1", nullptr);
  ASSERT_FALSE(img.empty());
  write_file(tree.path("a"), random_bytes(5000, 1));
  write_file(tree.path("b"), random_bytes(9000, 2));
  write_file(tree.path("c"), random_bytes(3000, 3));
  write_file(tree.path("d"), random_bytes(20000, 4));
  const std::string i = " -i " + vesk_test::shell_quote(img) + " ";
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("a")) + " ::a.bin");
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("b")) + " '::Long Name File B.dat'");
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("c")) + " ::c.txt");
  run_ok("mdel" + i + " '::Long Name File B.dat'");
  patch_u32(img, 512 + 492, 0xFFFFFFFF);
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("d")) + " '::Big Fragmented.bin'");
  const std::vector<uint32_t> freed = mshowfat_clusters(run_ok("mshowfat" + i + "::c.txt"));
  run_ok("mdel" + i + "::c.txt");

  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  ASSERT_TRUE(disk.is_open());
  const auto head = vesk_test::read_file_range(img, 0, 512);
  const boot_sector bs = boot_sector_from(head.data(), head.size());
  std::vector<uint8_t> fat;
  ASSERT_TRUE(read_fat32_table(bs, fat, disk, 0, 0));
  const auto* fat_words = reinterpret_cast<const uint32_t*>(fat.data());

  cluster_runs root;
  ASSERT_TRUE(fat_chain_to_runs(bs, root, load_le32(&bs.m_raw[44]), 0, fat_words, fat.size(), 0));
  std::vector<uint8_t> dir;
  ASSERT_TRUE(read_cluster_runs_to_vector(root, dir, disk, 0, whole_content));
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  read_fat_dir_entries_lfn(names, entries, offsets, bs, dir.data(), dir.size(), 0, ~uint64_t{0},
                           false, 0);

  // Names as sleuthkit lists them, deleted ones marked.
  std::set<std::string> fls_live, fls_deleted, ours_live, ours_deleted;
  std::istringstream fls(run_ok("fls -f fat32 -r " + vesk_test::shell_quote(img)));
  for (std::string line; std::getline(fls, line);) {
    const std::string n = line.substr(line.find('\t') + 1);
    if (n[0] == '$') continue;
    (line.find(" * ") != std::string::npos ? fls_deleted : fls_live).insert(n);
  }
  std::istringstream fls_d(run_ok("fls -f fat32 -r -d " + vesk_test::shell_quote(img)));
  std::set<std::string> only_deleted;
  for (std::string line; std::getline(fls_d, line);)
    only_deleted.insert(line.substr(line.find('\t') + 1));
  for (const std::string& n : names) (n[0] == '_' ? ours_deleted : ours_live).insert(n);
  EXPECT_EQ(ours_live, fls_live);
  EXPECT_EQ(ours_deleted, fls_deleted);
  EXPECT_EQ(ours_deleted, only_deleted);

  std::map<std::string, uint64_t> mtimes;
  std::istringstream body(run_ok("TZ=UTC fls -f fat32 -r -m / " + vesk_test::shell_quote(img)));
  for (std::string line; std::getline(body, line);) {
    std::vector<std::string> f;
    std::istringstream cells(line);
    for (std::string c; std::getline(cells, c, '|');) f.push_back(c);
    if (f.size() == 11) mtimes[f[1].substr(1)] = std::stoull(f[8]);
  }

  fat_chain_runs all_chains;
  ASSERT_TRUE(fat32_chains(all_chains, fat.data(), fat.size(), 4));
  size_t files = 0;
  for (size_t k = 0; k < names.size(); ++k) {
    if (names[k][0] == '_') continue;
    SCOPED_TRACE(names[k]);
    ++files;
    const uint8_t* e = entries[k].data() + entries[k].size() - 32;
    if (entries[k].size() > 32) {  // long entries carry the short name's checksum
      EXPECT_EQ(entries[k][13], vfat_short_name_checksum(e));
    }
    const uint32_t first = (uint32_t{load_le16(e + 20)} << 16) | load_le16(e + 26);
    const uint32_t size = load_le32(e + 28);
    std::vector<uint32_t> chain;
    ASSERT_TRUE(fat32_chain(chain, first, fat.data(), fat.size(), 0));
    const std::string quoted = vesk_test::shell_quote("::" + names[k]);
    EXPECT_EQ(chain, mshowfat_clusters(run_ok("mshowfat" + i + quoted)));

    cluster_runs runs;
    ASSERT_TRUE(fat_chain_to_runs(bs, runs, first, size, fat_words, fat.size(), 0));
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const cluster_run& r : runs.m_runs)
      pairs.emplace_back(static_cast<uint32_t>(r.m_first), static_cast<uint32_t>(r.count()));
    EXPECT_NE(std::find(all_chains.begin(), all_chains.end(), pairs), all_chains.end());

    const std::string copy = tree.path("copy");
    run_ok("mcopy -n" + i + quoted + " - > " + vesk_test::shell_quote(copy));
    std::vector<uint8_t> content;
    ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, size));
    EXPECT_EQ(content, whole_file(copy));

    guid md5;
    std::vector<uint8_t> sha1, sha256;
    ASSERT_TRUE(digest_cluster_runs(runs, md5, sha1, sha256, 7, disk, size));
    const std::string q = vesk_test::shell_quote(copy);
    EXPECT_EQ(hex(md5.m_bytes, 16), first_word(run_ok("md5sum " + q)));
    EXPECT_EQ(hex(sha1.data(), 20), first_word(run_ok("sha1sum " + q)));
    EXPECT_EQ(hex(sha256.data(), 32), first_word(run_ok("sha256sum " + q)));

    EXPECT_EQ(filetime_to_unix(dos_time_to_filetime(load_le16(e + 24), load_le16(e + 22), 0)),
              mtimes.at(names[k]));
  }
  EXPECT_EQ(files, 2u);

  // The freed clusters of the deleted file still hold its data.
  std::set<uint64_t> expect;
  const uint64_t data = fat32_data_offset(bs);
  for (uint32_t c : freed) {
    const uint64_t at = data + (c - 2) * 512ull;
    const auto bytes = vesk_test::read_file_range(img, at, 512);
    for (size_t w = 0; w < 512; w += 8)
      if (load_le64(&bytes[w])) {
        expect.insert(at + w);
        break;
      }
  }
  ASSERT_FALSE(expect.empty());
  std::vector<uint64_t> found;
  ASSERT_TRUE(collect_used_free_clusters(bs, found, disk, 0));
  EXPECT_EQ(std::set<uint64_t>(found.begin(), found.end()), expect);
}

TEST(FatVolumes, Fat16ChainAboveCluster4096AndExfatLayout) {
  std::string missing;
  if (!tools({"mkfs.fat", "mcopy", "mshowfat", "mkfs.exfat", "fsstat", "timeout"}, missing))
    GTEST_SKIP() << missing;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::string img =
      vesk_test::make_volume(tree.path("f16"), 32 << 20, "mkfs.fat", "-F 16 -s 1", nullptr);
  ASSERT_FALSE(img.empty());
  write_file(tree.path("one"), random_bytes(1 << 20, 5));
  write_file(tree.path("big"), random_bytes(3 << 20, 6));
  const std::string i = " -i " + vesk_test::shell_quote(img) + " ";
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("one")) + " ::one.bin");
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("one")) + " ::two.bin");
  run_ok("mcopy" + i + vesk_test::shell_quote(tree.path("big")) + " ::big.bin");

  RAW_DISK_IO disk(img, false, 0, disk_mode_path);
  const auto head = vesk_test::read_file_range(img, 0, 512);
  const boot_sector bs = boot_sector_from(head.data(), head.size());
  std::vector<uint8_t> fat;
  ASSERT_TRUE(read_fat16_table(bs, fat, disk, 0, 0));
  const auto dir =
      vesk_test::read_file_range(img, fat16_root_dir_offset(bs), bs.root_entries() * 32u);
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> entries;
  std::vector<uint64_t> offsets;
  read_fat_dir_entries_lfn(names, entries, offsets, bs, dir.data(), dir.size(), 0, ~uint64_t{0},
                           false, fat16_root_dir_offset(bs));
  const auto at = std::find(names.begin(), names.end(), "big.bin");
  ASSERT_NE(at, names.end());
  const uint8_t* e = entries[at - names.begin()].data() + entries[at - names.begin()].size() - 32;
  std::vector<uint32_t> chain;
  ASSERT_TRUE(fat16_chain(chain, load_le16(e + 26), fat.data(), fat.size(), 0));
  const auto expect = mshowfat_clusters(run_ok("mshowfat" + i + "::big.bin"));
  EXPECT_EQ(chain, expect);
  ASSERT_FALSE(chain.empty());
  EXPECT_GT(chain.front(), 0x1000u);
  EXPECT_EQ(chain.size(), 6144u);
  cluster_runs runs;
  ASSERT_TRUE(fat16_chain_to_runs(bs, runs, chain.front(), 3 << 20, fat.data(), fat.size(), 0));
  std::vector<uint8_t> content;
  ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, 3 << 20));
  EXPECT_EQ(content, whole_file(tree.path("big")));

  // exFAT: sleuthkit's layout, in sectors.
  const std::string ex =
      vesk_test::make_volume(tree.path("ex"), 16 << 20, "mkfs.exfat", "-L lbl", nullptr);
  ASSERT_FALSE(ex.empty());
  const std::string stat = run_ok("timeout 20 fsstat " + vesk_test::shell_quote(ex));
  auto first_sector = [&](const std::string& label) {
    const std::string v = vesk_test::labelled_value(stat, label);
    EXPECT_FALSE(v.empty()) << label;
    return v.empty() ? ~uint64_t{0} : std::stoull(v) * 512;
  };
  const auto exhead = vesk_test::read_file_range(ex, 0, 512);
  const boot_sector xb = boot_sector_from(exhead.data(), exhead.size());
  EXPECT_EQ(exfat_fat_offset(xb, 0), first_sector("* FAT 1"));
  EXPECT_EQ(exfat_heap_offset(xb, 0), first_sector("** Cluster Heap"));
  EXPECT_EQ(exfat_root_dir_offset(xb, 0), first_sector("*** Root Directory"));
  RAW_DISK_IO exdisk(ex, false, 0, disk_mode_path);
  std::vector<uint8_t> table;
  ASSERT_TRUE(read_exfat_table(xb, table, exdisk, 0));
  const uint32_t root = xb.exfat_root_cluster();
  store_le32(&table[4 * root], 0);  // as a contiguous file would have it
  cluster_runs exruns;
  ASSERT_TRUE(exfat_chain_to_runs(xb, exruns, root, 3 * exfat_cluster_size(xb) - 1, table.data(),
                                  table.size(), 0, true));
  ASSERT_EQ(exruns.m_runs.size(), 1u);
  EXPECT_EQ(exruns.m_runs[0].m_first, root);
  EXPECT_EQ(exruns.m_runs[0].count(), 3u);
  EXPECT_EQ(cluster_runs_first_offset(exruns), exfat_root_dir_offset(xb, 0));
}

TEST(ExtVolumes, ExtentTreesAndBlockMapsMatchDebugfs) {
  std::string missing;
  if (!tools({"mkfs.ext4", "mkfs.ext2", "debugfs"}, missing)) GTEST_SKIP() << missing;
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  tree.file("d4/small.txt", "hello\n");
  write_file(tree.path("d4/big.bin"), random_bytes(1 << 20, 8));
  {
    std::fstream f(tree.path("d4/islands.bin"), std::ios::binary | std::ios::out);
    for (int k = 0; k < 16; ++k) {
      const auto island = random_bytes(4096, 100 + k);
      f.seekp(k * 3 * 4096 + 4096);
      f.write(reinterpret_cast<const char*>(island.data()), 4096);
    }
  }
  tree.dir("d2");
  write_file(tree.path("d2/mid.bin"), random_bytes(300 * 1024, 9));

  struct volume {
    const char* tool;
    const char* args;
    const char* dir;
    std::vector<const char*> files;
  };
  const volume volumes[] = {
      {"mkfs.ext4", "-q -d", "d4", {"small.txt", "big.bin", "islands.bin"}},
      {"mkfs.ext2", "-q -b 1024 -d", "d2", {"mid.bin"}},
  };
  for (const volume& v : volumes) {
    SCOPED_TRACE(v.tool);
    const std::string img = vesk_test::make_volume(
        tree.path(std::string(v.dir) + ".img"), 8 << 20, v.tool,
        std::string(v.args) + " " + vesk_test::shell_quote(tree.path(v.dir)), nullptr);
    ASSERT_FALSE(img.empty());
    const std::string q = vesk_test::shell_quote(img);
    const auto sbytes = vesk_test::read_file_range(img, 1024, 1024);
    const ext_superblock sb = ext_superblock_from(sbytes.data(), sbytes.size());
    RAW_DISK_IO disk(img, false, 0, disk_mode_path);
    for (const char* file : v.files) {
      SCOPED_TRACE(file);
      const std::string f = std::string("/") + file;
      const std::string imap =
          run_ok("debugfs -R " + vesk_test::shell_quote("imap " + f) + " " + q);
      const uint64_t at = number_after(imap, "located at block ") * ext_block_size(sb) +
                          number_after(imap, "offset ", 16);
      const auto inode = vesk_test::read_file_range(img, at, 256);
      std::ostringstream note;
      EXPECT_TRUE(check_ext_inode(inode.data(), inode.size(), note));
      ext_inode_record rec;
      ASSERT_TRUE(
          ext_inode_load(rec, sb, inode.data(), inode.size(), number_after(imap, "Inode ")));
      cluster_runs runs;
      ASSERT_TRUE(walk_ext_extents(rec, runs, disk, 0, sb));
      uint64_t end = 0;
      const auto ours = block_map_of(runs, &end);
      const bool extents = (load_le32(&inode[32]) & ext_extents_flag) != 0;
      const std::string listing =
          run_ok("debugfs -R " + vesk_test::shell_quote((extents ? "ex " : "stat ") + f) + " " + q);
      const auto theirs = extents ? debugfs_extents(listing) : debugfs_stat_blocks(listing);
      EXPECT_EQ(ours, theirs);
      ASSERT_FALSE(theirs.empty());
      EXPECT_EQ(end, theirs.rbegin()->first + 1);  // every gap is a sparse run

      const std::string copy = tree.path("cat");
      run_ok("debugfs -R " + vesk_test::shell_quote("cat " + f) + " " + q + " > " +
             vesk_test::shell_quote(copy) + " 2>/dev/null");
      std::vector<uint8_t> content;
      ASSERT_TRUE(read_cluster_runs_to_vector(runs, content, disk, 0, load_le32(&inode[4])));
      EXPECT_EQ(content, whole_file(copy));
    }
  }
  std::vector<uint8_t> zeroed(256, 0);
  std::ostringstream note;
  EXPECT_FALSE(check_ext_inode(zeroed.data(), zeroed.size(), note));
  EXPECT_EQ(note.str(), "invalid data\n");
}
