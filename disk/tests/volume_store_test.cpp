#include "disk/volume_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "disk/platform_volumes.h"
#include "disk/vk_disk_structs.h"

using namespace vk;

namespace {

// Two volumes: number 0x1a2b3c4d mounted as c: under /mnt/c, and a device
// volume under /mnt/d.
volume_store hand_filled_store() {
  volume_store s;
  partition_entry c;
  c.m_volume_name = "\\vesk_volume{vol-1a2b3c4d}";
  c.m_volume_letter = "c:";
  c.m_text3 = "/mnt/c";
  c.m_serial = 0x1a2b3c4d;
  partition_entry d;
  d.m_text5 = "\\vesk_device\\volume3";
  d.m_text3 = "/mnt/d";
  s.m_volumes = {c, d};
  s.m_by_drive["c:"] = 0;
  s.m_by_number[0x1a2b3c4d] = 0;
  s.m_by_device_name["\\vesk_device\\volume3"] = 1;
  s.m_by_device_name["\\vesk_device\\volume9"] = 7;  // an index past the records
  return s;
}

uint32_t hash_of_units(std::initializer_list<uint8_t> bytes) {
  const std::vector<uint8_t> v(bytes);
  return static_cast<uint32_t>(string_hash37(v.data(), v.size()));
}

}  // namespace

TEST(VolumeStore, PathsTranslateThroughTheirVolumes) {
  const volume_store s = hand_filled_store();
  ::setenv("VESK_TEST_DRIVE", "C:", 1);
  using translate_fn = bool (*)(const volume_store&, std::string&, const std::string&);
  struct row {
    translate_fn fn;
    const char* path;
    bool ok;
    const char* out;
  };
  const row rows[] = {
      {store_translate_drive_path, "c:\\x\\y", true, "/mnt/c\\x\\y"},
      {store_translate_drive_path, "C:\\x", true, "/mnt/c\\x"},
      {store_translate_drive_path, "%VESK_TEST_DRIVE%\\z", true, "/mnt/c\\z"},
      {store_translate_drive_path, "c\\x\\y", false, ""},
      {store_translate_drive_path, "d:\\x", false, ""},
      {store_translate_drive_path, "", false, ""},
      {store_translate_volume_path, "\\\\?\\VESK_VOLUME{vol-1A2B3C4D}/dir/f.txt", true,
       "/mnt/c/dir/f.txt"},
      {store_translate_volume_path, "\\vesk_volume{vol-1a2b3c4d}", true, "/mnt/c"},
      {store_translate_volume_path, "\\vesk_volume{vol-1a2b3c4e}/f", false, ""},
      {store_translate_volume_path, "\\vesk_volume{vol-1a2b}/f", false, ""},
      {store_translate_volume_path, "\\vesk_volume{vol-", false, ""},
      {store_translate_volume_path, "/dir/\\vesk_volume{vol-1a2b3c4d}", false, ""},  // a file name
      {store_translate_path, "\\vesk_volume{vol-1a2b3c4d}/a/b", true, "/mnt/c/a/b"},
      {store_translate_path, "\\Vesk_Device\\Volume3/a/b", true, "/mnt/d/a/b"},
      {store_translate_path, "\\vesk_device\\volume4/a", false, ""},
      {store_translate_path, "\\vesk_device\\volume9/a", false, ""},
      {store_translate_path, "/other/a", false, ""},
      {store_translate_path_b, "/vesk_device/volume3/a/b", true, "/mnt/d/a/b"},
      {store_translate_path_b, "\\vesk_device\\volume3/a/b", false, ""},
      {store_translate_path_b, "/vesk_device/volume", false, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    std::string out = "stale";
    EXPECT_EQ(r.fn(s, out, r.path), r.ok);
    EXPECT_EQ(out, r.out);
  }
  ::unsetenv("VESK_TEST_DRIVE");
}

TEST(VolumeStore, PathHashIsTheUtf16FormOfTheUpperCasedPath) {
  volume_store s = hand_filled_store();
  EXPECT_EQ(store_path_hash(s, "", "a"), 0u);
  EXPECT_EQ(store_path_hash(s, "a", ""), 430086076u);
  EXPECT_EQ(hash_of_units({0x41, 0x00}), 430086076u);
  EXPECT_EQ(store_path_hash(s, "A", ""), 430086076u);
  // A translated path hashes as its translation, a second text adds its own.
  EXPECT_EQ(store_path_hash(s, "c:\\x", ""), store_path_hash(s, "/MNT/C\\X", ""));
  EXPECT_EQ(store_path_hash(s, "a", "b"), 430086076u + store_path_hash(s, "b", ""));
  // Non-ASCII text is hashed as its UTF-16 units.
  EXPECT_EQ(store_path_hash(s, "\xc3\xa9", ""), hash_of_units({0xE9, 0x00}));
  EXPECT_NE(store_path_hash(s, "\xff", ""), store_path_hash(s, "\xfe", ""));
  // The platform offers no volumes, so the store stays unindexed and keeps
  // what it was given.
  EXPECT_EQ(s.m_indexed, 0);
  EXPECT_EQ(s.m_volumes.size(), 2u);
}

TEST(VolumeStore, PlatformHooksReportNothing) {
  platform_volume_map named = {{"0_2048", partition_entry()}};
  EXPECT_FALSE(query_platform_volumes(named));
  EXPECT_TRUE(named.empty());
  platform_volume_number_map numbered = {{1, partition_entry()}};
  EXPECT_FALSE(query_platform_volumes(numbered));
  EXPECT_TRUE(numbered.empty());

  volume_store s = hand_filled_store();
  EXPECT_EQ(index_platform_volumes(s), 0);
  EXPECT_EQ(s.m_volumes.size(), 2u);
  EXPECT_EQ(s.m_by_drive.size(), 1u);
  s = hand_filled_store();
  s.m_indexed = 1;
  EXPECT_EQ(index_platform_volumes(s), 1);  // already indexed: left as it is
  EXPECT_EQ(s.m_volumes.size(), 2u);

  drive_stats d;
  d.m_partitions.emplace_back(2048, 2048, 7);
  EXPECT_FALSE(store_attach_volume_names(d));
  EXPECT_TRUE(d.m_partitions[0].m_volume_name.empty());
}
