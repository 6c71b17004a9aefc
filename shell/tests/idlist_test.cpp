#include "shell/idlist.h"

#include <gtest/gtest.h>

#include "default_params.h"
#include "foundation/vk_unicode.h"
#include "idlist_writer.h"
#include "shell/guid_names.h"

namespace vk {
namespace {

using namespace vesk_test;

shell_item_list walk(const bytes_t& in, bool* ok = nullptr, int64_t size = -1,
                     parse_fault* fault = nullptr) {
  parse_ctx ctx;
  shell_item_list out;
  bool r = parse_idlist(out, in.data(), size >= 0 ? size : static_cast<int64_t>(in.size()), false,
                        false, ctx, default_params(), fault);
  if (ok) *ok = r;
  return out;
}

const bytes_t k_my_computer_guid = from_hex("e04fd020ea3a6910a2d808002b30309d");

TEST(IdListWalk, FileEntryWithExtension) {
  bytes_t in = from_hex(
      "5a00320034120000215a00602000544553542e5458540000420009000400efbe215a0060225a00002e00"
      "0000341200000000050000000000000000000000000000000000000074006500730074002e0074007800"
      "740000001800");
  ASSERT_EQ(in.size(), 90u);
  parse_ctx ctx;
  shell_item_list out;
  ASSERT_TRUE(parse_idlist(out, in.data(), 90, false, false, ctx, default_params()));
  ASSERT_EQ(out.size(), 1u);
  const shell_item_record& r = out[0];
  EXPECT_EQ(r.item_type, 0x32);
  EXPECT_EQ(r.not_parsed, 0);
  EXPECT_EQ(r.primary_name, "TEST.TXT");
  EXPECT_EQ(listed_names(r), std::vector<std::string>{"TEST.TXT"});
  EXPECT_EQ(r.size, 4660u);
  EXPECT_EQ(r.is_directory, 0);
  EXPECT_EQ(r.modified, 133802064000000000ull);
  EXPECT_EQ(r.modified_date(), "2025-01-01");
  EXPECT_EQ(r.modified_time(), "12:00:00");
  EXPECT_EQ(r.long_name, "test.txt");
  EXPECT_EQ(r.created, 133802064000000000ull);
  EXPECT_EQ(r.accessed, 133802496000000000ull);
  EXPECT_EQ(r.mft_entry, 0x1234u);
  EXPECT_EQ(r.mft_sequence, 5);

  // The writer makes the same item.
  bytes_t made =
      file_entry_item(0x32, 0x1234, 0x5A21, 0x6000, 0x20, "TEST.TXT",
                      file_entry_extension(0, 0x5A21, 0x6000, 0x5A22, 0, u"test.txt", 0x1234, 5));
  EXPECT_EQ(made, in);
}

// A DOS date or time that no date covers (pyfwsi refuses them: a day past
// its month's end, month 13, day 0, hour 31, minute 63, second 62) stands as
// it is, its words as pyfwsi's integer gives them, in the item and in its
// extension block alike, and is said; 29 February only in a leap year.
// Ticks from Python's datetime; 0x6DBD is 13:45:58.
TEST(IdListWalk, FileEntryDatesNoDateCoversStandAsTheyAre) {
  const struct {
    uint16_t date, time;
    uint64_t ticks;  // 0: none; the raw words stand
    uint32_t raw;
    // Where the date and time stand; elsewhere they are 2025-01-01 12:00.
    bool in_item = true, in_extension = true;
  } cases[] = {
      {0x59A1, 0x6DBD, 0, 0x6DBD59A1, true, false},  // the item's alone
      {0x59A1, 0x6DBD, 0, 0x6DBD59A1, false, true},  // the extension's alone
      {0x545F, 0x6DBD, 0, 0x6DBD545F},               // 2022-02-31
      {0x549F, 0x6DBD, 0, 0x6DBD549F},               // 2022-04-31
      {0x565D, 0x6DBD, 0, 0x6DBD565D},               // 2023-02-29
      {0x59A1, 0x6DBD, 0, 0x6DBD59A1},               // month 13
      {0x5820, 0x6DBD, 0, 0x6DBD5820},               // day 0
      {0x559F, 0xF800, 0, 0xF800559F},               // hour 31
      {0x559F, 0x07E0, 0, 0x07E0559F},               // minute 63
      {0x559F, 0x001F, 0, 0x001F559F},               // second 62
      {0xFFFF, 0xFFFF, 0, 0xFFFFFFFF},               // all bits
      {0x585D, 0x6DBD, 133536879580000000, 0},       // 2024-02-29
      {0x559F, 0x6DBD, 133169679580000000, 0},       // 2022-12-31
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.date << ' ' << c.time);
    const bytes_t list = idlist({file_entry_item(
        0x32, 1, c.in_item ? c.date : 0x5A21, c.in_item ? c.time : 0x6000, 0x20, "A.TXT",
        c.in_extension ? file_entry_extension(0, c.date, c.time, c.date, c.time, u"a.txt", 1, 1)
                       : file_entry_extension(0, 0x5A21, 0x6000, 0x5A21, 0x6000, u"a.txt", 1, 1))});
    parse_fault fault;
    const shell_item_list out = walk(list, nullptr, -1, &fault);
    ASSERT_EQ(out.size(), 1u);
    const uint64_t slot = c.ticks ? c.ticks : k_raw_dos_mark | c.raw;
    EXPECT_EQ(out[0].modified, c.in_item ? slot : 133802064000000000);
    const uint64_t extension = c.in_extension ? slot : 133802064000000000;
    EXPECT_EQ(out[0].created, extension);
    EXPECT_EQ(out[0].accessed, extension);
    EXPECT_EQ(is_raw_dos_time(slot), c.ticks == 0);
    if (c.ticks) {
      EXPECT_FALSE(fault);
    } else {
      ASSERT_TRUE(fault);
      EXPECT_EQ(fault.offset, 0u);
      EXPECT_STREQ(fault.cause, k_raw_dos_cause);
    }
  }
}

// A file-entry extension's names lie where its version places them: the
// long name where the fixed fields end, the localized name after the long
// name's end (after an empty one's terminator too). An offset that says
// otherwise is said and never followed, so the names stay pyfwsi's
// ("Downloads", "@shell32.dll,-21798"), which reads them by the layout
// alone. Version 3's localized name is 8-bit and, like every name, ends
// where the block's last u16 begins. A version no layout has shows no name,
// as pyfwsi shows none, and says so.
TEST(IdListWalk, FileEntryExtensionNamesWhereTheVersionPlacesThem) {
  constexpr int none = -1;
  // 8,200 characters: blocks of more than 16,383 bytes.
  static const std::u16string k_long(8200, u'a');
  const std::string long_utf8(8200, 'a');
  const auto utf8 = [](std::u16string_view t) { return utf16_to_utf8(t.data(), 2 * t.size()); };
  constexpr const char* k_unknown_unread =
      "0xBEEF0004 block of a version no layout has; its names not read";
  const struct {
    uint16_t version;
    int field;  // the u16 changed, or none
    uint16_t value;
    const char* cause;  // the start of the walk's cause; null: none
    std::u16string_view long_name = u"Downloads";
    std::u16string_view localized = u"@shell32.dll,-21798";
    // What is read: the written names unless given.
    const char* long_read = nullptr;
    const char* localized_read = nullptr;
    int field2 = none;  // a second u16 changed
    uint16_t value2 = 0;
  } rows[] = {
      {9, none, 0, nullptr},
      {8, none, 0, nullptr},
      {7, none, 0, nullptr},
      {3, none, 0, nullptr},
      {9, 18, 46, nullptr},  // an offset at 18 naming the long name
      {9, 18, 66, nullptr},  // or the localized name
      {9, 16, 8, "0xBEEF0004 long-name offset points into the block's fixed fields"},
      {9, 16, 0, "0xBEEF0004 long-name offset points into the block's fixed fields"},
      {9, 16, 200, "0xBEEF0004 long-name offset points past the block"},
      {8, 16, 46, "0xBEEF0004 long-name offset points into the long name"},
      {9, 16, 66, "0xBEEF0004 long-name offset points past the long name"},
      {3, 16, 30, "0xBEEF0004 long-name offset points into the long name"},
      {9, 36, 12, "0xBEEF0004 localized-name offset points into the block's fixed fields"},
      {9, 36, 50, "0xBEEF0004 localized-name offset points into the long name"},
      {9, 36, 70, "0xBEEF0004 localized-name offset points past the long name's end"},
      {9, 36, 200, "0xBEEF0004 localized-name offset points past the block"},
      {3, 18, 24, "0xBEEF0004 localized-name offset points into the long name"},
      {9, 18, 12, "0xBEEF0004 offset at 18 points into the block's fixed fields"},
      {9, 18, 70, "0xBEEF0004 offset at 18 points to no name's start"},
      // An offset to a name when none follows the long name says so.
      {9, 36, 50,
       "0xBEEF0004 localized-name offset points into the long name; no name after the long name",
       u"Downloads", u""},
      {3, 18, 30,
       "0xBEEF0004 localized-name offset points into the long name; no name after the long name",
       u"Downloads", u""},
      // An empty long name: the localized name follows its terminator.
      {9, none, 0, nullptr, u""},
      {8, none, 0, nullptr, u""},
      {7, none, 0, nullptr, u""},
      {3, none, 0, nullptr, u""},
      {3, none, 0, nullptr, u"", u"@s,-1"},
      {9, none, 0, nullptr, u"", u"@s,-1"},
      // Version 3's localized name is 8-bit whatever its second byte, and
      // ends before the block's last u16 when its terminator is overwritten.
      {3, 40, 0x0008, nullptr, u"Downloads", u"@shell32.dll,-21798", "Downloads", "\x08"},
      {3, 58, 0x0138, nullptr, u"Downloads", u"@shell32.dll,-21798", "Downloads",
       "@shell32.dll,-21798\x01"},
      // A long name past 16 KiB is bounded by its item, and read.
      {9, none, 0, nullptr, k_long, u"", long_utf8.c_str()},
      {3, none, 0, nullptr, k_long, u"", long_utf8.c_str()},
      // Versions no layout has: no name is read, as pyfwsi reads none; an
      // offset at 16 moved into a name or onto other fields would show
      // bytes of them as one.
      {9, 2, 10, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", ""},
      {9, 2, 1, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", ""},
      {9, 2, 65535, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", ""},
      {3, 2, 5, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", ""},
      {7, 2, 16, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", ""},
      {9, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 48},
      {9, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 20},
      {3, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 22},
      {8, 2, 12, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 46},
      {9, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 8},
      {9, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 47},
      {9, 2, 4, k_unknown_unread, u"Downloads", u"@shell32.dll,-21798", "", "", 16, 200},
      {9, 2, 6, k_unknown_unread, u"", u"@shell32.dll,-21798", "", ""},
      // The name runs into the block's last u16: not terminated.
      {9, 2, 2, k_unknown_unread, u"Downloads", u"", "", "", 64, 0x4141},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "version " << r.version << ", u16 at " << r.field << ": "
                                    << r.value << ", long name of " << r.long_name.size());
    bytes_t block = versioned_file_extension(r.version, r.long_name, r.localized);
    for (const auto& [field, value] : {std::pair{r.field, r.value}, {r.field2, r.value2}}) {
      if (field == none) continue;
      block[static_cast<size_t>(field)] = static_cast<uint8_t>(value);
      block[static_cast<size_t>(field) + 1] = static_cast<uint8_t>(value >> 8);
    }
    const bytes_t list =
        idlist({file_entry_item(0x31, 0, 0x5A21, 0x6000, 0x10, "DOWNLO~1", block)});
    parse_fault fault;
    const shell_item_list out = walk(list, nullptr, -1, &fault);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].long_name, r.long_read ? std::string(r.long_read) : utf8(r.long_name));
    EXPECT_EQ(out[0].localized_name,
              r.localized_read ? std::string(r.localized_read) : utf8(r.localized));
    EXPECT_EQ(listed_names(out[0]), std::vector<std::string>{"DOWNLO~1"});
    const bool laid_out = r.field != 2;
    EXPECT_EQ(out[0].mft_entry, r.version == 3 || !laid_out ? 0u : 0x1234u);
    if (!r.cause) {
      EXPECT_FALSE(fault) << fault.cause;
      continue;
    }
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault.offset, 0u);
    EXPECT_TRUE(std::string_view(fault.cause).starts_with(r.cause)) << fault.cause;
  }
}

TEST(IdListWalk, SingleItems) {
  struct row {
    const char* hex;
    size_t zero_pad;
    uint32_t result;
  };
  auto one = [](const bytes_t& item, uint32_t* result) {
    shell_item_record rec;
    parse_ctx ctx;
    *result =
        parse_shell_item(rec, item.data(), item.size(), false, false, 0, ctx, default_params());
    return rec;
  };
  uint32_t result = 0;
  shell_item_record r = one(from_hex("14001f50e04fd020ea3a6910a2d808002b30309d"), &result);
  ASSERT_EQ(r.guids.size(), 1u);
  EXPECT_EQ(guid_to_string(r.guids[0]), "20d04fe0-3aea-1069-a2d8-08002b30309d");
  EXPECT_EQ(r.guid_names.size(), 1u);
  EXPECT_EQ(result, 20u);

  bytes_t volume = from_hex("19002f433a5c");
  volume.resize(volume.size() + 19, 0);
  r = one(volume, &result);
  EXPECT_EQ(r.long_name, "C:");
  EXPECT_EQ(result, 7u);

  r = one(from_hex("20004100805c5c7365727665725c7368617265006465736300636f6d6d000000"), &result);
  EXPECT_EQ(r.names, (std::vector<std::string>{"\\\\server\\share", "desc", "comm"}));

  r = one(from_hex("1a00360000000000215a00601000440069007200310000000000"), &result);
  EXPECT_EQ(r.primary_name, "Dir1");
  EXPECT_EQ(r.is_directory, 1);
  EXPECT_TRUE(r.names.empty());

  // Network item: a path of three parts gives its last part, then the whole.
  r = one(shell_item(0x41, cat({{0, 0}, asciiz("a\\b\\c"), {0, 0}})), &result);
  EXPECT_EQ(r.names, (std::vector<std::string>{"c", "a\\b\\c"}));

  // The step each kind reports: fixed for some kinds, the item's size for
  // others, also when a kind's first parser refused the item.
  bytes_t named01 = shell_item(0x01, cat({{0, 0, 0}, utf16z(u"Name")}));
  named01.resize(50, 0);
  named01[0] = 50;
  const struct {
    bytes_t item;
    uint32_t step;
  } steps[] = {
      {named01, 50},
      {shell_item(0x02, cat({{0, 0, 0}, utf16z(u"Ab")})), 8},
      {shell_item(0x71, cat({bytes_t(11, 0), k_my_computer_guid})), 14},
      {shell_item(0x64, cat({{0}, utf16z(u"tail")})), 14},
  };
  for (const auto& row : steps) {
    r = one(row.item, &result);
    EXPECT_EQ(r.not_parsed, 0) << int(row.item[2]);
    EXPECT_EQ(result, row.step) << int(row.item[2]);
  }
}

TEST(IdListWalk, EdgeCases) {
  bool ok = true;
  EXPECT_TRUE(walk({0, 0}, &ok).empty());
  EXPECT_FALSE(ok);

  bytes_t root = shell_item(0x1F, cat({{0x50}, k_my_computer_guid}));
  bytes_t vol = shell_item(0x2F, cat({{'C', ':', '\\'}, bytes_t(19, 0)}));
  // Second item claiming more than is left: only the first.
  bytes_t cut = idlist({root, shell_item(0x2F, {'C', ':', '\\', 0}, 200)});
  EXPECT_EQ(walk(cut, &ok).size(), 1u);
  EXPECT_TRUE(ok);
  // Two zero u16s between items are both skipped.
  EXPECT_EQ(walk(idlist({root, {0, 0, 0, 0}, vol})).size(), 2u);
  // A 0xF000 entry is skipped whole; 0xF1F1 with fewer bytes left ends the walk.
  bytes_t big(0xF000, 0);
  big[0] = 0x00;
  big[1] = 0xF0;
  EXPECT_EQ(walk(idlist({root, big, vol})).size(), 2u);
  bytes_t marker = {0xF1, 0xF1, 0, 0, 0, 0};
  EXPECT_EQ(walk(idlist({root, marker, vol})).size(), 1u);

  // Short root-folder form: 18 bytes with a known CLSID become 20.
  bytes_t short_root = cat({{18, 0, 0x1F, 0x50}, k_my_computer_guid});
  short_root.resize(20, 0);  // the two bytes the short form takes over
  bytes_t list = idlist({short_root, vol});
  const bytes_t before = list;
  auto items = walk(list);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].guids.size(), 1u);
  EXPECT_EQ(items[1].long_name, "C:");
  EXPECT_EQ(list, before);  // the input is never written

  // An unknown type is kept, not parsed; flags carry to the next item.
  bytes_t unknown = shell_item(0x99, bytes_t(10, 0x41));
  bytes_t root_marker =
      shell_item(0x1F, cat({{0x50}, from_hex("6e610709e6f5d8489d61a91c3d28106d")}));
  items = walk(idlist({root_marker, unknown, shell_item(0x00, bytes_t(10, 0))}));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].flags, 0x10u);
  EXPECT_EQ(items[1].not_parsed, 1);
  EXPECT_EQ(items[1].item_type, 0x99);
  EXPECT_EQ(items[1].flags & 0x10u, 0x10u);
  EXPECT_EQ(items[2].not_parsed, 0);  // a small type 0x00 item is accepted empty

  // Nested 0x1E items with their own list.
  bytes_t nested = shell_item(0x1E, cat({{0}, k_my_computer_guid, idlist({vol})}));
  items = walk(idlist({nested}));
  ASSERT_EQ(items.size(), 1u);
  ASSERT_EQ(items[0].children.size(), 1u);
  EXPECT_EQ(items[0].children[0].long_name, "C:");
}

TEST(ItemParsers, CategoriesUrisAndRefusals) {
  auto category = [](uint32_t id) {
    byte_builder b;
    b.u16(12).u8(0x01).u8(0).u32(0x39DE2184).u32(id);
    shell_item_record rec;
    parse_ctx ctx;
    uint32_t r = parse_shell_item(rec, b.data().data(), 12, false, false, 0, ctx, default_params());
    EXPECT_EQ(r, 12u);
    return rec.long_name;
  };
  EXPECT_EQ(category(2), "Hardward and Sound");
  EXPECT_EQ(category(12), "<unk>");

  auto uri = [](const std::string& t1, const std::string& t2, const std::string& t3) {
    byte_builder b;
    b.u16(0).u8(0x61).fill(11).u64(0).fill(20);
    b.u32(static_cast<uint32_t>(t1.size() + 1)).u8(0).ascii(t1);
    b.u32(static_cast<uint32_t>(t2.size())).ascii(t2);
    b.u32(static_cast<uint32_t>(t3.size())).ascii(t3).fill(4);
    b.put_u16(0, static_cast<uint16_t>(b.size()));
    shell_item_record rec;
    parse_ctx ctx;
    parse_shell_item(rec, b.data().data(), b.size(), false, false, 0, ctx, default_params());
    return rec.long_name;
  };
  EXPECT_EQ(uri("user", "host.example", "https"), "https://host.example@user");
  EXPECT_EQ(uri("host", "", "ftp"), "ftp://host");

  for (uint8_t type : {0x74, 0x43}) {
    shell_item_record rec;
    parse_ctx ctx;
    // (a zero u16 at 4 would make the bytes an untyped text record, which
    // the fallback scanner accepts)
    bytes_t item = shell_item(type, cat({{0, 1, 0}, utf16z(u"name"), bytes_t(20, 0x11)}));
    parse_shell_item(rec, item.data(), item.size(), false, false, 0, ctx, default_params());
    EXPECT_EQ(rec.not_parsed, 1) << int(type);
  }
}

TEST(BeefBlocks, GuessedTimesRunTotalAndSizeLimit) {
  byte_builder body;
  body.u32(0).u64(133802064000000000ull).u64(133802496000000000ull);
  bytes_t times = beef_block(0, 37, body.take());
  bytes_t name = beef_block(5, 6, cat({utf16z(u"nm"), bytes_t(4, 0), {0, 0}}));
  bytes_t run = cat({times, name});
  shell_item_record rec;
  parse_ctx ctx;
  EXPECT_EQ(parse_beef_block_list(rec, run.data(), run.size(), ctx, default_params()),
            static_cast<int32_t>(run.size()));
  EXPECT_EQ(rec.date_texts,
            (std::vector<std::string>{"Created [guess]: 2025-01-01 12:00:00.000 [UTC]",
                                      "Modified [guess]: 2025-01-02 00:00:00.000 [UTC]"}));
  EXPECT_EQ(rec.long_name, "nm");

  // A second file entry extension in a run: its long name and localized
  // name, displaced by the first's, join the names in that order.
  bytes_t two = cat({versioned_file_extension(9, u"First", u"@a"),
                     versioned_file_extension(9, u"Second", u"@b")});
  shell_item_record both;
  EXPECT_EQ(parse_beef_block_list(both, two.data(), two.size(), ctx, default_params()),
            static_cast<int32_t>(two.size()));
  EXPECT_EQ(both.long_name, "First");
  EXPECT_EQ(both.localized_name, "@a");
  EXPECT_EQ(both.names, (std::vector<std::string>{"Second", "@b"}));

  // A block is bounded by the bytes that hold it, whatever its size: one
  // past them ends the walk.
  for (size_t size : {16383u, 16384u, 65535u}) {
    bytes_t block = beef_block(0, 99, bytes_t(size - 8, 0x01));
    shell_item_record r;
    EXPECT_EQ(parse_beef_block_list(r, block.data(), block.size(), ctx, default_params()),
              static_cast<int32_t>(size));
    EXPECT_EQ(parse_beef_block_list(r, block.data(), block.size() - 1, ctx, default_params()), 0);
  }
  // A (5,6) block of 9 bytes has no room for a name.
  bytes_t tiny = beef_block(5, 6, {0x41});
  tiny.resize(18, 0x41);
  shell_item_record r;
  parse_beef_block(r, tiny.data(), tiny.size(), ctx, default_params());
  EXPECT_TRUE(r.long_name.empty());
}

}  // namespace
}  // namespace vk
