#include "disk/usn_secure.h"

#include <gtest/gtest.h>

#include <sstream>

#include "byte_builder.h"
#include "disk/inode_store.h"
#include "mft_writer.h"

using namespace vk;
using namespace vesk_test;

namespace {

struct usn_fields {
  uint16_t version = 2;
  uint32_t length = 0;  // 0: the fixed part plus the name, rounded to 8
  std::u16string name = u"report.docx";
  uint16_t name_bytes = 0xFFFF;  // 0xFFFF: the name's own size
  uint16_t name_at = 0;          // 0: the version's own offset
  uint64_t file = mft_ref_value(40, 3);
  uint64_t parent = mft_ref_value(5, 5);
  uint32_t reason = 0x80000100;
  uint32_t attributes = 0x20;
};

std::vector<uint8_t> usn_record(const usn_fields& f) {
  byte_builder b;
  const size_t fixed = f.version == 2 ? 60 : f.version == 3 ? 76 : 64;
  b.u32(0).u16(f.version).u16(0);
  if (f.version == 2) {
    b.u64(f.file).u64(f.parent).u64(0x99).u64(0x01D9000000000000ull);
  } else {
    b.u64(f.file).u64(0).u64(f.parent).u64(0).u64(0x99);
    if (f.version == 3) b.u64(0x01D9000000000000ull);
  }
  b.u32(f.reason).u32(0x1);
  if (f.version == 4) {
    b.u32(0).u16(0).u16(0);
  } else {
    b.u32(0x105).u32(f.attributes);
    b.u16(f.name_bytes == 0xFFFF ? static_cast<uint16_t>(2 * f.name.size()) : f.name_bytes);
    b.u16(f.name_at ? f.name_at : static_cast<uint16_t>(fixed));
    b.utf16(f.name);
  }
  const uint32_t length = f.length ? f.length : static_cast<uint32_t>(align8(b.size()));
  b.pad_to(length);
  b.put_u32(0, length);
  return b.take();
}

}  // namespace

TEST(UsnRecords, HeaderAndRecordTestsBoundTheName) {
  const struct {
    usn_fields f;
    bool header;
    bool record;
  } cases[] = {
      {{2, 61, u""}, false, false},
      {{2, 62, u""}, true, true},
      {{3, 77, u""}, false, false},
      {{3, 80, u""}, true, true},
      {{3, 80, u"", 0xFFFF, 60}, true, false},  // version 3 takes its name at 76 only
      {{2, 64, u"", 0xFFF0}, true, false},      // the 16-bit sum would wrap
      {{2, 64, u"", 6}, true, false},           // the name runs past the record
      {{4, 64}, true, true},
      {{4, 63}, false, false},
      {{5, 64}, false, false},
      {{2, 5000}, false, false},
      {{2, 0, u"a", 0xFFFF, 0, 0}, true, false},  // file reference 0: no sequence
  };
  for (const auto& c : cases) {
    const auto r = usn_record(c.f);
    SCOPED_TRACE(std::to_string(c.f.version) + "/" + std::to_string(r.size()));
    EXPECT_EQ(is_valid_usn_header(r.data(), r.size()), c.header);
    const bool valid = c.f.version == 2   ? is_valid_usn_record_v2(r.data(), r.size(), 1000)
                       : c.f.version == 3 ? is_valid_usn_record_v3(r.data(), r.size(), 1000)
                                          : is_valid_usn_record_v4(r.data(), r.size(), 1000);
    EXPECT_EQ(valid, c.record);
    // Fewer bytes than the record's length are never enough.
    EXPECT_FALSE(is_valid_usn_record_v2(r.data(), r.size() - 1, 1000));
  }
  auto r = usn_record({});
  EXPECT_FALSE(is_valid_usn_record_v2(r.data(), r.size(), 40));  // entry count too small

  // A name of 402 bytes (201 units) keeps its first 10.
  usn_entry e;
  r = usn_record({2, 0, std::u16string(201, u'n')});
  ASSERT_TRUE(usn_entry_from_v2(e, r.data(), r.size(), 0x100000002ull));
  EXPECT_EQ(e.m_name, std::wstring(10, L'n'));
  EXPECT_EQ(e.m_position_high, 1u);
  EXPECT_EQ(e.m_position_low, 2u);
  r = usn_record({3, 0, u"v3.txt"});
  ASSERT_TRUE(usn_entry_from_v3(e, r.data(), r.size(), 0));
  EXPECT_EQ(e.m_name, L"v3.txt");
  EXPECT_EQ(e.m_parent_ref, mft_ref_value(5, 5));
  EXPECT_EQ(e.m_major_version, 3);
  r = usn_record({4});
  ASSERT_TRUE(usn_entry_from_v4(e, r.data(), r.size(), 0));
  EXPECT_EQ(e.m_reason, 0x80000100u);
  EXPECT_FALSE(usn_entry_from_v4(e, r.data(), 8, 0));
  EXPECT_EQ(e.m_state, 0);
}

TEST(UsnRecords, BitNamesAndTheirEmptyForms) {
  const struct {
    std::string got, expected;
  } cases[] = {
      {usn_reason_text(0x80000000, false), "file_closed"},
      {usn_reason_text(0x80000100, false), "file_created"},
      {usn_reason_text(0x80000100, true), "file_created; file_closed"},
      {usn_reason_text(0x2003, false), "data_overwritten; data_appended; file_new_name"},
      {usn_reason_text(0x08, false), "unk"},
      {usn_source_text(0), "-"},
      {usn_source_text(5), "os_file_change, update_replicated_file"},
      {file_attribute_caps_text(0), "none set"},
      {file_attribute_caps_text(0x21), "READ_ONLY, ARCHIVE"},
      {file_attribute_caps_text(0x10000010), "DIRECTORY, DIRECTORY"},
      {file_attribute_caps_text(0x8), "unk"},
      {file_attribute_text(0), "unk"},
      {file_attribute_text(0x21), "readonly; archive"},
      {unk_text(), "unk"},
      {empty_text(), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);

  const uint8_t label[32] = {'M', 'Y', ' ', 'D', 'I', 'S', 'K', ' ', 'X', '1', ' ', 0x08};
  uint8_t file[32] = {'R', 'E', 'A', 'D', 'M', 'E', ' ', ' ', 'T', 'X', 'T', 0x20, 0x10};
  EXPECT_EQ(fat_name_text_raw(label), "MY DISK X1");
  EXPECT_EQ(fat_name_text_raw(file), "README.txt");
  file[1] = 0x01;  // kept as stored
  EXPECT_EQ(fat_name_text_raw(file), std::string("R\x01"
                                                 "ADME.txt"));

  std::ostringstream out;
  dump_secure_index_data(out, {0x101, 0xABCD, 0x101, 0x40, 0x78}, 0x100, 10);
  std::istringstream lines(out.str());
  std::string line;
  std::vector<std::string> offsets;
  while (std::getline(lines, line)) offsets.push_back(line.substr(0, 8));
  EXPECT_EQ(offsets,
            (std::vector<std::string>{"0x000100", "0x000104", "0x000108", "0x00010c", "0x000114"}));
  EXPECT_NE(out.str().find("sds_offset : 0x0000000000000040 [64]"), std::string::npos) << out.str();
}

TEST(UsnRecords, EntriesJoinTheInodeStore) {
  usn_entry e;
  const auto first = usn_record(
      {2, 0, u"draft.txt", 0xFFFF, 0, mft_ref_value(40, 3), mft_ref_value(5, 5), 0x100, 0x10});
  ASSERT_TRUE(usn_entry_from_v2(e, first.data(), first.size(), 0));
  inode_record rec;
  inode_from_usn(rec, e);
  EXPECT_EQ(rec.entry_number(), 40u);
  EXPECT_EQ(rec.m_sequence, 3);
  EXPECT_EQ(rec.m_name, "draft.txt");
  EXPECT_EQ(rec.m_flags, mft_flag_in_use | mft_flag_directory);
  EXPECT_EQ(rec.m_si_times.m_times[timestamp_set::k_m], 0x01D9000000000000ull);

  _inode_collection c;
  bool flag = true;
  EXPECT_EQ(c.add_usn_record(e, flag), 0u);
  EXPECT_FALSE(flag);
  EXPECT_EQ(c.add_usn_record(e, flag), 0u);  // the same parent again
  EXPECT_TRUE(flag);
  const auto renamed =
      usn_record({2, 0, u"final.txt", 0xFFFF, 0, mft_ref_value(40, 3), mft_ref_value(9, 1)});
  ASSERT_TRUE(usn_entry_from_v2(e, renamed.data(), renamed.size(), 0));
  EXPECT_EQ(c.add_usn_record(e, flag), 0u);
  EXPECT_FALSE(flag);
  EXPECT_EQ(c.m_store[0].m_second_name, "final.txt");
  EXPECT_EQ(c.m_store[0].m_parents.size(), 2u);
  const auto third = usn_record({2, 0, u"other.txt", 0xFFFF, 0, mft_ref_value(40, 3)});
  ASSERT_TRUE(usn_entry_from_v2(e, third.data(), third.size(), 0));
  EXPECT_EQ(c.add_usn_record(e, flag), uint64_t{1} << 63);
  EXPECT_TRUE(flag);
  // A record of another version field, or one never filled.
  usn_entry blank;
  EXPECT_EQ(c.add_usn_record(blank, flag), c.m_store.size());
  EXPECT_TRUE(flag);
  blank.m_major_version = 2;
  EXPECT_EQ(c.add_usn_record(blank, flag), ~uint64_t{0});
  EXPECT_EQ(c.m_directories.size(), 1u);
}
