// The target ID lists of the sample shell links: nearly all walk whole, and
// a few give the item values libfwsi (Debian's pyfwsi) read from them once.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/vk_unicode.h"
#include "jumplist_samples.h"
#include "shell/idlist.h"

namespace vk {
namespace {

TEST(IdListSamples, TargetIdListsOfSampleLinks) {
  auto samples = vesk_test::samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no link files to walk";
  const cmd_params opts;
  size_t with_list = 0, walked = 0, items = 0, parsed = 0;
  for (const auto& s : samples) {
    const auto& b = s.bytes;
    if (b.size() < 80 || !(b[20] & 1)) continue;
    ++with_list;
    int64_t list_size = b[76] | (b[77] << 8);
    list_size = std::min<int64_t>(list_size, static_cast<int64_t>(b.size()) - 78);
    // An exactly sized copy, so that the sanitizers see any read past it.
    std::vector<uint8_t> list(b.begin() + 78, b.begin() + 78 + std::max<int64_t>(list_size - 2, 0));
    parse_ctx ctx;
    ctx.offset = 78;
    shell_item_list out;
    if (parse_idlist(out, list.data(), static_cast<int64_t>(list.size()), false, false, ctx, opts))
      ++walked;
    items += out.size();
    for (const auto& r : out) parsed += r.not_parsed == 0;
  }
  ASSERT_GT(with_list, 0u);
  EXPECT_GE(walked * 10, with_list * 9) << walked << " of " << with_list;
  EXPECT_GE(parsed * 10, items * 9) << parsed << " of " << items;
}

// One item as libfwsi reads it: the root folder's GUID, the volume's name
// or the file entry's short name, and for a file entry its size, FAT
// modification time and, from its 0xBEEF0004 extension, long name, creation
// and access times and NTFS file reference (times as FILETIME ticks).
struct known_item {
  uint16_t class_type;
  const char *name, *long_name;
  uint32_t size;
  uint64_t modified, created, accessed, file_reference;
};

struct known_list {
  const char* relpath;
  std::vector<known_item> items;
};

const known_list k_lists[] = {
    {"alfaifi-lnk/WIN10/1903_18362/测试 1.txt.lnk",
     {{0x31, "Test", "Test", 0, 133126540260000000ull, 133126540260000000ull, 133126540260000000ull,
       0xB00000000006Eull},
      {0x32, "1809F~1.TXT", "测试 1.txt", 4, 133226018080000000ull, 133226017920000000ull,
       133226018080000000ull, 0x1100000002A6B5ull}}},
    {"ez-lecmd/LECmd - Shortcut.lnk",
     {{0x1F, "20d04fe0-3aea-1069-a2d8-08002b30309d", "", 0, 0, 0, 0, 0},
      {0x2F, "D:\\", "", 0, 0, 0, 0, 0},
      {0x31, "Code", "Code", 0, 131919484100000000ull, 130928580340000000ull, 131919484100000000ull,
       0x1000000005743ull},
      {0x31, "LECmd", "LECmd", 0, 131890212580000000ull, 130996125300000000ull,
       131890212580000000ull, 0x100000000928Bull}}},
    // Items of the 8-bit era: no extension, the FAT dates zero.
    {"alfaifi-lnk/other/non_unicode_strings.lnk",
     {{0x1F, "20d04fe0-3aea-1069-a2d8-08002b30309d", "", 0, 0, 0, 0, 0},
      {0x2F, "E:\\", "", 0, 0, 0, 0, 0},
      {0x30, "Age Of Empires II", "", 0, 0, 0, 0, 0},
      {0x30, "Age2_X1", "", 0, 0, 0, 0, 0},
      {0x30, "age2_x1.Exe", "", 0, 0, 0, 0, 0}}},
};

TEST(IdListSamples, ItemsAsLibfwsiReadsThem) {
  const auto samples = vesk_test::samples_of_kind("lnk");
  if (samples.empty()) GTEST_SKIP() << "sample folder absent: no link files to walk";
  const cmd_params opts;
  for (const known_list& k : k_lists) {
    SCOPED_TRACE(k.relpath);
    const auto s = std::find_if(samples.begin(), samples.end(),
                                [&](const auto& x) { return x.relpath == k.relpath; });
    ASSERT_NE(s, samples.end());
    const auto& b = s->bytes;
    ASSERT_GT(b.size(), 78u);
    const size_t list_size = b[76] | (b[77] << 8);
    ASSERT_LE(78 + list_size, b.size());
    const std::vector<uint8_t> list(b.begin() + 78, b.begin() + 78 + list_size);
    parse_ctx ctx;
    ctx.offset = 78;
    shell_item_list items;
    ASSERT_TRUE(parse_idlist(items, list.data(), static_cast<int64_t>(list.size()), false, false,
                             ctx, opts));
    ASSERT_EQ(items.size(), k.items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      const shell_item_record& r = items[i];
      const known_item& want = k.items[i];
      SCOPED_TRACE(i);
      EXPECT_EQ(r.item_type, want.class_type);
      if (want.class_type == 0x1F) {
        ASSERT_FALSE(r.guids.empty());
        EXPECT_EQ(guid_to_string(r.guids[0]), want.name);
        continue;
      }
      if (want.class_type == 0x2F) {  // kept without the closing backslash
        EXPECT_EQ(r.long_name + "\\", want.name);
        continue;
      }
      EXPECT_EQ(r.primary_name, want.name);
      EXPECT_EQ(r.long_name, want.long_name);
      EXPECT_EQ(r.size, want.size);
      EXPECT_EQ(r.modified, want.modified);
      EXPECT_EQ(r.created, want.created);
      EXPECT_EQ(r.accessed, want.accessed);
      EXPECT_EQ(r.mft_entry | uint64_t{r.mft_sequence} << 48, want.file_reference);
    }
  }
}

}  // namespace
}  // namespace vk
