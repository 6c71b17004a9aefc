#include "disk/cluster_runs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "cmdline/cmd_params.h"
#include "disk_images.h"
#include "foundation/uni_fileio.h"
#include "foundation/vk_console.h"
#include "foundation/vk_unicode.h"
#include "temp_tree.h"

using namespace vk;

namespace {

using run_list = std::vector<std::pair<uint64_t, uint64_t>>;

run_list runs_of(const cluster_runs& list) {
  run_list out;
  for (const cluster_run& r : list.m_runs) out.emplace_back(r.m_first, r.count());
  return out;
}

cluster_runs list_with(std::initializer_list<std::pair<uint64_t, uint64_t>> runs,
                       uint32_t cluster = 4096, uint64_t base = 0) {
  cluster_runs l;
  cluster_runs_init(l, base, cluster, 0);
  for (const auto& r : runs) cluster_runs_append(l, r.first, r.second);
  return l;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() | 1);  // never zero
  return v;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ClusterRuns, BuildingMergingRemovingAndExtents) {
  // Appending merges only onto a run that ends right before, never at cluster 0.
  EXPECT_EQ(runs_of(list_with({{10, 5}, {15, 3}})), (run_list{{10, 8}}));
  EXPECT_EQ(runs_of(list_with({{2, 3}, {0, 5}})), (run_list{{2, 3}, {0, 5}}));
  cluster_runs none;
  EXPECT_FALSE(cluster_runs_append(none, 1, 1));  // no cluster size

  // A sparse run between two runs keeps apart from both and keeps its flag.
  cluster_runs sparse = list_with({{100, 5}});
  ASSERT_TRUE(cluster_runs_append_sparse(sparse, 3));
  cluster_runs_append(sparse, 1, 2);  // would follow cluster 0 of the sparse run
  cluster_runs_append(sparse, 3, 1);
  EXPECT_EQ(runs_of(sparse), (run_list{{100, 5}, {0, 3}, {1, 3}}));
  EXPECT_TRUE(sparse.m_runs[1].sparse());
  EXPECT_FALSE(cluster_runs_contains(sparse, 0));
  std::vector<uint64_t> offsets, firsts, counts;
  std::vector<uint8_t> flags;
  ASSERT_TRUE(cluster_runs_extents_from(sparse, 6, offsets, firsts, counts, &flags));
  EXPECT_EQ(counts, (std::vector<uint64_t>{2, 3}));
  EXPECT_EQ(flags, (std::vector<uint8_t>{1, 0}));

  ASSERT_TRUE(
      cluster_runs_extents_from(list_with({{100, 5}, {200, 10}}), 7, offsets, firsts, counts));
  EXPECT_EQ(firsts, (std::vector<uint64_t>{202}));
  EXPECT_EQ(counts, (std::vector<uint64_t>{8}));
  EXPECT_EQ(offsets, (std::vector<uint64_t>{202 * 4096}));
  EXPECT_FALSE(cluster_runs_extents_from(list_with({{100, 5}}), 5, offsets, firsts, counts));

  uint64_t offset = 0, lcn = 0;
  ASSERT_TRUE(cluster_runs_locate_vcn(list_with({{100, 5}, {200, 10}}), 6, offset, lcn));
  EXPECT_EQ(lcn, 201u);

  // Removing clusters splits and trims; other runs stay.
  struct remove_case {
    std::initializer_list<std::pair<uint64_t, uint64_t>> from;
    cluster_run removed;
    run_list left;
  };
  const cluster_run r12_2{12, 2, 0}, r0_20{0, 20, 0}, r14_10{14, 10, 0}, empty{5, 0, 0};
  const remove_case cases[] = {
      {{{10, 8}}, r12_2, {{10, 2}, {14, 4}}},
      {{{10, 8}, {30, 2}}, r0_20, {{30, 2}}},
      {{{10, 8}, {20, 6}}, r14_10, {{10, 4}, {24, 2}}},
      {{{10, 8}}, empty, {{10, 8}}},
  };
  for (const auto& c : cases) {
    cluster_runs l = list_with(c.from);
    EXPECT_TRUE(cluster_runs_remove(l, c.removed));
    EXPECT_EQ(runs_of(l), c.left);
  }

  std::ostringstream dump;
  dump_cluster_runs(list_with({{16, 8}, {100, 3}}), dump, "; ", true, true);
  EXPECT_EQ(dump.str(), "0x10000-0x10/0x08; 0x64000-0x64/0x03");
  std::ostringstream empty_dump;
  dump_cluster_runs(list_with({}), empty_dump, "; ", true, true);
  EXPECT_EQ(empty_dump.str(), "no clusters");

  const uint8_t entry[] = {0x21, 0x18, 0x34, 0x56};
  EXPECT_EQ(data_run_size(entry), 4u);
  EXPECT_EQ(data_run_length(entry), 0x18u);
  EXPECT_EQ(data_run_offset(entry), 0x5634u);
  EXPECT_EQ(data_run_size(nullptr), 0u);

  // Decoded runs keep their sparse flag on the way into a list.
  std::vector<data_run> decoded(3);
  decoded[0].m_cluster = 40, decoded[0].m_count = 4;
  decoded[1].m_count = 6, decoded[1].m_negative = data_run_sparse;
  decoded[2].m_cluster = 44, decoded[2].m_count = 2;
  cluster_runs from_runs;
  ASSERT_TRUE(cluster_runs_from_data_runs(from_runs, decoded, 0, 4096, 0));
  EXPECT_EQ(runs_of(from_runs), (run_list{{40, 4}, {0, 6}, {44, 2}}));
  EXPECT_TRUE(from_runs.m_runs[1].sparse());
}

TEST(ClusterRuns, FreeAndBadMapsOfBitmapsAndTables) {
  cluster_runs free_runs, bad_runs;
  const uint8_t bitmap[] = {0x05};
  ASSERT_TRUE(cluster_maps_from_table(free_runs, bad_runs, bitmap, 1, 1, 0, 512, 0, 8));
  EXPECT_EQ(runs_of(free_runs), (run_list{{1, 1}, {3, 5}}));
  EXPECT_TRUE(bad_runs.m_runs.empty());

  const uint8_t fat16[] = {0, 0, 0, 0, 0x03, 0x00, 0xF7, 0xFF};
  ASSERT_TRUE(cluster_maps_from_table(free_runs, bad_runs, fat16, 8, 16, 0, 512, 0, 100));
  EXPECT_EQ(runs_of(free_runs), (run_list{{0, 2}}));
  EXPECT_EQ(runs_of(bad_runs), (run_list{{3, 1}}));

  const uint8_t fat32[] = {0, 0, 0, 0, 0xF7, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0};
  ASSERT_TRUE(cluster_maps_from_table(free_runs, bad_runs, fat32, 12, 32, 0, 512, 0, 100));
  EXPECT_EQ(runs_of(free_runs), (run_list{{0, 1}, {2, 1}}));
  EXPECT_EQ(runs_of(bad_runs), (run_list{{1, 1}}));
  EXPECT_FALSE(cluster_maps_from_table(free_runs, bad_runs, fat32, 12, 8, 0, 512, 0, 100));
  EXPECT_FALSE(cluster_maps_from_table(free_runs, bad_runs, fat32, 0, 32, 0, 512, 0, 100));
}

TEST(ClusterRuns, ReadersDeliverRunsSparseZerosAndFailOnShortMedia) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const uint32_t cs = 512;
  std::vector<uint8_t> medium = random_bytes(256 * cs, 7);
  // Clusters 40 and 41 are all zero: the zero map must find them.
  std::fill(medium.begin() + 40 * cs, medium.begin() + 42 * cs, uint8_t{0});
  write_file(tree.path("m"), medium);
  RAW_DISK_IO disk(tree.path("m"), false, 0, disk_mode_path);
  ASSERT_TRUE(disk.is_open());

  // 100 clusters (more than one piece), 3 sparse ones, then 2 clusters.
  cluster_runs list = list_with({{10, 100}}, cs, 0);
  cluster_runs_append_sparse(list, 3);
  cluster_runs_append(list, 200, 2);
  std::vector<uint8_t> expect(medium.begin() + 10 * cs, medium.begin() + 110 * cs);
  expect.insert(expect.end(), 3 * cs, 0);
  expect.insert(expect.end(), medium.begin() + 200 * cs, medium.begin() + 202 * cs);

  std::vector<uint8_t> got;
  cluster_runs zeros;
  ASSERT_TRUE(read_cluster_runs_zero_map(list, got, zeros, disk, 0, whole_content));
  EXPECT_EQ(got, expect);
  EXPECT_EQ(runs_of(zeros), (run_list{{40, 2}}));
  ASSERT_TRUE(read_cluster_runs_to_vector(list, got, disk, 99, 3 * cs + 10));
  EXPECT_EQ(got, std::vector<uint8_t>(expect.begin() + 99 * cs, expect.begin() + 102 * cs + 10));

  uni::fileio out;
  ASSERT_TRUE(out.open_utf8(tree.path("out"), true, false, true));
  ASSERT_TRUE(read_cluster_runs_to_file(list, out, disk, 0, expect.size()));
  out.close();
  EXPECT_EQ(whole_file(tree.path("out")), expect);

  std::vector<uint8_t> first;
  list.m_content_size = 700;
  ASSERT_TRUE(read_first_run_content(list, first, disk));
  EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.begin() + 700),
            std::vector<uint8_t>(medium.begin() + 10 * cs, medium.begin() + 10 * cs + 700));

  // A run past the end of the medium: false, and no stale bytes.
  cluster_runs beyond = list_with({{250, 10}}, cs, 0);
  EXPECT_FALSE(read_cluster_runs_to_vector(beyond, got, disk, 0, whole_content));
  ASSERT_EQ(got.size(), 10u * cs);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 6 * cs),
            std::vector<uint8_t>(medium.begin() + 250 * cs, medium.end()));
  EXPECT_TRUE(std::all_of(got.begin() + 6 * cs, got.end(), [](uint8_t b) { return b == 0; }));
  // More asked than the runs hold.
  EXPECT_FALSE(read_cluster_runs_to_vector(list_with({{1, 1}}, cs), got, disk, 0, 2 * cs));

  // A cluster list never reads past its own end.
  const std::vector<uint32_t> clusters = {3, 9};
  uint64_t length = 10 * cs;
  std::vector<uint8_t> listed;
  ASSERT_TRUE(read_cluster_list(disk, listed, length, 0, clusters, cs, 0));
  EXPECT_EQ(listed.size(), 2u * cs);
  EXPECT_EQ(std::vector<uint8_t>(listed.begin() + cs, listed.end()),
            std::vector<uint8_t>(medium.begin() + 9 * cs, medium.begin() + 10 * cs));
  const std::vector<uint32_t> past = {3, 300};
  length = whole_content;
  EXPECT_FALSE(read_cluster_list(disk, listed, length, 0, past, cs, 0));
  EXPECT_EQ(length, uint64_t{cs});
}

TEST(ClusterRuns, HostileCountsCostNoMoreThanTheMediumHolds) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const uint32_t cs = 512;
  const std::vector<uint8_t> medium = random_bytes(64 * cs, 9);
  write_file(tree.path("m"), medium);
  RAW_DISK_IO disk(tree.path("m"), false, 0, disk_mode_path);
  ASSERT_TRUE(disk.is_open());

  // Sparse runs hold nothing on the medium: content five times the medium's
  // size reads whole when it is sparse, and asks nothing of the medium.
  cluster_runs sparse = list_with({{0, 2}}, cs, 0);
  ASSERT_TRUE(cluster_runs_append_sparse(sparse, uint64_t{1} << 40));
  const uint64_t five = 5 * medium.size();
  std::vector<uint8_t> got;
  ASSERT_TRUE(read_cluster_runs_to_vector(sparse, got, disk, 0, five));
  ASSERT_EQ(got.size(), five);
  EXPECT_TRUE(std::equal(medium.begin(), medium.begin() + 2 * cs, got.begin()));
  EXPECT_TRUE(std::all_of(got.begin() + 2 * cs, got.end(), [](uint8_t b) { return b == 0; }));

  // Real runs that ask more of the medium than it holds (each run inside
  // it, together ten times its size): cut at the medium's size, false, and
  // a handful of pieces whatever the length asked.
  cluster_runs repeated = list_with({}, cs, 0);
  for (int i = 0; i < 10; ++i) cluster_runs_append(repeated, 0, 64);
  for (const uint64_t length : {whole_content, uint64_t{1} << 50}) {
    SCOPED_TRACE(length);
    size_t pieces = 0;
    uint64_t delivered = 0;
    EXPECT_FALSE(cluster_runs_walk(
        repeated, disk, 0, length, [&](const cluster_piece&) { return ++pieces < 1000; },
        &delivered));
    EXPECT_LE(pieces, 2u);
    EXPECT_EQ(delivered, medium.size());
  }

  // Expanding to single clusters and reading cluster lists: refused (or
  // cut) by what the medium holds before anything is reserved.
  struct expand_case {
    std::pair<uint64_t, uint64_t> run;
    uint64_t medium_bytes;
    bool ok;
  };
  for (const auto& c : std::vector<expand_case>{{{5, 3}, medium.size(), true},
                                                {{5, uint64_t{1} << 27}, medium.size(), false},
                                                {{5, uint64_t{1} << 40}, medium.size(), false},
                                                {{60, 4}, medium.size(), true},
                                                {{61, 4}, medium.size(), false},
                                                {{1, 2}, 0, false}}) {
    SCOPED_TRACE(c.run.first);
    std::vector<uint64_t> clusters{1, 2};
    std::vector<uint32_t> clusters32{1};
    const cluster_runs list = list_with({c.run}, cs);
    EXPECT_EQ(cluster_runs_to_clusters(list, clusters, c.medium_bytes), c.ok);
    EXPECT_EQ(record_clusters32(list, clusters32, c.medium_bytes), c.ok);
    EXPECT_EQ(clusters.size(), c.ok ? c.run.second : 0u);
    EXPECT_EQ(clusters32.size(), clusters.size());
    if (c.ok) {
      EXPECT_EQ(clusters.back(), c.run.first + c.run.second - 1);
    }
  }
  const std::vector<uint32_t> many(1u << 20, 3);
  uint64_t length = whole_content;
  std::vector<uint8_t> listed;
  EXPECT_FALSE(read_cluster_list(disk, listed, length, 0, many, cs, 0));
  EXPECT_EQ(listed.size(), medium.size());
  EXPECT_EQ(length, medium.size());
}

TEST(ClusterRuns, CopiesBetweenMediaImagesAndDrives) {
  vesk_test::temp_tree tree;
  ASSERT_TRUE(tree.ok());
  const std::vector<uint8_t> source = random_bytes(1 << 20, 3);
  write_file(tree.path("src"), source);
  set_device_root(tree.root());
  write_file(tree.path("sda"), std::vector<uint8_t>(1 << 20, 0xAA));
  write_file(tree.path("sdb"), std::vector<uint8_t>(1 << 20, 0xAA));

  cmd_params quiet;
  quiet.m_status_messages = 0;
  cmd_params loud;
  {
    // A megabyte from 0x40000 of a 1 MiB medium: what the medium holds is
    // copied, and the copy is short, not whole.
    RAW_DISK_IO disk(tree.path("src"), false, 0, disk_mode_path);
    console_capture capture;
    uint64_t copied = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(copy_disk_to_image(disk, from_utf8(tree.path("img")), 0x40000, 1 << 20, &loud,
                                    false, &copied));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: image copy from offset 0x40000 stopped after 0xc0000 of 0x100000 bytes (the "
              "end of the medium)\n");
    EXPECT_EQ(copied, 0xC0000u);
    EXPECT_NE(capture.err().find("percent done"), std::string::npos);
  }
  EXPECT_EQ(whole_file(tree.path("img")).size(), 0xC0000u);
  if (!vesk_test::find_tool("dd").empty()) {
    bool ok = false;
    vesk_test::run_command("dd if=" + vesk_test::shell_quote(tree.path("src")) + " of=" +
                               vesk_test::shell_quote(tree.path("dd")) + " bs=4096 skip=64",
                           ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(whole_file(tree.path("img")), whole_file(tree.path("dd")));
  }

  {
    RAW_DISK_IO target(0, true, false, disk_mode_drive);  // root + "sda"
    uni::fileio image;
    ASSERT_TRUE(image.open_utf8(tree.path("src"), false, false, false));
    uint64_t zeroed = 1;
    console_capture capture;
    ASSERT_TRUE(copy_image_to_disk(target, image, 0, 0, 1 << 20, &quiet, &zeroed));
    EXPECT_EQ(zeroed, 0u);
    EXPECT_EQ(capture.err(), "");
  }
  EXPECT_EQ(whole_file(tree.path("sda")), source);
  {
    RAW_DISK_IO disk(tree.path("src"), false, 0, disk_mode_path);
    uint64_t zeroed = 1;
    ASSERT_TRUE(copy_disk_to_disk(disk, 1, 0, 0, 1 << 20, &quiet, &zeroed));
    EXPECT_EQ(zeroed, 0u);
  }
  EXPECT_EQ(whole_file(tree.path("sdb")), source);

  // Read failures: the medium shrinks behind the open objects.
  write_file(tree.path("sdb"), std::vector<uint8_t>(1 << 20, 0xAA));
  {
    RAW_DISK_IO disk(tree.path("src"), false, 0, disk_mode_path);
    uni::fileio image;
    ASSERT_TRUE(image.open_utf8(tree.path("src"), false, false, false));
    RAW_DISK_IO target(0, true, false, disk_mode_drive);
    ASSERT_EQ(::truncate(tree.path("src").c_str(), 0x80000), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(copy_disk_to_image(disk, from_utf8(tree.path("img2")), 0, 1 << 20, &quiet, false));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: image copy from offset 0x0 stopped after 0x80000 of 0x100000 bytes (a "
              "failed read or write)\n");
    EXPECT_EQ(whole_file(tree.path("img2")).size(), 0x80000u);
    uint64_t zeroed = 0;
    EXPECT_TRUE(copy_disk_to_disk(disk, 1, 0, 0, 1 << 20, &quiet, &zeroed));
    EXPECT_EQ(zeroed, 0x80000u);
    // A megabyte from 0x40000 of a 1 MiB image is more than it holds.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(copy_image_to_disk(target, image, 0x40000, 0, 1 << 20, &quiet, &zeroed));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "prob: image restore from offset 0x40000 stopped after 0xc0000 of 0x100000 bytes "
              "(the end of the medium)\n");
    EXPECT_EQ(zeroed, 0x80000u);
  }
  std::vector<uint8_t> half(source.begin(), source.begin() + 0x80000);
  half.resize(1 << 20, 0);
  EXPECT_EQ(whole_file(tree.path("sdb")), half);
  std::vector<uint8_t> quarter(source.begin() + 0x40000, source.begin() + 0x80000);
  quarter.resize(0xC0000, 0);
  // Beyond the image's length the earlier copy stays.
  quarter.insert(quarter.end(), source.begin() + 0xC0000, source.end());
  EXPECT_EQ(whole_file(tree.path("sda")), quarter);
  set_device_root("/dev/");
}
