// The extra-data walk and every block kind, the tracker values, the Darwin
// descriptor and the base-85 codecs.
#include "jumplist/extra_data.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "alloc_hook.h"
#include "cfb_writer.h"
#include "default_params.h"
#include "idlist_writer.h"
#include "jumplist/base85.h"
#include "jumplist/lnk_extent.h"
#include "jumplist/lnk_parser.h"
#include "lnk_writer.h"
#include "propstore_writer.h"

namespace vk {
namespace {

// No fault when cause is null; else the extra-data block fault said first
// (a size that runs past the data may follow it).
void expect_first_block_fault(const lnk_record& rec, const char* cause, uint64_t at) {
  if (!cause) {
    EXPECT_TRUE(rec.m_faults.empty()) << rec.m_faults[0].cause;
    return;
  }
  ASSERT_FALSE(rec.m_faults.empty());
  EXPECT_STREQ(rec.m_faults[0].structure, "extra-data block");
  EXPECT_STREQ(rec.m_faults[0].cause, cause);
  EXPECT_EQ(rec.m_faults[0].offset, at);
}

using namespace vesk_test;

// A link with no ID list, LinkInfo or StringData.
constexpr size_t kBlocksAt = lnk_layout::header::size;

lnk_record parse_blocks(const std::vector<lnk_bytes_t>& blocks, bool terminate = true,
                        size_t* size = nullptr) {
  lnk_spec s;
  s.extra_blocks = blocks;
  s.terminate = terminate;
  std::vector<uint8_t> bytes = write_lnk(s);
  if (size) *size = bytes.size();
  lnk_record rec;
  EXPECT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), false, 0x1000));
  return rec;
}

guid_bytes_t guid_of(std::string_view hex) {
  guid_bytes_t g{};
  auto b = from_hex(hex);
  std::copy(b.begin(), b.end(), g.begin());
  return g;
}

TEST(ExtraData, EveryKindAndTheWalk) {
  const guid_bytes_t folder = guid_of("dbb5f6ee5e0d7446a1b3261845eef1b2");
  const auto storage_bytes =
      storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"hello.txt"))});
  std::vector<lnk_bytes_t> blocks = {
      environment_block("%USERPROFILE%\\a", u""),
      console_block(),
      console_fe_block(936),
      special_folder_block(62),
      icon_environment_block("ansi.ico", u"%SystemRoot%\\wide.ico"),
      shim_block(u"WinXPSp3"),
      property_store_block({storage_bytes}),
      storage_bytes,
      known_folder_block(folder),
      vista_idlist_block(idlist({file_entry_item(0x32, 1, 0x5865, 0x3904, 0x20, "vista.txt")})),
      extra_block(0xA000000E, lnk_bytes_t(24, 7)),  // unknown kinds are stepped over
  };
  size_t size = 0;
  lnk_record rec = parse_blocks(blocks, true, &size);
  EXPECT_EQ(rec.m_lnk_size, size);
  std::vector<uint32_t> at;
  size_t pos = kBlocksAt;
  for (const auto& b : blocks) {
    at.push_back(static_cast<uint32_t>(pos));
    pos += b.size();
  }
  EXPECT_EQ(rec.m_environment_offset, at[0]);
  EXPECT_EQ(rec.m_environment_target, "%USERPROFILE%\\a");  // empty UTF-16 field
  EXPECT_EQ(rec.m_console_offset, at[1]);
  EXPECT_EQ(rec.m_console_fe_offset, at[2]);
  EXPECT_EQ(rec.m_code_page, 936u);
  EXPECT_EQ(rec.m_special_folder_offset, at[3]);
  EXPECT_EQ(rec.m_special_folder_id, 62u);
  EXPECT_EQ(rec.m_special_folder_name, "IDLIST_COMMON_FILE_UNICODE");
  EXPECT_EQ(rec.m_icon_environment_offset, at[4]);
  EXPECT_EQ(rec.m_icon_environment, "%SystemRoot%\\wide.ico");
  EXPECT_EQ(rec.m_shim_offset, at[5]);
  EXPECT_EQ(rec.m_shim_layer, "WinXPSp3");
  EXPECT_EQ(rec.m_property_store_offset, at[6]);
  ASSERT_EQ(rec.m_property_values.size(), 1u);
  EXPECT_EQ(rec.m_property_values[0], "hello.txt");
  EXPECT_EQ(rec.m_property_keys.size(), 1u);
  EXPECT_EQ(rec.m_property_storage_offset, at[7]);
  EXPECT_FALSE(rec.m_property_storage_fmtid.empty());
  EXPECT_EQ(rec.m_known_folder_offset, at[8]);
  EXPECT_EQ(rec.m_known_folder_id, "eef6b5db-0d5e-4674-a1b3-261845eef1b2");
  EXPECT_EQ(rec.m_vista_idlist_offset, at[9]);
  EXPECT_NE(rec.m_vista_idlist_path.find("vista.txt"), std::string::npos);

  // The icon path's UTF-16 field when not empty, whatever its characters.
  lnk_bytes_t icon = icon_environment_block("ansi.ico", u"\x4100");
  EXPECT_EQ(parse_blocks({icon}).m_icon_environment, "\xE4\x84\x80");

  // Sizes that are not the kind's: a 200-byte console block is stepped over.
  rec = parse_blocks({console_block(200), console_fe_block(437)});
  EXPECT_EQ(rec.m_console_offset, 0u);
  EXPECT_EQ(rec.m_code_page, 437u);

  // A carriage return is a character of the environment text like any.
  rec = parse_blocks({environment_block("", u"C:\\a\rb"), console_fe_block(437)});
  EXPECT_EQ(rec.m_environment_offset, kBlocksAt);
  EXPECT_EQ(rec.m_environment_target, "C:\\a\rb");
  EXPECT_EQ(rec.m_code_page, 437u);

  // BlockSize is 32 bits: 0x1000C runs past the data, though its low 16
  // bits would fit; the block's own size, 12, lands on the next block, and
  // both are read.
  rec = parse_blocks({extra_block(0xA0000004, u32_data(437), 0x1000C), console_fe_block(850)});
  EXPECT_EQ(rec.m_console_fe_offset, kBlocksAt + 12);
  EXPECT_EQ(rec.m_code_page, 850u);
  EXPECT_EQ(rec.m_lnk_size, kBlocksAt + 28);
  ASSERT_EQ(rec.m_faults.size(), 1u);
  EXPECT_STREQ(rec.m_faults[0].cause, "declared size is not its kind's; read at its kind's size");
  // Its own size landing on no block, the walk stops there.
  rec = parse_blocks({extra_block(0xA0000004, u32_data(437), 0x1000C), lnk_bytes_t(4, 9)});
  EXPECT_EQ(rec.m_console_fe_offset, 0u);
  EXPECT_EQ(rec.m_lnk_size, kBlocksAt);

  // A block ending at the data's end is read.
  rec = parse_blocks({console_fe_block(437)}, false);
  EXPECT_EQ(rec.m_console_fe_offset, kBlocksAt);
  EXPECT_EQ(rec.m_lnk_size, kBlocksAt + 12);

  // 8-bit fields without a NUL stop at their 260 bytes, not in the UTF-16 field.
  lnk_bytes_t full = icon_environment_block(std::string(260, 'x'), u"");
  EXPECT_EQ(parse_blocks({full}).m_icon_environment, std::string(260, 'x'));

  // A property store holding a storage too large for it, and one of 1 to 3
  // bytes left: nothing read outside the block.
  lnk_bytes_t store = property_store_block({storage_bytes});
  store[8] = 0xFF;
  EXPECT_TRUE(parse_blocks({store}).m_property_values.empty());
}

// The walk never steps past a block without a word. Each row writes blocks
// (their sizes and the bytes between them as given), then checks the fault
// kept and that the block after the damage was read or named. Offsets come
// from the bytes written: the blocks start at 76.
TEST(ExtraData, WalkSaysBlocksItSteppedPast) {
  const guid_bytes_t object = written_object_id();
  const guid_bytes_t folder = guid_of("dbb5f6ee5e0d7446a1b3261845eef1b2");
  const lnk_bytes_t tracker = tracker_block("desktop-01", object, object, object, object);
  const lnk_bytes_t store = property_store_block(
      {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"hello.txt"))})});
  const lnk_bytes_t known = known_folder_block(folder);
  auto join = [](std::initializer_list<lnk_bytes_t> parts) {
    lnk_bytes_t out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  auto sized = [](lnk_bytes_t block, uint32_t size) {
    for (size_t i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(size >> (8 * i));
    return block;
  };
  auto cut = [](lnk_bytes_t block, size_t at, size_t count) {
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(at),
                block.begin() + static_cast<std::ptrdiff_t>(at + count));
    return block;
  };
  auto grow = [](lnk_bytes_t block, size_t at, size_t count) {
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(at), count, uint8_t{0});
    return block;
  };
  const lnk_bytes_t terminal(4, 0);
  constexpr const char* kOther = "declared size is not its kind's";
  constexpr const char* kOwn = "declared size is not its kind's; read at its kind's size";
  constexpr const char* kPast = "lies past the terminal block: not read";
  constexpr const char* kStepped = "stepped past: a size before it is wrong; not read";
  constexpr const char* kInTail =
      "lies inside the block before it: bytes of that block are lost; not read";
  struct row {
    const char* label;
    lnk_bytes_t blocks;  // terminal block and any bytes after it included
    const char* cause;   // null: no fault
    size_t at;           // of the fault, from the link's first byte
    bool store_read;     // the property store's value was read
  } rows[] = {
      {"sound", join({tracker, store, known, terminal}), nullptr, 0, true},
      {"sound, zeros after the terminal block", join({tracker, store, terminal, lnk_bytes_t(40)}),
       nullptr, 0, true},
      {"a 96-byte tracker declaring 104", join({sized(tracker, 104), store, terminal}), kOwn, 76,
       true},
      {"a 104-byte tracker", join({sized(grow(tracker, 96, 8), 104), store, terminal}), kOther, 76,
       true},
      {"a tracker declaring 92 before a store", join({sized(tracker, 92), store, terminal}), kOwn,
       76, true},
      {"4 zero bytes inserted in an environment block",
       join({grow(environment_block("%TEMP%\\x", u"%TEMP%\\x"), 400, 4), store, terminal}), kPast,
       76 + 792, false},
      {"8 bytes lost from the tracker", join({cut(tracker, 40, 8), store, terminal}), kStepped,
       76 + 88, false},
      {"a store declaring 8 bytes more before a tracker",
       join({sized(store, static_cast<uint32_t>(store.size() + 8)), tracker, terminal}), kStepped,
       76 + store.size(), true},
      {"a store declaring 8 bytes more before a known folder",
       join({sized(store, static_cast<uint32_t>(store.size() + 8)), known, terminal}), kStepped,
       76 + store.size(), true},
      {"a store declaring 64 bytes more, landing on zeros in an environment block",
       join({sized(store, static_cast<uint32_t>(store.size() + 64)),
             environment_block("%TEMP%\\x", u"%TEMP%\\x"), terminal}),
       kStepped, 76 + store.size(), true},
      {"a block past the terminal block", join({store, terminal, known}), kPast,
       76 + store.size() + 4, true},
      {"8 bytes lost across a special folder's end, the tracker's size with them",
       cut(join({special_folder_block(37), tracker, terminal}), 12, 8),
       "holds no block signature: stepped over by its size", 76 + 16, false},
      {"16 bytes lost inside a tracker before a special folder",
       join({cut(tracker, 40, 16), special_folder_block(37), store, terminal}), kInTail, 76 + 80,
       true},
      {"16 bytes lost inside an environment block before a special folder",
       join({cut(environment_block("%TEMP%\\x", u"%TEMP%\\x"), 400, 16), special_folder_block(37),
             store, terminal}),
       kInTail, 76 + 772, true},
      {"28 bytes lost inside a console block before a known folder",
       join({cut(console_block(), 100, 28), known, store, terminal}), kInTail, 76 + 176, true},
      {"a known folder's size zeroed before a store", join({sized(known, 0), store, terminal}),
       kOwn, 76, true},
      {"a store's size zeroed", join({known, sized(store, 0), terminal}),
       "declared size below the block's header; read as the terminal block", 76 + 28, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    lnk_spec spec;
    spec.terminate = false;
    spec.trailing = r.blocks;
    const std::vector<uint8_t> bytes = write_lnk(spec);
    lnk_record rec;
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    expect_first_block_fault(rec, r.cause, r.at);
    EXPECT_EQ(!rec.m_property_values.empty() && rec.m_property_values[0] == "hello.txt",
              r.store_read);
  }
}

// A block whose signature was changed to another kind's: bytes that fail
// that kind's own walk are said and none of them shown. Offsets from the
// bytes written: the block starts at 76, its body at 84.
TEST(ExtraData, BytesNotOfTheirSignaturesKindAreSaid) {
  namespace S = lnk_layout::signature;
  const auto as = [](lnk_bytes_t block, uint32_t signature) {
    put_le32(block, lnk_layout::block::signature, signature);
    return block;
  };
  const lnk_bytes_t environment = environment_block("%TEMP%\\x", u"%TEMP%\\x");
  const std::string kNot =
      "extra-data block 76: bytes are not those of the kind its signature "
      "names; not read";
  const std::string kPast = "property storage 84: declared size runs past its block";
  lnk_bytes_t empty_storage = storage(storage_fmtid_b725(), {});
  empty_storage.resize(empty_storage.size() + 4);  // the store's terminator
  const struct {
    const char* what;
    lnk_bytes_t block;
    std::string said;  // the first fault: structure, offset, cause
  } rows[] = {
      {"a store of one empty storage, as Windows writes",
       extra_block(S::property_store, empty_storage), ""},
      {"known folder as a store",
       as(known_folder_block(guid_of("dbb5f6ee5e0d7446a1b3261845eef1b2")), S::property_store),
       kPast},
      {"special folder as a store", as(special_folder_block(37), S::property_store), kPast},
      {"console code page as a store", as(console_fe_block(1252), S::property_store), kPast},
      {"environment as a shim", as(environment, S::shim), kNot},
      {"Darwin as a shim",
       as(darwin_block("", u"w_?=5}!!!!!!!!!!!!!!F>!!!!!!!!!!!!!!!!!!!!"), S::shim), kNot},
      {"96 bytes of zeros as a tracker", extra_block(S::tracker, lnk_bytes_t(88, 0)), kNot},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const lnk_record rec = parse_blocks({r.block});
    EXPECT_EQ(std::string(rec.m_known_folder_id) + rec.m_shim_layer + rec.m_machine_id +
                  rec.m_environment_target,
              "");
    EXPECT_EQ(rec.m_special_folder_id + rec.m_code_page + rec.m_property_values.size(), 0u);
    const parse_fault* f = rec.m_faults.empty() ? nullptr : &rec.m_faults[0];
    EXPECT_EQ(
        f ? std::string(f->structure) + " " + std::to_string(f->offset) + ": " + f->cause : "",
        r.said);
  }
}

// A StringData count grown or bytes lost inside a text make the text eat the
// blocks after it; a count grown before the last text misframes the texts
// after it. A text that holds a block header from which blocks follow one
// another to the terminal block says so; a block whose size was zeroed is read
// by its kind's size, in the parse and in the extent a scanner hands it.
TEST(ExtraData, TextsThatEatBlocksAreSaid) {
  const guid_bytes_t object = written_object_id();
  const lnk_bytes_t folder = special_folder_block(37, 0x40);
  const lnk_bytes_t store = property_store_block(
      {storage(storage_fmtid_b725(), {int_value(10, 0x1F, lpwstr_data(u"hello.txt"))})});
  constexpr const char* kInText =
      "lies inside a StringData text: a count or text before it is wrong; not read";
  constexpr const char* kOwn = "declared size is not its kind's; read at its kind's size";
  struct row {
    const char* label;
    bool unicode;
    std::array<int64_t, 2> counts;  // relative path, working directory; -1: the real one
    size_t lost;                    // bytes lost inside the working directory, 10 before the folder
    bool folder_zeroed;             // the special folder's size written as 0
    const char* cause;              // null: no fault
    ptrdiff_t at;                   // of the fault, from the special folder's offset
    uint32_t folder_id;             // as read
    const char* machine;            // the tracker's machine id as read
  } rows[] = {
      {"sound", true, {-1, -1}, 0, false, nullptr, 0, 37, "desktop-01"},
      {"sound, 8-bit", false, {-1, -1}, 0, false, nullptr, 0, 37, "desktop-01"},
      {"directory count +8", true, {-1, 15}, 0, false, kInText, 0, 0, "desktop-01"},
      {"directory count +16, 8-bit", false, {-1, 23}, 0, false, kInText, 0, 0, "desktop-01"},
      {"directory count +4: a header eaten", true, {-1, 11}, 0, false, kInText, 0, 0, ""},
      {"8 bytes lost in the directory", true, {-1, -1}, 8, false, kInText, -8, 0, ""},
      {"path count +2: directory misframed", true, {15, -1}, 0, false, kInText, 0, 0, ""},
      {"folder's size zeroed", true, {-1, -1}, 0, true, kOwn, 0, 37, "desktop-01"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.label);
    lnk_spec spec;
    spec.unicode = r.unicode;
    spec.strings[lnk_relative_path] = u"..\\docs\\a.txt";  // 13 characters
    spec.strings[lnk_working_dir] = u"C:\\docs";           // 7
    spec.string_counts[lnk_relative_path] = r.counts[0];
    spec.string_counts[lnk_working_dir] = r.counts[1];
    lnk_bytes_t zeroed = folder;
    if (r.folder_zeroed) zeroed[0] = 0;
    spec.extra_blocks = {zeroed, tracker_block("desktop-01", object, object, object, object),
                         store};
    std::vector<uint8_t> bytes = write_lnk(spec);
    // The special folder follows the header and the two texts.
    const size_t folder_at = 76 + 2 + 13 * (r.unicode ? 2 : 1) + 2 + 7 * (r.unicode ? 2 : 1);
    ASSERT_EQ(bytes[folder_at + 4], 0x05);
    if (r.lost) {
      const auto from = bytes.begin() + static_cast<ptrdiff_t>(folder_at - 10);
      bytes.erase(from, from + static_cast<ptrdiff_t>(r.lost));
    }
    const lnk_extent extent = declared_lnk_extent(byte_view(bytes.data(), bytes.size()), 1 << 20);
    if (!r.cause || r.folder_zeroed) {
      EXPECT_EQ(extent.how, lnk_extent::end::terminal);
      EXPECT_EQ(extent.size, bytes.size());
    }
    lnk_record rec;
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    expect_first_block_fault(rec, r.cause, folder_at + r.at);
    EXPECT_EQ(rec.m_special_folder_id, r.folder_id);
    EXPECT_EQ(rec.m_machine_id, r.machine);
  }
}

TEST(ExtraData, TrackerValues) {
  const guid_bytes_t object = guid_of("bbe36e843970de119d20001d09fa5a1c");
  const guid_bytes_t volume = guid_of("00112233445566778899aabbccddeeff");
  const guid_bytes_t v4 = guid_of("bbe36e843970de419d20001d09fa5a1c");
  const guid_bytes_t zero{};
  lnk_record rec = parse_blocks({tracker_block("desktop-01", volume, object, zero, v4)});
  EXPECT_EQ(rec.m_tracker_offset, kBlocksAt);
  EXPECT_EQ(rec.m_machine_id, "desktop-01");
  EXPECT_EQ(rec.m_object_droid, "846ee3bb-7039-11de-9d20-001d09fa5a1c");
  EXPECT_EQ(rec.m_volume_droid, "33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_EQ(rec.m_mac_address, "00:1d:09:fa:5a:1c");
  EXPECT_EQ(rec.m_object_droid_time, 128920239205000123u);
  EXPECT_EQ(rec.m_birth_volume_droid, "");
  EXPECT_EQ(rec.m_birth_object_droid, "846ee3bb-7039-41de-9d20-001d09fa5a1c");
  EXPECT_EQ(rec.m_birth_object_droid_time, 0u);  // version 4: no time, no address
  EXPECT_EQ(rec.m_birth_mac_address, "");
  EXPECT_EQ(rec.m_object_droid_bytes, lnk_bytes_t(object.begin(), object.end()));

  // A version-4 object droid: its node bytes are random, no address.
  rec = parse_blocks({tracker_block("m", volume, v4, volume, v4)});
  EXPECT_EQ(rec.m_object_droid, "846ee3bb-7039-41de-9d20-001d09fa5a1c");
  EXPECT_EQ(rec.m_mac_address, "");
  EXPECT_EQ(rec.m_object_droid_time, 0u);

  // A zero object droid with a birth droid: only the birth texts.
  rec = parse_blocks({tracker_block(std::string(16, 'm'), zero, zero, volume, object)});
  EXPECT_EQ(rec.m_machine_id, std::string(16, 'm'));
  EXPECT_EQ(rec.m_object_droid, "");
  EXPECT_EQ(rec.m_mac_address, "");
  EXPECT_EQ(rec.m_object_droid_time, 0u);
  EXPECT_EQ(rec.m_birth_object_droid, "846ee3bb-7039-11de-9d20-001d09fa5a1c");
  EXPECT_EQ(rec.m_birth_mac_address, "00:1d:09:fa:5a:1c");
  EXPECT_EQ(rec.m_birth_object_droid_time, 128920239205000123u);
  EXPECT_EQ(rec.m_birth_volume_droid, "33221100-5544-7766-8899-aabbccddeeff");

  // Birth droids alike the droids, then one that differs in its last byte:
  // every birth value follows its own bytes.
  guid_bytes_t near = object;
  near[15] ^= 1;
  for (const guid_bytes_t& birth : {object, near}) {
    rec = parse_blocks({tracker_block("m", volume, object, volume, birth)});
    const bool same = birth == object;
    EXPECT_EQ(rec.m_birth_volume_droid, rec.m_volume_droid);
    EXPECT_EQ(rec.m_birth_object_droid, same ? "846ee3bb-7039-11de-9d20-001d09fa5a1c"
                                             : "846ee3bb-7039-11de-9d20-001d09fa5a1d");
    EXPECT_EQ(rec.m_birth_mac_address, same ? "00:1d:09:fa:5a:1c" : "00:1d:09:fa:5a:1d");
    EXPECT_EQ(rec.m_birth_object_droid_time, 128920239205000123u);
  }
}

// Parsing bytes again into the cleared record takes no heap block, twice.
void expect_reparse_takes_no_heap_block(lnk_record& rec, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                        vesk_test::test_scratch(), false, 0));
  for (int i = 0; i < 2; ++i) {
    clear_lnk_record(rec);
    vesk_test::heap::scope counted;
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
    EXPECT_EQ(counted.allocations(), 0);
  }
}

// The tracker and folder texts live in the record itself and a cleared
// record keeps the room of its texts, which the blocks write into: the same
// link parsed into it again takes no heap block.
TEST(ExtraData, ReparsedLinkTakesNoHeapBlock) {
  const guid_bytes_t object = guid_of("bbe36e843970de119d20001d09fa5a1c");
  const guid_bytes_t volume = guid_of("00112233445566778899aabbccddeeff");
  lnk_spec s;
  s.strings[0] = u"a description longer than a short string";
  s.extra_blocks = {environment_block("", u"%ProgramFiles%\\Vendor\\Application\\app.exe"),
                    tracker_block("desktop-01", volume, object, volume, object),
                    special_folder_block(25), known_folder_block(volume),
                    icon_environment_block("", u"%SystemRoot%\\system32\\shell32.dll")};
  const std::vector<uint8_t> bytes = write_lnk(s);
  lnk_record rec;
  expect_reparse_takes_no_heap_block(rec, bytes);
  EXPECT_EQ(rec.m_environment_target, "%ProgramFiles%\\Vendor\\Application\\app.exe");
  EXPECT_EQ(rec.m_icon_environment, "%SystemRoot%\\system32\\shell32.dll");
  EXPECT_EQ(rec.m_special_folder_name, "CSIDL_COMMON_DESKTOPDIRECTORY");
  EXPECT_EQ(rec.m_known_folder_id, "33221100-5544-7766-8899-aabbccddeeff");
  EXPECT_EQ(rec.m_birth_mac_address, "00:1d:09:fa:5a:1c");
  EXPECT_EQ(rec.m_object_droid_bytes, lnk_bytes_t(object.begin(), object.end()));
}

// A property store's values leave their map nodes, key texts and texts'
// room to the values parsed next, and the record's key and value lists
// leave theirs to the next link: numbers, texts and times, whose texts are
// longer than a short string, parsed again take next to no heap block.
TEST(ExtraData, ReparsedPropertyValuesTakeNoHeapBlock) {
  lnk_spec s;
  const lnk_bytes_t stamp = byte_builder().u64(0x01D0000000000000).take();
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(),
               {int_value(10, 0x13, u32_data(7)), int_value(11, 0x13, u32_data(8)),
                int_value(12, 0x1F, lpwstr_data(u"C:\\Users\\someone\\Documents\\report.docx"))}),
       storage(storage_fmtid_b725(),
               {int_value(14, 0x40, stamp), int_value(4, 0x1F, lpwstr_data(u"Second walk"))})})};
  const std::vector<uint8_t> bytes = write_lnk(s);
  lnk_record rec;
  for (int warm = 0; warm < 4; ++warm) {
    reset_lnk_record(rec, vesk_test::test_scratch().shell);
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
  }
  vesk_test::heap::scope counted;
  for (int i = 0; i < 4; ++i) {
    reset_lnk_record(rec, vesk_test::test_scratch().shell);
    ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(),
                          vesk_test::test_scratch(), false, 0));
  }
  // A room taken may be smaller than its next text: at most 2 a link, where
  // every key and value text once took one each.
  EXPECT_LE(counted.allocations(), 8);
  EXPECT_NE(rec.m_property_store_offset, 0u);
  ASSERT_EQ(rec.m_property_values.size(), 3u);
  EXPECT_EQ(rec.m_property_values[0], "C:\\Users\\someone\\Documents\\report.docx");
  EXPECT_EQ(rec.m_property_values[2], "Second walk");
  EXPECT_EQ(rec.m_property_keys.size(), 3u);
}

// Scratches used in turn each give the same lists, and records parsed with a
// scratch let go before them still clear and parse again: a record owns its
// texts. Time from Python's datetime.
TEST(ExtraData, RecordsOutliveTheirScratch) {
  lnk_spec s;
  s.extra_blocks = {property_store_block(
      {storage(storage_fmtid_b725(),
               {int_value(12, 0x1F, lpwstr_data(u"C:\\Users\\someone\\Documents\\report.docx")),
                int_value(14, 0x40, byte_builder().u64(0x01D0000000000000).take()),
                int_value(4, 0x1F, lpwstr_data(u"Second walk"))})})};
  const std::vector<uint8_t> bytes = write_lnk(s);
  const std::vector<std::string> values = {"C:\\Users\\someone\\Documents\\report.docx",
                                           "2014-11-14 11:41:59.374 [UTC]", "Second walk"};
  std::vector<lnk_record> records(2);
  std::vector<std::string> keys;
  {
    link_scratch first, second;
    for (int i = 0; i < 6; ++i) {
      lnk_record& rec = records[static_cast<size_t>(i % 2)];
      link_scratch& scratch = i % 3 ? second : first;
      reset_lnk_record(rec, scratch.shell);
      ASSERT_TRUE(parse_lnk(rec, bytes.data(), bytes.size(), default_params(), scratch, false, 0));
      EXPECT_EQ(rec.m_property_values, values) << i;
      if (keys.empty()) keys = rec.m_property_keys;
      EXPECT_EQ(rec.m_property_keys, keys) << i;
    }
  }
  ASSERT_EQ(keys.size(), 3u);
  lnk_record copied = records[0];
  for (lnk_record* rec : {&records[0], &records[1], &copied}) {
    clear_lnk_record(*rec);
    EXPECT_TRUE(rec->m_property_values.empty());
    link_scratch third;
    ASSERT_TRUE(parse_lnk(*rec, bytes.data(), bytes.size(), default_params(), third, false, 0));
    EXPECT_EQ(rec->m_property_values, values);
    EXPECT_EQ(rec->m_property_keys, keys);
  }
}

TEST(ExtraData, DarwinDescriptor) {
  std::array<uint32_t, 4> words{1, 2, 3, 4};
  EXPECT_TRUE(darwin_guid_decode(std::string(20, '!'), words));
  EXPECT_EQ(darwin_words_text(words), "00000000-0000-0000-0000-000000000000");
  std::string bad(20, '!');
  bad[7] = '"';
  EXPECT_FALSE(darwin_guid_decode(bad, words));
  bad[7] = static_cast<char>(0xE9);  // above 0x7F: no table look-up
  EXPECT_FALSE(darwin_guid_decode(bad, words));
  EXPECT_FALSE(darwin_guid_decode(std::string(19, '!'), words));

  const std::array<uint32_t, 4> product{0x90110409, 0x6000, 0x11D3, 0xFFFFFFFF};
  const std::array<uint32_t, 4> component{0x12345678, 0x9ABCDEF0, 0, 85};
  std::array<uint32_t, 4> back{};
  ASSERT_TRUE(darwin_guid_decode(darwin_guid_encode(product), back));
  EXPECT_EQ(back, product);

  struct {
    std::string ansi;
    std::u16string wide;
    bool ok;
    std::string product, feature, component;
  } cases[] = {
      // The usual descriptor in the UTF-16 field.
      {"", u"", true, "", "", ""},
      // 21 characters: too short.
      {std::string(21, '!'), u"", false, "", "", ""},
      // 30 characters, '>' at 25: no room for a component.
      {std::string(20, '!') + "Feat>" + "!!!!!", u"", true, "00000000-0000-0000-0000-000000000000",
       "Feat", ""},
      // No delimiter: the product stays.
      {std::string(20, '!') + "Feature", u"", false, "00000000-0000-0000-0000-000000000000", "",
       ""},
      // '<' when there is no '>'.
      {std::string(20, '!') + "Feat<" + std::string(20, '!'), u"", true,
       "00000000-0000-0000-0000-000000000000", "Feat", "00000000-0000-0000-0000-000000000000"},
  };
  const std::string full = darwin_guid_encode(product) + "Office>" + darwin_guid_encode(component);
  cases[0].wide = std::u16string(full.begin(), full.end());
  cases[0].product = darwin_words_text(product);
  cases[0].feature = "Office";
  cases[0].component = darwin_words_text(component);
  for (const auto& c : cases) {
    lnk_record rec = parse_blocks({darwin_block(c.ansi, c.wide)});
    EXPECT_EQ(rec.m_darwin_offset, kBlocksAt);
    EXPECT_EQ(rec.m_darwin_product, c.product) << c.ansi;
    EXPECT_EQ(rec.m_darwin_feature, c.feature) << c.ansi;
    EXPECT_EQ(rec.m_darwin_component, c.component) << c.ansi;
    std::string p, f, k;
    lnk_bytes_t block = darwin_block(c.ansi, c.wide);
    EXPECT_EQ(parse_darwin_descriptor(block.data(), p, f, k), c.ok) << c.ansi;
  }
}

TEST(ExtraData, Ascii85Codec) {
  const std::string text = "Man sure.";
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  EXPECT_EQ(ascii85_encode(bytes, text.size(), false), "9jqo^F*2M7/c");
  EXPECT_EQ(ascii85_encode(bytes, text.size(), true), "<~9jqo^F*2M7/c");
  const uint8_t zeros[8] = {};
  EXPECT_EQ(ascii85_encode(zeros, 8, false), "zz");
  std::ostringstream os;
  ascii85_encode(os, zeros, 5, false);
  EXPECT_EQ(os.str(), "z!!");

  std::mt19937 rng(85);
  for (size_t n : {0, 1, 2, 3, 4, 5, 70, 301}) {
    std::vector<uint8_t> in = random_bytes(n, rng);
    const std::string enc = ascii85_encode(in.data(), in.size(), n % 2);
    for (size_t i = 72; i < enc.size(); i += 73) EXPECT_EQ(enc[i], '\n');
    std::vector<uint8_t> out;
    EXPECT_TRUE(ascii85_decode(enc + "~>", out)) << n;
    EXPECT_EQ(out, in) << n;
  }
  std::vector<uint8_t> out;
  EXPECT_TRUE(ascii85_decode("<~ 9jqo^\nF*2M7/c~>junk", out));
  EXPECT_EQ(std::string(out.begin(), out.end()), text);
  EXPECT_FALSE(ascii85_decode("9jzqo", out));   // 'z' inside a group
  EXPECT_FALSE(ascii85_decode("s8W-\"", out));  // above 32 bits
  EXPECT_FALSE(ascii85_decode("9jqo^F", out));  // a lone last character
  EXPECT_FALSE(ascii85_decode("9jqo{", out));
  std::ostringstream decoded;
  EXPECT_TRUE(ascii85_decode("z", decoded));
  EXPECT_EQ(decoded.str(), std::string(4, '\0'));
}

}  // namespace
}  // namespace vk
