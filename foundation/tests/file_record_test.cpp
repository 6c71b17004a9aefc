#include <gtest/gtest.h>

#include "foundation/vk_file_record.h"

using namespace vk;

TEST(FileStatInfo, ClearEmptiesEverything) {
  file_stat_info info;
  info.name = "a";
  info.path = "/x/a";
  info.inode = 7;
  info.size = -1;
  info.mtime = info.time2 = info.ctime = info.atime = 5;
  info.mode = 0x81A4;
  info.time_kind = file_times_unix;
  info.is_dir = 1;
  info.reserved16 = 1;
  info.reserved32a = info.reserved32b = info.reserved32c = info.reserved32d = 1;
  info.reserved8a = info.reserved8b = 1;
  clear_file_stat_info(info);
  EXPECT_TRUE(info.name.empty());
  EXPECT_TRUE(info.path.empty());
  EXPECT_EQ(info.time_kind, 0u);
  EXPECT_EQ(info.inode, 0u);
  EXPECT_EQ(info.size, 0);
  EXPECT_EQ(info.mtime | info.time2 | info.ctime | info.atime, 0);
  EXPECT_EQ(info.mode, 0u);
  EXPECT_EQ(info.is_dir, 0);
  EXPECT_EQ(info.reserved16, 0);
  EXPECT_EQ(info.reserved32a | info.reserved32b | info.reserved32c | info.reserved32d, 0u);
  EXPECT_EQ(info.reserved8a | info.reserved8b, 0);
}

TEST(FileStatInfo, ModeTests) {
  file_stat_info info;
  info.mode = 0x81A4;  // regular file
  EXPECT_FALSE(is_fifo(info));
  EXPECT_FALSE(is_socket(info));
  info.mode = 0x11B6;
  EXPECT_TRUE(is_fifo(info));
  EXPECT_FALSE(is_socket(info));
  info.mode = 0xC1ED;
  EXPECT_TRUE(is_socket(info));
  EXPECT_FALSE(is_fifo(info));
  info.mode = 0xA1FF;  // symbolic link shares bits with both but is neither
  EXPECT_FALSE(is_fifo(info));
  EXPECT_FALSE(is_socket(info));
}

TEST(FileStatInfo, DirEntryStartsWithTheFileRecord) {
  dir_entry_info entry;
  entry.name = "n";
  entry.attribute_bits = dir_entry_directory | dir_entry_unix_times;
  entry.first_list = {"a"};
  clear_file_stat_info(entry);
  EXPECT_TRUE(entry.name.empty());
  EXPECT_EQ(entry.attribute_bits, 10u);  // only the file part is cleared
  EXPECT_EQ(entry.first_list.size(), 1u);
}
