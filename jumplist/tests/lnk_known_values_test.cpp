// Links whose values are known from outside this code: the example shortcut
// printed in the public LNK format document (MS-SHLLINK, "Link File
// Example"), the header and block sizes that document gives, and sample
// files whose values liblnk and libolecf (Debian's pylnk and pyolecf) read
// once and are written here as literals. A stored record keeps its shell
// items only for the ID-list breakout.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "default_params.h"
#include "foundation/vk_unicode.h"
#include "idlist_writer.h"
#include "jumplist/compound_file.h"
#include "jumplist/extra_data.h"
#include "jumplist/file_drivers.h"
#include "jumplist/lnk_parser.h"
#include "jumplist/vesk_options.h"
#include "jumplist_samples.h"
#include "lnk_writer.h"
#include "temp_tree.h"

namespace vk {
namespace {

using namespace vesk_test;

// The shortcut to C:\test\a.txt, byte for byte as the document prints it.
const bytes_t k_example = from_hex(
    "4c0000000114020000000000c0000000"  // 0000
    "000000469b00080020000000d0e9eef2"  // 0010
    "1515c901d0e9eef21515c901d0e9eef2"  // 0020
    "1515c901000000000000000001000000"  // 0030
    "000000000000000000000000bd001400"  // 0040
    "1f50e04fd020ea3a6910a2d808002b30"  // 0050
    "309d19002f433a5c0000000000000000"  // 0060
    "00000000000000000000004600310000"  // 0070
    "0000002c3969a3100074657374000032"  // 0080
    "0007000400efbe2c3965a32c3969a326"  // 0090
    "000000031e00000000f51e0000000000"  // 00A0
    "00000000007400650073007400000014"  // 00B0
    "0048003200000000002c3969a3200061"  // 00C0
    "2e74787400340007000400efbe2c3969"  // 00D0
    "a32c3969a3260000002d6e0000000096"  // 00E0
    "010000000000000000000061002e0074"  // 00F0
    "00780074000000140000003c0000001c"  // 0100
    "000000010000001c0000002d00000000"  // 0110
    "0000003b000000110000000300000081"  // 0120
    "8a7a301000000000433a5c746573745c"  // 0130
    "612e747874000007002e005c0061002e"  // 0140
    "00740078007400070043003a005c0074"  // 0150
    "0065007300740060000000030000a058"  // 0160
    "0000000000000063687269732d787073"  // 0170
    "000000000000004078c79447fac746b3"  // 0180
    "565c2dc6b6d115ec46cd7b227fdd1194"  // 0190
    "9900137216874a4078c79447fac746b3"  // 01A0
    "565c2dc6b6d115ec46cd7b227fdd1194"  // 01B0
    "9900137216874a00000000");          // 01C0

// The bytes of a sample file, empty when it cannot be read.
bytes_t read_whole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(LnkKnownValues, PublishedExampleLink) {
  ASSERT_EQ(k_example.size(), 0x1CBu);
  lnk_record rec;
  ASSERT_TRUE(parse_lnk(rec, k_example.data(), k_example.size(), default_params(),
                        vesk_test::test_scratch(), false, 0));
  EXPECT_EQ(rec.m_lnk_size, 0x1CBu);
  const lnk_header& h = rec.m_header;
  EXPECT_EQ(h.m_lnk_header_size, 0x4Cu);
  EXPECT_EQ(h.m_lnk_flags, 0x0008009Bu);
  EXPECT_EQ(h.m_file_attributes, 0x20u);
  // 2008-09-12 20:27:17.101 UTC, all three.
  EXPECT_EQ(h.m_create_time, 128657248371010000ull);
  EXPECT_EQ(h.m_access_time, 128657248371010000ull);
  EXPECT_EQ(h.m_write_time, 128657248371010000ull);
  EXPECT_EQ(h.m_file_size, 0u);
  EXPECT_EQ(h.m_icon_index, 0);
  EXPECT_EQ(h.m_show_cmd, 1u);  // SW_SHOWNORMAL
  EXPECT_EQ(h.m_hotkey, 0u);
  EXPECT_EQ(rec.m_drive_type, "fixed");
  EXPECT_EQ(rec.m_volume_serial, "307a-8a81");
  EXPECT_EQ(rec.m_volume_label, "");
  EXPECT_EQ(rec.m_local_base_path, "C:\\test\\a.txt");
  EXPECT_EQ(rec.m_common_path_suffix, "");
  EXPECT_EQ(rec.m_relative_path, ".\\a.txt");
  EXPECT_EQ(rec.m_working_dir, "C:\\test");
  EXPECT_EQ(rec.m_name, "");
  EXPECT_EQ(rec.m_arguments, "");
  EXPECT_EQ(rec.m_machine_id, "chris-xps");
  EXPECT_EQ(rec.m_volume_droid, "94c77840-fa47-46c7-b356-5c2dc6b6d115");
  EXPECT_EQ(rec.m_object_droid, "7bcd46ec-7f22-11dd-9499-00137216874a");
  EXPECT_EQ(rec.m_birth_volume_droid, "94c77840-fa47-46c7-b356-5c2dc6b6d115");
  EXPECT_EQ(rec.m_birth_object_droid, "7bcd46ec-7f22-11dd-9499-00137216874a");
  EXPECT_EQ(rec.m_tracker_offset, 0x167u);
  // The ID list: My Computer, C:\, the folder test and the file a.txt, their
  // FAT times 2008-09-12 20:27:18 (the folder made at 20:27:10).
  const shell_item_list& items = rec.m_idlist_items;
  ASSERT_EQ(items.size(), 4u);
  ASSERT_FALSE(items[0].guids.empty());
  EXPECT_EQ(items[0].item_type, 0x1F);
  EXPECT_EQ(guid_to_string(items[0].guids[0]), "20d04fe0-3aea-1069-a2d8-08002b30309d");
  EXPECT_EQ(items[1].item_type, 0x2F);
  EXPECT_EQ(items[1].long_name, "C:");
  const struct {
    uint16_t type;
    const char* name;
    uint64_t modified, created, mft_entry;
    uint16_t mft_sequence;
  } files[] = {{0x31, "test", 128657248380000000ull, 128657248300000000ull, 0x1E03, 0x1EF5},
               {0x32, "a.txt", 128657248380000000ull, 128657248380000000ull, 0x6E2D, 0x0196}};
  for (size_t i = 0; i < 2; ++i) {
    const shell_item_record& r = items[2 + i];
    SCOPED_TRACE(files[i].name);
    EXPECT_EQ(r.item_type, files[i].type);
    EXPECT_EQ(r.primary_name, files[i].name);
    EXPECT_EQ(r.long_name, files[i].name);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.modified, files[i].modified);
    EXPECT_EQ(r.created, files[i].created);
    EXPECT_EQ(r.accessed, files[i].modified);
    EXPECT_EQ(r.mft_entry, files[i].mft_entry);
    EXPECT_EQ(r.mft_sequence, files[i].mft_sequence);
  }
}

TEST(LnkKnownValues, HeaderFieldsAtTheirDocumentedOffsets) {
  // Every field a distinct value at the offset the format document gives.
  byte_builder b;
  b.u32(0x4C).bytes(from_hex("0114020000000000c000000000000046"));
  b.u32(0x11223344u)               // 0x14 LinkFlags
      .u32(0x55667788u)            // 0x18 FileAttributes
      .u64(0x0102030405060708ull)  // 0x1C CreationTime
      .u64(0x1112131415161718ull)  // 0x24 AccessTime
      .u64(0x2122232425262728ull)  // 0x2C WriteTime
      .u32(0x31323334u)            // 0x34 FileSize
      .u32(0xFFFFFFFEu)            // 0x38 IconIndex
      .u32(0x41424344u)            // 0x3C ShowCommand
      .u16(0x5152)                 // 0x40 HotKey
      .u16(0x6162)                 // 0x42 Reserved1
      .u32(0x71727374u)            // 0x44 Reserved2
      .u32(0x81828384u);           // 0x48 Reserved3
  const bytes_t bytes = b.take();
  ASSERT_EQ(bytes.size(), 0x4Cu);
  const lnk_header h = load_lnk_header(bytes.data());
  EXPECT_EQ(h.m_lnk_header_size, 0x4Cu);
  EXPECT_EQ(h.m_lnk_flags, 0x11223344u);
  EXPECT_EQ(h.m_file_attributes, 0x55667788u);
  EXPECT_EQ(h.m_create_time, 0x0102030405060708ull);
  EXPECT_EQ(h.m_access_time, 0x1112131415161718ull);
  EXPECT_EQ(h.m_write_time, 0x2122232425262728ull);
  EXPECT_EQ(h.m_file_size, 0x31323334u);
  EXPECT_EQ(h.m_icon_index, -2);
  EXPECT_EQ(h.m_show_cmd, 0x41424344u);
  EXPECT_EQ(h.m_hotkey, 0x5152u);
  EXPECT_EQ(h.m_reserved1, 0x6162u);
  EXPECT_EQ(h.m_reserved2, 0x71727374u);
  EXPECT_EQ(h.m_reserved3, 0x81828384u);
  EXPECT_EQ(bytes_t(h.m_lnk_clsid.begin(), h.m_lnk_clsid.end()),
            from_hex("0114020000000000c000000000000046"));
  EXPECT_TRUE(is_lnk_header(bytes.data(), bytes.size()));
  EXPECT_FALSE(is_lnk_header(bytes.data(), 19));
}

// A block of the given signature and BlockSize, its body zero but a
// tracker's length, which names its kind.
lnk_bytes_t sized_block(uint32_t signature, size_t size) {
  lnk_bytes_t body(size - 8, 0);
  if (signature == lnk_layout::signature::tracker) body[0] = 0x58;
  return extra_block(signature, body);
}

TEST(LnkKnownValues, EveryBlockKindTakenFromItsDocumentedSizeOn) {
  // Signature, the least BlockSize it is taken at (a larger one is taken
  // too) and a smaller one it is stepped over at (0: none), and where the
  // walk notes it. Fixed sizes as the format document gives them; a
  // property store is taken once it can hold its terminator.
  const struct {
    uint32_t signature;
    size_t taken, stepped_over;
    uint32_t lnk_record_fields::*offset;
  } kinds[] = {
      {0xA0000001, 0x314, 0x310, &lnk_record_fields::m_environment_offset},
      {0xA0000002, 0xCC, 0xC8, &lnk_record_fields::m_console_offset},
      {0xA0000003, 0x60, 0x5C, &lnk_record_fields::m_tracker_offset},
      {0xA0000004, 0x0C, 0x08, &lnk_record_fields::m_console_fe_offset},
      {0xA0000005, 0x18, 0x0C, &lnk_record_fields::m_special_folder_offset},
      {0xA0000006, 0x314, 0x310, &lnk_record_fields::m_darwin_offset},
      {0xA0000007, 0x314, 0x310, &lnk_record_fields::m_icon_environment_offset},
      {0xA0000008, 0x88, 0x84, &lnk_record_fields::m_shim_offset},
      {0xA0000009, 12, 8, &lnk_record_fields::m_property_store_offset},
      {0xA000000B, 0x1C, 0x18, &lnk_record_fields::m_known_folder_offset},
      {0xA000000C, 0x0A, 0, &lnk_record_fields::m_vista_idlist_offset},
  };
  for (const auto& k : kinds) {
    // A block after it shows that the walk went on.
    const bool fe = k.signature == 0xA0000004;
    const lnk_bytes_t after = fe ? console_block() : console_fe_block(850);
    const auto after_offset =
        fe ? &lnk_record_fields::m_console_offset : &lnk_record_fields::m_console_fe_offset;
    for (size_t size : {k.taken, k.taken + 4, k.stepped_over}) {
      if (size == 0) continue;
      lnk_spec s;
      s.extra_blocks = {sized_block(k.signature, size), after};
      const lnk_bytes_t link = write_lnk(s);
      lnk_record rec;
      ASSERT_TRUE(parse_lnk(rec, link.data(), link.size(), default_params(),
                            vesk_test::test_scratch(), false, 0));
      EXPECT_EQ(rec.*k.offset, size >= k.taken ? 0x4Cu : 0u)
          << std::hex << k.signature << std::dec << " size " << size;
      EXPECT_EQ(rec.*after_offset, 0x4C + size) << std::hex << k.signature;
      EXPECT_EQ(rec.m_lnk_size, link.size());
      // The same block cut by one byte at the data's end is never read.
      lnk_record cut;
      ASSERT_TRUE(parse_lnk(cut, link.data(), 0x4C + size - 1, default_params(),
                            vesk_test::test_scratch(), false, 0));
      EXPECT_EQ(cut.*k.offset, 0u) << std::hex << k.signature;
      EXPECT_EQ(cut.m_lnk_size, 0x4Cu);
    }
  }
}

// Values liblnk gives for a few varied sample links: an 8-bit string set,
// network and UTF-16 paths, an environment block, tracker blocks and
// property stores, a volume label.
struct known_link {
  const char* relpath;
  struct {
    uint64_t created, accessed, written;
    uint32_t attributes, file_size, flags;
  } header;
  struct {
    const char* drive_type;  // "" without a VolumeID
    uint32_t serial;
    const char* label;
  } volume;
  struct {
    const char *local_path, *network_path, *description, *relative_path, *working_dir, *arguments,
        *icon_location, *environment;
  } texts;
  struct {
    const char *machine_id, *volume, *object, *birth_volume, *birth_object;
  } droids;
};

const known_link k_links[] = {
    {"alfaifi-lnk/WIN10/1903_18362/测试 1.txt.lnk",
     {133226017902779105ull, 133226018060778974ull, 133226018060778974ull, 0x20, 4, 0x20009B},
     {"fixed", 0x5C14AF47, ""},
     {"C:\\Users\\u0041\\Desktop\\Test\\测试 1.txt", "\\\\COMMANDO\\Test\\测试 1.txt", "",
      "..\\..\\..\\..\\..\\Desktop\\Test\\测试 1.txt", "C:\\Users\\u0041\\Desktop\\Test", "", "",
      ""},
     {"commando", "f3de7cbc-518d-4055-8e4a-2822382ddd3b", "539933d0-bc4e-11ed-8a28-5076afa95947",
      "f3de7cbc-518d-4055-8e4a-2822382ddd3b", "539933d0-bc4e-11ed-8a28-5076afa95947"}},
    {"alfaifi-lnk/WIN10/1607_14393/network_share_unicode.lnk",
     {132572618655403893ull, 132572618655403893ull, 132572619118733531ull, 0x20, 13, 0x80292},
     {"", 0x00000000, ""},
     {"", "\\\\127.0.0.1\\TEST\\تجربة.txt", "", "", "\\\\127.0.0.1\\test", "", "",
      "\\\\127.0.0.1\\test\\تجربة.txt"},
     {"", "00d2581c-4749-44bd-9381-9bdfadf8a9de", "bd4fae9f-6a0a-11eb-8ecf-5076afa95947",
      "00d2581c-4749-44bd-9381-9bdfadf8a9de", "bd4fae9f-6a0a-11eb-8ecf-5076afa95947"}},
    {"alfaifi-lnk/other/non_unicode_strings.lnk",
     {126066137980000000ull, 125947620000000000ull, 126066137980000000ull, 0x0, 2695213, 0x7F},
     {"fixed", 0x38A5E0D9, "CLEOPATRA"},
     {"E:\\Age Of Empires II\\Age2_X1\\age2_x1.Exe", "", "The Conquerors - NormalMouse.lnk",
      "..\\..\\Age2_X1\\age2_x1.Exe", "E:\\Age Of Empires II\\", "normalmouse",
      "E:\\Age Of Empires II\\\\Age2_X1\\\\age2_x1.Exe", ""},
     {"", "", "", "", ""}},
    {"ez-lnk/Win7/Ease of Access.lnk",
     {128920029537521515ull, 128920029537521515ull, 128920091418410000ull, 0x20, 114688, 0x20003EC},
     {"", 0x00000000, ""},
     {"", "", "@%windir%\\system32\\accessibilityCpl.dll,-45",
      "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\Windows\\System32\\control.exe", "",
      "/name Microsoft.EaseOfAccessCenter", "%windir%\\system32\\AccessibilityCpl.dll",
      "%windir%\\system32\\control.exe"},
     {"win-tj9qcsjkags", "494ccbda-98e8-45c8-b8ca-f64d464366c7",
      "846ee38d-7039-11de-9d20-001d09fa5a1c", "494ccbda-98e8-45c8-b8ca-f64d464366c7",
      "846ee38d-7039-11de-9d20-001d09fa5a1c"}},
    {"ez-lecmd/LECmd - Shortcut.lnk",
     {130996125299702872ull, 131890212563590248ull, 131890212563400762ull, 0x10, 4096, 0x9B},
     {"fixed", 0xD014E38F, "DDrive (1TB_M2)"},
     {"D:\\Code\\LECmd", "", "", ".", "D:\\Code", "", "", ""},
     {"ez-w", "33ba9b9c-8c37-49fc-bd0e-e9b4ef02a260", "50efa1d5-0770-11e8-a551-b06ebfba7380",
      "33ba9b9c-8c37-49fc-bd0e-e9b4ef02a260", "50efa1d5-0770-11e8-a551-b06ebfba7380"}},
};

std::string serial_text(uint32_t serial) {
  char text[10];
  std::snprintf(text, sizeof text, "%04x-%04x", serial >> 16, serial & 0xFFFF);
  return text;
}

// The network share and the common suffix as one path.
std::string network_path(const lnk_record& rec) {
  if (rec.m_net_name.empty() || rec.m_common_path_suffix.empty()) return rec.m_net_name;
  const bool separated = rec.m_net_name.back() == '\\';
  return rec.m_net_name + (separated ? "" : "\\") + rec.m_common_path_suffix;
}

TEST(LnkKnownValues, SampleLinksAsLiblnkReadsThem) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent: no real links to read";
  for (const known_link& k : k_links) {
    SCOPED_TRACE(k.relpath);
    const bytes_t bytes = read_whole(dir / k.relpath);
    ASSERT_FALSE(bytes.empty());
    lnk_record rec;
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    EXPECT_EQ(rec.m_lnk_size, bytes.size());
    const lnk_header& h = rec.m_header;
    EXPECT_EQ(h.m_create_time, k.header.created);
    EXPECT_EQ(h.m_access_time, k.header.accessed);
    EXPECT_EQ(h.m_write_time, k.header.written);
    EXPECT_EQ(h.m_file_attributes, k.header.attributes);
    EXPECT_EQ(h.m_file_size, k.header.file_size);
    EXPECT_EQ(h.m_lnk_flags, k.header.flags);
    EXPECT_EQ(rec.m_drive_type, k.volume.drive_type);
    EXPECT_EQ(rec.m_volume_serial, *k.volume.drive_type ? serial_text(k.volume.serial) : "");
    EXPECT_EQ(rec.m_volume_label, k.volume.label);
    const std::string local = rec.m_local_base_path + rec.m_common_path_suffix;
    EXPECT_EQ(rec.m_local_base_path.empty() ? "" : local, k.texts.local_path);
    EXPECT_EQ(network_path(rec), k.texts.network_path);
    EXPECT_EQ(rec.m_name, k.texts.description);
    EXPECT_EQ(rec.m_relative_path, k.texts.relative_path);
    EXPECT_EQ(rec.m_working_dir, k.texts.working_dir);
    EXPECT_EQ(rec.m_arguments, k.texts.arguments);
    EXPECT_EQ(rec.m_icon_location, k.texts.icon_location);
    EXPECT_EQ(rec.m_environment_target, k.texts.environment);
    EXPECT_EQ(rec.m_machine_id, k.droids.machine_id);
    EXPECT_EQ(rec.m_volume_droid, k.droids.volume);
    EXPECT_EQ(rec.m_object_droid, k.droids.object);
    EXPECT_EQ(rec.m_birth_volume_droid, k.droids.birth_volume);
    EXPECT_EQ(rec.m_birth_object_droid, k.droids.birth_object);
  }
}

// The streams of two automatic jump lists as libolecf lists them, and per
// link stream what liblnk reads from its bytes.
struct known_stream {
  const char* name;
  size_t size;
  uint64_t written;  // 0: not a link
  uint32_t file_size, flags;
  const char *local_path, *object_droid;
};

struct known_jumplist {
  const char* relpath;
  std::vector<known_stream> streams;
};

const known_jumplist k_jumplists[] = {
    {"alfaifi-jumplist/win10/AutomaticDestinations/4cb9c5750d51c07f.automaticDestinations-ms",
     {{"1", 1203, 133966058999080267ull, 574725, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\3gp\\sample_640x360.3gp",
       "b69b4781-5d5d-11f0-bcb5-bc241191c201"},
      {"DestList", 1574, 0, 0, 0, "", ""},
      {"2", 1206, 133966059069248213ull, 17436020, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\3gp\\sample_1280x720.3gp",
       "b69b478c-5d5d-11f0-bcb5-bc241191c201"},
      {"3", 1203, 133966059129550219ull, 583572, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\avi\\sample_640x360.avi",
       "b69b478f-5d5d-11f0-bcb5-bc241191c201"},
      {"4", 1203, 133966059008191152ull, 573066, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\mkv\\sample_640x360.mkv",
       "b69b4795-5d5d-11f0-bcb5-bc241191c201"},
      {"5", 1203, 133966059151737755ull, 574823, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\mp4\\sample_640x360.mp4",
       "b69b479b-5d5d-11f0-bcb5-bc241191c201"},
      {"6", 1209, 133966059211641503ull, 38247618, 0xA00083,
       "C:\\Users\\u0041\\Desktop\\sim\\files\\video\\mp4\\sample_1920x1080.mp4",
       "b69b47a3-5d5d-11f0-bcb5-bc241191c201"}}},
    {"ez-jumplist/Win7/1b4dd67f29cb1962.automaticDestinations-ms",
     {{"1", 411, 130974494043432343ull, 3513, 0x83,
       "C:\\Users\\e\\AppData\\Roaming\\Microsoft\\Windows\\Libraries\\Documents.library-ms",
       "ba034b9b-bc96-11e5-b231-00155d016d0b"},
      {"DestList", 960, 0, 0, 0, "", ""},
      {"2", 410, 130974494043588593ull, 3505, 0x83,
       "C:\\Users\\e\\AppData\\Roaming\\Microsoft\\Windows\\Libraries\\Pictures.library-ms",
       "ba034b9c-bc96-11e5-b231-00155d016d0b"},
      {"3", 407, 130974494043744843ull, 3470, 0x83,
       "C:\\Users\\e\\AppData\\Roaming\\Microsoft\\Windows\\Libraries\\Music.library-ms",
       "ba034b9d-bc96-11e5-b231-00155d016d0b"},
      {"4", 408, 130974494043588593ull, 3483, 0x83,
       "C:\\Users\\e\\AppData\\Roaming\\Microsoft\\Windows\\Libraries\\Videos.library-ms",
       "ba034b9e-bc96-11e5-b231-00155d016d0b"}}},
};

TEST(LnkKnownValues, SampleJumpListStreamsAsLibolecfAndLiblnkReadThem) {
  const auto dir = samples_dir();
  if (dir.empty()) GTEST_SKIP() << "sample folder absent: no real jump lists to read";
  for (const known_jumplist& k : k_jumplists) {
    SCOPED_TRACE(k.relpath);
    const bytes_t image = read_whole(dir / k.relpath);
    compound_file_reader r;
    ASSERT_TRUE(parse_compound_image(&r, image.data(), image.size()));
    size_t streams = 0;
    for (const auto& [name, entry] : r.m_entries) streams += entry.object_type() == 2;
    EXPECT_EQ(streams, k.streams.size());
    for (const known_stream& s : k.streams) {
      SCOPED_TRACE(s.name);
      std::vector<uint8_t> bytes;
      uint32_t entry_num = 0;
      uint64_t offset = 0;
      // Entries are keyed by their lower-case names.
      std::string key = s.name;
      for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      ASSERT_TRUE(read_stream(r, bytes, entry_num, offset, key, image.data(), image.size()));
      EXPECT_EQ(bytes.size(), s.size);
      if (s.written == 0) continue;
      lnk_record rec;
      ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                            vesk_test::test_scratch(), false, 0));
      EXPECT_EQ(rec.m_lnk_size, s.size);
      EXPECT_EQ(rec.m_header.m_write_time, s.written);
      EXPECT_EQ(rec.m_header.m_file_size, s.file_size);
      EXPECT_EQ(rec.m_header.m_lnk_flags, s.flags);
      EXPECT_EQ(rec.m_local_base_path + rec.m_common_path_suffix, s.local_path);
      EXPECT_EQ(rec.m_object_droid, s.object_droid);
    }
  }
}

TEST(LnkRecordStore, OnlyBreakoutSegmentsKeptOfTheShellItems) {
  const lnk_bytes_t link = full_written_link();
  temp_tree tree;
  tree.file("a.lnk", std::string(link.begin(), link.end()));
  for (bool idltimes : {false, true}) {
    vesk_options options;
    options.m_idlist_times = idltimes;
    options.m_status_messages = 0;
    options.m_source_path = tree.path("a.lnk");
    std::ostringstream out;
    ASSERT_TRUE(process_jumplist_file(out, options.m_source_path, options));
    ASSERT_EQ(options.m_records.size(), 1u);
    const lnk_record& kept = options.m_records.begin()->second;
    EXPECT_TRUE(kept.m_idlist_items.empty());
    EXPECT_EQ(kept.m_idlist_segments.size(), idltimes ? 2u : 0u);
    EXPECT_TRUE(kept.m_object_droid_bytes.empty() && kept.m_darwin_product.empty() &&
                kept.m_shim_layer.empty());
    // Every text a report prints stays.
    EXPECT_EQ(kept.m_idlist_path.empty(), false);
    EXPECT_EQ(kept.m_object_droid, "846ee3bb-7039-11de-9d20-001d09fa5a1c");
    EXPECT_EQ(kept.m_local_base_path, "C:\\Temp\\");
    EXPECT_EQ(out.str().find("IDList segment") != std::string::npos, idltimes);
  }
}

}  // namespace
}  // namespace vk
