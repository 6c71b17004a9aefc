#include "disk/mft_record.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "byte_builder.h"
#include "mft_writer.h"
#include "temp_tree.h"

using namespace vk;
using namespace vesk_test;

namespace {

// A medium holding the given bytes, read through a file.
struct image_disk {
  temp_tree tree;
  std::unique_ptr<RAW_DISK_IO> disk;
  explicit image_disk(const std::vector<uint8_t>& bytes) {
    std::ofstream(tree.path("img"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    disk = std::make_unique<RAW_DISK_IO>(tree.path("img"), false, uint8_t{0}, disk_mode_path);
  }
};

bool parse(inode_record& rec, std::vector<uint8_t> raw, RAW_DISK_IO* disk, uint32_t options = 0,
           const ntfs_volume_map* volume = nullptr) {
  inode_record_reset(rec);
  rec.m_options = options;
  return parse_file_record(rec, raw.data(), raw.size(), disk, 0, 1024, false, volume);
}

std::vector<uint8_t> runs_attr(const std::vector<uint8_t>& runs) {
  return nonresident_attr(0x80, runs, 0, 0, 0);
}

}  // namespace

TEST(MftRecord, HeaderLayoutAndAttributeRules) {
  struct {
    uint16_t count;
    size_t size;
    uint16_t expected;
  } counts[] = {{0, 1024, 0},    {1, 1024, 0},    {2, 1024, 512},
                {3, 1024, 1024}, {9, 4096, 4096}, {10, 8192, 0}};
  for (const auto& c : counts) {
    const auto r = file_record(1, 1, 1, 0, {}, c.size, c.count, 72);
    EXPECT_EQ(file_record_size(r.data(), r.size()), c.expected) << c.count;
    // Any count is a record's; only 2 to 9 size a table.
    EXPECT_TRUE(is_mft_file_record(r.data(), r.size())) << c.count;
  }
  EXPECT_TRUE(is_mft_file_record(file_record(1, 1, 1, 0, {}, 1024, 3, 72).data(), 1024));
  EXPECT_FALSE(is_mft_file_record(file_record(1, 1, 1, 0, {}, 1024, 3, 73).data(), 1024));
  EXPECT_FALSE(is_mft_file_record(file_record(1, 1, 1, 0, {}).data(), 20));

  image_disk img(std::vector<uint8_t>(8192));
  ASSERT_TRUE(img.disk->is_open());
  inode_record rec;
  // A DOS name adds its parent and nothing else; a 48-byte standard
  // information carries no update sequence number.
  const auto dos = file_record(
      40, 3, 3, 0,
      {resident_attr(0x10, std_info_value(11, 12, 13, 14, 0x20, 48)),
       resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"LongName.txt", 1, 100, 4096, 10)),
       resident_attr(0x30, file_name_value(mft_ref_value(7, 1), u"LONGNA~1.TXT", 2, 900, 1, 1))});
  ASSERT_TRUE(parse(rec, dos, img.disk.get()));
  EXPECT_EQ(rec.m_name, "LongName.txt");
  EXPECT_EQ(rec.m_parents.size(), 2u);
  EXPECT_EQ(rec.m_fn_times.m_times[timestamp_set::k_m], 101u);
  EXPECT_EQ(rec.m_allocated_size, 4096u);
  EXPECT_EQ(rec.m_si_times.m_times[timestamp_set::k_b], 11u);
  EXPECT_EQ(rec.m_si_times.m_times[timestamp_set::k_a], 14u);
  EXPECT_EQ(rec.m_file_attributes, 0x20u);
  EXPECT_EQ(rec.m_usn, 0u);
  EXPECT_EQ(rec.entry_number(), 40u);
  EXPECT_EQ(rec.m_sequence, 3);
  EXPECT_TRUE(rec.m_directory && rec.m_in_use && rec.m_base_record);

  const auto full = file_record(41, 1, 1, mft_ref_value(40, 3),
                                {resident_attr(0x10, std_info_value(1, 2, 3, 4, 0, 72, 77))});
  ASSERT_TRUE(parse(rec, full, img.disk.get()));  // an extension record: its base is related
  EXPECT_EQ(rec.m_usn, 77u);
  EXPECT_FALSE(rec.m_base_record);
  EXPECT_TRUE(rec.m_parents.empty());
  ASSERT_EQ(rec.m_related.size(), 1u);
  EXPECT_EQ(rec.m_related.begin()->entry_number(), 40u);

  // Values, names and run lists must lie inside their attribute; a short
  // $FILE_NAME or $STANDARD_INFORMATION is passed over.
  auto name_past = resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"abc"));
  name_past[24 + 64] = 40;  // 40 characters in a value of 72 bytes
  auto value_past = resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"abc"));
  value_past[16] = 0xF8;  // value length past the attribute
  auto short_si = resident_attr(0x10, std_info_value(1, 2, 3, 4, 5, 40));
  EXPECT_FALSE(parse(rec, file_record(42, 1, 1, 0, {name_past, value_past}), img.disk.get()));
  ASSERT_TRUE(parse(
      rec, file_record(42, 1, 1, 0, {short_si, resident_attr(0x30, file_name_value(5, u"x"))}),
      img.disk.get()));
  EXPECT_EQ(rec.m_si_times.m_times[timestamp_set::k_m], 0u);
  // A length that is not a multiple of 8, or below the header, ends the walk.
  auto odd = resident_attr(0x80, {1, 2, 3});
  odd[4] = 33;
  EXPECT_FALSE(parse(rec,
                     file_record(43, 1, 1, 0, {odd, resident_attr(0x30, file_name_value(5, u"x"))}),
                     img.disk.get()));

  // Resident streams by option bits.
  const auto streams = file_record(
      44, 1, 1, 0,
      {resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"f")),
       resident_attr(0x80, {1, 2, 3}), resident_attr(0x80, {'Z', 'I'}, u"Zone.Identifier"),
       resident_attr(0x80, {9}, u"Extra")});
  inode_record_reset(rec);
  rec.m_options = 0x3E;
  rec.m_stream_name = "extra";
  auto raw = streams;
  ASSERT_TRUE(parse_file_record(rec, raw.data(), raw.size(), img.disk.get(), 0, 1024, false));
  EXPECT_EQ(rec.m_resident_data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(rec.m_zone_identifier, (std::vector<uint8_t>{'Z', 'I'}));
  EXPECT_EQ(rec.m_named_stream, (std::vector<uint8_t>{9}));
  EXPECT_EQ(rec.m_real_size, 3u);

  std::string name;
  mft_ref parent;
  const uint8_t* data = nullptr;
  uint32_t data_length = 0;
  si_copy si;
  raw = dos;
  EXPECT_FALSE(read_resident_file_summary(name, parent, data, data_length, si, raw.data(),
                                          raw.size(), true));
  EXPECT_EQ(name, "LongName.txt");
  EXPECT_EQ(si[0], 11);
  raw = streams;
  EXPECT_TRUE(read_resident_file_summary(name, parent, data, data_length, si, raw.data(),
                                         raw.size(), true));
  EXPECT_EQ(data_length, 3u);
  EXPECT_EQ(data[2], 3);
  EXPECT_EQ(parent.entry_number(), 5u);
}

TEST(MftRecord, RunListsDecodeSignedDeltasAndSparseRuns) {
  struct run {
    uint64_t lcn;
    uint32_t count;
    uint8_t flags;
  };
  const std::vector<uint8_t> ff7f = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  auto eight = [&](std::vector<uint8_t> head) {
    head.insert(head.end(), ff7f.begin(), ff7f.end());
    return head;
  };
  std::vector<uint8_t> overflow;
  for (int i = 0; i < 3; ++i) {
    const auto r = eight({0x81, 0x01});
    overflow.insert(overflow.end(), r.begin(), r.end());
  }
  // why: the mark a record takes for a list not decoded whole.
  const struct {
    std::vector<uint8_t> bytes;
    bool ok;
    std::vector<run> runs;
    uint32_t why;
  } cases[] = {
      {{0x21, 0x10, 0x00, 0x01, 0x11, 0x05, 0xF0},
       true,
       {{0x100, 16, 0}, {0xF0, 5, data_run_negative}},
       0},
      {{0x11, 0x04, 0x20, 0x01, 0x30, 0x11, 0x02, 0x10},
       true,
       {{0x20, 4, 0}, {0, 0x30, data_run_sparse}, {0x30, 2, 0}},
       0},
      {eight({0x81, 0x02}), true, {{0x7FFFFFFFFFFFFFFF, 2, 0}}, 0},
      {{0x10, 0x05}, false, {}, mft_unread_runs_cut},                             // no length field
      {{0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false, {}, mft_unread_runs_cut},  // a 9-byte offset
      {{0x11, 0x00, 0x05}, false, {}, mft_unread_runs_cut},                       // zero count
      {{0x11, 0x01, 0xFF}, false, {}, mft_unread_runs_cut},                       // below cluster 0
      {{0x15, 1, 0, 0, 0, 1, 5}, false, {}, mft_unread_too_long},  // count past 32 bits
      {overflow,
       false,
       {{0x7FFFFFFFFFFFFFFF, 1, 0}, {0xFFFFFFFFFFFFFFFE, 1, 0}},
       mft_unread_runs_cut},
      // The second header (0x09) names a 9-byte length; the third's fields
      // pass the attribute's end.
      {{0x11, 0x04, 0x20, 0x09, 1, 2}, false, {{0x20, 4, 0}}, mft_unread_runs_cut},
      {{0x11, 0x04, 0x20, 0x44, 1, 2, 3}, false, {{0x20, 4, 0}}, mft_unread_runs_cut},
  };
  for (const auto& c : cases) {
    const auto attr = runs_attr(c.bytes);
    std::vector<data_run> runs;
    uint32_t why = 0;
    EXPECT_EQ(decode_data_runs(attr.data(), attr.size(), runs, &why), c.ok);
    EXPECT_EQ(why, c.why);
    ASSERT_EQ(runs.size(), c.runs.size());
    uint64_t vcn = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].m_cluster, c.runs[i].lcn) << i;
      EXPECT_EQ(runs[i].m_count, c.runs[i].count) << i;
      EXPECT_EQ(runs[i].m_negative, c.runs[i].flags) << i;
      EXPECT_EQ(runs[i].m_vcn, vcn);
      vcn += runs[i].m_count;
    }
  }
  // Sparse runs stay sparse in a cluster run list.
  const auto attr = runs_attr({0x11, 0x04, 0x20, 0x01, 0x30});
  std::vector<data_run> runs;
  ASSERT_TRUE(decode_data_runs(attr.data(), attr.size(), runs));
  cluster_runs list;
  ASSERT_TRUE(cluster_runs_from_file_runs(list, runs, 0, 4096));
  ASSERT_EQ(list.m_runs.size(), 2u);
  EXPECT_FALSE(list.m_runs[0].sparse());
  EXPECT_TRUE(list.m_runs[1].sparse());
  EXPECT_EQ(list.m_runs[1].count(), 0x30u);
  EXPECT_FALSE(decode_data_runs(attr.data(), 40, runs));  // shorter than a non-resident header
}

TEST(MftRecord, AttributeListsMergeEachExtensionOnce) {
  std::vector<uint8_t> image;
  auto list = [](std::vector<std::vector<uint8_t>> entries) {
    std::vector<uint8_t> v;
    for (const auto& e : entries) v.insert(v.end(), e.begin(), e.end());
    return resident_attr(0x20, v);
  };
  const auto fn5 = resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"base"));
  place_record(image, 30,
               file_record(30, 1, 1, 0,
                           {fn5, list({attr_list_entry(0x80, mft_ref_value(30, 1)),
                                       attr_list_entry(0x80, mft_ref_value(31, 1)),
                                       attr_list_entry(0x80, mft_ref_value(31, 1)),
                                       attr_list_entry(0x30, mft_ref_value(32, 1))})}));
  place_record(image, 31,
               file_record(31, 1, 1, mft_ref_value(30, 1), {runs_attr({0x11, 0x04, 0x10})}));
  place_record(image, 32,
               file_record(32, 1, 1, mft_ref_value(30, 1),
                           {resident_attr(0x30, file_name_value(mft_ref_value(9, 1), u"other"))}));
  // 33 is reached from 30's second list below and names 30 again.
  place_record(image, 33,
               file_record(33, 1, 1, mft_ref_value(30, 1),
                           {runs_attr({0x11, 0x02, 0x30}),
                            list({attr_list_entry(0x80, mft_ref_value(30, 1))})}));
  // Lists in records whose base reference is 0 that name each other.
  place_record(image, 50,
               file_record(50, 1, 1, 0,
                           {fn5, list({attr_list_entry(0x80, mft_ref_value(50, 1)),
                                       attr_list_entry(0x80, mft_ref_value(51, 1))})}));
  place_record(image, 51,
               file_record(51, 1, 1, 0,
                           {runs_attr({0x11, 0x01, 0x40}),
                            list({attr_list_entry(0x80, mft_ref_value(51, 1)),
                                  attr_list_entry(0x80, mft_ref_value(50, 1))})}));
  // A non-resident list at cluster 20 (4096-byte clusters of a volume that
  // begins with the table).
  place_record(
      image, 60,
      file_record(60, 1, 1, 0, {fn5, nonresident_attr(0x20, {0x11, 0x01, 0x14}, 4096, 64, 64)}));
  // The same list in a record that names nothing else.
  place_record(
      image, 61,
      file_record(61, 1, 1, 0, {nonresident_attr(0x20, {0x11, 0x01, 0x14}, 4096, 64, 64)}));
  image.resize(21 * 4096);
  auto entries = attr_list_entry(0x80, mft_ref_value(31, 1));
  const auto second = attr_list_entry(0x30, mft_ref_value(32, 1));
  entries.insert(entries.end(), second.begin(), second.end());
  std::copy(entries.begin(), entries.end(), image.begin() + 20 * 4096);
  image_disk img(image);
  ntfs_volume_map volume;
  volume.m_disk = img.disk.get();
  volume.m_cluster_size = 4096;
  volume.m_record_size = 1024;
  data_run table;
  table.m_count = 21;
  volume.m_mft_runs = {table};

  const struct {
    uint32_t entry;
    bool with_volume;
    size_t data_runs;
    std::vector<uint64_t> related;
    size_t parents;
    uint32_t unread;
  } cases[] = {
      {30, false, 1, {31, 32}, 2, 0},
      {50, false, 1, {51}, 1, 0},
      {60, true, 1, {31, 32}, 2, 0},
      // Without the volume the list has no place: nothing is merged, and
      // the record says so.
      {60, false, 0, {}, 1, mft_unread_list_no_volume},
      // ... and a record that has nothing else is still kept.
      {61, false, 0, {}, 0, mft_unread_list_no_volume},
      {61, true, 1, {31, 32}, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.entry) + (c.with_volume ? " with volume" : ""));
    inode_record rec;
    ASSERT_TRUE(parse(
        rec,
        std::vector<uint8_t>(image.begin() + c.entry * 1024, image.begin() + (c.entry + 1) * 1024),
        img.disk.get(), mft_keep_data_runs, c.with_volume ? &volume : nullptr));
    EXPECT_EQ(rec.m_data_runs.size(), c.data_runs);
    std::vector<uint64_t> related;
    for (const auto& r : rec.m_related) related.push_back(r.entry_number());
    EXPECT_EQ(related, c.related);
    EXPECT_EQ(rec.m_parents.size(), c.parents);
    EXPECT_EQ(rec.m_unread, c.unread);
  }
  // A list naming only the base record reads nothing more.
  const auto self =
      file_record(34, 1, 1, 0, {fn5, list({attr_list_entry(0x80, mft_ref_value(34, 1))})});
  inode_record rec;
  ASSERT_TRUE(parse(rec, self, img.disk.get(), mft_keep_data_runs));
  EXPECT_TRUE(rec.m_related.empty());
  // An extension reached from 33's own list is not followed from there.
  auto ext = std::vector<uint8_t>(image.begin() + 33 * 1024, image.begin() + 34 * 1024);
  ASSERT_TRUE(parse(rec, ext, img.disk.get(), mft_keep_data_runs));
  EXPECT_EQ(rec.m_data_runs.size(), 1u);
  // An entry that runs past the list ends it.
  auto bad = attr_list_entry(0x80, mft_ref_value(31, 1), 40);
  EXPECT_FALSE(is_valid_attr_list_entry(bad.data(), 32));
  EXPECT_TRUE(is_valid_attr_list_entry(bad.data(), 40));
}

TEST(MftRecord, FixupsRestoreSectorEndsOfEveryKind) {
  auto indx = [](uint16_t count, const char* sig, size_t size = 4096) {
    byte_builder b;
    b.ascii(sig).u16(40).u16(count).pad_to(size);
    std::vector<uint8_t> r = b.take();
    for (size_t i = 0; i < count && 40 + 2 * i + 1 < size; ++i) {
      r[40 + 2 * i] = static_cast<uint8_t>(0x10 + i);
      r[41 + 2 * i] = 0xAB;
    }
    for (size_t s = 1; s * 512 <= size; ++s) {
      r[s * 512 - 2] = 0x10;
      r[s * 512 - 1] = 0xAB;
    }
    return r;
  };
  uint32_t kind = 99;
  auto r = indx(9, "INDX");
  ASSERT_TRUE(apply_fixups(kind, r.data(), r.size(), 512));
  EXPECT_EQ(kind, fixup_indx);
  for (size_t s = 1; s <= 8; ++s) {
    EXPECT_EQ(r[s * 512 - 2], 0x10 + s) << s;
    EXPECT_EQ(r[s * 512 - 1], 0xAB) << s;
  }
  const auto untouched = indx(1, "INDX");
  r = untouched;
  EXPECT_TRUE(apply_fixups(kind, r.data(), r.size(), 512));
  EXPECT_EQ(r, untouched);
  r = indx(11, "BAAD");
  EXPECT_FALSE(apply_fixups(kind, r.data(), r.size(), 512));
  r = indx(9, "BAAD");
  EXPECT_TRUE(apply_fixups(kind, r.data(), r.size(), 512));
  EXPECT_EQ(kind, fixup_baad);
  for (uint32_t stride : {0u, 1u, 100u, 300u, 511u}) {
    r = indx(9, "INDX");
    const auto before = r;
    EXPECT_FALSE(apply_fixups(kind, r.data(), r.size(), stride)) << stride;
    EXPECT_EQ(r, before);
  }
  r = indx(9, "INDX");
  r[4] = 0xFA;  // array at 4090: past the record
  r[5] = 0x0F;
  EXPECT_FALSE(apply_fixups(kind, r.data(), r.size(), 512));
  r = indx(9, "INDX", 2048);  // eight strides do not fit
  EXPECT_FALSE(apply_fixups(kind, r.data(), r.size(), 512));
  r = indx(3, "XXXX");
  EXPECT_FALSE(apply_fixups(kind, r.data(), r.size(), 512));
  EXPECT_EQ(kind, fixup_none);
  EXPECT_FALSE(apply_fixups(kind, r.data(), 1000, 512));

  const auto file = file_record(3, 1, 1, 0, {}, 1024, 3);
  r = file;
  ASSERT_TRUE(apply_fixups(kind, r.data(), r.size(), 512));
  EXPECT_EQ(kind, fixup_file);
  EXPECT_EQ(r[510], 0);
  EXPECT_EQ(r[1022], 0);
}

TEST(MftRecord, HostileRecordsStayInsideTheirBytes) {
  image_disk img(std::vector<uint8_t>(64 * 1024));
  inode_record rec;
  const auto good =
      file_record(70, 2, 3, 0,
                  {resident_attr(0x10, std_info_value(1, 2, 3, 4, 5)),
                   resident_attr(0x20, attr_list_entry(0x80, mft_ref_value(3, 1))),
                   resident_attr(0x30, file_name_value(mft_ref_value(5, 5), u"victim")),
                   runs_attr({0x21, 0x10, 0x00, 0x01, 0x11, 0x05, 0xF0}),
                   nonresident_attr(0xA0, {0x11, 0x01, 0x02}, 4096, 4096, 4096, 0, u"$I30")});
  ASSERT_TRUE(parse(rec, good, img.disk.get(), 0x7F));
  // Counts that make no record size are read with the table's, and
  // marked; a record size of 0 is refused.
  for (uint16_t count : {0, 1, 10}) {
    auto bad = good;
    bad[6] = static_cast<uint8_t>(count);
    EXPECT_TRUE(parse(rec, bad, img.disk.get())) << count;
    EXPECT_EQ(rec.m_unread & (mft_unread_usa_count | mft_unread_usa_short),
              count == 10 ? uint32_t{mft_unread_usa_count} : uint32_t{mft_unread_usa_short})
        << count;
  }
  auto raw = good;
  EXPECT_FALSE(parse_file_record(rec, raw.data(), raw.size(), img.disk.get(), 0, 0, false));
  EXPECT_FALSE(parse_file_record(rec, raw.data(), 512, img.disk.get(), 0, 1024, false));

  // An $INDEX_ROOT whose entry has length 0 ends the step.
  byte_builder root;
  root.u32(0x30).u32(1).u32(4096).u32(1).u32(16).u32(96).u32(96).u32(0);
  root.u64(0).u16(0).u16(0).u32(0).pad_to(128);
  std::ostringstream out;
  EXPECT_EQ(dump_index_root(out, root.data().data(), root.size(), false), 0u);
  EXPECT_EQ(out.str(), "---- (root) data ----\n---- (dir entry) data ----\n");
  for (size_t at = 40; at < 128; at += 16) root.put_u16(at, 16);
  EXPECT_EQ(dump_index_root(out, root.data().data(), root.size(), true), 5u);
  EXPECT_EQ(dump_index_root(out, root.data().data(), 64, true), 0u);

  // Random mutations: nothing read or written outside the record, nothing
  // unbounded.
  std::mt19937 rng(30);
  for (int i = 0; i < 20000; ++i) {
    auto m = mutate(good, rng, 1 + i % 16);
    inode_record r;
    r.m_options = 0x7F;
    auto exact = std::make_unique<uint8_t[]>(m.size());
    std::copy(m.begin(), m.end(), exact.get());
    parse_file_record(r, exact.get(), m.size(), img.disk.get(), 0, 1024, false);
    ASSERT_LE(r.m_data_runs.size() + r.m_index_runs.size(), 1024u);
    ASSERT_LE(r.m_name.size(), 1024u);
  }
}
